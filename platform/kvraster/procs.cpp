// The engine's raster procedures and page-image members, as the interpreter calls them by name.

#include <cstring>
#include <string>

#include "kvng_format.h"
#include "kvraster.h"
#include "raster.h"

using kvraster::fail;
using kvraster::Raster;

namespace {

constexpr const char info_pages[] = "pages";
constexpr const char info_profile[] = "tiff_profile";

// The info fields readtif gives: name and type letter, by field number.
struct InfoField {
  const char* name;
  const char* type;
};
constexpr InfoField info_fields[] = {{info_pages, "i"}, {info_profile, "c"}};

// Hands one object to the caller under spec; the object goes when there is no place for it.
int give(elf_state* state, elf_object** result, const char* spec, elf_object* obj, const char* who) {
  if (!result) {
    elfDiscard(obj);
    return QEL_STATUS_OK;
  }
  elf_object* list = lstBuildArgs(state, spec, obj, 0, LST_END);
  if (!list) {
    elfDiscard(obj);
    return fail(state, "%s: no memory for the result\n", who);
  }
  *result = list;
  return QEL_STATUS_OK;
}

int give_image(elf_state* state, elf_object** result, elf_object* image, const char* who) {
  return image ? give(state, result, "img:QELIMAGE", image, who) : getStatus(state);
}

elf_object* image_attribute(elf_object* image, const char* name) {
  const elf_QELIMAGE* im = qelImage(image);
  const int32_t n = im ? elflistLength(im->attributes) : 0;
  for (int32_t i = 0; i < n; ++i) {
    auto* ident = reinterpret_cast<elf_IDENT*>(elflistItem(im->attributes, i));
    if (elfIsType(&ident->hdr, "IDENT") && std::strcmp(ident->name, name) == 0) return ident->value;
  }
  return nullptr;
}

int set_image_attribute(elf_object* image, const char* name, elf_object* value) {
  elf_state* state = image->state;
  elf_object* args = value ? lstBuildArgs(state, "name:s", name, 0, "obj:", value, 0, LST_END) : nullptr;
  if (!args) {
    elfDiscard(value);
    return fail(state, "readtif: no memory for the info fields\n");
  }
  const int status = QELAttributes(&qelImage(image)->attributes, args, nullptr, "setAttr");
  elfDiscard(args);
  return status;
}

int read_info(elf_state* state, const char* filename, elf_object** result) {
  int32_t pages = 0;
  std::string profile;
  if (!kvraster::tiff_info(state, filename, &pages, &profile)) return getStatus(state);
  elf_object* image = new_QELIMAGE(state, nullptr, nullptr);
  if (!image) return fail(state, "readtif: no memory for the info image\n");
  int status = set_image_attribute(image, info_pages, elfNewInteger(state, pages));
  if (status == QEL_STATUS_OK) status = set_image_attribute(image, info_profile, elfNewString(state, profile.c_str()));
  if (status != QEL_STATUS_OK) {
    elfDiscard(image);
    return status;
  }
  return give_image(state, result, image, "readtif");
}

// The layer attribute that holds a palette's colour map.
const elf_POINTER* colour_map(const elf_QELLAYER* layer) {
  const int32_t n = elflistLength(layer->attributes);
  for (int32_t i = 0; i < n; ++i) {
    auto* ident = reinterpret_cast<elf_IDENT*>(elflistItem(layer->attributes, i));
    if (elfIsType(&ident->hdr, "IDENT") && std::strcmp(ident->name, "ColorMap") == 0 && elfIsType(ident->value, "POINTER")) {
      return reinterpret_cast<const elf_POINTER*>(ident->value);
    }
  }
  return nullptr;
}

// A copy of the image whose first picture layer is handed to edit; the copy or null (status set).
template <typename Edit>
elf_object* edited_copy(elf_object* image, const char* who, Edit edit) {
  elf_state* state = image->state;
  elf_object* copy = image->ops.copy ? image->ops.copy(image) : nullptr;
  if (!copy) {
    fail(state, "%s: no memory for a copy of the image\n", who);
    return nullptr;
  }
  const int32_t n = elflistLength(qelImage(copy)->layers);
  for (int32_t i = 0; i < n; ++i) {
    elf_QELLAYER* l = qelLayer(QELGetLayer(copy, i));
    if (l && qelHdr(l->description) && l->kind != QEL_KIND_MASK && l->kind != QEL_KIND_RECTANGLE &&
        l->kind != QEL_KIND_JBIG2_DICT && l->kind != QEL_KIND_TEXT) {
      if (!edit(state, l, qelHdr(l->description))) {
        elfDiscard(copy);
        return nullptr;
      }
    }
  }
  return copy;
}

// Replaces a layer's data and description with a raster's.
bool take_raster(elf_state* state, elf_QELLAYER* l, const Raster& r, const char* who) {
  elf_object* fresh = kvraster::image_of(state, r, who);
  if (!fresh) return false;
  elf_QELLAYER* made = qelLayer(QELGetLayer(fresh, 0));
  ELF_ASSIGN(state, &l->description, made->description);
  ELF_ASSIGN(state, &l->data, made->data);
  l->kind = made->kind;
  elfDiscard(fresh);
  return true;
}

int modheader(elf_object* image, elf_object* args, elf_object** result) {
  elf_state* state = image->state;
  elf_object* modify = nullptr;
  if (!lstScanArgs(args, "modify:LIST", LST_REQUIRED, &modify, LST_END)) return fail(state, "modheader: no modify list\n");
  bool srgb = false;
  for (int32_t i = 0; i < elflistLength(modify); ++i) {
    elf_object* item = elfIdentValue(elflistItem(modify, i));
    if (!elfIsType(item, "STRING")) return fail(state, "modheader: modifications are texts\n");
    const char* text = reinterpret_cast<elf_STRING*>(item)->value;
    if (std::strcmp(text, "Photometry:name:srgb") != 0) return fail(state, "modheader: %s is not a modification made here\n", text);
    srgb = true;
  }
  elf_object* copy = edited_copy(image, "modheader", [&](elf_state* s, elf_QELLAYER*, elf_QELHDR* h) {
    if (!srgb) return true;
    if (h->samplesPerPixel != 3) return fail(s, "modheader: only three-sample layers become sRGB\n"), false;
    h->photometric = 15;
    return true;
  });
  return give_image(state, result, copy, "modheader");
}

int unmap(elf_object* image, elf_object* args, elf_object** result) {
  (void)args;
  elf_object* copy = edited_copy(image, "unmap", [](elf_state* s, elf_QELLAYER* l, elf_QELHDR* h) {
    if (h->photometric != 11) return true;
    const elf_POINTER* map = colour_map(l);
    const elf_POINTER* data = elfIsType(l->data, "POINTER") ? reinterpret_cast<const elf_POINTER*>(l->data) : nullptr;
    const int32_t bits = h->bitsPerSample && h->bitsPerSampleCount > 0 ? h->bitsPerSample[0] : 0;
    const int32_t bpr = h->bytesPerRow && h->bytesPerRowCount > 0 ? h->bytesPerRow[0] : 0;
    if (!map || !data || h->samplesPerPixel != 1 || (bits != 1 && bits != 2 && bits != 4 && bits != 8) ||
        h->compression != 0 || int64_t{h->width} * bits > int64_t{bpr} * 8 || data->length / (bpr ? bpr : 1) < static_cast<size_t>(h->height)) {
      return fail(s, "unmap: the palette layer has no usable colour map or data\n"), false;
    }
    Raster r;
    if (!r.allocate(h->width, h->height, kvraster::Form::Rgb)) return fail(s, "unmap: the layer is too large\n"), false;
    r.xres = l->xres;
    r.yres = l->yres;
    const auto* in = static_cast<const uint8_t*>(data->data);
    const auto* entries = static_cast<const uint8_t*>(map->data);
    const size_t count = map->length / 3;
    for (int32_t y = 0; y < h->height; ++y) {
      for (int32_t x = 0; x < h->width; ++x) {
        const int64_t bit = int64_t{x} * bits;
        const uint32_t index = (in[static_cast<size_t>(bpr) * y + bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
        for (int c = 0; c < 3; ++c) r.row(y)[x * 3 + c] = index < count ? entries[index * 3 + c] : 0;
      }
    }
    return take_raster(s, l, r, "unmap");
  });
  return give_image(image->state, result, copy, "unmap");
}

int interleave(elf_object* image, elf_object* args, elf_object** result) {
  (void)args;
  elf_object* copy = edited_copy(image, "interleave", [](elf_state* s, elf_QELLAYER* l, elf_QELHDR* h) {
    if (h->interleave != 2 || h->samplesPerPixel < 2) return true;
    // The whole-image reader gives interleaved pixels; route the layer through it.
    elf_object* single = QELLayer2QELIMAGE(&l->hdr, 0, nullptr);
    if (!single) return false;
    Raster r;
    const bool ok = kvraster::raster_of(s, single, "interleave", &r);
    elfDiscard(single);
    return ok && take_raster(s, l, r, "interleave");
  });
  return give_image(image->state, result, copy, "interleave");
}

int find_field(elf_object* image, elf_object* args, elf_object** result) {
  elf_state* state = image->state;
  const char* name = nullptr;
  const char* type = nullptr;
  if (!lstScanArgs(args, "name:s", LST_REQUIRED, &name, "type:s", LST_REQUIRED, &type, LST_END)) {
    return fail(state, "findField: name and type are needed\n");
  }
  int32_t field = -1;
  for (int32_t i = 0; i < static_cast<int32_t>(std::size(info_fields)); ++i) {
    if (std::strcmp(info_fields[i].name, name) == 0 && std::strcmp(info_fields[i].type, type) == 0 &&
        image_attribute(image, name)) {
      field = i;
    }
  }
  return give(state, result, "field:", elfNewInteger(state, field), "findField");
}

// The value of info field number field at entry 0; null (status set) otherwise.
elf_object* field_value(elf_object* image, elf_object* args, const char* who, const char* type) {
  elf_state* state = image->state;
  int32_t entry = -1, index = 0, field = -1;
  if (!lstScanArgs(args, "entry:i", LST_REQUIRED, &entry, "index:i", LST_OPTIONAL, &index, "field:i", LST_REQUIRED,
                   &field, LST_END)) {
    fail(state, "%s: entry and field are needed\n", who);
    return nullptr;
  }
  if (entry != 0 || index != 0 || field < 0 || field >= static_cast<int32_t>(std::size(info_fields)) ||
      std::strcmp(info_fields[field].type, type) != 0) {
    fail(state, "%s: no field %d at entry %d index %d\n", who, field, entry, index);
    return nullptr;
  }
  elf_object* value = image_attribute(image, info_fields[field].name);
  if (!value) fail(state, "%s: the image carries no field %s\n", who, info_fields[field].name);
  return value;
}

int get_field_int(elf_object* image, elf_object* args, elf_object** result) {
  elf_object* value = field_value(image, args, "getFieldInt", "i");
  if (!elfIsType(value, "INTEGER")) return value ? fail(image->state, "getFieldInt: not a number\n") : getStatus(image->state);
  return give(image->state, result, "value:", elfNewInteger(image->state, reinterpret_cast<elf_INTEGER*>(value)->value),
              "getFieldInt");
}

int get_field_str(elf_object* image, elf_object* args, elf_object** result) {
  elf_object* value = field_value(image, args, "getFieldStr", "c");
  if (!elfIsType(value, "STRING")) return value ? fail(image->state, "getFieldStr: not a text\n") : getStatus(image->state);
  return give(image->state, result, "value:", elfNewString(image->state, reinterpret_cast<elf_STRING*>(value)->value),
              "getFieldStr");
}

int write_page(elf_object* image, elf_object* args, const char* method) {
  elf_state* state = image->state;
  const char* filename = nullptr;
  int32_t append = 0, unsupported = 0, compression = -1, quality = 80;
  if (!lstScanArgs(args, "filename:s", LST_REQUIRED, &filename, "append:b", LST_OPTIONAL, &append, "unsupportedtt:b",
                   LST_OPTIONAL, &unsupported, "compression:i", LST_OPTIONAL, &compression, "quality:i", LST_OPTIONAL,
                   &quality, LST_END)) {
    return fail(state, "%s: no file name to write\n", method);
  }
  Raster r;
  if (!kvraster::raster_of(state, image, method, &r)) return getStatus(state);
  bool ok;
  if (std::strcmp(method, "writetif") == 0) {
    ok = kvraster::write_tiff(state, r, filename, {append != 0, compression, quality});
  } else if (std::strcmp(method, "writejpg") == 0) {
    ok = kvraster::write_jpeg(state, r, filename, quality);
  } else if (std::strcmp(method, "writepng") == 0) {
    ok = kvraster::write_png(state, r, filename);
  } else if (std::strcmp(method, "writegif") == 0) {
    ok = kvraster::write_gif(state, r, filename);
  } else if (std::strcmp(method, "writebmp") == 0) {
    ok = kvraster::write_bmp(state, r, filename);
  } else {
    ok = kvraster::write_pnm(state, r, filename);
  }
  return ok ? QEL_STATUS_OK : getStatus(state);
}

}  // namespace

extern "C" {

int KVReadTif(void* target, elf_object* args, elf_object** result) {
  auto* state = static_cast<elf_state*>(target);
  if (result) *result = nullptr;
  const char* filename = nullptr;
  int32_t page = 1, info = 0, compressed = 0;
  if (!lstScanArgs(args, "filename:s", LST_REQUIRED, &filename, "dirnum:i", LST_OPTIONAL, &page, "info:b",
                   LST_OPTIONAL, &info, "compressed:b", LST_OPTIONAL, &compressed, LST_END)) {
    return fail(state, "readtif: no file name to read\n");
  }
  if (info) return read_info(state, filename, result);
  Raster r;
  if (!kvraster::read_tiff_page(state, filename, page, &r)) return getStatus(state);
  return give_image(state, result, kvraster::image_of(state, r, "readtif"), "readtif");
}

int KVExecute(void*, elf_object*, elf_object** result) {
  if (result) *result = nullptr;
  return QEL_STATUS_OK;
}

int KVImageMethods(void* target, elf_object* args, elf_object** result) {
  auto* image = static_cast<elf_object*>(target);
  if (result) *result = nullptr;
  const char* method = nullptr;
  if (!qelImage(image) || !lstScanArgs(args, "CALL_NAME:s", LST_REQUIRED, &method, LST_END)) {
    return setStatus(image ? image->state : nullptr, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR,
                     "KVImageMethods: no image or no member name\n");
  }
  if (std::strcmp(method, "exec") == 0) return QELUpdateQELIMAGE(image);
  if (std::strcmp(method, "modheader") == 0) return modheader(image, args, result);
  if (std::strcmp(method, "unmap") == 0) return unmap(image, args, result);
  if (std::strcmp(method, "interleave") == 0) return interleave(image, args, result);
  if (std::strcmp(method, "findField") == 0) return find_field(image, args, result);
  if (std::strcmp(method, "getFieldInt") == 0) return get_field_int(image, args, result);
  if (std::strcmp(method, "getFieldStr") == 0) return get_field_str(image, args, result);
  if (std::strncmp(method, "write", 5) == 0) return write_page(image, args, method);
  return setStatus(image->state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "KVImageMethods: no member %s\n", method);
}

int QELReadFile2QELIMAGE(elf_state* state, const char* filename, elf_object*, elf_object** image) {
  if (image) *image = nullptr;
  constexpr const char* who = "QELReadFile2QELIMAGE";
  if (!filename || !image) return fail(state, "%s: no file name or no place for the image\n", who);
  KVngFileFormats* table = nullptr;
  if (KVngReadFileFormats(&table) != 1) return fail(state, "%s: no memory for the format table\n", who);
  KVngFileFormatInfo* info = KVngGetFileFormatInfo(filename, table);
  const std::string reader = info && info->reader ? info->reader : "";
  if (info) info->release(info);
  table->release(table);
  Raster r;
  bool ok;
  if (reader == "readtif") {
    ok = kvraster::read_tiff_page(state, filename, 1, &r);
  } else if (reader == "readpng") {
    ok = kvraster::read_png(state, filename, &r);
  } else if (reader == "readjpg") {
    ok = kvraster::read_jpeg(state, filename, &r);
  } else if (reader == "readgif") {
    ok = kvraster::read_gif(state, filename, &r);
  } else if (reader == "readbmp") {
    ok = kvraster::read_bmp(state, filename, &r);
  } else if (reader == "readpnm") {
    ok = kvraster::read_pnm(state, filename, &r);
  } else {
    return fail(state, "%s: %s is not a raster file the engine reads\n", who, filename);
  }
  if (!ok) return getStatus(state);
  *image = kvraster::image_of(state, r, who);
  return *image ? QEL_STATUS_OK : getStatus(state);
}

}  // extern "C"
