// The imaging engine's printers.

#include <cstdarg>
#include <cstdio>

#include "kvng_print.h"

namespace {

KVngPrintProc printer = nullptr;
void* printer_data = nullptr;

void print(int kind, const char* format, va_list ap) {
  char text[2048];
  std::vsnprintf(text, sizeof text, format, ap);
  if (printer) {
    printer(printer_data, kind, text);
  } else if (kind != KVNG_PRINT_DEBUG) {
    std::fputs(text, stderr);
  }
}

}  // namespace

void KVngSetPrinter(KVngPrintProc print_proc, void* data) {
  printer = print_proc;
  printer_data = print_proc ? data : nullptr;
}

#define KVNG_PRINTER(name, kind)            \
  void name(const char* format, ...) {      \
    va_list ap;                             \
    va_start(ap, format);                   \
    print(kind, format, ap);                \
    va_end(ap);                             \
  }

KVNG_PRINTER(KVngError, KVNG_PRINT_ERROR)
KVNG_PRINTER(KVngPrintf, KVNG_PRINT_NOTE)
KVNG_PRINTER(KVngDebug, KVNG_PRINT_DEBUG)
