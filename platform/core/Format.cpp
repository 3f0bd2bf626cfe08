#include "platform/core/Format.h"

#include <QLatin1StringView>
#include <QRegularExpression>
#include <QStringList>
#include <clocale>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>
#include <locale.h>
#include <vector>

namespace kestrom::core {

namespace {

// The process locale follows the desktop (Qt sets it from the environment), so every printf-style
// call goes through a thread-local switch to the C locale.
locale_t CLocale() {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
  return c;
}

class CLocaleScope {
 public:
  CLocaleScope() : previous_(uselocale(CLocale())) {}
  ~CLocaleScope() { uselocale(previous_); }
  CLocaleScope(const CLocaleScope&) = delete;
  CLocaleScope& operator=(const CLocaleScope&) = delete;

 private:
  locale_t previous_;
};

QString VPrintf(const char* format, va_list args) {
  CLocaleScope scope;
  char small[256];
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return QString();
  if (n < static_cast<int>(sizeof small)) return QString::fromUtf8(small, n);
  std::vector<char> big(static_cast<size_t>(n) + 1);
  std::vsnprintf(big.data(), big.size(), format, args);
  return QString::fromUtf8(big.data(), n);
}

QString Field(const QString& text, int width) {
  if (text.size() >= width) return QLatin1Char(' ') + text;
  return text.rightJustified(width, QLatin1Char(' '));
}

// value * 10^decimals as a decimal digit string, rounded half away from zero on the number's
// 15 significant digits (what a double really holds), so 2.675 rounds to 2.68 as a user expects.
QString ScaledDigits(double absValue, int decimals) {
  char buf[64];
  {
    CLocaleScope scope;
    std::snprintf(buf, sizeof buf, "%.14e", absValue);
  }
  // buf: d.dddddddddddddde[+-]XX
  QString mantissa;
  const char* p = buf;
  for (; *p && *p != 'e'; ++p) {
    if (*p >= '0' && *p <= '9') mantissa += QLatin1Char(*p);
  }
  const int exponent = *p == 'e' ? std::atoi(p + 1) : 0;
  const int keep = exponent + 1 + decimals;  // digits of the mantissa left of the cut
  if (keep < 0) return QStringLiteral("0");
  QString kept = mantissa.left(keep);
  bool roundUp = keep < mantissa.size() && mantissa[keep] >= QLatin1Char('5');
  if (keep > mantissa.size()) kept += QString(keep - mantissa.size(), QLatin1Char('0'));
  if (roundUp) {
    int i = kept.size() - 1;
    for (; i >= 0; --i) {
      if (kept[i] == QLatin1Char('9')) {
        kept[i] = QLatin1Char('0');
      } else {
        kept[i] = QChar(kept[i].unicode() + 1);
        break;
      }
    }
    if (i < 0) kept.prepend(QLatin1Char('1'));
  }
  if (kept.isEmpty()) kept = QStringLiteral("0");
  return kept;
}

struct FloatSection {
  QString prefix, suffix;
  int minIntDigits = 0;
  int requiredDecimals = 0;
  int optionalDecimals = 0;
  bool hasPoint = false;
  bool thousands = false;
  bool hasDigits = false;
};

FloatSection ParseSection(const QString& s) {
  FloatSection sec;
  bool afterPoint = false;
  bool seenPlaceholder = false;
  QString pendingLiteral;
  for (qsizetype i = 0; i < s.size(); ++i) {
    const QChar c = s[i];
    if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
      const qsizetype end = s.indexOf(c, i + 1);
      const qsizetype stop = end < 0 ? s.size() : end;
      pendingLiteral += s.mid(i + 1, stop - i - 1);
      i = stop;
      continue;
    }
    const bool placeholder = c == QLatin1Char('0') || c == QLatin1Char('#');
    if (placeholder || c == QLatin1Char('.') || c == QLatin1Char(',')) {
      if (!seenPlaceholder) {
        sec.prefix += pendingLiteral;
      } else {
        sec.suffix += pendingLiteral;  // literals inside the digits go after the number
      }
      pendingLiteral.clear();
      seenPlaceholder = true;
      if (c == QLatin1Char('.')) {
        afterPoint = true;
        sec.hasPoint = true;
      } else if (c == QLatin1Char(',')) {
        if (!afterPoint) sec.thousands = true;
      } else {
        sec.hasDigits = true;
        if (afterPoint) {
          if (c == QLatin1Char('0')) {
            sec.requiredDecimals += sec.optionalDecimals + 1;
            sec.optionalDecimals = 0;
          } else {
            ++sec.optionalDecimals;
          }
        } else if (c == QLatin1Char('0')) {
          ++sec.minIntDigits;
        }
      }
      continue;
    }
    pendingLiteral += c;
  }
  if (seenPlaceholder) {
    sec.suffix += pendingLiteral;
  } else {
    sec.prefix += pendingLiteral;
  }
  return sec;
}

QString GroupThousands(const QString& digits) {
  QString out;
  const qsizetype n = digits.size();
  for (qsizetype i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out += QLatin1Char(',');
    out += digits[i];
  }
  return out;
}

}  // namespace

int64_t Nearest(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 9.2233720368547748e18) return std::numeric_limits<int64_t>::max();
  if (x <= -9.2233720368547758e18) return std::numeric_limits<int64_t>::min();
  double r = std::round(x);  // half away from zero
  if (std::fabs(x - std::trunc(x)) == 0.5) r = 2.0 * std::round(x / 2.0);
  return static_cast<int64_t>(r);
}

int64_t Trunc(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 9.2233720368547748e18) return std::numeric_limits<int64_t>::max();
  if (x <= -9.2233720368547758e18) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(std::trunc(x));
}

QString IntField(int64_t value, int width) { return Field(QString::number(value), width); }

QString RealField(double value, int width, int decimals) {
  if (decimals < 0) decimals = 0;
  if (!std::isfinite(value)) return Field(Printf("%f", value), width);
  // Half away from zero like FormatFloat, so a value shows the same in a file and on screen.
  const QString scaled = ScaledDigits(std::fabs(value), decimals);
  QString digits = scaled.rightJustified(decimals + 1, QLatin1Char('0'));
  QString text = digits.left(digits.size() - decimals);
  if (decimals > 0) text += QLatin1Char('.') + digits.right(decimals);
  // "-0.00" would read back fine but looks wrong to a coach.
  if (value < 0 && scaled.contains(QRegularExpression(QStringLiteral("[1-9]")))) text.prepend(QLatin1Char('-'));
  return Field(text, width);
}

QString Printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  QString result = VPrintf(format, args);
  va_end(args);
  return result;
}

QString FormatFloat(const QString& pattern, double value) {
  if (std::isnan(value)) return QStringLiteral("NAN");
  if (std::isinf(value)) return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");

  // Up to three sections, split on ';' outside quotes: positive; negative; zero.
  QStringList sections;
  {
    QString current;
    QChar quote;
    for (const QChar c : pattern) {
      if (!quote.isNull()) {
        if (c == quote) quote = QChar();
      } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
        quote = c;
      } else if (c == QLatin1Char(';')) {
        sections << current;
        current.clear();
        continue;
      }
      current += c;
    }
    sections << current;
  }

  int index = 0;
  bool useOwnSign = false;
  if (value == 0.0 && sections.size() >= 3 && !sections[2].isEmpty()) {
    index = 2;
  } else if (value < 0 && sections.size() >= 2 && !sections[1].isEmpty()) {
    index = 1;
    useOwnSign = true;
  }
  const FloatSection sec = ParseSection(sections[index]);
  if (!sec.hasDigits && !sec.hasPoint) return sec.prefix;  // a pattern of text only

  const int decimals = sec.requiredDecimals + sec.optionalDecimals;
  const QString scaled = ScaledDigits(std::fabs(value), decimals);
  QString intPart = scaled.size() > decimals ? scaled.left(scaled.size() - decimals) : QString();
  QString frac = scaled.size() >= decimals ? scaled.right(decimals)
                                           : scaled.rightJustified(decimals, QLatin1Char('0'));
  while (intPart.startsWith(QLatin1Char('0'))) intPart.remove(0, 1);
  if (intPart.size() < sec.minIntDigits)
    intPart = intPart.rightJustified(sec.minIntDigits, QLatin1Char('0'));
  const bool isZero = !scaled.contains(QRegularExpression(QStringLiteral("[1-9]")));
  while (frac.size() > sec.requiredDecimals && frac.endsWith(QLatin1Char('0'))) frac.chop(1);
  if (sec.thousands) intPart = GroupThousands(intPart);

  QString out = sec.prefix;
  if (value < 0 && !useOwnSign && !isZero) out += QLatin1Char('-');
  out += intPart;
  if (!frac.isEmpty()) out += QLatin1Char('.') + frac;
  out += sec.suffix;
  return out;
}

namespace {

const char* const kShortDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
const char* const kLongDays[] = {"Monday", "Tuesday", "Wednesday", "Thursday",
                                 "Friday", "Saturday", "Sunday"};
const char* const kShortMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kLongMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};

// The C-locale date and time formats behind the letters c, ddddd, dddddd, t and tt.
const char* const kShortDateFormat = "dd/mm/yyyy";
const char* const kLongDateFormat = "dddd, d mmmm yyyy";
const char* const kShortTimeFormat = "hh:nn";
const char* const kLongTimeFormat = "hh:nn:ss";

QString Two(int v) { return QString::number(v).rightJustified(2, QLatin1Char('0')); }

// Whether an am/pm marker follows in the rest of the pattern (outside quotes): the hour is then
// given on the 12-hour clock.
bool AmPmFollows(const QString& f, qsizetype from) {
  QChar quote;
  for (qsizetype i = from; i < f.size(); ++i) {
    const QChar c = f[i];
    if (!quote.isNull()) {
      if (c == quote) quote = QChar();
      continue;
    }
    if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
      quote = c;
      continue;
    }
    const QStringView rest = QStringView(f).mid(i);
    if (rest.startsWith(QLatin1StringView("am/pm"), Qt::CaseInsensitive) ||
        rest.startsWith(QLatin1StringView("a/p"), Qt::CaseInsensitive) ||
        rest.startsWith(QLatin1StringView("ampm"), Qt::CaseInsensitive))
      return true;
  }
  return false;
}

void AppendDateTime(QString& out, const QString& f, const QDateTime& when) {
  const QDate date = when.date();
  const QTime time = when.time().isValid() ? when.time() : QTime(0, 0);
  QChar lastToken;
  qsizetype i = 0;
  auto count = [&](QChar letter) {
    qsizetype n = 1;
    while (i + n < f.size() && f[i + n].toUpper() == letter) ++n;
    return n;
  };
  while (i < f.size()) {
    const QChar c = f[i];
    QChar token = c.toUpper();
    if (token >= QLatin1Char('A') && token <= QLatin1Char('Z')) {
      // An 'm' right after an hour is the minutes ("hh:mm"); elsewhere it is the month.
      if (token == QLatin1Char('M') && lastToken == QLatin1Char('H')) token = QLatin1Char('N');
      lastToken = token;
    }
    switch (token.unicode()) {
      case 'Y': {
        const qsizetype n = count(QLatin1Char('Y'));
        out += n <= 2 ? Two(date.year() % 100) : QString::number(date.year()).rightJustified(4, QLatin1Char('0'));
        i += n;
        break;
      }
      case 'M': {
        const qsizetype n = count(QLatin1Char('M'));
        const int m = date.month();
        if (n == 1) out += QString::number(m);
        else if (n == 2) out += Two(m);
        else if (m < 1 || m > 12) {}  // an invalid date has no month name
        else if (n == 3) out += QLatin1StringView(kShortMonths[m - 1]);
        else out += QLatin1StringView(kLongMonths[m - 1]);
        i += n;
        break;
      }
      case 'D': {
        const qsizetype n = count(QLatin1Char('D'));
        const int wd = date.dayOfWeek();  // 1 = Monday
        if (n == 1) out += QString::number(date.day());
        else if (n == 2) out += Two(date.day());
        else if (n <= 4 && (wd < 1 || wd > 7)) {}  // nor a day name
        else if (n == 3) out += QLatin1StringView(kShortDays[wd - 1]);
        else if (n == 4) out += QLatin1StringView(kLongDays[wd - 1]);
        else if (n == 5) AppendDateTime(out, QLatin1StringView(kShortDateFormat), when);
        else AppendDateTime(out, QLatin1StringView(kLongDateFormat), when);
        i += n;
        break;
      }
      case 'H': {
        const qsizetype n = count(QLatin1Char('H'));
        int h = time.hour();
        if (AmPmFollows(f, i + n)) {
          h %= 12;
          if (h == 0) h = 12;
        }
        out += n == 1 ? QString::number(h) : Two(h);
        i += n;
        break;
      }
      case 'N': {
        const qsizetype n = count(c.toUpper());  // 'n' or an 'm' taken as minutes
        out += n == 1 ? QString::number(time.minute()) : Two(time.minute());
        i += n;
        break;
      }
      case 'S': {
        const qsizetype n = count(QLatin1Char('S'));
        out += n == 1 ? QString::number(time.second()) : Two(time.second());
        i += n;
        break;
      }
      case 'Z': {
        const qsizetype n = count(QLatin1Char('Z'));
        out += n == 3 ? QString::number(time.msec()).rightJustified(3, QLatin1Char('0'))
                      : QString::number(time.msec());
        i += n;
        break;
      }
      case 'T': {
        const qsizetype n = count(QLatin1Char('T'));
        AppendDateTime(out, QLatin1StringView(n == 1 ? kShortTimeFormat : kLongTimeFormat), when);
        i += n;
        break;
      }
      case 'C': {
        AppendDateTime(out, QLatin1StringView(kShortDateFormat), when);
        if (time != QTime(0, 0)) {
          out += QLatin1Char(' ');
          AppendDateTime(out, QLatin1StringView(kLongTimeFormat), when);
        }
        ++i;
        break;
      }
      case 'A': {
        const QStringView rest = QStringView(f).mid(i);
        const bool pm = time.hour() >= 12;
        if (rest.startsWith(QLatin1StringView("am/pm"), Qt::CaseInsensitive)) {
          // Keeps the case the pattern gives: "am/pm" -> "am", "AM/PM" -> "AM".
          out += pm ? rest.mid(3, 2).toString() : rest.left(2).toString();
          i += 5;
        } else if (rest.startsWith(QLatin1StringView("a/p"), Qt::CaseInsensitive)) {
          out += pm ? rest.mid(2, 1).toString() : rest.left(1).toString();
          i += 3;
        } else if (rest.startsWith(QLatin1StringView("ampm"), Qt::CaseInsensitive)) {
          out += pm ? QStringLiteral("PM") : QStringLiteral("AM");
          i += 4;
        } else {
          out += c;
          ++i;
        }
        break;
      }
      case '"':
      case '\'': {
        const qsizetype end = f.indexOf(c, i + 1);
        const qsizetype stop = end < 0 ? f.size() : end;
        out += f.mid(i + 1, stop - i - 1);
        i = stop + 1;
        break;
      }
      default:
        // '/' and ':' are the C locale's date and time separators, so they stand as they are.
        out += c;
        ++i;
        break;
    }
  }
}

}  // namespace

QString FormatDateTime(const QString& pattern, const QDateTime& when) {
  QString out;
  AppendDateTime(out, pattern, when);
  return out;
}

int CompareNumberedNames(const QString& a, const QString& b) {
  const auto isDigit = [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); };
  qsizetype i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      // Leading zeros carry no value; then the longer run is the larger number.
      qsizetype si = i, sj = j;
      while (si < a.size() && a[si] == QLatin1Char('0')) ++si;
      while (sj < b.size() && b[sj] == QLatin1Char('0')) ++sj;
      qsizetype ei = si, ej = sj;
      while (ei < a.size() && isDigit(a[ei])) ++ei;
      while (ej < b.size() && isDigit(b[ej])) ++ej;
      if (ei - si != ej - sj) return ei - si < ej - sj ? -1 : 1;
      for (qsizetype k = 0; k < ei - si; ++k)
        if (a[si + k] != b[sj + k]) return a[si + k] < b[sj + k] ? -1 : 1;
      i = ei;
      j = ej;
      continue;
    }
    if (a[i] != b[j]) return a[i] < b[j] ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size() || j < b.size()) return i < a.size() ? 1 : -1;
  const int plain = a.compare(b);
  return plain < 0 ? -1 : plain > 0 ? 1 : 0;
}

}  // namespace kestrom::core
