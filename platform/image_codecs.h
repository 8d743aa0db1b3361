// Image file codecs: PNG, JPEG, GIF and TIFF through their libraries (each
// opened when a codec first needs it), BMP our own. Pixels are 32-bit B, G, R, A bytes (A the opacity, not premultiplied),
// rows from the top, no padding. Every decoder reads from memory, checks
// what the file claims before it allocates, and answers false for data it
// cannot read: malformed input never crashes and prints nothing.
#pragma once

#include <vector>

#include "runtime/base.h"

namespace zot::platform::image {

// The container formats by their encoder index.
enum Format : int { kBmp = 0, kPng = 1, kGif = 2, kJpeg = 3, kTiff = 4 };
constexpr int kFormatCount = 5;

// Widths and heights fit in 16 bits (an image value keeps both in one word).
constexpr u32 kMaxSide = 0xFFFF;

struct Pixels {
  u32 width = 0;
  u32 height = 0;
  std::vector<u8> bgra;  // width * height * 4 bytes
};

// The format the bytes begin like (PNG, JPEG, BMP, GIF 87a/89a, TIFF in
// either byte order), or -1.
int sniff(const u8* data, std::size_t size);

// The soname of the library that the format's codec needs when it cannot be
// opened, else null (BMP and unknown formats need none). A decoder or encoder
// whose library is missing answers false.
const char* missing_library(int format);

// Decodes the first frame of any of the five formats. False when the data is
// not an image, is malformed, or is larger than the pixel limit.
bool decode(const u8* data, std::size_t size, Pixels* out);

// Encodes width x height pixels; false when the library refuses. JPEG keeps
// no transparency; GIF keeps at most 256 colours (a palette chosen from the
// pixels) and one level of transparency (below half opacity is clear).
bool encode(Format format, u32 width, u32 height, const u8* bgra, std::vector<u8>* out);

// The most pixels a decoder will produce (the decoders refuse larger images
// before allocating them). The default allows every image whose pixels fit
// in one series; the fuzz target lowers it.
void set_pixel_limit(u64 pixels);
u64 pixel_limit();

// ---- the codecs one by one (image_*.cpp)
bool decode_png(const u8* data, std::size_t size, Pixels* out);
bool encode_png(u32 width, u32 height, const u8* bgra, std::vector<u8>* out);
bool decode_jpeg(const u8* data, std::size_t size, Pixels* out);
bool encode_jpeg(u32 width, u32 height, const u8* bgra, std::vector<u8>* out);
bool decode_gif(const u8* data, std::size_t size, Pixels* out);
bool encode_gif(u32 width, u32 height, const u8* bgra, std::vector<u8>* out);
bool decode_tiff(const u8* data, std::size_t size, Pixels* out);
bool encode_tiff(u32 width, u32 height, const u8* bgra, std::vector<u8>* out);
bool decode_bmp(const u8* data, std::size_t size, Pixels* out);
bool encode_bmp(u32 width, u32 height, const u8* bgra, std::vector<u8>* out);

const char* missing_png_library();
const char* missing_jpeg_library();
const char* missing_gif_library();
const char* missing_tiff_library();

// True when a decoder may make an image of that size (sides within 16 bits,
// at least one pixel, within the pixel limit).
bool size_allowed(u64 width, u64 height);

}  // namespace zot::platform::image
