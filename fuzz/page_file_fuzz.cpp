// The engine's page-file readers over arbitrary bytes, one target per format (PAGE_FUZZ_READER
// names the engine reader): the bytes as a file read into a page image (TIFF: its first pages
// in order through readtif, as a multi-page reader asks for them), and the same bytes decoded
// from memory. A read fails with a status and no image, or gives a page image; memory beyond the
// engine's budgets shows as libFuzzer's malloc limit.

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_memfile.h"
#include "kvimgdec.h"
#include "kvng_print.h"
#include "kvraster.h"
#include "qelinterp.h"

namespace {

void quiet(void*, const char*) {}
void quiet_engine(void*, int, const char*) {}

elf_state* engine() {
  static elf_state* state = [] {
    elf_state* s = initState(nullptr, "fuzz");
    s->print = quiet;
    KVngSetPrinter(quiet_engine, nullptr);
    return s;
  }();
  return state;
}

void check_page(elf_object* image) {
  if (!image || !QELGetLayer(image, 0)) __builtin_trap();
}

void read_file(const std::string& name) {
  elf_state* state = engine();
  if (std::strcmp(PAGE_FUZZ_READER, "readtif") != 0) {
    elf_object* image = nullptr;
    if (QELReadFile2QELIMAGE(state, name.c_str(), nullptr, &image) == QEL_STATUS_OK) {
      check_page(image);
      elfDiscard(image);
    } else if (image) {
      __builtin_trap();
    }
    return;
  }
  for (int32_t page = 1; page <= 3; ++page) {
    elf_object* args = lstBuildArgs(state, "filename:s", name.c_str(), 0, "dirnum:i", page, 0, LST_END);
    elf_object* result = nullptr;
    const int status = KVReadTif(state, args, &result);
    elfDiscard(args);
    elf_object* image = nullptr;
    if (status == QEL_STATUS_OK) {
      if (!lstScanArgs(result, "img:QELIMAGE", LST_REQUIRED, &image, LST_END)) __builtin_trap();
      check_page(image);
    } else if (result) {
      __builtin_trap();
    }
    if (result) elfDiscard(result);
    if (status != QEL_STATUS_OK) break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = fuzz_memory_file(data, size, "page");
  read_file("/proc/self/fd/" + std::to_string(fd));
  close(fd);
  clearStatus(engine());

  KVImgDecoded decoded{};
  if (size > 0 && KVImgDecode(PAGE_FUZZ_READER, data, static_cast<int64_t>(size), &decoded) == 1) {
    if (!decoded.image.header || !decoded.image.pixels) __builtin_trap();
    KVImgDecodedFree(&decoded);
  } else if (decoded.image.pixels || decoded.mask.pixels) {
    __builtin_trap();
  }
  return 0;
}
