#include "platform/media/MediaPlayerBar.h"

#include "platform/media/MediaPlayer.h"

#include <QHBoxLayout>
#include <QStyle>
#include <QToolButton>

namespace kestrom::media {

MediaPlayerBar::MediaPlayerBar(MediaPlayer* player, QWidget* parent) : QWidget(parent), player_(player) {
  struct ButtonDef {
    const char* name;
    QStyle::StandardPixmap icon;
    const char* tip;
  };
  static const ButtonDef specs[] = {
      {"Play", QStyle::SP_MediaPlay, "Play"},
      {"Pause", QStyle::SP_MediaPause, "Pause"},
      {"Stop", QStyle::SP_MediaStop, "Stop"},
      {"Next", QStyle::SP_MediaSkipForward, "Next"},
      {"Prev", QStyle::SP_MediaSkipBackward, "Previous"},
      {"Step", QStyle::SP_MediaSeekForward, "Step"},
      {"Back", QStyle::SP_MediaSeekBackward, "Back"},
  };
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(1);
  for (int i = 0; i < 7; ++i) {
    auto* button = new QToolButton(this);
    button->setObjectName(specs[i].name);
    button->setIcon(style()->standardIcon(specs[i].icon));
    button->setToolTip(specs[i].tip);
    button->setAutoRaise(false);
    layout->addWidget(button);
    buttons_[i] = button;
    connect(button, &QToolButton::clicked, this, [this, i] { Press(MPButton(i)); });
  }
}

void MediaPlayerBar::Press(MPButton which) {
  bool doDefault = true;
  emit Click(which, &doDefault);
  if (doDefault && player_) {
    switch (which) {
      case MPButton::Play: player_->Play(); break;
      case MPButton::Pause:
        if (player_->Mode() == MPMode::Playing) player_->Pause();
        else if (player_->Mode() == MPMode::Paused) player_->Play();
        break;
      case MPButton::Stop: player_->Stop(); break;
      case MPButton::Next: player_->Next(); break;
      case MPButton::Prev: player_->Previous(); break;
      case MPButton::Step: player_->Step(); break;
      case MPButton::Back: player_->Back(); break;
    }
  }
  emit PostClick(which);
}

}  // namespace kestrom::media
