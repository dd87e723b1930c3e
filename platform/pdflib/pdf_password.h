#ifndef PDF_PASSWORD_H
#define PDF_PASSWORD_H

// Passwords of the PDF security handlers, shared by the reader and the encrypting plug-in, so
// that what one writes the other opens.

#include <string>
#include <vector>

namespace pdflib {

// The password in SASLprep form (RFC 4013), as UTF-8: what revisions 5 and 6 hash (ISO 32000-2,
// 7.6.4.3.3). False with the reason when the text is no UTF-8 or the profile prohibits it.
bool saslprep(const std::string& utf8, std::string* out, std::string* why);

// The byte strings a typed password may stand for in a file, each once, the typed bytes first:
// its PDFDocEncoding form, which revisions 2 to 4 take (ISO 32000-1, 7.6.3.3), and its SASLprep
// form, which revision 6 takes. Writers differ in whether they convert, so a reader tries each.
std::vector<std::string> password_forms(const std::string& typed);

}  // namespace pdflib

#endif
