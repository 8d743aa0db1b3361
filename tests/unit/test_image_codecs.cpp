// The image codecs of the platform layer: small files built here byte by
// byte from known pixels, round trips through every encoder, and damaged
// files (which must be refused, never crash).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/image_codecs.h"
#include "runtime/checksum.h"
#include "runtime/deflate.h"

namespace zot {
namespace {

namespace img = platform::image;
using Bytes = std::vector<u8>;

// ---- writing fixtures

struct Writer {
  Bytes b;
  bool big = false;  // byte order of u16/u32
  void u8_(u32 v) { b.push_back(u8(v)); }
  void u16_(u32 v) {
    if (big) { u8_(v >> 8); u8_(v); }
    else { u8_(v); u8_(v >> 8); }
  }
  void u32_(u32 v) {
    if (big) { u16_(v >> 16); u16_(v & 0xFFFF); }
    else { u16_(v & 0xFFFF); u16_(v >> 16); }
  }
  void text(const char* t) { while (*t) u8_(u8(*t++)); }
  void bytes(const Bytes& x) { b.insert(b.end(), x.begin(), x.end()); }
  void be32(u32 v) { u8_(v >> 24); u8_(v >> 16); u8_(v >> 8); u8_(v); }
};

// Pixels as B, G, R, A bytes from 0xAARRGGBB values.
Bytes bgra(std::initializer_list<u32> argb) {
  Bytes out;
  for (u32 p : argb) {
    out.push_back(u8(p));
    out.push_back(u8(p >> 8));
    out.push_back(u8(p >> 16));
    out.push_back(u8(p >> 24));
  }
  return out;
}

// The six pixels of most fixtures (3 wide, 2 high).
const u32 kSix[6] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF, 0xFF000000, 0xFF804020};

Bytes six() { return bgra({kSix[0], kSix[1], kSix[2], kSix[3], kSix[4], kSix[5]}); }

img::Pixels decoded(const Bytes& file) {
  img::Pixels px;
  EXPECT_TRUE(img::decode(file.data(), file.size(), &px));
  return px;
}

void expect_pixels(const Bytes& file, u32 w, u32 h, const Bytes& want, const char* what) {
  img::Pixels px = decoded(file);
  EXPECT_EQ(px.width, w) << what;
  EXPECT_EQ(px.height, h) << what;
  EXPECT_EQ(px.bgra, want) << what;
}

// BMP: file header and a 40-byte info header.
Bytes bmp(i32 w, i32 h, u32 bpp, u32 compression, const Bytes& palette, const Bytes& extra, const Bytes& data,
          u32 header = 40) {
  Writer f;
  const u32 offset = 14 + header + u32(extra.size()) + u32(palette.size());
  f.text("BM");
  f.u32_(offset + u32(data.size()));
  f.u32_(0);
  f.u32_(offset);
  f.u32_(header);
  if (header == 12) {
    f.u16_(u32(w));
    f.u16_(u32(h));
    f.u16_(1);
    f.u16_(bpp);
  } else {
    f.u32_(u32(w));
    f.u32_(u32(h));
    f.u16_(1);
    f.u16_(bpp);
    f.u32_(compression);
    f.u32_(u32(data.size()));
    f.u32_(2835);
    f.u32_(2835);
    f.u32_(u32(palette.size() / 4));
    f.u32_(0);
    for (u32 i = 40; i < header; i++) f.u8_(0);
  }
  f.bytes(extra);
  f.bytes(palette);
  f.bytes(data);
  return f.b;
}

// A palette of BGRX entries from 0xRRGGBB values.
Bytes palette4(std::initializer_list<u32> rgb) {
  Bytes p;
  for (u32 c : rgb) {
    p.push_back(u8(c));
    p.push_back(u8(c >> 8));
    p.push_back(u8(c >> 16));
    p.push_back(0);
  }
  return p;
}

TEST(ImageCodecs, BmpFixturesOfEveryLayout) {
  // 24 bits, rows from the bottom, each padded to 4 bytes.
  Bytes rows24 = {0xFF, 0xFF, 0xFF, 0, 0, 0, 0x20, 0x40, 0x80, 0, 0, 0,
                  0, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0, 0, 0, 0};
  expect_pixels(bmp(3, 2, 24, 0, {}, {}, rows24), 3, 2, six(), "24-bit");
  // The same in the OS/2 core header.
  expect_pixels(bmp(3, 2, 24, 0, {}, {}, rows24, 12), 3, 2, six(), "core header");
  // 8 bits with a palette, rows from the top (negative height).
  Bytes pal = palette4({0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x000000, 0x804020});
  expect_pixels(bmp(3, -2, 8, 0, pal, {}, {0, 1, 2, 0, 3, 4, 5, 0}), 3, 2, six(), "8-bit top-down");
  // 4 bits: two pixels a byte, high nibble first.
  expect_pixels(bmp(3, 2, 4, 0, pal, {}, {0x34, 0x50, 0, 0, 0x01, 0x20, 0, 0}), 3, 2, six(), "4-bit");
  // 1 bit: black and white.
  Bytes bw = palette4({0x000000, 0xFFFFFF});
  expect_pixels(bmp(3, 1, 1, 0, bw, {}, {0xA0, 0, 0, 0}), 3, 1, bgra({0xFFFFFFFF, 0xFF000000, 0xFFFFFFFF}),
                "1-bit");
  // RLE8: a run, a delta that skips a pixel (left clear), end of bitmap.
  Bytes rle8 = {2, 1, 0, 2, 1, 0, 1, 5, 0, 1};
  expect_pixels(bmp(3, 1, 8, 1, pal, {}, rle8), 3, 1, bgra({0xFF00FF00, 0xFF00FF00, 0x00000000}), "RLE8 run");
  // RLE8 given pixel by pixel (absolute mode, padded), two lines.
  Bytes rle8b = {0, 3, 3, 4, 5, 0, 0, 0, 0, 3, 0, 1, 2, 0, 0, 1};
  expect_pixels(bmp(3, 2, 8, 1, pal, {}, rle8b), 3, 2, six(), "RLE8 absolute");
  // RLE4: a run alternating two indexes.
  expect_pixels(bmp(3, 1, 4, 2, pal, {}, {3, 0x12, 0, 1}), 3, 1,
                bgra({0xFF00FF00, 0xFF0000FF, 0xFF00FF00}), "RLE4");
  // 16 bits with 5-6-5 bit fields after the header.
  Writer masks;
  masks.u32_(0xF800);
  masks.u32_(0x07E0);
  masks.u32_(0x001F);
  expect_pixels(bmp(2, 1, 16, 3, {}, masks.b, {0x00, 0xF8, 0x1F, 0x00}), 2, 1, bgra({0xFFFF0000, 0xFF0000FF}),
                "16-bit 565");
  // 16 bits plain: 5-5-5.
  expect_pixels(bmp(2, 1, 16, 0, {}, {}, {0xE0, 0x03, 0xFF, 0x7F}), 2, 1, bgra({0xFF00FF00, 0xFFFFFFFF}),
                "16-bit 555");
  // 32 bits plain: the fourth byte is not alpha.
  expect_pixels(bmp(1, 1, 32, 0, {}, {}, {1, 2, 3, 0}), 1, 1, bgra({0xFF030201}), "32-bit plain");
  // 32 bits with an alpha mask (V5 header holds the masks).
  Writer v5;
  v5.u32_(0x00FF0000);
  v5.u32_(0x0000FF00);
  v5.u32_(0x000000FF);
  v5.u32_(0xFF000000);
  Bytes with_alpha = bmp(1, 1, 32, 3, {}, {}, {1, 2, 3, 0x80}, 124);
  std::copy(v5.b.begin(), v5.b.end(), with_alpha.begin() + 14 + 40);
  expect_pixels(with_alpha, 1, 1, bgra({0x80030201}), "32-bit alpha");
}

// PNG from raw scanlines (filter byte 0) with our own deflate.
Bytes png(u32 w, u32 h, u8 depth, u8 colour, const Bytes& scanlines, std::vector<std::pair<const char*, Bytes>> extra) {
  Writer f;
  f.b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  auto chunk = [&](const char* type, const Bytes& data) {
    f.be32(u32(data.size()));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    f.bytes(body);
    f.be32(checksum::crc32(body.data(), body.size()));
  };
  Writer ihdr;
  ihdr.be32(w);
  ihdr.be32(h);
  ihdr.b.insert(ihdr.b.end(), {depth, colour, 0, 0, 0});
  chunk("IHDR", ihdr.b);
  for (auto& [type, data] : extra) chunk(type, data);
  Bytes z(scanlines.size() * 2 + 64);
  std::size_t size = z.size();
  EXPECT_EQ(deflate::compress_zlib(z.data(), &size, scanlines.data(), scanlines.size()), deflate::kOk);
  z.resize(size);
  chunk("IDAT", z);
  chunk("IEND", {});
  return f.b;
}

TEST(ImageCodecs, PngFixtures) {
  // Eight-bit RGBA.
  Bytes rgba = {0, 255, 0, 0, 255, 0, 255, 0, 0x80, 0, 0, 255, 0};
  expect_pixels(png(3, 1, 8, 6, rgba, {}), 3, 1, bgra({0xFFFF0000, 0x8000FF00, 0x000000FF}), "RGBA");
  // A palette with transparency for its first two entries.
  Bytes plte = {255, 0, 0, 0, 255, 0, 0, 0, 255};
  Bytes idx = {0, 0, 1, 2};
  expect_pixels(png(3, 1, 8, 3, idx, {{"PLTE", plte}, {"tRNS", {0, 0x40}}}), 3, 1,
                bgra({0x00FF0000, 0x4000FF00, 0xFF0000FF}), "palette with tRNS");
  // Grey with alpha.
  Bytes ga = {0, 0x80, 0xFF, 0x10, 0x20};
  expect_pixels(png(2, 1, 8, 4, ga, {}), 2, 1, bgra({0xFF808080, 0x20101010}), "grey and alpha");
}

// GIF with LZW codes of 3 bits that never grow: a clear code before every pixel.
Bytes gif(u16 w, u16 h, const Bytes& indexes, int transparent, bool interlaced, u16 screen_w = 0,
          u16 screen_h = 0, u16 left = 0, u16 top = 0) {
  Writer f;
  f.text("GIF89a");
  f.u16_(screen_w ? screen_w : w);
  f.u16_(screen_h ? screen_h : h);
  f.u8_(0x81);  // a global table of 4 entries
  f.u8_(0);
  f.u8_(0);
  f.bytes({255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255});
  if (transparent >= 0) f.bytes({0x21, 0xF9, 4, 1, 0, 0, u8(transparent), 0});
  f.u8_(0x2C);
  f.u16_(left);
  f.u16_(top);
  f.u16_(w);
  f.u16_(h);
  f.u8_(interlaced ? 0x40 : 0);
  f.u8_(2);
  Bytes codes;
  u32 acc = 0, bits = 0;
  auto put = [&](u32 code) {
    acc |= code << bits;
    bits += 3;
    while (bits >= 8) {
      codes.push_back(u8(acc));
      acc >>= 8;
      bits -= 8;
    }
  };
  for (u8 i : indexes) {
    put(4);
    put(i);
  }
  put(5);
  if (bits) codes.push_back(u8(acc));
  for (std::size_t at = 0; at < codes.size(); at += 255) {
    std::size_t n = std::min<std::size_t>(255, codes.size() - at);
    f.u8_(u32(n));
    f.b.insert(f.b.end(), codes.begin() + long(at), codes.begin() + long(at + n));
  }
  f.u8_(0);
  f.u8_(0x3B);
  return f.b;
}

TEST(ImageCodecs, GifFixtures) {
  expect_pixels(gif(3, 1, {0, 1, 2}, -1, false), 3, 1, bgra({0xFFFF0000, 0xFF00FF00, 0xFF0000FF}), "plain");
  expect_pixels(gif(3, 1, {0, 3, 2}, 3, false), 3, 1, bgra({0xFFFF0000, 0x00000000, 0xFF0000FF}), "transparent");
  // Interlaced rows arrive in the order 0, 4, 2, 1, 3.
  expect_pixels(gif(1, 5, {0, 2, 1, 3, 0}, -1, true), 1, 5,
                bgra({0xFFFF0000, 0xFFFFFFFF, 0xFF00FF00, 0xFFFF0000, 0xFF0000FF}), "interlaced");
  // A frame smaller than the screen: the rest stays clear.
  expect_pixels(gif(1, 1, {1}, -1, false, 2, 1, 1, 0), 2, 1, bgra({0x00000000, 0xFF00FF00}), "offset frame");
}

// Baseline TIFF in strips, uncompressed.
struct Tag {
  u16 id, type;
  u32 count;
  std::vector<u32> values;
};

Bytes tiff(bool big, std::vector<Tag> tags, const Bytes& pixels) {
  Writer f;
  f.big = big;
  f.text(big ? "MM" : "II");
  f.u16_(42);
  f.u32_(8);
  const u32 entries = u32(tags.size()) + 2;  // and the strip offset and byte count
  const u32 ifd_size = 2 + entries * 12 + 4;
  u32 extra_at = 8 + ifd_size;
  Bytes extra;
  Writer xw;
  xw.big = big;
  tags.push_back({273, 4, 1, {0}});
  tags.push_back({279, 4, 1, {u32(pixels.size())}});
  std::sort(tags.begin(), tags.end(), [](const Tag& a, const Tag& b) { return a.id < b.id; });
  // Values that do not fit in 4 bytes go after the directory.
  for (auto& t : tags) {
    u32 size = t.type == 3 ? 2 : 4;
    if (t.count * size > 4) {
      u32 at = extra_at + u32(xw.b.size());
      for (u32 v : t.values) size == 2 ? xw.u16_(v) : xw.u32_(v);
      t.values = {at};
      t.type = t.type == 3 ? u16(3 | 0x100) : t.type;  // marks an offset
    }
  }
  const u32 pixels_at = extra_at + u32(xw.b.size());
  f.u16_(entries);
  for (auto& t : tags) {
    if (t.id == 273) t.values = {pixels_at};
    const bool offset = t.type & 0x100;
    const u16 type = u16(t.type & 0xFF);
    f.u16_(t.id);
    f.u16_(type);
    f.u32_(t.count);
    if (offset || type == 4) {
      f.u32_(t.values[0]);
    } else {
      f.u16_(t.values[0]);
      f.u16_(t.count > 1 ? t.values[1] : 0);
    }
  }
  f.u32_(0);
  f.bytes(xw.b);
  f.bytes(pixels);
  return f.b;
}

TEST(ImageCodecs, TiffFixtures) {
  Bytes rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 0x80, 0x40, 0x20};
  for (bool big : {false, true}) {
    std::vector<Tag> tags = {{256, 3, 1, {3}}, {257, 3, 1, {2}}, {258, 3, 3, {8, 8, 8}}, {259, 3, 1, {1}},
                             {262, 3, 1, {2}}, {277, 3, 1, {3}}, {278, 3, 1, {2}}, {284, 3, 1, {1}}};
    expect_pixels(tiff(big, tags, rgb), 3, 2, six(), big ? "RGB big-endian" : "RGB little-endian");
  }
  // Four-bit palette (the general reader): 16 red, 16 green, 16 blue values of 16 bits.
  std::vector<u32> map(48, 0);
  map[0] = 0xFFFF;       // entry 0 red
  map[16 + 1] = 0xFFFF;  // entry 1 green
  map[32 + 2] = 0xFFFF;  // entry 2 blue
  std::vector<Tag> tags = {{256, 3, 1, {3}}, {257, 3, 1, {1}}, {258, 3, 1, {4}}, {259, 3, 1, {1}},
                           {262, 3, 1, {3}}, {277, 3, 1, {1}}, {278, 3, 1, {1}}, {320, 3, 48, map}};
  expect_pixels(tiff(false, tags, {0x01, 0x20}), 3, 1, bgra({0xFFFF0000, 0xFF00FF00, 0xFF0000FF}), "palette");
}

// ---- round trips

// 17 x 5 pixels: every channel varies, with clear, half and opaque pixels.
Bytes sample(bool opaque_only) {
  Bytes out;
  for (u32 y = 0; y < 5; y++)
    for (u32 x = 0; x < 17; x++) {
      u32 a = opaque_only ? 255 : (x % 3 == 0 ? 0 : x % 3 == 1 ? 0x80 : 255);
      if (a == 0) {
        out.insert(out.end(), {0, 0, 0, 0});
        continue;
      }
      out.insert(out.end(), {u8(x * 15), u8(y * 60), u8(255 - x * 15), u8(a)});
    }
  return out;
}

Bytes round_trip(img::Format f, const Bytes& px, u32 w, u32 h) {
  Bytes file;
  EXPECT_TRUE(img::encode(f, w, h, px.data(), &file)) << f;
  img::Pixels back;
  EXPECT_TRUE(img::decode(file.data(), file.size(), &back)) << f;
  EXPECT_EQ(back.width, w);
  EXPECT_EQ(back.height, h);
  return back.bgra;
}

TEST(ImageCodecs, LosslessRoundTripsKeepTransparency) {
  Bytes px = sample(false);
  for (img::Format f : {img::kPng, img::kBmp, img::kTiff}) EXPECT_EQ(round_trip(f, px, 17, 5), px) << f;
}

TEST(ImageCodecs, GifKeepsFewColoursAndClearPixels) {
  // Clear and opaque pixels of fewer than 256 colours come back exactly.
  Bytes px = sample(false);
  for (std::size_t i = 3; i < px.size(); i += 4)
    if (px[i] == 0x80) px[i] = 255;
  EXPECT_EQ(round_trip(img::kGif, px, 17, 5), px);
  // More than 256 colours: a palette of at most 256, each pixel near its own.
  Bytes many;
  for (u32 y = 0; y < 64; y++)
    for (u32 x = 0; x < 64; x++) many.insert(many.end(), {u8(x * 4), u8(y * 4), u8((x + y) * 2), 255});
  Bytes back = round_trip(img::kGif, many, 64, 64);
  std::vector<u32> seen;
  int worst = 0;
  for (std::size_t i = 0; i < many.size(); i += 4) {
    u32 v;
    std::memcpy(&v, &back[i], 4);
    if (std::find(seen.begin(), seen.end(), v) == seen.end()) seen.push_back(v);
    for (int c = 0; c < 3; c++) worst = std::max(worst, std::abs(int(back[i + c]) - int(many[i + c])));
    EXPECT_EQ(back[i + 3], 255);
  }
  EXPECT_LE(seen.size(), 256u);
  EXPECT_LE(worst, 40);
}

TEST(ImageCodecs, JpegIsCloseAndOpaque) {
  Bytes px = sample(true);
  Bytes back = round_trip(img::kJpeg, px, 17, 5);
  ASSERT_EQ(back.size(), px.size());
  for (std::size_t i = 0; i < px.size(); i += 4) {
    for (int c = 0; c < 3; c++) EXPECT_NEAR(back[i + c], px[i + c], 24) << i;
    EXPECT_EQ(back[i + 3], 255);
  }
  // Transparency is dropped, not turned into colour.
  Bytes clear = sample(false);
  Bytes file;
  ASSERT_TRUE(img::encode(img::kJpeg, 17, 5, clear.data(), &file));
  EXPECT_EQ(img::sniff(file.data(), file.size()), img::kJpeg);
}

TEST(ImageCodecs, SniffsSignatures) {
  struct Case {
    Bytes head;
    int format;
  };
  const Case cases[] = {
      {{0x89, 'P', 'N', 'G'}, img::kPng},    {{0xFF, 0xD8, 0xFF, 0xE0}, img::kJpeg},
      {{'B', 'M', 0, 0}, img::kBmp},         {{'G', 'I', 'F', '8', '7', 'a'}, img::kGif},
      {{'G', 'I', 'F', '8', '9', 'a'}, img::kGif}, {{'I', 'I', 42, 0}, img::kTiff},
      {{'M', 'M', 0, 42}, img::kTiff},       {{'G', 'I', 'F', '8', '8', 'a'}, -1},
      {{0x89, 'P', 'N'}, -1},                {{'B'}, -1},
      {{}, -1},                              {{'I', 'I', 0, 42}, -1},
  };
  for (const auto& c : cases) EXPECT_EQ(img::sniff(c.head.data(), c.head.size()), c.format);
}

// ---- damaged files

TEST(ImageCodecs, DamagedFilesAreRefusedOrRead) {
  Bytes px = sample(false);
  for (int f = 0; f < img::kFormatCount; f++) {
    Bytes file;
    ASSERT_TRUE(img::encode(img::Format(f), 17, 5, px.data(), &file)) << f;
    // Cut short: the headers alone are never enough.
    for (std::size_t keep : {std::size_t(0), std::size_t(3), std::size_t(8), std::size_t(20), file.size() / 3}) {
      Bytes cut(file.begin(), file.begin() + long(std::min(keep, file.size())));
      img::Pixels out;
      bool ok = img::decode(cut.data(), cut.size(), &out);
      if (keep < 26) {
        EXPECT_FALSE(ok) << f << " cut at " << keep;
      }
      EXPECT_EQ(out.bgra.size(), ok ? std::size_t(out.width) * out.height * 4 : 0u);
    }
    // Bytes changed here and there: whatever comes back is consistent.
    u32 seed = 12345;
    for (int round = 0; round < 200; round++) {
      Bytes bad = file;
      for (int k = 0; k < 4; k++) {
        seed = seed * 1103515245 + 12345;
        bad[(seed >> 8) % bad.size()] = u8(seed >> 20);
      }
      img::Pixels out;
      bool ok = img::decode(bad.data(), bad.size(), &out);
      EXPECT_EQ(out.bgra.size(), ok ? std::size_t(out.width) * out.height * 4 : 0u);
    }
  }
}

TEST(ImageCodecs, ClaimedSizesBeyondTheLimitAreRefused) {
  // A BMP claiming 60000 x 60000 pixels in a few bytes.
  Bytes huge = bmp(60000, 60000, 24, 0, {}, {}, {1, 2, 3, 4});
  img::Pixels out;
  const u64 before = img::pixel_limit();
  img::set_pixel_limit(1 << 20);
  EXPECT_FALSE(img::decode(huge.data(), huge.size(), &out));
  // A GIF screen of 65535 x 65535.
  Bytes g = gif(1, 1, {1}, -1, false, 65535, 65535);
  EXPECT_FALSE(img::decode(g.data(), g.size(), &out));
  img::set_pixel_limit(before);
  // Sides of 0 are no image.
  EXPECT_FALSE(img::decode(bmp(0, 1, 24, 0, {}, {}, {0, 0, 0, 0}).data(), 58, &out));
}

}  // namespace
}  // namespace zot
