#include "jb2_file.h"

#include <cstring>

#include "jb2_decode.h"
#include "vlt_state.h"

namespace {

constexpr Jb2FileParams default_params() {
  Jb2FileParams p{};
  p.sdAllowTuned = 1;
  p.generic.gbTemplate = 2;
  p.generic.atx[0] = 2;
  p.generic.atx[1] = -3;
  p.generic.atx[2] = 2;
  p.generic.atx[3] = -2;
  p.generic.aty[0] = -1;
  p.generic.aty[1] = -1;
  p.generic.aty[2] = -2;
  p.generic.aty[3] = -2;
  p.trAllowTuned = 1;
  p.pdTemplate = 2;
  return p;
}

}  // namespace

VltStatus jb2CreateFile(DataSink* headerSink, DataSink* dataSink, VltState* state, Jb2File** file) {
  auto* f = static_cast<Jb2File*>(state->malloc(sizeof(Jb2File)));
  if (f == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  // Clear every byte, padding and reserved parameter bytes included, so a copied block never
  // carries leftovers of the allocator.
  std::memset(f, 0, sizeof *f);
  f->headerSink = headerSink;
  f->dataSink = dataSink;
  f->state = state;
  f->params = default_params();
  f->workFloor = JB2_WORK_FLOOR;
  f->instanceFloor = JB2_INSTANCES_FLOOR;
  *file = f;
  return VLT_OK;
}

void jb2FreeFile(Jb2File* file) {
  if (file != nullptr) file->state->free(file);
}

uint32_t jb2FileNextSegmentNumber(Jb2File* file) { return file->nextSegment++; }
void jb2SetFileSegnum(Jb2File* file, uint32_t number) { file->nextSegment = number; }
uint32_t jb2GetFileSegnum(const Jb2File* file) { return file->nextSegment; }
DataSink* jb2GetFileHeaderDataSink(const Jb2File* file) { return file->headerSink; }
DataSink* jb2GetFileDataSink(const Jb2File* file) { return file->dataSink; }
VltState* jb2GetFileVlt_State(const Jb2File* file) { return file->state; }

void jb2SetFileParams(Jb2File* file, const Jb2FileParams* params) {
  std::memcpy(&file->params, params, sizeof file->params);
}

Jb2FileParams* jb2GetFileParams(Jb2File* file) { return &file->params; }
