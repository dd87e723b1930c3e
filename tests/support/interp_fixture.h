#ifndef INTERP_FIXTURE_H
#define INTERP_FIXTURE_H

// An interpreter state over a counting heap: every test ends with nothing left on the heap and
// nothing freed that the heap did not hand out; messages of the state are kept.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "counting_alloc.h"
#include "qelinterp.h"

namespace monotest {

class InterpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const elf_heap_procs procs{CountingAllocator::c_malloc, CountingAllocator::c_calloc, CountingAllocator::c_free,
                               &heap};
    elfSetHeap(&procs);
    state = initState(nullptr, "tests");
    ASSERT_NE(state, nullptr);
    state->print = keep_message;
    state->printData = &messages;
  }

  void TearDown() override {
    freeState(state);
    elfSetHeap(nullptr);
    EXPECT_EQ(heap.live_blocks(), 0u) << "blocks left on the interpreter heap";
    EXPECT_EQ(heap.foreign(), 0u) << "blocks freed that the heap never handed out";
  }

  static void keep_message(void* data, const char* text) { *static_cast<std::string*>(data) += text; }

  CountingAllocator heap;
  elf_state* state = nullptr;
  std::string messages;
};

// A temporary file to write object text forms into and read them back from.
class TextFile {
 public:
  TextFile() : file_(std::tmpfile()) {}
  ~TextFile() {
    if (file_) std::fclose(file_);
  }
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  int fd() const { return fileno(file_); }
  void rewind() const { lseek(fd(), 0, SEEK_SET); }
  // Replaces the contents and rewinds.
  void set(const std::string& text) const {
    if (ftruncate(fd(), 0) != 0 || pwrite(fd(), text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
      ADD_FAILURE() << "cannot write the text file";
    }
    rewind();
  }
  // The whole contents; the position is left where it was.
  std::string text() const {
    std::string out;
    char buf[4096];
    for (off_t at = 0;;) {
      const ssize_t n = pread(fd(), buf, sizeof buf, at);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
      at += n;
    }
    return out;
  }

 private:
  FILE* file_;
};

}  // namespace monotest

#endif
