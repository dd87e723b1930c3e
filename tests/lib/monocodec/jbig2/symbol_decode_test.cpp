// Symbol dictionaries, text regions, pattern dictionaries and halftone regions decoded from data
// parts built field by field: the refusals of their flags, the counts and sizes a stream may not
// be trusted with, and a few layouts worth pinning down. The feature streams and the interop
// tests cover the coding itself.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "jb2_decode.h"
#include "jb2_fixture.h"
#include "jb2_intcode.h"
#include "jb2_test_stream.h"
#include "jb2_page_reader.h"

namespace {

using jb2test::Bytes;

Bytes be16(uint32_t v) { return {uint8_t(v >> 8), uint8_t(v)}; }
Bytes be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A data part: bytes, then Huffman-coded fields and raw bits through our own writers.
struct Fields {
  VltState* state;
  jb2test::MemoryStream s;
  JbfFile* bits = nullptr;
  explicit Fields(VltState* st) : state(st), s(st) {}
  ~Fields() { jbfClose(bits); }
  Fields& bytes(const Bytes& b) {
    if (bits != nullptr) {
      jb2test::check(jbfCloseFromDataSink(bits), "close");
      bits = nullptr;
    }
    jb2test::check(jb2WriteBytes(s.file(), s.sink(), b.data(), static_cast<uint32_t>(b.size())), "bytes");
    return *this;
  }
  JbfFile* open() {
    if (bits == nullptr) jb2test::check(jbfOpenFromDataSink(s.sink(), &bits), "open");
    return bits;
  }
  Fields& num(const JhtTable& t, int32_t v, bool oob = false) {
    EiEncoder* e = nullptr;
    jb2test::check(eiNewEncoder(&t, open(), state, &e), "encoder");
    const VltStatus st = eiEncode(e, v, oob ? 1 : 0);
    eiFreeEncoder(e);
    jb2test::check(st, "field");
    return *this;
  }
  Fields& oob(const JhtTable& t) { return num(t, 0, true); }
  Fields& raw(uint32_t v, int n) {
    jb2test::check(jbfWriteBits(open(), v, n), "bits");
    return *this;
  }
  Bytes finish() {
    if (bits != nullptr) {
      jb2test::check(jbfCloseFromDataSink(bits), "close");
      bits = nullptr;
    }
    return s.finish();
  }
};

// A symbol dictionary record as decoding leaves one, with count symbols of w x h, all black.
struct InputDict {
  SegmentInfo seg{};
  std::vector<Jb2Symbol> symbols;
  std::vector<Bytes> bits;
  InputDict(int count, int w, int h) {
    seg.type = JB2_SEG_SYMBOL_DICT;
    for (int i = 0; i < count; ++i) bits.push_back(Bytes(static_cast<size_t>(h) * 4, 0xFF));
    for (int i = 0; i < count; ++i) symbols.push_back(Jb2Symbol{w, h, bits[static_cast<size_t>(i)].data(), 1, 0, nullptr, 0});
    seg.body.symbolDict.count = count;
    seg.body.symbolDict.symbols = symbols.data();
  }
};

struct SymbolDecodeTest : Jb2ReadTest {
  // Decodes one data part with the decoder of the type; the record keeps what it made.
  VltStatus decode(Jb2DecodeFn fn, uint8_t type, const Bytes& data, SegmentInfo* seg,
                   std::vector<SegmentInfo*> refs = {}) {
    seg->type = type;
    seg->dataLength = static_cast<uint32_t>(data.size());
    seg->referredCount = static_cast<int32_t>(refs.size());
    DataSource src;
    jb2test::memory_source(&src, state, data.data(), data.size());
    printed = {};
    return fn(file, &src, seg, refs.data());
  }
  // A failed decode must report its message and leave nothing in the record.
  void expect_refused(Jb2DecodeFn fn, uint8_t type, const Bytes& data, VltStatus status, const char* message,
                      std::vector<SegmentInfo*> refs = {}) {
    SegmentInfo seg{};
    EXPECT_EQ(decode(fn, type, data, &seg, refs), status);
    if (message != nullptr) {
      EXPECT_NE(printed.text.find(message), std::string::npos) << printed.text;
    }
    jb2FreeSegmentInfo(&seg, state);
  }
};

constexpr uint16_t kHuff = 1, kRefAgg = 2;

// ---- Symbol dictionaries -------------------------------------------------------------------

TEST_F(SymbolDecodeTest, DictionaryFlagsAndCountsRefused) {
  struct Case {
    const char* name;
    uint16_t flags;
    uint32_t exported, fresh;
    VltStatus status;
    const char* message;
  };
  // MQ dictionaries carry template 0's eight AT bytes; the Huffman ones none.
  const Case cases[] = {
      {"table field in an MQ dictionary", 1 << 2, 0, 0, 107, "non-zero Huffman table specifier in non-Huffman"},
      {"DH selector 2", kHuff | 2 << 2, 0, 0, 107, "bad SDHUFFDH specification"},
      {"DW selector 2", kHuff | 2 << 4, 0, 0, 107, "bad SDHUFFDW specification"},
      {"Huffman with contexts used", kHuff | 1 << 8, 0, 0, 107, "context used or retained in Huffman"},
      {"Huffman with contexts retained", kHuff | 1 << 9, 0, 0, 107, "context used or retained in Huffman"},
      {"user DW table without a table segment", kHuff | 3 << 4, 0, 0, VLT_ERR_PARAM, nullptr},
      {"contexts used without a dictionary", 1 << 8, 0, 0, 107, "contexts used, but no symbol dictionary referenced"},
      {"more exported than there are symbols", 0, 3, 2, 107, "too many symbols exported"},
      {"new symbols beyond the limit", 0, 0, JB2_MAX_SYMBOLS + 1, 107, "too many symbols"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes at = (c.flags & kHuff) != 0 ? Bytes{} : Bytes{3, 0xFF, 0xFD, 0xFF, 2, 0xFE, 0xFE, 0xFE};
    expect_refused(jb2DecodeSymDict, JB2_SEG_SYMBOL_DICT, be16(c.flags) + at + be32(c.exported) + be32(c.fresh),
                   c.status, c.message);
  }
  // A code table where a dictionary that selects none is referring to one.
  SegmentInfo table{};
  table.type = JB2_SEG_TABLES;
  expect_refused(jb2DecodeSymDict, JB2_SEG_SYMBOL_DICT, be16(kHuff) + be32(0) + be32(0), VLT_ERR_PARAM, nullptr,
                 {&table});
}

// A Huffman dictionary: flags, counts, then coded fields through the standard tables.
Bytes huffman_dict(VltState* state, uint16_t flags, uint32_t exported, uint32_t fresh,
                   const std::function<void(Fields&)>& body) {
  Fields f(state);
  f.bytes(be16(kHuff | flags) + be32(exported) + be32(fresh));
  body(f);
  return f.finish();
}

TEST_F(SymbolDecodeTest, UncollectedBitmapRowsAndExports) {
  // Widths 4 and 5 in one class of height 3: rows of TOTWIDTH 9 take two bytes, the second
  // symbol starts at bit 4. The runs 0, 3, 0, 2 export the three input symbols (as copies) and
  // then the two new ones.
  InputDict in(3, 2, 2);
  const Bytes data = huffman_dict(state, 0, 5, 2, [](Fields& f) {
    f.num(stdhuffDH1, 3).num(stdhuffDW1, 4).num(stdhuffDW1, 1).oob(stdhuffDW1).num(stdhuffA, 0);
    f.bytes({0xF0, 0x00, 0x0F, 0x80, 0xA5, 0x00});
    f.num(stdhuffA, 0).num(stdhuffA, 3).num(stdhuffA, 0).num(stdhuffA, 2);
  });
  SegmentInfo seg{};
  ASSERT_EQ(decode(jb2DecodeSymDict, JB2_SEG_SYMBOL_DICT, data, &seg, {&in.seg}), VLT_OK) << printed.text;
  const Jb2SymbolDict& d = seg.body.symbolDict;
  ASSERT_EQ(d.count, 5);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(d.symbols[i].width, 2);
    EXPECT_NE(d.symbols[i].bits, in.symbols[static_cast<size_t>(i)].bits) << "exported symbols are copies";
  }
  const Jb2Symbol& a = d.symbols[3];
  const Jb2Symbol& b = d.symbols[4];
  EXPECT_EQ(a.width, 4);
  EXPECT_EQ(b.width, 5);
  EXPECT_EQ(a.height, 3);
  EXPECT_EQ(Bytes(a.bits, a.bits + 12), (Bytes{0xF0, 0, 0, 0, 0, 0, 0, 0, 0xA0, 0, 0, 0}));
  EXPECT_EQ(Bytes(b.bits, b.bits + 12), (Bytes{0, 0, 0, 0, 0xF8, 0, 0, 0, 0x50, 0, 0, 0}));
  jb2FreeSegmentInfo(&seg, state);
}

TEST_F(SymbolDecodeTest, CodedCountsAndSizesRefused) {
  struct Case {
    const char* name;
    uint16_t flags;
    uint32_t exported, fresh;
    std::function<void(Fields&)> body;
    const char* message;
  };
  const Case cases[] = {
      {"class height 0", 1 << 2, 1, 1, [](Fields& f) { f.num(stdhuffDH2, 0); }, "bad height class height"},
      {"class height below 0", 1 << 2, 1, 1, [](Fields& f) { f.num(stdhuffDH2, -1); }, "bad height class height"},
      {"symbol width 0", 0, 1, 1, [](Fields& f) { f.num(stdhuffDH1, 3).num(stdhuffDW1, 0); }, "bad symbol width"},
      {"width going below 0", 1 << 4, 2, 2,
       [](Fields& f) { f.num(stdhuffDH1, 3).num(stdhuffDW2, 2).num(stdhuffDW2, -3); },
       "bad symbol width"},
      {"a symbol more than announced", 0, 1, 1,
       [](Fields& f) { f.num(stdhuffDH1, 3).num(stdhuffDW1, 2).num(stdhuffDW1, 1); }, "too many symbols"},
      {"too large a symbol", 0, 1, 1, [](Fields& f) { f.num(stdhuffDH1, 40000).num(stdhuffDW1, 40000); },
       "symbol too large"},
      {"runs of nothing that never end", 0, 1, 1,
       [](Fields& f) {
         f.num(stdhuffDH1, 1).num(stdhuffDW1, 1).oob(stdhuffDW1).num(stdhuffA, 0).bytes({0x80});
         for (int i = 0; i < 12; ++i) f.num(stdhuffA, 0);
       },
       "too many symbols exported"},
      {"export run past the last symbol", 0, 1, 1,
       [](Fields& f) {
         f.num(stdhuffDH1, 1).num(stdhuffDW1, 1).oob(stdhuffDW1).num(stdhuffA, 0).bytes({0x80});
         f.num(stdhuffA, 0).num(stdhuffA, 2);
       },
       "too many symbols exported"},
      // Aggregates: template 1 refinement, so no AT bytes.
      {"aggregate of no instance", kRefAgg | 1 << 12, 1, 1,
       [](Fields& f) { f.num(stdhuffDH1, 2).num(stdhuffDW1, 2).num(stdhuffA, 0); }, "bad aggregate instance count"},
      {"aggregate of a symbol not decoded yet", kRefAgg | 1 << 12, 1, 1,
       [](Fields& f) { f.num(stdhuffDH1, 2).num(stdhuffDW1, 2).num(stdhuffA, 1).raw(0, 0); }, "bad symbol ID"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expect_refused(jb2DecodeSymDict, JB2_SEG_SYMBOL_DICT, huffman_dict(state, c.flags, c.exported, c.fresh, c.body),
                   107, c.message);
  }
}

// ---- Text regions --------------------------------------------------------------------------

// A Huffman text region over the standard tables: region information, flags, SBNUMINSTANCES,
// then the symbol-ID code (run codes 1 = "0", 0 = "10", 34 = "11") and the caller's bits.
Bytes huffman_text(VltState* state, uint16_t flags, uint32_t count, const std::function<void(Fields&)>& ids,
                   const std::function<void(Fields&)>& body) {
  Fields f(state);
  f.bytes(be32(64) + be32(32) + be32(0) + be32(0) + Bytes{0} + be16(kHuff | flags) + be16(0) + be32(count));
  for (int i = 0; i < 35; ++i) f.raw(i == 1 ? 1 : i == 0 || i == 34 ? 2 : 0, 4);
  ids(f);
  jbfFlushByte(f.open());
  body(f);
  return f.finish();
}

TEST_F(SymbolDecodeTest, TextRegionRefusals) {
  InputDict one(1, 20, 4), two(2, 3, 3), ten(10, 3, 3);
  struct Case {
    const char* name;
    SegmentInfo* dict;
    uint16_t flags;
    uint32_t count;
    std::function<void(Fields&)> ids, body;
    const char* message;
  };
  const auto noIds = [](Fields&) {};
  const Case cases[] = {
      {"ID bits matching no code", &two.seg, 0, 1, [](Fields& f) { f.raw(0, 1).raw(2, 2); },
       [](Fields& f) {
         f.num(stdhuffDT1, 1).num(stdhuffDT1, 1).num(stdhuffFS1, 0).raw(0xFFFFFFFF, 32).raw(0xFFFF, 16);
       },
       nullptr},
      {"run codes past the symbols", &ten.seg, 0, 1, [](Fields& f) { f.raw(3, 2).raw(0, 7); }, noIds,
       "too many runcodes"},
      {"instance beyond 32-bit positions", &one.seg, 0, 1, [](Fields& f) { f.raw(0, 1); },
       [](Fields& f) {
         f.num(stdhuffDT1, 1).num(stdhuffDT1, 1).num(stdhuffFS1, 0x7FFFFFF0).raw(0, 1).oob(stdhuffDS1);
       },
       "symbol instance position out of range"},
      {"an instance more than announced", &one.seg, 0, 1, [](Fields& f) { f.raw(0, 1); },
       [](Fields& f) { f.num(stdhuffDT1, 1).num(stdhuffDT1, 1).num(stdhuffFS1, 0).raw(0, 1).num(stdhuffDS1, 0); },
       "too many symbol instances"},
      {"refinement template without refinement", &one.seg, 1 << 15, 0, noIds, noIds,
       "bad template flag for non-refining symbol region"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expect_refused(jb2DecodeSymReg, JB2_SEG_TEXT_IMMEDIATE, huffman_text(state, c.flags, c.count, c.ids, c.body), 107,
                   c.message, {c.dict});
  }
  // Invalid table selectors of the Huffman flags, and a count beyond the limit.
  const Bytes head = be32(64) + be32(32) + be32(0) + be32(0) + Bytes{0};
  for (const auto& [hflags, message] : std::vector<std::pair<uint16_t, const char*>>{
           {2, "bad SBHUFFFS specification"}, {2 << 6, "bad SBHUFFRDW specification"},
           {2 << 12, "bad SBHUFFRDY specification"}}) {
    SCOPED_TRACE(message);
    expect_refused(jb2DecodeSymReg, JB2_SEG_TEXT_IMMEDIATE, head + be16(kHuff) + be16(hflags) + be32(0), 107, message);
  }
  expect_refused(jb2DecodeSymReg, JB2_SEG_TEXT_IMMEDIATE, head + be16(0) + be32(JB2_MAX_INSTANCES + 1), 107,
                 "too many symbol instances");
}

TEST_F(SymbolDecodeTest, NoInstancesStillReadsTheFirstStripAndRendersBlank) {
  InputDict one(1, 4, 4);
  const Bytes data = huffman_text(state, 0, 0, [](Fields& f) { f.raw(0, 1); }, [](Fields& f) { f.num(stdhuffDT1, 1); });
  SegmentInfo seg{};
  ASSERT_EQ(decode(jb2DecodeSymReg, JB2_SEG_TEXT_IMMEDIATE, data, &seg, {&one.seg}), VLT_OK) << printed.text;
  EXPECT_EQ(seg.body.textRegion.count, 0);
  ASSERT_EQ(jb2RenderSymReg(file, &seg), VLT_OK);
  EXPECT_EQ(jb2test::ref_bitmap(seg.bitmap).count(), 0u);
  jb2FreeSegmentInfo(&seg, state);
}

TEST_F(SymbolDecodeTest, InstancesClippedAtEveryEdgeOfRegionAndPage) {
  // A 4 x 4 black symbol at the four corners of a 10 x 8 region, half outside; the region sits
  // at (3, 2) of a 16 x 12 page: straight into the page and through a region bitmap alike.
  InputDict one(1, 4, 4);
  std::vector<Jb2Instance> at = {{-2, -2, &one.symbols[0], nullptr, nullptr},
                                 {8, -3, &one.symbols[0], nullptr, nullptr},
                                 {-3, 6, &one.symbols[0], nullptr, nullptr},
                                 {8, 6, &one.symbols[0], nullptr, nullptr},
                                 {INT32_MAX - 2, INT32_MIN, &one.symbols[0], nullptr, nullptr}};
  for (const uint8_t combOp : {JB2_COMBOP_OR, JB2_COMBOP_XOR}) {
    SegmentInfo seg{};
    seg.type = JB2_SEG_TEXT_IMMEDIATE;
    seg.region = Jb2RegionInfo{10, 8, 3, 2, combOp};
    seg.body.textRegion = Jb2TextRegion{static_cast<int32_t>(at.size()), at.data(), 0, 0};
    VltImage* page = nullptr;
    ASSERT_EQ(VltImage_new(state, VLT_IMAGE_PACKED, 16, 12, &page), VLT_OK);
    ASSERT_EQ(jb2RenderSymRegIntoPage(file, &seg, page), VLT_OK);
    const monotest::RefBitmap bm = jb2test::ref_bitmap(page);
    EXPECT_EQ(bm.count(), 4u + 2u + 2u + 4u) << combOp;
    EXPECT_TRUE(bm.get(3, 2));
    EXPECT_TRUE(bm.get(12, 2));
    EXPECT_FALSE(bm.get(2, 2));
    EXPECT_FALSE(bm.get(13, 2));
    VltImage_free(page);
    if (seg.hasBitmap) VltImage_free(seg.bitmap);
    // One column too wide for the page.
    ASSERT_EQ(VltImage_new(state, VLT_IMAGE_PACKED, 12, 12, &page), VLT_OK);
    seg.hasBitmap = 0;
    printed = {};
    EXPECT_EQ(jb2RenderSymRegIntoPage(file, &seg, page), 107);
    EXPECT_NE(printed.text.find("region extends off page"), std::string::npos);
    VltImage_free(page);
  }
}

// ---- Pattern dictionaries and halftone regions ---------------------------------------------

TEST_F(SymbolDecodeTest, PatternDictionaryRefusals) {
  struct Case {
    const char* name;
    Bytes data;
    const char* message;
  };
  const Case cases[] = {
      {"MMR with a template", Bytes{0x03, 4, 4} + be32(1), "MMR halftone dictionary has non-zero template"},
      {"reserved bits", Bytes{0x08, 4, 4} + be32(1), "reserved bits in halftone dictionary flags"},
      {"patterns of no width", Bytes{0x01, 0, 4} + be32(1), "bad halftone pattern size"},
      {"patterns of no height", Bytes{0x01, 4, 0} + be32(1), "bad halftone pattern size"},
      {"pattern count overflowing", Bytes{0x01, 255, 255} + be32(0xFFFFFFFF), "halftone dictionary too large"},
      {"collective bitmap too wide", Bytes{0x01, 200, 1} + be32(0x01000000), "halftone dictionary too large"},
      {"MQ patterns too wide", Bytes{0x00, 129, 1} + be32(1), "too wide for arithmetic coding"},
      {"more MQ pixels than the data can code", Bytes{0x00, 128, 255} + be32(199),
       "coded data too short for its size"},
      {"patterns no grey value can choose", Bytes{0x01, 1, 1} + be32(1u << 15), "too many halftone patterns"},
      {"a billion patterns in a few bytes of MMR", Bytes{0x01, 1, 1} + be32((1u << 30) - 1), "too many halftone patterns"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expect_refused(jb2DecodeHTDict, JB2_SEG_PATTERN_DICT, c.data, 107, c.message);
  }
}

TEST_F(SymbolDecodeTest, HalftoneRegionRefusals) {
  SegmentInfo dict{}, many{}, other{};
  dict.type = JB2_SEG_PATTERN_DICT;
  dict.body.patternDict = Jb2PatternDict{4, 2, 2, nullptr};
  many.type = JB2_SEG_PATTERN_DICT;
  many.body.patternDict = Jb2PatternDict{32769, 2, 2, nullptr};
  other.type = JB2_SEG_SYMBOL_DICT;
  const Bytes info = be32(16) + be32(16) + be32(0) + be32(0) + Bytes{0};
  const Bytes grid = be32(8) + be32(8) + be32(0) + be32(0) + be16(512) + be16(0);
  struct Case {
    const char* name;
    SegmentInfo* ref;
    Bytes data;
    const char* message;
  };
  const Case cases[] = {
      {"no pattern dictionary", &other, info + Bytes{0x01} + grid, "bad reference list for halftone region"},
      {"MMR with a template", &dict, info + Bytes{0x03} + grid, "non-zero template in MMR halftone region"},
      {"MMR with skipping", &dict, info + Bytes{0x09} + grid, "skip enabled in MMR halftone region"},
      {"combination operator 5", &dict, info + Bytes{0x51} + grid, "bad combination operator in halftone region"},
      {"sixteen planes", &many, info + Bytes{0x01} + grid, "unimplemented number of planes"},
      {"grid overflowing", &dict, info + Bytes{0x01} + be32(0x10000) + be32(0x10000) + Bytes(12, 0),
       "halftone grid too large"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expect_refused(jb2DecodeHTReg, JB2_SEG_HALFTONE_LOSSLESS, c.data, 107, c.message, {c.ref});
  }
  expect_refused(jb2DecodeHTReg, JB2_SEG_HALFTONE_LOSSLESS, info, 107, "bad reference list for halftone region");
}

// A few coded bytes can ask for a million placements of a huge bitmap: placements that cover
// their region more than 64 times over (or more than 2^26 pixels on small regions) are refused
// before anything is drawn. Only the clipped part of a placement counts.
TEST_F(SymbolDecodeTest, PlacementsCoveringTheirRegionTooOftenAreRefused) {
  InputDict big(1, 1024, 1024);
  const Jb2Instance at{0, 0, &big.symbols[0], nullptr, nullptr};
  std::vector<Jb2Instance> instances(64, at);
  EXPECT_EQ(jb2CheckCoverage(file, instances.data(), uint32_t(instances.size()), 1024, 1024), VLT_OK);
  instances.push_back(at);
  printed = {};
  EXPECT_EQ(jb2CheckCoverage(file, instances.data(), uint32_t(instances.size()), 1024, 1024), 107);
  EXPECT_NE(printed.text.find("cover their region too many times over"), std::string::npos) << printed.text;
  // Mostly outside: 1000 placements show 24 x 24 pixels each.
  std::vector<Jb2Instance> corners(1000, Jb2Instance{-1000, -1000, &big.symbols[0], nullptr, nullptr});
  EXPECT_EQ(jb2CheckCoverage(file, corners.data(), uint32_t(corners.size()), 1024, 1024), VLT_OK);

  // A 256 x 256 grid one pixel apart of a 1024 x 1024 pattern over a 1024 x 1024 region.
  std::vector<uint8_t> patternBits(size_t{1024} * 128, 0);
  HalftonePattern pattern{patternBits.data(), 32, 0};
  SegmentInfo dict{};
  dict.type = JB2_SEG_PATTERN_DICT;
  dict.body.patternDict = Jb2PatternDict{1, 1024, 1024, &pattern};
  SegmentInfo seg{};
  seg.type = JB2_SEG_HALFTONE_LOSSLESS;
  seg.region = Jb2RegionInfo{1024, 1024, 0, 0, JB2_COMBOP_OR};
  VltImage* grey = nullptr;
  ASSERT_EQ(VltImage_new(state, VLT_IMAGE_SHORT, 256, 256, &grey), VLT_OK);
  seg.body.halftone = Jb2HalftoneRegion{grey, 0, 0, 256, 0, JB2_COMBOP_OR, 0, &dict};
  printed = {};
  EXPECT_EQ(jb2RenderHTReg(file, &seg), 107);
  EXPECT_NE(printed.text.find("halftone cells cover their region too many times over"), std::string::npos)
      << printed.text;
  EXPECT_EQ(seg.hasBitmap, 0);
  // Sixteen cells 256 pixels apart tile the region once and are drawn.
  VltImage_free(grey);
  ASSERT_EQ(VltImage_new(state, VLT_IMAGE_SHORT, 4, 4, &grey), VLT_OK);
  seg.body.halftone.gray = grey;
  seg.body.halftone.vectorX = 256 * 256;
  EXPECT_EQ(jb2RenderHTReg(file, &seg), VLT_OK) << printed.text;
  VltImage_free(seg.bitmap);
  VltImage_free(grey);
}

TEST_F(SymbolDecodeTest, GreyValueBeyondTheDictionaryFailsWhenRendered) {
  // Two patterns of 2 x 2 and a 3 x 1 grid whose second cell says 1, or 2, which is no pattern.
  Bytes p0(8, 0), p1(8, 0);
  p1[0] = p1[4] = 0xC0;
  HalftonePattern patterns[2] = {{p0.data(), 1, 0}, {p1.data(), 1, 0}};
  SegmentInfo dict{};
  dict.type = JB2_SEG_PATTERN_DICT;
  dict.body.patternDict = Jb2PatternDict{2, 2, 2, patterns};
  for (const int16_t second : {1, 2}) {
    VltImage* gray = nullptr;
    ASSERT_EQ(VltImage_new(state, VLT_IMAGE_SHORT, 3, 1, &gray), VLT_OK);
    auto* row = reinterpret_cast<int16_t*>(gray->rows[0]);
    row[0] = 1;
    row[1] = second;
    row[2] = 1;
    SegmentInfo seg{};
    seg.type = JB2_SEG_HALFTONE_IMMEDIATE;
    seg.region = Jb2RegionInfo{4, 2, 0, 0, JB2_COMBOP_OR};
    // Cells 2 pixels apart: the third lies past the region's right edge and is clipped away.
    seg.body.halftone = Jb2HalftoneRegion{gray, 0, 0, 512, 0, JB2_COMBOP_OR, 0, &dict};
    printed = {};
    if (second == 1) {
      ASSERT_EQ(jb2RenderHTReg(file, &seg), VLT_OK);
      EXPECT_EQ(jb2test::ref_bitmap(seg.bitmap).count(), 8u);
    } else {
      EXPECT_EQ(jb2RenderHTReg(file, &seg), 107);
      EXPECT_NE(printed.text.find("bad halftone index"), std::string::npos);
      EXPECT_FALSE(seg.hasBitmap);
    }
    jb2FreeSegmentInfo(&seg, state);
  }
}

}  // namespace

namespace {

// An MQ-coded data part written decision by decision: integers through the IAx procedure,
// stretches of one decision through the encoder's run coding.
struct MqFields {
  VltState* state;
  Bytes out;
  MqEncoder mq{};
  std::vector<uint8_t> contexts;
  explicit MqFields(VltState* st, size_t contextCount) : state(st), contexts(contextCount, 0) {
    VltEncode_mqeInit(&mq, [](uint8_t b, void* c) { static_cast<Bytes*>(c)->push_back(b); return 1; }, &out, st);
  }
  // An IAx integer in the field's 512 contexts, which start at contexts[at].
  MqFields& num(size_t at, int32_t v, bool oob = false) {
    EiEncoder* e = nullptr;
    jb2test::check(eiNewEncoderMQ(&mq, contexts.data() + at, state, &e), "encoder");
    const VltStatus st = eiEncode(e, v, oob ? 1 : 0);
    eiFreeEncoder(e);
    jb2test::check(st, "field");
    return *this;
  }
  MqFields& run(size_t cx, int bit, uint32_t count) {
    if (VltEncode_mqeEncodeRun(&mq, &contexts[cx], bit, count) == 0) throw std::runtime_error("run");
    return *this;
  }
  Bytes finish() {
    if (VltEncode_mqeFlush(&mq) == 0) throw std::runtime_error("flush");
    return out;
  }
};

}  // namespace

// One 1 x 1 white symbol, the input of the crafted regions and refinements below.
struct WhiteInput {
  Bytes bits = Bytes(4, 0);
  Jb2Symbol symbol{1, 1, nullptr, 1, 0, nullptr, 0};
  SegmentInfo seg{};
  WhiteInput() {
    symbol.bits = bits.data();
    seg.type = JB2_SEG_SYMBOL_DICT;
    seg.body.symbolDict.count = 1;
    seg.body.symbolDict.symbols = &symbol;
  }
};

// Crafted MQ streams that code an enormous amount of white in a few bytes: n square white symbols
// (generic or refined), n instances of the white symbol (plain, or each refined to a white
// square), or n square white patterns. Their decoding must stop at the work their bytes may ask
// for, quickly and with a message; a share that fits the budget still decodes, but not as often as
// one likes in one stream. A segment whose length claims more bytes than the stream holds must not
// be paid for by the bytes it lacks.
TEST_F(SymbolDecodeTest, ShortStreamsAskingForSecondsOfWorkAreRefusedQuickly) {
  enum Kind { kGenericSymbols, kRefinedSymbols, kInstances, kRefinedInstances, kPatterns };
  struct Case {
    const char* name;
    Kind kind;
    uint32_t count, side;
    int segments;           // decoded this many times in one stream; the last one as expected
    const char* message;    // null: decodes
    uint32_t missing = 0;   // bytes the segment's length claims past the end of the stream
  };
  const Case cases[] = {
      {"300 white symbols of 1024 x 1024", kGenericSymbols, 300, 1024, 1, "too many symbol pixels in one dictionary"},
      {"16 white symbols of 1024 x 1024", kGenericSymbols, 16, 1024, 1, nullptr},
      {"16 white symbols of 1024 x 1024, twice", kGenericSymbols, 16, 1024, 2,
       "too many symbol pixels in one dictionary"},
      {"300 refined symbols of 1024 x 1024", kRefinedSymbols, 300, 1024, 1, "too many symbol pixels in one dictionary"},
      {"a million instances", kInstances, 1u << 20, 1024, 1, "more symbol instances than the coded data can place"},
      {"60000 instances", kInstances, 60000, 1024, 1, nullptr},
      {"60000 instances, twice", kInstances, 60000, 1024, 2, "more symbol instances than the coded data can place"},
      {"300 instances refined to 1024 x 1024", kRefinedInstances, 300, 1024, 1,
       "too many refined pixels for the coded data"},
      {"32768 patterns of 128 x 128 whose length claims 128 KiB more than the stream holds", kPatterns, 32768, 128,
       1, "segment data runs past the end of the stream", 1u << 17},
  };
  const Bytes at = {3, 0xFF, 0xFD, 0xFF, 2, 0xFE, 0xFE, 0xFE};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WhiteInput in;
    const uint32_t side = c.side, area = side * side;
    const bool dict = c.kind == kGenericSymbols || c.kind == kRefinedSymbols;
    // The integer fields' contexts, 512 each, then the symbol IDs' and the bitmap template's.
    enum Field : size_t { kDH, kDW, kAI, kRDX, kRDY, kDT, kFS, kDS, kRI, kRDW, kRDH, kIDs, kBitmap = kIDs + 2 };
    MqFields f(state, kBitmap * 512 + 65536);
    Bytes data;
    if (c.kind == kPatterns) {
      // Template 0; the first adaptive pixel one pattern to the left puts every pixel on the
      // decoder's slow path, a decision each.
      f.run(kBitmap * 512, 0, c.count * area);
      data = Bytes{0x00, uint8_t(side), uint8_t(side)} + be32(c.count - 1) + f.finish();
    } else if (dict) {
      f.num(kDH * 512, int32_t(side));
      for (uint32_t i = 0; i < c.count; ++i) {
        f.num(kDW * 512, i == 0 ? int32_t(side) : 0);
        if (c.kind == kRefinedSymbols) {
          // One instance: the input symbol (ID 0 of ceil(log2(1 + count)) bits), refined in place.
          f.num(kAI * 512, 1);
          for (size_t prev = 1; prev < (size_t{1} << ceillog2(1 + c.count)); prev <<= 1) f.run(kIDs * 512 + prev, 0, 1);
          f.num(kRDX * 512, 0).num(kRDY * 512, 0);
        }
        f.run(kBitmap * 512, 0, area);
      }
      f.num(kDW * 512, 0, true);
      const uint16_t flags = c.kind == kRefinedSymbols ? kRefAgg | 1 << 12 : 0;
      data = be16(flags) + at + be32(0) + be32(c.count) + f.finish();
    } else {
      // One strip; every instance of the single symbol (IDs of no bits) one pixel right of the last.
      f.num(kDT * 512, 0).num(kDT * 512, 0).num(kFS * 512, 0);
      for (uint32_t i = 0; i < c.count; ++i) {
        if (c.kind == kRefinedInstances) {
          f.num(kRI * 512, 1).num(kRDW * 512, int32_t(side) - 1).num(kRDH * 512, int32_t(side) - 1);
          f.num(kRDX * 512, 1 - int32_t(side / 2)).num(kRDY * 512, 1 - int32_t(side / 2)).run(kBitmap * 512, 0, area);
        } else {
          f.num(kRI * 512, 0);
        }
        f.num(kDS * 512, 0, i + 1 == c.count);
      }
      const uint16_t flags = 2 | 1 << 15;  // refinement allowed, template 1
      data = be32(side) + be32(side) + be32(0) + be32(0) + Bytes{0} + be16(flags) + be32(c.count) + f.finish();
    }
    EXPECT_LT(data.size(), 8000u);
    // A stream of its own.
    jb2FreeFile(file);
    ASSERT_EQ(jb2CreateFile(nullptr, nullptr, state, &file), VLT_OK);
    SegmentInfo seg{};
    VltStatus st = VLT_OK;
    const auto start = std::chrono::steady_clock::now();
    for (int k = 0; k < c.segments; ++k) {
      if (k != 0) {
        ASSERT_EQ(st, VLT_OK) << printed.text;
        jb2FreeSegmentInfo(&seg, state);
        seg = SegmentInfo{};
      }
      if (c.kind == kPatterns) {
        // Through the segment reader, which alone knows where the stream ends.
        seg.type = JB2_SEG_PATTERN_DICT;
        seg.dataLength = static_cast<uint32_t>(data.size()) + c.missing;
        DataSource src;
        jb2test::memory_source(&src, state, data.data(), data.size());
        printed = {};
        st = jb2DecodeSegment(file, &src, &seg, nullptr);
      } else {
        st = decode(dict ? jb2DecodeSymDict : jb2DecodeSymReg, dict ? JB2_SEG_SYMBOL_DICT : JB2_SEG_TEXT_IMMEDIATE,
                    data, &seg, {&in.seg});
      }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (c.message != nullptr) {
      EXPECT_EQ(st, c.missing != 0 ? VLT_ERR_IO_LENGTH : 107);
      EXPECT_NE(printed.text.find(c.message), std::string::npos) << printed.text;
    } else {
      EXPECT_EQ(st, VLT_OK) << printed.text;
    }
    // Seconds of decisions before; now a few milliseconds, well under the bound with sanitizers.
    EXPECT_LT(seconds, 2.0);
    jb2FreeSegmentInfo(&seg, state);
  }
}

// 16384 white patterns of 64 x 64 in a few hundred MQ-coded bytes: refused at once, not decoded
// for seconds; 256 of them still decode.
TEST_F(SymbolDecodeTest, WhitePatternsBeyondTheirBytesAreRefusedQuickly) {
  for (const uint32_t count : {16384u, 256u}) {
    SCOPED_TRACE(count);
    MqFields f(state, 65536);
    const Bytes data = Bytes{0x00, 64, 64} + be32(count - 1) + f.run(0, 0, count * 64 * 64).finish();
    EXPECT_LT(data.size(), 1000u);
    SegmentInfo seg{};
    const auto start = std::chrono::steady_clock::now();
    const VltStatus st = decode(jb2DecodeHTDict, JB2_SEG_PATTERN_DICT, data, &seg);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 2.0);
    if (count > 256) {
      EXPECT_EQ(st, 107);
      EXPECT_NE(printed.text.find("coded data too short for its size"), std::string::npos) << printed.text;
    } else {
      EXPECT_EQ(st, VLT_OK) << printed.text;
      EXPECT_EQ(seg.body.patternDict.count, 256);
    }
    jb2FreeSegmentInfo(&seg, state);
  }
}
