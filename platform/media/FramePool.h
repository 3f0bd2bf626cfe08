#pragma once
// Picture buffers for the decoder, carved from memory mapped and populated in slabs and reused
// when released. The frame cache grows by hundreds of pictures; touching fresh memory one page at
// a time costs far more than the decode itself on some machines, so slabs are populated whole.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

struct AVBufferRef;

namespace kestrom::media {

class FramePool : public std::enable_shared_from_this<FramePool> {
 public:
  explicit FramePool(size_t bufferSize) : size_(bufferSize) {}
  ~FramePool();
  FramePool(const FramePool&) = delete;
  FramePool& operator=(const FramePool&) = delete;

  size_t BufferSize() const { return size_; }
  /** @brief A buffer of BufferSize() bytes; it keeps the pool alive until it is released. */
  AVBufferRef* Get();

 private:
  static void Release(void* opaque, uint8_t* data);
  size_t size_;
  std::mutex mutex_;
  std::vector<std::pair<void*, size_t>> slabs_;
  std::vector<uint8_t*> free_;
};

}  // namespace kestrom::media
