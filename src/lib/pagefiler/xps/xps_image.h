#ifndef XPS_IMAGE_H
#define XPS_IMAGE_H

// XPS page images: the interpreter's C-level image records (qel_struct.h) made, freed, and
// decoded from image parts. Every block an image or layer owns comes from the engine allocator
// and goes back with XPSFreeImage / __XPSFreeLayers. Results: 1 success, 0 a failed resource,
// -1 data that cannot be decoded.

#include <stdint.h>

#include "kvimgdec.h"
#include "qel_struct.h"

#include "mono_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* An empty image of width x height (truncated) at the resolutions given; true when made. */
MONO_API int __XPSNewImage(double width, double height, double xres, double yres, QELImage** image);
/* Frees the image, its owned block and its layers; null is ignored. */
MONO_API void XPSFreeImage(QELImage* image);
/* Frees a layer and every one after it, with their headers (and header user data), data and
   transform arrays; null is ignored. */
MONO_API void __XPSFreeLayers(QELLayer* layer);
/* A layer for a decoded part (index 0 the image, 1 its mask); it takes the part's pixels on
   success. Null when memory runs out. */
MONO_API QELLayer* __XPSMakeLayer(KVImgPart* part, int32_t index);
/* Decodes size bytes with the engine reader named ("readpng", "readjpg", "readtif") into a new
   image: one layer, or the mask (kind 2) then the image. Nothing is handed out on failure, and
   nothing handed out is taken back. */
MONO_API int __XPSBufferToImage(const char* reader, const void* buffer, int64_t size, QELImage** image);
/* As __XPSBufferToImage, the layers marked as thumbnail (kind 6): every layer for "readpng",
   else the first only. */
MONO_API int __XPSBufferToThumbnail(const char* reader, const void* buffer, int64_t size, QELImage** image);

#ifdef __cplusplus
}
#endif

#endif
