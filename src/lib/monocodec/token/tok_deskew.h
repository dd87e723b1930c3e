#ifndef TOK_DESKEW_H
#define TOK_DESKEW_H

// Token deskew: straightens what the lossy path holds for a section (class bitmaps handed to the
// instances, run-stored components and token positions) by the skew angles measured for its
// pages. On a page with skew angle a, a bitmap is straightened only when one of its sides exceeds
// the straightening length (int)|2 / sin a|: over that run the skew moves the ink by two pixels.
// Calling order at a section's end: countTokensToBeDeskewed, deskewTokens, then per page
// deskewOutliers and deskewPositions.

#include <stdint.h>

#include "tok_skew.h"
#include "tok_tcly.h"
#include "vlt_adt.h"
#include "vlt_state.h"

// No straightening length: nothing of the section needs straightening.
inline constexpr int32_t TOK_NO_STRAIGHTENING = 0x7FFFFFFF;

// The straightening length of a skew angle in radians; 0 for angle 0.0.
int32_t tok_straighteningLength(float angle);

// Groups every class's instances by page (pages in the order of their first instance), counts
// per page the classes to straighten there and keeps the pages' straightening lengths in the
// context. 1 without memory, 10003 for an instance on no page of the section.
VltStatus countTokensToBeDeskewed(DeskewContext* context, TclySection* section);
// Straightens each class bitmap per page group into the group's components (x, y: the bottom
// row, moved by half the growth). The instances of a group share one new record with the
// straightened bitmap (chaining the reference list of the record the first one held, if any); the
// page that holds the components owns it (tcly_doc_freePage). The lone instance of a class
// without a record gets a bitmap of its own instead and is appended to `own`, whose holder
// releases it. The lengths are released at the end.
VltStatus deskewTokens(DeskewContext* context, VltAdtList* own, TclySection* section);
// Paints the page's run-stored components (y: top row, which becomes the bottom row) and
// straightens those longer than the page's straightening length, kept inside the page.
VltStatus deskewOutliers(DeskewContext* context, TclyPage* page);
// Turns the positions of the page's components (y: bottom row) about the page centre.
VltStatus deskewPositions(DeskewContext* context, TclyPage* page);
// Turns one position (left column, bottom row) of a width x height bitmap about the page centre
// by the page's skew angle, as deskewPositions does.
void tok_turnPosition(const TclyPage* page, int32_t width, int32_t height, int32_t* x, int32_t* bottom);
// Rotates a packed bitmap by the angle and crops it to its ink, at most maxWidth x maxHeight
// (engine allocator, rows of ceil(width / 32) words). A rotation without ink gives 0 and no
// bitmap (*out null, sizes 0). 118 without out, 120 when *out is already set.
VltStatus VltDeskew_bmp(const uint8_t* in, int32_t width, int32_t height, int32_t wordsPerLine, uint8_t** out,
                        int32_t* outWidth, int32_t* outHeight, int32_t* outWordsPerLine, float angle, int32_t maxWidth,
                        int32_t maxHeight, VltState* state);

#endif
