#ifndef CFGKEEP_H
#define CFGKEEP_H

// The device's configuration data store: a process attaches to it, then reads and changes its
// object space through libobjax (objax.h) and appends attribute values here; nothing is kept
// until the object space is saved (oa_save_obj_space).
//
// This stand-in keeps the object space in a text file, read whole by ds_attach:
//
//   cfgkeep 1                          the first line: the form and its version
//   xid 17 OID_ATT_HR_DEVICE_IDENTIFIER
//                                      the schema: a symbolic name and its identifier (1-65535)
//   object 5 3 2                       an object: its handle (1-4294967295), the identifier of
//                                      its class and its creation flags, then its rows
//   avp 17 3100                        an attribute-value pair, in order: the attribute's
//                                      identifier and the value's bytes in hexadecimal, "-" for
//                                      none
//   end                                the end of the object
//
// Blank lines and lines beginning with '#' are skipped, words are separated by blanks; names
// and numbers are unique, and every identifier an object uses is in the schema. Saving writes
// the same form: the schema by identifier, then the objects by handle.

#include <stdint.h>

#include "mono_export.h"

typedef uint32_t Ds_handle; /* an object of the store; 0 for none */
typedef uint16_t xid_t;     /* an attribute or class identifier; 0 for none */

/* Attaches the process to the store kept in the file named (flags: 0). 0, or -1 when it cannot
   be read whole (ds_last_error tells why): the process then holds an empty object space. */
MONO_API int ds_attach(const char* store, int flags);
/* Leaves the store; the object space is empty again. */
MONO_API void ds_detach(void);
/* Appends to an object one attribute-value pair: count 1, the attribute, options 0 and the
   value's bytes. 0, or -1 for an unknown object or attribute, another count or options, or
   no value. */
MONO_API int ds_append_avp2(Ds_handle object, int count, xid_t attribute, int options, const void* value,
                            uint16_t length);
/* Why the last call of the store or of libobjax failed ("" when it did not). */
MONO_API const char* ds_last_error(void);

#endif
