// The script that brings a fax page to the size its profile asked for (tfx_adjust.h). Fax codings
// are decoded and coded again by libtiff over a file in memory, JPEG by libjpeg; the scaling is
// area averaging.

#include "tfx_adjust.h"

#include <tiffio.h>

#include <cstdio>  // before jpeglib.h, which needs FILE
#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdarg>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "kvng_hdr.h"
#include "qelinterp.h"

namespace {

constexpr char kScript[] = "docio/tifffxFmtAdj.elf";

int fail(elf_state* state, int code, const char* format, ...) __attribute__((format(printf, 3, 4)));
int fail(elf_state* state, int code, const char* format, ...) {
  char text[200];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  return setStatus(state, code, QEL_SEVERITY_ERROR, "%s: %s\n", kScript, text);
}

// ---- A TIFF file in memory, for libtiff's fax coders ----

struct MemFile {
  std::vector<uint8_t> bytes;
  uint64_t pos = 0;
};

MemFile* mem(thandle_t h) { return static_cast<MemFile*>(h); }

tmsize_t mem_read(thandle_t h, void* buffer, tmsize_t count) {
  MemFile* f = mem(h);
  if (count < 0 || f->pos >= f->bytes.size()) return 0;
  const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(count), f->bytes.size() - f->pos);
  std::memcpy(buffer, f->bytes.data() + f->pos, n);
  f->pos += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t mem_write(thandle_t h, void* buffer, tmsize_t count) {
  MemFile* f = mem(h);
  if (count < 0) return -1;
  const uint64_t end = f->pos + static_cast<uint64_t>(count);
  try {
    if (end > f->bytes.size()) f->bytes.resize(end);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  std::memcpy(f->bytes.data() + f->pos, buffer, static_cast<size_t>(count));
  f->pos = end;
  return count;
}

toff_t mem_seek(thandle_t h, toff_t offset, int whence) {
  MemFile* f = mem(h);
  const uint64_t base = whence == SEEK_CUR ? f->pos : whence == SEEK_END ? f->bytes.size() : 0;
  f->pos = base + offset;
  return f->pos;
}

toff_t mem_size(thandle_t h) { return mem(h)->bytes.size(); }
int mem_close(thandle_t) { return 0; }
int mem_map(thandle_t, void**, toff_t*) { return 0; }
void mem_unmap(thandle_t, void*, toff_t) {}
int quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct Tiff {
  TIFF* tif = nullptr;
  Tiff(MemFile& f, const char* mode) {
    f.pos = 0;
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    if (!opts) return;
    TIFFOpenOptionsSetErrorHandlerExtR(opts, quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, quiet, nullptr);
    tif = TIFFClientOpenExt("page", mode, &f, mem_read, mem_write, mem_seek, mem_close, mem_size, mem_map, mem_unmap,
                            opts);
    TIFFOpenOptionsFree(opts);
  }
  ~Tiff() {
    if (tif) TIFFClose(tif);
  }
  Tiff(const Tiff&) = delete;
  Tiff& operator=(const Tiff&) = delete;
};

bool fax_coding(int32_t compression) {
  return compression == QEL_COMPRESSION_G3 || compression == QEL_COMPRESSION_G3_2D ||
         compression == QEL_COMPRESSION_G4;
}

void describe_fax(TIFF* tif, uint32_t width, uint32_t height, int32_t compression, uint32_t rowsPerStrip) {
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, compression == QEL_COMPRESSION_G4 ? COMPRESSION_CCITTFAX4
                                                                              : COMPRESSION_CCITTFAX3);
  if (compression != QEL_COMPRESSION_G4) {
    TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, compression == QEL_COMPRESSION_G3_2D ? GROUP3OPT_2DENCODING : 0u);
  }
}

const elf_POINTER* pointer_of(elf_object* obj) {
  return elfIsType(obj, "POINTER") ? reinterpret_cast<const elf_POINTER*>(obj) : nullptr;
}

// ---- JPEG strips, each a stream of its own ----

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};
void jpeg_failed(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1); }
void jpeg_quiet(j_common_ptr, int) {}

// Decodes one stream of width x rows pixels of the given components into out (rows top
// first); false when it is not such a stream.
bool decode_jpeg(const uint8_t* data, size_t size, uint32_t width, uint32_t rows, int components, uint8_t* out) {
  jpeg_decompress_struct info{};
  JpegError error{};
  info.err = jpeg_std_error(&error.mgr);
  error.mgr.error_exit = jpeg_failed;
  error.mgr.emit_message = jpeg_quiet;
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&info, TRUE);
  const bool fits = info.image_width == width && info.image_height == rows && info.num_components == components &&
                    info.jpeg_color_space != JCS_CMYK && info.jpeg_color_space != JCS_YCCK;
  if (!fits) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  info.out_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_start_decompress(&info);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = out + static_cast<size_t>(info.output_scanline) * width * static_cast<size_t>(components);
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

// Codes width x height pixels of 1 or 3 components as one baseline stream into coded.
bool encode_jpeg(const uint8_t* samples, uint32_t width, uint32_t height, int components, std::vector<uint8_t>& coded) {
  jpeg_compress_struct info{};
  JpegError error{};
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  info.err = jpeg_std_error(&error.mgr);
  error.mgr.error_exit = jpeg_failed;
  if (setjmp(error.jump)) {
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = width;
  info.image_height = height;
  info.input_components = components;
  info.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 75, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<uint8_t*>(samples) + static_cast<size_t>(info.next_scanline) * width *
                                                       static_cast<size_t>(components);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  coded.assign(buffer, buffer + size);
  std::free(buffer);
  return true;
}

// ---- The page as samples ----

// Samples of a page, one byte each, rows top first: 1 (grey, 0 black) or 3 (red, green, blue).
struct Raster {
  uint32_t width = 0, height = 0;
  int32_t channels = 0;
  std::vector<uint8_t> samples;
};

// Unpacks 1-bit rows (1 black) into grey samples.
void unpack_bilevel(const uint8_t* rows, size_t stride, Raster& r) {
  for (uint32_t y = 0; y < r.height; ++y) {
    const uint8_t* row = rows + y * stride;
    uint8_t* out = r.samples.data() + static_cast<size_t>(y) * r.width;
    for (uint32_t x = 0; x < r.width; ++x) out[x] = (row[x >> 3] >> (7 - (x & 7)) & 1) ? 0 : 255;
  }
}

// The layer's data items joined, as one buffer.
std::vector<uint8_t> joined_items(const elf_QELLAYER* layer) {
  std::vector<uint8_t> all;
  for (const elf_POINTER* p = pointer_of(layer->data); p; p = pointer_of(p->next)) {
    if (p->data) all.insert(all.end(), static_cast<const uint8_t*>(p->data), static_cast<const uint8_t*>(p->data) + p->length);
  }
  return all;
}

// Decodes the page's fax strips (items of restart rows when their notes say so, else one
// strip) into 1-bit rows.
bool decode_fax(const elf_QELLAYER* layer, const elf_QELHDR* h, std::vector<uint8_t>& rows, size_t stride) {
  const auto width = static_cast<uint32_t>(h->width), height = static_cast<uint32_t>(h->height);
  uint32_t rowsPerStrip = height;
  const elf_POINTER* first = pointer_of(layer->data);
  int32_t noted = 0;
  if (first && first->next && first->description && std::sscanf(first->description, "restart;%d", &noted) == 1 &&
      noted >= 1 && static_cast<uint32_t>(noted) < height) {
    rowsPerStrip = static_cast<uint32_t>(noted);
  }
  MemFile file;
  {
    Tiff out(file, "w");
    if (!out.tif) return false;
    describe_fax(out.tif, width, height, h->compression, rowsPerStrip);
    if (rowsPerStrip == height) {
      std::vector<uint8_t> all = joined_items(layer);
      if (all.empty() || TIFFWriteRawStrip(out.tif, 0, all.data(), static_cast<tmsize_t>(all.size())) < 0) return false;
    } else {
      const uint32_t strips = (height + rowsPerStrip - 1) / rowsPerStrip;
      uint32_t s = 0;
      for (const elf_POINTER* p = first; p && s < strips; p = pointer_of(p->next), ++s) {
        if (!p->data || !p->length) return false;
        if (TIFFWriteRawStrip(out.tif, s, p->data, static_cast<tmsize_t>(p->length)) < 0) return false;
      }
      if (s != strips) return false;
    }
    if (!TIFFWriteDirectory(out.tif)) return false;
  }
  Tiff in(file, "r");
  if (!in.tif) return false;
  for (uint32_t y = 0; y < height; ++y) {
    if (TIFFReadScanline(in.tif, rows.data() + y * stride, y, 0) < 0) return false;
  }
  return true;
}

// The first layer as samples; false with a status set.
bool read_layer(elf_state* state, const elf_QELLAYER* layer, const elf_QELHDR* h, Raster& r, int* status) {
  const int32_t bits = h->bitsPerSample && h->bitsPerSampleCount > 0 ? h->bitsPerSample[0] : 0;
  const int32_t samples = h->samplesPerPixel;
  const bool bilevel = samples == 1 && bits == 1;
  if (!(bilevel || (bits == 8 && (samples == 1 || samples == 3)))) {
    *status = fail(state, QEL_STATUS_INVALID, "a page of %d samples of %d bits cannot be brought to the profile",
                   samples, bits);
    return false;
  }
  const bool jpeg = !bilevel && h->compression == QEL_COMPRESSION_JPEG;
  if (h->compression != QEL_COMPRESSION_NONE && !(bilevel && fax_coding(h->compression)) && !jpeg) {
    *status = fail(state, QEL_STATUS_INVALID, "a page coded as %d cannot be brought to the profile", h->compression);
    return false;
  }
  r.width = static_cast<uint32_t>(h->width);
  r.height = static_cast<uint32_t>(h->height);
  r.channels = bilevel ? 1 : samples;
  const size_t stride = bilevel ? (r.width + 7) / 8 : static_cast<size_t>(r.width) * static_cast<size_t>(samples);
  const int32_t declared = h->bytesPerRow && h->bytesPerRowCount > 0 ? h->bytesPerRow[0] : 0;
  r.samples.resize(static_cast<size_t>(r.width) * r.height * static_cast<size_t>(r.channels));
  if (jpeg) {
    // Strips of the restart rows the first item's note names, or one stream for the page.
    int32_t noted = 0;
    const elf_POINTER* first = pointer_of(layer->data);
    uint32_t rowsPerStrip = r.height;
    if (first && first->next && first->description && std::sscanf(first->description, "restart;%d", &noted) == 1 &&
        noted >= 1 && static_cast<uint32_t>(noted) < r.height) {
      rowsPerStrip = static_cast<uint32_t>(noted);
    }
    uint32_t row = 0;
    for (const elf_POINTER* p = first; p && row < r.height; p = pointer_of(p->next)) {
      const uint32_t rows = std::min(rowsPerStrip, r.height - row);
      if (!p->data || !decode_jpeg(static_cast<const uint8_t*>(p->data), p->length, r.width, rows, samples,
                                   r.samples.data() + static_cast<size_t>(row) * stride)) {
        break;
      }
      row += rows;
    }
    if (row != r.height) {
      *status = fail(state, QEL_STATUS_INVALID, "the page's JPEG data cannot be decoded");
      return false;
    }
    return true;
  }
  if (h->compression != QEL_COMPRESSION_NONE) {
    std::vector<uint8_t> rows(stride * r.height);
    if (!decode_fax(layer, h, rows, stride)) {
      *status = fail(state, QEL_STATUS_INVALID, "the page's coded data cannot be decoded");
      return false;
    }
    unpack_bilevel(rows.data(), stride, r);
    return true;
  }
  // Raw rows at the declared stride (the tight one when none is declared).
  const size_t rowBytes = declared >= static_cast<int32_t>(stride) ? static_cast<size_t>(declared) : stride;
  const std::vector<uint8_t> all = joined_items(layer);
  if (all.size() < rowBytes * (r.height - 1) + stride) {
    *status = fail(state, QEL_STATUS_INVALID, "the page holds %zu bytes, fewer than its rows", all.size());
    return false;
  }
  if (bilevel) {
    std::vector<uint8_t> tight(stride * r.height);
    for (uint32_t y = 0; y < r.height; ++y) std::memcpy(&tight[y * stride], &all[y * rowBytes], stride);
    unpack_bilevel(tight.data(), stride, r);
    // Photometric values other than the bilevel one take 0 as black.
    if (h->photometric != QEL_PHOTO_BILEVEL) {
      for (uint8_t& v : r.samples) v = static_cast<uint8_t>(255 - v);
    }
    return true;
  }
  for (uint32_t y = 0; y < r.height; ++y) std::memcpy(&r.samples[y * stride], &all[y * rowBytes], stride);
  // Grey of 118 takes 0 as white.
  if (samples == 1 && h->photometric == 118) {
    for (uint8_t& v : r.samples) v = static_cast<uint8_t>(255 - v);
  }
  return true;
}

// Each target index's source span [a, b) in source units, as (first index, weights).
struct Span {
  uint32_t first = 0;
  std::vector<double> weights;
};

std::vector<Span> spans(uint32_t to, double scale, uint32_t from) {
  std::vector<Span> out(to);
  for (uint32_t i = 0; i < to; ++i) {
    const double a = std::min<double>(i / scale, from), b = std::min<double>((i + 1) / scale, from);
    Span& s = out[i];
    if (b <= a) continue;  // beyond the source: white
    s.first = static_cast<uint32_t>(a);
    for (uint32_t j = s.first; j < from && j < b; ++j) {
      s.weights.push_back((std::min<double>(b, j + 1) - std::max<double>(a, j)) / (b - a));
    }
  }
  return out;
}

// Scales r by scale in both directions into width x height, white beyond the scaled page.
Raster resample(const Raster& r, double scale, uint32_t width, uint32_t height) {
  Raster out;
  out.width = width;
  out.height = height;
  out.channels = r.channels;
  out.samples.assign(static_cast<size_t>(width) * height * static_cast<size_t>(r.channels), 255);
  const std::vector<Span> xs = spans(width, scale, r.width), ys = spans(height, scale, r.height);
  const size_t ch = static_cast<size_t>(r.channels);
  std::vector<double> row(static_cast<size_t>(r.width) * ch);
  for (uint32_t y = 0; y < height; ++y) {
    const Span& sy = ys[y];
    if (sy.weights.empty()) continue;
    std::fill(row.begin(), row.end(), 0.0);
    for (size_t k = 0; k < sy.weights.size(); ++k) {
      const uint8_t* src = r.samples.data() + (sy.first + k) * row.size();
      for (size_t i = 0; i < row.size(); ++i) row[i] += sy.weights[k] * src[i];
    }
    uint8_t* dst = out.samples.data() + static_cast<size_t>(y) * width * ch;
    for (uint32_t x = 0; x < width; ++x) {
      const Span& sx = xs[x];
      if (sx.weights.empty()) continue;
      for (size_t c = 0; c < ch; ++c) {
        double v = 0;
        for (size_t k = 0; k < sx.weights.size(); ++k) v += sx.weights[k] * row[(sx.first + k) * ch + c];
        dst[x * ch + c] = static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 255.0)));
      }
    }
  }
  return out;
}

// ---- The new page ----

enum class Kind { bilevel, grey, colour };

Kind kind_of(int32_t outphoto, const Raster& r, bool bilevelIn) {
  const int32_t parts = outphoto ? KVngGetImageParts(outphoto) : 0;
  if (outphoto == QEL_PHOTO_BILEVEL) return Kind::bilevel;
  if (parts == 3) return Kind::colour;
  if (parts == 1) return bilevelIn ? Kind::bilevel : Kind::grey;
  return bilevelIn ? Kind::bilevel : r.channels == 3 ? Kind::colour : Kind::grey;
}

// Packs grey samples into 1-bit rows, darker than half black.
std::vector<uint8_t> pack_bilevel(const Raster& r, size_t stride) {
  std::vector<uint8_t> rows(stride * r.height, 0);
  const size_t ch = static_cast<size_t>(r.channels);
  for (uint32_t y = 0; y < r.height; ++y) {
    for (uint32_t x = 0; x < r.width; ++x) {
      const uint8_t* p = &r.samples[(static_cast<size_t>(y) * r.width + x) * ch];
      const unsigned grey = ch == 3 ? (299u * p[0] + 587u * p[1] + 114u * p[2]) / 1000u : p[0];
      if (grey < 128) rows[y * stride + (x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
  }
  return rows;
}

bool encode_fax(const std::vector<uint8_t>& rows, size_t stride, uint32_t width, uint32_t height,
                int32_t compression, std::vector<uint8_t>& coded) {
  MemFile file;
  {
    Tiff out(file, "w");
    if (!out.tif) return false;
    describe_fax(out.tif, width, height, compression, height);
    std::vector<uint8_t> copy(rows);  // libtiff may code in place
    if (TIFFWriteEncodedStrip(out.tif, 0, copy.data(), static_cast<tmsize_t>(stride * height)) < 0 ||
        !TIFFWriteDirectory(out.tif)) {
      return false;
    }
  }
  Tiff in(file, "r");
  if (!in.tif) return false;
  const tmsize_t size = TIFFRawStripSize(in.tif, 0);
  if (size <= 0) return false;
  coded.resize(static_cast<size_t>(size));
  return TIFFReadRawStrip(in.tif, 0, coded.data(), size) == size;
}

// A new image of one layer holding data (moved to the interpreter heap) in *image.
int make_image(elf_state* state, const std::vector<uint8_t>& data, uint32_t width, uint32_t height, int32_t samples,
               int32_t bits, int32_t photometric, int32_t compression, double xres, double yres, elf_object** image) {
  elf_object* layerObj = new_QELLAYER(state, nullptr, nullptr);
  elf_object* header = layerObj ? new_QELHDR(state, nullptr, nullptr) : nullptr;
  elf_object* made = header ? new_QELIMAGE(state, nullptr, nullptr) : nullptr;
  void* bytes = made ? elfMalloc(data.size()) : nullptr;
  elf_object* item = bytes ? elfNewPointer(state, bytes, data.size()) : nullptr;
  elf_QELHDR* h = qelHdr(header);
  if (h) {
    h->bitsPerSample = static_cast<int32_t*>(elfCalloc(1, sizeof(int32_t)));
    h->bytesPerRow = static_cast<int32_t*>(elfCalloc(1, sizeof(int32_t)));
  }
  if (!item || !h->bitsPerSample || !h->bytesPerRow) {
    if (!item) _elfFree(bytes);
    if (item) elfDiscard(item);
    if (made) elfDiscard(made);
    if (header) elfDiscard(header);
    if (layerObj) elfDiscard(layerObj);
    return fail(state, QEL_STATUS_FAILED, "no memory for the new page");
  }
  std::memcpy(bytes, data.data(), data.size());
  h->width = static_cast<int32_t>(width);
  h->height = static_cast<int32_t>(height);
  h->samplesPerPixel = samples;
  h->bitsPerSampleCount = h->bytesPerRowCount = 1;
  h->bitsPerSample[0] = bits;
  h->bytesPerRow[0] = static_cast<int32_t>((static_cast<int64_t>(width) * samples * bits + 7) / 8);
  h->photometric = photometric;
  h->compression = compression;
  h->interleave = 1;
  elf_QELLAYER* layer = qelLayer(layerObj);
  ELF_ASSIGN(state, &layer->description, header);
  ELF_ASSIGN(state, &layer->data, item);
  layer->kind = samples * bits == 1 ? QEL_KIND_BILEVEL : QEL_KIND_IMAGE;
  layer->xres = xres;
  layer->yres = yres;
  layer->width = width;
  layer->height = height;
  elf_QELIMAGE* im = qelImage(made);
  im->width = static_cast<int32_t>(width);
  im->height = static_cast<int32_t>(height);
  im->xres = xres;
  im->yres = yres;
  if (QELAppendLayer(made, "layer0", layerObj) != QEL_STATUS_OK) {
    elfDiscard(made);
    elfDiscard(layerObj);
    return fail(state, QEL_STATUS_FAILED, "no memory for the new page");
  }
  *image = made;
  return QEL_STATUS_OK;
}

int adjust(elf_state* state, elf_object* args, elf_object** result) {
  elf_object* inImg = nullptr;
  int32_t dw = 0, dh = 0, outphoto = 0;
  const char* outfile = nullptr;
  if (lstScanArgs(args, "inImg:QELIMAGE", LST_REQUIRED, &inImg, "dw:i", LST_REQUIRED, &dw, "dh:i", LST_REQUIRED, &dh,
                  "outphoto:i", LST_OPTIONAL, &outphoto, "outfile:s", LST_OPTIONAL, &outfile, LST_END) != 1) {
    return fail(state, QEL_STATUS_INVALID, "needs inImg, dw and dh");
  }
  const elf_QELLAYER* layer = qelLayer(QELGetLayer(inImg, 0));
  const elf_QELHDR* h = layer ? qelHdr(layer->description) : nullptr;
  if (!h || h->width < 1 || h->height < 1) return fail(state, QEL_STATUS_INVALID, "the page has no layer to adjust");
  if (dw < 1 || dh < 1 || dw > 0xFFFF || dh > 0xFFFF) {
    return fail(state, QEL_STATUS_INVALID, "a page of %d x %d pixels cannot be made", dw, dh);
  }
  Raster page;
  int status = QEL_STATUS_OK;
  if (!read_layer(state, layer, h, page, &status)) return status;
  const bool bilevelIn = h->samplesPerPixel == 1 && h->bitsPerSample[0] == 1;
  const double scale = static_cast<double>(dh) / h->height;
  Raster scaled = resample(page, scale, static_cast<uint32_t>(dw), static_cast<uint32_t>(dh));
  page = Raster();
  const Kind kind = kind_of(outphoto, scaled, bilevelIn);
  const double xres = layer->xres * scale, yres = layer->yres * scale;
  std::vector<uint8_t> data;
  elf_object* image = nullptr;
  if (kind == Kind::bilevel) {
    const size_t stride = (scaled.width + 7) / 8;
    data = pack_bilevel(scaled, stride);
    const int32_t compression = bilevelIn ? h->compression : QEL_COMPRESSION_NONE;
    if (compression != QEL_COMPRESSION_NONE) {
      std::vector<uint8_t> coded;
      if (!encode_fax(data, stride, scaled.width, scaled.height, compression, coded)) {
        return fail(state, QEL_STATUS_FAILED, "the adjusted page cannot be coded");
      }
      data.swap(coded);
    }
    status = make_image(state, data, scaled.width, scaled.height, 1, 1, QEL_PHOTO_BILEVEL, compression, xres, yres,
                        &image);
  } else {
    const int32_t samples = kind == Kind::colour ? 3 : 1;
    data.resize(static_cast<size_t>(scaled.width) * scaled.height * static_cast<size_t>(samples));
    for (size_t i = 0, n = static_cast<size_t>(scaled.width) * scaled.height; i < n; ++i) {
      for (int32_t c = 0; c < samples; ++c) {
        data[i * samples + c] = scaled.channels == samples ? scaled.samples[i * samples + c]
                                : samples == 3            ? scaled.samples[i]
                                                          : static_cast<uint8_t>((299u * scaled.samples[i * 3] +
                                                                                  587u * scaled.samples[i * 3 + 1] +
                                                                                  114u * scaled.samples[i * 3 + 2]) /
                                                                                 1000u);
      }
    }
    int32_t photometric = outphoto ? outphoto : h->photometric;
    if (photometric == 118 && samples == 1) {
      for (uint8_t& v : data) v = static_cast<uint8_t>(255 - v);
    }
    // JPEG pages stay JPEG (the colour profile takes no other coding); the rest stays raw.
    const int32_t compression = h->compression == QEL_COMPRESSION_JPEG ? QEL_COMPRESSION_JPEG : QEL_COMPRESSION_NONE;
    if (compression == QEL_COMPRESSION_JPEG) {
      std::vector<uint8_t> coded;
      if (!encode_jpeg(data.data(), scaled.width, scaled.height, samples, coded)) {
        return fail(state, QEL_STATUS_FAILED, "the adjusted page cannot be coded");
      }
      data.swap(coded);
    }
    status = make_image(state, data, scaled.width, scaled.height, samples, 8, photometric, compression, xres, yres,
                        &image);
  }
  if (status != QEL_STATUS_OK) return status;
  elf_object* list = lstBuildArgs(state, "outImg:QELIMAGE", image, 0, LST_END);
  if (!list) {
    elfDiscard(image);
    return fail(state, QEL_STATUS_FAILED, "no memory for the result");
  }
  if (result) {
    *result = list;
  } else {
    elfDiscard(list);
  }
  return QEL_STATUS_OK;
}

}  // namespace

extern "C" int TFXFormatAdjust(void* target, elf_object* args, elf_object** result) {
  if (result) *result = nullptr;
  auto* state = static_cast<elf_state*>(target);
  if (!args) return fail(state, QEL_STATUS_INVALID, "needs inImg, dw and dh");
  try {
    return adjust(state, args, result);
  } catch (const std::bad_alloc&) {
    return fail(state, QEL_STATUS_FAILED, "no memory to adjust the page");
  }
}
