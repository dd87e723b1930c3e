// A program of someone else's, built against an installed tree only: codes a page losslessly
// through libmonocodec's engine API, renders the dictionary and page blocks back through the
// decoder API and compares every pixel with the page it started from.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "vlt_api.h"
#include "vlt_decoder.h"
#include "vlt_status.h"

namespace {

constexpr uint32_t kWidth = 421, kHeight = 157, kFrame = 32;
// Framed rows: the page with 32 pixels on every side, in whole 32-bit words.
constexpr uint32_t kBytesPerLine = (kWidth + 2 * kFrame + 31) / 32 * 4;

// Repeated glyph-like shapes (so the dictionary has classes with several members), a rule and
// a few odd pixels.
bool ink(uint32_t x, uint32_t y) {
  if (y >= 140 && y < 143 && x >= 10 && x < 400) return true;
  const uint32_t cx = x % 23, cy = y % 31;
  if (y < 124 && cx < 15 && cy < 20) {
    const uint32_t shape = (x / 23 + y / 31) % 3;
    if (shape == 0) return cx < 3 || cy < 3 || cy >= 17;                 // a C
    if (shape == 1) return cx < 3 || cx >= 12 || (cy >= 8 && cy < 11);   // an H
    return (cx >= 6 && cx < 9) || cy < 3;                                // a T
  }
  return (x * 7 + y * 13) % 997 == 0;
}

bool bit(const std::vector<uint8_t>& rows, uint32_t x, uint32_t y) {
  const size_t at = size_t(y + kFrame) * kBytesPerLine * 8 + x + kFrame;
  return (rows[at / 8] >> (7 - at % 8)) & 1;
}

int fail(const char* step, VltStatus st) {
  std::fprintf(stderr, "consumer: %s: %d (%s)\n", step, st, Vlt_getErrStr(st));
  return 1;
}

}  // namespace

int main() {
  std::vector<uint8_t> page(size_t(kBytesPerLine) * (kHeight + 2 * kFrame), 0);
  uint32_t black = 0;
  for (uint32_t y = 0; y < kHeight; ++y)
    for (uint32_t x = 0; x < kWidth; ++x)
      if (ink(x, y)) {
        const size_t at = size_t(y + kFrame) * kBytesPerLine * 8 + x + kFrame;
        page[at / 8] |= uint8_t(0x80 >> (at % 8));
        ++black;
      }

  TokParams params{};
  tokSetDefaults(&params);
  params.widthDiff = 0;  // lossless: every component by exact match
  params.heightDiff = 0;
  params.maxDense = 0;
  params.minLossySize = 100000;
  VltApiOptions options{};
  options.minSize = 1;
  options.outputWord = 10;
  options.reserved1 = 3;
  options.resolution = 300;
  options.profile = 2;
  options.tenthSize = 1;
  options.memoryLimit = -1;
  options.singlePage = 1;

  VltApiHandle* handle = nullptr;
  if (VltStatus st = VltApi_init(&handle, nullptr, nullptr, &options, &params, nullptr)) return fail("VltApi_init", st);
  VltPageDesc desc{page.data(), kWidth, kHeight, kBytesPerLine, 300, 300};
  uint8_t full = 0;
  VltApiDict dict{};
  VltApiPosBlock block{};
  VltStatus st = VltApi_startSection(handle);
  if (st == VLT_OK) st = VltApi_addMonoPage(handle, &desc, &full);
  if (st == VLT_OK && full) st = VLT_ERR_INTERNAL;
  if (st == VLT_OK) st = VltApi_endSectionGetDict(handle, 0, &dict);
  if (st == VLT_OK) st = VltApi_getNextPosBlock(handle, &block);
  const VltStatus closed = VltApi_close(handle);
  if (st != VLT_OK) return fail("encoding", st);
  if (closed != VLT_OK) return fail("VltApi_close", closed);

  VltDecoder* decoder = nullptr;
  SegmentInfo* symbols = nullptr;
  VltAdtList* list = nullptr;
  std::vector<uint8_t> out(page.size(), 0);
  if (VltStatus s = VltDec_init(&decoder, nullptr, nullptr)) return fail("VltDec_init", s);
  st = dict.length != 0 ? VltDec_decodeDict(decoder, dict.bytes, dict.length, &symbols) : VLT_OK;
  if (st == VLT_OK) st = VltDec_buildDictList(decoder, &list, symbols);
  if (st == VLT_OK)
    st = VltDec_renderBinaryImage(decoder, list, block.bytes, block.length,
                                  out.data() + size_t(kFrame) * kBytesPerLine + 4, int32_t(kWidth + kFrame),
                                  int32_t(kHeight + kFrame), int32_t(kBytesPerLine / 4));
  const VltStatus released = VltDec_close(&decoder);
  std::free(dict.bytes);
  std::free(block.bytes);
  if (st != VLT_OK) return fail("decoding", st);
  if (released != VLT_OK) return fail("VltDec_close", released);

  for (uint32_t y = 0; y < kHeight; ++y)
    for (uint32_t x = 0; x < kWidth; ++x)
      if (bit(page, x, y) != bit(out, x, y)) {
        std::fprintf(stderr, "consumer: pixel (%u, %u) differs after the round trip\n", x, y);
        return 1;
      }
  std::printf("consumer: %ux%u page, %u black pixels, %u dictionary and %u page bytes, decoded exactly\n", kWidth,
              kHeight, black, dict.length, block.length);
  return 0;
}
