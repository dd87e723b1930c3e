// Writes the seed corpus of a memory reader target into the folder given: TIFF pages (G4,
// RGBA with LZW, planes) or PNG pages (grey and alpha, palette with a transparent entry, 1-bit
// mask), made with libtiff through the engine's TIFF library and with libpng.

#include <png.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kvtf.h"

namespace {

#ifdef MEMBUF_PNG
bool png_seed(const std::string& path, uint32_t w, uint32_t h, int depth, int type, bool trns) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, f);
  png_set_IHDR(png, info, w, h, depth, type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_color palette[2] = {{0, 0, 0}, {255, 255, 255}};
  if (type == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, palette, 2);
  png_byte alpha[1] = {0};
  png_color_16 colour{};
  if (trns) png_set_tRNS(png, info, alpha, type == PNG_COLOR_TYPE_PALETTE ? 1 : 0, &colour);
  png_set_pHYs(png, info, 11811, 11811, PNG_RESOLUTION_METER);
  png_write_info(png, info);
  std::vector<png_byte> row(png_get_rowbytes(png, info));
  for (uint32_t y = 0; y < h; ++y) {
    for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<png_byte>(i * 31 + y * 7);
    png_write_row(png, row.data());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0;
}
#else
bool tiff_seed(const std::string& path, uint16_t bits, uint16_t samples, uint16_t photometric, uint16_t compression,
               uint16_t planar, bool alpha) {
  KVTF_TIFF* t = KVTF_TIFFOpen(path.c_str(), "w");
  if (!t) return false;
  const uint32_t w = 40, h = 12;
  KVTF_TIFFSetField(t, KVTF_TAG_IMAGEWIDTH, w);
  KVTF_TIFFSetField(t, KVTF_TAG_IMAGELENGTH, h);
  KVTF_TIFFSetField(t, KVTF_TAG_BITSPERSAMPLE, bits);
  KVTF_TIFFSetField(t, KVTF_TAG_SAMPLESPERPIXEL, samples);
  KVTF_TIFFSetField(t, KVTF_TAG_PHOTOMETRIC, photometric);
  KVTF_TIFFSetField(t, KVTF_TAG_COMPRESSION, compression);
  KVTF_TIFFSetField(t, KVTF_TAG_PLANARCONFIG, planar);
  KVTF_TIFFSetField(t, KVTF_TAG_ROWSPERSTRIP, compression == KVTF_COMPRESSION_CCITTFAX4 ? h : 4u);
  KVTF_TIFFSetField(t, KVTF_TAG_XRESOLUTION, 80.0f);
  KVTF_TIFFSetField(t, KVTF_TAG_YRESOLUTION, 80.0f);
  KVTF_TIFFSetField(t, KVTF_TAG_RESOLUTIONUNIT, KVTF_RESUNIT_CENTIMETER);
  if (alpha) {
    const uint16_t kind[1] = {KVTF_EXTRASAMPLE_UNASSALPHA};
    KVTF_TIFFSetField(t, KVTF_TAG_EXTRASAMPLES, 1, kind);
  }
  std::vector<uint8_t> row(static_cast<size_t>(KVTF_TIFFScanlineSize(t)));
  bool ok = true;
  for (uint16_t s = 0; s < (planar == 2 ? samples : 1); ++s) {
    for (uint32_t y = 0; y < h; ++y) {
      for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<uint8_t>(i * 13 + y * 5 + s);
      ok = ok && KVTF_TIFFWriteScanline(t, row.data(), y, s) >= 0;
    }
  }
  KVTF_TIFFClose(t);
  return ok;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
#ifdef MEMBUF_PNG
  const bool ok = png_seed(dir + "/ga.png", 9, 5, 8, PNG_COLOR_TYPE_GRAY_ALPHA, false) &&
                  png_seed(dir + "/palette.png", 9, 5, 1, PNG_COLOR_TYPE_PALETTE, true) &&
                  png_seed(dir + "/mask.png", 9, 5, 1, PNG_COLOR_TYPE_GRAY, true) &&
                  png_seed(dir + "/rgba16.png", 3, 2, 16, PNG_COLOR_TYPE_RGB_ALPHA, false);
#else
  const bool ok = tiff_seed(dir + "/g4.tif", 1, 1, 0, KVTF_COMPRESSION_CCITTFAX4, 1, false) &&
                  tiff_seed(dir + "/rgba.tif", 8, 4, 2, KVTF_COMPRESSION_LZW, 1, true) &&
                  tiff_seed(dir + "/planes.tif", 8, 3, 2, KVTF_COMPRESSION_NONE, 2, false) &&
                  tiff_seed(dir + "/grey.tif", 8, 1, 1, KVTF_COMPRESSION_PACKBITS, 1, false);
#endif
  return ok ? 0 : 1;
}
