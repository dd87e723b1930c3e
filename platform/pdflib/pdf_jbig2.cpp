// JBIG2 coding of raw 1-bit image streams through the token engine's coder: coding setups,
// sections of pages sharing one symbol dictionary, and the streams they fill.

#include <cstring>

#include "kvng.h"
#include "pdf_internal.h"

using pdflib::guarded;
using pdflib::resolved;

namespace {

// The installed coder; a coder already running in a document stays the one it started with.
PDFJbig2Engine g_engine{};
bool g_installed = false;

constexpr char kNoEngine[] = "JBIG2 coding needs the token engine's coder (VltApi)";

// Without an installed coder the engine of the "monocodec" plug-in serves.
bool have_engine(PDFDoc* doc, const char* call) {
  if (g_installed) return true;
  std::string why;
  const PDFJbig2Engine* engine = pdflib::monocodec_engine(&why);
  if (!engine) {
    pdflib::fail(doc, "%s: %s, which cannot be had: %s", call, kNoEngine, why.c_str());
    return false;
  }
  PDFJbig2SetEngine(engine);
  return true;
}

int open_coder(PDFDoc* doc, const VltApiOptions* options, const TokParams* params, bool arithmetic,
               const char* call) {
  if (!have_engine(doc, call)) return 0;
  pdflib::Jbig2Coder& c = doc->impl->jbig2;
  // One setup serves every stream until the setup changes.
  if (c.handle && c.arithmetic == arithmetic) return 1;
  if (c.handle && !pdflib::jbig2_finish(doc)) return 0;
  c.engine = g_engine;
  c.handle = c.engine.open(options, params);
  if (!c.handle) return pdflib::fail(doc, "%s: the JBIG2 coder cannot start", call);
  c.arithmetic = arithmetic;
  return 1;
}

// Ends the open section: a globals stream from the dictionary, each page's stream from its data.
int end_section(PDFDoc* doc) {
  pdflib::Jbig2Coder& c = doc->impl->jbig2;
  if (c.pending.empty()) return 1;
  std::vector<QPDFObjGen> pages;
  pages.swap(c.pending);
  unsigned char* dict = nullptr;
  size_t dictLength = 0;
  if (!c.handle || !c.engine.endSection(c.handle, &dict, &dictLength)) {
    for (const QPDFObjGen& og : pages) doc->impl->streams[og].tokenized = false;
    return pdflib::fail(doc, "PDFJbig2EndSection: the JBIG2 coder failed to end its section");
  }
  QPDF& pdf = doc->impl->pdf;
  QPDFObjectHandle globals = pdf.newStream(std::string(reinterpret_cast<const char*>(dict), dictLength));
  kvng_internal_free(dict);
  bool ok = true;
  for (const QPDFObjGen& og : pages) {
    pdflib::PendingStream& p = doc->impl->streams[og];
    p.tokenized = false;
    unsigned char* data = nullptr;
    size_t length = 0;
    if (!ok || !c.engine.pageData(c.handle, &data, &length)) {
      ok = false;
      continue;
    }
    p.kind = pdflib::PendingStream::PRECOMPRESSED;
    p.data.assign(reinterpret_cast<const char*>(data), length);
    kvng_internal_free(data);
    pdflib::Filter f;
    f.code = PDF_FILTER_JBIG2;
    f.params["JBIG2GlobalsRef"] = globals.getObjectID();
    p.filters.assign(1, f);
  }
  return ok ? 1 : pdflib::fail(doc, "PDFJbig2EndSection: the JBIG2 coder gave no data for a page");
}

}  // namespace

namespace pdflib {

int jbig2_finish(PDFDoc* doc) {
  Jbig2Coder& c = doc->impl->jbig2;
  int ok = 1;
  try {
    ok = end_section(doc);
  } catch (...) {
    ok = fail(doc, "PDFJbig2End: the section could not be written");
  }
  if (c.handle) c.engine.close(c.handle);
  c.handle = nullptr;
  return ok;
}

}  // namespace pdflib

extern "C" {

void PDFJbig2SetEngine(const PDFJbig2Engine* engine) {
  g_installed = engine && engine->open && engine->addPage && engine->endSection && engine->pageData && engine->close;
  g_engine = g_installed ? *engine : PDFJbig2Engine{};
}

int PDFJbig2Init(PDFDoc* doc, const VltApiOptions* options, const TokParams* params) {
  if (!options) return pdflib::fail(doc, "PDFJbig2Init: no coding options");
  return guarded(doc, "PDFJbig2Init", 0, [&] { return open_coder(doc, options, params, false, "PDFJbig2Init"); });
}

int PDFJbig2InitArith(PDFDoc* doc, const TokParams* params) {
  return guarded(doc, "PDFJbig2InitArith", 0,
                 [&] { return open_coder(doc, nullptr, params, true, "PDFJbig2InitArith"); });
}

int PDFJbig2TokenizeStream(PDFDoc* doc, PDFObj* stream) {
  return guarded(doc, "PDFJbig2TokenizeStream", 0, [&] {
    if (!have_engine(doc, "PDFJbig2TokenizeStream")) return 0;
    if (!pdflib::require_version(doc, 14, "JBIG2 images", "PDFJbig2TokenizeStream")) return 0;
    pdflib::Jbig2Coder& c = doc->impl->jbig2;
    if (!c.handle) return pdflib::fail(doc, "PDFJbig2TokenizeStream: no JBIG2 coding set up");
    QPDFObjectHandle s = resolved(stream);
    if (!doc->writing || !s.isStream()) return pdflib::fail(doc, "PDFJbig2TokenizeStream: not a stream being written");
    QPDFObjectHandle d = s.getDict();
    const int width = d.getKey("/Width").isInteger() ? d.getKey("/Width").getIntValueAsInt() : 0;
    const int height = d.getKey("/Height").isInteger() ? d.getKey("/Height").getIntValueAsInt() : 0;
    const int bits = d.getKey("/BitsPerComponent").isInteger() ? d.getKey("/BitsPerComponent").getIntValueAsInt() : 0;
    pdflib::PendingStream& p = pdflib::pending(doc->impl, s);
    const size_t rowBytes = (static_cast<size_t>(width) + 7) / 8;
    if (width < 1 || height < 1 || bits != 1) {
      return pdflib::fail(doc, "PDFJbig2TokenizeStream: not a 1-bit image");
    }
    if (p.kind != pdflib::PendingStream::RAW || p.data.size() / rowBytes < static_cast<size_t>(height) ||
        !p.filters.empty()) {
      return pdflib::fail(doc, "PDFJbig2TokenizeStream: the stream does not hold the image's raw rows");
    }
    if (!c.engine.addPage(c.handle, reinterpret_cast<const unsigned char*>(p.data.data()), width, height,
                          static_cast<int32_t>(rowBytes))) {
      return pdflib::fail(doc, "PDFJbig2TokenizeStream: the JBIG2 coder refused the page");
    }
    p.tokenized = true;
    // The raw rows are the coder's now; their memory goes at once, not when the document closes.
    std::string().swap(p.data);
    c.pending.push_back(s.getObjGen());
    return 1;
  });
}

int PDFJbig2EndSection(PDFDoc* doc) {
  return guarded(doc, "PDFJbig2EndSection", 0, [&] {
    if (!end_section(doc)) return 0;
    // The section's pages are complete now: they are coded and let go as a closed page is.
    pdflib::spool_streams(doc);
    return 1;
  });
}

int PDFJbig2End(PDFDoc* doc) {
  return guarded(doc, "PDFJbig2End", 0, [&] { return pdflib::jbig2_finish(doc); });
}

}  // extern "C"
