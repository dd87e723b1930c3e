#ifndef DIO_PROTOCOL_H
#define DIO_PROTOCOL_H

// The twelve operations every object type of the library implements, written once over a
// traits class that says what is the type's own:
//
//   using Record;                          the record, header first
//   static constexpr const char* name;     the type name ("DOCUMENTREADER")
//   static constexpr std::array<const char*, N> members;  own member names, in cache order
//   static elf_object** caches(Record*);   the N member caches
//   static int write_fields(Record*, int fd, const char* indent, const char* child);
//   static void read_value(Record*, const char* key, const char* text, int nth);
//                                          a value token; nth counts the values under key
//   static bool read_nested(elf_state*, Record*, const char* key, elf_object* obj);
//                                          a nested object other than the peer; true when kept
//   static bool copy_fields(const Record* from, Record* to);
//   static bool equal_fields(Record*, Record*);
//   static bool empty_fields(const Record*);
//   static void release_backend(Record*);  first step of freeing
//   static void drop_fields(Record*);      what the record owns besides the header
//   static void refs_fields(Record*, int fd, const char* indent, const char* child);
//   static void reset_fields(Record*, elf_state*);
//   static bool reaches_fields(Record*, elf_object* other);
//   static bool init_fields(Record*);      optional: what a new record starts with; false fails

#include <strings.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <type_traits>

#include "dio_internal.h"

namespace dio {

// The type ids whose creation lists keep "value" entries from the set operation.
constexpr bool skips_value(int32_t id) { return id == 2 || id == 7 || id == 8 || id == 10 || id == 11; }

// Whether other is obj or can be reached from it.
inline bool reaches(elf_object* obj, elf_object* other) {
  if (!obj || !other) return false;
  return obj == other || (obj->ops.cycle && obj->ops.cycle(obj, other) == 1);
}

inline bool equal_held(elf_object* a, elf_object* b) {
  if (!a) return true;  // only what the first object holds is compared
  return b && a->ops.equal && a->ops.equal(a, b) == 1;
}

// A copy of an optional object into a fresh record's field; false when one was due and failed.
inline bool copy_held(elf_state* state, elf_object* from, elf_object** to) {
  if (!from) return true;
  elf_object* copy = from->ops.copy ? from->ops.copy(from) : nullptr;
  if (!copy) return false;
  ELF_ASSIGN(state, to, copy);
  return true;
}

inline void reset_held(elf_object* obj, elf_state* state) {
  if (obj && obj->ops.resetELF) obj->ops.resetELF(obj, state);
}

// Object fields a type holds besides the peer, with the labels its references show them under.
template <class R, elf_object* R::*... Fields>
struct HeldObjects {
  static constexpr size_t count = sizeof...(Fields);
  static void drop(R* r) { ((elfRefDown(r->*Fields), r->*Fields = nullptr), ...); }
  static void reset(R* r, elf_state* state) { (reset_held(r->*Fields, state), ...); }
  static bool reach(R* r, elf_object* other) { return (reaches(r->*Fields, other) || ...); }
  static void refs(R* r, int fd, const char* indent, const char* child, const char* const (&labels)[count]) {
    size_t i = 0;
    ((dprintf(fd, "%s%s: \n", indent, labels[i++]), elfRefsObject(r->*Fields, fd, child)), ...);
  }
};

template <class T>
struct Protocol {
  using Record = typename T::Record;
  static_assert(std::is_standard_layout_v<Record> && offsetof(Record, hdr) == 0);
  static constexpr int own_members = static_cast<int>(T::members.size());

  static Record* cast(elf_object* obj) { return elfIsType(obj, T::name) ? reinterpret_cast<Record*>(obj) : nullptr; }

  // The cache for a member name: own members first, then the generic ones; null for others.
  static elf_object** cache_of(Record* r, const char* name) {
    for (int i = 0; i < own_members; ++i) {
      if (std::strcmp(T::members[i], name) == 0) return &T::caches(r)[i];
    }
    const int generic = elfGenericMemberIndex(name);
    return generic >= 0 ? &r->hdr.generic[generic] : nullptr;
  }

  static elf_object* make(elf_state* state, void*, elf_object* args) {
    auto* r = static_cast<Record*>(elfCalloc(1, sizeof(Record)));
    if (!r) return nullptr;
    elf_state* made_state = state ? nullptr : initState(nullptr, "pagefiler.ucm");
    if (!state) state = made_state;
    if (!state || elfInitObject(&r->hdr, state, T::name, &ops) != 0) {
      freeState(made_state);
      _elfFree(r);
      return nullptr;
    }
    elf_object* obj = &r->hdr;
    // A type whose new objects start with a record of their own makes it here, so that creation,
    // copies and objects read back all have it.
    if constexpr (requires(Record* rec) { T::init_fields(rec); }) {
      if (!T::init_fields(r)) {
        elfFinishObject(obj);
        freeState(made_state);
        _elfFree(r);
        return nullptr;
      }
    }
    const int32_t n = elflistLength(args);
    for (int32_t i = 0; i < n; ++i) {
      elf_object* entry = elflistItem(args, i);
      if (!elfIsType(entry, "IDENT")) continue;
      auto* ident = reinterpret_cast<elf_IDENT*>(entry);
      if (skips_value(obj->typeId) && std::strcmp(ident->name, "value") == 0) continue;
      set(state, obj, ident->name, ident->value);
    }
    return obj;
  }

  static elf_object* get(elf_state* state, elf_object* obj, const char* name) {
    Record* r = cast(obj);
    if (!r || !name) return nullptr;
    if (elf_object** cache = cache_of(r, name)) {
      if (state == obj->state) {
        if (!*cache) {
          if (elf_object* method = get_assigned_method(state, obj->typeId, name)) ELF_ASSIGN(state, cache, method);
        }
        return *cache;
      }
      // Asked from another state: resolved there and handed out, never cached.
      elf_object* method = get_assigned_method(state, find_elf_type(state, T::name), name);
      if (method) method->refCount = -10;
      return method;
    }
    elf_object* method = get_assigned_method(state, find_elf_type(state, T::name), name);
    if (!method && obj->state != state) method = get_assigned_method(obj->state, obj->typeId, name);
    if (method) {
      method->refCount = -10;
      return method;
    }
    elfMessage(state, "Unknown member <%s> for object get of %s\n", name, T::name);
    return nullptr;
  }

  static int set(elf_state* state, elf_object* obj, const char* name, elf_object* value) {
    Record* r = cast(obj);
    if (!r || !name) return 0;
    ++obj->changes;
    for (int i = 0; i < own_members; ++i) {
      if (std::strcmp(T::members[i], name) == 0) {
        ELF_ASSIGN(state, &T::caches(r)[i], value);
        return 0;
      }
    }
    elfMessage(state, "Unknown member <%s> for object set of %s\n", name, T::name);
    return 0;
  }

  static void free(elf_object* obj) {
    Record* r = cast(obj);
    if (!r || obj->refCount >= 1) return;
    T::release_backend(r);
    elfFinishObject(obj);
    for (int i = 0; i < own_members; ++i) {
      elfRefDown(T::caches(r)[i]);
      T::caches(r)[i] = nullptr;
    }
    T::drop_fields(r);
    _elfFree(r);
  }

  static int write(elf_object* obj, int fd, const char* indent) {
    Record* r = cast(obj);
    if (!r) return -1;
    const int out = dup(fd);
    if (out < 0) return -1;
    indent = or_empty(indent);
    char child_buf[ELF_INDENT_MAX + 1];
    const char* child = elfChildIndent(indent, child_buf);
    bool ok = dprintf(out, "%s[%s]\n%speer: \n", indent, T::name, indent) >= 0;
    if (ok && obj->peer) ok = elfWriteObject(obj->peer, out, child) == 0;
    if (ok) ok = T::write_fields(r, out, indent, child) == 0;
    if (ok) ok = dprintf(out, "%s[END%s%d]\n", indent, T::name, obj->instance) >= 0;
    close(out);
    return ok ? 0 : -1;
  }

  static elf_object* read(elf_state* state, int fd) {
    if (fd < 0 || fd == 1 || fd == 2) return nullptr;
    elf_object* obj = make(state, nullptr, nullptr);
    if (!obj) return nullptr;
    const int read = elfReadFrame(
        obj->state, fd, obj,
        [](void* data, const char* key, const char* text, int nth) {
          T::read_value(static_cast<Record*>(data), key, text, nth);
        },
        [](void* data, const char* key, elf_object* nested) {
          auto* r = static_cast<Record*>(data);
          return T::read_nested(r->hdr.state, r, key, nested) ? 1 : 0;
        },
        cast(obj));
    if (read != 0) {
      free(obj);
      return nullptr;
    }
    return obj;
  }

  static elf_object* copy(elf_object* obj) {
    Record* r = cast(obj);
    if (!r) return nullptr;
    elf_object* made = make(obj->state, nullptr, nullptr);
    Record* c = cast(made);
    if (!c) return nullptr;
    if (!copy_held(obj->state, obj->peer, &made->peer) || !T::copy_fields(r, c)) {
      free(made);
      return nullptr;
    }
    return made;
  }

  static void refs(elf_object* obj, int fd, const char* indent) {
    Record* r = cast(obj);
    if (!r) return;
    indent = or_empty(indent);
    char child_buf[ELF_INDENT_MAX + 1];
    const char* child = elfChildIndent(indent, child_buf);
    dprintf(fd, "%s[%s] : refCount=%d, elf=%" PRIxPTR "\n%speer: \n", indent, T::name, obj->refCount,
            reinterpret_cast<uintptr_t>(obj->state), indent);
    elfRefsObject(obj->peer, fd, child);
    T::refs_fields(r, fd, indent, child);
  }

  static void reset(elf_object* obj, elf_state* state) {
    Record* r = cast(obj);
    if (!r || !state) return;
    obj->state = state;
    obj->typeId = find_elf_type(state, T::name);
    // Cached members are resolved again in the new state; the old method objects go.
    for (int i = 0; i < ELF_GENERIC_MEMBERS; ++i) {
      if (obj->generic[i]) ELF_ASSIGN(state, &obj->generic[i], get_assigned_method(state, obj->typeId, elfGenericMemberName(i)));
    }
    for (int i = 0; i < own_members; ++i) {
      elf_object** cache = &T::caches(r)[i];
      if (*cache) ELF_ASSIGN(state, cache, get_assigned_method(state, obj->typeId, T::members[i]));
    }
    reset_held(obj->peer, state);
    T::reset_fields(r, state);
  }

  static int empty(elf_object* obj) {
    Record* r = cast(obj);
    if (!r) return -1;
    if (obj->stateWord == ELF_OBJECT_EMPTY) return 1;
    return !obj->peer && T::empty_fields(r) ? 1 : 0;
  }

  static int cycle(elf_object* obj, elf_object* other) {
    Record* r = cast(obj);
    return r && (reaches(obj->peer, other) || T::reaches_fields(r, other)) ? 1 : 0;
  }

  static int equal(elf_object* a, elf_object* b) {
    if (!a || !b || a->typeId != b->typeId) return 0;
    Record* x = cast(a);
    Record* y = cast(b);
    if (!x || !y) return 0;
    if (a == b) return 1;
    return equal_held(a->peer, b->peer) && T::equal_fields(x, y) ? 1 : 0;
  }

  static constexpr elf_type_ops ops{reset, empty, refs, copy, write, read, free, set, get, cycle, equal};
};

// The fields the three document types share and handle alike.
template <class R>
struct DocFields {
  static int write(R* r, int fd, const char* indent) {
    if (dprintf(fd, "%stestfile: %d\n%spagecnt: %d\n%sversion: %d\n%sformat: %d\n%sfilename: ", indent, r->testfile,
                indent, r->pagecnt, indent, r->version, indent, r->format, indent) < 0) {
      return -1;
    }
    if (r->filename && elfWriteValue(fd, r->filename) != 0) return -1;
    return dprintf(fd, "\n") < 0 ? -1 : 0;
  }

  static void read_value(R* r, const char* key, const char* text, int nth) {
    int32_t* number = strcasecmp(key, "testfile") == 0  ? &r->testfile
                      : strcasecmp(key, "pagecnt") == 0 ? &r->pagecnt
                      : strcasecmp(key, "version") == 0 ? &r->version
                      : strcasecmp(key, "format") == 0  ? &r->format
                                                        : nullptr;
    if (number) {
      int value;
      if (std::sscanf(text, "%d", &value) == 1) *number = value;
      return;
    }
    if (strcasecmp(key, "filename") != 0) return;
    // Later values under the same label continue the name on new lines.
    const bool join = nth > 0 && r->filename;
    const size_t had = join ? std::strlen(r->filename) + 1 : 0;
    const size_t add = std::strlen(text);
    auto* name = static_cast<char*>(elfMalloc(had + add + 1));
    if (!name) return;
    if (join) {
      std::memcpy(name, r->filename, had - 1);
      name[had - 1] = '\n';
    }
    std::memcpy(name + had, text, add + 1);
    _elfFree(r->filename);
    r->filename = name;
  }

  static bool copy(const R* from, R* to) {
    to->testfile = from->testfile;
    to->pagecnt = from->pagecnt;
    to->version = from->version;
    to->format = from->format;
    return !from->filename || (to->filename = elfStrDup(from->filename)) != nullptr;
  }

  static bool equal(const R* a, const R* b) {
    return a->testfile == b->testfile && a->pagecnt == b->pagecnt && a->version == b->version &&
           a->format == b->format && (!a->filename || !b->filename || std::strcmp(a->filename, b->filename) == 0);
  }

  static bool empty(const R* r) {
    return !r->testfile && !r->pagecnt && !r->version && !r->format && !r->filename;
  }

  static void drop(R* r) {
    _elfFree(r->filename);
    r->filename = nullptr;
  }
};

}  // namespace dio

// The exported twelve operations of type X over its traits.
#define DIO_DEFINE_TYPE(X, Traits)                                                                              \
  elf_object* new_##X(elf_state* state, void* unused, elf_object* args) {                                      \
    return dio::Protocol<Traits>::make(state, unused, args);                                                     \
  }                                                                                                             \
  elf_object* get_##X(elf_state* state, elf_object* obj, const char* name) {                                   \
    return dio::Protocol<Traits>::get(state, obj, name);                                                         \
  }                                                                                                             \
  int set_##X(elf_state* state, elf_object* obj, const char* name, elf_object* value) {                        \
    return dio::Protocol<Traits>::set(state, obj, name, value);                                                  \
  }                                                                                                             \
  void free_##X(elf_object* obj) { dio::Protocol<Traits>::free(obj); }                                         \
  elf_object* read_##X(elf_state* state, int fd) { return dio::Protocol<Traits>::read(state, fd); }            \
  int write_##X(elf_object* obj, int fd, const char* indent) { return dio::Protocol<Traits>::write(obj, fd, indent); } \
  elf_object* copy_##X(elf_object* obj) { return dio::Protocol<Traits>::copy(obj); }                           \
  void refs_##X(elf_object* obj, int fd, const char* indent) { dio::Protocol<Traits>::refs(obj, fd, indent); } \
  void resetELF_##X(elf_object* obj, elf_state* state) { dio::Protocol<Traits>::reset(obj, state); }           \
  int empty_##X(elf_object* obj) { return dio::Protocol<Traits>::empty(obj); }                                 \
  int cycle_##X(elf_object* obj, elf_object* other) { return dio::Protocol<Traits>::cycle(obj, other); }       \
  int equal_##X(elf_object* obj, elf_object* other) { return dio::Protocol<Traits>::equal(obj, other); }

#endif
