#ifndef SSTATE_H
#define SSTATE_H

// The imaging engine's string state and what lives on it: messages with a level, an error
// record, memory and strings on the shared heap; byte sources over files; byte buffers with
// deflate and inflate.
//
// Error exit: SState_Err records the failure (source, line, code) in the state and returns the
// code; a function that calls it returns at once, and its callers check SState_Failed. Nothing
// jumps.

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "mono_export.h"

enum { SSTATE_ERR = 0, SSTATE_INF = 1, SSTATE_VER = 2 };

/* Receives one formatted message and its kind (SSTATE_*). */
typedef void (*SStatePrintProc)(void* data, int kind, const char* text);

typedef struct SState {
  int level;               /* 0 errors only (the default), 1 also information, 2 also verbose */
  int failed;              /* failures recorded by SState_Err */
  int errorCode;           /* the last one's code, source and line */
  const char* errorFile;
  int errorLine;
  SStatePrintProc print;   /* null: the engine's printers (kvng_print.h) */
  void* printData;
} SState;

/* A state with level 0 and the engine's printers, or null. */
MONO_API SState* SState_NewStateDefault(void);
MONO_API void SState_FreeState(SState* state);

/* Messages by level: errors always, information from level 1, verbose notes from level 2. */
MONO_API void SState_ErrPrintf(SState* state, const char* format, ...) __attribute__((format(printf, 2, 3)));
MONO_API void SState_InfPrintf(SState* state, const char* format, ...) __attribute__((format(printf, 2, 3)));
MONO_API void SState_VerPrintf(SState* state, const char* format, ...) __attribute__((format(printf, 2, 3)));
/* Records a failure and returns code. */
MONO_API int SState_Err(SState* state, const char* file, int line, int code);
/* Whether a failure has been recorded. */
MONO_API int SState_Failed(const SState* state);

/* Zero-filled memory on the shared heap, or null (reported). */
MONO_API void* SState_Calloc(SState* state, size_t count, size_t size);
MONO_API void SState_Free(SState* state, void* block);
/* A copy of text, or null (reported; also for null text). */
MONO_API char* SState_StrDup(SState* state, const char* text);
/* The texts joined, up to the null that ends the list, or null (reported). */
MONO_API char* SState_StrsDup(SState* state, const char* first, ...) __attribute__((sentinel));
/* A file opened for writing ("wb"), or null (reported). */
MONO_API FILE* SState_OpenOut(SState* state, const char* path);

/* A byte source over a whole file. */
typedef struct ByteSrc ByteSrc;
/* Null when the file cannot be opened (not reported: the caller says what it needed). */
MONO_API ByteSrc* ByteSrc_NewFromFile(SState* state, const char* path);
MONO_API int64_t ByteSrc_GetPosition(const ByteSrc* src);
/* 0, or -1 for a position outside 0 to the size. */
MONO_API int ByteSrc_SetPosition(ByteSrc* src, int64_t position);
MONO_API int64_t ByteSrc_GetSize(const ByteSrc* src);
/* 1 at the end of the source (also for no source), else 0. */
MONO_API int ByteSrc_EndOf(const ByteSrc* src);
/* The next byte, or -1 at the end or on a read error. */
MONO_API int ByteSrc_Read(ByteSrc* src);
/* Reads up to count bytes; the number read. */
MONO_API size_t ByteSrc_ReadBlock(ByteSrc* src, void* buffer, size_t count);
MONO_API void ByteSrc_Close(ByteSrc* src);

/* A byte buffer on the shared heap. */
typedef struct BufUChar {
  SState* state;
  size_t length;           /* bytes in use */
  size_t capacity;         /* bytes allocated */
  unsigned char* data;
} BufUChar;

/* A zero-filled buffer of length bytes, or null (reported). */
MONO_API BufUChar* BufUChar_New(SState* state, size_t length);
/* Makes room for length bytes, keeping the data; 0, or -1 (reported). */
MONO_API int BufUChar_Check(BufUChar* buffer, size_t length);
/* Writes the buffer's bytes to a stream; 0, or -1. */
MONO_API int BufUChar_WriteStm(const BufUChar* buffer, FILE* stream);
MONO_API void BufUChar_Free(BufUChar* buffer);

/* Deflates a buffer into zlib format (RFC 1950): a new buffer, or null (reported). */
MONO_API BufUChar* BufUCharZ_Deflate(const BufUChar* in);
/* Inflates zlib format, or raw deflate data as zip archives hold it (InflateZip): a new buffer,
   or null (reported) for data that is damaged, ends early, or would inflate to more than limit
   bytes. */
MONO_API BufUChar* BufUCharZ_Inflate(const BufUChar* in, size_t limit);
MONO_API BufUChar* BufUCharZ_InflateZip(const BufUChar* in, size_t limit);

/* Compares at most n characters without regard to ASCII case; <0, 0 or >0 as strncmp. */
MONO_API int Util_StrCmpLCaseN(const char* a, const char* b, size_t n);
/* Closes a stream that may be null; 0, or EOF when the last data could not be written. */
MONO_API int Util_StmClose(FILE* stream);

#endif
