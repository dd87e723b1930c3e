#ifndef ELF_MEMBER_H
#define ELF_MEMBER_H

// Members, procedures and scripts: how the interpreter finds the method behind an object's
// member name or a procedure's name, and calls it; the attribute service; type descriptions.
//
// Member methods. A type's members are bound by name to interpreter methods (elf_method_proc):
// to a symbol of the type's library, or to a procedure of the interpreter itself. Every type
// also answers the generic members "Type", "Split", "Attach", "Refs", "Copy" and "Write". A
// member is resolved into a METHOD object; the type's get operation hands it out, cached in the
// object (held) when the type keeps caches, else with count -10 so that whoever asked lets it
// go with the free operation.
//
// A method called as a member gets the object as its target and an argument list that starts
// with "CALL_NAME:s", the member name (one function may serve several members), followed by
// the caller's arguments.
//
// Type descriptions (files ending in ".ucm", loaded by initState) are written in the object
// text form's grammar (elf_text.h), one entry per bracketed section:
//   [TYPE]                       a type of a plug-in library, or more members of a known type
//     name: DOCUMENTREADER
//     library: pagefiler         where new_<name>, read_<name> and the member symbols are
//     member: getPage DocReadMethods
//   [ENDTYPE]
//   [PROCEDURE] / [SCRIPT]       a procedure or script run by name
//     name: docio/tifffxFmtAdj.elf
//     library: tfxbridge
//     symbol: TFXFormatAdjust
//   [ENDPROCEDURE] / [ENDSCRIPT]
// Lines starting with '#' are comments.
//
// The imaging engine's side: every state knows the engine's procedures "readtif" and "Execute"
// and the page-image members "exec", "modheader", "unmap", "interleave", "writetif", "writejpg",
// "writepng", "writegif", "writebmp", "writeimage", "findField", "getFieldInt" and "getFieldStr" of QELIMAGE; they are bound by name in the
// engine's library "kvraster" when first called (kvraster.h tells what they do).

#include <stdint.h>

#include "elf_object.h"
#include "mono_export.h"

/* A resolved member: the method and the name it was asked by. */
typedef struct elf_METHOD {
  elf_object hdr;
  char* name;            /* owned */
  elf_method_proc proc;
} elf_METHOD;

MONO_API elf_METHOD* elfMethod(elf_object* obj);
MONO_API elf_object* new_METHOD(elf_state* state, void* unused, elf_object* args);

/* The generic member names every type answers, by their index in the object's caches (null for
   other indices). */
MONO_API const char* elfGenericMemberName(int index);
/* Index of a generic member name, or -1. */
MONO_API int elfGenericMemberIndex(const char* name);

/* Binds member of a type to symbol in the type's library (bound when first resolved), or to
   proc. Binding a member again replaces the binding. Returns 0, or -1 (reported). */
MONO_API int elfBindMember(elf_state* state, int32_t typeId, const char* member, const char* symbol);
/* The same with symbol in the named library: members a type takes from another library than its
   own (the imaging engine's members of the page-image types). */
MONO_API int elfBindMemberIn(elf_state* state, int32_t typeId, const char* member, const char* library,
                             const char* symbol);
MONO_API int elfBindMemberProc(elf_state* state, int32_t typeId, const char* member, elf_method_proc proc);

/* A new METHOD object (count 0) for the member name of the type: its own binding, else the
   generic member of that name. Null when the type has no such member (not reported) or its
   symbol cannot be bound (reported). */
MONO_API elf_object* get_assigned_method(elf_state* state, int32_t typeId, const char* name);

/* Calls member name of obj through the type's get operation, with args (may be null) after
   "CALL_NAME:s". A member that cannot be found fails with QEL_STATUS_FAILED and a status
   message; otherwise the method's status is returned. */
MONO_API int call_elf_object_method(elf_state* state, elf_object* obj, const char* name, elf_object* args,
                                    elf_object** result);

/* Procedures and scripts run by name: methods whose target is the interpreter state. */
enum { ELF_PROCEDURE = 0, ELF_SCRIPT = 1 };
/* Registers a procedure or script by its symbol in a library (bound when first run), or as
   proc. Registering a name again replaces it. Returns 0, or -1 (reported). */
MONO_API int elfBindProcedure(elf_state* state, int kind, const char* name, const char* library, const char* symbol);
MONO_API int elfRegisterProcedure(elf_state* state, int kind, const char* name, elf_method_proc proc);
/* Runs the procedure name with args (may be null); an unknown procedure fails with
   QEL_STATUS_FAILED and a status message. */
MONO_API int call_elf_procedure(elf_state* state, const char* name, elf_object* args, elf_object** result);
/* Runs the script name the same way; result may be null. */
MONO_API int ELFScriptExec(elf_state* state, const char* script, elf_object* args, elf_object** result);

/* The attribute service behind the members "setAttr", "getAttr" and "clearAttr" of objects that
   keep named attributes. place holds the attribute LIST (an IDENT per attribute) or null; it is
   created by the first setAttr in the state of args. By method:
     setAttr   "name:s" and "obj:" (both required): the attribute name takes the value (an
               existing one is replaced in place); no result.
     getAttr   "name:s": result "obj:" with the value, an empty result list when there is no
               such attribute; without a name, result "attributes:LIST" with a copy of them all.
     clearAttr "name:s": that attribute goes; without a name, all go; no result.
   Returns 0, or QEL_STATUS_INVALID for missing or wrong arguments or another method name and
   QEL_STATUS_FAILED when memory runs out (status set on the state of args). */
MONO_API int QELAttributes(elf_object** place, elf_object* args, elf_object** result, const char* method);

#endif
