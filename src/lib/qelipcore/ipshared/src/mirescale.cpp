// Bilinear rescaling at 8 bpp: weight table and line kernels. Every product is in the table:
// an entry holds a neighbour's contribution to a destination pixel for one x eighth, one y
// eighth and one 7-bit pixel value, and, in its low byte, the contribution to the pixel one
// destination step later, so two pixels over the same source pair cost one set of lookups.

#include <cstdint>

#include "byteorder.h"
#include "i_rescale.h"
#include "ip_internal.h"

namespace {

constexpr int32_t kQuarter = 8192;  // entries per neighbour
enum { kTopLeft, kTopRight, kBottomLeft, kBottomRight };

// Pixels of a four-pixel word that take the low bytes of the previous pixel's lookup, by code.
constexpr uint8_t kShared[5] = {0b1010, 0b0010, 0b0100, 0b1000, 0b0000};

// The eighth of the position one destination step after eighth kx, to the nearest eighth but
// never wrapping into the next source pixel.
unsigned companion_eighth(uint32_t xstep, unsigned kx) {
  const uint32_t v = xstep + 2048 * kx;
  unsigned kb = ((v + 1024) / 2048) % 8;
  if (kb == 0 && (v / 2048) % 8 == 7) kb = 7;
  return kb;
}

// N destination lines at y eighths ky over the source line pair at src.
template <int N>
void arb_lines(const uint8_t* src, int32_t srcBpl, uint8_t* dst, int32_t dstBpl, int32_t dstW, uint32_t xstep,
               const unsigned (&ky)[N], const uint16_t* weights, const uint8_t* codes) {
  size_t xi = 0;  // source pixel of the current position
  uint32_t frac = 0;
  for (int32_t x0 = 0, g = 0; x0 < dstW; x0 += 4, ++g) {
    const uint8_t shared = kShared[codes[g] < 5 ? codes[g] : 4];
    uint32_t out[N] = {}, low[N] = {};
    for (int k = 0; k < 4; ++k) {
      // Pixels past the width are left 0 and read nothing: their positions may lie beyond
      // the source's added column.
      if (x0 + k < dstW) {
        const unsigned shift = 24 - 8 * static_cast<unsigned>(k);
        if (shared >> k & 1) {
          for (int n = 0; n < N; ++n) out[n] |= low[n] << shift;
        } else {
          const uint8_t* p = src + xi;
          const unsigned tl = p[0] >> 1, tr = p[1] >> 1, bl = p[srcBpl] >> 1, br = p[srcBpl + 1] >> 1;
          const unsigned kx = frac >> 11;
          for (int n = 0; n < N; ++n) {
            const uint16_t* w = weights + kx * 1024 + ky[n] * 128;
            // Each byte's four contributions sum to at most 254, so they never carry.
            const uint32_t sum = uint32_t{w[kTopLeft * kQuarter + tl]} + w[kTopRight * kQuarter + tr] +
                                 w[kBottomLeft * kQuarter + bl] + w[kBottomRight * kQuarter + br];
            out[n] |= (sum >> 8) << shift;
            low[n] = sum & 0xFF;
          }
        }
      }
      frac += xstep;
      xi += frac >> 14;
      frac &= 16383;
    }
    for (int n = 0; n < N; ++n) mono::store_be32(dst + ptrdiff_t{n} * dstBpl + 4 * g, out[n]);
  }
}

}  // namespace

extern "C" {

VltStatus ip_make8bppRescaleTable(IPState* state, uint16_t** weights, uint8_t** codes, int32_t dstW, uint32_t xstep) {
  if (!weights || !codes) return IP_FAIL(state, VLT_ERR_NULL);
  *weights = nullptr;
  *codes = nullptr;
  if (!state || dstW < 1) return IP_FAIL(state, !state ? VLT_ERR_NOMEM : VLT_ERR_PARAM);
  auto* w = static_cast<uint16_t*>(ipcore::alloc_zeroed(state, IP_SLOT_RECORDS, 4 * kQuarter, sizeof(uint16_t)));
  if (!w) return IP_FAIL(state, VLT_ERR_NOMEM);
  auto* c = static_cast<uint8_t*>(ipcore::alloc(state, IP_SLOT_RECORDS, size_t(dstW) / 4 + 1));
  if (!c) {
    ipcore::release(state, IP_SLOT_RECORDS, w);
    return IP_FAIL(state, VLT_ERR_NOMEM);
  }

  float W[8];
  for (int k = 0; k < 8; ++k) W[k] = 1.0f - static_cast<float>(k) / 8.0f;
  for (unsigned kx = 0; kx < 8; ++kx) {
    const unsigned kb = companion_eighth(xstep, kx);
    for (unsigned ky = 0; ky < 8; ++ky) {
      const float wy = W[ky];
      for (int p = 0; p < 256; p += 2) {
        const auto pf = static_cast<float>(p);
        const auto a = static_cast<int>(pf * W[kx]), b = static_cast<int>(pf * W[kb]);
        const auto at = static_cast<int>(static_cast<float>(a) * wy), bt = static_cast<int>(static_cast<float>(b) * wy);
        const int ra = p - a, rb = p - b;
        const auto rat = static_cast<int>(static_cast<float>(ra) * wy), rbt = static_cast<int>(static_cast<float>(rb) * wy);
        const size_t i = kx * 1024 + ky * 128 + static_cast<size_t>(p / 2);
        w[kTopLeft * kQuarter + i] = static_cast<uint16_t>(at << 8 | bt);
        w[kBottomLeft * kQuarter + i] = static_cast<uint16_t>((a - at) << 8 | (b - bt));
        w[kTopRight * kQuarter + i] = static_cast<uint16_t>(rat << 8 | rbt);
        w[kBottomRight * kQuarter + i] = static_cast<uint16_t>((ra - rat) << 8 | (rb - rbt));
      }
    }
  }

  // Which pixels of each four-pixel word share a source pair with the pixel before them.
  uint32_t f = 0;
  for (int32_t g = 0; g < (dstW + 3) / 4; ++g) {
    const uint32_t p1 = f + xstep;
    const uint32_t p3 = (((p1 % 16384) + xstep) % 16384) + xstep;
    uint8_t code;
    if (p1 < 16384)
      code = p3 < 16384 ? 0 : 1;
    else if ((p1 % 16384) + xstep < 16384)
      code = 2;
    else
      code = p3 >= 16384 ? 4 : 3;
    c[g] = code;
    f = (p3 + xstep) % 16384;
  }
  *weights = w;
  *codes = c;
  return VLT_OK;
}

void ip_arbRescale8bppOneLine(IPState*, const uint8_t* src, int32_t srcBpl, uint8_t* dst, int32_t dstW, uint32_t xstep,
                              uint32_t acc, const uint16_t* weights, const uint8_t* codes) {
  const unsigned ky[1] = {(acc >> 8) & 7};
  arb_lines<1>(src, srcBpl, dst, 0, dstW, xstep, ky, weights, codes);
}

void ip_arbRescale8bppFourLines(IPState*, const uint8_t* src, int32_t srcBpl, uint8_t* dst, int32_t dstW,
                                uint32_t xstep, uint32_t acc, const uint16_t* weights, const uint8_t* codes,
                                int32_t dstBpl, uint32_t ystep) {
  const unsigned ky[4] = {(acc >> 8) & 7, ((acc + ystep) >> 8) & 7, ((acc + 2 * ystep) >> 8) & 7,
                          ((acc + 3 * ystep) >> 8) & 7};
  arb_lines<4>(src, srcBpl, dst, dstBpl, dstW, xstep, ky, weights, codes);
}

}  // extern "C"
