// The capture form on the real component, graph and test camera: its start step, device menu,
// pages, tape transport buttons, timers and the way to the preallocation check, with scripted
// message boxes and a first-run back end the test controls.

#include "CaptureFormFixture.h"
#include "capture/app/CaptureGlobals.h"
#include "capture/app/CaptureModes.h"
#include "capture/app/FormTimers.h"
#include "capture/app/KestromCaptureForm.h"
#include "capture/engine/DeviceProvider.h"
#include "capture/engine/FKProperties.h"
#include "capture/engine/SyncManager.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/registry/Registry.h"
#include "platform/ui/Dialogs.h"
#include "platform/ui/Terminate.h"
#include "platform/ui/WidgetColours.h"
#include "platform/core/Paths.h"
#include "tests/platform/core/QtPrint.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>
#include <memory>

namespace kestrom::capture {
namespace {

const QString kVideoCodec = "Microsoft MPEG-4 Video Codec V2";

class CaptureFormTest : public CaptureFormFixture {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(CaptureFormFixture::SetUp());
    dshow::SetTestDevicesLive(false);
    UseTestCameraOnly();
  }

  /** @brief Answers the next boxes with OK. */
  void AnswerOk(int boxes) {
    for (int i = 0; i < boxes; ++i) dialogs_.dialogs.Push(ui::mrOk);
  }
  QPoint At(int leftOffset) const { return {form_->x() + leftOffset, form_->y() + 180}; }
  /** @brief Clicks a tab of the page control as the user does. */
  void ClickTab(int index) {
    QTabBar* bar = form_->PageControl1->tabBar();
    const QPoint centre = bar->tabRect(index).center();
    QMouseEvent press(QEvent::MouseButtonPress, centre, bar->mapToGlobal(centre), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, centre, bar->mapToGlobal(centre), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(bar, &press);
    QApplication::sendEvent(bar, &release);
  }
  void ExpectPreviewSettings() {
    engine::TFramecatcher* fc = form_->Framecatcher;
    EXPECT_EQ(State(), engine::cs_Preview);
    EXPECT_EQ(fc->GetPreviewZoomSize(), 78);
    EXPECT_EQ(fc->GetVideoProcessing_Deinterlacing(), engine::di_Disabled);
    EXPECT_EQ(fc->GetVideoSize(), 4);
    EXPECT_EQ(fc->GetFrameGrabber(), engine::fg_PreviewStream);
    EXPECT_FALSE(fc->isHidden());
  }
};

class CaptureAppStartUp : public CaptureFormTest {};
class CaptureAppPages : public CaptureFormTest {};
class CaptureAppSetupPage : public CaptureFormTest {};

// ---------------------------------------------------------------- start-up

TEST_F(CaptureAppStartUp, OneDeviceStartsPreviewWithoutABox) {
  TKestromCaptureForm& form = Start(false);
  EXPECT_EQ(form.windowTitle(), "Kestrom Ruvodo Capture");
  EXPECT_TRUE(form.StartTimer->isActive());
  EXPECT_TRUE(form.NoCameraMode);
  EXPECT_FALSE(form.PageControl1->isTabVisible(WorkingPage));
  EXPECT_TRUE(QDir(Globals().WorkingFolder).exists());

  form.StartTimerTimer();
  EXPECT_TRUE(MessageRequests().isEmpty()) << MessageRequests().value(0).text.toStdString();
  EXPECT_FALSE(ui::Terminated());
  EXPECT_FALSE(form.StartTimer->isActive());
  EXPECT_FALSE(form.NoCameraMode);
  ASSERT_EQ(form.DeviceComboBox->count(), 1);
  EXPECT_EQ(form.DeviceComboBox->itemText(0), QString::fromUtf16(dshow::kTestCameraName) + " (WDM)");
  ExpectPreviewSettings();
  EXPECT_EQ(form.edtDisplaySize->text(), "78%");
  EXPECT_EQ(form.tbrPreviewZoomSize->value(), 78);
  EXPECT_TRUE(LogLines().contains("Camera is now on and connected...")) << LogLines().join('|').toStdString();
  for (int page = 0; page < kCapturePageCount; ++page) EXPECT_TRUE(form.PageControl1->isTabEnabled(page)) << page;
  EXPECT_EQ(form.PageControl1->currentIndex(), PreviewPage);
  // The component's lists of the chosen device are on the Working page.
  EXPECT_GT(form.cboVideoSizes->count(), 4);
  // Linux has no tape transport.
  EXPECT_FALSE(form.DVTapeAvailable());

  // Frames arrive.
  const int64_t first = form.Framecatcher->GetFrameNumber();
  EXPECT_TRUE(WaitFor([&] { return form.Framecatcher->GetFrameNumber() > first + 3; }));
}

TEST_F(CaptureAppStartUp, NoDeviceShowsTheBoxOnceAndLeavesOnlySetup) {
  AnswerOk(3);
  provider_->noCamera = true;
  TKestromCaptureForm& form = Start();
  const QList<ui::MessageRequest> messages = MessageRequests();
  ASSERT_EQ(messages.size(), 1);
  EXPECT_TRUE(messages[0].text.endsWith("is to check and/or setup the Pre-Allocation files"));
  EXPECT_EQ(messages[0].position, At(520));
  EXPECT_FALSE(ui::Terminated());
  EXPECT_TRUE(form.NoCameraMode);
  EXPECT_EQ(State(), engine::cs_None);
  for (int page = 0; page < SetupPage; ++page) EXPECT_FALSE(form.PageControl1->isTabEnabled(page)) << page;
  EXPECT_TRUE(form.PageControl1->isTabEnabled(SetupPage));
  EXPECT_TRUE(form.PageControl1->isTabVisible(SetupPage));

  // Without a camera only Setup opens; every other page the user asks for shows the box again.
  EXPECT_EQ(form.PageControl1->currentIndex(), SetupPage);
  ClickTab(CapturePageIndex);
  ClickTab(PlayerPage);
  ASSERT_EQ(MessageRequests().size(), 3);
  EXPECT_EQ(MessageRequests()[1].text, messages[0].text);
  EXPECT_EQ(MessageRequests()[2].position, At(520));
  EXPECT_EQ(form.PageControl1->currentIndex(), SetupPage);
  // A page change by code shows nothing.
  form.PageControl1->setCurrentIndex(WorkingPage);
  EXPECT_EQ(MessageRequests().size(), 3);

  // Setup still works: the check is asked for, no preview is stopped or started.
  int asked = 0;
  QObject::connect(&mediator_, &CaptureMediator::PreallocationCheckRequested, [&] { ++asked; });
  form.SampleSetupButton->click();
  EXPECT_EQ(asked, 1);
  emit mediator_.PreallocationClosed(false);
  EXPECT_EQ(State(), engine::cs_None);
}

TEST_F(CaptureAppStartUp, MissingAnalysisWindowOrCodecsEndTheProgram) {
  struct Case {
    const char* name;
    bool analysisWindow;
    bool codecs;
    int boxes;  // codec boxes at Left + 430
  };
  for (const Case& c : {Case{"no analysis window", false, true, 0}, Case{"codecs missing", true, false, 2}}) {
    SCOPED_TRACE(c.name);
    ui::ResetTerminated();
    analysisWindowOpen_ = c.analysisWindow;
    checks_.checks.codec = c.codecs;
    AnswerOk(c.boxes);
    const qsizetype before = MessageRequests().size();
    TKestromCaptureForm& form = Start();
    const QList<ui::MessageRequest> boxes = MessageRequests().mid(before);
    ASSERT_EQ(boxes.size(), c.boxes);
    for (const ui::MessageRequest& m : boxes) {
      EXPECT_EQ(m.position, At(430));
      EXPECT_TRUE(m.text.endsWith("Please load codec"));
    }
    EXPECT_TRUE(ui::Terminated());
    // The later steps still run before the program ends.
    EXPECT_EQ(form.DeviceComboBox->count(), 1);
    form_.reset();
  }
}

TEST_F(CaptureAppStartUp, WorkingFolderThatCannotBeMadeGivesItsBoxesAndTheEnd) {
  // A file holds the working folder's name.
  QFile blocker(drive_.drive.filePath("KestromWORKING"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  for (int i = 0; i < 3; ++i) dialogs_.dialogs.Push(ui::mrAbort);
  Start(false);
  const QString folder = Globals().WorkingFolder;
  const QList<ui::MessageRequest> boxes = MessageRequests();
  ASSERT_EQ(boxes.size(), 3);
  EXPECT_EQ(boxes[0].text, "Unable to create " + folder);
  EXPECT_EQ(boxes[1].text, "Unable to create " + folder);
  EXPECT_EQ(boxes[2].text, "Unable to write to the directory " + folder);
  for (const ui::MessageRequest& m : boxes) {
    EXPECT_EQ(m.type, ui::MsgDlgType::mtWarning);
    EXPECT_EQ(m.buttons, ui::mbAbort);
    EXPECT_EQ(m.position, QPoint(200, 200));
  }
  EXPECT_TRUE(ui::Terminated());
  EXPECT_TRUE(QFileInfo(folder).isFile());
}

TEST_F(CaptureAppStartUp, DuplicateCompressorNameSelectsTheLaterOneEverywhere) {
  TKestromCaptureForm& form = Start(false);
  // The component numbers equal names apart, so the boxes are given a list that repeats one.
  const int last = form.cboVideoCompressors->count() - 1;
  const int first = form.cboVideoCompressors->findText(kVideoCodec);
  ASSERT_GE(first, 0);
  ASSERT_GT(last, first);
  form.cboVideoCompressors->setItemText(last, kVideoCodec);
  form.StartTimerTimer();
  EXPECT_EQ(form.cboVideoCompressors->currentIndex(), last);
  EXPECT_EQ(form.cboVideoCompressors2->currentIndex(), last);
  EXPECT_EQ(form.Framecatcher->GetVideoCompressor(), last);
  EXPECT_EQ(form.cboAudioCompressors->currentText(), "Microsoft ADPCM");
  EXPECT_EQ(form.Framecatcher->GetAudioCompressor(), form.cboAudioCompressors->currentIndex());
  EXPECT_FALSE(ui::Terminated());
  EXPECT_TRUE(MessageRequests().isEmpty());
}

TEST_F(CaptureAppStartUp, MenuLeavesOutSmrtNamesAndAnEleventhDevice) {
  AnswerOk(1);
  provider_->extraCameras << "SMRT Board";
  for (int i = 1; i <= 11; ++i) provider_->extraCameras << QString("Camera %1").arg(i);
  TKestromCaptureForm& form = Start();
  ASSERT_EQ(form.DeviceComboBox->count(), 10);
  ASSERT_EQ(form.DeviceIndexMap.size(), 10);
  for (int k = 0; k < 10; ++k) {
    EXPECT_FALSE(form.DeviceComboBox->itemText(k).startsWith("SMRT")) << k;
    EXPECT_EQ(form.cboVideoDevices->itemText(form.DeviceIndexMap[k]), form.DeviceComboBox->itemText(k)) << k;
  }
  EXPECT_GE(form.DeviceComboBox->findText("Camera 9 (WDM)"), 0);
  EXPECT_LT(form.DeviceComboBox->findText("Camera 10 (WDM)"), 0);
  EXPECT_LT(form.DeviceComboBox->findText("Camera 11 (WDM)"), 0);
  // Several devices: the box says so, then preview starts on the first.
  ASSERT_EQ(MessageRequests().size(), 1);
  EXPECT_TRUE(MessageRequests()[0].text.startsWith("More than one Video Device has been detected."));
  EXPECT_EQ(MessageRequests()[0].position, At(508));
  ExpectPreviewSettings();
  EXPECT_EQ(form.Framecatcher->GetVideoDevice(), form.DeviceIndexMap[0]);
}

// ---------------------------------------------------------------- devices coming and going

TEST_F(CaptureAppStartUp, ArrivalsFollowTheCameraCheckAndSpareRunningWork) {
  AnswerOk(2);
  provider_->noCamera = true;
  TKestromCaptureForm& form = Start();
  ASSERT_EQ(MessageRequests().size(), 1);
  // A microphone arriving is no camera: the mode is what the camera check finds.
  form.FramecatcherDeviceArrivalOrRemoval(true, false, "USB Microphone", 0);
  EXPECT_TRUE(form.NoCameraMode);
  EXPECT_FALSE(form.PageControl1->isTabEnabled(PreviewPage));
  EXPECT_EQ(MessageRequests().size(), 2);
  EXPECT_TRUE(LogLines().contains("audio device arrival:"));
  EXPECT_TRUE(LogLines().contains("USB Microphone"));

  // While the preallocation runs an arrival only refreshes the lists.
  provider_->noCamera = false;
  mediator_.PreallocationRunning = true;
  engine::RebuildDevicesAndNotify();
  EXPECT_EQ(form.DeviceComboBox->count(), 1) << engine::VideoDevicesText().toStdString() << LogLines().join('|').toStdString();
  EXPECT_TRUE(form.NoCameraMode);
  EXPECT_EQ(State(), engine::cs_None);
  EXPECT_FALSE(LogLines().contains("Camera is now on and connected..."));

  // Once it is over, an arrival selects the camera.
  mediator_.PreallocationRunning = false;
  form.FramecatcherDeviceArrivalOrRemoval(true, true, "Kestrom Test Camera (WDM)", 0);
  EXPECT_FALSE(form.NoCameraMode);
  ExpectPreviewSettings();
}

TEST_F(CaptureAppStartUp, LostCameraGreysThePagesUntilResetPreview) {
  AnswerOk(1);
  TKestromCaptureForm& form = Start();
  ASSERT_EQ(State(), engine::cs_Preview);
  dshow::SetTestCameraPlugged(false);
  ASSERT_TRUE(WaitFor([&] { return LogLines().contains("DEVICE LOST!"); })) << LogLines().join('|').toStdString();
  engine::RebuildDevicesAndNotify();
  EXPECT_FALSE(form.PageControl1->isEnabled());
  EXPECT_FALSE(form.PreviewPanel->isEnabled());
  EXPECT_EQ(ui::BackgroundColor(form.PreviewPanel), 0x969696);
  ASSERT_FALSE(MessageRequests().isEmpty());
  EXPECT_TRUE(MessageRequests().last().text.endsWith("Please return to Preview Mode and Reset Preview"));
  EXPECT_EQ(MessageRequests().last().position, At(520));

  dshow::SetTestCameraPlugged(true);
  engine::RebuildDevicesAndNotify();
  EXPECT_TRUE(LogLines().contains("video device arrival:")) << LogLines().join('|').toStdString();
  form.Button2->click();
  EXPECT_TRUE(form.PageControl1->isEnabled());
  EXPECT_TRUE(form.PreviewPanel->isEnabled());
  ExpectPreviewSettings();
  const int64_t first = form.Framecatcher->GetFrameNumber();
  EXPECT_TRUE(WaitFor([&] { return form.Framecatcher->GetFrameNumber() > first + 3; }));
}

// ---------------------------------------------------------------- pages, transport, timers

TEST_F(CaptureAppPages, TransportButtonOutsidePreviewReturnsToItThenFails) {
  TKestromCaptureForm& form = Start();
  form.Framecatcher->StopPreview();
  ASSERT_EQ(State(), engine::cs_None);
  form.StateTimerTimer();
  EXPECT_EQ(form.Button14->text(), "0");

  form.mmoLog->clear();
  form.findChild<QToolButton*>("PlaySpeedButton")->click();
  EXPECT_EQ(State(), engine::cs_Preview);
  EXPECT_EQ(form.PageControl1->currentIndex(), PreviewPage);
  EXPECT_TRUE(LogLines().contains("DV command failed.")) << LogLines().join('|').toStdString();
  EXPECT_FALSE(form.DVTapeAvailable());
  form.StateTimerTimer();
  EXPECT_EQ(form.Button14->text(), "1");

  // Keys on the video window send the same commands in preview: "B" pauses, then steps.
  form.mmoLog->clear();
  form.FramecatcherKeyPress(QChar('b'));
  EXPECT_EQ(LogLines().filter("DV command").size(), 2) << LogLines().join('|').toStdString();
  form.mmoLog->clear();
  form.FramecatcherKeyPress(QChar('q'));
  EXPECT_TRUE(LogLines().filter("DV command").isEmpty());
}

TEST_F(CaptureAppPages, EveryButtonOfEveryPageTakesTheClickAtItsCentre) {
  TKestromCaptureForm& form = Start();
  // Whatever the form shows on top of its pages (panels, placeholders) must not swallow a click.
  for (int page = 0; page < form.PageControl1->count(); ++page) {
    if (!form.PageControl1->isTabVisible(page)) continue;
    form.PageControl1->setCurrentIndex(page);
    for (QAbstractButton* button : form.PageControl1->widget(page)->findChildren<QAbstractButton*>()) {
      if (!button->isVisible()) continue;
      QWidget* hit = form.childAt(button->mapTo(&form, button->rect().center()));
      EXPECT_TRUE(hit == button || button->isAncestorOf(hit))
          << "page " << page << ": " << button->objectName().toStdString() << " is covered by "
          << (hit ? hit->objectName().toStdString() : std::string("nothing"));
    }
  }
}

TEST_F(CaptureAppPages, DisplayControlsFollowTheUserAndTheCode) {
  TKestromCaptureForm& form = Start();
  // A check box's handler runs when code changes it.
  form.PreviewCheckBox->setChecked(false);
  EXPECT_TRUE(form.Framecatcher->isHidden());
  form.PreviewCheckBox->setChecked(true);
  EXPECT_FALSE(form.Framecatcher->isHidden());
  // So does a track bar's.
  form.tbrPreviewZoomSize->setValue(50);
  EXPECT_EQ(form.Framecatcher->GetPreviewZoomSize(), 50);
  EXPECT_EQ(form.edtDisplaySize->text(), "50%");
  form.btnResetDisplaySize->click();
  EXPECT_EQ(form.Framecatcher->GetPreviewZoomSize(), 78);
  EXPECT_EQ(form.edtDisplaySize->text(), "78%");
  // A combo box changed by code runs nothing.
  form.Framecatcher->StopPreview();
  form.DeviceComboBox->setCurrentIndex(-1);
  form.DeviceComboBox->setCurrentIndex(0);
  EXPECT_EQ(State(), engine::cs_None);
  form.FullScreenButton->click();
  EXPECT_TRUE(form.Framecatcher->GetDisplay_FullScreen());
}

TEST_F(CaptureAppPages, TimersAreNamedOneShotAndArmedWithoutRestart) {
  TKestromCaptureForm& form = Start();
  const QStringList names = {"StartTimer",   "StateTimer",     "PreviewTimer",    "StartRecordingTimer",
                             "StopRecordingTimer", "StopRelayCaptureTimer", "RelayTimer", "SummaryTimer",
                             "PlayVideoTimer", "ReCompressTimer", "Phase1Timer", "CreateBitmapTimer", "BitmapTimer"};
  for (const QString& name : names) {
    QTimer* timer = form.findChild<QTimer*>(name);
    ASSERT_TRUE(timer) << name.toStdString();
    EXPECT_EQ(timer->isActive(), name == "StateTimer") << name.toStdString();
  }

  // A running timer armed again keeps its time to the tick.
  QTimer& stop = *form.StopRecordingTimer;
  ArmTimer(stop);
  ASSERT_TRUE(WaitFor([&] { return stop.remainingTime() < stop.interval() - 100; }, 900));
  const int left = stop.remainingTime();
  ArmTimer(stop);
  EXPECT_LE(stop.remainingTime(), left);

  // Each one-shot handler ends its own arming.
  form.StopRecordingTimerTimer();
  EXPECT_FALSE(stop.isActive());
  ArmTimer(*form.PreviewTimer);
  form.PreviewTimerTimer();
  EXPECT_FALSE(form.PreviewTimer->isActive());
  EXPECT_EQ(State(), engine::cs_Preview);
  EXPECT_TRUE(form.StateTimer->isActive());
}

// ---------------------------------------------------------------- preallocation

TEST_F(CaptureAppSetupPage, CheckStopsPreviewAndItsCloseReturnsToIt) {
  TKestromCaptureForm& form = Start();
  ASSERT_EQ(State(), engine::cs_Preview);
  int asked = 0;
  QObject::connect(&mediator_, &CaptureMediator::PreallocationCheckRequested, [&] { ++asked; });
  form.SampleSetupButton->click();
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(State(), engine::cs_None);
  // Ending the program from the check leaves the preview off.
  emit mediator_.PreallocationClosed(true);
  EXPECT_EQ(State(), engine::cs_None);
  emit mediator_.PreallocationClosed(false);
  ExpectPreviewSettings();
}

TEST_F(CaptureAppSetupPage, ComponentEventsAreLoggedAndPassedOn) {
  TKestromCaptureForm& form = Start();
  QList<std::pair<QString, bool>> completed;
  QObject::connect(&mediator_, &CaptureMediator::PreallocFileCompleted,
                   [&](const QString& name, bool ok) { completed.append({name, ok}); });
  const QString made = core::JoinPath(Globals().WorkingFolder, "\\Sequence01.avi");
  const QString blocked = core::JoinPath(Globals().WorkingFolder, "\\Sequence05.avi");
  ASSERT_TRUE(QDir().mkpath(blocked));  // a folder holds the name
  engine::TFramecatcher* fc = form.Framecatcher;
  fc->StopPreview();
  fc->SetPreallocCapFileEnabled(true);
  fc->SetPreallocCapFileSizeInMB(1);
  for (const QString& name : {made, blocked}) {
    fc->SetPreallocCapFileName(name);
    fc->CreatePreallocatedFile();
  }
  ASSERT_TRUE(WaitFor([&] { return completed.count() == 2; }));
  EXPECT_EQ(completed[0], std::make_pair(made, true));
  EXPECT_EQ(completed[1], std::make_pair(blocked, false));
  const QStringList lines = LogLines();
  EXPECT_TRUE(lines.contains("preallocating file " + made + "..."));
  EXPECT_TRUE(lines.contains("preallocated file " + made + " successfully created."));
  EXPECT_TRUE(lines.contains("ERROR: Failed to preallocate " + blocked));
}

}  // namespace
}  // namespace kestrom::capture
