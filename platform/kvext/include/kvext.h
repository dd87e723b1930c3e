#ifndef KVEXT_H
#define KVEXT_H

// Everything a plug-in library uses of the imaging engine's extended library.

#include "kvng_format.h"
#include "kvng_hdr.h"
#include "kvng_io.h"
#include "kvng_print.h"
#include "kvng_sb.h"
#include "sstate.h"
#include "qelutil.h"

#endif
