// Bit counting over a rectangle, as a super-tile pass with edge masks per line.

#include <array>
#include <bit>
#include <cstring>

#include "byteorder.h"
#include "ip_count.h"
#include "ip_internal.h"

namespace {

// Entry i: the number of 1 bits of i.
constexpr auto kBitCount = [] {
  std::array<uint8_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) t[i] = static_cast<uint8_t>(std::popcount(i));
  return t;
}();

uint32_t word_bits(uint32_t w) {
  return uint32_t{kBitCount[w >> 24]} + kBitCount[(w >> 16) & 255u] + kBitCount[(w >> 8) & 255u] +
         kBitCount[w & 255u];
}

// Bits of eight unmasked bytes; their order does not matter to a count, so no byte swap.
uint32_t chunk_bits(uint64_t v) {
  v = v - ((v >> 1) & 0x5555555555555555ull);
  v = (v & 0x3333333333333333ull) + ((v >> 2) & 0x3333333333333333ull);
  v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  return static_cast<uint32_t>((v * 0x0101010101010101ull) >> 56);
}

}  // namespace

extern "C" {

VltStatus ip_countBitsLine(IPState*, const uint8_t* line, uint32_t words, uint32_t firstMask,
                           uint32_t lastMask, uint32_t* count) {
  if (words == 1) {
    *count = word_bits(mono::load_be32(line) & firstMask & lastMask);
    return VLT_OK;
  }
  uint32_t n = word_bits(mono::load_be32(line) & firstMask);
  // Pages are mostly blank: an empty chunk costs only its test.
  uint32_t i = 1;
  for (; i + 2 < words; i += 2) {
    uint64_t v;
    std::memcpy(&v, line + size_t{i} * 4, 8);
    if (v) n += chunk_bits(v);
  }
  for (; i + 1 < words; ++i)
    if (const uint32_t w = mono::load_be32(line + size_t{i} * 4)) n += word_bits(w);
  n += word_bits(mono::load_be32(line + size_t{words - 1} * 4) & lastMask);
  *count = n;
  return VLT_OK;
}

VltStatus ip_countBitsTile(IPState* state, const uint8_t* line, const CountTileState* ts,
                           uint32_t* count) {
  return ip_countBitsLine(state, line, ts->wordCount, ts->firstMask, ts->lastMask, count);
}

VltStatus ip_countBitsTileLine(IPState* state, const uint8_t* line, const CountTileState* ts,
                               uint32_t* count) {
  if (VltStatus s = ip_countBitsTile(state, line, ts, count)) return IP_FAIL(state, s);
  return VLT_OK;
}

VltStatus ip_countBitsWithSetup(void) { return VLT_OK; }

VltStatus ip_getCountBitsTileInfo(IPState*, uint8_t* address, uint32_t* linesPerUnit,
                                  uint32_t* bitsPerUnit, uint32_t* bytesPerUnit, uint8_t** first) {
  *linesPerUnit = 1;
  *bitsPerUnit = 32;
  *bytesPerUnit = 4;
  *first = address;
  return VLT_OK;
}

VltStatus ip_getCountBitsTileState(IPState* state, const uint8_t*, uint32_t, uint32_t wordCount,
                                   uint32_t firstMask, uint32_t lastMask, CountTileState** out) {
  if (!state) return IP_FAIL(state, VLT_ERR_NOMEM);
  auto* ts = static_cast<CountTileState*>(
      ipcore::alloc_zeroed(state, IP_SLOT_RECORDS, 1, sizeof(CountTileState)));
  if (!ts) return IP_FAIL(state, VLT_ERR_NOMEM);
  ts->firstMask = firstMask;
  ts->lastMask = lastMask;
  ts->wordCount = wordCount;
  *out = ts;
  return VLT_OK;
}

VltStatus ip_releaseCountBitsTileState(IPState* state, CountTileState** ts) {
  if (state && *ts) ipcore::release(state, IP_SLOT_RECORDS, *ts);
  *ts = nullptr;
  return VLT_OK;
}

VltStatus ip_countBitsSuperTile(IPState* state, TileDescriptor* descriptors, uint32_t,
                                uint32_t tileColumn, void* data) {
  auto* pass = static_cast<CountPassData*>(data);
  const CountTileState* ts = pass->tileState[0];
  if (tileColumn != 0) {
    if (tileColumn + 1 == pass->tileColumns) ts = pass->tileState[3];
    else if (tileColumn < pass->firstTileX) ts = pass->tileState[1];
    else ts = pass->tileState[2];
  }
  const TileDescriptor& d = descriptors[0];
  uint32_t sum = 0;
  const uint8_t* line = d.firstWord;
  for (uint32_t y = 0; y < d.lines; ++y, line += d.bytesPerLine) {
    uint32_t n = 0;
    if (VltStatus s = ip_countBitsTileLine(state, line, ts, &n)) return IP_FAIL(state, s);
    sum += n;
  }
  pass->count += sum;
  return VLT_OK;
}

VltStatus ip_countBitsWithProcess(IPState* state, const SuperTileTessellation* tess,
                                  TileDescriptor* descriptors, CountPassData* pass,
                                  SuperTileProc proc) {
  IPCacheControl* cache = nullptr;
  if (VltStatus s = ip_acquireCacheControl(state, &cache)) return s;
  const VltStatus status = ip_processSuperTiles_LRTB(state, tess, cache, 1, descriptors, proc, pass);
  ip_releaseCacheControl(state, cache);
  if (status != VLT_OK) return IP_FAIL(state, status);
  return VLT_OK;
}

VltStatus i_countBits(IPState* state, const uint8_t* base, int32_t x, int32_t y, int32_t w,
                      int32_t h, int32_t d, uint32_t bpl, uint32_t* count) {
  if (!count) return IP_FAIL(state, VLT_ERR_NULL);
  if (w == 0) {
    *count = 0;
    return VLT_OK;
  }
  if (!state) return IP_FAIL(state, VLT_ERR_NOMEM);
  // A rectangle before the buffer start, or with a negative size, cannot be counted.
  if (x < 0 || y < 0 || w < 0 || h < 0 || d < 1 || d > 32) return IP_FAIL(state, VLT_ERR_PARAM);
  if (!base) return IP_FAIL(state, VLT_ERR_NULL);
  const int64_t firstBit = int64_t{x} * d, lastBit = (int64_t{x} + w) * d - 1;
  if (lastBit > UINT32_MAX) return IP_FAIL(state, VLT_ERR_PARAM);
  uint8_t* first = const_cast<uint8_t*>(base) + size_t(y) * bpl + size_t(firstBit >> 5) * 4;
  const auto wordCount = static_cast<uint32_t>((lastBit >> 5) - (firstBit >> 5) + 1);
  const uint32_t firstMask = mono::right_mask32(32 - static_cast<uint32_t>(firstBit & 31));
  const uint32_t lastMask = mono::left_mask32(static_cast<uint32_t>(lastBit & 31) + 1);

  SuperTileRequest req{};
  req.bytesPerUnit = 4;
  req.bitsPerUnit = 32;
  req.widthBits = wordCount * 32;
  req.widthBytes = wordCount * 4;
  req.word7 = req.word8 = 1;
  req.lines = req.linesPerTile = static_cast<uint32_t>(h);
  // The walk hands every image out as a writable address; counting only reads it.
  req.firstWord = first;
  req.bytesPerLine = bpl;
  req.word15 = 1;
  SuperTileTessellation tess{};
  if (VltStatus s = ip_getSuperTileTessellation(state, &req, &tess, 1)) return IP_FAIL(state, s);

  CountPassData pass{};
  pass.linesPerUnit = 1;
  pass.tileRows = tess.rows;
  pass.tileColumns = tess.columns;
  pass.firstTileX = tess.firstTileX;
  if (VltStatus s = ip_getCountBitsTileState(state, first, 0, wordCount, firstMask, lastMask,
                                             &pass.tileState[0]))
    return s;
  VltStatus status = VLT_OK;
  void* block = ipcore::alloc(state, IP_SLOT_RECORDS, sizeof(TileDescriptor) + 32);
  if (!block) {
    status = IP_FAIL(state, VLT_ERR_NOMEM);
  } else {
    auto* descriptor = reinterpret_cast<TileDescriptor*>(
        (reinterpret_cast<uintptr_t>(block) + 31) & ~uintptr_t{31});
    status = ip_countBitsWithProcess(state, &tess, descriptor, &pass, ip_countBitsSuperTile);
    if (status == VLT_OK) *count = pass.count;
  }
  ip_releaseCountBitsTileState(state, &pass.tileState[0]);
  ipcore::release(state, IP_SLOT_RECORDS, block);
  return status;
}

}  // extern "C"
