// The bit file: random round trips through suspends, direct byte runs and windows of any size,
// the word and partial-word paths at buffer ends, peeking, and the open and close failures.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "jb2_bitfile.h"
#include "jb2_fixture.h"
#include "jb2_test_stream.h"

namespace {

using jb2test::Bytes;
using jb2test::MemoryStream;
using jb2test::WindowSource;

struct BitFileTest : Jb2Test {};

// One step of a random script: a field of n bits, or (n < 0) a run of bytes written or read
// directly between a suspend and a resume.
struct Step {
  int n;
  uint32_t value;
  bool flush;
};

std::vector<Step> script(uint32_t seed, size_t steps) {
  std::mt19937 rng(seed);
  std::vector<Step> s;
  for (size_t i = 0; i < steps; ++i) {
    const uint32_t pick = rng() % 100;
    if (pick < 3) {
      s.push_back({-static_cast<int>(1 + rng() % 40), static_cast<uint32_t>(rng()), false});
      continue;
    }
    const int n = static_cast<int>(rng() % 33);
    const uint32_t v = n == 0 ? 0 : static_cast<uint32_t>(rng()) >> (32 - n);
    s.push_back({n, v, pick < 8});
  }
  return s;
}

uint8_t run_byte(const Step& st, int i) { return static_cast<uint8_t>(st.value + 31 * i); }

TEST_F(BitFileTest, RandomFieldsRoundTripThroughSuspendsAndWindows) {
  const std::vector<Step> steps = script(11, 20000);
  Bytes coded;
  {
    MemoryStream s(state);
    DataSink* sink = s.sink();
    JbfFile* f = nullptr;
    ASSERT_EQ(jbfOpenFromDataSink(sink, &f), VLT_OK);
    size_t direct = 0;
    for (const Step& st : steps) {
      if (st.n < 0) {
        ASSERT_EQ(jbfSuspend(f), VLT_OK);
        for (int i = 0; i < -st.n; ++i) ASSERT_EQ(_dsPutc(sink, run_byte(st, i)), VLT_OK);
        direct += static_cast<size_t>(-st.n);
        jbfResume(f);
        continue;
      }
      ASSERT_EQ(jbfWriteBits(f, st.value, st.n), VLT_OK);
      if (st.flush) jbfFlushByte(f);
    }
    ASSERT_EQ(jbfCloseFromDataSink(f), VLT_OK);
    const uint32_t counted = dsCount(sink);
    coded = s.finish();
    EXPECT_EQ(counted, coded.size());  // every byte counted once
    EXPECT_GT(coded.size(), 16384u * 2);
    EXPECT_GT(direct, 0u);
  }
  for (const std::vector<uint32_t>& windows :
       {std::vector<uint32_t>{1u << 20}, {1}, {5, 2, 7}, {3, 16384}}) {
    SCOPED_TRACE(windows.front());
    WindowSource w(state, coded, windows);
    DataSource* src = &w.source;
    JbfFile* f = nullptr;
    ASSERT_EQ(jbfOpenFromDataSource(src, &f), VLT_OK);
    for (const Step& st : steps) {
      if (st.n < 0) {
        ASSERT_EQ(jbfSuspend(f), VLT_OK);
        Bytes got(static_cast<size_t>(-st.n));
        uint32_t read = 0;
        ASSERT_EQ(dsRead(src, static_cast<uint32_t>(got.size()), got.data(), &read), VLT_OK);
        for (int i = 0; i < -st.n; ++i) ASSERT_EQ(got[static_cast<size_t>(i)], run_byte(st, i));
        jbfResume(f);
        continue;
      }
      uint32_t v = 0xFFFFFFFF;
      ASSERT_EQ(jbfReadBits(f, st.n, &v), VLT_OK);
      ASSERT_EQ(v, st.value);
      if (st.flush) jbfFlushByte(f);
    }
    ASSERT_EQ(jbfCloseFromDataSource(f), VLT_OK);
    EXPECT_EQ(w.next - src->size + src->pos, coded.size());  // the source stands at the end
  }
}

TEST_F(BitFileTest, BufferEndsAndPeeks) {
  // One bit, closed: one byte with the bit on top.
  {
    MemoryStream s(state);
    JbfFile* f = nullptr;
    ASSERT_EQ(jbfOpenFromDataSink(s.sink(), &f), VLT_OK);
    ASSERT_EQ(jbfWriteBits(f, 1, 1), VLT_OK);
    ASSERT_EQ(jbfCloseFromDataSink(f), VLT_OK);
    EXPECT_EQ(s.finish(), Bytes{0x80});
  }
  // Five bytes load as a word and a one-byte part.
  const Bytes five = {0x12, 0x34, 0x56, 0x78, 0x9A};
  {
    DataSource src{five.data(), 5, 0, nullptr, nullptr, state};
    JbfFile* f = nullptr;
    ASSERT_EQ(jbfOpenFromDataSource(&src, &f), VLT_OK);
    uint32_t v = 0;
    ASSERT_EQ(jbfReadBits(f, 32, &v), VLT_OK);
    EXPECT_EQ(v, 0x12345678u);
    ASSERT_EQ(jbfReadBits(f, 8, &v), VLT_OK);
    EXPECT_EQ(v, 0x9Au);
    // Past the end of a source that cannot refill.
    EXPECT_EQ(jbfReadBits(f, 1, &v), VLT_ERR_NULL);
    EXPECT_EQ(v, 0u);
    jbfClose(f);
  }
  // Peeking: 8 bits across the word in hand and the next bytes; -1 with 3 bits left.
  {
    DataSource src{five.data(), 5, 0, nullptr, nullptr, state};
    JbfFile* f = nullptr;
    ASSERT_EQ(jbfOpenFromDataSource(&src, &f), VLT_OK);
    uint32_t v = 0;
    ASSERT_EQ(jbfReadBits(f, 4, &v), VLT_OK);
    EXPECT_EQ(jbfPeek(f), 0x23);
    ASSERT_EQ(jbfReadBits(f, 24, &v), VLT_OK);
    EXPECT_EQ(v, 0x234567u);
    EXPECT_EQ(jbfPeek(f), 0x89);  // four bits of the word and the fifth byte
    ASSERT_EQ(jbfReadBits(f, 9, &v), VLT_OK);
    EXPECT_EQ(v, 0x113u);
    EXPECT_EQ(jbfPeek(f), -1);
    ASSERT_EQ(jbfReadBits(f, 3, &v), VLT_OK);
    EXPECT_EQ(v, 2u);
    uint8_t* pos = nullptr;
    ASSERT_EQ(jbfPos(f, &pos), VLT_OK);
    EXPECT_EQ(pos, five.data() + 5);
    jbfClose(f);
  }
}

TEST_F(BitFileTest, WriterMeetsTheEndOfTheSinksBuffer) {
  MemoryStream s(state);
  DataSink* sink = s.sink();
  Bytes fill(JB2_MEMSINK_CHUNK - 2, 0x55);
  uint32_t written = 0;
  ASSERT_EQ(dsWrite(sink, static_cast<uint32_t>(fill.size()), fill.data(), &written), VLT_OK);
  JbfFile* f = nullptr;
  ASSERT_EQ(jbfOpenFromDataSink(sink, &f), VLT_OK);
  // Suspending at once leaves the sink where it was.
  ASSERT_EQ(jbfSuspend(f), VLT_OK);
  EXPECT_EQ(sink->pos, JB2_MEMSINK_CHUNK - 2);
  EXPECT_EQ(dsCount(sink), JB2_MEMSINK_CHUNK - 2);
  jbfResume(f);
  ASSERT_EQ(jbfWriteBits(f, 0xCAFEBABE, 32), VLT_OK);
  ASSERT_EQ(jbfWriteBits(f, 0x3, 2), VLT_OK);
  ASSERT_EQ(jbfWriteBits(f, 0x1234, 16), VLT_OK);
  ASSERT_EQ(jbfSuspend(f), VLT_OK);
  ASSERT_EQ(jbfCloseFromDataSink(f), VLT_OK);  // a close without a resume counts nothing twice
  EXPECT_EQ(dsCount(sink), JB2_MEMSINK_CHUNK - 2 + 7);
  const Bytes out = s.finish();
  ASSERT_EQ(out.size(), JB2_MEMSINK_CHUNK - 2 + 7);
  EXPECT_EQ(Bytes(out.end() - 7, out.end()), Bytes({0xCA, 0xFE, 0xBA, 0xBE, 0xC4, 0x8D, 0x00}));
}

TEST_F(BitFileTest, OpenFailures) {
  JbfFile* f = reinterpret_cast<JbfFile*>(1);
  // An empty source without a refill, and one whose refill brings nothing.
  DataSource none{nullptr, 0, 0, nullptr, nullptr, state};
  EXPECT_EQ(jbfOpenFromDataSource(&none, &f), VLT_ERR_NULL);
  DataSource dry{nullptr, 0,    0, [](DataSource*, void*) -> VltStatus { return VLT_OK; },
                 nullptr, state};
  EXPECT_EQ(jbfOpenFromDataSource(&dry, &f), VLT_ERR_IO_LENGTH);
  const Bytes one = {1};
  DataSource src{one.data(), 1, 0, nullptr, nullptr, state};
  alloc.fail_at(1);
  EXPECT_EQ(jbfOpenFromDataSource(&src, &f), VLT_ERR_NOMEM);
  EXPECT_EQ(f, reinterpret_cast<JbfFile*>(1));
  EXPECT_EQ(printed.codes, (std::vector<int32_t>{VLT_ERR_NULL, VLT_ERR_IO_LENGTH, VLT_ERR_NOMEM}));
}

}  // namespace
