// The classifier on glyphs cut from real pages and from known-text sheets.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "cut_components.h"
#include "glyph_sheet.h"
#include "pages.h"
#include "tok_fixture.h"

namespace {

using monotest::CutComponent;
using monotest::RefBitmap;
using toktest::TokTest;

struct GlyphTest : TokTest {
  std::vector<CutComponent> glyphs(const RefBitmap& page) { return monotest::cut_components(page, params.minLossySize); }
};

std::string key(const CutComponent& c) {
  return std::to_string(c.width) + "x" + std::to_string(c.height) + ":" + std::string(c.bits.begin(), c.bits.end());
}

TEST_F(GlyphTest, IdenticalGlyphsShareOneClass) {
  for (const char* name : {"doc3", "doc10", "ccitt1", "ccitt4"}) {
    init();
    const std::vector<CutComponent> g = glyphs(monotest::sample_page(name));
    int classes = 0;
    const std::vector<int> classOf = classify(g, &classes);
    std::map<std::string, int> first;
    int duplicates = 0, split = 0;
    for (size_t i = 0; i < g.size(); ++i) {
      auto [it, fresh] = first.emplace(key(g[i]), classOf[i]);
      if (!fresh) {
        ++duplicates;
        split += it->second != classOf[i];
      }
    }
    std::printf("%s: %zu glyphs, %d classes, %d exact duplicates, %d outside their first copy's class\n", name,
                g.size(), classes, duplicates, split);
    EXPECT_EQ(split, 0) << name;
    tokFreeState(tok);
    tok = nullptr;
  }
}

// Every distinct glyph of a page, moved by one pixel inside a bitmap one pixel wider or higher,
// joins the class the glyph founded, placed where its ink lands on the glyph's ink.
TEST_F(GlyphTest, ShiftedCopiesJoinTheirOriginal) {
  const int shifts[4][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
  for (const char* name : {"doc3", "ccitt1"}) {
    std::map<std::string, CutComponent> distinct;
    for (CutComponent& c : glyphs(monotest::sample_page(name))) distinct.emplace(key(c), std::move(c));
    int apart = 0, misplaced = 0;
    for (const auto& [k, c] : distinct) {
      init();
      for (int s = -1; s < 4; ++s) {
        const int ox = s >= 0 && shifts[s][0] > 0 ? 1 : 0, oy = s >= 0 && shifts[s][1] > 0 ? 1 : 0;
        RefBitmap m(c.width + (s >= 0 && shifts[s][0] != 0 ? 1 : 0), c.height + (s >= 0 && shifts[s][1] != 0 ? 1 : 0));
        for (int y = 0; y < c.height; ++y)
          for (int x = 0; x < c.width; ++x) m.set(x + ox, y + oy, c.get(x, y));
        TokBitmap b = bitmap(m);
        uint8_t isNew = 0;
        VltAdtList* members = nullptr;
        ASSERT_EQ(s < 0 ? tokAddBitmap(tok, &b) : tokAddBitmapVerify(tok, &b, &isNew, &members), VLT_OK);
        engine->free(b.bits);
        if (s < 0) continue;
        if (isNew) {
          ++apart;
          continue;
        }
        const auto* original = static_cast<const TokBox*>(members->first->data);
        const auto* copy = static_cast<const TokBox*>(members->last->data);
        misplaced += copy->xOffset + ox != original->xOffset || copy->yOffset + oy != original->yOffset;
      }
      tokFreeState(tok);
      tok = nullptr;
    }
    EXPECT_EQ(apart, 0) << name << ": " << distinct.size() << " glyphs";
    EXPECT_EQ(misplaced, 0) << name;
  }
}

// A glyph of a known-text sheet: which text of which cell, and which piece of it.
struct Labelled {
  CutComponent glyph;
  std::string label;  // font, size, text and piece
  std::string text;   // text and piece: the character identity
};

// Glyphs labelled by the cell that holds their centre; the pieces of a cell are told apart by
// their left-to-right order. A cell whose number of pieces (of any size) differs from the clean
// rendering's is left out: damage broke or joined its glyphs, so its label may no longer hold.
// Pieces smaller than the classifier's least size are counted, not kept.
std::vector<Labelled> label(const monotest::GlyphSheet& sheet, const std::vector<CutComponent>& pieces, int minSize,
                            const std::vector<size_t>* expected, std::vector<size_t>* counts, int* dropped) {
  std::vector<std::vector<size_t>> byCell(sheet.cells.size());
  for (size_t i = 0; i < pieces.size(); ++i) {
    const int c = sheet.cell_at(pieces[i].x + pieces[i].width / 2, pieces[i].y + pieces[i].height / 2);
    if (c >= 0) byCell[size_t(c)].push_back(i);
  }
  std::vector<Labelled> out;
  for (size_t c = 0; c < byCell.size(); ++c) {
    auto& v = byCell[c];
    std::sort(v.begin(), v.end(), [&](size_t a, size_t b) { return pieces[a].x < pieces[b].x; });
    if (counts != nullptr) counts->push_back(v.size());
    const bool intact = expected == nullptr || (*expected)[c] == v.size();
    std::erase_if(v, [&](size_t i) { return pieces[i].width < minSize && pieces[i].height < minSize; });
    if (!intact) {
      *dropped += static_cast<int>(v.size());
      continue;
    }
    const monotest::SheetCell& cell = sheet.cells[c];
    for (size_t k = 0; k < v.size(); ++k) {
      const std::string text = cell.text + (v.size() > 1 ? "/" + std::to_string(k) : "");
      out.push_back({pieces[v[k]], cell.font + "-" + std::to_string(int(cell.points)) + "-" + text, text});
    }
  }
  return out;
}

// Whether two bitmaps are the same shape up to one pixel: at some placement within two pixels,
// every black pixel of each lies next to (or on) a black pixel of the other.
bool look_alike(const CutComponent& a, const CutComponent& b) {
  const auto on = [](const CutComponent& c, int x, int y) {
    return x >= 0 && y >= 0 && x < c.width && y < c.height && c.get(x, y);
  };
  const auto covered = [&](const CutComponent& p, const CutComponent& q, int dx, int dy) {
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x) {
        if (!p.get(x, y)) continue;
        bool near = false;
        for (int v = -1; v <= 1 && !near; ++v)
          for (int u = -1; u <= 1 && !near; ++u) near = on(q, x + dx + u, y + dy + v);
        if (!near) return false;
      }
    return true;
  };
  for (int dy = -2; dy <= 2; ++dy)
    for (int dx = -2; dx <= 2; ++dx)
      if (covered(b, a, dx, dy) && covered(a, b, -dx, -dy)) return true;
  return false;
}

// Digits and their look-alike letters in eight fonts, blurred (0.4 pixel) and noisy (12 grey
// levels), at 200 dpi (12 and 14 points) and 300 dpi (8, 10 and 12 points), each font classified
// on its own as the text of one document: no class may hold two different characters, unless the
// two members in question have the same shape to within a pixel (their clean renderings do, or
// damage made one look like the other's clean rendering). Smaller glyphs at 200 dpi come within
// the match test's one-pixel tolerance of each other (serif l and I, 1 and I).
TEST_F(GlyphTest, KnownTextClassesNeverMixCharacters) {
  const std::vector<std::string> fonts = {"NimbusRoman-Regular", "NimbusSans-Regular", "NimbusMonoPS-Regular",
                                          "C059-Roman", "P052-Roman", "URWBookman-Light", "DejaVuSans", "DejaVuSerif"};
  const std::vector<std::string> texts = {"0", "O", "8", "B", "6", "5", "3", "1", "l", "I", "rn", "m", "e", "c"};
  const std::pair<int, std::vector<double>> settings[] = {{200, {12, 14}}, {300, {8, 10, 12}}};
  for (const auto& [dpi, points] : settings) {
    const monotest::GlyphSheet sheet = monotest::glyph_sheet(fonts, texts, points, dpi, 3);
    std::vector<size_t> counts;
    int dropped = 0;
    const std::vector<Labelled> clean = label(sheet, monotest::cut_components(monotest::threshold(sheet.gray)),
                                              params.minLossySize, nullptr, &counts, &dropped);
    monotest::GrayImage damaged = monotest::gaussian_blur(sheet.gray, 0.4);
    monotest::add_noise(damaged, 12, static_cast<uint32_t>(dpi));
    const std::vector<Labelled> seen = label(sheet, monotest::cut_components(monotest::threshold(damaged)),
                                             params.minLossySize, &counts, nullptr, &dropped);
    std::map<std::string, std::vector<const CutComponent*>> shapes;
    for (const Labelled& l : clean) shapes[l.label].push_back(&l.glyph);
    std::map<std::pair<std::string, std::string>, bool> alike;
    const auto same_shape = [&](const std::string& a, const std::string& b) {
      auto [it, fresh] = alike.emplace(std::minmax(a, b), false);
      if (fresh)
        for (const CutComponent* p : shapes[a])
          for (const CutComponent* q : shapes[b]) it->second = it->second || look_alike(*p, *q);
      return it->second;
    };
    const auto looks_like = [&](const Labelled& x, const std::string& other) {
      for (const CutComponent* q : shapes[other])
        if (look_alike(x.glyph, *q)) return true;
      return false;
    };
    int mixed = 0, excused = 0, classes = 0, glyphCount = 0;
    std::string report;
    for (const std::string& font : fonts) {
      std::vector<const Labelled*> mine;
      std::vector<CutComponent> g;
      for (const Labelled& l : seen)
        if (l.label.compare(0, font.size() + 1, font + "-") == 0) {
          mine.push_back(&l);
          g.push_back(l.glyph);
        }
      init();
      int n = 0;
      const std::vector<int> classOf = classify(g, &n);
      tokFreeState(tok);
      tok = nullptr;
      classes += n;
      glyphCount += static_cast<int>(g.size());
      std::vector<std::vector<size_t>> members(static_cast<size_t>(n));
      for (size_t i = 0; i < g.size(); ++i) members[size_t(classOf[i])].push_back(i);
      for (const auto& m : members) {
        bool bad = false, lookalike = false;
        for (size_t a = 0; a < m.size() && !bad; ++a)
          for (size_t b = a + 1; b < m.size() && !bad; ++b) {
            const Labelled& x = *mine[m[a]];
            const Labelled& y = *mine[m[b]];
            if (x.text == y.text) continue;
            if (same_shape(x.label, y.label) || looks_like(x, y.label) || looks_like(y, x.label)) {
              lookalike = true;
            } else {
              bad = true;
              report += " " + x.label + "+" + y.label;
            }
          }
        mixed += bad;
        excused += lookalike && !bad;
      }
    }
    std::printf("%d dpi: %d glyphs (%d in damaged cells left out), %d classes, %d classes mixing characters, "
                "%d holding same-shape look-alikes\n",
                dpi, glyphCount, dropped, classes, mixed, excused);
    EXPECT_EQ(mixed, 0) << dpi << " dpi:" << report;
    EXPECT_LT(dropped, glyphCount / 10) << "too much damage for the sheet to test anything";
  }
}

}  // namespace
