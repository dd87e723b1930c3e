#ifndef MACHCTL_H
#define MACHCTL_H

// System control of the device: its environment.

#include "mono_export.h"

/* The text of an environment variable, or null when it is not set. */
MONO_API const char* sc_get_env_var(const char* name);

#endif
