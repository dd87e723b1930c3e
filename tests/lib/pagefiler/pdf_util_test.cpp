// The PDF back end's colour, compression and geometry utilities: their mapping tables, the stream
// filters and decode arrays they write (read back, and painted by poppler), the colour spaces
// they give images, and what they read from images and pages of documents made with qpdf.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "dio_fixture.h"
#include "dio_pdf.h"
#include "pdf_fixture.h"

namespace {

using monotest::qpdf_document;
using monotest::ReadDoc;
using monotest::run_tool;
using monotest::shell_quote;
using monotest::TempDir;

// Runs of blanks made one, and none kept beside a delimiter, so texts compare whatever the
// spacing qpdf chose.
std::string squeeze(const std::string& s) {
  auto delimiter = [](char c) { return c == '[' || c == ']' || c == '<' || c == '>' || c == '/'; };
  std::string out;
  bool blank = false;
  for (char c : s) {
    if (c == ' ' || c == '\n' || c == '\r') {
      blank = true;
      continue;
    }
    if (blank && !out.empty() && !delimiter(out.back()) && !delimiter(c)) out += ' ';
    blank = false;
    out += c;
  }
  return out;
}

TEST(PdfCodes, PhotometryFilterAndSpaceTables) {
  std::map<int32_t, int32_t> spaces = {{1, 0},   {21, 0},  {117, 0}, {118, 0}, {2, 1},   {18, 1},
                                       {6, 2},   {107, 2}, {17, 3},  {22, 3},  {108, 3}, {105, 4},
                                       {111, 4}, {4, 5},   {16, 5},  {20, 5},  {15, 12}};
  for (int32_t p = -2; p < 300; ++p) {
    const auto it = spaces.find(p);
    EXPECT_EQ(pkvuQELColor2kvPDF(p), it == spaces.end() ? -1 : it->second) << p;
    int32_t space = 99, use = 99;
    __pkvuQELPhotoToPdfAndKv(p, &space, &use);
    if (p == 15 || p == 24 || p == 111) {
      EXPECT_EQ(space, 1) << p;
      EXPECT_EQ(use, 111) << p;
    } else if (p == 22) {
      EXPECT_EQ(space, 0);
      EXPECT_EQ(use, 22);
    } else {
      EXPECT_EQ(space, pkvuQELColor2kvPDF(p)) << p;
      EXPECT_EQ(use, p);
    }
  }
  const std::map<int32_t, int32_t> comp = {{5, 2}, {3, 6}, {6, 7}, {7, 1}};
  for (int32_t f = -1; f < 20; ++f) {
    const auto it = comp.find(f);
    EXPECT_EQ(__pkvuPDFCompToQEL(f), it == comp.end() ? -1 : it->second) << f;
  }
}

TEST(PdfCodes, ColorInfoDefaultsAndHeaderValues) {
  KVngUserCMData* h = KVngUserCMNew();
  const double wp[3] = {0.95, 1.0, 1.09}, g[3] = {1.8, 2.0, 2.2};
  const double m[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  ASSERT_TRUE(KVHdrSetHeaderDoubles(h, PDF_HDR_SECTION, PDF_HDR_WHITEPOINT, wp, 3));
  ASSERT_TRUE(KVHdrSetHeaderDoubles(h, PDF_HDR_SECTION, PDF_HDR_GAMMA, g, 3));
  ASSERT_TRUE(KVHdrSetHeaderDoubles(h, PDF_HDR_SECTION, PDF_HDR_PRIMARIES, m, 9));
  int32_t hw, hg, hm;
  double w[3], gg[3], mm[9];
  ASSERT_EQ(__pkvuGetColorInfo(h, 105, &hw, w, &hg, gg, &hm, mm), 1);
  EXPECT_TRUE(hw && hg && hm);
  EXPECT_EQ(std::vector<double>(w, w + 3), std::vector<double>(wp, wp + 3));
  EXPECT_EQ(std::vector<double>(gg, gg + 3), std::vector<double>(g, g + 3));
  EXPECT_EQ(std::vector<double>(mm, mm + 9), std::vector<double>(m, m + 9));
  ASSERT_EQ(__pkvuGetColorInfo(h, 108, &hw, w, &hg, gg, &hm, mm), 1);
  EXPECT_TRUE(hw && hg && !hm);
  EXPECT_EQ(gg[0], 1.8);
  for (int32_t p : {22, 111}) {
    ASSERT_EQ(__pkvuGetColorInfo(nullptr, p, &hw, w, &hg, gg, &hm, mm), 1);
    EXPECT_EQ(std::vector<double>(w, w + 3), (std::vector<double>{0.9504, 1.0, 1.0889}));
    EXPECT_EQ(std::vector<double>(gg, gg + 3), (std::vector<double>{2.4, 2.4, 2.4}));
    EXPECT_EQ(std::vector<double>(mm, mm + 9),
              (std::vector<double>{0.41238, 0.21262, 0.01934, 0.35757, 0.71514, 0.11921, 0.18045, 0.07215, 0.95051}));
  }
  EXPECT_EQ(__pkvuGetColorInfo(h, 18, &hw, w, &hg, gg, &hm, mm), 0);
  EXPECT_FALSE(hw || hg || hm);

  PdfColorInfo* info = __pkvuSearchForColorInfo(h);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->gammaCount, 3);
  EXPECT_EQ(info->matrix[8], 9);
  __pkvuFreeColorInfo(info);
  KVngUserCMData* empty = KVngUserCMNew();
  EXPECT_EQ(__pkvuSearchForColorInfo(empty), nullptr);
  KVngFreeUserCMData(empty);
  KVngFreeUserCMData(h);
}

class PdfUtil : public monotest::DocTest {
 protected:
  void SetUp() override {
    DocTest::SetUp();
    monotest::require_tool("qpdf", "qpdf");
    monotest::require_tool("pdftoppm", "poppler-utils");
  }
  TempDir dir;
};

// A 1-bit page, 1 = black: a frame and a block.
std::vector<uint8_t> marks(int w, int h, bool oneIsBlack) {
  const int rb = (w + 7) / 8;
  std::vector<uint8_t> s(static_cast<size_t>(rb) * h, oneIsBlack ? 0 : 0xff);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      if (x == 0 || y == 0 || x == w - 1 || y == h - 1 || (x > 4 && x < 12 && y > 3 && y < 9)) {
        s[static_cast<size_t>(y) * rb + x / 8] ^= static_cast<uint8_t>(0x80 >> (x % 8));
      }
    }
  }
  return s;
}

struct FilterCase {
  const char* name;
  int32_t compression;
  int32_t photometric;
  PdfFilterParams params;
  int bits;
  const char* filter;       // /Filter as written ("" for none)
  const char* parms;        // a piece of /DecodeParms that must be there ("" for none)
  const char* decode;       // /Decode as written ("" for none)
};

TEST_F(PdfUtil, StreamFiltersAndDecodeArrays) {
  const int w = 16, h = 12;
  PdfFilterParams base{};
  base.columns = w;
  auto with = [&](int32_t photometric, int32_t colorKind = 0, int32_t quality = 0, int32_t predictor = 0) {
    PdfFilterParams p = base;
    p.photometric = photometric;
    p.colorKind = colorKind;
    p.jpegQuality = quality;
    p.predictor = predictor;
    p.bitsPerComponent = 8;
    p.colors = 1;
    return p;
  };
  const std::vector<FilterCase> cases = {
      {"raw 0x15", 0, 0x15, with(0x15), 1, "", "", "[1 0]"},
      {"raw gray", 0, 1, with(1), 1, "", "", ""},
      {"dct, colour kind 5", 1, 18, with(18, 5, 60), 8, "/DCTDecode", "/ColorTransform 0", ""},
      {"dct with quality", 1, 18, with(18, 0, 60), 8, "/DCTDecode", "", ""},
      {"dct then deflate", 50, 1, with(1), 8, "[/FlateDecode/DCTDecode]", "", ""},
      {"g3, photometric 1", 2, 1, with(1), 1, "/CCITTFaxDecode", "/BlackIs1 true", ""},
      {"g4, 0x15", 3, 0x15, with(0x15), 1, "/CCITTFaxDecode", "/K -1", ""},
      {"g3 2-d, 0x76", 4, 0x76, with(0x76), 1, "/CCITTFaxDecode", "/K 1", ""},
      {"deflate, 0x76", 6, 0x76, with(0x76), 1, "/FlateDecode", "", "[1 0]"},
      {"lzw with predictor", 10, 1, with(1, 0, 0, 2), 8, "/LZWDecode", "/Predictor 2", ""},
      {"ascii, 0x15", 11, 0x15, with(0x15), 1, "/ASCII85Decode", "", "[1 0]"},
  };
  const std::string path = dir.file("filters.pdf");
  int32_t error = 0;
  PDFDoc* doc = PDFOpenFilenameEx(path.c_str(), 'w', nullptr, &error);
  ASSERT_NE(doc, nullptr);
  for (size_t i = 0; i < cases.size(); ++i) {
    const FilterCase& c = cases[i];
    SCOPED_TRACE(c.name);
    PDFObj* page = PDFAddPage(doc);
    ASSERT_EQ(PDFPageAddMediaBox(doc, page, 0, 0, w, h), 1);
    PDFObj* img = PDFImageCreate(doc, page, "Im0", w, h, c.bits);
    ASSERT_EQ(PDFSetImageColorSpace(doc, img, c.params.colorKind == 0 && c.bits == 8 && c.photometric == 18 ? 1 : 0),
              1);
    if (c.photometric == 18) {
      ASSERT_EQ(PDFSetImageColorSpace(doc, img, PDF_CS_DEVICE_RGB), 1);
    }
    PdfFilterParams p = c.params;
    ASSERT_EQ(__pkvuSetStreamFilter(state, doc, c.compression, &p, img), 0) << status_message();
    std::vector<uint8_t> data;
    if (c.bits == 1) {
      data = marks(w, h, c.photometric == 0x15 || c.photometric == 0x76);
    } else {
      data.assign(static_cast<size_t>(w) * h * (c.photometric == 18 ? 3 : 1), 0x80);
    }
    ASSERT_EQ(PDFAppendStream(doc, img, data.data(), data.size()), 1) << PDFErrorText(doc);
    ASSERT_EQ(PDFPageAddContents(doc, page, img, "cm", double(w), 0.0, 0.0, double(h), 0.0, 0.0, nullptr), 1);
    ASSERT_EQ(PDFPageClose(doc, page), 1);
  }
  ASSERT_EQ(PDFCloseFile(doc, 1), 1);
  EXPECT_EQ(run_tool("qpdf --check " + shell_quote(path)).exit_code, 0);

  ReadDoc rd(path);
  ASSERT_NE(rd.get(), nullptr);
  for (size_t i = 0; i < cases.size(); ++i) {
    const FilterCase& c = cases[i];
    SCOPED_TRACE(c.name);
    PDFObj* res = PDFGetDictEntry(rd.get(), rd.page(static_cast<int32_t>(i)), "Resources");
    PDFObj* img = PDFGetDictEntry(rd.get(), PDFGetDictEntry(rd.get(), res, "XObject"), "Im0");
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(squeeze(rd.entry(img, "Filter")), squeeze(c.filter));
    EXPECT_NE(squeeze(rd.entry(img, "DecodeParms")).find(c.parms), std::string::npos) << rd.entry(img, "DecodeParms");
    EXPECT_EQ(squeeze(rd.entry(img, "DecodeParms")).find("/Quality"), std::string::npos);
    EXPECT_EQ(squeeze(rd.entry(img, "Decode")), squeeze(c.decode));
    if (c.compression == 3) {
      EXPECT_EQ(squeeze(rd.entry(img, "DecodeParms")).find("/BlackIs1 true"), std::string::npos);
    }
    if (c.bits != 1) continue;
    // Every bilevel case paints the same black marks on white, whichever polarity it carries.
    const auto want = marks(w, h, true);
    const monotest::RefBitmap painted = monotest::painted_marks(dir, path, static_cast<int>(i) + 1, w, h);
    EXPECT_EQ(painted.bits, want);
  }
}

TEST_F(PdfUtil, StreamFilterCodesWithoutFilters) {
  int32_t error = 0;
  PDFDoc* doc = PDFOpenFilenameEx(dir.file("x.pdf").c_str(), 'w', nullptr, &error);
  PDFObj* img = PDFImageCreate(doc, nullptr, nullptr, 4, 4, 8);
  PdfFilterParams p{};
  EXPECT_EQ(__pkvuSetStreamFilter(state, doc, 15, &p, img), 0);
  EXPECT_EQ(p.predictor, 15);
  EXPECT_EQ(PDFGetStreamFilterCount(doc, img), 0);
  messages.clear();
  EXPECT_EQ(__pkvuSetStreamFilter(state, doc, 9, &p, img), QEL_STATUS_INVALID);
  EXPECT_EQ(status_message(), "__pkvuSetStreamFilter: Unknown or unsupported compression!\n");
  EXPECT_NE(messages.find("Unknown compression\n"), std::string::npos);
  PDFCloseFile(doc, 1);
}

TEST_F(PdfUtil, ColorSpacesOfWrittenImages) {
  struct Space {
    int32_t photometric;
    bool profile;
    int32_t parts;
    int32_t result;
    const char* written;  // /ColorSpace, blanks squeezed, up to its first dictionary or reference
  };
  size_t iccLength = 0;
  const unsigned char* icc = ICC_sRGB(&iccLength);
  ASSERT_NE(icc, nullptr);
  const std::vector<Space> spaces = {
      {111, false, 3, 1, "/DeviceRGB"},
      {22, false, 1, 0, "/DeviceGray"},
      {108, false, 1, 3, "[/CalGray<</Gamma 2.4/WhitePoint[0.9504 1 1.0889]"},
      {105, false, 3, 4, "[/CalRGB<</Gamma[2.4 2.4 2.4]/Matrix[0.41238 0.21262 0.01934 0.35757 0.71514 0.11921 0.18045 0.07215 0.95051]"},
      {4, false, 3, 5, "[/Lab<</Range[-128 127 -128 127]/WhitePoint[0.9642 1 0.8249]"},
      {16, false, 3, 5, "[/Lab<</Range[-85.333 84.667 -75.294 124.706]/WhitePoint[0.9642 1 0.8249]"},
      {18, true, 3, 1, "[/ICCBased"},
      {107, true, 4, 2, "[/ICCBased"},
      {1, true, 1, 0, "/DeviceGray"},  // one part: the profile is dropped
      {3, false, 3, -1, ""},
  };
  const std::string path = dir.file("spaces.pdf");
  int32_t error = 0;
  PDFDoc* doc = PDFOpenFilenameEx(path.c_str(), 'w', nullptr, &error);
  PDFObj* page = PDFAddPage(doc);
  ASSERT_EQ(PDFPageAddMediaBox(doc, page, 0, 0, 10, 10), 1);
  for (size_t i = 0; i < spaces.size(); ++i) {
    const Space& s = spaces[i];
    SCOPED_TRACE(s.photometric);
    KVngUserCMData* h = KVngUserCMNew();
    if (s.profile) {
      ASSERT_TRUE(KVHdrSetHeaderBytes(h, PDF_HDR_SECTION, PDF_HDR_ICC, icc, iccLength));
    }
    PDFObj* img = PDFImageCreate(doc, page, ("Im" + std::to_string(i)).c_str(), 2, 2, 8);
    int32_t parts = s.parts;
    EXPECT_EQ(__pdiouInitPDFColorspace(doc, img, page, s.photometric, &parts, h), s.result);
    KVngFreeUserCMData(h);
    if (s.result < 0) continue;
    const std::vector<uint8_t> px(static_cast<size_t>(4) * s.parts, 0x40);
    ASSERT_EQ(PDFAppendStream(doc, img, px.data(), px.size()), 1);
    ASSERT_EQ(PDFPageAddContents(doc, page, img, "cm", 1.0, 0.0, 0.0, 1.0, double(i), 0.0, nullptr), 1);
  }
  KVngUserCMData* cal = KVngUserCMNew();
  const double wp[3] = {0.9642, 1.0, 0.8249};
  KVHdrSetHeaderDoubles(cal, PDF_HDR_SECTION, PDF_HDR_WHITEPOINT, wp, 3);
  EXPECT_EQ(__pkvuRegisterColorSpace(doc, page, "CS0", cal, 105), 1) << PDFErrorText(doc);
  EXPECT_EQ(__pkvuRegisterColorSpace(doc, page, "CS1", cal, 108), 1) << PDFErrorText(doc);
  KVngFreeUserCMData(cal);
  ASSERT_EQ(PDFPageClose(doc, page), 1);
  ASSERT_EQ(PDFCloseFile(doc, 1), 1);
  EXPECT_EQ(run_tool("qpdf --check " + shell_quote(path)).exit_code, 0);

  ReadDoc rd(path);
  for (size_t i = 0; i < spaces.size(); ++i) {
    if (spaces[i].result < 0) continue;
    SCOPED_TRACE(spaces[i].photometric);
    const std::string cs = squeeze(rd.entry(rd.xobject(("Im" + std::to_string(i)).c_str()), "ColorSpace"));
    EXPECT_EQ(cs.substr(0, std::strlen(spaces[i].written)), spaces[i].written) << cs;
  }
  PDFObj* res = PDFGetDictEntry(rd.get(), rd.page(0), "Resources");
  const std::string named = squeeze(rd.entry(res, "ColorSpace"));
  EXPECT_NE(named.find("/CS0[/CalRGB<<"), std::string::npos) << named;
  EXPECT_NE(named.find("/CS1[/CalGray<<"), std::string::npos) << named;
  EXPECT_NE(named.find("/WhitePoint[0.9642 1 0.8249]"), std::string::npos) << named;
  // The profiles are the sRGB profile given, with their component counts and alternates.
  const std::string rgbSpace = rd.entry(rd.xobject("Im6"), "ColorSpace");
  PDFObj* profile = PDFGetArrayObject(rd.get(), PDFGetDictEntry(rd.get(), rd.xobject("Im6"), "ColorSpace"), 1);
  ASSERT_NE(profile, nullptr) << rgbSpace;
  EXPECT_EQ(rd.entry(profile, "N"), "3");
  EXPECT_EQ(rd.entry(profile, "Alternate"), "/DeviceRGB");
  size_t n = 0;
  const unsigned char* bytes = KVngSBData(PDFGetStreamData(rd.get(), profile), &n);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), n), std::string(reinterpret_cast<const char*>(icc), iccLength));
  PDFObj* cmyk = PDFGetArrayObject(rd.get(), PDFGetDictEntry(rd.get(), rd.xobject("Im7"), "ColorSpace"), 1);
  EXPECT_EQ(rd.entry(cmyk, "N"), "4");
  EXPECT_EQ(rd.entry(cmyk, "Alternate"), "/DeviceCMYK");
}

TEST_F(PdfUtil, PageBoxes) {
  struct Box {
    const char* entries;
    int32_t capacity;
    int result;
    std::vector<double> box;
  };
  const std::vector<Box> boxes = {
      {"/MediaBox[0 0 612 792]", 4, 1, {0, 0, 612, 792}},
      {"/MediaBox[0 0 612 792]/CropBox[10 20.5 600 780]", 4, 1, {10, 20.5, 600, 780}},
      {"/MediaBox[0 0 612 792]/CropBox[10 20 600 780]", 3, 0, {}},
      {"/MediaBox[0 0 612 792 5]", 4, 0, {}},
      {"/MediaBox[0 0 /A (x)]", 4, 1, {0, 0, -1, -1}},
      {"", 4, 0, {}},
  };
  for (size_t i = 0; i < boxes.size(); ++i) {
    const Box& b = boxes[i];
    SCOPED_TRACE(b.entries);
    ReadDoc rd(qpdf_document(dir, "box" + std::to_string(i) + ".pdf", b.entries, ""));
    ASSERT_NE(rd.get(), nullptr);
    double got[4] = {-9, -9, -9, -9};
    EXPECT_EQ(__pkvuFetchMediaSize(rd.get(), rd.page(0), b.capacity, got), b.result);
    if (b.result) {
      EXPECT_EQ(std::vector<double>(got, got + 4), b.box);
    }
  }
  // A box inherited from the page tree counts as the page's.
  const std::string path = dir.file("inherit.raw");
  monotest::write_file(path,
                       "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
                       "2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1/MediaBox[0 0 200 100]>>endobj\n"
                       "3 0 obj<</Type/Page/Parent 2 0 R>>endobj\ntrailer<</Root 1 0 R>>\n%%EOF\n");
  ReadDoc rd(path);
  ASSERT_NE(rd.get(), nullptr);
  double got[4];
  ASSERT_EQ(__pkvuFetchMediaSize(rd.get(), rd.page(0), 4, got), 1);
  EXPECT_EQ(got[2], 200);
}

TEST_F(PdfUtil, ReaderCompressionOfImageStreams) {
  struct Comp {
    const char* dict;  // image dictionary entries beyond the size and depth
    int32_t code;
    std::vector<std::pair<int32_t, const char*>> chain;  // outermost first
    int32_t blackIs1;
  };
  const std::vector<Comp> comps = {
      {"/ColorSpace/DeviceGray", 0, {{0, nullptr}}, 0},
      {"/ColorSpace/DeviceGray/Filter/FlateDecode", 6, {{6, nullptr}}, 0},
      {"/ColorSpace/DeviceRGB/Filter[/FlateDecode/DCTDecode]", 50, {{6, nullptr}, {1, "ycc_transform"}}, 0},
      {"/ColorSpace/DeviceRGB/Filter/DCTDecode/DecodeParms<</ColorTransform 0>>", 1, {{1, nullptr}}, 0},
      {"/ColorSpace/DeviceCMYK/Filter/DCTDecode", 1, {{1, nullptr}}, 0},
      {"/ColorSpace/DeviceGray/Filter/LZWDecode", 10, {{10, "earlychange"}}, 0},
      {"/ColorSpace/DeviceGray/Filter[/ASCII85Decode/CCITTFaxDecode]/DecodeParms[null<</K -1/BlackIs1 true>>]", 52,
       {{11, nullptr}, {3, nullptr}}, 1},
      {"/ColorSpace/DeviceGray/Filter/CCITTFaxDecode/DecodeParms<</K 0/EndOfLine true>>", 2, {{2, "eol"}}, 0},
      {"/ColorSpace/DeviceGray/Filter/CCITTFaxDecode/DecodeParms<</K 4>>", 4, {{4, nullptr}}, 0},
      {"/ColorSpace/DeviceGray/Filter/JBIG2Decode", 7, {}, 0},
  };
  std::string xobjects;
  std::vector<std::string> extra;
  for (size_t i = 0; i < comps.size(); ++i) {
    xobjects += "/Im" + std::to_string(i) + " " + std::to_string(i + 5) + " 0 R";
    extra.push_back("<</Type/XObject/Subtype/Image/Width 8/Height 8/BitsPerComponent 8 " + std::string(comps[i].dict) +
                    ">>stream\nxx\nendstream");
  }
  ReadDoc rd(qpdf_document(dir, "comp.pdf", "/MediaBox[0 0 8 8]/Resources<</XObject<<" + xobjects + ">>>>", "", extra));
  ASSERT_NE(rd.get(), nullptr);
  for (size_t i = 0; i < comps.size(); ++i) {
    const Comp& c = comps[i];
    SCOPED_TRACE(c.dict);
    PDFImage* image = PDFStreamToImage(rd.get(), rd.xobject(("Im" + std::to_string(i)).c_str()));
    ASSERT_NE(image, nullptr) << PDFErrorText(rd.get());
    elf_object* hdr = new_QELHDR(state, nullptr, nullptr);
    int32_t blackIs1 = -1;
    ASSERT_EQ(__pdiouInitHeaderCompInfo(rd.get(), image, hdr, &blackIs1), 1);
    EXPECT_EQ(qelHdr(hdr)->compression, c.code);
    EXPECT_EQ(blackIs1, c.blackIs1);
    KVngCompressionData* chain = KVngLoadCompressionData(KVngHdrUserData(hdr, 0));
    if (c.chain.empty()) {
      // JBIG2 alone leaves no chain: the writer embeds such data as it is.
      EXPECT_EQ(chain, nullptr);
      KVngFreeCompressionData(chain);
      elfDiscard(hdr);
      continue;
    }
    ASSERT_NE(chain, nullptr);
    ASSERT_EQ(KVngCompressionDataCount(chain), static_cast<int32_t>(c.chain.size()));
    for (size_t k = 0; k < c.chain.size(); ++k) {
      int32_t type = -1;
      const char* params = nullptr;
      ASSERT_EQ(KVngGetCompressionData(chain, &type, &params, static_cast<int32_t>(k)), 1);
      EXPECT_EQ(type, c.chain[k].first);
      EXPECT_STREQ(params, c.chain[k].second);
    }
    KVngFreeCompressionData(chain);
    elfDiscard(hdr);
  }
}

TEST_F(PdfUtil, ReaderColourOfImages) {
  struct Colour {
    const char* space;
    int32_t photometric;  // -1: refused
  };
  size_t iccLength = 0;
  const unsigned char* icc = ICC_sRGB(&iccLength);
  const std::string profile(reinterpret_cast<const char*>(icc), iccLength);
  const std::vector<Colour> colours = {
      {"/DeviceGray", 1},
      {"/DeviceRGB", 18},
      {"/DeviceCMYK", 107},
      {"[/CalGray<</WhitePoint[0.9505 1 1.089]/Gamma 1.8>>]", 108},
      {"[/CalRGB<</WhitePoint[0.9505 1 1.089]/Gamma[1.8 1.8 1.8]/Matrix[1 0 0 0 1 0 0 0 1]>>]", 105},
      {"[/Lab<</WhitePoint[0.9642 1 0.8249]>>]", 4},
      {"[/ICCBased 20 0 R]", 18},  // its /Alternate is DeviceRGB
      {"[/ICCBased 21 0 R]", 105},
      {"[/Indexed/DeviceRGB 1 <000000FFFFFF>]", 18},
      {"[/Indexed[/CalRGB<</WhitePoint[1 1 1]>>] 1 <000000FFFFFF>]", 2},
      {"[/ICCBased 22 0 R]", -1},  // a profile stream without data
  };
  std::string xobjects;
  std::vector<std::string> extra;
  for (size_t i = 0; i < colours.size(); ++i) {
    xobjects += "/Im" + std::to_string(i) + " " + std::to_string(i + 5) + " 0 R";
    extra.push_back("<</Type/XObject/Subtype/Image/Width 1/Height 1/BitsPerComponent 8/ColorSpace " +
                    std::string(colours[i].space) + ">>stream\nxxxx\nendstream");
  }
  while (extra.size() < 15) extra.push_back("null");
  extra.push_back("<</N 3/Alternate/DeviceRGB>>stream\n" + profile + "\nendstream");
  extra.push_back("<</N 3>>stream\n" + profile + "\nendstream");
  extra.push_back("<</N 3/Filter/FlateDecode>>stream\nnot flate data\nendstream");
  ReadDoc rd(
      qpdf_document(dir, "colour.pdf", "/MediaBox[0 0 8 8]/Resources<</XObject<<" + xobjects + ">>>>", "", extra));
  ASSERT_NE(rd.get(), nullptr);
  for (size_t i = 0; i < colours.size(); ++i) {
    SCOPED_TRACE(colours[i].space);
    PDFImage* image = PDFStreamToImage(rd.get(), rd.xobject(("Im" + std::to_string(i)).c_str()));
    ASSERT_NE(image, nullptr) << PDFErrorText(rd.get());
    elf_object* hdr = new_QELHDR(state, nullptr, nullptr);
    const int ok = __pdiouInitHeaderColorInfo(rd.get(), image, hdr);
    EXPECT_EQ(ok, colours[i].photometric >= 0 ? 1 : 0);
    if (ok) {
      EXPECT_EQ(qelHdr(hdr)->photometric, colours[i].photometric);
    }
    KVngUserCMData* user = KVngHdrUserData(hdr, 0);
    if (colours[i].photometric == 108) {
      double g[3];
      EXPECT_EQ(KVHdrGetHeaderDoubles(user, PDF_HDR_SECTION, PDF_HDR_GAMMA, g, 3), 1);
      EXPECT_EQ(g[0], 1.8);
    }
    if (colours[i].photometric == 105 && std::strstr(colours[i].space, "CalRGB")) {
      double m[9];
      EXPECT_EQ(KVHdrGetHeaderDoubles(user, PDF_HDR_SECTION, PDF_HDR_PRIMARIES, m, 9), 9);
    }
    if (std::strstr(colours[i].space, "ICCBased") && ok) {
      size_t n = 0;
      const void* bytes = KVHdrGetHeaderBytes(user, PDF_HDR_SECTION, PDF_HDR_ICC, &n);
      ASSERT_NE(bytes, nullptr);
      EXPECT_EQ(std::string(static_cast<const char*>(bytes), n), profile);
    }
    elfDiscard(hdr);
  }
}

// Fill colours as the reader's colour operators see them, from a real content stream.
TEST_F(PdfUtil, FillColourValues) {
  ReadDoc rd(qpdf_document(dir, "fill.pdf", "/MediaBox[0 0 8 8]",
                           "0.5 g 0 0 1 1 re f 1 0 0.5 rg 0 0 1 1 re f 0 0.25 1 0.75 k 0 0 1 1 re f"));
  ASSERT_NE(rd.get(), nullptr);
  struct Seen {
    std::vector<std::vector<uint32_t>> ints;
    std::vector<std::vector<double>> doubles;
  } seen;
  auto on_fill = [](PDFDoc*, void* data, PDFParser* parser) -> int {
    auto* s = static_cast<Seen*>(data);
    int32_t n = 0;
    uint32_t* v = __nonStrokingColorValues(parser, &n);
    s->ints.emplace_back(v, v + n);
    kvng_internal_free(v);
    double* d = __getNonStrokingColorInfo(parser, &n);
    s->doubles.emplace_back(d, d + n);
    kvng_internal_free(d);
    return 1;
  };
  ASSERT_EQ(PDFRegisterOperatorCallback(rd.get(), PDF_OP_f, on_fill, &seen), 1);
  ASSERT_EQ(PDFExtractPageItems(rd.get(), 0, rd.page(0)), 1) << PDFErrorText(rd.get());
  ASSERT_EQ(seen.ints.size(), 3u);
  EXPECT_EQ(seen.ints[0], (std::vector<uint32_t>{127}));
  EXPECT_EQ(seen.ints[1], (std::vector<uint32_t>{255, 0, 127}));
  EXPECT_EQ(seen.ints[2], (std::vector<uint32_t>{0, 63, 255, 191}));
  EXPECT_EQ(seen.doubles[1], (std::vector<double>{1, 0, 0.5}));
}

TEST_F(PdfUtil, CompressionChoiceAndPlacement) {
  struct Choice {
    int32_t compression;
    int32_t bits;
    bool data;
    int32_t code;
  };
  const std::vector<Choice> choices = {
      {0, 8, false, 6}, {0, 1, false, 3}, {0, 1, true, 3}, {1, 8, false, 1}, {1, 8, true, -1},
  };
  for (const Choice& c : choices) {
    elf_object* hdr = new_QELHDR(state, nullptr, nullptr);
    elf_QELHDR* h = qelHdr(hdr);
    h->compression = c.compression;
    h->bitsPerSample = static_cast<int32_t*>(elfCalloc(1, sizeof(int32_t)));
    h->bitsPerSample[0] = c.bits;
    h->bitsPerSampleCount = 1;
    if (c.data) {
      KVngCompressionData* d = KVngCreateCompressionData();
      KVngPushCompressionData(d, 1, "ycc_transform");
      KVngSaveCompressionData(KVngHdrUserData(hdr, 1), d);
      KVngFreeCompressionData(d);
    }
    PdfCompression out{};
    EXPECT_EQ(__pdiouGetCompression(hdr, 6, 3, &out), 0);
    EXPECT_EQ(out.code, c.code);
    EXPECT_EQ(out.data != nullptr, c.code == -1);
    KVngFreeCompressionData(out.data);
    elfDiscard(hdr);
  }

  elf_object* layer = new_QELLAYER(state, nullptr, nullptr);
  elf_QELLAYER* l = qelLayer(layer);
  l->x = 10;
  l->y = 20;
  l->width = 100;
  l->height = 50;
  double m[6];
  ASSERT_EQ(__pdiouSetTransform(layer, m), 0);
  EXPECT_EQ(std::vector<double>(m, m + 6), (std::vector<double>{100, 0, 0, 50, 10, 20}));
  // The layer's own transform applies after the placement.
  QELTransform2D t{{1, 0, 0, 1, 5, 7}};
  ASSERT_EQ(__QELLAYERSetTransformMatrix(layer, &t), 0);
  ASSERT_EQ(__pdiouSetTransform(layer, m), 0);
  EXPECT_EQ(std::vector<double>(m, m + 6), (std::vector<double>{100, 0, 0, 50, 15, 27}));
  elfDiscard(layer);

  KVHdr* header = nullptr;
  const int32_t bits[3] = {8, 8, 8};
  ASSERT_EQ(__makeKVngHeader(&header, 10, 4, 3, bits, 30, 0), 1);
  EXPECT_STREQ(header->manager->name, "internal");
  EXPECT_EQ(header->layout, KVHDR_LAYOUT_INTERLEAVED);
  EXPECT_EQ(header->lineLength[0], 30);
  EXPECT_EQ(header->lineLength[1], 0);
  KVHdrFree(header);
  ASSERT_EQ(__makeKVngHeader(&header, 10, 4, 3, bits, 10, 1), 1);
  EXPECT_EQ(header->lineLength[2], 10);
  KVHdrFree(header);
  EXPECT_EQ(__makeKVngHeader(&header, 10, 4, 0, bits, 10, 1), 0);
}

TEST_F(PdfUtil, JpegKeysAndYccTest) {
  ReadDoc rd(qpdf_document(
      dir, "jpeg.pdf", "/MediaBox[0 0 8 8]/Resources<</XObject<</A 5 0 R/B 6 0 R/C 7 0 R>>>>", "",
      {"<</Type/XObject/Subtype/Image/Width 1/Height 1/BitsPerComponent 8/ColorSpace/DeviceRGB/Filter/DCTDecode"
       "/DecodeParms<</Quality 50/Visual 1/Smoothing 0/ColorTransform 1>>>>stream\nxx\nendstream",
       "<</Type/XObject/Subtype/Image/Width 1/Height 1/BitsPerComponent 8/ColorSpace/DeviceCMYK"
       "/Filter[/FlateDecode/DCTDecode]/DecodeParms[<<>> <</Quality 50>>]>>stream\nxx\nendstream",
       "<</Type/XObject/Subtype/Image/Width 1/Height 1/BitsPerComponent 8/ColorSpace/DeviceGray/Filter/DCTDecode>>"
       "stream\nxx\nendstream"}));
  ASSERT_NE(rd.get(), nullptr);
  PDFObj* a = rd.xobject("A");
  PDFObj* b = rd.xobject("B");
  __pkvuRmJpegCompressionParams(a, rd.get());
  __pkvuRmJpegCompressionParams(b, rd.get());
  EXPECT_EQ(squeeze(rd.entry(a, "DecodeParms")), "<</ColorTransform 1>>");
  EXPECT_EQ(squeeze(rd.entry(b, "DecodeParms")), "[<<>><<>>]");

  PDFImage* rgb = PDFStreamToImage(rd.get(), a);
  PDFImage* cmyk = PDFStreamToImage(rd.get(), b);
  PDFImage* gray = PDFStreamToImage(rd.get(), rd.xobject("C"));
  PDFObj* ct1 = PDFGetDictEntry(rd.get(), a, "DecodeParms");
  EXPECT_EQ(__pkvuFilterHasYCCTrans(rd.get(), rgb, ct1), 1);
  EXPECT_EQ(__pkvuFilterHasYCCTrans(rd.get(), cmyk, ct1), 1);
  EXPECT_EQ(__pkvuFilterHasYCCTrans(rd.get(), gray, ct1), 0);
  EXPECT_EQ(__pkvuFilterHasYCCTrans(rd.get(), rgb, nullptr), 1);
  EXPECT_EQ(__pkvuFilterHasYCCTrans(rd.get(), cmyk, nullptr), 0);
}

}  // namespace
