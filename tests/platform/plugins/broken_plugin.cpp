// A plug-in the loader refuses: it needs a function that no library defines.

#include "mono_export.h"

MONO_EXTERN_C void monotest_function_defined_nowhere(void);

MONO_API void brokenMethod(void) { monotest_function_defined_nowhere(); }
