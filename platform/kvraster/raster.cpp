// Pages between page-image layers and the plain forms the format readers and writers share.

#include "raster.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace kvraster {

namespace {

constexpr int32_t photo_bilevel = QEL_PHOTO_BILEVEL;
constexpr int32_t photo_min_is_white = 118;
constexpr int32_t photo_palette = 11;
constexpr int32_t photo_grey = 22;
constexpr int32_t photo_rgb = 111;
constexpr int32_t default_resolution = 300;

bool is_picture_kind(int32_t kind) {
  return kind != QEL_KIND_MASK && kind != QEL_KIND_RECTANGLE && kind != QEL_KIND_JBIG2_DICT && kind != QEL_KIND_TEXT;
}

// The first layer that holds a picture with a description.
const elf_QELLAYER* picture_layer(elf_object* image) {
  const elf_QELIMAGE* im = qelImage(image);
  const int32_t n = im ? elflistLength(im->layers) : 0;
  for (int32_t i = 0; i < n; ++i) {
    const elf_QELLAYER* l = qelLayer(QELGetLayer(image, i));
    if (l && is_picture_kind(l->kind) && qelHdr(l->description)) return l;
  }
  return nullptr;
}

}  // namespace

int fail(elf_state* state, const char* format, ...) {
  char text[ELF_MESSAGE_MAX];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s", text);
}

bool Raster::allocate(int32_t w, int32_t h, Form f) {
  if (w < 1 || h < 1 || int64_t{w} * h > max_pixels) return false;
  form = f;
  width = w;
  height = h;
  pixels.assign(row_bytes() * static_cast<size_t>(h), 0);
  return true;
}

bool raster_of(elf_state* state, elf_object* image, const char* who, Raster* out) {
  const elf_QELLAYER* l = picture_layer(image);
  if (!l) return fail(state, "%s: the image has no picture layer\n", who), false;
  const elf_QELHDR* h = qelHdr(l->description);
  if (h->compression != QEL_COMPRESSION_NONE) {
    return fail(state, "%s: the layer is compressed (code %d); only raw layers are written\n", who, h->compression),
           false;
  }
  const auto* data = elfIsType(l->data, "POINTER") ? reinterpret_cast<const elf_POINTER*>(l->data) : nullptr;
  // Strips chained behind the first are joined so that the rows read as one run.
  std::vector<uint8_t> joined;
  elf_POINTER whole{};
  if (data && data->next) {
    for (elf_object* p = l->data; p; p = reinterpret_cast<elf_POINTER*>(p)->next) {
      const auto* strip = elfIsType(p, "POINTER") ? reinterpret_cast<const elf_POINTER*>(p) : nullptr;
      if (!strip || (strip->length && !strip->data)) return fail(state, "%s: the layer's strips are broken\n", who), false;
      const auto* bytes = static_cast<const uint8_t*>(strip->data);
      joined.insert(joined.end(), bytes, bytes + strip->length);
    }
    whole.data = joined.data();
    whole.length = joined.size();
    data = &whole;
  }
  const int32_t samples = h->samplesPerPixel;
  const int32_t bits = h->bitsPerSample && h->bitsPerSampleCount > 0 ? h->bitsPerSample[0] : 0;
  const int32_t bpr = h->bytesPerRow && h->bytesPerRowCount > 0 ? h->bytesPerRow[0] : 0;
  if (!data || !data->data) return fail(state, "%s: the layer has no data\n", who), false;
  if (h->photometric == photo_palette) {
    return fail(state, "%s: a palette layer must be unmapped before it is written\n", who), false;
  }
  if (samples != 1 && samples != 3) {
    return fail(state, "%s: layers of %d samples (photometric %d) are not written\n", who, samples, h->photometric),
           false;
  }
  if (!(bits == 1 && samples == 1) && bits != 2 && bits != 4 && bits != 8 && bits != 16) {
    return fail(state, "%s: %d bits per sample are not written\n", who, bits), false;
  }
  const bool planar = h->interleave == 2 && samples > 1;
  const int64_t plane_bits = int64_t{h->width} * bits * (planar ? 1 : samples);
  if (h->width < 1 || h->height < 1 || bpr < 1 || plane_bits > int64_t{bpr} * 8) {
    return fail(state, "%s: a layer of %dx%d with %d bytes per row is not whole\n", who, h->width, h->height, bpr),
           false;
  }
  const size_t stride = static_cast<size_t>(bpr) * (planar ? samples : 1);
  if (data->length / stride < static_cast<size_t>(h->height)) {
    return fail(state, "%s: the layer's data is shorter than its rows\n", who), false;
  }
  const Form form = samples == 3 ? Form::Rgb : bits == 1 ? Form::Bilevel : Form::Grey;
  if (!out->allocate(h->width, h->height, form)) {
    return fail(state, "%s: a page of %dx%d is too large\n", who, h->width, h->height), false;
  }
  out->xres = l->xres;
  out->yres = l->yres;
  const auto* bytes = static_cast<const uint8_t*>(data->data);
  const bool white_is_zero = h->photometric == photo_min_is_white;
  const size_t row_out = out->row_bytes();
  for (int32_t y = 0; y < h->height; ++y) {
    const uint8_t* src = bytes + stride * static_cast<size_t>(y);
    uint8_t* dst = out->row(y);
    if (form == Form::Bilevel) {
      const bool black_is_one = h->photometric == photo_bilevel;
      for (size_t i = 0; i < row_out; ++i) dst[i] = black_is_one ? src[i] : static_cast<uint8_t>(~src[i]);
      continue;
    }
    for (int32_t x = 0; x < h->width; ++x) {
      for (int32_t c = 0; c < samples; ++c) {
        const uint8_t* plane = planar ? src + static_cast<size_t>(bpr) * c : src;
        const int64_t index = planar ? x : int64_t{x} * samples + c;
        uint32_t v;
        if (bits == 16) {
          v = plane[index * 2];
        } else if (bits == 8) {
          v = plane[index];
        } else {
          const int64_t bit = index * bits;
          const uint32_t raw = (plane[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
          v = raw * 255 / ((1u << bits) - 1);
        }
        if (white_is_zero && samples == 1) v = 255 - v;
        dst[static_cast<size_t>(x) * samples + c] = static_cast<uint8_t>(v);
      }
    }
  }
  return true;
}

void to_eight_bit(Raster* r) {
  if (r->form != Form::Bilevel) return;
  std::vector<uint8_t> grey(static_cast<size_t>(r->width) * r->height);
  for (int32_t y = 0; y < r->height; ++y) {
    const uint8_t* src = r->row(y);
    uint8_t* dst = grey.data() + static_cast<size_t>(r->width) * y;
    for (int32_t x = 0; x < r->width; ++x) dst[x] = (src[x >> 3] >> (7 - (x & 7)) & 1) ? 0 : 255;
  }
  r->form = Form::Grey;
  r->pixels.swap(grey);
}

elf_object* image_of(elf_state* state, const Raster& r, const char* who) {
  const size_t length = r.pixels.size();
  void* bytes = elfMalloc(length);
  elf_object* image = bytes ? new_QELIMAGE(state, nullptr, nullptr) : nullptr;
  elf_object* layer = image ? new_QELLAYER(state, nullptr, nullptr) : nullptr;
  elf_object* desc = layer ? new_QELHDR(state, nullptr, nullptr) : nullptr;
  elf_object* data = desc ? elfNewPointer(state, bytes, length) : nullptr;
  int32_t* bits = data ? static_cast<int32_t*>(elfCalloc(1, sizeof(int32_t))) : nullptr;
  int32_t* bpr = bits ? static_cast<int32_t*>(elfCalloc(1, sizeof(int32_t))) : nullptr;
  if (!bpr) {
    _elfFree(bits);
    if (data) {
      elfDiscard(data);
    } else {
      _elfFree(bytes);
    }
    elfDiscard(desc);
    elfDiscard(layer);
    elfDiscard(image);
    fail(state, "%s: no memory for the page image\n", who);
    return nullptr;
  }
  std::memcpy(bytes, r.pixels.data(), length);
  elf_QELHDR* h = qelHdr(desc);
  h->width = r.width;
  h->height = r.height;
  h->samplesPerPixel = r.channels();
  h->bitsPerSampleCount = 1;
  h->bitsPerSample = bits;
  bits[0] = r.form == Form::Bilevel ? 1 : 8;
  h->bytesPerRowCount = 1;
  h->bytesPerRow = bpr;
  bpr[0] = static_cast<int32_t>(r.row_bytes());
  h->photometric = r.form == Form::Bilevel ? photo_bilevel : r.form == Form::Grey ? photo_grey : photo_rgb;
  h->compression = QEL_COMPRESSION_NONE;
  h->interleave = 1;
  elf_QELLAYER* l = qelLayer(layer);
  ELF_ASSIGN(state, &l->description, desc);
  ELF_ASSIGN(state, &l->data, data);
  l->kind = r.form == Form::Bilevel ? QEL_KIND_BILEVEL : QEL_KIND_IMAGE;
  l->xres = r.xres > 0 ? r.xres : r.yres > 0 ? r.yres : default_resolution;
  l->yres = r.yres > 0 ? r.yres : l->xres;
  l->width = r.width;
  l->height = r.height;
  elf_QELIMAGE* im = qelImage(image);
  im->width = r.width;
  im->height = r.height;
  im->xres = l->xres;
  im->yres = l->yres;
  if (QELAppendLayer(image, "layer0", layer) != QEL_STATUS_OK) {
    elfDiscard(layer);
    elfDiscard(image);
    fail(state, "%s: no memory for the page image\n", who);
    return nullptr;
  }
  return image;
}

OutFile::OutFile(elf_state* state, const char* who, const char* filename) : state_(state), who_(who) {
  if (SafeOut_Open(&out_, filename) != 0) fail(state, "%s: %s\n", who, out_.message);
}

OutFile::~OutFile() {
  if (stream_) std::fclose(stream_);
  SafeOut_Abort(&out_);
}

std::FILE* OutFile::stream() {
  if (!stream_ && out_.temp) stream_ = std::fopen(out_.temp, "wb");
  return stream_;
}

bool OutFile::finish() {
  if (stream_) {
    int e = std::fflush(stream_) != 0 ? errno : std::ferror(stream_) ? EIO : 0;
    if (std::fclose(stream_) != 0 && e == 0) e = errno;
    stream_ = nullptr;
    if (e != 0) {
      fail(state_, "%s: cannot write %s: %s\n", who_, out_.target, std::strerror(e));
      SafeOut_Abort(&out_);
      return false;
    }
  }
  if (SafeOut_Commit(&out_) != 0) return fail(state_, "%s: %s\n", who_, out_.message), false;
  return true;
}

}  // namespace kvraster
