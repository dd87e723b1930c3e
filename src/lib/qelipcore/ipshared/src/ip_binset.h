#ifndef IP_BINSET_H
#define IP_BINSET_H

// The binarization tables of one call: the caller's set when its first table is given,
// otherwise a set made through slot 0 and filled for the call, released when the holder goes.

#include <array>
#include <cstddef>

#include "bintable.h"
#include "ip_internal.h"

namespace ipcore {

using FillSet = VltStatus (*)(IPState*, uint32_t*, uint32_t*, uint32_t*, uint32_t*);

class BinarizationSet {
 public:
  explicit BinarizationSet(IPState* state) : state_(state) {}
  ~BinarizationSet() {
    if (state_)
      for (uint32_t* p : owned_) release(state_, IP_SLOT_RECORDS, p);
  }
  BinarizationSet(const BinarizationSet&) = delete;
  BinarizationSet& operator=(const BinarizationSet&) = delete;

  // count is 4, or 1 for the single 4-to-2 table (then fill fills t0 alone).
  VltStatus acquire(std::array<const uint32_t*, 4> given, int32_t srcDepth, int32_t dstDepth,
                    bool inverted, FillSet fill, int count = 4) {
    if (given[0]) {
      t_ = given;
      return VLT_OK;
    }
    size_t bytes = 0;
    if (VltStatus s = i_getBinarizationTableSizes(state_, srcDepth, dstDepth, inverted, &bytes))
      return IP_FAIL(state_, s);
    if (!state_) return IP_FAIL(state_, VLT_ERR_NOMEM);
    for (int k = 0; k < count; ++k) {
      owned_[k] = static_cast<uint32_t*>(alloc(state_, IP_SLOT_RECORDS, bytes));
      if (!owned_[k]) return IP_FAIL(state_, VLT_ERR_NOMEM);
    }
    if (VltStatus s = fill(state_, owned_[0], owned_[1], owned_[2], owned_[3])) return IP_FAIL(state_, s);
    for (int k = 0; k < 4; ++k) t_[k] = owned_[k];
    return VLT_OK;
  }

  const uint32_t* operator[](int k) const { return t_[k]; }

 private:
  IPState* state_;
  std::array<const uint32_t*, 4> t_{};
  std::array<uint32_t*, 4> owned_{};
};

}  // namespace ipcore

#endif
