#include "platform/dshow/writers/AsfWriter.h"

#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Guids.h"

#include <QXmlStreamReader>
#include <algorithm>
#include <cstring>
#include <new>

namespace kestrom::dshow {

using namespace com;

namespace {

// Answers with the profile object itself, so that the manager and the writer read its XML.
constexpr IID IID_ProfileObject = MakeGuid("{0221A18F-2303-4A55-A7D8-D2A87796FE39}");

QString ProfileXml(const QString& name, int width, int height, int videoBitRate, int audioBitRate, int channels, int rate) {
  QString xml = QStringLiteral("<profile version=\"589824\" storageformat=\"1\" name=\"%1\" description=\"\">\n").arg(name);
  const int blockAlign = audioBitRate >= 64000 ? 2973 : audioBitRate >= 32000 ? 1487 : 743;
  xml += QStringLiteral(
             "  <streamconfig majortype=\"{73647561-0000-0010-8000-00AA00389B71}\" streamnumber=\"1\" "
             "streamname=\"Audio Stream\" inputname=\"Audio409\" bitrate=\"%1\" bufferwindow=\"3000\" "
             "reliabletransport=\"0\" decodercomplexity=\"\" rfc1766langid=\"en-us\">\n"
             "    <wmmediatype subtype=\"{00000161-0000-0010-8000-00AA00389B71}\" bfixedsizesamples=\"1\" "
             "btemporalcompression=\"0\" lsamplesize=\"%2\">\n"
             "      <waveformatex wFormatTag=\"353\" nChannels=\"%3\" nSamplesPerSec=\"%4\" nAvgBytesPerSec=\"%5\" "
             "nBlockAlign=\"%2\" wBitsPerSample=\"16\" codecdata=\"008800000F0000000000\"/>\n"
             "    </wmmediatype>\n"
             "  </streamconfig>\n")
             .arg(audioBitRate)
             .arg(blockAlign)
             .arg(channels)
             .arg(rate)
             .arg(audioBitRate / 8);
  if (width > 0) {
    xml += QStringLiteral(
               "  <streamconfig majortype=\"{73646976-0000-0010-8000-00AA00389B71}\" streamnumber=\"2\" "
               "streamname=\"Video Stream\" inputname=\"Video409\" bitrate=\"%1\" bufferwindow=\"3000\" "
               "reliabletransport=\"0\" decodercomplexity=\"AU\" rfc1766langid=\"en-us\">\n"
               "    <videomediaprops maxkeyframespacing=\"80000000\" quality=\"75\"/>\n"
               "    <wmmediatype subtype=\"{32564D57-0000-0010-8000-00AA00389B71}\" bfixedsizesamples=\"0\" "
               "btemporalcompression=\"1\" lsamplesize=\"0\">\n"
               "      <videoinfoheader dwbitrate=\"%1\" dwbiterrorrate=\"0\" avgtimeperframe=\"400000\">\n"
               "        <rcsource left=\"0\" top=\"0\" right=\"%2\" bottom=\"%3\"/>\n"
               "        <rctarget left=\"0\" top=\"0\" right=\"%2\" bottom=\"%3\"/>\n"
               "        <bitmapinfoheader biwidth=\"%2\" biheight=\"%3\" biplanes=\"1\" bibitcount=\"24\" "
               "bicompression=\"WMV2\" bisizeimage=\"0\" bixpelspermeter=\"0\" biypelspermeter=\"0\" biclrused=\"0\" "
               "biclrimportant=\"0\"/>\n"
               "      </videoinfoheader>\n"
               "    </wmmediatype>\n"
               "  </streamconfig>\n")
               .arg(videoBitRate)
               .arg(width)
               .arg(height);
  }
  xml += QStringLiteral("</profile>\n");
  return xml;
}

class CWMProfile final : public CUnknown, public IWMProfile {
 public:
  explicit CWMProfile(QString xml) : CUnknown("ASF profile", nullptr), xml_(std::move(xml)) { streams_ = ParseAsfProfile(xml_, &name_); }
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IWMProfile) return GetInterface(static_cast<IWMProfile*>(this), object);
    if (iid == IID_ProfileObject) {
      *object = this;  // not referenced: only for reading while the caller holds the profile
      return S_OK;
    }
    return CUnknown::NonDelegatingQueryInterface(iid, object);
  }
  HRESULT GetName(WCHAR* name, DWORD* chars) override {
    if (!chars) return E_POINTER;
    const DWORD needed = DWORD(name_.size() + 1);
    if (!name) {
      *chars = needed;
      return S_OK;
    }
    if (*chars < needed) return E_INVALIDARG;  // too small a buffer
    std::memcpy(name, name_.utf16(), needed * sizeof(WCHAR));
    *chars = needed;
    return S_OK;
  }
  HRESULT GetStreamCount(DWORD* count) override {
    if (!count) return E_POINTER;
    *count = DWORD(streams_.size());
    return S_OK;
  }
  const QString& Xml() const { return xml_; }
  bool Valid() const { return !streams_.empty(); }

 private:
  QString xml_, name_;
  std::vector<AsfProfileStream> streams_;
};

CWMProfile* ProfileObject(IWMProfile* profile) {
  if (!profile) return nullptr;
  void* self = nullptr;
  return SUCCEEDED(profile->QueryInterface(IID_ProfileObject, &self)) ? static_cast<CWMProfile*>(self) : nullptr;
}

HRESULT NewProfile(const QString& xml, IWMProfile** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  auto* p = new (std::nothrow) CWMProfile(xml);
  if (!p) return E_OUTOFMEMORY;
  p->NonDelegatingAddRef();
  if (!p->Valid()) {
    p->NonDelegatingRelease();
    return E_INVALIDARG;  // not a profile with a stream
  }
  *out = p;
  return S_OK;
}

class CWMProfileManager final : public CUnknown, public IWMProfileManager2 {
 public:
  CWMProfileManager() : CUnknown("ASF profile manager", nullptr) {}
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IWMProfileManager2) return GetInterface(static_cast<IWMProfileManager2*>(this), object);
    if (iid == IID_IWMProfileManager) return GetInterface(static_cast<IWMProfileManager*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
  }
  HRESULT CreateEmptyProfile(DWORD, IWMProfile**) override { return E_NOTIMPL; }
  HRESULT LoadProfileByID(REFGUID, IWMProfile**) override { return E_NOTIMPL; }
  HRESULT LoadProfileByData(LPCWSTR xml, IWMProfile** profile) override {
    if (!xml) return E_POINTER;
    return NewProfile(QString::fromUtf16(xml), profile);
  }
  HRESULT SaveProfile(IWMProfile* profile, WCHAR* xml, DWORD* chars) override {
    if (!chars) return E_POINTER;
    CWMProfile* p = ProfileObject(profile);
    if (!p) return E_INVALIDARG;
    const DWORD needed = DWORD(p->Xml().size() + 1);
    if (!xml) {
      *chars = needed;
      return S_OK;
    }
    if (*chars < needed) {
      *chars = needed;
      return E_INVALIDARG;
    }
    std::memcpy(xml, p->Xml().utf16(), needed * sizeof(WCHAR));
    *chars = needed;
    return S_OK;
  }
  HRESULT GetSystemProfileCount(DWORD* count) override {
    if (!count) return E_POINTER;
    *count = DWORD(AsfSystemProfiles().size());
    return S_OK;
  }
  HRESULT LoadSystemProfile(DWORD index, IWMProfile** profile) override {
    if (index >= AsfSystemProfiles().size()) return E_INVALIDARG;
    return NewProfile(AsfSystemProfiles()[index], profile);
  }
  HRESULT GetSystemProfileVersion(DWORD* version) override {
    if (!version) return E_POINTER;
    *version = version_;
    return S_OK;
  }
  HRESULT SetSystemProfileVersion(DWORD version) override {
    version_ = version;
    return S_OK;
  }

 private:
  DWORD version_ = 0x80000;
};

}  // namespace

const std::vector<QString>& AsfSystemProfiles() {
  static const std::vector<QString> profiles = {
      ProfileXml(QStringLiteral("Video 384 Kbps 320x240 and mono sound 32 Kbps"), 320, 240, 384000, 32000, 1, 22050),
      ProfileXml(QStringLiteral("Video 1 Mbps 640x480 and stereo sound 64 Kbps"), 640, 480, 1000000, 64000, 2, 44100),
      ProfileXml(QStringLiteral("Video 2 Mbps 720x576 and stereo sound 128 Kbps"), 720, 576, 2000000, 128000, 2, 44100),
      ProfileXml(QStringLiteral("Sound only, stereo 64 Kbps"), 0, 0, 0, 64000, 2, 44100),
  };
  return profiles;
}

std::vector<AsfProfileStream> ParseAsfProfile(const QString& xml, QString* name) {
  std::vector<AsfProfileStream> streams;
  QXmlStreamReader reader(xml);
  AsfProfileStream* current = nullptr;
  bool sawProfile = false;
  auto attr = [&](const char* wanted) -> QString {
    for (const QXmlStreamAttribute& a : reader.attributes())
      if (a.name().toString().compare(QLatin1String(wanted), Qt::CaseInsensitive) == 0) return a.value().toString();
    return {};
  };
  while (!reader.atEnd()) {
    const auto token = reader.readNext();
    if (token == QXmlStreamReader::EndElement &&
        reader.name().toString().compare(QLatin1String("streamconfig"), Qt::CaseInsensitive) == 0) {
      current = nullptr;
      continue;
    }
    if (token != QXmlStreamReader::StartElement) continue;
    const QString element = reader.name().toString().toLower();
    if (element == QLatin1String("profile")) {
      sawProfile = true;
      if (name) *name = attr("name");
    } else if (element == QLatin1String("streamconfig") && sawProfile) {
      AsfProfileStream s;
      const QString major = attr("majortype").toUpper();
      s.video = major == QLatin1String("{73646976-0000-0010-8000-00AA00389B71}");
      if (!s.video && major != QLatin1String("{73647561-0000-0010-8000-00AA00389B71}")) continue;
      s.inputName = attr("inputname");
      s.streamNumber = attr("streamnumber").toInt();
      s.bitRate = attr("bitrate").toLongLong();
      streams.push_back(s);
      current = &streams.back();
    } else if (current && element == QLatin1String("waveformatex")) {
      current->channels = attr("nchannels").toInt();
    } else if (current && element == QLatin1String("videomediaprops")) {
      bool ok = false;
      const int q = attr("quality").toInt(&ok);
      if (ok) current->quality = q;
      current->maxKeyFrameSpacing = attr("maxkeyframespacing").toLongLong();
    } else if (current && element == QLatin1String("videoinfoheader")) {
      current->frameTime = attr("avgtimeperframe").toLongLong();
      if (const int64_t rate = attr("dwbitrate").toLongLong(); rate > 0) current->bitRate = rate;
    } else if (current && element == QLatin1String("bitmapinfoheader")) {
      current->width = attr("biwidth").toInt();
      current->height = std::abs(attr("biheight").toInt());
    }
  }
  if (reader.hasError()) return {};
  std::stable_sort(streams.begin(), streams.end(), [](const auto& a, const auto& b) { return a.streamNumber < b.streamNumber; });
  return streams;
}

CAsfWriter::CAsfWriter(IUnknown* outer) : CEncodingWriter("ASF writer", outer, CLSID_WMAsfWriter, "asf") {
  Configure(AsfSystemProfiles().front());
}

CUnknown* CAsfWriter::CreateInstance(IUnknown* outer, HRESULT* hr) {
  auto* f = new (std::nothrow) CAsfWriter(outer);
  if (!f && hr) *hr = E_OUTOFMEMORY;
  return f;
}

HRESULT CAsfWriter::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IConfigAsfWriter) return GetInterface(static_cast<IConfigAsfWriter*>(this), object);
  return CEncodingWriter::NonDelegatingQueryInterface(iid, object);
}

HRESULT CAsfWriter::Configure(const QString& xml) {
  const std::vector<AsfProfileStream> streams = ParseAsfProfile(xml);
  if (streams.empty()) return E_INVALIDARG;
  std::vector<WriterStreamSpec> specs;
  for (const AsfProfileStream& s : streams) {
    WriterStreamSpec streamSpec;
    streamSpec.pinName = s.inputName.isEmpty() ? (s.video ? QStringLiteral("Video Input") : QStringLiteral("Audio Input")) : s.inputName;
    streamSpec.video = s.video;
    if (s.video) {
      VideoEncoderSettings& v = streamSpec.videoSettings;
      v.codec = AV_CODEC_ID_WMV2;
      v.width = s.width & ~1;
      v.height = s.height & ~1;
      if (s.frameTime > 0) v.frameTime = s.frameTime;
      v.bitRate = s.bitRate;
      if (s.quality >= 0 && s.quality <= 100) v.quality = s.quality / 100.0;
      v.keyFrameRate = s.maxKeyFrameSpacing > 0 ? int(std::max<int64_t>(1, s.maxKeyFrameSpacing / v.frameTime)) : 25;
    } else {
      AudioEncoderSettings& a = streamSpec.audioSettings;
      a.codec = AV_CODEC_ID_WMAV2;
      a.channels = s.channels == 1 || s.channels == 2 ? s.channels : 0;
      // The codec needs some 24 Kbps at least to work at all.
      a.bitRate = std::max<int64_t>(s.bitRate, 32000);
    }
    specs.push_back(streamSpec);
  }
  const HRESULT hr = SetStreams(specs);
  if (SUCCEEDED(hr)) profileXml_ = xml;
  return hr;
}

HRESULT CAsfWriter::ConfigureFilterUsingProfileId(DWORD id) {
  if (id >= AsfSystemProfiles().size()) return E_INVALIDARG;
  return Configure(AsfSystemProfiles()[id]);
}

HRESULT CAsfWriter::GetCurrentProfileId(DWORD* id) {
  if (!id) return E_POINTER;
  const auto& profiles = AsfSystemProfiles();
  const auto it = std::find(profiles.begin(), profiles.end(), profileXml_);
  if (it == profiles.end()) return E_FAIL;
  *id = DWORD(it - profiles.begin());
  return S_OK;
}

HRESULT CAsfWriter::ConfigureFilterUsingProfileGuid(REFGUID) { return E_NOTIMPL; }
HRESULT CAsfWriter::GetCurrentProfileGuid(GUID*) { return E_NOTIMPL; }

HRESULT CAsfWriter::ConfigureFilterUsingProfile(IWMProfile* profile) {
  CWMProfile* p = ProfileObject(profile);
  if (!p) return E_INVALIDARG;
  return Configure(p->Xml());
}

HRESULT CAsfWriter::GetCurrentProfile(IWMProfile** profile) { return NewProfile(profileXml_, profile); }

HRESULT CAsfWriter::SetIndexMode(BOOL index) {
  indexMode_ = index ? TRUE : FALSE;
  return S_OK;
}

HRESULT CAsfWriter::GetIndexMode(BOOL* index) {
  if (!index) return E_POINTER;
  *index = indexMode_;
  return S_OK;
}

}  // namespace kestrom::dshow

using namespace kestrom;

extern "C" com::HRESULT WMCreateProfileManager(dshow::IWMProfileManager** manager) {
  if (!manager) return com::E_POINTER;
  auto* m = new (std::nothrow) dshow::CWMProfileManager();
  if (!m) return com::E_OUTOFMEMORY;
  m->NonDelegatingAddRef();
  *manager = m;
  return com::S_OK;
}

extern "C" com::HRESULT WMCreateWriterNetworkSink(dshow::IWMWriterNetworkSink** sink) {
  if (sink) *sink = nullptr;
  return com::E_NOTIMPL;
}

extern "C" com::HRESULT WMCreateWriterPushSink(dshow::IWMWriterPushSink** sink) {
  if (sink) *sink = nullptr;
  return com::E_NOTIMPL;
}
