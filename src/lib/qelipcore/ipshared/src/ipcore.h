#ifndef IPCORE_H
#define IPCORE_H

// Public prototypes of the image core: what the wrapper layer and the engine call.

#include "ipstate.h"

#endif
