// Reading files of the standard raster formats into the plain page forms.

#include <cstdio>  // before jpeglib.h, which needs FILE

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include "kvtf.h"
#include "raster.h"

namespace kvraster {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

void set_resolution(Raster* r, double x, double y, int unit_is_cm) {
  const double scale = unit_is_cm ? 2.54 : 1.0;
  r->xres = x * scale;
  r->yres = y * scale;
}

// ---- TIFF ----

struct TiffCloser {
  void operator()(KVTF_TIFF* t) const { KVTF_TIFFClose(t); }
};
using Tiff = std::unique_ptr<KVTF_TIFF, TiffCloser>;

bool tiff_by_scanline(elf_state* state, KVTF_TIFF* tif, const char* filename, Raster* out, bool invert) {
  const int64_t size = KVTF_TIFFScanlineSize(tif);
  if (size < static_cast<int64_t>(out->row_bytes())) {
    return fail(state, "readtif: %s: scanlines are shorter than their pixels\n", filename), false;
  }
  std::vector<uint8_t> line(static_cast<size_t>(size));
  for (int32_t y = 0; y < out->height; ++y) {
    if (KVTF_TIFFReadScanline(tif, line.data(), static_cast<uint32_t>(y), 0) < 0) {
      return fail(state, "readtif: %s: row %d cannot be read\n", filename, y), false;
    }
    uint8_t* dst = out->row(y);
    for (size_t i = 0; i < out->row_bytes(); ++i) dst[i] = invert ? static_cast<uint8_t>(~line[i]) : line[i];
  }
  return true;
}

}  // namespace

bool read_tiff_page(elf_state* state, const char* filename, int32_t page, Raster* out) {
  Tiff tif(KVTF_TIFFOpen(filename, "r"));
  if (!tif) return fail(state, "readtif: %s cannot be opened as TIFF\n", filename), false;
  if (page < 1 || !KVTF_TIFFSetDirectory(tif.get(), static_cast<uint32_t>(page - 1))) {
    return fail(state, "readtif: %s has no page %d\n", filename, page), false;
  }
  uint32_t width = 0, height = 0;
  uint16_t bits = 1, samples = 1, photometric = 0, planar = KVTF_PLANARCONFIG_CONTIG, unit = KVTF_RESUNIT_INCH;
  float xres = 0, yres = 0;
  KVTF_TIFFGetField(tif.get(), KVTF_TAG_IMAGEWIDTH, &width);
  KVTF_TIFFGetField(tif.get(), KVTF_TAG_IMAGELENGTH, &height);
  KVTF_TIFFGetFieldDefaulted(tif.get(), KVTF_TAG_BITSPERSAMPLE, &bits);
  KVTF_TIFFGetFieldDefaulted(tif.get(), KVTF_TAG_SAMPLESPERPIXEL, &samples);
  KVTF_TIFFGetFieldDefaulted(tif.get(), KVTF_TAG_PLANARCONFIG, &planar);
  KVTF_TIFFGetFieldDefaulted(tif.get(), KVTF_TAG_RESOLUTIONUNIT, &unit);
  if (!KVTF_TIFFGetField(tif.get(), KVTF_TAG_PHOTOMETRIC, &photometric)) {
    return fail(state, "readtif: %s: page %d has no photometric interpretation\n", filename, page), false;
  }
  KVTF_TIFFGetField(tif.get(), KVTF_TAG_XRESOLUTION, &xres);
  KVTF_TIFFGetField(tif.get(), KVTF_TAG_YRESOLUTION, &yres);
  if (width > INT32_MAX || height > INT32_MAX) {
    return fail(state, "readtif: %s: a page of %ux%u is too large\n", filename, width, height), false;
  }
  const bool grey = photometric == KVTF_PHOTOMETRIC_MINISWHITE || photometric == KVTF_PHOTOMETRIC_MINISBLACK;
  const bool plain = planar == KVTF_PLANARCONFIG_CONTIG && !KVTF_TIFFIsTiled(tif.get());
  Form form = Form::Rgb;
  if (plain && grey && samples == 1 && (bits == 1 || bits == 8)) form = bits == 1 ? Form::Bilevel : Form::Grey;
  if (!out->allocate(static_cast<int32_t>(width), static_cast<int32_t>(height), form)) {
    return fail(state, "readtif: %s: a page of %ux%u cannot be held\n", filename, width, height), false;
  }
  set_resolution(out, xres, yres, unit == KVTF_RESUNIT_CENTIMETER);
  if (unit == KVTF_RESUNIT_NONE) set_resolution(out, 0, 0, 0);
  if (form == Form::Bilevel) {
    return tiff_by_scanline(state, tif.get(), filename, out, photometric == KVTF_PHOTOMETRIC_MINISBLACK);
  }
  if (form == Form::Grey) {
    return tiff_by_scanline(state, tif.get(), filename, out, photometric == KVTF_PHOTOMETRIC_MINISWHITE);
  }
  if (plain && photometric == KVTF_PHOTOMETRIC_RGB && samples == 3 && bits == 8) {
    return tiff_by_scanline(state, tif.get(), filename, out, false);
  }
  // Everything else (palettes, alpha, 16 bits, planes, tiles, YCbCr, CMYK) through the library's
  // RGBA rendering, top row first.
  std::vector<uint32_t> rgba;
  rgba.resize(static_cast<size_t>(width) * height);
  if (!KVTF_TIFFReadRGBAImage(tif.get(), width, height, rgba.data())) {
    return fail(state, "readtif: %s: page %d cannot be rendered\n", filename, page), false;
  }
  for (uint32_t y = 0; y < height; ++y) {
    const uint32_t* src = rgba.data() + static_cast<size_t>(y) * width;
    uint8_t* dst = out->row(static_cast<int32_t>(y));
    for (uint32_t x = 0; x < width; ++x) {
      // The library gives colour multiplied by alpha: laid on white, the rest is white.
      const uint32_t white = 255 - (src[x] >> 24);
      for (int c = 0; c < 3; ++c) dst[x * 3 + c] = static_cast<uint8_t>(std::min<uint32_t>(255, ((src[x] >> (8 * c)) & 0xFF) + white));
    }
  }
  return true;
}

bool tiff_info(elf_state* state, const char* filename, int32_t* pages, std::string* profile) {
  Tiff tif(KVTF_TIFFOpen(filename, "r"));
  if (!tif) return fail(state, "readtif: %s cannot be opened as TIFF\n", filename), false;
  *pages = static_cast<int32_t>(KVTF_TIFFNumberOfDirectories(tif.get()));
  static constexpr const char* profiles[] = {"none", "s", "f", "j", "c", "l", "m"};
  uint8_t code = 0;
  *profile = KVTF_TIFFGetField(tif.get(), KVTF_TAG_FAXPROFILE, &code) && code < 7 ? profiles[code] : "none";
  return true;
}

// ---- PNG ----

namespace {

void png_failed(png_structp png, png_const_charp message) {
  auto* text = static_cast<char*>(png_get_error_ptr(png));
  std::snprintf(text, 200, "%s", message);
  png_longjmp(png, 1);
}
void png_quiet(png_structp, png_const_charp) {}

}  // namespace

bool read_png(elf_state* state, const char* filename, Raster* out) {
  File f(std::fopen(filename, "rb"));
  if (!f) return fail(state, "QELReadFile2QELIMAGE: %s cannot be opened\n", filename), false;
  char why[200] = "";
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, why, png_failed, png_quiet);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return fail(state, "QELReadFile2QELIMAGE: no memory for PNG reading\n"), false;
  }
  std::vector<png_bytep> rows;
  std::vector<uint8_t> with_alpha;  // before the jump point: it must outlive a jump
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return fail(state, "QELReadFile2QELIMAGE: %s: %s\n", filename, why), false;
  }
  png_set_user_limits(png, 1u << 20, 1u << 20);
  png_init_io(png, f.get());
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
  const int type = png_get_color_type(png, info), depth = png_get_bit_depth(png, info);
  const bool alpha = (type & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
  const Form form = type & PNG_COLOR_MASK_COLOR ? Form::Rgb : depth == 1 && !alpha ? Form::Bilevel : Form::Grey;
  if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (form == Form::Grey && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (alpha) png_set_tRNS_to_alpha(png);
  if (depth == 16) png_set_strip_16(png);
  if (form == Form::Bilevel) png_set_invert_mono(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const size_t samples = (form == Form::Rgb ? 3 : 1) + (alpha ? 1 : 0);
  if (width > INT32_MAX || height > INT32_MAX ||
      !out->allocate(static_cast<int32_t>(width), static_cast<int32_t>(height), form) ||
      png_get_rowbytes(png, info) != (alpha ? size_t{width} * samples : out->row_bytes())) {
    png_destroy_read_struct(&png, &info, nullptr);
    return fail(state, "QELReadFile2QELIMAGE: %s: a PNG of %ux%u cannot be held\n", filename, width, height), false;
  }
  // Transparent pixels are laid on white, as on a page.
  with_alpha.assign(alpha ? size_t{width} * samples * height : 0, 0);
  rows.resize(height);
  for (png_uint_32 y = 0; y < height; ++y) {
    rows[y] = alpha ? with_alpha.data() + size_t{width} * samples * y : out->row(static_cast<int32_t>(y));
  }
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  for (png_uint_32 y = 0; alpha && y < height; ++y) {
    const uint8_t* src = rows[y];
    uint8_t* dst = out->row(static_cast<int32_t>(y));
    for (png_uint_32 x = 0; x < width; ++x) {
      const uint32_t a = src[x * samples + samples - 1];
      for (size_t c = 0; c + 1 < samples; ++c) {
        dst[x * (samples - 1) + c] = static_cast<uint8_t>((src[x * samples + c] * a + 255 * (255 - a) + 127) / 255);
      }
    }
  }
  png_uint_32 rx = 0, ry = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &rx, &ry, &unit) && unit == PNG_RESOLUTION_METER) {
    out->xres = rx * 0.0254;
    out->yres = ry * 0.0254;
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

// ---- JPEG ----

namespace {

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
  char text[JMSG_LENGTH_MAX];
};

void jpeg_failed(j_common_ptr info) {
  auto* e = reinterpret_cast<JpegError*>(info->err);
  e->mgr.format_message(info, e->text);
  std::longjmp(e->jump, 1);
}
void jpeg_quiet(j_common_ptr, int) {}

}  // namespace

bool read_jpeg(elf_state* state, const char* filename, Raster* out) {
  File f(std::fopen(filename, "rb"));
  if (!f) return fail(state, "QELReadFile2QELIMAGE: %s cannot be opened\n", filename), false;
  jpeg_decompress_struct info{};
  JpegError error{};
  info.err = jpeg_std_error(&error.mgr);
  error.mgr.error_exit = jpeg_failed;
  error.mgr.emit_message = jpeg_quiet;
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&info);
    return fail(state, "QELReadFile2QELIMAGE: %s: %s\n", filename, error.text), false;
  }
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, f.get());
  jpeg_read_header(&info, TRUE);
  if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) {
    jpeg_destroy_decompress(&info);
    return fail(state, "QELReadFile2QELIMAGE: %s: CMYK JPEG is not read\n", filename), false;
  }
  const bool grey = info.num_components == 1;
  info.out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_start_decompress(&info);
  if (!out->allocate(static_cast<int32_t>(info.output_width), static_cast<int32_t>(info.output_height),
                     grey ? Form::Grey : Form::Rgb)) {
    jpeg_destroy_decompress(&info);
    return fail(state, "QELReadFile2QELIMAGE: %s: the JPEG is too large\n", filename), false;
  }
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = out->row(static_cast<int32_t>(info.output_scanline));
    jpeg_read_scanlines(&info, &row, 1);
  }
  if (info.saw_JFIF_marker && info.X_density && info.Y_density && info.density_unit) {
    set_resolution(out, info.X_density, info.Y_density, info.density_unit == 2);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

// ---- GIF ----

namespace {
const char* gif_reason(int error) {
  const char* text = GifErrorString(error);
  return text ? text : "not a GIF file the reader takes";
}
}  // namespace

bool read_gif(elf_state* state, const char* filename, Raster* out) {
  int error = 0;
  GifFileType* gif = DGifOpenFileName(filename, &error);
  if (!gif) return fail(state, "QELReadFile2QELIMAGE: %s: %s\n", filename, gif_reason(error)), false;
  struct Closer {
    GifFileType* g;
    ~Closer() {
      int e;
      DGifCloseFile(g, &e);
    }
  } closer{gif};
  if (DGifSlurp(gif) != GIF_OK || gif->ImageCount < 1) {
    return fail(state, "QELReadFile2QELIMAGE: %s: %s\n", filename, gif_reason(gif->Error)), false;
  }
  const SavedImage& frame = gif->SavedImages[0];
  const ColorMapObject* map = frame.ImageDesc.ColorMap ? frame.ImageDesc.ColorMap : gif->SColorMap;
  if (!map) return fail(state, "QELReadFile2QELIMAGE: %s: the GIF has no colour map\n", filename), false;
  const int32_t width = gif->SWidth > 0 ? gif->SWidth : frame.ImageDesc.Width;
  const int32_t height = gif->SHeight > 0 ? gif->SHeight : frame.ImageDesc.Height;
  if (!out->allocate(width, height, Form::Rgb)) {
    return fail(state, "QELReadFile2QELIMAGE: %s: the GIF is too large\n", filename), false;
  }
  const GifColorType background = gif->SColorMap && gif->SBackGroundColor < gif->SColorMap->ColorCount
                                      ? gif->SColorMap->Colors[gif->SBackGroundColor]
                                      : GifColorType{255, 255, 255};
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* dst = out->row(y);
    for (int32_t x = 0; x < width; ++x) {
      GifColorType c = background;
      const int32_t fx = x - frame.ImageDesc.Left, fy = y - frame.ImageDesc.Top;
      if (fx >= 0 && fy >= 0 && fx < frame.ImageDesc.Width && fy < frame.ImageDesc.Height) {
        const int index = frame.RasterBits[static_cast<size_t>(fy) * frame.ImageDesc.Width + fx];
        if (index < map->ColorCount) c = map->Colors[index];
      }
      dst[x * 3] = c.Red;
      dst[x * 3 + 1] = c.Green;
      dst[x * 3 + 2] = c.Blue;
    }
  }
  return true;
}

}  // namespace kvraster
