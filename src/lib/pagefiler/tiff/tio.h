#ifndef TIO_H
#define TIO_H

// The TIFF and TIFF-FX back end: the state shared by its writer and reader, the records of the
// document, page and strips, the file key and connectors through which the TIFF-FX bridge reaches
// the file, the bridge instance, and the code mappings between the interpreter's image
// description and the bridge's colour types, colour spaces and codings.

#include <stdint.h>
#include <stdio.h>

#include "dio.h"
#include "tfxbridge.h"

/* An open file and the position the connectors keep. */
typedef struct SioFileKey {
  FILE* file;
  int32_t position;
  int32_t reserved[2];
  /* A write key's temporary file, moved over the file's name by __sioCommitFileKey; releasing
     the key without it leaves the name as it was. */
  struct SafeOut* output;
  int32_t writeError;   /* errno of the first write that failed, 0 while none */
} SioFileKey;

/* One strip of a page, in a list. */
typedef struct SioStrip {
  struct SioStrip* next;
  int32_t firstRow;
  int32_t firstRowAgain;
  int32_t rowCount;
  void* data;           /* writing: a copy (engine heap); reading: the bridge's, until TFX_StripFree */
  int32_t size;         /* bytes */
  uint32_t compression; /* bridge coding; filled by the reader, and by the writer for the bridge */
  int32_t colorSpace;
} SioStrip;

typedef struct TIODocument {
  TFX_Document* handle;
  SioFileKey* key;
  int32_t profile;      /* creation profile code */
  uint8_t option;       /* always 0 */
  int32_t readProfile;  /* the profile a read file names */
} TIODocument;

/* The page being written or read. Writing keeps only the page and image handles. */
typedef struct TIOPage {
  TIODocument* document;
  int32_t imageIndex;          /* from 1; 0 while not chosen */
  const uint8_t* imageFlags;
  int32_t imageCount;
  TFX_Page* pageHandle;
  SioStrip strip;              /* the first strip */
  uint32_t xres;
  uint32_t yres;
  uint32_t width;
  uint32_t height;
  uint32_t rowsPerStrip;
  int32_t colorType;
  TFX_Image* imageHandle;
} TIOPage;

enum { TIO_SIZE_TAG = 60, TIO_MAGIC = 0xBCBF };

/* The back end's state: a writer's (TIFFWriteInit) or a reader's (TIFFReadInit). */
typedef struct TIOState {
  uint32_t sizeTag;
  uint32_t magic;
  char* fileName;       /* interpreter heap */
  int32_t status;       /* what an open failure reported */
  int32_t format;       /* DIO_FORMAT_TIFF or DIO_FORMAT_TIFFFX */
  int32_t subtype;
  int32_t multiPage;    /* 1: one file holds every page; 0: a file per page */
  int32_t reading;
  void* instance;
  int32_t pageCount;
  TIODocument* document;
  TIOPage* page;
  int32_t pageIndex;    /* reading: the page being read, from 0 */
  TFX_Image* image;     /* reading: that page's image */
  KVngIO* checksum;
} TIOState;

/* Results of the back end's inner steps. */
enum {
  TIO_OK = 0,
  TIO_NO_MEMORY = 1,
  TIO_MODE_UNSUPPORTED = 10,
  TIO_NOTHING = 12,       /* the document is open already, or there is nothing to read */
  TIO_READ_FAILED = 2000,
  TIO_WRITE_FAILED = 2001,
};

/* Creation profile codes of the bridge by format and subtype. */
enum { TIO_PROFILE_TIFF = 14, TIO_PROFILE_S = 1, TIO_PROFILE_F = 2, TIO_PROFILE_C = 4, TIO_PROFILE_NONE = 0 };

#ifdef __cplusplus
extern "C" {
#endif

/* ---- File keys and connectors ---- */

/* A key over the file opened for reading ("rb") or writing ("w+b", created or emptied): 0, or 2000 / 2001 with a
   null key when the file cannot be opened. */
MONO_API int32_t __sioCreateReadFileKey(const char* fileName, SioFileKey** key);
MONO_API int32_t __sioCreateWriteFileKey(const char* fileName, SioFileKey** key);
/* Closes the file and frees the key; null is ignored. Returns 0. */
MONO_API int32_t __sioReleaseFileKey(SioFileKey* key);
/* Closes a write key's file (checked), moves it over its name and frees the key; TIO_OK, or
   TIO_WRITE_FAILED with the reason (naming the file) in message. */
MONO_API int32_t __sioCommitFileKey(SioFileKey* key, char* message, size_t size);

MONO_API int32_t __sioCnctRead(void* key, void* buffer, int32_t count);
MONO_API int32_t __sioCnctWrite(void* key, const void* buffer, int32_t count);
MONO_API int32_t __sioCnctSeek(void* key, int32_t offset);
MONO_API int32_t __sioCnctSize(void* key);
MONO_API int32_t __sioCnctTell(void* key);

/* ---- The bridge instance, made on first use and kept ---- */

MONO_API int32_t __initMIOHandle(void** handle);
MONO_API void* __freeMIOHandle(void** handle);
/* The instance itself, null until __initMIOHandle has made it. */
MONO_API void* __tioInstance(void);

/* ---- Code mappings ---- */

/* The bridge colour type of a layer description (QELHDR): 1, 3, 7, or 0. */
MONO_API int32_t __ioCTypeFromQEL(elf_object* header);
/* The bridge colour space of a photometry code. */
MONO_API int32_t __ioCSpaceFromQEL(int32_t photometry);
/* The bridge coding of an engine compression code; predictor selects LZW with differencing. */
MONO_API uint32_t __ioCompressFromQEL(int32_t compression, int32_t predictor);
/* The photometry code of a colour type and colour space. */
MONO_API int32_t __photoFromIOColortype(int32_t colorType, int32_t colorSpace);
/* The engine compression code of a bridge coding (-1 for none), and whether it has the
   predictor bit. */
MONO_API int32_t __compressFromIOCompression(uint32_t coding, int32_t* predictor);

/* ---- Writing (the slots are in dio_backends.h) ---- */

MONO_API int __TIFF_OpenDocumentWrite(TIOState* state);
MONO_API int __TIFF_CloseDocumentWrite(TIOState* state);
/* Writes one page in mode 0; modes 1 and 2 are not supported (10). */
MONO_API int __singlePageMgr(TIOState* state, elf_object* image, int mode);
MONO_API int __TIFF_CompressWrite(TIOState* state, elf_object* image);
MONO_API int __TIFF_UncompressWrite(TIOState* state, elf_object* image);

/* ---- Reading ---- */

/* A reader state, also when the open failed (its status stored and reported), or null. */
MONO_API void* TIFFReadInit(elf_state* context, const char* fileName, int32_t* format, int32_t* subtype);
MONO_API int TIFFReadGetPageCount(elf_state* context, void* backend, int32_t* count);
MONO_API int TIFFReadGetPage(elf_state* context, void* backend, int32_t page, elf_object** image);
MONO_API int TIFFReadGetChecksum(elf_state* context, void* backend, int32_t* sum);

MONO_API int __TIFF_OpenDocumentRead(TIOState* state);
MONO_API int __TIFF_GetPageInfo(TIOState* state);
MONO_API int __sioTIFFCompressRead(TIOState* state);
MONO_API int __TIFF_ClosePage(TIOState* state);
MONO_API int __TIFF_CloseDocumentRead(TIOState* state);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
namespace tio {
/* Reports an inner result through the interpreter with code 20 and returns that status. */
int report(elf_state* context, int32_t code);
}  // namespace tio
#endif

#endif
