#ifndef VLT_DECODER_H
#define VLT_DECODER_H

/* The token decoder: symbol dictionaries decoded once, lists of them that pages are rendered
   against, and pages rendered into caller bitmaps. Exported for callers outside the system. */

#include <stdint.h>

#include "mono_export.h"
#include "vlt_api_types.h"
#include "vlt_status.h"

struct SegmentInfo;
struct VltAdtList;
struct VltState;

struct VltDecoder {
  VltState* state;
  VltAdtList* dictionaries; /* decoded symbol dictionaries (SegmentInfo), owned */
  VltAdtList* dictLists;    /* the lists made by VltDec_buildDictList, owned; their entries are not */
  uint64_t maxPagePixels;   /* the largest page (and region bitmap) rendered, VltDec_setMaxPagePixels */
};

/* The default page limit: A0 at 600 dpi (5.6 x 10^8 pixels) with room to spare. */
#define VLT_DEC_DEFAULT_MAX_PAGE_PIXELS (UINT64_C(1) << 30)

/* A new decoder in *place over the caller's memory and small-pool functions (null: the C
   library's and the engine's own pools). Failures are reported on the standard error stream;
   *place stays null then. */
MONO_API VltStatus VltDec_init(VltDecoder** place, const VltMemFuncs* mem, const VltSmallPoolFuncs* pools);
/* Decodes the first symbol dictionary of the stream; the decoder keeps it, *dict names it. */
MONO_API VltStatus VltDec_decodeDict(VltDecoder* decoder, const uint8_t* bytes, uint32_t length, SegmentInfo** dict);
/* Makes a dictionary list in *list when it holds none, then appends dict when given. */
MONO_API VltStatus VltDec_buildDictList(VltDecoder* decoder, VltAdtList** list, SegmentInfo* dict);
/* Renders a page stream against the list's dictionaries into the destination: rows of dstWords
   32-bit words (most significant bit leftmost, 1 = black), black pixels ORed in, nothing drawn
   outside clipWidth x clipHeight. A failure leaves the destination untouched. */
MONO_API VltStatus VltDec_renderBinaryImage(VltDecoder* decoder, VltAdtList* list, const uint8_t* bytes,
                                            uint32_t length, uint8_t* dst, int32_t clipWidth, int32_t clipHeight,
                                            int32_t dstWords);
/* Bounds the pixels of a page (width x height of its page information, or of the clip window
   when it has none or its height is unknown) and of every region bitmap rendered for it: a page
   beyond the bound fails with 107 "page too large" before anything of its size is allocated.
   0 restores the default, VLT_DEC_DEFAULT_MAX_PAGE_PIXELS, which is also the most allowed. */
MONO_API VltStatus VltDec_setMaxPagePixels(VltDecoder* decoder, uint64_t maxPixels);
/* Releases one of the decoder's dictionaries (2 for one that is not its own) and clears *dict. */
MONO_API VltStatus VltDec_destroyDict(VltDecoder* decoder, SegmentInfo** dict);
/* Releases a dictionary list (not its dictionaries) and clears *list. */
MONO_API VltStatus VltDec_destroyDictList(VltDecoder* decoder, VltAdtList** list);
/* Releases the decoder, its dictionaries and lists, and clears *place. */
MONO_API VltStatus VltDec_close(VltDecoder** place);

#endif
