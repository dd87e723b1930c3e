#ifndef TOK_SKEW_H
#define TOK_SKEW_H

// The skew angle of a page, measured as pages are added so that the section's tokens can later
// be straightened by it.

#include <stdint.h>

#include "pixr.h"
#include "vlt_state.h"

struct DeskewContext {
  int32_t orientation;             // 1: measure the page turned by 180 degrees, 2 by 270, 3 by 90
  int32_t sampling;                // line step of the skew detector: 1, 2, 4, 8, 16 or 32
  int32_t* straighteningLengths;   // per page of the section; kept by the deskew facility
  int32_t leastStraighteningLength;
  VltState* state;
};

// A one-entry node chaining the reference list of the shared record a component held before.
struct DeskewReferenceNode {
  struct DeskewReferenceNode* earlier;
  struct DeskewReferenceNode* next;     // always null here
};

// One straightened bitmap shared by the instances of a class on one page (engine allocator). The
// page owns it: releasing the page releases every record its components point at, once.
struct DeskewSharedBitmap {
  uint8_t* bitmap;
  DeskewReferenceNode* references;
  int32_t useCount;                     // instances on that page
  uint16_t width;
  uint16_t height;
  uint16_t wordsPerLine;
  uint8_t flag;                         // 0
};

// Releases a shared record with its bitmap and its own reference node (the earlier list it chains
// to belongs to the earlier record).
void tok_freeSharedBitmap(VltState* state, DeskewSharedBitmap* record);

// A context for a detail level (clamped to 0..5; level n samples every 2^(5 - n)th line). 118
// without place, 1 without memory.
VltStatus deskewInit(DeskewContext** out, int32_t level, int32_t orientation, VltState* state);
void deskewCleanup(DeskewContext* context);
// The page's skew angle in radians, or 0.0 when the detector is not confident (5 % or less) or
// finds more than 30 degrees. A failed turn or detection leaves *angle untouched.
VltStatus getSkewAngle(DeskewContext* context, const PIXR* page, float* angle);
// 1 when a detection is taken: confidence above 5 and the angle, widened to double, within 30
// degrees either way.
int tok_skewAccepted(int32_t confidence, float angle);

#endif
