#include "StartUpFixture.h"
#include "analysis/shell/FirstRunMarker.h"
#include "common/startup/GlobalPaths.h"
#include "analysis/shell/RegistrationForms.h"
#include "analysis/window/CompanionForms.h"
#include "analysis/window/Palettes.h"
#include "platform/core/Paths.h"
#include "platform/media/MediaPlayer.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

namespace kestrom::window {
namespace {

using shell::Globals;

QString MarkerPath() { return core::JoinPath(Globals().AppFolder, Globals().FirstRunMarkerFile); }

class AnalysisStartUp : public test::StartUpFixture {
 protected:
  void WriteMarker() {
    QFile marker(MarkerPath());
    ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
    marker.write("anything\r\n");
  }
  QStringList DialogFolders() const {
    QStringList folders;
    for (TKestromForm* w : {Main(), Best()})
      for (const ui::FileRequest* d : {&w->OpenDialog1, &w->OpenDialog2, &w->OpenDialog3, &w->SaveDialog1})
        folders << d->initialDir;
    return folders;
  }
};

TEST_F(AnalysisStartUp, CreationWiresThePairAndArmsTheStartTimer) {
  for (TKestromForm* w : {Main(), Best()}) EXPECT_EQ(w->windowTitle(), shell::AnalysisWindowTitle);
  EXPECT_EQ(shell::AnalysisWindowTitle, "Kestrom Systems Ltd.   Measuring Motion Frame by Frame...");
  for (TKestromForm* w : {Main(), Best()}) EXPECT_EQ(w->MediaPlayer1->Display(), &w->WindowCanvas.Image());
  EXPECT_TRUE(Main()->IsMain && !Main()->IsBest);
  EXPECT_TRUE(Best()->IsBest && !Best()->IsMain);
  const struct {
    TPalette* palette;
    int owner;
    const char* caption;
  } palettes[] = {
      {Main()->MarkerForm, 1, "Markers - Main"},       {Best()->MarkerForm, 2, "Markers - Best"},
      {Main()->ShapesControlForm, 1, "Shapes - Main"}, {Best()->ShapesControlForm, 2, "Shapes - Best"},
      {Main()->AnglesControlForm, 1, "Angles - Main"}, {Best()->AnglesControlForm, 2, "Angles - Best"},
  };
  for (const auto& p : palettes) {
    EXPECT_EQ(p.palette->OwnerIndex, p.owner);
    EXPECT_EQ(p.palette->windowTitle(), p.caption);
    EXPECT_EQ(p.palette->OwnerWindow(), p.owner == 1 ? Main() : Best());
  }
  EXPECT_TRUE(Best()->SplitScreenButton->isHidden());
  EXPECT_TRUE(Best()->Teaching->isHidden());
  EXPECT_FALSE(Main()->Teaching->isHidden());
  EXPECT_TRUE(Main()->StartTimer->isActive());
  EXPECT_EQ(Main()->StartTimer->interval(), 5);
  EXPECT_EQ(Globals().ProgramTitle, "Kestrom");
  EXPECT_EQ(Globals().BackgroundColour, 0x808000);
  EXPECT_EQ(Globals().NTSCHintFile, QDir::currentPath() + "/Kestrom NTSC Video Hint.dat");
  // Outer bounds of the whole screen less the task bar.
  EXPECT_EQ(Main()->Bounds(), QRect(0, 0, 1278, 996));
}

TEST_F(AnalysisStartUp, StartTimerSetsBothWindowsUpOnce) {
  WriteMarker();
  Main()->StartTimerTimer();
  EXPECT_FALSE(Main()->StartTimer->isActive());
  EXPECT_FALSE(ui::Terminated());
  // Main fills the screen for teaching; Best waits hidden in the vertical layout.
  EXPECT_EQ(Main()->Layout, 3);
  EXPECT_EQ(Main()->Bounds(), QRect(0, 0, 1278, 996));
  EXPECT_EQ(Best()->Layout, 1);
  EXPECT_EQ(Best()->Bounds(), QRect(510, 0, 504, 721));
  EXPECT_FALSE(Best()->isVisible());
  for (TKestromForm* w : {Main(), Best()}) {
    EXPECT_EQ(w->windowTitle(), shell::AnalysisWindowTitle);
    EXPECT_TRUE(w->Started);
    EXPECT_EQ(w->ZoomStep, 10);
    EXPECT_EQ(w->MenuPanelHeight, 56);
    EXPECT_EQ(w->FrameWidth, 720);
    EXPECT_EQ(w->FrameHeight, 576);
    EXPECT_TRUE(w->Panel4->isVisibleTo(w));
    EXPECT_EQ(w->FileControls->currentWidget(), w->MainSheet);
    EXPECT_FALSE(w->FileControls->isTabVisible(w->FileControls->indexOf(w->EquineCalSheet)));
    EXPECT_FALSE(w->FileControls->isTabVisible(w->FileControls->indexOf(w->Digitisation)));
    EXPECT_EQ(w->PenColour, core::clRed);
    EXPECT_EQ(w->PenWidth, 2);
    EXPECT_TRUE(w->MemoPad->File1->isVisible());
    EXPECT_FALSE(w->MemoPad->EquineData1->isVisible());
    EXPECT_FALSE(w->MemoPad->AddSessionResults1->isVisible());
    EXPECT_EQ(w->Button9->text(), QString::number(w->AreaWidth));
    EXPECT_EQ(w->SnapshotPicture.size(), QSize(w->AreaWidth, w->AreaHeight));
  }
  EXPECT_EQ(Main()->AreaWidth, 1262);
  EXPECT_EQ(Main()->AreaHeight, 876);
  EXPECT_TRUE(Best()->EmailSpeedButton->isHidden());
  EXPECT_TRUE(Main()->CreateExportAVIButton->isHidden());
  EXPECT_TRUE(Main()->PlayListSpeedButton->isHidden());
  EXPECT_EQ(Best()->StatusBar1->PanelText(6), "Sync Off");
  EXPECT_EQ(Forms().SplashForm, nullptr);
}

TEST_F(AnalysisStartUp, MarkerPresentRunsNoCheckAndKeepsTheDialogFolders) {
  WriteMarker();
  Main()->OpenDialog1.initialDir = "/own/folder";
  Main()->StartTimerTimer();
  EXPECT_EQ(fake.checks.questions, 0);
  EXPECT_TRUE(modalForms.isEmpty());
  EXPECT_TRUE(dialogs.dialogs.Asked().empty());
  EXPECT_FALSE(ui::Terminated());
  QStringList expected(8, QString());
  expected[0] = "/own/folder";
  EXPECT_EQ(DialogFolders(), expected);
}

TEST_F(AnalysisStartUp, AllPresentWritesTheMarkerAndPointsTheDialogsAtTheSamples) {
  Main()->StartTimerTimer();
  EXPECT_FALSE(ui::Terminated());
  EXPECT_TRUE(dialogs.dialogs.Asked().empty());
  EXPECT_TRUE(modalForms.isEmpty());
  QFile marker(MarkerPath());
  ASSERT_TRUE(marker.open(QIODevice::ReadOnly));
  EXPECT_EQ(marker.readAll(), QByteArray("Kestrom Ruvodo Upgrade 2 Installed OK\r\n"));
  EXPECT_EQ(MarkerPath(), QDir::currentPath() + "/Kestrom Ruvodo Installation Upgrade 2.dat");
  // No samples folder on any drive: the default one still reaches every dialog.
  EXPECT_EQ(Globals().SamplesFolder, shell::SamplesFolderOn(core::SystemDrive()));
  EXPECT_EQ(DialogFolders(), QStringList(8, Globals().SamplesFolder));
}

TEST_F(AnalysisStartUp, MissingAviSynthEndsTheProgramAfterOneMessage) {
  fake.checks.aviSynth = false;
  dialogs.dialogs.Push(ui::mrOk);
  onModal = [](QDialog& form) { form.close(); };
  Main()->StartTimerTimer();
  EXPECT_EQ(modalForms, QStringList{"RegistrationAviForm"});
  ASSERT_EQ(dialogs.dialogs.MessageTexts(),
            QStringList{"Avisynth is a software utility that helps with the capture\r\n"
                        "of video files. Please re-run the application and install AviSynth."});
  const auto& asked = std::get<ui::MessageRequest>(dialogs.dialogs.Asked()[0]);
  EXPECT_EQ(asked.position, QPoint(64, 86));
  EXPECT_EQ(asked.type, ui::MsgDlgType::mtInformation);
  EXPECT_TRUE(ui::Terminated());
  EXPECT_FALSE(QFileInfo::exists(MarkerPath()));
  EXPECT_EQ(DialogFolders(), QStringList(8, QString()));
}

TEST_F(AnalysisStartUp, MissingCodecsAndDirectXShowEveryMessageInOrderThenEnd) {
  fake.checks.codec = false;
  fake.checks.directX = false;
  for (int i = 0; i < 4; ++i) dialogs.dialogs.Push(ui::mrOk);
  // The coach presses "OK"; no installer is there, so the coach closes the form.
  onModal = [](QDialog& form) {
    form.findChild<QPushButton*>("BitBtn1")->click();
    form.close();
  };
  Main()->StartTimerTimer();
  EXPECT_EQ(modalForms, QStringList{"RegistrationCodecForm"});
  const QStringList texts = dialogs.dialogs.MessageTexts();
  ASSERT_EQ(texts.size(), 4);
  EXPECT_TRUE(texts[0].endsWith("You will need to load the codecs before using the application."));
  EXPECT_EQ(texts[1], "Some of Microsofts's video codecs are not installed.\r\n"
                      "Video codecs are files which compress the size of digital\r\n"
                      "videos. Please load the codecs from either your\r\n");
  EXPECT_TRUE(texts[2].startsWith("DirectX is not installed."));
  EXPECT_EQ(texts[3], "Please load required utilities and then restart Kestrom");
  EXPECT_TRUE(ui::Terminated());
  EXPECT_FALSE(QFileInfo::exists(MarkerPath()));
}

TEST_F(AnalysisStartUp, MissingDirectXAloneStillEndsTheProgram) {
  fake.checks.directX = false;
  for (int i = 0; i < 2; ++i) dialogs.dialogs.Push(ui::mrOk);
  Main()->StartTimerTimer();
  const QStringList texts = dialogs.dialogs.MessageTexts();
  ASSERT_EQ(texts.size(), 2);
  EXPECT_TRUE(texts[0].startsWith("DirectX is not installed."));
  EXPECT_EQ(texts[1], "Please load required utilities and then restart Kestrom");
  EXPECT_TRUE(ui::Terminated());
  EXPECT_FALSE(QFileInfo::exists(MarkerPath()));
}

TEST_F(AnalysisStartUp, AnUnwritableProgramFolderKeepsTheMarkerInTheUsersFolderSilently) {
  // A program folder on a file system that takes no new files, whoever runs the test.
  Globals().AppFolder = "/proc";
  Main()->StartTimerTimer();
  EXPECT_TRUE(dialogs.dialogs.MessageTexts().isEmpty());
  EXPECT_FALSE(ui::Terminated());
  EXPECT_FALSE(QFileInfo(MarkerPath()).isFile());
  const QString own = QDir(clean.config.path()).filePath("Kestrom/Kestrom Ruvodo Installation Upgrade 2.dat");
  EXPECT_TRUE(QFileInfo(own).isFile());
  EXPECT_EQ(DialogFolders(), QStringList(8, Globals().SamplesFolder));
  // The next start finds the user's marker and runs no check.
  EXPECT_TRUE(shell::FirstRunDone());
}

TEST_F(AnalysisStartUp, EveryButtonShowsItsWholeCaptionAndNoneOverlap) {
  for (TKestromForm* w : {Main(), Best()}) {
    for (const QToolButton* b : w->MainSheet->findChildren<QToolButton*>(QString(), Qt::FindDirectChildrenOnly))
      EXPECT_LT(b->geometry().right(), w->SpeedBarPanel->x()) << b->objectName().toStdString();
    const QList<QAbstractButton*> buttons = w->findChildren<QAbstractButton*>();
    for (const QAbstractButton* b : buttons) {
      if (b->text().isEmpty() || !qobject_cast<const QToolButton*>(b)) continue;
      const int text = b->fontMetrics().horizontalAdvance(QString(b->text()).remove('&'));
      EXPECT_GE(b->width(), text + 6) << b->objectName().toStdString();
      for (const QAbstractButton* other : buttons)
        if (other != b && !other->isHidden() && !b->isHidden() && other->parentWidget() == b->parentWidget() &&
            qobject_cast<const QToolButton*>(other)) {
          EXPECT_FALSE(b->geometry().intersects(other->geometry()))
              << b->objectName().toStdString() << " and " << other->objectName().toStdString();
        }
    }
  }
}

}  // namespace
}  // namespace kestrom::window
