#ifndef PDF_READ_H
#define PDF_READ_H

// The PDF reader: a page of an open document becomes a page image whose layers are the page's
// placed images (with their masks and one JBIG2 dictionary), its filled rectangles and its text
// objects, which pass through as PDF operator text.
//
// Coordinates: the image is as large as the page box at the highest resolution of its image and
// rectangle layers (72 dpi without any). A layer's x, y, width and height are pixels of its own
// resolution from the box's upper-left corner, so that a layer of 300-dpi samples is placed in
// 300-dpi pixels whatever the page's resolution. A placement that is more than a scale and a
// shift (rotated, sheared or flipped) keeps the rest as the layer's transform matrix: what follows
// the placement of its box [w 0 0 h x y] in points from the box's lower-left corner.

#include <stdint.h>

#include "dio_pdf.h"
#include "dio_text.h"
#include "pdf_write.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A colour mask's or rectangle's colour goes into PDF_LAYER_COLOR and PDF_LAYER_COLOR_PHOTOMETRIC,
   as the writer paints it (pdf_write.h). */

/* The image stream a layer was read from, "number generation" (a layer attribute), for callers
   that decode the samples themselves. */
#define PDF_LAYER_OBJECT "_PDFimageObject"
/* The image XObject as stored, with its masks, colour space and decode parameters (a POINTER of
   PDFImageExport's bytes, a layer attribute): the PDF writer writes it again unchanged. */
#define PDF_LAYER_CARRIED "_PDFimageCarried"
/* A colour mask's or rectangle's fill as the page gave it, when in a device space: the PDF
   operator that sets it ("0.5 g", "1 0 0 rg", "0 0 0 1 k"), a STRING the writer paints with
   rather than the 0..255 components. */
#define PDF_LAYER_FILL "_PDFfill"

/* Image attributes the reader sets: the raw page box, the page's fonts, its rotation. */
#define PDF_ATTR_MEDIABOX "_PDFmediabox"
#define PDF_ATTR_FONT_RESOURCE "_PDFFontResource"
#define PDF_ATTR_ROTATE "_PDFrotate"
#define PDF_ATTR_FONT_LIST "_PDFFontList"
/* What the page draws that its layers cannot carry (the first such thing, "vector drawing",
   "a shading", ...), a STRING; absent when the layers are the whole page. */
#define PDF_ATTR_NOT_CARRIED "_PDFnotCarried"
/* Set (a boolean) when the page shows text that is not invisible (rendering mode 3). */
#define PDF_ATTR_VISIBLE_TEXT "_PDFvisibleText"
/* The page's MediaBox, and its CropBox when it has one, as they stand: a LIST of four or eight
   DOUBLEs (x0 y0 x1 y1 each), which the writer gives the page written. */
#define PDF_ATTR_PAGE_BOXES "_PDFpageBoxes"

/* What the operator callbacks of one content extraction share. */
typedef struct ReaderCallbackContext {
  PdfDocState* backend;      /* the document and its page list */
  elf_object* image;         /* the page image being built */
  double box[4];             /* the page box x0 y0 x1 y1, in points */
  int32_t pathRectangles;    /* trailing layers that "re" made for the path not yet painted */
  uint64_t pageSamples;      /* bytes of samples the page's image layers decode to so far */
  void* carry;               /* what the layers cannot carry, as the content runs (pdf_read_carry.cpp) */
} ReaderCallbackContext;

/* One placed image or mask: the graphics state it is drawn in and the image. */
typedef struct PlacedImageRecord {
  int32_t kind;              /* 1 */
  PDFGState gstate;
  const char* operatorName;  /* "Do" */
  PDFImage* image;
} PlacedImageRecord;

/* The page pageIndex (zero-based, its dictionary pageDict) as a new QELIMAGE, or null with the
   reason in the state's status. */
MONO_API elf_object* pdfPageDict2QELImage(elf_state* state, PdfDocState* backend, int32_t pageIndex,
                                          PDFObj* pageDict);

/* Operator callbacks of the page reader; 1 lets the extraction go on, 0 stops it. */
MONO_API int __pdf_OP_Do_callback(PDFDoc* doc, void* context, PDFParser* parser);
MONO_API int __page_OP_re_Callback(PDFDoc* doc, void* context, PDFParser* parser);
MONO_API int __page_OP_n_Callback(PDFDoc* doc, void* context, PDFParser* parser);
/* Paths painted or clipped: a rectangle that "re" made stays a layer once painted. */
MONO_API int __page_OP_paint_Callback(PDFDoc* doc, void* context, PDFParser* parser);

/* The layer of a placed image (asMask: a stencil mask read as an image's /Mask): 1 added, 0
   failed, -1 when its placement cannot be taken apart. */
MONO_API int __kvpdfImg2qelLayer(ReaderCallbackContext* context, PlacedImageRecord* record, PDFDoc* doc,
                                 int32_t asMask);
/* The page's JBIG2 dictionary layer from the globals of the record's image: 1 added, 2 when the
   image has no globals, 0 on failure. */
MONO_API int __fetchJBIG2Dict2qelLayer(PDFDoc* doc, elf_state* state, PlacedImageRecord* record, elf_object* image);
/* Samples per pixel of a photometric value (0 for 0, -1 for 14). */
MONO_API int32_t QELGetImageParts(int32_t photometric);
/* The PDF placement a b c d e f as a 3x3 row-vector matrix in engine coordinates for a page of
   height pageHeight (y downwards): nine doubles into matrixOut. 1. */
MONO_API int __pdf2SPcoordinateTransform(const double pdfMatrix[6], int32_t pageHeight, double matrixOut[9]);

/* ---- What the layers cannot carry ---- */

/* Starts watching the content of the page pageDict for what its layers cannot carry: takes over
   the reader's Do, re and text callbacks (calling them in turn) and adds its own. 1, or 0 without
   memory. */
int pdfCarryCheckBegin(PDFDoc* doc, ReaderCallbackContext* context, PDFObj* pageDict);
/* Gives the image layer l the image as stored (PDF_LAYER_CARRIED), unless the layer says all
   of it already (a plain JPEG); an image placed again on the page shares the bytes of its first
   placement. A status, 0 on success. */
int pdfCarryImage(ReaderCallbackContext* context, PDFDoc* doc, PDFImage* image, elf_QELLAYER* l);
/* Ends the watch; with keep, names what was found in the image's PDF_ATTR_NOT_CARRIED. 1, or 0
   without memory. */
int pdfCarryCheckEnd(ReaderCallbackContext* context, int keep);

/* ---- Text pass-through ---- */

/* Operator callback of the text operators (BT, ET, the text state, positioning and showing
   operators), with the page image. */
MONO_API int __pageTextObjectCallback_passthru(PDFDoc* doc, void* image, PDFParser* parser);
/* Appends one piece of operator text to a text layer; 1, or 0 (no text, no memory). */
MONO_API int _layerAddPDFTextOpString(elf_object* layer, const char* text);
/* Event callback of the page's content end (2010) and of the extraction's end (2011). */
MONO_API int __FinalizeLayerEndContent(PDFDoc* doc, void* image, PDFParser* parser, int32_t event);

#ifdef __cplusplus
}
#endif

#endif
