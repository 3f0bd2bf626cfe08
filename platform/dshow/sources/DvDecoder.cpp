#include "platform/dshow/sources/DvDecoder.h"

#include "platform/com/ComPtr.h"
#include "platform/dshow/base/TransformFilter.h"
#include "platform/dshow/sources/Decoders.h"
#include "platform/dshow/sources/DvFormat.h"
#include "platform/dshow/sources/DvMpegInterfaces.h"
#include "platform/dshow/sources/GraphInterfaces.h"
#include "platform/dshow/sources/StreamTypes.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

namespace kestrom::dshow {

using namespace com;
using namespace sources;

namespace {

const GUID* const kOutputs[] = {&MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_YUY2};

/** @brief The picture size of a display resolution for a full frame of width x height. */
void DisplaySize(int resolution, LONG width, LONG height, LONG* w, LONG* h) {
  switch (resolution) {
    case DVRESOLUTION_FULL: *w = width, *h = height; break;
    case DVRESOLUTION_QUARTER: *w = width / 4, *h = height / 4; break;
    // One pixel per 8x8 block, less the blocks the format leaves at the right edge.
    case DVRESOLUTION_DC: *w = 88, *h = height / 8; break;
    default: *w = width / 2, *h = height / 2; break;
  }
}

class CDvDecoder final : public CTransformFilter, public IIPDVDec, public IDVRGB219 {
 public:
  explicit CDvDecoder(IUnknown* outer) : CTransformFilter("DV video decoder", outer, CLSID_DVVideoCodec) {}
  ~CDvDecoder() override { CloseCodec(); }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IIPDVDec) return GetInterface(static_cast<IIPDVDec*>(this), object);
    if (iid == IID_IDVRGB219) return GetInterface(static_cast<IDVRGB219*>(this), object);
    return CTransformFilter::NonDelegatingQueryInterface(iid, object);
  }

  // ---- IIPDVDec ----

  HRESULT get_IPDisplay(int* displayPix) override {
    if (!displayPix) return E_POINTER;
    *displayPix = resolution_;
    return S_OK;
  }

  HRESULT put_IPDisplay(int displayPix) override {
    if (displayPix < DVRESOLUTION_FULL || displayPix > DVRESOLUTION_DC) return E_INVALIDARG;
    std::lock_guard lock(filterLock_);
    if (displayPix == resolution_) return S_OK;
    CTransformOutputPin* out = OutputPin();
    if (!out || !out->IsConnected()) {
      resolution_ = displayPix;
      return S_OK;
    }
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    // The output is connected again at the new size; when the other end refuses it, the old
    // size and connection stay.
    ComPtr<IPin> peer(out->GetConnected());
    const int old = resolution_;
    resolution_ = displayPix;
    HRESULT hr = Reconnect(out, peer.Get());
    if (FAILED(hr)) {
      resolution_ = old;
      Reconnect(out, peer.Get());
    }
    return hr;
  }

  // ---- IDVRGB219 ----

  HRESULT SetRGB219(BOOL state) override {
    rgb219_ = state != 0;
    return S_OK;
  }

  // ---- transform ----

  HRESULT CheckInputType(const CMediaType* type) override {
    if (!type || !IsDvType(*type)) return VFW_E_TYPE_NOT_ACCEPTED;
    return type->majortype == MEDIATYPE_Video && !GetBitmapInfoHeader(*type) ? VFW_E_TYPE_NOT_ACCEPTED : S_OK;
  }

  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
    const BITMAPINFOHEADER* h = GetBitmapInfoHeader(*out);
    if (!h || !(out->majortype == MEDIATYPE_Video) ||
        std::none_of(std::begin(kOutputs), std::end(kOutputs), [&](const GUID* g) { return *g == out->subtype; }))
      return VFW_E_TYPE_NOT_ACCEPTED;
    if (h->biHeight < 0 && out->subtype == MEDIASUBTYPE_YUY2) return VFW_E_TYPE_NOT_ACCEPTED;
    LONG w = 0, rows = 0;
    const DvGeometry g = DvGeometryOfType(*in);
    DisplaySize(resolution_, g.width, g.height, &w, &rows);
    return h->biWidth == w && std::abs(h->biHeight) == rows ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT GetMediaType(int position, CMediaType* type) override {
    if (position < 0) return E_INVALIDARG;
    if (position >= static_cast<int>(std::size(kOutputs))) return VFW_S_NO_MORE_ITEMS;
    const DvGeometry g = DvGeometryOfType(InputPin()->CurrentMediaType());
    LONG w = 0, rows = 0;
    DisplaySize(resolution_, g.width, g.height, &w, &rows);
    *type = MakeUncompressedType(*kOutputs[position], w, rows, g.frameInterval);
    return S_OK;
  }

  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    const LONG bytes = static_cast<LONG>(UncompressedSize(OutputPin()->CurrentMediaType()));
    if (bytes <= 0) return E_UNEXPECTED;
    request->cBuffers = std::max<LONG>(request->cBuffers, 3);
    request->cbBuffer = std::max(request->cbBuffer, bytes);
    if (request->cbAlign <= 0) request->cbAlign = 1;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < bytes ? E_FAIL : S_OK;
  }

  HRESULT StartStreaming() override {
    CloseCodec();
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_DVVIDEO);
    codec_ = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!codec_) return E_OUTOFMEMORY;
    const DvGeometry g = DvGeometryOfType(InputPin()->CurrentMediaType());
    codec_->width = g.width;
    codec_->height = g.height;
    // Slices of one frame in parallel; frame threading would hold pictures back.
    codec_->thread_count = 0;
    codec_->thread_type = FF_THREAD_SLICE;
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (avcodec_open2(codec_, codec, nullptr) < 0 || !frame_ || !packet_) {
      CloseCodec();
      return E_FAIL;
    }
    return S_OK;
  }

  HRESULT StopStreaming() override {
    CloseCodec();
    return S_OK;
  }

  HRESULT Transform(IMediaSample* in, IMediaSample* out) override {
    if (!codec_) return VFW_E_WRONG_STATE;
    BYTE* data = nullptr;
    in->GetPointer(&data);
    const LONG length = in->GetActualDataLength();
    if (!data || length <= 0 || av_new_packet(packet_, length) < 0) return S_FALSE;
    std::memcpy(packet_->data, data, static_cast<size_t>(length));
    const int sent = avcodec_send_packet(codec_, packet_);
    av_packet_unref(packet_);
    // Every DV frame stands alone: a damaged one is left out and the stream goes on.
    if (sent < 0 || avcodec_receive_frame(codec_, frame_) < 0) return S_FALSE;
    BYTE* target = nullptr;
    out->GetPointer(&target);
    const CMediaType& type = OutputPin()->CurrentMediaType();
    const bool ok = ConvertPicture(frame_, type, target, static_cast<size_t>(out->GetSize()), scaler_);
    av_frame_unref(frame_);
    if (!ok) return S_FALSE;
    const size_t bytes = UncompressedSize(type);
    if (rgb219_ && !(type.subtype == MEDIASUBTYPE_YUY2)) ToStudioRange(target, bytes);
    out->SetActualDataLength(static_cast<LONG>(bytes));
    out->SetSyncPoint(1);
    return S_OK;
  }

 private:
  HRESULT Reconnect(IPin* out, IPin* peer) {
    if (graph_) {
      graph_->Disconnect(out);
      graph_->Disconnect(peer);
      return graph_->ConnectDirect(out, peer, nullptr);
    }
    out->Disconnect();
    peer->Disconnect();
    return out->Connect(peer, nullptr);
  }

  // Studio RGB: 0..255 becomes 16..235 (219 steps).
  static void ToStudioRange(BYTE* bytes, size_t size) {
    static const std::array<BYTE, 256> table = [] {
      std::array<BYTE, 256> t{};
      for (int i = 0; i < 256; ++i) t[static_cast<size_t>(i)] = static_cast<BYTE>(16 + (i * 219 + 127) / 255);
      return t;
    }();
    for (size_t i = 0; i < size; ++i) bytes[i] = table[bytes[i]];
  }

  void CloseCodec() {
    avcodec_free_context(&codec_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    scaler_.Reset();
  }

  // Full size until asked otherwise: a coach analyses every pixel of a clip.
  int resolution_ = DVRESOLUTION_FULL;
  std::atomic<bool> rgb219_{false};
  AVCodecContext* codec_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  media::PictureScaler scaler_;
};

}  // namespace

CUnknown* CreateDvDecoder(IUnknown* outer, HRESULT* hr) {
  auto* f = new (std::nothrow) CDvDecoder(outer);
  if (!f && hr) *hr = E_OUTOFMEMORY;
  return f;
}

}  // namespace kestrom::dshow
