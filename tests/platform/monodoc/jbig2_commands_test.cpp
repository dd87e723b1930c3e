// monodoc encode and decode end to end: pages through jBig2Encode into embedded streams that
// jbig2dec reads, and streams of other writers through jBig2Decode back to the pages they hold.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "jb2_page_reader.h"
#include "jbig2dec.h"
#include "pages.h"
#include "ref_bitmap.h"
#include "tools.h"

namespace {

using monotest::RefBitmap;
using monotest::TempDir;

class Jbig2CommandsTest : public ::testing::Test {
 protected:
  monotest::ToolResult monodoc(const std::string& args) {
    return monotest::run_tool("cd " + monotest::shell_quote(dir.path()) + " && " + monotest::shell_quote(MONODOC_BIN) +
                              " " + args + " 2>&1");
  }
  // The page segments of a feature stream as PDF would carry them, written to name.
  void embedded_feature(const std::string& feature, const std::string& name) {
    const std::string file = monotest::read_file(monotest::feature_dir() + "/" + feature);
    jb2test::SplitFile split;
    ASSERT_TRUE(jb2test::split_file(reinterpret_cast<const uint8_t*>(file.data()), file.size(), &split));
    monotest::write_file(dir.file(name), std::string(split.embedded.begin(), split.embedded.end()));
  }
  TempDir dir;
};

TEST_F(Jbig2CommandsTest, StreamsOfOtherWritersDecodeToTheirPages) {
  const RefBitmap want = monotest::read_pbm(monotest::feature_dir() + "/bitmap.pbm");
  const std::vector<std::string> features = {"bitmap-mmr.jbig2", "bitmap-composite-and-xnor.jbig2",
                                             "bitmap-refine-page-subrect.jbig2",
                                             "bitmap-stripe-initially-unknown-height.jbig2"};
  std::string pages;
  for (size_t i = 0; i < features.size(); ++i) {
    embedded_feature(features[i], "p" + std::to_string(i + 1) + ".jb2");
    pages += " p" + std::to_string(i + 1) + ".jb2";
  }
  const monotest::ToolResult r = monodoc("decode -o dec -" + pages);
  ASSERT_EQ(r.exit_code, 0) << r.output;
  for (size_t i = 0; i < features.size(); ++i) {
    SCOPED_TRACE(features[i]);
    EXPECT_NE(r.output.find("page " + std::to_string(i + 1) + " of 4"), std::string::npos) << r.output;
    EXPECT_EQ(monotest::first_difference(want, monotest::read_pbm(dir.file("dec-" + std::to_string(i + 1) + ".pbm"))),
              "");
  }
}

// Pages are decoded one at a time and their files appear when every page has decoded: a stream
// that cannot be decoded is reported and no page file is written, not even those before it.
TEST_F(Jbig2CommandsTest, AStreamThatCannotBeDecodedIsReportedAndItsPageIsNotWritten) {
  embedded_feature("bitmap-mmr.jbig2", "good.jb2");
  std::string cut = monotest::read_file(dir.file("good.jb2"));
  cut.resize(cut.size() - 20);
  monotest::write_file(dir.file("cut.jb2"), cut);
  monotest::ToolResult r = monodoc("decode -o dec - good.jb2 cut.jb2");
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_NE(r.output.find("monodoc: decode: Unable to decode a jbig2 layer:"), std::string::npos) << r.output;
  EXPECT_EQ(monotest::run_tool("test -e " + monotest::shell_quote(dir.file("dec-1.pbm"))).exit_code, 1);
  EXPECT_EQ(monotest::run_tool("test -e " + monotest::shell_quote(dir.file("dec-2.pbm"))).exit_code, 1);
  r = monodoc("decode -o dec - good.pbm");
  EXPECT_EQ(r.exit_code, 1) << r.output;
  r = monodoc("decode good.jb2");
  EXPECT_EQ(r.exit_code, 2) << r.output;
  EXPECT_NE(r.output.find("embedded pages need DICT"), std::string::npos) << r.output;
  r = monodoc("decode");
  EXPECT_EQ(r.exit_code, 2) << r.output;
}

TEST_F(Jbig2CommandsTest, PagesOfEveryFormatMakeOneSectionThatJbig2decAndDecodeGiveBack) {
  monotest::require_tool("pnmtopng", "netpbm");
  const std::vector<RefBitmap> pages = {monotest::make_text_blobs(420, 230, 21), monotest::make_lines(300, 200, 22),
                                        monotest::make_text_blobs(420, 230, 23), monotest::make_noise(150, 90, 0.3, 24)};
  // Two pages in one PBM file, one PNG, one G4 TIFF.
  monotest::write_file(dir.file("two.pbm"), monotest::format_pbm(pages[0]) + monotest::format_pbm(pages[1]));
  monotest::write_pbm(dir.file("p3.pbm"), pages[2]);
  monotest::write_pbm(dir.file("p4.pbm"), pages[3]);
  ASSERT_EQ(monotest::run_tool("cd " + monotest::shell_quote(dir.path()) +
                               " && pnmtopng p3.pbm > p3.png && pnmtotiff -g4 p4.pbm > p4.tif")
                .exit_code,
            0);
  for (const char* profile : {"1", "2", "3"}) {
    SCOPED_TRACE(profile);
    monotest::ToolResult r = monodoc(std::string("encode --lossless -p ") + profile + " -o sec two.pbm p3.png p4.tif");
    ASSERT_EQ(r.exit_code, 0) << r.output;
    for (int n = 1; n <= 4; ++n) {
      EXPECT_NE(r.output.find("wrote page " + std::to_string(n) + " of 4"), std::string::npos) << r.output;
      const std::string globals = monotest::read_file(dir.file("sec-dict.jb2"));
      const std::string page = monotest::read_file(dir.file("sec-" + std::to_string(n) + ".jb2"));
      const monotest::Jbig2decResult j = monotest::jbig2dec_decode_embedded(
          std::vector<uint8_t>(globals.begin(), globals.end()), std::vector<uint8_t>(page.begin(), page.end()));
      EXPECT_EQ(monotest::first_difference(pages[size_t(n - 1)], j.page), "") << n << j.messages;
    }
    r = monodoc("decode -q -o back sec-dict.jb2 sec-1.jb2 sec-2.jb2 sec-3.jb2 sec-4.jb2");
    ASSERT_EQ(r.exit_code, 0) << r.output;
    for (int n = 1; n <= 4; ++n)
      EXPECT_EQ(monotest::first_difference(pages[size_t(n - 1)],
                                           monotest::read_pbm(dir.file("back-" + std::to_string(n) + ".pbm"))),
                "")
          << n;
  }
  // Lossy coding with the classifier's options gives pages jbig2dec reads.
  const monotest::ToolResult r = monodoc("encode -q --width-diff 2 --max-dense 4 -o lossy two.pbm");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("2 pages:"), std::string::npos) << r.output;
}

// --file: every page in one standalone file that jbig2dec reads whole, pixel for pixel, with a
// comment for the file; a file that cannot be written is a failure and leaves nothing behind.
TEST_F(Jbig2CommandsTest, FileHoldsEveryPageForJbig2dec) {
  const std::vector<RefBitmap> pages = {monotest::make_text_blobs(420, 230, 31), monotest::make_lines(300, 200, 32),
                                        monotest::make_text_blobs(420, 230, 33)};
  monotest::write_file(dir.file("all.pbm"), monotest::format_pbm(pages[0]) + monotest::format_pbm(pages[1]) +
                                                monotest::format_pbm(pages[2]));
  for (const char* profile : {"1", "3"}) {
    SCOPED_TRACE(profile);
    monotest::ToolResult r =
        monodoc(std::string("encode -q -p ") + profile + " -f doc.jb2 --comment \"three pages\" all.pbm");
    ASSERT_EQ(r.exit_code, 0) << r.output;
    EXPECT_NE(r.output.find("doc.jb2: 3 pages"), std::string::npos) << r.output;
    const std::string file = monotest::read_file(dir.file("doc.jb2"));
    std::string messages;
    const std::vector<RefBitmap> decoded =
        monotest::jbig2dec_decode_pages(std::vector<uint8_t>(file.begin(), file.end()), &messages);
    ASSERT_EQ(decoded.size(), pages.size()) << messages;
    for (size_t i = 0; i < pages.size(); ++i) EXPECT_EQ(monotest::first_difference(pages[i], decoded[i]), "") << i;
    // monodoc reads the file back whole.
    r = monodoc("decode -q -o back doc.jb2");
    ASSERT_EQ(r.exit_code, 0) << r.output;
    for (size_t i = 0; i < pages.size(); ++i)
      EXPECT_EQ(monotest::first_difference(pages[i], monotest::read_pbm(dir.file("back-" + std::to_string(i + 1) + ".pbm"))),
                "")
          << i;
  }
  monotest::ToolResult r = monodoc("encode -q -f no/such/dir/doc.jb2 all.pbm");
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_NE(r.output.find("cannot write no/such/dir/doc.jb2: No such file or directory"), std::string::npos)
      << r.output;
  // A device that takes nothing: the file, made whole first, fails as it is written into it.
  r = monodoc("encode -q -f /dev/full all.pbm");
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_NE(r.output.find("cannot write /dev/full: No space left on device"), std::string::npos) << r.output;
}

// Standalone files of other writers: each page decodes with the shared segments it refers to
// (a pattern dictionary, a symbol dictionary of no page), also when a region's length is found
// only by its end marker; a cut file and a file that is not JBIG2 are refused.
TEST_F(Jbig2CommandsTest, StandaloneFilesOfOtherWritersDecode) {
  const RefBitmap want = monotest::read_pbm(monotest::feature_dir() + "/bitmap.pbm");
  for (const char* feature : {"bitmap-halftone-global.jbig2", "bitmap-symbol-texthuffrefinecustompos-global.jbig2",
                              "bitmap-initially-unknown-size.jbig2"}) {
    SCOPED_TRACE(feature);
    monotest::write_file(dir.file("f.jb2"), monotest::read_file(monotest::feature_dir() + "/" + feature));
    const monotest::ToolResult r = monodoc("decode -q -o f f.jb2");
    ASSERT_EQ(r.exit_code, 0) << r.output;
    EXPECT_EQ(monotest::first_difference(want, monotest::read_pbm(dir.file("f-1.pbm"))), "");
  }
  std::string cut = monotest::read_file(dir.file("f.jb2"));
  cut.resize(cut.size() / 2);
  monotest::write_file(dir.file("cut.jb2"), cut);
  monotest::ToolResult r = monodoc("decode -q -o c cut.jb2");
  EXPECT_EQ(r.exit_code, 1) << r.output;
  monotest::write_pbm(dir.file("p.pbm"), RefBitmap(8, 8));
  r = monodoc("decode p.pbm");
  EXPECT_EQ(r.exit_code, 2) << r.output;
  EXPECT_NE(r.output.find("no standalone JBIG2 file"), std::string::npos) << r.output;
}

// A standalone file whose header gives more pages than it holds is cut short: the command fails
// saying so and writes no page, also when the file ends with its end-of-file segment.
TEST_F(Jbig2CommandsTest, StandaloneFileShortOfItsPageCountFails) {
  const RefBitmap want = monotest::read_pbm(monotest::feature_dir() + "/bitmap.pbm");
  const std::string whole = monotest::read_file(monotest::feature_dir() + "/bitmap-halftone.jbig2");
  ASSERT_EQ(whole.substr(8, 5), std::string("\x01\0\0\0\x01", 5)) << "a sequential file of one counted page";
  struct Case {
    uint32_t claimed;
    const char* message;  // null: decodes
  };
  const Case cases[] = {
      {0xFFFFFFFFu, "the file ends after 1 of its 4294967295 pages: it is cut short"},
      {2, "the file ends after 1 of its 2 pages: it is cut short"},
      {1, nullptr},
      {0, nullptr},
  };
  // The same file ended by an end-of-file segment (number 100, page 0), as other writers end theirs.
  const std::string ended = whole + std::string("\0\0\0\x64\x33\0\0\0\0\0\0", 11);
  for (const Case& c : cases) {
    for (const std::string* form : {&whole, &ended}) {
      SCOPED_TRACE(std::to_string(c.claimed) + (form == &ended ? " with end of file" : ""));
      std::string file = *form;
      for (int i = 0; i < 4; ++i) file[size_t(9 + i)] = static_cast<char>(c.claimed >> (24 - 8 * i));
      monotest::write_file(dir.file("claim.jb2"), file);
      std::filesystem::remove(dir.file("c-1.pbm"));
      const monotest::ToolResult r = monodoc("decode -q -o c claim.jb2");
      EXPECT_EQ(r.exit_code, c.message != nullptr ? 1 : 0) << r.output;
      if (c.message != nullptr) {
        EXPECT_NE(r.output.find(std::string("monodoc: decode: claim.jb2: ") + c.message), std::string::npos) << r.output;
      }
      if (c.message != nullptr) {
        EXPECT_FALSE(std::filesystem::exists(dir.file("c-1.pbm")));
      } else {
        EXPECT_EQ(monotest::first_difference(want, monotest::read_pbm(dir.file("c-1.pbm"))), "");
      }
    }
  }
}

// A page whose page information gives a width or height an int32_t barely holds is refused with
// a message (and no arithmetic on the size overflows on the way there).
TEST_F(Jbig2CommandsTest, PagesTooLargeToHoldAreRefused) {
  for (const auto& [width, height] : std::vector<std::pair<uint32_t, uint32_t>>{{0x7FFFFFFF, 1}, {1, 0x7FFFFFFF},
                                                                               {0x7FFFFFFF, 0x7FFFFFFF}}) {
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    // Page information (segment 0, type 48, page 1, 19 bytes of data), then end of page.
    std::string stream("\0\0\0\0\x30\0\x01\0\0\0\x13", 11);
    for (const uint32_t v : {width, height, 0u, 0u})
      for (int i = 0; i < 4; ++i) stream.push_back(static_cast<char>(v >> (24 - 8 * i)));
    stream += std::string("\0\0\0", 3) + std::string("\0\0\0\x01\x31\0\x01\0\0\0\0", 11);
    monotest::write_file(dir.file("wide.jb2"), stream);
    const monotest::ToolResult r = monodoc("decode -q -o w - wide.jb2");
    EXPECT_EQ(r.exit_code, 1) << r.output;
    EXPECT_NE(r.output.find("out of range"), std::string::npos) << r.output;
    EXPECT_FALSE(std::filesystem::exists(dir.file("w-1.pbm")));
  }
}

// A page turned by 0.7 degrees comes back from --deskew closer to the page before the turn than
// from plain lossy coding.
TEST_F(Jbig2CommandsTest, DeskewStraightensTheTurnedPage) {
  RefBitmap straight(2550, 900);
  const RefBitmap text = monotest::make_text_blobs(2400, 800, 5);
  for (int y = 0; y < text.height; ++y)
    for (int x = 0; x < text.width; ++x) straight.set(x + 75, y + 50, text.get(x, y));
  monotest::write_pbm(dir.file("turned.pbm"), monotest::turned(straight, 0.7 * M_PI / 180));
  const auto differences = [&](const RefBitmap& decoded) {
    EXPECT_EQ(decoded.width, straight.width);
    EXPECT_EQ(decoded.height, straight.height);
    size_t d = 0;
    for (int y = 0; y < straight.height; ++y)
      for (int x = 0; x < straight.width; ++x) d += decoded.get(x, y) != straight.get(x, y);
    return d;
  };
  const auto embedded = [&](const std::string& prefix) {
    const std::string dict = monotest::read_file(dir.file(prefix + "-dict.jb2"));
    const std::string page = monotest::read_file(dir.file(prefix + "-1.jb2"));
    return monotest::jbig2dec_decode_embedded(std::vector<uint8_t>(dict.begin(), dict.end()),
                                              std::vector<uint8_t>(page.begin(), page.end()))
        .page;
  };
  monotest::ToolResult r = monodoc("encode -q --lossy -o plain turned.pbm");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  r = monodoc("encode -q --deskew -f level.jb2 turned.pbm");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  const std::string file = monotest::read_file(dir.file("level.jb2"));
  std::string messages;
  const std::vector<RefBitmap> filed =
      monotest::jbig2dec_decode_pages(std::vector<uint8_t>(file.begin(), file.end()), &messages);
  ASSERT_EQ(filed.size(), 1u) << messages;
  const size_t plain = differences(embedded("plain"));
  EXPECT_LT(differences(filed[0]) * 2, plain);
}

TEST_F(Jbig2CommandsTest, EncodeUsageErrors) {
  monotest::write_pbm(dir.file("p.pbm"), RefBitmap(8, 8));
  for (const char* args : {"encode --lossless --lossy p.pbm", "encode --lossless --deskew -f x.jb2 p.pbm",
                           "encode --deskew p.pbm", "encode -p two p.pbm",
                           "encode", "encode --comment x p.pbm", "encode -f"}) {
    const monotest::ToolResult r = monodoc(args);
    EXPECT_EQ(r.exit_code, 2) << args << r.output;
  }
  const monotest::ToolResult r = monodoc("encode missing.pbm");
  EXPECT_EQ(r.exit_code, 1) << r.output;
}

}  // namespace
