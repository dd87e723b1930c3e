// Engine image headers: compression chains, header user data, the header manager.

#include <algorithm>
#include <cmath>
#include <cstring>

#include <lcms2.h>

#include "elf_memory.h"
#include "kvng.h"
#include "kvng_hdr.h"

// ---- Compression data ----

namespace {

void release_compression(KVngCompressionData* data) {
  if (!data) return;
  for (KVngCompressionEntry* e = data->first; e;) {
    KVngCompressionEntry* next = e->next;
    kvng_internal_free(e->params);
    kvng_internal_free(e);
    e = next;
  }
  kvng_internal_free(data);
}

char* dup_text(const char* text) {
  if (!text) return nullptr;
  const size_t n = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(kvng_internal_calloc(n, 1));
  if (copy) std::memcpy(copy, text, n);
  return copy;
}

const KVngCompressionEntry* entry_at(const KVngCompressionData* data, int32_t index) {
  if (!data || index < 0) return nullptr;
  const KVngCompressionEntry* e = data->first;
  for (; e && index > 0; --index) e = e->next;
  return e;
}

}  // namespace

KVngCompressionData* KVngCreateCompressionData(void) {
  auto* data = static_cast<KVngCompressionData*>(kvng_internal_calloc(1, sizeof(KVngCompressionData)));
  if (data) data->release = release_compression;
  return data;
}

int KVngPushCompressionData(KVngCompressionData* data, int32_t type, const char* params) {
  if (!data) return 0;
  auto* e = static_cast<KVngCompressionEntry*>(kvng_internal_calloc(1, sizeof(KVngCompressionEntry)));
  if (!e) return 0;
  if (params && !(e->params = dup_text(params))) {
    kvng_internal_free(e);
    return 0;
  }
  e->type = type;
  e->next = data->first;
  data->first = e;
  ++data->count;
  return 1;
}

int KVngGetCompressionData(const KVngCompressionData* data, int32_t* type, const char** params, int32_t index) {
  const KVngCompressionEntry* e = entry_at(data, index);
  if (!e) return 0;
  if (type) *type = e->type;
  if (params) *params = e->params;
  return 1;
}

int32_t KVngCompressionDataCount(const KVngCompressionData* data) { return data ? data->count : 0; }

KVngCompressionData* KVngCopyCompressionData(const KVngCompressionData* data) {
  if (!data) return nullptr;
  KVngCompressionData* copy = KVngCreateCompressionData();
  // Pushing from the last entry to the first keeps the order.
  for (int32_t i = data->count - 1; copy && i >= 0; --i) {
    const KVngCompressionEntry* e = entry_at(data, i);
    if (!KVngPushCompressionData(copy, e->type, e->params)) {
      release_compression(copy);
      copy = nullptr;
    }
  }
  return copy;
}

void KVngFreeCompressionData(KVngCompressionData* data) {
  if (data) data->release(data);
}

int KVngCompressionParamHas(const char* params, const char* item) {
  if (!params || !item || !*item) return 0;
  const size_t n = std::strlen(item);
  for (const char* p = params; *p;) {
    const char* end = std::strchr(p, ',');
    const size_t len = end ? static_cast<size_t>(end - p) : std::strlen(p);
    if (len == n && std::strncmp(p, item, n) == 0) return 1;
    if (!end) break;
    p = end + 1;
  }
  return 0;
}

// ---- Header user data ----

namespace {

struct Param {
  char* section;
  char* key;
  int32_t kind;
  size_t length;  // doubles: their count; text: bytes without the terminator; bytes: bytes
  void* value;
};

}  // namespace

struct KVngUserCMData {
  elf_hdr_extra ops;  // first, so that the QELHDR can hold the record as its engine data
  int32_t count;
  int32_t capacity;
  Param* params;
  KVngCompressionData* compression;
};
static_assert(offsetof(KVngUserCMData, ops) == 0);

namespace {

KVngUserCMData* from_extra(elf_hdr_extra* extra) { return reinterpret_cast<KVngUserCMData*>(extra); }
const KVngUserCMData* from_extra(const elf_hdr_extra* extra) {
  return reinterpret_cast<const KVngUserCMData*>(extra);
}

void free_param(Param* p) {
  kvng_internal_free(p->section);
  kvng_internal_free(p->key);
  kvng_internal_free(p->value);
  *p = Param{};
}

Param* find_param(const KVngUserCMData* data, const char* section, const char* key) {
  if (!data || !section || !key) return nullptr;
  for (int32_t i = 0; i < data->count; ++i) {
    Param* p = &data->params[i];
    if (std::strcmp(p->section, section) == 0 && std::strcmp(p->key, key) == 0) return p;
  }
  return nullptr;
}

// Stores a parameter whose value block (size bytes, copied from value) holds length units.
int set_param(KVngUserCMData* data, const char* section, const char* key, int32_t kind, const void* value,
              size_t size, size_t length) {
  if (!data || !section || !key || (!value && size)) return 0;
  auto* block = static_cast<unsigned char*>(kvng_internal_calloc(size + 1, 1));
  if (!block) return 0;
  if (size) std::memcpy(block, value, size);
  if (Param* p = find_param(data, section, key)) {
    kvng_internal_free(p->value);
    p->kind = kind;
    p->length = length;
    p->value = block;
    return 1;
  }
  if (data->count == data->capacity) {
    const int32_t capacity = data->capacity ? data->capacity * 2 : 4;
    auto* grown = static_cast<Param*>(kvng_internal_calloc(static_cast<size_t>(capacity), sizeof(Param)));
    if (!grown) {
      kvng_internal_free(block);
      return 0;
    }
    if (data->count) std::memcpy(grown, data->params, sizeof(Param) * static_cast<size_t>(data->count));
    kvng_internal_free(data->params);
    data->params = grown;
    data->capacity = capacity;
  }
  Param p{dup_text(section), dup_text(key), kind, length, block};
  if (!p.section || !p.key) {
    free_param(&p);
    return 0;
  }
  data->params[data->count++] = p;
  return 1;
}

elf_hdr_extra* copy_extra(const elf_hdr_extra* extra) {
  KVngUserCMData* copy = KVngUserCMDupData(from_extra(extra));
  return copy ? &copy->ops : nullptr;
}

void release_extra(elf_hdr_extra* extra) { KVngFreeUserCMData(from_extra(extra)); }

size_t value_size(const Param& p) {
  return p.kind == KVNG_PARAM_DOUBLES ? p.length * sizeof(double) : p.length;
}

}  // namespace

KVngUserCMData* KVngUserCMNew(void) {
  auto* data = static_cast<KVngUserCMData*>(kvng_internal_calloc(1, sizeof(KVngUserCMData)));
  if (data) data->ops = elf_hdr_extra{copy_extra, release_extra};
  return data;
}

KVngUserCMData* KVngUserCMDupData(const KVngUserCMData* data) {
  if (!data) return nullptr;
  KVngUserCMData* copy = KVngUserCMNew();
  if (!copy) return nullptr;
  bool ok = !data->compression || (copy->compression = KVngCopyCompressionData(data->compression));
  for (int32_t i = 0; ok && i < data->count; ++i) {
    const Param& p = data->params[i];
    ok = set_param(copy, p.section, p.key, p.kind, p.value, value_size(p), p.length) == 1;
  }
  if (!ok) {
    KVngFreeUserCMData(copy);
    return nullptr;
  }
  return copy;
}

void KVngFreeUserCMData(KVngUserCMData* data) {
  if (!data) return;
  for (int32_t i = 0; i < data->count; ++i) free_param(&data->params[i]);
  kvng_internal_free(data->params);
  KVngFreeCompressionData(data->compression);
  kvng_internal_free(data);
}

int KVHdrSetHeaderDoubles(KVngUserCMData* data, const char* section, const char* key, const double* values,
                          int32_t count) {
  if (count < 0) return 0;
  const size_t n = static_cast<size_t>(count);
  return set_param(data, section, key, KVNG_PARAM_DOUBLES, values, n * sizeof(double), n);
}

int KVHdrSetHeaderString(KVngUserCMData* data, const char* section, const char* key, const char* text) {
  if (!text) return 0;
  const size_t n = std::strlen(text);
  return set_param(data, section, key, KVNG_PARAM_TEXT, text, n, n);
}

int KVHdrSetHeaderBytes(KVngUserCMData* data, const char* section, const char* key, const void* bytes,
                        size_t length) {
  return set_param(data, section, key, KVNG_PARAM_BYTES, bytes, length, length);
}

int32_t KVHdrGetHeaderDoubles(const KVngUserCMData* data, const char* section, const char* key, double* values,
                              int32_t capacity) {
  const Param* p = find_param(data, section, key);
  if (!p || p->kind != KVNG_PARAM_DOUBLES) return -1;
  const size_t n = capacity > 0 && p->length > static_cast<size_t>(capacity) ? static_cast<size_t>(capacity)
                                                                           : (capacity > 0 ? p->length : 0);
  if (values && n) std::memcpy(values, p->value, n * sizeof(double));
  return static_cast<int32_t>(p->length);
}

const char* KVHdrGetHeaderString(const KVngUserCMData* data, const char* section, const char* key) {
  const Param* p = find_param(data, section, key);
  return p && p->kind == KVNG_PARAM_TEXT ? static_cast<const char*>(p->value) : nullptr;
}

const void* KVHdrGetHeaderBytes(const KVngUserCMData* data, const char* section, const char* key, size_t* length) {
  const Param* p = find_param(data, section, key);
  if (length) *length = p && p->kind == KVNG_PARAM_BYTES ? p->length : 0;
  return p && p->kind == KVNG_PARAM_BYTES ? p->value : nullptr;
}

int KVHdrRemoveHeaderParam(KVngUserCMData* data, const char* section, const char* key) {
  Param* p = find_param(data, section, key);
  if (!p) return 0;
  free_param(p);
  const auto index = static_cast<int32_t>(p - data->params);
  std::memmove(p, p + 1, sizeof(Param) * static_cast<size_t>(data->count - index - 1));
  --data->count;
  return 1;
}

int KVngSaveCompressionData(KVngUserCMData* data, const KVngCompressionData* compression) {
  if (!data) return 0;
  KVngCompressionData* copy = nullptr;
  if (compression && !(copy = KVngCopyCompressionData(compression))) return 0;
  KVngFreeCompressionData(data->compression);
  data->compression = copy;
  return 1;
}

KVngCompressionData* KVngLoadCompressionData(const KVngUserCMData* data) {
  return data ? KVngCopyCompressionData(data->compression) : nullptr;
}

int KVngHasCompressionData(const KVngUserCMData* data) { return data && data->compression ? 1 : 0; }

KVngUserCMData* KVngHdrUserData(elf_object* description, int create) {
  elf_QELHDR* h = qelHdr(description);
  if (!h) return nullptr;
  if (h->engineData) {
    // Only this engine makes header data, so whatever is there is ours.
    return from_extra(h->engineData);
  }
  if (!create) return nullptr;
  KVngUserCMData* data = KVngUserCMNew();
  if (data) h->engineData = &data->ops;
  return data;
}

// ---- Header manager ----

namespace {

constexpr KVHdrManager kInternal{"internal", "2.1"};

}  // namespace

int KVHdrGetManager_Str(const char* name, const char* version, const KVHdrManager** manager) {
  if (!name || !manager || std::strcmp(name, kInternal.name) != 0) return 0;
  if (version && std::strcmp(version, kInternal.version) != 0) return 0;
  *manager = &kInternal;
  return 1;
}

int KVHdrCreateHeader(const KVHdrManager* manager, KVHdr** header) {
  if (!manager || !header) return 0;
  auto* h = static_cast<KVHdr*>(kvng_internal_calloc(1, sizeof(KVHdr)));
  if (!h) return 0;
  h->manager = manager;
  *header = h;
  return 1;
}

void KVHdrFree(KVHdr* header) {
  if (!header) return;
  KVngFreeUserCMData(header->userData);
  kvng_internal_free(header);
}

// ---- Helpers ----

int32_t KVngGetImageParts(int32_t photometric) {
  switch (photometric) {
    case 0:
      return 0;
    case 1:
    case 11:
    case 17:
    case 21:
    case 22:
    case 108:
    case 117:
    case 118:
      return 1;
    case 6:
    case 107:
      return 4;
    case 14:
      return -1;
    default:
      return 3;
  }
}

int KVngStrCmp(const char* a, const char* b) {
  if (!a || !b) return (a ? 1 : 0) - (b ? 1 : 0);
  return std::strcmp(a, b);
}

namespace {

// sRGB (IEC 61966-2-1: its curve, D65 white and primaries) as an ICC version 2 profile: PDF/A-1
// output intents take no other, and a version 4 profile would need PDF 1.5 wherever an image
// names it. Version 2 has no parametric curves; lcms2 would sample the curve at 4096 points (8 KB
// in every file that carries the profile). 1024 points, interpolated linearly, stay within a
// hundredth of a 16-bit step of the curve.
cmsHPROFILE srgb_version2() {
  constexpr int kPoints = 1024;
  const cmsFloat64Number params[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
  cmsToneCurve* exact = cmsBuildParametricToneCurve(nullptr, 4, params);
  if (!exact) return nullptr;
  cmsUInt16Number table[kPoints];
  for (int i = 0; i < kPoints; ++i) {
    const cmsFloat32Number v = cmsEvalToneCurveFloat(exact, static_cast<cmsFloat32Number>(i) / (kPoints - 1));
    table[i] = static_cast<cmsUInt16Number>(std::lround(std::clamp(v, 0.0f, 1.0f) * 65535.0f));
  }
  cmsFreeToneCurve(exact);
  cmsToneCurve* curve = cmsBuildTabulatedToneCurve16(nullptr, kPoints, table);
  if (!curve) return nullptr;
  const cmsCIExyY white = {0.3127, 0.3290, 1.0};
  const cmsCIExyYTRIPLE primaries = {{0.6400, 0.3300, 1.0}, {0.3000, 0.6000, 1.0}, {0.1500, 0.0600, 1.0}};
  cmsToneCurve* curves[3] = {curve, curve, curve};
  cmsHPROFILE p = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsFreeToneCurve(curve);
  cmsMLU* description = p ? cmsMLUalloc(nullptr, 1) : nullptr;
  const bool described = description && cmsMLUsetASCII(description, "en", "US", "sRGB IEC61966-2.1") &&
                         cmsWriteTag(p, cmsSigProfileDescriptionTag, description);
  if (description) cmsMLUfree(description);
  if (p && !described) {
    cmsCloseProfile(p);
    return nullptr;
  }
  if (p) cmsSetProfileVersion(p, 2.1);
  return p;
}

struct Profile {
  unsigned char* bytes = nullptr;
  size_t length = 0;
  Profile() {
    cmsHPROFILE p = srgb_version2();
    cmsUInt32Number n = 0;
    if (p && cmsSaveProfileToMem(p, nullptr, &n) && n > 0) {
      bytes = new unsigned char[n];
      if (cmsSaveProfileToMem(p, bytes, &n)) {
        length = n;
      } else {
        delete[] bytes;
        bytes = nullptr;
      }
    }
    if (p) cmsCloseProfile(p);
  }
  ~Profile() { delete[] bytes; }
};

}  // namespace

const unsigned char* ICC_sRGB(size_t* length) {
  static const Profile profile;  // built once; the C++ runtime guards the first call
  if (length) *length = profile.length;
  return profile.bytes;
}
