#ifndef FUZZ_WINDOWS_H
#define FUZZ_WINDOWS_H

// A byte source over fuzz input handed out in windows of `step` bytes, so readers meet window
// ends anywhere.

#include <cstddef>
#include <cstdint>

#include "jb2_datastream.h"

struct FuzzWindows {
  const uint8_t* data;
  size_t size;
  size_t next;
  size_t step;

  static VltStatus more(DataSource* s, void*) {
    auto* w = static_cast<FuzzWindows*>(s->context);
    if (w->next >= w->size) return VLT_ERR_IO_LENGTH;
    const size_t n = w->size - w->next < w->step ? w->size - w->next : w->step;
    s->data = w->data + w->next;
    s->size = static_cast<uint32_t>(n);
    s->pos = 0;
    w->next += n;
    return VLT_OK;
  }
};

#endif
