// The token document: sections and pages of the lossless tokenizer.

#include "tok_tdoc.h"

#include <cstring>

#include "checked_size.h"
#include "tok_pagecc.h"

namespace {

constexpr const char* kNeedPrevious = "Need a previous section to restart the tokenizer.";
constexpr const char* kOutOfSync = "Previous section block isn't in sync with cookie";
// Pool-5 blocks carry the document's large lossless components.
constexpr int32_t kPool5Least = 32;

uint32_t occurrence_of(const void* word) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(word)); }

VltStatus start_tokenizer(VltTdcDoc* doc) {
  VltLlTokOptions local{};
  // The option record's first two words are the tokenizer's options.
  auto* options = doc->options != nullptr ? static_cast<VltLlTokOptions*>(doc->options) : &local;
  options->flags = 0;
  options->engine = doc->state;
  return VltLlTokInit(&doc->tokenizer, options);
}

void release_page_data(VltState* state, VltTdcPage* page) {
  if (page->ownsExtra) state->free(page->extra);
  page->extra = nullptr;
  page->ownsExtra = 0;
  state->free(page->positions);
  page->positions = nullptr;
}

VltStatus grow_pages(VltState* state, VltTdcSection* s) {
  if (s->pageCount < s->pageCapacity) return VLT_OK;
  const uint64_t grown = uint64_t{s->pageCapacity} * 3 / 2;
  size_t bytes = 0;
  if (grown <= s->pageCapacity || grown > UINT32_MAX ||
      !mono::checked_mul(size_t(grown), sizeof(VltTdcPage), &bytes))
    return Vlt_report(state, VLT_ERR_NOMEM);
  auto* pages = static_cast<VltTdcPage*>(state->realloc(s->pages, bytes));
  if (pages == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  s->pages = pages;
  s->pageCapacity = static_cast<uint32_t>(grown);
  return VLT_OK;
}

void free_section(VltState* state, VltTdcSection* s) {
  if (s == nullptr) return;
  state->free(s->owned);
  for (uint32_t i = 0; i < s->pageCount; ++i) VltTdc_freePage(state, &s->pages[i]);
  state->free(s->pages);
  VltCC_cleanupTokBlock(state, s->tokBlock);
  VltCC_cleanupPosBlock(state, s->posBlock);
  if (s->list != nullptr) VltAdt_liFree(s->list);
  state->free(s);
}

VltStatus new_section(VltTdcDoc* doc) {
  VltState* state = doc->state;
  auto* s = static_cast<VltTdcSection*>(state->calloc(1, sizeof(VltTdcSection)));
  if (s == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  VltStatus st = VLT_OK;
  s->pages = static_cast<VltTdcPage*>(state->calloc(VLT_TDC_FIRST_PAGES, sizeof(VltTdcPage)));
  if (s->pages == nullptr) st = Vlt_report(state, VLT_ERR_NOMEM);
  s->pageCapacity = VLT_TDC_FIRST_PAGES;
  if (st == VLT_OK) st = VltCC_initTokBlock(state, &s->tokBlock, VLT_TDC_FIRST_TOKENS);
  if (st == VLT_OK) st = VltAdt_liNew(&s->list, state);
  if (st != VLT_OK) {
    free_section(state, s);
    return st;
  }
  s->tokenCount = 0;
  s->docWords[0] = doc->reserved[0];
  s->docWords[1] = doc->reserved[1];
  s->memory = 0;
  doc->section = s;
  return VLT_OK;
}

VltStatus reuse_section(VltTdcDoc* doc, VltTdcSection* s) {
  VltState* state = doc->state;
  doc->section = s;
  VltCC_cleanupPosBlock(state, s->posBlock);
  s->posBlock = nullptr;
  for (uint32_t i = 0; i < s->pageCount; ++i) VltTdc_freePage(state, &s->pages[i]);
  if (s->tokenizerOutput != nullptr || (doc->byteE != 0 && s->pending != 0))
    return Vlt_reportErrMsg(state->errState, VLT_ERR_INTERNAL, kOutOfSync);
  VltTokBlock* block = s->tokBlock;
  if (block == nullptr) {
    if (VltStatus st = VltCC_initTokBlock(state, &s->tokBlock, VLT_TDC_FIRST_TOKENS)) return st;
    s->tokenCount = 0;
  } else {
    const uint64_t capacity = uint64_t{s->tokenCount} + VLT_TDC_FIRST_TOKENS;
    size_t bytes = 0;
    if (capacity > UINT32_MAX || !mono::checked_mul(size_t(capacity), sizeof(VltTokenRecord*), &bytes))
      return Vlt_report(state, VLT_ERR_NOMEM);
    auto* records = static_cast<VltTokenRecord**>(state->realloc(block->records, bytes));
    if (records == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
    // Slots past the kept tokens are read by the renumbering: they must be empty.
    for (uint64_t i = s->tokenCount; i < capacity; ++i) records[i] = nullptr;
    block->records = records;
    block->capacity = static_cast<uint32_t>(capacity);
    block->count = s->tokenCount;
  }
  if (s->list == nullptr)
    if (VltStatus st = VltAdt_liNew(&s->list, state)) return st;
  if (s->final) s->memory = 0;
  return VLT_OK;
}

}  // namespace

void VltTdc_pageInit(VltTdcPage* page) {
  if (page == nullptr) return;
  *page = VltTdcPage{};
  page->mark = -1;
  page->memory = -1;
}

void VltTdc_freePage(VltState* state, VltTdcPage* page) {
  if (state == nullptr || page == nullptr) return;
  release_page_data(state, page);
  state->free(page->sizedBlocks);
  page->sizedBlocks = nullptr;
  page->blockCount = 0;
  if (page->outliers != nullptr) VltAdt_liFree(page->outliers);
  page->outliers = nullptr;
  if (page->tokenRecords != nullptr)
    for (uint32_t i = 0; i < page->tokenRecordCount; ++i) state->free(page->tokenRecords[i].bitmap);
  state->free(page->tokenRecords);
  page->tokenRecords = nullptr;
  page->tokenRecordCount = 0;
  page->tokenRecordCapacity = 0;
  page->posCount = 0;
}

VltStatus VltTdc_storePage(VltState* state, VltTdcSection* section, const VltTdcPage* page) {
  if (state == nullptr) return VLT_ERR_PARAM;
  if (section == nullptr || page == nullptr) return Vlt_report(state, VLT_ERR_NULL);
  if (VltStatus st = grow_pages(state, section)) return st;
  section->pages[section->pageCount++] = *page;
  return VLT_OK;
}

VltStatus VltTdc_initDoc(VltState* state, VltTdcDoc** place, uint8_t byteA, uint8_t colourComponents, uint32_t byteE,
                         uint32_t docWord, uint16_t pageSlots, uint32_t, uint32_t, uint32_t, uint32_t wordE,
                         uint8_t) {
  if (state == nullptr) return VLT_ERR_PARAM;
  if (place == nullptr) return Vlt_report(state, VLT_ERR_NULL);
  *place = nullptr;
  if (Vlt_getPoolSize(TOK_POOL_LOSSLESS_CC) < kPool5Least) return Vlt_report(state, VLT_ERR_ASSERT);
  auto* doc = static_cast<VltTdcDoc*>(state->calloc(1, sizeof(VltTdcDoc)));
  if (doc == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  doc->state = state;
  doc->byteA = byteA;
  doc->colourComponents = colourComponents;
  doc->byteE = byteE;
  doc->docWord = docWord;
  doc->wordE = wordE;
  doc->pageSlots = pageSlots;
  VltTdc_pageInit(&doc->page);
  if (colourComponents) {
    if (VltStatus st = VltCC_init(state, &doc->colourCC)) {
      VltTdc_endDoc(&doc, nullptr);
      return st;
    }
  }
  *place = doc;
  return VLT_OK;
}

VltStatus VltTdc_startSection(VltTdcDoc* doc, VltTdcSection* previous, uint8_t) {
  if (doc == nullptr) return VLT_ERR_NULL;
  VltState* state = doc->state;
  if (state == nullptr) return VLT_ERR_PARAM;
  if (doc->tokenizer == nullptr) {
    if (VltStatus st = start_tokenizer(doc)) return st;
  } else {
    if (previous == nullptr) return Vlt_reportErrMsg(state->errState, VLT_ERR_INTERNAL, kNeedPrevious);
    if (previous->tokenizerOutput != nullptr) {
      // Tokens the resumption could not file stay in the list for the caller.
      if (VltStatus st = VltLlTokResume(doc->tokenizer, previous->tokenizerOutput)) return st;
      previous->tokenizerOutput = nullptr;
    }
    if (previous->final) {
      VltLlTokState* tokenizer = doc->tokenizer;
      doc->tokenizer = nullptr;
      if (VltStatus st = VltLlTokFinal(tokenizer, &previous->tokenizerOutput)) {
        doc->tokenizer = tokenizer;
        return st;
      }
      VltTdcSection* current = doc->section != nullptr ? doc->section : previous;
      if (current->tokenizerOutput != nullptr) {
        VltLlTokFreeOutput(current->tokenizerOutput, state);
        current->tokenizerOutput = nullptr;
      }
      if (previous->tokenizerOutput != nullptr) {
        VltLlTokFreeOutput(previous->tokenizerOutput, state);
        previous->tokenizerOutput = nullptr;
      }
      if (VltStatus st = start_tokenizer(doc)) return st;
      previous->memory = 0;
    }
  }
  if (previous == nullptr) {
    if (VltStatus st = new_section(doc)) return st;
  } else {
    if (VltStatus st = reuse_section(doc, previous)) return st;
  }
  VltTdcSection* s = doc->section;
  s->pageCount = 0;
  return VltCC_initPosBlock(state, &s->posBlock, VLT_TDC_FIRST_POSITIONS);
}

VltStatus VltTdc_endSection(VltTdcDoc* doc, VltTdcSection** place, uint8_t final, uint8_t) {
  if (doc == nullptr) return VLT_ERR_NULL;
  VltState* state = doc->state;
  if (state == nullptr) return VLT_ERR_PARAM;
  if (place == nullptr) return Vlt_report(state, VLT_ERR_NULL);
  *place = nullptr;
  VltTdcSection* s = doc->section;
  if (s == nullptr) return Vlt_report(state, VLT_ERR_NULL);
  // A list still held would be lost under the new one.
  if (s->tokenizerOutput != nullptr) return Vlt_report(state, VLT_ERR_ASSERT);
  s->final = final;
  if (doc->tokenizer != nullptr) {
    if (!final) {
      if (VltStatus st = VltLlTokPartial(doc->tokenizer, &s->tokenizerOutput)) return st;
    } else {
      if (VltStatus st = VltLlTokFinal(doc->tokenizer, &s->tokenizerOutput)) return st;
      doc->tokenizer = nullptr;
    }
  }
  *place = s;
  return VLT_OK;
}

VltStatus VltTdc_endSectionRollBack(VltTdcDoc* doc, VltTdcSection** place, uint8_t) {
  if (doc == nullptr) return VLT_ERR_NULL;
  VltState* state = doc->state;
  if (state == nullptr) return VLT_ERR_PARAM;
  if (place == nullptr) return Vlt_report(state, VLT_ERR_NULL);
  *place = nullptr;
  VltTdcSection* s = doc->section;
  if (s == nullptr || doc->tokenizer == nullptr || s->posBlock == nullptr) return Vlt_report(state, VLT_ERR_NULL);
  const uint32_t n = s->pageCount;
  // Checked before anything changes: a section must keep a page.
  if (n < 2 || s->tokenizerOutput != nullptr) return Vlt_report(state, VLT_ERR_ASSERT);
  const VltTdcPage kept = doc->page;

  if (VltStatus st = VltLlTokPartial(doc->tokenizer, &s->tokenizerOutput)) return st;
  s->final = 1;
  const VltPosBlock* pos = s->posBlock;
  for (VltAdtListNode* node = s->tokenizerOutput->first; node != nullptr;) {
    auto* token = static_cast<VltLlToken*>(node->data);
    if (token == nullptr) return Vlt_report(state, VLT_ERR_ASSERT);
    if (token->occurrences == nullptr) {
      node = node->next;
      continue;
    }
    for (VltAdtListNode* o = token->occurrences->first; o != nullptr;) {
      const uint32_t word = occurrence_of(o->data);
      if (word >= pos->count) return Vlt_report(state, VLT_ERR_ASSERT);
      if (pos->entries[word].page != n - 1) {
        o = o->next;
        continue;
      }
      if (VltStatus st = VltAdt_liRemAndNext(o, &o)) return st;
      --token->refs;
    }
    if (token->refs > 0) {
      node = node->next;
      continue;
    }
    if (token->occurrences->first != nullptr) return Vlt_report(state, VLT_ERR_ASSERT);
    VltAdt_liFree(token->occurrences);
    token->occurrences = nullptr;
    if (VltStatus st = VltAdt_liRemAndNext(node, &node)) return st;
    VltLlTokFreeClass(token, state);
  }

  VltTdcPage& last = s->pages[n - 1];
  if (kept.positions != last.positions || kept.extra != last.extra) {
    VltTdcPage copy = kept;
    release_page_data(state, &copy);
  }
  VltTdc_freePage(state, &last);
  s->pageCount = n - 1;
  doc->page = s->pages[n - 2];
  s->memory = 0;
  *place = s;
  return VLT_OK;
}

VltStatus VltTdc_endDoc(VltTdcDoc** place, VltTdcSection* section) {
  if (place == nullptr || *place == nullptr) return VLT_OK;
  VltTdcDoc* doc = *place;
  VltState* state = doc->state;
  if (doc->colourCC != nullptr)
    if (VltStatus st = VltCC_cleanup(&doc->colourCC)) return st;
  *place = nullptr;
  if (doc->tokenizer != nullptr) {
    VltAdtList* list = nullptr;
    if (VltLlTokFinal(doc->tokenizer, &list) == VLT_OK)
      VltLlTokFreeOutput(list, state);
    else
      VltLlTokAbort(doc->tokenizer);
    doc->tokenizer = nullptr;
  }
  state->free(doc->options);
  if (section != nullptr) {
    if (section->tokenizerOutput != nullptr) VltLlTokFreeOutput(section->tokenizerOutput, state);
    section->tokenizerOutput = nullptr;
    free_section(state, section);
    if (doc->section == section) doc->section = nullptr;
  }
  state->free(doc);
  return VLT_OK;
}

VltStatus VltTdc_addMonoPage(VltTdcDoc* doc, uint32_t pageNumber, const uint8_t* buffer, int32_t width,
                             int32_t height, int32_t bytesPerLine, uint32_t xRes, uint32_t yRes, uint8_t verbose) {
  if (doc == nullptr) return VLT_ERR_NULL;
  VltState* state = doc->state;
  if (state == nullptr) return VLT_ERR_PARAM;
  VltTdcSection* s = doc->section;
  if (s == nullptr || doc->tokenizer == nullptr || buffer == nullptr) return Vlt_report(state, VLT_ERR_NULL);
  if (width < 0 || height < 0) return Vlt_report(state, VLT_ERR_PARAM);
  VltTdcPage& page = doc->page;
  VltTdc_pageInit(&page);
  page.pageNumber = pageNumber;
  page.width = static_cast<uint32_t>(width);
  page.height = static_cast<uint32_t>(height);
  page.xRes = xRes;
  page.yRes = yRes;
  const VltErrState* es = state->errState;
  const bool talk = verbose && es != nullptr;
  if (talk) Vlt_reportErrMsg(es, VLT_CODE_REPORT, "About to find and tokenize CCs for page %4d.", int(pageNumber));
  int32_t found = 0;
  ResidualPos* positions = nullptr;
  VltAdtList* outliers = nullptr;
  // Nothing on a page is larger than the page, so every component becomes a token.
  if (VltStatus st = VltCC_getBoxes(state, &found, &positions, &outliers, doc->tokenizer, buffer, width, height,
                                    width, height, bytesPerLine, s->tokBlock, s->posBlock,
                                    static_cast<int32_t>(s->pageCount), 1, 0))
    return st;
  page.posCount = static_cast<uint32_t>(found);
  page.positions = positions;
  const uint32_t outlierCount = outliers != nullptr ? outliers->count : 0;
  if (talk) {
    Vlt_reportErrMsg(es, VLT_CODE_REPORT, "Found %5d CCs  (%5d boxes and %5d outliers).", found + int(outlierCount),
                     found, int(outlierCount));
    Vlt_reportErrMsg(es, VLT_CODE_REPORT, "Found %5d halftone boxes.", 0);
  }
  if (outliers != nullptr) {
    for (VltAdtListNode* n = outliers->first; n != nullptr; n = n->next)
      tok_freeComponent(state, static_cast<TokComponent*>(n->data), TOK_POOL_LOSSLESS_CC);
    VltAdt_liFree(outliers);
  }
  VltStatus st = outlierCount != 0 ? Vlt_report(state, VLT_ERR_ASSERT) : VltTdc_storePage(state, s, &page);
  if (st != VLT_OK) {
    release_page_data(state, &page);
    page.posCount = 0;
  }
  return st;
}

uint32_t tdoc_computeMemUsage(VltTdcDoc* doc) {
  if (doc == nullptr) return 0;
  uint64_t total = VltLlTokMemUsage(doc->tokenizer);
  if (VltTdcSection* s = doc->section) {
    for (uint32_t i = 0; i < s->pageCount; ++i) {
      VltTdcPage& p = s->pages[i];
      if (p.memory == -1) {
        uint64_t m = 12 * (uint64_t{p.posCount} + p.extraCount);
        if (p.ownsExtra) m += 8 * uint64_t{p.posCount};
        for (uint32_t b = 0; b < p.blockCount; ++b) m += 12 + uint64_t{p.sizedBlocks[3 * b + 2]};
        p.memory = m > INT32_MAX ? INT32_MAX : static_cast<int32_t>(m);
      }
      total += uint64_t(uint32_t(p.memory)) + VLT_TDC_PAGE_CHARGE;
    }
  }
  return total > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(total);
}
