#ifndef MONO_CHECKED_SIZE_H
#define MONO_CHECKED_SIZE_H

// Size arithmetic on untrusted or caller-given geometry: each helper writes the result and
// returns true, or returns false (leaving the result untouched) when it does not fit the type.

#include <concepts>
#include <cstddef>

namespace mono {

template <std::integral T>
[[nodiscard]] constexpr bool checked_mul(T a, T b, T* out) {
  T r;
  if (__builtin_mul_overflow(a, b, &r)) return false;
  *out = r;
  return true;
}

template <std::integral T>
[[nodiscard]] constexpr bool checked_add(T a, T b, T* out) {
  T r;
  if (__builtin_add_overflow(a, b, &r)) return false;
  *out = r;
  return true;
}

// a * b + c, the usual shape of "rows x stride + header".
template <std::integral T>
[[nodiscard]] constexpr bool checked_mul_add(T a, T b, T c, T* out) {
  T m;
  return checked_mul(a, b, &m) && checked_add(m, c, out);
}

}  // namespace mono

#endif
