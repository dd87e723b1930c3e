#ifndef MONODOC_PAGE_FILES_H
#define MONODOC_PAGE_FILES_H

// Page files the runner reads (PBM, PNG, TIFF, told apart by their first bytes) and files it
// reads whole.

#include <functional>
#include <string>
#include <vector>

#include "bilevel.h"
#include "qelinterp.h"

typedef struct PDFDoc PDFDoc;

namespace monodoc {

// Appends every page of the file to pages: each image of a PBM file, the PNG image, each
// directory of a TIFF file. Grey and colour pixels are black when darker than half (alpha is laid
// on white first). False with the reason when the file cannot be read as a whole. This holds
// every page at once: a command over many pages reads them one by one with PageStream
// (page_stream.h) instead.
bool read_pages(const std::string& path, std::vector<Bilevel>* pages, std::string* error);

// A page from rows of samples (rowBytes apart): 1-bit (oneIsBlack: 1 is black, else 0 is) or
// 8-bit grey or RGB, darker than half black. False for another layout or too little data.
bool samples_to_bilevel(int32_t width, int32_t height, int32_t bits, int32_t samples, int64_t rowBytes,
                        const uint8_t* data, size_t length, bool oneIsBlack, Bilevel* page);

// Appends every page of a PDF file, each read by libpagefiler's PDF reader: a page must be one
// scanned image (JBIG2, CCITT, Flate or uncompressed, 1-bit or 8-bit). False with the reason.
// Only the document commands have it (pdf_pages.cpp): it needs the PDF library.
bool read_pdf(const std::string& path, std::vector<Bilevel>* pages, std::string* error);

// Each page of the PDF at path, read by libpagefiler's PDF reader (in state) from one opening
// of the document, handed to visit with the reader's document (whose streams the page's layers
// came from), its number and the page count, and released before the next is read. False with
// the reason ("page n: ...") at the first page that cannot be read or that visit refuses.
using PdfPageVisit =
    std::function<bool(elf_object* image, PDFDoc* doc, int32_t n, int32_t count, std::string* error)>;
bool visit_pdf_pages(elf_state* state, const std::string& path, const std::string& password,
                     const PdfPageVisit& visit, std::string* error);

// What --recode does with page n read from a PDF: a page that its one image fills upright (and
// invisible text at most) is taken; its image, when black and white, becomes page pixels
// (*bilevel set), else it keeps its coding. False with the reason for any other page.
bool recode_page(elf_state* state, PDFDoc* doc, elf_object* image, int32_t n, Bilevel* page, bool* bilevel,
                 std::string* error);

// Gives the page image to what --recode keeps of the page image from (read from a PDF) beside
// its image: the page boxes, the rotation and the text layers with their fonts.
bool keep_page_rest(elf_object* from, elf_object* to, std::string* error);

// False with "page n: ... is not carried" when the page image read from a PDF draws something
// its layers cannot carry (libpagefiler's reader names it).
bool pdf_page_carried(elf_object* image, int32_t n, std::string* error);

// The pages of every file in order; false with the reason at the first file that cannot be read.
bool read_all_pages(const std::vector<std::string>& files, std::vector<Bilevel>* pages, std::string* error);

// How many pages the engine's readtif finds in a TIFF file (its info field "pages"), or -1.
int32_t tiff_pages(elf_state* state, const std::string& path);

bool read_file_bytes(const std::string& path, std::string* bytes, std::string* error);

}  // namespace monodoc

#endif
