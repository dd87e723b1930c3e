// XPS page rendering: a fixed page becomes a page image whose layers are its colour rectangles,
// images and glyph text, placed in page units and rescaled to the finest layer resolution.

#include <libxml/xmlmemory.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kvng.h"
#include "kvng_print.h"
#include "qel_image.h"
#include "xps_fonts.h"
#include "xps_image.h"
#include "xps_render_internal.h"

void XPSLayerList::append(QELLayer* layer) {
  layer->next = nullptr;
  if (last) {
    last->next = layer;
  } else {
    first = layer;
  }
  last = layer;
}

void XPSLayerList::append(XPSLayerList* other) {
  if (!other->first) return;
  if (last) {
    last->next = other->first;
  } else {
    first = other->first;
  }
  last = other->last;
  other->first = other->last = nullptr;
}

void XPSLayerList::free_all() {
  __XPSFreeLayers(first);
  first = last = nullptr;
}

namespace xps {

int32_t to_int(double v) {
  if (!(v > -2147483648.0)) return INT32_MIN;
  if (v >= 2147483647.0) return INT32_MAX;
  return static_cast<int32_t>(v);
}

uint32_t to_unsigned(double v) {
  if (!(v > 0)) return 0;
  if (v >= 4294967295.0) return UINT32_MAX;
  return static_cast<uint32_t>(v);
}

double* transform_array(const Transform& t) {
  auto* array = static_cast<double*>(kvng_internal_calloc(6, sizeof(double)));
  if (array) std::memcpy(array, t.m, sizeof t.m);
  return array;
}

xmlChar* attribute(xmlNodePtr node, const char* name) {
  return node ? xmlGetNoNsProp(node, reinterpret_cast<const xmlChar*>(name)) : nullptr;
}

bool element_is(xmlNodePtr node, const char* name) {
  return node && node->type == XML_ELEMENT_NODE && is_name(node->name, name);
}

}  // namespace xps

namespace {

using xps::text;

// ---- Fonts ----

int32_t estimate_index(const char*) { return 0; }
int32_t estimate_code(int32_t) { return 0; }
double estimate_width(int32_t, const char* utf8) {
  double characters = 0;
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(utf8); *c; ++c)
    if ((*c & 0xC0) != 0x80) ++characters;
  return characters * 0.5;
}

XPSFontMetrics fonts{estimate_index, estimate_code, estimate_code, estimate_width};

// ---- Shared element readers ----

double read_opacity(xmlNodePtr node, const char* prefix) {
  xmlChar* value = xps::attribute(node, "Opacity");
  if (!value) return 1.0;
  double opacity = 1.0;
  if (xps::parse_numbers(text(value), &opacity, 1) != 1 || opacity < 0 || opacity > 1) {
    KVngError("%s: Invalid opacity %s, using default 1.0\n", prefix, text(value));
    opacity = 1.0;
  }
  xmlFree(value);
  return opacity;
}

int read_render_transform(xmlNodePtr node, xps::Transform* t, const char* prefix) {
  xmlChar* value = xps::attribute(node, "RenderTransform");
  const int status = xps::parse_transform(value ? text(value) : nullptr, t);
  if (status != 1) KVngError("%s: Cannot parse RenderTransform '%s'\n", prefix, text(value));
  xmlFree(value);
  return status;
}

// The Matrix of the first MatrixTransform of a *.RenderTransform element, once per element.
void take_matrix(xmlNodePtr holder, xmlNodePtr* matrix, const char* extra, const char* prefix) {
  if (*matrix) {
    KVngError(extra, prefix);
    return;
  }
  for (xmlNodePtr m = holder->children; m; m = m->next) {
    if (!xps::element_is(m, "MatrixTransform")) continue;
    if (*matrix) {
      KVngError("%s: Ignored extra MatrixTransform element\n", prefix);
    } else {
      *matrix = m;
    }
  }
}

int apply_matrix(xmlNodePtr matrix, xps::Transform* t, const char* prefix) {
  if (!matrix) return 1;
  xmlChar* value = xps::attribute(matrix, "Matrix");
  xps::Transform m;
  const int status = xps::parse_transform(value ? text(value) : "", &m);
  if (status != 1) {
    KVngError("%s: Cannot parse Matrix '%s'\n", prefix, text(value));
  } else {
    xps::preconcatenate(t, m);
  }
  xmlFree(value);
  return status;
}

bool is_brush(xmlNodePtr node) {
  return xps::element_is(node, "ImageBrush") || xps::element_is(node, "SolidColorBrush") ||
         xps::element_is(node, "VisualBrush") || xps::element_is(node, "LinearGradientBrush") ||
         xps::element_is(node, "RadialGradientBrush");
}

xmlNodePtr pick_brush(xmlNodePtr holder, const char* none, const char* prefix) {
  xmlNodePtr brush = nullptr;
  for (xmlNodePtr child = holder->children; child; child = child->next) {
    if (child->type != XML_ELEMENT_NODE) continue;
    if (!is_brush(child)) {
      KVngError("%s: Skipping illegal %s element\n", prefix, text(child->name));
    } else if (brush) {
      KVngError("%s: Ignored extra %s element\n", prefix, text(child->name));
    } else {
      brush = child;
    }
  }
  if (!brush) KVngError(none, prefix);
  return brush;
}

// ---- Paths ----

int render_path(XPSFixedPage* page, xmlNodePtr path, const xps::Transform& canvas, XPSLayerList* layers) {
  constexpr char kName[] = "__XPSRenderPath";
  double box[4];
  std::memcpy(box, page->contentBox, sizeof box);
  xmlChar* data = xps::attribute(path, "Data");
  if (data && __XPSParsePathData(text(data), box) != 1) {
    KVngError("%s: No path data attribute\n", kName);
    xmlFree(data);
    return -1;
  }
  xmlFree(data);
  const double opacity = read_opacity(path, kName);
  int32_t fill[5] = {};
  xmlChar* fill_text = xps::attribute(path, "Fill");
  if (fill_text) __StrToColor(text(fill_text), fill);
  xmlFree(fill_text);
  xps::Transform transform;
  if (read_render_transform(path, &transform, kName) != 1) return -1;
  xps::concatenate(&transform, canvas);

  xmlNodePtr matrix = nullptr, fill_brush = nullptr, mask_brush = nullptr;
  for (xmlNodePtr child = path->children; child; child = child->next) {
    if (child->type != XML_ELEMENT_NODE) continue;
    if (xps::element_is(child, "Path.RenderTransform")) {
      take_matrix(child, &matrix, "%s: Ignored extra Path.RenderTransform element\n", kName);
    } else if (xps::element_is(child, "Path.Fill")) {
      if (!fill_brush) fill_brush = pick_brush(child, "%s: No Brush element in Path.Fill\n", kName);
    } else if (xps::element_is(child, "Path.OpacityMask")) {
      if (!mask_brush) mask_brush = pick_brush(child, "%s: No Brush element in Path.OpacityMask\n", kName);
    } else if (xps::element_is(child, "Path.Clip")) {
      KVngError("%s: Skipped Path.Clip element\n", kName);
    } else if (xps::element_is(child, "Path.Stroke")) {
      KVngError("%s: Skipped Path.Stroke element\n", kName);
    } else if (xps::element_is(child, "Path.Data")) {
      KVngError("%s: Skipped Path.Data element\n", kName);
    } else {
      KVngError("%s: Skipping illegal element <%s>\n", kName, text(child->name));
    }
  }
  if (apply_matrix(matrix, &transform, kName) != 1) return -1;

  XPSLayerList mask, fills;
  int status = mask_brush ? __XPSRenderBrush(page, mask_brush, box, &transform, &mask) : 1;
  if (status == 1 && fill_brush) status = __XPSRenderBrush(page, fill_brush, box, &transform, &fills);
  if (status != 1) {
    mask.free_all();
    fills.free_all();
    return status;
  }
  if (!mask.first && !fills.first) {
    return fill[4] != 0 ? __XPSRenderColorRectangle(page, fill, box, &transform, layers) : 1;
  }
  if (!mask.first) {
    layers->append(&fills);
    return 1;
  }
  QELLayer* first = mask.first;
  first->opacity *= opacity;
  if (!fills.first) {
    first->kind = QEL_KIND_COLOR_MASK;
    std::memcpy(first->colour, fill, sizeof first->colour);
    if (fill[4] == 0) first->colour[4] = 1;
    layers->append(&mask);
    return 1;
  }
  // A mask stands for the one layer that follows it; a mask brush of several layers keeps its
  // first.
  if (first->next) {
    KVngError("%s: Opacity mask of more than one layer, keeping the first\n", kName);
    __XPSFreeLayers(first->next);
    first->next = nullptr;
  }
  first->kind = QEL_KIND_MASK;
  layers->append(first);
  layers->append(&fills);
  return 1;
}

// ---- Glyphs ----

int add_glyphs(XPSFixedPage* page, xmlNodePtr glyphs, xmlDocPtr* doc) {
  constexpr char kName[] = "__XPSRenderGlyphs";
  char number[64];
  if (!*doc) {
    if (!(*doc = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0")))) {
      KVngError("%s: Cannot create glyphs XML document\n", kName);
      return 0;
    }
    xmlNodePtr root = xmlNewNode(nullptr, reinterpret_cast<const xmlChar*>("Page"));
    if (!root) {
      KVngError("%s: Cannot create glyphs XML document root element\n", kName);
      return -1;
    }
    xmlDocSetRootElement(*doc, root);
    std::snprintf(number, sizeof number, "%g", page ? page->width : 96.0);
    xmlSetProp(root, reinterpret_cast<const xmlChar*>("xw"), reinterpret_cast<const xmlChar*>(number));
    std::snprintf(number, sizeof number, "%g", page ? page->height : 96.0);
    xmlSetProp(root, reinterpret_cast<const xmlChar*>("yh"), reinterpret_cast<const xmlChar*>(number));
  }
  xmlNodePtr root = xmlDocGetRootElement(*doc);
  if (!root) {
    KVngError("%s: Cannot get glyphs XML document root element\n", kName);
    return -1;
  }
  xmlChar* string = xps::attribute(glyphs, "UnicodeString");
  if (!string || !string[0]) {
    // Glyphs given by indices alone carry no text to keep.
    KVngDebug("%s: Skipping Glyphs without UnicodeString\n", kName);
    xmlFree(string);
    return 1;
  }
  xmlChar* uri = xps::attribute(glyphs, "FontUri");
  const int32_t index = fonts.indexForFileName(text(uri));
  xmlFree(uri);
  const double width = fonts.stringWidth(index, text(string));
  if (!(width > 0)) {
    KVngError("%s: font size is zero for %s\n", kName, text(string));
    xmlFree(string);
    return -1;
  }
  xps::Transform transform;
  if (read_render_transform(glyphs, &transform, kName) != 1) {
    xmlFree(string);
    return -1;
  }
  // The run starts at its origin and is as high as its em size, both through its own transform.
  double origin[2] = {0, 0}, em = 1;
  const char* names[3] = {"OriginX", "OriginY", "FontRenderingEmSize"};
  double* targets[3] = {&origin[0], &origin[1], &em};
  for (int i = 0; i < 3; ++i) {
    xmlChar* value = xps::attribute(glyphs, names[i]);
    if (value && xps::parse_numbers(text(value), targets[i], 1) != 1) {
      KVngError("%s: Cannot parse %s '%s'\n", kName, names[i], text(value));
      xmlFree(value);
      xmlFree(string);
      return -1;
    }
    xmlFree(value);
  }
  const double* m = transform.m;
  const double x0 = m[0] * origin[0] + m[2] * origin[1] + m[4];
  const double yb = m[1] * origin[0] + m[3] * origin[1] + m[5];
  xmlNodePtr run = xmlNewChild(root, nullptr, reinterpret_cast<const xmlChar*>("Glyphs"), nullptr);
  if (!run) {
    KVngError("%s: Cannot create XML node for glyphs\n", kName);
    xmlFree(string);
    return 0;
  }
  auto set = [run](const char* name, const char* value) {
    xmlSetProp(run, reinterpret_cast<const xmlChar*>(name), reinterpret_cast<const xmlChar*>(value));
  };
  std::snprintf(number, sizeof number, "%d", fonts.familyStyle(index));
  set("famStyle", number);
  std::snprintf(number, sizeof number, "%d", fonts.isoCharset(index));
  set("isoCSet", number);
  std::snprintf(number, sizeof number, "%g", x0);
  set("x0", number);
  std::snprintf(number, sizeof number, "%g", yb);
  set("yb", number);
  std::snprintf(number, sizeof number, "%g", m[0] * width * em);
  set("xw", number);
  std::snprintf(number, sizeof number, "%g", m[3] * em);
  set("yh", number);
  set("str", text(string));
  xmlFree(string);
  return 1;
}

int glyph_layer(XPSFixedPage* page, xmlDocPtr doc, double opacity, const xps::Transform& transform,
                XPSLayerList* layers) {
  constexpr char kName[] = "__XPSRenderCanvas";
  auto* layer = static_cast<QELLayer*>(kvng_internal_calloc(1, sizeof(QELLayer)));
  if (!layer) {
    KVngError("%s: Cannot create QELLayer object for glyphs\n", kName);
    return 0;
  }
  layer->kind = QEL_KIND_TEXT;
  layer->width = page ? xps::to_unsigned(page->width + 0.5) : 96;
  layer->height = page ? xps::to_unsigned(page->height + 0.5) : 96;
  layer->xres = layer->yres = 96;
  layer->window[2] = layer->width;
  layer->window[3] = layer->height;
  layer->opacity = opacity;
  if (!xps::is_identity(transform) && !(layer->transform = xps::transform_array(transform))) {
    KVngError("%s: Cannot convert transform to array\n", kName);
    kvng_internal_free(layer);
    return -1;
  }
  xmlChar* xml = nullptr;
  int length = 0;
  xmlDocDumpFormatMemory(doc, &xml, &length, 1);
  // The layer owns engine-heap data: the text is copied out of libxml2's allocation.
  void* data = xml && length > 0 ? kvng_internal_calloc(static_cast<size_t>(length) + 1, 1) : nullptr;
  if (!data) {
    KVngError("%s: Cannot convert glyphs XML to string\n", kName);
    xmlFree(xml);
    __XPSFreeLayers(layer);
    return -1;
  }
  std::memcpy(data, xml, static_cast<size_t>(length));
  xmlFree(xml);
  layer->data = data;
  layer->dataLength = static_cast<size_t>(length);
  layers->append(layer);
  return 1;
}

}  // namespace

// ---- Path data ----

namespace {

// The abbreviated geometry syntax (XPS 1.0 and ECMA-388, "Abbreviated Geometry Syntax"): a
// fill rule F0/F1, then commands M L H V C Q S A Z, each upper case absolute and lower case
// relative to the current point, each repeated implicitly while numbers follow (further pairs
// after a move are lines). The box holds every end and control point, and an arc's extent.
struct PathScanner {
  const char* at;

  void skip_separators() {
    while (*at == ' ' || *at == ',' || *at == '\t' || *at == '\n' || *at == '\r') ++at;
  }
  bool number_follows() {
    skip_separators();
    const char c = *at;
    return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.';
  }
  // A decimal number: sign, digits, fraction, exponent; nothing strtod would take besides
  // (hexadecimal, "inf", "nan").
  bool number(double* v) {
    if (!number_follows()) return false;
    const char* p = at;
    if (*p == '-' || *p == '+') ++p;
    const char* digits = p;
    while (*p >= '0' && *p <= '9') ++p;
    if (*p == '.') ++p;
    while (*p >= '0' && *p <= '9') ++p;
    if (p == digits || (p == digits + 1 && *digits == '.')) return false;
    if (*p == 'e' || *p == 'E') {
      const char* e = p + 1;
      if (*e == '-' || *e == '+') ++e;
      if (*e >= '0' && *e <= '9') {
        while (*e >= '0' && *e <= '9') ++e;
        p = e;
      }
    }
    char* end = nullptr;
    *v = std::strtod(at, &end);
    if (end != p || !std::isfinite(*v)) return false;
    at = p;
    return true;
  }
  bool numbers(double* v, int count) {
    for (int i = 0; i < count; ++i)
      if (!number(&v[i])) return false;
    return true;
  }
};

struct PathBox {
  double min_x = 1.7976931348623157e308, min_y = 1.7976931348623157e308;
  double max_x = -1.7976931348623157e308, max_y = -1.7976931348623157e308;
  bool any = false;

  void add(double x, double y) {
    min_x = std::fmin(min_x, x);
    max_x = std::fmax(max_x, x);
    min_y = std::fmin(min_y, y);
    max_y = std::fmax(max_y, y);
    any = true;
  }
};

// The points of an elliptical arc from (x0, y0) to (x1, y1), through its centre form (the
// endpoint-to-centre conversion of SVG 1.1, F.6.5, which XPS arcs share). Sampled finely
// enough that the box misses less than a thousandth of the radius.
void add_arc(PathBox* box, double x0, double y0, double rx, double ry, double degrees, bool large, bool sweep,
             double x1, double y1) {
  rx = std::fabs(rx);
  ry = std::fabs(ry);
  box->add(x1, y1);
  if (rx == 0 || ry == 0 || (x0 == x1 && y0 == y1)) return;
  const double phi = degrees * M_PI / 180.0, c = std::cos(phi), s = std::sin(phi);
  const double dx = (x0 - x1) / 2, dy = (y0 - y1) / 2;
  const double xp = c * dx + s * dy, yp = -s * dx + c * dy;
  const double lambda = (xp * xp) / (rx * rx) + (yp * yp) / (ry * ry);
  if (lambda > 1) {
    rx *= std::sqrt(lambda);
    ry *= std::sqrt(lambda);
  }
  const double num = rx * rx * ry * ry - rx * rx * yp * yp - ry * ry * xp * xp;
  const double den = rx * rx * yp * yp + ry * ry * xp * xp;
  double k = den > 0 && num > 0 ? std::sqrt(num / den) : 0;
  if (large == sweep) k = -k;
  const double cxp = k * rx * yp / ry, cyp = -k * ry * xp / rx;
  const double cx = c * cxp - s * cyp + (x0 + x1) / 2, cy = s * cxp + c * cyp + (y0 + y1) / 2;
  const double start = std::atan2((yp - cyp) / ry, (xp - cxp) / rx);
  double span = std::atan2((-yp - cyp) / ry, (-xp - cxp) / rx) - start;
  if (sweep && span < 0) span += 2 * M_PI;
  if (!sweep && span > 0) span -= 2 * M_PI;
  constexpr int kSteps = 256;
  for (int i = 1; i < kSteps; ++i) {
    const double t = start + span * i / kSteps;
    const double ex = rx * std::cos(t), ey = ry * std::sin(t);
    box->add(cx + c * ex - s * ey, cy + s * ex + c * ey);
  }
}

}  // namespace

int __XPSParsePathData(const char* data, double box[4]) {
  constexpr char kName[] = "__XPSParsePathData";
  PathScanner scan{data};
  PathBox found;
  double x = 0, y = 0, start_x = 0, start_y = 0;
  char command = 0;
  const char* problem = nullptr;
  scan.skip_separators();
  if (*scan.at == 'F' || *scan.at == 'f') {
    ++scan.at;
    double rule = 0;
    if (!scan.number(&rule) || (rule != 0 && rule != 1)) problem = "the fill rule is not 0 or 1";
  }
  while (!problem) {
    scan.skip_separators();
    if (!*scan.at) break;
    if (!scan.number_follows()) {
      command = *scan.at++;
      if (command == 'Z' || command == 'z') {
        x = start_x;
        y = start_y;
        command = 0;
        continue;
      }
      if (!std::strchr("MLHVCQSAmlhvcqsa", command)) {
        problem = "an unknown command";
        break;
      }
    } else if (!command) {
      problem = "numbers without a command";
      break;
    }
    const bool relative = command >= 'a';
    const double ox = relative ? x : 0, oy = relative ? y : 0;
    double v[7];
    switch (command | 0x20) {
      case 'm':
      case 'l':
        if (!scan.numbers(v, 2)) break;
        x = ox + v[0];
        y = oy + v[1];
        found.add(x, y);
        if ((command | 0x20) == 'm') {
          start_x = x;
          start_y = y;
          command = relative ? 'l' : 'L';
        }
        continue;
      case 'h':
        if (!scan.numbers(v, 1)) break;
        x = ox + v[0];
        found.add(x, y);
        continue;
      case 'v':
        if (!scan.numbers(v, 1)) break;
        y = oy + v[0];
        found.add(x, y);
        continue;
      case 'c':
      case 'q':
      case 's': {
        const int pairs = (command | 0x20) == 'c' ? 3 : 2;
        if (!scan.numbers(v, pairs * 2)) break;
        for (int i = 0; i < pairs; ++i) found.add(ox + v[2 * i], oy + v[2 * i + 1]);
        x = ox + v[2 * pairs - 2];
        y = oy + v[2 * pairs - 1];
        continue;
      }
      case 'a':
        if (!scan.numbers(v, 7)) break;
        add_arc(&found, x, y, v[0], v[1], v[2], v[3] != 0, v[4] != 0, ox + v[5], oy + v[6]);
        x = ox + v[5];
        y = oy + v[6];
        continue;
    }
    problem = "a command without all its numbers";
  }
  if (!problem && !found.any) problem = "no point";
  if (problem) {
    KVngError("%s: Cannot determine bounding box of path data '%.64s' (%s)\n", kName, data, problem);
    return -1;
  }
  box[0] = found.min_x;
  box[1] = found.min_y;
  box[2] = found.max_x - found.min_x;
  box[3] = found.max_y - found.min_y;
  return 1;
}

// ---- Canvases ----

int __XPSRenderCanvas(XPSFixedPage* page, xmlNodePtr canvas, const xps::Transform* parent, XPSLayerList* layers) {
  constexpr char kName[] = "__XPSRenderCanvas";
  const double opacity = read_opacity(canvas, kName);
  xps::Transform transform;
  if (read_render_transform(canvas, &transform, kName) != 1) return -1;
  if (parent) xps::concatenate(&transform, *parent);
  xmlNodeSetPtr elements = xmlXPathNodeSetCreate(nullptr);
  if (!elements) {
    KVngError("%s: Cannot create node set for rendering elements\n", kName);
    return -1;
  }
  xmlNodePtr matrix = nullptr;
  int status = 1;
  for (xmlNodePtr child = canvas->children; child && status == 1; child = child->next) {
    if (child->type != XML_ELEMENT_NODE) continue;
    if (xps::element_is(child, "Canvas.RenderTransform")) {
      take_matrix(child, &matrix, "%s: Ignored extra Canvas.RenderTransform element\n", kName);
    } else if (xps::element_is(child, "Canvas.OpacityMask")) {
      pick_brush(child, "%s: No Brush element in Canvas.OpacityMask\n", kName);
    } else if (xps::element_is(child, "Canvas.Clip")) {
      KVngError("%s: Skipped Canvas.Clip element\n", kName);
    } else if (xps::element_is(child, "Canvas.Resources")) {
      KVngError("%s: Skipped Canvas.Resources element\n", kName);
    } else if (xps::element_is(child, "Path") || xps::element_is(child, "Glyphs") ||
               xps::element_is(child, "Canvas")) {
      // Each child is met once: the unique add spares the duplicate search, which would make a
      // canvas of many children quadratic.
      if (xmlXPathNodeSetAddUnique(elements, child) != 0) status = 0;
    } else {
      KVngError("%s: Skipping illegal element <%s>\n", kName, text(child->name));
    }
  }
  if (status == 1) status = apply_matrix(matrix, &transform, kName);
  xmlDocPtr glyphs = nullptr;
  // Layers of this canvas go to a list of its own first, so that a failure leaves the caller's
  // list as it was.
  XPSLayerList own;
  for (int i = 0; status == 1 && i < xmlXPathNodeSetGetLength(elements); ++i) {
    xmlNodePtr node = xmlXPathNodeSetItem(elements, i);
    if (xps::element_is(node, "Path")) {
      status = render_path(page, node, transform, &own);
    } else if (xps::element_is(node, "Glyphs")) {
      status = add_glyphs(page, node, &glyphs);
    } else {
      status = __XPSRenderCanvas(page, node, &transform, &own);
    }
  }
  if (status == 1 && glyphs && xmlDocGetRootElement(glyphs) && xmlDocGetRootElement(glyphs)->children)
    status = glyph_layer(page, glyphs, opacity, transform, &own);
  if (glyphs) xmlFreeDoc(glyphs);
  xmlXPathFreeNodeSet(elements);
  if (status != 1) {
    own.free_all();
    return status;
  }
  layers->append(&own);
  return 1;
}

// ---- Pages ----

extern "C" {

void XPSSetFontMetrics(const XPSFontMetrics* metrics) {
  fonts = metrics ? *metrics : XPSFontMetrics{estimate_index, estimate_code, estimate_code, estimate_width};
}

const XPSFontMetrics* XPSGetFontMetrics(void) { return &fonts; }

int XPSFixedPageRender(XPSFixedPage* page, QELImage** image) {
  constexpr char kName[] = "XPSFixedPageRender";
  if (!page || !image) return 0;
  *image = nullptr;
  QELImage* made = nullptr;
  if (!__XPSNewImage(page->width, page->height, 96.0, 96.0, &made)) return 0;
  // Each rendering counts what it pulls in afresh, after the markup the page was read from.
  page->pulledParts = 1;
  page->pulledBytes = page->markupBytes;
  XPSLayerList layers;
  int status = page->canvasRoot ? __XPSRenderCanvas(page, page->canvasRoot, nullptr, &layers) : 1;
  QELImage* thumbnail = nullptr;
  if (status == 1) status = XPSFixedPageGetThumbnail(page, &thumbnail);
  if (status != 1) {
    layers.free_all();
    XPSFreeImage(made);
    return status;
  }
  if (thumbnail && thumbnail->layers) {
    XPSLayerList moved;
    moved.first = thumbnail->layers;
    for (moved.last = moved.first; moved.last->next; moved.last = moved.last->next) {
    }
    layers.append(&moved);
    thumbnail->layers = nullptr;
    thumbnail->layerCount = 0;
  }
  made->layers = layers.first;
  uint32_t max_x = 0, max_y = 0;
  int32_t count = 0;
  for (QELLayer* layer = made->layers; layer; layer = layer->next) {
    ++count;
    if (layer->xres > max_x) max_x = layer->xres;
    if (layer->yres > max_y) max_y = layer->yres;
  }
  made->layerCount = count;
  // A page of no layers keeps its size at 96 pixels per inch.
  if (count == 0) max_x = max_y = 96;
  const double sx = max_x / 96.0, sy = max_y / 96.0;
  const double width = page->width * sx + 0.5, height = page->height * sy + 0.5;
  if (width > xps::kMaxPagePixels || height > xps::kMaxPagePixels) {
    KVngError("%s: Page of %g x %g units at %u x %u pixels per inch is too large to render\n", kName, page->width,
              page->height, max_x, max_y);
    XPSFreeImage(made);
    return -1;
  }
  made->width = xps::to_unsigned(width);
  made->height = xps::to_unsigned(height);
  made->xres = max_x;
  made->yres = max_y;
  for (QELLayer* layer = made->layers; layer; layer = layer->next) {
    const int32_t kind = layer->kind;
    if (!(kind == -1 || (kind >= 1 && kind <= 4) || (kind >= 6 && kind <= 17))) continue;
    layer->x = xps::to_int(layer->x * sx + 0.5);
    layer->y = xps::to_int(layer->y * sy + 0.5);
    layer->width = xps::to_unsigned(layer->width * sx + 0.5);
    layer->height = xps::to_unsigned(layer->height * sy + 0.5);
    layer->window[0] *= sx;
    layer->window[1] *= sy;
    layer->window[2] *= sx;
    layer->window[3] *= sy;
    if (layer->transform) {
      layer->transform[4] *= sx;
      layer->transform[5] *= sy;
    }
  }
  *image = made;
  return 1;
}

}  // extern "C"
