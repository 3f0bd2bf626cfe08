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
inline constexpr GUID FORMAT_MPEGVideo = MakeGuid("{05589F82-C356-11CE-BF01-00AA0055595A}");
inline constexpr GUID FORMAT_MPEG2Video = MakeGuid("{E06D80E3-DB46-11CF-B4D1-00805F6CBBEA}");

// Classes and categories.
inline constexpr CLSID CLSID_FilterGraph = MakeGuid("{E436EBB3-524F-11CE-9F53-0020AF0BA770}");
inline constexpr CLSID CLSID_FilterMapper2 = MakeGuid("{CDA42200-BD88-11D0-BD4E-00A0C911CE86}");
/** @brief The DirectShow filter category, under which the filter mapper registers filters. */
inline constexpr CLSID CLSID_LegacyAmFilterCategory = MakeGuid("{083863F1-70DE-11D0-BD40-00A0C911CE86}");
// Device categories the system device enumerator lists.
inline constexpr CLSID CLSID_VideoInputDeviceCategory = MakeGuid("{860BB310-5D01-11D0-BD3B-00A0C911CE86}");
inline constexpr CLSID CLSID_AudioInputDeviceCategory = MakeGuid("{33D9A762-90C8-11D0-BD43-00A0C911CE86}");
inline constexpr CLSID CLSID_VideoCompressorCategory = MakeGuid("{33D9A760-90C8-11D0-BD43-00A0C911CE86}");
inline constexpr CLSID CLSID_AudioCompressorCategory = MakeGuid("{33D9A761-90C8-11D0-BD43-00A0C911CE86}");

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

// Further classes.
inline constexpr CLSID CLSID_CaptureGraphBuilder2 = MakeGuid("{BF87B6E1-8C27-11D0-B3F0-00AA003761C5}");
inline constexpr CLSID CLSID_SystemClock = MakeGuid("{E436EBB1-524F-11CE-9F53-0020AF0BA770}");
inline constexpr CLSID CLSID_SmartTee = MakeGuid("{CC58E280-8AA1-11D1-B3F1-00AA003761C5}");
inline constexpr CLSID CLSID_InfTee = MakeGuid("{F8388A40-D5BB-11D0-BE5A-0080C706568E}");
inline constexpr CLSID CLSID_NullRenderer = MakeGuid("{C1F400A4-3F08-11D3-9F0B-006008039E37}");
inline constexpr CLSID CLSID_SampleGrabber = MakeGuid("{C1F400A0-3F08-11D3-9F0B-006008039E37}");
inline constexpr CLSID CLSID_AviDest = MakeGuid("{E2510970-F137-11CE-8B67-00AA00A3F1A6}");
inline constexpr CLSID CLSID_FileWriter = MakeGuid("{8596E5F0-0DA5-11D0-BD21-00A0C911CE86}");
inline constexpr CLSID CLSID_WMAsfWriter = MakeGuid("{7C23220E-55BB-11D3-8B16-00C04FB6BD3D}");
inline constexpr CLSID CLSID_AsyncReader = MakeGuid("{E436EBB5-524F-11CE-9F53-0020AF0BA770}");

// Media subtypes of output files (SetOutputFileName).
inline constexpr GUID MEDIASUBTYPE_Asf = MakeGuid("{3DB80F90-9412-11D1-ADED-0000F8754B99}");

// Pin categories (IKsPropertySet on a pin, AMPROPSETID_Pin / AMPROPERTY_PIN_CATEGORY).
inline constexpr GUID AMPROPSETID_Pin = MakeGuid("{9B00F101-1567-11D1-B3F1-00AA003761C5}");
inline constexpr GUID PIN_CATEGORY_CAPTURE = MakeGuid("{FB6C4281-0353-11D1-905F-0000C0CC16BA}");
inline constexpr GUID PIN_CATEGORY_PREVIEW = MakeGuid("{FB6C4282-0353-11D1-905F-0000C0CC16BA}");
inline constexpr GUID PIN_CATEGORY_ANALOGVIDEOIN = MakeGuid("{FB6C4283-0353-11D1-905F-0000C0CC16BA}");
inline constexpr GUID PIN_CATEGORY_VBI = MakeGuid("{FB6C4284-0353-11D1-905F-0000C0CC16BA}");
inline constexpr GUID PIN_CATEGORY_VIDEOPORT = MakeGuid("{FB6C4285-0353-11D1-905F-0000C0CC16BA}");
inline constexpr GUID PIN_CATEGORY_CC = MakeGuid("{FB6C4289-0353-11D1-905F-0000C0CC16BA}");
inline constexpr GUID PIN_CATEGORY_STILL = MakeGuid("{FB6C428A-0353-11D1-905F-0000C0CC16BA}");
inline constexpr GUID PIN_CATEGORY_TIMECODE = MakeGuid("{FB6C428B-0353-11D1-905F-0000C0CC16BA}");

// Device categories whose filters sit upstream of a capture device (crossbar, tuner, TV audio).
inline constexpr GUID AM_KSCATEGORY_TVTUNER = MakeGuid("{A799A800-A46D-11D0-A18C-00A02401DCD4}");
inline constexpr GUID AM_KSCATEGORY_CROSSBAR = MakeGuid("{A799A801-A46D-11D0-A18C-00A02401DCD4}");
inline constexpr GUID AM_KSCATEGORY_TVAUDIO = MakeGuid("{A799A802-A46D-11D0-A18C-00A02401DCD4}");

// FindInterface search directions.
inline constexpr GUID LOOK_UPSTREAM_ONLY = MakeGuid("{AC798BE0-98E3-11D1-B3F1-00AA003761C5}");
inline constexpr GUID LOOK_DOWNSTREAM_ONLY = MakeGuid("{AC798BE1-98E3-11D1-B3F1-00AA003761C5}");

// Time formats of IMediaSeeking.
inline constexpr GUID TIME_FORMAT_NONE = GUID{};
inline constexpr GUID TIME_FORMAT_FRAME = MakeGuid("{7B785570-8C82-11CF-BC0C-00AA00AC74F6}");
inline constexpr GUID TIME_FORMAT_BYTE = MakeGuid("{7B785571-8C82-11CF-BC0C-00AA00AC74F6}");
inline constexpr GUID TIME_FORMAT_SAMPLE = MakeGuid("{7B785572-8C82-11CF-BC0C-00AA00AC74F6}");
inline constexpr GUID TIME_FORMAT_FIELD = MakeGuid("{7B785573-8C82-11CF-BC0C-00AA00AC74F6}");
inline constexpr GUID TIME_FORMAT_MEDIA_TIME = MakeGuid("{7B785574-8C82-11CF-BC0C-00AA00AC74F6}");

// Interfaces of running graphs, capture and the simple filters.
inline constexpr IID IID_IMediaControl = MakeGuid("{56A868B1-0AD4-11CE-B03A-0020AF0BA770}");
inline constexpr IID IID_IMediaPosition = MakeGuid("{56A868B2-0AD4-11CE-B03A-0020AF0BA770}");
inline constexpr IID IID_IMediaEvent = MakeGuid("{56A868B6-0AD4-11CE-B03A-0020AF0BA770}");
inline constexpr IID IID_IMediaEventEx = MakeGuid("{56A868C0-0AD4-11CE-B03A-0020AF0BA770}");
inline constexpr IID IID_IMediaEventSink = MakeGuid("{56A868A2-0AD4-11CE-B03A-0020AF0BA770}");
inline constexpr IID IID_IMediaSeeking = MakeGuid("{36B73880-C2C8-11CF-8B46-00805F6CEF60}");
inline constexpr IID IID_IVideoFrameStep = MakeGuid("{E46A9787-2B71-444D-A4B5-1FAB7B708D6A}");
inline constexpr IID IID_IFilterGraph2 = MakeGuid("{36B73882-C2C8-11CF-8B46-00805F6CEF60}");
inline constexpr IID IID_IAMStreamControl = MakeGuid("{36B73881-C2C8-11CF-8B46-00805F6CEF60}");
inline constexpr IID IID_IAMFilterMiscFlags = MakeGuid("{2DD74950-A890-11D1-ABE8-00A0C905F375}");
inline constexpr IID IID_IAMPushSource = MakeGuid("{F185FE76-E64E-11D2-B76E-00C04FB6BD3D}");
inline constexpr IID IID_IKsPropertySet = MakeGuid("{31EFAC30-515C-11D0-A9AA-00AA0061BE93}");
inline constexpr IID IID_ICaptureGraphBuilder2 = MakeGuid("{93E5A4E0-2D50-11D2-ABFA-00A0C9C6E38D}");
inline constexpr IID IID_IFileSinkFilter = MakeGuid("{A2104830-7C70-11CF-8BCE-00AA00A3F1A6}");
inline constexpr IID IID_IFileSourceFilter = MakeGuid("{56A868A6-0AD4-11CE-B03A-0020AF0BA770}");
inline constexpr IID IID_ISampleGrabber = MakeGuid("{6B652FFF-11FE-4FCE-92AD-0266B5D7C78F}");
inline constexpr IID IID_IMoniker = MakeGuid("{0000000F-0000-0000-C000-000000000046}");
inline constexpr IID IID_ISampleGrabberCB = MakeGuid("{0579154A-2B53-4994-B0D0-E773148EFF85}");

}  // namespace kestrom::dshow
