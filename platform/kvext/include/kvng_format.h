#ifndef KVNG_FORMAT_H
#define KVNG_FORMAT_H

// The imaging engine's file-format registry: which formats it knows, how a file is identified
// (by its signature bytes) and which engine procedures read and write each format (a writer is
// chosen by the file name's extension, the file not existing yet).
//
// Formats: PDF; XPS and OpenXPS packages (zip archives whose package relationships name a fixed
// representation); other zip archives (known, but no procedure reads or writes them); TIFF
// (classic and BigTIFF, either byte order); JPEG; PNG; GIF; BMP; PNM (PBM, PGM, PPM plain and
// raw, and PAM). Procedure names are "read" or "write" followed by the format's short name
// ("readtif", "writejpg"); "none" where no procedure exists.

#include <stddef.h>
#include <stdint.h>

#include "mono_export.h"

/* One format the engine knows. */
typedef struct KVngFormatEntry {
  const char* name;        /* "PDF", "XPS", "TIFF" ... */
  const char* mimeType;    /* the registered media type */
  const char* container;   /* media type of the container the format is packed in, or null */
  const char* reader;      /* procedure name, or "none" */
  const char* writer;      /* procedure name, or "none" */
  const char* extensions;  /* file name extensions that select the writer, comma-separated */
} KVngFormatEntry;

/* The table of formats, made by KVngReadFileFormats and released through its own function. */
typedef struct KVngFileFormats {
  int32_t count;
  const KVngFormatEntry* formats;
  void (*release)(struct KVngFileFormats* table);
} KVngFileFormats;

/* What identification found; released through its own function. */
typedef struct KVngFileFormatInfo {
  const KVngFormatEntry* format;
  const char* mimeType;    /* the format's, or the kind's where a format has several (PNM) */
  const char* container;   /* as the format's */
  const char* reader;      /* as the format's */
  void (*release)(struct KVngFileFormatInfo* info);
} KVngFileFormatInfo;

/* Makes the table of formats into *table; returns 1, or 0 when memory runs out. */
MONO_API int KVngReadFileFormats(KVngFileFormats** table);

/* Identifies a file by its content: the format information, or null when the file cannot be
   read or matches no signature of the table. */
MONO_API KVngFileFormatInfo* KVngGetFileFormatInfo(const char* filename, const KVngFileFormats* table);
/* The same for bytes in memory. */
MONO_API KVngFileFormatInfo* KVngGetFileFormatFromBuf(const void* data, size_t size, const KVngFileFormats* table);

/* The procedure that writes the format selected by the file name's extension (compared without
   regard to case): returns 1 and a new copy of its name in *writer (the shared heap, _elfFree),
   or 0 with *writer null when no format of the table with a writer has that extension. */
MONO_API int KVngGetFileFormatWriter(const KVngFileFormats* table, const char* filename, char** writer);

#endif
