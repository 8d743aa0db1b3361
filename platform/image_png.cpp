// PNG through libpng's simplified interface (it keeps its error handling to
// itself, so no jump crosses our code).
#include <png.h>

#include "platform/image_codecs.h"

namespace zot::platform::image {

bool decode_png(const u8* data, std::size_t size, Pixels* out) {
  png_image img;
  std::memset(&img, 0, sizeof img);
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&img, data, size)) return false;
  if (!size_allowed(img.width, img.height)) {
    png_image_free(&img);
    return false;
  }
  img.format = PNG_FORMAT_BGRA;
  out->width = img.width;
  out->height = img.height;
  out->bgra.assign(std::size_t(img.width) * img.height * 4, 0);
  // finish_read frees the image's state whether it succeeds or not.
  if (!png_image_finish_read(&img, nullptr, out->bgra.data(), 0, nullptr)) return false;
  return true;
}

bool encode_png(u32 width, u32 height, const u8* bgra, std::vector<u8>* out) {
  png_image img;
  std::memset(&img, 0, sizeof img);
  img.version = PNG_IMAGE_VERSION;
  img.width = width;
  img.height = height;
  img.format = PNG_FORMAT_BGRA;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&img, nullptr, &size, 0, bgra, 0, nullptr)) return false;
  out->resize(size);
  if (!png_image_write_to_memory(&img, out->data(), &size, 0, bgra, 0, nullptr)) return false;
  out->resize(size);
  return true;
}

}  // namespace zot::platform::image
