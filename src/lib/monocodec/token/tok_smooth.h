#ifndef TOK_SMOOTH_H
#define TOK_SMOOTH_H

// Token smoothing: each class bitmap is replaced by an exemplar drawn from the grey pages. Every
// instance is cut from its grey page, aligned to the class to half a pixel, offset by its own
// mean brightness and added into the class's grey sum (one call per page); the averaged sum is
// then thresholded row by row between the grey of the class's skeleton and that of the
// background just outside its outline, inside the outline, and cropped to its ink.

#include <stdint.h>

#include "tok_types.h"
#include "vlt_adt.h"
#include "vlt_image.h"
#include "vlt_state.h"

// Margin of the sum image around the class bitmap on every side.
inline constexpr int32_t TOK_SMOOTH_MARGIN = 12;

// A class's running grey sum, kept in the class record's reference word between the page calls
// and the final one. The word may already name the class's token record: the sum keeps that
// reference and gives it back when it is released, and is told from it by its tag.
struct GraySum {
  const void* tag;        // tok_graySumTag
  VltImage* sum;          // doubles, class size plus the margin on every side
  int32_t leastWidth;     // of the instances summed; 0xFFFF before the first
  int32_t leastHeight;
  int32_t count;          // instances summed
  TokOutput* owner;
  void* held;             // the reference word's value before the sum took it
};

// The grey sum a class's reference word holds, or null when it holds none (its first word, a
// pointer in every record the word can name, is compared with the tag).
GraySum* tok_graySumOf(const TokOutput* cls);
// Releases a class's grey sum and gives the reference word its earlier value back.
void tok_releaseGraySum(VltState* engine, TokOutput* cls);

// Adds every instance on page `pageNumber` of every class of the list (TokOutput records whose
// members are TokMemberPos entries owned by TokComponents) into the class's grey sum, made at the
// first call. `grey` is that page as an 8-bit image. 2 for a missing list or `required`, 10003
// for a class, member or component missing from the list, 1 without memory.
VltStatus sumGrayInstances(VltState* engine, const VltImage* grey, VltAdtList* classes, const void* required,
                           int32_t pageNumber);
// One instance with its box x, y, width x height on the grey page into the sum image, aligned by
// the framed class image (the class bitmap in a clear margin, the sum's size). Cells outside the
// sum and page pixels outside the page take no part.
VltStatus createSum(VltState* engine, const VltImage* grey, VltImage* sum, const VltImage* framedClass, int32_t count,
                    int32_t x, int32_t y, int32_t width, int32_t height);
// Replaces the bitmap of every class that has a grey sum by its exemplar (a class whose exemplar
// would be a single row or column, or that summed nothing, keeps its bitmap) and releases the
// sums. The members' offsets and the pixel sum follow the exemplar's origin, so the instances are
// placed where they were found. 2 for a missing list, 10003 for a missing class or a sum without
// image.
VltStatus smoothToken(VltState* engine, VltAdtList* classes);
// The thresholded ink of the averaged sum inside the dilated outline, in the region of
// regionWidth x regionHeight centred in the sum, drawn into the cleared canvas and cropped into a
// new Packed image (null when the ink is less than 2 pixels wide or high). The three packed
// images have the sum's size. 2 for a missing sum, outline, skeleton or canvas.
VltStatus getExemplar(VltState* engine, const VltImage* average, const VltImage* dilated, const VltImage* thinned,
                      int32_t regionWidth, int32_t regionHeight, VltImage* canvas, VltImage** exemplar);

#endif
