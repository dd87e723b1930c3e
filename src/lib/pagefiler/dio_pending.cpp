// Format back ends that this build does not have yet. Starting one reports that its documents
// are not available and gives no state, so readers and writers of the format are never made;
// the slot functions answer the same way should anything reach them.

#include "dio_backends.h"

namespace {

int not_available(elf_state* state, const char* function, const char* what) {
  return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "%s: %s are not available in this build\n",
                   function, what);
}

void* no_start(const char* function, const char* what) {
  KVngError("%s: %s are not available in this build\n", function, what);
  return nullptr;
}

constexpr char xps[] = "XPS documents";

}  // namespace

// The slots of a back end: reading slots report on the state they get; writing slots have no
// state to report on, so they print and count no page.
#define DIO_PENDING_READER(page, checksum, count, what)                                     \
  int page(elf_state* state, void*, int32_t, elf_object** image) {                                  \
    if (image) *image = nullptr;                                                                    \
    return not_available(state, #page, what);                                                       \
  }                                                                                                 \
  int checksum(elf_state* state, void*, int32_t*) { return not_available(state, #checksum, what); } \
  int count(elf_state* state, void*, int32_t*) { return not_available(state, #count, what); }

#define DIO_PENDING_WRITER(release, insert, append, attributes, transforms, what) \
  void release(elf_object*) {}                                                    \
  int insert(void*, elf_object*, int32_t* n) {                                    \
    if (n) *n = -1;                                                               \
    no_start(#insert, what);                                                      \
    return QEL_STATUS_INVALID;                                                    \
  }                                                                               \
  int append(void*, elf_object*, int32_t* n) {                                    \
    if (n) *n = -1;                                                               \
    no_start(#append, what);                                                      \
    return QEL_STATUS_INVALID;                                                    \
  }                                                                               \
  int attributes(void*, elf_object*) {                                            \
    no_start(#attributes, what);                                                  \
    return QEL_STATUS_INVALID;                                                    \
  }                                                                               \
  int transforms(void*, elf_object*) {                                            \
    no_start(#transforms, what);                                                  \
    return QEL_STATUS_INVALID;                                                    \
  }

extern "C" {

void* __XPSInit(elf_state*, const char*, int) { return no_start("__XPSInit", xps); }
DIO_PENDING_READER(__XPSReadGetPage, __XPSGetChecksum, __XPSReadGetPageCount, xps)
DIO_PENDING_WRITER(__XPSRelease, __XPSInsertPage, __XPSAppendPage, __XPSSetAttributes, XPSInitTransforms, xps)

}  // extern "C"
