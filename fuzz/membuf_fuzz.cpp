// libpagefiler's memory readers over arbitrary bytes: TIFF (MEMBUF_PNG unset) or PNG data gives
// an image or none, and never a read outside the buffer. An image given must describe its data.

#include <cstdint>
#include <cstring>

#include "dio_membuf.h"
#include "kvng_print.h"

namespace {

void quiet(void*, int, const char*) {}

void check(const QELImage* image) {
  int32_t layers = 0;
  for (const QELLayer* l = image->layers; l; l = l->next) {
    ++layers;
    if (!l->header || (l->dataLength && !l->data)) __builtin_trap();
    if (l->header->layout != QEL_LAYOUT_CODED &&
        static_cast<uint64_t>(l->header->bytesPerRow[0]) * l->height * (l->header->layout == QEL_LAYOUT_PLANAR ? l->header->channels : 1) >
            l->dataLength) {
      __builtin_trap();
    }
  }
  if (layers != image->layerCount) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static SState* state = [] {
    KVngSetPrinter(quiet, nullptr);
    SState* s = SState_NewStateDefault();
    s->print = [](void*, int, const char*) {};
    return s;
  }();
  BufUChar* buffer = BufUChar_New(state, size);
  if (!buffer) return 0;
  if (size) std::memcpy(buffer->data, data, size);
#ifdef MEMBUF_PNG
  QELImage* image = PNGQEL_BufUChar2QEL(buffer);
#else
  QELImage* image = TIFQEL_BufUChar2QEL(buffer);
#endif
  if (image) check(image);
  __QELImageFree(image);
  BufUChar_Free(buffer);
  return 0;
}
