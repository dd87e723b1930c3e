// The raster-op kernel family: one kernel per Boolean function and span shape, generated from
// one template so that no kernel tests the operation or the shape inside its loops.

#include <bit>
#include <cstring>
#include <type_traits>

#include "byteorder.h"
#include "ip_rastop.h"

namespace {

using mono::load_be32;
using mono::store_be32;

// A word just loaded, hidden from the optimiser: left visible, the byte swaps of two loads and
// the Boolean function between them get fused into a long byte-by-byte shuffle.
inline uint32_t load_word(const uint8_t* p) {
  uint32_t v = load_be32(p);
  asm("" : "+r"(v));
  return v;
}

template <uint32_t T, typename W = uint32_t>
constexpr W rop(W s, W d) {
  if constexpr (T == 0) return 0;
  else if constexpr (T == 1) return ~(s | d);
  else if constexpr (T == 2) return ~s & d;
  else if constexpr (T == 3) return ~s;
  else if constexpr (T == 4) return s & ~d;
  else if constexpr (T == 5) return ~d;
  else if constexpr (T == 6) return s ^ d;
  else if constexpr (T == 7) return ~(s & d);
  else if constexpr (T == 8) return s & d;
  else if constexpr (T == 9) return ~(s ^ d);
  else if constexpr (T == 10) return d;
  else if constexpr (T == 11) return ~s | d;
  else if constexpr (T == 12) return s;
  else if constexpr (T == 13) return s | ~d;
  else if constexpr (T == 14) return s | d;
  else return static_cast<W>(~W{0});
}

enum class Shift { None, Left, Right };

// Destination words per line: 1, 2, exactly 3, or 3 and more (kMany).
constexpr int kMany = 0;

struct Shape {
  int dstWords;
  int extraSrcWords;  // source words minus destination words: -1, 0 or +1
  Shift shift;
  bool hasSource;
};

// The shapes in table slot order.
constexpr Shape k1D1SNoS{1, 0, Shift::None, true};
constexpr Shape k1D1SLS{1, 0, Shift::Left, true};
constexpr Shape k1D1SRS{1, 0, Shift::Right, true};
constexpr Shape k1D2SLS{1, 1, Shift::Left, true};
constexpr Shape k2D1SRS{2, -1, Shift::Right, true};
constexpr Shape k2D2SNoS{2, 0, Shift::None, true};
constexpr Shape k2D2SLS{2, 0, Shift::Left, true};
constexpr Shape k2D2SRS{2, 0, Shift::Right, true};
constexpr Shape k2D3SLS{2, 1, Shift::Left, true};
constexpr Shape kDm1SRS{kMany, -1, Shift::Right, true};
constexpr Shape kDSNoS{kMany, 0, Shift::None, true};
constexpr Shape kDSLS{kMany, 0, Shift::Left, true};
constexpr Shape kDSRS{kMany, 0, Shift::Right, true};
constexpr Shape kDp1SLS{kMany, 1, Shift::Left, true};
constexpr Shape k3D3SNS{3, 0, Shift::None, true};
constexpr Shape k1D{1, 0, Shift::None, false};
constexpr Shape k2D{2, 0, Shift::None, false};
constexpr Shape kD{kMany, 0, Shift::None, false};

// One double-width shift joins two source words where registers are 64 bits wide.
constexpr bool kWideRegisters = sizeof(void*) >= 8;

// Shifted middle words travel in chunks as wide as a register, the first word in the most
// significant end: one load, one swap and one rotation per chunk.
using Chunk = std::conditional_t<kWideRegisters, uint64_t, uint32_t>;
constexpr uint32_t kChunkWords = sizeof(Chunk) / 4;

inline Chunk load_chunk(const uint8_t* p) {
  if constexpr (kChunkWords == 1) return load_be32(p);
  else return mono::load_be64(p);
}
inline void store_chunk(uint8_t* p, Chunk v) {
  if constexpr (kChunkWords == 1) store_be32(p, v);
  else mono::store_be64(p, v);
}

// Yields the source word aligned with each destination word in turn, reading every source word
// of the span exactly once and none outside it; the shifted part of a word is carried over.
template <Shape S>
struct SourceStream {
  const uint8_t* p;
  uint32_t L, R, carry = 0;

  // The 32 bits that start L bits into hi, continuing into lo.
  uint32_t join(uint32_t hi, uint32_t lo) const {
    if constexpr (kWideRegisters) return static_cast<uint32_t>(((uint64_t{hi} << 32) | lo) >> R);
    else return (hi << L) | (lo >> R);
  }

  uint32_t first() {
    if constexpr (!S.hasSource) {
      return 0;
    } else if constexpr (S.shift == Shift::None) {
      return load_word(p);
    } else if constexpr (S.shift == Shift::Left) {
      const uint32_t w0 = load_word(p);
      if constexpr (S.dstWords == 1 && S.extraSrcWords == 0) {
        return w0 << L;
      } else {
        p += 4;
        carry = load_word(p);
        return join(w0, carry);
      }
    } else {
      carry = load_word(p);
      return carry >> R;
    }
  }

  uint32_t next() {
    if constexpr (!S.hasSource) {
      return 0;
    } else if constexpr (S.shift == Shift::None) {
      p += 4;
      return load_word(p);
    } else {
      p += 4;
      const uint32_t w = load_word(p);
      const uint32_t a = join(carry, w);
      carry = w;
      return a;
    }
  }

  // Shifted shapes: each source chunk is rotated once by R, its low end kept as the high bits
  // of the next result, so that one shift count serves the whole walk.
  Chunk lowBits = ~Chunk{0} >> R;
  Chunk high = 0;

  void begin_chunks() { high = Chunk{carry} << (8 * sizeof(Chunk) - R); }

  Chunk next_chunk() {
    const Chunk w = load_chunk(p + 4);
    p += sizeof(Chunk);
    const Chunk r = std::rotr(w, static_cast<int>(R));
    const Chunk a = (r & lowBits) | high;
    high = r & ~lowBits;
    carry = static_cast<uint32_t>(w);
    return a;
  }

  uint32_t last() {
    if constexpr (S.shift == Shift::Left && S.extraSrcWords == 0) return carry << L;
    else if constexpr (S.shift == Shift::Right && S.extraSrcWords < 0) return carry << L;
    else return next();
  }
};

template <uint32_t T>
inline void merge(uint8_t* d, uint32_t a, uint32_t mask) {
  const uint32_t old = load_word(d);
  store_be32(d, (old & ~mask) | (rop<T>(a, old) & mask));
}

template <uint32_t T>
inline void whole(uint8_t* d, uint32_t a) {
  if constexpr (rop_reads_destination(T)) store_be32(d, rop<T>(a, load_word(d)));
  else store_be32(d, rop<T>(a, 0u));
}

template <uint32_t T>
inline void whole_chunk(uint8_t* d, Chunk a) {
  if constexpr (rop_reads_destination(T)) store_chunk(d, rop<T, Chunk>(a, load_chunk(d)));
  else store_chunk(d, rop<T, Chunk>(a, 0u));
}

// Unshifted middle words combine every bit with the bit in the same place of the source, so no
// byte order matters there: they are combined in 8-byte chunks. A chunk of the source is read
// before the destination chunk is written, which keeps the forward walk's overlap rule.
template <uint32_t T, Shape S>
inline void middle_chunks(const uint8_t* src, uint8_t* dst, size_t bytes) {
  size_t j = 0;
  // Two chunks a pass: with one, loop overhead and where the loop lands in the cache lines decide
  // its speed.
#pragma GCC unroll 2
  for (; j + 8 <= bytes; j += 8) {
    uint64_t s = 0, d = 0;
    if constexpr (S.hasSource) std::memcpy(&s, src + j, 8);
    if constexpr (rop_reads_destination(T)) std::memcpy(&d, dst + j, 8);
    const uint64_t r = rop<T, uint64_t>(s, d);
    std::memcpy(dst + j, &r, 8);
  }
  for (; j < bytes; ++j) {
    uint32_t s = 0, d = 0;
    if constexpr (S.hasSource) s = src[j];
    if constexpr (rop_reads_destination(T)) d = dst[j];
    dst[j] = static_cast<uint8_t>(rop<T>(s, d));
  }
}

// firstWhole: the first destination word is whole and stored without reading it (NLM kernels).
// Flattened so that the 206 instances keep every word access inline.
template <uint32_t T, Shape S, bool firstWhole>
[[gnu::flatten]] VltStatus kernel(IPState*, const uint8_t* src, uint8_t* dst, int32_t lines,
                                  const RasterOpTileState* ts) {
  const uint32_t L = ts->leftShift, R = ts->rightShift;
  const uint32_t leftMask = ts->leftMask, rightMask = ts->rightMask;
  const size_t srcStep = ts->srcBytesPerLine, dstStep = ts->dstBytesPerLine;
  const uint32_t middle = S.dstWords == 3 ? 1 : S.dstWords == kMany ? ts->middleWords : 0;
  // An operation that ignores the destination stores a whole last word without reading it.
  const bool lastWhole = !rop_reads_destination(T) && rightMask == ~0u;
  for (int32_t k = 0; k < lines; ++k) {
    SourceStream<S> in{src, L, R};
    uint32_t a = in.first();
    if constexpr (S.dstWords == 1) {
      merge<T>(dst, a, leftMask);
    } else {
      if constexpr (firstWhole) store_be32(dst, rop<T>(a, 0u));
      else merge<T>(dst, a, leftMask);
      uint8_t* d = dst + 4;
      if constexpr (S.shift == Shift::None) {
        const uint8_t* s = nullptr;
        if constexpr (S.hasSource) {
          s = in.p + 4;
          in.p += size_t{middle} * 4;
        }
        middle_chunks<T, S>(s, d, size_t{middle} * 4);
        d += size_t{middle} * 4;
      } else {
        uint32_t i = 0;
        in.begin_chunks();
#pragma GCC unroll 2
        for (; i + kChunkWords <= middle; i += kChunkWords, d += sizeof(Chunk))
          whole_chunk<T>(d, in.next_chunk());
        for (; i < middle; ++i, d += 4) whole<T>(d, in.next());
      }
      a = in.last();
      if (lastWhole) store_be32(d, rop<T>(a, 0u));
      else merge<T>(d, a, rightMask);
    }
    dst += dstStep;
    if constexpr (S.hasSource) src += srcStep;
  }
  return VLT_OK;
}

using Row = std::array<RasterOpKernel, kRasterOpSlots>;

template <uint32_t T, bool firstWhole = false>
constexpr Row source_row() {
  Row r{};
  r[1] = kernel<T, k1D1SNoS, firstWhole>;
  r[2] = kernel<T, k1D1SLS, firstWhole>;
  r[3] = kernel<T, k1D1SRS, firstWhole>;
  r[4] = kernel<T, k1D2SLS, firstWhole>;
  r[5] = kernel<T, k2D1SRS, firstWhole>;
  r[6] = kernel<T, k2D2SNoS, firstWhole>;
  r[7] = kernel<T, k2D2SLS, firstWhole>;
  r[8] = kernel<T, k2D2SRS, firstWhole>;
  r[9] = kernel<T, k2D3SLS, firstWhole>;
  r[10] = kernel<T, kDm1SRS, firstWhole>;
  r[11] = kernel<T, kDSNoS, firstWhole>;
  r[12] = kernel<T, kDSLS, firstWhole>;
  r[13] = kernel<T, kDSRS, firstWhole>;
  r[14] = kernel<T, kDp1SLS, firstWhole>;
  if constexpr (T == 12 && !firstWhole) r[15] = kernel<12, k3D3SNS, false>;
  return r;
}

template <uint32_t T>
constexpr Row sourceless_row() {
  Row r{};
  r[0] = kernel<T, k1D, false>;
  r[1] = kernel<T, k2D, false>;
  r[2] = kernel<T, kD, false>;
  return r;
}

}  // namespace

constinit const std::array<uint32_t, 66> ip_rasterOpMasks = [] {
  std::array<uint32_t, 66> m{};
  for (unsigned n = 0; n <= 32; ++n) {
    m[n] = mono::left_mask32(n);
    m[33 + n] = mono::right_mask32(n);
  }
  return m;
}();

constinit const std::array<Row, kRasterOpRows> miRastOpRoutines = {
    sourceless_row<0>(), source_row<1>(),  source_row<2>(),      source_row<3>(),
    source_row<4>(),     sourceless_row<5>(), source_row<6>(),   source_row<7>(),
    source_row<8>(),     source_row<9>(),  Row{},                source_row<11>(),
    source_row<12>(),    source_row<13>(), source_row<14>(),     sourceless_row<15>(),
    source_row<3, true>(), source_row<12, true>()};
