#ifndef TFX_ADJUST_H
#define TFX_ADJUST_H

// The interpreter script "docio/tifffxFmtAdj.elf", which brings a page to the size a fax profile
// asked for before it is written, served by this library (registered in the type description
// as a [SCRIPT] with the symbol TFXFormatAdjust).
//
// Arguments: "inImg:QELIMAGE" the page, "dw:i" and "dh:i" the size wanted, "outphoto:i" the
// photometric value wanted (0: keep the page's), "outfile:s" (accepted, not used). Result
// "outImg:QELIMAGE", a new page of one layer.
//
// The page's first layer is scaled by dh / height in both directions (area averaging), so that
// its shape is kept, and then cut or widened with white on the right to dw: fax widths are
// paper widths, and a page is never stretched to reach one. Photometric 0x15 (QEL_PHOTO_BILEVEL)
// asks for one bit a pixel, darker than half being black; any other one-sample value keeps a
// bilevel page bilevel and makes colour grey; a three-sample value makes eight-bit colour.
// Layers are taken raw (compression 0), bilevel ones also coded as G3, G3 two-dimensional or G4,
// grey and colour ones also as JPEG (one stream a strip). A bilevel result keeps a bilevel
// page's coding, a grey or colour result a JPEG page's (one strip, baseline JPEG of quality 75);
// any other result is raw. Layers of one bit, eight-bit grey and 24-bit colour are taken;
// anything else, another coding, data that does not decode, a page without a layer or a size
// below 1 fails with a status message that names the script.

#include "elf_object.h"
#include "mono_export.h"

#ifdef __cplusplus
extern "C" {
#endif

MONO_API int TFXFormatAdjust(void* target, elf_object* args, elf_object** result);

#ifdef __cplusplus
}
#endif

#endif
