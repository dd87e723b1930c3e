#ifndef XPS_UTIL_H
#define XPS_UTIL_H

// Small helpers the XPS reader shares: names and texts from libxml2, numbers and boxes as XPS
// writes them, and 2-D affine transforms.

#include <libxml/xmlstring.h>

#include <cstddef>

namespace xps {

// The largest page side accepted, in 1/96 inch: 100 metres, far beyond any medium.
constexpr double kMaxPageUnits = 96.0 * 4000.0;
// The largest side of a rendered page image in pixels: a 600 ppi page of 5.5 metres.
constexpr double kMaxPagePixels = 131072.0;

inline const char* text(const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : ""; }
bool is_name(const xmlChar* name, const char* expected);
// A copy on the engine heap, or null.
char* copy_string(const char* s);
// Exactly count finite numbers separated by commas and/or white space: 1, or -1.
int parse_numbers(const char* s, double* out, int count);

// An affine transform: (x, y) goes to (m0 x + m2 y + m4, m1 x + m3 y + m5), the XPS order
// M11, M12, M21, M22, OffsetX, OffsetY.
struct Transform {
  double m[6] = {1, 0, 0, 1, 0, 0};
};

// A matrix text ("M11,M12,M21,M22,OffsetX,OffsetY"); null gives the identity. 1, or -1.
int parse_transform(const char* s, Transform* t);
bool is_identity(const Transform& t);
// t becomes t followed by after.
void concatenate(Transform* t, const Transform& after);
// t becomes before followed by t.
void preconcatenate(Transform* t, const Transform& before);
// Scales along x and y (signed, y taking the reflection), rotation angle, shear and offset.
struct TransformParts {
  double sx, sy, angle, shear, tx, ty;
};
TransformParts decompose(const Transform& t);
Transform from_parts(const TransformParts& p);
// The bounding box of a window (x, y, width, height) mapped by t.
void apply_to_window(const Transform& t, const double in[4], double out[4]);

}  // namespace xps

#endif
