// Reading segments: headers in every form, the lookup of referred segments, dispatch, the bounded
// view each decoder reads through, the small shared pieces, and the segments without a bitmap
// (page information, end markers, extensions, profiles).

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "byteorder.h"
#include "jb2_decode.h"
#include "jb2_fixture.h"
#include "jb2_page_reader.h"
#include "jb2_test_stream.h"

namespace {

using jb2test::Bytes;

struct ReadTest : Jb2ReadTest {

  // One segment as our header writer lays it out, followed by its data; length overrides the
  // data length field.
  Bytes segment(uint32_t number, uint8_t type, const std::vector<uint32_t>& refs, uint32_t page,
                const Bytes& data, int64_t length = -1) {
    jb2test::MemoryStream s(state);
    SegmentInfo seg{};
    seg.number = number;
    seg.type = type;
    seg.page = page;
    std::vector<uint8_t> retain(refs.size());
    for (size_t i = 0; i < refs.size(); ++i) retain[i] = i % 2;
    seg.referredCount = static_cast<int32_t>(refs.size());
    seg.referred = const_cast<uint32_t*>(refs.data());
    seg.referredRetain = retain.data();
    seg.dataLength = length < 0 ? static_cast<uint32_t>(data.size()) : static_cast<uint32_t>(length);
    jb2test::check(jb2EncodeSegmentHeader(s.file(), &seg), "header");
    jb2test::check(jb2EncodeSegmentHeaderDataLength(s.file(), &seg), "length");
    Bytes out = s.finish();
    out.insert(out.end(), data.begin(), data.end());
    return out;
  }

  // Reads one header from bytes; the record is emptied again by the caller.
  VltStatus header(const Bytes& b, SegmentInfo* seg, DataSource* src) {
    jb2test::memory_source(src, state, b.data(), b.size());
    return jb2DecodeSegmentHeader(file, src, seg);
  }

  // Header and data of one segment with the referred records given.
  VltStatus read(const Bytes& b, SegmentInfo* seg, SegmentInfo** referred = nullptr) {
    DataSource src;
    VltStatus st = header(b, seg, &src);
    if (st == VLT_OK) st = jb2DecodeSegment(file, &src, seg, referred);
    return st;
  }
};

Bytes be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// ---- Headers ---------------------------------------------------------------------------------

TEST_F(ReadTest, HeadersOfEveryFormReadBackAsWritten) {
  struct Case {
    uint32_t number;
    std::vector<uint32_t> refs;
    uint32_t page;
    size_t refBytes;  // bytes of one referred number
  };
  const Case cases[] = {
      {3, {}, 1, 1},
      {256, {0, 255}, 1, 1},           // numbers up to 256 refer in one byte
      {257, {256, 1}, 2, 2},           // from 257 in two
      {65536, {65535}, 1, 2},
      {65537, {65536, 7}, 300, 4},     // from 65537 in four; page in four bytes
      {40, {1, 2, 3, 4, 5, 6, 7}, 1, 1},     // long form, one retention byte
      {40, {1, 2, 3, 4, 5, 6, 7, 8}, 1, 1},  // long form, two retention bytes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    const Bytes b = segment(c.number, JB2_SEG_END_OF_STRIPE, c.refs, c.page, be32(9));
    const size_t countBytes = c.refs.size() > 4 ? 4 + (c.refs.size() + 8) / 8 : 1;
    EXPECT_EQ(b.size(), 4 + 1 + countBytes + c.refs.size() * c.refBytes + (c.page > 255 ? 4 : 1) + 4 + 4);
    SegmentInfo seg{};
    DataSource src;
    ASSERT_EQ(header(b, &seg, &src), VLT_OK) << printed.text;
    EXPECT_EQ(seg.number, c.number);
    EXPECT_EQ(seg.type, JB2_SEG_END_OF_STRIPE);
    EXPECT_EQ(seg.page, c.page);
    EXPECT_EQ(seg.dataLength, 4u);
    ASSERT_EQ(seg.referredCount, static_cast<int32_t>(c.refs.size()));
    for (size_t i = 0; i < c.refs.size(); ++i) {
      EXPECT_EQ(seg.referred[i], c.refs[i]);
      EXPECT_EQ(seg.referredRetain[i], i % 2);
    }
    EXPECT_EQ(src.pos, b.size() - 4);  // just before the data
    jb2FreeSegmentInfo(&seg, state);
  }
}

TEST_F(ReadTest, HeaderFlagsAndRetention) {
  // Number 9, deferred, 4-byte page, type 50; short form with 2 referred segments, this
  // segment's retain bit and the second referred one's set.
  const Bytes b = be32(9) + Bytes{0x80 | 0x40 | 50, 0x40 | 0x04 | 0x01, 3, 4} + be32(77) + be32(4);
  SegmentInfo seg{};
  DataSource src;
  ASSERT_EQ(header(b, &seg, &src), VLT_OK);
  EXPECT_EQ(seg.deferred, 1);
  EXPECT_EQ(seg.retain, 1);
  EXPECT_EQ(seg.page, 77u);
  ASSERT_EQ(seg.referredCount, 2);
  EXPECT_EQ(seg.referredRetain[0], 0);
  EXPECT_EQ(seg.referredRetain[1], 1);
  jb2FreeSegmentInfo(&seg, state);
}

TEST_F(ReadTest, BadHeadersAreRefusedWithNothingLeft) {
  struct Case {
    const char* name;
    Bytes bytes;
    VltStatus status;
    const char* message;
  };
  const Case cases[] = {
      {"refers to itself", be32(5) + Bytes{48, 0x20, 5, 1} + be32(0), VLT_ERR_CODEC, "bad referenced segment number"},
      {"refers forward", be32(5) + Bytes{48, 0x40, 1, 6, 1} + be32(0), VLT_ERR_CODEC, "bad referenced segment number"},
      {"short-form count 5", be32(9) + Bytes{48, 0xA0, 1, 2, 3, 4, 5, 1} + be32(0), VLT_ERR_CODEC, "bad referred-to segment count"},
      {"short-form count 6", be32(9) + Bytes{48, 0xC0, 1, 2, 3, 4, 5, 6, 1} + be32(0), VLT_ERR_CODEC, "bad referred-to segment count"},
      // A long-form count of half a billion in a few bytes: refused when the bytes run out,
      // without having sized anything from the count.
      {"huge count", be32(9) + Bytes{48, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0}, VLT_ERR_IO_LENGTH, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    printed = {};
    const size_t peak = alloc.peak_bytes();
    SegmentInfo seg{};
    DataSource src;
    EXPECT_EQ(header(c.bytes, &seg, &src), c.status);
    EXPECT_EQ(seg.referred, nullptr);
    EXPECT_EQ(seg.referredRetain, nullptr);
    if (c.message != nullptr) {
      EXPECT_NE(printed.text.find(c.message), std::string::npos) << printed.text;
    }
    EXPECT_LT(alloc.peak_bytes() - peak, size_t{1} << 16);
  }
  // Every cut of a long header runs short.
  const Bytes whole = segment(70000, JB2_SEG_END_OF_STRIPE, {1, 2, 3, 4, 5, 6, 7, 8, 9}, 400, {});
  for (size_t n = 0; n < whole.size(); ++n) {
    SegmentInfo seg{};
    DataSource src;
    EXPECT_EQ(header(Bytes(whole.begin(), whole.begin() + static_cast<long>(n)), &seg, &src), VLT_ERR_IO_LENGTH) << n;
    EXPECT_EQ(seg.referred, nullptr);
  }
}

TEST_F(ReadTest, HeaderAllocationFailuresLeaveNothing) {
  const Bytes b = segment(70000, JB2_SEG_END_OF_STRIPE, {1, 2, 3, 4, 5, 6, 7, 8, 9}, 1, be32(0));
  for (size_t k = 1;; ++k) {
    alloc.fail_at(k);
    SegmentInfo seg{};
    DataSource src;
    const VltStatus st = header(b, &seg, &src);
    alloc.fail_at(0);
    if (st == VLT_OK) {
      jb2FreeSegmentInfo(&seg, state);
      break;
    }
    EXPECT_EQ(st, VLT_ERR_NOMEM);
    EXPECT_EQ(alloc.live_blocks(), baseline + 1) << "after failing allocation " << k;  // the file
  }
}

// ---- Referred segments and dispatch ------------------------------------------------------------

TEST_F(ReadTest, MarshalFindsReferredRecordsInHeaderOrder) {
  VltAdtList* list = nullptr;
  ASSERT_EQ(VltAdt_liNew(&list, state), VLT_OK);
  std::vector<SegmentInfo> records(10);
  for (uint32_t i = 0; i < 10; ++i) {
    records[i].number = i + 1;
    ASSERT_EQ(VltAdt_liAdd(list, &records[i], nullptr), VLT_OK);
  }
  uint32_t refs[] = {5, 3, 9, 9};  // 3 restarts at the head, 9 goes on
  SegmentInfo seg{};
  seg.number = 20;
  seg.referredCount = 4;
  seg.referred = refs;
  SegmentInfo** out = nullptr;
  ASSERT_EQ(jb2MarshalSegments(file, &seg, list, &out), VLT_OK);
  EXPECT_EQ(out[0], &records[4]);
  EXPECT_EQ(out[1], &records[2]);
  EXPECT_EQ(out[2], &records[8]);
  EXPECT_EQ(out[3], &records[8]);
  state->free(out);
  // A number that is not among them.
  refs[2] = 15;
  out = reinterpret_cast<SegmentInfo**>(1);
  EXPECT_EQ(jb2MarshalSegments(file, &seg, list, &out), VLT_ERR_NULL);
  EXPECT_EQ(out, nullptr);
  seg.referredCount = 0;
  EXPECT_EQ(jb2MarshalSegments(file, &seg, list, &out), VLT_OK);
  EXPECT_EQ(out, nullptr);
  VltAdt_liFree(list);
}

TEST_F(ReadTest, TypesWithoutDecoder) {
  struct Case {
    uint8_t type;
    VltStatus status;
    const char* message;
  };
  const Case cases[] = {
      {1, VLT_ERR_CODEC, "bad segment type"},
      {37, VLT_ERR_CODEC, "bad segment type"},
      {63, VLT_ERR_CODEC, "bad segment type"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.type));
    printed = {};
    SegmentInfo seg{};
    EXPECT_EQ(read(segment(4, c.type, {1, 2}, 1, Bytes(30, 0)), &seg), c.status);
    EXPECT_NE(printed.text.find(c.message), std::string::npos) << printed.text;
    EXPECT_EQ(jb2RenderRegion(file, &seg), VLT_ERR_CODEC);
    jb2FreeSegmentInfo(&seg, state);  // only the referred arrays
    EXPECT_EQ(seg.referred, nullptr);
  }
  EXPECT_EQ(jb2IsRegionSegment(6), 1);
  EXPECT_EQ(jb2IsRegionSegment(43), 1);
  EXPECT_EQ(jb2IsRegionSegment(48), 0);
  EXPECT_EQ(jb2IsRegionSegment(16), 0);
}

TEST_F(ReadTest, DecodersReadOnlyTheirSegmentAndLeftoversAreSkipped) {
  // Page information with six bytes more than it reads, a profiles segment with data, an end
  // of stripe: each next header is found where the last segment's data ends.
  const Bytes page = be32(10) + be32(20) + be32(0) + be32(0) + Bytes{0x01, 0x80, 0x10} + Bytes(6, 0xEE);
  const Bytes stream = segment(0, JB2_SEG_PAGE_INFO, {}, 1, page) + segment(1, JB2_SEG_PROFILES, {}, 1, Bytes(5, 7)) +
                       segment(2, JB2_SEG_END_OF_STRIPE, {}, 1, be32(19));
  jb2test::WindowSource w(state, stream, {3, 1, 5});
  for (uint32_t n = 0; n < 3; ++n) {
    SegmentInfo seg{};
    ASSERT_EQ(jb2DecodeSegmentHeader(file, &w.source, &seg), VLT_OK);
    EXPECT_EQ(seg.number, n);
    ASSERT_EQ(jb2DecodeSegment(file, &w.source, &seg, nullptr), VLT_OK) << printed.text;
    if (n == 0) {
      EXPECT_EQ(seg.body.pageInfo.maxStripe, 16);
    }
    if (n == 2) {
      EXPECT_EQ(seg.body.endOfStripe.endRow, 19u);
    }
    jb2FreeSegmentInfo(&seg, state);
  }
  // Data that stops short of the length: never read from the segment after it.
  SegmentInfo seg{};
  const Bytes cut = segment(0, JB2_SEG_PAGE_INFO, {}, 1, Bytes(page.begin(), page.begin() + 12), 19) +
                    segment(1, JB2_SEG_END_OF_PAGE, {}, 1, {});
  EXPECT_EQ(read(Bytes(cut.begin(), cut.begin() + 11 + 12), &seg), VLT_ERR_IO_LENGTH);
  // A decoder that reads little from a segment that runs past the stream: the skip fails.
  printed = {};
  EXPECT_EQ(read(segment(0, JB2_SEG_PROFILES, {}, 1, Bytes(3, 0), 50), &seg), VLT_ERR_IO_LENGTH);
  EXPECT_EQ(printed.codes, std::vector<int32_t>{VLT_ERR_IO_LENGTH});
  // Only generic regions may leave their length open.
  printed = {};
  EXPECT_EQ(read(segment(0, JB2_SEG_END_OF_STRIPE, {}, 1, be32(3), 0xFFFFFFFF), &seg), VLT_ERR_CODEC);
  EXPECT_NE(printed.text.find("unknown data length"), std::string::npos);
  jb2FreeSegmentInfo(&seg, state);
}

// ---- Shared pieces ---------------------------------------------------------------------------

TEST_F(ReadTest, RegionInformationField) {
  struct Case {
    uint8_t flags;
    VltStatus status;
    const char* message;
  };
  const Case cases[] = {{0, VLT_OK, nullptr}, {4, VLT_OK, nullptr}, {5, VLT_ERR_CODEC, "bad combination operator"},
                        {0x08, VLT_ERR_CODEC, "bad region flags"}, {0x84, VLT_ERR_CODEC, "bad region flags"}};
  for (const Case& c : cases) {
    printed = {};
    const Bytes b = be32(3) + be32(4) + be32(5) + be32(6) + Bytes{c.flags};
    DataSource src;
    jb2test::memory_source(&src, state, b.data(), b.size());
    Jb2RegionInfo r{};
    EXPECT_EQ(jb2DecodeRegSegment(file, &src, &r), c.status) << int(c.flags);
    if (c.status == VLT_OK) {
      EXPECT_EQ(r.width, 3u);
      EXPECT_EQ(r.y, 6u);
      EXPECT_EQ(r.combOp, c.flags);
    } else {
      EXPECT_NE(printed.text.find(c.message), std::string::npos);
    }
  }
  DataSource src;
  const Bytes shortField(16, 0);
  jb2test::memory_source(&src, state, shortField.data(), shortField.size());
  Jb2RegionInfo r{};
  EXPECT_EQ(jb2DecodeRegSegment(file, &src, &r), VLT_ERR_IO_LENGTH);
  // Sizes beyond the limit, in either direction or as an area.
  EXPECT_EQ(jb2CheckRegionSize(file, 1u << 15, 1u << 15), VLT_OK);
  EXPECT_EQ(jb2CheckRegionSize(file, (1u << 15) + 1, 1u << 15), VLT_ERR_CODEC);
  EXPECT_EQ(jb2CheckRegionSize(file, 0xFFFFFFFFu, 0), VLT_ERR_CODEC);
}

TEST_F(ReadTest, ReadoutCutsARectangleOutOfPackedRows) {
  // 100-bit source rows of 4 words; 40 bits from bit 5 land in 2 words, the second holding 8.
  const uint32_t src[2][4] = {{0x0FFFFFFFu, 0xFFFFFFFFu, 0x80000001u, 0xFFFFFFFFu},
                              {0x04000000u, 0x00000000u, 0x00800000u, 0x00000000u}};
  uint8_t srcBytes[32];
  for (int r = 0; r < 2; ++r)
    for (int k = 0; k < 4; ++k) mono::store_be32(srcBytes + 16 * r + 4 * k, src[r][k]);
  uint8_t dst[16];
  std::memset(dst, 0xAA, sizeof dst);
  jb2ReadoutBits(srcBytes, 5, 100, 2, dst, 40);
  EXPECT_EQ(mono::load_be32(dst), 0xFFFFFFFFu);
  EXPECT_EQ(mono::load_be32(dst + 4), 0xFF000000u);
  EXPECT_EQ(mono::load_be32(dst + 8), 0x80000000u);
  EXPECT_EQ(mono::load_be32(dst + 12), 0x00000000u);
  // The last words of the source rows are never read past.
  jb2ReadoutBits(srcBytes, 96, 100, 2, dst, 4);
  EXPECT_EQ(mono::load_be32(dst), 0xF0000000u);
  EXPECT_EQ(mono::load_be32(dst + 4), 0x00000000u);
}

TEST_F(ReadTest, UserTablesAreTakenInOrder) {
  SegmentInfo t1{}, t2{}, other{};
  t1.type = t2.type = JB2_SEG_TABLES;
  other.type = JB2_SEG_SYMBOL_DICT;
  SegmentInfo* refs[] = {&t1, &other, &t2};
  JhtTable* slots[2] = {};
  EXPECT_EQ(findUserTables(slots, 2, refs, 3, state), VLT_OK);
  EXPECT_EQ(slots[0], &t1.body.codeTable);
  EXPECT_EQ(slots[1], &t2.body.codeTable);
  EXPECT_EQ(findUserTables(slots, 1, refs, 3, state), VLT_ERR_PARAM);
  EXPECT_EQ(findUserTables(slots, 2, refs, 2, state), VLT_ERR_PARAM);
  EXPECT_EQ(findUserTables(slots, 0, refs + 1, 1, state), VLT_OK);
}

// ---- Page information, end markers, extensions ------------------------------------------------

TEST_F(ReadTest, PageInformationFields) {
  struct Case {
    uint8_t flags;
    uint16_t striping;
    VltStatus status;
  };
  const Case cases[] = {{0x7F, 0x8010, VLT_OK}, {0x00, 0x0010, VLT_OK}, {0x80, 0, VLT_ERR_CODEC}};
  for (const Case& c : cases) {
    printed = {};
    const Bytes data = be32(2550) + be32(0xFFFFFFFF) + be32(11811) + be32(11812) +
                       Bytes{c.flags, uint8_t(c.striping >> 8), uint8_t(c.striping)};
    SegmentInfo seg{};
    ASSERT_EQ(read(segment(0, JB2_SEG_PAGE_INFO, {}, 1, data), &seg), c.status);
    const Jb2PageInfo& p = seg.body.pageInfo;
    if (c.status != VLT_OK) {
      EXPECT_NE(printed.text.find("reserved flag is 1 in page info segment"), std::string::npos);
      continue;
    }
    EXPECT_EQ(p.width, 2550u);
    EXPECT_EQ(p.height, 0xFFFFFFFFu);
    EXPECT_EQ(p.xResolution, 11811u);
    EXPECT_EQ(p.yResolution, 11812u);
    const int all = c.flags == 0x7F;
    EXPECT_EQ(p.eventuallyLossless, all);
    EXPECT_EQ(p.mightRefine, all);
    EXPECT_EQ(p.defaultPixel, all);
    EXPECT_EQ(p.defaultCombOp, all ? 3 : 0);
    EXPECT_EQ(p.auxBuffers, all);
    EXPECT_EQ(p.combOpOverridden, all);
    EXPECT_EQ(p.striped, all);
    EXPECT_EQ(p.maxStripe, all ? 16 : 0);
  }
}

TEST_F(ReadTest, EndMarkersAndTheirRefusals) {
  struct Case {
    uint8_t type;
    std::vector<uint32_t> refs;
    Bytes data;
    const char* message;  // null: accepted
  };
  const Bytes info(19, 0);
  const Case cases[] = {
      {JB2_SEG_END_OF_PAGE, {}, {}, nullptr},
      {JB2_SEG_END_OF_FILE, {}, {}, nullptr},
      {JB2_SEG_END_OF_STRIPE, {}, be32(7), nullptr},
      {JB2_SEG_END_OF_PAGE, {}, {1}, "end of page segment has data!"},
      {JB2_SEG_END_OF_FILE, {}, {1}, "end of file segment has data!"},
      {JB2_SEG_PAGE_INFO, {0}, info, "page info segment referencing another segment"},
      {JB2_SEG_END_OF_PAGE, {0}, {}, "end of page segment referencing another segment"},
      {JB2_SEG_END_OF_STRIPE, {0}, be32(7), "end of stripe segment referencing another segment"},
      {JB2_SEG_END_OF_FILE, {0}, {}, "end of file segment referencing another segment"},
      {JB2_SEG_TABLES, {0}, Bytes(9, 0), "tables segment referencing another segment"},
  };
  SegmentInfo zero{};
  SegmentInfo* refs[] = {&zero};
  for (const Case& c : cases) {
    printed = {};
    SegmentInfo seg{};
    const VltStatus st = read(segment(3, c.type, c.refs, 1, c.data), &seg, refs);
    if (c.message == nullptr) {
      EXPECT_EQ(st, VLT_OK) << printed.text;
    } else {
      EXPECT_EQ(st, VLT_ERR_CODEC);
      EXPECT_NE(printed.text.find(c.message), std::string::npos) << printed.text;
    }
    jb2FreeSegmentInfo(&seg, state);
  }
}

Bytes ascii_comment(const std::vector<std::string>& strings) {
  Bytes b = be32(0x20000000);
  for (const std::string& s : strings) {
    b.insert(b.end(), s.begin(), s.end());
    b.push_back(0);
  }
  return b;
}

TEST_F(ReadTest, ExtensionSegments) {
  const std::string longName(100, 'n');
  {
    SegmentInfo seg{};
    ASSERT_EQ(read(segment(1, JB2_SEG_EXTENSION, {}, 1, ascii_comment({longName, "v1", "key2", "", ""})), &seg), VLT_OK);
    const Jb2Comment* c = seg.body.extension.comment;
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(c->count, 2);
    EXPECT_EQ(std::string(c->names[0]), longName);
    EXPECT_EQ(std::string(c->values[0]), "v1");
    EXPECT_EQ(std::string(c->names[1]), "key2");
    EXPECT_EQ(std::string(c->values[1]), "");
    jb2FreeSegmentInfo(&seg, state);
  }
  {
    SegmentInfo seg{};
    ASSERT_EQ(read(segment(1, JB2_SEG_EXTENSION, {}, 1, ascii_comment({""})), &seg), VLT_OK);
    EXPECT_EQ(seg.body.extension.comment->count, 0);
    jb2FreeSegmentInfo(&seg, state);
  }
  {
    SegmentInfo seg{};
    ASSERT_EQ(read(segment(1, JB2_SEG_EXTENSION, {}, 1, be32(0x00524156) + Bytes{1, 2, 3}), &seg), VLT_OK);
    ASSERT_EQ(seg.body.extension.length, 3u);
    EXPECT_EQ(Bytes(seg.body.extension.payload, seg.body.extension.payload + 3), (Bytes{1, 2, 3}));
    jb2FreeSegmentInfo(&seg, state);
  }
  // Kinds a reader may ignore are skipped with their data; a necessary one is refused.
  const Bytes after = segment(2, JB2_SEG_END_OF_STRIPE, {}, 1, be32(5));
  for (const uint32_t type : {0x20000001u, 0x20000002u, 0x00000000u}) {
    SegmentInfo seg{};
    DataSource src;
    const Bytes b = segment(1, JB2_SEG_EXTENSION, {}, 1, be32(type) + Bytes(9, 0xFF)) + after;
    ASSERT_EQ(header(b, &seg, &src), VLT_OK);
    EXPECT_EQ(jb2DecodeSegment(file, &src, &seg, nullptr), VLT_OK) << std::hex << type;
    jb2FreeSegmentInfo(&seg, state);
    ASSERT_EQ(jb2DecodeSegmentHeader(file, &src, &seg), VLT_OK);
    EXPECT_EQ(seg.number, 2u);
    jb2FreeSegmentInfo(&seg, state);
  }
  printed = {};
  SegmentInfo seg{};
  EXPECT_EQ(read(segment(1, JB2_SEG_EXTENSION, {}, 1, be32(0x80000001) + Bytes(4, 0)), &seg), VLT_ERR_CODEC);
  EXPECT_NE(printed.text.find("unrecognised segment type"), std::string::npos);
  // A comment whose last string is cut by the segment's end, and every allocation failing.
  printed = {};
  EXPECT_EQ(read(segment(1, JB2_SEG_EXTENSION, {}, 1, ascii_comment({"a", "b"}) + Bytes{'c', 'd'}), &seg),
            VLT_ERR_IO_LENGTH);
  const Bytes good = segment(1, JB2_SEG_EXTENSION, {}, 1, ascii_comment({longName, "x", "y", "z", "w", "q", ""}));
  for (size_t k = 1;; ++k) {
    alloc.fail_at(k);
    const VltStatus st = read(good, &seg);
    alloc.fail_at(0);
    jb2FreeSegmentInfo(&seg, state);
    if (st == VLT_OK) break;
    EXPECT_EQ(st, VLT_ERR_NOMEM);
    EXPECT_EQ(alloc.live_blocks(), baseline + 1) << k;
  }
}

}  // namespace
