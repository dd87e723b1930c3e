#ifndef VLT_ERRORS_H
#define VLT_ERRORS_H

#include "mono_export.h"
#include "vlt_status.h"

struct VltMemFuncs;
struct VltState;


/* A printer adds the code's prefix and the line end around the formatted message; its result
   is not read by anyone. */
typedef int (*VltErrPrinter)(void* context, VltStatus code, const char* format, ...);

/* The error reporter a VltState points at. */
struct VltErrState {
  void* context;         /* handed to the printer: a stdio stream for Vlt_fileErrPrinter */
  VltErrPrinter printer;
};

/* Allocates a reporter with the table's malloc and stores it in *place. Returns 0, or 1 after
   telling the printer itself when the allocation fails (nothing is stored then). */
VltStatus Vlt_initVltErrState(VltErrState** place, const VltMemFuncs* mem, void* context,
                              VltErrPrinter printer);

/* Takes the reporter from *place, clears the place and frees the reporter with the free
   function of the given table or state. A null place or reporter is accepted. */
void Vlt_cleanupVltErrState(VltErrState** place, const VltMemFuncs* mem);
void Vlt_cleanupVltErrState(VltErrState** place, const VltState* state);

/* The standard printer on a stdio stream: "Error %d -- ", "Warning -- " (code VLT_CODE_WARNING)
   or "Report -- " (code VLT_CODE_REPORT), then the formatted message and a newline. A null
   stream prints nothing. Returns 0. */
int Vlt_fileErrPrinter(void* stream, VltStatus code, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

/* Writes "Assert Failure, "<file>", line <line>, <expression> -- (<message>)" on stderr and
   returns; it never ends the process. */
void Vlt_voidAssertPrinter(const char* file, const char* expression, int line, const char* message);

/* Reports the code with its standard text through the reporter, when there is one, and returns
   the code so a failing path can end with `return Vlt_reportErr(es, code);`. */
VltStatus Vlt_reportErr(const VltErrState* es, VltStatus code);

/* Reports the code with a message of the caller's own (printf format) and returns the code. */
VltStatus Vlt_reportErrMsg(const VltErrState* es, VltStatus code, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

#endif
