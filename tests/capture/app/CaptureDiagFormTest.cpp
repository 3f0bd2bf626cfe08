// The diagnostics form on a real component: what each button shows or does, in each state the
// component really takes, and the read-out buttons the capture form writes through the mediator.

#include "MediatorFixture.h"
#include "capture/app/CaptureDiagForm.h"
#include "capture/engine/FK.h"
#include "platform/core/Paths.h"

#include <QFile>
#include <QPushButton>
#include <QTimer>

namespace kestrom::capture::test {
namespace {

constexpr int64_t MB = 1 << 20;

class CaptureAppDiagnostics : public MediatorFixture {
 protected:
  QString InWork(const QString& name) const { return core::JoinPath(Globals().WorkingFolder, name); }
  static QString Caption(const TCaptureDiagForm& form, int button) { return form.Button(button)->text(); }
};

TEST_F(CaptureAppDiagnostics, ButtonsShowWhatTheyReadAndNothingStartsTheTimer) {
  TCaptureDiagForm form(mediator);
  EXPECT_EQ(form.windowTitle(), "CaptureDiagForm");
  EXPECT_EQ(Caption(form, 18), "Framecatcher");
  auto* timer = form.findChild<QTimer*>("Timer1");
  ASSERT_TRUE(timer);
  EXPECT_EQ(timer->interval(), 250);
  EXPECT_FALSE(timer->isActive());

  struct Case {
    int button;
    std::function<void()> before;
    QString caption;
  };
  const QString fontFile = Globals().FilterFontFile;
  const Case cases[] = {
      {2, [] {}, "0.21"},
      {7, [&] { framecatcher->SetFrameGrabber(engine::fg_BothStreams); }, "fg_BothStreams"},
      {7, [&] { framecatcher->SetFrameGrabber(engine::fg_PreviewStream); }, "fg_PreviewStream"},
      {7, [&] { framecatcher->SetFrameGrabber(engine::fg_CaptureStream); }, "fg_CaptureStream"},
      {7, [&] { framecatcher->SetFrameGrabber(engine::fg_Disabled); }, "fg_Disabled"},
      // The component refuses a value out of range, so the caption keeps naming the one it holds.
      {7, [&] { framecatcher->SetFrameGrabber(7); }, "fg_Disabled"},
      {13, [] {}, Globals().FilterTextFile},
      {16, [] {}, " "},
      {16, [&] { mediator.LastCompressedFile = "/videos/last.avi"; }, "/videos/last.avi"},
      {17, [] {}, "no"},
      {17, [&] { mediator.DVTapeAvailable = true; }, "yes"},
  };
  for (const Case& c : cases) {
    c.before();
    form.Button(c.button)->click();
    EXPECT_EQ(Caption(form, c.button), c.caption) << "Button" << c.button;
  }
  EXPECT_EQ(Caption(form, 14), fontFile);
  EXPECT_TRUE(Caption(form, 13).endsWith("/DefaultFilterText.txt"));
  EXPECT_TRUE(fontFile.endsWith("/DefaultFilterFont.txt"));
}

TEST_F(CaptureAppDiagnostics, TheStateButtonNamesEachStateTheComponentTakes) {
  TCaptureDiagForm form(mediator);
  auto state = [&] {
    form.Button(9)->click();
    return Caption(form, 9);
  };
  EXPECT_EQ(state(), "Down");

  ASSERT_GE(CameraIndex(), 0);
  framecatcher->SetVideoDevice(CameraIndex());
  framecatcher->SetFrameGrabber(engine::fg_Disabled);
  ASSERT_TRUE(framecatcher->StartPreview());
  EXPECT_EQ(state(), "Preview");

  const QString clip = InWork("\\clip.avi");
  framecatcher->SetRecordingFileName(clip);
  ASSERT_TRUE(framecatcher->StartRecording());
  EXPECT_EQ(state(), "Recording");
  EXPECT_TRUE(WaitFor([&] { return framecatcher->GetFrameNumber() >= 10; }));
  form.Button(24)->click();  // "Stop Recording"
  EXPECT_NE(framecatcher->GetCurrentState(), engine::cs_Recording);
  EXPECT_GT(QFileInfo(clip).size(), 0);
  framecatcher->StopPreview();

  form.Button(10)->click();  // "Run Video": a tenth of the speed, whether or not a clip is open
  EXPECT_DOUBLE_EQ(framecatcher->GetPlayerSpeedRatio(), 0.1);

  QStringList during;
  framecatcher->OnReencodingProgress = [&](QObject*, const engine::TProgressInfo&) {
    if (during.isEmpty()) during << state();
  };
  ASSERT_TRUE(framecatcher->ReencodeFile(clip, InWork("\\copy.avi"), false, false, false, false));
  EXPECT_EQ(during, QStringList{"Compress"});
  form.Button(18)->click();
  EXPECT_FALSE(framecatcher->TakeReencodingStarted()) << "the button read and cleared the flag";
  EXPECT_EQ(state(), "Down");
}

TEST_F(CaptureAppDiagnostics, PreallocateReservesA512MBSampleInTheWorkingFolder) {
  TCaptureDiagForm form(mediator);
  form.Button(6)->click();
  const auto sample = SizeAndReserved(CaptureFilePath(0));
  ASSERT_TRUE(sample);
  EXPECT_EQ(sample->first, 512 * MB);
  EXPECT_GE(sample->second, 512 * MB);
  EXPECT_EQ(completions, (QList<QPair<QString, bool>>{{CaptureFilePath(0), true}}));
  EXPECT_TRUE(framecatcher->GetPreallocCapFileEnabled());
  EXPECT_EQ(framecatcher->GetPreallocCapFileName(), CaptureFilePath(0));
}

TEST_F(CaptureAppDiagnostics, TestCopyNeverOverwritesAndSaysDoneOnlyWhenItCopied) {
  const QString source = InWork("\\Half10Secs.avi"), target = InWork("\\Half10SecsOut.avi");
  auto write = [](const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
  };
  auto read = [](const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  };
  struct Case {
    const char* name;
    bool sourceThere, targetThere;
    QString caption;
    QByteArray targetAfter;
  };
  const Case cases[] = {
      {"source missing", false, false, "Copying", {}},
      {"target there already", true, true, "Copying", "older"},
      {"copied", true, false, "Done", "clip bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QFile::remove(source);
    QFile::remove(target);
    if (c.sourceThere) {
      ASSERT_TRUE(write(source, "clip bytes"));
    }
    if (c.targetThere) {
      ASSERT_TRUE(write(target, "older"));
    }
    TCaptureDiagForm form(mediator);
    form.Button(15)->click();
    EXPECT_EQ(Caption(form, 15), c.caption);
    EXPECT_EQ(QFileInfo::exists(target), !c.targetAfter.isEmpty());
    EXPECT_EQ(read(target), c.targetAfter);
  }
}

TEST_F(CaptureAppDiagnostics, TheCaptureFormWritesTheReadOutButtonsThroughTheMediator) {
  TCaptureDiagForm form(mediator);
  emit mediator.ReadoutWritten(3, "/seq/Sequence02.avi");
  emit mediator.ReadoutWritten(4, "Compression Seq 2");
  emit mediator.ReadoutWritten(5, "/clips/a.avi");
  emit mediator.ReadoutWritten(5, "250");
  emit mediator.ReadoutWritten(6, "not a read-out");
  EXPECT_EQ(Caption(form, 3), "/seq/Sequence02.avi");
  EXPECT_EQ(Caption(form, 4), "Compression Seq 2");
  EXPECT_EQ(Caption(form, 5), "250");
  EXPECT_EQ(Caption(form, 6), "Preallocate");
}

}  // namespace
}  // namespace kestrom::capture::test
