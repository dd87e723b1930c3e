#ifndef XPS_PACKAGE_H
#define XPS_PACKAGE_H

// The XPS package model: opening a package reads its XPSFixedDocSequence and the XPSFixedDoc
// records with the names of their pages. A page's markup is read when the page is asked for
// (XPSFixedDocLoadPage) into a new XPSFixedPage that goes with the caller's reference, so memory
// follows the page being read, not the number of page references. A loaded page keeps deep
// copies of its top-level Path, Canvas and Glyphs elements under one Canvas root, which the
// page renderer walks (XPSFixedPageRender). Both the 2005/06 XPS namespace and OpenXPS
// (ECMA-388) are read: elements are matched by local name, relationship types in either form.
//
// Results (here, in the renderer and in xps_archive.h): 1 success; 0 an allocation or engine
// failure; -1 a malformed or unreadable part or a missing argument; other values of the archive
// are passed on. Messages go through the engine's printers with the function's name first.
//
// Documents and pages are reference counted through the element header. A record handed out by
// XPSPackageGetDocument or XPSFixedDocGetPage carries a reference for the caller, dropped with
// XPSElementRelease. Pages hold a reference to the archive, so a page may outlive its package.

#include <libxml/tree.h>
#include <stdint.h>

#include "qel_struct.h"
#include "xps_archive.h"

#include "mono_export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ELFDeque ELFDeque;

/* The four words every element of a deque begins with. */
typedef struct XPSElementHeader {
  void (*copy)(void* element);   /* adds one reference; null for records never shared */
  void* reserved;
  void (*free)(void* element);   /* drops one reference, freeing the record at zero */
  int32_t references;            /* 1 at creation */
} XPSElementHeader;

typedef struct XPSFixedDocSequence {
  XPSElementHeader header;
  ELFDeque* documents;           /* XPSFixedDoc, in DocumentReference order */
  char* partName;                /* owned */
} XPSFixedDocSequence;

typedef struct XPSFixedDoc {
  XPSElementHeader header;
  ELFDeque* pages;               /* XPSFixedPage naming each page, in PageContent order */
  char* partName;                /* owned */
  XPSArchive* archive;           /* one reference held, for loading pages */
} XPSFixedDoc;

/* What one page may pull in while it is read and rendered, so that a small package cannot make
   a page take unbounded time and memory (a page placing one large image a thousand times):
   the parts (markup, relationships, each image and thumbnail decoded) and their bytes (the
   markup as stored and the pixels of every decoded image). A real page of many scanned or
   drawn images stays far below both. */
#define XPS_MAX_PAGE_PARTS 10000
#define XPS_MAX_PAGE_BYTES (INT64_C(1) << 30)
/* Page references one FixedDocument may hold: each costs a small record while the package is
   open. */
#define XPS_MAX_DOCUMENT_PAGES 1000000

typedef struct XPSFixedPage {
  XPSElementHeader header;
  double width;                  /* 1/96 inch */
  double height;
  double contentBox[4];          /* x, y, width, height */
  double bleedBox[4];
  xmlDocPtr canvasDoc;           /* owned, or null for a page without drawing elements */
  xmlNodePtr canvasRoot;         /* its root Canvas element */
  XPSArchive* archive;           /* one reference held */
  QELImage* thumbnail;           /* decoded on first request, owned */
  char* thumbnailPartName;       /* owned, or null */
  char* partName;                /* owned */
  int32_t loaded;                /* the markup has been read (not so in the document's list) */
  int64_t markupBytes;           /* the page part and its relationships as stored */
  int64_t pulledParts;           /* parts and bytes pulled in by the current rendering */
  int64_t pulledBytes;
} XPSFixedPage;

typedef struct XPSPackage {
  XPSFixedDocSequence* sequence;
  XPSArchive* archive;
  QELImage* thumbnail;
  char* thumbnailPartName;
  char* signatureOriginPartName;
  xmlDocPtr* signatures;         /* null-terminated, or null */
} XPSPackage;

/* Deques of counted elements (the engine's ELFDeque): pushing and getting take a reference,
   freeing the deque drops one per element. */
MONO_API ELFDeque* KVngAllocDeque(void);
MONO_API int ELFDequePush(ELFDeque* deque, void* element);
MONO_API int32_t ELFDequeGetCount(const ELFDeque* deque);
/* Element index (from 0) with a reference for the caller, or null. */
MONO_API void* ELFDequeGet(ELFDeque* deque, int32_t index);
MONO_API void ELFFreeDeque(ELFDeque* deque);
/* Drops the caller's reference to a document or page (null is ignored). */
MONO_API void XPSElementRelease(void* element);

/* Opens and reads the whole package; on failure nothing stays allocated and *package is null. */
MONO_API int XPSPackageOpenDefault(const char* fileName, XPSPackage** package);
MONO_API void XPSPackageClose(XPSPackage* package);
/* -1 for no package, 0 without a sequence, else the number of documents. */
MONO_API int32_t XPSPackageGetDocumentCount(const XPSPackage* package);
/* Document n (from 1) with a reference for the caller, or null. */
MONO_API XPSFixedDoc* XPSPackageGetDocument(XPSPackage* package, int32_t n);
MONO_API const char* XPSPackageGetFileName(const XPSPackage* package);
/* The package thumbnail (still the package's), or null when it has none. */
MONO_API int XPSPackageGetThumbnail(XPSPackage* package, QELImage** image);
MONO_API int32_t XPSFixedDocGetPageCount(const XPSFixedDoc* document);
/* Reads page n (from 1) into a new record with one reference for the caller: 1, -1 for no such
   page or a page part that cannot be read (reported naming the part), 0 without memory. */
MONO_API int XPSFixedDocLoadPage(XPSFixedDoc* document, int32_t n, XPSFixedPage** page);
/* XPSFixedDocLoadPage without the status: the page, or null. */
MONO_API XPSFixedPage* XPSFixedDocGetPage(XPSFixedDoc* document, int32_t n);
/* Counts parts and bytes a page pulls in against XPS_MAX_PAGE_PARTS and XPS_MAX_PAGE_BYTES:
   1, or -1 after a report naming the page, what was pulled in and the budget. */
MONO_API int XPSFixedPageCharge(XPSFixedPage* page, int64_t parts, int64_t bytes, const char* what);
MONO_API int XPSFixedPageGetThumbnail(XPSFixedPage* page, QELImage** image);

/* Renders the page into a new image the caller frees with XPSFreeImage: colour rectangles,
   image and mask layers and glyph text layers, rescaled to the highest layer resolution. */
MONO_API int XPSFixedPageRender(XPSFixedPage* page, QELImage** image);

/* Reads the sequence part and everything below it (used by the package open). */
MONO_API int __XPSReadFixedDocSequence(XPSArchive* archive, const char* partName, XPSFixedDocSequence** sequence);

#ifdef __cplusplus
}
#endif

#endif
