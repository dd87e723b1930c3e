// The engine's image-file readers over arbitrary bytes. The first byte chooses the entry: a
// PNM-family load into one of the types, or a raw load whose type, flags and size follow in the
// next bytes. A load must refuse or give an image that the input could fill (every pixel takes
// at least one input bit), never one it invented; what loads must save again.

#include <cstdint>
#include <cstdio>

#include "vlt_image.h"
#include "vlt_image_file.h"
#include "vlt_state.h"

namespace {

constexpr uint16_t kTags[] = {VLT_IMAGE_GRAY,   VLT_IMAGE_FLOAT, VLT_IMAGE_RGB,      VLT_IMAGE_DOUBLE,
                              VLT_IMAGE_BINARY, VLT_IMAGE_LONG,  VLT_IMAGE_SHORT,    VLT_IMAGE_RGBFLOAT,
                              VLT_IMAGE_PACKED, VLT_IMAGE_WORD};

VltState* engine() {
  static VltState* state = [] {
    VltState* s = nullptr;
    Vlt_initVltState(&s, nullptr, nullptr, nullptr, nullptr, 0, 0);
    return s;
  }();
  return state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  const uint16_t tag = kTags[(mode >> 1) % (sizeof kTags / sizeof kTags[0])];
  size_t skip = 1;
  int32_t width = 0, height = 0;
  uint32_t flags = 0;
  const bool raw = (mode & 1) != 0;
  if (raw) {
    if (size < 6) return 0;
    width = data[1] | data[2] << 8;
    height = data[3] | data[4] << 8;
    flags = (data[5] & 3u) << 8;
    skip = 6;
  }
  const size_t bytes = size - skip;
  // fmemopen wants a buffer of at least one byte; the stream is empty when no input is left.
  static uint8_t none = 0;
  FILE* f = fmemopen(bytes != 0 ? const_cast<uint8_t*>(data + skip) : &none, bytes != 0 ? bytes : 1, "rb");
  if (f == nullptr) return 0;
  if (bytes == 0) std::fgetc(f);
  VltImage* im = nullptr;
  const VltStatus st = raw ? VltImage_loadRawF(tag | flags, width, height, f, &im, engine())
                           : VltImage_pLoadF(engine(), tag, f, &im);
  std::fclose(f);
  if (st != VLT_OK) {
    if (im != nullptr) __builtin_trap();
    return 0;
  }
  if (im == nullptr || im->hdr.width < 0 || im->hdr.height < 0) __builtin_trap();
  const uint64_t area = uint64_t(im->hdr.width) * uint64_t(im->hdr.height);
  if (area > 8 * uint64_t(bytes)) __builtin_trap();
  static FILE* sink = std::fopen("/dev/null", "wb");
  if (sink != nullptr && im->hdr.type != VLT_IMAGE_WORD && VltImage_pSaveF(im, sink) != VLT_OK) __builtin_trap();
  VltImage_free(im);
  return 0;
}
