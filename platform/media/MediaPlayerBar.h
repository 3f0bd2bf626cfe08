#pragma once
// The visible button bar of the media player: play, pause, stop, next, previous, step, back.
// A click first asks the owner (Click, which may cancel the button's own action), then acts on
// the player, then tells the owner (PostClick). The end of the player's own play reaches the
// owner through MediaPlayer::Notify.

#include <QWidget>

class QToolButton;

namespace kestrom::media {

class MediaPlayer;

/** @brief The bar's buttons, in the order they stand. */
enum class MPButton { Play = 0, Pause, Stop, Next, Prev, Step, Back };

class MediaPlayerBar : public QWidget {
  Q_OBJECT

 public:
  MediaPlayerBar(MediaPlayer* player, QWidget* parent = nullptr);

  /** @brief The button (objectName "Play", "Pause", "Stop", "Next", "Prev", "Step", "Back"). */
  QToolButton* Button(MPButton which) const { return buttons_[int(which)]; }
  /** @brief Runs a button as a click on it does. */
  void Press(MPButton which);

 signals:
  /** @brief Before the button acts; setting *doDefault false keeps the player as it is. */
  void Click(kestrom::media::MPButton button, bool* doDefault);
  /** @brief After the button acted. */
  void PostClick(kestrom::media::MPButton button);

 private:
  MediaPlayer* player_;
  QToolButton* buttons_[7];
};

}  // namespace kestrom::media
