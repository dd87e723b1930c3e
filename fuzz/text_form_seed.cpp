// Writes the seed corpus of the text-form target into the folder given: lists of every value
// kind, nested lists, peers, quoted strings and POINTER data, as the writers write them.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "qelinterp.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  elf_state* state = initState(nullptr, "seed");
  elf_object* inner = lstBuildArgs(state, "n:i", -7, 0, "d:d", 0.1, 0, "b:b", 1, 0, LST_END);
  ELF_ASSIGN(state, &inner->peer, elfNewString(state, "peer"));
  void* bytes = elfMalloc(40);
  for (int i = 0; i < 40; ++i) static_cast<unsigned char*>(bytes)[i] = static_cast<unsigned char>(i * 11);
  elf_object* pointer = elfNewPointer(state, bytes, 40);
  reinterpret_cast<elf_POINTER*>(pointer)->description = elfStrDup("restart;2");
  elf_object* lists[] = {
      lstBuildArgs(state, "s:s", "plain", 0, "q:s", "\"quoted\"\nline", 0, "e:s", "", 0, LST_END),
      lstBuildArgs(state, "inner:LIST", inner, 0, "data:POINTER", pointer, 0, LST_END),
      new_LIST(state, nullptr, nullptr),
  };
  int status = 0;
  for (size_t i = 0; i < sizeof lists / sizeof lists[0]; ++i) {
    const std::string path = std::string(argv[1]) + "/seed" + std::to_string(i) + ".txt";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write_LIST(lists[i], fd, i == 1 ? "  " : "") != 0 || close(fd) != 0) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      status = 1;
    }
    elfDiscard(lists[i]);
  }
  freeState(state);
  return status;
}
