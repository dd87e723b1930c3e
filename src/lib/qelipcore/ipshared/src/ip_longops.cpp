#include "ip_longops.h"

extern "C" {

void ip_initLongOps(IPState*) {}
void ip_finishLongOps(IPState*) {}
int32_t ip_longOpIPLibLinked(IPState*) { return 0; }

VltStatus ip_getLongDilateSEParms(IPState*, int32_t, int32_t, const uint8_t*, uint32_t*, uint32_t*,
                                  uint32_t*, uint8_t*) {
  return VLT_ERR_NOT_IMPLEMENTED;
}
VltStatus ip_getLongErodeSEParms(IPState*, int32_t, int32_t, const uint8_t*, uint32_t*, uint32_t*,
                                 uint32_t*, uint8_t*) {
  return VLT_ERR_NOT_IMPLEMENTED;
}

}  // extern "C"
