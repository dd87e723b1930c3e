// Built against an installed tree only: libpagefiler's header with the platform's, and its
// format names round-tripped through the exported entry points. The XPS signing header includes
// libxml2's and xmlsec1's: the package alone must give what they need.

#include <strings.h>

#include <cstdio>
#include <initializer_list>

#include "dio.h"
#include "xps_sign.h"

int main() {
  for (const char* name : {"pdf", "TIFF", "png"}) {
    const int32_t format = StringToFormatType(name);
    char printed[DIO_FORMAT_NAME_MAX];
    FormatTypeToString(format, printed);
    if (format == DIO_FORMAT_DEFAULT || strcasecmp(printed, name) != 0) {
      std::fprintf(stderr, "pagefiler consumer: %s became %d (%s)\n", name, format, printed);
      return 1;
    }
  }
  std::printf("pagefiler consumer: format names round-trip\n");
  return 0;
}
