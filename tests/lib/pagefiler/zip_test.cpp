// The zip archive utility: archives made by zip, Python's zipfile and bsdtar listed and
// extracted as unzip does, streamed archives written back byte for byte, every record kind
// shown, damaged entries and entries leaving the target refused, whole-name look-ups, the end
// record's reach, and every failed allocation.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "counting_alloc.h"
#include "dio.h"
#include "tools.h"
#include "zip_builder.h"
#include "zzip.h"

namespace {

namespace fs = std::filesystem;
using monotest::read_file;
using monotest::write_file;
using ziptest::Entry;

struct ZipCloser {
  void operator()(ZZipArchive* zip) const { ZZip_Free(zip); }
};
using Zip = std::unique_ptr<ZZipArchive, ZipCloser>;

struct BufCloser {
  void operator()(BufUChar* buffer) const { BufUChar_Free(buffer); }
};
using Buf = std::unique_ptr<BufUChar, BufCloser>;

std::string text_of(const BufUChar* buffer) {
  return buffer ? std::string(reinterpret_cast<const char*>(buffer->data), buffer->length) : "(none)";
}

// What a listing tells of an entry.
struct Listed {
  std::string name;
  uint64_t size = 0, stored = 0;
  uint32_t crc = 0;
  bool operator==(const Listed&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Listed& e) {
  return out << e.name << " " << e.size << "/" << e.stored << " " << std::hex << e.crc << std::dec;
}

// The local headers of an archive as read.
std::vector<Listed> listing(ZZipArchive* zip) {
  std::vector<Listed> out;
  for (ZZipRecord* r = zip->first; r; r = r->next) {
    if (r->signature != ZZIP_SIG_LOCAL_FILE_HDR) continue;
    auto* h = reinterpret_cast<LocalFileHdr*>(r);
    out.push_back({std::string(h->fileName, h->fileNameLen), h->fullSize, h->dataSize, h->crc});
  }
  return out;
}

// unzip's verbose listing: length, method, size, ratio, date, time, CRC, then the name.
std::vector<Listed> unzip_listing(const std::string& archive) {
  const monotest::ToolResult r = monotest::run_tool("unzip -lv " + monotest::shell_quote(archive));
  EXPECT_EQ(r.exit_code, 0) << r.output;
  std::istringstream lines(r.output);
  std::vector<Listed> out;
  std::string line;
  int rules = 0;
  while (std::getline(lines, line)) {
    if (line.rfind("--------", 0) == 0) {
      ++rules;
      continue;
    }
    if (rules != 1) continue;
    std::istringstream fields(line);
    Listed e;
    std::string method, ratio, date, time, crc;
    fields >> e.size >> method >> e.stored >> ratio >> date >> time >> crc;
    e.crc = static_cast<uint32_t>(std::stoul(crc, nullptr, 16));
    std::getline(fields, e.name);
    e.name.erase(0, e.name.find_first_not_of(' '));
    out.push_back(e);
  }
  return out;
}

// Every file and directory under root: the file's bytes, or "<dir>".
std::map<std::string, std::string> tree(const std::string& root) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string rel = fs::relative(e.path(), root).string();
    out[rel] = e.is_directory() ? "<dir>" : read_file(e.path().string());
  }
  return out;
}

class ZipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const elf_heap_procs procs{monotest::CountingAllocator::c_malloc, monotest::CountingAllocator::c_calloc,
                               monotest::CountingAllocator::c_free, &heap};
    elfSetHeap(&procs);
    state = SState_NewStateDefault();
    ASSERT_NE(state, nullptr);
    state->print = [](void* data, int, const char* text) { *static_cast<std::string*>(data) += text; };
    state->printData = &messages;
  }

  void TearDown() override {
    SState_FreeState(state);
    elfSetHeap(nullptr);
    EXPECT_EQ(heap.live_blocks(), 0u) << "blocks left on the heap";
    EXPECT_EQ(heap.foreign(), 0u) << "blocks freed that the heap never handed out";
  }

  // Writes bytes to a file of the temporary folder and reads it as an archive.
  Zip read_bytes(const std::string& bytes, const std::string& name = "t.zip") {
    write_file(dir.file(name), bytes);
    return Zip(ZZip_Read(state, dir.file(name).c_str()));
  }

  // The archive written back through its records.
  std::string written(ZZipArchive* zip) {
    const std::string path = dir.file("written.zip");
    zip->out = std::fopen(path.c_str(), "wb");
    EXPECT_EQ(ZZip_Write(zip), 0) << messages;
    Util_StmClose(zip->out);
    zip->out = nullptr;
    return read_file(path);
  }

  std::string shown(ZZipArchive* zip, int level) {
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    ZZip_Show(zip, out, level);
    std::fclose(out);
    std::string s(text, size);
    std::free(text);
    return s;
  }

  monotest::CountingAllocator heap;
  SState* state = nullptr;
  std::string messages;
  monotest::TempDir dir;
};

// ---- Archives of other tools ----

constexpr char make_python_archives[] = R"(
import io, os, sys, zipfile

src, out = sys.argv[1], sys.argv[2]
paths = []
for top, dirs, files in os.walk(src):
    dirs.sort()
    for name in sorted(dirs) + sorted(files):
        paths.append(os.path.join(top, name))

class Unseekable(io.RawIOBase):
    def __init__(self, f): self.f = f
    def writable(self): return True
    def write(self, b): return self.f.write(b)

def fill(z):
    for p in paths:
        z.write(p, os.path.relpath(p, src))

with zipfile.ZipFile(os.path.join(out, 'python.zip'), 'w', zipfile.ZIP_DEFLATED) as z:
    fill(z)
# Written to a pipe: every entry has a data descriptor.
with open(os.path.join(out, 'python-streamed.zip'), 'wb') as f:
    with zipfile.ZipFile(Unseekable(f), 'w', zipfile.ZIP_DEFLATED) as z:
        fill(z)
        z.comment = b'made by zipfile through a pipe'
# Limits lowered so that a small archive takes ZIP64 sizes, offsets and end records.
zipfile.ZIP64_LIMIT = 64
zipfile.ZIP_FILECOUNT_LIMIT = 2
with zipfile.ZipFile(os.path.join(out, 'python-zip64.zip'), 'w', zipfile.ZIP_DEFLATED) as z:
    fill(z)
with open(os.path.join(out, 'python-zip64-streamed.zip'), 'wb') as f:
    with zipfile.ZipFile(Unseekable(f), 'w', zipfile.ZIP_DEFLATED) as z:
        fill(z)
)";

TEST_F(ZipTest, ArchivesOfOtherToolsListAndExtractAsUnzipDoes) {
  monotest::require_tool("zip", "zip");
  monotest::require_tool("unzip", "unzip");
  monotest::require_tool("bsdtar", "libarchive-tools");
  monotest::require_tool("python3", "python3");
  const std::string src = dir.file("src"), made = dir.file("made");
  fs::create_directories(src + "/d/e");
  fs::create_directories(src + "/void");
  fs::create_directories(made);
  write_file(src + "/a.txt", "hello\n");
  write_file(src + "/empty", "");
  std::string numbers, noise;
  for (int i = 1; i <= 3000; ++i) numbers += std::to_string(i) + "\n";
  for (uint32_t i = 0, x = 12345; i < 5000; ++i) noise.push_back(static_cast<char>((x = x * 1103515245u + 12345u) >> 24));
  write_file(src + "/d/numbers.txt", numbers);
  write_file(src + "/d/noise.bin", noise);
  write_file(src + "/d/with space.txt", "spaced\n");
  write_file(src + "/d/e/x", "x");
  write_file(dir.file("make.py"), make_python_archives);
  const std::string q_src = monotest::shell_quote(src), q_made = monotest::shell_quote(made);
  for (const std::string& command :
       {"cd " + q_src + " && zip -q -r " + q_made + "/zip.zip .",
        "cd " + q_src + " && zip -q -r - . | cat > " + q_made + "/zip-streamed.zip",
        "cd " + q_src + " && bsdtar --format zip -cf " + q_made + "/bsdtar.zip .",
        "python3 " + monotest::shell_quote(dir.file("make.py")) + " " + q_src + " " + q_made}) {
    ASSERT_EQ(monotest::run_tool(command).exit_code, 0) << command;
  }
  // A ZIP64 archive may leave the end record's directory offset to the ZIP64 end record.
  std::string patched = read_file(made + "/python-zip64-streamed.zip");
  patched.replace(patched.size() - 6, 4, "\xFF\xFF\xFF\xFF");
  write_file(made + "/python-zip64-located.zip", patched);

  struct Case {
    const char* name;
    bool streamed;       // every local header carries its sizes, so the file is walked once
    const char* prefix;  // of the entry names
  };
  for (const Case& c : {Case{"zip", true, ""}, Case{"zip-streamed", false, ""}, Case{"bsdtar", false, "./"},
                        Case{"python", true, ""}, Case{"python-streamed", false, ""}, Case{"python-zip64", true, ""},
                        Case{"python-zip64-streamed", false, ""}, Case{"python-zip64-located", false, ""}}) {
    SCOPED_TRACE(c.name);
    messages.clear();
    const std::string archive = made + "/" + c.name + ".zip";
    const std::string ours = dir.file(std::string("ours-") + c.name);
    fs::create_directories(ours);
    fs::copy_file(archive, ours + "/" + c.name + ".zip");
    Zip zip(ZZip_Read(state, (ours + "/" + c.name + ".zip").c_str()));
    ASSERT_TRUE(zip) << messages;
    EXPECT_EQ(listing(zip.get()), unzip_listing(archive));
    bool other_kinds = false;
    for (ZZipRecord* r = zip->first; r; r = r->next) other_kinds |= r->signature != ZZIP_SIG_LOCAL_FILE_HDR;
    EXPECT_EQ(other_kinds, c.streamed) << "the walk this archive takes";
    if (c.streamed) {
      EXPECT_EQ(written(zip.get()), read_file(archive)) << "written back byte for byte";
    }

    Buf numbers_data(ZZip_Extract(zip.get(), ("/" + std::string(c.prefix) + "D/NUMBERS.TXT").c_str()));
    EXPECT_EQ(text_of(numbers_data.get()), numbers);
    Buf none(ZZip_Extract(zip.get(), (std::string(c.prefix) + "d/numbers").c_str()));
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(ZZip_Extract(zip.get(), nullptr), nullptr);
    EXPECT_FALSE(SState_Failed(state)) << messages;
    const std::string reference = dir.file(std::string("unzip-") + c.name);
    ASSERT_EQ(monotest::run_tool("unzip -qq -o " + monotest::shell_quote(archive) + " -d " +
                                 monotest::shell_quote(reference))
                  .exit_code,
              0);
    EXPECT_EQ(tree(ours + "/" + c.name), tree(reference));
  }
}

// ---- Every record kind ----

// A streamed archive holding one record of every kind, the ZIP64 ones with values past 32 bits.
std::string every_kind() {
  using ziptest::put16, ziptest::put32, ziptest::put64;
  std::string z;
  put32(&z, 0x04034b50);
  put16(&z, 20), put16(&z, 0), put16(&z, 0), put16(&z, 0x6B2C), put16(&z, 0x5A8A);
  put32(&z, ziptest::crc("hi\n")), put32(&z, 3), put32(&z, 3), put16(&z, 5), put16(&z, 0);
  z += "a.txthi\n";
  put32(&z, 0x08064b50), put32(&z, 3);
  z += "xyz";
  put32(&z, 0x02014b50);
  put16(&z, 0x031E), put16(&z, 20), put16(&z, 0), put16(&z, 0), put16(&z, 0x6B2C), put16(&z, 0x5A8A);
  put32(&z, ziptest::crc("hi\n")), put32(&z, 3), put32(&z, 3);
  put16(&z, 5), put16(&z, 0), put16(&z, 1), put16(&z, 0), put16(&z, 1), put32(&z, 0x81A40000), put32(&z, 0);
  z += "a.txtc";
  put32(&z, 0x05054b50), put16(&z, 4);
  z += "sig!";
  put32(&z, 0x06064b50), put64(&z, 44), put16(&z, 0x032D), put16(&z, 45), put32(&z, 0), put32(&z, 0);
  put64(&z, 5000000000), put64(&z, 5000000001), put64(&z, 4294967296), put64(&z, 4294967297);
  put32(&z, 0x06064b50), put64(&z, 47), put16(&z, 0x032D), put16(&z, 45), put32(&z, 1), put32(&z, 2);
  put64(&z, 1), put64(&z, 1), put64(&z, 60), put64(&z, 12);
  z += "abc";
  put32(&z, 0x07064b50), put32(&z, 0), put64(&z, 9007199254740991), put32(&z, 1);
  put32(&z, 0x06054b50), put16(&z, 0), put16(&z, 0), put16(&z, 1), put16(&z, 1), put32(&z, 60), put32(&z, 19);
  put16(&z, 3);
  return z + "end";
}

TEST_F(ZipTest, EveryKindIsReadShownAndWrittenBack) {
  const std::string bytes = every_kind();
  Zip zip = read_bytes(bytes, "kinds.zip");
  ASSERT_TRUE(zip) << messages;
  EXPECT_EQ(written(zip.get()), bytes);
  EXPECT_EQ(text_of(Buf(ZZip_Extract(zip.get(), "a.txt")).get()), "hi\n");

  const std::string name = dir.file("kinds.zip");
  EXPECT_EQ(shown(zip.get(), 0), "\nZipFile: " + name + "\n");
  EXPECT_EQ(shown(zip.get(), 1), "\nZipFile: " + name + "\n  location  comprSz\n        35        3  a.txt\n");
  const std::string level2 = "\nZipFile: " + name + R"(
  LocalFileHdr at:       4
    versionNeeded:       20
    flags:               0000
    compression:         0
    modDateTime:         2025/04/10 13:25:24
    crc:                 ed6f7a7a
    compressedSize       3
    uncompressedSize     3
    fileNameLen          5
    fileName             a.txt
    extraFieldLen        0
    extraField           
    data loc size        35 3
  ArchExtraData at:      42
    extraFieldLen:       3
  CDirFileHdr at:        53
    versionMadeBy:       3 30
    versionNeeded:       20
    flags:               0000
    compression:         0
    modDateTime:         2025/04/10 13:25:24
    crc:                 ed6f7a7a
    compressedSize       3
    uncompressedSize     3
    fileNameLen          5
    fileName             a.txt
    extraFieldLen        0
    extraField           
    commentLen           1
    comment              c
    cDirStartDisk:       0
    intFileAttr:         1
    extFileAttr:         81a40000
    LocalHdrOffset:      0
  DigitalSig at:         105
    size:                4
  CDirEndRec64 at:       115
    size:                44
    versionMadeBy:       3 45
    versionNeeded:       45
    diskNumber:          0
    cDirStartDisk:       0
    cDirEntriesThisDisk: 5000000000
    cDirEntriesTotal:    5000000001
    cDirSize:            4294967296
    cDirStartOffset:     4294967297
    extensibleDataSz:    0
  CDirEndRec64 at:       171
    size:                47
    versionMadeBy:       3 45
    versionNeeded:       45
    diskNumber:          1
    cDirStartDisk:       2
    cDirEntriesThisDisk: 1
    cDirEntriesTotal:    1
    cDirSize:            60
    cDirStartOffset:     12
    extensibleDataSz:    3
  CDirEndLoc64 at:       230
    cDirEndRec64Disk:    0
    cDirEndRec64Offset:  9007199254740991
    disksTotal:          1
  CDirEndRec at:         250
    diskNumber:          0
    cDirStartDisk:       0
    cDirEntriesThisDisk: 1
    cDirEntriesTotal:    1
    cDirSize:            60
    cDirStartOffset:     19
    commentLen:          3
    comment:             end
)";
  EXPECT_EQ(shown(zip.get(), 2), level2);
  EXPECT_EQ(messages, "");

  EXPECT_EQ(ZZip_Show(nullptr, stdout, 2), 0);
  EXPECT_EQ(ZZip_Write(nullptr), 0);
  EXPECT_EQ(ZZip_Free(nullptr), 0);
  EXPECT_EQ(ZZip_Write(zip.get()), -1) << "no output stream";
  EXPECT_NE(messages.find("no output stream"), std::string::npos) << messages;
  zip->out = std::fopen("/dev/full", "wb");
  ASSERT_NE(zip->out, nullptr);
  EXPECT_EQ(ZZip_Write(zip.get()), -1) << "a full disk is no success";
  EXPECT_NE(messages.find("cannot write the archive"), std::string::npos) << messages;
}

// ---- Through the central directory ----

TEST_F(ZipTest, DataDescriptorsAreReadThroughTheCentralDirectory) {
  const std::vector<Entry> entries = {{"first.txt", "one\n", 8, true}, {"dir/second.bin", std::string(700, 'b'), 0, true}};
  state->level = SSTATE_VER;
  Zip zip = read_bytes(ziptest::build(entries, "note"));
  ASSERT_TRUE(zip) << messages;
  const std::vector<Listed> expected = {{"first.txt", 4, ziptest::deflate_raw("one\n").size(), ziptest::crc("one\n")},
                                        {"dir/second.bin", 700, 700, ziptest::crc(std::string(700, 'b'))}};
  EXPECT_EQ(listing(zip.get()), expected);
  EXPECT_EQ(text_of(Buf(ZZip_Extract(zip.get(), "dir/second.bin")).get()), std::string(700, 'b'));
  EXPECT_NE(messages.find("Position:       0  Sig:04034b50\n"), std::string::npos) << messages;
  EXPECT_NE(messages.find("  ZZip_ReadRandom: backing up\n"), std::string::npos) << messages;
  EXPECT_NE(messages.find("  CDirEndRec at:"), std::string::npos) << "the end record shown at level 2";
}

TEST_F(ZipTest, TheEndRecordIsFoundWithinReachOfTheEnd) {
  // With data descriptors the end record is looked for in the last 4096 bytes, its lowest
  // position included.
  const Entry entry{"a", "a", 0, true};
  struct Case {
    size_t comment;
    bool opens;
  };
  for (const Case& c : {Case{0, true}, Case{4074, true}, Case{4075, false}, Case{5000, false}}) {
    messages.clear();
    Zip zip = read_bytes(ziptest::build({entry}, std::string(c.comment, 'c')));
    EXPECT_EQ(zip != nullptr, c.opens) << c.comment << ": " << messages;
    if (!c.opens) {
      EXPECT_NE(messages.find("  ZZip: unusually large file comment.\n"), std::string::npos) << messages;
    }
  }
  const int failures = state->failed;
  Zip empty = read_bytes(ziptest::build({}));
  ASSERT_TRUE(empty) << "the 22-byte empty archive";
  ASSERT_NE(empty->first, nullptr);
  EXPECT_EQ(empty->first->signature, static_cast<uint32_t>(ZZIP_SIG_CDIR_END_REC));
  EXPECT_EQ(ZZip_Extract(empty.get(), nullptr), nullptr);
  EXPECT_EQ(state->failed, failures);
}

TEST_F(ZipTest, MalformedArchivesFailWithTheirReason) {
  const std::string good = ziptest::build({{"a.txt", "alpha\n", 8}, {"b.txt", "beta\n", 0}}, "c");
  // Every cut short of the whole archive either fails or ends at a record's end.
  for (size_t n = 0; n < good.size(); ++n) {
    const int failures = state->failed;
    Zip zip = read_bytes(good.substr(0, n));
    EXPECT_EQ(zip == nullptr, state->failed > failures) << n;
  }
  const std::string descriptors = ziptest::build({{"a.txt", "alpha\n", 8, true}});
  // The directory's one header (46 bytes and the name) ends where the end record starts.
  const size_t cdir = descriptors.size() - 22 - 51;
  std::string cdir_to_cdir = descriptors, offset;
  ziptest::put32(&offset, cdir);
  cdir_to_cdir.replace(cdir + 42, 4, offset);
  std::string cdir_outside = descriptors;
  cdir_outside.replace(cdir_outside.size() - 6, 4, std::string("\x00\x00\x01\x00", 4));
  struct Case {
    const char* what;
    std::string bytes;
    std::string message;
  };
  const Case cases[] = {
      {"unknown signature", "PK\x09\x09rest", "  Unknown signature: 09094b50\n"},
      {"cut in a name", good.substr(0, 32), "Unexpected EOF: Expecting 5 bytes\n"},
      {"a local header offset at a directory header", cdir_to_cdir,
       "  ZZip: no local header at " + std::to_string(cdir) + " for a.txt\n"},
      {"a directory beyond the end", cdir_outside, "  ZZip: central directory offset 65536 is outside the file\n"},
  };
  for (const Case& c : cases) {
    messages.clear();
    EXPECT_EQ(read_bytes(c.bytes), nullptr) << c.what;
    EXPECT_NE(messages.find(c.message), std::string::npos) << c.what << ": " << messages;
  }
  messages.clear();
  EXPECT_EQ(ZZip_Read(state, dir.file("absent.zip").c_str()), nullptr);
  EXPECT_EQ(messages, "Can't open souce: " + dir.file("absent.zip") + "\n");
}

// ---- Extracting ----

TEST_F(ZipTest, NamesAreComparedWhole) {
  Zip zip = read_bytes(ziptest::build({{"doc/a", "short\n", 0}, {"doc/a.txt", "whole\n", 8}, {"d/", "", 0}}));
  ASSERT_TRUE(zip) << messages;
  struct Case {
    const char* name;
    const char* data;
  };
  for (const Case& c : {Case{"doc/a.txt", "whole\n"}, Case{"/DOC/A.TXT", "whole\n"}, Case{"doc/a", "short\n"},
                        Case{"doc/a.tx", "(none)"}, Case{"doc/a.txt.bak", "(none)"}, Case{"//doc/a.txt", "(none)"},
                        Case{"d/", ""}}) {
    EXPECT_EQ(text_of(Buf(ZZip_Extract(zip.get(), c.name)).get()), c.data) << c.name;
  }
  EXPECT_FALSE(SState_Failed(state)) << messages;
}

TEST_F(ZipTest, DamagedEntriesAreRefused) {
  const std::string text = "the quick brown fox\n";
  std::string zeros(1 << 20, '\0');
  struct Case {
    const char* what;
    Entry entry;
    size_t patch_at;  // from the local header's start; 0 for none
    std::string patch;
    std::string message;
  };
  const Case cases[] = {
      {"a stored byte changed", {"e", text, 0}, 31, "T", "  ZZip: CRC of e is "},
      {"a CRC changed", {"e", text, 8}, 14, "\x01", "  ZZip: CRC of e is "},
      {"a size larger than the data", {"e", text, 8}, 22, "\x40", "  ZZip: e holds 20 bytes, not 64"},
      {"a bomb: more data than declared", {"e", zeros, 8}, 22, std::string("\xE8\x03\x00\x00", 4),
       "  ZZip: e holds more than its 1000 bytes"},
      {"another compression", {"e", text, 12}, 0, "", "Unkown compression: 12\n"},
      {"encrypted", {"e", text, 8, false, 1}, 0, "", "  ZZip: e is encrypted\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    messages.clear();
    std::string bytes = ziptest::build({c.entry});
    if (c.patch_at) bytes.replace(c.patch_at, c.patch.size(), c.patch);
    const std::string name = std::string("damaged-") + std::to_string(&c - cases) + ".zip";
    Zip zip = read_bytes(bytes, name);
    ASSERT_TRUE(zip) << messages;
    const int failures = state->failed;
    EXPECT_EQ(ZZip_Extract(zip.get(), "e"), nullptr);
    EXPECT_GT(state->failed, failures);
    EXPECT_NE(messages.find(c.message), std::string::npos) << messages;
    EXPECT_EQ(ZZip_Extract(zip.get(), nullptr), nullptr);
    EXPECT_FALSE(fs::exists(zip->baseName + std::string("/e"))) << "nothing written";
  }
}

TEST_F(ZipTest, EntriesThatLeaveTheTargetAreRefused) {
  const std::string root = dir.file("deep/down");
  fs::create_directories(root);
  for (const char* name : {"../evil", "a/../../evil", "a/../../../evil", "/tmp/evil", "..\\evil", "a\\..\\..\\evil",
                           "\\evil", "C:\\evil", "c:/evil", "..", "a/.."}) {
    SCOPED_TRACE(name);
    messages.clear();
    write_file(root + "/slip.zip", ziptest::build({{"fine.txt", "fine", 0}, {name, "evil", 0}}));
    Zip zip(ZZip_Read(state, (root + "/slip.zip").c_str()));
    ASSERT_TRUE(zip) << messages;
    const int failures = state->failed;
    EXPECT_EQ(ZZip_Extract(zip.get(), nullptr), nullptr);
    EXPECT_GT(state->failed, failures);
    EXPECT_NE(messages.find("  ZZip: refusing "), std::string::npos) << messages;
    EXPECT_FALSE(fs::exists(root + "/slip")) << "a failed extraction leaves nothing of its own";
    for (const auto& e : fs::recursive_directory_iterator(dir.path())) {
      EXPECT_EQ(e.path().filename().string().find("evil"), std::string::npos) << e.path();
    }
  }
  // Dots that do not climb are names like any other.
  write_file(root + "/dots.zip",
             ziptest::build({{"./a", "1", 0}, {"b/./c", "2", 0}, {"..d", "3", 0}, {"e..", "4", 0}, {"f/..g/h", "5", 0}}));
  Zip zip(ZZip_Read(state, (root + "/dots.zip").c_str()));
  ASSERT_TRUE(zip);
  const int failures = state->failed;
  EXPECT_EQ(ZZip_Extract(zip.get(), nullptr), nullptr);
  EXPECT_EQ(state->failed, failures) << messages;
  EXPECT_EQ(tree(root + "/dots"), (std::map<std::string, std::string>{
                                      {"a", "1"}, {"b", "<dir>"}, {"b/c", "2"}, {"..d", "3"}, {"e..", "4"},
                                      {"f", "<dir>"}, {"f/..g", "<dir>"}, {"f/..g/h", "5"}}));
}

TEST_F(ZipTest, EntriesGoUnderTheBaseName) {
  const std::string bytes = ziptest::build({{"x/y.txt", "y", 8}, {"z/", "", 0}, {"empty", "", 0}});
  struct Case {
    const char* file;
    const char* base;  // "" for none
  };
  for (const Case& c : {Case{"pack.zip", "pack"}, Case{"dir.d/pack.zip", "dir.d/pack"}, Case{"pack.tar.zip", "pack.tar"},
                        Case{"dir.d/pack", ""}, Case{".zip", ""}, Case{"pack.", "pack"}}) {
    SCOPED_TRACE(c.file);
    fs::create_directories(fs::path(dir.file(c.file)).parent_path());
    write_file(dir.file(c.file), bytes);
    Zip zip(ZZip_Read(state, dir.file(c.file).c_str()));
    ASSERT_TRUE(zip) << messages;
    if (*c.base) {
      EXPECT_STREQ(zip->baseName, dir.file(c.base).c_str());
    } else {
      EXPECT_EQ(zip->baseName, nullptr);
    }
  }
  // Without a base name the entries go to the current directory.
  const std::string here = dir.file("here");
  fs::create_directories(here);
  write_file(here + "/pack", bytes);
  const fs::path before = fs::current_path();
  fs::current_path(here);
  Zip zip(ZZip_Read(state, "pack"));
  ASSERT_TRUE(zip);
  EXPECT_EQ(ZZip_Extract(zip.get(), nullptr), nullptr);
  fs::current_path(before);
  EXPECT_FALSE(SState_Failed(state)) << messages;
  EXPECT_EQ(tree(here), (std::map<std::string, std::string>{
                            {"pack", bytes}, {"x", "<dir>"}, {"x/y.txt", "y"}, {"z", "<dir>"}, {"empty", ""}}));
  // A file where a directory has to go.
  write_file(dir.file("clash.zip"), bytes);
  write_file(dir.file("clash"), "in the way");
  Zip clash(ZZip_Read(state, dir.file("clash.zip").c_str()));
  ASSERT_TRUE(clash);
  EXPECT_EQ(ZZip_Extract(clash.get(), nullptr), nullptr);
  EXPECT_NE(messages.find("Failed to build full path:" + dir.file("clash") + ": Not a directory"), std::string::npos)
      << messages;
}

TEST_F(ZipTest, EveryFailedAllocationIsReportedAndFreesWhatItMade) {
  write_file(dir.file("packed.zip"), ziptest::build({{"a/b.txt", std::string(3000, 'q'), 8}, {"c", "see", 0}}, "k"));
  write_file(dir.file("streamed.zip"), ziptest::build({{"a/b.txt", std::string(3000, 'q'), 8, true}}));
  for (const char* name : {"packed", "streamed"}) {
    const std::string path = dir.file(std::string(name) + ".zip");
    for (size_t k = 1;; ++k) {
      SCOPED_TRACE(std::string(name) + " allocation " + std::to_string(k));
      fs::remove_all(dir.file(name));
      const size_t failures = heap.failures();
      const int reported = state->failed;
      heap.fail_at(k);
      Zip zip(ZZip_Read(state, path.c_str()));
      Buf data(zip ? ZZip_Extract(zip.get(), "a/b.txt") : nullptr);
      if (zip && (data || state->failed == reported)) ZZip_Extract(zip.get(), nullptr);
      const bool failed = heap.failures() > failures;
      heap.fail_at(0);
      EXPECT_EQ(failed, state->failed > reported) << "a failure is reported, and only a failure";
      if (!failed) {
        EXPECT_EQ(text_of(data.get()), std::string(3000, 'q'));
        EXPECT_EQ(read_file(dir.file(name) + "/a/b.txt"), std::string(3000, 'q'));
        break;
      }
    }
  }
}

}  // namespace
