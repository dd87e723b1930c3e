#ifndef QEL_UUID_H
#define QEL_UUID_H

// The interpreter's UUIDs: 16 bytes, in the byte order of their text form (RFC 4122).

#include <stdint.h>

#include "mono_export.h"

typedef struct QELUuid {
  uint8_t bytes[16];
} QELUuid;

enum {
  QEL_UUID_FORM_LOWER = 0, /* "0f1e2d3c-..." */
  QEL_UUID_FORM_UPPER = 1, /* "0F1E2D3C-..." */
};

/* A random UUID (version 4) into uuid; 1, or 0 for no place. */
MONO_API int QELUuidCreate(QELUuid* uuid);
/* The nil UUID (all zero) into uuid; 1, or 0 for no place. */
MONO_API int QELUuidCreateNil(QELUuid* uuid);
/* The 36-character text of uuid in a QEL_UUID_FORM_* into *text, allocated with the C library's
   malloc (the caller frees it with free); 1, or 0 for a missing argument, an unknown form or no
   memory. */
MONO_API int QELUuidToString(const QELUuid* uuid, int form, char** text);

#endif
