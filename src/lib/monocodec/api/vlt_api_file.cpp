// A run that writes one standalone JBIG2 file: the engine's output state is given the file-mode
// stream state in place of the embedded one before anything has been written to it.

#include "jb2_filemode.h"
#include "vlt_api_handle.h"

VltStatus VltApi_openFile(VltApiHandle* h, Jb2FileTarget* target, uint32_t pageCount) {
  if (api_checkHandle(h) != VLT_OK) return VLT_ERR_ASSERT;
  VltState* es = h->state;
  if (target == nullptr || target->write == nullptr) return Vlt_report(es, VLT_ERR_NULL);
  if (pageCount == 0) return Vlt_reportErrMsg(es->errState, VLT_ERR_PARAM, "a JBIG2 file needs at least one page");
  // Once a section has begun the embedded stream may already have handed segments out, and their
  // numbers would be missing from the file.
  if (h->fileMode || h->sectionOpen || h->pagesAdded != 0 || h->residualBlocks != nullptr)
    return Vlt_reportErrMsg(es->errState, VLT_ERR_PARAM, "the output can become a file only before the first section");
  TclyOutState* out = h->output;
  Jb2OutputCallbacks* cb = out->callbacks;
  Jb2StreamState* file = nullptr;
  uintptr_t context = 0;
  // Pages of a file keep their own numbers and end-of-page segments, whatever the run's option.
  if (const VltStatus st = createJb2StateCB(target, es, out->stream->profile, pageCount, 0, &file, &context);
      st != VLT_OK)
    return st;
  // Nothing was written to the embedded stream yet, so its close loses nothing.
  cb->closeState(out->stream, cb->context);
  out->stream = file;
  cb->context = context;
  cb->closeState = closeJb2FileStateAPICB;
  h->fileMode = 1;
  return VLT_OK;
}

VltStatus VltApi_annotateFile(VltApiHandle* h, int32_t count, const Jb2ExtensionRecord* records) {
  if (api_checkHandle(h) != VLT_OK) return VLT_ERR_ASSERT;
  if (!h->fileMode) return Vlt_reportErrMsg(h->state->errState, VLT_ERR_PARAM, "annotations need a file run");
  if (count < 0) return Vlt_report(h->state, VLT_ERR_PARAM);
  return writeJb2AnnotationsCB(count, records, h->output->stream);
}
