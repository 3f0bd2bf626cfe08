#pragma once
// The media player's properties by dispatch id: one typed table with each value's kind and
// default. Widget-free; the player control keeps the values here and applies those with an
// effect itself.

#include <QString>
#include <QVariant>
#include <map>

namespace kestrom::mediapanel {

namespace dispid {
inline constexpr int AutoSize = -500;
inline constexpr int Enabled = -514;
inline constexpr int ReadyState = -525;
inline constexpr int Volume = 19;
inline constexpr int Balance = 20;
inline constexpr int ShowDisplay = 22;
inline constexpr int ShowControls = 23;
inline constexpr int ShowPositionControls = 24;
inline constexpr int ShowTracker = 26;
inline constexpr int EnablePositionControls = 27;
inline constexpr int EnableTracker = 29;
inline constexpr int DisplayMode = 32;
inline constexpr int ImageSourceWidth = 1001;
inline constexpr int ImageSourceHeight = 1002;
inline constexpr int Duration = 1003;
inline constexpr int SendKeyboardEvents = 1013;
inline constexpr int SendMouseClickEvents = 1014;
inline constexpr int SendMouseMoveEvents = 1015;
inline constexpr int AutoRewind = 1018;
inline constexpr int InvokeURLs = 1020;
inline constexpr int EnableContextMenu = 1021;
inline constexpr int ClickToPlay = 1025;
inline constexpr int AutoStart = 1026;
inline constexpr int CurrentPosition = 1027;
inline constexpr int Rate = 1028;
inline constexpr int PlayCount = 1030;
inline constexpr int DisplaySize = 1032;
inline constexpr int AllowScan = 1035;
inline constexpr int CursorType = 1044;
inline constexpr int AnimationAtStart = 1045;
inline constexpr int SendOpenStateChangeEvents = 1062;
inline constexpr int SendWarningEvents = 1063;
inline constexpr int SendErrorEvents = 1064;
inline constexpr int SendPlayStateChangeEvents = 1069;
inline constexpr int BaseURL = 1082;
inline constexpr int DefaultFrame = 1083;
inline constexpr int ShowCaptioning = 1084;
inline constexpr int CaptioningID = 1085;
inline constexpr int ShowStatusBar = 1086;
inline constexpr int ShowGotoBar = 1088;
inline constexpr int Mute = 1089;
inline constexpr int Language = 1095;
inline constexpr int AudioStream = 1096;
inline constexpr int SAMIStyle = 1097;
inline constexpr int SAMILang = 1098;
inline constexpr int SAMIFileName = 1099;
inline constexpr int VideoBorderWidth = 1101;
inline constexpr int VideoBorderColor = 1102;
inline constexpr int VideoBorder3D = 1103;
inline constexpr int ShowAudioControls = 1107;
inline constexpr int EnableFullScreenControls = 1108;
inline constexpr int TransparentAtStart = 1112;
}  // namespace dispid

/** @brief The player's display sizes (DISPID 1032). */
enum PlayerDisplaySize { mpDefault = 0, mpHalf = 1, mpDouble = 2, mpFullScreen = 3, mpFit = 4 };

enum class PropertyKind { Bool16, Integer, Double, Text, Colour };

struct PlayerProperty {
  const char* name;
  PropertyKind kind;
  QVariant value;
  bool readOnly = false;
};

/**
 * @brief The table of every property the player answers, with its defaults. Set converts the
 * value to the property's kind (16-bit booleans come back as -1 or 0) and refuses read-only ones.
 */
class PlayerPropertyTable {
 public:
  PlayerPropertyTable();

  bool Has(int id) const { return table_.count(id) != 0; }
  const PlayerProperty* Find(int id) const;
  /** @brief The stored value; an invalid QVariant for an unknown id. */
  QVariant Get(int id) const;
  /** @brief Stores the value converted to the property's kind; false when unknown or not convertible. */
  bool Set(int id, const QVariant& value);
  /** @brief Stores a read-only value (the player's own state). */
  void Update(int id, const QVariant& value);
  bool Bool(int id) const { return Get(id).toInt() != 0; }
  int Int(int id) const { return Get(id).toInt(); }
  double Double(int id) const { return Get(id).toDouble(); }

 private:
  std::map<int, PlayerProperty> table_;
};

}  // namespace kestrom::mediapanel
