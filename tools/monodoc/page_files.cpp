// Reading whole page files, and reading and writing bytes.

#include "page_files.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "page_stream.h"

namespace monodoc {
namespace {

bool fail(std::string* error, const std::string& what) {
  *error = what;
  return false;
}

}  // namespace

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

bool read_file_bytes(const std::string& path, std::string* bytes, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail(error, "cannot open " + path + ": " + std::strerror(errno));
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) return fail(error, "cannot read " + path);
  return true;
}

bool write_file_bytes(const std::string& path, const void* data, size_t size, std::string* error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (out) out.close();
  if (!out) return fail(error, "cannot write " + path + ": " + std::strerror(errno));
  return true;
}

}  // namespace monodoc
