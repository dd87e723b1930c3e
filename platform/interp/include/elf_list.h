#ifndef ELF_LIST_H
#define ELF_LIST_H

// Lists and method argument lists.
//
// An argument list is a LIST of IDENTs. Arguments are named by specifications "name:type":
//   - a type letter: i (32-bit integer, INTEGER), d (double, DOUBLE; an INTEGER is widened),
//     b (boolean as a 32-bit 0 or 1, BOOLEAN; an INTEGER counts as true when non-zero),
//     s (text, STRING);
//   - a type name: INTEGER, DOUBLE, BOOLEAN and STRING mean the same as their letters; any other
//     name (LIST, QELIMAGE, TRANSFORMSPEC ...) is an object of that type;
//   - nothing after the colon: an object of any type.
// Blanks after the type are ignored. A '*' after the type asks for the object itself, also for
// the scalar types ("num:INTEGER *" is the INTEGER object, not its value).
//
// Values by kind, in scans (where the place points to) and in builds (what is passed):
//   integer, boolean: int32_t / int      double: double (pass 0.0, never 0)
//   text: const char* (a scan gives the STRING's own text, valid while the list holds it)
//   object: elf_object*
//
// The variable arguments are triples closed by LST_END:
//   scan:  (spec, flags, place)   flags LST_OPTIONAL or LST_REQUIRED
//   build: (spec, value, flags)   flags 0

#include <stdint.h>

#include "elf_object.h"
#include "mono_export.h"

#define LST_END ((const char*)1)
enum { LST_OPTIONAL = 0, LST_REQUIRED = 1 };

/* Entries of a list; -1 when list is not a LIST. */
MONO_API int32_t elflistLength(elf_object* list);
/* Entry index (borrowed), or null when out of range. */
MONO_API elf_object* elflistItem(elf_object* list, int32_t index);
/* Inserts obj before entry position (a position out of range appends) and takes a reference.
   flag is reserved (0 or 1, no effect). Refused (-1, reported) when obj is missing, list is no
   LIST, or obj is the list or holds it (a cycle would never be freed). Returns 0. */
MONO_API int elflistInsert(elf_object* list, elf_object* obj, int32_t position, int flag);
/* Takes entry index out of the list and hands it over with the list's reference; null when out
   of range. */
MONO_API elf_object* elflistRemove(elf_object* list, int32_t index);

/* Reads named arguments into places. Every place keeps its value unless its argument is
   present; an argument that is absent and LST_REQUIRED, present with another type, or a
   malformed specification fails the scan and is reported through the message function, and
   then no place is written. A null list is an empty one. Returns 1 on success, 0 on failure. */
MONO_API int lstScanArgs(elf_object* list, const char* spec, ...);

/* A new argument list (count 0) holding one IDENT per triple, or null (reported). */
MONO_API elf_object* lstBuildArgs(elf_state* state, const char* spec, ...);

/* Appends one IDENT per triple to list: all of them or, on failure (reported), none.
   Returns 1 on success, 0 on failure. */
MONO_API int lstAppendArgs(elf_object* list, const char* spec, ...);

/* Takes entry position out of list and returns its value with one reference for the caller (the
   IDENT that carried it is freed); the caller lowers the count and calls the free operation.
   Null when there is no such entry or it carries no value. */
MONO_API elf_object* lstRemoveArg(elf_object* list, int32_t position);

#endif
