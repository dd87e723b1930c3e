#ifndef KVTF_H
#define KVTF_H

// The imaging engine's TIFF library: TIFF files and TIFF data behind client callbacks, read and
// written a directory at a time. Calls keep the names and the argument conventions of the
// libtiff interface under the prefix KVTF_ (the engine builds on libtiff 4): KVTF_TIFFGetField
// takes a tag and places of the types libtiff gives for it (uint32_t* for widths, uint16_t* for
// bits per sample, float* for resolutions, a count and a pointer place for arrays ...), and
// KVTF_TIFFSetField the values libtiff takes.
//
// Messages of the library go to the engine's printers (kvng_print.h): errors to KVngError as
// "<module>: <text>\n", warnings to KVngDebug. Each handle counts the errors reported on it, so
// a caller can tell a file that was read with complaints from one that was read cleanly.
//
// Sizes and positions are 64-bit whatever the host. A single allocation the library makes for
// one handle is bounded (KVTF_MAX_SINGLE_ALLOC), so damaged sizes in a file cannot exhaust
// memory.

#include <stddef.h>
#include <stdint.h>

#include "mono_export.h"

typedef struct KVTF_TIFF KVTF_TIFF;
typedef void* KVTF_thandle;

/* Client callbacks, called with the handle given to KVTF_TIFFClientOpen. */
typedef int64_t (*KVTF_ReadWriteProc)(KVTF_thandle handle, void* buffer, int64_t count);
typedef uint64_t (*KVTF_SeekProc)(KVTF_thandle handle, uint64_t offset, int whence);
typedef int (*KVTF_CloseProc)(KVTF_thandle handle);
typedef uint64_t (*KVTF_SizeProc)(KVTF_thandle handle);
/* Maps the whole data: 1 with the base and size, or 0 when the data is not mapped. */
typedef int (*KVTF_MapFileProc)(KVTF_thandle handle, void** base, uint64_t* size);
typedef void (*KVTF_UnmapFileProc)(KVTF_thandle handle, void* base, uint64_t size);

enum { KVTF_MAX_SINGLE_ALLOC = 1 << 30 };

/* Tags and values the engine's callers use (TIFF 6.0, TIFF Technical Note 2, TIFF-FX). */
enum {
  KVTF_TAG_SUBFILETYPE = 254,
  KVTF_TAG_IMAGEWIDTH = 256,
  KVTF_TAG_IMAGELENGTH = 257,
  KVTF_TAG_BITSPERSAMPLE = 258,
  KVTF_TAG_COMPRESSION = 259,
  KVTF_TAG_PHOTOMETRIC = 262,
  KVTF_TAG_FILLORDER = 266,
  KVTF_TAG_DOCUMENTNAME = 269,
  KVTF_TAG_IMAGEDESCRIPTION = 270,
  KVTF_TAG_STRIPOFFSETS = 273,
  KVTF_TAG_ORIENTATION = 274,
  KVTF_TAG_SAMPLESPERPIXEL = 277,
  KVTF_TAG_ROWSPERSTRIP = 278,
  KVTF_TAG_STRIPBYTECOUNTS = 279,
  KVTF_TAG_XRESOLUTION = 282,
  KVTF_TAG_YRESOLUTION = 283,
  KVTF_TAG_PLANARCONFIG = 284,
  KVTF_TAG_T4OPTIONS = 292,
  KVTF_TAG_T6OPTIONS = 293,
  KVTF_TAG_RESOLUTIONUNIT = 296,
  KVTF_TAG_PAGENUMBER = 297,
  KVTF_TAG_SOFTWARE = 305,
  KVTF_TAG_PREDICTOR = 317,
  KVTF_TAG_COLORMAP = 320,
  KVTF_TAG_INKSET = 332,
  KVTF_TAG_NUMBEROFINKS = 334,
  KVTF_TAG_EXTRASAMPLES = 338,
  KVTF_TAG_SAMPLEFORMAT = 339,
  KVTF_TAG_JPEGTABLES = 347,
  KVTF_TAG_YCBCRSUBSAMPLING = 530,
  KVTF_TAG_GLOBALPARAMETERSIFD = 400,
  KVTF_TAG_FAXPROFILE = 402,
  KVTF_TAG_TILEWIDTH = 322,
  KVTF_TAG_TILELENGTH = 323,
  /* Pseudo tags of the library's codecs. */
  KVTF_TAG_JPEGQUALITY = 65537,
  KVTF_TAG_JPEGCOLORMODE = 65538,
};

enum {
  KVTF_COMPRESSION_NONE = 1,
  KVTF_COMPRESSION_CCITTRLE = 2,
  KVTF_COMPRESSION_CCITTFAX3 = 3,
  KVTF_COMPRESSION_CCITTFAX4 = 4,
  KVTF_COMPRESSION_LZW = 5,
  KVTF_COMPRESSION_OJPEG = 6,
  KVTF_COMPRESSION_JPEG = 7,
  KVTF_COMPRESSION_ADOBE_DEFLATE = 8,
  KVTF_COMPRESSION_PACKBITS = 32773,
  KVTF_COMPRESSION_DEFLATE = 32946,
};

enum {
  KVTF_PHOTOMETRIC_MINISWHITE = 0,
  KVTF_PHOTOMETRIC_MINISBLACK = 1,
  KVTF_PHOTOMETRIC_RGB = 2,
  KVTF_PHOTOMETRIC_PALETTE = 3,
  KVTF_PHOTOMETRIC_MASK = 4,
  KVTF_PHOTOMETRIC_SEPARATED = 5,
  KVTF_PHOTOMETRIC_YCBCR = 6,
  KVTF_PHOTOMETRIC_CIELAB = 8,
};

enum { KVTF_PLANARCONFIG_CONTIG = 1, KVTF_PLANARCONFIG_SEPARATE = 2 };
enum { KVTF_RESUNIT_NONE = 1, KVTF_RESUNIT_INCH = 2, KVTF_RESUNIT_CENTIMETER = 3 };
enum { KVTF_EXTRASAMPLE_UNSPECIFIED = 0, KVTF_EXTRASAMPLE_ASSOCALPHA = 1, KVTF_EXTRASAMPLE_UNASSALPHA = 2 };
enum { KVTF_PREDICTOR_NONE = 1, KVTF_PREDICTOR_HORIZONTAL = 2 };
enum { KVTF_JPEGCOLORMODE_RAW = 0, KVTF_JPEGCOLORMODE_RGB = 1 };
enum { KVTF_ORIENTATION_TOPLEFT = 1 };

/* Opens TIFF data behind callbacks; mode as libtiff's ("r", "w", "a", with its modifiers).
   Null when the data is not TIFF or cannot be opened (reported). */
MONO_API KVTF_TIFF* KVTF_TIFFClientOpen(const char* name, const char* mode, KVTF_thandle handle,
                                        KVTF_ReadWriteProc read, KVTF_ReadWriteProc write, KVTF_SeekProc seek,
                                        KVTF_CloseProc close, KVTF_SizeProc size, KVTF_MapFileProc map,
                                        KVTF_UnmapFileProc unmap);
/* Opens a file by name. */
MONO_API KVTF_TIFF* KVTF_TIFFOpen(const char* filename, const char* mode);
/* Writes what is pending (a written file's last directory), closes and frees the handle. */
MONO_API void KVTF_TIFFClose(KVTF_TIFF* tif);
MONO_API int KVTF_TIFFFlush(KVTF_TIFF* tif);
MONO_API const char* KVTF_TIFFFileName(KVTF_TIFF* tif);

/* Errors and warnings reported on the handle since it was opened, and the text of the latest
   of either ("" before any). */
MONO_API int KVTF_TIFFErrorCount(KVTF_TIFF* tif);
MONO_API int KVTF_TIFFWarningCount(KVTF_TIFF* tif);
MONO_API const char* KVTF_TIFFLastMessage(KVTF_TIFF* tif);

/* Fields of the current directory: 1 when the tag is there (or, Defaulted, has a default),
   else 0. */
MONO_API int KVTF_TIFFGetField(KVTF_TIFF* tif, uint32_t tag, ...);
MONO_API int KVTF_TIFFGetFieldDefaulted(KVTF_TIFF* tif, uint32_t tag, ...);
MONO_API int KVTF_TIFFSetField(KVTF_TIFF* tif, uint32_t tag, ...);

/* Directories: counted from 0. */
MONO_API uint32_t KVTF_TIFFNumberOfDirectories(KVTF_TIFF* tif);
MONO_API uint32_t KVTF_TIFFCurrentDirectory(KVTF_TIFF* tif);
/* Where the current directory lies in the file. */
MONO_API uint64_t KVTF_TIFFCurrentDirOffset(KVTF_TIFF* tif);
MONO_API int KVTF_TIFFSetDirectory(KVTF_TIFF* tif, uint32_t index);
MONO_API int KVTF_TIFFReadDirectory(KVTF_TIFF* tif);
MONO_API int KVTF_TIFFWriteDirectory(KVTF_TIFF* tif);

/* Strips, tiles and scanlines (sizes in bytes; -1 on failure). */
MONO_API int KVTF_TIFFIsTiled(KVTF_TIFF* tif);
MONO_API uint32_t KVTF_TIFFNumberOfStrips(KVTF_TIFF* tif);
MONO_API uint32_t KVTF_TIFFNumberOfTiles(KVTF_TIFF* tif);
/* Where strip or tile strile lies in the file and how many bytes it takes (0 when unknown). */
MONO_API uint64_t KVTF_TIFFStripOffset(KVTF_TIFF* tif, uint32_t strile);
MONO_API uint64_t KVTF_TIFFStripByteCount(KVTF_TIFF* tif, uint32_t strile);
MONO_API int64_t KVTF_TIFFStripSize(KVTF_TIFF* tif);
MONO_API uint32_t KVTF_TIFFDefaultStripSize(KVTF_TIFF* tif, uint32_t request);
MONO_API int64_t KVTF_TIFFScanlineSize(KVTF_TIFF* tif);
MONO_API int64_t KVTF_TIFFReadRawStrip(KVTF_TIFF* tif, uint32_t strip, void* buffer, int64_t size);
MONO_API int64_t KVTF_TIFFReadEncodedStrip(KVTF_TIFF* tif, uint32_t strip, void* buffer, int64_t size);
MONO_API int64_t KVTF_TIFFWriteRawStrip(KVTF_TIFF* tif, uint32_t strip, void* data, int64_t count);
MONO_API int64_t KVTF_TIFFWriteEncodedStrip(KVTF_TIFF* tif, uint32_t strip, void* data, int64_t count);
/* Rows in order: 1 (read or written), or -1. */
MONO_API int KVTF_TIFFReadScanline(KVTF_TIFF* tif, void* buffer, uint32_t row, uint16_t sample);
MONO_API int KVTF_TIFFWriteScanline(KVTF_TIFF* tif, void* buffer, uint32_t row, uint16_t sample);
/* The whole image of the current directory as 8-bit R, G, B, A per pixel (one 32-bit word per
   pixel, red in the lowest byte), top row first, whatever its coding, layout or colour model
   (CMYK, YCbCr, CIE L*a*b* and palettes are converted). Rows of raster are width words. 1, or 0
   when the image cannot be converted (the reason is reported). */
MONO_API int KVTF_TIFFReadRGBAImage(KVTF_TIFF* tif, uint32_t width, uint32_t height, uint32_t* raster);

/* The tile whose top-left pixel is at col, row (multiples of the tile size) as the words of
   KVTF_TIFFReadRGBAImage, tile width words a row, bottom row first; the parts of an edge tile
   outside the image are zero. 1, or 0 at the first error. */
MONO_API int KVTF_TIFFReadRGBATile(KVTF_TIFF* tif, uint32_t col, uint32_t row, uint32_t* raster);

/* Memory of the library. */
MONO_API void* KVTF__TIFFmalloc(int64_t size);
MONO_API void KVTF__TIFFfree(void* block);

/* Reports through the engine's printers as the library does, "<module>: <text>\n". */
MONO_API void KVTF_TIFFError(const char* module, const char* format, ...) __attribute__((format(printf, 2, 3)));
MONO_API void KVTF_TIFFWarning(const char* module, const char* format, ...) __attribute__((format(printf, 2, 3)));

#endif
