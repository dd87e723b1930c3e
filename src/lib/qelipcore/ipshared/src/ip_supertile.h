#ifndef IP_SUPERTILE_H
#define IP_SUPERTILE_H

// The super-tile walk: operations that run over whole images describe each image by a request,
// get its tessellation (always one tile as large as the image) and let the walker call their
// tile procedure once with one descriptor per image.

#include <stdint.h>

#include "ipstate.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct SuperTileRequest {
  uint32_t bytesPerUnit;
  uint32_t bitsPerUnit;
  uint32_t leftPadBytes;
  uint32_t leftPadBits;
  uint32_t widthBits;
  uint32_t widthBytes;
  uint32_t word7;
  uint32_t word8;
  uint32_t word9;
  uint32_t word10;
  uint32_t lines;
  uint32_t linesPerTile;
  uint8_t* firstWord;
  uint32_t bytesPerLine;
  uint32_t word15;
  uint32_t written;
  uint32_t dstNotRead;
} SuperTileRequest;

typedef struct SuperTileTessellation {
  uint32_t columns;
  uint32_t rows;
  uint32_t widthBits;
  uint32_t lineBytes;
  uint32_t lineBytesPadded;
  uint32_t tileWidthBits;
  uint32_t tileLineBytes;
  uint32_t tileLineBytesPadded;
  uint32_t firstTileX;
  uint32_t lineCounts[6];
  uint32_t imageBytes;
  uint32_t bytesPerLine;
  uint8_t* base;
  uint8_t* firstWord;
  uint32_t zero[4];
  uint8_t* tileBase;
  uint32_t tileWidthBits2;
  uint32_t zeroWord1;
  uint32_t tileLines;
  uint32_t zeroWord2;
  uint32_t tileLineCount;
  uint32_t tileBytesPerLine;
  uint32_t written[2];
  uint32_t dstNotRead;
} SuperTileTessellation;

typedef struct TileDescriptor {
  uint8_t* firstWord;
  uint32_t zero1;
  uint32_t widthBits;
  uint32_t zero2;
  uint32_t lines;
  uint32_t bytesPerLine;
} TileDescriptor;

typedef VltStatus (*SuperTileProc)(IPState* state, TileDescriptor* descriptors, uint32_t tileRow,
                                   uint32_t tileColumn, void* data);

VltStatus ip_getSuperTileTessellation(IPState* state, const SuperTileRequest* requests,
                                      SuperTileTessellation* tessellations, uint32_t count);
VltStatus ip_processSuperTiles_LRTB(IPState* state, const SuperTileTessellation* tessellations,
                                    IPCacheControl* cacheControl, uint32_t count,
                                    TileDescriptor* descriptors, SuperTileProc proc, void* data);

// The tile procedures of the byte-order pass and of bit counting.
VltStatus ip_swapBytesSuperTile(IPState* state, TileDescriptor* descriptors, uint32_t tileRow,
                                uint32_t tileColumn, void* data);
VltStatus ip_countBitsSuperTile(IPState* state, TileDescriptor* descriptors, uint32_t tileRow,
                                uint32_t tileColumn, void* data);

VltStatus ip_acquireCacheControl(IPState* state, IPCacheControl** record);
VltStatus ip_releaseCacheControl(IPState* state, IPCacheControl* record);
// Create and free the state's data-cache initializer and cache-control records.
VltStatus ip_initDataCacheManager(IPState* state);
VltStatus ip_terminateDataCacheManager(IPState* state);
VltStatus ip_initCacheControl(IPState* state, IPCacheControl* record);
VltStatus ip_terminateCacheControl(IPState* state, IPCacheControl* record);

// The data cache has no hardware behind it: these validate their arguments and do nothing.
VltStatus ip_initDataCacheInitializer(IPState* state);
VltStatus ip_termDataCacheInitializer(IPState* state);
VltStatus ip_startDataCacheInit(IPState* state);
VltStatus ip_waitForDataCacheInit(IPState* state);
VltStatus ip_clearDCacheRightBytes(IPState* state);
VltStatus ip_flushCacheStreams(IPState* state);
VltStatus ip_initDataCacheForOneOp(IPState* state);
VltStatus ip_startCacheOp(IPState* state, IPCacheControl* record);
VltStatus ip_initCacheAndStartPreload(IPState* state, IPCacheControl* record);
VltStatus ip_waitForCacheOp(IPState* state, IPCacheControl* record);
VltStatus ip_getDataMoverInfo(IPState* state, uint32_t* a, uint32_t* b, uint32_t* c, uint32_t* d);
VltStatus ip_acquireCacheWindow(IPState* state, IPCacheControl* record, uint32_t w1, uint32_t w2,
                                void** window);
VltStatus ip_initCacheWindow(IPState* state, IPCacheControl* record, void* window, uint8_t* address,
                             uint32_t size, uint8_t** out);
VltStatus ip_initCacheTileWindow(IPState* state, IPCacheControl* record, void* window,
                                 uint8_t* address, uint32_t w1, uint32_t w2, uint32_t w3,
                                 uint32_t w4, uint8_t** out);
VltStatus ip_getCacheAddr(IPState* state, void* window, uint8_t* address, uint8_t** out);
VltStatus ip_flushCacheWindow(IPState* state, IPCacheControl* record, void* window,
                              uint8_t* address, uint32_t flag);
VltStatus ip_flushCacheTileWindow(IPState* state, IPCacheControl* record, void* window,
                                  uint8_t* address, uint32_t flag);

typedef struct StreamDesc {
  uint32_t mode;
  uint32_t unitCount;
  uint32_t unitSize;
  uint32_t f4;
  uint32_t f5;
  uint32_t f6;
  uint32_t size;
  uint32_t f8;
  uint32_t f9;
  uint32_t f10;
  uint32_t span;
  uint32_t stride;
  uint32_t f13;
  uint32_t f14;
  uint32_t f15;
  uint8_t* current;
  uint8_t* base;
  uint32_t f18;
  uint8_t* end;
  uint8_t* end2;
  uint32_t f21;
  uint32_t active;
  uint32_t f23;
  uint32_t f24;
} StreamDesc;

typedef VltStatus (*StreamProc)(IPState* state, StreamDesc* records, void* data);

VltStatus ip_initializeStreamDesc(IPState* state, uint32_t mode, uint32_t ignored1, uint32_t units,
                                  uint32_t unitSize, uint8_t* base, uint32_t e, uint32_t f,
                                  uint32_t stride, uint32_t ignored2, StreamDesc* out);
VltStatus ip_updateStreamDesc(IPState* state, StreamDesc* record, uint32_t size, uint8_t* base,
                              uint32_t e);
VltStatus ip_terminateStreamDesc(IPState* state);
VltStatus ip_processCacheStreams(IPState* state, uint32_t count, StreamProc proc, void* data,
                                 StreamDesc* records);

#ifdef __cplusplus
}
#endif

#endif
