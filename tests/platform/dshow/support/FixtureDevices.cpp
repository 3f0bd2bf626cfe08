#include "tests/platform/dshow/support/FixtureDevices.h"

#include <chrono>
#include <thread>

#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/AnalogPins.h"
#include "platform/dshow/sources/CapturePin.h"
#include "platform/dshow/sources/DeviceFilter.h"
#include "platform/dshow/sources/DvFormat.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/dshow/writers/EncoderCore.h"
#include "tools/FrameCode.h"

#include <QImage>
#include <cstring>
#include <deque>

extern "C" {
#include <libavformat/avformat.h>
}

namespace kestrom::dshow::test {

using namespace com;

namespace {
constexpr CLSID CLSID_FixtureCamera = com::MakeGuid("{6A2D4E10-3C5B-4F7A-8D19-2E4B6C8A0F01}");
constexpr CLSID CLSID_FixtureMicrophone = com::MakeGuid("{6A2D4E10-3C5B-4F7A-8D19-2E4B6C8A0F02}");
constexpr CLSID CLSID_FixtureDvCamcorder = com::MakeGuid("{6A2D4E10-3C5B-4F7A-8D19-2E4B6C8A0F03}");
constexpr CLSID CLSID_FixtureProgramStream = com::MakeGuid("{6A2D4E10-3C5B-4F7A-8D19-2E4B6C8A0F04}");

template <typename T>
com::CUnknown* Create(com::IUnknown* outer, HRESULT* hr) {
  auto* made = new (std::nothrow) T(outer);
  if (hr) *hr = made ? S_OK : E_OUTOFMEMORY;
  return made;
}


const sources::DvGeometry kPalDv = sources::DvGeometryOfSystem(true);

std::vector<BYTE> CodedRows(int width, int height, int64_t frame);

/**
 * @brief PAL DV frames whose pictures carry their frame numbers (tools/FrameCode), made one at a
 * time at the camcorder's pace: the DV pins deliver them from a running graph.
 */
class DvFrameMaker {
 public:
  HRESULT Fill(IMediaSample* sample) {
    if (!encoder_.IsOpen()) {
      CMediaType rgb = MakeCapabilityType({MEDIASUBTYPE_RGB24, 0, 24, kPalDv.width, kPalDv.height, {}},
                                          kPalDv.frameInterval);
      VideoEncoderSettings settings;
      settings.codec = AV_CODEC_ID_DVVIDEO;
      settings.frameTime = kPalDv.frameInterval;
      settings.keyFrameRate = 1;
      const HRESULT hr = encoder_.Open(rgb, settings);
      if (FAILED(hr)) return hr;
      next_ = std::chrono::steady_clock::now();
    }
    std::this_thread::sleep_until(next_);
    next_ += std::chrono::microseconds(kPalDv.frameInterval / 10);
    const std::vector<BYTE> rows = CodedRows(kPalDv.width, kPalDv.height, frame_);
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    LONG written = 0;
    const LONG capacity = sample->GetSize();
    HRESULT hr = encoder_.Encode(rows.data(), static_cast<LONG>(rows.size()), frame_,
                                 [&](const AVPacket& packet) {
                                   if (packet.size > capacity) return E_FAIL;
                                   std::memcpy(data, packet.data, size_t(packet.size));
                                   written = packet.size;
                                   return S_OK;
                                 },
                                 true);
    if (FAILED(hr) || written == 0) return FAILED(hr) ? hr : E_FAIL;
    StampRecordingDate(data, written);
    REFERENCE_TIME start = frame_ * kPalDv.frameInterval, stop = start + kPalDv.frameInterval;
    sample->SetTime(&start, &stop);
    sample->SetActualDataLength(written);
    sample->SetSyncPoint(1);
    ++frame_;
    return S_OK;
  }
  /**
   * @brief Writes the recording date and time packs into the first free pack places of the video
   * auxiliary blocks (section type 2), as a camcorder does; the picture data stays untouched.
   */
  static void StampRecordingDate(BYTE* frame, LONG length) {
    const auto bcd = [](int v) { return static_cast<BYTE>(((v / 10) << 4) | (v % 10)); };
    const int* d = kDvRecordingDate;
    const BYTE date[5] = {0x62, 0xFF, bcd(d[2]), bcd(d[1]), bcd(d[0] % 100)};
    const BYTE time[5] = {0x63, 0xFF, bcd(d[5]), bcd(d[4]), bcd(d[3])};
    for (LONG at = 0; at + 80 <= length; at += 80) {
      BYTE* block = frame + at;
      if ((block[0] >> 5) != 2) continue;
      std::vector<BYTE*> free;
      for (int p = 0; p < 15; ++p)
        if (block[3 + p * 5] == 0xFF) free.push_back(block + 3 + p * 5);
      if (free.size() < 2) continue;
      std::memcpy(free[0], date, 5);
      std::memcpy(free[1], time, 5);
    }
  }
  void Restart() {
    encoder_.Close();
    frame_ = 0;
  }

 private:
  VideoEncoder encoder_;
  int64_t frame_ = 0;
  std::chrono::steady_clock::time_point next_;
};

VideoCapability PalDvCapability() {
  return {MEDIASUBTYPE_dvsd, MEDIASUBTYPE_dvsd.Data1, 24, kPalDv.width, kPalDv.height, {kPalDv.frameInterval}};
}

/** @brief A picture of the numbered pattern in bottom-up BGR rows (what an RGB24 type holds). */
std::vector<BYTE> CodedRows(int width, int height, int64_t frame) {
  QImage picture(width, height, QImage::Format_BGR888);
  tools::PaintCodedFrame(picture, static_cast<int>(frame % (tools::kMaxFrameCode + 1)), 0);
  picture = picture.mirrored();
  std::vector<BYTE> rows(size_t(width) * 3 * height);
  for (int y = 0; y < height; ++y)
    std::memcpy(rows.data() + size_t(y) * width * 3, picture.constScanLine(y), size_t(width) * 3);
  return rows;
}

/**
 * @brief An MPEG-2 program stream (MPEG-2 video, 352x288, 25 frames a second, every frame a key
 * frame) of numbered pictures, made at the encoder's pace and handed out as bytes.
 */
class ProgramStreamMaker {
 public:
  static constexpr int kWidth = 352, kHeight = 288;
  static constexpr REFERENCE_TIME kInterval = 400000;

  ~ProgramStreamMaker() { Close(); }
  HRESULT Fill(IMediaSample* sample) {
    if (!muxer_ && FAILED(Open())) return E_FAIL;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const size_t capacity = static_cast<size_t>(sample->GetSize());
    while (bytes_.empty()) {
      std::this_thread::sleep_until(next_);
      next_ += std::chrono::microseconds(kInterval / 10);
      const std::vector<BYTE> rows = CodedRows(kWidth, kHeight, frame_);
      HRESULT hr = encoder_.Encode(rows.data(), static_cast<LONG>(rows.size()), frame_,
                                   [&](const AVPacket& coded) { return Mux(coded); }, true);
      if (FAILED(hr)) return hr;
      ++frame_;
      avio_flush(muxer_->pb);
    }
    const size_t n = std::min(capacity, bytes_.size());
    std::copy_n(bytes_.begin(), n, data);
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n));
    sample->SetActualDataLength(static_cast<LONG>(n));
    return S_OK;
  }
  void Close() {
    if (muxer_) {
      if (muxer_->pb) {
        av_freep(&muxer_->pb->buffer);
        avio_context_free(&muxer_->pb);
      }
      avformat_free_context(muxer_);
      muxer_ = nullptr;
    }
    encoder_.Close();
    bytes_.clear();
    frame_ = 0;
  }

 private:
  HRESULT Open() {
    CMediaType rgb = MakeCapabilityType({MEDIASUBTYPE_RGB24, 0, 24, kWidth, kHeight, {}}, kInterval);
    VideoEncoderSettings settings;
    settings.codec = AV_CODEC_ID_MPEG2VIDEO;
    settings.frameTime = kInterval;
    settings.keyFrameRate = 1;
    settings.bitRate = 4'000'000;
    if (FAILED(encoder_.Open(rgb, settings))) return E_FAIL;
    if (avformat_alloc_output_context2(&muxer_, nullptr, "vob", nullptr) < 0 || !muxer_) return E_FAIL;
    AVStream* stream = avformat_new_stream(muxer_, nullptr);
    if (!stream || avcodec_parameters_from_context(stream->codecpar, encoder_.Context()) < 0) return E_FAIL;
    stream->time_base = encoder_.Context()->time_base;
    constexpr int kBlock = 4096;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBlock));
    muxer_->pb = buffer ? avio_alloc_context(buffer, kBlock, 1, this, nullptr, &ProgramStreamMaker::Write, nullptr) : nullptr;
    if (!muxer_->pb) {
      av_free(buffer);
      return E_FAIL;
    }
    if (avformat_write_header(muxer_, nullptr) < 0) return E_FAIL;
    next_ = std::chrono::steady_clock::now();
    return S_OK;
  }
  HRESULT Mux(const AVPacket& coded) {
    AVPacket* packet = av_packet_clone(&coded);
    if (!packet) return E_OUTOFMEMORY;
    packet->stream_index = 0;
    av_packet_rescale_ts(packet, encoder_.Context()->time_base, muxer_->streams[0]->time_base);
    const int result = av_interleaved_write_frame(muxer_, packet);
    av_packet_free(&packet);
    return result < 0 ? E_FAIL : S_OK;
  }
  static int Write(void* opaque, uint8_t* data, int size) {
    auto* self = static_cast<ProgramStreamMaker*>(opaque);
    self->bytes_.insert(self->bytes_.end(), data, data + size);
    return size;
  }

  VideoEncoder encoder_;
  AVFormatContext* muxer_ = nullptr;
  std::deque<BYTE> bytes_;
  int64_t frame_ = 0;
  std::chrono::steady_clock::time_point next_;
};

class CDvVideoPin final : public CVideoCapturePin {
 public:
  CDvVideoPin(CBaseFilter* filter, std::recursive_mutex* lock)
      : CVideoCapturePin("DV video pin", filter, lock, kDvVideoPinName, PIN_CATEGORY_CAPTURE) {
    SetCapabilities({PalDvCapability()}, 0, kPalDv.frameInterval);
  }
  HRESULT FillBuffer(IMediaSample* sample) override { return frames_.Fill(sample); }
  HRESULT OnThreadStart() override {
    frames_.Restart();
    return S_OK;
  }

 protected:
  LONG FrameBufferSize() override { return static_cast<LONG>(kPalDv.frameSize); }

 private:
  DvFrameMaker frames_;
};

// Interleaved DV: its one type is `iavs` dvsd with the frame's packs; its stream capabilities
// describe the DV picture, as a camcorder's driver reports them.
class CDvInterleavedPin final : public CVideoCapturePin {
 public:
  CDvInterleavedPin(CBaseFilter* filter, std::recursive_mutex* lock)
      : CVideoCapturePin("DV interleaved pin", filter, lock, kDvInterleavedPinName, PIN_CATEGORY_CAPTURE) {
    SetCapabilities({PalDvCapability()}, 0, kPalDv.frameInterval);
  }
  HRESULT CheckMediaType(const CMediaType* type) override {
    return type->majortype == MEDIATYPE_Interleaved && type->subtype == MEDIASUBTYPE_dvsd ? S_OK
                                                                                        : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int position, CMediaType* type) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    *type = sources::MakeInterleavedDvType(DVINFO{}, kPalDv);
    return S_OK;
  }
  HRESULT SetMediaType(const CMediaType* type) override { return CBasePin::SetMediaType(type); }
  HRESULT FillBuffer(IMediaSample* sample) override { return frames_.Fill(sample); }
  HRESULT OnThreadStart() override {
    frames_.Restart();
    return S_OK;
  }

 protected:
  LONG FrameBufferSize() override { return static_cast<LONG>(kPalDv.frameSize); }

 private:
  DvFrameMaker frames_;
};

class CDvCamcorder final : public CDeviceFilter {
 public:
  explicit CDvCamcorder(IUnknown* outer)
      : CDeviceFilter("DV camcorder", outer, CLSID_FixtureDvCamcorder), interleaved_(this, &filterLock_),
        video_(this, &filterLock_) {}
  bool IsLiveSource() const override { return true; }
  int GetPinCount() override { return 2; }
  CBasePin* GetPin(int n) override { return n == 0 ? static_cast<CBasePin*>(&interleaved_) : n == 1 ? &video_ : nullptr; }

 private:
  CDvInterleavedPin interleaved_;
  CDvVideoPin video_;
};

class CProgramStreamPin final : public CPushPin {
 public:
  CProgramStreamPin(CBaseFilter* filter, std::recursive_mutex* lock)
      : CPushPin("program stream pin", filter, lock, u"MPEG-2 PS Out") {}
  HRESULT CheckMediaType(const CMediaType* type) override {
    return type->majortype == MEDIATYPE_Stream && type->subtype == MEDIASUBTYPE_MPEG2_PROGRAM ? S_OK
                                                                                              : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int position, CMediaType* type) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    type->SetType(MEDIATYPE_Stream);
    type->SetSubtype(MEDIASUBTYPE_MPEG2_PROGRAM);
    type->SetFormatType(FORMAT_None);
    return S_OK;
  }
  HRESULT FillBuffer(IMediaSample* sample) override { return stream_.Fill(sample); }
  HRESULT OnThreadStart() override {
    stream_.Close();
    return S_OK;
  }

 protected:
  LONG FrameBufferSize() override { return 65536; }

 private:
  ProgramStreamMaker stream_;
};

class CProgramStreamDevice final : public CDeviceFilter {
 public:
  explicit CProgramStreamDevice(IUnknown* outer)
      : CDeviceFilter("program stream device", outer, CLSID_FixtureProgramStream), pin_(this, &filterLock_) {}
  bool IsLiveSource() const override { return true; }
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }

 private:
  CProgramStreamPin pin_;
};
}  // namespace

com::CUnknown* CreateDvCamcorder(com::IUnknown* outer, HRESULT* hr) { return Create<CDvCamcorder>(outer, hr); }
com::CUnknown* CreateProgramStreamDevice(com::IUnknown* outer, HRESULT* hr) {
  return Create<CProgramStreamDevice>(outer, hr);
}

DeviceEntry FixtureEntry(const char16_t* name, const char* path, REFCLSID clsid, com::NewComObjectFunction create) {
  DeviceEntry e;
  e.friendlyName = QString::fromUtf16(name);
  e.devicePath = QString::fromLatin1(path);
  e.displayName = QStringLiteral("@device:pnp:") + e.devicePath;
  e.clsid = clsid;
  e.create = [create](REFIID iid, void** object) {
    HRESULT hr = S_OK;
    com::CUnknown* made = create(nullptr, &hr);
    if (!made) return FAILED(hr) ? hr : E_OUTOFMEMORY;
    made->NonDelegatingAddRef();
    hr = made->NonDelegatingQueryInterface(iid, object);
    made->NonDelegatingRelease();
    return hr;
  };
  return e;
}

FixtureDevices::FixtureDevices() {
  cookie_ = AddDeviceProvider([this](REFCLSID category) {
    std::vector<DeviceEntry> result;
    for (const Listed& d : devices_)
      if (d.category == category) result.push_back(d.entry);
    return result;
  });
}

FixtureDevices::~FixtureDevices() { RemoveDeviceProvider(cookie_); }

void FixtureDevices::Add(REFCLSID category, DeviceEntry entry) { devices_.push_back({category, std::move(entry)}); }

void FixtureDevices::AddSecondCameraAndMicrophone() {
  Add(CLSID_VideoInputDeviceCategory,
      FixtureEntry(kSecondCameraName, "kestrom:fixture-camera", CLSID_FixtureCamera, &CreateTestCamera));
  Add(CLSID_AudioInputDeviceCategory,
      FixtureEntry(kSecondMicrophoneName, "kestrom:fixture-camera#audio", CLSID_FixtureMicrophone, &CreateTestMicrophone));
}

void FixtureDevices::AddDvCamcorder() {
  Add(CLSID_VideoInputDeviceCategory,
      FixtureEntry(kDvCamcorderName, "kestrom:fixture-dv", CLSID_FixtureDvCamcorder, &CreateDvCamcorder));
}

void FixtureDevices::AddProgramStreamDevice() {
  Add(CLSID_VideoInputDeviceCategory, FixtureEntry(kProgramStreamDeviceName, "kestrom:fixture-mpeg2",
                                                   CLSID_FixtureProgramStream, &CreateProgramStreamDevice));
}

namespace {
bool IsAudioConnector(LONG type) { return type >= PhysConn_Audio_Tuner; }
}  // namespace

CTableCrossbar::CTableCrossbar(std::vector<CrossbarPinRow> inputs, std::vector<CrossbarPinRow> outputs)
    : CBaseFilter("table crossbar", nullptr, &lock_, GUID_NULL), inputRows_(std::move(inputs)),
      outputRows_(std::move(outputs)) {
  auto major = [](const CrossbarPinRow& row) { return IsAudioConnector(row.physicalType) ? MEDIATYPE_AnalogAudio : MEDIATYPE_AnalogVideo; };
  for (const CrossbarPinRow& row : inputRows_)
    pins_.push_back(std::make_unique<CAnalogInputPin>(this, &lock_, row.name.c_str(), major(row), row.medium));
  for (const CrossbarPinRow& row : outputRows_) {
    pins_.push_back(std::make_unique<CAnalogOutputPin>(this, &lock_, row.name.c_str(), major(row), row.medium));
    LONG routed = -1;
    for (LONG i = 0; i < static_cast<LONG>(inputRows_.size()) && routed < 0; ++i)
      if (IsAudioConnector(inputRows_[i].physicalType) == IsAudioConnector(row.physicalType)) routed = i;
    routes_.push_back(routed);
  }
}

CTableCrossbar::~CTableCrossbar() = default;

HRESULT CTableCrossbar::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IAMCrossbar) return GetInterface(static_cast<IAMCrossbar*>(this), object);
  return CBaseFilter::NonDelegatingQueryInterface(iid, object);
}

int CTableCrossbar::GetPinCount() { return static_cast<int>(pins_.size()); }

CBasePin* CTableCrossbar::GetPin(int n) {
  return n >= 0 && n < GetPinCount() ? pins_[static_cast<size_t>(n)].get() : nullptr;
}

IPin* CTableCrossbar::Input(int index) { return GetPin(index); }

IPin* CTableCrossbar::Output(int index) {
  return index >= 0 ? GetPin(static_cast<int>(inputRows_.size()) + index) : nullptr;
}

HRESULT CTableCrossbar::get_PinCounts(LONG* outputs, LONG* inputs) {
  if (!outputs || !inputs) return E_POINTER;
  *outputs = static_cast<LONG>(outputRows_.size());
  *inputs = static_cast<LONG>(inputRows_.size());
  return S_OK;
}

HRESULT CTableCrossbar::CanRoute(LONG output, LONG input) {
  if (output < 0 || output >= static_cast<LONG>(outputRows_.size()) || input < -1 ||
      input >= static_cast<LONG>(inputRows_.size()))
    return E_INVALIDARG;
  if (input == -1) return S_OK;
  return IsAudioConnector(inputRows_[input].physicalType) == IsAudioConnector(outputRows_[output].physicalType)
             ? S_OK
             : S_FALSE;
}

HRESULT CTableCrossbar::Route(LONG output, LONG input) {
  const HRESULT can = CanRoute(output, input);
  if (can != S_OK) return FAILED(can) ? can : E_FAIL;
  std::lock_guard lock(lock_);
  routes_[static_cast<size_t>(output)] = input;
  return S_OK;
}

HRESULT CTableCrossbar::get_IsRoutedTo(LONG output, LONG* input) {
  if (!input) return E_POINTER;
  if (output < 0 || output >= static_cast<LONG>(outputRows_.size())) return E_INVALIDARG;
  std::lock_guard lock(lock_);
  *input = routes_[static_cast<size_t>(output)];
  return S_OK;
}

HRESULT CTableCrossbar::get_CrossbarPinInfo(BOOL isInput, LONG index, LONG* relatedIndex, LONG* physicalType) {
  if (!relatedIndex || !physicalType) return E_POINTER;
  const std::vector<CrossbarPinRow>& rows = isInput ? inputRows_ : outputRows_;
  if (index < 0 || index >= static_cast<LONG>(rows.size())) return E_INVALIDARG;
  *relatedIndex = rows[static_cast<size_t>(index)].related;
  *physicalType = rows[static_cast<size_t>(index)].physicalType;
  return S_OK;
}

}  // namespace kestrom::dshow::test
