#ifndef DIO_H
#define DIO_H

// Document I/O: the document format codes, the reader, writer and page-filer object types with
// the slots through which format back ends are driven, the interpreter methods that create and
// serve them, and the utilities the back ends share.
//
// Methods take the interpreter's method form (target, argument LIST, place for the result LIST)
// and return an interpreter status; MakeDocReader, MakeDocWriter and PDFDecompose take the
// interpreter state (the context) as their target, the others the object they serve.

#include <stddef.h>
#include <stdint.h>

#include "kvext.h"
#include "kvng.h"
#include "mono_export.h"
#include "qelinterp.h"

/* Document formats (DIOFormat). */
enum {
  DIO_FORMAT_DEFAULT = 0,
  DIO_FORMAT_JFIF = 1,
  DIO_FORMAT_TIFF = 2,
  DIO_FORMAT_PDF = 3,
  DIO_FORMAT_TIFFFX = 4,
  DIO_FORMAT_BMP = 5,
  DIO_FORMAT_XPS = 6,
  DIO_FORMAT_GIF = 7,
  DIO_FORMAT_PNG = 8,
  DIO_FORMAT_PNM = 9,
};

/* Document subtypes (DIOSubFormat), kept in the objects' version field. */
enum {
  DIO_SUBFORMAT_NONE = 1,
  DIO_SUBFORMAT_TIFF_V6 = 2,
  DIO_SUBFORMAT_TIFF_TN2 = 3,
  DIO_SUBFORMAT_PROFILE_S = 4,
  DIO_SUBFORMAT_PROFILE_F = 5,
  DIO_SUBFORMAT_PROFILE_C = 6,
  DIO_SUBFORMAT_PDF_13 = 7,
  DIO_SUBFORMAT_PDF_14 = 8,
  DIO_SUBFORMAT_PDF_17 = 9,
};

/* Buffer size for the printed names of formats and subtypes. */
enum { DIO_FORMAT_NAME_MAX = 16 };

/* The format of a name ("jpg", "TIFF" ...), compared without regard to case; 0 for an unknown
   name or none. */
MONO_API int32_t StringToFormatType(const char* name);
/* Writes the printed name of a format ("PDF", "unknown" ...) into buffer, which holds at least
   9 bytes. */
MONO_API void FormatTypeToString(int32_t format, char* buffer);
/* The subtype of a name ("v1.4", "profileS" ...), compared without regard to case; 1 for any
   other name or none. */
MONO_API int32_t StringToSubFormatType(const char* name);

/* Back-end slots of a reader: called by the reader's methods and its free operation. */
typedef struct DocReaderFormatFns {
  void (*Release)(elf_object* reader);
  int (*ReadGetPage)(elf_state* state, void* backend, int32_t page, elf_object** image);
  int (*ReadGetChecksum)(elf_state* state, void* backend, int32_t* sum);
  int (*ReadGetPageCount)(elf_state* state, void* backend, int32_t* count);
} DocReaderFormatFns;

/* Back-end slots of a writer. */
typedef struct DocWriterFormatFns {
  void (*Release)(elf_object* writer);
  int (*InsertPage)(void* backend, elf_object* image, int32_t* count);
  int (*AppendPage)(void* backend, elf_object* image, int32_t* count);
  int (*SetAttributes)(void* backend, elf_object* attributes);
} DocWriterFormatFns;

enum { DOCREADER_MEMBERS = 7, DOCWRITER_MEMBERS = 13 };

/* An open document whose pages are read. */
typedef struct elf_DOCUMENTREADER {
  elf_object hdr;
  int32_t testfile;
  int32_t pagecnt;           /* -1 while the back end has not been asked */
  int32_t version;           /* DIOSubFormat, 0 unless the back end stores one */
  int32_t format;            /* DIOFormat */
  char* filename;            /* owned */
  void* backend;             /* the back end's state, released through fns.Release */
  elf_object* members[DOCREADER_MEMBERS];
  DocReaderFormatFns fns;
} elf_DOCUMENTREADER;

/* A document being written page by page. */
typedef struct elf_DOCUMENTWRITER {
  elf_object hdr;
  int32_t testfile;
  int32_t pagecnt;           /* pages written */
  int32_t version;
  int32_t format;
  char* filename;
  void* backend;
  elf_object* members[DOCWRITER_MEMBERS];
  elf_object* attributes;    /* LIST of named attributes (setAttr), held, or null */
  elf_object* transspecs;    /* LIST of TRANSFORMSPEC the back end accepts, held, or null */
  DocWriterFormatFns fns;
} elf_DOCUMENTWRITER;

/* The document fields alone: no members, no back end. */
typedef struct elf_PAGEFILER {
  elf_object hdr;
  int32_t testfile;
  int32_t pagecnt;
  int32_t version;
  int32_t format;
  char* filename;
} elf_PAGEFILER;

/* The record behind an object of the type, or null. */
MONO_API elf_DOCUMENTREADER* dioReader(elf_object* obj);
MONO_API elf_DOCUMENTWRITER* dioWriter(elf_object* obj);
MONO_API elf_PAGEFILER* dioPageFiler(elf_object* obj);

/* The twelve operations of each type. A type's new_ creates, when given no state, a state from
   "pagefiler.ucm", which the caller frees (freeState) after the last object made in it. */
#define DIO_DECLARE_TYPE(X)                                                               \
  MONO_API elf_object* new_##X(elf_state* state, void* unused, elf_object* args);         \
  MONO_API elf_object* get_##X(elf_state* state, elf_object* obj, const char* name);      \
  MONO_API int set_##X(elf_state* state, elf_object* obj, const char* name, elf_object* value); \
  MONO_API void free_##X(elf_object* obj);                                                \
  MONO_API elf_object* read_##X(elf_state* state, int fd);                                \
  MONO_API int write_##X(elf_object* obj, int fd, const char* indent);                    \
  MONO_API elf_object* copy_##X(elf_object* obj);                                         \
  MONO_API void refs_##X(elf_object* obj, int fd, const char* indent);                    \
  MONO_API void resetELF_##X(elf_object* obj, elf_state* state);                          \
  MONO_API int empty_##X(elf_object* obj);                                                \
  MONO_API int cycle_##X(elf_object* obj, elf_object* other);                             \
  MONO_API int equal_##X(elf_object* obj, elf_object* other);

DIO_DECLARE_TYPE(DOCUMENTREADER)
DIO_DECLARE_TYPE(DOCUMENTWRITER)
DIO_DECLARE_TYPE(PAGEFILER)

#include "dio_transform.h"

/* Interpreter methods. */
MONO_API int MakeDocReader(void* context, elf_object* args, elf_object** result);
MONO_API int MakeDocWriter(void* context, elf_object* args, elf_object** result);
MONO_API int DocQuery(void* reader, elf_object* args, elf_object** result);
MONO_API int DocReadChecksum(void* reader, elf_object* args, elf_object** result);
MONO_API int PDFDecompose(void* context, elf_object* args, elf_object** result);
MONO_API int DocReadMethods(void* reader, elf_object* args, elf_object** result);
MONO_API int DocWriteMethods(void* writer, elf_object* args, elf_object** result);

/* The release callback of the format table kept in the context (key "FileFormats:"). */
MONO_API void __DIO_releaseFileFormats(elf_object* pointer);

/* ---- Utilities the back ends share ---- */

/* name with "-<page>" before its extension when page is above 0, and defaultExt when name has
   no extension: "out/scan.tif", 3 gives "out/scan-3.tif". A new string (elfMalloc), or null. */
MONO_API char* __DIO_makeFullName(const char* name, int32_t page, const char* defaultExt);
MONO_API void __DIO_releaseFullName(char* name);

/* The running CRC-32 register over length bytes, without inversions at either end (the usual
   CRC-32 is ~__DIO_calculateChecksum(~0, ...)). A length of 0 returns crc. */
MONO_API uint32_t __DIO_calculateChecksum(uint32_t crc, const void* buffer, int32_t length);
/* The register over the whole stream from its start: 0 to 0xFFFFFFFF, or -1 when the stream
   cannot be read. */
MONO_API int64_t __DIO_unfilteredChecksum(KVngIO* stream);
/* Clears, in a block of a byte stream, what follows each occurrence of marker up to the next
   stop byte. carried is what *carry received for the previous block (0 for the first), so a
   marker or a cleared run that straddles blocks is treated as if the stream were one block. */
MONO_API void __DIO_clearBytes(uint8_t* block, int32_t length, const char* marker, int32_t carried, int32_t* carry,
                               uint8_t stop);

/* 0 when path is a directory or has been made one (mode 0775), -1 when it exists as a file or
   cannot be made (reported through state). */
MONO_API int Dir_Ensure(SState* state, const char* path);
/* Entries of a directory, "." and ".." included, or -1 when it cannot be opened. */
MONO_API int32_t Dir_Size(SState* state, const char* path);
/* A copy (SState_StrDup) of the name of entry index in reading order, or null. */
MONO_API char* Dir_Entry(SState* state, const char* path, int32_t index);

#endif
