#ifndef KVFONT_H
#define KVFONT_H

// The imaging engine's font table: the fonts that text layers are written with, by index.
//
// An index names one face (family and style) in one character set. The faces are the twelve
// standard text faces of PDF (Helvetica, Times and Courier, each regular, bold, italic and bold
// italic), whose metrics come from the URW base-35 fonts that share them. Character sets:
//   0 ASCII and 1 Latin-1 (both written with WinAnsiEncoding, which PDF viewers know),
//   2 Latin-2 (ISO 8859-2: the font's own encoding, with widths and a ToUnicode map).
// Index = character set * 16 + face; face = family * 4 + style, family 0 sans, 1 serif,
// 2 monospaced, style bit 1 bold, bit 2 italic. Indexes 12 to 15 of each set and every index
// from 48 on are unused: the calls below answer them as they answer an unknown index.
//
// Text-layer runs name their face with a family-and-style code ("famStyle") in the same form as
// a face number; an unknown family falls back to sans.
//
// Memory handed out comes from the engine allocator (kvng_internal_calloc) and goes back with
// kvng_internal_free.

#include <stddef.h>
#include <stdint.h>

#include "mono_export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct FFont FFont;

enum {
  FFONT_TABLE_SIZE = 256,     /* indexes are below this */
  FFONT_FACES = 12,
  FFONT_CSET_ASCII = 0,
  FFONT_CSET_LATIN1 = 1,
  FFONT_CSET_LATIN2 = 2,
  FFONT_CSETS = 3,
  FFONT_FAMILY_SANS = 0,
  FFONT_FAMILY_SERIF = 1,
  FFONT_FAMILY_MONO = 2,
  FFONT_STYLE_BOLD = 1,
  FFONT_STYLE_ITALIC = 2,
  FFONT_FIRST_CODE = 32,      /* codes below are control codes in every set */
};

/* The face of an index, or null for an unused index. The record lives as long as the process. */
MONO_API const FFont* FFont_ForIndex(int32_t index);
/* The PDF base-font name of an index ("Helvetica-Bold"), or null. */
MONO_API const char* FFont_PDFNameForIndex(int32_t index);
/* The character set of an index, or -1. */
MONO_API int32_t FFont_IndexToISOCSet(int32_t index);
/* The index of a family-and-style code in a character set, or -1 for an unknown set. */
MONO_API int32_t FFont_IndexForFamStyle(int32_t famStyle, int32_t charSet);
/* Family (FFONT_FAMILY_*) and style bits of a face; -1 for none. */
MONO_API int32_t FFont_Family(const FFont* font);
MONO_API int32_t FFont_Style(const FFont* font);
/* The family name a document names the face by ("Helvetica", "Times", "Courier"), or null. */
MONO_API const char* FFont_FamilyName(const FFont* font);

/* The advance of the glyph of code in the face's character set, as a fraction of the em; 0 for
   codes the set leaves undefined and for no font. */
MONO_API double FFont_ChrSzX(const FFont* font, int32_t code);
/* Ascent above and descent below the baseline (negative), as fractions of the em: the extent a
   PDF viewer gives the face's text when it selects or extracts it. */
MONO_API double FFont_Ascent(const FFont* font);
MONO_API double FFont_Descent(const FFont* font);

/* The Unicode character of code in a character set, 0 when the set leaves it undefined. */
MONO_API uint32_t FFont_CodeToUnicode(int32_t charSet, int32_t code);
/* The code of a Unicode character in a character set, or -1 when the set cannot encode it. */
MONO_API int32_t FFont_UnicodeToCode(int32_t charSet, uint32_t unicode);
/* The first set of 1 (Latin-1), 2 (Latin-2) that encodes the character, or -1. */
MONO_API int32_t FFont_CSetForUnicode(uint32_t unicode);

/* The code-to-Unicode map of an index: FFONT_TABLE_SIZE entries, 0 for undefined codes; a new
   array, or null for an unused index or no memory. */
MONO_API uint32_t* FFont_GetC2UForIndex(int32_t index);
/* The text of a PDF ToUnicode CMap (one-byte codes) over the defined entries of a
   code-to-Unicode map of FFONT_TABLE_SIZE entries; a new text, or null for no map or no memory. */
MONO_API char* FFont_GeneratePDFToUnicodeCharMap(const uint32_t* codeToUnicode);

#ifdef __cplusplus
}
#endif

#endif
