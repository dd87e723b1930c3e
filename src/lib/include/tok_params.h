#ifndef TOK_PARAMS_H
#define TOK_PARAMS_H

/* The lossy token classifier's parameter block. libmonocodec's encoder and the PDF writer of
   libpagefiler both fill one with tokSetDefaults (libpagefiler binds it by name at run time), so
   the layout is declared once, here, and filled by field name. The comment of each field gives
   its word number in the block. */

#include <stdint.h>

#include "mono_export.h"
#include "vlt_status.h"

struct VltState;
struct TokState;
struct TokClassTable;

/* Replaces the built-in final merge sequence; called with the state's class table. */
typedef VltStatus (*TokMergeHook)(struct TokClassTable* table, struct TokState* state, void* data);

struct TokParams {
  float matchFraction;    /* 0: mismatches allowed = (1 - matchFraction) x edge count */
  int32_t maxDense;       /* 1: most mismatched pixels tolerated in one 3x3 window */
  int32_t widthDiff;      /* 2: widest exemplar width difference searched */
  int32_t heightDiff;     /* 3: widest exemplar height difference searched */
  int32_t commitCount;    /* 4: members at which a class commits; 0 or less never */
  int32_t sumLimit;       /* 5: members at which a pixel sum stops changing */
  int32_t sumStart;       /* 6: members from which a pixel sum keeps its histogram */
  int32_t sumOutputMin;   /* 7: least members for a pixel sum to go out with its class */
  int32_t maxShift;       /* 8: last shift index tried by the match test */
  int32_t thresholdOffset; /* 9 */
  int32_t thresholdKnee;  /* 10 */
  int32_t minLossySize;   /* 11: smaller components go to the lossless tokenizer */
  float thresholdSlope;   /* 12 */
  int32_t frameMarginWord; /* 13: frame margin and dilation passes, or a radius code (flag 32) */
  int32_t spareWord;      /* 14: written by tokSetDefaults, read by nobody here */
  uint32_t tokFlags;      /* 15: TOK_FLAG_* */
  struct VltState* engineState; /* 16: the caller's; tokSetDefaults leaves it alone */
  TokMergeHook mergeHook; /* 17 */
  void* mergeHookData;    /* 18 */
};

enum {
  TOK_FLAG_COPY_BITS = 1,     /* always copy a bitmap handed in, never take the caller's bits */
  TOK_FLAG_PIXEL_SUMS = 2,    /* output records carry their class's pixel sum */
  TOK_FLAG_MEMBER_POS = 8,    /* output member lists hold TokMemberPos entries */
  TOK_FLAG_ALIGN = 16,        /* align every class before output */
  TOK_FLAG_RADIUS_CODE = 32   /* frameMarginWord is a dilation radius code (10, 14 or 20) */
};

/* Writes the default of every word except engineState. */
MONO_API void tokSetDefaults(struct TokParams* params);

/* The type of tokSetDefaults for callers that look it up by name. */
typedef void (*TokSetDefaultsFn)(struct TokParams* params);

#endif
