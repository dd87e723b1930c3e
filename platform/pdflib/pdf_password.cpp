// Passwords in the forms the security handlers take them, over ICU's stringprep and qpdf's
// PDFDocEncoding table.

#include "pdf_password.h"

#include <qpdf/QUtil.hh>
#include <unicode/usprep.h>
#include <unicode/ustring.h>

#include <algorithm>

namespace pdflib {

bool saslprep(const std::string& utf8, std::string* out, std::string* why) {
  UErrorCode e = U_ZERO_ERROR;
  int32_t length = 0;
  u_strFromUTF8(nullptr, 0, &length, utf8.data(), static_cast<int32_t>(utf8.size()), &e);
  if (e != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(e)) {
    *why = "is not UTF-8 text";
    return false;
  }
  std::vector<UChar> wide(static_cast<size_t>(length) + 1);
  e = U_ZERO_ERROR;
  u_strFromUTF8(wide.data(), length + 1, &length, utf8.data(), static_cast<int32_t>(utf8.size()), &e);
  if (U_FAILURE(e)) {
    *why = "is not UTF-8 text";
    return false;
  }
  UStringPrepProfile* profile = usprep_openByType(USPREP_RFC4013_SASLPREP, &e);
  if (U_FAILURE(e)) {
    *why = std::string("cannot be prepared (") + u_errorName(e) + ")";
    return false;
  }
  // Preparation maps, normalizes (NFKC) and may grow the text; four times its length holds it.
  // Characters stringprep's Unicode 3.2 does not know yet (most emoji) pass as they are, as a
  // reader's preparation of the typed password lets them pass.
  std::vector<UChar> prepared(static_cast<size_t>(length) * 4 + 16);
  const int32_t n = usprep_prepare(profile, wide.data(), length, prepared.data(), static_cast<int32_t>(prepared.size()),
                                   USPREP_ALLOW_UNASSIGNED, nullptr, &e);
  usprep_close(profile);
  if (U_FAILURE(e)) {
    *why = e == U_STRINGPREP_PROHIBITED_ERROR   ? "holds a character that passwords may not hold (SASLprep)"
           : e == U_STRINGPREP_CHECK_BIDI_ERROR ? "mixes right-to-left and left-to-right text as SASLprep forbids"
                                                : std::string("cannot be prepared (") + u_errorName(e) + ")";
    return false;
  }
  std::string bytes(static_cast<size_t>(n) * 3 + 1, '\0');
  int32_t written = 0;
  u_strToUTF8(bytes.data(), static_cast<int32_t>(bytes.size()), &written, prepared.data(), n, &e);
  if (U_FAILURE(e)) {
    *why = std::string("cannot be prepared (") + u_errorName(e) + ")";
    return false;
  }
  bytes.resize(static_cast<size_t>(written));
  *out = bytes;
  return true;
}

std::vector<std::string> password_forms(const std::string& typed) {
  std::vector<std::string> forms{typed};
  // ASCII text is the same in every form (or, with control characters, has no SASLprep form):
  // the common case needs none of stringprep's tables.
  if (std::all_of(typed.begin(), typed.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    return forms;
  }
  const auto add = [&forms](const std::string& form) {
    if (std::find(forms.begin(), forms.end(), form) == forms.end()) forms.push_back(form);
  };
  std::string form, why;
  if (QUtil::utf8_to_pdf_doc(typed, form)) add(form);
  // A password that preparation empties is refused by the writer: it stands for no file.
  if (saslprep(typed, &form, &why) && !form.empty()) add(form);
  return forms;
}

}  // namespace pdflib
