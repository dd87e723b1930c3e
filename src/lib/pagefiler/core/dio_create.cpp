// Creating readers and writers: MakeDocReader, MakeDocWriter; and PDFDecompose.

#include <strings.h>

#include <cerrno>
#include <cstring>

#include "dio_backends.h"
#include "dio_internal.h"

namespace {

constexpr DocReaderFormatFns pdf_reader{PDFRelease, PDFReadGetPage, PDFReadGetChecksum, PDFReadGetPageCount};
constexpr DocReaderFormatFns xps_reader{__XPSRelease, __XPSReadGetPage, __XPSGetChecksum, __XPSReadGetPageCount};
constexpr DocReaderFormatFns std_reader{__StdKVRelease, __StdKVReadGetPage, StdKVReadGetChecksum,
                                        __StdKVReadGetPageCount};

constexpr DocWriterFormatFns pdf_writer{PDFRelease, PDFInsertPage, PDFAppendPage, PDFSetAttributes};
constexpr DocWriterFormatFns xps_writer{__XPSRelease, __XPSInsertPage, __XPSAppendPage, __XPSSetAttributes};
constexpr DocWriterFormatFns std_writer{__StdKVRelease, __StdKVInsertPage, __StdKVAppendPage, StdKVSetAttributes};
constexpr DocWriterFormatFns tiff_writer{TIFFRelease, TIFFInsertPage, TIFFAppendPage, TIFFSetAttributes};

int fail(elf_state* context, const char* format, const char* who) {
  return setStatus(context, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, format, who);
}

int fail(elf_state* context, const char* format, const char* who, const char* name) {
  return setStatus(context, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, format, who, name);
}

// Hands the new object to the caller in a result list; on failure the object goes.
int hand_out(elf_state* context, elf_object* obj, const char* spec, elf_object** result, const char* who) {
  elf_object* list = lstBuildArgs(context, spec, obj, 0, LST_END);
  if (!list) elfDiscard(obj);
  return dio::give(context, result, list, who);
}

// Starts the reader's back end and fills its slots; the message for a failure otherwise.
const char* start_reader(elf_state* context, elf_DOCUMENTREADER* r, const char* password) {
  switch (r->format) {
    case DIO_FORMAT_PDF: {
      int error = 0;
      r->backend = PDFInit(r->filename, 'r', password, &error);
      r->fns = pdf_reader;
      return error == 1 ? "PDF_PASSWORD_PROTECT\n" : "Unable to initialize PDF IO\n";
    }
    case DIO_FORMAT_XPS:
      r->backend = __XPSInit(context, r->filename, 'r');
      r->fns = xps_reader;
      return "Unable to initialize XPS IO\n";
    default:
      r->backend = StdKVInit(context, r->filename, r->format, 1, &r->version);
      r->fns = std_reader;
      return "Unable to initialize Standard KV IO\n";
  }
}

// How a writer's back end is started, by format and subtype.
struct WriterStart {
  void* backend = nullptr;
  DocWriterFormatFns fns{};
  int (*transforms)(void*, elf_object*) = nullptr;
  bool checked = false;  // whether the transform setup's status counts
  bool pdf = false;
};

WriterStart start_writer(elf_state* context, elf_DOCUMENTWRITER* w, int32_t subtype, const char* password) {
  WriterStart s;
  switch (w->format) {
    case DIO_FORMAT_XPS:
      s = {__XPSInit(context, w->filename, 'w'), xps_writer, XPSInitTransforms, true, false};
      break;
    case DIO_FORMAT_TIFF:
      if (subtype >= DIO_SUBFORMAT_NONE && subtype <= DIO_SUBFORMAT_TIFF_TN2) {
        s = {StdKVInit(context, w->filename, DIO_FORMAT_TIFF, 0, &subtype), std_writer, StdKVInitTransforms, false,
             false};
      } else {
        s = {TIFFWriteInit(context, w->filename, DIO_FORMAT_TIFF, subtype), tiff_writer, TIFFInitTransforms, true,
             false};
      }
      break;
    case DIO_FORMAT_TIFFFX:
      s = {TIFFWriteInit(context, w->filename, DIO_FORMAT_TIFFFX, subtype), tiff_writer, TIFFInitTransforms, false,
           false};
      break;
    case DIO_FORMAT_PDF: {
      int error = 0;
      s = {PDFInit(w->filename, 'w', password, &error), pdf_writer, PDFInitTransforms, true, true};
      break;
    }
    default:
      s = {StdKVInit(context, w->filename, w->format, 0, nullptr), std_writer, StdKVInitTransforms, false, false};
      break;
  }
  return s;
}

// Sets a boolean attribute through the writer's own member, as the interpreter would.
int set_flag(elf_object* writer, const char* name) {
  elf_state* state = writer->state;
  elf_object* args = lstBuildArgs(state, "name:s", name, 0, "obj:b", 1, 0, LST_END);
  if (!args) return fail(state, "%s: Unable to build the result\n", "MakeDocWriter");
  const int status = call_elf_object_method(state, writer, "setAttr", args, nullptr);
  elfDiscard(args);
  return status;
}

}  // namespace

int MakeDocReader(void* target, elf_object* args, elf_object** result) {
  auto* context = static_cast<elf_state*>(target);
  constexpr const char* name = "MakeDocReader";
  if (!args) return fail(context, "%s: No filename provided\n", name);
  const char* filename = nullptr;
  const char* password = nullptr;
  if (!lstScanArgs(args, "filename:STRING", LST_REQUIRED, &filename, "password:STRING", LST_OPTIONAL, &password,
                   LST_END)) {
    return fail(context, "%s: No filename for document reader\n", name);
  }
  const KVngFileFormats* table = dio::file_formats(context, name);
  if (!table) return getStatus(context);
  const int32_t format = dio::reader_format(filename, table);
  if (format == DIO_FORMAT_DEFAULT) {
    return fail(context, "%s: No supported file format was found by name or extension for %s\n", name, filename);
  }

  elf_object* obj = new_elf_object(context, "DOCUMENTREADER", nullptr);
  elf_DOCUMENTREADER* r = dioReader(obj);
  if (!r || !(r->filename = elfStrDup(filename))) {
    elfDiscard(obj);
    return fail(context, "%s: Unable to create the document reader\n", name);
  }
  r->pagecnt = -1;
  r->format = format;
  const char* failure = start_reader(context, r, password);
  if (!r->backend) {
    elfDiscard(obj);
    return setStatus(context, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s", failure);
  }
  return hand_out(context, obj, "docrd:DOCUMENTREADER", result, name);
}

int MakeDocWriter(void* target, elf_object* args, elf_object** result) {
  auto* context = static_cast<elf_state*>(target);
  constexpr const char* name = "MakeDocWriter";
  if (!args) return fail(context, "%s: No filename provided\n", name);
  const char* filename = nullptr;
  if (!lstScanArgs(args, "filename:STRING", LST_REQUIRED, &filename, LST_END)) {
    return fail(context, "%s: No filename for document writer\n", name);
  }
  const char* format_name = nullptr;
  const char* subtype_name = nullptr;
  const char* password = nullptr;
  int32_t testfile = 0;
  if (!lstScanArgs(args, "format:STRING", LST_OPTIONAL, &format_name, "subtype:STRING", LST_OPTIONAL, &subtype_name,
                   "testfile:b", LST_OPTIONAL, &testfile, "password:s", LST_OPTIONAL, &password, LST_END)) {
    return fail(context, "%s: Error getting input args\n", name);
  }
  int32_t format = StringToFormatType(format_name);
  const int32_t subtype = StringToSubFormatType(subtype_name);
  if (format == DIO_FORMAT_DEFAULT) {
    const KVngFileFormats* table = dio::file_formats(context, name);
    if (!table) return getStatus(context);
    format = dio::writer_format(filename, table);
  }
  if (format == DIO_FORMAT_DEFAULT) return fail(context, "%s: No supported file format found by name or extension\n", name);

  elf_object* obj = new_elf_object(context, "DOCUMENTWRITER", nullptr);
  elf_DOCUMENTWRITER* w = dioWriter(obj);
  if (!w || !(w->filename = elfStrDup(filename))) {
    elfDiscard(obj);
    return fail(context, "%s: Unable to create the document writer\n", name);
  }
  w->format = format;
  w->version = subtype;
  errno = 0;
  const WriterStart start = start_writer(context, w, subtype, password);
  if (!start.backend) {
    // The system's reason, when opening the file is what failed.
    const int why = errno;
    elfDiscard(obj);
    if (why == 0) return fail(context, "Failed to open file %s for writing\n", filename);
    return setStatus(context, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "Failed to open file %s for writing: %s\n", filename,
                     std::strerror(why));
  }
  w->backend = start.backend;
  int status = start.pdf ? dioPDFSetVersion(start.backend, subtype, context) : QEL_STATUS_OK;
  elf_object* specs = status == QEL_STATUS_OK ? new_LIST(context, nullptr, nullptr) : nullptr;
  if (specs) {
    ELF_ASSIGN(context, &w->transspecs, specs);
    const int setup = start.transforms(start.backend, w->transspecs);
    if (start.checked) status = setup;
  } else if (status == QEL_STATUS_OK) {
    status = fail(context, "%s: Unable to create the document writer\n", name);
  }
  if (status != QEL_STATUS_OK) {
    start.fns.Release(obj);
    w->backend = nullptr;
    elfDiscard(obj);
    return status;
  }
  w->fns = start.fns;
  w->testfile = testfile;
  if (format == DIO_FORMAT_PDF && subtype_name) {
    const char* flag = strcasecmp(subtype_name, "linear") == 0    ? "_PDFlinearized"
                       : strcasecmp(subtype_name, "archive") == 0 ? "_PDFarchive"
                                                                  : nullptr;
    status = flag ? set_flag(obj, flag) : QEL_STATUS_OK;
    if (status != QEL_STATUS_OK) {
      elfDiscard(obj);
      return status;
    }
  }
  return hand_out(context, obj, "docwt:DOCUMENTWRITER", result, name);
}

int PDFDecompose(void* target, elf_object* args, elf_object** result) {
  auto* context = static_cast<elf_state*>(target);
  constexpr const char* name = "PDFDecompose";
  if (!args) return fail(context, "%s: No filename or destname provided\n", name);
  const char* filename = nullptr;
  const char* destname = nullptr;
  const char* password = nullptr;
  if (!lstScanArgs(args, "filename:STRING", LST_REQUIRED, &filename, "destname:STRING", LST_REQUIRED, &destname,
                   "password:STRING", LST_OPTIONAL, &password, LST_END)) {
    return fail(context, "%s: Error getting input args\n", name);
  }
  const KVngFileFormats* table = dio::file_formats(context, name);
  if (!table) return getStatus(context);
  if (dio::reader_format(filename, table) != DIO_FORMAT_PDF) {
    return fail(context, "%s: %s is not a PDF file\n", name, filename);
  }
  const int32_t pages = PDFObjsToTextFile(filename, destname, password);
  return dio::give(context, result, lstBuildArgs(context, "pgcnt:i", pages, 0, LST_END), name);
}
