// The title scan against real programs: a second process lists its windows in the window
// directory, and the scan sees them as the capture program would be seen.
#include "common/startup/DiagForm806.h"
#include "common/startup/GlobalPaths.h"
#include "platform/winmsg/WinMsg.h"
#include "tests/TestSupport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <memory>

namespace kestrom::shell {
namespace {

class TitleScanProcess : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // A directory of this test's own, so no other test's windows are seen.
    runtime = new QTemporaryDir;
    setenv("KESTROM_RUNTIME_DIR", QFile::encodeName(runtime->path()).constData(), 1);
  }
  static void TearDownTestSuite() {
    winmsg::Shutdown();
    delete runtime;
  }

  void TearDown() override {
    for (auto& peer : peers) {
      peer->kill();
      peer->waitForFinished(5000);
    }
  }

  /** @brief Starts a peer with a visible and a hidden window and waits (bounded) until both are listed. */
  QProcess* StartPeer(const QString& title, const QString& hiddenTitle) {
    auto peer = std::make_unique<QProcess>();
    peer->setProgram(test::BinPath("winmsg-peer"));
    peer->setArguments({"--title", title, "--class", "TPeerForm", "--hidden-title", hiddenTitle, "--hidden-class",
                        "TPeerForm"});
    peer->start();
    EXPECT_TRUE(peer->waitForStarted(10000));
    QElapsedTimer waited;
    waited.start();
    while (!peer->canReadLine() && waited.elapsed() < 20000) peer->waitForReadyRead(500);
    EXPECT_TRUE(peer->readLine().startsWith("ready")) << "peer did not list its windows";
    peers.push_back(std::move(peer));
    return peers.back().get();
  }

  static QTemporaryDir* runtime;
  std::vector<std::unique_ptr<QProcess>> peers;
};

QTemporaryDir* TitleScanProcess::runtime = nullptr;

TEST_F(TitleScanProcess, CountsVisibleAndHiddenWindowsOfOtherPrograms) {
  TDiagForm806 form;
  EXPECT_FALSE(form.CountCaptureWindows());
  QProcess* capture = StartPeer("Kestrom Capture", CaptureWindowTitle);
  EXPECT_TRUE(form.CountCaptureWindows());
  EXPECT_EQ(form.ButtonNo(60)->text(), "2");  // the hidden one counts too

  // Near misses are not the capture program; a title too long is cut before it is compared.
  StartPeer("kestrom capture", AnalysisWindowTitle + QString(133 - AnalysisWindowTitle.size(), '.'));
  EXPECT_TRUE(form.CountCaptureWindows());
  EXPECT_EQ(form.ButtonNo(60)->text(), "2");
  EXPECT_FALSE(form.CountAnalysisWindows());

  // A program that was killed leaves its entries behind; they no longer count.
  capture->kill();
  ASSERT_TRUE(capture->waitForFinished(5000));
  EXPECT_FALSE(form.CountCaptureWindows());
}

TEST_F(TitleScanProcess, FindsTheAnalysisWindowByItsExactTitle) {
  TDiagForm806 form;
  StartPeer("Kestrom Playlist and Video Editing", AnalysisWindowTitle);
  EXPECT_TRUE(form.CountAnalysisWindows());
  EXPECT_TRUE(form.CountPlayListWindows());
  EXPECT_FALSE(form.CountCaptureWindows());
}

}  // namespace
}  // namespace kestrom::shell
