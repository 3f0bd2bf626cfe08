#pragma once
// The borderless form a display slot's video window lives in: a child of the capture panel while
// embedded, else a window of its own (full screen or at its set place). It holds no state but its
// slot and the video rectangle; what its input means is decided by the engine.

#include <QPointer>
#include <QRect>
#include <QWidget>

namespace kestrom::engine {

class TFK;

class TDisplayForm final : public QWidget {
 public:
  TDisplayForm(TFK& engine, int slot);

  int Slot() const { return slot_; }
  /** @brief Where the video is drawn inside the form (form coordinates). */
  QRect VideoRect() const { return videoRect_; }
  void SetVideoRect(const QRect& rect) { videoRect_ = rect; }
  /** @brief Becomes a child of parent (embedded), or a frameless window of its own when null. */
  void Place(QWidget* parent, bool stayOnTop);
  /**
   * @brief Hidden while it has the keyboard focus, the form takes the focus back when it shows
   * again (the player reopened to switch its sound hides it for a moment), unless the focus has
   * been put elsewhere in the meantime.
   */
  void setVisible(bool visible) override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  TFK& engine_;
  int slot_;
  QRect videoRect_;
  bool keysWhenShown_ = false;        // hidden while the keys came to it
  QPointer<QWidget> focusLeftTo_;     // where the focus went when it was hidden
};

}  // namespace kestrom::engine
