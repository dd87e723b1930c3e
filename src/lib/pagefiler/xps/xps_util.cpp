// Helpers of the XPS reader: names, numbers, boxes and transforms.

#include "xps_util.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "kvng.h"

namespace xps {

bool is_name(const xmlChar* name, const char* expected) {
  return name && std::strcmp(reinterpret_cast<const char*>(name), expected) == 0;
}

char* copy_string(const char* s) {
  if (!s) return nullptr;
  const size_t n = std::strlen(s) + 1;
  auto* copy = static_cast<char*>(kvng_internal_calloc(n, 1));
  if (copy) std::memcpy(copy, s, n);
  return copy;
}

int parse_numbers(const char* s, double* out, int count) {
  if (!s) return -1;
  const char* at = s;
  for (int i = 0; i < count; ++i) {
    while (std::isspace(static_cast<unsigned char>(*at))) ++at;
    if (i > 0 && *at == ',') {
      ++at;
      while (std::isspace(static_cast<unsigned char>(*at))) ++at;
    }
    char* end = nullptr;
    out[i] = std::strtod(at, &end);
    if (end == at || !std::isfinite(out[i])) return -1;
    at = end;
  }
  while (std::isspace(static_cast<unsigned char>(*at))) ++at;
  return *at ? -1 : 1;
}

int parse_transform(const char* s, Transform* t) {
  *t = Transform{};
  if (!s) return 1;
  return parse_numbers(s, t->m, 6);
}

bool is_identity(const Transform& t) {
  return t.m[0] == 1 && t.m[1] == 0 && t.m[2] == 0 && t.m[3] == 1 && t.m[4] == 0 && t.m[5] == 0;
}

namespace {

Transform product(const Transform& first, const Transform& then) {
  const double* p = first.m;
  const double* q = then.m;
  Transform r;
  r.m[0] = p[0] * q[0] + p[1] * q[2];
  r.m[1] = p[0] * q[1] + p[1] * q[3];
  r.m[2] = p[2] * q[0] + p[3] * q[2];
  r.m[3] = p[2] * q[1] + p[3] * q[3];
  r.m[4] = p[4] * q[0] + p[5] * q[2] + q[4];
  r.m[5] = p[4] * q[1] + p[5] * q[3] + q[5];
  return r;
}

}  // namespace

void concatenate(Transform* t, const Transform& after) { *t = product(*t, after); }
void preconcatenate(Transform* t, const Transform& before) { *t = product(before, *t); }

// M = [sx 0; 0 sy] shear [1 0; k 1] rotation, in row-vector form: the x axis keeps its length
// in sx and direction in angle, y takes the rest.
TransformParts decompose(const Transform& t) {
  const double a = t.m[0], b = t.m[1], c = t.m[2], d = t.m[3];
  TransformParts p{};
  p.sx = std::hypot(a, b);
  p.angle = std::atan2(b, a);
  p.sy = p.sx > 0 ? (a * d - b * c) / p.sx : std::hypot(c, d);
  p.shear = p.sx > 0 ? (a * c + b * d) / (p.sx * p.sx) : 0;
  p.tx = t.m[4];
  p.ty = t.m[5];
  return p;
}

Transform from_parts(const TransformParts& p) {
  const double cs = std::cos(p.angle), sn = std::sin(p.angle);
  Transform t;
  t.m[0] = p.sx * cs;
  t.m[1] = p.sx * sn;
  // Row two is shear times row one plus sy along the perpendicular.
  t.m[2] = p.shear * p.sx * cs - p.sy * sn;
  t.m[3] = p.shear * p.sx * sn + p.sy * cs;
  t.m[4] = p.tx;
  t.m[5] = p.ty;
  return t;
}

void apply_to_window(const Transform& t, const double in[4], double out[4]) {
  const double xs[2] = {in[0], in[0] + in[2]};
  const double ys[2] = {in[1], in[1] + in[3]};
  double x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
  for (double x : xs) {
    for (double y : ys) {
      const double px = t.m[0] * x + t.m[2] * y + t.m[4];
      const double py = t.m[1] * x + t.m[3] * y + t.m[5];
      x0 = std::fmin(x0, px);
      y0 = std::fmin(y0, py);
      x1 = std::fmax(x1, px);
      y1 = std::fmax(y1, py);
    }
  }
  out[0] = x0;
  out[1] = y0;
  out[2] = x1 - x0;
  out[3] = y1 - y0;
}

}  // namespace xps
