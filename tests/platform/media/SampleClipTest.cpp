#include "platform/media/VideoReader.h"
#include "tests/TestSupport.h"
#include "tools/FrameCode.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kestrom::media {
namespace {

// A new user finds a clip to open at once: ten seconds of 720x576 MPEG-4 V2 at 25 fps in the
// default samples folder, written once and left alone afterwards.
TEST(SampleClip, IsWrittenOnceIntoTheSamplesFolder) {
  QTemporaryDir drive;
  QProcess tool;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("KESTROM_SYSTEM_DRIVE", drive.path());
  tool.setProcessEnvironment(env);
  tool.start(test::BinPath("KestromSampleClip"), {"--samples"});
  ASSERT_TRUE(tool.waitForFinished(120000));
  ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();

  const QString clip = QDir(drive.path()).filePath("KestromSamples/Sample Runner.avi");
  VideoReader reader;
  ASSERT_TRUE(reader.Open(clip)) << reader.ErrorString().toStdString();
  EXPECT_EQ(reader.Info().size, QSize(720, 576));
  EXPECT_EQ(reader.Info().frameCount, 250);
  EXPECT_EQ(reader.Info().DurationMs(), 10000);
  EXPECT_EQ(reader.Info().codec, "msmpeg4v2");
  for (int64_t n : {0, 137, 249}) EXPECT_EQ(tools::ReadFrameCode(reader.Frame(n)), n);

  const QDateTime written = QFileInfo(clip).lastModified();
  tool.start(test::BinPath("KestromSampleClip"), {"--samples"});
  ASSERT_TRUE(tool.waitForFinished(120000));
  EXPECT_EQ(tool.exitCode(), 0);
  EXPECT_EQ(QFileInfo(clip).lastModified(), written) << "an existing sample is kept";
}

}  // namespace
}  // namespace kestrom::media
