#ifndef VLT_IMAGE_FILE_H
#define VLT_IMAGE_FILE_H

// Engine images as files: the portable bitmap family ("P1" to "P6") with five magics of our own
// for the types without a PNM form ("Q1" float, "Q2" double, "Q3" 32-bit, "Q4" 16-bit, "Q5" RGB
// float), and headerless raw pixel files whose type and size the caller gives. Multi-byte
// samples (16-bit PGM/PPM samples, Q bodies, raw files) are most significant byte first in the
// file on every host; the raw flag VLT_RAW_REVERSE_BYTES selects least significant first.
// Everything read is untrusted: header tokens are bounded, sizes are checked against the bytes
// the stream still holds where it can tell, and a short or malformed body is a failure.

#include <stdint.h>
#include <stdio.h>

#include "vlt_image.h"
#include "vlt_status.h"

/* Raw file flags beside the tag in typeAndFlags. */
inline constexpr uint32_t VLT_RAW_IGNORED_FLAG = 0x100;
inline constexpr uint32_t VLT_RAW_REVERSE_BYTES = 0x200; /* samples least significant byte first */
inline constexpr uint32_t VLT_RAW_FLAGS = 0x300;

/* Bytes of comment a reader collects (one fewer characters are kept). */
inline constexpr int32_t VLT_IMAGE_COMMENT_CAPACITY = 8192;

/* A reader of the magic table: reads header and body after the magic, returns a new image of
   its tag (with the collected comment) or null, and hands out the image's header. */
typedef VltImage* (*VltImageFileReader)(VltState* state, FILE* file, VltImageHeader** header);

struct VltImageFileFormat {
  const char* magic;
  uint16_t tag;
  VltImageFileReader reader;
};

/* The magics in search order. */
extern const VltImageFileFormat fileReaders[11];

VltImage* readBinaryCooked(VltState* state, FILE* file, VltImageHeader** header); /* P1 */
VltImage* readGrayCooked(VltState* state, FILE* file, VltImageHeader** header);   /* P2 */
VltImage* readRGBCooked(VltState* state, FILE* file, VltImageHeader** header);    /* P3 */
VltImage* readBinary(VltState* state, FILE* file, VltImageHeader** header);       /* P4 */
VltImage* readGray(VltState* state, FILE* file, VltImageHeader** header);         /* P5 */
VltImage* readRGB(VltState* state, FILE* file, VltImageHeader** header);          /* P6 */
VltImage* readFloat(VltState* state, FILE* file, VltImageHeader** header);        /* Q1 */
VltImage* readDouble(VltState* state, FILE* file, VltImageHeader** header);       /* Q2 */
VltImage* readLong(VltState* state, FILE* file, VltImageHeader** header);         /* Q3 */
VltImage* readShort(VltState* state, FILE* file, VltImageHeader** header);        /* Q4 */
VltImage* readRGBFloat(VltState* state, FILE* file, VltImageHeader** header);     /* Q5 */

/* Reads a file into an image of the requested tag; a file of another type is converted when
   that is a promotion (10004 otherwise). Packed (100) reads "P1" and "P4" directly. 10003 for
   null arguments, 10000 for an unknown, malformed or short file, 118 when the path cannot be
   opened. */
VltStatus VltImage_load(VltState* state, uint16_t tag, const char* path, VltImage** image);
VltStatus VltImage_pLoadF(VltState* state, uint16_t tag, FILE* file, VltImage** image);
/* Writes header and pixels: Packed and Binary as "P4", Gray "P5", RGB "P6", the others as Q
   files; the comment of unpacked images as "#" lines of at most 69 characters. 10004 for Word
   images, 10000 for a failed header write, 2001 for a failed pixel write, 118 when the path
   cannot be opened. */
VltStatus VltImage_save(const VltImage* image, const char* path);
VltStatus VltImage_pSaveF(const VltImage* image, FILE* file);
/* The header alone (Gray and RGB with "width height 255" on one line); further arguments have
   no effect. */
VltStatus VltImage_pSaveHeaderF(const VltImage* image, FILE* file, ...);

/* Header tokens: skip whitespace and "#" comments (collected into commentBuffer, which holds
   VLT_IMAGE_COMMENT_CAPACITY bytes, when it and commentLength are given), then a decimal
   number ended by whitespace or the end of the file. *error becomes 1 (value 0) for anything
   else, for more than 32 digits or a value above 2^31 - 1. A null error place gives 10003. */
int32_t VltImage_pbmGetToken(FILE* file, int* error, char* commentBuffer, int32_t* commentLength,
                             VltState* state);
/* A plain-PBM pixel: the same skipping, then "0" or "1" (no separator needed). */
int32_t VltImage_pbmGetPBMToken(FILE* file, int* error, char* commentBuffer,
                                int32_t* commentLength, VltState* state);

/* Raw files: typeAndFlags holds the tag and the raw flags. Binary and Packed rows are
   ceil(width / 8) bytes, first pixel in bit 7; other types width samples per row. 10003 for
   null arguments, 12 (reported as "Invalid image type") for tags without a raw form, 2003 for
   a file shorter than the image, 10000 when the path cannot be opened, 2000 when it cannot be
   closed after reading. */
VltStatus VltImage_loadRaw(uint32_t typeAndFlags, int32_t width, int32_t height, const char* path,
                           VltImage** image, VltState* state);
VltStatus VltImage_loadRawF(uint32_t typeAndFlags, int32_t width, int32_t height, FILE* file,
                            VltImage** image, VltState* state);
/* Writes the pixels of an image whose type is tag (10003 if it is not), with the same flags as
   the readers: 2001 for a failed write or close, 12 for tags without a raw form, 10000 when
   the path cannot be opened. */
VltStatus VltImage_saveRaw_(const VltImage* image, uint16_t tag, const char* path, uint32_t flags,
                            VltState* state);
VltStatus VltImage_saveRawF_(const VltImage* image, uint16_t tag, FILE* file, uint32_t flags,
                             VltState* state);

/* Pixel readers into an image of their type and of width x height: 1 on success, 0 on a short
   read or an image that does not fit. */
int VltImage_readGrayRaw(VltImage* image, int32_t width, int32_t height, FILE* file, uint32_t flags);
int VltImage_readFloatRaw(VltImage* image, int32_t width, int32_t height, FILE* file, uint32_t flags);
int VltImage_readRGBRaw(VltImage* image, int32_t width, int32_t height, FILE* file, uint32_t flags);
int VltImage_readDoubleRaw(VltImage* image, int32_t width, int32_t height, FILE* file, uint32_t flags);
int VltImage_readLongRaw(VltImage* image, int32_t width, int32_t height, FILE* file, uint32_t flags);
int VltImage_readShortRaw(VltImage* image, int32_t width, int32_t height, FILE* file, uint32_t flags);
int VltImage_readRGBFloatRaw(VltImage* image, int32_t width, int32_t height, FILE* file,
                             uint32_t flags);
int VltImage_readPackedRaw(VltImage* image, int32_t width, int32_t height, FILE* file, uint32_t flags);
/* Pixel writers: 1 on success, 0 on a failed write or an image of another type. */
int VltImage_saveGrayRaw(const VltImage* image, FILE* file, uint32_t flags);
int VltImage_saveFloatRaw(const VltImage* image, FILE* file, uint32_t flags);
int VltImage_saveRGBRaw(const VltImage* image, FILE* file, uint32_t flags);
int VltImage_saveDoubleRaw(const VltImage* image, FILE* file, uint32_t flags);
int VltImage_saveBinaryRaw(const VltImage* image, FILE* file, uint32_t flags);
int VltImage_saveLongRaw(const VltImage* image, FILE* file, uint32_t flags);
int VltImage_saveShortRaw(const VltImage* image, FILE* file, uint32_t flags);
int VltImage_saveRGBFloatRaw(const VltImage* image, FILE* file, uint32_t flags);
int VltImage_savePackedRaw(const VltImage* image, FILE* file, uint32_t flags);

#endif
