#include "ip_longops.h"

extern "C" {

void ip_initLongOps(IPState*) {}
void ip_finishLongOps(IPState*) {}

}  // extern "C"
