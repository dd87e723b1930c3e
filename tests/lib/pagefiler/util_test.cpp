// Format names, page file names, the document checksum against zlib's CRC-32, clearing volatile
// bytes block by block, and directories.

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "dio_fixture.h"
#include "tools.h"

namespace {

using monotest::DocTest;
using UtilTest = DocTest;

TEST(FormatNames, NamesMapToCodesAndBack) {
  struct Format {
    const char* name;
    int32_t code;
  };
  const Format formats[] = {{"jfif", 1}, {"JPG", 1},  {"pdf", 3},     {"Tif", 2},    {"TIFF", 2},  {"xps", 6},
                            {"bmp", 5},  {"GIF", 7},  {"png", 8},     {"pnm", 9},    {"tfx", 4},   {"TiffFX", 4},
                            {"jpeg", 0}, {"", 0},     {"pdf ", 0},    {nullptr, 0}};
  for (const Format& f : formats) EXPECT_EQ(StringToFormatType(f.name), f.code) << (f.name ? f.name : "(null)");

  const char* printed[] = {"DEFAULT", "JFIF", "TIFF", "PDF", "TIFFFX", "BMP", "XPS", "GIF", "PNG", "PNM"};
  char buffer[DIO_FORMAT_NAME_MAX];
  for (int32_t code = 0; code <= 9; ++code) {
    FormatTypeToString(code, buffer);
    EXPECT_STREQ(buffer, printed[code]);
  }
  for (int32_t code : {-1, 10, 1000}) {
    FormatTypeToString(code, buffer);
    EXPECT_STREQ(buffer, "unknown");
  }

  const Format subtypes[] = {{"v6", 2},     {"TN2", 3},     {"profileS", 4}, {"s", 4},       {"TFXS", 4},
                             {"profilef", 5}, {"f", 5},     {"tfxf", 5},     {"ProfileC", 6}, {"c", 6},
                             {"tfxc", 6},   {"1.3", 7},     {"v1.3", 7},     {"V13", 7},     {"1.4", 8},
                             {"v1.4", 8},   {"v14", 8},     {"Linear", 8},   {"archive", 8}, {"1.7", 9},
                             {"v1.7", 9},   {"v17", 9},     {"v1.5", 1},     {"", 1},        {nullptr, 1}};
  for (const Format& f : subtypes) EXPECT_EQ(StringToSubFormatType(f.name), f.code) << (f.name ? f.name : "(null)");
}

TEST_F(UtilTest, PageFileNamesTakeTheNumberBeforeTheExtension) {
  struct Case {
    const char* name;
    int32_t page;
    const char* ext;
    const char* full;
  };
  const Case cases[] = {
      {"out/scan.tif", 3, "jpg", "out/scan-3.tif"}, {"scan", 0, "jpg", "scan.jpg"},
      {"scan", 2, nullptr, "scan-2"},               {"scan.jpg", -1, "png", "scan.jpg"},
      {"/abs/p.q.png", 12, "x", "/abs/p.q-12.png"}, {"dir.d/page", 1, "bmp", "dir.d/page-1.bmp"},
      {"/top.gif", 0, nullptr, "/top.gif"},
  };
  for (const Case& c : cases) {
    char* full = __DIO_makeFullName(c.name, c.page, c.ext);
    EXPECT_STREQ(full, c.full) << c.name;
    __DIO_releaseFullName(full);
  }
  EXPECT_EQ(__DIO_makeFullName(nullptr, 1, "x"), nullptr);
  __DIO_releaseFullName(nullptr);
  // Short of memory, no name rather than a different one.
  for (size_t k = 1;; ++k) {
    const size_t failures = heap.failures();
    heap.fail_at(k);
    char* full = __DIO_makeFullName("out/scan.tif", 3, "jpg");
    const bool failed = heap.failures() > failures;
    heap.fail_at(0);
    if (full) {
      EXPECT_STREQ(full, "out/scan-3.tif") << "allocation " << k;
    }
    __DIO_releaseFullName(full);
    if (!failed) break;
  }
}

std::string random_bytes(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

uint32_t zlib_crc(const std::string& s) {
  return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

// zlib's CRC-32 continued from a register of all ones: the inverse of the raw register from 0.
uint32_t raw_zlib(const std::string& s) {
  return static_cast<uint32_t>(
      crc32(0xFFFFFFFFul, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

TEST_F(UtilTest, TheRawRegisterIsZlibsCrcWithoutItsInversions) {
  const size_t before = heap.live_blocks();
  // zlib's CRC-32 is the register started at all ones and inverted at the end.
  EXPECT_EQ(__DIO_calculateChecksum(0, "abc", 3), ~raw_zlib("abc"));
  EXPECT_NE(__DIO_calculateChecksum(0, "abc", 3), zlib_crc("abc")) << "no inversions at either end";
  for (size_t n : {size_t{1}, size_t{3}, size_t{255}, size_t{4096}, size_t{10007}}) {
    const std::string data = random_bytes(n, static_cast<uint32_t>(n));
    EXPECT_EQ(~__DIO_calculateChecksum(~0u, data.data(), static_cast<int32_t>(n)), zlib_crc(data)) << n;
    // Block by block the register runs on.
    uint32_t crc = ~0u;
    for (size_t at = 0; at < n; at += 97) {
      crc = __DIO_calculateChecksum(crc, data.data() + at, static_cast<int32_t>(std::min<size_t>(97, n - at)));
    }
    EXPECT_EQ(~crc, zlib_crc(data)) << n;
  }
  EXPECT_EQ(__DIO_calculateChecksum(0x5A5A, "x", -4), 0x5A5Au);
  EXPECT_EQ(__DIO_calculateChecksum(0x5A5A, nullptr, 0), 0x5A5Au);
  EXPECT_EQ(heap.live_blocks(), before) << "nothing is kept between calls";
}

TEST_F(UtilTest, WholeStreamChecksumsStartAtZeroAndFreeTheirBuffer) {
  monotest::TempDir dir;
  const std::string data = random_bytes(3 * 4096 + 17, 7);
  monotest::write_file(dir.file("doc.bin"), data);
  monotest::write_file(dir.file("empty.bin"), "");
  const size_t before = heap.live_blocks();
  KVngIO* stream = KVngIO_FileName(dir.file("doc.bin").c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  char skip[10];
  ASSERT_EQ(stream->read(stream, skip, 10), 10) << "the checksum starts from the beginning anyway";
  const int64_t first = __DIO_unfilteredChecksum(stream);
  EXPECT_EQ(first, static_cast<int64_t>(~raw_zlib(data)));
  EXPECT_EQ(__DIO_unfilteredChecksum(stream), first);
  stream->release(stream);
  EXPECT_EQ(heap.live_blocks(), before) << "the buffer is freed";

  KVngIO* empty = KVngIO_FileName(dir.file("empty.bin").c_str(), "rb");
  EXPECT_EQ(__DIO_unfilteredChecksum(empty), 0);
  empty->release(empty);
  EXPECT_EQ(__DIO_unfilteredChecksum(nullptr), -1);

  // A stream that fails part-way gives no checksum.
  KVngIO* memory = KVngIO_Str(data.data(), static_cast<int64_t>(data.size()));
  static int reads;
  reads = 0;
  memory->read = [](KVngIO*, void* buffer, int64_t count) -> int64_t {
    std::memset(buffer, 0, static_cast<size_t>(count));
    return ++reads < 3 ? count : -1;
  };
  EXPECT_EQ(__DIO_unfilteredChecksum(memory), -1);
  memory->release(memory);
}

// Clears a whole stream in blocks of the given sizes (cycled).
std::string cleared(std::string data, const std::vector<size_t>& sizes, const char* marker, char stop) {
  int32_t carry = 0;
  size_t at = 0;
  for (size_t i = 0; at < data.size(); ++i) {
    const size_t n = std::min(sizes[i % sizes.size()], data.size() - at);
    // Each block in a buffer of its own, so that a write past it would be caught.
    std::vector<uint8_t> block(data.begin() + static_cast<std::ptrdiff_t>(at),
                               data.begin() + static_cast<std::ptrdiff_t>(at + n));
    __DIO_clearBytes(block.data(), static_cast<int32_t>(n), marker, carry, &carry, static_cast<uint8_t>(stop));
    std::memcpy(data.data() + at, block.data(), n);
    at += n;
  }
  return data;
}

TEST(ClearBytes, MarkersAreClearedUpToTheirStopByte) {
  using namespace std::string_literals;
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"<</CreationDate (D:2024)>>", "<</CreationDate\0\0\0\0\0\0\0\0)>>"s},
      {"/ID [<ab><cd>] x /ID[<ef>]", "/ID\0\0\0\0\0\0\0\0\0\0] x /ID\0\0\0\0\0]"s},
      {"/CreationDate", "/CreationDate"},
      {"/CreationDat", "/CreationDat"},
      {"//CreationDate(x)", "//CreationDate\0\0)"s},
      {"/Creation/CreationDate(y)", "/Creation/CreationDate\0\0)"s},
      {"/CreationDate no stop", "/CreationDate\0\0\0\0\0\0\0\0"s},
  };
  for (const Case& c : cases) {
    const char* marker = c.in.find("/ID") != std::string::npos ? "/ID" : "/CreationDate";
    const char stop = marker[1] == 'I' ? ']' : ')';
    EXPECT_EQ(cleared(c.in, {c.in.size()}, marker, stop), c.out) << c.in;
  }
}

TEST(ClearBytes, BlockBoundariesDoNotChangeTheResult) {
  // A document-like stream with markers, runs and near misses at every offset.
  std::mt19937 gen(11);
  std::string data;
  const char* pieces[] = {"/CreationDate (D:20240101)", "/Creat", "/CreationDat", "(x)", "/CreationDate", "))",
                          "stream data ", "/CreationDate/CreationDate(z)"};
  while (data.size() < 20000) data += pieces[gen() % std::size(pieces)] + random_bytes(gen() % 9, gen());
  const std::string whole = cleared(data, {data.size()}, "/CreationDate", ')');
  EXPECT_NE(whole, data);
  for (const std::vector<size_t>& sizes : std::vector<std::vector<size_t>>{{1}, {2}, {3}, {7}, {13}, {14}, {4096},
                                                                             {1, 12, 5, 40}, {13, 1}}) {
    EXPECT_EQ(cleared(data, sizes, "/CreationDate", ')'), whole) << "blocks of " << sizes[0];
  }
  int32_t carry = 99;
  __DIO_clearBytes(nullptr, 0, "/ID", 2, &carry, ']');
  EXPECT_EQ(carry, 2) << "an empty block carries the match on";
}

TEST(Directories, EnsureMakesChecksAndReports) {
  monotest::TempDir dir;
  SState* state = SState_NewStateDefault();
  std::string errors;
  state->print = [](void* data, int, const char* text) { *static_cast<std::string*>(data) += text; };
  state->printData = &errors;

  EXPECT_EQ(Dir_Ensure(state, dir.path().c_str()), 0);
  EXPECT_EQ(errors, "");
  const std::string made = dir.file("made");
  EXPECT_EQ(Dir_Ensure(state, made.c_str()), 0);
  struct stat st;
  ASSERT_EQ(stat(made.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0775u & ~mask);

  monotest::write_file(dir.file("plain"), "x");
  EXPECT_EQ(Dir_Ensure(state, dir.file("plain").c_str()), -1);
  EXPECT_EQ(errors, "  Dir_Ensure: File already exists: " + dir.file("plain") + "\n");
  EXPECT_EQ(state->errorCode, -1);
  errors.clear();
  EXPECT_EQ(Dir_Ensure(state, dir.file("no/parent").c_str()), -1) << "a directory that cannot be made";
  EXPECT_NE(errors.find("Dir_Ensure: Cannot make directory"), std::string::npos) << errors;
  EXPECT_EQ(state->failed, 2);

  EXPECT_EQ(Dir_Size(state, made.c_str()), 2) << "an empty directory holds . and ..";
  monotest::write_file(made + "/only", "");
  EXPECT_EQ(Dir_Size(state, made.c_str()), 3);
  std::vector<std::string> names;
  for (int32_t i = 0; i < 3; ++i) {
    char* name = Dir_Entry(state, made.c_str(), i);
    ASSERT_NE(name, nullptr);
    names.emplace_back(name);
    SState_Free(state, name);
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", "only"}));
  EXPECT_EQ(Dir_Entry(state, made.c_str(), 3), nullptr);
  EXPECT_EQ(Dir_Entry(state, made.c_str(), -1), nullptr);
  EXPECT_EQ(Dir_Size(state, dir.file("absent").c_str()), -1);
  EXPECT_EQ(Dir_Entry(state, dir.file("absent").c_str(), 0), nullptr);
  SState_FreeState(state);
}

}  // namespace
