// The page-image model: layer look-up, the dictionary layer, deleting layers, bringing an image
// up to date, and making bilevel layers.

#include <cstring>
#include <string>

#include "interp_fixture.h"

namespace {

using monotest::InterpTest;

class QelImageTest : public InterpTest {
 protected:
  // A raw layer w x h; rows of rowBytes, length bytes of data.
  elf_object* raw(int32_t w, int32_t h, int32_t row_bytes, size_t length) {
    void* rows = elfCalloc(1, length);
    elf_object* layer = QELNewBilevelLayer(state, w, h, row_bytes, rows, length, 200, 100);
    EXPECT_NE(layer, nullptr) << messages;
    return layer;
  }

  elf_object* dict_layer() {
    elf_object* layer = new_QELLAYER(state, nullptr, nullptr);
    qelLayer(layer)->kind = QEL_KIND_JBIG2_DICT;
    ELF_ASSIGN(state, &qelLayer(layer)->data, elfNewPointer(state, elfMalloc(5), 5));
    return layer;
  }

  // Layer list: IDENT "page", a bare QELLAYER, IDENT holding a STRING, IDENT "jbig2Dict".
  elf_object* mixed_image() {
    elf_object* image = new_QELIMAGE(state, nullptr, nullptr);
    EXPECT_EQ(QELAppendLayer(image, "page", raw(9, 2, 2, 4)), QEL_STATUS_OK);
    EXPECT_EQ(elflistInsert(qelImage(image)->layers, raw(8, 1, 1, 1), -1, 0), 0);
    EXPECT_EQ(lstAppendArgs(qelImage(image)->layers, "note:s", "not a layer", 0, LST_END), 1);
    EXPECT_EQ(QELAppendLayer(image, "jbig2Dict:", dict_layer()), QEL_STATUS_OK);
    return image;
  }
};

TEST_F(QelImageTest, LayersAreFoundByPositionAndTheDictionaryByKind) {
  elf_object* image = mixed_image();
  elf_object* layers = qelImage(image)->layers;
  EXPECT_EQ(qelImage(image)->layerCount, 2);  // only QELAppendLayer counts
  ASSERT_NE(QELGetLayer(image, 0), nullptr);
  EXPECT_EQ(qelHdr(qelLayer(QELGetLayer(image, 0))->description)->width, 9);
  ASSERT_NE(QELGetLayer(image, 1), nullptr);
  EXPECT_EQ(qelHdr(qelLayer(QELGetLayer(image, 1))->description)->width, 8);
  EXPECT_EQ(QELGetLayer(image, 2), nullptr);
  EXPECT_EQ(QELGetLayer(image, 4), nullptr);
  EXPECT_EQ(QELGetLayer(image, -1), nullptr);
  EXPECT_EQ(QELGetLayer(layers, 0), nullptr);
  EXPECT_STREQ(reinterpret_cast<elf_IDENT*>(elflistItem(layers, 3))->name, "jbig2Dict");

  int32_t position = 99;
  elf_object* dict = QELGetDictLayer(layers, &position);
  EXPECT_EQ(dict, QELGetLayer(image, 3));
  EXPECT_EQ(position, 3);
  EXPECT_EQ(QELGetDictLayer(layers, nullptr), dict);
  elf_object* plain = new_LIST(state, nullptr, nullptr);
  EXPECT_EQ(QELGetDictLayer(plain, &position), nullptr);
  EXPECT_EQ(position, -1);
  EXPECT_EQ(QELGetDictLayer(nullptr, &position), nullptr);
  elfDiscard(plain);
  elfDiscard(image);
}

TEST_F(QelImageTest, DeletedLayersAreHandedOverOrReleased) {
  elf_object* image = mixed_image();
  elf_object* removed = nullptr;
  EXPECT_EQ(QELDeleteLayer(image, 2, &removed), QEL_STATUS_INVALID);  // not a layer
  EXPECT_EQ(QELDeleteLayer(image, 9, &removed), QEL_STATUS_INVALID);
  EXPECT_EQ(QELDeleteLayer(nullptr, 0, nullptr), QEL_STATUS_INVALID);
  EXPECT_EQ(elflistLength(qelImage(image)->layers), 4);

  ASSERT_EQ(QELDeleteLayer(image, 3, &removed), QEL_STATUS_OK);
  ASSERT_NE(removed, nullptr);
  EXPECT_EQ(qelLayer(removed)->kind, QEL_KIND_JBIG2_DICT);
  EXPECT_EQ(removed->refCount, 1);
  EXPECT_EQ(qelImage(image)->layerCount, 1);
  elfRefDown(removed);

  const size_t before = heap.live_blocks();
  ASSERT_EQ(QELDeleteLayer(image, 0, nullptr), QEL_STATUS_OK);
  EXPECT_LT(heap.live_blocks(), before);
  EXPECT_EQ(qelImage(image)->layerCount, 0);
  EXPECT_EQ(elflistLength(qelImage(image)->layers), 2);
  elfDiscard(image);
}

TEST_F(QelImageTest, UpdateCountsLayersAndRefusesRawDataThatDoesNotFit) {
  elf_object* image = mixed_image();
  qelImage(image)->layerCount = 17;
  EXPECT_EQ(QELUpdateQELIMAGE(image), QEL_STATUS_OK);
  EXPECT_EQ(qelImage(image)->layerCount, 3);

  struct Case {
    const char* what;
    void (*spoil)(elf_QELHDR*, elf_POINTER*);
    const char* message;
  };
  const Case cases[] = {
      {"short data", [](elf_QELHDR*, elf_POINTER* d) { d->length = 3; }, "data shorter than its rows"},
      {"short rows", [](elf_QELHDR* h, elf_POINTER*) { h->bytesPerRow[0] = 1; }, "rows shorter than the width"},
      {"negative height", [](elf_QELHDR* h, elf_POINTER*) { h->height = -2; }, "negative size"},
      {"no bits", [](elf_QELHDR* h, elf_POINTER*) { h->bitsPerSample[0] = 0; }, "no bits per sample"},
  };
  for (const Case& c : cases) {
    elf_object* copy = copy_QELIMAGE(image);
    elf_QELLAYER* layer = qelLayer(QELGetLayer(copy, 0));
    c.spoil(qelHdr(layer->description), reinterpret_cast<elf_POINTER*>(layer->data));
    clearStatus(state);
    EXPECT_EQ(QELUpdateQELIMAGE(copy), QEL_STATUS_INVALID) << c.what;
    EXPECT_EQ(getStatus(state), QEL_STATUS_INVALID) << c.what;
    EXPECT_NE(std::string(getStatusMessage(state)).find(c.message), std::string::npos) << getStatusMessage(state);
    // Compressed data is not the rows it describes: nothing to check.
    qelHdr(layer->description)->compression = QEL_COMPRESSION_JBIG2;
    EXPECT_EQ(QELUpdateQELIMAGE(copy), QEL_STATUS_OK) << c.what;
    elfDiscard(copy);
  }
  EXPECT_EQ(QELUpdateQELIMAGE(qelImage(image)->layers), QEL_STATUS_INVALID);
  EXPECT_STREQ(getStatusMessage(state), "QELUpdateQELIMAGE: the object is not a QELIMAGE\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(QELUpdateQELIMAGE(nullptr), QEL_STATUS_INVALID);
  testing::internal::GetCapturedStderr();
  elfDiscard(image);
}

TEST_F(QelImageTest, BilevelLayersDescribeTheirRowsAndRefuseDataThatDoesNotFit) {
  elf_object* layer = raw(17, 3, 4, 12);
  const elf_QELLAYER* l = qelLayer(layer);
  const elf_QELHDR* h = qelHdr(l->description);
  ASSERT_TRUE(l && h);
  EXPECT_EQ(l->kind, QEL_KIND_BILEVEL);
  EXPECT_EQ(l->xres, 200);
  EXPECT_EQ(l->yres, 100);
  EXPECT_EQ(h->width, 17);
  EXPECT_EQ(h->height, 3);
  EXPECT_EQ(h->samplesPerPixel, 1);
  ASSERT_EQ(h->bitsPerSampleCount, 1);
  EXPECT_EQ(h->bitsPerSample[0], 1);
  ASSERT_EQ(h->bytesPerRowCount, 1);
  EXPECT_EQ(h->bytesPerRow[0], 4);
  EXPECT_EQ(h->photometric, QEL_PHOTO_BILEVEL);
  EXPECT_EQ(h->compression, QEL_COMPRESSION_NONE);
  EXPECT_EQ(reinterpret_cast<elf_POINTER*>(l->data)->length, 12u);
  elfDiscard(layer);

  struct Case {
    int32_t w, h, row_bytes;
    size_t length;
  };
  const Case refused[] = {{17, 3, 2, 12}, {17, 3, 3, 8}, {0, 3, 1, 3}, {8, 0, 1, 1}, {8, 2, 1, 1}};
  void* rows = elfMalloc(16);
  for (const Case& c : refused) {
    EXPECT_EQ(QELNewBilevelLayer(state, c.w, c.h, c.row_bytes, rows, c.length, 300, 300), nullptr)
        << c.w << "x" << c.h << " / " << c.row_bytes << " / " << c.length;
  }
  EXPECT_EQ(QELNewBilevelLayer(state, 8, 1, 1, nullptr, 1, 300, 300), nullptr);
  _elfFree(rows);  // refused layers leave the rows with the caller
  EXPECT_EQ(QELAppendLayer(nullptr, "x", nullptr), QEL_STATUS_FAILED);
}

}  // namespace
