#ifndef DIO_PDF_H
#define DIO_PDF_H

// The PDF back end's shared pieces: conversions between the engine's image description and the
// PDF library's colour spaces, filters and page geometry, and the content-operator trace that the
// text pass-through replays.

#include <stddef.h>
#include <stdint.h>

#include "kvng.h"
#include "kvng_hdr.h"
#include "mono_export.h"
#include "pdflib.h"
#include "qelinterp.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Operator trace ---- */

#define PDF_EVENT_HISTORY "_PDFEventHistory"

/* Gives the page image an attribute LIST (when it has none) holding an empty trace. 0. */
MONO_API int EventPDF_Initialize(elf_object* image);
/* Operator callback: appends " operands... name" to the image's trace (a Q drops the trace
   gathered so far unless it is the first operator). Always 1, so parsing goes on. */
MONO_API int __EventPDF_OpCallback(PDFDoc* doc, void* image, PDFParser* parser);
/* The trace gathered since the last call, detached (engine allocator, kvng_internal_free), or
   null when tracing is off or nothing was gathered. */
MONO_API char* EventPDF_ToStringSinceMark(elf_object* image);

/* ---- Stream-filter parameter record ---- */

/* Filled by the layer writers for the stream-filter setters. */
typedef struct PdfFilterParams {
  int32_t compression;     /* the layer's own code: non-zero when its data is coded already */
  int32_t photometric;
  int32_t colorKind;       /* 5: DCT data written with ColorTransform 0 */
  int32_t columns;         /* pixels per line */
  int32_t jpegQuality;     /* 0: none given */
  int32_t jbig2Globals;    /* object number of the JBIG2Globals stream, 0 for none */
  int32_t jbig2Coding;     /* 0 arithmetic, any other value Huffman */
  int32_t jbig2Lossless;   /* tokenize with exact matching only */
  int32_t jbig2Count;      /* raised for each raw layer handed to the JBIG2 tokenizer */
  int32_t predictor;       /* LZW predictor, 0 for none */
  int32_t bitsPerComponent;
  int32_t colors;
} PdfFilterParams;

/* ---- JBIG2 image streams ---- */

/* Makes stream a JBIG2 image. Data already in JBIG2 (alreadyJbig2 non-zero) gets the filter with
   its globals stream (the caller appends the data as precompressed); a raw 1-bit layer (data, a
   POINTER and its chained strips) is appended and handed to the library's tokenizer, with
   arithmetic coding for coding 0, else Huffman, and exact matching only when lossless. Decode
   [1 0] unless photometric is 0x15. 0 or a status, reported through data's state. */
MONO_API int __pdiouSetJBIG2image(PDFDoc* doc, PDFObj* stream, elf_object* data, int32_t globals,
                                  int32_t alreadyJbig2, int32_t coding, int32_t lossless, int32_t photometric);

/* ---- Colour, compression and geometry ---- */

/* Where an engine header keeps its calibration and ICC profile. */
#define PDF_HDR_SECTION "Photometry"
#define PDF_HDR_WHITEPOINT "whitepoint"
#define PDF_HDR_GAMMA "gamma"
#define PDF_HDR_PRIMARIES "primaries"
#define PDF_HDR_ICC "iccprofile"

/* Photometric value -> PDF colour-space code, -1 for none. */
MONO_API int32_t pkvuQELColor2kvPDF(int32_t photometric);
/* Photometric value -> PDF colour-space code and the photometric value to write under. */
MONO_API void __pkvuQELPhotoToPdfAndKv(int32_t photometric, int32_t* pdfSpace, int32_t* usePhotometric);
/* PDF filter code -> engine compression code, -1 for none. */
MONO_API int32_t __pkvuPDFCompToQEL(int32_t filter);
/* Sets the stream's filters and decode array for an engine compression code; 0 or a status. */
MONO_API int __pkvuSetStreamFilter(elf_state* state, PDFDoc* doc, int32_t compression, PdfFilterParams* params,
                                   PDFObj* stream);
/* The same for every code, and code 7 as __pdiouSetJBIG2image does it with the record's JBIG2
   words and the layer's data. When a raw layer went to the tokenizer (its bytes are in the stream
   then) the record's jbig2Count is raised. 0 or a status. */
MONO_API int __setStreamFilter(elf_state* state, PDFDoc* doc, int32_t compression, PdfFilterParams* params,
                               PDFObj* stream, elf_object* data);
/* Drops the coding-only JPEG keys from the stream's DecodeParms. */
MONO_API void __pkvuRmJpegCompressionParams(PDFObj* stream, PDFDoc* doc);
/* 1 when the image's DCT data is YCC-coded (filterParams: the filter's DecodeParms, or null). */
MONO_API int __pkvuFilterHasYCCTrans(PDFDoc* doc, PDFImage* image, PDFObj* filterParams);
/* The page's CropBox, else its MediaBox, as up to capacity doubles; 1, or 0 without one. */
MONO_API int __pkvuFetchMediaSize(PDFDoc* doc, PDFObj* page, int32_t capacity, double* box);

/* Calibration of a header: white point, gamma and RGB-to-XYZ matrix, each with its flag. */
typedef struct PdfColorInfo {
  int32_t hasWhitePoint;
  double whitePoint[3];
  int32_t gammaCount;      /* 0, 1 or 3 */
  double gamma[3];
  int32_t hasMatrix;
  double matrix[9];
} PdfColorInfo;

MONO_API int __pkvuGetColorInfo(KVngUserCMData* header, int32_t photometric, int32_t* hasWhitePoint,
                                double whitePoint[3], int32_t* hasGamma, double gamma[3], int32_t* hasMatrix,
                                double matrix[9]);
/* The calibration stored in a header (engine allocator), or null when it stores none. */
MONO_API PdfColorInfo* __pkvuSearchForColorInfo(KVngUserCMData* header);
MONO_API void __pkvuFreeColorInfo(PdfColorInfo* info);
/* Adds the named calibrated space of a header to the page's resources; 1 or 0. */
MONO_API int __pkvuRegisterColorSpace(PDFDoc* doc, PDFObj* page, const char* name, KVngUserCMData* header,
                                      int32_t photometric);
/* Sets the image's colour space for a photometric value; the PDF colour-space code, or -1. */
MONO_API int32_t __pdiouInitPDFColorspace(PDFDoc* doc, PDFObj* image, PDFObj* page, int32_t photometric,
                                          int32_t* parts, KVngUserCMData* header);

/* What __pdiouGetCompression hands back: compression data to write as precompressed filters
   (code -1), or the engine code to code the layer with. */
typedef struct PdfCompression {
  KVngCompressionData* data;
  int32_t code;
} PdfCompression;

MONO_API int __pdiouGetCompression(elf_object* description, int32_t contone, int32_t binary, PdfCompression* out);
/* The layer's placement on the page as six coefficients a b c d e f; 0 or a status. */
MONO_API int __pdiouSetTransform(elf_object* layer, double matrix[6]);

/* Reader: the header's compression from the image stream's filters; *blackIs1 from CCITT data. */
MONO_API int __pdiouInitHeaderCompInfo(PDFDoc* doc, PDFImage* image, elf_object* description, int32_t* blackIs1);
/* Reader: the header's photometric value and calibration from the image's colour space; 1 or 0. */
MONO_API int __pdiouInitHeaderColorInfo(PDFDoc* doc, PDFImage* image, elf_object* description);

/* The current fill colour: its components as a new array (engine allocator) and their number. */
MONO_API double* __getNonStrokingColorInfo(PDFParser* parser, int32_t* count);
/* The same as 0..255 integers. */
MONO_API uint32_t* __nonStrokingColorValues(PDFParser* parser, int32_t* count);

/* An engine header (manager "internal"): per-channel bits, lines of lineLength bytes (all
   channels in one line when interleaved); 1, or 0. */
MONO_API int __makeKVngHeader(KVHdr** header, int32_t width, int32_t height, int32_t channels, const int32_t* bits,
                              int64_t lineLength, int32_t planar);

#ifdef __cplusplus
}
#endif

#endif
