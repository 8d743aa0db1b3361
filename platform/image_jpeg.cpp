// JPEG through libjpeg-turbo's TurboJPEG interface (its error handling stays
// inside the library). JPEG has no transparency: decoded pixels are opaque,
// and encoding drops the alpha bytes.
#include <turbojpeg.h>

#include "platform/image_codecs.h"

namespace zot::platform::image {

namespace {

constexpr int kQuality = 90;

struct Handle {
  tjhandle h;
  explicit Handle(tjhandle x) : h(x) {}
  ~Handle() {
    if (h) tjDestroy(h);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
};

}  // namespace

bool decode_jpeg(const u8* data, std::size_t size, Pixels* out) {
  if (size > 0xFFFFFFFFu) return false;
  Handle tj(tjInitDecompress());
  if (!tj.h) return false;
  int w = 0, h = 0, subsamp = 0, colorspace = 0;
  if (tjDecompressHeader3(tj.h, data, static_cast<unsigned long>(size), &w, &h, &subsamp, &colorspace) != 0)
    return false;
  if (w < 1 || h < 1 || !size_allowed(u64(w), u64(h))) return false;
  out->width = u32(w);
  out->height = u32(h);
  out->bgra.assign(std::size_t(w) * std::size_t(h) * 4, 0);
  if (tjDecompress2(tj.h, data, static_cast<unsigned long>(size), out->bgra.data(), w, 0, h, TJPF_BGRA, 0) != 0) {
    // A warning (a truncated or slightly damaged stream) still gives the
    // picture, as image viewers show it; an error gives nothing.
    if (tjGetErrorCode(tj.h) != TJERR_WARNING) return false;
  }
  return true;
}

bool encode_jpeg(u32 width, u32 height, const u8* bgra, std::vector<u8>* out) {
  Handle tj(tjInitCompress());
  if (!tj.h) return false;
  unsigned char* buf = nullptr;
  unsigned long size = 0;
  int rc = tjCompress2(tj.h, bgra, int(width), 0, int(height), TJPF_BGRA, &buf, &size, TJSAMP_444, kQuality,
                       0);
  if (rc == 0 && buf) out->assign(buf, buf + size);
  if (buf) tjFree(buf);
  return rc == 0;
}

}  // namespace zot::platform::image
