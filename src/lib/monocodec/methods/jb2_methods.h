#ifndef JB2_METHODS_H
#define JB2_METHODS_H

// The interpreter methods of the JBIG2 codec. Each takes the target page image (QELIMAGE), the
// argument list and a place for the result list (may be null), and returns an interpreter
// status after recording it with setStatus on the image's interpreter state.

#include "elf_object.h"
#include "mono_export.h"

/* Turns the raw 1-bit layers of the image into JBIG2 page layers plus one dictionary layer
   ("jbig2Dict:"). Arguments "profile:i", "widthDiff:i", "heightDiff:i", "maxDense:i". */
MONO_API int jBig2Encode(void* image, elf_object* args, elf_object** result);
/* Turns the JBIG2 page layers of the image back into raw 1-bit layers (photometric 0x15) and
   removes the dictionary layer. */
MONO_API int jBig2Decode(void* image, elf_object* args, elf_object** result);
/* Decodes an image that holds a dictionary layer, encodes any other. */
MONO_API int jbig2Codec(void* image, elf_object* args, elf_object** result);

#endif
