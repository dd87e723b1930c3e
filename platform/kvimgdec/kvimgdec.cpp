// Decoding images from memory: the parts every reader hands back, and the dispatch by reader.

#include <cstring>

#include "kvimgdec_internal.h"
#include "kvng.h"
#include "kvng_print.h"

namespace kvimg {

bool part_new(KVImgPart* part, const char* reader, uint32_t width, uint32_t height, int32_t channels, int32_t bits,
              int32_t photometry, int* status) {
  *status = -1;
  if (width == 0 || height == 0) {
    KVngError("%s: Image of %u x %u pixels refused\n", reader, width, height);
    return false;
  }
  const int64_t row = (static_cast<int64_t>(width) * channels * bits + 7) / 8;
  if (row > KVIMG_MAX_DECODED / static_cast<int64_t>(height)) {
    KVngError("%s: Image of %u x %u pixels exceeds the decoding limit of %lld bytes\n", reader, width, height,
              static_cast<long long>(KVIMG_MAX_DECODED));
    return false;
  }
  *status = 0;
  const KVHdrManager* manager = nullptr;
  if (!KVHdrGetManager_Str("internal", "2.1", &manager) || !KVHdrCreateHeader(manager, &part->header)) return false;
  part->header->width = static_cast<int32_t>(width);
  part->header->height = static_cast<int32_t>(height);
  part->header->channels = channels;
  part->header->layout = KVHDR_LAYOUT_INTERLEAVED;
  for (int32_t c = 0; c < channels && c < KVHDR_MAX_CHANNELS; ++c) part->header->bits[c] = bits;
  part->header->lineLength[0] = row;
  part->size = row * height;
  part->pixels = kvng_internal_calloc(static_cast<size_t>(part->size), 1);
  part->photometry = photometry;
  if (!part->pixels) {
    part_free(part);
    return false;
  }
  *status = 1;
  return true;
}

int64_t part_row_bytes(const KVImgPart* part) { return part->header->lineLength[0]; }

bool set_origin(KVHdr* header, double xres, double yres, const char* units) {
  if (!(xres > 0)) return true;
  if (!header->userData && !(header->userData = KVngUserCMNew())) return false;
  if (!KVHdrSetHeaderDoubles(header->userData, "Origin", "resolution", &xres, 1) ||
      !KVHdrSetHeaderString(header->userData, "Origin", "units", units))
    return false;
  if (yres > 0 && yres != xres) {
    const double aspect = xres / yres;
    if (!KVHdrSetHeaderDoubles(header->userData, "Origin", "aspect", &aspect, 1)) return false;
  }
  return true;
}

void part_free(KVImgPart* part) {
  KVHdrFree(part->header);
  kvng_internal_free(part->pixels);
  *part = KVImgPart{};
}

}  // namespace kvimg

extern "C" {

int KVImgDecode(const char* reader, const void* data, int64_t size, KVImgDecoded* out) {
  if (!out) return -1;
  *out = KVImgDecoded{};
  if (!reader || !data || size <= 0) {
    KVngError("%s: No image data to decode\n", "KVImgDecode");
    return -1;
  }
  int status;
  if (std::strcmp(reader, "readpng") == 0) {
    status = kvimg::decode_png(data, size, out);
  } else if (std::strcmp(reader, "readjpg") == 0) {
    status = kvimg::decode_jpeg(data, size, out);
  } else if (std::strcmp(reader, "readtif") == 0) {
    status = kvimg::decode_tiff(data, size, out);
  } else {
    KVngError("%s: No decoder for images read by %s\n", "KVImgDecode", reader);
    return -1;
  }
  if (status != 1) KVImgDecodedFree(out);
  return status;
}

void KVImgDecodedFree(KVImgDecoded* decoded) {
  if (!decoded) return;
  kvimg::part_free(&decoded->image);
  kvimg::part_free(&decoded->mask);
}

}  // extern "C"
