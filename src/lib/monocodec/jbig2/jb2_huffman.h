#ifndef JB2_HUFFMAN_H
#define JB2_HUFFMAN_H

// Huffman code tables: the table lines of a code table (prefix length, range length, range low),
// their canonical prefix codes, and a compiled lookup that turns a code read from a bit file into
// the caller's value for its line. The standard tables are constant records, compiled at build
// time, whose values are pointers to their own lines; tables made at run time (tuned copies,
// user tables read from table segments, symbol-ID codes) are compiled with values of the
// caller's choice.

#include <stdint.h>

#include "jb2_bitfile.h"
#include "vlt_status.h"

struct VltState;

/* Longest prefix a table can hold: codes of each length 0-31 have a slot in the arrays below. */
inline constexpr int JHT_MAX_PREFLEN = 31;

struct JhtLine {
  uint32_t code;    /* prefix code, right-aligned; set by jhtSetCodes */
  int32_t rangeLow; /* lowest value; for a lower range line the value offsets count down from */
  uint8_t prefLen;  /* 0: the line has no code */
  uint8_t rangeLen; /* offset bits after the prefix; 32 on range lines */
  uint8_t flags[2]; /* 0 in the standard tables */
};
static_assert(sizeof(JhtLine) == 12, "table lines are 12-byte records");

/* Lines come in this order: the ordinary lines by ascending value, each range following the one
   before without a gap, then the lower range line, the upper range line and the out-of-band line,
   each only when its flag is set. Writers and the integer coders rely on it. */
struct JhtTable {
  uint8_t hasLower;
  uint8_t hasUpper;
  uint8_t hasOOB;
  uint8_t reserved;
  int32_t lineCount;
  JhtLine* lines;
  int32_t minLength;      /* shortest prefix in use (31 when there is none) */
  uint8_t compiled;       /* the lookup is valid */
  uint32_t firstCode[32]; /* first canonical code of each length */
  uint32_t lastCode[32];  /* last code of each length; firstCode - 1 where there is none */
  /* lookup[0] is the value array (owned by run-time tables); lookup[n] points where the values of
     the codes of length n start, so code c of length n has value lookup[n][c - firstCode[n]]. */
  void* const* lookup[32];
};

/* Assigns canonical prefix codes from the lines' prefix lengths in line order and marks the
   table not compiled (callers clean up a compiled table first). 2 (reported) for a prefix longer
   than 31 or lengths that cannot all have codes; nothing is changed then. */
VltStatus jhtSetCodes(JhtTable* table, VltState* state);
/* Builds the lookup with values[i] as the value of line i; 0 at once when compiled; 1 (reported)
   without memory. */
VltStatus jhtCompile(JhtTable* table, void* const* values, VltState* state);
/* Reads one prefix code and stores its line's value; the range bits that follow are left to the
   caller. Bit-file failures are passed on; 107 (reported) when the bits match no code within 31
   bits. *value is untouched on failure. */
VltStatus jhtReadCode(const JhtTable* table, JbfFile* bits, VltState* state, void** value);
/* Frees the lookup of a run-time table and marks it not compiled. */
void jhtCleanup(JhtTable* table, VltState* state);
/* jhtCleanup, then frees the lines and the record (both from the state's allocator). */
void jhtFree(JhtTable* table, VltState* state);

/* The standard tables, in the order of the table selectors the segment flags carry. */
extern const JhtTable stdhuffA;   /* B.1 */
extern const JhtTable stdhuffDW1; /* B.2 */
extern const JhtTable stdhuffDW2; /* B.3 */
extern const JhtTable stdhuffDH1; /* B.4 */
extern const JhtTable stdhuffDH2; /* B.5 */
extern const JhtTable stdhuffFS1; /* B.6 */
extern const JhtTable stdhuffFS2; /* B.7 */
extern const JhtTable stdhuffDS1; /* B.8 */
extern const JhtTable stdhuffDS2; /* B.9 */
extern const JhtTable stdhuffDS3; /* B.10 */
extern const JhtTable stdhuffDT1; /* B.11 */
extern const JhtTable stdhuffDT2; /* B.12 */
extern const JhtTable stdhuffDT3; /* B.13 */
/* B.13 with the value-1 line two bits long and a lower range line (code 01) from 0 downwards,
   so strips may also step backwards. */
extern const JhtTable stdhuffDT3_neg;
extern const JhtTable stdhuffRD1; /* B.14 */
extern const JhtTable stdhuffRD2; /* B.15 */

/* Table groups of the writers that choose a table; the index in a group is its selector. */
extern const JhtTable* const dhtables[2];
extern const JhtTable* const dwtables[2];
extern const JhtTable* const fstables[2];
extern const JhtTable* const dstables[3];
extern const JhtTable* const dttables[4];

#endif
