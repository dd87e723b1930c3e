#ifndef PIXR_OPS_H
#define PIXR_OPS_H

// Validated image operations of the wrapper layer: destinations, frames and fills, raster and
// logic operations, pixel access, bit counts and binary reduction.

#include <stdint.h>

#include "iprect.h"
#include "pixr.h"

// Destination convention: an empty place receives a new record (*created = 1); a filled one must
// match the wanted properties within its frame, and *dx, *dy tell how far the result spills into
// its right and bottom frame.

/* Compares a destination with the wanted properties; 112 at the first difference. */
VltStatus w_checkDestPixr(IPWState* s, int32_t width, int32_t height, int32_t depth, int32_t xRes,
                          int32_t yRes, int32_t frame, int32_t channelCount, int32_t type,
                          const PIXRColorMap* colorMap, const PIXR* dst, int32_t* dx, int32_t* dy);
VltStatus wp_createPixrConditional(IPWState* s, int32_t width, int32_t height, int32_t depth,
                                   int32_t xRes, int32_t yRes, int32_t frame, int32_t clear,
                                   PIXR** place, int32_t* dx, int32_t* dy, int32_t* created);
VltStatus wp_createPixrConditionalNoInit(IPWState* s, int32_t width, int32_t height, int32_t depth,
                                         int32_t xRes, int32_t yRes, int32_t frame, PIXR** place,
                                         int32_t* dx, int32_t* dy, int32_t* created);
VltStatus wp_createPixrExtendedConditional(IPWState* s, int32_t width, int32_t height, int32_t depth,
                                           int32_t xRes, int32_t yRes, int32_t frame,
                                           int32_t channelCount, int32_t type,
                                           const PIXRColorMap* colorMap, PIXR** place, int32_t* dx,
                                           int32_t* dy, int32_t* created);
VltStatus wp_createPixrExtendedConditionalNoInit(IPWState* s, int32_t width, int32_t height,
                                                 int32_t depth, int32_t xRes, int32_t yRes,
                                                 int32_t frame, int32_t channelCount, int32_t type,
                                                 const PIXRColorMap* colorMap, PIXR** place,
                                                 int32_t* dx, int32_t* dy, int32_t* created);
VltStatus wp_clonePixrConditional(IPWState* s, const PIXR* src, PIXR** place, int32_t* dx,
                                  int32_t* dy, int32_t* created);
VltStatus wp_clonePixrConditionalNoInit(IPWState* s, const PIXR* src, PIXR** place, int32_t* dx,
                                        int32_t* dy, int32_t* created);

/* Blanks the dx frame columns right of the image and the dy frame lines below it (dx, dy <= 32). */
VltStatus wp_clearRightBottomFrames(IPWState* s, PIXR* p, int32_t dx, int32_t dy);
/* Sets (value != 0) or clears every frame pixel. */
VltStatus w_setFramePixels(IPWState* s, PIXR* p, int32_t value);
/* Fills the frame of a raw 8-bit framed buffer, and the row padding to 4 bytes, with gray. */
VltStatus w_setFramePixelsGray(IPWState* s, uint8_t* buffer, int32_t framedWidth,
                               int32_t framedHeight, int32_t bpl, int32_t frame, uint8_t gray);
VltStatus w_clear(IPWState* s, PIXR* p);
VltStatus wp_invertIP(IPWState* s, PIXR* p);
/* NOT of the source; the place may hold the source itself (inverted in place). */
VltStatus w_invert(IPWState* s, PIXR* src, PIXR** place);
/* Copies the source so that the two centres meet; the rest of dst stays. */
VltStatus w_center(IPWState* s, const PIXR* src, PIXR* dst);
/* A new framed image of the rectangle's area (clipped to the source); null rect copies all. */
VltStatus w_rectOf(IPWState* s, const PIXR* src, const IPRect* rect, PIXR** place);
/* A record over source rows y .. y + height - 1 at full width that shares the source's buffer
   (a plain framed source): no pixel is copied. The view's frame lines are the source's
   neighbouring rows, so operations on the view must not write its frame. Destroy it like any
   record; the buffer goes with the last record sharing it. */
VltStatus w_rowsOf(IPWState* s, const PIXR* src, int32_t y, int32_t height, PIXR** place);
/* Fills the rectangle (clipped to the image; null for all) with values[c] in channel c. */
VltStatus w_paint(IPWState* s, PIXR* p, const IPRect* rect, const uint8_t* values);

/* Raster operation word of the image core: bit 0 no clipping, op & 30 the Boolean function. */
enum : int32_t {
  W_ROP_CLEAR = 0,
  W_ROP_CLEAR_NOCLIP = 1,
  W_ROP_NOTS_AND_D = 4,
  W_ROP_NOT_S = 6,
  W_ROP_XOR = 12,
  W_ROP_AND = 16,
  W_ROP_COPY = 24,
  W_ROP_COPY_NOCLIP = 25,
  W_ROP_OR = 28,
  W_ROP_SET = 30,
  W_ROP_SET_NOCLIP = 31,
};

/* w_logicOp codes. */
enum : int32_t {
  W_LOGIC_OR = 1,
  W_LOGIC_AND = 2,
  W_LOGIC_XOR = 3,
  W_LOGIC_AND_NOT = 4,
  W_LOGIC_REPLACE = 5,
  W_LOGIC_NOT = 6,
};

/* width x height pixels at (dstX, dstY) of dst combined with (srcX, srcY) of src (or alone). */
VltStatus w_rasterop(IPWState* s, int32_t srcX, int32_t srcY, const PIXR* src, int32_t op,
                     int32_t dstX, int32_t dstY, int32_t width, int32_t height, PIXR* dst);
/* Combines the whole source into the destination from (0, 0). */
VltStatus w_logicOp(IPWState* s, const PIXR* src, int32_t code, PIXR* dst);
VltStatus w_pixrGetPixel(IPWState* s, const PIXR* p, int32_t x, int32_t y, uint32_t* value);
VltStatus w_pixrPutPixel(IPWState* s, PIXR* p, int32_t x, int32_t y, uint32_t value);
/* A straight line clipped to the image. */
VltStatus w_pixrPutLine(IPWState* s, PIXR* p, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                        uint32_t value);
/* A rectangle outline of the given thickness (filled when the sides are too short). */
VltStatus w_pixrPutRect(IPWState* s, PIXR* p, const IPRect* rect, int32_t thickness, uint32_t value);
VltStatus w_numberBits(IPWState* s, const PIXR* p, uint32_t* count);
/* Set bits inside a rectangle in image coordinates (must lie inside: 100 otherwise). */
VltStatus w_numberBitsRect(IPWState* s, const PIXR* p, const IPRect* rect, uint32_t* count);
/* The same with the rectangle in framed coordinates. */
VltStatus w_numberBitsFrameRect(IPWState* s, const PIXR* p, const IPRect* rect, uint32_t* count);
VltStatus w_getIntel16(IPWState* s, const uint8_t* bytes, uint16_t* value);
VltStatus w_putIntel16(IPWState* s, uint16_t value, uint8_t* bytes);
VltStatus w_getIntel32(IPWState* s, const uint8_t* bytes, uint32_t* value);
VltStatus w_putIntel32(IPWState* s, uint32_t value, uint8_t* bytes);
/* Validates the record; changes nothing. */
VltStatus w_flip(IPWState* s, PIXR* p);

/* Rank reduction of a 1-bit framed image by 2, 4, 8 or 16: one 2x2 halving per threshold, a pixel
   set when at least t of its four are (t1 in 1..4; a later 0 ends the cascade in w_reduce). */
VltStatus w_reduce(IPWState* s, const PIXR* src, int32_t t1, int32_t t2, int32_t t3, int32_t t4,
                   PIXR** dst);
VltStatus w_reduce2(IPWState* s, const PIXR* src, int32_t t1, PIXR** dst);
VltStatus w_reduce4(IPWState* s, const PIXR* src, int32_t t1, int32_t t2, PIXR** dst);
VltStatus w_reduce8(IPWState* s, const PIXR* src, int32_t t1, int32_t t2, int32_t t3, PIXR** dst);
VltStatus w_reduce16(IPWState* s, const PIXR* src, int32_t t1, int32_t t2, int32_t t3, int32_t t4,
                     PIXR** dst);

#endif
