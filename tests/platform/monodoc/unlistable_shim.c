/* A folder that cannot be listed, for the tests of what a writer does then: opendir fails with
   EIO for every folder whose name holds MONOTEST_UNLISTABLE. Loaded with LD_PRELOAD. */

#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

/* Exported over the hidden default, so that it stands in for the C library's. */
__attribute__((visibility("default"))) DIR* opendir(const char* name) {
  DIR* (*real)(const char*) = (DIR * (*)(const char*)) dlsym(RTLD_NEXT, "opendir");
  const char* marker = getenv("MONOTEST_UNLISTABLE");
  if (marker && *marker && strstr(name, marker)) {
    errno = EIO;
    return NULL;
  }
  return real ? real(name) : NULL;
}
