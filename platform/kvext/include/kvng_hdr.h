#ifndef KVNG_HDR_H
#define KVNG_HDR_H

// The imaging engine's image headers and what they carry beside the pixel description:
//   - compression data: a chain of (compression code, parameter text) entries, the outermost
//     coding first (index 0 is the entry pushed last; code 15 with "diff" is a differencing
//     predictor applied before the coding that follows it);
//   - user data: named parameters in sections ("Photometry" "iccprofile", "Photometry"
//     "whitepoint" ...), each a run of doubles, a text or bytes, plus saved compression data.
// A layer description (QELHDR) owns one user data record as its engineData.

#include <stddef.h>
#include <stdint.h>

#include "elf_object.h"
#include "mono_export.h"
#include "qel_image.h"

/* ---- Compression data ---- */

typedef struct KVngCompressionEntry {
  int32_t type;                          /* engine compression code */
  char* params;                          /* owned, or null */
  struct KVngCompressionEntry* next;
} KVngCompressionEntry;

typedef struct KVngCompressionData {
  void (*release)(struct KVngCompressionData* data);  /* frees the record and its entries */
  int32_t count;
  KVngCompressionEntry* first;           /* index 0 */
} KVngCompressionData;

/* An empty chain, or null when memory runs out. */
MONO_API KVngCompressionData* KVngCreateCompressionData(void);
/* Puts (type, a copy of params) in front of the chain; 1, or 0 when memory runs out. */
MONO_API int KVngPushCompressionData(KVngCompressionData* data, int32_t type, const char* params);
/* Entry index: its code and parameter text (borrowed, may be null); 1, or 0 out of range. */
MONO_API int KVngGetCompressionData(const KVngCompressionData* data, int32_t* type, const char** params,
                                    int32_t index);
MONO_API int32_t KVngCompressionDataCount(const KVngCompressionData* data);
/* A deep copy, or null (also for null data). */
MONO_API KVngCompressionData* KVngCopyCompressionData(const KVngCompressionData* data);
/* Releases through the record's own operation; null is ignored. */
MONO_API void KVngFreeCompressionData(KVngCompressionData* data);
/* True when the parameter text holds item as one of its comma-separated items. */
MONO_API int KVngCompressionParamHas(const char* params, const char* item);

/* ---- Header user data ---- */

typedef struct KVngUserCMData KVngUserCMData;

enum { KVNG_PARAM_DOUBLES = 1, KVNG_PARAM_TEXT = 2, KVNG_PARAM_BYTES = 3 };

/* An empty record, or null. */
MONO_API KVngUserCMData* KVngUserCMNew(void);
MONO_API KVngUserCMData* KVngUserCMDupData(const KVngUserCMData* data);
MONO_API void KVngFreeUserCMData(KVngUserCMData* data);

/* Setting replaces a parameter of the same section and key; 1, or 0 when memory runs out or a
   name is missing. */
MONO_API int KVHdrSetHeaderDoubles(KVngUserCMData* data, const char* section, const char* key, const double* values,
                                   int32_t count);
MONO_API int KVHdrSetHeaderString(KVngUserCMData* data, const char* section, const char* key, const char* text);
MONO_API int KVHdrSetHeaderBytes(KVngUserCMData* data, const char* section, const char* key, const void* bytes,
                                 size_t length);
/* The number of doubles stored (up to capacity copied into values), or -1 when there is no such
   parameter of that kind. */
MONO_API int32_t KVHdrGetHeaderDoubles(const KVngUserCMData* data, const char* section, const char* key,
                                       double* values, int32_t capacity);
/* Borrowed text or bytes, or null. */
MONO_API const char* KVHdrGetHeaderString(const KVngUserCMData* data, const char* section, const char* key);
MONO_API const void* KVHdrGetHeaderBytes(const KVngUserCMData* data, const char* section, const char* key,
                                         size_t* length);
/* Drops a parameter; 1 when there was one. */
MONO_API int KVHdrRemoveHeaderParam(KVngUserCMData* data, const char* section, const char* key);

/* Saves a copy of the chain in the record (replacing one saved before; null drops it); 1, or 0. */
MONO_API int KVngSaveCompressionData(KVngUserCMData* data, const KVngCompressionData* compression);
/* A copy of the saved chain for the caller, or null when none is saved (or memory runs out). */
MONO_API KVngCompressionData* KVngLoadCompressionData(const KVngUserCMData* data);
/* Whether a chain is saved. */
MONO_API int KVngHasCompressionData(const KVngUserCMData* data);

/* The user data of a layer description (QELHDR): its own, made empty and attached when create is
   set and it has none; null for no QELHDR or no memory. */
MONO_API KVngUserCMData* KVngHdrUserData(elf_object* description, int create);

/* ---- Engine image headers ---- */

enum { KVHDR_MAX_CHANNELS = 16 };
enum { KVHDR_LAYOUT_INTERLEAVED = 1, KVHDR_LAYOUT_PLANAR = 2 };

typedef struct KVHdrManager {
  const char* name;
  const char* version;
} KVHdrManager;

typedef struct KVHdr {
  const KVHdrManager* manager;
  int32_t width;
  int32_t height;
  int32_t channels;
  int32_t layout;                            /* KVHDR_LAYOUT_* */
  int32_t bits[KVHDR_MAX_CHANNELS];          /* per channel */
  int64_t lineLength[KVHDR_MAX_CHANNELS];    /* bytes per line: all channels in entry 0 when
                                                interleaved, else one channel per entry */
  KVngUserCMData* userData;                  /* owned, or null */
} KVHdr;

/* The header manager of that name and version ("internal", "2.1"); 1, or 0 for an unknown one. */
MONO_API int KVHdrGetManager_Str(const char* name, const char* version, const KVHdrManager** manager);
/* A zeroed header of the manager; 1, or 0 when memory runs out. */
MONO_API int KVHdrCreateHeader(const KVHdrManager* manager, KVHdr** header);
MONO_API void KVHdrFree(KVHdr* header);

/* ---- Small helpers ---- */

/* Samples per pixel of an engine photometric value: 0 for 0; 1 for one-component values; 4 for
   CMYK; -1 for 14; 3 for any other. */
MONO_API int32_t KVngGetImageParts(int32_t photometric);
/* strcmp that takes null as the smallest text. */
MONO_API int KVngStrCmp(const char* a, const char* b);

/* The engine's sRGB ICC profile, version 2.1 (made once by lcms2): its bytes and length, or null. */
MONO_API const unsigned char* ICC_sRGB(size_t* length);

#endif
