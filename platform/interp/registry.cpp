// The state's registry: object types with their creators, readers, libraries and member bindings;
// procedures and scripts run by name.

#include <cstdio>
#include <cstring>

#include "elf_member.h"
#include "elf_plugin.h"
#include "elf_text.h"
#include "interp_internal.h"

namespace {

struct MemberBinding {
  char* name;
  char* library;         // where symbol is, or null for the type's library
  char* symbol;          // or null for proc
  elf_method_proc proc;  // bound, or null until first resolved
};

struct ProcedureEntry {
  char* name;
  int kind;
  char* library;
  char* symbol;
  elf_method_proc proc;
};

}  // namespace

struct elf_type_entry {
  char* name;
  elf_new_proc make;
  elf_read_proc reader;
  char* library;
  int32_t instances;
  interp::HeapArray<MemberBinding> members;
};

struct elf_type_table {
  interp::HeapArray<elf_type_entry> types;  // id = index + 1
  interp::HeapArray<ProcedureEntry> procedures;
};

namespace {

void free_entry(elf_type_entry& e) {
  _elfFree(e.name);
  _elfFree(e.library);
  for (MemberBinding& m : e.members) {
    _elfFree(m.name);
    _elfFree(m.library);
    _elfFree(m.symbol);
  }
  e.members.release();
}

elf_type_entry* entry_of(elf_state* state, int32_t id) {
  if (!state || !state->types || id < 1 || id > state->types->types.size()) return nullptr;
  return &state->types->types[id - 1];
}

// Binds "<what>_<type name>" in the type's library.
void* bind_type_proc(elf_state* state, const elf_type_entry& e, const char* what) {
  char symbol[300];
  if (!e.library || std::snprintf(symbol, sizeof symbol, "%s_%s", what, e.name) >= static_cast<int>(sizeof symbol)) {
    return nullptr;
  }
  return ELFFindSharedProc(state, e.library, symbol);
}

// Copies text into *slot (replacing what it held); false when memory runs out.
bool set_text(char** slot, const char* text) {
  char* copy = nullptr;
  if (text && !(copy = elfStrDup(text))) return false;
  _elfFree(*slot);
  *slot = copy;
  return true;
}

int bind_member(elf_state* state, int32_t typeId, const char* member, const char* library, const char* symbol,
                elf_method_proc proc) {
  elf_type_entry* e = entry_of(state, typeId);
  if (!e || !member || !*member || (!symbol && !proc)) {
    elfMessage(state, "elfBindMember: no type %d or no member to bind\n", typeId);
    return -1;
  }
  MemberBinding* found = nullptr;
  for (MemberBinding& m : e->members) {
    if (std::strcmp(m.name, member) == 0) found = &m;
  }
  if (!found) {
    MemberBinding fresh{elfStrDup(member), nullptr, nullptr, nullptr};
    if (!fresh.name || !e->members.push(fresh)) {
      _elfFree(fresh.name);
      elfMessage(state, "elfBindMember: no memory for member %s of %s\n", member, e->name);
      return -1;
    }
    found = &e->members[e->members.size() - 1];
  }
  if (!set_text(&found->library, library) || !set_text(&found->symbol, symbol)) {
    elfMessage(state, "elfBindMember: no memory for member %s of %s\n", member, e->name);
    return -1;
  }
  found->proc = proc;
  return 0;
}

ProcedureEntry* find_procedure(elf_state* state, int kind, const char* name) {
  if (!state || !state->types || !name) return nullptr;
  for (ProcedureEntry& p : state->types->procedures) {
    if (p.kind == kind && std::strcmp(p.name, name) == 0) return &p;
  }
  return nullptr;
}

int register_procedure(elf_state* state, int kind, const char* name, const char* library, const char* symbol,
                       elf_method_proc proc) {
  if (!state || !state->types || !name || !*name || (kind != ELF_PROCEDURE && kind != ELF_SCRIPT) ||
      (!proc && (!library || !symbol))) {
    elfMessage(state, "elfRegisterProcedure: nothing to register for %s\n", name ? name : "(none)");
    return -1;
  }
  ProcedureEntry* p = find_procedure(state, kind, name);
  if (!p) {
    ProcedureEntry fresh{elfStrDup(name), kind, nullptr, nullptr, nullptr};
    if (!fresh.name || !state->types->procedures.push(fresh)) {
      _elfFree(fresh.name);
      elfMessage(state, "elfRegisterProcedure: no memory for %s\n", name);
      return -1;
    }
    p = &state->types->procedures[state->types->procedures.size() - 1];
  }
  if (!set_text(&p->library, library) || !set_text(&p->symbol, symbol)) {
    elfMessage(state, "elfRegisterProcedure: no memory for %s\n", name);
    return -1;
  }
  p->proc = proc;
  return 0;
}

int run_procedure(elf_state* state, int kind, const char* caller, const char* name, elf_object* args,
                  elf_object** result) {
  ProcedureEntry* p = find_procedure(state, kind, name);
  if (p && !p->proc) p->proc = reinterpret_cast<elf_method_proc>(ELFFindSharedProc(state, p->library, p->symbol));
  if (!p || !p->proc) {
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: no %s %s\n", caller,
                     kind == ELF_SCRIPT ? "script" : "procedure", name ? name : "(none)");
  }
  return p->proc(state, args, result);
}

}  // namespace

namespace interp {

elf_type_table* new_type_table() {
  auto* table = static_cast<elf_type_table*>(elfCalloc(1, sizeof(elf_type_table)));
  return table;
}

void free_type_table(elf_type_table* table) {
  if (!table) return;
  for (elf_type_entry& e : table->types) free_entry(e);
  table->types.release();
  for (ProcedureEntry& p : table->procedures) {
    _elfFree(p.name);
    _elfFree(p.library);
    _elfFree(p.symbol);
  }
  table->procedures.release();
  _elfFree(table);
}

elf_method_proc member_proc(elf_state* state, int32_t typeId, const char* name) {
  elf_type_entry* e = entry_of(state, typeId);
  if (!e || !name) return nullptr;
  for (MemberBinding& m : e->members) {
    if (std::strcmp(m.name, name) != 0) continue;
    if (!m.proc) {
      const char* library = m.library ? m.library : e->library;
      if (!library) {
        elfMessage(state, "get_assigned_method: type %s has no library for %s\n", e->name, m.symbol);
        return nullptr;
      }
      m.proc = reinterpret_cast<elf_method_proc>(ELFFindSharedProc(state, library, m.symbol));
    }
    return m.proc;
  }
  return nullptr;
}

int32_t set_type_reader(elf_state* state, int32_t id, elf_read_proc reader) {
  elf_type_entry* e = entry_of(state, id);
  if (e) e->reader = reader;
  return e ? 0 : -1;
}

}  // namespace interp

int32_t elfRegisterType(elf_state* state, const char* name, elf_new_proc make) {
  if (!state || !state->types || !name || !*name || !make) return -1;
  if (find_elf_type(state, name) > 0) {
    elfMessage(state, "elfRegisterType: type %s is already registered\n", name);
    return -1;
  }
  elf_type_entry e{};
  e.name = elfStrDup(name);
  e.make = make;
  if (!e.name || !state->types->types.push(e)) {
    _elfFree(e.name);
    elfMessage(state, "elfRegisterType: no memory for type %s\n", name);
    return -1;
  }
  return state->types->types.size();
}

int32_t elfRegisterTypeLibrary(elf_state* state, const char* name, const char* library) {
  if (!state || !state->types || !name || !*name || !library || !*library) return -1;
  int32_t id = find_elf_type(state, name);
  if (id < 1) {
    elf_type_entry e{};
    e.name = elfStrDup(name);
    if (!e.name || !state->types->types.push(e)) {
      _elfFree(e.name);
      elfMessage(state, "elfRegisterTypeLibrary: no memory for type %s\n", name);
      return -1;
    }
    id = state->types->types.size();
  }
  elf_type_entry* e = entry_of(state, id);
  if (!e->library && !set_text(&e->library, library)) {
    elfMessage(state, "elfRegisterTypeLibrary: no memory for type %s\n", name);
    return -1;
  }
  return id;
}

const char* elfTypeLibrary(elf_state* state, int32_t typeId) {
  const elf_type_entry* e = entry_of(state, typeId);
  return e ? e->library : nullptr;
}

elf_read_proc elfTypeReader(elf_state* state, int32_t typeId) {
  elf_type_entry* e = entry_of(state, typeId);
  if (!e) return nullptr;
  if (!e->reader && e->library) e->reader = reinterpret_cast<elf_read_proc>(bind_type_proc(state, *e, "read"));
  if (!e->reader) elfMessage(state, "elfTypeReader: type %s has no text form\n", e->name);
  return e->reader;
}

int32_t find_elf_type(elf_state* state, const char* name) {
  if (!state || !state->types || !name) return -1;
  const auto& types = state->types->types;
  for (int32_t i = 0; i < types.size(); ++i) {
    if (std::strcmp(types[i].name, name) == 0) return i + 1;
  }
  return -1;
}

int32_t elfNextInstance(elf_state* state, int32_t typeId) {
  elf_type_entry* e = entry_of(state, typeId);
  return e ? ++e->instances : 0;
}

elf_object* new_elf_object(elf_state* state, const char* typeName, elf_object* args) {
  elf_type_entry* e = entry_of(state, find_elf_type(state, typeName));
  if (!e) {
    elfMessage(state, "new_elf_object: unknown object type %s\n", typeName ? typeName : "(none)");
    return nullptr;
  }
  if (!e->make) e->make = reinterpret_cast<elf_new_proc>(bind_type_proc(state, *e, "new"));
  return e->make ? e->make(state, nullptr, args) : nullptr;
}

int elfBindMember(elf_state* state, int32_t typeId, const char* member, const char* symbol) {
  return bind_member(state, typeId, member, nullptr, symbol, nullptr);
}

int elfBindMemberIn(elf_state* state, int32_t typeId, const char* member, const char* library, const char* symbol) {
  if (!library) {
    elfMessage(state, "elfBindMemberIn: no library for member %s\n", member ? member : "(none)");
    return -1;
  }
  return bind_member(state, typeId, member, library, symbol, nullptr);
}

int elfBindMemberProc(elf_state* state, int32_t typeId, const char* member, elf_method_proc proc) {
  return bind_member(state, typeId, member, nullptr, nullptr, proc);
}

int elfBindProcedure(elf_state* state, int kind, const char* name, const char* library, const char* symbol) {
  return register_procedure(state, kind, name, library, symbol, nullptr);
}

int elfRegisterProcedure(elf_state* state, int kind, const char* name, elf_method_proc proc) {
  return register_procedure(state, kind, name, nullptr, nullptr, proc);
}

int call_elf_procedure(elf_state* state, const char* name, elf_object* args, elf_object** result) {
  return run_procedure(state, ELF_PROCEDURE, "call_elf_procedure", name, args, result);
}

int ELFScriptExec(elf_state* state, const char* script, elf_object* args, elf_object** result) {
  return run_procedure(state, ELF_SCRIPT, "ELFScriptExec", script, args, result);
}
