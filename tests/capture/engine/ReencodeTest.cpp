// Re-encoding as a copy: a clip recorded from the test camera goes through a graph into a new
// file whose frames read back in order; a failed run leaves the destination as it was.
#include "LiveGraphFixture.h"

#include <QFile>
#include <QThread>

namespace kestrom::engine::test {

namespace {

class ReencodeCopy : public LiveGraphTest {
 protected:
  QString InWork(const QString& name) const { return QDir(workDir_.path()).filePath(name); }
  /** @brief A clip of the test camera (with the microphone's sound), recorded by an engine. */
  QString RecordClip() {
    auto fk = Camera(true);
    EXPECT_TRUE(fk->StartRecording());
    QThread::msleep(500);
    fk->StopRecording();
    return fk->GetLastRecordedFile();
  }
  static QByteArray Contents(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  /** @brief The folder holds exactly these files (no temporary file left behind). */
  void ExpectFolderHolds(const QStringList& names) const {
    QStringList present = QDir(workDir_.path()).entryList(QDir::Files | QDir::Hidden);
    present.removeAll("fcatchlog.txt");
    present.sort();
    QStringList wanted = names;
    wanted.sort();
    EXPECT_EQ(present, wanted);
  }
};

}  // namespace

// The copy replaces an older destination file; progress goes to the mode's own event only, each
// changed value once, ending with 100.
TEST_F(ReencodeCopy, AClipCopiedThroughTheGraphReadsBackFrameByFrame) {
  const QString clip = RecordClip();
  bool clipAudio = false;
  const std::vector<int> recorded = Codes(clip, &clipAudio);
  ASSERT_GE(recorded.size(), 3u);
  ASSERT_TRUE(clipAudio);
  for (const bool copyMode : {true, false}) {
    SCOPED_TRACE(copyMode);
    const QString dest = InWork("copy.avi");
    {
      QFile old(dest);
      ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write(QByteArray(300000, 'x')) > 0);
    }
    auto fk = Camera(true);
    std::vector<int> copyProgress, reencodingProgress;
    fk->Events().OnCopyPreallocDataProgress = [&](QObject*, const TProgressInfo& p) { copyProgress.push_back(p.Percent); };
    fk->Events().OnReencodingProgress = [&](QObject*, const TProgressInfo& p) { reencodingProgress.push_back(p.Percent); };
    ASSERT_TRUE(fk->Reencode(clip, dest, copyMode, false, false, false, true));
    const std::vector<int>& used = copyMode ? copyProgress : reencodingProgress;
    EXPECT_TRUE((copyMode ? reencodingProgress : copyProgress).empty());
    ASSERT_FALSE(used.empty());
    EXPECT_EQ(used.back(), 100);
    for (size_t i = 1; i + 1 < used.size(); ++i) EXPECT_NE(used[i], used[i - 1]);
    bool copiedAudio = false;
    EXPECT_EQ(Codes(dest, &copiedAudio), recorded);
    EXPECT_TRUE(copiedAudio);
    EXPECT_EQ(fk->GetCurrentState(), cs_None);
    EXPECT_FALSE(fk->HoldsGraphInterfaces());
    ExpectFolderHolds({QFileInfo(clip).fileName(), "copy.avi"});
  }
}

TEST_F(ReencodeCopy, ThePublicCallRunsInItsOwnStateBetweenItsEvents) {
  const QString clip = RecordClip();
  auto fk = Camera(false);
  QStringList events;
  fk->Events().OnReencodingStarted = [&](QObject*, const QString& from, const QString& to) {
    events << "started " + from + " " + to;
  };
  fk->Events().OnReencodingProgress = [&](QObject*, const TProgressInfo&) {
    if (events.last() != "running") events << "running";
    EXPECT_EQ(fk->GetCurrentState(), cs_Reencoding);
  };
  fk->Events().OnReencodingCompleted = [&](QObject*, const QString&, const QString&, bool ok) {
    events << QString("completed %1").arg(ok);
  };
  const QString dest = InWork("video only.avi");
  ASSERT_TRUE(fk->ReencodeFile(clip, dest, false, false, false, false));
  EXPECT_EQ(events, QStringList({"started " + clip + " " + dest, "running", "completed 1"}));
  bool audio = true;
  EXPECT_EQ(Codes(dest, &audio), Codes(clip));
  EXPECT_FALSE(audio);
  EXPECT_TRUE(fk->TakeReencodingStarted());
}

// A source that cannot be read, or is the destination itself, fails the run before anything of
// the destination is touched.
TEST_F(ReencodeCopy, AFailedRunLeavesTheDestinationAsItWas) {
  const QString clip = RecordClip();
  const QString bad = InWork("damaged.avi"), dest = InWork("kept.avi");
  {
    QFile f(bad);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(QByteArray("RIFF\x10\0\0\0AVI junk that is no clip", 31)) > 0);
  }
  ASSERT_TRUE(QFile::copy(clip, dest));
  const QByteArray before = Contents(dest);
  struct Case {
    const char* name;
    QString source, dest, message;
  };
  const Case cases[] = {
      {"missing", InWork("nowhere.avi"), dest, "source not found or not suitable: " + InWork("nowhere.avi")},
      {"damaged", bad, dest, "source not found or not suitable: " + bad},
      {"identical", dest, QDir(workDir_.path()).filePath("./kept.avi"),
       "video compressor source and destination files must not be identical"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto fk = Camera(false);
    ResetProcessLog();
    EnableProcessLog();
    EXPECT_FALSE(fk->Reencode(c.source, c.dest, true, false, false, false, false));
    EXPECT_TRUE(LogHas(c.message));
    EXPECT_EQ(Contents(dest), before);
    EXPECT_EQ(fk->GetCurrentState(), cs_None);
    ExpectFolderHolds({QFileInfo(clip).fileName(), "damaged.avi", "kept.avi"});
  }
}

}  // namespace kestrom::engine::test
