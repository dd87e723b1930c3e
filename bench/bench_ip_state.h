#ifndef BENCH_IP_STATE_H
#define BENCH_IP_STATE_H

// An image-core state on the C library's allocator, as the wrapper layer makes it.

#include <cstdint>
#include <vector>

#include "ipstate.h"

namespace bench {

struct CoreState {
  std::vector<uint8_t> record;
  IPState* state;
  CoreState() {
    uint32_t size = 0;
    i_getSizeOfIPState(&size);
    record.assign(size, 0);
    state = reinterpret_cast<IPState*>(record.data());
    i_IPStateInit(state, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                  nullptr, nullptr, nullptr, static_cast<int32_t>(size));
  }
  ~CoreState() { i_IPStateTerm(state); }
  CoreState(const CoreState&) = delete;
  CoreState& operator=(const CoreState&) = delete;
};

}  // namespace bench

#endif
