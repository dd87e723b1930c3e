#ifndef IPRECT_H
#define IPRECT_H

// Rectangles over wrapper images, chainable into doubly linked lists, and the two operations that
// shrink a framed image in place.

#include <stdint.h>

#include "ipw_state.h"
#include "vlt_status.h"

struct PIXR;

struct IPRect {
  IPRect* next;
  IPRect* prev;
  int32_t x;
  int32_t y;
  int32_t width;
  int32_t height;
};

/* A new unlinked record (set 0); *out must be null. */
VltStatus w_createRect(IPWState* s, int32_t x, int32_t y, int32_t width, int32_t height, IPRect** out);
/* Frees *place (not unlinking it) and clears it. */
VltStatus w_destroyRect(IPWState* s, IPRect** place);
/* Unlinks the record from the list headed by *head and frees it. */
VltStatus w_cutRectFromList(IPWState* s, IPRect* r, IPRect** head);
VltStatus w_destroyRectList(IPWState* s, IPRect** head);
VltStatus w_copyRect(IPWState* s, const IPRect* src, IPRect** out);
/* A new record resized by dw, dh about the same centre, never below 1 by 1. */
VltStatus w_resizeRectP(IPWState* s, const IPRect* r, int32_t dw, int32_t dh, IPRect** out);
/* Translates by (dx, dy), then scales by (sx, sy), rounding halves away from zero. */
VltStatus w_xformRectIP(IPWState* s, int32_t dx, int32_t dy, float sx, float sy, IPRect* r);
VltStatus w_xformRectList(IPWState* s, int32_t dx, int32_t dy, float sx, float sy, IPRect* first);
VltStatus w_xformRect(IPWState* s, const IPRect* r, int32_t dx, int32_t dy, float sx, float sy,
                      IPRect** out);
/* A new record: r clipped to width by height at the origin (empty when wholly outside). */
VltStatus w_clipRect(IPWState* s, const IPRect* r, int32_t width, int32_t height, IPRect** out);
VltStatus w_cropRect(IPWState* s, int32_t x, int32_t y, int32_t width, int32_t height, IPRect* r);
VltStatus w_clipRectToPixr(IPWState* s, const PIXR* image, const IPRect* r, IPRect** out);
/* Bounding box of a and b written into result's geometry. */
VltStatus w_unionRects(IPWState* s, const IPRect* a, const IPRect* b, IPRect* result);
/* 1 when r lies inside the image, else 0. */
VltStatus w_isRectValid(IPWState* s, const PIXR* image, const IPRect* r, uint8_t* valid);
/* Keeps only the rectangle of a framed image, moved to the origin, in its own buffer. */
VltStatus w_cutRectIP(IPWState* s, int32_t x, int32_t y, int32_t width, int32_t height, PIXR* image);
/* Lowers width and height without moving data; the uncovered strips become frame. */
VltStatus w_trimRightBottomIP(IPWState* s, int32_t width, int32_t height, PIXR* image);

#endif
