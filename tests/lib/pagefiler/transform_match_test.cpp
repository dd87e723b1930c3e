// Specs of page images (getTransformSpec, initByImage), matchList's scores, and real pages matched
// against the kind of targets writers keep.

#include <cctype>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "pages.h"
#include "tools.h"
#include "transform_fixture.h"

namespace {

using monotest::block_text;
using monotest::page_text;
using monotest::photometries;
using monotest::SpecTest;

// What a layer's description says; bits 0 leaves bits per sample out.
struct LayerDesc {
  int32_t kind;
  int32_t bits;
  int32_t channels;
  int32_t photometric;
  int32_t compression;
  int32_t width;
  int32_t height;
  double xres;
  double yres;
  int32_t interleave = 1;
};

class SpecImageTest : public SpecTest {
 protected:
  // A layer with its description and, when given, its samples (this heap, taken over).
  elf_object* layer(const LayerDesc& d, void* samples = nullptr, size_t length = 0) {
    elf_object* layer = new_QELLAYER(state, nullptr, nullptr);
    elf_object* desc = new_QELHDR(state, nullptr, nullptr);
    elf_QELLAYER* l = qelLayer(layer);
    ELF_ASSIGN(state, &l->description, desc);
    elf_QELHDR* h = qelHdr(desc);
    h->width = d.width;
    h->height = d.height;
    h->samplesPerPixel = d.channels;
    if (d.bits) {
      h->bitsPerSampleCount = d.channels;
      h->bitsPerSample = static_cast<int32_t*>(elfCalloc(static_cast<size_t>(d.channels), sizeof(int32_t)));
      for (int32_t i = 0; i < d.channels; ++i) h->bitsPerSample[i] = d.bits;
      h->bytesPerRowCount = 1;
      h->bytesPerRow = static_cast<int32_t*>(elfCalloc(1, sizeof(int32_t)));
      h->bytesPerRow[0] = (d.width * d.bits * d.channels + 7) / 8;
    }
    h->photometric = d.photometric;
    h->compression = d.compression;
    h->interleave = d.interleave;
    l->kind = d.kind;
    l->xres = d.xres;
    l->yres = d.yres;
    l->width = d.width;
    l->height = d.height;
    if (samples) ELF_ASSIGN(state, &l->data, elfNewPointer(state, samples, length));
    return layer;
  }

  elf_object* image(int32_t width, int32_t height, const std::vector<elf_object*>& layers) {
    elf_object* im = keep(new_QELIMAGE(state, nullptr, nullptr));
    qelImage(im)->width = width;
    qelImage(im)->height = height;
    for (size_t i = 0; i < layers.size(); ++i) {
      EXPECT_EQ(QELAppendLayer(im, ("layer" + std::to_string(i + 1)).c_str(), layers[i]), 0);
    }
    return im;
  }

  // The page's own spec as scripts make it: getTransformSpec, then its member initByImage.
  elf_object* page_spec(elf_object* im, int* status = nullptr) {
    elf_object* args = new_LIST(state, nullptr, nullptr);
    elfDiscard(result);
    result = nullptr;
    EXPECT_EQ(getTransformSpec(im, args, &result), 0) << status_message();
    elfDiscard(args);
    elf_object* spec = keep(result_value("transSpec"));
    const int init = ask(spec, "initByImage", lstBuildArgs(state, "image:QELIMAGE", im, 0, LST_END));
    if (status) {
      *status = init;
    } else {
      EXPECT_EQ(init, 0) << status_message();
    }
    return spec;
  }

  int ask(elf_object* spec, const char* member, elf_object* args = nullptr) {
    const int status = call(spec, member, args);
    elfDiscard(args);
    return status;
  }

  // matchList of spec over candidates: the index of the one chosen (-1 for none) and exactness.
  int match(elf_object* spec, const std::vector<elf_object*>& candidates, int32_t* exact = nullptr) {
    // Held here: the argument list that carries it drops its reference when it goes.
    elf_object* list = keep(new_LIST(state, nullptr, nullptr));
    for (elf_object* c : candidates) elflistInsert(list, c, -1, 0);
    EXPECT_EQ(ask(spec, "matchList", lstBuildArgs(state, "speclist:LIST", list, 0, LST_END)), 0);
    EXPECT_EQ(result_names(), "exact nearmatch");
    elf_object* chosen = result_value("nearmatch");
    if (exact) *exact = result_int("exact");
    int index = -1;
    for (size_t i = 0; i < candidates.size(); ++i) {
      if (candidates[i] == chosen && index < 0) index = static_cast<int>(i);
    }
    return index;
  }
};

// ---- Specs from images ----

TEST_F(SpecImageTest, GetTransformSpecDescribesTheImageByAttributesOnly) {
  elf_object* two = image(2550, 3300, {layer({7, 1, 1, 0x15, 0, 2550, 3300, 300, 300}),
                                       layer({5, 0, 0, 0, 0, 0, 0, 0, 0})});
  elf_object* args = new_LIST(state, nullptr, nullptr);
  ASSERT_EQ(getTransformSpec(two, args, &result), 0);
  elf_object* spec = result_value("transSpec");
  ASSERT_NE(dioTransformSpec(spec), nullptr);
  EXPECT_EQ(dioTransformSpec(spec)->coreImage, nullptr);
  elf_object* attributes = dioTransformSpec(spec)->attributes;
  int32_t multilayer = -1, width = -1, height = -1;
  ASSERT_TRUE(lstScanArgs(attributes, "multilayer:b", LST_REQUIRED, &multilayer, "width:i", LST_REQUIRED, &width,
                          "height:i", LST_REQUIRED, &height, LST_END));
  EXPECT_EQ(elflistLength(attributes), 3);
  EXPECT_EQ(multilayer, 1);
  EXPECT_EQ(width, 2550);
  EXPECT_EQ(height, 3300);
  elfDiscard(result);
  ASSERT_EQ(getTransformSpec(image(10, 20, {layer({7, 1, 1, 0x15, 0, 10, 20, 300, 300})}), args, &result), 0);
  ASSERT_TRUE(lstScanArgs(dioTransformSpec(result_value("transSpec"))->attributes, "multilayer:b", LST_REQUIRED,
                          &multilayer, LST_END));
  EXPECT_EQ(multilayer, 0);

  elfDiscard(result);
  result = nullptr;
  EXPECT_EQ(getTransformSpec(nullptr, args, &result), QEL_STATUS_INVALID);
  EXPECT_EQ(status_message(), "No image object provided for getTransformSpec\n");
  EXPECT_EQ(getTransformSpec(args, args, &result), QEL_STATUS_INVALID);
  EXPECT_EQ(status_message(), "Image object is not valid getTransformSpec\n");
  EXPECT_EQ(result, nullptr);
  elfDiscard(args);
}

TEST_F(SpecImageTest, InitByImageReadsTheRasterLayers) {
  const std::string none = "depth 0 comp 0 q 0 arith 0 il 0 res 0x0 size 0x0 photo none";
  struct Case {
    const char* what;
    int32_t width, height;
    std::vector<LayerDesc> layers;
    const char* page;
    std::string binary, contone;
  };
  const Case cases[] = {
      {"one raw 1-bit layer", 2550, 3300, {{7, 1, 1, 0x15, 0, 2550, 3300, 300.9, 299.2}},
       "format 0 sub 0 orient 1 mode 1 ppf 0 rotate 0 affine 0",
       "depth 1 comp 0 q 80 arith 0 il 1 res 300x299 size 2550x3300 photo 21", none},
      {"one RGB layer, wider than high", 3300, 2550, {{1, 8, 3, 111, 1, 3300, 2550, 200, 200, 2}},
       "format 0 sub 0 orient 2 mode 1 ppf 0 rotate 0 affine 0", none,
       "depth 24 comp 1 q 80 arith 0 il 2 res 200x200 size 3300x2550 photo 111"},
      {"a square grey page", 500, 500, {{1, 8, 1, 22, 0, 500, 500, 100, 100}},
       "format 0 sub 0 orient 1 mode 1 ppf 0 rotate 0 affine 0", none,
       "depth 8 comp 0 q 80 arith 0 il 1 res 100x100 size 500x500 photo 22"},
      {"a coloured mask alone", 100, 200, {{3, 1, 1, 0x15, 3, 100, 200, 300, 300}},
       "format 0 sub 0 orient 1 mode 3 ppf 0 rotate 0 affine 0",
       "depth 1 comp 3 q 80 arith 0 il 1 res 300x300 size 100x200 photo 21", none},
      {"mask and background, beside a dictionary", 2550, 3300,
       {{5, 0, 0, 0, 0, 0, 0, 0, 0}, {1, 8, 3, 111, 1, 850, 1100, 100, 100}, {7, 1, 1, 0x15, 7, 2550, 3300, 300, 300}},
       "format 0 sub 0 orient 1 mode 2 ppf 0 rotate 0 affine 0",
       "depth 1 comp 7 q 80 arith 0 il 1 res 300x300 size 2550x3300 photo 21",
       "depth 24 comp 1 q 80 arith 0 il 1 res 100x100 size 850x1100 photo 111"},
      {"two masks: the first fills the binary block", 100, 100,
       {{7, 1, 1, 0x15, 3, 100, 100, 300, 300}, {7, 1, 1, 0x15, 7, 100, 100, 600, 600}},
       "format 0 sub 0 orient 1 mode 2 ppf 0 rotate 0 affine 0",
       "depth 1 comp 3 q 80 arith 0 il 1 res 300x300 size 100x100 photo 21", none},
      // Without bits per sample the depth is judged from the channels and the coding.
      {"JPEG without bits", 100, 100, {{1, 0, 1, 22, 1, 100, 100, 300, 300}},
       "format 0 sub 0 orient 1 mode 1 ppf 0 rotate 0 affine 0", none,
       "depth 8 comp 1 q 80 arith 0 il 1 res 300x300 size 100x100 photo 22"},
      {"three channels without bits", 100, 100, {{1, 0, 3, 111, 0, 100, 100, 300, 300}},
       "format 0 sub 0 orient 1 mode 1 ppf 0 rotate 0 affine 0", none,
       "depth 24 comp 0 q 80 arith 0 il 1 res 300x300 size 100x100 photo 111"},
      {"JBIG2 without bits is binary data", 100, 100, {{7, 0, 1, 0x15, 7, 100, 100, 300, 300}},
       "format 0 sub 0 orient 1 mode 1 ppf 0 rotate 0 affine 0",
       "depth 1 comp 7 q 80 arith 0 il 1 res 300x300 size 100x100 photo 21", none},
  };
  for (const Case& c : cases) {
    std::vector<elf_object*> layers;
    for (const LayerDesc& d : c.layers) layers.push_back(layer(d));
    elf_object* spec = page_spec(image(c.width, c.height, layers));
    const DIOCoreSpec* core = dioCoreSpec(spec);
    ASSERT_NE(core, nullptr) << c.what;
    EXPECT_EQ(page_text(*core), c.page) << c.what;
    EXPECT_EQ(block_text(core->binary), c.binary) << c.what;
    EXPECT_EQ(block_text(core->contone), c.contone) << c.what;
  }
  EXPECT_EQ(messages, "");
}

TEST_F(SpecImageTest, InitByImageTakesRotationAndMatrixAndReportsWhatItCannotRead) {
  elf_object* raster = layer({7, 1, 1, 0x15, 0, 100, 200, 300, 300});
  elf_object* im = image(100, 200, {raster});
  elf_object* attr = lstBuildArgs(state, "name:s", "_PDFrotate", 0, "obj:i", 90, 0, LST_END);
  ASSERT_EQ(call(im, "setAttr", attr), 0);
  elfDiscard(attr);
  attr = lstBuildArgs(state, "name:s", "_DIOMatrixTransform", 0, "obj:s", "1 0 0 1 0 0", 0, LST_END);
  ASSERT_EQ(call(raster, "setAttr", attr), 0);
  elfDiscard(attr);
  EXPECT_EQ(page_text(*dioCoreSpec(page_spec(im))), "format 0 sub 0 orient 1 mode 1 ppf 0 rotate 90 affine 1");

  // A rotation that is no number: reported, the record kept as far as it got.
  attr = lstBuildArgs(state, "name:s", "_PDFrotate", 0, "obj:s", "ninety", 0, LST_END);
  ASSERT_EQ(call(im, "setAttr", attr), 0);
  elfDiscard(attr);
  int status = 0;
  elf_object* spec = page_spec(im, &status);
  EXPECT_EQ(status, QEL_STATUS_FAILED);
  EXPECT_EQ(status_message(), "createCoreByImage: List scan error while scan for PDF rotate\n");
  EXPECT_EQ(page_text(*dioCoreSpec(spec)), "format 0 sub 0 orient 1 mode 0 ppf 0 rotate 0 affine 0");

  // No raster at all: a fresh record with its orientation, and the report.
  spec = page_spec(image(300, 200, {layer({5, 0, 0, 0, 0, 0, 0, 0, 0}), layer({31, 0, 0, 0, 0, 0, 0, 0, 0})}),
                   &status);
  EXPECT_EQ(status, QEL_STATUS_INVALID);
  EXPECT_EQ(status_message(), "createCoreByImage: No rasters found on page\n");
  EXPECT_EQ(page_text(*dioCoreSpec(spec)), "format 0 sub 0 orient 2 mode 0 ppf 0 rotate 0 affine 0");
  EXPECT_EQ(dioCoreSpec(spec)->binary.depth, 0);

  // A second initByImage replaces the record and what it held.
  ASSERT_EQ(ask(spec, "initByImage", lstBuildArgs(state, "image:QELIMAGE", image(10, 10, {layer({1, 8, 1, 22, 0, 10,
                                                                                                10, 72, 72})}),
                                                  0, LST_END)),
            0);
  EXPECT_EQ(photometries(dioCoreSpec(spec)->contone), "22");
}

TEST_F(SpecImageTest, InitByImageUnderEveryFailedAllocation) {
  elf_object* im = image(100, 100, {layer({7, 1, 1, 0x15, 0, 100, 100, 300, 300}),
                                    layer({1, 8, 3, 111, 1, 100, 100, 300, 300})});
  elf_object* spec = default_spec();
  monotest::give_list(&dioCoreSpec(spec)->contone, {5, 6});
  for (size_t k = 1;; ++k) {
    clearStatus(state);
    const size_t failures = heap.failures();
    heap.fail_at(k);
    const int status = __createCoreByImage(state, spec, im);
    const bool failed = heap.failures() > failures;
    heap.fail_at(0);
    if (!failed) {
      EXPECT_EQ(status, 0);
      break;
    }
    // Whatever failed, a record describes the page (a new one, or the old one refilled); only a
    // photometry list may be missing, and that is reported.
    const DIOCoreSpec* c = dioCoreSpec(spec);
    ASSERT_NE(c, nullptr) << "allocation " << k;
    EXPECT_EQ(c->pageMode, DIO_PAGE_MRC) << "allocation " << k;
    EXPECT_EQ(block_text(c->binary).substr(0, 30), "depth 1 comp 0 q 80 arith 0 il") << "allocation " << k;
    if (status == 0) {
      EXPECT_EQ(photometries(c->binary) + " " + photometries(c->contone), "21 111") << "allocation " << k;
    } else {
      EXPECT_EQ(status, QEL_STATUS_FAILED) << "allocation " << k;
      EXPECT_EQ(status_message(), "__createPhotometryList: Unable to allocate list\n") << "allocation " << k;
    }
  }
}

// ---- Matching ----

class SpecScoreTest : public SpecImageTest {
 protected:
  // A spec without a record whose attributes count k: it scores exactly k against a page spec.
  elf_object* ruler(int k) {
    elf_object* spec = keep(new_elf_object(state, "TRANSFORMSPEC", nullptr));
    elf_object* list = new_LIST(state, nullptr, nullptr);
    for (int i = 0; i < k; ++i) lstAppendArgs(list, ("a" + std::to_string(i) + ":i").c_str(), i, 0, LST_END);
    ELF_ASSIGN(state, &dioTransformSpec(spec)->attributes, list);
    return spec;
  }

  // The score of candidate against page: the least k whose ruler, placed first, loses to it.
  int score(elf_object* page, elf_object* candidate) {
    for (int k = 0; k <= 40; ++k) {
      if (match(page, {ruler(k), candidate}) == 1) return k - 1;
    }
    return 99;
  }
};

TEST_F(SpecScoreTest, EveryTermOfTheScore) {
  // A page: 1-bit, G4, 300 dpi, portrait, flat; and a candidate that fits it exactly.
  auto page = [](DIOCoreSpec* s) {
    *s = DIOCoreSpec{};
    s->orientation = DIO_ORIENT_PORTRAIT;
    s->pageMode = DIO_PAGE_FLAT;
    s->binary = {1, 3, 80, 0, 1, nullptr, 300, 300, 2550, 3300};
    monotest::give_list(&s->binary, {0x15});
  };
  auto fit = [](DIOCoreSpec* c) {
    *c = DIOCoreSpec{};
    c->binary = {1, -1, 80, 0, 1, nullptr, 300, 300, 0, 0};
  };
  struct Case {
    const char* what;
    std::function<void(DIOCoreSpec* s, DIOCoreSpec* c)> change;
    int score;
  };
  const Case cases[] = {
      {"exact", [](DIOCoreSpec*, DIOCoreSpec*) {}, 0},
      {"a rotation one side only", [](DIOCoreSpec*, DIOCoreSpec* c) { c->rotate = 90; }, 1},
      {"rotations both sides", [](DIOCoreSpec* s, DIOCoreSpec* c) { s->rotate = 90, c->rotate = 180; }, 0},
      {"another orientation", [](DIOCoreSpec*, DIOCoreSpec* c) { c->orientation = 2; }, 1},
      {"the same orientation", [](DIOCoreSpec*, DIOCoreSpec* c) { c->orientation = 1; }, 0},
      {"another page mode", [](DIOCoreSpec*, DIOCoreSpec* c) { c->pageMode = 2; }, 1},
      {"a page without a page mode", [](DIOCoreSpec* s, DIOCoreSpec* c) { s->pageMode = 0, c->pageMode = 2; }, 0},
      {"no binary raster taken", [](DIOCoreSpec*, DIOCoreSpec* c) { c->binary.depth = 0; }, 8},
      {"uncompressed taken, coded given", [](DIOCoreSpec*, DIOCoreSpec* c) { c->binary.compression = 0; }, 1},
      {"another coding", [](DIOCoreSpec*, DIOCoreSpec* c) { c->binary.compression = 7; }, 2},
      {"the same coding", [](DIOCoreSpec*, DIOCoreSpec* c) { c->binary.compression = 3; }, 0},
      {"coded taken, uncompressed given", [](DIOCoreSpec* s, DIOCoreSpec* c) { s->binary.compression = 0, c->binary.compression = 3; }, 2},
      {"too fine across", [](DIOCoreSpec*, DIOCoreSpec* c) { c->binary.maxXRes = 200; }, 1},
      {"too fine down", [](DIOCoreSpec*, DIOCoreSpec* c) { c->binary.maxYRes = 299.5; }, 1},
      {"another width", [](DIOCoreSpec*, DIOCoreSpec* c) { c->binary.width = 1728; }, 1},
      {"another height", [](DIOCoreSpec*, DIOCoreSpec* c) { c->binary.height = 2200; }, 1},
      {"the same size", [](DIOCoreSpec*, DIOCoreSpec* c) { c->binary.width = 2550, c->binary.height = 3300; }, 0},
      {"another photometry", [](DIOCoreSpec*, DIOCoreSpec* c) { monotest::give_list(&c->binary, {22}); }, 1},
      {"the photometry among others", [](DIOCoreSpec*, DIOCoreSpec* c) { monotest::give_list(&c->binary, {22, 0x15}); }, 0},
      {"a page without photometry", [](DIOCoreSpec* s, DIOCoreSpec* c) {
         _elfFree(s->binary.photometries->entries);
         _elfFree(s->binary.photometries);
         s->binary.photometries = nullptr;
         monotest::give_list(&c->binary, {22});
       }, 0},
      {"a contone page against a binary target", [](DIOCoreSpec* s, DIOCoreSpec*) {
         s->contone = {24, 0, 80, 0, 1, nullptr, 300, 300, 10, 10};
       }, 8},
      {"a deeper contone page", [](DIOCoreSpec* s, DIOCoreSpec* c) {
         s->contone = {24, 1, 80, 0, 1, nullptr, 300, 300, 10, 10};
         c->contone = {8, -1, 80, 0, 1, nullptr, 65000, 65000, 0, 0};
       }, 1},
      {"everything at once", [](DIOCoreSpec* s, DIOCoreSpec* c) {
         s->contone = {24, 1, 80, 0, 1, nullptr, 300, 300, 10, 10};
         c->contone = {8, 6, 80, 0, 1, nullptr, 150, 150, 20, 20};
         c->rotate = 90;
         c->orientation = 2;
         c->pageMode = 2;
         c->binary.depth = 0;
       }, 1 + 1 + 1 + 8 + (1 + 2 + 1 + 1 + 1 + 1)},
  };
  for (const Case& c : cases) {
    elf_object* s = zero_spec();
    elf_object* t = zero_spec();
    page(dioCoreSpec(s));
    fit(dioCoreSpec(t));
    c.change(dioCoreSpec(s), dioCoreSpec(t));
    EXPECT_EQ(score(s, t), c.score) << c.what;
  }
}

TEST_F(SpecScoreTest, SpecsWithoutRecordsAttributesTiesAndEmptyLists) {
  elf_object* page = default_spec();
  elf_object* bare = keep(new_elf_object(state, "TRANSFORMSPEC", nullptr));
  EXPECT_EQ(score(page, bare), 0) << "a candidate without record fits";
  EXPECT_EQ(score(page, ruler(3)), 3);
  elf_object* tagged = default_spec();
  ASSERT_EQ(ask(tagged, "setAttr", lstBuildArgs(state, "name:s", "IOP_rotate", 0, "obj:i", 90, 0, LST_END)), 0);
  EXPECT_EQ(score(page, tagged), 1);

  // A page without record fits nothing: every candidate scores 17 and its attributes.
  int32_t exact = -1;
  EXPECT_EQ(match(bare, {bare}, &exact), 0);
  EXPECT_EQ(exact, 0);
  EXPECT_EQ(match(bare, {tagged, ruler(1), default_spec()}, &exact), 2);

  elf_object* first = default_spec();
  elf_object* second = default_spec();
  EXPECT_EQ(match(page, {first, second}, &exact), 0) << "ties go to the first";
  EXPECT_EQ(exact, 1);
  EXPECT_EQ(match(page, {tagged, second, first}, &exact), 1);
  EXPECT_EQ(match(page, {}, &exact), -1);
  EXPECT_EQ(exact, 0);
  EXPECT_EQ(result_value("nearmatch"), nullptr);
  // Entries that are no spec are no candidates.
  EXPECT_EQ(match(page, {int_list({1}), tagged}, &exact), 1);
  EXPECT_EQ(exact, 0);
}

// ---- Real pages ----

struct Pnm {
  std::string magic;
  int32_t width = 0, height = 0;
  std::string samples;
};

Pnm read_pnm(const std::string& path) {
  const std::string bytes = monotest::read_file(path);
  Pnm p;
  size_t at = 0;
  auto word = [&] {
    while (at < bytes.size() && (isspace(static_cast<unsigned char>(bytes[at])) || bytes[at] == '#')) {
      if (bytes[at] == '#') {
        while (at < bytes.size() && bytes[at] != '\n') ++at;
      } else {
        ++at;
      }
    }
    const size_t start = at;
    while (at < bytes.size() && !isspace(static_cast<unsigned char>(bytes[at]))) ++at;
    return bytes.substr(start, at - start);
  };
  p.magic = word();
  p.width = std::stoi(word());
  p.height = std::stoi(word());
  if (p.magic != "P4") word();  // the maximum sample value
  p.samples = bytes.substr(at + 1);
  return p;
}

class RealPageTest : public SpecImageTest {
 protected:
  // Page 3 of the documentation as pdftoppm renders it: mono as a raw 1-bit layer, gray and
  // color as 8-bit layers, at the resolution it was rendered.
  elf_object* page_layer(const std::string& mode, int dpi) {
    const Pnm pnm = read_pnm(monotest::doc_page_render(3, dpi, mode));
    const bool mono = pnm.magic == "P4";
    const int32_t channels = pnm.magic == "P6" ? 3 : 1;
    const size_t row = mono ? (static_cast<size_t>(pnm.width) + 7) / 8 : static_cast<size_t>(pnm.width) * channels;
    EXPECT_GE(pnm.samples.size(), row * static_cast<size_t>(pnm.height)) << mode;
    const size_t length = row * static_cast<size_t>(pnm.height);
    void* samples = elfMalloc(length);
    std::memcpy(samples, pnm.samples.data(), length);
    if (mono) return QELNewBilevelLayer(state, pnm.width, pnm.height, static_cast<int32_t>(row), samples, length, dpi, dpi);
    return layer({1, 8, channels, channels == 3 ? 111 : 22, 0, pnm.width, pnm.height, static_cast<double>(dpi),
                  static_cast<double>(dpi)},
                 samples, length);
  }

  elf_object* page_image(std::vector<elf_object*> layers) {
    const elf_QELLAYER* first = qelLayer(layers.front());
    elf_object* im = image(static_cast<int32_t>(first->width), static_cast<int32_t>(first->height), layers);
    EXPECT_EQ(QELUpdateQELIMAGE(im), 0) << "every layer describes its samples";
    return im;
  }

  // A target made as writers make theirs: default, then the setters.
  elf_object* target(int32_t format, int32_t subtype, int32_t pages, std::function<void(elf_object*)> rasters) {
    elf_object* spec = default_spec();
    EXPECT_EQ(__setTSAttributes(state, spec, format, subtype, 0, 1, pages), 0);
    rasters(spec);
    return spec;
  }
};

TEST_F(RealPageTest, PagesMatchTheTargetThatSuitsThem) {
  elf_state* s = state;
  // Fax profiles S, F and C, a GIF and a PNG target, and a mixed-raster target.
  const std::vector<elf_object*> targets = {
      target(4, 4, 0, [s](elf_object* t) {
        __unsetTSRasterAttr(s, t, 0);
        __setTSRasterAttr(s, t, 2, 0, 0, 1, nullptr, 200, 200, 1);
      }),
      target(4, 5, 0, [s](elf_object* t) {
        __unsetTSRasterAttr(s, t, 0);
        __setTSRasterAttr(s, t, 3, 0, 0, 1, nullptr, 400, 400, 1);
      }),
      target(4, 6, 0, [s](elf_object* t) {
        __setTSRasterAttr(s, t, 1, 60, 0, 1, nullptr, 400, 400, 24);
        __setTSRasterAttr(s, t, 3, 0, 0, 1, nullptr, 400, 400, 1);
      }),
      target(7, 1, 1, [this, s](elf_object* t) {
        __setTSRasterAttr(s, t, 0, 80, 0, 0, int_list({11, 22}), 65000, 65000, 8);
        __unsetTSRasterAttr(s, t, 1);
      }),
      target(8, 1, 1, [this, s](elf_object* t) {
        __setTSRasterAttr(s, t, 0, 80, 0, 1, int_list({111}), 65000, 65000, 24);
        __unsetTSRasterAttr(s, t, 1);
      }),
      target(3, 8, 2, [this, s](elf_object* t) {
        __setTSCompression(s, t, 7, 1, 0, 1);
        __setTSCompression(s, t, 1, 0, 75, 0);
        EXPECT_EQ(ask(t, "setPageSpec", lstBuildArgs(s, "mrc:b", 1, 0, LST_END)), 0);
      }),
  };
  const char* names[] = {"fax S", "fax F", "fax C", "GIF", "PNG", "MRC"};
  struct Page {
    const char* what;
    std::function<elf_object*()> image;
    const char* expected;
    int32_t exact;
  };
  const Page pages[] = {
      // Every fax profile codes what the raw page is not; the first of them wins.
      {"1-bit at 150 dpi", [this] { return page_image({page_layer("mono", 150)}); }, "fax S", 0},
      // Too fine for profile S.
      {"1-bit at 300 dpi", [this] { return page_image({page_layer("mono", 300)}); }, "fax F", 0},
      {"grey at 100 dpi", [this] { return page_image({page_layer("gray", 100)}); }, "GIF", 1},
      {"RGB at 100 dpi", [this] { return page_image({page_layer("color", 100)}); }, "PNG", 1},
      {"text over a colour background at 100 dpi",
       [this] { return page_image({page_layer("color", 100), page_layer("mono", 100)}); }, "MRC", 0},
  };
  for (const Page& p : pages) {
    elf_object* spec = page_spec(p.image());
    int32_t exact = -1;
    const int chosen = match(spec, targets, &exact);
    ASSERT_GE(chosen, 0) << p.what;
    EXPECT_STREQ(names[chosen], p.expected) << p.what;
    EXPECT_EQ(exact, p.exact) << p.what;
  }

  // What the tests then tell about the 300-dpi page and profile S: code it in G3, at 200 dpi.
  elf_object* page = page_spec(page_image({page_layer("mono", 300)}));
  ASSERT_EQ(ask(targets[0], "testCompress", lstBuildArgs(state, "inSpec:TRANSFORMSPEC", page, 0, LST_END)), 0);
  EXPECT_EQ(result_int("needed"), 1);
  const char* algorithm = nullptr;
  ASSERT_TRUE(lstScanArgs(result_value("cinfo"), "binalgo:s", LST_REQUIRED, &algorithm, LST_END));
  EXPECT_STREQ(algorithm, "\"g3\"");
  ASSERT_EQ(ask(targets[0], "testSize", lstBuildArgs(state, "inSpec:TRANSFORMSPEC", page, 0, LST_END)), 0);
  EXPECT_EQ(result_int("needed"), 1);
  EXPECT_EQ(result_double("xres"), 200);
  EXPECT_EQ(result_int("xsize"), static_cast<int32_t>(200.0 / 300.0 * dioCoreSpec(page)->binary.width));
  EXPECT_EQ(result_int("ysize"), static_cast<int32_t>(200.0 / 300.0 * dioCoreSpec(page)->binary.height));
  EXPECT_EQ(messages, "");
}

}  // namespace
