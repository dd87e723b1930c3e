// The token decoder: pages rendered through the decoder API against what the codec's general
// page reader composes from the same segments (the shared feature streams and pages of our own),
// clipping to the page and the caller's window, failures that leave the destination alone and
// free what they made, and the header walks of the library facilities.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "api_fixture.h"
#include "jb2_fixture.h"
#include "jb2_page_reader.h"
#include "jb2_test_stream.h"
#include "pages.h"
#include "ref_bitmap.h"
#include "tools.h"
#include "vlt_decoder.h"
#include "vlt_tokdecode.h"

namespace {

using jb2test::Bytes;
using monotest::RefBitmap;

// A destination laid out as the decode method lays it out: 32 pixels of frame on every side,
// the page origin 32 rows and one word in, the clip window reaching 32 pixels into the frame.
struct Framed {
  int width, height;
  int32_t words;
  std::vector<uint8_t> bytes;
  Framed(int w, int h) : width(w), height(h), words((w + 64 + 31) / 32), bytes(size_t(h + 64) * words * 4, 0) {}
  uint8_t* origin() { return bytes.data() + size_t(32) * words * 4 + 4; }
  RefBitmap page() const {
    RefBitmap bm(width, height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const size_t bit = size_t(32 + y) * words * 32 + 32 + x;
        bm.set(x, y, (bytes[bit / 8] >> (7 - bit % 8)) & 1);
      }
    return bm;
  }
  // Pixels outside the clip window (and the window's own frame part left of and above the page).
  bool outside_window_clear() const {
    for (int y = 0; y < height + 64; ++y)
      for (int x = 0; x < words * 32; ++x) {
        const bool inside = y >= 32 && y < height + 64 && x >= 32 && x < width + 64;
        const size_t bit = size_t(y) * words * 32 + x;
        if (!inside && ((bytes[bit / 8] >> (7 - bit % 8)) & 1)) return false;
      }
    return true;
  }
};

struct DecoderTest : Jb2Test {
  VltDecoder* decoder = nullptr;
  void SetUp() override {
    Jb2Test::SetUp();
    ASSERT_EQ(VltDec_init(&decoder, &mem, nullptr), VLT_OK);
  }
  void TearDown() override {
    EXPECT_EQ(VltDec_close(&decoder), VLT_OK);
    EXPECT_EQ(decoder, nullptr);
    Jb2Test::TearDown();
  }

  VltStatus render(const Bytes& page, VltAdtList* list, Framed* out) {
    return VltDec_renderBinaryImage(decoder, list, page.data(), static_cast<uint32_t>(page.size()), out->origin(),
                                    out->width + 32, out->height + 32, out->words);
  }

  // The general reader's page, cut or padded to the layer's size.
  VltStatus general(const Bytes& page, int width, int height, RefBitmap* out) {
    VltImage* image = nullptr;
    const VltStatus st = jb2test::read_page(state, page.data(), page.size(), jb2test::StreamForm::kEmbedded, &image);
    if (st != VLT_OK) return st;
    const RefBitmap full = jb2test::ref_bitmap(image);
    VltImage_free(image);
    *out = RefBitmap(width, height);
    for (int y = 0; y < std::min(height, full.height); ++y)
      for (int x = 0; x < std::min(width, full.width); ++x) out->set(x, y, full.get(x, y));
    return VLT_OK;
  }
};

using Region = jb2test::PageRegion;

Bytes page_stream(VltState* state, uint32_t width, uint32_t height, uint8_t defaultPixel,
                  const std::vector<Region>& regions) {
  return jb2test::embedded_page(state, {width, height, defaultPixel}, regions);
}

TEST_F(DecoderTest, PagesOfRegionsRenderAsTheGeneralReaderComposesThem) {
  const RefBitmap a = monotest::make_text_blobs(90, 40, 1), b = monotest::make_noise(70, 50, 0.4, 2);
  struct Case {
    const char* name;
    uint8_t defaultPixel;
    std::vector<Region> regions;
  };
  const std::vector<Case> cases = {
      {"one region, OR", 0, {{a, 5, 7, JB2_COMBOP_OR, false}}},
      {"MMR and MQ regions overlapping, OR", 0, {{a, 5, 7, JB2_COMBOP_OR, true}, {b, 40, 20, JB2_COMBOP_OR, false}}},
      {"XOR over OR", 0, {{a, 5, 7, JB2_COMBOP_OR, false}, {b, 40, 20, JB2_COMBOP_XOR, false}}},
      {"AND, XNOR, REPLACE", 0,
       {{a, 0, 0, JB2_COMBOP_OR, false},
        {b, 30, 5, JB2_COMBOP_AND, true},
        {b, 60, 30, JB2_COMBOP_XNOR, false},
        {a, 20, 60, JB2_COMBOP_REPLACE, false}}},
      {"black default pixel", 1, {{a, 5, 7, JB2_COMBOP_OR, false}, {b, 40, 20, JB2_COMBOP_AND, false}}},
      {"region up to the page's corner", 0, {{b, 130 - 70, 110 - 50, JB2_COMBOP_OR, false}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes page = page_stream(state, 130, 110, c.defaultPixel, c.regions);
    RefBitmap want;
    ASSERT_EQ(general(page, 130, 110, &want), VLT_OK) << printed.text;
    Framed out(130, 110);
    ASSERT_EQ(render(page, nullptr, &out), VLT_OK) << printed.text;
    EXPECT_EQ(monotest::first_difference(want, out.page()), "");
    EXPECT_TRUE(out.outside_window_clear());
  }
}

TEST_F(DecoderTest, ALayerSmallerThanItsPageKeepsTheWindowAndNothingBeyond) {
  // The page says 200 x 150; the layer is 100 x 60: what falls past the window is not drawn,
  // whichever way the page is drawn.
  const RefBitmap blob = monotest::make_noise(150, 120, 0.5, 3);
  for (const uint8_t op : {JB2_COMBOP_OR, JB2_COMBOP_XOR}) {
    SCOPED_TRACE(int(op));
    const Bytes page = page_stream(state, 200, 150, 0, {{blob, 20, 10, op, false}});
    RefBitmap want;
    ASSERT_EQ(general(page, 100, 60, &want), VLT_OK);
    Framed out(100, 60);
    ASSERT_EQ(render(page, nullptr, &out), VLT_OK) << printed.text;
    EXPECT_EQ(monotest::first_difference(want, out.page()), "");
    EXPECT_TRUE(out.outside_window_clear());
  }
}

TEST_F(DecoderTest, TheEndOfPageEndsTheReading) {
  const RefBitmap blob = monotest::make_noise(40, 30, 0.5, 4);
  Bytes page = page_stream(state, 64, 48, 0, {{blob, 0, 0, JB2_COMBOP_OR, false}});
  const Bytes more = page_stream(state, 64, 48, 0, {{blob, 10, 10, JB2_COMBOP_XOR, false}});
  // End of page (segment 99, type 49, page 1, no data), then bytes that would fail to decode.
  const Bytes eop = {0, 0, 0, 99, 49, 0, 1, 0, 0, 0, 0};
  RefBitmap want;
  ASSERT_EQ(general(page, 64, 48, &want), VLT_OK);
  page.insert(page.end(), eop.begin(), eop.end());
  page.insert(page.end(), more.begin(), more.begin() + 9);
  Framed out(64, 48);
  ASSERT_EQ(render(page, nullptr, &out), VLT_OK) << printed.text;
  EXPECT_EQ(monotest::first_difference(want, out.page()), "");
}

TEST_F(DecoderTest, FeatureStreamsRenderAsTheGeneralReaderDecodesThem) {
  int compared = 0;
  for (const auto& e : std::filesystem::directory_iterator(monotest::feature_dir())) {
    const std::string name = e.path().filename().string();
    if (e.path().extension() != ".jbig2") continue;
    SCOPED_TRACE(name);
    const std::string text = monotest::read_file(e.path().string());
    jb2test::SplitFile split;
    if (!jb2test::split_file(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &split)) continue;
    printed = {};
    VltImage* image = nullptr;
    const VltStatus general_status = jb2test::read_page(state, split.embedded.data(), split.embedded.size(),
                                                         jb2test::StreamForm::kEmbedded, &image);
    if (general_status != VLT_OK) {
      // What the general reader cannot decode is refused here too, never drawn blank.
      Framed out(64, 64);
      EXPECT_NE(render(split.embedded, nullptr, &out), VLT_OK);
      EXPECT_EQ(out.page().count(), 0u);
      continue;
    }
    const RefBitmap want = jb2test::ref_bitmap(image);
    VltImage_free(image);
    Framed out(want.width, want.height);
    ASSERT_EQ(render(split.embedded, nullptr, &out), VLT_OK) << printed.text;
    EXPECT_EQ(monotest::first_difference(want, out.page()), "");
    ++compared;
  }
  EXPECT_GT(compared, 10);
}

TEST_F(DecoderTest, AFailedPageLeavesTheDestinationAndFreesWhatItMade) {
  const RefBitmap blob = monotest::make_noise(60, 40, 0.5, 5);
  const Bytes page = page_stream(state, 80, 60, 0,
                                 {{blob, 0, 0, JB2_COMBOP_OR, false}, {blob, 10, 10, JB2_COMBOP_XOR, true}});
  // Every cut inside the last region's data, and a referred-to segment that is not there.
  for (size_t cut = page.size() - 40; cut < page.size(); cut += 7) {
    Framed out(80, 60);
    const Bytes shorter(page.begin(), page.begin() + long(cut));
    EXPECT_NE(render(shorter, nullptr, &out), VLT_OK) << cut;
    EXPECT_EQ(out.page().count(), 0u) << cut;
  }
  // Allocation failures anywhere in the rendering: refused, nothing drawn, nothing left.
  size_t k = 1;
  for (;; ++k) {
    Framed out(80, 60);
    const size_t live = alloc.live_blocks();
    alloc.fail_at(k);
    const VltStatus st = render(page, nullptr, &out);
    alloc.fail_at(0);
    EXPECT_EQ(alloc.live_blocks(), live) << k;
    if (st == VLT_OK) break;
    EXPECT_EQ(out.page().count(), 0u) << k;
  }
  EXPECT_GT(k, 3u);
}

// A page (from its page information) or a region bitmap beyond the decoder's pixel limit is
// refused before anything of its size is allocated: by default a page far beyond A0 at 600 dpi,
// as a few hundred fuzzed bytes once asked for, and under a limit the caller set, a page just
// over it, and a region with typical prediction far taller than its page (whose few hundred
// bytes of coded data would be read on from the 1-bits past their end for a million rows).
TEST_F(DecoderTest, PagesAndRegionsBeyondThePixelLimitAreRefusedBeforeAllocating) {
  auto be32 = [](uint32_t v) { return Bytes{uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; };
  auto cat = [](Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  Bytes coded(222);
  uint32_t r = 0x7D4F23B6u;
  for (uint8_t& b : coded) b = uint8_t((r = r * 1664525u + 1013904223u) >> 24);
  const auto page_of = [&](uint32_t width, uint32_t height, uint32_t regionHeight) {
    Bytes pageInfo = cat(cat(cat(be32(width), be32(height)), cat(be32(0), be32(0))), Bytes{0, 0, 0});
    Bytes region =
        cat(cat(cat(be32(399), be32(regionHeight)), cat(be32(0), be32(0))), Bytes{JB2_COMBOP_OR, 0x0A, 17, 0xFE});
    region = cat(region, coded);
    Bytes page = cat(cat(be32(0), Bytes{JB2_SEG_PAGE_INFO, 0, 1}), be32(uint32_t(pageInfo.size())));
    page = cat(cat(page, pageInfo), cat(cat(be32(1), Bytes{JB2_SEG_GENERIC_IMMEDIATE, 0, 1}), be32(uint32_t(region.size()))));
    return cat(page, region);
  };
  struct Case {
    const char* name;
    uint64_t limit;  // 0: the default
    Bytes page;
    const char* message;
  };
  const Case cases[] = {
      {"default limit, a huge page", 0, page_of(77056, 26214400, 20), "page too large"},
      {"set limit, a page just over it", 399 * 400 - 1, page_of(399, 400, 20), "page too large"},
      {"set limit, a region far taller than its page", uint64_t{1} << 22, page_of(399, 400, 1245584),
       "region too large"},
      {"set limit, a page at it", 399 * 400, page_of(399, 400, 20), nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(VltDec_setMaxPagePixels(decoder, c.limit), VLT_OK);
    const size_t peak = alloc.peak_bytes();
    Framed out(256, 192);
    // The decoder reports on the standard error stream.
    testing::internal::CaptureStderr();
    const VltStatus st = render(c.page, nullptr, &out);
    const std::string reported = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(out.outside_window_clear());
    if (c.message == nullptr) {
      EXPECT_EQ(st, VLT_OK) << reported;
      continue;
    }
    EXPECT_EQ(st, VLT_ERR_CODEC);
    EXPECT_NE(reported.find(c.message), std::string::npos) << reported;
    EXPECT_EQ(out.page().count(), 0u);
    EXPECT_LT(alloc.peak_bytes(), peak + 65536);
  }
}

TEST_F(DecoderTest, DecoderCreationThatFailsLeavesNothing) {
  for (size_t k = 1;; ++k) {
    VltDecoder* d = nullptr;
    const size_t live = alloc.live_blocks();
    alloc.fail_at(k);
    testing::internal::CaptureStderr();
    const VltStatus st = VltDec_init(&d, &mem, nullptr);
    testing::internal::GetCapturedStderr();
    alloc.fail_at(0);
    if (st == VLT_OK) {
      EXPECT_EQ(VltDec_close(&d), VLT_OK);
      EXPECT_EQ(alloc.live_blocks(), live);
      break;
    }
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(alloc.live_blocks(), live) << k;
  }
}

TEST_F(DecoderTest, ListsAndDictionariesBelongToTheirDecoder) {
  VltAdtList* list = nullptr;
  ASSERT_EQ(VltDec_buildDictList(decoder, &list, nullptr), VLT_OK);
  ASSERT_NE(list, nullptr);
  VltAdtList* same = list;
  ASSERT_EQ(VltDec_buildDictList(decoder, &same, nullptr), VLT_OK);
  EXPECT_EQ(same, list);
  // A dictionary of no decoder (or of another) is refused and stays where it is.
  SegmentInfo foreign{};
  SegmentInfo* place = &foreign;
  EXPECT_EQ(VltDec_destroyDict(decoder, &place), VLT_ERR_PARAM);
  EXPECT_EQ(place, &foreign);
  SegmentInfo* none = nullptr;
  EXPECT_EQ(VltDec_destroyDict(decoder, &none), VLT_OK);
  // A list destroyed by its caller is not freed again when the decoder closes.
  ASSERT_EQ(VltDec_destroyDictList(decoder, &list), VLT_OK);
  EXPECT_EQ(list, nullptr);
  // A stream with no symbol dictionary gives none.
  const Bytes page = page_stream(state, 16, 16, 0, {});
  SegmentInfo* dict = nullptr;
  EXPECT_NE(VltDec_decodeDict(decoder, page.data(), uint32_t(page.size()), &dict), VLT_OK);
  EXPECT_EQ(dict, nullptr);
}

Bytes be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

Bytes cat(const std::vector<Bytes>& parts) {
  size_t n = 0;
  for (const Bytes& p : parts) n += p.size();
  Bytes out;
  out.reserve(n);
  for (const Bytes& p : parts)
    for (const uint8_t b : p) out.push_back(b);
  return out;
}

// A segment header (number, type, page 1, no referred segments) followed by its data.
Bytes segment(uint32_t number, uint8_t type, const Bytes& data) {
  return cat({be32(number), {type, 0, 1}, be32(uint32_t(data.size())), data});
}

TEST_F(DecoderTest, HeaderWalksCountSymbolsAndInstances) {
  const Bytes pageInfo = segment(0, JB2_SEG_PAGE_INFO, Bytes(19, 0));
  struct Case {
    const char* name;
    uint8_t type;
    Bytes data;
    bool dict;
    int32_t want;
    VltStatus status;
  };
  const Bytes info17(17, 0);
  const std::vector<Case> cases = {
      // Symbol dictionaries: flags, adaptive pixels as the flags say, exported and new counts.
      {"MQ template 0", 0, cat({{0x00, 0x00}, Bytes(8, 0), be32(7), be32(7)}), true, 7, VLT_OK},
      {"MQ template 1", 0, cat({{0x04, 0x00}, Bytes(2, 0), be32(9), be32(9)}), true, 9, VLT_OK},
      {"Huffman, aggregation, refinement template 0", 0, cat({{0x00, 0x03}, Bytes(4, 0), be32(5)}), true, 5, VLT_OK},
      {"Huffman, aggregation, refinement template 1", 0, cat({{0x10, 0x03}, be32(6)}), true, 6, VLT_OK},
      {"cut short", 0, cat({{0x00, 0x00}, Bytes(8, 0), {0, 0}}), true, -1, VLT_ERR_IO_LENGTH},
      // Text regions: region information, flags, Huffman flags, refinement pixels, count.
      {"MQ text region", 6, cat({info17, {0x00, 0x00}, be32(12)}), false, 12, VLT_OK},
      {"Huffman text region", 6, cat({info17, {0x00, 0x01}, {0, 0}, be32(13)}), false, 13, VLT_OK},
      {"refined, template 0", 7, cat({info17, {0x00, 0x02}, Bytes(4, 0), be32(14)}), false, 14, VLT_OK},
      {"refined, template 1", 4, cat({info17, {0x80, 0x02}, be32(15)}), false, 15, VLT_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes stream = cat({pageInfo, segment(1, c.type, c.data)});
    int32_t count = 0;
    const VltStatus st = c.dict ? jb2_getTokenCount(stream.data(), uint32_t(stream.size()), state, &count)
                                : jb2_getTokPosCount(stream.data(), uint32_t(stream.size()), state, &count);
    EXPECT_EQ(st, c.status);
    EXPECT_EQ(count, c.want);
  }
  int32_t count = 0;
  EXPECT_EQ(jb2_getTokenCount(pageInfo.data(), uint32_t(pageInfo.size()), state, &count), VLT_ERR_OVERFLOW);
  EXPECT_EQ(count, -1);
  EXPECT_EQ(jb2_getTokPosCount(pageInfo.data(), uint32_t(pageInfo.size()), state, &count), VLT_ERR_OVERFLOW);
  EXPECT_EQ(count, -1);
}

// The counts read from headers alone agree with decoding: the exported symbols of a section's
// dictionary and the instances of each page's first text region, for sections the engine wrote.
TEST_F(DecoderTest, HeaderCountsAgreeWithAFullDecode) {
  const std::vector<RefBitmap> pages = {monotest::make_text_blobs(600, 400, 7), monotest::make_text_blobs(600, 400, 8)};
  for (bool lossless : {true, false}) {
    SCOPED_TRACE(lossless ? "lossless" : "lossy");
    apitest::EncodeSetup setup;
    setup.lossless = lossless;
    apitest::Encoded e;
    std::string what;
    ASSERT_EQ(apitest::encode(pages, setup, &e, &what), VLT_OK) << what;
    const Bytes& dictBytes = e.dictionaries[0];
    int32_t count = 0;
    ASSERT_EQ(jb2_getTokenCount(dictBytes.data(), uint32_t(dictBytes.size()), state, &count), VLT_OK);
    SegmentInfo* dict = nullptr;
    ASSERT_EQ(VltDec_decodeDict(decoder, dictBytes.data(), uint32_t(dictBytes.size()), &dict), VLT_OK);
    EXPECT_GT(count, 0);
    EXPECT_EQ(count, dict->body.symbolDict.count);
    VltAdtList* list = nullptr;
    ASSERT_EQ(VltDec_buildDictList(decoder, &list, dict), VLT_OK);
    for (size_t p = 0; p < pages.size(); ++p) {
      SCOPED_TRACE("page " + std::to_string(p + 1));
      const Bytes& page = e.pages[p];
      ASSERT_EQ(jb2_getTokPosCount(page.data(), uint32_t(page.size()), state, &count), VLT_OK);
      // The page cut after its first text region decodes to that region's placements alone.
      const std::vector<jb2test::ParsedSegment> segments = jb2test::parse_segments(page, false);
      const auto text = std::find_if(segments.begin(), segments.end(),
                                     [](const jb2test::ParsedSegment& g) { return g.type == 6 || g.type == 7; });
      ASSERT_NE(text, segments.end());
      const size_t cut = text + 1 == segments.end() ? page.size() : (text + 1)->headerOffset;
      VltAdtListNode* const last = list->last;
      Jb2TokPosition* positions = nullptr;
      int32_t placed = 0;
      ASSERT_EQ(jb2_decodeTokPositions(&positions, &placed, page.data(), uint32_t(cut), list, pages[p].width,
                                       pages[p].height, state),
                VLT_OK);
      EXPECT_GT(count, 0);
      EXPECT_EQ(count, placed);
      state->free(positions);
      jb2_releaseTokSegments(list, last, state);
    }
  }
}

TEST_F(DecoderTest, TheFirstExtensionBeforeTheEndOfPageIsHandedOut) {
  const Bytes pageInfo = segment(0, JB2_SEG_PAGE_INFO, Bytes(19, 0));
  const Bytes binary = segment(1, JB2_SEG_EXTENSION, cat({be32(0x00524156), {1, 2, 3}}));
  const Bytes eop = segment(2, JB2_SEG_END_OF_PAGE, {});
  struct Case {
    const char* name;
    Bytes stream;
    Bytes payload;
  };
  for (const Case& c : {Case{"after page information", cat({pageInfo, binary}), {1, 2, 3}},
                        Case{"none", pageInfo, {}}, Case{"after the end of page", cat({pageInfo, eop, binary}), {}}}) {
    SCOPED_TRACE(c.name);
    uint8_t* payload = nullptr;
    uint32_t length = 0, type = 0;
    ASSERT_EQ(jb2_decodeBinExtension(&payload, &length, &type, c.stream.data(), uint32_t(c.stream.size()), state),
              VLT_OK);
    EXPECT_EQ(Bytes(payload, payload + length), c.payload);
    EXPECT_EQ(type, c.payload.empty() ? 0u : 0x00524156u);
    state->free(payload);
  }
}

}  // namespace
