// TIFF from memory through libtiff's client interface, with per-handle error handlers and a cap
// on what libtiff allocates at once. Bilevel and 8-bit grey strips are read as they are; every
// other layout goes through libtiff's RGBA interface.

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "kvimg_bounds.h"
#include "kvimgdec_internal.h"
#include "kvng.h"
#include "kvng_print.h"

namespace kvimg {
namespace {

constexpr char kReader[] = "readtif";

struct Memory {
  const unsigned char* data;
  toff_t size;
  toff_t position;
};

tmsize_t memory_read(thandle_t h, void* buffer, tmsize_t count) {
  auto* m = static_cast<Memory*>(h);
  if (count < 0) return -1;
  const toff_t left = m->size - m->position;
  const toff_t n = static_cast<toff_t>(count) < left ? static_cast<toff_t>(count) : left;
  std::memcpy(buffer, m->data + m->position, n);
  m->position += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t memory_write(thandle_t, void*, tmsize_t) { return -1; }

toff_t memory_seek(thandle_t h, toff_t offset, int whence) {
  auto* m = static_cast<Memory*>(h);
  const toff_t base = whence == SEEK_CUR ? m->position : whence == SEEK_END ? m->size : 0;
  if (offset > m->size || base + offset > m->size) return static_cast<toff_t>(-1);
  m->position = base + offset;
  return m->position;
}

int memory_close(thandle_t) { return 0; }
toff_t memory_size(thandle_t h) { return static_cast<Memory*>(h)->size; }

int tiff_error(TIFF*, void*, const char* module, const char* format, va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  KVngError("%s: %s: %s\n", kReader, module ? module : "libtiff", text);
  return 1;
}

// The codecs warn where data is missing or damaged and fill in what they lack: counted, so that
// such an image fails.
int tiff_warning(TIFF*, void* data, const char* module, const char* format, va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  if (data && *static_cast<int*>(data) >= 0) {
    ++*static_cast<int*>(data);
    KVngError("%s: %s: %s\n", kReader, module ? module : "libtiff", text);
  }
  return 1;
}

// The data mapped as it is: libtiff reads strips and tiles in place (and reads uncompressed
// tiles at all: without a map it refuses their byte counts).
int memory_map(thandle_t h, void** base, toff_t* size) {
  auto* m = static_cast<Memory*>(h);
  *base = const_cast<unsigned char*>(m->data);
  *size = m->size;
  return 1;
}
void memory_unmap(thandle_t, void*, toff_t) {}

int read_strips(TIFF* tif, KVImgPart* part, bool invert) {
  const int64_t row_bytes = part_row_bytes(part);
  if (TIFFScanlineSize64(tif) != static_cast<uint64_t>(row_bytes)) {
    KVngError("%s: Unexpected scanline size\n", kReader);
    return -1;
  }
  auto* pixels = static_cast<unsigned char*>(part->pixels);
  for (int32_t y = 0; y < part->header->height; ++y) {
    unsigned char* row = pixels + y * row_bytes;
    if (TIFFReadScanline(tif, row, static_cast<uint32_t>(y), 0) < 0) return -1;
    if (invert)
      for (int64_t i = 0; i < row_bytes; ++i) row[i] = static_cast<unsigned char>(~row[i]);
  }
  return 1;
}

int read_rgba(TIFF* tif, uint32_t width, uint32_t height, bool grey, bool bilevel, bool alpha, KVImgDecoded* out) {
  char why[1024];
  if (!TIFFRGBAImageOK(tif, why)) {
    KVngError("%s: TIFF image not supported: %s\n", kReader, why);
    return -1;
  }
  KVImgPart all{};
  int status;
  if (!part_new(&all, kReader, width, height, 4, 8, 0, &status)) return status;
  if (!TIFFReadRGBAImageOriented(tif, width, height, static_cast<uint32_t*>(all.pixels), ORIENTATION_TOPLEFT, 1)) {
    part_free(&all);
    return -1;
  }
  if (!part_new(&out->image, kReader, width, height, grey ? 1 : 3, bilevel ? 1 : 8,
                bilevel ? KVIMG_PHOTO_BILEVEL : grey ? KVIMG_PHOTO_GREY : KVIMG_PHOTO_RGB, &status) ||
      (alpha && !part_new(&out->mask, kReader, width, height, 1, 8, KVIMG_PHOTO_GREY, &status))) {
    part_free(&all);
    return status;
  }
  const auto* in = static_cast<const uint32_t*>(all.pixels);
  auto* pixels = static_cast<unsigned char*>(out->image.pixels);
  auto* mask = static_cast<unsigned char*>(out->mask.pixels);
  const uint64_t count = uint64_t{width} * height;
  for (uint64_t i = 0; i < count; ++i) {
    const uint32_t p = in[i];
    uint32_t c[3] = {TIFFGetR(p), TIFFGetG(p), TIFFGetB(p)};
    if (alpha) {
      // libtiff hands colours premultiplied by their opacity; the mask carries the opacity.
      const uint32_t a = TIFFGetA(p);
      mask[i] = static_cast<unsigned char>(a);
      for (uint32_t& v : c) v = a ? (v * 255 + a / 2) / a : 0, v = v > 255 ? 255 : v;
    }
    if (bilevel) {
      const uint64_t row_bytes = (uint64_t{width} + 7) / 8, x = i % width;
      if (c[0] < 128) pixels[i / width * row_bytes + x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
    } else if (grey) {
      pixels[i] = static_cast<unsigned char>(c[0]);
    } else {
      for (int k = 0; k < 3; ++k) pixels[3 * i + k] = static_cast<unsigned char>(c[k]);
    }
  }
  part_free(&all);
  return 1;
}

int decode(TIFF* tif, KVImgDecoded* out) {
  uint32_t width = 0, height = 0;
  uint16_t samples = 1, bits = 1, photometric = 0, extra_count = 0;
  uint16_t* extra = nullptr;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) photometric = PHOTOMETRIC_MINISWHITE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extra_count, &extra);
  const bool minis = photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
  const bool alpha = extra_count > 0 && extra &&
                     (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA);
  // Strips (or tiles) that, as far as the data holds them, cannot code the declared rows.
  uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  const toff_t size = TIFFGetSizeProc(tif)(TIFFClientdata(tif));
  uint64_t held = 0;
  for (uint32_t i = 0, n = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif); i < n; ++i) {
    const uint64_t at = TIFFGetStrileOffset(tif, i);
    if (at < size) held += std::min<uint64_t>(TIFFGetStrileByteCount(tif, i), size - at);
  }
  if (!tiff_strips_can_hold(held, compression, width, height, bits * samples)) {
    KVngError("%s: TIFF image of %u x %u pixels is more than the %llu bytes of its strips can code\n", kReader, width,
              height, static_cast<unsigned long long>(held));
    return -1;
  }
  int status;
  if (samples == 1 && minis && (bits == 1 || bits == 8) && !TIFFIsTiled(tif)) {
    const bool bilevel = bits == 1;
    if (!part_new(&out->image, kReader, width, height, 1, bits, bilevel ? KVIMG_PHOTO_BILEVEL : KVIMG_PHOTO_GREY,
                  &status))
      return status;
    // Ours: 1 is black for bilevel, 0 is black for grey.
    status = read_strips(tif, &out->image, bilevel ? photometric == PHOTOMETRIC_MINISBLACK
                                                   : photometric == PHOTOMETRIC_MINISWHITE);
  } else {
    // Tiles and other layouts through the RGBA rendering; the part keeps the form of the samples.
    const bool grey = minis && samples - extra_count == 1;
    status = read_rgba(tif, width, height, grey, grey && bits == 1 && !alpha, alpha, out);
  }
  if (status != 1) return status;
  float xres = 0, yres = 0;
  uint16_t unit = RESUNIT_INCH;
  TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
  if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres) && unit != RESUNIT_NONE) {
    if (!TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres)) yres = xres;
    const char* units = unit == RESUNIT_CENTIMETER ? "cm" : "inch";
    if (!set_origin(out->image.header, xres, yres, units) ||
        (out->mask.header && !set_origin(out->mask.header, xres, yres, units)))
      return 0;
  }
  return 1;
}

}  // namespace

int decode_tiff(const void* data, int64_t size, KVImgDecoded* out) {
  Memory memory{static_cast<const unsigned char*>(data), static_cast<toff_t>(size), 0};
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return 0;
  TIFFOpenOptionsSetErrorHandlerExtR(options, tiff_error, nullptr);
  int warnings = -1;  // not counted while the directory is read: its warnings lose no pixels
  TIFFOpenOptionsSetWarningHandlerExtR(options, tiff_warning, &warnings);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(KVIMG_MAX_DECODED));
  TIFF* tif = TIFFClientOpenExt("image part", "r", &memory, memory_read, memory_write, memory_seek, memory_close,
                                memory_size, memory_map, memory_unmap, options);
  TIFFOpenOptionsFree(options);
  if (!tif) {
    KVngError("%s: Cannot open TIFF image\n", kReader);
    return -1;
  }
  warnings = 0;
  int status = decode(tif, out);
  TIFFClose(tif);
  if (status == 1 && warnings > 0) {
    KVngError("%s: TIFF image data is damaged or cut short\n", kReader);
    status = -1;
  }
  return status;
}

}  // namespace kvimg
