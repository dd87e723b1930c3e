// Argument specifications and the argument-list calls.

#include <cstdarg>
#include <cstring>
#include <string_view>

#include "interp_internal.h"

namespace {

enum class Kind { Integer, Double, Boolean, Text, Object };

// Names longer than this cannot be argument names (they are copied to the stack).
constexpr size_t max_name = 255;

struct Spec {
  char name[max_name + 1];
  Kind kind = Kind::Object;
  char type[max_name + 1];  // the object type asked for; empty means any
};

bool is_type_char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

struct ScalarName {
  std::string_view name;
  char letter;
  Kind kind;
};
constexpr ScalarName scalar_names[] = {
    {"INTEGER", 'i', Kind::Integer},
    {"DOUBLE", 'd', Kind::Double},
    {"BOOLEAN", 'b', Kind::Boolean},
    {"STRING", 's', Kind::Text},
};

// "name:type", blanks after the type, an optional '*' asking for the object itself.
bool parse_spec(const char* text, Spec* spec) {
  if (!text || text == LST_END) return false;
  const char* colon = std::strchr(text, ':');
  if (!colon || colon == text || static_cast<size_t>(colon - text) > max_name) return false;
  std::memcpy(spec->name, text, static_cast<size_t>(colon - text));
  spec->name[colon - text] = '\0';

  std::string_view type(colon + 1);
  while (!type.empty() && type.back() == ' ') type.remove_suffix(1);
  bool object_form = false;
  if (!type.empty() && type.back() == '*') {
    object_form = true;
    type.remove_suffix(1);
    while (!type.empty() && type.back() == ' ') type.remove_suffix(1);
  }
  spec->kind = Kind::Object;
  spec->type[0] = '\0';
  if (type.empty()) return !object_form;
  if (type.size() > max_name) return false;
  for (char c : type) {
    if (!is_type_char(c)) return false;
  }
  for (const auto& s : scalar_names) {
    if ((type.size() == 1 && type[0] == s.letter) || type == s.name) {
      if (object_form) {
        std::memcpy(spec->type, s.name.data(), s.name.size());
        spec->type[s.name.size()] = '\0';
      } else {
        spec->kind = s.kind;
      }
      return true;
    }
  }
  if (type.size() == 1) return false;  // an unknown type letter
  std::memcpy(spec->type, type.data(), type.size());
  spec->type[type.size()] = '\0';
  return true;
}

const char* kind_name(const Spec& spec) {
  switch (spec.kind) {
    case Kind::Integer: return "INTEGER";
    case Kind::Double: return "DOUBLE or INTEGER";
    case Kind::Boolean: return "BOOLEAN or INTEGER";
    case Kind::Text: return "STRING";
    case Kind::Object: break;
  }
  return spec.type[0] ? spec.type : "an object";
}

// Whether value can be read as spec asks.
bool fits(const Spec& spec, elf_object* value) {
  switch (spec.kind) {
    case Kind::Integer: return elfIsType(value, "INTEGER");
    case Kind::Double: return elfIsType(value, "DOUBLE") || elfIsType(value, "INTEGER");
    case Kind::Boolean: return elfIsType(value, "BOOLEAN") || elfIsType(value, "INTEGER");
    case Kind::Text: return elfIsType(value, "STRING");
    case Kind::Object: break;
  }
  return !spec.type[0] || elfIsType(value, spec.type);
}

// The first IDENT of the list with that name, or null.
elf_IDENT* find_argument(elf_object* list, const char* name) {
  const int32_t n = elflistLength(list);
  for (int32_t i = 0; i < n; ++i) {
    elf_object* entry = elflistItem(list, i);
    if (!elfIsType(entry, "IDENT")) continue;
    auto* ident = reinterpret_cast<elf_IDENT*>(entry);
    if (std::strcmp(ident->name, name) == 0) return ident;
  }
  return nullptr;
}

void store(const Spec& spec, elf_object* value, void* place) {
  switch (spec.kind) {
    case Kind::Integer:
      *static_cast<int32_t*>(place) = reinterpret_cast<elf_INTEGER*>(value)->value;
      break;
    case Kind::Double:
      *static_cast<double*>(place) = elfIsType(value, "DOUBLE") ? reinterpret_cast<elf_DOUBLE*>(value)->value
                                                                 : reinterpret_cast<elf_INTEGER*>(value)->value;
      break;
    case Kind::Boolean:
      *static_cast<int32_t*>(place) = elfIsType(value, "BOOLEAN") ? reinterpret_cast<elf_BOOLEAN*>(value)->value
                                                                   : reinterpret_cast<elf_INTEGER*>(value)->value != 0;
      break;
    case Kind::Text:
      *static_cast<const char**>(place) = reinterpret_cast<elf_STRING*>(value)->value;
      break;
    case Kind::Object:
      *static_cast<elf_object**>(place) = value;
      break;
  }
}

elf_state* state_of(elf_object* obj) { return obj ? obj->state : nullptr; }

// One build triple as read from the variable arguments.
struct Triple {
  Spec spec;
  int32_t number = 0;       // integer and boolean
  double real = 0;
  const char* text = nullptr;
  elf_object* object = nullptr;
  int flags = 0;
};

// Reads the triples of ap in order and hands each to f until f answers false; a specification
// that does not parse ends the walk with false (reported).
template <class F>
bool walk(elf_state* state, const char* caller, const char* first, va_list ap, F&& f) {
  for (const char* text = first; text != LST_END; text = va_arg(ap, const char*)) {
    Triple t;
    if (!parse_spec(text, &t.spec)) {
      elfMessage(state, "%s: malformed argument specification \"%s\"\n", caller, text ? text : "(null)");
      return false;
    }
    switch (t.spec.kind) {
      case Kind::Integer:
      case Kind::Boolean: t.number = va_arg(ap, int); break;
      case Kind::Double: t.real = va_arg(ap, double); break;
      case Kind::Text: t.text = va_arg(ap, const char*); break;
      case Kind::Object: t.object = va_arg(ap, elf_object*); break;
    }
    t.flags = va_arg(ap, int);
    if (!f(t)) return false;
  }
  return true;
}

bool check_triple(elf_state* state, const char* caller, const Triple& t) {
  const char* problem = nullptr;
  if (t.flags != 0) {
    problem = "unknown flags";
  } else if (t.spec.kind == Kind::Text && !t.text) {
    problem = "no text given";
  } else if (t.spec.kind == Kind::Object && !t.object) {
    problem = "no object given";
  }
  if (problem) {
    elfMessage(state, "%s: %s for %s\n", caller, problem, t.spec.name);
    return false;
  }
  if (t.spec.kind == Kind::Object && !fits(t.spec, t.object)) {
    elfMessage(state, "%s: %s is a %s, not %s\n", caller, t.spec.name, t.object->typeName, kind_name(t.spec));
    return false;
  }
  return true;
}

// The value object of a checked triple (count 0 when made here), or null for no memory.
elf_object* make_value(elf_state* state, const Triple& t) {
  switch (t.spec.kind) {
    case Kind::Integer: return elfNewInteger(state, t.number);
    case Kind::Boolean: return elfNewBoolean(state, t.number);
    case Kind::Double: return elfNewDouble(state, t.real);
    case Kind::Text: return elfNewString(state, t.text);
    case Kind::Object: break;
  }
  return t.object;
}

// Builds the triples of ap into IDENTs and gives each to add (which takes its own reference or
// fails); after a failure, undo takes back what add took. The caller's objects are held
// throughout, so a failure part-way never frees an object the caller still owns. Returns false
// on failure (reported).
template <class Add, class Undo>
bool build_entries(elf_state* state, const char* caller, const char* first, va_list ap, Add&& add, Undo&& undo) {
  va_list check, hold, unhold;
  va_copy(check, ap);
  const bool valid = walk(state, caller, first, check, [&](const Triple& t) { return check_triple(state, caller, t); });
  va_end(check);
  if (!valid) {
    undo();
    return false;
  }

  va_copy(hold, ap);
  va_copy(unhold, ap);
  walk(state, caller, first, hold, [](const Triple& t) {
    elfRefUp(t.object);
    return true;
  });
  va_end(hold);
  const bool ok = walk(state, caller, first, ap, [&](const Triple& t) {
    elf_object* value = make_value(state, t);
    elf_object* ident = value ? elfNewIdent(state, t.spec.name, value) : nullptr;
    if (!ident) {
      if (value != t.object) elfDiscard(value);
      elfMessage(state, "%s: no memory for %s\n", caller, t.spec.name);
      return false;
    }
    if (!add(ident)) {
      elfDiscard(ident);
      return false;
    }
    return true;
  });
  if (!ok) undo();
  walk(state, caller, first, unhold, [](const Triple& t) {
    if (t.object) --t.object->refCount;
    return true;
  });
  va_end(unhold);
  return ok;
}

}  // namespace

int lstScanArgs(elf_object* list, const char* spec, ...) {
  elf_state* state = state_of(list);
  if (list && !elfIsType(list, "LIST")) {
    elfMessage(state, "lstScanArgs: arguments are a %s, not a LIST\n", list->typeName);
    return 0;
  }
  // First pass checks every triple, second pass writes; so a failed scan changes no place.
  for (int pass = 0; pass < 2; ++pass) {
    va_list ap;
    va_start(ap, spec);
    for (const char* text = spec; text != LST_END; text = va_arg(ap, const char*)) {
      Spec s;
      if (!parse_spec(text, &s)) {
        elfMessage(state, "lstScanArgs: malformed argument specification \"%s\"\n", text ? text : "(null)");
        va_end(ap);
        return 0;
      }
      const int flags = va_arg(ap, int);
      void* place = va_arg(ap, void*);
      if ((flags & ~LST_REQUIRED) != 0 || !place) {
        elfMessage(state, "lstScanArgs: %s for %s\n", place ? "unknown flags" : "no place", s.name);
        va_end(ap);
        return 0;
      }
      elf_IDENT* arg = find_argument(list, s.name);
      if (!arg) {
        if (flags & LST_REQUIRED) {
          elfMessage(state, "lstScanArgs: argument %s is required\n", s.name);
          va_end(ap);
          return 0;
        }
        continue;
      }
      if (pass == 1) {
        store(s, arg->value, place);
      } else if (!fits(s, arg->value)) {
        elfMessage(state, "lstScanArgs: argument %s is %s%s, not %s\n", s.name, arg->value ? "a " : "",
                   arg->value ? arg->value->typeName : "empty", kind_name(s));
        va_end(ap);
        return 0;
      }
    }
    va_end(ap);
  }
  return 1;
}

elf_object* lstBuildArgs(elf_state* state, const char* spec, ...) {
  elf_object* list = new_LIST(state, nullptr, nullptr);
  if (!list) {
    elfMessage(state, "lstBuildArgs: no memory for the list\n");
    return nullptr;
  }
  va_list ap;
  va_start(ap, spec);
  const bool ok = build_entries(
      state, "lstBuildArgs", spec, ap, [&](elf_object* ident) { return elflistInsert(list, ident, -1, 0) == 0; },
      [&] {
        elfDiscard(list);
        list = nullptr;
      });
  va_end(ap);
  return ok ? list : nullptr;
}

int lstAppendArgs(elf_object* list, const char* spec, ...) {
  elf_state* state = state_of(list);
  if (!elfIsType(list, "LIST")) {
    elfMessage(state, "lstAppendArgs: no LIST to append to\n");
    return 0;
  }
  const int32_t base = elflistLength(list);
  va_list ap;
  va_start(ap, spec);
  // All or nothing: a failure takes back what went in before it.
  const bool ok = build_entries(
      state, "lstAppendArgs", spec, ap, [&](elf_object* ident) { return elflistInsert(list, ident, -1, 0) == 0; },
      [&] {
        while (elflistLength(list) > base) elfRefDown(elflistRemove(list, elflistLength(list) - 1));
      });
  va_end(ap);
  return ok ? 1 : 0;
}

elf_object* lstRemoveArg(elf_object* list, int32_t position) {
  elf_object* entry = elflistRemove(list, position);
  if (!entry || !elfIsType(entry, "IDENT")) return entry;
  elf_object* value = reinterpret_cast<elf_IDENT*>(entry)->value;
  elfRefUp(value);
  elfRefDown(entry);
  return value;
}
