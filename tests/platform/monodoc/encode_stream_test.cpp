// Long runs through monodoc encode --file: pages read one at a time from several files, sections
// ended by the memory bound, each page decoded back by jbig2dec (lossless) or by monodoc decode
// (lossy); and the page stream the commands read their pages with.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "jb2_test_stream.h"
#include "jbig2dec.h"
#include "page_stream.h"
#include "pages.h"
#include "ref_bitmap.h"
#include "sanitizer_size.h"
#include "tools.h"

namespace {

using monotest::RefBitmap;
using monotest::TempDir;

// Sanitizer builds take a shorter run: the sections and their joins are the same.
constexpr int kLongRun = monotest::sanitizer_sized(200, 60);

RefBitmap as_ref(const monodoc::Bilevel& page) {
  RefBitmap bm(page.width, page.height);
  for (int32_t y = 0; y < page.height; ++y) std::memcpy(bm.row(y), page.row(y), page.stride);
  return bm;
}

// A window of w x h pixels of the page whose top left corner is (x, y).
RefBitmap window(const RefBitmap& page, int x, int y, int w, int h) {
  RefBitmap out(w, h);
  for (int v = 0; v < h; ++v)
    for (int u = 0; u < w; ++u)
      if (x + u < page.width && y + v < page.height && page.get(x + u, y + v)) out.set(u, v, 1);
  return out;
}

// count pages made from the sample pages in turn, each round a window moved a little further,
// so that the run repeats real glyphs at new places.
std::vector<RefBitmap> long_run(int count) {
  std::vector<RefBitmap> sources;
  for (const std::string& name : monotest::sample_page_names()) sources.push_back(monotest::sample_page(name));
  std::vector<RefBitmap> pages;
  for (int i = 0; i < count; ++i) {
    const RefBitmap& s = sources[size_t(i) % sources.size()];
    const int round = i / int(sources.size());
    pages.push_back(window(s, 300 + 7 * round % 200, 400 + 13 * round % 600, 640, 480));
  }
  return pages;
}

class EncodeStreamTest : public ::testing::Test {
 protected:
  monotest::ToolResult monodoc(const std::string& args) {
    return monotest::run_tool("cd " + monotest::shell_quote(dir.path()) + " && " + monotest::shell_quote(MONODOC_BIN) +
                              " " + args + " 2>&1");
  }
  // The pages as three PBM files of several images each; their names for the command line.
  std::string write_pages(const std::vector<RefBitmap>& pages) {
    std::string files[3], names;
    for (size_t i = 0; i < pages.size(); ++i) files[i * 3 / pages.size()] += monotest::format_pbm(pages[i]);
    for (int f = 0; f < 3; ++f) {
      const std::string name = "part" + std::to_string(f) + ".pbm";
      monotest::write_file(dir.file(name), files[f]);
      names += " " + name;
    }
    return names;
  }
  TempDir dir;
};

// The number of sections from the command's summary line "N pages in S sections".
int sections_of(const std::string& output) {
  const size_t at = output.find(" pages in ");
  return at == std::string::npos ? -1 : std::stoi(output.substr(at + 10));
}

// The section of each page from the progress lines "coded page N of M (section S)".
std::vector<int> sections_of_pages(const std::string& output) {
  std::vector<int> section;
  for (size_t at = output.find("coded page "); at != std::string::npos; at = output.find("coded page ", at + 1)) {
    const size_t open = output.find("(section ", at);
    if (open == std::string::npos) break;
    section.push_back(std::stoi(output.substr(open + 9)));
  }
  return section;
}

// Segment numbers run on from 0 across every section; pages carry 1.. in order, each opened by
// its page information and closed by its end of page. A dictionary between pages belongs to the
// section of the page that follows it, and a page's text regions refer only to its own
// section's dictionary and to segments of the page itself.
void check_numbering(const std::string& file, const std::vector<int>& sectionOf) {
  const auto segments = jb2test::parse_segments(jb2test::Bytes(file.begin(), file.end()), true);
  // A dictionary between pages, by segment number: the page that follows it.
  std::vector<std::pair<uint32_t, uint32_t>> shared;
  uint32_t page = 0, pageInfo = 0;
  bool inPage = false;
  for (size_t i = 0; i < segments.size(); ++i) {
    const jb2test::ParsedSegment& s = segments[i];
    ASSERT_EQ(s.number, i);
    if (s.type == 48) {
      ASSERT_FALSE(inPage);
      ASSERT_EQ(s.page, ++page);
      ASSERT_LE(page, sectionOf.size());
      pageInfo = s.number;
      inPage = true;
    } else if (s.type == 49) {
      ASSERT_EQ(s.page, page);
      inPage = false;
    } else if (s.type == 0 && !inPage) {
      shared.emplace_back(s.number, page + 1);
    } else if ((s.type == 6 || s.type == 7) && inPage) {
      for (const uint32_t r : s.referred) {
        const auto d = std::find_if(shared.begin(), shared.end(), [&](const auto& e) { return e.first == r; });
        if (d == shared.end()) {
          EXPECT_GT(r, pageInfo) << "page " << page << " refers to segment " << r << " of no section";
          continue;
        }
        EXPECT_EQ(sectionOf[d->second - 1], sectionOf[page - 1]) << "page " << page << " refers to segment " << r;
      }
    }
  }
  EXPECT_FALSE(inPage);
  EXPECT_EQ(page, sectionOf.size());
}

TEST_F(EncodeStreamTest, LongRunUnderASmallBoundDecodesPageByPage) {
  const std::vector<RefBitmap> pages = long_run(kLongRun);
  const std::string names = write_pages(pages);

  monotest::ToolResult r = monodoc("encode --memory 1 -f lossless.jb2" + names);
  ASSERT_EQ(r.exit_code, 0) << r.output;
  std::vector<int> sectionOf = sections_of_pages(r.output);
  ASSERT_EQ(sectionOf.size(), pages.size());
  EXPECT_GE(sectionOf.back(), 3);
  EXPECT_EQ(sections_of(r.output), sectionOf.back()) << r.output;
  std::string file = monotest::read_file(dir.file("lossless.jb2"));
  check_numbering(file, sectionOf);
  std::string messages;
  const std::vector<RefBitmap> exact =
      monotest::jbig2dec_decode_pages(std::vector<uint8_t>(file.begin(), file.end()), &messages);
  ASSERT_EQ(exact.size(), pages.size()) << messages;
  for (size_t i = 0; i < pages.size(); ++i) ASSERT_EQ(monotest::first_difference(pages[i], exact[i]), "") << "page " << i + 1;

  r = monodoc("encode --lossy -p 3 --memory 1 -f lossy.jb2" + names);
  ASSERT_EQ(r.exit_code, 0) << r.output;
  sectionOf = sections_of_pages(r.output);
  ASSERT_EQ(sectionOf.size(), pages.size());
  EXPECT_GE(sectionOf.back(), 3);
  file = monotest::read_file(dir.file("lossy.jb2"));
  check_numbering(file, sectionOf);
  r = monodoc("decode -q -o back lossy.jb2");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  for (size_t i = 0; i < pages.size(); ++i) {
    SCOPED_TRACE("page " + std::to_string(i + 1));
    const RefBitmap back = monotest::read_pbm(dir.file("back-" + std::to_string(i + 1) + ".pbm"));
    ASSERT_EQ(back.width, pages[i].width);
    ASSERT_EQ(back.height, pages[i].height);
    const double budget = 0.01 * double(pages[i].count());
    EXPECT_LE(double(monotest::unexplained_ink(pages[i], back)), budget) << "lost ink";
    EXPECT_LE(double(monotest::unexplained_ink(back, pages[i])), budget) << "added ink";
  }
}

// Without a bound every page lies in one section, and a bound of 0 says so; the bound is refused
// where it means nothing or cannot be held.
TEST_F(EncodeStreamTest, MemoryOption) {
  const std::string names = write_pages(long_run(12));
  monotest::ToolResult r = monodoc("encode --memory 0 -f one.jb2" + names);
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("12 pages in 1 sections"), std::string::npos) << r.output;
  EXPECT_EQ(sections_of_pages(r.output), std::vector<int>(12, 1));
  check_numbering(monotest::read_file(dir.file("one.jb2")), std::vector<int>(12, 1));
  for (const char* bad : {"--memory 1 -o x", "--memory -1 -f x.jb2", "--memory 4096 -f x.jb2", "--memory lots -f x.jb2"}) {
    r = monodoc(std::string("encode -q ") + bad + names);
    EXPECT_EQ(r.exit_code, 2) << bad << ": " << r.output;
    EXPECT_NE(r.output.find("--memory"), std::string::npos) << bad << ": " << r.output;
  }
}

// The stream hands out the pages of PBM, TIFF and PNG files in order, one at a time, counts them
// without reading them, and names the file that fails after handing out what came before it.
TEST_F(EncodeStreamTest, PageStreamReadsFilesOneByOne) {
  monotest::require_tool("pnmtopng", "netpbm");
  monotest::require_tool("tiffcp", "libtiff-tools");
  const std::vector<RefBitmap> pages = {monotest::make_text_blobs(203, 97, 1), monotest::make_lines(150, 80, 2),
                                        monotest::make_text_blobs(99, 120, 3), monotest::make_lines(64, 33, 4),
                                        monotest::make_text_blobs(310, 44, 5)};
  monotest::write_file(dir.file("two.pbm"), monotest::format_pbm(pages[0]) + monotest::format_pbm(pages[1]));
  for (int i = 2; i < 5; ++i) monotest::write_pbm(dir.file("p" + std::to_string(i) + ".pbm"), pages[size_t(i)]);
  const auto run = [&](const std::string& command) {
    const monotest::ToolResult t = monotest::run_tool("cd " + monotest::shell_quote(dir.path()) + " && " + command);
    ASSERT_EQ(t.exit_code, 0) << command << ": " << t.output;
  };
  run("pnmtotiff -g4 p2.pbm > a.tif && pnmtotiff -g4 p3.pbm > b.tif && tiffcp a.tif b.tif two.tif");
  run("pnmtopng p4.pbm > one.png");
  monotest::write_file(dir.file("cut.pbm"), monotest::format_pbm(pages[0]).substr(0, 200));

  monodoc::PageStream stream({dir.file("two.pbm"), dir.file("two.tif"), dir.file("one.png")});
  size_t count = 0;
  std::string error;
  ASSERT_TRUE(stream.count(&count, &error)) << error;
  EXPECT_EQ(count, 5u);
  monodoc::Bilevel page;
  for (size_t i = 0; i < pages.size(); ++i) {
    ASSERT_TRUE(stream.next(&page, &error)) << i << ": " << error;
    EXPECT_EQ(monotest::first_difference(pages[i], as_ref(page)), "") << i;
    EXPECT_EQ(stream.pages_read(), i + 1);
  }
  EXPECT_EQ(stream.file(), dir.file("one.png"));
  EXPECT_FALSE(stream.next(&page, &error));
  EXPECT_EQ(error, "");

  monodoc::PageStream broken({dir.file("two.pbm"), dir.file("cut.pbm"), dir.file("two.tif")});
  EXPECT_FALSE(broken.count(&count, &error));
  EXPECT_NE(error.find("cut.pbm"), std::string::npos) << error;
  size_t handed = 0;
  while (broken.next(&page, &error)) ++handed;
  EXPECT_EQ(handed, 2u);
  EXPECT_NE(error.find("cut.pbm"), std::string::npos) << error;
  EXPECT_NE(error.find("truncated"), std::string::npos) << error;
  EXPECT_FALSE(broken.next(&page, &error));
}

}  // namespace
