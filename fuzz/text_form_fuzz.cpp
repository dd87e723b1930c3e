// The interpreter's text-form reader over arbitrary bytes: tokens stay within their buffer, every
// frame is read or skipped to its end, and what is read writes out and reads back equal.

#include <unistd.h>

#include <cstdint>
#include <vector>

#include "fuzz_memfile.h"
#include "qelinterp.h"

namespace {

void quiet(void*, const char*) {}

// Reads whatever is left, so that no token waits on the descriptor for its next user.
void drain(int fd) {
  std::vector<char> buffer(ELF_TOKEN_MAX);
  while (readusercm_fd(fd, buffer.data()) != ELF_TOKEN_END) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static elf_state* state = [] {
    elf_state* s = initState(nullptr, "fuzz");
    s->print = quiet;
    return s;
  }();
  const int fd = fuzz_memory_file(data, size, "text");
  elf_object* list = read_LIST(state, fd);
  drain(fd);
  close(fd);
  if (!list) return 0;
  const int out = memfd_create("again", 0);
  if (write_LIST(list, out, "") != 0) __builtin_trap();
  lseek(out, 0, SEEK_SET);
  elf_object* again = read_LIST(state, out);
  drain(out);
  close(out);
  if (!again || list->ops.equal(list, again) != 1) __builtin_trap();
  elfDiscard(list);
  elfDiscard(again);
  return 0;
}
