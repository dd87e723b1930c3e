// libmonocodec's interpreter methods, bound and called as the interpreter does.

#include "methods.h"

#include "commands.h"
#include "image_io.h"

namespace monodoc {

Method bind_method(const char* name, std::string* error) {
  void* address = nullptr;
  char why[4200];
  if (!elfBindSharedProc("monocodec", name, &address, why, sizeof why)) {
    *error = why;
    return nullptr;
  }
  return reinterpret_cast<Method>(address);
}

bool call_method(elf_state* state, Method method, const char* command, elf_object* image, elf_object* args,
                 std::string* error) {
  clearStatus(state);
  elf_object* result = nullptr;
  const int status = method(image, args, &result);
  const Held held(result);
  if (status == QEL_STATUS_OK) return true;
  const bool warning = getStatus(state) == status && getStatusSeverity(state) == QEL_SEVERITY_WARNING;
  if (warning) {
    complain(command, "warning: " + status_text(state, status));
    return true;
  }
  *error = status_text(state, status);
  return false;
}

bool layer_data(const elf_QELLAYER* layer, std::string* bytes) {
  bytes->clear();
  for (elf_object* p = layer->data; elfIsType(p, "POINTER"); p = reinterpret_cast<elf_POINTER*>(p)->next) {
    const auto* ptr = reinterpret_cast<const elf_POINTER*>(p);
    if (ptr->length != 0 && ptr->data == nullptr) return false;
    bytes->append(static_cast<const char*>(ptr->data), ptr->length);
  }
  return true;
}

}  // namespace monodoc
