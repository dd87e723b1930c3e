// The wrapper state's environment file parser over arbitrary bytes.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "ipw_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An in-memory file keeps the parser on its real open/read path without touching the disk.
  const int fd = memfd_create("env", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (write(fd, data, size) != static_cast<ssize_t>(size)) {
    close(fd);
    return 0;
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  IPWState* s = nullptr;
  if (w_IPWStateInit(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr, nullptr, path.c_str(), &s) == VLT_OK) {
    for (auto* n = static_cast<const IPWEnvNode*>(s->envList); n != nullptr; n = n->next)
      if (n->name != nullptr) w_getenv(s, n->name);
    w_IPWStateTerm(&s);
  }
  close(fd);
  return 0;
}
