// PNG through libpng's simplified interface (it keeps its error handling to
// itself, so no jump crosses our code). The library is opened on first use.
#include <png.h>

#include "platform/image_codecs.h"
#include "platform/shared_library.h"

namespace zot::platform::image {

namespace {

struct Png {
  decltype(&::png_image_begin_read_from_memory) png_image_begin_read_from_memory;
  decltype(&::png_image_finish_read) png_image_finish_read;
  decltype(&::png_image_free) png_image_free;
  decltype(&::png_image_write_to_memory) png_image_write_to_memory;
  bool found;
};

const Png& png() {
  static const Png api = [] {
    static SharedLibrary lib(ZOT_SONAME_PNG);
    Png p{};
    p.found = ZOT_FIND_FUNCTION(lib, p, png_image_begin_read_from_memory) &&
              ZOT_FIND_FUNCTION(lib, p, png_image_finish_read) && ZOT_FIND_FUNCTION(lib, p, png_image_free) &&
              ZOT_FIND_FUNCTION(lib, p, png_image_write_to_memory);
    return p;
  }();
  return api;
}

}  // namespace

const char* missing_png_library() { return png().found ? nullptr : ZOT_SONAME_PNG; }

bool decode_png(const u8* data, std::size_t size, Pixels* out) {
  const Png& api = png();
  if (!api.found) return false;
  png_image img;
  std::memset(&img, 0, sizeof img);
  img.version = PNG_IMAGE_VERSION;
  if (!api.png_image_begin_read_from_memory(&img, data, size)) return false;
  if (!size_allowed(img.width, img.height)) {
    api.png_image_free(&img);
    return false;
  }
  img.format = PNG_FORMAT_BGRA;
  out->width = img.width;
  out->height = img.height;
  out->bgra.assign(std::size_t(img.width) * img.height * 4, 0);
  // finish_read frees the image's state whether it succeeds or not.
  if (!api.png_image_finish_read(&img, nullptr, out->bgra.data(), 0, nullptr)) return false;
  return true;
}

bool encode_png(u32 width, u32 height, const u8* bgra, std::vector<u8>* out) {
  const Png& api = png();
  if (!api.found) return false;
  png_image img;
  std::memset(&img, 0, sizeof img);
  img.version = PNG_IMAGE_VERSION;
  img.width = width;
  img.height = height;
  img.format = PNG_FORMAT_BGRA;
  png_alloc_size_t size = 0;
  if (!api.png_image_write_to_memory(&img, nullptr, &size, 0, bgra, 0, nullptr)) return false;
  out->resize(size);
  if (!api.png_image_write_to_memory(&img, out->data(), &size, 0, bgra, 0, nullptr)) return false;
  out->resize(size);
  return true;
}

}  // namespace zot::platform::image
