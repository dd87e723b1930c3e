#ifndef IP_LONGOPS_H
#define IP_LONGOPS_H

// Set-up and tear-down around wide-register line kernels. This build has no wide-register
// kernels, so both do nothing.

#include "ipstate.h"

#ifdef __cplusplus
extern "C" {
#endif

void ip_initLongOps(IPState* state);
void ip_finishLongOps(IPState* state);

#ifdef __cplusplus
}
#endif

#endif
