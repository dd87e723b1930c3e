#ifndef PIXR_GEOM_H
#define PIXR_GEOM_H

// Geometric operations of the wrapper layer on framed images: rescaling to a size, orthogonal
// and arbitrary rotation, shears, and skew estimation. Destinations follow the convention of
// pixr_ops.h: an empty place receives a new record, a filled one must match the result.

#include <stdint.h>

#include "iprect.h"
#include "pixr.h"

// ---- Rescaling (depths 1, 4, 8; one or three channels)

/* Nearest-pixel scaling to width x height; the resolution follows the size change. A width or
   height of 0 makes the destination and scales nothing. */
VltStatus w_scaleToSize(IPWState* s, const PIXR* src, int32_t width, int32_t height, PIXR** dst);
/* A table block (set 0) for scaling this source to width x height, for w_scaleToSizeRect. */
VltStatus w_makeScaleToSizeTables(IPWState* s, const PIXR* src, int32_t width, int32_t height,
                                  void** tables);
/* Frees the block when state and block are given and clears the pointer. Always 0. */
VltStatus w_destroyScaleToSizeTables(IPWState* s, void** tables);
/* The part of the scaled image under rect (scaled coordinates, inside the tables' size); a
   rectangle narrower or lower than 1 makes nothing. The destination has exactly rect's size. */
VltStatus w_scaleToSizeRect(IPWState* s, const PIXR* src, const IPRect* rect, const void* tables,
                            PIXR** dst);
/* Bilinear scaling of 4- or 8-bit images. The source's frame column right of the image and
   frame line below it are borrowed during the call and given back. */
VltStatus w_scaleLinearSize(IPWState* s, PIXR* src, int32_t width, int32_t height, PIXR** dst);
/* Writes the 8-bit values under the set pixels of mask (same size as src) into dst at column
   (int)(x * sx) and line (int)((y + rowOffset) * sy + 0.5), both kept inside dst; each
   destination pixel keeps the smallest value at or above 2 that reaches it (0 and 1 in dst
   mean empty, source values below 2 count as 2). */
VltStatus w_scaleMaskedArea(IPWState* s, const PIXR* mask, const PIXR* src, float sx, float sy,
                            int32_t rowOffset, PIXR* dst);

// ---- Orthogonal rotation (depths 1, 2, 4, 8; one or three channels)

/* Quarter turns clockwise (90) and counter-clockwise (270): the destination is H x W with the
   resolutions exchanged; it may not be the source itself (2). */
VltStatus w_rotate90(IPWState* s, const PIXR* src, PIXR** dst);
VltStatus w_rotate270(IPWState* s, const PIXR* src, PIXR** dst);
/* Half turn; the source may be its own destination. */
VltStatus w_rotate180(IPWState* s, const PIXR* src, PIXR** dst);
/* Quarter turns inside the image's own buffer, bands of lines passing through scratch (a framed
   image of the same depth; the wider, the more lines per band). */
VltStatus w_rotate90InPlace(IPWState* s, PIXR* image, PIXR* scratch);
VltStatus w_rotate270InPlace(IPWState* s, PIXR* image, PIXR* scratch);
VltStatus w_rotate180InPlace(IPWState* s, PIXR* image);

// ---- Shears and arbitrary rotation

/* Rotation by angle radians (|trunc(angle * 10000)| <= 7853; positive turns clockwise with line
   0 on top). keepSize != 0 keeps the source's size (corners turned out of it are lost) and
   allows the source as its own destination; keepSize == 0 gives the whole rotated image in a
   larger destination. option goes to the core's rotation without interpolation. Pixels no
   source pixel reaches are 0 at depth 1, all ones deeper. */
VltStatus w_rotateArb(IPWState* s, const PIXR* src, float angle, int32_t keepSize, int32_t option,
                      PIXR** dst);

enum : int32_t { W_SHEAR_HORIZONTAL = 1, W_SHEAR_VERTICAL = 2 };

/* A new enlarged image: src sheared by factor (horizontal: x moves by factor * y, vertical: y
   moves by factor * x), centred; flag is not read. */
VltStatus wp_shearC(IPWState* s, const PIXR* src, int32_t direction, float factor, int32_t flag,
                    PIXR** out);

/* The bookkeeping of one in-place horizontal shear: bands of lines, each moved by whole pixels
   into or out of two margin images (frame 0, as high as the image) that extend it left and
   right. */
struct WShearBand {
  int32_t row;       /* first line of the next band */
  int64_t position;  /* 16.16 line position at which the next band ends */
};
struct WShearGeometry {
  PIXR* image;
  PIXR* left;        /* columns left of the image, its last column next to the image */
  PIXR* right;       /* columns right of the image, its first column next to the image */
  int32_t width;
  int32_t height;
  int32_t margin;    /* columns of each margin */
};

/* Shears the image in place by factor about its middle line: x moves by factor * (H/2 - y).
   pass 1 parks what leaves the image in the margins (and fills with background); pass 0 drops
   it and takes the vacated columns from the margins. */
VltStatus wp_horizontalShearIP(IPWState* s, float factor, int32_t pass, PIXR* image, PIXR* left,
                               PIXR* right);
/* The two band loops: bands of step (16.16) lines moved left (right) by shift, then by one
   pixel less per band down to 0 (delta -1), or by one more per band up to the last line
   (delta +1). */
VltStatus wp_horizontalShearLeftIP(IPWState* s, WShearBand* band, const WShearGeometry* g,
                                   int64_t step, int32_t shift, int32_t delta, int32_t pass);
VltStatus wp_horizontalShearRightIP(IPWState* s, WShearBand* band, const WShearGeometry* g,
                                    int64_t step, int32_t shift, int32_t delta, int32_t pass);
/* Rotation in place by three shears (through two temporary margin images). */
VltStatus wp_rotateLargeAngleIP(IPWState* s, float angle, PIXR* image);
/* Rotation in place by the core's rotation without interpolation; angle above 0.12: 2; below
   0.002 in size: nothing is done. */
VltStatus wp_rotateSmallAngleIP(IPWState* s, float angle, int32_t option, PIXR* image);

// ---- Skew

/* Skew angle (radians) and confidence (percent) of a framed 1-bit page; sampling is the line
   step of the fine search: 1, 2, 4, 8, 16 or 32. A page without estimate gives 0 and 0. */
VltStatus w_findSkewSample(IPWState* s, const PIXR* image, int32_t sampling, int32_t* confidence,
                           float* angle);

#endif
