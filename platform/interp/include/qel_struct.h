#ifndef QEL_STRUCT_H
#define QEL_STRUCT_H

// The interpreter's C-level page image: an image record with a singly linked list of layer
// records, each with an optional header, as the imaging engine's utilities and readers build
// them outside the object system. Every block an image or layer owns (layers, headers, their
// arrays, data, transform) comes from the engine's allocator (kvng_internal_calloc, the shared
// heap) and goes with __QELImageFree.

#include <stddef.h>
#include <stdint.h>

#include "mono_export.h"

/* Sample layouts of a header. */
enum {
  QEL_LAYOUT_PLANAR = 0,       /* each row holds the rows of the sample planes, plane 0 first */
  QEL_LAYOUT_INTERLEAVED = 1,  /* each row holds the samples of each pixel together */
  QEL_LAYOUT_CODED = 3,        /* compressed data that carries its own layout */
};

typedef struct QELHdr {
  int32_t channels;
  int32_t* bitsPerChannel;     /* channels entries; only entry 0 counts for an interleaved layout */
  int32_t* bytesPerRow;        /* channels entries, the same way */
  uint32_t width;
  uint32_t height;
  int32_t layout;              /* QEL_LAYOUT_* */
  int32_t compression;         /* the image model's compression codes */
  int32_t photometry;          /* the image model's photometric codes */
  void* userData;              /* the engine header's user data, or null */
} QELHdr;

typedef struct QELLayer {
  struct QELLayer* next;
  int32_t kind;                /* the image model's layer kinds */
  int32_t number;              /* the reader's layer number */
  int32_t x;
  int32_t y;
  uint32_t width;
  uint32_t height;
  uint32_t xres;               /* pixels per inch */
  uint32_t yres;
  void* data;                  /* owned */
  size_t dataLength;
  QELHdr* header;              /* owned, or null */
  int32_t colour[5];           /* red, green, blue, a fourth word, colour model code */
  double window[4];            /* placement: x, y, width, height in page units */
  double opacity;
  double* transform;           /* six numbers, owned, or null for the identity */
} QELLayer;

typedef struct QELImage {
  void* owned;                 /* a block the image owns, or null */
  QELLayer* layers;
  int32_t layerCount;
  uint32_t width;
  uint32_t height;
  double xres;                 /* pixels per inch */
  double yres;
} QELImage;

/* Frees a chain of layers with everything they own; null is ignored. */
MONO_API void __QELLayersFree(QELLayer* layer);
/* Frees an image with its layers; null is ignored. */
MONO_API void __QELImageFree(QELImage* image);

struct elf_state;
struct elf_object;
/* A new page-image object (QELIMAGE, count 0) in state made from image, which stays the
   caller's: every layer becomes a QELLAYER named "layer<n>" holding copies of its description
   (QELHDR), data (POINTER), transform and engine header data; a colour layer's colour becomes
   its "_DIOcolor" (LIST of red, green, blue) and "_DIOcolorPhotometric" (RGB) attributes, as
   the document writers paint them. Text layers get no text object: what their data holds is
   the reader's to say. Null when image is null or memory runs out (reported). */
MONO_API struct elf_object* __QELStruct2Obj(struct elf_state* state, const QELImage* image);

#endif
