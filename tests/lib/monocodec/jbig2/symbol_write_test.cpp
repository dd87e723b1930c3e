// Symbol dictionary and text region writers and the text region coding choice, read back by the
// probe: coding order, height classes, tables, export runs, placements, strips, the borrowed
// owner links, and the choice's counted bits against the bits the region really took.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "jb2_encode.h"
#include "jb2_fixture.h"
#include "jb2_symbol_probe.h"
#include "jb2_symbol_sample.h"
#include "jb2_test_stream.h"

namespace {

using jb2test::Bytes;
using jb2test::MemoryStream;
using jb2test::ParsedSegment;
using jb2test::Placed;
using jb2test::SymbolSet;
using jb2test::symbol_bitmap;
using monotest::RefBitmap;

RefBitmap noise(int w, int h, uint32_t seed) {
  RefBitmap bm = monotest::make_noise(w, h, 0.5, seed);
  bm.set(0, 0, 1);
  return bm;
}

const ParsedSegment& only(const std::vector<ParsedSegment>& segs, uint8_t type) {
  const ParsedSegment* found = nullptr;
  for (const ParsedSegment& s : segs)
    if (s.type == type) {
      if (found != nullptr) throw std::runtime_error("more than one segment of the type");
      found = &s;
    }
  if (found == nullptr) throw std::runtime_error("no segment of the type");
  return *found;
}

int count_type(const std::vector<ParsedSegment>& segs, uint8_t type) {
  return static_cast<int>(std::count_if(segs.begin(), segs.end(), [&](const ParsedSegment& s) { return s.type == type; }));
}

VltStatus record_order(Jb2Symbol* const* order, int32_t n, void* context) {
  auto* out = static_cast<std::vector<int>*>(context);
  for (int32_t i = 0; i < n; ++i) out->push_back(*static_cast<const int*>(order[i]->owner));
  return VLT_OK;
}

struct SymbolWriteTest : Jb2Test {
  // The dictionary written alone; the stream's segments.
  std::vector<ParsedSegment> dictionary(SymbolSet& set, const Jb2FileParams& params, int reorder = 1,
                                        std::vector<int>* order = nullptr) {
    MemoryStream s(state);
    jb2SetFileParams(s.file(), &params);
    jb2test::check(jb2EncodeSymDict(s.file(), &set.dict, nullptr, order ? record_order : nullptr, order, reorder),
                   "jb2EncodeSymDict");
    return jb2test::parse_segments(s.finish(), false);
  }

  jb2test::ProbeDict probe_dict(const std::vector<ParsedSegment>& segs) {
    const ParsedSegment& d = only(segs, JB2_SEG_SYMBOL_DICT);
    return jb2test::probe_symbol_dict(d.data, jb2test::referred_tables(d, segs), state);
  }

  // A dictionary of the shapes and one text region placing them; the stream's segments. The
  // region's record is handed to inspect before it is freed.
  struct Region {
    std::vector<ParsedSegment> segs;
    std::vector<std::pair<int, int>> sizes;  // by symbol ID
    std::vector<int> shapeOfId;
    VltStatus status = VLT_OK;
  };
  Region region(SymbolSet& set, const std::vector<Placed>& placed, const Jb2FileParams& params, int keepOrder = 0,
                uint32_t width = 600, uint32_t height = 400, Jb2InstanceOrderFn hook = nullptr,
                void* hookContext = nullptr) {
    Region r;
    MemoryStream s(state);
    jb2SetFileParams(s.file(), &params);
    jb2test::check(jb2EncodeSymDict(s.file(), &set.dict, nullptr, nullptr, nullptr, 1), "jb2EncodeSymDict");
    for (const Jb2Symbol& sym : set.symbols) {
      r.sizes.push_back({sym.width, sym.height});
      r.shapeOfId.push_back(set.shape_of(sym));
    }
    std::vector<Jb2Instance> instances;
    for (const Placed& p : placed) instances.push_back({p.x, p.y, set.entry_of(p.shape), nullptr, nullptr});
    SegmentInfo seg = text_record(instances, width, height);
    SegmentInfo* dict = &set.dict;
    jb2test::check(jb2AddReferencedSegments(s.file(), &seg, &dict, 1), "jb2AddReferencedSegments");
    r.status = jb2EncodeSymRegion(s.file(), &seg, &dict, hook, hookContext, keepOrder);
    state->free(seg.referred);
    state->free(seg.referredRetain);
    r.segs = jb2test::parse_segments(s.finish(), false);
    return r;
  }

  static SegmentInfo text_record(std::vector<Jb2Instance>& instances, uint32_t width, uint32_t height) {
    SegmentInfo seg{};
    seg.type = JB2_SEG_TEXT_IMMEDIATE;
    seg.page = 1;
    seg.region = Jb2RegionInfo{width, height, 0, 0, JB2_COMBOP_OR};
    seg.body.textRegion.count = static_cast<int32_t>(instances.size());
    seg.body.textRegion.instances = instances.data();
    return seg;
  }

  jb2test::ProbeText probe_region(const Region& r) {
    const ParsedSegment& t = only(r.segs, JB2_SEG_TEXT_IMMEDIATE);
    return jb2test::probe_text_region(t.data, r.sizes, jb2test::referred_tables(t, r.segs));
  }

  // The placements the region holds, as (shape, x, y), sorted.
  static std::vector<std::tuple<int, int, int>> placements(const Region& r, const jb2test::ProbeText& t) {
    std::vector<std::tuple<int, int, int>> out;
    for (const auto& i : t.instances) out.emplace_back(r.shapeOfId.at(i.id), i.x, i.y);
    std::sort(out.begin(), out.end());
    return out;
  }
  static std::vector<std::tuple<int, int, int>> placements(const std::vector<Placed>& placed) {
    std::vector<std::tuple<int, int, int>> out;
    for (const Placed& p : placed) out.emplace_back(p.shape, p.x, p.y);
    std::sort(out.begin(), out.end());
    return out;
  }
};

// ---- Symbol dictionary ----------------------------------------------------------------------

TEST_F(SymbolWriteTest, SymbolsAreCodedInHeightClasses) {
  const std::vector<RefBitmap> shapes = {noise(5, 7, 1), noise(3, 7, 2), noise(4, 2, 3)};
  for (int reorder : {1, 0}) {
    SymbolSet set(state, shapes);
    std::vector<int> order;
    const auto segs = dictionary(set, jb2test::profile_params(1), reorder, &order);
    EXPECT_EQ(order, (std::vector<int>{2, 1, 0}));
    const jb2test::ProbeDict d = probe_dict(segs);
    EXPECT_EQ(d.flags, 0x0001);
    EXPECT_EQ(d.heightDeltas, (std::vector<int64_t>{2, 5}));
    EXPECT_EQ(d.widthDeltas, (std::vector<int64_t>{4, 3, 2}));
    ASSERT_EQ(d.symbols.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(d.symbols[i], shapes[static_cast<size_t>(order[i])]);
    EXPECT_EQ(d.exportRuns, (std::vector<int64_t>{0, 3}));
    const ParsedSegment& seg = only(segs, JB2_SEG_SYMBOL_DICT);
    EXPECT_TRUE(seg.retain);
    EXPECT_EQ(seg.page, 1u);
    std::vector<int> now;
    for (const Jb2Symbol& s : set.symbols) now.push_back(set.shape_of(s));
    EXPECT_EQ(now, reorder ? order : std::vector<int>({0, 1, 2}));
  }
}

TEST_F(SymbolWriteTest, EqualSizesKeepTheirOrderAndPaddingIsNeverCoded) {
  const std::vector<RefBitmap> shapes = {noise(33, 4, 1), noise(4, 4, 2), noise(33, 4, 3), noise(4, 4, 4)};
  for (int extraWords : {0, 2}) {
    SymbolSet set(state, shapes, true, extraWords);
    std::vector<int> order;
    const jb2test::ProbeDict d = probe_dict(dictionary(set, jb2test::profile_params(2), 1, &order));
    EXPECT_EQ(order, (std::vector<int>{1, 3, 0, 2}));
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(d.symbols[i], shapes[static_cast<size_t>(order[i])]);
  }
}

TEST_F(SymbolWriteTest, EmptyDictionary) {
  SymbolSet set(state, {});
  const auto segs = dictionary(set, jb2test::profile_params(1));
  // Flags, two counts of 0, then the export runs 0 and 0 (five bits each) padded.
  EXPECT_EQ(only(segs, JB2_SEG_SYMBOL_DICT).data, (Bytes{0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  SymbolSet mq(state, {});
  const Bytes d = only(dictionary(mq, jb2test::profile_params(3)), JB2_SEG_SYMBOL_DICT).data;
  EXPECT_EQ((Bytes{d.begin(), d.begin() + 12}), (Bytes{0x08, 0x00, 2, static_cast<uint8_t>(-1), 0, 0, 0, 0, 0, 0, 0, 0}));
}

// A class of noise grows under MMR; it still goes as MMR (never uncompressed, which some
// decoders miscount), as do text-like classes.
TEST_F(SymbolWriteTest, EveryClassIsMmrCoded) {
  std::vector<RefBitmap> shapes;
  for (uint32_t i = 0; i < 6; ++i) shapes.push_back(noise(16, 16, i));
  RefBitmap bar(40, 3);
  for (int x = 0; x < 40; ++x) bar.set(x, 1, 1);
  for (int i = 0; i < 5; ++i) {
    shapes.push_back(bar);
    bar.set(i, 0, 1);
  }
  SymbolSet set(state, shapes);
  const jb2test::ProbeDict d = probe_dict(dictionary(set, jb2test::profile_params(1)));
  ASSERT_EQ(d.bmsizes.size(), 2u);
  EXPECT_GT(d.bmsizes[0], 0u) << "the bars";
  EXPECT_GT(d.bmsizes[1], 96u / 8 * 16) << "the noise, larger than its pixels";
  for (size_t i = 0; i < shapes.size(); ++i) EXPECT_EQ(d.symbols[i], symbol_bitmap(set.symbols[i]));
}

// Counted tables: tuned height and width tables go first as table segments the dictionary
// refers to (height table first); fixed tables send none.
TEST_F(SymbolWriteTest, TablesAreChosenByCount) {
  // 80 classes four rows apart, five widths five columns apart in each: the standard tables
  // spend 7 bits on each of those steps.
  std::vector<RefBitmap> shapes;
  for (int i = 0; i < 400; ++i) shapes.push_back(noise(3 + 5 * (i / 80), 1 + 4 * (i % 80), static_cast<uint32_t>(i)));
  for (int profile : {2, 1}) {
    SymbolSet set(state, shapes);
    const auto segs = dictionary(set, jb2test::profile_params(profile));
    const ParsedSegment& d = only(segs, JB2_SEG_SYMBOL_DICT);
    const jb2test::ProbeDict p = probe_dict(segs);
    if (profile == 2) {
      EXPECT_EQ(p.flags, 0x0001 | 3 << 2 | 3 << 4);
      ASSERT_EQ(count_type(segs, JB2_SEG_TABLES), 2);
      EXPECT_EQ(d.referred, (std::vector<uint32_t>{segs[0].number, segs[1].number}));
    } else {
      EXPECT_EQ(p.flags, 0x0001);
      EXPECT_EQ(count_type(segs, JB2_SEG_TABLES), 0);
    }
    for (size_t i = 0; i < shapes.size(); ++i) EXPECT_EQ(p.symbols[i], symbol_bitmap(set.symbols[i]));
  }
}

TEST_F(SymbolWriteTest, ArithmeticFlagsCarryTheTemplateAndItsAdaptivePixels) {
  for (uint8_t tmpl : {0, 2}) {
    Jb2FileParams p = jb2test::profile_params(3);
    p.generic = Jb2GenericParams{tmpl, {3, -3, 2, -2}, {-1, -1, -2, -2}, 0};
    SymbolSet set(state, {noise(9, 9, 1)});
    const Bytes d = only(dictionary(set, p), JB2_SEG_SYMBOL_DICT).data;
    EXPECT_EQ(d[0], tmpl << 2);
    EXPECT_EQ(d[1], 0);
    const Bytes at = tmpl == 0 ? Bytes{3, 0xFF, 0xFD, 0xFF, 2, 0xFE, 0xFE, 0xFE} : Bytes{3, 0xFF};
    EXPECT_EQ((Bytes{d.begin() + 2, d.begin() + 2 + static_cast<long>(at.size())}), at);
    EXPECT_EQ(d[2 + at.size() + 3], 1) << "one symbol exported";
  }
}

TEST_F(SymbolWriteTest, RefusalsWriteNothing) {
  struct Case {
    const char* name;
    int profile;
    uint8_t type;
    bool tpgdon;
    int badWidth;
    VltStatus status;
  };
  const Case cases[] = {
      {"not a dictionary", 2, JB2_SEG_TEXT_IMMEDIATE, false, 3, VLT_ERR_ASSERT},
      {"typical prediction with MQ", 3, JB2_SEG_SYMBOL_DICT, true, 3, VLT_ERR_CODEC},
      {"symbol without width", 2, JB2_SEG_SYMBOL_DICT, false, 0, VLT_ERR_PARAM},
  };
  for (const Case& c : cases) {
    printed = {};
    SymbolSet set(state, {noise(3, 3, 1), noise(4, 4, 2)});
    set.dict.type = c.type;
    set.symbols[1].width = c.badWidth;
    Jb2FileParams p = jb2test::profile_params(c.profile);
    p.generic.tpgdon = c.tpgdon;
    MemoryStream s(state);
    jb2SetFileParams(s.file(), &p);
    EXPECT_EQ(jb2EncodeSymDict(s.file(), &set.dict, nullptr, nullptr, nullptr, 1), c.status) << c.name;
    EXPECT_EQ(jb2GetFileSegnum(s.file()), 0u) << c.name;
    EXPECT_TRUE(s.finish().empty()) << c.name;
    if (c.tpgdon) {
      EXPECT_NE(printed.text.find("symdict can't have TPD on"), std::string::npos);
    }
  }
}

// A dictionary over input symbols exports none of them: the first export run skips them.
TEST_F(SymbolWriteTest, InputSymbolsOfReferredDictionariesAreNotExported) {
  SymbolSet first(state, {noise(3, 3, 1), noise(5, 4, 2)}), second(state, {noise(6, 6, 3)});
  MemoryStream s(state);
  const Jb2FileParams p = jb2test::profile_params(1);
  jb2SetFileParams(s.file(), &p);
  ASSERT_EQ(jb2EncodeSymDict(s.file(), &first.dict, nullptr, nullptr, nullptr, 1), VLT_OK);
  SegmentInfo* ref = &first.dict;
  ASSERT_EQ(jb2AddReferencedSegments(s.file(), &second.dict, &ref, 1), VLT_OK);
  EXPECT_EQ(jb2EncodeSymDict(s.file(), &second.dict, nullptr, nullptr, nullptr, 1), VLT_ERR_ASSERT)
      << "referred segments without their records";
  ASSERT_EQ(jb2EncodeSymDict(s.file(), &second.dict, &ref, nullptr, nullptr, 1), VLT_OK);
  const auto segs = jb2test::parse_segments(s.finish(), false);
  ASSERT_EQ(segs.size(), 2u);
  EXPECT_EQ(segs[1].referred, (std::vector<uint32_t>{segs[0].number}));
  EXPECT_EQ(jb2test::probe_symbol_dict(segs[1].data, {}, state).exportRuns, (std::vector<int64_t>{2, 1}));
}

TEST_F(SymbolWriteTest, DictionaryFailuresLeaveNothingBehind) {
  std::vector<RefBitmap> shapes;
  for (int i = 0; i < 60; ++i) shapes.push_back(noise(5 + i % 7, 4 + i % 5, static_cast<uint32_t>(i)));
  for (int profile : {1, 2, 3}) {
    for (size_t k = 1;; ++k) {
      SymbolSet set(state, shapes);
      MemoryStream s(state);
      const Jb2FileParams p = jb2test::profile_params(profile);
      jb2SetFileParams(s.file(), &p);
      const size_t before = alloc.live_blocks();
      alloc.fail_at(k);
      const VltStatus st = jb2EncodeSymDict(s.file(), &set.dict, nullptr, nullptr, nullptr, 1);
      alloc.fail_at(0);
      const size_t referredArrays = set.dict.referred != nullptr ? 2 : 0;
      EXPECT_EQ(alloc.live_blocks(), before + referredArrays) << "profile " << profile << ", allocation " << k;
      if (st == VLT_OK) break;
      ASSERT_EQ(st, VLT_ERR_NOMEM) << "profile " << profile << ", allocation " << k;
    }
  }
}

// ---- Text region ----------------------------------------------------------------------------

TEST_F(SymbolWriteTest, RegionPlacementsReadBack) {
  std::vector<RefBitmap> shapes;
  for (int i = 0; i < 12; ++i) shapes.push_back(noise(3 + i, 5 + i % 4, static_cast<uint32_t>(i)));
  std::vector<int> use;
  for (int i = 0; i < 150; ++i) use.push_back((i * 7) % 12);
  const auto placed = jb2test::text_lines(shapes, use, 560, 22, 2, 3, 8);
  for (int profile : {1, 2}) {
    SymbolSet set(state, shapes);
    const Region r = region(set, placed, jb2test::profile_params(profile));
    ASSERT_EQ(r.status, VLT_OK);
    const ParsedSegment& t = only(r.segs, JB2_SEG_TEXT_IMMEDIATE);
    EXPECT_FALSE(t.retain);
    EXPECT_EQ(t.referred.front(), only(r.segs, JB2_SEG_SYMBOL_DICT).number);
    EXPECT_EQ(placements(r, probe_region(r)), placements(placed)) << "profile " << profile;
  }
}

TEST_F(SymbolWriteTest, EmptyRegionCodesOnlyTheFirstStrip) {
  SymbolSet set(state, {noise(4, 4, 1), noise(5, 5, 2)});
  const Region r = region(set, {}, jb2test::profile_params(1));
  ASSERT_EQ(r.status, VLT_OK);
  const jb2test::ProbeText t = probe_region(r);
  EXPECT_TRUE(t.instances.empty());
  EXPECT_EQ(t.idLengths, (std::vector<uint32_t>{0, 0}));
  EXPECT_EQ(t.firstDT, 1);
  EXPECT_EQ(t.fieldBits[JB2_TEXT_DS], 0u);
  EXPECT_EQ(t.fieldBits[JB2_TEXT_FS], 0u);
}

TEST_F(SymbolWriteTest, NeighboursOnALineCodeTheirGap) {
  SymbolSet set(state, {noise(6, 5, 1)});
  // Two instances with two blank columns between them: gap 3, SBDSOFFSET 3, IDS 0.
  const std::vector<Placed> placed = {{0, 10, 20}, {0, 18, 20}};
  const Region r = region(set, placed, jb2test::profile_params(1));
  const jb2test::ProbeText t = probe_region(r);
  EXPECT_EQ(t.dsOffset, 3);
  EXPECT_EQ(placements(r, t), placements(placed));
  // B.8: IDS 0 is "00" + one range bit, then the strip's out of band "01".
  EXPECT_EQ(t.fieldBits[JB2_TEXT_DS], 3u + 2u);
}

// One line at several heights above the region's foot: the strip size follows it, and with
// strips wider than a row each instance carries its row within the strip as raw bits.
TEST_F(SymbolWriteTest, StripSizeFollowsTheLine) {
  const std::pair<int, int> cases[] = {{1, 0}, {2, 1}, {3, 1}, {5, 2}, {12, 3}};
  for (const auto& [bottom, log] : cases) {
    SymbolSet set(state, {noise(3, 1, 1), noise(4, 1, 2)});
    std::vector<Placed> placed;
    for (int i = 0; i < 10; ++i) placed.push_back({i % 2, 10 + 9 * i, bottom});
    const Region r = region(set, placed, jb2test::profile_params(1));
    const jb2test::ProbeText t = probe_region(r);
    EXPECT_EQ(t.logStrips, log) << "bottom row " << bottom;
    EXPECT_EQ(placements(r, t), placements(placed)) << "bottom row " << bottom;
  }
}

TEST_F(SymbolWriteTest, CodeTablesAmongTheReferredContributeNoSymbols) {
  SymbolSet set(state, {noise(4, 4, 1), noise(6, 3, 2)});
  MemoryStream s(state);
  const Jb2FileParams p = jb2test::profile_params(2);
  jb2SetFileParams(s.file(), &p);
  SegmentInfo table{};
  table.page = 1;
  table.body.codeTable = stdhuffDS2;
  ASSERT_EQ(jb2EncodeHuffTable(s.file(), &table), VLT_OK);
  ASSERT_EQ(jb2EncodeSymDict(s.file(), &set.dict, nullptr, nullptr, nullptr, 1), VLT_OK);
  std::vector<Jb2Instance> instances = {{5, 5, &set.symbols[1], nullptr, nullptr}, {20, 5, &set.symbols[0], nullptr, nullptr}};
  SegmentInfo seg = text_record(instances, 100, 50);
  SegmentInfo* refs[2] = {&table, &set.dict};
  ASSERT_EQ(jb2AddReferencedSegments(s.file(), &seg, refs, 2), VLT_OK);
  ASSERT_EQ(jb2EncodeSymRegion(s.file(), &seg, refs, nullptr, nullptr, 0), VLT_OK);
  state->free(seg.referred);
  state->free(seg.referredRetain);
  const auto segs = jb2test::parse_segments(s.finish(), false);
  const ParsedSegment& t = only(segs, JB2_SEG_TEXT_IMMEDIATE);
  const std::vector<std::pair<int, int>> sizes = {{set.symbols[0].width, set.symbols[0].height},
                                                  {set.symbols[1].width, set.symbols[1].height}};
  jb2test::ProbeText probe = jb2test::probe_text_region(t.data, sizes, {});
  std::sort(probe.instances.begin(), probe.instances.end());
  EXPECT_EQ(probe.instances, (std::vector<jb2test::ProbeInstance>{{5, 5, 1}, {20, 5, 0}}));
}

VltStatus failing_hook(Jb2Instance* const*, int32_t, void*) { return 4242; }

VltStatus copy_order(Jb2Instance* const* order, int32_t n, void* context) {
  auto* out = static_cast<std::vector<const Jb2Instance*>*>(context);
  out->assign(order, order + n);
  return VLT_OK;
}

// The owner links of the referred symbols come back unchanged on success, on a failing hook,
// on every failed allocation and on an instance whose symbol is in no referred dictionary.
TEST_F(SymbolWriteTest, OwnerLinksAreRestoredOnEveryPath) {
  std::vector<RefBitmap> shapes;
  for (int i = 0; i < 20; ++i) shapes.push_back(noise(4 + i % 6, 6 + i % 3, static_cast<uint32_t>(i)));
  std::vector<int> use;
  for (int i = 0; i < 120; ++i) use.push_back(i * 13 % 20);
  const auto placed = jb2test::text_lines(shapes, use, 400, 16, 3, 4, 2);
  for (int profile : {2, 3}) {
    SymbolSet set(state, shapes);
    MemoryStream s(state);
    const Jb2FileParams p = jb2test::profile_params(profile);
    jb2SetFileParams(s.file(), &p);
    ASSERT_EQ(jb2EncodeSymDict(s.file(), &set.dict, nullptr, nullptr, nullptr, 1), VLT_OK);
    const std::vector<void*> owners = set.owners();
    std::vector<Jb2Instance> instances;
    for (const Placed& pl : placed) instances.push_back({pl.x, pl.y, set.entry_of(pl.shape), nullptr, nullptr});
    // The dictionary listed twice: IDs run over both copies.
    SegmentInfo* refs[2] = {&set.dict, &set.dict};
    auto attempt = [&](Jb2InstanceOrderFn hook, void* context, size_t failAt = 0) {
      SegmentInfo seg = text_record(instances, 400, 300);
      jb2test::check(jb2AddReferencedSegments(s.file(), &seg, refs, 2), "refs");
      alloc.fail_at(failAt);
      const VltStatus st = jb2EncodeSymRegion(s.file(), &seg, refs, hook, context, 0);
      alloc.fail_at(0);
      state->free(seg.referred);
      state->free(seg.referredRetain);
      EXPECT_EQ(set.owners(), owners);
      return st;
    };
    std::vector<const Jb2Instance*> order;
    EXPECT_EQ(attempt(copy_order, &order), VLT_OK);
    EXPECT_EQ(order.size(), instances.size());
    EXPECT_EQ(attempt(failing_hook, nullptr), 4242);
    for (size_t k = 1;; ++k) {
      const VltStatus st = attempt(nullptr, nullptr, k);
      if (st == VLT_OK) break;
      ASSERT_EQ(st, VLT_ERR_NOMEM) << "allocation " << k;
    }
    Jb2Symbol stranger = set.symbols[0];
    instances[7].symbol = &stranger;
    EXPECT_EQ(attempt(nullptr, nullptr), VLT_ERR_ASSERT);
  }
}

TEST_F(SymbolWriteTest, RegionOfAnotherTypeIsRefused) {
  std::vector<Jb2Instance> none;
  SegmentInfo seg = text_record(none, 10, 10);
  seg.type = JB2_SEG_GENERIC_IMMEDIATE;
  MemoryStream s(state);
  EXPECT_EQ(jb2EncodeSymRegion(s.file(), &seg, nullptr, nullptr, nullptr, 0), VLT_ERR_ASSERT);
  EXPECT_TRUE(s.finish().empty());
}

// ---- Coding choice --------------------------------------------------------------------------

struct ChoiceTest : SymbolWriteTest {
  Jb2Symbol sym(int w, int h) { return Jb2Symbol{w, h, nullptr, 1, 0, nullptr, 0}; }
  VltStatus choose(std::vector<Jb2Instance>& instances, const Jb2FileParams& p, Jb2TextChoice* c, int keepOrder = 0,
                   uint32_t w = 200, uint32_t h = 200) {
    SegmentInfo seg = text_record(instances, w, h);
    return decideSREncoding(&p, &seg, keepOrder, c, state);
  }
};

TEST_F(ChoiceTest, TranspositionFollowsTheLongestColumnOrRow) {
  Jb2Symbol s = sym(5, 5);
  auto column = std::vector<Jb2Instance>{};
  for (int i = 0; i < 5; ++i) column.push_back({40, 10 + 8 * i, &s, nullptr, nullptr});
  auto row = std::vector<Jb2Instance>{};
  for (int i = 0; i < 5; ++i) row.push_back({10 + 8 * i, 40, &s, nullptr, nullptr});
  auto both = row;
  for (int i = 0; i < 5; ++i) both.push_back({150, 100 + 8 * i, &s, nullptr, nullptr});
  struct Case {
    const char* name;
    std::vector<Jb2Instance>* instances;
    int transposed;
  };
  for (const Case& c : {Case{"column", &column, 1}, Case{"row", &row, 0}, Case{"as many of each", &both, 0}}) {
    Jb2TextChoice ch{};
    ASSERT_EQ(choose(*c.instances, jb2test::profile_params(2), &ch), VLT_OK);
    EXPECT_EQ(ch.transposed, c.transposed) << c.name;
    EXPECT_EQ(ch.refCorner, c.transposed ? JB2_CORNER_TOPLEFT : JB2_CORNER_BOTTOMLEFT) << c.name;
    jb2FreeTextChoice(&ch, state);
  }
  Jb2TextChoice ch{};
  ASSERT_EQ(choose(column, jb2test::profile_params(1), &ch), VLT_OK);
  EXPECT_EQ(ch.transposed, 0) << "the profile forbids it";
  jb2FreeTextChoice(&ch, state);
  Jb2FileParams p = jb2test::profile_params(2);
  p.trNoTopLeft = 1;
  EXPECT_EQ(choose(column, p, &ch), VLT_ERR_ASSERT) << "transposed needs the top-left corner";
  EXPECT_EQ(ch.order, nullptr);
  EXPECT_TRUE(printed.codes.empty());
}

TEST_F(ChoiceTest, OffsetsAndTheFirstStrip) {
  Jb2Symbol s = sym(6, 4);
  std::vector<Jb2Instance> spaced;
  for (int i = 0; i < 6; ++i) spaced.push_back({3 + 8 * i, 20, &s, nullptr, nullptr});  // two blank columns
  Jb2TextChoice c{};
  ASSERT_EQ(choose(spaced, jb2test::profile_params(1), &c), VLT_OK);
  EXPECT_EQ(c.dsOffset, 3);
  jb2FreeTextChoice(&c, state);
  std::vector<Jb2Instance> single = {{7, 30, &s, nullptr, nullptr}};
  ASSERT_EQ(choose(single, jb2test::profile_params(1), &c), VLT_OK);
  EXPECT_EQ(c.dsOffset, -16);
  EXPECT_EQ(c.firstStrip, -1);
  jb2FreeTextChoice(&c, state);
  std::vector<Jb2Instance> above = {{7, -30, &s, nullptr, nullptr}};  // bottom row -27
  ASSERT_EQ(choose(above, jb2test::profile_params(1), &c), VLT_OK);
  EXPECT_EQ(c.firstStrip, (-27 >> c.logSbStrips) - 1);
  jb2FreeTextChoice(&c, state);
}

TEST_F(ChoiceTest, ProfilesDecideTheTables) {
  const std::vector<RefBitmap> shapes = jb2test::random_shapes(40, 12, 7);
  std::vector<Jb2Symbol> syms;
  for (const RefBitmap& bm : shapes) syms.push_back(sym(bm.width, bm.height));
  std::vector<int> use;
  for (int i = 0; i < 400; ++i) use.push_back(i % 40);
  std::vector<Jb2Instance> inst;
  for (const Placed& p : jb2test::text_lines(shapes, use, 800, 24, 2, 3, 5))
    inst.push_back({p.x, p.y, &syms[static_cast<size_t>(p.shape)], nullptr, nullptr});
  Jb2TextChoice c{};
  ASSERT_EQ(choose(inst, jb2test::profile_params(1), &c, 0, 800, 400), VLT_OK);
  EXPECT_EQ(c.tables[JB2_TEXT_DT], &stdhuffDT1);
  EXPECT_EQ(c.tables[JB2_TEXT_DS], &stdhuffDS1);
  EXPECT_EQ(c.tables[JB2_TEXT_FS], &stdhuffFS1);
  EXPECT_EQ(c.tuned[0] + c.tuned[1] + c.tuned[2], 0);
  EXPECT_EQ(c.selector[0] + c.selector[1] + c.selector[2], 0);
  jb2FreeTextChoice(&c, state);
  ASSERT_EQ(choose(inst, jb2test::profile_params(3), &c, 0, 800, 400), VLT_OK);
  EXPECT_EQ(c.tables[0], nullptr);
  EXPECT_EQ(c.tuned[0] + c.tuned[1] + c.tuned[2], 0);
  EXPECT_EQ(c.countedBits[0] + c.countedBits[1] + c.countedBits[2], 0u);
  jb2FreeTextChoice(&c, state);
  ASSERT_EQ(choose(inst, jb2test::profile_params(2), &c), VLT_OK);
  EXPECT_GT(c.tuned[0] + c.tuned[1] + c.tuned[2], 0) << "400 placements pay for a tuned table";
  for (int f = 0; f < 3; ++f) EXPECT_EQ(c.selector[f] == 3, c.tuned[f] == 1);
  jb2FreeTextChoice(&c, state);
}

TEST_F(ChoiceTest, KeptOrder) {
  Jb2Symbol s = sym(5, 5);
  std::vector<Jb2Instance> inst = {{50, 40, &s, nullptr, nullptr}, {10, 40, &s, nullptr, nullptr},
                                   {30, 10, &s, nullptr, nullptr}, {70, 60, &s, nullptr, nullptr}};
  Jb2TextChoice c{};
  ASSERT_EQ(choose(inst, jb2test::profile_params(2), &c, 1), VLT_OK);
  EXPECT_EQ(c.refCorner, JB2_CORNER_TOPLEFT);
  EXPECT_EQ(c.transposed, 0);
  EXPECT_EQ(c.sbStrips, 1);
  EXPECT_EQ(c.firstStrip, -1);
  for (size_t i = 0; i < inst.size(); ++i) EXPECT_EQ(c.order[i], &inst[i]);
  EXPECT_EQ(c.tuned[JB2_TEXT_DT], 1) << "strips step back (40 to 10): only the extended table codes that";
  EXPECT_EQ(c.selector[JB2_TEXT_DT], 3);
  jb2FreeTextChoice(&c, state);
  EXPECT_EQ(choose(inst, jb2test::profile_params(1), &c, 1), VLT_ERR_PARAM) << "top-left corner forbidden";
  Jb2FileParams fixed = jb2test::profile_params(2);
  fixed.trFixedTables = 1;
  EXPECT_EQ(choose(inst, fixed, &c, 1), VLT_ERR_PARAM) << "steps back with the fixed tables";
  EXPECT_EQ(c.order, nullptr);
  EXPECT_EQ(printed.codes, (std::vector<int32_t>{2, 2}));
}

TEST_F(ChoiceTest, RefusalsAndFailures) {
  Jb2Symbol s = sym(5, 5);
  std::vector<Jb2Instance> far = {{1 << 29, 0, &s, nullptr, nullptr}};
  Jb2TextChoice c{};
  EXPECT_EQ(choose(far, jb2test::profile_params(2), &c), VLT_ERR_PARAM);
  std::vector<Jb2Instance> inst;
  for (int i = 0; i < 50; ++i) inst.push_back({i * 3 % 170, i * 7 % 150, &s, nullptr, nullptr});
  for (size_t k = 1;; ++k) {
    alloc.fail_at(k);
    const VltStatus st = choose(inst, jb2test::profile_params(2), &c);
    alloc.fail_at(0);
    if (st == VLT_OK) {
      jb2FreeTextChoice(&c, state);
      break;
    }
    EXPECT_EQ(st, VLT_ERR_NOMEM);
    EXPECT_EQ(c.order, nullptr);
    EXPECT_EQ(alloc.live_blocks(), baseline);
  }
}

// The bits the choice counted for the DT, DS and FS values with its tables are the bits those
// fields take in the written region, for random placements in every configuration.
TEST_F(ChoiceTest, CountedBitsAreTheBitsWritten) {
  std::mt19937 rng(2024);
  std::vector<RefBitmap> shapes;
  for (int i = 0; i < 30; ++i) shapes.push_back(noise(1 + static_cast<int>(rng() % 14), 1 + static_cast<int>(rng() % 14), rng()));
  struct Config {
    const char* name;
    int profile;
    int keepOrder;
  };
  const Config configs[] = {{"fixed tables", 1, 0}, {"counted tables", 2, 0}, {"kept order", 2, 1}};
  for (int round = 0; round < 12; ++round) {
    std::vector<Placed> placed;
    const int n = 1 + static_cast<int>(rng() % (round % 3 == 0 ? 8 : 400));
    const int spread = round % 2 == 0 ? 300 : 40;
    for (int i = 0; i < n; ++i)
      placed.push_back({static_cast<int>(rng() % shapes.size()), static_cast<int>(rng() % 500),
                        static_cast<int>(rng() % static_cast<uint32_t>(spread)) - 5});
    for (const Config& cfg : configs) {
      SCOPED_TRACE(std::string(cfg.name) + ", round " + std::to_string(round));
      SymbolSet set(state, shapes);
      const Jb2FileParams p = jb2test::profile_params(cfg.profile);
      const Region r = region(set, placed, p, cfg.keepOrder, 520, 320);
      ASSERT_EQ(r.status, VLT_OK);
      // The same choice again, now that the dictionary is in coding order.
      std::vector<Jb2Instance> instances;
      for (const Placed& pl : placed) instances.push_back({pl.x, pl.y, set.entry_of(pl.shape), nullptr, nullptr});
      Jb2TextChoice c{};
      ASSERT_EQ(choose(instances, p, &c, cfg.keepOrder, 520, 320), VLT_OK);
      const jb2test::ProbeText t = probe_region(r);
      for (int f = 0; f < 3; ++f) EXPECT_EQ(t.fieldBits[f], c.countedBits[f]) << "field " << f;
      EXPECT_EQ(t.logStrips, c.logSbStrips);
      EXPECT_EQ(t.transposed, c.transposed != 0);
      EXPECT_EQ(placements(r, t), placements(placed));
      jb2FreeTextChoice(&c, state);
    }
  }
}

}  // namespace
