#ifndef JB2_FILE_H
#define JB2_FILE_H

// The stream context every segment writer works against: it numbers the segments, holds the sink
// that takes segment headers and the sink that takes their data parts (often the same memory
// sink, so each header is followed by its data), the engine state whose allocator and reporter
// the writers use, and the coding parameters. The context owns neither sink.

#include <stddef.h>
#include <stdint.h>

#include "jb2_datastream.h"
#include "vlt_status.h"

struct VltState;

/* Generic-region coding parameters: the template, the adaptive template pixels A1..A4 as
   (x, y) offsets from the pixel being coded, and typical prediction. The same ten bytes are the
   region writer's parameters, a segment record's copy and bytes 3-12 of Jb2FileParams. */
struct Jb2GenericParams {
  uint8_t gbTemplate; /* 0-3 */
  int8_t atx[4];
  int8_t aty[4];
  uint8_t tpgdon; /* non-zero: rows equal to the row above are coded as one decision */
};
static_assert(sizeof(Jb2GenericParams) == 10, "copied as ten bytes");

/* Coding parameters of a context, copied as a whole. Fields marked "reserved" are never read by
   the writers; jb2CreateFile leaves them zero. */
struct Jb2FileParams {
  uint8_t arith;            /* 0: symbol dictionaries Huffman-coded, generic regions MMR; else MQ */
  uint8_t sdAllowTuned;     /* symbol dictionaries may send tuned Huffman tables */
  uint8_t sdFixedTables;    /* symbol dictionaries use the fixed height and width tables */
  Jb2GenericParams generic; /* bytes 3-12 */
  uint8_t trArith;          /* 0: text and halftone regions Huffman/MMR; else MQ */
  uint8_t trAllowTuned;     /* text regions may send tuned Huffman tables */
  uint8_t trFixedTables;    /* text regions use the fixed tables without counting */
  uint8_t trNoTopLeft;      /* a text-region choice that needs the top-left corner fails */
  uint8_t trNoTranspose;    /* text regions are never transposed */
  uint8_t pdArith;          /* 0: pattern dictionaries MMR; else MQ with pdTemplate */
  uint8_t reserved19;
  uint32_t pdTemplate; /* pattern dictionary template when pdArith is set */
  uint8_t reserved24[4];
  uint32_t htTemplate; /* halftone region template when trArith is set */
};
static_assert(sizeof(Jb2FileParams) == 32, "copied as a 32-byte block");
static_assert(offsetof(Jb2FileParams, generic) == 3 && offsetof(Jb2FileParams, trArith) == 13 &&
                  offsetof(Jb2FileParams, pdArith) == 18 &&
                  offsetof(Jb2FileParams, pdTemplate) == 20 &&
                  offsetof(Jb2FileParams, htTemplate) == 28,
              "byte positions of the parameter block");

struct Jb2File {
  uint32_t nextSegment; /* number the next segment written gets */
  DataSink* headerSink;
  DataSink* dataSink;
  VltState* state;
  Jb2FileParams params;
  uint64_t maxPixels; /* decoding: the largest region or page bitmap made (0: JB2_MAX_REGION_PIXELS) */
  /* Decoding: the work and the symbol instances this stream's segments may still take beyond
     what their bytes pay for (jb2WorkBudget, jb2InstanceBudget), and the work done so far. */
  uint64_t workFloor;
  uint32_t instanceFloor;
  uint64_t workDone;
};

/* Makes a context over the two sinks with segment number 0 and the default parameters
   (template 2 with its nominal A1 = (2, -1), everything Huffman/MMR). Returns 0, or 1 (reported)
   when the record cannot be allocated; *file is set only on success. */
VltStatus jb2CreateFile(DataSink* headerSink, DataSink* dataSink, VltState* state, Jb2File** file);
/* Releases the record; the sinks are the creator's. A null file is accepted. */
void jb2FreeFile(Jb2File* file);

/* Returns the next segment number and consumes it: a writer that fails later leaves it used. */
uint32_t jb2FileNextSegmentNumber(Jb2File* file);
/* A fresh context for the next block of output carries the numbering on with these. */
void jb2SetFileSegnum(Jb2File* file, uint32_t number);
uint32_t jb2GetFileSegnum(const Jb2File* file);

DataSink* jb2GetFileHeaderDataSink(const Jb2File* file);
DataSink* jb2GetFileDataSink(const Jb2File* file);
VltState* jb2GetFileVlt_State(const Jb2File* file);

/* Copies the whole block in. */
void jb2SetFileParams(Jb2File* file, const Jb2FileParams* params);
/* The context's own block, for editing in place. */
Jb2FileParams* jb2GetFileParams(Jb2File* file);

#endif
