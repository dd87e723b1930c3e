// monodoc info on XPS packages.

#include "xps_info.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

#include "commands.h"
#include "kvext.h"
#include "kvng_dir.h"
#include "xps_image.h"
#include "xps_package.h"

namespace monodoc {

namespace {

const char* kind_name(int32_t kind) {
  switch (kind) {
    case 1: return "image";
    case 2: return "mask";
    case 3: return "colour mask";
    case 4: return "colour rectangle";
    case 6: return "thumbnail";
    case 7: return "bilevel image";
    case 31: return "text";
    default: return "layer";
  }
}

void print_layer(int index, const QELLayer* l) {
  std::printf("      layer %d: %s at %d,%d size %u x %u", index, kind_name(l->kind), l->x, l->y, l->width, l->height);
  if (l->kind == 4 || l->kind == 3) {
    if (l->colour[4] == 111) {
      std::printf(", colour #%02X%02X%02X", l->colour[0] & 0xff, l->colour[1] & 0xff, l->colour[2] & 0xff);
    } else {
      std::printf(", no colour");
    }
  }
  if (l->header) {
    std::printf(", %u x %u pixels of %d x %d bits, %u x %u ppi", l->header->width, l->header->height,
                l->header->channels, l->header->bitsPerChannel ? l->header->bitsPerChannel[0] : 0, l->xres, l->yres);
  }
  if (l->kind == 31 && l->data) {
    int runs = 0;
    const std::string xml(static_cast<const char*>(l->data), l->dataLength);
    for (size_t at = xml.find("<Glyphs"); at != std::string::npos; at = xml.find("<Glyphs", at + 1)) ++runs;
    std::printf(", %d glyph run%s", runs, runs == 1 ? "" : "s");
  }
  if (l->transform) {
    std::printf(", transform %g,%g,%g,%g,%g,%g", l->transform[0], l->transform[1], l->transform[2], l->transform[3],
                l->transform[4], l->transform[5]);
  }
  std::printf("\n");
}

}  // namespace

bool is_xps_package(const std::string& file) {
  KVngFileFormats* table = nullptr;
  if (KVngReadFileFormats(&table) != 1) return false;
  KVngFileFormatInfo* info = KVngGetFileFormatInfo(file.c_str(), table);
  const bool xps = info && (std::strcmp(info->format->name, "XPS") == 0 || std::strcmp(info->format->name, "OXPS") == 0);
  const bool identified = info && std::strcmp(info->format->name, "ZIP") != 0;
  if (info) info->release(info);
  table->release(table);
  if (identified) return xps;
  // A damaged package is identified as nothing or as a bare zip archive; named as a package, it
  // goes to the XPS reader, which tells what is wrong.
  const size_t dot = file.rfind('.');
  const std::string extension = dot == std::string::npos ? "" : file.substr(dot + 1);
  return KVngIdentifyFile(file.c_str()) == KVNG_PATH_FILE &&
         (strcasecmp(extension.c_str(), "xps") == 0 || strcasecmp(extension.c_str(), "oxps") == 0);
}

bool describe_xps_package(const std::string& file, bool summary, std::string* error) {
  XPSPackage* package = nullptr;
  const int status = XPSPackageOpenDefault(file.c_str(), &package);
  if (status != 1) {
    *error = "cannot be opened as an XPS package";
    return false;
  }
  const int32_t documents = XPSPackageGetDocumentCount(package);
  int signatures = 0;
  for (xmlDocPtr* s = package->signatures; s && *s; ++s) ++signatures;
  const std::string signed_by =
      signatures ? ", " + std::to_string(signatures) + " signature" + (signatures == 1 ? "" : "s") : "";
  std::printf("%s: XPS package, %d document%s%s%s%s\n", file.c_str(), documents, documents == 1 ? "" : "s",
              package->thumbnailPartName ? ", thumbnail " : "",
              package->thumbnailPartName ? package->thumbnailPartName : "", signed_by.c_str());
  // A page that cannot be rendered is reported by number and the later pages are still read.
  int failed = 0, total = 0;
  for (int32_t d = 1; d <= documents; ++d) {
    XPSFixedDoc* document = XPSPackageGetDocument(package, d);
    const int32_t pages = XPSFixedDocGetPageCount(document);
    std::printf("  document %d (%s): %d page%s\n", d, document->partName, pages, pages == 1 ? "" : "s");
    // One page at a time: each image is released before the next page is rendered.
    for (int32_t p = 1; !summary && p <= pages; ++p) {
      ++total;
      XPSFixedPage* page = nullptr;
      QELImage* image = nullptr;
      int rendered = XPSFixedDocLoadPage(document, p, &page);
      if (rendered == 1) rendered = XPSFixedPageRender(page, &image);
      if (rendered != 1) {
        std::fflush(stdout);
        complain("info", file + ": page " + std::to_string(p) + " of document " + std::to_string(d) +
                             (page ? std::string(" (") + page->partName + ")" : std::string()) +
                             " cannot be " + (page ? "rendered" : "read") + " (status " + std::to_string(rendered) +
                             ")");
        ++failed;
      } else {
        std::printf("    page %d (%s): %g x %g units, image %u x %u at %g x %g ppi, %d layer%s\n", p, page->partName,
                    page->width, page->height, image->width, image->height, image->xres, image->yres,
                    image->layerCount, image->layerCount == 1 ? "" : "s");
        int index = 1;
        for (const QELLayer* l = image->layers; l; l = l->next) print_layer(index++, l);
        std::fflush(stdout);
      }
      XPSFreeImage(image);
      XPSElementRelease(page);
    }
    XPSElementRelease(document);
  }
  XPSPackageClose(package);
  if (failed == 0) return true;
  *error = std::to_string(failed) + " of " + std::to_string(total) + " page" + (total == 1 ? "" : "s") +
           " cannot be rendered";
  return false;
}

}  // namespace monodoc
