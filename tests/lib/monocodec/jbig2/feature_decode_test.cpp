// The shared JBIG2 feature streams through the segment loop: every stream gives bitmap.pbm
// exactly, as a file and as an embedded stream, whole or arriving in pieces; the standard's
// worked example gives its three pages; and no cut of any stream gives a wrong page with success.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "jb2_fixture.h"
#include "jb2_page_reader.h"
#include "jb2_test_stream.h"
#include "pages.h"
#include "tools.h"
#include "ref_bitmap.h"

namespace {

using jb2test::Bytes;
using jb2test::StreamForm;

struct Feature {
  std::string name;
  Bytes file;
  jb2test::SplitFile split;
};

const std::vector<Feature>& features() {
  static const std::vector<Feature> all = [] {
    std::vector<Feature> v;
    for (const auto& e : std::filesystem::directory_iterator(monotest::feature_dir())) {
      const std::string name = e.path().filename().string();
      if (name.rfind("bitmap", 0) != 0 || e.path().extension() != ".jbig2") continue;
      Feature f;
      f.name = name;
      const std::string bytes = monotest::read_file(e.path().string());
      f.file.assign(bytes.begin(), bytes.end());
      if (!jb2test::split_file(f.file.data(), f.file.size(), &f.split))
        throw std::runtime_error("cannot split " + name);
      v.push_back(std::move(f));
    }
    std::sort(v.begin(), v.end(), [](const Feature& a, const Feature& b) { return a.name < b.name; });
    return v;
  }();
  return all;
}

const monotest::RefBitmap& expected() {
  static const monotest::RefBitmap bm = monotest::read_pbm(monotest::feature_dir() + "/bitmap.pbm");
  return bm;
}

struct FeatureDecode : Jb2Test {
  // Decodes and, on success, hands back the page as a reference bitmap (padding bits dropped).
  VltStatus decode(DataSource* src, StreamForm form, monotest::RefBitmap* out) {
    VltImage* page = nullptr;
    const VltStatus st = jb2test::read_page(state, src, form, &page);
    if (st == VLT_OK) {
      *out = jb2test::ref_bitmap(page);
      VltImage_free(page);
    } else {
      EXPECT_EQ(page, nullptr);
    }
    return st;
  }
  VltStatus decode(const Bytes& b, StreamForm form, monotest::RefBitmap* out) {
    DataSource src;
    jb2test::memory_source(&src, state, b.data(), b.size());
    return decode(&src, form, out);
  }
};

TEST_F(FeatureDecode, EveryStreamDecodesToTheBitmap) {
  ASSERT_EQ(features().size(), 106u);
  for (const Feature& f : features()) {
    SCOPED_TRACE(f.name);
    for (const StreamForm form : {StreamForm::kFile, StreamForm::kEmbedded}) {
      const Bytes& bytes = form == StreamForm::kFile ? f.file : f.split.embedded;
      printed = {};
      monotest::RefBitmap page;
      const VltStatus st = decode(bytes, form, &page);
      EXPECT_EQ(st, VLT_OK) << (form == StreamForm::kFile ? "file: " : "embedded: ") << printed.text;
      if (st == VLT_OK) {
        EXPECT_EQ(monotest::first_difference(expected(), page), "");
      }
    }
  }
}

TEST_F(FeatureDecode, StreamsArrivingInPiecesDecodeTheSame) {
  // Windows of odd sizes make every field, bounded segment and MQ or MMR block straddle them.
  for (const Feature& f : features()) {
    SCOPED_TRACE(f.name);
    for (const StreamForm form : {StreamForm::kFile, StreamForm::kEmbedded}) {
      const Bytes& bytes = form == StreamForm::kFile ? f.file : f.split.embedded;
      jb2test::WindowSource w(state, bytes, {1, 7, 3, 64});
      monotest::RefBitmap page;
      ASSERT_EQ(decode(&w.source, form, &page), VLT_OK) << printed.text;
      EXPECT_EQ(monotest::first_difference(expected(), page), "");
    }
  }
}

TEST_F(FeatureDecode, NoCutOfAnyStreamGivesAWrongPage) {
  for (const Feature& f : features()) {
    SCOPED_TRACE(f.name);
    for (const StreamForm form : {StreamForm::kFile, StreamForm::kEmbedded}) {
      const Bytes& bytes = form == StreamForm::kFile ? f.file : f.split.embedded;
      for (int i = 0; i < 25; ++i) {
        size_t cut = bytes.size() * static_cast<size_t>(i) / 25;
        // An embedded stream cut between segments is a shorter stream, not a damaged one.
        if (form == StreamForm::kEmbedded &&
            std::binary_search(f.split.boundaries.begin(), f.split.boundaries.end(), cut))
          ++cut;
        const Bytes part(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        printed = {};
        monotest::RefBitmap page;
        const VltStatus st = decode(part, form, &page);
        if (st == VLT_OK)
          EXPECT_EQ(monotest::first_difference(expected(), page), "") << "cut at " << cut;
        else
          EXPECT_FALSE(printed.codes.empty()) << "cut at " << cut << ": status " << st << " unreported";
      }
    }
  }
}

TEST_F(FeatureDecode, EveryAllocationFailureIsReportedAndFreesWhatWasMade) {
  // Dictionaries with refinement and aggregates in both codings, run-coded symbol IDs, retained
  // contexts, halftones with ten planes and skipped cells.
  for (const char* name : {"bitmap-symbol-symbolrefine-textrefine.jbig2", "bitmap-symbol-symhuffrefine-textrefine.jbig2",
                           "bitmap-symbol-texthuff-runcodes32-34.jbig2", "bitmap-symbol-context-reuse.jbig2",
                           "bitmap-halftone-10bpp-mmr.jbig2", "bitmap-halftone-skip-grid.jbig2"}) {
    SCOPED_TRACE(name);
    const auto it = std::find_if(features().begin(), features().end(), [&](const Feature& f) { return f.name == name; });
    ASSERT_NE(it, features().end());
    for (size_t k = 1;; ++k) {
      const size_t live = alloc.live_blocks();
      printed = {};
      alloc.fail_at(k);
      monotest::RefBitmap page;
      const VltStatus st = decode(it->file, StreamForm::kFile, &page);
      alloc.fail_at(0);
      ASSERT_EQ(alloc.live_blocks(), live) << "allocation " << k;
      if (st == VLT_OK) {
        EXPECT_EQ(monotest::first_difference(expected(), page), "");
        break;
      }
      EXPECT_FALSE(printed.codes.empty()) << "allocation " << k << ": status " << st << " unreported";
      ASSERT_LT(k, 5000u);
    }
  }
}

}  // namespace
