// The imaging engine's format registry against file(1) on real files; its streams, byte sources
// and buffers, with deflate and inflate judged by zlib-flate and gzip.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "counting_alloc.h"
#include "kvext.h"
#include "kvng.h"
#include "qelinterp.h"
#include "tools.h"

namespace {

using monotest::TempDir;

std::string shell_in(const TempDir& dir, const std::string& command) {
  const monotest::ToolResult r = monotest::run_tool("cd " + monotest::shell_quote(dir.path()) + " && " + command);
  EXPECT_EQ(r.exit_code, 0) << command;
  return r.output;
}

struct Formats {
  KVngFileFormats* table = nullptr;
  Formats() { EXPECT_EQ(KVngReadFileFormats(&table), 1); }
  ~Formats() { table->release(table); }
};

struct Info {
  KVngFileFormatInfo* info;
  explicit Info(KVngFileFormatInfo* i) : info(i) {}
  ~Info() {
    if (info) info->release(info);
  }
  std::string name() const { return info ? info->format->name : "(none)"; }
};

TEST(FormatRegistry, IdentificationAgreesWithFile) {
  const std::pair<const char*, const char*> tools[] = {
      {"file", "file"}, {"pnmtopng", "netpbm"}, {"tiffcp", "libtiff-tools"}, {"gs", "ghostscript"}, {"zip", "zip"}};
  for (const auto& [tool, package] : tools) monotest::require_tool(tool, package);
  TempDir dir;
  shell_in(dir,
           "pbmmake -g 40 30 > p4.pbm && pamtopnm -plain < p4.pbm > p1.pbm && pgmramp -lr 32 8 > p5.pgm && "
           "pamtopnm -plain < p5.pgm > p2.pgm && pgmtoppm red p5.pgm > p6.ppm && pamtopnm -plain < p6.ppm > p3.ppm && "
           "pamtopam < p6.ppm > p7.pam && pnmtopng p6.ppm > c.png && pnmtojpeg p6.ppm > c.jpg && "
           "pamtogif < p6.ppm > c.gif 2>/dev/null && ppmtobmp p6.ppm > c.bmp 2>/dev/null && "
           "pnmtotiff p6.ppm > le.tif 2>/dev/null && tiffcp -B le.tif be.tif && tiffcp -8 le.tif big.tif && "
           "gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile=d.pdf -c showpage && "
           "gs -q -dNOPAUSE -dBATCH -sDEVICE=xpswrite -sOutputFile=d.xps d.pdf && "
           "printf 'hello\\n' > note.txt && zip -q plain.zip note.txt p4.pbm");
  struct Case {
    const char* file;
    const char* format;
  };
  const Case cases[] = {
      {"p1.pbm", "PNM"}, {"p2.pgm", "PNM"}, {"p3.ppm", "PNM"},   {"p4.pbm", "PNM"},  {"p5.pgm", "PNM"},
      {"p6.ppm", "PNM"}, {"p7.pam", "PNM"}, {"c.png", "PNG"},    {"c.jpg", "JPEG"},  {"c.gif", "GIF"},
      {"c.bmp", "BMP"},  {"le.tif", "TIFF"}, {"be.tif", "TIFF"}, {"big.tif", "TIFF"}, {"d.pdf", "PDF"},
      {"d.xps", "XPS"},  {"plain.zip", "ZIP"},
  };
  Formats formats;
  for (const Case& c : cases) {
    const std::string path = dir.file(c.file);
    const Info info(KVngGetFileFormatInfo(path.c_str(), formats.table));
    ASSERT_EQ(info.name(), c.format) << c.file;
    std::string mime = shell_in(dir, std::string("file -b --mime-type ") + c.file);
    mime.erase(mime.find_last_not_of('\n') + 1);
    // file(1) names a package by its container.
    EXPECT_EQ(info.info->container ? info.info->container : info.info->mimeType, mime) << c.file;

    const std::string bytes = monotest::read_file(path);
    const Info from_memory(KVngGetFileFormatFromBuf(bytes.data(), bytes.size(), formats.table));
    EXPECT_EQ(from_memory.name(), c.format) << c.file;
  }
  const Info xps(KVngGetFileFormatInfo(dir.file("d.xps").c_str(), formats.table));
  EXPECT_STREQ(xps.info->mimeType, "application/vnd.ms-xpsdocument");
  EXPECT_STREQ(xps.info->reader, "readxps");
  const Info zip(KVngGetFileFormatInfo(dir.file("plain.zip").c_str(), formats.table));
  EXPECT_STREQ(zip.info->reader, "none");
}

TEST(FormatRegistry, UnknownOrUnreadableFilesAreNotIdentified) {
  TempDir dir;
  monotest::write_file(dir.file("text.pdf"), "plain text that merely has a PDF name\n");
  monotest::write_file(dir.file("empty.png"), "");
  monotest::write_file(dir.file("short.png"), "\x89PN");
  monotest::write_file(dir.file("cars.bmp"), "BMW cars are made in Bavaria, and more text follows here\n");
  monotest::write_file(dir.file("short.zip"), std::string("PK\3\4", 4) + "abc");
  monotest::write_file(dir.file("p8.pnm"), "P8\n1 1\n");
  Formats formats;
  for (const char* name : {"text.pdf", "empty.png", "short.png", "cars.bmp", "short.zip", "p8.pnm", "absent.tif", "."}) {
    const Info info(KVngGetFileFormatInfo(dir.file(name).c_str(), formats.table));
    EXPECT_EQ(info.info, nullptr) << name << " taken for " << info.name();
  }
  EXPECT_EQ(KVngGetFileFormatInfo(nullptr, formats.table), nullptr);
  EXPECT_EQ(KVngGetFileFormatFromBuf(nullptr, 0, formats.table), nullptr);
}

TEST(FormatRegistry, WritersAreChosenByExtension) {
  struct Case {
    const char* name;
    const char* writer;
  };
  const Case cases[] = {
      {"a.PDF", "writepdf"},     {"x/y.tiff", "writetif"}, {"s.jpeg", "writejpg"}, {"s.JFIF", "writejpg"},
      {"p.pbm", "writepnm"},     {"d.xps", "writexps"},    {"i.gif", "writegif"},  {"b.dib", "writebmp"},
      {"z.zip", nullptr},        {"noext", nullptr},       {"dir.pdf/x", nullptr}, {".pdf", nullptr},
      {"name.", nullptr},        {"v.jpg2", nullptr},
  };
  Formats formats;
  for (const Case& c : cases) {
    char* writer = reinterpret_cast<char*>(1);
    EXPECT_EQ(KVngGetFileFormatWriter(formats.table, c.name, &writer), c.writer ? 1 : 0) << c.name;
    EXPECT_EQ(writer ? std::string(writer) : "(none)", c.writer ? c.writer : "(none)") << c.name;
    _elfFree(writer);
  }
}

TEST(EngineStreams, FileAndMemoryStreamsReadSeekAndRefuse) {
  TempDir dir;
  const std::string path = dir.file("s.bin");
  KVngIO* out = KVngIO_FileName(path.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->write(out, "0123456789", 10), 10);
  EXPECT_EQ(out->writeString(out, "abc"), 0);
  EXPECT_EQ(out->close(out), 0);
  EXPECT_EQ(out->write(out, "x", 1), -1) << "closed";
  out->release(out);
  EXPECT_EQ(monotest::read_file(path), "0123456789abc");

  const std::string bytes = "0123456789abc";
  for (KVngIO* in : {KVngIO_FileName(path.c_str(), "r"), KVngIO_Str(bytes.data(), 13)}) {
    ASSERT_NE(in, nullptr);
    char buf[8] = {};
    EXPECT_EQ(in->seek(in, 8, KVNG_SEEK_SET, 0), 0);
    EXPECT_EQ(in->read(in, buf, 8), 5);
    EXPECT_EQ(std::string(buf, 5), "89abc");
    EXPECT_EQ(in->read(in, buf, 8), 0);
    EXPECT_EQ(in->seek(in, -3, KVNG_SEEK_END, 0), 0);
    EXPECT_EQ(in->tell(in), 10);
    EXPECT_EQ(KVngIOReadBytes(in, buf, 4), 0) << "only three bytes remain";
    EXPECT_EQ(in->seek(in, 0, KVNG_SEEK_SET, 0), 0);
    EXPECT_EQ(KVngIOReadBytes(in, buf, 4), 1);
    EXPECT_EQ(std::string(buf, 4), "0123");
    in->release(in);
  }
  KVngIO* memory = KVngIO_Str(bytes.data(), 13);
  EXPECT_EQ(memory->seek(memory, 14, KVNG_SEEK_SET, 0), -1);
  EXPECT_EQ(memory->seek(memory, -1, KVNG_SEEK_SET, 0), -1);
  EXPECT_EQ(memory->write(memory, "x", 1), -1);
  memory->release(memory);
  EXPECT_EQ(KVngIO_FileName(dir.file("absent").c_str(), "r"), nullptr);
  EXPECT_EQ(KVngIO_Str(nullptr, 4), nullptr);
}

// Engine state with a collecting printer.
struct EngineState {
  SState* state = SState_NewStateDefault();
  std::string errors, notes;
  EngineState() {
    state->print = [](void* data, int kind, const char* text) {
      auto* self = static_cast<EngineState*>(data);
      (kind == SSTATE_ERR ? self->errors : self->notes) += text;
    };
    state->printData = this;
  }
  ~EngineState() { SState_FreeState(state); }
};

TEST(EngineStrings, MessagesByLevelErrorsRecordedStringsJoined) {
  EngineState e;
  SState_InfPrintf(e.state, "info %d\n", 1);
  SState_ErrPrintf(e.state, "error %s\n", "one");
  EXPECT_EQ(e.notes, "");
  e.state->level = 2;
  SState_InfPrintf(e.state, "info\n");
  SState_VerPrintf(e.state, "verbose\n");
  EXPECT_EQ(e.notes, "info\nverbose\n");
  EXPECT_EQ(e.errors, "error one\n");
  EXPECT_EQ(SState_Failed(e.state), 0);
  EXPECT_EQ(SState_Err(e.state, "zip.cpp", 12, -1), -1);
  EXPECT_EQ(SState_Failed(e.state), 1);
  EXPECT_EQ(e.state->errorLine, 12);

  char* joined = SState_StrsDup(e.state, "base", "/", "entry.txt", nullptr);
  EXPECT_STREQ(joined, "base/entry.txt");
  SState_Free(e.state, joined);
  EXPECT_EQ(SState_StrDup(e.state, nullptr), nullptr);
  EXPECT_EQ(Util_StrCmpLCaseN("DOC/A.TXT", "doc/a.txt", 9), 0);
  EXPECT_NE(Util_StrCmpLCaseN("doc/b", "doc/a", 5), 0);
  EXPECT_EQ(Util_StrCmpLCaseN("ab", "abc", 2), 0);
}

TEST(EngineStrings, ByteSourcesStayWithinTheirFile) {
  TempDir dir;
  monotest::write_file(dir.file("src.bin"), std::string("\x01\x02\x03\x04\x05", 5));
  EngineState e;
  ByteSrc* src = ByteSrc_NewFromFile(e.state, dir.file("src.bin").c_str());
  ASSERT_NE(src, nullptr);
  EXPECT_EQ(ByteSrc_GetSize(src), 5);
  EXPECT_EQ(ByteSrc_Read(src), 1);
  unsigned char block[8];
  EXPECT_EQ(ByteSrc_ReadBlock(src, block, 8), 4u);
  EXPECT_EQ(block[3], 5);
  EXPECT_EQ(ByteSrc_EndOf(src), 1);
  EXPECT_EQ(ByteSrc_Read(src), -1);
  EXPECT_EQ(ByteSrc_SetPosition(src, 6), -1);
  EXPECT_EQ(ByteSrc_SetPosition(src, -1), -1);
  EXPECT_EQ(ByteSrc_SetPosition(src, 3), 0);
  EXPECT_EQ(ByteSrc_GetPosition(src), 3);
  EXPECT_EQ(ByteSrc_Read(src), 4);
  ByteSrc_Close(src);
  EXPECT_EQ(ByteSrc_NewFromFile(e.state, dir.file("absent").c_str()), nullptr);
  EXPECT_EQ(ByteSrc_NewFromFile(e.state, dir.path().c_str()), nullptr) << "a directory is no source";
}

std::string text_corpus() {
  std::string s;
  for (int i = 0; i < 4000; ++i) s += "line " + std::to_string(i * 7919 % 1000) + " of the sample document\n";
  return s;
}

BufUChar* buffer_of(SState* state, const std::string& bytes) {
  BufUChar* b = BufUChar_New(state, bytes.size());
  if (b && !bytes.empty()) std::memcpy(b->data, bytes.data(), bytes.size());
  return b;
}

std::string bytes_of(const BufUChar* b) { return b ? std::string(reinterpret_cast<char*>(b->data), b->length) : ""; }

TEST(EngineBuffers, DeflateAndInflateAgreeWithZlibTools) {
  monotest::require_tool("zlib-flate", "qpdf");
  monotest::require_tool("gzip", "gzip");
  TempDir dir;
  EngineState e;
  const std::string text = text_corpus();
  monotest::write_file(dir.file("text"), text);

  BufUChar* in = buffer_of(e.state, text);
  BufUChar* packed = BufUCharZ_Deflate(in);
  ASSERT_NE(packed, nullptr) << e.errors;
  EXPECT_LT(packed->length, text.size() / 4);
  monotest::write_file(dir.file("ours.z"), bytes_of(packed));
  EXPECT_EQ(shell_in(dir, "zlib-flate -uncompress < ours.z"), text);

  // zlib data made by the tool, and raw deflate data as zip archives hold it (gzip's body).
  shell_in(dir, "zlib-flate -compress < text > tool.z && gzip -n -c text > text.gz");
  BufUChar* tool = buffer_of(e.state, monotest::read_file(dir.file("tool.z")));
  BufUChar* inflated = BufUCharZ_Inflate(tool, text.size());
  EXPECT_EQ(bytes_of(inflated), text) << e.errors;
  const std::string gz = monotest::read_file(dir.file("text.gz"));
  BufUChar* raw = buffer_of(e.state, gz.substr(10, gz.size() - 18));
  BufUChar* unzipped = BufUCharZ_InflateZip(raw, text.size());
  EXPECT_EQ(bytes_of(unzipped), text) << e.errors;

  // Data that inflates to more than its limit, ends early or is damaged gives no buffer.
  EXPECT_EQ(BufUCharZ_InflateZip(raw, text.size() - 1), nullptr);
  EXPECT_NE(e.errors.find("more data than the limit"), std::string::npos) << e.errors;
  BufUChar* cut = buffer_of(e.state, gz.substr(10, (gz.size() - 18) / 2));
  EXPECT_EQ(BufUCharZ_InflateZip(cut, text.size()), nullptr);
  EXPECT_NE(e.errors.find("the data ends early"), std::string::npos) << e.errors;
  EXPECT_EQ(BufUCharZ_Inflate(raw, text.size()), nullptr) << "raw data is no zlib stream";

  BufUChar* empty = BufUChar_New(e.state, 0);
  BufUChar* empty_packed = BufUCharZ_Deflate(empty);
  BufUChar* empty_back = BufUCharZ_Inflate(empty_packed, 0);
  ASSERT_NE(empty_back, nullptr);
  EXPECT_EQ(empty_back->length, 0u);
  for (BufUChar* b : {in, packed, tool, inflated, raw, unzipped, cut, empty, empty_packed, empty_back}) BufUChar_Free(b);
}

TEST(EngineBuffers, BuffersGrowKeepingTheirBytesAndWriteToStreams) {
  TempDir dir;
  EngineState e;
  BufUChar* b = buffer_of(e.state, "abc");
  ASSERT_EQ(BufUChar_Check(b, 10000), 0);
  EXPECT_GE(b->capacity, 10000u);
  EXPECT_EQ(bytes_of(b), "abc");
  FILE* f = SState_OpenOut(e.state, dir.file("out.bin").c_str());
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(BufUChar_WriteStm(b, f), 0);
  EXPECT_EQ(Util_StmClose(f), 0);
  EXPECT_EQ(monotest::read_file(dir.file("out.bin")), "abc");
  EXPECT_EQ(SState_OpenOut(e.state, dir.file("no/such/dir").c_str()), nullptr);
  EXPECT_NE(e.errors.find("cannot open"), std::string::npos);
  BufUChar_Free(b);
}

TEST(EngineBuffers, InflatingFreesEverythingWhenMemoryRunsOut) {
  monotest::CountingAllocator heap;
  const elf_heap_procs procs{monotest::CountingAllocator::c_malloc, monotest::CountingAllocator::c_calloc,
                             monotest::CountingAllocator::c_free, &heap};
  elfSetHeap(&procs);
  {
    EngineState e;
    const std::string text = text_corpus();
    BufUChar* in = buffer_of(e.state, text);
    BufUChar* packed = BufUCharZ_Deflate(in);
    ASSERT_NE(packed, nullptr);
    const size_t base = heap.live_blocks();
    for (size_t k = 1;; ++k) {
      const size_t failures = heap.failures();
      heap.fail_at(k);
      BufUChar* back = BufUCharZ_Inflate(packed, text.size());
      const bool failed = heap.failures() > failures;
      heap.fail_at(0);
      // A buffer that cannot double grows by what it needs; either way nothing is half done.
      if (back) {
        EXPECT_EQ(bytes_of(back), text) << "allocation " << k;
      }
      BufUChar_Free(back);
      EXPECT_EQ(heap.live_blocks(), base) << "allocation " << k;
      if (!failed) break;
    }
    BufUChar_Free(in);
    BufUChar_Free(packed);
  }
  elfSetHeap(nullptr);
  EXPECT_EQ(heap.live_blocks(), 0u);
}

TEST(EnginePrinters, MessagesGoToTheInstalledPrinter) {
  std::string seen;
  KVngSetPrinter(
      [](void* data, int kind, const char* text) {
        *static_cast<std::string*>(data) += std::to_string(kind) + ":" + text;
      },
      &seen);
  KVngError("%s: Cannot get zip entry #%d\n", "__XPSGetEntryForFile", 3);
  KVngPrintf("note\n");
  KVngDebug("debug\n");
  KVngSetPrinter(nullptr, nullptr);
  KVngDebug("not seen\n");
  EXPECT_EQ(seen, "0:__XPSGetEntryForFile: Cannot get zip entry #3\n1:note\n2:debug\n");
}

}  // namespace
