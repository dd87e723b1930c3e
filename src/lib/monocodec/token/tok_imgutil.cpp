// Small image utilities of the token engine.

#include "tok_imgutil.h"

#include <cstdlib>

#include "byteorder.h"
#include "pixr.h"

int32_t find_max_of_ints(const int32_t* values, int32_t n) {
  int32_t best = values[0];
  for (int32_t i = 1; i < n; ++i)
    if (values[i] > best) best = values[i];
  return best;
}

void cmyk2rgb(uint32_t cmyk, uint8_t rgb[3]) {
  // Ink colours of cyan, magenta, yellow and black per output channel.
  static constexpr double kInk[4][3] = {{0, 1, 1}, {1, 0, 1}, {1, 1, 0}, {0, 0, 0}};
  const double value[4] = {double((cmyk >> 24) & 0xFF) / 255.0, double((cmyk >> 16) & 0xFF) / 255.0,
                           double((cmyk >> 8) & 0xFF) / 255.0, double(cmyk & 0xFF) / 255.0};
  for (int ch = 0; ch < 3; ++ch) {
    double product = 1.0;
    for (int ink = 0; ink < 4; ++ink) product *= 1.0 - value[ink] * (1.0 - kInk[ink][ch]);
    rgb[ch] = static_cast<uint8_t>(static_cast<int>(product * 255.0 + 0.5));
  }
}

VltStatus limtorgbim(const VltImage* cmyk, VltImage** place) {
  if (cmyk == nullptr || place == nullptr || cmyk->rows == nullptr) return VLT_ERR_PARAM;
  *place = nullptr;
  const VltImageHeader& h = cmyk->hdr;
  VltImage* rgb = nullptr;
  if (VltStatus st = VltImage_newOffset(cmyk->state, VLT_IMAGE_RGB, h.width, h.height, h.xOffset, h.yOffset, &rgb))
    return st;
  for (int32_t y = 0; y < h.height; ++y)
    for (int32_t x = 0; x < h.width; ++x)
      cmyk2rgb(mono::load_be32(cmyk->rows[y] + 4 * size_t(x)), rgb->rows[y] + 3 * size_t(x));
  *place = rgb;
  return VLT_OK;
}

VltStatus pimNewFrameAligned(VltState* engine, int32_t width, int32_t height, int32_t* xOffset, VltImage** place) {
  if (engine == nullptr) return VLT_ERR_PARAM;
  if (place == nullptr || xOffset == nullptr) return Vlt_report(engine, VLT_ERR_NULL);
  *place = nullptr;
  IPWState* w = engine->ipwState;
  if (w == nullptr) return Vlt_report(engine, VLT_ERR_NULL_IPWSTATE);
  int32_t bpl = 0;
  size_t size = 0;
  if (VltStatus st = w_pixrImageProperties(w, width, height, 1, 32, &bpl, &size)) return st;
  auto* buffer = static_cast<uint8_t*>(engine->calloc(1, size == 0 ? 1 : size));
  if (buffer == nullptr) return Vlt_report(engine, VLT_ERR_NOMEM);
  VltImage* image = nullptr;
  if (VltStatus st = VltImage_wrap(engine, buffer, width + 64, height + 64, bpl / 4, &image)) {
    engine->free(buffer);
    return st;
  }
  // The frame is exactly 32 pixels, a whole word, on the left of every row.
  *xOffset = 0;
  *place = image;
  return VLT_OK;
}
