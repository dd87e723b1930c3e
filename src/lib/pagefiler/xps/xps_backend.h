#ifndef XPS_BACKEND_H
#define XPS_BACKEND_H

// The two sides of the XPS back end meet in __XPSInit and __XPSRelease (xps_backend_write.cpp):
// mode 'r' and readers go to the reading side through these.

#include "dio.h"

extern "C" {

// The package opened for reading (the reader's back-end state), or null.
void* __XPSOpenReader(const char* filename);
// Closes what __XPSOpenReader gave; null is ignored.
void __XPSCloseReader(void* backend);

}  // extern "C"

#endif
