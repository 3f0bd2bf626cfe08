#pragma once
// Numbers and texts as the programs show them and write them into files, always in the C locale.

#include <QDateTime>
#include <QString>
#include <cstdint>

namespace kestrom::core {

/** @brief The integer nearest to x, ties going to the even one (2.5 -> 2, 3.5 -> 4). */
int64_t Nearest(double x);

/** @brief x with its fraction cut off, towards zero. */
int64_t Trunc(double x);

/**
 * @brief An integer right-aligned in a field of the given minimum width. A number that needs the
 * whole width or more is written in full with one blank before it, so two fields never touch:
 * (12345, 5) -> " 12345", (-1, 5) -> "   -1".
 */
QString IntField(int64_t value, int width);

/**
 * @brief A real in fixed notation with the given decimals, right-aligned like IntField; rounds
 * half away from zero ((150.125, 9) -> "   150.13") and never writes "-0.00".
 */
QString RealField(double value, int width, int decimals = 2);

/** @brief printf-style formatting in the C locale ("Zoom %4.1f"). */
QString Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

/**
 * @brief A number through the toolkit's float pattern: '0' forces a digit, '#' an optional one,
 * '.' the decimal point ("0.00" -> "3.14", "0000.00" -> "0003.14"), ',' groups thousands; text in
 * quotes is copied; up to three sections "positive;negative;zero". Rounds half away from zero on
 * the number's 15 significant digits (2.675 -> "2.68").
 */
QString FormatFloat(const QString& pattern, double value);

/**
 * @brief A date-time through the toolkit's letters: d dd, m mm (month, or minutes right after an
 * hour), yy yyyy, h hh, n nn, s ss, z zzz; ddd dddd mmm mmmm give English names; c, ddddd,
 * dddddd, t, tt the C locale's date and time ("dd/mm/yyyy", "hh:nn:ss"); am/pm, a/p and ampm put
 * the hours on the 12-hour clock; text in double or single quotes is copied as it is.
 */
QString FormatDateTime(const QString& pattern, const QDateTime& when);

/**
 * @brief Orders names as a person reads numbered files: runs of digits compare by their value
 * ("Sample101" < "Sample1000"), everything else character by character as it stands. Names equal
 * that way ("a01", "a1") fall back to the plain comparison, so the order is total. Negative,
 * zero or positive like QString::compare.
 */
int CompareNumberedNames(const QString& a, const QString& b);

}  // namespace kestrom::core
