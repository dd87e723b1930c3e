// Shared pieces of the JBIG2 methods.

#include "jb2_method_util.h"

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

}  // namespace jb2m
