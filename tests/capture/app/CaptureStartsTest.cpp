// What the capture form lets start while other work runs, on the real component, graph and test
// camera: every start button against every running mode, refused or run, and every recording
// ending at its limit back in preview; recordings that cannot start or that fail telling the coach
// why; the test buttons and dialogs of the recording pages.

#include "CaptureFormFixture.h"
#include "capture/app/CaptureGlobals.h"
#include "capture/app/KestromCaptureForm.h"
#include "capture/app/ProgramMain.h"
#include "capture/app/RecordingRules.h"
#include "platform/core/Paths.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/ui/Dialogs.h"
#include "tools/ClipWriter.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

namespace kestrom::capture {
namespace {

/**
 * @brief A folder made read-only, or replaced by a small file system, for one test: a mount over
 * it when the test runs as root (whom modes do not stop), its mode otherwise.
 */
class FolderMount {
 public:
  /** @brief Read-only: a read-only bind mount, or mode 0555 for other users. */
  static std::unique_ptr<FolderMount> ReadOnly(const QString& folder) {
    auto mount = std::unique_ptr<FolderMount>(new FolderMount(folder));
    const QByteArray path = QFile::encodeName(folder);
    if (geteuid() != 0) {
      mount->chmodded_ = QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
      return mount->chmodded_ ? std::move(mount) : nullptr;
    }
    if (::mount(path.constData(), path.constData(), nullptr, MS_BIND, nullptr) != 0) return nullptr;
    mount->mounted_ = true;
    if (::mount(nullptr, path.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) return nullptr;
    return mount;
  }
  /** @brief A file system of the size over the folder (root only). */
  static std::unique_ptr<FolderMount> Small(const QString& folder, const char* size) {
    if (geteuid() != 0) return nullptr;
    auto mount = std::unique_ptr<FolderMount>(new FolderMount(folder));
    const QByteArray options = QByteArray("size=") + size;
    if (::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, options.constData()) != 0) return nullptr;
    mount->mounted_ = true;
    return mount;
  }
  ~FolderMount() {
    if (mounted_) ::umount2(QFile::encodeName(folder_).constData(), MNT_DETACH);
    if (chmodded_) QFile::setPermissions(folder_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }

 private:
  explicit FolderMount(QString folder) : folder_(std::move(folder)) {}
  QString folder_;
  bool mounted_ = false, chmodded_ = false;
};

/** @brief Fills the folder's file system until it takes no more bytes. */
void FillUp(const QString& folder) {
  QFile filler(QDir(folder).filePath("filler.bin"));
  ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
  const QByteArray block(64 * 1024, 'x');
  while (filler.write(block) == block.size() && filler.flush()) {
  }
}

class StartsFormTest : public CaptureFormFixture {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(CaptureFormFixture::SetUp());
    dshow::SetTestDevicesLive(true);
    UseTestCameraOnly();
    Start();
    ASSERT_EQ(State(), engine::cs_Preview);
    checkRequested_ = QObject::connect(&mediator_, &CaptureMediator::PreallocationCheckRequested,
                                       [this] { ++checksRequested_; });
  }
  void TearDown() override {
    QObject::disconnect(checkRequested_);
    EXPECT_EQ(dialogs_.dialogs.Pending(), 0u);
    CaptureFormFixture::TearDown();
  }

  void Push(ui::ScriptedDialogs::Answer answer) { dialogs_.dialogs.Push(std::move(answer)); }
  void Choose(QGroupBox* group, int item) {
    group->findChild<QRadioButton*>(group->objectName() + QStringLiteral("_%1").arg(item))->setChecked(true);
  }
  bool WaitRecording() { return WaitFor([this] { return State() == engine::cs_Recording && form_->RecordingCounted; }); }
  /** @brief Back in preview with nothing left armed, the start buttons free again. */
  bool WaitPreview(int boundMs = 60000) {
    return WaitFor([this] { return State() == engine::cs_Preview && dialogs_.dialogs.Pending() == 0 &&
                                   !form_->RelayMode && form_->StartCaptureButton->isEnabled(); },
                   boundMs);
  }
  QString WriteClip(const QString& name, int frames) {
    tools::ClipSpec clip;
    clip.path = QDir(clips_.path()).filePath(name);
    clip.frames = frames;
    clip.size = {320, 240};
    clip.rateNum = 25;
    QString error;
    EXPECT_TRUE(tools::WriteClip(clip, &error)) << error.toStdString();
    return clip.path;
  }

  QTemporaryDir clips_;
  int checksRequested_ = 0;
  QMetaObject::Connection checkRequested_;
};

class CaptureAppStarts : public StartsFormTest {};
class CaptureAppFailures : public StartsFormTest {};

// Each mode runs; while it runs every start button of every page is pressed and must leave the
// running work as it is (no dialog asked, no file, mode or step changed); the mode then ends by
// its limit and the form comes back to preview. Beside an open player the starts run instead.
TEST_F(CaptureAppStarts, EveryStartButtonAgainstEveryRunningMode) {
  TKestromCaptureForm& form = *form_;
  struct Button {
    const char* name;
    QPushButton* TKestromCaptureForm::*button;
  };
  const Button buttons[] = {
      {"Capture Video", &TKestromCaptureForm::StartCaptureButton},
      {"Relay Video Capture", &TKestromCaptureForm::RelayCaptureButton},
      {"play any clip", &TKestromCaptureForm::AnyClipButton},
      {"last capture", &TKestromCaptureForm::LastCaptureButton},
      {"last compression", &TKestromCaptureForm::SpeedButton1},
      {"Save Video", &TKestromCaptureForm::SaveBitBtn},
      {"Create Bitmaps", &TKestromCaptureForm::Button13},
      {"Preallocate", &TKestromCaptureForm::Button11},
      {"Check the Current Pre-Allocation File Status", &TKestromCaptureForm::SampleSetupButton},
  };
  auto pressEveryStartRefused = [&](const char* mode) {
    const int state = State();
    const QString recording = form.Framecatcher->GetRecordingFileName();
    const bool relay = form.RelayMode;
    const size_t asked = dialogs_.dialogs.Asked().size();
    for (const Button& b : buttons) {
      SCOPED_TRACE(testing::Message() << mode << " / " << b.name);
      (form.*b.button)->click();
      EXPECT_EQ(State(), state);
      EXPECT_EQ(form.Framecatcher->GetRecordingFileName(), recording);
      EXPECT_EQ(form.RelayMode, relay);
      EXPECT_FALSE(form.StartRecordingTimer->isActive());
      EXPECT_FALSE(form.CreateBitmapTimer->isActive());
      EXPECT_EQ(dialogs_.dialogs.Asked().size(), asked) << "a dialog was asked";
      EXPECT_EQ(checksRequested_, 0);
    }
  };
  QTemporaryDir sequenceFolder;

  struct Mode {
    const char* name;
    std::function<void()> start;   // runs the mode up to where it records (or plays, or re-encodes)
    std::function<void()> finish;  // lets it end by its limit, answering its questions
  };
  const Mode modes[] = {
      {"single capture, full size",
       [&] {
         Choose(form.VideoCaptureSize, 0);
         Push(ui::mrOk);
         form.StartCaptureButton->click();
         form.RecordingTimeLimit = 2;
         ASSERT_TRUE(WaitRecording());
       },
       [&] { Push(ui::mrNo); }},  // play the captured video?
      {"relay",
       [&] {
         Push(ui::mrOk);
         form.RelayCaptureButton->click();
         form.RelayDuration = 1;
         ASSERT_TRUE(WaitRecording());
       },
       [&] {
         // Its playback is part of the relay: still nothing starts.
         ASSERT_TRUE(WaitFor([&] { return State() == engine::cs_Player; }));
         Push(ui::mrNo);  // play it again?
         Push(ui::mrNo);  // save it?
         pressEveryStartRefused("relay playing back");
       }},
      {"single capture, half size",
       [&] {
         Choose(form.VideoCaptureSize, 1);
         Push(ui::mrOk);
         form.StartCaptureButton->click();
         form.RecordingTimeLimit = 2;
         ASSERT_TRUE(WaitRecording());
       },
       [&] { Push(ui::mrNo); }},  // save the video?
      {"sequence",
       [&] {
         Choose(form.VideoCaptureSize, 0);
         form.SequenceCheckBox->setChecked(true);
         form.FileDirectoryEditBox->setText(sequenceFolder.path());
         Push(ui::mrOk);
         form.StartCaptureButton->click();
         form.RecordingTimeLimit = 2;
         ASSERT_TRUE(WaitRecording());
       },
       [&] {
         Push(ui::mrCancel);  // record the next video?
         ASSERT_TRUE(WaitFor([&] { return dialogs_.dialogs.Pending() == 0; }));
         form.SequenceCheckBox->setChecked(false);
       }},
      {"re-encoding",
       [&] {
         form.OpenPlayerFile(WriteClip("long.avi", 100));
         ASSERT_EQ(State(), engine::cs_Player);
         // The re-encoding runs inside "Save Video", its events pumped: the buttons are pressed
         // at its first progress report, as a coach's click would come.
         auto progress = form.Framecatcher->OnReencodingProgress;
         bool pressed = false;
         form.Framecatcher->OnReencodingProgress = [&](QObject* sender, const engine::TProgressInfo& info) {
           if (!pressed && State() == engine::cs_Reencoding) {
             pressed = true;
             pressEveryStartRefused("re-encoding");
           }
           progress(sender, info);
         };
         Push(QDir(clips_.path()).filePath("out.avi"));
         Push(ui::mrNo);  // play it?
         form.SaveBitBtn->click();
         form.Framecatcher->OnReencodingProgress = progress;
         EXPECT_TRUE(pressed);
       },
       [] {}},
  };
  for (const Mode& mode : modes) {
    SCOPED_TRACE(mode.name);
    ASSERT_NO_FATAL_FAILURE(mode.start());
    if (State() == engine::cs_Recording) pressEveryStartRefused(mode.name);
    ASSERT_NO_FATAL_FAILURE(mode.finish());
    ASSERT_TRUE(WaitPreview()) << LogLines().join('|').toStdString();
    EXPECT_FALSE(form.Framecatcher->GetDisplay_FullScreen());
  }
  EXPECT_TRUE(QFile::exists(QDir(clips_.path()).filePath("out.avi")));

  // An open player refuses nothing: every start is offered, and a capture closes the player and
  // records to its limit.
  form.OpenPlayerFile(WriteClip("clip.avi", 20));
  ASSERT_EQ(State(), engine::cs_Player);
  for (const Button& b : buttons) EXPECT_TRUE((form.*b.button)->isEnabled()) << b.name;
  Choose(form.VideoCaptureSize, 1);
  Push(ui::mrOk);
  form.StartCaptureButton->click();
  form.RecordingTimeLimit = 2;
  ASSERT_TRUE(WaitRecording());
  Push(ui::mrNo);
  ASSERT_TRUE(WaitPreview());
  EXPECT_GE(form.RecordedSeconds, 2);
  EXPECT_EQ(checksRequested_, 0);
}

// ---------------------------------------------------------------- failures

TEST(CaptureAppFailureRules, TheMessageNamesTheFolderAndTheReason) {
  QTemporaryDir dir;
  const QString file = QDir(dir.path()).filePath("Sample.avi");
  const QString reported = RecordingFailureMessage(file, true, true);
  EXPECT_TRUE(reported.contains(file)) << reported.toStdString();
  EXPECT_TRUE(reported.contains("the disk is full")) << reported.toStdString();
  const QString notStarted = RecordingFailureMessage(file, false, false);
  EXPECT_TRUE(notStarted.contains(dir.path())) << notStarted.toStdString();
  EXPECT_FALSE(notStarted.contains("the disk is full")) << notStarted.toStdString();
  // A folder that is not there takes no file, and says why.
  const QString missing = RecordingFailureMessage(QDir(dir.path()).filePath("gone/Sample.avi"), false, false);
  EXPECT_TRUE(missing.contains("the folder cannot be written to (")) << missing.toStdString();
}

// The working folder made read-only while the program runs: "Capture Video" tells the coach the
// folder and why, and the preview runs again without "Reset Preview".
TEST_F(CaptureAppFailures, AReadOnlyWorkingFolderSaysWhyAndPreviewRunsAgain) {
  TKestromCaptureForm& form = *form_;
  const std::unique_ptr<FolderMount> readOnly = FolderMount::ReadOnly(Globals().WorkingFolder);
  if (!readOnly) GTEST_SKIP() << "the folder cannot be made read-only here";
  Push(ui::mrOk);  // the failure
  form.StartCaptureButton->click();
  ASSERT_TRUE(WaitFor([&] { return Messages().filter("the folder cannot be written to").size() == 1; }))
      << Messages().join('|').toStdString() << " / " << LogLines().join('|').toStdString();
  const QString message = Messages().filter("the folder cannot be written to").first();
  EXPECT_TRUE(message.contains(Globals().WorkingFolder)) << message.toStdString();
  EXPECT_TRUE(LogLines().contains("capture failed."));
  ASSERT_TRUE(WaitFor([&] { return State() == engine::cs_Preview; }));
  EXPECT_TRUE(form.Framecatcher->isVisible());
  EXPECT_TRUE(form.StartCaptureButton->isEnabled());
  EXPECT_FALSE(form.findChild<QWidget*>("StopRecordingPanel")->isVisible());
}

// A full disk: a capture that cannot start for want of space, and one that ended in failure on a
// volume with no space left, both say the disk is full, and neither is rated.
TEST_F(CaptureAppFailures, AFullDiskIsToldAsSuchAndNeverRated) {
  TKestromCaptureForm& form = *form_;
  const std::unique_ptr<FolderMount> small = FolderMount::Small(Globals().WorkingFolder, "2m");
  if (!small) GTEST_SKIP() << "no small file system can be mounted here";
  Push(ui::mrOk);
  form.StartCaptureButton->click();
  ASSERT_TRUE(WaitFor([&] { return Messages().filter("the disk is full").size() == 1; }))
      << Messages().join('|').toStdString() << " / " << LogLines().join('|').toStdString();
  ASSERT_TRUE(WaitFor([&] { return State() == engine::cs_Preview; }));

  // The recording's completion reports a failure; the volume has no space left.
  ASSERT_NO_FATAL_FAILURE(FillUp(Globals().WorkingFolder));
  form.CaptureJob = 1;
  form.RecordingSettings.HalfSize = false;
  form.CapturedFrames = 67;
  form.DroppedFrameCount = 1;
  Push(ui::mrOk);
  form.FramecatcherRecordingCompleted(Globals().SampleFile, false);
  EXPECT_EQ(Messages().filter("the disk is full").size(), 2);
  EXPECT_TRUE(Messages().last().contains(Globals().SampleFile)) << Messages().last().toStdString();
  EXPECT_FALSE(form.SummaryTimer->isActive());
  EXPECT_FALSE(form.findChild<QWidget*>("ReportBox")->isVisible());
  EXPECT_EQ(State(), engine::cs_Preview);
}

// ---------------------------------------------------------------- one program

TEST_F(CaptureAppStarts, ASecondStartFindsTheFirstAndBringsItForward) {
  const std::unique_ptr<QLockFile> first = TakeProgramLock();
  ASSERT_TRUE(first);
  EXPECT_FALSE(TakeProgramLock()) << "a second program must not run";
  form_->showMinimized();
  ASSERT_TRUE(form_->isMinimized());
  ASSERT_TRUE(BringRunningProgramForward());
  ASSERT_TRUE(WaitFor([&] { return !form_->isMinimized() && form_->isVisible(); }));
  first->unlock();
  EXPECT_TRUE(TakeProgramLock()) << "the lock goes with the first program";
}

// ---------------------------------------------------------------- test buttons and dialogs

TEST_F(CaptureAppStarts, PreallocateOnTheWorkingPageReservesTheSample) {
  TKestromCaptureForm& form = *form_;
  ASSERT_EQ(form.Button11->text(), "Preallocate");
  form.Button11->click();
  ASSERT_TRUE(WaitFor([&] { return LogLines().filter("preallocated file").size() == 1; }))
      << LogLines().join('|').toStdString();
  EXPECT_EQ(QFileInfo(Globals().SampleFile).size(), int64_t(512) * 1024 * 1024);
  EXPECT_NE(State(), engine::cs_Preview) << "the preview was stopped first";
}

TEST_F(CaptureAppStarts, CompressionSettingsLetsTheOpenPlayerStepAsideAndComeBack) {
  TKestromCaptureForm& form = *form_;
  form.OpenPlayerFile(WriteClip("clip.avi", 30));
  ASSERT_EQ(State(), engine::cs_Player);
  form.Framecatcher->SetPlayerFramePosition(12);
  const int opened = LogLines().filter("playing ").size();
  Choose(form.VideoQualityRadioBox, 1);  // "High": the compressor and its settings are offered
  ASSERT_TRUE(form.VideoSettingsButton->isEnabled());
  Push(ui::PropertyFrameScript().Press("Cancel"));
  form.VideoSettingsButton->click();
  EXPECT_EQ(State(), engine::cs_Player);
  EXPECT_EQ(LogLines().filter("playing ").size(), opened + 1) << "the player was closed and opened again";
  EXPECT_TRUE(form.PlayerSuspended);
  EXPECT_EQ(form.SuspendedPlayerFile, QDir(clips_.path()).filePath("clip.avi"));
  EXPECT_TRUE(form.Framecatcher->IsPlayerPaused());
  // Back on the frame it showed when it stepped aside.
  EXPECT_TRUE(WaitFor([&] { return form.Framecatcher->GetFrameNumber() == form.SuspendedPlayerFrame; }))
      << form.Framecatcher->GetFrameNumber() << " / " << form.SuspendedPlayerFrame;
}

TEST_F(CaptureAppStarts, SaveAndOpenDialogsStartInTheWorkingFolder) {
  TKestromCaptureForm& form = *form_;
  Push(std::monostate{});  // play any clip: cancelled
  form.AnyClipButton->click();
  form.CaptureJob = 1;
  form.RecordingSettings.HalfSize = true;
  Push(ui::mrYes);         // save the video?
  Push(std::monostate{});  // its save dialog: cancelled
  form.FramecatcherRecordingCompleted(Globals().HalfSampleFile, true);
  QStringList folders;
  for (const ui::AskedItem& item : dialogs_.dialogs.Asked())
    if (const auto* file = std::get_if<ui::FileRequest>(&item)) folders << file->initialDir;
  EXPECT_EQ(folders, QStringList({Globals().WorkingFolder, Globals().WorkingFolder}));
}

}  // namespace
}  // namespace kestrom::capture
