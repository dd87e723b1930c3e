#ifndef IPTEST_FRAMED_IMAGE_H
#define IPTEST_FRAMED_IMAGE_H

// A framed test image of 1 to 16 bits per pixel: a 32-pixel frame on every side, lines a
// multiple of 4 bytes (optionally a few words longer), pixels read and written through the
// naive reference accessors. Image coordinates start at the first image pixel; frame pixels
// have negative or out-of-image coordinates.

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "ref_rasterop.h"

namespace iptest {

struct Framed {
  int w, h, depth;
  int32_t bpl;
  std::vector<uint8_t> bytes;

  Framed(int w_, int h_, int depth_, int extraWords = 0)
      : w(w_), h(h_), depth(depth_),
        bpl(static_cast<int32_t>(((w_ + 64) * depth_ + 31) / 32 * 4 + 4 * extraWords)),
        bytes(static_cast<size_t>(bpl) * static_cast<size_t>(h_ + 64), 0) {}

  int32_t fw() const { return w + 64; }
  int32_t fh() const { return h + 64; }
  uint8_t* data() { return bytes.data(); }
  const uint8_t* data() const { return bytes.data(); }
  // The first image pixel.
  uint8_t* first() { return data() + 32 * size_t(bpl) + 4 * size_t(depth); }
  bool in_image(int x, int y) const { return x >= 0 && y >= 0 && x < w && y < h; }
  // Pixels per line the buffer holds, frames and padding included.
  int line_pixels() const { return bpl * 8 / depth; }

  uint32_t get(int x, int y) const {
    return monotest::ref_get_pixel(bytes.data(), size_t(bpl), x + 32, y + 32, unsigned(depth));
  }
  void set(int x, int y, uint32_t v) {
    monotest::ref_set_pixel(bytes.data(), size_t(bpl), x + 32, y + 32, unsigned(depth), v);
  }
  uint32_t max_value() const { return depth == 32 ? ~0u : (1u << depth) - 1; }

  // Random image pixels; the rest as it is.
  void fill_image(std::mt19937& rng) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) set(x, y, static_cast<uint32_t>(rng()) & max_value());
  }
  // Random image pixels of which a share are not 0; the rest as it is.
  void fill_image(std::mt19937& rng, double share) {
    std::uniform_real_distribution<double> u(0, 1);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) set(x, y, u(rng) < share ? 1 + static_cast<uint32_t>(rng()) % max_value() : 0);
  }
  // Random bytes everywhere, frames and padding included.
  void fill_noise(std::mt19937& rng) {
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  }
};

// Compares every pixel of the buffer (frames and padding included) with want(x, y, before),
// coordinates in image terms; empty when all match, else the first difference.
template <class Want>
std::string compare_all(const Framed& before, const Framed& after, Want want) {
  for (int y = -32; y < after.h + 32; ++y)
    for (int x = -32; x < after.line_pixels() - 32; ++x) {
      const uint32_t expected = want(x, y, before.get(x, y));
      const uint32_t got = after.get(x, y);
      if (got != expected)
        return "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") is " + std::to_string(got) +
               ", expected " + std::to_string(expected);
    }
  return {};
}

}  // namespace iptest

#endif
