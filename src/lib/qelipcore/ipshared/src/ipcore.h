#ifndef IPCORE_H
#define IPCORE_H

// Public prototypes of the image core: what the wrapper layer and the engine call.
// Buffers are framed (32 blank pixels on every side), MSB-first, lines a multiple of 4 bytes.

#include <stdint.h>

#include "ipstate.h"

#ifdef __cplusplus
extern "C" {
#endif

// Bit 0: no clipping; bits 1-4: truth table of f(S, D) on S = 0xC, D = 0xA.
typedef uint32_t RasterOpCode;
enum {
  IP_ROP_NOCLIP = 1,
  IP_ROP_CLEAR = 0,
  IP_ROP_NOR = 2,
  IP_ROP_NOT_S_AND_D = 4,
  IP_ROP_NOT_S = 6,
  IP_ROP_S_AND_NOT_D = 8,
  IP_ROP_NOT_D = 10,
  IP_ROP_XOR = 12,
  IP_ROP_NAND = 14,
  IP_ROP_AND = 16,
  IP_ROP_XNOR = 18,
  IP_ROP_D = 20,
  IP_ROP_NOT_S_OR_D = 22,
  IP_ROP_COPY = 24,
  IP_ROP_S_OR_NOT_D = 26,
  IP_ROP_OR = 28,
  IP_ROP_SET = 30
};

enum { IP_FRAME = 32 };

// Combines a source rectangle into a destination rectangle (or changes the destination alone)
// at 1, 2, 4, 8 or 16 bits per pixel. Offsets place each image's origin inside its buffer;
// dstX/dstY/srcX/srcY are relative to those origins.
VltStatus i_rasterOpFull(IPState* state, uint8_t* dst, int32_t dstWidth, int32_t dstHeight,
                         int32_t dstXOffset, int32_t dstYOffset, int32_t dstX, int32_t dstY,
                         int32_t width, int32_t height, int32_t depth, uint32_t dstBytesPerLine,
                         RasterOpCode op, const uint8_t* src, int32_t srcWidth, int32_t srcHeight,
                         int32_t srcX, int32_t srcY, int32_t srcXOffset, int32_t srcYOffset,
                         int32_t srcDepth, uint32_t srcBytesPerLine);

// Byte-order pass over a page buffer: pixel words are big-endian everywhere, so it copies
// every line onto itself.
VltStatus i_swapImageBytes(IPState* state, uint8_t* buffer, uint32_t bytesPerLine, int32_t width,
                           int32_t height, int32_t depth);
typedef VltStatus (*IPLineProc)(IPState* state, const uint8_t* src, uint8_t* dst, uint32_t words);
VltStatus ip_getByteSwapProc(IPState* state, uint32_t invert, uint32_t unitBytes, IPLineProc* proc);
VltStatus ip_copyLine(IPState* state, const uint8_t* src, uint8_t* dst, uint32_t words);
VltStatus ip_invertLine(IPState* state, const uint8_t* src, uint8_t* dst, uint32_t words);

// Geometry of framed buffers. The access unit is 32 bytes with the long-access flag, else 4.
VltStatus ip_getLongestAccess(IPState* state, uint32_t* unit);
VltStatus ip_checkImageAccess(IPState* state, const uint8_t* a, uint32_t aBytesPerLine,
                              const uint8_t* b, uint32_t bBytesPerLine, uint32_t* unit);
VltStatus i_calcImageProperties(IPState* state, int32_t width, int32_t height, int32_t depth,
                                int32_t frame, uint32_t* bytesPerLine, uint32_t* bufferSize);
VltStatus i_calcFrameOffset(IPState* state, const uint8_t* block, uint32_t bytesPerLine,
                            int32_t depth, int32_t frame, uint32_t* frameOffset);
VltStatus i_calcImageOffset(IPState* state, const uint8_t* block, uint32_t bytesPerLine,
                            int32_t depth, int32_t frame, uint32_t* imageOffset);

// Frames. Framed-buffer arguments are the start of the framed area.
VltStatus i_addFrame(IPState* state, const uint8_t* src, int32_t width, int32_t height,
                     int32_t depth, uint32_t srcBytesPerLine, uint8_t* dst, uint32_t dstBytesPerLine);
VltStatus i_addFrameInPlace(IPState* state, const uint8_t* src, int32_t width, int32_t height,
                            int32_t depth, uint32_t srcBytesPerLine, uint8_t* dst);
VltStatus i_removeFrame(IPState* state, const uint8_t* framed, int32_t framedWidth,
                        int32_t framedHeight, int32_t depth, uint32_t framedBytesPerLine,
                        uint8_t* dst, uint32_t dstBytesPerLine);
VltStatus i_removeFrameInPlace(IPState* state, const uint8_t* framed, int32_t framedWidth,
                               int32_t framedHeight, int32_t depth, uint32_t framedBytesPerLine,
                               uint8_t* dst, uint32_t dstBytesPerLine);
VltStatus i_clearAllFrames(IPState* state, uint8_t* framed, int32_t framedWidth,
                           int32_t framedHeight, uint32_t bytesPerLine, int32_t depth);
VltStatus i_clearTopBottomFrames(IPState* state, uint8_t* framed, int32_t framedWidth,
                                 int32_t framedHeight, uint32_t bytesPerLine, int32_t depth);
VltStatus i_clearRightBottomFrames(IPState* state, uint8_t* framed, int32_t framedWidth,
                                   int32_t framedHeight, uint32_t bytesPerLine, int32_t depth,
                                   int32_t right, int32_t bottom);
VltStatus ip_clearRightFrame(IPState* state, uint8_t* firstPixel, int32_t width, int32_t height,
                             uint32_t bytesPerLine, int32_t depth);
VltStatus ip_clearRightFrameWord(IPState* state, uint8_t* firstPixel, int32_t width,
                                 int32_t height, uint32_t bytesPerLine, int32_t depth);
void ip_addFrameToLine(IPState* state, uint8_t* dst, const uint8_t* src, uint32_t bytes,
                       uint32_t srcLineBytes, uint32_t frameBytes, uint32_t lastWordMask);
void ip_removeFrameFromLine(IPState* state, uint8_t* dst, const uint8_t* src, uint32_t bytes,
                            uint32_t dstLineBytes);
void EMMSOpcode(void);
void ip_dummyProc(void);

// Number of 1 bits in a rectangle (x and width in pixels of the given depth).
VltStatus i_countBits(IPState* state, const uint8_t* base, int32_t x, int32_t y, int32_t width,
                      int32_t height, int32_t depth, uint32_t bytesPerLine, uint32_t* count);

// Copies the image area of one framed buffer into another and clears the destination's
// right padding.
VltStatus i_copyImage(IPState* state, const uint8_t* src, int32_t framedWidth,
                      int32_t framedHeight, int32_t depth, uint32_t srcBytesPerLine, uint8_t* dst,
                      uint32_t dstBytesPerLine);
// Sets (value non-zero) or clears columns x0..x1 of a 1-bit line.
VltStatus i_rasterHorizLine(IPState* state, uint8_t* line, int32_t x0, int32_t x1, uint32_t value);
// Draws a line of one pixel value between two image points of a framed buffer.
VltStatus i_rasterLine(IPState* state, uint8_t* framed, int32_t framedWidth, int32_t framedHeight,
                       int32_t depth, uint32_t bytesPerLine, int32_t frameX, int32_t frameY,
                       int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t value);

#ifdef __cplusplus
}
#endif

#endif
