// The TIFF back end's file keys and connectors over real files, the bridge instance, and the
// code mappings, entry by entry.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "dio_fixture.h"
#include "safe_output.h"
#include "tio.h"
#include "tools.h"

namespace {

using monotest::TempDir;

TEST(TioStream, KeysOpenAndFailByDirection) {
  TempDir dir;
  SioFileKey* key = reinterpret_cast<SioFileKey*>(1);
  EXPECT_EQ(__sioCreateReadFileKey(dir.file("missing.tif").c_str(), &key), 2000);
  EXPECT_EQ(key, nullptr);
  key = reinterpret_cast<SioFileKey*>(1);
  EXPECT_EQ(__sioCreateWriteFileKey(dir.file("no/such/dir/out.tif").c_str(), &key), 2001);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(__sioCreateReadFileKey(nullptr, &key), 2000);
  EXPECT_EQ(__sioReleaseFileKey(nullptr), 0);
}

TEST(TioStream, ConnectorsKeepThePosition) {
  TempDir dir;
  const std::string path = dir.file("bytes.bin");
  SioFileKey* key = nullptr;
  ASSERT_EQ(__sioCreateWriteFileKey(path.c_str(), &key), 0);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->position, 0);
  EXPECT_EQ(__sioCnctWrite(key, "0123456789", 10), 10);
  EXPECT_EQ(__sioCnctTell(key), 10);
  // Written data is flushed at once: the temporary file beside the name holds it while the key
  // is open; the name itself appears only at the commit.
  ASSERT_NE(key->output, nullptr);
  EXPECT_EQ(monotest::read_file(key->output->temp), "0123456789");
  EXPECT_FALSE(std::ifstream(path).good());
  EXPECT_EQ(__sioCnctSeek(key, 4), 4);
  EXPECT_EQ(__sioCnctWrite(key, "ab", 2), 2);
  EXPECT_EQ(__sioCnctTell(key), 6);
  char message[SAFEOUT_MESSAGE_SIZE] = "";
  EXPECT_EQ(__sioCommitFileKey(key, message, sizeof message), 0) << message;
  EXPECT_EQ(monotest::read_file(path), "0123ab6789");
  // A key released without its commit leaves the name as it was.
  ASSERT_EQ(__sioCreateWriteFileKey(path.c_str(), &key), 0);
  EXPECT_EQ(__sioCnctWrite(key, "xyz", 3), 3);
  const std::string temp = key->output->temp;
  EXPECT_EQ(__sioReleaseFileKey(key), 0);
  EXPECT_EQ(monotest::read_file(path), "0123ab6789");
  EXPECT_FALSE(std::ifstream(temp).good());

  ASSERT_EQ(__sioCreateReadFileKey(path.c_str(), &key), 0);
  char buffer[16] = {};
  EXPECT_EQ(__sioCnctRead(key, buffer, 3), 3);
  EXPECT_EQ(std::string(buffer, 3), "012");
  EXPECT_EQ(__sioCnctTell(key), 3);
  // Asking the size leaves the file at its end: reads give nothing until a seek.
  EXPECT_EQ(__sioCnctSize(key), 10);
  EXPECT_EQ(__sioCnctTell(key), 10);
  EXPECT_EQ(__sioCnctRead(key, buffer, 4), 0);
  EXPECT_EQ(__sioCnctTell(key), 10);
  // A short read at the end gives what is there and moves by that much.
  EXPECT_EQ(__sioCnctSeek(key, 7), 7);
  EXPECT_EQ(__sioCnctRead(key, buffer, 16), 3);
  EXPECT_EQ(std::string(buffer, 3), "789");
  EXPECT_EQ(__sioCnctTell(key), 10);
  // A failed seek answers 0 and leaves the position.
  EXPECT_EQ(__sioCnctSeek(key, -5), 0);
  EXPECT_EQ(__sioCnctTell(key), 10);
  // Writing to a read key moves nothing.
  EXPECT_EQ(__sioCnctWrite(key, "x", 1), 0);
  EXPECT_EQ(__sioCnctTell(key), 10);
  EXPECT_EQ(__sioReleaseFileKey(key), 0);
}

TEST(TioStream, OneInstanceForTheProcess) {
  void* first = nullptr;
  void* second = nullptr;
  ASSERT_EQ(__initMIOHandle(&first), 0);
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(__initMIOHandle(&second), 0);
  EXPECT_EQ(first, second);
  void* freed = nullptr;
  EXPECT_EQ(__freeMIOHandle(&freed), first);
  EXPECT_EQ(freed, first);
  EXPECT_EQ(__tioInstance(), first);
}

TEST(TioStream, PhotometryAndColourSpaceTables) {
  const std::map<int32_t, int32_t> space{{21, 1}, {118, 1}, {1, 2},  {22, 2}, {117, 2}, {2, 3},  {18, 3},
                                         {111, 3}, {6, 4},   {15, 5}, {4, 6},  {5, 7},   {16, 8}, {20, 8}};
  for (int32_t photometry = -2; photometry < 300; ++photometry) {
    const auto it = space.find(photometry);
    EXPECT_EQ(__ioCSpaceFromQEL(photometry), it == space.end() ? 0 : it->second) << photometry;
  }
  const std::map<std::pair<int32_t, int32_t>, int32_t> photo{
      {{1, 1}, 21}, {{3, 1}, 21}, {{1, 2}, 1},  {{3, 2}, 1},  {{7, 3}, 111},
      {{7, 5}, 15}, {{7, 6}, 4},  {{7, 7}, 4},  {{7, 8}, 20}};
  for (int32_t type = -1; type < 12; ++type) {
    for (int32_t cs = -1; cs < 12; ++cs) {
      const auto it = photo.find({type, cs});
      EXPECT_EQ(__photoFromIOColortype(type, cs), it == photo.end() ? 0 : it->second) << type << " " << cs;
    }
  }
}

TEST(TioStream, CompressionTablesBothWays) {
  const std::map<int32_t, uint32_t> to_flag{{0, 0x1},      {1, 0x20},  {2, 0x4},    {3, 0x10},
                                            {4, 0x8},      {6, 0x4000}, {7, 0x800}, {8, 0x8000},
                                            {10, 0x80000}, {11, 0x20000}};
  for (int32_t code = -3; code < 80; ++code) {
    const auto it = to_flag.find(code);
    EXPECT_EQ(__ioCompressFromQEL(code, 0), it == to_flag.end() ? 0u : it->second) << code;
    const uint32_t with_predictor = code == 10 ? 0x280000u : it == to_flag.end() ? 0u : it->second;
    EXPECT_EQ(__ioCompressFromQEL(code, 1), with_predictor) << code;
  }
  const std::map<uint32_t, int32_t> to_code{{0x1, 0},     {0x2, 2},     {0x4, 2},      {0x8, 4},
                                            {0x10, 3},    {0x20, 1},    {0x800, 7},    {0x4000, 6},
                                            {0x8000, 8},  {0x20000, 11}, {0x80000, 10}, {0x280000, 10},
                                            {0x100000, 0}};
  std::vector<uint32_t> flags{0, 0x40, 0x80, 0x100, 0x1000, 0x200000, 0x204000, 0x300000, 0xFFFFFFFF};
  for (const auto& [flag, code] : to_code) flags.push_back(flag);
  for (int bit = 0; bit < 32; ++bit) flags.push_back(1u << bit);
  for (uint32_t flag : flags) {
    int32_t predictor = -1;
    const auto it = to_code.find(flag);
    EXPECT_EQ(__compressFromIOCompression(flag, &predictor), it == to_code.end() ? -1 : it->second) << flag;
    EXPECT_EQ(predictor, (flag & 0x200000) ? 1 : 0) << flag;
  }
  // Engine code 10 with differencing goes out as 0x280000 and comes back as 10 with the flag.
  int32_t predictor = 0;
  EXPECT_EQ(__compressFromIOCompression(__ioCompressFromQEL(10, 1), &predictor), 10);
  EXPECT_EQ(predictor, 1);
}

}  // namespace

namespace {

class TioColourType : public monotest::DocTest {};

// How the sample layout decides which bits-per-sample entries make a layer's colour type.
TEST_F(TioColourType, LayoutDecidesWhichBitsCount) {
  struct Case {
    int32_t layout, samples, compression;
    std::vector<int32_t> bits;
    int32_t type;
  };
  const Case cases[] = {
      {1, 3, 0, {8}, 7},           {0, 3, 0, {8, 8, 8}, 7},  {1, 4, 0, {8}, 0},        {0, 4, 0, {8, 8, 8, 8}, 0},
      {1, 1, 0, {1}, 1},           {1, 1, 0, {8}, 3},        {0, 0, 0, {8}, 0},        {3, 3, 1, {4}, 7},
      {3, 1, 1, {8}, 3},           {3, 1, 1, {1}, 1},        {3, 1, 50, {4}, 3},       {3, 1, 3, {4}, 0},
      {2, 1, 0, {1}, 0},           {1, 1, 0, {}, 0},
  };
  for (const Case& c : cases) {
    elf_object* header = new_QELHDR(state, nullptr, nullptr);
    elf_QELHDR* h = qelHdr(header);
    h->interleave = c.layout;
    h->samplesPerPixel = c.samples;
    h->compression = c.compression;
    if (!c.bits.empty()) {
      h->bitsPerSample = static_cast<int32_t*>(elfCalloc(c.bits.size(), sizeof(int32_t)));
      for (size_t i = 0; i < c.bits.size(); ++i) h->bitsPerSample[i] = c.bits[i];
      h->bitsPerSampleCount = static_cast<int32_t>(c.bits.size());
    }
    EXPECT_EQ(__ioCTypeFromQEL(header), c.type)
        << "layout " << c.layout << ", " << c.samples << " samples, compression " << c.compression;
    elfDiscard(header);
  }
  EXPECT_EQ(__ioCTypeFromQEL(nullptr), 0);
}

}  // namespace
