// The standard-format back end: JFIF, TIFF, BMP, GIF, PNG and PNM documents read and written
// through the imaging engine's raster procedures, one page per file except for TIFF.

#include <cstring>

#include "dio_backends.h"
#include "dio_internal.h"
#include "dio_transform.h"
#include "kvng_io.h"
#include "kvraster.h"

namespace {

constexpr int32_t tag_a = 56;
constexpr int32_t tag_b = 0x72BE;

struct StdKVState {
  int32_t tag1;
  int32_t tag2;
  int32_t page;        // reader -1; writer: the number the next page gets
  int32_t format;
  int32_t subtype;
  int32_t append;      // writer: pages go into one file
  char* filename;
  char* base;
  char* ext;
  char* dir;
  int32_t pageName;    // 1 page number in per-page names, -1 not, 0 reader
  int32_t lastStatus;
  int32_t pageCount;
  KVngIO* checksum;
  elf_state* context;  // where the writer's attribute calls report
};

StdKVState* checked(void* backend) {
  auto* s = static_cast<StdKVState*>(backend);
  return s && s->tag1 == tag_a && s->tag2 == tag_b ? s : nullptr;
}

int invalid(elf_state* state, const char* message) {
  return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "%s", message);
}

void writer_defaults(StdKVState* s) {
  const bool tiff = s->format == DIO_FORMAT_TIFF;
  s->append = tiff ? 1 : 0;
  s->pageName = tiff ? 0 : 1;
}

void free_state(StdKVState* s) {
  if (s->checksum) s->checksum->release(s->checksum);
  _elfFree(s->filename);
  _elfFree(s->base);
  _elfFree(s->ext);
  _elfFree(s->dir);
  s->tag1 = s->tag2 = 0;
  _elfFree(s);
}

// Drops a result list and what it holds.
void drop(elf_object* list) {
  if (list) elfDiscard(list);
}

// The object under name in a result list, with a reference for the caller; null without one.
elf_object* take(elf_object* list, const char* spec) {
  elf_object* obj = nullptr;
  if (!list || !lstScanArgs(list, spec, LST_OPTIONAL, &obj, LST_END) || !obj) return nullptr;
  elfRefUp(obj);
  return obj;
}

void let_go(elf_object* obj) {
  if (obj) elfRefDown(obj);
}

// Calls a method with one list of arguments and drops the list.
int call(elf_state* state, elf_object* obj, const char* method, elf_object* args, elf_object** result) {
  const int status = call_elf_object_method(state, obj, method, args, result);
  drop(args);
  return status;
}

// Reads the page count and the profile of a TIFF file through readtif's info fields.
bool read_tiff_info(elf_state* context, StdKVState* s, int32_t* subtype) {
  elf_object* args = lstBuildArgs(context, "filename:s", s->filename, 0, "info:b", 1, 0, LST_END);
  elf_object* result = nullptr;
  if (!args || call_elf_procedure(context, "readtif", args, &result) != QEL_STATUS_OK) {
    drop(args);
    drop(result);
    return false;
  }
  drop(args);
  elf_object* info = take(result, "img:");
  drop(result);
  result = nullptr;
  bool ok = info && call(context, info, "exec", nullptr, &result) == QEL_STATUS_OK;
  drop(result);
  result = nullptr;
  int32_t field = -1;
  ok = ok && call(context, info, "findField", lstBuildArgs(context, "name:s", "pages", 0, "type:s", "i", 0, LST_END),
                  &result) == QEL_STATUS_OK &&
       lstScanArgs(result, "field:i", LST_REQUIRED, &field, LST_END);
  drop(result);
  result = nullptr;
  if (ok && field == -1) {
    setStatus(context, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "Error finding page field in InfoObj from readtif");
    ok = false;
  }
  int32_t pages = 0;
  ok = ok && call(context, info, "getFieldInt",
                  lstBuildArgs(context, "entry:i", 0, 0, "index:i", 0, 0, "field:i", field, 0, LST_END),
                  &result) == QEL_STATUS_OK &&
       lstScanArgs(result, "value:i", LST_REQUIRED, &pages, LST_END);
  drop(result);
  result = nullptr;
  ok = ok && call(context, info, "findField",
                  lstBuildArgs(context, "name:s", "tiff_profile", 0, "type:s", "c", 0, LST_END),
                  &result) == QEL_STATUS_OK &&
       lstScanArgs(result, "field:i", LST_REQUIRED, &field, LST_END);
  drop(result);
  result = nullptr;
  if (ok && field == -1) {
    setStatus(context, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR,
              "Error finding tiff_profile field in InfoObj from readtif");
    ok = false;
  }
  const char* profile = nullptr;
  ok = ok && call(context, info, "getFieldStr", lstBuildArgs(context, "entry:i", 0, 0, "field:i", field, 0, LST_END),
                  &result) == QEL_STATUS_OK &&
       lstScanArgs(result, "value:s", LST_OPTIONAL, &profile, LST_END);
  if (ok) {
    s->pageCount = pages;
    s->subtype = profile ? StringToSubFormatType(profile) : DIO_SUBFORMAT_NONE;
    if (subtype) *subtype = s->subtype;
  }
  drop(result);
  let_go(info);
  return ok;
}

bool is_raster_kind(int32_t kind) {
  return kind == -1 || kind == 1 || kind == 2 || kind == 3 || (kind >= 6 && kind <= 17);
}

const char* default_extension(int32_t format) {
  switch (format) {
    case DIO_FORMAT_JFIF: return "jpg";
    case DIO_FORMAT_BMP: return "bmp";
    case DIO_FORMAT_GIF: return "gif";
    case DIO_FORMAT_PNG: return "png";
    case DIO_FORMAT_TIFF: return "tif";
    default: return nullptr;
  }
}

// Replaces *image (held by the caller) with the image under "img:" of a method's result.
int convert(elf_state* state, elf_object** image, const char* method, elf_object* args, const char* missing) {
  elf_object* result = nullptr;
  const int status = call(state, *image, method, args, &result);
  if (status != QEL_STATUS_OK) {
    drop(result);
    return status;
  }
  elf_object* next = take(result, "img:QELIMAGE");
  drop(result);
  if (!next) return invalid(state, missing);
  let_go(*image);
  *image = next;
  return QEL_STATUS_OK;
}

// The photometric value and interleave field of a layer's description.
void layer_facts(elf_object* layer, int32_t* photometric, int32_t* interleave) {
  const elf_QELHDR* h = qelHdr(qelLayer(layer)->description);
  *photometric = h ? h->photometric : 0;
  *interleave = h ? h->interleave : 0;
}

int write_page(StdKVState* s, elf_state* state, elf_object** image, elf_object* layer, const char* name) {
  int32_t photometric, interleave;
  layer_facts(layer, &photometric, &interleave);
  if (photometric == 18) {
    elf_object* list = new_LIST(state, nullptr, nullptr);
    if (!list) return invalid(state, "Process Err - Cannot allocate ELFLIST object\n");
    elf_object* text = elfNewString(state, "Photometry:name:srgb");
    if (!text) {
      elfDiscard(list);
      return invalid(state, "Process Err - Cannot allocate ELFSTRING object\n");
    }
    if (elflistInsert(list, text, 0, 0) != 0) {
      elfDiscard(text);
      elfDiscard(list);
      return invalid(state, "Process Err - Cannot allocate string value\n");
    }
    elf_object* args = lstBuildArgs(state, "modify:", list, 0, LST_END);
    if (!args) {
      elfDiscard(list);
      return invalid(state, "Process Err - Cannot allocate ELFLIST object\n");
    }
    const int status = convert(state, image, "modheader", args, "Process Err - failed to get modheader output\n");
    if (status != QEL_STATUS_OK) return status;
  }
  const int status = __QELIMAGEAutoAffine(*image);
  if (status != QEL_STATUS_OK) return status;
  const char* method = "writeimage";
  switch (s->format) {
    case DIO_FORMAT_JFIF:
      if (photometric == 11) {
        const int st = convert(state, image, "unmap", nullptr, "Process Err - failed to get unmap output\n");
        if (st != QEL_STATUS_OK) return st;
      }
      method = "writejpg";
      break;
    case DIO_FORMAT_BMP:
    case DIO_FORMAT_GIF:
      if (interleave != 0) {
        const int st = convert(state, image, "interleave", lstBuildArgs(state, "scanline:b", 1, 0, LST_END),
                               "Process Err - failed to get interleave output\n");
        if (st != QEL_STATUS_OK) return st;
      }
      method = s->format == DIO_FORMAT_BMP ? "writebmp" : "writegif";
      break;
    case DIO_FORMAT_TIFF: method = "writetif"; break;
    case DIO_FORMAT_PNG: method = "writepng"; break;
    default: break;
  }
  elf_object* args = lstBuildArgs(state, "filename:s", name, 0, LST_END);
  if (!args) return invalid(state, "Process Err - Cannot allocate ELFLIST object\n");
  if (s->format == DIO_FORMAT_TIFF) {
    const bool more = s->append == 1 && s->pageCount > 0;
    if ((more && !lstAppendArgs(args, "append:b", 1, 0, LST_END)) ||
        (s->subtype == DIO_SUBFORMAT_TIFF_V6 && !lstAppendArgs(args, "unsupportedtt:b", 1, 0, LST_END))) {
      drop(args);
      return invalid(state, "Process Err - Cannot allocate ELFLIST object\n");
    }
  }
  elf_object* result = nullptr;
  const int st = call(state, *image, method, args, &result);
  drop(result);
  return st;
}


// What a format's writer accepts, as transform specifications.
struct SpecPlan {
  int32_t count;            // specs inserted
  int32_t format, pagesPerFile;
  int32_t contone[2];       // contone compression of the first and second spec
  int32_t interleave;
  int32_t binary;           // binary compression, or -2 when bilevel pages are not accepted
};

int add_spec(elf_state* context, elf_object* specs, const SpecPlan& plan, int32_t index) {
  elf_object* spec = nullptr;
  int status = __createDefaultTransformSpec(context, &spec);
  if (status != QEL_STATUS_OK) return status;
  status = __setTSAttributes(context, spec, plan.format, DIO_SUBFORMAT_NONE, 0, 1, plan.pagesPerFile);
  if (status == QEL_STATUS_OK) {
    status = __setTSRasterAttr(context, spec, plan.contone[index], 80, 0, plan.interleave, nullptr, 65000, 65000, 24);
  }
  if (status == QEL_STATUS_OK) {
    status = plan.binary == -2 ? __unsetTSRasterAttr(context, spec, 1)
                               : __setTSRasterAttr(context, spec, plan.binary, 80, 0, plan.interleave, nullptr, 65000,
                                                   65000, 1);
  }
  // The first TIFF spec goes in with the list's insert flag set.
  if (status == QEL_STATUS_OK &&
      elflistInsert(specs, spec, elflistLength(specs), plan.format == DIO_FORMAT_TIFF && index == 0 ? 1 : 0) != 0) {
    status = setStatus(context, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "StdKVInitTransforms: cannot keep a spec\n");
  }
  if (status != QEL_STATUS_OK) elfDiscard(spec);
  return status;
}

}  // namespace

extern "C" {

void* StdKVInit(elf_state* context, const char* filename, int32_t format, int32_t read, int32_t* subtype) {
  auto* s = static_cast<StdKVState*>(elfCalloc(1, sizeof(StdKVState)));
  if (!s) return nullptr;
  s->tag1 = tag_a;
  s->tag2 = tag_b;
  s->format = format;
  s->subtype = DIO_SUBFORMAT_NONE;
  s->context = context;
  s->filename = elfStrDup(filename);
  s->base = filename ? elfName(filename) : nullptr;
  s->ext = filename ? elfExt(filename) : nullptr;
  s->dir = filename ? elfPath(filename) : nullptr;
  if (!s->filename) {
    free_state(s);
    return nullptr;
  }
  if (read <= 0) {
    s->pageCount = 0;
    s->page = 1;
    s->subtype = subtype ? *subtype : DIO_SUBFORMAT_NONE;
    writer_defaults(s);
    return s;
  }
  s->page = -1;
  s->pageName = 0;
  if (format != DIO_FORMAT_TIFF && format != DIO_FORMAT_TIFFFX) {
    s->pageCount = 1;
    if (subtype) *subtype = DIO_SUBFORMAT_NONE;
    return s;
  }
  if (!read_tiff_info(context, s, subtype)) {
    free_state(s);
    return nullptr;
  }
  return s;
}

int StdKVSetAttributes(void* backend, elf_object* attributes) {
  StdKVState* s = checked(backend);
  if (!s) return invalid(attributes ? attributes->state : nullptr, "StdKVSetAttributes: invalid internal state\n");
  if (!attributes) {
    writer_defaults(s);
    return QEL_STATUS_OK;
  }
  int32_t noNumber = -1, single = -1;
  lstScanArgs(attributes, "_DIOsinglePageFile:b", LST_OPTIONAL, &single, LST_END);
  lstScanArgs(attributes, "_DIOnoPageNumFilename:b", LST_OPTIONAL, &noNumber, LST_END);
  // The page number runs on whatever the mode: it names per-page files and is the count the
  // writer checks, so resetting it here would make the next append fail.
  if (single != -1) {
    s->pageName = single ? 1 : -1;
    s->append = single ? 0 : 1;
  }
  if (noNumber != -1) s->pageName = noNumber ? -1 : 1;
  return QEL_STATUS_OK;
}

int StdKVInitTransforms(void* backend, elf_object* specs) {
  elf_state* context = specs ? specs->state : nullptr;
  StdKVState* s = checked(backend);
  if (!s) return invalid(context, "StdKVInitTransforms: invalid internal state\n");
  SpecPlan plan;
  switch (s->format) {
    case DIO_FORMAT_JFIF: plan = {2, DIO_FORMAT_JFIF, 1, {1, 0}, 1, -2}; break;
    case DIO_FORMAT_TIFF: plan = {2, DIO_FORMAT_TIFF, 2, {1, 1}, 1, 3}; break;
    case DIO_FORMAT_BMP:
    case DIO_FORMAT_PNG: plan = {1, DIO_FORMAT_PNG, 1, {0, 0}, 1, 0}; break;
    case DIO_FORMAT_GIF: plan = {1, DIO_FORMAT_GIF, 1, {0, 0}, 0, -2}; break;
    default: {
      elf_object* spec = nullptr;
      int status = __createDefaultTransformSpec(context, &spec);
      if (status == QEL_STATUS_OK && elflistInsert(specs, spec, elflistLength(specs), 0) != 0) {
        elfDiscard(spec);
        status = setStatus(context, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "StdKVInitTransforms: cannot keep a spec\n");
      }
      return status;
    }
  }
  for (int32_t i = 0; i < plan.count; ++i) {
    const int status = add_spec(context, specs, plan, i);
    if (status != QEL_STATUS_OK) return status;
  }
  return QEL_STATUS_OK;
}

int __StdKVReadGetPageCount(elf_state* state, void* backend, int32_t* count) {
  StdKVState* s = checked(backend);
  if (!s) return invalid(state, "__StdKVReadGetPageCount: invalid internal state\n");
  *count = s->pageCount;
  return QEL_STATUS_OK;
}

int __StdKVReadGetPage(elf_state* state, void* backend, int32_t page, elf_object** image) {
  if (image) *image = nullptr;
  StdKVState* s = checked(backend);
  if (!s) return invalid(state, "Std KV Reader: internal State corrupt\n");
  s->lastStatus = 0;
  if (s->format != DIO_FORMAT_TIFF && s->format != DIO_FORMAT_TIFFFX) {
    if (page != 1) return invalid(state, "Std KV Reader: invalid page request should be 1.\n");
    s->lastStatus = QELReadFile2QELIMAGE(state, s->filename, nullptr, image);
    return s->lastStatus;
  }
  elf_object* args =
      lstBuildArgs(state, "filename:s", s->filename, 0, "dirnum:i", page, 0, "compressed:b", 1, 0, LST_END);
  elf_object* result = nullptr;
  int status = args ? call_elf_procedure(state, "readtif", args, &result) : QEL_STATUS_FAILED;
  drop(args);
  elf_object* img = status == QEL_STATUS_OK ? take(result, "img:QELIMAGE") : nullptr;
  drop(result);
  result = nullptr;
  if (img && call(state, img, "exec", nullptr, &result) == QEL_STATUS_OK) {
    drop(result);
    if (image) {
      *image = img;
      --img->refCount;  // handed over with count 0, as a new object
    } else {
      let_go(img);
    }
    return QEL_STATUS_OK;
  }
  drop(result);
  let_go(img);
  s->lastStatus = getStatus(state);
  if (s->lastStatus == QEL_STATUS_OK) s->lastStatus = invalid(state, "Std KV Reader: readtif gave no page\n");
  return s->lastStatus;
}

int StdKVReadGetChecksum(elf_state* state, void* backend, int32_t* sum) {
  StdKVState* s = checked(backend);
  if (!s) return invalid(state, "StdKVReadGetChecksum: invalid internal state\n");
  if (s->checksum) s->checksum->release(s->checksum);
  s->checksum = KVngIO_FileName(s->filename, "r");
  if (!s->checksum) return invalid(state, "StdKVReadGetChecksum: Unable to configure for checksum\n");
  *sum = static_cast<int32_t>(__DIO_unfilteredChecksum(s->checksum));
  return QEL_STATUS_OK;
}

int __StdKVAppendPage(void* backend, elf_object* image, int32_t* count) {
  elf_state* state = image ? image->state : nullptr;
  StdKVState* s = checked(backend);
  if (!s) {
    if (count) *count = -1;
    return invalid(state, "Object Error - Std KV writer internal State corrupt\n");
  }
  if (QELUpdateQELIMAGE(image) != QEL_STATUS_OK || !QELGetLayer(image, 0)) return getStatus(state);
  elf_object* page = image;
  elf_object* layer = QELGetLayer(image, 0);
  if (!is_raster_kind(qelLayer(layer)->kind)) {
    page = nullptr;
    for (int32_t i = 1; i < qelImage(image)->layerCount && !page; ++i) {
      elf_object* l = QELGetLayer(image, i);
      if (l && is_raster_kind(qelLayer(l)->kind)) {
        page = QELLayer2QELIMAGE(l, i, nullptr);
        if (!page) return getStatus(state) ? getStatus(state) : invalid(state, "Process Err - Cannot allocate image\n");
        layer = l;
      }
    }
    if (!page) return invalid(state, "Process Err - Image does not have any raster layers\n");
  }
  elfRefUp(page);
  char* name = __DIO_makeFullName(s->filename, s->pageName == 1 ? s->page : -1, default_extension(s->format));
  int status = name ? write_page(s, state, &page, layer, name) : invalid(state, "Process Err - Cannot allocate string value\n");
  if (status == QEL_STATUS_OK) {
    elf_object* result = nullptr;
    status = call_elf_procedure(state, "Execute", nullptr, &result);
    drop(result);
    if (status == QEL_STATUS_OK) {
      ++s->pageCount;
      if (count) *count = s->page;
      ++s->page;
    } else if (count) {
      *count = 0;
    }
  }
  __DIO_releaseFullName(name);
  let_go(page);
  return status;
}

int __StdKVInsertPage(void* backend, elf_object* image, int32_t* count) { return __StdKVAppendPage(backend, image, count); }

void __StdKVRelease(elf_object* obj) {
  void** place = nullptr;
  if (elf_DOCUMENTREADER* r = dioReader(obj)) place = &r->backend;
  if (elf_DOCUMENTWRITER* w = dioWriter(obj)) place = &w->backend;
  if (!place) return;
  StdKVState* s = checked(*place);
  if (!s) return;
  free_state(s);
  *place = nullptr;
}

}  // extern "C"
