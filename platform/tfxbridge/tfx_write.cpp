// Writing pages from coded strips: the profile check, the image description, strips held until
// the page is finished, and the page's IFD written in one go.

#include <cstring>

#include "tfx_internal.h"
#include "tfx_profile.h"

namespace {

using tfx::fail;

constexpr uint32_t kMaxSide = 1u << 24;

// What a JPEG stream says of itself, up to its frame header.
struct JpegFrame {
  int components = 0;
  int precision = 0;
  uint8_t id[3] = {};
  uint8_t h[3] = {}, v[3] = {};
  bool adobe = false;
  int adobeTransform = -1;
  bool jfif = false;
};

bool read_jpeg_frame(const std::vector<uint8_t>& s, JpegFrame& f) {
  const size_t n = s.size();
  if (n < 4 || s[0] != 0xFF || s[1] != 0xD8) return false;
  size_t at = 2;
  while (at + 4 <= n) {
    if (s[at] != 0xFF) return false;
    const uint8_t marker = s[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    const size_t length = (size_t{s[at + 2]} << 8) | s[at + 3];
    if (length < 2 || at + 2 + length > n) return false;
    const uint8_t* body = s.data() + at + 4;
    const size_t body_length = length - 2;
    if (marker == 0xE0 && body_length >= 5 && std::memcmp(body, "JFIF", 5) == 0) f.jfif = true;
    if (marker == 0xEE && body_length >= 12 && std::memcmp(body, "Adobe", 5) == 0) {
      f.adobe = true;
      f.adobeTransform = body[11];
    }
    const bool sof = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (sof) {
      if (body_length < 6) return false;
      f.precision = body[0];
      f.components = body[5];
      if (f.components != 1 && f.components != 3) return true;
      if (body_length < 6 + 3 * static_cast<size_t>(f.components)) return false;
      for (int c = 0; c < f.components; ++c) {
        f.id[c] = body[6 + 3 * c];
        f.h[c] = body[7 + 3 * c] >> 4;
        f.v[c] = body[7 + 3 * c] & 15;
      }
      return true;
    }
    if (marker == 0xDA) return false;  // scan before frame
    at += 2 + length;
  }
  return false;
}

// The TIFF description of one image: compression and photometric with what goes with them.
struct Description {
  uint16_t compression = COMPRESSION_NONE;
  uint16_t photometric = PHOTOMETRIC_MINISWHITE;
  uint16_t bits = 1, samples = 1;
  uint32_t t4options = 0;
  uint16_t predictor = 0;
  uint16_t ycbcr_h = 0, ycbcr_v = 0;  // 0: no subsampling field
};

int32_t describe(TFX_Image* im, Description& d) {
  TFX_Document* doc = im->page->document;
  const uint32_t base = im->coding.coding & ~static_cast<uint32_t>(TFX_CODING_PREDICTOR);
  const bool predictor = (im->coding.coding & TFX_CODING_PREDICTOR) != 0;
  switch (im->colorType) {
    case TFX_CTYPE_BILEVEL:
      d.bits = 1;
      d.samples = 1;
      break;
    case TFX_CTYPE_GREY8:
      d.bits = 8;
      d.samples = 1;
      break;
    case TFX_CTYPE_RGB24:
      d.bits = 8;
      d.samples = 3;
      break;
    default:
      return fail(doc, TFX_ERR_UNSUPPORTED, "colour type %d cannot be written", im->colorType);
  }
  switch (base) {
    case TFX_CODING_NONE:
      d.compression = COMPRESSION_NONE;
      break;
    case TFX_CODING_T4_1D:
    case TFX_CODING_T4_2D:
      d.compression = COMPRESSION_CCITTFAX3;
      d.t4options = base == TFX_CODING_T4_2D ? GROUP3OPT_2DENCODING : 0;
      break;
    case TFX_CODING_T6:
      d.compression = COMPRESSION_CCITTFAX4;
      break;
    case TFX_CODING_JPEG:
      d.compression = COMPRESSION_JPEG;
      break;
    case TFX_CODING_DEFLATE:
      d.compression = COMPRESSION_ADOBE_DEFLATE;
      break;
    case TFX_CODING_LZW:
      d.compression = COMPRESSION_LZW;
      break;
    case TFX_CODING_PACKBITS:
      d.compression = COMPRESSION_PACKBITS;
      break;
    default:
      return fail(doc, TFX_ERR_UNSUPPORTED, "coding 0x%x cannot be written", static_cast<unsigned>(base));
  }
  if (predictor) {
    if ((base != TFX_CODING_LZW && base != TFX_CODING_DEFLATE) || d.bits != 8) {
      return fail(doc, TFX_ERR_UNSUPPORTED, "a predictor goes only with 8-bit LZW or deflate data");
    }
    d.predictor = PREDICTOR_HORIZONTAL;
  }
  const bool fax = d.compression == COMPRESSION_CCITTFAX3 || d.compression == COMPRESSION_CCITTFAX4;
  if (fax && im->colorType != TFX_CTYPE_BILEVEL) return fail(doc, TFX_ERR_UNSUPPORTED, "fax codings are bilevel");
  if (d.compression == COMPRESSION_JPEG && im->colorType == TFX_CTYPE_BILEVEL) {
    return fail(doc, TFX_ERR_UNSUPPORTED, "JPEG data is not bilevel");
  }

  const int32_t cs = im->coding.colorSpace;
  if (d.compression == COMPRESSION_JPEG) {
    // A JPEG strip says how it is coded; the photometric field must say what it decodes to.
    JpegFrame f;
    if (!read_jpeg_frame(im->strips.front().data, f) || f.precision != 8) {
      return fail(doc, TFX_ERR_UNSUPPORTED, "the JPEG data has no 8-bit frame header");
    }
    if (f.components != d.samples) return fail(doc, TFX_ERR_ARGUMENT, "the JPEG data has %d components", f.components);
    if (d.samples == 1) {
      d.photometric = PHOTOMETRIC_MINISBLACK;
    } else if (cs == TFX_CSPACE_LAB) {
      d.photometric = PHOTOMETRIC_ITULAB;
    } else {
      const bool rgb = f.adobe ? f.adobeTransform == 0 : (f.id[0] == 'R' && f.id[1] == 'G' && f.id[2] == 'B');
      d.photometric = rgb ? PHOTOMETRIC_RGB : PHOTOMETRIC_YCBCR;
      if (!rgb) {
        if (f.h[1] == 0 || f.v[1] == 0 || f.h[1] != f.h[2] || f.v[1] != f.v[2] || f.h[0] % f.h[1] ||
            f.v[0] % f.v[1]) {
          return fail(doc, TFX_ERR_UNSUPPORTED, "the JPEG data's chroma sampling has no TIFF form");
        }
        d.ycbcr_h = f.h[0] / f.h[1];
        d.ycbcr_v = f.v[0] / f.v[1];
        const auto allowed = [](uint16_t s) { return s == 1 || s == 2 || s == 4; };
        if (!allowed(d.ycbcr_h) || !allowed(d.ycbcr_v) || d.ycbcr_v > d.ycbcr_h) {
          return fail(doc, TFX_ERR_UNSUPPORTED, "the JPEG data's chroma sampling has no TIFF form");
        }
      }
    }
    return TFX_OK;
  }
  switch (im->colorType) {
    case TFX_CTYPE_BILEVEL:
    case TFX_CTYPE_GREY8:
      if (cs == TFX_CSPACE_NONE) {
        d.photometric = im->colorType == TFX_CTYPE_BILEVEL ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK;
      } else if (cs == TFX_CSPACE_WHITE_IS_ZERO || cs == TFX_CSPACE_BLACK_IS_ZERO) {
        d.photometric = cs == TFX_CSPACE_WHITE_IS_ZERO ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK;
      } else {
        return fail(doc, TFX_ERR_UNSUPPORTED, "colour space %d does not fit one sample", cs);
      }
      break;
    default:
      switch (cs) {
        case TFX_CSPACE_NONE:
        case TFX_CSPACE_RGB:
          d.photometric = PHOTOMETRIC_RGB;
          break;
        case TFX_CSPACE_YCBCR:
        case TFX_CSPACE_JPEG_YCBCR:
          d.photometric = PHOTOMETRIC_YCBCR;
          d.ycbcr_h = d.ycbcr_v = 1;
          break;
        case TFX_CSPACE_LAB:
          d.photometric = PHOTOMETRIC_ITULAB;
          break;
        default:
          return fail(doc, TFX_ERR_UNSUPPORTED, "colour space %d does not fit three samples", cs);
      }
      break;
  }
  return TFX_OK;
}

bool fax_document(const TFX_Document* doc) { return doc->profile != TFX_CREATE_TIFF; }

// Sets the fields of the page's IFD and writes its strips and the IFD.
int32_t write_page(TFX_Page* page) {
  TFX_Document* doc = page->document;
  TFX_Image* im = page->image.get();
  Description d;
  if (const int32_t s = describe(im, d)) return s;
  TIFF* t = doc->tif;
  bool ok = TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE) == 1;
  ok = ok && TIFFSetField(t, TIFFTAG_IMAGEWIDTH, im->width) == 1;
  ok = ok && TIFFSetField(t, TIFFTAG_IMAGELENGTH, im->height) == 1;
  ok = ok && TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, d.bits) == 1;
  ok = ok && TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, d.samples) == 1;
  ok = ok && TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1;
  ok = ok && TIFFSetField(t, TIFFTAG_COMPRESSION, d.compression) == 1;
  ok = ok && TIFFSetField(t, TIFFTAG_PHOTOMETRIC, d.photometric) == 1;
  ok = ok && TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB) == 1;
  ok = ok && TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, im->rowsPerStrip) == 1;
  ok = ok && TIFFSetField(t, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(page->index), static_cast<uint16_t>(0)) == 1;
  if (im->xres && im->yres) {
    ok = ok && TIFFSetField(t, TIFFTAG_XRESOLUTION, static_cast<float>(im->xres)) == 1;
    ok = ok && TIFFSetField(t, TIFFTAG_YRESOLUTION, static_cast<float>(im->yres)) == 1;
    ok = ok && TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) == 1;
  }
  if (d.compression == COMPRESSION_CCITTFAX3) ok = ok && TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, d.t4options) == 1;
  if (d.compression == COMPRESSION_CCITTFAX4) ok = ok && TIFFSetField(t, TIFFTAG_GROUP4OPTIONS, 0u) == 1;
  if (d.predictor) ok = ok && TIFFSetField(t, TIFFTAG_PREDICTOR, d.predictor) == 1;
  if (d.ycbcr_h) ok = ok && TIFFSetField(t, TIFFTAG_YCBCRSUBSAMPLING, d.ycbcr_h, d.ycbcr_v) == 1;
  if (fax_document(doc)) {
    static const uint8_t year[4] = {'1', '9', '9', '8'};
    ok = ok && TIFFSetField(t, TIFFTAG_FAXPROFILE, tfx::fax_profile_field(doc->profile)) == 1;
    ok = ok && TIFFSetField(t, TIFFTAG_CODINGMETHODS, tfx::coding_methods_field(doc->profile)) == 1;
    ok = ok && TIFFSetField(t, TIFFTAG_VERSIONYEAR, year) == 1;
    ok = ok && TIFFSetField(t, TIFFTAG_MODENUMBER, 0) == 1;
    if (d.photometric == PHOTOMETRIC_ITULAB) {
      // The default ranges of L*, a* and b* in ITU L*a*b* data.
      static const float decode[6] = {0.0f, 100.0f, -85.0f, 85.0f, -75.0f, 125.0f};
      ok = ok && TIFFSetField(t, TIFFTAG_DECODE, static_cast<uint16_t>(6), decode) == 1;
    }
  }
  if (!ok) return fail(doc, TFX_ERR_IO, "%s", doc->error[0] ? doc->error : "the page's fields cannot be set");
  for (size_t s = 0; s < im->strips.size(); ++s) {
    const tfx::Strip& strip = im->strips[s];
    const tmsize_t n = static_cast<tmsize_t>(strip.data.size());
    if (TIFFWriteRawStrip(t, static_cast<uint32_t>(s), const_cast<uint8_t*>(strip.data.data()), n) != n) {
      return TFX_ERR_IO;
    }
  }
  return TIFFWriteDirectory(t) == 1 ? TFX_OK : TFX_ERR_IO;
}

bool is_write_page(const TFX_Page* page) {
  return page && page->document && page->document->writing && page->document->current.get() == page;
}

bool is_write_image(const TFX_Image* im) { return im && !im->reading && is_write_page(im->page); }

}  // namespace

extern "C" {

int32_t TFX_AddPageStart(TFX_Document* document, int32_t position, TFX_Page** page) {
  if (!page) return TFX_ERR_ARGUMENT;
  *page = nullptr;
  if (!document) return TFX_ERR_ARGUMENT;
  if (!document->writing) return fail(document, TFX_ERR_SEQUENCE, "the document is open for reading");
  if (position != -1) return fail(document, TFX_ERR_UNSUPPORTED, "pages are added only at the end");
  if (document->broken) return fail(document, TFX_ERR_SEQUENCE, "an earlier page failed on its way into the file");
  if (document->pagesWritten >= 0xFFFF) return fail(document, TFX_ERR_UNSUPPORTED, "too many pages");
  return tfx::guarded(document, [&]() -> int32_t {
    // An unfinished page never reached libtiff, so dropping it leaves the file whole.
    auto p = std::make_unique<TFX_Page>();
    p->document = document;
    p->index = static_cast<int32_t>(document->pagesWritten);
    document->current = std::move(p);
    *page = document->current.get();
    return TFX_OK;
  });
}

int32_t TFX_CheckImageInfo(TFX_Page* page, int32_t* imageKind, int32_t* changed, int32_t* colorType,
                           int32_t* reserved1, int32_t* reserved2, uint32_t* xResolution, uint32_t* yResolution,
                           uint32_t* width, uint32_t* height, uint32_t* rowsPerStrip, int32_t flags,
                           int32_t* reserved3, int32_t* colorSpace) {
  if (!is_write_page(page)) return TFX_ERR_ARGUMENT;
  TFX_Document* doc = page->document;
  if (!imageKind || !changed || !colorType || !reserved1 || !reserved2 || !xResolution || !yResolution || !width ||
      !height || !rowsPerStrip || !reserved3 || !colorSpace || flags != 0 || *imageKind != 1) {
    return fail(doc, TFX_ERR_ARGUMENT, "TFX_CheckImageInfo: missing or wrong values");
  }
  if (page->finished || page->image) return fail(doc, TFX_ERR_SEQUENCE, "the page has its image already");
  const tfx::PageShape given{*colorType, *colorSpace, *xResolution, *yResolution, *width, *height};
  const tfx::PageShape fit = tfx::profile_fit(doc->profile, given);
  *changed = fit.colorType != given.colorType || fit.colorSpace != given.colorSpace || fit.xres != given.xres ||
             fit.yres != given.yres || fit.width != given.width || fit.height != given.height;
  *colorType = fit.colorType;
  *colorSpace = fit.colorSpace;
  *xResolution = fit.xres;
  *yResolution = fit.yres;
  *width = fit.width;
  *height = fit.height;
  *rowsPerStrip = fit.height;
  page->target = {true, fit.colorType, fit.colorSpace, fit.xres, fit.yres, fit.width, fit.height};
  return TFX_OK;
}

int32_t TFX_AddImage(TFX_Page* page, int32_t imageKind, int32_t colorType, int32_t, int32_t, uint32_t xResolution,
                     uint32_t yResolution, uint32_t width, uint32_t height, uint32_t rowsPerStrip, int32_t,
                     TFX_Image** image) {
  if (!image) return TFX_ERR_ARGUMENT;
  *image = nullptr;
  if (!is_write_page(page)) return TFX_ERR_ARGUMENT;
  TFX_Document* doc = page->document;
  if (page->finished || page->image) return fail(doc, TFX_ERR_SEQUENCE, "the page has its image already");
  if (imageKind != 1) return fail(doc, TFX_ERR_UNSUPPORTED, "a page holds one image");
  if (colorType != TFX_CTYPE_BILEVEL && colorType != TFX_CTYPE_GREY8 && colorType != TFX_CTYPE_RGB24) {
    return fail(doc, TFX_ERR_UNSUPPORTED, "colour type %d cannot be written", colorType);
  }
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) {
    return fail(doc, TFX_ERR_ARGUMENT, "an image of %u x %u pixels", width, height);
  }
  if (rowsPerStrip == 0 || rowsPerStrip > height) {
    return fail(doc, TFX_ERR_ARGUMENT, "%u rows per strip in an image %u rows high", rowsPerStrip, height);
  }
  // A page resampled to the size the check asked for carries the resolution the check chose.
  const tfx::CheckTarget& target = page->target;
  if (target.made && width == target.width && height == target.height && colorType == target.colorType) {
    xResolution = target.xres;
    yResolution = target.yres;
  }
  const tfx::PageShape shape{colorType, TFX_CSPACE_NONE, xResolution, yResolution, width, height};
  const char* refusal = tfx::profile_refusal(doc->profile, shape);
  if (*refusal) return fail(doc, TFX_ERR_PROFILE, "%s", refusal);
  if (tfx::profile_constrains(doc->profile) && (xResolution == 0 || yResolution == 0)) {
    return fail(doc, TFX_ERR_PROFILE, "fax pages have a resolution");
  }
  return tfx::guarded(doc, [&]() -> int32_t {
    auto im = std::make_unique<TFX_Image>();
    im->page = page;
    im->colorType = colorType;
    im->xres = xResolution;
    im->yres = yResolution;
    im->width = width;
    im->height = height;
    im->rowsPerStrip = rowsPerStrip;
    page->image = std::move(im);
    *image = page->image.get();
    return TFX_OK;
  });
}

int32_t TFX_ImageWriteStart(TFX_Image* image, int32_t flags, int32_t* reserved1, int32_t* quality,
                            int32_t* reserved2) {
  if (!is_write_image(image)) return TFX_ERR_ARGUMENT;
  TFX_Document* doc = image->page->document;
  if (flags != 0 || !reserved1 || !quality || !reserved2) return fail(doc, TFX_ERR_ARGUMENT, "TFX_ImageWriteStart");
  if (image->state != tfx::ImageState::described) return fail(doc, TFX_ERR_SEQUENCE, "the image is started already");
  image->state = tfx::ImageState::started;
  return TFX_OK;
}

int32_t TFX_CompressedWriteStrip(TFX_Image* image, uint32_t row, uint32_t rowCount, const void* data, uint32_t size,
                                 const TFX_Coding* coding) {
  if (!is_write_image(image)) return TFX_ERR_ARGUMENT;
  TFX_Document* doc = image->page->document;
  if (image->state != tfx::ImageState::started) return fail(doc, TFX_ERR_SEQUENCE, "the image is not open for strips");
  if (!data || size == 0 || !coding) return fail(doc, TFX_ERR_ARGUMENT, "a strip without data");
  if (row != image->nextRow || row >= image->height) {
    return fail(doc, TFX_ERR_ARGUMENT, "a strip at row %u where row %u comes next", row, image->nextRow);
  }
  const uint32_t expected = image->height - row < image->rowsPerStrip ? image->height - row : image->rowsPerStrip;
  if (rowCount != expected) {
    return fail(doc, TFX_ERR_ARGUMENT, "a strip of %u rows at row %u where %u belong", rowCount, row, expected);
  }
  const uint32_t base = coding->coding & ~static_cast<uint32_t>(TFX_CODING_PREDICTOR);
  if (!image->strips.empty() &&
      (coding->coding != image->coding.coding || coding->colorSpace != image->coding.colorSpace)) {
    return fail(doc, TFX_ERR_ARGUMENT, "the strips of one image differ in coding");
  }
  if (!(base & tfx::profile_codings(doc->profile, image->colorType)) || (base & (base - 1)) != 0) {
    return fail(doc, TFX_ERR_PROFILE, "the fax profile takes %s pages, not %s ones",
                tfx::coding_names(tfx::profile_codings(doc->profile, image->colorType)), tfx::coding_names(base));
  }
  const uint64_t tight = tfx::row_bytes(image->colorType, image->width);
  if (base == TFX_CODING_NONE && (size % rowCount != 0 || size / rowCount < tight)) {
    return fail(doc, TFX_ERR_ARGUMENT, "%u bytes cannot hold %u uncompressed rows", size, rowCount);
  }
  return tfx::guarded(doc, [&]() -> int32_t {
    tfx::Strip strip;
    strip.rows = rowCount;
    const auto* bytes = static_cast<const uint8_t*>(data);
    const uint64_t stride = size / rowCount;
    if (base == TFX_CODING_NONE && stride != tight) {
      // Rows padded beyond their pixels: TIFF rows end at the last pixel.
      strip.data.resize(static_cast<size_t>(tight * rowCount));
      for (uint32_t r = 0; r < rowCount; ++r) {
        std::memcpy(strip.data.data() + r * tight, bytes + r * stride, static_cast<size_t>(tight));
      }
    } else {
      strip.data.assign(bytes, bytes + size);
    }
    image->strips.push_back(std::move(strip));
    image->coding = *coding;
    image->nextRow = row + rowCount;
    return TFX_OK;
  });
}

int32_t TFX_ImageWriteFinish(TFX_Image* image) {
  if (!is_write_image(image)) return TFX_ERR_ARGUMENT;
  TFX_Document* doc = image->page->document;
  if (image->state != tfx::ImageState::started) return fail(doc, TFX_ERR_SEQUENCE, "the image is not open for strips");
  if (image->nextRow != image->height) {
    return fail(doc, TFX_ERR_ARGUMENT, "strips cover %u of %u rows", image->nextRow, image->height);
  }
  image->state = tfx::ImageState::finished;
  return TFX_OK;
}

int32_t TFX_AddPageFinish(TFX_Page* page) {
  if (!is_write_page(page)) return TFX_ERR_ARGUMENT;
  TFX_Document* doc = page->document;
  if (page->finished) return fail(doc, TFX_ERR_SEQUENCE, "the page is finished already");
  if (!page->image || page->image->state != tfx::ImageState::finished) {
    return fail(doc, TFX_ERR_SEQUENCE, "the page's image is not finished");
  }
  const int32_t status = write_page(page);
  if (status == TFX_ERR_IO) {
    // libtiff holds a part of this page now; nothing more can go into the file soundly.
    doc->broken = true;
    if (!doc->error[0]) fail(doc, status, "the page cannot be written");
  }
  if (status != TFX_OK) return status;
  page->finished = true;
  page->image->strips.clear();
  page->image->strips.shrink_to_fit();
  ++doc->pagesWritten;
  return TFX_OK;
}

}  // extern "C"
