// Fixed-point trigonometry and roots: fixed sequences of 32-bit integer products, no tables,
// no floating point, so that rotation and skew results match on every host.

#include "fxpmath.h"

namespace {

// 32-bit two's-complement arithmetic with wrap-around, without signed-overflow UB.
constexpr int32_t wmul(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
constexpr int32_t wadd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// Rescale a Q30 product to Q15: round half up, then truncate toward zero. For negative values
// this is not round-to-nearest (-1073741824 gives -32767); the polynomials' values at the axes
// depend on exactly this behaviour.
constexpr int32_t q15(int32_t v) { return wadd(v, 16384) / 32768; }

// Minus the sine of x quarter turns, x in -8192..8192 turn units.
constexpr int32_t minus_sine(int32_t x) {
  const int32_t t = 4 * x;
  const int32_t t2 = q15(wmul(t, t));
  const int32_t t3 = q15(wmul(t2, t));
  const int32_t t5 = q15(wmul(t2, t3));
  const int32_t t7 = q15(wmul(t5, t2));
  int32_t sum = wmul(-51472, t);
  sum = wadd(sum, wmul(21165, t3));
  sum = wadd(sum, wmul(-2603, t5));
  sum = wadd(sum, wmul(142, t7));
  return q15(sum);
}

constexpr bool angle_in_range(int32_t a) { return a >= -32768 && a <= 32768; }

// Bitwise root of n, then one step towards the nearest integer. The correction compares the
// two distances as wrapping 32-bit differences, which is what makes 4294967295 round to 65536.
constexpr uint32_t nearest_root(uint32_t n) {
  uint32_t r = 0;
  for (uint32_t b = 32768; b != 0; b >>= 1)
    if ((r + b) * (r + b) <= n) r += b;
  if ((r + 1) * (r + 1) - n < n - r * r) ++r;
  return r;
}

// Arc tangent of r / 32768 (r in 0..32768) in units of 2^-30 radian: an odd series about 0
// below 16696, a series about r0 = 25601 above.
constexpr int32_t atan_q30(int32_t r) {
  if (r <= 16695) {
    const int32_t r2 = q15(wmul(r, r));
    const int32_t r3 = q15(wmul(r2, r));
    const int32_t r5 = q15(wmul(r2, r3));
    const int32_t r7 = q15(wmul(r5, r2));
    int32_t s = wmul(r, 32768);
    s = wadd(s, wmul(-10923, r3));
    s = wadd(s, wmul(6554, r5));
    s = wadd(s, wmul(-4681, r7));
    return s;
  }
  const int32_t d = r - 25601;
  const int32_t d2 = q15(wmul(d, d));
  const int32_t d3 = q15(wmul(d2, d));
  const int32_t d4 = q15(wmul(d2, d2));
  int32_t s = 0x2A720000;
  s = wadd(s, wmul(20348, d));
  s = wadd(s, wmul(-9872, d2));
  s = wadd(s, wmul(2174, d3));
  s = wadd(s, wmul(1483, d4));
  return s;
}

static_assert(minus_sine(-8192) == 32769 && minus_sine(8192) == -32767 && minus_sine(0) == 0);
static_assert(nearest_root(4294967295u) == 65536 && nearest_root(24) == 5);

}  // namespace

extern "C" {

VltStatus fract_cos(IPState*, int32_t angle, int32_t* cosine) {
  if (!cosine) return VLT_ERR_NULL;
  if (!angle_in_range(angle)) return VLT_ERR_PARAM;
  const int32_t m = angle < 0 ? -angle : angle;
  *cosine = minus_sine(m <= 16384 ? m - 8192 : 24576 - m);
  return VLT_OK;
}

VltStatus fract_sin(IPState*, int32_t angle, int32_t* sine) {
  if (!sine) return VLT_ERR_NULL;
  if (!angle_in_range(angle)) return VLT_ERR_PARAM;
  const int32_t m = angle < 0 ? -angle : angle;
  const int32_t m2 = m < 24577 ? m : m - 32768;
  const int32_t p = minus_sine(m2 < 8192 ? -m2 : m2 - 16384);
  *sine = angle >= 0 ? p : -p;
  return VLT_OK;
}

VltStatus isqrt(IPState*, uint32_t n, uint32_t* root) {
  if (!root) return VLT_ERR_NULL;
  *root = nearest_root(n);
  return VLT_OK;
}

VltStatus fract_sqrt(IPState*, int32_t mantissa, int32_t exponent, int32_t* rootMantissa,
                     int32_t* rootExponent) {
  if (!rootMantissa || !rootExponent) return VLT_ERR_NULL;
  if (static_cast<uint32_t>(mantissa) > 32768u) return VLT_ERR_PARAM;
  if (mantissa == 0) {
    *rootMantissa = 0;
    *rootExponent = 0;
    return VLT_OK;
  }
  int32_t m = mantissa, e = exponent;
  while (m <= 16383) {
    m *= 2;
    --e;
  }
  if (e % 2 != 0) {
    ++e;
    m /= 2;
  }
  *rootExponent = e / 2;
  *rootMantissa = static_cast<int32_t>(nearest_root(static_cast<uint32_t>(m) * 32768u));
  return VLT_OK;
}

VltStatus iatan2(IPState*, int32_t x, int32_t y, int32_t* angle) {
  if (!angle) return VLT_ERR_NULL;
  if (x > 32767 || x < -32767 || y > 32767 || y < -32767) {
    *angle = 32769;
    return VLT_ERR_PARAM;
  }
  if (x == 0 && y == 0) {
    *angle = 0;
    return VLT_ERR_PARAM;
  }
  const int32_t ax = x < 0 ? -x : x, ay = y < 0 ? -y : y;
  const bool swapped = ay > ax;
  const int32_t r = swapped ? ax * 32768 / ay : ay * 32768 / ax;
  const int32_t q = wadd(atan_q30(r), 8192) / 16384;
  const int32_t a = (q * 20861 + 131072) / 262144;
  if (x >= 0 && y >= 0) *angle = swapped ? 8192 - a : a;
  else if (x < 0 && y >= 0) *angle = swapped ? 8192 + a : 16384 - a;
  else if (x < 0) *angle = swapped ? -8192 - a : a - 16384;
  else *angle = swapped ? a - 8192 : -a;
  return VLT_OK;
}

}  // extern "C"
