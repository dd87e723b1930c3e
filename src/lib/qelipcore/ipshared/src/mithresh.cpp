// Thresholding and filter-binarization line kernels. Each source word is reduced to its result
// bits (the top bit or bits of every lane) by a mask or by borrow-free lane arithmetic; the
// words of a group are gathered into one word, word j shifted right by j steps, and a table
// lookup per byte puts the interleaved results into pixel order.

#include <cstdint>

#include "byteorder.h"
#include "i_thresh.h"

namespace {

// Lookup through a set of four binarization tables, byte k of the gathered word into table k.
struct FourTables {
  const uint32_t *t0, *t1, *t2, *t3;
  uint32_t operator()(uint32_t g) const { return t0[g >> 24] | t1[g >> 16 & 0xFF] | t2[g >> 8 & 0xFF] | t3[g & 0xFF]; }
};

// The single 4-to-2 table serves all four bytes, shifted into place.
struct OneTable {
  const uint32_t* t;
  uint32_t operator()(uint32_t g) const {
    return t[g >> 24] | t[g >> 16 & 0xFF] >> 4 | t[g >> 8 & 0xFF] >> 8 | t[g & 0xFF] >> 12;
  }
};

// One line: N source words per destination word, gathered with shift Shift. result(offset)
// gives the result word of the source word at that byte offset. The last, possibly short,
// group reads only up to L; the full groups before it need no check.
template <int N, int Shift, class Result, class Out>
inline void gather_line(uint8_t* dst, int32_t D, int32_t G, int32_t L, Result result, Out out) {
  for (int32_t d = 0, s = 0; d < D; d += 4, s += 4 * N) {
    uint32_t g = result(s);
    for (int j = 1; j < N; ++j) g |= result(s + 4 * j) >> (Shift * j);
    mono::store_be32(dst + d, out(g));
  }
  uint32_t g = 0;
  for (int32_t o = L; o >= G; o -= 4) g = g >> Shift | result(o);
  mono::store_be32(dst + D, out(g));
}

template <uint32_t Mask>
struct Masked {
  const uint8_t* src;
  uint32_t operator()(int32_t o) const { return mono::load_be32(src + o) & Mask; }
};

// 8 bpp lanes: the top bit of a lane is set where (p >> 1) >= (t >> 1). The guard bit set in
// every lane before the subtraction keeps borrows inside the lane.
inline uint32_t lanes8_at_least(uint32_t s, uint32_t half) {
  return ((s >> 1 | 0x80808080u) - half) & 0x80808080u;
}

// The four packed top nibbles of a word's bytes, in its upper 16 bits.
inline uint32_t top_nibbles(uint32_t w) {
  uint32_t x = w >> 4 & 0x0F0F0F0Fu;
  x = (x | x >> 4) & 0x00FF00FFu;
  return (x | x >> 8) << 16;
}

// 4 bpp band test by mode (see ip_toBinaryFrom4bppBandpassLine).
template <int Mode>
inline uint32_t band4(uint32_t s, uint32_t width, uint32_t base) {
  const uint32_t c = 0x11111111u & ~s;
  const uint32_t e = s & 0x11111111u;
  const uint32_t u = s >> 1 | 0x88888888u;
  uint32_t r;
  if constexpr (Mode == 0)
    r = width - ((u - base) & 0x77777777u) - e;
  else if constexpr (Mode == 1)
    r = width - ((u - base - c) & 0x77777777u) - c;
  else if constexpr (Mode == 2)
    r = width - ((u - base) & 0x77777777u);
  else
    r = width - ((u - base - c) & 0x77777777u);
  return r & 0x88888888u;
}

template <int Mode>
void band4_line(const uint8_t* src, uint8_t* dst, int32_t D, int32_t G, int32_t L, FourTables out,
                uint32_t width, uint32_t base) {
  gather_line<4, 1>(dst, D, G, L, [=](int32_t o) { return band4<Mode>(mono::load_be32(src + o), width, base); }, out);
}

}  // namespace

extern "C" {

void ip_toBinary128Line(IPState*, const uint8_t* src, uint8_t* dst, int32_t D, int32_t G, int32_t L,
                        const uint32_t* t0, const uint32_t* t1, const uint32_t* t2, const uint32_t* t3) {
  gather_line<8, 1>(dst, D, G, L, Masked<0x80808080u>{src}, FourTables{t0, t1, t2, t3});
}

void ip_toBinaryThreshLine(IPState*, const uint8_t* src, uint8_t* dst, int32_t D, int32_t G, int32_t L,
                           const uint32_t* t0, const uint32_t* t1, const uint32_t* t2, const uint32_t* t3,
                           uint32_t threshold) {
  gather_line<8, 1>(dst, D, G, L, [=](int32_t o) { return lanes8_at_least(mono::load_be32(src + o), threshold); },
                    FourTables{t0, t1, t2, t3});
}

void ip_toBinaryFrom4bppLine(IPState*, const uint8_t* src, uint8_t* dst, int32_t D, int32_t G, int32_t L,
                             const uint32_t* t0, const uint32_t* t1, const uint32_t* t2, const uint32_t* t3) {
  gather_line<4, 1>(dst, D, G, L, Masked<0x88888888u>{src}, FourTables{t0, t1, t2, t3});
}

void ip_toBinaryFrom2bppLine(IPState*, const uint8_t* src, uint8_t* dst, int32_t D, int32_t G, int32_t L,
                             const uint32_t* t0, const uint32_t* t1, const uint32_t* t2, const uint32_t* t3) {
  gather_line<2, 1>(dst, D, G, L, Masked<0xAAAAAAAAu>{src}, FourTables{t0, t1, t2, t3});
}

void ip_toTwoBitsPerPixelLine(IPState*, const uint8_t* src, uint8_t* dst, int32_t D, int32_t G, int32_t L,
                              const uint32_t* t0, const uint32_t* t1, const uint32_t* t2, const uint32_t* t3) {
  gather_line<4, 2>(dst, D, G, L, Masked<0xC0C0C0C0u>{src}, FourTables{t0, t1, t2, t3});
}

void ip_fourToTwoBitsPerPixelLine(IPState*, const uint8_t* src, uint8_t* dst, int32_t D, int32_t G, int32_t L,
                                  const uint32_t* t) {
  gather_line<2, 2>(dst, D, G, L, Masked<0xCCCCCCCCu>{src}, OneTable{t});
}

void ip_threshold8To4Line(IPState*, const uint8_t* src, uint8_t* dst, int32_t D, int32_t G, int32_t L) {
  gather_line<2, 16>(dst, D, G, L, [=](int32_t o) { return top_nibbles(mono::load_be32(src + o)); },
                     [](uint32_t g) { return g; });
}

void ip_toBinaryBandPassLine(IPState*, const uint8_t* src, uint8_t* dst, int32_t D, int32_t G, int32_t L,
                             const uint32_t* t0, const uint32_t* t1, const uint32_t* t2, const uint32_t* t3,
                             uint32_t base, uint32_t width) {
  // a = (p >> 1) - (low >> 1) modulo 128 per lane; the lane passes where a <= (high - low) >> 1.
  gather_line<8, 1>(dst, D, G, L,
                    [=](int32_t o) {
                      const uint32_t a = ((mono::load_be32(src + o) >> 1 | 0x80808080u) - base) & 0x7F7F7F7Fu;
                      return (width - a) & 0x80808080u;
                    },
                    FourTables{t0, t1, t2, t3});
}

void ip_toBinaryFrom4bppThreshLine(IPState*, const uint8_t* src, uint8_t* dst, int32_t D, int32_t G, int32_t L,
                                   const uint32_t* t0, const uint32_t* t1, const uint32_t* t2, const uint32_t* t3,
                                   uint32_t threshold, uint32_t lowBit) {
  const FourTables out{t0, t1, t2, t3};
  // An odd threshold also needs the pixel's own low bit, which the halving dropped: an even
  // pixel at the threshold's half is one below it.
  if (lowBit & 1)
    gather_line<4, 1>(dst, D, G, L,
                      [=](int32_t o) {
                        const uint32_t s = mono::load_be32(src + o);
                        return ((s >> 1 | 0x88888888u) - threshold - (0x11111111u & ~s)) & 0x88888888u;
                      },
                      out);
  else
    gather_line<4, 1>(dst, D, G, L,
                      [=](int32_t o) {
                        return ((mono::load_be32(src + o) >> 1 | 0x88888888u) - threshold) & 0x88888888u;
                      },
                      out);
}

void ip_toBinaryFrom4bppBandpassLine(IPState*, const uint8_t* src, uint8_t* dst, int32_t D, int32_t G,
                                     int32_t L, const uint32_t* t0, const uint32_t* t1, const uint32_t* t2,
                                     const uint32_t* t3, uint32_t width, uint32_t base, int32_t mode) {
  const FourTables out{t0, t1, t2, t3};
  switch (mode & 3) {
    case 0: band4_line<0>(src, dst, D, G, L, out, width, base); break;
    case 1: band4_line<1>(src, dst, D, G, L, out, width, base); break;
    case 2: band4_line<2>(src, dst, D, G, L, out, width, base); break;
    default: band4_line<3>(src, dst, D, G, L, out, width, base); break;
  }
}

void ip_toBinaryByPixelLine(IPState*, const uint8_t* src, const uint8_t* thr, uint8_t* dst, int32_t D,
                            int32_t G, int32_t L, const uint32_t* t0, const uint32_t* t1, const uint32_t* t2,
                            const uint32_t* t3) {
  gather_line<8, 1>(dst, D, G, L,
                    [=](int32_t o) {
                      return lanes8_at_least(mono::load_be32(src + o), mono::load_be32(thr + o) >> 1 & 0x7F7F7F7Fu);
                    },
                    FourTables{t0, t1, t2, t3});
}

}  // extern "C"
