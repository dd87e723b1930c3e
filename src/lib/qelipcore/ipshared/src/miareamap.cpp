// Area-mapped enlargement at 8 bpp: weight and code tables and the line kernel. A source pixel
// covers 1 to 2 destination pixels; a destination pixel that a source boundary crosses mixes
// the tail of one source pixel with the head of the next, and a destination pixel inside one
// source pixel is a copy of it. The table holds every product; one code per destination word,
// worked out once per image, says which of these each of its four pixels is.

#include <array>
#include <cstdint>

#include "byteorder.h"
#include "i_rescale.h"
#include "ip_internal.h"

namespace {

constexpr int32_t kHalf = 8192;  // entries of each half of the weight table
constexpr int32_t kOne = 16384;  // one destination pixel (or source pixel) in 2.14

inline size_t entry_index(unsigned xslot, unsigned yslot, unsigned halfValue) {
  return xslot * 1024 + yslot * 128 + halfValue;
}

// Share weights of the eight y slots: slot e serves a source line that begins e eighths into
// its destination line, slot 8 - e the line above it.
std::array<float, 8> y_weights(int32_t dstH, uint32_t yratio) {
  std::array<bool, 8> has{};
  std::array<uint32_t, 8> value{};
  const uint64_t ystep = yratio >> 5;
  int count = 0;
  uint64_t P = 0;
  for (int32_t n = 0; n < dstH && count < 8; ++n, P += ystep) {
    const auto e = static_cast<unsigned>(P >> 8 & 7);
    if (!has[e]) {
      has[e] = true;
      value[e] = static_cast<uint32_t>(P & 2047);
      ++count;
    }
    const unsigned e2 = (8 - e) & 7;
    if (!has[e2]) {
      has[e2] = true;
      value[e2] = static_cast<uint32_t>(2048 - (P & 2047));
      ++count;
    }
  }
  std::array<float, 8> wy{};
  for (unsigned b = 0; b < 8; ++b)
    wy[b] = has[b] ? 1.0f - static_cast<float>(value[b] % 2048) / 2048.0f : 1.0f - static_cast<float>(b) / 8.0f;
  return wy;
}

inline int product(int p, float w, float wy) { return static_cast<int>(static_cast<float>(p) * w * wy) & 255; }

}  // namespace

extern "C" {

VltStatus ip_make8bppAreaMapTable(IPState* state, uint32_t** weights, uint8_t** codes, int32_t dstW, int32_t dstH,
                                  uint32_t xratio, uint32_t yratio, int64_t xins) {
  if (!weights || !codes) return IP_FAIL(state, VLT_ERR_NULL);
  *weights = nullptr;
  *codes = nullptr;
  if (!state || dstW < 1) return IP_FAIL(state, !state ? VLT_ERR_NOMEM : VLT_ERR_PARAM);
  auto* table = static_cast<uint32_t*>(ipcore::alloc_zeroed(state, IP_SLOT_RECORDS, 8192, 4));
  if (!table) return IP_FAIL(state, VLT_ERR_NOMEM);
  auto* c = static_cast<uint8_t*>(ipcore::alloc(state, IP_SLOT_RECORDS, size_t(dstW) / 4 + 1));
  if (!c) {
    ipcore::release(state, IP_SLOT_RECORDS, table);
    return IP_FAIL(state, VLT_ERR_NOMEM);
  }
  // The words are only ever used as 16-bit entries.
  auto* h0 = reinterpret_cast<uint16_t*>(table);
  uint16_t* h1 = h0 + kHalf;

  const std::array<float, 8> wy = y_weights(dstH, yratio);
  const uint32_t xstep = xratio >> 2;
  std::array<bool, 8> filled{};
  int slots = 0;
  uint64_t X = 0;
  for (int32_t k = 0; k < dstW; ++k, X += xstep) {
    const auto a = static_cast<unsigned>(X >> 11 & 7);
    const auto fraction = static_cast<int64_t>(X % kOne);
    const float wa = 1.0f - static_cast<float>(fraction) / 16384.0f;
    const float wb = static_cast<float>(fraction + xstep - kOne) / 16384.0f;
    if (!filled[a]) {
      filled[a] = true;
      for (unsigned b = 0; b < 8; ++b)
        for (int p = 0; p < 256; p += 2) {
          const auto e = static_cast<uint16_t>(product(p, wa, wy[b]) << 8 | product(p, wb, wy[b]));
          h0[entry_index(a, b, unsigned(p) / 2)] = h1[entry_index(a, b, unsigned(p) / 2)] = e;
        }
      if (++slots == 8) break;
    }
    // A step of whole eighths can still carry into the next eighth from its low bits; the
    // second half holds the tail for those places.
    if ((xstep & 0x3800) == 0 && ((X ^ (X + xstep)) >> 11 & 1))
      for (unsigned b = 0; b < 8; ++b)
        for (int p = 0; p < 256; p += 2) {
          uint16_t& e = h1[entry_index(a, b, unsigned(p) / 2)];
          e = static_cast<uint16_t>((e & 0xFF00) | product(p, wb, wy[b]));
        }
  }

  // Codes from a 2.14 count of source pixels to the next inserted destination pixel; s says
  // how the next word begins (0 at a pixel boundary, 2 with a tail due; 1 and 3 belong to the
  // copying codes 0 and 1 of spacings below two source pixels).
  const int64_t S = xins >> 2;
  const bool spacingTwo = (S >> 14) == 2;
  const auto f = [](int64_t v) { return v & (kOne - 1); };
  const auto whole = [](int64_t v) { return v >> 14; };
  int64_t A = S;
  int s = 0;
  for (int32_t g = 0; g < (dstW + 3) / 4; ++g) {
    const int64_t k = whole(A);
    uint8_t code;
    if (k == 2) {
      code = s == 0 ? 4 : 5;
      A = f(A) + S - (s == 0 ? 0 : kOne);
      s = 2;
    } else if (k == 3) {
      code = s == 0 ? 6 : 7;
      A = f(A) + S;
      if (s != 0) s = 2;
    } else if (k == 4) {
      if (s == 0) {
        code = 8;
        A -= 3 * kOne;
        s = 2;
      } else {
        code = 9;
        A = f(A) + S;
        s = 0;
      }
    } else if (k != 1) {
      code = s == 0 ? 10 : 11;
      A -= s == 0 ? 3 * kOne : 4 * kOne;
      s = 2;
    } else if (s == 0 || s == 3) {
      code = 0;
      if (s == 3) A += kOne;
      if (whole(A) < 2) {
        const int64_t B = f(A) + S;
        if (whole(B) >= 2) {
          A = B - kOne;
          s = 1;
        } else {
          A = f(B) + S;
          s = 0;
        }
      } else {
        A = f(A) + S;
        s = whole(A) < 2 ? 1 : 0;
      }
      if (whole(A) >= 2) {
        A -= kOne;
        s = 3;
      }
    } else if (s == 1) {
      code = 1;
      A = f(A) + S;
      if (whole(A) < 2) {
        A = f(A) + S;
        if (whole(A) >= 2) {
          A -= kOne;
          s = 0;
        }
      } else {
        A -= kOne;
        s = 0;
      }
    } else if (spacingTwo) {
      code = 3;
      A = f(A) + S;
      s = 0;
    } else {
      code = 2;
      A = f(A) + S - 2 * kOne;
      s = 2;
    }
    c[g] = code;
  }
  *weights = table;
  *codes = c;
  return VLT_OK;
}

void ip_areaMap8bppLine(IPState*, const uint8_t* src, int32_t srcBpl, uint8_t* dst, int32_t dstW, uint32_t xstart,
                        uint64_t yacc, uint32_t xratio, int64_t xins, const uint32_t* weights, const uint8_t* codes) {
  const auto* h0 = reinterpret_cast<const uint16_t*>(weights);
  const uint16_t* h1 = h0 + kHalf;
  const auto e = static_cast<unsigned>(yacc >> 13 & 7);
  const uint8_t* above = src - srcBpl;  // read only when e is not 0
  const uint32_t xstep = xratio >> 2;

  // Head (high byte) and tail (low byte) of the source pixel at index i whose place is pl.
  struct Split {
    unsigned head, tail;
  };
  const auto split = [&](size_t i, uint32_t pl) -> Split {
    const unsigned slot = pl >> 11 & 7;
    const uint16_t* h = ((pl ^ (pl + xstep)) >> 11 & 1) ? h1 : h0;
    const uint16_t cur = h[entry_index(slot, e, src[i] >> 1)];
    if (e == 0) return {unsigned(cur >> 8), unsigned(cur & 0xFF)};
    const uint16_t up = h[entry_index(slot, 8 - e, above[i] >> 1)];
    return {unsigned(cur >> 8) + unsigned(up >> 8), unsigned(cur & 0xFF) + unsigned(up & 0xFF)};
  };
  const auto copy = [&](size_t i) -> unsigned {
    const unsigned cur = h0[entry_index(0, e, src[i] >> 1)] >> 8;
    return e == 0 ? cur : cur + (h0[entry_index(0, 8 - e, above[i] >> 1)] >> 8);
  };
  const auto next = [&](uint32_t pl) { return pl + xstep; };
  // After a copy the next source pixel begins at a destination pixel boundary.
  const auto after_copy = [&](uint32_t pl) { return (pl + xstep) & ~uint32_t(kOne - 1); };
  // Mixing slots chosen per eighth can overshoot a full pixel by a little; clamp, not wrap.
  const auto px = [](unsigned v) { return v > 255 ? 255u : v; };

  size_t ptr = 0;
  uint32_t place = xstart;
  const int64_t I = xins >> 2;
  int64_t c = I;
  for (int32_t g = 0; g < (dstW + 3) / 4; ++g) {
    unsigned p[4];
    const size_t i = ptr;
    switch (codes[g]) {
      case 0: {
        if (c >= 2 * kOne) {
          p[0] = copy(i), p[1] = copy(i + 1), p[2] = p[1], p[3] = copy(i + 2);
          c = (c & (kOne - 1)) + I;
        } else {
          const int64_t B = (c & (kOne - 1)) + I;
          if (B >= 2 * kOne) {
            p[0] = copy(i), p[1] = p[0], p[2] = copy(i + 1), p[3] = copy(i + 2);
            c = B - kOne;
          } else {
            p[0] = copy(i), p[1] = p[0], p[2] = copy(i + 1), p[3] = p[2];
            c = (B & (kOne - 1)) + I;
          }
        }
        ptr += 2;
        break;
      }
      case 1: {
        const int64_t B = (c & (kOne - 1)) + I;
        if (B >= 2 * kOne) {
          p[0] = copy(i), p[1] = copy(i + 1), p[2] = copy(i + 2), p[3] = p[2];
          ptr += 3;
          c = B - kOne;
        } else {
          c = (B & (kOne - 1)) + I;
          p[0] = copy(i), p[1] = copy(i + 1), p[2] = p[1], p[3] = copy(i + 2);
          ptr += 2;
          if (c >= 2 * kOne) {
            ++ptr;
            c -= kOne;
          }
        }
        break;
      }
      case 2: {
        const uint32_t pl1 = after_copy(place), pl2 = next(pl1), pl3 = next(pl2);
        const Split s1 = split(i + 1, pl1), s2 = split(i + 2, pl2), s3 = split(i + 3, pl3);
        p[0] = copy(i), p[1] = s1.head, p[2] = s1.tail + s2.head, p[3] = s2.tail + s3.head;
        ptr += 3, place = pl3;
        break;
      }
      case 3: {
        const uint32_t pl1 = after_copy(place), pl2 = next(pl1);
        const Split s1 = split(i + 1, pl1), s2 = split(i + 2, pl2);
        p[0] = copy(i), p[1] = s1.head, p[2] = s1.tail + s2.head, p[3] = copy(i + 2);
        ptr += 3, place = after_copy(pl2);
        break;
      }
      case 4: {
        const uint32_t pl1 = next(place), pl2 = after_copy(pl1);
        const Split s0 = split(i, place), s1 = split(i + 1, pl1), s2 = split(i + 2, pl2);
        p[0] = s0.head, p[1] = s0.tail + s1.head, p[2] = copy(i + 1), p[3] = s2.head;
        ptr += 2, place = pl2;
        break;
      }
      case 5: {
        const uint32_t pl1 = next(place), pl2 = after_copy(pl1), pl3 = next(pl2);
        const Split s0 = split(i, place), s1 = split(i + 1, pl1), s2 = split(i + 2, pl2), s3 = split(i + 3, pl3);
        p[0] = s0.tail + s1.head, p[1] = copy(i + 1), p[2] = s2.head, p[3] = s2.tail + s3.head;
        ptr += 3, place = pl3;
        break;
      }
      case 6: {
        const uint32_t pl1 = next(place), pl2 = next(pl1);
        const Split s0 = split(i, place), s1 = split(i + 1, pl1), s2 = split(i + 2, pl2);
        p[0] = s0.head, p[1] = s0.tail + s1.head, p[2] = s1.tail + s2.head, p[3] = copy(i + 2);
        ptr += 3, place = after_copy(pl2);
        break;
      }
      case 7: {
        const uint32_t pl1 = next(place), pl2 = next(pl1), pl3 = after_copy(pl2);
        const Split s0 = split(i, place), s1 = split(i + 1, pl1), s2 = split(i + 2, pl2), s3 = split(i + 3, pl3);
        p[0] = s0.tail + s1.head, p[1] = s1.tail + s2.head, p[2] = copy(i + 2), p[3] = s3.head;
        ptr += 3, place = pl3;
        break;
      }
      case 9: {
        const uint32_t pl1 = next(place), pl2 = next(pl1), pl3 = next(pl2);
        const Split s0 = split(i, place), s1 = split(i + 1, pl1), s2 = split(i + 2, pl2), s3 = split(i + 3, pl3);
        p[0] = s0.tail + s1.head, p[1] = s1.tail + s2.head, p[2] = s2.tail + s3.head, p[3] = copy(i + 3);
        ptr += 4, place = after_copy(pl3);
        break;
      }
      case 11: {
        const uint32_t pl1 = next(place), pl2 = next(pl1), pl3 = next(pl2), pl4 = next(pl3);
        const Split s0 = split(i, place), s1 = split(i + 1, pl1), s2 = split(i + 2, pl2), s3 = split(i + 3, pl3),
                    s4 = split(i + 4, pl4);
        p[0] = s0.tail + s1.head, p[1] = s1.tail + s2.head, p[2] = s2.tail + s3.head, p[3] = s3.tail + s4.head;
        ptr += 4, place = pl4;
        break;
      }
      default: {  // 8 and 10
        const uint32_t pl1 = next(place), pl2 = next(pl1), pl3 = next(pl2);
        const Split s0 = split(i, place), s1 = split(i + 1, pl1), s2 = split(i + 2, pl2), s3 = split(i + 3, pl3);
        p[0] = s0.head, p[1] = s0.tail + s1.head, p[2] = s1.tail + s2.head, p[3] = s2.tail + s3.head;
        ptr += 3, place = pl3;
        break;
      }
    }
    mono::store_be32(dst + 4 * g, px(p[0]) << 24 | px(p[1]) << 16 | px(p[2]) << 8 | px(p[3]));
  }
}

}  // extern "C"
