// The super-tile walk and the cache-control records around it. With no cache hardware the walk
// makes one tile per image and the cache operations only check their arguments.

#include "ip_internal.h"
#include "ip_supertile.h"

extern "C" {

VltStatus ip_getSuperTileTessellation(IPState*, const SuperTileRequest* requests,
                                      SuperTileTessellation* tess, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const SuperTileRequest& r = requests[i];
    SuperTileTessellation& t = tess[i];
    const uint32_t lineBytes = (r.widthBits + r.bitsPerUnit - 1) / r.bitsPerUnit * r.bytesPerUnit;
    t.columns = 1;
    t.rows = 1;
    t.widthBits = r.widthBits;
    t.lineBytes = lineBytes;
    t.lineBytesPadded = lineBytes + r.leftPadBytes;
    t.tileWidthBits = r.widthBits;
    t.tileLineBytes = lineBytes;
    t.tileLineBytesPadded = lineBytes + r.leftPadBytes;
    t.firstTileX = 0;
    t.lineCounts[0] = r.lines;
    t.lineCounts[1] = r.linesPerTile;
    t.lineCounts[2] = r.lines;
    t.lineCounts[3] = r.lines;
    t.lineCounts[4] = r.linesPerTile;
    t.lineCounts[5] = r.lines;
    t.imageBytes = r.bytesPerLine * r.lines;
    t.bytesPerLine = r.bytesPerLine;
    t.base = r.firstWord;
    t.firstWord = r.firstWord;
    for (uint32_t& z : t.zero) z = 0;
    t.tileBase = r.firstWord;
    t.tileWidthBits2 = r.widthBits;
    t.zeroWord1 = 0;
    t.tileLines = r.linesPerTile;
    t.zeroWord2 = 0;
    t.tileLineCount = r.lines;
    t.tileBytesPerLine = r.bytesPerLine;
    t.written[0] = r.written;
    t.written[1] = r.written;
    t.dstNotRead = r.dstNotRead;
  }
  return VLT_OK;
}

VltStatus ip_processSuperTiles_LRTB(IPState* state, const SuperTileTessellation* tess,
                                    IPCacheControl* cacheControl, uint32_t count,
                                    TileDescriptor* descriptors, SuperTileProc proc, void* data) {
  if (!tess || !cacheControl || !descriptors) return IP_FAIL(state, VLT_ERR_NULL);
  for (uint32_t i = 0; i < count; ++i) {
    TileDescriptor& d = descriptors[i];
    d.firstWord = tess[i].firstWord;
    d.zero1 = tess[i].zeroWord1;
    d.widthBits = tess[i].tileWidthBits;
    d.zero2 = tess[i].zeroWord2;
    d.lines = tess[i].lineCounts[3];
    d.bytesPerLine = tess[i].bytesPerLine;
  }
  if (VltStatus s = proc(state, descriptors, 0, 0, data)) return IP_FAIL(state, s);
  return VLT_OK;
}

VltStatus ip_acquireCacheControl(IPState* state, IPCacheControl** record) {
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  if (!state->cacheControl || !record) return IP_FAIL(state, VLT_ERR_NULL);
  *record = state->cacheControl;
  return VLT_OK;
}

VltStatus ip_releaseCacheControl(IPState* state, IPCacheControl* record) {
  if (!record) return IP_FAIL(state, VLT_ERR_NULL);
  return VLT_OK;
}

VltStatus ip_initCacheControl(IPState*, IPCacheControl*) { return VLT_OK; }
VltStatus ip_terminateCacheControl(IPState*, IPCacheControl*) { return VLT_OK; }

VltStatus ip_initDataCacheInitializer(IPState*) { return VLT_OK; }
VltStatus ip_termDataCacheInitializer(IPState*) { return VLT_OK; }
VltStatus ip_startDataCacheInit(IPState*) { return VLT_OK; }
VltStatus ip_waitForDataCacheInit(IPState*) { return VLT_OK; }
VltStatus ip_clearDCacheRightBytes(IPState*) { return VLT_OK; }
VltStatus ip_flushCacheStreams(IPState*) { return VLT_OK; }
VltStatus ip_terminateStreamDesc(IPState*) { return VLT_OK; }

VltStatus ip_initDataCacheForOneOp(IPState* state) {
  ip_startDataCacheInit(state);
  return ip_waitForDataCacheInit(state);
}

VltStatus ip_startCacheOp(IPState* state, IPCacheControl* record) {
  return record ? VLT_OK : IP_FAIL(state, VLT_ERR_NULL);
}

VltStatus ip_initCacheAndStartPreload(IPState* state, IPCacheControl* record) {
  ip_initDataCacheForOneOp(state);
  return record ? VLT_OK : IP_FAIL(state, VLT_ERR_NULL);
}

VltStatus ip_waitForCacheOp(IPState* state, IPCacheControl* record) {
  return record ? VLT_OK : IP_FAIL(state, VLT_ERR_NULL);
}

VltStatus ip_getDataMoverInfo(IPState*, uint32_t* a, uint32_t* b, uint32_t* c, uint32_t* d) {
  *a = *b = *c = *d = 0;
  return VLT_OK;
}

VltStatus ip_acquireCacheWindow(IPState* state, IPCacheControl* record, uint32_t, uint32_t,
                                void** window) {
  if (!record) return IP_FAIL(state, VLT_ERR_NULL);
  *window = &record->window;
  return VLT_OK;
}

VltStatus ip_initCacheWindow(IPState* state, IPCacheControl* record, void* window, uint8_t* address,
                             uint32_t, uint8_t** out) {
  if (!record || !window || !address) return IP_FAIL(state, VLT_ERR_NULL);
  *out = address;
  return VLT_OK;
}

VltStatus ip_initCacheTileWindow(IPState* state, IPCacheControl* record, void* window,
                                 uint8_t* address, uint32_t, uint32_t, uint32_t, uint32_t,
                                 uint8_t** out) {
  if (!record || !window || !address) return IP_FAIL(state, VLT_ERR_NULL);
  *out = address;
  return VLT_OK;
}

VltStatus ip_getCacheAddr(IPState* state, void* window, uint8_t* address, uint8_t** out) {
  if (!window || !address) return IP_FAIL(state, VLT_ERR_NULL);
  *out = address;
  return VLT_OK;
}

VltStatus ip_flushCacheWindow(IPState* state, IPCacheControl* record, void* window,
                              uint8_t* address, uint32_t flag) {
  if (!record || !window || !address || !flag) return IP_FAIL(state, VLT_ERR_NULL);
  return VLT_OK;
}

VltStatus ip_flushCacheTileWindow(IPState* state, IPCacheControl* record, void* window,
                                  uint8_t* address, uint32_t flag) {
  return ip_flushCacheWindow(state, record, window, address, flag);
}

VltStatus ip_initializeStreamDesc(IPState*, uint32_t mode, uint32_t, uint32_t u, uint32_t s,
                                  uint8_t* b, uint32_t e, uint32_t f, uint32_t g, uint32_t,
                                  StreamDesc* out) {
  StreamDesc& r = *out;
  if (mode) {
    r.mode = 1; r.unitCount = u; r.unitSize = s; r.f5 = s; r.size = s * u; r.f9 = s * u;
    r.span = g * u; r.stride = g;
  } else {
    r.mode = 0; r.unitCount = s; r.unitSize = 1; r.f5 = s; r.size = s; r.f9 = s;
    r.span = g; r.stride = 0;
  }
  r.f4 = r.f6 = r.f8 = r.f10 = 0;
  r.f13 = f;
  r.f14 = r.f15 = 0;
  r.current = b;
  r.base = b;
  r.f18 = 0;
  r.end = b + r.size;
  r.end2 = b + r.size;
  r.f21 = 0;
  r.active = 1;
  r.f23 = 0;
  r.f24 = e;
  return VLT_OK;
}

VltStatus ip_updateStreamDesc(IPState* state, StreamDesc* r, uint32_t size, uint8_t* base,
                              uint32_t e) {
  const uint32_t current = r->mode ? r->unitSize : r->size;
  if (r->base == base && current == size) return VLT_OK;
  const uint32_t stride = r->mode ? r->stride : r->span;
  if (VltStatus s = ip_initializeStreamDesc(state, r->mode, 0, r->unitCount, size, base, e, r->f13,
                                            stride, 0, r))
    return IP_FAIL(state, s);
  return VLT_OK;
}

VltStatus ip_processCacheStreams(IPState* state, uint32_t count, StreamProc proc, void* data,
                                 StreamDesc* records) {
  if (VltStatus s = proc(state, records, data)) return IP_FAIL(state, s);
  for (uint32_t i = count; i-- > 0;) {
    records[i].current = records[i].base;
    if (static_cast<int32_t>(records[i].size) <= 0) records[i].active = 0;
  }
  return VLT_OK;
}

}  // extern "C"
