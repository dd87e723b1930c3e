#ifndef KVIMGDEC_H
#define KVIMGDEC_H

// The imaging engine's decoding of an image held in memory, as its reader, unmap and
// split-parts engines hand it on: an engine header and pixels for the image part, and a second
// header and pixels for the mask part when the image carries alpha. Readers: "readpng"
// (libpng), "readjpg" (libjpeg-turbo), "readtif" (libtiff, first directory).
//
// Parts come out pixel-interleaved: one channel of one bit for bilevel images (1 is black);
// one channel of 8 bits for grey (0 is black); three channels of 8 bits for colour (red, green,
// blue; palettes unmapped, CMYK converted, 16-bit samples reduced). A mask is one channel of 8
// bits of opacity (255 opaque). Resolution goes into the header's user data, section "Origin":
// "resolution" (x), "units" ("inch" or "cm") and, when the vertical resolution differs,
// "aspect" (x resolution over y resolution).

#include <stdint.h>

#include "kvng_hdr.h"
#include "mono_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The largest decoded part: a 600 dpi A3 colour page is about a third of it. */
#define KVIMG_MAX_DECODED ((int64_t)512 * 1024 * 1024)

/* Photometric codes of the decoded parts, as the page-image model has them. */
enum { KVIMG_PHOTO_BILEVEL = 0x15, KVIMG_PHOTO_GREY = 22, KVIMG_PHOTO_RGB = 111 };

typedef struct KVImgPart {
  KVHdr* header;     /* owned */
  void* pixels;      /* owned, the engine heap */
  int64_t size;      /* bytes of pixels */
  int32_t photometry;
} KVImgPart;

typedef struct KVImgDecoded {
  KVImgPart image;
  KVImgPart mask;    /* all zero without alpha */
} KVImgDecoded;

/* Decodes size bytes at data with the reader named into *out (zeroed first). 1 on success; 0
   when memory runs out; -1 for an unknown reader or data the library refuses, or an image over
   KVIMG_MAX_DECODED. Failures are reported through KVngError; nothing is left in *out then. */
MONO_API int KVImgDecode(const char* reader, const void* data, int64_t size, KVImgDecoded* out);
/* Frees what a decode made; the record itself is the caller's. */
MONO_API void KVImgDecodedFree(KVImgDecoded* decoded);

#ifdef __cplusplus
}
#endif

#endif
