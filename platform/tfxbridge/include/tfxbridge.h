#ifndef TFXBRIDGE_H
#define TFXBRIDGE_H

// The TIFF-FX bridge: fax-profile documents (TIFF-FX profiles S, F and C) and plain multi-page
// TIFF files, written from strips that are already coded and read back strip by strip, never
// re-coded. Files are reached only through five connector functions over the caller's file key,
// so the caller decides where the bytes go. libtiff does the TIFF structure.
//
// Every call returns 0 for success; 1 to 9999 are failures (TFX_ERR_*), 10000 and above are
// notes that leave the call successful. A document holds the text of its last failure
// (TFX_GetErrorText).
//
// A document is written page by page: TFX_AddPageStart, optionally TFX_CheckImageInfo (the
// profile check), TFX_AddImage, TFX_ImageWriteStart, TFX_CompressedWriteStrip for each strip
// in row order, TFX_ImageWriteFinish, TFX_AddPageFinish. A page reaches the file only when it is
// finished: a page abandoned part-way (a new TFX_AddPageStart or TFX_CloseDocument before its
// TFX_AddPageFinish) leaves the file as it was, every page in it complete. Each page is one IFD.
//
// The profile check of a fax document tells which colour type, resolution and size the page
// must have; TFX_AddImage refuses a page that does not conform, except that a page whose size is
// the one the check asked for takes the resolution the check chose (a resampled page seldom
// lands on the exact resolution). What the profiles take:
//   S  bilevel; 204x98, 204x196, 200x100 or 200x200 dpi; 1728 pixels wide; T.4 one-dimensional
//   F  bilevel; the resolutions of S and 204x391, 300x300, 400x400, 408x391; 1728, 2048 or 2432
//      pixels wide at 200 and 204 dpi, 2592, 3072 or 3648 at 300, 3456, 4096 or 4864 at 400 and
//      408; T.4 one- or two-dimensional, or T.6
//   C  grey or colour pages in JPEG at 100, 200, 300 or 400 dpi square (widths as F, and 864,
//      1024 or 1216 at 100), bilevel pages as F
// Plain TIFF documents and TIFF-FX documents without a profile take any page.

#include <stdint.h>

#include "mono_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes. */
enum {
  TFX_OK = 0,
  TFX_ERR_ARGUMENT = 1,     /* a missing handle or output, a value out of range */
  TFX_ERR_MEMORY = 2,
  TFX_ERR_IO = 3,           /* a connector failed, or libtiff could not write */
  TFX_ERR_FORMAT = 4,       /* the file is not a TIFF file or is damaged */
  TFX_ERR_UNSUPPORTED = 5,  /* a coding, colour model or layout the bridge does not carry */
  TFX_ERR_PROFILE = 6,      /* the page does not conform to the document's profile */
  TFX_ERR_SEQUENCE = 7,     /* a call out of order, or on a handle of the other direction */
  TFX_NOTE_FIRST = 10000,
};

/* Document profiles on creation. */
enum {
  TFX_CREATE_FX = 0,        /* TIFF-FX without a profile */
  TFX_CREATE_S = 1,
  TFX_CREATE_F = 2,
  TFX_CREATE_C = 4,
  TFX_CREATE_TIFF = 14,     /* plain TIFF */
};

/* Document profiles as read from a file. */
enum {
  TFX_PROFILE_TIFF = 1,     /* plain TIFF (no fax profile) */
  TFX_PROFILE_S = 2,
  TFX_PROFILE_F = 3,
  TFX_PROFILE_J = 4,
  TFX_PROFILE_C = 5,
  TFX_PROFILE_L = 6,
  TFX_PROFILE_M = 7,
  TFX_PROFILE_FX = 8,       /* TIFF-FX that names no profile */
  TFX_PROFILE_TIFF_JPEG = 15, /* plain TIFF whose first page is JPEG-coded */
};

/* Colour types: bits of one pixel and how they are used. */
enum {
  TFX_CTYPE_NONE = 0,
  TFX_CTYPE_BILEVEL = 1,
  TFX_CTYPE_GREY4 = 2,
  TFX_CTYPE_GREY8 = 3,
  TFX_CTYPE_RGB24 = 7,      /* three 8-bit samples: RGB, YCbCr or L*a*b* by the colour space */
};

/* Colour spaces. */
enum {
  TFX_CSPACE_NONE = 0,      /* not said: bilevel is white-is-zero, grey black-is-zero, colour RGB */
  TFX_CSPACE_WHITE_IS_ZERO = 1,
  TFX_CSPACE_BLACK_IS_ZERO = 2,
  TFX_CSPACE_YCBCR = 3,
  TFX_CSPACE_CMYK = 4,
  TFX_CSPACE_JPEG_YCBCR = 5,  /* YCbCr as a JPEG stream holds it */
  TFX_CSPACE_RGB = 6,
  TFX_CSPACE_PALETTE = 7,
  TFX_CSPACE_LAB = 8,         /* ITU L*a*b* */
};

/* Codings of strip data (bits; one coding per image). */
enum {
  TFX_CODING_NONE = 0x1,
  TFX_CODING_CCITT_RLE = 0x2,  /* modified Huffman, rows byte-aligned, no EOL */
  TFX_CODING_T4_1D = 0x4,
  TFX_CODING_T4_2D = 0x8,
  TFX_CODING_T6 = 0x10,
  TFX_CODING_JPEG = 0x20,
  TFX_CODING_JBIG = 0x80,      /* T.85 */
  TFX_CODING_JBIG_COLOUR = 0x100, /* T.43 */
  TFX_CODING_JBIG2 = 0x800,
  TFX_CODING_JPEG2000 = 0x1000,
  TFX_CODING_DEFLATE = 0x4000,
  TFX_CODING_LZW = 0x80000,
  TFX_CODING_PACKBITS = 0x100000,
  TFX_CODING_PREDICTOR = 0x200000, /* with LZW or deflate: horizontal differencing */
};

/* Bytes of a read page and one of its images: handles owned by the document. */
typedef struct TFX_Document TFX_Document;
typedef struct TFX_Page TFX_Page;
typedef struct TFX_Image TFX_Image;

/* The connectors: every byte of the file passes through them. Read and write return the bytes
   moved; seek goes to an offset from the start and returns it (0 when it fails); size returns
   the file's size; tell the position. */
typedef int32_t (*TFX_ReadProc)(void* key, void* buffer, int32_t count);
typedef int32_t (*TFX_WriteProc)(void* key, const void* buffer, int32_t count);
typedef int32_t (*TFX_SeekProc)(void* key, int32_t offset);
typedef int32_t (*TFX_SizeProc)(void* key);
typedef int32_t (*TFX_TellProc)(void* key);

/* How one strip's data is coded. */
typedef struct TFX_Coding {
  uint32_t coding;      /* TFX_CODING_*, with TFX_CODING_PREDICTOR where it applies */
  int32_t colorSpace;   /* TFX_CSPACE_* */
} TFX_Coding;

/* The library instance every document belongs to; options must be null. One instance serves a
   process and is never released. */
MONO_API int32_t TFX_InitInstance(void* options, void** instance);

/* Creates a document on a file key: profile is a TFX_CREATE_* code, options must be 0. The
   header is written at once. */
MONO_API int32_t TFX_CreateDocument(void* instance, void* key, uint8_t options, int32_t profile, TFX_ReadProc read,
                                    TFX_WriteProc write, TFX_SeekProc seek, TFX_SizeProc size, TFX_TellProc tell,
                                    TFX_Document** document);
/* Opens a document for reading; options must be 0. */
MONO_API int32_t TFX_OpenDocumentRead(void* instance, void* key, uint8_t options, TFX_ReadProc read,
                                      TFX_WriteProc write, TFX_SeekProc seek, TFX_SizeProc size, TFX_TellProc tell,
                                      TFX_Document** document);
/* Finishes a written document (an unfinished page is dropped) and frees the document with its
   pages and images; the file key stays the caller's. A failure still frees everything. */
MONO_API int32_t TFX_CloseDocument(TFX_Document* document);
/* The text of the document's last failure ("" when none). */
MONO_API const char* TFX_GetErrorText(const TFX_Document* document);

/* Byte order ('I' or 'M'), 1 when the file is TIFF-FX (names a fax profile) else 0, and the
   number of pages. */
MONO_API int32_t TFX_GetDocInfo(TFX_Document* document, uint8_t* byteOrder, uint8_t* faxFile, uint16_t* pageCount);
/* The document's profile: TFX_PROFILE_* of a read document, the creation code of a written one. */
MONO_API int32_t TFX_GetDocProfile(TFX_Document* document, int32_t* profile);

/* ---- Writing ---- */

/* Starts a page at position (-1: after the last; no other position is taken). */
MONO_API int32_t TFX_AddPageStart(TFX_Document* document, int32_t position, TFX_Page** page);
/* The profile check. In: the image kind (1), its colour type and colour space, resolution, size
   and rows per strip; the values the profile wants are written back, and *changed is 1 when
   any of them differs from what was given (0 otherwise). flags and the reserved words are 0.
   A document without a profile changes nothing. */
MONO_API int32_t TFX_CheckImageInfo(TFX_Page* page, int32_t* imageKind, int32_t* changed, int32_t* colorType,
                                    int32_t* reserved1, int32_t* reserved2, uint32_t* xResolution,
                                    uint32_t* yResolution, uint32_t* width, uint32_t* height,
                                    uint32_t* rowsPerStrip, int32_t flags, int32_t* reserved3, int32_t* colorSpace);
/* Describes the page's image: kind 1 (the page's only image), colour type 1, 3 or 7, resolution
   in dots per inch (0: none recorded, plain documents only), size, and the rows of every strip
   but the last (1 to height). */
MONO_API int32_t TFX_AddImage(TFX_Page* page, int32_t imageKind, int32_t colorType, int32_t reserved1,
                              int32_t reserved2, uint32_t xResolution, uint32_t yResolution, uint32_t width,
                              uint32_t height, uint32_t rowsPerStrip, int32_t reserved3, TFX_Image** image);
/* Opens the image for strips; flags are 0, the three values are taken and not changed. */
MONO_API int32_t TFX_ImageWriteStart(TFX_Image* image, int32_t flags, int32_t* reserved1, int32_t* quality,
                                     int32_t* reserved2);
/* Hands over the next strip: it begins at row, which must follow the strip before, and holds
   rowCount rows (the rows per strip, fewer for the last) coded as coding says; the bytes are
   copied. Uncompressed rows may be padded: size must then be rowCount times one row's stride. */
MONO_API int32_t TFX_CompressedWriteStrip(TFX_Image* image, uint32_t row, uint32_t rowCount, const void* data,
                                          uint32_t size, const TFX_Coding* coding);
/* Ends the image; every row must have been handed over. */
MONO_API int32_t TFX_ImageWriteFinish(TFX_Image* image);
/* Writes the page into the file as one IFD. */
MONO_API int32_t TFX_AddPageFinish(TFX_Page* page);

/* ---- Reading ---- */

/* Page pageIndex (from 0): its image flags (one byte per image, 1 where the image is the page's
   main image) and image count, its subfile type, and the page handle. The flags belong to the
   page. */
MONO_API int32_t TFX_GetPageInfo(TFX_Document* document, int32_t pageIndex, const uint8_t** imageFlags,
                                 int32_t* imageCount, int32_t* subfileType, TFX_Page** page);
/* Image imageIndex (from 1) of a read page: bits per sample and samples per pixel, resolution
   (300 dpi when the file records none), size, rows per strip, coding (TFX_CODING_*, 0 for a
   coding the bridge does not know), colour type, and the image handle. flags and reserved are 0.
   Images that are tiled, planar with more than one sample, or of a colour model the colour types
   cannot say are refused (TFX_ERR_UNSUPPORTED). */
MONO_API int32_t TFX_GetImageInfo(TFX_Page* page, int32_t imageIndex, int32_t flags, int32_t* bitsPerSample,
                                  int32_t* samplesPerPixel, uint32_t* xResolution, uint32_t* yResolution,
                                  uint32_t* width, uint32_t* height, uint32_t* rowsPerStrip, uint32_t* coding,
                                  int32_t* colorType, int32_t reserved, TFX_Image** image);
MONO_API int32_t TFX_GetColorSpace(TFX_Image* image, int32_t* colorSpace);
/* Opens the image for strips; flags are 0. */
MONO_API int32_t TFX_ImageReadStart(TFX_Image* image, int32_t flags);
/* The strip that holds row: its index, first row and row count (at least 1). */
MONO_API int32_t TFX_GetStripeInfo(TFX_Page* page, uint32_t row, int32_t* strip, uint32_t* firstRow,
                                   uint32_t* rowCount);
/* The data of the strip that begins at row and holds rowCount rows, as the file codes it (bit
   order normalised to most significant bit first; a JPEG strip that leans on shared tables gets
   them, so that it stands alone). *data is the caller's until TFX_StripFree. */
MONO_API int32_t TFX_CompressedReadStrip(TFX_Image* image, uint32_t row, uint32_t rowCount, void** data,
                                         uint32_t* size, TFX_Coding* coding);
MONO_API int32_t TFX_StripFree(TFX_Image* image, void* data);

#ifdef __cplusplus
}
#endif

#endif
