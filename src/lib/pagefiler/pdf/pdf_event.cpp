// The content-operator trace of a page being read: each operator the parser reports is kept as
// text in the page image's "_PDFEventHistory" attribute until the text pass-through takes it.
//
// The trace lives in that STRING's own text (an empty text is no trace) and grows with every
// operator, so a long run of operators between two hand-overs is kept whole, never cut off.

#include <cstdio>
#include <cstring>
#include <string>

#include "dio_pdf.h"

namespace {

elf_STRING* history_of(elf_object* image) {
  elf_QELIMAGE* img = qelImage(image);
  if (!img || !img->attributes) return nullptr;
  const int32_t n = elflistLength(img->attributes);
  for (int32_t i = 0; i < n; ++i) {
    elf_object* item = elflistItem(img->attributes, i);
    if (!elfIsType(item, "IDENT")) continue;
    auto* ident = reinterpret_cast<elf_IDENT*>(item);
    if (ident->name && std::strcmp(ident->name, PDF_EVENT_HISTORY) == 0 && elfIsType(ident->value, "STRING")) {
      return reinterpret_cast<elf_STRING*>(ident->value);
    }
  }
  return nullptr;
}

// Appends piece to the trace; false (trace unchanged) when memory runs out. The text may have
// been set by anyone, so its block is taken to hold just its text and is replaced, never grown
// in place.
bool append(elf_STRING* s, const std::string& piece) {
  const size_t old = std::strlen(s->value);
  auto* grown = static_cast<char*>(elfMalloc(old + piece.size() + 1));
  if (!grown) return false;
  std::memcpy(grown, s->value, old);
  std::memcpy(grown + old, piece.data(), piece.size());
  grown[old + piece.size()] = '\0';
  _elfFree(s->value);
  s->value = grown;
  return true;
}

// Drops the trace text; an empty text is what a holder without trace has.
bool clear(elf_STRING* s) {
  auto* empty = static_cast<char*>(elfCalloc(1, 1));
  if (!empty) return false;
  _elfFree(s->value);
  s->value = empty;
  return true;
}

std::string piece_of(const PDFParser* parser) {
  std::string piece = " ";
  char number[64];
  for (int32_t i = 0; parser->operands && i < parser->operandCount; ++i) {
    const PDFOperand& op = parser->operands[i];
    switch (op.type) {
      case PDF_OBJ_BOOLEAN:
      case PDF_OBJ_INTEGER:
        std::snprintf(number, sizeof number, "%d ", op.intValue);
        piece += number;
        break;
      case PDF_OBJ_REAL:
        std::snprintf(number, sizeof number, "%f ", op.realValue);
        piece += number;
        break;
      case PDF_OBJ_STRING:
      case PDF_OBJ_NAME:
        piece += op.text ? op.text : "";
        piece += ' ';
        break;
      default:
        break;
    }
  }
  piece += parser->operatorName ? parser->operatorName : "";
  return piece;
}

}  // namespace

extern "C" {

int EventPDF_Initialize(elf_object* image) {
  elf_QELIMAGE* img = qelImage(image);
  if (!img) return 0;
  elf_state* state = image->state;
  if (!img->attributes) {
    elf_object* list = new_LIST(state, nullptr, nullptr);
    if (!list) return 0;
    ELF_ASSIGN(state, &img->attributes, list);
  }
  if (history_of(image)) return 0;
  elf_object* text = elfNewString(state, "");
  elf_object* ident = text ? elfNewIdent(state, PDF_EVENT_HISTORY, text) : nullptr;
  if (!ident) {
    elfDiscard(text);
    return 0;
  }
  if (elflistInsert(img->attributes, ident, elflistLength(img->attributes), 0) != 0) elfDiscard(ident);
  return 0;
}

int __EventPDF_OpCallback(PDFDoc*, void* image, PDFParser* parser) {
  elf_STRING* s = parser ? history_of(static_cast<elf_object*>(image)) : nullptr;
  if (!s) return 1;
  if (s->value[0] != '\0' && parser->operatorCode == PDF_OP_Q) {
    clear(s);
    return 1;
  }
  // Memory running out loses this operator's piece only; parsing goes on regardless.
  append(s, piece_of(parser));
  return 1;
}

char* EventPDF_ToStringSinceMark(elf_object* image) {
  elf_STRING* s = history_of(image);
  if (!s || s->value[0] == '\0') return nullptr;
  const size_t n = std::strlen(s->value);
  auto* out = static_cast<char*>(kvng_internal_calloc(n + 1, 1));
  if (!out) return nullptr;
  std::memcpy(out, s->value, n);
  if (!clear(s)) s->value[0] = '\0';
  return out;
}

}  // extern "C"
