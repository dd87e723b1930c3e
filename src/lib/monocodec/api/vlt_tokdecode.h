#ifndef VLT_TOKDECODE_H
#define VLT_TOKDECODE_H

// Embedded JBIG2 streams (no file header, as layers carry them) read back into what the token
// decoder draws: a decoded symbol dictionary, and for a page a flat list of bitmaps placed on it.
// Text-region instances become placements of their symbols (or refined bitmaps), generic and
// halftone regions placements of their region bitmaps; every placement is clipped to its region
// and the page, as a T.88 decoder clips it. Pages that placements cannot express (refinement of
// regions, combination operators other than OR, a black default pixel) are composed region by
// region through the codec's page renderers instead.
//
// Every byte is untrusted: the segment decoders bound what they read, and a stream that fails
// leaves nothing behind in the caller's lists.

#include <stdint.h>

#include "jb2_decode.h"
#include "tok_tokrec.h"
#include "vlt_adt.h"
#include "vlt_state.h"

/* A bitmap placed on a page: top-left corner at (x, y), drawn only inside [left, right) x
   [top, bottom). The bits belong to a symbol, an instance's refinement or a region bitmap. */
struct Jb2TokPosition {
  int32_t x;
  int32_t y;
  int32_t width;
  int32_t height;
  const uint8_t* bits;
  int32_t wordsPerRow;
  int32_t left, top, right, bottom;
};

/* Decodes segments from the stream until its first symbol dictionary, which is handed out (a
   record from the state's allocator, freed with jb2FreeSegmentInfo and the state's free). The
   segments before it (code tables it uses) are released. A stream without a symbol dictionary
   fails with the header reader's short-data status; nothing is handed out on failure. */
VltStatus jb2_decodeTokDictSeg(SegmentInfo** dict, const uint8_t* bytes, uint32_t length, VltState* state);

/* Reads the segments of one page stream into the list, which holds the dictionaries they may
   refer to; reading stops at the data's end or at an end-of-page or end-of-file segment. The
   context decodes them and must outlive their rendering. On failure every segment this call
   added is released and the list is as it was. */
VltStatus jb2_readTokPage(Jb2File* file, const uint8_t* bytes, uint32_t length, VltAdtList* list);

/* True when the page segments after node `last` (null: the whole list) can be drawn as OR
   placements to the same pixels a T.88 decoder composes. */
bool jb2_tokPlacementsExact(const VltAdtList* list, const VltAdtListNode* last);

/* The placements of the page segments after `last`, in stream order, clipped to the page (the
   page information's size, else clipWidth x clipHeight): text-region instances, then generic and
   halftone region bitmaps (rendered here). *positions is a new array from the state's allocator
   (null when there is nothing to draw) that the caller frees; the bits stay the segments'. */
VltStatus jb2_tokPlacements(Jb2File* file, const VltAdtList* list, const VltAdtListNode* last, int32_t clipWidth,
                            int32_t clipHeight, Jb2TokPosition** positions, int32_t* count);

/* Composes the page segments after `last` as a T.88 decoder does (page information with its
   default pixel, every immediate region at its place with its combination operator, refinement
   included) and ORs the page into the destination rows (dstWords words apart), clipped to
   clipWidth x clipHeight. */
VltStatus jb2_composeTokPage(Jb2File* file, const VltAdtList* list, const VltAdtListNode* last, uint8_t* dst,
                             int32_t clipWidth, int32_t clipHeight, int32_t dstWords);

/* Releases the segments of the list after node `last` (null: all of them) and their records. */
void jb2_releaseTokSegments(VltAdtList* list, VltAdtListNode* last, VltState* state);

/* Reads a page stream against the list (see jb2_readTokPage) and hands out its placements (see
   jb2_tokPlacements) with the page's segments left in the list for the caller to release. */
VltStatus jb2_decodeTokPositions(Jb2TokPosition** positions, int32_t* count, const uint8_t* bytes, uint32_t length,
                                 VltAdtList* list, int32_t clipWidth, int32_t clipHeight, VltState* state);

/* The exported-symbol count of the stream's first symbol dictionary, read from the segment
   headers and the dictionary's data header alone. -1 on failure: 7 when there is no symbol
   dictionary, 2003 when its header is cut short, else the header reader's status. */
VltStatus jb2_getTokenCount(const uint8_t* bytes, uint32_t length, VltState* state, int32_t* count);
/* The same for the instance count of the first text region. */
VltStatus jb2_getTokPosCount(const uint8_t* bytes, uint32_t length, VltState* state, int32_t* count);

/* Decodes the first symbol dictionary into the caller's token records, which must hold
   capacity entries (jb2_getTokenCount tells how many the dictionary has; fewer is 2). Record k
   takes symbol k's bitmap (the record owns it then), width, height and row words. */
VltStatus jb2_decodeTokDict(VltTokenRecord* records, int32_t capacity, const uint8_t* bytes, uint32_t length,
                            VltState* state);

/* The payload of the stream's first extension segment before any end of page: *payload (the
   caller's, from the state's allocator), its length and the extension type; null, 0 and 0 when
   there is none. */
VltStatus jb2_decodeBinExtension(uint8_t** payload, uint32_t* payloadLength, uint32_t* type, const uint8_t* bytes,
                                 uint32_t length, VltState* state);

#endif
