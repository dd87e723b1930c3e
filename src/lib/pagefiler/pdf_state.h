#ifndef PDF_STATE_H
#define PDF_STATE_H

// The PDF back end's state record behind every PDF reader and writer.

#include <stdint.h>

#include "dio.h"
#include "pdflib.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { PDF_STATE_TAG1 = 180, PDF_STATE_TAG2 = 0xC4FD6 };

typedef struct PdfDocState {
  int32_t tag1;              /* PDF_STATE_TAG1 */
  int32_t tag2;              /* PDF_STATE_TAG2 */
  PDFDoc* doc;
  char* filename;            /* owned */
  int32_t writing;
  void* checksumIO;          /* reserved for the checksum's file handle */
  int32_t pageCount;
  PDFObj** pageList;         /* from PDFGetPageList, kvng_internal_free */
} PdfDocState;

/* 1 when the record is a live PDF back-end state. */
static inline int PdfDocStateValid(const PdfDocState* s) {
  return s && s->tag1 == PDF_STATE_TAG1 && s->tag2 == PDF_STATE_TAG2;
}

#ifdef __cplusplus
}
#endif

#endif
