#ifndef PDF_WRITE_H
#define PDF_WRITE_H

// The PDF back end's own records: the state behind every PDF reader and writer, the page being
// written and what its layer writers share. Not exported.

#include <stdint.h>

#include "dio.h"
#include "dio_pdf.h"

/* Tag words every slot checks first. */
enum { PDF_STATE_TAG1 = 180, PDF_STATE_TAG2 = 0xC4FD6 };

/* Pages a JBIG2 section holds before it is ended and the next one opens. */
enum { PDF_JBIG2_SECTION_PAGES = 10 };

typedef struct PdfDocState {
  int32_t tag1;
  int32_t tag2;
  PDFDoc* doc;
  char* filename;            /* owned (elfStrDup) */
  int32_t writing;
  KVngIO* checksumIO;        /* reader: kept open for the checksum, closed at release */
  int32_t pageCount;
  PDFObj** pageList;         /* engine allocator */
  int32_t mediaX, mediaY, mediaW, mediaH;   /* points; all 0: none */
  int32_t center;
  int32_t archive;
  char* creator;             /* owned */
  char* tmpLocation;         /* owned */
  char* userPassword;        /* owned */
  char* masterPassword;      /* owned */
  elf_object* permissions;   /* LIST, held */
  int32_t subtype;           /* DIO_SUBFORMAT_PDF_13, _14 or _17 */
  int32_t linearize;
  int32_t encrypt;
  int32_t deflateText;
  int32_t contoneComp;       /* -1 until set */
  int32_t binaryComp;        /* -1 until set */
  int32_t jpegQuality;
  int32_t jbig2Type;         /* 0 arithmetic, else Huffman */
  int32_t jbig2Lossless;
  char* jbig2DictUid;        /* owned: the identity of the current globals stream */
  int32_t jbig2Globals;      /* object number of the current globals stream, -1 for none */
  int32_t jbig2SectionPages; /* JBIG2 pages in the open section */
  int32_t jbig2SectionLength;
  /* What the caller's "_PDFmetadata:s" made: its text (owned) and stream, so that setting it
     again replaces the one stream and PDF/A output merges into it. */
  char* metadataText;
  PDFObj* metadataStream;
  /* A writer's document is made (and encrypted or linearized) in this temporary file and moved
     over filename only when whole; owned. */
  struct SafeOut* output;
} PdfDocState;

/* What a page takes from the writer and the image. */
typedef struct PdfPageSettings {
  int32_t jbig2Count;
  int32_t height;            /* points */
  int32_t width;
  int32_t deflateText;
  int32_t contoneComp;
  int32_t binaryComp;
  int32_t jpegQuality;
  int32_t jbig2Lossless;
  int32_t jbig2Type;
  int32_t rotation;          /* degrees */
} PdfPageSettings;

/* Handed to every layer writer of a page. */
typedef struct PdfPageInfo {
  PDFDoc* doc;
  PDFObj* page;
  int32_t jbig2Globals;      /* -1 for none */
  double xres;               /* dots per inch of the image */
  double yres;
  int32_t width;             /* pixels */
  int32_t height;
  int32_t reserved1;
  int32_t reserved2;
  int32_t pageWidth;         /* points */
  int32_t pageHeight;
} PdfPageInfo;

/* The coding choices of one layer writer call. */
typedef struct PdfLayerParams {
  int32_t jpegQuality;
  int32_t jbig2Type;
  int32_t jbig2Lossless;
  int32_t binaryComp;
  int32_t contoneComp;
  int32_t jbig2Images;       /* raised by the writers */
  PDFObj* mask;              /* the soft mask a contone mask layer leaves for its image */
} PdfLayerParams;

/* Where a colour mask (kind 3) and a rectangle (kind 4) layer keep their colour: in the layer's
   attribute LIST, the components (INTEGERs 0 to 255) and the photometric value they are in. */
#define PDF_LAYER_COLOR "_DIOcolor"
#define PDF_LAYER_COLOR_PHOTOMETRIC "_DIOcolorPhotometric"

/* Reading: page pageIndex (from 0, its dictionary pageDict) as a new image, or null (reported). */
extern "C" elf_object* pdfPageDict2QELImage(elf_state* state, PdfDocState* s, int32_t pageIndex, PDFObj* pageDict);

namespace pdfw {

// Reports text (a line, its newline included) for a step whose failure an inner step has already
// reported: the inner report's words follow the step's own, so that the cause is not lost.
int report_with_cause(elf_state* state, int code, const char* text);

// The media box LIST: four INTEGERs x, y, w, h, into box. 0 or a status (reported).
int get_media_box(elf_state* state, elf_object* list, int32_t box[4]);

// The state of a slot's argument when its tags hold, else null.
PdfDocState* checked(void* backend);

// Layer writers (0 or a status reported on the layer's state).
int addxilOneImage(elf_object* layer, PdfPageInfo* info, PdfLayerParams* params, int32_t index);
int addxilCToneMask(elf_object* layer, PdfPageInfo* info, PdfLayerParams* params, int32_t index);
int addxilNImages(elf_object* layer, PdfPageInfo* info, PdfLayerParams* params, int32_t index);
int addxilColorMask(elf_object* layer, PdfPageInfo* info, PdfLayerParams* params, int32_t index);
int addxilRectangle(elf_object* layer, PdfPageInfo* info);
// A layer read from a PDF whose image travels as stored (PDF_LAYER_CARRIED): written again
// unchanged, placed as the layer is (a stencil mask painted in its colour). *written stays false
// for a layer that is not carried, which the other writers take.
int addxilCarried(elf_object* layer, PdfPageInfo* info, int32_t index, bool* written);

// The test-mode rewrite of a finished file: fixed IDs and creation date. 0 or a status.
int prepare_for_crc(elf_state* state, const char* filename, int32_t archive);

// The current date in PDF form ("D:YYYYMMDDHHmmSSZ00'00'" in UTC) into text.
void pdf_date(char* text, size_t size);

}  // namespace pdfw

#endif
