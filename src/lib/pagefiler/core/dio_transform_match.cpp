// Specs of page images (getTransformSpec, initByImage) and choosing the target spec closest to a
// page's (matchList).

#include <cmath>
#include <initializer_list>

#include "dio_transform_internal.h"

namespace {

using namespace dio::ts;

constexpr const char* core_by_image = "createCoreByImage";

bool is_raster(int32_t kind) { return kind == QEL_KIND_IMAGE || kind == QEL_KIND_COLOR_MASK || kind == QEL_KIND_BILEVEL; }

int32_t layer_count(elf_object* image) { return elflistLength(qelImage(image)->layers); }

// What initByImage reads of a raster layer.
struct Raster {
  const elf_QELLAYER* layer;
  const elf_QELHDR* desc;  // may be missing

  int32_t bits() const { return desc && desc->bitsPerSample && desc->bitsPerSampleCount > 0 ? desc->bitsPerSample[0] : 0; }
  int32_t channels() const { return desc ? desc->samplesPerPixel : 0; }
  int32_t compression() const { return desc ? desc->compression : 0; }

  // Bits per pixel; without bits per sample, judged from the channels and the coding.
  int32_t depth() const {
    if (bits() != 0) return bits() * channels();
    if (channels() == 3) return 24;
    const int32_t c = compression();
    return c == QEL_COMPRESSION_JPEG || c == 8 || c == QEL_COMPRESSION_JPEG_DEFLATE ? 8 : 1;
  }
};

// Fills a raster block from a layer; false when its photometry list could not be allocated.
bool fill_block(DIORasterSpec* block, const Raster& r) {
  clear_block(block);
  block->depth = r.depth();
  block->compression = r.compression();
  block->jpegquality = 80;
  block->jbig2arith = 0;
  block->maxXRes = std::trunc(r.layer->xres);
  block->maxYRes = std::trunc(r.layer->yres);
  block->width = r.desc ? r.desc->width : 0;
  block->height = r.desc ? r.desc->height : 0;
  block->interleave = r.desc ? r.desc->interleave : 0;
  return new_list(r.desc ? r.desc->photometric : 0, &block->photometries);
}

// The first raster layer of one of the kinds, in kinds' order of preference.
Raster first_raster(elf_object* image, std::initializer_list<int32_t> kinds) {
  for (int32_t kind : kinds) {
    const int32_t n = layer_count(image);
    for (int32_t i = 0; i < n; ++i) {
      const elf_QELLAYER* l = qelLayer(QELGetLayer(image, i));
      if (l && l->kind == kind) return {l, qelHdr(l->description)};
    }
  }
  return {nullptr, nullptr};
}

// The record initByImage fills: a new one in place of the spec's, or, when none can be made,
// the spec's own cleared.
DIOCoreSpec* fresh_core(elf_state* context, elf_TRANSFORMSPEC* spec) {
  if (elf_object* core = new_core(spec->hdr.state)) {
    ELF_ASSIGN(spec->hdr.state, &spec->coreImage, core);
  } else if (DIOCoreSpec* old = dioCoreSpec(&spec->hdr)) {
    clear_block(&old->contone);
    clear_block(&old->binary);
    *old = DIOCoreSpec{};
  } else {
    setStatus(context, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: Unable to allocate the core specification\n",
              core_by_image);
  }
  return dioCoreSpec(&spec->hdr);
}

// A target's raster block's distance from a page's.
int32_t block_score(const DIORasterSpec& s, const DIORasterSpec& c) {
  if (s.depth == 0) return 0;
  if (c.depth == 0) return 8;
  int32_t score = 0;
  if (static_cast<uint32_t>(c.depth) < static_cast<uint32_t>(s.depth)) ++score;
  if (c.compression != DIO_COMPRESSION_ANY) {
    if (c.compression == QEL_COMPRESSION_NONE && s.compression != QEL_COMPRESSION_NONE) {
      score += 1;
    } else if (c.compression != s.compression) {
      score += 2;
    }
  }
  if (s.maxXRes > c.maxXRes) ++score;
  if (s.maxYRes > c.maxYRes) ++score;
  if (c.height != 0 && c.height != s.height) ++score;
  if (c.width != 0 && c.width != s.width) ++score;
  // A page without a photometry says nothing against a target's list.
  if (c.photometries && s.photometries && s.photometries->count > 0 &&
      !list_holds(c.photometries, s.photometries->entries[0])) {
    ++score;
  }
  return score;
}

int32_t match_score(const elf_TRANSFORMSPEC* spec, elf_object* candidate) {
  const DIOCoreSpec* s = dioCoreSpec(const_cast<elf_object*>(&spec->hdr));
  const DIOCoreSpec* c = dioCoreSpec(candidate);
  int32_t score = 0;
  // A spec without a record describes nothing to match.
  if (!s) {
    score = 17;
  } else if (c) {
    if (s->rotate != c->rotate && (s->rotate == 0 || c->rotate == 0)) ++score;
    if (c->orientation != DIO_ORIENT_ANY && s->orientation != c->orientation) ++score;
    if (s->pageMode != c->pageMode && s->pageMode != DIO_PAGE_ANY && c->pageMode != DIO_PAGE_ANY) ++score;
    score += block_score(s->binary, c->binary);
    score += block_score(s->contone, c->contone);
  }
  const int32_t attributes = elflistLength(dioTransformSpec(candidate)->attributes);
  return score + (attributes > 0 ? attributes : 0);
}

}  // namespace

int getTransformSpec(void* target, elf_object* args, elf_object** result) {
  auto* image = static_cast<elf_object*>(target);
  elf_state* state = args ? args->state : image ? image->state : nullptr;
  if (!image) {
    return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "No image object provided for getTransformSpec\n");
  }
  const elf_QELIMAGE* im = qelImage(image);
  if (!im) return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "Image object is not valid getTransformSpec\n");
  elf_object* spec = new_elf_object(state, "TRANSFORMSPEC", nullptr);
  elf_TRANSFORMSPEC* ts = dioTransformSpec(spec);
  elf_object* attributes =
      ts ? lstBuildArgs(state, "multilayer:b", layer_count(image) >= 2, 0, "width:i", im->width, 0, "height:i",
                        im->height, 0, LST_END)
         : nullptr;
  if (!attributes) {
    elfDiscard(spec);
    return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "getTransformSpec failed to create TRANSFORMSPEC\n");
  }
  ELF_ASSIGN(state, &ts->attributes, attributes);
  elf_object* list = lstBuildArgs(state, "transSpec:TRANSFORMSPEC", spec, 0, LST_END);
  if (!list) elfDiscard(spec);
  return dio::give(state, result, list, "getTransformSpec");
}

int __createCoreByImage(elf_state* context, elf_object* spec, elf_object* image) {
  elf_TRANSFORMSPEC* ts = dioTransformSpec(spec);
  const elf_QELIMAGE* im = qelImage(image);
  if (!ts || !im) {
    return setStatus(context, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "%s: %s\n", core_by_image,
                     ts ? "No image given" : "No spec given");
  }
  DIOCoreSpec* c = fresh_core(context, ts);
  if (!c) return getStatus(context);
  c->orientation = im->width > im->height ? DIO_ORIENT_LANDSCAPE : DIO_ORIENT_PORTRAIT;
  if (im->attributes && !lstScanArgs(im->attributes, "_PDFrotate:i", LST_OPTIONAL, &c->rotate, LST_END)) {
    return setStatus(context, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR,
                     "%s: List scan error while scan for PDF rotate\n", core_by_image);
  }

  int32_t rasters = 0;
  const int32_t n = layer_count(image);
  for (int32_t i = 0; i < n; ++i) {
    const elf_QELLAYER* l = qelLayer(QELGetLayer(image, i));
    if (l && is_raster(l->kind)) ++rasters;
  }
  if (rasters == 0) {
    return setStatus(context, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "%s: No rasters found on page\n", core_by_image);
  }

  bool lists = true;
  if (rasters == 1) {
    const Raster r = first_raster(image, {QEL_KIND_BILEVEL, QEL_KIND_IMAGE, QEL_KIND_COLOR_MASK});
    c->pageMode = r.layer->kind == QEL_KIND_COLOR_MASK ? DIO_PAGE_COLOR_MASK : DIO_PAGE_FLAT;
    elf_object* matrix = nullptr;
    if (r.layer->attributes &&
        !lstScanArgs(r.layer->attributes, "_DIOMatrixTransform:", LST_OPTIONAL, &matrix, LST_END)) {
      return setStatus(context, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR,
                       "%s: List scan error while scan for layer info\n", core_by_image);
    }
    if (has_arg(r.layer->attributes, "_DIOMatrixTransform")) c->affine = 1;
    // One bit per pixel is binary data, also when only the coding tells.
    lists = fill_block(r.depth() == 1 ? &c->binary : &c->contone, r);
  } else {
    c->pageMode = DIO_PAGE_MRC;
    const Raster mask = first_raster(image, {QEL_KIND_BILEVEL});
    const Raster background = first_raster(image, {QEL_KIND_IMAGE});
    if (mask.layer) lists = fill_block(&c->binary, mask);
    if (background.layer) lists = fill_block(&c->contone, background) && lists;
  }
  c->pagesPerFile = DIO_PAGES_ANY;
  return lists ? QEL_STATUS_OK : list_failed(context);
}

int __findTransformMatch(elf_state*, elf_object* spec, elf_object* list, int32_t* exact, elf_object** nearmatch) {
  int32_t best = 10000;
  elf_object* chosen = nullptr;
  const elf_TRANSFORMSPEC* ts = dioTransformSpec(spec);
  const int32_t n = ts ? elflistLength(list) : 0;
  for (int32_t i = 0; i < n; ++i) {
    elf_object* candidate = elfIdentValue(elflistItem(list, i));
    if (!dioTransformSpec(candidate)) continue;
    const int32_t score = match_score(ts, candidate);
    if (score < best) {
      best = score;
      chosen = candidate;
    }
  }
  if (exact) *exact = chosen && best == 0;
  if (nearmatch) *nearmatch = chosen;
  return QEL_STATUS_OK;
}
