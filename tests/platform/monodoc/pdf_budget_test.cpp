// Hostile PDF files of a few kilobytes, made here, through monodoc info and monodoc pdf: each is
// refused with exit status 1 and a message naming the file, the page and the budget it passed,
// quickly, and monodoc pdf leaves no output behind.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tools.h"

namespace {

using monotest::pdf_of_objects;
using monotest::run_tool;
using monotest::shell_quote;
using monotest::TempDir;

// A one-page document whose page has the resources and content given; more objects from 5 on.
std::string one_page(const std::string& resources, const std::string& content, std::vector<std::string> more = {}) {
  std::vector<std::string> objects = {
      "<</Type/Catalog/Pages 2 0 R>>", "<</Type/Pages/Kids[3 0 R]/Count 1>>",
      "<</Type/Page/Parent 2 0 R/MediaBox[0 0 612 792]/Resources<<" + resources + ">>/Contents 4 0 R>>",
      "<</Length " + std::to_string(content.size()) + ">>stream\n" + content + "\nendstream"};
  for (std::string& o : more) objects.push_back(std::move(o));
  return pdf_of_objects(objects);
}

std::string stream(const std::string& dict, const std::string& body) {
  return "<<" + dict + "/Length " + std::to_string(body.size()) + ">>stream\n" + body + "\nendstream";
}

TEST(PdfBudgets, HostileFilesAreRefusedNamingTheBudget) {
  struct Case {
    const char* file;
    std::string bytes;
    std::vector<std::string> expected;
  };
  // One 16000 by 16000 image, 256 MB declared and one byte stored, placed forty times.
  std::string placements;
  for (int i = 0; i < 40; ++i) placements += "q 612 0 0 792 0 0 cm /I Do Q\n";
  // Forms ten wide and seven deep, the deepest painting nothing: over a million runs.
  std::vector<std::string> forms;
  for (int k = 0; k < 7; ++k) {
    std::string body = "0 0 m 1 1 l S";
    std::string resources;
    if (k < 6) {
      body.clear();
      for (int i = 0; i < 10; ++i) body += "/F Do\n";
      resources = "/Resources<</XObject<</F " + std::to_string(6 + k) + " 0 R>>>>";
    }
    forms.push_back(stream("/Type/XObject/Subtype/Form/BBox[0 0 10 10]" + resources, body));
  }
  const Case cases[] = {
      {"placed.pdf",
       one_page("/XObject<</I 5 0 R>>", placements,
                {stream("/Type/XObject/Subtype/Image/Width 16000/Height 16000/BitsPerComponent 8/ColorSpace/DeviceGray",
                        "\x01")}),
       {"placed.pdf", "page 1", "budget of 536870912 bytes of samples"}},
      {"forms.pdf", one_page("/XObject<</F 5 0 R>>", "/F Do", forms),
       {"forms.pdf", "page 1", "forms run more than 100000 times, their budget for one page"}},
      {"pages.pdf",
       pdf_of_objects({"<</Type/Catalog/Pages 2 0 R>>", "<</Type/Pages/Kids[3 0 R]/Count 1000000>>",
                       "<</Type/Page/Parent 2 0 R/MediaBox[0 0 10 10]>>"}),
       {"pages.pdf", "claims 1000000 pages, more than the budget of 100000 pages"}},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    monotest::write_file(dir.file(c.file), c.bytes);
    const std::string out = dir.file("out.pdf");
    for (const std::string& command : {std::string("info ") + c.file, "pdf -o out.pdf " + std::string(c.file)}) {
      const auto r = run_tool("cd " + shell_quote(dir.path()) + " && " + shell_quote(MONODOC_BIN) + " " + command +
                              " 2>&1");
      EXPECT_EQ(r.exit_code, 1) << command << "\n" << r.output;
      for (const std::string& part : c.expected) {
        EXPECT_NE(r.output.find(part), std::string::npos) << command << ": " << part << "\n" << r.output;
      }
    }
    EXPECT_FALSE(std::filesystem::exists(out));
  }
}

}  // namespace
