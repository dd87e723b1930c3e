// The members of TRANSFORMSPEC: filling a spec from script arguments (setRasterSpec,
// setPageSpec), isMRC, attributes, and the tests that tell which steps turn a page into a target.

#include <algorithm>
#include <cstring>
#include <utility>

#include "dio_transform_internal.h"

namespace {

using namespace dio::ts;

constexpr const char* methods_name = "TransformSpecMethods";
constexpr const char* segment_config = "\"orvel/orvelNlc.cfg\"";
constexpr const char* segment_config_no_bilevel_coding = "\"orvel/orvelNl.cfg\"";

elf_state* state_of(void* target, elf_object* args) {
  if (args) return args->state;
  return target ? static_cast<elf_object*>(target)->state : nullptr;
}

int invalid(elf_state* state, const char* format, const char* who) {
  return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, format, who);
}

int no_memory(elf_state* state, const char* who) {
  return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: Unable to build the result\n", who);
}

// An optional argument scanned alone: true when it was given (and had the right type).
template <class T>
bool optional_arg(elf_object* args, const char* name, const char* spec, T* place, bool* bad) {
  if (!has_arg(args, name)) return false;
  if (lstScanArgs(args, spec, LST_OPTIONAL, place, LST_END)) return true;
  *bad = true;
  return false;
}

// ---- setRasterSpec, setPageSpec, isMRC ----

struct RasterArgs {
  int32_t disallow = 0, maxXRes = 0, maxYRes = 0, photometry = 0, compression = 0, jpegquality = 0,
          jbig2arith = 0, interleave = 0, width = 0, height = 0;
  bool has_maxXRes = false, has_maxYRes = false, has_photometry = false, has_compression = false,
       has_jpegquality = false, has_jbig2arith = false, has_interleave = false, has_width = false,
       has_height = false;
};

bool scan_raster_args(elf_object* args, RasterArgs* a) {
  bool bad = false;
  optional_arg(args, "disallow", "disallow:b", &a->disallow, &bad);
  a->has_maxXRes = optional_arg(args, "maxXRes", "maxXRes:i", &a->maxXRes, &bad);
  a->has_maxYRes = optional_arg(args, "maxYRes", "maxYRes:i", &a->maxYRes, &bad);
  a->has_photometry = optional_arg(args, "photometry", "photometry:i", &a->photometry, &bad);
  a->has_compression = optional_arg(args, "compression", "compression:i", &a->compression, &bad);
  a->has_jpegquality = optional_arg(args, "jpegquality", "jpegquality:i", &a->jpegquality, &bad);
  a->has_jbig2arith = optional_arg(args, "jbig2arith", "jbig2arith:b", &a->jbig2arith, &bad);
  a->has_interleave = optional_arg(args, "interleave", "interleave:i", &a->interleave, &bad);
  a->has_width = optional_arg(args, "width", "width:i", &a->width, &bad);
  a->has_height = optional_arg(args, "height", "height:i", &a->height, &bad);
  return !bad;
}

// ---- The tests' common frame ----

// Where a test's results go: the list already in the caller's place, or one made for it.
class Results {
 public:
  Results(elf_state* state, elf_object** place) : place_(place) {
    if (place && elfIsType(*place, "LIST")) {
      list_ = *place;
    } else {
      list_ = new_LIST(state, nullptr, nullptr);
      made_ = list_ != nullptr;
      if (made_ && place) *place = list_;
    }
  }
  ~Results() {
    if (made_ && !place_) elfDiscard(list_);
  }
  Results(const Results&) = delete;
  Results& operator=(const Results&) = delete;
  elf_object* list() const { return list_; }

 private:
  elf_object** place_;
  elf_object* list_ = nullptr;
  bool made_ = false;
};

// T is the record of the spec asked (the target), S that of the page's spec (the source).
struct Test {
  elf_state* state;
  elf_object* target;
  elf_object* source;
  int32_t pulling;
  const DIOCoreSpec* T;
  const DIOCoreSpec* S;
  elf_object* list;

  elf_object* base() const { return pulling ? target : source; }

  // The result spec of a needed step: a copy of the base whose record *r the test changes. Null
  // with the status reported when the copy cannot be made.
  elf_object* copy(DIOCoreSpec** r) const {
    elf_object* made = copy_TRANSFORMSPEC(base());
    *r = dioCoreSpec(made);
    if (*r) return made;
    elfDiscard(made);
    setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: Unable to copy the specification\n",
              methods_name);
    return nullptr;
  }

  // What a test ends with: appended (all its entries in one call, so all or none) tells whether
  // the list took the results; a result made here that it did not take is released.
  int finish(elf_object* result, bool appended) const {
    if (appended) return QEL_STATUS_OK;
    if (result != base()) elfDiscard(result);
    return no_memory(state, methods_name);
  }
};

void compressions_none(DIOCoreSpec* r) { r->binary.compression = r->contone.compression = QEL_COMPRESSION_NONE; }

// Takes a page to one raster per page with its rasters decoded, as the tests do when pulling.
void flat_decoded(DIOCoreSpec* r) {
  r->affine = 0;
  r->pageMode = DIO_PAGE_FLAT;
  compressions_none(r);
}

// to takes over from's values and photometry list; from is left cleared.
void move_block(DIORasterSpec* to, DIORasterSpec* from) {
  free_list(to->photometries);
  *to = *from;
  *from = DIORasterSpec{};
}

int test_flat(Test& t, elf_object*) {
  const bool needed = t.S->pageMode == DIO_PAGE_MRC && t.T->pageMode == DIO_PAGE_FLAT;
  elf_object* result = t.base();
  DIOCoreSpec* r;
  if (needed) {
    if (!(result = t.copy(&r))) return getStatus(t.state);
    if (t.pulling) {
      compressions_none(r);
    } else {
      r->pageMode = DIO_PAGE_FLAT;
      r->affine = 0;
      r->rotate = 0;
      if (r->contone.depth != 0) clear_block(&r->binary);
    }
  }
  return t.finish(result,
                  lstAppendArgs(t.list, "needed:b", needed, 0, "result:TRANSFORMSPEC", result, 0, LST_END));
}

int test_affine(Test& t, elf_object*) {
  const bool needed = t.T->affine == 0 && t.S->affine != 0;
  elf_object* result = t.base();
  DIOCoreSpec* r;
  if (needed) {
    if (!(result = t.copy(&r))) return getStatus(t.state);
    if (t.pulling) {
      compressions_none(r);
    } else {
      r->rotate = 0;
    }
  }
  return t.finish(result,
                  lstAppendArgs(t.list, "needed:b", needed, 0, "result:TRANSFORMSPEC", result, 0, LST_END));
}

int test_segment(Test& t, elf_object*) {
  const bool needed =
      t.S->contone.depth != 0 && t.S->pageMode == DIO_PAGE_FLAT && t.T->pageMode == DIO_PAGE_MRC;
  const char* config = segment_config;
  elf_object* result = t.base();
  DIOCoreSpec* r;
  if (needed) {
    if (!(result = t.copy(&r))) return getStatus(t.state);
    if (t.pulling) {
      flat_decoded(r);
    } else {
      default_block(&r->binary, 1);
      r->pageMode = DIO_PAGE_MRC;
      r->contone.compression = QEL_COMPRESSION_JPEG;
      const int32_t wanted = t.T->binary.compression;
      if (wanted == QEL_COMPRESSION_G3 || wanted == QEL_COMPRESSION_G4 || wanted == QEL_COMPRESSION_G3_2D) {
        r->binary.compression = QEL_COMPRESSION_G4;
      } else {
        r->binary.compression = QEL_COMPRESSION_NONE;
        config = segment_config_no_bilevel_coding;
      }
    }
  }
  return t.finish(result, lstAppendArgs(t.list, "needed:b", needed, 0, "config:s", config, 0,
                                        "result:TRANSFORMSPEC", result, 0, LST_END));
}

// A size computed in floating point, truncated into what the record's fields hold.
int32_t truncated_size(double v) {
  if (!(v >= 0.0)) return 0;
  return v >= 2147483647.0 ? INT32_MAX : static_cast<int32_t>(v);
}

int test_size(Test& t, elf_object*) {
  const bool source_contone = t.S->contone.depth != 0;
  const DIORasterSpec& from = source_contone ? t.S->contone : t.S->binary;
  const DIORasterSpec& to =
      (!source_contone || t.T->contone.depth == 0) && t.T->binary.depth != 0 ? t.T->binary : t.T->contone;
  double xscale = 1.0, yscale = 1.0;
  int32_t width = 0, height = 0;
  bool xscaled = false, yscaled = false;
  // Within 13 dpi of the maximum a page is taken as fitting.
  if (to.maxXRes + 13.0 < from.maxXRes) {
    xscale = to.maxXRes / from.maxXRes;
    width = truncated_size(xscale * from.width);
    xscaled = true;
  }
  if (to.maxYRes + 13.0 < from.maxYRes) {
    yscale = to.maxYRes / from.maxYRes;
    height = truncated_size(yscale * from.height);
    yscaled = true;
  }
  if (to.width != 0 && to.width != from.width) {
    width = to.width;
    xscale = static_cast<double>(static_cast<uint32_t>(to.width)) / static_cast<uint32_t>(from.width);
  }
  if (to.height != 0 && to.height != from.height) {
    height = to.height;
    yscale = static_cast<double>(static_cast<uint32_t>(to.height)) / static_cast<uint32_t>(from.height);
  }
  const bool needed = xscaled || yscaled || width != 0 || height != 0;
  double xres = from.maxXRes, yres = from.maxYRes;
  elf_object* result = t.base();
  DIOCoreSpec* r;
  if (needed) {
    if (xscaled) xres = to.maxXRes;
    if (yscaled) yres = to.maxYRes;
    if (!(result = t.copy(&r))) return getStatus(t.state);
    if (t.pulling) {
      flat_decoded(r);
    } else {
      DIORasterSpec& b = source_contone ? r->contone : r->binary;
      b.maxXRes = xres;
      b.maxYRes = yres;
      b.width = width;
      b.height = height;
    }
  } else {
    width = from.width;
    height = from.height;
  }
  return t.finish(result, lstAppendArgs(t.list, "needed:b", needed, 0, "sfact:d", std::max(xscale, yscale), 0,
                                        "xsize:i", width, 0, "ysize:i", height, 0, "xres:d", xres, 0, "yres:d",
                                        yres, 0, "result:TRANSFORMSPEC", result, 0, LST_END));
}

int test_depth(Test& t, elf_object* args) {
  int32_t reduce = 0;
  lstScanArgs(args, "reduce:b", LST_OPTIONAL, &reduce, LST_END);
  bool needed;
  int32_t bits;
  if (reduce) {
    needed = static_cast<uint32_t>(t.S->contone.depth) > static_cast<uint32_t>(t.T->contone.depth);
    bits = t.T->contone.depth != 0 ? 8 : 1;
  } else {
    needed = t.T->binary.depth == 0 && t.S->binary.depth == 1;
    bits = 8;
  }
  elf_object* result = t.base();
  DIOCoreSpec* r;
  if (needed) {
    if (!(result = t.copy(&r))) return getStatus(t.state);
    if (reduce && t.pulling) {
      r->affine = 0;
      r->contone.compression = QEL_COMPRESSION_NONE;
      r->pageMode = DIO_PAGE_FLAT;
    } else if (reduce && bits == 8) {
      r->contone.depth = 8;
    } else if (reduce || t.pulling) {
      // The contone raster becomes the binary one.
      move_block(&r->binary, &r->contone);
      r->binary.depth = 1;
      if (t.pulling) {
        r->affine = 0;
        r->pageMode = DIO_PAGE_FLAT;
        r->binary.compression = QEL_COMPRESSION_NONE;
      }
    } else {
      move_block(&r->contone, &r->binary);
      r->contone.depth = 8;
    }
  }
  return t.finish(result, lstAppendArgs(t.list, "needed:b", needed, 0, "tobits:i", needed ? bits : 0, 0,
                                        "result:TRANSFORMSPEC", result, 0, LST_END));
}

// A rotation in degrees snapped to the nearest quarter turn, in -270..270; ties at 45 degrees
// past a quarter turn go toward the lower one.
int64_t snap(int64_t angle) {
  if (angle > 315) return 0;
  if (angle >= 226) return 270;
  if (angle >= 136) return 180;
  if (angle >= 46) return 90;
  if (angle >= -44) return 0;
  if (angle >= -134) return -90;
  if (angle >= -224) return -180;
  if (angle >= -314) return -270;
  return 0;
}

bool quarter_turn(int64_t angle) { return angle == 90 || angle == 270 || angle == -90 || angle == -270; }

int test_orient(Test& t, elf_object* args) {
  int32_t degrees = 0, jpeg_rotate = 0, page_rotate = 0;
  lstScanArgs(args, "degrees:i", LST_OPTIONAL, &degrees, LST_END);
  lstScanArgs(args, "jpRot:b", LST_OPTIONAL, &jpeg_rotate, LST_END);
  lstScanArgs(dioTransformSpec(t.target)->attributes, "IOP_rotate:i", LST_OPTIONAL, &page_rotate, LST_END);
  int64_t angle = snap((int64_t{degrees} + page_rotate) % 360);
  if (t.T->orientation == DIO_ORIENT_PORTRAIT && t.S->orientation == DIO_ORIENT_LANDSCAPE) angle -= 90;
  if (t.T->orientation == DIO_ORIENT_LANDSCAPE && t.S->orientation == DIO_ORIENT_PORTRAIT) angle += 90;
  angle %= 360;
  if (t.S->rotate != 0) {
    angle += t.S->rotate;
    if (angle > 360) angle -= 360;
    angle = -angle;
  }
  const bool both_jpeg =
      t.S->contone.compression == QEL_COMPRESSION_JPEG && t.T->contone.compression == QEL_COMPRESSION_JPEG;
  int64_t amount = angle;
  elf_object* result = t.base();
  DIOCoreSpec* r;
  if (angle != 0) {
    if (!(result = t.copy(&r))) return getStatus(t.state);
    if (t.pulling && !both_jpeg) {
      r->pageMode = DIO_PAGE_FLAT;
      r->affine = 0;
      compressions_none(r);
    }
    if (quarter_turn(angle)) {
      r->orientation = r->orientation == DIO_ORIENT_PORTRAIT ? DIO_ORIENT_LANDSCAPE : DIO_ORIENT_PORTRAIT;
      for (DIORasterSpec* b : {&r->contone, &r->binary}) {
        if (b->depth == 0) continue;
        std::swap(b->maxXRes, b->maxYRes);
        std::swap(b->width, b->height);
      }
    }
    // JPEG data is turned losslessly by quarter turns, counted the other way round.
    if (!t.pulling && both_jpeg) {
      jpeg_rotate = 1;
      amount = -angle / 90;
    }
  }
  // Only a page rotation outside the usual range leaves the amount beyond 32 bits' reach.
  const auto reported = static_cast<int32_t>(std::clamp<int64_t>(amount, INT32_MIN, INT32_MAX));
  return t.finish(result, lstAppendArgs(t.list, "needed:b", amount != 0, 0, "amount:i", reported, 0, "jpRot:b",
                                        jpeg_rotate, 0, "result:TRANSFORMSPEC", result, 0, LST_END));
}

bool fax_only(int32_t compression) { return compression == 16 || compression == 17; }

int test_compress(Test& t, elf_object* args) {
  int32_t decode = 0;
  lstScanArgs(args, "decode:BOOLEAN", LST_OPTIONAL, &decode, LST_END);
  const DIORasterSpec &sc = t.S->contone, &sb = t.S->binary, &tc = t.T->contone, &tb = t.T->binary;
  bool contena, binena;
  if (decode) {
    contena = sc.depth != 0 && tc.compression != DIO_COMPRESSION_ANY && sc.compression != QEL_COMPRESSION_NONE &&
              sc.compression != tc.compression;
    binena = (sb.depth != 0 && tb.compression != DIO_COMPRESSION_ANY && sb.compression != QEL_COMPRESSION_NONE &&
              sb.compression != tb.compression) ||
             (sb.depth != 0 && t.T->format != DIO_FORMAT_TIFF && fax_only(sb.compression));
  } else {
    contena = sc.depth != 0 && sc.compression == QEL_COMPRESSION_NONE && tc.compression != QEL_COMPRESSION_NONE &&
              tc.compression != DIO_COMPRESSION_ANY;
    binena = sb.depth != 0 && sb.compression == QEL_COMPRESSION_NONE && tb.compression != QEL_COMPRESSION_NONE &&
             tb.compression != DIO_COMPRESSION_ANY;
  }
  const bool needed = contena || binena;
  elf_object* info = lstBuildArgs(t.state, "binena:b", binena, 0, "contena:b", contena, 0, LST_END);
  if (!info) return no_memory(t.state, methods_name);
  elf_object* result = t.base();
  DIOCoreSpec* r;
  if (needed) {
    if (!(result = t.copy(&r))) {
      elfDiscard(info);
      return getStatus(t.state);
    }
    bool noted = true;
    if (!decode && !t.pulling) {
      char name[DIO_COMPRESSION_NAME_MAX];
      if (binena) {
        __qelcompressToString(tb.compression, name);
        noted = lstAppendArgs(info, "binalgo:s", name, 0, "jb2algo:i", tb.jbig2arith, 0, LST_END);
      }
      if (noted && contena) {
        __qelcompressToString(tc.compression, name);
        noted = lstAppendArgs(info, "contalgo:s", name, 0, "jpegqual:i", tc.jpegquality, 0, LST_END);
      }
    } else if (!decode) {
      if (binena) r->binary.compression = r->binary.jbig2arith = 0;
      if (contena) r->contone.compression = r->contone.jpegquality = 0;
    } else if (!t.pulling) {
      if (binena) r->binary.compression = QEL_COMPRESSION_NONE;
      if (contena) r->contone.compression = QEL_COMPRESSION_NONE;
    }
    if (!noted) {
      elfDiscard(info);
      return t.finish(result, false);
    }
  }
  const bool appended =
      lstAppendArgs(t.list, "needed:b", needed, 0, "cinfo:LIST", info, 0, "result:TRANSFORMSPEC", result, 0, LST_END);
  if (!appended) elfDiscard(info);
  return t.finish(result, appended);
}

// The seven tests: what each reports and does when a record is missing.
struct TestKind {
  const char* name;
  const char* no_source;          // the source spec argument is missing
  const char* no_source_record;    // the target has a record, the source none
  bool result_without_record;     // the answer without a target record carries the base
  bool config_without_record;
  int (*run)(Test&, elf_object* args);
};

constexpr TestKind test_kinds[] = {
    {"testFlat", "%s:No specifcations provided for flat testing\n",
     "doTestFlat: No core specification for source in flatten test\n", true, false,
     test_flat},
    {"testAffine", "%s:No specifcations provided for flat testing\n",
     "doTestAffine: No core specification for source in affine test\n", true, false,
     test_affine},
    {"testSegment", "%s:No specifcations provided for segmentation testing\n",
     "doTestSeg: No core specification for source in segmentation test\n", true, true,
     test_segment},
    {"testSize", "%s:No specifcations provided for size testing\n",
     "doTestScale: No core specification for source in orientation test\n", false, false,
     test_size},
    {"testDepth", "%s:No specifcations provided for bit depth testing\n",
     "doTestDepth: No core specification for source in bit depth\n", false, false, test_depth},
    {"testOrient", "%s:No specifcations provided for orientation testing\n",
     "doTestOrient: No core specification for source in orientation test\n", false, false, test_orient},
    {"testCompress", "%s:No specifcations provided for compression testing\n",
     "doTestCompress: No core specification for source given for compression test\n", true, false,
     test_compress},
};

int run_test(const TestKind& kind, elf_state* state, elf_object* target, elf_object* args, elf_object** place) {
  const Results results(state, place);
  if (!results.list()) return no_memory(state, methods_name);
  Test t{state, target, nullptr, 0, dioCoreSpec(target), nullptr, results.list()};
  if (!lstScanArgs(args, "inSpec:TRANSFORMSPEC", LST_REQUIRED, &t.source, "pulling:b", LST_OPTIONAL, &t.pulling,
                   LST_END)) {
    return invalid(state, kind.no_source, methods_name);
  }
  if (!t.T) {
    bool ok = lstAppendArgs(t.list, "needed:b", 0, 0, LST_END);
    if (ok && kind.config_without_record) ok = lstAppendArgs(t.list, "config:s", segment_config, 0, LST_END);
    if (ok && kind.result_without_record) ok = lstAppendArgs(t.list, "result:TRANSFORMSPEC", t.base(), 0, LST_END);
    return ok ? QEL_STATUS_OK : no_memory(state, methods_name);
  }
  if (!(t.S = dioCoreSpec(t.source))) {
    return setStatus(state, QEL_STATUS_INVALID, QEL_SEVERITY_ERROR, "%s", kind.no_source_record);
  }
  return kind.run(t, args);
}

// ---- The other members ----

int test_photometry(elf_state* state, elf_TRANSFORMSPEC* spec, elf_object* args, elf_object** result) {
  int32_t code = 0;
  if (!lstScanArgs(args, "photometry:INTEGER", LST_REQUIRED, &code, LST_END)) {
    return invalid(state, "%s:No photometry provided for testing\n", methods_name);
  }
  if (!spec->coreImage) return invalid(state, "%s:No core specification for photometry testing\n", methods_name);
  const DIOCoreSpec* c = dioCoreSpec(&spec->hdr);
  const bool match = c && (list_holds(c->binary.photometries, code) || list_holds(c->contone.photometries, code));
  return dio::give(state, result, lstBuildArgs(state, "isMatch:b", match, 0, LST_END), methods_name);
}

int attributes_list(elf_state* state, elf_TRANSFORMSPEC* spec, elf_object** result) {
  elf_object* list = new_LIST(state, nullptr, nullptr);
  if (list && !append_entry(list, "list", spec->attributes)) {
    elfDiscard(list);
    list = nullptr;
  }
  return dio::give(state, result, list, methods_name);
}

int init_by_image(elf_state* state, elf_TRANSFORMSPEC* spec, elf_object* args) {
  elf_object* image = nullptr;
  if (!lstScanArgs(args, "image:QELIMAGE", LST_REQUIRED, &image, LST_END)) {
    return invalid(state, "%s:No image provided to initialize.\n", methods_name);
  }
  return __createCoreByImage(state, &spec->hdr, image);
}

int match_list(elf_state* state, elf_TRANSFORMSPEC* spec, elf_object* args, elf_object** result) {
  elf_object* candidates = nullptr;
  if (!lstScanArgs(args, "speclist:LIST", LST_REQUIRED, &candidates, LST_END)) {
    return invalid(state, "%s:No matching choices provided\n", methods_name);
  }
  int32_t exact = 0;
  elf_object* near = nullptr;
  __findTransformMatch(state, &spec->hdr, candidates, &exact, &near);
  elf_object* list = lstBuildArgs(state, "exact:b", exact, 0, LST_END);
  if (list && !append_entry(list, "nearmatch", near)) {
    elfDiscard(list);
    list = nullptr;
  }
  return dio::give(state, result, list, methods_name);
}

}  // namespace

int TransformSpecMethods(void* target, elf_object* args, elf_object** result) {
  elf_state* state = state_of(target, args);
  const char* method = nullptr;
  if (!lstScanArgs(args, "CALL_NAME:s", LST_REQUIRED, &method, LST_END)) {
    return invalid(state, "%s:Internal Object Error - No such method\n", methods_name);
  }
  elf_TRANSFORMSPEC* spec = dioTransformSpec(static_cast<elf_object*>(target));
  if (!spec) return invalid(state, "%s:Internal Object Error - the object is not a TRANSFORMSPEC\n", methods_name);
  if (std::strcmp(method, "toList") == 0) return attributes_list(state, spec, result);
  if (std::strcmp(method, "initByImage") == 0) return init_by_image(state, spec, args);
  if (std::strcmp(method, "matchList") == 0) return match_list(state, spec, args, result);
  if (std::strcmp(method, "setAttr") == 0 || std::strcmp(method, "clearAttr") == 0 ||
      std::strcmp(method, "getAttr") == 0) {
    return QELAttributes(&spec->attributes, args, result, method);
  }
  if (std::strcmp(method, "testPhotom") == 0) return test_photometry(state, spec, args, result);
  for (const TestKind& kind : test_kinds) {
    if (std::strcmp(method, kind.name) == 0) return run_test(kind, state, &spec->hdr, args, result);
  }
  return QEL_STATUS_OK;
}

int TransformSpecRasters(void* target, elf_object* args, elf_object** /*result*/) {
  elf_state* state = state_of(target, args);
  constexpr const char* who = "TransformSpecRasters";
  int32_t depth = 0;
  if (!has_arg(args, "maxBitDepth") || !lstScanArgs(args, "maxBitDepth:i", LST_REQUIRED, &depth, LST_END)) {
    return invalid(state, "%s: max bit depth is required\n", who);
  }
  if (depth != 1 && depth != 8 && depth != 24) return invalid(state, "%s: max bit depth must be one of 1, 8, 24\n", who);
  RasterArgs a;
  if (!scan_raster_args(args, &a)) return invalid(state, "%s: Error getting input args\n", who);
  elf_TRANSFORMSPEC* spec = dioTransformSpec(static_cast<elf_object*>(target));
  DIOCoreSpec* c = dioCoreSpec(static_cast<elf_object*>(target));
  if (!spec) return invalid(state, "%s: No spec given.\n", who);
  if (!c) return invalid(state, spec->coreImage ? "%s: Bad attribute struct.\n" : "%s: No core image struct.\n", who);

  DIORasterSpec& b = depth == 1 ? c->binary : c->contone;
  if (a.disallow) {
    clear_block(&b);
    return QEL_STATUS_OK;
  }
  b.depth = depth;
  if (a.has_maxXRes) b.maxXRes = a.maxXRes;
  if (a.has_maxYRes) b.maxYRes = a.maxYRes;
  if (a.has_jpegquality) b.jpegquality = a.jpegquality;
  if (a.has_jbig2arith) b.jbig2arith = a.jbig2arith;
  if (a.has_interleave) b.interleave = a.interleave;
  if (a.has_width) b.width = a.width;
  if (a.has_height) b.height = a.height;
  // A block set to take uncompressed data keeps doing so.
  if (a.has_compression && b.compression != QEL_COMPRESSION_NONE) b.compression = a.compression;
  if (a.has_photometry) {
    free_list(b.photometries);
    if (!new_list(a.photometry, &b.photometries)) return list_failed(state);
  }
  return QEL_STATUS_OK;
}

int TransformSpecPage(void* target, elf_object* args, elf_object** /*result*/) {
  elf_state* state = state_of(target, args);
  constexpr const char* who = "TransformSpecPage";
  int32_t mrc = 0, single = 0, portrait = 0, landscape = 0;
  bool bad = false;
  const bool has_mrc = optional_arg(args, "mrc", "mrc:b", &mrc, &bad);
  const bool has_single = optional_arg(args, "singlePagePerFile", "singlePagePerFile:b", &single, &bad);
  const bool has_portrait = optional_arg(args, "portrait", "portrait:b", &portrait, &bad);
  const bool has_landscape = optional_arg(args, "landscape", "landscape:b", &landscape, &bad);
  if (bad) return invalid(state, "%s: Error getting input args\n", who);
  if (!has_mrc && !has_single && !has_portrait && !has_landscape) return QEL_STATUS_OK;
  elf_TRANSFORMSPEC* spec = dioTransformSpec(static_cast<elf_object*>(target));
  if (!spec) return invalid(state, "%s: No spec given.\n", who);
  DIOCoreSpec* c = dioCoreSpec(&spec->hdr);
  if (!c) {
    elf_object* core = new_core(spec->hdr.state);
    if (!core) {
      return setStatus(state, QEL_STATUS_FAILED, QEL_SEVERITY_ERROR, "%s: Unable to allocate the core specification\n",
                       who);
    }
    ELF_ASSIGN(spec->hdr.state, &spec->coreImage, core);
    c = dioCoreSpec(&spec->hdr);
  }
  if (has_mrc) c->pageMode = mrc ? DIO_PAGE_MRC : DIO_PAGE_FLAT;
  if (has_single) c->pagesPerFile = single ? DIO_PAGES_ONE : DIO_PAGES_MANY;
  if (has_portrait) c->orientation = portrait ? DIO_ORIENT_PORTRAIT : DIO_ORIENT_LANDSCAPE;
  if (has_landscape) c->orientation = landscape ? DIO_ORIENT_LANDSCAPE : DIO_ORIENT_PORTRAIT;
  return QEL_STATUS_OK;
}

int SpecIsMRC(void* target, elf_object* args, elf_object** result) {
  elf_state* state = state_of(target, args);
  const DIOCoreSpec* c = dioCoreSpec(static_cast<elf_object*>(target));
  const bool mrc = c && c->pageMode == DIO_PAGE_MRC;
  return dio::give(state, result, lstBuildArgs(state, "hasmrc:BOOLEAN", mrc, 0, LST_END), "SpecIsMRC");
}
