#ifndef TFX_INTERNAL_H
#define TFX_INTERNAL_H

// What the files of the TIFF-FX bridge share: the records behind the handles.

#include <tiffio.h>

#include <cstdarg>
#include <memory>
#include <new>
#include <vector>

#include "tfxbridge.h"

namespace tfx {

// The target a profile check settled on for a page.
struct CheckTarget {
  bool made = false;
  int32_t colorType = 0;
  int32_t colorSpace = 0;
  uint32_t xres = 0, yres = 0, width = 0, height = 0;
};

struct Strip {
  std::vector<uint8_t> data;
  uint32_t rows = 0;
};

enum class ImageState { described, started, finished };

}  // namespace tfx

struct TFX_Image {
  TFX_Page* page = nullptr;
  tfx::ImageState state = tfx::ImageState::described;
  int32_t colorType = 0;
  uint32_t xres = 0, yres = 0, width = 0, height = 0, rowsPerStrip = 0;
  // Writing: the strips handed over so far, all of one coding.
  std::vector<tfx::Strip> strips;
  uint32_t nextRow = 0;
  TFX_Coding coding{0, 0};
  // Reading: what the directory says.
  uint16_t bitsPerSample = 0, samplesPerPixel = 0, photometric = 0, compression = 0, fillOrder = 1;
  uint32_t codingFlag = 0;
  int32_t colorSpace = 0;
  uint32_t stripCount = 0;
  bool reading = false;
};

struct TFX_Page {
  TFX_Document* document = nullptr;
  int32_t index = 0;         // 0-based IFD
  bool finished = false;     // writing: in the file
  tfx::CheckTarget target;   // writing: what the profile check asked for
  std::unique_ptr<TFX_Image> image;
  uint8_t imageFlags[1] = {1};
  uint32_t subfileType = 0;  // reading
};

struct TFX_Document {
  TIFF* tif = nullptr;
  bool writing = false;
  int32_t profile = 0;       // creation code, or the profile read
  void* key = nullptr;
  TFX_ReadProc read = nullptr;
  TFX_WriteProc write = nullptr;
  TFX_SeekProc seek = nullptr;
  TFX_SizeProc size = nullptr;
  TFX_TellProc tell = nullptr;
  char error[256] = "";
  bool broken = false;       // writing: a page failed on its way into the file
  uint32_t pagesWritten = 0;
  std::unique_ptr<TFX_Page> current;  // writing: the page being added (or the last one)
  // Reading.
  uint32_t pageCount = 0;
  uint64_t fileSize = 0;
  uint8_t byteOrder = 'I';
  bool faxFile = false;
  std::vector<std::unique_ptr<TFX_Page>> pages;
};

namespace tfx {

// Records a failure's text in the document (when there is one) and returns code.
int32_t fail(TFX_Document* doc, int32_t code, const char* format, ...) __attribute__((format(printf, 3, 4)));

// Runs body and turns a failed allocation into TFX_ERR_MEMORY: the bridge keeps its records in
// standard containers, and nothing may throw out of its C entry points.
template <class Body>
int32_t guarded(TFX_Document* doc, Body&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return fail(doc, TFX_ERR_MEMORY, "out of memory");
  }
}

// Makes the directory of index the current one; false when libtiff cannot read it.
bool select_directory(TFX_Document* doc, int32_t index);

// Rows of one uncompressed line of the colour type at width, in bytes.
uint64_t row_bytes(int32_t colorType, uint32_t width);

}  // namespace tfx

#endif
