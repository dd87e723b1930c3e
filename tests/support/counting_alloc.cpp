#include "counting_alloc.h"

#include <cstdlib>

namespace monotest {

thread_local CountingAllocator* CountingAllocator::current_ = nullptr;

bool CountingAllocator::should_fail() {
  ++allocations_;
  if (fail_at_ != 0 && (allocations_ == fail_at_ || (sticky_ && allocations_ > fail_at_))) {
    ++failures_;
    return true;
  }
  return false;
}

void CountingAllocator::track(void* p, size_t size) {
  live_[p] = size;
  live_bytes_ += size;
  if (live_bytes_ > peak_bytes_) peak_bytes_ = live_bytes_;
}

void* CountingAllocator::allocate(size_t size) {
  if (should_fail()) return nullptr;
  void* p = std::malloc(size ? size : 1);
  if (p) track(p, size);
  return p;
}

void* CountingAllocator::allocate_zeroed(size_t count, size_t size) {
  if (should_fail()) return nullptr;
  void* p = std::calloc(count ? count : 1, size ? size : 1);
  if (p) track(p, count * size);
  return p;
}

void* CountingAllocator::reallocate(void* p, size_t size) {
  if (p == nullptr) return allocate(size);
  auto it = live_.find(p);
  if (it == live_.end()) {
    ++foreign_;
    return nullptr;
  }
  if (should_fail()) return nullptr;
  void* q = std::realloc(p, size ? size : 1);
  if (!q) return nullptr;
  live_bytes_ -= it->second;
  live_.erase(it);
  track(q, size);
  return q;
}

void CountingAllocator::release(void* p) {
  if (p == nullptr) return;
  auto it = live_.find(p);
  if (it == live_.end()) {
    ++foreign_;  // left alone: it was never ours, and freeing it could corrupt another heap
    return;
  }
  live_bytes_ -= it->second;
  live_.erase(it);
  ++frees_;
  std::free(p);
}

void* CountingAllocator::c_malloc(size_t size, void* data) {
  return static_cast<CountingAllocator*>(data)->allocate(size);
}
void* CountingAllocator::c_calloc(size_t count, size_t size, void* data) {
  return static_cast<CountingAllocator*>(data)->allocate_zeroed(count, size);
}
void* CountingAllocator::c_realloc(void* p, size_t size, void* data) {
  return static_cast<CountingAllocator*>(data)->reallocate(p, size);
}
void CountingAllocator::c_free(void* p, void* data) { static_cast<CountingAllocator*>(data)->release(p); }

}  // namespace monotest
