// The token decoder's API.

#include "vlt_decoder.h"

#include <cstdio>
#include <cstdlib>

#include "jb2_decode.h"
#include "jb2_file.h"
#include "vlt_adt.h"
#include "vlt_blit.h"
#include "vlt_tokdecode.h"

namespace {

void release_dict(SegmentInfo* dict, VltState* state) {
  jb2FreeSegmentInfo(dict, state);
  state->free(dict);
}

// Takes every node out of a dictionary list and frees its head; the dictionaries stay.
void drop_list(VltAdtList* list) {
  VltAdt_liClear(list);
  VltAdt_liFree(list);
}

void draw(uint8_t* dst, int32_t dstWords, const Jb2TokPosition* p, int32_t n) {
  for (int32_t i = 0; i < n; ++i)
    VltBlat_blitBitsOp(dst, dstWords, p[i].left, p[i].top, p[i].right, p[i].bottom, p[i].bits, p[i].wordsPerRow,
                       p[i].width, p[i].height, p[i].x, p[i].y, VLT_BLIT_OR);
}

// The page's size from its page information (the clip window where it says none), checked
// against the limit before the page or its regions are drawn.
VltStatus check_page_size(Jb2File* file, const VltAdtList* work, const VltAdtListNode* last, int32_t clipWidth,
                          int32_t clipHeight) {
  uint64_t width = static_cast<uint64_t>(clipWidth), height = static_cast<uint64_t>(clipHeight);
  for (const VltAdtListNode* n = last != nullptr ? last->next : work->first; n != nullptr; n = n->next) {
    const auto* seg = static_cast<const SegmentInfo*>(n->data);
    if (seg->type != JB2_SEG_PAGE_INFO) continue;
    width = seg->body.pageInfo.width;
    if (seg->body.pageInfo.height != 0xFFFFFFFFu) height = seg->body.pageInfo.height;
    break;
  }
  if (width > file->maxPixels || height > file->maxPixels || width * height > file->maxPixels)
    return jb2Fail(file, VLT_ERR_CODEC, "page too large");
  return VLT_OK;
}

// Reads the page against the working list and draws it: as placements where they give the
// page exactly, else composed region by region.
VltStatus render_page(Jb2File* file, VltAdtList* work, const uint8_t* bytes, uint32_t length, uint8_t* dst,
                      int32_t clipWidth, int32_t clipHeight, int32_t dstWords) {
  VltState* state = jb2GetFileVlt_State(file);
  VltAdtListNode* const last = work->last;
  VltStatus st = jb2_readTokPage(file, bytes, length, work);
  if (st != VLT_OK) return st;
  if ((st = check_page_size(file, work, last, clipWidth, clipHeight)) != VLT_OK) {
    jb2_releaseTokSegments(work, last, state);
    return st;
  }
  if (jb2_tokPlacementsExact(work, last)) {
    Jb2TokPosition* positions = nullptr;
    int32_t n = 0;
    st = jb2_tokPlacements(file, work, last, clipWidth, clipHeight, &positions, &n);
    if (st == VLT_OK) draw(dst, dstWords, positions, n);
    state->free(positions);
  } else {
    st = jb2_composeTokPage(file, work, last, dst, clipWidth, clipHeight, dstWords);
  }
  jb2_releaseTokSegments(work, last, state);
  return st;
}

}  // namespace

VltStatus VltDec_init(VltDecoder** place, const VltMemFuncs* mem, const VltSmallPoolFuncs* pools) {
  VltErrState creation{stderr, Vlt_fileErrPrinter};
  if (place == nullptr) return Vlt_reportErr(&creation, VLT_ERR_PARAM);
  *place = nullptr;
  auto* d = static_cast<VltDecoder*>(mem != nullptr ? mem->calloc(1, sizeof(VltDecoder))
                                                    : std::calloc(1, sizeof(VltDecoder)));
  if (d == nullptr) return Vlt_reportErr(&creation, VLT_ERR_VLT_NOMEM);
  VltStatus st = Vlt_initVltState(&d->state, mem, pools, stderr, Vlt_fileErrPrinter, 1, 0);
  if (st == VLT_OK) st = VltAdt_liNew(&d->dictionaries, d->state);
  if (st == VLT_OK) st = VltAdt_liNew(&d->dictLists, d->state);
  if (st != VLT_OK) {
    // A decoder that cannot be made leaves nothing behind.
    if (d->dictionaries != nullptr) VltAdt_liFree(d->dictionaries);
    Vlt_cleanupVltState(&d->state);
    if (mem != nullptr) mem->free(d); else std::free(d);
    return st;
  }
  d->maxPagePixels = VLT_DEC_DEFAULT_MAX_PAGE_PIXELS;
  *place = d;
  return VLT_OK;
}

VltStatus VltDec_setMaxPagePixels(VltDecoder* decoder, uint64_t maxPixels) {
  if (decoder == nullptr) return VLT_ERR_PARAM;
  decoder->maxPagePixels = maxPixels == 0 || maxPixels > VLT_DEC_DEFAULT_MAX_PAGE_PIXELS
                               ? VLT_DEC_DEFAULT_MAX_PAGE_PIXELS
                               : maxPixels;
  return VLT_OK;
}

VltStatus VltDec_decodeDict(VltDecoder* decoder, const uint8_t* bytes, uint32_t length, SegmentInfo** dict) {
  *dict = nullptr;
  SegmentInfo* made = nullptr;
  if (const VltStatus st = jb2_decodeTokDictSeg(&made, bytes, length, decoder->state); st != VLT_OK) return st;
  if (const VltStatus st = VltAdt_liAdd(decoder->dictionaries, made, nullptr); st != VLT_OK) {
    release_dict(made, decoder->state);
    return st;
  }
  *dict = made;
  return VLT_OK;
}

VltStatus VltDec_buildDictList(VltDecoder* decoder, VltAdtList** list, SegmentInfo* dict) {
  if (*list == nullptr) {
    VltAdtList* made = nullptr;
    if (const VltStatus st = VltAdt_liNew(&made, decoder->state); st != VLT_OK) return st;
    if (const VltStatus st = VltAdt_liAdd(decoder->dictLists, made, nullptr); st != VLT_OK) {
      VltAdt_liFree(made);
      return st;
    }
    *list = made;
  }
  return dict != nullptr ? VltAdt_liAdd(*list, dict, nullptr) : VLT_OK;
}

VltStatus VltDec_renderBinaryImage(VltDecoder* decoder, VltAdtList* list, const uint8_t* bytes, uint32_t length,
                                   uint8_t* dst, int32_t clipWidth, int32_t clipHeight, int32_t dstWords) {
  VltState* state = decoder->state;
  if (dst == nullptr || clipWidth < 0 || clipHeight < 0 || dstWords < 0 || int64_t{dstWords} * 32 < clipWidth)
    return Vlt_report(state, VLT_ERR_PARAM);
  VltAdtList* work = nullptr;
  Jb2File* file = nullptr;
  VltStatus st = VltAdt_liNew(&work, state);
  if (st == VLT_OK) st = jb2CreateFile(nullptr, nullptr, state, &file);
  if (st == VLT_OK) file->maxPixels = decoder->maxPagePixels;
  for (VltAdtListNode* n = list != nullptr ? list->first : nullptr; n != nullptr && st == VLT_OK; n = n->next)
    st = VltAdt_liAdd(work, n->data, nullptr);
  if (st == VLT_OK) st = render_page(file, work, bytes, length, dst, clipWidth, clipHeight, dstWords);
  // The page's own segments are gone by now; what is left are the dictionaries.
  if (work != nullptr) drop_list(work);
  jb2FreeFile(file);
  return st;
}

VltStatus VltDec_destroyDict(VltDecoder* decoder, SegmentInfo** dict) {
  if (*dict == nullptr) return VLT_OK;
  VltAdtListNode* node = nullptr;
  VltAdt_liIsIn(decoder->dictionaries, *dict, &node);
  if (node == nullptr) return Vlt_report(decoder->state, VLT_ERR_PARAM);
  // A list that still names the dictionary would hand it to a later page.
  for (VltAdtListNode* l = decoder->dictLists->first; l != nullptr; l = l->next) {
    auto* dictList = static_cast<VltAdtList*>(l->data);
    VltAdtListNode* e = nullptr;
    while (VltAdt_liIsIn(dictList, *dict, &e) == VLT_OK && e != nullptr) VltAdt_liRem(e);
  }
  VltAdt_liRem(node);
  release_dict(*dict, decoder->state);
  *dict = nullptr;
  return VLT_OK;
}

VltStatus VltDec_destroyDictList(VltDecoder* decoder, VltAdtList** list) {
  if (*list == nullptr) return VLT_OK;
  // The decoder forgets the list too, so that closing it does not free it again.
  if (decoder != nullptr) {
    VltAdtListNode* node = nullptr;
    VltAdt_liIsIn(decoder->dictLists, *list, &node);
    if (node != nullptr) VltAdt_liRem(node);
  }
  drop_list(*list);
  *list = nullptr;
  return VLT_OK;
}

VltStatus VltDec_close(VltDecoder** place) {
  if (place == nullptr || *place == nullptr) return VLT_OK;
  VltDecoder* d = *place;
  while (d->dictionaries->first != nullptr) {
    auto* dict = static_cast<SegmentInfo*>(d->dictionaries->first->data);
    if (const VltStatus st = VltDec_destroyDict(d, &dict); st != VLT_OK) return st;
  }
  VltAdt_liFree(d->dictionaries);
  for (VltAdtListNode* n = d->dictLists->first; n != nullptr; n = n->next) drop_list(static_cast<VltAdtList*>(n->data));
  VltAdt_liFree(d->dictLists);
  VltState* state = d->state;
  state->free(d);
  *place = nullptr;
  return Vlt_cleanupVltState(&state);
}
