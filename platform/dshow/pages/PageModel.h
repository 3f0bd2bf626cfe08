#pragma once
// What a settings page holds, without any widget: its rows (a range, a check box or a choice
// per property), the values the page found, applied and shows now, and the bookkeeping of
// OK, Apply and Cancel. The page's widget is a thin view over it.

#include "platform/dshow/base/Types.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace kestrom::dshow::pages {

enum class FieldKind { Range, Check, Choice };

struct PageField {
  /** @brief The objectName of the field's control: the property's name ("Brightness"). */
  QString name;
  QString label;
  FieldKind kind = FieldKind::Range;
  LONG min = 0, max = 0, step = 1, defaultValue = 0;  // Range
  QStringList choices;                                // Choice: the value is an index
  /** @brief Acts on the objects as it moves (image and camera controls); else on OK or Apply. */
  bool live = false;
  /** @brief A "Default" button (objectName name + "Default") sets defaultValue. */
  bool hasDefault = false;
  /** @brief A Check field shown in the row of this Range field (its Auto box). */
  QString rowOf;
  /** @brief A Check field this one's change clears first: moving a control's slider takes it out of Auto. */
  QString turnsOff;
  /** @brief Writes a value to the objects; an error keeps the field dirty. */
  std::function<HRESULT(LONG value)> write;

  LONG value = 0;    // what the page shows
  LONG applied = 0;  // what the objects hold as far as the page knows: found, then last applied
};

class PageModel {
 public:
  PageModel() = default;
  explicit PageModel(QString title) : title_(std::move(title)) {}
  PageModel(const PageModel&) = delete;
  PageModel& operator=(const PageModel&) = delete;

  const QString& Title() const { return title_; }
  /** @brief Adds a row; its value is what the page found (clamped). */
  void Add(PageField field);
  /** @brief After the non-live fields are written on Apply (when one of them changed): e.g. a format built from several rows. */
  void SetCommit(std::function<HRESULT()> commit) { commit_ = std::move(commit); }
  bool Empty() const { return fields_.empty(); }
  const std::vector<PageField>& Fields() const { return fields_; }
  const PageField* Find(const QString& name) const;
  /** @brief A field's value now (0 for an unknown name). */
  LONG Value(const QString& name) const;

  /** @brief The value a field would take: a range's nearest step within its bounds, a check 0 or 1, a valid choice. */
  static LONG Clamp(const PageField& field, LONG value);
  /**
   * @brief Sets a field from its control; the value is clamped first and a live field writes it
   * at once. Returns the value taken (unchanged for an unknown name).
   */
  LONG SetValue(const QString& name, LONG value);
  /** @brief Whether a field differs from what the objects hold as the page last knew it. */
  bool IsDirty() const;
  /** @brief Writes every changed field, then the commit; what was written becomes the state Cancel returns to. */
  HRESULT Apply();
  /** @brief Puts back the applied state: live fields are written again, the others only shown. */
  void Cancel();

 private:
  PageField* FindField(const QString& name);

  QString title_;
  std::vector<PageField> fields_;
  std::function<HRESULT()> commit_;
};

}  // namespace kestrom::dshow::pages
