// monodoc sign: signs an unpacked XPS package with XPSDSigMakeSignature of libpagefiler.

#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "image_io.h"
#include "messages.h"
#include "kvng_print.h"
#include "session.h"

namespace monodoc {

const char sign_help[] =
    "usage: monodoc sign [options] KEY.p12 PACKAGE_DIR\n"
    "\n"
    "Adds an OPC digital signature to an XPS package that lies unpacked in PACKAGE_DIR (every\n"
    "part a file, or a folder of interleaved pieces), with the private key and certificate of\n"
    "the PKCS#12 file KEY.p12, through XPSDSigMakeSignature of libpagefiler. It signs the\n"
    "package relationships, the FixedDocumentSequence, every FixedDocument and FixedPage with\n"
    "their relationships (a part that names nothing may have none, as in packages of other\n"
    "writers), and the resources, fonts and thumbnails they name, and writes:\n"
    "  package/services/digital-signature/origin.psdsor (with its relationships)\n"
    "  package/services/digital-signature/certificate/U.cer (the signer's certificate, DER)\n"
    "  package/services/digital-signature/xml-signature/U.psdsxs (with its relationships)\n"
    "  xmls/xml_1.xaml (the signature definitions)\n"
    "U is a random UUID, or with --no-timestamp the nil UUID (plus one for each signature the\n"
    "package has already). The package relationships gain the digital-signature origin\n"
    "relationship and the content types those of the signature parts, where they lack them, so\n"
    "that readers find the signature; signing again adds a signature that the origin lists too.\n"
    "The other parts are not changed. A key that cannot be read fails in one line with the\n"
    "reason; a PKCS#12 file without a password needs no --password.\n"
    "A relationship target outside the package (\"../\", absolute or drive forms), a\n"
    "target without a content type or a part that cannot be read fails the signature; a\n"
    "failed signature leaves none of its parts behind. xmlsec1 --verify checks the result\n"
    "(with --pubkey-cert-der on the certificate part).\n"
    "\n"
    "Options:\n"
    "  -p, --password P     the password of KEY.p12\n"
    "      --intent TEXT    the signature definition's intent\n"
    "      --locale TEXT    the signing location\n"
    "      --no-timestamp   fixed names and time (2007-01-01T00:00:00Z): the same package and\n"
    "                       key give the same signature bytes\n"
    "  -h, --help           this text\n"
    "\n"
    "Exit status: 0 signed, 1 failure, 2 wrong usage.\n";

int run_sign(const std::vector<std::string>& args) {
  static const std::vector<OptionSpec> specs = {
      {'p', "password", true}, {'\0', "intent", true}, {'\0', "locale", true}, {'\0', "no-timestamp", false}};
  ParsedOptions parsed;
  std::string error;
  if (!parse_options(args, specs, &parsed, &error)) {
    complain("sign", error);
    return exit_usage;
  }
  std::string password, intent, locale;
  bool password_given = false, no_timestamp = false;
  for (const auto& [spec, value] : parsed.options) {
    const std::string name = spec->long_name;
    if (name == "password") {
      password = value;
      password_given = true;
    } else if (name == "intent") {
      intent = value;
    } else if (name == "locale") {
      locale = value;
    } else {
      no_timestamp = true;
    }
  }
  if (parsed.operands.size() != 2) {
    complain("sign", "needs KEY.p12 and PACKAGE_DIR (monodoc help sign)");
    return exit_usage;
  }
  std::string root = parsed.operands[1];
  while (root.size() > 1 && root.back() == '/') root.pop_back();

  Interpreter interp("pagefiler.ucm");
  if (!interp.state) {
    complain("sign", "cannot make the interpreter state from pagefiler.ucm");
    return exit_failed;
  }
  void* address = nullptr;
  char why[4200];
  if (!elfBindSharedProc("pagefiler", "XPSDSigMakeSignature", &address, why, sizeof why)) {
    complain("sign", why);
    return exit_failed;
  }
  auto* make_signature = reinterpret_cast<elf_method_proc>(address);
  elf_object* options = lstBuildArgs(interp.state, "certFile:s", parsed.operands[0].c_str(), 0, "noTimestamp:b",
                                     no_timestamp ? 1 : 0, 0, LST_END);
  bool ok = options != nullptr;
  if (ok && password_given) ok = lstAppendArgs(options, "certPassword:s", password.c_str(), 0, LST_END);
  if (ok && !intent.empty()) ok = lstAppendArgs(options, "intent:s", intent.c_str(), 0, LST_END);
  if (ok && !locale.empty()) ok = lstAppendArgs(options, "signingLocale:s", locale.c_str(), 0, LST_END);
  elf_object* call =
      ok ? lstBuildArgs(interp.state, "rootPath:s", root.c_str(), 0, "options:LIST", options, 0, LST_END) : nullptr;
  if (!call) {
    if (options) elfDiscard(options);
    complain("sign", "no memory for the arguments");
    return exit_failed;
  }
  std::fprintf(stderr, "monodoc: sign: %s\n", root.c_str());
  KVngSetPrinter(print_engine_message, nullptr);
  const int status = make_signature(interp.state, call, nullptr);
  KVngSetPrinter(nullptr, nullptr);
  elfDiscard(call);
  if (status != 0) {
    complain("sign", root + ": " + status_text(interp.state, status));
    return exit_failed;
  }
  std::printf("%s: signed\n", root.c_str());
  return exit_ok;
}

}  // namespace monodoc
