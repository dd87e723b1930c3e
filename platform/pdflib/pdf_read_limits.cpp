// The reading side's limits: stream data decoded through a counting pipeline with a named budget,
// content streams decoded the same way before they are parsed, and the damage qpdf repaired while
// reading gathered as warnings with their object and offset.

#include <qpdf/Pipeline.hh>
#include <qpdf/QPDFExc.hh>

#include <algorithm>
#include <cinttypes>
#include <stdexcept>

#include "kvng_print.h"
#include "pdf_internal.h"

namespace {

// qpdf decodes Flate (and LZW) without a limit of its own, so a few kilobytes of stored data can
// ask for gigabytes. Every decode of the reading side runs through a pipeline that counts what
// comes out and stops the filters at its budget.

// An image may decode to its declared rows and no further than this: producers pad the last row
// or add an end-of-data marker, nothing more.
constexpr size_t kImageSlack = 64 * 1024;
// The ceiling of any image, whatever it declares: an A4 page at 600 dpi in CMYK (134 MB) fits,
// a declaration of 60000 by 60000 pixels does not reserve memory the device does not have.
constexpr size_t kMaxDecodedImage = size_t{256} << 20;
// The operators of one page or form: far beyond what the densest vector page holds.
constexpr size_t kMaxContentStream = size_t{32} << 20;

// The depth and loop checks of forms see one form at a time; what forms add up to needs totals
// of their own: forms ten wide and seven deep are two kilobytes of file and over a million runs.
//
// All content one page runs, its own and every form's run: a page at the ceiling above and as
// much again in forms.
constexpr size_t kMaxPageContent = 2 * kMaxContentStream;
// Forms one page may run, however they nest: as many as a page may carry layers.
constexpr size_t kMaxPageForms = 100000;

// Everything else the reader decodes: ICC profiles, JBIG2 globals, ToUnicode maps.
constexpr size_t kMaxOtherStream = size_t{16} << 20;
// Components of an image whose colour space the library cannot count (DeviceN and the like):
// the most a colour of the graphics state may have.
constexpr size_t kUnknownComponents = PDF_COLOR_MAX;
// Damage reports kept per document; a file repaired in thousands of places says so in a count.
constexpr size_t kMaxWarningsKept = 100;

// A decode stopped at its budget, told apart from data that cannot be decoded.
class OverBudget : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class BudgetPipeline : public Pipeline {
 public:
  BudgetPipeline(size_t budget, std::string* out) : Pipeline("budget", nullptr), budget_(budget), out_(out) {}
  void write(unsigned char const* data, size_t len) override {
    if (len > budget_ - out_->size()) {
      over_ = true;
      throw std::length_error("over budget");
    }
    out_->append(reinterpret_cast<const char*>(data), len);
  }
  void finish() override {}
  bool over() const { return over_; }

 private:
  size_t budget_;
  std::string* out_;
  bool over_ = false;
};

std::string object_name(QPDFObjectHandle h) {
  return h.isIndirect() ? "object " + h.getObjGen().unparse(' ') : std::string("a direct stream");
}

int int_key(QPDFObjectHandle dict, const char* key, int fallback) {
  QPDFObjectHandle v = dict.getKey(key);
  return v.isInteger() ? v.getIntValueAsInt() : fallback;
}

}  // namespace

namespace pdflib {

size_t decode_budget(QPDFObjectHandle stream) {
  QPDFObjectHandle dict = stream.getDict();
  if (!dict.getKey("/Subtype").isNameAndEquals("/Image")) return kMaxOtherStream;
  const int width = int_key(dict, "/Width", 0);
  const int height = int_key(dict, "/Height", 0);
  if (width < 1 || height < 1) return kImageSlack;
  const bool mask = dict.getKey("/ImageMask").isBool() && dict.getKey("/ImageMask").getBoolValue();
  int bits = mask ? 1 : int_key(dict, "/BitsPerComponent", 8);
  if (bits < 1 || bits > 16) bits = 16;
  const int known = mask ? 1 : components_of(dict.getKey("/ColorSpace"));
  const size_t comps = known > 0 ? static_cast<size_t>(known) : kUnknownComponents;
  // Both factors fit 31 bits, so the products below stay far inside 64 bits before the ceiling.
  const uint64_t rowBits = static_cast<uint64_t>(width) * comps * static_cast<uint64_t>(bits);
  const uint64_t total = (rowBits + 7) / 8 * static_cast<uint64_t>(height) + kImageSlack;
  return total > kMaxDecodedImage ? kMaxDecodedImage : static_cast<size_t>(total);
}

std::string decode_bounded(QPDFObjectHandle stream, size_t budget) {
  std::string out;
  BudgetPipeline sink(budget, &out);
  bool attempted = false;
  const bool ok = stream.pipeStreamData(&sink, &attempted, 0, qpdf_dl_all, true, false);
  if (sink.over()) {
    throw OverBudget(object_name(stream) + ": decoded stream data exceed " + std::to_string(budget) +
                     " bytes, more than the stream can hold");
  }
  if (!ok || !attempted) throw std::runtime_error(object_name(stream) + ": stream data cannot be decoded");
  return out;
}

std::string decode_content(PDFDoc* doc, QPDFObjectHandle content) {
  PDFDocImpl* d = doc->impl;
  const size_t left = kMaxPageContent - std::min(d->pageContent, kMaxPageContent);
  const size_t budget = std::min(kMaxContentStream, left);
  std::string text;
  auto add = [&](QPDFObjectHandle part) {
    if (!part.isStream()) throw std::runtime_error("page content is not a stream");
    try {
      text += decode_bounded(part, budget - text.size());
    } catch (const OverBudget&) {
      if (budget == kMaxContentStream) throw;
      throw std::runtime_error(object_name(part) + ": the page's content, its forms' included, exceeds its budget of " +
                               std::to_string(kMaxPageContent) + " bytes");
    }
    // Tokens end at a stream's end: the next stream starts after a blank.
    if (text.size() < budget) text += '\n';
  };
  if (content.isArray()) {
    for (QPDFObjectHandle part : content.aitems()) add(part);
  } else {
    add(content);
  }
  d->pageContent += text.size();
  return text;
}

void start_page_totals(PDFDoc* doc) {
  doc->impl->pageForms = 0;
  doc->impl->pageContent = 0;
}

bool count_form(PDFDoc* doc) {
  PDFDocImpl* d = doc->impl;
  if (d->pageForms >= kMaxPageForms) {
    PDFSetError(doc, PDF_ERR_SYNTAX, __FILE__, __LINE__,
                "the page's forms run more than %zu times, their budget for one page", kMaxPageForms);
    return false;
  }
  ++d->pageForms;
  return true;
}

void collect_warnings(PDFDoc* doc) {
  PDFDocImpl* d = doc->impl;
  for (const QPDFExc& w : d->pdf.getWarnings()) {
    ++d->warningCount;
    if (d->warnings.size() >= kMaxWarningsKept) continue;
    char text[PDF_ERROR_TEXT_MAX];
    const std::string& object = w.getObject();
    std::snprintf(text, sizeof text, "%s, offset %" PRId64 ": %s", object.empty() ? "file" : object.c_str(),
                  static_cast<int64_t>(w.getFilePosition()), w.getMessageDetail().c_str());
    d->warnings.emplace_back(text);
    KVngPrintf("%s: repaired damage in %s\n", d->name.c_str(), text);
  }
}

}  // namespace pdflib

extern "C" {

int32_t PDFGetWarningCount(PDFDoc* doc) {
  return pdflib::guarded(doc, "PDFGetWarningCount", int32_t{0}, [&] {
    pdflib::collect_warnings(doc);
    return doc->impl->warningCount;
  });
}

PDFObj* PDFGetObjectByID(PDFDoc* doc, int32_t number, int32_t generation) {
  return pdflib::guarded(doc, "PDFGetObjectByID", static_cast<PDFObj*>(nullptr), [&]() -> PDFObj* {
    if (number < 1 || generation < 0) return nullptr;
    QPDFObjectHandle h = doc->impl->pdf.getObjectByID(number, generation);
    return h.isNull() ? nullptr : pdflib::wrap(doc, h);
  });
}

const char* PDFGetWarningText(PDFDoc* doc, int32_t index) {
  if (!doc || !doc->impl || index < 0 || static_cast<size_t>(index) >= doc->impl->warnings.size()) return nullptr;
  return doc->impl->warnings[static_cast<size_t>(index)].c_str();
}

}  // extern "C"
