// The engine's JBIG2 bridge without an outside decoder: stripe bounds, the segment sequence of a
// section (numbering, page associations, no end segments), page information, run painting, the
// stream's collections, and every allocation failure.

#include <gtest/gtest.h>

#include "bridge_fixture.h"
#include "byteorder.h"
#include <set>

#include "jb2_symbol_sample.h"

namespace {

using bridgetest::Blocks;
using bridgetest::LargePiece;
using bridgetest::Placement;
using bridgetest::Section;
using bridgetest::TestPage;
using monotest::RefBitmap;

RefBitmap box(int w, int h) {
  RefBitmap b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.set(x, y, 1);
  return b;
}

// Three section shapes, two residual ones; three pages, split and unsplit, with large pieces.
Section sample_section() {
  Section s;
  s.shapes = jb2test::random_shapes(5, 12, 7);
  s.shapes.push_back(box(3, 40));
  s.sectionShapes = 3;
  for (int p = 0; p < 3; ++p) {
    TestPage page;
    page.width = 200 + 17 * p;
    page.height = 150 + 60 * p;
    page.splitRow = p == 1 ? 1 : page.height / 2;
    page.residualShapes = {3 + p % 2, 5};
    for (int i = 0; i < 40; ++i)
      page.placed.push_back(Placement{i % 3, (i * 37) % (page.width - 12), 12 + (i * 53) % (page.height - 13)});
    page.placed.push_back(Placement{3 + p % 2, 5, page.height - 1});
    page.placed.push_back(Placement{5, 100, std::max(page.splitRow + 10, 45)});
    page.large.push_back(LargePiece{box(30, 20), 150, page.splitRow + 5, p % 2 == 0});
    page.large.push_back(LargePiece{jb2test::random_shapes(1, 40, 9)[0], 3, page.height - 2, p % 2 == 1});
    s.pages.push_back(page);
  }
  return s;
}

TEST_F(BridgeTest, SectionIsOneSegmentSequenceWithoutEndSegments) {
  for (uint32_t profile : {1u, 2u, 3u}) {
    SCOPED_TRACE(profile);
    Blocks blocks;
    ASSERT_EQ(bridgetest::write_section(state, sample_section(), profile, &blocks), VLT_OK);
    auto dict = jb2test::parse_segments(blocks.dictionary, false);
    ASSERT_FALSE(dict.empty());
    uint32_t next = 0;
    for (const auto& seg : dict) {
      EXPECT_EQ(seg.number, next++);
      EXPECT_EQ(seg.page, 0u);
    }
    const uint32_t dictNumber = dict.back().number;
    EXPECT_EQ(dict.back().type, JB2_SEG_SYMBOL_DICT);
    ASSERT_EQ(blocks.pages.size(), 3u);
    for (const auto& page : blocks.pages) {
      const auto segs = jb2test::parse_segments(page, false);
      ASSERT_FALSE(segs.empty());
      EXPECT_EQ(segs.front().type, JB2_SEG_PAGE_INFO);
      int stripes = 0, texts = 0, pageDicts = 0;
      for (const auto& seg : segs) {
        EXPECT_EQ(seg.number, next++);
        EXPECT_EQ(seg.page, 1u);
        EXPECT_NE(seg.type, JB2_SEG_END_OF_PAGE);
        EXPECT_NE(seg.type, JB2_SEG_END_OF_FILE);
        stripes += seg.type == JB2_SEG_END_OF_STRIPE;
        pageDicts += seg.type == JB2_SEG_SYMBOL_DICT;
        if (seg.type == JB2_SEG_TEXT_IMMEDIATE) {
          ++texts;
          ASSERT_FALSE(seg.referred.empty());
          EXPECT_EQ(seg.referred.front(), dictNumber);
        }
      }
      EXPECT_EQ(stripes, 1);
      EXPECT_EQ(pageDicts, 1);
      EXPECT_EQ(texts, 2);
    }
  }
}

TEST_F(BridgeTest, PageInformationCarriesResolutionAndStriping) {
  Jb2OutputCallbacks cb{};
  vlt_fillOutputCallbacks(&cb);
  Jb2StreamState* s = nullptr;
  uintptr_t ctx = 0;
  ASSERT_EQ(cb.createState(nullptr, state, 2, 1, 0, &s, &ctx), VLT_OK);
  const uint8_t striped = 0, unstriped = 1;
  ASSERT_EQ(writeJb2PageInfo(2550, 3300, 300, 300, s, &striped), VLT_OK);
  ASSERT_EQ(writeJb2PageInfo(100, 50, 200, 300, s, &unstriped), VLT_OK);
  EXPECT_EQ(s->pageNumber, 2u);
  ASSERT_EQ(cb.finishPage(s, ctx), VLT_OK);
  uint8_t* bytes = nullptr;
  uint32_t length = 0;
  ASSERT_EQ(getJb2CompressedData(s, &bytes, &length), VLT_OK);
  jb2test::Bytes b(bytes, bytes + length);
  state->free(bytes);
  ASSERT_EQ(cb.closeState(s, ctx), VLT_OK);
  const auto segs = jb2test::parse_segments(b, false);
  ASSERT_EQ(segs.size(), 3u);
  EXPECT_EQ(segs[0].page, 1u);
  EXPECT_EQ(mono::load_be32(segs[0].data.data() + 8), 11811u);
  EXPECT_EQ(mono::load_be32(segs[0].data.data() + 12), 11811u);
  EXPECT_EQ(mono::load_be16(segs[0].data.data() + 17), 0x8000u | 3299u);
  EXPECT_EQ(segs[1].page, 2u);
  EXPECT_EQ(mono::load_be32(segs[1].data.data() + 8), 7874u);
  EXPECT_EQ(mono::load_be16(segs[1].data.data() + 17), 0u);
  // Without single-page mode the page ends with an end of page on its own number.
  EXPECT_EQ(segs[2].type, JB2_SEG_END_OF_PAGE);
  EXPECT_EQ(segs[2].page, 2u);
}

TEST_F(BridgeTest, EmptyCollectionKeepsNumbering) {
  Jb2StreamState* s = nullptr;
  uintptr_t ctx = 5;
  ASSERT_EQ(createJb2StateAPICB(nullptr, state, 3, 1, 1, &s, &ctx), VLT_OK);
  EXPECT_EQ(ctx, 0u);
  uint8_t* bytes = &s->singlePage;
  uint32_t length = 9;
  ASSERT_EQ(getJb2CompressedData(s, &bytes, &length), VLT_OK);
  EXPECT_EQ(bytes, nullptr);
  EXPECT_EQ(length, 0u);
  ASSERT_EQ(writeJb2EOStripe(4, 1, s), VLT_OK);
  ASSERT_EQ(getJb2CompressedData(s, &bytes, &length), VLT_OK);
  ASSERT_EQ(writeJb2EOStripe(9, 1, s), VLT_OK);
  uint8_t* second = nullptr;
  ASSERT_EQ(getJb2CompressedData(s, &second, &length), VLT_OK);
  EXPECT_EQ(jb2test::parse_segments(jb2test::Bytes(second, second + length), false).front().number, 1u);
  state->free(bytes);
  state->free(second);
  ASSERT_EQ(closeJb2StateAPICB(s, ctx), VLT_OK);
}

// The end of the first stripe: every instance and component lies wholly in one stripe, and the
// first stripe ends no earlier than the split row (or the page's last row).
TEST_F(BridgeTest, StripesHoldTheirInstancesWhole) {
  RefBitmap one(5, 1), two(4, 2), tall(6, 20), mid(6, 8);
  struct Case {
    const char* name;
    int height, split;
    std::vector<std::pair<const RefBitmap*, int>> records;  // shape, bottom row
    std::vector<std::pair<int, int>> components;             // height, bottom row
    int endRow, firstCount;
  };
  const std::vector<Case> cases = {
      {"one-row instance at the split row", 600, 300, {{&one, 300}, {&one, 301}}, {}, 300, 1},
      {"ink on rows 0-1 of an unsplit page", 100, 1, {{&two, 1}, {&one, 50}}, {}, 1, 1},
      {"class taller than its member crossing the split", 600, 300, {{&one, 290}, {&tall, 305}}, {}, 305, 2},
      {"a crossing instance pulls in one that starts inside it", 600, 300,
       {{&tall, 305}, {&mid, 310}, {&mid, 330}}, {}, 310, 2},
      {"a component crossing the split", 600, 300, {{&one, 320}}, {{40, 330}}, 330, 1},
      {"nothing on a one-row page", 1, 1, {}, {}, 0, 0},
      {"everything below the split", 400, 100, {{&mid, 300}, {&mid, 399}}, {}, 100, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<VltTokenRecord> tokens(c.records.size());
    std::vector<VltPosRecord> pos;
    for (size_t i = 0; i < c.records.size(); ++i) {
      tokens[i].width = uint16_t(c.records[i].first->width);
      tokens[i].height = uint16_t(c.records[i].first->height);
      pos.push_back(VltPosRecord{&tokens[i], 0, 0, int16_t(c.records[i].second)});
    }
    VltAdtList* list = nullptr;
    ASSERT_EQ(VltAdt_liNew(&list, state), VLT_OK);
    std::vector<TokComponent> comps(c.components.size());
    for (size_t i = 0; i < comps.size(); ++i) {
      comps[i].bitmap.width = 10;
      comps[i].bitmap.height = uint16_t(c.components[i].first);
      comps[i].y = c.components[i].second;
      ASSERT_EQ(VltAdt_liAdd(list, &comps[i], nullptr), VLT_OK);
    }
    vlt_sortPositions(pos.data(), int32_t(pos.size()));
    VltStripeSplit split{};
    ASSERT_EQ(vlt_splitStripes(pos.data(), int32_t(pos.size()), list, c.height, c.split, &split, state), VLT_OK);
    VltAdt_liFree(list);
    EXPECT_EQ(split.endRow, c.endRow);
    EXPECT_EQ(split.firstCount, c.firstCount);
  }
}

TEST_F(BridgeTest, SortKeepsEqualRowsInOrder) {
  VltTokenRecord t{};
  std::vector<VltPosRecord> pos;
  for (int i = 0; i < 50; ++i) pos.push_back(VltPosRecord{&t, 0, int16_t(i), int16_t((i * 7) % 5)});
  vlt_sortPositions(pos.data(), int32_t(pos.size()));
  for (size_t i = 1; i < pos.size(); ++i) {
    ASSERT_LE(pos[i - 1].bottom, pos[i].bottom);
    if (pos[i - 1].bottom == pos[i].bottom) {
      EXPECT_LT(pos[i - 1].x, pos[i].x);
    }
  }
}

TEST_F(BridgeTest, FillRunsStartsARowWhenARunDoesNotMoveRight) {
  std::vector<uint8_t> bits(3 * 3 * 4, 0);
  const uint16_t runs[] = {0, 3, 1, 2, 30, 40, 70, 70};
  fillruns(bits.data(), 3, runs, 4, 2, 1);
  EXPECT_EQ(mono::load_be32(bits.data() + 12), 0x3C000000u);
  // Row 2: columns 3-4, 32-42 (across a word boundary) and 72.
  EXPECT_EQ(mono::load_be32(bits.data() + 24), 0x18000000u);
  EXPECT_EQ(mono::load_be32(bits.data() + 28), 0xFFE00000u);
  EXPECT_EQ(mono::load_be32(bits.data() + 32), 0x00800000u);
}

// Every allocation of a whole section may fail: the failure comes back and nothing is left.
TEST_F(BridgeTest, AllocationFailuresFreeEverything) {
  const Section section = sample_section();
  for (uint32_t profile : {2u, 3u}) {
    size_t k = 1;
    for (; k < 20000; ++k) {
      alloc.fail_at(k);
      Blocks blocks;
      const VltStatus st = bridgetest::write_section(state, section, profile, &blocks);
      alloc.fail_at(0);
      ASSERT_EQ(alloc.live_blocks(), baseline) << "failure " << k;
      if (st == VLT_OK) break;
    }
    EXPECT_LT(k, 20000u) << "the section never succeeded";
    EXPECT_GT(k, 20u);
  }
}

// A file holds the file header, every segment header up to the end of file, then the data
// parts; its pages are numbered from 1, each ends with an end of page, and an annotation is an
// extension segment on the page written last.
TEST_F(BridgeTest, FileModeWritesTheRandomAccessOrganisation) {
  const jb2test::Bytes note = {'n', 'o', 't', 'e'};
  for (uint32_t profile : {1u, 2u, 3u}) {
    SCOPED_TRACE(profile);
    jb2test::Bytes file;
    ASSERT_EQ(bridgetest::write_file(state, sample_section(), profile, note, &file), VLT_OK);
    ASSERT_GT(file.size(), 13u);
    EXPECT_EQ(jb2test::Bytes(file.begin(), file.begin() + 9),
              (jb2test::Bytes{0x97, 0x4A, 0x42, 0x32, 0x0D, 0x0A, 0x1A, 0x0A, 0x00}));
    EXPECT_EQ(mono::load_be32(file.data() + 9), 3u);
    const auto segs = jb2test::parse_segments(file, true);
    uint32_t next = 0;
    std::vector<uint32_t> pageInfos, pageEnds;
    int notes = 0;
    for (const auto& seg : segs) {
      EXPECT_EQ(seg.number, next++);
      if (seg.type == JB2_SEG_PAGE_INFO) pageInfos.push_back(seg.page);
      if (seg.type == JB2_SEG_END_OF_PAGE) pageEnds.push_back(seg.page);
      if (seg.type == JB2_SEG_EXTENSION) {
        ++notes;
        EXPECT_EQ(seg.page, 1u);
        EXPECT_EQ(seg.data, (jb2test::Bytes{0x20, 0, 0, 0, 'n', 'o', 't', 'e'}));
      }
    }
    EXPECT_EQ(segs.front().type, JB2_SEG_SYMBOL_DICT);
    EXPECT_EQ(segs.front().page, 0u);
    EXPECT_EQ(segs.back().type, JB2_SEG_END_OF_FILE);
    EXPECT_EQ(segs.back().page, 0u);
    EXPECT_EQ(pageInfos, (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(pageEnds, (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(notes, 1);
  }
}

struct FailingTarget {
  jb2test::Bytes bytes;
  int writes = 0;
  int failAt = 0;  // the write that fails, 1 first; 0 none
  static size_t write(const void* data, size_t size, size_t count, void* stream) {
    auto* t = static_cast<FailingTarget*>(stream);
    if (++t->writes == t->failAt) return 0;
    const auto* b = static_cast<const uint8_t*>(data);
    t->bytes.insert(t->bytes.end(), b, b + size * count);
    return count;
  }
};

TEST_F(BridgeTest, FileModeFailuresAreReportedAndFreeEverything) {
  Jb2StreamState* s = nullptr;
  EXPECT_EQ(createJb2StateCB(nullptr, state, 2, 1, 0, &s, nullptr), VLT_ERR_NULL);
  FailingTarget t;
  Jb2FileTarget target{&t, FailingTarget::write};
  EXPECT_EQ(createJb2StateCB(&target, state, 2, 1, 0, nullptr, nullptr), VLT_ERR_NULL);
  // The file header, then the header chunk and the data chunk at close.
  for (int failAt : {1, 2, 3}) {
    SCOPED_TRACE(failAt);
    t = FailingTarget{{}, 0, failAt};
    s = nullptr;
    const VltStatus created = createJb2StateCB(&target, state, 2, 1, 0, &s, nullptr);
    if (failAt == 1) {
      EXPECT_EQ(created, VLT_ERR_IO_WRITE);
      EXPECT_EQ(s, nullptr);
      continue;
    }
    ASSERT_EQ(created, VLT_OK);
    const uint8_t striped = 0;
    ASSERT_EQ(writeJb2PageInfo(64, 64, 300, 300, s, &striped), VLT_OK);
    ASSERT_EQ(finishJb2PageCB(s, 0), VLT_OK);
    printed.text.clear();
    EXPECT_EQ(closeJb2StateCB(s), VLT_ERR_IO_WRITE);
    EXPECT_NE(printed.text.find("writing header buf failed"), std::string::npos) << printed.text;
  }
  // An annotation without data pointer is refused, not read.
  t = FailingTarget{};
  ASSERT_EQ(createJb2StateCB(&target, state, 2, 1, 1, &s, nullptr), VLT_OK);
  const Jb2ExtensionRecord broken{0x20000000u, nullptr, 4};
  EXPECT_EQ(writeJb2AnnotationsCB(1, &broken, s), VLT_ERR_NULL);
  EXPECT_EQ(closeJb2StateCB(s), VLT_OK);

  const Section section = sample_section();
  size_t k = 1;
  for (; k < 20000; ++k) {
    alloc.fail_at(k);
    jb2test::Bytes file;
    const VltStatus st = bridgetest::write_file(state, section, 2, {'x'}, &file);
    alloc.fail_at(0);
    ASSERT_EQ(alloc.live_blocks(), baseline) << "failure " << k;
    if (st == VLT_OK) break;
  }
  EXPECT_LT(k, 20000u) << "the file was never written";
}

}  // namespace

namespace {

struct HookSeen {
  std::vector<void*> records;
  void* first = nullptr;
};

VltStatus order_hook(void** records, int32_t n, void*, void* first, void**, VltState*) {
  auto* seen = static_cast<HookSeen*>(first);
  seen->records.assign(records, records + n);
  return VLT_OK;
}

// The text-region callback tells a hook the coded order of its records, refers to the page
// dictionary on both stripes and lets it go after the last, and gives every link word back.
TEST_F(BridgeTest, PositionBlockHookAndPageDictionaryLifetime) {
  const std::vector<RefBitmap> shapes = jb2test::random_shapes(4, 10, 3);
  std::vector<VltTokenRecord> records(shapes.size());
  for (size_t i = 0; i < shapes.size(); ++i) {
    VltTokenRecord& r = records[i];
    r.width = uint16_t(shapes[i].width);
    r.height = uint16_t(shapes[i].height);
    r.lineWords = 1;
    r.bitmap = static_cast<uint8_t*>(state->calloc(size_t(r.height) * 4, 1));
    for (int y = 0; y < shapes[i].height; ++y) r.bitmap[y * 4] = shapes[i].row(y)[0];
    r.link = &records[i];  // a value the call must give back
  }
  Jb2StreamState* s = nullptr;
  uintptr_t ctx = 0;
  ASSERT_EQ(createJb2StateAPICB(nullptr, state, 2, 1, 1, &s, &ctx), VLT_OK);
  void* nb = nullptr;
  ASSERT_EQ(writeJb2DictionaryCB(records.data(), 2, nullptr, &nb, 0, 0, s, ctx), VLT_OK);
  // Already written records are left out of a later dictionary.
  ASSERT_EQ(writeJb2PageDictionaryCB(records.data(), 4, 0, 0, 0, 0, 0, nullptr, &nb, 0, 0, s, ctx), VLT_OK);
  EXPECT_EQ(s->sectionSymbolCount, 2u);
  EXPECT_EQ(s->pageDictSymbolCount, 2u);
  std::vector<VltPosRecord> pos;
  for (int i = 0; i < 12; ++i) pos.push_back(VltPosRecord{&records[size_t(i % 4)], 0, int16_t(3 * i), int16_t(20 + i)});
  HookSeen seen;
  Jb2InstanceOrderHook hook{order_hook, &seen, nullptr, nullptr};
  const int32_t y = 0;
  ASSERT_EQ(writeJb2PosBlockCB(pos.data(), 12, 60, 40, 300, 300, &hook, 1, nullptr, 0, s, &y), VLT_OK);
  ASSERT_EQ(seen.records.size(), 12u);
  std::set<void*> distinct(seen.records.begin(), seen.records.end());
  EXPECT_EQ(distinct.size(), 12u);
  for (void* r : seen.records) EXPECT_TRUE(r >= static_cast<void*>(pos.data()) && r < static_cast<void*>(pos.data() + 12));
  for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(records[i].link, &records[i]);
  EXPECT_NE(s->pageDictSegments, nullptr);
  // An empty last stripe writes nothing but ends the page dictionaries' use.
  ASSERT_EQ(writeJb2PosBlockCB(nullptr, 0, 60, 40, 300, 300, nullptr, 1, nullptr, 1, s, &y), VLT_OK);
  EXPECT_EQ(s->pageDictSegments, nullptr);
  uint8_t* bytes = nullptr;
  uint32_t length = 0;
  ASSERT_EQ(getJb2CompressedData(s, &bytes, &length), VLT_OK);
  const auto segs = jb2test::parse_segments(jb2test::Bytes(bytes, bytes + length), false);
  state->free(bytes);
  ASSERT_EQ(segs.size(), 3u);
  EXPECT_EQ(segs[2].type, JB2_SEG_TEXT_IMMEDIATE);
  EXPECT_EQ(segs[2].referred, (std::vector<uint32_t>{segs[0].number, segs[1].number}));
  ASSERT_EQ(closeJb2StateAPICB(s, ctx), VLT_OK);
  for (VltTokenRecord& r : records) state->free(r.bitmap);
}

}  // namespace

namespace {

// Section dictionaries accumulate in the stream until slot 8 lets them go (with or without a
// block); a call with every record already written writes nothing.
TEST_F(BridgeTest, SectionDictionariesAccumulateUntilReleased) {
  std::vector<VltTokenRecord> records(5);
  for (VltTokenRecord& r : records) {
    r.width = 3;
    r.height = 2;
    r.lineWords = 1;
    r.bitmap = static_cast<uint8_t*>(state->calloc(8, 1));
    r.bitmap[0] = 0xE0;
    r.bitmap[4] = 0x40;
  }
  Jb2StreamState* s = nullptr;
  uintptr_t ctx = 0;
  ASSERT_EQ(createJb2StateAPICB(nullptr, state, 1, 1, 1, &s, &ctx), VLT_OK);
  void* nb = &ctx;
  ASSERT_EQ(writeJb2DictionaryCB(records.data(), 3, nullptr, &nb, 0, 0, s, ctx), VLT_OK);
  EXPECT_EQ(nb, nullptr);
  ASSERT_EQ(writeJb2DictionaryCB(records.data(), 5, nullptr, &nb, 0, 0, s, ctx), VLT_OK);
  EXPECT_EQ(s->sectionSymbolCount, 5u);
  ASSERT_EQ(s->dictSegments->count, 2u);
  EXPECT_EQ(*static_cast<uint32_t*>(s->dictSymbolCounts->last->data), 2u);
  ASSERT_EQ(writeJb2DictionaryCB(records.data(), 5, nullptr, &nb, 0, 0, s, ctx), VLT_OK);
  EXPECT_EQ(s->dictSegments->count, 2u);
  for (const VltTokenRecord& r : records) EXPECT_EQ(r.inDictionary, 1);
  // The token bitmaps outlive the dictionaries.
  ASSERT_EQ(freeJb2DictblockCB(nullptr, s, ctx), VLT_OK);
  EXPECT_EQ(s->dictSegments, nullptr);
  EXPECT_EQ(s->sectionSymbolCount, 5u);
  EXPECT_EQ(records[4].bitmap[0], 0xE0);
  uint8_t* bytes = nullptr;
  uint32_t length = 0;
  ASSERT_EQ(getJb2CompressedData(s, &bytes, &length), VLT_OK);
  const auto segs = jb2test::parse_segments(jb2test::Bytes(bytes, bytes + length), false);
  state->free(bytes);
  ASSERT_EQ(segs.size(), 2u);
  EXPECT_EQ(segs[1].number, segs[0].number + 1);
  ASSERT_EQ(closeJb2StateAPICB(s, ctx), VLT_OK);
  for (VltTokenRecord& r : records) state->free(r.bitmap);
}

}  // namespace
