// Recording files on the test camera: the recording and writing files, the preallocated capture
// file (kept, re-allocated, copied out after the recording), switching files during a recording
// and the disk checks.
#include "LiveGraphFixture.h"

#include "platform/dshow/base/ControlInterfaces.h"

#include <QFile>
#include <QThread>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace kestrom::engine::test {

using namespace dshow;

namespace {

class RecordingFiles : public LiveGraphTest {
 protected:
  QString InWork(const QString& name) const { return QDir(workDir_.path()).filePath(name); }
};

/** @brief A capture graph builder that only notes the sizes it is asked to allocate. */
struct AllocationProbe final : ICaptureGraphBuilder2 {
  std::vector<uint64_t> sizes;
  HRESULT QueryInterface(com::REFIID, void**) override { return com::E_NOINTERFACE; }
  com::ULONG AddRef() override { return 1; }
  com::ULONG Release() override { return 1; }
  HRESULT SetFiltergraph(IGraphBuilder*) override { return com::E_NOTIMPL; }
  HRESULT GetFiltergraph(IGraphBuilder**) override { return com::E_NOTIMPL; }
  HRESULT SetOutputFileName(const GUID*, LPCWSTR, IBaseFilter**, IFileSinkFilter**) override { return com::E_NOTIMPL; }
  HRESULT FindInterface(const GUID*, const GUID*, IBaseFilter*, REFIID, void**) override { return com::E_NOTIMPL; }
  HRESULT RenderStream(const GUID*, const GUID*, IUnknown*, IBaseFilter*, IBaseFilter*) override { return com::E_NOTIMPL; }
  HRESULT ControlStream(const GUID*, const GUID*, IBaseFilter*, REFERENCE_TIME*, REFERENCE_TIME*, WORD, WORD) override {
    return com::E_NOTIMPL;
  }
  HRESULT AllocCapFile(LPCWSTR, uint64_t size) override {
    sizes.push_back(size);
    return com::S_OK;
  }
  HRESULT CopyCaptureFile(LPWSTR, LPWSTR, int, IAMCopyCaptureFileProgress*) override { return com::E_NOTIMPL; }
  HRESULT FindPin(IUnknown*, PIN_DIRECTION, const GUID*, const GUID*, BOOL, int, IPin**) override { return com::E_NOTIMPL; }
};

}  // namespace


TEST_F(RecordingFiles, APreallocatedFileIsKeptWhenLargeEnoughAndAllocatedAgainWhenSmaller) {
  struct Case {
    const char* name;
    qint64 existing;  // -1: no file
    bool largeEnough;
  };
  const Case cases[] = {{"missing", -1, false}, {"exact", 2 << 20, true}, {"larger", 3 << 20, true},
                        {"smaller", (2 << 20) - 1, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto fk = Camera(false);
    const QString file = QDir(workDir_.path()).filePath(QString(c.name) + ".rec");
    if (c.existing >= 0) {
      QFile f(file);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.resize(c.existing));
    }
    fk->SetPreallocCapFileName(file);
    fk->SetPreallocCapFileSizeInMB(2);
    std::vector<bool> completed;
    fk->Events().OnCreatePreallocFileCompleted = [&](QObject*, const QString&, bool ok) { completed.push_back(ok); };
    ResetProcessLog();
    EnableProcessLog();
    ASSERT_TRUE(fk->CreatePreallocatedFile());
    EXPECT_EQ(LogHas("large enough"), c.largeEnough);
    EXPECT_EQ(LogHas("resizing prealloc. cap. file \"" + file + "\"..."), c.existing >= 0 && !c.largeEnough);
    EXPECT_EQ(completed, c.largeEnough ? std::vector<bool>{} : std::vector<bool>{true});
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
    EXPECT_EQ(st.st_size, c.largeEnough ? c.existing : 2 << 20);
    if (!c.largeEnough) {
      EXPECT_GE(int64_t(st.st_blocks) * 512, 2 << 20);  // reserved, not sparse
    }
  }
}

TEST_F(RecordingFiles, ARecordingKeptInThePreallocatedFileIsReportedUnderItsNameAndReadsBack) {
  auto fk = Camera(false);
  const QString file = QDir(workDir_.path()).filePath("capture.rec");
  fk->SetPreallocCapFileEnabled(true);
  fk->SetPreallocCapFileCopiedAfterRecording(false);
  fk->SetPreallocCapFileName(file);
  fk->SetPreallocCapFileSizeInMB(4);
  QString started, completed;
  fk->Events().OnRecordingStarted = [&](QObject*, const QString& name) { started = name; };
  fk->Events().OnRecordingCompleted = [&](QObject*, const QString& name, bool ok) {
    if (ok) completed = name;
  };
  ASSERT_TRUE(fk->StartRecording());
  QThread::msleep(400);
  fk->StopRecording();
  EXPECT_EQ(started, file);
  EXPECT_EQ(completed, file);
  const std::vector<int> codes = Codes(file);
  ASSERT_GE(codes.size(), 2u);
  ExpectConsecutive(codes);
}

TEST_F(RecordingFiles, RenewClosesTheFileAndGoesOnIntoTheNextBothReadable) {
  auto fk = Camera(false);
  std::vector<QString> started, completed;
  fk->Events().OnRecordingStarted = [&](QObject*, const QString& file) { started.push_back(file); };
  fk->Events().OnRecordingCompleted = [&](QObject*, const QString& file, bool ok) {
    if (ok) completed.push_back(file);
  };
  ASSERT_TRUE(fk->StartRecording());
  QThread::msleep(400);
  fk->SetRecordingFileName("RENEW");
  EXPECT_EQ(fk->GetRecordingFileName(), "");
  EXPECT_EQ(fk->GetCurrentState(), cs_Recording);
  QThread::msleep(400);
  fk->StopRecording();
  const QString first = QDir(workDir_.path()).filePath("fk000001.avi");
  const QString second = QDir(workDir_.path()).filePath("fk000002.avi");
  EXPECT_EQ(started, (std::vector<QString>{first, second}));
  EXPECT_EQ(completed, started);
  const std::vector<int> codes = Codes(first), next = Codes(second);
  ASSERT_FALSE(codes.empty());
  ASSERT_FALSE(next.empty());
  ExpectConsecutive(codes);
  ExpectConsecutive(next);
  // The second file goes on where the first stopped (at most the picture in flight at the switch
  // is lost): the camera was not started over, and no frame is in both files.
  EXPECT_GT(next.front(), codes.back());
  EXPECT_LE(next.front(), codes.back() + 2);
}

// No room for the next file: the file written so far closes cleanly and stays the recording's,
// the recording waits stopped, and its stop reports no second completion. The number the failed
// name took is used by the next recording.
TEST_F(RecordingFiles, RenewOnAFullDiskKeepsTheClosedFileAndReportsItOnce) {
  auto fk = Camera(false);
  std::vector<std::pair<QString, bool>> completed;
  int full = 0;
  fk->Events().OnRecordingCompleted = [&](QObject*, const QString& file, bool ok) { completed.emplace_back(file, ok); };
  fk->Events().OnDiskFull = [&](QObject*) { ++full; };
  ASSERT_TRUE(fk->StartRecording());
  QThread::msleep(300);
  SetFreeSpaceProbe([](const QString&) { return std::optional<uint64_t>(MinimumFreeBytes - 1); });
  fk->SetRecordingFileName("RENEW");
  const QString first = InWork("fk000001.avi");
  EXPECT_EQ(full, 1);
  EXPECT_TRUE(LogHas("disk full!"));
  EXPECT_EQ(fk->GetCurrentState(), cs_Recording);
  EXPECT_EQ(fk->GetLastRecordedFile(), first);
  EXPECT_EQ(completed, (std::vector<std::pair<QString, bool>>{{first, true}}));
  fk->StopRecording();
  EXPECT_EQ(fk->GetCurrentState(), cs_None);
  EXPECT_EQ(completed.size(), 1u);
  EXPECT_FALSE(QFileInfo::exists(InWork("fk000002.avi")));
  const std::vector<int> codes = Codes(first);
  ASSERT_FALSE(codes.empty());
  ExpectConsecutive(codes);

  SetFreeSpaceProbe(nullptr);
  ASSERT_TRUE(fk->StartRecording());
  fk->StopRecording();
  EXPECT_EQ(fk->GetLastRecordedFile(), InWork("fk000002.avi"));
}

// Writes past a size limit fail as on a full disk: the file the writer could not finish is
// reported as not closed cleanly, and the recording goes on into the next file.
TEST_F(RecordingFiles, RenewReportsAFileTheWriterCouldNotFinish) {
  auto fk = Camera(false);
  std::vector<std::pair<QString, bool>> completed;
  fk->Events().OnRecordingCompleted = [&](QObject*, const QString& file, bool ok) { completed.emplace_back(file, ok); };
  const QString first = InWork("fk000001.avi"), second = InWork("fk000002.avi");
  ASSERT_TRUE(fk->StartRecording());
  QThread::msleep(300);
  rlimit unlimited{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &unlimited), 0);
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limited = unlimited;
  limited.rlim_cur = rlim_t(QFileInfo(first).size());
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  QThread::msleep(100);
  fk->SetRecordingFileName("RENEW");
  setrlimit(RLIMIT_FSIZE, &unlimited);
  std::signal(SIGXFSZ, previousHandler);
  EXPECT_EQ(completed, (std::vector<std::pair<QString, bool>>{{first, false}}));
  EXPECT_EQ(fk->GetCurrentState(), cs_Recording);
  QThread::msleep(300);
  fk->StopRecording();
  EXPECT_EQ(completed, (std::vector<std::pair<QString, bool>>{{first, false}, {second, true}}));
  const std::vector<int> codes = Codes(second);
  ASSERT_FALSE(codes.empty());
  ExpectConsecutive(codes);
}

TEST_F(RecordingFiles, RenewIsRefusedWhileRecordingIntoAPreallocatedFile) {
  auto fk = Camera(false);
  fk->SetPreallocCapFileEnabled(true);
  fk->SetPreallocCapFileCopiedAfterRecording(false);
  fk->SetPreallocCapFileName(QDir(workDir_.path()).filePath("capture.rec"));
  fk->SetPreallocCapFileSizeInMB(4);
  int completions = 0;
  fk->Events().OnRecordingCompleted = [&](QObject*, const QString&, bool) { ++completions; };
  ASSERT_TRUE(fk->StartRecording());
  fk->SetRecordingFileName("RENEW");
  EXPECT_TRUE(LogHas("creating a new AVI file during recording not allowed when using a preallocated file"));
  EXPECT_EQ(completions, 0);
  EXPECT_EQ(fk->RunState(), 2);
  fk->StopRecording();
  EXPECT_EQ(completions, 1);
}

// 2048 MB and more overflow 32 bits: each size must reach the allocation whole.
TEST_F(RecordingFiles, LargePreallocatedSizesReachTheAllocationWhole) {
  auto fk = Camera(false);
  for (const int mb : {1, 2047, 2048, 4095}) {
    SCOPED_TRACE(mb);
    AllocationProbe probe;
    fk->SetPreallocCapFileSizeInMB(mb);
    EXPECT_TRUE(fk->PrepareCaptureFile(&probe, InWork("large.rec")));
    EXPECT_EQ(probe.sizes, std::vector<uint64_t>{uint64_t(mb) << 20});
  }
}

// Copied after the recording: the application gets a numbered file, the preallocated file keeps
// the capture, and both hold the same frames in order.
TEST_F(RecordingFiles, ARecordingCopiedOutOfThePreallocatedFileReadsBackLikeTheCapture) {
  auto fk = Camera(true);
  const QString rec = InWork("capture.rec"), avi = InWork("fk000001.avi");
  fk->SetPreallocCapFileEnabled(true);
  fk->SetPreallocCapFileCopiedAfterRecording(true);
  fk->SetPreallocCapFileName(rec);
  fk->SetPreallocCapFileSizeInMB(8);
  QStringList events;
  std::vector<int> progress;
  fk->Events().OnRecordingStarted = [&](QObject*, const QString& file) { events << "started " + file; };
  fk->Events().OnCopyPreallocDataStarted = [&](QObject*, const QString& from, const QString& to) {
    events << "copy " + from + " " + to;
  };
  fk->Events().OnCopyPreallocDataProgress = [&](QObject*, const TProgressInfo& p) { progress.push_back(p.Percent); };
  fk->Events().OnReencodingProgress = [&](QObject*, const TProgressInfo&) { events << "reencoding progress"; };
  fk->Events().OnCopyPreallocDataCompleted = [&](QObject*, const QString&, const QString&, bool ok) {
    events << QString("copied %1").arg(ok);
  };
  fk->Events().OnRecordingCompleted = [&](QObject*, const QString& file, bool ok) {
    events << QString("completed %1 %2").arg(file).arg(ok);
  };
  ASSERT_TRUE(fk->StartRecording());
  QThread::msleep(500);
  fk->StopRecording();
  EXPECT_EQ(events, QStringList({"started " + avi, "copy " + rec + " " + avi, "copied 1", "completed " + avi + " 1"}));
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), 100);
  EXPECT_EQ(fk->GetLastRecordedFile(), avi);
  bool recAudio = false, aviAudio = false;
  const std::vector<int> captured = Codes(rec, &recAudio), copied = Codes(avi, &aviAudio);
  ASSERT_GE(captured.size(), 2u);
  ExpectConsecutive(captured);
  EXPECT_EQ(copied, captured);
  EXPECT_TRUE(recAudio);
  EXPECT_TRUE(aviAudio);
  // The preallocated file keeps at least its size for the next recording.
  EXPECT_GE(QFileInfo(rec).size(), 8 << 20);
}

// A shorter recording into the name of an older, longer one: the old file's tail is skipped by
// a JUNK chunk after the new RIFF list, so only the new recording's frames read back.
TEST_F(RecordingFiles, AShorterRecordingIntoAnOlderFileReadsBackOnlyItsOwnFrames) {
  const QString file = QDir(workDir_.path()).filePath("again.avi");
  size_t olderFrames = 0;
  for (const bool older : {true, false}) {
    dshow::SetTestDevicesLive(!older);  // the older one: as fast as the graph takes frames
    auto fk = Camera(false);
    fk->SetRecordingFileName(file);
    ASSERT_TRUE(fk->StartRecording());
    QThread::msleep(older ? 600 : 200);
    fk->StopRecording();
    const std::vector<int> codes = Codes(file);
    ASSERT_GE(codes.size(), 2u);
    ExpectConsecutive(codes);
    if (older) {
      olderFrames = codes.size();
      continue;
    }
    EXPECT_LT(codes.size(), olderFrames);
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray head = f.read(8);
    const uint32_t riffSize = uint8_t(head[4]) | (uint8_t(head[5]) << 8) | (uint8_t(head[6]) << 16) |
                              (uint32_t(uint8_t(head[7])) << 24);
    ASSERT_LT(int64_t(riffSize) + 8, f.size());
    ASSERT_TRUE(f.seek(8 + int64_t(riffSize)));
    const QByteArray next = f.read(8);
    EXPECT_EQ(next.left(4), QByteArray("JUNK"));
    const uint32_t junkSize = uint8_t(next[4]) | (uint8_t(next[5]) << 8) | (uint8_t(next[6]) << 16) |
                              (uint32_t(uint8_t(next[7])) << 24);
    EXPECT_EQ(16 + int64_t(riffSize) + junkSize, f.size());
  }
}

}  // namespace kestrom::engine::test
