#include "platform/dshow/pages/PageModel.h"

#include <algorithm>

namespace kestrom::dshow::pages {

using namespace com;

void PageModel::Add(PageField field) {
  field.value = Clamp(field, field.value);
  field.applied = field.value;
  fields_.push_back(std::move(field));
}

const PageField* PageModel::Find(const QString& name) const {
  const auto it = std::find_if(fields_.begin(), fields_.end(), [&](const PageField& f) { return f.name == name; });
  return it == fields_.end() ? nullptr : &*it;
}

PageField* PageModel::FindField(const QString& name) { return const_cast<PageField*>(std::as_const(*this).Find(name)); }

LONG PageModel::Value(const QString& name) const {
  const PageField* field = Find(name);
  return field ? field->value : 0;
}

LONG PageModel::Clamp(const PageField& field, LONG value) {
  switch (field.kind) {
    case FieldKind::Check: return value != 0 ? 1 : 0;
    case FieldKind::Choice:
      return field.choices.isEmpty() ? 0 : std::clamp<LONG>(value, 0, static_cast<LONG>(field.choices.size()) - 1);
    case FieldKind::Range: break;
  }
  if (field.max < field.min) return field.min;
  const int64_t v = std::clamp<int64_t>(value, field.min, field.max);
  const int64_t step = std::max<LONG>(field.step, 1);
  // The nearest step counted from the minimum, never past the maximum.
  int64_t snapped = field.min + (v - field.min + step / 2) / step * step;
  if (snapped > field.max) snapped -= step;
  return static_cast<LONG>(std::max<int64_t>(snapped, field.min));
}

LONG PageModel::SetValue(const QString& name, LONG value) {
  PageField* field = FindField(name);
  if (!field) return value;
  const LONG clamped = Clamp(*field, value);
  if (clamped == field->value) return clamped;
  field->value = clamped;
  if (!field->turnsOff.isEmpty())
    if (PageField* other = FindField(field->turnsOff)) other->value = 0;  // written with this one
  if (field->live && field->write) field->write(clamped);
  return clamped;
}

bool PageModel::IsDirty() const {
  return std::any_of(fields_.begin(), fields_.end(), [](const PageField& f) { return f.value != f.applied; });
}

HRESULT PageModel::Apply() {
  HRESULT result = S_OK;
  bool commitDue = false;
  for (PageField& field : fields_) {
    if (field.value == field.applied) continue;
    if (!field.live && !field.write) {
      commitDue = true;  // written by the commit below
      continue;
    }
    // Live fields were written as they moved; the others are written now.
    const HRESULT hr = field.live ? S_OK : field.write(field.value);
    if (FAILED(hr)) {
      result = hr;
      continue;
    }
    field.applied = field.value;
  }
  if (commitDue && commit_) {
    const HRESULT hr = commit_();
    if (FAILED(hr)) return hr;  // its rows stay dirty
  }
  for (PageField& field : fields_)
    if (!field.live && !field.write) field.applied = field.value;
  return result;
}

void PageModel::Cancel() {
  std::vector<PageField*> moved;
  for (PageField& field : fields_) {
    if (field.value == field.applied) continue;
    field.value = field.applied;
    if (field.live && field.write) moved.push_back(&field);
  }
  // Written after every value is back, so that a control written together with another (a value
  // and its Auto box) goes back as a pair.
  for (PageField* field : moved) field->write(field->value);
}

}  // namespace kestrom::dshow::pages
