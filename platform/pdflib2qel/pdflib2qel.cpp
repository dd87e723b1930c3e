// The post-format plug-in over qpdf: a finished PDF read, changed as asked and written to a
// temporary file that then replaces it, so a failure leaves the file as it was.

#include "pdflib2qel.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFWriter.hh>
#include <qpdf/QUtil.hh>
#include <qpdf/RandomDataProvider.hh>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "elf_list.h"
#include "kvng.h"
#include "pdf_password.h"

namespace {

constexpr char kPacketHead[] = "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n";
constexpr char kPacketTail[] = "<?xpacket end=\"w\"?>";

int report(elf_state* state, int code, const std::string& text) {
  if (state) return setStatus(state, code, QEL_SEVERITY_ERROR, "%s\n", text.c_str());
  std::fprintf(stderr, "pdflib2qel: %s\n", text.c_str());
  return code;
}

bool test_mode() {
  const char* v = std::getenv("PDFTESTMODE");
  return v && std::strcmp(v, "TRUE") == 0;
}

// Where the rewritten file goes before it replaces the original.
std::string temporary_name(const std::string& file, const char* folder) {
  const std::string base = file.substr(file.rfind('/') == std::string::npos ? 0 : file.rfind('/') + 1);
  const std::string stem = folder && *folder ? std::string(folder) + "/" + base : file;
  return stem + ".pf" + std::to_string(getpid());
}

// Moves the written file over the original; across file systems by copying.
bool replace_file(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  FILE* in = std::fopen(from.c_str(), "rb");
  FILE* out = in ? std::fopen(to.c_str(), "wb") : nullptr;
  bool ok = in && out;
  char buffer[65536];
  size_t n;
  while (ok && (n = std::fread(buffer, 1, sizeof buffer, in)) > 0) ok = std::fwrite(buffer, 1, n, out) == n;
  if (in) std::fclose(in);
  if (out && std::fclose(out) != 0) ok = false;
  std::remove(from.c_str());
  return ok;
}

struct Common {
  const char* filename = nullptr;
  const char* creator = nullptr;
  const char* tmpLocation = nullptr;
  const char* compatibility = nullptr;
};

// Reads the file, lets change set up the writer, writes and replaces; 0 or a status.
template <typename F>
int rewrite(elf_state* state, const Common& c, const char* who, F&& change) {
  const std::string file = c.filename;
  const std::string temp = temporary_name(file, c.tmpLocation);
  try {
    QPDF pdf;
    pdf.processFile(file.c_str());
    if (c.creator) {
      QPDFObjectHandle trailer = pdf.getTrailer();
      QPDFObjectHandle info = trailer.getKey("/Info");
      if (!info.isDictionary()) {
        info = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
        trailer.replaceKey("/Info", info);
      }
      info.replaceKey("/Creator", QPDFObjectHandle::newUnicodeString(c.creator));
    }
    QPDFWriter w(pdf, temp.c_str());
    if (c.compatibility) w.setMinimumPDFVersion(c.compatibility);
    const int status = change(pdf, w);
    if (status != 0) {
      std::remove(temp.c_str());
      return status;
    }
    w.write();
  } catch (const std::exception& e) {
    std::remove(temp.c_str());
    return report(state, QEL_STATUS_FAILED, std::string(who) + ": " + file + ": " + e.what());
  }
  if (!replace_file(temp, file)) return report(state, QEL_STATUS_FAILED, std::string(who) + ": cannot replace " + file);
  return 0;
}

// The security handler a compatibility level gets: AES-256 (revision 6) from PDF 1.7, AES-128
// (revision 4) at 1.6, RC4-128 (revision 3) at 1.4 and 1.5. RC4-128 itself needs 1.4.
enum class Handler { none, rc4, aes128, aes256 };

Handler handler_for(const char* compatibility) {
  const std::string v = compatibility ? compatibility : "1.4";
  if (v == "1.4" || v == "1.5") return Handler::rc4;
  if (v == "1.6") return Handler::aes128;
  if (v == "1.7") return Handler::aes256;
  return Handler::none;
}

// A UTF-8 password as the handler takes it: SASLprep UTF-8 for revision 6, PDFDocEncoding for
// the older ones (ISO 32000-1, 7.6.3.3), which readers convert the typed password to as well.
bool encode_password(const std::string& utf8, Handler h, std::string* out, std::string* why) {
  if (h == Handler::aes256) {
    if (!pdflib::saslprep(utf8, out, why)) return false;
    if (out->empty() && !utf8.empty()) {
      *why = "is nothing once SASLprep has removed what it drops";
      return false;
    }
    return true;
  }
  if (!QUtil::utf8_to_pdf_doc(utf8, *out)) {
    *why = "holds characters that PDFDocEncoding cannot carry (RC4 and AES-128 take only those; "
           "AES-256, at PDF 1.7, takes any)";
    return false;
  }
  return true;
}

// Test mode: the salts and the file key that revision 6 draws come from a fixed sequence, so
// runs give the same bytes. Never outside test mode.
class FixedRandom : public RandomDataProvider {
 public:
  void provideRandomData(unsigned char* data, size_t len) override {
    for (size_t i = 0; i < len; ++i) data[i] = static_cast<unsigned char>(next_++ * 151u + 7u);
  }

 private:
  unsigned next_ = 0;
};

struct Permissions {
  bool print = true, printHigh = true, modify = true, copy = true, annotate = true, forms = true, accessibility = true,
       assemble = true;
};

// The denied permissions a LIST names; false with the name it does not know.
bool read_permissions(elf_object* list, Permissions* p, std::string* bad) {
  const int32_t n = elflistLength(list);
  for (int32_t i = 0; i < n; ++i) {
    elf_object* item = elfIdentValue(elflistItem(list, i));
    if (!elfIsType(item, "STRING")) {
      *bad = "(not a text)";
      return false;
    }
    const std::string name = reinterpret_cast<elf_STRING*>(item)->value;
    if (name == "print") {
      p->print = p->printHigh = false;
    } else if (name == "printhq") {
      p->printHigh = false;
    } else if (name == "modify") {
      p->modify = false;
    } else if (name == "copy") {
      p->copy = false;
    } else if (name == "annotate") {
      p->annotate = false;
    } else if (name == "forms") {
      p->forms = false;
    } else if (name == "accessibility") {
      p->accessibility = false;
    } else if (name == "assemble") {
      p->assemble = false;
    } else {
      *bad = name;
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" {

char* PDFLIB_GetProducer(void) {
  const std::string text = std::string("pdflib2qel (qpdf ") + QPDF::QPDFVersion() + ")";
  auto* out = static_cast<char*>(kvng_internal_calloc(text.size() + 1, 1));
  if (out) std::memcpy(out, text.c_str(), text.size());
  return out;
}

int PDFLIB_PostFormatLinearize(elf_state* state, elf_object* args) {
  static const char kWho[] = "PDFLIB_PostFormatLinearize";
  Common c;
  int32_t archive = 0;
  const char* metadata = nullptr;
  const char* date = nullptr;
  if (!lstScanArgs(args, "filename:s", LST_REQUIRED, &c.filename, "creator:s", LST_OPTIONAL, &c.creator,
                   "tmpLocation:s", LST_OPTIONAL, &c.tmpLocation, "compatibility:s", LST_OPTIONAL, &c.compatibility,
                   "PDF_A:b", LST_OPTIONAL, &archive, "metadata:s", LST_OPTIONAL, &metadata, "date:s", LST_OPTIONAL,
                   &date, LST_END) ||
      (archive && !metadata)) {
    return report(state, QEL_STATUS_INVALID, std::string(kWho) + ": missing or unusable arguments");
  }
  return rewrite(state, c, kWho, [&](QPDF& pdf, QPDFWriter& w) {
    if (archive) {
      // The catalog keeps one metadata stream: its data is replaced, never a second one added.
      const std::string packet = kPacketHead + std::string(metadata) + kPacketTail;
      QPDFObjectHandle root = pdf.getRoot();
      QPDFObjectHandle stream = root.getKey("/Metadata");
      if (stream.isStream()) {
        stream.replaceStreamData(packet, QPDFObjectHandle::newNull(), QPDFObjectHandle::newNull());
      } else {
        stream = pdf.makeIndirectObject(QPDFObjectHandle::newStream(&pdf, packet));
        stream.getDict().replaceKey("/Type", QPDFObjectHandle::newName("/Metadata"));
        stream.getDict().replaceKey("/Subtype", QPDFObjectHandle::newName("/XML"));
        root.replaceKey("/Metadata", stream);
      }
      if (date) {
        QPDFObjectHandle info = pdf.getTrailer().getKey("/Info");
        if (info.isDictionary()) info.replaceKey("/ModDate", QPDFObjectHandle::newString(date));
      }
    }
    w.setLinearization(true);
    if (test_mode()) w.setDeterministicID(true);
    return 0;
  });
}

int PDFLIB_PostFormatEncrypt(elf_state* state, elf_object* args) {
  static const char kWho[] = "PDFLIB_PostFormatEncrypt";
  Common c;
  const char* user = nullptr;
  const char* owner = nullptr;
  elf_object* permissions = nullptr;
  int32_t linearize = 0;
  if (!lstScanArgs(args, "passwd:s", LST_OPTIONAL, &user, "masterpasswd:s", LST_OPTIONAL, &owner, "tmpLocation:s",
                   LST_OPTIONAL, &c.tmpLocation, "permissions:LIST", LST_OPTIONAL, &permissions, "creator:s",
                   LST_OPTIONAL, &c.creator, "compatibility:s", LST_OPTIONAL, &c.compatibility, "filename:s",
                   LST_REQUIRED, &c.filename, "linearize:b", LST_OPTIONAL, &linearize, LST_END)) {
    return report(state, QEL_STATUS_INVALID, std::string(kWho) + ": missing or unusable arguments");
  }
  Permissions p;
  std::string bad;
  if (permissions && !read_permissions(permissions, &p, &bad)) {
    return report(state, QEL_STATUS_INVALID, std::string(kWho) + ": no permission named \"" + bad + "\"");
  }
  const Handler handler = handler_for(c.compatibility);
  if (handler == Handler::none) {
    return report(state, QEL_STATUS_INVALID,
                  std::string(kWho) + ": PDF " + (c.compatibility ? c.compatibility : "") +
                      " has no 128-bit encryption: RC4-128 needs PDF 1.4, AES-256 PDF 1.7");
  }
  std::string userPassword, ownerPassword, why;
  if (!encode_password(user ? user : "", handler, &userPassword, &why)) {
    return report(state, QEL_STATUS_INVALID, std::string(kWho) + ": the password " + why);
  }
  // Without an owner password the user's serves: nobody gets more than the user.
  if (owner && *owner) {
    if (!encode_password(owner, handler, &ownerPassword, &why)) {
      return report(state, QEL_STATUS_INVALID, std::string(kWho) + ": the owner password " + why);
    }
  } else {
    ownerPassword = userPassword;
  }
  const qpdf_r3_print_e print = !p.print ? qpdf_r3p_none : !p.printHigh ? qpdf_r3p_low : qpdf_r3p_full;
  FixedRandom fixed;
  const bool fixedRandom = test_mode() && handler == Handler::aes256;
  if (fixedRandom) QUtil::setRandomDataProvider(&fixed);
  const int status = rewrite(state, c, kWho, [&](QPDF&, QPDFWriter& w) {
    // Setting the encryption makes the file's ID, so the fixed one is asked for first.
    if (test_mode()) {
      w.setStaticID(true);
      w.setStaticAesIV(true);
    }
    switch (handler) {
      case Handler::aes256:
        w.setR6EncryptionParameters(userPassword.c_str(), ownerPassword.c_str(), p.accessibility, p.copy, p.assemble,
                                    p.annotate, p.forms, p.modify, print, true);
        break;
      case Handler::aes128:
        w.setR4EncryptionParametersInsecure(userPassword.c_str(), ownerPassword.c_str(), p.accessibility, p.copy,
                                            p.assemble, p.annotate, p.forms, p.modify, print, true, true);
        break;
      default:
        w.setR3EncryptionParametersInsecure(userPassword.c_str(), ownerPassword.c_str(), p.accessibility, p.copy,
                                            p.assemble, p.annotate, p.forms, p.modify, print);
        break;
    }
    if (linearize) w.setLinearization(true);
    return 0;
  });
  if (fixedRandom) QUtil::setRandomDataProvider(nullptr);
  return status;
}

}  // extern "C"
