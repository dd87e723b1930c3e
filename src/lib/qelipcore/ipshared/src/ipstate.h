#ifndef IPSTATE_H
#define IPSTATE_H

// The image core's state record: allocator slots, client procedures, behaviour flags, cache
// records and interval timing. Every core operation takes it first.

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "vlt_status.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void* (*IPMallocProc)(size_t size, void* data);
typedef void* (*IPCallocProc)(size_t count, size_t size, void* data);
typedef void* (*IPReallocProc)(void* ptr, size_t size, void* data);
typedef void (*IPFreeProc)(void* ptr, void* data);
// Called by the wrapper layer's error printer with the message text.
typedef void (*IPErrorProc)(void* data, const char* text);
// Stored and handed back only; the core never calls it.
typedef int32_t (*IPYieldProc)(void* arg1, void* arg2);
// Output procedure of i_printf.
typedef void (*IPOutputProc)(void* data, const char* text);

// Slots: 0 general records and work memory, 1 image pixel buffers, 2 the heap manager.
enum { IP_SLOT_RECORDS = 0, IP_SLOT_PIXELS = 1, IP_SLOT_HEAP = 2, IP_NUM_SLOTS = 3 };

enum { IP_PRIVATE_DIR_NAME_MAX = 256 };

// No cache hardware exists; the records only mark that the manager was set up.
typedef struct IPDataCacheInitializer {
  uint32_t started;
  uint32_t reserved[3];
} IPDataCacheInitializer;

typedef struct IPCacheControl {
  uint32_t flags;
  uint32_t window;
  uint32_t reserved[2];
} IPCacheControl;

typedef struct IPState {
  IPMallocProc mallocProc[IP_NUM_SLOTS];
  IPCallocProc callocProc[IP_NUM_SLOTS];
  IPReallocProc reallocProc[IP_NUM_SLOTS];
  IPFreeProc freeProc[IP_NUM_SLOTS];
  void* allocData[IP_NUM_SLOTS];
  void* strelInfo;
  IPErrorProc errorProc;
  void* errorData;
  IPYieldProc yieldProc;
  IPYieldProc yieldProcAsSet;
  void* yieldArg1;
  void* yieldArg2;
  void* envList;
  uint32_t longAccessFlag;
  uint32_t purifyIsRunning;
  char privateDirName[IP_PRIVATE_DIR_NAME_MAX + 1];
  void* jniEnv;
  IPDataCacheInitializer* dataCacheInitializer;
  IPCacheControl* cacheControl;
  uint32_t* minIntervalTimes;
  uint32_t intervalIndex;
  uint32_t numIntervals;
  uint32_t recordingIntervals;
  uint32_t* intervalAccumulator;
  uint32_t useHighResTime;
  // Room for later fields without changing the size clients allocate.
  uint32_t spare[32];
} IPState;

VltStatus i_getSizeOfIPState(uint32_t* size);

VltStatus i_IPStateInit(IPState* state,
                        IPMallocProc malloc2, IPCallocProc calloc2, IPReallocProc realloc2,
                        IPFreeProc free2, void* data2,
                        IPMallocProc malloc1, IPCallocProc calloc1, IPReallocProc realloc1,
                        IPFreeProc free1, void* data1,
                        IPMallocProc malloc0, IPCallocProc calloc0, IPReallocProc realloc0,
                        IPFreeProc free0, void* data0,
                        IPErrorProc errorProc, void* errorData,
                        IPYieldProc yieldProc, void* yieldArg1, void* yieldArg2,
                        int32_t bufferSize);
// Releases what init made; the caller frees the record itself.
VltStatus i_IPStateTerm(IPState* state);

VltStatus i_IPStateSetAllocator(IPState* state, uint32_t slot, IPMallocProc m, IPCallocProc c,
                                IPReallocProc r, IPFreeProc f, void* data);
VltStatus i_IPStateSetErrorProc(IPState* state, IPErrorProc proc, void* data);
VltStatus i_IPStateGetErrorProc(IPState* state, IPErrorProc* proc, void** data);
VltStatus i_IPStateSetYieldProc(IPState* state, IPYieldProc proc, void* arg1, void* arg2);
VltStatus i_IPStateGetYieldProc(IPState* state, IPYieldProc* proc, void** arg1, void** arg2);
VltStatus i_IPStateSetStrelInfo(IPState* state, void* info);
VltStatus i_IPStateGetStrelInfo(IPState* state, void** info);
VltStatus ip_IPStateSetLongAccessFlag(IPState* state, uint32_t flag);
VltStatus ip_IPStateGetLongAccessFlag(IPState* state, uint32_t* flag);
VltStatus ip_IPStateSetPurifyIsRunning(IPState* state, uint32_t flag);
VltStatus ip_IPStateGetPurifyIsRunning(IPState* state, uint32_t* flag);
VltStatus ip_IPStateSetUseHighResTime(IPState* state, uint32_t flag);
VltStatus ip_IPStateGetUseHighResTime(IPState* state, uint32_t* flag);
VltStatus ip_IPStateSetJNIEnv(IPState* state, void* env);
VltStatus ip_IPStateGetJNIEnv(IPState* state, void** env);
// A null name empties it; a name longer than 256 characters gives 7 and keeps the old one.
VltStatus ip_IPStateSetPrivateDirName(IPState* state, const char* name);
// Points at the state's own copy, valid while the state lives.
VltStatus ip_IPStateGetPrivateDirName(IPState* state, const char** name);

// The core's failure hook: every failing operation passes its code here before returning it.
VltStatus i_printErrorInfo(IPState* state, const char* file, long line, VltStatus code);

// Interval timing. There is no time source, so every recorded interval is 0.
VltStatus i_allocMinIntervalTimeArray(IPState* state, uint32_t n);
VltStatus i_freeMinIntervalTimeArray(IPState* state);
VltStatus i_initMinIntervalTimeArray(IPState* state);
VltStatus i_startIntervalRecording(IPState* state, uint32_t on);
VltStatus i_recordInterval(IPState* state);
VltStatus i_getNumberOfIntervals(IPState* state, uint32_t* n);
// Writes the 64-bit sum as high word then low word.
VltStatus i_sumMinIntervalTimes(IPState* state, uint32_t sum[2]);
uint32_t mqx_clock(void);

// Console output, cut to 256 (i_printf) or 512 (i_fprintf) bytes.
VltStatus i_printf(IPState* state, IPOutputProc proc, void* data, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
int i_fprintf(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
// The last text i_fprintf wrote to the console.
const char* i_lastConsoleMessage(void);
FILE* i_fopen(const char* path, const char* mode);

#ifdef __cplusplus
}
#endif

#endif
