// Format back ends that this build does not have yet. Starting one reports that its documents
// are not available and gives no state, so readers and writers of the format are never made;
// the slot functions answer the same way should anything reach them.

#include "dio_backends.h"
#include "xps_backend.h"

namespace {

int not_available(elf_state* state, const char* function, const char* what) {
  return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "%s: %s are not available in this build\n",
                   function, what);
}

void* no_start(const char* function, const char* what) {
  KVngError("%s: %s are not available in this build\n", function, what);
  return nullptr;
}

constexpr char xps_reading[] = "XPS documents for reading";

}  // namespace

// The reading slots of a back end report on the state they get.
#define DIO_PENDING_READER(page, checksum, count, what)                                     \
  int page(elf_state* state, void*, int32_t, elf_object** image) {                                  \
    if (image) *image = nullptr;                                                                    \
    return not_available(state, #page, what);                                                       \
  }                                                                                                 \
  int checksum(elf_state* state, void*, int32_t*) { return not_available(state, #checksum, what); } \
  int count(elf_state* state, void*, int32_t*) { return not_available(state, #count, what); }

extern "C" {

void* __XPSOpenReader(const char*) { return no_start("__XPSInit", xps_reading); }
void __XPSCloseReader(void*) {}
DIO_PENDING_READER(__XPSReadGetPage, __XPSGetChecksum, __XPSReadGetPageCount, xps_reading)

}  // extern "C"
