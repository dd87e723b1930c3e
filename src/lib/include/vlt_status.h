#ifndef VLT_STATUS_H
#define VLT_STATUS_H

#include <stdint.h>

#include "mono_export.h"

/* The one status space of the image core, the wrapper layer, the engine and the JBIG2 codec.
   0 is success; Vlt_getErrStr gives the text of every code. */
typedef int32_t VltStatus;

enum {
  VLT_OK = 0,
  VLT_ERR_NOMEM = 1,           /* Unable to allocate memory */
  VLT_ERR_PARAM = 2,           /* Invalid parameter */
  VLT_ERR_BUMMER = 3,          /* Internal error encountered, bummer */
  VLT_ERR_NOT_IMPLEMENTED = 6, /* Function is not implemented */
  VLT_ERR_OVERFLOW = 7,        /* Buffer overflow */
  VLT_ERR_DEPTH = 8,           /* Operator does not support images with this number of bits/pixel */
  VLT_ERR_ANGLE = 9,           /* Angle parameter is larger in absolute value than operator can handle */
  VLT_ERR_NO_ON_PIXELS = 10,   /* No on pixels in this source word */
  VLT_ERR_LENGTH_MISMATCH = 11,/* Two objects should have been the same length */
  VLT_ERR_INTERNAL = 12,       /* Internal error */
  VLT_ERR_CALLBACK = 13,       /* Client's callback routine returned error */
  VLT_ERR_YIELD_ABORT = 14,    /* Yield procedure signaled abort */
  VLT_ERR_DECODE = 15,         /* Error during decode */
  VLT_ERR_TOO_WIDE = 16,       /* Image is too wide */
  VLT_ERR_BOUNDS = 17,         /* Out of bounds error */
  VLT_ERR_READ = 18,           /* Error during read */
  VLT_ERR_WRITE = 19,          /* Error during write */
  VLT_ERR_EARLY_END = 20,      /* Reading/scanning early end found */
  VLT_ERR_NO_DATA = 21,        /* No image data found */
  VLT_ERR_ILLEGAL_TYPE = 22,   /* Illegal type */
  VLT_ERR_TYPE_UNSUPPORTED = 30,
  VLT_ERR_DIMS_EQUAL = 35,     /* Dimensions required to be equal */
  VLT_ERR_DEPTHS_EQUAL = 36,   /* Depths required to be equal */
  VLT_ERR_CHANNELS_EQUAL = 37, /* Channels required to be equal */

  VLT_ERR_IPC_BOUNDS = 100,    /* Out of bounds error */
  VLT_ERR_IPC_NO_IMAGE = 101,  /* No image data found */
  VLT_ERR_CODEC = 107,         /* Error during de/compression */
  VLT_ERR_CHANNELS = 110,      /* Desired number of channels not supported */
  VLT_ERR_CHANNELS_MISMATCH = 111, /* Channels required to be equal */
  VLT_ERR_DIMENSIONS = 112,    /* Image Dimensions are incorrect */
  VLT_ERR_DIMS_MISMATCH = 113, /* Dimensions required to be equal */
  VLT_ERR_REDUCTION = 115,     /* Illegal reduction factor */
  VLT_ERR_RATIO = 116,         /* Image dimensions not correct ratio */
  VLT_ERR_EXPANSION = 117,     /* Desired expansion not supported */
  VLT_ERR_NULL = 118,          /* Unexpected NULL pointer */
  VLT_ERR_ARRAY_FULL = 119,    /* Fixed-length array is full */
  VLT_ERR_NOT_NULL = 120,      /* Expected NULL pointer */
  VLT_ERR_NULL_IPWSTATE = 121, /* Pointer to pIPWState was NULL */
  VLT_ERR_NULL_IPSTATE = 122,  /* Pointer to pIPState was NULL */

  VLT_ERR_PIXR_BYTE_ORDER = 1000,
  VLT_ERR_PIXR_DEPTH = 1001,
  VLT_ERR_PIXR_CHANNELS = 1002,
  VLT_ERR_PIXR_NULL = 1003,
  VLT_ERR_PIXR_FRAME = 1004,
  VLT_ERR_PIXR_RESOLUTION = 1005,
  VLT_ERR_PIXR_COLORMAP = 1006,

  VLT_ERR_IO_READ = 2000,
  VLT_ERR_IO_WRITE = 2001,     /* a sink that wrote short */
  VLT_ERR_IO_SEEK = 2002,
  VLT_ERR_IO_LENGTH = 2003,    /* data ending early */
  VLT_ERR_IO_PIPE = 2004,
  VLT_ERR_IO_EARLY_END = 2005,
  VLT_ERR_IO_TILES = 2006,
  VLT_ERR_IO_NOT_G4 = 2007,
  VLT_ERR_IO_STRIP = 2008,

  VLT_ERR_STREL_NO_MANAGER = 4001,  /* no structuring-element manager */
  VLT_ERR_STREL_BAD_ID = 4003,      /* structuring-element id outside the slot table */
  VLT_ERR_STREL_EMPTY_SLOT = 4004,  /* no element built for that id */

  VLT_ERR_APPS_DIMENSIONS = 7005, /* Wrong dimensions specified */

  VLT_ERR_FILE_NOT_FOUND = 10000,
  VLT_ERR_VLT_OVERFLOW = 10001,
  VLT_ERR_DIDEVA = 10002,      /* a failure inside the image core, forwarded by the engine */
  VLT_ERR_ASSERT = 10003,      /* an inconsistent handle or argument */
  VLT_ERR_COMMAND_LINE = 10004,
  VLT_ERR_VLT_NOMEM = 10005,
  VLT_ERR_CONSISTENCY = 10006,

  VLT_ERRNO_BASE = 12000,      /* 12000 + errno */

  VLT_CODE_UNDEFINED = -1,
  VLT_CODE_WARNING = -2,       /* printer prefix "Warning -- " */
  VLT_CODE_REPORT = -3         /* printer prefix "Report -- " */
};

/* The static text of a status code; never null, never to be freed. */
MONO_API const char* Vlt_getErrStr(VltStatus code);

#endif
