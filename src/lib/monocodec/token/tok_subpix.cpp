// Half-pixel alignment of a class bitmap on a grey page box.

#include "tok_subpix.h"

#include <cmath>

namespace {

// Pixel (c, r) counted from the image's first pixel; 0 outside the image.
int class_bit(const VltImage* im, int64_t c, int64_t r) {
  if (c < 0 || r < 0 || c >= im->hdr.width || r >= im->hdr.height) return 0;
  return VltImage_getPackedPixel(im, static_cast<int32_t>(c + im->hdr.xOffset), static_cast<int32_t>(r + im->hdr.yOffset));
}

// The page byte at (x, y) in page coordinates, or -1 outside the page: boxes widened around an
// instance near the right or bottom edge reach past it.
int page_byte(const VltImage* grey, int64_t x, int64_t y) {
  const int64_t u = x - grey->hdr.xOffset, v = y - grey->hdr.yOffset;
  if (u < 0 || v < 0 || u >= grey->hdr.width || v >= grey->hdr.height) return -1;
  return grey->rows[v][u];
}

}  // namespace

VltStatus optAlignSub(VltState* es, const VltImage* grey, const VltImage* cls, int32_t x, int32_t y, int32_t width,
                      int32_t height, double* dx, double* dy, uint8_t* polarity) {
  if (grey == nullptr || cls == nullptr || dx == nullptr || dy == nullptr || polarity == nullptr ||
      grey->hdr.type != VLT_IMAGE_GRAY || cls->hdr.type != VLT_IMAGE_PACKED)
    return Vlt_report(es, VLT_ERR_PARAM);
  const int64_t ox = (int64_t{cls->hdr.width} - width) / 2;
  const int64_t oy = (int64_t{cls->hdr.height} - height) / 2;

  // Counts start at 1 so that a box facing only one kind of class pixel still compares.
  double blackSum = 0.0, whiteSum = 0.0, blackCount = 1.0, whiteCount = 1.0;
  for (int32_t r = 0; r < height; ++r)
    for (int32_t c = 0; c < width; ++c) {
      const int v = page_byte(grey, int64_t{x} + c, int64_t{y} + r);
      if (v < 0) continue;
      if (class_bit(cls, ox + c, oy + r)) {
        blackSum += v;
        blackCount += 1.0;
      } else {
        whiteSum += v;
        whiteCount += 1.0;
      }
    }
  const uint8_t p = blackSum / blackCount > whiteSum / whiteCount ? 1 : 0;

  double* rows[3] = {};
  const auto finish = [&](VltStatus st) {
    for (double* row : rows) es->free(row);
    return st;
  };
  for (double*& row : rows)
    if ((row = static_cast<double*>(es->calloc(3, sizeof(double)))) == nullptr)
      return finish(Vlt_report(es, VLT_ERR_NOMEM));
  for (int32_t j = 0; j < 3; ++j)
    for (int32_t i = 0; i < 3; ++i) {
      double score = 0.0;
      for (int32_t r = 0; r < height; ++r)
        for (int32_t c = 0; c < width; ++c) {
          if (!class_bit(cls, ox + c + i - 1, oy + r + j - 1)) continue;
          const int v = page_byte(grey, int64_t{x} + c, int64_t{y} + r);
          if (v >= 0) score += p ? v : 255 - v;
        }
      rows[j][i] = score;
    }

  static constexpr double kCoords[3] = {0.0, 1.0, 2.0};
  double best = 0.0;
  int32_t bestRow = 2, bestColumn = 2;
  for (int32_t gr = 0; gr < 5; ++gr)
    for (int32_t gc = 0; gc < 5; ++gc) {
      double value = 0.0, error = 0.0;
      if (const VltStatus st = pInter2d(es, kCoords, kCoords, rows, 3, 3, 0.5 * gr, 0.5 * gc, &value, &error);
          st != VLT_OK)
        return finish(st);
      if (value > best) {
        best = value;
        bestRow = gr;
        bestColumn = gc;
      }
    }
  *dx = (bestColumn - 2) * 0.5;
  *dy = (bestRow - 2) * 0.5;
  *polarity = p;
  return finish(VLT_OK);
}

VltStatus pInter2d(VltState* es, const double* rowCoords, const double* columnCoords, double* const* table, int32_t m,
                   int32_t n, double row, double column, double* value, double* error) {
  if (rowCoords == nullptr || columnCoords == nullptr || table == nullptr || table[0] == nullptr || m < 0 || n < 0 ||
      value == nullptr || error == nullptr)
    return Vlt_report(es, VLT_ERR_PARAM);
  auto* across = static_cast<double*>(es->malloc(sizeof(double) * static_cast<size_t>(m > 0 ? m : 1)));
  if (across == nullptr) return Vlt_report(es, VLT_ERR_NOMEM);
  for (int32_t k = 0; k < m; ++k) {
    double unused = 0.0;
    pInter1dExact(columnCoords, table[k], n, column, &across[k], &unused);
  }
  pInter1dExact(rowCoords, across, m, row, value, error);
  es->free(across);
  return VLT_OK;
}

void pInter1dExact(const double* xa, const double* ya, int32_t n, double x, double* value, double* error) {
  double sum = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    double num = 1.0, den = 1.0;
    for (int32_t j = 0; j < n; ++j) {
      if (j == i) continue;
      num *= x - xa[j];
      den *= xa[i] - xa[j];
    }
    sum += ya[i] * num / den;
  }
  *value = sum;
  *error = 0.0;
}

VltStatus pInter1d(VltState* es, const double* xa, const double* ya, int32_t n, double x, double* value,
                   double* error) {
  if (xa == nullptr || ya == nullptr || n < 0 || value == nullptr || error == nullptr)
    return Vlt_report(es, VLT_ERR_PARAM);
  *value = 0.0;
  *error = 0.0;
  if (n == 0) return VLT_OK;
  // Indexed from 1 as the tableau is usually written.
  const size_t count = static_cast<size_t>(n) + 1;
  double* xs = static_cast<double*>(es->malloc(count * sizeof(double)));
  double* ys = static_cast<double*>(es->malloc(count * sizeof(double)));
  double* c = static_cast<double*>(es->malloc(count * sizeof(double)));
  double* d = static_cast<double*>(es->malloc(count * sizeof(double)));
  const auto finish = [&](VltStatus st) {
    es->free(xs);
    es->free(ys);
    es->free(c);
    es->free(d);
    return st;
  };
  if (xs == nullptr || ys == nullptr || c == nullptr || d == nullptr) return finish(Vlt_report(es, VLT_ERR_NOMEM));
  int32_t ns = 1;
  double nearest = std::fabs(x - xa[0]);
  for (int32_t i = 1; i <= n; ++i) {
    xs[i] = xa[i - 1];
    ys[i] = ya[i - 1];
    c[i] = ys[i];
    d[i] = ys[i];
    const double distance = std::fabs(x - xs[i]);
    if (distance < nearest) {
      ns = i;
      nearest = distance;
    }
  }
  double y = ys[ns--];
  double correction = 0.0;
  for (int32_t m = 1; m < n; ++m) {
    for (int32_t i = 1; i <= n - m; ++i) {
      const double ho = xs[i] - x, hp = xs[i + m] - x;
      const double w = c[i + 1] - d[i];
      double den = ho - hp;
      if (den == 0.0) return finish(Vlt_report(es, VLT_ERR_INTERNAL));
      den = w / den;
      d[i] = hp * den;
      c[i] = ho * den;
    }
    correction = 2 * ns < n - m ? c[ns + 1] : d[ns--];
    y += correction;
  }
  *value = y;
  *error = correction;
  return finish(VLT_OK);
}
