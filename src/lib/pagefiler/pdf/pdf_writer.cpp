// The PDF back end's life cycle: opening a reader or writer, the output version, the writer's
// transform specifications and attributes, and closing (document information, PDF/A parts and
// the post-format step of the outside plug-in pdflib2qel).

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "dio_backends.h"
#include "dio_transform.h"
#include "kvng.h"
#include "kvng_hdr.h"
#include "kvng_io.h"
#include "kvng_print.h"
#include "pdf_write.h"
#include "safe_output.h"
#include "sstate.h"

namespace {

constexpr char kCorrupt[] = "Object Error - PDF internal State corrupt\n";
constexpr char kDefaultCreator[] = "monodoc PDF writer";
constexpr char kDefaultProducer[] = "libpagefiler";
constexpr char kRegistry[] = "http://www.color.org";
constexpr char kTestDate[] = "D:20080101000000Z00'00'";
constexpr char kTestDateArchive[] = "D:20080101000000Z";

constexpr int32_t kDefaultJpegQuality = 85;

// The post-format entries, bound by name on first use and kept for the life of the library.
using PostFormatFn = int (*)(elf_state*, elf_object*);
using ProducerFn = char* (*)(void);
PostFormatFn g_encrypt = nullptr;
PostFormatFn g_linearize = nullptr;
ProducerFn g_producer = nullptr;

char* dup(const char* text) { return text ? elfStrDup(text) : nullptr; }

// The file a writer's document is made in until it is whole; the file itself for a reader.
const char* working_file(const PdfDocState* s) {
  return s->output && s->output->temp ? s->output->temp : s->filename;
}

void replace_text(char** slot, const char* text) {
  _elfFree(*slot);
  *slot = dup(text);
}

int invalid(elf_state* state, const char* text) { return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "%s", text); }

template <typename F>
bool bind_entry(const char* name, F* place) {
  if (*place) return true;
  void* p = nullptr;
  if (KVngRetrieveFunc(name, "pdflib2qel", &p) != 1 || !p) return false;
  *place = reinterpret_cast<F>(p);
  return true;
}

// The caller's metadata as a stream: the one /Metadata stream of the catalog, replaced (never
// added beside) when set again.
int write_metadata(PdfDocState* s, const char* packet) {
  PDFDoc* doc = s->doc;
  PDFObj* stream = PDFCreateStream(doc);
  if (!stream || PDFAddDictEntry(doc, stream, "Type", PDFCreateName(doc, "Metadata")) != 1 ||
      PDFAddDictEntry(doc, stream, "Subtype", PDFCreateName(doc, "XML")) != 1 ||
      PDFAppendStream(doc, stream, packet, std::strlen(packet)) != 1 || PDFMakeObjectIndirect(doc, stream) != 1 ||
      PDFAddDictEntry(doc, PDFGetCatalog(doc), "Metadata", stream) != 1) {
    return 0;
  }
  s->metadataStream = stream;
  return 1;
}

// The PDF/A description with the caller's own descriptions (if any) inside the same RDF, so the
// archive's one metadata stream keeps both.
std::string merged_xmp(const PdfDocState* s, const char* rdf) {
  std::string out = rdf;
  if (!s->metadataText) return out;
  const std::string user = s->metadataText;
  const size_t from = user.find("<rdf:Description");
  const size_t last = user.rfind("</rdf:Description>");
  const size_t at = out.rfind("</rdf:RDF>");
  if (from == std::string::npos || last == std::string::npos || last < from || at == std::string::npos) return out;
  out.insert(at, user.substr(from, last + std::strlen("</rdf:Description>") - from) + "\n");
  return out;
}

int write_archive_parts(PdfDocState* s, const char* date, const char* creator, const char* producer, int32_t testMode) {
  PDFDoc* doc = s->doc;
  char* rdf = PDFWt_MetaDataStr_noPacketHeader(date, creator, producer);
  if (!rdf) return 0;
  std::string xmp;
  try {
    xmp = merged_xmp(s, rdf);
  } catch (...) {
    kvng_internal_free(rdf);
    return 0;
  }
  kvng_internal_free(rdf);
  char* packet = PDFWt_InsertMetaDataStr(nullptr, xmp.c_str());
  if (!packet) return 0;
  const int wrote = write_metadata(s, packet);
  kvng_internal_free(packet);
  if (!wrote) return 0;

  size_t iccLength = 0;
  const unsigned char* made = ICC_sRGB(&iccLength);
  std::string icc;
  if (made) icc.assign(reinterpret_cast<const char*>(made), iccLength);
  // The profile carries the time it was made (ICC.1 7.2.1, bytes 24 to 35); in test mode it gets
  // the fixed date of the run instead, unless a profile ID (bytes 84 to 99) seals its bytes.
  constexpr size_t kDateAt = 24, kDateLength = 12, kIdAt = 84, kIdLength = 16;
  if (testMode && icc.size() >= kIdAt + kIdLength &&
      icc.compare(kIdAt, kIdLength, std::string(kIdLength, '\0')) == 0) {
    static constexpr unsigned char kFixed[kDateLength] = {0x07, 0xD8, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0};
    icc.replace(kDateAt, kDateLength, reinterpret_cast<const char*>(kFixed), kDateLength);
  }
  PDFObj* profile = PDFCreateStream(doc);
  if (icc.empty() || !profile || PDFAddDictEntry(doc, profile, "N", PDFCreateInteger(doc, 3)) != 1 ||
      PDFAddDictEntry(doc, profile, "Alternate", PDFCreateName(doc, "DeviceRGB")) != 1 ||
      PDFSetStreamFilter(doc, profile, PDF_FILTER_FLATE, nullptr) != 1 ||
      PDFAppendStream(doc, profile, icc.data(), icc.size()) != 1 || PDFMakeObjectIndirect(doc, profile) != 1) {
    return 0;
  }
  PDFObj* intent = PDFCreateDict(doc);
  PDFObj* intents = PDFCreateArray(doc);
  if (!intent || !intents || PDFAddDictEntry(doc, intent, "Type", PDFCreateName(doc, "OutputIntent")) != 1 ||
      PDFAddDictEntry(doc, intent, "S", PDFCreateName(doc, "GTS_PDFA1")) != 1 ||
      PDFAddDictEntry(doc, intent, "RegistryName", PDFCreateString(doc, kRegistry, -1)) != 1 ||
      PDFAddDictEntry(doc, intent, "OutputConditionIdentifier",
                      PDFCreateString(doc, "sRGB IEC 61966-2.1 Default RGB color space", -1)) != 1 ||
      PDFAddDictEntry(doc, intent, "Info", PDFCreateString(doc, "sRGB IEC 61966-2.1", -1)) != 1 ||
      PDFAddDictEntry(doc, intent, "DestOutputProfile", profile) != 1 || PDFMakeObjectIndirect(doc, intent) != 1 ||
      PDFAddArrayObject(doc, intents, intent) != 1 ||
      PDFAddDictEntry(doc, PDFGetCatalog(doc), "OutputIntents", intents) != 1) {
    return 0;
  }
  return 1;
}

// The version the writer was asked for, as the post-format plug-in takes it: it chooses the
// security handler by it (AES-256 for 1.7, RC4-128 for 1.4) and never writes an older header.
const char* version_text(int32_t subtype) {
  switch (subtype) {
    case DIO_SUBFORMAT_PDF_13:
      return "1.3";
    case DIO_SUBFORMAT_PDF_17:
      return "1.7";
    default:
      return "1.4";
  }
}

// The encryption entry's arguments, in the order the plug-in takes them.
int run_encrypt(elf_state* state, PdfDocState* s, const char* creator, int32_t testMode) {
  if (!bind_entry("PDFLIB_PostFormatEncrypt", &g_encrypt)) {
    elfMessage(state, "PDFRelease: %s\n", KVngRetrieveError());
    return invalid(state, "PDF encryption support not enabled\n");
  }
  elf_object* args = new_LIST(state, nullptr, nullptr);
  bool ok = args != nullptr;
  if (ok && s->userPassword) ok = lstAppendArgs(args, "passwd:s", s->userPassword, 0, LST_END);
  if (ok && s->masterPassword) ok = lstAppendArgs(args, "masterpasswd:s", s->masterPassword, 0, LST_END);
  if (ok && s->tmpLocation) ok = lstAppendArgs(args, "tmpLocation:s", s->tmpLocation, 0, LST_END);
  if (ok && s->permissions) ok = lstAppendArgs(args, "permissions:LIST", s->permissions, 0, LST_END);
  if (ok && creator) ok = lstAppendArgs(args, "creator:s", creator, 0, LST_END);
  if (ok) {
    ok = lstAppendArgs(args, "compatibility:s", version_text(s->subtype), 0, "filename:s", working_file(s), 0,
                       LST_END);
  }
  if (ok && s->linearize) ok = lstAppendArgs(args, "linearize:b", 1, 0, LST_END);
  if (!ok) {
    elfDiscard(args);
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "PDFRelease: Unable to build the encryption arguments\n");
  }
  if (testMode) setenv("PDFTESTMODE", "TRUE", 1);
  const int result = g_encrypt(state, args);
  if (testMode) unsetenv("PDFTESTMODE");
  elfDiscard(args);
  if (result == 0) return 0;
  // The file was asked for encrypted: it does not stay readable without the password (the
  // caller drops the temporary file; the name keeps what it had).
  return getStatus(state) != QEL_STATUS_OK
             ? result
             : setStatus(state, result, QEL_SEVERITY_ERROR, "PDFRelease: encrypting %s failed\n", s->filename);
}

int run_linearize(elf_state* state, PdfDocState* s, const char* creator, const char* date, int32_t testMode) {
  if (!bind_entry("PDFLIB_PostFormatLinearize", &g_linearize)) {
    elfMessage(state, "PDFRelease: %s\n", KVngRetrieveError());
    return invalid(state, "PDF linearization support not enabled\n");
  }
  elf_object* args = lstBuildArgs(state, "filename:s", working_file(s), 0, LST_END);
  bool ok = args != nullptr;
  if (ok && creator) ok = lstAppendArgs(args, "creator:s", creator, 0, LST_END);
  if (ok && s->tmpLocation) ok = lstAppendArgs(args, "tmpLocation:s", s->tmpLocation, 0, LST_END);
  if (ok) ok = lstAppendArgs(args, "compatibility:s", version_text(s->subtype), 0, LST_END);
  if (ok && s->archive) {
    if (!bind_entry("PDFLIB_GetProducer", &g_producer)) {
      elfDiscard(args);
      elfMessage(state, "PDFRelease: %s\n", KVngRetrieveError());
      return invalid(state, "PDF post-format support not enabled\n");
    }
    char* producer = g_producer();
    char* rdf = PDFWt_MetaDataStr_noPacketHeader(date, creator, producer);
    kvng_internal_free(producer);
    std::string xmp;
    try {
      xmp = rdf ? merged_xmp(s, rdf) : std::string();
    } catch (...) {
      xmp.clear();
    }
    kvng_internal_free(rdf);
    char now[40];
    pdfw::pdf_date(now, sizeof now);
    ok = !xmp.empty() &&
         lstAppendArgs(args, "PDF_A:b", 1, 0, "metadata:s", xmp.c_str(), 0, "date:s", testMode ? date : now, 0, LST_END);
  }
  if (!ok) {
    elfDiscard(args);
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR,
                     "PDFRelease: Unable to build the linearization arguments\n");
  }
  if (testMode) setenv("PDFTESTMODE", "TRUE", 1);
  const int result = g_linearize(nullptr, args);
  if (testMode) unsetenv("PDFTESTMODE");
  elfDiscard(args);
  if (result != 0) {
    return getStatus(state) != QEL_STATUS_OK
               ? result
               : setStatus(state, result, QEL_SEVERITY_ERROR, "PDFRelease: linearizing %s failed\n", s->filename);
  }
  return testMode ? pdfw::prepare_for_crc(state, working_file(s), s->archive) : 0;
}

void free_state(PdfDocState* s) {
  if (s->output) SafeOut_Abort(s->output);
  _elfFree(s->output);
  _elfFree(s->filename);
  if (s->checksumIO) s->checksumIO->release(s->checksumIO);
  _elfFree(s->jbig2DictUid);
  kvng_internal_free(s->pageList);
  _elfFree(s->creator);
  _elfFree(s->tmpLocation);
  _elfFree(s->userPassword);
  _elfFree(s->masterPassword);
  _elfFree(s->metadataText);
  elfRefDown(s->permissions);
  s->tag1 = s->tag2 = 0;
  _elfFree(s);
}

// Closing a writer: everything from the information dictionary to the post-format step.
int release_writer(elf_object* obj, elf_state* state, PdfDocState* s, elf_object* attributes, int32_t testMode) {
  const char* producer = nullptr;
  lstScanArgs(attributes, "_DIOcreator:s", LST_OPTIONAL, &producer, LST_END);
  if (!producer) producer = kDefaultProducer;
  const char* creator = s->creator ? s->creator : producer;
  char date[40];
  if (testMode) {
    std::snprintf(date, sizeof date, "%s", s->archive ? kTestDateArchive : kTestDate);
  } else {
    pdfw::pdf_date(date, sizeof date);
  }
  (void)obj;
  PDFDoc* doc = s->doc;
  int status = QEL_STATUS_OK;
  if (PDFAddInfoDict(doc, "CreationDate", date, "Creator", creator, "Producer", producer, nullptr) != 1) {
    status = setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s", PDFErrorText(doc));
  } else if (s->archive && !write_archive_parts(s, date, creator, producer, testMode)) {
    status = setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "PDFRelease: PDF/A parts: %s\n", PDFErrorText(doc));
  } else if (s->archive && s->encrypt) {
    status = invalid(state, "PDFRelease: PDF/A files cannot be encrypted\n");
  } else if (s->archive && PDFCheckArchive(doc) != 1) {
    // A file that claims PDF/A and is not one is worse than none.
    status = invalid(state, (std::string("PDFRelease: not PDF/A-1b: ") + PDFErrorText(doc) + "\n").c_str());
  }
  // Post-formatting raises a 1.3 document to 1.4, never lowers a later version asked for.
  if ((s->linearize || s->encrypt) && s->subtype == DIO_SUBFORMAT_PDF_13) PDFSetVersion(doc, 14);
  s->doc = nullptr;
  // The document goes in any case; a failure leaves the file's name as it was (free_state drops
  // the temporary file).
  if (status != QEL_STATUS_OK) {
    PDFCloseFile(doc, testMode);
    return status;
  }
  if (PDFCloseFile(doc, testMode) != 1) {
    return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "PDFRelease: Unable to write %s\n", s->filename);
  }
  if (s->encrypt) {
    status = run_encrypt(state, s, creator, testMode);
  } else if (s->linearize && s->pageCount > 0) {
    // A document without pages has no first page to lay out for fast viewing: it stays as written.
    status = run_linearize(state, s, creator, date, testMode);
  }
  if (status == QEL_STATUS_OK && s->output && SafeOut_Commit(s->output) != 0) {
    status = setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "PDFRelease: %s\n", s->output->message);
  }
  return status;
}

}  // namespace

namespace pdfw {

// The media box LIST: four INTEGERs x, y, w, h.
int get_media_box(elf_state* state, elf_object* list, int32_t box[4]) {
  static const char* const names[] = {"x", "y", "w", "h"};
  if (!box) return invalid(state, "No PDF media array provided\n");
  // A page read from a PDF keeps the box as it stood, four DOUBLEs x0 y0 x1 y1: its width and
  // height are what a page written again takes.
  double corners[4];
  int doubles = 0;
  for (int i = 0; i < 4; ++i) {
    elf_object* item = elfIdentValue(elflistItem(list, i));
    if (elfIsType(item, "DOUBLE")) corners[doubles++] = reinterpret_cast<elf_DOUBLE*>(item)->value;
  }
  if (doubles == 4) {
    const double w = corners[2] - corners[0], h = corners[3] - corners[1];
    if (!(w > 0 && w < INT32_MAX && h > 0 && h < INT32_MAX) || std::fabs(corners[0]) > INT32_MAX ||
        std::fabs(corners[1]) > INT32_MAX) {
      elfMessage(state, "Invalid MediaBox \"w\" value\n");
      return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "PDF media box invalid w value\n");
    }
    box[0] = static_cast<int32_t>(std::lround(corners[0]));
    box[1] = static_cast<int32_t>(std::lround(corners[1]));
    box[2] = static_cast<int32_t>(std::lround(w));
    box[3] = static_cast<int32_t>(std::lround(h));
    return QEL_STATUS_OK;
  }
  for (int i = 0; i < 4; ++i) {
    elf_object* item = elfIdentValue(elflistItem(list, i));
    if (!elfIsType(item, "INTEGER")) {
      elfMessage(state, "Invalid MediaBox \"%s\" value\n", names[i]);
      return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "PDF media box invalid %s value\n", names[i]);
    }
    box[i] = reinterpret_cast<elf_INTEGER*>(item)->value;
  }
  return QEL_STATUS_OK;
}

PdfDocState* checked(void* backend) {
  auto* s = static_cast<PdfDocState*>(backend);
  return s && s->tag1 == PDF_STATE_TAG1 && s->tag2 == PDF_STATE_TAG2 ? s : nullptr;
}

void pdf_date(char* text, size_t size) {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  gmtime_r(&now, &t);
  std::snprintf(text, size, "D:%04d%02d%02d%02d%02d%02dZ00'00'", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                t.tm_min, t.tm_sec);
}

}  // namespace pdfw

extern "C" {

void* PDFInit(const char* filename, int mode, const char* password, int* passwordFlag) {
  if (passwordFlag) *passwordFlag = 0;
  if (!filename) return nullptr;
  auto* s = static_cast<PdfDocState*>(elfCalloc(1, sizeof(PdfDocState)));
  if (!s) return nullptr;
  s->tag1 = PDF_STATE_TAG1;
  s->tag2 = PDF_STATE_TAG2;
  s->jbig2Globals = -1;
  s->jbig2SectionLength = PDF_JBIG2_SECTION_PAGES;
  const char* base = std::strrchr(filename, '/');
  // A FIFO or a device is written under its own name.
  struct stat st {};
  const bool device = stat(filename, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode));
  const bool hasExtension = device || std::strchr(base ? base + 1 : filename, '.') != nullptr;
  const size_t length = std::strlen(filename);
  s->filename = static_cast<char*>(elfMalloc(length + 5));
  if (!s->filename) {
    _elfFree(s);
    return nullptr;
  }
  std::snprintf(s->filename, length + 5, "%s%s", filename, hasExtension ? "" : ".pdf");
  // A writer works in a temporary file beside the file, which nothing touches before the
  // document is whole.
  if (mode != 'r') {
    s->output = static_cast<SafeOut*>(elfCalloc(1, sizeof(SafeOut)));
    if (!s->output || SafeOut_Open(s->output, s->filename) != 0) {
      // The caller tells the system's reason.
      const int why = s->output ? s->output->error : ENOMEM;
      _elfFree(s->output);
      _elfFree(s->filename);
      _elfFree(s);
      errno = why;
      return nullptr;
    }
  }
  int32_t error = 0;
  s->doc = PDFOpenFilenameEx(working_file(s), mode, password, &error);
  if (!s->doc) {
    if (error == PDF_ERR_PASSWORD && passwordFlag) *passwordFlag = 1;
    if (s->output) SafeOut_Abort(s->output);
    _elfFree(s->output);
    _elfFree(s->filename);
    _elfFree(s);
    return nullptr;
  }
  s->writing = mode != 'r';
  s->contoneComp = -1;
  s->binaryComp = -1;
  s->jpegQuality = kDefaultJpegQuality;
  s->creator = elfStrDup(kDefaultCreator);
  return s;
}

int dioPDFSetVersion(void* backend, int32_t subtype, elf_state* context) {
  PdfDocState* s = pdfw::checked(backend);
  if (!s) return invalid(context, kCorrupt);
  int32_t version = 14;
  s->subtype = DIO_SUBFORMAT_PDF_14;
  if (subtype == DIO_SUBFORMAT_PDF_13) {
    version = 13;
    s->subtype = subtype;
  } else if (subtype == DIO_SUBFORMAT_PDF_17) {
    version = 17;
    s->subtype = subtype;
  }
  if (PDFSetVersion(s->doc, version) != 1) {
    return setStatus(context, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s", PDFErrorText(s->doc));
  }
  return QEL_STATUS_OK;
}

int PDFInitTransforms(void* backend, elf_object* specs) {
  elf_state* context = specs ? specs->state : nullptr;
  if (!pdfw::checked(backend)) {
    return setStatus(context, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "Invalid internal state structure in PDFInitTransforms\n");
  }
  // Which compression codes a PDF takes as they are, by code.
  static constexpr int32_t kCompressControl[20] = {1, 1, 1, 1, 1, 0, 1, 1, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0};
  for (int which = 0; which < 2; ++which) {
    elf_object* spec = nullptr;
    int status = __createDefaultTransformSpec(context, &spec);
    if (status != QEL_STATUS_OK) return status;
    status = __setTSAttributes(context, spec, DIO_FORMAT_PDF, DIO_SUBFORMAT_PDF_14, 0, 0, 2);
    if (status == QEL_STATUS_OK && which == 0) {
      status = __setTSCompression(context, spec, 0, 1, 0, 0);
      if (status == QEL_STATUS_OK) status = __setTSCompression(context, spec, 0, 0, kDefaultJpegQuality, 0);
    } else if (status == QEL_STATUS_OK) {
      status = __setTSCompressControlList(context, spec, kCompressControl);
    }
    if (status == QEL_STATUS_OK) status = __setTSInterleave(context, spec, 1, 1);
    if (status == QEL_STATUS_OK) status = __setTSInterleave(context, spec, 1, 0);
    if (status == QEL_STATUS_OK) status = __setTSRotate(context, spec, 90);
    if (status == QEL_STATUS_OK) status = __setTSAffine(context, spec, 1);
    if (status == QEL_STATUS_OK && elflistInsert(specs, spec, which == 0 ? 0 : -1, which) != 0) {
      status = setStatus(context, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "PDFInitTransforms: cannot keep a spec\n");
    }
    if (status != QEL_STATUS_OK) {
      elfDiscard(spec);
      return status;
    }
  }
  return QEL_STATUS_OK;
}

int PDFSetAttributes(void* backend, elf_object* attributes) {
  PdfDocState* s = pdfw::checked(backend);
  elf_state* state = attributes ? attributes->state : nullptr;
  if (!s) return invalid(state, kCorrupt);
  if (!attributes) {
    s->mediaX = s->mediaY = s->mediaW = s->mediaH = 0;
    s->center = s->linearize = s->archive = s->encrypt = 0;
    replace_text(&s->tmpLocation, nullptr);
    replace_text(&s->creator, kDefaultCreator);
    return QEL_STATUS_OK;
  }
  elf_object* box = nullptr;
  lstScanArgs(attributes, "_PDFmediabox:LIST *", LST_OPTIONAL, &box, LST_END);
  if (box) {
    int32_t values[4];
    if (const int status = pdfw::get_media_box(state, box, values); status != QEL_STATUS_OK) return status;
    s->mediaX = values[0];
    s->mediaY = values[1];
    s->mediaW = values[2];
    s->mediaH = values[3];
  } else {
    s->mediaX = s->mediaY = s->mediaW = s->mediaH = 0;
  }
  int32_t flag = 0;
  s->center = lstScanArgs(attributes, "_PDFcenter:b", LST_OPTIONAL, &(flag = 0), LST_END) ? flag : 0;
  s->linearize = lstScanArgs(attributes, "_PDFlinearized:b", LST_OPTIONAL, &(flag = 0), LST_END) ? flag : 0;
  s->archive = lstScanArgs(attributes, "_PDFarchive:b", LST_OPTIONAL, &(flag = 0), LST_END) ? flag : 0;
  s->deflateText = lstScanArgs(attributes, "_PDFdeflateText:b", LST_OPTIONAL, &(flag = 0), LST_END) ? flag : 0;
  const char* text = nullptr;
  if (lstScanArgs(attributes, "_PDFmasterpasswd:s", LST_OPTIONAL, &text, LST_END) && text) {
    replace_text(&s->masterPassword, text);
    s->encrypt = 1;
  }
  text = nullptr;
  if (lstScanArgs(attributes, "_PDFpasswd:s", LST_OPTIONAL, &text, LST_END) && text) {
    replace_text(&s->userPassword, text);
    s->encrypt = 1;
  }
  elf_object* restriction = nullptr;
  if (lstScanArgs(attributes, "_PDFrestrict:LIST *", LST_OPTIONAL, &restriction, LST_END) && restriction) {
    elfRefUp(restriction);
    elfRefDown(s->permissions);
    s->permissions = restriction;
    s->encrypt = 1;
  }
  text = nullptr;
  if (lstScanArgs(attributes, "_PDFmetadata:s", LST_OPTIONAL, &text, LST_END) && text &&
      KVngStrCmp(text, s->metadataText) != 0) {
    SState* strings = SState_NewStateDefault();
    char* packet = PDFWt_InsertMetaDataStr(strings, text);
    SState_FreeState(strings);
    if (packet && write_metadata(s, packet)) replace_text(&s->metadataText, text);
    kvng_internal_free(packet);
  }
  int32_t value = 0;
  s->contoneComp = lstScanArgs(attributes, "_DIOcontonecomp:i ", LST_OPTIONAL, &(value = 1), LST_END) ? value : 1;
  s->binaryComp = lstScanArgs(attributes, "_DIObinarycomp:i ", LST_OPTIONAL, &(value = 3), LST_END) ? value : 3;
  s->jpegQuality = lstScanArgs(attributes, "_DIOjpegqual:i ", LST_OPTIONAL, &(value = kDefaultJpegQuality), LST_END)
                       ? value
                       : kDefaultJpegQuality;
  s->jbig2Type = lstScanArgs(attributes, "_DIOjb2type:i ", LST_OPTIONAL, &(value = 0), LST_END) ? value : 0;
  if (lstScanArgs(attributes, "_DIOjb2lossless:b ", LST_OPTIONAL, &(flag = 0), LST_END) && flag) s->jbig2Lossless = 1;
  text = nullptr;
  lstScanArgs(attributes, "_DIOcreator:s", LST_OPTIONAL, &text, LST_END);
  replace_text(&s->creator, text);
  text = nullptr;
  lstScanArgs(attributes, "_DIOTmpLocation:s", LST_OPTIONAL, &text, LST_END);
  replace_text(&s->tmpLocation, text);
  return QEL_STATUS_OK;
}

int PDFInsertPage(void* backend, elf_object* image, int32_t* count) {
  elf_state* state = image ? image->state : nullptr;
  PdfDocState* s = pdfw::checked(backend);
  if (!s) {
    if (count) *count = -1;
    return invalid(state, kCorrupt);
  }
  if (count) *count = s->pageCount;
  return invalid(state, "PDF insert page not implemented\n");
}

void PDFRelease(elf_object* obj) {
  elf_DOCUMENTWRITER* w = dioWriter(obj);
  elf_DOCUMENTREADER* r = w ? nullptr : dioReader(obj);
  PdfDocState* s = pdfw::checked(w ? w->backend : r ? r->backend : nullptr);
  if (!s) return;
  elf_state* state = obj->state;
  if (s->writing && w) {
    release_writer(obj, state, s, w->attributes, w->testfile);
  } else if (s->doc) {
    PDFCloseFile(s->doc, 0);
  }
  s->doc = nullptr;
  free_state(s);
}

}  // extern "C"
