// Depth expansion and value maps: one table read per source byte.

#include "i_depth.h"

#include <array>
#include <cstring>

#include "byteorder.h"
#include "exptable.h"
#include "grytable.h"
#include "ip_internal.h"
#include "ipcore.h"

namespace {

template <class T>
T* first_pixel(T* framed, int32_t bpl, int32_t depth) {
  return framed + ptrdiff_t{IP_FRAME} * bpl + 4 * depth;
}

// Entry n keeps the first n mod 4 bytes of a word, all four for n = 4 and 8.
constexpr std::array<uint32_t, 9> kLastByteMask = {0x00000000u, 0xFF000000u, 0xFFFF0000u, 0xFFFFFF00u, 0xFFFFFFFFu,
                                                   0xFF000000u, 0xFFFF0000u, 0xFFFFFF00u, 0xFFFFFFFFu};

// Source bytes of a line of w pixels and the image pixels in its last byte (1 to 8).
struct LineBytes {
  int32_t count, lastPixels;
};
LineBytes line_bytes(int32_t w) {
  const int32_t count = (w + 7) / 8;
  return {count, w - 8 * (count - 1)};
}

// 1 bpp to 8 or 16 bpp through a stored table of 8 values per source byte. The last byte is
// cut to its image pixels (made OFF for the plain table, ON for the inverted one, both giving
// 0) and only as many values written as cover them, in steps of 4 bytes.
template <class Table>
VltStatus expand_1bpp(const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl, uint8_t* dst, int32_t dstBpl,
                      int32_t dstDepth, const Table& table, bool inverted) {
  const int32_t w = W - 64, h = H - 64;
  if (w < 1 || h < 1) return VLT_OK;
  const LineBytes lb = line_bytes(w);
  const auto keep = static_cast<uint8_t>(((1u << lb.lastPixels) - 1) << (8 - lb.lastPixels));
  constexpr size_t kEntryBytes = sizeof(table[0]);
  const size_t valueBytes = size_t(dstDepth) / 8;
  const size_t lastBytes = (size_t(lb.lastPixels) * valueBytes + 3) / 4 * 4;
  const uint8_t* s = first_pixel(src, srcBpl, 1);
  uint8_t* d = first_pixel(dst, dstBpl, dstDepth);
  for (int32_t y = 0; y < h; ++y, s += srcBpl, d += dstBpl) {
    uint8_t* out = d;
    for (int32_t i = 0; i + 1 < lb.count; ++i, out += kEntryBytes) std::memcpy(out, table[s[i]].data(), kEntryBytes);
    const uint8_t last = s[lb.count - 1];
    const auto safe = static_cast<uint8_t>(inverted ? last | static_cast<uint8_t>(~keep) : last & keep);
    // 16-bit values are all-ones or all-zeros, so their byte order does not matter.
    std::memcpy(out, table[safe].data(), lastBytes);
  }
  return VLT_OK;
}

}  // namespace

extern "C" {

VltStatus i_depth1To8bpp(IPState*, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl, uint8_t* dst,
                         int32_t dstBpl, int32_t invert) {
  return invert == 1 ? expand_1bpp(src, W, H, srcBpl, dst, dstBpl, 8, invertResultBits, true)
                     : expand_1bpp(src, W, H, srcBpl, dst, dstBpl, 8, resultBits, false);
}

VltStatus i_depth1To16bpp(IPState*, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl, uint8_t* dst,
                          int32_t dstBpl, int32_t invert) {
  return invert == 1 ? expand_1bpp(src, W, H, srcBpl, dst, dstBpl, 16, invertResultBits16, true)
                     : expand_1bpp(src, W, H, srcBpl, dst, dstBpl, 16, resultBits16, false);
}

VltStatus i_map1To8bpp(IPState* state, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl, uint8_t* dst,
                       int32_t dstBpl, int32_t offValue, int32_t onValue) {
  const int32_t w = W - 64, h = H - 64;
  if (w < 1) return VLT_OK;
  if (!state) return VLT_ERR_NOMEM;
  auto* table = static_cast<uint8_t*>(ipcore::alloc(state, IP_SLOT_RECORDS, 256 * 8));
  if (!table) return VLT_ERR_NOMEM;
  for (unsigned b = 0; b < 256; ++b)
    for (unsigned j = 0; j < 8; ++j)
      table[8 * b + j] = static_cast<uint8_t>((b >> (7 - j) & 1) ? onValue : offValue);
  const LineBytes lb = line_bytes(w);
  const uint32_t mask = kLastByteMask[static_cast<size_t>(lb.lastPixels)];
  const uint8_t* s = first_pixel(src, srcBpl, 1);
  uint8_t* d = first_pixel(dst, dstBpl, 8);
  for (int32_t y = 0; y < h; ++y, s += srcBpl, d += dstBpl) {
    uint8_t* out = d;
    for (int32_t i = 0; i + 1 < lb.count; ++i, out += 8) std::memcpy(out, table + 8 * s[i], 8);
    // Pixels past the width in the last written word are 0, not the OFF value.
    const uint8_t* entry = table + 8 * s[lb.count - 1];
    if (lb.lastPixels < 5) {
      mono::store_be32(out, mono::load_be32(entry) & mask);
    } else {
      std::memcpy(out, entry, 4);
      mono::store_be32(out + 4, mono::load_be32(entry + 4) & mask);
    }
  }
  ipcore::release(state, IP_SLOT_RECORDS, table);
  return VLT_OK;
}

VltStatus i_depth4To8bpp(IPState* state, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl, uint8_t* dst,
                         int32_t dstBpl, const uint8_t* table) {
  const int32_t w = W - 64, h = H - 64;
  if (w < 1) return VLT_OK;
  uint8_t* made = nullptr;
  if (!table) {
    size_t bytes = 0;
    if (VltStatus s = i_getExpandTableSizes(state, 2, 4, &bytes)) return IP_FAIL(state, s);
    if (!state) return IP_FAIL(state, VLT_ERR_NOMEM);
    made = static_cast<uint8_t*>(ipcore::alloc(state, IP_SLOT_RECORDS, bytes));
    if (!made) return IP_FAIL(state, VLT_ERR_NOMEM);
    if (VltStatus s = i_fillExp2LUT(state, 4, made)) {
      ipcore::release(state, IP_SLOT_RECORDS, made);
      return IP_FAIL(state, s);
    }
    table = made;
  }
  const int32_t values = (w + 1) / 2;
  const uint8_t* s = first_pixel(src, srcBpl, 4);
  uint8_t* d = first_pixel(dst, dstBpl, 8);
  for (int32_t y = 0; y < h; ++y, s += srcBpl, d += dstBpl)
    for (int32_t i = 0; i < values; ++i) std::memcpy(d + 2 * i, table + 2 * s[i], 2);
  if (made) ipcore::release(state, IP_SLOT_RECORDS, made);
  return VLT_OK;
}

void ip_map8To8Line(IPState*, const uint8_t* src, uint8_t* dst, int32_t words, const uint8_t* map) {
  for (int32_t i = 0; i < words; ++i, src += 4, dst += 4) {
    const uint32_t v = mono::load_be32(src);
    mono::store_be32(dst, uint32_t{map[v >> 24]} << 24 | uint32_t{map[v >> 16 & 0xFF]} << 16 |
                              uint32_t{map[v >> 8 & 0xFF]} << 8 | map[v & 0xFF]);
  }
}

VltStatus i_map4To4(IPState* state, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl, uint8_t* dst,
                    int32_t dstBpl, const uint8_t* map16) {
  const int32_t w = W - 64, h = H - 64;
  if (w < 1 || h < 1) return VLT_OK;
  if (!map16) return IP_FAIL(state, VLT_ERR_NULL);
  if (!state) return IP_FAIL(state, VLT_ERR_NOMEM);
  auto* map = static_cast<uint8_t*>(ipcore::alloc(state, IP_SLOT_RECORDS, 256));
  if (!map) return IP_FAIL(state, VLT_ERR_NOMEM);
  // An entry above 15 would spill into the neighbouring pixel's nibble.
  for (unsigned b = 0; b < 256; ++b) map[b] = static_cast<uint8_t>((map16[b & 15] & 15) | (map16[b >> 4] & 15) << 4);
  const int32_t words = (w + 7) / 8;
  const uint8_t* s = first_pixel(src, srcBpl, 4);
  uint8_t* const first = first_pixel(dst, dstBpl, 4);
  uint8_t* d = first;
  for (int32_t y = 0; y < h; ++y, s += srcBpl, d += dstBpl) ip_map8To8Line(state, s, d, words, map);
  const VltStatus status = ip_clearRightFrame(state, first, w, h, static_cast<uint32_t>(dstBpl), 4);
  ipcore::release(state, IP_SLOT_RECORDS, map);
  return status;
}

VltStatus i_map8To8(IPState* state, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl, uint8_t* dst,
                    int32_t dstBpl, const uint8_t* map256) {
  const int32_t w = W - 64, h = H - 64;
  if (w < 1 || h < 1) return VLT_OK;
  if (!map256) return IP_FAIL(state, VLT_ERR_NULL);
  const int32_t words = (w + 3) / 4;
  const uint8_t* s = first_pixel(src, srcBpl, 8);
  uint8_t* const first = first_pixel(dst, dstBpl, 8);
  uint8_t* d = first;
  for (int32_t y = 0; y < h; ++y, s += srcBpl, d += dstBpl) ip_map8To8Line(state, s, d, words, map256);
  return ip_clearRightFrame(state, first, w, h, static_cast<uint32_t>(dstBpl), 8);
}

}  // extern "C"
