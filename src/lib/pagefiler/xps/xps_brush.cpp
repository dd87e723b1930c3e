// XPS brushes and colours: solid colour brushes become colour rectangles, image brushes the
// layers of their decoded image placed by viewport and transform.

#include <libxml/xmlmemory.h>

#include <cmath>
#include <cstring>

#include "kvng.h"
#include "kvng_print.h"
#include "qel_image.h"
#include "xps_image.h"
#include "xps_render_internal.h"

namespace {

using xps::text;

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

int hex_byte(const char* s) { return hex_digit(s[0]) * 16 + hex_digit(s[1]); }

// The image part an ImageSource names (a new string on the engine heap). Besides a plain part
// name it may be a markup extension (XAML): "{ColorConvertedBitmap image profile}" names the
// image and the colour profile it was made in, which is not applied here; "{}" before a name
// escapes a name that begins with '{'. 1, 0 without memory, -1 for another extension.
int image_source_name(const char* value, char** name, const char* caller) {
  *name = nullptr;
  const char* begin = value;
  const char* end = value + std::strlen(value);
  if (std::strncmp(value, "{}", 2) == 0) {
    begin = value + 2;
  } else if (value[0] == '{') {
    constexpr char kExtension[] = "ColorConvertedBitmap";
    const char* at = value + 1;
    while (*at == ' ') ++at;
    const size_t length = std::strlen(kExtension);
    const char* close = std::strchr(at, '}');
    if (std::strncmp(at, kExtension, length) != 0 || at[length] != ' ' || !close) {
      KVngError("%s: ImageSource '%s' is a markup extension other than ColorConvertedBitmap\n", caller, value);
      return -1;
    }
    begin = at + length;
    while (*begin == ' ') ++begin;
    end = begin;
    while (end < close && *end != ' ') ++end;
    if (end == begin) {
      KVngError("%s: ImageSource '%s' names no image\n", caller, value);
      return -1;
    }
  }
  const size_t n = static_cast<size_t>(end - begin);
  auto* copy = static_cast<char*>(kvng_internal_calloc(n + 1, 1));
  if (!copy) return 0;
  std::memcpy(copy, begin, n);
  *name = copy;
  return 1;
}

int render_image_brush(XPSFixedPage* page, xmlNodePtr brush, const xps::Transform* pathTransform,
                       XPSLayerList* layers) {
  constexpr char kName[] = "__XPSRenderImage";
  static constexpr const char* kRequired[] = {"ImageSource", "Viewbox", "ViewboxUnits", "Viewport", "ViewportUnits"};
  xmlChar* values[5] = {};
  int status = 1;
  for (int i = 0; i < 5 && status == 1; ++i) {
    if (!(values[i] = xps::attribute(brush, kRequired[i]))) {
      KVngError("%s: No %s attribute in ImageBrush element\n", kName, kRequired[i]);
      status = -1;
    }
  }
  // The brush's own transform (attribute, then any matrix child) places the viewport in the
  // path's space; the path's transform then places that on the page.
  xps::Transform transform;
  xmlChar* own = status == 1 ? xps::attribute(brush, "Transform") : nullptr;
  if (status == 1 && xps::parse_transform(own ? text(own) : nullptr, &transform) != 1) {
    KVngError("%s: Cannot parse Transform '%s'\n", kName, text(own));
    status = -1;
  }
  xmlFree(own);
  xmlNodePtr matrix = nullptr;
  for (xmlNodePtr child = status == 1 ? brush->children : nullptr; child; child = child->next) {
    if (!xps::element_is(child, "ImageBrush.Transform")) continue;
    for (xmlNodePtr m = child->children; m; m = m->next)
      if (xps::element_is(m, "MatrixTransform")) matrix = m;
  }
  if (matrix) {
    xmlChar* text_matrix = xps::attribute(matrix, "Matrix");
    xps::Transform m;
    if (xps::parse_transform(text_matrix ? text(text_matrix) : "", &m) != 1) {
      KVngError("%s: Cannot parse MatrixTransform '%s'\n", kName, text(text_matrix));
      status = -1;
    } else {
      xps::concatenate(&transform, m);
    }
    xmlFree(text_matrix);
  }
  if (status == 1 && pathTransform) xps::concatenate(&transform, *pathTransform);
  double viewbox[4], viewport[4];
  if (status == 1 && (xps::parse_numbers(text(values[1]), viewbox, 4) != 1 ||
                      xps::parse_numbers(text(values[3]), viewport, 4) != 1)) {
    KVngError("%s: Cannot parse Viewbox '%s' or Viewport '%s'\n", kName, text(values[1]), text(values[3]));
    status = -1;
  }
  char* source = nullptr;
  char* named = nullptr;
  if (status == 1) status = image_source_name(text(values[0]), &named, kName);
  if (status == 1) status = XPSResolvePartName(page->partName, named, kName, &source);
  kvng_internal_free(named);
  QELImage* image = nullptr;
  if (status == 1) status = XPSFixedPageCharge(page, 1, 0, source);
  if (status == 1) status = XPSArchiveLoadImage(page->archive, source, 0, &image);
  if (status == 1) {
    int64_t pixels = 0;
    for (const QELLayer* layer = image->layers; layer; layer = layer->next)
      pixels += static_cast<int64_t>(layer->dataLength);
    status = XPSFixedPageCharge(page, 0, pixels, source);
    if (status != 1) XPSFreeImage(image);
  }
  kvng_internal_free(source);
  for (xmlChar* v : values) xmlFree(v);
  if (status != 1) return status;

  // A viewport smaller than its viewbox under an enlarging transform: the enlargement goes into
  // the viewport, so the layer's resolution reflects the pixels it really spreads over.
  xps::TransformParts parts = xps::decompose(transform);
  if ((viewport[2] < viewbox[2] && parts.sx > 1) || (viewport[3] < viewbox[3] && parts.sy > 1)) {
    viewport[0] *= parts.sx;
    viewport[2] *= parts.sx;
    viewport[1] *= parts.sy;
    viewport[3] *= parts.sy;
    parts.sx = parts.sx < 0 ? -1 : 1;
    parts.sy = parts.sy < 0 ? -1 : 1;
    transform = xps::from_parts(parts);
  }
  double placed[4];
  xps::apply_to_window(transform, viewport, placed);
  const bool identity = xps::is_identity(transform);
  for (QELLayer* layer = image->layers; layer; layer = layer->next) {
    std::memcpy(layer->window, viewport, sizeof viewport);
    if (!identity && !(layer->transform = xps::transform_array(transform))) {
      KVngError("%s: Cannot convert transform to array\n", kName);
      XPSFreeImage(image);
      return 0;
    }
    layer->x = xps::to_int(placed[0] + 0.5);
    layer->y = xps::to_int(placed[1] + 0.5);
    layer->width = xps::to_unsigned(placed[2] + 0.5);
    layer->height = xps::to_unsigned(placed[3] + 0.5);
    const uint32_t pixels_x = layer->header ? layer->header->width : 0;
    const uint32_t pixels_y = layer->header ? layer->header->height : 0;
    if (layer->xres == 0 || layer->xres == 96)
      layer->xres = viewport[2] == 0 ? 96 : xps::to_unsigned(pixels_x / (viewport[2] / 96) + 0.5);
    if (layer->yres == 0 || layer->yres == 96)
      layer->yres = viewport[3] == 0 ? 96 : xps::to_unsigned(pixels_y / (viewport[3] / 96) + 0.5);
  }
  XPSLayerList taken;
  taken.first = image->layers;
  for (taken.last = taken.first; taken.last && taken.last->next; taken.last = taken.last->next) {
  }
  image->layers = nullptr;
  image->layerCount = 0;
  XPSFreeImage(image);
  layers->append(&taken);
  return 1;
}

}  // namespace

void __StrToColor(const char* colour_text, int32_t colour[5]) {
  constexpr char kName[] = "__StrToColor";
  if (!colour_text || colour_text[0] != '#') {
    KVngError("%s: Cannot parse color %s\n", kName, colour_text ? colour_text : "");
    colour[0] = colour[1] = colour[2] = colour[3] = colour[4] = 0;
    return;
  }
  const char* digits = colour_text + 1;
  const size_t length = std::strlen(digits);
  int alpha = 255, red = 0, green = 0, blue = 0;
  if (length == 6) {
    red = hex_byte(digits);
    green = hex_byte(digits + 2);
    blue = hex_byte(digits + 4);
  } else if (length == 8) {
    alpha = hex_byte(digits);
    red = hex_byte(digits + 2);
    green = hex_byte(digits + 4);
    blue = hex_byte(digits + 6);
  }
  if (alpha != 255) KVngError("%s: Ignoring Alpha value: %d\n", kName, alpha);
  colour[0] = red;
  colour[1] = green;
  colour[2] = blue;
  colour[4] = kColourModelRgb;
}

int __XPSRenderColorRectangle(XPSFixedPage*, const int32_t colour[5], const double box[4],
                              const xps::Transform* transform, XPSLayerList* layers) {
  auto* layer = static_cast<QELLayer*>(kvng_internal_calloc(1, sizeof(QELLayer)));
  if (!layer) return 0;
  layer->kind = QEL_KIND_RECTANGLE;
  layer->x = xps::to_int(box[0]);
  layer->y = xps::to_int(box[1]);
  layer->width = xps::to_unsigned(box[2]);
  layer->height = xps::to_unsigned(box[3]);
  std::memcpy(layer->colour, colour, sizeof layer->colour);
  layer->xres = layer->yres = 96;
  // An opaque rectangle: a zero opacity would hide it from whoever composes the layers.
  layer->opacity = 1.0;
  std::memcpy(layer->window, box, sizeof layer->window);
  if (transform && !xps::is_identity(*transform) && !(layer->transform = xps::transform_array(*transform))) {
    kvng_internal_free(layer);
    return 0;
  }
  layers->append(layer);
  return 1;
}

int __XPSRenderBrush(XPSFixedPage* page, xmlNodePtr brush, const double box[4], const xps::Transform* transform,
                     XPSLayerList* layers) {
  if (xps::element_is(brush, "SolidColorBrush")) {
    // A brush without Color paints nothing.
    xmlChar* value = xps::attribute(brush, "Color");
    if (!value) {
      KVngError("%s: SolidColorBrush without Color\n", "__XPSRenderBrush");
      return 1;
    }
    int32_t colour[5] = {};
    __StrToColor(text(value), colour);
    xmlFree(value);
    if (colour[4] == 0) return 1;
    return __XPSRenderColorRectangle(page, colour, box, transform, layers);
  }
  if (xps::element_is(brush, "ImageBrush")) return render_image_brush(page, brush, transform, layers);
  KVngError("%s: Skipping element <%s>\n", "__XPSRenderBrush", brush ? text(brush->name) : "");
  return 1;
}
