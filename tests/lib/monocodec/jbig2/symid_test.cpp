// Symbol-ID coders: IAID decisions and contexts, the run-coded code lengths of Huffman text
// regions read back by the probe, and both directions round trip.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "jb2_fixture.h"
#include "jb2_symbol_probe.h"
#include "jb2_symid.h"
#include "jb2_test_stream.h"
#include "jb2_tune.h"
#include "mq_reference.h"

namespace {

using jb2test::Bytes;
using jb2test::MemoryStream;

struct SymIdTest : Jb2Test {
  // IDs coded with IAID for n symbols; the MQ data.
  Bytes arith(int32_t n, const std::vector<uint32_t>& ids) {
    MemoryStream s(state);
    MqEncoder mq{};
    dsInitVltEncode_MQEncoder(s.sink(), &mq);
    SymEncoder* e = nullptr;
    jb2test::check(symEncoderArith(n, &mq, state, &e), "symEncoderArith");
    for (uint32_t id : ids) jb2test::check(symEncode(e, id), "symEncode");
    symEncoderFree(e);
    jb2test::check(dsFinalVltEncode_MQEncoder(s.sink(), &mq), "flush");
    return s.finish();
  }

  // The Huffman code of the usage counts followed by the IDs; the bytes.
  Bytes huffman(const std::vector<uint32_t>& usage, const std::vector<uint32_t>& ids) {
    MemoryStream s(state);
    JbfFile* f = nullptr;
    jb2test::check(jbfOpenFromDataSink(s.sink(), &f), "open");
    SymEncoder* e = nullptr;
    jb2test::check(symWriteHuffmanCode(f, usage.data(), static_cast<int32_t>(usage.size()), state, &e), "code");
    for (uint32_t id : ids) jb2test::check(symEncode(e, id), "symEncode");
    symEncoderFree(e);
    jb2test::check(jbfCloseFromDataSink(f), "close");
    return s.finish();
  }

  std::vector<uint32_t> decode_arith(const Bytes& b, const std::vector<uint32_t>& values, size_t count) {
    MqDecoder mq{};
    VltEncode_mqdInit(&mq, b.data(), static_cast<uint32_t>(b.size()), nullptr, nullptr, state);
    SymDecoder* d = nullptr;
    jb2test::check(symDecoderArith(values.data(), static_cast<int32_t>(values.size()), &mq, state, &d), "decoder");
    std::vector<uint32_t> out;
    for (size_t i = 0; i < count; ++i) {
      uint32_t v = 0;
      jb2test::check(symDecode(d, &v), "symDecode");
      out.push_back(v);
    }
    symDecoderFree(d);
    return out;
  }
};

TEST_F(SymIdTest, IaidDecisionsTakeTheContextsPrevNames) {
  // Five symbols: three bits; ID 4 is 1, 0, 0 in contexts 1, 3, 6.
  const Bytes b = arith(5, {4});
  monotest::MqRefDecoder dec(b.data(), b.size(), 16);
  EXPECT_EQ(dec.decode(1), 1);
  EXPECT_EQ(dec.decode(3), 0);
  EXPECT_EQ(dec.decode(6), 0);
  // One symbol: nothing is coded at all.
  EXPECT_EQ(arith(1, {0, 0, 0}), arith(1, {}));
  SymEncoder* e = nullptr;
  MqEncoder mq{};
  ASSERT_EQ(symEncoderArith(1, &mq, state, &e), VLT_OK);
  EXPECT_EQ(e->codeLength, 0);
  EXPECT_EQ(symEncode(e, 1), VLT_ERR_ASSERT) << "no such ID";
  symEncoderFree(e);
}

TEST_F(SymIdTest, IaidRoundTrip) {
  std::mt19937 rng(3);
  for (int32_t n : {1, 2, 5, 300, 4096, 4097}) {
    std::vector<uint32_t> values(static_cast<size_t>(n)), ids;
    for (int32_t i = 0; i < n; ++i) values[static_cast<size_t>(i)] = 1000u + static_cast<uint32_t>(i);
    for (int i = 0; i < 200; ++i) ids.push_back(rng() % static_cast<uint32_t>(n));
    const std::vector<uint32_t> got = decode_arith(arith(n, ids), values, ids.size());
    for (size_t i = 0; i < ids.size(); ++i) ASSERT_EQ(got[i], values[ids[i]]) << "n " << n;
  }
  // An index beyond the symbols (here coded for eight, read for five) gives value 0.
  EXPECT_EQ(decode_arith(arith(8, {6, 2}), {10, 11, 12, 13, 14}, 2), (std::vector<uint32_t>{0, 12}));
}

// The split of the code lengths into run codes, read back item by item.
TEST_F(SymIdTest, CodeLengthsTravelAsRunCodes) {
  using Items = std::vector<std::pair<int, int>>;
  std::vector<uint32_t> apart(142, 0), nine(11, 0);
  apart[0] = apart[141] = 1;
  nine[0] = nine[10] = 3;
  struct Case {
    const char* name;
    std::vector<uint32_t> usage;
    Items items;  // empty: not checked item by item
  };
  std::vector<uint32_t> skewed = {1, 1};
  while (skewed.size() < 24) skewed.push_back(skewed[skewed.size() - 1] + skewed[skewed.size() - 2]);
  std::vector<uint32_t> mixed(600, 0);
  std::mt19937 rng(9);
  for (auto& u : mixed) u = rng() % 5 == 0 ? 0 : rng() % 50;
  const Case cases[] = {
      {"eight equal lengths", std::vector<uint32_t>(8, 1), {{3, 0}, {32, 3}, {3, 0}}},
      {"140 unused IDs between two used ones", apart, {{1, 0}, {34, 127}, {0, 0}, {0, 0}, {1, 0}}},
      {"nine unused IDs", nine, {{1, 0}, {33, 6}, {1, 0}}},
      {"no instances", std::vector<uint32_t>(5, 0), {{33, 2}}},
      {"no symbols", {}, {}},
      {"skewed usage", skewed, {}},
      {"mixed", mixed, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint32_t> ids;
    for (size_t i = 0; i < c.usage.size(); ++i)
      for (uint32_t k = 0; k < std::min<uint32_t>(c.usage[i], 3); ++k) ids.push_back(static_cast<uint32_t>(i));
    const Bytes b = huffman(c.usage, ids);
    std::vector<uint32_t> want(c.usage.size());
    ASSERT_EQ(jhtGetCodeLengths(c.usage.data(), want.data(), static_cast<int32_t>(want.size()), state), VLT_OK);
    jb2test::ProbeBits bits(b.data(), b.size());
    Items items;
    EXPECT_EQ(jb2test::probe_id_lengths(bits, c.usage.size(), &items), want);
    if (!c.items.empty()) {
      EXPECT_EQ(items, c.items);
    }
    for (uint32_t l : want) EXPECT_LE(l, 15u) << "longest code a decoder's lookup takes";
    if (c.usage.empty()) {
      EXPECT_EQ(b.size(), 18u) << "35 zero lengths of 4 bits, padded";
    }
  }
}

TEST_F(SymIdTest, HuffmanRoundTrip) {
  std::mt19937 rng(21);
  for (int32_t n : {1, 2, 37, 1000}) {
    std::vector<uint32_t> usage(static_cast<size_t>(n), 0), ids, values(static_cast<size_t>(n));
    for (int i = 0; i < 3 * n; ++i) {
      const uint32_t id =
          rng() % 3 == 0 ? rng() % static_cast<uint32_t>(n) : rng() % (static_cast<uint32_t>(n) / 4 + 1);
      ids.push_back(id);
      ++usage[id];
    }
    for (int32_t i = 0; i < n; ++i) values[static_cast<size_t>(i)] = static_cast<uint32_t>(i) * 7 + 1;
    const Bytes b = huffman(usage, ids);
    jb2test::ProbeBits bits(b.data(), b.size());
    const std::vector<uint32_t> lengths = jb2test::probe_id_lengths(bits, usage.size());
    DataSource src{b.data(), static_cast<uint32_t>(b.size()), static_cast<uint32_t>(bits.byte_pos()), nullptr,
                   nullptr, state};
    JbfFile* f = nullptr;
    ASSERT_EQ(jbfOpenFromDataSource(&src, &f), VLT_OK);
    SymDecoder* d = nullptr;
    ASSERT_EQ(symDecoderHuffman(values.data(), n, f, lengths.data(), state, &d), VLT_OK);
    for (uint32_t id : ids) {
      uint32_t v = 0;
      ASSERT_EQ(symDecode(d, &v), VLT_OK);
      ASSERT_EQ(v, values[id]);
    }
    symDecoderFree(d);
    jbfClose(f);
  }
}

TEST_F(SymIdTest, IdsWithoutACodeAreRefused) {
  const std::vector<uint32_t> lengths = {1, 0, 1};
  MemoryStream s(state);
  JbfFile* f = nullptr;
  ASSERT_EQ(jbfOpenFromDataSink(s.sink(), &f), VLT_OK);
  SymEncoder* e = nullptr;
  ASSERT_EQ(symEncoderHuffman(3, f, lengths.data(), state, &e), VLT_OK);
  EXPECT_EQ(symEncode(e, 1), VLT_ERR_ASSERT);
  EXPECT_EQ(symEncode(e, 3), VLT_ERR_ASSERT);
  EXPECT_EQ(symEncode(e, 2), VLT_OK);
  EXPECT_EQ(f->count * 8 + static_cast<uint32_t>(32 - f->bits), 1u);
  symEncoderFree(e);
  jbfClose(f);
  const std::vector<uint32_t> over = {1, 1, 1};
  EXPECT_EQ(symEncoderHuffman(3, nullptr, over.data(), state, &e), VLT_ERR_PARAM);
  EXPECT_EQ(e, nullptr);
}

TEST_F(SymIdTest, FailuresLeaveNothingBehind) {
  std::vector<uint32_t> usage(300);
  for (size_t i = 0; i < usage.size(); ++i) usage[i] = static_cast<uint32_t>(i % 7);
  for (size_t k = 1;; ++k) {
    MemoryStream s(state);
    JbfFile* f = nullptr;
    ASSERT_EQ(jbfOpenFromDataSink(s.sink(), &f), VLT_OK);
    const size_t before = alloc.live_blocks();
    alloc.fail_at(k);
    SymEncoder* e = nullptr;
    const VltStatus st = symWriteHuffmanCode(f, usage.data(), 300, state, &e);
    alloc.fail_at(0);
    symEncoderFree(e);
    EXPECT_EQ(alloc.live_blocks(), before);
    jbfClose(f);
    if (st == VLT_OK) break;
    EXPECT_EQ(st, VLT_ERR_NOMEM);
    EXPECT_EQ(e, nullptr);
  }
  for (size_t k = 1; k <= 2; ++k) {
    alloc.fail_at(k);
    SymEncoder* e = nullptr;
    MqEncoder mq{};
    EXPECT_EQ(symEncoderArith(9, &mq, state, &e), VLT_ERR_NOMEM);
    EXPECT_EQ(e, nullptr);
    SymDecoder* d = nullptr;
    MqDecoder md{};
    alloc.fail_at(k);
    const uint32_t values[9] = {};
    EXPECT_EQ(symDecoderArith(values, 9, &md, state, &d), VLT_ERR_NOMEM);
    EXPECT_EQ(d, nullptr);
  }
  alloc.fail_at(0);
}

}  // namespace
