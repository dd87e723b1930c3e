#ifndef QELUTIL_H
#define QELUTIL_H

// The imaging engine's utilities that make the interpreter's C-level page images (qel_struct.h)
// from what its readers decode.

#include <stddef.h>
#include <stdint.h>

#include "mono_export.h"
#include "qel_struct.h"
#include "sstate.h"

/* A rectangle of a layer's placement records; the readers pass none (null). */
typedef struct QELRect {
  int32_t x, y, width, height;
} QELRect;

/* Makes an empty image of width x height at the resolution given (pixels per inch) into *image;
   kind is reserved (0). Returns 0, or -1 when memory runs out (reported on state). */
MONO_API int QELUtil_ImageNew(SState* state, int32_t kind, uint32_t width, uint32_t height, double xres, double yres,
                              QELImage** image);

/* A layer numbered number, of width x height, over data (size bytes, the shared heap), which it
   takes on success: a header with samples channels of bits each, bytesPerRow bytes per row,
   pixelWidth x pixelHeight pixels, layout (QEL_LAYOUT_*), compression and photometry. Kind 7
   for one sample of one bit, else 1; opacity 1. The rectangles are reserved (null). Null when
   memory runs out (reported on state); the caller keeps data then. */
MONO_API QELLayer* QELUtil_LayerNew(SState* state, int32_t number, const QELRect* bounds, const QELRect* clip,
                                    const QELRect* window, uint32_t width, uint32_t height, void* data, size_t size,
                                    int32_t samples, int32_t bits, int32_t bytesPerRow, uint32_t pixelWidth,
                                    uint32_t pixelHeight, int32_t layout, int32_t compression, int32_t photometry);

#endif
