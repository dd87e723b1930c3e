#ifndef XPS_RENDER_INTERNAL_H
#define XPS_RENDER_INTERNAL_H

// The page renderer's pieces: canvases, paths and glyphs (xps_render.cpp) and brushes and
// colours (xps_brush.cpp), over a list of layers in drawing order.

#include <libxml/tree.h>

#include <cstdint>

#include "mono_export.h"
#include "qel_struct.h"
#include "xps_package.h"
#include "xps_util.h"

struct XPSLayerList {
  QELLayer* first = nullptr;
  QELLayer* last = nullptr;

  void append(QELLayer* layer);
  void append(XPSLayerList* other);  // takes other's layers
  void free_all();
};

// Colour model code of a parsed colour; 0 is no colour.
constexpr int32_t kColourModelRgb = 111;

// Parses "#RRGGBB" or "#AARRGGBB" into red, green, blue and model (the fourth word untouched);
// anything else is reported and leaves model 0.
MONO_API void __StrToColor(const char* text, int32_t colour[5]);
// Appends a colour rectangle over box; transform null or the identity adds no transform array.
int __XPSRenderColorRectangle(XPSFixedPage* page, const int32_t colour[5], const double box[4],
                              const xps::Transform* transform, XPSLayerList* layers);
// Appends the layers of a SolidColorBrush or ImageBrush element; other brushes add none.
int __XPSRenderBrush(XPSFixedPage* page, xmlNodePtr brush, const double box[4], const xps::Transform* transform,
                     XPSLayerList* layers);
int __XPSRenderCanvas(XPSFixedPage* page, xmlNodePtr canvas, const xps::Transform* parent, XPSLayerList* layers);
// The bounding box of path data (x, y, width, height); 1, or -1 when it has no coordinate pair.
MONO_API int __XPSParsePathData(const char* data, double box[4]);

// Helpers shared by both files.
namespace xps {
// A double cut toward zero into the int32 range, and into the uint32 range (negative is 0).
int32_t to_int(double v);
uint32_t to_unsigned(double v);
// A new six-number transform array on the engine heap, or null.
double* transform_array(const Transform& t);
xmlChar* attribute(xmlNodePtr node, const char* name);
bool element_is(xmlNodePtr node, const char* name);
}  // namespace xps

#endif
