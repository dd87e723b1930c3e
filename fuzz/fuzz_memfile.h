#ifndef FUZZ_MEMFILE_H
#define FUZZ_MEMFILE_H

// Fuzz input as a file, for readers that take a file name or descriptor: an anonymous memory
// file holding the bytes, read from its start; "/proc/self/fd/<fd>" names it.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

inline int fuzz_memory_file(const uint8_t* data, size_t size, const char* name) {
  const int fd = memfd_create(name, 0);
  if (fd < 0) __builtin_trap();
  for (size_t at = 0; at < size;) {
    const ssize_t n = write(fd, data + at, size - at);
    if (n <= 0) __builtin_trap();
    at += static_cast<size_t>(n);
  }
  lseek(fd, 0, SEEK_SET);
  return fd;
}

#endif
