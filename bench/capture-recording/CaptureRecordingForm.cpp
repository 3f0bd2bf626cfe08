// A capture as the coach makes one through the capture form: "Capture Video" at full size and
// maximum quality on the live test camera, the ready question answered, stopped by "Stop Capture"
// after the given seconds. It prints the frames written, how often the first picture is repeated
// at the file's start, the numbers skipped and the pictures repeated later on (the frame numbers
// the pictures carry), the frames the camera and the component count as dropped, and the cost of
// the form's own work per frame-progress event against the frame interval (40 ms at 25 frames
// per second). Aim on an otherwise idle machine: nothing dropped, the first picture not repeated.
//
//   capture_recording_form [--seconds S] [--half]   (default 20 s at full size and maximum
//                                                    quality; the target run is 60 s)

#include "capture/app/CaptureGlobals.h"
#include "capture/app/KestromCaptureForm.h"
#include "capture/engine/SyncManager.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/media/VideoReader.h"
#include "platform/registry/Registry.h"
#include "platform/ui/Dialogs.h"
#include "tools/EventLoopWait.h"
#include "tools/FrameCode.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace kestrom;
using tools::WaitFor;

int main(int argc, char** argv) {
  int seconds = 20;
  bool half = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) seconds = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--half") == 0) half = true;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QTemporaryDir drive, registryDir;
  setenv("KESTROM_SYSTEM_DRIVE", QFile::encodeName(drive.path()).constData(), 1);
  QDir::setCurrent(drive.path());
  registry::SetRegistryDirectory(registryDir.path());
  QApplication app(argc, argv);
  dshow::SetTestDevicesLive(true);

  ui::ScriptedDialogs dialogs;
  ui::SetAppDialogs(&dialogs);
  capture::CaptureMediator mediator;
  auto form = std::make_unique<capture::TKestromCaptureForm>(mediator);
  form->SetAnalysisWindowScan([] { return true; });
  form->show();
  engine::SyncIdleHandler();
  form->StartTimerTimer();
  if (form->Framecatcher->GetCurrentState() != engine::cs_Preview) {
    std::fprintf(stderr, "capture_recording_form: no preview on the test camera\n");
    return 1;
  }

  // The form's own work per frame, timed around its handler.
  auto handler = form->Framecatcher->OnFrameProgress;
  int64_t calls = 0;
  double totalNs = 0, maxNs = 0;
  form->Framecatcher->OnFrameProgress = [&](QObject* sender, const engine::TFrameInfo& info) {
    const auto start = std::chrono::steady_clock::now();
    handler(sender, info);
    const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    ++calls;
    totalNs += ns;
    maxNs = std::max(maxNs, ns);
  };

  // Half size records through the grabber and the compressor, as relays and sequences do.
  if (half) form->findChild<QRadioButton*>(QStringLiteral("VideoCaptureSize_1"))->setChecked(true);
  if (half) form->findChild<QRadioButton*>(QStringLiteral("VideoQualityRadioBox_1"))->setChecked(true);
  const long cameraDroppedBefore = dshow::TestCameraDroppedFrames();
  dialogs.Push(ui::mrOk);  // ready to start
  dialogs.Push(ui::mrNo);  // play the captured video? / save it?
  form->StartCaptureButton->click();
  if (!WaitFor([&] { return form->Framecatcher->GetCurrentState() == engine::cs_Recording; }, 10000)) {
    std::fprintf(stderr, "capture_recording_form: the recording did not start\n");
    return 1;
  }
  WaitFor([] { return false; }, seconds * 1000);
  const int64_t dropped = form->DroppedFrameCount;
  form->StopCaptureButton2->click();
  WaitFor([&] { return dialogs.Pending() == 0; }, 20000);
  if (form->Framecatcher->GetCurrentState() == engine::cs_Player) form->Framecatcher->ClosePlayer();
  const long cameraDropped = dshow::TestCameraDroppedFrames() - cameraDroppedBefore;

  media::VideoReader reader;
  const QString file = half ? capture::Globals().HalfSampleFile : capture::Globals().SampleFile;
  if (!reader.Open(file)) {
    std::fprintf(stderr, "capture_recording_form: %s\n", qPrintable(reader.ErrorString()));
    return 1;
  }
  const int frames = int(reader.Info().frameCount);
  int skipped = 0, repeated = 0, firstRepeats = 0, previous = -1;
  bool leading = true;
  for (int i = 0; i < frames; ++i) {
    const int code = tools::ReadFrameCode(reader.Frame(i));
    if (previous >= 0) {
      const int step = (code - previous + tools::kMaxFrameCode + 1) % (tools::kMaxFrameCode + 1);
      if (step == 0 && leading) ++firstRepeats;
      else if (step == 0) ++repeated;
      else if (step > 1) skipped += step - 1;
      if (step != 0) leading = false;
    }
    previous = code;
  }
  const double meanUs = calls ? totalNs / double(calls) / 1000.0 : 0.0;
  std::printf("capture through the form (%s): %d s asked, %d frames written (%.1f s); first picture repeated %d "
              "times; later %d numbers skipped, %d pictures repeated; %ld frames dropped by the camera, %lld "
              "reported dropped by the component\n",
              half ? "half size, compressed" : "full size, maximum quality", seconds, frames, frames / 25.0,
              firstRepeats, skipped, repeated, cameraDropped, static_cast<long long>(dropped));
  std::printf("form's frame-progress handler: %lld calls, mean %.2f us, max %.2f us; mean = %.4f %% of the 40 ms "
              "frame interval (max %.4f %%)\n",
              static_cast<long long>(calls), meanUs, maxNs / 1000.0, meanUs / 400.0, maxNs / 1000.0 / 400.0);
  form.reset();
  engine::StopSyncManager();
  ui::SetAppDialogs(nullptr);
  return 0;
}
