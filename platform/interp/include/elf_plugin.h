#ifndef ELF_PLUGIN_H
#define ELF_PLUGIN_H

// Binding functions of plug-in libraries by name.
//
// A library name maps to a file: a name holding a '/' is a path used as it is; a name ending in
// ".so" or holding ".so." is a file name; any other name N is the file "libN.so" ("monocodec"
// is libmonocodec.so). A file name is looked for in each directory of the environment variable
// MONODOC_PLUGIN_PATH (colon-separated, in order), then in the directory that holds the
// interpreter library itself, then by the dynamic loader's own search (LD_LIBRARY_PATH, the
// loader cache). A library is loaded once and stays loaded.

#include <stddef.h>

#include "elf_object.h"
#include "mono_export.h"

#define ELF_PLUGIN_PATH_ENV "MONODOC_PLUGIN_PATH"

/* Stores the address of symbol in library in *place and returns 1; otherwise returns 0, leaves
   *place alone and writes the reason (missing library, failed load, missing symbol) into why
   when given. */
MONO_API int elfBindSharedProc(const char* library, const char* symbol, void** place, char* why, size_t whySize);

/* The address of symbol in library, or null with the reason given to the state's message
   function. */
MONO_API void* ELFFindSharedProc(elf_state* state, const char* library, const char* symbol);

/* Finds a data file of the platform (a type description such as "pagefiler.ucm") as plug-in
   libraries are found: a name holding a '/' is a path; any other name is looked for in the
   directories of MONODOC_PLUGIN_PATH, then beside the interpreter library. Writes the path into
   out and returns 1, or returns 0 when there is no such file. */
MONO_API int elfFindPlatformFile(const char* name, char* out, size_t size);

/* Unloads every library loaded so far; addresses bound from them become invalid. */
MONO_API void elfUnloadSharedLibraries(void);

#endif
