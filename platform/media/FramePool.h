#pragma once
// Picture buffers for the decoder, carved from memory mapped and populated in slabs and reused
// when released. The frame cache grows by hundreds of pictures; touching fresh memory costs far
// more than the decode itself on some machines, so released buffers are kept for the next
// pictures, and slabs go back to the system only when their owner gives memory up (ReleaseIdle),
// so the memory follows what the cache holds, not its peak.

#include <cstddef>
#include <cstdint>
#include <map>
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
  /** @brief Bytes mapped from the system now, in use or free. */
  size_t MappedBytes() const;
  /** @brief Hands the slabs no buffer is taken from back to the system, but for a few spare. */
  void ReleaseIdle();

 private:
  struct Slab {
    size_t bytes = 0;
    size_t count = 0;             // buffers carved from it
    std::vector<uint8_t*> free;   // those not in use, the last released last
    uint64_t released = 0;        // when one of its buffers came back last
  };
  static void Release(void* opaque, uint8_t* data);
  void Put(uint8_t* data);  // with mutex_ held

  size_t size_;
  mutable std::mutex mutex_;
  std::map<uint8_t*, Slab> slabs_;  // by base address
  size_t freeCount_ = 0;            // free buffers over all slabs
  size_t mapped_ = 0;
  uint64_t releases_ = 0;           // counts releases, to date them
};

}  // namespace kestrom::media
