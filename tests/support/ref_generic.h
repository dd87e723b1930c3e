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

}  // namespace monotest

#endif
