// What a user reads of the libraries' messages: their phrases in plain words, function and
// member names left out, the file, page and cause kept.

#include <gtest/gtest.h>

#include <string>

#include "messages.h"

namespace {

TEST(Messages, LibraryMessagesBecomePlainWords) {
  const struct {
    const char* library;
    const char* user;
  } cases[] = {
      {"QELReadFile2QELIMAGE: s.pdf is not a raster file the engine reads\n",
       "s.pdf is not a page file monodoc reads (PBM, PNG, TIFF, JPEG, GIF, BMP, PNM)"},
      {"PDF_PASSWORD_PROTECT\n", "the PDF is protected by a password that was not given or does not open it"},
      {"PDF internal State: Layer IO error: addxilOneImage: Failed call to __applyStreamData.: applyStreamFilters: "
       "Failed attempt to set stream filter: PDFJbig2TokenizeStream: JBIG2 images need PDF 1.4; the document is PDF "
       "1.3\n",
       "a layer of the page cannot be written: the image's coding cannot be set up: JBIG2 images need PDF 1.4; the "
       "document is PDF 1.3"},
      {"PDFLIB_PostFormatEncrypt: the password is not UTF-8 text\n", "the password is not UTF-8 text"},
      {"Failed to open file out/x.pdf for writing: No such file or directory\n",
       "cannot create out/x.pdf for writing: No such file or directory"},
      {"__XPSInit: Cannot read pack.xps\n", "Cannot read pack.xps"},
      {"release: PDFRelease: not PDF/A-1b: page 2 shows text in Helvetica\n",
       "not PDF/A-1b: page 2 shows text in Helvetica"},
      {"docio/docioXPSWrite.elf: cannot write o.xps: Failure to create temporary file: No such file or directory\n",
       "cannot write o.xps: Failure to create temporary file: No such file or directory"},
      {"appendPage: IO Write Error in TIFF IO\n", "the page cannot be written to the TIFF file"},
      {"readtif: cj.tif: page 1 cannot be rendered", "cj.tif: page 1 cannot be rendered"},
      {"Unknown error in TIFF IO", "cannot be read as TIFF"},
      // Words of a sentence, file names and capitals stay.
      {"page 2: no memory", "page 2: no memory"},
      {"README: JBIG2: scan.pdf: damaged", "README: JBIG2: scan.pdf: damaged"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(monodoc::plain_words(c.library), c.user) << c.library;
}

}  // namespace
