#include "platform/media/FramePool.h"

#include <sys/mman.h>

#include <algorithm>
#include <iterator>

extern "C" {
#include <libavutil/buffer.h>
}

namespace kestrom::media {
namespace {
constexpr size_t kSlabBuffers = 16;
constexpr size_t kSpareBuffers = 6;
// A slab is populated in one call on whichever thread needs a buffer; large pictures get fewer
// per slab (one at full HD) so that no single call stalls for long and an idle slab is returned
// as soon as its pictures leave the cache.
constexpr size_t kSlabBytes = size_t(4) << 20;

struct Holder {
  std::shared_ptr<FramePool> pool;
};
}  // namespace

FramePool::~FramePool() {
  for (auto& [base, slab] : slabs_) munmap(base, slab.bytes);
}

size_t FramePool::MappedBytes() const {
  std::lock_guard lock(mutex_);
  return mapped_;
}

AVBufferRef* FramePool::Get() {
  uint8_t* data = nullptr;
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      // The buffer released last: its memory is the likeliest still in the processor's cache.
      Slab* best = nullptr;
      for (auto& [base, slab] : slabs_)
        if (!slab.free.empty() && (!best || slab.released > best->released)) best = &slab;
      if (best) {
        data = best->free.back();
        best->free.pop_back();
        --freeCount_;
        break;
      }
    }
    // Populating a slab takes milliseconds for large pictures: do it without the lock, so a
    // picture released on the GUI thread meanwhile does not wait for it.
    const size_t stride = (size_ + 4095) & ~size_t(4095);
    const size_t count = std::clamp<size_t>(kSlabBytes / stride, 1, kSlabBuffers);
    const size_t bytes = stride * count;
    void* base = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (base == MAP_FAILED) return nullptr;
    std::lock_guard lock(mutex_);
    Slab& slab = slabs_[static_cast<uint8_t*>(base)];
    slab.bytes = bytes;
    slab.count = count;
    for (size_t i = count; i-- > 0;) slab.free.push_back(static_cast<uint8_t*>(base) + i * stride);
    freeCount_ += count;
    mapped_ += bytes;
  }
  auto* holder = new Holder{shared_from_this()};
  AVBufferRef* ref = av_buffer_create(data, size_, &FramePool::Release, holder, 0);
  if (!ref) {
    Release(holder, data);
    return nullptr;
  }
  return ref;
}

void FramePool::Put(uint8_t* data) {
  Slab& slab = std::prev(slabs_.upper_bound(data))->second;
  slab.free.push_back(data);
  slab.released = ++releases_;
  ++freeCount_;
}

void FramePool::ReleaseIdle() {
  std::lock_guard lock(mutex_);
  // A few stay free for the decoder's next pictures: a seek releases the pictures it held all at
  // once and the next run takes them again.
  for (auto it = slabs_.begin(); it != slabs_.end();) {
    const size_t count = it->second.count;
    if (it->second.free.size() == count && freeCount_ - count >= kSpareBuffers) {
      munmap(it->first, it->second.bytes);
      freeCount_ -= count;
      mapped_ -= it->second.bytes;
      it = slabs_.erase(it);
    } else {
      ++it;
    }
  }
}

void FramePool::Release(void* opaque, uint8_t* data) {
  auto* holder = static_cast<Holder*>(opaque);
  {
    std::lock_guard lock(holder->pool->mutex_);
    holder->pool->Put(data);
  }
  delete holder;  // may end the pool when the reader is gone already
}

}  // namespace kestrom::media
