// The files the runner reads whole (it writes through output.h).

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

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

}  // namespace monodoc
