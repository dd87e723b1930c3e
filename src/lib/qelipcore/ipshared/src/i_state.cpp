// The core state record: allocator slots, client procedures, flags and the cache records.

#include <cstdlib>
#include <cstring>

#include "ip_internal.h"
#include "ip_supertile.h"

namespace {

void* ip_defaultMalloc(size_t size, void*) { return std::malloc(size); }
void* ip_defaultCalloc(size_t count, size_t size, void*) { return std::calloc(count, size); }
void* ip_defaultRealloc(void* p, size_t size, void*) { return std::realloc(p, size); }
void ip_defaultFree(void* p, void*) { std::free(p); }

VltStatus install_slot(IPState* state, uint32_t slot, IPMallocProc m, IPCallocProc c,
                       IPReallocProc r, IPFreeProc f, void* data) {
  return i_IPStateSetAllocator(state, slot, m ? m : ip_defaultMalloc, c ? c : ip_defaultCalloc,
                               r ? r : ip_defaultRealloc, f ? f : ip_defaultFree, data);
}

}  // namespace

extern "C" {

VltStatus ip_initDataCacheManager(IPState* state) {
  if (state->dataCacheInitializer || state->cacheControl) return IP_FAIL(state, VLT_ERR_NOT_NULL);
  auto* init = static_cast<IPDataCacheInitializer*>(
      ipcore::alloc_zeroed(state, IP_SLOT_RECORDS, 1, sizeof(IPDataCacheInitializer)));
  if (!init) return IP_FAIL(state, VLT_ERR_NOMEM);
  auto* control = static_cast<IPCacheControl*>(
      ipcore::alloc_zeroed(state, IP_SLOT_RECORDS, 1, sizeof(IPCacheControl)));
  if (!control) {
    ipcore::release(state, IP_SLOT_RECORDS, init);
    return IP_FAIL(state, VLT_ERR_NOMEM);
  }
  state->dataCacheInitializer = init;
  state->cacheControl = control;
  return ip_initCacheControl(state, control);
}

VltStatus ip_terminateDataCacheManager(IPState* state) {
  if (!state->dataCacheInitializer || !state->cacheControl) return IP_FAIL(state, VLT_ERR_NULL);
  ip_terminateCacheControl(state, state->cacheControl);
  ipcore::release(state, IP_SLOT_RECORDS, state->cacheControl);
  ipcore::release(state, IP_SLOT_RECORDS, state->dataCacheInitializer);
  state->cacheControl = nullptr;
  state->dataCacheInitializer = nullptr;
  return VLT_OK;
}

VltStatus i_getSizeOfIPState(uint32_t* size) {
  *size = sizeof(IPState);
  return VLT_OK;
}

VltStatus i_IPStateInit(IPState* state, IPMallocProc malloc2, IPCallocProc calloc2,
                        IPReallocProc realloc2, IPFreeProc free2, void* data2,
                        IPMallocProc malloc1, IPCallocProc calloc1, IPReallocProc realloc1,
                        IPFreeProc free1, void* data1, IPMallocProc malloc0, IPCallocProc calloc0,
                        IPReallocProc realloc0, IPFreeProc free0, void* data0,
                        IPErrorProc errorProc, void* errorData, IPYieldProc yieldProc,
                        void* yieldArg1, void* yieldArg2, int32_t bufferSize) {
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  uint32_t size = 0;
  i_getSizeOfIPState(&size);
  if (bufferSize < 0 || static_cast<uint32_t>(bufferSize) < size) return IP_FAIL(state, VLT_ERR_PARAM);
  install_slot(state, IP_SLOT_HEAP, malloc2, calloc2, realloc2, free2, data2);
  install_slot(state, IP_SLOT_PIXELS, malloc1, calloc1, realloc1, free1, data1);
  install_slot(state, IP_SLOT_RECORDS, malloc0, calloc0, realloc0, free0, data0);
  state->strelInfo = nullptr;
  i_IPStateSetErrorProc(state, errorProc, errorData);
  i_IPStateSetYieldProc(state, yieldProc, yieldArg1, yieldArg2);
  ip_IPStateSetLongAccessFlag(state, 1);
  ip_IPStateSetPurifyIsRunning(state, 0);
  ip_IPStateSetPrivateDirName(state, nullptr);
  // A failed cache-record allocation must fail init: every raster operation needs the records.
  if (VltStatus s = ip_initDataCacheManager(state)) return s;
  state->intervalAccumulator = nullptr;
  state->minIntervalTimes = nullptr;
  return VLT_OK;
}

VltStatus i_IPStateTerm(IPState* state) {
  if (!state) return IP_FAIL(state, VLT_ERR_NULL);
  if (VltStatus s = ip_terminateDataCacheManager(state)) return s;
  return i_freeMinIntervalTimeArray(state);
}

VltStatus i_IPStateSetAllocator(IPState* state, uint32_t slot, IPMallocProc m, IPCallocProc c,
                                IPReallocProc r, IPFreeProc f, void* data) {
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  if (slot >= IP_NUM_SLOTS) return IP_FAIL(state, VLT_ERR_PARAM);
  state->mallocProc[slot] = m;
  state->callocProc[slot] = c;
  state->reallocProc[slot] = r;
  state->freeProc[slot] = f;
  state->allocData[slot] = data;
  return VLT_OK;
}

VltStatus i_IPStateSetErrorProc(IPState* state, IPErrorProc proc, void* data) {
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  state->errorProc = proc;
  state->errorData = data;
  return VLT_OK;
}

VltStatus i_IPStateGetErrorProc(IPState* state, IPErrorProc* proc, void** data) {
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  if (!proc || !data) return IP_FAIL(state, VLT_ERR_NULL);
  *proc = state->errorProc;
  *data = state->errorData;
  return VLT_OK;
}

VltStatus i_IPStateSetYieldProc(IPState* state, IPYieldProc proc, void* arg1, void* arg2) {
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  state->yieldProc = proc;
  state->yieldProcAsSet = proc;
  state->yieldArg1 = arg1;
  state->yieldArg2 = arg2;
  return VLT_OK;
}

VltStatus i_IPStateGetYieldProc(IPState* state, IPYieldProc* proc, void** arg1, void** arg2) {
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  if (!proc || !arg1 || !arg2) return IP_FAIL(state, VLT_ERR_NULL);
  *proc = state->yieldProc;
  *arg1 = state->yieldArg1;
  *arg2 = state->yieldArg2;
  return VLT_OK;
}

VltStatus i_IPStateSetStrelInfo(IPState* state, void* info) {
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  state->strelInfo = info;
  return VLT_OK;
}

VltStatus i_IPStateGetStrelInfo(IPState* state, void** info) {
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  if (!info) return IP_FAIL(state, VLT_ERR_NULL);
  *info = state->strelInfo;
  return VLT_OK;
}

}  // extern "C"

namespace {

template <auto Field, typename T>
VltStatus set_field(IPState* state, T value) {
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  state->*Field = value;
  return VLT_OK;
}

template <auto Field, typename T>
VltStatus get_field(IPState* state, T* out) {
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  if (!out) return IP_FAIL(state, VLT_ERR_NULL);
  *out = state->*Field;
  return VLT_OK;
}

}  // namespace

extern "C" {

VltStatus ip_IPStateSetLongAccessFlag(IPState* s, uint32_t f) { return set_field<&IPState::longAccessFlag>(s, f); }
VltStatus ip_IPStateGetLongAccessFlag(IPState* s, uint32_t* f) { return get_field<&IPState::longAccessFlag>(s, f); }
VltStatus ip_IPStateSetPurifyIsRunning(IPState* s, uint32_t f) { return set_field<&IPState::purifyIsRunning>(s, f); }
VltStatus ip_IPStateGetPurifyIsRunning(IPState* s, uint32_t* f) { return get_field<&IPState::purifyIsRunning>(s, f); }
VltStatus ip_IPStateSetUseHighResTime(IPState* s, uint32_t f) { return set_field<&IPState::useHighResTime>(s, f); }
VltStatus ip_IPStateGetUseHighResTime(IPState* s, uint32_t* f) { return get_field<&IPState::useHighResTime>(s, f); }
VltStatus ip_IPStateSetJNIEnv(IPState* s, void* e) { return set_field<&IPState::jniEnv>(s, e); }
VltStatus ip_IPStateGetJNIEnv(IPState* s, void** e) { return get_field<&IPState::jniEnv>(s, e); }

VltStatus ip_IPStateSetPrivateDirName(IPState* state, const char* name) {
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  if (!name) {
    state->privateDirName[0] = '\0';
    return VLT_OK;
  }
  const size_t len = std::strlen(name);
  if (len > IP_PRIVATE_DIR_NAME_MAX) return IP_FAIL(state, VLT_ERR_OVERFLOW);
  std::memcpy(state->privateDirName, name, len + 1);
  return VLT_OK;
}

VltStatus ip_IPStateGetPrivateDirName(IPState* state, const char** name) {
  if (!state) return IP_FAIL(state, VLT_ERR_NULL_IPWSTATE);
  if (!name) return IP_FAIL(state, VLT_ERR_NULL);
  *name = state->privateDirName;
  return VLT_OK;
}

VltStatus i_printErrorInfo(IPState*, const char*, long, VltStatus) { return VLT_OK; }

}  // extern "C"
