#ifndef TOK_COLORCC_INTERNAL_H
#define TOK_COLORCC_INTERNAL_H

// Helpers shared by the colour-component units.

#include "tok_colorcc.h"

namespace colorcc {

inline constexpr uint32_t kFormFlags = COLORCC_SAMPLED | COLORCC_WASHED;

// Sampled and washed components keep their runs in the sampled form.
inline int sampled_form(const ColorCCState* s) { return (s->flags & kFormFlags) != 0; }

// A zeroed run record of the form.
VltStatus new_record(VltState* engine, int sampledForm, ColorRunRecord** place);

// Builds a chain of run records, four runs to a record.
struct Chain {
  int sampledForm;
  ColorRunRecord* head = nullptr;
  ColorRunRecord* tail = nullptr;
  VltStatus add(VltState* engine, uint16_t x, uint16_t length, uintptr_t sample);
};

// Frees the sample buffers of the buffer's sampled segments and empties it.
void rim_empty(VltState* engine, ColorCCLineBuf* buf);

// Merges (unless washing is off) and delivers what is finished.
VltStatus flush_finished(ColorCCFinder* finder);

}  // namespace colorcc

#endif
