// PNG through libpng's simplified reading interface (no longjmp), with the image's resolution
// and bit depth read from its chunks directly.

#include <png.h>

#include <cmath>
#include <cstring>

#include "kvimgdec_internal.h"
#include "kvng.h"
#include "kvng_print.h"

namespace kvimg {
namespace {

constexpr char kReader[] = "readpng";

uint32_t be32(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// The IHDR bit depth and colour type, and the pHYs resolution in pixels per inch (0 when the
// file gives none in metres). Chunks are walked by their lengths, bounded by the data: false when
// one before the image data claims more bytes than remain, which libpng would allocate before
// finding them missing.
bool scan_chunks(const unsigned char* data, int64_t size, int* depth, int* colour, double* xres, double* yres) {
  *depth = *colour = 0;
  *xres = *yres = 0;
  int64_t at = 8;
  while (at + 12 <= size) {
    const int64_t length = be32(data + at);
    const unsigned char* type = data + at + 4;
    const unsigned char* body = data + at + 8;
    if (length > size - at - 12) {
      KVngError("%s: PNG chunk %.4s claims %lld bytes, more than the %lld left in the image\n", kReader,
                reinterpret_cast<const char*>(type), static_cast<long long>(length),
                static_cast<long long>(size - at - 12));
      return false;
    }
    if (std::memcmp(type, "IHDR", 4) == 0 && length >= 13) {
      *depth = body[8];
      *colour = body[9];
    } else if (std::memcmp(type, "pHYs", 4) == 0 && length >= 9 && body[8] == PNG_RESOLUTION_METER) {
      // Pixels per metre to per inch, rounded: 11811 is the usual writing of 300.
      *xres = std::floor(be32(body) * 0.0254 + 0.5);
      *yres = std::floor(be32(body + 4) * 0.0254 + 0.5);
    } else if (std::memcmp(type, "IDAT", 4) == 0 || std::memcmp(type, "IEND", 4) == 0) {
      return true;
    }
    at += length + 12;
  }
  return true;
}

}  // namespace

int decode_png(const void* data, int64_t size, KVImgDecoded* out) {
  int depth, colour;
  double xres, yres;
  if (!scan_chunks(static_cast<const unsigned char*>(data), size, &depth, &colour, &xres, &yres)) return -1;
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data, static_cast<size_t>(size))) {
    KVngError("%s: Cannot read PNG image: %s\n", kReader, image.message);
    png_image_free(&image);
    return -1;
  }
  const bool alpha = image.format & PNG_FORMAT_FLAG_ALPHA;
  const bool rgb = image.format & PNG_FORMAT_FLAG_COLOR;
  const bool bilevel = !rgb && !alpha && depth == 1 && colour == PNG_COLOR_TYPE_GRAY;
  image.format = rgb ? (alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB) : (alpha ? PNG_FORMAT_GA : PNG_FORMAT_GRAY);
  const int32_t samples = PNG_IMAGE_SAMPLE_CHANNELS(image.format);

  // The whole decoded image first, bounded like a part, then split into the parts.
  KVImgPart all{};
  int status;
  if (!part_new(&all, kReader, image.width, image.height, samples, 8, 0, &status)) {
    png_image_free(&image);
    return status;
  }
  const auto stride = static_cast<png_int_32>(part_row_bytes(&all));
  if (!png_image_finish_read(&image, nullptr, all.pixels, stride, nullptr)) {
    KVngError("%s: Cannot decode PNG image: %s\n", kReader, image.message);
    png_image_free(&image);
    part_free(&all);
    return -1;
  }
  const int32_t colours = rgb ? 3 : 1;
  if (!alpha && !bilevel) {
    out->image = all;
    out->image.photometry = rgb ? KVIMG_PHOTO_RGB : KVIMG_PHOTO_GREY;
  } else {
    status = 1;
    if (!part_new(&out->image, kReader, image.width, image.height, colours, bilevel ? 1 : 8,
                  bilevel ? KVIMG_PHOTO_BILEVEL : rgb ? KVIMG_PHOTO_RGB : KVIMG_PHOTO_GREY, &status) ||
        (alpha && !part_new(&out->mask, kReader, image.width, image.height, 1, 8, KVIMG_PHOTO_GREY, &status))) {
      part_free(&all);
      return status;
    }
    const auto* in = static_cast<const unsigned char*>(all.pixels);
    auto* pixels = static_cast<unsigned char*>(out->image.pixels);
    auto* mask = static_cast<unsigned char*>(out->mask.pixels);
    const int64_t image_row = part_row_bytes(&out->image);
    for (uint32_t y = 0; y < image.height; ++y) {
      const unsigned char* s = in + y * static_cast<int64_t>(stride);
      unsigned char* d = pixels + y * image_row;
      for (uint32_t x = 0; x < image.width; ++x, s += samples) {
        if (bilevel) {
          if (s[0] < 128) d[x >> 3] |= static_cast<unsigned char>(0x80 >> (x & 7));
          continue;
        }
        std::memcpy(d + x * colours, s, static_cast<size_t>(colours));
        mask[y * static_cast<int64_t>(image.width) + x] = s[colours];
      }
    }
    part_free(&all);
  }
  png_image_free(&image);
  if (!set_origin(out->image.header, xres, yres, "inch") ||
      (out->mask.header && !set_origin(out->mask.header, xres, yres, "inch")))
    return 0;
  return 1;
}

}  // namespace kvimg
