// Lossy coding with and without token smoothing: the JBIG2 bytes of each page (dictionary shared
// over a one-page section) and the pixels jbig2dec's decode differs from a reference, on the
// CCITT charts and on scan-like pages (a rendered page turned by 0.3 degrees, blurred and
// noised; the reference is the turned page thresholded before blur and noise). A second table
// does the same with deskew off, on, and on with smoothing (the scan-like pages also turned by
// 0.5 degrees), with the angle measured and the pixels differing from the page before the turn.
//   token_post_quality
// Smoothing needs the grey page: the charts give it as 0 / 255, the scan-like pages their own.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "byteorder.h"
#include "jbig2dec.h"
#include "pages.h"
#include "pixr.h"
#include "ref_bitmap.h"
#include "tok_smooth.h"
#include "tools.h"
#include "vlt_api.h"
#include "vlt_api_deskew.h"
#include "vlt_api_handle.h"
#include "vlt_api_noise.h"

namespace {

using monotest::RefBitmap;

struct Grey {
  int width = 0, height = 0;
  std::vector<uint8_t> v;
  uint8_t at(int x, int y) const { return v[size_t(y) * size_t(width) + size_t(x)]; }
};

Grey read_pgm(const std::string& path) {
  const std::string b = monotest::read_file(path);
  Grey g;
  int maxval = 0, used = 0;
  if (std::sscanf(b.c_str(), "P5 %d %d %d%n", &g.width, &g.height, &maxval, &used) != 3 || maxval != 255) return g;
  g.v.assign(b.begin() + used + 1, b.begin() + used + 1 + long(g.width) * g.height);
  return g;
}

// Bilinear turn about the centre (positive clockwise), paper where nothing lands.
Grey turned(const Grey& g, double angle) {
  Grey o = g;
  const double c = std::cos(angle), s = std::sin(angle), mx = g.width / 2.0, my = g.height / 2.0;
  for (int y = 0; y < g.height; ++y)
    for (int x = 0; x < g.width; ++x) {
      const double dx = x - mx, dy = y - my, sx = mx + c * dx + s * dy, sy = my - s * dx + c * dy;
      const int x0 = int(std::floor(sx)), y0 = int(std::floor(sy));
      const double fx = sx - x0, fy = sy - y0;
      double v = 0;
      for (int k = 0; k < 4; ++k) {
        const int u = x0 + (k & 1), w = y0 + (k >> 1);
        const double weight = ((k & 1) ? fx : 1 - fx) * ((k >> 1) ? fy : 1 - fy);
        v += weight * (u >= 0 && w >= 0 && u < g.width && w < g.height ? g.at(u, w) : 255);
      }
      o.v[size_t(y) * size_t(g.width) + size_t(x)] = uint8_t(std::lround(v));
    }
  return o;
}

Grey blurred_noisy(const Grey& g, uint32_t seed) {
  Grey o = g;
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 18.0);
  for (int y = 0; y < g.height; ++y)
    for (int x = 0; x < g.width; ++x) {
      double s = 0;
      int n = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
          if (x + dx >= 0 && y + dy >= 0 && x + dx < g.width && y + dy < g.height) {
            s += g.at(x + dx, y + dy);
            ++n;
          }
      o.v[size_t(y) * size_t(g.width) + size_t(x)] = uint8_t(std::clamp(s / n + noise(rng), 0.0, 255.0));
    }
  return o;
}

RefBitmap threshold(const Grey& g) {
  RefBitmap b(g.width, g.height);
  for (int y = 0; y < g.height; ++y)
    for (int x = 0; x < g.width; ++x) b.set(x, y, g.at(x, y) < 128);
  return b;
}

std::vector<uint8_t> framed(const RefBitmap& page, uint32_t* bpl) {
  VltState* state = nullptr;
  Vlt_initVltState(&state, nullptr, nullptr, nullptr, nullptr, 1, 0);
  int32_t b = 0;
  size_t size = 0;
  w_pixrImageProperties(state->ipwState, page.width, page.height, 1, 32, &b, &size);
  Vlt_cleanupVltState(&state);
  std::vector<uint8_t> buf(size_t(b) * size_t(page.height + 64), 0);
  for (int y = 0; y < page.height; ++y)
    for (int x = 0; x < page.width; ++x)
      if (page.get(x, y)) mono::set_bit(buf.data() + size_t(y + 32) * size_t(b), size_t(x + 32), 1);
  *bpl = uint32_t(b);
  return buf;
}

struct Result {
  size_t bytes = 0;
  size_t difference = 0;
  bool ok = false;
  float angle = 0.0f;       // the page's measured skew (radians) with deskew on
  size_t straight = 0;      // pixels the decode differs from the page before it was turned
  size_t turned = 0;        // instances given a straightened bitmap
};

// Pixels of a decoded page that differ from a reference.
size_t difference(const RefBitmap& decoded, const RefBitmap& reference) {
  size_t d = 0;
  for (int y = 0; y < reference.height; ++y)
    for (int x = 0; x < reference.width; ++x)
      d += (x < decoded.width && y < decoded.height ? decoded.get(x, y) : 0) != reference.get(x, y);
  return d;
}

// One lossy section of one page; with smooth, the classes are summed from the grey page and
// reduced before the dictionary is written.
// With deskew, the page's skew is measured as it is added and the section is straightened by it;
// straight is the reference the straightened page is held against.
Result code(const RefBitmap& page, const Grey& grey, const RefBitmap& reference, bool smooth, bool deskew = false,
            const RefBitmap* straight = nullptr) {
  Result r;
  VltApiOptions o{};
  o.minSize = 1;
  o.resolution = 300;
  o.profile = 2;
  o.tenthSize = 1;
  o.memoryLimit = -1;
  o.singlePage = 1;
  VltApiHandle* h = nullptr;
  if (VltApi_init(&h, nullptr, nullptr, &o, nullptr, nullptr) != VLT_OK) return r;
  if (deskew && VltApi_setDeskew(h, 5, 0) != VLT_OK) {
    VltApi_close(h);
    return r;
  }
  uint32_t bpl = 0;
  std::vector<uint8_t> buf = framed(page, &bpl);
  VltPageDesc desc{buf.data(), uint32_t(page.width), uint32_t(page.height), bpl, 300, 300};
  uint8_t full = 0;
  VltApiDict dict{};
  VltApiPosBlock block{};
  bool ok = VltApi_startSection(h) == VLT_OK && VltApi_addMonoPage(h, &desc, &full) == VLT_OK &&
            VltApi_endSection(h, 0) == VLT_OK;
  if (ok && smooth) {
    VltImage* g = nullptr;
    ok = VltImage_new(h->state, VLT_IMAGE_GRAY, grey.width, grey.height, &g) == VLT_OK;
    for (int y = 0; ok && y < grey.height; ++y)
      for (int x = 0; x < grey.width; ++x) g->rows[y][x] = grey.at(x, y);
    int token = 0;
    ok = ok && sumGrayInstances(h->state, g, h->lossyDoc->section->classes, &token,
                                h->lossyDoc->section->pages[0].pageNumber) == VLT_OK &&
         VltApi_redTokNoise(h) == VLT_OK;
    VltImage_free(g);
  }
  if (ok && deskew) r.angle = h->lossyDoc->section->pages[0].skewAngle;
  ok = ok && VltApi_getDict(h, 0, &dict) == VLT_OK;
  if (ok)
    for (VltAdtListNode* n = h->lossyDoc->section->pages[0].components->first; n != nullptr; n = n->next)
      r.turned += static_cast<const TokComponent*>(n->data)->sharedBitmap != nullptr;
  ok = ok && VltApi_getNextPosBlock(h, &block) == VLT_OK;
  if (ok) {
    r.bytes = dict.length + block.length;
    const auto decoded = monotest::jbig2dec_decode_embedded(std::vector<uint8_t>(dict.bytes, dict.bytes + dict.length),
                                                            std::vector<uint8_t>(block.bytes, block.bytes + block.length));
    r.difference = difference(decoded.page, reference);
    if (straight != nullptr) r.straight = difference(decoded.page, *straight);
    r.ok = decoded.page.width > 0;
    if (!decoded.messages.empty()) std::fprintf(stderr, "jbig2dec: %s\n", decoded.messages.c_str());
  }
  std::free(dict.bytes);
  std::free(block.bytes);
  VltApi_close(h);
  return r;
}

}  // namespace

// Deskew off, on, and on with smoothing: bytes and pixels differing from the input page, each as
// a ratio to deskew off, and the angle measured. A straightened page is also held against the
// page before it was turned (the charts against themselves).
void deskew_table(const std::vector<std::string>& names, const std::vector<RefBitmap>& pages,
                  const std::vector<Grey>& greys, const std::vector<RefBitmap>& references,
                  const std::vector<RefBitmap>& straights) {
  std::printf("\n%-20s %8s %7s %10s %7s %7s %10s %7s %7s %10s %7s %7s\n", "page", "angle", "turned", "bytes off",
              "on", "both", "diff off", "on", "both", "straight", "on", "both");
  std::printf("%-20s %8s %7s %10s %7s %7s %10s %7s %7s %10s %7s %7s\n", "", "(deg)", "tokens", "", "ratio", "ratio",
              "", "ratio", "ratio", "diff off", "ratio", "ratio");
  for (size_t i = 0; i < pages.size(); ++i) {
    const Result off = code(pages[i], greys[i], references[i], false, false, &straights[i]);
    const Result on = code(pages[i], greys[i], references[i], false, true, &straights[i]);
    const Result both = code(pages[i], greys[i], references[i], true, true, &straights[i]);
    if (!off.ok || !on.ok || !both.ok) {
      std::printf("%-20s failed\n", names[i].c_str());
      continue;
    }
    const auto ratio = [](size_t a, size_t b) { return b ? double(a) / double(b) : 0.0; };
    std::printf("%-20s %8.3f %7zu %10zu %7.3f %7.3f %10zu %7.3f %7.3f %10zu %7.3f %7.3f\n", names[i].c_str(),
                double(on.angle) * 180.0 / M_PI, on.turned, off.bytes, ratio(on.bytes, off.bytes),
                ratio(both.bytes, off.bytes),
                off.difference, ratio(on.difference, off.difference), ratio(both.difference, off.difference),
                off.straight, ratio(on.straight, off.straight), ratio(both.straight, off.straight));
  }
}

int main() {
  std::printf("%-22s %12s %12s %8s %12s %12s %8s\n", "page", "bytes off", "bytes on", "ratio", "diff off",
              "diff on", "ratio");
  const auto row = [](const std::string& name, const RefBitmap& page, const Grey& grey, const RefBitmap& ref) {
    const Result off = code(page, grey, ref, false), on = code(page, grey, ref, true);
    if (!off.ok || !on.ok) {
      std::printf("%-22s failed\n", name.c_str());
      return;
    }
    std::printf("%-22s %12zu %12zu %8.3f %12zu %12zu %8.3f\n", name.c_str(), off.bytes, on.bytes,
                double(on.bytes) / double(off.bytes), off.difference, on.difference,
                off.difference ? double(on.difference) / double(off.difference) : 0.0);
  };
  std::vector<std::string> names;
  std::vector<RefBitmap> pages, references, straights;
  std::vector<Grey> greys;
  const auto keep = [&](const std::string& name, const RefBitmap& page, const Grey& grey, const RefBitmap& ref,
                        const RefBitmap& straight) {
    names.push_back(name);
    pages.push_back(page);
    greys.push_back(grey);
    references.push_back(ref);
    straights.push_back(straight);
  };
  for (int n = 1; n <= 8; ++n) {
    const RefBitmap chart = monotest::ccitt_chart(n);
    Grey g;
    g.width = chart.width;
    g.height = chart.height;
    g.v.resize(size_t(g.width) * size_t(g.height));
    for (int y = 0; y < g.height; ++y)
      for (int x = 0; x < g.width; ++x) g.v[size_t(y) * size_t(g.width) + size_t(x)] = chart.get(x, y) ? 0 : 255;
    row("ccitt chart " + std::to_string(n), chart, g, chart);
    keep("ccitt chart " + std::to_string(n), chart, g, chart, chart);
  }
  for (int n = 1; n <= 3; ++n) {
    const Grey clean = read_pgm(monotest::doc_page_render(n, 300, "gray"));
    if (clean.v.empty()) continue;
    const Grey turn = turned(clean, 0.3 * M_PI / 180.0);
    const Grey scan = blurred_noisy(turn, 40 + uint32_t(n));
    row("scan-like page " + std::to_string(n), threshold(scan), scan, threshold(turn));
    keep("scan-like page " + std::to_string(n), threshold(scan), scan, threshold(turn), threshold(clean));
    // Half a degree: long rules and words are then straightened themselves, not only moved.
    const Grey more = turned(clean, 0.5 * M_PI / 180.0);
    const Grey scanMore = blurred_noisy(more, 50 + uint32_t(n));
    keep("scan-like 0.5deg " + std::to_string(n), threshold(scanMore), scanMore, threshold(more), threshold(clean));
  }
  deskew_table(names, pages, greys, references, straights);
  return 0;
}
