#include "capture/engine/FormatLists.h"

#include "capture/engine/Registry2.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace kestrom::engine {

TSizeFamily FamilyOfStandard(long standard) {
  if (standard < 16) return sf_NTSC;
  if (standard > 4095) return sf_SECAM;
  return sf_PAL;
}

QString FamilyName(TSizeFamily family) {
  switch (family) {
    case sf_NTSC: return QStringLiteral("NTSC");
    case sf_PAL: return QStringLiteral("PAL");
    case sf_SECAM: return QStringLiteral("SECAM");
    default: return QStringLiteral("n/a");
  }
}

QString SizeText(int width, int height) {
  const QString pad = width < 100 ? QStringLiteral("  ") : width < 1000 ? QStringLiteral(" ") : QString();
  return pad + QString::number(width) + QLatin1Char('x') + QString::number(height);
}

bool ParseSize(const QString& text, int& width, int& height) {
  width = height = 0;
  const int x = text.indexOf(QLatin1Char('x'));
  if (x < 1) return false;
  bool okW = false, okH = false;
  const int w = text.left(x).trimmed().toInt(&okW);
  const int h = text.mid(x + 1).trimmed().toInt(&okH);
  width = okW ? w : 0;
  height = okH ? h : 0;
  return width > 0 && height > 0;
}

void AddSorted(QStringList& list, const QString& text) {
  const auto less = [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; };
  const auto at = std::lower_bound(list.begin(), list.end(), text, less);
  if (at != list.end() && at->compare(text, Qt::CaseInsensitive) == 0) return;
  list.insert(at, text);
}

void PreferDefaultSize(QStringList& list) {
  if (list.size() < 2) return;
  for (const auto& [w, h] : {std::pair{320, 240}, std::pair{352, 288}}) {
    for (int i = 1; i < list.size(); ++i) {
      int lw = 0, lh = 0;
      if (ParseSize(list[i], lw, lh) && lw == w && lh == h) {
        list[0] = QStringLiteral("   ") + list[i];
        return;
      }
    }
  }
}

int NearestSizeIndex(const QStringList& list, int width, int height, int fallback) {
  if (list.size() < 2 || width <= 0 || height <= 0) return fallback;
  struct Candidate {
    int index, width;
    double distance, aspect;
  };
  std::vector<Candidate> all;
  for (int i = 1; i < list.size(); ++i) {
    int w = 0, h = 0;
    if (!ParseSize(list[i], w, h)) continue;
    const double dw = w - width, dh = h - height;
    all.push_back({i, w, dw * dw + dh * dh,
                   std::abs(static_cast<double>(width) / height - static_cast<double>(w) / h)});
  }
  if (all.empty()) return fallback;
  std::stable_sort(all.begin(), all.end(), [](const Candidate& a, const Candidate& b) { return a.distance < b.distance; });
  const int margin = static_cast<int>(std::lround(width * 20 / 100.0));
  std::vector<Candidate> near;
  for (const Candidate& c : all)
    if (c.width >= width - margin && c.width <= width + margin) near.push_back(c);
  if (near.size() <= 1) return all.front().index;
  std::stable_sort(near.begin(), near.end(), [](const Candidate& a, const Candidate& b) { return a.aspect < b.aspect; });
  return near.front().index;
}

void FilterByAspect(std::array<QStringList, 4>& lists) {
  const qsizetype n = lists[sf_NTSC].size();
  if (n == 0 || lists[sf_PAL].size() != n || lists[sf_SECAM].size() != n) return;
  const auto filter = [](QStringList& list, int low, int high) {
    QStringList kept;
    for (const QString& entry : list) {
      int w = 0, h = 0;
      if (ParseSize(entry, w, h)) {
        // Rounded half to even, as the ratio's rule asks.
        const double ratio = std::nearbyint(static_cast<double>(w) / h * 100.0);
        if (ratio > low && ratio < high) continue;
      }
      kept << entry;
    }
    if (!kept.isEmpty() && (kept[0].size() < 2 || kept[0][1] != QLatin1Char(' ')))
      kept.prepend(QLatin1Char(' ') + kept[0]);
    list = kept;
  };
  filter(lists[sf_NTSC], 119, 131);
  filter(lists[sf_PAL], 142, 158);
  filter(lists[sf_SECAM], 142, 158);
}

void EnumerateSizes(int width, int height, int minWidth, int minHeight, int maxWidth, int maxHeight,
                    const std::function<void(int, int)>& tryOne) {
  if (width <= 0 || height <= 0) return;
  if (width < height) height /= 2;
  const auto tryIn = [&](int w, int h) {
    if (w >= minWidth && w <= maxWidth && h >= minHeight && h <= maxHeight) tryOne(w, h);
  };
  for (int w = width, h = height; w > 0 && h > 0 && w >= minWidth; w /= 2, h /= 2) tryIn(w, h);
  for (int w = width, h = height; w > 0 && h > 0 && h >= minHeight; w /= 2, h /= 2) tryIn(w, h);
  for (int w = width, h = height; w > 0 && h > 0 && w <= maxWidth; w *= 2, h *= 2) tryIn(w, h);
  for (int w = width, h = height; w > 0 && h > 0 && h <= maxHeight; w *= 2, h *= 2) tryIn(w, h);
}

QStringList DVSizeList() {
  return {QStringLiteral("    half"), QStringLiteral("   dc"), QStringLiteral("  quarter"), QStringLiteral(" half"),
          QStringLiteral("full")};
}

bool DVSize(int index, bool pal, int& width, int& height) {
  static constexpr int kPal[5][2] = {{360, 288}, {88, 72}, {180, 144}, {360, 288}, {720, 576}};
  static constexpr int kNtsc[5][2] = {{360, 240}, {88, 60}, {180, 120}, {360, 240}, {720, 480}};
  if (index < 0 || index > 4) return false;
  width = pal ? kPal[index][0] : kNtsc[index][0];
  height = pal ? kPal[index][1] : kNtsc[index][1];
  return true;
}

namespace {

constexpr const char* kPrefixes[5] = {"-FMT", "NFMT", "PFMT", "SFMT", "SUB"};

QString ValueName(int list, int n) {
  return QString::fromLatin1(kPrefixes[list]) + QStringLiteral("%1").arg(n, 3, 10, QLatin1Char('0'));
}

bool IsCacheValue(const QString& name) {
  for (const char* prefix : kPrefixes) {
    const QString p = QString::fromLatin1(prefix);
    if (!name.startsWith(p)) continue;
    bool ok = false;
    name.mid(p.size()).toInt(&ok);
    if (ok) return true;
  }
  return false;
}

}  // namespace

bool WriteFormatCache(const QString& keyPath, const TFormatLists& lists) {
  TRegistry2 reg;
  if (!reg.OpenKey(keyPath, true)) return false;
  // Entries of an older, longer list must not outlive it.
  for (const QString& name : reg.Registry().GetValueNames())
    if (IsCacheValue(name)) reg.Registry().DeleteValue(name);
  bool ok = true;
  for (int l = 0; l < 5; ++l) {
    const QStringList& list = l < 4 ? lists.sizes[static_cast<size_t>(l)] : lists.subtypes;
    for (int n = 0; n < list.size(); ++n) ok &= reg.WriteString(ValueName(l, n), list[n]);
  }
  return ok;
}

bool ReadFormatCache(const QString& keyPath, TFormatLists& lists) {
  lists = {};
  TRegistry2 reg;
  if (!reg.KeyExists(keyPath) || !reg.OpenKey(keyPath, false)) return false;
  for (int l = 0; l < 5; ++l) {
    QStringList& list = l < 4 ? lists.sizes[static_cast<size_t>(l)] : lists.subtypes;
    for (int n = 0; n < 1000 && reg.ValueExists(ValueName(l, n)); ++n) {
      QString text;
      if (reg.ReadString(ValueName(l, n), text) && !text.isEmpty()) list << text;
    }
  }
  return true;
}

}  // namespace kestrom::engine
