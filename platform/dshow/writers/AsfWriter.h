#pragma once
// The ASF writer (WMV2 video and WMA V2 sound in an ASF file) and the profile manager that stands
// in for the Windows Media runtime's. A profile is XML text: <profile> with one <streamconfig>
// per stream, whose attributes (bitrate, inputname, streamnumber, and the wave format or video
// header inside) set the encoders; the writer's input pins are named after each stream's
// inputname. Network sinks are not available: their creation fails.

#include "platform/dshow/writers/EncodingWriter.h"

#include <QString>
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

class CAsfWriter final : public CEncodingWriter, public IConfigAsfWriter {
 public:
  explicit CAsfWriter(IUnknown* outer);
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

 private:
  HRESULT Configure(const QString& xml);

  QString profileXml_;
  BOOL indexMode_ = TRUE;
};

}  // namespace kestrom::dshow

extern "C" {
/** @brief The profile manager (IWMProfileManager, IWMProfileManager2). */
kestrom::com::HRESULT WMCreateProfileManager(kestrom::dshow::IWMProfileManager** manager);
/** @brief Network sinks: not available yet (E_NOTIMPL), so callers report their own failure. */
kestrom::com::HRESULT WMCreateWriterNetworkSink(kestrom::dshow::IWMWriterNetworkSink** sink);
kestrom::com::HRESULT WMCreateWriterPushSink(kestrom::dshow::IWMWriterPushSink** sink);
}
