#pragma once
// The video sizes and subtypes a capture device offers, as the engine lists them: size texts
// whose width is padded with blanks so that text order follows the width, one sorted list per
// analog standard family with a default entry first, the subtype list, the nearest-size rule,
// the aspect filter and the registry cache of the lists under the device's key.

#include <QString>
#include <QStringList>
#include <array>
#include <functional>

namespace kestrom::engine {

/** @brief Size list families: no analog standard, NTSC, PAL, SECAM. */
enum TSizeFamily { sf_None = 0, sf_NTSC = 1, sf_PAL = 2, sf_SECAM = 3 };

/** @brief The family of an analog standard value: NTSC below 16, SECAM above 4095, else PAL. */
TSizeFamily FamilyOfStandard(long standard);
/** @brief "NTSC", "PAL", "SECAM" or "n/a". */
QString FamilyName(TSizeFamily family);

/** @brief " 640x480": the width padded to four characters for widths below 1000. */
QString SizeText(int width, int height);
/** @brief Splits at the first "x" (not the first character); both trimmed halves positive. */
bool ParseSize(const QString& text, int& width, int& height);

/** @brief Adds a size text to a sorted list (case-insensitive text order), ignoring duplicates. */
void AddSorted(QStringList& list, const QString& text);

/**
 * @brief Makes the default entry (three more blanks before a size text, so it sorts first) that of
 * 320x240 when the list offers it, else 352x288, else keeps the one there. Sizes are compared,
 * not texts.
 */
void PreferDefaultSize(QStringList& list);

/**
 * @brief Index of the entry nearest to W x H: among the entries (from 1) whose width lies within
 * 20 % of W, the one whose aspect is nearest, ordered by distance first; with at most one such
 * entry, the nearest of all. Fewer than two entries: fallback.
 */
int NearestSizeIndex(const QStringList& list, int width, int height, int fallback);

/**
 * @brief Removes the sizes of the wrong aspect for their family (NTSC loses ratios strictly
 * between 119 and 131 percent, PAL and SECAM between 142 and 158), only when the three analog
 * lists have the same non-zero length; a list whose first entry is then no default gets one.
 */
void FilterByAspect(std::array<QStringList, 4>& lists);

/**
 * @brief The sizes tried from a start within bounds: halving, then doubling, first along the
 * width then along the height (a start taller than wide has its height halved first).
 */
void EnumerateSizes(int width, int height, int minWidth, int minHeight, int maxWidth, int maxHeight,
                    const std::function<void(int, int)>& tryOne);

/** @brief The DV size list: "    half" (default), "   dc", "  quarter", " half", "full". */
QStringList DVSizeList();
/** @brief The picture size of an entry of the DV list; false for other indexes. */
bool DVSize(int index, bool pal, int& width, int& height);

/** @brief The five lists of a device: sizes per family and subtypes. */
struct TFormatLists {
  std::array<QStringList, 4> sizes;
  QStringList subtypes;
  bool Empty() const {
    return subtypes.isEmpty() && sizes[0].isEmpty() && sizes[1].isEmpty() && sizes[2].isEmpty() && sizes[3].isEmpty();
  }
};

/** @brief Writes the lists as "-FMT000", "NFMT000", "PFMT000", "SFMT000", "SUB000"... into the key. */
bool WriteFormatCache(const QString& keyPath, const TFormatLists& lists);
/** @brief Reads the lists back (each until its first missing number, empty values skipped). */
bool ReadFormatCache(const QString& keyPath, TFormatLists& lists);

}  // namespace kestrom::engine
