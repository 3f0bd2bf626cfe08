#pragma once
// Class ids of the writers, encoders and renderers, and the interfaces through which the capture
// engine configures them.

#include "platform/dshow/base/Guids.h"
#include "platform/dshow/writers/SharedInterfaces.h"

namespace kestrom::dshow {

// Classes with their published ids, so that code written against the platform's ids finds them.
inline constexpr CLSID CLSID_AudioRender = MakeGuid("{E30629D1-27E5-11CE-875D-00608CB78066}");
inline constexpr CLSID CLSID_VideoRenderer = MakeGuid("{70E102B0-5556-11CE-97C0-00AA0055595A}");
inline constexpr CLSID CLSID_VideoMixingRenderer = MakeGuid("{B87BEB7B-8D29-423F-AE4D-6582C10175AC}");
inline constexpr CLSID CLSID_VideoMixingRenderer9 = MakeGuid("{51B4ABF3-748F-4E3B-A276-C828330E926A}");
/** @brief The MPEG writer that the capture engine binds in place of a compressor and the AVI mux. */
inline constexpr CLSID CLSID_MpegWriter = MakeGuid("{41918F50-ADF0-4FF6-882E-A6DBAD1A8C06}");

// Our encoders, listed as compressors.
inline constexpr CLSID CLSID_Mpeg4V2Compressor = MakeGuid("{A37A875B-DEDB-4603-A25D-B3B9E9232F00}");
inline constexpr CLSID CLSID_MjpegCompressor = MakeGuid("{66D314C5-653A-416E-95AC-18C86D0865EB}");
inline constexpr CLSID CLSID_DvCompressor = MakeGuid("{4C1411A6-D4BF-47FA-9F40-EA4458B4F031}");
inline constexpr CLSID CLSID_Wmv2Compressor = MakeGuid("{0CE25DA9-7A2F-49D9-AB50-D769F11ABFBD}");
inline constexpr CLSID CLSID_AdpcmCompressor = MakeGuid("{9ECD6F40-30C0-4027-8C71-D6BC7E5E5C5D}");
inline constexpr CLSID CLSID_Wmav2Compressor = MakeGuid("{34B9FC50-15F7-42D9-A97F-D3B0A0EB21E4}");
inline constexpr CLSID CLSID_PcmCompressor = MakeGuid("{077D9C75-7BD1-41A6-A417-AAC843A194CA}");

inline constexpr IID IID_IFileSinkFilter2 = MakeGuid("{00855B90-CE1B-11D0-BD4F-00A0C911CE86}");
inline constexpr IID IID_IConfigAviMux = MakeGuid("{5ACD6AA0-F482-11CE-8B67-00AA00A3F1A6}");
inline constexpr IID IID_IConfigInterleaving = MakeGuid("{BEE3D220-157B-11D0-BD23-00A0C911CE86}");
inline constexpr IID IID_IAMVideoCompression = MakeGuid("{C6E13343-30AC-11D0-A18C-00A0C9118956}");
inline constexpr IID IID_IConfigAsfWriter = MakeGuid("{45086030-F7E4-486A-B504-826BB5792A3B}");
inline constexpr IID IID_IWMProfileManager = MakeGuid("{D16679F2-6CA0-472D-8D31-2F5D55AEE155}");
inline constexpr IID IID_IWMProfileManager2 = MakeGuid("{7A924E51-73C1-494D-8019-23D37ED9B89A}");
inline constexpr IID IID_IWMProfile = MakeGuid("{96406BDB-2B2B-11D3-B36B-00C04F6108FF}");
inline constexpr IID IID_IServiceProvider = MakeGuid("{6D5140C1-7436-11CE-8034-00AA006009FA}");
inline constexpr IID IID_IWMWriterAdvanced2 = MakeGuid("{962DC1EC-C046-4DB8-9CC7-26CEAE500817}");
inline constexpr IID IID_IWMWriterSink = MakeGuid("{96406BE4-2B2B-11D3-B36B-00C04F6108FF}");
inline constexpr IID IID_IWMWriterFileSink = MakeGuid("{96406BE5-2B2B-11D3-B36B-00C04F6108FF}");
inline constexpr IID IID_IWMWriterNetworkSink = MakeGuid("{96406BE7-2B2B-11D3-B36B-00C04F6108FF}");
inline constexpr IID IID_IWMWriterPushSink = MakeGuid("{DC10E6A5-072C-467D-BF57-6330A9DDE12A}");
/** @brief Our own: the byte stream a multiplexer writes through into the file writer. */
inline constexpr IID IID_IFileWriterStream = MakeGuid("{A3B6035E-86D1-4BE7-99A8-4E54F8E3ED5C}");

/** @brief IFileSinkFilter2 mode: replace an existing file instead of writing into it. */
inline constexpr DWORD AM_FILE_OVERWRITE = 0x1;

struct IFileSinkFilter2 : IFileSinkFilter {
  virtual HRESULT SetMode(DWORD flags) = 0;
  virtual HRESULT GetMode(DWORD* flags) = 0;

 protected:
  ~IFileSinkFilter2() = default;
};

struct IConfigAviMux : IUnknown {
  /** @brief -1: no master stream. */
  virtual HRESULT SetMasterStream(LONG stream) = 0;
  virtual HRESULT GetMasterStream(LONG* stream) = 0;
  /** @brief TRUE also writes the AVI 1.0 index (idx1) beside the large-file index. */
  virtual HRESULT SetOutputCompatibilityIndex(BOOL compatible) = 0;
  virtual HRESULT GetOutputCompatibilityIndex(BOOL* compatible) = 0;

 protected:
  ~IConfigAviMux() = default;
};

enum InterleavingMode : int32_t {
  INTERLEAVE_NONE = 0,
  INTERLEAVE_CAPTURE = 1,
  INTERLEAVE_FULL = 2,
  INTERLEAVE_NONE_BUFFERED = 3,
};

struct IConfigInterleaving : IUnknown {
  virtual HRESULT put_Mode(InterleavingMode mode) = 0;
  virtual HRESULT get_Mode(InterleavingMode* mode) = 0;
  virtual HRESULT put_Interleaving(const REFERENCE_TIME* interleave, const REFERENCE_TIME* preroll) = 0;
  virtual HRESULT get_Interleaving(REFERENCE_TIME* interleave, REFERENCE_TIME* preroll) = 0;

 protected:
  ~IConfigInterleaving() = default;
};

// IAMVideoCompression capabilities.
inline constexpr LONG CompressionCaps_CanQuality = 0x1;
inline constexpr LONG CompressionCaps_CanCrunch = 0x2;
inline constexpr LONG CompressionCaps_CanKeyFrame = 0x4;
inline constexpr LONG CompressionCaps_CanBFrame = 0x8;
inline constexpr LONG CompressionCaps_CanWindow = 0x10;

struct IAMVideoCompression : IUnknown {
  virtual HRESULT put_KeyFrameRate(LONG rate) = 0;
  virtual HRESULT get_KeyFrameRate(LONG* rate) = 0;
  virtual HRESULT put_PFramesPerKeyFrame(LONG frames) = 0;
  virtual HRESULT get_PFramesPerKeyFrame(LONG* frames) = 0;
  /** @brief 0.0 (worst) to 1.0 (best); a negative value asks for the default. */
  virtual HRESULT put_Quality(double quality) = 0;
  virtual HRESULT get_Quality(double* quality) = 0;
  virtual HRESULT put_WindowSize(uint64_t frames) = 0;
  virtual HRESULT get_WindowSize(uint64_t* frames) = 0;
  virtual HRESULT GetInfo(WCHAR* version, int* versionChars, WCHAR* description, int* descriptionChars,
                          LONG* defaultKeyFrameRate, LONG* defaultPFrames, double* defaultQuality,
                          LONG* capabilities) = 0;
  virtual HRESULT OverrideKeyFrame(LONG frame) = 0;
  virtual HRESULT OverrideFrameSize(LONG frame, LONG size) = 0;

 protected:
  ~IAMVideoCompression() = default;
};

/**
 * @brief Positioned writes into the file writer's file, usable in every state: a multiplexer
 * opens a session when it starts and ends it once its index is written.
 */
struct IFileWriterStream : IUnknown {
  virtual HRESULT BeginSession() = 0;
  virtual HRESULT WriteAt(LONGLONG position, const BYTE* data, LONG length) = 0;
  /** @brief Ends the session; the file is closed once the writer is stopped too. */
  virtual HRESULT EndSession() = 0;
  /** @brief Reads back what the file holds at a position; *read gets the bytes read (0 at its end). */
  virtual HRESULT ReadAt(LONGLONG position, BYTE* data, LONG length, LONG* read) = 0;
  /** @brief The file's size now. */
  virtual HRESULT GetSize(LONGLONG* size) = 0;
  /** @brief Cuts the file at a size (giving its space back), or grows it. */
  virtual HRESULT SetSize(LONGLONG size) = 0;

 protected:
  ~IFileWriterStream() = default;
};

/** @brief A profile of the ASF writer; its content is the profile XML. */
struct IWMProfile : IUnknown {
  virtual HRESULT GetName(WCHAR* name, DWORD* chars) = 0;
  virtual HRESULT GetStreamCount(DWORD* count) = 0;

 protected:
  ~IWMProfile() = default;
};

struct IWMProfileManager : IUnknown {
  virtual HRESULT CreateEmptyProfile(DWORD version, IWMProfile** profile) = 0;
  virtual HRESULT LoadProfileByID(REFGUID id, IWMProfile** profile) = 0;
  virtual HRESULT LoadProfileByData(LPCWSTR xml, IWMProfile** profile) = 0;
  /** @brief The XML text; with a null buffer *chars receives the length needed (with the 0). */
  virtual HRESULT SaveProfile(IWMProfile* profile, WCHAR* xml, DWORD* chars) = 0;
  virtual HRESULT GetSystemProfileCount(DWORD* count) = 0;
  virtual HRESULT LoadSystemProfile(DWORD index, IWMProfile** profile) = 0;

 protected:
  ~IWMProfileManager() = default;
};

struct IWMProfileManager2 : IWMProfileManager {
  virtual HRESULT GetSystemProfileVersion(DWORD* version) = 0;
  virtual HRESULT SetSystemProfileVersion(DWORD version) = 0;

 protected:
  ~IWMProfileManager2() = default;
};

struct IConfigAsfWriter : IUnknown {
  virtual HRESULT ConfigureFilterUsingProfileId(DWORD id) = 0;
  virtual HRESULT GetCurrentProfileId(DWORD* id) = 0;
  virtual HRESULT ConfigureFilterUsingProfileGuid(REFGUID profile) = 0;
  virtual HRESULT GetCurrentProfileGuid(GUID* profile) = 0;
  virtual HRESULT ConfigureFilterUsingProfile(IWMProfile* profile) = 0;
  virtual HRESULT GetCurrentProfile(IWMProfile** profile) = 0;
  virtual HRESULT SetIndexMode(BOOL index) = 0;
  virtual HRESULT GetIndexMode(BOOL* index) = 0;

 protected:
  ~IConfigAsfWriter() = default;
};


/** @brief Hands out a service of an object that is not one of its interfaces (the ASF writer's
 * IWMWriterAdvanced2). */
struct IServiceProvider : IUnknown {
  virtual HRESULT QueryService(REFGUID service, REFIID iid, void** object) = 0;
 protected:
  ~IServiceProvider() = default;
};

/** @brief Where the ASF writer delivers its stream: the header once, then data units in order.
 * A unit that begins with a key frame says so, so that a sink can start a late reader there. */
struct IWMWriterSink : IUnknown {
  virtual HRESULT OnHeader(const BYTE* header, DWORD size) = 0;
  /** @brief S_OK when the sink needs the data in real time (a network sink), else S_FALSE. */
  virtual HRESULT IsRealTime(BOOL* realTime) = 0;
  virtual HRESULT OnDataUnit(const BYTE* data, DWORD size, BOOL startsWithKeyFrame) = 0;
  virtual HRESULT OnEndWriting() = 0;
 protected:
  ~IWMWriterSink() = default;
};

/** @brief The sinks of the ASF writer and whether its source is live (a live source is never
 * waited for). */
struct IWMWriterAdvanced2 : IUnknown {
  virtual HRESULT GetSinkCount(DWORD* count) = 0;
  virtual HRESULT GetSink(DWORD index, IWMWriterSink** sink) = 0;
  virtual HRESULT AddSink(IWMWriterSink* sink) = 0;
  virtual HRESULT RemoveSink(IWMWriterSink* sink) = 0;
  virtual HRESULT SetLiveSource(BOOL live) = 0;
  virtual HRESULT IsRealTime(BOOL* realTime) = 0;
 protected:
  ~IWMWriterAdvanced2() = default;
};

/** @brief The file the ASF writer writes (its IFileSinkFilter name), as a removable sink. */
struct IWMWriterFileSink : IWMWriterSink {
  virtual HRESULT Open(LPCWSTR fileName) = 0;
 protected:
  ~IWMWriterFileSink() = default;
};

enum WMT_NET_PROTOCOL : int32_t { WMT_PROTOCOL_HTTP = 0 };

/** @brief Serves the live stream to network clients. */
struct IWMWriterNetworkSink : IWMWriterSink {
  virtual HRESULT SetMaximumClients(DWORD clients) = 0;
  virtual HRESULT GetMaximumClients(DWORD* clients) = 0;
  virtual HRESULT SetNetworkProtocol(WMT_NET_PROTOCOL protocol) = 0;
  virtual HRESULT GetNetworkProtocol(WMT_NET_PROTOCOL* protocol) = 0;
  /** @brief "http://<host name>:<port>"; with a null buffer *chars receives the length needed
   * (with the 0). */
  virtual HRESULT GetHostURL(WCHAR* url, DWORD* chars) = 0;
  /** @brief Listens on *port on every address; port 0 picks a free one, written back. */
  virtual HRESULT Open(DWORD* port) = 0;
  virtual HRESULT Disconnect() = 0;
  virtual HRESULT Close() = 0;
 protected:
  ~IWMWriterNetworkSink() = default;
};

/** @brief Posts the live stream to a publishing point (http:// or mms:// URL). */
struct IWMWriterPushSink : IWMWriterSink {
  virtual HRESULT Connect(LPCWSTR url, LPCWSTR templateUrl, BOOL autoDestroy) = 0;
  virtual HRESULT Disconnect() = 0;
  virtual HRESULT EndSession() = 0;
 protected:
  ~IWMWriterPushSink() = default;
};

}  // namespace kestrom::dshow
