#include "common/startup/DiagForm806.h"
#include "common/startup/GlobalPaths.h"

#include <QListWidget>
#include <QPushButton>
#include <gtest/gtest.h>

namespace kestrom::shell {
namespace {

TEST(DiagForm806, CountsExactCaseSensitiveWholeTitles) {
  TDiagForm806 form;
  EXPECT_EQ(form.windowTitle(), "DiagForm806");
  const QString longTitle = AnalysisWindowTitle + QString(133 - AnalysisWindowTitle.size(), 'x');
  const struct {
    QStringList titles;
    int captures, analysis;
  } cases[] = {
      {{}, 0, 0},
      {{"Kestrom Capture"}, 1, 0},
      {{"Kestrom Capture", "Kestrom Ruvodo Capture", "Kestrom Capture"}, 3, 0},
      {{"kestrom capture", "Kestrom Capture ", "Kestrom Ruvodo Capture2"}, 0, 0},
      {{AnalysisWindowTitle, AnalysisWindowTitle.toUpper(), AnalysisWindowTitle + " "}, 0, 1},
      {{longTitle, AnalysisWindowTitle.left(AnalysisWindowTitle.size() - 1)}, 0, 0},
  };
  for (const auto& c : cases) {
    form.SetWindowTitleSource([&] { return c.titles; });
    EXPECT_EQ(form.CountCaptureWindows(), c.captures > 0) << c.titles.join('|').toStdString();
    if (!c.titles.isEmpty()) {
      EXPECT_EQ(form.ButtonNo(60)->text(), QString::number(c.captures));
    }
    EXPECT_EQ(form.CountAnalysisWindows(), c.analysis > 0) << c.titles.join('|').toStdString();
  }
}

TEST(DiagForm806, CutsLongTitlesAndSkipsEmptyOnes) {
  TDiagForm806 form;
  const QString title132 = QString(132, 'a');
  form.SetWindowTitleSource([&] { return QStringList{title132 + "b", QString(), "Kestrom Playlist and Video Editing"}; });
  EXPECT_TRUE(form.CountPlayListWindows());
  ASSERT_EQ(form.ListBox1->count(), 2);
  // Sorted: the playlist title comes first, then the long one cut to 132 characters.
  EXPECT_EQ(form.ListBox1->item(1)->text(), title132);
  EXPECT_EQ(form.ButtonNo(61)->text(), "1");
}

TEST(DiagForm806, EmptyScanKeepsTheReadOutCaption) {
  TDiagForm806 form;
  form.ReadOut(61, "before");
  form.SetWindowTitleSource([] { return QStringList{}; });
  EXPECT_FALSE(form.CountAnalysisWindows());
  EXPECT_EQ(form.ButtonNo(61)->text(), "before");
}

TEST(DiagForm806, DebuggingButtonsWriteTheirReadOuts) {
  TDiagForm806 form;
  form.ReadOut(14, "x");
  form.ButtonNo(1)->click();
  EXPECT_EQ(form.ButtonNo(1)->text(), "0050.03");
  EXPECT_EQ(form.ButtonNo(14)->text(), "");
  form.ScrollBar1Scroll(120);
  EXPECT_EQ(form.ButtonNo(24)->text(), "120");
  EXPECT_EQ(form.ButtonNo(64)->text(), "System Type");
  TDiagForm806 captureCopy(nullptr, true);
  EXPECT_EQ(captureCopy.ButtonNo(64), nullptr);
}

}  // namespace
}  // namespace kestrom::shell
