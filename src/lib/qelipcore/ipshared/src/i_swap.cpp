// The byte-order pass and its line procedures. Pixel words are big-endian in memory on every
// host, so the pass copies each line onto itself and leaves the buffer as it was.

#include <cstring>

#include "ip_internal.h"
#include "ip_supertile.h"
#include "ipcore.h"

extern "C" {

VltStatus ip_copyLine(IPState*, const uint8_t* src, uint8_t* dst, uint32_t words) {
  std::memmove(dst, src, size_t{words} * 4);
  return VLT_OK;
}

VltStatus ip_invertLine(IPState* state, const uint8_t* src, uint8_t* dst, uint32_t words) {
  const auto bits = static_cast<int32_t>(words * 32);
  return i_rasterOpFull(state, dst, 0, 0, 0, 0, 0, 0, bits, 1, 1, words * 4,
                        IP_ROP_NOT_S | IP_ROP_NOCLIP, src, 0, 0, 0, 0, 0, 0, 1, words * 4);
}

VltStatus ip_getByteSwapProc(IPState*, uint32_t invert, uint32_t, IPLineProc* proc) {
  *proc = invert ? ip_invertLine : ip_copyLine;
  return VLT_OK;
}

VltStatus ip_swapBytesSuperTile(IPState* state, TileDescriptor* descriptors, uint32_t, uint32_t,
                                void* data) {
  const IPLineProc proc = *static_cast<IPLineProc*>(data);
  const TileDescriptor& d = descriptors[0];
  const uint32_t words = (d.widthBits + 31) / 32;
  uint8_t* line = d.firstWord;
  for (uint32_t y = 0; y < d.lines; ++y, line += d.bytesPerLine) proc(state, line, line, words);
  return VLT_OK;
}

VltStatus i_swapImageBytes(IPState* state, uint8_t* buffer, uint32_t bytesPerLine, int32_t width,
                           int32_t height, int32_t depth) {
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  // The line walk covers whole words of each line: they must lie inside it.
  const int64_t bits = int64_t{width} * depth;
  if (width < 0 || height < 0 || depth < 1 || (bits + 31) / 32 * 4 > bytesPerLine)
    return IP_FAIL(state, VLT_ERR_PARAM);
  if (!buffer && height > 0) return IP_FAIL(state, VLT_ERR_NULL);
  IPLineProc proc = nullptr;
  ip_getByteSwapProc(state, 0, 2, &proc);

  SuperTileRequest req{};
  req.bytesPerUnit = 4;
  req.bitsPerUnit = 32;
  req.widthBits = static_cast<uint32_t>(bits);
  req.widthBytes = static_cast<uint32_t>((bits + 7) / 8);
  req.word7 = req.word8 = 1;
  req.lines = req.linesPerTile = static_cast<uint32_t>(height);
  req.firstWord = buffer;
  req.bytesPerLine = bytesPerLine;
  req.word15 = 1;
  req.written = 1;
  SuperTileTessellation tess{};
  if (VltStatus s = ip_getSuperTileTessellation(state, &req, &tess, 1)) return IP_FAIL(state, s);

  void* block = ipcore::alloc(state, IP_SLOT_RECORDS, sizeof(TileDescriptor) + 32);
  if (!block) return IP_FAIL(state, VLT_ERR_NOMEM);
  auto* descriptor =
      reinterpret_cast<TileDescriptor*>((reinterpret_cast<uintptr_t>(block) + 31) & ~uintptr_t{31});
  IPCacheControl* cache = nullptr;
  VltStatus status = ip_acquireCacheControl(state, &cache);
  if (status == VLT_OK)
    status = ip_processSuperTiles_LRTB(state, &tess, cache, 1, descriptor, ip_swapBytesSuperTile, &proc);
  ipcore::release(state, IP_SLOT_RECORDS, block);
  if (cache) ip_releaseCacheControl(state, cache);
  if (status != VLT_OK) return IP_FAIL(state, status);
  return VLT_OK;
}

}  // extern "C"
