// High-pass, band-pass and per-pixel threshold binarization of 8- and 4-bit images: lane tests
// on whole source words, gathered and put into pixel order through a binarization table set.

#include <climits>
#include <cstring>

#include "i_rescale.h"
#include "i_thresh.h"
#include "ip_binset.h"
#include "ip_internal.h"
#include "ipcore.h"

namespace {

struct LineOffsets {
  int32_t D, G, L;
};
// Output words of 32 pixels from 8- or 4-bit source words.
LineOffsets line_offsets(int32_t w, int32_t srcDepth) {
  const int32_t last = (w - 1) >> 5;
  return srcDepth == 8 ? LineOffsets{last * 4, last * 32, ((w - 1) >> 2) * 4}
                       : LineOffsets{last * 4, last * 16, ((w - 1) >> 3) * 4};
}

// Lane words: the value (low bits kept to the lane) in every byte or nibble.
uint32_t bytes_of(int32_t v) { return (static_cast<uint32_t>(v) & 0xFF) * 0x01010101u; }
uint32_t nibbles_of(int32_t v) { return (static_cast<uint32_t>(v) & 0xF) * 0x11111111u; }

struct Member {
  int32_t srcDepth;
  bool inverted;  // inverted tables when the call makes them
  ipcore::FillSet fill;
  bool clearsRightFrame;
};

// line(srcLine, dstLine, offsets, tables) runs one line.
template <class Line>
VltStatus filter_image(IPState* state, const Member& m, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl,
                       uint8_t* dst, int32_t dstBpl, std::array<const uint32_t*, 4> given, Line line) {
  const int32_t w = W - 64, h = H - 64;
  if (w < 1) return VLT_OK;
  ipcore::BinarizationSet set(state);
  if (VltStatus s = set.acquire(given, m.srcDepth, 1, m.inverted, m.fill)) return s;
  const LineOffsets o = line_offsets(w, m.srcDepth);
  const uint8_t* s = src + ptrdiff_t{IP_FRAME} * srcBpl + 4 * m.srcDepth;
  uint8_t* const first = dst + ptrdiff_t{IP_FRAME} * dstBpl + 4;
  uint8_t* d = first;
  for (int32_t y = 0; y < h; ++y, s += srcBpl, d += dstBpl) line(s, d, o, set);
  if (m.clearsRightFrame) return ip_clearRightFrame(state, first, w, h, static_cast<uint32_t>(dstBpl), 1);
  return VLT_OK;
}

constexpr Member kHigh8{8, false, i_fillBinarizationTables, false};
constexpr Member kHigh8I{8, true, i_fillInvBinarizationTables, true};
constexpr Member kHigh4{4, false, i_fill4To1BinarizationTables, false};
constexpr Member kHigh4I{4, true, i_fill4To1InvBinarizationTables, true};
constexpr Member kBand8{8, false, i_fillBinarizationTables, false};
constexpr Member kBand8I{8, true, i_fillInvBinarizationTables, true};
constexpr Member kBand4{4, false, i_fill4To1BinarizationTables, true};
constexpr Member kBand4I{4, true, i_fill4To1InvBinarizationTables, true};

VltStatus highpass8(IPState* state, const Member& m, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl,
                    int32_t t, uint8_t* dst, int32_t dstBpl, std::array<const uint32_t*, 4> given) {
  // The guard bit of the general kernel costs the pixel's low bit; 128 is the plain top-bit test.
  if (t == 128)
    return filter_image(state, m, src, W, H, srcBpl, dst, dstBpl, given,
                        [state](const uint8_t* s, uint8_t* d, const LineOffsets& o, const ipcore::BinarizationSet& k) {
                          ip_toBinary128Line(state, s, d, o.D, o.G, o.L, k[0], k[1], k[2], k[3]);
                        });
  const uint32_t threshold = (bytes_of(t) >> 1) & 0x7F7F7F7Fu;
  return filter_image(state, m, src, W, H, srcBpl, dst, dstBpl, given,
                      [=](const uint8_t* s, uint8_t* d, const LineOffsets& o, const ipcore::BinarizationSet& k) {
                        ip_toBinaryThreshLine(state, s, d, o.D, o.G, o.L, k[0], k[1], k[2], k[3], threshold);
                      });
}

VltStatus highpass4(IPState* state, const Member& m, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl,
                    int32_t t, uint8_t* dst, int32_t dstBpl, std::array<const uint32_t*, 4> given) {
  const uint32_t threshold = (nibbles_of(t) >> 1) & 0x77777777u;
  const uint32_t lowBit = nibbles_of(t) & 0x11111111u;
  return filter_image(state, m, src, W, H, srcBpl, dst, dstBpl, given,
                      [=](const uint8_t* s, uint8_t* d, const LineOffsets& o, const ipcore::BinarizationSet& k) {
                        ip_toBinaryFrom4bppThreshLine(state, s, d, o.D, o.G, o.L, k[0], k[1], k[2], k[3], threshold,
                                                      lowBit);
                      });
}

VltStatus bandpass8(IPState* state, const Member& m, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl,
                    int32_t low, int32_t high, uint8_t* dst, int32_t dstBpl, std::array<const uint32_t*, 4> given) {
  const uint32_t base = (bytes_of(low) >> 1) & 0x7F7F7F7Fu;
  const uint32_t width = (bytes_of(high - low) >> 1 & 0x7F7F7F7Fu) | 0x80808080u;
  return filter_image(state, m, src, W, H, srcBpl, dst, dstBpl, given,
                      [=](const uint8_t* s, uint8_t* d, const LineOffsets& o, const ipcore::BinarizationSet& k) {
                        ip_toBinaryBandPassLine(state, s, d, o.D, o.G, o.L, k[0], k[1], k[2], k[3], base, width);
                      });
}

VltStatus bandpass4(IPState* state, const Member& m, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl,
                    int32_t low, int32_t high, uint8_t* dst, int32_t dstBpl, std::array<const uint32_t*, 4> given) {
  const uint32_t base = (nibbles_of(low) >> 1) & 0x77777777u;
  const uint32_t width = (nibbles_of(high - low) >> 1 & 0x77777777u) | 0x88888888u;
  const int32_t mode = 2 * ((high - low) & 1) + (low & 1);
  return filter_image(state, m, src, W, H, srcBpl, dst, dstBpl, given,
                      [=](const uint8_t* s, uint8_t* d, const LineOffsets& o, const ipcore::BinarizationSet& k) {
                        ip_toBinaryFrom4bppBandpassLine(state, s, d, o.D, o.G, o.L, k[0], k[1], k[2], k[3], width,
                                                        base, mode);
                      });
}

}  // namespace

extern "C" {

VltStatus i_highpassfilt(IPState* state, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl, int32_t t,
                         uint8_t* dst, int32_t dstBpl, const uint32_t* t0, const uint32_t* t1, const uint32_t* t2,
                         const uint32_t* t3) {
  return highpass8(state, kHigh8, src, W, H, srcBpl, t, dst, dstBpl, {t0, t1, t2, t3});
}
VltStatus i_highpassfiltI(IPState* state, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl, int32_t t,
                          uint8_t* dst, int32_t dstBpl, const uint32_t* t0, const uint32_t* t1, const uint32_t* t2,
                          const uint32_t* t3) {
  return highpass8(state, kHigh8I, src, W, H, srcBpl, t, dst, dstBpl, {t0, t1, t2, t3});
}
VltStatus i_highpassfilt4To1bpp(IPState* state, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl, int32_t t,
                                uint8_t* dst, int32_t dstBpl, const uint32_t* t0, const uint32_t* t1,
                                const uint32_t* t2, const uint32_t* t3) {
  return highpass4(state, kHigh4, src, W, H, srcBpl, t, dst, dstBpl, {t0, t1, t2, t3});
}
VltStatus i_highpassfiltI4To1bpp(IPState* state, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl, int32_t t,
                                 uint8_t* dst, int32_t dstBpl, const uint32_t* t0, const uint32_t* t1,
                                 const uint32_t* t2, const uint32_t* t3) {
  return highpass4(state, kHigh4I, src, W, H, srcBpl, t, dst, dstBpl, {t0, t1, t2, t3});
}
VltStatus i_passfilt(IPState* state, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl, int32_t low,
                     int32_t high, uint8_t* dst, int32_t dstBpl, const uint32_t* t0, const uint32_t* t1,
                     const uint32_t* t2, const uint32_t* t3) {
  return bandpass8(state, kBand8, src, W, H, srcBpl, low, high, dst, dstBpl, {t0, t1, t2, t3});
}
VltStatus i_passfiltI(IPState* state, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl, int32_t low,
                      int32_t high, uint8_t* dst, int32_t dstBpl, const uint32_t* t0, const uint32_t* t1,
                      const uint32_t* t2, const uint32_t* t3) {
  return bandpass8(state, kBand8I, src, W, H, srcBpl, low, high, dst, dstBpl, {t0, t1, t2, t3});
}
VltStatus i_passfilt4To1bpp(IPState* state, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl, int32_t low,
                            int32_t high, uint8_t* dst, int32_t dstBpl, const uint32_t* t0, const uint32_t* t1,
                            const uint32_t* t2, const uint32_t* t3) {
  return bandpass4(state, kBand4, src, W, H, srcBpl, low, high, dst, dstBpl, {t0, t1, t2, t3});
}
VltStatus i_passfiltI4To1bpp(IPState* state, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl, int32_t low,
                             int32_t high, uint8_t* dst, int32_t dstBpl, const uint32_t* t0, const uint32_t* t1,
                             const uint32_t* t2, const uint32_t* t3) {
  return bandpass4(state, kBand4I, src, W, H, srcBpl, low, high, dst, dstBpl, {t0, t1, t2, t3});
}

VltStatus i_thresholdByPixel(IPState* state, const uint8_t* src, int32_t W, int32_t H, int32_t srcBpl,
                             const uint8_t* thr, int32_t thrW, int32_t thrH, int32_t thrBpl, int32_t polarity,
                             uint8_t* dst, int32_t dstBpl, const uint32_t* t0, const uint32_t* t1, const uint32_t* t2,
                             const uint32_t* t3) {
  const int32_t w = W - 64, h = H - 64;
  if (w < 1 || h < 1) return VLT_OK;
  const int32_t tw = thrW - 64, th = thrH - 64;
  if (tw < 1 || th < 1) return IP_FAIL(state, VLT_ERR_PARAM);
  ipcore::BinarizationSet set(state);
  if (VltStatus s = set.acquire({t0, t1, t2, t3}, 8, 1, polarity == 0,
                                polarity ? i_fillBinarizationTables : i_fillInvBinarizationTables))
    return s;
  const LineOffsets o = line_offsets(w, 8);
  const uint8_t* s = src + ptrdiff_t{IP_FRAME} * srcBpl + 32;
  const uint8_t* thrFirst = thr + ptrdiff_t{IP_FRAME} * thrBpl + 32;
  uint8_t* const first = dst + ptrdiff_t{IP_FRAME} * dstBpl + 4;
  uint8_t* d = first;

  if (w == tw && h == th) {
    const uint8_t* q = thrFirst;
    for (int32_t y = 0; y < h; ++y, s += srcBpl, q += thrBpl, d += dstBpl)
      ip_toBinaryByPixelLine(state, s, q, d, o.D, o.G, o.L, set[0], set[1], set[2], set[3]);
  } else {
    // The threshold image resampled one line at a time, rebuilt only when the mapped threshold
    // row changes; the padding past the width stays 0.
    if (!state) return IP_FAIL(state, VLT_ERR_NOMEM);
    const size_t lineBytes = (size_t(w) + 3) / 4 * 4;
    auto* scaled = static_cast<uint8_t*>(ipcore::alloc_zeroed(state, IP_SLOT_RECORDS, lineBytes, 1));
    if (!scaled) return IP_FAIL(state, VLT_ERR_NOMEM);
    size_t blockBytes = 0;
    void* block = nullptr;
    VltStatus status = i_getScaleToSizeTableSize(state, 8, w, h, &blockBytes);
    if (status == VLT_OK) {
      block = ipcore::alloc(state, IP_SLOT_RECORDS, blockBytes);
      if (!block) status = VLT_ERR_NOMEM;
    }
    if (status == VLT_OK) status = i_fillScaleToSizeTables(state, tw, th, thrBpl, 8, w, h, blockBytes, block);
    if (status == VLT_OK) {
      const auto* x = static_cast<const uint8_t*>(block) + 24;
      const uint8_t* yTable = x + 4 * size_t(w);
      int64_t remembered = -1;
      for (int32_t y = 0; y < h; ++y, s += srcBpl, d += dstBpl) {
        int32_t r;
        std::memcpy(&r, yTable + 4 * size_t(y), 4);
        if (r != remembered) {
          remembered = r;
          for (int32_t i = w - 1; i >= 0; --i) {
            int32_t xi;
            std::memcpy(&xi, x + 4 * size_t(i), 4);
            scaled[i] = thrFirst[r + xi];
          }
        }
        ip_toBinaryByPixelLine(state, s, scaled, d, o.D, o.G, o.L, set[0], set[1], set[2], set[3]);
      }
    }
    ipcore::release(state, IP_SLOT_RECORDS, block);
    ipcore::release(state, IP_SLOT_RECORDS, scaled);
    if (status != VLT_OK) return IP_FAIL(state, status);
  }
  return ip_clearRightFrame(state, first, w, h, static_cast<uint32_t>(dstBpl), 1);
}

}  // extern "C"
