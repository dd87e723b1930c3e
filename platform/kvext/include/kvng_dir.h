#ifndef KVNG_DIR_H
#define KVNG_DIR_H

// The imaging engine's file-system helpers: what a path is, folder listings, making folders.

#include <stdint.h>

#include "mono_export.h"

enum { KVNG_PATH_NONE = 0, KVNG_PATH_DIRECTORY = 1, KVNG_PATH_FILE = 2, KVNG_PATH_OTHER = 3 };

/* What path names (links followed): a KVNG_PATH_* value; KVNG_PATH_NONE also for no path. */
MONO_API int KVngIdentifyFile(const char* path);

/* Makes the folder path. With parents 1 the missing folders above it are made as well and a
   folder already there counts as made; with 0 the parent must exist and the folder must not.
   1 on success, 0 on failure (the reason goes to KVngError). */
MONO_API int KVngMkDir(const char* path, int parents);

/* The names in folder path, without "." and "..", sorted bytewise, into *names (an array of
   *count texts, all on the engine heap; KVngFreeDirList frees them). 1 on success, 0 on failure
   (reported). */
MONO_API int KVngListDir(const char* path, char*** names, int32_t* count);
MONO_API void KVngFreeDirList(char** names, int32_t count);

#endif
