// The XPS back end's writing side: it keeps the writer's settings and hands each step to the
// interpreter's script "docio/docioXPSWrite.elf", which works on an "XpsPackage" object made
// once per document; the script lays out, signs and zips the package.

#include <cstdio>
#include <cstring>
#include <ctime>
#include <initializer_list>

#include "dio_backends.h"
#include "dio_transform.h"
#include "xps_backend.h"

namespace {

constexpr uint32_t kStateSize = 32;
constexpr uint32_t kStateMagic = 0xD8D13;
constexpr char kDefaultCreator[] = "monodoc libpagefiler XPS writer";
constexpr char kDefaultInterleave[] = "XpsNoInterleavingStrategy";
constexpr char kTestDateTime[] = "2007-01-01T00:00:00.00Z";

struct XpsWriterSettings {
  char* creator;
  char* title;
  char* keyword;
  int32_t doCoalesce;
  int32_t isJPEGXR;
  int32_t isTIFF;
  double pageWidth;
  double pageHeight;
  int32_t unit;
  char* certFile;
  char* certPassword;
  char* intent;
  char* signingLocale;
  elf_object* spotLocation;
  elf_object* dsigRequests;
  char* interleaveOrder;
  int32_t security;
  int32_t compLevel;
  char* tmpLocation;
};

struct XpsWriterState {
  uint32_t size;
  uint32_t magic;
  uint32_t mode;
  char* filename;
  int32_t pages;
  XpsWriterSettings* settings;
  elf_object* package;
};

bool valid(elf_state* state, const XpsWriterState* s) {
  if (s && s->size == kStateSize && s->magic == kStateMagic) return true;
  setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "Invalid internal XPS state.\n");
  return false;
}

void release_object(elf_object** slot) {
  elfRefDown(*slot);
  *slot = nullptr;
}

void free_text(char** slot) {
  _elfFree(*slot);
  *slot = nullptr;
}

void clear_settings(XpsWriterSettings* s) {
  s->doCoalesce = s->isJPEGXR = s->isTIFF = s->unit = s->security = s->compLevel = 0;
  s->pageWidth = s->pageHeight = 0;
  release_object(&s->spotLocation);
  release_object(&s->dsigRequests);
  for (char** t : {&s->creator, &s->title, &s->keyword, &s->interleaveOrder, &s->certFile, &s->certPassword,
                   &s->intent, &s->signingLocale, &s->tmpLocation}) {
    free_text(t);
  }
}

// A text scanned from the attributes replaces the old copy; false when it cannot be copied.
bool replace_text(char** slot, const char* text) {
  if (!text) return true;
  char* copy = elfStrDup(text);
  if (!copy) return false;
  _elfFree(*slot);
  *slot = copy;
  return true;
}

void replace_object(elf_object** slot, elf_object* obj) {
  if (!obj || obj == *slot) return;
  elfRefUp(obj);
  elfRefDown(*slot);
  *slot = obj;
}

// Optional close arguments go in only when set: a cleared setting hands the script nothing.
bool append_text(elf_object* list, const char* spec, const char* text) {
  return !text || lstAppendArgs(list, spec, text, 0, LST_END);
}

bool append_object(elf_object* list, const char* spec, elf_object* obj) {
  return !obj || lstAppendArgs(list, spec, obj, 0, LST_END);
}

int invoke_write(elf_state* context, const char* oper, const char* file, elf_object* package, elf_object* page,
                 int32_t pageNumber, int32_t test, const XpsWriterSettings* s) {
  elf_object* list = lstBuildArgs(context, "oper:s", oper, 0, "outfile:s", file, 0, "package:XpsPackage", package, 0,
                                  "compLevel:i", s->compLevel, 0, LST_END);
  if (!list) {
    return setStatus(context, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "Could not build docioXPSWrite argument list.\n");
  }
  elfRefUp(list);
  bool appended = true;
  if (std::strcmp(oper, "add") == 0) {
    appended = page && lstAppendArgs(list, "doCoalesce:i", s->doCoalesce, 0, "isJPEGXR:i", s->isJPEGXR, 0, "isTIFF:i",
                                     s->isTIFF, 0, "page:QELIMAGE", page, 0, "page_x:d", s->pageWidth, 0, "page_y:d",
                                     s->pageHeight, 0, "pgNum:i", pageNumber, 0, "unit:i", s->unit, 0, LST_END);
  } else if (std::strcmp(oper, "close") == 0) {
    char clock[256] = "";
    const char* dateTime = kTestDateTime;
    if (!test) {
      const time_t now = std::time(nullptr);
      struct tm utc {};
      gmtime_r(&now, &utc);
      const size_t n = std::strftime(clock, sizeof clock - 5, "%Y-%m-%dT%H:%M:%S", &utc);
      std::memcpy(clock + n, ".00Z", 5);
      dateTime = clock;
    }
    appended = append_text(list, "certFile:s", s->certFile) && append_text(list, "certPassword:s", s->certPassword) &&
               append_text(list, "creator:s", s->creator) &&
               lstAppendArgs(list, "compLevel:i", s->compLevel, 0, "dateTime:s", dateTime, 0, LST_END) &&
               append_text(list, "intent:s", s->intent) && append_text(list, "interleaveOrder:s", s->interleaveOrder) &&
               append_text(list, "keyword:s", s->keyword) && append_object(list, "requests:", s->dsigRequests) &&
               lstAppendArgs(list, "security:i", s->security, 0, LST_END) &&
               append_text(list, "signingLocale:s", s->signingLocale) &&
               append_object(list, "spotLocation:", s->spotLocation) && append_text(list, "title:s", s->title);
  }
  int status;
  if (!appended) {
    status = setStatus(context, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "Cannot append '%s' specific command arguments.\n",
                       oper);
  } else {
    status = ELFScriptExec(context, "docio/docioXPSWrite.elf", list, nullptr);
  }
  elfRefDown(list);
  return status;
}

void free_state(XpsWriterState* s) {
  if (s->settings) {
    clear_settings(s->settings);
    _elfFree(s->settings);
  }
  release_object(&s->package);
  _elfFree(s->filename);
  _elfFree(s);
}

void* open_writer(elf_state* context, const char* filename, int mode) {
  auto* s = static_cast<XpsWriterState*>(elfCalloc(1, sizeof(XpsWriterState)));
  if (!s) return nullptr;
  s->size = kStateSize;
  s->magic = kStateMagic;
  s->mode = static_cast<uint32_t>(mode);
  s->filename = elfStrDup(filename);
  s->settings = static_cast<XpsWriterSettings*>(elfCalloc(1, sizeof(XpsWriterSettings)));
  if (!s->filename || !s->settings) {
    free_state(s);
    return nullptr;
  }
  s->settings->creator = elfStrDup(kDefaultCreator);
  s->settings->interleaveOrder = elfStrDup(kDefaultInterleave);
  if (!s->settings->creator || !s->settings->interleaveOrder) {
    free_state(s);
    return nullptr;
  }
  if (ELFScriptExec(context, "xps/XpsPackage.elf", nullptr, nullptr) != 0) {
    // The script's own message goes on as a failure of this start.
    char message[ELF_MESSAGE_MAX];
    std::snprintf(message, sizeof message, "%s", getStatusMessage(context));
    setStatus(context, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s", message);
    free_state(s);
    return nullptr;
  }
  elf_object* package = new_elf_object(context, "XpsPackage", nullptr);
  if (!package) {
    setStatus(context, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "Unable to allocate XpsPackage object.\n");
    free_state(s);
    return nullptr;
  }
  elfRefUp(package);
  s->package = package;
  if (invoke_write(context, "open", s->filename, s->package, nullptr, -1, 0, s->settings) != 0) {
    free_state(s);
    return nullptr;
  }
  return s;
}

}  // namespace

extern "C" {

void* __XPSInit(elf_state* context, const char* filename, int mode) {
  if (mode == 'r') return __XPSOpenReader(filename);
  return open_writer(context, filename, mode);
}

int XPSInitTransforms(void* backend, elf_object* specs) {
  elf_state* state = specs ? specs->state : nullptr;
  if (!valid(state, static_cast<XpsWriterState*>(backend))) return QEL_STATUS_FAILED;
  elf_object* spec = nullptr;
  const int status = __createDefaultTransformSpec(state, &spec);
  if (status != 0) return status;
  if (elflistInsert(specs, spec, 0, 0) == 0) return 0;
  elfDiscard(spec);
  return QEL_STATUS_FAILED;
}

int __XPSSetAttributes(void* backend, elf_object* attributes) {
  elf_state* state = attributes ? attributes->state : nullptr;
  auto* w = static_cast<XpsWriterState*>(backend);
  if (!valid(state, w)) return QEL_STATUS_FAILED;
  XpsWriterSettings* s = w->settings;
  if (!attributes) {
    clear_settings(s);
    return 0;
  }
  const char *tmp = nullptr, *certFile = nullptr, *certPassword = nullptr, *creator = nullptr, *intent = nullptr,
             *interleave = nullptr, *keyword = nullptr, *locale = nullptr, *title = nullptr;
  elf_object *requests = nullptr, *spot = nullptr;
  if (lstScanArgs(attributes, "_DIOTmpLocation:s", LST_OPTIONAL, &tmp, "_XPScertFile:s", LST_OPTIONAL, &certFile,
                  "_XPScertPassword:s", LST_OPTIONAL, &certPassword, "_XPScreator:s", LST_OPTIONAL, &creator,
                  "_XPSdoCoalesce:i", LST_OPTIONAL, &s->doCoalesce, "_XPSCoalesce:i", LST_OPTIONAL, &s->doCoalesce,
                  "_XPScompLevel:i", LST_OPTIONAL, &s->compLevel, "_XPSdsigRequests:", LST_OPTIONAL, &requests,
                  "_XPSintent:s", LST_OPTIONAL, &intent, "_XPSinterleaveOrder:s", LST_OPTIONAL, &interleave,
                  "_XPSisJPEGXR:i", LST_OPTIONAL, &s->isJPEGXR, "_XPSisTIFF:i", LST_OPTIONAL, &s->isTIFF,
                  "_XPSkeyword:s", LST_OPTIONAL, &keyword, "_XPSpageHeight:d", LST_OPTIONAL, &s->pageHeight,
                  "_XPSpageWidth:d", LST_OPTIONAL, &s->pageWidth, "_XPSsecurity:i", LST_OPTIONAL, &s->security,
                  "_XPSsigningLocale:s", LST_OPTIONAL, &locale, "_XPSspotLocation:", LST_OPTIONAL, &spot,
                  "_XPStitle:s", LST_OPTIONAL, &title, "_XPSunit:i", LST_OPTIONAL, &s->unit, LST_END) != 1) {
    return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "List scan error for XPS attributes\n");
  }
  const bool copied = replace_text(&s->tmpLocation, tmp) && replace_text(&s->certFile, certFile) &&
                      replace_text(&s->certPassword, certPassword) && replace_text(&s->creator, creator) &&
                      replace_text(&s->intent, intent) && replace_text(&s->interleaveOrder, interleave) &&
                      replace_text(&s->keyword, keyword) && replace_text(&s->signingLocale, locale) &&
                      replace_text(&s->title, title);
  if (tmp) s->security = 1;
  replace_object(&s->spotLocation, spot);
  replace_object(&s->dsigRequests, requests);
  if (!copied) return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "__XPSSetAttributes: no memory\n");
  return 0;
}

int __XPSAppendPage(void* backend, elf_object* image, int32_t* count) {
  elf_state* state = image ? image->state : nullptr;
  auto* w = static_cast<XpsWriterState*>(backend);
  if (!valid(state, w)) return QEL_STATUS_FAILED;
  const int status = invoke_write(state, "add", w->filename, w->package, image, w->pages + 1, 0, w->settings);
  if (status == 0) ++w->pages;
  if (count) *count = w->pages;
  return status;
}

// Any position asked for is not passed on: XPS pages are always appended.
int __XPSInsertPage(void* backend, elf_object* image, int32_t* count) { return __XPSAppendPage(backend, image, count); }

void __XPSRelease(elf_object* obj) {
  elf_DOCUMENTWRITER* writer = dioWriter(obj);
  if (!writer) {
    if (elf_DOCUMENTREADER* reader = dioReader(obj)) __XPSCloseReader(reader->backend);
    return;
  }
  auto* w = static_cast<XpsWriterState*>(writer->backend);
  if (!valid(obj->state, w)) return;
  const int status = invoke_write(obj->state, "close", w->filename, w->package, nullptr, -1, writer->testfile,
                                  w->settings);
  // A package that could not be written must not pass for one: the script says why, and when it
  // left no status the writer's state still gets one.
  if (status != 0 && getStatus(obj->state) == 0) {
    setStatus(obj->state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "__XPSRelease: Unable to write %s\n", w->filename);
  }
  free_state(w);
}

}  // extern "C"
