// monodoc info on XPS packages: documents, pages and the layers each page renders to.

#include <algorithm>
#include <cstdio>

#include "xps_image.h"
#include "xps_test_support.h"

TEST_F(XpsTest, MonodocInfoListsDocumentsPagesAndLayers) {
  xpstest::PackageSpec spec;
  spec.page_bodies = {"<Path Data=\"M 10,20 L 110,220 Z\" Fill=\"#FF0000\"/>",
                      "<Path Data=\"M 0,0 L 96,96\"><Path.Fill><ImageBrush ImageSource=\"/i.png\" Viewbox=\"0,0,1,1\" "
                      "ViewboxUnits=\"Absolute\" Viewport=\"0,0,96,96\" ViewportUnits=\"Absolute\"/></Path.Fill></Path>"};
  spec.extra = {{"i.png", xpstest::png_rgb(200, 200, 1, 2, 3)}};
  spec.ns = xpstest::Namespace::OpenXps;
  const std::string good = package(spec);
  auto run = monotest::run_tool(std::string(MONODOC_BIN) + " info " + monotest::shell_quote(good) + " 2>&1");
  EXPECT_EQ(run.exit_code, 0) << run.output;
  for (const char* line : {": XPS package, 1 document\n", "  document 1 (/Documents/1/FixedDocument.fdoc): 2 pages\n",
                           "    page 1 (/Documents/1/Pages/1.fpage): 816 x 1056 units, image 816 x 1056 at 96 x 96 "
                           "ppi, 1 layer\n",
                           "      layer 1: colour rectangle at 10,20 size 100 x 200, colour #FF0000\n",
                           "image 1700 x 2200 at 200 x 200 ppi, 1 layer\n",
                           "      layer 1: image at 0,0 size 200 x 200, 200 x 200 pixels of 3 x 8 bits, 200 x 200 ppi\n"}) {
    EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
  }

  spec.page_bodies[1] = "<Path Data=\"M 0,0 L 1\" Fill=\"#FF0000\"/>";
  const std::string bad = package(xpstest::package_parts(spec), "bad.xps");
  run = monotest::run_tool(std::string(MONODOC_BIN) + " info " + monotest::shell_quote(bad) + " 2>&1");
  EXPECT_EQ(run.exit_code, 1) << run.output;
  EXPECT_NE(run.output.find("page 2 of document 1 (/Documents/1/Pages/2.fpage) cannot be rendered"), std::string::npos)
      << run.output;

  // The summary is the package and its documents: no page is read.
  run = monotest::run_tool(std::string(MONODOC_BIN) + " info -s " + monotest::shell_quote(bad) + " 2>&1");
  EXPECT_EQ(run.exit_code, 0) << run.output;
  EXPECT_NE(run.output.find("  document 1 (/Documents/1/FixedDocument.fdoc): 2 pages\n"), std::string::npos)
      << run.output;
  EXPECT_EQ(run.output.find("page 1"), std::string::npos) << run.output;
}

// A package that cannot be opened (cut short, so that it is no zip archive, or an archive
// without package relationships) goes to the XPS reader by its name, which says what is wrong.
TEST_F(XpsTest, MonodocInfoSaysWhyAPackageCannotBeOpened) {
  const std::string good = monotest::read_file(package(xpstest::PackageSpec{}));
  const struct {
    const char* name;
    std::string bytes;
    const char* says;
  } cases[] = {
      {"cut.xps", good.substr(0, good.size() - 30), "Cannot read central directory"},
      {"EMPTY.OXPS", "", "Missing part '/_rels/.rels'"},
  };
  for (const auto& c : cases) {
    const std::string path = dir.file(c.name);
    monotest::write_file(path, c.bytes);
    const auto run = monotest::run_tool(std::string(MONODOC_BIN) + " info " + monotest::shell_quote(path) + " 2>&1");
    EXPECT_EQ(run.exit_code, 1) << run.output;
    EXPECT_NE(run.output.find(c.says), std::string::npos) << c.name << "\n" << run.output;
    EXPECT_NE(run.output.find(std::string(c.name) + ": cannot be opened as an XPS package"), std::string::npos)
        << run.output;
  }
}

TEST_F(XpsTest, MonodocInfoReadsOnPastAPageThatFails) {
  xpstest::PackageSpec spec;
  spec.page_bodies = {"<Path Data=\"M 0,0 L 1\" Fill=\"#FF0000\"/>", "<Path Data=\"M 1,2 L 3,4\" Fill=\"#00FF00\"/>",
                      "<Path Data=\"M 5,6 L 7,8\" Fill=\"#0000FF\"/>"};
  std::vector<xpstest::Part> parts = xpstest::package_parts(spec);
  parts.erase(std::remove_if(parts.begin(), parts.end(),
                             [](const xpstest::Part& p) { return p.name == "Documents/1/Pages/3.fpage"; }),
              parts.end());
  const std::string path = package(parts);
  const auto run = monotest::run_tool(std::string(MONODOC_BIN) + " info " + monotest::shell_quote(path) + " 2>&1");
  EXPECT_EQ(run.exit_code, 1) << run.output;
  for (const char* line : {"page 1 of document 1 (/Documents/1/Pages/1.fpage) cannot be rendered (status -1)",
                           "    page 2 (/Documents/1/Pages/2.fpage): 816 x 1056 units",
                           "      layer 1: colour rectangle at 1,2 size 2 x 2, colour #00FF00",
                           "page 3 of document 1 cannot be read (status -1)", "2 of 3 pages cannot be rendered"}) {
    EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
  }
}

namespace {

// A two-page PDF written by hand: an RGB image of known pixels, and a page of filled
// rectangles, a curve and a circle.
std::string pdf_with_image(const std::string& rgb, int width, int height) {
  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R 6 0 R] /Count 2 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(width) + " " + std::to_string(height) +
          "] /Resources << /XObject << /Im0 4 0 R >> >> /Contents 5 0 R >>",
      "<< /Type /XObject /Subtype /Image /Width " + std::to_string(width) + " /Height " + std::to_string(height) +
          " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Length " + std::to_string(rgb.size()) + " >>\nstream\n" + rgb +
          "\nendstream",
  };
  const std::string draw_image = "q " + std::to_string(width) + " 0 0 " + std::to_string(height) + " 0 0 cm /Im0 Do Q";
  objects.push_back("<< /Length " + std::to_string(draw_image.size()) + " >>\nstream\n" + draw_image + "\nendstream");
  objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Contents 7 0 R >>");
  const std::string shapes =
      "1 0 0 rg 10 10 50 30 re f 0 0 1 rg 100 50 m 150 150 200 0 250 100 c f "
      "0 1 0 rg 60 150 m 60 172 42 190 20 190 c 0 190 0 172 0 150 c 0 128 20 110 40 110 c 60 110 60 128 60 150 c f";
  objects.push_back("<< /Length " + std::to_string(shapes.size()) + " >>\nstream\n" + shapes + "\nendstream");
  return monotest::pdf_of_objects(objects);
}

}  // namespace

// Ghostscript's XPS (abbreviated geometry with H, V and C, image sources as ColorConvertedBitmap
// extensions) is read page by page, and the image we decode is the one mutool draws.
TEST_F(XpsTest, GhostscriptPackagesAreRead) {
  monotest::require_tool("gs", "ghostscript");
  monotest::require_tool("mutool", "mupdf-tools");
  constexpr int kWidth = 64, kHeight = 48;
  std::string rgb(kWidth * kHeight * 3, '\0');
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<char>((i * 7919 + i / 3 * 31) & 0xff);
  monotest::write_file(dir.file("image.pdf"), pdf_with_image(rgb, kWidth, kHeight));
  std::vector<std::string> packages = {dir.file("image.xps")};
  auto made = monotest::run_tool("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=xpswrite -sOutputFile=" +
                                 monotest::shell_quote(packages[0]) + " " + monotest::shell_quote(dir.file("image.pdf")) +
                                 " 2>&1");
  ASSERT_EQ(made.exit_code, 0) << made.output;
  // Documentation PDFs that Debian installs, as a user would have them.
  for (const char* pdf : {"/usr/share/doc/shared-mime-info/shared-mime-info-spec.pdf",
                          "/usr/share/doc/libtasn1-doc/libtasn1.pdf"}) {
    if (monotest::run_tool(std::string("test -r ") + pdf).exit_code != 0) continue;
    packages.push_back(dir.file("doc" + std::to_string(packages.size()) + ".xps"));
    made = monotest::run_tool("gs -q -dNOPAUSE -dBATCH -dSAFER -dFirstPage=1 -dLastPage=3 -sDEVICE=xpswrite "
                              "-sOutputFile=" + monotest::shell_quote(packages.back()) + " " + pdf + " 2>&1");
    ASSERT_EQ(made.exit_code, 0) << made.output;
  }
  for (const std::string& xps : packages) {
    const auto run = monotest::run_tool(std::string(MONODOC_BIN) + " info " + monotest::shell_quote(xps) + " 2>&1");
    EXPECT_EQ(run.exit_code, 0) << xps << "\n" << run.output;
    const std::string last = xps == packages[0] ? "    page 2 (" : "    page 3 (";
    EXPECT_NE(run.output.find(last), std::string::npos) << xps << "\n" << run.output;
  }

  const std::string ppm = dir.file("page.ppm");
  made = monotest::run_tool("mutool draw -q -r 72 -o " + monotest::shell_quote(ppm) + " " +
                            monotest::shell_quote(packages[0]) + " 1 2>/dev/null");
  ASSERT_EQ(made.exit_code, 0);
  const std::string drawn = monotest::read_file(ppm);
  ASSERT_GE(drawn.size(), rgb.size());
  EXPECT_EQ(drawn.substr(drawn.size() - rgb.size()), rgb) << "mutool draws the PDF's pixels";

  XPSPackage* pkg = nullptr;
  ASSERT_EQ(XPSPackageOpenDefault(packages[0].c_str(), &pkg), 1) << messages;
  XPSFixedDoc* doc = XPSPackageGetDocument(pkg, 1);
  XPSFixedPage* page = nullptr;
  ASSERT_EQ(XPSFixedDocLoadPage(doc, 1, &page), 1) << messages;
  QELImage* image = nullptr;
  ASSERT_EQ(XPSFixedPageRender(page, &image), 1) << messages;
  ASSERT_NE(image->layers, nullptr);
  const QELLayer* layer = image->layers;
  EXPECT_EQ(layer->kind, 1);
  ASSERT_EQ(layer->dataLength, rgb.size());
  EXPECT_EQ(std::string(static_cast<const char*>(layer->data), layer->dataLength), rgb)
      << "our image layer holds what mutool draws";
  XPSFreeImage(image);
  XPSElementRelease(page);
  XPSElementRelease(doc);
  XPSPackageClose(pkg);
}

// A small package whose page places one image more often than the page budget allows fails that
// page by number, naming the budget, and the next page is still read.
TEST_F(XpsTest, MonodocInfoStopsAPageAtItsBudget) {
  std::string placements;
  for (int i = 0; i <= XPS_MAX_PAGE_PARTS; ++i) {
    placements += "<Path Data=\"M 0,0 L 9,9\"><Path.Fill><ImageBrush ImageSource=\"/i.png\" Viewbox=\"0,0,1,1\" "
                  "ViewboxUnits=\"Absolute\" Viewport=\"0,0,9,9\" ViewportUnits=\"Absolute\"/></Path.Fill></Path>";
  }
  xpstest::PackageSpec spec;
  spec.page_bodies = {placements, "<Path Data=\"M 1,2 L 3,4\" Fill=\"#00FF00\"/>"};
  spec.extra = {{"i.png", xpstest::png_rgb(1, 1, 0, 0, 0)}};
  const std::string path = package(spec);
  const auto run = monotest::run_tool(std::string(MONODOC_BIN) + " info " + monotest::shell_quote(path) + " 2>&1");
  EXPECT_EQ(run.exit_code, 1) << run.output;
  for (const char* line : {"Page /Documents/1/Pages/1.fpage pulls in more than 10000 parts with /i.png "
                           "(XPS_MAX_PAGE_PARTS)",
                           "page 1 of document 1 (/Documents/1/Pages/1.fpage) cannot be rendered",
                           "      layer 1: colour rectangle at 1,2 size 2 x 2, colour #00FF00",
                           "1 of 2 pages cannot be rendered"}) {
    EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output.substr(0, 2000);
  }
}
