// TIFF and PNG files held in memory turned into the interpreter's C-level page images, colour
// samples and alpha apart.

#include <png.h>

#include <csetjmp>
#include <cstring>

#include "checked_size.h"
#include "dio_membuf.h"
#include "kvng.h"
#include "kvtf.h"
#include "qel_image.h"
#include "qelutil.h"

namespace {

constexpr int32_t photo_grey_white_zero = 118;
constexpr int32_t photo_grey_black_zero = 117;
constexpr int32_t photo_rgb = 111;
constexpr int32_t photo_grey = 22;
// Whole decoded pages above this many bytes are refused rather than allocated.
constexpr size_t max_page_bytes = size_t{1} << 30;

struct Cursor {
  const BufUChar* buffer;
  uint64_t position;
};

void err(SState* state, int line) { SState_Err(state, __FILE__, line, -1); }

size_t row_bytes(uint64_t width, uint64_t samples, uint64_t bits) { return static_cast<size_t>((width * samples * bits + 7) / 8); }

// A block of rows * row bytes on the shared heap, or null when it is too large or memory runs out.
uint8_t* rows_block(SState* state, size_t rows, size_t row, size_t* size) {
  if (!mono::checked_mul(rows, row, size) || *size > max_page_bytes || *size == 0) return nullptr;
  return static_cast<uint8_t*>(SState_Calloc(state, 1, *size));
}

// The image of a colour layer and, when given, an alpha layer in front of it.
QELImage* make_image(SState* state, uint32_t width, uint32_t height, double xres, double yres, QELLayer* colour,
                     QELLayer* alpha) {
  QELImage* image = nullptr;
  if (QELUtil_ImageNew(state, 0, width, height, xres, yres, &image) != 0) {
    __QELLayersFree(colour);
    __QELLayersFree(alpha);
    return nullptr;
  }
  if (alpha) {
    alpha->next = colour;
    image->layers = alpha;
    image->layerCount = 2;
  } else {
    image->layers = colour;
    image->layerCount = 1;
  }
  return image;
}

// Makes a layer over data, which it takes; data goes when the layer cannot be made.
QELLayer* layer_over(SState* state, int32_t number, uint32_t width, uint32_t height, uint8_t* data, size_t size,
                     int32_t samples, int32_t bits, size_t bpr, int32_t layout, int32_t compression, int32_t photometry) {
  QELLayer* l = QELUtil_LayerNew(state, number, nullptr, nullptr, nullptr, width, height, data, size, samples, bits,
                                 static_cast<int32_t>(bpr), width, height, layout, compression, photometry);
  if (!l) kvng_internal_free(data);
  return l;
}

// ---- TIFF ----

const char* photometric_name(uint16_t p) {
  static constexpr const char* names[] = {"0:MINISWHITE", "1:MINISBLACK", "2:RGB", "3:PALETTE", "4:MASK", "5:SEPARATED"};
  return p < 6 ? names[p] : "??";
}

const char* compression_name(uint16_t c) {
  switch (c) {
    case 1: return "NONE";
    case 2: return "CCITTRLE";
    case 3: return "CCITTFAX3";
    case 4: return "CCITTFAX4";
    case 5: return "LZW";
    case 7: return "JPEG";
    case 32773: return "PACKBITS";
    default: return "??";
  }
}

struct TiffCloser {
  KVTF_TIFF* tif;
  ~TiffCloser() { KVTF_TIFFClose(tif); }
};

struct TiffFacts {
  uint32_t width = 0, height = 0;
  float xres = 0, yres = 0;
  uint16_t unit = 0, bits = 1, samples = 1, extraCount = 0, inkset = 1, inks = 4, photometric = 0;
  uint16_t planar = KVTF_PLANARCONFIG_CONTIG, compression = KVTF_COMPRESSION_NONE, predictor = 1;
  uint16_t* extra = nullptr;
  uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
  uint32_t tablesCount = 0, rowsPerStrip = 0, strips = 0;
  void* tables = nullptr;
  uint64_t* offsets = nullptr;
  uint64_t* counts = nullptr;
  bool colourMap = false;
};

void read_facts(KVTF_TIFF* tif, TiffFacts* f) {
  KVTF_TIFFGetField(tif, KVTF_TAG_IMAGEWIDTH, &f->width);
  KVTF_TIFFGetField(tif, KVTF_TAG_IMAGELENGTH, &f->height);
  KVTF_TIFFGetField(tif, KVTF_TAG_XRESOLUTION, &f->xres);
  KVTF_TIFFGetField(tif, KVTF_TAG_YRESOLUTION, &f->yres);
  KVTF_TIFFGetField(tif, KVTF_TAG_RESOLUTIONUNIT, &f->unit);
  KVTF_TIFFGetField(tif, KVTF_TAG_BITSPERSAMPLE, &f->bits);
  KVTF_TIFFGetField(tif, KVTF_TAG_SAMPLESPERPIXEL, &f->samples);
  KVTF_TIFFGetField(tif, KVTF_TAG_EXTRASAMPLES, &f->extraCount, &f->extra);
  KVTF_TIFFGetField(tif, KVTF_TAG_INKSET, &f->inkset);
  KVTF_TIFFGetField(tif, KVTF_TAG_NUMBEROFINKS, &f->inks);
  KVTF_TIFFGetField(tif, KVTF_TAG_PHOTOMETRIC, &f->photometric);
  f->colourMap = KVTF_TIFFGetField(tif, KVTF_TAG_COLORMAP, &f->red, &f->green, &f->blue) != 0;
  KVTF_TIFFGetField(tif, KVTF_TAG_PLANARCONFIG, &f->planar);
  KVTF_TIFFGetField(tif, KVTF_TAG_COMPRESSION, &f->compression);
  KVTF_TIFFGetField(tif, KVTF_TAG_PREDICTOR, &f->predictor);
  KVTF_TIFFGetField(tif, KVTF_TAG_JPEGTABLES, &f->tablesCount, &f->tables);
  KVTF_TIFFGetField(tif, KVTF_TAG_ROWSPERSTRIP, &f->rowsPerStrip);
  KVTF_TIFFGetField(tif, KVTF_TAG_STRIPOFFSETS, &f->offsets);
  KVTF_TIFFGetField(tif, KVTF_TAG_STRIPBYTECOUNTS, &f->counts);
  f->strips = KVTF_TIFFNumberOfStrips(tif);
}

void describe(SState* state, const TiffFacts& f, bool alpha) {
  SState_VerPrintf(state, "  pixs:   %5d\n", static_cast<int>(f.width));
  SState_VerPrintf(state, "  scns:   %5d\n", static_cast<int>(f.height));
  SState_VerPrintf(state, "  resx:   %5f\n", static_cast<double>(f.xres));
  SState_VerPrintf(state, "  resy:   %5f\n", static_cast<double>(f.yres));
  SState_VerPrintf(state, "  resU:   %-5s\n", f.unit == 2 ? "in" : f.unit == 3 ? "cm" : "??");
  SState_VerPrintf(state, "  bits:   %5d\n", f.bits);
  SState_VerPrintf(state, "  smps:   %5d\n", f.samples);
  const char* extra = f.extraCount == 0 ? "noAlp" : f.extra[0] == 2 ? "alpha" : f.extra[0] == 1 ? "pMult" : "??";
  SState_VerPrintf(state, "  smpX:   %-5s\n", extra);
  if (alpha && f.extraCount == 0) SState_VerPrintf(state, "  ****    Missing Alpha Tag\n");
  SState_VerPrintf(state, "  phot:   %-5s\n", photometric_name(f.photometric));
  SState_VerPrintf(state, "  cmap:   %-5s\n", f.colourMap ? "yes" : "no");
  SState_VerPrintf(state, "  comp:   %-5s\n", compression_name(f.compression));
  SState_VerPrintf(state, "  lzwP:   %-5s\n", f.predictor == 2 ? "horizontal" : "none");
  SState_VerPrintf(state, "  jTab:   %5d\n", static_cast<int>(f.tablesCount));
  SState_VerPrintf(state, "  strips: %5d\n", static_cast<int>(f.strips));
}

// The strips as the file holds them, one after another.
QELLayer* pass_through(SState* state, KVTF_TIFF* tif, const TiffFacts& f, int32_t compression, int32_t photometry) {
  size_t total = 0;
  for (uint32_t s = 0; s < f.strips; ++s) {
    if (!f.counts || !mono::checked_add(total, static_cast<size_t>(f.counts[s]), &total)) return nullptr;
  }
  if (total == 0 || total > max_page_bytes) return nullptr;
  auto* data = static_cast<uint8_t*>(SState_Calloc(state, 1, total));
  if (!data) return nullptr;
  size_t at = 0;
  for (uint32_t s = 0; s < f.strips; ++s) {
    const int64_t got = KVTF_TIFFReadRawStrip(tif, s, data + at, static_cast<int64_t>(f.counts[s]));
    if (got < 0) {
      kvng_internal_free(data);
      return nullptr;
    }
    at += static_cast<size_t>(got);
  }
  return layer_over(state, 1, f.width, f.height, data, at, f.samples, f.bits, row_bytes(f.width, f.samples, f.bits),
                    QEL_LAYOUT_CODED, compression, photometry);
}

// A palette page as red, green and blue bytes through its colour map.
bool unmap_palette(SState* state, const TiffFacts& f, uint8_t** data, size_t* size, size_t* bpr) {
  const size_t in_row = *bpr;
  const size_t out_row = static_cast<size_t>(f.width) * 3;
  size_t out_size;
  uint8_t* out = rows_block(state, f.height, out_row, &out_size);
  if (!out) return false;
  const uint32_t entries = 1u << f.bits;
  for (uint32_t y = 0; y < f.height; ++y) {
    const uint8_t* src = *data + in_row * y;
    uint8_t* dst = out + out_row * y;
    for (uint32_t x = 0; x < f.width; ++x) {
      const uint64_t bit = uint64_t{x} * f.bits;
      const uint32_t i = (src[bit / 8] >> (8 - f.bits - bit % 8)) & (entries - 1);
      dst[x * 3] = static_cast<uint8_t>(f.red[i] >> 8);
      dst[x * 3 + 1] = static_cast<uint8_t>(f.green[i] >> 8);
      dst[x * 3 + 2] = static_cast<uint8_t>(f.blue[i] >> 8);
    }
  }
  kvng_internal_free(*data);
  *data = out;
  *size = out_size;
  *bpr = out_row;
  return true;
}

}  // namespace

extern "C" {

int64_t TIFQEL_Read(void* cursor, void* destination, int64_t count) {
  auto* c = static_cast<Cursor*>(cursor);
  const uint64_t length = c->buffer->length;
  if (count < 0 || c->position > length || static_cast<uint64_t>(count) > length - c->position) {
    KVTF_TIFFError("TIFQEL", "ERROR: Ran out of data to read.");
    return 0;
  }
  std::memcpy(destination, c->buffer->data + c->position, static_cast<size_t>(count));
  c->position += static_cast<uint64_t>(count);
  return count;
}

int64_t TIFQEL_Write(void*, void*, int64_t count) { return count; }

uint64_t TIFQEL_Seek(void* cursor, uint64_t offset, int whence) {
  auto* c = static_cast<Cursor*>(cursor);
  const int64_t length = static_cast<int64_t>(c->buffer->length);
  const int64_t delta = static_cast<int64_t>(offset);
  int64_t base;
  switch (whence) {
    case 0: base = 0; break;
    case 1: base = static_cast<int64_t>(c->position); break;
    case 2: base = length; break;
    default: return c->position;
  }
  // A position outside the data is refused, so that no later read starts beyond it.
  int64_t target;
  if (__builtin_add_overflow(base, delta, &target) || target < 0 || target > length) return UINT64_MAX;
  c->position = static_cast<uint64_t>(target);
  return c->position;
}

int TIFQEL_Close(void*) { return 0; }
uint64_t TIFQEL_Size(void* cursor) { return static_cast<Cursor*>(cursor)->buffer->length; }
int TIFQEL_MapFile(void*, void**, uint64_t*) { return 0; }
void TIFQEL_UnmapFile(void*, void*, uint64_t) {}

QELImage* TIFQEL_BufUChar2QEL(BufUChar* buffer) {
  if (!buffer || !buffer->state) return nullptr;
  SState* state = buffer->state;
  Cursor cursor{buffer, 0};
  KVTF_TIFF* tif = KVTF_TIFFClientOpen("<internalData>", "r", &cursor, TIFQEL_Read, TIFQEL_Write, TIFQEL_Seek,
                                       TIFQEL_Close, TIFQEL_Size, TIFQEL_MapFile, TIFQEL_UnmapFile);
  if (!tif) return nullptr;
  TiffCloser closer{tif};
  TiffFacts f;
  read_facts(tif, &f);
  const bool alpha = f.extraCount != 0 || (f.photometric == 2 && f.samples > 3) || (f.photometric < 2 && f.samples > 1);
  describe(state, f, alpha);

  double xres = f.xres, yres = f.yres;
  if (xres == 0) xres = yres;
  if (yres == 0) yres = xres;
  if (xres == 0 && yres == 0) xres = yres = 300;
  if (f.unit == KVTF_RESUNIT_CENTIMETER) {
    xres *= 2.54;
    yres *= 2.54;
  }

  int32_t photometry;
  switch (f.photometric) {
    case 0: photometry = photo_grey_white_zero; break;
    case 1: photometry = photo_grey_black_zero; break;
    case 2:
    case 3: photometry = photo_rgb; break;
    case 5:
      SState_ErrPrintf(state, "TIF2QEL: QEL does not support CMYK\n");
      err(state, __LINE__);
      return nullptr;
    default:
      SState_ErrPrintf(state, "TIF2QEL: invalid photometry %d\n", f.photometric);
      err(state, __LINE__);
      return nullptr;
  }
  if (f.width == 0 || f.height == 0 || f.samples == 0 || f.bits == 0 || f.bits > 16 || KVTF_TIFFIsTiled(tif)) {
    SState_ErrPrintf(state, "TIFQEL: %ux%u pages of %d samples of %d bits%s are not read\n", f.width, f.height,
                     f.samples, f.bits, KVTF_TIFFIsTiled(tif) ? " in tiles" : "");
    err(state, __LINE__);
    return nullptr;
  }

  if (!alpha && f.strips == 1 && f.tablesCount == 0 &&
      (f.compression == KVTF_COMPRESSION_JPEG || f.compression == KVTF_COMPRESSION_CCITTFAX4)) {
    QELLayer* colour = pass_through(state, tif, f, f.compression == KVTF_COMPRESSION_JPEG ? QEL_COMPRESSION_JPEG : QEL_COMPRESSION_G4,
                                    photometry);
    if (!colour) {
      SState_ErrPrintf(state, "TIFQEL: the coded strip cannot be read\n");
      err(state, __LINE__);
      return nullptr;
    }
    return make_image(state, f.width, f.height, xres, yres, colour, nullptr);
  }

  const uint32_t colour_samples = f.samples - (alpha ? 1u : 0u);
  const size_t bps = (f.bits + 7u) / 8u;
  const bool planar = f.planar == KVTF_PLANARCONFIG_SEPARATE;
  const size_t expected = planar ? row_bytes(f.width, 1, f.bits) : row_bytes(f.width, f.samples, f.bits);
  if (static_cast<int64_t>(expected) != KVTF_TIFFScanlineSize(tif)) {
    SState_ErrPrintf(state, "TIFQEL: confused about source length\n");
    err(state, __LINE__);
    return nullptr;
  }
  // Alpha is split from the colour samples in whole bytes; 12-bit samples would read past the line.
  if (alpha && f.bits % 8 != 0) {
    SState_ErrPrintf(state, "TIFQEL: can't handle alpha with bits < 8\n");
    err(state, __LINE__);
    return nullptr;
  }
  const size_t plane_row = row_bytes(f.width, 1, f.bits);
  size_t colour_row = planar ? plane_row * colour_samples : row_bytes(f.width, colour_samples, f.bits);
  const size_t alpha_row = plane_row;
  size_t colour_size = 0, alpha_size = 0;
  uint8_t* colour = rows_block(state, f.height, colour_row, &colour_size);
  uint8_t* alpha_data = colour && alpha ? rows_block(state, f.height, alpha_row, &alpha_size) : nullptr;
  auto* line = colour && (!alpha || alpha_data) ? static_cast<uint8_t*>(KVTF__TIFFmalloc(static_cast<int64_t>(expected))) : nullptr;
  if (!line) {
    kvng_internal_free(colour);
    kvng_internal_free(alpha_data);
    SState_ErrPrintf(state, "TIFQEL: no memory for a page of %ux%u\n", f.width, f.height);
    err(state, __LINE__);
    return nullptr;
  }
  bool ok = true;
  if (!planar) {
    const size_t pixel = f.samples * bps, colour_bytes = colour_samples * bps;
    for (uint32_t y = 0; ok && y < f.height; ++y) {
      ok = KVTF_TIFFReadScanline(tif, line, y, 0) >= 0;
      if (!alpha) {
        std::memcpy(colour + colour_row * y, line, colour_row);
        continue;
      }
      for (uint32_t x = 0; x < f.width; ++x) {
        std::memcpy(colour + colour_row * y + colour_bytes * x, line + pixel * x, colour_bytes);
        std::memcpy(alpha_data + alpha_row * y + bps * x, line + pixel * x + colour_bytes, bps);
      }
    }
  } else {
    for (uint32_t s = 0; ok && s < colour_samples; ++s) {
      for (uint32_t y = 0; ok && y < f.height; ++y) {
        ok = KVTF_TIFFReadScanline(tif, line, y, static_cast<uint16_t>(s)) >= 0;
        std::memcpy(colour + colour_row * y + plane_row * s, line, plane_row);
      }
    }
    for (uint32_t y = 0; ok && alpha && y < f.height; ++y) {
      ok = KVTF_TIFFReadScanline(tif, line, y, static_cast<uint16_t>(colour_samples)) >= 0;
      std::memcpy(alpha_data + alpha_row * y, line, alpha_row);
    }
  }
  KVTF__TIFFfree(line);
  if (!ok) {
    kvng_internal_free(colour);
    kvng_internal_free(alpha_data);
    SState_ErrPrintf(state, "TIFQEL: the page's rows cannot be read\n");
    err(state, __LINE__);
    return nullptr;
  }
  int32_t samples = static_cast<int32_t>(colour_samples), bits = f.bits;
  // Palette indices labelled as colour would be read as something else: give the colours.
  if (f.photometric == KVTF_PHOTOMETRIC_PALETTE && !planar && colour_samples == 1 && f.bits <= 8 && f.colourMap) {
    if (!unmap_palette(state, f, &colour, &colour_size, &colour_row)) {
      kvng_internal_free(colour);
      kvng_internal_free(alpha_data);
      err(state, __LINE__);
      return nullptr;
    }
    samples = 3;
    bits = 8;
  }
  QELLayer* alpha_layer = nullptr;
  if (alpha) {
    alpha_layer = layer_over(state, 2, f.width, f.height, alpha_data, alpha_size, 1, f.bits, alpha_row, QEL_LAYOUT_INTERLEAVED,
                             0, photo_grey_white_zero);
    if (!alpha_layer) {
      kvng_internal_free(colour);
      return nullptr;
    }
  }
  QELLayer* colour_layer = layer_over(state, 1, f.width, f.height, colour, colour_size, samples, bits,
                                      planar ? plane_row : colour_row, planar ? QEL_LAYOUT_PLANAR : QEL_LAYOUT_INTERLEAVED, 0,
                                      photometry);
  if (!colour_layer) {
    __QELLayersFree(alpha_layer);
    return nullptr;
  }
  return make_image(state, f.width, f.height, xres, yres, colour_layer, alpha_layer);
}

// ---- PNG ----

void PNGQEL_MyPNGReader(png_structp png, png_bytep destination, png_size_t count) {
  auto* c = static_cast<Cursor*>(png_get_io_ptr(png));
  const uint64_t length = c->buffer->length;
  if (c->position > length || count > length - c->position) png_error(png, "ERROR: Ran out of data to read.");
  std::memcpy(destination, c->buffer->data + c->position, count);
  c->position += count;
}

}  // extern "C"

namespace {

void png_warned(png_structp png, png_const_charp message) {
  SState_VerPrintf(static_cast<SState*>(png_get_error_ptr(png)), "  PNG warning: %s\n", message);
}
void png_failed(png_structp png, png_const_charp message) {
  SState_VerPrintf(static_cast<SState*>(png_get_error_ptr(png)), "  PNG error: %s\n", message);
  png_longjmp(png, 1);
}

struct PngRead {
  png_structp png = nullptr;
  png_infop info = nullptr;
  uint8_t* rows = nullptr;
  png_bytep* pointers = nullptr;
  uint8_t* colour = nullptr;
  uint8_t* alpha = nullptr;
  void release() {
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    kvng_internal_free(rows);
    kvng_internal_free(pointers);
    kvng_internal_free(colour);
    kvng_internal_free(alpha);
    rows = colour = alpha = nullptr;
    pointers = nullptr;
  }
};

// Everything after the structures exist; longjmp comes back to the caller's setjmp, so only
// what r holds lives across it.
QELImage* read_png(SState* state, PngRead& r, Cursor& cursor) {
  png_set_read_fn(r.png, &cursor, PNGQEL_MyPNGReader);
  png_set_user_limits(r.png, 1u << 20, 1u << 20);
  png_read_info(r.png, r.info);
  png_uint_32 width = 0, height = 0;
  int depth = 0, type = 0, interlace = 0;
  png_get_IHDR(r.png, r.info, &width, &height, &depth, &type, &interlace, nullptr, nullptr);
  if (depth == 16) SState_VerPrintf(state, "PNGQEL: reading 16 bit samples\n");
  png_int_32 ox = 0, oy = 0;
  int ounit = 0;
  if (png_get_oFFs(r.png, r.info, &ox, &oy, &ounit)) {
    SState_VerPrintf(state, "  offset:      %d,%d %s\n", ox, oy, ounit == PNG_OFFSET_MICROMETER ? "microns" : "pixels");
  }
  double xres = 0, yres = 0;
  png_uint_32 rx = 0, ry = 0;
  int runit = 0;
  if (png_get_pHYs(r.png, r.info, &rx, &ry, &runit) && runit == PNG_RESOLUTION_METER) {
    xres = rx * 0.0254;
    yres = ry * 0.0254;
  }
  png_sPLT_tp palettes = nullptr;
  const int splt = png_get_sPLT(r.png, r.info, &palettes);
  if (splt) SState_VerPrintf(state, "  sPLT:        %d\n", splt);
  double gamma = 0;
  if (png_get_gAMA(r.png, r.info, &gamma) && gamma != 1.0) {
    SState_VerPrintf(state, "PNGQEL: Ignoring Gamma\n");
    SState_VerPrintf(state, "  gamma:       %f\n", gamma);
  }
  png_charp icc_name = nullptr;
  int icc_method = 0;
  png_bytep icc = nullptr;
  png_uint_32 icc_length = 0;
  if (png_get_iCCP(r.png, r.info, &icc_name, &icc_method, &icc, &icc_length)) {
    SState_VerPrintf(state, "  iCCP:        %s (%u bytes)\n", icc_name ? icc_name : "", icc_length);
  }

  int alpha_code = type & PNG_COLOR_MASK_ALPHA ? 2 : 0;
  png_bytep trans = nullptr;
  int trans_count = 0;
  png_color_16p trans_colour = nullptr;
  const bool has_trns = png_get_tRNS(r.png, r.info, &trans, &trans_count, &trans_colour) != 0;
  if (has_trns) {
    if (type == PNG_COLOR_TYPE_PALETTE) {
      alpha_code = trans_count == 1 && trans && trans[0] == 0 ? 1 : 2;
    } else {
      alpha_code = 1;
    }
  }
  const bool mask = type == PNG_COLOR_TYPE_GRAY && depth == 1 && alpha_code == 1;
  if (mask) {
    SState_VerPrintf(state, "  BinaryMask\n");
    alpha_code = 0;
  }
  if (has_trns) {
    SState_VerPrintf(state, "  transparency:\n");
    if (type == PNG_COLOR_TYPE_PALETTE) {
      for (int i = 0; i < trans_count; ++i) SState_VerPrintf(state, "    %3d:%3d\n", i, trans[i]);
    } else if (trans_colour) {
      SState_VerPrintf(state, "    %3d:%3d\n", type == PNG_COLOR_TYPE_GRAY ? trans_colour->gray : trans_colour->red,
                       type == PNG_COLOR_TYPE_GRAY ? trans_colour->gray : trans_colour->blue);
    }
  }
  SState_VerPrintf(state, "  alphaCode:   %d\n", alpha_code);

  if (alpha_code && type == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(r.png);
  if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(r.png);
  if (has_trns && alpha_code) png_set_tRNS_to_alpha(r.png);
  if (interlace != PNG_INTERLACE_NONE) png_set_interlace_handling(r.png);
  png_read_update_info(r.png, r.info);

  int32_t photometry;
  switch (type) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_GRAY_ALPHA: photometry = photo_grey; break;
    case PNG_COLOR_TYPE_RGB:
    case PNG_COLOR_TYPE_PALETTE:
    case PNG_COLOR_TYPE_RGB_ALPHA: photometry = photo_rgb; break;
    default:
      SState_ErrPrintf(state, "PNG2QEL: invalid photometry %d\n", type);
      err(state, __LINE__);
      return nullptr;
  }
  const int bits = png_get_bit_depth(r.png, r.info);
  const uint32_t channels = type & PNG_COLOR_MASK_COLOR ? 3 : 1;
  const bool alpha = alpha_code != 0;
  const size_t row = png_get_rowbytes(r.png, r.info);
  // The rows libpng will deliver must be exactly what the layers are cut from.
  if (row != row_bytes(width, channels + (alpha ? 1 : 0), static_cast<uint64_t>(bits)) ||
      png_get_channels(r.png, r.info) != channels + (alpha ? 1 : 0)) {
    SState_ErrPrintf(state, "PNGQEL: unexpected row layout\n");
    err(state, __LINE__);
    return nullptr;
  }
  size_t total = 0;
  r.rows = rows_block(state, height, row, &total);
  r.pointers = r.rows ? static_cast<png_bytep*>(SState_Calloc(state, height, sizeof(png_bytep))) : nullptr;
  if (!r.pointers) {
    SState_ErrPrintf(state, "PNGQEL: no memory for a page of %ux%u\n", width, height);
    err(state, __LINE__);
    return nullptr;
  }
  for (png_uint_32 y = 0; y < height; ++y) r.pointers[y] = r.rows + row * y;
  png_read_image(r.png, r.pointers);
  png_read_end(r.png, nullptr);  // a file cut short after its pixels is still cut short

  const size_t colour_row = row_bytes(width, channels, static_cast<uint64_t>(bits));
  const int alpha_bits = alpha_code == 1 ? 1 : bits;
  const size_t alpha_row = row_bytes(width, 1, static_cast<uint64_t>(alpha_bits));
  size_t colour_size = 0, alpha_size = 0;
  if (!alpha) {
    r.colour = r.rows;  // the rows are the colour layer as they stand
    r.rows = nullptr;
    colour_size = total;
  } else {
    r.colour = rows_block(state, height, colour_row, &colour_size);
    r.alpha = r.colour ? rows_block(state, height, alpha_row, &alpha_size) : nullptr;
    if (!r.alpha) {
      SState_ErrPrintf(state, "PNGQEL: no memory for a page of %ux%u\n", width, height);
      err(state, __LINE__);
      return nullptr;
    }
    const size_t bps = bits == 16 ? 2 : 1, colour_bytes = channels * bps, pixel = colour_bytes + bps;
    for (png_uint_32 y = 0; y < height; ++y) {
      const uint8_t* src = r.rows + row * y;
      uint8_t* c = r.colour + colour_row * y;
      uint8_t* a = r.alpha + alpha_row * y;
      for (png_uint_32 x = 0; x < width; ++x) {
        std::memcpy(c + colour_bytes * x, src + pixel * x, colour_bytes);
        if (alpha_bits == 1) {
          if (src[pixel * x + colour_bytes + bps - 1] & 1) a[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        } else {
          std::memcpy(a + bps * x, src + pixel * x + colour_bytes, bps);
        }
      }
    }
  }
  kvng_internal_free(r.rows);
  kvng_internal_free(r.pointers);
  r.rows = nullptr;
  r.pointers = nullptr;
  QELLayer* alpha_layer = nullptr;
  if (alpha) {
    alpha_layer = QELUtil_LayerNew(state, 2, nullptr, nullptr, nullptr, width, height, r.alpha, alpha_size, 1, alpha_bits,
                                   static_cast<int32_t>(alpha_row), width, height, QEL_LAYOUT_INTERLEAVED, 0,
                                   photo_grey_white_zero);
    if (!alpha_layer) return nullptr;
    r.alpha = nullptr;
  }
  QELLayer* colour_layer = QELUtil_LayerNew(state, 1, nullptr, nullptr, nullptr, width, height, r.colour, colour_size,
                                            static_cast<int32_t>(channels), bits, static_cast<int32_t>(colour_row), width,
                                            height, QEL_LAYOUT_INTERLEAVED, 0, photometry);
  if (!colour_layer) {
    __QELLayersFree(alpha_layer);
    return nullptr;
  }
  r.colour = nullptr;
  return make_image(state, width, height, xres, yres, colour_layer, alpha_layer);
}

// The first chunk that claims more bytes than the data holds after it, or null. libpng allocates
// what a chunk's length claims (and only warns when that is more than a limit) before reading
// it, so a few bytes could ask for gigabytes.
const unsigned char* overlong_chunk(const unsigned char* data, uint64_t size, uint64_t* claimed, uint64_t* left) {
  for (uint64_t at = 8; at + 12 <= size;) {
    const uint64_t length = uint64_t{data[at]} << 24 | uint64_t{data[at + 1]} << 16 | uint64_t{data[at + 2]} << 8 | data[at + 3];
    if (length > size - at - 12) {
      *claimed = length;
      *left = size - at - 12;
      return data + at + 4;
    }
    if (std::memcmp(data + at + 4, "IEND", 4) == 0) break;
    at += length + 12;
  }
  return nullptr;
}

}  // namespace

extern "C" QELImage* PNGQEL_BufUChar2QEL(BufUChar* buffer) {
  if (!buffer || !buffer->state) return nullptr;
  SState* state = buffer->state;
  if (buffer->length < 4 || png_sig_cmp(buffer->data, 0, 4) != 0) {
    SState_ErrPrintf(state, " NOT A PNG file.\n");
    err(state, __LINE__);
    return nullptr;
  }
  uint64_t claimed = 0, left = 0;
  if (const unsigned char* type = overlong_chunk(buffer->data, buffer->length, &claimed, &left)) {
    SState_ErrPrintf(state, "  PNG chunk %.4s claims %llu bytes, more than the %llu left.\n",
                     reinterpret_cast<const char*>(type), static_cast<unsigned long long>(claimed),
                     static_cast<unsigned long long>(left));
    err(state, __LINE__);
    return nullptr;
  }
  PngRead r;
  r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, state, png_failed, png_warned);
  r.info = r.png ? png_create_info_struct(r.png) : nullptr;
  if (!r.info) {
    r.release();
    err(state, __LINE__);
    return nullptr;
  }
  Cursor cursor{buffer, 0};
  if (setjmp(png_jmpbuf(r.png))) {
    r.release();
    SState_ErrPrintf(state, "  Caught a PNG ERROR.\n");
    err(state, __LINE__);
    return nullptr;
  }
  QELImage* image = read_png(state, r, cursor);
  r.release();
  return image;
}
