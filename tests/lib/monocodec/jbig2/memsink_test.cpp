// The memory sink: chunk growth, marks filled across chunk ends, refused fills, closing, and
// every allocation failure on the way.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "jb2_fixture.h"
#include "jb2_memsink.h"
#include "jb2_test_stream.h"

namespace {

using jb2test::Bytes;
using jb2test::join_chunks;

struct MemSinkTest : Jb2Test {
  DataSink* sink = nullptr;
  void open() { ASSERT_EQ(jb2NewMemoryDataSink(state, &sink), VLT_OK); }
  void put(size_t n, uint8_t first = 0) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(first + i);
    uint32_t written = 0;
    ASSERT_EQ(dsWrite(sink, static_cast<uint32_t>(n), b.data(), &written), VLT_OK);
    ASSERT_EQ(written, n);
  }
  // Closes the sink; the used count of each chunk, then the bytes.
  std::vector<uint32_t> close(Bytes* bytes = nullptr) {
    VltAdtList* chunks = nullptr;
    EXPECT_EQ(jb2CloseMemoryDataSink(sink, &chunks), VLT_OK);
    sink = nullptr;
    std::vector<uint32_t> used;
    for (VltAdtListNode* n = chunks->first; n != nullptr; n = n->next)
      used.push_back(static_cast<Jb2MemChunk*>(n->data)->used);
    Bytes b = join_chunks(chunks, state);
    if (bytes != nullptr) *bytes = b;
    return used;
  }
};

TEST_F(MemSinkTest, GrowsByWholeChunks) {
  struct Case {
    size_t bytes;
    std::vector<uint32_t> used;
  };
  for (const Case& c : {Case{0, {0}}, Case{16384, {16384}}, Case{16385, {16384, 1}},
                        Case{40000, {16384, 16384, 7232}}}) {
    SCOPED_TRACE(c.bytes);
    open();
    // One byte at a time through the slow path, the rest in bulk.
    if (c.bytes > 0) {
      put(c.bytes - 1, 3);
      ASSERT_EQ(_dsPutc(sink, 0xAB), VLT_OK);
    }
    EXPECT_EQ(dsCount(sink), c.bytes);
    Bytes out;
    // A full chunk is filed only when the next byte needs room.
    EXPECT_EQ(close(&out), c.used);
    ASSERT_EQ(out.size(), c.bytes);
    for (size_t i = 0; i + 1 < c.bytes; ++i) ASSERT_EQ(out[i], static_cast<uint8_t>(3 + i));
  }
}

TEST_F(MemSinkTest, MarkedFieldIsFilledAcrossChunkEnds) {
  for (uint32_t before : {16382u, 16384u, 0u, 5u}) {
    SCOPED_TRACE(before);
    open();
    put(before);
    ASSERT_EQ(dsMark(sink, 4), VLT_OK);
    EXPECT_EQ(dsCount(sink), before);  // reserved bytes are not counted
    put(40000, 9);                     // the field ends up in a finished chunk
    const uint8_t len[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    ASSERT_EQ(dsFillMark(sink, 4, len), VLT_OK);
    Bytes out;
    close(&out);
    ASSERT_EQ(out.size(), before + 4 + 40000u);
    EXPECT_EQ(Bytes(out.begin() + before, out.begin() + before + 4), Bytes(len, len + 4));
    EXPECT_EQ(out[before + 4], 9);
  }
}

TEST_F(MemSinkTest, RefusedFillsChangeNothing) {
  open();
  // Without a mark there is no place to fill.
  const uint8_t b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(dsFillMark(sink, 4, b), VLT_ERR_ASSERT);
  EXPECT_EQ(printed.codes, std::vector<int32_t>{VLT_ERR_ASSERT});
  put(16382);
  ASSERT_EQ(mdsink_mark(sink, 0), VLT_OK);
  put(3, 0x40);  // three bytes after the mark, across the chunk end
  EXPECT_EQ(dsFillMark(sink, 4, b), VLT_ERR_ASSERT);
  ASSERT_EQ(dsFillMark(sink, 3, b), VLT_OK);
  Bytes out;
  close(&out);
  EXPECT_EQ(Bytes(out.end() - 3, out.end()), Bytes({1, 2, 3}));
}

TEST_F(MemSinkTest, CloseRefusesOtherSinks) {
  DataSink other{};
  other.moredata = [](DataSink*, int) -> VltStatus { return VLT_OK; };
  VltAdtList* chunks = nullptr;
  EXPECT_EQ(jb2CloseMemoryDataSink(&other, &chunks), VLT_ERR_ASSERT);
  EXPECT_EQ(chunks, nullptr);
}

TEST_F(MemSinkTest, EveryAllocationFailureIsCleanedUp) {
  // Creation: each of its allocations in turn.
  for (size_t k = 1; k <= 4; ++k) {
    alloc.fail_at(k);
    DataSink* s = reinterpret_cast<DataSink*>(1);
    const VltStatus st = jb2NewMemoryDataSink(state, &s);
    alloc.fail_at(0);
    if (st == VLT_OK) {
      sink = s;
      close();
      continue;
    }
    EXPECT_EQ(s, nullptr);
  }
  // A new chunk: the sink keeps its full buffer and stays usable.
  open();
  put(16384);
  alloc.fail_at(1);
  EXPECT_EQ(_dsPutc(sink, 1), VLT_ERR_NOMEM);
  EXPECT_EQ(sink->pos, sink->size);
  ASSERT_EQ(_dsPutc(sink, 2), VLT_OK);
  EXPECT_EQ(close(), (std::vector<uint32_t>{16384, 1}));
  // Closing: the chunks finished so far still come back.
  open();
  put(20000);
  alloc.fail_at(1);
  VltAdtList* chunks = nullptr;
  EXPECT_EQ(jb2CloseMemoryDataSink(sink, &chunks), VLT_ERR_NOMEM);
  ASSERT_NE(chunks, nullptr);
  EXPECT_EQ(chunks->count, 1u);
  EXPECT_EQ(join_chunks(chunks, state).size(), 16384u);
}

}  // namespace
