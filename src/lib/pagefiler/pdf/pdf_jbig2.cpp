// JBIG2 image streams of the PDF writer: page data the token engine coded already goes in with a
// reference to its globals stream; a raw 1-bit layer is handed to the PDF library's tokenizer,
// which takes the classifier's exact-match settings from libmonocodec when asked for lossless
// coding. Also the older setter that takes every compression code, JBIG2 included.

#include "dio_pdf.h"
#include "tok_params.h"
#include "vlt_api_options.h"

namespace {

constexpr int32_t kBilevelBlackIs1 = 0x15;
constexpr int32_t kJbig2 = 7;

// What the engine's coder is started with for Huffman coding: pages of one section share their
// dictionary, every segment but the dictionary sits on page 1.
constexpr VltApiOptions kHuffmanOptions = {
    .minSize = 1,
    .outputWord = 10,
    .reserved1 = 3,
    .reserved2 = 0,
    .reserved3 = 0,
    .halftones = 0,
    .resolution = 300,
    .outputByte = 0,
    .reserved4 = 0,
    .docByte = 0,
    .resDictMode = 0,
    .profile = 0,
    .tenthSize = 1,
    .memoryLimit = 0,
    .sectionMode = 1,
    .singlePage = 1,
};

// Bound on first use and kept for the life of the process; one thread at a time.
TokSetDefaultsFn g_tokSetDefaults = nullptr;

int fail(elf_state* state, int code, const char* format, const char* who) {
  return setStatus(state, code, QEL_SEVERITY_ERROR, format, who);
}

int bind_tok_set_defaults(elf_state* state) {
  if (g_tokSetDefaults) return 0;
  void* place = nullptr;
  if (KVngRetrieveFunc("tokSetDefaults", "monocodec", &place) != 1 || !place) {
    return fail(state, QEL_STATUS_FAILED, "%s: JBIG2 support not enabled\n", "__getJBIG2FnPointers");
  }
  g_tokSetDefaults = reinterpret_cast<TokSetDefaultsFn>(place);
  return 0;
}

// Every strip of the layer's data, in order; a missing data object appends nothing.
bool append_strips(PDFDoc* doc, PDFObj* stream, elf_object* data) {
  for (elf_object* item = data; item; item = reinterpret_cast<elf_POINTER*>(item)->next) {
    const auto* strip = reinterpret_cast<const elf_POINTER*>(item);
    if (strip->length > 0 && PDFAppendStream(doc, stream, strip->data, strip->length) != 1) return false;
  }
  return true;
}

// Starts the library's coder for the stream and tokenizes it. The classifier block is only read
// while the coder starts.
int tokenize(elf_state* state, const char* who, PDFDoc* doc, PDFObj* stream, elf_object* data, int32_t coding,
             int32_t lossless) {
  if (const int status = bind_tok_set_defaults(state); status != 0) return status;
  if (!append_strips(doc, stream, data)) {
    elfMessage(state, "PDFAppendStream failed: %s\n", PDFErrorText(doc));
    return fail(state, QEL_STATUS_FAILED, "%s: PDFAppendStream error\n", who);
  }
  TokParams* params = nullptr;
  if (lossless) {
    params = static_cast<TokParams*>(elfCalloc(1, sizeof(TokParams)));
    if (!params) return fail(state, QEL_STATUS_FAILED, "%s: Out of memory\n", who);
    g_tokSetDefaults(params);
    params->maxDense = 0;
    params->widthDiff = 0;
    params->heightDiff = 0;
    params->minLossySize = 100000;
  }
  const int started = coding == 0 ? PDFJbig2InitArith(doc, params) : PDFJbig2Init(doc, &kHuffmanOptions, params);
  _elfFree(params);
  if (started != 1) {
    return fail(state, QEL_STATUS_FAILED,
                coding == 0 ? "%s: PDFJbig2InitArith failed\n" : "%s: PDFJbig2Init for Huffman failed\n", who);
  }
  if (PDFJbig2TokenizeStream(doc, stream) != 1) {
    return fail(state, QEL_STATUS_FAILED, "%s: PDFJbig2TokenizeStream failed\n", who);
  }
  return 0;
}

int jbig2_image(elf_state* state, const char* who, PDFDoc* doc, PDFObj* stream, elf_object* data, int32_t globals,
                int32_t alreadyJbig2, int32_t coding, int32_t lossless, int32_t photometric) {
  if (alreadyJbig2) {
    if (globals == 0) {
      elfMessage(state, "Bad JBIG2 symbol dictionary ID:%d\n", globals);
      return fail(state, QEL_STATUS_INVALID, "%s: Bad JBIG2 symbol dictionary ID\n", who);
    }
    // Page data that came without a dictionary layer is written without /JBIG2Globals: it can
    // only be whole by itself, and no other page's globals are its.
    const int set = globals > 0 ? PDFSetStreamFilter(doc, stream, PDF_FILTER_JBIG2, "JBIG2GlobalsRef", globals, nullptr)
                                : PDFSetStreamFilter(doc, stream, PDF_FILTER_JBIG2, nullptr);
    if (set != 1) {
      elfMessage(state, "Error setting stream filter: %s\n", PDFErrorText(doc));
      return fail(state, QEL_STATUS_INVALID, "%s: Error setting stream filter for JBIG2\n", who);
    }
  } else if (const int status = tokenize(state, who, doc, stream, data, coding, lossless); status != 0) {
    return status;
  }
  // JBIG2 paints 1 as black; every other 1-bit polarity is turned round by the decode array.
  if (photometric != kBilevelBlackIs1 && PDFSetImageDecode(doc, stream, 1, 0) != 1) {
    return fail(state, QEL_STATUS_INVALID, "%s: Error setting stream filter for JBIG2\n", who);
  }
  return 0;
}

}  // namespace

extern "C" {

int __pdiouSetJBIG2image(PDFDoc* doc, PDFObj* stream, elf_object* data, int32_t globals, int32_t alreadyJbig2,
                         int32_t coding, int32_t lossless, int32_t photometric) {
  return jbig2_image(data ? data->state : nullptr, "__pdiouSetJBIG2image", doc, stream, data, globals, alreadyJbig2,
                     coding, lossless, photometric);
}

int __setStreamFilter(elf_state* state, PDFDoc* doc, int32_t compression, PdfFilterParams* params, PDFObj* stream,
                      elf_object* data) {
  if (compression != kJbig2) return __pkvuSetStreamFilter(state, doc, compression, params, stream);
  static const char kWho[] = "__setStreamFilter";
  if (!params) return fail(state, QEL_STATUS_INVALID, "%s: No stream filter parameters\n", kWho);
  const int status = jbig2_image(state, kWho, doc, stream, data, params->jbig2Globals, params->compression,
                                 params->jbig2Coding, params->jbig2Lossless, params->photometric);
  if (status == 0 && params->compression == 0) ++params->jbig2Count;
  return status;
}

}  // extern "C"
