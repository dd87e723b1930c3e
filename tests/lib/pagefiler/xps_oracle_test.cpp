// mutool, a renderer we did not write, draws the same hand-built package: every colour
// rectangle and image our layers place must be where mutool paints it.

#include <cstdio>
#include <cstring>
#include <sstream>

#include "xps_image.h"
#include "xps_test_support.h"

namespace {

struct Pixmap {
  int width = 0, height = 0;
  std::string rgb;
  const unsigned char* at(int x, int y) const {
    return reinterpret_cast<const unsigned char*>(rgb.data()) + (static_cast<size_t>(y) * width + x) * 3;
  }
};

Pixmap read_ppm(const std::string& bytes) {
  Pixmap p;
  std::istringstream in(bytes);
  std::string magic;
  int max = 0;
  in >> magic >> p.width >> p.height >> max;
  in.get();
  if (magic != "P6" || max != 255) throw std::runtime_error("mutool did not write a PPM");
  p.rgb = bytes.substr(static_cast<size_t>(in.tellg()));
  return p;
}

// The bounding box (x, y, width, height) of the pixels near a colour, or all zero.
void box_of(const Pixmap& p, int r, int g, int b, int box[4]) {
  int x0 = p.width, y0 = p.height, x1 = -1, y1 = -1;
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      const unsigned char* c = p.at(x, y);
      if (std::abs(c[0] - r) > 40 || std::abs(c[1] - g) > 40 || std::abs(c[2] - b) > 40) continue;
      x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
    }
  }
  box[0] = x1 < 0 ? 0 : x0;
  box[1] = y1 < 0 ? 0 : y0;
  box[2] = x1 < 0 ? 0 : x1 - x0 + 1;
  box[3] = y1 < 0 ? 0 : y1 - y0 + 1;
}

std::string brush(const std::string& source, int x, int y, int size) {
  char viewport[64];
  std::snprintf(viewport, sizeof viewport, "%d,%d,%d,%d", x, y, size, size);
  char data[128];
  std::snprintf(data, sizeof data, "M %d,%d L %d,%d %d,%d %d,%d Z", x, y, x + size, y, x + size, y + size, x, y + size);
  return std::string("<Path Data=\"") + data + "\"><Path.Fill><ImageBrush ImageSource=\"" + source +
         "\" Viewbox=\"0,0,64,64\" ViewboxUnits=\"Absolute\" Viewport=\"" + viewport +
         "\" ViewportUnits=\"Absolute\"/></Path.Fill></Path>";
}

}  // namespace

TEST_F(XpsTest, MutoolPaintsWhereOurLayersSay) {
  monotest::require_tool("mutool", "mupdf-tools");
  struct Thing {
    const char* label;
    int rgb[3];
  } things[] = {
      {"red rectangle", {255, 0, 0}},   {"png", {0, 0, 255}},  {"jpeg", {0, 255, 0}},
      {"tiff", {255, 255, 0}},         {"png with alpha", {255, 0, 255}}, {"moved rectangle", {0, 255, 255}},
      {"moved image", {255, 128, 0}},
  };
  for (auto ns : {xpstest::Namespace::Xps2005, xpstest::Namespace::OpenXps}) {
    xpstest::PackageSpec spec;
    spec.width = 600;
    spec.height = 500;
    spec.page_bodies = {
        "<Path Data=\"M 10,20 L 110,20 110,220 10,220 Z\" Fill=\"#FF0000\"/>" + brush("/img/blue.png", 200, 40, 64) +
        brush("/img/green.jpg", 300, 40, 96) + brush("/img/yellow.tif", 200, 200, 64) +
        brush("/img/magenta.png", 350, 250, 80) +
        "<Canvas RenderTransform=\"1,0,0,1,400,0\"><Path Data=\"M 0,400 L 100,400 100,450 0,450 Z\" Fill=\"#00FFFF\"/>" +
        // The brush's own transform applies first, then the canvases' (inner, then outer).
        "<Canvas RenderTransform=\"0.5,0,0,0.5,0,0\"><Path Data=\"M 100,300 L 164,300 164,364 100,364 Z\">"
        "<Path.Fill><ImageBrush ImageSource=\"/img/orange.png\" Viewbox=\"0,0,64,64\" ViewboxUnits=\"Absolute\" "
        "Viewport=\"0,300,64,64\" ViewportUnits=\"Absolute\" Transform=\"1,0,0,1,100,0\"/></Path.Fill></Path>"
        "</Canvas></Canvas>"};
    spec.extra = {{"img/blue.png", xpstest::png_rgb(64, 64, 0, 0, 255)},
                  {"img/green.jpg", xpstest::jpeg_rgb(64, 64, 0, 255, 0)},
                  {"img/yellow.tif", xpstest::tiff_rgb(64, 64, 255, 255, 0)},
                  {"img/magenta.png", xpstest::png_rgb(64, 64, 255, 0, 255, 255)},
                  {"img/orange.png", xpstest::png_rgb(64, 64, 255, 128, 0)}};
    spec.ns = ns;
    spec.interleave_pages = 2;
    const std::string path = package(spec);
    const std::string ppm = dir.file("page.ppm");
    const auto run = monotest::run_tool("mutool draw -q -r 96 -o " + monotest::shell_quote(ppm) + " " +
                                        monotest::shell_quote(path) + " 1 2>&1");
    ASSERT_EQ(run.exit_code, 0) << run.output;
    const Pixmap page = read_ppm(monotest::read_file(ppm));
    ASSERT_EQ(page.width, 600);

    XPSPackage* pkg = nullptr;
    ASSERT_EQ(XPSPackageOpenDefault(path.c_str(), &pkg), 1) << messages;
    XPSFixedDoc* doc = XPSPackageGetDocument(pkg, 1);
    XPSFixedPage* fp = XPSFixedDocGetPage(doc, 1);
    QELImage* image = nullptr;
    ASSERT_EQ(XPSFixedPageRender(fp, &image), 1) << messages;
    // Our layers in drawing order: the rectangle, four images (the alpha one with its mask
    // first), the moved rectangle and image.
    std::vector<QELLayer*> placed;
    for (QELLayer* l = image->layers; l; l = l->next)
      if (l->kind != 2) placed.push_back(l);
    ASSERT_EQ(placed.size(), 7u);
    const double to_units_x = 96.0 / image->xres, to_units_y = 96.0 / image->yres;
    for (size_t i = 0; i < placed.size(); ++i) {
      const QELLayer* l = placed[i];
      double ours[4] = {l->x * to_units_x, l->y * to_units_y, l->width * to_units_x, l->height * to_units_y};
      if (l->kind == 4 && l->transform) {
        // A rectangle keeps its box and carries its transform; an image is placed already.
        ours[0] += l->transform[4] * to_units_x;
        ours[1] += l->transform[5] * to_units_y;
      }
      int theirs[4];
      box_of(page, things[i].rgb[0], things[i].rgb[1], things[i].rgb[2], theirs);
      for (int k = 0; k < 4; ++k) EXPECT_NEAR(ours[k], theirs[k], 1.5) << things[i].label << " coordinate " << k;
    }
    XPSFreeImage(image);
    XPSElementRelease(fp);
    XPSElementRelease(doc);
    XPSPackageClose(pkg);
  }
}
