#ifndef OBJAX_H
#define OBJAX_H

// Object access to the configuration data store (cfgkeep.h): identifiers of symbolic names,
// finding, creating and deleting objects, and saving the object space.

#include <stdint.h>

#include "cfgkeep.h"
#include "mono_export.h"

/* The identifier of a symbolic name of the schema, 0 for a name it does not hold. */
MONO_API xid_t oa_xid_of(const char* name);
/* The first object (by handle) with a row of the attribute holding exactly those bytes, or 0. */
MONO_API Ds_handle oa_find_object_from_name(xid_t attribute, const void* name, int length);
/* A new object of a class whose first row holds the name (with its NUL) in the identifier
   attribute; the flags are kept with it. The handle, one above the highest in use; 0 for an
   unknown class or attribute or no name. */
MONO_API Ds_handle oa_create_object(xid_t objectClass, xid_t attribute, const char* name, int flags);
/* Removes an object of that class: 0, or -1 when there is none. */
MONO_API int oa_delete_object(xid_t objectClass, Ds_handle object);
/* The file of a configuration: the environment variable of its name when set, else for
   "DS_CURRENT_CONFIG" the file the process last attached to (or tried to); null otherwise. */
MONO_API const char* oa_access_config_filename(const char* config);
/* Writes the object space to a file, replacing it whole only once it is written: 0, or -1. */
MONO_API int oa_save_obj_space(const char* path);

#endif
