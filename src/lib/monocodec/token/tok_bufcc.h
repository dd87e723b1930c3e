#ifndef TOK_BUFCC_H
#define TOK_BUFCC_H

// Connected components of a packed buffer fed band by band, and small packed-image utilities.

#include <stdint.h>

#include "i_ccruns.h"
#include "pixr.h"
#include "vlt_image.h"
#include "vlt_state.h"

// Finds the components of a band of lines with the image core's run finder, carrying the
// unfinished ones over to the next band in the CC state (made by i_initializeCCState; one state
// serves one image). Lines are numbered L = firstLine + lineOffset .. lastLine + lineOffset, line
// L being buffer row L - lineOffset, and the callback sees L as the row; columns firstX .. lastX
// are scanned and reported as they are. Lines at or beyond totalLines read as empty, and a final
// call adds one empty line after the band so that every component finishes. Components narrower
// than minWidth or lower than minHeight are dropped. Returns 2 for a bad argument, 13 when the
// callback stops (its value in *callbackStatus), or a run finder's or cell allocation's status.
VltStatus tcly_findBufCC(IPState* ip, CCState* cc, const uint8_t* buffer, int finalFlag, int32_t lastX,
                         int32_t firstX, int32_t firstLine, int32_t lastLine, int32_t lineOffset, int32_t totalLines,
                         int32_t bytesPerLine, int32_t minWidth, int32_t minHeight, int32_t connectivity,
                         void* userData, CCCallback callback, int* callbackStatus);

// A 1-bit PIXR at 300 dpi with a 32-pixel frame holding the packed rows (their bits beyond the
// width are dropped).
VltStatus packedToPixr(VltState* engine, const uint8_t* rows, int32_t width, int32_t height, int32_t wordsPerRow,
                       PIXR** place);
// A new Packed image of the source's pixels inside a clear frame of the given width on every side.
VltStatus packedAddFrame(VltState* engine, const VltImage* image, int32_t frame, VltImage** place);
// Clears every row of a Packed image.
void packedClear(VltImage* image);
// Divides every cell of a double image by count; 2 (reported) without image or with count 0.
VltStatus getImgDblAverage(VltState* engine, VltImage* sum, int32_t count);

#endif
