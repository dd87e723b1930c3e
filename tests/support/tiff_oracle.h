#ifndef MONOTEST_TIFF_ORACLE_H
#define MONOTEST_TIFF_ORACLE_H

// libtiff as the oracle for TIFF files we write or read: what a directory says, its strips as
// the file holds them, and its pixels as libtiff decodes them. Failures throw
// std::runtime_error. Host builds only.

#include <cstdint>
#include <string>
#include <vector>

#include "ref_bitmap.h"

namespace monotest {

struct TiffDirectory {
  uint32_t width = 0, height = 0, rowsPerStrip = 0, strips = 0;
  uint16_t bits = 0, samples = 0, compression = 0, photometric = 0, fillOrder = 1, predictor = 1;
  uint32_t group3Options = 0;
  float xres = 0, yres = 0;
  uint16_t resolutionUnit = 0;
  uint32_t subfileType = 0;
  bool hasFaxProfile = false;
  uint8_t faxProfile = 0;
  uint32_t codingMethods = 0;
  std::string versionYear;
  int modeNumber = -1;
  std::vector<float> decode;
};

using Bytes = std::vector<uint8_t>;

int tiff_directory_count(const std::string& path);
TiffDirectory tiff_directory(const std::string& path, int dir);
// The strips of a directory as the file holds them.
std::vector<Bytes> tiff_raw_strips(const std::string& path, int dir);
// A bilevel page as libtiff decodes it, 1 = black whatever its photometric.
RefBitmap tiff_bilevel(const std::string& path, int dir);
// A page's decoded samples row after row (one byte per sample, 8-bit pages; JPEG YCbCr pages
// come back as RGB).
Bytes tiff_samples(const std::string& path, int dir);

// Writes a page with libtiff's own coders: rows of width * samples bytes (8 bits) or bilevel
// rows (1 = black, MSB first) of (width + 7) / 8 bytes.
struct TiffSpec {
  uint32_t width = 0, height = 0, rowsPerStrip = 0;
  uint16_t bits = 1, samples = 1, compression = 1, photometric = 0, predictor = 1, fillOrder = 1;
  uint32_t group3Options = 0;
  bool tiled = false, separatePlanes = false;
  float xres = 0, yres = 0;  // 0: no resolution fields
};
void tiff_write(const std::string& path, const std::vector<TiffSpec>& pages, const std::vector<Bytes>& rows);

}  // namespace monotest

#endif
