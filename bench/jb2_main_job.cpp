// The main job on the sample pages (CCITT charts and rendered documentation pages): each page
// compressed through jBig2Encode, decoded back through jBig2Decode and compared pixel for pixel,
// with a table of sizes and ratios against the raw page and G4 (libtiff); then all pages as one
// section sharing its dictionary. Exit status 1 when a page does not come back exactly.

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "jb2_method_runs.h"
#include "pages.h"

namespace {

bool same(const monotest::RefBitmap& a, const monotest::RefBitmap& b) { return monotest::first_difference(a, b).empty(); }

}  // namespace

int main() {
  try {
    const jb2run::Methods methods;
    std::vector<monotest::RefBitmap> pages;
    for (const std::string& name : monotest::sample_page_names()) pages.push_back(monotest::sample_page(name));
    std::printf("%-8s %11s %9s %9s %9s %9s %8s %8s %9s %s\n", "page", "size", "raw", "G4", "JBIG2", "lossy",
                "vs raw", "vs G4", "lossy/G4", "round trip");
    bool allExact = true;
    size_t raw = 0, g4 = 0, lossless = 0, lossy = 0;
    std::vector<const monotest::RefBitmap*> all;
    for (size_t i = 0; i < pages.size(); ++i) {
      const monotest::RefBitmap& p = pages[i];
      all.push_back(&p);
      const jb2run::Section exact = jb2run::encode(methods, {&p}, 3, true);
      const jb2run::Section classed = jb2run::encode(methods, {&p}, 2, false);
      const bool ok = same(jb2run::decode(methods, exact, {&p})[0], p);
      allExact = allExact && ok;
      const size_t r = p.bits.size(), g = jb2run::g4_bytes(p), j = exact.dictionary.size() + exact.pages[0].size(),
                   l = classed.dictionary.size() + classed.pages[0].size();
      raw += r;
      g4 += g;
      lossless += j;
      lossy += l;
      const std::string size = std::to_string(p.width) + "x" + std::to_string(p.height);
      std::printf("%-8s %11s %9zu %9zu %9zu %9zu %7.2f%% %7.3fx %8.3fx %s\n",
                  monotest::sample_page_names()[i].c_str(), size.c_str(), r, g, j, l, 100.0 * double(j) / double(r),
                  double(j) / double(g), double(l) / double(g), ok ? "exact" : "DIFFERS");
    }
    std::printf("%-8s %11s %9zu %9zu %9zu %9zu %7.2f%% %7.3fx %8.3fx\n", "pages", "", raw, g4, lossless, lossy,
                100.0 * double(lossless) / double(raw), double(lossless) / double(g4), double(lossy) / double(g4));
    // One section for all pages: the symbols they share are coded once.
    const jb2run::Section section = jb2run::encode(methods, all, 3, true);
    size_t bytes = section.dictionary.size();
    for (const auto& b : section.pages) bytes += b.size();
    const std::vector<monotest::RefBitmap> back = jb2run::decode(methods, section, all);
    bool ok = back.size() == pages.size();
    for (size_t i = 0; ok && i < pages.size(); ++i) ok = same(back[i], pages[i]);
    allExact = allExact && ok;
    std::printf("%-8s %11s %9zu %9zu %9zu %9s %7.2f%% %7.3fx %9s %s\n", "section", "", raw, g4, bytes, "",
                100.0 * double(bytes) / double(raw), double(bytes) / double(g4), "", ok ? "exact" : "DIFFERS");
    std::printf("JBIG2: lossless, profile 3 (MQ), dictionary included; lossy: classifier defaults, profile 2.\n");
    return allExact ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "jb2_main_job: %s\n", e.what());
    return 1;
  }
}
