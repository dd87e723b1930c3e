// Writes the seed corpus of the TIFF reader target into the folder given: documents written as
// the TIFF and TIFF-FX writer writes them, through the bridge over the back end's file keys —
// plain TIFF with raw, PackBits, LZW-with-predictor and grey pages in strips, fax profiles S and
// F with G3 and G4 strips — and a JPEG colour page as libtiff writes it. Coded strips come from
// libtiff, written to a scratch file and read back raw.

#include <tiffio.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tio.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Page {
  uint32_t width, height, rowsPerStrip;
  int32_t colorType;
  uint32_t coding;
  int32_t colorSpace;
  std::vector<Bytes> strips;
};

// Rows of a page: stripes and a diagonal, so that every coder has runs to code.
Bytes rows_of(uint32_t width, uint32_t height, uint32_t bytesPerRow) {
  Bytes rows(static_cast<size_t>(bytesPerRow) * height);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < bytesPerRow; ++x) {
      rows[y * bytesPerRow + x] = static_cast<uint8_t>((x / 3 + y / 5) % 2 ? 0xF0 : (x == y % width ? 0x18 : 0));
    }
  }
  return rows;
}

// The strips libtiff makes of the rows with the given fields, as the file holds them.
std::vector<Bytes> libtiff_strips(const std::string& scratch, uint32_t width, uint32_t height, uint16_t bits,
                                  uint16_t samples, uint16_t photometric, uint16_t compression, uint32_t rowsPerStrip,
                                  uint16_t predictor = 1) {
  const uint32_t bytesPerRow = (width * bits * samples + 7) / 8;
  TIFF* out = TIFFOpen(scratch.c_str(), "w");
  if (!out) return {};
  TIFFSetField(out, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(out, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(out, TIFFTAG_PHOTOMETRIC, photometric);
  TIFFSetField(out, TIFFTAG_COMPRESSION, compression);
  TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
  if (predictor != 1) TIFFSetField(out, TIFFTAG_PREDICTOR, predictor);
  Bytes rows = rows_of(width, height, bytesPerRow);
  for (uint32_t y = 0; y < height; ++y) TIFFWriteScanline(out, &rows[y * bytesPerRow], y, 0);
  TIFFClose(out);
  std::vector<Bytes> strips;
  TIFF* in = TIFFOpen(scratch.c_str(), "r");
  if (!in) return {};
  for (uint32_t s = 0; s < TIFFNumberOfStrips(in); ++s) {
    Bytes strip(static_cast<size_t>(TIFFRawStripSize(in, s)));
    TIFFReadRawStrip(in, s, strip.data(), static_cast<tmsize_t>(strip.size()));
    strips.push_back(strip);
  }
  TIFFClose(in);
  std::remove(scratch.c_str());
  return strips;
}

// PackBits of the rows: literal runs of up to 128 bytes, repeats of equal bytes.
Bytes packbits(const Bytes& in) {
  Bytes out;
  for (size_t i = 0; i < in.size();) {
    size_t run = 1;
    while (i + run < in.size() && run < 128 && in[i + run] == in[i]) ++run;
    if (run > 1) {
      out.push_back(static_cast<uint8_t>(257 - run));
      out.push_back(in[i]);
    } else {
      const size_t n = std::min<size_t>(128, in.size() - i);
      out.push_back(static_cast<uint8_t>(n - 1));
      out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(i), in.begin() + static_cast<std::ptrdiff_t>(i + n));
      run = n;
    }
    i += run;
  }
  return out;
}

bool write_document(const std::string& path, int32_t profile, const std::vector<Page>& pages) {
  void* instance = nullptr;
  SioFileKey* key = nullptr;
  if (__initMIOHandle(&instance) != 0 || __sioCreateWriteFileKey(path.c_str(), &key) != 0) return false;
  TFX_Document* doc = nullptr;
  bool ok = TFX_CreateDocument(instance, key, 0, profile, __sioCnctRead, __sioCnctWrite, __sioCnctSeek, __sioCnctSize,
                               __sioCnctTell, &doc) == TFX_OK;
  for (const Page& p : pages) {
    TFX_Page* page = nullptr;
    TFX_Image* image = nullptr;
    int32_t a = 0, b = 75, c = 0;
    ok = ok && TFX_AddPageStart(doc, -1, &page) == TFX_OK &&
         TFX_AddImage(page, 1, p.colorType, 0, 0, 204, 196, p.width, p.height, p.rowsPerStrip, 0, &image) == TFX_OK &&
         TFX_ImageWriteStart(image, 0, &a, &b, &c) == TFX_OK;
    uint32_t row = 0;
    const TFX_Coding how{p.coding, p.colorSpace};
    for (const Bytes& strip : p.strips) {
      const uint32_t rows = std::min(p.rowsPerStrip, p.height - row);
      ok = ok && TFX_CompressedWriteStrip(image, row, rows, strip.data(), static_cast<uint32_t>(strip.size()), &how) ==
                     TFX_OK;
      row += rows;
    }
    ok = ok && TFX_ImageWriteFinish(image) == TFX_OK && TFX_AddPageFinish(page) == TFX_OK;
  }
  if (doc) ok = TFX_CloseDocument(doc) == TFX_OK && ok;
  __sioReleaseFileKey(key);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  const std::string scratch = dir + "/scratch.tif";
  const uint32_t w = 1728, h = 40;
  Page raw{w, h, 16, TFX_CTYPE_BILEVEL, TFX_CODING_NONE, 0, {}};
  const Bytes rows = rows_of(w, h, w / 8);
  for (uint32_t y = 0; y < h; y += 16) {
    const uint32_t n = std::min(16u, h - y);
    raw.strips.emplace_back(rows.begin() + y * (w / 8), rows.begin() + (y + n) * (w / 8));
  }
  Page packed = raw;
  packed.coding = TFX_CODING_PACKBITS;
  for (Bytes& s : packed.strips) s = packbits(s);
  const Page grey{64, 20, 8, TFX_CTYPE_GREY8, TFX_CODING_LZW | TFX_CODING_PREDICTOR, TFX_CSPACE_BLACK_IS_ZERO,
                  libtiff_strips(scratch, 64, 20, 8, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_LZW, 8, 2)};
  const Page g3{w, h, 16, TFX_CTYPE_BILEVEL, TFX_CODING_T4_1D, 0,
                libtiff_strips(scratch, w, h, 1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX3, 16)};
  const Page g4{w, h, h, TFX_CTYPE_BILEVEL, TFX_CODING_T6, 0,
                libtiff_strips(scratch, w, h, 1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX4, h)};
  bool ok = write_document(dir + "/plain.tif", TFX_CREATE_TIFF, {raw, packed, grey}) &&
            write_document(dir + "/profile-s.tif", TFX_CREATE_S, {g3, g3}) &&
            write_document(dir + "/profile-f.tif", TFX_CREATE_F, {g4, g3});
  // A colour page in JPEG with its tables apart, as libtiff writes it.
  TIFF* jpeg = TIFFOpen((dir + "/jpeg.tif").c_str(), "w");
  ok = ok && jpeg;
  if (jpeg) {
    TIFFSetField(jpeg, TIFFTAG_IMAGEWIDTH, 32u);
    TIFFSetField(jpeg, TIFFTAG_IMAGELENGTH, 24u);
    TIFFSetField(jpeg, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(jpeg, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(jpeg, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
    TIFFSetField(jpeg, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
    TIFFSetField(jpeg, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    TIFFSetField(jpeg, TIFFTAG_ROWSPERSTRIP, 16u);
    const Bytes colour = rows_of(96, 24, 96);
    for (uint32_t y = 0; y < 24; ++y) ok = ok && TIFFWriteScanline(jpeg, const_cast<uint8_t*>(&colour[y * 96]), y, 0) >= 0;
    TIFFClose(jpeg);
  }
  return ok ? 0 : 1;
}
