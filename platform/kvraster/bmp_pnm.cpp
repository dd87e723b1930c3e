// BMP and PNM, the two formats the engine reads and writes with its own code.

#include <cstdio>
#include <cstring>
#include <memory>

#include "raster.h"

namespace kvraster {

namespace {

constexpr size_t max_file = size_t{1} << 30;

bool slurp(const char* filename, std::vector<uint8_t>* bytes) {
  std::FILE* f = std::fopen(filename, "rb");
  if (!f) return false;
  uint8_t chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0 && bytes->size() < max_file) {
    bytes->insert(bytes->end(), chunk, chunk + n);
  }
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// Writes bytes to a file; on any failure the file is removed.
bool save(elf_state* state, const char* who, const char* filename, const std::vector<uint8_t>& bytes) {
  OutFile out(state, who, filename);
  std::FILE* f = out.stream();
  if (!f) return out.name() && (fail(state, "%s: %s cannot be created\n", who, filename), false);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  return out.finish();
}

}  // namespace

bool read_bmp(elf_state* state, const char* filename, Raster* out) {
  constexpr const char* who = "QELReadFile2QELIMAGE";
  std::vector<uint8_t> b;
  if (!slurp(filename, &b)) return fail(state, "%s: %s cannot be read\n", who, filename), false;
  if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') return fail(state, "%s: %s is not a BMP file\n", who, filename), false;
  const uint32_t offset = le32(&b[10]), header = le32(&b[14]);
  const int32_t width = static_cast<int32_t>(le32(&b[18])), raw_height = static_cast<int32_t>(le32(&b[22]));
  const uint16_t bits = le16(&b[28]);
  const uint32_t compression = le32(&b[30]);
  uint32_t colours = le32(&b[46]);
  if (header < 40 || header > b.size() - 14 || compression != 0 ||
      (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) || raw_height == INT32_MIN) {
    return fail(state, "%s: %s: only uncompressed BMP of 1, 4, 8, 24 or 32 bits is read\n", who, filename), false;
  }
  if (bits <= 8 && (colours == 0 || colours > (1u << bits))) colours = 1u << bits;
  if (bits > 8) colours = 0;
  const size_t palette_at = 14 + size_t{header};
  if (palette_at + size_t{colours} * 4 > b.size()) return fail(state, "%s: %s: the palette is cut short\n", who, filename), false;
  const uint8_t* palette = &b[palette_at];
  const int32_t height = raw_height < 0 ? -raw_height : raw_height;
  bool grey = true, black_white = bits == 1 && colours == 2;
  for (uint32_t i = 0; i < colours; ++i) {
    const uint8_t* c = palette + i * 4;
    grey = grey && c[0] == c[1] && c[1] == c[2];
  }
  black_white = black_white && grey && ((palette[0] == 0 && palette[4] == 255) || (palette[0] == 255 && palette[4] == 0));
  const Form form = bits > 8 || !grey ? Form::Rgb : black_white ? Form::Bilevel : Form::Grey;
  if (!out->allocate(width, height, form)) return fail(state, "%s: %s: a BMP of %dx%d cannot be held\n", who, filename, width, height), false;
  const size_t stride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
  if (offset > b.size() || (b.size() - offset) / stride < static_cast<size_t>(height)) {
    return fail(state, "%s: %s: the pixels are cut short\n", who, filename), false;
  }
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* src = &b[offset + stride * static_cast<size_t>(raw_height < 0 ? y : height - 1 - y)];
    uint8_t* dst = out->row(y);
    if (form == Form::Bilevel) {
      const bool zero_is_black = palette[0] == 0;
      for (size_t i = 0; i < out->row_bytes(); ++i) dst[i] = zero_is_black ? static_cast<uint8_t>(~src[i]) : src[i];
      continue;
    }
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t* c;
      uint8_t direct[3];
      if (bits <= 8) {
        const size_t bit = static_cast<size_t>(x) * bits;
        const uint32_t index = (src[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
        static const uint8_t black[4] = {0, 0, 0, 0};
        c = index < colours ? palette + index * 4 : black;
      } else {
        const uint8_t* p = src + static_cast<size_t>(x) * (bits / 8);
        direct[0] = p[0];
        direct[1] = p[1];
        direct[2] = p[2];
        c = direct;
      }
      if (form == Form::Grey) {
        dst[x] = c[0];
      } else {
        dst[x * 3] = c[2];
        dst[x * 3 + 1] = c[1];
        dst[x * 3 + 2] = c[0];
      }
    }
  }
  const int32_t xppm = static_cast<int32_t>(le32(&b[38])), yppm = static_cast<int32_t>(le32(&b[42]));
  if (xppm > 0 && yppm > 0) {
    out->xres = xppm * 0.0254;
    out->yres = yppm * 0.0254;
  }
  return true;
}

bool write_bmp(elf_state* state, const Raster& r, const char* filename) {
  const int bits = r.form == Form::Bilevel ? 1 : r.form == Form::Grey ? 8 : 24;
  const uint32_t colours = r.form == Form::Bilevel ? 2 : r.form == Form::Grey ? 256 : 0;
  const size_t stride = ((static_cast<size_t>(r.width) * bits + 31) / 32) * 4;
  const size_t offset = 54 + size_t{colours} * 4;
  const size_t total = offset + stride * static_cast<size_t>(r.height);
  if (total > UINT32_MAX) return fail(state, "writebmp: a page of %dx%d is too large for BMP\n", r.width, r.height), false;
  std::vector<uint8_t> b(total, 0);
  b[0] = 'B';
  b[1] = 'M';
  put32(&b[2], static_cast<uint32_t>(total));
  put32(&b[10], static_cast<uint32_t>(offset));
  put32(&b[14], 40);
  put32(&b[18], static_cast<uint32_t>(r.width));
  put32(&b[22], static_cast<uint32_t>(r.height));
  put16(&b[26], 1);
  put16(&b[28], static_cast<uint16_t>(bits));
  put32(&b[34], static_cast<uint32_t>(stride * static_cast<size_t>(r.height)));
  put32(&b[38], static_cast<uint32_t>(r.xres / 0.0254 + 0.5));
  put32(&b[42], static_cast<uint32_t>(r.yres / 0.0254 + 0.5));
  put32(&b[46], colours);
  // Bilevel pages keep their bits: entry 0 white, entry 1 black.
  for (uint32_t i = 0; i < colours; ++i) {
    const uint8_t v = r.form == Form::Bilevel ? (i ? 0 : 255) : static_cast<uint8_t>(i);
    b[54 + i * 4] = b[55 + i * 4] = b[56 + i * 4] = v;
  }
  for (int32_t y = 0; y < r.height; ++y) {
    uint8_t* dst = &b[offset + stride * static_cast<size_t>(r.height - 1 - y)];
    const uint8_t* src = r.row(y);
    if (r.form != Form::Rgb) {
      std::memcpy(dst, src, r.row_bytes());
      continue;
    }
    for (int32_t x = 0; x < r.width; ++x) {
      dst[x * 3] = src[x * 3 + 2];
      dst[x * 3 + 1] = src[x * 3 + 1];
      dst[x * 3 + 2] = src[x * 3];
    }
  }
  return save(state, "writebmp", filename, b);
}

namespace {

// Reads the header numbers of a PNM file, skipping blanks and comments.
struct PnmCursor {
  const std::vector<uint8_t>& b;
  size_t at;
  bool number(uint32_t* value) {
    while (at < b.size()) {
      if (b[at] == '#') {
        while (at < b.size() && b[at] != '\n') ++at;
      } else if (b[at] == ' ' || b[at] == '\t' || b[at] == '\r' || b[at] == '\n') {
        ++at;
      } else {
        break;
      }
    }
    if (at >= b.size() || b[at] < '0' || b[at] > '9') return false;
    uint64_t v = 0;
    while (at < b.size() && b[at] >= '0' && b[at] <= '9' && v <= UINT32_MAX) v = v * 10 + (b[at++] - '0');
    if (v > UINT32_MAX) return false;
    *value = static_cast<uint32_t>(v);
    return true;
  }
};

}  // namespace

bool read_pnm(elf_state* state, const char* filename, Raster* out) {
  constexpr const char* who = "QELReadFile2QELIMAGE";
  std::vector<uint8_t> b;
  if (!slurp(filename, &b)) return fail(state, "%s: %s cannot be read\n", who, filename), false;
  if (b.size() < 3 || b[0] != 'P' || b[1] < '1' || b[1] > '6') return fail(state, "%s: %s is not PNM\n", who, filename), false;
  const int kind = b[1] - '0';
  PnmCursor c{b, 2};
  uint32_t width = 0, height = 0, maxval = 1;
  if (!c.number(&width) || !c.number(&height) || (kind != 1 && kind != 4 && !c.number(&maxval)) || maxval < 1 ||
      maxval > 65535 || width > INT32_MAX || height > INT32_MAX) {
    return fail(state, "%s: %s: the PNM header is damaged\n", who, filename), false;
  }
  const Form form = kind == 1 || kind == 4 ? Form::Bilevel : kind == 2 || kind == 5 ? Form::Grey : Form::Rgb;
  if (!out->allocate(static_cast<int32_t>(width), static_cast<int32_t>(height), form)) {
    return fail(state, "%s: %s: a PNM of %ux%u cannot be held\n", who, filename, width, height), false;
  }
  const bool raw = kind >= 4;
  if (raw) ++c.at;  // the one blank after the header
  const size_t samples = static_cast<size_t>(width) * out->channels();
  const size_t sample_bytes = maxval > 255 ? 2 : 1;
  for (int32_t y = 0; y < out->height; ++y) {
    uint8_t* dst = out->row(y);
    if (raw && form == Form::Bilevel) {
      if (b.size() - std::min(c.at, b.size()) < out->row_bytes()) return fail(state, "%s: %s: the pixels are cut short\n", who, filename), false;
      std::memcpy(dst, &b[c.at], out->row_bytes());
      c.at += out->row_bytes();
      const int spare = static_cast<int>(out->row_bytes() * 8 - width);
      if (spare) dst[out->row_bytes() - 1] &= static_cast<uint8_t>(0xFF << spare);
      continue;
    }
    for (size_t i = 0; i < samples; ++i) {
      uint32_t v = 0;
      if (raw) {
        if (b.size() - std::min(c.at, b.size()) < sample_bytes) return fail(state, "%s: %s: the pixels are cut short\n", who, filename), false;
        v = sample_bytes == 2 ? (b[c.at] << 8 | b[c.at + 1]) : b[c.at];
        c.at += sample_bytes;
      } else if (form == Form::Bilevel) {
        while (c.at < b.size() && b[c.at] != '0' && b[c.at] != '1') ++c.at;
        if (c.at >= b.size()) return fail(state, "%s: %s: the pixels are cut short\n", who, filename), false;
        v = b[c.at++] - '0';
      } else if (!c.number(&v)) {
        return fail(state, "%s: %s: the pixels are cut short\n", who, filename), false;
      }
      if (v > maxval) v = maxval;
      if (form == Form::Bilevel) {
        if (v) dst[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
      } else {
        dst[i] = static_cast<uint8_t>((v * 255 + maxval / 2) / maxval);
      }
    }
  }
  return true;
}

bool write_pnm(elf_state* state, const Raster& r, const char* filename) {
  char header[64];
  const int n = std::snprintf(header, sizeof header, "P%c\n%d %d\n%s", r.form == Form::Bilevel ? '4' : r.form == Form::Grey ? '5' : '6',
                              r.width, r.height, r.form == Form::Bilevel ? "" : "255\n");
  std::vector<uint8_t> b(header, header + n);
  b.insert(b.end(), r.pixels.begin(), r.pixels.end());
  return save(state, "writeimage", filename, b);
}

}  // namespace kvraster
