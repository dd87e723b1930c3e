#ifndef VLT_API_DESKEW_H
#define VLT_API_DESKEW_H

/* Straightening of skewed pages through the engine handle. From the next section on, the skew
   of every page added is measured (level 0..5: the detector reads every 2^(5 - level)th line;
   orientation 1, 2, 3: the page is measured turned by 180, 270 or 90 degrees), and ending each
   section straightens its tokens longer than the page's straightening length and turns every
   position of the page (tokens, large components and the small components kept exactly) about
   the page centre by the page's angle. Pages are then scanned for components whole, not in
   pieces of 500 rows. 10003 for a handle that is not one VltApi_init made, 2 while a section is
   open or when it is already on, 1 without memory. */

#include <stdint.h>

#include "mono_export.h"
#include "vlt_status.h"

struct VltApiHandle;

MONO_API VltStatus VltApi_setDeskew(struct VltApiHandle* handle, int32_t level, int32_t orientation);

#endif
