#ifndef XPS_FONTS_H
#define XPS_FONTS_H

// What the XPS page renderer asks of the engine's font table for a Glyphs element: a font index
// for the element's FontUri, its family-and-style and ISO character-set codes, and the width of
// a string set in it. The table itself belongs to the text-layer side; until one is installed
// the renderer estimates (index 0, codes 0, half an em per character), so text layers keep
// their runs and positions with approximate widths.

#include <stdint.h>

#include "mono_export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct XPSFontMetrics {
  int32_t (*indexForFileName)(const char* fontUri);
  int32_t (*familyStyle)(int32_t index);
  int32_t (*isoCharset)(int32_t index);
  /* Width of the UTF-8 string at an em size of 1; <= 0 when it cannot be measured. */
  double (*stringWidth)(int32_t index, const char* utf8);
} XPSFontMetrics;

/* Installs the font table's calls (copied); null restores the estimate. */
MONO_API void XPSSetFontMetrics(const XPSFontMetrics* metrics);
MONO_API const XPSFontMetrics* XPSGetFontMetrics(void);

#ifdef __cplusplus
}
#endif

#endif
