// Copying a saved capture: the copy is byte for byte, a copy onto the source itself is refused
// whatever name it goes by, and a failed copy keeps the file that was there.
#include "platform/core/FileCopy.h"
#include "tests/platform/core/QtPrint.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace kestrom::core;

namespace {

class FileCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    // More than one copy block, with a tail, so block joins are checked too.
    source_.resize((3 << 20) + 12345);
    for (int i = 0; i < source_.size(); ++i) source_[i] = char((i * 131 + i / 7) & 0xFF);
    Write("clip.avi", source_);
  }
  QString In(const QString& name) const { return dir_.filePath(name); }
  void Write(const QString& name, const QByteArray& bytes) {
    QFile f(In(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
  }
  QByteArray Read(const QString& name) const {
    QFile f(In(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  QStringList Leftovers() const {
    return QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".tmp"));
  }

  QTemporaryDir dir_;
  QByteArray source_;
};

}  // namespace

TEST_F(FileCopyTest, CopiesNewAndExistingTargetsExactly) {
  ASSERT_TRUE(CopyFileAtomic(In("clip.avi"), In("new.avi")).ok);
  EXPECT_EQ(Read("new.avi"), source_);
  Write("old.avi", QByteArray("an older and different file"));
  ASSERT_TRUE(CopyFileAtomic(In("clip.avi"), In("old.avi")).ok);
  EXPECT_EQ(Read("old.avi"), source_);
  EXPECT_EQ(Read("clip.avi"), source_);
  EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join('|').toStdString();
}

TEST_F(FileCopyTest, TheSourceUnderAnyNameIsRefusedAndStaysWhole) {
  ASSERT_TRUE(QFile::link(In("clip.avi"), In("link.avi")));
  ASSERT_EQ(::link(QFile::encodeName(In("clip.avi")).constData(), QFile::encodeName(In("hard.avi")).constData()), 0);
  ASSERT_TRUE(QDir().mkpath(In("sub")));
  for (const QString& target : {In("clip.avi"), In("link.avi"), In("hard.avi"), In("sub/../clip.avi"),
                                dir_.path() + QStringLiteral("//./clip.avi")}) {
    const WriteResult result = CopyFileAtomic(In("clip.avi"), target);
    EXPECT_FALSE(result.ok) << target.toStdString();
    EXPECT_FALSE(result.error.isEmpty());
    EXPECT_EQ(Read("clip.avi"), source_) << target.toStdString();
  }
  // Copying through the link onto the file itself is refused too.
  EXPECT_FALSE(CopyFileAtomic(In("link.avi"), In("clip.avi")).ok);
  EXPECT_EQ(Read("clip.avi"), source_);
}

TEST_F(FileCopyTest, AFailedCopyKeepsTheExistingTarget) {
  Write("kept.avi", QByteArray("the coach's earlier video"));
  // A source that cannot be read.
  EXPECT_FALSE(CopyFileAtomic(In("missing.avi"), In("kept.avi")).ok);
  EXPECT_EQ(Read("kept.avi"), QByteArray("the coach's earlier video"));
  // A folder that cannot be written (the temporary file cannot be made beside the target).
  if (::geteuid() != 0) {
    ASSERT_TRUE(QDir().mkpath(In("locked")));
    Write("locked/kept.avi", QByteArray("locked away"));
    ASSERT_TRUE(QFile::setPermissions(In("locked"), QFile::ReadOwner | QFile::ExeOwner));
    EXPECT_FALSE(CopyFileAtomic(In("clip.avi"), In("locked/kept.avi")).ok);
    ASSERT_TRUE(QFile::setPermissions(In("locked"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    EXPECT_EQ(Read("locked/kept.avi"), QByteArray("locked away"));
  }
  // A folder in the target's place, and empty names.
  ASSERT_TRUE(QDir().mkpath(In("folder.avi")));
  EXPECT_FALSE(CopyFileAtomic(In("clip.avi"), In("folder.avi")).ok);
  EXPECT_FALSE(CopyFileAtomic(QString(), In("x.avi")).ok);
  EXPECT_FALSE(CopyFileAtomic(In("clip.avi"), QString()).ok);
}
