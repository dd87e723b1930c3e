#include "report_collector.h"

#include <cstdarg>
#include <cstdio>

namespace monotest {

int collect_report(void* context, int32_t code, const char* format, ...) {
  auto* c = static_cast<CollectedReports*>(context);
  c->codes.push_back(code);
  if (format != nullptr) {
    va_list ap;
    va_start(ap, format);
    va_list copy;
    va_copy(copy, ap);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n > 0) {
      std::string s(static_cast<size_t>(n) + 1, '\0');
      std::vsnprintf(s.data(), s.size(), format, ap);
      s.resize(static_cast<size_t>(n));
      c->text += s;
    }
    va_end(ap);
  }
  c->text += '\n';
  return 0;
}

}  // namespace monotest
