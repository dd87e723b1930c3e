// Object lifetime: reference counts, the assignment rule, copies, equality, cycles, and every
// failed allocation on the way.

#include <cstring>
#include <string>

#include "interp_fixture.h"

namespace {

using monotest::InterpTest;
using ObjectTest = InterpTest;

// A raw 1-bit layer of w x h with every byte set to fill.
elf_object* make_layer(elf_state* state, int32_t w, int32_t h, uint8_t fill) {
  const int32_t stride = (w + 7) / 8;
  const size_t size = static_cast<size_t>(stride) * h;
  void* rows = elfMalloc(size);
  if (!rows) return nullptr;
  std::memset(rows, fill, size);
  elf_object* layer = QELNewBilevelLayer(state, w, h, stride, rows, size, 300, 300);
  if (!layer) _elfFree(rows);
  return layer;
}

// An image of two layers with an attribute; null when any allocation fails (nothing left then).
elf_object* make_image(elf_state* state) {
  elf_object* image = new_QELIMAGE(state, nullptr, nullptr);
  if (!image) return nullptr;
  for (int i = 0; i < 2; ++i) {
    elf_object* layer = make_layer(state, 20 + i, 10, static_cast<uint8_t>(0x0F << i));
    if (!layer || QELAppendLayer(image, i ? "layer1" : "layer0", layer) != QEL_STATUS_OK) {
      elfDiscard(layer);
      elfDiscard(image);
      return nullptr;
    }
  }
  elf_object* attrs = lstBuildArgs(state, "jb2DictUID:s", "JBIG2DICT-7_0_doc.pdf", 0, LST_END);
  if (!attrs) {
    elfDiscard(image);
    return nullptr;
  }
  ELF_ASSIGN(state, &qelImage(image)->attributes, attrs);
  return image;
}

TEST_F(ObjectTest, ObjectsGoWhenTheLastHolderLetsGo) {
  const size_t before = heap.live_blocks();
  elf_object* image = make_image(state);
  ASSERT_NE(image, nullptr);
  elfRefUp(image);
  elf_object* layer = QELGetLayer(image, 0);
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(layer->refCount, 1);  // held by its IDENT
  elf_object* keeper = new_LIST(state, nullptr, nullptr);
  ASSERT_EQ(elflistInsert(keeper, layer, 0, 0), 0);
  EXPECT_EQ(layer->refCount, 2);

  elfRefDown(image);  // the image, its lists and the other layer go; this layer stays with keeper
  EXPECT_EQ(layer->refCount, 1);
  EXPECT_EQ(qelLayer(layer)->kind, QEL_KIND_BILEVEL);
  EXPECT_EQ(reinterpret_cast<elf_POINTER*>(qelLayer(layer)->data)->length, 30u);

  // The free operation leaves an object that is still held.
  layer->ops.free(layer);
  EXPECT_EQ(qelLayer(layer)->kind, QEL_KIND_BILEVEL);
  elfDiscard(keeper);
  EXPECT_EQ(heap.live_blocks(), before);
}

TEST_F(ObjectTest, AssignmentHoldsTheNewAndReleasesTheOld) {
  elf_object* layer = new_QELLAYER(state, nullptr, nullptr);
  elf_object*& slot = qelLayer(layer)->description;
  elf_object* a = new_QELHDR(state, nullptr, nullptr);
  elf_object* b = new_QELHDR(state, nullptr, nullptr);
  ELF_ASSIGN(state, &slot, a);
  EXPECT_EQ(a->refCount, 1);
  const size_t with_a = heap.live_blocks();
  ELF_ASSIGN(state, &slot, b);  // a had no other holder: it goes
  EXPECT_EQ(slot, b);
  EXPECT_EQ(heap.live_blocks(), with_a - 2);  // record and type name
  EXPECT_TRUE(messages.empty());
  ELF_ASSIGN(state, &slot, b);
  EXPECT_EQ(b->refCount, 1);
  EXPECT_NE(messages.find("cannot assign object to itself"), std::string::npos);
  EXPECT_NE(messages.find("object_test.cpp"), std::string::npos);
  ELF_ASSIGN(state, &slot, nullptr);
  EXPECT_EQ(slot, nullptr);
  elfDiscard(layer);
}

int released = 0;
void count_release(elf_object* pointer) {
  ++released;
  auto* p = reinterpret_cast<elf_POINTER*>(pointer);
  _elfFree(p->data);
  p->data = nullptr;
}

TEST_F(ObjectTest, CopiesAreDeepEqualAndIndependent) {
  elf_object* image = make_image(state);
  ASSERT_NE(image, nullptr);
  elf_object* copy = copy_QELIMAGE(image);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(image->ops.equal(image, copy), 1);
  auto* original_data = reinterpret_cast<elf_POINTER*>(qelLayer(QELGetLayer(image, 1))->data);
  auto* copied_data = reinterpret_cast<elf_POINTER*>(qelLayer(QELGetLayer(copy, 1))->data);
  ASSERT_NE(original_data->data, copied_data->data);
  static_cast<uint8_t*>(copied_data->data)[3] ^= 1;
  EXPECT_EQ(image->ops.equal(image, copy), 0);
  EXPECT_EQ(static_cast<uint8_t*>(original_data->data)[3], 0x1E);

  // Data owned by a release procedure is not copied, and is released once.
  released = 0;
  elf_object* table = elfNewPointer(state, elfMalloc(40), 40);
  reinterpret_cast<elf_POINTER*>(table)->release = count_release;
  EXPECT_EQ(copy_POINTER(table), nullptr);
  EXPECT_NE(messages.find("cannot be copied"), std::string::npos);
  elfDiscard(table);
  EXPECT_EQ(released, 1);
  elfDiscard(copy);
  elfDiscard(image);
}

TEST_F(ObjectTest, EqualityAndEmptinessFollowTheValues) {
  elf_object* three = elfNewInteger(state, 3);
  elf_object* other_three = elfNewInteger(state, 3);
  elf_object* four = elfNewInteger(state, 4);
  elf_object* real_three = elfNewDouble(state, 3);
  elf_object* empty_text = elfNewString(state, "");
  elf_object* list = new_LIST(state, nullptr, nullptr);
  struct Case {
    elf_object *a, *b;
    int equal;
  };
  const Case cases[] = {{three, other_three, 1}, {three, four, 0}, {three, real_three, 0}, {list, three, 0}};
  for (const Case& c : cases) EXPECT_EQ(c.a->ops.equal(c.a, c.b), c.equal) << c.a->typeName << " " << c.b->typeName;
  EXPECT_EQ(empty_text->ops.empty(empty_text), 1);
  EXPECT_EQ(list->ops.empty(list), 1);
  ASSERT_EQ(elflistInsert(list, three, -1, 0), 0);
  EXPECT_EQ(list->ops.empty(list), 0);
  list->stateWord = ELF_OBJECT_EMPTY;
  EXPECT_EQ(list->ops.empty(list), 1);
  for (elf_object* o : {other_three, four, real_three, empty_text, list}) elfDiscard(o);
}

TEST_F(ObjectTest, ListsRefuseToHoldThemselves) {
  elf_object* outer = new_LIST(state, nullptr, nullptr);
  elf_object* inner = new_LIST(state, nullptr, nullptr);
  ASSERT_EQ(elflistInsert(outer, inner, -1, 0), 0);
  EXPECT_EQ(elflistInsert(outer, outer, -1, 0), -1);
  EXPECT_EQ(elflistInsert(inner, outer, -1, 0), -1);
  EXPECT_EQ(lstAppendArgs(inner, "up:", outer, 0, LST_END), 0);  // the IDENT would hold the list
  EXPECT_EQ(outer->refCount, 0);
  EXPECT_EQ(elflistLength(inner), 0);
  EXPECT_NE(messages.find("cannot go into it"), std::string::npos);
  elfDiscard(outer);
}

TEST_F(ObjectTest, MovingToAnotherStateMovesEverythingHeld) {
  elf_state* other = initState(state, "other");
  elf_object* image = make_image(state);
  ASSERT_TRUE(other && image);
  image->ops.resetELF(image, other);
  EXPECT_EQ(image->state, other);
  EXPECT_EQ(qelImage(image)->layers->state, other);
  EXPECT_EQ(QELGetLayer(image, 1)->state, other);
  EXPECT_EQ(qelLayer(QELGetLayer(image, 1))->description->state, other);
  EXPECT_EQ(qelImage(image)->attributes->state, other);
  elfDiscard(image);
  freeState(other);
}

// Builds, copies, scans and dismantles an image; every failed allocation on the way must leave
// nothing behind.
bool exercise(elf_state* state) {
  elf_object* image = make_image(state);
  if (!image) return false;
  elfRefUp(image);
  elf_object* copy = copy_QELIMAGE(image);
  elfRefUp(copy);
  elf_object* args = lstBuildArgs(state, "img:QELIMAGE", image, 0, "profile:i", 3, 0, LST_END);
  bool ok = copy && args && lstAppendArgs(args, "copy:", copy, 0, "note:s", "x", 0, LST_END) == 1;
  elf_object* removed = nullptr;
  if (ok) ok = QELDeleteLayer(copy, 0, &removed) == QEL_STATUS_OK;
  elfRefDown(removed);
  elfDiscard(args);
  elfRefDown(copy);
  elfRefDown(image);
  return ok;
}

TEST_F(ObjectTest, EveryFailedAllocationLeavesNothingBehind) {
  const size_t before = heap.live_blocks();
  for (size_t k = 1;; ++k) {
    const size_t failures = heap.failures();
    heap.fail_at(k);
    const bool ok = exercise(state);
    const bool failed = heap.failures() > failures;
    heap.fail_at(0);
    ASSERT_EQ(heap.live_blocks(), before) << "allocation " << k;
    if (!failed) {
      EXPECT_TRUE(ok);
      break;
    }
    EXPECT_FALSE(ok) << "allocation " << k;
  }
}

}  // namespace
