// The text object of text layers (QELTEXT) and the making of text layers.

#include <cstring>

#include "interp_internal.h"
#include "qel_image.h"

namespace {

int empty_text(elf_object* obj) {
  const elf_QELTEXT* t = qelText(obj);
  if (!t) return -1;
  return obj->stateWord == ELF_OBJECT_EMPTY || (!obj->peer && t->kind == 0) ? 1 : 0;
}

int equal_text(elf_object* a, elf_object* b) {
  const elf_QELTEXT* x = qelText(a);
  const elf_QELTEXT* y = qelText(b);
  return x && y && x->kind == y->kind ? 1 : 0;
}

void free_text(elf_object* obj) {
  elf_QELTEXT* t = qelText(obj);
  if (!t || obj->refCount >= 1) return;
  elfFinishObject(obj);
  _elfFree(t);
}

elf_object* copy_text(elf_object* obj) {
  const elf_QELTEXT* t = qelText(obj);
  if (!t) return nullptr;
  elf_object* copy = new_QELTEXT(obj->state, nullptr, nullptr);
  if (elf_QELTEXT* c = qelText(copy)) c->kind = t->kind;
  return copy;
}

using TextHeld = interp::HeldFields<elf_QELTEXT, qelText>;
constexpr elf_type_ops text_ops{TextHeld::reset, empty_text, nullptr, copy_text, nullptr, nullptr,
                                free_text,       interp::set_no_member, interp::get_member, TextHeld::cycle, equal_text};

}  // namespace

elf_QELTEXT* qelText(elf_object* obj) {
  return elfIsType(obj, "QELTEXT") ? reinterpret_cast<elf_QELTEXT*>(obj) : nullptr;
}

elf_object* new_QELTEXT(elf_state* state, void*, elf_object* args) {
  return interp::create<elf_QELTEXT>(state, "QELTEXT", text_ops, args);
}

elf_object* QELNewTextLayer(elf_state* state, int32_t kind, const char* text, size_t length, double width,
                            double height, double xres, double yres) {
  if (!text) return nullptr;
  elf_object* layer = new_QELLAYER(state, nullptr, nullptr);
  elf_QELLAYER* l = qelLayer(layer);
  elf_object* textObj = new_QELTEXT(state, nullptr, nullptr);
  auto* bytes = static_cast<char*>(elfMalloc(length + 1));
  elf_object* data = bytes ? elfNewPointer(state, bytes, length) : nullptr;
  if (!l || !textObj || !data) {
    if (!data) _elfFree(bytes);
    elfDiscard(data);
    elfDiscard(textObj);
    elfDiscard(layer);
    return nullptr;
  }
  std::memcpy(bytes, text, length);
  bytes[length] = 0;
  qelText(textObj)->kind = kind;
  l->kind = QEL_KIND_TEXT;
  l->xres = xres;
  l->yres = yres;
  l->width = width;
  l->height = height;
  ELF_ASSIGN(state, &l->data, data);
  ELF_ASSIGN(state, &l->text, textObj);
  return layer;
}
