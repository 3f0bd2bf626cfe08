// The live graphs on the test camera and microphone: preview into the renderer, recordings into
// numbered AVI files read back frame by frame (the camera's pictures carry their frame numbers).
#include "LiveGraphFixture.h"

#include "capture/engine/EngineHelpers.h"
#include "capture/engine/FK.h"
#include "capture/engine/GraphHelpers.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/base/MediaType.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/dshow/writers/VideoRenderer.h"
#include "platform/dshow/writers/WriterInterfaces.h"
#include "platform/media/VideoReader.h"
#include "tools/FrameCode.h"
#include "tests/platform/dshow/support/FixtureDevices.h"

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
  EXPECT_EQ(names.filter(QRegularExpression("^rndr\\d+$")).size(), 1);
  auto* video = dynamic_cast<CVideoRenderer*>(fk->DisplayRecord(TFK::ds_Display).renderer.Get());
  ASSERT_NE(video, nullptr);
  for (int i = 0; i < 500 && video->FramesRendered() < 3; ++i) QThread::msleep(10);
  EXPECT_GE(video->FramesRendered(), 3);
  // The renderer's window is shown by the build, not by its first frame.
  LONG visible = 0;
  ASSERT_TRUE(fk->DisplayRecord(TFK::ds_Display).window);
  fk->DisplayRecord(TFK::ds_Display).window->get_Visible(&visible);
  EXPECT_NE(visible, 0);
  fk->StopPreview();
  EXPECT_EQ(fk->GetCurrentState(), cs_None);
  EXPECT_FALSE(fk->HoldsGraphInterfaces());
  EXPECT_FALSE(fk->DisplayRecord(TFK::ds_Display).renderer);
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
  EXPECT_TRUE(QDir(workDir_.path()).entryList({"*.avi"}).isEmpty()) << QDir(workDir_.path()).entryList().join(" ").toStdString();

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
  fk->SetVideoCompression_KeyFrameRate(7);
  // The compressor's abilities and defaults are reported once it is in the graph, then the set
  // values are applied.
  int reports = 0;
  bool canKeyFrames = false;
  fk->Events().OnVideoCompressionSettings = [&](QObject*, bool keyFrames, bool, bool, bool, int, int, double) {
    ++reports;
    canKeyFrames = keyFrames;
  };
  ASSERT_TRUE(fk->StartRecording());
  EXPECT_TRUE(LogHas("inserting video compressor"));
  EXPECT_EQ(reports, 1);
  EXPECT_TRUE(canKeyFrames);
  ComPtr<dshow::IAMVideoCompression> compression;
  for (const ComPtr<IBaseFilter>& filter : FiltersOf(fk->Graph())) {
    if (!compression) filter->QueryInterface(dshow::IID_IAMVideoCompression, compression.PutVoid());
    for (const ComPtr<IPin>& pin : PinsOf(filter.Get()))
      if (!compression) pin->QueryInterface(dshow::IID_IAMVideoCompression, compression.PutVoid());
  }
  ASSERT_TRUE(compression);
  LONG keyFrameRate = 0;
  compression->get_KeyFrameRate(&keyFrameRate);
  EXPECT_EQ(keyFrameRate, 7);
  QThread::msleep(400);
  fk->StopRecording();
  const std::vector<int> codes = Codes(fk->GetLastRecordedFile());
  ASSERT_GE(codes.size(), 2u);
  ExpectConsecutive(codes);
}


// A DV camcorder previews through its decoder; recorded natively its interleaved stream goes to
// the file as it comes, otherwise decoded through the recording chain's "DV Codec".
TEST_F(GraphBuilding, ADvCamcorderBuildsItsPreviewAndBothRecordingChains) {
  dshow::test::FixtureDevices fixtures;
  fixtures.AddDvCamcorder();
  auto fk = Camera(false);
  fk->SetVideoDevice(VideoDeviceList()->IndexOfName(QString::fromUtf16(dshow::test::kDvCamcorderName) + " (WDM)"));
  ASSERT_TRUE(fk->StartPreview());
  EXPECT_TRUE(fk->IsDVSource());
  QStringList names = FilterNames(*fk);
  EXPECT_EQ(names.filter(QRegularExpression("^DV Codec\\d+$")).size(), 1) << names.join(", ").toStdString();
  EXPECT_EQ(names.filter(QRegularExpression("^Smart Tee\\d+$")).size(), 1);
  EXPECT_EQ(names.filter(QRegularExpression("^rndr\\d+$")).size(), 1);
  auto* video = dynamic_cast<CVideoRenderer*>(fk->DisplayRecord(TFK::ds_Display).renderer.Get());
  ASSERT_NE(video, nullptr);
  for (int i = 0; i < 500 && video->FramesRendered() < 3; ++i) QThread::msleep(10);
  EXPECT_GE(video->FramesRendered(), 3);
  fk->StopPreview();

  // The grabber on its own branch decodes there: a tee, the intermediate decoder, a Null Renderer.
  fk->SetFrameGrabber(fg_CaptureStream);
  ResetProcessLog();
  EnableProcessLog();
  ASSERT_TRUE(fk->StartPreview()) << ProcessLogLines().join("\n").toStdString();
  names = FilterNames(*fk);
  EXPECT_EQ(names.filter(QRegularExpression("^Inf Tee Vid\\d+$")).size(), 1) << names.join(", ").toStdString();
  EXPECT_EQ(names.filter(QRegularExpression("^Interm Filter\\d+$")).size(), 1);
  EXPECT_TRUE(names.contains("Null Renderer"));
  EXPECT_EQ(names.filter(QRegularExpression("^rndr\\d+$")).size(), 1);
  fk->StopPreview();
  fk->SetFrameGrabber(fg_Disabled);

  ResetProcessLog();
  EnableProcessLog();
  ASSERT_TRUE(fk->StartRecording()) << ProcessLogLines().join("\n").toStdString();
  names = FilterNames(*fk);
  // The file takes the interleaved stream itself; the recording chain decodes nothing.
  EXPECT_EQ(names.filter(QRegularExpression("^DV Codec")).size(), 0) << names.join(", ").toStdString();
  ComPtr<IPin> written, peer;
  ASSERT_EQ(FindPinByName(fk->FileWriter(), PINDIR_INPUT, QString(), written, false, true), com::S_OK);
  ASSERT_EQ(written->ConnectedTo(peer.Put()), com::S_OK);
  AM_MEDIA_TYPE type{};
  ASSERT_EQ(written->ConnectionMediaType(&type), com::S_OK);
  EXPECT_EQ(type.majortype, MEDIATYPE_Interleaved);
  FreeMediaType(type);
  EXPECT_EQ(fk->MasterStream(), 2);
  RecordFrames(*fk, 4);
  fk->StopRecording();
  const std::vector<int> codes = Codes(fk->GetLastRecordedFile());
  ASSERT_GE(codes.size(), 3u);
  ExpectConsecutive(codes);

  fk->SetRecordingInNativeFormat(false);
  ASSERT_TRUE(fk->StartRecording());
  names = FilterNames(*fk);
  EXPECT_TRUE(names.contains("DV Codec")) << names.join(", ").toStdString();
  fk->StopRecording();
}

TEST_F(GraphBuilding, AProgramStreamEncoderPreviewsThroughTheDemultiplexerAndRecordsDecoded) {
  dshow::test::FixtureDevices fixtures;
  fixtures.AddProgramStreamDevice();
  auto fk = Camera(false);
  fk->SetVideoDevice(
      VideoDeviceList()->IndexOfName(QString::fromUtf16(dshow::test::kProgramStreamDeviceName) + " (WDM)"));
  ASSERT_TRUE(fk->StartPreview());
  EXPECT_TRUE(fk->IsMpegSource());
  QStringList names = FilterNames(*fk);
  EXPECT_EQ(names.filter(QRegularExpression("^MPEG-2 Demultiplexer")).size(), 1) << names.join(", ").toStdString();
  EXPECT_EQ(names.filter(QRegularExpression("^Smart Tee\\d+$")).size(), 1);
  EXPECT_EQ(names.filter(QRegularExpression("^rndr\\d+$")).size(), 1);
  auto* video = dynamic_cast<CVideoRenderer*>(fk->DisplayRecord(TFK::ds_Display).renderer.Get());
  ASSERT_NE(video, nullptr);
  for (int i = 0; i < 500 && video->FramesRendered() < 3; ++i) QThread::msleep(10);
  EXPECT_GE(video->FramesRendered(), 3);
  fk->StopPreview();

  // Decoded, the video goes through the recording chain (a grabber there asks for it).
  fk->SetRecordingInNativeFormat(false);
  fk->SetFrameGrabber(fg_BothStreams);
  ResetProcessLog();
  EnableProcessLog();
  ASSERT_TRUE(fk->StartRecording()) << ProcessLogLines().join("\n").toStdString();
  EXPECT_EQ(fk->GetCurrentState(), cs_Recording);
  RecordFrames(*fk, 4);
  fk->StopRecording();
  const std::vector<int> codes = Codes(fk->GetLastRecordedFile());
  ASSERT_GE(codes.size(), 3u);
  ExpectConsecutive(codes);

  // In its native format the program stream goes to the file as it comes, through the raw writer.
  fk->SetRecordingInNativeFormat(true);
  fk->SetFrameGrabber(fg_Disabled);
  ResetProcessLog();
  EnableProcessLog();
  ASSERT_TRUE(fk->StartRecording()) << ProcessLogLines().join("\n").toStdString();
  EXPECT_TRUE(FilterNames(*fk).contains("FCATCHCTRL_RwCap.Grabber")) << FilterNames(*fk).join(", ").toStdString();
  RecordFrames(*fk, 4);
  fk->StopRecording();
  const std::vector<int> raw = Codes(fk->GetLastRecordedFile());
  ASSERT_GE(raw.size(), 3u);
  ExpectConsecutive(raw);
}

}  // namespace kestrom::engine::test
