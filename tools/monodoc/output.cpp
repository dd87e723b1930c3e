// The files a command writes (output.h).

#include "output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "messages.h"

namespace monodoc {

void install_signal_cleanup() { SafeOut_EndOnSignals("monodoc"); }

bool refuse_same_file(const std::string& output, const std::vector<std::string>& inputs, std::string* error) {
  for (const std::string& input : inputs) {
    if (SafeOut_SameFile(output.c_str(), input.c_str())) {
      *error = output == input ? output + " is both an input and the output: not written"
                               : "the output " + output + " is the input " + input + ": not written";
      return false;
    }
  }
  return true;
}

OutputFile::OutputFile() {
  std::memset(&out_, 0, sizeof out_);
  out_.fd = -1;
}

OutputFile::~OutputFile() { abort(); }

bool OutputFile::open(const std::string& path, std::string* error) {
  path_ = path;
  if (SafeOut_Open(&out_, path.c_str()) != 0) {
    *error = out_.message;
    return false;
  }
  temp_base_ = out_.temp;
  temp_base_.erase(0, temp_base_.rfind('/') + 1);
  return true;
}

std::string OutputFile::plain(std::string text) const {
  if (temp_base_.empty()) return text;
  const auto is_hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
  for (size_t at = text.find(temp_base_); at != std::string::npos; at = text.find(temp_base_, at)) {
    size_t from = at;
    while (from > 0 && text[from - 1] != ' ' && text[from - 1] != '\n' && text[from - 1] != '"') --from;
    size_t to = at + temp_base_.size();
    // Temporary names made from this one add ".<12 hex digits>.tmp" each.
    while (to + 17 <= text.size() && text[to] == '.' && text.compare(to + 13, 4, ".tmp") == 0 &&
           std::all_of(text.begin() + static_cast<long>(to) + 1, text.begin() + static_cast<long>(to) + 13, is_hex)) {
      to += 17;
    }
    text.replace(from, to - from, path_);
    at = from + path_.size();
  }
  return text;
}

FILE* OutputFile::stream() {
  if (!stream_ && out_.fd >= 0) {
    const int fd = dup(out_.fd);
    stream_ = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (!stream_ && fd >= 0) close(fd);
  }
  return stream_;
}

bool OutputFile::write(const void* data, size_t size, std::string* error) {
  if (SafeOut_Write(&out_, data, size) != 0) {
    *error = out_.message;
    return false;
  }
  return true;
}

bool OutputFile::commit(std::string* error) {
  if (stream_) {
    // A write that failed earlier fails again here with the system's reason: the bytes it could
    // not place are still in the buffer.
    int e = std::fflush(stream_) != 0 ? errno : std::ferror(stream_) ? EIO : 0;
    if (std::fclose(stream_) != 0 && e == 0) e = errno;
    stream_ = nullptr;
    if (e != 0) {
      *error = "cannot write " + path_ + ": " + std::strerror(e);
      SafeOut_Abort(&out_);
      return false;
    }
  }
  if (SafeOut_Commit(&out_) != 0) {
    *error = out_.message;
    return false;
  }
  return true;
}

void OutputFile::abort() {
  if (stream_) std::fclose(stream_);
  stream_ = nullptr;
  SafeOut_Abort(&out_);
}

OutputFile* OutputSet::open(const std::string& path, std::string* error) {
  if (!refuse_same_file(path, inputs_, error)) return nullptr;
  files_.push_back(std::make_unique<OutputFile>());
  if (!files_.back()->open(path, error)) {
    files_.pop_back();
    return nullptr;
  }
  return files_.back().get();
}

bool OutputSet::commit(std::string* error) {
  for (auto& f : files_) {
    if (!f->commit(error)) return false;
  }
  files_.clear();
  return true;
}

void print_output_message(void* output, int kind, const char* text) {
  const auto* file = static_cast<const OutputFile*>(output);
  print_engine_message(nullptr, kind, file && text ? file->plain(text).c_str() : text);
}

}  // namespace monodoc
