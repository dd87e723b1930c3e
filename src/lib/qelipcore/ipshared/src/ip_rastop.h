#ifndef IP_RASTOP_H
#define IP_RASTOP_H

// Internals of the raster operation: per-column tile state, kernel table and the tile procedure.

#include <array>
#include <cstdint>

#include "ipcore.h"
#include "ip_supertile.h"

struct RasterOpTileState {
  uint32_t leftShift;   // source moves toward the most significant end by this much
  uint32_t rightShift;  // and toward the least significant end by this much (sum 32, or both 0)
  uint32_t leftMask;    // span bits of the first destination word
  uint32_t rightMask;   // span bits of the last destination word
  uint32_t srcBytesPerLine;
  uint32_t dstBytesPerLine;
  uint32_t middleWords;  // whole destination words between the first and the last
  uint32_t allocated;    // 1 when the record came from slot 0 and must be freed
};

using RasterOpKernel = VltStatus (*)(IPState* state, const uint8_t* src, uint8_t* dst,
                                     int32_t lines, const RasterOpTileState* ts);

// Rows 0-15: truth table of the operation; rows 16 and 17: NOT S and S with a whole first word.
inline constexpr int kRasterOpRows = 18;
inline constexpr int kRasterOpSlots = 16;
extern const std::array<std::array<RasterOpKernel, kRasterOpSlots>, kRasterOpRows> miRastOpRoutines;

// Entry n (0..32): the n most significant bits; entry 33 + n: the n least significant bits.
extern const std::array<uint32_t, 66> ip_rasterOpMasks;

// Truth table of f(S, D) on S = 0xC, D = 0xA.
constexpr uint32_t rop_truth_table(RasterOpCode op) { return (op >> 1) & 15u; }
constexpr bool rop_reads_source(uint32_t t) { return ((t ^ (t >> 2)) & 3u) != 0; }
constexpr bool rop_reads_destination(uint32_t t) { return ((t ^ (t >> 1)) & 5u) != 0; }

// Geometry that the raster operation turns into its super-tile requests.
struct RasterOpTileInfo {
  uint8_t* dstFirstWord;
  uint32_t dstStartBit;
  uint32_t dstUnits;
  uint32_t dstBitsPerUnit;
  uint32_t dstWidthBits;
  uint8_t* srcFirstWord;
  uint32_t srcStartBit;
  uint32_t srcUnits;
  uint32_t srcBitsPerUnit;
  uint32_t srcLeftPadBits;
  uint32_t srcWidthBits;
};

struct RasterOpSuperTileData {
  RasterOpTileState* tileState[4];
  RasterOpKernel kernel[4];
  uint32_t tileRows;
  uint32_t tileColumns;
  uint32_t firstTileX;
  uint32_t images;
};

// Scratch space for one tile state on the caller's stack, so that no allocation is needed.
struct alignas(16) RasterOpTileScratch {
  RasterOpTileState state;
  uint32_t spare[4];
};

extern "C" {

// No raster hardware exists: always reports the work as not done.
VltStatus ip_tryRasterOpInHardware(IPState* state, uint8_t* dst, uint32_t dstX, uint32_t dstY,
                                   uint32_t width, uint32_t height, uint32_t dstBytesPerLine,
                                   RasterOpCode op, const uint8_t* src, uint32_t srcX, uint32_t srcY,
                                   uint32_t srcBytesPerLine, uint32_t* handled);
VltStatus ip_getRasterOpTileInfo(IPState* state, uint8_t* dst, uint32_t dstX, uint32_t dstY,
                                 uint32_t width, uint32_t height, uint32_t dstBytesPerLine,
                                 RasterOpCode op, uint8_t* src, uint32_t srcX, uint32_t srcY,
                                 uint32_t srcBytesPerLine, RasterOpTileInfo* info);
VltStatus ip_getRasterOpTileState(IPState* state, uint8_t* dstFirstWord, uint32_t dstStartBit,
                                  uint32_t width, uint32_t tileWidth, uint32_t dstBytesPerLine,
                                  RasterOpCode op, uint8_t* srcFirstWord, uint32_t srcStartBit,
                                  uint32_t srcBytesPerLine, uint32_t recordBytes,
                                  RasterOpTileState** record, RasterOpKernel* kernel,
                                  uint32_t* coveredWidth);
VltStatus ip_releaseRasterOpTileState(IPState* state, RasterOpTileState** record);
VltStatus ip_rasterOpSuperTile(IPState* state, TileDescriptor* descriptors, uint32_t tileRow,
                               uint32_t tileColumn, void* data);

}  // extern "C"

#endif
