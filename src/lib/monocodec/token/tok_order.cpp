// Order statistics: one selection over three element types.

#include "tok_order.h"

#include <utility>

namespace {

// Selection by repeated partition around the larger of the window's first two distinct values,
// which keeps both parts non-empty. With an inconsistent order (NaN) a partition may fail to
// shrink the window; the walk then stops with the element at k instead of looping.
template <typename T, typename Less>
T select(T* a, int32_t n, int32_t k, Less less) {
  if (k > n - 1) k = n - 1;
  if (n - 1 < 0 || k < 0) return T{};
  int32_t lo = 0;
  int32_t hi = n - 1;
  for (;;) {
    if (k == lo || k == hi) {
      T best = a[lo];
      for (int32_t i = lo + 1; i <= hi; ++i)
        if (k == lo ? less(a[i], best) : less(best, a[i])) best = a[i];
      return best;
    }
    int32_t p = lo + 1;
    while (p <= hi && !less(a[p], a[lo]) && !less(a[lo], a[p])) ++p;
    if (p > hi) return a[lo];
    const T pivot = less(a[lo], a[p]) ? a[p] : a[lo];
    int32_t i = lo;
    int32_t j = hi;
    do {
      while (j > lo && !less(a[j], pivot)) --j;
      while (i < hi && less(a[i], pivot)) ++i;
      if (j >= i) std::swap(a[i], a[j]);
    } while (i < j);
    const int32_t newLo = j < k ? i : lo;
    const int32_t newHi = j < k ? hi : j;
    if (i != j + 1 || (newLo == lo && newHi == hi)) return a[k];
    lo = newLo;
    hi = newHi;
  }
}

}  // namespace

int32_t pickNth(int32_t* values, int32_t n, int32_t k) {
  return select(values, n, k, [](int32_t a, int32_t b) { return a < b; });
}

float pickNthFloat(float* values, int32_t n, int32_t k) {
  return select(values, n, k, [](float a, float b) { return a < b; });
}

uintptr_t pickNthGeneral(uintptr_t* values, int32_t n, int32_t k, TokCompareFn compare) {
  return select(values, n, k, [compare](uintptr_t a, uintptr_t b) { return compare(a, b) < 0; });
}

double frac_lower(const int32_t* values, int32_t n, int32_t x) {
  if (values == nullptr) return 10003.0;
  if (n == 0) return 1.0;
  int32_t count = 0;
  for (int32_t i = 0; i < n; ++i)
    if (values[i] <= x) ++count;
  return static_cast<double>(count) / static_cast<double>(n);
}
