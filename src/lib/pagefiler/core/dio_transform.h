#ifndef DIO_TRANSFORM_H
#define DIO_TRANSFORM_H

// Transform specifications: what a page image is, or what a target format accepts of one, as the
// object type TRANSFORMSPEC. Writers keep a LIST of them built with the setters below; a page's own
// is made from its layers (getTransformSpec, then the member initByImage); the member tests tell
// which steps turn the page into a chosen target, and matchList picks the closest target.
//
// Included by dio.h; not meant to be included alone.

#include <stddef.h>
#include <stdint.h>

/* A set of photometric codes a raster accepts (or, in a page's spec, the one it has). */
typedef struct DIOPhotometryList {
  int32_t count;       /* 1 or more */
  int32_t* entries;    /* owned */
} DIOPhotometryList;

/* What one kind of raster is or may be: contone (8 or 24 bits) or binary (1 bit). */
typedef struct DIORasterSpec {
  int32_t depth;                    /* 0: not accepted (target) or not present (page) */
  int32_t compression;              /* a layer compression code; -1 any */
  int32_t jpegquality;
  int32_t jbig2arith;               /* 1: JBIG2 data is to use arithmetic coding */
  int32_t interleave;               /* the image model's sample layout */
  DIOPhotometryList* photometries;  /* owned, or null for any photometry */
  double maxXRes;                   /* a page's resolutions, a target's maxima */
  double maxYRes;
  int32_t width;                    /* pixels; 0 is no limit */
  int32_t height;
} DIORasterSpec;

enum { DIO_COMPRESS_CONTROL_CODES = 20 };

/* The core of a spec, held by its coreImage POINTER (which frees it with __freeDocAttr). */
typedef struct DIOCoreSpec {
  int32_t format;        /* DIOFormat; 0 in a page's or default spec */
  int32_t subtype;       /* DIOSubFormat */
  int32_t orientation;   /* DIO_ORIENT_... */
  int32_t compressControl[DIO_COMPRESS_CONTROL_CODES];  /* one flag per code, for the back end */
  DIORasterSpec contone;
  DIORasterSpec binary;
  int32_t pageMode;      /* DIO_PAGE_... */
  int32_t pagesPerFile;  /* DIO_PAGES_... */
  int32_t rotate;        /* target: nonzero accepts a page carrying a rotation; page: its rotation */
  int32_t affine;        /* target: an affine matrix is accepted; page: one is carried */
} DIOCoreSpec;

enum { DIO_ORIENT_ANY = 0, DIO_ORIENT_PORTRAIT = 1, DIO_ORIENT_LANDSCAPE = 2 };
/* Page modes: flat is one raster per page, MRC mixed raster content, colour mask a page whose one
   raster layer is a one-bit mask painted in a colour (layer kind 3). */
enum { DIO_PAGE_ANY = 0, DIO_PAGE_FLAT = 1, DIO_PAGE_MRC = 2, DIO_PAGE_COLOR_MASK = 3 };
enum { DIO_PAGES_ANY = 0, DIO_PAGES_ONE = 1, DIO_PAGES_MANY = 2 };

/* Compression code meaning any, in a spec. */
enum { DIO_COMPRESSION_ANY = -1 };
/* Buffer size for __qelcompressToString. */
enum { DIO_COMPRESSION_NAME_MAX = 15 };

enum { TRANSFORMSPEC_MEMBERS = 17 };

typedef struct elf_TRANSFORMSPEC {
  elf_object hdr;
  elf_object* attributes;  /* LIST of named attributes, held, or null */
  elf_object* coreImage;   /* POINTER holding a DIOCoreSpec, held, or null */
  elf_object* members[TRANSFORMSPEC_MEMBERS];
} elf_TRANSFORMSPEC;

DIO_DECLARE_TYPE(TRANSFORMSPEC)

/* The record behind a TRANSFORMSPEC, or null. */
MONO_API elf_TRANSFORMSPEC* dioTransformSpec(elf_object* obj);
/* The core record of a spec, or null when it has none. */
MONO_API DIOCoreSpec* dioCoreSpec(elf_object* spec);

/* A new spec (count 0) with a core record of defaults in *spec: both raster blocks accept any
   compression at up to 65000 dpi (contone 24 bits, binary 1 bit), quality 80, interleave 100.
   Returns 0, or a status it reported (nothing is made then). */
MONO_API int __createDefaultTransformSpec(elf_state* context, elf_object** spec);

/* Setters of a spec's core record. Each returns 0, or reports and returns 20 without changing
   anything when there is no spec, no coreImage or no record in it, or a value is refused. */
MONO_API int __setTSAttributes(elf_state* context, elf_object* spec, int32_t format, int32_t subtype,
                               int32_t orientation, int32_t pageMode, int32_t pagesPerFile);
MONO_API int __setTSInterleave(elf_state* context, elf_object* spec, int32_t interleave, int32_t binary);
MONO_API int __setTSRotate(elf_state* context, elf_object* spec, int32_t degrees);
MONO_API int __setTSAffine(elf_state* context, elf_object* spec, int32_t flag);
/* Binary data refuses the JPEG codes (1, 50), contone data the bilevel codes (2, 3, 4, 7). */
MONO_API int __setTSCompression(elf_state* context, elf_object* spec, int32_t compression, int32_t binary,
                                int32_t jpegQuality, int32_t jbig2Arith);
/* Copies DIO_COMPRESS_CONTROL_CODES words from list. */
MONO_API int __setTSCompressControlList(elf_state* context, elf_object* spec, const int32_t* list);
/* Fills the binary block for depth 1, the contone block for any other depth; photometries is a
   LIST of integers or null (any photometry). Width and height are kept. A photometry list that
   cannot be built is reported (21 for memory, 20 for an entry that is no integer) and returned,
   the block left without one. */
MONO_API int __setTSRasterAttr(elf_state* context, elf_object* spec, int32_t compression, int32_t jpegQuality,
                               int32_t jbig2Arith, int32_t interleave, elf_object* photometries, int32_t maxXRes,
                               int32_t maxYRes, int32_t depth);
/* Marks the binary (binary nonzero) or contone block as not accepted. */
MONO_API int __unsetTSRasterAttr(elf_state* context, elf_object* spec, int32_t binary);

/* The quoted name of a compression code ("\"jpeg\"") or unknown, into a buffer of at least
   DIO_COMPRESSION_NAME_MAX bytes. */
MONO_API void __qelcompressToString(int32_t code, char* buffer);

/* Gives the record in destination (a coreImage POINTER) photometry lists of its own equal to
   those of source's record, whatever destination's fields held before; a list that cannot be
   allocated is reported (21) and left out. Nothing happens when either is missing. */
MONO_API void __outsideClonePhotometryList(elf_object* destination, elf_object* source);

/* The release procedure of a coreImage POINTER: frees the record and its photometry lists. */
MONO_API void __freeDocAttr(elf_object* pointer);

/* Gives spec a new core record describing the page image: orientation by its shape, rotation
   from "_PDFrotate", page mode and raster blocks from its raster layers (kinds 1, 3, 7). Returns
   0 or the status it reported. */
MONO_API int __createCoreByImage(elf_state* context, elf_object* spec, elf_object* image);

/* Scores each TRANSFORMSPEC of list against spec (0 is an exact fit) and gives the first of the
   best in *nearmatch (borrowed, null for an empty list), *exact 1 when it scored 0. Returns 0. */
MONO_API int __findTransformMatch(elf_state* context, elf_object* spec, elf_object* list, int32_t* exact,
                                  elf_object** nearmatch);

/* Methods. getTransformSpec takes a QELIMAGE, the others the spec they serve. */
MONO_API int getTransformSpec(void* image, elf_object* args, elf_object** result);
MONO_API int TransformSpecMethods(void* spec, elf_object* args, elf_object** result);
MONO_API int TransformSpecRasters(void* spec, elf_object* args, elf_object** result);
MONO_API int TransformSpecPage(void* spec, elf_object* args, elf_object** result);
MONO_API int SpecIsMRC(void* spec, elf_object* args, elf_object** result);

#endif
