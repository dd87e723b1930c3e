// Nearest-pixel rescaling through scale-to-size tables. All position arithmetic is done once,
// in the tables, with 64-bit 16.16 steps so that no source size overflows it.

#include "i_rescale.h"

#include <climits>
#include <cstring>

#include "byteorder.h"
#include "exptable.h"
#include "i_thresh.h"
#include "i_depth.h"
#include "ip_internal.h"
#include "ipcore.h"

namespace {

constexpr bool scale_depth(int32_t d) { return d == 1 || d == 2 || d == 4 || d == 8; }

enum Header { kDstW, kXBytes, kDstH, kYBytes, kShiftBytes, kShiftBytes2, kHeaderWords };
constexpr size_t kHeaderBytes = kHeaderWords * 4;

// The block is caller memory of any alignment.
int32_t word_at(const void* block, size_t byteOffset) {
  int32_t v;
  std::memcpy(&v, static_cast<const uint8_t*>(block) + byteOffset, 4);
  return v;
}
void put_word(void* block, size_t byteOffset, int32_t v) {
  std::memcpy(static_cast<uint8_t*>(block) + byteOffset, &v, 4);
}

struct TableSizes {
  size_t x, y, shift;
  size_t total() const { return kHeaderBytes + x + y + shift; }
};
TableSizes table_sizes(int32_t depth, int32_t dstW, int32_t dstH) {
  const size_t w = dstW > 0 ? size_t(dstW) : 0, h = dstH > 0 ? size_t(dstH) : 0;
  return {4 * w, 4 * h, depth == 2 || depth == 4 ? w : 0};
}
// The header holds the table lengths in 32-bit words.
bool fits_header(int32_t dstW, int32_t dstH) { return dstW <= INT32_MAX / 4 && dstH <= INT32_MAX / 4; }

// A read-only view of a filled block.
struct Tables {
  int32_t dstW, dstH, shiftBytes;
  const uint8_t* x;  // int32 entries
  const uint8_t* y;  // int32 entries
  const uint8_t* shift;
  int32_t xAt(int32_t i) const { return word_at(x, 4 * size_t(i)); }
  int32_t yAt(int32_t j) const { return word_at(y, 4 * size_t(j)); }
};
Tables view(const void* block) {
  Tables t{};
  t.dstW = word_at(block, 4 * kDstW);
  t.dstH = word_at(block, 4 * kDstH);
  t.shiftBytes = word_at(block, 4 * kShiftBytes);
  const auto* b = static_cast<const uint8_t*>(block);
  t.x = b + kHeaderBytes;
  t.y = t.x + size_t(word_at(block, 4 * kXBytes));
  t.shift = t.y + size_t(word_at(block, 4 * kYBytes));
  return t;
}

// The source pixel a column's entries name, or -1 for entries that name none.
int64_t source_pixel(int32_t depth, int32_t x, int32_t shift) {
  if (depth == 4) return shift == 4 ? 2 * int64_t{x} : shift == 0 ? 2 * int64_t{x} + 1 : -1;
  if (depth == 2) return (shift & 1) || shift < 0 || shift > 6 ? -1 : 4 * int64_t{x} + (6 - shift) / 2;
  return x;
}

// True when none of the source bytes first..last holds an ON pixel.
bool blank_bytes(const uint8_t* s, size_t first, size_t last) {
  for (; first + 8 <= last + 1; first += 8)
    if (mono::load_be64(s + first)) return false;
  for (; first <= last; ++first)
    if (s[first]) return false;
  return true;
}

// Assembles one destination line of dstW pixels from the source line through the x table,
// words from their most significant end. With columns in ascending order, a 1-bit word whose
// source span is blank is written without gathering its pixels: most of a page is paper.
void build_line(int32_t depth, const uint8_t* s, uint8_t* d, const Tables& t, int32_t regionX, int32_t dstW,
                bool ascending) {
  const uint8_t* xt = t.x + 4 * size_t(regionX);
  if (depth == 8) {
    for (int32_t i = 0; i < dstW; ++i) d[i] = s[word_at(xt, 4 * size_t(i))];
    return;
  }
  if (depth == 1) {
    constexpr size_t kLongestSpan = 16;  // bytes worth testing before gathering
    for (int32_t i0 = 0; i0 < dstW; i0 += 32) {
      const int32_t n = dstW - i0 < 32 ? dstW - i0 : 32;
      if (ascending) {
        const auto first = size_t(word_at(xt, 4 * size_t(i0))) >> 3;
        const auto last = size_t(word_at(xt, 4 * size_t(i0 + n - 1))) >> 3;
        if (last - first < kLongestSpan && blank_bytes(s, first, last)) {
          mono::store_be32(d + i0 / 8, 0);
          continue;
        }
      }
      uint32_t word = 0;
      for (int32_t k = 0; k < n; ++k) {
        const auto x = static_cast<uint32_t>(word_at(xt, 4 * size_t(i0 + k)));
        word |= uint32_t(s[x >> 3] >> (7 - (x & 7)) & 1) << (31 - k);
      }
      mono::store_be32(d + i0 / 8, word);
    }
    return;
  }
  const uint8_t* st = t.shift + regionX;
  const int32_t perWord = 32 / depth;
  const uint32_t mask = (1u << depth) - 1;
  for (int32_t i0 = 0; i0 < dstW; i0 += perWord) {
    const int32_t n = dstW - i0 < perWord ? dstW - i0 : perWord;
    uint32_t word = 0;
    for (int32_t k = 0; k < n; ++k)
      word |= (uint32_t{s[word_at(xt, 4 * size_t(i0 + k))]} >> st[i0 + k] & mask) << (32 - depth * (k + 1));
    mono::store_be32(d + size_t(i0) * size_t(depth) / 8, word);
  }
}

// Bytes a built line occupies: whole words at 1, 2 and 4 bpp, the pixels alone at 8 bpp.
size_t built_bytes(int32_t depth, int32_t dstW) {
  if (depth == 8) return size_t(dstW);
  return (size_t(dstW) * size_t(depth) + 31) / 32 * 4;
}

// The interpolating kernels read every sample's right and lower neighbours, so the source
// lends them its frame column right of the image and frame line below it, filled with copies
// of the last column and line. What the frame held there is kept aside and given back on every
// path, so a failing call leaves the caller's frame as it was.
class BorrowedFrame {
 public:
  BorrowedFrame(IPState* state, uint8_t* src, int32_t srcW, int32_t srcH, int32_t bpl, int32_t depth)
      : state_(state), first_(src + ptrdiff_t{IP_FRAME} * bpl + 4 * depth), w_(srcW), h_(srcH), bpl_(bpl),
        depth_(depth), columnByte_(size_t(srcW) * size_t(depth) / 8), lineBytes_(columnByte_ + 1) {}
  ~BorrowedFrame() {
    if (!saved_) return;
    for (int32_t y = 0; y < h_; ++y) line(y)[columnByte_] = saved_[y];
    std::memcpy(line(h_), saved_ + h_, lineBytes_);
    ipcore::release(state_, IP_SLOT_RECORDS, saved_);
  }
  BorrowedFrame(const BorrowedFrame&) = delete;
  BorrowedFrame& operator=(const BorrowedFrame&) = delete;

  VltStatus extend() {
    saved_ = static_cast<uint8_t*>(ipcore::alloc(state_, IP_SLOT_RECORDS, size_t(h_) + lineBytes_));
    if (!saved_) return VLT_ERR_NOMEM;
    const auto d = static_cast<unsigned>(depth_);
    for (int32_t y = 0; y < h_; ++y) {
      saved_[y] = line(y)[columnByte_];
      mono::set_pixel(line(y), size_t(w_), d, mono::get_pixel(line(y), size_t(w_) - 1, d));
    }
    std::memcpy(saved_ + h_, line(h_), lineBytes_);
    std::memcpy(line(h_), line(h_ - 1), lineBytes_);
    return VLT_OK;
  }

 private:
  uint8_t* line(int32_t y) const { return first_ + ptrdiff_t{y} * bpl_; }

  IPState* state_;
  uint8_t* first_;
  int32_t w_, h_, bpl_, depth_;
  size_t columnByte_, lineBytes_;  // the byte holding column w_; the bytes of columns 0 to w_
  uint8_t* saved_ = nullptr;
};

// Work memory of one call through slot 0.
template <class T>
struct SlotBlock {
  IPState* state;
  T* p = nullptr;
  explicit SlotBlock(IPState* s) : state(s) {}
  ~SlotBlock() { ipcore::release(state, IP_SLOT_RECORDS, p); }
  SlotBlock(const SlotBlock&) = delete;
  SlotBlock& operator=(const SlotBlock&) = delete;
};

// Ratios beyond this would overflow the steps' integer parts.
constexpr float kMaxShrink = 65536.0f;

VltStatus arb_rescale(IPState* state, uint8_t* src, int32_t srcW, int32_t srcH, int32_t srcBpl, int32_t depth,
                      uint8_t* dst, int32_t dstW, int32_t dstH, int32_t dstBpl) {
  const float qx = static_cast<float>(srcW) / static_cast<float>(dstW);
  const float qy = static_cast<float>(srcH) / static_cast<float>(dstH);
  if (!(qx < kMaxShrink) || !(qy < kMaxShrink)) return IP_FAIL(state, VLT_ERR_PARAM);
  const auto xstep = static_cast<uint32_t>(qx * 16384.0f);
  const auto ystep = static_cast<uint32_t>(qy * 2048.0f);

  SlotBlock<uint16_t> weights(state);
  SlotBlock<uint8_t> codes(state);
  if (VltStatus s = ip_make8bppRescaleTable(state, &weights.p, &codes.p, dstW, xstep)) return s;
  BorrowedFrame frame(state, src, srcW, srcH, srcBpl, depth);
  if (VltStatus s = frame.extend()) return IP_FAIL(state, s);

  const uint8_t* srcFirst = src + ptrdiff_t{IP_FRAME} * srcBpl + 4 * depth;
  uint8_t* const dstFirst = dst + ptrdiff_t{IP_FRAME} * dstBpl + 4 * depth;
  int64_t line = 0;  // source line of the current destination line
  uint32_t acc = 0;  // its position below that line, 11 fraction bits
  const auto advance = [&](uint32_t lines) {
    acc = acc % 2048 + lines * ystep;
    line += acc / 2048;
  };

  if (depth == 8) {
    uint8_t* d = dstFirst;
    int32_t remaining = dstH - 3;
    while (remaining > 0) {
      const uint8_t* s = srcFirst + line * srcBpl;
      if (acc % 2048 + 3 * ystep < 2048) {
        ip_arbRescale8bppFourLines(state, s, srcBpl, d, dstW, xstep, acc % 2048, weights.p, codes.p, dstBpl, ystep);
        d += ptrdiff_t{4} * dstBpl, remaining -= 4;
        advance(4);
      } else {
        ip_arbRescale8bppOneLine(state, s, srcBpl, d, dstW, xstep, acc % 2048, weights.p, codes.p);
        d += dstBpl, remaining -= 1;
        advance(1);
      }
    }
    for (int32_t n = remaining + 3; n > 0; --n, d += dstBpl) {
      ip_arbRescale8bppOneLine(state, srcFirst + line * srcBpl, srcBpl, d, dstW, xstep, acc % 2048, weights.p,
                               codes.p);
      advance(1);
    }
  } else {
    // Each line goes through 8 bpp: the current and next source lines expanded side by side
    // (L bytes apart, first pixels 32 bytes in), interpolated into a line buffer, reduced back.
    const size_t L = (size_t(srcW) + 64 + 3) / 4 * 4;
    SlotBlock<uint8_t> pair(state), out(state), table(state);
    pair.p = static_cast<uint8_t*>(ipcore::alloc_zeroed(state, IP_SLOT_RECORDS, 2 * L, 1));
    if (!pair.p) return VLT_ERR_NOMEM;
    out.p = static_cast<uint8_t*>(ipcore::alloc_zeroed(state, IP_SLOT_RECORDS, (size_t(dstW) + 64 + 3) / 4 * 4, 1));
    if (!out.p) return VLT_ERR_NOMEM;
    size_t tableBytes = 0;
    VltStatus ts = i_getExpandTableSizes(state, 2, 4, &tableBytes);
    if (ts == VLT_OK) {
      table.p = static_cast<uint8_t*>(ipcore::alloc(state, IP_SLOT_RECORDS, tableBytes));
      ts = table.p ? i_fillExp2LUT(state, 4, table.p) : VLT_ERR_NOMEM;
    }
    if (ts != VLT_OK) {
      i_printErrorInfo(state, __FILE__, __LINE__, ts);
      return IP_FAIL(state, VLT_ERR_YIELD_ABORT);
    }
    // Framed views of single lines: a line buffer with 0 bytes per line is its own frame.
    const auto framed4 = [&](int64_t y) { return srcFirst + y * srcBpl - ptrdiff_t{IP_FRAME} * srcBpl - 16; };
    uint8_t* d = dstFirst;
    for (int32_t j = 0; j < dstH; ++j, d += dstBpl) {
      i_depth4To8bpp(state, framed4(line), srcW + 1 + 64, 65, srcBpl, pair.p, 0, table.p);
      i_depth4To8bpp(state, framed4(line + 1), srcW + 1 + 64, 65, srcBpl, pair.p + L, 0, table.p);
      ip_arbRescale8bppOneLine(state, pair.p + 32, static_cast<int32_t>(L), out.p + 32, dstW, xstep, acc % 2048,
                               weights.p, codes.p);
      i_threshold8To4bpp(state, out.p, dstW + 64, 65, 0, d - ptrdiff_t{IP_FRAME} * dstBpl - 16, dstBpl);
      advance(1);
    }
  }
  return ip_clearRightFrame(state, dstFirst, dstW, dstH, static_cast<uint32_t>(dstBpl), depth);
}

VltStatus area_map(IPState* state, const uint8_t* src, int32_t srcW, int32_t srcH, int32_t srcBpl, uint8_t* dst,
                   int32_t dstW, int32_t dstH, int32_t dstBpl) {
  const auto xratio = static_cast<uint32_t>(static_cast<float>(dstW) / static_cast<float>(srcW) * 65536.0f);
  const auto yratio = static_cast<uint32_t>(static_cast<float>(dstH) / static_cast<float>(srcH) * 65536.0f);
  // Source columns or lines per inserted destination column or line; equal sizes insert none.
  const int64_t xins = dstW == srcW ? int64_t{dstW} << 16
                                    : static_cast<int64_t>(static_cast<float>(srcW) / static_cast<float>(dstW - srcW) *
                                                           65536.0f);
  const int64_t yins = dstH == srcH ? (int64_t{srcH} + 1) << 16
                                    : static_cast<int64_t>(static_cast<float>(srcH) / static_cast<float>(dstH - srcH) *
                                                           65536.0f);
  SlotBlock<uint32_t> weights(state);
  SlotBlock<uint8_t> codes(state);
  if (VltStatus s = ip_make8bppAreaMapTable(state, &weights.p, &codes.p, dstW, dstH, xratio, yratio, xins)) return s;

  const uint8_t* s = src + ptrdiff_t{IP_FRAME} * srcBpl + 32;
  uint8_t* const dstFirst = dst + ptrdiff_t{IP_FRAME} * dstBpl + 32;
  uint8_t* d = dstFirst;
  uint64_t yacc = 0;
  int64_t ycount = yins;
  int32_t made = 0;
  const auto make = [&](const uint8_t* line) {
    ip_areaMap8bppLine(state, line, srcBpl, d, dstW, 0, yacc, xratio, xins, weights.p, codes.p);
    d += dstBpl, ++made;
  };
  // Rounding of the ratios can ask for one line more than the destination has: it is not made.
  for (int32_t i = 0; i < srcH && made < dstH; ++i, s += srcBpl) {
    ycount -= 65536;
    make(s);
    yacc += yratio;
    if (ycount < 65536 && made < dstH) {
      yacc &= ~uint64_t{0xFFFF};
      ycount = (ycount & 0xFFFF) + yins;
      make(s);
    }
  }
  return ip_clearRightFrame(state, dstFirst, dstW, dstH, static_cast<uint32_t>(dstBpl), 8);
}

}  // namespace

extern "C" {

VltStatus ip_getAllScaleToSizeTableSizes(IPState*, int32_t depth, int32_t dstW, int32_t dstH, size_t* xBytes,
                                         size_t* yBytes, size_t* shiftBytes) {
  const TableSizes s = table_sizes(depth, dstW, dstH);
  if (xBytes) *xBytes = s.x;
  if (yBytes) *yBytes = s.y;
  if (shiftBytes) *shiftBytes = s.shift;
  return VLT_OK;
}

VltStatus i_getScaleToSizeTableSize(IPState*, int32_t depth, int32_t dstW, int32_t dstH, size_t* size) {
  if (!size || dstW <= 0 || dstH < 1 || !fits_header(dstW, dstH)) return VLT_ERR_PARAM;
  if (!scale_depth(depth)) return VLT_ERR_DEPTH;
  *size = table_sizes(depth, dstW, dstH).total();
  return VLT_OK;
}

VltStatus i_fillScaleToSizeTables(IPState* state, int32_t srcW, int32_t srcH, int32_t srcBpl, int32_t depth,
                                  int32_t dstW, int32_t dstH, size_t capacity, void* block) {
  if (!block || dstW < 1 || dstH < 1 || !fits_header(dstW, dstH)) return IP_FAIL(state, VLT_ERR_PARAM);
  const TableSizes sizes = table_sizes(depth, dstW, dstH);
  if (sizes.total() > capacity) return IP_FAIL(state, VLT_ERR_PARAM);
  put_word(block, 4 * kDstW, dstW);
  put_word(block, 4 * kXBytes, static_cast<int32_t>(sizes.x));
  put_word(block, 4 * kDstH, dstH);
  put_word(block, 4 * kYBytes, static_cast<int32_t>(sizes.y));
  put_word(block, 4 * kShiftBytes, static_cast<int32_t>(sizes.shift));
  put_word(block, 4 * kShiftBytes2, static_cast<int32_t>(sizes.shift));
  if (!scale_depth(depth)) return IP_FAIL(state, VLT_ERR_PARAM);
  // An empty source has no pixel to name, and every line offset must fit its 32-bit entry.
  if (srcW < 1 || srcH < 1 || int64_t{srcH - 1} * srcBpl > INT32_MAX || int64_t{srcH - 1} * srcBpl < INT32_MIN)
    return IP_FAIL(state, VLT_ERR_PARAM);

  auto* x = static_cast<uint8_t*>(block) + kHeaderBytes;
  uint8_t* y = x + sizes.x;
  uint8_t* shift = y + sizes.y;
  const int64_t xstep = (int64_t{srcW} << 16) / dstW;
  const int64_t ystep = (int64_t{srcH} << 16) / dstH;
  int64_t pos = 0;
  for (int32_t i = 0; i < dstW; ++i, pos += xstep) {
    const auto P = static_cast<int32_t>(pos >> 16);
    switch (depth) {
      case 4:
        put_word(x, 4 * size_t(i), P / 2);
        shift[i] = P % 2 == 0 ? 4 : 0;
        break;
      case 2:
        put_word(x, 4 * size_t(i), P / 4);
        shift[i] = static_cast<uint8_t>(6 - 2 * (P % 4));
        break;
      default:
        put_word(x, 4 * size_t(i), P);
    }
  }
  pos = 0;
  for (int32_t j = 0; j < dstH; ++j, pos += ystep)
    put_word(y, 4 * size_t(j), static_cast<int32_t>((pos >> 16) * srcBpl));
  return VLT_OK;
}

VltStatus i_getDimensionsFromScalingTables(IPState* state, const void* block, int32_t* dstW, int32_t* dstH) {
  if (!block || !dstW || !dstH) return IP_FAIL(state, VLT_ERR_PARAM);
  *dstW = word_at(block, 4 * kDstW);
  *dstH = word_at(block, 4 * kDstH);
  return VLT_OK;
}

VltStatus i_rescaleNoInterpSubRegion(IPState* state, const uint8_t* src, int32_t srcFW, int32_t srcFH,
                                     int32_t srcBpl, int32_t srcDepth, const void* block, uint8_t* dst,
                                     int32_t regionX, int32_t regionY, int32_t dstFW, int32_t dstFH, int32_t dstBpl,
                                     int32_t dstDepth) {
  if (!scale_depth(srcDepth) || srcDepth != dstDepth) return IP_FAIL(state, VLT_ERR_DEPTH);
  if (!block || !src || !dst) return IP_FAIL(state, VLT_ERR_PARAM);
  const int32_t depth = srcDepth;
  const int32_t srcW = srcFW - 64, srcH = srcFH - 64, dstW = dstFW - 64, dstH = dstFH - 64;
  if (dstW < 1 || dstH < 1) return VLT_OK;
  const Tables t = view(block);
  if (regionX < 0 || regionY < 0 || int64_t{regionX} + dstW > t.dstW || int64_t{regionY} + dstH > t.dstH ||
      ((depth == 2 || depth == 4) && int64_t{regionX} + dstW > t.shiftBytes))
    return IP_FAIL(state, VLT_ERR_PARAM);
  // Every entry used must name a pixel of the source, so that no table can send a read outside it.
  bool ascending = true;
  for (int32_t i = regionX, previous = 0; i < regionX + dstW; ++i) {
    const int32_t x = t.xAt(i);
    const int64_t p = source_pixel(depth, x, depth == 2 || depth == 4 ? t.shift[i] : 0);
    if (p < 0 || p > int64_t{srcW} - 1) return IP_FAIL(state, VLT_ERR_PARAM);
    ascending = ascending && x >= previous;
    previous = x;
  }
  const int64_t lastLine = (int64_t{srcH} - 1) * srcBpl;
  for (int32_t j = regionY; j < regionY + dstH; ++j)
    if (t.yAt(j) < 0 || t.yAt(j) > lastLine) return IP_FAIL(state, VLT_ERR_PARAM);

  const uint8_t* srcFirst = src + ptrdiff_t{IP_FRAME} * srcBpl + 4 * depth;
  uint8_t* d = dst + ptrdiff_t{IP_FRAME} * dstBpl + 4 * depth;
  const size_t lineBytes = built_bytes(depth, dstW);
  for (int32_t j = 0; j < dstH; ++j, d += dstBpl) {
    const int32_t y = t.yAt(regionY + j);
    if (j > 0 && y == t.yAt(regionY + j - 1))
      std::memcpy(d, d - dstBpl, lineBytes);
    else
      build_line(depth, srcFirst + y, d, t, regionX, dstW, ascending);
  }
  return VLT_OK;
}

VltStatus i_rescaleNoInterp(IPState* state, const uint8_t* src, int32_t srcFW, int32_t srcFH, int32_t srcBpl,
                            int32_t srcDepth, uint8_t* dst, int32_t dstFW, int32_t dstFH, int32_t dstBpl,
                            int32_t dstDepth) {
  if (!scale_depth(srcDepth) || srcDepth != dstDepth) return IP_FAIL(state, VLT_ERR_DEPTH);
  size_t size = 0;
  if (VltStatus s = i_getScaleToSizeTableSize(state, srcDepth, dstFW - 64, dstFH - 64, &size)) return IP_FAIL(state, s);
  if (!state) return IP_FAIL(state, VLT_ERR_NOMEM);
  void* block = ipcore::alloc(state, IP_SLOT_RECORDS, size);
  if (!block) return IP_FAIL(state, VLT_ERR_NOMEM);
  VltStatus s = i_fillScaleToSizeTables(state, srcFW - 64, srcFH - 64, srcBpl, srcDepth, dstFW - 64, dstFH - 64,
                                        size, block);
  if (s == VLT_OK)
    s = i_rescaleNoInterpSubRegion(state, src, srcFW, srcFH, srcBpl, srcDepth, block, dst, 0, 0, dstFW, dstFH, dstBpl,
                                   dstDepth);
  ipcore::release(state, IP_SLOT_RECORDS, block);
  return s == VLT_OK ? s : IP_FAIL(state, s);
}

VltStatus i_rescaleArb(IPState* state, uint8_t* src, int32_t srcFW, int32_t srcFH, int32_t srcBpl, int32_t srcDepth,
                       uint8_t* dst, int32_t dstFW, int32_t dstFH, int32_t dstBpl, int32_t dstDepth) {
  if (srcDepth != dstDepth || (srcDepth != 8 && srcDepth != 4)) return IP_FAIL(state, VLT_ERR_DEPTH);
  const int32_t srcW = srcFW - 64, srcH = srcFH - 64, dstW = dstFW - 64, dstH = dstFH - 64;
  if (!src || !dst || srcW < 1 || srcH < 1 || dstW < 1 || dstH < 1) return IP_FAIL(state, VLT_ERR_PARAM);
  if (!state) return IP_FAIL(state, VLT_ERR_NOMEM);
  return arb_rescale(state, src, srcW, srcH, srcBpl, srcDepth, dst, dstW, dstH, dstBpl);
}

VltStatus i_rescaleAreaMap(IPState* state, const uint8_t* src, int32_t srcFW, int32_t srcFH, int32_t srcBpl,
                           int32_t srcDepth, uint8_t* dst, int32_t dstFW, int32_t dstFH, int32_t dstBpl,
                           int32_t dstDepth) {
  if (srcDepth != 8 || dstDepth != 8) return IP_FAIL(state, VLT_ERR_DEPTH);
  const int32_t srcW = srcFW - 64, srcH = srcFH - 64, dstW = dstFW - 64, dstH = dstFH - 64;
  // Enlargement by 1 to 2 times in each direction only.
  if (!src || !dst || srcW < 1 || srcH < 1 || dstW < srcW || dstH < srcH || dstW > 2 * int64_t{srcW} ||
      dstH > 2 * int64_t{srcH})
    return IP_FAIL(state, VLT_ERR_PARAM);
  if (!state) return IP_FAIL(state, VLT_ERR_NOMEM);
  return area_map(state, src, srcW, srcH, srcBpl, dst, dstW, dstH, dstBpl);
}

}  // extern "C"
