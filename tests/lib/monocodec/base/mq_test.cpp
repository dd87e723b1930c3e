// MQ coder: the T.88 test sequence both ways, the end-marker rules, and long random round trips
// against the flowchart coder of the test support library.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "mq_reference.h"
#include "vlt_mq.h"

namespace {

// T.88 Annex H.2: 256 decisions in one context, and their code stream.
const std::vector<uint8_t> kH2Input = {
    0x00, 0x02, 0x00, 0x51, 0x00, 0x00, 0x00, 0xC0, 0x03, 0x52, 0x87, 0x2A, 0xAA, 0xAA, 0xAA, 0xAA,
    0x82, 0xC0, 0x20, 0x00, 0xFC, 0xD7, 0x9E, 0xF6, 0xBF, 0x7F, 0xED, 0x90, 0x4F, 0x46, 0xA3, 0xBF};
const std::vector<uint8_t> kH2Output = {
    0x84, 0xC7, 0x3B, 0xFC, 0xE1, 0xA1, 0x43, 0x04, 0x02, 0x20, 0x00, 0x00, 0x41, 0x0D, 0xBB,
    0x86, 0xF4, 0x31, 0x7F, 0xFF, 0x88, 0xFF, 0x37, 0x47, 0x1A, 0xDB, 0x6A, 0xDF, 0xFF, 0xAC};

std::vector<int> h2_bits() {
  std::vector<int> bits;
  for (uint8_t b : kH2Input)
    for (int i = 7; i >= 0; --i) bits.push_back((b >> i) & 1);
  return bits;
}

int append_byte(uint8_t b, void* ctx) {
  static_cast<std::vector<uint8_t>*>(ctx)->push_back(b);
  return 1;
}

// Takes `room` bytes, then refuses.
struct LimitedSink {
  std::vector<uint8_t> bytes;
  size_t room;
};
int limited_byte(uint8_t b, void* ctx) {
  auto* s = static_cast<LimitedSink*>(ctx);
  if (s->bytes.size() >= s->room) return 0;
  s->bytes.push_back(b);
  return 1;
}

struct Decision {
  uint32_t cx;
  int bit;
};

std::vector<uint8_t> encode(const std::vector<Decision>& ds, size_t contexts) {
  std::vector<uint8_t> out;
  std::vector<uint8_t> cx(contexts, 0);
  MqEncoder enc;
  VltEncode_mqeInit(&enc, append_byte, &out, nullptr);
  for (const Decision& d : ds) EXPECT_EQ(VltEncode_mqeEncode(&enc, &cx[d.cx], d.bit), 1);
  EXPECT_EQ(VltEncode_mqeFlush(&enc), 1);
  return out;
}

// Hands the stream out one byte per refill.
struct Dribble {
  const std::vector<uint8_t>* bytes;
  size_t next = 0;
};
int dribble(const uint8_t** data, uint32_t* length, void* ctx) {
  auto* d = static_cast<Dribble*>(ctx);
  if (d->next >= d->bytes->size()) {
    *length = 0;
    return 1;
  }
  *data = d->bytes->data() + d->next++;
  *length = 1;
  return 1;
}

enum class Kind { T88, SW };

struct Decoded {
  std::vector<int> bits;
  bool end_seen;
  const uint8_t* finish;
};

// Decodes the contexts of `ds` from `bytes`, whole or one byte per refill.
Decoded decode(Kind kind, const std::vector<uint8_t>& bytes, const std::vector<Decision>& ds,
               size_t contexts, bool one_byte_windows) {
  MqDecoder dec;
  Dribble feed{&bytes};
  std::vector<uint8_t> cx(contexts, 0);
  const uint8_t* data = one_byte_windows ? nullptr : bytes.data();
  const auto length = static_cast<uint32_t>(one_byte_windows ? 0 : bytes.size());
  MqRefillFn refill = one_byte_windows ? dribble : nullptr;
  if (kind == Kind::T88)
    VltEncode_mqdInit(&dec, data, length, refill, &feed, nullptr);
  else
    VltEncode_mqdInitSW(&dec, data, length, refill, &feed, nullptr);
  Decoded out;
  for (const Decision& d : ds)
    out.bits.push_back(kind == Kind::T88 ? VltEncode_mqdDecode(&dec, &cx[d.cx])
                                         : VltEncode_mqdDecodeSW(&dec, &cx[d.cx]));
  out.end_seen = kind == Kind::T88 ? VltEncode_mqdEndSeen(&dec) : VltEncode_mqdEndSeenSW(&dec);
  out.finish = kind == Kind::T88 ? VltEncode_mqdFinish(&dec) : VltEncode_mqdFinishSW(&dec);
  return out;
}

std::vector<Decision> one_context(const std::vector<int>& bits) {
  std::vector<Decision> ds;
  for (int b : bits) ds.push_back({0, b});
  return ds;
}

std::vector<int> bits_of(const std::vector<Decision>& ds) {
  std::vector<int> bits;
  for (const Decision& d : ds) bits.push_back(d.bit);
  return bits;
}

TEST(MqCoder, EncodesTheStandardTestSequenceByteExact) {
  EXPECT_EQ(encode(one_context(h2_bits()), 1), kH2Output);
}

TEST(MqCoder, BothDecodersReadTheStandardTestSequence) {
  const auto ds = one_context(h2_bits());
  for (Kind kind : {Kind::T88, Kind::SW}) {
    for (bool dribbled : {false, true}) {
      SCOPED_TRACE(testing::Message() << "SW " << (kind == Kind::SW) << " dribbled " << dribbled);
      const Decoded d = decode(kind, kH2Output, ds, 1, dribbled);
      EXPECT_EQ(d.bits, h2_bits());
      EXPECT_EQ(d.finish, kH2Output.data() + kH2Output.size());
    }
  }
}

TEST(MqCoder, FlushOfAnEmptyStreamWritesOnlyTheMarker) {
  EXPECT_EQ(encode({}, 1), (std::vector<uint8_t>{0xFF, 0xAC}));
}

TEST(MqCoder, FinishFollowsTheEndMarker) {
  struct Case {
    std::vector<uint8_t> bytes;
    bool end_at_start;  // the marker is met while starting
    long finish;        // offset returned by finish, -1 for null
  } cases[] = {
      {{0xFF, 0xAC}, true, 2},
      {{0x00, 0xFF, 0x90, 0x55}, false, 3},  // 0x90 after 0xFF ends the data
      {{0x00, 0xFF, 0x7F, 0x55}, false, -1}, // 0x7F after 0xFF is data
      {{0x12, 0x34}, false, -1},
      {{}, false, -1},
  };
  for (const Case& c : cases) {
    for (Kind kind : {Kind::T88, Kind::SW}) {
      SCOPED_TRACE(testing::Message() << "case of " << c.bytes.size() << " bytes, SW "
                                      << (kind == Kind::SW));
      MqDecoder dec;
      if (kind == Kind::T88)
        VltEncode_mqdInit(&dec, c.bytes.data(), static_cast<uint32_t>(c.bytes.size()), nullptr,
                          nullptr, nullptr);
      else
        VltEncode_mqdInitSW(&dec, c.bytes.data(), static_cast<uint32_t>(c.bytes.size()), nullptr,
                            nullptr, nullptr);
      EXPECT_EQ(VltEncode_mqdEndSeen(&dec), c.end_at_start ? 1 : 0);
      const uint8_t* end = VltEncode_mqdFinishSW(&dec);
      if (c.finish < 0)
        EXPECT_EQ(end, nullptr);
      else
        EXPECT_EQ(end, c.bytes.data() + c.finish);
    }
  }
}

TEST(MqCoder, DataEndingWithoutMarkerDecodesAsOnesAndLeavesAHookForKnownLengths) {
  const uint8_t none = 0;
  MqDecoder dec;
  VltEncode_mqdInit(&dec, &none, 0, nullptr, nullptr, nullptr);
  EXPECT_EQ(dec.mode, MQD_MODE_RAN_OUT);
  uint8_t cx = 0;
  // No data at all reads as 1-bits from the first byte on, as the standard's decoder reads it.
  monotest::MqRefDecoder reference(&none, 0, 1);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(VltEncode_mqdDecode(&dec, &cx), reference.decode(0)) << i;
  EXPECT_EQ(VltEncode_mqdFinish(&dec), nullptr);
  EXPECT_FALSE(VltEncode_mqdEndSeen(&dec));

  // A stream cut before its marker still decodes its decisions; the read position tells a reader
  // that knows the data length how far the decoder got.
  std::mt19937 rng(7);
  std::vector<Decision> ds;
  for (int i = 0; i < 4000; ++i) ds.push_back({static_cast<uint32_t>(i % 8), (rng() % 5) == 0});
  std::vector<uint8_t> bytes = encode(ds, 8);
  bytes.resize(bytes.size() - 2);
  MqDecoder cut;
  std::vector<uint8_t> cxs(8, 0);
  VltEncode_mqdInit(&cut, bytes.data(), static_cast<uint32_t>(bytes.size()), nullptr, nullptr,
                    nullptr);
  std::vector<int> bits;
  for (const Decision& d : ds) bits.push_back(VltEncode_mqdDecode(&cut, &cxs[d.cx]));
  EXPECT_EQ(bits, bits_of(ds));
  EXPECT_EQ(VltEncode_mqdEndSeen(&cut), 0);
  EXPECT_GE(VltEncode_mqdReadPos(&cut), bytes.data() + bytes.size() - 2);
  EXPECT_LE(VltEncode_mqdReadPos(&cut), bytes.data() + bytes.size());
}

TEST(MqCoder, LongRunInOneContextCompressesAndDecodesBack) {
  for (int bit : {0, 1}) {
    const std::vector<Decision> ds(10000, Decision{0, bit});
    const auto bytes = encode(ds, 1);
    EXPECT_LT(bytes.size() * 8, ds.size() / 10);
    for (Kind kind : {Kind::T88, Kind::SW}) EXPECT_EQ(decode(kind, bytes, ds, 1, false).bits, bits_of(ds));
  }
}

// Runs of equal decisions coded in one call give the stream that coding them one by one gives:
// long and short runs, of the more and the less probable symbol, switching contexts between runs.
TEST(MqCoder, RunsCodeAsSingleDecisionsDo) {
  std::mt19937 rng(17);
  std::vector<Decision> ds;
  struct Run {
    uint32_t cx;
    int bit;
    uint32_t n;
  };
  std::vector<Run> runs;
  for (int i = 0; i < 3000; ++i) {
    const uint32_t n = rng() % 4 == 0 ? 1 + rng() % 5000 : 1 + rng() % 6;
    const Run r{static_cast<uint32_t>(rng() % 3), rng() % 5 == 0 ? 1 : 0, n};
    runs.push_back(r);
    for (uint32_t k = 0; k < n; ++k) ds.push_back({r.cx, r.bit});
  }
  std::vector<uint8_t> out;
  std::vector<uint8_t> cx(3, 0);
  MqEncoder enc;
  VltEncode_mqeInit(&enc, append_byte, &out, nullptr);
  for (const Run& r : runs) ASSERT_EQ(VltEncode_mqeEncodeRun(&enc, &cx[r.cx], r.bit, r.n), 1);
  ASSERT_EQ(VltEncode_mqeFlush(&enc), 1);
  EXPECT_EQ(out, encode(ds, 3));
  // A run that meets a refusing byte-out stops with the failure.
  LimitedSink sink{{}, 0};
  VltEncode_mqeInit(&enc, limited_byte, &sink, nullptr);
  uint8_t one = 0;
  int ok = 1;
  for (int i = 0; i < 1000 && ok; ++i) ok = VltEncode_mqeEncodeRun(&enc, &one, i & 1, 3);
  EXPECT_EQ(ok, 0);
}

TEST(MqCoder, ByteOutFailureStopsTheEncoder) {
  std::vector<Decision> ds;
  std::mt19937 rng(3);
  for (int i = 0; i < 2000; ++i) ds.push_back({0, static_cast<int>(rng() & 1)});
  const size_t full = encode(ds, 1).size();
  for (size_t room : {size_t{0}, size_t{5}, full - 2, full - 1}) {
    SCOPED_TRACE(room);
    LimitedSink sink{{}, room};
    MqEncoder enc;
    VltEncode_mqeInit(&enc, limited_byte, &sink, nullptr);
    uint8_t cx = 0;
    int ok = 1;
    for (const Decision& d : ds)
      if (!(ok = VltEncode_mqeEncode(&enc, &cx, d.bit))) break;
    if (ok) ok = VltEncode_mqeFlush(&enc);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(sink.bytes.size(), room);
  }
}

// Short streams end in every way the flush knows, the folded 0x7F after 0xFF among them: each
// decodes back through all three decoders and is the flowchart's stream, folded or not.
TEST(MqCoder, ShortStreamsFlushToDecodableEnds) {
  int folded_streams = 0;
  for (uint32_t seed = 0; seed < 3000; ++seed) {
    std::mt19937 rng(seed);
    std::vector<Decision> ds(1 + rng() % 40);
    for (Decision& d : ds) d = {static_cast<uint32_t>(rng() % 2), static_cast<int>(rng() & 1)};
    const std::vector<uint8_t> ours = encode(ds, 2);
    monotest::MqRefEncoder ref_enc(2);
    for (const Decision& d : ds) ref_enc.encode(d.cx, d.bit);
    const std::vector<uint8_t> ref = ref_enc.flush();
    if (ours.size() != ref.size()) {
      ++folded_streams;
      ASSERT_EQ(ref.size(), ours.size() + 2) << "seed " << seed;
      ASSERT_EQ(ref[ref.size() - 3], 0x7F) << "seed " << seed;
    }
    ASSERT_TRUE(std::equal(ours.begin(), ours.end() - 1, ref.begin())) << "seed " << seed;
    for (Kind kind : {Kind::T88, Kind::SW}) {
      const Decoded d = decode(kind, ours, ds, 2, seed % 2 == 1);
      ASSERT_EQ(d.bits, bits_of(ds)) << "seed " << seed;
      ASSERT_NE(d.finish, nullptr) << "seed " << seed;
    }
    monotest::MqRefDecoder ref_dec(ours.data(), ours.size(), 2);
    for (const Decision& d : ds) ASSERT_EQ(ref_dec.decode(d.cx), d.bit) << "seed " << seed;
  }
  EXPECT_GT(folded_streams, 0);
}

// A million decisions over many contexts with different skews, coded by this coder and by the
// flowchart coder: both decoders of the library and the flowchart decoder read back the same
// decisions from either stream, whole and one byte per refill.
TEST(MqCoder, RandomRoundTripsAgreeWithTheFlowchartCoder) {
  std::mt19937 rng(20261210);
  constexpr size_t kContexts = 1024;
  constexpr int kStreams = 20;
  constexpr int kPerStream = 50000;
  for (int s = 0; s < kStreams; ++s) {
    SCOPED_TRACE(s);
    std::vector<double> p1(kContexts);
    for (double& p : p1) {
      const double u = std::uniform_real_distribution<double>(0, 1)(rng);
      p = s % 4 == 0 ? u : u * u * u * u;  // mostly skewed, sometimes even
      if (rng() & 1) p = 1 - p;
    }
    const size_t used = s % 5 == 0 ? 1 : s % 5 == 1 ? 16 : kContexts;
    std::vector<Decision> ds;
    ds.reserve(kPerStream);
    for (int i = 0; i < kPerStream; ++i) {
      const auto cx = static_cast<uint32_t>(rng() % used);
      ds.push_back({cx, std::bernoulli_distribution(p1[cx])(rng) ? 1 : 0});
    }

    const std::vector<uint8_t> ours = encode(ds, kContexts);
    monotest::MqRefEncoder ref_enc(kContexts);
    for (const Decision& d : ds) ref_enc.encode(d.cx, d.bit);
    const std::vector<uint8_t> ref = ref_enc.flush();
    // The flowchart keeps a last 0x7F after 0xFF that this coder folds into the marker.
    std::vector<uint8_t> folded = ref;
    if (ref.size() >= 4 && ref[ref.size() - 4] == 0xFF && ref[ref.size() - 3] == 0x7F) {
      folded.erase(folded.end() - 3, folded.end() - 1);
    }
    EXPECT_EQ(ours, folded);

    // Bit stuffing: a data byte after 0xFF never looks like a marker.
    for (size_t i = 0; i + 2 < ours.size(); ++i) {
      if (ours[i] == 0xFF) {
        EXPECT_LE(ours[i + 1], 0x8F) << "at " << i;
      }
    }

    const std::vector<int> want = bits_of(ds);
    for (const std::vector<uint8_t>* stream : {&ours, &ref}) {
      monotest::MqRefDecoder ref_dec(stream->data(), stream->size(), kContexts);
      std::vector<int> got;
      got.reserve(ds.size());
      for (const Decision& d : ds) got.push_back(ref_dec.decode(d.cx));
      EXPECT_EQ(got, want);
      for (Kind kind : {Kind::T88, Kind::SW}) {
        const Decoded d = decode(kind, *stream, ds, kContexts, s % 4 == 3);
        EXPECT_EQ(d.bits, want);
        EXPECT_NE(d.finish, nullptr);
      }
    }
  }
}

}  // namespace
