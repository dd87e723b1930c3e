// monodoc info on XPS packages: documents, pages and the layers each page renders to.

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
}
