// The engine handle: init and close, sections and pages under the memory bound, and the
// position block of each page.

#include <cstdio>

#include "vlt_api_handle.h"
#include "vlt_stripes.h"

namespace {

constexpr const char* kInvalidCoding = "Invalid image compression type";
constexpr const char* kCleanUp = "Problem cleaning up; continuing anyway.";
constexpr VltStatus kCleanUpCode = -2;
constexpr uint32_t kParamFlags = TOK_FLAG_MEMBER_POS | TOK_FLAG_ALIGN;

// Words 0 to 13 of the classifier block come from the caller or the defaults; the rest are the
// engine's.
void fill_params(TokParams* p, const TokParams* given, VltState* state) {
  TokParams defaults{};
  tokSetDefaults(&defaults);
  const TokParams& src = given != nullptr ? *given : defaults;
  p->matchFraction = src.matchFraction;
  p->maxDense = src.maxDense;
  p->widthDiff = src.widthDiff;
  p->heightDiff = src.heightDiff;
  p->commitCount = src.commitCount;
  p->sumLimit = src.sumLimit;
  p->sumStart = src.sumStart;
  p->sumOutputMin = src.sumOutputMin;
  p->maxShift = src.maxShift;
  p->thresholdOffset = src.thresholdOffset;
  p->thresholdKnee = src.thresholdKnee;
  p->minLossySize = src.minLossySize;
  p->thresholdSlope = src.thresholdSlope;
  p->frameMarginWord = src.frameMarginWord;
  p->tokFlags = kParamFlags;
  p->engineState = state;
  p->mergeHook = nullptr;
  p->mergeHookData = nullptr;
}

VltTdcOptions default_tdc_options(VltState* state, uint8_t sectionMode) {
  return VltTdcOptions{0, state, 1, -1, -1, VLT_TDC_PAGE_SLOTS, 1, 0, 0, 0, 1, 0, sectionMode, 0, 0};
}

void warn_cleanup(VltState* state, VltStatus st) {
  if (st != VLT_OK && state != nullptr) Vlt_reportErrMsg(state->errState, kCleanUpCode, kCleanUp);
}

void free_entries(VltState* state, VltAdtList** list) {
  if (*list == nullptr) return;
  for (VltAdtListNode* n = (*list)->first; n != nullptr; n = n->next) state->free(n->data);
  VltAdt_liFree(*list);
  *list = nullptr;
}

bool section_ready(const VltApiHandle* h) {
  return h->lossyDoc->section != nullptr && h->tokenDoc->section != nullptr;
}

// A failed keep leaves no pointer into the record array it frees.
void forget_records(VltApiHandle* h, VltTokenRecord* records, uint32_t count, uint32_t owning) {
  VltState* es = h->state;
  const auto inside = [&](const void* p) {
    return p >= static_cast<const void*>(records) && p < static_cast<const void*>(records + count);
  };
  if (VltAdtList* classes = h->lossyDoc->section->classes)
    for (VltAdtListNode* n = classes->first; n != nullptr; n = n->next) {
      auto* r = static_cast<TokOutput*>(n->data);
      if (inside(r->dictRef)) r->dictRef = nullptr;
    }
  if (VltTokBlock* block = h->tokenDoc->section->tokBlock)
    for (uint32_t i = 0; i < block->count; ++i)
      if (inside(block->records[i])) block->records[i] = nullptr;
  for (uint32_t i = 0; i < owning; ++i) es->free(records[i].bitmap);
  es->free(records);
}

}  // namespace

VltStatus api_checkHandle(const VltApiHandle* h) {
  return h != nullptr && h->self == h ? VLT_OK : VLT_ERR_ASSERT;
}

VltStatus VltApi_init(VltApiHandle** place, const VltMemFuncs* memory, const VltSmallPoolFuncs* pools,
                      const VltApiOptions* options, const TokParams* params, const VltTdcOptions* tdcOptions) {
  if (place == nullptr || options == nullptr) return VLT_ERR_NULL;
  VltState* es = nullptr;
  if (const VltStatus st = Vlt_initVltState(&es, memory, pools, stderr, Vlt_fileErrPrinter, 1, 0); st != VLT_OK)
    return st;
  auto* h = static_cast<VltApiHandle*>(es->calloc(1, sizeof(VltApiHandle)));
  if (h == nullptr) {
    Vlt_report(es, VLT_ERR_NOMEM);
    Vlt_cleanupVltState(&es);
    return VLT_ERR_NOMEM;
  }
  h->self = h;
  h->state = es;
  auto* tdc = static_cast<VltTdcOptions*>(es->calloc(1, sizeof(VltTdcOptions)));
  const auto fail = [&](VltStatus st) {
    if (h->tokenDoc != nullptr) {
      VltTdc_endDoc(&h->tokenDoc, h->tokenDoc->section);
      tdc = nullptr;  // the token document took it
    }
    tcly_doc_end(h->lossyDoc);
    es->free(tdc);
    es->free(h->params);
    es->free(h->callbacks);
    es->free(h);
    Vlt_cleanupVltState(&es);
    return st;
  };
  h->callbacks = static_cast<Jb2OutputCallbacks*>(es->calloc(1, sizeof(Jb2OutputCallbacks)));
  h->params = static_cast<TokParams*>(es->calloc(1, sizeof(TokParams)));
  if (h->callbacks == nullptr || h->params == nullptr || tdc == nullptr) return fail(Vlt_report(es, VLT_ERR_NOMEM));
  vlt_fillOutputCallbacks(h->callbacks);
  fill_params(h->params, params, es);
  *tdc = tdcOptions != nullptr ? *tdcOptions : default_tdc_options(es, options->sectionMode);

  const auto resolution = static_cast<int32_t>(options->resolution);  // -1 keeps the pages' own
  if (const VltStatus st = tcly_doc_init(es, &h->lossyDoc, 1, options->halftones,
                                         static_cast<int32_t>(options->minSize), resolution, options->tenthSize,
                                         h->params, options->docByte, options->memoryLimit, options->sectionMode);
      st != VLT_OK)
    return fail(st);
  if (const VltStatus st = VltTdc_initDoc(es, &h->tokenDoc, tdc->byteA, tdc->colourComponents, tdc->byteE,
                                          tdc->docWord, static_cast<uint16_t>(tdc->pageSlots), 0, 0, tdc->wordD,
                                          tdc->wordE, options->sectionMode);
      st != VLT_OK)
    return fail(st);
  h->tokenDoc->options = tdc;
  const uint32_t block[6] = {};
  if (const VltStatus st = tcly_out_init(es, &h->output, 1, options->singlePage, block, options->outputWord,
                                         options->outputByte, options->resDictMode, options->profile,
                                         options->sectionMode, h->callbacks);
      st != VLT_OK)
    return fail(st);
  h->sectionMode = options->sectionMode;
  h->tdcSectionMode = tdc->sectionMode;
  h->halftones = options->halftones;
  *place = h;
  return VLT_OK;
}

VltStatus VltApi_close(VltApiHandle* h) {
  if (api_checkHandle(h) != VLT_OK) return VLT_ERR_ASSERT;
  VltState* es = h->state;
  // The documents go before the parameter and option records they read; the token document
  // releases its option record itself.
  if (h->tokenDoc != nullptr) warn_cleanup(es, VltTdc_endDoc(&h->tokenDoc, h->tokenDoc->section));
  warn_cleanup(es, tcly_doc_end(h->lossyDoc));
  h->lossyDoc = nullptr;
  es->free(h->params);
  // A file run writes its file here, so that failure is the caller's to know.
  const VltStatus closed = tcly_out_end(h->output);
  const VltStatus result = h->fileMode ? closed : VLT_OK;
  if (!h->fileMode) warn_cleanup(es, closed);
  free_entries(es, &h->residualBlocks);
  free_entries(es, &h->pageBlocks);
  es->free(h->callbacks);
  h->self = nullptr;
  es->free(h);
  Vlt_cleanupVltState(&es);
  return result;
}

VltStatus VltApi_startSection(VltApiHandle* h) {
  if (api_checkHandle(h) != VLT_OK) return VLT_ERR_ASSERT;
  if (h->sectionOpen) return VLT_OK;
  const bool carry = h->posBlockIndex != 0;
  TclySection* lossy = carry ? h->lossyDoc->section : nullptr;
  VltTdcSection* tokens = carry ? h->tokenDoc->section : nullptr;
  if (const VltStatus st = tcly_doc_startSection(h->lossyDoc, lossy, static_cast<int32_t>(h->pagesAdded),
                                                 h->sectionMode);
      st != VLT_OK)
    return st;
  if (tokens != nullptr && h->tokenDoc->tokenizer == nullptr && tokens->tokenizerOutput != nullptr) {
    VltLlTokFreeOutput(tokens->tokenizerOutput, h->state);
    tokens->tokenizerOutput = nullptr;
  }
  if (const VltStatus st = VltTdc_startSection(h->tokenDoc, tokens, h->tdcSectionMode); st != VLT_OK) return st;
  h->posBlockIndex = 0;
  h->sectionOpen = 1;
  return VLT_OK;
}

VltStatus VltApi_checkTokMemoryBond(VltApiHandle* h, uint8_t* full) {
  if (api_checkHandle(h) != VLT_OK) return VLT_ERR_ASSERT;
  if (full == nullptr || h->lossyDoc == nullptr || h->tokenDoc == nullptr || !section_ready(h))
    return Vlt_report(h->state, VLT_ERR_NULL);
  h->overLimit = 0;
  *full = 0;
  const int32_t limit = h->lossyDoc->memoryLimit;
  if (limit <= 0) return VLT_OK;
  const int64_t used = int64_t{h->lossyDoc->section->memoryUsed} + h->tokenDoc->section->memory;
  if (used >= limit) {
    h->overLimit = 1;
    *full = 1;
  } else if (static_cast<double>(used) >= 0.9 * limit) {
    *full = 1;
  }
  return VLT_OK;
}

VltStatus VltApi_addMonoPage(VltApiHandle* h, const VltPageDesc* page, uint8_t* full) {
  if (api_checkHandle(h) != VLT_OK) return VLT_ERR_ASSERT;
  if (page == nullptr || full == nullptr || page->buffer == nullptr) return Vlt_report(h->state, VLT_ERR_NULL);
  if (!h->sectionOpen) return Vlt_report(h->state, VLT_ERR_ASSERT);
  if (page->width > INT32_MAX || page->height > INT32_MAX || page->bytesPerLine > INT32_MAX ||
      page->xRes > INT32_MAX || page->yRes > INT32_MAX)
    return Vlt_report(h->state, VLT_ERR_PARAM);
  VltApi_checkTokMemoryBond(h, full);
  if (*full == 1) return VLT_OK;
  if (const VltStatus st = tcly_doc_addMonoPage(page->buffer, h->lossyDoc, h->tokenDoc, int32_t(page->width),
                                                int32_t(page->height), int32_t(page->bytesPerLine),
                                                int32_t(page->xRes), int32_t(page->yRes),
                                                static_cast<int32_t>(h->pagesAdded), 1);
      st != VLT_OK)
    return st;
  ++h->pagesAdded;
  h->overLimit = h->lossyDoc->section->full;
  *full = h->overLimit;
  return VLT_OK;
}

VltStatus VltApi_addMonoBuffer(VltApiHandle* h, const uint8_t* band, uint32_t width, uint32_t bandHeight,
                               uint32_t bytesPerLine, uint32_t pageHeight, uint32_t xRes, uint32_t yRes,
                               uint8_t firstBand, uint8_t lastBand, uint8_t* full) {
  if (api_checkHandle(h) != VLT_OK) return VLT_ERR_ASSERT;
  if (band == nullptr || full == nullptr) return Vlt_report(h->state, VLT_ERR_NULL);
  if (!h->sectionOpen) return Vlt_report(h->state, VLT_ERR_ASSERT);
  if (width > INT32_MAX || bandHeight > INT32_MAX || bytesPerLine > INT32_MAX || pageHeight > INT32_MAX ||
      xRes > INT32_MAX || yRes > INT32_MAX)
    return Vlt_report(h->state, VLT_ERR_PARAM);
  VltApi_checkTokMemoryBond(h, full);
  if (*full == 1) return VLT_OK;
  if (firstBand)
    if (const VltStatus st = tcly_startPage(h->lossyDoc, h->tokenDoc, static_cast<int32_t>(h->pagesAdded),
                                            int32_t(width), int32_t(pageHeight), int32_t(xRes), int32_t(yRes));
        st != VLT_OK)
      return st;
  if (const VltStatus st = tcly_encBufferInPage(h->lossyDoc, band, int32_t(width), int32_t(bandHeight),
                                                int32_t(bytesPerLine), 32, lastBand);
      st != VLT_OK)
    return st;
  if (!lastBand) return VLT_OK;
  if (const VltStatus st = tcly_endPage(h->lossyDoc, h->tokenDoc, 1, 1); st != VLT_OK) return st;
  ++h->pagesAdded;
  h->overLimit = h->lossyDoc->section->full;
  *full = h->overLimit;
  return VLT_OK;
}

VltStatus VltApi_endSection(VltApiHandle* h, int32_t mode) {
  if (api_checkHandle(h) != VLT_OK) return VLT_ERR_ASSERT;
  const int32_t limit = h->lossyDoc->memoryLimit;
  uint8_t keep = 1;
  if (mode == 0 || (mode == 1 && limit > 0)) {
    h->output->freeAfterSection = 1;
  } else if (mode == 1 && limit < 0) {
    h->output->freeAfterSection = 0;
    keep = 0;
  }
  TclySection* lossy = nullptr;
  VltTdcSection* tokens = nullptr;
  if (h->overLimit == 1) {
    if (const VltStatus st = tcly_doc_endSectionRollBack(h->lossyDoc, &lossy, h->sectionMode); st != VLT_OK)
      return st;
    if (const VltStatus st = VltTdc_endSectionRollBack(h->tokenDoc, &tokens, h->tdcSectionMode); st != VLT_OK)
      return st;
    h->overLimit = 0;
    h->sectionOpen = 0;
    --h->pagesAdded;
    return VLT_OK;
  }
  if (const VltStatus st = tcly_doc_endSection(h->lossyDoc, &lossy, keep, h->sectionMode); st != VLT_OK) return st;
  if (const VltStatus st = VltTdc_endSection(h->tokenDoc, &tokens, keep, h->tdcSectionMode); st != VLT_OK)
    return st;
  h->sectionOpen = 0;
  return VLT_OK;
}

VltStatus VltApi_getDict(VltApiHandle* h, uint8_t flag, VltApiDict* dict) {
  if (api_checkHandle(h) != VLT_OK) return VLT_ERR_ASSERT;
  VltState* es = h->state;
  if (dict == nullptr || !section_ready(h)) return Vlt_report(es, VLT_ERR_NULL);
  dict->bytes = nullptr;
  dict->length = 0;
  TclyDoc* lossy = h->lossyDoc;
  h->output->pageCursor = 0;
  VltTokenRecord* records = nullptr;
  uint32_t count = 0, lossless = 0;
  if (h->deskewCount != nullptr)
    if (const VltStatus st = h->deskewCount(h); st != VLT_OK) return st;
  const VltStatus written = writeTokOutput(h->output, lossy->section, h->tokenDoc->section, lossy->unusable, &records,
                                           &count, &lossless, flag);
  if (records != nullptr) {
    // Classes carried to a later section and kept lossless tokens point into the array, so it
    // lives until the classifier is rebuilt.
    if (const VltStatus st = tcly_doc_keepRecords(lossy, records, lossless); st != VLT_OK) {
      forget_records(h, records, count, lossless);
      return st;
    }
  }
  if (written != VLT_OK) return written;
  if (const VltStatus st = getJb2CompressedData(h->output->stream, &dict->bytes, &dict->length); st != VLT_OK)
    return st;
  adjustCoords(lossy->section->classes);
  if (h->deskewApply != nullptr)
    if (const VltStatus st = h->deskewApply(h); st != VLT_OK) return st;
  free_entries(es, &h->residualBlocks);
  free_entries(es, &h->pageBlocks);
  if (const VltStatus st = VltAdt_liNew(&h->residualBlocks, es); st != VLT_OK) return st;
  if (const VltStatus st = VltAdt_liNew(&h->pageBlocks, es); st != VLT_OK) return st;
  return lossy->unusable ? VLT_ERR_INTERNAL : VLT_OK;
}

VltStatus VltApi_endSectionGetDict(VltApiHandle* h, int32_t mode, VltApiDict* dict) {
  if (api_checkHandle(h) != VLT_OK) return VLT_ERR_ASSERT;
  if (dict == nullptr) return Vlt_report(h->state, VLT_ERR_NULL);
  if (const VltStatus st = VltApi_endSection(h, mode); st != VLT_OK) return st;
  const uint8_t flag = mode == 1 && h->lossyDoc->memoryLimit < 0 ? 0 : 1;
  return VltApi_getDict(h, flag, dict);
}

VltStatus VltApi_cleanSection(VltApiHandle* h) {
  if (h == nullptr) return VLT_ERR_ASSERT;
  return tcly_doc_cleanSection(h->lossyDoc, h->sectionMode);
}

VltStatus VltApi_getNextPosBlock(VltApiHandle* h, VltApiPosBlock* block) {
  if (api_checkHandle(h) != VLT_OK) return VLT_ERR_ASSERT;
  VltState* es = h->state;
  if (block == nullptr) return Vlt_report(es, VLT_ERR_NULL);
  TclySection* ls = h->lossyDoc->section;
  VltTdcSection* ts = h->tokenDoc->section;
  const uint32_t k = h->posBlockIndex;
  // Blocks come after the section's dictionary, one per page.
  if (h->sectionOpen || ls == nullptr || ts == nullptr || h->residualBlocks == nullptr ||
      k >= static_cast<uint32_t>(ls->pageCount) || k >= ts->pageCount)
    return Vlt_report(es, VLT_ERR_ASSERT);
  TclyPage& page = ls->pages[k];
  VltTdcPage& tokens = ts->pages[k];
  if ((page.coding & 0xFF) != 0 || h->lossyDoc->unusable)
    return Vlt_reportErrMsg(es->errState, VLT_ERR_INTERNAL, kInvalidCoding);
  TclyOutState* out = h->output;
  Jb2OutputCallbacks* cb = out->callbacks;
  void* const sectionDict = out->dictBlock;

  // 0 marks the page as striped.
  const uint8_t striping = 0;
  cb->context = reinterpret_cast<uintptr_t>(&striping);
  const VltStatus info = writeJb2PageInfo(page.width, page.height, page.xRes, page.yRes, out->stream, &striping);
  cb->context = 0;
  if (info != VLT_OK) return info;

  if (page.runningCount + int64_t{tokens.tokenRecordCount} != 0)
    if (const VltStatus st = writeResDict(out, &page, &tokens, out->resDictMode); st != VLT_OK) return st;

  // The dictionaries are written: the bitmaps only they needed go now.
  if (page.large != nullptr)
    for (VltAdtListNode* n = page.large->first; n != nullptr; n = n->next) {
      auto* c = static_cast<TokComponent*>(n->data);
      es->free(c->bitmap.bits);
      c->bitmap.bits = nullptr;
    }
  for (VltAdtListNode* n = h->residualBlocks->first; n != nullptr; n = n->next) es->free(n->data);
  VltAdt_liClear(h->residualBlocks);
  for (uint32_t i = 0; i < tokens.tokenRecordCount; ++i) {
    es->free(tokens.tokenRecords[i].bitmap);
    tokens.tokenRecords[i].bitmap = nullptr;
  }

  if (const VltStatus st = makePosArray(&page, &tokens, es); st != VLT_OK) return st;
  vlt_sortPositions(tokens.positions, static_cast<int32_t>(tokens.posCount));
  if (const VltStatus st = vlt_writeStripes(cb, out->stream, tokens.positions, static_cast<int32_t>(tokens.posCount),
                                            page.runStored, page.width, page.height, page.splitRow, page.xRes,
                                            page.yRes, page.pageNumber + 1, out->dictBlock);
      st != VLT_OK)
    return st;
  if (page.runStored != nullptr) {
    VltAdt_liFree(page.runStored);
    page.runStored = nullptr;
  }
  if (out->dictBlock != sectionDict) {
    if (const VltStatus st = cb->freeDictBlock(out->dictBlock, out->stream, cb->context); st != VLT_OK) return st;
    out->dictBlock = sectionDict;
  }
  es->free(tokens.positions);
  tokens.positions = nullptr;
  tokens.posCount = 0;
  es->free(tokens.tokenRecords);
  tokens.tokenRecords = nullptr;
  tokens.tokenRecordCount = 0;
  tokens.tokenRecordCapacity = 0;
  if (const VltStatus st = cb->finishPage(out->stream, cb->context); st != VLT_OK) return st;

  ++h->posBlockIndex;
  block->extra = 0;
  if (const VltStatus st = getJb2CompressedData(out->stream, &block->bytes, &block->length); st != VLT_OK) return st;
  if (h->posBlockIndex == static_cast<uint32_t>(ls->pageCount)) {
    if (h->residualBlocks->count != 0 || (h->pageBlocks != nullptr && h->pageBlocks->count != 0))
      return Vlt_report(es, VLT_ERR_ASSERT);
    free_entries(es, &h->residualBlocks);
    free_entries(es, &h->pageBlocks);
    if (ls->final)
      if (const VltStatus st = emptyOutputState(out); st != VLT_OK) return st;
    if (out->freeAfterSection)
      if (const VltStatus st = cb->freeDictBlock(nullptr, out->stream, cb->context); st != VLT_OK) return st;
  }
  block->flag = page.status;
  ++out->pageCursor;
  return VLT_OK;
}
