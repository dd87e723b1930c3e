// Generic region writer and the bitmap coders it shares with the dictionary and halftone writers.
//
// The MQ coder forms each pixel's context from a few "fields": runs of neighbouring pixels of
// one row that occupy consecutive context bits, leftmost pixel highest. Every template is three
// such runs (two for template 3), and an adaptive pixel at its nominal place extends a run, so
// the usual case costs three shifts and ORs a pixel. Rows are copied into zero-margined lines so
// that pixels outside the image read as 0 without a bounds test, and a 64-bit window per field
// slides one pixel a step.

#include <algorithm>
#include <bit>
#include <cstring>

#include "byteorder.h"
#include "checked_size.h"
#include "fax_encode.h"
#include "jb2_encode.h"
#include "vlt_state.h"

namespace {

// Zero bytes on each side of a line copy: room for an adaptive pixel 128 to either side plus a
// 64-bit window.
constexpr int32_t kMargin = 32;
constexpr int kMaxFields = 7;
// Shorter runs are cheaper coded pixel by pixel.
constexpr int kMinRun = 4;

struct Field {
  int32_t dy;
  int32_t dx;     // leftmost pixel of the run, relative to the pixel coded
  int32_t n;      // pixels in the run
  int32_t shift;  // context bit of the run's rightmost pixel
};

struct Layout {
  Field f[kMaxFields];
  int count;
  int32_t minDy;
  uint32_t sltpContext;
};

// The fixed runs of each template, then where its adaptive pixels go in the context.
struct TemplateDef {
  Field fixed[3];
  int fixedCount;
  int atCount;
  int atBit[4];
  uint32_t sltp;
};

constexpr TemplateDef kTemplates[4] = {
    {{{0, -4, 4, 0}, {-1, -2, 5, 5}, {-2, -1, 3, 12}}, 3, 4, {4, 10, 11, 15}, 0x9B25},
    {{{0, -3, 3, 0}, {-1, -2, 5, 4}, {-2, -1, 4, 9}}, 3, 1, {3}, 0x0795},
    {{{0, -2, 2, 0}, {-1, -2, 4, 3}, {-2, -1, 3, 7}}, 3, 1, {2}, 0x00E5},
    {{{0, -4, 4, 0}, {-1, -3, 5, 5}}, 2, 1, {4}, 0x0195},
};

// The layouts of the templates with their adaptive pixels at the nominal places, where each one
// extends a run.
constexpr Field kNominal0[3] = {{0, -4, 4, 0}, {-1, -3, 7, 4}, {-2, -2, 5, 11}};
constexpr Field kNominal1[3] = {{0, -3, 3, 0}, {-1, -2, 6, 3}, {-2, -1, 4, 9}};
constexpr Field kNominal2[3] = {{0, -2, 2, 0}, {-1, -2, 5, 2}, {-2, -1, 3, 7}};
constexpr Field kNominal3[2] = {{0, -4, 4, 0}, {-1, -3, 6, 4}};

// Where the fields come from: constants the compiler folds into the pixel loop, or a layout built
// at run time.
template <const Field* F, int N>
struct FixedFields {
  static constexpr int count = N;
  explicit FixedFields(const Layout&) {}
  static constexpr Field get(int i) { return F[i]; }
};

template <int N>
struct LayoutFields {
  static constexpr int count = N;
  const Layout& layout;
  explicit LayoutFields(const Layout& l) : layout(l) {}
  Field get(int i) const { return layout.f[i]; }
};

bool same_fields(const Layout& l, const Field* f, int n) {
  if (l.count != n) return false;
  for (int i = 0; i < n; ++i)
    if (l.f[i].dy != f[i].dy || l.f[i].dx != f[i].dx || l.f[i].n != f[i].n ||
        l.f[i].shift != f[i].shift)
      return false;
  return true;
}

// False for a template above 3 or an adaptive pixel that is not yet coded when the pixel is
// (a decoder could not form the same context).
bool make_layout(const Jb2GenericParams& p, Layout* out) {
  if (p.gbTemplate > 3) return false;
  const TemplateDef& t = kTemplates[p.gbTemplate];
  Layout l{};
  for (int i = 0; i < t.fixedCount; ++i) l.f[l.count++] = t.fixed[i];
  for (int a = 0; a < t.atCount; ++a) {
    const int32_t dx = p.atx[a], dy = p.aty[a], bit = t.atBit[a];
    if (dy > 0 || (dy == 0 && dx >= 0)) return false;
    bool merged = false;
    for (int i = 0; i < l.count && !merged; ++i) {
      Field& f = l.f[i];
      if (f.dy != dy) continue;
      if (dx == f.dx + f.n && bit == f.shift - 1) {  // just right of the run, one bit lower
        ++f.n;
        --f.shift;
        merged = true;
      } else if (dx == f.dx - 1 && bit == f.shift + f.n) {  // just left, one bit higher
        --f.dx;
        ++f.n;
        merged = true;
      }
    }
    if (!merged) l.f[l.count++] = Field{dy, dx, 1, bit};
  }
  l.minDy = 0;
  for (int i = 0; i < l.count; ++i) l.minDy = std::min(l.minDy, l.f[i].dy);
  l.sltpContext = t.sltp;
  *out = l;
  return true;
}

// Zero-margined copies of the rows a context reaches, in a ring, plus one line of zeros for the
// rows above the image.
struct Lines {
  uint8_t* store = nullptr;
  size_t lineBytes = 0;
  int32_t ring = 0;
  size_t copyBytes = 0;  // bytes of a source row that hold pixels
  int32_t width = 0;

  uint8_t* line(int32_t k) const { return store + static_cast<size_t>(k) * lineBytes; }
  const uint8_t* zero() const { return line(ring); }
  const uint8_t* row(int32_t y) const { return y < 0 ? zero() : line(y % ring); }

  void take(int32_t y, const uint8_t* src) {
    uint8_t* d = line(y % ring) + kMargin;
    std::memcpy(d, src, copyBytes);
    if (width % 8 != 0) d[copyBytes - 1] &= static_cast<uint8_t>(0xFF00u >> (width % 8));
  }
};

// Where the rows of the bitmap are: a row table, or a buffer of rows a fixed distance apart.
struct RowSource {
  uint8_t* const* rows;
  const uint8_t* base;
  size_t stride;
  const uint8_t* operator()(int32_t y) const {
    return rows != nullptr ? rows[y] : base + static_cast<size_t>(y) * stride;
  }
};

// 64 pixels of a line from pixel p (which may lie in the margins), the first in the top bit.
inline uint64_t window(const uint8_t* line, int32_t p) {
  const int32_t q = p + 8 * kMargin;
  return mono::load_be64(line + (q >> 3)) << (q & 7);
}

// One bitmap to code.
struct Job {
  RowSource rowOf;
  int32_t width;
  int32_t height;
  const Layout& layout;
  bool tpgdon;
  uint8_t* cx;
  MqEncoder* enc;
  VltState* state;
  Lines& lines;
};

template <typename Fields>
VltStatus code_rows(const Job& job) {
  const auto [rowOf, width, height, layout, tpgdon, cx, enc, state, lines] = job;
  constexpr int NF = Fields::count;
  const Fields fields(layout);
  Field f[NF];
  uint32_t fullContext = 0;  // every context pixel black
#pragma GCC unroll 8
  for (int i = 0; i < NF; ++i) {
    f[i] = fields.get(i);
    fullContext |= ((1u << f[i].n) - 1) << f[i].shift;
  }
  int ltp = 0;
  for (int32_t y = 0; y < height; ++y) {
    lines.take(y, rowOf(y));
    const uint8_t* cur = lines.row(y);
    if (tpgdon) {
      const int same = std::memcmp(cur + kMargin, lines.row(y - 1) + kMargin, lines.copyBytes) == 0;
      if (!VltEncode_mqeEncode(enc, cx + layout.sltpContext, same ^ ltp))
        return Vlt_report(state, VLT_ERR_IO_WRITE);
      ltp = same;
      if (same) continue;
    }
    const uint8_t* src[NF];
#pragma GCC unroll 8
    for (int i = 0; i < NF; ++i) src[i] = lines.row(y + f[i].dy);
    for (int32_t x0 = 0; x0 < width; x0 += 32) {
      uint64_t w[NF];
      // OR and AND of the pixels themselves and of every context pixel.
      const uint64_t pixels0 = window(cur, x0);
      uint64_t inked = pixels0, solid = pixels0;
      uint64_t pixels = pixels0;
#pragma GCC unroll 8
      for (int i = 0; i < NF; ++i) {
        w[i] = window(src[i], x0 + f[i].dx);
        for (int j = 0; j < f[i].n; ++j) {
          inked |= w[i] << j;
          solid &= w[i] << j;
        }
      }
      // Bit 31 - k is set where pixel k and its whole context are white (or all black): such
      // stretches are runs of equal decisions in one context.
      const auto blank = static_cast<uint32_t>(~inked >> 32);
      const auto full = static_cast<uint32_t>(solid >> 32);
      const int32_t m = std::min<int32_t>(32, width - x0);
      for (int32_t k = 0; k < m;) {
        const int white = std::countl_one(blank << k);
        const int black = std::countl_one(full << k);
        const int run = std::min<int32_t>(std::max(white, black), m - k);
        if (run >= kMinRun) {
          if (!VltEncode_mqeEncodeRun(enc, cx + (white > 0 ? 0 : fullContext), white > 0 ? 0 : 1,
                                      static_cast<uint32_t>(run)))
            return Vlt_report(state, VLT_ERR_IO_WRITE);
#pragma GCC unroll 8
          for (int i = 0; i < NF; ++i) w[i] <<= run;
          pixels <<= run;
          k += run;
          continue;
        }
        uint32_t ctx = 0;
#pragma GCC unroll 8
        for (int i = 0; i < NF; ++i) {
          ctx |= static_cast<uint32_t>(w[i] >> (64 - f[i].n)) << f[i].shift;
          w[i] <<= 1;
        }
        const int bit = static_cast<int>(pixels >> 63);
        pixels <<= 1;
        if (!VltEncode_mqeEncodeFast(enc, cx + ctx, bit))
          return Vlt_report(state, VLT_ERR_IO_WRITE);
        ++k;
      }
    }
  }
  return VLT_OK;
}

using Kernel = VltStatus (*)(const Job&);

// The nominal layouts get kernels with their fields as constants.
Kernel pick_kernel(const Layout& l, uint8_t gbTemplate) {
  if (gbTemplate == 0 && same_fields(l, kNominal0, 3)) return code_rows<FixedFields<kNominal0, 3>>;
  if (gbTemplate == 1 && same_fields(l, kNominal1, 3)) return code_rows<FixedFields<kNominal1, 3>>;
  if (gbTemplate == 2 && same_fields(l, kNominal2, 3)) return code_rows<FixedFields<kNominal2, 3>>;
  if (gbTemplate == 3 && same_fields(l, kNominal3, 2)) return code_rows<FixedFields<kNominal3, 2>>;
  switch (l.count) {
    case 2: return code_rows<LayoutFields<2>>;
    case 3: return code_rows<LayoutFields<3>>;
    case 4: return code_rows<LayoutFields<4>>;
    case 5: return code_rows<LayoutFields<5>>;
    case 6: return code_rows<LayoutFields<6>>;
    default: return code_rows<LayoutFields<7>>;
  }
}

VltStatus code_bitmap(RowSource rowOf, int32_t width, int32_t height,
                      const Jb2GenericParams* params, uint8_t* cx, MqEncoder* enc,
                      VltState* state) {
  Layout layout{};
  if (!make_layout(*params, &layout)) return Vlt_report(state, VLT_ERR_PARAM);
  if (width <= 0 || height <= 0)
    return width < 0 || height < 0 ? Vlt_report(state, VLT_ERR_PARAM) : VLT_OK;
  Lines lines;
  lines.width = width;
  lines.copyBytes = (static_cast<size_t>(width) + 7) / 8;
  lines.lineBytes = 2 * kMargin + (static_cast<size_t>(width) + 63) / 64 * 8;
  lines.ring = 1 - layout.minDy;
  size_t total = 0;
  if (!mono::checked_mul(lines.lineBytes, static_cast<size_t>(lines.ring) + 1, &total))
    return Vlt_report(state, VLT_ERR_NOMEM);
  lines.store = static_cast<uint8_t*>(state->calloc(1, total));
  if (lines.store == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  const VltStatus st = pick_kernel(layout, params->gbTemplate)(
      Job{rowOf, width, height, layout, params->tpgdon != 0, cx, enc, state, lines});
  state->free(lines.store);
  return st;
}

bool is_generic_type(uint8_t t) {
  return t == JB2_SEG_GENERIC_INTERMEDIATE || t == JB2_SEG_GENERIC_IMMEDIATE ||
         t == JB2_SEG_GENERIC_LOSSLESS;
}

}  // namespace

VltStatus jb2ArithEncodeImagePacked(const VltImage* image, const Jb2GenericParams* params,
                                    uint8_t* contexts, MqEncoder* encoder, VltState* state) {
  if (image == nullptr || image->hdr.type != VLT_IMAGE_PACKED)
    return Vlt_report(state, VLT_ERR_PARAM);
  if (params->gbTemplate == 3)
    return arithEncodeImageT10L2(image, params, contexts, encoder, state);
  return code_bitmap(RowSource{image->rows, nullptr, 0}, image->hdr.width, image->hdr.height,
                     params, contexts, encoder, state);
}

VltStatus arithEncodeImageT10L2(const VltImage* image, const Jb2GenericParams* params,
                                uint8_t* contexts, MqEncoder* encoder, VltState* state) {
  if (image == nullptr || image->hdr.type != VLT_IMAGE_PACKED)
    return Vlt_report(state, VLT_ERR_PARAM);
  return code_bitmap(RowSource{image->rows, nullptr, 0}, image->hdr.width, image->hdr.height,
                     params, contexts, encoder, state);
}

VltStatus jb2ArithEncodeImage(const uint8_t* buffer, int32_t width, int32_t height,
                              int32_t wordsPerRow, const Jb2GenericParams* params,
                              uint8_t* contexts, Jb2File* file, MqEncoder* encoder) {
  VltState* state = file->state;
  if (wordsPerRow < (static_cast<int64_t>(width) + 31) / 32)
    return Vlt_report(state, VLT_ERR_PARAM);
  uint8_t* own = nullptr;
  if (contexts == nullptr) {
    own = static_cast<uint8_t*>(state->calloc(jb2ABContextsNeeded(params), 1));
    if (own == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
    contexts = own;
  }
  const size_t stride = static_cast<size_t>(wordsPerRow) * 4;
  const VltStatus st = code_bitmap(RowSource{nullptr, buffer, stride}, width, height, params,
                                   contexts, encoder, state);
  state->free(own);
  return st;
}

VltStatus jb2MMREncode(const uint8_t* firstRow, int32_t width, int32_t height, int32_t wordsPerRow,
                       uint8_t* out, size_t* length, int32_t endFlag, VltState* state) {
  // The fax coder reports its own failures; "does not fit" is the caller's to handle.
  return g4Encode(reinterpret_cast<const uint32_t*>(firstRow), width, height, wordsPerRow, out,
                  length, endFlag, state);
}

VltStatus jb2MMREncodeDS(Jb2File* file, DataSink* sink, const uint8_t* firstRow, int32_t width,
                         int32_t height, int32_t wordsPerRow, int32_t endFlag) {
  VltState* state = file->state;
  // One bit a pixel to start with, counted in 64 bits, and never less than a few bytes: a tiny
  // bitmap's code is longer than its pixels, and an allocator may answer a request for 0 bytes
  // with nothing.
  const uint64_t pixels =
      static_cast<uint64_t>(width > 0 ? width : 0) * static_cast<uint64_t>(height > 0 ? height : 0);
  uint64_t size = std::max<uint64_t>(pixels / 8, 64);
  for (;;) {
    if (size > SIZE_MAX || size > UINT32_MAX) return Vlt_report(state, VLT_ERR_NOMEM);
    auto* buf = static_cast<uint8_t*>(state->malloc(static_cast<size_t>(size)));
    if (buf == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
    size_t length = static_cast<size_t>(size);
    VltStatus st = jb2MMREncode(firstRow, width, height, wordsPerRow, buf, &length, endFlag, state);
    if (st == VLT_OK) st = jb2WriteBytes(file, sink, buf, static_cast<uint32_t>(length));
    state->free(buf);
    if (st != VLT_ERR_OVERFLOW) return st;
    size += size / 4 + 1;
  }
}

VltStatus jb2EncodeABParams(Jb2File* file, DataSink* sink, const Jb2GenericParams* params) {
  uint8_t b[8];
  const int pairs = params->gbTemplate == 0 ? 4 : 1;
  for (int i = 0; i < pairs; ++i) {
    b[2 * i] = static_cast<uint8_t>(params->atx[i]);
    b[2 * i + 1] = static_cast<uint8_t>(params->aty[i]);
  }
  return jb2WriteBytes(file, sink, b, static_cast<uint32_t>(2 * pairs));
}

VltStatus jb2EncodeGenRegion(Jb2File* file, SegmentInfo* seg) {
  VltState* state = file->state;
  if (!is_generic_type(seg->type)) return VLT_ERR_ASSERT;
  Jb2GenericRegion& g = seg->body.generic;
  const VltImage* bm = seg->hasBitmap ? seg->bitmap : nullptr;
  if (g.data == nullptr) {
    // The region's pixels come from the bitmap, which must hold all of them.
    if (bm == nullptr || bm->hdr.type != VLT_IMAGE_PACKED ||
        seg->region.width > static_cast<uint32_t>(bm->hdr.width) ||
        seg->region.height > static_cast<uint32_t>(bm->hdr.height))
      return VLT_ERR_ASSERT;
    Layout unused{};
    if (!g.mmr && !make_layout(g.params, &unused)) return Vlt_report(state, VLT_ERR_PARAM);
  }
  seg->number = jb2FileNextSegmentNumber(file);
  seg->deferred = 0;
  seg->retain = 0;
  seg->referredCount = 0;
  if (const VltStatus st = jb2BeginSegment(file, seg); st != VLT_OK) return st;
  DataSink* sink = file->dataSink;
  if (const VltStatus st = jb2EncodeRegSegment(file, sink, &seg->region); st != VLT_OK) return st;
  const uint8_t flags =
      g.mmr ? 0x01 : static_cast<uint8_t>(g.params.gbTemplate << 1 | (g.params.tpgdon ? 0x08 : 0));
  if (const VltStatus st = jb2WriteU8(file, sink, flags); st != VLT_OK) return st;
  if (!g.mmr) {
    if (const VltStatus st = jb2EncodeABParams(file, sink, &g.params); st != VLT_OK) return st;
  }

  VltStatus st = VLT_OK;
  const auto w = static_cast<int32_t>(seg->region.width);
  const auto h = static_cast<int32_t>(seg->region.height);
  if (g.data != nullptr) {
    st = jb2WriteBytes(file, sink, g.data, g.dataLength);
  } else if (g.mmr) {
    st = jb2MMREncodeDS(file, sink, h > 0 ? bm->rows[0] : nullptr, w, h, bm->hdr.bytesPerLine / 4,
                        0);
  } else {
    auto* cx = static_cast<uint8_t*>(state->calloc(jb2ABContextsNeeded(&g.params), 1));
    if (cx == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
    MqEncoder enc;
    dsInitVltEncode_MQEncoder(sink, &enc);
    st = code_bitmap(RowSource{bm->rows, nullptr, 0}, w, h, &g.params, cx, &enc, state);
    state->free(cx);
    if (st == VLT_OK) st = dsFinalVltEncode_MQEncoder(sink, &enc);
  }
  if (st != VLT_OK) return st;
  return jb2EndSegment(file, seg);
}
