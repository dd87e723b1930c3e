#ifndef FAX_TEST_UTIL_H
#define FAX_TEST_UTIL_H

// Shared by the fax tests: packed word images from reference bitmaps, an engine state that
// collects its reports, and one-call encoders and decoders over std::vector.

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fax_decode.h"
#include "fax_encode.h"
#include "ref_bitmap.h"
#include "vlt_state.h"

namespace faxtest {

using monotest::RefBitmap;
using Bytes = std::vector<uint8_t>;

// Rows of 32-bit words whose bytes are the bitmap's MSB-first bytes (the layout on every host).
struct Packed {
  int32_t width = 0, height = 0, stride = 0;  // stride in words
  std::vector<uint32_t> words;

  Packed(int32_t w, int32_t h, int32_t extraWords = 0)
      : width(w), height(h), stride((w + 31) / 32 + extraWords),
        words(static_cast<size_t>(stride) * (h > 0 ? h : 1), 0u) {}

  explicit Packed(const RefBitmap& bm) : Packed(bm.width, bm.height) {
    for (int y = 0; y < height; ++y) std::memcpy(row(y), bm.row(y), bm.stride);
  }

  uint32_t* row(int y) { return words.data() + static_cast<size_t>(stride) * y; }
  const uint32_t* row(int y) const { return words.data() + static_cast<size_t>(stride) * y; }

  // Columns [x0, x0 + w) of the packed rows as a bitmap.
  RefBitmap to_ref(int x0 = 0, int w = -1) const {
    if (w < 0) w = width;
    RefBitmap bm(w, height);
    for (int y = 0; y < height; ++y) {
      const auto* b = reinterpret_cast<const uint8_t*>(row(y));
      for (int x = 0; x < w; ++x) bm.set(x, y, (b[(x0 + x) >> 3] >> (7 - ((x0 + x) & 7))) & 1);
    }
    return bm;
  }
};

inline int collect_report(void* ctx, VltStatus code, const char* format, ...) {
  auto* text = static_cast<std::string*>(ctx);
  char buf[512] = "";
  if (format != nullptr) {
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
  }
  *text += std::to_string(code) + ": " + buf + "\n";
  return 0;
}

// An engine state with the C library's memory (or the given table) whose reports are collected.
struct State {
  VltState* s = nullptr;
  std::string reports;
  explicit State(const VltMemFuncs* mem = nullptr) {
    if (Vlt_initVltState(&s, mem, nullptr, &reports, collect_report, 0, 0) != VLT_OK) s = nullptr;
  }
  ~State() { Vlt_cleanupVltState(&s); }
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  operator VltState*() const { return s; }
};

struct Coded {
  VltStatus status = VLT_OK;
  Bytes bytes;
};

inline Coded g4_encode(const Packed& p, VltState* st, bool end = false) {
  Coded c;
  size_t cap = static_cast<size_t>(p.width + 64) * (p.height + 1) + 64;
  c.bytes.resize(cap);
  c.status = g4Encode(p.words.data(), p.width, p.height, p.stride, c.bytes.data(), &cap, end, st);
  c.bytes.resize(c.status == VLT_OK ? cap : 0);
  return c;
}

struct PageOptions {
  int32_t K = -1;
  bool eol = false, end = false, uncompressed = false, align = false;
};

inline Coded page_encode(const Packed& p, VltState* st, const PageOptions& o) {
  Coded c;
  FaxEncoder* enc = nullptr;
  c.status = EncodeCreate(&enc, st);
  if (c.status != VLT_OK) return c;
  c.status = EncodeInit(enc, p.width);
  size_t cap = static_cast<size_t>(p.width + 64) * (p.height + 1) + 128;
  c.bytes.resize(cap);
  if (c.status == VLT_OK)
    c.status = DoPage(enc, c.bytes.data(), &cap, p.words.data(), p.stride, p.height, o.K, o.eol,
                      o.end, o.uncompressed, o.align, 1);
  c.bytes.resize(c.status == VLT_OK ? cap : 0);
  EncodeCleanUp(&enc);
  return c;
}

using OwnDecoder = VltStatus (*)(uint32_t*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                 const uint8_t*, size_t, int32_t, size_t*, VltState*);

inline OwnDecoder decoder_for(int32_t K) {
  return K < 0 ? g4Decode : K == 0 ? g3_1DDecode : g3_2DDecode;
}

struct Decoded {
  VltStatus status = VLT_OK;
  size_t used = 0;
  RefBitmap image;
};

// Decodes width x height into a fresh zeroed image.
inline Decoded decode(int32_t K, const Bytes& data, int32_t width, int32_t height, VltState* st,
                      bool end = true) {
  Decoded d;
  Packed out(width, height);
  d.status = decoder_for(K)(out.words.data(), width, height, out.stride, 0, width - 1, height - 1,
                            data.data(), data.size(), end, &d.used, st);
  d.image = out.to_ref();
  return d;
}

}  // namespace faxtest

#endif
