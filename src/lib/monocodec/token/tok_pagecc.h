#ifndef TOK_PAGECC_H
#define TOK_PAGECC_H

// Page components to tokens. A 1-bit page (a buffer with a 32-pixel frame on every side) is cut
// into connected components, each routed by size: larger than the page's limits, a large
// component (kept as a bitmap or as runs, later a generic region); at least minLossySize wide or
// high, a bitmap for the lossy classifier; smaller, a run list for the lossless tokenizer with a
// residual position entry. Component runs reach the callbacks from the image core's finder:
// bottom row first, right to left, columns in framed page coordinates.

#include <stddef.h>
#include <stdint.h>

#include "i_ccruns.h"
#include "i_heap.h"
#include "pixr.h"
#include "tok_ccglue.h"
#include "tok_lltok.h"
#include "tok_skew.h"
#include "tok_types.h"
#include "vlt_adt.h"

// Small pools of the page-component stage.
inline constexpr uint32_t TOK_POOL_LOSSLESS_CC = 5;  // large components of the lossless document
inline constexpr uint32_t TOK_POOL_COMPONENT = 6;    // TokComponent

// Pages must keep their framed coordinates in 16 bits (positions are stored as i16).
inline constexpr int32_t TOK_MAX_PAGE_SIDE = INT16_MAX - 64;
// Pages taller than this are scanned in two parts split at a nearly empty row.
inline constexpr int32_t TOK_SPLIT_MIN_HEIGHT = 501;

// One component of a page: a lossy or large component, or (from pool 5) a large component of the
// lossless document.
struct TokComponent {
  TokBitmap bitmap;       // bits null while kept as runs; owner = this record until the section
                          // output names the token record that places the component there (the
                          // bits are then its class's, not the component's)
  int32_t x;              // left column on the page
  int32_t y;              // top row; the bottom row for a large component kept as a bitmap
  void* sharedBitmap;     // the deskew facility's shared record (DeskewSharedBitmap), which
                          // the page releases
  int32_t pageNumber;
  // The count before the pointer keeps the record inside a pool block on 64-bit hosts.
  int32_t runCount;
  uint16_t* runs;         // large components kept as runs: pairs (first - x, last - x), page order
};
static_assert(offsetof(TokComponent, bitmap) == 0, "a component starts with the classifier's header");
static_assert(sizeof(TokComponent) <= VLT_POOL_BLOCK_SIZE, "components are pool blocks");

// Where a lossless component sits, and the word stored for its token.
struct ResidualPos {
  VltTokenRecord* token;
  uint32_t zero;
  int16_t x;              // left column on the page
  int16_t bottom;         // bottom row on the page
};

// The lossless side of a page: what small components are handed to.
struct VltLlCCData {
  int32_t componentCount;     // lossless components
  VltLlTokState* tokenizer;
  ResidualPos* residuals;     // engine allocator
  int32_t residualCount;
  int32_t residualCapacity;
  VltAdtList* large;          // large components (lossless document)
  int32_t maxWidth;
  int32_t maxHeight;
  VltState* engine;
  VltTokBlock* tokBlock;
  VltPosBlock* posBlock;
  int32_t pageIndex;          // of the page in the lossless section
  int32_t memory;             // bytes charged for new lossless tokens
  int32_t memory2;
};

// One open page.
struct CcData {
  int32_t componentCount;     // lossy and large components: the length of `components`
  int32_t pageNumber;
  int32_t memory;             // bytes charged for new lossy classes and large bitmaps
  int32_t memory2;
  VltAdtList* components;     // every lossy and large TokComponent
  VltAdtList* large;          // the large ones
  int32_t largeCount;
  int32_t xRes, yRes;         // dots per inch
  int32_t maxWidth;           // larger components are large components
  int32_t maxHeight;
  VltLlCCData lossless;
  int32_t widthThreshold;     // components at least this wide or high are classified lossily
  int32_t heightThreshold;
  int32_t memoryLimit;        // charging only above 0
  VltState* engine;
  TokState* tok;
  uint8_t lowerPart;          // 1 while the lower part of a split page is scanned
  int32_t splitRow;           // 1 when the page is not split
  CCState* cc;                // the strip finder's state
  HeapManager* heap;
  int32_t stripRow;           // page row of the next strip
  uint8_t status;
  int32_t pageWidth;
  int32_t pageHeight;
};

// A record for one page. Pages beyond TOK_MAX_PAGE_SIDE are refused with 2. Components wider or
// higher than the limits (the page, or a tenth of it with tenthSize) are large; so are those the
// classifier cannot take (TOK_MAX_BITMAP_SIDE). 121 without wrapper state, 1 without memory.
VltStatus ccDataInit(VltState* engine, int32_t pageNumber, int32_t memoryLimit, int32_t xRes, int32_t yRes,
                     int32_t widthThreshold, int32_t heightThreshold, int32_t splitRow, TokState* tok,
                     uint8_t tenthSize, int32_t pageWidth, int32_t pageHeight, CcData** place);
// Frees the record and its finder state; the component lists and the residual array are the
// page's by then and stay.
void ccDataCleanup(VltState* engine, CcData** place);

// Components of a whole framed page (height + 64 rows of bytesPerLine bytes, which must be the
// wrapper's line length for the width): measures the skew when a context is given, splits pages
// taller than 500 rows (without a skew context), routes every component at least minSize wide
// and high through the callback (null: MakeModelsFromRuns) and sizes the residual array for the
// later position lists. Hands out two empty picture lists. On failure the status of the failing
// step (a callback's own status rather than the finder's 13); the residual array is freed, and
// components already made stay in the record's lists for the caller to release with the page.
// With CPU accumulators the user time of the scan is added to them.
VltStatus getBoxesLossy(VltState* engine, const uint8_t* buffer, int32_t width, int32_t height, int32_t bytesPerLine,
                        int32_t minSize, uint8_t pictureOption, DeskewContext* skew, float* skewAngle,
                        VltAdtList** pictures, VltAdtList** picturePositions, CCCallback callback, CcData* cc,
                        int64_t* cpuSeconds, int64_t* cpuMicroseconds);

// One strip of a page (stripHeight rows inside a 32-pixel frame) through the record's finder
// state, continuing the components of the strips before; the last strip finishes them and sizes
// the residual array. Strips must lie inside the page given to ccDataInit.
VltStatus getBoxesfromBuffer(VltState* engine, const uint8_t* strip, int32_t width, int32_t stripHeight,
                             int32_t bytesPerLine, int32_t frame, uint8_t lastStrip, int32_t minWidth,
                             int32_t minHeight, int32_t slack, CcData* cc);

// The page callback (user data: the CcData) and the one that only collects bitmaps.
int MakeModelsFromRuns(IPState* ip, void* data, int32_t x, int32_t y, int32_t width, int32_t height,
                       int32_t pixels, int32_t runCount, CCRun* runs);
int MakeModelsFromRunsWithoutTellingTokenizer(IPState* ip, void* data, int32_t x, int32_t y, int32_t width,
                                              int32_t height, int32_t pixels, int32_t runCount, CCRun* runs);
// Paints the finder's runs into the component's bits (allocated when absent); x is the
// component's left column in the runs' coordinates. 10003 for a run outside the component.
VltStatus RunsToBitmap(TokComponent* component, const CCRun* runs, int32_t x, VltState* engine);

// The row at which a page taller than 500 rows is split: the emptiest row near the middle,
// clamped to 1 .. height - 1 (1 when the top and bottom are nearly solid).
VltStatus getSectionHeight(VltState* engine, const PIXR* page, int32_t pageWidth, int32_t* splitRow);

VltStatus VltLlCCData_init(VltState* engine, VltLlCCData* place, int32_t componentCount, VltLlTokState* tokenizer,
                           ResidualPos* residuals, int32_t residualCount, int32_t residualCapacity,
                           VltAdtList* large, int32_t maxWidth, int32_t maxHeight, VltTokBlock* tokBlock,
                           VltPosBlock* posBlock, int32_t pageIndex, int32_t memory, int32_t memory2);

// Components of a whole framed page for the lossless document: every one within the limits goes
// to the tokenizer, larger ones become pool-5 TokComponents kept as runs. Hands out the residual
// positions (null when none) and the large list (null for an empty page; without a place the
// large components are freed). Empty pages give 0 and nothing.
VltStatus VltCC_getBoxes(VltState* engine, int32_t* residualCount, ResidualPos** residuals, VltAdtList** large,
                         VltLlTokState* tokenizer, const uint8_t* bits, int32_t width, int32_t height,
                         int32_t maxWidth, int32_t maxHeight, int32_t bytesPerLine, VltTokBlock* tokBlock,
                         VltPosBlock* posBlock, int32_t pageIndex, int32_t minSize, uint8_t progress);

// Frees a component and what it holds, back to its pool.
void tok_freeComponent(VltState* engine, TokComponent* component, uint32_t pool);

#endif
