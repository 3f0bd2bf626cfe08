#pragma once
// Media types, format blocks and private interfaces of the DV splitter, the DV video decoder and
// the MPEG-2 demultiplexer, with their published identifiers and record layouts.

#include "platform/dshow/base/Codes.h"
#include "platform/dshow/base/ControlInterfaces.h"
#include "platform/dshow/base/Guids.h"

namespace kestrom::dshow {

using com::MakeGuid;

// ---------------------------------------------------------------- DV

/** @brief The format block of interleaved DV: the audio and video source and control packs. */
struct DVINFO {
  DWORD dwDVAAuxSrc;   // audio source pack of the first five (or six) DIF sequences
  DWORD dwDVAAuxCtl;
  DWORD dwDVAAuxSrc1;  // the same packs of the second half of the frame
  DWORD dwDVAAuxCtl1;
  DWORD dwDVVAuxSrc;   // video source pack
  DWORD dwDVVAuxCtl;
  DWORD dwDVReserved[2];
};
static_assert(sizeof(DVINFO) == 32);

inline constexpr GUID FORMAT_DvInfo = MakeGuid("{05589F84-C356-11CE-BF01-00AA0055595A}");
inline constexpr GUID MEDIASUBTYPE_dvhd = MakeGuid("{64687664-0000-0010-8000-00AA00389B71}");
inline constexpr GUID MEDIASUBTYPE_dvsl = MakeGuid("{6C737664-0000-0010-8000-00AA00389B71}");

inline constexpr CLSID CLSID_DVSplitter = MakeGuid("{4EB31670-9FC6-11CF-AF6E-00AA00B67A42}");

inline constexpr IID IID_IDVSplitter = MakeGuid("{92A3A302-DA7C-4A1F-BA7E-1802BB5D2D02}");
inline constexpr IID IID_IIPDVDec = MakeGuid("{B8E8BD60-0BFE-11D0-AF91-00AA00B67A42}");
inline constexpr IID IID_IDVRGB219 = MakeGuid("{58473A19-2BC8-4663-8012-25F81BABDDD1}");

// Display resolutions of the DV decoder (put_IPDisplay).
inline constexpr int DVRESOLUTION_FULL = 1000;
inline constexpr int DVRESOLUTION_HALF = 1001;
inline constexpr int DVRESOLUTION_QUARTER = 1002;
inline constexpr int DVRESOLUTION_DC = 1003;

struct IDVSplitter : IUnknown {
  /** @brief Non-zero: only every second video frame goes out (the sound is untouched). */
  virtual HRESULT DiscardAlternateVideoFrames(int discard) = 0;

 protected:
  ~IDVSplitter() = default;
};

struct IIPDVDec : IUnknown {
  virtual HRESULT get_IPDisplay(int* displayPix) = 0;
  /** @brief One of the DVRESOLUTION_ values; a connected output is connected again at the new size. */
  virtual HRESULT put_IPDisplay(int displayPix) = 0;

 protected:
  ~IIPDVDec() = default;
};

struct IDVRGB219 : IUnknown {
  /** @brief TRUE: RGB output in the studio range 16..235 instead of 0..255. */
  virtual HRESULT SetRGB219(BOOL state) = 0;

 protected:
  ~IDVRGB219() = default;
};

// ---------------------------------------------------------------- MPEG-2

inline constexpr GUID MEDIASUBTYPE_MPEG2_PROGRAM = MakeGuid("{E06D8022-DB46-11CF-B4D1-00805F6CBBEA}");
inline constexpr GUID MEDIASUBTYPE_MPEG2_TRANSPORT = MakeGuid("{E06D8023-DB46-11CF-B4D1-00805F6CBBEA}");
inline constexpr GUID MEDIASUBTYPE_MPEG2_VIDEO = MakeGuid("{E06D8026-DB46-11CF-B4D1-00805F6CBBEA}");
inline constexpr GUID MEDIASUBTYPE_MPEG2_AUDIO = MakeGuid("{E06D802B-DB46-11CF-B4D1-00805F6CBBEA}");
inline constexpr GUID MEDIASUBTYPE_MPEG1AudioPayload = MakeGuid("{00000050-0000-0010-8000-00AA00389B71}");
inline constexpr GUID MEDIASUBTYPE_MPEG1Payload = MakeGuid("{E436EB81-524F-11CE-9F53-0020AF0BA770}");

inline constexpr CLSID CLSID_MPEG2Demultiplexer = MakeGuid("{AFB6C280-2C41-11D3-8A60-0000F81E0E4A}");

inline constexpr IID IID_IMpeg2Demultiplexer = MakeGuid("{436EEE9C-264F-4242-90E1-4E330C107512}");
inline constexpr IID IID_IMPEG2StreamIdMap = MakeGuid("{D0E04C47-25B8-4369-925A-362A01D95444}");
inline constexpr IID IID_IEnumStreamIdMap = MakeGuid("{945C1566-6202-46FC-96C7-D87F289C6534}");
inline constexpr IID IID_IMPEG2PIDMap = MakeGuid("{AFB6C2A1-2C41-11D3-8A60-0000F81E0E4A}");

/** @brief The MPEG-2 video format block: a VideoInfo2 header and the sequence header. */
struct MPEG2VIDEOINFO {
  VIDEOINFOHEADER2 hdr;
  DWORD dwStartTimeCode;
  DWORD cbSequenceHeader;
  DWORD dwProfile;
  DWORD dwLevel;
  DWORD dwFlags;
  DWORD dwSequenceHeader[1];
};
static_assert(sizeof(MPEG2VIDEOINFO) == 136);

/** @brief The MPEG-1 audio format block (format tag 0x50). */
#pragma pack(push, 2)
struct MPEG1WAVEFORMAT {
  WAVEFORMATEX wfx;
  WORD fwHeadLayer;
  DWORD dwHeadBitrate;
  WORD fwHeadMode;
  WORD fwHeadModeExt;
  WORD wHeadEmphasis;
  WORD fwHeadFlags;
  DWORD dwPTSLow;
  DWORD dwPTSHigh;
};
#pragma pack(pop)
static_assert(sizeof(MPEG1WAVEFORMAT) == 40);

// What a mapped program stream delivers (MapStreamId's content).
inline constexpr DWORD MPEG2_PROGRAM_STREAM_MAP = 0;
inline constexpr DWORD MPEG2_PROGRAM_ELEMENTARY_STREAM = 1;
inline constexpr DWORD MPEG2_PROGRAM_DIRECTORY_PES_PACKET = 2;
inline constexpr DWORD MPEG2_PROGRAM_PACK_HEADER = 3;
inline constexpr DWORD MPEG2_PROGRAM_PES_STREAM = 4;
inline constexpr DWORD MPEG2_PROGRAM_SYSTEM_HEADER = 5;
// What a mapped transport PID delivers (MapPID's content).
inline constexpr DWORD MEDIA_TRANSPORT_PACKET = 0;
inline constexpr DWORD MEDIA_ELEMENTARY_STREAM = 1;
inline constexpr DWORD MEDIA_MPEG2_PSI = 2;
inline constexpr DWORD MEDIA_TRANSPORT_PAYLOAD = 3;

struct STREAM_ID_MAP {
  ULONG stream_id;
  DWORD dwMediaSampleContent;
  ULONG ulSubstreamFilterValue;
  int32_t iDataOffset;
};

struct IMpeg2Demultiplexer : IUnknown {
  /** @brief A new output pin of that name and type; *pin carries a reference. */
  virtual HRESULT CreateOutputPin(AM_MEDIA_TYPE* mediaType, LPWSTR pinName, IPin** pin) = 0;
  virtual HRESULT SetOutputPinMediaType(LPWSTR pinName, AM_MEDIA_TYPE* mediaType) = 0;
  virtual HRESULT DeleteOutputPin(LPWSTR pinName) = 0;

 protected:
  ~IMpeg2Demultiplexer() = default;
};

struct IEnumStreamIdMap : IUnknown {
  virtual HRESULT Next(ULONG count, STREAM_ID_MAP* maps, ULONG* received) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumStreamIdMap** clone) = 0;

 protected:
  ~IEnumStreamIdMap() = default;
};

struct IMPEG2StreamIdMap : IUnknown {
  virtual HRESULT MapStreamId(ULONG streamId, DWORD mediaSampleContent, ULONG substreamFilterValue, int32_t dataOffset) = 0;
  virtual HRESULT UnmapStreamId(ULONG count, ULONG* streamIds) = 0;
  virtual HRESULT EnumStreamIdMap(IEnumStreamIdMap** maps) = 0;

 protected:
  ~IMPEG2StreamIdMap() = default;
};

/** @brief The transport-stream map of a demultiplexer output; declared for callers that try it. */
struct IMPEG2PIDMap : IUnknown {
  virtual HRESULT MapPID(ULONG count, ULONG* pids, DWORD mediaSampleContent) = 0;
  virtual HRESULT UnmapPID(ULONG count, ULONG* pids) = 0;
  virtual HRESULT EnumPIDMap(IUnknown** maps) = 0;

 protected:
  ~IMPEG2PIDMap() = default;
};

}  // namespace kestrom::dshow
