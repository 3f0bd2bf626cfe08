#pragma once
// Filters for graph tests: a source that offers one video type and delivers given frames, a
// renderer that accepts what a predicate allows and keeps the last frame, and a converter that
// halves the size of RGB24 video (registered with normal merit for automatic connection).

#include "platform/com/ClassFactory.h"
#include "platform/com/ComPtr.h"
#include "platform/dshow/base/BaseFilter.h"
#include "platform/dshow/base/TransformFilter.h"

#include <functional>
#include <memory>
#include <vector>

namespace kestrom::dshow::test {

inline constexpr CLSID CLSID_TestHalfScaler = com::MakeGuid("{5E0C8E61-7C0B-4F2A-9E49-3F0D2C6B1A01}");

class CTestSource final : public CBaseFilter {
 public:
  explicit CTestSource(const CMediaType& offered);
  ~CTestSource() override;

  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override;

  /** @brief Delivers one frame with the given times; returns what the downstream pin answered. */
  HRESULT DeliverFrame(const std::vector<uint8_t>& bytes, REFERENCE_TIME start, REFERENCE_TIME stop);
  IPin* Output();

 private:
  class Pin;
  std::recursive_mutex lock_;
  std::unique_ptr<Pin> pin_;
};

class CTestRenderer final : public CBaseFilter {
 public:
  using Accept = std::function<bool(const CMediaType&)>;
  explicit CTestRenderer(Accept accept);
  ~CTestRenderer() override;

  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override;
  IPin* Input();

  std::vector<uint8_t> lastFrame;
  CMediaType lastType;
  REFERENCE_TIME lastStart = -1, lastStop = -1;
  int received = 0;

 private:
  class Pin;
  std::recursive_mutex lock_;
  std::unique_ptr<Pin> pin_;
};

/** @brief RGB24 in, RGB24 at half width and height out. */
class CTestHalfScaler final : public CTransformFilter {
 public:
  explicit CTestHalfScaler(IUnknown* outer);
  static com::CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

  HRESULT CheckInputType(const CMediaType* type) override;
  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
  HRESULT GetMediaType(int position, CMediaType* type) override;
  HRESULT Transform(IMediaSample* in, IMediaSample* out) override;
};

/** @brief Makes a filter object held by a ComPtr (one reference). */
template <typename T, typename... Args>
com::ComPtr<T> MakeFilter(Args&&... args) {
  T* filter = new T(std::forward<Args>(args)...);
  filter->NonDelegatingAddRef();
  return com::ComPtr<T>::Attach(filter);
}

/** @brief Registers a class in this process for as long as it lives. */
class InProcessClass {
 public:
  InProcessClass(REFCLSID clsid, com::NewComObjectFunction create);
  ~InProcessClass();

 private:
  DWORD cookie_ = 0;
};

/** @brief Registers a filter with the filter mapper (pins of one RGB24 video type). */
HRESULT RegisterRgb24Filter(REFCLSID clsid, const char16_t* name, DWORD merit);

/** @brief The filters of a graph, by their names. */
std::vector<std::u16string> FilterNames(IFilterGraph* graph);

/** @brief A frame whose pixel (x, y) holds x and y in its bytes, for checking which pixels were kept. */
std::vector<uint8_t> CoordinateFrame(int bitCount, int width, int height);

}  // namespace kestrom::dshow::test
