// Writes the seed corpus of the zip reader target into the folder given: archives walked as they
// lie, with data descriptors, empty, and with a comment.

#include <cstdio>
#include <string>

#include "zip_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  using ziptest::Entry;
  const std::string seeds[] = {
      ziptest::build({{"a.txt", "alpha alpha alpha\n", 8}, {"dir/", "", 0}, {"dir/b", "b", 0}}),
      ziptest::build({{"streamed.txt", std::string(300, 's'), 8, true}, {"c", "c", 0, true}}, "comment"),
      ziptest::build({}),
      ziptest::build({{"x", "x", 0}}, "the end"),
  };
  int status = 0;
  for (size_t i = 0; i < sizeof seeds / sizeof seeds[0]; ++i) {
    const std::string path = std::string(argv[1]) + "/seed-" + std::to_string(i) + ".zip";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(seeds[i].data(), 1, seeds[i].size(), f) != seeds[i].size()) status = 1;
    if (f && std::fclose(f) != 0) status = 1;
  }
  return status;
}
