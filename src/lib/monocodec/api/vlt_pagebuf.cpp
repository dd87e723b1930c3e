// Framed page buffers between the interpreter's layer rows and the engine.

#include "vlt_pagebuf.h"
#include "vlt_pagebuf_util.h"

#include <cstring>

#include "byteorder.h"
#include "checked_size.h"
#include "ipcore.h"
#include "ipw_state.h"
#include "kvng.h"
#include "pixr.h"

namespace {

constexpr uint32_t kFrame = 32;

// A wrapper state for one call, ended on every path.
struct TempWrapper {
  IPWState* s = nullptr;
  TempWrapper() {
    if (w_IPWStateInit(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &s) != VLT_OK)
      s = nullptr;
  }
  ~TempWrapper() {
    if (s != nullptr) w_IPWStateTerm(&s);
  }
};

// The last byte of a row keeps only the bits of pixels inside the width.
uint8_t tail_mask(uint32_t width) {
  const uint32_t r = width % 8;
  return r == 0 ? 0xFF : static_cast<uint8_t>(0xFF << (8 - r));
}

int framed_buffer(IPWState* w, uint32_t width, uint32_t height, uint8_t** buffer, uint32_t* bytesPerLine) {
  if (width > INT32_MAX - 64 || height > INT32_MAX - 64) return 0;
  int32_t bpl = 0;
  size_t size = 0;
  if (w_pixrImageProperties(w, static_cast<int32_t>(width), static_cast<int32_t>(height), 1, kFrame, &bpl, &size) !=
      VLT_OK)
    return 0;
  auto* b = static_cast<uint8_t*>(kvng_internal_calloc(size, 1));
  if (b == nullptr) return 0;
  *buffer = b;
  *bytesPerLine = static_cast<uint32_t>(bpl);
  return 1;
}

}  // namespace

int convertBuffToVltPageDesc(VltPageDesc* desc, uint32_t width, uint32_t height, uint32_t bytesPerRow,
                             const uint8_t* rows) {
  if (desc == nullptr || (rows == nullptr && height > 0 && width > 0)) return 0;
  const uint32_t rowBytes = (width + 7) / 8;
  if (bytesPerRow < rowBytes) return 0;
  TempWrapper w;
  if (w.s == nullptr) return 0;
  uint8_t* buffer = nullptr;
  uint32_t bpl = 0;
  if (!framed_buffer(w.s, width, height, &buffer, &bpl)) return 0;
  const uint8_t mask = tail_mask(width);
  for (uint32_t r = 0; r < height && rowBytes > 0; ++r) {
    uint8_t* line = buffer + static_cast<size_t>(kFrame + r) * bpl + kFrame / 8;
    std::memcpy(line, rows + static_cast<size_t>(r) * bytesPerRow, rowBytes);
    line[rowBytes - 1] &= mask;
  }
  if (i_swapImageBytes(w.s, buffer, bpl, static_cast<int32_t>(width + 2 * kFrame),
                       static_cast<int32_t>(height + 2 * kFrame), 1) != VLT_OK) {
    kvng_internal_free(buffer);
    return 0;
  }
  *desc = VltPageDesc{buffer, width, height, bpl, 300, 300};
  return 1;
}

int getSimPixrBuff(uint8_t** buffer, uint32_t width, uint32_t height, uint32_t* bytesPerLine) {
  if (buffer == nullptr || bytesPerLine == nullptr) return 0;
  TempWrapper w;
  if (w.s == nullptr) return 0;
  return framed_buffer(w.s, width, height, buffer, bytesPerLine);
}

int swapImageBytes(uint8_t* buffer, uint32_t bytesPerLine, uint32_t width, uint32_t height, uint32_t) {
  if (width > INT32_MAX || height > INT32_MAX) return 0;
  TempWrapper w;
  if (w.s == nullptr) return 0;
  return i_swapImageBytes(w.s, buffer, bytesPerLine, static_cast<int32_t>(width), static_cast<int32_t>(height), 1) ==
                 VLT_OK
             ? 1
             : 0;
}

int stripAndFlip(uint8_t** buffer, uint32_t width, uint32_t height, uint32_t, uint32_t bytesPerLine,
                 uint32_t* byteSize, uint32_t* bytesPerRow) {
  if (buffer == nullptr || *buffer == nullptr || width > UINT32_MAX - 64 || height > UINT32_MAX - 64) return 0;
  const uint32_t rowBytes = (width + 7) / 8;
  size_t size = 0;
  if (rowBytes == 0 || height == 0 || !mono::checked_mul(size_t{rowBytes}, size_t{height}, &size) ||
      size > UINT32_MAX || rowBytes + kFrame / 8 > bytesPerLine)
    return 0;
  if (!swapImageBytes(*buffer, bytesPerLine, width + 2 * kFrame, height + 2 * kFrame, 0)) return 0;
  auto* out = static_cast<uint8_t*>(kvng_internal_calloc(size, 1));
  if (out == nullptr) return 0;
  const uint8_t mask = tail_mask(width);
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* row = out + static_cast<size_t>(y) * rowBytes;
    std::memcpy(row, *buffer + static_cast<size_t>(kFrame + y) * bytesPerLine + kFrame / 8, rowBytes);
    row[rowBytes - 1] &= mask;
  }
  kvng_internal_free(*buffer);
  *buffer = out;
  if (byteSize != nullptr) *byteSize = static_cast<uint32_t>(size);
  if (bytesPerRow != nullptr) *bytesPerRow = rowBytes;
  return 1;
}

int isInJbig2Section(const uint8_t* flag) { return flag != nullptr && *flag != 0 ? 1 : 0; }

int __JB2Util_InvertPage(VltPageDesc* desc) {
  if (desc == nullptr || desc->buffer == nullptr) return 0;
  const uint32_t words = (desc->width + 31) / 32;
  for (uint32_t r = 0; r < desc->height && words > 0; ++r) {
    uint8_t* line = desc->buffer + static_cast<size_t>(kFrame + r) * desc->bytesPerLine + 4;
    for (uint32_t k = 0; k + 1 < words; ++k) mono::store_be32(line + 4 * k, ~mono::load_be32(line + 4 * k));
    const uint32_t bits = desc->width % 32 == 0 ? 32 : desc->width % 32;
    const uint32_t mask = bits == 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> bits);
    uint8_t* last = line + 4 * (words - 1);
    mono::store_be32(last, mono::load_be32(last) ^ mask);
  }
  return 1;
}
