#include "jb2_symbol_sample.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>

#include "i_ccruns.h"
#include "ipcore.h"
#include "tools.h"
#include "vlt_state.h"

namespace jb2test {

using monotest::RefBitmap;

namespace {

// An image-core state on the C library's allocator.
struct CoreState {
  std::vector<uint8_t> record;
  IPState* state;
  CoreState() {
    uint32_t size = 0;
    i_getSizeOfIPState(&size);
    record.assign(size, 0);
    state = reinterpret_cast<IPState*>(record.data());
    check(i_IPStateInit(state, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                        nullptr, static_cast<int32_t>(size)),
          "i_IPStateInit");
  }
  ~CoreState() { i_IPStateTerm(state); }
};

int collect_glyph(IPState*, void* data, int32_t xMin, int32_t yMin, int32_t width, int32_t height, int32_t,
                  int32_t, CCRun* runs) {
  Glyph g{xMin, yMin, RefBitmap(width, height)};
  // Runs come bottom line first, right to left; a run ends its line when the next one does not
  // lie to its left.
  int y = height - 1;
  for (const CCRun* r = runs; r != nullptr; r = r->next) {
    for (int x = r->start; x <= r->end; ++x) g.bm.set(x - xMin, y, 1);
    if (r->next == nullptr || r->next->end >= r->start - 1) --y;
  }
  static_cast<std::vector<Glyph>*>(data)->push_back(std::move(g));
  return 0;
}

std::string key_of(const RefBitmap& bm) {
  std::string k = std::to_string(bm.width) + "x" + std::to_string(bm.height) + ":";
  k.append(bm.bits.begin(), bm.bits.end());
  return k;
}

}  // namespace

std::vector<Glyph> cut_glyphs(const RefBitmap& page) {
  CoreState core;
  std::vector<Glyph> glyphs;
  int result = 0;
  check(i_findConnectedComponentRuns(core.state, page.bits.data(), static_cast<uint32_t>(page.stride), 0, 0,
                                     page.width, page.height, 1, 1, 1, &glyphs, collect_glyph, &result),
        "i_findConnectedComponentRuns");
  return glyphs;
}

ShapeClasses exact_classes(const std::vector<Glyph>& glyphs) {
  ShapeClasses c;
  std::map<std::string, int> seen;
  for (const Glyph& g : glyphs) {
    auto [it, added] = seen.emplace(key_of(g.bm), static_cast<int>(c.shapes.size()));
    if (added) c.shapes.push_back(g.bm);
    c.classOf.push_back(it->second);
  }
  return c;
}

std::vector<RefBitmap> random_shapes(int n, int maxSide, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<RefBitmap> out;
  out.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const int w = 1 + static_cast<int>(rng() % static_cast<uint32_t>(maxSide));
    const int h = 1 + static_cast<int>(rng() % static_cast<uint32_t>(maxSide));
    RefBitmap bm = monotest::make_noise(w, h, 0.55, rng());
    bm.set(0, 0, 1);  // never blank
    out.push_back(std::move(bm));
  }
  return out;
}

Jb2FileParams profile_params(int profile) {
  // The defaults a fresh context starts with, then what the profile writes over them.
  Jb2FileParams p{};
  p.sdAllowTuned = 1;
  p.generic = Jb2GenericParams{2, {2, -3, 2, -2}, {-1, -1, -2, -2}, 0};
  p.trAllowTuned = 1;
  p.pdTemplate = 2;
  switch (profile) {
    case 1:
      p.arith = p.sdAllowTuned = p.trArith = p.trAllowTuned = 0;
      p.sdFixedTables = p.trFixedTables = p.trNoTopLeft = p.trNoTranspose = 1;
      break;
    case 3:
      p.arith = 1;
      p.generic.gbTemplate = 2;
      p.generic.atx[0] = 2;
      p.generic.aty[0] = -1;
      p.generic.tpgdon = 0;
      p.trArith = p.trNoTopLeft = p.trNoTranspose = 1;
      break;
    default:
      p.arith = p.sdFixedTables = p.trArith = p.trFixedTables = p.trNoTopLeft = p.trNoTranspose = 0;
      p.sdAllowTuned = p.trAllowTuned = 1;
      break;
  }
  return p;
}

SymbolSet::SymbolSet(VltState* state, const std::vector<RefBitmap>& shapes, bool dirtyPadding, int extraWords)
    : state_(state) {
  const size_t n = shapes.size();
  symbols.resize(n);
  tags.resize(n);
  rows_.resize(n);
  for (size_t i = 0; i < n; ++i) {
    const RefBitmap& bm = shapes[i];
    const int words = (bm.width + 31) / 32 + extraWords;
    std::vector<uint8_t>& r = rows_[i];
    r.assign(static_cast<size_t>(words) * 4 * static_cast<size_t>(std::max(bm.height, 1)), 0);
    for (int y = 0; y < bm.height; ++y) {
      uint8_t* row = r.data() + static_cast<size_t>(y) * words * 4;
      std::copy(bm.row(y), bm.row(y) + bm.stride, row);
      if (dirtyPadding)
        for (int x = bm.width; x < words * 32; ++x) row[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
    }
    tags[i] = static_cast<int>(i);
    symbols[i] = Jb2Symbol{bm.width, bm.height, r.data(), words, 0, &tags[i], 0};
  }
  dict.type = JB2_SEG_SYMBOL_DICT;
  dict.page = 1;
  dict.body.symbolDict.count = static_cast<int32_t>(n);
  dict.body.symbolDict.symbols = symbols.data();
}

SymbolSet::~SymbolSet() {
  state_->free(dict.referred);
  state_->free(dict.referredRetain);
}

Jb2Symbol* SymbolSet::entry_of(int shape) {
  for (Jb2Symbol& s : symbols)
    if (shape_of(s) == shape) return &s;
  throw std::runtime_error("no symbol holds shape " + std::to_string(shape));
}

std::vector<void*> SymbolSet::owners() const {
  std::vector<void*> o;
  for (const Jb2Symbol& s : symbols) o.push_back(s.owner);
  return o;
}

RefBitmap symbol_bitmap(const Jb2Symbol& s) {
  RefBitmap bm(s.width, s.height);
  for (int y = 0; y < s.height; ++y) {
    const uint8_t* row = s.bits + static_cast<size_t>(y) * s.wordsPerRow * 4;
    for (int x = 0; x < s.width; ++x) bm.set(x, y, row[x >> 3] >> (7 - (x & 7)) & 1);
  }
  return bm;
}

std::vector<Placed> text_lines(const std::vector<RefBitmap>& shapes, const std::vector<int>& use, int pageWidth,
                               int lineHeight, int gap, int jitter, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<Placed> out;
  int x = gap, line = 0;
  for (int s : use) {
    const RefBitmap& bm = shapes[static_cast<size_t>(s)];
    if (x + bm.width > pageWidth - gap && x > gap) {
      x = gap;
      ++line;
    }
    const int baseline = line * lineHeight + lineHeight - 1 - jitter +
                         (jitter > 0 ? static_cast<int>(rng() % static_cast<uint32_t>(jitter + 1)) : 0);
    out.push_back({s, x, baseline - bm.height + 1});
    x += bm.width + gap;
  }
  return out;
}

std::vector<Placed> text_columns(const std::vector<RefBitmap>& shapes, const std::vector<int>& use, int pageHeight,
                                 int columnWidth, int gap) {
  std::vector<Placed> out;
  int y = gap, column = 0;
  for (int s : use) {
    const RefBitmap& bm = shapes[static_cast<size_t>(s)];
    if (y + bm.height > pageHeight - gap && y > gap) {
      y = gap;
      ++column;
    }
    out.push_back({s, column * columnWidth + gap, y});
    y += bm.height + gap;
  }
  return out;
}

RefBitmap render(const std::vector<RefBitmap>& shapes, const std::vector<Placed>& placed, int width, int height) {
  RefBitmap page(width, height);
  for (const Placed& p : placed) {
    const RefBitmap& bm = shapes[static_cast<size_t>(p.shape)];
    for (int y = 0; y < bm.height; ++y)
      for (int x = 0; x < bm.width; ++x) {
        const int px = p.x + x, py = p.y + y;
        if (bm.get(x, y) && px >= 0 && py >= 0 && px < width && py < height) page.set(px, py, 1);
      }
  }
  return page;
}

namespace {

// The page's dictionaries, kept while its text regions are written.
class PageWriter {
 public:
  PageWriter(VltState* state, const SymbolPage& page) : page_(page), where_(page.shapes.size()) {
    const int d = std::max(page.dictionaries, 1);
    std::vector<std::vector<RefBitmap>> members(static_cast<size_t>(d));
    for (size_t i = 0; i < page.shapes.size(); ++i) {
      auto& m = members[i % static_cast<size_t>(d)];
      where_[i] = {static_cast<int>(i % static_cast<size_t>(d)), static_cast<int>(m.size())};
      m.push_back(page.shapes[i]);
    }
    for (auto& m : members) sets_.push_back(std::make_unique<SymbolSet>(state, m, page.dirtyPadding));
  }

  VltStatus write_dictionaries(Jb2File* file, uint32_t pageAssociation) {
    for (auto& s : sets_) {
      s->dict.page = pageAssociation;
      if (const VltStatus st = jb2EncodeSymDict(file, &s->dict, nullptr, nullptr, nullptr, 1); st != VLT_OK) return st;
    }
    return VLT_OK;
  }

  VltStatus write_regions(Jb2File* file, std::vector<BandChoice>* choices) {
    VltState* state = file->state;
    std::vector<int> starts = {0};
    starts.insert(starts.end(), page_.bandRows.begin(), page_.bandRows.end());
    starts.push_back(page_.height);
    std::vector<SegmentInfo*> referred;
    for (auto& s : sets_) referred.push_back(&s->dict);
    for (size_t b = 0; b + 1 < starts.size(); ++b) {
      const int y0 = starts[b], y1 = starts[b + 1];
      std::vector<Jb2Instance> instances;
      int bottom = y1;
      for (const Placed& p : page_.placed) {
        if (p.y < y0 || p.y >= y1) continue;
        const auto [set, index] = where_[static_cast<size_t>(p.shape)];
        Jb2Symbol* sym = sets_[static_cast<size_t>(set)]->entry_of(index);
        instances.push_back(Jb2Instance{p.x, p.y - y0, sym, nullptr, nullptr});
        bottom = std::max(bottom, p.y + sym->height);
      }
      if (instances.empty()) continue;
      SegmentInfo region{};
      region.type = JB2_SEG_TEXT_IMMEDIATE;
      region.page = 1;
      region.region = Jb2RegionInfo{static_cast<uint32_t>(page_.width), static_cast<uint32_t>(bottom - y0), 0,
                                    static_cast<uint32_t>(y0), JB2_COMBOP_OR};
      region.body.textRegion.count = static_cast<int32_t>(instances.size());
      region.body.textRegion.instances = instances.data();
      VltStatus st = jb2AddReferencedSegments(file, &region, referred.data(), static_cast<int32_t>(referred.size()));
      if (st == VLT_OK && choices != nullptr) {
        Jb2TextChoice c{};
        st = decideSREncoding(&file->params, &region, page_.keepOrder, &c, state);
        if (st == VLT_OK)
          choices->push_back({c.sbStrips, c.transposed, c.refCorner, c.tuned[0] + c.tuned[1] + c.tuned[2]});
        jb2FreeTextChoice(&c, state);
      }
      if (st == VLT_OK) st = jb2EncodeSymRegion(file, &region, referred.data(), nullptr, nullptr, page_.keepOrder);
      state->free(region.referred);
      state->free(region.referredRetain);
      if (st != VLT_OK) return st;
    }
    return VLT_OK;
  }

 private:
  const SymbolPage& page_;
  std::vector<std::pair<int, int>> where_;  // shape -> dictionary, index in it
  std::vector<std::unique_ptr<SymbolSet>> sets_;
};

// The page stream of an embedded page: page information, then the body, numbering on from
// firstNumber.
Bytes page_stream(VltState* state, const SymbolPage& page, uint32_t firstNumber,
                  const std::function<VltStatus(Jb2File*)>& body, const Jb2FileParams& params) {
  MemoryStream s(state);
  jb2SetFileParams(s.file(), &params);
  jb2SetFileSegnum(s.file(), firstNumber);
  SegmentInfo info{};
  info.page = 1;
  info.body.pageInfo.width = static_cast<uint32_t>(page.width);
  info.body.pageInfo.height = static_cast<uint32_t>(page.height);
  info.body.pageInfo.xResolution = info.body.pageInfo.yResolution = 11811;
  info.body.pageInfo.eventuallyLossless = 1;
  check(jb2EncodePageInfo(s.file(), &info), "jb2EncodePageInfo");
  check(body(s.file()), "the page's segments");
  return s.finish();
}

}  // namespace

SymbolPage glyph_page(const RefBitmap& source) {
  const auto glyphs = cut_glyphs(source);
  const auto classes = exact_classes(glyphs);
  SymbolPage page;
  page.shapes = classes.shapes;
  for (size_t i = 0; i < glyphs.size(); ++i) page.placed.push_back({classes.classOf[i], glyphs[i].x, glyphs[i].y});
  page.width = source.width;
  page.height = source.height;
  page.bandRows = {source.height / 2};
  return page;
}

VltStatus write_symbol_page(Jb2File* file, const SymbolPage& page, std::vector<BandChoice>* choices) {
  PageWriter w(file->state, page);
  if (const VltStatus st = w.write_dictionaries(file, 1); st != VLT_OK) return st;
  return w.write_regions(file, choices);
}

Bytes symbol_page_file(VltState* state, const SymbolPage& page, const Jb2FileParams& params,
                       std::vector<BandChoice>* choices) {
  return t88_file(state, {static_cast<uint32_t>(page.width), static_cast<uint32_t>(page.height)},
                  [&](Jb2File* f) { return write_symbol_page(f, page, choices); }, &params);
}

EmbeddedStreams symbol_page_embedded(VltState* state, const SymbolPage& page, const Jb2FileParams& params) {
  PageWriter w(state, page);
  EmbeddedStreams out;
  uint32_t next = 0;
  {
    MemoryStream g(state);
    jb2SetFileParams(g.file(), &params);
    check(w.write_dictionaries(g.file(), 0), "the dictionaries");
    next = jb2GetFileSegnum(g.file());
    out.globals = g.finish();
  }
  out.page = page_stream(state, page, next, [&](Jb2File* f) { return w.write_regions(f, nullptr); }, params);
  return out;
}

std::string minimal_pdf(const EmbeddedStreams& s, int width, int height) {
  const std::string w = std::to_string(width), h = std::to_string(height);
  const std::string content = "q " + w + " 0 0 " + h + " 0 0 cm /Im1 Do Q\n";
  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + w + " " + h +
          "] /Resources << /XObject << /Im1 5 0 R >> >> /Contents 4 0 R >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream",
      "<< /Type /XObject /Subtype /Image /Width " + w + " /Height " + h +
          " /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /JBIG2Decode /DecodeParms << /JBIG2Globals 6 0 R >>"
          " /Length " +
          std::to_string(s.page.size()) + " >>\nstream\n" + std::string(s.page.begin(), s.page.end()) + "\nendstream",
      "<< /Length " + std::to_string(s.globals.size()) + " >>\nstream\n" +
          std::string(s.globals.begin(), s.globals.end()) + "\nendstream",
  };
  return monotest::pdf_of_objects(objects, "%PDF-1.5\n%\xE2\xE3\xCF\xD3\n");
}

}  // namespace jb2test
