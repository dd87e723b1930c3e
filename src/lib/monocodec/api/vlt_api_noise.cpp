// Token-noise reduction through the engine handle.

#include "vlt_api_noise.h"

#include "tok_smooth.h"
#include "vlt_api_handle.h"

VltStatus VltApi_redTokNoise(VltApiHandle* h) {
  if (api_checkHandle(h) != VLT_OK) return VLT_ERR_ASSERT;
  TclySection* section = h->lossyDoc->section;
  if (section == nullptr) return Vlt_report(h->state, VLT_ERR_PARAM);
  return smoothToken(h->state, section->classes);
}
