// JPEG through libjpeg-turbo from memory. libjpeg reports failures by longjmp; everything the
// decode allocates hangs off a record in the caller's frame, so the jump leaks nothing.

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>
#include <jerror.h>

#include "kvimg_bounds.h"
#include "kvimgdec_internal.h"
#include "kvng.h"
#include "kvng_print.h"

namespace kvimg {
namespace {

constexpr char kReader[] = "readjpg";

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
  char text[JMSG_LENGTH_MAX];
};

void jpeg_failed(j_common_ptr info) {
  auto* e = reinterpret_cast<JpegError*>(info->err);
  e->mgr.format_message(info, e->text);
  std::longjmp(e->jump, 1);
}

// libjpeg makes up what damaged or missing data lacked and carries on: such an image fails.
void jpeg_warning(j_common_ptr info, int level) {
  if (level < 0 && jpeg_warning_loses_data(info->err->msg_code)) jpeg_failed(info);
}

struct JpegDecode {
  jpeg_decompress_struct info;
  JpegError error;
  unsigned char* cmyk_row;  // one row of CMYK samples, the engine heap
  int status;
};

// The body that may jump back into decode_jpeg; every allocation is recorded in d or out.
void run(JpegDecode* d, const void* data, int64_t size, KVImgDecoded* out) {
  jpeg_decompress_struct* info = &d->info;
  jpeg_mem_src(info, static_cast<const unsigned char*>(data), static_cast<unsigned long>(size));
  jpeg_read_header(info, TRUE);
  const bool cmyk = info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK;
  const bool grey = info->num_components == 1;
  info->out_color_space = cmyk ? JCS_CMYK : grey ? JCS_GRAYSCALE : JCS_RGB;
  char why[200];
  if (!jpeg_frame_fits(info, size, KVIMG_MAX_DECODED, why, sizeof why)) {
    KVngError("%s: %s\n", kReader, why);
    d->status = -1;
    return;
  }
  info->mem->max_memory_to_use = jpeg_memory_limit(KVIMG_MAX_DECODED / 3);
  jpeg_calc_output_dimensions(info);
  if (!part_new(&out->image, kReader, info->output_width, info->output_height, grey ? 1 : 3, 8,
                grey ? KVIMG_PHOTO_GREY : KVIMG_PHOTO_RGB, &d->status))
    return;
  if (cmyk && !(d->cmyk_row = static_cast<unsigned char*>(kvng_internal_calloc(info->output_width, 4)))) {
    d->status = 0;
    return;
  }
  jpeg_start_decompress(info);
  const int64_t row_bytes = part_row_bytes(&out->image);
  auto* pixels = static_cast<unsigned char*>(out->image.pixels);
  while (info->output_scanline < info->output_height) {
    unsigned char* row = pixels + info->output_scanline * row_bytes;
    JSAMPROW target = cmyk ? d->cmyk_row : row;
    if (jpeg_read_scanlines(info, &target, 1) != 1) break;
    if (!cmyk) continue;
    // Adobe writes CMYK inverted (255 is no ink); others do not.
    for (JDIMENSION x = 0; x < info->output_width; ++x) {
      int c = d->cmyk_row[4 * x], m = d->cmyk_row[4 * x + 1], yy = d->cmyk_row[4 * x + 2], k = d->cmyk_row[4 * x + 3];
      if (!info->saw_Adobe_marker) c = 255 - c, m = 255 - m, yy = 255 - yy, k = 255 - k;
      row[3 * x] = static_cast<unsigned char>(c * k / 255);
      row[3 * x + 1] = static_cast<unsigned char>(m * k / 255);
      row[3 * x + 2] = static_cast<unsigned char>(yy * k / 255);
    }
  }
  if (info->output_scanline < info->output_height) {
    KVngError("%s: JPEG image ends after %u of %u rows\n", kReader, info->output_scanline, info->output_height);
    d->status = -1;
    return;
  }
  jpeg_finish_decompress(info);
  if (info->saw_JFIF_marker && info->density_unit && info->X_density && info->Y_density &&
      !set_origin(out->image.header, info->X_density, info->Y_density, info->density_unit == 2 ? "cm" : "inch")) {
    d->status = 0;
    return;
  }
  d->status = 1;
}

}  // namespace

int decode_jpeg(const void* data, int64_t size, KVImgDecoded* out) {
  JpegDecode d{};
  d.info.err = jpeg_std_error(&d.error.mgr);
  d.error.mgr.error_exit = jpeg_failed;
  d.error.mgr.emit_message = jpeg_warning;
  d.status = -1;
  jpeg_create_decompress(&d.info);
  if (setjmp(d.error.jump)) {
    KVngError("%s: Cannot decode JPEG image: %s\n", kReader, d.error.text);
    d.status = -1;
  } else {
    run(&d, data, size, out);
  }
  jpeg_destroy_decompress(&d.info);
  kvng_internal_free(d.cmyk_row);
  return d.status;
}

}  // namespace kvimg
