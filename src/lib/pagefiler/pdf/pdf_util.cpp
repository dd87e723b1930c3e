// Conversions between the engine's image description (photometric value, compression code,
// header calibration and ICC profile) and the PDF library's colour spaces, stream filters and
// page boxes, for the layer writers, the page reader and the reader's colour operators.

#include <cstring>
#include <memory>

#include "dio_pdf.h"

namespace {

constexpr int32_t kBilevelBlackIs1 = 0x15;
constexpr int32_t kBilevelMinIsBlack = 0x76;

constexpr double kD65[3] = {0.9504, 1.0, 1.0889};
constexpr double kD50[3] = {0.9642, 1.0, 0.8249};
constexpr double kGamma = 2.4;
// X, Y, Z of red, then of green, then of blue.
constexpr double kRgbToXyz[9] = {0.41238, 0.21262, 0.01934, 0.35757, 0.71514, 0.11921, 0.18045, 0.07215, 0.95051};
constexpr double kLabRange[4] = {-128, 127, -128, 127};
constexpr double kItuLabRange[4] = {-85.333, 84.667, -75.294, 124.706};

// Engine compression codes the stream setter knows.
enum : int32_t {
  kNone = 0,
  kJpeg = 1,
  kG3 = 2,
  kG4 = 3,
  kG3TwoD = 4,
  kDeflate = 6,
  kJbig2 = 7,
  kLzw = 10,
  kAscii = 11,
  kDiff = 15,
  kJpegDeflate = 50,
  kAsciiG3 = 51,
};

struct PhotoSpace {
  int32_t photometric;
  int32_t space;
};

constexpr PhotoSpace kPhotoSpaces[] = {
    {1, PDF_CS_DEVICE_GRAY},  {21, PDF_CS_DEVICE_GRAY}, {117, PDF_CS_DEVICE_GRAY}, {118, PDF_CS_DEVICE_GRAY},
    {2, PDF_CS_DEVICE_RGB},   {18, PDF_CS_DEVICE_RGB},  {6, PDF_CS_DEVICE_CMYK},   {107, PDF_CS_DEVICE_CMYK},
    {17, PDF_CS_CAL_GRAY},    {22, PDF_CS_CAL_GRAY},    {108, PDF_CS_CAL_GRAY},    {105, PDF_CS_CAL_RGB},
    {111, PDF_CS_CAL_RGB},    {4, PDF_CS_LAB},          {16, PDF_CS_LAB},          {20, PDF_CS_LAB},
    {15, PDF_CS_SRGB},
};

bool inverted_bilevel(int32_t photometric) {
  return photometric == kBilevelBlackIs1 || photometric == kBilevelMinIsBlack;
}

int fail(elf_state* state, int code, const char* format, const char* who = nullptr) {
  return setStatus(state, code, QEL_SEVERITY_ERROR, format, who);
}

// Decode [1 0] for the two bilevel values whose 1 is black, as long as the data reaches the
// reader through at most one filter.
bool decode_rule(PDFDoc* doc, PDFObj* stream, int32_t photometric) {
  if (!inverted_bilevel(photometric) || PDFGetStreamFilterCount(doc, stream) > 1) return true;
  return PDFSetImageDecode(doc, stream, 1, 0) == 1;
}

int jpeg_filter(elf_state* state, PDFDoc* doc, const PdfFilterParams* p, PDFObj* stream) {
  int ok;
  if (p->colorKind == 5) {
    ok = PDFSetStreamFilter(doc, stream, PDF_FILTER_DCT, "ColorTransform", 0, nullptr);
  } else if (p->jpegQuality != 0) {
    ok = PDFSetStreamFilter(doc, stream, PDF_FILTER_DCT, "Quality", p->jpegQuality, nullptr);
  } else {
    ok = PDFSetStreamFilter(doc, stream, PDF_FILTER_DCT, nullptr);
  }
  return ok == 1 ? 0 : fail(state, QEL_STATUS_FAILED, "__jpegStreamFilter: Error setting DCT stream filter\n");
}

int deflate_filter(elf_state* state, PDFDoc* doc, const PdfFilterParams* p, PDFObj* stream) {
  if (PDFSetStreamFilter(doc, stream, PDF_FILTER_FLATE, nullptr) != 1) {
    return fail(state, QEL_STATUS_FAILED, "__defStreamFilter: Error setting DEFLATE stream filter\n");
  }
  if (!decode_rule(doc, stream, p->photometric)) {
    return fail(state, QEL_STATUS_FAILED, "__defStreamFilter: Error setting decode array\n");
  }
  return 0;
}

int32_t base_photometric(const PDFColorSpace* cs) {
  if (!cs) return 0;
  switch (cs->kind) {
    case PDF_CS_DEVICE_GRAY:
    case PDF_CS_CAL_GRAY:
    case PDF_CS_SEPARATION:
      return 1;
    case PDF_CS_SRGB:
      return 15;
    case PDF_CS_CAL_RGB:
      return 2;
    case PDF_CS_LAB:
      return 4;
    case PDF_CS_DEVICE_RGB:
      return 18;
    case PDF_CS_DEVICE_CMYK:
      return 107;
    default:
      return 0;
  }
}

// The filter names of a stream, in decoding order, with their parameter dictionaries (null
// where there is none). Abbreviated names are those of inline images.
struct StreamFilter {
  int32_t code;
  PDFObj* params;
};

int32_t filter_code(PDFDoc* doc, PDFObj* name) {
  struct Named {
    const char* name;
    int32_t code;
  };
  static constexpr Named kNames[] = {
      {"ASCII85Decode", PDF_FILTER_ASCII85}, {"A85", PDF_FILTER_ASCII85},
      {"ASCIIHexDecode", PDF_FILTER_ASCII_HEX}, {"AHx", PDF_FILTER_ASCII_HEX},
      {"LZWDecode", PDF_FILTER_LZW}, {"LZW", PDF_FILTER_LZW},
      {"FlateDecode", PDF_FILTER_FLATE}, {"Fl", PDF_FILTER_FLATE},
      {"RunLengthDecode", PDF_FILTER_RUN_LENGTH}, {"RL", PDF_FILTER_RUN_LENGTH},
      {"CCITTFaxDecode", PDF_FILTER_CCITT}, {"CCF", PDF_FILTER_CCITT},
      {"JBIG2Decode", PDF_FILTER_JBIG2},
      {"DCTDecode", PDF_FILTER_DCT}, {"DCT", PDF_FILTER_DCT},
  };
  for (const Named& n : kNames) {
    if (PDFStringTestCString(doc, name, n.name)) return n.code;
  }
  return PDF_FILTER_NONE;
}

// The entry of an array-or-single value: index i of an array, the value itself for i 0.
PDFObj* nth(PDFDoc* doc, PDFObj* value, int32_t i) {
  if (!value) return nullptr;
  if (PDFObjectKind(doc, value) == PDF_OBJ_ARRAY) return PDFGetArrayObject(doc, value, i);
  return i == 0 ? value : nullptr;
}

int32_t int_entry(PDFDoc* doc, PDFObj* dict, const char* key, int32_t fallback) {
  int32_t v = fallback;
  PDFObj* e = dict && PDFObjectKind(doc, dict) == PDF_OBJ_DICT ? PDFGetDictEntry(doc, dict, key) : nullptr;
  if (e && PDFGetInteger(doc, e, &v) != 1) v = fallback;
  return v;
}

bool bool_entry(PDFDoc* doc, PDFObj* dict, const char* key, bool* value) {
  PDFObj* e = dict && PDFObjectKind(doc, dict) == PDF_OBJ_DICT ? PDFGetDictEntry(doc, dict, key) : nullptr;
  int32_t v = 0;
  if (!e || PDFGetBoolean(doc, e, &v) != 1) return false;
  *value = v != 0;
  return true;
}

struct CompressionFree {
  void operator()(KVngCompressionData* d) const { KVngFreeCompressionData(d); }
};
using CompressionPtr = std::unique_ptr<KVngCompressionData, CompressionFree>;

}  // namespace

extern "C" {

int32_t pkvuQELColor2kvPDF(int32_t photometric) {
  for (const PhotoSpace& p : kPhotoSpaces) {
    if (p.photometric == photometric) return p.space;
  }
  return -1;
}

void __pkvuQELPhotoToPdfAndKv(int32_t photometric, int32_t* pdfSpace, int32_t* usePhotometric) {
  int32_t space;
  int32_t use = photometric;
  // The colour kinds written as RGB all go out as calibrated RGB's default, device RGB space.
  if (photometric == 15 || photometric == 24 || photometric == 111) {
    space = PDF_CS_DEVICE_RGB;
    use = 111;
  } else if (photometric == 22) {
    space = PDF_CS_DEVICE_GRAY;
  } else {
    space = pkvuQELColor2kvPDF(photometric);
  }
  if (pdfSpace) *pdfSpace = space;
  if (usePhotometric) *usePhotometric = use;
}

int32_t __pkvuPDFCompToQEL(int32_t filter) {
  switch (filter) {
    case PDF_FILTER_CCITT:
      return kG3;
    case PDF_FILTER_FLATE:
      return kDeflate;
    case PDF_FILTER_JBIG2:
      return kJbig2;
    case PDF_FILTER_DCT:
      return kJpeg;
    default:
      return -1;
  }
}

int __pkvuSetStreamFilter(elf_state* state, PDFDoc* doc, int32_t compression, PdfFilterParams* params,
                          PDFObj* stream) {
  static const char kWho[] = "__pkvuSetStreamFilter";
  if (!params) return fail(state, QEL_STATUS_INVALID, "%s: No stream filter parameters\n", kWho);
  switch (compression) {
    case kNone:
      if (!decode_rule(doc, stream, params->photometric)) {
        elfMessage(state, "Error setting decode array: %s\n", PDFErrorText(doc));
        return fail(state, QEL_STATUS_INVALID, "%s: Error setting uncompressed decode array\n", kWho);
      }
      return 0;
    case kJpeg:
      return jpeg_filter(state, doc, params, stream);
    case kJpegDeflate: {
      const int status = jpeg_filter(state, doc, params, stream);
      return status != 0 ? status : deflate_filter(state, doc, params, stream);
    }
    case kG3:
    case kG4:
    case kG3TwoD: {
      const int32_t k = compression == kG3 ? 0 : compression == kG4 ? -1 : 1;
      const int32_t blackIs1 = inverted_bilevel(params->photometric) ? 0 : 1;
      if (PDFSetStreamFilter(doc, stream, PDF_FILTER_CCITT, "K", k, "Columns", params->columns, "BlackIs1", blackIs1,
                             nullptr) != 1) {
        elfMessage(state, "Error setting stream filter: %s\n", PDFErrorText(doc));
        return fail(state, QEL_STATUS_INVALID, "%s: Error setting CCITT stream filter\n", kWho);
      }
      return 0;
    }
    case kDeflate:
      return deflate_filter(state, doc, params, stream);
    case kLzw: {
      const int ok = params->predictor != 0
                         ? PDFSetStreamFilter(doc, stream, PDF_FILTER_LZW, "Predictor", params->predictor,
                                              "BitsPerComponent", params->bitsPerComponent, "Colors", params->colors,
                                              "Columns", params->columns, nullptr)
                         : PDFSetStreamFilter(doc, stream, PDF_FILTER_LZW, nullptr);
      if (ok != 1) return fail(state, QEL_STATUS_INVALID, "%s: Error setting LZW stream filter\n", kWho);
      if (!decode_rule(doc, stream, params->photometric)) {
        return fail(state, QEL_STATUS_INVALID, "%s: Error setting LZW decode array\n", kWho);
      }
      return 0;
    }
    case kAscii:
      if (PDFSetStreamFilter(doc, stream, PDF_FILTER_ASCII85, nullptr) != 1) {
        return fail(state, QEL_STATUS_INVALID, "%s: Error setting ASCII stream filter\n", kWho);
      }
      if (!decode_rule(doc, stream, params->photometric)) {
        return fail(state, QEL_STATUS_INVALID, "%s: Error setting ASCII decode array\n", kWho);
      }
      return 0;
    case kDiff:
      // A differencing predictor is recorded for the coding that follows it; no filter of its own.
      params->predictor = kDiff;
      return 0;
    default:
      elfMessage(state, "Unknown compression\n");
      return fail(state, QEL_STATUS_INVALID, "%s: Unknown or unsupported compression!\n", kWho);
  }
}

void __pkvuRmJpegCompressionParams(PDFObj* stream, PDFDoc* doc) {
  static const char* const kKeys[] = {"Visual", "Quality", "Smoothing"};
  PDFObj* parms = stream ? PDFGetDictEntry(doc, stream, "DecodeParms") : nullptr;
  if (!parms) return;
  auto strip = [&](PDFObj* dict) {
    if (!dict || PDFObjectKind(doc, dict) != PDF_OBJ_DICT || PDFGetDictCount(doc, dict) == 0) return;
    for (const char* key : kKeys) PDFRemoveDictEntry(doc, dict, key);
  };
  if (PDFObjectKind(doc, parms) == PDF_OBJ_ARRAY) {
    const int32_t n = PDFGetArrayCount(doc, parms);
    for (int32_t i = 0; i < n; ++i) strip(PDFLoadObject(doc, PDFGetArrayObject(doc, parms, i)));
  } else {
    strip(PDFLoadObject(doc, parms));
  }
}

int __pkvuFilterHasYCCTrans(PDFDoc* doc, PDFImage* image, PDFObj* filterParams) {
  if (!image) return 0;
  PDFObj* dict = filterParams ? PDFLoadObject(doc, filterParams) : nullptr;
  PDFObj* ct = dict && PDFObjectKind(doc, dict) == PDF_OBJ_DICT ? PDFGetDictEntry(doc, dict, "ColorTransform") : nullptr;
  if (ct) {
    int32_t v = 0;
    return PDFGetInteger(doc, ct, &v) == 1 && v == 1 && image->separations >= 3 ? 1 : 0;
  }
  return image->separations == 3 ? 1 : 0;
}

int __pkvuFetchMediaSize(PDFDoc* doc, PDFObj* page, int32_t capacity, double* box) {
  if (!doc || !page || !box || capacity < 1) return 0;
  PDFObj* media = PDFGetPgMediaBox(doc, page);
  if (!media || PDFObjectKind(doc, media) != PDF_OBJ_ARRAY || PDFGetArrayCount(doc, media) > capacity) return 0;
  PDFObj* use = media;
  PDFObj* crop = PDFGetDictEntry(doc, page, "CropBox");
  if (crop && PDFObjectKind(doc, crop) == PDF_OBJ_ARRAY) {
    if (PDFGetArrayCount(doc, crop) > capacity) return 0;
    use = crop;
  }
  const int32_t n = PDFGetArrayCount(doc, use);
  for (int32_t i = 0; i < n; ++i) {
    PDFObj* e = PDFGetArrayObject(doc, use, i);
    const int32_t kind = e ? PDFObjectKind(doc, e) : PDF_OBJ_NONE;
    double v = -1.0;
    if ((kind != PDF_OBJ_INTEGER && kind != PDF_OBJ_REAL) || PDFGetReal(doc, e, &v) != 1) v = -1.0;
    box[i] = v;
  }
  return 1;
}

int __pkvuGetColorInfo(KVngUserCMData* header, int32_t photometric, int32_t* hasWhitePoint, double whitePoint[3],
                       int32_t* hasGamma, double gamma[3], int32_t* hasMatrix, double matrix[9]) {
  *hasWhitePoint = *hasGamma = *hasMatrix = 0;
  switch (photometric) {
    case 105: {
      *hasWhitePoint = KVHdrGetHeaderDoubles(header, PDF_HDR_SECTION, PDF_HDR_WHITEPOINT, whitePoint, 3) == 3;
      double g[3];
      const int32_t ng = KVHdrGetHeaderDoubles(header, PDF_HDR_SECTION, PDF_HDR_GAMMA, g, 3);
      if (ng >= 1) {
        *hasGamma = 1;
        for (int i = 0; i < 3; ++i) gamma[i] = g[ng >= 3 ? i : 0];
      }
      *hasMatrix = KVHdrGetHeaderDoubles(header, PDF_HDR_SECTION, PDF_HDR_PRIMARIES, matrix, 9) == 9;
      return 1;
    }
    case 108: {
      *hasWhitePoint = KVHdrGetHeaderDoubles(header, PDF_HDR_SECTION, PDF_HDR_WHITEPOINT, whitePoint, 3) == 3;
      double g[3];
      if (KVHdrGetHeaderDoubles(header, PDF_HDR_SECTION, PDF_HDR_GAMMA, g, 3) >= 1) {
        *hasGamma = 1;
        gamma[0] = gamma[1] = gamma[2] = g[0];
      }
      return 1;
    }
    case 22:
    case 111:
      *hasWhitePoint = *hasGamma = *hasMatrix = 1;
      std::memcpy(whitePoint, kD65, sizeof kD65);
      gamma[0] = gamma[1] = gamma[2] = kGamma;
      std::memcpy(matrix, kRgbToXyz, sizeof kRgbToXyz);
      return 1;
    default:
      return 0;
  }
}

PdfColorInfo* __pkvuSearchForColorInfo(KVngUserCMData* header) {
  if (!header) return nullptr;
  PdfColorInfo found{};
  found.hasWhitePoint = KVHdrGetHeaderDoubles(header, PDF_HDR_SECTION, PDF_HDR_WHITEPOINT, found.whitePoint, 3) == 3;
  const int32_t ng = KVHdrGetHeaderDoubles(header, PDF_HDR_SECTION, PDF_HDR_GAMMA, found.gamma, 3);
  found.gammaCount = ng >= 3 ? 3 : ng >= 1 ? 1 : 0;
  found.hasMatrix = KVHdrGetHeaderDoubles(header, PDF_HDR_SECTION, PDF_HDR_PRIMARIES, found.matrix, 9) == 9;
  if (!found.hasWhitePoint && !found.gammaCount && !found.hasMatrix) return nullptr;
  auto* info = static_cast<PdfColorInfo*>(kvng_internal_calloc(1, sizeof(PdfColorInfo)));
  if (info) *info = found;
  return info;
}

void __pkvuFreeColorInfo(PdfColorInfo* info) { kvng_internal_free(info); }

int __pkvuRegisterColorSpace(PDFDoc* doc, PDFObj* page, const char* name, KVngUserCMData* header,
                             int32_t photometric) {
  int32_t hw = 0, hg = 0, hm = 0;
  double wp[3], g[3], m[9];
  __pkvuGetColorInfo(header, photometric, &hw, wp, &hg, g, &hm, m);
  // Whatever the header leaves out is taken from the defaults, so the space is always complete.
  if (!hw) std::memcpy(wp, kD65, sizeof wp);
  if (!hg) g[0] = g[1] = g[2] = kGamma;
  if (!hm) std::memcpy(m, kRgbToXyz, sizeof m);
  if (photometric == 105 || photometric == 111) return PDFPageAddRGBColorSpace(doc, page, name, wp, m, g);
  return PDFPageAddGrayColorSpace(doc, page, name, wp, g[0]);
}

int32_t __pdiouInitPDFColorspace(PDFDoc* doc, PDFObj* image, PDFObj* page, int32_t photometric, int32_t* parts,
                                 KVngUserCMData* header) {
  (void)page;
  int32_t space = -1, use = photometric;
  __pkvuQELPhotoToPdfAndKv(photometric, &space, &use);
  if (space < 0) return -1;

  size_t iccLength = 0;
  const void* icc = KVHdrGetHeaderBytes(header, PDF_HDR_SECTION, PDF_HDR_ICC, &iccLength);
  if (icc && KVngGetImageParts(use) == 1 && parts && *parts == 1) icc = nullptr;
  int32_t iccComponents = 0, alternate = PDF_CS_DEVICE_GRAY;
  if (icc && iccLength > 0) {
    switch (space) {
      case PDF_CS_DEVICE_RGB:
      case PDF_CS_CAL_RGB:
        iccComponents = 3;
        alternate = PDF_CS_DEVICE_RGB;
        break;
      case PDF_CS_DEVICE_CMYK:
        iccComponents = 4;
        alternate = PDF_CS_DEVICE_CMYK;
        break;
      case PDF_CS_DEVICE_GRAY:
      case PDF_CS_CAL_GRAY:
        iccComponents = 1;
        break;
      default:
        // A Lab or sRGB image keeps its own space: a profile has no device space to fall back on.
        break;
    }
  }

  if (iccComponents > 0) {
    if (PDFSetImageColorSpace(doc, image, PDF_CS_ICC) != 1) return -1;
    PDFObj* profile = PDFAddICCProfile(doc, image);
    if (!profile || PDFSetICCInfo(doc, profile, iccComponents, alternate) != 1 ||
        PDFAppendICCData(doc, profile, icc, iccLength) != 1) {
      return -1;
    }
    return space;
  }
  if (PDFSetImageColorSpace(doc, image, space) != 1) return -1;

  double wp[3], g[3], m[9];
  switch (space) {
    case PDF_CS_CAL_GRAY: {
      const bool own = KVHdrGetHeaderDoubles(header, PDF_HDR_SECTION, PDF_HDR_WHITEPOINT, wp, 3) == 3;
      if (!own) std::memcpy(wp, kD65, sizeof wp);
      if (KVHdrGetHeaderDoubles(header, PDF_HDR_SECTION, PDF_HDR_GAMMA, g, 3) < 1) g[0] = kGamma;
      if (PDFSetImageCalInfo(doc, image, wp, g, 1, own ? nullptr : kRgbToXyz, nullptr) != 1) return -1;
      break;
    }
    case PDF_CS_CAL_RGB: {
      if (KVHdrGetHeaderDoubles(header, PDF_HDR_SECTION, PDF_HDR_WHITEPOINT, wp, 3) != 3) std::memcpy(wp, kD65, sizeof wp);
      if (KVHdrGetHeaderDoubles(header, PDF_HDR_SECTION, PDF_HDR_PRIMARIES, m, 9) != 9) std::memcpy(m, kRgbToXyz, sizeof m);
      if (KVHdrGetHeaderDoubles(header, PDF_HDR_SECTION, PDF_HDR_GAMMA, g, 3) < 1) g[0] = kGamma;
      g[1] = g[2] = g[0];
      if (PDFSetImageCalInfo(doc, image, wp, g, 3, m, nullptr) != 1) return -1;
      break;
    }
    case PDF_CS_LAB: {
      const double* range = use == 4 ? kLabRange : (use == 16 || use == 20) ? kItuLabRange : nullptr;
      if (PDFSetImageCalInfo(doc, image, kD50, nullptr, 0, nullptr, range) != 1) return -1;
      break;
    }
    default:
      break;
  }
  return space;
}

int __pdiouGetCompression(elf_object* description, int32_t contone, int32_t binary, PdfCompression* out) {
  if (!out) return QEL_STATUS_INVALID;
  out->data = nullptr;
  out->code = 0;
  elf_QELHDR* h = qelHdr(description);
  if (!h) return QEL_STATUS_INVALID;
  CompressionPtr data(KVngLoadCompressionData(KVngHdrUserData(description, 0)));
  if (h->compression == 0) {
    const int32_t bits = h->bitsPerSample && h->bitsPerSampleCount > 0 ? h->bitsPerSample[0] : 1;
    out->code = bits >= 2 ? contone : binary;
  } else if (!data) {
    out->code = h->compression;
  } else {
    out->data = data.release();
    out->code = -1;
  }
  return 0;
}

int __pdiouSetTransform(elf_object* layer, double matrix[6]) {
  elf_QELLAYER* l = qelLayer(layer);
  if (!l || !matrix) return QEL_STATUS_INVALID;
  QELTransform2D* placement = QELTransform2DNew();
  if (!placement) {
    return setStatus(layer->state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR,
                     "Cannot create temporary QELTransform2D object\n");
  }
  QELTransform2DScale(placement, l->width, l->height);
  QELTransform2DTranslate(placement, l->x, l->y);
  if (l->transform) QELTransform2DConcat(placement, l->transform);
  std::memcpy(matrix, placement->m, sizeof placement->m);
  _elfFree(placement);
  return 0;
}

int __pdiouInitHeaderCompInfo(PDFDoc* doc, PDFImage* image, elf_object* description, int32_t* blackIs1) {
  elf_QELHDR* h = qelHdr(description);
  if (!doc || !image || !image->stream || !h) return 0;
  if (blackIs1) *blackIs1 = 0;
  PDFObj* filters = PDFGetDictEntry(doc, image->stream, "Filter");
  PDFObj* parms = PDFGetDictEntry(doc, image->stream, "DecodeParms");
  if (!parms) parms = PDFGetDictEntry(doc, image->stream, "DP");
  if (!filters) filters = PDFGetDictEntry(doc, image->stream, "F");
  int32_t count = 0;
  if (filters) count = PDFObjectKind(doc, filters) == PDF_OBJ_ARRAY ? PDFGetArrayCount(doc, filters) : 1;

  CompressionPtr chain(KVngCreateCompressionData());
  if (!chain) return 0;
  int32_t flateAndDct = 0;
  int32_t ccittK = 0;
  bool ccitt = false, jbig2 = false;
  for (int32_t i = count - 1; i >= 0; --i) {
    const int32_t code = filter_code(doc, nth(doc, filters, i));
    PDFObj* p = PDFLoadObject(doc, nth(doc, parms, i));
    if (p && PDFObjectKind(doc, p) != PDF_OBJ_DICT) p = nullptr;
    int ok = 1;
    switch (code) {
      case PDF_FILTER_ASCII85:
      case PDF_FILTER_ASCII_HEX:
        ok = KVngPushCompressionData(chain.get(), kAscii, nullptr);
        break;
      case PDF_FILTER_LZW:
        ok = KVngPushCompressionData(chain.get(), kLzw, int_entry(doc, p, "EarlyChange", 1) ? "earlychange" : nullptr);
        break;
      case PDF_FILTER_FLATE:
        ++flateAndDct;
        ok = KVngPushCompressionData(chain.get(), kDeflate, nullptr);
        break;
      case PDF_FILTER_CCITT: {
        ccitt = true;
        ccittK = int_entry(doc, p, "K", 0);
        bool eol = false;
        bool_entry(doc, p, "EndOfLine", &eol);
        ok = KVngPushCompressionData(chain.get(), ccittK == 0 ? kG3 : ccittK < 0 ? kG4 : kG3TwoD,
                                     ccittK == 0 && eol ? "eol" : nullptr);
        break;
      }
      case PDF_FILTER_JBIG2:
        jbig2 = true;
        break;
      case PDF_FILTER_DCT:
        ++flateAndDct;
        ok = KVngPushCompressionData(chain.get(), kJpeg, __pkvuFilterHasYCCTrans(doc, image, p) ? "ycc_transform" : nullptr);
        break;
      default:
        break;
    }
    if (!ok) return 0;
  }
  if (count == 0 && !KVngPushCompressionData(chain.get(), kNone, nullptr)) return 0;

  // BlackIs1 is read from the CCITT filter's parameters: a dictionary, or the first entry of an
  // array that has it.
  if (ccitt && blackIs1 && parms) {
    const int32_t n = PDFObjectKind(doc, parms) == PDF_OBJ_ARRAY ? PDFGetArrayCount(doc, parms) : 1;
    for (int32_t i = 0; i < n; ++i) {
      bool b = false;
      if (bool_entry(doc, PDFLoadObject(doc, nth(doc, parms, i)), "BlackIs1", &b)) {
        *blackIs1 = b ? 1 : 0;
        break;
      }
    }
  }

  // A chain of no filter the engine codes (JBIG2 alone) is no compression data: saved, it would
  // make the writer take the data for precompressed under no filter at all.
  if (KVngCompressionDataCount(chain.get()) > 0) {
    KVngUserCMData* user = KVngHdrUserData(description, 1);
    if (!user || !KVngSaveCompressionData(user, chain.get())) return 0;
  }
  int32_t first = kNone;
  KVngGetCompressionData(chain.get(), &first, nullptr, 0);
  h->compression = jbig2 ? kJbig2 : first;
  if (flateAndDct == 2 && count == 2) h->compression = kJpegDeflate;
  if (h->compression == kAscii && ccitt) h->compression = kAsciiG3 + (ccittK == 0 ? 0 : ccittK < 0 ? 1 : 2);
  return 1;
}

int __pdiouInitHeaderColorInfo(PDFDoc* doc, PDFImage* image, elf_object* description) {
  elf_QELHDR* h = qelHdr(description);
  if (!doc || !image || !h) return 0;
  const PDFColorSpace* cs = image->colorSpace;
  if (!cs) return 0;
  KVngUserCMData* user = nullptr;
  auto need_user = [&] { return user ? user : (user = KVngHdrUserData(description, 1)); };
  int32_t photometric = 0;
  switch (cs->kind) {
    case PDF_CS_DEVICE_GRAY:
      photometric = 1;
      break;
    case PDF_CS_DEVICE_RGB:
      photometric = 18;
      break;
    case PDF_CS_DEVICE_CMYK:
      photometric = 107;
      break;
    case PDF_CS_CAL_GRAY:
    case PDF_CS_CAL_RGB: {
      photometric = cs->kind == PDF_CS_CAL_GRAY ? 108 : 105;
      if (!need_user()) return 0;
      if (cs->hasWhitePoint &&
          !KVHdrSetHeaderDoubles(user, PDF_HDR_SECTION, PDF_HDR_WHITEPOINT, cs->whitePoint, 3)) {
        return 0;
      }
      if (cs->gammaCount > 0 && !KVHdrSetHeaderDoubles(user, PDF_HDR_SECTION, PDF_HDR_GAMMA, cs->gamma, cs->gammaCount)) {
        return 0;
      }
      if (cs->kind == PDF_CS_CAL_RGB && cs->hasMatrix &&
          !KVHdrSetHeaderDoubles(user, PDF_HDR_SECTION, PDF_HDR_PRIMARIES, cs->matrix, 9)) {
        return 0;
      }
      break;
    }
    case PDF_CS_LAB:
      photometric = 4;
      break;
    case PDF_CS_ICC: {
      switch (image->separations) {
        case 1:
          photometric = 108;
          break;
        case 3:
          photometric = 105;
          break;
        case 4:
          photometric = 6;
          break;
        default:
          photometric = 0;
          break;
      }
      if (cs->hasAlternate && cs->base) photometric = base_photometric(cs->base);
      KVngSB* bytes = cs->iccProfile ? PDFGetStreamData(doc, cs->iccProfile) : nullptr;
      size_t length = 0;
      const unsigned char* data = bytes ? KVngSBData(bytes, &length) : nullptr;
      if (!data || length == 0) return 0;
      if (!need_user() || !KVHdrSetHeaderBytes(user, PDF_HDR_SECTION, PDF_HDR_ICC, data, length)) return 0;
      break;
    }
    case PDF_CS_INDEXED:
      photometric = base_photometric(cs->base);
      break;
    case PDF_CS_CAL_CMYK:
      photometric = 6;
      break;
    default:
      if (cs->kind > PDF_CS_SEPARATION) return 0;
      photometric = 0;
      break;
  }
  h->photometric = photometric;
  return 1;
}

double* __getNonStrokingColorInfo(PDFParser* parser, int32_t* count) {
  if (count) *count = 0;
  if (!parser || !parser->gstate) return nullptr;
  const PDFColor& fill = parser->gstate->fill;
  if (fill.space < PDF_CS_DEVICE_GRAY || fill.space > PDF_CS_CAL_CMYK || fill.count < 1 || fill.count > PDF_COLOR_MAX) {
    return nullptr;
  }
  auto* values = static_cast<double*>(kvng_internal_calloc(static_cast<size_t>(fill.count), sizeof(double)));
  if (!values) return nullptr;
  std::memcpy(values, fill.values, static_cast<size_t>(fill.count) * sizeof(double));
  if (count) *count = fill.count;
  return values;
}

uint32_t* __nonStrokingColorValues(PDFParser* parser, int32_t* count) {
  int32_t n = 0;
  double* values = __getNonStrokingColorInfo(parser, &n);
  if (count) *count = 0;
  if (!values) return nullptr;
  auto* out = static_cast<uint32_t*>(kvng_internal_calloc(static_cast<size_t>(n), sizeof(uint32_t)));
  if (out) {
    for (int32_t i = 0; i < n; ++i) {
      // Components outside 0..1 are clamped, so the conversion never leaves the integer range.
      const double v = values[i] < 0 ? 0 : values[i] > 1 ? 1 : values[i];
      out[i] = static_cast<uint32_t>(v * 255.0);
    }
    if (count) *count = n;
  }
  kvng_internal_free(values);
  return out;
}

int __makeKVngHeader(KVHdr** header, int32_t width, int32_t height, int32_t channels, const int32_t* bits,
                     int64_t lineLength, int32_t planar) {
  if (!header) return 0;
  *header = nullptr;
  if (channels < 1 || channels > KVHDR_MAX_CHANNELS || !bits || width < 1 || height < 1) return 0;
  const KVHdrManager* manager = nullptr;
  if (!KVHdrGetManager_Str("internal", "2.1", &manager) || !KVHdrCreateHeader(manager, header)) return 0;
  KVHdr* h = *header;
  h->width = width;
  h->height = height;
  h->channels = channels;
  h->layout = planar ? KVHDR_LAYOUT_PLANAR : KVHDR_LAYOUT_INTERLEAVED;
  for (int32_t c = 0; c < channels; ++c) {
    h->bits[c] = bits[c];
    if (planar || c == 0) h->lineLength[c] = lineLength;
  }
  return 1;
}

}  // extern "C"
