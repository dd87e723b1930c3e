#ifndef KVFONT_TABLES_H
#define KVFONT_TABLES_H

// The faces and character sets of the font table, shared by the library and by the program that
// turns the URW base-35 metrics into its width table at build time.

#include <array>
#include <cstdint>

namespace kvfont {

struct Face {
  const char* pdfName;     // standard PDF base font
  const char* familyName;
  const char* afm;         // the URW face with the same metrics
  // What viewers take as the face's extent (the standard faces' Ascender and Descender, which the
  // URW metric files leave at 0), in thousandths of the em.
  int16_t ascent;
  int16_t descent;
};

// By face number: family * 4 + style (bit 1 bold, bit 2 italic).
constexpr std::array<Face, 12> faces{{
    {"Helvetica", "Helvetica", "NimbusSans-Regular", 718, -207},
    {"Helvetica-Bold", "Helvetica", "NimbusSans-Bold", 718, -207},
    {"Helvetica-Oblique", "Helvetica", "NimbusSans-Italic", 718, -207},
    {"Helvetica-BoldOblique", "Helvetica", "NimbusSans-BoldItalic", 718, -207},
    {"Times-Roman", "Times", "NimbusRoman-Regular", 683, -217},
    {"Times-Bold", "Times", "NimbusRoman-Bold", 683, -217},
    {"Times-Italic", "Times", "NimbusRoman-Italic", 683, -217},
    {"Times-BoldItalic", "Times", "NimbusRoman-BoldItalic", 683, -217},
    {"Courier", "Courier", "NimbusMonoPS-Regular", 629, -157},
    {"Courier-Bold", "Courier", "NimbusMonoPS-Bold", 629, -157},
    {"Courier-Oblique", "Courier", "NimbusMonoPS-Italic", 629, -157},
    {"Courier-BoldOblique", "Courier", "NimbusMonoPS-BoldItalic", 629, -157},
}};

constexpr int kFirstCode = 32;
constexpr int kCodes = 256 - kFirstCode;
constexpr int kCharSets = 3;

// One code of a character set: its Unicode character and the glyph name of the standard faces;
// {0, nullptr} where the set leaves the code undefined.
struct Code {
  uint32_t unicode;
  const char* glyph;
};

// Codes 32 to 126, the same in every set.
constexpr std::array<const char*, 95> ascii_glyphs{
    "space", "exclam", "quotedbl", "numbersign", "dollar", "percent", "ampersand", "quotesingle", "parenleft",
    "parenright", "asterisk", "plus", "comma", "hyphen", "period", "slash", "zero", "one", "two", "three", "four",
    "five", "six", "seven", "eight", "nine", "colon", "semicolon", "less", "equal", "greater", "question", "at",
    "A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L", "M", "N", "O", "P", "Q", "R", "S", "T", "U", "V",
    "W", "X", "Y", "Z", "bracketleft", "backslash", "bracketright", "asciicircum", "underscore", "grave", "a", "b",
    "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o", "p", "q", "r", "s", "t", "u", "v", "w", "x",
    "y", "z", "braceleft", "bar", "braceright", "asciitilde"};

// WinAnsiEncoding (ISO 32000-1, Annex D.2), which is Windows code page 1252: codes 128 to 255.
constexpr std::array<Code, 128> latin1_high{{
    {0x20AC, "Euro"}, {0, nullptr}, {0x201A, "quotesinglbase"}, {0x0192, "florin"},
    {0x201E, "quotedblbase"}, {0x2026, "ellipsis"}, {0x2020, "dagger"}, {0x2021, "daggerdbl"},
    {0x02C6, "circumflex"}, {0x2030, "perthousand"}, {0x0160, "Scaron"}, {0x2039, "guilsinglleft"},
    {0x0152, "OE"}, {0, nullptr}, {0x017D, "Zcaron"}, {0, nullptr},
    {0, nullptr}, {0x2018, "quoteleft"}, {0x2019, "quoteright"}, {0x201C, "quotedblleft"},
    {0x201D, "quotedblright"}, {0x2022, "bullet"}, {0x2013, "endash"}, {0x2014, "emdash"},
    {0x02DC, "tilde"}, {0x2122, "trademark"}, {0x0161, "scaron"}, {0x203A, "guilsinglright"},
    {0x0153, "oe"}, {0, nullptr}, {0x017E, "zcaron"}, {0x0178, "Ydieresis"},
    {0xA0, "space"}, {0xA1, "exclamdown"}, {0xA2, "cent"}, {0xA3, "sterling"},
    {0xA4, "currency"}, {0xA5, "yen"}, {0xA6, "brokenbar"}, {0xA7, "section"},
    {0xA8, "dieresis"}, {0xA9, "copyright"}, {0xAA, "ordfeminine"}, {0xAB, "guillemotleft"},
    {0xAC, "logicalnot"}, {0xAD, "hyphen"}, {0xAE, "registered"}, {0xAF, "macron"},
    {0xB0, "degree"}, {0xB1, "plusminus"}, {0xB2, "twosuperior"}, {0xB3, "threesuperior"},
    {0xB4, "acute"}, {0xB5, "mu"}, {0xB6, "paragraph"}, {0xB7, "periodcentered"},
    {0xB8, "cedilla"}, {0xB9, "onesuperior"}, {0xBA, "ordmasculine"}, {0xBB, "guillemotright"},
    {0xBC, "onequarter"}, {0xBD, "onehalf"}, {0xBE, "threequarters"}, {0xBF, "questiondown"},
    {0xC0, "Agrave"}, {0xC1, "Aacute"}, {0xC2, "Acircumflex"}, {0xC3, "Atilde"},
    {0xC4, "Adieresis"}, {0xC5, "Aring"}, {0xC6, "AE"}, {0xC7, "Ccedilla"},
    {0xC8, "Egrave"}, {0xC9, "Eacute"}, {0xCA, "Ecircumflex"}, {0xCB, "Edieresis"},
    {0xCC, "Igrave"}, {0xCD, "Iacute"}, {0xCE, "Icircumflex"}, {0xCF, "Idieresis"},
    {0xD0, "Eth"}, {0xD1, "Ntilde"}, {0xD2, "Ograve"}, {0xD3, "Oacute"},
    {0xD4, "Ocircumflex"}, {0xD5, "Otilde"}, {0xD6, "Odieresis"}, {0xD7, "multiply"},
    {0xD8, "Oslash"}, {0xD9, "Ugrave"}, {0xDA, "Uacute"}, {0xDB, "Ucircumflex"},
    {0xDC, "Udieresis"}, {0xDD, "Yacute"}, {0xDE, "Thorn"}, {0xDF, "germandbls"},
    {0xE0, "agrave"}, {0xE1, "aacute"}, {0xE2, "acircumflex"}, {0xE3, "atilde"},
    {0xE4, "adieresis"}, {0xE5, "aring"}, {0xE6, "ae"}, {0xE7, "ccedilla"},
    {0xE8, "egrave"}, {0xE9, "eacute"}, {0xEA, "ecircumflex"}, {0xEB, "edieresis"},
    {0xEC, "igrave"}, {0xED, "iacute"}, {0xEE, "icircumflex"}, {0xEF, "idieresis"},
    {0xF0, "eth"}, {0xF1, "ntilde"}, {0xF2, "ograve"}, {0xF3, "oacute"},
    {0xF4, "ocircumflex"}, {0xF5, "otilde"}, {0xF6, "odieresis"}, {0xF7, "divide"},
    {0xF8, "oslash"}, {0xF9, "ugrave"}, {0xFA, "uacute"}, {0xFB, "ucircumflex"},
    {0xFC, "udieresis"}, {0xFD, "yacute"}, {0xFE, "thorn"}, {0xFF, "ydieresis"},
}};

// ISO 8859-2: codes 160 to 255 (128 to 159 are control codes there).
constexpr std::array<Code, 96> latin2_high{{
    {0xA0, "space"}, {0x0104, "Aogonek"}, {0x02D8, "breve"}, {0x0141, "Lslash"},
    {0xA4, "currency"}, {0x013D, "Lcaron"}, {0x015A, "Sacute"}, {0xA7, "section"},
    {0xA8, "dieresis"}, {0x0160, "Scaron"}, {0x015E, "Scedilla"}, {0x0164, "Tcaron"},
    {0x0179, "Zacute"}, {0xAD, "hyphen"}, {0x017D, "Zcaron"}, {0x017B, "Zdotaccent"},
    {0xB0, "degree"}, {0x0105, "aogonek"}, {0x02DB, "ogonek"}, {0x0142, "lslash"},
    {0xB4, "acute"}, {0x013E, "lcaron"}, {0x015B, "sacute"}, {0x02C7, "caron"},
    {0xB8, "cedilla"}, {0x0161, "scaron"}, {0x015F, "scedilla"}, {0x0165, "tcaron"},
    {0x017A, "zacute"}, {0x02DD, "hungarumlaut"}, {0x017E, "zcaron"}, {0x017C, "zdotaccent"},
    {0x0154, "Racute"}, {0xC1, "Aacute"}, {0xC2, "Acircumflex"}, {0x0102, "Abreve"},
    {0xC4, "Adieresis"}, {0x0139, "Lacute"}, {0x0106, "Cacute"}, {0xC7, "Ccedilla"},
    {0x010C, "Ccaron"}, {0xC9, "Eacute"}, {0x0118, "Eogonek"}, {0xCB, "Edieresis"},
    {0x011A, "Ecaron"}, {0xCD, "Iacute"}, {0xCE, "Icircumflex"}, {0x010E, "Dcaron"},
    {0x0110, "Dcroat"}, {0x0143, "Nacute"}, {0x0147, "Ncaron"}, {0xD3, "Oacute"},
    {0xD4, "Ocircumflex"}, {0x0150, "Ohungarumlaut"}, {0xD6, "Odieresis"}, {0xD7, "multiply"},
    {0x0158, "Rcaron"}, {0x016E, "Uring"}, {0xDA, "Uacute"}, {0x0170, "Uhungarumlaut"},
    {0xDC, "Udieresis"}, {0xDD, "Yacute"}, {0x0162, "Tcommaaccent"}, {0xDF, "germandbls"},
    {0x0155, "racute"}, {0xE1, "aacute"}, {0xE2, "acircumflex"}, {0x0103, "abreve"},
    {0xE4, "adieresis"}, {0x013A, "lacute"}, {0x0107, "cacute"}, {0xE7, "ccedilla"},
    {0x010D, "ccaron"}, {0xE9, "eacute"}, {0x0119, "eogonek"}, {0xEB, "edieresis"},
    {0x011B, "ecaron"}, {0xED, "iacute"}, {0xEE, "icircumflex"}, {0x010F, "dcaron"},
    {0x0111, "dcroat"}, {0x0144, "nacute"}, {0x0148, "ncaron"}, {0xF3, "oacute"},
    {0xF4, "ocircumflex"}, {0x0151, "ohungarumlaut"}, {0xF6, "odieresis"}, {0xF7, "divide"},
    {0x0159, "rcaron"}, {0x016F, "uring"}, {0xFA, "uacute"}, {0x0171, "uhungarumlaut"},
    {0xFC, "udieresis"}, {0xFD, "yacute"}, {0x0163, "tcommaaccent"}, {0x02D9, "dotaccent"},
}};

// The entry of code (32 to 255) in a character set.
constexpr Code code_of(int set, int code) {
  if (set < 0 || set >= kCharSets || code < kFirstCode || code > 255 || code == 127) return {0, nullptr};
  if (code < 127) return {static_cast<uint32_t>(code), ascii_glyphs[static_cast<size_t>(code - kFirstCode)]};
  if (set == 0) return {0, nullptr};
  if (set == 1) return latin1_high[static_cast<size_t>(code - 128)];
  if (code < 160) return {0, nullptr};
  return latin2_high[static_cast<size_t>(code - 160)];
}

}  // namespace kvfont

#endif
