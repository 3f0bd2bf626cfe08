#pragma once
// The program's forms as at start-up, with clips whose pixels carry their frame numbers opened
// in the analysis windows through the open button, on a hand-driven clock.

#include "StartUpFixture.h"
#include "analysis/window/KestromForm.h"
#include "platform/core/Clock.h"
#include "platform/ui/Dialogs.h"
#include "tools/ClipWriter.h"

#include <QCoreApplication>
#include <QFile>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QToolButton>

namespace kestrom::test {

class WindowClipFixture : public StartUpFixture {
 protected:
  void SetUp() override {
    core::SetSystemClock(&clock);
    StartUpFixture::SetUp();
    Main()->StartTimerTimer();
  }
  void TearDown() override {
    StartUpFixture::TearDown();
    core::SetSystemClock(nullptr);
  }

  /**
   * @brief A 320x240 MJPEG clip, written once for the whole test program. The file name carries
   * the length and rate, so two tests asking for "main.avi" of different lengths each get theirs.
   */
  static QString Clip(const QString& name, int frames, int rate = 25, int rateDen = 1, QSize size = {320, 240}) {
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("%1f-%2by%3fps-%4x%5-%6")
                                          .arg(frames).arg(rate).arg(rateDen).arg(size.width()).arg(size.height()).arg(name));
    if (!QFile::exists(path)) {
      tools::ClipSpec clipSpec;
      clipSpec.path = path;
      clipSpec.codec = "mjpeg";
      clipSpec.size = size;
      clipSpec.frames = frames;
      clipSpec.rateNum = rate;
      clipSpec.rateDen = rateDen;
      QString error;
      EXPECT_TRUE(tools::WriteClip(clipSpec, &error)) << error.toStdString();
    }
    return path;
  }

  /** @brief Opens a clip as the coach does, then stops the half-speed play that opening starts. */
  void Open(window::TKestromForm* w, const QString& path) {
    dialogs.dialogs.Push(path);
    w->SpeedButton1->click();
    ASSERT_TRUE(w->VideoOpen) << path.toStdString();
    w->StopPlayback();
  }

  /** @brief A left-button mouse event on the window, at a point of its client area. */
  static void Mouse(window::TKestromForm* w, QEvent::Type type, QPoint p) {
    QMouseEvent e(type, QPointF(p), w->mapToGlobal(QPointF(p)), Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
  }

  static QToolButton* Button(QWidget* in, const char* name) { return in->findChild<QToolButton*>(name); }

  core::ManualClock clock{1'000'000};
};

}  // namespace kestrom::test
