#pragma once
// What the capture engine and its companion filter module "tfcatch.so" share: the creator exports,
// the filters' private interfaces and the records handed through them. The engine never links
// the module; it loads it with dlopen and meets it only through this header.

#include "platform/dshow/base/Interfaces.h"

#include <cstdint>

namespace kestrom::filters {

using com::HRESULT;
using com::IUnknown;
using com::REFIID;
using dshow::AM_MEDIA_TYPE;
using dshow::BOOL;
using dshow::BYTE;
using dshow::IBaseFilter;
using dshow::IMediaSample;
using dshow::LONG;
using dshow::REFERENCE_TIME;

/** @brief Every creator export: a new filter with one reference held by the caller. */
using CreateFilterFunction = HRESULT (*)(IBaseFilter** filter);

inline constexpr const char* kCreateGrabber = "CreateLocalGrabberInstance";
inline constexpr const char* kCreateGrabberNoModify = "CreateLocalGrabberInstanceNoModify";
inline constexpr const char* kCreateTransform = "CreateLocalTransformInstance";
inline constexpr const char* kCreatePushSource = "CreateLocalPushSourceInstance";
inline constexpr const char* kCreateCustomClock = "CreateLocalCustClckInstance";
inline constexpr const char* kCreateRawWriter = "CreateLocalCFrwInstance";

// Class ids of the module's filters (GetClassID tells them apart).
inline constexpr com::CLSID CLSID_TfcGrabber = com::MakeGuid("{6A0E5B31-2C4D-4B8E-9F61-3D7A20C4B101}");
inline constexpr com::CLSID CLSID_TfcGrabberNoModify = com::MakeGuid("{6A0E5B31-2C4D-4B8E-9F61-3D7A20C4B102}");
inline constexpr com::CLSID CLSID_TfcTransform = com::MakeGuid("{6A0E5B31-2C4D-4B8E-9F61-3D7A20C4B103}");
inline constexpr com::CLSID CLSID_TfcPushSource = com::MakeGuid("{6A0E5B31-2C4D-4B8E-9F61-3D7A20C4B104}");
inline constexpr com::CLSID CLSID_TfcCustomClock = com::MakeGuid("{6A0E5B31-2C4D-4B8E-9F61-3D7A20C4B105}");
inline constexpr com::CLSID CLSID_TfcRawWriter = com::MakeGuid("{6A0E5B31-2C4D-4B8E-9F61-3D7A20C4B106}");

// ---- transform: rotation by multiples of 90 degrees, mirroring, half-size deinterlacing ----

inline constexpr com::IID IID_ITransformSettings = com::MakeGuid("{47F3C4F6-69BD-4E89-846D-C60F5FC4FAAA}");

#pragma pack(push, 1)
struct TTransformSettings {
  int32_t rotation = 0;         // rt_0_deg .. rt_270_deg_mirror
  uint8_t swapWidthHeight = 0;  // the rotation turns the picture on its side
  uint8_t halfSize = 0;         // one field at half width and half height
  uint8_t active = 0;           // either of the two
  uint8_t reserved = 0;
};
#pragma pack(pop)
static_assert(sizeof(TTransformSettings) == 8);

struct ITransformSettings : IUnknown {
  virtual HRESULT SetSettings(const TTransformSettings* settings) = 0;

 protected:
  ~ITransformSettings() = default;
};

// ---- push source: video from images ----

inline constexpr com::IID IID_IPushSourceSettings = com::MakeGuid("{30EBD212-CBB7-4570-B22F-FCE62D194A72}");

/** @brief Fills one frame of size bytes; *endOfStream ends the stream instead. */
using PushSourceFill = HRESULT (*)(void* data, BYTE* buffer, LONG size, BOOL* endOfStream);
/**
 * @brief The pictures' format: *format points to the bitmap info header (with its palette) of
 * *formatSize bytes inside *buffer, which is task memory the caller frees (CoTaskMemFree).
 */
using PushSourceFormat = HRESULT (*)(void* data, LONG* formatSize, BYTE** format, BYTE** buffer);

struct TPushSourceRecord {
  void* owner = nullptr;
  double framesPerSecond = 25.0;
  PushSourceFill fill = nullptr;
  void* fillData = nullptr;
  PushSourceFormat format = nullptr;
};

struct IPushSourceSettings : IUnknown {
  virtual HRESULT SetSettings(const TPushSourceRecord* record) = 0;

 protected:
  ~IPushSourceSettings() = default;
};

// ---- custom reference clock: the player's speed without audio ----

inline constexpr com::IID IID_IClockRate = com::MakeGuid("{75C4FD0A-98CF-4B6D-9198-151DF6A98435}");

/** @brief Real time in 100-ns units from an arbitrary start; never goes backwards. */
using ClockTimeBase = int64_t (*)(void* context);

/** @brief The rate value at which the clock runs at real time (15,000 / 23). */
inline constexpr double kClockRealTimeValue = 15000.0 / 23.0;

struct IClockRate : IUnknown {
  /** @brief The clock runs kClockRealTimeValue / value times real time from now on; value > 0. */
  virtual HRESULT SetRate(int64_t value) = 0;
  /** @brief Replaces the real time base (null: the monotonic system time). */
  virtual HRESULT SetTimeBase(ClockTimeBase base, void* context) = 0;

 protected:
  ~IClockRate() = default;
};

// ---- grabbers ----

inline constexpr com::IID IID_IGrabberControl = com::MakeGuid("{6A0E5B31-2C4D-4B8E-9F61-3D7A20C4B1A0}");

/**
 * @brief The version of TGrabberConfig this engine and module agree on (a test module of another
 * version is built with KESTROM_GRABBER_CONFIG_VERSION).
 */
#ifndef KESTROM_GRABBER_CONFIG_VERSION
#define KESTROM_GRABBER_CONFIG_VERSION 7027
#endif
inline constexpr int32_t kGrabberConfigVersion = KESTROM_GRABBER_CONFIG_VERSION;

enum TGrabberKind : int32_t {
  gk_Sample = 0,        // feeds the sample callbacks
  gk_Notify = 1,        // reports frame times
  gk_Lock = 2,          // drops samples while paused
  gk_LockAndShift = 3,  // drops them and takes the paused time off later samples
  gk_DvData = 4,        // reads the recording date of DV frames
  gk_Clear = 5,         // drops them and asks for a key frame on resume
  gk_Unused = 6,
  gk_RGB = 7,           // the frame grabber: RGB conversion and video processing
};

// Enable flags of TGrabberConfig::enable.
inline constexpr int kEnableCallbacks = 0;    // sample, frame-time and DV-date callbacks are called
inline constexpr int kEnableFrames = 1;       // samples pass (cleared: every sample is dropped)
inline constexpr int kEnableConversion = 2;   // the frame grabber converts to the asked RGB format
inline constexpr int kEnableFrameGrabber = 3; // the frame grabber: video processing and the frame callback
                                              // (cleared on a grabber that only converts for another)

/** @brief The per-frame callback: the frame (RGB, already processed) with its bitmap header. */
using GrabberFrameCallback = void (*)(void* owner, IMediaSample* sample, const dshow::BITMAPINFOHEADER* header,
                                      BYTE* bits, LONG length);
using GrabberFrameTimeCallback = void (*)(void* owner, int32_t x, IMediaSample* sample, int64_t frameTime,
                                          int32_t y, int32_t z);
using GrabberDVDateCallback = void (*)(void* owner, const int32_t* values);
using GrabberSampleCallback = void (*)(void* owner, BOOL isVideo, IMediaSample* sample, const AM_MEDIA_TYPE* type,
                                       int32_t w1, int32_t w2, int32_t w3, int32_t w4);

/** @brief A grabber's configuration record, filled by the engine before the grabber connects. */
struct TGrabberConfig {
  int32_t version = kGrabberConfigVersion;
  int32_t kind = gk_Sample;
  uint8_t enable[4] = {0, 0, 0, 0};
  void* owner = nullptr;
  GrabberFrameCallback frame = nullptr;
  GrabberFrameTimeCallback frameTime = nullptr;
  GrabberDVDateCallback dvDate = nullptr;
  GrabberSampleCallback sample = nullptr;
  int32_t frameDivider = 1;  // the frame callback sees every n-th frame
  int32_t brightness = 0, contrast = 0, saturation = 0, hue = 0;  // -128..128
  uint8_t grayScale = 0, invert = 0, flipHorizontal = 0, flipVertical = 0;
  int32_t deinterlacing = 0;
  int32_t rotation = 0;
  int32_t rgbFormat = 0;  // fgf_RGB32, fgf_RGB24, fgf_RGB565, fgf_RGB555, fgf_RGB8 (fgf_Default: RGB24)
};

struct IGrabberControl : IUnknown {
  /** @brief The grabber's own record, for the engine to fill; it stays the filter's. */
  virtual HRESULT GetConfig(int32_t kind, TGrabberConfig** record) = 0;
  /** @brief Takes the record's values again (the processing of a running grabber changed). */
  virtual HRESULT ApplyConfig() = 0;
  /** @brief The recording is paused (kinds 2, 3 and 5 drop samples) or runs again. */
  virtual HRESULT SetPaused(BOOL paused) = 0;

 protected:
  ~IGrabberControl() = default;
};

}  // namespace kestrom::filters
