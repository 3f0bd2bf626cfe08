// The live graphs on the test camera and microphone: preview into the renderer, recordings into
// numbered AVI files read back frame by frame (the camera's pictures carry their frame numbers).
#include "LiveGraphFixture.h"

#include "capture/engine/EngineHelpers.h"
#include "capture/engine/FK.h"
#include "capture/engine/GraphHelpers.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/dshow/writers/VideoRenderer.h"
#include "platform/dshow/writers/WriterInterfaces.h"
#include "platform/media/VideoReader.h"
#include "tools/FrameCode.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <cstdlib>
#include <sys/stat.h>

namespace kestrom::engine::test {

using com::ComPtr;
using namespace dshow;

namespace {

class GraphBuilding : public LiveGraphTest {};

}  // namespace

TEST_F(GraphBuilding, PreviewRunsTheCameraThroughASmartTeeIntoTheRenderer) {
  auto fk = Camera(false);
  ASSERT_TRUE(fk->StartPreview());
  EXPECT_EQ(fk->GetCurrentState(), cs_Preview);
  const QStringList names = FilterNames(*fk);
  EXPECT_EQ(names.filter(QRegularExpression("^Smart Tee\\d+$")).size(), 1) << names.join(", ").toStdString();
  EXPECT_EQ(names.filter(QRegularExpression("^Video Renderer\\d+$")).size(), 1);
  ComPtr<IBaseFilter> renderer;
  for (const QString& name : names)
    if (name.startsWith("Video Renderer")) fk->Graph()->FindFilterByName(name.toStdU16String().c_str(), renderer.Put());
  auto* video = dynamic_cast<CVideoRenderer*>(renderer.Get());
  ASSERT_NE(video, nullptr);
  for (int i = 0; i < 500 && video->FramesRendered() < 3; ++i) QThread::msleep(10);
  EXPECT_GE(video->FramesRendered(), 3);
  fk->StopPreview();
  EXPECT_EQ(fk->GetCurrentState(), cs_None);
  EXPECT_FALSE(fk->HoldsGraphInterfaces());
}

// Two recordings in a row: sequential names, the completion event with the file, and every
// frame written in order with the microphone's sound.
TEST_F(GraphBuilding, RecordingsGoIntoNumberedFilesHoldingEveryFrameInOrder) {
  auto fk = Camera(true);
  std::vector<QString> started, completed;
  fk->Events().OnRecordingStarted = [&](QObject*, const QString& file) { started.push_back(file); };
  fk->Events().OnRecordingCompleted = [&](QObject*, const QString& file, bool ok) {
    if (ok) completed.push_back(file);
  };
  for (int n = 1; n <= 2; ++n) {
    SCOPED_TRACE(n);
    ASSERT_TRUE(fk->StartRecording());
    EXPECT_EQ(fk->MasterStream(), 1);
    QThread::msleep(600);
    fk->StopRecording();
    EXPECT_EQ(fk->GetCurrentState(), cs_None);
  }
  const QString first = QDir(workDir_.path()).filePath("fk000001.avi");
  const QString second = QDir(workDir_.path()).filePath("fk000002.avi");
  EXPECT_EQ(started, (std::vector<QString>{first, second}));
  EXPECT_EQ(completed, started);
  for (const QString& file : {first, second}) {
    bool hasAudio = false;
    const std::vector<int> codes = Codes(file, &hasAudio);
    EXPECT_TRUE(hasAudio);
    ASSERT_GE(codes.size(), 3u) << file.toStdString();
    ExpectConsecutive(codes);
  }
  EXPECT_EQ(fk->GetLastRecordedFile(), second);
}

TEST_F(GraphBuilding, ACancelledRecordingLeavesNoFileAndNoStateAndKeepsTheNumber) {
  auto fk = Camera(false);
  fk->Events().OnRecordingReadyToStart = [](QObject*, bool& start) { start = false; };
  EXPECT_FALSE(fk->StartRecording());
  EXPECT_EQ(fk->GetCurrentState(), cs_None);
  EXPECT_TRUE(LogHas("capture cancelled"));
  EXPECT_FALSE(LogHas("cannot start Recording"));
  EXPECT_FALSE(fk->HoldsGraphInterfaces());
  EXPECT_EQ(fk->MasterStream(), 2);

  // Let through, the same recording starts and writes.
  fk->Events().OnRecordingReadyToStart = [](QObject*, bool& start) { start = true; };
  ASSERT_TRUE(fk->StartRecording());
  QThread::msleep(300);
  fk->StopRecording();
  EXPECT_EQ(fk->GetLastRecordedFile(), QDir(workDir_.path()).filePath("fk000001.avi"));
  EXPECT_GE(Codes(fk->GetLastRecordedFile()).size(), 1u);
}

TEST_F(GraphBuilding, ModesOtherThanPreviewAndRecordingBuildNothing) {
  auto fk = Camera(false);
  ResetProcessLog();
  EnableProcessLog();
  EXPECT_FALSE(fk->RestartGraph(cs_Player));
  EXPECT_FALSE(LogHas("BEGIN RestartGraph"));
  EXPECT_FALSE(fk->HoldsGraphInterfaces());
}

TEST_F(GraphBuilding, TheGrabberOnTheCaptureStreamPutsASecondSmartTeeInTheRecordingChain) {
  auto fk = Camera(false);
  fk->SetFrameGrabber(fg_CaptureStream);
  ASSERT_TRUE(fk->StartRecording());
  const QStringList names = FilterNames(*fk);
  EXPECT_EQ(names.filter(QRegularExpression("^Smart Tee\\d+$")).size(), 1) << names.join(", ").toStdString();
  EXPECT_EQ(names.filter(QRegularExpression("^Smart Tee 2\\d+$")).size(), 1);
  fk->StopRecording();
}

TEST_F(GraphBuilding, AFullDiskFailsTheRecordingWithItsEventAndWritesNothing) {
  auto fk = Camera(false);
  int full = 0;
  fk->Events().OnDiskFull = [&](QObject*) { ++full; };
  SetFreeSpaceProbe([](const QString&) { return std::optional<uint64_t>(MinimumFreeBytes - 1); });
  EXPECT_FALSE(fk->StartRecording());
  EXPECT_EQ(full, 1);
  EXPECT_TRUE(LogHas("8 ERROR: disk full!"));
  EXPECT_TRUE(LogHas("cannot start Recording"));
  EXPECT_EQ(fk->GetCurrentState(), cs_None);
  EXPECT_TRUE(QDir(workDir_.path()).entryList({"*.avi"}).isEmpty());

  // Exactly the minimum is room enough; the number the failed attempt took is used.
  SetFreeSpaceProbe([](const QString&) { return std::optional<uint64_t>(MinimumFreeBytes); });
  ASSERT_TRUE(fk->StartRecording());
  fk->StopRecording();
  EXPECT_EQ(fk->GetLastRecordedFile(), QDir(workDir_.path()).filePath("fk000001.avi"));
}

TEST_F(GraphBuilding, WithoutAnyVideoDeviceTheBuildSaysSoBeforeItBegins) {
  SetDeviceProvider(provider_);  // plugs nothing
  RebuildDevicesAndNotify();
  TFK fk;
  ResetProcessLog();
  EnableProcessLog();
  EXPECT_FALSE(fk.RestartGraph(cs_Preview));
  EXPECT_TRUE(LogHas("no video capture device"));
  EXPECT_FALSE(LogHas("BEGIN RestartGraph"));
  SetDeviceProvider(nullptr);
  RebuildDevicesAndNotify();
}

// Compressed on the fly: the selected compressor goes into the recording chain and the file
// still reads back frame by frame.
TEST_F(GraphBuilding, ACompressorChosenForRecordingOnTheFlyEncodesTheFile) {
  auto fk = Camera(false);
  const TDevices* list = VideoCompressorList();
  int index = -1;
  for (int i = 0; i < list->Count() && index < 0; ++i)
    if (list->Entry(i)->Key.contains(com::GuidToString(CLSID_Mpeg4V2Compressor), Qt::CaseInsensitive)) index = i;
  ASSERT_GE(index, 0);
  fk->SetVideoCompressor(index);
  fk->SetCompressionMode(cm_CompressOnTheFly);
  fk->SetCompressionType(ct_Video);
  ASSERT_TRUE(fk->StartRecording());
  EXPECT_TRUE(LogHas("inserting video compressor"));
  QThread::msleep(400);
  fk->StopRecording();
  const std::vector<int> codes = Codes(fk->GetLastRecordedFile());
  ASSERT_GE(codes.size(), 2u);
  ExpectConsecutive(codes);
}

}  // namespace kestrom::engine::test
