#ifndef TFX_PROFILE_H
#define TFX_PROFILE_H

// What each fax profile takes of a page, and the nearest page it takes.

#include <cstdint>

namespace tfx {

struct PageShape {
  int32_t colorType;
  int32_t colorSpace;
  uint32_t xres, yres, width, height;
};

// Whether a document of the creation profile constrains its pages at all.
bool profile_constrains(int32_t profile);

// The codings (TFX_CODING_* bits) a page of that colour type may use in the profile; every
// coding for profiles that do not constrain.
uint32_t profile_codings(int32_t profile, int32_t colorType);

// Empty when the page conforms, else why not.
const char* profile_refusal(int32_t profile, const PageShape& page);

// The codings of a set of TFX_CODING_* bits in words ("G3 or G4"), for messages.
const char* coding_names(uint32_t codings);

// The page the profile takes that is nearest to the given one: the colour type the profile
// allows (bilevel when it takes no grey or colour), the allowed resolution with the largest
// x not above the page's (the smallest when none is), the size scaled to that resolution, and
// the width widened to the next standard width (or narrowed to the widest).
PageShape profile_fit(int32_t profile, const PageShape& page);

// FaxProfile and CodingMethods field values of a creation profile.
uint8_t fax_profile_field(int32_t profile);
uint32_t coding_methods_field(int32_t profile);

}  // namespace tfx

#endif
