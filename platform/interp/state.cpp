// Interpreter state: status, messages, the type table, object headers and reference counts.

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "interp_internal.h"
#include "qel_image.h"

namespace interp {

const BuiltinType builtin_types[ELF_TYPE_FIRST_FREE - 1] = {
    {"LIST", new_LIST, read_LIST},          {"IDENT", new_IDENT, read_ident},
    {"POINTER", new_POINTER, read_pointer}, {"STRING", new_STRING, read_string},
    {"INTEGER", new_INTEGER, read_integer}, {"DOUBLE", new_DOUBLE, read_double},
    {"BOOLEAN", new_BOOLEAN, read_boolean}, {"QELIMAGE", new_QELIMAGE, nullptr},
    {"QELLAYER", new_QELLAYER, nullptr},    {"QELHDR", new_QELHDR, nullptr},
    {"METHOD", new_METHOD, nullptr},        {"QELTEXT", new_QELTEXT, nullptr},
};

}  // namespace interp

namespace {

void print_text(elf_state* state, const char* text) {
  if (state && state->print) {
    state->print(state->printData, text);
  } else {
    std::fputs(text, stderr);
  }
}

int32_t builtin_id(const char* name) {
  for (int32_t i = 0; i < ELF_TYPE_FIRST_FREE - 1; ++i) {
    if (std::strcmp(interp::builtin_types[i].name, name) == 0) return i + 1;
  }
  return -1;
}

}  // namespace

void elfMessage(elf_state* state, const char* format, ...) {
  char text[ELF_MESSAGE_MAX];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  print_text(state, text);
}

int setStatus(elf_state* state, int code, int severity, const char* format, ...) {
  char text[ELF_MESSAGE_MAX];
  va_list ap;
  va_start(ap, format);
  text[0] = '\0';
  if (format) std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  if (!state) {
    print_text(nullptr, text);
    return code;
  }
  state->status = code;
  state->severity = severity;
  std::memcpy(state->message, text, sizeof text);
  return code;
}

int getStatus(elf_state* state) { return state ? state->status : 0; }
int getStatusSeverity(elf_state* state) { return state ? state->severity : 0; }
const char* getStatusMessage(elf_state* state) { return state ? state->message : ""; }

void clearStatus(elf_state* state) {
  if (!state) return;
  state->status = 0;
  state->severity = 0;
  state->message[0] = '\0';
}

elf_state* initState(elf_state* parent, const char* config) {
  auto* state = static_cast<elf_state*>(elfCalloc(1, sizeof(elf_state)));
  if (!state) {
    elfMessage(parent, "initState: no memory for a state\n");
    return nullptr;
  }
  if (parent) {
    state->print = parent->print;
    state->printData = parent->printData;
  }
  state->types = interp::new_type_table();
  if (config) state->config = elfStrDup(config);
  bool ok = state->types && (!config || state->config);
  for (const auto& t : interp::builtin_types) {
    if (!ok) break;
    const int32_t id = elfRegisterType(state, t.name, t.make);
    ok = id > 0 && interp::set_type_reader(state, id, t.read) == 0;
  }
  if (ok) ok = interp::bind_builtin_members(state) == 0 && interp::bind_engine(state) == 0;
  if (!ok) elfMessage(parent, "initState: no memory for a state\n");
  if (ok && interp::is_type_description(config)) ok = interp::load_type_description(state, config) == 0;
  if (!ok) {
    freeState(state);
    return nullptr;
  }
  return state;
}

void freeState(elf_state* state) {
  if (!state) return;
  elfRefDown(state->variables);
  interp::free_type_table(state->types);
  _elfFree(state->config);
  _elfFree(state);
}

int elfInitObject(elf_object* obj, elf_state* state, const char* typeName, const elf_type_ops* ops) {
  obj->typeName = elfStrDup(typeName);
  if (!obj->typeName) return -1;
  obj->state = state;
  obj->ops = *ops;
  obj->stateWord = ELF_OBJECT_LIVE;
  obj->typeId = state ? find_elf_type(state, typeName) : builtin_id(typeName);
  obj->instance = elfNextInstance(state, obj->typeId);
  return 0;
}

void elfFinishObject(elf_object* obj) {
  for (auto*& member : obj->generic) {
    elfRefDown(member);
    member = nullptr;
  }
  elfRefDown(obj->peer);
  obj->peer = nullptr;
  _elfFree(obj->typeName);
  obj->typeName = nullptr;
  _elfFree(obj->text);
  obj->text = nullptr;
}

int elfIsType(const elf_object* obj, const char* name) {
  return obj && obj->typeName && name && std::strcmp(obj->typeName, name) == 0;
}

void elfRefDown(elf_object* obj) {
  if (!obj) return;
  --obj->refCount;
  if (obj->ops.free) obj->ops.free(obj);
}

void elfDiscard(elf_object* obj) {
  if (obj && obj->ops.free) obj->ops.free(obj);
}

void elfAssign(elf_state* state, elf_object** slot, elf_object* value, const char* file, int line) {
  elf_object* old = *slot;
  if (old && old == value) elfMessage(state, "cannot assign object to itself, %s %d\n", file, line);
  *slot = value;
  elfRefUp(value);
  elfRefDown(old);
}

namespace interp {

void apply_creation_args(elf_state* state, elf_object* obj, elf_object* args) {
  const int32_t n = elflistLength(args);
  for (int32_t i = 0; i < n; ++i) {
    elf_object* entry = elflistItem(args, i);
    if (!elfIsType(entry, "IDENT")) continue;
    auto* ident = reinterpret_cast<elf_IDENT*>(entry);
    if (obj->ops.set) obj->ops.set(state, obj, ident->name, ident->value);
  }
}

int set_no_member(elf_state* state, elf_object* obj, const char* name, elf_object*) {
  if (!obj || !name) return 0;
  ++obj->changes;
  elfMessage(state, "Unknown member <%s> for object set of %s\n", name, obj->typeName);
  return 0;
}

bool equal_optional(elf_object* a, elf_object* b) {
  if (!a || !b) return a == b;
  return a->ops.equal && a->ops.equal(a, b) == 1;
}

bool reaches(elf_object* obj, elf_object* other) {
  if (!obj || !other) return false;
  if (obj == other) return true;
  return obj->ops.cycle && obj->ops.cycle(obj, other) == 1;
}

elf_object* copy_optional(elf_object* obj, bool* ok) {
  if (!obj) return nullptr;
  elf_object* copy = obj->ops.copy ? obj->ops.copy(obj) : nullptr;
  if (!copy) *ok = false;
  return copy;
}

void reset_optional(elf_object* obj, elf_state* state) {
  if (obj && obj->ops.resetELF) obj->ops.resetELF(obj, state);
}

}  // namespace interp
