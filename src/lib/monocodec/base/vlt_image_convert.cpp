// Pixel-type conversions between the unpacked types through a table of converters, and packing
// to and from the 1-bit Packed type through Binary images.
//
// Every source value is exact as a double (8-, 16- and 32-bit integers, floats), so a converter
// reads samples as doubles and applies its rule once. Float-to-integer steps saturate at the
// range of the intermediate integer (NaN gives 0) before the target keeps its low bits.

#include <cmath>
#include <cstring>
#include <limits>

#include "byteorder.h"
#include "vlt_image.h"
#include "vlt_state.h"

namespace {

struct VltConvertEntry;
using VltConverter = VltImage* (*)(const VltImage* src, const VltConvertEntry* entry);

struct VltConvertEntry {
  uint8_t isPromotion;
  double scale;
  double offset;
  VltConverter converter;
};

enum class Rule {
  Promote,   // value x scale + offset, or the value itself for (1, 0)
  Trunc,     // toward zero, then the target's low bits
  Nearest,   // nearest float
  Luma,      // 0.299 R + 0.587 G + 0.114 B, then as Trunc or Nearest
  LowBits,   // an integer's low bits
  Value,     // a 32-bit integer to the nearest float
  ByteX3,    // low 8 bits of the (truncated) value as float in all three samples
  Zero,      // Binary: 1 where the value is 0
  AllZero,   // Binary: 1 where R, G and B are all 0
  NonZero,   // Binary: 1 where the value is not 0
};

// Truncation toward zero into the range of the intermediate integer.
uint32_t trunc_u32(double v) {
  if (!(v > 0)) return 0;  // also NaN
  if (v >= 4294967295.0) return std::numeric_limits<uint32_t>::max();
  return static_cast<uint32_t>(v);
}
int32_t trunc_i32(double v) {
  if (std::isnan(v)) return 0;
  if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(v);
}
float nearest_float(double v) {
  constexpr double kMax = std::numeric_limits<float>::max();
  // Beyond the largest float, IEEE rounding gives infinity; say so instead of leaving it to the
  // conversion, whose out-of-range behaviour C++ leaves undefined.
  if (v > kMax) return std::numeric_limits<float>::infinity();
  if (v < -kMax) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(v);
}
// Low bits of a value that is an exact integer (a Long, Short or Gray sample).
int64_t exact_int(double v) { return static_cast<int64_t>(v); }

template <uint16_t T>
struct Pixel;
template <> struct Pixel<VLT_IMAGE_GRAY> { using E = uint8_t; static constexpr int n = 1; };
template <> struct Pixel<VLT_IMAGE_FLOAT> { using E = float; static constexpr int n = 1; };
template <> struct Pixel<VLT_IMAGE_RGB> { using E = uint8_t; static constexpr int n = 3; };
template <> struct Pixel<VLT_IMAGE_DOUBLE> { using E = double; static constexpr int n = 1; };
template <> struct Pixel<VLT_IMAGE_BINARY> { using E = int8_t; static constexpr int n = 1; };
template <> struct Pixel<VLT_IMAGE_LONG> { using E = int32_t; static constexpr int n = 1; };
template <> struct Pixel<VLT_IMAGE_SHORT> { using E = int16_t; static constexpr int n = 1; };
template <> struct Pixel<VLT_IMAGE_RGBFLOAT> { using E = float; static constexpr int n = 3; };

template <uint16_t T>
constexpr bool is_float_type = T == VLT_IMAGE_FLOAT || T == VLT_IMAGE_RGBFLOAT;

// Stores a value into one sample of the target type by the target's rule.
template <uint16_t T>
typename Pixel<T>::E to_sample(double v) {
  if constexpr (T == VLT_IMAGE_GRAY || T == VLT_IMAGE_RGB) {
    return static_cast<uint8_t>(trunc_u32(v));
  } else if constexpr (T == VLT_IMAGE_LONG) {
    return trunc_i32(v);
  } else if constexpr (T == VLT_IMAGE_SHORT) {
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(trunc_i32(v))));
  } else if constexpr (is_float_type<T>) {
    return nearest_float(v);
  } else {
    static_assert(T == VLT_IMAGE_DOUBLE);
    return v;
  }
}

template <uint16_t T>
typename Pixel<T>::E low_bits(int64_t v) {
  if constexpr (T == VLT_IMAGE_GRAY || T == VLT_IMAGE_RGB) {
    return static_cast<uint8_t>(v & 0xFF);
  } else {
    static_assert(T == VLT_IMAGE_SHORT);
    return static_cast<int16_t>(static_cast<uint16_t>(v & 0xFFFF));
  }
}

template <uint16_t From, uint16_t To, Rule R>
VltImage* convert_pair(const VltImage* src, const VltConvertEntry* entry) {
  using SE = typename Pixel<From>::E;
  using TE = typename Pixel<To>::E;
  constexpr int sn = Pixel<From>::n;
  constexpr int tn = Pixel<To>::n;
  const VltImageHeader& h = src->hdr;
  VltImage* dst = nullptr;
  if (VltImage_newOffset(src->state, To | VLT_IMAGE_UNINIT, h.width, h.height, h.xOffset,
                         h.yOffset, &dst) != VLT_OK)
    return nullptr;
  if (dst->rows == nullptr) return dst;  // an empty image
  const bool identity = entry->scale == 1.0 && entry->offset == 0.0;
  const double scale = entry->scale;
  const double offset = entry->offset;
  const float fscale = static_cast<float>(scale);
  const float foffset = static_cast<float>(offset);
  for (int32_t y = 0; y < h.height; ++y) {
    const uint8_t* in = src->rows[y];
    uint8_t* out = dst->rows[y];
    for (int32_t x = 0; x < h.width; ++x, in += sizeof(SE) * sn, out += sizeof(TE) * tn) {
      double s[3];
      for (int i = 0; i < sn; ++i) {
        SE e;
        std::memcpy(&e, in + i * sizeof(SE), sizeof e);
        s[i] = static_cast<double>(e);
      }
      TE t[3];
      if constexpr (R == Rule::Promote) {
        if (identity) {
          for (int i = 0; i < tn; ++i) t[i] = static_cast<TE>(s[sn == 3 ? i : 0]);
        } else {
          for (int i = 0; i < tn; ++i) {
            double v = s[sn == 3 ? i : 0];
            if constexpr (From == VLT_IMAGE_BINARY) v = v != 0 ? 1 : 0;
            if constexpr (is_float_type<To>)
              t[i] = static_cast<float>(v) * fscale + foffset;
            else
              t[i] = to_sample<To>(v * scale + offset);
          }
        }
      } else if constexpr (R == Rule::Trunc || R == Rule::Nearest || R == Rule::Value) {
        for (int i = 0; i < tn; ++i) t[i] = to_sample<To>(s[sn == 3 ? i : 0]);
      } else if constexpr (R == Rule::Luma) {
        const double v = 0.299 * s[0] + 0.587 * s[1] + 0.114 * s[2];
        t[0] = to_sample<To>(v);
      } else if constexpr (R == Rule::LowBits) {
        for (int i = 0; i < tn; ++i) t[i] = low_bits<To>(exact_int(s[0]));
      } else if constexpr (R == Rule::ByteX3) {
        const uint32_t v = From == VLT_IMAGE_LONG ? static_cast<uint32_t>(exact_int(s[0]))
                                                  : trunc_u32(s[0]);
        for (int i = 0; i < tn; ++i) t[i] = static_cast<float>(v & 0xFFu);
      } else if constexpr (R == Rule::Zero) {
        t[0] = s[0] == 0 ? 1 : 0;
      } else if constexpr (R == Rule::AllZero) {
        t[0] = s[0] == 0 && s[1] == 0 && s[2] == 0 ? 1 : 0;
      } else {
        static_assert(R == Rule::NonZero);
        t[0] = s[0] != 0 ? 1 : 0;
      }
      std::memcpy(out, t, sizeof(TE) * tn);
    }
  }
  return dst;
}

constexpr uint16_t G = VLT_IMAGE_GRAY, F = VLT_IMAGE_FLOAT, R3 = VLT_IMAGE_RGB,
                   D = VLT_IMAGE_DOUBLE, B = VLT_IMAGE_BINARY, L = VLT_IMAGE_LONG,
                   S = VLT_IMAGE_SHORT, RF = VLT_IMAGE_RGBFLOAT;

// The converters by pair: p/d (promotion/demotion), source letter, 2, target letter.
constexpr VltConverter pG2F = convert_pair<G, F, Rule::Promote>;
constexpr VltConverter pG2R = convert_pair<G, R3, Rule::Promote>;
constexpr VltConverter pG2D = convert_pair<G, D, Rule::Promote>;
constexpr VltConverter dG2B = convert_pair<G, B, Rule::Zero>;
constexpr VltConverter pG2L = convert_pair<G, L, Rule::Promote>;
constexpr VltConverter pG2S = convert_pair<G, S, Rule::Promote>;
constexpr VltConverter pG2RF = convert_pair<G, RF, Rule::Promote>;

constexpr VltConverter dF2G = convert_pair<F, G, Rule::Trunc>;
constexpr VltConverter dF2R = convert_pair<F, R3, Rule::Trunc>;
constexpr VltConverter pF2D = convert_pair<F, D, Rule::Promote>;
constexpr VltConverter dF2B = convert_pair<F, B, Rule::NonZero>;
constexpr VltConverter dF2L = convert_pair<F, L, Rule::Trunc>;
constexpr VltConverter dF2S = convert_pair<F, S, Rule::Trunc>;
constexpr VltConverter pF2RF = convert_pair<F, RF, Rule::Promote>;

constexpr VltConverter dR2G = convert_pair<R3, G, Rule::Luma>;
constexpr VltConverter dR2F = convert_pair<R3, F, Rule::Luma>;
constexpr VltConverter dR2D = convert_pair<R3, D, Rule::Luma>;
constexpr VltConverter dR2B = convert_pair<R3, B, Rule::AllZero>;
constexpr VltConverter dR2L = convert_pair<R3, L, Rule::Luma>;
constexpr VltConverter dR2S = convert_pair<R3, S, Rule::Luma>;
constexpr VltConverter pR2RF = convert_pair<R3, RF, Rule::Promote>;

constexpr VltConverter dD2G = convert_pair<D, G, Rule::Trunc>;
constexpr VltConverter dD2F = convert_pair<D, F, Rule::Nearest>;
constexpr VltConverter dD2R = convert_pair<D, R3, Rule::Trunc>;
constexpr VltConverter dD2B = convert_pair<D, B, Rule::NonZero>;
constexpr VltConverter dD2L = convert_pair<D, L, Rule::Trunc>;
constexpr VltConverter dD2S = convert_pair<D, S, Rule::Trunc>;
constexpr VltConverter dD2RF = convert_pair<D, RF, Rule::ByteX3>;

constexpr VltConverter pB2G = convert_pair<B, G, Rule::Promote>;
constexpr VltConverter pB2F = convert_pair<B, F, Rule::Promote>;
constexpr VltConverter pB2R = convert_pair<B, R3, Rule::Promote>;
constexpr VltConverter pB2D = convert_pair<B, D, Rule::Promote>;
constexpr VltConverter pB2L = convert_pair<B, L, Rule::Promote>;
constexpr VltConverter pB2S = convert_pair<B, S, Rule::Promote>;
constexpr VltConverter pB2RF = convert_pair<B, RF, Rule::Promote>;

constexpr VltConverter dL2G = convert_pair<L, G, Rule::LowBits>;
constexpr VltConverter dL2F = convert_pair<L, F, Rule::Value>;
constexpr VltConverter dL2R = convert_pair<L, R3, Rule::LowBits>;
constexpr VltConverter pL2D = convert_pair<L, D, Rule::Promote>;
constexpr VltConverter dL2B = convert_pair<L, B, Rule::Zero>;
constexpr VltConverter dL2S = convert_pair<L, S, Rule::LowBits>;
constexpr VltConverter dL2RF = convert_pair<L, RF, Rule::ByteX3>;

constexpr VltConverter dS2G = convert_pair<S, G, Rule::LowBits>;
constexpr VltConverter pS2F = convert_pair<S, F, Rule::Promote>;
constexpr VltConverter dS2R = convert_pair<S, R3, Rule::LowBits>;
constexpr VltConverter pS2D = convert_pair<S, D, Rule::Promote>;
constexpr VltConverter dS2B = convert_pair<S, B, Rule::Zero>;
constexpr VltConverter pS2L = convert_pair<S, L, Rule::Promote>;
constexpr VltConverter pS2RF = convert_pair<S, RF, Rule::Promote>;

constexpr VltConverter dRF2G = convert_pair<RF, G, Rule::Luma>;
constexpr VltConverter dRF2F = convert_pair<RF, F, Rule::Luma>;
constexpr VltConverter dRF2R = convert_pair<RF, R3, Rule::Trunc>;
constexpr VltConverter dRF2D = convert_pair<RF, D, Rule::Luma>;
constexpr VltConverter dRF2B = convert_pair<RF, B, Rule::AllZero>;
constexpr VltConverter dRF2L = convert_pair<RF, L, Rule::Luma>;
constexpr VltConverter dRF2S = convert_pair<RF, S, Rule::Luma>;

constexpr VltConvertEntry P(VltConverter c) { return {1, 1.0, 0.0, c}; }
constexpr VltConvertEntry PB(VltConverter c) { return {1, -255.0, 255.0, c}; }
constexpr VltConvertEntry Dm(VltConverter c) { return {0, 0.0, 0.0, c}; }
constexpr VltConvertEntry X = {0, 0.0, 0.0, nullptr};

// [source tag][target tag]; rows and columns 0 and 7 and the diagonal are empty.
constexpr VltConvertEntry convertTable[10][10] = {
    {X, X, X, X, X, X, X, X, X, X},
    {X, X, P(pG2F), P(pG2R), P(pG2D), Dm(dG2B), P(pG2L), X, P(pG2S), P(pG2RF)},
    {X, Dm(dF2G), X, Dm(dF2R), P(pF2D), Dm(dF2B), Dm(dF2L), X, Dm(dF2S), P(pF2RF)},
    {X, Dm(dR2G), Dm(dR2F), X, Dm(dR2D), Dm(dR2B), Dm(dR2L), X, Dm(dR2S), P(pR2RF)},
    {X, Dm(dD2G), Dm(dD2F), Dm(dD2R), X, Dm(dD2B), Dm(dD2L), X, Dm(dD2S), Dm(dD2RF)},
    {X, PB(pB2G), P(pB2F), PB(pB2R), P(pB2D), X, PB(pB2L), X, PB(pB2S), PB(pB2RF)},
    {X, Dm(dL2G), Dm(dL2F), Dm(dL2R), P(pL2D), Dm(dL2B), X, X, Dm(dL2S), Dm(dL2RF)},
    {X, X, X, X, X, X, X, X, X, X},
    {X, Dm(dS2G), P(pS2F), Dm(dS2R), P(pS2D), Dm(dS2B), P(pS2L), X, X, P(pS2RF)},
    {X, Dm(dRF2G), Dm(dRF2F), Dm(dRF2R), Dm(dRF2D), Dm(dRF2B), Dm(dRF2L), X, Dm(dRF2S), X},
};

const VltConvertEntry* entry_for(uint16_t from, uint16_t to) {
  return from < 10 && to < 10 ? &convertTable[from][to] : nullptr;
}

bool is_unpacked(uint16_t t) { return t >= VLT_IMAGE_GRAY && t <= VLT_IMAGE_RGBFLOAT; }

// Runs the table converter; a result that cannot be made is a failure, not a null success.
VltStatus run_converter(const VltImage* image, const VltConvertEntry* e, VltImage** result) {
  if (e == nullptr || e->converter == nullptr) return VLT_ERR_ASSERT;
  *result = e->converter(image, e);
  return *result != nullptr ? VLT_OK : VLT_ERR_VLT_NOMEM;
}

// Binary to Packed: first pixel in bit 31, the tail of each row's last word 0.
VltStatus pack(const VltImage* bin, VltImage** result) {
  const VltImageHeader& h = bin->hdr;
  VltImage* out = nullptr;
  const VltStatus st = VltImage_newOffset(bin->state, VLT_IMAGE_PACKED | VLT_IMAGE_UNINIT,
                                          h.width, h.height, h.xOffset, h.yOffset, &out);
  if (st != VLT_OK) return st;
  for (int32_t y = 0; out->rows != nullptr && y < h.height; ++y) {
    const auto* in = reinterpret_cast<const int8_t*>(bin->rows[y]);
    uint8_t* row = out->rows[y];
    for (int32_t x0 = 0; x0 < h.width; x0 += 32) {
      uint32_t word = 0;
      const int32_t n = h.width - x0 < 32 ? h.width - x0 : 32;
      for (int32_t k = 0; k < n; ++k)
        if (in[x0 + k] != 0) word |= 0x80000000u >> k;
      mono::store_be32(row + static_cast<size_t>(x0 / 32) * 4, word);
    }
  }
  *result = out;
  return VLT_OK;
}

// Packed to a zeroed Binary image of the same geometry.
VltStatus unpack(const VltImage* packed, VltImage** result) {
  const VltImageHeader& h = packed->hdr;
  VltImage* out = nullptr;
  const VltStatus st = VltImage_newOffset(packed->state, VLT_IMAGE_BINARY, h.width, h.height,
                                          h.xOffset, h.yOffset, &out);
  if (st != VLT_OK) return st;
  for (int32_t y = 0; out->rows != nullptr && y < h.height; ++y) {
    const uint8_t* row = packed->rows[y];
    auto* o = reinterpret_cast<int8_t*>(out->rows[y]);
    for (int32_t x0 = 0; x0 < h.width; x0 += 32) {
      const uint32_t word = mono::load_be32(row + static_cast<size_t>(x0 / 32) * 4);
      if (word == 0) continue;
      const int32_t n = h.width - x0 < 32 ? h.width - x0 : 32;
      for (int32_t k = 0; k < n; ++k)
        if (word & (0x80000000u >> k)) o[x0 + k] = 1;
    }
  }
  *result = out;
  return VLT_OK;
}

// Runs the second step on a temporary image and frees it on every path.
template <class Second>
VltStatus then_free(VltImage* temp, Second second) {
  const VltStatus st = second(temp);
  VltImage_free(temp);
  return st;
}

}  // namespace

int VltImage_isPromotion(uint16_t from, uint16_t to) {
  const VltConvertEntry* e = entry_for(from, to);
  return e != nullptr && e->converter != nullptr && e->isPromotion ? 1 : 0;
}

VltStatus VltImage_pPromote(const VltImage* image, uint16_t type, VltImage** result) {
  if (result != nullptr) *result = nullptr;
  if (image == nullptr || result == nullptr) return VLT_ERR_ASSERT;
  const uint16_t from = image->hdr.type;
  if (from == VLT_IMAGE_PACKED && type == VLT_IMAGE_PACKED) return VLT_ERR_ASSERT;
  if (from == VLT_IMAGE_BINARY && type == VLT_IMAGE_PACKED) return pack(image, result);
  if (from == VLT_IMAGE_PACKED && type == VLT_IMAGE_BINARY) return unpack(image, result);
  VltImage* bin = nullptr;
  if (from == VLT_IMAGE_PACKED) {
    const VltStatus made = unpack(image, &bin);
    if (made != VLT_OK) return made;
    return then_free(bin, [&](VltImage* t) { return VltImage_convert(t, type, result); });
  }
  if (type == VLT_IMAGE_PACKED) {
    const VltStatus made = VltImage_convert(image, VLT_IMAGE_BINARY, &bin);
    if (made != VLT_OK) return made;
    return then_free(bin, [&](VltImage* t) { return pack(t, result); });
  }
  const VltConvertEntry* e = entry_for(from, type);
  if (e == nullptr || e->converter == nullptr) return VLT_ERR_ASSERT;
  if (!e->isPromotion) {
    const VltState* s = image->state;
    return Vlt_reportErrMsg(s != nullptr ? s->errState : nullptr, VLT_ERR_CONSISTENCY,
                            "non-promotion request made to imPromote()");
  }
  return run_converter(image, e, result);
}

VltStatus VltImage_pDemote(const VltImage* image, uint16_t type, VltImage** result) {
  if (result != nullptr) *result = nullptr;
  if (image == nullptr || result == nullptr) return VLT_ERR_ASSERT;
  const uint16_t from = image->hdr.type;
  VltImage* bin = nullptr;
  if (type == VLT_IMAGE_PACKED) {
    if (from == VLT_IMAGE_BINARY || from == VLT_IMAGE_PACKED) return VLT_ERR_ASSERT;
    const VltStatus made = VltImage_convert(image, VLT_IMAGE_BINARY, &bin);
    if (made != VLT_OK) return made;
    return then_free(bin, [&](VltImage* t) { return pack(t, result); });
  }
  if (from == VLT_IMAGE_PACKED) {
    if (type == VLT_IMAGE_BINARY) return VLT_ERR_ASSERT;
    if (unpack(image, &bin) != VLT_OK) return Vlt_report(image->state, VLT_ERR_NULL);
    return then_free(bin, [&](VltImage* t) { return VltImage_convert(t, type, result); });
  }
  return run_converter(image, entry_for(from, type), result);
}

VltStatus VltImage_convert(const VltImage* image, uint16_t type, VltImage** result) {
  if (result != nullptr) *result = nullptr;
  if (image == nullptr || result == nullptr) return VLT_ERR_ASSERT;
  const uint16_t from = image->hdr.type;
  if (from != VLT_IMAGE_PACKED && type != VLT_IMAGE_PACKED) {
    if (!is_unpacked(from) || !is_unpacked(type)) return VLT_ERR_ASSERT;
    if (from == type) return VltImage_dup(image, 0, result);
    const VltConvertEntry* e = entry_for(from, type);
    return e->isPromotion ? VltImage_pPromote(image, type, result)
                          : VltImage_pDemote(image, type, result);
  }
  if (from == VLT_IMAGE_BINARY || type == VLT_IMAGE_BINARY)
    return VltImage_pPromote(image, type, result);
  if (from == type) return VltImage_dup(image, 0, result);
  if (!is_unpacked(from) && from != VLT_IMAGE_PACKED) return VLT_ERR_ASSERT;
  if (!is_unpacked(type) && type != VLT_IMAGE_PACKED) return VLT_ERR_ASSERT;
  return VltImage_pDemote(image, type, result);
}
