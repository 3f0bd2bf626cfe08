#include "common/mediapanel/PlayerProperties.h"

namespace kestrom::mediapanel {

namespace {
constexpr int kTrue = -1;  // 16-bit boolean true
}

PlayerPropertyTable::PlayerPropertyTable() {
  using K = PropertyKind;
  auto add = [this](int id, const char* name, K kind, QVariant value, bool readOnly = false) {
    table_[id] = PlayerProperty{name, kind, std::move(value), readOnly};
  };
  using namespace dispid;
  add(AutoSize, "AutoSize", K::Bool16, kTrue);
  add(Enabled, "Enabled", K::Bool16, kTrue);
  add(ReadyState, "ReadyState", K::Integer, 4, true);
  add(Volume, "Volume", K::Integer, 0);
  add(Balance, "Balance", K::Integer, 0);
  add(ShowDisplay, "ShowDisplay", K::Bool16, 0);
  add(ShowControls, "ShowControls", K::Bool16, kTrue);
  add(ShowPositionControls, "ShowPositionControls", K::Bool16, kTrue);
  add(ShowTracker, "ShowTracker", K::Bool16, kTrue);
  add(EnablePositionControls, "EnablePositionControls", K::Bool16, kTrue);
  add(EnableTracker, "EnableTracker", K::Bool16, kTrue);
  add(DisplayMode, "DisplayMode", K::Integer, 0);
  add(ImageSourceWidth, "ImageSourceWidth", K::Integer, 0, true);
  add(ImageSourceHeight, "ImageSourceHeight", K::Integer, 0, true);
  add(Duration, "Duration", K::Double, 0.0, true);
  add(SendKeyboardEvents, "SendKeyboardEvents", K::Bool16, 0);
  add(SendMouseClickEvents, "SendMouseClickEvents", K::Bool16, 0);
  add(SendMouseMoveEvents, "SendMouseMoveEvents", K::Bool16, 0);
  add(AutoRewind, "AutoRewind", K::Bool16, 0);
  add(InvokeURLs, "InvokeURLs", K::Bool16, kTrue);
  add(EnableContextMenu, "EnableContextMenu", K::Bool16, kTrue);
  add(ClickToPlay, "ClickToPlay", K::Bool16, kTrue);
  add(AutoStart, "AutoStart", K::Bool16, kTrue);
  add(CurrentPosition, "CurrentPosition", K::Double, 0.0);
  add(Rate, "Rate", K::Double, 1.0);
  add(PlayCount, "PlayCount", K::Integer, 1);
  add(DisplaySize, "DisplaySize", K::Integer, 0);
  add(AllowScan, "AllowScan", K::Bool16, kTrue);
  add(CursorType, "CursorType", K::Integer, 0);
  add(AnimationAtStart, "AnimationAtStart", K::Bool16, kTrue);
  add(SendOpenStateChangeEvents, "SendOpenStateChangeEvents", K::Bool16, kTrue);
  add(SendWarningEvents, "SendWarningEvents", K::Bool16, kTrue);
  add(SendErrorEvents, "SendErrorEvents", K::Bool16, kTrue);
  add(SendPlayStateChangeEvents, "SendPlayStateChangeEvents", K::Bool16, kTrue);
  add(BaseURL, "BaseURL", K::Text, QString());
  add(DefaultFrame, "DefaultFrame", K::Text, QString());
  add(ShowCaptioning, "ShowCaptioning", K::Bool16, 0);
  add(CaptioningID, "CaptioningID", K::Text, QString());
  add(ShowStatusBar, "ShowStatusBar", K::Bool16, 0);
  add(ShowGotoBar, "ShowGotoBar", K::Bool16, 0);
  add(Mute, "Mute", K::Bool16, 0);
  add(Language, "Language", K::Integer, -1);
  add(AudioStream, "AudioStream", K::Integer, -1);
  add(SAMIStyle, "SAMIStyle", K::Text, QString());
  add(SAMILang, "SAMILang", K::Text, QString());
  add(SAMIFileName, "SAMIFileName", K::Text, QString());
  add(VideoBorderWidth, "VideoBorderWidth", K::Integer, 0);
  add(VideoBorderColor, "VideoBorderColor", K::Colour, 0);
  add(VideoBorder3D, "VideoBorder3D", K::Bool16, 0);
  add(ShowAudioControls, "ShowAudioControls", K::Bool16, kTrue);
  add(EnableFullScreenControls, "EnableFullScreenControls", K::Bool16, 0);
  add(TransparentAtStart, "TransparentAtStart", K::Bool16, 0);
}

const PlayerProperty* PlayerPropertyTable::Find(int id) const {
  const auto it = table_.find(id);
  return it == table_.end() ? nullptr : &it->second;
}

QVariant PlayerPropertyTable::Get(int id) const {
  const PlayerProperty* p = Find(id);
  return p ? p->value : QVariant();
}

bool PlayerPropertyTable::Set(int id, const QVariant& value) {
  const auto it = table_.find(id);
  if (it == table_.end() || it->second.readOnly) return false;
  bool ok = true;
  QVariant stored;
  switch (it->second.kind) {
    case PropertyKind::Bool16:
      stored = (value.typeId() == QMetaType::Bool ? value.toBool() : value.toInt(&ok) != 0) ? kTrue : 0;
      break;
    case PropertyKind::Integer:
    case PropertyKind::Colour:
      stored = value.typeId() == QMetaType::Bool ? (value.toBool() ? kTrue : 0) : value.toInt(&ok);
      break;
    case PropertyKind::Double: stored = value.toDouble(&ok); break;
    case PropertyKind::Text: stored = value.toString(); break;
  }
  if (!ok) return false;
  it->second.value = stored;
  return true;
}

void PlayerPropertyTable::Update(int id, const QVariant& value) {
  const auto it = table_.find(id);
  if (it != table_.end()) it->second.value = value;
}

}  // namespace kestrom::mediapanel
