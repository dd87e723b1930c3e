// Reading pages from PBM, PNG (libpng) and TIFF (libtiff) files; reading and writing bytes.

#include "page_files.h"

#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "pbm.h"

namespace monodoc {
namespace {

bool fail(std::string* error, const std::string& what) {
  *error = what;
  return false;
}

// A grey or grey-and-alpha sample is black when darker than half once laid on white.
bool is_black(uint32_t gray, uint32_t alpha) { return (gray * alpha + 255 * (255 - alpha)) < 128 * 255; }

double dots_per_inch(double value, int unit_is_cm) {
  const double dpi = unit_is_cm ? value * 2.54 : value;
  return dpi > 0 && dpi < 1e6 ? dpi : default_resolution;
}

// ---- PNG ----

// Everything the decoder touches lives here, not in locals, so that it stays valid when
// libpng's error handler jumps back.
struct PngJob {
  const std::string* bytes = nullptr;
  size_t pos = 0;
  char message[256] = "";
  png_structp png = nullptr;
  png_infop info = nullptr;
  png_bytep pixels = nullptr;  // 8-bit grey, or grey and alpha
  png_bytepp rows = nullptr;
  uint32_t width = 0, height = 0, channels = 0;
  size_t row_bytes = 0;
  double xres = default_resolution, yres = default_resolution;

  ~PngJob() {
    if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    std::free(rows);
    std::free(pixels);
  }
};

void png_fail(png_structp png, png_const_charp message) {
  auto* job = static_cast<PngJob*>(png_get_error_ptr(png));
  std::snprintf(job->message, sizeof job->message, "%s", message);
  png_longjmp(png, 1);
}

void png_quiet(png_structp, png_const_charp) {}

void png_read_bytes(png_structp png, png_bytep out, size_t n) {
  auto* job = static_cast<PngJob*>(png_get_io_ptr(png));
  if (job->bytes->size() - job->pos < n) png_error(png, "the file is truncated");
  std::memcpy(out, job->bytes->data() + job->pos, n);
  job->pos += n;
}

// Decodes into job->pixels as 8-bit grey (with alpha when the image has transparency).
bool decode_png(PngJob* job) {
  job->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, job, png_fail, png_quiet);
  if (!job->png) return false;
  job->info = png_create_info_struct(job->png);
  if (!job->info) return false;
  if (setjmp(png_jmpbuf(job->png))) return false;
  png_set_read_fn(job->png, job, png_read_bytes);
  png_set_user_limits(job->png, max_side, max_side);
  png_read_info(job->png, job->info);

  png_uint_32 w, h;
  int depth, color, interlace;
  png_get_IHDR(job->png, job->info, &w, &h, &depth, &color, &interlace, nullptr, nullptr);
  size_t stride;
  if (!page_size_ok(w, h, &stride) || static_cast<uint64_t>(w) * h > max_page_bytes) {
    png_error(job->png, "the page size is too large");
  }
  if (color == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(job->png);
  if (color == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(job->png);
  if (png_get_valid(job->png, job->info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(job->png);
  if (depth == 16) png_set_strip_16(job->png);
  if (color & PNG_COLOR_MASK_COLOR) png_set_rgb_to_gray_fixed(job->png, 1, -1, -1);
  png_set_interlace_handling(job->png);
  png_read_update_info(job->png, job->info);

  job->width = w;
  job->height = h;
  job->channels = png_get_channels(job->png, job->info);
  job->row_bytes = png_get_rowbytes(job->png, job->info);
  if (job->channels < 1 || job->channels > 2 || job->row_bytes < size_t{w} * job->channels) {
    png_error(job->png, "unexpected sample layout");
  }
  job->pixels = static_cast<png_bytep>(std::malloc(job->row_bytes * h));
  job->rows = static_cast<png_bytepp>(std::malloc(sizeof(png_bytep) * h));
  if (!job->pixels || !job->rows) png_error(job->png, "not enough memory");
  for (uint32_t y = 0; y < h; ++y) job->rows[y] = job->pixels + job->row_bytes * y;
  png_read_image(job->png, job->rows);

  png_uint_32 xr, yr;
  int unit;
  if (png_get_pHYs(job->png, job->info, &xr, &yr, &unit) && unit == PNG_RESOLUTION_METER) {
    job->xres = dots_per_inch(xr / 100.0, 1);
    job->yres = dots_per_inch(yr / 100.0, 1);
  }
  return true;
}

bool read_png(const std::string& bytes, std::vector<Bilevel>* pages, std::string* error) {
  PngJob job;
  job.bytes = &bytes;
  if (!decode_png(&job)) return fail(error, std::string("PNG: ") + (job.message[0] ? job.message : "cannot decode"));
  Bilevel page;
  page.width = static_cast<int32_t>(job.width);
  page.height = static_cast<int32_t>(job.height);
  page.stride = (job.width + 7) / 8;
  page.xres = job.xres;
  page.yres = job.yres;
  page.bits.assign(page.stride * job.height, 0);
  for (uint32_t y = 0; y < job.height; ++y) {
    const png_bytep in = job.rows[y];
    uint8_t* out = page.row(static_cast<int32_t>(y));
    for (uint32_t x = 0; x < job.width; ++x) {
      const uint32_t alpha = job.channels == 2 ? in[2 * x + 1] : 255;
      if (is_black(in[x * job.channels], alpha)) out[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
  }
  pages->push_back(std::move(page));
  return true;
}

// ---- TIFF ----

int tiff_message(TIFF*, void* user, const char* module, const char* format, va_list ap) {
  auto* message = static_cast<std::string*>(user);
  if (message->empty()) {
    char text[256];
    std::vsnprintf(text, sizeof text, format, ap);
    *message = std::string(module ? module : "TIFF") + ": " + text;
  }
  return 1;
}

int tiff_quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// One bilevel directory read line by line in its own coding.
bool read_tiff_bilevel(TIFF* tif, bool min_is_black, Bilevel* page) {
  const uint64_t line_size = TIFFScanlineSize64(tif);
  if (line_size < page->stride || line_size > max_page_bytes) return false;
  std::vector<uint8_t> line(static_cast<size_t>(line_size));
  for (int32_t y = 0; y < page->height; ++y) {
    if (TIFFReadScanline(tif, line.data(), static_cast<uint32_t>(y), 0) < 0) return false;
    uint8_t* out = page->row(y);
    std::copy_n(line.begin(), page->stride, out);
    if (min_is_black) {
      for (size_t i = 0; i < page->stride; ++i) out[i] = static_cast<uint8_t>(~out[i]);
    }
  }
  clear_padding(page);
  return true;
}

// Any other directory through libtiff's RGBA reader, a band of rows at a time.
bool read_tiff_rgba(TIFF* tif, Bilevel* page, std::string* error) {
  char why[1024] = "";
  TIFFRGBAImage img;
  if (!TIFFRGBAImageOK(tif, why) || !TIFFRGBAImageBegin(&img, tif, 0, why)) return fail(error, std::string("TIFF: ") + why);
  img.req_orientation = ORIENTATION_TOPLEFT;
  constexpr uint32_t band = 64;
  const auto width = static_cast<uint32_t>(page->width);
  std::vector<uint32_t> raster(size_t{width} * band);
  bool ok = true;
  for (uint32_t y0 = 0; ok && y0 < static_cast<uint32_t>(page->height); y0 += band) {
    const uint32_t rows = std::min(band, static_cast<uint32_t>(page->height) - y0);
    img.row_offset = static_cast<int>(y0);
    img.col_offset = 0;
    ok = TIFFRGBAImageGet(&img, raster.data(), width, rows) != 0;
    for (uint32_t r = 0; ok && r < rows; ++r) {
      uint8_t* out = page->row(static_cast<int32_t>(y0 + r));
      for (uint32_t x = 0; x < width; ++x) {
        const uint32_t p = raster[size_t{r} * width + x];
        const uint32_t gray = (299 * TIFFGetR(p) + 587 * TIFFGetG(p) + 114 * TIFFGetB(p)) / 1000;
        if (is_black(gray, TIFFGetA(p))) out[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
      }
    }
  }
  TIFFRGBAImageEnd(&img);
  return ok || fail(error, "TIFF: cannot read the pixels");
}

bool read_tiff_directory(TIFF* tif, Bilevel* page, std::string* error) {
  uint32_t w = 0, h = 0;
  uint16_t bps = 1, spp = 1, photometric = PHOTOMETRIC_MINISWHITE, unit = RESUNIT_INCH;
  if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h)) {
    return fail(error, "TIFF: a directory without width or length");
  }
  if (!page_size_ok(w, h, &page->stride)) return fail(error, "TIFF: the page size is zero or too large");
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
  float xres = 0, yres = 0;
  if (unit != RESUNIT_NONE && TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres) && TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres)) {
    page->xres = dots_per_inch(xres, unit == RESUNIT_CENTIMETER);
    page->yres = dots_per_inch(yres, unit == RESUNIT_CENTIMETER);
  }
  page->width = static_cast<int32_t>(w);
  page->height = static_cast<int32_t>(h);
  page->bits.assign(page->stride * h, 0);
  const bool bilevel = bps == 1 && spp == 1 && !TIFFIsTiled(tif) &&
                       (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK);
  if (bilevel) {
    return read_tiff_bilevel(tif, photometric == PHOTOMETRIC_MINISBLACK, page) ||
           fail(error, "TIFF: cannot read the rows");
  }
  return read_tiff_rgba(tif, page, error);
}

bool read_tiff(const std::string& path, std::vector<Bilevel>* pages, std::string* error) {
  std::string message;
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return fail(error, "TIFF: not enough memory");
  TIFFOpenOptionsSetErrorHandlerExtR(options, tiff_message, &message);
  TIFFOpenOptionsSetWarningHandlerExtR(options, tiff_quiet, nullptr);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(max_page_bytes));
  TIFF* tif = TIFFOpenExt(path.c_str(), "r", options);
  TIFFOpenOptionsFree(options);
  if (!tif) return fail(error, message.empty() ? "TIFF: cannot open the file" : message);
  std::vector<Bilevel> found;
  bool ok = true;
  do {
    Bilevel page;
    ok = read_tiff_directory(tif, &page, error);
    if (ok) found.push_back(std::move(page));
  } while (ok && TIFFReadDirectory(tif));
  TIFFClose(tif);
  // A message from libtiff means some of the file was not read: no partial result.
  if (ok && !message.empty()) return fail(error, message);
  if (!ok) {
    if (!message.empty() && *error != message) *error += " (" + message + ")";
    return false;
  }
  for (auto& page : found) pages->push_back(std::move(page));
  return true;
}

bool starts_with(const std::string& bytes, const char* magic, size_t n) {
  return bytes.size() >= n && std::memcmp(bytes.data(), magic, n) == 0;
}

}  // namespace

bool read_all_pages(const std::vector<std::string>& files, std::vector<Bilevel>* pages, std::string* error) {
  for (const std::string& file : files) {
    if (!read_pages(file, pages, error)) return false;
  }
  return true;
}

bool read_file_bytes(const std::string& path, std::string* bytes, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail(error, "cannot open " + path + ": " + std::strerror(errno));
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) return fail(error, "cannot read " + path);
  return true;
}

bool write_file_bytes(const std::string& path, const void* data, size_t size, std::string* error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (out) out.close();
  if (!out) return fail(error, "cannot write " + path + ": " + std::strerror(errno));
  return true;
}

bool read_pages(const std::string& path, std::vector<Bilevel>* pages, std::string* error) {
  std::string bytes;
  if (!read_file_bytes(path, &bytes, error)) return false;
  bool ok;
  if (starts_with(bytes, "\x89PNG\r\n\x1a\n", 8)) {
    ok = read_png(bytes, pages, error);
  } else if (starts_with(bytes, "II*\0", 4) || starts_with(bytes, "MM\0*", 4) || starts_with(bytes, "II+\0", 4) ||
             starts_with(bytes, "MM\0+", 4)) {
    ok = read_tiff(path, pages, error);
  } else if (starts_with(bytes, "P1", 2) || starts_with(bytes, "P4", 2)) {
    ok = parse_pbm(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), pages, error);
  } else {
    return fail(error, path + ": not a PBM, PNG or TIFF file");
  }
  if (!ok) *error = path + ": " + *error;
  return ok;
}

}  // namespace monodoc
