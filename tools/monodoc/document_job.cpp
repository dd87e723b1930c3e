// Page files read one page at a time (document_job.h).

#include "document_job.h"
#include "messages.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "commands.h"
#include "image_io.h"
#include "kvng_hdr.h"
#include "kvng_print.h"
#include "output.h"
#include "page_files.h"
#include "session.h"

namespace monodoc {

namespace {

enum class Kind { pbm, tiff, jpeg, other };

Kind kind_of(const std::string& path, std::string* error) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return Kind::other;
  }
  unsigned char b[4] = {};
  const size_t n = std::fread(b, 1, 4, f);
  std::fclose(f);
  if (n >= 2 && b[0] == 'P' && (b[1] == '1' || b[1] == '4')) return Kind::pbm;
  if (n == 4 && ((b[0] == 'I' && b[1] == 'I' && (b[2] == 42 || b[2] == 43) && b[3] == 0) ||
                 (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && (b[3] == 42 || b[3] == 43)))) {
    return Kind::tiff;
  }
  if (n >= 2 && b[0] == 0xFF && b[1] == 0xD8) return Kind::jpeg;
  return Kind::other;
}

// A page file of any other raster format, through the engine's reader.
int read_image(elf_state* state, const std::string& file, elf_object** image, std::string* error) {
  // The engine's reader of every raster format, bound in the raster library as the interpreter
  // binds it.
  using ReadFn = int (*)(elf_state*, const char*, elf_object*, elf_object**);
  static ReadFn read = nullptr;
  char why[4200];
  void* place = nullptr;
  if (!read && elfBindSharedProc("kvraster", "QELReadFile2QELIMAGE", &place, why, sizeof why)) {
    read = reinterpret_cast<ReadFn>(place);
  }
  if (!read) {
    *error = why;
    return QEL_STATUS_FAILED;
  }
  clearStatus(state);
  const int read_status = read(state, file.c_str(), nullptr, image);
  if (read_status != QEL_STATUS_OK) *error = file + ": " + status_text(state, read_status);
  return read_status;
}

// The page image's one layer made to hold the JPEG file's bytes instead of its decoded pixels.
bool keep_jpeg_bytes(elf_state* state, elf_object* image, const std::string& bytes, std::string* error) {
  elf_QELLAYER* l = qelLayer(QELGetLayer(image, 0));
  elf_QELHDR* h = l ? qelHdr(l->description) : nullptr;
  if (!h || h->compression != QEL_COMPRESSION_NONE || !h->bitsPerSample || h->bitsPerSample[0] != 8) return true;
  void* copy = elfMalloc(bytes.size());
  elf_object* data = copy ? elfNewPointer(state, copy, bytes.size()) : nullptr;
  if (!data) {
    _elfFree(copy);
    *error = "no memory for the JPEG data";
    return false;
  }
  std::memcpy(copy, bytes.data(), bytes.size());
  ELF_ASSIGN(state, &l->data, data);
  h->compression = QEL_COMPRESSION_JPEG;
  return true;
}

bool stream_pbm(elf_state* state, const std::string& file, const PageSink& sink, std::string* error) {
  std::vector<Bilevel> found;
  return read_pages(file, &found, error) && stream_bilevel(state, &found, file, sink, error);
}

bool stream_tiff(elf_state* state, const std::string& file, const PageSink& sink, std::string* error) {
  clearStatus(state);
  const int32_t count = tiff_pages(state, file);
  if (count < 1) {
    *error = file + ": " + status_text(state, getStatus(state));
    return false;
  }
  for (int32_t n = 1; n <= count; ++n) {
    const Held args(lstBuildArgs(state, "filename:s", file.c_str(), 0, "dirnum:i", n, 0, LST_END));
    elf_object* result = nullptr;
    clearStatus(state);
    const int status = args.get() ? call_elf_procedure(state, "readtif", args.get(), &result) : QEL_STATUS_FAILED;
    const Held held(result);
    elf_object* image = nullptr;
    if (status != QEL_STATUS_OK || !lstScanArgs(result, "img:QELIMAGE", LST_OPTIONAL, &image, LST_END) || !image) {
      *error = file + " page " + std::to_string(n) + ": " + status_text(state, status);
      return false;
    }
    if (!sink(image, count > 1 ? file + " #" + std::to_string(n) : file, error)) return false;
  }
  return true;
}


// The page being appended, so that what the engine says about it names it; 0 between pages.
int32_t page_in_progress = 0;

// The engine's messages as every command gives them, the page being appended named.
void print_document_message(void* data, int kind, const char* text) {
  if (!text || page_in_progress == 0) {
    print_output_message(data, kind, text);
    return;
  }
  const std::string named = "page " + std::to_string(page_in_progress) + ": " + text;
  print_output_message(data, kind, named.c_str());
}

// The writer MakeDocWriter makes for the job, held by the result list in *made; null after a
// complaint.
elf_object* make_writer(elf_state* state, const DocumentJob& job, const OutputFile& file, Held* made) {
  void* place = nullptr;
  char why[4200];
  if (!elfBindSharedProc("pagefiler", "MakeDocWriter", &place, why, sizeof why)) {
    complain(job.command, why);
    return nullptr;
  }
  const auto make = reinterpret_cast<elf_method_proc>(place);
  const Held args(lstBuildArgs(state, "filename:s", file.temp_path(), 0, LST_END));
  elf_object* result = nullptr;
  clearStatus(state);
  const int status =
      args.get() && job.writer_args(args.get()) ? make(state, args.get(), &result) : QEL_STATUS_FAILED;
  *made = Held(result);
  elf_object* writer = nullptr;
  if (status != QEL_STATUS_OK || lstScanArgs(result, "docwt:DOCUMENTWRITER", LST_REQUIRED, &writer, LST_END) != 1) {
    complain(job.command, job.output + ": " + file.plain(status_text(state, status)));
    return nullptr;
  }
  return writer;
}

}  // namespace

const char* describe_page(elf_object* image) {
  const elf_QELLAYER* l = qelLayer(QELGetLayer(image, 0));
  const elf_QELHDR* h = l ? qelHdr(l->description) : nullptr;
  if (!h) return "no layer";
  const int32_t bits = h->samplesPerPixel * (h->bitsPerSample ? h->bitsPerSample[0] : 0);
  if (h->compression == QEL_COMPRESSION_JPEG) return h->samplesPerPixel == 1 ? "grey, JPEG as is" : "colour, JPEG as is";
  // A palette image has one sample a pixel in colours of more.
  return bits == 1 ? "bilevel" : h->samplesPerPixel == 1 && KVngGetImageParts(h->photometric) <= 1 ? "grey" : "colour";
}


bool stream_bilevel(elf_state* state, std::vector<Bilevel>* pages, const std::string& file, const PageSink& sink,
                    std::string* error) {
  std::vector<Bilevel>& found = *pages;
  for (size_t i = 0; i < found.size(); ++i) {
    const Held image(image_from_pages(state, {&found[i]}, error));
    if (!image.get()) return false;
    std::vector<uint8_t>().swap(found[i].bits);
    if (!sink(image.get(), found.size() > 1 ? file + " #" + std::to_string(i + 1) : file, error)) return false;
  }
  return true;
}

bool stream_reader_pages(elf_state* state, elf_method_proc make_reader, const std::string& file,
                         const std::string& password, const NumberedPageSink& sink, std::string* error,
                         const ReaderOpened& opened) {
  // A file that cannot be opened at all is told with the system's reason, not as a format the
  // reader does not know.
  if (FILE* f = std::fopen(file.c_str(), "rb")) {
    std::fclose(f);
  } else {
    *error = "cannot open " + file + ": " + std::strerror(errno);
    return false;
  }
  const Held args(password.empty()
                      ? lstBuildArgs(state, "filename:s", file.c_str(), 0, LST_END)
                      : lstBuildArgs(state, "filename:s", file.c_str(), 0, "password:s", password.c_str(), 0, LST_END));
  elf_object* made = nullptr;
  clearStatus(state);
  const int status = args.get() ? make_reader(state, args.get(), &made) : QEL_STATUS_FAILED;
  const Held made_list(made);
  elf_object* reader = nullptr;
  if (status != QEL_STATUS_OK || lstScanArgs(made, "docrd:DOCUMENTREADER", LST_REQUIRED, &reader, LST_END) != 1) {
    *error = status_text(state, status);
    return false;
  }
  const Held counted = call_member(state, reader, "getPageCount", nullptr, error);
  int32_t count = 0;
  bool ok = counted.get() && lstScanArgs(counted.get(), "num:i", LST_REQUIRED, &count, LST_END) == 1;
  bool read_pages = true;
  if (ok && opened) ok = opened(reader, count, &read_pages, error);
  for (int32_t n = 1; ok && read_pages && n <= count; ++n) {
    const Held number(lstBuildArgs(state, "pgnum:i", n, 0, LST_END));
    const Held page = call_member(state, reader, "getPage", number.get(), error);
    elf_object* image = nullptr;
    ok = page.get() && lstScanArgs(page.get(), "img:QELIMAGE", LST_REQUIRED, &image, LST_END) == 1;
    if (!ok && error->empty()) *error = "page " + std::to_string(n) + " gave no image";
    ok = ok && sink(image, n, count, error);
  }
  std::string ignored;
  call_member(state, reader, "release", nullptr, &ignored);
  return ok;
}

bool jpeg_kept_as_is(const std::string& bytes) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  if (n < 4 || b[0] != 0xFF || b[1] != 0xD8) return false;
  int frame = 0, precision = 0, adobe_transform = -1;
  std::string ids;
  // Marker segments up to the first scan (ITU T.81 B.1.1.2): FF, the marker, a two-byte length
  // that counts itself.
  for (size_t at = 2; at + 4 <= n && b[at] == 0xFF;) {
    const unsigned marker = b[at + 1];
    if (marker == 0xFF) {
      ++at;
      continue;
    }
    if (marker == 0xDA) break;
    const size_t length = size_t{b[at + 2]} << 8 | b[at + 3];
    if (length < 2 || length > n - at - 2) return false;
    const unsigned char* data = b + at + 4;
    const size_t size = length - 2;
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC && size >= 6) {
      frame = static_cast<int>(marker);
      precision = data[0];
      for (size_t c = 0; c < data[5] && 6 + 3 * c < size; ++c) ids += static_cast<char>(data[6 + 3 * c]);
    } else if (marker == 0xEE && size >= 12 && std::memcmp(data, "Adobe", 5) == 0) {
      adobe_transform = data[11];
    }
    at += 2 + length;
  }
  if ((frame != 0xC0 && frame != 0xC1 && frame != 0xC2) || precision != 8) return false;
  if (ids.size() == 1) return true;
  return ids.size() == 3 && (adobe_transform >= 0 ? adobe_transform == 1 : ids != "RGB");
}

bool stream_pages(elf_state* state, const std::string& file, const PageSink& sink, std::string* error,
                  bool jpeg_as_is) {
  const Kind kind = kind_of(file, error);
  if (!error->empty()) return false;
  if (kind == Kind::pbm) return stream_pbm(state, file, sink, error);
  if (kind == Kind::tiff) return stream_tiff(state, file, sink, error);
  elf_object* image = nullptr;
  if (read_image(state, file, &image, error) != QEL_STATUS_OK) return false;
  const Held held(image);
  std::string bytes;
  if (jpeg_as_is && kind == Kind::jpeg && read_file_bytes(file, &bytes, error) && jpeg_kept_as_is(bytes) &&
      !keep_jpeg_bytes(state, image, bytes, error)) {
    *error = file + ": " + *error;
    return false;
  }
  error->clear();
  return sink(image, file, error);
}

bool attach_text(elf_state* state, elf_object* image, const std::string& file, std::string* error) {
  FILE* f = std::fopen(file.c_str(), "rb");
  if (!f) {
    *error = "cannot open " + file + ": " + std::strerror(errno);
    return false;
  }
  std::string xml;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) xml.append(buffer, n);
  const bool read = !std::ferror(f);
  std::fclose(f);
  const elf_QELIMAGE* im = qelImage(image);
  elf_object* layer = read ? QELNewTextLayer(state, QEL_TEXT_XML, xml.data(), xml.size(), im->width, im->height,
                                             im->xres, im->yres)
                           : nullptr;
  if (!layer || QELAppendLayer(image, "text:QELLAYER", layer) != QEL_STATUS_OK) {
    *error = read ? "no memory for the text layer of " + file : "cannot read " + file;
    if (layer) elfDiscard(layer);
    return false;
  }
  return true;
}

bool AppendRun::append(elf_object* image, const std::string& where, std::string* error) {
  std::string text_note;
  if (static_cast<size_t>(pages_) < texts_.size()) {
    const std::string& text = texts_[static_cast<size_t>(pages_)];
    if (!attach_text(state_, image, text, error)) return false;
    text_note = ", text " + text;
  }
  const Held args(lstBuildArgs(state_, "pgImg:QELIMAGE", image, 0, LST_END));
  page_in_progress = pages_ + 1;
  const bool appended = args.get() && call_member(state_, writer_, "appendPage", args.get(), error).get();
  page_in_progress = 0;
  if (!appended) {
    if (!args.get()) *error = "no memory";
    *error = "page " + std::to_string(pages_ + 1) + " (" + where + "): " + *error;
    return false;
  }
  ++pages_;
  const elf_QELIMAGE* im = qelImage(image);
  const double xres = im->xres > 0 ? im->xres : 300.0, yres = im->yres > 0 ? im->yres : xres;
  // A fax page's 204 by 98 dots per inch must not read as square pixels.
  char dpi[64];
  if (xres == yres) std::snprintf(dpi, sizeof dpi, "%g dpi", xres);
  else std::snprintf(dpi, sizeof dpi, "%g x %g dpi", xres, yres);
  std::printf("page %d: %s, %d x %d pixels, %s, %s%s\n", pages_, where.c_str(), im->width, im->height, dpi,
              describe_page(image), text_note.c_str());
  std::fflush(stdout);
  return true;
}

bool AppendRun::append_file(const std::string& file, std::string* error) {
  const PageSink sink = [this](elf_object* image, const std::string& where, std::string* why) {
    return append(image, where, why);
  };
  // A page file without a page (a PDF whose page tree is empty or lost) is no page file: the
  // document would miss what the user asked for.
  const int32_t before = pages_;
  const auto some_page = [&] {
    if (pages_ > before) return true;
    *error = file + ": the file holds no page";
    return false;
  };
  bool taken = false;
  if (own_) {
    if (!own_(file, sink, &taken, error)) return false;
    if (taken) return some_page();
  }
  return stream_pages(state_, file, sink, error, keep_jpeg_) && some_page();
}

int write_document(elf_state* state, const DocumentJob& job) {
  std::string refused;
  std::vector<std::string> inputs = job.files;
  inputs.insert(inputs.end(), job.texts.begin(), job.texts.end());
  if (!refuse_same_file(job.target, inputs, &refused)) {
    complain(job.command, refused);
    return exit_failed;
  }
  // The writer makes the document in a temporary file beside the target, which takes its place
  // only when the run has succeeded.
  OutputFile output;
  if (!output.open(job.target, &refused)) {
    complain(job.command, refused);
    return exit_failed;
  }
  KVngSetPrinter(print_document_message, &output);
  Held made;
  elf_object* writer = make_writer(state, job, output, &made);
  if (!writer) {
    KVngSetPrinter(nullptr, nullptr);
    return exit_failed;
  }
  std::string error;
  int exit = exit_ok;
  AppendRun run(state, writer, job.texts, job.own_pages);
  run.keep_jpeg(job.jpeg_as_is);
  if (!job.attributes(state, writer, &error)) {
    complain(job.command, job.output + ": " + output.plain(error));
    exit = exit_failed;
  }
  for (size_t i = 0; exit == exit_ok && i < job.files.size(); ++i) {
    error.clear();
    if (!run.append_file(job.files[i], &error)) {
      complain(job.command, output.plain(error));
      exit = exit_failed;
    }
  }
  if (exit == exit_ok && job.texts.size() > static_cast<size_t>(run.pages())) {
    // A text layer left over belongs to no page: the pairing the user meant is not what was made.
    complain(job.command, std::to_string(job.texts.size()) + " --text files for " + std::to_string(run.pages()) +
                              " page" + (run.pages() == 1 ? "" : "s") + ": " + job.texts[static_cast<size_t>(run.pages())] +
                              " and any after it go with no page");
    exit = exit_failed;
  }
  if (!call_member(state, writer, "release", nullptr, &error).get() && exit == exit_ok) {
    complain(job.command, job.target + ": " + output.plain(error));
    exit = exit_failed;
  }
  KVngSetPrinter(nullptr, nullptr);
  // A document without all its pages is no result: the file's name keeps what it had.
  if (exit != exit_ok) return exit;
  if (!output.commit(&error)) {
    complain(job.command, error);
    return exit_failed;
  }
  struct stat st {};
  const long long bytes = stat(job.target.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
  std::printf("%s: %d page%s%s, %lld bytes\n", job.target.c_str(), run.pages(), run.pages() == 1 ? "" : "s",
              job.note.c_str(), bytes);
  return exit_ok;
}

}  // namespace monodoc
