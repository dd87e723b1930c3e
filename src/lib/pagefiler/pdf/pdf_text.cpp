// Text layers into PDF pages: text-layer XML as invisible text in the font table's fonts, and
// PDF operator text kept from a PDF that was read, with the fonts it names.

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "dio_internal.h"
#include "dio_text.h"
#include "kvfont.h"
#include "kvng.h"
#include "kvxml.h"

namespace {

const elf_POINTER* layer_bytes(const elf_QELLAYER* l) {
  return elfIsType(l->data, "POINTER") ? reinterpret_cast<const elf_POINTER*>(l->data) : nullptr;
}

// The index of the entry named name in a LIST of IDENTs, or -1.
int32_t find_named(elf_object* list, const char* name) {
  for (int32_t i = 0; i < elflistLength(list); ++i) {
    elf_object* item = elflistItem(list, i);
    if (elfIsType(item, "IDENT") && std::strcmp(reinterpret_cast<elf_IDENT*>(item)->name, name) == 0) return i;
  }
  return -1;
}

elf_object* named_value(elf_object* list, const char* name) {
  const int32_t i = find_named(list, name);
  return i < 0 ? nullptr : elfIdentValue(elflistItem(list, i));
}

// The font dictionary of a font-table face (ISO 32000-1 9.6.2): WinAnsiEncoding for the ASCII and
// Latin-1 sets; the face's own encoding with its widths and a ToUnicode map for the others, so
// that their text is still extracted as the characters it was made from.
bool add_table_font(PDFDoc* doc, PDFObj* page, int32_t index) {
  const char* base = FFont_PDFNameForIndex(index);
  const int32_t set = FFont_IndexToISOCSet(index);
  const FFont* font = FFont_ForIndex(index);
  if (!base || !font) return false;
  PDFObj* toUnicode = nullptr;
  if (set >= 2) {
    uint32_t* map = FFont_GetC2UForIndex(index);
    char* cmap = map ? FFont_GeneratePDFToUnicodeCharMap(map) : nullptr;
    toUnicode = cmap ? PDFCreateStream(doc) : nullptr;
    const bool ok = toUnicode && PDFAppendStream(doc, toUnicode, cmap, std::strlen(cmap)) &&
                    PDFMakeObjectIndirect(doc, toUnicode);
    kvng_internal_free(cmap);
    kvng_internal_free(map);
    if (!ok) return false;
  }
  ++doc->fontCount;
  char name[8];
  std::snprintf(name, sizeof name, "%s%02X", "F", static_cast<unsigned>(index));
  PDFObj* dict = PDFCreateDict(doc);
  bool ok = dict && PDFAddDictEntry(doc, dict, "Type", PDFCreateName(doc, "Font")) &&
            PDFAddDictEntry(doc, dict, "Subtype", PDFCreateName(doc, "Type1")) &&
            PDFAddDictEntry(doc, dict, "Name", PDFCreateName(doc, name)) &&
            PDFAddDictEntry(doc, dict, "BaseFont", PDFCreateName(doc, base));
  if (ok && set < 2) {
    ok = PDFAddDictEntry(doc, dict, "Encoding", PDFCreateName(doc, "WinAnsiEncoding"));
  } else if (ok) {
    PDFObj* widths = PDFCreateArray(doc);
    ok = widths != nullptr;
    for (int32_t c = 32; ok && c <= 255; ++c) {
      ok = PDFAddArrayObject(doc, widths, PDFCreateInteger(doc, static_cast<int32_t>(FFont_ChrSzX(font, c) * 1000.0)));
    }
    ok = ok && PDFAddDictEntry(doc, dict, "Widths", widths) &&
         PDFAddDictEntry(doc, dict, "FirstChar", PDFCreateInteger(doc, 32)) &&
         PDFAddDictEntry(doc, dict, "LastChar", PDFCreateInteger(doc, 255)) &&
         PDFAddDictEntry(doc, dict, "ToUnicode", toUnicode);
  }
  ok = ok && PDFMakeObjectIndirect(doc, dict);
  if (!ok) return false;
  auto* entry = static_cast<PDFResourceEntry*>(kvng_internal_calloc(1, sizeof(PDFResourceEntry)));
  if (!entry) return false;
  entry->kind = PDF_RES_FONT;
  entry->reserved1 = entry->reserved2 = -1;
  entry->baseFont = base;
  entry->name = name;
  entry->dict = dict;
  ok = PDFPageAddResources(doc, page, entry);
  kvng_internal_free(entry);
  return ok;
}

// PDF operator text: the fonts it names first, then the operators as they are.
void write_pdf_text(elf_object* image, const elf_QELLAYER* l, PDFDoc* doc, PDFObj* page) {
  elf_object* fonts = named_value(l->attributes, "_PDFFontList");
  elf_object* resources = named_value(qelImage(image)->attributes, "_PDFFontResource");
  for (int32_t i = 0; i < elflistLength(fonts); ++i) {
    elf_object* item = elflistItem(fonts, i);
    if (!elfIsType(item, "IDENT")) continue;
    const char* resName = reinterpret_cast<elf_IDENT*>(item)->name;
    elf_object* value = elfIdentValue(item);
    const char* baseFont = elfIsType(value, "STRING") ? reinterpret_cast<elf_STRING*>(value)->value : nullptr;
    int32_t done = 0;
    const int32_t at = elflistLength(resources) > 0 ? find_named(resources, resName) : -1;
    if (at >= 0) __fontDioPushFont(image, doc, page, at, resources, &done);
    if (!done && baseFont) PDFFontCreateRefed(doc, page, baseFont, resName);
  }
  const elf_POINTER* data = layer_bytes(l);
  if (data && data->data) {
    // The bytes are text; a layer whose length word counts past its zero still ends there.
    const auto* bytes = static_cast<const char*>(data->data);
    PDFPageAddContentString(doc, page, std::string(bytes, strnlen(bytes, data->length)).c_str());
  }
}

}  // namespace

extern "C" {

int __outputXMLTextLayer(elf_state* state, elf_object* layer, PDFDoc* doc, PDFObj* page, double xres, double yres,
                         double imageHeight, double imageWidth, int32_t flag) {
  const elf_QELLAYER* l = qelLayer(layer);
  const elf_POINTER* data = l ? layer_bytes(l) : nullptr;
  SState* sstate = SState_NewStateDefault();
  if (!sstate) return 0;
  XMLElement* tree = data && data->data ? XML_ParseData(sstate, static_cast<const char*>(data->data), data->length)
                                        : nullptr;
  if (!tree) {
    elfMessage(state, "Failed call to XML_ParseData\n");
    SState_FreeState(sstate);
    return 0;
  }
  QELTransform2D* matrix = __QELLAYERGetTransformMatrix(layer);
  if (!matrix) {
    XML_ElementFree(tree);
    SState_FreeState(sstate);
    return -1;
  }
  // The layer's box is in its own units (points once the page writer has placed it); a layer
  // without a resolution is in the page's pixels.
  const double lxres = l->xres > 0 ? l->xres : xres;
  const double lyres = l->yres > 0 ? l->yres : yres;
  char* content = PDFXML_XMLToPDF_Ex(sstate, tree, l->x, l->y, static_cast<int32_t>(l->width + 0.5),
                                     static_cast<int32_t>(l->height + 0.5), lxres, lyres, imageWidth, 0, flag,
                                     matrix->m, imageHeight);
  _elfFree(matrix);
  uint8_t used[FFONT_TABLE_SIZE] = {};
  int32_t remaining = content ? PDFQEL_MarkRequiredFonts(tree, flag, used) : -1;
  int result = 1;
  if (!content || remaining < 0) {
    elfMessage(state, "The text layer cannot be converted to PDF text\n");
    result = 0;
  }
  // Fonts first: content that names a font the page lacks is never added.
  for (int32_t i = 0; result == 1 && i < FFONT_TABLE_SIZE && remaining > 0; ++i) {
    if (!used[i]) continue;
    if (!add_table_font(doc, page, i)) {
      elfMessage(state, "Unable to add font F%02X to the PDF page: %s\n", static_cast<unsigned>(i), PDFErrorText(doc));
      result = 0;
    }
    --remaining;
  }
  if (result == 1 && !PDFPageAddContentString(doc, page, content)) {
    elfMessage(state, "Unable to add the text layer to the PDF page: %s\n", PDFErrorText(doc));
    result = 0;
  }
  kvng_internal_free(content);
  XML_ElementFree(tree);
  SState_FreeState(sstate);
  return result;
}

int addxilText(elf_object* image, elf_object* layer, PDFDoc* doc, PDFObj* page, int32_t flag) {
  const elf_QELIMAGE* im = qelImage(image);
  const elf_QELLAYER* l = qelLayer(layer);
  elf_state* state = layer ? layer->state : nullptr;
  const double xres = im && im->xres > 0 ? im->xres : 300.0;
  const double yres = im && im->yres > 0 ? im->yres : 300.0;
  if (!l || l->kind != QEL_KIND_TEXT) {
    elfMessage(state, "layerType not QEL_Text\n");
    return 0;
  }
  const elf_QELTEXT* text = qelText(l->text);
  if (!text) {
    elfMessage(state, "Malformed text layer; No ELFTEXT object\n");
    return 0;
  }
  switch (text->kind) {
    case QEL_TEXT_XML:
      return __outputXMLTextLayer(state, layer, doc, page, xres, yres, im ? im->height : 0.0, im ? im->width : 0.0,
                                  flag);
    case QEL_TEXT_PLAIN:
      elfMessage(state, "Unable to pass plain text data to PDF, skipping embedded plain text\n");
      return 1;
    case QEL_TEXT_XPS:
      elfMessage(state, "Unable to pass XPS text data to PDF, skipping embedded XPS text\n");
      return 1;
    case QEL_TEXT_PDF:
      if (im) write_pdf_text(image, l, doc, page);
      return 1;
    default:
      return 1;
  }
}

}  // extern "C"
