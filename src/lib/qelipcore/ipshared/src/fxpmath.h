#ifndef FXPMATH_H
#define FXPMATH_H

// Integer trigonometry and square roots for the image kernels. Angles are signed 32-bit counts
// of 1/32768 of a turn (8192 = 90 degrees, positive from +x towards +y); fractions are Q15
// (32768 = 1.0). Every result is integer-exact and reproducible bit for bit on every host. The
// state is not used; a null out pointer gives 118.

#include <stdint.h>

#include "ipstate.h"

#ifdef __cplusplus
extern "C" {
#endif

// Q15 sine and cosine of an angle in -32768..32768; 2 (output untouched) outside it. The axes
// come out one unit beyond +-1.0 on the positive side (cos 0 = 32769) and one short on the
// negative side (cos 16384 = -32767): callers rely on these exact values.
VltStatus fract_sin(IPState* state, int32_t angle, int32_t* sine);
VltStatus fract_cos(IPState* state, int32_t angle, int32_t* cosine);
// Square root rounded to the nearest integer (4294967295 gives 65536).
VltStatus isqrt(IPState* state, uint32_t n, uint32_t* root);
// Square root of (mantissa / 32768) * 2^exponent, in the same form; mantissa 0..32768, else 2.
VltStatus fract_sqrt(IPState* state, int32_t mantissa, int32_t exponent, int32_t* rootMantissa,
                     int32_t* rootExponent);
// Angle of the vector (x, y), -16384..16384. |x| or |y| above 32767: 2 with 32769; both 0: 2
// with 0.
VltStatus iatan2(IPState* state, int32_t x, int32_t y, int32_t* angle);

#ifdef __cplusplus
}
#endif

#endif
