// Framed-buffer geometry and the operations that add, remove and clear frames.

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

#include "byteorder.h"
#include "ip_internal.h"
#include "ipcore.h"

namespace {

constexpr bool valid_depth(int32_t d) { return d == 1 || d == 2 || d == 4 || d == 8 || d == 16; }

// Entry i: the i + 1 most significant bits (the valid pixels of a line's last word).
constexpr auto kLeftMask = [] {
  std::array<uint32_t, 32> m{};
  for (unsigned i = 0; i < 32; ++i) m[i] = mono::left_mask32(i + 1);
  return m;
}();

constexpr uint64_t round_up(uint64_t v, uint64_t unit) { return (v + unit - 1) / unit * unit; }

uint32_t access_unit(const IPState* state) { return state->longAccessFlag ? 32 : 4; }

VltStatus clear_rect(IPState* state, uint8_t* framed, int32_t W, int32_t H, uint32_t bpl,
                     int32_t d, int32_t x, int32_t y, int32_t w, int32_t h) {
  return i_rasterOpFull(state, framed, W, H, 0, 0, x, y, w, h, d, bpl, IP_ROP_CLEAR, nullptr, 0,
                        0, 0, 0, 0, 0, d, 0);
}

}  // namespace

extern "C" {

void EMMSOpcode(void) {}
void ip_dummyProc(void) {}

VltStatus ip_getLongestAccess(IPState* state, uint32_t* unit) {
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  if (!unit) return IP_FAIL(state, VLT_ERR_NULL);
  *unit = access_unit(state);
  return VLT_OK;
}

VltStatus ip_checkImageAccess(IPState* state, const uint8_t* a, uint32_t aBpl, const uint8_t* b,
                              uint32_t bBpl, uint32_t* unit) {
  uint32_t u = 0;
  if (VltStatus s = ip_getLongestAccess(state, &u)) return s;
  if (u > 7) {
    const uintptr_t m = u - 1;
    if ((reinterpret_cast<uintptr_t>(a) & m) || (aBpl & m) || (reinterpret_cast<uintptr_t>(b) & m) ||
        (bBpl & m))
      u = 4;
  }
  *unit = u;
  return VLT_OK;
}

VltStatus i_calcImageProperties(IPState* state, int32_t w, int32_t h, int32_t d, int32_t f,
                                uint32_t* bytesPerLine, uint32_t* bufferSize) {
  if (!bytesPerLine || !bufferSize) return IP_FAIL(state, VLT_ERR_PARAM);
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  if (w < 0 || h < 0 || d < 1 || f < 0) return IP_FAIL(state, VLT_ERR_PARAM);
  // In 64 bits from 31-bit inputs nothing below can wrap; the results must fit 32 bits.
  const uint64_t unit = access_unit(state);
  const uint64_t W = static_cast<uint64_t>(w), H = static_cast<uint64_t>(h);
  const uint64_t D = static_cast<uint64_t>(d), F = static_cast<uint64_t>(f);
  const uint64_t bpl = round_up(round_up(W * D + 2 * F * D, 32), 8 * unit) / 8;
  const uint64_t bplRot = round_up(round_up(H * D + 2 * F * D, 32), 8 * unit) / 8;
  const uint64_t size = std::max((F + W) * bplRot + std::max(H * unit, F * bplRot),
                                 (F + H) * bpl + std::max(W * unit, F * bpl)) + unit;
  if (size > UINT32_MAX) return IP_FAIL(state, VLT_ERR_PARAM);
  *bytesPerLine = static_cast<uint32_t>(bpl);
  *bufferSize = static_cast<uint32_t>(size);
  return VLT_OK;
}

VltStatus i_calcFrameOffset(IPState* state, const uint8_t* block, uint32_t, int32_t d, int32_t f,
                            uint32_t* frameOffset) {
  if (!frameOffset) return IP_FAIL(state, VLT_ERR_PARAM);
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  const uintptr_t unit = access_unit(state);
  const uintptr_t frameBytes = static_cast<uintptr_t>(int64_t{f} * d / 8);
  *frameOffset = static_cast<uint32_t>((unit - (frameBytes + reinterpret_cast<uintptr_t>(block))) & (unit - 1));
  return VLT_OK;
}

VltStatus i_calcImageOffset(IPState* state, const uint8_t* block, uint32_t bytesPerLine, int32_t d,
                            int32_t f, uint32_t* imageOffset) {
  if (!imageOffset) return IP_FAIL(state, VLT_ERR_PARAM);
  uint32_t frameOffset = 0;
  if (VltStatus s = i_calcFrameOffset(state, block, bytesPerLine, d, f, &frameOffset)) return s;
  const int64_t offset = int64_t{frameOffset} + int64_t{f} * bytesPerLine + int64_t{f} * d / 8;
  if (f < 0 || d < 0 || offset > UINT32_MAX) return IP_FAIL(state, VLT_ERR_PARAM);
  *imageOffset = static_cast<uint32_t>(offset);
  return VLT_OK;
}

// Copies bytes (rounded up to whole words) between frames of frameBytes zero bytes. At most
// srcLineBytes are read, so a tightly packed last source line is never read past its end.
void ip_addFrameToLine(IPState*, uint8_t* dst, const uint8_t* src, uint32_t bytes,
                       uint32_t srcLineBytes, uint32_t frameBytes, uint32_t lastWordMask) {
  const uint32_t rounded = (bytes + 3) & ~3u;
  const uint32_t copied = std::min(rounded, srcLineBytes);
  std::memset(dst, 0, frameBytes);
  std::memmove(dst + frameBytes, src, copied);
  std::memset(dst + frameBytes + copied, 0, rounded - copied);
  if (rounded > 0) {
    uint8_t* last = dst + frameBytes + rounded - 4;
    mono::store_be32(last, mono::load_be32(last) & lastWordMask);
  }
  std::memset(dst + frameBytes + rounded, 0, frameBytes);
}

// Copies bytes rounded up to whole words, but never more than the destination line holds.
void ip_removeFrameFromLine(IPState*, uint8_t* dst, const uint8_t* src, uint32_t bytes,
                            uint32_t dstLineBytes) {
  std::memmove(dst, src, std::min((bytes + 3) & ~3u, dstLineBytes));
}

VltStatus i_addFrame(IPState* state, const uint8_t* src, int32_t w, int32_t h, int32_t d,
                     uint32_t srcBpl, uint8_t* dst, uint32_t dstBpl) {
  if (srcBpl == 0) return VLT_OK;
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  if (!valid_depth(d)) return IP_FAIL(state, VLT_ERR_DEPTH);
  const int64_t bits = int64_t{w} * d;
  const int64_t framedBits = bits + 64 * d;
  if (w < 1 || h < 0 || framedBits > int64_t{dstBpl} * 8 || framedBits > INT32_MAX ||
      int64_t{h} + 64 > INT32_MAX)
    return IP_FAIL(state, VLT_ERR_PARAM);
  if (!src || !dst) return IP_FAIL(state, VLT_ERR_NULL);
  const auto n = static_cast<uint32_t>((bits + 7) / 8);
  const uint32_t mask = kLeftMask[static_cast<size_t>((bits - 1) % 32)];
  const auto frameBytes = static_cast<uint32_t>(4 * d);
  // Last line first, so that the framed copy may overlay its own source.
  for (int32_t y = h - 1; y >= 0; --y)
    ip_addFrameToLine(state, dst + size_t(y + IP_FRAME) * dstBpl, src + size_t(y) * srcBpl, n,
                      srcBpl, frameBytes, mask);
  if (VltStatus s = i_rasterOpFull(state, dst, w + 64, h + 64, 0, 0, 0, 0, w + 64, IP_FRAME, d,
                                   dstBpl, IP_ROP_CLEAR | IP_ROP_NOCLIP, nullptr, 0, 0, 0, 0, 0, 0, d, 0))
    return s;
  return i_rasterOpFull(state, dst, w + 64, h + 64, 0, 0, 0, h + IP_FRAME, w + 64, IP_FRAME, d,
                        dstBpl, IP_ROP_CLEAR | IP_ROP_NOCLIP, nullptr, 0, 0, 0, 0, 0, 0, d, 0);
}

VltStatus i_addFrameInPlace(IPState* state, const uint8_t* src, int32_t w, int32_t h, int32_t d,
                            uint32_t srcBpl, uint8_t* dst) {
  uint32_t dstBpl = 0, size = 0;
  if (i_calcImageProperties(state, w, h, d, IP_FRAME, &dstBpl, &size))
    return IP_FAIL(state, VLT_ERR_INTERNAL);
  return i_addFrame(state, src, w, h, d, srcBpl, dst, dstBpl);
}

namespace {

VltStatus remove_frame(IPState* state, const uint8_t* framed, int32_t w, int32_t h, int32_t d,
                       uint32_t framedBpl, uint8_t* dst, uint32_t dstBpl) {
  if (!valid_depth(d)) return IP_FAIL(state, VLT_ERR_DEPTH);
  if (h < 1 || w < 1) return VLT_OK;
  if (!framed || !dst) return IP_FAIL(state, VLT_ERR_NULL);
  const auto n = static_cast<uint32_t>((int64_t{w} * d + 7) / 8);
  const size_t left = size_t(4) * static_cast<size_t>(d);
  for (int32_t i = 0; i < h; ++i)
    ip_removeFrameFromLine(state, dst + size_t(i) * dstBpl,
                           framed + size_t(i + IP_FRAME) * framedBpl + left, n, dstBpl);
  return VLT_OK;
}

}  // namespace

VltStatus i_removeFrame(IPState* state, const uint8_t* framed, int32_t W, int32_t H, int32_t d,
                        uint32_t framedBpl, uint8_t* dst, uint32_t dstBpl) {
  if (framedBpl == 0) return VLT_OK;
  return remove_frame(state, framed, std::max(W - 64, 1), std::max(H - 64, 1), d, framedBpl, dst,
                      dstBpl);
}

VltStatus i_removeFrameInPlace(IPState* state, const uint8_t* framed, int32_t W, int32_t H,
                               int32_t d, uint32_t framedBpl, uint8_t* dst, uint32_t dstBpl) {
  if (framedBpl == 0) return VLT_OK;
  return remove_frame(state, framed, W - 64, H - 64, d, framedBpl, dst, dstBpl);
}

VltStatus i_clearTopBottomFrames(IPState* state, uint8_t* framed, int32_t W, int32_t H,
                                 uint32_t bpl, int32_t d) {
  if (VltStatus s = clear_rect(state, framed, W, H, bpl, d, 0, 0, W, IP_FRAME)) return s;
  return clear_rect(state, framed, W, H, bpl, d, 0, H - IP_FRAME, W, IP_FRAME);
}

VltStatus i_clearAllFrames(IPState* state, uint8_t* framed, int32_t W, int32_t H, uint32_t bpl,
                           int32_t d) {
  if (VltStatus s = i_clearTopBottomFrames(state, framed, W, H, bpl, d)) return s;
  if (VltStatus s = clear_rect(state, framed, W, H, bpl, d, 0, IP_FRAME, IP_FRAME, H - 64)) return s;
  return clear_rect(state, framed, W, H, bpl, d, W - IP_FRAME, IP_FRAME, IP_FRAME, H - 64);
}

namespace {

VltStatus clear_right(IPState* state, uint8_t* first, int32_t w, int32_t h, uint32_t bpl,
                      int32_t d, bool followingWords) {
  if (!valid_depth(d)) return IP_FAIL(state, VLT_ERR_PARAM);
  if (h < 1 || w < 1) return VLT_OK;
  const int32_t ppw = 32 / d;
  const size_t lastWord = size_t(w - 1) * static_cast<size_t>(d) / 32;
  const auto used = static_cast<uint32_t>((w - (w - 1) / ppw * ppw) * d);
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* word = first + size_t(y) * bpl + lastWord * 4;
    if (used < 32) mono::store_be32(word, mono::load_be32(word) & kLeftMask[used - 1]);
    if (followingWords) std::memset(word + 4, 0, size_t(4) * static_cast<size_t>(d));
  }
  return VLT_OK;
}

}  // namespace

VltStatus ip_clearRightFrame(IPState* state, uint8_t* first, int32_t w, int32_t h, uint32_t bpl,
                             int32_t d) {
  return clear_right(state, first, w, h, bpl, d, true);
}

VltStatus ip_clearRightFrameWord(IPState* state, uint8_t* first, int32_t w, int32_t h,
                                 uint32_t bpl, int32_t d) {
  return clear_right(state, first, w, h, bpl, d, false);
}

VltStatus i_clearRightBottomFrames(IPState* state, uint8_t* framed, int32_t W, int32_t H,
                                   uint32_t bpl, int32_t d, int32_t right, int32_t bottom) {
  if (!valid_depth(d)) return VLT_ERR_PARAM;
  const int32_t ppw = 32 / d;
  // Clipped to the whole line and to the buffer's height, so that no area asked for can reach
  // past the buffer.
  const auto lineWidth = static_cast<int32_t>(std::min<int64_t>(int64_t{bpl} * 8 / d, INT32_MAX));
  if ((int64_t{W} + right) / ppw == W / ppw) {
    uint8_t* first = framed + size_t(IP_FRAME) * bpl + size_t(4) * static_cast<size_t>(d);
    if (VltStatus s = ip_clearRightFrame(state, first, W - 64, H - 64, bpl, d)) return s;
  } else if (VltStatus s = clear_rect(state, framed, lineWidth, H, bpl, d, W - IP_FRAME, IP_FRAME,
                                      right, H - 64)) {
    return s;
  }
  return clear_rect(state, framed, lineWidth, H, bpl, d, 0, H - IP_FRAME, W, bottom);
}

}  // extern "C"
