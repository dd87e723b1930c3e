// Reading whole page files.

#include "page_files.h"

#include "page_stream.h"

namespace monodoc {

bool read_all_pages(const std::vector<std::string>& files, std::vector<Bilevel>* pages, std::string* error) {
  PageStream stream(files);
  std::vector<Bilevel> found;
  Bilevel page;
  while (stream.next(&page, error)) found.push_back(std::move(page));
  if (!error->empty()) return false;
  for (auto& p : found) pages->push_back(std::move(p));
  return true;
}

bool read_pages(const std::string& path, std::vector<Bilevel>* pages, std::string* error) {
  return read_all_pages({path}, pages, error);
}

}  // namespace monodoc
