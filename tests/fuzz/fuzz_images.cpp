// Fuzzing the image decoders (PNG, JPEG, GIF, TIFF and our BMP): arbitrary
// bytes are decoded; a damaged file is refused, never read or written out of
// bounds, and whatever decodes has as many pixels as its size says and
// encodes again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/image_codecs.h"

namespace img = zot::platform::image;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Small enough that a claimed size cannot exhaust the fuzzer's memory.
  img::set_pixel_limit(1u << 20);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  img::Pixels px;
  if (!img::decode(data, size, &px)) {
    if (!px.bgra.empty() || px.width || px.height) abort();
    return 0;
  }
  if (px.bgra.size() != size_t(px.width) * px.height * 4) abort();
  // Small pictures go through an encoder and back unchanged.
  if (size_t(px.width) * px.height <= 4096) {
    std::vector<zot::u8> file;
    if (!img::encode(img::kBmp, px.width, px.height, px.bgra.data(), &file)) abort();
    img::Pixels back;
    if (!img::decode(file.data(), file.size(), &back) || back.bgra != px.bgra) abort();
  }
  return 0;
}
