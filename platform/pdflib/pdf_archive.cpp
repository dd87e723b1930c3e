// The PDF/A-1 rules a document being written can be judged by before it is closed: what the
// archive must carry (output intent with a version 2 profile, identification in its metadata)
// and what it must not (encryption, transparency, JPEG 2000 and LZW, interpolation, fonts that
// show text without their programs).

#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/QPDFTokenizer.hh>

#include <cstdlib>
#include <memory>

#include "pdf_internal.h"

using pdflib::guarded;

namespace {

// Forms inside forms deeper than this are not followed: no page of ours nests so far, and a
// cycle of forms ends here.
constexpr int kMaxFormDepth = 8;

// The bytes of a stream as they will be read: pending data is not coded yet.
std::string stream_bytes(PDFDoc* doc, QPDFObjectHandle s) {
  const auto it = doc->impl->streams.find(s.getObjGen());
  if (it != doc->impl->streams.end() && it->second.kind == pdflib::PendingStream::RAW) return it->second.data;
  if (it != doc->impl->streams.end() && it->second.kind == pdflib::PendingStream::PRECOMPRESSED) return "";
  const std::shared_ptr<Buffer> data = s.getStreamData(qpdf_dl_generalized);
  return std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
}

// Whether the font carries its program (ISO 19005-1, 6.3.4): a Type 3 font is its own glyph
// procedures; a composite font's program sits with its descendant.
bool font_embedded(QPDFObjectHandle font) {
  if (!font.isDictionary()) return false;
  if (font.getKey("/Subtype").isNameAndEquals("/Type3")) return true;
  if (font.getKey("/Subtype").isNameAndEquals("/Type0")) {
    QPDFObjectHandle d = font.getKey("/DescendantFonts");
    return d.isArray() && d.getArrayNItems() > 0 && font_embedded(d.getArrayItem(0));
  }
  QPDFObjectHandle fd = font.getKey("/FontDescriptor");
  return fd.isDictionary() &&
         (fd.getKey("/FontFile").isStream() || fd.getKey("/FontFile2").isStream() || fd.getKey("/FontFile3").isStream());
}

std::string font_label(QPDFObjectHandle font, const std::string& resource) {
  QPDFObjectHandle base = font.isDictionary() ? font.getKey("/BaseFont") : QPDFObjectHandle();
  return base.isName() ? base.getName().substr(1) : resource.substr(1);
}

struct Checker {
  PDFDoc* doc;
  std::string problem;

  // The fonts that content shows text with outside rendering mode 3 (invisible text, which the
  // rule leaves out), in the content's own resources and those of the forms it paints.
  void visible_fonts(const std::string& content, QPDFObjectHandle resources, int depth, int page) {
    auto input = std::make_shared<BufferInputSource>("content", content);
    QPDFTokenizer tokenizer;
    tokenizer.allowEOF();
    std::vector<QPDFTokenizer::Token> operands;
    std::vector<int> saved;
    int mode = 0;
    std::string font;
    QPDFObjectHandle fonts = resources.isDictionary() ? resources.getKey("/Font") : QPDFObjectHandle();
    QPDFObjectHandle xobjects = resources.isDictionary() ? resources.getKey("/XObject") : QPDFObjectHandle();
    while (problem.empty()) {
      QPDFTokenizer::Token t = tokenizer.readToken(input, "content", true);
      const auto type = t.getType();
      if (type == QPDFTokenizer::tt_eof) break;
      // Content that cannot be read cannot be judged: it is not passed as meeting the rules.
      if (type == QPDFTokenizer::tt_bad) {
        problem = "the content of page " + std::to_string(page) + " cannot be read";
        break;
      }
      if (type != QPDFTokenizer::tt_word) {
        operands.push_back(t);
        continue;
      }
      const std::string& op = t.getValue();
      const auto last = [&](QPDFTokenizer::token_type_e want) -> const QPDFTokenizer::Token* {
        for (auto it = operands.rbegin(); it != operands.rend(); ++it) {
          if (it->getType() == want) return &*it;
        }
        return nullptr;
      };
      if (op == "q") {
        saved.push_back(mode);
      } else if (op == "Q" && !saved.empty()) {
        mode = saved.back();
        saved.pop_back();
      } else if (op == "Tr") {
        if (const auto* n = last(QPDFTokenizer::tt_integer)) mode = std::atoi(n->getValue().c_str());
      } else if (op == "Tf") {
        if (const auto* n = last(QPDFTokenizer::tt_name)) font = n->getValue();
      } else if ((op == "Tj" || op == "TJ" || op == "'" || op == "\"") && mode != 3) {
        QPDFObjectHandle f = fonts.isDictionary() ? fonts.getKey(font) : QPDFObjectHandle();
        if (!font_embedded(f)) {
          problem = "page " + std::to_string(page) + " shows text in " + font_label(f, font.empty() ? "/?" : font) +
                    ", a font that is not embedded (PDF/A needs the program of every font that shows text)";
        }
      } else if (op == "Do" && depth < kMaxFormDepth) {
        const auto* n = last(QPDFTokenizer::tt_name);
        QPDFObjectHandle x = n && xobjects.isDictionary() ? xobjects.getKey(n->getValue()) : QPDFObjectHandle();
        if (x.isStream() && x.getDict().getKey("/Subtype").isNameAndEquals("/Form")) {
          QPDFObjectHandle own = x.getDict().getKey("/Resources");
          visible_fonts(stream_bytes(doc, x), own.isDictionary() ? own : resources, depth + 1, page);
        }
      } else if (op == "ID") {
        tokenizer.expectInlineImage(input);
        tokenizer.readToken(input, "content", true);
      }
      operands.clear();
    }
  }

  void pages() {
    int n = 0;
    for (QPDFObjectHandle page : doc->impl->pdf.getAllPages()) {
      ++n;
      QPDFObjectHandle contents = page.getKey("/Contents");
      std::string content;
      if (contents.isStream()) {
        content = stream_bytes(doc, contents);
      } else if (contents.isArray()) {
        for (QPDFObjectHandle c : contents.aitems()) {
          if (c.isStream()) content += stream_bytes(doc, c) + "\n";
        }
      }
      visible_fonts(content, page.getKey("/Resources"), 0, n);
      if (!problem.empty()) return;
    }
  }

  // ISO 19005-1, 6.1.10, 6.2.3.3, 6.2.4 and 6.4: what any object of the file may not use.
  void objects() {
    for (QPDFObjectHandle h : doc->impl->pdf.getAllObjects()) {
      QPDFObjectHandle d = h.isStream() ? h.getDict() : h;
      if (!d.isDictionary()) continue;
      for (const std::string& f : pdflib::filter_names(doc, h)) {
        if (f == "/LZWDecode") problem = "an LZW-coded stream (PDF/A-1 forbids LZW)";
        if (f == "/JPXDecode") problem = "a JPEG 2000 image (PDF/A-1 forbids JPEG 2000)";
      }
      if (d.getKey("/SMask").isStream()) problem = "an image with a soft mask (PDF/A-1 forbids transparency)";
      QPDFObjectHandle group = d.getKey("/Group");
      if (group.isDictionary() && group.getKey("/S").isNameAndEquals("/Transparency")) {
        problem = "a transparency group (PDF/A-1 forbids transparency)";
      }
      if (d.getKey("/Interpolate").isBool() && d.getKey("/Interpolate").getBoolValue()) {
        problem = "an image asking for interpolation (PDF/A-1 forbids it)";
      }
      // ISO 19005-1, 6.2.3.3: device colours only of the output intent's kind, which is RGB here.
      if (d.getKey("/Subtype").isNameAndEquals("/Image") && d.getKey("/ColorSpace").isNameAndEquals("/DeviceCMYK")) {
        problem = "a CMYK image under the archive's RGB output intent";
      }
      if (!problem.empty()) return;
    }
  }

  // ISO 19005-1, 6.1.3, 6.2.2 and 6.7.11: no encryption, an sRGB-like output intent whose
  // profile is ICC version 2, and the identification schema in the metadata.
  void catalog() {
    QPDF& pdf = doc->impl->pdf;
    if (pdf.getTrailer().hasKey("/Encrypt")) {
      problem = "the document is encrypted (PDF/A forbids encryption)";
      return;
    }
    QPDFObjectHandle root = pdf.getRoot();
    QPDFObjectHandle intents = root.getKey("/OutputIntents");
    QPDFObjectHandle profile;
    if (intents.isArray()) {
      for (QPDFObjectHandle i : intents.aitems()) {
        if (i.isDictionary() && i.getKey("/S").isNameAndEquals("/GTS_PDFA1")) profile = i.getKey("/DestOutputProfile");
      }
    }
    if (!profile.isStream()) {
      problem = "no PDF/A output intent with a profile";
      return;
    }
    const std::string icc = stream_bytes(doc, profile);
    // ICC.1 7.2.4: the profile version's major number is byte 8.
    if (icc.size() < 128 || icc.compare(36, 4, "acsp") != 0 || static_cast<unsigned char>(icc[8]) > 2) {
      problem = "the output intent's profile is not an ICC version 2 profile (PDF/A-1 takes no other)";
      return;
    }
    QPDFObjectHandle metadata = root.getKey("/Metadata");
    const std::string xmp = metadata.isStream() ? stream_bytes(doc, metadata) : "";
    if (xmp.find("<pdfaid:part>1</pdfaid:part>") == std::string::npos) {
      problem = "the metadata does not identify the file as PDF/A-1";
    }
  }
};

}  // namespace

extern "C" {

int PDFCheckArchive(PDFDoc* doc) {
  if (!doc || !doc->writing) return pdflib::fail(doc, "PDFCheckArchive: not a document being written");
  return guarded(doc, "PDFCheckArchive", 0, [&] {
    Checker c{doc, ""};
    c.objects();
    if (c.problem.empty()) c.pages();
    if (c.problem.empty()) c.catalog();
    return c.problem.empty() ? 1 : pdflib::fail(doc, "%s", c.problem.c_str());
  });
}

}  // extern "C"
