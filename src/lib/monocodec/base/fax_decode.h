#ifndef FAX_DECODE_H
#define FAX_DECODE_H

// CCITT fax decoding: T.6 (Group 4, JBIG2's MMR) and T.4 one- and two-dimensional (Group 3).
// Decoded lines are ORed into a window of a caller's bitmap: rows of 32-bit words read and
// written big-endian, first pixel in the top bit, a set bit black.

#include <stddef.h>
#include <stdint.h>

#include "fax_encode.h"
#include "vlt_state.h"
#include "vlt_status.h"

/* A decoded line is a FaxChangeList holding -1 (an imaginary white pixel before column 0), the
   positions where the colour changes (odd entries start black runs) and the width three times;
   count includes all of them. Lists hold width + 4 entries. */
struct FaxDecoder {
  int32_t width;
  const uint8_t* data;
  size_t length;
  size_t position;       /* next byte to fetch */
  uint64_t bitBuf;       /* the next coded bit in the top bit */
  uint32_t bitCount;     /* valid bits in bitBuf */
  size_t padBytes;       /* 0 bytes read past the end of the data */
  FaxChangeList ref;     /* the line above; after NextLine, the decoded line */
  FaxChangeList cur;
  int32_t K;             /* -1 T.6, 0 T.4 1-D, > 0 T.4 2-D */
  uint8_t uncompressed;  /* inside T.4 uncompressed mode */
  uint8_t oneD;          /* the current line is coded 1-D */
  uint8_t colour;        /* 0 white, 1 black */
  uint8_t endSeen;       /* the end-of-block code or return-to-control has been read */
  VltState* state;
};

/* Decodes min(lastLine + 1, numLines) T.6 lines of width pixels and ORs columns
   [0, min(lastCol + 1, bitOffset + width) - bitOffset) of each into the next row of firstRow
   (rows strideWords apart), column x at bit bitOffset + x. A non-zero endFlag also consumes the
   end-of-block code that follows. *bytesUsed (when not null) receives the bytes consumed.
   Returns 0, 1, 2 (bad geometry, or a window reaching past the row), 118 or 107 (corrupt data
   that cannot be resynchronised, or a line with more changes than pixels). */
extern "C" VltStatus g4Decode(uint32_t* firstRow, int32_t width, int32_t numLines,
                              int32_t strideWords, int32_t bitOffset, int32_t lastCol,
                              int32_t lastLine, const uint8_t* data, size_t length,
                              int32_t endFlag, size_t* bytesUsed, VltState* state);
/* The same on a caller's decoder (made by DecodeCreate, kept); *bytesLeft receives the bytes
   not consumed. */
extern "C" VltStatus g4DecodeC(FaxDecoder* dec, uint32_t* firstRow, int32_t width,
                               int32_t numLines, int32_t strideWords, int32_t bitOffset,
                               int32_t lastCol, int32_t lastLine, const uint8_t* data,
                               size_t length, int32_t endFlag, size_t* bytesLeft);
/* T.4 one-dimensional data (the end code is six EOLs). */
extern "C" VltStatus g3_1DDecode(uint32_t* firstRow, int32_t width, int32_t numLines,
                                 int32_t strideWords, int32_t bitOffset, int32_t lastCol,
                                 int32_t lastLine, const uint8_t* data, size_t length,
                                 int32_t endFlag, size_t* bytesUsed, VltState* state);
extern "C" VltStatus g3_1DDecodeC(FaxDecoder* dec, uint32_t* firstRow, int32_t width,
                                  int32_t numLines, int32_t strideWords, int32_t bitOffset,
                                  int32_t lastCol, int32_t lastLine, const uint8_t* data,
                                  size_t length, int32_t endFlag, size_t* bytesLeft);
/* T.4 two-dimensional data: each EOL's tag bit tells whether its line is coded 1-D. */
extern "C" VltStatus g3_2DDecode(uint32_t* firstRow, int32_t width, int32_t numLines,
                                 int32_t strideWords, int32_t bitOffset, int32_t lastCol,
                                 int32_t lastLine, const uint8_t* data, size_t length,
                                 int32_t endFlag, size_t* bytesUsed, VltState* state);
extern "C" VltStatus g3_2DDecodeC(FaxDecoder* dec, uint32_t* firstRow, int32_t width,
                                  int32_t numLines, int32_t strideWords, int32_t bitOffset,
                                  int32_t lastCol, int32_t lastLine, const uint8_t* data,
                                  size_t length, int32_t endFlag, size_t* bytesLeft);

/* Building blocks. */
VltStatus DecodeCreate(FaxDecoder** place, VltState* state);
VltStatus DecodeInit(FaxDecoder* dec, const uint8_t* data, size_t length, int32_t width,
                     int32_t K);
void DecodeCleanUp(FaxDecoder** place);
/* Decodes one line into dec->ref. Returns 0 or 107. */
VltStatus NextLine(FaxDecoder* dec);
/* ORs the black runs of the decoded line within columns [first, end) into row, column x at bit
   bitOffset + x - first. */
void OrBltLine(const FaxDecoder* dec, uint32_t* row, int32_t bitOffset, int32_t first,
               int32_t end);
/* Writes columns [first, end) of the decoded line into row (black as 1, or as 0 with invert),
   keeping the row's other bits. */
void MoveLine(const FaxDecoder* dec, uint32_t* row, int32_t bitOffset, int32_t first, int32_t end,
              int32_t invert);
/* Reads the EOLs (with their tag bits when K > 0) that directly follow the last line, up to the
   end code's count; returns how many it read. */
int32_t ConsumeEndOfBlock(FaxDecoder* dec);
/* 1 when the end code was read, or every byte was fetched and no 1 bit is left. */
int32_t EndSeen(const FaxDecoder* dec);

#endif
