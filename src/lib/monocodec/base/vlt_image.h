#ifndef VLT_IMAGE_H
#define VLT_IMAGE_H

// The engine's own image: a table of row pointers over one pixel store, in one of ten pixel
// types. Packed images (1 bit per pixel) are rows of big-endian 32-bit words, first pixel in the
// most significant bit, 1 = black; read their words only through mono::load_be32/store_be32.
//
// Row addressing: rows[i] is the row at y = yOffset + i and points at that row's first pixel, the
// one at x = xOffset (for Packed images: the row's first word). Use VltImage_row and
// VltImage_pixel to address by image coordinates; they never form a pointer outside the store.

#include <stddef.h>
#include <stdint.h>

#include "vlt_status.h"

struct VltState;

enum VltImageType : uint16_t {
  VLT_IMAGE_GRAY = 1,      /* uint8_t */
  VLT_IMAGE_FLOAT = 2,     /* float */
  VLT_IMAGE_RGB = 3,       /* three uint8_t: R, G, B */
  VLT_IMAGE_DOUBLE = 4,    /* double */
  VLT_IMAGE_BINARY = 5,    /* int8_t; 0 off (white), anything else on */
  VLT_IMAGE_LONG = 6,      /* int32_t */
  VLT_IMAGE_WORD = 7,      /* 32-bit cell; no conversions, no file form */
  VLT_IMAGE_SHORT = 8,     /* int16_t */
  VLT_IMAGE_RGBFLOAT = 9,  /* three float: R, G, B */
  VLT_IMAGE_PACKED = 100,  /* one bit per pixel in big-endian 32-bit words */
};

/* Added to a tag at creation: leave the pixel store uninitialised (not kept in the record). */
inline constexpr uint16_t VLT_IMAGE_UNINIT = 0x80;

/* The header part of an image, handed out by VltImage_getHeader and beside images read from
   files. */
struct VltImageHeader {
  int32_t width;
  int32_t height;
  int32_t bytesPerLine; /* distance in bytes between two rows of the pixel store */
  int32_t xOffset;      /* x of the first pixel of a row */
  int32_t yOffset;      /* y of the first row */
  uint16_t type;        /* VltImageType */
  char* comment;        /* own copy, or null */
};

/* VltImage flags. */
inline constexpr uint32_t VLT_IMAGE_WRAPPED = 1; /* the pixel memory is the caller's */

struct VltImage {
  uint8_t** rows; /* height entries, or null for an image without pixel store */
  VltImageHeader hdr;
  VltState* state; /* owner: allocator and error reporter */
  uint32_t flags;  /* VLT_IMAGE_WRAPPED */
};

/* Bytes per pixel of a valid unpacked tag (1-9), 0 for any other tag. */
int32_t VltImage_bytesPerPixel(uint16_t type);
/* 1 for the tags 1-9 and 100. */
int VltImage_validType(uint16_t type);

/* The row at image coordinate y (yOffset <= y < yOffset + height). */
inline uint8_t* VltImage_row(const VltImage* im, int32_t y) {
  return im->rows[static_cast<size_t>(static_cast<int64_t>(y) - im->hdr.yOffset)];
}
/* The element of pixel (x, y) of an unpacked image, as the type's element. */
template <typename T>
inline T* VltImage_pixel(const VltImage* im, int32_t x, int32_t y) {
  return reinterpret_cast<T*>(VltImage_row(im, y)) +
         static_cast<size_t>(static_cast<int64_t>(x) - im->hdr.xOffset) *
             (static_cast<size_t>(VltImage_bytesPerPixel(im->hdr.type)) / sizeof(T));
}
/* Pixel (x, y) of a Packed image, 0 or 1. */
int VltImage_getPackedPixel(const VltImage* im, int32_t x, int32_t y);
void VltImage_setPackedPixel(VltImage* im, int32_t x, int32_t y, int value);

/* Creates an image of the tag (optionally plus VLT_IMAGE_UNINIT) with its own zeroed store.
   aligned != 0 rounds the unpacked rows up to whole 32-bit words. A width or height of 0 makes an
   image without store. Returns 0 and the image, 10004 for a bad tag, 2 for negative sizes or a
   store too large to address, 1 / 10005 when memory runs out (reported). */
VltStatus VltImage_newOffsetAligned(VltState* state, uint16_t type, int32_t width, int32_t height,
                                    int32_t xOffset, int32_t yOffset, int aligned, VltImage** image);
VltStatus VltImage_newAligned(VltState* state, uint16_t type, int32_t width, int32_t height,
                              VltImage** image);
VltStatus VltImage_newOffset(VltState* state, uint16_t type, int32_t width, int32_t height,
                             int32_t xOffset, int32_t yOffset, VltImage** image);
VltStatus VltImage_new(VltState* state, uint16_t type, int32_t width, int32_t height,
                       VltImage** image);

/* A Packed header over a caller buffer of height rows of wordsPerLine words. The buffer stays the
   caller's: give the image back with VltImage_unwrap (VltImage_free releases only the header and
   row table of a wrapped image). 10003 for a null buffer or rows too short for the width. */
VltStatus VltImage_wrap(VltState* state, uint8_t* buffer, int32_t width, int32_t height,
                        int32_t wordsPerLine, VltImage** image);
/* Hands back the wrapped buffer and releases header and row table. */
VltStatus VltImage_unwrap(VltImage* image, uint8_t** buffer);
/* RGB or any valid tag over caller rows of bytesPerLine bytes, which must hold the width. */
VltStatus VltImage_wrapRGB(VltState* state, uint8_t* buffer, int32_t width, int32_t height,
                           int32_t bytesPerLine, VltImage** image);
VltStatus VltImage_unwrapRGB(VltImage* image, uint8_t** buffer);
VltStatus VltImage_wrapAll(VltState* state, uint8_t* buffer, uint16_t type, int32_t width,
                           int32_t height, int32_t bytesPerLine, VltImage** image);
VltStatus VltImage_unwrapAll(VltImage* image, uint8_t** buffer);

/* Gives the image a new origin without moving pixels. */
VltStatus VltImage_setOffset(VltImage* image, int32_t xOffset, int32_t yOffset);
VltStatus VltImage_getHeader(VltImage* image, VltImageHeader** header);
/* Replaces the comment by an own copy of text; null clears it. */
VltStatus VltImage_setComment(VltImage* image, const char* text);
/* Releases an image and what it owns (never a wrapped image's pixels); null is accepted. A record
   with an unknown tag is reported as 10006 "bad image tag" and left alone. */
VltStatus VltImage_free(VltImage* image);
/* A deep copy; Packed copies are compact (4 x ceil(width / 32) bytes per line), without comment. */
VltStatus VltImage_dup(const VltImage* image, int copyComment, VltImage** copy);

/* A new image of another pixel type (Word images have no conversions). */
VltStatus VltImage_convert(const VltImage* image, uint16_t type, VltImage** result);
VltStatus VltImage_pPromote(const VltImage* image, uint16_t type, VltImage** result);
VltStatus VltImage_pDemote(const VltImage* image, uint16_t type, VltImage** result);
/* 1 when the conversion table holds a promotion from one unpacked tag to another, else 0. */
int VltImage_isPromotion(uint16_t from, uint16_t to);

#endif
