// Writes the seed corpus of the XPS package target into the folder given: packages in both
// namespaces, with interleaved pages, images of every decoded format, masks, glyphs and
// thumbnails, as the reader's tests build them; each also as a part list.

#include <cstdio>
#include <string>

#include "tools.h"
#include "xps_fixture.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  using xpstest::Namespace;
  const std::string brush =
      "<Path Data=\"M 0,0 L 96,0 96,96 0,96 Z\"><Path.Fill><ImageBrush ImageSource=\"/img\" Viewbox=\"0,0,8,8\" "
      "ViewboxUnits=\"Absolute\" Viewport=\"10,10,96,96\" ViewportUnits=\"Absolute\" Transform=\"2,0,0,2,5,5\"/>"
      "</Path.Fill></Path>";
  const std::string images[] = {xpstest::png_rgb(8, 8, 1, 2, 3, 100, 300), xpstest::png_bilevel(9, 3),
                                xpstest::jpeg_rgb(8, 8, 4, 5, 6, 200), xpstest::tiff_rgb(5, 4, 7, 8, 9, 50),
                                xpstest::tiff_bilevel(17, 5, 118.11)};
  int status = 0;
  int n = 0;
  for (const std::string& image : images) {
    xpstest::PackageSpec spec;
    spec.ns = n % 2 ? Namespace::OpenXps : Namespace::Xps2005;
    spec.interleave_pages = n % 3;
    spec.page_bodies = {
        brush,
        "<Canvas RenderTransform=\"1,0,0,1,3,4\" Opacity=\"0.5\"><Path Data=\"F1 M10,20 L110,220 Z\" Fill=\"#80FF0000\">"
        "<Path.OpacityMask><SolidColorBrush Color=\"#00FF00\"/></Path.OpacityMask></Path>"
        "<Glyphs FontUri=\"/f.ttf\" FontRenderingEmSize=\"12\" OriginX=\"5\" OriginY=\"9\" UnicodeString=\"seed\"/>"
        "</Canvas>"};
    spec.extra = {{"img", image},
                  {"Documents/1/Pages/_rels/1.fpage.rels",
                   xpstest::relationships({{xpstest::opc_rel("metadata/thumbnail"), "/img"}})}};
    spec.package_thumbnail = "/img";
    const std::string path = std::string(argv[1]) + "/seed-" + std::to_string(n++);
    try {
      const std::vector<xpstest::Part> parts = xpstest::package_parts(spec);
      xpstest::write_zip(path + ".xps", parts);
      // The same package as a part list, which the target zips itself.
      std::string list = "XPSPARTS\n";
      for (const xpstest::Part& part : parts) list += "@@" + part.name + "\n" + part.bytes + "\n";
      monotest::write_file(path + ".parts", list);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
      status = 1;
    }
  }
  return status;
}
