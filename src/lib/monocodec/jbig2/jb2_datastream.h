#ifndef JB2_DATASTREAM_H
#define JB2_DATASTREAM_H

// Callback-driven byte streams of the JBIG2 codec. A sink or source is one buffer window and a
// callback that supplies the next window when this one is used up. Writers and readers test the
// window themselves and store or take bytes directly (the fast path); the one-byte calls below
// are the slow path for a full or empty window. All positions and lengths are unsigned.

#include <stdint.h>

#include "vlt_mq.h"
#include "vlt_status.h"

struct VltState;
struct DataSink;
struct DataSource;

/* Called when the window is full: leaves room (pos < size, usually a fresh window at pos 0) and
   returns 0, or returns a status. pending is the byte about to be written by _dsPutc, or -1; the
   callback never stores it. */
typedef VltStatus (*DataSinkMoreFn)(DataSink* sink, int pending);
/* Remembers the current place as the start of n reserved bytes. */
typedef VltStatus (*DataSinkMarkFn)(DataSink* sink, uint32_t n);
/* Copies n bytes to the place remembered by the last mark, across windows if need be. */
typedef VltStatus (*DataSinkFillMarkFn)(DataSink* sink, uint32_t n, const uint8_t* bytes);

struct DataSink {
  uint8_t* buffer;  /* current window */
  uint32_t size;    /* bytes in the window */
  uint32_t pos;     /* next byte to write, 0 <= pos <= size */
  uint32_t count;   /* bytes written since the last dsResetCount */
  DataSinkMoreFn moredata;
  DataSinkMarkFn mark;
  DataSinkFillMarkFn fillmark;
  void* priv;       /* for the callbacks */
  VltState* state;  /* whose reporter receives this stream's reports */
};

/* Called when the window is used up: installs a new window (data, size) at pos 0 and returns 0;
   a status means there is no more data. place is the caller's result place (_dsGetc, dsPeek) or
   null; the callback never stores into it. */
typedef VltStatus (*DataSourceMoreFn)(DataSource* source, void* place);

struct DataSource {
  const uint8_t* data; /* current window */
  uint32_t size;       /* bytes in the window */
  uint32_t pos;        /* next byte to read, 0 <= pos <= size */
  DataSourceMoreFn moredata;
  void* context;       /* for the callback */
  VltState* state;
};

/* Slow path of writing one byte when the window is full. 118 without moredata, 2003 when
   moredata made no room (both reported); moredata's own status is passed back unreported. */
VltStatus _dsPutc(DataSink* sink, uint8_t byte);
/* Writes n bytes, asking for room as often as needed; *written tells how many were stored. */
VltStatus dsWrite(DataSink* sink, uint32_t n, const uint8_t* bytes, uint32_t* written);
/* Reserves n bytes at the current place (mark first, then the bytes are skipped, across windows
   if need be); the reserved bytes are not counted. 118 (reported) without mark or moredata. */
VltStatus dsMark(DataSink* sink, uint32_t n);
/* Fills the bytes reserved by the last dsMark. 118 (reported) without fillmark. */
VltStatus dsFillMark(DataSink* sink, uint32_t n, const uint8_t* bytes);
void dsResetCount(DataSink* sink);
uint32_t dsCount(const DataSink* sink);
/* For writers that fill the window themselves. */
void dsAdjustCount(DataSink* sink, uint32_t n);

/* The mark pair of a sink over one buffer that does not change between a mark and its fill. */
VltStatus jb2SimpleDataSinkMark(DataSink* sink, uint32_t n);
VltStatus jb2SimpleDataSinkFillmark(DataSink* sink, uint32_t n, const uint8_t* bytes);

/* Slow path of reading one byte when the window is used up. 118 without moredata, 2003 when the
   data ends early (both reported); moredata's status is passed back unreported. */
VltStatus _dsGetc(DataSource* source, uint8_t* byte);
/* *value = the next byte (0-255) without taking it, or -1 at the end of the data. */
VltStatus dsPeek(DataSource* source, int* value);
/* Reads n bytes, refilling as often as needed; *read tells how many were copied. */
VltStatus dsRead(DataSource* source, uint32_t n, uint8_t* dest, uint32_t* read);

/* The MQ coder on sinks and sources. */
void dsInitVltEncode_MQEncoder(DataSink* sink, MqEncoder* encoder);
/* The encoder's byte-out callback (context: the sink): 1 when stored, 0 when not. */
int byte_out(uint8_t byte, void* sink);
/* Flushes the encoder: 0, or 2001 (reported) when the sink refused a byte. */
VltStatus dsFinalVltEncode_MQEncoder(DataSink* sink, MqEncoder* encoder);
/* Starts the decoder on the rest of the source's window, refilling through data_in. */
void dsInitVltEncode_MQDecoder(DataSource* source, MqDecoder* decoder);
/* The decoder's refill callback (context: the source): the source's window counts as read; 1
   and the unread part of its next window, or 0 when the source has no more data. */
int data_in(const uint8_t** data, uint32_t* length, void* source);
/* Moves the source just past the end marker of the coded data: 0, or 118 (reported) when the
   decoder did not meet its marker. */
VltStatus dsFinalVltEncode_MQDecoder(DataSource* source, MqDecoder* decoder);

#endif
