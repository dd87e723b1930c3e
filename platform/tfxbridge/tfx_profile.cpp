// The fax profiles' rules for pages.

#include "tfx_profile.h"

#include <cmath>
#include <span>

#include "tfxbridge.h"

namespace tfx {
namespace {

struct Resolution {
  uint16_t x, y;
};

// The widths of one resolution class: letter/A4, B4, A3 paper.
struct Widths {
  uint16_t xlo, xhi;
  uint16_t width[3];
};

constexpr Resolution kResolutionsS[] = {{204, 98}, {204, 196}, {200, 100}, {200, 200}};
constexpr Resolution kResolutionsF[] = {{204, 98},  {204, 196}, {200, 100}, {200, 200},
                                        {204, 391}, {300, 300}, {400, 400}, {408, 391}};
constexpr Resolution kResolutionsC[] = {{100, 100}, {200, 200}, {300, 300}, {400, 400}};

constexpr Widths kWidthsS[] = {{200, 204, {1728, 1728, 1728}}};
constexpr Widths kWidths[] = {{100, 100, {864, 1024, 1216}},
                              {200, 204, {1728, 2048, 2432}},
                              {300, 300, {2592, 3072, 3648}},
                              {400, 408, {3456, 4096, 4864}}};

constexpr uint32_t kFaxCodings = TFX_CODING_T4_1D | TFX_CODING_T4_2D | TFX_CODING_T6;

struct Rules {
  std::span<const Resolution> resolutions;
  std::span<const Widths> widths;
  uint32_t codings;
};

constexpr Rules kRulesS{kResolutionsS, kWidthsS, TFX_CODING_T4_1D};
constexpr Rules kRulesF{kResolutionsF, kWidths, kFaxCodings};
constexpr Rules kRulesColour{kResolutionsC, kWidths, TFX_CODING_JPEG};

bool contone(int32_t colorType) { return colorType == TFX_CTYPE_GREY8 || colorType == TFX_CTYPE_RGB24; }

// The rules for a page of the colour type, or null when the profile takes no such page.
const Rules* rules_for(int32_t profile, int32_t colorType) {
  switch (profile) {
    case TFX_CREATE_S:
      return colorType == TFX_CTYPE_BILEVEL ? &kRulesS : nullptr;
    case TFX_CREATE_F:
      return colorType == TFX_CTYPE_BILEVEL ? &kRulesF : nullptr;
    case TFX_CREATE_C:
      return colorType == TFX_CTYPE_BILEVEL ? &kRulesF : contone(colorType) ? &kRulesColour : nullptr;
    default:
      return nullptr;
  }
}

const Widths* widths_at(const Rules& rules, uint32_t xres) {
  for (const Widths& w : rules.widths) {
    if (xres >= w.xlo && xres <= w.xhi) return &w;
  }
  return nullptr;
}

bool resolution_allowed(const Rules& rules, uint32_t xres, uint32_t yres) {
  for (const Resolution& r : rules.resolutions) {
    if (r.x == xres && r.y == yres) return true;
  }
  return false;
}

bool width_allowed(const Rules& rules, uint32_t xres, uint32_t width) {
  const Widths* w = widths_at(rules, xres);
  if (!w) return false;
  for (uint16_t v : w->width) {
    if (v == width) return true;
  }
  return false;
}

// The allowed resolution with the largest x not above xres and, among those, the largest y not
// above yres (else the smallest y); the smallest x when every x is above xres.
Resolution nearest_resolution(const Rules& rules, uint32_t xres, uint32_t yres) {
  uint32_t best_x = 0;
  for (const Resolution& r : rules.resolutions) {
    if (r.x <= xres && r.x > best_x) best_x = r.x;
  }
  if (best_x == 0) {
    best_x = UINT32_MAX;
    for (const Resolution& r : rules.resolutions) best_x = r.x < best_x ? r.x : best_x;
  }
  const Resolution* below = nullptr;
  const Resolution* lowest = nullptr;
  for (const Resolution& r : rules.resolutions) {
    if (r.x != best_x) continue;
    if (r.y <= yres && (!below || r.y > below->y)) below = &r;
    if (!lowest || r.y < lowest->y) lowest = &r;
  }
  return below ? *below : *lowest;
}

uint32_t scaled(uint32_t size, uint32_t to, uint32_t from) {
  if (from == 0 || to == from) return size;
  const double v = std::floor(static_cast<double>(size) * to / from + 0.5);
  return v < 1 ? 1 : v > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<uint32_t>(v);
}

}  // namespace

bool profile_constrains(int32_t profile) {
  return profile == TFX_CREATE_S || profile == TFX_CREATE_F || profile == TFX_CREATE_C;
}

uint32_t profile_codings(int32_t profile, int32_t colorType) {
  if (!profile_constrains(profile)) return ~0u;
  const Rules* rules = rules_for(profile, colorType);
  return rules ? rules->codings : 0;
}

const char* profile_refusal(int32_t profile, const PageShape& page) {
  if (!profile_constrains(profile)) return "";
  const Rules* rules = rules_for(profile, page.colorType);
  if (!rules) return "the profile takes no page of this colour type";
  if (page.colorType == TFX_CTYPE_BILEVEL && page.colorSpace != TFX_CSPACE_NONE &&
      page.colorSpace != TFX_CSPACE_WHITE_IS_ZERO) {
    return "fax pages are white-is-zero";
  }
  if (!resolution_allowed(*rules, page.xres, page.yres)) return "the profile takes no page of this resolution";
  if (!width_allowed(*rules, page.xres, page.width)) return "the profile takes no page of this width";
  return "";
}

const char* coding_names(uint32_t codings) {
  switch (codings) {
    case TFX_CODING_NONE:
      return "uncompressed";
    case TFX_CODING_T4_1D:
      return "one-dimensional G3";
    case TFX_CODING_T4_1D | TFX_CODING_T4_2D | TFX_CODING_T6:
      return "G3 or G4";
    case TFX_CODING_T4_2D:
      return "two-dimensional G3";
    case TFX_CODING_T6:
      return "G4";
    case TFX_CODING_JPEG:
      return "JPEG";
    case TFX_CODING_PACKBITS:
      return "PackBits";
    case TFX_CODING_DEFLATE:
      return "Deflate";
    case TFX_CODING_LZW:
      return "LZW";
    default:
      return "otherwise coded";
  }
}

PageShape profile_fit(int32_t profile, const PageShape& page) {
  if (!profile_constrains(profile)) return page;
  PageShape fit = page;
  if (!rules_for(profile, fit.colorType)) {
    fit.colorType = TFX_CTYPE_BILEVEL;
    fit.colorSpace = TFX_CSPACE_WHITE_IS_ZERO;
  }
  if (fit.colorType == TFX_CTYPE_BILEVEL && fit.colorSpace == TFX_CSPACE_BLACK_IS_ZERO) {
    fit.colorSpace = TFX_CSPACE_WHITE_IS_ZERO;
  }
  const Rules& rules = *rules_for(profile, fit.colorType);
  if (!resolution_allowed(rules, fit.xres, fit.yres)) {
    const Resolution r = nearest_resolution(rules, page.xres, page.yres);
    fit.xres = r.x;
    fit.yres = r.y;
    fit.width = scaled(page.width, r.x, page.xres);
    fit.height = scaled(page.height, r.y, page.yres);
  }
  if (!width_allowed(rules, fit.xres, fit.width)) {
    const Widths& w = *widths_at(rules, fit.xres);
    uint32_t chosen = w.width[2];
    for (uint16_t v : w.width) {
      if (v >= fit.width) {
        chosen = v;
        break;
      }
    }
    fit.width = chosen;
  }
  return fit;
}

uint8_t fax_profile_field(int32_t profile) {
  switch (profile) {
    case TFX_CREATE_S:
      return 1;
    case TFX_CREATE_F:
      return 2;
    case TFX_CREATE_C:
      return 4;
    default:
      return 0;
  }
}

uint32_t coding_methods_field(int32_t profile) {
  // The bits of the field: 1 T.4 1-D, 2 T.4 2-D, 3 T.6, 5 T.42 (JPEG).
  constexpr uint32_t t4_1d = 1u << 1, t4_2d = 1u << 2, t6 = 1u << 3, jpeg = 1u << 5;
  switch (profile) {
    case TFX_CREATE_S:
      return t4_1d;
    case TFX_CREATE_F:
      return t4_1d | t4_2d | t6;
    case TFX_CREATE_C:
      return t4_1d | t4_2d | t6 | jpeg;
    default:
      return 1u;  // bit 0: coding not said
  }
}

}  // namespace tfx
