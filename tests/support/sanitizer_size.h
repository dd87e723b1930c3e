#ifndef MONOTEST_SANITIZER_SIZE_H
#define MONOTEST_SANITIZER_SIZE_H

// Under AddressSanitizer every memory access is checked, which costs the sweeps over large
// pages and long case lists far more than anything else. Such tests take an input of the same
// shape but smaller there: the faults they look for (a wrong pixel, a step out of bounds) show at
// that size too, and the host build still runs the full one.

namespace monotest {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

// full in the host build, reduced under the sanitizers.
template <class T>
constexpr T sanitizer_sized(T full, T reduced) {
  return kSanitized ? reduced : full;
}

}  // namespace monotest

#endif
