#ifndef IP_COUNT_H
#define IP_COUNT_H

// Internals of bit counting: the per-column count state and the pass data of the tile walk.

#include "ip_supertile.h"
#include "ipcore.h"

struct CountTileState {
  uint32_t firstMask;  // applied to the first word of each line
  uint32_t lastMask;   // applied to the last word
  uint32_t wordCount;  // words per line
};

struct CountPassData {
  CountTileState* tileState[4];  // first, second, middle and last column; only the first is built
  uint32_t linesPerUnit;
  uint32_t blockMode;
  uint32_t tileRows;
  uint32_t tileColumns;
  uint32_t firstTileX;
  uint32_t count;
};

extern "C" {

VltStatus ip_countBitsLine(IPState* state, const uint8_t* line, uint32_t words, uint32_t firstMask,
                           uint32_t lastMask, uint32_t* count);
VltStatus ip_countBitsTile(IPState* state, const uint8_t* line, const CountTileState* ts,
                           uint32_t* count);
VltStatus ip_countBitsTileLine(IPState* state, const uint8_t* line, const CountTileState* ts,
                               uint32_t* count);
VltStatus ip_countBitsWithSetup(void);
VltStatus ip_getCountBitsTileInfo(IPState* state, uint8_t* address, uint32_t* linesPerUnit,
                                  uint32_t* bitsPerUnit, uint32_t* bytesPerUnit, uint8_t** first);
VltStatus ip_getCountBitsTileState(IPState* state, const uint8_t* firstWord, uint32_t unused,
                                   uint32_t wordCount, uint32_t firstMask, uint32_t lastMask,
                                   CountTileState** out);
VltStatus ip_releaseCountBitsTileState(IPState* state, CountTileState** ts);
VltStatus ip_countBitsWithProcess(IPState* state, const SuperTileTessellation* tess,
                                  TileDescriptor* descriptors, CountPassData* pass,
                                  SuperTileProc proc);

}  // extern "C"

#endif
