#ifndef TOK_FIXTURE_H
#define TOK_FIXTURE_H

// A classifier test bed: an engine state whose allocations and small-pool blocks all come from
// one counting allocator (so a leak of any record shows, and any allocation can be made to fail),
// a collecting printer, default parameters, and bitmaps written as rows of '#' and '.'.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "byteorder.h"
#include "counting_alloc.h"
#include "ref_bitmap.h"
#include "report_collector.h"
#include "tok_class.h"
#include "tok_classifier.h"
#include "vlt_state.h"

namespace toktest {

using monotest::CountingAllocator;
using monotest::RefBitmap;

inline VltStatus pool_alloc(void* context, uint32_t, void** place) {
  void* p = static_cast<CountingAllocator*>(context)->allocate(VLT_POOL_BLOCK_SIZE);
  if (p == nullptr) return VLT_ERR_NOMEM;
  *place = p;
  return VLT_OK;
}
inline void pool_free(void* context, uint32_t, void* block) { static_cast<CountingAllocator*>(context)->release(block); }

inline RefBitmap rows_bitmap(const std::vector<std::string>& rows) {
  RefBitmap bm(static_cast<int>(rows.empty() ? 0 : rows[0].size()), static_cast<int>(rows.size()));
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x) bm.set(x, y, rows[size_t(y)][size_t(x)] == '#');
  return bm;
}

// Packed rows of big-endian words, stride given in words (at least what the width needs).
inline std::vector<uint8_t> packed(const RefBitmap& bm, uint32_t wpl) {
  std::vector<uint8_t> out(size_t(wpl) * 4 * size_t(bm.height), 0);
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x)
      if (bm.get(x, y)) mono::set_bit(out.data() + size_t(y) * wpl * 4, size_t(x), 1);
  return out;
}

inline uint32_t words_for(int width) { return static_cast<uint32_t>((width + 31) / 32); }

struct TokTest : testing::Test {
  CountingAllocator alloc;
  VltMemFuncs mem{CountingAllocator::g_malloc, CountingAllocator::g_free, CountingAllocator::g_calloc,
                  CountingAllocator::g_realloc};
  VltSmallPoolFuncs pools{&alloc, pool_alloc, pool_free};
  monotest::CollectedReports printed;
  VltState* engine = nullptr;
  TokParams params{};
  TokState* tok = nullptr;
  size_t baseline = 0;
  int wrapper = 0;  // 1: the engine state gets a wrapper state (page tests)

  void SetUp() override {
    alloc.make_current();
    ASSERT_EQ(Vlt_initVltState(&engine, &mem, &pools, &printed, monotest::collect_report, wrapper, 0), VLT_OK);
    tokSetDefaults(&params);
    params.engineState = engine;
    baseline = alloc.live_blocks();
  }
  void TearDown() override {
    if (tok != nullptr) tokFreeState(tok);
    EXPECT_EQ(alloc.live_blocks(), baseline) << "the test leaked";
    Vlt_cleanupVltState(&engine);
    EXPECT_EQ(alloc.foreign(), 0u) << "freed memory the allocator never gave";
  }

  void init() { ASSERT_EQ(tokInit(&params, &tok), VLT_OK); }

  // A bitmap header over bits from the engine allocator, as the classifier expects them.
  TokBitmap bitmap(const RefBitmap& bm, void* owner = nullptr, uint32_t wpl = 0) {
    if (wpl == 0) wpl = words_for(bm.width);
    const std::vector<uint8_t> bytes = packed(bm, wpl);
    auto* bits = static_cast<uint8_t*>(engine->malloc(bytes.size() + 1));
    if (bits != nullptr) std::memcpy(bits, bytes.data(), bytes.size());
    return TokBitmap{static_cast<uint16_t>(bm.width), static_cast<uint16_t>(bm.height), bits,
                     static_cast<uint16_t>(wpl), owner};
  }
  TokBitmap bitmap(const std::vector<std::string>& rows, void* owner = nullptr, uint32_t wpl = 0) {
    return bitmap(rows_bitmap(rows), owner, wpl);
  }
  // Adds a bitmap; bits the classifier did not take are freed here.
  VltStatus add(const RefBitmap& bm, void* owner = nullptr) {
    TokBitmap b = bitmap(bm, owner);
    if (b.bits == nullptr) return VLT_ERR_NOMEM;  // a failure injected into the caller's own allocation
    const VltStatus st = tokAddBitmap(tok, &b);
    engine->free(b.bits);
    return st;
  }
  VltStatus add(const std::vector<std::string>& rows, void* owner = nullptr) { return add(rows_bitmap(rows), owner); }

  // A box made the way the classifier makes one.
  TokBox* box(const RefBitmap& bm, void* owner = nullptr) {
    TokBitmap b = bitmap(bm, owner);
    TokBox* out = nullptr;
    EXPECT_EQ(tokBitmapToBox(tok, &b, &out), VLT_OK);
    engine->free(b.bits);
    return out;
  }
  TokBox* box(const std::vector<std::string>& rows, void* owner = nullptr) { return box(rows_bitmap(rows), owner); }

  // Classifies packed glyphs (width, height, stride in words, bits) and hands out the class of
  // each, in output order. The member owner word is the glyph's index + 1.
  template <typename Glyph>
  std::vector<int> classify(const std::vector<Glyph>& glyphs, int* classes) {
    std::vector<int> classOf(glyphs.size(), -1);
    for (size_t i = 0; i < glyphs.size(); ++i) {
      const Glyph& g = glyphs[i];
      auto* bits = static_cast<uint8_t*>(engine->malloc(g.bits.size()));
      std::memcpy(bits, g.bits.data(), g.bits.size());
      TokBitmap b{static_cast<uint16_t>(g.width), static_cast<uint16_t>(g.height), bits,
                  static_cast<uint16_t>(g.wordsPerLine), reinterpret_cast<void*>(i + 1)};
      const VltStatus st = tokAddBitmap(tok, &b);
      engine->free(b.bits);
      EXPECT_EQ(st, VLT_OK) << "glyph " << i;
    }
    VltAdtList* out = nullptr;
    EXPECT_EQ(tokFinal(tok, &out), VLT_OK);
    if (out == nullptr) return classOf;
    int c = 0;
    for (VltAdtListNode* n = out->first; n != nullptr; n = n->next, ++c)
      for (VltAdtListNode* m = static_cast<TokOutput*>(n->data)->members->first; m != nullptr; m = m->next)
        classOf[reinterpret_cast<uintptr_t>(m->data) - 1] = c;
    *classes = c;
    EXPECT_EQ(tokFreeOutput(tok, out, 0), VLT_OK);
    return classOf;
  }
};

// The exemplar bitmap of an output record.
inline RefBitmap record_bitmap(const TokOutput* r) {
  RefBitmap bm(r->exemplar.width, r->exemplar.height);
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x)
      bm.set(x, y, mono::get_bit(r->exemplar.bits + size_t(y) * r->exemplar.wordsPerLine * 4, size_t(x)));
  return bm;
}

// The model bitmap without its margin columns.
inline RefBitmap model_bitmap(const TokModel* m, int margin) {
  RefBitmap bm(static_cast<int>(m->width) - margin, static_cast<int>(m->height));
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x)
      bm.set(x, y, mono::get_bit(m->bits + size_t(y) * m->wordsPerLine * 4, size_t(x + margin)));
  return bm;
}

}  // namespace toktest

#endif
