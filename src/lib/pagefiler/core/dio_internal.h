#ifndef DIO_INTERNAL_H
#define DIO_INTERNAL_H

// What the files of libpagefiler share and do not export.

#include "dio.h"

namespace dio {

inline const char* or_empty(const char* text) { return text ? text : ""; }
// A name for messages, also when there is none.
inline const char* or_text(const char* text) { return text ? text : "(null)"; }

// The printed name of a subtype into a buffer of DIO_FORMAT_NAME_MAX bytes.
void subformat_to_string(int32_t subtype, char* buffer);

// Hands a result list to the caller (or drops it without a place); a list that could not be
// made fails with a status on state naming who.
int give(elf_state* state, elf_object** result, elf_object* list, const char* who);

// The engine's table of formats, read once and kept in the context's variables under
// "FileFormats:"; null when it cannot be had (status set on the context with method's name).
KVngFileFormats* file_formats(elf_state* context, const char* method);

// The format the engine identifies a file as, by the procedure that reads it; 0 for none.
int32_t reader_format(const char* filename, const KVngFileFormats* table);
// The format the engine would write a file name as, by its extension; 0 for none.
int32_t writer_format(const char* filename, const KVngFileFormats* table);

}  // namespace dio

#endif
