// Colour components: pages read as segments through the callback are checked against a naive
// pixel flood fill by colour distance, and the map, line buffers and component operations against
// their own small cases.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "tok_colorcc.h"
#include "tok_fixture.h"

namespace {

using toktest::TokTest;

constexpr uint32_t kWhite = 0xFFFFFF;

// A colour page: every pixel has an RGB value; sampled pixels are sent as per-pixel samples.
struct ColourPage {
  int width = 0, height = 0;
  std::vector<uint32_t> rgb;
  std::vector<uint8_t> sampled;
  ColourPage(int w, int h) : width(w), height(h), rgb(size_t(w) * h, kWhite), sampled(size_t(w) * h, 0) {}
  uint32_t& at(int x, int y) { return rgb[size_t(y) * width + x]; }
  uint32_t at(int x, int y) const { return rgb[size_t(y) * width + x]; }
  bool is_sampled(int x, int y) const { return sampled[size_t(y) * width + x] != 0; }
  void fill(int x0, int y0, int w, int h, uint32_t c) {
    for (int y = y0; y < y0 + h; ++y)
      for (int x = x0; x < x0 + w; ++x) at(x, y) = c;
  }
  // A photo-like patch: noisy colours, every pixel sent as a sample.
  void photo(int x0, int y0, int w, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    for (int y = y0; y < y0 + h; ++y)
      for (int x = x0; x < x0 + w; ++x) {
        at(x, y) = rng() & 0xFFFFFF;
        sampled[size_t(y) * width + x] = 1;
      }
  }
};

// Hands the page out as segments: runs of one colour (or of samples), cut into pieces of at most
// `chunk` pixels so that the finder has to join them.
struct Reader {
  const ColourPage* page;
  int chunk = 0;
  int x = 0, y = 0;
  int calls = 0;
  int failAtCall = 0;  // a non-zero call number returns status 77
};

VltStatus read_segment(ColorSegment* seg, uint32_t* flags, void* data, VltState* engine) {
  Reader& r = *static_cast<Reader*>(data);
  if (++r.calls == r.failAtCall) return 77;
  const ColourPage& p = *r.page;
  if (r.x >= p.width) {
    *flags = COLORCC_END_OF_LINE;
    r.x = 0;
    ++r.y;
    return VLT_OK;
  }
  const bool s = p.is_sampled(r.x, r.y);
  int len = 1;
  while (r.x + len < p.width && p.is_sampled(r.x + len, r.y) == s && (s || p.at(r.x + len, r.y) == p.at(r.x, r.y)) &&
         (r.chunk == 0 || len < r.chunk))
    ++len;
  seg->length = uint16_t(len);
  seg->sampled = s;
  if (s) {
    auto* buf = static_cast<uint8_t*>(engine->malloc(size_t(len) * 3));
    if (buf == nullptr) return VLT_ERR_NOMEM;
    for (int i = 0; i < len; ++i) {
      const uint32_t c = p.at(r.x + i, r.y);
      buf[3 * i] = uint8_t(c >> 16), buf[3 * i + 1] = uint8_t(c >> 8), buf[3 * i + 2] = uint8_t(c);
    }
    seg->colour = reinterpret_cast<uintptr_t>(buf);
  } else {
    seg->colour = 0x5A000000u | p.at(r.x, r.y);  // the top byte is not part of the colour
  }
  r.x += len;
  return VLT_OK;
}

uint32_t dist2(uint32_t a, uint32_t b) {
  uint32_t d = 0;
  for (int s : {16, 8, 0}) {
    const int v = int((a >> s) & 0xFF) - int((b >> s) & 0xFF);
    d += uint32_t(v * v);
  }
  return d;
}

// The naive reference: an 8-connected flood fill inside each strip over non-white pixels, joining
// two neighbours when both are samples, or both are plain with equal colours or (washing on) a
// squared distance below the threshold.
struct Group {
  std::vector<int> pixels;
  bool sampled = false;
  bool washed = false;  // more than one region of one exact colour
};

std::vector<Group> flood(const ColourPage& p, uint16_t threshold, const std::vector<int>& strips) {
  const bool wash = threshold != COLORCC_FAR;
  auto joins = [&](int a, int b, bool exact) {
    if (p.sampled[a] || p.sampled[b]) return p.sampled[a] && p.sampled[b];
    if (p.rgb[a] == p.rgb[b]) return true;
    return !exact && wash && dist2(p.rgb[a], p.rgb[b]) < threshold;
  };
  auto label = [&](bool exact) {
    std::vector<int> lab(p.rgb.size(), -1);
    int next = 0, top = 0;
    for (int h : strips) {
      for (int y = top; y < top + h; ++y)
        for (int x = 0; x < p.width; ++x) {
          const int i = y * p.width + x;
          if (lab[i] >= 0 || (!p.sampled[i] && p.rgb[i] == kWhite)) continue;
          std::vector<int> stack{i};
          lab[i] = next;
          while (!stack.empty()) {
            const int c = stack.back();
            stack.pop_back();
            const int cx = c % p.width, cy = c / p.width;
            for (int dy = -1; dy <= 1; ++dy)
              for (int dx = -1; dx <= 1; ++dx) {
                const int nx = cx + dx, ny = cy + dy;
                if (nx < 0 || nx >= p.width || ny < top || ny >= top + h) continue;
                const int n = ny * p.width + nx;
                if (lab[n] >= 0 || (!p.sampled[n] && p.rgb[n] == kWhite) || !joins(c, n, exact)) continue;
                lab[n] = next;
                stack.push_back(n);
              }
          }
          ++next;
        }
      top += h;
    }
    return std::make_pair(lab, next);
  };
  const auto [groups, count] = label(false);
  const auto [regions, regionCount] = label(true);
  std::vector<Group> out(static_cast<size_t>(count));
  std::vector<std::set<int>> regionsOf(static_cast<size_t>(count));
  for (size_t i = 0; i < groups.size(); ++i)
    if (groups[i] >= 0) {
      out[size_t(groups[i])].pixels.push_back(int(i));
      out[size_t(groups[i])].sampled = p.sampled[i] != 0;
      regionsOf[size_t(groups[i])].insert(regions[i]);
    }
  for (size_t g = 0; g < out.size(); ++g) out[g].washed = regionsOf[g].size() > 1;
  (void)regionCount;
  return out;
}

// The pixels of a delivered component, decoded from its runs: a run that does not start past the
// end of the one before begins the next line.
std::vector<std::pair<int, int>> cc_pixels(const ColorCC* cc, int* lines) {
  std::vector<std::pair<int, int>> px;
  int y = cc->top, prevEnd = -1;
  for (uint32_t i = 0; i < cc->count; ++i) {
    const int x = cc->runs[2 * i], len = cc->runs[2 * i + 1];
    if (i > 0 && x <= prevEnd) ++y;
    for (int k = 0; k < len; ++k) px.emplace_back(cc->xMin + x + k, y);
    prevEnd = x + len;
  }
  *lines = cc->count == 0 ? 0 : y - cc->top + 1;
  return px;
}

struct ColourTest : TokTest {
  ColorCCFinder* finder = nullptr;
  VltAdtList* flat = nullptr;
  VltAdtList* image = nullptr;

  void SetUp() override {
    TokTest::SetUp();
    ASSERT_EQ(VltCC_init(engine, &finder), VLT_OK);
    ASSERT_EQ(VltAdt_liNew(&flat, engine), VLT_OK);
    ASSERT_EQ(VltAdt_liNew(&image, engine), VLT_OK);
  }
  void TearDown() override {
    free_output();
    VltAdt_liFree(flat);
    VltAdt_liFree(image);
    VltCC_cleanup(&finder);
    TokTest::TearDown();
  }
  void free_output() {
    for (VltAdtList* l : {flat, image}) {
      if (l == nullptr) continue;
      for (VltAdtListNode* n = l->first; n != nullptr; n = n->next) VltCC_freeColorCC(engine, static_cast<ColorCC*>(n->data));
      VltAdt_liClear(l);
    }
  }

  VltStatus run(const ColourPage& p, uint16_t threshold, const std::vector<int>& strips, int chunk = 0,
                int failAtCall = 0) {
    if (VltStatus st = VltCC_initPage(finder, p.width, p.height, threshold)) return st;
    Reader r{&p, chunk};
    r.failAtCall = failAtCall;
    for (int h : strips)
      if (VltStatus st = VltCC_doStrip(finder, read_segment, &r, h, flat, image)) return st;
    return VLT_OK;
  }

  // Every delivered component is one group of the reference, with its colours, flags and box.
  void expect_matches(const ColourPage& p, const std::vector<Group>& groups) {
    std::vector<int> owner(p.rgb.size(), -1);
    std::vector<const ColorCC*> ccs;
    for (VltAdtList* l : {flat, image})
      for (VltAdtListNode* n = l->first; n != nullptr; n = n->next) {
        const auto* cc = static_cast<const ColorCC*>(n->data);
        const bool multi = (cc->flags & (COLORCC_SAMPLED | COLORCC_WASHED)) != 0;
        EXPECT_EQ(multi, l == image);
        int lines = 0;
        const auto px = cc_pixels(cc, &lines);
        EXPECT_EQ(lines, cc->bottom - cc->top + 1);
        int minX = INT32_MAX, maxX = -1;
        for (auto [x, y] : px) {
          ASSERT_TRUE(x >= 0 && x < p.width && y >= 0 && y < p.height);
          minX = std::min(minX, x), maxX = std::max(maxX, x);
          const int i = y * p.width + x;
          EXPECT_EQ(owner[size_t(i)], -1) << "pixel " << x << "," << y << " delivered twice";
          owner[size_t(i)] = int(ccs.size());
          if (multi) {
            const uint8_t* c = VltImage_pixel<uint8_t>(cc->colour.image, x - cc->xMin, y - cc->top);
            EXPECT_EQ(uint32_t(c[0]) << 16 | uint32_t(c[1]) << 8 | c[2], p.rgb[size_t(i)]) << x << "," << y;
          } else {
            EXPECT_EQ(uint32_t(cc->colour.rgb[0]) << 16 | uint32_t(cc->colour.rgb[1]) << 8 | cc->colour.rgb[2],
                      p.rgb[size_t(i)]);
          }
        }
        EXPECT_EQ(minX, cc->xMin);
        EXPECT_EQ(maxX, cc->xMax);
        if (multi) {
          EXPECT_EQ(cc->colour.image->hdr.width, cc->xMax - cc->xMin + 1);
          EXPECT_EQ(cc->colour.image->hdr.height, cc->bottom - cc->top + 1);
        }
        ccs.push_back(cc);
      }
    ASSERT_EQ(ccs.size(), groups.size());
    std::vector<int> used(ccs.size(), 0);
    for (const Group& g : groups) {
      const int o = owner[size_t(g.pixels[0])];
      ASSERT_GE(o, 0) << "pixel " << g.pixels[0] << " not delivered";
      for (int i : g.pixels) ASSERT_EQ(owner[size_t(i)], o) << "group split at pixel " << i;
      EXPECT_EQ(used[size_t(o)]++, 0);
      EXPECT_EQ((ccs[size_t(o)]->flags & COLORCC_SAMPLED) != 0, g.sampled);
      EXPECT_EQ((ccs[size_t(o)]->flags & COLORCC_WASHED) != 0, g.washed);
    }
  }
};

// Flat patches on white, a diagonal contact, a photo, near colours that wash together, a
// near-white patch on the white, and a grid of dots (more than 80 finished at once).
ColourPage synthetic_page() {
  ColourPage p(96, 72);
  p.fill(2, 2, 10, 8, 0xC80000);    // A: red
  p.fill(12, 2, 6, 8, 0xCD0500);    // B: touches A, squared distance 50
  p.fill(18, 2, 6, 8, 0xD20A00);    // C: touches B (50), not A
  p.fill(2, 10, 22, 3, 0x0000C8);   // blue under A, B and C: adjacent, far
  p.fill(30, 2, 5, 5, 0x00A000);    // two green squares touching only at a corner
  p.fill(35, 7, 5, 5, 0x00A000);
  for (int i = 0; i < 8; ++i) p.at(44 + i, 2 + i) = 0x303030;  // a diagonal line of single pixels
  p.fill(56, 2, 8, 8, 0xFAFAFA);    // near-white on white: kept, never background
  p.photo(68, 2, 12, 10, 7);        // sampled
  p.fill(80, 4, 6, 4, 0x808080);    // touches the photo: never similar to it
  p.fill(2, 16, 30, 6, 0x2040C0);   // a frame with a hole holding another colour
  p.fill(8, 18, 6, 2, 0x2244C4);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 14; ++x) p.at(40 + 3 * x, 28 + 3 * y) = (x + y) % 2 ? 0x100010 : 0x101000;
  p.fill(2, 60, 90, 2, 0x600000);   // one long border between two colours
  p.fill(2, 62, 90, 2, 0x000060);
  return p;
}

TEST_F(ColourTest, SyntheticPageAgreesWithFloodFill) {
  const ColourPage p = synthetic_page();
  struct Case {
    uint16_t threshold;
    std::vector<int> strips;
    int chunk;
  };
  const std::vector<Case> cases = {
      {COLORCC_FAR, {72}, 0}, {COLORCC_FAR, {30, 42}, 3}, {200, {72}, 0},
      {200, {72}, 2},         {200, {7, 23, 1, 41}, 5},  {0, {72}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "threshold " << c.threshold << " strips " << c.strips.size() << " chunk " << c.chunk);
    ASSERT_EQ(run(p, c.threshold, c.strips, c.chunk), VLT_OK);
    expect_matches(p, flood(p, c.threshold, c.strips));
    free_output();
  }
}

TEST_F(ColourTest, SyntheticPageComponents) {
  const ColourPage p = synthetic_page();
  ASSERT_EQ(run(p, 200, {72}), VLT_OK);
  // A, B and C wash into one; the two green squares are one flat component.
  int washed = 0, greens = 0;
  for (VltAdtListNode* n = image->first; n != nullptr; n = n->next) {
    const auto* cc = static_cast<const ColorCC*>(n->data);
    if ((cc->flags & COLORCC_WASHED) && cc->xMin == 2 && cc->xMax == 23 && cc->top == 2 && cc->bottom == 9) ++washed;
  }
  for (VltAdtListNode* n = flat->first; n != nullptr; n = n->next) {
    const auto* cc = static_cast<const ColorCC*>(n->data);
    if (cc->colour.rgb[1] == 0xA0) {
      ++greens;
      EXPECT_EQ(cc->xMin, 30);
      EXPECT_EQ(cc->bottom, 11);
    }
  }
  EXPECT_EQ(washed, 1);
  EXPECT_EQ(greens, 1);
}

// Pages of random blobs whose colours fall into clusters: similar inside a cluster, far across, so
// that washing is an equivalence and the flood fill is an exact reference.
TEST_F(ColourTest, RandomPagesAgreeWithFloodFill) {
  const uint32_t palette[] = {0xC80000, 0xCC0300, 0xC60202, 0x0000C8, 0x0300CD, 0x009600, kWhite, kWhite, 0xF0F0F0};
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    std::mt19937 rng(seed);
    ColourPage p(61, 47);
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x) {
        const bool keep = x > 0 && (rng() % 3 != 0);
        p.at(x, y) = keep ? p.at(x - 1, y) : palette[rng() % 9];
      }
    p.photo(int(rng() % 40), int(rng() % 30), 9, 6, seed);
    const std::vector<int> strips = seed % 2 ? std::vector<int>{47} : std::vector<int>{13, 34};
    for (uint16_t threshold : {uint16_t(100), COLORCC_FAR}) {
      SCOPED_TRACE(testing::Message() << "seed " << seed << " threshold " << threshold);
      ASSERT_EQ(run(p, threshold, strips, int(seed % 3)), VLT_OK);
      expect_matches(p, flood(p, threshold, strips));
      free_output();
    }
  }
}

TEST_F(ColourTest, OneLineStripDeliversEveryComponent) {
  ColourPage p(20, 1);
  p.fill(0, 0, 5, 1, 0x101010);
  p.fill(5, 0, 5, 1, 0x121212);  // similar to its left neighbour
  p.fill(12, 0, 3, 1, 0x00FF00);
  ASSERT_EQ(run(p, 500, {1}), VLT_OK);
  EXPECT_EQ(flat->count + image->count, 2u);
  EXPECT_EQ(image->count, 1u);  // the two greys, washed
}

TEST_F(ColourTest, WhiteIsBackgroundAndDropsSimilarity) {
  // Near-white touching white: similar by distance, but white becomes background and the
  // near-white region stays on its own.
  ColourPage p(8, 3);
  p.fill(2, 0, 4, 3, 0xFCFCFC);
  ASSERT_EQ(run(p, 1000, {3}), VLT_OK);
  ASSERT_EQ(flat->count, 1u);
  EXPECT_EQ(image->count, 0u);
  const auto* cc = static_cast<const ColorCC*>(flat->first->data);
  EXPECT_EQ(cc->xMin, 2);
  EXPECT_EQ(cc->count, 3u);
}

TEST_F(ColourTest, OneAdjacencyPerPairAndContactsAcrossLines) {
  ColourPage p(40, 4);
  p.fill(0, 0, 20, 4, 0x400000);
  p.fill(20, 0, 20, 4, 0x410000);
  ASSERT_EQ(VltCC_initPage(finder, p.width, p.height, 100), VLT_OK);
  Reader r{&p};
  finder->readLine = read_segment;
  finder->readData = &r;
  finder->flatList = flat;
  finder->imageList = image;
  for (int y = 0; y < 4; ++y) {
    ASSERT_EQ(vltcc_readLine(finder), VLT_OK);
    ASSERT_EQ(vltcc_endLine(finder), VLT_OK);
  }
  ASSERT_EQ(finder->map->live, 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(finder->map->slots[i].state->adjacent, 1);
    EXPECT_EQ(finder->map->slots[i].state->similar, 1u);
  }
  EXPECT_EQ(cccmap_cell(finder->map, 0, 1)->distance, 1);
  ASSERT_EQ(VltCC_doStrip(finder, read_segment, &r, 0, flat, image), VLT_OK);  // nothing read
  EXPECT_EQ(finder->map->live, 2);
}

TEST_F(ColourTest, WashingOffStillDeliversSimilarNeighbours) {
  ColourPage p(10, 5);
  p.fill(0, 0, 5, 5, 0x202020);
  p.fill(5, 0, 5, 5, 0x212121);
  ASSERT_EQ(run(p, COLORCC_FAR, {5}), VLT_OK);
  EXPECT_EQ(flat->count, 2u);
  EXPECT_EQ(image->count, 0u);
  EXPECT_EQ(finder->map->live, 0);
}

TEST(ColourDistance, SquaredDistanceSaturatesAt16Bits) {
  struct Case {
    uint32_t a, b, flagsB;
    uint16_t expect;
  };
  const Case cases[] = {
      {0x000000, 0x000000, 0, 0},
      {0x000000, 0xFF0000, 0, 65025},
      {0x000000, 0xFF0A00, 0, 65125},
      {0x000000, 0xFF1000, 0, 65281},
      {0x000000, 0xFF1700, 0, 65535},  // 65554: beyond 16 bits saturates
      {0x000000, 0xFFFFFF, 0, 65535},
      {0x102030, 0x112233, 0, 1 + 4 + 9},
      {0x102030, 0x102030, COLORCC_SAMPLED, 65535},
      {0x102030, 0x102030, COLORCC_WASHED, 65535},
      {0x102030, 0x102030, COLORCC_BACKGROUND, 65535},
  };
  for (const Case& c : cases) {
    ColorCCState a{}, b{};
    a.colour = c.a;
    b.colour = c.b;
    b.flags = c.flagsB;
    EXPECT_EQ(vltcc_colourDistance(&a, &b), c.expect) << std::hex << c.a << " " << c.b;
    EXPECT_EQ(vltcc_colourDistance(&b, &a), c.expect);
  }
}

TEST_F(ColourTest, RefusalsAndCallbackStatus) {
  ColourPage p(10, 4);
  p.fill(1, 1, 3, 2, 0x123456);
  p.photo(5, 0, 3, 4, 3);
  Reader r{&p};
  EXPECT_EQ(VltCC_initPage(finder, -1, 4, 100), VLT_ERR_PARAM);
  EXPECT_EQ(VltCC_initPage(finder, 70000, 4, 100), VLT_ERR_PARAM);
  ASSERT_EQ(VltCC_initPage(finder, 10, 4, 100), VLT_OK);
  EXPECT_EQ(VltCC_doStrip(finder, nullptr, &r, 4, flat, image), VLT_ERR_NULL);
  EXPECT_EQ(VltCC_doStrip(finder, read_segment, &r, 4, nullptr, image), VLT_ERR_NULL);
  EXPECT_EQ(VltCC_doStrip(finder, read_segment, &r, 5, flat, image), VLT_ERR_PARAM);  // beyond the page
  // A line longer than the page width.
  ASSERT_EQ(VltCC_initPage(finder, 9, 4, 100), VLT_OK);
  EXPECT_EQ(VltCC_doStrip(finder, read_segment, &r, 4, flat, image), VLT_ERR_PARAM);
  // A callback's own status aborts the strip; nothing of the page stays behind.
  for (int call = 1; call <= 20; ++call) {
    r = Reader{&p};
    r.failAtCall = call;
    ASSERT_EQ(VltCC_initPage(finder, 10, 4, 100), VLT_OK);
    EXPECT_EQ(VltCC_doStrip(finder, read_segment, &r, 4, flat, image), 77);
    EXPECT_EQ(finder->map->live, 0);
    free_output();
  }
  EXPECT_EQ(printed.codes, (std::vector<int32_t>{2, 2, 118, 118, 2, 2}));
}

// Every allocation of a strip made to fail in turn: the failure is returned and nothing leaks.
TEST_F(ColourTest, AllocationFailuresFreeEverything) {
  ColourPage p = synthetic_page();
  const std::vector<int> strips = {40, 32};
  size_t k = 1;
  for (;; ++k) {
    alloc.fail_at(k);
    const VltStatus st = run(p, 200, strips, 4);
    alloc.fail_at(0);
    free_output();
    if (st == VLT_OK) break;
    EXPECT_TRUE(st == VLT_ERR_NOMEM || st == VLT_ERR_VLT_NOMEM) << "allocation " << k << ": status " << st;
    EXPECT_EQ(finder->map->live, 0);
  }
  EXPECT_GT(k, 50u);
}

// ---- Map

struct MapTest : TokTest {
  ColorCCMap* map = nullptr;
  std::vector<ColorCCState*> states;
  void SetUp() override {
    TokTest::SetUp();
    ASSERT_EQ(cccmap_init(engine, &map), VLT_OK);
  }
  void TearDown() override {
    for (ColorCCState* s : states) engine->free(s);
    cccmap_cleanup(engine, &map);
    TokTest::TearDown();
  }
  ColorCCState* add() {
    auto* s = static_cast<ColorCCState*>(engine->calloc(1, sizeof(ColorCCState)));
    s->id = -1;
    EXPECT_EQ(cccmap_add(engine, map, s), VLT_OK);
    states.push_back(s);
    return s;
  }
  void link(ColorCCState* a, ColorCCState* b, uint16_t distance, bool similar) {
    ColorCCAdj* c = cccmap_cell(map, a->id, b->id);
    c->flags = uint16_t(COLORCC_ADJACENT | (similar ? COLORCC_SIMILAR : 0));
    c->distance = distance;
    ++a->adjacent, ++b->adjacent;
    if (similar) ++a->similar, ++b->similar;
  }
  // Pairs of states linked in the map, with their cells.
  std::map<std::pair<ColorCCState*, ColorCCState*>, std::pair<uint16_t, uint16_t>> links() {
    std::map<std::pair<ColorCCState*, ColorCCState*>, std::pair<uint16_t, uint16_t>> out;
    for (int i = 1; i < map->capacity; ++i)
      for (int j = 0; j < i; ++j) {
        const ColorCCAdj* c = cccmap_cell(map, i, j);
        if (c->flags == 0) continue;
        ColorCCState* a = map->slots[i].state;
        ColorCCState* b = map->slots[j].state;
        EXPECT_TRUE(a != nullptr && b != nullptr) << "cell of an empty slot";
        out[{std::min(a, b), std::max(a, b)}] = {c->flags, c->distance};
      }
    return out;
  }
};

TEST_F(MapTest, CompactionFollowsLiveCount) {
  struct Case {
    int grow;   // components added
    int keep;   // of those, kept live (the others removed from the low end)
    int capacityBefore, capacityAfter;
  };
  const Case cases[] = {{128, 70, 128, 96}, {96, 65, 96, 96}, {128, 40, 128, 64}, {64, 10, 64, 64}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keep);
    for (int i = 0; i < c.grow; ++i) add();
    ASSERT_EQ(map->capacity, c.capacityBefore);
    // Links between survivors far apart and near, so that moving slots must carry them along.
    ColorCCState* hi = states.back();
    ColorCCState* mid = states[size_t(c.grow - c.keep)];
    link(hi, mid, 77, true);
    link(hi, states[size_t(c.grow - 2)], 5, false);
    for (int i = 0; i < c.grow - c.keep; ++i) ASSERT_EQ(cccmap_rem(map, states[size_t(i)]->id), VLT_OK);
    const auto before = links();
    ASSERT_EQ(cccmap_collapse(engine, map), VLT_OK);
    EXPECT_EQ(map->capacity, c.capacityAfter);
    EXPECT_EQ(map->live, c.keep);
    EXPECT_EQ(links(), before);
    for (int i = 0; i < map->capacity; ++i)
      if (map->slots[i].state != nullptr) {
        EXPECT_EQ(map->slots[i].state->id, i);
      }
    ASSERT_LT(map->firstFree, map->capacity + 1);
    for (int i = 0; i < map->firstFree; ++i) EXPECT_NE(map->slots[i].state, nullptr);
    for (ColorCCState* s : states)
      if (s->id >= 0) cccmap_rem(map, s->id);
    cccmap_collapse(engine, map);
    for (ColorCCState* s : states) engine->free(s);
    states.clear();
  }
}

TEST_F(MapTest, RemovingClearsTheNeighboursCounts) {
  ColorCCState* a = add();
  ColorCCState* b = add();
  ColorCCState* c = add();
  ColorCCState* lone = add();
  link(a, b, 10, true);
  link(c, b, 900, false);
  ASSERT_EQ(cccmap_rem(map, lone->id), VLT_OK);  // no adjacencies: only the slot empties
  EXPECT_EQ(map->firstFree, 3);
  EXPECT_EQ(map->live, 3);
  ASSERT_EQ(cccmap_rem(map, b->id), VLT_OK);
  EXPECT_EQ(a->adjacent, 0);
  EXPECT_EQ(a->similar, 0u);
  EXPECT_EQ(c->adjacent, 0);
  EXPECT_EQ(b->id, -1);
  EXPECT_EQ(map->firstFree, 1);
  EXPECT_TRUE(links().empty());
}

TEST_F(MapTest, CombineFoldsAdjacencies) {
  // A (slot 0) absorbs B (slot 1), which has more adjacencies and so keeps its slot.
  ColorCCState* A = add();
  ColorCCState* B = add();
  ColorCCState* k1 = add();  // adjacent to both: similar to B only
  ColorCCState* k2 = add();  // adjacent to B only
  ColorCCState* k3 = add();  // adjacent to both, similar to both
  link(A, k1, 300, false);
  link(B, k1, 40, true);
  link(B, k2, 20, true);
  link(A, k3, 10, true);
  link(B, k3, 30, true);
  link(A, B, 1, false);
  ASSERT_EQ(cccmap_combine(map, A->id, B->id), VLT_OK);
  EXPECT_EQ(A->id, 1);  // the keeper slot
  EXPECT_EQ(B->id, -1);
  EXPECT_EQ(map->slots[0].state, nullptr);
  EXPECT_EQ(map->live, 4);
  EXPECT_EQ(map->firstFree, 0);
  EXPECT_EQ(A->adjacent, 3);
  EXPECT_EQ(A->similar, 3u);
  EXPECT_EQ(k1->adjacent, 1);
  EXPECT_EQ(k1->similar, 1u);
  EXPECT_EQ(k2->adjacent, 1);
  EXPECT_EQ(k3->adjacent, 1);
  EXPECT_EQ(k3->similar, 1u);
  const auto l = links();
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(l.at({std::min(A, k1), std::max(A, k1)}), std::make_pair(uint16_t(COLORCC_ADJACENT | COLORCC_SIMILAR), uint16_t(300)));
  EXPECT_EQ(l.at({std::min(A, k3), std::max(A, k3)}).second, 30);
  // B is the caller's to free now.
}

// ---- Line buffers and component operations

TEST_F(ColourTest, LineBuffersShrinkAtPageEnd) {
  ColourPage p(200, 3);
  for (int x = 0; x < 200; ++x) p.at(x, 1) = x % 2 ? 0x010101 : 0x020202;  // 200 segments
  ASSERT_EQ(run(p, COLORCC_FAR, {3}), VLT_OK);
  for (const ColorCCLineBuf* b : {&finder->rim->prev, &finder->rim->cur}) {
    EXPECT_EQ(b->count, 0u);
    EXPECT_LE(b->capacity, COLORCC_RIM_INITIAL);
  }
  EXPECT_EQ(flat->count, 200u);
}

TEST_F(ColourTest, FiveRunsMakeTwoRecords) {
  ColourPage p(20, 2);
  for (int i = 0; i < 5; ++i) p.at(1 + 4 * i, 1) = 0x0000FF;  // five runs on line 1...
  p.fill(0, 0, 20, 1, 0x0000FF);                              // ...held together by line 0
  ASSERT_EQ(VltCC_initPage(finder, p.width, p.height, COLORCC_FAR), VLT_OK);
  Reader r{&p};
  finder->readLine = read_segment;
  finder->readData = &r;
  for (int y = 0; y < 2; ++y) {
    ASSERT_EQ(vltcc_readLine(finder), VLT_OK);
    ASSERT_EQ(vltcc_endLine(finder), VLT_OK);
  }
  ColorCCState* s = nullptr;
  for (int i = 0; i < finder->map->capacity; ++i)
    if (finder->map->slots[i].state && finder->map->slots[i].state->colour == 0xFF) s = finder->map->slots[i].state;
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->lines->count, 1u);  // line 1 is still in the segment buffers
  ASSERT_EQ(ccstate_movetoNextLine(finder, s), VLT_OK);
  ASSERT_EQ(s->lines->count, 2u);
  const auto* r1 = static_cast<const ColorRunRecord*>(s->lines->last->data);
  ASSERT_NE(r1, nullptr);
  EXPECT_EQ(r1->count, 4u);
  ASSERT_NE(r1->next, nullptr);
  EXPECT_EQ(r1->next->count, 1u);
  EXPECT_EQ(r1->next->runs[0].x, 17);
  EXPECT_EQ(r1->next->next, nullptr);
}

// A finished component made by hand: lines of runs {x, length, colour word}; sampled components
// get sample buffers of their pixels' colours from `pixel`.
struct HandRun {
  int x, length;
  uint32_t colour;
};

struct StateTest : ColourTest {
  ColorCCState* make(uint32_t flags, uint32_t colour, int top, const std::vector<std::vector<HandRun>>& lines,
                     const std::vector<std::vector<uint32_t>>& pixels = {}) {
    auto* s = static_cast<ColorCCState*>(engine->calloc(1, sizeof(ColorCCState)));
    s->id = -1;
    EXPECT_EQ(VltAdt_liNew(&s->lines, engine), VLT_OK);
    EXPECT_EQ(VltAdt_liNew(&s->prevSegs, engine), VLT_OK);
    EXPECT_EQ(VltAdt_liNew(&s->curSegs, engine), VLT_OK);
    s->flags = flags | (COLORCC_FINISHED << COLORCC_STATUS_SHIFT);
    s->colour = colour;
    s->top = uint16_t(top);
    s->bottom = uint16_t(top + int(lines.size()) - 1);
    s->xMin = UINT16_MAX;
    const int form = (flags & (COLORCC_SAMPLED | COLORCC_WASHED)) != 0;
    for (size_t y = 0; y < lines.size(); ++y) {
      ColorRunRecord* head = nullptr;
      ColorRunRecord* tail = nullptr;
      for (const HandRun& r : lines[y]) {
        if (tail == nullptr || tail->count == COLORCC_RUNS_PER_RECORD) {
          void* block = nullptr;
          EXPECT_EQ(engine->smallAlloc(engine->smallContext, form ? COLORCC_POOL_SAMPLED : COLORCC_POOL_FLAT, &block),
                    VLT_OK);
          auto* rec = static_cast<ColorRunRecord*>(block);
          std::memset(rec, 0, form ? sizeof(ColorRunRecord) : COLORCC_FLAT_RECORD_SIZE);
          (tail != nullptr ? tail->next : head) = rec;
          tail = rec;
        }
        tail->runs[tail->count] = {uint16_t(r.x), uint16_t(r.length)};
        if (flags & COLORCC_SAMPLED) {
          auto* buf = static_cast<uint8_t*>(engine->malloc(size_t(r.length) * 3));
          for (int i = 0; i < r.length; ++i) {
            const uint32_t c = pixels[y][size_t(r.x + i)];
            buf[3 * i] = uint8_t(c >> 16), buf[3 * i + 1] = uint8_t(c >> 8), buf[3 * i + 2] = uint8_t(c);
          }
          tail->samples[tail->count] = reinterpret_cast<uintptr_t>(buf);
        } else if (form) {
          tail->samples[tail->count] = r.colour;
        }
        ++tail->count;
        s->xMin = std::min<uint16_t>(s->xMin, uint16_t(r.x));
        s->xMax = std::max<uint16_t>(s->xMax, uint16_t(r.x + r.length - 1));
        s->pixels += uint32_t(r.length);
      }
      EXPECT_EQ(VltAdt_liAdd(s->lines, head, nullptr), VLT_OK);
    }
    return s;
  }
  ColorCCState* entered(ColorCCState* s) {
    EXPECT_EQ(cccmap_add(engine, finder->map, s), VLT_OK);
    return s;
  }
  void drop(ColorCCState*& s) {
    if (s != nullptr && s->id >= 0) cccmap_rem(finder->map, s->id);
    ccstate_cleanup(engine, &s);
  }
  // The runs of a delivered component as {x, y, length} in page coordinates.
  static std::vector<std::array<int, 3>> runs_of(const ColorCC* cc) {
    int lines = 0;
    std::vector<std::array<int, 3>> out;
    for (auto [x, y] : cc_pixels(cc, &lines)) {
      if (!out.empty() && out.back()[1] == y && out.back()[0] + out.back()[2] == x)
        ++out.back()[2];
      else
        out.push_back({x, y, 1});
    }
    return out;
  }
};

TEST_F(StateTest, MergeWithBackgroundDropsRuns) {
  ColorCCState* plain = entered(make(0, 0x336699, 0, {{{0, 4, 0}}, {{1, 2, 0}}}));
  ColorCCState* bg = entered(make(COLORCC_BACKGROUND, kWhite, 0, {}));
  ColorCCState* nb = entered(make(0, 0x33669A, 2, {{{0, 4, 0}}}));
  ColorCCAdj* c = cccmap_cell(finder->map, plain->id, nb->id);
  *c = {uint16_t(COLORCC_ADJACENT | COLORCC_SIMILAR), 1};
  plain->adjacent = nb->adjacent = 1;
  plain->similar = nb->similar = 1;
  ASSERT_EQ(ccstate_merge(finder, plain, &bg), VLT_OK);
  EXPECT_EQ(bg, nullptr);
  EXPECT_TRUE(plain->flags & COLORCC_BACKGROUND);
  EXPECT_EQ(plain->lines->count, 0u);
  EXPECT_EQ(plain->similar, 0u);
  EXPECT_EQ(nb->similar, 0u);  // its similarity went with the background
  EXPECT_EQ(nb->adjacent, 1);
  ColorCC* cc = nullptr;
  EXPECT_EQ(ccstate_convertToColorCC(engine, plain, &cc), VLT_ERR_ASSERT);  // never delivered
  drop(plain);
  drop(nb);
}

TEST_F(StateTest, MergeKeepsRunsInOrderAndRefusesOverlaps) {
  // Interleaved runs over a line both have, lines only one has on either side.
  ColorCCState* a = entered(make(0, 0x112233, 3, {{{0, 2, 0}, {6, 2, 0}, {12, 2, 0}}, {{0, 3, 0}}}));
  ColorCCState* b = entered(make(0, 0x112233, 2, {{{3, 1, 0}}, {{3, 2, 0}, {9, 2, 0}}}));
  ColorCCState* keepB = b;
  ASSERT_EQ(ccstate_merge(finder, a, &b), VLT_OK);
  EXPECT_EQ(b, nullptr);
  (void)keepB;
  EXPECT_EQ(a->top, 2);
  EXPECT_EQ(a->bottom, 4);
  EXPECT_EQ(a->pixels, 2u + 2 + 2 + 3 + 1 + 2 + 2);
  ColorCC* cc = nullptr;
  ASSERT_EQ(ccstate_convertToColorCC(engine, a, &cc), VLT_OK);
  using R = std::array<int, 3>;
  EXPECT_EQ(runs_of(cc), (std::vector<R>{{3, 2, 1}, {0, 3, 2}, {3, 3, 2}, {6, 3, 2}, {9, 3, 2}, {12, 3, 2}, {0, 4, 3}}));
  VltCC_freeColorCC(engine, cc);
  drop(a);

  ColorCCState* c = entered(make(0, 0x445566, 0, {{{0, 4, 0}}}));
  ColorCCState* d = entered(make(0, 0x445566, 0, {{{3, 3, 0}}}));
  EXPECT_EQ(ccstate_merge(finder, c, &d), VLT_ERR_ASSERT);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(c->lines->count, 1u);
  EXPECT_EQ(d->lines->count, 1u);
  ColorCCState* sampled = entered(make(COLORCC_SAMPLED, 0, 0, {{{8, 1, 0}}}, {{0, 0, 0, 0, 0, 0, 0, 0, 0x010101}}));
  EXPECT_EQ(ccstate_merge(finder, c, &sampled), VLT_ERR_ASSERT);  // plain and sampled never merge
  drop(c);
  drop(d);
  drop(sampled);
}

TEST_F(StateTest, WashedAbuttingRunsJoin) {
  ColorCCState* s = make(0, 0x808080, 0, {{{0, 3, 0}}});
  ASSERT_EQ(ccstate_makeWash(finder, s), VLT_OK);
  EXPECT_TRUE(s->flags & COLORCC_WASHED);
  EXPECT_EQ(s->colour, 0u);
  ColorCCState* t = make(COLORCC_WASHED, 0, 0, {{{3, 2, 0x0000FF}}});
  entered(s);
  entered(t);
  ASSERT_EQ(ccstate_merge(finder, s, &t), VLT_OK);
  ColorCC* cc = nullptr;
  ASSERT_EQ(ccstate_convertToColorCC(engine, s, &cc), VLT_OK);
  ASSERT_EQ(cc->count, 1u);
  EXPECT_EQ(cc->runs[1], 5);
  const uint8_t* px = VltImage_pixel<uint8_t>(cc->colour.image, 2, 0);
  EXPECT_EQ(px[0], 0x80);
  EXPECT_EQ(px[5], 0xFF);
  VltCC_freeColorCC(engine, cc);
  drop(s);
}

TEST_F(StateTest, SplitComparesThreeSampleBytes) {
  // Pixels 0 and 1 hold the same colour but differ in the byte after their own three, which a
  // word comparison would read.
  const std::vector<std::vector<uint32_t>> px = {{0x010203, 0x010203, 0x090909, 0x090909, 0x070707},
                                                 {0x010203, 0x010203, 0x090909, 0x090909, 0x010203}};
  using R = std::array<int, 3>;
  for (bool washed : {false, true}) {
    SCOPED_TRACE(washed ? "washed" : "sampled");
    ColorCCState* s = washed ? make(COLORCC_WASHED, 0, 5,
                                    {{{0, 2, 0x010203}, {2, 2, 0x090909}, {4, 1, 0x070707}},
                                     {{1, 1, 0x010203}, {2, 2, 0x090909}, {4, 1, 0x010203}}})
                             : make(COLORCC_SAMPLED, 0, 5, {{{0, 5, 0}}, {{1, 4, 0}}}, px);
    VltAdtList* out = nullptr;
    ASSERT_EQ(ccstate_disassembleSampledCC(engine, s, &out), VLT_OK);
    std::map<uint32_t, std::vector<std::vector<R>>> byColour;
    for (VltAdtListNode* n = out->first; n != nullptr; n = n->next) {
      auto* cc = static_cast<ColorCC*>(n->data);
      EXPECT_EQ(cc->flags, 0u);
      byColour[uint32_t(cc->colour.rgb[0]) << 16 | uint32_t(cc->colour.rgb[1]) << 8 | cc->colour.rgb[2]].push_back(
          runs_of(cc));
      VltCC_freeColorCC(engine, cc);
    }
    VltAdt_liFree(out);
    EXPECT_EQ(byColour[0x010203], (std::vector<std::vector<R>>{{{0, 5, 2}, {1, 6, 1}}, {{4, 6, 1}}}));
    EXPECT_EQ(byColour[0x090909], (std::vector<std::vector<R>>{{{2, 5, 2}, {2, 6, 2}}}));
    EXPECT_EQ(byColour[0x070707], (std::vector<std::vector<R>>{{{4, 5, 1}}}));
    EXPECT_EQ(s->lines->count, 0u);
    drop(s);
  }
}

TEST_F(StateTest, SplitFailuresFreeEverything) {
  const std::vector<std::vector<uint32_t>> px = {{1, 1, 2, 2, 3, 3, 1, 1}, {2, 2, 2, 1, 1, 3, 3, 3}};
  size_t k = 1;
  for (;; ++k) {
    ColorCCState* s = make(COLORCC_SAMPLED, 0, 0, {{{0, 8, 0}}, {{0, 8, 0}}}, px);
    alloc.fail_at(k);
    VltAdtList* out = nullptr;
    const VltStatus st = ccstate_disassembleSampledCC(engine, s, &out);
    alloc.fail_at(0);
    if (st == VLT_OK) {
      EXPECT_EQ(out->count, 5u);  // colour 1 in three pieces that never touch
      for (VltAdtListNode* n = out->first; n != nullptr; n = n->next) VltCC_freeColorCC(engine, static_cast<ColorCC*>(n->data));
      VltAdt_liFree(out);
      drop(s);
      break;
    }
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(s->lines->count, 2u);  // the component is left as it was
    drop(s);
  }
  EXPECT_GT(k, 5u);
}

}  // namespace
