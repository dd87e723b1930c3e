#ifndef INTERP_INTERNAL_H
#define INTERP_INTERNAL_H

// Helpers shared by the built-in types of the interpreter library.

#include <cstddef>
#include <type_traits>

#include "elf_list.h"
#include "elf_object.h"
#include "qel_image.h"

namespace interp {

// Every record begins with the object header, so an object pointer is its record's pointer.
template <class... T>
constexpr bool header_first = ((std::is_standard_layout_v<T> && offsetof(T, hdr) == 0) && ...);
static_assert(header_first<elf_LIST, elf_IDENT, elf_POINTER, elf_STRING, elf_INTEGER, elf_DOUBLE, elf_BOOLEAN,
                           elf_QELIMAGE, elf_QELLAYER, elf_QELHDR>);

// Hands every entry of a creation list to the object's set operation.
void apply_creation_args(elf_state* state, elf_object* obj, elf_object* args);

// A zeroed record of type T with its header filled, or null.
template <class T>
T* make_record(elf_state* state, const char* type_name, const elf_type_ops& ops) {
  auto* rec = static_cast<T*>(elfCalloc(1, sizeof(T)));
  if (!rec) return nullptr;
  if (elfInitObject(&rec->hdr, state, type_name, &ops) != 0) {
    _elfFree(rec);
    return nullptr;
  }
  return rec;
}

// A new object of type T with its creation list applied, or null.
template <class T>
elf_object* create(elf_state* state, const char* type_name, const elf_type_ops& ops, elf_object* args) {
  T* rec = make_record<T>(state, type_name, ops);
  if (!rec) return nullptr;
  apply_creation_args(state, &rec->hdr, args);
  return &rec->hdr;
}


// Member operations of types without members: every name is reported as unknown.
elf_object* get_no_member(elf_state* state, elf_object* obj, const char* name);
int set_no_member(elf_state* state, elf_object* obj, const char* name, elf_object* value);

// Equality of two optional objects through the first one's equal operation.
bool equal_optional(elf_object* a, elf_object* b);
// Whether other is obj or can be reached from it.
bool reaches(elf_object* obj, elf_object* other);
// A copy of an optional object through its copy operation; *ok turns false when one was due
// and could not be made.
elf_object* copy_optional(elf_object* obj, bool* ok);
// Moves an optional object to another state.
void reset_optional(elf_object* obj, elf_state* state);

// Operations that every type with held object fields shares: Cast gives the record of an object
// of the type (null for others), Fields are the record's held object fields besides the peer.
template <class T, T* (*Cast)(elf_object*), elf_object* T::*... Fields>
struct HeldFields {
  static void reset(elf_object* obj, elf_state* state) {
    T* r = Cast(obj);
    if (!r) return;
    obj->state = state;
    reset_optional(obj->peer, state);
    (reset_optional(r->*Fields, state), ...);
  }
  static int cycle(elf_object* obj, elf_object* other) {
    T* r = Cast(obj);
    return r && (reaches(obj->peer, other) || (reaches(r->*Fields, other) || ...)) ? 1 : 0;
  }
  static bool equal(const T* a, const T* b) { return (equal_optional(a->*Fields, b->*Fields) && ...); }
  static void drop(T* r) { (elfRefDown(r->*Fields), ...); }
};

// The built-in creators, in the order their ids are given.
struct BuiltinType {
  const char* name;
  elf_new_proc make;
};
extern const BuiltinType builtin_types[ELF_TYPE_FIRST_FREE - 1];

}  // namespace interp

#endif
