// The font table: faces by index, their metrics (generated from the URW base-35 files at build
// time), the character sets' code-to-Unicode maps and ToUnicode CMaps.

#include "kvfont.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "kvfont_tables.h"
#include "kvng.h"

#include "kvfont_widths.inc"

struct FFont {
  int32_t face;
  int32_t charSet;
};

namespace {

constexpr int kFacesPerSet = 16;  // index = set * 16 + face; faces 12 to 15 unused

struct Table {
  FFont fonts[kvfont::kCharSets][kvfont::faces.size()];
};

constexpr Table make_table() {
  Table t{};
  for (int set = 0; set < kvfont::kCharSets; ++set) {
    for (int face = 0; face < static_cast<int>(kvfont::faces.size()); ++face) t.fonts[set][face] = FFont{face, set};
  }
  return t;
}

constexpr Table table = make_table();

const kvfont::Face* face_of(const FFont* font) {
  if (!font || font->face < 0 || font->face >= static_cast<int32_t>(kvfont::faces.size())) return nullptr;
  return &kvfont::faces[static_cast<size_t>(font->face)];
}

}  // namespace

extern "C" {

const FFont* FFont_ForIndex(int32_t index) {
  if (index < 0 || index >= kFacesPerSet * kvfont::kCharSets) return nullptr;
  const int32_t face = index % kFacesPerSet;
  if (face >= static_cast<int32_t>(kvfont::faces.size())) return nullptr;
  return &table.fonts[index / kFacesPerSet][face];
}

const char* FFont_PDFNameForIndex(int32_t index) {
  const kvfont::Face* face = face_of(FFont_ForIndex(index));
  return face ? face->pdfName : nullptr;
}

int32_t FFont_IndexToISOCSet(int32_t index) {
  const FFont* font = FFont_ForIndex(index);
  return font ? font->charSet : -1;
}

int32_t FFont_IndexForFamStyle(int32_t famStyle, int32_t charSet) {
  if (charSet < 0 || charSet >= kvfont::kCharSets) return -1;
  int32_t family = famStyle >= 0 ? famStyle / 4 : 0;
  if (family > FFONT_FAMILY_MONO) family = FFONT_FAMILY_SANS;
  const int32_t style = famStyle >= 0 ? famStyle % 4 : 0;
  return charSet * kFacesPerSet + family * 4 + style;
}

int32_t FFont_Family(const FFont* font) { return face_of(font) ? font->face / 4 : -1; }
int32_t FFont_Style(const FFont* font) { return face_of(font) ? font->face % 4 : -1; }
const char* FFont_FamilyName(const FFont* font) {
  const kvfont::Face* face = face_of(font);
  return face ? face->familyName : nullptr;
}

double FFont_ChrSzX(const FFont* font, int32_t code) {
  if (!face_of(font) || font->charSet < 0 || font->charSet >= kvfont::kCharSets || code < kvfont::kFirstCode ||
      code > 255) {
    return 0.0;
  }
  return kAdvance[font->face][font->charSet][code - kvfont::kFirstCode] / 1000.0;
}

double FFont_Ascent(const FFont* font) {
  const kvfont::Face* face = face_of(font);
  return face ? face->ascent / 1000.0 : 0.0;
}

double FFont_Descent(const FFont* font) {
  const kvfont::Face* face = face_of(font);
  return face ? face->descent / 1000.0 : 0.0;
}

uint32_t FFont_CodeToUnicode(int32_t charSet, int32_t code) { return kvfont::code_of(charSet, code).unicode; }

int32_t FFont_UnicodeToCode(int32_t charSet, uint32_t unicode) {
  if (charSet < 0 || charSet >= kvfont::kCharSets || unicode < 0x20) return -1;
  if (unicode < 0x7F) return static_cast<int32_t>(unicode);
  // The sets are small: a scan of their upper halves is cheaper than keeping reverse tables.
  for (int code = 128; code < 256; ++code) {
    if (kvfont::code_of(charSet, code).unicode == unicode) return code;
  }
  return -1;
}

int32_t FFont_CSetForUnicode(uint32_t unicode) {
  for (int32_t set = FFONT_CSET_LATIN1; set < kvfont::kCharSets; ++set) {
    if (FFont_UnicodeToCode(set, unicode) >= 0) return set;
  }
  return -1;
}

uint32_t* FFont_GetC2UForIndex(int32_t index) {
  const int32_t set = FFont_IndexToISOCSet(index);
  if (set < 0) return nullptr;
  auto* map = static_cast<uint32_t*>(kvng_internal_calloc(FFONT_TABLE_SIZE, sizeof(uint32_t)));
  if (!map) return nullptr;
  for (int code = 0; code < FFONT_TABLE_SIZE; ++code) map[code] = kvfont::code_of(set, code).unicode;
  return map;
}

char* FFont_GeneratePDFToUnicodeCharMap(const uint32_t* codeToUnicode) {
  if (!codeToUnicode) return nullptr;
  // The CMap form of Adobe Technical Note 5411 (ToUnicode mapping file tutorial), with one-byte
  // codes; a bfchar block holds at most 100 entries.
  std::string entries;
  int in_block = 0;
  std::string text =
      "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
      "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
      "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
      "1 begincodespacerange\n<00> <FF>\nendcodespacerange\n";
  auto flush = [&] {
    if (in_block == 0) return;
    char head[32];
    std::snprintf(head, sizeof head, "%d beginbfchar\n", in_block);
    text += head + entries + "endbfchar\n";
    entries.clear();
    in_block = 0;
  };
  for (int code = 0; code < FFONT_TABLE_SIZE; ++code) {
    const uint32_t u = codeToUnicode[code];
    if (u == 0 || u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF)) continue;
    char line[40];
    if (u < 0x10000) {
      std::snprintf(line, sizeof line, "<%02X> <%04X>\n", code, static_cast<unsigned>(u));
    } else {
      // Beyond the BMP the destination is UTF-16BE: a surrogate pair.
      const uint32_t v = u - 0x10000;
      std::snprintf(line, sizeof line, "<%02X> <%04X%04X>\n", code, static_cast<unsigned>(0xD800 + (v >> 10)),
                    static_cast<unsigned>(0xDC00 + (v & 0x3FF)));
    }
    entries += line;
    if (++in_block == 100) flush();
  }
  flush();
  text += "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
  auto* out = static_cast<char*>(kvng_internal_calloc(text.size() + 1, 1));
  if (!out) return nullptr;
  std::memcpy(out, text.data(), text.size() + 1);
  return out;
}

}  // extern "C"
