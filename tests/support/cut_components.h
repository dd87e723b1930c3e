#ifndef MONOTEST_CUT_COMPONENTS_H
#define MONOTEST_CUT_COMPONENTS_H

// Connected components of a page cut out by the image core's run-based finder, as packed rows of
// big-endian 32-bit words: the glyph bitmaps the classifier is fed with. Header-only because it
// calls the image core; include it only in targets that link monocodec_static.

#include <cstdint>
#include <cstring>
#include <vector>

#include "byteorder.h"
#include "i_ccruns.h"
#include "ipstate.h"
#include "ref_bitmap.h"

namespace monotest {

struct CutComponent {
  int x = 0, y = 0, width = 0, height = 0;  // place on the page
  uint32_t wordsPerLine = 0;
  std::vector<uint8_t> bits;
  int get(int px, int py) const { return mono::get_bit(bits.data() + size_t(py) * wordsPerLine * 4, size_t(px)); }
};

namespace detail {
constexpr int kCutFrame = 32;
inline int keep_component(IPState*, void* data, int32_t xMin, int32_t yMin, int32_t width, int32_t height, int32_t,
                          int32_t, CCRun* runs) {
  CutComponent c;
  c.x = xMin - kCutFrame;
  c.y = yMin - kCutFrame;
  c.width = width;
  c.height = height;
  c.wordsPerLine = static_cast<uint32_t>((width + 31) / 32);
  c.bits.assign(size_t(c.wordsPerLine) * 4 * size_t(height), 0);
  // Runs come from the bottom line up, right to left; a run ends its line when the next one
  // does not lie to its left.
  int y = height - 1;
  for (const CCRun* r = runs; r != nullptr; r = r->next) {
    for (int x = r->start; x <= r->end; ++x) mono::set_bit(c.bits.data() + size_t(y) * c.wordsPerLine * 4, size_t(x - xMin), 1);
    if (r->next == nullptr || r->next->end >= r->start - 1) --y;
  }
  static_cast<std::vector<CutComponent>*>(data)->push_back(std::move(c));
  return 0;
}
}  // namespace detail

// 8-connected components at least minSize wide or high (smaller ones are left out).
inline std::vector<CutComponent> cut_components(const RefBitmap& page, int minSize = 1) {
  constexpr int f = detail::kCutFrame;
  const uint32_t bpl = static_cast<uint32_t>(4 * ((page.width + 2 * f + 31) / 32));
  std::vector<uint8_t> framed(size_t(bpl) * size_t(page.height + 2 * f), 0);
  // The frame is a whole number of bytes, so rows copy over as they are.
  static_assert(f % 8 == 0);
  for (int y = 0; y < page.height; ++y)
    std::memcpy(framed.data() + size_t(y + f) * bpl + f / 8, page.row(y), page.stride);
  uint32_t size = 0;
  i_getSizeOfIPState(&size);
  std::vector<uint8_t> record(size, 0);
  auto* state = reinterpret_cast<IPState*>(record.data());
  i_IPStateInit(state, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                static_cast<int32_t>(size));
  std::vector<CutComponent> all;
  int result = 0;
  i_findConnectedComponentRuns(state, framed.data(), bpl, f, f, page.width, page.height, 1, 1, 1, &all,
                               detail::keep_component, &result);
  i_IPStateTerm(state);
  std::vector<CutComponent> kept;
  for (CutComponent& c : all)
    if (c.width >= minSize || c.height >= minSize) kept.push_back(std::move(c));
  return kept;
}

}  // namespace monotest

#endif
