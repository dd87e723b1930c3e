#ifndef KVNG_PRINT_H
#define KVNG_PRINT_H

// The imaging engine's printers. Messages are printf formats whose first argument, by custom, is
// the reporting function's name: KVngError("%s: Cannot get zip entry #%d\n", "__XPSGetEntryForFile", i).
// By default errors and notes go to the standard error stream and debug notes nowhere; a
// program or test installs its own printer to see or keep them all.

#include "mono_export.h"

enum { KVNG_PRINT_ERROR = 0, KVNG_PRINT_NOTE = 1, KVNG_PRINT_DEBUG = 2 };

/* Receives one formatted message and its kind. */
typedef void (*KVngPrintProc)(void* data, int kind, const char* text);

/* Installs a printer (null restores the default); returns nothing. */
MONO_API void KVngSetPrinter(KVngPrintProc print, void* data);

MONO_API void KVngError(const char* format, ...) __attribute__((format(printf, 1, 2)));
MONO_API void KVngPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
MONO_API void KVngDebug(const char* format, ...) __attribute__((format(printf, 1, 2)));

#endif
