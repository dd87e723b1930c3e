// Texts of the status space shared by the image core, the wrapper layer, the engine and the codec.

#include "vlt_errors.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "vlt_state.h"

namespace {

constexpr const char* kBummer = "Internal error encountered, bummer";
constexpr const char* kInvalid = "Invalid error code";

constexpr std::array<const char*, 38> kIpsErrors = {
    "No error",
    "Unable to allocate memory",
    "Invalid parameter",
    kBummer,
    kBummer,
    kBummer,
    "Function is not implemented",
    "Buffer overflow",
    "Operator does not support images with this number of bits/pixel",
    "Angle parameter is larger in absolute value than operator can handle",
    "No on pixels in this source word",
    "Two objects should have been the same length",
    "Internal error",
    "Client's callback routine returned error",
    "Yield procedure signaled abort",
    "Error during decode",
    "Image is too wide",
    "Out of bounds error",
    "Error during read",
    "Error during write",
    "Reading/scanning early end found",
    "No image data found",
    "Illegal type",
    "Error during seek",
    "Illegal version",
    "Error during de/compression",
    "Bad file length",
    "Couldn't open data pipe",
    "Bytes per line not a multiple of 4",
    "Multiple image planes not supported",
    "Type not supported",
    "Desired number of tiles not supported",
    "Desired de/compression type not supported",
    "Desired frame size not supported",
    "Desired number of channels not supported",
    "Dimensions required to be equal",
    "Depths required to be equal",
    "Channels required to be equal",
};

constexpr std::array<const char*, 23> kIpcErrors = {
    "Out of bounds error",
    "No image data found",
    "Illegal type",
    "Illegal version",
    "Bytes per line not a multiple of 4",
    "Multiple image planes not supported",
    "Type not supported",
    "Error during de/compression",
    "Desired de/compression type not supported",
    "Desired frame size not supported",
    "Desired number of channels not supported",
    "Channels required to be equal",
    "Image Dimensions are incorrect",
    "Dimensions required to be equal",
    "Regression test failed",
    "Illegal reduction factor",
    "Image dimensions not correct ratio",
    "Desired expansion not supported",
    "Unexpected NULL pointer",
    "Fixed-length array is full",
    "Expected NULL pointer",
    "Pointer to pIPWState was NULL",
    "Pointer to pIPState was NULL",
};

constexpr std::array<const char*, 7> kPixrErrors = {
    "PIXR: Incorrect byte order", "PIXR: Depth not supported", "PIXR: Wrong number of channels",
    "PIXR: NULL PIXR",            "PIXR: Framed image required", "PIXR: Resolution not set",
    "PIXR: Invalid colormap",
};

constexpr std::array<const char*, 9> kIoErrors = {
    "Error during read",
    "Error during write",
    "Error during seek",
    "Bad file length",
    "Couldn't open data pipe",
    "Reading/scanning early end found",
    "Desired number of tiles not supported",
    "File is not CCITT Group 4",
    "TIFF strip not filled",
};

constexpr std::array<const char*, 36> kMarkcodeErrors = {
    "Markcode: Invalid error code",
    "Markcode: Unable to find center of glyph",
    "Markcode: Unable to find direction of glyph",
    "Markcode: Not enough glyphs horizontally",
    "Markcode: Not enough glyphs vertically",
    "Markcode: Expected glyph not found",
    "Markcode: Expected glyph rectangle not found",
    "Markcode: Unable to read data file",
    "Markcode: Data file corrupted",
    "Markcode: Insufficient synchronization bits found",
    "Markcode: Rotation angle too large",
    "Markcode: CRC incorrect",
    "Markcode: Decode failed",
    "Markcode: Unable to find vertical synch",
    "Markcode: Containing rectangle too small",
    "Markcode: Image too small",
    "Markcode: Image rotated 90 degrees",
    "Markcode: Image rotated 180 degrees",
    "Markcode: Image rotated 270 degrees",
    "Markcode: Rectangle supplied not found",
    "Markcode: Invalid layout handle",
    "Markcode: Invalid region handle",
    "Markcode: invalid ECC level",
    "Markcode: Occlusion already specified",
    "Markcode: Occlusion size too small",
    "Markcode: Occlusion spans rectangle",
    "Markcode: Required rectangle larger than given dimensions",
    "Markcode: Desired alignment not supported",
    "Markcode: Required rectangle too large",
    "Markcode: Client allocation region handle too small",
    "Markcode: Invalid byte count",
    "Markcode: Invalid glyph size",
    "Markcode: Too many occlusions",
    "Markcode: Occlusion not found",
    "Markcode: Multiple non-contiguous regions in glyph",
    "Markcode: Illegal glyph block dimensions",
};

constexpr std::array<const char*, 5> kStrelErrors = {kBummer, kBummer, kBummer, kBummer, kBummer};
constexpr std::array<const char*, 2> kHeurErrors = {"Nothing found", "Not enough points"};
constexpr std::array<const char*, 1> kAdtErrors = {"Invalid rectangle count"};
constexpr std::array<const char*, 7> kAppsErrors = {
    "Invalid error code",       "Bad reduction factor", "Bad reduction", "Invalid resolution",
    "Reduction not supported",  "Wrong dimensions specified", "Too much data",
};

constexpr std::array<const char*, 17> kVltErrors = {
    "File not found",
    "Internal buffer overflow",
    "Error within Dideva",
    "Vlt assert failure",
    "Invalid command line",
    "Insufficient Memory",
    "Rizov! Internal consistency check failure",
    "ADT:  Null stack requested",
    "ADT:  Smaller stack requested",
    "ScanColor:  x and y resolutions differ;  can't scale background.",
    "ScanColor:  Call outside of initialization stage.",
    "ScanColor:  Call outside of find text stage.",
    "Jpeg6b : Corrupt input data. ",
    "Jpeg6b : Out of Memory error. ",
    "Jpeg6b : Not a JPEG file at all.",
    "Jpeg6b : File IO Error. ",
    "TIFF-FX dictionary limit of 5 has been reached",
};

struct RuvEntry {
  VltStatus code;
  const char* text;
};
constexpr std::array<RuvEntry, 13> kRuvErrors = {{
    {11000, "Ruv: No error"},
    {11001, "Ruv: Unable to allocate memory"},
    {11002, "Ruv: Invalid parameter"},
    {11006, "Ruv: Unsupported feature"},
    {11007, "Ruv: Buffer overflow"},
    {11012, "Ruv: Internal Error"},
    {11014, "Ruv: Client requested abort"},
    {11018, "Ruv: 0-page TIFF"},
    {11019, "Ruv: File does not comform to TIFF"},
    {11020, "Ruv: File does not comform to RUVF"},
    {11021, "Ruv: Function called out-of-sequence"},
    {11022, "Ruv: File not opened in BINARY/READ/WRITE"},
    {11023, "Ruv: File format/data is corrupted"},
}};

template <size_t N>
constexpr bool all_set(const std::array<const char*, N>& table) {
  for (const char* t : table)
    if (t == nullptr || *t == '\0') return false;
  return true;
}
static_assert(all_set(kIpsErrors) && all_set(kIpcErrors) && all_set(kPixrErrors) &&
              all_set(kIoErrors) && all_set(kMarkcodeErrors) && all_set(kStrelErrors) &&
              all_set(kHeurErrors) && all_set(kAdtErrors) && all_set(kAppsErrors) &&
              all_set(kVltErrors));

template <size_t N>
const char* row(const std::array<const char*, N>& table, VltStatus offset) {
  return offset >= 0 && static_cast<size_t>(offset) < N ? table[static_cast<size_t>(offset)]
                                                        : kInvalid;
}

// glibc offers the GNU strerror_r (returning the text); other C libraries the XSI one (filling
// the buffer). Overloads pick whichever this C library declares.
[[maybe_unused]] const char* errno_text(char* r, char*) { return r; }
[[maybe_unused]] const char* errno_text(int r, char* buf) { return r == 0 ? buf : "Unknown error"; }

}  // namespace

const char* Vlt_getErrStr(VltStatus code) {
  if (code < 0) return code == -1 ? "Undefined error" : kInvalid;
  if (code < 100) return row(kIpsErrors, code);
  if (code < 1000) return row(kIpcErrors, code - 100);
  if (code < 2000) return row(kPixrErrors, code - 1000);
  if (code < 3000) return row(kIoErrors, code - 2000);
  if (code < 4000) return row(kMarkcodeErrors, code - 3000);
  if (code < 5000) return row(kStrelErrors, code - 4000);
  if (code < 6000) return row(kHeurErrors, code - 5000);
  if (code < 7000) return row(kAdtErrors, code - 6000);
  if (code < 8000) return row(kAppsErrors, code - 7000);
  if (code < 11000) return row(kVltErrors, code - 10000);
  if (code < 12000) {
    for (const RuvEntry& e : kRuvErrors)
      if (e.code == code) return e.text;
    return kInvalid;
  }
  if (code < 13000) {
    // Each thread keeps its own text, so the result stays valid until that thread asks again.
    thread_local char buf[256];
    buf[0] = '\0';
    return errno_text(strerror_r(code - 12000, buf, sizeof buf), buf);
  }
  if (code < 14000) return "Win32 error";
  return kInvalid;
}

VltStatus Vlt_initVltErrState(VltErrState** place, const VltMemFuncs* mem, void* context,
                              VltErrPrinter printer) {
  if (place == nullptr || mem == nullptr) {
    if (printer != nullptr) printer(context, VLT_ERR_NULL, "%s", Vlt_getErrStr(VLT_ERR_NULL));
    return VLT_ERR_NULL;
  }
  auto* es = static_cast<VltErrState*>(mem->malloc(sizeof(VltErrState)));
  if (es == nullptr) {
    if (printer != nullptr) printer(context, VLT_ERR_NOMEM, "%s", Vlt_getErrStr(VLT_ERR_NOMEM));
    return VLT_ERR_NOMEM;
  }
  es->context = context;
  es->printer = printer;
  *place = es;
  return VLT_OK;
}

namespace {
void cleanup_err_state(VltErrState** place, void (*free_fn)(void*)) {
  if (place == nullptr || *place == nullptr) return;
  VltErrState* es = *place;
  *place = nullptr;
  free_fn(es);
}
}  // namespace

void Vlt_cleanupVltErrState(VltErrState** place, const VltMemFuncs* mem) {
  cleanup_err_state(place, mem->free);
}

void Vlt_cleanupVltErrState(VltErrState** place, const VltState* state) {
  cleanup_err_state(place, state->free);
}

int Vlt_fileErrPrinter(void* stream, VltStatus code, const char* format, ...) {
  auto* f = static_cast<FILE*>(stream);
  if (f == nullptr) return 0;
  if (code == VLT_CODE_REPORT)
    std::fputs("Report -- ", f);
  else if (code == VLT_CODE_WARNING)
    std::fputs("Warning -- ", f);
  else
    std::fprintf(f, "Error %d -- ", static_cast<int>(code));
  if (format != nullptr) {
    va_list ap;
    va_start(ap, format);
    std::vfprintf(f, format, ap);
    va_end(ap);
  }
  std::fputc('\n', f);
  return 0;
}

void Vlt_voidAssertPrinter(const char* file, const char* expression, int line, const char* message) {
  std::fprintf(stderr, "Assert Failure, \"%s\", line %d, %s -- (%s)\n", file ? file : "",
               line, expression ? expression : "", message ? message : "");
}

VltStatus Vlt_reportErr(const VltErrState* es, VltStatus code) {
  if (es != nullptr && es->printer != nullptr)
    es->printer(es->context, code, "%s", Vlt_getErrStr(code));
  return code;
}

VltStatus Vlt_reportErrMsg(const VltErrState* es, VltStatus code, const char* format, ...) {
  if (es == nullptr || es->printer == nullptr) return code;
  // A printer takes a variable argument list, not a va_list, so the message is formatted here.
  char text[1024];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  es->printer(es->context, code, "%s", text);
  return code;
}
