#include "bridge_fixture.h"

#include <algorithm>
#include <cstring>

#include "byteorder.h"
#include "tok_pagecc.h"

namespace bridgetest {

namespace {

using monotest::RefBitmap;

VltTokenRecord make_record(VltState* state, const RefBitmap& bm) {
  VltTokenRecord r{};
  r.width = static_cast<uint16_t>(bm.width);
  r.height = static_cast<uint16_t>(bm.height);
  r.lineWords = static_cast<uint16_t>((bm.width + 31) / 32);
  r.bitmap = static_cast<uint8_t*>(state->calloc(size_t(r.lineWords) * 4 * std::max(bm.height, 1), 1));
  if (r.bitmap == nullptr) return r;
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x)
      if (bm.get(x, y)) r.bitmap[size_t(y) * r.lineWords * 4 + size_t(x) / 8] |= uint8_t(0x80 >> (x % 8));
  r.uses = 1;
  return r;
}

// A large component in the page record's form.
VltStatus make_component(VltState* state, const LargePiece& p, TokComponent** out) {
  void* block = nullptr;
  if (const VltStatus st = state->smallAlloc(state->smallContext, TOK_POOL_COMPONENT, &block); st != VLT_OK)
    return st;
  auto* c = static_cast<TokComponent*>(block);
  *c = TokComponent{};
  c->bitmap = TokBitmap{uint16_t(p.bm.width), uint16_t(p.bm.height), nullptr, uint16_t((p.bm.width + 31) / 32), c};
  c->x = p.x;
  c->y = p.bottom;
  if (!p.runs) {
    VltTokenRecord r = make_record(state, p.bm);
    c->bitmap.bits = r.bitmap;
    if (r.bitmap == nullptr) {
      tok_freeComponent(state, c, TOK_POOL_COMPONENT);
      return VLT_ERR_NOMEM;
    }
  } else {
    std::vector<uint16_t> runs;
    for (int y = 0; y < p.bm.height; ++y)
      for (int x = 0; x < p.bm.width;) {
        if (!p.bm.get(x, y)) {
          ++x;
          continue;
        }
        int e = x;
        while (e + 1 < p.bm.width && p.bm.get(e + 1, y)) ++e;
        runs.push_back(uint16_t(x));
        runs.push_back(uint16_t(e));
        x = e + 1;
      }
    c->runCount = int32_t(runs.size() / 2);
    c->runs = static_cast<uint16_t*>(state->malloc(std::max<size_t>(runs.size(), 1) * sizeof(uint16_t)));
    if (c->runs == nullptr) {
      tok_freeComponent(state, c, TOK_POOL_COMPONENT);
      return VLT_ERR_NOMEM;
    }
    if (!runs.empty()) std::memcpy(c->runs, runs.data(), runs.size() * sizeof(uint16_t));
  }
  *out = c;
  return VLT_OK;
}

jb2test::Bytes take(VltState* state, uint8_t* bytes, uint32_t length) {
  jb2test::Bytes b(bytes, bytes + length);
  state->free(bytes);
  return b;
}

void free_records(VltState* state, std::vector<VltTokenRecord>& records) {
  for (VltTokenRecord& r : records) state->free(r.bitmap);
  records.clear();
}

void free_components(VltState* state, VltAdtList* list) {
  if (list == nullptr) return;
  for (VltAdtListNode* n = list->first; n != nullptr; n = n->next)
    tok_freeComponent(state, static_cast<TokComponent*>(n->data), TOK_POOL_COMPONENT);
  VltAdt_liFree(list);
}

// One page's segments: page information, its residual dictionary, both stripes and the end of
// page. The residual records and the component list are the caller's to release.
VltStatus write_page(VltState* state, const Jb2OutputCallbacks& cb, Jb2StreamState* s, uintptr_t ctx,
                     const Section& section, size_t p, std::vector<VltTokenRecord>& records,
                     std::vector<VltTokenRecord>& residual, VltAdtList** components) {
  const TestPage& page = section.pages[p];
  const uint8_t striped = 0;
  if (const VltStatus st = writeJb2PageInfo(page.width, page.height, 300, 300, s, &striped); st != VLT_OK) return st;
  for (int shape : page.residualShapes) {
    residual.push_back(make_record(state, section.shapes[size_t(shape)]));
    if (residual.back().bitmap == nullptr) return VLT_ERR_NOMEM;
  }
  void* newBlock = &ctx;
  if (!residual.empty())
    if (const VltStatus st = cb.writePageDictionary(residual.data(), int32_t(residual.size()), page.width, page.height,
                                                    300, 300, 0, nullptr, &newBlock, 0, 0, s, ctx);
        st != VLT_OK)
      return st;
  std::vector<VltPosRecord> pos;
  for (const Placement& pl : page.placed) {
    VltTokenRecord* token = nullptr;
    if (pl.shape < section.sectionShapes) {
      token = &records[size_t(pl.shape)];
    } else {
      const auto it = std::find(page.residualShapes.begin(), page.residualShapes.end(), pl.shape);
      token = &residual[size_t(it - page.residualShapes.begin())];
    }
    pos.push_back(VltPosRecord{token, 0, int16_t(pl.x), int16_t(pl.bottom)});
  }
  if (const VltStatus st = VltAdt_liNew(components, state); st != VLT_OK) return st;
  for (const LargePiece& lp : page.large) {
    TokComponent* c = nullptr;
    if (const VltStatus st = make_component(state, lp, &c); st != VLT_OK) return st;
    if (const VltStatus st = VltAdt_liAdd(*components, c, nullptr); st != VLT_OK) {
      tok_freeComponent(state, c, TOK_POOL_COMPONENT);
      return st;
    }
  }
  vlt_sortPositions(pos.data(), int32_t(pos.size()));
  if (const VltStatus st = vlt_writeStripes(&cb, s, pos.data(), int32_t(pos.size()), *components, page.width,
                                            page.height, page.splitRow, 300, 300, int32_t(p) + 1, nullptr);
      st != VLT_OK)
    return st;
  if ((*components)->count != 0) return VLT_ERR_ASSERT;
  free_components(state, *components);
  *components = nullptr;
  for (const auto* list : {&records, &residual})
    for (const VltTokenRecord& r : *list)
      if (r.link != nullptr) return VLT_ERR_ASSERT;
  return cb.finishPage(s, ctx);
}

VltStatus write_section_dictionary(VltState* state, const Jb2OutputCallbacks& cb, Jb2StreamState* s, uintptr_t ctx,
                                   const Section& section, std::vector<VltTokenRecord>& records) {
  for (int i = 0; i < section.sectionShapes; ++i) {
    records.push_back(make_record(state, section.shapes[size_t(i)]));
    if (records.back().bitmap == nullptr) return VLT_ERR_NOMEM;
  }
  void* newBlock = &ctx;
  if (const VltStatus st = cb.writeDictionary(records.data(), int32_t(records.size()), nullptr, &newBlock, 0, 0, s, ctx);
      st != VLT_OK)
    return st;
  return newBlock == nullptr ? VLT_OK : VLT_ERR_ASSERT;
}

size_t append_bytes(const void* data, size_t size, size_t count, void* stream) {
  auto* out = static_cast<jb2test::Bytes*>(stream);
  const auto* b = static_cast<const uint8_t*>(data);
  out->insert(out->end(), b, b + size * count);
  return count;
}

}  // namespace

VltStatus write_section(VltState* state, const Section& section, uint32_t profile, Blocks* out) {
  Jb2OutputCallbacks cb{};
  vlt_fillOutputCallbacks(&cb);
  uint32_t block[6] = {};
  Jb2StreamState* s = nullptr;
  uintptr_t ctx = 1;
  std::vector<VltTokenRecord> records, residual;
  VltAdtList* components = nullptr;
  const auto done = [&](VltStatus st) {
    free_components(state, components);
    if (s != nullptr) {
      cb.freeDictBlock(nullptr, s, ctx);
      cb.closeState(s, ctx);
    }
    free_records(state, records);
    free_records(state, residual);
    return st;
  };
  if (const VltStatus st = cb.createState(block, state, profile, 1, 1, &s, &ctx); st != VLT_OK) return done(st);
  if (const VltStatus st = write_section_dictionary(state, cb, s, ctx, section, records); st != VLT_OK) return done(st);
  uint8_t* bytes = nullptr;
  uint32_t length = 0;
  if (const VltStatus st = getJb2CompressedData(s, &bytes, &length); st != VLT_OK) return done(st);
  out->dictionary = take(state, bytes, length);

  for (size_t p = 0; p < section.pages.size(); ++p) {
    if (const VltStatus st = write_page(state, cb, s, ctx, section, p, records, residual, &components); st != VLT_OK)
      return done(st);
    if (const VltStatus st = getJb2CompressedData(s, &bytes, &length); st != VLT_OK) return done(st);
    out->pages.push_back(take(state, bytes, length));
    free_records(state, residual);
  }
  return done(VLT_OK);
}

VltStatus write_file(VltState* state, const Section& section, uint32_t profile, const jb2test::Bytes& annotation,
                     jb2test::Bytes* out) {
  Jb2OutputCallbacks cb{};
  vlt_fillOutputCallbacks(&cb);
  Jb2FileTarget target{out, append_bytes};
  Jb2StreamState* s = nullptr;
  uintptr_t ctx = 1;
  std::vector<VltTokenRecord> records, residual;
  VltAdtList* components = nullptr;
  const auto done = [&](VltStatus st) {
    free_components(state, components);
    const VltStatus closed = closeJb2StateCB(s);
    free_records(state, records);
    free_records(state, residual);
    return st != VLT_OK ? st : closed;
  };
  if (const VltStatus st = createJb2StateCB(&target, state, profile, uint32_t(section.pages.size()), 0, &s, &ctx);
      st != VLT_OK)
    return st;
  if (const VltStatus st = write_section_dictionary(state, cb, s, ctx, section, records); st != VLT_OK) return done(st);
  for (size_t p = 0; p < section.pages.size(); ++p) {
    if (const VltStatus st = write_page(state, cb, s, ctx, section, p, records, residual, &components); st != VLT_OK)
      return done(st);
    if (p == 0 && !annotation.empty()) {
      const Jb2ExtensionRecord note{0x20000000u, annotation.data(), uint32_t(annotation.size())};
      if (const VltStatus st = writeJb2AnnotationsCB(1, &note, s); st != VLT_OK) return done(st);
    }
    free_records(state, residual);
  }
  return done(VLT_OK);
}

RefBitmap render(const Section& section, const TestPage& page) {
  RefBitmap out(page.width, page.height);
  const auto paint = [&](const RefBitmap& bm, int x0, int top) {
    for (int y = 0; y < bm.height; ++y)
      for (int x = 0; x < bm.width; ++x)
        if (bm.get(x, y) && x0 + x < out.width && top + y >= 0 && top + y < out.height) out.set(x0 + x, top + y, 1);
  };
  for (const Placement& p : page.placed) {
    const RefBitmap& bm = section.shapes[size_t(p.shape)];
    paint(bm, p.x, p.bottom - bm.height + 1);
  }
  for (const LargePiece& l : page.large) paint(l.bm, l.x, l.bottom - l.bm.height + 1);
  return out;
}

}  // namespace bridgetest
