#ifndef BINTABLE_H
#define BINTABLE_H

// Binarization tables: kernels that build one output word from a group of 2, 4 or 8 source
// words mask each word down to its result bits, gather the group into one word by shifting and
// OR-ing, and put the interleaved results into pixel order with one table lookup per byte
// (table k indexed by byte k, byte 0 the most significant). Tables are 256 words each, in
// buffers the caller provides.

#include <stddef.h>
#include <stdint.h>

#include "ipstate.h"

#ifdef __cplusplus
extern "C" {
#endif

// Bytes of each table of the set for a depth pair: srcDepth 2, 4 or 8 and dstDepth 1, 2 or 4,
// else 2. The 8-to-4 conversion uses no table and reports 0.
VltStatus i_getBinarizationTableSizes(IPState* state, int32_t srcDepth, int32_t dstDepth,
                                      int32_t inverted, size_t* size);

// Each fills the four tables of its set; a null table gives 118 and nothing is written.
VltStatus i_fillBinarizationTables(IPState* state, uint32_t* t0, uint32_t* t1, uint32_t* t2, uint32_t* t3);
VltStatus i_fillInvBinarizationTables(IPState* state, uint32_t* t0, uint32_t* t1, uint32_t* t2, uint32_t* t3);
VltStatus i_fill4To1BinarizationTables(IPState* state, uint32_t* t0, uint32_t* t1, uint32_t* t2, uint32_t* t3);
VltStatus i_fill4To1InvBinarizationTables(IPState* state, uint32_t* t0, uint32_t* t1, uint32_t* t2, uint32_t* t3);
VltStatus i_fill2To1BinarizationTables(IPState* state, uint32_t* t0, uint32_t* t1, uint32_t* t2, uint32_t* t3);
VltStatus i_fill2To1InvBinarizationTables(IPState* state, uint32_t* t0, uint32_t* t1, uint32_t* t2, uint32_t* t3);
VltStatus i_fill2bppBinarizationTables(IPState* state, uint32_t* t0, uint32_t* t1, uint32_t* t2, uint32_t* t3);
// The single 4-to-2 table, used for all four bytes (shifted right by 0, 4, 8 and 12).
VltStatus i_fill4To2bppBinarizationTable(IPState* state, uint32_t* t);

#ifdef __cplusplus
}
#endif

#endif
