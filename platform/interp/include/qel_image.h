#ifndef QEL_IMAGE_H
#define QEL_IMAGE_H

// The page-image model: a QELIMAGE holds a LIST of layers (IDENTs whose values are QELLAYERs)
// and an attribute LIST; a QELLAYER holds its description (QELHDR) and its data (POINTER).
//
// JBIG2 in layers: page data sits in a layer whose description has compression
// QEL_COMPRESSION_JBIG2; the image carries one dictionary layer of kind QEL_KIND_JBIG2_DICT,
// without description, holding the symbol dictionary; the image attribute "jb2DictUID" tells one
// dictionary from the next. Raw 1-bit layers have compression 0; photometric QEL_PHOTO_BILEVEL
// means 1 is black, any other value means 0 is black.

#include <stddef.h>
#include <stdint.h>

#include "elf_list.h"
#include "elf_object.h"
#include "mono_export.h"

/* Layer kinds. */
enum {
  QEL_KIND_IMAGE = 1,        /* more than one bit per sample */
  QEL_KIND_MASK = 2,         /* mask for the layer that follows */
  QEL_KIND_COLOR_MASK = 3,   /* one-bit mask painted in a colour */
  QEL_KIND_RECTANGLE = 4,
  QEL_KIND_JBIG2_DICT = 5,
  QEL_KIND_THUMBNAIL = 6,
  QEL_KIND_BILEVEL = 7,      /* one-bit image */
  QEL_KIND_TEXT = 31,
};

/* Compression codes of a layer description. */
enum {
  QEL_COMPRESSION_NONE = 0,
  QEL_COMPRESSION_JPEG = 1,
  QEL_COMPRESSION_G3 = 2,
  QEL_COMPRESSION_G4 = 3,
  QEL_COMPRESSION_G3_2D = 4,
  QEL_COMPRESSION_DEFLATE = 6,
  QEL_COMPRESSION_JBIG2 = 7,
  QEL_COMPRESSION_XLZ = 9,
  QEL_COMPRESSION_LZW = 10,
  QEL_COMPRESSION_JPEG_DEFLATE = 50,
};

enum { QEL_PHOTO_BILEVEL = 0x15 };

/* Names the libraries share: the layer-list entry of a dictionary layer made by encoding, the
   image attribute that identifies the dictionary, the attribute a reader gives a page. */
#define QEL_JBIG2_DICT_ENTRY "jbig2Dict:"
#define QEL_ATTR_JB2_DICT_UID "jb2DictUID"
#define QEL_ATTR_PAGE_NUMBER "DIOPageNum"

/* What an engine header carries beside the description (calibration, ICC profile, compression
   chain ...): the engine defines the record, which begins with these two operations; the QELHDR
   owns it, copies it with copy (null when memory runs out) and lets it go with release. */
typedef struct elf_hdr_extra {
  struct elf_hdr_extra* (*copy)(const struct elf_hdr_extra* data);
  void (*release)(struct elf_hdr_extra* data);
} elf_hdr_extra;

/* Layer description. The per-sample arrays come from elfCalloc and go with _elfFree. */
typedef struct elf_QELHDR {
  elf_object hdr;
  int32_t width;
  int32_t height;
  int32_t samplesPerPixel;
  int32_t bitsPerSampleCount;
  int32_t* bitsPerSample;
  int32_t bytesPerRowCount;
  int32_t* bytesPerRow;
  int32_t photometric;
  int32_t compression;
  int32_t interleave;        /* sample layout: 1 pixel-interleaved, 0 when not said */
  elf_hdr_extra* engineData; /* owned, or null */
} elf_QELHDR;

/* A 2-D affine transform in the PDF order a b c d e f: a point (x, y) goes to
   (a x + c y + e, b x + d y + f). */
typedef struct QELTransform2D {
  double m[6];
} QELTransform2D;

typedef struct elf_QELLAYER {
  elf_object hdr;
  int32_t kind;
  char* name;                /* owned, or null */
  elf_object* description;   /* QELHDR, held, or null */
  elf_object* data;          /* POINTER, held, or null */
  double xres;               /* dots per inch */
  double yres;
  double x;                  /* placement on the page, pixels */
  double y;
  double width;
  double height;
  elf_object* attributes;    /* LIST, held, or null */
  QELTransform2D* transform; /* owned (elfMalloc), or null for the identity */
  elf_object* text;          /* QELTEXT of a text layer (kind 31), held, or null */
} elf_QELLAYER;

/* What the data of a text layer holds. */
enum {
  QEL_TEXT_PLAIN = 1,
  QEL_TEXT_XML = 2,          /* text-layer XML */
  QEL_TEXT_PDF = 3,          /* PDF content operators */
  QEL_TEXT_XPS = 4,          /* XPS markup */
};

/* The text object of a text layer: the kind of text its data holds. */
typedef struct elf_QELTEXT {
  elf_object hdr;
  int32_t kind;              /* QEL_TEXT_* */
} elf_QELTEXT;

typedef struct elf_QELIMAGE {
  elf_object hdr;
  int32_t width;
  int32_t height;
  double xres;
  double yres;
  int32_t layerCount;        /* kept by whoever adds or removes layers */
  elf_object* layers;        /* LIST of IDENT -> QELLAYER, held, or null */
  elf_object* attributes;    /* LIST of IDENT, held, or null */
} elf_QELIMAGE;

MONO_API elf_object* new_QELIMAGE(elf_state* state, void* unused, elf_object* args);
MONO_API elf_object* new_QELLAYER(elf_state* state, void* unused, elf_object* args);
MONO_API elf_object* new_QELHDR(elf_state* state, void* unused, elf_object* args);
MONO_API elf_object* new_QELTEXT(elf_state* state, void* unused, elf_object* args);
MONO_API void free_QELIMAGE(elf_object* obj);
MONO_API elf_object* copy_QELIMAGE(elf_object* obj);

/* The record behind an object of that type, or null for anything else. */
MONO_API elf_QELIMAGE* qelImage(elf_object* obj);
MONO_API elf_QELLAYER* qelLayer(elf_object* obj);
MONO_API elf_QELHDR* qelHdr(elf_object* obj);
MONO_API elf_QELTEXT* qelText(elf_object* obj);

/* A text layer (kind 31) whose data is a copy of length bytes of text (kept zero-terminated) of a
   kind (QEL_TEXT_*), placed over a page of width by height pixels at xres by yres; null when
   memory runs out. */
MONO_API elf_object* QELNewTextLayer(elf_state* state, int32_t kind, const char* text, size_t length, double width,
                                     double height, double xres, double yres);

/* Layer index of an image's layer list (borrowed), or null when there is none or the entry is
   not a layer. */
MONO_API elf_object* QELGetLayer(elf_object* image, int32_t index);

/* The first dictionary layer (kind 5) of a layer list, or null; *position (when given) receives
   its index in the list, -1 without one. */
MONO_API elf_object* QELGetDictLayer(elf_object* layers, int32_t* position);

/* Takes entry index out of the image's layer list and lowers the layer count. The layer goes to
   *removed with one reference for the caller when removed is given, else it is released.
   Returns 0, or QEL_STATUS_INVALID for no image or no such entry. */
MONO_API int QELDeleteLayer(elf_object* image, int32_t index, elf_object** removed);

/* Brings an image up to date before a method uses its layers: the layer count follows the layer
   list, and every raw layer must describe its data fully (description, one bit or more per
   sample, rows of at least width bits, data covering every row). Returns 0, or the status it
   reports (QEL_STATUS_INVALID) for no image or a layer that fails. */
MONO_API int QELUpdateQELIMAGE(elf_object* image);

/* Appends layer to the image's layer list under name (created with the first layer) and raises
   the layer count. Returns 0, or QEL_STATUS_FAILED when it cannot (reported through the message
   function); the layer is not kept then. */
MONO_API int QELAppendLayer(elf_object* image, const char* name, elf_object* layer);

/* A new image (count 0) holding layer (held) as its only layer, under the name "layer<index>",
   sized and resolved as the layer; image, when given, receives the layer instead and is
   returned. Null when the layer is missing or memory runs out (reported). */
MONO_API elf_object* QELLayer2QELIMAGE(elf_object* layer, int32_t index, elf_object* image);

/* The layer attribute that records an affine matrix to be applied to the layer. */
#define QEL_ATTR_MATRIX "_DIOMatrixTransform"

/* Applies the affine matrices recorded on an image's layers before it is written. Returns 0 when
   no layer carries one (or only the identity, six numbers 1 0 0 1 0 0 in a LIST); other
   matrices cannot be applied here and give QEL_STATUS_INVALID, reported, so that no page is
   written without its transform. */
MONO_API int __QELIMAGEAutoAffine(elf_object* image);

/* Transforms on this heap: a new identity, or null when memory runs out; released with _elfFree. */
MONO_API QELTransform2D* QELTransform2DNew(void);
/* t becomes t followed by a scale, or by a translation. */
MONO_API void QELTransform2DScale(QELTransform2D* t, double sx, double sy);
MONO_API void QELTransform2DTranslate(QELTransform2D* t, double tx, double ty);
/* t becomes t followed by after (t applies first). */
MONO_API void QELTransform2DConcat(QELTransform2D* t, const QELTransform2D* after);
MONO_API int QELTransform2DIsIdentity(const QELTransform2D* t);

/* A new copy of the layer's transform matrix (the identity when it has none) for the caller to
   release with _elfFree; null when layer is no QELLAYER or memory runs out. */
MONO_API QELTransform2D* __QELLAYERGetTransformMatrix(elf_object* layer);
/* Sets the layer's transform matrix to a copy of t (null: the identity). 0, or
   QEL_STATUS_INVALID for no layer, QEL_STATUS_FAILED when memory runs out. */
MONO_API int __QELLAYERSetTransformMatrix(elf_object* layer, const QELTransform2D* t);

/* A raw 1-bit layer (kind 7, photometric QEL_PHOTO_BILEVEL, compression 0) over rows of
   rowBytes each. It takes rows (this heap) on success; on failure (null) the caller keeps it. */
MONO_API elf_object* QELNewBilevelLayer(elf_state* state, int32_t width, int32_t height, int32_t rowBytes,
                                        void* rows, size_t length, double xres, double yres);

#endif
