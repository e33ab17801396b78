// JPEG through libjpeg-turbo: grey files decoded straight to grey, colour ones to RGB and
// turned grey with the one formula of the tools (vfGreyOf).
// clang-format off
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <algorithm>
#include <csetjmp>
#include <memory>
#include <vector>

#include "tools/io/vcImageCodecs.h"
#include "tools/io/vcImageFile.h"

namespace {

// A progressive file may hold any number of scans, each a pass over the whole image; real
// files have about ten.
constexpr int kMaxScans = 100;

// Everything a read holds lives here, on the heap, so that the longjmp of the error handler
// back into vfDecodeJpeg skips no C++ object.
struct JpegRead {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr errors{};
  jpeg_progress_mgr progress{};
  std::jmp_buf jump{};
  char message[JMSG_LENGTH_MAX] = "";
  const char* kind = "damaged or truncated JPEG";
  bool created = false;
  vcPelBuffer<unsigned char> out;
  std::vector<unsigned char> rgb;  // one row of a colour file

  ~JpegRead() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
};

JpegRead& readOf(j_common_ptr c) { return *static_cast<JpegRead*>(c->client_data); }

void onError(j_common_ptr c) {
  JpegRead& r = readOf(c);
  if (c->err->msg_code == JERR_NO_BACKING_STORE) {
    // What the library says when max_memory_to_use is not enough.
    const auto* d = reinterpret_cast<j_decompress_ptr>(c);
    std::snprintf(r.message, sizeof r.message,
                  "a progressive image of %u x %u pixels takes more than the %ld bytes this "
                  "program decodes a file of its size with",
                  d->image_width, d->image_height, c->mem->max_memory_to_use);
    r.kind = "refused JPEG";
  } else {
    c->err->format_message(c, r.message);
  }
  std::longjmp(r.jump, 1);
}

// Warnings are ignored, except the two that mean the data stops early: the library would fill
// the rest of the image with grey.
void onMessage(j_common_ptr c, int level) {
  if (level < 0 && (c->err->msg_code == JWRN_JPEG_EOF || c->err->msg_code == JWRN_HIT_MARKER))
    onError(c);
}

void onProgress(j_common_ptr c) {
  const auto* d = reinterpret_cast<j_decompress_ptr>(c);
  if (d->input_scan_number > kMaxScans) {
    JpegRead& r = readOf(c);
    std::snprintf(r.message, sizeof r.message, "more than %d progressive scans", kMaxScans);
    r.kind = "refused JPEG";
    std::longjmp(r.jump, 1);
  }
}

// Runs between setjmp and a possible longjmp: only the heap-held state, no C++ objects of its
// own that a jump would skip.
void readPixels(JpegRead& r, const vcImageBytes& in) {
  jpeg_decompress_struct& c = r.cinfo;
  jpeg_mem_src(&c, in.data, static_cast<unsigned long>(in.size));
  jpeg_read_header(&c, TRUE);
  vfCheckImageSize(in, c.image_width, c.image_height, "JPEG");
  if (c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK) {
    std::snprintf(r.message, sizeof r.message, "CMYK colours are not supported");
    r.kind = "refused JPEG";
    std::longjmp(r.jump, 1);
  }
  const bool grey = c.jpeg_color_space == JCS_GRAYSCALE;
  c.out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_start_decompress(&c);
  r.out = vcPelBuffer<unsigned char>(long(c.output_width), long(c.output_height));
  if (!grey) r.rgb.resize(std::size_t(c.output_width) * 3);
  while (c.output_scanline < c.output_height) {
    const long y = long(c.output_scanline);
    JSAMPROW row = grey ? r.out.row(y) : r.rgb.data();
    jpeg_read_scanlines(&c, &row, 1);
    if (grey) continue;
    unsigned char* o = r.out.row(y);
    for (std::size_t x = 0; x < c.output_width; ++x)
      o[x] = vfGreyOf(r.rgb[3 * x], r.rgb[3 * x + 1], r.rgb[3 * x + 2], 255);
  }
}

}  // namespace

vcPelBuffer<unsigned char> vfDecodeJpeg(const vcImageBytes& in) {
  auto r = std::make_unique<JpegRead>();
  r->cinfo.err = jpeg_std_error(&r->errors);
  r->errors.error_exit = onError;
  r->errors.emit_message = onMessage;
  r->cinfo.client_data = r.get();
  r->progress.progress_monitor = onProgress;
  if (setjmp(r->jump)) vfImageFail(in.name, std::string(r->kind) + " (" + r->message + ")");
  jpeg_create_decompress(&r->cinfo);
  r->created = true;
  // A progressive file keeps every coefficient of the image (two bytes each) until its last
  // scan; past this the library stops ("Backing store not supported") instead of allocating.
  r->cinfo.mem->max_memory_to_use = long(std::max<std::uint64_t>(
      vcImageLimits::kMaxWorkBytes, vcImageLimits::kMaxJpegWorkPerByte * in.size));
  r->cinfo.progress = &r->progress;
  readPixels(*r, in);
  return std::move(r->out);
}
