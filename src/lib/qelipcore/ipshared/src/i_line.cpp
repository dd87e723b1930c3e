// Framed image copy and line drawing.

#include <algorithm>
#include <cstdlib>

#include "byteorder.h"
#include "ip_internal.h"
#include "ipcore.h"

namespace {

// Entry i: the i + 1 most significant bits.
constexpr uint32_t left_mask(uint32_t i) { return mono::left_mask32(i + 1); }

// One pixel at column x of a line, its bits replaced by value (already masked to the depth).
void put_pixel(uint8_t* line, int32_t x, int32_t d, uint32_t value) {
  const size_t bit = size_t(x) * static_cast<size_t>(d);
  if (d == 8) {
    line[bit / 8] = static_cast<uint8_t>(value);
    return;
  }
  const unsigned shift = 8 - static_cast<unsigned>(d) - static_cast<unsigned>(bit % 8);
  const unsigned mask = ((1u << d) - 1u) << shift;
  line[bit / 8] = static_cast<uint8_t>((line[bit / 8] & ~mask) | (value << shift));
}

}  // namespace

extern "C" {

VltStatus i_copyImage(IPState* state, const uint8_t* src, int32_t W, int32_t H, int32_t d,
                      uint32_t srcBpl, uint8_t* dst, uint32_t dstBpl) {
  if (!(d == 1 || d == 2 || d == 4 || d == 8 || d == 16)) return IP_FAIL(state, VLT_ERR_PARAM);
  const int32_t w = W - 64, h = H - 64;
  if (h <= 0 || w <= 0) return VLT_OK;
  if (!src || !dst) return IP_FAIL(state, VLT_ERR_NULL);
  const size_t left = size_t(4) * static_cast<size_t>(d);
  if (left > dstBpl) return IP_FAIL(state, VLT_ERR_PARAM);
  const auto n = static_cast<uint32_t>((int64_t{w} * d + 7) / 8);
  for (int32_t i = 0; i < h; ++i) {
    const size_t line = size_t(IP_FRAME + i);
    ip_removeFrameFromLine(state, dst + line * dstBpl + left, src + line * srcBpl + left, n,
                           dstBpl - static_cast<uint32_t>(left));
  }
  return ip_clearRightFrame(state, dst + size_t(IP_FRAME) * dstBpl + left, w, h, dstBpl, d);
}

VltStatus i_rasterHorizLine(IPState* state, uint8_t* line, int32_t x0, int32_t x1, uint32_t value) {
  if (x0 > x1) std::swap(x0, x1);
  if (x0 < 0) return IP_FAIL(state, VLT_ERR_PARAM);
  if (!line) return IP_FAIL(state, VLT_ERR_NULL);
  const size_t w0 = size_t(x0) / 32, w1 = size_t(x1) / 32;
  const uint32_t b0 = static_cast<uint32_t>(x0) % 32, b1 = static_cast<uint32_t>(x1) % 32;
  uint8_t* first = line + w0 * 4;
  uint8_t* last = line + w1 * 4;
  uint32_t firstMask, lastMask, middle;
  if (value) {
    firstMask = ~0u >> b0;
    lastMask = left_mask(b1);
    middle = ~0u;
    if (w0 == w1) {
      mono::store_be32(first, mono::load_be32(first) | (firstMask & lastMask));
      return VLT_OK;
    }
    mono::store_be32(first, mono::load_be32(first) | firstMask);
    mono::store_be32(last, mono::load_be32(last) | lastMask);
  } else {
    firstMask = left_mask(b0) << 1;
    lastMask = 0x7FFFFFFFu >> b1;
    middle = 0;
    if (w0 == w1) {
      mono::store_be32(first, mono::load_be32(first) & (firstMask | lastMask));
      return VLT_OK;
    }
    mono::store_be32(first, mono::load_be32(first) & firstMask);
    mono::store_be32(last, mono::load_be32(last) & lastMask);
  }
  for (uint8_t* p = first + 4; p < last; p += 4) mono::store_be32(p, middle);
  return VLT_OK;
}

VltStatus i_rasterLine(IPState* state, uint8_t* buf, int32_t W, int32_t H, int32_t d, uint32_t bpl,
                       int32_t fx, int32_t fy, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                       uint32_t value) {
  if (!(d == 1 || d == 2 || d == 4 || d == 8)) return IP_FAIL(state, VLT_ERR_PARAM);
  if (!buf) return IP_FAIL(state, VLT_ERR_NULL);
  // A value wider than the depth would spill into the neighbouring pixels.
  value &= (1u << d) - 1u;
  const bool straight = y0 == y1 || x0 == x1;
  if (straight && d == 1) {
    return i_rasterOpFull(state, buf, W, H, fx, fy, std::min(x0, x1), std::min(y0, y1),
                          std::abs(x1 - x0) + 1, std::abs(y1 - y0) + 1, 1, bpl,
                          value ? IP_ROP_SET : IP_ROP_CLEAR, nullptr, 0, 0, 0, 0, 0, 0, 1, 0);
  }
  // Pixels written directly: both end points must lie in the framed buffer, whose lines must
  // hold its width.
  const auto inside = [&](int64_t x, int64_t y) {
    return x + fx >= 0 && x + fx < W && y + fy >= 0 && y + fy < H;
  };
  if (!inside(x0, y0) || !inside(x1, y1) || int64_t{W} * d > int64_t{bpl} * 8)
    return IP_FAIL(state, VLT_ERR_PARAM);
  const auto line_at = [&](int32_t y) { return buf + size_t(y + fy) * bpl; };

  if (x0 > x1) {
    std::swap(x0, x1);
    std::swap(y0, y1);
  }
  if (straight) {
    const int32_t ya = std::min(y0, y1), yb = std::max(y0, y1);
    for (int32_t y = ya; y <= yb; ++y)
      for (int32_t x = x0; x <= x1; ++x) put_pixel(line_at(y), x + fx, d, value);
    return VLT_OK;
  }
  const int32_t dx = x1 - x0, dy = std::abs(y1 - y0);
  const bool xMajor = dy <= dx;
  const int32_t major = xMajor ? dx : dy, minor = xMajor ? dy : dx;
  const int32_t yStep = y1 > y0 ? 1 : -1;
  const int32_t threshold = y1 < y0 ? 1 : 0;
  int32_t D = 2 * minor - major;
  int32_t x = x0, y = y0;
  const bool spans = d == 1 && xMajor;
  int32_t spanStart = x0;
  for (int32_t i = 0;; ++i) {
    if (!spans) put_pixel(line_at(y), x + fx, d, value);
    if (i == major) break;
    if (D < threshold) {
      if (xMajor) ++x;
      else y += yStep;
      D += 2 * minor;
    } else {
      if (spans) {
        i_rasterHorizLine(state, line_at(y), spanStart + fx, x + fx, value);
        spanStart = x + 1;
      }
      ++x;
      y += yStep;
      D += 2 * (minor - major);
    }
  }
  if (spans) {
    if (x != x1) return IP_FAIL(state, VLT_ERR_INTERNAL);
    i_rasterHorizLine(state, line_at(y), spanStart + fx, x1 + fx, value);
  }
  return VLT_OK;
}

}  // extern "C"
