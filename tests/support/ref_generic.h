#ifndef MONOTEST_REF_GENERIC_H
#define MONOTEST_REF_GENERIC_H

// The generic region decoding procedure of T.88 (templates 0-3, adaptive pixels, typical
// prediction) written pixel by pixel from the standard's template figures, over the reference MQ
// decoder. It decodes what the library's encoder writes without sharing any of its code.

#include <cstddef>
#include <cstdint>

#include "mq_reference.h"
#include "ref_bitmap.h"

namespace monotest {

struct RefGenericParams {
  int gbTemplate = 0;
  int atx[4] = {3, -3, 2, -2};
  int aty[4] = {-1, -1, -2, -2};
  bool tpgdon = false;
};

// Decodes bitmaps one after the other from one coded stream with one set of contexts, as a
// halftone region's bit planes are coded.
class RefGenericDecoder {
 public:
  RefGenericDecoder(const uint8_t* data, size_t size);
  RefBitmap decode(int width, int height, const RefGenericParams& params);

 private:
  MqRefDecoder mq_;
};

struct RefRefineParams {
  int grTemplate = 0;
  int atx[2] = {-1, -1};  // A1 in the bitmap being decoded, A2 in the reference
  int aty[2] = {-1, -1};
  bool tpgron = false;
};

// The generic refinement procedure of T.88 (templates 0 and 1, typical prediction) pixel by pixel
// from the standard's template figures: a width x height bitmap whose pixel (x, y) lies over
// pixel (x - dx, y - dy) of the reference; pixels outside either bitmap read 0.
RefBitmap ref_refine_decode(const uint8_t* data, size_t size, int width, int height, const RefBitmap& reference,
                            int dx, int dy, const RefRefineParams& params);

}  // namespace monotest

#endif
