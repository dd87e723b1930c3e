// Page images made from page files, argument lists made from the command line, and result
// layers written back to files.

#include "image_io.h"
#include "messages.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "checked_size.h"
#include "page_files.h"
#include "pbm.h"

namespace monodoc {
namespace {

bool fail(std::string* error, const std::string& what) {
  *error = what;
  return false;
}

bool parse_int(const std::string& text, int32_t* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno || *end || v < INT32_MIN || v > INT32_MAX) return false;
  *value = static_cast<int32_t>(v);
  return true;
}

bool parse_double(const std::string& text, double* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return !errno && !*end;
}

bool parse_bool(const std::string& text, int32_t* value) {
  static constexpr const char* yes[] = {"true", "yes", "on", "1"};
  static constexpr const char* no[] = {"false", "no", "off", "0"};
  for (const char* w : yes) {
    if (strcasecmp(text.c_str(), w) == 0) return (*value = 1), true;
  }
  for (const char* w : no) {
    if (strcasecmp(text.c_str(), w) == 0) return (*value = 0), true;
  }
  return false;
}

// The bytes of a data object and the strips chained to it.
bool gather_bytes(elf_object* data, std::string* bytes) {
  bytes->clear();
  for (elf_object* p = data; p; p = reinterpret_cast<elf_POINTER*>(p)->next) {
    if (!elfIsType(p, "POINTER")) return false;
    const auto* ptr = reinterpret_cast<elf_POINTER*>(p);
    if (ptr->length && !ptr->data) return false;
    bytes->append(static_cast<const char*>(ptr->data), ptr->length);
  }
  return !bytes->empty();
}

// Writes a layer as a page file through the engine's "writeimage", on an image of its own.
bool write_through_engine(elf_object* layer, int32_t index, const std::string& path, std::string* error) {
  elf_state* state = layer->state;
  elf_object* single = QELLayer2QELIMAGE(layer, index, nullptr);
  if (!single) return fail(error, "no memory for the page image");
  elfRefUp(single);
  elf_object* args = lstBuildArgs(state, "filename:s", path.c_str(), 0, LST_END);
  elf_object* result = nullptr;
  clearStatus(state);
  const int status = args ? call_elf_object_method(state, single, "writeimage", args, &result) : QEL_STATUS_FAILED;
  if (args) elfDiscard(args);
  if (result) elfDiscard(result);
  elfRefDown(single);
  if (status == QEL_STATUS_OK) return true;
  std::string message = getStatusMessage(state);
  message.erase(message.find_last_not_of('\n') + 1);
  return fail(error, message.empty() ? "the page cannot be written" : message);
}

std::string layer_summary(const elf_QELLAYER& layer, const elf_QELHDR* h) {
  char text[160];
  if (!h) {
    std::snprintf(text, sizeof text, "kind %d without description", layer.kind);
  } else {
    std::snprintf(text, sizeof text, "kind %d, compression %d, %d samples of %d bits", layer.kind, h->compression,
                  h->samplesPerPixel, h->bitsPerSample && h->bitsPerSampleCount > 0 ? h->bitsPerSample[0] : 0);
  }
  return text;
}

}  // namespace

bool add_page_layer(elf_state* state, elf_object* image, const Bilevel& page, size_t index, std::string* error) {
  elf_QELIMAGE* im = qelImage(image);
  if (!im) return fail(error, "no image to add a page to");
  if (index == 0) {
    im->width = page.width;
    im->height = page.height;
    im->xres = page.xres;
    im->yres = page.yres;
  }
  void* rows = elfMalloc(page.bits.size());
  if (rows) std::memcpy(rows, page.bits.data(), page.bits.size());
  elf_object* layer = rows ? QELNewBilevelLayer(state, page.width, page.height, static_cast<int32_t>(page.stride), rows,
                                                page.bits.size(), page.xres, page.yres)
                           : nullptr;
  const std::string name = "layer" + std::to_string(index);
  if (!layer || QELAppendLayer(image, name.c_str(), layer) != QEL_STATUS_OK) {
    if (!layer) _elfFree(rows);
    elfDiscard(layer);
    return fail(error, "cannot make the layer of page " + std::to_string(index + 1));
  }
  return true;
}

elf_object* image_from_pages(elf_state* state, const std::vector<const Bilevel*>& pages, std::string* error) {
  elf_object* image = new_elf_object(state, "QELIMAGE", nullptr);
  if (!qelImage(image) || pages.empty()) {
    elfDiscard(image);
    return fail(error, "cannot make an image object"), nullptr;
  }
  for (size_t i = 0; i < pages.size(); ++i) {
    if (!add_page_layer(state, image, *pages[i], i, error)) {
      elfDiscard(image);
      return nullptr;
    }
  }
  return image;
}

elf_object* arguments_from_text(elf_state* state, const std::vector<std::string>& args, std::string* error) {
  elf_object* list = new_LIST(state, nullptr, nullptr);
  if (!list) return fail(error, "cannot make the argument list"), nullptr;
  for (const std::string& arg : args) {
    const size_t eq = arg.find('=');
    const std::string left = arg.substr(0, eq);
    const size_t colon = left.find(':');
    const std::string name = left.substr(0, colon);
    std::string type = colon == std::string::npos ? "" : left.substr(colon + 1);
    const std::string value = eq == std::string::npos ? "" : arg.substr(eq + 1);
    int32_t number = 0;
    double real = 0;
    if (type.empty()) {
      type = parse_int(value, &number) ? "i" : parse_double(value, &real) ? "d" : parse_bool(value, &number) ? "b" : "s";
    }
    const std::string spec = name + ":" + type;
    bool ok = eq != std::string::npos && !name.empty();
    if (ok && type == "i") {
      ok = parse_int(value, &number) && lstAppendArgs(list, spec.c_str(), number, 0, LST_END);
    } else if (ok && type == "d") {
      ok = parse_double(value, &real) && lstAppendArgs(list, spec.c_str(), real, 0, LST_END);
    } else if (ok && type == "b") {
      ok = parse_bool(value, &number) && lstAppendArgs(list, spec.c_str(), number, 0, LST_END);
    } else if (ok && type == "s") {
      ok = lstAppendArgs(list, spec.c_str(), value.c_str(), 0, LST_END);
    } else {
      ok = false;
    }
    if (!ok) {
      elfDiscard(list);
      return fail(error, "argument \"" + arg + "\" is not name=value or name:t=value with t one of i, d, b, s"),
             nullptr;
    }
  }
  return list;
}

bool write_image_layers(elf_object* image, const std::string& prefix, int image_number,
                        std::vector<std::string>* written, std::vector<std::string>* skipped, std::string* error) {
  const elf_QELIMAGE* im = qelImage(image);
  if (!im) return fail(error, "the result is not a QELIMAGE");
  const std::string stem = prefix + "-" + std::to_string(image_number);
  bool have_dict = false;
  const int32_t n = elflistLength(im->layers);
  for (int32_t i = 0; i < n; ++i) {
    const std::string where = "image " + std::to_string(image_number) + " layer " + std::to_string(i + 1);
    const elf_QELLAYER* layer = qelLayer(elfIdentValue(elflistItem(im->layers, i)));
    if (!layer) {
      skipped->push_back(where + ": not a layer");
      continue;
    }
    const elf_QELHDR* h = qelHdr(layer->description);
    std::string path, bytes;
    if (layer->kind == QEL_KIND_JBIG2_DICT) {
      path = have_dict ? stem + "-" + std::to_string(i + 1) + "-dict.jb2" : stem + "-dict.jb2";
      have_dict = true;
      if (!gather_bytes(layer->data, &bytes)) return fail(error, where + ": the dictionary layer holds no data");
    } else if (h && h->compression == QEL_COMPRESSION_JBIG2) {
      path = stem + "-" + std::to_string(i + 1) + ".jb2";
      if (!gather_bytes(layer->data, &bytes)) return fail(error, where + ": the JBIG2 layer holds no data");
    } else if (h && h->compression == QEL_COMPRESSION_NONE && h->samplesPerPixel == 1 && h->bitsPerSample &&
               h->bitsPerSampleCount > 0 && h->bitsPerSample[0] == 1) {
      // Raw pages go out through the engine's own PNM writer.
      path = stem + "-" + std::to_string(i + 1) + ".pbm";
      if (!write_through_engine(elfIdentValue(elflistItem(im->layers, i)), i, path, error)) {
        *error = where + ": " + *error;
        return false;
      }
      written->push_back(path);
      continue;
    } else {
      skipped->push_back(where + ": " + layer_summary(*layer, h) + " has no file form here");
      continue;
    }
    if (!write_file_bytes(path, bytes.data(), bytes.size(), error)) return false;
    written->push_back(path);
  }
  return true;
}

Held call_member(elf_state* state, elf_object* obj, const char* name, elf_object* args, std::string* error) {
  clearStatus(state);
  elf_object* result = nullptr;
  const int status = call_elf_object_method(state, obj, name, args, &result);
  Held held(result);
  if (status != QEL_STATUS_OK) {
    // The member's name tells where the protocol failed: worth a line with --debug only.
    *error = debug_messages() ? std::string(name) + ": " + status_text(state, status) : status_text(state, status);
    return Held();
  }
  return result ? std::move(held) : Held(new_LIST(state, nullptr, nullptr));
}

std::vector<std::string> describe_list(elf_object* list) {
  std::vector<std::string> lines;
  const int32_t n = elflistLength(list);
  for (int32_t i = 0; i < n; ++i) {
    elf_object* entry = elflistItem(list, i);
    elf_object* value = elfIdentValue(entry);
    std::string line = elfIsType(entry, "IDENT") ? std::string(reinterpret_cast<elf_IDENT*>(entry)->name) + " = " : "";
    char text[64];
    if (elfIsType(value, "INTEGER")) {
      line += std::to_string(reinterpret_cast<elf_INTEGER*>(value)->value);
    } else if (elfIsType(value, "DOUBLE")) {
      std::snprintf(text, sizeof text, "%g", reinterpret_cast<elf_DOUBLE*>(value)->value);
      line += text;
    } else if (elfIsType(value, "BOOLEAN")) {
      line += reinterpret_cast<elf_BOOLEAN*>(value)->value ? "true" : "false";
    } else if (elfIsType(value, "STRING")) {
      line += reinterpret_cast<elf_STRING*>(value)->value;
    } else if (elfIsType(value, "LIST") && value != list) {
      std::string inner;
      for (const std::string& item : describe_list(value)) inner += (inner.empty() ? "" : ", ") + item;
      line += "{" + inner + "}";
    } else {
      line += value ? "[" + std::string(value->typeName) + "]" : "(none)";
    }
    lines.push_back(line);
  }
  return lines;
}

}  // namespace monodoc
