// The page-image types QELIMAGE, QELLAYER and QELHDR, and the layer calls.

#include <cstdio>
#include <cstring>

#include "checked_size.h"
#include "interp_internal.h"
#include "qel_image.h"

using interp::copy_optional;
using interp::equal_optional;
using interp::reaches;
using interp::reset_optional;

namespace {

bool same_text(const char* a, const char* b) { return (!a || !b) ? a == b : std::strcmp(a, b) == 0; }

// ---- QELHDR ----

bool copy_array(const int32_t* from, int32_t count, int32_t** to) {
  *to = nullptr;
  if (!from || count <= 0) return true;
  *to = static_cast<int32_t*>(elfCalloc(static_cast<size_t>(count), sizeof(int32_t)));
  if (!*to) return false;
  std::memcpy(*to, from, sizeof(int32_t) * static_cast<size_t>(count));
  return true;
}

bool same_array(const int32_t* a, int32_t na, const int32_t* b, int32_t nb) {
  if (na != nb || (a == nullptr) != (b == nullptr)) return false;
  return !a || na <= 0 || std::memcmp(a, b, sizeof(int32_t) * static_cast<size_t>(na)) == 0;
}

int empty_hdr(elf_object* obj) {
  const elf_QELHDR* h = qelHdr(obj);
  if (!h) return -1;
  if (obj->stateWord == ELF_OBJECT_EMPTY) return 1;
  return !obj->peer && h->width == 0 && h->height == 0 && h->samplesPerPixel == 0 && !h->bitsPerSample &&
                 !h->bytesPerRow && h->photometric == 0 && h->compression == 0 && h->interleave == 0 &&
                 !h->engineData
             ? 1
             : 0;
}

int equal_hdr(elf_object* a, elf_object* b) {
  const elf_QELHDR* x = qelHdr(a);
  const elf_QELHDR* y = qelHdr(b);
  if (!x || !y) return 0;
  if (a == b) return 1;
  return x->width == y->width && x->height == y->height && x->samplesPerPixel == y->samplesPerPixel &&
                 same_array(x->bitsPerSample, x->bitsPerSampleCount, y->bitsPerSample, y->bitsPerSampleCount) &&
                 same_array(x->bytesPerRow, x->bytesPerRowCount, y->bytesPerRow, y->bytesPerRowCount) &&
                 x->photometric == y->photometric && x->compression == y->compression &&
                 x->interleave == y->interleave
             ? 1
             : 0;
}

void free_hdr(elf_object* obj) {
  elf_QELHDR* h = qelHdr(obj);
  if (!h || obj->refCount >= 1) return;
  _elfFree(h->bitsPerSample);
  _elfFree(h->bytesPerRow);
  if (h->engineData) h->engineData->release(h->engineData);
  elfFinishObject(obj);
  _elfFree(h);
}

elf_object* copy_hdr(elf_object* obj) {
  const elf_QELHDR* h = qelHdr(obj);
  if (!h) return nullptr;
  elf_object* copy = new_QELHDR(obj->state, nullptr, nullptr);
  elf_QELHDR* c = qelHdr(copy);
  if (!c) return nullptr;
  c->width = h->width;
  c->height = h->height;
  c->samplesPerPixel = h->samplesPerPixel;
  c->photometric = h->photometric;
  c->compression = h->compression;
  c->interleave = h->interleave;
  c->bitsPerSampleCount = h->bitsPerSampleCount;
  c->bytesPerRowCount = h->bytesPerRowCount;
  if (h->engineData) c->engineData = h->engineData->copy(h->engineData);
  if (!copy_array(h->bitsPerSample, h->bitsPerSampleCount, &c->bitsPerSample) ||
      !copy_array(h->bytesPerRow, h->bytesPerRowCount, &c->bytesPerRow) || (h->engineData && !c->engineData)) {
    elfDiscard(copy);
    return nullptr;
  }
  return copy;
}

using HdrHeld = interp::HeldFields<elf_QELHDR, qelHdr>;
constexpr elf_type_ops hdr_ops{HdrHeld::reset, empty_hdr, nullptr, copy_hdr, nullptr, nullptr,
                               free_hdr,       interp::set_no_member, interp::get_member, HdrHeld::cycle, equal_hdr};

// ---- QELLAYER ----

int empty_layer(elf_object* obj) {
  const elf_QELLAYER* l = qelLayer(obj);
  if (!l) return -1;
  if (obj->stateWord == ELF_OBJECT_EMPTY) return 1;
  return !obj->peer && l->kind == 0 && !l->name && !l->description && !l->data && !l->attributes && !l->text ? 1
                                                                                                            : 0;
}

constexpr QELTransform2D kIdentity{{1, 0, 0, 1, 0, 0}};

bool same_transform(const QELTransform2D* a, const QELTransform2D* b) {
  const double* x = (a ? a : &kIdentity)->m;
  const double* y = (b ? b : &kIdentity)->m;
  for (int i = 0; i < 6; ++i) {
    if (x[i] != y[i]) return false;
  }
  return true;
}

using LayerHeld = interp::HeldFields<elf_QELLAYER, qelLayer, &elf_QELLAYER::description, &elf_QELLAYER::data,
                                     &elf_QELLAYER::attributes, &elf_QELLAYER::text>;

int equal_layer(elf_object* a, elf_object* b) {
  const elf_QELLAYER* x = qelLayer(a);
  const elf_QELLAYER* y = qelLayer(b);
  if (!x || !y) return 0;
  if (a == b) return 1;
  return x->kind == y->kind && same_text(x->name, y->name) && x->xres == y->xres && x->yres == y->yres &&
                 x->x == y->x && x->y == y->y && x->width == y->width && x->height == y->height &&
                 same_transform(x->transform, y->transform) && LayerHeld::equal(x, y)
             ? 1
             : 0;
}

void free_layer(elf_object* obj) {
  elf_QELLAYER* l = qelLayer(obj);
  if (!l || obj->refCount >= 1) return;
  LayerHeld::drop(l);
  _elfFree(l->name);
  _elfFree(l->transform);
  elfFinishObject(obj);
  _elfFree(l);
}

// Copies an optional object field into a fresh record's field, taking the reference.
bool copy_field(elf_object* from, elf_object** to) {
  bool ok = true;
  *to = copy_optional(from, &ok);
  elfRefUp(*to);
  return ok;
}

elf_object* copy_layer(elf_object* obj) {
  const elf_QELLAYER* l = qelLayer(obj);
  if (!l) return nullptr;
  elf_object* copy = new_QELLAYER(obj->state, nullptr, nullptr);
  elf_QELLAYER* c = qelLayer(copy);
  if (!c) return nullptr;
  c->kind = l->kind;
  c->xres = l->xres;
  c->yres = l->yres;
  c->x = l->x;
  c->y = l->y;
  c->width = l->width;
  c->height = l->height;
  const bool ok = (!l->name || (c->name = elfStrDup(l->name))) &&
                  __QELLAYERSetTransformMatrix(copy, l->transform) == QEL_STATUS_OK &&
                  copy_field(l->description, &c->description) &&
                  copy_field(l->data, &c->data) && copy_field(l->attributes, &c->attributes) &&
                  copy_field(l->text, &c->text);
  if (!ok) {
    elfDiscard(copy);
    return nullptr;
  }
  return copy;
}

constexpr elf_type_ops layer_ops{LayerHeld::reset, empty_layer, nullptr, copy_layer, nullptr, nullptr,
                                 free_layer,       interp::set_no_member, interp::get_member, LayerHeld::cycle,
                                 equal_layer};

// ---- QELIMAGE ----

int empty_image(elf_object* obj) {
  const elf_QELIMAGE* im = qelImage(obj);
  if (!im) return -1;
  if (obj->stateWord == ELF_OBJECT_EMPTY) return 1;
  return !obj->peer && im->width == 0 && im->height == 0 && im->layerCount == 0 && !im->layers && !im->attributes
             ? 1
             : 0;
}

using ImageHeld = interp::HeldFields<elf_QELIMAGE, qelImage, &elf_QELIMAGE::layers, &elf_QELIMAGE::attributes>;

int equal_image(elf_object* a, elf_object* b) {
  const elf_QELIMAGE* x = qelImage(a);
  const elf_QELIMAGE* y = qelImage(b);
  if (!x || !y) return 0;
  if (a == b) return 1;
  return x->width == y->width && x->height == y->height && x->xres == y->xres && x->yres == y->yres &&
                 x->layerCount == y->layerCount && ImageHeld::equal(x, y)
             ? 1
             : 0;
}

constexpr elf_type_ops image_ops{ImageHeld::reset, empty_image, nullptr, copy_QELIMAGE, nullptr, nullptr,
                                 free_QELIMAGE,    interp::set_no_member, interp::get_member, ImageHeld::cycle,
                                 equal_image};

elf_state* state_of(elf_object* obj) { return obj ? obj->state : nullptr; }

// Why a raw layer cannot be read as its description says, or null when it can.
const char* raw_layer_problem(const elf_QELLAYER* layer) {
  const elf_QELHDR* h = qelHdr(layer->description);
  if (!h || h->compression != QEL_COMPRESSION_NONE) return nullptr;
  if (h->width < 0 || h->height < 0) return "negative size";
  if (!h->bitsPerSample || h->bitsPerSampleCount < 1 || !h->bytesPerRow || h->bytesPerRowCount < 1) return nullptr;
  if (h->bitsPerSample[0] < 1 || h->bytesPerRow[0] < 0) return "no bits per sample or negative bytes per row";
  int64_t row_bits;
  if (!mono::checked_mul<int64_t>(h->width, h->bitsPerSample[0], &row_bits) ||
      row_bits > int64_t{h->bytesPerRow[0]} * 8) {
    return "rows shorter than the width";
  }
  const auto* data = reinterpret_cast<const elf_POINTER*>(layer->data);
  if (!elfIsType(layer->data, "POINTER") || !data->data) return nullptr;
  // Rows may come in strips, one data item each, chained through next.
  size_t have = 0;
  for (const elf_POINTER* item = data; item; item = reinterpret_cast<const elf_POINTER*>(item->next)) {
    if (!mono::checked_add(have, item->length, &have)) return "data longer than memory";
    if (!elfIsType(item->next, "POINTER")) break;
  }
  size_t need;
  if (!mono::checked_mul(static_cast<size_t>(h->bytesPerRow[0]), static_cast<size_t>(h->height), &need) ||
      have < need) {
    return "data shorter than its rows";
  }
  return nullptr;
}

}  // namespace

elf_QELIMAGE* qelImage(elf_object* obj) {
  return elfIsType(obj, "QELIMAGE") ? reinterpret_cast<elf_QELIMAGE*>(obj) : nullptr;
}
elf_QELLAYER* qelLayer(elf_object* obj) {
  return elfIsType(obj, "QELLAYER") ? reinterpret_cast<elf_QELLAYER*>(obj) : nullptr;
}
elf_QELHDR* qelHdr(elf_object* obj) { return elfIsType(obj, "QELHDR") ? reinterpret_cast<elf_QELHDR*>(obj) : nullptr; }

elf_object* new_QELHDR(elf_state* state, void*, elf_object* args) {
  return interp::create<elf_QELHDR>(state, "QELHDR", hdr_ops, args);
}

elf_object* new_QELLAYER(elf_state* state, void*, elf_object* args) {
  return interp::create<elf_QELLAYER>(state, "QELLAYER", layer_ops, args);
}

elf_object* new_QELIMAGE(elf_state* state, void*, elf_object* args) {
  return interp::create<elf_QELIMAGE>(state, "QELIMAGE", image_ops, args);
}

void free_QELIMAGE(elf_object* obj) {
  elf_QELIMAGE* im = qelImage(obj);
  if (!im || obj->refCount >= 1) return;
  ImageHeld::drop(im);
  elfFinishObject(obj);
  _elfFree(im);
}

elf_object* copy_QELIMAGE(elf_object* obj) {
  const elf_QELIMAGE* im = qelImage(obj);
  if (!im) return nullptr;
  elf_object* copy = new_QELIMAGE(obj->state, nullptr, nullptr);
  elf_QELIMAGE* c = qelImage(copy);
  if (!c) return nullptr;
  c->width = im->width;
  c->height = im->height;
  c->xres = im->xres;
  c->yres = im->yres;
  c->layerCount = im->layerCount;
  if (!copy_field(im->layers, &c->layers) || !copy_field(im->attributes, &c->attributes)) {
    elfDiscard(copy);
    return nullptr;
  }
  return copy;
}

elf_object* QELGetLayer(elf_object* image, int32_t index) {
  const elf_QELIMAGE* im = qelImage(image);
  if (!im) return nullptr;
  elf_object* layer = elfIdentValue(elflistItem(im->layers, index));
  return qelLayer(layer) ? layer : nullptr;
}

elf_object* QELGetDictLayer(elf_object* layers, int32_t* position) {
  if (position) *position = -1;
  const int32_t n = elflistLength(layers);
  for (int32_t i = 0; i < n; ++i) {
    elf_object* layer = elfIdentValue(elflistItem(layers, i));
    const elf_QELLAYER* l = qelLayer(layer);
    if (l && l->kind == QEL_KIND_JBIG2_DICT) {
      if (position) *position = i;
      return layer;
    }
  }
  return nullptr;
}

int QELDeleteLayer(elf_object* image, int32_t index, elf_object** removed) {
  if (removed) *removed = nullptr;
  elf_QELIMAGE* im = qelImage(image);
  if (!im || !QELGetLayer(image, index)) return QEL_STATUS_INVALID;
  elf_object* layer = lstRemoveArg(im->layers, index);
  if (im->layerCount > 0) --im->layerCount;
  if (removed) {
    *removed = layer;
  } else {
    elfRefDown(layer);
  }
  return QEL_STATUS_OK;
}

int QELUpdateQELIMAGE(elf_object* image) {
  elf_QELIMAGE* im = qelImage(image);
  if (!im) {
    return setStatus(state_of(image), QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "QELUpdateQELIMAGE: %s\n",
                     image ? "the object is not a QELIMAGE" : "no image");
  }
  int32_t count = 0;
  const int32_t n = elflistLength(im->layers);
  for (int32_t i = 0; i < n; ++i) {
    const elf_QELLAYER* layer = qelLayer(QELGetLayer(image, i));
    if (!layer) continue;
    ++count;
    if (const char* problem = raw_layer_problem(layer)) {
      return setStatus(image->state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "QELUpdateQELIMAGE: layer %d: %s\n", i,
                       problem);
    }
  }
  im->layerCount = count;
  return QEL_STATUS_OK;
}

int QELAppendLayer(elf_object* image, const char* name, elf_object* layer) {
  elf_QELIMAGE* im = qelImage(image);
  char spec[300];
  const bool named = name && std::strchr(name, ':');
  if (!im || !qelLayer(layer) || !name ||
      std::snprintf(spec, sizeof spec, named ? "%s" : "%s:QELLAYER", name) >= static_cast<int>(sizeof spec)) {
    elfMessage(state_of(image), "QELAppendLayer: %s\n", im ? "no layer or no usable name" : "not a QELIMAGE");
    return QEL_STATUS_FAILED;
  }
  if (!im->layers) {
    elf_object* list = new_LIST(image->state, nullptr, nullptr);
    if (!list) {
      elfMessage(image->state, "QELAppendLayer: no memory for the layer list\n");
      return QEL_STATUS_FAILED;
    }
    ELF_ASSIGN(image->state, &im->layers, list);
  }
  if (lstAppendArgs(im->layers, spec, layer, 0, LST_END) != 1) return QEL_STATUS_FAILED;
  ++im->layerCount;
  return QEL_STATUS_OK;
}

QELTransform2D* QELTransform2DNew(void) {
  auto* t = static_cast<QELTransform2D*>(elfMalloc(sizeof(QELTransform2D)));
  if (t) *t = kIdentity;
  return t;
}

void QELTransform2DConcat(QELTransform2D* t, const QELTransform2D* after) {
  const double* p = t->m;
  const double* q = after->m;
  const QELTransform2D r{{p[0] * q[0] + p[1] * q[2], p[0] * q[1] + p[1] * q[3], p[2] * q[0] + p[3] * q[2],
                          p[2] * q[1] + p[3] * q[3], p[4] * q[0] + p[5] * q[2] + q[4],
                          p[4] * q[1] + p[5] * q[3] + q[5]}};
  *t = r;
}

void QELTransform2DScale(QELTransform2D* t, double sx, double sy) {
  const QELTransform2D s{{sx, 0, 0, sy, 0, 0}};
  QELTransform2DConcat(t, &s);
}

void QELTransform2DTranslate(QELTransform2D* t, double tx, double ty) {
  const QELTransform2D s{{1, 0, 0, 1, tx, ty}};
  QELTransform2DConcat(t, &s);
}

int QELTransform2DIsIdentity(const QELTransform2D* t) { return same_transform(t, &kIdentity) ? 1 : 0; }

QELTransform2D* __QELLAYERGetTransformMatrix(elf_object* layer) {
  const elf_QELLAYER* l = qelLayer(layer);
  QELTransform2D* t = l ? QELTransform2DNew() : nullptr;
  if (t && l->transform) *t = *l->transform;
  return t;
}

int __QELLAYERSetTransformMatrix(elf_object* layer, const QELTransform2D* t) {
  elf_QELLAYER* l = qelLayer(layer);
  if (!l) return QEL_STATUS_INVALID;
  QELTransform2D* copy = nullptr;
  if (t && !QELTransform2DIsIdentity(t)) {
    if (!(copy = QELTransform2DNew())) return QEL_STATUS_FAILED;
    *copy = *t;
  }
  _elfFree(l->transform);
  l->transform = copy;
  return QEL_STATUS_OK;
}

elf_object* QELNewBilevelLayer(elf_state* state, int32_t width, int32_t height, int32_t rowBytes, void* rows,
                               size_t length, double xres, double yres) {
  size_t need;
  if (width < 1 || height < 1 || rowBytes < (int64_t{width} + 7) / 8 || !rows ||
      !mono::checked_mul(static_cast<size_t>(rowBytes), static_cast<size_t>(height), &need) || length < need) {
    elfMessage(state, "QELNewBilevelLayer: %dx%d with %d bytes per row does not fit %zu bytes\n", width, height,
               rowBytes, length);
    return nullptr;
  }
  elf_object* layer = new_QELLAYER(state, nullptr, nullptr);
  elf_object* desc = layer ? new_QELHDR(state, nullptr, nullptr) : nullptr;
  if (!desc) {
    elfDiscard(layer);
    return nullptr;
  }
  elf_QELLAYER* l = qelLayer(layer);
  ELF_ASSIGN(state, &l->description, desc);
  elf_QELHDR* h = qelHdr(desc);
  h->bitsPerSample = static_cast<int32_t*>(elfCalloc(1, sizeof(int32_t)));
  h->bytesPerRow = static_cast<int32_t*>(elfCalloc(1, sizeof(int32_t)));
  elf_object* data = h->bitsPerSample && h->bytesPerRow ? elfNewPointer(state, rows, length) : nullptr;
  if (!data) {
    elfDiscard(layer);
    return nullptr;
  }
  ELF_ASSIGN(state, &l->data, data);
  h->width = width;
  h->height = height;
  h->samplesPerPixel = 1;
  h->bitsPerSampleCount = 1;
  h->bitsPerSample[0] = 1;
  h->bytesPerRowCount = 1;
  h->bytesPerRow[0] = rowBytes;
  h->photometric = QEL_PHOTO_BILEVEL;
  h->compression = QEL_COMPRESSION_NONE;
  l->kind = QEL_KIND_BILEVEL;
  l->xres = xres;
  l->yres = yres;
  l->width = width;
  l->height = height;
  return layer;
}

elf_object* QELLayer2QELIMAGE(elf_object* layer, int32_t index, elf_object* image) {
  const elf_QELLAYER* l = qelLayer(layer);
  elf_state* state = state_of(layer);
  if (!l || (image && !qelImage(image))) {
    elfMessage(state, "QELLayer2QELIMAGE: %s\n", l ? "not a QELIMAGE to add to" : "no layer");
    return nullptr;
  }
  elf_object* target = image ? image : new_QELIMAGE(state, nullptr, nullptr);
  elf_QELIMAGE* im = qelImage(target);
  if (!im) return nullptr;
  char name[32];
  std::snprintf(name, sizeof name, "layer%d", index);
  if (QELAppendLayer(target, name, layer) != QEL_STATUS_OK) {
    if (!image) elfDiscard(target);
    return nullptr;
  }
  if (!image) {
    const elf_QELHDR* h = qelHdr(l->description);
    im->width = h ? h->width : static_cast<int32_t>(l->width);
    im->height = h ? h->height : static_cast<int32_t>(l->height);
    im->xres = l->xres;
    im->yres = l->yres;
  }
  return target;
}

namespace {

// Whether an attribute value is the identity matrix: a LIST of the six numbers 1 0 0 1 0 0.
bool is_identity(elf_object* value) {
  static constexpr double identity[6] = {1, 0, 0, 1, 0, 0};
  if (elflistLength(value) != 6) return false;
  for (int32_t i = 0; i < 6; ++i) {
    elf_object* item = elfIdentValue(elflistItem(value, i));
    double v;
    if (elfIsType(item, "INTEGER")) {
      v = reinterpret_cast<elf_INTEGER*>(item)->value;
    } else if (elfIsType(item, "DOUBLE")) {
      v = reinterpret_cast<elf_DOUBLE*>(item)->value;
    } else {
      return false;
    }
    if (v != identity[i]) return false;
  }
  return true;
}

}  // namespace

int __QELIMAGEAutoAffine(elf_object* image) {
  const elf_QELIMAGE* im = qelImage(image);
  if (!im) {
    return setStatus(state_of(image), QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "__QELIMAGEAutoAffine: no image\n");
  }
  const int32_t n = elflistLength(im->layers);
  for (int32_t i = 0; i < n; ++i) {
    const elf_QELLAYER* l = qelLayer(QELGetLayer(image, i));
    const int32_t m = l ? elflistLength(l->attributes) : 0;
    for (int32_t a = 0; a < m; ++a) {
      elf_object* entry = elflistItem(l->attributes, a);
      if (!elfIsType(entry, "IDENT") || std::strcmp(reinterpret_cast<elf_IDENT*>(entry)->name, QEL_ATTR_MATRIX) != 0) {
        continue;
      }
      if (!is_identity(reinterpret_cast<elf_IDENT*>(entry)->value)) {
        return setStatus(image->state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR,
                         "__QELIMAGEAutoAffine: layer %d carries an affine matrix, which cannot be applied\n", i);
      }
    }
  }
  return QEL_STATUS_OK;
}
