#ifndef JB2_MEMSINK_H
#define JB2_MEMSINK_H

// The memory sink: a DataSink that grows by whole chunks and never moves a byte once written, so
// a reserved field (a segment's data length) can be filled in later wherever it fell, across any
// number of chunk boundaries. Closing hands the chunks to the caller, who joins them once.

#include <stdint.h>

#include "jb2_datastream.h"
#include "vlt_adt.h"
#include "vlt_status.h"

struct VltState;

inline constexpr uint32_t JB2_MEMSINK_CHUNK = 16384;

/* One finished chunk of a closed sink: its buffer (from the state's allocator, owned by whoever
   holds the list) and the bytes used in it. */
struct Jb2MemChunk {
  uint8_t* buffer;
  uint32_t used;
};

/* Makes a memory sink with its first chunk. Returns 0; 1 (reported) when an allocation fails;
   the list's own status when the chunk list cannot be made. *sink is null on failure and
   nothing stays allocated. */
VltStatus jb2NewMemoryDataSink(VltState* state, DataSink** sink);

/* Ends the sink and hands over its chunks in write order as a list of Jb2MemChunk cells; the
   sink is freed. 10003 (unreported, nothing freed) for a sink of another kind. When the last
   cell cannot be filed (1, reported, or the list's status) the caller still receives the list
   of the chunks finished so far and the rest is freed. */
VltStatus jb2CloseMemoryDataSink(DataSink* sink, VltAdtList** chunks);

/* The sink's callbacks: start a new chunk; remember where the next byte goes; write n bytes
   there. Filling without a mark, or more bytes than were written since it, is refused with
   10003 (reported) and writes nothing. */
VltStatus mdsink_moredata(DataSink* sink, int pending);
VltStatus mdsink_mark(DataSink* sink, uint32_t n);
VltStatus mdsink_fillmark(DataSink* sink, uint32_t n, const uint8_t* bytes);

#endif
