// Reading pages strip by strip, as the file codes them.

#include <cstdlib>
#include <cstring>

#include "tfx_internal.h"

namespace {

using tfx::fail;

bool is_read_page(const TFX_Page* page) {
  if (!page || !page->document || page->document->writing) return false;
  const auto& pages = page->document->pages;
  return page->index >= 0 && static_cast<size_t>(page->index) < pages.size() &&
         pages[static_cast<size_t>(page->index)].get() == page;
}

bool is_read_image(const TFX_Image* im) { return im && im->reading && is_read_page(im->page); }

uint32_t coding_of(uint16_t compression, uint32_t t4options, uint16_t predictor) {
  uint32_t coding = 0;
  switch (compression) {
    case COMPRESSION_NONE:
      return TFX_CODING_NONE;
    case COMPRESSION_CCITTRLE:
      return TFX_CODING_CCITT_RLE;
    case COMPRESSION_CCITTFAX3:
      return t4options & GROUP3OPT_2DENCODING ? TFX_CODING_T4_2D : TFX_CODING_T4_1D;
    case COMPRESSION_CCITTFAX4:
      return TFX_CODING_T6;
    case COMPRESSION_JPEG:
      return TFX_CODING_JPEG;
    case COMPRESSION_T85:
    case COMPRESSION_JBIG:
      return TFX_CODING_JBIG;
    case COMPRESSION_T43:
      return TFX_CODING_JBIG_COLOUR;
    case COMPRESSION_JP2000:
      return TFX_CODING_JPEG2000;
    case COMPRESSION_PACKBITS:
      return TFX_CODING_PACKBITS;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
      coding = TFX_CODING_DEFLATE;
      break;
    case COMPRESSION_LZW:
      coding = TFX_CODING_LZW;
      break;
    default:
      return 0;
  }
  if (predictor == PREDICTOR_HORIZONTAL) return coding | TFX_CODING_PREDICTOR;
  return predictor == PREDICTOR_NONE ? coding : 0;
}

// Codings whose data cannot be cut into strips: an image holds one strip of them.
bool single_strip_coding(uint32_t coding) {
  return coding == TFX_CODING_JBIG || coding == TFX_CODING_JBIG_COLOUR || coding == TFX_CODING_JBIG2 ||
         coding == TFX_CODING_JPEG2000;
}

int32_t color_space_of(uint16_t photometric, uint16_t compression) {
  switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
      return TFX_CSPACE_WHITE_IS_ZERO;
    case PHOTOMETRIC_MINISBLACK:
      return TFX_CSPACE_BLACK_IS_ZERO;
    case PHOTOMETRIC_RGB:
      return TFX_CSPACE_RGB;
    case PHOTOMETRIC_PALETTE:
      return TFX_CSPACE_PALETTE;
    case PHOTOMETRIC_SEPARATED:
      return TFX_CSPACE_CMYK;
    case PHOTOMETRIC_YCBCR:
      return compression == COMPRESSION_JPEG ? TFX_CSPACE_JPEG_YCBCR : TFX_CSPACE_YCBCR;
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
    case PHOTOMETRIC_ITULAB:
      return TFX_CSPACE_LAB;
    default:
      return TFX_CSPACE_NONE;
  }
}

// The colour type of what the directory describes; 0 for what the colour types cannot say.
int32_t color_type_of(uint16_t bits, uint16_t samples, uint16_t photometric) {
  const bool grey = photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
  const bool colour = photometric == PHOTOMETRIC_RGB || photometric == PHOTOMETRIC_YCBCR ||
                      photometric == PHOTOMETRIC_CIELAB || photometric == PHOTOMETRIC_ICCLAB ||
                      photometric == PHOTOMETRIC_ITULAB;
  if (samples == 1 && grey) {
    return bits == 1 ? TFX_CTYPE_BILEVEL : bits == 4 ? TFX_CTYPE_GREY4 : bits == 8 ? TFX_CTYPE_GREY8 : 0;
  }
  if (samples == 3 && colour) return bits == 4 ? 6 : bits == 8 ? TFX_CTYPE_RGB24 : 0;
  return 0;
}

uint32_t dots_per_inch(float value, uint16_t unit) {
  if (!(value > 0.0f) || unit == RESUNIT_NONE) return 300;
  double dpi = unit == RESUNIT_CENTIMETER ? value * 2.54 : value;
  if (dpi > 1e6) dpi = 1e6;
  const auto v = static_cast<uint32_t>(dpi + 0.5);
  return v ? v : 300;
}

// A JPEG strip that leans on the directory's shared tables gets them, so that it decodes alone:
// SOI, the tables' segments, then the strip after its own SOI.
bool splice_tables(TFX_Image* im, std::vector<uint8_t>& strip) {
  TIFF* t = im->page->document->tif;
  uint32_t count = 0;
  const uint8_t* tables = nullptr;
  if (TIFFGetField(t, TIFFTAG_JPEGTABLES, &count, &tables) != 1 || !tables || count <= 4) return true;
  if (strip.size() < 2 || strip[0] != 0xFF || strip[1] != 0xD8) return false;
  if (tables[0] != 0xFF || tables[1] != 0xD8) return false;
  size_t end = count;
  if (tables[count - 2] == 0xFF && tables[count - 1] == 0xD9) end -= 2;
  std::vector<uint8_t> joined;
  joined.reserve(strip.size() + end);
  joined.insert(joined.end(), strip.begin(), strip.begin() + 2);
  joined.insert(joined.end(), tables + 2, tables + end);
  joined.insert(joined.end(), strip.begin() + 2, strip.end());
  strip.swap(joined);
  return true;
}

}  // namespace

extern "C" {

int32_t TFX_GetPageInfo(TFX_Document* document, int32_t pageIndex, const uint8_t** imageFlags, int32_t* imageCount,
                        int32_t* subfileType, TFX_Page** page) {
  if (page) *page = nullptr;
  if (!document || !imageFlags || !imageCount || !subfileType || !page) return TFX_ERR_ARGUMENT;
  if (document->writing) return fail(document, TFX_ERR_SEQUENCE, "the document is open for writing");
  if (pageIndex < 0 || static_cast<uint32_t>(pageIndex) >= document->pageCount) {
    return fail(document, TFX_ERR_ARGUMENT, "page %d of %u", pageIndex, document->pageCount);
  }
  if (!tfx::select_directory(document, pageIndex)) {
    return fail(document, TFX_ERR_FORMAT, "page %d cannot be read", pageIndex);
  }
  return tfx::guarded(document, [&]() -> int32_t {
    if (document->pages.size() < document->pageCount) document->pages.resize(document->pageCount);
    auto& slot = document->pages[static_cast<size_t>(pageIndex)];
    if (!slot) {
      slot = std::make_unique<TFX_Page>();
      slot->document = document;
      slot->index = pageIndex;
      uint32_t subfile = 0;
      TIFFGetField(document->tif, TIFFTAG_SUBFILETYPE, &subfile);
      slot->subfileType = subfile;
    }
    *imageFlags = slot->imageFlags;
    *imageCount = 1;
    *subfileType = static_cast<int32_t>(slot->subfileType);
    *page = slot.get();
    return TFX_OK;
  });
}

int32_t TFX_GetImageInfo(TFX_Page* page, int32_t imageIndex, int32_t flags, int32_t* bitsPerSample,
                         int32_t* samplesPerPixel, uint32_t* xResolution, uint32_t* yResolution, uint32_t* width,
                         uint32_t* height, uint32_t* rowsPerStrip, uint32_t* coding, int32_t* colorType, int32_t,
                         TFX_Image** image) {
  if (image) *image = nullptr;
  if (!is_read_page(page)) return TFX_ERR_ARGUMENT;
  TFX_Document* doc = page->document;
  if (flags != 0 || !bitsPerSample || !samplesPerPixel || !xResolution || !yResolution || !width || !height ||
      !rowsPerStrip || !coding || !colorType || !image) {
    return fail(doc, TFX_ERR_ARGUMENT, "TFX_GetImageInfo: missing outputs");
  }
  if (imageIndex != 1) return fail(doc, TFX_ERR_ARGUMENT, "image %d of 1", imageIndex);
  if (!tfx::select_directory(doc, page->index)) return fail(doc, TFX_ERR_FORMAT, "page %d cannot be read", page->index);
  TIFF* t = doc->tif;
  if (TIFFIsTiled(t)) return fail(doc, TFX_ERR_UNSUPPORTED, "tiled images are not read");
  uint32_t w = 0, h = 0, rps = 0, t4 = 0;
  uint16_t bits = 1, samples = 1, planar = PLANARCONFIG_CONTIG, photometric = 0, compression = COMPRESSION_NONE;
  uint16_t fill = FILLORDER_MSB2LSB, predictor = PREDICTOR_NONE, unit = RESUNIT_INCH;
  float xres = 0.0f, yres = 0.0f;
  if (TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w) != 1 || TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h) != 1 || w == 0 ||
      h == 0) {
    return fail(doc, TFX_ERR_FORMAT, "page %d has no size", page->index);
  }
  if (TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric) != 1) {
    return fail(doc, TFX_ERR_FORMAT, "page %d has no photometric interpretation", page->index);
  }
  TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression);
  TIFFGetFieldDefaulted(t, TIFFTAG_FILLORDER, &fill);
  TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rps);
  TIFFGetFieldDefaulted(t, TIFFTAG_RESOLUTIONUNIT, &unit);
  TIFFGetField(t, TIFFTAG_XRESOLUTION, &xres);
  TIFFGetField(t, TIFFTAG_YRESOLUTION, &yres);
  if (compression == COMPRESSION_CCITTFAX3) TIFFGetField(t, TIFFTAG_GROUP3OPTIONS, &t4);
  if (compression == COMPRESSION_LZW || compression == COMPRESSION_ADOBE_DEFLATE ||
      compression == COMPRESSION_DEFLATE) {
    TIFFGetFieldDefaulted(t, TIFFTAG_PREDICTOR, &predictor);
  }
  if (samples > 1 && planar != PLANARCONFIG_CONTIG) {
    return fail(doc, TFX_ERR_UNSUPPORTED, "planes stored apart are not read");
  }
  if (photometric == PHOTOMETRIC_YCBCR && compression != COMPRESSION_JPEG) {
    uint16_t sh = 1, sv = 1;
    TIFFGetFieldDefaulted(t, TIFFTAG_YCBCRSUBSAMPLING, &sh, &sv);
    if (sh != 1 || sv != 1) return fail(doc, TFX_ERR_UNSUPPORTED, "subsampled YCbCr rows are not read");
  }
  const int32_t type = color_type_of(bits, samples, photometric);
  if (type == 0) {
    return fail(doc, TFX_ERR_UNSUPPORTED, "%u samples of %u bits with photometric %u", samples, bits, photometric);
  }
  if (rps == 0) return fail(doc, TFX_ERR_FORMAT, "page %d has strips of 0 rows", page->index);
  if (rps > h) rps = h;
  const uint32_t strips = TIFFNumberOfStrips(t);
  if (strips != (h - 1) / rps + 1) return fail(doc, TFX_ERR_FORMAT, "page %d has %u strips", page->index, strips);
  const uint32_t flag = coding_of(compression, t4, predictor);
  if (single_strip_coding(flag) && strips != 1) {
    return fail(doc, TFX_ERR_UNSUPPORTED, "this coding is read as one strip");
  }
  return tfx::guarded(doc, [&]() -> int32_t {
    if (!page->image) page->image = std::make_unique<TFX_Image>();
    TFX_Image* im = page->image.get();
    *im = TFX_Image{};
    im->page = page;
    im->reading = true;
    im->colorType = type;
    im->width = w;
    im->height = h;
    im->rowsPerStrip = rps;
    im->xres = dots_per_inch(xres, unit);
    im->yres = dots_per_inch(yres, unit);
    im->bitsPerSample = bits;
    im->samplesPerPixel = samples;
    im->photometric = photometric;
    im->compression = compression;
    im->fillOrder = fill;
    im->codingFlag = flag;
    im->colorSpace = color_space_of(photometric, compression);
    im->stripCount = strips;
    *bitsPerSample = bits;
    *samplesPerPixel = samples;
    *xResolution = im->xres;
    *yResolution = im->yres;
    *width = w;
    *height = h;
    *rowsPerStrip = rps;
    *coding = flag;
    *colorType = type;
    *image = im;
    return TFX_OK;
  });
}

int32_t TFX_GetColorSpace(TFX_Image* image, int32_t* colorSpace) {
  if (!is_read_image(image) || !colorSpace) return TFX_ERR_ARGUMENT;
  *colorSpace = image->colorSpace;
  return TFX_OK;
}

int32_t TFX_ImageReadStart(TFX_Image* image, int32_t flags) {
  if (!is_read_image(image)) return TFX_ERR_ARGUMENT;
  if (flags != 0) return fail(image->page->document, TFX_ERR_ARGUMENT, "TFX_ImageReadStart");
  image->state = tfx::ImageState::started;
  return TFX_OK;
}

int32_t TFX_GetStripeInfo(TFX_Page* page, uint32_t row, int32_t* strip, uint32_t* firstRow, uint32_t* rowCount) {
  if (!is_read_page(page) || !strip || !firstRow || !rowCount) return TFX_ERR_ARGUMENT;
  const TFX_Image* im = page->image.get();
  if (!im) return fail(page->document, TFX_ERR_SEQUENCE, "the page's image has not been asked for");
  if (row >= im->height) return fail(page->document, TFX_ERR_ARGUMENT, "row %u of %u", row, im->height);
  const uint32_t index = row / im->rowsPerStrip;
  const uint32_t first = index * im->rowsPerStrip;
  *strip = static_cast<int32_t>(index);
  *firstRow = first;
  *rowCount = im->height - first < im->rowsPerStrip ? im->height - first : im->rowsPerStrip;
  return TFX_OK;
}

int32_t TFX_CompressedReadStrip(TFX_Image* image, uint32_t row, uint32_t rowCount, void** data, uint32_t* size,
                                TFX_Coding* coding) {
  if (data) *data = nullptr;
  if (size) *size = 0;
  if (!is_read_image(image) || !data || !size || !coding) return TFX_ERR_ARGUMENT;
  TFX_Document* doc = image->page->document;
  if (image->state != tfx::ImageState::started) return fail(doc, TFX_ERR_SEQUENCE, "the image is not open for strips");
  const uint32_t rps = image->rowsPerStrip;
  if (row >= image->height || row % rps != 0) return fail(doc, TFX_ERR_ARGUMENT, "no strip begins at row %u", row);
  const uint32_t expected = image->height - row < rps ? image->height - row : rps;
  if (rowCount != expected) return fail(doc, TFX_ERR_ARGUMENT, "the strip at row %u holds %u rows", row, expected);
  if (!tfx::select_directory(doc, image->page->index)) {
    return fail(doc, TFX_ERR_FORMAT, "page %d cannot be read", image->page->index);
  }
  TIFF* t = doc->tif;
  const uint32_t strip = row / rps;
  int err = 0;
  const uint64_t offset = TIFFGetStrileOffsetWithErr(t, strip, &err);
  const uint64_t bytes = err ? 0 : TIFFGetStrileByteCountWithErr(t, strip, &err);
  if (err || bytes == 0) return fail(doc, TFX_ERR_FORMAT, "strip %u has no data", strip);
  if (offset > doc->fileSize || bytes > doc->fileSize - offset || bytes > 0x7FFFFFFF) {
    return fail(doc, TFX_ERR_FORMAT, "strip %u lies beyond the end of the file", strip);
  }
  return tfx::guarded(doc, [&]() -> int32_t {
    std::vector<uint8_t> buffer(static_cast<size_t>(bytes));
    const tmsize_t n = static_cast<tmsize_t>(bytes);
    if (TIFFReadRawStrip(t, strip, buffer.data(), n) != n) {
      return fail(doc, TFX_ERR_FORMAT, "strip %u cannot be read", strip);
    }
    // The codings' data is read most significant bit first everywhere else.
    if (image->fillOrder == FILLORDER_LSB2MSB) TIFFReverseBits(buffer.data(), n);
    if (image->compression == COMPRESSION_JPEG && !splice_tables(image, buffer)) {
      return fail(doc, TFX_ERR_FORMAT, "strip %u is not JPEG data", strip);
    }
    void* out = std::malloc(buffer.size());
    if (!out) return fail(doc, TFX_ERR_MEMORY, "out of memory");
    std::memcpy(out, buffer.data(), buffer.size());
    *data = out;
    *size = static_cast<uint32_t>(buffer.size());
    coding->coding = image->codingFlag;
    coding->colorSpace = image->colorSpace;
    return TFX_OK;
  });
}

int32_t TFX_StripFree(TFX_Image*, void* data) {
  std::free(data);
  return TFX_OK;
}

}  // extern "C"
