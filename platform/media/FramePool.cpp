#include "platform/media/FramePool.h"

#include <sys/mman.h>

#include <algorithm>

extern "C" {
#include <libavutil/buffer.h>
}

namespace kestrom::media {
namespace {
constexpr size_t kSlabBuffers = 16;
// A slab is populated in one call on whichever thread needs a buffer; large pictures get fewer
// per slab so that no single call stalls for long.
constexpr size_t kSlabBytes = size_t(16) << 20;

struct Holder {
  std::shared_ptr<FramePool> pool;
};
}  // namespace

FramePool::~FramePool() {
  for (auto& [base, bytes] : slabs_) munmap(base, bytes);
}

AVBufferRef* FramePool::Get() {
  uint8_t* data = nullptr;
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (!free_.empty()) {
        data = free_.back();
        free_.pop_back();
        break;
      }
    }
    // Populating a slab takes tens of milliseconds for large pictures: do it without the lock, so
    // a picture released on the GUI thread meanwhile does not wait for it.
    const size_t stride = (size_ + 4095) & ~size_t(4095);
    const size_t count = std::clamp<size_t>(kSlabBytes / stride, 1, kSlabBuffers);
    const size_t bytes = stride * count;
    void* base = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (base == MAP_FAILED) return nullptr;
    std::lock_guard lock(mutex_);
    slabs_.emplace_back(base, bytes);
    for (size_t i = count; i-- > 0;) free_.push_back(static_cast<uint8_t*>(base) + i * stride);
  }
  auto* holder = new Holder{shared_from_this()};
  AVBufferRef* ref = av_buffer_create(data, size_, &FramePool::Release, holder, 0);
  if (!ref) {
    Release(holder, data);
    return nullptr;
  }
  return ref;
}

void FramePool::Release(void* opaque, uint8_t* data) {
  auto* holder = static_cast<Holder*>(opaque);
  {
    std::lock_guard lock(holder->pool->mutex_);
    holder->pool->free_.push_back(data);
  }
  delete holder;  // may end the pool when the reader is gone already
}

}  // namespace kestrom::media
