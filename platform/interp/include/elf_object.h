#ifndef ELF_OBJECT_H
#define ELF_OBJECT_H

// The interpreter's object system: the interpreter state (status, message function, variables,
// type table), the object record every type begins with, reference counting and the assignment
// rule, and the built-in scalar, list and pointer types.
//
// Reference counting: a new object has count 0. Whoever keeps an object (a list, a field, the
// caller of a method) raises its count and, when it lets go, lowers the count and calls the
// type's free operation, which frees the object only when its count is below 1. An object that
// nobody ever kept is released by calling the free operation alone (elfDiscard).

#include <stddef.h>
#include <stdint.h>

#include "elf_memory.h"
#include "mono_export.h"

typedef struct elf_object elf_object;
typedef struct elf_state elf_state;

/* Interpreter statuses a method reports; 0 is success. */
enum {
  QEL_STATUS_OK = 0,
  QEL_STATUS_INVALID = 20,  /* invalid state, value or unsupported option; also warnings */
  QEL_STATUS_FAILED = 21,   /* a failed call or resource */
};
enum { QEL_SEVERITY_WARNING = 0, QEL_SEVERITY_ERROR = 1 };

/* The eleven operations of a type, in the order the object record holds them. Of the built-in
   types, the page-image types (QELIMAGE, QELLAYER, QELHDR) and METHOD have no text form: their
   write, read and refs operations are null, and callers check. */
typedef struct elf_type_ops {
  void (*resetELF)(elf_object* obj, elf_state* state);
  int (*empty)(elf_object* obj);
  void (*refs)(elf_object* obj, int fd, const char* indent);
  elf_object* (*copy)(elf_object* obj);
  int (*write)(elf_object* obj, int fd, const char* indent);
  elf_object* (*read)(elf_state* state, int fd);
  void (*free)(elf_object* obj);
  int (*set)(elf_state* state, elf_object* obj, const char* name, elf_object* value);
  elf_object* (*get)(elf_state* state, elf_object* obj, const char* name);
  int (*cycle)(elf_object* obj, elf_object* other);
  int (*equal)(elf_object* obj, elf_object* other);
} elf_type_ops;

/* An interpreter method: the target (the object, or the interpreter context for methods that
   create objects), the argument LIST, a place for the result LIST (may be null); returns a status
   (0 for success). */
typedef int (*elf_method_proc)(void* target, elf_object* args, elf_object** result);

/* A type's creator: (state or null, an ignored word, creation argument list or null). */
typedef elf_object* (*elf_new_proc)(elf_state* state, void* unused, elf_object* args);
/* A type's reader of its text form (elf_text.h): the object read from fd, or null. It reads from
   the object's header line or from just after it, up to its end line. */
typedef elf_object* (*elf_read_proc)(elf_state* state, int fd);

/* Cached generic members, in record order: "Type", "Split", "Attach", "Refs", "Copy", "Write". */
enum { ELF_GENERIC_MEMBERS = 6 };
/* Values of the state word. */
enum { ELF_OBJECT_LIVE = 4, ELF_OBJECT_EMPTY = 6 };

struct elf_object {
  elf_object* generic[ELF_GENERIC_MEMBERS];
  elf_type_ops ops;
  char* text;            /* owned, freed with the record */
  elf_state* state;
  elf_object* peer;      /* held */
  int32_t changes;       /* raised by every set operation */
  int32_t refCount;
  char* typeName;        /* the object's own copy */
  int32_t stateWord;
  int32_t typeId;
  int32_t instance;
};

/* The message function prints diagnostics that are not a status (unknown members, failed
   argument scans, self-assignment); text is one formatted message. */
typedef void (*elf_print_proc)(void* data, const char* text);

enum { ELF_MESSAGE_MAX = 1024 };

struct elf_type_table;

struct elf_state {
  int32_t status;                  /* pending status, 0 for none */
  int32_t severity;
  char message[ELF_MESSAGE_MAX];   /* the pending status's text; fixed so that reporting a
                                      failed allocation needs no allocation */
  elf_print_proc print;            /* null prints to the standard error stream */
  void* printData;
  elf_object* variables;           /* the context's variable LIST, held, or null */
  char* config;                    /* the configuration name the state was made from */
  struct elf_type_table* types;    /* types, their member bindings, procedures and scripts */
};

/* A new state with the built-in types registered; it takes the parent's message function
   when one is given. A configuration name ending in ".ucm" names a type description that is
   loaded into the state (elf_member.h tells its form; the file is found as elfFindPlatformFile
   finds it); any other name is only kept. Null when memory runs out or the type description
   cannot be found or read (reported through the message function). */
MONO_API elf_state* initState(elf_state* parent, const char* config);
/* Drops the variables, frees the type table and the state; null is ignored. */
MONO_API void freeState(elf_state* state);

/* Formats a message and hands it to the state's message function (a null state prints to the
   standard error stream). */
MONO_API void elfMessage(elf_state* state, const char* format, ...) __attribute__((format(printf, 2, 3)));

/* Records code, severity and the formatted message as the pending status (the latest report
   replaces an earlier one) and returns code, so a method can return setStatus(...). A null
   state records nothing and prints the message. */
MONO_API int setStatus(elf_state* state, int code, int severity, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
MONO_API int getStatus(elf_state* state);
MONO_API int getStatusSeverity(elf_state* state);
/* The pending message, "" when there is none. */
MONO_API const char* getStatusMessage(elf_state* state);
MONO_API void clearStatus(elf_state* state);

/* Built-in types, registered in this order in every state, so their ids are fixed. */
enum {
  ELF_TYPE_LIST = 1,
  ELF_TYPE_IDENT,
  ELF_TYPE_POINTER,
  ELF_TYPE_STRING,
  ELF_TYPE_INTEGER,
  ELF_TYPE_DOUBLE,
  ELF_TYPE_BOOLEAN,
  ELF_TYPE_QELIMAGE,
  ELF_TYPE_QELLAYER,
  ELF_TYPE_QELHDR,
  ELF_TYPE_METHOD,
  ELF_TYPE_QELTEXT,
  ELF_TYPE_FIRST_FREE,
};

/* Adds a type to the state's table; returns its id, or -1 for a name already there, an
   empty name or no memory (reported through the message function). */
MONO_API int32_t elfRegisterType(elf_state* state, const char* name, elf_new_proc make);
/* Adds a type that lives in a plug-in library: its creator "new_<name>" and its reader
   "read_<name>" are bound by name in library when first needed, and its members are bound
   there (elf_member.h). A type already in the table keeps its creator and takes the library
   when it had none. Returns the type's id, or -1 (reported). */
MONO_API int32_t elfRegisterTypeLibrary(elf_state* state, const char* name, const char* library);
/* The library of a type, or null for the built-in types and unknown ids. */
MONO_API const char* elfTypeLibrary(elf_state* state, int32_t typeId);
/* The reader of a type's text form: kept in the table once found ("read_<name>" in the type's
   library for library types). Null, reported, when the type has none. */
MONO_API elf_read_proc elfTypeReader(elf_state* state, int32_t typeId);
/* The id of a registered type, or -1. */
MONO_API int32_t find_elf_type(elf_state* state, const char* name);
/* Raises the instance counter of a type and returns it (0 for an unknown type). */
MONO_API int32_t elfNextInstance(elf_state* state, int32_t typeId);
/* Creates an object of a registered type through its creator (bound first for library types);
   null for an unknown type or a creator that cannot be bound (reported) or a failed creation. */
MONO_API elf_object* new_elf_object(elf_state* state, const char* typeName, elf_object* args);

/* Fills a zeroed record's header: state, type name copy, type id, state word, operations,
   instance number. Returns 0, or -1 when the name cannot be copied (nothing to undo then). */
MONO_API int elfInitObject(elf_object* obj, elf_state* state, const char* typeName, const elf_type_ops* ops);
/* Drops what the header holds (generic member caches, peer) and frees its owned texts; the
   record itself stays for the type's free operation to release. */
MONO_API void elfFinishObject(elf_object* obj);

/* True when obj exists and its type name is name. */
MONO_API int elfIsType(const elf_object* obj, const char* name);

static inline void elfRefUp(elf_object* obj) {
  if (obj) ++obj->refCount;
}
/* Lets go of one reference: count down, then the type's free operation. */
MONO_API void elfRefDown(elf_object* obj);
/* Releases an object nobody holds (count 0) through its free operation. */
MONO_API void elfDiscard(elf_object* obj);

/* The assignment rule for an object-valued field: store the new object, raise its count, lower
   the old one's and call its free operation. Assigning the object a field already holds is
   reported ("cannot assign object to itself") and changes nothing. */
MONO_API void elfAssign(elf_state* state, elf_object** slot, elf_object* value, const char* file, int line);
#define ELF_ASSIGN(state, slot, value) elfAssign((state), (slot), (value), __FILE__, __LINE__)

/* ---- Built-in types ---- */

typedef struct elf_LIST {
  elf_object hdr;
  int32_t count;
  int32_t capacity;
  elf_object** items;  /* each held */
} elf_LIST;

/* A named entry: argument lists, layer lists and attribute lists are LISTs of IDENTs. */
typedef struct elf_IDENT {
  elf_object hdr;
  char* name;          /* owned */
  elf_object* value;   /* held, or null */
} elf_IDENT;

/* Raw bytes. Without a release procedure the object owns data (this heap) and frees it; with
   one, the procedure is called with the object when it goes and looks after data itself.
   Strips of one layer are chained through next. */
typedef struct elf_POINTER {
  elf_object hdr;
  void* data;
  size_t length;
  char* description;   /* owned, or null */
  void (*release)(elf_object* pointer);
  elf_object* next;    /* held, or null */
} elf_POINTER;

typedef struct elf_STRING {
  elf_object hdr;
  char* value;         /* owned, never null */
} elf_STRING;

typedef struct elf_INTEGER {
  elf_object hdr;
  int32_t value;
} elf_INTEGER;

typedef struct elf_DOUBLE {
  elf_object hdr;
  double value;
} elf_DOUBLE;

typedef struct elf_BOOLEAN {
  elf_object hdr;
  int32_t value;       /* 0 or 1 */
} elf_BOOLEAN;

/* Creators in the type protocol's form. Entries of the creation list go to the type's set
   operation: the scalar types take "value". */
MONO_API elf_object* new_LIST(elf_state* state, void* unused, elf_object* args);
MONO_API elf_object* new_IDENT(elf_state* state, void* unused, elf_object* args);
MONO_API elf_object* new_POINTER(elf_state* state, void* unused, elf_object* args);
MONO_API elf_object* new_STRING(elf_state* state, void* unused, elf_object* args);
MONO_API elf_object* new_INTEGER(elf_state* state, void* unused, elf_object* args);
MONO_API elf_object* new_DOUBLE(elf_state* state, void* unused, elf_object* args);
MONO_API elf_object* new_BOOLEAN(elf_state* state, void* unused, elf_object* args);

/* Free and copy operations under their protocol names (also reachable through obj->ops). A copy
   is deep: a copied list holds copies of the items. A POINTER whose data belongs to a release
   procedure cannot be copied. */
MONO_API void free_LIST(elf_object* obj);
MONO_API elf_object* copy_LIST(elf_object* obj);
MONO_API void free_IDENT(elf_object* obj);
MONO_API elf_object* copy_IDENT(elf_object* obj);
MONO_API void free_POINTER(elf_object* obj);
MONO_API elf_object* copy_POINTER(elf_object* obj);

/* Convenience creators (count 0; null when memory runs out). */
MONO_API elf_object* elfNewString(elf_state* state, const char* text);
MONO_API elf_object* elfNewInteger(elf_state* state, int32_t value);
MONO_API elf_object* elfNewDouble(elf_state* state, double value);
MONO_API elf_object* elfNewBoolean(elf_state* state, int32_t value);
/* The IDENT holds value (count raised) under a copy of name. */
MONO_API elf_object* elfNewIdent(elf_state* state, const char* name, elf_object* value);
/* The POINTER takes data (this heap) on success; on failure the caller keeps it. */
MONO_API elf_object* elfNewPointer(elf_state* state, void* data, size_t length);

/* The value of an IDENT, or the object itself when it is not an IDENT. */
MONO_API elf_object* elfIdentValue(elf_object* obj);

#endif
