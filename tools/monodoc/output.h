#ifndef MONODOC_OUTPUT_H
#define MONODOC_OUTPUT_H

// The files a command writes: each written whole to a temporary file beside it and moved over it
// only when the command has succeeded (safe_output.h), an output that is one of the run's inputs
// refused before anything is read, and the temporary files of a run cleared when a signal ends
// it.

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "safe_output.h"

namespace monodoc {

// Clears every pending temporary file when SIGINT, SIGTERM or SIGHUP ends the run, which then
// exits with 128 and the signal's number. Installed once, before a command runs.
void install_signal_cleanup();

// False with a message naming both when output is one of inputs (the same file, links followed).
bool refuse_same_file(const std::string& output, const std::vector<std::string>& inputs, std::string* error);

// One output file. Nothing exists under its name until commit; destroying it uncommitted leaves
// the name as it was.
class OutputFile {
 public:
  OutputFile();
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool open(const std::string& path, std::string* error);
  // A buffered stream over the temporary file; its errors count at commit.
  FILE* stream();
  bool write(const void* data, size_t size, std::string* error);
  // The temporary file's name, for a library that writes the file by name.
  const char* temp_path() const { return out_.temp; }
  // The temporary file's descriptor, for a writer that takes one (it must not close it).
  int descriptor() const { return out_.fd; }
  const std::string& path() const { return path_; }
  // text with every name of the temporary file (and of temporary files made from it by the
  // libraries that write it) given as the output's own name, for messages.
  std::string plain(std::string text) const;
  // Flushes and closes the stream (checked), syncs and moves the file into place; false with
  // the file's name and the system's reason.
  bool commit(std::string* error);
  void abort();

 private:
  SafeOut out_;
  FILE* stream_ = nullptr;
  std::string path_;
  std::string temp_base_;  // the temporary file's name without its folder
};

// The outputs of a command that writes several files: all of them appear at the end, or none.
class OutputSet {
 public:
  // inputs: the files the run reads, which no output may be.
  explicit OutputSet(std::vector<std::string> inputs = {}) : inputs_(std::move(inputs)) {}
  // The file opened for path; null with the reason.
  OutputFile* open(const std::string& path, std::string* error);
  bool commit(std::string* error);

 private:
  std::vector<std::string> inputs_;
  std::vector<std::unique_ptr<OutputFile>> files_;
};

// The engine's messages as the commands print them, the temporary file of the OutputFile given
// as data (or none, for null) named as the file it becomes.
void print_output_message(void* output, int kind, const char* text);

}  // namespace monodoc

#endif
