// The members of readers and writers: DocReadMethods, DocWriteMethods, DocQuery and
// DocReadChecksum.

#include <sys/stat.h>

#include <climits>
#include <cstring>

#include "dio_backends.h"
#include "dio_internal.h"

namespace {

elf_state* state_of(elf_object* args) { return args ? args->state : nullptr; }

int fail(elf_state* state, const char* format, const char* who) {
  return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, format, who);
}

using dio::give;

template <class R>
int format_result(elf_state* state, const R* r, elf_object** result, const char* who) {
  char format[DIO_FORMAT_NAME_MAX], subtype[DIO_FORMAT_NAME_MAX];
  FormatTypeToString(r->format, format);
  dio::subformat_to_string(r->version, subtype);
  return give(state, result, lstBuildArgs(state, "format:s", format, 0, "subtype:s", subtype, 0, LST_END), who);
}

int count_result(elf_state* state, int32_t count, elf_object** result, const char* who) {
  return give(state, result, lstBuildArgs(state, "num:i", count, 0, LST_END), who);
}

// ---- Reader ----

constexpr const char* reader_name = "DocReadMethods";

int reader_page_count(elf_state* state, elf_DOCUMENTREADER* r, elf_object** result) {
  int status = QEL_STATUS_OK;
  if (r->pagecnt == -1) {
    if (!r->fns.ReadGetPageCount) return fail(state, "%s: Error, no IO handle\n", reader_name);
    int32_t count = -1;
    status = r->fns.ReadGetPageCount(state, r->backend, &count);
    if (status == QEL_STATUS_OK) r->pagecnt = count;
  }
  const int built = count_result(state, r->pagecnt, result, reader_name);
  return status != QEL_STATUS_OK ? status : built;
}

int reader_page(elf_state* state, elf_DOCUMENTREADER* r, elf_object* args, elf_object** result) {
  if (!r->fns.ReadGetPageCount || !r->fns.ReadGetPage) return fail(state, "%s: Error, no IO handle\n", reader_name);
  if (r->pagecnt == -1) {
    // The count's status decides, not only whether a count came back.
    int32_t count = -1;
    const int status = r->fns.ReadGetPageCount(state, r->backend, &count);
    if (status != QEL_STATUS_OK) return status;
    r->pagecnt = count;
  }
  int32_t page = 0;
  if (!lstScanArgs(args, "pgnum:INTEGER", LST_REQUIRED, &page, LST_END) || page < 1 || page > r->pagecnt) {
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s:Page number %d outside valid range of 1 to %d\n",
                     reader_name, page, r->pagecnt);
  }
  elf_object* image = nullptr;
  const int status = r->fns.ReadGetPage(state, r->backend, page, &image);
  if (status != QEL_STATUS_OK) {
    elfDiscard(image);
    return status;
  }
  if (!image) {
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: Could not get page %d from %s\n", reader_name,
                     page, dio::or_text(r->filename));
  }
  elfRefUp(image);
  elf_object* attr = lstBuildArgs(state, "name:s", QEL_ATTR_PAGE_NUMBER, 0, "obj:i", page, 0, LST_END);
  const int marked = attr ? call_elf_object_method(state, image, "setAttr", attr, nullptr) : QEL_STATUS_FAILED;
  elfDiscard(attr);
  if (marked != QEL_STATUS_OK) {
    elfRefDown(image);
    return attr ? marked : fail(state, "%s: Unable to build the result\n", reader_name);
  }
  elf_object* list = lstBuildArgs(state, "img:QELIMAGE", image, 0, LST_END);
  elfRefDown(image);
  return give(state, result, list, reader_name);
}

int reader_release(elf_state* state, elf_DOCUMENTREADER* r) {
  if (r->fns.Release) r->fns.Release(&r->hdr);
  r->backend = nullptr;
  r->pagecnt = -1;
  const int pending = getStatus(state);
  return pending == QEL_STATUS_INVALID && getStatusSeverity(state) == QEL_SEVERITY_WARNING ? QEL_STATUS_OK : pending;
}

// ---- Writer ----

constexpr const char* writer_name = "DocWriteMethods";

// Formats whose pages are brought up to date before they are written.
bool updates_images(int32_t format) {
  return format == DIO_FORMAT_TIFF || format == DIO_FORMAT_PDF || format == DIO_FORMAT_TIFFFX ||
         format == DIO_FORMAT_XPS;
}

int writer_add_page(elf_state* state, elf_DOCUMENTWRITER* w, elf_object* args, elf_object** result, bool append) {
  elf_object* image = nullptr;
  lstScanArgs(args, "pgImg:QELIMAGE", LST_OPTIONAL, &image, LST_END);
  const auto slot = append ? w->fns.AppendPage : w->fns.InsertPage;
  if (!slot) return fail(state, "%s: Error, no IO handle\n", writer_name);
  if (append) {
    const elf_QELIMAGE* im = qelImage(image);
    if (!im || !im->layers || im->layerCount < 1) {
      return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s:Invalid input for append page to %s\n",
                       writer_name, dio::or_text(w->filename));
    }
    if (updates_images(w->format)) {
      const int status = QELUpdateQELIMAGE(image);
      if (status != QEL_STATUS_OK) return status;
    }
  }
  int32_t count = -1;
  const int status = slot(w->backend, image, &count);
  // A back end that reports a failure has set its status; one that counts wrong has not.
  if (status != QEL_STATUS_OK) return status;
  if (count != w->pagecnt + 1) {
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR,
                     append ? "%s:Failed to exec deferred processing for append page to %s\n"
                            : "%s:Failed to insert page to %s\n",
                     writer_name, dio::or_text(w->filename));
  }
  w->pagecnt = count;
  return count_result(state, count, result, writer_name);
}

int writer_attributes(elf_DOCUMENTWRITER* w, elf_object* args, elf_object** result,
                      const char* method, bool changes) {
  const int status = QELAttributes(&w->attributes, args, result, method);
  if (status != QEL_STATUS_OK || !changes || !w->fns.SetAttributes) return status;
  return w->fns.SetAttributes(w->backend, w->attributes);
}

int writer_specs(elf_state* state, elf_DOCUMENTWRITER* w, elf_object** result, bool copy) {
  if (!w->transspecs) {
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "No valid specification list\n");
  }
  elf_object* list = copy ? copy_LIST(w->transspecs) : w->transspecs;
  if (!list) return fail(state, "%s: Unable to build the result\n", writer_name);
  elf_object* out = lstBuildArgs(state, "speclist:LIST", list, 0, LST_END);
  if (!out && copy) elfDiscard(list);
  return give(state, result, out, writer_name);
}

// The size of the document file so far (0 before it exists), within what "size:i" holds.
int32_t file_size(const char* filename) {
  struct stat st;
  if (!filename || stat(filename, &st) != 0) return 0;
  return st.st_size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(st.st_size);
}

// The checks both dispatchers make first: a started object, then a member name. Gives the
// member name, or null with the status reported in *status.
template <class R>
const char* member_name(R* obj, elf_object* args, const char* who, const char* no_method, int* status) {
  elf_state* state = state_of(args);
  const char* method = nullptr;
  if (!obj || !obj->backend) {
    *status = fail(state, "%s: Error, no IO handle\n", who);
  } else if (!lstScanArgs(args, "CALL_NAME:s", LST_REQUIRED, &method, LST_END)) {
    *status = fail(state, no_method, who);
  }
  return method;
}

// The members the two dispatchers answer alike; false for the others.
template <class R>
bool common_member(elf_state* state, R* obj, const char* method, elf_object** result, const char* who, int* status) {
  if (std::strcmp(method, "getFormat") == 0) {
    *status = format_result(state, obj, result, who);
  } else if (std::strcmp(method, "getFilename") == 0) {
    *status = give(state, result, lstBuildArgs(state, "filename:s", dio::or_empty(obj->filename), 0, LST_END), who);
  } else {
    return false;
  }
  return true;
}

}  // namespace

int DocReadMethods(void* target, elf_object* args, elf_object** result) {
  elf_state* state = state_of(args);
  elf_DOCUMENTREADER* r = dioReader(static_cast<elf_object*>(target));
  int status = QEL_STATUS_OK;
  const char* method = member_name(r, args, reader_name, "%s:Internal Object Error - No such method\n", &status);
  if (!method || common_member(state, r, method, result, reader_name, &status)) return status;
  if (std::strcmp(method, "getPageCount") == 0) return reader_page_count(state, r, result);
  if (std::strcmp(method, "getPage") == 0) return reader_page(state, r, args, result);
  if (std::strcmp(method, "release") == 0) return reader_release(state, r);
  return QEL_STATUS_OK;
}

int DocWriteMethods(void* target, elf_object* args, elf_object** result) {
  elf_state* state = state_of(args);
  elf_DOCUMENTWRITER* w = dioWriter(static_cast<elf_object*>(target));
  int status = QEL_STATUS_OK;
  const char* method = member_name(w, args, writer_name, "%s:Internal Object Error - No such Method\n", &status);
  if (!method || common_member(state, w, method, result, writer_name, &status)) return status;
  if (std::strcmp(method, "getFileSize") == 0) {
    return give(state, result, lstBuildArgs(state, "size:i", file_size(w->filename), 0, LST_END), writer_name);
  }
  if (std::strcmp(method, "listSpecs") == 0) return writer_specs(state, w, result, true);
  if (std::strcmp(method, "refSpecs") == 0) return writer_specs(state, w, result, false);
  if (std::strcmp(method, "setAttr") == 0 || std::strcmp(method, "clearAttr") == 0) {
    return writer_attributes(w, args, result, method, true);
  }
  if (std::strcmp(method, "getAttr") == 0) return writer_attributes(w, args, result, method, false);
  if (std::strcmp(method, "getPageCount") == 0) return count_result(state, w->pagecnt, result, writer_name);
  if (std::strcmp(method, "appendPage") == 0) return writer_add_page(state, w, args, result, true);
  if (std::strcmp(method, "insertPage") == 0) return writer_add_page(state, w, args, result, false);
  if (std::strcmp(method, "release") == 0) {
    // Writing happens here: a back end that cannot finish its file says so through the status.
    clearStatus(state);
    if (w->fns.Release) w->fns.Release(&w->hdr);
    w->backend = nullptr;
    const int pending = getStatus(state);
    return pending == QEL_STATUS_INVALID && getStatusSeverity(state) == QEL_SEVERITY_WARNING ? QEL_STATUS_OK : pending;
  }
  if (std::strcmp(method, "releaseJbig2") == 0) {
    return w->format == DIO_FORMAT_PDF ? PDFEndJbig2(w->backend, state) : QEL_STATUS_OK;
  }
  return QEL_STATUS_OK;
}

int DocQuery(void*, elf_object* args, elf_object** result) {
  elf_state* state = state_of(args);
  const char* name = nullptr;
  lstScanArgs(args, "name:s", LST_OPTIONAL, &name, LST_END);
  elf_object* answer = lstBuildArgs(state, "exists:b", 0, 0, LST_END);
  elf_object* list = answer ? lstBuildArgs(state, "results:", answer, 0, LST_END) : nullptr;
  if (!list) elfDiscard(answer);
  return give(state, result, list, "DocQuery");
}

int DocReadChecksum(void* target, elf_object* args, elf_object** result) {
  elf_state* state = state_of(args);
  elf_DOCUMENTREADER* r = dioReader(static_cast<elf_object*>(target));
  if (!r || !r->backend) return fail(state, "%s: Error, no IO handle\n", "DocReadChecksum");
  int32_t sum = 0;
  if (r->fns.ReadGetChecksum) {
    const int status = r->fns.ReadGetChecksum(state, r->backend, &sum);
    if (status != QEL_STATUS_OK) return status;
  }
  return give(state, result, lstBuildArgs(state, "sum:i", sum, 0, LST_END),
              "DocReadChecksum");
}
