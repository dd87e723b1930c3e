#ifndef JB2_TUNE_H
#define JB2_TUNE_H

// Choosing Huffman tables by counted cost: the writers count how often each line of each
// candidate standard table would be used, then code with the cheapest standard table or with a
// copy of one whose prefix lengths are recomputed from the counts (a tuned table, sent ahead of
// the segment as a code table segment).

#include <stdint.h>

#include "jb2_huffman.h"
#include "jb2_intcode.h"
#include "vlt_status.h"

struct VltState;

/* Longest prefix the tuning gives a line (unless a code of that many leaves cannot be shorter):
   run-code lengths travel in 4-bit fields, and common decoders build their lookups for codes of
   no more than 16 bits. */
inline constexpr uint32_t JHT_TUNED_MAX_PREFLEN = 15;

/* Per table: a lengths array, a zeroed counts array and a counting encoder. The caller passes
   the three arrays cleared; on failure (1 reported, or the encoder's status) every entry is
   released and cleared again. n < 1 does nothing. */
VltStatus jhtAllocTableInfo(const JhtTable* const* tables, uint32_t** lengths, uint32_t** counts,
                            EiEncoder** encoders, int32_t n, VltState* state);
/* Releases and clears what jhtAllocTableInfo made (null entries are skipped). */
void jhtFreeTableInfo(uint32_t** lengths, uint32_t** counts, EiEncoder** encoders, int32_t n,
                      VltState* state);

/* Optimal prefix lengths for the counts (Huffman's construction; equal counts merge in line
   order), lines never used getting 0 and a single used line 1. Lengths are then limited to
   JHT_TUNED_MAX_PREFLEN as jhtLimitCodeLengths does; when the limit is not reached the lengths
   are the unlimited optimum. 1 (reported) without memory. */
VltStatus jhtGetCodeLengths(const uint32_t* counts, uint32_t* lengths, int32_t n, VltState* state);
/* Shortens the longest codes of a complete prefix code until none exceeds maxLen (raised to the
   fewest bits that can tell the used lines apart), keeping the code complete and giving the
   shorter codes to the more frequent lines. Lengths within the limit are left as they are. */
VltStatus jhtLimitCodeLengths(const uint32_t* counts, uint32_t* lengths, int32_t n, uint32_t maxLen,
                              VltState* state);

/* The tuned lengths of the table for the counts, and the bits the counted values take with the
   table as it is and with the tuned lengths (prefixes and range bits). */
VltStatus jhtCountBits(const JhtTable* table, const uint32_t* counts, uint32_t* lengths,
                       uint64_t* standardBits, uint64_t* tunedBits, VltState* state);

/* Gives a run-time table the lengths (computed from the counts when lengths is null) and
   reassigns its codes; its compiled lookup is dropped first. */
VltStatus jhtTuneTable(JhtTable* table, const uint32_t* counts, const uint32_t* lengths, VltState* state);
/* jhtTuneTable, then compiles the lookup with the addresses of the table's own lines as values. */
VltStatus jhtTuneNumericTable(JhtTable* table, const uint32_t* counts, const uint32_t* lengths,
                              VltState* state);
/* A tuned copy of a standard table (free it with jhtFree). 1 (reported) without memory. */
VltStatus jhtTuneStandardTable(const JhtTable* standard, const uint32_t* counts, const uint32_t* lengths,
                               VltState* state, JhtTable** out);

/* Picks the table to code with among n candidates of a group: the first with the fewest
   standard bits, or, when tuning is allowed, a tuned copy whose bits plus an estimate of its
   table segment (8 bits a line + 160) are fewer still. *tuned tells whether *out is a new table
   (the caller sends and frees it); *index, when given, which candidate it is. n = 0 leaves the
   outputs untouched. */
VltStatus jhtDecideTable(const JhtTable* const* tables, uint32_t* const* counts, uint32_t* const* lengths,
                         const uint64_t* standardBits, const uint64_t* tunedBits, uint8_t* tuned,
                         const JhtTable** out, int32_t n, uint8_t allowTuning, VltState* state,
                         int32_t* index = nullptr);

#endif
