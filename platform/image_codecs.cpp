// Image codecs: the format test, the choice of codec and the size limit.
#include "platform/image_codecs.h"

namespace zot::platform::image {

namespace {

// Pixels of one series at most (4 bytes each, within 2 GiB).
u64 g_pixel_limit = 0x7FFFFFF0ull / 4;

bool starts_with(const u8* data, std::size_t size, const char* sig, std::size_t n) {
  return size >= n && std::memcmp(data, sig, n) == 0;
}

}  // namespace

void set_pixel_limit(u64 pixels) { g_pixel_limit = pixels; }
u64 pixel_limit() { return g_pixel_limit; }

bool size_allowed(u64 width, u64 height) {
  return width >= 1 && height >= 1 && width <= kMaxSide && height <= kMaxSide && width * height <= g_pixel_limit;
}

int sniff(const u8* data, std::size_t size) {
  if (starts_with(data, size, "\x89PNG", 4)) return kPng;
  if (starts_with(data, size, "\xFF\xD8\xFF", 3)) return kJpeg;
  if (starts_with(data, size, "BM", 2)) return kBmp;
  if (starts_with(data, size, "GIF87a", 6) || starts_with(data, size, "GIF89a", 6)) return kGif;
  if (starts_with(data, size, "II*\0", 4) || starts_with(data, size, "MM\0*", 4)) return kTiff;
  return -1;
}

const char* missing_library(int format) {
  switch (format) {
    case kPng: return missing_png_library();
    case kJpeg: return missing_jpeg_library();
    case kGif: return missing_gif_library();
    case kTiff: return missing_tiff_library();
    default: return nullptr;
  }
}

bool decode(const u8* data, std::size_t size, Pixels* out) {
  *out = Pixels{};
  bool ok = false;
  switch (sniff(data, size)) {
    case kPng: ok = decode_png(data, size, out); break;
    case kJpeg: ok = decode_jpeg(data, size, out); break;
    case kBmp: ok = decode_bmp(data, size, out); break;
    case kGif: ok = decode_gif(data, size, out); break;
    case kTiff: ok = decode_tiff(data, size, out); break;
    default: break;
  }
  if (ok && (out->bgra.size() != u64(out->width) * out->height * 4 || !size_allowed(out->width, out->height)))
    ok = false;
  if (!ok) *out = Pixels{};
  return ok;
}

bool encode(Format format, u32 width, u32 height, const u8* bgra, std::vector<u8>* out) {
  out->clear();
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return false;
  switch (format) {
    case kBmp: return encode_bmp(width, height, bgra, out);
    case kPng: return encode_png(width, height, bgra, out);
    case kGif: return encode_gif(width, height, bgra, out);
    case kJpeg: return encode_jpeg(width, height, bgra, out);
    case kTiff: return encode_tiff(width, height, bgra, out);
  }
  return false;
}

}  // namespace zot::platform::image
