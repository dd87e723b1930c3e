#ifndef ZZIP_H
#define ZZIP_H

// Zip archives (PKWARE's APPNOTE): read into a list of records, one per structure met in the
// file, each carrying its own operations to free, show, read, write and extract it; written back
// record by record, listed and dumped, and extracted to memory or to files.
//
// Memory, messages and byte sources are the imaging engine's string state (sstate.h). A failure
// is reported on the state and ends the operation through its error exit (SState_Err); nothing
// jumps, so the function that took it returns at once with -1 (or null) and so does every caller
// up to the ZZip_ entry point. SState_Failed tells a failure from an empty answer.

#include <stdint.h>
#include <stdio.h>

#include "mono_export.h"
#include "sstate.h"

/* Signatures of the structures (little-endian in the file). */
enum {
  ZZIP_SIG_LOCAL_FILE_HDR = 0x04034b50,
  ZZIP_SIG_CDIR_FILE_HDR = 0x02014b50,
  ZZIP_SIG_CDIR_END_REC = 0x06054b50,
  ZZIP_SIG_CDIR_END_REC64 = 0x06064b50,
  ZZIP_SIG_CDIR_END_LOC64 = 0x07064b50,
  ZZIP_SIG_ARCH_EXTRA_DATA = 0x08064b50,
  ZZIP_SIG_DIGITAL_SIG = 0x05054b50,
};

/* General purpose flag: sizes and CRC follow the data in a data descriptor. */
#define ZZIP_FLAG_DATA_DESCRIPTOR 0x0008u

typedef struct ZZipArchive ZZipArchive;
typedef struct ZZipRecord ZZipRecord;

/* The head every kind of record begins with. Read reads the fields after the signature with the
   source standing just after it; Write writes signature, fields and variable parts to the
   archive's output stream; Show prints the record at a level (1: a line per local header, 2 and
   above: every field); Free releases the variable parts and the record. Extract of a local
   header gives its data (see ZZip_Extract); the other kinds do nothing and give null. */
struct ZZipRecord {
  ZZipArchive* archive;
  int64_t at; /* source position just after the signature */
  uint32_t signature;
  int (*Free)(ZZipRecord* record);
  int (*Show)(ZZipRecord* record, FILE* stream, int level);
  int (*Read)(ZZipRecord* record);
  int (*Write)(ZZipRecord* record);
  BufUChar* (*Extract)(ZZipRecord* record, const char* name);
  ZZipRecord* next;
};

/* The archive: allocated zeroed from the string state. */
struct ZZipArchive {
  SState* state;
  char* fileName;
  char* baseName; /* the file name without the extension of its last component; null without one */
  ByteSrc* source;
  FILE* out; /* where ZZip_Write writes; set by the caller, closed by ZZip_Free */
  ZZipRecord* first;
  ZZipRecord* last;
};

/* Variable parts (names, extra fields, comments, data) are zeroed allocations one byte longer
   than their length, so they are NUL-terminated texts as well. Eight-byte values are held as
   doubles, exact below 2^53. */

typedef struct LocalFileHdr {
  ZZipRecord head;
  uint16_t versionNeeded;
  uint16_t flags;
  uint16_t compression; /* 0 stored, 8 deflated */
  uint16_t modTime;
  uint16_t modDate;
  uint32_t crc;
  uint32_t compressedSize;
  uint32_t uncompressedSize;
  uint16_t fileNameLen;
  uint16_t extraFieldLen;
  char* fileName;
  char* extraField;
  int64_t dataLoc;   /* source position of the file data */
  BufUChar* data;    /* the file data as stored, once loaded for writing */
  /* The sizes in effect: the fields, or a ZIP64 extra field's values where a field holds
     0xFFFFFFFF; after a read through the central directory, its values. */
  uint64_t dataSize;
  uint64_t fullSize;
} LocalFileHdr;

typedef struct CDirFileHdr {
  ZZipRecord head;
  uint16_t versionMadeBy;
  uint16_t versionNeeded;
  uint16_t flags;
  uint16_t compression;
  uint16_t modTime;
  uint16_t modDate;
  uint32_t crc;
  uint32_t compressedSize;
  uint32_t uncompressedSize;
  uint16_t fileNameLen;
  uint16_t extraFieldLen;
  uint16_t commentLen;
  uint16_t cDirStartDisk;
  uint16_t intFileAttr;
  uint32_t extFileAttr;
  uint32_t localHdrOffset;
  char* fileName;
  char* extraField;
  char* comment;
  /* In effect, ZIP64 extra field applied. */
  uint64_t dataSize;
  uint64_t fullSize;
  uint64_t localHdrPos;
} CDirFileHdr;

typedef struct CDirEndRec {
  ZZipRecord head;
  uint16_t diskNumber;
  uint16_t cDirStartDisk;
  uint16_t cDirEntriesThisDisk;
  uint16_t cDirEntriesTotal;
  uint32_t cDirSize;
  uint32_t cDirStartOffset;
  uint16_t commentLen;
  char* comment;
} CDirEndRec;

typedef struct CDirEndRec64 {
  ZZipRecord head;
  double size; /* of the record after this field */
  uint16_t versionMadeBy;
  uint16_t versionNeeded;
  uint32_t diskNumber;
  uint32_t cDirStartDisk;
  double cDirEntriesThisDisk;
  double cDirEntriesTotal;
  double cDirSize;
  double cDirStartOffset;
  uint64_t extensibleDataSz; /* size - 44, none when that is not positive */
  char* extensibleData;
} CDirEndRec64;

typedef struct CDirEndLoc64 {
  ZZipRecord head;
  uint32_t cDirEndRec64Disk;
  double cDirEndRec64Offset;
  uint32_t disksTotal;
} CDirEndLoc64;

typedef struct ArchExtraData {
  ZZipRecord head;
  uint32_t extraFieldLen;
  char* extraField;
} ArchExtraData;

typedef struct DigitalSig {
  ZZipRecord head;
  uint16_t size;
  char* data;
} DigitalSig;

/* Reads a whole archive: a new archive record, or null after the error exit (nothing is left
   allocated). When every local header carries its sizes the file is walked once and the list
   holds every structure in file order; otherwise the central directory is read and the list
   holds the local headers, in its order, with its CRC, sizes and names. */
MONO_API ZZipArchive* ZZip_Read(SState* state, const char* fileName);
/* Reads up to count records from the source's position onto the list: 1; 0 when it stopped
   after a local header whose sizes follow its data; -1 after the error exit. */
MONO_API int ZZip_ReadStreaming(ZZipArchive* zip, int32_t count);

/* Little-endian values from the source; 0 after the error exit. */
MONO_API uint32_t ZZip_Rd2(ZZipArchive* zip);
MONO_API uint32_t ZZip_Rd4(ZZipArchive* zip);
MONO_API double ZZip_Rd8(ZZipArchive* zip);
/* Writes an eight-byte value (a whole number from 0 to 2^64) to the output stream. */
MONO_API int ZZip_Wt8(ZZipArchive* zip, double value);

/* Writes every record in list order to the output stream: 0, or -1 when there is no stream or
   it could not be written. A null archive gives 0. */
MONO_API int ZZip_Write(ZZipArchive* zip);
/* "\nZipFile: <name>\n", at level 1 a column header, then every record at the level. */
MONO_API int ZZip_Show(ZZipArchive* zip, FILE* stream, int level);
/* With a name (one leading '/' skipped; ASCII case ignored; the whole name compared): the data of
   the first local header of that name, a new buffer the caller frees with BufUChar_Free, or null
   when there is none. Without a name: every entry written to a file under the base name (or
   the current directory without one), directories made as needed, never through a symbolic
   link; the files take their names only when every entry is whole, and a failure leaves no file
   or folder of the extraction behind. Entries inflate in bounded chunks under per-entry and
   per-archive budgets. A failure (damaged data, CRC or size mismatch, a budget passed, an entry
   that would land outside the target) gives null after the error exit. */
MONO_API BufUChar* ZZip_Extract(ZZipArchive* zip, const char* name);
/* Streams the first entry of that name (as ZZip_Extract finds it) to write in bounded chunks,
   checking its size and CRC as it goes; write gives 0 or an errno value, and target names where
   the bytes go for messages. 0 when the entry is written whole, 1 when there is none, -1 after
   the error exit (damaged data, a mismatch, a budget passed, a write that failed). */
MONO_API int ZZip_ExtractTo(ZZipArchive* zip, const char* name, int (*write)(void* context, const void* data, size_t size),
                            void* context, const char* target);
/* Frees every record, closes the source and the output stream; a null archive gives 0. */
MONO_API int ZZip_Free(ZZipArchive* zip);

/* The operations of each kind, as the records carry them. */
MONO_API int ZZip_LocalFileHdr_Free(ZZipRecord* record);
MONO_API int ZZip_LocalFileHdr_Show(ZZipRecord* record, FILE* stream, int level);
MONO_API int ZZip_LocalFileHdr_Read(ZZipRecord* record);
MONO_API int ZZip_LocalFileHdr_Write(ZZipRecord* record);
MONO_API BufUChar* ZZip_LocalFileHdr_Extract(ZZipRecord* record, const char* name);
MONO_API int ZZip_CDirFileHdr_Free(ZZipRecord* record);
MONO_API int ZZip_CDirFileHdr_Show(ZZipRecord* record, FILE* stream, int level);
MONO_API int ZZip_CDirFileHdr_Read(ZZipRecord* record);
MONO_API int ZZip_CDirFileHdr_Write(ZZipRecord* record);
MONO_API int ZZip_CDirEndRec_Free(ZZipRecord* record);
MONO_API int ZZip_CDirEndRec_Show(ZZipRecord* record, FILE* stream, int level);
MONO_API int ZZip_CDirEndRec_Read(ZZipRecord* record);
MONO_API int ZZip_CDirEndRec_Write(ZZipRecord* record);
MONO_API int ZZip_CDirEndRec64_Free(ZZipRecord* record);
MONO_API int ZZip_CDirEndRec64_Show(ZZipRecord* record, FILE* stream, int level);
MONO_API int ZZip_CDirEndRec64_Read(ZZipRecord* record);
MONO_API int ZZip_CDirEndRec64_Write(ZZipRecord* record);
MONO_API int ZZip_CDirEndLoc64_Free(ZZipRecord* record);
MONO_API int ZZip_CDirEndLoc64_Show(ZZipRecord* record, FILE* stream, int level);
MONO_API int ZZip_CDirEndLoc64_Read(ZZipRecord* record);
MONO_API int ZZip_CDirEndLoc64_Write(ZZipRecord* record);
MONO_API int ZZip_ArchExtraData_Free(ZZipRecord* record);
MONO_API int ZZip_ArchExtraData_Show(ZZipRecord* record, FILE* stream, int level);
MONO_API int ZZip_ArchExtraData_Read(ZZipRecord* record);
MONO_API int ZZip_ArchExtraData_Write(ZZipRecord* record);
MONO_API int ZZip_DigitalSig_Free(ZZipRecord* record);
MONO_API int ZZip_DigitalSig_Show(ZZipRecord* record, FILE* stream, int level);
MONO_API int ZZip_DigitalSig_Read(ZZipRecord* record);
MONO_API int ZZip_DigitalSig_Write(ZZipRecord* record);
MONO_API BufUChar* ZZip_Default_Extract(ZZipRecord* record, const char* name);

#endif
