// The memo pad: its font file, its templates, its text file and keeping the coach's edits.
#include "analysis/sheets/MemoFiles.h"
#include "analysis/sheets/MemoPad.h"
#include "platform/ui/Dialogs.h"
#include "tests/TestSupport.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kestrom::sheets {
namespace {

using kestrom::test::ReadAll;
using kestrom::test::WriteAll;

ui::FontChoice Font(const QString& name, int size, core::TColor colour, bool bold, bool italic, bool underline,
                    bool strikeOut) {
  ui::FontChoice font;
  font.name = name;
  font.size = size;
  font.color = colour;
  font.bold = bold;
  font.italic = italic;
  font.underline = underline;
  font.strikeOut = strikeOut;
  return font;
}

TEST(MemoFontFile, LinesHaveFixedFieldsAndReadBack) {
  const struct {
    ui::FontChoice font;
    QString numbers;
  } cases[] = {
      // 12 + 4 + 2 + 2 + 2 + 2 characters.
      {Font("Arial", 10, 255, true, false, true, false), "         255  10 1 0 1 0"},
      {Font("Times New Roman", 12, core::clWindowText, false, true, false, true), " -2147483640  12 0 1 0 1"},
      // A four-digit size stays apart from the colour.
      {Font("Arial", 1000, 255, false, false, false, false), "         255 1000 0 0 0 0"},
      {Font("Courier New", 8, 0, true, true, true, true), "           0   8 1 1 1 1"},
  };
  for (const auto& c : cases) {
    const QStringList lines = FontFileLines(c.font);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], c.font.name);
    EXPECT_EQ(lines[1], c.numbers);
    EXPECT_EQ(ParseFontFile(lines.join("\r\n") + "\r\n"), c.font) << c.numbers.toStdString();
  }
  EXPECT_EQ(FontFileLines(cases[0].font)[1].size(), 24);
}

TEST(MemoFontFile, StylesNeedExactlyOneAndDamagedFilesGiveNothing) {
  const std::optional<ui::FontChoice> two = ParseFontFile("Arial\r\n 255 10 2 1 -1 0\r\n");
  ASSERT_TRUE(two);
  EXPECT_FALSE(two->bold);
  EXPECT_TRUE(two->italic);
  EXPECT_FALSE(two->underline);
  // Free format: any blanks and line ends between the numbers; LF alone is fine too.
  EXPECT_TRUE(ParseFontFile("Arial\n255\n10\n1 0\n1 0"));
  for (const char* damaged : {"", "Arial", "Arial\r\n", "Arial\r\n 255 10 1 0 1\r\n", "Arial\r\n 255 ten 1 0 1 0",
                              "\r\n 255 10 1 0 1 0", "Arial\r\n 99999999999 10 1 0 1 0"})
    EXPECT_FALSE(ParseFontFile(damaged)) << damaged;
}

class MemoPad : public ::testing::Test {
 protected:
  void SetUp() override {
    pad.CurrentTime = [] { return QDateTime(QDate(2026, 3, 4), QTime(14, 5, 9)); };
    pad.SetVideo(Path("clip"));
  }
  QString Path(const QString& name) const { return QDir(folder.path()).filePath(name); }
  QTemporaryDir folder;
  ui::ScopedScriptedDialogs scripted;
  TNewMemoPad pad{nullptr};
};

TEST_F(MemoPad, NewMemoStartsFromTheTemplateWithTheTime) {
  EXPECT_EQ(pad.MemoFile, Path("clip.txt"));
  EXPECT_EQ(pad.MemoFontFile, Path("clip.font"));
  pad.show();
  const QStringList expected = {"Name",       "      ", "Date:    14:05:09", "      ", "Activity  ", "      ",
                                "Comments:  ", "      "};
  EXPECT_EQ(pad.MemoLines(), expected);
  EXPECT_EQ(pad.Edit1->text(), " ");
  EXPECT_FALSE(pad.MemoModified);
  EXPECT_EQ(pad.MemoFont(), TNewMemoPad::DefaultFont());

  pad.AddSessionResults1Click();
  const QStringList lines = pad.MemoLines();
  ASSERT_EQ(lines.size(), 18);
  EXPECT_EQ(lines[8], "Analysis Session: ");
  EXPECT_EQ(lines[14], "Date: 14:05:09");
  EXPECT_EQ(lines[17], QString(9, ' '));
  EXPECT_TRUE(pad.MemoModified);
}

TEST_F(MemoPad, SaveWritesCrLfTextAndFontThenShowReadsThemBack) {
  pad.show();
  pad.SetMemoLines({"Good knee drive", "", "Arms late", ""});
  EXPECT_TRUE(pad.MemoModified);
  pad.SetMemoFont(Font("Arial", 10, 255, true, false, true, false));
  ASSERT_TRUE(pad.SaveComments1Click());
  EXPECT_FALSE(pad.MemoModified);
  EXPECT_EQ(ReadAll(Path("clip.txt")), "Good knee drive\r\n\r\nArms late\r\n\r\n");
  EXPECT_EQ(ReadAll(Path("clip.font")), "Arial\r\n         255  10 1 0 1 0\r\n");

  TNewMemoPad other(nullptr);
  other.SetVideo(Path("clip"));
  other.show();
  EXPECT_EQ(other.MemoLines(), QStringList({"Good knee drive", "", "Arms late", ""}));
  EXPECT_EQ(other.MemoFont(), Font("Arial", 10, 255, true, false, true, false));
  EXPECT_EQ(other.Edit1->text(), Path("clip"));
  EXPECT_FALSE(other.MemoModified);
}

TEST_F(MemoPad, NegativeColourSurvivesTheFontFile) {
  pad.SetMemoFont(Font("Verdana", 14, core::clHighlightText, false, true, false, false));
  ASSERT_TRUE(pad.SaveFontFile(Path("neg.font")));
  TNewMemoPad other(nullptr);
  other.LoadFontFile(Path("neg.font"));
  EXPECT_EQ(other.MemoFont().color, core::clHighlightText);
  EXPECT_EQ(other.MemoFont(), pad.MemoFont());
}

TEST_F(MemoPad, ShortOrMissingFontFileChangesNothing) {
  const ui::FontChoice before = Font("Georgia", 16, 0x00FF00, true, true, false, false);
  pad.SetMemoFont(before);
  WriteAll(Path("short.font"), "Arial\r\n         255  10\r\n");
  pad.LoadFontFile(Path("short.font"));
  EXPECT_EQ(pad.MemoFont(), before);
  pad.LoadFontFile(Path("none.font"));
  EXPECT_EQ(pad.MemoFont(), before);
}

TEST_F(MemoPad, HidingAndShowingKeepsUnsavedEdits) {
  WriteAll(Path("clip.txt"), "From the file\r\n");
  pad.show();
  EXPECT_EQ(pad.MemoLines(), QStringList({"From the file"}));
  pad.Memo1->setPlainText("Not saved yet");
  pad.CloseMemo1->trigger();
  EXPECT_FALSE(pad.isVisible());
  pad.show();
  EXPECT_EQ(pad.MemoLines(), QStringList({"Not saved yet"}));
  EXPECT_TRUE(pad.MemoModified);

  // Another video's memo is read afresh.
  WriteAll(Path("other.txt"), "Other clip\r\n");
  pad.hide();
  pad.SetVideo(Path("other"));
  pad.show();
  EXPECT_EQ(pad.MemoLines(), QStringList({"Other clip"}));
  EXPECT_FALSE(pad.MemoModified);
}

TEST_F(MemoPad, FailedSaveIsShownAndKeepsTheEditsMarked) {
  pad.SetVideo(Path("missing/clip"));
  pad.show();
  pad.Memo1->setPlainText("Keep me");
  scripted.dialogs.Push(ui::mrOk);
  EXPECT_FALSE(pad.SaveComments1Click());
  EXPECT_TRUE(pad.MemoModified);
  ASSERT_EQ(scripted.dialogs.MessageTexts().size(), 1);
  EXPECT_TRUE(scripted.dialogs.MessageTexts()[0].contains("missing/clip.txt"));
}

TEST_F(MemoPad, HorseProfileKeepsItsFontBesideIt) {
  EXPECT_EQ(HorseProfileFontFile("/data/star.hdb"), "/data/star.fnt");
  pad.NewHorseProfile1Click();
  EXPECT_EQ(pad.MemoLines().first(), "HORSE");
  EXPECT_EQ(pad.MemoLines().size(), 12);
  EXPECT_FALSE(pad.MemoModified);
  pad.SetMemoFont(Font("Arial", 11, 0x0000FF, false, false, true, false));
  scripted.dialogs.Push(Path("star.hdb"));
  pad.SaveHorseProfile1Click();
  EXPECT_TRUE(QFileInfo::exists(Path("star.fnt")));
  EXPECT_TRUE(ReadAll(Path("star.hdb")).startsWith("HORSE\r\n      \r\nName: \r\n"));
  EXPECT_EQ(pad.Edit1->text(), Path("star.hdb"));

  TNewMemoPad other(nullptr);
  scripted.dialogs.Push(Path("star.hdb"));
  other.OpenHorseProfile1Click();
  EXPECT_EQ(other.MemoLines(), pad.MemoLines());
  EXPECT_EQ(other.MemoFont(), pad.MemoFont());
  EXPECT_EQ(std::get<ui::FileRequest>(scripted.dialogs.Asked().back()).filter,
            "Horse Profiles (Database *.hdb)|*.hdb");
}

TEST_F(MemoPad, FontChoiceMarksTheMemoModified) {
  pad.show();
  const ui::FontChoice chosen = Font("Arial", 12, 0x008000, false, true, false, false);
  scripted.dialogs.Push(chosen);
  pad.ChangeFont1->trigger();
  EXPECT_EQ(pad.MemoFont(), chosen);
  EXPECT_TRUE(pad.MemoModified);
  scripted.dialogs.Push(std::monostate{});
  pad.ChangeFont1Click();
  EXPECT_EQ(pad.MemoFont(), chosen);
}

TEST_F(MemoPad, PrintRecordMakesAPdf) {
  pad.show();
  ui::PrintTarget target;
  target.pdfFile = Path("memo.pdf");
  scripted.dialogs.Push(target);
  pad.PrintMemo1->trigger();
  EXPECT_TRUE(ReadAll(target.pdfFile).startsWith("%PDF"));
}

TEST_F(MemoPad, SizeStaysWithinItsLimits) {
  EXPECT_EQ(pad.size(), QSize(360, 508));
  pad.resize(100, 100);
  EXPECT_EQ(pad.size(), QSize(360, 504));
  pad.resize(2000, 2000);
  EXPECT_EQ(pad.size(), QSize(600, 800));
}

}  // namespace
}  // namespace kestrom::sheets
