#ifndef INTERP_INTERNAL_H
#define INTERP_INTERNAL_H

// Helpers shared by the built-in types of the interpreter library.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "elf_list.h"
#include "elf_member.h"
#include "elf_object.h"
#include "elf_text.h"
#include "qel_image.h"

namespace interp {

// A growable array on the interpreter heap for the state's tables; zero-filled it is empty.
template <class T>
struct HeapArray {
  static_assert(std::is_trivially_copyable_v<T>);
  T* items;
  int32_t count;
  int32_t capacity;

  int32_t size() const { return count; }
  T& operator[](int32_t i) { return items[i]; }
  const T& operator[](int32_t i) const { return items[i]; }
  T* begin() { return items; }
  T* end() { return items + count; }
  const T* begin() const { return items; }
  const T* end() const { return items + count; }
  // False when memory runs out; the array is unchanged then.
  bool push(const T& value) {
    if (count == capacity) {
      if (capacity > INT32_MAX / 2) return false;
      const int32_t grown = capacity ? capacity * 2 : 8;
      auto* more = static_cast<T*>(elfCalloc(static_cast<size_t>(grown), sizeof(T)));
      if (!more) return false;
      if (count) std::memcpy(static_cast<void*>(more), items, sizeof(T) * static_cast<size_t>(count));
      _elfFree(items);
      items = more;
      capacity = grown;
    }
    items[count++] = value;
    return true;
  }
  void release() {
    _elfFree(items);
    items = nullptr;
    count = capacity = 0;
  }
};

// Every record begins with the object header, so an object pointer is its record's pointer.
template <class... T>
constexpr bool header_first = ((std::is_standard_layout_v<T> && offsetof(T, hdr) == 0) && ...);
static_assert(header_first<elf_LIST, elf_IDENT, elf_POINTER, elf_STRING, elf_INTEGER, elf_DOUBLE, elf_BOOLEAN,
                           elf_QELIMAGE, elf_QELLAYER, elf_QELHDR, elf_METHOD, elf_QELTEXT>);

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


// Member operations of the built-in types: get resolves members through the state's bindings
// (handed out uncached, count -10) and reports the others; set knows no names.
elf_object* get_member(elf_state* state, elf_object* obj, const char* name);
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

// The built-in creators and readers, in the order their ids are given.
struct BuiltinType {
  const char* name;
  elf_new_proc make;
  elf_read_proc read;
};
extern const BuiltinType builtin_types[ELF_TYPE_FIRST_FREE - 1];

// The text form of the built-in types that have one: writer and references by type, readers
// one per type (read_LIST is exported).
int write_builtin(elf_object* obj, int fd, const char* indent);
void refs_builtin(elf_object* obj, int fd, const char* indent);
elf_object* read_ident(elf_state* state, int fd);
elf_object* read_pointer(elf_state* state, int fd);
elf_object* read_string(elf_state* state, int fd);
elf_object* read_integer(elf_state* state, int fd);
elf_object* read_double(elf_state* state, int fd);
elf_object* read_boolean(elf_state* state, int fd);

// The state's registry (registry.cpp).
elf_type_table* new_type_table();
void free_type_table(elf_type_table* table);
int32_t set_type_reader(elf_state* state, int32_t id, elf_read_proc reader);
// The method bound to a type's member, bound first when it is a library symbol; null when the
// type has no such member or it cannot be bound (reported).
elf_method_proc member_proc(elf_state* state, int32_t typeId, const char* name);
// Members the interpreter serves itself (LIST "length" and "ref", QELIMAGE attributes).
int bind_builtin_members(elf_state* state);
// The imaging engine's procedures and page-image members (engine.cpp).
int bind_engine(elf_state* state);

// Forgets a value left waiting on fd by a reader that stopped after a label (text.cpp).
void drop_pending(int fd);

// Type descriptions (config.cpp).
bool is_type_description(const char* config);
int load_type_description(elf_state* state, const char* config);

}  // namespace interp

#endif
