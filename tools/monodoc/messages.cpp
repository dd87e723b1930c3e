// What the libraries report, put in the words of someone who runs monodoc. The libraries speak
// as the interpreter's plug-ins do: their messages start with the reporting function's name and
// use the interpreter's terms. A user is told the file, the page and the cause; the names and
// the detail lines that trace a failure through the layers are shown with --debug (or
// MONODOC_DEBUG=1) only.

#include "messages.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kvng_print.h"

namespace monodoc {
namespace {

// Phrases of the libraries and what they mean to a user; "" drops a phrase that only says
// where a failure passed through.
struct Phrase {
  const char* internal;
  const char* plain;
};
constexpr Phrase kPhrases[] = {
    {"PDF_PASSWORD_PROTECT", "the PDF is protected by a password that was not given or does not open it"},
    {"PDF internal State: Layer IO error", "a layer of the page cannot be written"},
    {"Object Error - PDF internal State corrupt", "the PDF writer's state is damaged"},
    {"PDF internal State: ", ""},
    {"Failed attempt to set stream filter.", "the image's coding cannot be set up"},
    {"Failed attempt to set stream filter", "the image's coding cannot be set up"},
    {"Failed call to __applyStreamData.", ""},
    {"Failed call in __applyStreamData.", ""},
    {"is not a raster file the engine reads", "is not a page file monodoc reads (PBM, PNG, TIFF, JPEG, GIF, BMP, PNM)"},
    {"IO Write Error in TIFF IO", "the page cannot be written to the TIFF file"},
    {"Unknown error in TIFF IO", "cannot be read as TIFF"},
    {"Unable to initialize PDF IO", "cannot be opened as a PDF"},
    {"Unable to initialize XPS IO", "cannot be opened as an XPS package"},
    {"Unable to initialize Standard KV IO", "cannot be opened as a raster file"},
    {"Failed to open file ", "cannot create "},
    {"JBIG2 support not enabled", "JBIG2 coding is not available (libmonocodec cannot be loaded)"},
    {"PDF encryption support not enabled", "PDF encryption is not available (the plug-in pdflib2qel cannot be loaded)"},
    {"PDF linearization support not enabled",
     "PDF linearization is not available (the plug-in pdflib2qel cannot be loaded)"},
};

// The interpreter's member and procedure names, which read as words but name a step of the
// protocol.
constexpr const char* kMembers[] = {"release",      "appendPage",    "insertPage", "getPage",
                                    "getPageCount", "setAttributes", "readtif"};

// Whether a piece between ": " is a function or member name: one identifier written as code is
// (mixed case, an underscore, digits among capitals) rather than a word of a sentence. The
// interpreter's scripts ("docio/docioXPSWrite.elf") are named as files of code too.
bool internal_name(const std::string& piece) {
  if (piece.size() > 4 && piece.compare(piece.size() - 4, 4, ".elf") == 0 && piece.find(' ') == std::string::npos) {
    return true;
  }
  if (piece.empty() || !(std::isalpha(static_cast<unsigned char>(piece[0])) || piece[0] == '_')) return false;
  bool lower = false, upper = false, underscore = false;
  for (char c : piece) {
    const auto u = static_cast<unsigned char>(c);
    if (!std::isalnum(u) && c != '_') return false;
    lower |= std::islower(u) != 0;
    upper |= std::isupper(u) != 0;
    underscore |= c == '_';
  }
  for (const char* m : kMembers) {
    if (piece == m) return true;
  }
  return underscore || (lower && upper);
}

void replace_all(std::string* text, const std::string& from, const std::string& to) {
  for (size_t at = text->find(from); at != std::string::npos; at = text->find(from, at + to.size())) {
    text->replace(at, from.size(), to);
  }
}

void print_line(const char* text) {
  std::string line = text;
  line.erase(line.find_last_not_of('\n') + 1);
  if (debug_messages()) {
    std::fprintf(stderr, "monodoc: debug: %s\n", line.c_str());
    return;
  }
  line = plain_words(line);
  if (!line.empty()) std::fprintf(stderr, "monodoc: %s\n", line.c_str());
}

}  // namespace

bool debug_messages() {
  const char* v = std::getenv("MONODOC_DEBUG");
  return v && std::strcmp(v, "1") == 0;
}

std::string plain_words(const std::string& message) {
  std::string text = message;
  text.erase(text.find_last_not_of('\n') + 1);
  for (const Phrase& p : kPhrases) replace_all(&text, p.internal, p.plain);
  std::vector<std::string> pieces;
  for (size_t from = 0;;) {
    const size_t at = text.find(": ", from);
    pieces.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
    if (at == std::string::npos) break;
    from = at + 2;
  }
  std::string out;
  for (std::string piece : pieces) {
    piece.erase(0, piece.find_first_not_of(' '));
    piece.erase(piece.find_last_not_of(' ') + 1);
    if (internal_name(piece) || piece.empty()) continue;
    out += (out.empty() ? "" : ": ") + piece;
  }
  return out;
}

void print_interpreter_message(void*, const char* text) {
  if (text) print_line(text);
}

void print_engine_message(void*, int kind, const char* text) {
  if (!text || (kind == KVNG_PRINT_DEBUG && !debug_messages())) return;
  print_line(text);
}

}  // namespace monodoc
