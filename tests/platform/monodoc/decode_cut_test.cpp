// Standalone JBIG2 files cut short, through `monodoc decode` as a user runs it: every whole file
// decodes, and no cut file is decoded with success to pages other than the whole file's. A cut
// falls inside a segment, where the segment's length tells, or at a segment boundary, where only
// a missing end of page (or end of file) or a page count the header gives tells. The files are
// the feature streams, our encoder's and the public encoder's.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "byteorder.h"
#include "pages.h"
#include "ref_bitmap.h"
#include "tools.h"

namespace {

using monotest::TempDir;

struct Decoded {
  int exitCode;
  std::vector<std::string> pages;  // the PBM files written, in page order
  std::string output;
};

Decoded decode(const TempDir& dir, const std::string& bytes) {
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    if (entry.path().filename().string().rfind("p-", 0) == 0) std::filesystem::remove(entry.path());
  monotest::write_file(dir.file("in.jb2"), bytes);
  const monotest::ToolResult r = monotest::run_tool(monotest::shell_quote(MONODOC_BIN) + " decode -q -o " +
                                                    monotest::shell_quote(dir.file("p")) + " " +
                                                    monotest::shell_quote(dir.file("in.jb2")) + " 2>&1");
  Decoded d{r.exit_code, {}, r.output};
  for (int n = 1; std::filesystem::exists(dir.file("p-" + std::to_string(n) + ".pbm")); ++n)
    d.pages.push_back(monotest::read_file(dir.file("p-" + std::to_string(n) + ".pbm")));
  return d;
}

// Where the segments of a file in sequential organisation end (header and data), by a walk of
// our own; empty for the random-access organisation, whose headers come first.
std::vector<size_t> segment_ends(const std::string& file) {
  std::vector<size_t> ends;
  const auto* b = reinterpret_cast<const uint8_t*>(file.data());
  if (file.size() < 9 || (b[8] & 1) == 0) return ends;
  size_t at = (b[8] & 2) != 0 ? 9 : 13;
  while (at + 11 <= file.size()) {
    const uint32_t number = mono::load_be32(b + at);
    size_t p = at + 5;
    uint32_t count = b[p] >> 5;
    size_t retain = 1;
    if (count == 7) {
      count = mono::load_be32(b + p) & 0x1FFFFFFF;
      retain = 4 + (size_t{count} + 8) / 8;
    }
    p += retain + size_t{count} * (number <= 256 ? 1 : number <= 65536 ? 2 : 4) + ((b[at + 4] & 0x40) ? 4 : 1);
    if (p + 4 > file.size()) break;
    const uint32_t length = mono::load_be32(b + p);
    // An unknown length (a generic region ended by its marker) leaves the walk there.
    if (length == 0xFFFFFFFFu || p + 4 + length > file.size()) break;
    at = p + 4 + length;
    ends.push_back(at);
  }
  return ends;
}

struct Stream {
  std::string name;
  std::string bytes;
};

// The feature streams, and two pages coded by our encoder (lossless and lossy, MQ and
// MMR/Huffman) and by the public encoder (symbol and generic mode) when it can be built here.
std::vector<Stream> streams(const TempDir& dir) {
  std::vector<Stream> out;
  std::vector<std::string> features;
  for (const auto& entry : std::filesystem::directory_iterator(monotest::feature_dir()))
    if (entry.path().extension() == ".jbig2") features.push_back(entry.path().string());
  std::sort(features.begin(), features.end());
  for (const std::string& f : features)
    out.push_back({std::filesystem::path(f).filename().string(), monotest::read_file(f)});
  std::string pages;
  for (int n = 1; n <= 2; ++n) {
    monotest::write_pbm(dir.file("page" + std::to_string(n) + ".pbm"), monotest::doc_page(n));
    pages += " " + monotest::shell_quote(dir.file("page" + std::to_string(n) + ".pbm"));
  }
  for (const char* options : {"-p 3 --lossless", "-p 3 --lossy", "--lossless", "--lossy"}) {
    const std::string file = dir.file("ours.jb2");
    const monotest::ToolResult r = monotest::run_tool(monotest::shell_quote(MONODOC_BIN) + " encode -q " + options +
                                                      " --file " + monotest::shell_quote(file) + pages + " 2>&1");
    EXPECT_EQ(r.exit_code, 0) << r.output;
    out.push_back({std::string("our encoder ") + options, monotest::read_file(file)});
  }
  const monotest::ToolResult built = monotest::run_tool(monotest::shared_dir() + "/peers/build-jbig2enc.sh");
  if (built.exit_code == 0) {
    const std::string program = built.output.substr(0, built.output.find_last_not_of(" \n") + 1);
    for (const char* options : {"-s", ""}) {
      const std::string file = dir.file("public.jb2");
      EXPECT_EQ(monotest::run_tool(monotest::shell_quote(program) + " " + options + pages + " > " +
                                   monotest::shell_quote(file) + " 2>/dev/null")
                    .exit_code,
                0);
      out.push_back({std::string("public encoder ") + options, monotest::read_file(file)});
    }
  } else {
    ADD_FAILURE() << "the public encoder cannot be built: " << built.output;
  }
  return out;
}

TEST(DecodeCut, EveryWholeFileDecodesAndNoCutFileDecodesWithSuccess) {
  TempDir dir;
  const std::vector<Stream> all = streams(dir);
  std::vector<Decoded> wholes;
  struct Cut {
    size_t stream;
    size_t length;
  };
  std::vector<Cut> cuts;
  for (size_t i = 0; i < all.size(); ++i) {
    const Stream& s = all[i];
    wholes.push_back(decode(dir, s.bytes));
    ASSERT_EQ(wholes.back().exitCode, 0) << s.name << ": " << wholes.back().output;
    ASSERT_FALSE(wholes.back().pages.empty()) << s.name;
    // Ten lengths spread over the file, and every segment boundary.
    std::set<size_t> lengths;
    for (size_t k = 1; k <= 10; ++k) lengths.insert(s.bytes.size() * k / 11);
    for (const size_t end : segment_ends(s.bytes))
      if (end < s.bytes.size()) lengths.insert(end);
    for (const size_t length : lengths) cuts.push_back({i, length});
  }
  // A process a cut, a few at a time.
  std::vector<Decoded> results(cuts.size());
  std::atomic<size_t> next{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < 4; ++w)
    workers.emplace_back([&] {
      TempDir own;
      for (size_t k = next++; k < cuts.size(); k = next++)
        results[k] = decode(own, all[cuts[k].stream].bytes.substr(0, cuts[k].length));
    });
  for (std::thread& t : workers) t.join();
  std::vector<std::string> falseSuccesses;
  for (size_t k = 0; k < cuts.size(); ++k) {
    const Stream& s = all[cuts[k].stream];
    const Decoded& cut = results[k];
    if (cut.exitCode == 0 && cut.pages != wholes[cuts[k].stream].pages)
      falseSuccesses.push_back(s.name + " cut at " + std::to_string(cuts[k].length) + " of " +
                               std::to_string(s.bytes.size()));
    // A failure is reported.
    if (cut.exitCode != 0) {
      EXPECT_NE(cut.output.find("monodoc: decode: "), std::string::npos) << cut.output;
    }
  }
  EXPECT_GT(cuts.size(), 1000u);
  std::string list;
  for (const std::string& f : falseSuccesses) list += "\n  " + f;
  EXPECT_TRUE(falseSuccesses.empty()) << falseSuccesses.size() << " of " << cuts.size()
                                      << " cut files decoded with success:" << list;
}

}  // namespace
