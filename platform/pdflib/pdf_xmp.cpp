// XMP metadata texts: a packet around given RDF, and the description of a document's creation.

#include <cctype>
#include <cstring>
#include <string>

#include "kvng.h"
#include "pdf_internal.h"
#include "sstate.h"

namespace {

constexpr char kPacketHead[] = "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n";
constexpr char kPacketTail[] = "<?xpacket end=\"w\"?>";

char* engine_text(const std::string& s) {
  auto* out = static_cast<char*>(kvng_internal_calloc(s.size() + 1, 1));
  if (out) std::memcpy(out, s.data(), s.size());
  return out;
}

std::string escaped(const char* text) {
  std::string out;
  for (const char* p = text ? text : ""; *p; ++p) {
    switch (*p) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += *p;
    }
  }
  return out;
}

// A PDF date (D:YYYYMMDDHHmmSSOHH'mm') as XMP writes dates (YYYY-MM-DDTHH:mm:SS and the zone);
// fields the date lacks take their first value.
std::string xmp_date(const char* pdf) {
  std::string s = pdf ? pdf : "";
  if (s.rfind("D:", 0) == 0) s = s.substr(2);
  auto field = [&](size_t at, size_t n, const char* fallback) {
    if (s.size() >= at + n && std::all_of(s.begin() + at, s.begin() + at + n, [](char c) { return std::isdigit(c); })) {
      return s.substr(at, n);
    }
    return std::string(fallback);
  };
  std::string out = field(0, 4, "1970") + "-" + field(4, 2, "01") + "-" + field(6, 2, "01") + "T" +
                    field(8, 2, "00") + ":" + field(10, 2, "00") + ":" + field(12, 2, "00");
  const char zone = s.size() > 14 ? s[14] : 'Z';
  if (zone == '+' || zone == '-') {
    out += zone + field(15, 2, "00") + ":" + field(18, 2, "00");
  } else {
    out += "Z";
  }
  return out;
}

std::string document_rdf(const char* date, const char* creator, const char* producer) {
  const std::string d = xmp_date(date);
  return "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
         "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
         "<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\">\n"
         "<xmp:CreateDate>" + d + "</xmp:CreateDate>\n"
         "<xmp:ModifyDate>" + d + "</xmp:ModifyDate>\n"
         "<xmp:MetadataDate>" + d + "</xmp:MetadataDate>\n"
         "<xmp:CreatorTool>" + escaped(creator) + "</xmp:CreatorTool>\n"
         "</rdf:Description>\n"
         "<rdf:Description rdf:about=\"\" xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\">\n"
         "<pdf:Producer>" + escaped(producer) + "</pdf:Producer>\n"
         "</rdf:Description>\n"
         "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
         "<dc:format>application/pdf</dc:format>\n"
         "</rdf:Description>\n"
         "<rdf:Description rdf:about=\"\" xmlns:pdfaid=\"http://www.aiim.org/pdfa/ns/id/\">\n"
         "<pdfaid:part>1</pdfaid:part>\n"
         "<pdfaid:conformance>B</pdfaid:conformance>\n"
         "</rdf:Description>\n"
         "</rdf:RDF>\n"
         "</x:xmpmeta>\n";
}

}  // namespace

extern "C" {

char* PDFWt_InsertMetaDataStr(SState* state, const char* text) {
  if (!text) {
    if (state) SState_ErrPrintf(state, "PDFWt_InsertMetaDataStr: no metadata text\n");
    return nullptr;
  }
  try {
    const bool wrapped = std::strstr(text, "<x:xmpmeta") != nullptr;
    std::string body = wrapped ? std::string(text)
                               : std::string("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n") + text + "\n</x:xmpmeta>\n";
    return engine_text(kPacketHead + body + kPacketTail);
  } catch (...) {
    return nullptr;
  }
}

char* PDFWt_MetaDataStr(const char* date, const char* creator, const char* producer) {
  try {
    return engine_text(kPacketHead + document_rdf(date, creator, producer) + kPacketTail);
  } catch (...) {
    return nullptr;
  }
}

char* PDFWt_MetaDataStr_noPacketHeader(const char* date, const char* creator, const char* producer) {
  try {
    return engine_text(document_rdf(date, creator, producer));
  } catch (...) {
    return nullptr;
  }
}

}  // extern "C"
