#pragma once
// The configuration interfaces of capture devices and their upstream filters (stream
// configuration, image and camera controls, dropped frames, crossbar, tuner, analog decoder,
// audio input mixer, property sets), with their published identifiers and record layouts.

#include "platform/dshow/base/Codes.h"
#include "platform/dshow/base/ControlInterfaces.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/base/StreamConfig.h"

namespace kestrom::dshow {

using com::MakeGuid;

struct SIZE {
  LONG cx = 0;
  LONG cy = 0;
};
static_assert(sizeof(SIZE) == 8);

/** @brief One capability record of a video pin: what sizes and rates a media type may take. */
struct VIDEO_STREAM_CONFIG_CAPS {
  GUID guid;  // the format type (FORMAT_VideoInfo)
  ULONG VideoStandard;
  SIZE InputSize;
  SIZE MinCroppingSize;
  SIZE MaxCroppingSize;
  int32_t CropGranularityX;
  int32_t CropGranularityY;
  int32_t CropAlignX;
  int32_t CropAlignY;
  SIZE MinOutputSize;
  SIZE MaxOutputSize;
  int32_t OutputGranularityX;
  int32_t OutputGranularityY;
  int32_t StretchTapsX;
  int32_t StretchTapsY;
  int32_t ShrinkTapsX;
  int32_t ShrinkTapsY;
  LONGLONG MinFrameInterval;
  LONGLONG MaxFrameInterval;
  LONG MinBitsPerSecond;
  LONG MaxBitsPerSecond;
};
static_assert(sizeof(VIDEO_STREAM_CONFIG_CAPS) == 128);
static_assert(offsetof(VIDEO_STREAM_CONFIG_CAPS, MinOutputSize) == 60);
static_assert(offsetof(VIDEO_STREAM_CONFIG_CAPS, MinFrameInterval) == 104);

/** @brief One capability record of an audio pin. */
struct AUDIO_STREAM_CONFIG_CAPS {
  GUID guid;
  ULONG MinimumChannels;
  ULONG MaximumChannels;
  ULONG ChannelsGranularity;
  ULONG MinimumBitsPerSample;
  ULONG MaximumBitsPerSample;
  ULONG BitsPerSampleGranularity;
  ULONG MinimumSampleFrequency;
  ULONG MaximumSampleFrequency;
  ULONG SampleFrequencyGranularity;
};
static_assert(sizeof(AUDIO_STREAM_CONFIG_CAPS) == 52);

// Answers of property sets and controls for what a device does not have.
inline constexpr HRESULT E_PROP_ID_UNSUPPORTED = com::MakeHResult(0x80070490);
inline constexpr HRESULT E_PROP_SET_UNSUPPORTED = com::MakeHResult(0x80070492);

// Media types and formats of devices.
inline constexpr GUID MEDIATYPE_AnalogVideo = MakeGuid("{0482DDE1-7817-11CF-8A03-00AA006ECB65}");
inline constexpr GUID MEDIATYPE_AnalogAudio = MakeGuid("{0482DEE1-7817-11CF-8A03-00AA006ECB65}");
inline constexpr GUID MEDIASUBTYPE_AnalogVideo_PAL_B = MakeGuid("{0482DDE5-7817-11CF-8A03-00AA006ECB65}");
inline constexpr GUID FORMAT_AnalogVideo = MakeGuid("{0482DDE0-7817-11CF-8A03-00AA006ECB65}");

// Interfaces.
inline constexpr IID IID_IAMDroppedFrames = MakeGuid("{C6E13344-30AC-11D0-A18C-00A0C9118956}");
inline constexpr IID IID_IAMAnalogVideoDecoder = MakeGuid("{C6E13350-30AC-11D0-A18C-00A0C9118956}");
inline constexpr IID IID_IAMVideoProcAmp = MakeGuid("{C6E13360-30AC-11D0-A18C-00A0C9118956}");
inline constexpr IID IID_IAMCameraControl = MakeGuid("{C6E13370-30AC-11D0-A18C-00A0C9118956}");
inline constexpr IID IID_IAMCrossbar = MakeGuid("{C6E13380-30AC-11D0-A18C-00A0C9118956}");
inline constexpr IID IID_IAMTuner = MakeGuid("{211A8761-03AC-11D1-8D13-00AA00BD8339}");
inline constexpr IID IID_IAMTVTuner = MakeGuid("{211A8766-03AC-11D1-8D13-00AA00BD8339}");
inline constexpr IID IID_IAMAudioInputMixer = MakeGuid("{54C39221-8380-11D0-B3F0-00AA003761C5}");

struct IAMDroppedFrames : IUnknown {
  virtual HRESULT GetNumDropped(LONG* dropped) = 0;
  virtual HRESULT GetNumNotDropped(LONG* notDropped) = 0;
  virtual HRESULT GetDroppedInfo(LONG size, LONG* array, LONG* copied) = 0;
  virtual HRESULT GetAverageFrameSize(LONG* averageSize) = 0;

 protected:
  ~IAMDroppedFrames() = default;
};

// Property indexes of the image controls and camera controls, and their flags.
enum VideoProcAmpProperty : LONG {
  VideoProcAmp_Brightness = 0,
  VideoProcAmp_Contrast,
  VideoProcAmp_Hue,
  VideoProcAmp_Saturation,
  VideoProcAmp_Sharpness,
  VideoProcAmp_Gamma,
  VideoProcAmp_ColorEnable,
  VideoProcAmp_WhiteBalance,
  VideoProcAmp_BacklightCompensation,
  VideoProcAmp_Gain,
};
enum CameraControlProperty : LONG {
  CameraControl_Pan = 0,
  CameraControl_Tilt,
  CameraControl_Roll,
  CameraControl_Zoom,
  CameraControl_Exposure,
  CameraControl_Iris,
  CameraControl_Focus,
};
inline constexpr LONG VideoProcAmp_Flags_Auto = 1;
inline constexpr LONG VideoProcAmp_Flags_Manual = 2;
inline constexpr LONG CameraControl_Flags_Auto = 1;
inline constexpr LONG CameraControl_Flags_Manual = 2;

struct IAMVideoProcAmp : IUnknown {
  virtual HRESULT GetRange(LONG property, LONG* min, LONG* max, LONG* step, LONG* defaultValue, LONG* capsFlags) = 0;
  virtual HRESULT Set(LONG property, LONG value, LONG flags) = 0;
  virtual HRESULT Get(LONG property, LONG* value, LONG* flags) = 0;

 protected:
  ~IAMVideoProcAmp() = default;
};

struct IAMCameraControl : IUnknown {
  virtual HRESULT GetRange(LONG property, LONG* min, LONG* max, LONG* step, LONG* defaultValue, LONG* capsFlags) = 0;
  virtual HRESULT Set(LONG property, LONG value, LONG flags) = 0;
  virtual HRESULT Get(LONG property, LONG* value, LONG* flags) = 0;

 protected:
  ~IAMCameraControl() = default;
};

// Physical connector types of crossbar pins.
enum PhysicalConnectorType : LONG {
  PhysConn_Video_Tuner = 1,
  PhysConn_Video_Composite = 2,
  PhysConn_Video_SVideo = 3,
  PhysConn_Video_RGB = 4,
  PhysConn_Video_USB = 11,
  PhysConn_Video_VideoDecoder = 12,
  PhysConn_Audio_Tuner = 0x1000,
  PhysConn_Audio_Line = 0x1001,
  PhysConn_Audio_Mic = 0x1002,
  PhysConn_Audio_AudioDecoder = 0x1009,
};

struct IAMCrossbar : IUnknown {
  virtual HRESULT get_PinCounts(LONG* outputs, LONG* inputs) = 0;
  virtual HRESULT CanRoute(LONG output, LONG input) = 0;
  virtual HRESULT Route(LONG output, LONG input) = 0;
  /** @brief The input routed to an output; -1 when none. */
  virtual HRESULT get_IsRoutedTo(LONG output, LONG* input) = 0;
  virtual HRESULT get_CrossbarPinInfo(BOOL isInput, LONG index, LONG* relatedIndex, LONG* physicalType) = 0;

 protected:
  ~IAMCrossbar() = default;
};

// Analog video standards (bit mask values).
enum AnalogVideoStandard : LONG {
  AnalogVideo_None = 0,
  AnalogVideo_NTSC_M = 0x1,
  AnalogVideo_NTSC_M_J = 0x2,
  AnalogVideo_NTSC_433 = 0x4,
  AnalogVideo_PAL_B = 0x10,
  AnalogVideo_PAL_D = 0x20,
  AnalogVideo_PAL_G = 0x40,
  AnalogVideo_PAL_H = 0x80,
  AnalogVideo_PAL_I = 0x100,
  AnalogVideo_PAL_M = 0x200,
  AnalogVideo_PAL_N = 0x400,
  AnalogVideo_PAL_60 = 0x800,
  AnalogVideo_SECAM_B = 0x1000,
  AnalogVideo_SECAM_D = 0x2000,
  AnalogVideo_SECAM_G = 0x4000,
  AnalogVideo_SECAM_H = 0x8000,
  AnalogVideo_SECAM_K = 0x10000,
  AnalogVideo_SECAM_K1 = 0x20000,
  AnalogVideo_SECAM_L = 0x40000,
  AnalogVideo_SECAM_L1 = 0x80000,
  AnalogVideo_PAL_N_COMBO = 0x100000,
};

struct IAMAnalogVideoDecoder : IUnknown {
  virtual HRESULT get_AvailableTVFormats(LONG* standards) = 0;
  virtual HRESULT put_TVFormat(LONG standard) = 0;
  virtual HRESULT get_TVFormat(LONG* standard) = 0;
  virtual HRESULT get_HorizontalLocked(LONG* locked) = 0;
  virtual HRESULT put_VCRHorizontalLocking(LONG locking) = 0;
  virtual HRESULT get_VCRHorizontalLocking(LONG* locking) = 0;
  virtual HRESULT get_NumberOfLines(LONG* lines) = 0;
  virtual HRESULT put_OutputEnable(LONG enable) = 0;
  virtual HRESULT get_OutputEnable(LONG* enable) = 0;

 protected:
  ~IAMAnalogVideoDecoder() = default;
};

enum AMTunerModeType : LONG {
  AMTUNER_MODE_DEFAULT = 0,
  AMTUNER_MODE_TV = 1,
  AMTUNER_MODE_FM_RADIO = 2,
  AMTUNER_MODE_AM_RADIO = 4,
  AMTUNER_MODE_DSS = 8,
};
enum TunerInputType : LONG { TunerInputCable = 0, TunerInputAntenna = 1 };
inline constexpr LONG AMTUNER_SUBCHAN_DEFAULT = -1;
inline constexpr LONG AMTUNER_HASNOSIGNALSTRENGTH = -1;
inline constexpr LONG AMTUNER_NOSIGNAL = 0;
inline constexpr LONG AMTUNER_SIGNALPRESENT = 1;

struct IAMTuner : IUnknown {
  virtual HRESULT put_Channel(LONG channel, LONG videoSubChannel, LONG audioSubChannel) = 0;
  virtual HRESULT get_Channel(LONG* channel, LONG* videoSubChannel, LONG* audioSubChannel) = 0;
  virtual HRESULT ChannelMinMax(LONG* min, LONG* max) = 0;
  virtual HRESULT put_CountryCode(LONG country) = 0;
  virtual HRESULT get_CountryCode(LONG* country) = 0;
  virtual HRESULT put_TuningSpace(LONG space) = 0;
  virtual HRESULT get_TuningSpace(LONG* space) = 0;
  virtual HRESULT Logon(void* token) = 0;
  virtual HRESULT Logout() = 0;
  virtual HRESULT SignalPresent(LONG* strength) = 0;
  virtual HRESULT put_Mode(AMTunerModeType mode) = 0;
  virtual HRESULT get_Mode(AMTunerModeType* mode) = 0;
  virtual HRESULT GetAvailableModes(LONG* modes) = 0;
  virtual HRESULT RegisterNotificationCallBack(IUnknown* callback, LONG events) = 0;
  virtual HRESULT UnRegisterNotificationCallBack(IUnknown* callback) = 0;

 protected:
  ~IAMTuner() = default;
};

struct IAMTVTuner : IAMTuner {
  virtual HRESULT get_AvailableTVFormats(LONG* standards) = 0;
  virtual HRESULT get_TVFormat(LONG* standard) = 0;
  virtual HRESULT AutoTune(LONG channel, LONG* foundSignal) = 0;
  virtual HRESULT StoreAutoTune() = 0;
  virtual HRESULT get_NumInputConnections(LONG* count) = 0;
  virtual HRESULT put_InputType(LONG index, TunerInputType type) = 0;
  virtual HRESULT get_InputType(LONG index, TunerInputType* type) = 0;
  virtual HRESULT put_ConnectInput(LONG index) = 0;
  virtual HRESULT get_ConnectInput(LONG* index) = 0;
  virtual HRESULT get_VideoFrequency(LONG* hertz) = 0;
  virtual HRESULT get_AudioFrequency(LONG* hertz) = 0;

 protected:
  ~IAMTVTuner() = default;
};

struct IAMAudioInputMixer : IUnknown {
  virtual HRESULT put_Enable(BOOL enable) = 0;
  virtual HRESULT get_Enable(BOOL* enable) = 0;
  virtual HRESULT put_Mono(BOOL mono) = 0;
  virtual HRESULT get_Mono(BOOL* mono) = 0;
  /** @brief 0.0 (silent) to 1.0 (full). */
  virtual HRESULT put_MixLevel(double level) = 0;
  virtual HRESULT get_MixLevel(double* level) = 0;
  /** @brief -1.0 (left) to 1.0 (right). */
  virtual HRESULT put_Pan(double pan) = 0;
  virtual HRESULT get_Pan(double* pan) = 0;
  virtual HRESULT put_Loudness(BOOL loudness) = 0;
  virtual HRESULT get_Loudness(BOOL* loudness) = 0;
  virtual HRESULT put_Treble(double treble) = 0;
  virtual HRESULT get_Treble(double* treble) = 0;
  virtual HRESULT get_TrebleRange(double* range) = 0;
  virtual HRESULT put_Bass(double bass) = 0;
  virtual HRESULT get_Bass(double* bass) = 0;
  virtual HRESULT get_BassRange(double* range) = 0;

 protected:
  ~IAMAudioInputMixer() = default;
};

// The time code of a tape device or a DV stream.
inline constexpr IID IID_IAMTimecodeReader = MakeGuid("{9B496CE1-811B-11CF-8C77-00AA006B6814}");
/** @brief The sample flag that asks a time code reader for a reading. */
inline constexpr DWORD ED_DEVCAP_TIMECODE_READ = 4121;

struct TIMECODE {
  WORD wFrameRate;
  WORD wFrameFract;
  DWORD dwFrames;  // packed BCD: hours, minutes, seconds, frames from the high byte down
};
static_assert(sizeof(TIMECODE) == 8);

struct TIMECODE_SAMPLE {
  LONGLONG qwTick;
  TIMECODE timecode;
  DWORD dwUser;
  DWORD dwFlags;
};
static_assert(sizeof(TIMECODE_SAMPLE) == 24);

struct IAMTimecodeReader : IUnknown {
  virtual HRESULT GetTCRMode(LONG param, LONG* value) = 0;
  virtual HRESULT SetTCRMode(LONG param, LONG value) = 0;
  virtual HRESULT put_VITCLine(LONG line) = 0;
  virtual HRESULT get_VITCLine(LONG* line) = 0;
  /** @brief Fills the sample's time code; the caller sets dwFlags to what it asks for. */
  virtual HRESULT GetTimecode(TIMECODE_SAMPLE* sample) = 0;

 protected:
  ~IAMTimecodeReader() = default;
};

/**
 * @brief The medium of a device pin (AMPROPERTY_PIN_MEDIUM of AMPROPSETID_Pin): pins of a capture
 * card's filters that share a medium are wired together in the hardware, so a graph builder
 * connects them (crossbar to capture filter, tuner to crossbar). A null medium class means no
 * hardware wiring.
 */
struct REGPINMEDIUM {
  GUID clsMedium;
  DWORD dw1;
  DWORD dw2;
};

}  // namespace kestrom::dshow
