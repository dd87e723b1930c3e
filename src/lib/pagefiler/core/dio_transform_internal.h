#ifndef DIO_TRANSFORM_INTERNAL_H
#define DIO_TRANSFORM_INTERNAL_H

// What the transform-specification files share and do not export.

#include "dio_internal.h"

namespace dio::ts {

// Photometry lists. Each returns false when memory runs out (nothing made then).
bool new_list(int32_t code, DIOPhotometryList** out);
bool clone_list(const DIOPhotometryList* from, DIOPhotometryList** out);
void free_list(DIOPhotometryList* list);
bool same_list(const DIOPhotometryList* a, const DIOPhotometryList* b);
// Whether the list holds code.
bool list_holds(const DIOPhotometryList* list, int32_t code);

// Reports a photometry list that could not be allocated and returns the status.
int list_failed(elf_state* state);

// A block released and cleared (depth 0, no list).
void clear_block(DIORasterSpec* block);
// A block set to the defaults of a new spec, its list released.
void default_block(DIORasterSpec* block, int32_t depth);
// to becomes a copy of from with a list of its own; to's old list is released. False when the
// list could not be allocated (to is left without one then).
bool copy_block(DIORasterSpec* to, const DIORasterSpec* from);

// The record a coreImage POINTER holds; null for any other object, also a POINTER whose bytes
// are not a record of ours (as one read back from text without conversion).
DIOCoreSpec* core_record(elf_object* pointer);
// A coreImage POINTER over a new all-zero record, or null when memory runs out.
elf_object* new_core(elf_state* state);
// A coreImage POINTER over a copy of from's record with lists of its own, or null (reported
// when a list could not be allocated).
elf_object* copy_core(elf_state* state, elf_object* from);

// Whether args holds an argument of that name.
bool has_arg(elf_object* args, const char* name);
// Appends name = value (which may be null) to a result list; false when memory runs out.
bool append_entry(elf_object* list, const char* name, elf_object* value);

}  // namespace dio::ts

#endif
