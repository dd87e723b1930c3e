// Built-in types: LIST, IDENT, POINTER and the scalars STRING, INTEGER, DOUBLE, BOOLEAN.

#include <cmath>
#include <cstring>
#include <type_traits>

#include "interp_internal.h"

using interp::copy_optional;
using interp::equal_optional;
using interp::reaches;
using interp::reset_optional;

namespace {

bool empty_header(const elf_object* obj) { return obj->stateWord == ELF_OBJECT_EMPTY; }

elf_state* state_of(const elf_object* obj) { return obj ? obj->state : nullptr; }

// ---- LIST ----

elf_LIST* as_list(elf_object* obj) { return elfIsType(obj, "LIST") ? reinterpret_cast<elf_LIST*>(obj) : nullptr; }

int empty_list(elf_object* obj) {
  if (!obj) return -1;
  return empty_header(obj) || (as_list(obj)->count == 0 && !obj->peer) ? 1 : 0;
}

int cycle_list(elf_object* obj, elf_object* other) {
  elf_LIST* list = as_list(obj);
  if (!list) return 0;
  if (reaches(obj->peer, other)) return 1;
  for (int32_t i = 0; i < list->count; ++i) {
    if (reaches(list->items[i], other)) return 1;
  }
  return 0;
}

int equal_list(elf_object* a, elf_object* b) {
  elf_LIST* x = as_list(a);
  elf_LIST* y = as_list(b);
  if (!x || !y) return 0;
  if (a == b) return 1;
  if (x->count != y->count) return 0;
  for (int32_t i = 0; i < x->count; ++i) {
    if (!equal_optional(x->items[i], y->items[i])) return 0;
  }
  return 1;
}

void reset_list(elf_object* obj, elf_state* state) {
  elf_LIST* list = as_list(obj);
  if (!list) return;
  obj->state = state;
  reset_optional(obj->peer, state);
  for (int32_t i = 0; i < list->count; ++i) reset_optional(list->items[i], state);
}

constexpr elf_type_ops list_ops{reset_list, empty_list,           interp::refs_builtin, copy_LIST,
                                interp::write_builtin, read_LIST, free_LIST, interp::set_no_member,
                                interp::get_member,    cycle_list, equal_list};

// ---- IDENT ----

elf_IDENT* as_ident(elf_object* obj) {
  return elfIsType(obj, "IDENT") ? reinterpret_cast<elf_IDENT*>(obj) : nullptr;
}

int empty_ident(elf_object* obj) {
  if (!obj) return -1;
  return empty_header(obj) || (!as_ident(obj)->value && !obj->peer) ? 1 : 0;
}

using IdentHeld = interp::HeldFields<elf_IDENT, as_ident, &elf_IDENT::value>;

int equal_ident(elf_object* a, elf_object* b) {
  elf_IDENT* x = as_ident(a);
  elf_IDENT* y = as_ident(b);
  if (!x || !y) return 0;
  if (a == b) return 1;
  return std::strcmp(x->name, y->name) == 0 && IdentHeld::equal(x, y) ? 1 : 0;
}

constexpr elf_type_ops ident_ops{IdentHeld::reset,    empty_ident,       interp::refs_builtin, copy_IDENT,
                                 interp::write_builtin, interp::read_ident, free_IDENT,          interp::set_no_member,
                                 interp::get_member,    IdentHeld::cycle,  equal_ident};

// ---- POINTER ----

elf_POINTER* as_pointer(elf_object* obj) {
  return elfIsType(obj, "POINTER") ? reinterpret_cast<elf_POINTER*>(obj) : nullptr;
}

int empty_pointer(elf_object* obj) {
  if (!obj) return -1;
  const elf_POINTER* p = as_pointer(obj);
  return empty_header(obj) || (!p->data && p->length == 0 && !p->next && !obj->peer) ? 1 : 0;
}

using PointerHeld = interp::HeldFields<elf_POINTER, as_pointer, &elf_POINTER::next>;

bool same_text(const char* a, const char* b) { return (!a || !b) ? a == b : std::strcmp(a, b) == 0; }

int equal_pointer(elf_object* a, elf_object* b) {
  elf_POINTER* x = as_pointer(a);
  elf_POINTER* y = as_pointer(b);
  if (!x || !y) return 0;
  if (a == b) return 1;
  if (x->length != y->length || !same_text(x->description, y->description)) return 0;
  if ((x->data == nullptr) != (y->data == nullptr)) return 0;
  if (x->data && x->length && std::memcmp(x->data, y->data, x->length) != 0) return 0;
  return PointerHeld::equal(x, y) ? 1 : 0;
}

constexpr elf_type_ops pointer_ops{PointerHeld::reset,    empty_pointer,       interp::refs_builtin,
                                   copy_POINTER,          interp::write_builtin, interp::read_pointer,
                                   free_POINTER,          interp::set_no_member, interp::get_member,
                                   PointerHeld::cycle,    equal_pointer};

// ---- Scalars ----
// One template over the four scalar records; Traits gives the type name and how a value is
// held, compared, copied and released.

struct StringTraits {
  using Record = elf_STRING;
  static constexpr const char* name = "STRING";
  static constexpr elf_read_proc read = interp::read_string;
  static bool assign(Record* r, const Record* from) {
    char* copy = elfStrDup(from->value);
    if (!copy) return false;
    _elfFree(r->value);
    r->value = copy;
    return true;
  }
  static bool equal(const Record* a, const Record* b) { return std::strcmp(a->value, b->value) == 0; }
  static bool is_empty(const Record* r) { return r->value[0] == '\0'; }
  static void release(Record* r) { _elfFree(r->value); }
};

template <class R, const char* N, elf_read_proc Read>
struct NumberTraits {
  using Record = R;
  static constexpr const char* name = N;
  static constexpr elf_read_proc read = Read;
  static bool assign(Record* r, const Record* from) {
    r->value = from->value;
    return true;
  }
  // A NaN equals a NaN, so that a copy equals its source.
  static bool equal(const Record* a, const Record* b) {
    if constexpr (std::is_floating_point_v<decltype(a->value)>) {
      if (std::isnan(a->value) && std::isnan(b->value)) return true;
    }
    return a->value == b->value;
  }
  static bool is_empty(const Record* r) { return r->value == 0; }
  static void release(Record*) {}
};

constexpr char integer_name[] = "INTEGER";
constexpr char double_name[] = "DOUBLE";
constexpr char boolean_name[] = "BOOLEAN";
using IntegerTraits = NumberTraits<elf_INTEGER, integer_name, interp::read_integer>;
using DoubleTraits = NumberTraits<elf_DOUBLE, double_name, interp::read_double>;
using BooleanTraits = NumberTraits<elf_BOOLEAN, boolean_name, interp::read_boolean>;

template <class T>
struct Scalar {
  using Record = typename T::Record;

  static Record* as(elf_object* obj) { return elfIsType(obj, T::name) ? reinterpret_cast<Record*>(obj) : nullptr; }

  static elf_object* make(elf_state* state) {
    auto* rec = interp::make_record<Record>(state, T::name, ops);
    if (!rec) return nullptr;
    if constexpr (std::is_same_v<Record, elf_STRING>) {
      rec->value = elfStrDup("");
      if (!rec->value) {
        elfFinishObject(&rec->hdr);
        _elfFree(rec);
        return nullptr;
      }
    }
    return &rec->hdr;
  }

  static void free(elf_object* obj) {
    Record* r = as(obj);
    if (!r || obj->refCount >= 1) return;
    T::release(r);
    elfFinishObject(obj);
    _elfFree(r);
  }

  static elf_object* copy(elf_object* obj) {
    Record* r = as(obj);
    if (!r) return nullptr;
    elf_object* c = make(obj->state);
    if (c && !T::assign(as(c), r)) {
      elfDiscard(c);
      return nullptr;
    }
    return c;
  }

  static int set(elf_state* state, elf_object* obj, const char* name, elf_object* value) {
    Record* r = as(obj);
    if (!r || !name) return 0;
    if (std::strcmp(name, "value") != 0) return interp::set_no_member(state, obj, name, value);
    ++obj->changes;
    Record* from = as(value);
    if (!from) {
      elfMessage(state, "value of a %s must be a %s\n", T::name, T::name);
      return QEL_STATUS_INVALID;
    }
    return T::assign(r, from) ? 0 : QEL_STATUS_FAILED;
  }

  static int empty(elf_object* obj) {
    Record* r = as(obj);
    if (!r) return -1;
    return empty_header(obj) || (T::is_empty(r) && !obj->peer) ? 1 : 0;
  }


  static int equal(elf_object* a, elf_object* b) {
    Record* x = as(a);
    Record* y = as(b);
    if (!x || !y) return 0;
    return a == b || T::equal(x, y) ? 1 : 0;
  }

  static elf_object* create(elf_state* state, void*, elf_object* args) {
    elf_object* obj = make(state);
    if (obj) interp::apply_creation_args(state, obj, args);
    return obj;
  }

  using Held = interp::HeldFields<Record, as>;
  static constexpr elf_type_ops ops{Held::reset, empty, interp::refs_builtin, copy, interp::write_builtin, T::read,
                                    free, set, interp::get_member, Held::cycle, equal};
};

template <class T>
typename T::Record* new_scalar(elf_state* state) {
  return Scalar<T>::as(Scalar<T>::make(state));
}

}  // namespace

// ---- LIST ----

elf_object* new_LIST(elf_state* state, void*, elf_object* args) {
  return interp::create<elf_LIST>(state, "LIST", list_ops, args);
}

void free_LIST(elf_object* obj) {
  elf_LIST* list = as_list(obj);
  if (!list || obj->refCount >= 1) return;
  for (int32_t i = 0; i < list->count; ++i) elfRefDown(list->items[i]);
  _elfFree(list->items);
  elfFinishObject(obj);
  _elfFree(list);
}

elf_object* copy_LIST(elf_object* obj) {
  elf_LIST* list = as_list(obj);
  if (!list) return nullptr;
  elf_object* copy = new_LIST(obj->state, nullptr, nullptr);
  bool ok = copy != nullptr;
  for (int32_t i = 0; ok && i < list->count; ++i) {
    elf_object* item = copy_optional(list->items[i], &ok);
    if (ok && elflistInsert(copy, item, -1, 0) != 0) {
      elfDiscard(item);
      ok = false;
    }
  }
  if (!ok) {
    elfDiscard(copy);
    return nullptr;
  }
  return copy;
}

int32_t elflistLength(elf_object* list) {
  elf_LIST* l = as_list(list);
  return l ? l->count : -1;
}

elf_object* elflistItem(elf_object* list, int32_t index) {
  elf_LIST* l = as_list(list);
  if (!l || index < 0 || index >= l->count) return nullptr;
  return l->items[index];
}

int elflistInsert(elf_object* list, elf_object* obj, int32_t position, int) {
  elf_LIST* l = as_list(list);
  if (!l || !obj) {
    elfMessage(state_of(list), "elflistInsert: %s\n", l ? "no object to insert" : "not a LIST");
    return -1;
  }
  if (reaches(obj, list)) {
    elfMessage(list->state, "elflistInsert: a %s that holds the list cannot go into it\n", obj->typeName);
    return -1;
  }
  if (l->count == l->capacity) {
    if (l->capacity > INT32_MAX / 2) return -1;
    const int32_t capacity = l->capacity ? l->capacity * 2 : 8;
    auto* items = static_cast<elf_object**>(elfMalloc(sizeof(elf_object*) * static_cast<size_t>(capacity)));
    if (!items) {
      elfMessage(list->state, "elflistInsert: no memory\n");
      return -1;
    }
    if (l->count) std::memcpy(items, l->items, sizeof(elf_object*) * static_cast<size_t>(l->count));
    _elfFree(l->items);
    l->items = items;
    l->capacity = capacity;
  }
  if (position < 0 || position > l->count) position = l->count;
  std::memmove(l->items + position + 1, l->items + position, sizeof(elf_object*) * static_cast<size_t>(l->count - position));
  l->items[position] = obj;
  ++l->count;
  elfRefUp(obj);
  return 0;
}

elf_object* elflistRemove(elf_object* list, int32_t index) {
  elf_LIST* l = as_list(list);
  if (!l || index < 0 || index >= l->count) return nullptr;
  elf_object* item = l->items[index];
  std::memmove(l->items + index, l->items + index + 1, sizeof(elf_object*) * static_cast<size_t>(l->count - index - 1));
  --l->count;
  return item;
}

// ---- IDENT ----

elf_object* new_IDENT(elf_state* state, void*, elf_object* args) {
  auto* rec = interp::make_record<elf_IDENT>(state, "IDENT", ident_ops);
  if (!rec) return nullptr;
  rec->name = elfStrDup("");
  if (!rec->name) {
    elfFinishObject(&rec->hdr);
    _elfFree(rec);
    return nullptr;
  }
  interp::apply_creation_args(state, &rec->hdr, args);
  return &rec->hdr;
}

void free_IDENT(elf_object* obj) {
  elf_IDENT* ident = as_ident(obj);
  if (!ident || obj->refCount >= 1) return;
  elfRefDown(ident->value);
  _elfFree(ident->name);
  elfFinishObject(obj);
  _elfFree(ident);
}

elf_object* copy_IDENT(elf_object* obj) {
  elf_IDENT* ident = as_ident(obj);
  if (!ident) return nullptr;
  bool ok = true;
  elf_object* value = copy_optional(ident->value, &ok);
  if (!ok) return nullptr;
  elf_object* copy = elfNewIdent(obj->state, ident->name, value);
  if (!copy) elfDiscard(value);
  return copy;
}

elf_object* elfNewIdent(elf_state* state, const char* name, elf_object* value) {
  elf_object* obj = new_IDENT(state, nullptr, nullptr);
  if (!obj) return nullptr;
  elf_IDENT* ident = as_ident(obj);
  char* copy = elfStrDup(name ? name : "");
  if (!copy) {
    elfDiscard(obj);
    return nullptr;
  }
  _elfFree(ident->name);
  ident->name = copy;
  ident->value = value;
  elfRefUp(value);
  return obj;
}

elf_object* elfIdentValue(elf_object* obj) {
  elf_IDENT* ident = as_ident(obj);
  return ident ? ident->value : obj;
}

// ---- POINTER ----

elf_object* new_POINTER(elf_state* state, void*, elf_object* args) {
  return interp::create<elf_POINTER>(state, "POINTER", pointer_ops, args);
}

void free_POINTER(elf_object* obj) {
  elf_POINTER* p = as_pointer(obj);
  if (!p || obj->refCount >= 1) return;
  if (p->release) {
    p->release(obj);
  } else {
    _elfFree(p->data);
  }
  _elfFree(p->description);
  elfRefDown(p->next);
  elfFinishObject(obj);
  _elfFree(p);
}

elf_object* copy_POINTER(elf_object* obj) {
  elf_POINTER* p = as_pointer(obj);
  if (!p) return nullptr;
  if (p->release && p->data) {
    elfMessage(obj->state, "copy_POINTER: the data belongs to a release procedure and cannot be copied\n");
    return nullptr;
  }
  elf_object* copy = new_POINTER(obj->state, nullptr, nullptr);
  if (!copy) return nullptr;
  elf_POINTER* c = as_pointer(copy);
  bool ok = true;
  c->length = p->length;
  if (p->data) {
    c->data = elfMalloc(p->length);
    ok = c->data != nullptr;
    if (ok && p->length) std::memcpy(c->data, p->data, p->length);
  }
  if (ok && p->description) ok = (c->description = elfStrDup(p->description)) != nullptr;
  if (ok) {
    c->next = copy_optional(p->next, &ok);
    elfRefUp(c->next);
  }
  if (!ok) {
    elfDiscard(copy);
    return nullptr;
  }
  return copy;
}

elf_object* elfNewPointer(elf_state* state, void* data, size_t length) {
  elf_object* obj = new_POINTER(state, nullptr, nullptr);
  if (!obj) return nullptr;
  elf_POINTER* p = as_pointer(obj);
  p->data = data;
  p->length = length;
  return obj;
}

// ---- Scalars ----

elf_object* new_STRING(elf_state* state, void* unused, elf_object* args) {
  return Scalar<StringTraits>::create(state, unused, args);
}
elf_object* new_INTEGER(elf_state* state, void* unused, elf_object* args) {
  return Scalar<IntegerTraits>::create(state, unused, args);
}
elf_object* new_DOUBLE(elf_state* state, void* unused, elf_object* args) {
  return Scalar<DoubleTraits>::create(state, unused, args);
}
elf_object* new_BOOLEAN(elf_state* state, void* unused, elf_object* args) {
  return Scalar<BooleanTraits>::create(state, unused, args);
}

elf_object* elfNewString(elf_state* state, const char* text) {
  elf_STRING* s = new_scalar<StringTraits>(state);
  if (!s) return nullptr;
  char* copy = elfStrDup(text ? text : "");
  if (!copy) {
    elfDiscard(&s->hdr);
    return nullptr;
  }
  _elfFree(s->value);
  s->value = copy;
  return &s->hdr;
}

elf_object* elfNewInteger(elf_state* state, int32_t value) {
  elf_INTEGER* r = new_scalar<IntegerTraits>(state);
  if (r) r->value = value;
  return r ? &r->hdr : nullptr;
}

elf_object* elfNewDouble(elf_state* state, double value) {
  elf_DOUBLE* r = new_scalar<DoubleTraits>(state);
  if (r) r->value = value;
  return r ? &r->hdr : nullptr;
}

elf_object* elfNewBoolean(elf_state* state, int32_t value) {
  elf_BOOLEAN* r = new_scalar<BooleanTraits>(state);
  if (r) r->value = value ? 1 : 0;
  return r ? &r->hdr : nullptr;
}
