#ifndef MONODOC_DOCUMENT_JOB_H
#define MONODOC_DOCUMENT_JOB_H

// Page files read one page at a time into page images, for the commands that write documents:
// PBM pages as raw 1-bit layers, TIFF directories through the engine's readtif (decoded), any
// other raster format through the engine's reader.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "bilevel.h"

#include "qelinterp.h"
#include "image_io.h"

namespace monodoc {

// Takes one page image (still the caller's) and where it came from ("file" or "file #n");
// false with the reason ends the stream.
using PageSink = std::function<bool(elf_object* image, const std::string& where, std::string* error)>;

// Hands every page of file to sink in order, each released before the next is read. False with
// the reason at the first page that cannot be read or that the sink refuses. With jpeg_as_is, a
// JPEG file that every reader takes as it is (see jpeg_kept_as_is) becomes a page whose image
// layer holds the file's own bytes, once the file has been read through without damage.
bool stream_pages(elf_state* state, const std::string& file, const PageSink& sink, std::string* error,
                  bool jpeg_as_is = false);

// Whether the bytes of a JPEG file can stand for its page as they are: Huffman coding (baseline,
// extended or progressive) of 8-bit grey, or of colour that readers turn from YCbCr. Arithmetic
// coding is not read everywhere, and colour that the file marks as RGB would be transformed by
// readers that assume YCbCr.
bool jpeg_kept_as_is(const std::string& bytes);

// Hands bilevel pages read from file to sink as page images, each page's bits let go once handed.
bool stream_bilevel(elf_state* state, std::vector<Bilevel>* pages, const std::string& file, const PageSink& sink,
                    std::string* error);

// Every page libpagefiler's document reader (make_reader: MakeDocReader) reads from file, handed
// to sink one at a time with its number and the page count, then the reader is released. False
// with the reason (without the file's name).
// When given, opened sees the reader and its page count before any page is read (to describe the
// document from the same opening); it may clear *read_pages to read none, or refuse with a reason.
using NumberedPageSink = std::function<bool(elf_object* image, int32_t n, int32_t count, std::string* error)>;
using ReaderOpened = std::function<bool(elf_object* reader, int32_t count, bool* read_pages, std::string* error)>;
bool stream_reader_pages(elf_state* state, elf_method_proc make_reader, const std::string& file,
                         const std::string& password, const NumberedPageSink& sink, std::string* error,
                         const ReaderOpened& opened = nullptr);

// Pages of the files a command reads its own way (monodoc pdf's PDF files): sets *taken when file
// is one of them and hands its pages to sink; false with the reason. Other files go to
// stream_pages.
using PageSource =
    std::function<bool(const std::string& file, const PageSink& sink, bool* taken, std::string* error)>;

// "bilevel", "grey" or "colour" after the first layer of a page image (", JPEG as is" for a JPEG
// layer kept in its bytes), "no layer" without one.
const char* describe_page(elf_object* image);

// Adds a text layer over the whole page holding the text-layer XML of file (the form "monodoc
// help text" tells); false with the reason.
bool attach_text(elf_state* state, elf_object* image, const std::string& file, std::string* error);

// Sets one writer attribute through its own member, as the interpreter's scripts would.
template <typename T>
bool set_writer_attr(elf_state* state, elf_object* writer, const char* name, const char* type, T value, std::string* error) {
  const std::string spec = std::string("obj:") + type;
  const Held args(lstBuildArgs(state, "name:s", name, 0, spec.c_str(), value, 0, LST_END));
  if (!args.get()) {
    *error = "no memory";
    return false;
  }
  return call_member(state, writer, "setAttr", args.get(), error).get() != nullptr;
}

// Pages appended to a DOCUMENTWRITER through its "appendPage" member, as the interpreter's
// scripts append them, with a progress line per page on the standard output. The text layers
// of texts go with the pages in order, the first with the first page.
class AppendRun {
 public:
  AppendRun(elf_state* state, elf_object* writer, const std::vector<std::string>& texts, PageSource own = nullptr)
      : state_(state), writer_(writer), texts_(texts), own_(std::move(own)) {}

  // Appends every page of the file; false with the reason.
  bool append_file(const std::string& file, std::string* error);
  // JPEG page files go to the writer in their own bytes (stream_pages).
  void keep_jpeg(bool keep) { keep_jpeg_ = keep; }
  int32_t pages() const { return pages_; }

 private:
  bool append(elf_object* image, const std::string& where, std::string* error);

  elf_state* state_;
  elf_object* writer_;
  const std::vector<std::string>& texts_;
  PageSource own_;
  int32_t pages_ = 0;
  bool keep_jpeg_ = false;
};

// A document written from page files with libpagefiler's document writer, as "monodoc pdf" and
// "monodoc xps" do it.
struct DocumentJob {
  const char* command;                  // the command's name, for messages
  std::string output;                   // the name the user gave, for messages
  std::string target;                   // the file written (made in a temporary file beside it)
  std::vector<std::string> files;       // the page files, in order
  std::string note;                     // added to the closing line (", signed")
  // MakeDocWriter's arguments beside "filename:s" (the list to append to is given).
  std::function<bool(elf_object* args)> writer_args;
  // Sets the writer's attributes; false with the reason.
  std::function<bool(elf_state*, elf_object* writer, std::string* error)> attributes;
  std::vector<std::string> texts;       // text-layer XML files, one per page from the first
  PageSource own_pages;                 // files the command reads itself, or null
  bool jpeg_as_is = true;               // JPEG page files written in their own bytes
};

// Makes the writer, appends every page with a progress line each, releases the writer (which
// writes the file) and prints the file's page count and size. A failure ends the run and leaves
// no file. The command's exit status.
int write_document(elf_state* state, const DocumentJob& job);

}  // namespace monodoc

#endif
