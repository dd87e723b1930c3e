#ifndef MONODOC_SESSION_H
#define MONODOC_SESSION_H

// The interpreter state of a run: made from a configuration (a type description such as
// "pagefiler.ucm" loads the types of a plug-in library), its messages on the standard error
// stream, freed last with the plug-in libraries it loaded.

#include <cstdio>

#include "qelinterp.h"

namespace monodoc {

struct Interpreter {
  elf_state* state;
  explicit Interpreter(const char* config) : state(initState(nullptr, config)) {
    if (state) state->print = print_message;
  }
  ~Interpreter() {
    freeState(state);
    elfUnloadSharedLibraries();
  }
  Interpreter(const Interpreter&) = delete;
  Interpreter& operator=(const Interpreter&) = delete;

  static void print_message(void*, const char* text) { std::fprintf(stderr, "monodoc: %s", text); }
};

}  // namespace monodoc

#endif
