#ifndef VLT_API_H
#define VLT_API_H

/* The token engine's encoder. One handle per run: VltApi_init, then per section
   VltApi_startSection, VltApi_addMonoPage for each page until all are in or full is set,
   VltApi_endSectionGetDict for the section's symbol dictionary bytes, and VltApi_getNextPosBlock
   once per page of the section, in page order; then the next section or VltApi_close. The
   dictionary and page blocks are JBIG2 segments without file header that continue one segment
   numbering, and belong to the caller (released with the run's free function). Every call
   returns 0 or a status (Vlt_getErrStr); a handle that is not one VltApi_init made is refused
   with 10003. */

#include <stdint.h>

#include "mono_export.h"
#include "tok_params.h"
#include "vlt_api_options.h"
#include "vlt_api_types.h"
#include "vlt_pagebuf_desc.h"
#include "vlt_status.h"

struct VltApiHandle;

/* A section's dictionary bytes. */
struct VltApiDict {
  uint8_t* bytes; /* null for none */
  uint32_t length;
};

/* One page's bytes; cleared by the caller before the call. */
struct VltApiPosBlock {
  uint8_t* bytes;
  uint32_t length;
  uint32_t extra;  /* 0 */
  uint8_t flag;    /* the page's status byte */
};

/* Memory and pool functions may be null (the C library's and the engine's own pools), params
   null for the classifier defaults, tdcOptions null for the token document's defaults. */
MONO_API VltStatus VltApi_init(struct VltApiHandle** handle, const struct VltMemFuncs* memory,
                               const struct VltSmallPoolFuncs* pools, const struct VltApiOptions* options,
                               const struct TokParams* params, const struct VltTdcOptions* tdcOptions);
MONO_API VltStatus VltApi_close(struct VltApiHandle* handle);
/* Opens a section; a no-op while one is open. */
MONO_API VltStatus VltApi_startSection(struct VltApiHandle* handle);
/* Adds a framed page (1 = black). *full becomes 1 when the section takes no more pages: either
   the page was not added (the call returns 0 and changes nothing), or it was added and took the
   section over its memory bound, in which case ending the section leaves it out again and the
   caller adds it to the next section. */
MONO_API VltStatus VltApi_addMonoPage(struct VltApiHandle* handle, const struct VltPageDesc* page, uint8_t* full);
/* A page in bands of bandHeight rows inside a 32-pixel frame, the first and last marked. */
MONO_API VltStatus VltApi_addMonoBuffer(struct VltApiHandle* handle, const uint8_t* band, uint32_t width,
                                        uint32_t bandHeight, uint32_t bytesPerLine, uint32_t pageHeight,
                                        uint32_t xRes, uint32_t yRes, uint8_t firstBand, uint8_t lastBand,
                                        uint8_t* full);
/* Ends the section: mode 0 for a final end; mode 1 keeps the section's symbols for the next
   section when there is no memory bound (limit negative). 12 when the section cannot be
   written as token positions (the bytes are handed out all the same). */
MONO_API VltStatus VltApi_endSectionGetDict(struct VltApiHandle* handle, int32_t mode, struct VltApiDict* dict);
MONO_API VltStatus VltApi_getNextPosBlock(struct VltApiHandle* handle, struct VltApiPosBlock* block);
/* Sends the run to one standalone JBIG2 file of pageCount pages (file header, then every segment
   header, then every data part) instead of handing blocks out: call it after VltApi_init and
   before the first section. The file header goes to the target at once; the dictionary and
   position-block calls then hand out no bytes, and VltApi_close writes the rest and returns what
   the writing gave (2001 also when the pages written are not pageCount). Pages keep their own
   page numbers, each ended by an end-of-page segment. */
MONO_API VltStatus VltApi_openFile(struct VltApiHandle* handle, struct Jb2FileTarget* target, uint32_t pageCount);
/* Extension segments (comments, say) in a file run, on the page output last, or for the whole
   file before the first page. */
MONO_API VltStatus VltApi_annotateFile(struct VltApiHandle* handle, int32_t count,
                                       const struct Jb2ExtensionRecord* records);
/* Drops the open section's pages, keeping what carries to the next section. */
MONO_API VltStatus VltApi_cleanSection(struct VltApiHandle* handle);

#endif
