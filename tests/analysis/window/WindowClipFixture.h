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

  /** @brief A 320x240 MJPEG clip at 25 fps, written once for the whole test program. */
  static QString Clip(const QString& name, int frames) {
    static QTemporaryDir dir;
    const QString path = dir.filePath(name);
    if (!QFile::exists(path)) {
      tools::ClipSpec spec;
      spec.path = path;
      spec.codec = "mjpeg";
      spec.size = {320, 240};
      spec.frames = frames;
      QString error;
      EXPECT_TRUE(tools::WriteClip(spec, &error)) << error.toStdString();
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
