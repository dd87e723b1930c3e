#ifndef DIO_TEXT_H
#define DIO_TEXT_H

// Text layers: the interpreter methods over text-layer XML (the format is described in kvxml.h),
// font objects (FONTDIO), which carry the fonts of a PDF page from its reader to a writer, and
// the PDF writer's text-layer output.

#include <stdint.h>

#include "mono_export.h"
#include "pdflib.h"
#include "qelinterp.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Text-layer XML methods (status 20 with a message on the state of args on failure) ---- */

/* Arguments "@qelxml:s", "@width:i", "@height:i", "@xres:d", "@yres:d", "@matrix:" (a LIST of six
   numbers a b c d e f); results "xpsxml:s" (XPS Glyphs markup) and "font:s" (the font file). */
MONO_API int QELXML2XPSXML(void* target, elf_object* args, elf_object** result);
/* Object method "format" ("CALL_NAME:s", "qelxml:s"): joins the runs of one line whose gaps are one
   space width (the object's integer members "sw", within "xtol"; baselines within "ytol") into
   one run; result "result:s", the rewritten document. The members are read through the object's
   get operation, or from a LIST of named INTEGERs. */
MONO_API int QELXML_CoalesceWords(void* target, elf_object* args, elf_object** result);
/* "qelxml:s" -> "text:s": the runs laid out as plain text lines, UTF-8, each ended by a line feed. */
MONO_API int QELXML2Text(void* target, elf_object* args, elf_object** result);


/* ---- Font objects (FONTDIO) ---- */

enum { FONTDIO_TAG = 44, FONTDIO_MAGIC = 0x4384A3C };

/* One element of an encoding's Differences array. */
typedef struct FontDifferenceEntry {
  int32_t kind;              /* PDF_OBJ_INTEGER, PDF_OBJ_REAL, PDF_OBJ_STRING or PDF_OBJ_NAME */
  int32_t intValue;
  double realValue;
  char* text;                /* strings and names, owned */
  struct FontDifferenceEntry* next;
} FontDifferenceEntry;

typedef struct FontEncodingRecord {
  char* baseEncoding;        /* owned */
  FontDifferenceEntry* differences;   /* in array order, owned */
} FontEncodingRecord;

/* A ToUnicode stream as stored in the file. */
typedef struct ToUnicodeRecord {
  int32_t flate;             /* 1 when its Filter is FlateDecode */
  int32_t length;
  uint8_t* bytes;            /* owned */
} ToUnicodeRecord;

typedef struct FontWidthsRecord {
  int32_t count;
  int32_t* widths;           /* owned */
} FontWidthsRecord;

/* One font of a PDF page. Texts have no fixed size: names are kept whole. Everything is on the
   interpreter's heap. A record counts only when its tag and magic are FONTDIO_TAG and
   FONTDIO_MAGIC. */
typedef struct FontDioRecord {
  int32_t tag;
  int32_t magic;
  char* name;                /* resource name on the page; "unnamed font" */
  char* sourceId;            /* "F<object>_<generation>_needPDFid"; "unknown source" */
  char* baseFont;            /* "no base font" */
  char* subtype;             /* "subtype not found" */
  int32_t firstChar;         /* -1 when absent */
  int32_t lastChar;
  FontEncodingRecord* encoding;
  ToUnicodeRecord* toUnicode;
  FontWidthsRecord* widths;
} FontDioRecord;

enum { FONTDIO_MEMBERS = 2 };

typedef struct elf_FONTDIO {
  elf_object hdr;
  elf_object* members[FONTDIO_MEMBERS];   /* cached "getSrcID" and "getName" */
  FontDioRecord* record;     /* owned, or null */
} elf_FONTDIO;

MONO_API elf_FONTDIO* dioFontDio(elf_object* obj);

MONO_API elf_object* new_FONTDIO(elf_state* state, void* unused, elf_object* args);
MONO_API elf_object* get_FONTDIO(elf_state* state, elf_object* obj, const char* name);
MONO_API int set_FONTDIO(elf_state* state, elf_object* obj, const char* name, elf_object* value);
MONO_API void free_FONTDIO(elf_object* obj);
MONO_API elf_object* read_FONTDIO(elf_state* state, int fd);
MONO_API int write_FONTDIO(elf_object* obj, int fd, const char* indent);
MONO_API elf_object* copy_FONTDIO(elf_object* obj);
MONO_API void refs_FONTDIO(elf_object* obj, int fd, const char* indent);
MONO_API void resetELF_FONTDIO(elf_object* obj, elf_state* state);
MONO_API int empty_FONTDIO(elf_object* obj);
MONO_API int cycle_FONTDIO(elf_object* obj, elf_object* other);
MONO_API int equal_FONTDIO(elf_object* obj, elf_object* other);

/* Members "getName" and "getSrcID": result "name:s". */
MONO_API int FontDioMethods(void* target, elf_object* args, elf_object** result);

/* A record with the default texts, or null when memory runs out. */
MONO_API FontDioRecord* __outsideFONTDIOCreate(void);
/* A deep copy; null for a record that fails the tag check or when memory runs out. */
MONO_API FontDioRecord* __outsideFONTDIOcopy(const FontDioRecord* record);
MONO_API void __outsideFONTDIORelease(FontDioRecord* record);

/* Reads the fonts of a page's own /Resources /Font into FONTDIO objects made in state, appended
   under their resource names to *listInOut (a LIST, made when it is null). 1, also when the page
   has no fonts (the list is left as it was); 0 when a font dictionary is not a font or a font
   without Widths has a damaged ToUnicode stream: then nothing is added. */
MONO_API int __fontDioFetchFonts(elf_state* state, PDFDoc* doc, PDFObj* pageDict, elf_object** listInOut);
/* Makes entry index of fontList a font resource of the output page: once per source id and
   document (later pages refer to the same dictionary). 1 with *doneOut 1 when handled (also for
   an entry that is no FONTDIO), 0 with *doneOut 0 when the FONTDIO has no valid record or the
   PDF library fails. */
MONO_API int __fontDioPushFont(void* context, PDFDoc* doc, PDFObj* page, int32_t index, elf_object* fontList,
                               int32_t* doneOut);

/* ---- Text layers into PDF pages ---- */

/* Writes a text layer (kind 31) into a PDF page by its text kind: text-layer XML as invisible
   text with a font resource per font used, PDF operator text as it is with the fonts its
   "_PDFFontList" names (from the image's "_PDFFontResource" FONTDIOs, else standard fonts);
   plain and XPS text are skipped with a message. 1 when written or skipped, 0 for a malformed
   layer, else __outputXMLTextLayer's answer. flag is handed to the converter. */
MONO_API int addxilText(elf_object* image, elf_object* layer, PDFDoc* doc, PDFObj* page, int32_t flag);
/* The XML case: 1, 0 when the XML cannot be converted (nothing is added to the page then), -1
   when the layer's matrix cannot be had. Resolutions and image size are the page image's. */
MONO_API int __outputXMLTextLayer(elf_state* state, elf_object* layer, PDFDoc* doc, PDFObj* page, double xres,
                                  double yres, double imageHeight, double imageWidth, int32_t flag);

#ifdef __cplusplus
}
#endif

#endif
