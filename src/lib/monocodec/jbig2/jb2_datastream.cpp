// Byte sinks and sources. The window-crossing loops stop with 2003 when a callback claims success
// without supplying room or data, so a misbehaving callback can never make them spin.

#include "jb2_datastream.h"

#include <cstdint>
#include <cstring>

#include "vlt_state.h"

namespace {

uint32_t room(const DataSink* s) { return s->pos < s->size ? s->size - s->pos : 0; }
uint32_t left(const DataSource* s) { return s->pos < s->size ? s->size - s->pos : 0; }

// Asks the sink for a fresh window; 0 only when there is room afterwards.
VltStatus more_room(DataSink* sink, int pending) {
  if (sink->moredata == nullptr) return Vlt_report(sink->state, VLT_ERR_NULL);
  const VltStatus st = sink->moredata(sink, pending);
  if (st != VLT_OK) return st;
  if (room(sink) == 0) return Vlt_report(sink->state, VLT_ERR_IO_LENGTH);
  return VLT_OK;
}

// Asks the source for its next window; 0 only when it holds data.
VltStatus more_data(DataSource* source, void* place) {
  if (source->moredata == nullptr) return Vlt_report(source->state, VLT_ERR_NULL);
  const VltStatus st = source->moredata(source, place);
  if (st != VLT_OK) return st;
  if (left(source) == 0) return Vlt_report(source->state, VLT_ERR_IO_LENGTH);
  return VLT_OK;
}

}  // namespace

VltStatus _dsPutc(DataSink* sink, uint8_t byte) {
  if (room(sink) == 0) {
    const VltStatus st = more_room(sink, byte);
    if (st != VLT_OK) return st;
  }
  sink->buffer[sink->pos++] = byte;
  ++sink->count;
  return VLT_OK;
}

VltStatus dsWrite(DataSink* sink, uint32_t n, const uint8_t* bytes, uint32_t* written) {
  uint32_t done = 0;
  VltStatus st = VLT_OK;
  while (done < n) {
    if (room(sink) == 0 && (st = more_room(sink, -1)) != VLT_OK) break;
    const uint32_t step = room(sink) < n - done ? room(sink) : n - done;
    std::memcpy(sink->buffer + sink->pos, bytes + done, step);
    sink->pos += step;
    sink->count += step;
    done += step;
  }
  if (written != nullptr) *written = done;
  return st;
}

VltStatus dsMark(DataSink* sink, uint32_t n) {
  if (sink->mark == nullptr) return Vlt_report(sink->state, VLT_ERR_NULL);
  VltStatus st = sink->mark(sink, n);
  if (st != VLT_OK) return st;
  // The first reserved byte may be the last of a full window: mark before asking for room.
  uint32_t skipped = 0;
  while (skipped < n) {
    if (room(sink) == 0 && (st = more_room(sink, -1)) != VLT_OK) return st;
    const uint32_t step = room(sink) < n - skipped ? room(sink) : n - skipped;
    sink->pos += step;
    skipped += step;
  }
  return VLT_OK;
}

VltStatus dsFillMark(DataSink* sink, uint32_t n, const uint8_t* bytes) {
  if (sink->fillmark == nullptr) return Vlt_report(sink->state, VLT_ERR_NULL);
  return sink->fillmark(sink, n, bytes);
}

void dsResetCount(DataSink* sink) { sink->count = 0; }
uint32_t dsCount(const DataSink* sink) { return sink->count; }
void dsAdjustCount(DataSink* sink, uint32_t n) { sink->count += n; }

VltStatus jb2SimpleDataSinkMark(DataSink* sink, uint32_t) {
  sink->priv = sink->buffer + sink->pos;
  return VLT_OK;
}

VltStatus jb2SimpleDataSinkFillmark(DataSink* sink, uint32_t n, const uint8_t* bytes) {
  auto* place = static_cast<uint8_t*>(sink->priv);
  // The remembered place must still lie in this sink's one buffer with n bytes after it.
  const auto base = reinterpret_cast<uintptr_t>(sink->buffer);
  const auto at = reinterpret_cast<uintptr_t>(place);
  if (place == nullptr || at < base || at - base > sink->size || sink->size - (at - base) < n)
    return Vlt_report(sink->state, VLT_ERR_ASSERT);
  std::memcpy(place, bytes, n);
  return VLT_OK;
}

VltStatus _dsGetc(DataSource* source, uint8_t* byte) {
  if (left(source) == 0) {
    const VltStatus st = more_data(source, byte);
    if (st != VLT_OK) return st;
  }
  *byte = source->data[source->pos++];
  return VLT_OK;
}

VltStatus dsPeek(DataSource* source, int* value) {
  *value = -1;
  if (left(source) == 0) {
    if (source->moredata == nullptr) return VLT_OK;
    const VltStatus st = source->moredata(source, value);
    if (st != VLT_OK) return st;
    if (left(source) == 0) return VLT_OK;
  }
  *value = source->data[source->pos];
  return VLT_OK;
}

VltStatus dsRead(DataSource* source, uint32_t n, uint8_t* dest, uint32_t* read) {
  uint32_t done = 0;
  VltStatus st = VLT_OK;
  while (done < n) {
    if (left(source) == 0 && (st = more_data(source, nullptr)) != VLT_OK) break;
    const uint32_t step = left(source) < n - done ? left(source) : n - done;
    std::memcpy(dest + done, source->data + source->pos, step);
    source->pos += step;
    done += step;
  }
  if (read != nullptr) *read = done;
  return st;
}

void dsInitVltEncode_MQEncoder(DataSink* sink, MqEncoder* encoder) {
  VltEncode_mqeInit(encoder, byte_out, sink, sink->state);
}

int byte_out(uint8_t byte, void* context) {
  auto* sink = static_cast<DataSink*>(context);
  if (sink->pos < sink->size) {
    sink->buffer[sink->pos++] = byte;
    ++sink->count;
    return 1;
  }
  return _dsPutc(sink, byte) == VLT_OK ? 1 : 0;
}

VltStatus dsFinalVltEncode_MQEncoder(DataSink* sink, MqEncoder* encoder) {
  if (VltEncode_mqeFlush(encoder)) return VLT_OK;
  return Vlt_report(sink->state, VLT_ERR_IO_WRITE);
}

void dsInitVltEncode_MQDecoder(DataSource* source, MqDecoder* decoder) {
  VltEncode_mqdInit(decoder, source->data + (left(source) != 0 ? source->pos : 0), left(source),
                    data_in, source, source->state);
}

int data_in(const uint8_t** data, uint32_t* length, void* context) {
  auto* source = static_cast<DataSource*>(context);
  if (source->moredata == nullptr) {
    Vlt_report(source->state, VLT_ERR_NULL);
    return 0;
  }
  // The decoder asks only once it has read all it was given. A source that has nothing more
  // keeps an empty window: handing the old one over again would feed the decoder its own bytes
  // once more, and it would never meet the end of its data.
  source->pos = source->size;
  if (source->moredata(source, nullptr) != VLT_OK || left(source) == 0) return 0;
  *data = source->data + source->pos;
  *length = left(source);
  return 1;
}

VltStatus dsFinalVltEncode_MQDecoder(DataSource* source, MqDecoder* decoder) {
  const uint8_t* end = VltEncode_mqdFinishSW(decoder);
  // The decoder reads the source's current window, so its end lies inside that window.
  const auto base = reinterpret_cast<uintptr_t>(source->data);
  const auto at = reinterpret_cast<uintptr_t>(end);
  if (end == nullptr || source->data == nullptr || at < base || at - base > source->size)
    return Vlt_report(source->state, VLT_ERR_NULL);
  source->pos = static_cast<uint32_t>(at - base);
  return VLT_OK;
}
