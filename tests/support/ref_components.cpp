#include "ref_components.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace monotest {

std::vector<RefComponent> flood_fill_components(const RefBitmap& bm, int connectivity) {
  if (connectivity != 4 && connectivity != 8) throw std::invalid_argument("connectivity 4 or 8");
  const int w = bm.width, h = bm.height;
  std::vector<int> label(static_cast<size_t>(w) * h, -1);
  std::vector<RefComponent> out;
  std::vector<std::pair<int, int>> stack;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      if (!bm.get(x, y) || label[static_cast<size_t>(y) * w + x] >= 0) continue;
      const int id = static_cast<int>(out.size());
      RefComponent c;
      c.xMin = c.xMax = x;
      c.yMin = c.yMax = y;
      std::vector<std::pair<int, int>> pixels;
      label[static_cast<size_t>(y) * w + x] = id;
      stack.assign(1, {x, y});
      while (!stack.empty()) {
        auto [px, py] = stack.back();
        stack.pop_back();
        pixels.push_back({py, px});
        for (int dy = -1; dy <= 1; ++dy) {
          for (int dx = -1; dx <= 1; ++dx) {
            if ((dx == 0 && dy == 0) || (connectivity == 4 && dx != 0 && dy != 0)) continue;
            const int nx = px + dx, ny = py + dy;
            if (nx < 0 || ny < 0 || nx >= w || ny >= h || !bm.get(nx, ny)) continue;
            int& l = label[static_cast<size_t>(ny) * w + nx];
            if (l >= 0) continue;
            l = id;
            stack.push_back({nx, ny});
          }
        }
      }
      // Bottom line first, right to left: sort descending and cut into runs.
      std::sort(pixels.begin(), pixels.end(), std::greater<>());
      c.pixels = static_cast<int64_t>(pixels.size());
      for (const auto& [py, px] : pixels) {
        c.xMin = std::min(c.xMin, px);
        c.xMax = std::max(c.xMax, px);
        c.yMax = std::max(c.yMax, py);
        if (!c.runs.empty() && c.runs.back().y == py && c.runs.back().start == px + 1)
          c.runs.back().start = px;
        else
          c.runs.push_back({py, px, px});
      }
      out.push_back(std::move(c));
    }
  }
  // Completion order: the line after the last one, then the rightmost run of the last line.
  std::stable_sort(out.begin(), out.end(), [](const RefComponent& a, const RefComponent& b) {
    if (a.yMax != b.yMax) return a.yMax < b.yMax;
    return a.runs.front().start < b.runs.front().start;
  });
  return out;
}

}  // namespace monotest
