// File identity: the names that lead to one file, whether the file exists or not.
#include "platform/core/Paths.h"
#include "tests/platform/core/QtPrint.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace kestrom::core;

namespace {

class SameFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    ASSERT_TRUE(QDir().mkpath(In("sub")));
    for (const char* name : {"a.avi", "b.avi"}) {
      QFile f(In(name));
      ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write("clip") == 4);
    }
    ASSERT_TRUE(QFile::link(In("a.avi"), In("link.avi")));
    ASSERT_TRUE(QFile::link(In("sub"), In("sublink")));
    ASSERT_EQ(::link(QFile::encodeName(In("a.avi")).constData(), QFile::encodeName(In("hard.avi")).constData()), 0);
    previous_ = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir_.path()));
  }
  void TearDown() override { QDir::setCurrent(previous_); }
  QString In(const QString& name) const { return dir_.filePath(name); }

  QTemporaryDir dir_;
  QString previous_;
};

}  // namespace

TEST_F(SameFileTest, NamesOfOneFileAreTheSameAndOthersAreNot) {
  struct Case {
    QString a, b;
    bool same;
  };
  const Case cases[] = {
      {In("a.avi"), In("a.avi"), true},
      {In("a.avi"), "./a.avi", true},
      {In("a.avi"), In("sub/../a.avi"), true},
      {In("a.avi"), In("link.avi"), true},
      {In("hard.avi"), "a.avi", true},
      {In("a.avi"), In("b.avi"), false},
      {In("a.avi"), In("sub"), false},
      // Missing files: the same canonical folder and name, through a linked folder too.
      {In("new.avi"), "./new.avi", true},
      {In("sub/new.avi"), In("sublink/new.avi"), true},
      {In("sub/new.avi"), In("sub/other.avi"), false},
      {In("nowhere/new.avi"), In("nowhere/./new.avi"), true},
      {In("a.avi"), In("new.avi"), false},
      {QString(), QString(), false},
      {In("a.avi"), QString(), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE((c.a + " | " + c.b).toStdString());
    EXPECT_EQ(SameFile(c.a, c.b), c.same);
    EXPECT_EQ(SameFile(c.b, c.a), c.same);
  }
}
