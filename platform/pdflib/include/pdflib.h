#ifndef PDFLIB_H
#define PDFLIB_H

// The imaging engine's PDF library: documents opened for writing or reading, their objects and
// streams, pages, images with their filters, colour spaces and masks, content operator lists,
// resources, outlines and document information on the writing side; pages, objects, stream data
// (as stored and decoded), images and a content-stream parser with its graphics state, operator
// and event callbacks on the reading side.
//
// Results: calls that answer a status give 1 for success and 0 for failure; the reason is kept as
// the document's error text (PDFErrorText). Objects (PDFObj) belong to their document: they stay
// valid until PDFFreeObject or until the document is closed. Texts and buffers handed to the
// caller come from the engine allocator (kvng_internal_calloc) and go back with
// kvng_internal_free, unless a call says they are borrowed.
//
// Streams: data appended with PDFAppendStream are raw samples (or text) that the library codes
// through the stream's filters when the document is written; data appended with
// PDFAppendPrecompressedStream are taken as already coded with them. One stream takes one kind.
// PDFSetStreamFilter adds a filter that codes after those set before it, so the filters are set
// in coding order (DCT then Flate gives /Filter [/FlateDecode /DCTDecode]).

#include <stddef.h>
#include <stdint.h>

#include "kvng_sb.h"
#include "mono_export.h"

#ifdef __cplusplus
extern "C" {
#endif

struct SState;
struct TokParams;
struct VltApiOptions;

typedef struct PDFObj PDFObj;
typedef struct PDFDocImpl PDFDocImpl;
typedef struct PDFParser PDFParser;

/* ---- Codes ---- */

/* Errors of PDFOpenFilenameEx and the document error record. */
enum {
  PDF_ERR_NONE = 0,
  PDF_ERR_MEMORY = 1,        /* memory ran out */
  PDF_ERR_OPEN = 2,          /* the file cannot be opened or created */
  PDF_ERR_DAMAGED = 3,       /* not a PDF, or damaged beyond repair */
  PDF_ERR_ARGUMENT = 4,      /* a missing or unusable argument */
  PDF_ERR_SYNTAX = 5,        /* content or object syntax; what a callback reports */
  PDF_ERR_UNSUPPORTED = 6,   /* a feature this library does not have */
  PDF_ERR_PASSWORD = 8,      /* encrypted, and the password does not open it */
};

/* Object kinds, also the operand types of the parser. */
enum {
  PDF_OBJ_NONE = 0,
  PDF_OBJ_NULL = 1,
  PDF_OBJ_BOOLEAN = 2,
  PDF_OBJ_INTEGER = 3,
  PDF_OBJ_REAL = 4,
  PDF_OBJ_STRING = 5,
  PDF_OBJ_NAME = 6,
  PDF_OBJ_ARRAY = 7,
  PDF_OBJ_DICT = 8,
  PDF_OBJ_STREAM = 9,
  PDF_OBJ_INLINE_IMAGE = 10,
};

/* Colour-space kinds: what PDFSetImageColorSpace takes (0 to 6 and PDF_CS_SRGB) and what the
   reader reports. */
enum {
  PDF_CS_DEVICE_GRAY = 0,
  PDF_CS_DEVICE_RGB = 1,
  PDF_CS_DEVICE_CMYK = 2,
  PDF_CS_CAL_GRAY = 3,
  PDF_CS_CAL_RGB = 4,
  PDF_CS_LAB = 5,
  PDF_CS_ICC = 6,
  PDF_CS_INDEXED = 7,
  PDF_CS_DEVICE_N = 8,
  PDF_CS_CAL_CMYK = 9,
  PDF_CS_PATTERN = 10,
  PDF_CS_SEPARATION = 11,
  PDF_CS_SRGB = 12,          /* ICCBased over the engine's sRGB profile, written only */
};

/* Stream filters. */
enum {
  PDF_FILTER_NONE = 0,
  PDF_FILTER_ASCII85 = 1,    /* the engine's "ASCII" coding */
  PDF_FILTER_LZW = 2,
  PDF_FILTER_FLATE = 3,
  PDF_FILTER_RUN_LENGTH = 4,
  PDF_FILTER_CCITT = 5,
  PDF_FILTER_JBIG2 = 6,
  PDF_FILTER_DCT = 7,
  PDF_FILTER_ASCII_HEX = 8,
};

/* Content operators, as the parser reports them (0: an operator it does not know). */
enum {
  PDF_OP_UNKNOWN = 0,
  PDF_OP_b = 1, PDF_OP_B = 2, PDF_OP_bstar = 3, PDF_OP_Bstar = 4, PDF_OP_BDC = 5, PDF_OP_BI = 6,
  PDF_OP_BMC = 7, PDF_OP_BT = 8, PDF_OP_BX = 9, PDF_OP_c = 10, PDF_OP_CS = 11, PDF_OP_Do = 12,
  PDF_OP_cs = 13, PDF_OP_d = 14, PDF_OP_TJ = 15, PDF_OP_d0 = 16, PDF_OP_d1 = 17, PDF_OP_DP = 18,
  PDF_OP_EI = 19, PDF_OP_EMC = 20, PDF_OP_EX = 21, PDF_OP_f = 22, PDF_OP_F = 23, PDF_OP_Q = 24,
  PDF_OP_fstar = 25, PDF_OP_G = 26, PDF_OP_g = 27, PDF_OP_gs = 28, PDF_OP_h = 29, PDF_OP_Td = 30,
  PDF_OP_Tj = 31, PDF_OP_Tm = 32, PDF_OP_i = 33, PDF_OP_ET = 34, PDF_OP_TD = 35, PDF_OP_Tf = 36,
  PDF_OP_Tz = 37, PDF_OP_TL = 38, PDF_OP_ID = 39, PDF_OP_j = 40, PDF_OP_Tr = 41, PDF_OP_J = 42,
  PDF_OP_K = 43, PDF_OP_k = 44, PDF_OP_l = 45, PDF_OP_m = 46, PDF_OP_cm = 47, PDF_OP_M = 48,
  PDF_OP_MP = 49, PDF_OP_RG = 50, PDF_OP_rg = 51, PDF_OP_ri = 52, PDF_OP_s = 53, PDF_OP_S = 54,
  PDF_OP_SC = 55, PDF_OP_sc = 56, PDF_OP_SCN = 57, PDF_OP_scn = 58, PDF_OP_sh = 59, PDF_OP_Tstar = 60,
  PDF_OP_Tc = 61, PDF_OP_Ts = 62, PDF_OP_n = 63, PDF_OP_q = 64, PDF_OP_re = 65, PDF_OP_Tw = 66,
  PDF_OP_v = 67, PDF_OP_w = 68, PDF_OP_W = 69, PDF_OP_Wstar = 70, PDF_OP_y = 71, PDF_OP_quote = 72,
  PDF_OP_dquote = 73,
  PDF_OP_COUNT = 74,
};

/* Events sent to event callbacks during PDFExtractPageItems. */
enum {
  PDF_EVENT_CONTENT_END = 2010,   /* the page's content has been run to its end */
  PDF_EVENT_EXTRACT_END = 2011,   /* the extraction is over (also after a failure) */
};

/* Resource kinds of PDFResourceEntry. */
enum { PDF_RES_FONT = 12 };

/* Error text capacity of the error record. */
enum { PDF_ERROR_TEXT_MAX = 512 };

/* ---- Records ---- */

/* The first failure of a content extraction (or of a document call that records one). */
typedef struct PDFErrorRecord {
  int32_t code;              /* PDF_ERR_*; 0 when nothing is recorded */
  const char* file;          /* where it was recorded (static text), or null */
  int32_t line;
  char message[PDF_ERROR_TEXT_MAX];
} PDFErrorRecord;

typedef struct PDFDoc {
  PDFErrorRecord error;
  const char* filename;      /* the name the document was opened under (borrowed) */
  int32_t writing;           /* opened for writing */
  int32_t fontCount;         /* fonts written so far; kept by the writer's callers */
  PDFDocImpl* impl;
} PDFDoc;

/* A colour space as the reader understands it. */
typedef struct PDFColorSpace {
  int32_t kind;              /* PDF_CS_* */
  int32_t components;        /* of the space's colour values (1 for Indexed) */
  int32_t hasWhitePoint;
  double whitePoint[3];
  int32_t gammaCount;        /* 0, 1 (CalGray) or 3 (CalRGB) */
  double gamma[3];
  int32_t hasMatrix;
  double matrix[9];
  int32_t hasRange;
  double range[4];           /* Lab a and b ranges */
  int32_t hasAlternate;      /* ICCBased with an /Alternate entry */
  struct PDFColorSpace* base;   /* Indexed base, ICCBased or Separation/DeviceN alternate, or null */
  PDFObj* iccProfile;        /* ICCBased: the profile stream */
  int32_t highValue;         /* Indexed */
} PDFColorSpace;

/* A colour of the graphics state. */
enum { PDF_COLOR_MAX = 32 };
typedef struct PDFColor {
  int32_t space;             /* PDF_CS_* of the colour's space */
  int32_t count;             /* components in values */
  double values[PDF_COLOR_MAX];
  const PDFColorSpace* colorSpace;   /* the full space (borrowed, may be null for device spaces) */
} PDFColor;

/* The graphics state the parser keeps: q saves it, Q restores it, cm concatenates. */
typedef struct PDFGState {
  double ctm[6];             /* a b c d e f */
  PDFColor fill;             /* non-stroking */
  PDFColor stroke;
  double lineWidth;
} PDFGState;

/* One operand of the operator being reported. */
typedef struct PDFOperand {
  int32_t type;              /* PDF_OBJ_* */
  int32_t intValue;          /* integers; booleans 0 or 1 */
  double realValue;          /* reals, and integers as doubles */
  int32_t length;            /* strings and names: bytes of text; arrays: elements */
  const char* text;          /* strings: their bytes (zero-terminated); names: without the slash;
                                arrays: the text of their strings, escaped for a literal string */
  PDFObj* object;            /* arrays and dictionaries: the operand as an object, else null */
} PDFOperand;

struct PDFParser {
  PDFDoc* doc;
  int32_t pageIndex;         /* zero-based */
  PDFObj* page;              /* the page dictionary */
  PDFObj* resources;         /* current resource dictionary (the form's inside a form), or null */
  PDFObj* xobjects;          /* its /XObject dictionary, or null */
  PDFObj* fonts;             /* its /Font dictionary, or null */
  PDFGState* gstate;         /* current graphics state */
  int32_t operatorCode;      /* PDF_OP_* of the operator being reported */
  const char* operatorName;
  int32_t operandCount;      /* operands not yet popped; operands[0] is the first (deepest) */
  PDFOperand* operands;
  void* impl;
};

/* An image XObject as the reader sees it; owned by the document. */
typedef struct PDFImage {
  PDFObj* stream;
  int32_t width;
  int32_t height;
  int32_t bitsPerComponent;
  int32_t imageMask;
  int32_t separations;       /* components of the colour space (1 for masks) */
  PDFColorSpace* colorSpace; /* null for stencil masks or a space the library cannot read */
} PDFImage;

/* A resource handed to PDFPageAddResources and kept by the resource manager. */
typedef struct PDFResourceEntry {
  int32_t kind;              /* PDF_RES_FONT */
  int32_t reserved1;         /* -1 */
  int32_t reserved2;         /* -1 */
  int32_t reserved3;
  int32_t reserved4;         /* 0 */
  int32_t reserved5;         /* 0 */
  const char* baseFont;      /* borrowed by the calls; the resource manager keeps copies */
  const char* name;          /* resource name on the page */
  PDFObj* dict;              /* the resource's (indirect) dictionary */
} PDFResourceEntry;

/* Callbacks: 1 lets the extraction go on, 0 stops it. */
typedef int (*PDFOperatorCallback)(PDFDoc* doc, void* data, PDFParser* parser);
typedef int (*PDFEventCallback)(PDFDoc* doc, void* data, PDFParser* parser, int32_t event);

/* ---- Documents ---- */

/* Opens name for reading (mode 'r', with password when it is encrypted) or for writing (any other
   mode; the file is created now and written by PDFCloseFile). The document, or null with *error
   set (PDF_ERR_PASSWORD when the password does not open it; PDF_ERR_UNSUPPORTED, with the
   reason through the engine printer, when its page tree is beyond the document budget). */
MONO_API PDFDoc* PDFOpenFilenameEx(const char* name, int mode, const char* password, int32_t* error);
/* Opens size bytes of memory (copied) for reading. */
MONO_API PDFDoc* PDFOpenMemoryEx(const void* bytes, size_t size, const char* password, int32_t* error);
/* Writes a document opened for writing (test mode: IDs that depend only on the content) and
   frees the document, also on failure; 1 or 0 (reason through the engine printer). */
MONO_API int PDFCloseFile(PDFDoc* doc, int testMode);
/* Judges a document being written, before it is closed, by the PDF/A-1 rules its objects show:
   output intent with an ICC version 2 profile, identification in the metadata, no encryption, no
   transparency, JPEG 2000, LZW or interpolation, and every font that shows text (outside
   rendering mode 3) embedded. 1, or 0 with the first rule broken as the reason. */
MONO_API int PDFCheckArchive(PDFDoc* doc);
/* The reason of the last failing call ("" when none). */
MONO_API const char* PDFErrorText(const PDFDoc* doc);
/* Records a failure in the error record when none is recorded yet; returns 0. */
MONO_API int PDFSetError(PDFDoc* doc, int32_t code, const char* file, int32_t line, const char* format, ...)
    __attribute__((format(printf, 5, 6)));
MONO_API void PDFClearError(PDFDoc* doc);
/* Damage the library repaired while reading (a rebuilt cross-reference table, recovered objects,
   stream lengths): the number of reports so far, and report index as "object O G, offset N: what"
   (borrowed; the first 100 are kept). A document read without repair has none. */
MONO_API int32_t PDFGetWarningCount(PDFDoc* doc);
MONO_API const char* PDFGetWarningText(PDFDoc* doc, int32_t index);
/* Output version: 13 to 17 (PDF 1.3 to 1.7). */
MONO_API int PDFSetVersion(PDFDoc* doc, int32_t version);
/* The document catalog. */
MONO_API PDFObj* PDFGetCatalog(PDFDoc* doc);
/* Adds text entries to the document information: key, value pairs closed by a null key. */
MONO_API int PDFAddInfoDict(PDFDoc* doc, ...);
/* Writes every object of the document as text into path. */
MONO_API int PDFObjsToFile(PDFDoc* doc, const char* path);

/* ---- Pages ---- */

/* A new last page (a page dictionary with empty resources and an empty content stream). */
MONO_API PDFObj* PDFAddPage(PDFDoc* doc);
/* The pages in order: a new array (engine allocator) and their number in *count; null on failure. */
MONO_API PDFObj** PDFGetPageList(PDFDoc* doc, int32_t* count);
/* The page dictionary of a page handle of this document, or null. */
MONO_API PDFObj* PDFFindPage(PDFDoc* doc, PDFObj* page);
/* The indirect object that obj is or refers to (the object itself when it is one), or null. */
MONO_API PDFObj* PDFFindIndirectObject(PDFDoc* doc, PDFObj* obj, int32_t flags);
MONO_API int PDFPageAddMediaBox(PDFDoc* doc, PDFObj* page, double x0, double y0, double x1, double y1);
/* The page's /MediaBox array (inherited when the page has none), or null. */
MONO_API PDFObj* PDFGetPgMediaBox(PDFDoc* doc, PDFObj* page);
/* Takes a page of a document being written out of it again (its objects are no longer written);
   1, or 0 when it is not a page of this document. */
MONO_API int PDFDeletePage(PDFDoc* doc, PDFObj* page);
/* Ends a page: its content is final. The data of its streams (and of every other stream that
   holds its data) are coded now, kept in a temporary file until the document is written, and
   cannot change afterwards. */
MONO_API int PDFPageClose(PDFDoc* doc, PDFObj* page);
/* Appends painting operations to the page content: operator names, each followed by its operands,
   closed by a null name. Operands by operator: "cm" six doubles; "w" one double; "g" and "G"
   one int, "rg" and "RG" three ints, "k" and "K" four ints, each 0 to 255 (written as n/255);
   "re" four ints (points); "f", "S", "n", "q", "Q" none; "CUS" one text written as it is. With an
   image the list is wrapped as q <operations> /Name Do Q, so the image is painted under them. */
MONO_API int PDFPageAddContents(PDFDoc* doc, PDFObj* page, PDFObj* image, ...);
/* Appends content text as it is (a blank separates it from what came before). */
MONO_API int PDFPageAddContentString(PDFDoc* doc, PDFObj* page, const char* text);
/* Adds a resource to the page's resources (fonts under /Font by entry name). */
MONO_API int PDFPageAddResources(PDFDoc* doc, PDFObj* page, const PDFResourceEntry* entry);
/* Named calibrated colour spaces in the page's /ColorSpace resources. */
MONO_API int PDFPageAddRGBColorSpace(PDFDoc* doc, PDFObj* page, const char* name, const double whitePoint[3],
                                     const double matrix[9], const double gamma[3]);
MONO_API int PDFPageAddGrayColorSpace(PDFDoc* doc, PDFObj* page, const char* name, const double whitePoint[3],
                                      double gamma);
/* A standard Type1 font under resName in the page's resources (one dictionary per base font). */
MONO_API int PDFFontCreateRefed(PDFDoc* doc, PDFObj* page, const char* baseFont, const char* resName);
/* An outline item that opens the page target (a page dictionary). */
MONO_API int PDFAddBookmark(PDFDoc* doc, PDFObj* target);

/* ---- Resource manager ---- */

/* The entry kept under a source id, or null (borrowed). */
MONO_API PDFResourceEntry* PDFResMgrFindObj(PDFDoc* doc, const char* sourceId);
/* Keeps a copy of the entry under the source id (replacing one kept before). */
MONO_API int PDFResMgrAssign(PDFDoc* doc, const char* sourceId, const PDFResourceEntry* entry);

/* ---- Objects ---- */

MONO_API PDFObj* PDFCreateDict(PDFDoc* doc);
MONO_API PDFObj* PDFCreateArray(PDFDoc* doc);
/* A name (without the slash). */
MONO_API PDFObj* PDFCreateName(PDFDoc* doc, const char* name);
MONO_API PDFObj* PDFCreateInteger(PDFDoc* doc, int32_t value);
MONO_API PDFObj* PDFCreateReal(PDFDoc* doc, double value);
/* A string of length bytes (length < 0: up to the terminating zero). */
MONO_API PDFObj* PDFCreateString(PDFDoc* doc, const char* bytes, int32_t length);
/* A new empty stream (indirect). */
MONO_API PDFObj* PDFCreateStream(PDFDoc* doc);
MONO_API int PDFAddArrayObject(PDFDoc* doc, PDFObj* array, PDFObj* obj);
/* Sets key (without the slash) of a dictionary or of a stream's dictionary. */
MONO_API int PDFAddDictEntry(PDFDoc* doc, PDFObj* dict, const char* key, PDFObj* value);
MONO_API int PDFRemoveDictEntry(PDFDoc* doc, PDFObj* dict, const char* key);
/* Makes obj an indirect object; the handle then refers to it. */
MONO_API int PDFMakeObjectIndirect(PDFDoc* doc, PDFObj* obj);
/* Object number of an indirect object (0 for a direct one); *generation when asked. */
MONO_API int32_t PDFGetObjectNumber(PDFDoc* doc, PDFObj* obj, int32_t* generation);
/* Lets go of a handle early (objects in the document stay). */
MONO_API void PDFFreeObject(PDFDoc* doc, PDFObj* obj);

/* Reading objects; references are followed. */
MONO_API int32_t PDFObjectKind(PDFDoc* doc, PDFObj* obj);
/* Entry key (without the slash) of a dictionary or stream dictionary, or null. */
MONO_API PDFObj* PDFGetDictEntry(PDFDoc* doc, PDFObj* dict, const char* key);
/* The keys of a dictionary, sorted: count, and key i (borrowed until the next call on the handle,
   without the slash). */
MONO_API int32_t PDFGetDictCount(PDFDoc* doc, PDFObj* dict);
MONO_API const char* PDFGetDictKey(PDFDoc* doc, PDFObj* dict, int32_t index);
MONO_API int32_t PDFGetArrayCount(PDFDoc* doc, PDFObj* array);
MONO_API PDFObj* PDFGetArrayObject(PDFDoc* doc, PDFObj* array, int32_t index);
/* The indirect object number generation of a document read, or null when it has none. */
MONO_API PDFObj* PDFGetObjectByID(PDFDoc* doc, int32_t number, int32_t generation);
/* The object a reference refers to (a direct object is its own). */
MONO_API PDFObj* PDFLoadObject(PDFDoc* doc, PDFObj* obj);
MONO_API int PDFGetInteger(PDFDoc* doc, PDFObj* obj, int32_t* value);
/* Reals, and integers converted. */
MONO_API int PDFGetReal(PDFDoc* doc, PDFObj* obj, double* value);
MONO_API int PDFGetBoolean(PDFDoc* doc, PDFObj* obj, int32_t* value);
/* A new text (engine allocator) with a string's bytes or a name without its slash, or null. */
MONO_API char* PDFStringToCString(PDFDoc* doc, PDFObj* obj);
/* 1 when a string or name has exactly that text. */
MONO_API int PDFStringTestCString(PDFDoc* doc, PDFObj* obj, const char* text);
/* The object written as PDF text (borrowed, valid until the handle goes). */
MONO_API const char* PDFObjectText(PDFDoc* doc, PDFObj* obj);

/* ---- Streams ---- */

MONO_API int PDFAppendStream(PDFDoc* doc, PDFObj* stream, const void* bytes, size_t length);
MONO_API int PDFAppendPrecompressedStream(PDFDoc* doc, PDFObj* stream, const void* bytes, size_t length);
/* Adds a filter (PDF_FILTER_*), then its parameters as (key, int value) pairs closed by a null key:
   CCITT "K", "Columns", "Rows", "BlackIs1", "EncodedByteAlign"; DCT "Quality" (coding only),
   "ColorTransform"; LZW and Flate "Predictor", "BitsPerComponent", "Colors", "Columns",
   "EarlyChange"; JBIG2 "JBIG2GlobalsRef" (object number of the globals stream). */
MONO_API int PDFSetStreamFilter(PDFDoc* doc, PDFObj* stream, int32_t filter, ...);
/* Filters set on (or stored with) a stream. */
MONO_API int32_t PDFGetStreamFilterCount(PDFDoc* doc, PDFObj* stream);
/* The stream's bytes as stored, decoded through every filter, or as stored: in the stream's own
   buffer (borrowed, read position 0), or null when they cannot be had (a filter this library
   does not decode, damaged data). PDFReadStreamData is PDFGetCompressedStreamData. */
MONO_API KVngSB* PDFReadStreamData(PDFDoc* doc, PDFObj* stream);
MONO_API KVngSB* PDFGetStreamData(PDFDoc* doc, PDFObj* stream);
MONO_API KVngSB* PDFGetCompressedStreamData(PDFDoc* doc, PDFObj* stream);
/* Frees the stream's buffer once its bytes have been copied: the handle of an image's stream
   lives as long as the document, and so would every page's data with it. */
MONO_API void PDFReleaseStreamData(PDFDoc* doc, PDFObj* stream);

/* ---- Images (writing) ---- */

/* An image XObject of the page's resources under name (no page: none). */
MONO_API PDFObj* PDFImageCreate(PDFDoc* doc, PDFObj* page, const char* name, int32_t width, int32_t height,
                                int32_t bitsPerComponent);
/* mask given: the image's soft mask (made DeviceGray); no mask: the image becomes a stencil mask. */
MONO_API int PDFImageSetMask(PDFDoc* doc, PDFObj* image, PDFObj* mask);
/* Decode [lo hi] for every component. */
MONO_API int PDFSetImageDecode(PDFDoc* doc, PDFObj* image, double lo, double hi);
/* PDF_CS_DEVICE_* , CAL_* (D65 white point until calibrated), LAB (D50), ICC (profile to follow),
   SRGB. */
MONO_API int PDFSetImageColorSpace(PDFDoc* doc, PDFObj* image, int32_t space);
/* Calibration of a Cal or Lab colour space set before: each part when given. */
MONO_API int PDFSetImageCalInfo(PDFDoc* doc, PDFObj* image, const double* whitePoint, const double* gamma,
                                int32_t gammaCount, const double* matrix, const double* range);
/* An ICC profile stream that becomes the image's ICCBased colour space. */
MONO_API PDFObj* PDFAddICCProfile(PDFDoc* doc, PDFObj* image);
/* /N and /Alternate (a device space) of a profile stream. */
MONO_API int PDFSetICCInfo(PDFDoc* doc, PDFObj* profile, int32_t components, int32_t alternate);
MONO_API int PDFAppendICCData(PDFDoc* doc, PDFObj* profile, const void* bytes, size_t length);

/* ---- Images (reading) ---- */

/* The image of an image XObject, or null for anything else (owned by the document). */
MONO_API PDFImage* PDFStreamToImage(PDFDoc* doc, PDFObj* xobject);
/* Decode array values (up to capacity copied); their number, 0 without one. */
MONO_API int32_t PDFImageGetDecode(PDFDoc* doc, PDFImage* image, double* values, int32_t capacity);
MONO_API int32_t PDFGetImageBits(PDFDoc* doc, PDFImage* image);
MONO_API int PDFImageIsImageMask(PDFDoc* doc, PDFImage* image);
/* The JBIG2Globals stream of a JBIG2 image, or null. */
MONO_API PDFObj* PDFGetImageJBIG2Globals(PDFDoc* doc, PDFImage* image);
/* The colour space an object names or is (a resource name is looked up in resources), or null. */
MONO_API PDFColorSpace* PDFGetColorSpace(PDFDoc* doc, PDFObj* spec, PDFObj* resources);

/* ---- Content parsing ---- */

/* The operator callback of an operator code (replacing one registered before; null removes it). */
MONO_API int PDFRegisterOperatorCallback(PDFDoc* doc, int32_t code, PDFOperatorCallback callback, void* data);
/* A further callback of an operator, called after the registered one. */
MONO_API int PDFAddOperatorCallback(PDFDoc* doc, int32_t code, PDFOperatorCallback callback, void* data);
/* Event callbacks; registering the same callback and data again changes nothing. */
MONO_API int PDFRegisterEventCallback(PDFDoc* doc, PDFEventCallback callback, void* data);
MONO_API int PDFUnRegisterEventCallback(PDFDoc* doc, PDFEventCallback callback, void* data);
/* Runs the content of page pageIndex (its dictionary pageDict) through the graphics state and the
   callbacks; every callback and event registration ends with it. 1, or 0 with the error record
   set. */
MONO_API int PDFExtractPageItems(PDFDoc* doc, int32_t pageIndex, PDFObj* pageDict);
/* Runs a form XObject's content inside the current one (its own resources, matrix and graphics
   state), from an operator callback. */
MONO_API int PDFExtractFormItems(PDFDoc* doc, PDFObj* form, PDFParser* parser, PDFObj* pageDict);
/* Operand pops from the top; *status becomes 0 when the top is missing or of another type. A
   popped name is a new text (engine allocator). */
MONO_API char* PDFPopNameOperand(PDFParser* parser, int* status);
MONO_API double PDFPopRealOperand(PDFParser* parser, int* status);
/* Drops every remaining operand; 1. */
MONO_API int PDFPopOperandStack(PDFParser* parser);
/* The name of an operator code, or null. */
MONO_API const char* PDFOperatorName(int32_t code);

/* ---- Metadata ---- */

/* An XMP packet around metadata text (RDF), or null. */
MONO_API char* PDFWt_InsertMetaDataStr(struct SState* state, const char* text);
/* XMP for the document information, with its packet header and trailer, or without them. */
MONO_API char* PDFWt_MetaDataStr(const char* date, const char* creator, const char* producer);
MONO_API char* PDFWt_MetaDataStr_noPacketHeader(const char* date, const char* creator, const char* producer);

/* ---- JBIG2 coding of raw 1-bit image streams ----
   A raw 1-bit image stream is handed over after its bytes are appended; the pages of a section
   share one symbol dictionary. The coding itself is the token engine's: an installed coder, or
   else libmonocodec's engine API bound by name from the "monocodec" plug-in (an engine run per
   section, so each section's globals and pages stand alone); without either these calls fail
   with an error text that says so. */

/* The engine's coder as the library drives it: a handle per coding setup, a section at a time. */
typedef struct PDFJbig2Engine {
  /* Starts a coder: Huffman (options given) or arithmetic (options null); params null for the
     engine's own classifier defaults. Both records are read during the call only. A handle, or
     null. */
  void* (*open)(const struct VltApiOptions* options, const struct TokParams* params);
  /* Adds a page of packed rows (MSB first, 1 black); 1 or 0. */
  int (*addPage)(void* handle, const unsigned char* rows, int32_t width, int32_t height, int32_t rowBytes);
  /* Ends the section: the symbol dictionary bytes (engine allocator); 1 or 0. */
  int (*endSection)(void* handle, unsigned char** dict, size_t* dictLength);
  /* The next page's data of the ended section (engine allocator); 1 or 0. */
  int (*pageData)(void* handle, unsigned char** data, size_t* length);
  void (*close)(void* handle);
} PDFJbig2Engine;

/* Installs the engine's coder (null: none) for the coding setups that start from now on; a
   document whose coder is running keeps it until its section ends. */
MONO_API void PDFJbig2SetEngine(const PDFJbig2Engine* engine);
MONO_API int PDFJbig2Init(PDFDoc* doc, const struct VltApiOptions* options, const struct TokParams* params);
MONO_API int PDFJbig2InitArith(PDFDoc* doc, const struct TokParams* params);
MONO_API int PDFJbig2TokenizeStream(PDFDoc* doc, PDFObj* stream);
MONO_API int PDFJbig2EndSection(PDFDoc* doc);
MONO_API int PDFJbig2End(PDFDoc* doc);

#ifdef __cplusplus
}
#endif

#endif
