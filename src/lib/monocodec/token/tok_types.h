#ifndef TOK_TYPES_H
#define TOK_TYPES_H

// Records of the lossy token classifier. Bitmaps are rows of big-endian 32-bit words (first pixel
// in the most significant bit, 1 = black) addressed by a byte pointer and a stride in words; read
// them only through mono::load_be32/store_be32. Every model keeps `margin` clear columns on its
// left, so that its dilation never needs a column left of 0.

#include <stddef.h>
#include <stdint.h>

#include "tok_params.h"
#include "vlt_adt.h"
#include "vlt_image.h"
#include "vlt_state.h"

// Small pools the classifier takes its records from.
inline constexpr uint32_t TOK_POOL_PIXEL_SUM = 2;
inline constexpr uint32_t TOK_POOL_MODEL = 3;
inline constexpr uint32_t TOK_POOL_BOX = 4;

// Class frames keep coordinates in 16 bits with room for borders and offsets, so no side of a
// bitmap handed to the classifier may exceed this.
inline constexpr uint32_t TOK_MAX_BITMAP_SIDE = 16383;

// A packed bitmap: a component's model, or an edge image (the complement of a model's dilation).
struct TokModel {
  uint32_t width;         // pixels per row, the margin included
  uint32_t height;
  uint32_t wordsPerLine;
  uint8_t* bits;          // from the engine allocator
  uint32_t pixelCount;    // black pixels; for an edge image, the pixels of the dilated shape
  uint32_t edgeCount;     // boundary pixels of a model (unset for an edge image)
};

// One component, or a class exemplar.
struct TokBox {
  uint32_t width;         // without the margin: the grid column of an exemplar
  uint32_t height;        // the grid row of an exemplar
  TokModel* model;        // null once the box's class is committed
  TokModel* edge;         // null once the box's class is committed
  int16_t xOffset;        // origin of the box in its class frame
  int16_t yOffset;
  uint32_t pixelCount;    // never 0
  void* owner;            // the caller's word, handed back with the member
};

// Per-position member counts of a class, in class-frame coordinates.
struct TokPixelSum {
  VltImage* histogram;    // 8-bit (narrow) or 16-bit cells; null below sumStart members
  int16_t xmin, ymin, xmax, ymax;  // bounds of every member's black pixels
  int32_t count;          // members summed, at most 32767
  uint8_t narrow;         // 1 while the cells are 8-bit
};

// Class flags.
enum : uint32_t {
  TOK_CLASS_COMMITTED = 1,
  TOK_CLASS_SATURATED = 2,
  TOK_CLASS_OWNS_EXEMPLAR = 4,
  TOK_CLASS_EXEMPLAR_CURRENT = 8,
  TOK_CLASS_CHECKED = 16,
  TOK_CLASS_RESUMED = 32,
  TOK_CLASS_UNCHANGED = 64,
  TOK_CLASS_SCANNED = 128,
};

struct TokClass {
  VltAdtList* members;    // TokBox pointers, in joining order
  TokBox* exemplar;       // a member, or a box of the class's own (TOK_CLASS_OWNS_EXEMPLAR)
  TokPixelSum* sum;       // null while the class has one member
  uint32_t flags;
  void* outputRef;        // the output layer's reference, carried across sections
};

// One row of the class grid: cells indexed by exemplar width, each null or a list of classes.
// Rows grow to the widest exemplar filed in them, so a tall thin class costs one short row.
struct TokGridRow {
  int32_t columns;
  VltAdtList** cells;
};

// The classes, filed by exemplar size: row = height, column = width.
struct TokClassTable {
  TokGridRow* rows;       // null until the first class is filed
  int32_t rowCount;
  uint32_t count;         // classes filed
};

// One step of the search order over neighbouring grid cells.
struct TokOrderPair {
  int32_t dw;
  int32_t dh;
};

// The bitmap header the classifier takes in.
struct TokBitmap {
  uint16_t width;
  uint16_t height;
  uint8_t* bits;          // rows of big-endian 32-bit words, from the engine allocator
  uint16_t wordsPerLine;
  void* owner;            // stored with the bitmap and handed back in the output
};

// A member of an output record under TOK_FLAG_MEMBER_POS.
struct TokMemberPos {
  int16_t dx;             // the member's offset in its class frame
  int16_t dy;
  void* owner;
};

// One class handed out at the end of a section. It starts with a TokBitmap, so tokResume can
// make its exemplar box from it again.
struct TokOutput {
  TokBitmap exemplar;     // the tight exemplar; its owner word is always null
  uint8_t narrow;         // 1 without a pixel sum
  int32_t sampleCount;    // members summed (only under TOK_FLAG_PIXEL_SUMS)
  VltImage* histogram;    // the pixel sum's cells, or null
  VltAdtList* members;    // TokMemberPos entries, or the members' owner words
  void* dictRef;          // the class's output reference, carried back by tokResume
};

// The classifier state.
struct TokState {
  // Words 0 to 13 of the parameters, word 13 as the frame margin it gives.
  float matchFraction;
  int32_t maxDense;
  int32_t widthDiff;
  int32_t heightDiff;
  int32_t commitCount;
  int32_t sumLimit;
  int32_t sumStart;
  int32_t sumOutputMin;
  int32_t maxShift;
  int32_t thresholdOffset;
  int32_t thresholdKnee;
  int32_t minLossySize;
  float thresholdSlope;
  int32_t margin;
  int32_t radiusCode;     // word 13 as given: a margin, or a radius code under flag 32
  uint32_t flags;
  VltState* engine;
  TokMergeHook mergeHook;
  void* mergeHookData;
  TokClassTable table;
  TokOrderPair* order;    // built on first use
  int32_t orderCount;
  // Scratch of the exemplar builder, grown on demand.
  size_t pixelCountsCapacity;
  int32_t* pixelCounts;
  size_t levelCountsCapacity;
  int32_t* levelCounts;
};

static_assert(sizeof(TokModel) <= VLT_POOL_BLOCK_SIZE, "models are pool blocks");
static_assert(sizeof(TokBox) <= VLT_POOL_BLOCK_SIZE, "boxes are pool blocks");
static_assert(sizeof(TokClass) <= VLT_POOL_BLOCK_SIZE, "classes are pool blocks");
static_assert(sizeof(TokPixelSum) <= VLT_POOL_BLOCK_SIZE, "pixel sums are pool blocks");
static_assert(offsetof(TokOutput, exemplar) == 0, "an output record starts with its bitmap");

// Row y of a packed bitmap.
inline uint8_t* tok_row(uint8_t* bits, uint32_t wordsPerLine, uint32_t y) {
  return bits + static_cast<size_t>(y) * wordsPerLine * 4;
}
inline const uint8_t* tok_row(const uint8_t* bits, uint32_t wordsPerLine, uint32_t y) {
  return bits + static_cast<size_t>(y) * wordsPerLine * 4;
}

// Pool blocks through the engine state.
inline VltStatus tok_pool_take(VltState* s, uint32_t pool, void** place) {
  return s->smallAlloc(s->smallContext, pool, place);
}
inline void tok_pool_give(VltState* s, uint32_t pool, void* block) {
  s->smallFree(s->smallContext, pool, block);
}

#endif
