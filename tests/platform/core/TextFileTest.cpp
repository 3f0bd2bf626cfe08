#include "platform/core/TextFile.h"
#include "tests/platform/core/QtPrint.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace kestrom::core;

namespace {

QByteArray ReadBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  ASSERT_EQ(f.write(bytes), bytes.size());
}

// Limits the size of files this process may write, as a full disk would, for one scope.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);  // the write then fails with EFBIG instead
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, previous_);
  }

 private:
  rlimit old_{};
  void (*previous_)(int) = nullptr;
};

}  // namespace

TEST(TextFile, WritesCrLfLinesAndReadsEveryLineEnd) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("a.txt"));
  ASSERT_TRUE(WriteTextLines(path, {QStringLiteral("  100"), QString(), QStringLiteral("Arial")}));
  EXPECT_EQ(ReadBytes(path), QByteArray("  100\r\n\r\nArial\r\n"));
  EXPECT_EQ(ReadTextLines(path), QStringList({QStringLiteral("  100"), QString(), QStringLiteral("Arial")}));

  const struct {
    const char* bytes;
    QStringList want;
  } cases[] = {
      {"a\nb\n", {"a", "b"}},
      {"a\rb\r", {"a", "b"}},
      {"a\r\nb", {"a", "b"}},
      {"a\r\n\r\nb\n", {"a", "", "b"}},
      {"\n", {""}},
      {"", {}},
  };
  for (const auto& c : cases) {
    WriteBytes(path, c.bytes);
    EXPECT_EQ(ReadTextLines(path), c.want) << c.bytes;
  }
  EXPECT_FALSE(ReadTextLines(dir.filePath(QStringLiteral("missing.txt"))).has_value());
  EXPECT_FALSE(ReadTextFile(dir.path()).has_value());
}

TEST(TextFile, DecodesUtf8AndFallsBackToWindows1252) {
  // "Café €5" as Windows wrote it: é is 0xE9, € is 0x80; not valid UTF-8.
  EXPECT_EQ(DecodeText(QByteArray("Caf\xE9 \x80" "5\x93q\x94")), QStringLiteral(u"Café €5“q”"));
  EXPECT_EQ(DecodeText(QByteArray("Caf\xC3\xA9 \xE2\x82\xAC" "5")), QStringLiteral(u"Café €5"));
  EXPECT_EQ(DecodeText(QByteArray("\xEF\xBB\xBF" "abc")), QStringLiteral("abc"));
  // A BOM in front of Windows-1252 text (an editor that added one, then saved in the code page).
  EXPECT_EQ(DecodeText(QByteArray("\xEF\xBB\xBF" "Caf\xE9")), QStringLiteral(u"Café"));
  EXPECT_EQ(DecodeText(QByteArray("\x81\x8D")), QString(QChar(0x81)) + QChar(0x8D));

  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("memo.txt"));
  WriteBytes(path, QByteArray("Caf\xE9\r\n\x80 10\r\n"));
  EXPECT_EQ(ReadTextLines(path), QStringList({QStringLiteral(u"Café"), QStringLiteral(u"€ 10")}));
  ASSERT_TRUE(WriteTextLines(path, {QStringLiteral(u"Café €")}));
  EXPECT_EQ(ReadBytes(path), QByteArray("Caf\xC3\xA9 \xE2\x82\xAC\r\n"));
}

TEST(TextFile, FailedWriteLeavesTheOldFileWhole) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("clip.shp"));
  WriteBytes(path, "old contents\r\n");

  {
    // A disk that fills up half-way through the write.
    FileSizeLimit limit(4096);
    const WriteResult r = WriteFileAtomic(path, QByteArray(100000, 'x'));
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.error.isEmpty());
  }
  EXPECT_EQ(ReadBytes(path), QByteArray("old contents\r\n"));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({QStringLiteral("clip.shp")}))
      << "no temporary file is left behind";

  // A target that is a folder stays a folder.
  const QString folder = dir.filePath(QStringLiteral("clip.ang"));
  ASSERT_TRUE(QDir().mkdir(folder));
  WriteBytes(folder + QStringLiteral("/inner"), "keep");
  const WriteResult overFolder = WriteTextLines(folder, {QStringLiteral("1")});
  EXPECT_FALSE(overFolder);
  EXPECT_TRUE(overFolder.error.contains(folder)) << overFolder.error.toStdString();
  EXPECT_EQ(ReadBytes(folder + QStringLiteral("/inner")), QByteArray("keep"));

  // A folder that does not exist.
  const WriteResult noFolder = WriteTextLines(dir.filePath(QStringLiteral("nowhere/x.txt")), {QStringLiteral("1")});
  EXPECT_FALSE(noFolder);
  EXPECT_FALSE(noFolder.error.isEmpty());

  // A folder the user may not write into (root may write anywhere, so only as a user).
  if (geteuid() != 0) {
    const QString locked = dir.filePath(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkdir(locked));
    WriteBytes(locked + QStringLiteral("/a.txt"), "old");
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner);
    EXPECT_FALSE(WriteTextLines(locked + QStringLiteral("/a.txt"), {QStringLiteral("new")}));
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(ReadBytes(locked + QStringLiteral("/a.txt")), QByteArray("old"));
  }

  ASSERT_TRUE(WriteFileAtomic(path, "new\r\n"));
  EXPECT_EQ(ReadBytes(path), QByteArray("new\r\n"));
}

TEST(NumberReader, ReadsNumbersAcrossBlanksAndLineEnds) {
  NumberReader r(QStringLiteral("   -1   25 12345\r\n  3.50\t-0.25\n7 trailing text\r\nFont Name\r\n  9"));
  EXPECT_EQ(r.NextInt(), -1);
  EXPECT_EQ(r.NextInt(), 25);
  EXPECT_EQ(r.NextInt(), 12345);
  EXPECT_EQ(r.NextReal(), 3.5);
  EXPECT_EQ(r.NextReal(), -0.25);
  EXPECT_EQ(r.NextInt(), 7);
  r.SkipLine();
  EXPECT_EQ(r.ReadLine(), QStringLiteral("Font Name"));
  EXPECT_FALSE(r.AtEnd());
  EXPECT_EQ(r.NextInt(), 9);
  EXPECT_TRUE(r.AtEnd());
  EXPECT_FALSE(r.NextInt().has_value());
  EXPECT_FALSE(r.Failed()) << "the end of the text is not an error";
}

TEST(NumberReader, StopsAtAMalformedNumber) {
  const struct {
    const char* text;
    int goodInts;
  } cases[] = {
      {"1 2 x3 4", 2}, {"1 2.5 3", 1}, {"1 12abc 3", 1}, {"--1", 0}, {"1\r\n2\r\n\r\n", 2}, {"", 0},
  };
  for (const auto& c : cases) {
    NumberReader r{QString::fromLatin1(c.text)};
    int n = 0;
    while (r.NextInt()) ++n;
    EXPECT_EQ(n, c.goodInts) << c.text;
    EXPECT_FALSE(r.NextInt().has_value()) << "reading stays stopped: " << c.text;
  }
  NumberReader reals(QStringLiteral("100.00 nan 3"));
  EXPECT_EQ(reals.NextReal(), 100.0);
  EXPECT_FALSE(reals.NextReal().has_value());
  EXPECT_TRUE(reals.Failed());
  EXPECT_FALSE(reals.NextReal().has_value());
}
