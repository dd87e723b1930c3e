// XPS package opening over arbitrary bytes: the zip directory, relationship and document parts,
// pieces and names taken from the package, then every page rendered, images decoded. Nothing may
// crash, leak or overrun; what cannot be read is refused with a status.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "kvng_print.h"
#include "xps_image.h"
#include "xps_package.h"

namespace {

void quiet(void*, int, const char*) {}

// Enough pages to reach every kind of element, few enough to keep an input fast.
constexpr int32_t kMaxPages = 8;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool silenced = [] {
    KVngSetPrinter(quiet, nullptr);
    return true;
  }();
  (void)silenced;
  const int fd = memfd_create("xps", 0);
  if (fd < 0) __builtin_trap();
  for (size_t at = 0; at < size;) {
    const ssize_t n = write(fd, data + at, size - at);
    if (n <= 0) __builtin_trap();
    at += static_cast<size_t>(n);
  }
  const std::string name = "/proc/self/fd/" + std::to_string(fd);
  XPSPackage* package = nullptr;
  if (XPSPackageOpenDefault(name.c_str(), &package) == 1) {
    QELImage* thumbnail = nullptr;
    XPSPackageGetThumbnail(package, &thumbnail);
    int32_t rendered = 0;
    for (int32_t d = 1; d <= XPSPackageGetDocumentCount(package) && rendered < kMaxPages; ++d) {
      XPSFixedDoc* document = XPSPackageGetDocument(package, d);
      for (int32_t p = 1; p <= XPSFixedDocGetPageCount(document) && rendered < kMaxPages; ++p, ++rendered) {
        XPSFixedPage* page = XPSFixedDocGetPage(document, p);
        QELImage* image = nullptr;
        if (XPSFixedPageRender(page, &image) == 1 && !image) __builtin_trap();
        XPSFreeImage(image);
        XPSElementRelease(page);
      }
      XPSElementRelease(document);
    }
    XPSPackageClose(package);
  } else if (package) {
    __builtin_trap();  // a failed open hands nothing out
  }
  close(fd);
  return 0;
}
