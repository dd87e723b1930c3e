#ifndef TOK_TCLY_H
#define TOK_TCLY_H

// The lossy token document: the classifier of the current section, one page record per page,
// the page pipeline for every page added, the dictionary memory limit, and the ends of sections
// (final, partial, or without their last page). It works beside the token document, which gets
// the pages' small components.

#include <stdint.h>

#include "tok_classifier.h"
#include "tok_pagecc.h"
#include "tok_skew.h"
#include "tok_tdoc.h"
#include "vlt_adt.h"
#include "vlt_image.h"

inline constexpr int32_t TCLY_FIRST_PAGES = 15;
inline constexpr int32_t TCLY_FIRST_RESIDUALS = 5000;

struct TclyPage {
  int32_t pageNumber;
  int32_t index;              // in the section; -1 until stored
  uint32_t coding;            // 0: the page can be written as token positions
  VltAdtList* components;     // every lossy, large and picture TokComponent
  int32_t componentCount;
  VltAdtList* large;          // the large ones (also on `components`)
  int32_t largeCount;
  VltAdtList* runStored;      // filled by the section output; released with the page
  int32_t width;
  int32_t height;
  int32_t splitRow;           // 1 when the page was not split
  int32_t xRes;
  int32_t yRes;
  float skewAngle;
  int32_t deskewCount;        // 0
  int32_t memory;             // bytes of the page's new classes
  int32_t memory2;
  int32_t runningCount;       // large and picture components, later the residuals
  VltAdtList* pictures;       // PIXR
  VltAdtList* picturePositions;  // int32_t pairs {x, y}
  CcData* cc;                 // while the page is open
  uint8_t status;
};

struct TclySection {
  uint8_t final;              // 1 after a final end or a roll-back
  int32_t pageCount;
  int32_t pageCapacity;
  TclyPage* pages;
  VltAdtList* classes;        // TokOutput records of the section's end
  int32_t firstPage;
  int32_t memoryUsed;
  uint8_t full;               // the memory limit was reached by the last page
};

struct TclyDoc {
  VltState* state;
  TokParams* params;
  TokState* tok;              // from the first section's start
  uint8_t one;
  uint8_t pictureOption;      // 1: no picture components
  uint8_t tenthSize;
  int32_t minSize;
  int32_t resolution;         // -1: keep the pages' own
  uint8_t optionByte;
  TclyPage page;
  TclySection* section;
  DeskewContext* skew;
  VltAdtList* converted;      // pairs of entries: a VltTokenRecord array, then its count
  int32_t memoryLimit;        // 0 or less: none
  uint8_t unusable;           // non-zero: sections cannot be written as token positions
};

VltStatus tcly_doc_init(VltState* state, TclyDoc** place, uint8_t one, uint8_t pictureOption, int32_t minSize,
                        int32_t resolution, uint8_t tenthSize, TokParams* params, uint8_t optionByte,
                        int32_t memoryLimit, uint8_t word);
VltStatus tcly_doc_startSection(TclyDoc* doc, TclySection* previous, int32_t firstPage, uint8_t word);
VltStatus tcly_doc_addMonoPage(const uint8_t* buffer, TclyDoc* doc, VltTdcDoc* tdoc, int32_t width, int32_t height,
                               int32_t bytesPerLine, int32_t xRes, int32_t yRes, int32_t pageNumber,
                               uint8_t pictures);
VltStatus tcly_startPage(TclyDoc* doc, VltTdcDoc* tdoc, int32_t pageNumber, int32_t width, int32_t height,
                         int32_t xRes, int32_t yRes);
VltStatus tcly_encBufferInPage(TclyDoc* doc, const uint8_t* strip, int32_t width, int32_t stripHeight,
                               int32_t bytesPerLine, int32_t frame, uint8_t lastStrip);
// Stores the page (with store set) and applies the memory limit: over it, the section's full
// byte is set and the page's figures are not added; -1 when a section's only page is over it.
VltStatus tcly_endPage(TclyDoc* doc, VltTdcDoc* tdoc, uint8_t store, uint8_t pictures);
VltStatus tcly_doc_endSection(TclyDoc* doc, TclySection** place, uint8_t final, uint8_t word);
// The last page goes to the next section; 10003 for a section of one page.
VltStatus tcly_doc_endSectionRollBack(TclyDoc* doc, TclySection** place, uint8_t word);
VltStatus tcly_doc_cleanSection(TclyDoc* doc, uint8_t word);
void tcly_doc_freePage(TclyPage* page, uint8_t freeLargeBits, VltState* state);
VltStatus tcly_doc_end(TclyDoc* doc);
// Keeps a section's records until the classifier is rebuilt: the first count records own their
// bitmaps.
VltStatus tcly_doc_keepRecords(TclyDoc* doc, VltTokenRecord* records, uint32_t count);
// A run-stored large component as a packed image; the component is released.
VltStatus convertCC(TokComponent** place, VltImage** image, int32_t* x, int32_t* y, VltState* state);
void tcly_doc_pageInit(TclyPage* page);

VltAdtList* tcly_doc_retrieveBoxList(TclyDoc* doc);
int32_t tcly_doc_retrieveBoxCount(TclyDoc* doc);
VltAdtList* tcly_doc_retrieveClassList(TclySection* section);
VltStatus tcly_doc_tokAddBitmap(TclyDoc* doc, TokBitmap* bitmap);

#endif
