#ifndef TOK_SUBPIX_H
#define TOK_SUBPIX_H

// Half-pixel alignment of a class bitmap on the grey box of one of its instances: the nine
// whole-pixel shifts are scored by correlation, the 3 x 3 score table is interpolated on a
// half-pixel grid and the best grid point gives the shift. Also the page's polarity (whether ink
// is bright or dark), and the polynomial interpolators behind it.

#include <stdint.h>

#include "vlt_image.h"
#include "vlt_state.h"

// Shift (each of -1, -0.5, 0, 0.5, 1) that best lays the framed class image (Packed) on the box
// x, y, width x height of the grey page (8-bit), and the polarity: 1 when the page shows the
// class's black pixels brighter than its white ones. The class image is centred on the box;
// class and page pixels outside their images take no part. 1 without memory; the outputs are
// written only on success.
VltStatus optAlignSub(VltState* engine, const VltImage* grey, const VltImage* classImage, int32_t x, int32_t y,
                      int32_t width, int32_t height, double* dx, double* dy, uint8_t* polarity);

// Value at (row, column) of the polynomial through an m x n table (rows[k] of n values at the
// column coordinates, k at the row coordinates): every row interpolated at the column, then those
// values at the row. 2 for missing arrays or negative sizes, 1 without memory.
VltStatus pInter2d(VltState* engine, const double* rowCoords, const double* columnCoords, double* const* table,
                   int32_t m, int32_t n, double row, double column, double* value, double* error);

// Lagrange form through n points (distinct abscissae); the error estimate is 0.
void pInter1dExact(const double* xa, const double* ya, int32_t n, double x, double* value, double* error);

// Neville's scheme through n points, with the last correction as error estimate. 2 for missing
// arrays or negative n, 1 without memory, 12 (reported) for coinciding abscissae.
VltStatus pInter1d(VltState* engine, const double* xa, const double* ya, int32_t n, double x, double* value,
                   double* error);

#endif
