// Pixel expansion and resolution-conversion tables.

#include "exptable.h"

#include <cstring>

#include "byteorder.h"
#include "ip_internal.h"

namespace {

constexpr bool table_depth(int32_t d) { return d == 1 || d == 2 || d == 4 || d == 8; }

// Entry b of every factor's table is a slice of the same pixel run: the pixels of b, each
// repeated factor times, written in pixel order. Planes are stored last slice first.
VltStatus fill_expansion(IPState* state, int32_t factor, int32_t depth, uint8_t* table) {
  if (!table) return IP_FAIL(state, VLT_ERR_NULL);
  size_t bytes = 0;
  if (VltStatus s = i_getExpandTableSizes(state, factor, depth, &bytes)) return IP_FAIL(state, s);
  std::memset(table, 0, bytes);
  if (!table_depth(depth)) return IP_FAIL(state, VLT_ERR_DEPTH);
  const auto d = static_cast<unsigned>(depth);
  const auto f = static_cast<size_t>(factor);
  const size_t entryBytes = f == 2 ? 2 : 4;
  const size_t planes = f <= 4 ? 1 : f / 4;
  for (unsigned b = 0; b < 256; ++b) {
    uint8_t run[16] = {};
    for (unsigned p = 0; p < 8 / d; ++p) {
      const unsigned v = b >> (8 - d * (p + 1)) & ((1u << d) - 1);
      for (size_t r = 0; r < f; ++r) {
        const size_t bit = (p * f + r) * d;  // a pixel never straddles a byte at these depths
        run[bit / 8] = static_cast<uint8_t>(run[bit / 8] | v << (8 - d - bit % 8));
      }
    }
    for (size_t k = 0; k < planes; ++k)
      std::memcpy(table + (planes - 1 - k) * 1024 + b * entryBytes, run + k * entryBytes, entryBytes);
  }
  return VLT_OK;
}

// entry(h, l) of the byte with high nibble h and low nibble l; 8-bit images need no table.
template <class Entry>
VltStatus fill_rescon(IPState* state, uint8_t* table, int32_t depth, Entry entry) {
  if (!table) return IP_FAIL(state, VLT_ERR_NULL);
  if (depth == 8) return VLT_OK;
  for (uint32_t b = 0; b < 256; ++b) mono::store_be32(table + 4 * b, entry(b >> 4, b & 15));
  return VLT_OK;
}

}  // namespace

extern "C" {

VltStatus i_getExpandTableSizes(IPState* state, int32_t factor, int32_t, size_t* size) {
  if (!size) return IP_FAIL(state, VLT_ERR_NULL);
  switch (factor) {
    case 2: *size = 512; return VLT_OK;
    case 4: *size = 1024; return VLT_OK;
    case 8: *size = 2048; return VLT_OK;
    case 16: *size = 4096; return VLT_OK;
    default: return VLT_ERR_PARAM;
  }
}

VltStatus i_fillExp2LUT(IPState* state, int32_t depth, uint8_t* table) { return fill_expansion(state, 2, depth, table); }
VltStatus i_fillExp4LUT(IPState* state, int32_t depth, uint8_t* table) { return fill_expansion(state, 4, depth, table); }
VltStatus i_fillExp8LUT(IPState* state, int32_t depth, uint8_t* table) { return fill_expansion(state, 8, depth, table); }
VltStatus i_fillExp16LUT(IPState* state, int32_t depth, uint8_t* table) { return fill_expansion(state, 16, depth, table); }

VltStatus i_getResconTableSize(IPState* state, int32_t srcRes, int32_t dstRes, int32_t depth, size_t* size) {
  if (!size) return IP_FAIL(state, VLT_ERR_NULL);
  const int64_t s = srcRes, d = dstRes;
  if (d != 2 * s && 2 * d != 3 * s) return VLT_ERR_PARAM;
  *size = depth == 8 ? 0 : 1024;
  return VLT_OK;
}

VltStatus i_fill1To2ResconTable(IPState* state, uint8_t* table, int32_t depth) {
  return fill_rescon(state, table, depth, [](uint32_t h, uint32_t l) { return h << 12 | (h + l + 1) / 2 << 8 | l << 4; });
}

VltStatus i_fill2To3ResconTable(IPState* state, uint8_t* table, int32_t depth) {
  return fill_rescon(state, table, depth, [](uint32_t h, uint32_t l) { return h << 8 | (h + l) / 2 << 4 | l; });
}

}  // extern "C"
