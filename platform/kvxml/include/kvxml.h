#ifndef KVXML_H
#define KVXML_H

// The imaging engine's text-layer XML services: safe parsing of text-layer documents, their glyph
// runs, and the converters of text layers to PDF text operators and to XPS Glyphs markup.
//
// Text-layer XML: one root element of any name whose direct child elements named "Glyphs" are
// glyph runs, with the attributes "x0" (left edge), "xw" (width), "yb" (baseline, y growing
// downwards), "yh" (height), "famStyle" (font family and style code, kvfont.h) and "str" (UTF-8
// text); numbers are read as a leading decimal integer. Positions are pixels of the text layer.
//
// Parsing never reaches the network, substitutes no entities and loads no DTD: a document that
// declares one is refused, as text layers never need one.

#include <stddef.h>
#include <stdint.h>

#include "mono_export.h"
#include "sstate.h"

#ifdef __cplusplus
extern "C" {
#endif

/* libxml2's streaming reader, for callers that read a document's nodes themselves. */
struct _xmlTextReader;

/* Called by KVXML_WalkTextLayer for a node: 1 goes on, 0 stops the walk. */
typedef int (*KVXML_Visit)(void* data, struct _xmlTextReader* reader);

/* Reads a text-layer document once, front to back, without building its tree, so that memory
   follows the largest element rather than the document. visit sees, in document order, every
   node at depth 0 (the root's start and end, and comments or processing instructions around it)
   and every child node of the root (XML_READER_TYPE_*; blank text between elements is left out
   where it separates elements only, as libxml2's XML_PARSE_NOBLANKS leaves it out of a tree),
   with the reader on it: its attributes through xmlTextReaderGetAttribute, its subtree through
   xmlTextReaderExpand. The parsing options are those the text-layer services share (no network,
   no entity substitution, no DTD: a document that declares one is refused, as text layers never
   need one). 1 when the whole document was read, 0 with the reason in why (capacity bytes, may
   be null) for a malformed document or one without a root element, -1 when visit stopped it. */
MONO_API int KVXML_WalkTextLayer(const char* bytes, size_t length, KVXML_Visit visit, void* data, char* why,
                                 size_t capacity);

/* Reads the leading decimal integer of text as "%d" reads it (blanks, a sign, digits; what follows
   is ignored), clamped to +-KVXML_COORD_MAX so that sums of positions cannot overflow. 1, or 0
   when text holds no integer. */
enum { KVXML_COORD_MAX = 1 << 28 };
MONO_API int KVXML_ParseInt(const char* text, int32_t* value);

/* The Unicode character at *text (UTF-8), moving *text past it; U+FFFD for a malformed sequence
   (one byte is skipped then). 0 at the end of the text. */
MONO_API uint32_t KVXML_UTF8Next(const char** text);

/* Appends the UTF-8 form of a Unicode character (at most U+10FFFF) to out, which has room for four
   bytes; the number of bytes written. */
MONO_API int KVXML_UTF8Put(uint32_t unicode, char* out);

/* A parsed text-layer document. */
typedef struct XMLElement XMLElement;

/* Reads length bytes of text-layer XML into its glyph runs; null for malformed XML (reported
   through state). A run that lacks an attribute is kept as the document's fault, which the
   converters below report. */
MONO_API XMLElement* XML_ParseData(SState* state, const char* bytes, size_t length);
MONO_API void XML_ElementFree(XMLElement* tree);

/* PDF content text for a text layer: the glyph runs as invisible text (render mode 3) whose words
   cover the runs' boxes, in fonts named "F%02X" of their font-table index (kvfont.h).
   The runs' pixels are those of a page image of imageWidth by imageHeight pixels, which the
   layer's box covers: x, y (its lower left corner, PDF user space upwards), width and height, in
   units of xres by yres per inch (72: points). The box then goes through matrix (six coefficients
   a b c d e f in points, null for the identity). Without an image size the runs' pixels are the
   layer's units. layerWord and flag are kept for the callers' sake and change nothing. A new text
   (engine allocator), or null with the reason reported through state: a run that lacks an
   attribute fails the whole layer, so nothing half-converted is handed back. */
MONO_API char* PDFXML_XMLToPDF_Ex(SState* state, XMLElement* tree, double x, double y, int32_t width, int32_t height,
                                  double xres, double yres, double imageWidth, int32_t layerWord, int32_t flag,
                                  const double* matrix, double imageHeight);

/* Sets the entries of used (FFONT_TABLE_SIZE flags) of the font indexes that PDFXML_XMLToPDF_Ex
   writes the tree's runs in; the number of indexes newly set, or -1 for a malformed tree. */
MONO_API int32_t PDFQEL_MarkRequiredFonts(XMLElement* tree, int32_t flag, uint8_t* used);

/* XPS markup for a text layer: a Canvas placed through matrix (as above; null for the identity)
   and the resolutions, holding one transparent Glyphs element per run in the font file named by
   *fontName (kept; the converter would replace it were it to choose another). pageWidth and
   pageHeight are pixels. A new text (engine allocator), or null with the reason reported. */
MONO_API char* XPSXML_XMLToXPSStr_Ex(SState* state, const char* xml, char** fontName, double pageWidth,
                                     double pageHeight, double xres, double yres, const double* matrix);

#ifdef __cplusplus
}
#endif

#endif
