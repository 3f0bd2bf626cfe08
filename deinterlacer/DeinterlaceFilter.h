#pragma once
// The deinterlacing filter: takes 24-bit or 32-bit RGB video and delivers one field of each frame
// at half width and half height.

#include "deinterlacer/DeinterlaceSettings.h"
#include "platform/dshow/base/ServerModule.h"
#include "platform/dshow/base/TransformFilter.h"

#include <atomic>

namespace kestrom::deinterlacer {

using namespace kestrom::dshow;
using com::HRESULT;

/** @brief The registered name of the filter, also the name of each filter object. */
inline constexpr char16_t kFilterName[] = u"Brightfold Deinterlacer";

/** @brief Counts this module's filter objects and factories and its server locks. */
com::ModuleRefCount& DeinterlacerModule();

/** @brief The module's factory table: one template, the deinterlacer. */
extern const CFactoryTemplate g_Templates[];
extern const int g_cTemplates;

class CDeinterlaceFilter final : public CVideoTransformFilter {
 public:
  static com::CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

  explicit CDeinterlaceFilter(IUnknown* outer);
  ~CDeinterlaceFilter() override;

  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  HRESULT CheckInputType(const CMediaType* type) override;
  virtual HRESULT CheckOutputType(const CMediaType* type);
  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override;
  HRESULT GetMediaType(int position, CMediaType* type) override;
  HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* type) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
  HRESULT Transform(IMediaSample* in, IMediaSample* out) override;
  HRESULT CopySampleProperties(IMediaSample* in, IMediaSample* out);

  /** @brief The test shared by both sides: video, RGB24 or RGB32, bit count of the remembered depth. */
  HRESULT CheckVideoType(const CMediaType* type);

  int RememberedDepth() const { return depth_; }
  const CMediaType& OutputMediaType() const { return outputType_; }

 private:
  class CSettings final : public IDeinterlaceSettings {
   public:
    explicit CSettings(CDeinterlaceFilter& filter) : filter_(filter) {}
    HRESULT QueryInterface(REFIID iid, void** object) override { return filter_.GetOwner()->QueryInterface(iid, object); }
    com::ULONG AddRef() override { return filter_.GetOwner()->AddRef(); }
    com::ULONG Release() override { return filter_.GetOwner()->Release(); }
    HRESULT GetPhases(int32_t* rowPhase, int32_t* pixelPhase) override;
    HRESULT SetPhases(int32_t rowPhase, int32_t pixelPhase) override;

   private:
    CDeinterlaceFilter& filter_;
  };

  /** @brief Fills a bitmap header of the output image. */
  void FillOutputHeader(BITMAPINFOHEADER& header) const;
  LONG OutputHeightSigned() const { return topDown_ ? -outHeight_ : outHeight_; }
  DWORD OutputImageSize() const { return static_cast<DWORD>(outStride_) * static_cast<DWORD>(outHeight_); }

  com::ModuleObject moduleObject_;
  CSettings settings_;
  CMediaType outputType_;
  LONG width_ = 0, height_ = 0, outWidth_ = 0, outHeight_ = 0;
  bool topDown_ = false;  // the input's height was negative
  WORD planes_ = 0;
  DWORD compression_ = 0;
  LONG xPelsPerMeter_ = 0, yPelsPerMeter_ = 0;
  DWORD clrUsed_ = 0, clrImportant_ = 0;
  LONG inStride_ = 0, outStride_ = 0;
  // Set from any thread through the settings interface; read once per sample on the streaming thread.
  std::atomic<int32_t> rowPhase_{0};
  std::atomic<int32_t> pixelPhase_{0};
  int depth_ = 0;
  bool videoInfo2_ = false;
  REFERENCE_TIME avgTimePerFrame_ = 0;
};

}  // namespace kestrom::deinterlacer
