#ifndef XPS_FIXTURE_H
#define XPS_FIXTURE_H

// Hand-built XPS packages for the reader's tests: parts written into a zip with libzip, in
// either namespace, optionally interleaved into pieces, with images made by libpng, libjpeg and
// libtiff.

#include <cstdint>
#include <string>
#include <vector>

namespace xpstest {

enum class Namespace { Xps2005, OpenXps };

struct Part {
  std::string name;   // zip entry name, without leading '/'
  std::string bytes;
};

// Writes the entries in order (deflated unless stored is set).
void write_zip(const std::string& path, const std::vector<Part>& parts, bool stored = false);

// Splits a part into pieces named "<name>/[i].piece" ... "[n-1].last.piece".
std::vector<Part> interleave(const Part& part, int pieces);

// The relationship type of kind ("fixedrepresentation", "printticket" ...) in the namespace.
std::string xps_rel(Namespace ns, const std::string& kind);
std::string opc_rel(const std::string& kind);  // "metadata/thumbnail", "metadata/core-properties" ...
std::string page_ns(Namespace ns);
std::string relationships(const std::vector<std::pair<std::string, std::string>>& type_target);

// One document of pages with standard names: FixedDocumentSequence.fdseq,
// Documents/1/FixedDocument.fdoc, Documents/1/Pages/<n>.fpage, extra parts as given.
struct PackageSpec {
  Namespace ns = Namespace::Xps2005;
  std::vector<std::string> page_bodies;     // inner XML of each FixedPage
  double width = 816, height = 1056;
  std::vector<Part> extra;                  // images, page rels ...
  int interleave_pages = 0;                 // pieces per page part (0: whole)
  std::string package_thumbnail;            // part name of a package thumbnail, or empty
};
std::vector<Part> package_parts(const PackageSpec& spec);
std::string fixed_page(Namespace ns, double width, double height, const std::string& body);

// Images: width x height of colour (r, g, b), alpha a where alpha is wanted.
std::string png_rgb(int width, int height, uint8_t r, uint8_t g, uint8_t b, int alpha = -1, double dpi = 0);
std::string png_bilevel(int width, int height);  // left half black
std::string jpeg_rgb(int width, int height, uint8_t r, uint8_t g, uint8_t b, int dpi = 0);
std::string tiff_rgb(int width, int height, uint8_t r, uint8_t g, uint8_t b, int alpha = -1);
std::string tiff_bilevel(int width, int height, double dpcm = 0);  // G4, top half black

}  // namespace xpstest

#endif
