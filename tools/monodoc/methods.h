#ifndef MONODOC_METHODS_H
#define MONODOC_METHODS_H

// libmonocodec's interpreter methods, bound and called as the interpreter does.

#include <string>

#include "qelinterp.h"

namespace monodoc {

using Method = int (*)(void*, elf_object*, elf_object**);

// Binds a method of libmonocodec; null with the reason.
Method bind_method(const char* name, std::string* error);

// Calls the method on the image; false with the interpreter's message. A warning is reported
// (as the command's) and the call counts as done.
bool call_method(elf_state* state, Method method, const char* command, elf_object* image, elf_object* args,
                 std::string* error);

// The bytes of a layer's data (its chained POINTER strips, joined); false for a strip without
// its bytes.
bool layer_data(const elf_QELLAYER* layer, std::string* bytes);

}  // namespace monodoc

#endif
