// Byte sinks and sources: writes, marks and reads across windows, the callbacks' failures, and
// the MQ coder on a sink and a source.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "jb2_datastream.h"
#include "jb2_decode.h"
#include "jb2_test_stream.h"
#include "vlt_state.h"

namespace {

using jb2test::WindowSource;

struct Printed {
  std::vector<VltStatus> codes;
};

int collect(void* ctx, VltStatus code, const char*, ...) {
  static_cast<Printed*>(ctx)->codes.push_back(code);
  return 0;
}

// A sink over a list of fixed-size windows (the shape of the engine's memory sink), with a mark
// that can lie in any earlier window. It can be told to refuse new windows after a number of
// them.
struct ChunkSink {
  DataSink sink{};
  uint32_t window;
  std::vector<std::vector<uint8_t>> chunks;  // filed windows, then the current one
  size_t windows_left = SIZE_MAX;
  int calls = 0;
  std::vector<int> pendings;
  size_t mark_chunk = 0;
  uint32_t mark_pos = 0;

  explicit ChunkSink(VltState* state, uint32_t window_size = 16384) : window(window_size) {
    chunks.emplace_back(window);
    sink.buffer = chunks.back().data();
    sink.size = window;
    sink.moredata = more;
    sink.mark = mark;
    sink.fillmark = fillmark;
    sink.priv = this;
    sink.state = state;
  }
  static ChunkSink* self(DataSink* s) { return static_cast<ChunkSink*>(s->priv); }
  static VltStatus more(DataSink* s, int pending) {
    ChunkSink* c = self(s);
    ++c->calls;
    c->pendings.push_back(pending);
    if (c->windows_left == 0) return VLT_ERR_OVERFLOW;
    --c->windows_left;
    c->chunks.back().resize(s->pos);
    c->chunks.emplace_back(c->window);
    s->buffer = c->chunks.back().data();
    s->size = c->window;
    s->pos = 0;
    return VLT_OK;
  }
  static VltStatus mark(DataSink* s, uint32_t) {
    ChunkSink* c = self(s);
    c->mark_chunk = c->chunks.size() - 1;
    c->mark_pos = s->pos;
    return VLT_OK;
  }
  static VltStatus fillmark(DataSink* s, uint32_t n, const uint8_t* bytes) {
    ChunkSink* c = self(s);
    size_t chunk = c->mark_chunk;
    uint32_t pos = c->mark_pos;
    for (uint32_t i = 0; i < n; ++i) {
      while (pos >= c->chunks[chunk].size()) {
        ++chunk;
        pos = 0;
      }
      c->chunks[chunk][pos++] = bytes[i];
    }
    return VLT_OK;
  }
  std::vector<uint8_t> bytes() const {
    std::vector<uint8_t> all;
    for (size_t i = 0; i + 1 < chunks.size(); ++i) all.insert(all.end(), chunks[i].begin(), chunks[i].end());
    all.insert(all.end(), chunks.back().begin(), chunks.back().begin() + sink.pos);
    return all;
  }
};

struct DataStreamTest : testing::Test {
  Printed printed;
  VltState* state = nullptr;
  void SetUp() override {
    ASSERT_EQ(Vlt_initVltState(&state, nullptr, nullptr, &printed, collect, 0, 0), VLT_OK);
  }
  void TearDown() override { Vlt_cleanupVltState(&state); }
};

// The readers' way to take a byte: from the window, or through the slow path.
VltStatus get_byte(DataSource* s, uint8_t* b) {
  if (s->pos < s->size) {
    *b = s->data[s->pos++];
    return VLT_OK;
  }
  return _dsGetc(s, b);
}

std::vector<uint8_t> pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 131 + 7);
  return v;
}

TEST_F(DataStreamTest, WritesAndMarksStraddleWindows) {
  ChunkSink c(state);
  const auto block = pattern(16384 * 3 + 5000);
  // Fill all but one byte of the first window, then reserve a four-byte length across the edge.
  uint32_t written = 0;
  ASSERT_EQ(dsWrite(&c.sink, 16383, block.data(), &written), VLT_OK);
  EXPECT_EQ(written, 16383u);
  dsResetCount(&c.sink);
  ASSERT_EQ(dsMark(&c.sink, 4), VLT_OK);
  EXPECT_EQ(c.mark_chunk, 0u);
  EXPECT_EQ(c.mark_pos, 16383u);
  EXPECT_EQ(c.sink.pos, 3u);
  EXPECT_EQ(dsCount(&c.sink), 0u);
  EXPECT_EQ(c.calls, 1);

  // A block of several windows asks once per window and counts every byte.
  ASSERT_EQ(dsWrite(&c.sink, static_cast<uint32_t>(block.size()), block.data(), &written), VLT_OK);
  EXPECT_EQ(written, block.size());
  EXPECT_EQ(c.calls, 1 + 3);
  EXPECT_EQ(dsCount(&c.sink), block.size());
  const uint8_t length[4] = {0xDE, 0xAD, 0xBE, 0xEF};
  ASSERT_EQ(dsFillMark(&c.sink, 4, length), VLT_OK);
  EXPECT_EQ(c.chunks[0].back(), 0xDE);
  EXPECT_EQ(c.chunks[1][0], 0xAD);

  // One byte at a time through the slow path when the window is full.
  c.sink.pos = c.sink.size;
  c.chunks.back().resize(c.sink.size);
  ASSERT_EQ(_dsPutc(&c.sink, 0x5A), VLT_OK);
  EXPECT_EQ(c.pendings.back(), 0x5A);
  EXPECT_EQ(c.sink.buffer[0], 0x5A);
  dsAdjustCount(&c.sink, 10);
  EXPECT_EQ(dsCount(&c.sink), block.size() + 1 + 10);

  std::vector<uint8_t> want(block.begin(), block.begin() + 16383);
  want.insert(want.end(), {0xDE, 0xAD, 0xBE, 0xEF});
  want.insert(want.end(), block.begin(), block.end());
  const auto got = c.bytes();
  ASSERT_GE(got.size(), want.size());
  EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin()));
  EXPECT_TRUE(printed.codes.empty());
}

TEST_F(DataStreamTest, MissingOrFailingCallbacks) {
  uint8_t buf[8];
  // No callbacks at all.
  DataSink bare{buf, 8, 6, 0, nullptr, nullptr, nullptr, nullptr, state};
  uint32_t written = 99;
  EXPECT_EQ(dsWrite(&bare, 5, pattern(5).data(), &written), VLT_ERR_NULL);
  EXPECT_EQ(written, 2u);
  EXPECT_EQ(bare.count, 2u);
  EXPECT_EQ(_dsPutc(&bare, 1), VLT_ERR_NULL);
  EXPECT_EQ(dsMark(&bare, 4), VLT_ERR_NULL);
  EXPECT_EQ(dsFillMark(&bare, 4, buf), VLT_ERR_NULL);

  // A callback that claims success without making room, and one that fails.
  bare.moredata = [](DataSink*, int) -> VltStatus { return VLT_OK; };
  EXPECT_EQ(_dsPutc(&bare, 1), VLT_ERR_IO_LENGTH);
  EXPECT_EQ(dsWrite(&bare, 1, buf, &written), VLT_ERR_IO_LENGTH);
  bare.mark = jb2SimpleDataSinkMark;
  EXPECT_EQ(dsMark(&bare, 1), VLT_ERR_IO_LENGTH);
  bare.moredata = [](DataSink*, int) -> VltStatus { return VLT_ERR_OVERFLOW; };
  EXPECT_EQ(dsWrite(&bare, 1, buf, &written), VLT_ERR_OVERFLOW);
  EXPECT_EQ(written, 0u);

  const std::vector<uint8_t> data = pattern(3);
  DataSource src{data.data(), 3, 1, nullptr, nullptr, state};
  int peeked = 0;
  uint8_t got[4];
  uint32_t read = 99;
  EXPECT_EQ(dsRead(&src, 4, got, &read), VLT_ERR_NULL);
  EXPECT_EQ(read, 2u);
  EXPECT_EQ(dsPeek(&src, &peeked), VLT_OK);
  EXPECT_EQ(peeked, -1);
  EXPECT_EQ(_dsGetc(&src, got), VLT_ERR_NULL);
  src.moredata = [](DataSource*, void*) -> VltStatus { return VLT_OK; };
  EXPECT_EQ(_dsGetc(&src, got), VLT_ERR_IO_LENGTH);
  EXPECT_EQ(dsPeek(&src, &peeked), VLT_OK);
  EXPECT_EQ(peeked, -1);
  src.moredata = [](DataSource*, void*) -> VltStatus { return VLT_ERR_IO_READ; };
  EXPECT_EQ(dsPeek(&src, &peeked), VLT_ERR_IO_READ);
  EXPECT_EQ(dsRead(&src, 1, got, &read), VLT_ERR_IO_READ);

  // Reports: the missing callbacks and the empty windows; a callback's own status is not reported.
  EXPECT_EQ(printed.codes,
            (std::vector<VltStatus>{VLT_ERR_NULL, VLT_ERR_NULL, VLT_ERR_NULL, VLT_ERR_NULL,
                                    VLT_ERR_IO_LENGTH, VLT_ERR_IO_LENGTH, VLT_ERR_IO_LENGTH,
                                    VLT_ERR_NULL, VLT_ERR_NULL, VLT_ERR_IO_LENGTH}));
}

TEST_F(DataStreamTest, SimpleMarkFillsWithinItsBuffer) {
  uint8_t buf[8] = {};
  DataSink s{buf, 8, 0, 0, nullptr, jb2SimpleDataSinkMark, jb2SimpleDataSinkFillmark, nullptr, state};
  s.pos = 2;
  ASSERT_EQ(dsMark(&s, 4), VLT_OK);
  EXPECT_EQ(s.pos, 6u);
  const uint8_t len[4] = {0, 0, 1, 2};
  ASSERT_EQ(dsFillMark(&s, 4, len), VLT_OK);
  EXPECT_EQ(std::memcmp(buf + 2, len, 4), 0);
  EXPECT_EQ(dsFillMark(&s, 7, len), VLT_ERR_ASSERT);
  EXPECT_EQ(printed.codes, std::vector<VltStatus>{VLT_ERR_ASSERT});
}

TEST_F(DataStreamTest, ReadsPeeksAndGetsAcrossWindows) {
  const auto data = pattern(40000);
  WindowSource w(state, data, {16384, 1, 7});
  std::vector<uint8_t> got(data.size());
  uint32_t read = 0;
  ASSERT_EQ(dsRead(&w.source, 20000, got.data(), &read), VLT_OK);
  EXPECT_EQ(read, 20000u);
  size_t at = 20000;
  int peeked;
  while (at < data.size()) {
    ASSERT_EQ(dsPeek(&w.source, &peeked), VLT_OK);
    ASSERT_EQ(peeked, data[at]);
    uint8_t b;
    ASSERT_EQ(get_byte(&w.source, &b), VLT_OK);
    got[at++] = b;
  }
  EXPECT_EQ(got, data);
  ASSERT_EQ(dsPeek(&w.source, &peeked), VLT_ERR_IO_LENGTH);
  EXPECT_EQ(peeked, -1);
  uint8_t b;
  EXPECT_EQ(_dsGetc(&w.source, &b), VLT_ERR_IO_LENGTH);
}

struct Coded {
  std::vector<uint8_t> bytes;
  std::vector<int> bits;
};

// Encodes random decisions through a sink of small windows.
Coded encode_through_sink(VltState* state, uint32_t window, size_t decisions) {
  ChunkSink c(state, window);
  MqEncoder enc;
  dsInitVltEncode_MQEncoder(&c.sink, &enc);
  std::mt19937 rng(static_cast<uint32_t>(decisions));
  std::vector<uint8_t> cx(64, 0);
  Coded out;
  for (size_t i = 0; i < decisions; ++i) {
    const int bit = (rng() % 7) == 0;
    out.bits.push_back(bit);
    EXPECT_EQ(VltEncode_mqeEncode(&enc, &cx[i % 64], bit), 1);
  }
  EXPECT_EQ(dsFinalVltEncode_MQEncoder(&c.sink, &enc), VLT_OK);
  out.bytes = c.bytes();
  EXPECT_EQ(dsCount(&c.sink), out.bytes.size());
  return out;
}

TEST_F(DataStreamTest, MqCoderRoundTripsThroughSinkAndSource) {
  for (uint32_t window : {16384u, 5u}) {
    const Coded coded = encode_through_sink(state, window, 300000);
    ASSERT_GT(coded.bytes.size(), 16384u);
    ASSERT_EQ(coded.bytes[coded.bytes.size() - 2], 0xFF);
    ASSERT_EQ(coded.bytes.back(), 0xAC);
    // Two bytes before the coded data, read by the caller, and two after it.
    std::vector<uint8_t> stream(coded.bytes.size() + 4);
    stream[0] = 0x11;
    stream[1] = 0x22;
    std::copy(coded.bytes.begin(), coded.bytes.end(), stream.begin() + 2);
    stream[stream.size() - 2] = 0x33;
    stream[stream.size() - 1] = 0x44;
    for (std::vector<uint32_t> sizes : {std::vector<uint32_t>{16384}, {1}, {2, 3}}) {
      SCOPED_TRACE(testing::Message() << "window " << window << " source windows " << sizes[0]);
      WindowSource w(state, stream, sizes);
      uint8_t lead[2];
      uint32_t read = 0;
      ASSERT_EQ(dsRead(&w.source, 2, lead, &read), VLT_OK);
      MqDecoder dec;
      dsInitVltEncode_MQDecoder(&w.source, &dec);
      std::vector<uint8_t> cx(64, 0);
      for (size_t i = 0; i < coded.bits.size(); ++i)
        ASSERT_EQ(VltEncode_mqdDecode(&dec, &cx[i % 64]), coded.bits[i]) << "decision " << i;
      ASSERT_EQ(dsFinalVltEncode_MQDecoder(&w.source, &dec), VLT_OK);
      uint8_t after;
      ASSERT_EQ(get_byte(&w.source, &after), VLT_OK);
      EXPECT_EQ(after, 0x33);
    }
  }
  EXPECT_TRUE(printed.codes.empty());
}

// A decoder reading a segment's data through the segment's bounded view meets the end of that
// data where the segment ends, in one window or many, and then decides exactly as a decoder given
// the same bytes alone: it is never handed bytes it has read already, nor the next segment's.
TEST_F(DataStreamTest, MqDecoderMeetsTheEndOfItsSegment) {
  const std::vector<uint8_t> coded = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
  std::vector<uint8_t> stream = coded;
  stream.insert(stream.end(), {0x33, 0x44, 0x55});
  MqDecoder alone;
  VltEncode_mqdInit(&alone, coded.data(), static_cast<uint32_t>(coded.size()), nullptr, nullptr, state);
  std::vector<uint8_t> cxAlone(64, 0);
  std::vector<int> want;
  for (int i = 0; i < 5000; ++i) want.push_back(VltEncode_mqdDecode(&alone, &cxAlone[static_cast<size_t>(i) % 64]));
  ASSERT_EQ(alone.mode, MQD_MODE_RAN_OUT);
  for (std::vector<uint32_t> sizes : {std::vector<uint32_t>{64}, {1}, {2, 3}}) {
    SCOPED_TRACE(testing::Message() << "source windows " << sizes[0]);
    WindowSource w(state, stream, sizes);
    Jb2BoundedSource view;
    jb2BoundSource(&view, &w.source, static_cast<uint32_t>(coded.size()));
    MqDecoder dec;
    dsInitVltEncode_MQDecoder(&view.source, &dec);
    std::vector<uint8_t> cx(64, 0);
    for (int i = 0; i < 5000; ++i)
      ASSERT_EQ(VltEncode_mqdDecode(&dec, &cx[static_cast<size_t>(i) % 64]), want[static_cast<size_t>(i)]) << i;
    EXPECT_EQ(dec.mode, MQD_MODE_RAN_OUT);
    ASSERT_EQ(jb2EndBoundedSource(&view), VLT_OK);
    uint8_t after = 0;
    ASSERT_EQ(get_byte(&w.source, &after), VLT_OK);
    EXPECT_EQ(after, 0x33);
  }
  EXPECT_TRUE(printed.codes.empty());
}

TEST_F(DataStreamTest, MqGlueReportsFailingStreams) {
  // The sink refuses a new window mid-stream, or only when the flush needs one.
  const Coded full = encode_through_sink(state, 16384, 4000);
  const struct {
    size_t decisions;
    uint32_t window;
    size_t windows;
  } cases[] = {
      {4000, static_cast<uint32_t>(full.bytes.size() / 3), 0},
      {4000, static_cast<uint32_t>(full.bytes.size() / 3), 1},
      {0, 1, 0},  // the flush's two marker bytes meet a one-byte window
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.decisions << " decisions, " << c.windows << " windows");
    printed.codes.clear();
    ChunkSink sink(state, c.window);
    sink.windows_left = c.windows;
    MqEncoder enc;
    dsInitVltEncode_MQEncoder(&sink.sink, &enc);
    uint8_t cx = 0;
    int ok = 1;
    for (size_t i = 0; i < c.decisions && ok; ++i) ok = VltEncode_mqeEncode(&enc, &cx, full.bits[i]);
    if (ok) {
      ASSERT_EQ(c.decisions, 0u);
      EXPECT_EQ(dsFinalVltEncode_MQEncoder(&sink.sink, &enc), VLT_ERR_IO_WRITE);
      EXPECT_EQ(printed.codes, std::vector<VltStatus>{VLT_ERR_IO_WRITE});
    } else {
      EXPECT_TRUE(printed.codes.empty());  // the sink's own refusal is its to report
    }
  }
  printed.codes.clear();
  uint8_t refused = 0;
  DataSink none{&refused, 0, 0, 0, nullptr, nullptr, nullptr, nullptr, state};
  EXPECT_EQ(byte_out(0x12, &none), 0);

  // A decoder that meets no marker leaves the source where it was and says so.
  const std::vector<uint8_t> unmarked = {0x12, 0x34, 0x56};
  DataSource src{unmarked.data(), 3, 0, nullptr, nullptr, state};
  MqDecoder dec;
  dsInitVltEncode_MQDecoder(&src, &dec);
  uint8_t cx = 0;
  for (int i = 0; i < 100; ++i) VltEncode_mqdDecode(&dec, &cx);
  EXPECT_EQ(dsFinalVltEncode_MQDecoder(&src, &dec), VLT_ERR_NULL);
  EXPECT_EQ(src.pos, 0u);
  // The refused byte, the refill without moredata, and the missing marker.
  EXPECT_EQ(printed.codes, (std::vector<VltStatus>{VLT_ERR_NULL, VLT_ERR_NULL, VLT_ERR_NULL}));
}

}  // namespace
