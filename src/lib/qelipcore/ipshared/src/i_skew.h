#ifndef I_SKEW_H
#define I_SKEW_H

// Skew of the text lines of a framed 1-bit page, with a confidence. A coarse pass follows the
// bottom edges of black regions from left to right in 16-pixel steps and averages their slope;
// a fine pass searches the slopes around it, scoring each by how often two lines two apart
// differ along slanted paths, and turns the best slope into an angle. Slopes are in 1/1024 line
// per pixel, positive when lines fall to the right; the angle turns the other way (a positive
// slope gives a negative angle). Everything but the final conversion to radians is integer
// arithmetic. The detector reads the page's frame and never writes the page.

#include <stdint.h>

#include "ipstate.h"

#ifdef __cplusplus
extern "C" {
#endif

// buffer is the framed buffer's start, Wf and Hf the framed size, lineStep (1, 2, 4, ... 32)
// the spacing of the lines the fine pass scores. No coarse estimate (a page too small, blank or
// without edges): status 0, angle 0, confidence 0. Status 2 for resolutions that differ with
// one of them 0 (or a slope beyond what the arc tangent takes after scaling by them), for
// a line step below 1 or lines shorter than the framed width; 3 when the fine pass has no more
// usable lines than the line step; 1 without memory. On failure both outputs are 0.
VltStatus i_detectSkew(IPState* state, const uint8_t* buffer, int32_t framedWidth,
                       int32_t framedHeight, int32_t bpl, int32_t lineStep, double* angleRadians,
                       int32_t* confidence, int32_t xRes, int32_t yRes);
// The same with the angle in 1/32768 of a turn.
VltStatus i_detectSkewFixedPoint(IPState* state, const uint8_t* buffer, int32_t framedWidth,
                                 int32_t framedHeight, int32_t bpl, int32_t lineStep, int32_t* angle,
                                 int32_t* confidence, int32_t xRes, int32_t yRes);

enum { IP_SKEW_NO_ESTIMATE = 999 };

// Coarse pass over the image proper (width and height without frames): the mean drift of the
// edges followed, in 1/1024 line per pixel, or 999 with status 3 when fewer than
// width / 16 x sampleFactor steps could be followed.
VltStatus ip_detectSkewRobot(IPState* state, const uint8_t* buffer, int32_t width, int32_t height,
                             int32_t bpl, int32_t sampleFactor, int32_t* estimate);
// Fine pass over the slopes lo..hi (at most 64 apart).
VltStatus ip_detectSkewFine(IPState* state, const uint8_t* buffer, int32_t width, int32_t height,
                            int32_t bpl, int32_t lineStep, int32_t lo, int32_t hi, int32_t* angle,
                            int32_t* confidence, int32_t xRes, int32_t yRes);

// The 16-pixel steps followed and their net vertical movement (lines, downward positive).
typedef struct EdgeAccumulator {
  int32_t steps;
  int32_t drift;
} EdgeAccumulator;

// One edge sample from start: find a black word and white below it, then follow the bottom
// edge of the black region rightwards for at most byteBudget / 2 steps.
void ip_doEdgeSample(IPState* state, const uint8_t* start, int32_t byteBudget, int32_t bpl,
                     EdgeAccumulator* acc, int32_t greatestStep, const uint8_t* lowerBound,
                     const uint8_t* upperBound);
// One 16-pixel step of the edge follower from the 16-bit word at *position. Returns the lines
// moved (0 to 2 greatestStep - 1), or 4 for a failed step; updates the step count, drift and
// follower status (consecutive white steps; 3 ends the edge).
int32_t ip_doFindEdgeTakeStep(IPState* state, const uint8_t** position, int32_t bpl,
                              const uint8_t* lowerBound, const uint8_t* upperBound,
                              int32_t greatestStep, int32_t* steps, int32_t* drift,
                              int32_t* followerStatus);
// Score of one slope: over lineCount lines lineStride apart, the byte lanes where a line and
// the line two extraLineOffsets away differ in being marked (any of a byte's seven low bits
// set), d per line weighted as d << (d / 16). The path of wordsPerLine words moves by
// wordAdvance per word, and by extraLineOffset more after word j when bit 31 - ((j - 1) mod 32)
// of lineMask is set. The score is high x 2^31 + low (low below 2^31).
VltStatus ip_findDiffPixelsSum(IPState* state, const uint8_t* firstLine, int32_t lineCount,
                               int32_t wordsPerLine, int32_t lineStride, int32_t wordAdvance,
                               int32_t extraLineOffset, uint32_t lineMask, uint32_t* scoreLow,
                               uint32_t* scoreHigh);

// Confidence 0..100 from the probes of a fine pass: r = (sum of |slope - best| x score) / (sum of
// score), both sums exact and cut to 31 bits before dividing; (16 - r) x 100 / 16 for r up to
// 15, else 0 (also for a zero total score).
int32_t ip_skewConfidence(const uint64_t* scores, const int32_t* slopes, int32_t count, int32_t best);

// Entry k has k bits set, spread along the word (bit 31 for the first of 32 path words).
extern const uint32_t frac32LineVectors[32];

#ifdef __cplusplus
}
#endif

#endif
