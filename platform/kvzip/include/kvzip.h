#ifndef KVZIP_H
#define KVZIP_H

// The imaging engine's zip reader (KVngZip*) over libzip, and the two streams its callers
// extract into: one appending to a stream buffer, one filling a fixed block of memory.
//
// The archive is read through an engine byte stream that the caller keeps open until the zip
// handle is closed. Entries are inflated only through KVngZipExtractIO, which refuses an entry
// whose declared size exceeds KVNG_ZIP_MAX_INFLATED and stops an entry that inflates past its
// declared size: a few kilobytes of deflate data cannot make the reader write gigabytes.
// Results: 1 success, 0 a failed resource or library call, -1 a missing argument or bad input.

#include <stdint.h>

#include "kvng_io.h"
#include "kvng_sb.h"
#include "mono_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The largest entry that is inflated: well above any page part or image a document device
   prints, and far below what would exhaust its memory. */
#define KVNG_ZIP_MAX_INFLATED ((int64_t)256 * 1024 * 1024)
/* Directories with more entries than this are refused rather than walked. */
#define KVNG_ZIP_MAX_ENTRIES 1000000

typedef struct KVngZip KVngZip;
typedef struct KVngZipEntry KVngZipEntry;

/* Makes a zip handle over stream (borrowed) into *zip; flags is reserved (0); mode "r..." or
   "w...". The directory is read by KVngZipReadCentralDirectory; a handle whose directory was
   never read has no entries (this reader writes none). */
MONO_API int KVngZipOpen(KVngZip** zip, KVngIO* stream, int flags, const char* mode);
/* Reads and checks the central directory; 1, or 0 for an archive libzip refuses (reported). */
MONO_API int KVngZipReadCentralDirectory(KVngZip* zip);
/* Entries of the directory, or -1 when no directory has been read. */
MONO_API int32_t KVngZipGetEntryCount(KVngZip* zip);
/* Entry index (borrowed from the handle) into *entry; 1, or -1 out of range. */
MONO_API int KVngZipGetEntry(KVngZip* zip, int32_t index, KVngZipEntry** entry);
/* The entry's name as stored (UTF-8), borrowed; null for no entry. */
MONO_API const char* KVngZipEntryGetFileName(const KVngZipEntry* entry);
/* The entry's declared inflated size; 1, or -1 for no entry. */
MONO_API int KVngZipEntryGetFileSize(const KVngZipEntry* entry, int64_t* size);
/* Inflates the entry and writes it to out; 1, 0 when the data is damaged or out fails, -1 for
   an entry larger than KVNG_ZIP_MAX_INFLATED or one that inflates past its declared size. */
MONO_API int KVngZipExtractIO(KVngZip* zip, const KVngZipEntry* entry, KVngIO* out);
/* Frees the handle and its entries; the stream stays the caller's. flags is reserved (0). */
MONO_API void KVngZipClose(KVngZip* zip, int flags);

/* A string buffer of the engine's growing kind: a KVngSB made with room for initial bytes
   (a hint); mode is reserved (1). */
MONO_API KVngSB* KVngSBInit(int mode, size_t initial);
/* A stream that appends what is written to sb (borrowed) and reads from its position. */
MONO_API KVngIO* KVngIO_SB(KVngSB* sb);
/* A stream that writes into size bytes at buffer (borrowed); writing past them fails. */
MONO_API KVngIO* KVngIO_Buffer(void* buffer, int64_t size);

#ifdef __cplusplus
}
#endif

#endif
