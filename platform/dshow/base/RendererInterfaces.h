#pragma once
// The interfaces of the renderers that a program also reaches through the graph: the window and
// picture of a video renderer and the volume of a sound renderer. Published identifiers and
// method orders.

#include "platform/dshow/base/ControlInterfaces.h"

namespace kestrom::dshow {

inline constexpr IID IID_IVideoWindow = MakeGuid("{56A868B4-0AD4-11CE-B03A-0020AF0BA770}");
inline constexpr IID IID_IBasicVideo = MakeGuid("{56A868B5-0AD4-11CE-B03A-0020AF0BA770}");

/** @brief The window of a video renderer. */
struct IVideoWindow : IUnknown {
  virtual HRESULT put_Caption(const WCHAR* caption) = 0;
  /** @brief The caption in task memory. */
  virtual HRESULT get_Caption(WCHAR** caption) = 0;
  virtual HRESULT put_WindowStyle(LONG style) = 0;
  virtual HRESULT get_WindowStyle(LONG* style) = 0;
  virtual HRESULT put_WindowStyleEx(LONG style) = 0;
  virtual HRESULT get_WindowStyleEx(LONG* style) = 0;
  virtual HRESULT put_AutoShow(LONG autoShow) = 0;
  virtual HRESULT get_AutoShow(LONG* autoShow) = 0;
  virtual HRESULT put_WindowState(LONG state) = 0;
  virtual HRESULT get_WindowState(LONG* state) = 0;
  virtual HRESULT put_BackgroundPalette(LONG palette) = 0;
  virtual HRESULT get_BackgroundPalette(LONG* palette) = 0;
  virtual HRESULT put_Visible(LONG visible) = 0;
  virtual HRESULT get_Visible(LONG* visible) = 0;
  virtual HRESULT put_Left(LONG left) = 0;
  virtual HRESULT get_Left(LONG* left) = 0;
  virtual HRESULT put_Width(LONG width) = 0;
  virtual HRESULT get_Width(LONG* width) = 0;
  virtual HRESULT put_Top(LONG top) = 0;
  virtual HRESULT get_Top(LONG* top) = 0;
  virtual HRESULT put_Height(LONG height) = 0;
  virtual HRESULT get_Height(LONG* height) = 0;
  virtual HRESULT put_Owner(OAHWND owner) = 0;
  virtual HRESULT get_Owner(OAHWND* owner) = 0;
  virtual HRESULT put_MessageDrain(OAHWND drain) = 0;
  virtual HRESULT get_MessageDrain(OAHWND* drain) = 0;
  virtual HRESULT get_BorderColor(LONG* colour) = 0;
  virtual HRESULT put_BorderColor(LONG colour) = 0;
  virtual HRESULT get_FullScreenMode(LONG* mode) = 0;
  virtual HRESULT put_FullScreenMode(LONG mode) = 0;
  virtual HRESULT SetWindowForeground(LONG focus) = 0;
  virtual HRESULT NotifyOwnerMessage(OAHWND window, LONG message, LONG_PTR wParam, LONG_PTR lParam) = 0;
  virtual HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) = 0;
  virtual HRESULT GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
  virtual HRESULT GetMinIdealImageSize(LONG* width, LONG* height) = 0;
  virtual HRESULT GetMaxIdealImageSize(LONG* width, LONG* height) = 0;
  virtual HRESULT GetRestorePosition(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
  virtual HRESULT HideCursor(LONG hide) = 0;
  virtual HRESULT IsCursorHidden(LONG* hidden) = 0;

 protected:
  ~IVideoWindow() = default;
};

/** @brief The picture of a video renderer: sizes, rectangles and the current image. */
struct IBasicVideo : IUnknown {
  virtual HRESULT get_AvgTimePerFrame(double* seconds) = 0;
  virtual HRESULT get_BitRate(LONG* rate) = 0;
  virtual HRESULT get_BitErrorRate(LONG* rate) = 0;
  virtual HRESULT get_VideoWidth(LONG* width) = 0;
  virtual HRESULT get_VideoHeight(LONG* height) = 0;
  virtual HRESULT SetSourcePosition(LONG left, LONG top, LONG width, LONG height) = 0;
  virtual HRESULT GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
  virtual HRESULT SetDefaultSourcePosition() = 0;
  virtual HRESULT SetDestinationPosition(LONG left, LONG top, LONG width, LONG height) = 0;
  virtual HRESULT GetDestinationPosition(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
  virtual HRESULT SetDefaultDestinationPosition() = 0;
  virtual HRESULT GetVideoSize(LONG* width, LONG* height) = 0;
  /**
   * @brief The last frame as a packed bitmap: a BITMAPINFOHEADER followed by the bits. With a
   * null image, *bufferSize receives the size needed; E_OUTOFMEMORY when the buffer is too small.
   */
  virtual HRESULT GetCurrentImage(LONG* bufferSize, LONG* image) = 0;
  virtual HRESULT IsUsingDefaultSource() = 0;
  virtual HRESULT IsUsingDefaultDestination() = 0;

 protected:
  ~IBasicVideo() = default;
};

inline constexpr IID IID_IQualProp = MakeGuid("{1BD0ECB0-F8E2-11CE-AAC6-0020AF0B99A3}");

/** @brief A video renderer's frame statistics since it last started streaming. */
struct IQualProp : IUnknown {
  virtual HRESULT get_FramesDroppedInRenderer(int* frames) = 0;
  virtual HRESULT get_FramesDrawn(int* frames) = 0;
  /** @brief Frames drawn per second, in hundredths. */
  virtual HRESULT get_AvgFrameRate(int* rate) = 0;
  /** @brief Standard deviation of the time between frames, in milliseconds. */
  virtual HRESULT get_Jitter(int* jitter) = 0;
  /** @brief How late frames are drawn against their times, on average and its deviation, in milliseconds. */
  virtual HRESULT get_AvgSyncOffset(int* offset) = 0;
  virtual HRESULT get_DevSyncOffset(int* deviation) = 0;

 protected:
  ~IQualProp() = default;
};

inline constexpr IID IID_IBasicAudio = MakeGuid("{56A868B3-0AD4-11CE-B03A-0020AF0BA770}");

/** @brief Volume -10000 (silent) .. 0 (full) and balance -10000 (left) .. 10000 (right), both in
 *  hundredths of a decibel of attenuation. */
struct IBasicAudio : IUnknown {
  virtual HRESULT put_Volume(LONG volume) = 0;
  virtual HRESULT get_Volume(LONG* volume) = 0;
  virtual HRESULT put_Balance(LONG balance) = 0;
  virtual HRESULT get_Balance(LONG* balance) = 0;

 protected:
  ~IBasicAudio() = default;
};

}  // namespace kestrom::dshow
