#ifndef MONODOC_PAGE_STREAM_H
#define MONODOC_PAGE_STREAM_H

// Pages of page files read one at a time, so that a command holds one page however many the
// files hold: each image of a PBM file, each directory of a TIFF file, the one image of a PNG,
// JPEG, GIF, BMP or PNM file (grey and colour pixels darker than half are black).
//
//   PageStream pages(files);
//   size_t total;                        // only where the count is needed before the first page
//   if (!pages.count(&total, &error)) ...
//   Bilevel page;
//   while (pages.next(&page, &error)) { code page; }   // page is overwritten by each call
//   if (!error.empty()) ...              // the file and the reason

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "bilevel.h"

namespace monodoc {

class PageStream {
 public:
  explicit PageStream(std::vector<std::string> files);
  ~PageStream();
  PageStream(const PageStream&) = delete;
  PageStream& operator=(const PageStream&) = delete;

  // The next page into *page; false at the end of the last file (error cleared) or with the
  // reason, led by the file's name. After a failure the stream stays at its end.
  bool next(Bilevel* page, std::string* error);
  // How many pages the files hold, found without decoding a raster (PBM images are skipped,
  // a TIFF file says how many directories it has); the stream's position is not changed.
  bool count(size_t* pages, std::string* error) const;
  // The file the last page came from.
  const std::string& file() const;
  // Pages handed out so far.
  size_t pages_read() const { return read_; }

 private:
  struct Source;
  std::vector<std::string> files_;
  size_t at_ = 0;  // files_[at_] is open in source_, or next to open
  size_t read_ = 0;
  std::unique_ptr<Source> source_;
};

}  // namespace monodoc

#endif
