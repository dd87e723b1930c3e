// Status texts, the reporter record and the printers.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "counting_alloc.h"
#include "vlt_errors.h"
#include "vlt_state.h"

namespace {

using monotest::CountingAllocator;

TEST(VltErrStr, TextsOfEveryRangeTheirBoundariesAndSpecialValues) {
  constexpr const char* kInvalid = "Invalid error code";
  constexpr const char* kBummer = "Internal error encountered, bummer";
  const struct {
    VltStatus code;
    const char* text;
  } cases[] = {
      {-3, kInvalid},
      {-2, kInvalid},
      {-1, "Undefined error"},
      {INT32_MIN, kInvalid},
      {0, "No error"},
      {1, "Unable to allocate memory"},
      {3, kBummer},
      {5, kBummer},
      {7, "Buffer overflow"},
      {37, "Channels required to be equal"},
      {38, kInvalid},
      {99, kInvalid},
      {100, "Out of bounds error"},
      {118, "Unexpected NULL pointer"},
      {122, "Pointer to pIPState was NULL"},
      {123, kInvalid},
      {999, kInvalid},
      {1000, "PIXR: Incorrect byte order"},
      {1006, "PIXR: Invalid colormap"},
      {1007, kInvalid},
      {2000, "Error during read"},
      {2008, "TIFF strip not filled"},
      {2009, kInvalid},
      {3000, "Markcode: Invalid error code"},
      {3032, "Markcode: Too many occlusions"},
      {3033, "Markcode: Occlusion not found"},
      {3035, "Markcode: Illegal glyph block dimensions"},
      {3036, kInvalid},
      {4000, kBummer},
      {4004, kBummer},
      {4005, kInvalid},
      {5000, "Nothing found"},
      {5001, "Not enough points"},
      {5002, kInvalid},
      {6000, "Invalid rectangle count"},
      {6001, kInvalid},
      {7000, kInvalid},
      {7005, "Wrong dimensions specified"},
      {7006, "Too much data"},
      {7007, kInvalid},
      {7999, kInvalid},
      {8000, kInvalid},
      {9999, kInvalid},
      {10000, "File not found"},
      {10002, "Error within Dideva"},
      {10003, "Vlt assert failure"},
      {10007, "ADT:  Null stack requested"},
      {10009, "ScanColor:  x and y resolutions differ;  can't scale background."},
      {10012, "Jpeg6b : Corrupt input data. "},
      {10016, "TIFF-FX dictionary limit of 5 has been reached"},
      {10017, kInvalid},
      {10999, kInvalid},
      {11000, "Ruv: No error"},
      {11002, "Ruv: Invalid parameter"},
      {11003, kInvalid},
      {11006, "Ruv: Unsupported feature"},
      {11019, "Ruv: File does not comform to TIFF"},
      {11023, "Ruv: File format/data is corrupted"},
      {11024, kInvalid},
      {11999, kInvalid},
      {13000, "Win32 error"},
      {13002, "Win32 error"},
      {13999, "Win32 error"},
      {14000, kInvalid},
      {INT32_MAX, kInvalid},
  };
  for (const auto& c : cases) EXPECT_STREQ(Vlt_getErrStr(c.code), c.text) << "code " << c.code;
}

TEST(VltErrStr, NamedConstantsCarryTheirCodesText) {
  const struct {
    VltStatus code;
    const char* text;
  } cases[] = {
      {VLT_ERR_NOMEM, "Unable to allocate memory"},
      {VLT_ERR_PARAM, "Invalid parameter"},
      {VLT_ERR_OVERFLOW, "Buffer overflow"},
      {VLT_ERR_INTERNAL, "Internal error"},
      {VLT_ERR_TYPE_UNSUPPORTED, "Type not supported"},
      {VLT_ERR_IPC_BOUNDS, "Out of bounds error"},
      {VLT_ERR_CODEC, "Error during de/compression"},
      {VLT_ERR_DIMENSIONS, "Image Dimensions are incorrect"},
      {VLT_ERR_NULL, "Unexpected NULL pointer"},
      {VLT_ERR_NOT_NULL, "Expected NULL pointer"},
      {VLT_ERR_NULL_IPWSTATE, "Pointer to pIPWState was NULL"},
      {VLT_ERR_PIXR_NULL, "PIXR: NULL PIXR"},
      {VLT_ERR_IO_READ, "Error during read"},
      {VLT_ERR_IO_WRITE, "Error during write"},
      {VLT_ERR_IO_LENGTH, "Bad file length"},
      {VLT_ERR_IO_EARLY_END, "Reading/scanning early end found"},
      {VLT_ERR_IO_NOT_G4, "File is not CCITT Group 4"},
      {VLT_ERR_APPS_DIMENSIONS, "Wrong dimensions specified"},
      {VLT_ERR_DIDEVA, "Error within Dideva"},
      {VLT_ERR_ASSERT, "Vlt assert failure"},
      {VLT_ERR_COMMAND_LINE, "Invalid command line"},
      {VLT_ERR_VLT_NOMEM, "Insufficient Memory"},
      {VLT_ERR_CONSISTENCY, "Rizov! Internal consistency check failure"},
  };
  for (const auto& c : cases) EXPECT_STREQ(Vlt_getErrStr(c.code), c.text) << "code " << c.code;
}

TEST(VltErrStr, ErrnoRangeTakesTheCLibraryText) {
  for (int e : {ENOENT, EACCES, ENOMEM}) {
    const std::string expected = std::strerror(e);
    EXPECT_EQ(Vlt_getErrStr(VLT_ERRNO_BASE + e), expected) << "errno " << e;
  }
  EXPECT_NE(Vlt_getErrStr(12999), nullptr);
}

TEST(VltErrStr, EveryCodeHasANonEmptyText) {
  for (VltStatus code = -5; code < 15000; ++code) {
    const char* t = Vlt_getErrStr(code);
    ASSERT_NE(t, nullptr) << code;
    EXPECT_NE(*t, '\0') << code;
  }
}

// Captures what a stdio printer writes.
class Capture {
 public:
  Capture() : f_(open_memstream(&buf_, &len_)) {}
  ~Capture() {
    if (f_ != nullptr) std::fclose(f_);
    std::free(buf_);
  }
  FILE* stream() { return f_; }
  std::string text() {
    std::fflush(f_);
    return std::string(buf_, len_);
  }

 private:
  char* buf_ = nullptr;
  size_t len_ = 0;
  FILE* f_;
};

TEST(VltFileErrPrinter, PrefixesByCodeThenMessageAndNewline) {
  const struct {
    VltStatus code;
    const char* format;
    const char* expected;
  } cases[] = {
      {118, "Unexpected NULL pointer", "Error 118 -- Unexpected NULL pointer\n"},
      {VLT_CODE_WARNING, nullptr, "Warning -- \n"},
      {VLT_CODE_REPORT, "done", "Report -- done\n"},
      {-1, "x", "Error -1 -- x\n"},
      {0, "", "Error 0 -- \n"},
  };
  for (const auto& c : cases) {
    Capture out;
    EXPECT_EQ(Vlt_fileErrPrinter(out.stream(), c.code, c.format ? "%s" : nullptr, c.format), 0);
    EXPECT_EQ(out.text(), c.expected);
  }
  Capture out;
  Vlt_fileErrPrinter(out.stream(), 107, "bad segment type %d at %s", 62, "12");
  EXPECT_EQ(out.text(), "Error 107 -- bad segment type 62 at 12\n");
  EXPECT_EQ(Vlt_fileErrPrinter(nullptr, 1, "%s", "ignored"), 0);
}

TEST(VltFileErrPrinter, ForwardedWrapperLineKeepsItsOwnNewline) {
  Capture out;
  VltErrState es{out.stream(), Vlt_fileErrPrinter};
  vlt_ipc_errPrinter(&es, "--VERiza Error-- File:a.cpp Line:3 Error: 118\n");
  EXPECT_EQ(out.text(), "Error 10002 -- --VERiza Error-- File:a.cpp Line:3 Error: 118\n\n");
  vlt_ipc_errPrinter(nullptr, "silent");
}

TEST(VltReport, StandardTextAndOwnMessagesGoThroughTheReporter) {
  Capture out;
  VltErrState es{out.stream(), Vlt_fileErrPrinter};
  EXPECT_EQ(Vlt_reportErr(&es, 2001), 2001);
  EXPECT_EQ(Vlt_reportErrMsg(&es, 2, "bad AT params %s", "%d"), 2);
  EXPECT_EQ(Vlt_reportErr(nullptr, 1), 1);
  EXPECT_EQ(out.text(), "Error 2001 -- Error during write\nError 2 -- bad AT params %d\n");
}

TEST(VltAssertPrinter, ReportsAndReturns) {
  testing::internal::CaptureStderr();
  Vlt_voidAssertPrinter("file.c", "n > 0", 42, "count");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Assert Failure, \"file.c\", line 42, n > 0 -- (count)\n");
}

int g_printed_code;
int record_printer(void*, VltStatus code, const char*, ...) {
  g_printed_code = code;
  return 0;
}

TEST(VltErrState, InitReportsItsOwnAllocationFailureAndCleanupFreesThroughTheTable) {
  CountingAllocator a;
  a.make_current();
  const VltMemFuncs mem{CountingAllocator::g_malloc, CountingAllocator::g_free, CountingAllocator::g_calloc,
                        CountingAllocator::g_realloc};
  int ctx = 0;
  VltErrState* es = nullptr;
  ASSERT_EQ(Vlt_initVltErrState(&es, &mem, &ctx, record_printer), VLT_OK);
  EXPECT_EQ(es->context, &ctx);
  EXPECT_EQ(es->printer, record_printer);
  Vlt_cleanupVltErrState(&es, &mem);
  EXPECT_EQ(es, nullptr);
  Vlt_cleanupVltErrState(&es, &mem);
  Vlt_cleanupVltErrState(static_cast<VltErrState**>(nullptr), &mem);

  a.fail_at(1);
  g_printed_code = 0;
  EXPECT_EQ(Vlt_initVltErrState(&es, &mem, &ctx, record_printer), VLT_ERR_NOMEM);
  EXPECT_EQ(es, nullptr);
  EXPECT_EQ(g_printed_code, VLT_ERR_NOMEM);
  EXPECT_EQ(a.live_blocks(), 0u);
}

}  // namespace
