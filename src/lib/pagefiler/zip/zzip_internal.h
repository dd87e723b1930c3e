#ifndef ZZIP_INTERNAL_H
#define ZZIP_INTERNAL_H

// What the zip files share and do not export: reading with bounds, writing fields, the kinds'
// table and the ZIP64 extended information field.

#include <cstddef>
#include <cstdint>

#include "zzip.h"

// Reports on the archive's state and takes its error exit; the value is -1.
#define ZZIP_FAIL(zip, ...) \
  (SState_ErrPrintf((zip)->state, __VA_ARGS__), SState_Err((zip)->state, __FILE__, __LINE__, -1))

namespace zzip {

// 0 when the source holds count more bytes; otherwise reported, and -1 after the error exit.
int need(ZZipArchive* zip, uint64_t count);
// Reads a variable part of length bytes into a new zeroed block one byte longer; 0 or -1.
int read_part(ZZipArchive* zip, uint64_t length, char** part);

void put2(FILE* out, uint32_t value);
void put4(FILE* out, uint32_t value);
void put_bytes(FILE* out, const void* bytes, uint64_t length);

// A zeroed record of the kind the signature names, its operations and archive set, not yet
// read; null after the error exit for an unknown signature or no memory.
ZZipRecord* make_record(ZZipArchive* zip, uint32_t signature, int64_t at);

// Up to max values of the ZIP64 extended information field (header 0x0001) of an extra field,
// in the order they are stored; the count found.
int zip64_values(const char* extra, uint16_t length, uint64_t* values, int max);

// The file data as stored, read from the data location into a new buffer; null after the
// error exit.
BufUChar* load_data(LocalFileHdr* header);

// Shows a record on the state's verbose messages (for the walk's traces at level 2).
void show_on_state(ZZipRecord* record);

}  // namespace zzip

#endif
