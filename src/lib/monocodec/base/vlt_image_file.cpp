// Engine images read from and written to PNM-family files and raw pixel files.
//
// Multi-byte samples are read into the image rows as the file has them and then put in host
// order sample by sample (a byte reversal when the file's order is not the host's), so a file
// means the same on the big-endian device and on a little-endian host. Writers do the reverse
// through a small stack buffer, so writing never allocates.

#include "vlt_image_file.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "byteorder.h"
#include "checked_size.h"
#include "vlt_state.h"

namespace {

constexpr int kMaxTokenDigits = 32;
constexpr int32_t kMaxSample = 65535;  // the largest maxval of the PNM formats
constexpr size_t kChunk = 4080;        // a multiple of every sample size (1, 2, 3, 4, 8, 12)

const VltErrState* reporter(const VltState* state) { return state != nullptr ? state->errState : nullptr; }

bool is_space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool is_digit(int c) { return c >= '0' && c <= '9'; }

// Skips whitespace and comments; comment text (after the "#", newline included) goes into the
// buffer while it has room. Returns the first other character, or EOF.
int skip_blank(FILE* f, char* buffer, int32_t* length) {
  for (;;) {
    int c = std::getc(f);
    if (c == '#') {
      while ((c = std::getc(f)) != EOF) {
        if (buffer != nullptr && length != nullptr && *length < VLT_IMAGE_COMMENT_CAPACITY - 1)
          buffer[(*length)++] = static_cast<char>(c);
        if (c == '\n') break;
      }
      continue;
    }
    if (c == EOF || !is_space(c)) return c;
  }
}

// Bytes between the stream's position and its end, or -1 when the stream cannot tell.
int64_t bytes_left(FILE* f) {
  const long pos = std::ftell(f);
  if (pos < 0 || std::fseek(f, 0, SEEK_END) != 0) return -1;
  const long end = std::ftell(f);
  if (std::fseek(f, pos, SEEK_SET) != 0 || end < pos) return -1;
  return static_cast<int64_t>(end) - pos;
}

// False when the stream is known to hold fewer than count x unit bytes: a header may not make
// the reader allocate an image the file cannot fill.
bool can_hold(FILE* f, uint64_t count, uint64_t unit) {
  const int64_t left = bytes_left(f);
  if (left < 0) return true;
  uint64_t needed = 0;
  return mono::checked_mul(count, unit, &needed) && needed <= static_cast<uint64_t>(left);
}

bool read_exact(FILE* f, void* to, size_t n) { return n == 0 || std::fread(to, 1, n, f) == n; }
bool write_exact(FILE* f, const void* from, size_t n) { return n == 0 || std::fwrite(from, 1, n, f) == n; }

// Samples in the file are most significant byte first unless the flag says otherwise.
bool file_order_differs(uint32_t flags) {
  const bool fileBigEndian = (flags & VLT_RAW_REVERSE_BYTES) == 0;
  return fileBigEndian != mono::kHostBigEndian;
}

void reverse_samples(uint8_t* bytes, size_t n, size_t sampleSize) {
  if (sampleSize < 2) return;
  for (size_t i = 0; i + sampleSize <= n; i += sampleSize) std::reverse(bytes + i, bytes + i + sampleSize);
}

size_t packed_row_bytes(int32_t width) { return (static_cast<size_t>(width) + 7) / 8; }

// The bytes of one sample of an unpacked tag (RGB and RGB float count their components).
size_t sample_size(uint16_t tag) {
  switch (tag) {
    case VLT_IMAGE_SHORT: return 2;
    case VLT_IMAGE_FLOAT: case VLT_IMAGE_LONG: case VLT_IMAGE_RGBFLOAT: return 4;
    case VLT_IMAGE_DOUBLE: return 8;
    default: return 1;
  }
}

bool fits(const VltImage* im, uint16_t tag, int32_t width, int32_t height) {
  return im != nullptr && im->hdr.type == tag && im->hdr.width == width && im->hdr.height == height &&
         width >= 0 && height >= 0 && (im->rows != nullptr || width == 0 || height == 0);
}

bool empty(const VltImage* im) { return im->hdr.width == 0 || im->hdr.height == 0 || im->rows == nullptr; }

// Rows of width samples of an unpacked tag, put in host order.
int read_rows(VltImage* im, uint16_t tag, int32_t width, int32_t height, FILE* f, uint32_t flags) {
  if (!fits(im, tag, width, height)) return 0;
  if (empty(im)) return 1;
  const size_t rowBytes = static_cast<size_t>(width) * static_cast<size_t>(VltImage_bytesPerPixel(tag));
  const bool reverse = file_order_differs(flags);
  for (int32_t y = 0; y < height; ++y) {
    if (!read_exact(f, im->rows[y], rowBytes)) return 0;
    if (reverse) reverse_samples(im->rows[y], rowBytes, sample_size(tag));
  }
  return 1;
}

// Chunked writes through a stack buffer.
class Writer {
 public:
  explicit Writer(FILE* f) : f_(f) {}
  uint8_t* space(size_t n) {
    if (used_ + n > kChunk) flush();
    uint8_t* at = buffer_ + used_;
    used_ += n;
    return at;
  }
  bool flush() {
    if (used_ != 0 && !write_exact(f_, buffer_, used_)) ok_ = false;
    used_ = 0;
    return ok_;
  }
  bool ok() const { return ok_; }

 private:
  FILE* f_;
  uint8_t buffer_[kChunk];
  size_t used_ = 0;
  bool ok_ = true;
};

int write_rows(const VltImage* im, uint16_t tag, FILE* f, uint32_t flags) {
  if (im == nullptr || im->hdr.type != tag) return 0;
  if (empty(im)) return 1;
  const size_t size = sample_size(tag);
  const size_t rowBytes = static_cast<size_t>(im->hdr.width) * static_cast<size_t>(VltImage_bytesPerPixel(tag));
  const bool reverse = file_order_differs(flags);
  if (!reverse) {
    for (int32_t y = 0; y < im->hdr.height; ++y)
      if (!write_exact(f, im->rows[y], rowBytes)) return 0;
    return 1;
  }
  Writer out(f);
  for (int32_t y = 0; y < im->hdr.height; ++y) {
    for (size_t i = 0; i < rowBytes; i += size) {
      uint8_t* at = out.space(size);
      std::memcpy(at, im->rows[y] + i, size);
      std::reverse(at, at + size);
    }
  }
  return out.flush() ? 1 : 0;
}

// ---- Readers

// One reader's view of the file with the comment it collects.
struct Reader {
  VltState* state;
  FILE* f;
  bool collect;
  bool failed = false;
  int32_t length = 0;
  char comment[VLT_IMAGE_COMMENT_CAPACITY];

  Reader(VltState* s, FILE* file, bool keepComments) : state(s), f(file), collect(keepComments) {}
  int32_t token() {
    int error = 0;
    const int32_t v = VltImage_pbmGetToken(f, &error, collect ? comment : nullptr, &length, state);
    failed = failed || error != 0;
    return v;
  }
  int32_t pixel() {
    int error = 0;
    const int32_t v = VltImage_pbmGetPBMToken(f, &error, collect ? comment : nullptr, &length, state);
    failed = failed || error != 0;
    return v;
  }
};

struct Dims {
  int32_t width = 0, height = 0, maxval = 255;
};

bool read_dims(Reader& r, bool withMaxval, Dims* d) {
  d->width = r.token();
  d->height = r.token();
  if (withMaxval) d->maxval = r.token();
  return !r.failed && (!withMaxval || (d->maxval >= 1 && d->maxval <= kMaxSample));
}

uint8_t scaled(uint32_t v, int32_t maxval) {
  return static_cast<uint8_t>(maxval == 255 ? v : v * 255u / static_cast<uint32_t>(maxval));
}

// A new image for a body of count x unit bytes, or null (reported by the creation) when the
// file cannot hold that body.
VltImage* new_image(Reader& r, uint16_t tag, const Dims& d, uint64_t count, uint64_t unit) {
  if (!can_hold(r.f, count, unit)) return nullptr;
  VltImage* im = nullptr;
  return VltImage_new(r.state, tag, d.width, d.height, &im) == VLT_OK ? im : nullptr;
}

VltImage* finish(Reader& r, VltImage* im, bool ok, VltImageHeader** header) {
  if (im != nullptr && ok && r.length > 0) {
    r.comment[r.length] = '\0';
    ok = VltImage_setComment(im, r.comment) == VLT_OK;
  }
  if (im != nullptr && !ok) {
    VltImage_free(im);
    im = nullptr;
  }
  if (header != nullptr) *header = im != nullptr ? &im->hdr : nullptr;
  return im;
}

uint64_t area(const Dims& d) { return static_cast<uint64_t>(d.width) * static_cast<uint64_t>(d.height); }

// Plain forms: every value one token.
template <class Store>
bool cooked_body(Reader& r, VltImage* im, int32_t perPixel, Store store) {
  if (empty(im)) return true;
  for (int32_t y = 0; y < im->hdr.height; ++y)
    for (int32_t x = 0; x < im->hdr.width * perPixel; ++x)
      if (!store(im->rows[y] + x) || r.failed) return false;
  return true;
}

VltImage* read_cooked_grey(VltState* state, FILE* file, VltImageHeader** header, uint16_t tag, int32_t perPixel) {
  Reader r(state, file, true);
  Dims d;
  VltImage* im = nullptr;
  bool ok = read_dims(r, true, &d);
  if (ok) im = new_image(r, tag | VLT_IMAGE_UNINIT, d, area(d) * static_cast<uint64_t>(perPixel), 1);
  ok = ok && im != nullptr && cooked_body(r, im, perPixel, [&](uint8_t* at) {
         const int32_t v = r.token();
         *at = scaled(static_cast<uint32_t>(v), d.maxval);
         return v <= d.maxval;
       });
  return finish(r, im, ok, header);
}

// Raw grey and colour bodies: bytes, or 16-bit samples most significant byte first.
bool raw_grey_body(Reader& r, VltImage* im, int32_t maxval, int32_t perPixel) {
  if (empty(im)) return true;
  const size_t samples = static_cast<size_t>(im->hdr.width) * static_cast<size_t>(perPixel);
  for (int32_t y = 0; y < im->hdr.height; ++y) {
    uint8_t* row = im->rows[y];
    if (maxval <= 255) {
      if (!read_exact(r.f, row, samples)) return false;
      for (size_t i = 0; i < samples; ++i) {
        if (row[i] > maxval) return false;
        row[i] = scaled(row[i], maxval);
      }
      continue;
    }
    uint8_t chunk[kChunk];
    for (size_t done = 0; done < samples;) {
      const size_t n = std::min(samples - done, kChunk / 2);
      if (!read_exact(r.f, chunk, 2 * n)) return false;
      for (size_t i = 0; i < n; ++i) {
        const uint32_t v = mono::load_be16(chunk + 2 * i);
        if (v > static_cast<uint32_t>(maxval)) return false;
        row[done + i] = scaled(v, maxval);
      }
      done += n;
    }
  }
  return true;
}

VltImage* read_raw_grey(VltState* state, FILE* file, VltImageHeader** header, uint16_t tag, int32_t perPixel) {
  Reader r(state, file, true);
  Dims d;
  VltImage* im = nullptr;
  bool ok = read_dims(r, true, &d);
  const uint64_t unit = static_cast<uint64_t>(perPixel) * (d.maxval > 255 ? 2 : 1);
  if (ok) im = new_image(r, tag | VLT_IMAGE_UNINIT, d, area(d), unit);
  ok = ok && im != nullptr && raw_grey_body(r, im, d.maxval, perPixel);
  return finish(r, im, ok, header);
}

VltImage* read_q(VltState* state, FILE* file, VltImageHeader** header, uint16_t tag) {
  Reader r(state, file, true);
  Dims d;
  VltImage* im = nullptr;
  bool ok = read_dims(r, false, &d);
  if (ok) im = new_image(r, tag | VLT_IMAGE_UNINIT, d, area(d), static_cast<uint64_t>(VltImage_bytesPerPixel(tag)));
  ok = ok && im != nullptr && read_rows(im, tag, d.width, d.height, file, 0) == 1;
  return finish(r, im, ok, header);
}

// ---- Packed images straight from PBM

VltStatus load_packed(VltState* state, const char* magic, FILE* f, VltImage** image) {
  const bool raw = std::strcmp(magic, "P4") == 0;
  if (!raw && std::strcmp(magic, "P1") != 0)
    return Vlt_reportErrMsg(reporter(state), VLT_ERR_FILE_NOT_FOUND, "not a PBM file: %s", magic);
  Reader r(state, f, false);
  Dims d;
  VltImage* im = nullptr;
  bool ok = read_dims(r, false, &d);
  if (ok) {
    const uint64_t rows = static_cast<uint64_t>(d.height);
    im = raw ? new_image(r, VLT_IMAGE_PACKED | VLT_IMAGE_UNINIT, d, rows, packed_row_bytes(d.width))
             : new_image(r, VLT_IMAGE_PACKED, d, area(d), 1);
  }
  if (im != nullptr && ok) {
    if (raw) {
      ok = VltImage_readPackedRaw(im, d.width, d.height, f, 0) == 1;
    } else {
      for (int32_t y = 0; ok && y < d.height; ++y)
        for (int32_t x = 0; ok && x < d.width; ++x) {
          const int32_t v = r.pixel();
          ok = !r.failed;
          if (ok && v != 0) VltImage_setPackedPixel(im, x, y, 1);
        }
    }
  }
  if (im == nullptr || !ok) {
    VltImage_free(im);
    return Vlt_reportErrMsg(reporter(state), VLT_ERR_FILE_NOT_FOUND, "malformed or short %s file", magic);
  }
  *image = im;
  return VLT_OK;
}

// ---- Writing

const char* magic_of(uint16_t tag) {
  switch (tag) {
    case VLT_IMAGE_GRAY: return "P5";
    case VLT_IMAGE_FLOAT: return "Q1";
    case VLT_IMAGE_RGB: return "P6";
    case VLT_IMAGE_DOUBLE: return "Q2";
    case VLT_IMAGE_BINARY: case VLT_IMAGE_PACKED: return "P4";
    case VLT_IMAGE_LONG: return "Q3";
    case VLT_IMAGE_SHORT: return "Q4";
    case VLT_IMAGE_RGBFLOAT: return "Q5";
    default: return nullptr;
  }
}

// The comment as "#" lines: split at newlines; a line of more than 69 characters is cut at its
// last whitespace within the first 70 (which is dropped), else after 69 characters.
bool write_comment(FILE* f, const char* text) {
  constexpr size_t kLine = 69;
  for (const char* p = text; *p != '\0';) {
    const char* nl = std::strchr(p, '\n');
    size_t rest = nl != nullptr ? static_cast<size_t>(nl - p) : std::strlen(p);
    const char* line = p;
    p += rest + (nl != nullptr ? 1 : 0);
    do {
      size_t take = rest, skip = 0;
      if (rest > kLine) {
        take = kLine;
        for (size_t i = 0; i <= kLine; ++i)
          if (is_space(static_cast<unsigned char>(line[i]))) {
            take = i;
            skip = 1;
          }
      }
      if (std::fprintf(f, "#%.*s\n", static_cast<int>(take), line) < 0) return false;
      line += take + skip;
      rest -= take + skip;
    } while (rest > 0);
  }
  return true;
}

bool write_header(const VltImage* im, FILE* f, bool pixelsFollow) {
  const VltImageHeader& h = im->hdr;
  if (h.type == VLT_IMAGE_PACKED) return std::fprintf(f, "%s\n%d %d\n", "P4", h.width, h.height) >= 0;
  if (std::fprintf(f, "%s\n", magic_of(h.type)) < 0) return false;
  if (h.comment != nullptr && !write_comment(f, h.comment)) return false;
  const bool grey = h.type == VLT_IMAGE_GRAY || h.type == VLT_IMAGE_RGB;
  if (!grey) return std::fprintf(f, "%d %d\n", h.width, h.height) >= 0;
  return std::fprintf(f, pixelsFollow ? "%d %d\n%d\n" : "%d %d %d\n", h.width, h.height, 255) >= 0;
}

int write_pixels(const VltImage* im, FILE* f, uint32_t flags) {
  switch (im->hdr.type) {
    case VLT_IMAGE_GRAY: return VltImage_saveGrayRaw(im, f, flags);
    case VLT_IMAGE_FLOAT: return VltImage_saveFloatRaw(im, f, flags);
    case VLT_IMAGE_RGB: return VltImage_saveRGBRaw(im, f, flags);
    case VLT_IMAGE_DOUBLE: return VltImage_saveDoubleRaw(im, f, flags);
    case VLT_IMAGE_BINARY: return VltImage_saveBinaryRaw(im, f, flags);
    case VLT_IMAGE_LONG: return VltImage_saveLongRaw(im, f, flags);
    case VLT_IMAGE_SHORT: return VltImage_saveShortRaw(im, f, flags);
    case VLT_IMAGE_RGBFLOAT: return VltImage_saveRGBFloatRaw(im, f, flags);
    case VLT_IMAGE_PACKED: return VltImage_savePackedRaw(im, f, flags);
    default: return 0;
  }
}

bool has_raw_form(uint32_t tag) {
  return tag != VLT_IMAGE_WORD && tag <= 0xFFFF && VltImage_validType(static_cast<uint16_t>(tag));
}

VltStatus invalid_type(const VltState* state) {
  Vlt_reportErrMsg(reporter(state), 0, "Invalid image type");
  return VLT_ERR_INTERNAL;
}

}  // namespace

const VltImageFileFormat fileReaders[11] = {
    {"P1", VLT_IMAGE_BINARY, readBinaryCooked}, {"P2", VLT_IMAGE_GRAY, readGrayCooked},
    {"P3", VLT_IMAGE_RGB, readRGBCooked},       {"P4", VLT_IMAGE_BINARY, readBinary},
    {"P5", VLT_IMAGE_GRAY, readGray},           {"P6", VLT_IMAGE_RGB, readRGB},
    {"Q1", VLT_IMAGE_FLOAT, readFloat},         {"Q2", VLT_IMAGE_DOUBLE, readDouble},
    {"Q3", VLT_IMAGE_LONG, readLong},           {"Q4", VLT_IMAGE_SHORT, readShort},
    {"Q5", VLT_IMAGE_RGBFLOAT, readRGBFloat},
};

int32_t VltImage_pbmGetToken(FILE* file, int* error, char* commentBuffer, int32_t* commentLength,
                             VltState* state) {
  static_cast<void>(state);
  if (error == nullptr) return VLT_ERR_ASSERT;
  *error = 1;
  if (file == nullptr) return 0;
  int c = skip_blank(file, commentBuffer, commentLength);
  int64_t value = 0;
  int digits = 0;
  for (; is_digit(c); c = std::getc(file)) {
    value = value * 10 + (c - '0');
    if (++digits > kMaxTokenDigits || value > INT32_MAX) return 0;
  }
  if (digits == 0 || (c != EOF && !is_space(c)) || (c == EOF && std::ferror(file))) return 0;
  *error = 0;
  return static_cast<int32_t>(value);
}

int32_t VltImage_pbmGetPBMToken(FILE* file, int* error, char* commentBuffer, int32_t* commentLength,
                                VltState* state) {
  static_cast<void>(state);
  if (error == nullptr) return VLT_ERR_ASSERT;
  *error = 1;
  if (file == nullptr) return 0;
  const int c = skip_blank(file, commentBuffer, commentLength);
  if (c != '0' && c != '1') return 0;
  *error = 0;
  return c - '0';
}

VltImage* readBinaryCooked(VltState* state, FILE* file, VltImageHeader** header) {
  Reader r(state, file, true);
  Dims d;
  VltImage* im = nullptr;
  bool ok = read_dims(r, false, &d);
  if (ok) im = new_image(r, VLT_IMAGE_BINARY | VLT_IMAGE_UNINIT, d, area(d), 1);
  ok = ok && im != nullptr && cooked_body(r, im, 1, [&](uint8_t* at) {
         *at = static_cast<uint8_t>(r.pixel());
         return true;
       });
  return finish(r, im, ok, header);
}

VltImage* readGrayCooked(VltState* state, FILE* file, VltImageHeader** header) {
  return read_cooked_grey(state, file, header, VLT_IMAGE_GRAY, 1);
}

VltImage* readRGBCooked(VltState* state, FILE* file, VltImageHeader** header) {
  return read_cooked_grey(state, file, header, VLT_IMAGE_RGB, 3);
}

VltImage* readBinary(VltState* state, FILE* file, VltImageHeader** header) {
  Reader r(state, file, true);
  Dims d;
  VltImage* im = nullptr;
  bool ok = read_dims(r, false, &d);
  if (ok) im = new_image(r, VLT_IMAGE_BINARY, d, static_cast<uint64_t>(d.height), packed_row_bytes(d.width));
  ok = ok && im != nullptr;
  if (ok && !empty(im)) {
    const size_t rowBytes = packed_row_bytes(d.width);
    uint8_t chunk[kChunk];
    for (int32_t y = 0; ok && y < d.height; ++y) {
      for (size_t done = 0; ok && done < rowBytes;) {
        const size_t n = std::min(rowBytes - done, kChunk);
        ok = read_exact(file, chunk, n);
        for (size_t i = 0; ok && i < n; ++i)
          for (int b = 0; b < 8; ++b) {
            const size_t x = (done + i) * 8 + static_cast<size_t>(b);
            if (x < static_cast<size_t>(d.width) && (chunk[i] & (0x80 >> b)) != 0) im->rows[y][x] = 1;
          }
        done += n;
      }
    }
  }
  return finish(r, im, ok, header);
}

VltImage* readGray(VltState* state, FILE* file, VltImageHeader** header) {
  return read_raw_grey(state, file, header, VLT_IMAGE_GRAY, 1);
}

VltImage* readRGB(VltState* state, FILE* file, VltImageHeader** header) {
  return read_raw_grey(state, file, header, VLT_IMAGE_RGB, 3);
}

VltImage* readFloat(VltState* state, FILE* file, VltImageHeader** header) {
  return read_q(state, file, header, VLT_IMAGE_FLOAT);
}
VltImage* readDouble(VltState* state, FILE* file, VltImageHeader** header) {
  return read_q(state, file, header, VLT_IMAGE_DOUBLE);
}
VltImage* readLong(VltState* state, FILE* file, VltImageHeader** header) {
  return read_q(state, file, header, VLT_IMAGE_LONG);
}
VltImage* readShort(VltState* state, FILE* file, VltImageHeader** header) {
  return read_q(state, file, header, VLT_IMAGE_SHORT);
}
VltImage* readRGBFloat(VltState* state, FILE* file, VltImageHeader** header) {
  return read_q(state, file, header, VLT_IMAGE_RGBFLOAT);
}

VltStatus VltImage_pLoadF(VltState* state, uint16_t tag, FILE* file, VltImage** image) {
  if (image != nullptr) *image = nullptr;
  if (file == nullptr || image == nullptr) return VLT_ERR_ASSERT;
  // Every magic has two characters; anything longer is no magic of ours.
  char magic[3] = {};
  for (int i = 0; i < 3; ++i) {
    const int c = std::getc(file);
    if (c == EOF) return Vlt_reportErrMsg(reporter(state), VLT_ERR_FILE_NOT_FOUND, "file ends in its magic");
    if (is_space(c)) break;
    if (i == 2) return Vlt_reportErrMsg(reporter(state), VLT_ERR_FILE_NOT_FOUND, "unknown file magic");
    magic[i] = static_cast<char>(c);
  }
  if (tag == VLT_IMAGE_PACKED) return load_packed(state, magic, file, image);
  const VltImageFileFormat* format = nullptr;
  for (const VltImageFileFormat& f : fileReaders)
    if (std::strcmp(f.magic, magic) == 0) {
      format = &f;
      break;
    }
  if (format == nullptr) return Vlt_reportErrMsg(reporter(state), VLT_ERR_FILE_NOT_FOUND, "unknown file magic");
  VltImage* read = format->reader(state, file, nullptr);
  if (read == nullptr)
    return Vlt_reportErrMsg(reporter(state), VLT_ERR_FILE_NOT_FOUND, "malformed or short %s file", magic);
  if (read->hdr.type == tag) {
    *image = read;
    return VLT_OK;
  }
  if (!VltImage_isPromotion(read->hdr.type, tag)) {
    VltImage_free(read);
    return Vlt_reportErrMsg(reporter(state), VLT_ERR_COMMAND_LINE, "loading %s as type %u would lose data",
                            magic, static_cast<unsigned>(tag));
  }
  VltImage* converted = nullptr;
  const VltStatus st = VltImage_convert(read, tag, &converted);
  VltImage_free(read);
  if (st != VLT_OK) return Vlt_report(state, st);
  *image = converted;
  return VLT_OK;
}

VltStatus VltImage_load(VltState* state, uint16_t tag, const char* path, VltImage** image) {
  if (image != nullptr) *image = nullptr;
  if (path == nullptr || image == nullptr) return VLT_ERR_ASSERT;
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return Vlt_reportErrMsg(reporter(state), VLT_ERR_NULL, "cannot open %s", path);
  const VltStatus st = VltImage_pLoadF(state, tag, f, image);
  if (std::fclose(f) != 0 && st == VLT_OK) {
    VltImage_free(*image);
    *image = nullptr;
    return Vlt_reportErrMsg(reporter(state), VLT_ERR_FILE_NOT_FOUND, "cannot close %s", path);
  }
  return st;
}

VltStatus VltImage_pSaveF(const VltImage* image, FILE* file) {
  if (image == nullptr || file == nullptr) return VLT_ERR_ASSERT;
  const VltState* state = image->state;
  const uint16_t tag = image->hdr.type;
  if (magic_of(tag) == nullptr) return Vlt_reportErrMsg(reporter(state), VLT_ERR_COMMAND_LINE, "no file form for this image type");
  if (!write_header(image, file, true))
    return Vlt_reportErrMsg(reporter(state), VLT_ERR_FILE_NOT_FOUND, "cannot write the image header");
  if (write_pixels(image, file, 0) != 1) {
    if (tag == VLT_IMAGE_PACKED)
      return Vlt_reportErrMsg(reporter(state), VLT_ERR_FILE_NOT_FOUND, "cannot write the image");
    return Vlt_report(state, VLT_ERR_IO_WRITE);
  }
  return VLT_OK;
}

VltStatus VltImage_pSaveHeaderF(const VltImage* image, FILE* file, ...) {
  if (image == nullptr || file == nullptr) return VLT_ERR_ASSERT;
  const VltState* state = image->state;
  if (magic_of(image->hdr.type) == nullptr)
    return Vlt_reportErrMsg(reporter(state), VLT_ERR_COMMAND_LINE, "no file form for this image type");
  if (!write_header(image, file, false))
    return Vlt_reportErrMsg(reporter(state), VLT_ERR_FILE_NOT_FOUND, "cannot write the image header");
  return VLT_OK;
}

VltStatus VltImage_save(const VltImage* image, const char* path) {
  if (image == nullptr || path == nullptr) return VLT_ERR_ASSERT;
  const VltState* state = image->state;
  FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return Vlt_reportErrMsg(reporter(state), VLT_ERR_NULL, "cannot open %s", path);
  const VltStatus st = VltImage_pSaveF(image, f);
  if (std::fclose(f) != 0 && st == VLT_OK)
    return Vlt_reportErrMsg(reporter(state), VLT_ERR_FILE_NOT_FOUND, "cannot close %s", path);
  return st;
}

// ---- Raw files

int VltImage_readGrayRaw(VltImage* image, int32_t width, int32_t height, FILE* file, uint32_t flags) {
  return read_rows(image, VLT_IMAGE_GRAY, width, height, file, flags);
}
int VltImage_readFloatRaw(VltImage* image, int32_t width, int32_t height, FILE* file, uint32_t flags) {
  return read_rows(image, VLT_IMAGE_FLOAT, width, height, file, flags);
}
int VltImage_readRGBRaw(VltImage* image, int32_t width, int32_t height, FILE* file, uint32_t flags) {
  return read_rows(image, VLT_IMAGE_RGB, width, height, file, flags);
}
int VltImage_readDoubleRaw(VltImage* image, int32_t width, int32_t height, FILE* file, uint32_t flags) {
  return read_rows(image, VLT_IMAGE_DOUBLE, width, height, file, flags);
}
int VltImage_readLongRaw(VltImage* image, int32_t width, int32_t height, FILE* file, uint32_t flags) {
  return read_rows(image, VLT_IMAGE_LONG, width, height, file, flags);
}
int VltImage_readShortRaw(VltImage* image, int32_t width, int32_t height, FILE* file, uint32_t flags) {
  return read_rows(image, VLT_IMAGE_SHORT, width, height, file, flags);
}
int VltImage_readRGBFloatRaw(VltImage* image, int32_t width, int32_t height, FILE* file, uint32_t flags) {
  return read_rows(image, VLT_IMAGE_RGBFLOAT, width, height, file, flags);
}

int VltImage_readPackedRaw(VltImage* image, int32_t width, int32_t height, FILE* file, uint32_t flags) {
  static_cast<void>(flags);
  if (!fits(image, VLT_IMAGE_PACKED, width, height)) return 0;
  if (empty(image)) return 1;
  const size_t rowBytes = packed_row_bytes(width);
  const size_t lineBytes = static_cast<size_t>(image->hdr.bytesPerLine);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = image->rows[y];
    if (!read_exact(file, row, rowBytes)) return 0;
    // Whole words, nothing past the width.
    std::memset(row + rowBytes, 0, lineBytes - rowBytes);
    if (width % 8 != 0) row[rowBytes - 1] &= static_cast<uint8_t>(0xFF00u >> (width % 8));
  }
  return 1;
}

int VltImage_saveGrayRaw(const VltImage* image, FILE* file, uint32_t flags) {
  return write_rows(image, VLT_IMAGE_GRAY, file, flags);
}
int VltImage_saveFloatRaw(const VltImage* image, FILE* file, uint32_t flags) {
  return write_rows(image, VLT_IMAGE_FLOAT, file, flags);
}
int VltImage_saveRGBRaw(const VltImage* image, FILE* file, uint32_t flags) {
  return write_rows(image, VLT_IMAGE_RGB, file, flags);
}
int VltImage_saveDoubleRaw(const VltImage* image, FILE* file, uint32_t flags) {
  return write_rows(image, VLT_IMAGE_DOUBLE, file, flags);
}
int VltImage_saveLongRaw(const VltImage* image, FILE* file, uint32_t flags) {
  return write_rows(image, VLT_IMAGE_LONG, file, flags);
}
int VltImage_saveShortRaw(const VltImage* image, FILE* file, uint32_t flags) {
  return write_rows(image, VLT_IMAGE_SHORT, file, flags);
}
int VltImage_saveRGBFloatRaw(const VltImage* image, FILE* file, uint32_t flags) {
  return write_rows(image, VLT_IMAGE_RGBFLOAT, file, flags);
}

int VltImage_saveBinaryRaw(const VltImage* image, FILE* file, uint32_t flags) {
  static_cast<void>(flags);
  if (image == nullptr || image->hdr.type != VLT_IMAGE_BINARY) return 0;
  if (empty(image)) return 1;
  Writer out(file);
  const int32_t width = image->hdr.width;
  for (int32_t y = 0; y < image->hdr.height; ++y) {
    const uint8_t* row = image->rows[y];
    for (int32_t x0 = 0; x0 < width; x0 += 8) {
      uint8_t byte = 0;
      for (int32_t b = 0; b < 8 && x0 + b < width; ++b)
        if (row[x0 + b] != 0) byte |= static_cast<uint8_t>(0x80 >> b);
      *out.space(1) = byte;
    }
  }
  return out.flush() ? 1 : 0;
}

int VltImage_savePackedRaw(const VltImage* image, FILE* file, uint32_t flags) {
  static_cast<void>(flags);
  if (image == nullptr || image->hdr.type != VLT_IMAGE_PACKED) return 0;
  if (empty(image)) return 1;
  const int32_t width = image->hdr.width;
  const size_t rowBytes = packed_row_bytes(width);
  // Pixels past the width are no part of the image, whatever the row holds there.
  const uint8_t tailMask = width % 8 != 0 ? static_cast<uint8_t>(0xFF00u >> (width % 8)) : 0xFF;
  for (int32_t y = 0; y < image->hdr.height; ++y) {
    const uint8_t* row = image->rows[y];
    if (!write_exact(file, row, rowBytes - 1)) return 0;
    const uint8_t last = static_cast<uint8_t>(row[rowBytes - 1] & tailMask);
    if (!write_exact(file, &last, 1)) return 0;
  }
  return 1;
}

VltStatus VltImage_loadRawF(uint32_t typeAndFlags, int32_t width, int32_t height, FILE* file,
                            VltImage** image, VltState* state) {
  if (image != nullptr) *image = nullptr;
  if (file == nullptr || image == nullptr) return VLT_ERR_ASSERT;
  const uint32_t tag = typeAndFlags & ~VLT_RAW_FLAGS, flags = typeAndFlags & VLT_RAW_FLAGS;
  if (!has_raw_form(tag)) return invalid_type(state);
  if (width < 0 || height < 0) return Vlt_report(state, VLT_ERR_PARAM);
  const bool packed = tag == VLT_IMAGE_BINARY || tag == VLT_IMAGE_PACKED;
  const uint64_t rows = static_cast<uint64_t>(height);
  const uint64_t rowBytes = packed ? packed_row_bytes(width)
                                   : static_cast<uint64_t>(width) * static_cast<uint64_t>(VltImage_bytesPerPixel(
                                                                         static_cast<uint16_t>(tag)));
  if (!can_hold(file, rows, rowBytes)) return Vlt_reportErrMsg(reporter(state), VLT_ERR_IO_LENGTH, "raw file shorter than the image");
  VltImage* im = nullptr;
  const uint16_t made = packed ? uint16_t{VLT_IMAGE_PACKED} : static_cast<uint16_t>(tag);
  if (VltStatus st = VltImage_new(state, made | VLT_IMAGE_UNINIT, width, height, &im); st != VLT_OK) return st;
  int ok = 0;
  switch (made) {
    case VLT_IMAGE_PACKED: ok = VltImage_readPackedRaw(im, width, height, file, flags); break;
    case VLT_IMAGE_GRAY: ok = VltImage_readGrayRaw(im, width, height, file, flags); break;
    case VLT_IMAGE_FLOAT: ok = VltImage_readFloatRaw(im, width, height, file, flags); break;
    case VLT_IMAGE_RGB: ok = VltImage_readRGBRaw(im, width, height, file, flags); break;
    case VLT_IMAGE_DOUBLE: ok = VltImage_readDoubleRaw(im, width, height, file, flags); break;
    case VLT_IMAGE_LONG: ok = VltImage_readLongRaw(im, width, height, file, flags); break;
    case VLT_IMAGE_SHORT: ok = VltImage_readShortRaw(im, width, height, file, flags); break;
    case VLT_IMAGE_RGBFLOAT: ok = VltImage_readRGBFloatRaw(im, width, height, file, flags); break;
    default: break;
  }
  if (ok != 1) {
    VltImage_free(im);
    return Vlt_reportErrMsg(reporter(state), VLT_ERR_IO_LENGTH, "raw file shorter than the image");
  }
  if (tag == VLT_IMAGE_BINARY) {
    VltImage* binary = nullptr;
    const VltStatus st = VltImage_convert(im, VLT_IMAGE_BINARY, &binary);
    VltImage_free(im);
    if (st != VLT_OK) return Vlt_report(state, st);
    im = binary;
  }
  *image = im;
  return VLT_OK;
}

VltStatus VltImage_loadRaw(uint32_t typeAndFlags, int32_t width, int32_t height, const char* path,
                           VltImage** image, VltState* state) {
  if (image != nullptr) *image = nullptr;
  if (path == nullptr || image == nullptr) return VLT_ERR_ASSERT;
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return Vlt_reportErrMsg(reporter(state), VLT_ERR_FILE_NOT_FOUND, "cannot open %s", path);
  const VltStatus st = VltImage_loadRawF(typeAndFlags, width, height, f, image, state);
  if (std::fclose(f) != 0 && st == VLT_OK) {
    VltImage_free(*image);
    *image = nullptr;
    return Vlt_reportErrMsg(reporter(state), VLT_ERR_IO_READ, "cannot close %s", path);
  }
  return st;
}

VltStatus VltImage_saveRawF_(const VltImage* image, uint16_t tag, FILE* file, uint32_t flags, VltState* state) {
  if (image == nullptr || file == nullptr) return VLT_ERR_ASSERT;
  if (!has_raw_form(tag)) return invalid_type(state);
  // The writer of another type would read past this image's rows.
  if (image->hdr.type != tag) return Vlt_reportErrMsg(reporter(state), VLT_ERR_ASSERT, "image is not of type %u", tag);
  if (write_pixels(image, file, flags) != 1) return Vlt_report(state, VLT_ERR_IO_WRITE);
  return VLT_OK;
}

VltStatus VltImage_saveRaw_(const VltImage* image, uint16_t tag, const char* path, uint32_t flags,
                            VltState* state) {
  if (image == nullptr || path == nullptr) return VLT_ERR_ASSERT;
  FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return Vlt_reportErrMsg(reporter(state), VLT_ERR_FILE_NOT_FOUND, "cannot open %s", path);
  const VltStatus st = VltImage_saveRawF_(image, tag, f, flags, state);
  if (std::fclose(f) != 0 && st == VLT_OK) return Vlt_report(state, VLT_ERR_IO_WRITE);
  return st;
}
