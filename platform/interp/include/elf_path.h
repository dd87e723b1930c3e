#ifndef ELF_PATH_H
#define ELF_PATH_H

// Parts of a file name. Each answer is a new string on the interpreter heap (_elfFree), or null.
// The base name is what follows the last '/'; its extension is what follows its last '.', unless
// that '.' starts the base name (".profile" has none) or ends it.

#include "mono_export.h"

/* The directory part without the last '/', or null when the name has no '/'. "/a.tif" gives "". */
MONO_API char* elfPath(const char* name);
/* The base name without its extension. */
MONO_API char* elfName(const char* name);
/* The extension without its '.', or null when there is none. */
MONO_API char* elfExt(const char* name);

#endif
