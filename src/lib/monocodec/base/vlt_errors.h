#ifndef VLT_ERRORS_H
#define VLT_ERRORS_H

#include "mono_export.h"
#include "vlt_status.h"

/* The static text of a status code; never null, never to be freed. */
MONO_API const char* Vlt_getErrStr(VltStatus code);

#endif
