#ifndef XPS_NAMES_H
#define XPS_NAMES_H

// Relationship types of XPS packages. The XPS ones exist in two namespaces: the 2005/06 one of
// the first XPS specification and the OpenXPS one of ECMA-388; both are recognised as the same
// kind. The OPC ones (core properties, thumbnail, signatures) are shared by both. Types are
// compared as whole strings.

#include <libxml/xmlstring.h>
#include <stddef.h>

#include "mono_export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum XPSRelKind {
  XPS_REL_FIXED_REPRESENTATION,
  XPS_REL_PRINT_TICKET,
  XPS_REL_DISCARD_CONTROL,
  XPS_REL_SIGNATURE_DEFINITIONS,
  XPS_REL_DOCUMENT_STRUCTURE,
  XPS_REL_REQUIRED_RESOURCE,
  XPS_REL_STORY_FRAGMENTS,
  XPS_REL_CORE_PROPERTIES,
  XPS_REL_THUMBNAIL,
  XPS_REL_DIGITAL_SIGNATURE_ORIGIN,
  XPS_REL_DIGITAL_SIGNATURE,
} XPSRelKind;

/* Whether type names a relationship of that kind in either namespace. */
MONO_API int XPSRelTypeIs(const xmlChar* type, XPSRelKind kind);

/* Whether two part (or zip entry) names are the same: OPC compares part names without regard
   to ASCII case (ECMA-376 Part 2, part name equivalence). */
MONO_API int XPSPartNamesEqual(const char* a, const char* b);
/* Whether name begins with prefix, compared as part names are. */
MONO_API int XPSPartNameHasPrefix(const char* name, const char* prefix);

#ifdef __cplusplus
}
#endif

#endif
