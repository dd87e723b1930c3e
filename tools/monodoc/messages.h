#ifndef MONODOC_MESSAGES_H
#define MONODOC_MESSAGES_H

// The one place where the libraries' messages become what a user reads (messages.cpp).

#include <string>

namespace monodoc {

// Whether the internal names and the libraries' detail lines are shown as they are:
// MONODOC_DEBUG=1, which monodoc --debug sets for the whole process and its command modules.
bool debug_messages();

// A library message in plain words: its phrases translated, its function and member names left
// out, no trailing newline.
std::string plain_words(const std::string& message);

// Printers for the interpreter's message log and the imaging engine's printers: each line in
// plain words (debug notes only with --debug, and then every line as it came).
void print_interpreter_message(void* data, const char* text);
void print_engine_message(void* data, int kind, const char* text);

}  // namespace monodoc

#endif
