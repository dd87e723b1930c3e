// Components fed band by band against the image core's whole-image pass, and the packed-image
// utilities.

#include <gtest/gtest.h>

#include <random>
#include <tuple>
#include <vector>

#include "byteorder.h"
#include "i_ccruns.h"
#include "i_heap.h"
#include "pixr_ops.h"
#include "tok_bufcc.h"
#include "tok_fixture.h"

namespace {

using monotest::RefBitmap;

struct Seen {
  int32_t x, y, w, h, pixels, runCount;
  std::vector<std::tuple<int, int>> runs;  // (start, end) in the finder's order
  bool operator==(const Seen&) const = default;
};

struct Collector {
  std::vector<Seen> seen;
  int stopAt = 0;
};

int collect(IPState*, void* data, int32_t x, int32_t y, int32_t w, int32_t h, int32_t pixels, int32_t n, CCRun* runs) {
  auto* c = static_cast<Collector*>(data);
  Seen s{x, y, w, h, pixels, n, {}};
  for (const CCRun* r = runs; r != nullptr; r = r->next) s.runs.emplace_back(r->start, r->end);
  c->seen.push_back(std::move(s));
  return int(c->seen.size()) == c->stopAt ? 77 : 0;
}

// A bitmap inside a frame of f pixels (and f lines above and below).
struct Framed {
  int f, bpl;
  std::vector<uint8_t> bytes;
  Framed(const RefBitmap& bm, int frame) : f(frame), bpl(4 * ((bm.width + 2 * frame + 31) / 32)) {
    bytes.assign(size_t(bpl) * size_t(bm.height + 2 * f), 0);
    for (int y = 0; y < bm.height; ++y)
      for (int x = 0; x < bm.width; ++x)
        if (bm.get(x, y)) mono::set_bit(bytes.data() + size_t(y + f) * size_t(bpl), size_t(x + f), 1);
  }
};

struct BufCCTest : toktest::TokTest {
  HeapManager* heap = nullptr;
  CCState cc{};
  BufCCTest() { wrapper = 1; }
  IPState* ip() { return engine->ipwState; }
  void make_state() {
    size_t size = 0;
    i_getHeapManagerSize(ip(), &size);
    heap = static_cast<HeapManager*>(engine->calloc(1, size));
    ASSERT_EQ(i_initializeHeapManager(ip(), heap), VLT_OK);
    ASSERT_EQ(i_initializeCCState(ip(), &cc, heap), VLT_OK);
  }
  void drop_state() {
    i_destroyCCState(ip(), &cc);
    i_destroyHeapManager(ip(), heap);
    engine->free(heap);
    heap = nullptr;
  }
  // The page fed in bands of the given heights, each from a buffer of its own lines only.
  VltStatus bands(const RefBitmap& page, const std::vector<int>& heights, int conn, Collector* c, int minW = 1,
                  int minH = 1) {
    make_state();
    int row = 0;
    VltStatus st = VLT_OK;
    for (size_t i = 0; i < heights.size() && st == VLT_OK; ++i) {
      RefBitmap band(page.width, heights[i]);
      for (int y = 0; y < heights[i]; ++y)
        for (int x = 0; x < page.width; ++x) band.set(x, y, page.get(x, row + y));
      Framed fb(band, 32);
      int status = 0;
      st = tcly_findBufCC(ip(), &cc, fb.bytes.data(), i + 1 == heights.size(), 32 + page.width - 1, 32, 32,
                          32 + heights[i] - 1, row, 32 + page.height, fb.bpl, minW, minH, conn, c, collect, &status);
      row += heights[i];
    }
    drop_state();
    return st;
  }
  std::vector<Seen> whole(const RefBitmap& page, int conn, int minW = 1, int minH = 1) {
    Framed fp(page, 32);
    Collector c;
    int status = 0;
    EXPECT_EQ(i_findConnectedComponentRuns(ip(), fp.bytes.data(), uint32_t(fp.bpl), 32, 32, page.width, page.height,
                                           minW, minH, conn, &c, collect, &status),
              VLT_OK);
    return c.seen;
  }
};

// Any cut into bands gives the components of the whole page, in the same order with the same runs.
TEST_F(BufCCTest, BandsGiveTheWholePagesComponents) {
  std::mt19937 rng(21);
  for (int iter = 0; iter < 60; ++iter) {
    const int w = 1 + int(rng() % 150), h = 1 + int(rng() % 120);
    RefBitmap page;
    switch (iter % 3) {
      case 0: page = monotest::make_noise(w, h, 0.2 + 0.1 * double(rng() % 5), rng()); break;
      case 1: page = monotest::make_text_blobs(w, h, rng()); break;
      default: page = monotest::make_lines(w, h, rng()); break;
    }
    std::vector<int> heights;
    for (int left = h; left > 0;) {
      const int b = std::min(left, iter % 5 == 0 ? 1 : 1 + int(rng() % 40));
      heights.push_back(b);
      left -= b;
    }
    const int conn = iter % 4 == 3 ? 0 : 1;
    const int minW = iter % 7 == 0 ? 3 : 1, minH = iter % 11 == 0 ? 2 : 1;
    Collector c;
    ASSERT_EQ(bands(page, heights, conn, &c, minW, minH), VLT_OK);
    ASSERT_EQ(c.seen, whole(page, conn, minW, minH)) << iter;
  }
}

TEST_F(BufCCTest, DiagonalsUShapesAndSizes) {
  const RefBitmap diag = toktest::rows_bitmap({"#.", ".#"});
  for (const auto& [conn, count] : {std::pair{1, 1u}, std::pair{0, 2u}}) {
    Collector c;
    ASSERT_EQ(bands(diag, {1, 1}, conn, &c), VLT_OK);
    EXPECT_EQ(c.seen.size(), count);
  }
  // Arms starting on the same row meet at the bottom: one component, the whole box.
  const RefBitmap u = toktest::rows_bitmap({"#...#", "#...#", "#####"});
  Collector cu;
  ASSERT_EQ(bands(u, {2, 1}, 1, &cu), VLT_OK);
  ASSERT_EQ(cu.seen.size(), 1u);
  EXPECT_EQ(std::tie(cu.seen[0].x, cu.seen[0].y, cu.seen[0].w, cu.seen[0].h, cu.seen[0].pixels),
            std::tuple(32, 32, 5, 3, 9));
  // Too small in either direction: released without a call.
  Collector cs;
  ASSERT_EQ(bands(u, {3}, 1, &cs, 6, 1), VLT_OK);
  EXPECT_TRUE(cs.seen.empty());
}

// A component reaching the band's last line finishes in a later call, or with the final line.
TEST_F(BufCCTest, ComponentsFinishOnlyBelowTheirLastLine) {
  const RefBitmap page = toktest::rows_bitmap({"##..", "....", "..##"});
  Framed fp(page, 32);
  make_state();
  Collector c;
  int status = 0;
  const auto call = [&](int first, int last, int final) {
    return tcly_findBufCC(ip(), &cc, fp.bytes.data(), final, 35, 32, first, last, 0, 32 + 3, fp.bpl, 1, 1, 1, &c,
                          collect, &status);
  };
  ASSERT_EQ(call(32, 32, 0), VLT_OK);
  EXPECT_TRUE(c.seen.empty());
  ASSERT_EQ(call(33, 34, 0), VLT_OK);
  EXPECT_EQ(c.seen.size(), 1u);
  ASSERT_EQ(call(35, 34, 1), VLT_OK) << "a final call of no lines adds the empty one";
  EXPECT_EQ(c.seen.size(), 2u);
  drop_state();

  // Lines at or beyond the total count read as empty.
  make_state();
  Collector ct;
  ASSERT_EQ(tcly_findBufCC(ip(), &cc, fp.bytes.data(), 1, 35, 32, 32, 34, 0, 32 + 2, fp.bpl, 1, 1, 1, &ct, collect,
                           &status),
            VLT_OK);
  EXPECT_EQ(ct.seen.size(), 1u);
  drop_state();
}

TEST_F(BufCCTest, BadArgumentsAndStoppingCallbacks) {
  const RefBitmap page = monotest::make_noise(40, 20, 0.5, 3);
  Framed fp(page, 32);
  make_state();
  int status = 0;
  Collector c;
  EXPECT_EQ(tcly_findBufCC(ip(), &cc, fp.bytes.data(), 1, 71, 32, 32, 51, 0, 52, fp.bpl, 1, 1, 2, &c, collect, &status),
            VLT_ERR_PARAM);
  EXPECT_EQ(tcly_findBufCC(ip(), &cc, fp.bytes.data(), 1, 71, 32, 32, 51, 0, 52, fp.bpl, 1, 1, 1, &c, nullptr, &status),
            VLT_ERR_PARAM);
  EXPECT_EQ(tcly_findBufCC(ip(), nullptr, fp.bytes.data(), 1, 71, 32, 32, 51, 0, 52, fp.bpl, 1, 1, 1, &c, collect,
                           &status),
            VLT_ERR_PARAM);
  EXPECT_EQ(tcly_findBufCC(ip(), &cc, fp.bytes.data(), 1, fp.bpl * 8, 32, 32, 51, 0, 52, fp.bpl, 1, 1, 1, &c, collect,
                           &status),
            VLT_ERR_PARAM)
      << "columns past the line";
  c.stopAt = 2;
  EXPECT_EQ(tcly_findBufCC(ip(), &cc, fp.bytes.data(), 1, 71, 32, 32, 51, 0, 52, fp.bpl, 1, 1, 1, &c, collect, &status),
            VLT_ERR_CALLBACK);
  EXPECT_EQ(status, 77);
  drop_state();
}

TEST_F(BufCCTest, PackedImageUtilities) {
  // Rows with bits set past the width: the PIXR keeps the width's pixels and a clear frame.
  const int w = 37, h = 5;
  std::vector<uint8_t> rows(size_t(h) * 8, 0xFF);
  PIXR* p = nullptr;
  ASSERT_EQ(packedToPixr(engine, rows.data(), w, h, 2, &p), VLT_OK);
  uint32_t count = 0;
  ASSERT_EQ(w_numberBits(ip(), p, &count), VLT_OK);
  EXPECT_EQ(count, uint32_t(w * h));
  ASSERT_EQ(w_setFramePixels(ip(), p, 0), VLT_OK);
  ASSERT_EQ(w_numberBits(ip(), p, &count), VLT_OK);
  EXPECT_EQ(count, uint32_t(w * h)) << "nothing in the frame";
  w_destroyPixr(ip(), &p);
  EXPECT_EQ(packedToPixr(engine, rows.data(), w, h, 1, &p), VLT_ERR_PARAM);

  // A framed copy keeps every pixel one frame in, whatever the source's offsets.
  const RefBitmap bm = monotest::make_noise(45, 9, 0.5, 7);
  VltImage* src = nullptr;
  ASSERT_EQ(VltImage_newOffset(engine, VLT_IMAGE_PACKED, bm.width, bm.height, -5, 12, &src), VLT_OK);
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x) VltImage_setPackedPixel(src, x - 5, y + 12, bm.get(x, y));
  VltImage* framed = nullptr;
  ASSERT_EQ(packedAddFrame(engine, src, 3, &framed), VLT_OK);
  ASSERT_EQ(framed->hdr.width, 51);
  ASSERT_EQ(framed->hdr.height, 15);
  for (int y = 0; y < 15; ++y)
    for (int x = 0; x < 51; ++x) {
      const bool inside = x >= 3 && x < 48 && y >= 3 && y < 12;
      ASSERT_EQ(VltImage_getPackedPixel(framed, x, y), inside ? bm.get(x - 3, y - 3) : 0) << x << "," << y;
    }
  packedClear(framed);
  for (int y = 0; y < 15; ++y) EXPECT_EQ(mono::load_be32(framed->rows[y]), 0u);
  EXPECT_EQ(packedAddFrame(engine, nullptr, 3, &framed), VLT_ERR_PARAM);
  VltImage_free(framed);
  VltImage_free(src);

  VltImage* sum = nullptr;
  ASSERT_EQ(VltImage_new(engine, VLT_IMAGE_DOUBLE, 3, 2, &sum), VLT_OK);
  *VltImage_pixel<double>(sum, 2, 1) = 9.0;
  EXPECT_EQ(getImgDblAverage(engine, sum, 0), VLT_ERR_PARAM);
  EXPECT_EQ(*VltImage_pixel<double>(sum, 2, 1), 9.0);
  ASSERT_EQ(getImgDblAverage(engine, sum, 4), VLT_OK);
  EXPECT_EQ(*VltImage_pixel<double>(sum, 2, 1), 2.25);
  VltImage_free(sum);
}

}  // namespace
