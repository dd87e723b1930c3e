// The files the runner reads and writes whole.

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "output.h"
#include "page_files.h"

namespace monodoc {

bool read_file_bytes(const std::string& path, std::string* bytes, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    *error = "cannot read " + path;
    return false;
  }
  return true;
}

bool write_file_bytes(const std::string& path, const void* data, size_t size, std::string* error) {
  OutputFile out;
  return out.open(path, error) && out.write(data, size, error) && out.commit(error);
}

}  // namespace monodoc
