// Member methods: the METHOD type, resolving and calling members, the generic members every
// type answers, the attribute service and the members the interpreter serves itself.

#include <cstring>

#include "interp_internal.h"

using interp::reaches;

namespace {

// ---- METHOD ----

int empty_method(elf_object* obj) {
  const elf_METHOD* m = elfMethod(obj);
  if (!m) return -1;
  return obj->stateWord == ELF_OBJECT_EMPTY || (!m->proc && !obj->peer) ? 1 : 0;
}

void free_method(elf_object* obj) {
  elf_METHOD* m = elfMethod(obj);
  if (!m || obj->refCount >= 1) return;
  _elfFree(m->name);
  elfFinishObject(obj);
  _elfFree(m);
}

elf_object* make_method(elf_state* state, const char* name, elf_method_proc proc);

elf_object* copy_method(elf_object* obj) {
  const elf_METHOD* m = elfMethod(obj);
  return m ? make_method(obj->state, m->name, m->proc) : nullptr;
}

int equal_method(elf_object* a, elf_object* b) {
  const elf_METHOD* x = elfMethod(a);
  const elf_METHOD* y = elfMethod(b);
  if (!x || !y) return 0;
  return a == b || (x->proc == y->proc && std::strcmp(x->name, y->name) == 0) ? 1 : 0;
}

using MethodHeld = interp::HeldFields<elf_METHOD, elfMethod>;
constexpr elf_type_ops method_ops{MethodHeld::reset, empty_method,          nullptr,            copy_method,
                                  nullptr,           nullptr,               free_method,        interp::set_no_member,
                                  interp::get_member, MethodHeld::cycle,    equal_method};

elf_object* make_method(elf_state* state, const char* name, elf_method_proc proc) {
  auto* m = interp::make_record<elf_METHOD>(state, "METHOD", method_ops);
  if (!m) return nullptr;
  m->name = elfStrDup(name ? name : "");
  if (!m->name) {
    elfDiscard(&m->hdr);
    return nullptr;
  }
  m->proc = proc;
  return &m->hdr;
}

// ---- Results ----

// Hands a result list to the caller, or drops it when the caller gave no place.
int give_result(elf_object** result, elf_object* list) {
  if (result) {
    *result = list;
  } else {
    elfDiscard(list);
  }
  return QEL_STATUS_OK;
}

elf_state* state_of(elf_object* obj) { return obj ? obj->state : nullptr; }

int no_memory(elf_state* state, const char* who) {
  return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: no memory\n", who);
}

// ---- Generic members ----

int member_type(void* target, elf_object* args, elf_object** result) {
  auto* obj = static_cast<elf_object*>(target);
  elf_object* list = lstBuildArgs(state_of(args), "type:s", obj->typeName, 0, LST_END);
  return list ? give_result(result, list) : no_memory(state_of(args), "Type");
}

int member_copy(void* target, elf_object* args, elf_object** result) {
  auto* obj = static_cast<elf_object*>(target);
  elf_object* copy = obj->ops.copy ? obj->ops.copy(obj) : nullptr;
  if (!copy) {
    return setStatus(state_of(args), QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "Copy: cannot copy a %s\n", obj->typeName);
  }
  elf_object* list = lstBuildArgs(state_of(args), "obj:", copy, 0, LST_END);
  if (!list) {
    elfDiscard(copy);
    return no_memory(state_of(args), "Copy");
  }
  return give_result(result, list);
}

int member_attach(void* target, elf_object* args, elf_object**) {
  auto* obj = static_cast<elf_object*>(target);
  elf_object* peer = nullptr;
  if (!lstScanArgs(args, "obj:", LST_REQUIRED, &peer, LST_END) || reaches(peer, obj)) {
    return setStatus(state_of(args), QEL_STATUS_INVALID, QEL_SEVERITY_ERROR,
                     "Attach: needs obj:, an object that does not hold the %s\n", obj->typeName);
  }
  if (peer != obj->peer) ELF_ASSIGN(state_of(args), &obj->peer, peer);
  return QEL_STATUS_OK;
}

int member_split(void* target, elf_object* args, elf_object** result) {
  auto* obj = static_cast<elf_object*>(target);
  elf_object* peer = obj->peer;
  elf_object* list = peer ? lstBuildArgs(state_of(args), "obj:", peer, 0, LST_END)
                          : new_LIST(state_of(args), nullptr, nullptr);
  if (!list) return no_memory(state_of(args), "Split");
  ELF_ASSIGN(state_of(args), &obj->peer, nullptr);
  return give_result(result, list);
}

int member_write(void* target, elf_object* args, elf_object**) {
  auto* obj = static_cast<elf_object*>(target);
  int32_t fd = 1;
  const char* indent = "";
  if (!lstScanArgs(args, "fd:i", LST_OPTIONAL, &fd, "indent:s", LST_OPTIONAL, &indent, LST_END)) {
    return setStatus(state_of(args), QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "Write: bad arguments\n");
  }
  if (elfWriteObject(obj, fd, indent) != 0) {
    return setStatus(state_of(args), QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "Write: cannot write the %s\n",
                     obj->typeName);
  }
  return QEL_STATUS_OK;
}

int member_refs(void* target, elf_object* args, elf_object**) {
  int32_t fd = 1;
  const char* indent = "";
  if (!lstScanArgs(args, "fd:i", LST_OPTIONAL, &fd, "indent:s", LST_OPTIONAL, &indent, LST_END)) {
    return setStatus(state_of(args), QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "Refs: bad arguments\n");
  }
  elfRefsObject(static_cast<elf_object*>(target), fd, indent);
  return QEL_STATUS_OK;
}

constexpr elf_method_proc generic_procs[ELF_GENERIC_MEMBERS] = {member_type,  member_split, member_attach,
                                                                 member_refs,  member_copy,  member_write};

// ---- Members the interpreter serves ----

const char* call_name(elf_object* args) {
  const char* name = "";
  lstScanArgs(args, "CALL_NAME:s", LST_OPTIONAL, &name, LST_END);
  return name;
}

int list_length(void* target, elf_object* args, elf_object** result) {
  elf_object* list = lstBuildArgs(state_of(args), "obj:i", elflistLength(static_cast<elf_object*>(target)), 0, LST_END);
  return list ? give_result(result, list) : no_memory(state_of(args), "length");
}

int list_ref(void* target, elf_object* args, elf_object** result) {
  int32_t entry = -1;
  elf_object* item = nullptr;
  if (lstScanArgs(args, "entry:i", LST_REQUIRED, &entry, LST_END)) item = elflistItem(static_cast<elf_object*>(target), entry);
  if (!item) {
    return setStatus(state_of(args), QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "ref: no entry %d in the list\n", entry);
  }
  elf_object* list = lstBuildArgs(state_of(args), "obj:", item, 0, LST_END);
  return list ? give_result(result, list) : no_memory(state_of(args), "ref");
}

int image_attributes(void* target, elf_object* args, elf_object** result) {
  return QELAttributes(&qelImage(static_cast<elf_object*>(target))->attributes, args, result, call_name(args));
}

int layer_attributes(void* target, elf_object* args, elf_object** result) {
  return QELAttributes(&qelLayer(static_cast<elf_object*>(target))->attributes, args, result, call_name(args));
}

// ---- Attributes ----

elf_IDENT* find_attribute(elf_object* list, const char* name) {
  const int32_t n = elflistLength(list);
  for (int32_t i = 0; i < n; ++i) {
    elf_object* entry = elflistItem(list, i);
    if (elfIsType(entry, "IDENT") && std::strcmp(reinterpret_cast<elf_IDENT*>(entry)->name, name) == 0) {
      return reinterpret_cast<elf_IDENT*>(entry);
    }
  }
  return nullptr;
}

int set_attribute(elf_state* state, elf_object** place, elf_object* args) {
  const char* name = nullptr;
  elf_object* value = nullptr;
  if (!lstScanArgs(args, "name:s", LST_REQUIRED, &name, "obj:", LST_REQUIRED, &value, LST_END) || !value) {
    return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "setAttr: needs name:s and obj:\n");
  }
  if (*place && reaches(value, *place)) {
    return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR,
                     "setAttr: the value of %s holds the attribute list itself\n", name);
  }
  if (!*place) {
    elf_object* list = new_LIST(state, nullptr, nullptr);
    if (!list) return no_memory(state, "setAttr");
    ELF_ASSIGN(state, place, list);
  }
  if (elf_IDENT* ident = find_attribute(*place, name)) {
    if (ident->value != value) ELF_ASSIGN(state, &ident->value, value);
    return QEL_STATUS_OK;
  }
  elf_object* ident = elfNewIdent(state, name, value);
  if (!ident || elflistInsert(*place, ident, -1, 0) != 0) {
    elfDiscard(ident);
    return no_memory(state, "setAttr");
  }
  return QEL_STATUS_OK;
}

int get_attribute(elf_state* state, elf_object** place, elf_object* args, elf_object** result) {
  const char* name = nullptr;
  if (!lstScanArgs(args, "name:s", LST_OPTIONAL, &name, LST_END)) {
    return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "getAttr: name must be a STRING\n");
  }
  elf_object* list;
  if (name) {
    elf_IDENT* ident = find_attribute(*place, name);
    list = ident && ident->value ? lstBuildArgs(state, "obj:", ident->value, 0, LST_END)
                                 : new_LIST(state, nullptr, nullptr);
  } else {
    elf_object* all = *place ? copy_LIST(*place) : new_LIST(state, nullptr, nullptr);
    list = all ? lstBuildArgs(state, "attributes:LIST", all, 0, LST_END) : nullptr;
    if (!list) elfDiscard(all);
  }
  return list ? give_result(result, list) : no_memory(state, "getAttr");
}

int clear_attribute(elf_state* state, elf_object** place, elf_object* args) {
  const char* name = nullptr;
  if (!lstScanArgs(args, "name:s", LST_OPTIONAL, &name, LST_END)) {
    return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "clearAttr: name must be a STRING\n");
  }
  if (!name) {
    ELF_ASSIGN(state, place, nullptr);
    return QEL_STATUS_OK;
  }
  for (int32_t i = elflistLength(*place) - 1; i >= 0; --i) {
    elf_object* entry = elflistItem(*place, i);
    if (elfIsType(entry, "IDENT") && std::strcmp(reinterpret_cast<elf_IDENT*>(entry)->name, name) == 0) {
      elfRefDown(elflistRemove(*place, i));
    }
  }
  return QEL_STATUS_OK;
}

}  // namespace

namespace {
constexpr const char* generic_names[ELF_GENERIC_MEMBERS] = {"Type", "Split", "Attach", "Refs", "Copy", "Write"};
}  // namespace

const char* elfGenericMemberName(int index) {
  return index >= 0 && index < ELF_GENERIC_MEMBERS ? generic_names[index] : nullptr;
}

int elfGenericMemberIndex(const char* name) {
  for (int i = 0; name && i < ELF_GENERIC_MEMBERS; ++i) {
    if (std::strcmp(generic_names[i], name) == 0) return i;
  }
  return -1;
}

elf_METHOD* elfMethod(elf_object* obj) {
  return elfIsType(obj, "METHOD") ? reinterpret_cast<elf_METHOD*>(obj) : nullptr;
}

elf_object* new_METHOD(elf_state* state, void*, elf_object* args) {
  elf_object* obj = make_method(state, "", nullptr);
  if (obj) interp::apply_creation_args(state, obj, args);
  return obj;
}

elf_object* get_assigned_method(elf_state* state, int32_t typeId, const char* name) {
  elf_method_proc proc = interp::member_proc(state, typeId, name);
  if (!proc) {
    const int generic = elfGenericMemberIndex(name);
    if (generic < 0) return nullptr;
    proc = generic_procs[generic];
  }
  return make_method(state, name, proc);
}

int call_elf_object_method(elf_state* state, elf_object* obj, const char* name, elf_object* args,
                           elf_object** result) {
  if (!obj || !name || !obj->ops.get) {
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "call_elf_object_method: no object or member name\n");
  }
  elf_object* found = obj->ops.get(state, obj, name);
  const elf_METHOD* method = elfMethod(found);
  if (!method || !method->proc) {
    if (found && found->refCount < 1) elfDiscard(found);
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "call_elf_object_method: a %s has no member %s\n",
                     obj->typeName, name);
  }
  // Held for the call: a cached method stays with its cache, one handed out uncached goes after.
  elfRefUp(found);
  elf_object* call_args = lstBuildArgs(state, "CALL_NAME:s", name, 0, LST_END);
  bool ok = call_args != nullptr;
  const int32_t n = elflistLength(args);
  for (int32_t i = 0; ok && i < n; ++i) ok = elflistInsert(call_args, elflistItem(args, i), -1, 0) == 0;
  int status;
  if (ok) {
    status = method->proc(obj, call_args, result);
  } else {
    status = no_memory(state, "call_elf_object_method");
  }
  elfDiscard(call_args);
  elfRefDown(found);
  return status;
}

int QELAttributes(elf_object** place, elf_object* args, elf_object** result, const char* method) {
  elf_state* state = args ? args->state : (place ? state_of(*place) : nullptr);
  if (!place || !method) {
    return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "QELAttributes: no attribute list or method\n");
  }
  if (std::strcmp(method, "setAttr") == 0) return set_attribute(state, place, args);
  if (std::strcmp(method, "getAttr") == 0) return get_attribute(state, place, args, result);
  if (std::strcmp(method, "clearAttr") == 0) return clear_attribute(state, place, args);
  return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "QELAttributes: no attribute method %s\n", method);
}

namespace interp {

elf_object* get_member(elf_state* state, elf_object* obj, const char* name) {
  if (!obj || !name) return nullptr;
  elf_object* method = get_assigned_method(state, obj->typeId, name);
  if (!method && obj->state != state) method = get_assigned_method(obj->state, obj->typeId, name);
  if (!method) {
    elfMessage(state, "Unknown member <%s> for object get of %s\n", name, obj->typeName);
    return nullptr;
  }
  method->refCount = -10;
  return method;
}

int bind_builtin_members(elf_state* state) {
  struct Binding {
    int32_t type;
    const char* name;
    elf_method_proc proc;
  };
  static constexpr Binding bindings[] = {
      {ELF_TYPE_LIST, "length", list_length},          {ELF_TYPE_LIST, "ref", list_ref},
      {ELF_TYPE_QELIMAGE, "setAttr", image_attributes}, {ELF_TYPE_QELIMAGE, "getAttr", image_attributes},
      {ELF_TYPE_QELIMAGE, "clearAttr", image_attributes}, {ELF_TYPE_QELLAYER, "setAttr", layer_attributes},
      {ELF_TYPE_QELLAYER, "getAttr", layer_attributes}, {ELF_TYPE_QELLAYER, "clearAttr", layer_attributes},
  };
  for (const Binding& b : bindings) {
    if (elfBindMemberProc(state, b.type, b.name, b.proc) != 0) return -1;
  }
  return 0;
}

}  // namespace interp
