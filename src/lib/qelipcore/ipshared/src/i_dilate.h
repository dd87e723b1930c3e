#ifndef I_DILATE_H
#define I_DILATE_H

// Dilation and erosion of framed 1-bit images by a structuring element given as a byte matrix
// (selWidth x selHeight cells, row after row; 1 = hit, 2 = miss, anything else ignored) with
// its centre at (cx, cy). A hit at offset (ox, oy) from the centre shifts the source ox pixels
// right and oy lines down. Pixels outside the image count as OFF; only the image areas of the
// two buffers (framed size less 32 pixels on each side) are read and written.
//
// The interface has room for machine code generated for one element; this build generates
// none, so every generator reports 6 and the operations run as sequences of shifted raster
// operations, one per cell that matters; an element all of hits is worked as its row and then
// its column, through an intermediate image when memory allows.

#include <stdint.h>

#include "ipstate.h"

#ifdef __cplusplus
extern "C" {
#endif

// A source that shares memory with the destination is worked from a temporary copy. Status 2
// for a non-positive element size or stride, or a stride shorter than the framed width.
VltStatus i_fastDilate(IPState* state, uint8_t* dst, const uint8_t* src, const void* code,
                       const void* longCode, int32_t framedWidth, int32_t framedHeight,
                       int32_t srcBytesPerLine, int32_t dstBytesPerLine, int32_t codeStep,
                       int32_t longCodeStep, int32_t selWidth, int32_t selHeight, int32_t cx,
                       int32_t cy, const uint8_t* cells);
VltStatus i_fastErode(IPState* state, uint8_t* dst, const uint8_t* src, const void* code,
                      const void* longCode, int32_t framedWidth, int32_t framedHeight,
                      int32_t srcBytesPerLine, int32_t dstBytesPerLine, int32_t codeStep,
                      int32_t longCodeStep, int32_t selWidth, int32_t selHeight, int32_t cx,
                      int32_t cy, const uint8_t* cells);

// Code generation is not available: the size queries store 0 and the generators store 0 in
// both code outputs; all return 6.
VltStatus i_getDilateAsmSize(IPState* state, int32_t selWidth, int32_t selHeight, int32_t cx,
                             int32_t cy, uint32_t* size);
VltStatus i_getLongDilateAsmSize(IPState* state, int32_t selWidth, int32_t selHeight, int32_t cx,
                                 int32_t cy, uint32_t* size);
VltStatus i_getErodeAsmSize(IPState* state, int32_t selWidth, int32_t selHeight, int32_t cx,
                            int32_t cy, uint32_t* size);
VltStatus i_getLongErodeAsmSize(IPState* state, int32_t selWidth, int32_t selHeight, int32_t cx,
                                int32_t cy, uint32_t* size);
VltStatus i_genDilateAsm(IPState* state, int32_t selWidth, int32_t selHeight, int32_t cx,
                         int32_t cy, const uint8_t* cells, int32_t* codeStep, void** code,
                         uint32_t* codeSize);
VltStatus i_genLongDilateAsm(IPState* state, int32_t selWidth, int32_t selHeight, int32_t cx,
                             int32_t cy, const uint8_t* cells, int32_t* codeStep, void** code,
                             uint32_t* codeSize);
VltStatus i_genErodeAsm(IPState* state, int32_t selWidth, int32_t selHeight, int32_t cx,
                        int32_t cy, const uint8_t* cells, int32_t* codeStep, void** code,
                        uint32_t* codeSize);
VltStatus i_genLongErodeAsm(IPState* state, int32_t selWidth, int32_t selHeight, int32_t cx,
                            int32_t cy, const uint8_t* cells, int32_t* codeStep, void** code,
                            uint32_t* codeSize);

#ifdef __cplusplus
}
#endif

#endif
