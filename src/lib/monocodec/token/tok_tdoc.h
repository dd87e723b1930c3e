#ifndef TOK_TDOC_H
#define TOK_TDOC_H

// The token document: the lossless half of an engine run. It owns the lossless tokenizer across
// the run's sections and, for the current section, the page records with their lossless token
// positions and residual token records. Sections are started, ended (partially, keeping the
// tokens resumable for the next section, or finally) and rolled back in step with the lossy
// token document.

#include <stdint.h>

#include "tok_ccglue.h"
#include "tok_colorcc.h"
#include "tok_lltok.h"
#include "tok_tokrec.h"
#include "tok_types.h"
#include "vlt_image.h"
#include "vlt_adt.h"
#include "vlt_state.h"

// Bytes a page record counts for in a section's memory figure, whatever its size here.
inline constexpr uint32_t VLT_TDC_PAGE_CHARGE = 92;
inline constexpr uint32_t VLT_TDC_FIRST_PAGES = 15;
inline constexpr uint32_t VLT_TDC_FIRST_TOKENS = 50;
inline constexpr uint32_t VLT_TDC_FIRST_POSITIONS = 100;
inline constexpr uint16_t VLT_TDC_PAGE_SLOTS = 301;

struct VltTdcPage {
  uint32_t pageNumber;
  int32_t mark;                   // -1 while the page is filled
  uint32_t posCount;
  VltPosRecord* positions;        // the lossless positions, later extended by the lossy instances
  uint32_t width, height;
  uint32_t xRes, yRes;
  uint8_t ownsExtra;
  void* extra;                    // released with the page when owned
  uint32_t extraCount;            // counted at 12 bytes each
  VltAdtList* outliers;           // boxes the box finder could not place; empty when stored
  uint32_t blockCount;
  uint32_t* sizedBlocks;          // blockCount entries of three words, the third a byte size
  VltTokenRecord* tokenRecords;   // the page's single-use tokens
  uint32_t tokenRecordCount;
  uint32_t tokenRecordCapacity;
  int32_t memory;                 // -1 until computed
  int32_t llMemory;               // bytes charged for the page's new lossless tokens
  int32_t llMemory2;
};

struct VltTdcSection {
  uint32_t pageCount;
  uint32_t pageCapacity;
  VltTdcPage* pages;
  VltPosBlock* posBlock;          // one entry per lossless occurrence: {position index, page index}
  VltTokBlock* tokBlock;          // per token index: the token's section-wide record
  uint32_t tokenCount;            // tokens the token block holds from earlier sections
  VltAdtList* tokenizerOutput;    // the tokens handed out at the section's end
  VltAdtList* list;
  uint32_t docWords[2];
  void* owned;
  uint32_t pending;
  uint32_t memory;
  uint8_t final;                  // 1 after a final end or a roll-back
};

struct VltTdcDoc {
  VltState* state;
  uint8_t byteA;
  uint8_t colourComponents;
  uint32_t byteE;                 // non-zero: a reused section must have nothing pending
  uint32_t docWord;
  uint32_t wordE;
  VltLlTokState* tokenizer;       // while one runs
  uint32_t reserved[2];
  VltTdcPage page;                // the page being filled
  ColorCCFinder* colourCC;
  uint16_t pageSlots;
  VltTdcSection* section;
  void* options;                  // its first two words are the tokenizer's options
};

// 2 without state, 118 without place, 10003 when pool 5 blocks are too small, 1 without memory.
VltStatus VltTdc_initDoc(VltState* state, VltTdcDoc** place, uint8_t byteA, uint8_t colourComponents, uint32_t byteE,
                         uint32_t docWord, uint16_t pageSlots, uint32_t zero1, uint32_t zero2, uint32_t wordD,
                         uint32_t wordE, uint8_t sectionMode);
// Continues the tokenizer with the previous section's kept tokens (a fresh one after a final
// section) and reuses the previous section's record; without a previous section a new record is
// made, which is only allowed before the tokenizer first runs.
VltStatus VltTdc_startSection(VltTdcDoc* doc, VltTdcSection* previous, uint8_t sectionMode);
VltStatus VltTdc_endSection(VltTdcDoc* doc, VltTdcSection** place, uint8_t final, uint8_t sectionMode);
// Ends the section without its last page, whose tokens and record are dropped; 10003 when the
// section has only that page.
VltStatus VltTdc_endSectionRollBack(VltTdcDoc* doc, VltTdcSection** place, uint8_t sectionMode);
VltStatus VltTdc_endDoc(VltTdcDoc** place, VltTdcSection* section);

// Tokenizes a whole framed page into the current section.
VltStatus VltTdc_addMonoPage(VltTdcDoc* doc, uint32_t pageNumber, const uint8_t* buffer, int32_t width,
                             int32_t height, int32_t bytesPerLine, uint32_t xRes, uint32_t yRes, uint8_t verbose);
// Bytes the current section's pages and the tokenizer hold; page figures are cached.
uint32_t tdoc_computeMemUsage(VltTdcDoc* doc);

// Clears a page record for filling.
void VltTdc_pageInit(VltTdcPage* page);
// Releases what a page record owns: its owned extra block, positions, sized blocks, outliers and
// token records with their bitmaps.
void VltTdc_freePage(VltState* state, VltTdcPage* page);
// Appends a copy of the record to the section's pages, growing the array by half when full.
VltStatus VltTdc_storePage(VltState* state, VltTdcSection* section, const VltTdcPage* page);

// Turns the tokenizer's hand-out list into token records: tokens used more than once become
// section-wide records (extra more entries are left after them), tokens used once records of
// their page (pageExtra[p] more entries on page p). Every position record of an occurrence
// then points at its token's record. Unless final, tokens used more than once stay in the list,
// renumbered densely after the section's earlier tokens.
VltStatus createTokensNew(VltState* state, VltAdtList* list, VltTdcSection* section, VltTokenRecord** records,
                          uint32_t* count, uint8_t final, uint32_t extra, const uint32_t* pageExtra);
// An object that a placement may refer to.
inline constexpr uint8_t VLT_SUB_KIND_IMAGE = 3;        // the kind of reference makeSubIFDs takes out
inline constexpr uint32_t VLT_SUB_HAS_BITMAP = 0x01;    // the object's bitmap is drawn into the record
inline constexpr uint32_t VLT_SUB_STAYS = 0x20;         // the object stays among the placements
struct VltSubObject {
  uint32_t id;
  uint32_t width;               // carried into the sub-image record
  uint32_t height;
  const TokBitmap* bitmap;      // read under VLT_SUB_HAS_BITMAP
  uint32_t flags;
};
// Where a placement puts its object; the first two words are the placement owner's.
struct VltSubPlacement {
  uint32_t words[2];
  uint16_t x;
  uint16_t y;
};
static_assert(sizeof(VltSubPlacement) == 12, "placements are 12-byte records");
struct VltSubRef {
  VltSubObject* object;
  uint8_t kind;
};
// One sub-image taken out of the placements (a small-pool block).
struct VltSubIFD {
  uint16_t x, y;
  VltSubObject* object;
  VltImage* image;              // the object's bitmap inside a 32-pixel frame (wrapped), or null
  int32_t lineWords;            // the image's words per line
  int32_t xOffset;              // bit offset of the bitmap's first pixel past the frame
  uint32_t width, height;       // the object's
};
inline constexpr uint32_t VLT_SUBIFD_POOL = 5;
static_assert(sizeof(VltSubIFD) <= VLT_POOL_BLOCK_SIZE, "sub-image records live in small-pool blocks");

// Moves every placement whose reference is of kind VLT_SUB_KIND_IMAGE and whose object does not
// have VLT_SUB_STAYS out of the two parallel arrays (the last entry takes its slot, *count goes
// down) into a sub-image record appended to list. On a failure the placements moved so far stay
// in the list and the failing one stays in the arrays.
VltStatus makeSubIFDs(VltState* state, VltSubPlacement* placements, int32_t* count, VltSubRef* refs, VltAdtList* list);
// Releases the sub-image records of a list made by makeSubIFDs, their images, and the list.
VltStatus freeSubIFDs(VltState* state, VltAdtList* list);

// 1 when a run list ({first, length} pairs and row markers) paints a filled rectangle.
int isRect(const uint16_t* runs, int32_t count);

#endif
