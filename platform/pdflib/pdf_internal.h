#ifndef PDF_INTERNAL_H
#define PDF_INTERNAL_H

// What the files of the PDF library share: the document's inner record over qpdf, object
// handles, the pending state of streams being written, and the guard every entry point runs in.

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <cstdarg>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "pdf_codec.h"
#include "pdflib.h"

struct PDFObj {
  QPDFObjectHandle h;
  KVngSB* sb = nullptr;      // the stream's data buffer, made on first use
  std::string text;          // the object's text form, kept for PDFObjectText
  bool pinned = false;       // held by the library itself (page list, images): never freed early
  ~PDFObj() { KVngSBFree(sb); }
};

namespace pdflib {

// One filter of a stream being written, with its parameters.
struct Filter {
  int32_t code = PDF_FILTER_NONE;
  std::map<std::string, int32_t> params;
};

// A stream the writer has made or changed: its bytes until the document is written.
struct PendingStream {
  enum Kind { EMPTY, RAW, PRECOMPRESSED };
  Kind kind = EMPTY;
  std::string data;
  std::vector<Filter> filters;   // coding order: the first codes the samples
  bool decodeSet = false;
  double decodeLo = 0, decodeHi = 1;
  bool tokenized = false;        // handed to the JBIG2 coder, its data to come from there
};

struct OperatorHook {
  PDFOperatorCallback callback = nullptr;
  void* data = nullptr;
};

struct EventHook {
  PDFEventCallback callback;
  void* data;
};

// A resource entry the resource manager keeps, with its own copies of the names.
struct KeptResource {
  std::string baseFont;
  std::string name;
  PDFResourceEntry entry{};
};

// Coded stream data that wait in a temporary file for the document to be written.
class Spool;

struct Jbig2Coder {
  void* handle = nullptr;
  PDFJbig2Engine engine{};           // the coder the handle came from, kept however it changes
  bool arithmetic = false;
  std::vector<QPDFObjGen> pending;   // pages of the open section
};

}  // namespace pdflib

struct PDFDocImpl {
  QPDF pdf;
  std::string name;
  std::string memory;                // the bytes of a document opened from memory
  std::string errorText;
  int32_t version = 14;
  std::vector<std::unique_ptr<PDFObj>> handles;
  std::map<QPDFObjGen, pdflib::PendingStream> streams;
  std::shared_ptr<pdflib::Spool> spool;            // made when the first page closes
  std::set<QPDFObjGen> spooled;                    // streams coded into it: final
  std::map<QPDFObjGen, std::string> imageNames;    // written images: their resource names
  std::vector<PDFObj*> pageHandles;                // the page list
  std::vector<QPDFObjGen> bookmarks;
  std::map<std::string, std::unique_ptr<pdflib::KeptResource>> resources;
  std::map<std::string, QPDFObjectHandle> standardFonts;
  QPDFObjectHandle srgbProfile;
  std::map<QPDFObjGen, std::unique_ptr<PDFImage>> images;
  std::vector<std::unique_ptr<PDFColorSpace>> colorSpaces;
  std::map<int32_t, PDFColorSpace*> deviceSpaces;
  std::map<std::string, PDFColorSpace*> namedSpaces;   // by resource dictionary and name
  std::vector<pdflib::OperatorHook> registered = std::vector<pdflib::OperatorHook>(PDF_OP_COUNT);
  std::vector<std::vector<pdflib::OperatorHook>> added = std::vector<std::vector<pdflib::OperatorHook>>(PDF_OP_COUNT);
  std::vector<pdflib::EventHook> events;
  PDFObj* currentResources = nullptr;    // of the running extraction, for colour-space names
  int formDepth = 0;
  std::vector<QPDFObjGen> formStack;
  std::vector<QPDFObjectHandle> scratch;   // content being parsed, one stream per form depth
  size_t pageForms = 0;                // forms the running page extraction has run
  size_t pageContent = 0;              // content bytes it has decoded, its forms' included
  pdflib::Jbig2Coder jbig2;
  std::vector<std::string> warnings;   // damage repaired while reading, the first ones kept
  int32_t warningCount = 0;            // all of them
};

namespace pdflib {

inline PDFDocImpl* impl(PDFDoc* doc) { return doc ? doc->impl : nullptr; }

// Records the reason of a failing call and returns 0 (or null through the template).
int fail(PDFDoc* doc, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A handle of the document for h; null when h is not initialized.
PDFObj* wrap(PDFDoc* doc, QPDFObjectHandle h, bool pinned = false);

// The object behind a handle, references followed; a null handle when there is none.
QPDFObjectHandle resolved(PDFObj* obj);

// Runs body, which answers a result, turning any exception (qpdf reports damage by throwing) into
// a failure recorded with the call's name: the answer is then fallback.
template <typename T, typename F>
T guarded(PDFDoc* doc, const char* call, T fallback, F&& body) {
  if (!doc || !doc->impl) return fallback;
  try {
    return body();
  } catch (const std::exception& e) {
    fail(doc, "%s: %s", call, e.what());
  } catch (...) {
    fail(doc, "%s: unexpected failure", call);
  }
  return fallback;
}

// The pending state of a stream being written (made on first use).
PendingStream& pending(PDFDocImpl* d, QPDFObjectHandle stream);

// Components of a colour space object as written (1, 3, 4; 0 when it cannot tell).
int components_of(QPDFObjectHandle space);

// Writes every pending stream into the document: data coded through its filters.
void finalize_streams(PDFDoc* doc);
// Codes every pending stream that holds its data (those with the JBIG2 coder wait) into the
// spool file and lets go of its memory; the streams are final from then on. Throws on failure.
void spool_streams(PDFDoc* doc);
// Codes data through the filters of a stream whose dictionary is dict; throws on failure.
std::string encode(const std::string& data, const std::vector<Filter>& filters, QPDFObjectHandle dict);
// The decoded bytes of a stream; throws when they cannot be had.
std::string decode(PDFDoc* doc, QPDFObjectHandle stream);

// Reading: what a stream may decode to (images by their declared size), its data decoded within
// a budget, a page's or form's content decoded within the content budget; each throws with the
// object named when the data are damaged or exceed the budget.
size_t decode_budget(QPDFObjectHandle stream);
std::string decode_bounded(QPDFObjectHandle stream, size_t budget);
// The content of a page or form, counted against the running page's total.
std::string decode_content(PDFDoc* doc, QPDFObjectHandle content);
// A page extraction starts: its totals go back to zero.
void start_page_totals(PDFDoc* doc);
// Counts one more form run on the page; false, with the reason in the document's error record,
// when the page's budget of forms is spent.
bool count_form(PDFDoc* doc);
// Moves qpdf's warnings (damage it repaired) into the document's list and prints them.
void collect_warnings(PDFDoc* doc);

// Names: kind PDF_OBJ_* of a handle.
int32_t kind_of(QPDFObjectHandle h);

// Writes the document outline from the bookmarks.
void write_outlines(PDFDoc* doc);

// Ends an open JBIG2 section and the coder (document close).
int jbig2_finish(PDFDoc* doc);

// The filters of an object as the file will name them ("/FlateDecode"): those set on a stream
// still being written, else those of its /Filter entry.
std::vector<std::string> filter_names(PDFDoc* doc, QPDFObjectHandle h);

// 1 when the document's version holds a feature that needs PDF 1.(need % 10); otherwise 0 with
// "call: what need PDF 1.x; the document is PDF 1.y" as the reason.
int require_version(PDFDoc* doc, int32_t need, const char* what, const char* call);

// The oldest version that holds what the written objects use (13 when nothing newer), with what
// needs it.
int32_t version_needed(PDFDoc* doc, std::string* what);

// libmonocodec's engine API as a JBIG2 coder, bound by name on first use; null with the reason
// when the plug-in or one of its entry points cannot be had.
const PDFJbig2Engine* monocodec_engine(std::string* why);

}  // namespace pdflib

#endif
