#ifndef VLT_API_OPTIONS_H
#define VLT_API_OPTIONS_H

/* The token engine's encoder options. The engine reads them when an encoder starts, and the PDF
   writer of libpagefiler fills the same record for the PDF library's JBIG2 coder, so the layout
   is an interface between the libraries: declared once, here, with its byte offsets fixed. */

#include <stddef.h>
#include <stdint.h>

struct VltApiOptions {
  uint32_t minSize;      /* components narrower or lower than this are not reported */
  uint32_t outputWord;
  uint32_t reserved1;
  uint32_t reserved2;
  uint32_t reserved3;
  uint8_t halftones;     /* pictures become halftone regions instead of components */
  uint32_t resolution;   /* dots per inch given to every page; -1 keeps the page's own */
  uint8_t outputByte;
  uint8_t reserved4;
  uint8_t docByte;
  uint8_t resDictMode;
  uint32_t profile;      /* JBIG2 coding profile */
  uint8_t tenthSize;     /* classifiable components limited to a tenth of the page */
  int32_t memoryLimit;   /* bytes a section may hold; 0 or less: no limit */
  uint8_t sectionMode;
  uint8_t singlePage;    /* every segment but the section dictionary on page 1, no end of page */
};

/* The token document's options; without a record VltApi_init fills these defaults. The first
   two fields are the exact-match tokenizer's options. */
struct VltTdcOptions {
  uint32_t tokFlags;
  struct VltState* state;
  uint32_t docWord;      /* 1 */
  int32_t limitA;        /* -1 */
  int32_t limitB;        /* -1 */
  uint32_t pageSlots;    /* 301; the lower 16 bits are used */
  uint32_t wordC;        /* 1 */
  uint8_t byteA;
  uint8_t colourComponents; /* non-zero: colour components are prepared too */
  uint8_t byteC;
  uint8_t byteD;         /* 1 */
  uint8_t byteE;
  uint8_t sectionMode;   /* the option record's sectionMode */
  uint32_t wordD;
  uint32_t wordE;
};

#ifdef __cplusplus
static_assert(offsetof(VltApiOptions, resolution) == 24, "the engine reads the resolution at byte 24");
static_assert(offsetof(VltApiOptions, profile) == 32, "the engine reads the profile at byte 32");
static_assert(offsetof(VltApiOptions, tenthSize) == 36, "the engine reads the tenth-size byte at byte 36");
static_assert(offsetof(VltApiOptions, memoryLimit) == 40, "the engine reads the memory limit at byte 40");
static_assert(offsetof(VltApiOptions, singlePage) == 45, "the engine reads the single-page byte at byte 45");
static_assert(sizeof(VltApiOptions) == 48, "twelve 32-bit words");
#endif

#endif
