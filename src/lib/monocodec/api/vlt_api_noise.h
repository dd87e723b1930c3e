#ifndef VLT_API_NOISE_H
#define VLT_API_NOISE_H

/* Token-noise reduction of the open section: every class whose instances were summed from grey
   pages (sumGrayInstances) takes the exemplar drawn from its sum. 10003 for a handle that is not
   one VltApi_init made, 2 without a section. */

#include "mono_export.h"
#include "vlt_status.h"

struct VltApiHandle;

MONO_API VltStatus VltApi_redTokNoise(struct VltApiHandle* handle);

#endif
