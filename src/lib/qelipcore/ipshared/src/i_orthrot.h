#ifndef I_ORTHROT_H
#define I_ORTHROT_H

// Rotation of framed images of 1, 2, 4 or 8 bits per pixel by a quarter turn clockwise (90),
// counter-clockwise (270) or a half turn (180), into a second buffer or within the image's own
// buffer. With the source W x H, destination pixel (x', y') takes source pixel (y', H-1-x') at
// 90 degrees, (W-1-y', x') at 270 and (W-1-x', H-1-y') at 180.
//
// Quarter turns cut the source into tile rows of whole strips (the source lines that fill one
// 32-bit destination word) and tile columns of whole bytes, and transpose each strip-by-byte
// block through a spread table so that every destination word is assembled in registers and
// stored once. They read the source's frame where strips and bytes reach past the image and
// write what they read there into the destination's frame, so clear source frames give clear
// destination frames. The half turn reverses lines word by word and writes only the words that
// hold image pixels, with the bits after each line's last pixel cleared.

#include <stddef.h>
#include <stdint.h>

#include "ipstate.h"

#ifdef __cplusplus
extern "C" {
#endif

// Copy forms: imageAll pointers are the framed buffers' starts, framed sizes the source's. The
// destination of a quarter turn is a framed buffer H+64 pixels wide and W+64 lines high; buffers
// must not overlap (2). The half turn works in place when both first pixels are the same.
// Depths other than 1, 2, 4, 8: 8; negative image sizes: 112; an empty image: nothing done.
VltStatus i_fastRot90(IPState* state, uint8_t* dstImageAll, const uint8_t* srcImageAll,
                      int32_t framedWidth, int32_t framedHeight, int32_t srcBpl, int32_t dstBpl,
                      int32_t depth);
VltStatus i_fastRot270(IPState* state, uint8_t* dstImageAll, const uint8_t* srcImageAll,
                       int32_t framedWidth, int32_t framedHeight, int32_t srcBpl, int32_t dstBpl,
                       int32_t depth);
VltStatus i_fastRot180(IPState* state, uint8_t* dstImageAll, const uint8_t* srcImageAll,
                       int32_t framedWidth, int32_t framedHeight, int32_t srcBpl, int32_t dstBpl,
                       int32_t depth);

// In-place quarter turns: the source is turned band by band, from its bottom up, through the
// scratch image (a framed image of the same depth at least W lines high), and the bands are
// packed at the end of the buffer (last usable byte bufferLastByte) before the result is laid
// out with clear 32-pixel frames at newImageAll, H+64 pixels wide, W+64 lines high, with the
// line length i_calcImageProperties gives for it. Every band and the final layout are checked
// before a pixel moves: a failure leaves the image as it was. Status 7 when the scratch line
// holds no band, 2 when the rotated layout does not fit before bufferLastByte, 1 when memory for
// a fallback copy is needed and not available.
VltStatus i_fastRot90InPlace(IPState* state, uint8_t* scratchImageAll, uint8_t* srcImageAll,
                             uint8_t* bufferLastByte, uint8_t* newImageAll, int32_t framedWidth,
                             int32_t framedHeight, int32_t scratchFramedWidth, int32_t srcBpl,
                             int32_t scratchBpl, int32_t depth);
VltStatus i_fastRot270InPlace(IPState* state, uint8_t* scratchImageAll, uint8_t* srcImageAll,
                              uint8_t* bufferLastByte, uint8_t* newImageAll, int32_t framedWidth,
                              int32_t framedHeight, int32_t scratchFramedWidth, int32_t srcBpl,
                              int32_t scratchBpl, int32_t depth);

// Byte width of one tile row in the destination: 16, 32, 32, 64 for 1, 2, 4, 8 bpp, else 8.
VltStatus ip_getOrthDestSTWidth(IPState* state, int32_t depth, int32_t* width);

// Spread tables, 256 words from slot 0 (calloc): 1 bpp bit j to bit 4j, 2 bpp field j to the
// low bits of byte j, 4 bpp nibble j to the low nibble of half-word j; 8 bpp needs none (null,
// status 0). Other depths: 8. A null state or failed allocation: 1 with a null table.
VltStatus ip_makeRotTable(IPState* state, uint32_t** table, int32_t depth);
VltStatus ip_make4bppRotTable(IPState* state, uint32_t** table);

// The state of one quarter turn, from Setup to Finish.
typedef struct QuarterTurnRecord {
  int32_t tileRows;
  int32_t tileColumns;
  int32_t srcBpl;
  int32_t depth;
  int32_t partialStrips;       // strips of the partial tile row (last for 90, first for 270)
  int32_t stripsPerTileRow;
  int32_t lastColumnBytes;
  int32_t bytesPerTileColumn;
  ptrdiff_t partialRowSrcStep; // 270 only
  ptrdiff_t tileRowSrcStep;
  ptrdiff_t tileColumnSrcStep;
  ptrdiff_t stripSrcStep;
  ptrdiff_t blockReturnStep;   // from the last line of a block to the first of the next byte
  const uint8_t* tileRowSrc;
  const uint8_t* tileSrc;
  int32_t dstBpl;
  ptrdiff_t tileColumnDstStep;
  ptrdiff_t partialRowDstStep; // 270 only
  ptrdiff_t tileRowDstStep;
  ptrdiff_t stripDstStep;
  uint8_t* tileDst;
  uint8_t* tileRowDst;
  uint32_t* spreadTable;
} QuarterTurnRecord;

typedef VltStatus (*QuarterTurnTileProc)(IPState* state, int32_t tileRow, int32_t tileColumn,
                                         QuarterTurnRecord* record);

// Setup turns at most maxLines source lines (the bottom ones) and reports how many it took.
VltStatus ip_fastRot90Setup(IPState* state, const uint8_t* srcFirstPixel, int32_t width,
                            int32_t height, int32_t depth, int32_t srcBpl, uint8_t* dstFirstPixel,
                            int32_t maxLines, int32_t dstBpl, int32_t* tileRows,
                            int32_t* tileColumns, int32_t* linesDone, QuarterTurnRecord** record,
                            QuarterTurnTileProc* superTileProc);
VltStatus ip_fastRot90LoopTop(IPState* state, int32_t tileRow, int32_t tileColumn, QuarterTurnRecord* record);
VltStatus ip_fastRot90SuperTile(IPState* state, int32_t tileRow, int32_t tileColumn, QuarterTurnRecord* record);
VltStatus ip_fastRot90LoopBottom(IPState* state, int32_t tileRow, int32_t tileColumn, QuarterTurnRecord* record);
VltStatus ip_fastRot90Finish(IPState* state, QuarterTurnRecord** record);
VltStatus ip_fastRot270Setup(IPState* state, const uint8_t* srcFirstPixel, int32_t width,
                             int32_t height, int32_t depth, int32_t srcBpl, uint8_t* dstFirstPixel,
                             int32_t maxLines, int32_t dstBpl, int32_t* tileRows,
                             int32_t* tileColumns, int32_t* linesDone, QuarterTurnRecord** record,
                             QuarterTurnTileProc* superTileProc);
VltStatus ip_fastRot270LoopTop(IPState* state, int32_t tileRow, int32_t tileColumn, QuarterTurnRecord* record);
VltStatus ip_fastRot270SuperTile(IPState* state, int32_t tileRow, int32_t tileColumn, QuarterTurnRecord* record);
VltStatus ip_fastRot270LoopBottom(IPState* state, int32_t tileRow, int32_t tileColumn, QuarterTurnRecord* record);
VltStatus ip_fastRot270Finish(IPState* state, QuarterTurnRecord** record);

// One strip, byteCount byte columns: srcLine is the strip's first line read (the bottom line at
// 90 degrees, the top line at 270) at its first byte; dst the word of the first destination
// line written (the topmost at 90 degrees, the bottommost at 270).
void ip_rotateBlock90(IPState* state, const uint8_t* srcLine, int32_t srcBpl, uint8_t* dst,
                      int32_t dstBpl, const uint32_t* spreadTable, int32_t byteCount,
                      ptrdiff_t returnStep, int32_t depth);
void ip_rotateBlock270(IPState* state, const uint8_t* srcLine, int32_t srcBpl, uint8_t* dst,
                       int32_t dstBpl, const uint32_t* spreadTable, int32_t byteCount,
                       ptrdiff_t returnStep, int32_t depth);
void ip_rotate48Block90(IPState* state, const uint8_t* srcLine, int32_t srcBpl, uint8_t* dst,
                        int32_t dstBpl, const uint32_t* spreadTable, int32_t byteCount,
                        ptrdiff_t returnStep, int32_t depth);
void ip_rotate48Block270(IPState* state, const uint8_t* srcLine, int32_t srcBpl, uint8_t* dst,
                         int32_t dstBpl, const uint32_t* spreadTable, int32_t byteCount,
                         ptrdiff_t returnStep, int32_t depth);

// The state of one half turn.
typedef struct LineReversalRecord {
  const uint8_t* srcLine;  // first pixel of the current source line
  uint8_t* dstLine;        // first pixel of the current destination line (from the bottom)
  int32_t srcBpl;
  int32_t dstBpl;
  int32_t leftShift;       // (32 - W x depth mod 32) mod 32
  int32_t lastWordBits;    // W x depth mod 32
  int32_t wordsPerLine;
  int32_t linesLeft;
  const uint8_t* reverseTable;
} LineReversalRecord;

typedef VltStatus (*LineReversalProc)(IPState* state, LineReversalRecord* record);

VltStatus ip_fastRot180Setup(IPState* state, const uint8_t* srcFirstPixel, int32_t width,
                             int32_t height, int32_t depth, int32_t srcBpl, uint8_t* dstFirstPixel,
                             int32_t dstBpl, LineReversalRecord** record, LineReversalProc* lineProc);
VltStatus ip_fastRot180LoopTop(IPState* state, LineReversalRecord* record);
VltStatus ip_fastRot180LoopBottom(IPState* state, LineReversalRecord* record, int32_t* linesLeft);
VltStatus ip_fastRot180Finish(IPState* state, LineReversalRecord** record);
// Each does all lines in one call: copies into another buffer, or exchanges lines i and H-1-i
// in place, with or without the shift that puts the first pixel back at the line start.
VltStatus ip_reverseLineNoShift(IPState* state, LineReversalRecord* record);
VltStatus ip_reverseLineShift(IPState* state, LineReversalRecord* record);
VltStatus ip_reverseLinesSwapNoShift(IPState* state, LineReversalRecord* record);
VltStatus ip_reverseLinesSwapShift(IPState* state, LineReversalRecord* record);
// The static 256-byte table that reverses the pixels of a byte at this depth (the identity for
// depths other than 1, 2 and 4).
const uint8_t* ip_reverseTableForDepth(int32_t depth);

#ifdef __cplusplus
}
#endif

#endif
