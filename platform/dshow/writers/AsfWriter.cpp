#include "platform/dshow/writers/AsfWriter.h"

#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/writers/AsfNetworkSinks.h"

#include <QXmlStreamReader>
#include <algorithm>
#include <cstring>
#include <new>

extern "C" {
#include <libavutil/intreadwrite.h>
}

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

// Answers with the file sink object itself, so that the writer writes its file at positions.
constexpr IID IID_FileSinkObject = MakeGuid("{6E0B7C51-3F4A-4D2B-9E61-0C2B7A5D8F13}");

/**
 * @brief The file the writer writes. The writer itself writes it at positions (so that the header
 * is brought up to date and the index lands at the end); another user delivers units in order.
 */
class CWMWriterFileSink final : public CUnknown, public IWMWriterFileSink {
 public:
  CWMWriterFileSink() : CUnknown("ASF file sink", nullptr) {}
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IWMWriterFileSink) return GetInterface(static_cast<IWMWriterFileSink*>(this), object);
    if (iid == IID_IWMWriterSink) return GetInterface(static_cast<IWMWriterSink*>(this), object);
    if (iid == IID_FileSinkObject) {
      *object = this;  // not referenced: the caller holds the sink
      return S_OK;
    }
    return CUnknown::NonDelegatingQueryInterface(iid, object);
  }
  HRESULT Open(LPCWSTR fileName) override {
    if (!fileName) return E_POINTER;
    name_ = QString::fromUtf16(fileName);
    return name_.isEmpty() ? E_INVALIDARG : S_OK;
  }
  HRESULT OnHeader(const BYTE* header, DWORD size) override {
    HRESULT hr = file_.IsOpen() ? S_OK : Start();
    if (SUCCEEDED(hr)) hr = file_.Write(0, header, int(size));
    position_ = size;
    return hr;
  }
  HRESULT IsRealTime(BOOL* realTime) override {
    if (!realTime) return E_POINTER;
    *realTime = FALSE;
    return S_FALSE;
  }
  HRESULT OnDataUnit(const BYTE* data, DWORD size, BOOL) override {
    const HRESULT hr = file_.Write(position_, data, int(size));
    position_ += size;
    return hr;
  }
  HRESULT OnEndWriting() override { return file_.Close(); }

  /** @brief Opens the named file, replacing it. */
  HRESULT Start() {
    if (name_.isEmpty()) return E_INVALIDARG;
    position_ = 0;
    return file_.Open(name_, true);
  }
  PositionalFile& File() { return file_; }
  const QString& Name() const { return name_; }

 private:
  QString name_;
  PositionalFile file_;
  int64_t position_ = 0;
};

CWMWriterFileSink* FileSinkObject(IWMWriterSink* sink) {
  void* self = nullptr;
  return sink && SUCCEEDED(sink->QueryInterface(IID_FileSinkObject, &self)) ? static_cast<CWMWriterFileSink*>(self) : nullptr;
}

const uint8_t kFilePropertiesGuid[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                         0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const uint8_t kHeaderGuid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

const uint8_t kSimpleIndexGuid[16] = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11,
                                      0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};
const uint8_t kIndexGuid[16] = {0xD3, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11,
                                0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE};

/** @brief Whether bytes after the data packets begin an index object (the data object's end). */
bool IsIndexObject(const uint8_t* p) { return std::memcmp(p, kSimpleIndexGuid, 16) == 0 || std::memcmp(p, kIndexGuid, 16) == 0; }

/** @brief A field of 0, 1, 2 or 4 bytes whose size a two-bit code gives; false past the end. */
bool ReadSized(const uint8_t* p, size_t size, size_t* at, unsigned code, uint32_t* value) {
  static constexpr size_t kBytes[4] = {0, 1, 2, 4};
  const size_t n = kBytes[code & 3];
  if (*at + n > size) return false;
  *value = n == 0 ? 0 : n == 1 ? p[*at] : n == 2 ? AV_RL16(p + *at) : AV_RL32(p + *at);
  *at += n;
  return true;
}

}  // namespace

uint32_t AsfHeaderPacketSize(uint8_t* header, size_t size, bool markBroadcast) {
  if (size < 30 || std::memcmp(header, kHeaderGuid, 16) != 0) return 0;
  const uint64_t headerSize = AV_RL64(header + 16);
  if (headerSize > size) return 0;
  for (size_t at = 30; at + 24 <= headerSize;) {
    const uint64_t objectSize = AV_RL64(header + at + 16);
    if (objectSize < 24 || objectSize > headerSize - at) return 0;
    if (std::memcmp(header + at, kFilePropertiesGuid, 16) == 0 && objectSize >= 104) {
      if (markBroadcast) AV_WL32(header + at + 88, AV_RL32(header + at + 88) | 1u);
      const uint32_t packetSize = AV_RL32(header + at + 92);
      return packetSize == AV_RL32(header + at + 96) ? packetSize : 0;  // fixed-size packets only
    }
    at += size_t(objectSize);
  }
  return 0;
}

namespace {

/**
 * @brief Calls visit(where the payload's stream number stands, its offset into its media object)
 * for each payload of a data packet, until visit returns false or the packet ends.
 */
template <typename Visit>
void ForEachPayload(const uint8_t* p, size_t size, Visit visit) {
  size_t at = 0;
  if (size < 1) return;
  if (p[0] & 0x80) at = 1 + (p[0] & 0x0F);  // error correction data
  if (at + 2 > size) return;
  const uint8_t lengthFlags = p[at], propertyFlags = p[at + 1];
  at += 2;
  uint32_t ignored = 0;
  if (!ReadSized(p, size, &at, lengthFlags >> 5, &ignored) ||  // packet length
      !ReadSized(p, size, &at, lengthFlags >> 1, &ignored) ||  // sequence
      !ReadSized(p, size, &at, lengthFlags >> 3, &ignored))    // padding length
    return;
  at += 6;  // send time, duration
  uint32_t payloads = 1;
  uint8_t payloadFlags = 0;
  const bool multiple = (lengthFlags & 1) != 0;
  if (multiple) {
    if (at >= size) return;
    payloadFlags = p[at++];
    payloads = payloadFlags & 0x3F;
  }
  for (uint32_t i = 0; i < payloads; ++i) {
    if (at >= size) return;
    const size_t streamAt = at++;
    uint32_t objectNumber = 0, offset = 0, replicated = 0, length = 0;
    if (!ReadSized(p, size, &at, propertyFlags >> 4, &objectNumber) || !ReadSized(p, size, &at, propertyFlags >> 2, &offset) ||
        !ReadSized(p, size, &at, propertyFlags, &replicated))
      return;
    if (replicated == 1) offset = 1;  // compressed payloads: not the start of an object here
    if (!visit(streamAt, offset)) return;
    at += replicated;
    if (!multiple || !ReadSized(p, size, &at, payloadFlags >> 6, &length)) return;
    at += length;
  }
}

}  // namespace

bool AsfPacketStartsKeyFrame(const uint8_t* packet, size_t size) {
  bool key = false;
  ForEachPayload(packet, size, [&](size_t streamAt, uint32_t offset) {
    key = (packet[streamAt] & 0x80) && offset == 0;
    return !key;
  });
  return key;
}

void AsfHidePayloadsBeforeKeyFrame(uint8_t* packet, size_t size) {
  std::vector<size_t> before;
  bool key = false;
  ForEachPayload(packet, size, [&](size_t streamAt, uint32_t offset) {
    key = (packet[streamAt] & 0x80) && offset == 0;
    if (!key) before.push_back(streamAt);
    return !key;
  });
  if (!key) return;
  for (size_t at : before) packet[at] = uint8_t((packet[at] & 0x80) | kUnusedAsfStream);
}

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

/**
 * @brief The container's bytes on their way to the sinks: the file sink gets them at their
 * positions; the others get the header once it is whole (marked as a live broadcast), then each
 * data packet as it completes, the last ones included. The index and the header written again at
 * the end go to the file alone.
 */
class CAsfWriter::Output final : public ByteSink {
 public:
  Output(ComPtr<IWMWriterSink> file, std::vector<ComPtr<IWMWriterSink>> others)
      : fileHolder_(std::move(file)), file_(FileSinkObject(fileHolder_.Get())), others_(std::move(others)) {}

  HRESULT Open() { return file_ ? file_->Start() : S_OK; }

  HRESULT Write(int64_t position, const uint8_t* data, int length) override {
    if (file_) {
      const HRESULT hr = file_->File().Write(position, data, length);
      if (FAILED(hr)) return hr;
    }
    if (others_.empty() || dataEnded_) return S_OK;
    if (packetSize_ == 0) {  // the header, patched in place while it is written
      if (position < 0 || position + length > (int64_t(1) << 20)) return S_OK;
      if (header_.size() < size_t(position + length)) header_.resize(size_t(position + length));
      std::memcpy(header_.data() + position, data, size_t(length));
      return S_OK;
    }
    if (position != nextPosition_) return S_OK;  // not the stream going on
    nextPosition_ += length;
    pending_.insert(pending_.end(), data, data + length);
    size_t used = 0;
    for (; pending_.size() - used >= packetSize_; used += packetSize_) {
      const uint8_t* packet = pending_.data() + used;
      if (IsIndexObject(packet)) {  // the last packet is out
        dataEnded_ = true;
        break;
      }
      const BOOL key = !hasVideo_ || AsfPacketStartsKeyFrame(packet, packetSize_);
      for (const auto& sink : others_) sink->OnDataUnit(packet, DWORD(packetSize_), key);
    }
    pending_.erase(pending_.begin(), pending_.begin() + ptrdiff_t(used));
    return S_OK;
  }

  /** @brief Whether the stream goes to other sinks than the file. */
  bool Streams() const { return !others_.empty(); }

  void HeaderWritten(int64_t size, bool hasVideo) {
    hasVideo_ = hasVideo;
    if (size > 0 && header_.size() >= size_t(size)) {
      header_.resize(size_t(size));
      packetSize_ = AsfHeaderPacketSize(header_.data(), header_.size(), /*markBroadcast=*/true);
    }
    if (packetSize_ == 0) {
      others_.clear();  // not a header a reader could follow
      return;
    }
    nextPosition_ = size;
    for (const auto& sink : others_) sink->OnHeader(header_.data(), DWORD(header_.size()));
  }

  HRESULT Close() {
    for (const auto& sink : others_) sink->OnEndWriting();
    others_.clear();
    return file_ ? file_->File().Close() : S_OK;
  }

 private:
  ComPtr<IWMWriterSink> fileHolder_;
  CWMWriterFileSink* file_;
  std::vector<ComPtr<IWMWriterSink>> others_;
  std::vector<uint8_t> header_, pending_;
  size_t packetSize_ = 0;
  int64_t nextPosition_ = 0;
  bool hasVideo_ = false, dataEnded_ = false;
};

CAsfWriter::CAsfWriter(IUnknown* outer) : CEncodingWriter("ASF writer", outer, CLSID_WMAsfWriter, "asf") {
  Configure(AsfSystemProfiles().front());
}

CAsfWriter::~CAsfWriter() = default;

CUnknown* CAsfWriter::CreateInstance(IUnknown* outer, HRESULT* hr) {
  auto* f = new (std::nothrow) CAsfWriter(outer);
  if (!f && hr) *hr = E_OUTOFMEMORY;
  return f;
}

HRESULT CAsfWriter::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IConfigAsfWriter) return GetInterface(static_cast<IConfigAsfWriter*>(this), object);
  if (iid == IID_IServiceProvider) return GetInterface(static_cast<IServiceProvider*>(this), object);
  return CEncodingWriter::NonDelegatingQueryInterface(iid, object);
}

HRESULT CAsfWriter::QueryService(REFGUID service, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (service != IID_IWMWriterAdvanced2) return E_NOINTERFACE;
  if (iid == IID_IWMWriterAdvanced2) return GetInterface(static_cast<IWMWriterAdvanced2*>(this), object);
  return NonDelegatingQueryInterface(iid, object);
}

HRESULT CAsfWriter::SetFileName(LPCWSTR fileName, const AM_MEDIA_TYPE* type) {
  HRESULT hr = CEncodingWriter::SetFileName(fileName, type);
  if (FAILED(hr)) return hr;
  std::lock_guard lock(sinkLock_);
  if (!fileSink_) {
    auto* sink = new (std::nothrow) CWMWriterFileSink();
    if (!sink) return E_OUTOFMEMORY;
    sink->NonDelegatingAddRef();
    fileSink_ = ComPtr<IWMWriterFileSink>::Attach(sink);
  }
  hr = fileSink_->Open(fileName);
  // Naming the file brings its sink back when it was removed.
  if (SUCCEEDED(hr) && std::find(sinks_.begin(), sinks_.end(), ComPtr<IWMWriterSink>(fileSink_.Get())) == sinks_.end())
    sinks_.insert(sinks_.begin(), ComPtr<IWMWriterSink>(fileSink_.Get()));
  return hr;
}

HRESULT CAsfWriter::GetSinkCount(DWORD* count) {
  if (!count) return E_POINTER;
  std::lock_guard lock(sinkLock_);
  *count = DWORD(sinks_.size());
  return S_OK;
}

HRESULT CAsfWriter::GetSink(DWORD index, IWMWriterSink** sink) {
  if (!sink) return E_POINTER;
  std::lock_guard lock(sinkLock_);
  *sink = nullptr;
  if (index >= sinks_.size()) return E_INVALIDARG;
  *sink = sinks_[index].Get();
  (*sink)->AddRef();
  return S_OK;
}

HRESULT CAsfWriter::AddSink(IWMWriterSink* sink) {
  if (!sink) return E_POINTER;
  std::lock_guard filter(filterLock_);
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  std::lock_guard lock(sinkLock_);
  if (std::find(sinks_.begin(), sinks_.end(), ComPtr<IWMWriterSink>(sink)) != sinks_.end()) return E_INVALIDARG;
  sinks_.emplace_back(sink);
  return S_OK;
}

HRESULT CAsfWriter::RemoveSink(IWMWriterSink* sink) {
  std::lock_guard filter(filterLock_);
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  std::lock_guard lock(sinkLock_);
  if (!sink) {  // every sink
    sinks_.clear();
    return S_OK;
  }
  const auto it = std::find(sinks_.begin(), sinks_.end(), ComPtr<IWMWriterSink>(sink));
  if (it == sinks_.end()) return E_INVALIDARG;
  sinks_.erase(it);
  return S_OK;
}

HRESULT CAsfWriter::SetLiveSource(BOOL live) {
  live_ = live ? TRUE : FALSE;
  return S_OK;
}

HRESULT CAsfWriter::IsRealTime(BOOL* realTime) {
  if (!realTime) return E_POINTER;
  std::lock_guard lock(sinkLock_);
  *realTime = FALSE;
  for (const auto& sink : sinks_) {
    BOOL sinkRealTime = FALSE;
    if (SUCCEEDED(sink->IsRealTime(&sinkRealTime)) && sinkRealTime) *realTime = TRUE;
  }
  return *realTime ? S_OK : S_FALSE;
}

HRESULT CAsfWriter::OpenOutput(const QString&, ByteSink** output) {
  *output = nullptr;
  ComPtr<IWMWriterSink> file;
  std::vector<ComPtr<IWMWriterSink>> others;
  {
    std::lock_guard lock(sinkLock_);
    for (const auto& sink : sinks_) {
      if (!file && FileSinkObject(sink.Get()))
        file = sink;
      else
        others.push_back(sink);
    }
  }
  if (!file && others.empty()) return E_INVALIDARG;  // nowhere to write
  auto out = std::make_unique<Output>(std::move(file), std::move(others));
  const HRESULT hr = out->Open();
  if (FAILED(hr)) return hr;
  output_ = std::move(out);
  *output = output_.get();
  return S_OK;
}

void CAsfWriter::HeaderWritten(Muxer& muxer) {
  if (!output_) return;
  AVFormatContext* context = muxer.Context();
  bool hasVideo = false;
  for (unsigned i = 0; i < context->nb_streams; ++i) hasVideo = hasVideo || context->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
  avio_flush(context->pb);
  output_->HeaderWritten(avio_tell(context->pb), hasVideo);
  // Each packet leaves as soon as it is made, so that the sinks receive it in real time.
  if (output_->Streams()) context->flags |= AVFMT_FLAG_FLUSH_PACKETS;
}

HRESULT CAsfWriter::CloseOutput() {
  if (!output_) return S_OK;
  const HRESULT hr = output_->Close();
  output_.reset();
  return hr;
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

extern "C" com::HRESULT WMCreateWriterNetworkSink(dshow::IWMWriterNetworkSink** sink) { return dshow::NewNetworkSink(sink); }

extern "C" com::HRESULT WMCreateWriterPushSink(dshow::IWMWriterPushSink** sink) { return dshow::NewPushSink(sink); }
