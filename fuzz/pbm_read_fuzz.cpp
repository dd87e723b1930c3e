// The runner's PBM reader over arbitrary bytes: it must refuse or read within the input, never
// allocate beyond what the input can fill, and give rows with clear padding.

#include <cstdint>
#include <string>
#include <vector>

#include "pbm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<monodoc::Bilevel> pages;
  std::string error;
  if (!monodoc::parse_pbm(data, size, &pages, &error)) {
    if (!pages.empty() || error.empty()) __builtin_trap();
    return 0;
  }
  size_t bytes = 0;
  for (const auto& page : pages) {
    if (page.bits.size() != page.stride * static_cast<size_t>(page.height)) __builtin_trap();
    const int tail = page.width % 8;
    for (int32_t y = 0; tail && y < page.height; ++y) {
      if (page.row(y)[page.stride - 1] & (0xFF >> tail)) __builtin_trap();
    }
    bytes += page.bits.size();
  }
  if (bytes > size) __builtin_trap();  // every stored byte came from at least one input byte
  return 0;
}
