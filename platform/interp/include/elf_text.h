#ifndef ELF_TEXT_H
#define ELF_TEXT_H

// The object text form: what a type's write operation writes and its read operation reads back.
//
// An object is written as a frame of lines, each starting with the writer's indentation:
//   [TYPENAME]                   the header line
//   peer:                        a field whose value is an object: the object follows on lines
//     [STRING] ... [ENDSTRING4]  of its own, two blanks deeper (an indentation never grows
//   label: value                 past 63); a field with a plain value
//   [ENDTYPENAME7]               the end line with the object's instance number
//
// Grammar of the tokens readusercm_fd reads (one line gives one or two tokens):
//   - blanks (space, tab) at the start of a line are skipped; empty lines and lines whose first
//     character is '#' are skipped;
//   - "[NAME]" is a name token (ELF_TOKEN_NAME, the text between the brackets); the rest of the
//     line is ignored. A '[' line without ']' is a value line;
//   - "label:" at the start of a line, label being letters, digits and "_.-@$", is a label token
//     (ELF_TOKEN_LABEL); one blank after the colon belongs to it, and the rest of the line, when
//     not empty, is the next token, a value;
//   - any other line is a value;
//   - a value that is a quoted string ("...", with the escapes \\ \" \n \r \t and \xHH, closed
//     at the end of the line) is a string token (ELF_TOKEN_STRING) holding the unescaped text;
//     any other value is a plain token (ELF_TOKEN_PLAIN) holding the line's text exactly;
//   - the end of input gives ELF_TOKEN_END.
// So a plain value is exact unless it holds a line break or starts with '"'; writers quote such
// values (elfWriteValue). A token longer than ELF_TOKEN_MAX - 1 bytes is not cut: it comes as
// ELF_TOKEN_OVERLONG with its first bytes, the rest of its line skipped.
//
// Tokens are read one byte at a time, so several readers can share a descriptor and each stops
// right after its own object.

#include <stdint.h>

#include "elf_object.h"
#include "mono_export.h"

enum {
  ELF_TOKEN_END = 'e',
  ELF_TOKEN_LABEL = 'l',
  ELF_TOKEN_NAME = 'n',
  ELF_TOKEN_PLAIN = 'p',
  ELF_TOKEN_STRING = 's',
  ELF_TOKEN_OVERLONG = 'o',
};

/* Size of the buffer readusercm_fd fills (with the terminating zero). */
enum { ELF_TOKEN_MAX = 4096 };

/* The longest indentation; deeper objects keep it. */
enum { ELF_INDENT_MAX = 63 };

/* How deep frames may nest when they are read; deeper ones are skipped. */
enum { ELF_NESTING_MAX = 200 };

/* Reads the next token from fd into buffer (ELF_TOKEN_MAX bytes) and returns its code. A read
   error counts as the end of input. */
MONO_API int readusercm_fd(int fd, char* buffer);

/* The indentation of nested objects: indent and two blanks while indent has at most 61
   characters, else indent itself. child holds ELF_INDENT_MAX + 1 bytes; a null indent is "". */
MONO_API const char* elfChildIndent(const char* indent, char* child);

/* Writes text as a value to fd: as it is when it reads back exactly, else as a quoted string.
   Returns 0, or -1 when the write fails. */
MONO_API int elfWriteValue(int fd, const char* text);

/* Writes obj by its write operation at indent; an object without a text form is reported
   through the message function and written as an empty frame of its type. 0 or -1. */
MONO_API int elfWriteObject(elf_object* obj, int fd, const char* indent);
/* Writes obj's references by its refs operation (nothing for a type without one). */
MONO_API void elfRefsObject(elf_object* obj, int fd, const char* indent);

/* Reads the object whose header name token (typeName) was just read, with the type's reader
   (elfTypeReader). A type without a reader, or an unknown one, or a frame nested deeper than
   ELF_NESTING_MAX, is skipped up to its end line and reported; null then. */
MONO_API elf_object* elfReadObject(elf_state* state, int fd, const char* typeName);

/* True when token (a name token) is the end line of the frame whose end marker is marker
   ("ENDLIST"), compared case-insensitively over the marker's length; the number after it goes
   to *instance when given. */
MONO_API int elfIsEndToken(const char* token, const char* marker, int32_t* instance);

/* A value of a frame: its label (key; the type name before the first label), the text, and how
   many values came under the label before it. */
typedef void (*elf_frame_value_proc)(void* data, const char* key, const char* text, int nth);
/* An object nested in a frame under key (read by its type's reader); 1 when the callee keeps it,
   else it is released. */
typedef int (*elf_frame_nested_proc)(void* data, const char* key, elf_object* nested);

/* Reads obj's frame from its header line or just after it, up to its end line ("END" and the
   type name, whose number becomes obj's instance number) or the end of input: values go to
   value, a nested object under "peer" becomes obj's peer, other nested objects go to nested;
   frames of unknown types are skipped to their end. Either callback may be null. Returns 0, or
   -1 when the token buffer cannot be had. */
MONO_API int elfReadFrame(elf_state* state, int fd, elf_object* obj, elf_frame_value_proc value,
                          elf_frame_nested_proc nested, void* data);

/* Text forms of the built-in types that have one. */
MONO_API int write_LIST(elf_object* obj, int fd, const char* indent);
MONO_API elf_object* read_LIST(elf_state* state, int fd);
MONO_API void refs_LIST(elf_object* obj, int fd, const char* indent);

#endif
