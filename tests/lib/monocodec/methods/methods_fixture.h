#ifndef METHODS_FIXTURE_H
#define METHODS_FIXTURE_H

// Page images for the JBIG2 methods, on the counting interpreter heap: raw 1-bit layers from
// reference bitmaps, JBIG2 page and dictionary layers from stream bytes, other layers the methods
// must leave alone; and the raw layers read back.

#include <cstdint>
#include <string>
#include <vector>

#include "interp_fixture.h"
#include "qelinterp.h"
#include "ref_bitmap.h"

namespace methodtest {

using Bytes = std::vector<uint8_t>;

// A raw layer of the bitmap: photometric 0x15 as it is, any other photometric inverted first (0
// is black then); rowBytes 0 means as narrow as the width allows.
elf_object* raw_layer(elf_state* state, const monotest::RefBitmap& bm, int32_t photometric = 0x15,
                      int32_t rowBytes = 0);
// A JBIG2 page layer (compression 7) over a copy of the bytes.
elf_object* jbig2_layer(elf_state* state, int32_t width, int32_t height, const Bytes& bytes);
// A dictionary layer (kind 5, no description) over a copy of the bytes.
elf_object* dict_layer(elf_state* state, const Bytes& bytes);
// A layer of 8-bit grey samples, and one whose description says G4.
elf_object* grey_layer(elf_state* state, int32_t width, int32_t height);
elf_object* g4_layer(elf_state* state, int32_t width, int32_t height);

// An image (held once by the caller: let go with elfRefDown) holding the layers under
// "layer<n>".
elf_object* image_of(elf_state* state, const std::vector<elf_object*>& layers);

// The layer at index of the image's list, and its pixels as 1 = black whatever its photometric.
elf_QELLAYER* layer_at(elf_object* image, int32_t index);
monotest::RefBitmap pixels(const elf_QELLAYER* layer);
// The bytes of a layer's data object.
Bytes data_bytes(const elf_QELLAYER* layer);

}  // namespace methodtest

#endif
