// The page-image model: layer look-up, the dictionary layer, deleting layers, bringing an image
// up to date, and making bilevel layers.

#include <cstring>
#include <string>

#include "interp_fixture.h"
#include "qel_struct.h"

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

// A C-level image of a colour rectangle with a transform, an interleaved RGB layer and a text
// layer, all of it on the heap as readers build them.
QELImage* struct_image() {
  auto* im = static_cast<QELImage*>(elfCalloc(1, sizeof(QELImage)));
  im->width = 40;
  im->height = 30;
  im->xres = im->yres = 150;
  auto* rect = static_cast<QELLayer*>(elfCalloc(1, sizeof(QELLayer)));
  rect->kind = QEL_KIND_RECTANGLE;
  rect->x = 3;
  rect->y = 4;
  rect->width = 10;
  rect->height = 5;
  rect->xres = rect->yres = 96;
  const int32_t colour[5] = {255, 128, 0, 0, 111};
  std::memcpy(rect->colour, colour, sizeof colour);
  rect->transform = static_cast<double*>(elfCalloc(6, sizeof(double)));
  const double m[6] = {2, 0, 0, 2, 5, 6};
  std::memcpy(rect->transform, m, sizeof m);
  auto* rgb = static_cast<QELLayer*>(elfCalloc(1, sizeof(QELLayer)));
  rgb->kind = QEL_KIND_IMAGE;
  rgb->width = 2;
  rgb->height = 1;
  rgb->xres = rgb->yres = 150;
  rgb->header = static_cast<QELHdr*>(elfCalloc(1, sizeof(QELHdr)));
  rgb->header->channels = 3;
  rgb->header->layout = QEL_LAYOUT_INTERLEAVED;
  rgb->header->width = 2;
  rgb->header->height = 1;
  rgb->header->photometry = 2;
  rgb->header->bitsPerChannel = static_cast<int32_t*>(elfCalloc(3, sizeof(int32_t)));
  rgb->header->bytesPerRow = static_cast<int32_t*>(elfCalloc(3, sizeof(int32_t)));
  rgb->header->bitsPerChannel[0] = 8;
  rgb->header->bytesPerRow[0] = 6;
  rgb->dataLength = 6;
  rgb->data = elfCalloc(1, 6);
  std::memcpy(rgb->data, "\1\2\3\4\5\6", 6);
  auto* text = static_cast<QELLayer*>(elfCalloc(1, sizeof(QELLayer)));
  text->kind = QEL_KIND_TEXT;
  text->dataLength = 7;
  text->data = elfCalloc(1, 8);
  std::memcpy(text->data, "<Page/>", 7);
  im->layers = rect;
  rect->next = rgb;
  rgb->next = text;
  im->layerCount = 3;
  return im;
}

TEST_F(QelImageTest, StructImagesBecomeObjectsThatOwnCopies) {
  QELImage* from = struct_image();
  elf_object* image = __QELStruct2Obj(state, from);
  __QELImageFree(from);  // the object holds copies: the C-level image goes at once
  ASSERT_NE(image, nullptr) << messages;
  const elf_QELIMAGE* im = qelImage(image);
  EXPECT_EQ(im->width, 40);
  EXPECT_EQ(im->xres, 150.0);
  ASSERT_EQ(im->layerCount, 3);

  const elf_QELLAYER* rect = qelLayer(QELGetLayer(image, 0));
  ASSERT_NE(rect, nullptr);
  EXPECT_EQ(rect->kind, QEL_KIND_RECTANGLE);
  EXPECT_EQ(rect->x, 3.0);
  EXPECT_EQ(rect->height, 5.0);
  ASSERT_NE(rect->transform, nullptr);
  EXPECT_EQ(rect->transform->m[4], 5.0);
  elf_object* colour = nullptr;
  int32_t photometric = 0;
  ASSERT_EQ(lstScanArgs(rect->attributes, "_DIOcolor:LIST", LST_REQUIRED, &colour, "_DIOcolorPhotometric:i",
                        LST_REQUIRED, &photometric, LST_END),
            1);
  EXPECT_EQ(photometric, 18);
  ASSERT_EQ(elflistLength(colour), 3);
  EXPECT_EQ(reinterpret_cast<elf_INTEGER*>(elfIdentValue(elflistItem(colour, 1)))->value, 128);

  const elf_QELLAYER* rgb = qelLayer(QELGetLayer(image, 1));
  const elf_QELHDR* h = qelHdr(rgb->description);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->samplesPerPixel, 3);
  EXPECT_EQ(h->interleave, 1);
  EXPECT_EQ(h->bitsPerSampleCount, 1);
  EXPECT_EQ(h->bitsPerSample[0], 8);
  EXPECT_EQ(h->bytesPerRow[0], 6);
  const auto* px = reinterpret_cast<const elf_POINTER*>(rgb->data);
  ASSERT_EQ(px->length, 6u);
  EXPECT_EQ(std::memcmp(px->data, "\1\2\3\4\5\6", 6), 0);
  EXPECT_EQ(rgb->attributes, nullptr);

  const elf_QELLAYER* text = qelLayer(QELGetLayer(image, 2));
  EXPECT_EQ(text->kind, QEL_KIND_TEXT);
  EXPECT_EQ(text->text, nullptr);
  EXPECT_EQ(std::string(static_cast<const char*>(reinterpret_cast<const elf_POINTER*>(text->data)->data), 7),
            "<Page/>");
  elfDiscard(image);
  EXPECT_EQ(__QELStruct2Obj(state, nullptr), nullptr);
}

TEST_F(QelImageTest, StructImagesThatRunOutOfMemoryLeaveNothing) {
  QELImage* from = struct_image();
  for (size_t k = 1;; ++k) {
    heap.fail_at(k);
    elf_object* image = __QELStruct2Obj(state, from);
    heap.fail_at(0);
    if (image) {
      elfDiscard(image);
      break;
    }
  }
  __QELImageFree(from);
}

}  // namespace
