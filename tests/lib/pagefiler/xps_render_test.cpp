// XPS page rendering on hand-built packages: colour rectangles from path data and fills, image
// brushes of PNG, JPEG and TIFF parts with and without alpha, thumbnails, glyph text layers and
// the rescale to the finest layer resolution.

#include <cstring>
#include <vector>

#include "xps_image.h"
#include "xps_render_internal.h"
#include "xps_test_support.h"

using xpstest::Namespace;
using xpstest::Part;

namespace {

// Opens the package, renders page 1 of document 1 into *image; the status of the render.
class Rendered {
 public:
  explicit Rendered(const std::string& path) {
    open_status = XPSPackageOpenDefault(path.c_str(), &pkg);
    if (open_status != 1) return;
    doc = XPSPackageGetDocument(pkg, 1);
    page = XPSFixedDocGetPage(doc, 1);
    status = XPSFixedPageRender(page, &image);
  }
  ~Rendered() {
    XPSFreeImage(image);
    XPSElementRelease(page);
    XPSElementRelease(doc);
    XPSPackageClose(pkg);
  }
  std::vector<QELLayer*> layers() const {
    std::vector<QELLayer*> out;
    for (QELLayer* l = image ? image->layers : nullptr; l; l = l->next) out.push_back(l);
    return out;
  }

  XPSPackage* pkg = nullptr;
  XPSFixedDoc* doc = nullptr;
  XPSFixedPage* page = nullptr;
  QELImage* image = nullptr;
  int open_status = 0;
  int status = 0;
};

std::string image_brush_path(const std::string& source, const std::string& viewport, const std::string& extra = "") {
  return "<Path Data=\"M 0,0 L 96,0 96,96 0,96 Z\"><Path.Fill><ImageBrush ImageSource=\"" + source +
         "\" Viewbox=\"0,0,300,300\" ViewboxUnits=\"Absolute\" Viewport=\"" + viewport +
         "\" ViewportUnits=\"Absolute\" " + extra + "/></Path.Fill></Path>";
}

}  // namespace

TEST_F(XpsTest, ColoursParseAsXpsWritesThem) {
  struct Case {
    const char* text;
    int32_t colour[5];
    const char* report;
  } cases[] = {
      {"#80FF0000", {255, 0, 0, 0, 111}, "Ignoring Alpha value: 128"},
      {"#ff8000", {255, 128, 0, 0, 111}, nullptr},
      {"#FFF", {0, 0, 0, 0, 111}, nullptr},
      {"#GG0000", {0, 0, 0, 0, 111}, nullptr},
      {"Red", {0, 0, 0, 0, 0}, "Cannot parse color Red"},
      {"sc#1,0,0", {0, 0, 0, 0, 0}, "Cannot parse color"},
  };
  for (const Case& c : cases) {
    messages.clear();
    int32_t colour[5] = {9, 9, 9, 0, 9};
    __StrToColor(c.text, colour);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(colour[i], c.colour[i]) << c.text << " word " << i;
    if (c.report) {
      EXPECT_NE(messages.find(c.report), std::string::npos) << c.text << ": " << messages;
    }
  }
}

TEST_F(XpsTest, PathDataBoxes) {
  struct Case {
    const char* data;
    int status;
    double box[4];
  } cases[] = {
      {"M 10,20 L 110,220 Z", 1, {10, 20, 100, 200}},
      {"M10,20 L110,220 Z", 1, {10, 20, 100, 200}},  // numbers against their command letters count
      {"F1 M 10,20 L 30,40", 1, {10, 20, 20, 20}},   // the fill rule is no coordinate
      {"M 0,0 L -5.5,1e1", 1, {-5.5, 0, 5.5, 10}},
      // Abbreviated geometry as other programs write it: H and V move along one axis, lower case
      // is relative to the current point, numbers repeat their command (pairs after M are lines).
      {"M 230,93 V 94 H 233 V 93 Z", 1, {230, 93, 3, 1}},
      {"m 10,10 h 5 v 5 h -10 z", 1, {5, 10, 10, 5}},
      {"M 0,0 10,0 10,10", 1, {0, 0, 10, 10}},
      {"m 1,1 2,2 3,3", 1, {1, 1, 5, 5}},
      {"M 0,0 C 10,-5 20,5 30,0", 1, {0, -5, 30, 10}},
      {"M 0,0 Q 5,10 10,0 S 20,-10 30,0", 1, {0, -10, 30, 20}},
      {"M 0,0 L 10,0 Z l 0,7", 1, {0, 0, 10, 7}},  // Z returns to the figure's start
      {"F0 M 0,0 A 10,10 0 1 1 20,0", 1, {0, -10, 20, 10}},  // half circle above, sweeping clockwise
      {"M 0,0 a 10,5 0 0 0 20,0", 1, {0, 0, 20, 5}},
      {"M0,0L1e1,.5", 1, {0, 0, 10, 0.5}},
      {"M 10,20 L 30", -1, {}},
      {"Z", -1, {}},
      {"L 5", -1, {}},
      {"M 0,0 X 1,1", -1, {}},
      {"M 0,0 A 1,1 0 0 1", -1, {}},
      {"F2 M 0,0 L 1,1", -1, {}},
      {"M 0x10,0 L 1,1", -1, {}},
      {"M inf,0 L 1,1", -1, {}},
      {"10,20 L 30,40", -1, {}},
  };
  for (const Case& c : cases) {
    double box[4] = {};
    EXPECT_EQ(__XPSParsePathData(c.data, box), c.status) << c.data;
    if (c.status != 1) continue;
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(box[i], c.box[i], 0.01) << c.data << " " << i;
  }
}

TEST_F(XpsTest, FilledPathsBecomeColourRectangles) {
  struct Case {
    const char* label;
    std::string body;
    int status;
    int layers;
    int32_t x = 0, y = 0;
    uint32_t w = 0, h = 0;
  } cases[] = {
      {"path data and fill", "<Path Data=\"M 10,20 L 110,220 Z\" Fill=\"#FF0000\"/>", 1, 1, 10, 20, 100, 200},
      {"fill only covers the content box", "<Path Fill=\"#FF0000\"/>", 1, 1, 0, 0, 816, 1056},
      {"solid brush", "<Path Data=\"M 1,2 L 3,4\"><Path.Fill><SolidColorBrush Color=\"#FF0000\"/></Path.Fill></Path>", 1, 1,
       1, 2, 2, 2},
      {"solid brush without Color", "<Path Data=\"M 1,2 L 3,4\"><Path.Fill><SolidColorBrush/></Path.Fill></Path>", 1, 0},
      {"gradient brush", "<Path Data=\"M 1,2 L 3,4\"><Path.Fill><LinearGradientBrush/></Path.Fill></Path>", 1, 0},
      {"odd path data", "<Path Data=\"M 1,2 L 3\" Fill=\"#FF0000\"/>", -1, 0},
      {"bad transform", "<Path Data=\"M 1,2 L 3,4\" Fill=\"#FF0000\" RenderTransform=\"1,0,0\"/>", -1, 0},
      {"canvas opacity out of range",
       "<Canvas Opacity=\"1.5\" RenderTransform=\"2,0,0,2,0,0\"><Path Data=\"M 1,2 L 3,4\" Fill=\"#FF0000\"/></Canvas>", 1,
       1, 1, 2, 2, 2},
  };
  for (const Case& c : cases) {
    xpstest::PackageSpec spec;
    spec.page_bodies = {c.body};
    messages.clear();
    Rendered r(package(spec));
    ASSERT_EQ(r.open_status, 1) << c.label << messages;
    EXPECT_EQ(r.status, c.status) << c.label << messages;
    if (c.status != 1) {
      EXPECT_EQ(r.image, nullptr);
      continue;
    }
    const auto layers = r.layers();
    ASSERT_EQ(static_cast<int>(layers.size()), c.layers) << c.label;
    EXPECT_EQ(r.image->xres, 96) << c.label;
    EXPECT_EQ(r.image->width, 816u);
    if (c.layers == 0) continue;
    const QELLayer* l = layers[0];
    EXPECT_EQ(l->kind, 4) << c.label;
    EXPECT_EQ(l->x, c.x) << c.label;
    EXPECT_EQ(l->y, c.y) << c.label;
    EXPECT_EQ(l->width, c.w) << c.label;
    EXPECT_EQ(l->height, c.h) << c.label;
    EXPECT_EQ(l->colour[0], 255);
    EXPECT_EQ(l->colour[4], 111);
  }
}

TEST_F(XpsTest, ImageBrushesGiveImageLayers) {
  struct Case {
    const char* label;
    std::string bytes;
    int kinds[2];
    uint32_t xres;
  } cases[] = {
      {"png rgb", xpstest::png_rgb(300, 300, 0, 0, 255), {1, 0}, 300},
      {"png alpha", xpstest::png_rgb(300, 300, 0, 0, 255, 128), {2, 1}, 300},
      {"png bilevel", xpstest::png_bilevel(300, 300), {7, 0}, 300},
      {"jpeg rgb", xpstest::jpeg_rgb(300, 300, 0, 255, 0), {1, 0}, 300},
      {"tiff rgb", xpstest::tiff_rgb(300, 300, 255, 0, 0), {1, 0}, 300},
      {"tiff alpha", xpstest::tiff_rgb(300, 300, 255, 0, 0, 64), {2, 1}, 300},
      // 118.11 pixels per cm are 299 per inch as the engine counts them (118 x 2.54).
      {"tiff g4 per cm", xpstest::tiff_bilevel(300, 300, 118.11), {7, 0}, 299},
  };
  for (const Case& c : cases) {
    xpstest::PackageSpec spec;
    spec.page_bodies = {image_brush_path("../../../Resources/img", "96,96,96,96")};
    spec.extra = {{"Resources/img", c.bytes}};
    messages.clear();
    Rendered r(package(spec));
    ASSERT_EQ(r.open_status, 1) << c.label << messages;
    ASSERT_EQ(r.status, 1) << c.label << messages;
    const auto layers = r.layers();
    ASSERT_EQ(layers.size(), c.kinds[1] ? 2u : 1u) << c.label;
    for (size_t i = 0; i < layers.size(); ++i) EXPECT_EQ(layers[i]->kind, c.kinds[i]) << c.label;
    const QELLayer* image = layers.back();
    EXPECT_EQ(image->xres, c.xres) << c.label;
    EXPECT_EQ(image->opacity, 1.0);
    ASSERT_NE(image->header, nullptr);
    EXPECT_EQ(image->header->width, 300u);
    // The page is rescaled to the image's resolution: the viewport at (96, 96) moves with it.
    const double s = c.xres / 96.0;
    EXPECT_EQ(r.image->xres, c.xres) << c.label;
    EXPECT_EQ(r.image->width, static_cast<uint32_t>(816 * s + 0.5)) << c.label;
    EXPECT_EQ(image->x, static_cast<int32_t>(96 * s + 0.5)) << c.label;
    EXPECT_EQ(image->width, static_cast<uint32_t>(96 * s + 0.5)) << c.label;
    const size_t expected = static_cast<size_t>(image->header->bytesPerRow[0]) * 300;
    EXPECT_EQ(image->dataLength, expected) << c.label;
    if (c.kinds[1]) {
      EXPECT_EQ(layers[0]->header->channels, 1);
      EXPECT_EQ(static_cast<const unsigned char*>(layers[0]->data)[0], c.label[4] == 'a' ? 128 : 64) << c.label;
    }
  }
}

TEST_F(XpsTest, ImageFailuresFailThePage) {
  struct Case {
    const char* label;
    std::string body;
    std::vector<Part> extra;
    const char* report;
  } cases[] = {
      {"missing image part", image_brush_path("/Resources/none.png", "0,0,96,96"), {}, "Missing part"},
      {"undecodable image", image_brush_path("/Resources/bad.png", "0,0,96,96"),
       {{"Resources/bad.png", std::string("\x89PNG\r\n\x1a\n", 8) + "garbage"}}, "PNG"},
      {"jpeg xr", image_brush_path("/Resources/x.wdp", "0,0,96,96"),
       {{"Resources/x.wdp", std::string("II\xbc\x01", 4) + std::string(64, '\0')}}, "JPEG XR"},
      {"missing Viewport",
       "<Path Data=\"M0,0 L9,9\"><Path.Fill><ImageBrush ImageSource=\"/a.png\" Viewbox=\"0,0,1,1\" "
       "ViewboxUnits=\"Absolute\" ViewportUnits=\"Absolute\"/></Path.Fill></Path>",
       {},
       "No Viewport attribute"},
  };
  for (const Case& c : cases) {
    xpstest::PackageSpec spec;
    spec.page_bodies = {c.body};
    spec.extra = c.extra;
    messages.clear();
    Rendered r(package(spec));
    ASSERT_EQ(r.open_status, 1) << c.label;
    EXPECT_NE(r.status, 1) << c.label;
    EXPECT_EQ(r.image, nullptr) << c.label;
    EXPECT_NE(messages.find(c.report), std::string::npos) << c.label << ": " << messages;
  }
}

TEST_F(XpsTest, BrushTransformFoldsIntoTheViewport) {
  xpstest::PackageSpec spec;
  // A 300-pixel image in a 48-unit viewport under a transform doubling it and moving it by 10.
  spec.page_bodies = {image_brush_path("/img.png", "0,0,48,48", "Transform=\"2,0,0,2,10,10\"")};
  spec.extra = {{"img.png", xpstest::png_rgb(300, 300, 1, 2, 3)}};
  Rendered r(package(spec));
  ASSERT_EQ(r.status, 1) << messages;
  const QELLayer* l = r.layers().at(0);
  ASSERT_NE(l->transform, nullptr);
  EXPECT_DOUBLE_EQ(l->transform[0], 1.0) << "the scale went into the viewport";
  EXPECT_DOUBLE_EQ(l->transform[3], 1.0);
  EXPECT_EQ(l->xres, 300u);  // 300 pixels over 96 units
  EXPECT_EQ(r.image->xres, 300);
  const double s = 300 / 96.0;
  EXPECT_EQ(l->x, static_cast<int32_t>(static_cast<int32_t>(10 + 0.5) * s + 0.5));
  EXPECT_EQ(l->width, static_cast<uint32_t>(96 * s + 0.5));
}

TEST_F(XpsTest, MasksThumbnailsAndGlyphs) {
  xpstest::PackageSpec spec;
  spec.page_bodies = {
      "<Path Data=\"M 0,0 L 96,96\" Fill=\"#00FF00\"><Path.OpacityMask>"
      "<ImageBrush ImageSource=\"/mask.png\" Viewbox=\"0,0,96,96\" ViewboxUnits=\"Absolute\" Viewport=\"0,0,96,96\" "
      "ViewportUnits=\"Absolute\"/></Path.OpacityMask></Path>"
      "<Glyphs FontUri=\"/f.ttf\" FontRenderingEmSize=\"12\" OriginX=\"50\" OriginY=\"100\" UnicodeString=\"Hello\"/>"
      "<Glyphs FontUri=\"/f.ttf\" FontRenderingEmSize=\"12\" OriginX=\"50\" OriginY=\"120\" UnicodeString=\"world\"/>"
      "<Canvas RenderTransform=\"1,0,0,1,5,5\"><Glyphs FontUri=\"/f.ttf\" FontRenderingEmSize=\"10\" "
      "UnicodeString=\"inner\"/></Canvas>"};
  spec.extra = {{"mask.png", xpstest::png_bilevel(96, 96)},
                {"thumb.png", xpstest::png_rgb(16, 16, 9, 9, 9)},
                {"Documents/1/Pages/_rels/1.fpage.rels",
                 xpstest::relationships({{xpstest::opc_rel("metadata/thumbnail"), "../../../thumb.png"}})}};
  Rendered r(package(spec));
  ASSERT_EQ(r.status, 1) << messages;
  const auto layers = r.layers();
  // Mask painted in the fill colour, the nested canvas's text, the page's text, the thumbnail.
  ASSERT_EQ(layers.size(), 4u);
  EXPECT_EQ(layers[0]->kind, 3);
  EXPECT_EQ(layers[0]->colour[1], 255);
  EXPECT_EQ(layers[1]->kind, 31);
  ASSERT_NE(layers[1]->transform, nullptr);
  EXPECT_EQ(layers[1]->transform[4], 5);
  EXPECT_EQ(layers[2]->kind, 31);
  EXPECT_EQ(layers[3]->kind, 6);
  const std::string xml(static_cast<const char*>(layers[2]->data), layers[2]->dataLength);
  EXPECT_NE(xml.find("<Page xw=\"816\" yh=\"1056\">"), std::string::npos) << xml;
  EXPECT_NE(xml.find("x0=\"50\" yb=\"100\""), std::string::npos) << xml;
  EXPECT_NE(xml.find("str=\"Hello\""), std::string::npos) << xml;
  EXPECT_NE(xml.find("str=\"world\""), std::string::npos) << xml;
  EXPECT_EQ(xml.find("inner"), std::string::npos) << "the nested canvas keeps its own layer";
  EXPECT_EQ(r.image->layerCount, 4);

  // Rendering again: the thumbnail's layers went to the first image.
  QELImage* again = nullptr;
  ASSERT_EQ(XPSFixedPageRender(r.page, &again), 1);
  EXPECT_EQ(again->layerCount, 3);
  XPSFreeImage(again);
}

TEST_F(XpsTest, RenderingUnderFailingAllocationsLeavesNothing) {
  xpstest::PackageSpec spec;
  spec.page_bodies = {image_brush_path("/a.png", "0,0,96,96") +
                      "<Canvas><Path Data=\"M0,0 L5,5\" Fill=\"#00FF00\"/><Glyphs UnicodeString=\"x\"/></Canvas>"};
  spec.extra = {{"a.png", xpstest::png_rgb(30, 30, 1, 2, 3, 100)}};
  Rendered r(package(spec));
  ASSERT_EQ(r.status, 1) << messages;
  bool rendered = false;
  const size_t live = heap.live_blocks();
  for (size_t k = 1; !rendered && k < 500; ++k) {
    heap.fail_at(k);
    QELImage* image = nullptr;
    const int status = XPSFixedPageRender(r.page, &image);
    heap.fail_at(0);
    rendered = status == 1;
    if (!rendered) {
      EXPECT_EQ(image, nullptr);
    }
    XPSFreeImage(image);
    ASSERT_EQ(heap.live_blocks(), live) << "after failing allocation " << k;
  }
  EXPECT_TRUE(rendered);
}
