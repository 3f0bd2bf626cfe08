#include "platform/core/Format.h"
#include "tests/platform/core/QtPrint.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <clocale>
#include <gtest/gtest.h>

using namespace kestrom::core;

namespace {

// Switches the process to a German locale (decimal comma) for one test, compiling it into a
// temporary folder when the system has not generated it. Restores the C locale afterwards.
class GermanLocale {
 public:
  GermanLocale() {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    if (std::setlocale(LC_ALL, "de_DE.UTF-8")) {
      active_ = true;
      return;
    }
    if (!dir_.isValid()) return;
    const int rc = QProcess::execute(QStringLiteral("localedef"),
                                     {QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"),
                                      QStringLiteral("UTF-8"), dir_.filePath(QStringLiteral("de_DE.UTF-8"))});
    if (rc != 0 && !QDir(dir_.filePath(QStringLiteral("de_DE.UTF-8"))).exists()) return;
    qputenv("LOCPATH", QFile::encodeName(dir_.path()));
    active_ = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
  }
  ~GermanLocale() {
    std::setlocale(LC_ALL, "C");
    qunsetenv("LOCPATH");
    QLocale::setDefault(QLocale::c());
  }
  bool active() const { return active_; }

 private:
  QTemporaryDir dir_;
  bool active_ = false;
};

}  // namespace

TEST(Format, NearestTiesGoToEven) {
  const struct {
    double x;
    int64_t want;
  } cases[] = {{2.5, 2}, {3.5, 4}, {-2.5, -2}, {-3.5, -4}, {0.5, 0}, {1.5, 2},
               {2.4999, 2}, {2.5001, 3}, {-0.4, 0}, {1000.0 / 40.0, 25}, {12345.0 / 40.0, 309}};
  for (const auto& c : cases) EXPECT_EQ(Nearest(c.x), c.want) << c.x;
  EXPECT_EQ(Trunc(-2.7), -2);
  EXPECT_EQ(Trunc(40.01), 40);
}

TEST(Format, IntFieldsNeverTouch) {
  const struct {
    int64_t value;
    int width;
    const char* want;
  } cases[] = {
      {12345, 5, " 12345"}, {-1, 5, "   -1"},   {16777215, 7, " 16777215"}, {255, 12, "         255"},
      {0, 3, "  0"},        {-100, 4, " -100"}, {1, 1, " 1"},               {-12345, 5, " -12345"},
  };
  for (const auto& c : cases) EXPECT_EQ(IntField(c.value, c.width), QString::fromLatin1(c.want)) << c.value;
  // Two fields written one after the other read back as two numbers.
  EXPECT_EQ(IntField(720, 3) + IntField(99999, 5), QStringLiteral(" 720 99999"));
}

TEST(Format, RealFieldsNeverTouch) {
  const struct {
    double value;
    int width;
    int decimals;
    const char* want;
  } cases[] = {
      {100, 9, 2, "   100.00"},    {150.125, 9, 2, "   150.13"}, {-1, 8, 2, "   -1.00"},
      {9999, 8, 2, " 9999.00"},    {123456.5, 9, 2, " 123456.50"}, {-0.001, 6, 2, "  0.00"},
      {1.0, 4, 1, " 1.0"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(RealField(c.value, c.width, c.decimals), QString::fromLatin1(c.want)) << c.value;
}

TEST(Format, PrintfAndFieldsIgnoreTheDesktopLocale) {
  GermanLocale german;
  EXPECT_EQ(Printf("Zoom %4.1f", 1.0), QStringLiteral("Zoom  1.0"));
  EXPECT_EQ(Printf("Zoom %4.1f", 12.5), QStringLiteral("Zoom 12.5"));
  EXPECT_EQ(Printf(" %d fps", 25), QStringLiteral(" 25 fps"));
  EXPECT_EQ(RealField(150.5, 9), QStringLiteral("   150.50"));
  EXPECT_EQ(FormatFloat(QStringLiteral("0.00"), 3.14159), QStringLiteral("3.14"));
  if (!german.active()) GTEST_SKIP() << "no German locale could be made; checked under the Qt locale only";
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 1.0);
  ASSERT_STREQ(probe, "1,0") << "the locale switch did not take";
  EXPECT_EQ(Printf("Zoom %4.1f", 1.0), QStringLiteral("Zoom  1.0"));
  EXPECT_EQ(RealField(150.5, 9), QStringLiteral("   150.50"));
}

TEST(Format, FloatPatterns) {
  const struct {
    const char* pattern;
    double value;
    const char* want;
  } cases[] = {
      {"0.00", 3.14159, "3.14"},
      {"0000.00", 3.14159, "0003.14"},
      {"0.00", 2.675, "2.68"},  // half away from zero on the decimal value
      {"0.00", -2.675, "-2.68"},
      {"0.00", 0.005, "0.01"},
      {"0.00", -0.001, "0.00"},
      {"0", 2.5, "3"},
      {"0", 99.5, "100"},
      {"#.##", 0.5, ".5"},
      {"0.0#", 1.5, "1.5"},
      {"0.0#", 1.257, "1.26"},
      {"#,##0.00", 1234567.891, "1,234,567.89"},
      {"0.00 'deg'", 90, "90.00 deg"},
      {"0.00;(0.00)", -4.5, "(4.50)"},
      {"0.00;-0.00;'zero'", 0, "zero"},
      {"00", 7, "07"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatFloat(QString::fromLatin1(c.pattern), c.value), QString::fromLatin1(c.want))
        << c.pattern << " " << c.value;
}

TEST(Format, DateTimeLetters) {
  const QDateTime when(QDate(2024, 3, 7), QTime(14, 5, 9, 42));
  const struct {
    const char* pattern;
    const char* want;
  } cases[] = {
      {"hh:mm:ss", "14:05:09"},            // mm after an hour is minutes
      {"dd/mm/yyyy", "07/03/2024"},        // elsewhere it is the month
      {"dd/mm/yy hh:nn:ss", "07/03/24 14:05:09"},
      {"yymmdd_hhmmss_zzz", "240307_140509_042"},
      {"d/m/yy h:n:s.z", "7/3/24 14:5:9.42"},
      {"ddd dddd mmm mmmm", "Thu Thursday Mar March"},
      {"h:nn am/pm", "2:05 pm"},
      {"hh:nn AM/PM", "02:05 PM"},
      {"h a/p", "2 p"},
      {"hh:nn ampm", "02:05 PM"},
      {"'mm' \"hh\" mm", "mm hh 03"},
      {"c", "07/03/2024 14:05:09"},
      {"t|tt", "14:05|14:05:09"},
      {"hh 'h' mm", "14 h 05"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatDateTime(QString::fromLatin1(c.pattern), when), QString::fromLatin1(c.want)) << c.pattern;
  EXPECT_EQ(FormatDateTime(QStringLiteral("dddd mmmm hh"), QDateTime()), QStringLiteral("  00"));
  EXPECT_EQ(FormatDateTime(QStringLiteral("hh am/pm"), QDateTime(QDate(2024, 1, 1), QTime(0, 30))),
            QStringLiteral("12 am"));
}

TEST(Format, NumberedNamesCompareTheirDigitRunsByValue) {
  struct Case {
    const char* a;
    const char* b;
    int order;
  };
  const Case cases[] = {
      {"Sample101.bmp", "Sample1000.bmp", -1},  // by value, not character by character
      {"Sample999.bmp", "Sample1000.bmp", -1},
      {"Sample1000.bmp", "Sample1000.bmp", 0},
      {"a2b10", "a2b9", 1},                     // every run counts, not only the first
      {"a01", "a1", -1},                        // equal by value: the plain order decides
      {"a007", "a8", -1},
      {"a.bmp", "b.bmp", -1},
      {"B.bmp", "a.bmp", -1},                   // letters as they stand (upper case first)
      {"x", "x1", -1},
      {"9", "a", -1},
      {"", "", 0},
      {"img99999999999999999999", "img100000000000000000000", -1},  // beyond any integer type
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    EXPECT_EQ(CompareNumberedNames(QString::fromLatin1(c.a), QString::fromLatin1(c.b)), c.order);
    EXPECT_EQ(CompareNumberedNames(QString::fromLatin1(c.b), QString::fromLatin1(c.a)), -c.order);
  }
}
