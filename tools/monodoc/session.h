#ifndef MONODOC_SESSION_H
#define MONODOC_SESSION_H

// The interpreter state of a run: made from a configuration (a type description such as
// "pagefiler.ucm" loads the types of a plug-in library), its messages on the standard error
// stream in plain words, freed last with the plug-in libraries it loaded.

#include <cstdio>

#include "messages.h"
#include "qelinterp.h"

namespace monodoc {

struct Interpreter {
  elf_state* state;
  explicit Interpreter(const char* config) : state(initState(nullptr, config)) {
    if (state) state->print = print_interpreter_message;
  }
  ~Interpreter() {
    freeState(state);
    elfUnloadSharedLibraries();
  }
  Interpreter(const Interpreter&) = delete;
  Interpreter& operator=(const Interpreter&) = delete;
};

}  // namespace monodoc

#endif
