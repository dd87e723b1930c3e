// Text pass-through: while a page's content runs, each text object becomes a text layer whose data
// is the object's operators written again as PDF content text, with the graphics operators traced
// around it and a table of the fonts it uses.

#include <bit>
#include <cstdio>
#include <cstring>
#include <string>

#include "pdf_read.h"

namespace {

// A text layer's operators stay within this: a page's whole content is bounded by the library's
// content budget, and one text object of this size is already beyond any real page.
constexpr size_t kMaxTextLayer = size_t{16} << 20;
// The smallest text buffer; buffers grow to the next power of two, so a layer built from many
// small pieces copies its text a logarithmic number of times.
constexpr size_t kMinTextBuffer = 64;

size_t buffer_for(size_t length) { return std::bit_ceil(std::max(length + 1, kMinTextBuffer)); }

int report_null(const char* who, int32_t count) {
  elfMessage(nullptr, "%s: NULL page image or PDF parser state detected %d\n", who, count);
  return 0;
}

int record_failure(PDFDoc* doc, const char* message) {
  PDFSetError(doc, PDF_ERR_SYNTAX, __FILE__, __LINE__, "%s", message);
  return 0;
}

elf_object* last_layer(elf_object* image) {
  elf_QELIMAGE* im = qelImage(image);
  return im && im->layerCount > 0 ? QELGetLayer(image, im->layerCount - 1) : nullptr;
}

bool has_text(elf_object* layer) {
  elf_QELLAYER* l = qelLayer(layer);
  auto* p = l && l->data ? reinterpret_cast<elf_POINTER*>(l->data) : nullptr;
  return l && qelText(l->text) && p && p->data && static_cast<const char*>(p->data)[0] != '\0';
}

// A number as the operator text writes it.
std::string operand_text(const PDFOperand& o, bool* ok) {
  char number[64];
  switch (o.type) {
    case PDF_OBJ_REAL:
      std::snprintf(number, sizeof number, "%f", o.realValue);
      return number;
    case PDF_OBJ_INTEGER:
      std::snprintf(number, sizeof number, "%d", o.intValue);
      return number;
    case PDF_OBJ_NAME:
      return o.text ? o.text : "";
    case PDF_OBJ_STRING:
      return o.text ? o.text : "";
    default:
      *ok = false;
      return "";
  }
}

// Appends the trace gathered since the last mark to layer; 1, or the append's result.
int flush_trace(elf_object* image, elf_object* layer) {
  char* trace = EventPDF_ToStringSinceMark(image);
  if (!trace) return 1;
  const int r = _layerAddPDFTextOpString(layer, trace);
  kvng_internal_free(trace);
  return r;
}

double operand_number(const PDFParser* parser, int32_t i) {
  return i < parser->operandCount ? parser->operands[i].realValue : 0.0;
}

// Records the font a Tf names in the layer's font table (the first BaseFont seen per name).
int note_font(PDFDoc* doc, elf_object* layer, PDFParser* parser) {
  int status = 1;
  PDFPopRealOperand(parser, &status);
  if (status != 1) return record_failure(doc, "'Tf' operator in content stream is missing size operand");
  char* name = PDFPopNameOperand(parser, &status);
  if (status != 1 || !name) {
    kvng_internal_free(name);
    return record_failure(doc, "'Tf' operator in content stream is missing name operand");
  }
  PDFObj* font = parser->fonts ? PDFGetDictEntry(doc, parser->fonts, name) : nullptr;
  PDFObj* base = font ? PDFGetDictEntry(doc, font, "BaseFont") : nullptr;
  char* baseName = base ? PDFStringToCString(doc, base) : nullptr;
  elf_QELLAYER* l = qelLayer(layer);
  elf_state* state = layer->state;
  int result = 1;
  if (!l->attributes) {
    elf_object* list = new_LIST(state, nullptr, nullptr);
    if (list) ELF_ASSIGN(state, &l->attributes, list);
  }
  elf_object* fonts = nullptr;
  if (l->attributes) lstScanArgs(l->attributes, PDF_ATTR_FONT_LIST ":LIST", LST_OPTIONAL, &fonts, LST_END);
  if (!fonts && l->attributes) {
    fonts = new_LIST(state, nullptr, nullptr);
    if (fonts && lstAppendArgs(l->attributes, PDF_ATTR_FONT_LIST ":LIST", fonts, 0, LST_END) != 1) {
      elfDiscard(fonts);
      fonts = nullptr;
    }
  }
  if (!fonts) {
    result = record_failure(doc, "no memory for the font list");
  } else {
    bool known = false;
    for (int32_t i = 0; i < elflistLength(fonts) && !known; ++i) {
      auto* ident = reinterpret_cast<elf_IDENT*>(elflistItem(fonts, i));
      known = ident && ident->name && std::strcmp(ident->name, name) == 0;
    }
    const std::string spec = std::string(name) + ":s";
    if (!known && lstAppendArgs(fonts, spec.c_str(), baseName ? baseName : "", 0, LST_END) != 1) {
      result = record_failure(doc, "no memory for the font list");
    }
  }
  kvng_internal_free(baseName);
  kvng_internal_free(name);
  return result;
}

}  // namespace

extern "C" {

int _layerAddPDFTextOpString(elf_object* layer, const char* text) {
  elf_QELLAYER* l = qelLayer(layer);
  if (!l || !text) return 0;
  elf_state* state = layer->state;
  const size_t piece = std::strlen(text);
  auto* p = l->data ? reinterpret_cast<elf_POINTER*>(l->data) : nullptr;
  const bool hasTextObject = qelText(l->text) != nullptr;
  if (hasTextObject && !p) return 0;
  if (!hasTextObject || !p->data) {
    if (piece > kMaxTextLayer) return 0;
    auto* buffer = static_cast<char*>(elfMalloc(buffer_for(piece)));
    if (!buffer) return 0;
    std::memcpy(buffer, text, piece + 1);
    elf_object* data = elfNewPointer(state, buffer, piece);
    if (!data) {
      _elfFree(buffer);
      return 0;
    }
    if (!hasTextObject) {
      elf_object* made = new_QELTEXT(state, nullptr, nullptr);
      if (!made) {
        elfDiscard(data);
        return 0;
      }
      qelText(made)->kind = QEL_TEXT_PDF;
      ELF_ASSIGN(state, &l->text, made);
    }
    ELF_ASSIGN(state, &l->data, data);
    return 1;
  }
  // Pieces are joined by one blank; the length is the text's own, the buffer grows by doubling.
  // The length is kept, never counted again: a page of many text operators would pay for the
  // whole text at every one of them.
  auto* old = static_cast<char*>(p->data);
  const size_t length = p->length;
  if (piece > kMaxTextLayer - length - 1) return 0;
  const size_t grown = length + 1 + piece;
  char* buffer = old;
  if (buffer_for(grown) != buffer_for(length)) {
    buffer = static_cast<char*>(elfMalloc(buffer_for(grown)));
    if (!buffer) return 0;
    std::memcpy(buffer, old, length);
  }
  buffer[length] = ' ';
  std::memcpy(buffer + length + 1, text, piece + 1);
  if (buffer != old) {
    p->data = buffer;
    _elfFree(old);
  }
  p->length = grown;
  return 1;
}

int __FinalizeLayerEndContent(PDFDoc* doc, void* data, PDFParser* parser, int32_t event) {
  auto* image = static_cast<elf_object*>(data);
  if (!image || !image->state) return 0;
  if (event == PDF_EVENT_CONTENT_END) {
    if (!parser) {
      elfMessage(image->state, "%s: NULL page or PDF parser state %d\n", "__FinalizeLayerEndContent", 0);
      return 0;
    }
    elf_object* layer = last_layer(image);
    if (layer && has_text(layer)) {
      const char* text = static_cast<const char*>(reinterpret_cast<elf_POINTER*>(qelLayer(layer)->data)->data);
      while (*text == ' ') ++text;
      // A text layer that opened with a saved state gets the operators that close it.
      if (*text == 'q') {
        flush_trace(image, layer);
        PDFUnRegisterEventCallback(doc, __FinalizeLayerEndContent, image);
      }
    }
  } else if (event == PDF_EVENT_EXTRACT_END) {
    PDFUnRegisterEventCallback(doc, __FinalizeLayerEndContent, image);
  }
  return 1;
}

int __pageTextObjectCallback_passthru(PDFDoc* doc, void* data, PDFParser* parser) {
  auto* image = static_cast<elf_object*>(data);
  if (!parser || !qelImage(image)) return report_null("__pageTextObjectCallback_passthru", 0);
  elf_state* state = image->state;
  const int32_t count = qelImage(image)->layerCount;
  elf_object* layer = last_layer(image);
  int pending = 1;
  char* trace = nullptr;
  if (layer && has_text(layer)) {
    pending = flush_trace(image, layer);
  } else {
    trace = EventPDF_ToStringSinceMark(image);
  }
  const int32_t code = parser->operatorCode;
  std::string piece;
  bool ok = true;
  switch (code) {
    case PDF_OP_BT: {
      elf_object* made = new_QELLAYER(state, nullptr, nullptr);
      if (!made) {
        kvng_internal_free(trace);
        return 0;
      }
      qelLayer(made)->kind = QEL_KIND_TEXT;
      PDFRegisterEventCallback(doc, __FinalizeLayerEndContent, image);
      const std::string name = "layer" + std::to_string(count) + ":QELLAYER";
      if (QELAppendLayer(image, name.c_str(), made) != QEL_STATUS_OK) {
        elfMessage(state, "%s: Unable to add QELLAYER object num %d\n", "__pageTextObjectCallback_passthru", count);
        elfDiscard(made);
        kvng_internal_free(trace);
        return 0;
      }
      int r = 1;
      if (trace) r = _layerAddPDFTextOpString(made, trace);
      kvng_internal_free(trace);
      if (r == 1) r = _layerAddPDFTextOpString(made, " BT");
      if (r != 1) return record_failure(doc, "no memory for a text layer");
      return PDFPopOperandStack(parser);
    }
    case PDF_OP_ET:
      piece = "ET ";
      break;
    case PDF_OP_Tstar:
      piece = "T*\n";
      break;
    case PDF_OP_Td:
    case PDF_OP_TD:
    case PDF_OP_TL:
    case PDF_OP_Tr:
    case PDF_OP_Tc:
    case PDF_OP_Tw:
    case PDF_OP_Ts:
    case PDF_OP_Tf: {
      const int32_t n = code == PDF_OP_Td || code == PDF_OP_TD || code == PDF_OP_Tf ? 2 : 1;
      if (code == PDF_OP_Tf) piece = "/";
      for (int32_t i = 0; i < n && ok; ++i) {
        if (i >= parser->operandCount) {
          ok = false;
          break;
        }
        const PDFOperand& o = parser->operands[i];
        // A name is written as a name (a Tf font name was given its slash above).
        if (o.type == PDF_OBJ_STRING) {
          ok = false;
          break;
        }
        piece += operand_text(o, &ok);
        piece += " \n";
      }
      piece += parser->operatorName;
      break;
    }
    case PDF_OP_Tm: {
      char text[512];
      std::snprintf(text, sizeof text, "%4.4f %4.4f %4.4f %4.4f %4.4f %4.4f Tm\n", operand_number(parser, 0),
                    operand_number(parser, 1), operand_number(parser, 2), operand_number(parser, 3),
                    operand_number(parser, 4), operand_number(parser, 5));
      piece = text;
      break;
    }
    case PDF_OP_Tz: {
      char text[64];
      std::snprintf(text, sizeof text, "%4.4f Tz\n", operand_number(parser, 0));
      piece = text;
      break;
    }
    case PDF_OP_Tj:
    case PDF_OP_quote:
    case PDF_OP_dquote: {
      // ' and " move to the next line (" setting the word and character spacing first) before
      // they show their string: without them a line of text would be lost.
      const int32_t at = code == PDF_OP_dquote ? 2 : 0;
      if (parser->operandCount > at && parser->operands[at].type == PDF_OBJ_STRING &&
          (parser->operands[at].length > 0 || code != PDF_OP_Tj)) {
        const PDFOperand& o = parser->operands[at];
        PDFObj* s = PDFCreateString(doc, o.text ? o.text : "", o.length);
        const char* written = s ? PDFObjectText(doc, s) : nullptr;
        if (!written) {
          if (s) PDFFreeObject(doc, s);
          kvng_internal_free(trace);
          return record_failure(doc, "a shown string cannot be written again");
        }
        for (int32_t i = 0; i < at && ok; ++i) {
          if (parser->operands[i].type != PDF_OBJ_INTEGER && parser->operands[i].type != PDF_OBJ_REAL) ok = false;
          piece += operand_text(parser->operands[i], &ok) + " ";
        }
        piece += std::string(written) + " " + parser->operatorName + "\n";
        PDFFreeObject(doc, s);
      }
      break;
    }
    case PDF_OP_TJ:
      // The array is written again as it stood, strings escaped and positioning numbers kept:
      // folded into one Tj it would lose the gaps that separate words.
      if (parser->operandCount > 0 && parser->operands[0].type == PDF_OBJ_ARRAY && parser->operands[0].object &&
          parser->operands[0].length > 0) {
        const char* written = PDFObjectText(doc, parser->operands[0].object);
        if (!written) {
          kvng_internal_free(trace);
          return record_failure(doc, "a TJ array cannot be written again");
        }
        piece = std::string(written) + " TJ\n";
      }
      break;
    default:
      kvng_internal_free(trace);
      return pending;
  }
  kvng_internal_free(trace);
  if (!ok) return record_failure(doc, "a text operator has an operand that cannot be written again");
  // Text operators outside a text object have no layer of their own to go to.
  if (layer && qelLayer(layer)->kind != QEL_KIND_TEXT) layer = nullptr;
  if (!piece.empty() && layer) {
    const int r = _layerAddPDFTextOpString(layer, piece.c_str());
    if (r != 1) return record_failure(doc, "no memory for a text layer");
  }
  if (code == PDF_OP_Tf && layer && note_font(doc, layer, parser) != 1) return 0;
  return PDFPopOperandStack(parser);
}

}  // extern "C"
