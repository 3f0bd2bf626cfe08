// The capture form's Filters page on the real component: video processing and the text overlay,
// the three settings files beside the program read at creation, and the folder chooser. Also the
// settings files and the chooser without widgets.

#include "CaptureFormFixture.h"
#include "capture/app/CaptureGlobals.h"
#include "capture/app/FilterSettings.h"
#include "capture/app/KestromCaptureForm.h"
#include "capture/app/OpenDirectory.h"
#include "capture/engine/SyncManager.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/registry/Registry.h"
#include "platform/ui/Dialogs.h"
#include "tests/TestSupport.h"
#include "platform/ui/Terminate.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace kestrom::capture {
namespace {

using kestrom::test::ReadAll;
using kestrom::test::WriteAll;

ui::FontChoice EightPointBoldBlack() {
  ui::FontChoice font;
  font.name = "Courier New";
  font.size = 8;
  font.bold = true;
  font.color = 0;
  return font;
}

// ---------------------------------------------------------------- without widgets

TEST(CaptureAppFilterSettings, FontFileRoundTripsAndDamagedFilesKeepWhatWasRead) {
  QTemporaryDir dir;
  const QString path = QDir(dir.path()).filePath("DefaultFilterFont.txt");
  ASSERT_TRUE(SaveFilterFont(path, EightPointBoldBlack()));
  EXPECT_EQ(ReadAll(path), "Courier New\r\n           0   8 1 0 0 0\r\n");
  ui::FontChoice read;
  EXPECT_TRUE(LoadFilterFont(path, read));
  EXPECT_EQ(read, EightPointBoldBlack());

  // A four-digit size keeps a blank before it, and reads back.
  ui::FontChoice big = EightPointBoldBlack();
  big.size = 1200;
  big.color = 255;
  ASSERT_TRUE(SaveFilterFont(path, big));
  EXPECT_EQ(ReadAll(path), "Courier New\r\n         255 1200 1 0 0 0\r\n");
  EXPECT_TRUE(LoadFilterFont(path, read));
  EXPECT_EQ(read, big);

  ui::FontChoice defaults;
  defaults.name = "Arial";
  defaults.size = 10;
  defaults.italic = true;
  const struct {
    const char* text;
    const char* name;
    core::TColor colour;
    int size;
  } damaged[] = {
      {"", "Arial", core::clBlack, 10},                      // nothing at all: the defaults
      {"\r\n 255 12 1 0 0 0\r\n", "Arial", core::clBlack, 10},  // no name
      {"Tahoma\r\n", "Tahoma", core::clBlack, 10},           // the name only
      {"Tahoma\r\n 255 x 1 0 0 0\r\n", "Tahoma", 255, 10},   // a bad size keeps the colour
      {"Tahoma\r\n 255 12 1\r\n", "Tahoma", 255, 12},        // flags missing: the style stays
      {"Tahoma\r\n 99999999999 12 1 0 0 0\r\n", "Tahoma", core::clBlack, 10},  // colour out of range
  };
  for (const auto& d : damaged) {
    SCOPED_TRACE(d.text);
    WriteAll(path, d.text);
    ui::FontChoice font = defaults;
    EXPECT_FALSE(LoadFilterFont(path, font));
    EXPECT_EQ(font.name, d.name);
    EXPECT_EQ(font.color, d.colour);
    EXPECT_EQ(font.size, d.size);
    EXPECT_TRUE(font.italic && !font.bold) << "the style changes only with all four flags";
  }
  ui::FontChoice untouched = defaults;
  EXPECT_FALSE(LoadFilterFont(QDir(dir.path()).filePath("missing.txt"), untouched));
  EXPECT_EQ(untouched, defaults);
}

TEST(CaptureAppFilterSettings, TextAndSequenceFolderFiles) {
  QTemporaryDir dir;
  const QString text = QDir(dir.path()).filePath("DefaultFilterText.txt");
  ASSERT_TRUE(SaveFilterText(text, {"Team A", "", "run 3"}));
  EXPECT_EQ(ReadAll(text), "Team A\r\n\r\nrun 3\r\n");
  EXPECT_EQ(LoadFilterText(text), QStringList({"Team A", "", "run 3"}));
  EXPECT_FALSE(LoadFilterText(QDir(dir.path()).filePath("none.txt")));

  const QString seq = QDir(dir.path()).filePath("DefaultSequenceDir.txt");
  ASSERT_TRUE(SaveSequenceDir(seq, dir.path()));
  EXPECT_EQ(ReadAll(seq), (dir.path() + "\r\n").toUtf8());
  EXPECT_EQ(LoadSequenceDir(seq), dir.path());
  ASSERT_TRUE(SaveSequenceDir(seq, dir.path() + "/gone"));
  EXPECT_FALSE(LoadSequenceDir(seq)) << "a folder that no longer exists is ignored";
  WriteAll(seq, "");
  EXPECT_FALSE(LoadSequenceDir(seq));

  EXPECT_EQ(OverlayText("a\nb"), "Kestrom\r\na\nb");
  EXPECT_EQ(OverlayOffset(720, 50), 360);
  EXPECT_EQ(OverlayOffset(576, 1), 6);  // 5.76
  EXPECT_EQ(OverlayOffset(250, 1), 2);  // 2.5 to the even neighbour
}

TEST(CaptureAppFilterSettings, TheFolderChooserChangesTheCurrentFolderUnlessToldNot) {
  QTemporaryDir start, chosen;
  const QString before = QDir::currentPath();
  ui::ScopedScriptedDialogs scripted;
  QStringList events;
  TOpenDirectory chooser;
  chooser.InitialDir = start.path();
  chooser.Title = "Sequence folder";
  chooser.OnShow = [&](TOpenDirectory&) { events << "show"; };
  chooser.OnFolderChange = [&](TOpenDirectory& c) { events << "folder " + c.Directory; };
  chooser.OnClose = [&](TOpenDirectory&) { events << "close"; };

  // Cancelled, or OK before any folder: nothing chosen, nothing changed.
  scripted.dialogs.Push(std::monostate{});
  scripted.dialogs.Push(QString());
  EXPECT_FALSE(chooser.Execute());
  EXPECT_FALSE(chooser.Execute());
  EXPECT_TRUE(chooser.Directory.isEmpty());
  EXPECT_EQ(QDir::currentPath(), before);
  ASSERT_EQ(scripted.dialogs.Asked().size(), 2u);
  EXPECT_EQ(std::get<QString>(scripted.dialogs.Asked()[0]), start.path());

  scripted.dialogs.Push(chosen.path());
  EXPECT_TRUE(chooser.Execute());
  EXPECT_EQ(chooser.Directory, chosen.path());
  EXPECT_TRUE(chooser.UNCDirectory.isEmpty());
  EXPECT_EQ(QDir::currentPath(), QDir(chosen.path()).canonicalPath());
  EXPECT_EQ(events, QStringList({"show", "close", "show", "close", "show", "folder " + chosen.path(), "close"}));

  QDir::setCurrent(before);
  chooser.NoChangeDir = true;
  scripted.dialogs.Push(start.path());
  EXPECT_TRUE(chooser.Execute());
  EXPECT_EQ(QDir::currentPath(), before);
}

// ---------------------------------------------------------------- the form

// The page's controls are driven through their handlers: without a camera the form's pages are
// disabled, and a disabled button takes no click.
class CaptureAppFilters : public CaptureFormFixture {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(CaptureFormFixture::SetUp());
    dshow::SetTestDevicesLive(false);
  }
  /** @brief A new form (the old one goes first), made as the program makes it; no start step. */
  TKestromCaptureForm& Make() {
    form_.reset();
    form_ = std::make_unique<TKestromCaptureForm>(mediator_);
    form_->SetAnalysisWindowScan([] { return true; });
    return *form_;
  }
  /** @brief The program folder, where the settings files live. */
  QString InProgram(const QString& name) const { return QDir(drive_.program.path()).filePath(name); }
  QLineEdit* SequenceFolder() const { return form_->findChild<QLineEdit*>("FileDirectoryEditBox"); }
};

TEST_F(CaptureAppFilters, FilterControlsSetTheComponentAndResetPutsThemBack) {
  TKestromCaptureForm& form = Make();
  engine::TFramecatcher* fc = form.Framecatcher;
  form.tbrBrightness->setValue(50);
  form.tbrConstrast->setValue(-20);
  EXPECT_EQ(fc->GetVideoProcessing_Brightness(), -50);
  EXPECT_EQ(fc->GetVideoProcessing_Contrast(), 20);
  const struct {
    QCheckBox* box;
    bool (engine::TFramecatcher::*get)() const;
  } boxes[] = {{form.chkFlipVertical, &engine::TFramecatcher::GetVideoProcessing_FlipVertical},
               {form.chkFlipHorizontal, &engine::TFramecatcher::GetVideoProcessing_FlipHorizontal},
               {form.chkInvertColors, &engine::TFramecatcher::GetVideoProcessing_InvertColors},
               {form.chkGreyScale, &engine::TFramecatcher::GetVideoProcessing_GrayScale}};
  for (const auto& b : boxes) {
    b.box->setChecked(true);
    EXPECT_TRUE((fc->*b.get)()) << b.box->objectName().toStdString();
  }
  form.rdgDeinterlacing->findChildren<QRadioButton*>()[2]->setChecked(true);
  EXPECT_EQ(fc->GetVideoProcessing_Deinterlacing(), engine::di_FullSize);

  // Without a camera the reset button does nothing; with one, everything goes back.
  form.btnResetAllClick();
  EXPECT_EQ(fc->GetVideoProcessing_Brightness(), -50);
  form.NoCameraMode = false;
  form.chkText->setChecked(true);
  form.btnResetAllClick();
  EXPECT_EQ(form.tbrBrightness->value(), 0);
  EXPECT_EQ(fc->GetVideoProcessing_Brightness(), 0);
  EXPECT_EQ(fc->GetVideoProcessing_Contrast(), 0);
  for (const auto& b : boxes) EXPECT_FALSE((fc->*b.get)()) << b.box->objectName().toStdString();
  EXPECT_EQ(fc->GetVideoProcessing_Deinterlacing(), engine::di_Disabled);
  EXPECT_FALSE(form.chkText->isChecked());
  EXPECT_TRUE(form.mmoLog->toPlainText().contains("All Filters have been reset"));
  // Unchecking "text overlay" applied the overlay again: it stays on.
  EXPECT_TRUE(fc->GetTextOverlay_Enabled());
}

TEST_F(CaptureAppFilters, TheOverlayFollowsTheMemoTheBarsAndTheFont) {
  TKestromCaptureForm& form = Make();
  engine::TFramecatcher* fc = form.Framecatcher;
  form.Memo1->setPlainText("Jump 2");
  EXPECT_EQ(fc->GetTextOverlay_String(), "Kestrom\r\nJump 2");
  form.TrackBar1->setValue(50);
  form.TrackBar2->setValue(25);
  EXPECT_EQ(fc->GetTextOverlay_Top(), OverlayOffset(fc->GetVideoSizeHeight(), 50));
  EXPECT_EQ(fc->GetTextOverlay_Left(), OverlayOffset(fc->GetVideoSizeWidth(), 25));

  dialogs_.dialogs.Push(EightPointBoldBlack());
  form.Button12Click();
  EXPECT_EQ(fc->GetTextOverlay_Font(), EightPointBoldBlack());
  EXPECT_EQ(form.Memo1Font(), EightPointBoldBlack());
  ASSERT_EQ(dialogs_.dialogs.Asked().size(), 1u);

  form.chkText->setChecked(true);
  form.chkText->setChecked(false);
  EXPECT_TRUE(fc->GetTextOverlay_Enabled());
  EXPECT_EQ(fc->GetTextOverlay_Right(), 2000);

  // Device selection applies the overlay too.
  form.StartTimerTimer();
  EXPECT_TRUE(fc->GetTextOverlay_Enabled());
  EXPECT_EQ(fc->GetTextOverlay_String(), "Kestrom\r\nJump 2");
  EXPECT_EQ(fc->GetTextOverlay_Top(), OverlayOffset(fc->GetVideoSizeHeight(), 50));
}

// "Save" keeps text and font for the next run; the next form reads them back exactly.
TEST_F(CaptureAppFilters, SavedTextAndFontComeBackInTheNextRun) {
  TKestromCaptureForm& form = Make();
  EXPECT_TRUE(form.Memo1->toPlainText().isEmpty()) << "the creation step empties the memo";
  form.Memo1->setPlainText("Team A\nrun 3");
  dialogs_.dialogs.Push(EightPointBoldBlack());
  form.Button12Click();
  form.SaveTextButtonClick();
  EXPECT_EQ(ReadAll(InProgram("DefaultFilterFont.txt")), "Courier New\r\n           0   8 1 0 0 0\r\n");
  EXPECT_EQ(ReadAll(InProgram("DefaultFilterText.txt")), "Team A\r\nrun 3\r\n");

  TKestromCaptureForm& next = Make();
  EXPECT_EQ(next.Memo1Font(), EightPointBoldBlack());
  EXPECT_EQ(next.Memo1->toPlainText(), "Team A\nrun 3");
}

TEST_F(CaptureAppFilters, MalformedSettingsFilesKeepTheDefaults) {
  const ui::FontChoice defaults = Make().Memo1Font();
  const QString defaultFolder = SequenceFolder()->text();
  WriteAll(InProgram("DefaultFilterFont.txt"), "\r\n12 x\r\n");
  WriteAll(InProgram("DefaultSequenceDir.txt"), "/no/such/folder\r\n");
  TKestromCaptureForm& form = Make();
  EXPECT_EQ(form.Memo1Font(), defaults);
  EXPECT_EQ(SequenceFolder()->text(), defaultFolder);
  EXPECT_EQ(form.OpenDirectory1.InitialDir, defaultFolder);
  EXPECT_TRUE(dialogs_.dialogs.Asked().empty()) << "no message";
}

// "Open" puts the chosen folder into the sequence folder and keeps it for the next run.
TEST_F(CaptureAppFilters, OpenSavesTheChosenFolder) {
  QTemporaryDir folder;
  TKestromCaptureForm& form = Make();
  ASSERT_NE(form.OpenDir, nullptr);
  const QString before = SequenceFolder()->text();
  dialogs_.dialogs.Push(std::monostate{});
  form.OpenDirClick();
  EXPECT_EQ(SequenceFolder()->text(), before);
  EXPECT_FALSE(QFile::exists(InProgram("DefaultSequenceDir.txt")));

  dialogs_.dialogs.Push(folder.path());
  form.OpenDirClick();
  EXPECT_EQ(SequenceFolder()->text(), folder.path());
  EXPECT_EQ(form.OpenDirectory1.InitialDir, folder.path());
  EXPECT_EQ(ReadAll(InProgram("DefaultSequenceDir.txt")), (folder.path() + "\r\n").toUtf8());
  EXPECT_EQ(QDir::currentPath(), QDir(folder.path()).canonicalPath()) << "the chosen folder is the current one";

  // The next run starts in the program folder again.
  QDir::setCurrent(drive_.program.path());
  TKestromCaptureForm& next = Make();
  EXPECT_EQ(SequenceFolder()->text(), folder.path());
  EXPECT_EQ(next.OpenDirectory1.InitialDir, folder.path());
}

}  // namespace
}  // namespace kestrom::capture
