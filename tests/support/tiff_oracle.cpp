#include "tiff_oracle.h"

#include <tiffio.h>

#include <cstring>
#include <memory>
#include <stdexcept>

namespace monotest {
namespace {

struct Quiet {
  Quiet() { TIFFSetWarningHandler(nullptr); }
} const kQuiet;

struct Closer {
  void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, Closer>;

TiffPtr open_at(const std::string& path, int dir) {
  TiffPtr t(TIFFOpen(path.c_str(), "r"));
  if (!t) throw std::runtime_error("libtiff cannot open " + path);
  if (TIFFSetDirectory(t.get(), static_cast<tdir_t>(dir)) != 1) {
    throw std::runtime_error("libtiff finds no directory " + std::to_string(dir) + " in " + path);
  }
  return t;
}

}  // namespace

int tiff_directory_count(const std::string& path) {
  TiffPtr t(TIFFOpen(path.c_str(), "r"));
  if (!t) throw std::runtime_error("libtiff cannot open " + path);
  return static_cast<int>(TIFFNumberOfDirectories(t.get()));
}

TiffDirectory tiff_directory(const std::string& path, int dir) {
  TiffPtr t = open_at(path, dir);
  TiffDirectory d;
  TIFF* f = t.get();
  TIFFGetField(f, TIFFTAG_IMAGEWIDTH, &d.width);
  TIFFGetField(f, TIFFTAG_IMAGELENGTH, &d.height);
  TIFFGetFieldDefaulted(f, TIFFTAG_ROWSPERSTRIP, &d.rowsPerStrip);
  d.strips = TIFFNumberOfStrips(f);
  TIFFGetFieldDefaulted(f, TIFFTAG_BITSPERSAMPLE, &d.bits);
  TIFFGetFieldDefaulted(f, TIFFTAG_SAMPLESPERPIXEL, &d.samples);
  TIFFGetFieldDefaulted(f, TIFFTAG_COMPRESSION, &d.compression);
  TIFFGetField(f, TIFFTAG_PHOTOMETRIC, &d.photometric);
  TIFFGetFieldDefaulted(f, TIFFTAG_FILLORDER, &d.fillOrder);
  if (d.compression == COMPRESSION_LZW || d.compression == COMPRESSION_ADOBE_DEFLATE) {
    TIFFGetFieldDefaulted(f, TIFFTAG_PREDICTOR, &d.predictor);
  }
  if (d.compression == COMPRESSION_CCITTFAX3) TIFFGetField(f, TIFFTAG_GROUP3OPTIONS, &d.group3Options);
  TIFFGetField(f, TIFFTAG_XRESOLUTION, &d.xres);
  TIFFGetField(f, TIFFTAG_YRESOLUTION, &d.yres);
  TIFFGetField(f, TIFFTAG_RESOLUTIONUNIT, &d.resolutionUnit);
  TIFFGetField(f, TIFFTAG_SUBFILETYPE, &d.subfileType);
  d.hasFaxProfile = TIFFGetField(f, TIFFTAG_FAXPROFILE, &d.faxProfile) == 1;
  TIFFGetField(f, TIFFTAG_CODINGMETHODS, &d.codingMethods);
  uint8_t* year = nullptr;
  if (TIFFGetField(f, TIFFTAG_VERSIONYEAR, &year) == 1 && year) d.versionYear.assign(year, year + 4);
  uint8_t mode = 0;
  if (TIFFGetField(f, TIFFTAG_MODENUMBER, &mode) == 1) d.modeNumber = mode;
  uint16_t count = 0;
  float* decode = nullptr;
  if (TIFFGetField(f, TIFFTAG_DECODE, &count, &decode) == 1 && decode) d.decode.assign(decode, decode + count);
  return d;
}

std::vector<Bytes> tiff_raw_strips(const std::string& path, int dir) {
  TiffPtr t = open_at(path, dir);
  std::vector<Bytes> out;
  for (uint32_t s = 0; s < TIFFNumberOfStrips(t.get()); ++s) {
    Bytes b(static_cast<size_t>(TIFFGetStrileByteCount(t.get(), s)));
    if (TIFFReadRawStrip(t.get(), s, b.data(), static_cast<tmsize_t>(b.size())) != static_cast<tmsize_t>(b.size())) {
      throw std::runtime_error("libtiff cannot read a strip of " + path);
    }
    out.push_back(std::move(b));
  }
  return out;
}

RefBitmap tiff_bilevel(const std::string& path, int dir) {
  TiffPtr t = open_at(path, dir);
  uint32_t w = 0, h = 0;
  uint16_t photometric = PHOTOMETRIC_MINISWHITE;
  TIFFGetField(t.get(), TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(t.get(), TIFFTAG_IMAGELENGTH, &h);
  TIFFGetField(t.get(), TIFFTAG_PHOTOMETRIC, &photometric);
  RefBitmap bm(static_cast<int>(w), static_cast<int>(h));
  Bytes line(static_cast<size_t>(TIFFScanlineSize(t.get())));
  for (uint32_t y = 0; y < h; ++y) {
    if (TIFFReadScanline(t.get(), line.data(), y, 0) < 0) throw std::runtime_error("libtiff cannot decode " + path);
    for (size_t i = 0; i < bm.stride; ++i) bm.row(static_cast<int>(y))[i] = photometric == PHOTOMETRIC_MINISBLACK ? ~line[i] : line[i];
    if (w % 8) bm.row(static_cast<int>(y))[bm.stride - 1] &= static_cast<uint8_t>(0xFF00 >> (w % 8));
  }
  return bm;
}

Bytes tiff_samples(const std::string& path, int dir) {
  TiffPtr t = open_at(path, dir);
  uint16_t photometric = 0, compression = 0;
  uint32_t h = 0;
  TIFFGetField(t.get(), TIFFTAG_PHOTOMETRIC, &photometric);
  TIFFGetFieldDefaulted(t.get(), TIFFTAG_COMPRESSION, &compression);
  TIFFGetField(t.get(), TIFFTAG_IMAGELENGTH, &h);
  if (photometric == PHOTOMETRIC_YCBCR && compression == COMPRESSION_JPEG) {
    TIFFSetField(t.get(), TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
  }
  const size_t line = static_cast<size_t>(TIFFScanlineSize(t.get()));
  Bytes out(line * h);
  for (uint32_t y = 0; y < h; ++y) {
    if (TIFFReadScanline(t.get(), out.data() + line * y, y, 0) < 0) {
      throw std::runtime_error("libtiff cannot decode " + path);
    }
  }
  return out;
}

void tiff_write(const std::string& path, const std::vector<TiffSpec>& pages, const std::vector<Bytes>& rows) {
  TiffPtr t(TIFFOpen(path.c_str(), "w"));
  if (!t) throw std::runtime_error("libtiff cannot create " + path);
  TIFF* f = t.get();
  for (size_t p = 0; p < pages.size(); ++p) {
    const TiffSpec& s = pages[p];
    TIFFSetField(f, TIFFTAG_IMAGEWIDTH, s.width);
    TIFFSetField(f, TIFFTAG_IMAGELENGTH, s.height);
    TIFFSetField(f, TIFFTAG_BITSPERSAMPLE, s.bits);
    TIFFSetField(f, TIFFTAG_SAMPLESPERPIXEL, s.samples);
    TIFFSetField(f, TIFFTAG_PLANARCONFIG, s.separatePlanes ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(f, TIFFTAG_COMPRESSION, s.compression);
    TIFFSetField(f, TIFFTAG_PHOTOMETRIC, s.photometric);
    TIFFSetField(f, TIFFTAG_FILLORDER, s.fillOrder);
    if (s.predictor != 1) TIFFSetField(f, TIFFTAG_PREDICTOR, s.predictor);
    if (s.compression == COMPRESSION_CCITTFAX3) TIFFSetField(f, TIFFTAG_GROUP3OPTIONS, s.group3Options);
    if (s.compression == COMPRESSION_JPEG && s.photometric == PHOTOMETRIC_YCBCR) {
      TIFFSetField(f, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    if (s.xres > 0) {
      TIFFSetField(f, TIFFTAG_XRESOLUTION, s.xres);
      TIFFSetField(f, TIFFTAG_YRESOLUTION, s.yres);
      TIFFSetField(f, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    }
    const Bytes& data = rows[p];
    const size_t line = s.bits == 1 ? (s.width + 7) / 8 : static_cast<size_t>(s.width) * s.samples * s.bits / 8;
    if (s.tiled) {
      TIFFSetField(f, TIFFTAG_TILEWIDTH, 16u);
      TIFFSetField(f, TIFFTAG_TILELENGTH, 16u);
      Bytes tile(static_cast<size_t>(TIFFTileSize(f)), 0);
      for (uint32_t i = 0; i < TIFFNumberOfTiles(f); ++i) TIFFWriteEncodedTile(f, i, tile.data(), static_cast<tmsize_t>(tile.size()));
    } else {
      TIFFSetField(f, TIFFTAG_ROWSPERSTRIP, s.rowsPerStrip ? s.rowsPerStrip : s.height);
      if (s.separatePlanes) {
        Bytes plane(s.width);
        for (uint16_t c = 0; c < s.samples; ++c) {
          for (uint32_t y = 0; y < s.height; ++y) {
            for (uint32_t x = 0; x < s.width; ++x) plane[x] = data[(y * s.width + x) * s.samples + c];
            if (TIFFWriteScanline(f, plane.data(), y, c) < 0) throw std::runtime_error("libtiff cannot write " + path);
          }
        }
      } else {
        for (uint32_t y = 0; y < s.height; ++y) {
          if (TIFFWriteScanline(f, const_cast<uint8_t*>(data.data() + line * y), y, 0) < 0) {
            throw std::runtime_error("libtiff cannot write " + path);
          }
        }
      }
    }
    if (TIFFWriteDirectory(f) != 1) throw std::runtime_error("libtiff cannot write a directory of " + path);
  }
}

}  // namespace monotest
