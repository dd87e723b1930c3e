#ifndef TOK_ORDER_H
#define TOK_ORDER_H

// Order statistics: the k-th smallest element (k = 0 the smallest), found in place in expected
// linear time. The array is reordered. k beyond the array is taken as the last rank; an empty
// array gives 0.

#include <stdint.h>

int32_t pickNth(int32_t* values, int32_t n, int32_t k);
float pickNthFloat(float* values, int32_t n, int32_t k);

/* compare(a, b) > 0 when a ranks above b, < 0 below, 0 when equal. The words may hold
   addresses. */
typedef int (*TokCompareFn)(uintptr_t a, uintptr_t b);
uintptr_t pickNthGeneral(uintptr_t* values, int32_t n, int32_t k, TokCompareFn compare);

/* The fraction of the n values not above x; 1.0 for n = 0 and 10003.0 for a null array. */
double frac_lower(const int32_t* values, int32_t n, int32_t x);

#endif
