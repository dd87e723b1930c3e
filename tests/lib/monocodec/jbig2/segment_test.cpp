// The stream context, the segment header writer and the page-level segments, byte for byte.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "jb2_encode.h"
#include "jb2_fixture.h"
#include "jb2_test_stream.h"

namespace {

using jb2test::Bytes;
using jb2test::MemoryStream;

Bytes hex(const std::string& s) {
  Bytes b;
  std::string digits;
  for (char c : s)
    if (c != ' ') digits += c;
  for (size_t i = 0; i + 1 < digits.size(); i += 2)
    b.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  return b;
}

struct SegmentTest : Jb2Test {};

// ---- Stream context -------------------------------------------------------------------------

void* scribbled_malloc(size_t n) {
  void* p = std::malloc(n);
  if (p != nullptr) std::memset(p, 0xA5, n);
  return p;
}

TEST_F(SegmentTest, ContextStartsWithDefaultsAndZeroedReservedBytes) {
  // Memory that arrives dirty must not leak into the parameter block.
  VltMemFuncs dirty{scribbled_malloc, std::free, std::calloc, std::realloc};
  VltState* s = nullptr;
  ASSERT_EQ(Vlt_initVltState(&s, &dirty, nullptr, nullptr, nullptr, 0, 0), VLT_OK);
  DataSink a{}, b{};
  Jb2File* f = nullptr;
  ASSERT_EQ(jb2CreateFile(&a, &b, s, &f), VLT_OK);
  Jb2FileParams want{};
  want.sdAllowTuned = 1;
  want.generic = Jb2GenericParams{2, {2, -3, 2, -2}, {-1, -1, -2, -2}, 0};
  want.trAllowTuned = 1;
  want.pdTemplate = 2;
  EXPECT_EQ(std::memcmp(jb2GetFileParams(f), &want, sizeof want), 0);
  EXPECT_EQ(jb2GetFileSegnum(f), 0u);
  EXPECT_EQ(jb2GetFileHeaderDataSink(f), &a);
  EXPECT_EQ(jb2GetFileDataSink(f), &b);
  EXPECT_EQ(jb2GetFileVlt_State(f), s);
  EXPECT_EQ(jb2FileNextSegmentNumber(f), 0u);
  EXPECT_EQ(jb2FileNextSegmentNumber(f), 1u);
  jb2SetFileSegnum(f, 700);
  EXPECT_EQ(jb2FileNextSegmentNumber(f), 700u);
  // The block goes in and comes out whole.
  uint8_t block[32];
  for (int i = 0; i < 32; ++i) block[i] = static_cast<uint8_t>(i * 7 + 1);
  jb2SetFileParams(f, reinterpret_cast<const Jb2FileParams*>(block));
  EXPECT_EQ(std::memcmp(jb2GetFileParams(f), block, 32), 0);
  jb2FreeFile(f);
  Vlt_cleanupVltState(&s);
}

TEST_F(SegmentTest, ContextCreationFailure) {
  DataSink a{};
  Jb2File* f = reinterpret_cast<Jb2File*>(1);
  alloc.fail_at(1);
  EXPECT_EQ(jb2CreateFile(&a, &a, state, &f), VLT_ERR_NOMEM);
  EXPECT_EQ(f, reinterpret_cast<Jb2File*>(1));
  EXPECT_EQ(printed.codes, std::vector<int32_t>{VLT_ERR_NOMEM});
  // Without a reporter the failure is only returned.
  VltState* quiet = nullptr;
  ASSERT_EQ(Vlt_initVltState(&quiet, &mem, nullptr, nullptr, nullptr, 0, 0), VLT_OK);
  alloc.fail_at(1);
  EXPECT_EQ(jb2CreateFile(&a, &a, quiet, &f), VLT_ERR_NOMEM);
  Vlt_cleanupVltState(&quiet);
}

// ---- Segment headers ------------------------------------------------------------------------

struct HeaderCase {
  const char* what;
  uint32_t number;
  uint8_t type;
  uint32_t page;
  uint8_t retain, deferred;
  std::vector<uint32_t> referred;
  std::vector<uint8_t> flags;
  const char* bytes;  // with the data length 0x01020304
};

TEST_F(SegmentTest, HeaderVectors) {
  const std::vector<uint8_t> none;
  const HeaderCase cases[] = {
      {"nothing referred", 3, 38, 1, 0, 0, {}, {}, "00000003 26 00 01 01020304"},
      {"one-byte referred numbers up to 256",
       256,
       38,
       1,
       0,
       0,
       {255},
       {0},
       "00000100 26 20 FF 01 01020304"},
      {"two-byte numbers from 257",
       257,
       38,
       1,
       0,
       0,
       {255},
       {0},
       "00000101 26 20 00FF 01 01020304"},
      {"two-byte numbers up to 65536",
       65536,
       38,
       1,
       0,
       0,
       {300},
       {0},
       "00010000 26 20 012C 01 01020304"},
      {"four-byte numbers beyond",
       65537,
       38,
       1,
       0,
       0,
       {65536},
       {0},
       "00010001 26 20 00010000 01 01020304"},
      {"page 255", 0, 48, 255, 0, 0, {}, {}, "00000000 30 00 FF 01020304"},
      {"page 256", 0, 48, 256, 0, 0, {}, {}, "00000000 70 00 00000100 01020304"},
      {"deferred", 9, 38, 1, 0, 1, {}, {}, "00000009 A6 00 01 01020304"},
      {"four referred, short form with retention",
       10,
       6,
       1,
       1,
       0,
       {0, 1, 2, 3},
       {1, 0, 1, 0},
       "0000000A 06 8B 00010203 01 01020304"},
      {"five referred, long form",
       10,
       6,
       1,
       1,
       0,
       {0, 1, 2, 3, 4},
       {0, 0, 0, 0, 1},
       "0000000A 06 E0000005 21 0001020304 01 01020304"},
      {"eight referred, two retention bytes",
       10,
       6,
       1,
       0,
       0,
       {0, 1, 2, 3, 4, 5, 6, 7},
       {0, 0, 0, 0, 0, 0, 0, 1},
       "0000000A 06 E0000008 00 01 0001020304050607 01 01020304"},
  };
  for (const HeaderCase& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryStream s(state);
    SegmentInfo seg{};
    seg.number = c.number;
    seg.type = c.type;
    seg.page = c.page;
    seg.retain = c.retain;
    seg.deferred = c.deferred;
    std::vector<uint32_t> refs = c.referred;
    std::vector<uint8_t> flags = c.flags;
    seg.referredCount = static_cast<int32_t>(refs.size());
    seg.referred = refs.data();
    seg.referredRetain = flags.data();
    ASSERT_EQ(jb2EncodeSegmentHeader(s.file(), &seg), VLT_OK);
    seg.dataLength = 0x01020304;
    ASSERT_EQ(jb2EncodeSegmentHeaderDataLength(s.file(), &seg), VLT_OK);
    EXPECT_EQ(s.finish(), hex(c.bytes));
  }
}

TEST_F(SegmentTest, HeaderRefusesForwardReferences) {
  MemoryStream s(state);
  uint32_t refs[] = {4, 5};
  uint8_t flags[] = {0, 0};
  SegmentInfo seg{};
  seg.number = 5;
  seg.referredCount = 2;
  seg.referred = refs;
  seg.referredRetain = flags;
  EXPECT_EQ(jb2EncodeSegmentHeader(s.file(), &seg), VLT_ERR_ASSERT);
  EXPECT_TRUE(printed.codes.empty());
  EXPECT_TRUE(s.finish().empty());
}

TEST_F(SegmentTest, DataLengthFilledAcrossAChunkEnd) {
  MemoryStream s(state);
  Bytes pad(JB2_MEMSINK_CHUNK - 8, 0);
  ASSERT_EQ(jb2WriteBytes(s.file(), s.sink(), pad.data(), static_cast<uint32_t>(pad.size())),
            VLT_OK);
  SegmentInfo seg{};
  seg.page = 1;
  seg.body.endOfStripe.endRow = 99;
  ASSERT_EQ(jb2EncodeEOStripe(s.file(), &seg), VLT_OK);  // its length field straddles the end
  const Bytes out = s.finish();
  EXPECT_EQ(Bytes(out.begin() + static_cast<long>(pad.size()), out.end()),
            hex("00000000 32 00 01 00000004 00000063"));
}

TEST_F(SegmentTest, RegionInformationAndReferredLists) {
  MemoryStream s(state);
  const Jb2RegionInfo r{2550, 3300, 7, 0x01020304, JB2_COMBOP_REPLACE};
  ASSERT_EQ(jb2EncodeRegSegment(s.file(), s.sink(), &r), VLT_OK);
  const Jb2RegionInfo bad{1, 1, 0, 0, 5};
  EXPECT_EQ(jb2EncodeRegSegment(s.file(), s.sink(), &bad), VLT_ERR_ASSERT);
  EXPECT_EQ(s.finish(), hex("000009F6 00000CE4 00000007 01020304 04"));

  SegmentInfo a{}, b{}, c{}, seg{};
  a.number = 3;
  b.number = 7;
  c.number = 9;
  SegmentInfo* first[] = {&a, &b};
  SegmentInfo* second[] = {&c};
  // Out of memory on the numbers, then on the flags: the list keeps its count.
  alloc.fail_at(1);
  EXPECT_EQ(jb2AddReferencedSegments(s.file(), &seg, first, 2), VLT_ERR_NOMEM);
  EXPECT_EQ(seg.referredCount, 0);
  alloc.fail_at(2);
  EXPECT_EQ(jb2AddReferencedSegments(s.file(), &seg, first, 2), VLT_ERR_NOMEM);
  EXPECT_EQ(seg.referredCount, 0);
  ASSERT_EQ(jb2AddReferencedSegments(s.file(), &seg, first, 2), VLT_OK);
  ASSERT_EQ(jb2AddReferencedSegments(s.file(), &seg, second, 1), VLT_OK);
  ASSERT_EQ(seg.referredCount, 3);
  EXPECT_EQ(std::vector<uint32_t>(seg.referred, seg.referred + 3),
            (std::vector<uint32_t>{3, 7, 9}));
  EXPECT_EQ(std::vector<uint8_t>(seg.referredRetain, seg.referredRetain + 3),
            (std::vector<uint8_t>{0, 0, 0}));
  state->free(seg.referred);
  state->free(seg.referredRetain);
  // A count without its arrays is an inconsistent record.
  SegmentInfo broken{};
  broken.referredCount = 2;
  EXPECT_EQ(jb2AddReferencedSegments(s.file(), &broken, second, 1), VLT_ERR_ASSERT);
}

// ---- Page-level segments ------------------------------------------------------------------

TEST_F(SegmentTest, PageInformationFlagsAndStriping) {
  struct Case {
    const char* what;
    Jb2PageInfo info;
    const char* data;
  };
  const Case cases[] = {
      {"striped",
       {2550, 3300, 11811, 11811, 0, 0, 0, 0, 0, 0, 1, 1000},
       "000009F6 00000CE4 00002E23 00002E23 00 83E8"},
      {"not striped: the size is ignored",
       {1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1000},
       "00000001 00000002 00000000 00000000 00 0000"},
      {"combination operator 2",
       {1, 1, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0},
       "00000001 00000001 00000000 00000000 10 0000"},
      {"every flag",
       {1, 1, 0, 0, 1, 1, 1, 3, 1, 1, 0, 0},
       "00000001 00000001 00000000 00000000 7F 0000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryStream s(state);
    jb2SetFileSegnum(s.file(), 4);
    SegmentInfo seg{};
    seg.page = 1;
    seg.retain = 1;  // cleared by the writer
    seg.body.pageInfo = c.info;
    ASSERT_EQ(jb2EncodePageInfo(s.file(), &seg), VLT_OK);
    EXPECT_EQ(seg.number, 4u);
    EXPECT_EQ(seg.dataLength, 19u);
    EXPECT_EQ(s.finish(), hex(std::string("00000004 30 00 01 00000013 ") + c.data));
  }
}

TEST_F(SegmentTest, PageSegmentsWithoutDataAndRefusals) {
  MemoryStream s(state);
  SegmentInfo seg{};
  // Page 0 takes a number and writes nothing.
  EXPECT_EQ(jb2EncodePageInfo(s.file(), &seg), VLT_ERR_ASSERT);
  EXPECT_EQ(jb2EncodeEOStripe(s.file(), &seg), VLT_ERR_ASSERT);
  EXPECT_EQ(jb2GetFileSegnum(s.file()), 2u);
  seg.page = 1;
  seg.body.pageInfo.striped = 1;
  seg.body.pageInfo.maxStripe = 0x8000;
  EXPECT_EQ(jb2EncodePageInfo(s.file(), &seg), VLT_ERR_PARAM);
  ASSERT_EQ(jb2EncodeEOPage(s.file(), &seg), VLT_OK);
  SegmentInfo eof{};
  ASSERT_EQ(jb2EncodeEOFile(s.file(), &eof), VLT_OK);
  EXPECT_EQ(s.finish(), hex("00000003 31 00 01 00000000  00000004 33 00 00 00000000"));
}

}  // namespace
