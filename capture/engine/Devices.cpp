#include "capture/engine/Devices.h"

#include "capture/engine/EngineLog.h"
#include "capture/engine/Registry2.h"
#include "platform/registry/Registry.h"

#include <algorithm>

namespace kestrom::engine {

QString DeviceKey(const QString& displayName, const QString& friendlyName) {
  QString key;
  const QString all = displayName + friendlyName;
  key.reserve(all.size());
  for (const QChar c : all) {
    const char16_t u = c.unicode();
    const bool keep = u == u' ' || u == u'-' || u == u'{' || u == u'}' || (u >= u'0' && u <= u'9') ||
                      (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z');
    if (keep) key += c;
  }
  return key;
}

void AvcVendorAndProduct(const QString& displayName, QString& vendor, QString& product) {
  vendor.clear();
  product.clear();
  static const QString marker = QStringLiteral("\\\\?\\avc#");
  const qsizetype at = displayName.indexOf(marker);
  if (at < 0) return;
  QString text = displayName.mid(at + marker.size());
  const qsizetype end = text.indexOf(QLatin1Char('#'));
  if (end >= 0) text.truncate(end);
  text.replace(QLatin1Char('&'), QLatin1Char(' '));
  const qsizetype dash = text.indexOf(QLatin1Char('-'));
  if (dash >= 1) {  // at position 2 or later, counting from 1
    vendor = text.left(dash);
    product = text.mid(dash + 1);
  } else {
    vendor = product = text;
  }
}

QStringList VfwDriverNames() {
  // No old-style capture drivers exist on this platform: every slot reads as missing.
  return QStringList(10, QStringLiteral("."));
}

void ReorderByPreference(std::vector<QString>& names, TDevicesKind kind, std::vector<int>* order) {
  struct Word {
    QString word;
    QString unless;
  };
  std::vector<Word> words;
  if (kind == dk_VideoCompressor) {
    for (const char* w : {"MPEG-4", "MPEG", "DIVX", "XVID", "MJPEG"}) words.push_back({QString::fromLatin1(w), {}});
  } else if (kind == dk_AudioCompressor) {
    words = {{QStringLiteral("WINDOWS MEDIA AUDIO V2"), {}},
             {QStringLiteral("PCM"), QStringLiteral("ADPCM")},
             {QStringLiteral("MPEG"), {}}};
  }
  std::vector<int> result;
  std::vector<bool> placed(names.size(), false);
  for (const Word& w : words) {
    for (size_t i = 0; i < names.size(); ++i) {
      if (placed[i]) continue;
      const QString upper = names[i].toUpper();
      if (upper.contains(w.word) && (w.unless.isEmpty() || !upper.contains(w.unless))) {
        placed[i] = true;
        result.push_back(static_cast<int>(i));
      }
    }
  }
  for (size_t i = 0; i < names.size(); ++i)
    if (!placed[i]) result.push_back(static_cast<int>(i));
  std::vector<QString> sorted;
  sorted.reserve(names.size());
  for (int i : result) sorted.push_back(names[i]);
  names = std::move(sorted);
  if (order) *order = std::move(result);
}

TDevices::TDevices(TDevicesKind kind, TDevices* sibling, bool suffix, const QStringList& vfwDriverNames,
                   const QString& skipList, const QString& category, const QString& listName)
    : kind_(kind),
      sibling_(sibling),
      suffix_(suffix),
      vfwDriverNames_(vfwDriverNames),
      skipList_(skipList),
      category_(category),
      listName_(listName) {
  Rebuild();
}

int TDevices::Count() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(entries_.size());
}

QString TDevices::NamesText() const {
  std::lock_guard lock(mutex_);
  QString text;
  for (const auto& e : entries_) text += e->DisplayName + QStringLiteral("\r\n");
  return text;
}

QString TDevices::Name(int index) const {
  std::lock_guard lock(mutex_);
  if (index < 0 || index >= static_cast<int>(entries_.size())) return {};
  return entries_[index]->DisplayName;
}

std::optional<TCapDeviceInfo> TDevices::Entry(int index) const {
  std::lock_guard lock(mutex_);
  if (index < 0 || index >= static_cast<int>(entries_.size())) return std::nullopt;
  return *entries_[index];
}

std::vector<TCapDeviceInfo> TDevices::Entries() const {
  std::lock_guard lock(mutex_);
  std::vector<TCapDeviceInfo> all;
  all.reserve(entries_.size());
  for (const auto& e : entries_) all.push_back(*e);
  return all;
}

QString TDevices::RegistryKeyOf(int index) const {
  std::lock_guard lock(mutex_);
  if (index < 0 || index >= static_cast<int>(entries_.size())) return {};
  return DeviceKeyPath(entries_[index]->Key);
}

int TDevices::IndexOfName(const QString& name) const {
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i]->DisplayName == name) return static_cast<int>(i);
  return -1;
}

int TDevices::EnumeratedCount() const {
  std::lock_guard lock(mutex_);
  return count_;
}

int TDevices::PreviousCount() const {
  std::lock_guard lock(mutex_);
  return previousCount_;
}

TCapDeviceInfo* TDevices::FindKey(const QString& key) {
  for (auto& e : entries_)
    if (e->Key == key) return e.get();
  return nullptr;
}

int TDevices::NextDuplicate(const QString& friendlyName) const {
  int highest = 0;
  for (const auto& e : entries_)
    if (e->FriendlyName == friendlyName) highest = std::max(highest, e->DuplicateNumber);
  return highest + 1;
}

void TDevices::Append(std::unique_ptr<TCapDeviceInfo> entry) {
  std::lock_guard lock(mutex_);
  entries_.push_back(std::move(entry));
}

void TDevices::Reorder() {
  if (kind_ != dk_VideoCompressor && kind_ != dk_AudioCompressor) return;
  std::vector<QString> names;
  for (const auto& e : entries_) names.push_back(e->DisplayName);
  std::vector<int> order;
  ReorderByPreference(names, kind_, &order);
  std::vector<std::unique_ptr<TCapDeviceInfo>> sorted;
  sorted.reserve(entries_.size());
  for (int i : order) sorted.push_back(std::move(entries_[i]));
  entries_ = std::move(sorted);
}

namespace {

QString DisplayNameOf(const TCapDeviceInfo& e, bool suffix) {
  QString name = e.FriendlyName;
  if (e.DuplicateNumber > 1) name += QStringLiteral(" #") + QString::number(e.DuplicateNumber);
  if (suffix) name += e.IsWDM ? QStringLiteral(" (WDM)") : QStringLiteral(" (vfw)");
  return name;
}

}  // namespace

void TDevices::Rebuild() {
  WriteLog(QStringLiteral("v"), QStringLiteral("rebuilding ") + listName_);
  bool movedAny = false;
  {
    std::unique_lock lock(mutex_);
    // Entries that the video list placed among the audio devices keep their marks here, where
    // they are enumerated; the audio list leaves them alone.
    std::vector<std::pair<TCapDeviceInfo*, bool>> marks;
    auto resetMarks = [&marks](TCapDeviceInfo& e) {
      marks.emplace_back(&e, e.PresentNow);
      e.PresentBefore = e.PresentNow;
      e.PresentNow = false;
    };
    for (auto& e : entries_)
      if (!e->MovedToSibling) resetMarks(*e);
    std::unique_lock<std::recursive_mutex> siblingLock;
    if (kind_ == dk_VideoCapture && sibling_) {
      siblingLock = std::unique_lock(sibling_->mutex_);
      for (auto& e : sibling_->entries_)
        if (e->MovedToSibling) resetMarks(*e);
    }

    if (previousCount_ != -1) previousCount_ = count_;
    count_ = 0;

    std::optional<std::vector<DeviceMoniker>> monikers;
    if (!category_.isEmpty()) {
      monikers = CurrentDeviceProvider()->Enumerate(category_);
      LogYesNo(monikers.has_value(), QStringLiteral("instance: create sys dev enum"));
    } else {
      monikers.emplace();
    }

    if (!monikers) {
      // A failed enumeration says nothing about the devices: keep the marks as they were, so
      // no device reads as removed.
      for (auto& [entry, now] : marks) entry->PresentNow = now;
      WriteLog(QStringLiteral("ERROR: cannot enumerate the ") + listName_ + QStringLiteral(" list"));
    } else {
      const QStringList skipTokens = skipList_.split(QLatin1Char('!'), Qt::SkipEmptyParts);
      for (const DeviceMoniker& moniker : *monikers) {
        ++count_;
        if (!moniker.friendlyName) continue;
        const QString friendly = *moniker.friendlyName;
        const QString upper = friendly.toUpper();
        if (std::any_of(skipTokens.begin(), skipTokens.end(),
                        [&](const QString& t) { return upper.contains(t); }))
          continue;
        const QString key = DeviceKey(moniker.displayName, friendly);
        const bool toSibling =
            kind_ == dk_VideoCapture && sibling_ && upper.contains(QStringLiteral("AUDIO"));
        TCapDeviceInfo* known = FindKey(key);
        if (!known && toSibling) {
          for (auto& e : sibling_->entries_)
            if (e->MovedToSibling && e->Key == key) known = e.get();
        }
        if (known) {
          known->PresentNow = true;
          movedAny = movedAny || known->MovedToSibling;
          continue;
        }
        auto entry = std::make_unique<TCapDeviceInfo>();
        entry->Key = key;
        entry->FriendlyName = friendly;
        entry->IsWDM = moniker.classId.compare(QLatin1String(CLSID_VfwCapture), Qt::CaseInsensitive) != 0;
        entry->VfwDriverIndex = entry->IsWDM ? -1 : static_cast<int>(vfwDriverNames_.indexOf(friendly));
        entry->PresentNow = true;
        entry->PresentBefore = false;
        entry->IsDV = friendly.contains(QStringLiteral("Microsoft DV"));
        AvcVendorAndProduct(moniker.displayName, entry->Vendor, entry->Product);
        TDevices& target = toSibling ? *sibling_ : *this;
        entry->DuplicateNumber = target.NextDuplicate(friendly);
        entry->DisplayName = DisplayNameOf(*entry, suffix_);
        entry->MovedToSibling = toSibling;
        entry->Category = toSibling ? QString::fromLatin1(CLSID_VideoInputDeviceCategory) : category_;
        const QString name = entry->DisplayName;
        target.entries_.push_back(std::move(entry));
        movedAny = movedAny || toSibling;
        WriteLog(QStringLiteral("l= ") + QString::number(target.entries_.size()) +
                 QStringLiteral(", adding ") + name);
      }
    }

    Reorder();
    if (previousCount_ == -1) previousCount_ = count_;
  }
  if (movedAny) sibling_->Rebuild();
  if (kind_ == dk_VideoCompressor) AddRegisteredCodec();
  WriteLog(QStringLiteral("v"), QStringLiteral("rebuilded ") + listName_);
}

void TDevices::AddRegisteredCodec() {
  const QString clsid = QString::fromLatin1(CLSID_RegisteredCodec);
  registry::TRegistry reg(registry::HKEY_CLASSES_ROOT, registry::KEY_READ);
  if (!reg.OpenKeyReadOnly(QStringLiteral("\\CLSID\\") + clsid)) return;
  const QString name = reg.ReadString(QString()).value_or(QString());
  if (name.isEmpty()) return;
  std::lock_guard lock(mutex_);
  const QString key = DeviceKey(QString(), name);
  if (TCapDeviceInfo* known = FindKey(key)) {
    known->PresentNow = true;
    return;
  }
  auto entry = std::make_unique<TCapDeviceInfo>();
  entry->Manual = true;
  entry->Key = key;
  entry->FriendlyName = name;
  entry->IsWDM = true;
  entry->PresentNow = true;
  entry->VfwDriverIndex = -1;
  entry->DuplicateNumber = NextDuplicate(name);
  entry->Category = category_;
  entry->ClassId = clsid;
  entry->DisplayName = DisplayNameOf(*entry, suffix_);
  entries_.push_back(std::move(entry));
}

bool FindDeviceMoniker(const QString& category, const QString& name, int matchMode,
                       QString& friendlyName, DeviceMoniker& moniker) {
  const auto monikers = CurrentDeviceProvider()->Enumerate(category);
  LogYesNo(monikers.has_value(), QStringLiteral("instance: Sys dev enum"));
  if (!monikers) return false;
  const QStringList tokens = name.split(QLatin1Char('!'), Qt::SkipEmptyParts);
  for (const DeviceMoniker& m : *monikers) {
    if (!m.friendlyName) continue;
    const QString& friendly = *m.friendlyName;
    bool match = false;
    switch (matchMode) {
      case 0: match = friendly == name; break;
      case 1: match = friendly.contains(name); break;
      case 2:
        match = std::all_of(tokens.begin(), tokens.end(), [&](const QString& t) { return friendly.contains(t); });
        break;
      case 3: match = DeviceKey(m.displayName, friendly) == name; break;
      default: break;
    }
    if (match) {
      friendlyName = friendly;
      moniker = m;
      return true;
    }
  }
  return false;
}

}  // namespace kestrom::engine
