#ifndef MONODOC_XPS_INFO_H
#define MONODOC_XPS_INFO_H

// monodoc info on XPS packages: the documents, the pages and the layers each page renders to,
// read through libpagefiler's XPS package reader one page at a time.

#include <string>

namespace monodoc {

// Whether the engine identifies the file as an XPS or OpenXPS package.
bool is_xps_package(const std::string& file);
// Prints the package and its documents, then (unless summary) their pages; false with the
// reason when it cannot be opened or a page not rendered.
bool describe_xps_package(const std::string& file, bool summary, std::string* error);

}  // namespace monodoc

#endif
