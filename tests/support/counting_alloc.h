#ifndef MONOTEST_COUNTING_ALLOC_H
#define MONOTEST_COUNTING_ALLOC_H

// An allocator for the libraries' allocator slots that counts calls and live blocks and can be
// told to fail the k-th allocation, so tests can prove that every failure path frees what it made.
// The C-style thunks take the allocator as their client data word.

#include <cstddef>
#include <cstdint>
#include <unordered_map>

namespace monotest {

class CountingAllocator {
 public:
  // Fail the k-th allocation from now on (1 = the next); 0 never fails.
  void fail_at(size_t k) { fail_at_ = k == 0 ? 0 : allocations_ + k; }
  // Fail every allocation from the k-th on, not just one.
  void fail_from(size_t k) { fail_at(k); sticky_ = true; }

  void* allocate(size_t size);
  void* allocate_zeroed(size_t count, size_t size);
  void* reallocate(void* p, size_t size);
  void release(void* p);

  size_t allocations() const { return allocations_; }  // successful or not
  size_t failures() const { return failures_; }
  size_t frees() const { return frees_; }
  size_t live_blocks() const { return live_.size(); }
  size_t live_bytes() const { return live_bytes_; }
  size_t peak_bytes() const { return peak_bytes_; }
  bool owns(const void* p) const { return live_.count(p) != 0; }
  // Frees or reallocations of blocks this allocator never handed out (always a bug).
  size_t foreign() const { return foreign_; }

  // Slot procedures: (size, data), (count, size, data), (pointer, size, data), (pointer, data).
  static void* c_malloc(size_t size, void* data);
  static void* c_calloc(size_t count, size_t size, void* data);
  static void* c_realloc(void* p, size_t size, void* data);
  static void c_free(void* p, void* data);

  // Procedures without a data word (the engine state's memory table) serve the allocator made
  // current with make_current(); one at a time per thread.
  void make_current() { current_ = this; }
  static void* g_malloc(size_t size) { return current_->allocate(size); }
  static void* g_calloc(size_t count, size_t size) { return current_->allocate_zeroed(count, size); }
  static void* g_realloc(void* p, size_t size) { return current_->reallocate(p, size); }
  static void g_free(void* p) { current_->release(p); }

 private:
  bool should_fail();
  void track(void* p, size_t size);

  size_t allocations_ = 0, failures_ = 0, frees_ = 0, fail_at_ = 0, foreign_ = 0;
  bool sticky_ = false;
  size_t live_bytes_ = 0, peak_bytes_ = 0;
  std::unordered_map<const void*, size_t> live_;
  static thread_local CountingAllocator* current_;
};

}  // namespace monotest

#endif
