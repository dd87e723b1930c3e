// Writing pages as TIFF (the engine's TIFF library), JPEG, PNG and GIF.

#include <cstdio>  // before jpeglib.h, which needs FILE

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include "kvtf.h"
#include "raster.h"

namespace kvraster {

// ---- TIFF ----

namespace {

struct TiffCoding {
  int32_t engine;
  uint16_t tiff;
};
constexpr TiffCoding tiff_codings[] = {{QEL_COMPRESSION_NONE, KVTF_COMPRESSION_NONE},
                                       {QEL_COMPRESSION_JPEG, KVTF_COMPRESSION_JPEG},
                                       {QEL_COMPRESSION_G3, KVTF_COMPRESSION_CCITTFAX3},
                                       {QEL_COMPRESSION_G4, KVTF_COMPRESSION_CCITTFAX4},
                                       {QEL_COMPRESSION_DEFLATE, KVTF_COMPRESSION_ADOBE_DEFLATE},
                                       {QEL_COMPRESSION_LZW, KVTF_COMPRESSION_LZW}};

}  // namespace

bool write_tiff(elf_state* state, const Raster& page, const char* filename, const TiffOptions& options) {
  int32_t engine = options.compression;
  if (engine < 0) engine = page.form == Form::Bilevel ? QEL_COMPRESSION_G4 : QEL_COMPRESSION_LZW;
  uint16_t compression = 0;
  for (const TiffCoding& c : tiff_codings) {
    if (c.engine == engine) compression = c.tiff;
  }
  if (!compression) return fail(state, "writetif: compression %d is not written to TIFF\n", engine), false;
  const bool fax = compression == KVTF_COMPRESSION_CCITTFAX3 || compression == KVTF_COMPRESSION_CCITTFAX4;
  if (fax && page.form != Form::Bilevel) return fail(state, "writetif: fax compression needs a 1-bit page\n"), false;
  Raster grey;
  const Raster* r = &page;
  if (compression == KVTF_COMPRESSION_JPEG && page.form == Form::Bilevel) {
    grey = page;
    to_eight_bit(&grey);
    r = &grey;
  }
  // A new file is made whole beside its name; a page appended goes into the file that is there.
  std::unique_ptr<OutFile> out(options.append ? nullptr : new OutFile(state, "writetif", filename));
  if (out && !out->name()) return false;
  KVTF_TIFF* tif = KVTF_TIFFOpen(out ? out->name() : filename, options.append ? "a" : "w");
  if (!tif) return fail(state, "writetif: %s cannot be opened for writing\n", filename), false;
  const bool jpeg_rgb = compression == KVTF_COMPRESSION_JPEG && r->form == Form::Rgb;
  const uint16_t photometric = r->form == Form::Bilevel ? KVTF_PHOTOMETRIC_MINISWHITE
                               : r->form == Form::Grey  ? KVTF_PHOTOMETRIC_MINISBLACK
                               : jpeg_rgb               ? KVTF_PHOTOMETRIC_YCBCR
                                                        : KVTF_PHOTOMETRIC_RGB;
  bool ok = KVTF_TIFFSetField(tif, KVTF_TAG_IMAGEWIDTH, static_cast<uint32_t>(r->width)) &&
            KVTF_TIFFSetField(tif, KVTF_TAG_IMAGELENGTH, static_cast<uint32_t>(r->height)) &&
            KVTF_TIFFSetField(tif, KVTF_TAG_BITSPERSAMPLE, r->form == Form::Bilevel ? 1 : 8) &&
            KVTF_TIFFSetField(tif, KVTF_TAG_SAMPLESPERPIXEL, r->channels()) &&
            KVTF_TIFFSetField(tif, KVTF_TAG_PHOTOMETRIC, photometric) &&
            KVTF_TIFFSetField(tif, KVTF_TAG_PLANARCONFIG, KVTF_PLANARCONFIG_CONTIG) &&
            KVTF_TIFFSetField(tif, KVTF_TAG_ORIENTATION, KVTF_ORIENTATION_TOPLEFT) &&
            KVTF_TIFFSetField(tif, KVTF_TAG_COMPRESSION, compression);
  if (ok && r->xres > 0 && r->yres > 0) {
    ok = KVTF_TIFFSetField(tif, KVTF_TAG_XRESOLUTION, r->xres) && KVTF_TIFFSetField(tif, KVTF_TAG_YRESOLUTION, r->yres) &&
         KVTF_TIFFSetField(tif, KVTF_TAG_RESOLUTIONUNIT, KVTF_RESUNIT_INCH);
  }
  if (ok && compression == KVTF_COMPRESSION_JPEG) {
    ok = KVTF_TIFFSetField(tif, KVTF_TAG_JPEGQUALITY, options.quality) &&
         (!jpeg_rgb || KVTF_TIFFSetField(tif, KVTF_TAG_JPEGCOLORMODE, KVTF_JPEGCOLORMODE_RGB));
  }
  // JPEG strips must hold whole MCU rows; fax pages go in one strip, as fax readers expect.
  const uint32_t rows = fax ? static_cast<uint32_t>(r->height) : KVTF_TIFFDefaultStripSize(tif, jpeg_rgb ? 16 : 0);
  ok = ok && KVTF_TIFFSetField(tif, KVTF_TAG_ROWSPERSTRIP, rows);
  std::vector<uint8_t> line(r->row_bytes());
  for (int32_t y = 0; ok && y < r->height; ++y) {
    std::memcpy(line.data(), r->row(y), line.size());
    ok = KVTF_TIFFWriteScanline(tif, line.data(), static_cast<uint32_t>(y), 0) > 0;
  }
  ok = ok && KVTF_TIFFWriteDirectory(tif) && KVTF_TIFFErrorCount(tif) == 0;
  KVTF_TIFFClose(tif);
  if (!ok) return fail(state, "writetif: %s: the page cannot be written\n", filename), false;
  return !out || out->finish();
}

// ---- JPEG ----

namespace {

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};
void jpeg_failed(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1); }

}  // namespace

namespace {

// Codes the page into the file; false when the library gave up.
bool code_jpeg(std::FILE* f, const Raster& r, int32_t quality) {
  jpeg_compress_struct info{};
  JpegError error{};
  info.err = jpeg_std_error(&error.mgr);
  error.mgr.error_exit = jpeg_failed;
  if (setjmp(error.jump)) {
    jpeg_destroy_compress(&info);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, f);
  info.image_width = static_cast<JDIMENSION>(r.width);
  info.image_height = static_cast<JDIMENSION>(r.height);
  info.input_components = r.channels();
  info.in_color_space = r.form == Form::Rgb ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality < 1 ? 1 : quality > 100 ? 100 : quality, TRUE);
  if (r.xres > 0 && r.yres > 0 && r.xres < 65536 && r.yres < 65536) {
    info.density_unit = 1;
    info.X_density = static_cast<UINT16>(r.xres + 0.5);
    info.Y_density = static_cast<UINT16>(r.yres + 0.5);
  }
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<uint8_t*>(r.row(static_cast<int32_t>(info.next_scanline)));
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return true;
}

}  // namespace

bool write_jpeg(elf_state* state, const Raster& page, const char* filename, int32_t quality) {
  Raster copy;
  if (page.form == Form::Bilevel) {
    copy = page;
    to_eight_bit(&copy);
  }
  OutFile out(state, "writejpg", filename);
  std::FILE* f = out.stream();
  if (!f) return out.name() && (fail(state, "writejpg: %s cannot be created\n", filename), false);
  if (!code_jpeg(f, page.form == Form::Bilevel ? copy : page, quality)) {
    return fail(state, "writejpg: %s: the page cannot be written\n", filename), false;
  }
  return out.finish();
}

// ---- PNG ----

namespace {
void png_failed(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void png_quiet(png_structp, png_const_charp) {}
}  // namespace

bool write_png(elf_state* state, const Raster& r, const char* filename) {
  OutFile out(state, "writepng", filename);
  std::FILE* f = out.stream();
  if (!f) return out.name() && (fail(state, "writepng: %s cannot be created\n", filename), false);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_failed, png_quiet);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return fail(state, "writepng: %s: the page cannot be written\n", filename), false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, static_cast<png_uint_32>(r.width), static_cast<png_uint_32>(r.height),
               r.form == Form::Bilevel ? 1 : 8, r.form == Form::Rgb ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (r.xres > 0 && r.yres > 0) {
    png_set_pHYs(png, info, static_cast<png_uint_32>(r.xres / 0.0254 + 0.5),
                 static_cast<png_uint_32>(r.yres / 0.0254 + 0.5), PNG_RESOLUTION_METER);
  }
  png_write_info(png, info);
  if (r.form == Form::Bilevel) png_set_invert_mono(png);  // PNG's 0 is black
  for (int32_t y = 0; y < r.height; ++y) png_write_row(png, r.row(y));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out.finish();
}

// ---- GIF ----

bool write_gif(elf_state* state, const Raster& r, const char* filename) {
  if (r.width > 65535 || r.height > 65535) return fail(state, "writegif: a page of %dx%d is too large for GIF\n", r.width, r.height), false;
  const size_t count = static_cast<size_t>(r.width) * r.height;
  std::vector<GifByteType> indices(count);
  int colours = 256;
  ColorMapObject* map = nullptr;
  if (r.form == Form::Bilevel) {
    colours = 2;
    map = GifMakeMapObject(2, nullptr);
    if (map) map->Colors[0] = {255, 255, 255}, map->Colors[1] = {0, 0, 0};
    for (int32_t y = 0; y < r.height; ++y) {
      for (int32_t x = 0; x < r.width; ++x) indices[static_cast<size_t>(y) * r.width + x] = r.row(y)[x >> 3] >> (7 - (x & 7)) & 1;
    }
  } else if (r.form == Form::Grey) {
    map = GifMakeMapObject(256, nullptr);
    for (int i = 0; map && i < 256; ++i) map->Colors[i] = {static_cast<GifByteType>(i), static_cast<GifByteType>(i), static_cast<GifByteType>(i)};
    std::memcpy(indices.data(), r.pixels.data(), count);
  } else {
    std::vector<GifByteType> red(count), green(count), blue(count);
    for (size_t i = 0; i < count; ++i) {
      red[i] = r.pixels[i * 3];
      green[i] = r.pixels[i * 3 + 1];
      blue[i] = r.pixels[i * 3 + 2];
    }
    map = GifMakeMapObject(256, nullptr);
    if (map && GifQuantizeBuffer(static_cast<unsigned>(r.width), static_cast<unsigned>(r.height), &colours, red.data(),
                                 green.data(), blue.data(), indices.data(), map->Colors) != GIF_OK) {
      GifFreeMapObject(map);
      return fail(state, "writegif: the page's colours cannot be reduced\n"), false;
    }
  }
  if (!map) return fail(state, "writegif: no memory for the colour map\n"), false;
  int error = 0;
  OutFile out(state, "writegif", filename);
  GifFileType* gif = out.name() ? EGifOpenFileName(out.name(), false, &error) : nullptr;
  if (!out.name()) {
    GifFreeMapObject(map);
    return false;
  }
  if (!gif) {
    GifFreeMapObject(map);
    return fail(state, "writegif: %s: %s\n", filename, GifErrorString(error) ? GifErrorString(error) : "GIF error"), false;
  }
  bool ok = EGifPutScreenDesc(gif, r.width, r.height, 8, 0, map) == GIF_OK &&
            EGifPutImageDesc(gif, 0, 0, r.width, r.height, false, nullptr) == GIF_OK;
  for (int32_t y = 0; ok && y < r.height; ++y) {
    ok = EGifPutLine(gif, indices.data() + static_cast<size_t>(y) * r.width, r.width) == GIF_OK;
  }
  ok = EGifCloseFile(gif, &error) == GIF_OK && ok;
  GifFreeMapObject(map);
  if (!ok) {
    return fail(state, "writegif: %s: %s\n", filename, GifErrorString(error) ? GifErrorString(error) : "GIF error"), false;
  }
  return out.finish();
}

}  // namespace kvraster
