// JPEG through libjpeg-turbo's TurboJPEG interface (its error handling stays
// inside the library). JPEG has no transparency: decoded pixels are opaque,
// and encoding drops the alpha bytes. The library is opened on first use.
#include <turbojpeg.h>

#include "platform/image_codecs.h"
#include "platform/shared_library.h"

namespace zot::platform::image {

namespace {

struct TurboJpeg {
  decltype(&::tjInitDecompress) tjInitDecompress;
  decltype(&::tjInitCompress) tjInitCompress;
  decltype(&::tjDestroy) tjDestroy;
  decltype(&::tjDecompressHeader3) tjDecompressHeader3;
  decltype(&::tjDecompress2) tjDecompress2;
  decltype(&::tjCompress2) tjCompress2;
  decltype(&::tjGetErrorCode) tjGetErrorCode;
  decltype(&::tjFree) tjFree;
  bool found;
};

const TurboJpeg& tj() {
  static const TurboJpeg api = [] {
    static SharedLibrary lib(ZOT_SONAME_TURBOJPEG);
    TurboJpeg t{};
    t.found = ZOT_FIND_FUNCTION(lib, t, tjInitDecompress) && ZOT_FIND_FUNCTION(lib, t, tjInitCompress) &&
              ZOT_FIND_FUNCTION(lib, t, tjDestroy) && ZOT_FIND_FUNCTION(lib, t, tjDecompressHeader3) &&
              ZOT_FIND_FUNCTION(lib, t, tjDecompress2) && ZOT_FIND_FUNCTION(lib, t, tjCompress2) &&
              ZOT_FIND_FUNCTION(lib, t, tjGetErrorCode) && ZOT_FIND_FUNCTION(lib, t, tjFree);
    return t;
  }();
  return api;
}

constexpr int kQuality = 90;

struct Handle {
  tjhandle h;
  explicit Handle(tjhandle x) : h(x) {}
  ~Handle() {
    if (h) tj().tjDestroy(h);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
};

}  // namespace

const char* missing_jpeg_library() { return tj().found ? nullptr : ZOT_SONAME_TURBOJPEG; }

bool decode_jpeg(const u8* data, std::size_t size, Pixels* out) {
  const TurboJpeg& api = tj();
  if (size > 0xFFFFFFFFu || !api.found) return false;
  Handle dec(api.tjInitDecompress());
  if (!dec.h) return false;
  int w = 0, h = 0, subsamp = 0, colorspace = 0;
  if (api.tjDecompressHeader3(dec.h, data, static_cast<unsigned long>(size), &w, &h, &subsamp, &colorspace) != 0)
    return false;
  if (w < 1 || h < 1 || !size_allowed(u64(w), u64(h))) return false;
  out->width = u32(w);
  out->height = u32(h);
  out->bgra.assign(std::size_t(w) * std::size_t(h) * 4, 0);
  if (api.tjDecompress2(dec.h, data, static_cast<unsigned long>(size), out->bgra.data(), w, 0, h, TJPF_BGRA, 0) != 0) {
    // A warning (a truncated or slightly damaged stream) still gives the
    // picture, as image viewers show it; an error gives nothing.
    if (api.tjGetErrorCode(dec.h) != TJERR_WARNING) return false;
  }
  return true;
}

bool encode_jpeg(u32 width, u32 height, const u8* bgra, std::vector<u8>* out) {
  const TurboJpeg& api = tj();
  if (!api.found) return false;
  Handle enc(api.tjInitCompress());
  if (!enc.h) return false;
  unsigned char* buf = nullptr;
  unsigned long size = 0;
  int rc = api.tjCompress2(enc.h, bgra, int(width), 0, int(height), TJPF_BGRA, &buf, &size, TJSAMP_444,
                           kQuality, 0);
  if (rc == 0 && buf) out->assign(buf, buf + size);
  if (buf) api.tjFree(buf);
  return rc == 0;
}

}  // namespace zot::platform::image
