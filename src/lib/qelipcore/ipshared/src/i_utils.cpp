// Interval timing and console output of the core. Neither has a caller inside the system; the
// timing facility has no clock, so every interval it records is 0.

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "checked_size.h"
#include "ip_internal.h"

namespace {

constexpr size_t kPrintfBuffer = 256;
constexpr size_t kConsoleBuffer = 512;

char lastMessage[kConsoleBuffer];

}  // namespace

extern "C" {

VltStatus i_allocMinIntervalTimeArray(IPState* state, uint32_t n) {
  if (!state) return IP_FAIL(state, VLT_ERR_NOMEM);
  // A second allocation replaces the first instead of leaking it.
  i_freeMinIntervalTimeArray(state);
  size_t bytes = 0;
  if (!mono::checked_mul<size_t>(n, sizeof(uint32_t), &bytes)) return IP_FAIL(state, VLT_ERR_NOMEM);
  state->minIntervalTimes = static_cast<uint32_t*>(ipcore::alloc(state, IP_SLOT_RECORDS, bytes));
  if (!state->minIntervalTimes) return IP_FAIL(state, VLT_ERR_NOMEM);
  state->numIntervals = n;
  state->intervalAccumulator =
      static_cast<uint32_t*>(ipcore::alloc_zeroed(state, IP_SLOT_RECORDS, 1, sizeof(uint32_t)));
  if (!state->intervalAccumulator) {
    ipcore::release(state, IP_SLOT_RECORDS, state->minIntervalTimes);
    state->minIntervalTimes = nullptr;
    state->numIntervals = 0;
    return IP_FAIL(state, VLT_ERR_NOMEM);
  }
  return VLT_OK;
}

VltStatus i_freeMinIntervalTimeArray(IPState* state) {
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  ipcore::release(state, IP_SLOT_RECORDS, state->minIntervalTimes);
  state->minIntervalTimes = nullptr;
  state->numIntervals = 0;
  ipcore::release(state, IP_SLOT_RECORDS, state->intervalAccumulator);
  state->intervalAccumulator = nullptr;
  return VLT_OK;
}

VltStatus i_initMinIntervalTimeArray(IPState* state) {
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  if (!state->minIntervalTimes || !state->intervalAccumulator) return IP_FAIL(state, VLT_ERR_NULL);
  for (uint32_t i = 0; i < state->numIntervals; ++i) state->minIntervalTimes[i] = 0xFFFFFFFFu;
  return VLT_OK;
}

VltStatus i_startIntervalRecording(IPState* state, uint32_t on) {
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  state->recordingIntervals = on;
  if (!on) {
    state->numIntervals = 0;
    return VLT_OK;
  }
  if (!state->minIntervalTimes || !state->intervalAccumulator) return IP_FAIL(state, VLT_ERR_NULL);
  state->intervalIndex = 0;
  *state->intervalAccumulator = 0;
  return VLT_OK;
}

VltStatus i_recordInterval(IPState* state) {
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  if (!state->recordingIntervals) {
    ++state->numIntervals;
    return VLT_OK;
  }
  if (state->intervalIndex >= state->numIntervals || !state->minIntervalTimes ||
      !state->intervalAccumulator)
    return IP_FAIL(state, VLT_ERR_INTERNAL);
  state->minIntervalTimes[state->intervalIndex++] = 0;
  *state->intervalAccumulator = 0;
  return VLT_OK;
}

VltStatus i_getNumberOfIntervals(IPState* state, uint32_t* n) {
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  if (!n) return IP_FAIL(state, VLT_ERR_NULL);
  *n = state->numIntervals;
  return VLT_OK;
}

VltStatus i_sumMinIntervalTimes(IPState* state, uint32_t sum[2]) {
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  if (!sum || !state->minIntervalTimes || !state->intervalAccumulator) return IP_FAIL(state, VLT_ERR_NULL);
  sum[0] = 0;
  sum[1] = 0;
  return VLT_OK;
}

uint32_t mqx_clock(void) { return 0; }

VltStatus i_printf(IPState*, IPOutputProc proc, void* data, const char* format, ...) {
  char text[kPrintfBuffer];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  if (proc) proc(data, text);
  return VLT_OK;
}

int i_fprintf(FILE* stream, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  if (stream != stdout && stream != stderr) {
    const int n = std::vfprintf(stream, format, ap);
    va_end(ap);
    return n;
  }
  char text[kConsoleBuffer];
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  // The device console is standard output; error text goes there too.
  const int n = std::printf("%s", text);
  std::memset(lastMessage, 0, sizeof lastMessage);
  std::memcpy(lastMessage, text, std::strlen(text) + 1);
  return n;
}

const char* i_lastConsoleMessage(void) { return lastMessage; }

FILE* i_fopen(const char* path, const char* mode) { return std::fopen(path, mode); }

}  // extern "C"
