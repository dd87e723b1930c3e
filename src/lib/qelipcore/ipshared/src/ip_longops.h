#ifndef IP_LONGOPS_H
#define IP_LONGOPS_H

// Set-up and tear-down around wide-register line kernels, and the per-element parameters that
// wide-register dilate and erode code would need. This build has no wide-register kernels: the
// set-up does nothing, the presence query answers 0 and the parameters are not implemented (6).

#include <stdint.h>

#include "ipstate.h"

#ifdef __cplusplus
extern "C" {
#endif

void ip_initLongOps(IPState* state);
void ip_finishLongOps(IPState* state);
int32_t ip_longOpIPLibLinked(IPState* state);
VltStatus ip_getLongDilateSEParms(IPState* state, int32_t selWidth, int32_t selHeight,
                                  const uint8_t* cells, uint32_t* parm0, uint32_t* parm1,
                                  uint32_t* parm2, uint8_t* work);
VltStatus ip_getLongErodeSEParms(IPState* state, int32_t selWidth, int32_t selHeight,
                                 const uint8_t* cells, uint32_t* parm0, uint32_t* parm1,
                                 uint32_t* parm2, uint8_t* work);

#ifdef __cplusplus
}
#endif

#endif
