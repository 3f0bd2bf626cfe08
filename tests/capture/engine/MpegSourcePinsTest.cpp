// The source pins of the MPEG devices that need outside filters: a PVR card whose own encoder
// makes the recorded stream, and a transport-stream device previewed through the outside
// transport filter and video decoder. The devices and filters are small stand-ins that hand on
// the test camera's numbered pictures.
#include "LiveGraphFixture.h"

#include "capture/engine/FK.h"
#include "platform/com/ClassFactory.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/base/MediaType.h"
#include "platform/dshow/base/TransformFilter.h"
#include "platform/dshow/sources/CapturePin.h"
#include "platform/dshow/sources/DeviceFilter.h"
#include "platform/dshow/sources/DvMpegInterfaces.h"
#include "platform/dshow/sources/PushPin.h"
#include "platform/dshow/writers/VideoRenderer.h"
#include "tests/platform/dshow/support/FixtureDevices.h"
#include "tests/platform/dshow/support/TestFilters.h"
#include "tools/FrameCode.h"

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QThread>
#include <cstring>

namespace kestrom::engine::test {

using com::ComPtr;
using namespace dshow;
using com::E_INVALIDARG;
using com::S_FALSE;
using com::S_OK;
using com::VFW_E_TYPE_NOT_ACCEPTED;
using com::VFW_S_NO_MORE_ITEMS;

namespace {

constexpr LONG kWidth = 160, kHeight = 120;
constexpr REFERENCE_TIME kInterval = 400000;
constexpr LONG kFrameBytes = kWidth * kHeight * 3;

constexpr CLSID CLSID_FixturePvrCard = com::MakeGuid("{6A2D4E10-3C5B-4F7A-8D19-2E4B6C8A0F11}");
constexpr CLSID CLSID_FixturePvrEncoder = com::MakeGuid("{6A2D4E10-3C5B-4F7A-8D19-2E4B6C8A0F12}");
constexpr CLSID CLSID_FixtureTransportDevice = com::MakeGuid("{6A2D4E10-3C5B-4F7A-8D19-2E4B6C8A0F13}");
// The outside MPEG-2 filters the engine asks for by class id.
constexpr CLSID CLSID_OutsideTransport = com::MakeGuid("{FBE18D61-BF69-11D2-BAAA-00A024D857B2}");
constexpr CLSID CLSID_OutsideDecoder = com::MakeGuid("{81C81A03-D68F-4598-9827-051D9B5CB891}");
constexpr CLSID CLSID_OutsideDecoderFallback = com::MakeGuid("{30146000-87BF-11D1-BE74-C94E44925F69}");
constexpr CLSID kEncoderCategory = com::MakeGuid("{19689BF6-C384-48FD-AD51-90E58C79F70B}");

constexpr const char16_t* kPvrCardName = u"Kestrom Hauppauge PVR Fixture";
constexpr const char16_t* kTransportDeviceName = u"Kestrom Fixture Transport Stream";

/** @brief A numbered picture as bottom-up BGR rows. */
void PaintFrame(BYTE* out, int64_t frame) {
  QImage picture(kWidth, kHeight, QImage::Format_BGR888);
  tools::PaintCodedFrame(picture, static_cast<int>(frame % (tools::kMaxFrameCode + 1)), 0);
  for (int y = 0; y < kHeight; ++y)
    std::memcpy(out + size_t(y) * kWidth * 3, picture.constScanLine(kHeight - 1 - y), size_t(kWidth) * 3);
}

int CodeOfFrame(const BYTE* rows) {
  QImage picture(kWidth, kHeight, QImage::Format_BGR888);
  for (int y = 0; y < kHeight; ++y)
    std::memcpy(picture.scanLine(kHeight - 1 - y), rows + size_t(y) * kWidth * 3, size_t(kWidth) * 3);
  return tools::ReadFrameCode(picture);
}

/** @brief The card's "656" pin: numbered RGB24 pictures at 25 a second. */
class C656Pin final : public CVideoCapturePin {
 public:
  C656Pin(CBaseFilter* filter, std::recursive_mutex* lock)
      : CVideoCapturePin("656 pin", filter, lock, u"656", PIN_CATEGORY_CAPTURE) {
    SetCapabilities({{MEDIASUBTYPE_RGB24, 0, 24, kWidth, kHeight, {kInterval}}}, 0, kInterval);
  }
  HRESULT FillBuffer(IMediaSample* sample) override {
    if (!WaitUnlessStopped(std::chrono::microseconds(kInterval / 10))) return S_FALSE;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    PaintFrame(data, frame_);
    REFERENCE_TIME start = frame_ * kInterval, stop = start + kInterval;
    sample->SetTime(&start, &stop);
    sample->SetActualDataLength(kFrameBytes);
    ++frame_;
    return S_OK;
  }
  HRESULT OnThreadStart() override {
    frame_ = 0;
    return S_OK;
  }

 protected:
  LONG FrameBufferSize() override { return kFrameBytes; }

 private:
  int64_t frame_ = 0;
};

/** @brief A pin that offers one stream type and delivers a byte block per picture time. */
class CStreamPin final : public CPushPin {
 public:
  CStreamPin(CBaseFilter* filter, std::recursive_mutex* lock, LPCWSTR name, const GUID& subtype)
      : CPushPin("stream pin", filter, lock, name), subtype_(subtype) {}
  HRESULT CheckMediaType(const CMediaType* type) override {
    return type->majortype == MEDIATYPE_Stream && type->subtype == subtype_ ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int position, CMediaType* type) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    type->SetType(MEDIATYPE_Stream);
    type->SetSubtype(subtype_);
    type->SetFormatType(FORMAT_None);
    return S_OK;
  }
  HRESULT FillBuffer(IMediaSample* sample) override {
    if (!WaitUnlessStopped(std::chrono::microseconds(kInterval / 10))) return S_FALSE;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    std::memset(data, 0x47, 188);
    sample->SetActualDataLength(188);
    return S_OK;
  }

 protected:
  LONG FrameBufferSize() override { return 188; }

 private:
  GUID subtype_;
};

class CPvrCard final : public CDeviceFilter {
 public:
  explicit CPvrCard(IUnknown* outer)
      : CDeviceFilter("PVR card", outer, CLSID_FixturePvrCard), p656_(this, &filterLock_),
        capturer_(this, &filterLock_, u"Capturer", MEDIASUBTYPE_MPEG2_PROGRAM) {}
  bool IsLiveSource() const override { return true; }
  int GetPinCount() override { return 2; }
  CBasePin* GetPin(int n) override { return n == 0 ? static_cast<CBasePin*>(&p656_) : n == 1 ? &capturer_ : nullptr; }

 private:
  C656Pin p656_;
  CStreamPin capturer_;
};

class CTransportDevice final : public CDeviceFilter {
 public:
  explicit CTransportDevice(IUnknown* outer)
      : CDeviceFilter("transport device", outer, CLSID_FixtureTransportDevice),
        pin_(this, &filterLock_, u"MPEG-2 TS Out", MEDIASUBTYPE_MPEG2_TRANSPORT) {}
  bool IsLiveSource() const override { return true; }
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }

 private:
  CStreamPin pin_;
};

/**
 * @brief A one-in, one-out stand-in: takes the input type it is made for and gives either the
 * same bytes as a stream (the PVR encoder) or numbered RGB24 pictures (transport filter, decoders).
 */
class CStandIn final : public CTransformFilter {
 public:
  enum Role { Encoder, Transport, Decoder };
  CStandIn(IUnknown* outer, Role role, const CLSID& clsid) : CTransformFilter("stand-in", outer, clsid), role_(role) {}
  HRESULT CheckInputType(const CMediaType* type) override {
    switch (role_) {
      case Transport:
        return type->majortype == MEDIATYPE_Stream && type->subtype == MEDIASUBTYPE_MPEG2_TRANSPORT ? S_OK : S_FALSE;
      default:
        return type->majortype == MEDIATYPE_Video && type->subtype == MEDIASUBTYPE_RGB24 ? S_OK : S_FALSE;
    }
  }
  HRESULT CheckTransform(const CMediaType*, const CMediaType* out) override {
    CMediaType mine;
    GetMediaType(0, &mine);
    return out->majortype == mine.majortype && out->subtype == mine.subtype ? S_OK : S_FALSE;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    request->cBuffers = 2;
    request->cbBuffer = kFrameBytes;
    ALLOCATOR_PROPERTIES actual{};
    return allocator->SetProperties(request, &actual);
  }
  HRESULT GetMediaType(int position, CMediaType* type) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    if (role_ == Encoder) {
      type->SetType(MEDIATYPE_Stream);
      type->SetSubtype(MEDIASUBTYPE_MPEG2_PROGRAM);
      type->SetFormatType(FORMAT_None);
    } else {
      *type = MakeRgbVideoType(24, kWidth, kHeight, kInterval);
    }
    return S_OK;
  }
  HRESULT Transform(IMediaSample* in, IMediaSample* out) override {
    BYTE *from = nullptr, *to = nullptr;
    in->GetPointer(&from);
    out->GetPointer(&to);
    if (role_ == Transport) {
      PaintFrame(to, frame_++);
    } else {
      std::memcpy(to, from, size_t(std::min<LONG>(in->GetActualDataLength(), kFrameBytes)));
    }
    return out->SetActualDataLength(kFrameBytes);
  }

 private:
  Role role_;
  int64_t frame_ = 0;
};

template <CStandIn::Role role, const CLSID& clsid>
com::CUnknown* CreateStandIn(com::IUnknown* outer, HRESULT* hr) {
  if (hr) *hr = S_OK;
  return new CStandIn(outer, role, clsid);
}

template <typename T>
com::CUnknown* CreateDevice(com::IUnknown* outer, HRESULT* hr) {
  if (hr) *hr = S_OK;
  return new T(outer);
}

class MpegSourcePins : public LiveGraphTest {
 protected:
  static int DeviceIndex(const char16_t* name) {
    return VideoDeviceList()->IndexOfName(QString::fromUtf16(name) + " (WDM)");
  }
  static int Count(const QStringList& names, const char* pattern) {
    return int(names.filter(QRegularExpression(QString::fromLatin1(pattern))).size());
  }
};

}  // namespace

// Recorded as it comes, the PVR card's "656" pictures go through the card's encoder (found by
// name among the encoders) into the file; its sample-notify grabber counts them on the way.
TEST_F(MpegSourcePins, APvrCardRecordsThroughItsOwnEncoder) {
  dshow::test::FixtureDevices fixtures;
  fixtures.Add(dshow::CLSID_VideoInputDeviceCategory,
               dshow::test::FixtureEntry(kPvrCardName, "kestrom:fixture-pvr", CLSID_FixturePvrCard,
                                         &CreateDevice<CPvrCard>));
  fixtures.Add(kEncoderCategory, dshow::test::FixtureEntry(u"Kestrom PVR PCI II Encoder", "kestrom:fixture-pvr-encoder",
                                                           CLSID_FixturePvrEncoder,
                                                           &CreateStandIn<CStandIn::Encoder, CLSID_FixturePvrEncoder>));
  auto fk = Camera(false);
  fk->SetVideoDevice(DeviceIndex(kPvrCardName));
  ASSERT_TRUE(fk->IsHauppaugePvr());
  fk->SetVideoRenderer(vr_None);
  fk->SetRecordingInNativeFormat(true);
  ASSERT_TRUE(fk->StartRecording()) << ProcessLogLines().join("\n").toStdString();
  EXPECT_TRUE(fk->IsMpegSource());
  const QStringList names = FilterNames(*fk);
  EXPECT_EQ(Count(names, "^PVR PCI II Encoder\\d+$"), 1) << names.join(", ").toStdString();
  EXPECT_EQ(Count(names, "^GRB_Notify\\d+$"), 1);
  for (int i = 0; i < 500 && fk->FrameInfo().FrameNumber < 4; ++i) {
    QCoreApplication::processEvents();
    QThread::msleep(10);
  }
  fk->StopRecording();
  QFile file(fk->GetLastRecordedFile());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
  const QByteArray bytes = file.readAll();
  ASSERT_EQ(bytes.size() % kFrameBytes, 0);
  std::vector<int> codes;
  for (qsizetype at = 0; at < bytes.size(); at += kFrameBytes)
    codes.push_back(CodeOfFrame(reinterpret_cast<const BYTE*>(bytes.constData() + at)));
  ASSERT_GE(codes.size(), 4u);
  for (size_t i = 0; i < codes.size(); ++i) EXPECT_EQ(codes[i], int(i));
}

// A transport stream is previewed through the outside transport filter and then the first
// outside video decoder there is.
TEST_F(MpegSourcePins, ATransportStreamIsPreviewedThroughTheOutsideTransportFilterAndDecoder) {
  dshow::test::FixtureDevices fixtures;
  fixtures.Add(dshow::CLSID_VideoInputDeviceCategory,
               dshow::test::FixtureEntry(kTransportDeviceName, "kestrom:fixture-ts", CLSID_FixtureTransportDevice,
                                         &CreateDevice<CTransportDevice>));
  dshow::test::InProcessClass transport(CLSID_OutsideTransport,
                                        &CreateStandIn<CStandIn::Transport, CLSID_OutsideTransport>);
  dshow::test::InProcessClass fallback(CLSID_OutsideDecoderFallback,
                                       &CreateStandIn<CStandIn::Decoder, CLSID_OutsideDecoderFallback>);
  auto fk = Camera(false);
  fk->SetVideoDevice(DeviceIndex(kTransportDeviceName));
  for (const bool firstDecoder : {false, true}) {
    SCOPED_TRACE(firstDecoder ? "first decoder present" : "only the second decoder");
    std::unique_ptr<dshow::test::InProcessClass> decoder;
    if (firstDecoder)
      decoder = std::make_unique<dshow::test::InProcessClass>(CLSID_OutsideDecoder,
                                                             &CreateStandIn<CStandIn::Decoder, CLSID_OutsideDecoder>);
    ASSERT_TRUE(fk->StartPreview()) << ProcessLogLines().join("\n").toStdString();
    EXPECT_TRUE(fk->IsMpegSource());
    const QStringList names = FilterNames(*fk);
    EXPECT_EQ(Count(names, "^SnTS\\d+$"), 1) << names.join(", ").toStdString();
    EXPECT_EQ(Count(names, "^SnVDTN\\d+$"), firstDecoder ? 1 : 0);
    EXPECT_EQ(Count(names, "^SnVD\\d+$"), firstDecoder ? 0 : 1);
    auto* video = dynamic_cast<CVideoRenderer*>(fk->DisplayRecord(TFK::ds_Display).renderer.Get());
    ASSERT_NE(video, nullptr);
    for (int i = 0; i < 500 && video->FramesRendered() < 3; ++i) QThread::msleep(10);
    EXPECT_GE(video->FramesRendered(), 3);
    fk->StopPreview();
  }
}

}  // namespace kestrom::engine::test
