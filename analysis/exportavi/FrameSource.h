#pragma once
// The export program's source filter: delivers the frame files Sample101.bmp, Sample102.bmp, ...
// of a folder, in the order of their numbers, as uncompressed RGB32 video at a fixed rate. It is
// not live: the graph pulls frames as fast as the encoder takes them. A missing, unreadable or
// differently sized frame aborts the stream (EC_ERRORABORT) and Error() says which and why.

#include "platform/com/ComPtr.h"
#include "platform/dshow/base/SourceFilter.h"

#include <QString>
#include <atomic>
#include <mutex>

namespace kestrom::exportavi {

class CExportFrameSource final : public dshow::CSource {
 public:
  /** @brief count frames of width x height from folder, one every frameTime (100 ns units). */
  CExportFrameSource(const QString& folder, int count, int width, int height, dshow::REFERENCE_TIME frameTime);
  ~CExportFrameSource() override;

  dshow::IPin* Output();
  /** @brief Frames delivered so far (any thread). */
  int Delivered() const { return delivered_.load(); }
  /** @brief Why the stream stopped early; empty while it has not. */
  QString Error() const;

 private:
  class Pin;
  friend class Pin;
  void SetError(const QString& error);

  Pin* pin_ = nullptr;
  std::atomic<int> delivered_{0};
  mutable std::mutex errorMutex_;
  QString error_;
};

}  // namespace kestrom::exportavi
