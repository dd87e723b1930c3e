// monodoc pdf end to end: page files of every kind into one PDF, judged by qpdf, poppler, mupdf,
// Ghostscript and jbig2dec: bilevel pages as JBIG2 whose pixels come back exactly (lossless) or
// alike in every renderer (lossy), grey and colour pages as JPEG or Flate, and nothing left
// behind when a run fails.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "pages.h"
#include "ref_bitmap.h"
#include "tools.h"

namespace {

using monotest::RefBitmap;
using monotest::run_tool;
using monotest::shell_quote;
using monotest::TempDir;

class PdfCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"qpdf", "pdfimages", "pdftocairo"}) monotest::require_tool(tool, "qpdf, poppler-utils");
    monotest::require_tool("jbig2dec", "jbig2dec");
    monotest::require_tool("mutool", "mupdf-tools");
    monotest::require_tool("gs", "ghostscript");
  }
  monotest::ToolResult monodoc(const std::string& args) {
    return run_tool("cd " + shell_quote(dir.path()) + " && " + shell_quote(MONODOC_BIN) + " " + args + " 2>&1");
  }
  // "pdfimages -list" rows: "type width x height color bpc enc".
  std::vector<std::string> images(const std::string& pdf) {
    std::istringstream list(run_tool("pdfimages -list " + shell_quote(dir.file(pdf))).output);
    std::vector<std::string> rows;
    std::string line;
    std::getline(list, line);
    std::getline(list, line);
    while (std::getline(list, line)) {
      std::istringstream f(line);
      std::string page, num, type, width, height, color, comp, bpc, enc;
      f >> page >> num >> type >> width >> height >> color >> comp >> bpc >> enc;
      rows.push_back(width + "x" + height + " " + color + " " + bpc + " " + enc);
    }
    return rows;
  }
  // Page n as a renderer paints it at 300 dpi, thresholded at half.
  RefBitmap render(const std::string& pdf, int n, const std::string& renderer) {
    const std::string out = dir.file(renderer + std::to_string(n));
    const std::string p = std::to_string(n);
    const std::string in = shell_quote(dir.file(pdf));
    std::string command;
    if (renderer == "poppler") {
      command = "pdftocairo -r 300 -gray -antialias none -f " + p + " -l " + p + " -singlefile -png " + in + " " +
                shell_quote(out) + " && pngtopnm " + shell_quote(out + ".png") + " > " + shell_quote(out + ".pgm");
    } else if (renderer == "mupdf") {
      command = "mutool draw -q -r 300 -c gray -o " + shell_quote(out + ".pgm") + " " + in + " " + p;
    } else {
      command = "gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pbmraw -r300 -dFirstPage=" + p + " -dLastPage=" + p +
                " -sOutputFile=" + shell_quote(out + ".pbm") + " " + in;
    }
    const auto r = run_tool(command + " 2>&1");
    EXPECT_EQ(r.exit_code, 0) << r.output;
    return renderer == "gs" ? monotest::read_pbm(out + ".pbm") : threshold_pgm(out + ".pgm");
  }
  // A PGM (P5, 8 bits) as a bitmap: darker than half is black.
  static RefBitmap threshold_pgm(const std::string& path) {
    const std::string bytes = monotest::read_file(path);
    int w = 0, h = 0, max = 0, used = 0;
    if (std::sscanf(bytes.c_str(), "P5 %d %d %d%n", &w, &h, &max, &used) != 3 || w < 1 || h < 1) {
      ADD_FAILURE() << path << " is no PGM";
      return RefBitmap(1, 1);
    }
    RefBitmap b(w, h);
    const size_t start = static_cast<size_t>(used) + 1;
    if (bytes.size() < start + static_cast<size_t>(w) * static_cast<size_t>(h)) {
      ADD_FAILURE() << path << " is short";
      return b;
    }
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) b.set(x, y, static_cast<uint8_t>(bytes[start + static_cast<size_t>(y) * w + x]) < 128);
    return b;
  }
  // The samples of a PPM (P6), without its header.
  static std::string ppm_samples(const std::string& bytes) {
    int w = 0, h = 0, max = 0, used = 0;
    if (std::sscanf(bytes.c_str(), "P6 %d %d %d%n", &w, &h, &max, &used) != 3) return "";
    return bytes.substr(static_cast<size_t>(used) + 1);
  }
  TempDir dir;
};

TEST_F(PdfCommandTest, PagesOfEveryKindBecomeOnePdf) {
  const RefBitmap text = monotest::doc_page(3);
  monotest::write_pbm(dir.file("text.pbm"), text);
  ASSERT_EQ(run_tool("cp " + shell_quote(monotest::doc_page_render(4, 75, "gray")) + " " +
                     shell_quote(dir.file("grey.pgm"))).exit_code, 0);
  ASSERT_EQ(run_tool("cp " + shell_quote(monotest::doc_page_render(1, 75, "color")) + " " +
                     shell_quote(dir.file("colour.ppm"))).exit_code, 0);
  const auto r = monodoc("pdf --test -o out.pdf text.pbm grey.pgm colour.ppm");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  for (const char* line : {"page 1: text.pbm", "page 2: grey.pgm", "page 3: colour.ppm", "out.pdf: 3 pages"}) {
    EXPECT_NE(r.output.find(line), std::string::npos) << r.output;
  }
  const auto check = run_tool("qpdf --check " + shell_quote(dir.file("out.pdf")));
  EXPECT_EQ(check.exit_code, 0) << check.output;
  const auto rows = images("out.pdf");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0], "2550x3300 gray 1 jbig2");
  EXPECT_EQ(rows[1].substr(rows[1].size() - 4), "jpeg");
  EXPECT_EQ(rows[2].find("rgb 8 jpeg"), rows[2].size() - 10);
  // The lossless page: the streams jbig2dec decodes and what every renderer paints are the page.
  ASSERT_EQ(run_tool("pdfimages -all -f 1 -l 1 " + shell_quote(dir.file("out.pdf")) + " " +
                     shell_quote(dir.file("img"))).exit_code, 0);
  const auto dec = run_tool("jbig2dec -e -t pbm -o " + shell_quote(dir.file("dec.pbm")) + " " +
                            shell_quote(dir.file("img-000.jb2g")) + " " + shell_quote(dir.file("img-000.jb2e")));
  ASSERT_EQ(dec.exit_code, 0) << dec.output;
  EXPECT_EQ(monotest::first_difference(text, monotest::read_pbm(dir.file("dec.pbm"))), "");
  for (const char* renderer : {"poppler", "mupdf", "gs"}) {
    EXPECT_EQ(monotest::first_difference(text, render("out.pdf", 1, renderer)), "") << renderer;
  }
  // Runs in test mode give the same bytes; Flate keeps grey and colour samples as they were.
  ASSERT_EQ(monodoc("pdf --test -o again.pdf text.pbm grey.pgm colour.ppm").exit_code, 0);
  EXPECT_TRUE(monotest::read_file(dir.file("out.pdf")) == monotest::read_file(dir.file("again.pdf")));
  ASSERT_EQ(monodoc("pdf --flate -o flate.pdf colour.ppm").exit_code, 0);
  ASSERT_EQ(run_tool("pdfimages " + shell_quote(dir.file("flate.pdf")) + " " + shell_quote(dir.file("fl"))).exit_code,
            0);
  const std::string colour = ppm_samples(monotest::read_file(dir.file("colour.ppm")));
  EXPECT_FALSE(colour.empty());
  EXPECT_TRUE(ppm_samples(monotest::read_file(dir.file("fl-000.ppm"))) == colour);
}

// Lossy pages: poppler, mupdf, Ghostscript and jbig2dec give one picture, smaller than lossless.
TEST_F(PdfCommandTest, LossyPagesLookAlikeEverywhere) {
  monotest::write_pbm(dir.file("text.pbm"), monotest::doc_page(10));
  ASSERT_EQ(monodoc("pdf --lossy -o lossy.pdf text.pbm").exit_code, 0);
  ASSERT_EQ(monodoc("pdf -o lossless.pdf text.pbm").exit_code, 0);
  EXPECT_LT(monotest::read_file(dir.file("lossy.pdf")).size(), monotest::read_file(dir.file("lossless.pdf")).size());
  ASSERT_EQ(run_tool("pdfimages -all " + shell_quote(dir.file("lossy.pdf")) + " " + shell_quote(dir.file("img")))
                .exit_code,
            0);
  ASSERT_EQ(run_tool("jbig2dec -e -t pbm -o " + shell_quote(dir.file("dec.pbm")) + " " +
                     shell_quote(dir.file("img-000.jb2g")) + " " + shell_quote(dir.file("img-000.jb2e")))
                .exit_code,
            0);
  const RefBitmap decoded = monotest::read_pbm(dir.file("dec.pbm"));
  for (const char* renderer : {"poppler", "mupdf", "gs"}) {
    EXPECT_EQ(monotest::first_difference(decoded, render("lossy.pdf", 1, renderer)), "") << renderer;
  }
}

// Any UTF-8 password opens the file in qpdf, mupdf and poppler: AES-256 takes it in SASLprep
// form (a soft hyphen is mapped to nothing, so the readers, which type it as given, take the
// prepared form), RC4-128 in PDFDocEncoding (poppler's tools pass the typed bytes unconverted,
// so they are given the PDFDocEncoding bytes). What a handler cannot carry is refused.
TEST_F(PdfCommandTest, PasswordsOpenTheFileInEveryReader) {
  monotest::write_pbm(dir.file("page.pbm"), monotest::make_text_blobs(200, 100, 1));
  const struct {
    const char* password;
    const char* version;   // --version, or empty
    const char* revision;  // "R = n" of qpdf --show-encryption, or null when refused
    const char* typed;     // what a reader is given; null: the password itself
    const char* poppler;   // what poppler's tools are given; null: typed
  } cases[] = {
      {"s\xC3\xA9" "cret pw", "", "R = 6", nullptr, nullptr},
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xCE\xA9", "", "R = 6", nullptr, nullptr},
      {"I\xC2\xAD" "X", "", "R = 6", "IX", nullptr},
      {"smile \xF0\x9F\x98\x80", "", "R = 6", nullptr, nullptr},
      {"s\xC3\xA9" "cret pw", "1.4", "R = 3", nullptr, "s\xE9" "cret pw"},
      {"plain", "1.4", "R = 3", nullptr, nullptr},
      {"\xCE\xA9mega", "1.4", nullptr, nullptr, nullptr},
      {"bell\x07", "", nullptr, nullptr, nullptr},
      {"\xE9" "t\xE9", "", nullptr, nullptr, nullptr},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.password);
    const std::string out = "enc" + std::to_string(n++) + ".pdf";
    const std::string version = *c.version ? std::string(" --version ") + c.version : "";
    const auto r = monodoc("pdf" + version + " --password " + shell_quote(c.password) + " -o " + out + " page.pbm");
    const std::string path = shell_quote(dir.file(out));
    if (!c.revision) {
      EXPECT_EQ(r.exit_code, 1) << r.output;
      EXPECT_NE(r.output.find("password"), std::string::npos) << r.output;
      EXPECT_FALSE(std::ifstream(dir.file(out)).good());
      continue;
    }
    ASSERT_EQ(r.exit_code, 0) << r.output;
    const std::string typed = shell_quote(c.typed ? c.typed : c.password);
    const std::string poppler = c.poppler ? shell_quote(c.poppler) : typed;
    const auto shown = run_tool("qpdf --show-encryption --password=" + typed + " " + path + " 2>&1");
    EXPECT_NE(shown.output.find(c.revision), std::string::npos) << shown.output;
    EXPECT_EQ(run_tool("qpdf --check --password=" + typed + " " + path).exit_code, 0);
    EXPECT_NE(run_tool("qpdf --check " + path + " 2>&1").exit_code, 0) << "opened without the password";
    const auto mupdf = run_tool("mutool info -p " + typed + " " + path + " 2>&1");
    EXPECT_NE(mupdf.output.find("Pages: 1"), std::string::npos) << mupdf.output;
    const auto info = run_tool("pdfinfo -upw " + poppler + " " + path + " 2>&1");
    EXPECT_NE(info.output.find("Encrypted:       yes"), std::string::npos) << info.output;
  }
}

// Our reader opens with the password as typed whatever form the writer stored it in: the typed
// bytes (qpdf's AES-256 and its byte mode), PDFDocEncoding (RC4 and AES-128 by our writer and by
// qpdf) or SASLprep (AES-256 by our writer, where a soft hyphen is dropped). A wrong password
// still fails naming the file.
TEST_F(PdfCommandTest, InfoOpensEncryptedFilesWithTheTypedPassword) {
  monotest::write_pbm(dir.file("page.pbm"), monotest::make_text_blobs(200, 100, 1));
  ASSERT_EQ(monodoc("pdf -o plain.pdf page.pbm").exit_code, 0);
  const struct {
    const char* name;
    const char* version;  // our writer's --version, empty for its default, null when it has no such handler
    const char* qpdf;     // qpdf --encrypt key length and options
  } handlers[] = {
      {"RC4-128", "1.4", "128 --use-aes=n"},
      {"AES-128", nullptr, "128 --use-aes=y"},
      {"AES-256", "", "256"},
  };
  const struct {
    const char* password;
    bool anyHandler;  // false: only AES-256 carries it
  } passwords[] = {
      {"plain pw", true},
      {"s\xC3\xA9" "cret pw", true},
      {"I\xC2\xAD" "X", false},
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", false},
  };
  int n = 0;
  for (const auto& h : handlers) {
    for (const auto& p : passwords) {
      if (!p.anyHandler && std::string(h.name) != "AES-256") continue;
      const std::string pw = shell_quote(p.password);
      std::vector<std::string> made = {
          std::string("qpdf --allow-weak-crypto --encrypt ") + pw + " " + pw + " " + h.qpdf + " -- plain.pdf",
          std::string("qpdf --allow-weak-crypto --password-mode=bytes --encrypt ") + pw + " " + pw + " " + h.qpdf +
              " -- plain.pdf",
      };
      if (h.version) {
        made.push_back(std::string("pdf") + (*h.version ? std::string(" --version ") + h.version : "") +
                       " --password " + pw + " -o ours.pdf page.pbm");
      }
      for (const std::string& how : made) {
        SCOPED_TRACE(std::string(h.name) + ", " + p.password + ", " + how);
        const std::string out = "enc" + std::to_string(n++) + ".pdf";
        if (how.rfind("qpdf", 0) == 0) {
          const auto q = run_tool("cd " + shell_quote(dir.path()) + " && " + how + " " + out + " 2>&1");
          ASSERT_EQ(q.exit_code, 0) << q.output;
        } else {
          const auto w = monodoc(how);
          ASSERT_EQ(w.exit_code, 0) << w.output;
          ASSERT_EQ(std::rename(dir.file("ours.pdf").c_str(), dir.file(out).c_str()), 0);
        }
        const auto opened = monodoc("info -p " + pw + " " + out);
        EXPECT_EQ(opened.exit_code, 0) << opened.output;
        EXPECT_NE(opened.output.find(out + ": format PDF, subtype none, 1 page"), std::string::npos) << opened.output;
        const auto wrong = monodoc("info -p 'not it' " + out);
        EXPECT_EQ(wrong.exit_code, 1) << wrong.output;
        EXPECT_NE(wrong.output.find(out + ": the PDF is protected by a password"), std::string::npos) << wrong.output;
      }
    }
  }
}

// A one-page PDF whose content shows text in an unembedded Helvetica, in rendering mode mode.
std::string text_pdf(int mode) {
  const std::string content = "BT /F1 24 Tf " + std::to_string(mode) + " Tr 20 50 Td (Shown text) Tj ET";
  const std::string objects[] = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> "
      ">> >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
  };
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  int n = 0;
  for (const std::string& o : objects) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(++n) + " 0 obj\n" + o + "\nendobj\n";
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 6\n0000000000 65535 f \n";
  char line[32];
  for (size_t at : offsets) {
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", at);
    pdf += line;
  }
  return pdf + "trailer\n<< /Size 6 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
}

// --pdfa writes what PDF/A-1b asks, each rule judged by mupdf, poppler and qpdf: an output intent
// whose profile is ICC version 2, the identification in the XMP metadata, no encryption, the
// header with its binary comment, and every font that shows visible text embedded (invisible text, rendering mode 3, is
// exempt). What cannot meet it is refused with the reason and leaves no file.
TEST_F(PdfCommandTest, ArchivesMeetTheRulesTheyClaim) {
  monotest::write_pbm(dir.file("page.pbm"), monotest::make_text_blobs(400, 300, 3));
  ASSERT_EQ(run_tool("cp " + shell_quote(monotest::doc_page_render(1, 30, "color")) + " " +
                     shell_quote(dir.file("colour.ppm"))).exit_code, 0);
  monotest::write_file(dir.file("words.xml"),
                       "<Page><Glyphs x0=\"10\" xw=\"90\" yb=\"60\" yh=\"30\" famStyle=\"0\" str=\"Hello\"/></Page>");
  monotest::write_file(dir.file("visible.pdf"), text_pdf(0));
  monotest::write_file(dir.file("invisible.pdf"), text_pdf(3));
  const struct {
    const char* args;
    const char* refusal;  // null when the file is written
  } cases[] = {
      {"page.pbm colour.ppm", nullptr},
      {"--text words.xml page.pbm", nullptr},
      {"invisible.pdf", nullptr},
      {"visible.pdf", "Helvetica, a font that is not embedded"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    std::remove(dir.file("a.pdf").c_str());
    const auto r = monodoc(std::string("pdf --pdfa -o a.pdf ") + c.args);
    const std::string path = shell_quote(dir.file("a.pdf"));
    if (c.refusal) {
      EXPECT_NE(r.exit_code, 0) << r.output;
      EXPECT_NE(r.output.find(c.refusal), std::string::npos) << r.output;
      EXPECT_FALSE(std::ifstream(dir.file("a.pdf")).good());
      continue;
    }
    ASSERT_EQ(r.exit_code, 0) << r.output;
    EXPECT_EQ(run_tool("qpdf --check " + path).exit_code, 0);
    // The header line, then a comment of at least four bytes above 127.
    const std::string head = monotest::read_file(dir.file("a.pdf")).substr(0, 16);
    EXPECT_EQ(head.substr(0, 9), "%PDF-1.4\n");
    EXPECT_EQ(head[9], '%');
    for (int i = 10; i < 14; ++i) EXPECT_GT(static_cast<unsigned char>(head[static_cast<size_t>(i)]), 127) << i;
    EXPECT_NE(run_tool("pdfinfo " + path).output.find("Encrypted:       no"), std::string::npos);
    const std::string xmp = run_tool("pdfinfo -meta " + path).output;
    EXPECT_NE(xmp.find("<pdfaid:part>1</pdfaid:part>"), std::string::npos) << xmp;
    EXPECT_NE(xmp.find("<pdfaid:conformance>B</pdfaid:conformance>"), std::string::npos) << xmp;
    // mutool numbers array items from 1.
    const std::string intent = "trailer/Root/OutputIntents/1";
    EXPECT_NE(run_tool("mutool show " + path + " " + intent + "/S").output.find("/GTS_PDFA1"), std::string::npos);
    const std::string icc = run_tool("mutool show -b " + path + " " + intent + "/DestOutputProfile").output;
    ASSERT_GT(icc.size(), 128u);
    EXPECT_EQ(icc.substr(36, 4), "acsp");
    EXPECT_EQ(icc[8], 2) << "ICC major version";
    // The fonts mupdf paints visible text with, each embedded by poppler's account.
    const std::string trace = run_tool("mutool trace " + path).output;
    const std::string fonts = run_tool("pdffonts " + path).output;
    for (const char* kind : {"<fill_text", "<stroke_text", "<clip_text", "<clip_stroke_text"}) {
      for (size_t at = trace.find(kind); at != std::string::npos; at = trace.find(kind, at + 1)) {
        const size_t f = trace.find("font=\"", at);
        ASSERT_NE(f, std::string::npos);
        const std::string name = trace.substr(f + 6, trace.find('"', f + 6) - f - 6);
        // A row ends "emb sub uni object-number generation".
        std::istringstream rows(fonts);
        std::string row;
        bool embedded = false;
        while (std::getline(rows, row)) {
          std::istringstream words(row);
          std::vector<std::string> w{std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
          if (w.size() > 5 && w[0].substr(w[0].find('+') + 1) == name) embedded = w[w.size() - 5] == "yes";
        }
        EXPECT_TRUE(embedded) << name << " shows text without being embedded\n" << fonts;
      }
    }
  }
}

TEST_F(PdfCommandTest, FailuresLeaveNoFile) {
  monotest::write_pbm(dir.file("page.pbm"), monotest::make_text_blobs(200, 100, 1));
  monotest::write_file(dir.file("broken.pbm"), "P4\n200 100\n\x01\x02");
  // PDFs without a page: an empty page tree, and one whose catalog names no page tree.
  monotest::write_file(dir.file("empty.pdf"), monotest::pdf_of_objects({"<< /Type /Catalog /Pages 2 0 R >>",
                                                                        "<< /Type /Pages /Kids [] /Count 0 >>"}));
  monotest::write_file(dir.file("lost.pdf"), monotest::pdf_of_objects({"<< /Type /Catalog >>"}));
  // The message names the file, the page and the cause in words; the libraries' function names
  // and detail lines come with --debug only.
  const struct {
    const char* args;
    int exit;
    const char* says;
  } cases[] = {
      {"pdf -o out.pdf page.pbm missing.pbm", 1, "missing.pbm"},
      {"pdf -o out.pdf page.pbm broken.pbm", 1, "broken.pbm"},
      {"pdf -o out.pdf page.pbm empty.pdf", 1, "empty.pdf: the file holds no page"},
      {"pdf -o out.pdf lost.pdf page.pbm", 1, "lost.pdf: the file holds no page"},
      {"pdf --recode -o out.pdf empty.pdf", 1, "empty.pdf"},
      {"pdf -o nowhere/out.pdf page.pbm", 1, "nowhere/out.pdf: No such file or directory"},
      {"pdf -o out.pdf --profile 4 page.pbm", 2, "profile"},
      {"pdf --pdfa --password x -o out.pdf page.pbm", 2, "cannot be encrypted"},
      {"pdf --version 1.3 --password x -o out.pdf page.pbm", 2, "--version 1.3"},
      {"pdf --version 1.3 --pdfa -o out.pdf page.pbm", 2, "--pdfa takes --version 1.4 or 1.7"},
      {"pdf --version 1.3 -o out.pdf page.pbm", 1, "page 1 (page.pbm): a layer of the page cannot be written: the "
                                                   "image's coding cannot be set up: JBIG2 images need PDF 1.4"},
      {"pdf --debug --version 1.3 -o out.pdf page.pbm", 1, "appendPage: PDF internal State: Layer IO error"},
      {"pdf page.pbm", 2, "needs -o OUTPUT"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const auto r = monodoc(c.args);
    EXPECT_EQ(r.exit_code, c.exit) << r.output;
    EXPECT_NE(r.output.find("monodoc: pdf: "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    if (std::string(c.args).find("--debug") == std::string::npos) {
      for (const char* internal : {"appendPage", "PDF internal State", "QEL", "__", "PDFLIB_"}) {
        EXPECT_EQ(r.output.find(internal), std::string::npos) << internal << " in\n" << r.output;
      }
    }
    EXPECT_FALSE(std::ifstream(dir.file("out.pdf")).good());
  }
}

}  // namespace
