// Streams: appending data, filters and their parameters, coding pending streams when the
// document is written, and stream data as stored or decoded when it is read.

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <qpdf/Pipeline.hh>

#include "pdf_internal.h"

using pdflib::guarded;
using pdflib::resolved;

namespace pdflib {

PendingStream& pending(PDFDocImpl* d, QPDFObjectHandle stream) {
  if (d->spooled.count(stream.getObjGen())) {
    throw std::runtime_error("the stream was written when its page closed and cannot change");
  }
  return d->streams[stream.getObjGen()];
}

// Pages are coded as they close, not when the document is written: raw samples held to the end
// grow with the page count (8 MB a grey A4 page at 300 dpi). Their coded data go to a temporary
// file, removed as it is made, and are read back stream by stream while the document is written.
class Spool {
 public:
  Spool() : file_(std::tmpfile()) {
    if (!file_) throw std::runtime_error(std::string("no temporary file for page data: ") + std::strerror(errno));
  }
  ~Spool() { std::fclose(file_); }
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;

  // Appends bytes; their offset.
  uint64_t put(const std::string& bytes) {
    const uint64_t at = size_;
    if (!bytes.empty() && (std::fseek(file_, 0, SEEK_END) != 0 ||
                           std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size() || std::fflush(file_) != 0)) {
      throw std::runtime_error(std::string("page data cannot be written to the temporary file: ") +
                               std::strerror(errno));
    }
    size_ += bytes.size();
    return at;
  }

  // Sends length bytes from offset at into pipeline, a block at a time.
  void send(uint64_t at, uint64_t length, Pipeline* pipeline) {
    unsigned char block[64 * 1024];
    while (length > 0) {
      const size_t want = length < sizeof block ? static_cast<size_t>(length) : sizeof block;
      const ssize_t got = ::pread(fileno(file_), block, want, static_cast<off_t>(at));
      if (got <= 0) throw std::runtime_error("page data cannot be read back from the temporary file");
      pipeline->write(block, static_cast<size_t>(got));
      at += static_cast<uint64_t>(got);
      length -= static_cast<uint64_t>(got);
    }
  }

 private:
  FILE* file_;
  uint64_t size_ = 0;
};

}  // namespace pdflib

namespace {

// One spooled stream's data for the writer.
class SpooledData : public QPDFObjectHandle::StreamDataProvider {
 public:
  SpooledData(std::shared_ptr<pdflib::Spool> spool, uint64_t at, uint64_t length)
      : spool_(std::move(spool)), at_(at), length_(length) {}
  void provideStreamData(QPDFObjGen const&, Pipeline* pipeline) override {
    spool_->send(at_, length_, pipeline);
    pipeline->finish();
  }

 private:
  std::shared_ptr<pdflib::Spool> spool_;
  uint64_t at_, length_;
};

}  // namespace

namespace pdflib {

int components_of(QPDFObjectHandle space) {
  if (space.isName()) {
    const std::string n = space.getName();
    if (n == "/DeviceGray" || n == "/G" || n == "/CalGray") return 1;
    if (n == "/DeviceRGB" || n == "/RGB") return 3;
    if (n == "/DeviceCMYK" || n == "/CMYK") return 4;
    return 0;
  }
  if (!space.isArray() || space.getArrayNItems() < 1 || !space.getArrayItem(0).isName()) return 0;
  const std::string family = space.getArrayItem(0).getName();
  if (family == "/CalGray" || family == "/Indexed" || family == "/Separation") return 1;
  if (family == "/CalRGB" || family == "/Lab") return 3;
  if (family == "/CalCMYK") return 4;
  if (family == "/ICCBased" && space.getArrayNItems() > 1) {
    QPDFObjectHandle n = space.getArrayItem(1).isStream() ? space.getArrayItem(1).getDict().getKey("/N")
                                                          : QPDFObjectHandle::newNull();
    return n.isInteger() ? n.getIntValueAsInt() : 0;
  }
  return 0;
}

}  // namespace pdflib

namespace {

const char* filter_name(int32_t code) {
  switch (code) {
    case PDF_FILTER_ASCII85:
      return "/ASCII85Decode";
    case PDF_FILTER_LZW:
      return "/LZWDecode";
    case PDF_FILTER_FLATE:
      return "/FlateDecode";
    case PDF_FILTER_RUN_LENGTH:
      return "/RunLengthDecode";
    case PDF_FILTER_CCITT:
      return "/CCITTFaxDecode";
    case PDF_FILTER_JBIG2:
      return "/JBIG2Decode";
    case PDF_FILTER_DCT:
      return "/DCTDecode";
    case PDF_FILTER_ASCII_HEX:
      return "/ASCIIHexDecode";
    default:
      return nullptr;
  }
}

// Parameters that only steer coding here and mean nothing to a reader of the file.
bool coding_only(const std::string& key) { return key == "Quality" || key == "Visual" || key == "Smoothing"; }

bool is_boolean_param(const std::string& key) {
  return key == "BlackIs1" || key == "EncodedByteAlign" || key == "EndOfBlock" || key == "EndOfLine";
}

// The DecodeParms dictionary of a filter, or a null object when it has none to write.
QPDFObjectHandle decode_parms(PDFDoc* doc, const pdflib::Filter& f, bool coded_here) {
  QPDFObjectHandle parms = QPDFObjectHandle::newDictionary();
  bool any = false;
  for (const auto& [key, value] : f.params) {
    if (coded_here && coding_only(key)) continue;
    if (key == "JBIG2GlobalsRef") {
      QPDFObjectHandle globals = doc->impl->pdf.getObjectByID(value, 0);
      if (!globals.isStream()) throw std::runtime_error("JBIG2GlobalsRef names no stream");
      parms.replaceKey("/JBIG2Globals", globals);
    } else if (is_boolean_param(key)) {
      parms.replaceKey("/" + key, QPDFObjectHandle::newBool(value != 0));
    } else {
      parms.replaceKey("/" + key, QPDFObjectHandle::newInteger(value));
    }
    any = true;
  }
  return any ? parms : QPDFObjectHandle::newNull();
}

int32_t param(const pdflib::Filter& f, const char* key, int32_t fallback) {
  const auto it = f.params.find(key);
  return it == f.params.end() ? fallback : it->second;
}

}  // namespace

namespace pdflib {

std::vector<std::string> filter_names(PDFDoc* doc, QPDFObjectHandle h) {
  std::vector<std::string> names;
  const auto it = h.isStream() ? doc->impl->streams.find(h.getObjGen()) : doc->impl->streams.end();
  if (it != doc->impl->streams.end() && !it->second.filters.empty()) {
    for (const Filter& f : it->second.filters) {
      if (const char* name = filter_name(f.code)) names.emplace_back(name);
    }
    return names;
  }
  QPDFObjectHandle d = h.isStream() ? h.getDict() : h;
  QPDFObjectHandle filters = d.isDictionary() ? d.getKey("/Filter") : QPDFObjectHandle();
  if (filters.isName()) names.push_back(filters.getName());
  if (filters.isArray()) {
    for (QPDFObjectHandle f : filters.aitems()) {
      if (f.isName()) names.push_back(f.getName());
    }
  }
  return names;
}

std::string encode(const std::string& data, const std::vector<Filter>& filters, QPDFObjectHandle dict) {
  const int width = dict.getKey("/Width").isInteger() ? dict.getKey("/Width").getIntValueAsInt() : 0;
  const int height = dict.getKey("/Height").isInteger() ? dict.getKey("/Height").getIntValueAsInt() : 0;
  const int bits = dict.getKey("/BitsPerComponent").isInteger() ? dict.getKey("/BitsPerComponent").getIntValueAsInt()
                                                                 : 8;
  const bool mask = dict.getKey("/ImageMask").isBool() && dict.getKey("/ImageMask").getBoolValue();
  const int comps = mask ? 1 : components_of(dict.getKey("/ColorSpace"));
  std::string out = data;
  bool samples = true;  // out still holds image samples
  for (const Filter& f : filters) {
    switch (f.code) {
      case PDF_FILTER_CCITT: {
        if (!samples || bits != 1 || (comps != 1 && !mask)) throw std::runtime_error("CCITT codes 1-bit samples only");
        out = ccitt_encode(out, param(f, "Columns", width), height, param(f, "K", 0));
        break;
      }
      case PDF_FILTER_DCT: {
        if (!samples || bits != 8 || comps < 1) throw std::runtime_error("DCT codes 8-bit samples only");
        out = dct_encode(out, width, height, comps, param(f, "Quality", 75), param(f, "ColorTransform", 1) != 0);
        break;
      }
      case PDF_FILTER_JBIG2:
        throw std::runtime_error("JBIG2 data must be given coded or through the JBIG2 coder");
      case PDF_FILTER_FLATE:
      case PDF_FILTER_LZW: {
        const int predictor = param(f, "Predictor", 1);
        if (predictor == 2) {
          if (!samples) throw std::runtime_error("a predictor needs image samples");
          out = tiff_predict(out, param(f, "Columns", 1), param(f, "Colors", 1), param(f, "BitsPerComponent", 8));
        } else if (predictor != 1) {
          throw std::runtime_error("only the TIFF predictor (2) is coded");
        }
        out = f.code == PDF_FILTER_FLATE ? flate_encode(out) : lzw_encode(out, param(f, "EarlyChange", 1) != 0);
        break;
      }
      case PDF_FILTER_ASCII85:
        out = ascii85_encode(out);
        break;
      case PDF_FILTER_ASCII_HEX:
        out = ascii_hex_encode(out);
        break;
      case PDF_FILTER_RUN_LENGTH:
        out = run_length_encode(out);
        break;
      default:
        throw std::runtime_error("unknown filter");
    }
    samples = false;
  }
  return out;
}

}  // namespace pdflib

namespace {

// Codes a pending stream's data through its filters and gives the stream its filter entries and
// Decode array: the data as they are to be stored.
std::string code_stream(PDFDoc* doc, QPDFObjectHandle s, const pdflib::PendingStream& p, QPDFObjectHandle* filter,
                        QPDFObjectHandle* parms) {
  using pdflib::PendingStream;
  using pdflib::components_of;
  QPDFObjectHandle dict = s.getDict();
  const bool coded_here = p.kind != PendingStream::PRECOMPRESSED;
  std::string stored = coded_here ? pdflib::encode(p.data, p.filters, dict) : p.data;
  *filter = QPDFObjectHandle::newNull();
  *parms = QPDFObjectHandle::newNull();
  if (!p.filters.empty()) {
    // The filter that coded last is the first to decode.
    QPDFObjectHandle names = QPDFObjectHandle::newArray();
    QPDFObjectHandle all = QPDFObjectHandle::newArray();
    bool any = false;
    for (auto it = p.filters.rbegin(); it != p.filters.rend(); ++it) {
      names.appendItem(QPDFObjectHandle::newName(filter_name(it->code)));
      QPDFObjectHandle one = decode_parms(doc, *it, coded_here);
      any = any || !one.isNull();
      all.appendItem(one);
    }
    *filter = p.filters.size() == 1 ? names.getArrayItem(0) : names;
    if (any) *parms = p.filters.size() == 1 ? all.getArrayItem(0) : all;
  }
  if (p.decodeSet) {
    const bool mask = dict.getKey("/ImageMask").isBool() && dict.getKey("/ImageMask").getBoolValue();
    int n = mask ? 1 : components_of(dict.getKey("/ColorSpace"));
    if (n < 1) n = 1;
    QPDFObjectHandle decode = QPDFObjectHandle::newArray();
    for (int i = 0; i < n; ++i) {
      decode.appendItem(QPDFObjectHandle::newReal(p.decodeLo, 6, true));
      decode.appendItem(QPDFObjectHandle::newReal(p.decodeHi, 6, true));
    }
    dict.replaceKey("/Decode", decode);
  }
  return stored;
}

}  // namespace

namespace pdflib {

void finalize_streams(PDFDoc* doc) {
  PDFDocImpl* d = doc->impl;
  for (auto& [objgen, p] : d->streams) {
    QPDFObjectHandle s = d->pdf.getObject(objgen);
    if (!s.isStream()) continue;
    if (p.tokenized) throw std::runtime_error("a JBIG2 page was never coded");
    QPDFObjectHandle filter, parms;
    const std::string stored = code_stream(doc, s, p, &filter, &parms);
    s.replaceStreamData(stored, filter, parms);
  }
  d->streams.clear();
}

void spool_streams(PDFDoc* doc) {
  PDFDocImpl* d = doc->impl;
  for (auto it = d->streams.begin(); it != d->streams.end();) {
    PendingStream& p = it->second;
    QPDFObjectHandle s = d->pdf.getObject(it->first);
    // Streams still being filled (made, no data yet) and those with the JBIG2 coder stay.
    if (p.tokenized || p.kind == PendingStream::EMPTY || !s.isStream()) {
      ++it;
      continue;
    }
    if (!d->spool) d->spool = std::make_shared<Spool>();
    QPDFObjectHandle filter, parms;
    const std::string stored = code_stream(doc, s, p, &filter, &parms);
    const uint64_t at = d->spool->put(stored);
    s.replaceStreamData(std::make_shared<SpooledData>(d->spool, at, stored.size()), filter, parms);
    d->spooled.insert(it->first);
    it = d->streams.erase(it);
  }
}

std::string decode(PDFDoc* doc, QPDFObjectHandle stream) {
  QPDFObjectHandle dict = stream.getDict();
  QPDFObjectHandle filters = dict.getKey("/Filter");
  QPDFObjectHandle parms = dict.getKey("/DecodeParms");
  if (filters.isName()) filters = QPDFObjectHandle::newArray({filters});
  if (parms.isDictionary()) parms = QPDFObjectHandle::newArray({parms});
  const int n = filters.isArray() ? filters.getArrayNItems() : 0;
  const bool ccitt_last = n > 0 && filters.getArrayItem(n - 1).isNameAndEquals("/CCITTFaxDecode");
  const size_t budget = decode_budget(stream);
  if (!ccitt_last) return decode_bounded(stream, budget);
  // qpdf does not decode CCITT: the filters before it run through a scratch stream, the last
  // through the fax decoder.
  for (int i = 0; i < n - 1; ++i) {
    if (filters.getArrayItem(i).isNameAndEquals("/CCITTFaxDecode")) throw std::runtime_error("CCITT inside a chain");
  }
  std::shared_ptr<Buffer> raw = stream.getRawStreamData();
  std::string data(reinterpret_cast<const char*>(raw->getBuffer()), raw->getSize());
  if (n > 1) {
    QPDFObjectHandle head = QPDFObjectHandle::newArray();
    QPDFObjectHandle headParms = QPDFObjectHandle::newArray();
    for (int i = 0; i < n - 1; ++i) {
      head.appendItem(filters.getArrayItem(i));
      headParms.appendItem(parms.isArray() && i < parms.getArrayNItems() ? parms.getArrayItem(i)
                                                                       : QPDFObjectHandle::newNull());
    }
    QPDFObjectHandle scratch = QPDFObjectHandle::newStream(&doc->impl->pdf);
    scratch.replaceStreamData(data, head, headParms);
    data = decode_bounded(scratch, budget);
  }
  QPDFObjectHandle p = parms.isArray() && parms.getArrayNItems() >= n ? parms.getArrayItem(n - 1)
                                                                       : QPDFObjectHandle::newDictionary();
  if (!p.isDictionary()) p = QPDFObjectHandle::newDictionary();
  auto integer = [&](const char* key, int fallback) {
    QPDFObjectHandle v = p.getKey(key);
    return v.isInteger() ? v.getIntValueAsInt() : fallback;
  };
  auto boolean = [&](const char* key, bool fallback) {
    QPDFObjectHandle v = p.getKey(key);
    return v.isBool() ? v.getBoolValue() : fallback;
  };
  if (boolean("/EncodedByteAlign", false)) throw std::runtime_error("CCITT with EncodedByteAlign is not decoded");
  int rows = integer("/Rows", 0);
  if (rows <= 0 && dict.getKey("/Height").isInteger()) rows = dict.getKey("/Height").getIntValueAsInt();
  return ccitt_decode(data, integer("/Columns", 1728), rows, integer("/K", 0), boolean("/BlackIs1", false));
}

}  // namespace pdflib

namespace {

int append(PDFDoc* doc, PDFObj* stream, const void* bytes, size_t length, pdflib::PendingStream::Kind kind,
           const char* call) {
  return guarded(doc, call, 0, [&] {
    QPDFObjectHandle s = resolved(stream);
    if (!doc->writing || !s.isStream()) return pdflib::fail(doc, "%s: not a stream being written", call);
    if (!bytes && length) return pdflib::fail(doc, "%s: no data", call);
    pdflib::PendingStream& p = pdflib::pending(doc->impl, s);
    if (p.kind != pdflib::PendingStream::EMPTY && p.kind != kind) {
      return pdflib::fail(doc, "%s: the stream already holds data of the other kind", call);
    }
    if (p.tokenized) return pdflib::fail(doc, "%s: the stream is with the JBIG2 coder", call);
    p.kind = kind;
    p.data.append(static_cast<const char*>(bytes), length);
    return 1;
  });
}

}  // namespace

extern "C" {

int PDFAppendStream(PDFDoc* doc, PDFObj* stream, const void* bytes, size_t length) {
  return append(doc, stream, bytes, length, pdflib::PendingStream::RAW, "PDFAppendStream");
}

int PDFAppendPrecompressedStream(PDFDoc* doc, PDFObj* stream, const void* bytes, size_t length) {
  return append(doc, stream, bytes, length, pdflib::PendingStream::PRECOMPRESSED, "PDFAppendPrecompressedStream");
}

int PDFSetStreamFilter(PDFDoc* doc, PDFObj* stream, int32_t filter, ...) {
  pdflib::Filter f;
  f.code = filter;
  va_list ap;
  va_start(ap, filter);
  while (const char* key = va_arg(ap, const char*)) f.params[key] = va_arg(ap, int32_t);
  va_end(ap);
  return guarded(doc, "PDFSetStreamFilter", 0, [&] {
    QPDFObjectHandle s = resolved(stream);
    if (!doc->writing || !s.isStream()) return pdflib::fail(doc, "PDFSetStreamFilter: not a stream being written");
    if (!filter_name(filter)) return pdflib::fail(doc, "PDFSetStreamFilter: unknown filter %d", filter);
    if (filter == PDF_FILTER_JBIG2 && !pdflib::require_version(doc, 14, "JBIG2 images", "PDFSetStreamFilter")) return 0;
    // A globals reference is checked now, so the caller learns of it here and not at the close.
    const auto globals = f.params.find("JBIG2GlobalsRef");
    if (globals != f.params.end() && !doc->impl->pdf.getObjectByID(globals->second, 0).isStream()) {
      return pdflib::fail(doc, "PDFSetStreamFilter: JBIG2GlobalsRef %d names no stream", globals->second);
    }
    pdflib::pending(doc->impl, s).filters.push_back(f);
    return 1;
  });
}

int32_t PDFGetStreamFilterCount(PDFDoc* doc, PDFObj* stream) {
  return guarded(doc, "PDFGetStreamFilterCount", int32_t{0}, [&]() -> int32_t {
    QPDFObjectHandle s = resolved(stream);
    if (!s.isStream()) return 0;
    const auto it = doc->impl->streams.find(s.getObjGen());
    if (it != doc->impl->streams.end()) return static_cast<int32_t>(it->second.filters.size());
    QPDFObjectHandle f = s.getDict().getKey("/Filter");
    return f.isName() ? 1 : f.isArray() ? f.getArrayNItems() : 0;
  });
}

KVngSB* PDFGetCompressedStreamData(PDFDoc* doc, PDFObj* stream) {
  return guarded(doc, "PDFGetCompressedStreamData", static_cast<KVngSB*>(nullptr), [&]() -> KVngSB* {
    QPDFObjectHandle s = resolved(stream);
    if (!s.isStream()) {
      pdflib::fail(doc, "PDFGetCompressedStreamData: not a stream");
      return nullptr;
    }
    std::shared_ptr<Buffer> raw = s.getRawStreamData();
    if (!stream->sb && !(stream->sb = KVngSBNew())) throw std::bad_alloc();
    KVngSBClear(stream->sb);
    if (!KVngSBAppend(stream->sb, raw->getBuffer(), raw->getSize())) throw std::bad_alloc();
    return stream->sb;
  });
}

KVngSB* PDFReadStreamData(PDFDoc* doc, PDFObj* stream) { return PDFGetCompressedStreamData(doc, stream); }

void PDFReleaseStreamData(PDFDoc*, PDFObj* stream) {
  if (!stream) return;
  KVngSBFree(stream->sb);
  stream->sb = nullptr;
}

KVngSB* PDFGetStreamData(PDFDoc* doc, PDFObj* stream) {
  return guarded(doc, "PDFGetStreamData", static_cast<KVngSB*>(nullptr), [&]() -> KVngSB* {
    QPDFObjectHandle s = resolved(stream);
    if (!s.isStream()) {
      pdflib::fail(doc, "PDFGetStreamData: not a stream");
      return nullptr;
    }
    const std::string data = pdflib::decode(doc, s);
    if (!stream->sb && !(stream->sb = KVngSBNew())) throw std::bad_alloc();
    KVngSBClear(stream->sb);
    if (!KVngSBAppend(stream->sb, data.data(), data.size())) throw std::bad_alloc();
    return stream->sb;
  });
}

}  // extern "C"
