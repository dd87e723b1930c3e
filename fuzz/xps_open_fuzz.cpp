// XPS package opening over arbitrary bytes: the zip directory, relationship and document parts,
// pieces and names taken from the package, then every page rendered, images decoded. Nothing may
// crash, leak or overrun; what cannot be read is refused with a status.
//
// Mutating a zip rarely gets past its checksums to the parts, so an input may also be a list of
// parts ("XPSPARTS\n", then per part "@@name\n" and its bytes), which is zipped here first.

#include <sys/mman.h>
#include <unistd.h>

#include <zip.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kvng_print.h"
#include "xps_image.h"
#include "xps_package.h"

namespace {

void quiet(void*, int, const char*) {}

// Enough pages to reach every kind of element, few enough to keep an input fast.
constexpr int32_t kMaxPages = 8;

constexpr char kPartsMagic[] = "XPSPARTS\n";

// Zips the parts of a part list into bytes; empty when libzip refuses a name.
std::string zip_parts(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::pair<std::string, std::string>> parts;
  for (size_t at = text.find("@@"); at != std::string::npos;) {
    const size_t name_end = text.find('\n', at);
    if (name_end == std::string::npos) break;
    const size_t next = text.find("\n@@", name_end);
    const size_t end = next == std::string::npos ? text.size() : next;
    parts.emplace_back(text.substr(at + 2, name_end - at - 2), text.substr(name_end + 1, end - name_end - 1));
    at = next == std::string::npos ? next : next + 1;
  }
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
  zip_t* zip = buffer ? zip_open_from_source(buffer, ZIP_TRUNCATE, &error) : nullptr;
  zip_error_fini(&error);
  if (!zip) {
    zip_source_free(buffer);
    return {};
  }
  zip_source_keep(buffer);
  for (const auto& [name, bytes] : parts) {
    zip_source_t* source = zip_source_buffer(zip, bytes.data(), bytes.size(), 0);
    if (!source || zip_file_add(zip, name.c_str(), source, ZIP_FL_OVERWRITE) < 0) zip_source_free(source);
  }
  std::string out;
  if (zip_close(zip) != 0) {
    zip_discard(zip);
  } else if (zip_source_open(buffer) == 0) {
    char chunk[65536];
    for (zip_int64_t n; (n = zip_source_read(buffer, chunk, sizeof chunk)) > 0;) out.append(chunk, static_cast<size_t>(n));
    zip_source_close(buffer);
  }
  zip_source_free(buffer);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool silenced = [] {
    KVngSetPrinter(quiet, nullptr);
    return true;
  }();
  (void)silenced;
  std::string zipped;
  if (size >= sizeof kPartsMagic - 1 && std::memcmp(data, kPartsMagic, sizeof kPartsMagic - 1) == 0) {
    zipped = zip_parts(data, size);
    data = reinterpret_cast<const uint8_t*>(zipped.data());
    size = zipped.size();
  }
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
