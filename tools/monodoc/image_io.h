#ifndef MONODOC_IMAGE_IO_H
#define MONODOC_IMAGE_IO_H

// Between page files and the interpreter's image objects.

#include <string>
#include <vector>

#include "bilevel.h"
#include "output.h"
#include "qelinterp.h"

namespace monodoc {

// One reference held on an interpreter object, let go when this goes.
class Held {
 public:
  Held() = default;
  explicit Held(elf_object* obj) : obj_(obj) { elfRefUp(obj_); }
  ~Held() { elfRefDown(obj_); }
  Held(Held&& other) noexcept : obj_(other.obj_) { other.obj_ = nullptr; }
  Held& operator=(Held&& other) noexcept {
    std::swap(obj_, other.obj_);
    return *this;
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  elf_object* get() const { return obj_; }

 private:
  elf_object* obj_ = nullptr;
};

// The reason the interpreter gives for a failed call, on one line.
std::string status_text(elf_state* state, int status);

// Calls a member of obj with args (may be null) as the interpreter does; the result list (an
// empty one when the member gives none), or none with *error set to the member and the reason.
Held call_member(elf_state* state, elf_object* obj, const char* name, elf_object* args, std::string* error);

// A QELIMAGE holding one raw 1-bit layer per page, named "layer<n>", sized and resolved like the
// first page; null with the reason when memory runs out.
elf_object* image_from_pages(elf_state* state, const std::vector<const Bilevel*>& pages, std::string* error);
// Appends the page to the image as raw 1-bit layer "layer<index>" (a copy); the first page
// (index 0) also gives the image its size and resolution. False with the reason.
bool add_page_layer(elf_state* state, elf_object* image, const Bilevel& page, size_t index, std::string* error);

// An argument list from command-line arguments "name=value" or "name:t=value" (t one of i, d, b,
// s). Without t the value decides: a whole number is an integer, another number a double, true
// or false a boolean, anything else text. Null with the reason for a malformed argument.
elf_object* arguments_from_text(elf_state* state, const std::vector<std::string>& args, std::string* error);

// Writes the layers of an image: raw 1-bit layers as PBM (prefix-<image>-<layer>.pbm), JBIG2
// page layers as they are (prefix-<image>-<layer>.jb2), the dictionary layer as
// prefix-<image>-dict.jb2; JBIG2 files are embedded streams without file header. Layers of other
// kinds are named in *skipped. False with the reason when a layer is inconsistent or a file
// cannot be written.
// The files are opened in files and appear when the caller commits it.
bool write_image_layers(elf_object* image, const std::string& prefix, int image_number, OutputSet* files,
                        std::vector<std::string>* written, std::vector<std::string>* skipped, std::string* error);

// "name = value" lines for the entries of a result list; a LIST value as "{name = value, ...}".
std::vector<std::string> describe_list(elf_object* list);

}  // namespace monodoc

#endif
