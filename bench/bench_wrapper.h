#ifndef BENCH_WRAPPER_H
#define BENCH_WRAPPER_H

// A wrapper state with the C library's memory, and 1-bit pages loaded into framed records.

#include <cstring>

#include "pixr.h"
#include "ref_bitmap.h"

namespace bench {

struct Wrapper {
  IPWState* s = nullptr;
  Wrapper() {
    w_IPWStateInit(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &s);
  }
  ~Wrapper() { w_IPWStateTerm(&s); }
  Wrapper(const Wrapper&) = delete;
  Wrapper& operator=(const Wrapper&) = delete;
  PIXR* load(const monotest::RefBitmap& bm) {
    PIXR* p = nullptr;
    w_createPixr(s, bm.width, bm.height, 1, 300 << 16, 300 << 16, 32, &p);
    for (int y = 0; y < bm.height; ++y) {
      uint8_t* line = nullptr;
      w_pixrGetLine(s, p, y, &line);
      std::memcpy(line, bm.row(y), bm.stride);
    }
    return p;
  }
};

}  // namespace bench

#endif
