#pragma once
// The ASF writer (WMV2 video and WMA V2 sound in an ASF file) and the profile manager that stands
// in for the Windows Media runtime's. A profile is XML text: <profile> with one <streamconfig>
// per stream, whose attributes (bitrate, inputname, streamnumber, and the wave format or video
// header inside) set the encoders; the writer's input pins are named after each stream's
// inputname. Through its service provider the writer hands out IWMWriterAdvanced2: its sinks,
// among them the file named through IFileSinkFilter, which can be removed like any other, and the
// network and push sinks of AsfNetworkSinks.h.

#include "platform/com/ComPtr.h"
#include "platform/dshow/writers/EncodingWriter.h"

#include <QString>
#include <memory>
#include <mutex>
#include <vector>

namespace kestrom::dshow {

/** @brief One stream of a profile, as the writer uses it. */
struct AsfProfileStream {
  bool video = false;
  QString inputName;
  int streamNumber = 0;
  int64_t bitRate = 0;
  int channels = 0;                // audio
  int width = 0, height = 0;       // video
  REFERENCE_TIME frameTime = 0;    // video, 100 ns
  int quality = -1;                // video, 0..100
  REFERENCE_TIME maxKeyFrameSpacing = 0;  // video, 100 ns
};

/** @brief The streams of a profile's XML; empty when the text is not a profile. */
std::vector<AsfProfileStream> ParseAsfProfile(const QString& xml, QString* name = nullptr);

/** @brief The system profiles' XML texts, by index. */
const std::vector<QString>& AsfSystemProfiles();

/**
 * @brief The packet size an ASF header gives; 0 when the bytes hold no whole header or the
 * packets vary in size.
 * With markBroadcast the header is marked as a live broadcast of unknown length, as a network
 * reader needs it.
 */
uint32_t AsfHeaderPacketSize(uint8_t* header, size_t size, bool markBroadcast);

/** @brief Whether an ASF data packet holds the start of a key frame. */
bool AsfPacketStartsKeyFrame(const uint8_t* packet, size_t size);

/** @brief A stream number no profile uses: readers skip its payloads. */
inline constexpr uint8_t kUnusedAsfStream = 0x7F;

/**
 * @brief Moves the payloads in front of the key frame's start to the unused stream, so that a
 * reader starting with this packet gets no fragments of the frames before it.
 */
void AsfHidePayloadsBeforeKeyFrame(uint8_t* packet, size_t size);

class CAsfWriter final : public CEncodingWriter, public IConfigAsfWriter, public IServiceProvider, public IWMWriterAdvanced2 {
 public:
  explicit CAsfWriter(IUnknown* outer);
  ~CAsfWriter() override;
  static com::CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  HRESULT ConfigureFilterUsingProfileId(DWORD id) override;
  HRESULT GetCurrentProfileId(DWORD* id) override;
  HRESULT ConfigureFilterUsingProfileGuid(REFGUID profile) override;
  HRESULT GetCurrentProfileGuid(GUID* profile) override;
  HRESULT ConfigureFilterUsingProfile(IWMProfile* profile) override;
  HRESULT GetCurrentProfile(IWMProfile** profile) override;
  HRESULT SetIndexMode(BOOL index) override;
  HRESULT GetIndexMode(BOOL* index) override;

  HRESULT SetFileName(LPCWSTR fileName, const AM_MEDIA_TYPE* type) override;

  /** @brief IWMWriterAdvanced2 (service IID_IWMWriterAdvanced2) only. */
  HRESULT QueryService(REFGUID service, REFIID iid, void** object) override;

  // Sinks change only while the writer is stopped; they never hold up the streaming thread.
  HRESULT GetSinkCount(DWORD* count) override;
  HRESULT GetSink(DWORD index, IWMWriterSink** sink) override;
  HRESULT AddSink(IWMWriterSink* sink) override;
  HRESULT RemoveSink(IWMWriterSink* sink) override;
  HRESULT SetLiveSource(BOOL live) override;
  HRESULT IsRealTime(BOOL* realTime) override;

 protected:
  HRESULT OpenOutput(const QString& fileName, ByteSink** output) override;
  void HeaderWritten(Muxer& muxer) override;
  HRESULT CloseOutput() override;

 private:
  class Output;
  HRESULT Configure(const QString& xml);

  std::mutex sinkLock_;
  std::vector<com::ComPtr<IWMWriterSink>> sinks_;
  com::ComPtr<IWMWriterFileSink> fileSink_;  // the one for the IFileSinkFilter name
  std::unique_ptr<Output> output_;
  BOOL live_ = FALSE;

  QString profileXml_;
  BOOL indexMode_ = TRUE;
};

}  // namespace kestrom::dshow

extern "C" {
/** @brief The profile manager (IWMProfileManager, IWMProfileManager2). */
kestrom::com::HRESULT WMCreateProfileManager(kestrom::dshow::IWMProfileManager** manager);
/** @brief A network sink serving the live stream over HTTP (AsfNetworkSinks.h). */
kestrom::com::HRESULT WMCreateWriterNetworkSink(kestrom::dshow::IWMWriterNetworkSink** sink);
/** @brief A push sink posting the live stream to a publishing point (AsfNetworkSinks.h). */
kestrom::com::HRESULT WMCreateWriterPushSink(kestrom::dshow::IWMWriterPushSink** sink);
}
