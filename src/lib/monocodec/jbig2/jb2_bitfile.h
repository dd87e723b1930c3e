#ifndef JB2_BITFILE_H
#define JB2_BITFILE_H

// Bit-level reading and writing of the Huffman-coded parts of segments, most significant bit
// first, over a DataSource or a DataSink. Bits travel a 32-bit word at a time; the bit file can
// hand its position back to the source or sink (suspend) and take it up again (resume), so a
// segment can switch between Huffman codes and bytes written or read directly (MMR bitmaps, MQ
// data) without copying.

#include <stdint.h>

#include "jb2_datastream.h"
#include "vlt_status.h"

struct VltState;

/* Supplies the next buffer when the current one is used up: stores its start and length, 0 or a
   status. */
typedef VltStatus (*JbfRefillFn)(uint8_t** base, uint32_t* length, void* context);

enum : uint8_t { JBF_READER = 0, JBF_WRITER = 1 };

struct JbfFile {
  uint8_t* base;      /* start of the current buffer */
  uint8_t* ptr;       /* next byte to load (reader) or store (writer) */
  uint32_t remaining; /* bytes of the current buffer from ptr on */
  uint32_t count;     /* writer: bytes stored since open or resume */
  int32_t bits;       /* reader: valid low bits of acc; writer: free low bit positions */
  uint32_t acc;
  JbfRefillFn refill;
  void* context; /* the DataSource or DataSink underneath */
  VltState* state;
  uint8_t mode; /* JBF_READER or JBF_WRITER */
};

/* Opens a reader on the unread rest of the source. 2003 (reported) when the source holds no more
   data, 1 (reported) without memory; *file is set only on success. */
VltStatus jbfOpenFromDataSource(DataSource* source, JbfFile** file);
/* Opens a writer on the free rest of the sink's buffer. */
VltStatus jbfOpenFromDataSink(DataSink* sink, JbfFile** file);
/* The general open; an empty buffer is refilled once first. */
VltStatus jbfOpen(uint8_t* buffer, uint32_t length, JbfRefillFn refill, void* context, uint8_t mode,
                  VltState* state, JbfFile** file);

/* Reads n bits (0-32) into *value, first bit most significant. *value is 0 on failure. */
VltStatus jbfReadBits(JbfFile* file, int n, uint32_t* value);
/* Writes the low n bits (0-32) of value, most significant first; higher bits must be 0. */
VltStatus jbfWriteBits(JbfFile* file, uint32_t value, int n);
/* The next 8 bits without consuming them, or -1 when fewer are at hand in the current buffer
   (it never refills). */
int32_t jbfPeek(JbfFile* file);
/* Moves to the next byte boundary; a writer pads with 0 bits. */
void jbfFlushByte(JbfFile* file);
/* Aligns and gives the first byte not consumed (reader) or just after the last byte stored
   (writer; its pending bytes are written out first). */
VltStatus jbfPos(JbfFile* file, uint8_t** pos);
/* Hands the position to the source or sink, which may then be used directly until jbfResume;
   a writer's bytes are counted into the sink's byte count. */
VltStatus jbfSuspend(JbfFile* file);
void jbfResume(JbfFile* file);
/* Hand the position back as jbfSuspend does and free the bit file; a writer that cannot write
   out its last bytes still frees it (and reports), a reader keeps it on failure. */
VltStatus jbfCloseFromDataSource(JbfFile* file);
VltStatus jbfCloseFromDataSink(JbfFile* file);
/* Aligns and frees without handing the position back; null is accepted. */
void jbfClose(JbfFile* file);

/* The refill callbacks of the two opens (context: the source or the sink). */
VltStatus dsrc_callback(uint8_t** base, uint32_t* length, void* source);
VltStatus dsink_callback(uint8_t** base, uint32_t* length, void* sink);

#endif
