#pragma once
// The floating palettes of an analysis window: markers, shapes and angles. Each acts on the
// window of its owner index (1 MainWindow, 2 BestWindow); the tools themselves are added with
// the drawing tools.

#include <QWidget>

namespace kestrom::window {

class TKestromForm;

class TPalette : public QWidget {
  Q_OBJECT
 public:
  TPalette(TKestromForm* owner, const QString& name, const QString& caption, int width, int height);
  int OwnerIndex = 0;
  /** @brief The window the palette acts on; nothing for an index other than 1 or 2. */
  TKestromForm* OwnerWindow() const;
  /** @brief The palette came to the front: a running export of MainWindow holds still. */
  void FormActivate();

 protected:
  void changeEvent(QEvent* event) override;
};

class TMarkerForm final : public TPalette {
  Q_OBJECT
 public:
  explicit TMarkerForm(TKestromForm* owner);
};

class TShapesControlForm final : public TPalette {
  Q_OBJECT
 public:
  explicit TShapesControlForm(TKestromForm* owner);
};

class TAnglesControlForm final : public TPalette {
  Q_OBJECT
 public:
  explicit TAnglesControlForm(TKestromForm* owner);
};

}  // namespace kestrom::window
