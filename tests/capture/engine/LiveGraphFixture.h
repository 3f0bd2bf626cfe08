#pragma once
// The live graphs' fixture: the test camera and microphone (not live, so frames come as fast as
// the graph takes them), engines set up on them, and the recorded files read back frame by frame
// (the camera's pictures carry their frame numbers).

#include "TestCameraFixture.h"

#include "capture/engine/EngineHelpers.h"
#include "capture/engine/FK.h"
#include "capture/engine/GraphHelpers.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/dshow/writers/VideoRenderer.h"
#include "platform/media/VideoReader.h"
#include "tests/platform/dshow/support/CameraFrames.h"
#include "tools/FrameCode.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <cstdlib>
#include <memory>
#include <vector>

namespace kestrom::engine::test {

class LiveGraphTest : public TestCameraTest {
 protected:
  void TearDown() override {
    SetFreeSpaceProbe(nullptr);
    TestCameraTest::TearDown();
  }
  std::unique_ptr<TFK> Camera(bool audio) {
    auto fk = std::make_unique<TFK>();
    fk->SetAudioRecording(audio);
    fk->SetFrameGrabber(fg_Disabled);
    fk->SetStoragePath(workDir_.path());
    EXPECT_GE(CameraIndex(), 0);
    fk->SetVideoDevice(CameraIndex());
    if (audio) {
      EXPECT_GE(MicrophoneIndex(), 0);
      fk->SetAudioDevice(MicrophoneIndex());
    }
    return fk;
  }
  static QStringList FilterNames(TFK& fk) {
    QStringList names;
    com::ComPtr<dshow::IEnumFilters> filters;
    if (!fk.Graph() || com::FAILED(fk.Graph()->EnumFilters(filters.Put()))) return names;
    com::ComPtr<dshow::IBaseFilter> filter;
    com::ULONG fetched = 0;
    while (filters->Next(1, filter.Put(), &fetched) == com::S_OK && filter) names << FilterName(filter.Get());
    return names;
  }
  /** @brief Every frame follows the one before, save those the test camera itself dropped. */
  static void ExpectConsecutive(const std::vector<int>& codes) { kestrom::dshow::test::ExpectCameraFramesInOrder(codes); }
  /**
   * @brief Keeps a recording going until the engine has counted the given frames; the bound only
   * keeps a broken graph from hanging the test (the frames are checked in the file afterwards).
   */
  static void RecordFrames(TFK& fk, int64_t frames) {
    // An engine without a panel gets no graph events to count by: its display counts too.
    auto* display = dynamic_cast<dshow::CVideoRenderer*>(fk.DisplayRecord(TFK::ds_Display).renderer.Get());
    const auto counted = [&] { return fk.FrameCount() >= frames || (display && display->FramesRendered() >= frames); };
    QDeadlineTimer bound(30000);
    while (!counted() && !bound.hasExpired()) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      QThread::msleep(10);
    }
  }
  static bool LogHas(const QString& text) { return ProcessLogLines().filter(text).size() > 0; }
  static std::vector<int> Codes(const QString& file, bool* hasAudio = nullptr) {
    std::vector<int> codes;
    media::VideoReader reader;
    EXPECT_TRUE(reader.Open(file)) << reader.ErrorString().toStdString();
    if (hasAudio) *hasAudio = reader.Info().hasAudio;
    for (int i = 0; i < reader.Info().frameCount; ++i) codes.push_back(tools::ReadFrameCode(reader.Frame(i)));
    return codes;
  }
};

}  // namespace kestrom::engine::test
