#pragma once
// Identifiers of media types, formats, classes, categories and interfaces of the filter graph,
// with their published values.

#include "platform/com/Guid.h"

namespace kestrom::dshow {

using com::CLSID;
using com::GUID;
using com::IID;
using com::MakeGuid;

// Major types.
inline constexpr GUID MEDIATYPE_Video = MakeGuid("{73646976-0000-0010-8000-00AA00389B71}");
inline constexpr GUID MEDIATYPE_Audio = MakeGuid("{73647561-0000-0010-8000-00AA00389B71}");
inline constexpr GUID MEDIATYPE_Interleaved = MakeGuid("{73766169-0000-0010-8000-00AA00389B71}");
inline constexpr GUID MEDIATYPE_Stream = MakeGuid("{E436EB83-524F-11CE-9F53-0020AF0BA770}");

// Subtypes.
inline constexpr GUID MEDIASUBTYPE_RGB8 = MakeGuid("{E436EB7A-524F-11CE-9F53-0020AF0BA770}");
inline constexpr GUID MEDIASUBTYPE_RGB565 = MakeGuid("{E436EB7B-524F-11CE-9F53-0020AF0BA770}");
inline constexpr GUID MEDIASUBTYPE_RGB555 = MakeGuid("{E436EB7C-524F-11CE-9F53-0020AF0BA770}");
inline constexpr GUID MEDIASUBTYPE_RGB24 = MakeGuid("{E436EB7D-524F-11CE-9F53-0020AF0BA770}");
inline constexpr GUID MEDIASUBTYPE_RGB32 = MakeGuid("{E436EB7E-524F-11CE-9F53-0020AF0BA770}");
inline constexpr GUID MEDIASUBTYPE_ARGB32 = MakeGuid("{773C9AC0-3274-11D0-B724-00AA006C1A01}");
inline constexpr GUID MEDIASUBTYPE_YUY2 = MakeGuid("{32595559-0000-0010-8000-00AA00389B71}");
inline constexpr GUID MEDIASUBTYPE_UYVY = MakeGuid("{59565955-0000-0010-8000-00AA00389B71}");
inline constexpr GUID MEDIASUBTYPE_YV12 = MakeGuid("{32315659-0000-0010-8000-00AA00389B71}");
inline constexpr GUID MEDIASUBTYPE_I420 = MakeGuid("{30323449-0000-0010-8000-00AA00389B71}");
inline constexpr GUID MEDIASUBTYPE_IYUV = MakeGuid("{56555949-0000-0010-8000-00AA00389B71}");
inline constexpr GUID MEDIASUBTYPE_MJPG = MakeGuid("{47504A4D-0000-0010-8000-00AA00389B71}");
inline constexpr GUID MEDIASUBTYPE_dvsd = MakeGuid("{64737664-0000-0010-8000-00AA00389B71}");
inline constexpr GUID MEDIASUBTYPE_PCM = MakeGuid("{00000001-0000-0010-8000-00AA00389B71}");
inline constexpr GUID MEDIASUBTYPE_Avi = MakeGuid("{E436EB88-524F-11CE-9F53-0020AF0BA770}");

// Format types.
inline constexpr GUID FORMAT_None = MakeGuid("{0F6417D6-C318-11D0-A43F-00A0C9223196}");
inline constexpr GUID FORMAT_VideoInfo = MakeGuid("{05589F80-C356-11CE-BF01-00AA0055595A}");
inline constexpr GUID FORMAT_VideoInfo2 = MakeGuid("{F72A76A0-EB0A-11D0-ACE4-0000C0CC16BA}");
inline constexpr GUID FORMAT_WaveFormatEx = MakeGuid("{05589F81-C356-11CE-BF01-00AA0055595A}");

// Classes and categories.
inline constexpr CLSID CLSID_FilterGraph = MakeGuid("{E436EBB3-524F-11CE-9F53-0020AF0BA770}");
inline constexpr CLSID CLSID_FilterMapper2 = MakeGuid("{CDA42200-BD88-11D0-BD4E-00A0C911CE86}");
/** @brief The DirectShow filter category, under which the filter mapper registers filters. */
inline constexpr CLSID CLSID_LegacyAmFilterCategory = MakeGuid("{083863F1-70DE-11D0-BD40-00A0C911CE86}");

// Interfaces.
inline constexpr IID IID_IPersist = MakeGuid("{0000010C-0000-0000-C000-000000000046}");
inline constexpr IID IID_IPin = MakeGuid("{56A86891-0AD4-11CE-B03A-0020AF0BA770}");
inline constexpr IID IID_IEnumPins = MakeGuid("{56A86892-0AD4-11CE-B03A-0020AF0BA770}");
inline constexpr IID IID_IEnumFilters = MakeGuid("{56A86893-0AD4-11CE-B03A-0020AF0BA770}");
inline constexpr IID IID_IBaseFilter = MakeGuid("{56A86895-0AD4-11CE-B03A-0020AF0BA770}");
inline constexpr IID IID_IReferenceClock = MakeGuid("{56A86897-0AD4-11CE-B03A-0020AF0BA770}");
inline constexpr IID IID_IMediaFilter = MakeGuid("{56A86899-0AD4-11CE-B03A-0020AF0BA770}");
inline constexpr IID IID_IMediaSample = MakeGuid("{56A8689A-0AD4-11CE-B03A-0020AF0BA770}");
inline constexpr IID IID_IMemAllocator = MakeGuid("{56A8689C-0AD4-11CE-B03A-0020AF0BA770}");
inline constexpr IID IID_IMemInputPin = MakeGuid("{56A8689D-0AD4-11CE-B03A-0020AF0BA770}");
inline constexpr IID IID_IFilterGraph = MakeGuid("{56A8689F-0AD4-11CE-B03A-0020AF0BA770}");
inline constexpr IID IID_IGraphBuilder = MakeGuid("{56A868A9-0AD4-11CE-B03A-0020AF0BA770}");
inline constexpr IID IID_IEnumMediaTypes = MakeGuid("{89C31040-846B-11CE-97D3-00AA0055595A}");
inline constexpr IID IID_IFilterMapper2 = MakeGuid("{B79BB0B0-33C1-11D1-ABE1-00A0C905F375}");

}  // namespace kestrom::dshow
