// Images: image XObjects with their colour spaces, calibration, ICC profiles, masks and decode
// arrays when writing; images and colour spaces as the reader sees them.

#include <cstring>

#include "kvng_hdr.h"
#include "pdf_internal.h"

using pdflib::guarded;
using pdflib::resolved;
using pdflib::wrap;

namespace {

using Obj = PDFObj*;

constexpr double kD65[3] = {0.9504, 1.0, 1.0889};
constexpr double kD50[3] = {0.9642, 1.0, 0.8249};

QPDFObjectHandle numbers(const double* v, int n) {
  QPDFObjectHandle a = QPDFObjectHandle::newArray();
  for (int i = 0; i < n; ++i) a.appendItem(QPDFObjectHandle::newReal(v[i], 6, true));
  return a;
}

const char* device_name(int32_t space) {
  switch (space) {
    case PDF_CS_DEVICE_GRAY:
      return "/DeviceGray";
    case PDF_CS_DEVICE_RGB:
      return "/DeviceRGB";
    case PDF_CS_DEVICE_CMYK:
      return "/DeviceCMYK";
    default:
      return nullptr;
  }
}

// The image stream behind a handle, when it is one this document writes.
QPDFObjectHandle written_image(PDFDoc* doc, PDFObj* image) {
  QPDFObjectHandle s = resolved(image);
  if (!doc->writing || !s.isStream() || !s.getDict().getKey("/Subtype").isNameAndEquals("/Image")) {
    return QPDFObjectHandle();
  }
  return s;
}

QPDFObjectHandle srgb_profile(PDFDoc* doc) {
  PDFDocImpl* d = doc->impl;
  if (d->srgbProfile.isInitialized()) return d->srgbProfile;
  size_t n = 0;
  const unsigned char* icc = ICC_sRGB(&n);
  if (!icc) throw std::runtime_error("no sRGB profile");
  QPDFObjectHandle s = d->pdf.newStream(std::string(reinterpret_cast<const char*>(icc), n));
  s.getDict().replaceKey("/N", QPDFObjectHandle::newInteger(3));
  s.getDict().replaceKey("/Alternate", QPDFObjectHandle::newName("/DeviceRGB"));
  d->srgbProfile = s;
  return s;
}

}  // namespace

extern "C" {

PDFObj* PDFImageCreate(PDFDoc* doc, PDFObj* page, const char* name, int32_t width, int32_t height,
                       int32_t bitsPerComponent) {
  if (!doc || !doc->writing) return nullptr;
  return guarded(doc, "PDFImageCreate", Obj{}, [&]() -> PDFObj* {
    if (width < 1 || height < 1 || (bitsPerComponent != 1 && bitsPerComponent != 2 && bitsPerComponent != 4 &&
                                    bitsPerComponent != 8 && bitsPerComponent != 16)) {
      pdflib::fail(doc, "PDFImageCreate: %dx%d at %d bits is no image", width, height, bitsPerComponent);
      return nullptr;
    }
    QPDFObjectHandle p = resolved(page);
    if (page && (!p.isDictionary() || !name || !*name)) {
      pdflib::fail(doc, "PDFImageCreate: no page or no name");
      return nullptr;
    }
    QPDFObjectHandle s = doc->impl->pdf.newStream();
    QPDFObjectHandle d = s.getDict();
    d.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    d.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    d.replaceKey("/Width", QPDFObjectHandle::newInteger(width));
    d.replaceKey("/Height", QPDFObjectHandle::newInteger(height));
    d.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(bitsPerComponent));
    pdflib::pending(doc->impl, s);
    if (page) {
      QPDFObjectHandle res = p.getKey("/Resources");
      if (!res.isDictionary()) {
        res = QPDFObjectHandle::newDictionary();
        p.replaceKey("/Resources", res);
      }
      QPDFObjectHandle xobjects = res.getKey("/XObject");
      if (!xobjects.isDictionary()) {
        xobjects = QPDFObjectHandle::newDictionary();
        res.replaceKey("/XObject", xobjects);
      }
      const std::string key = std::string("/") + name;
      xobjects.replaceKey(key, s);
      doc->impl->imageNames[s.getObjGen()] = key;
    }
    return wrap(doc, s);
  });
}

int PDFImageSetMask(PDFDoc* doc, PDFObj* image, PDFObj* mask) {
  return guarded(doc, "PDFImageSetMask", 0, [&] {
    QPDFObjectHandle s = written_image(doc, image);
    if (!s.isInitialized()) return pdflib::fail(doc, "PDFImageSetMask: not an image being written");
    QPDFObjectHandle d = s.getDict();
    if (!mask) {
      if (!d.getKey("/BitsPerComponent").isInteger() || d.getKey("/BitsPerComponent").getIntValueAsInt() != 1) {
        return pdflib::fail(doc, "PDFImageSetMask: a stencil mask has 1 bit per sample");
      }
      d.replaceKey("/ImageMask", QPDFObjectHandle::newBool(true));
      d.removeKey("/ColorSpace");
      return 1;
    }
    if (!pdflib::require_version(doc, 14, "soft masks", "PDFImageSetMask")) return 0;
    QPDFObjectHandle m = written_image(doc, mask);
    if (!m.isInitialized() || m.getObjGen() == s.getObjGen()) {
      return pdflib::fail(doc, "PDFImageSetMask: the mask is not another image being written");
    }
    // A soft mask is a gray image by definition.
    m.getDict().replaceKey("/ColorSpace", QPDFObjectHandle::newName("/DeviceGray"));
    m.getDict().removeKey("/ImageMask");
    d.replaceKey("/SMask", m);
    return 1;
  });
}

int PDFSetImageDecode(PDFDoc* doc, PDFObj* image, double lo, double hi) {
  return guarded(doc, "PDFSetImageDecode", 0, [&] {
    QPDFObjectHandle s = written_image(doc, image);
    if (!s.isInitialized()) return pdflib::fail(doc, "PDFSetImageDecode: not an image being written");
    pdflib::PendingStream& p = pdflib::pending(doc->impl, s);
    p.decodeSet = true;
    p.decodeLo = lo;
    p.decodeHi = hi;
    return 1;
  });
}

int PDFSetImageColorSpace(PDFDoc* doc, PDFObj* image, int32_t space) {
  return guarded(doc, "PDFSetImageColorSpace", 0, [&] {
    QPDFObjectHandle s = written_image(doc, image);
    if (!s.isInitialized()) return pdflib::fail(doc, "PDFSetImageColorSpace: not an image being written");
    QPDFObjectHandle d = s.getDict();
    QPDFObjectHandle cs;
    switch (space) {
      case PDF_CS_DEVICE_GRAY:
      case PDF_CS_DEVICE_RGB:
      case PDF_CS_DEVICE_CMYK:
        cs = QPDFObjectHandle::newName(device_name(space));
        break;
      case PDF_CS_CAL_GRAY:
      case PDF_CS_CAL_RGB:
      case PDF_CS_LAB: {
        QPDFObjectHandle params = QPDFObjectHandle::newDictionary();
        params.replaceKey("/WhitePoint", numbers(space == PDF_CS_LAB ? kD50 : kD65, 3));
        cs = QPDFObjectHandle::newArray();
        cs.appendItem(QPDFObjectHandle::newName(space == PDF_CS_CAL_GRAY  ? "/CalGray"
                                                : space == PDF_CS_CAL_RGB ? "/CalRGB"
                                                                          : "/Lab"));
        cs.appendItem(params);
        break;
      }
      case PDF_CS_ICC:
        // The profile comes with PDFAddICCProfile.
        d.removeKey("/ColorSpace");
        return 1;
      case PDF_CS_SRGB:
        cs = QPDFObjectHandle::newArray({QPDFObjectHandle::newName("/ICCBased"), srgb_profile(doc)});
        break;
      default:
        return pdflib::fail(doc, "PDFSetImageColorSpace: colour space %d cannot be written", space);
    }
    d.replaceKey("/ColorSpace", cs);
    return 1;
  });
}

int PDFSetImageCalInfo(PDFDoc* doc, PDFObj* image, const double* whitePoint, const double* gamma, int32_t gammaCount,
                       const double* matrix, const double* range) {
  return guarded(doc, "PDFSetImageCalInfo", 0, [&] {
    QPDFObjectHandle s = written_image(doc, image);
    QPDFObjectHandle cs = s.isInitialized() ? s.getDict().getKey("/ColorSpace") : QPDFObjectHandle();
    if (!cs.isInitialized() || !cs.isArray() || cs.getArrayNItems() != 2 || !cs.getArrayItem(1).isDictionary()) {
      return pdflib::fail(doc, "PDFSetImageCalInfo: the image has no calibrated colour space");
    }
    const std::string family = cs.getArrayItem(0).getName();
    QPDFObjectHandle params = cs.getArrayItem(1);
    if (whitePoint) params.replaceKey("/WhitePoint", numbers(whitePoint, 3));
    if (family == "/CalGray" && gamma && gammaCount >= 1) {
      params.replaceKey("/Gamma", QPDFObjectHandle::newReal(gamma[0], 6, true));
    } else if (family == "/CalRGB") {
      if (gamma && gammaCount >= 1) {
        const double g[3] = {gamma[0], gammaCount >= 3 ? gamma[1] : gamma[0], gammaCount >= 3 ? gamma[2] : gamma[0]};
        params.replaceKey("/Gamma", numbers(g, 3));
      }
      if (matrix) params.replaceKey("/Matrix", numbers(matrix, 9));
    } else if (family == "/Lab" && range) {
      params.replaceKey("/Range", numbers(range, 4));
    }
    return 1;
  });
}

PDFObj* PDFAddICCProfile(PDFDoc* doc, PDFObj* image) {
  return guarded(doc, "PDFAddICCProfile", Obj{}, [&]() -> PDFObj* {
    QPDFObjectHandle s = written_image(doc, image);
    if (!s.isInitialized()) {
      pdflib::fail(doc, "PDFAddICCProfile: not an image being written");
      return nullptr;
    }
    QPDFObjectHandle profile = doc->impl->pdf.newStream();
    pdflib::pending(doc->impl, profile);
    s.getDict().replaceKey("/ColorSpace", QPDFObjectHandle::newArray({QPDFObjectHandle::newName("/ICCBased"), profile}));
    return wrap(doc, profile);
  });
}

int PDFSetICCInfo(PDFDoc* doc, PDFObj* profile, int32_t components, int32_t alternate) {
  return guarded(doc, "PDFSetICCInfo", 0, [&] {
    QPDFObjectHandle s = resolved(profile);
    if (!doc->writing || !s.isStream()) return pdflib::fail(doc, "PDFSetICCInfo: no profile stream");
    if (components != 1 && components != 3 && components != 4) {
      return pdflib::fail(doc, "PDFSetICCInfo: %d components", components);
    }
    s.getDict().replaceKey("/N", QPDFObjectHandle::newInteger(components));
    if (const char* name = device_name(alternate)) {
      s.getDict().replaceKey("/Alternate", QPDFObjectHandle::newName(name));
    }
    return 1;
  });
}

int PDFAppendICCData(PDFDoc* doc, PDFObj* profile, const void* bytes, size_t length) {
  return PDFAppendStream(doc, profile, bytes, length);
}

}  // extern "C"

// ---- Reading ----

namespace {

bool read_numbers(QPDFObjectHandle a, double* out, int n) {
  if (!a.isArray() || a.getArrayNItems() < n) return false;
  for (int i = 0; i < n; ++i) {
    QPDFObjectHandle v = a.getArrayItem(i);
    if (!v.isNumber()) return false;
    out[i] = v.getNumericValue();
  }
  return true;
}

PDFColorSpace* keep(PDFDoc* doc, const PDFColorSpace& cs) {
  doc->impl->colorSpaces.push_back(std::make_unique<PDFColorSpace>(cs));
  return doc->impl->colorSpaces.back().get();
}

PDFColorSpace* parse_space(PDFDoc* doc, QPDFObjectHandle csDesc, QPDFObjectHandle resources, int depth);

PDFColorSpace* device_space(PDFDoc* doc, int32_t kind) {
  auto& cache = doc->impl->deviceSpaces;
  if (const auto it = cache.find(kind); it != cache.end()) return it->second;
  PDFColorSpace cs{};
  cs.kind = kind;
  cs.components = kind == PDF_CS_DEVICE_GRAY ? 1 : kind == PDF_CS_DEVICE_RGB ? 3 : 4;
  return cache[kind] = keep(doc, cs);
}

void calibration(QPDFObjectHandle params, PDFColorSpace* cs) {
  if (!params.isDictionary()) return;
  cs->hasWhitePoint = read_numbers(params.getKey("/WhitePoint"), cs->whitePoint, 3) ? 1 : 0;
  QPDFObjectHandle gamma = params.getKey("/Gamma");
  if (gamma.isNumber()) {
    cs->gammaCount = 1;
    cs->gamma[0] = gamma.getNumericValue();
  } else if (read_numbers(gamma, cs->gamma, 3)) {
    cs->gammaCount = 3;
  }
  cs->hasMatrix = read_numbers(params.getKey("/Matrix"), cs->matrix, 9) ? 1 : 0;
  cs->hasRange = read_numbers(params.getKey("/Range"), cs->range, 4) ? 1 : 0;
}

PDFColorSpace* parse_space(PDFDoc* doc, QPDFObjectHandle csDesc, QPDFObjectHandle resources, int depth) {
  // Spaces refer to spaces (Indexed bases, alternates, resource names): a loop must end.
  if (depth > 8 || !csDesc.isInitialized()) return nullptr;
  if (csDesc.isName()) {
    const std::string n = csDesc.getName();
    if (n == "/DeviceGray" || n == "/G") return device_space(doc, PDF_CS_DEVICE_GRAY);
    if (n == "/DeviceRGB" || n == "/RGB") return device_space(doc, PDF_CS_DEVICE_RGB);
    if (n == "/DeviceCMYK" || n == "/CMYK") return device_space(doc, PDF_CS_DEVICE_CMYK);
    if (n == "/Pattern") {
      PDFColorSpace cs{};
      cs.kind = PDF_CS_PATTERN;
      return keep(doc, cs);
    }
    if (resources.isDictionary() && resources.getKey("/ColorSpace").isDictionary()) {
      return parse_space(doc, resources.getKey("/ColorSpace").getKey(n), QPDFObjectHandle(), depth + 1);
    }
    return nullptr;
  }
  if (!csDesc.isArray() || csDesc.getArrayNItems() < 1 || !csDesc.getArrayItem(0).isName()) return nullptr;
  const std::string family = csDesc.getArrayItem(0).getName();
  const int n = csDesc.getArrayNItems();
  QPDFObjectHandle arg = n > 1 ? csDesc.getArrayItem(1) : QPDFObjectHandle::newNull();
  PDFColorSpace cs{};
  if (n == 1) return parse_space(doc, csDesc.getArrayItem(0), resources, depth + 1);
  if (family == "/CalGray" || family == "/CalRGB" || family == "/Lab" || family == "/CalCMYK") {
    cs.kind = family == "/CalGray"  ? PDF_CS_CAL_GRAY
              : family == "/CalRGB" ? PDF_CS_CAL_RGB
              : family == "/Lab"    ? PDF_CS_LAB
                                    : PDF_CS_CAL_CMYK;
    cs.components = cs.kind == PDF_CS_CAL_GRAY ? 1 : cs.kind == PDF_CS_CAL_CMYK ? 4 : 3;
    calibration(arg, &cs);
    return keep(doc, cs);
  }
  if (family == "/ICCBased") {
    if (!arg.isStream()) return nullptr;
    QPDFObjectHandle d = arg.getDict();
    cs.kind = PDF_CS_ICC;
    cs.components = d.getKey("/N").isInteger() ? d.getKey("/N").getIntValueAsInt() : 0;
    if (cs.components != 1 && cs.components != 3 && cs.components != 4) return nullptr;
    if (d.getKey("/Alternate").isInitialized() && !d.getKey("/Alternate").isNull()) {
      cs.base = parse_space(doc, d.getKey("/Alternate"), resources, depth + 1);
      cs.hasAlternate = cs.base ? 1 : 0;
    }
    cs.iccProfile = wrap(doc, arg, true);
    return keep(doc, cs);
  }
  if (family == "/Indexed" || family == "/I") {
    cs.kind = PDF_CS_INDEXED;
    cs.components = 1;
    cs.base = parse_space(doc, arg, resources, depth + 1);
    cs.highValue = n > 2 && csDesc.getArrayItem(2).isInteger() ? csDesc.getArrayItem(2).getIntValueAsInt() : 0;
    return cs.base ? keep(doc, cs) : nullptr;
  }
  if (family == "/Separation") {
    cs.kind = PDF_CS_SEPARATION;
    cs.components = 1;
    cs.base = n > 2 ? parse_space(doc, csDesc.getArrayItem(2), resources, depth + 1) : nullptr;
    return keep(doc, cs);
  }
  if (family == "/DeviceN") {
    cs.kind = PDF_CS_DEVICE_N;
    cs.components = arg.isArray() ? arg.getArrayNItems() : 0;
    if (cs.components < 1 || cs.components > PDF_COLOR_MAX) return nullptr;
    cs.base = n > 2 ? parse_space(doc, csDesc.getArrayItem(2), resources, depth + 1) : nullptr;
    return keep(doc, cs);
  }
  if (family == "/Pattern") {
    cs.kind = PDF_CS_PATTERN;
    cs.base = parse_space(doc, arg, resources, depth + 1);
    return keep(doc, cs);
  }
  return nullptr;
}

QPDFObjectHandle current_resources(PDFDoc* doc) {
  return doc->impl->currentResources ? resolved(doc->impl->currentResources) : QPDFObjectHandle();
}

}  // namespace

extern "C" {

PDFColorSpace* PDFGetColorSpace(PDFDoc* doc, PDFObj* csDesc, PDFObj* resources) {
  return guarded(doc, "PDFGetColorSpace", static_cast<PDFColorSpace*>(nullptr), [&] {
    return parse_space(doc, resolved(csDesc), resources ? resolved(resources) : current_resources(doc), 0);
  });
}

PDFImage* PDFStreamToImage(PDFDoc* doc, PDFObj* xobject) {
  return guarded(doc, "PDFStreamToImage", static_cast<PDFImage*>(nullptr), [&]() -> PDFImage* {
    QPDFObjectHandle s = resolved(xobject);
    if (!s.isStream()) return nullptr;
    QPDFObjectHandle d = s.getDict();
    if (!d.getKey("/Subtype").isNameAndEquals("/Image")) return nullptr;
    auto& images = doc->impl->images;
    const auto known = images.find(s.getObjGen());
    if (known != images.end() && s.isIndirect()) return known->second.get();
    auto image = std::make_unique<PDFImage>();
    *image = PDFImage{};
    image->stream = wrap(doc, s, true);
    image->width = d.getKey("/Width").isInteger() ? d.getKey("/Width").getIntValueAsInt() : 0;
    image->height = d.getKey("/Height").isInteger() ? d.getKey("/Height").getIntValueAsInt() : 0;
    image->imageMask = d.getKey("/ImageMask").isBool() && d.getKey("/ImageMask").getBoolValue() ? 1 : 0;
    image->bitsPerComponent = image->imageMask ? 1
                              : d.getKey("/BitsPerComponent").isInteger()
                                  ? d.getKey("/BitsPerComponent").getIntValueAsInt()
                                  : 0;
    if (image->width < 1 || image->height < 1) {
      pdflib::fail(doc, "PDFStreamToImage: an image without a size");
      return nullptr;
    }
    if (!image->imageMask) {
      image->colorSpace = parse_space(doc, d.getKey("/ColorSpace"), current_resources(doc), 0);
      image->separations = image->colorSpace ? image->colorSpace->components : 0;
      // JPEG 2000 data says its own components; DCT data without a space is taken as it comes.
    } else {
      image->separations = 1;
    }
    PDFImage* result = image.get();
    images[s.getObjGen()] = std::move(image);
    return result;
  });
}

int32_t PDFImageGetDecode(PDFDoc* doc, PDFImage* image, double* values, int32_t capacity) {
  if (!image) return 0;
  return guarded(doc, "PDFImageGetDecode", int32_t{0}, [&]() -> int32_t {
    QPDFObjectHandle a = resolved(image->stream).getDict().getKey("/Decode");
    if (!a.isArray()) return 0;
    const int n = a.getArrayNItems();
    for (int i = 0; i < n && i < capacity && values; ++i) {
      QPDFObjectHandle v = a.getArrayItem(i);
      values[i] = v.isNumber() ? v.getNumericValue() : 0.0;
    }
    return n;
  });
}

int32_t PDFGetImageBits(PDFDoc*, PDFImage* image) { return image ? image->bitsPerComponent : 0; }

int PDFImageIsImageMask(PDFDoc*, PDFImage* image) { return image && image->imageMask ? 1 : 0; }

PDFObj* PDFGetImageJBIG2Globals(PDFDoc* doc, PDFImage* image) {
  if (!image) return nullptr;
  return guarded(doc, "PDFGetImageJBIG2Globals", Obj{}, [&]() -> PDFObj* {
    QPDFObjectHandle d = resolved(image->stream).getDict();
    QPDFObjectHandle filters = d.getKey("/Filter");
    QPDFObjectHandle parms = d.getKey("/DecodeParms");
    if (filters.isName()) filters = QPDFObjectHandle::newArray({filters});
    if (parms.isDictionary()) parms = QPDFObjectHandle::newArray({parms});
    if (!filters.isArray() || !parms.isArray()) return nullptr;
    for (int i = 0; i < filters.getArrayNItems() && i < parms.getArrayNItems(); ++i) {
      if (!filters.getArrayItem(i).isNameAndEquals("/JBIG2Decode")) continue;
      QPDFObjectHandle p = parms.getArrayItem(i);
      QPDFObjectHandle g = p.isDictionary() ? p.getKey("/JBIG2Globals") : QPDFObjectHandle::newNull();
      return g.isStream() ? wrap(doc, g) : nullptr;
    }
    return nullptr;
  });
}

}  // extern "C"
