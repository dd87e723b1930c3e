// Shared pieces of the JBIG2 methods.

#include "jb2_method_util.h"

#include <cstring>

namespace jb2m {

elf_QELIMAGE* target_image(void* target, const char* method, int* status) {
  auto* obj = static_cast<elf_object*>(target);
  if (obj == nullptr) {
    *status = setStatus(nullptr, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "%s: %s\n", method,
                        "Null object passed to jbig2 codec");
    return nullptr;
  }
  elf_QELIMAGE* image = qelImage(obj);
  if (image == nullptr)
    *status = setStatus(obj->state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "%s: %s\n", method,
                        "Incorrect object type passed to jbig2 codec");
  return image;
}

elf_QELLAYER* entry_layer(elf_object* entry) {
  if (!elfIsType(entry, "IDENT")) return nullptr;
  elf_object* value = reinterpret_cast<elf_IDENT*>(entry)->value;
  return elfIsType(value, "QELLAYER") ? qelLayer(value) : nullptr;
}

bool layer_bytes(elf_object* data, const uint8_t** bytes, uint32_t* length, uint8_t** joined) {
  *joined = nullptr;
  auto* p = elfIsType(data, "POINTER") ? reinterpret_cast<elf_POINTER*>(data) : nullptr;
  if (p == nullptr) return false;
  size_t total = 0;
  for (elf_object* s = data; elfIsType(s, "POINTER"); s = reinterpret_cast<elf_POINTER*>(s)->next) {
    const auto* strip = reinterpret_cast<elf_POINTER*>(s);
    if (strip->length != 0 && strip->data == nullptr) return false;
    total += strip->length;
  }
  if (total > UINT32_MAX) return false;
  if (p->next == nullptr) {
    *bytes = static_cast<const uint8_t*>(p->data);
    *length = static_cast<uint32_t>(total);
    return true;
  }
  auto* out = static_cast<uint8_t*>(elfMalloc(total));
  if (out == nullptr) return false;
  size_t at = 0;
  for (elf_object* s = data; elfIsType(s, "POINTER"); s = reinterpret_cast<elf_POINTER*>(s)->next) {
    const auto* strip = reinterpret_cast<elf_POINTER*>(s);
    if (strip->length != 0) std::memcpy(out + at, strip->data, strip->length);
    at += strip->length;
  }
  *joined = out;
  *bytes = out;
  *length = static_cast<uint32_t>(total);
  return true;
}

}  // namespace jb2m
