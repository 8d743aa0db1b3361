// BMP, our own: the Windows and OS/2 headers, 1, 4, 8 bits with a palette
// (RLE8 and RLE4 too), 16, 24 and 32 bits with or without bit fields, rows
// from the bottom or the top. Encoding writes 32-bit pixels with an alpha
// mask (the V5 header), rows from the bottom.
#include <algorithm>

#include "platform/image_codecs.h"

namespace zot::platform::image {

namespace {

enum Compression : u32 { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6 };

ZOT_INLINE u32 le16(const u8* p) { return u32(p[0]) | u32(p[1]) << 8; }
ZOT_INLINE u32 le32(const u8* p) { return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24; }

struct Channel {
  u32 mask = 0;
  int shift = 0;
  u32 max = 0;  // the largest value of the field

  explicit Channel(u32 m = 0) : mask(m) {
    if (!m) return;
    shift = __builtin_ctz(m);
    u32 bits = m >> shift;
    // Only the lowest run of set bits counts (masks are meant contiguous).
    max = bits & ~(bits + 1);
  }
  u8 get(u32 v, u8 missing) const {
    if (!mask) return missing;
    u64 f = ((v & mask) >> shift) & max;
    return u8((f * 255 + max / 2) / max);
  }
};

struct Layout {
  i64 width = 0, height = 0;  // height negative: rows from the top
  u32 bpp = 0, compression = 0;
  std::vector<u32> palette;  // 0xAARRGGBB, opaque
  Channel r, g, b, a;
  std::size_t pixels = 0;  // offset of the pixel data
};

bool read_layout(const u8* d, std::size_t size, Layout* L) {
  if (size < 14 + 12) return false;
  L->pixels = le32(d + 10);
  const u32 hs = le32(d + 14);
  const u8* h = d + 14;
  if (hs < 12 || hs > size - 14) return false;
  std::size_t palette_at = 14 + hs;
  u32 colours = 0;
  int entry = 4;
  if (hs == 12) {  // OS/2 core header
    L->width = le16(h + 4);
    L->height = le16(h + 6);
    L->bpp = le16(h + 10);
    entry = 3;
  } else {
    if (hs < 40) return false;
    L->width = i32(le32(h + 4));
    L->height = i32(le32(h + 8));
    L->bpp = le16(h + 14);
    L->compression = le32(h + 16);
    colours = le32(h + 32);
    if (L->compression == kBitFields || L->compression == kAlphaBitFields) {
      const u8* m = h + 40;
      std::size_t count = L->compression == kAlphaBitFields ? 4 : 3;
      if (hs == 40) {
        // The masks follow the header.
        if (size < palette_at + count * 4) return false;
        m = d + palette_at;
        palette_at += count * 4;
      } else if (hs < 52) {
        return false;
      } else if (hs < 56) {
        count = 3;
      }
      L->r = Channel(le32(m));
      L->g = Channel(le32(m + 4));
      L->b = Channel(le32(m + 8));
      if (count == 4 || hs >= 56) L->a = Channel(le32(m + 12));
    }
  }
  if (L->width < 1 || L->height == 0 || L->height == INT32_MIN) return false;
  if (!size_allowed(u64(L->width), u64(L->height < 0 ? -L->height : L->height))) return false;
  switch (L->bpp) {
    case 1: case 4: case 8: {
      const u32 most = 1u << L->bpp;
      if (colours == 0 || colours > most) colours = most;
      for (u32 i = 0; i < colours; i++) {
        std::size_t at = palette_at + std::size_t(i) * std::size_t(entry);
        // A short palette: the missing entries are black.
        u32 c = at + 3 <= size ? (u32(d[at + 2]) << 16 | u32(d[at + 1]) << 8 | d[at]) : 0;
        L->palette.push_back(0xFF000000u | c);
      }
      if (L->compression == kRle8 && L->bpp != 8) return false;
      if (L->compression == kRle4 && L->bpp != 4) return false;
      if (L->compression != kRgb && L->compression != kRle8 && L->compression != kRle4) return false;
      break;
    }
    case 16:
    case 32:
      if (L->compression == kRgb) {
        if (L->bpp == 16) {
          L->r = Channel(0x7C00);
          L->g = Channel(0x03E0);
          L->b = Channel(0x001F);
        } else {
          L->r = Channel(0x00FF0000);
          L->g = Channel(0x0000FF00);
          L->b = Channel(0x000000FF);
        }
        L->a = Channel(0);  // the fourth byte of plain 32-bit pixels is not alpha
      } else if (L->compression != kBitFields && L->compression != kAlphaBitFields) {
        return false;
      }
      break;
    case 24:
      if (L->compression != kRgb) return false;
      break;
    default:
      return false;
  }
  if ((L->compression == kRle8 || L->compression == kRle4) && L->height < 0) return false;
  return L->pixels < size;
}

// Row y of the file (in file order) is row `top` of the image.
ZOT_INLINE std::size_t image_row(const Layout& L, u64 y, u64 rows) { return L.height < 0 ? y : rows - 1 - y; }

void put(Pixels* out, u64 x, u64 row, u32 argb) {
  u8* p = out->bgra.data() + std::size_t((row * out->width + x) * 4);
  p[0] = u8(argb);
  p[1] = u8(argb >> 8);
  p[2] = u8(argb >> 16);
  p[3] = u8(argb >> 24);
}

bool decode_plain(const u8* d, std::size_t size, const Layout& L, Pixels* out) {
  const u64 w = out->width, rows = out->height;
  const u64 stride = ((w * L.bpp + 31) / 32) * 4;
  for (u64 y = 0; y < rows; y++) {
    const u64 at = L.pixels + y * stride;
    if (at + (w * L.bpp + 7) / 8 > size) return false;  // a short file
    const u8* s = d + at;
    const u64 row = image_row(L, y, rows);
    for (u64 x = 0; x < w; x++) {
      u32 c;
      switch (L.bpp) {
        case 1: case 4: case 8: {
          u64 bit = x * L.bpp;
          u32 idx = (s[bit / 8] >> (8 - L.bpp - bit % 8)) & ((1u << L.bpp) - 1);
          c = idx < L.palette.size() ? L.palette[idx] : 0xFF000000u;
          break;
        }
        case 24:
          c = 0xFF000000u | u32(s[x * 3 + 2]) << 16 | u32(s[x * 3 + 1]) << 8 | s[x * 3];
          break;
        default: {
          u32 v = L.bpp == 16 ? le16(s + x * 2) : le32(s + x * 4);
          c = u32(L.a.get(v, 255)) << 24 | u32(L.r.get(v, 0)) << 16 | u32(L.g.get(v, 0)) << 8 | L.b.get(v, 0);
        }
      }
      put(out, x, row, c);
    }
  }
  return true;
}

// Run-length data: pixels it skips stay clear.
bool decode_rle(const u8* d, std::size_t size, const Layout& L, Pixels* out) {
  const u64 w = out->width, rows = out->height;
  const bool four = L.compression == kRle4;
  std::size_t i = L.pixels;
  u64 x = 0, y = 0;
  auto colour = [&](u32 idx) { return idx < L.palette.size() ? L.palette[idx] : 0xFF000000u; };
  auto emit = [&](u32 idx) {
    if (x < w && y < rows) put(out, x, rows - 1 - y, colour(idx));
    x++;
  };
  while (i + 1 < size) {
    const u32 n = d[i], v = d[i + 1];
    i += 2;
    if (n > 0) {
      for (u32 k = 0; k < n; k++) emit(four ? (k % 2 ? v & 15 : v >> 4) : v);
      continue;
    }
    if (v == 0) {  // end of line
      x = 0;
      y++;
    } else if (v == 1) {  // end of bitmap
      return true;
    } else if (v == 2) {  // delta
      if (i + 1 >= size) return false;
      x += d[i];
      y += d[i + 1];
      i += 2;
    } else {  // v pixels given one by one, padded to 16 bits
      const std::size_t bytes = four ? (v + 1) / 2 : v;
      if (i + bytes > size) return false;
      for (u32 k = 0; k < v; k++) emit(four ? (k % 2 ? d[i + k / 2] & 15 : d[i + k / 2] >> 4) : d[i + k]);
      i += bytes + (bytes & 1);
    }
    if (y >= rows) return true;
  }
  // The data ended without its end marker: what was drawn stands.
  return true;
}

void put16(std::vector<u8>* o, u32 v) {
  o->push_back(u8(v));
  o->push_back(u8(v >> 8));
}
void put32(std::vector<u8>* o, u32 v) {
  put16(o, v & 0xFFFF);
  put16(o, v >> 16);
}

}  // namespace

bool decode_bmp(const u8* data, std::size_t size, Pixels* out) {
  Layout L;
  if (!read_layout(data, size, &L)) return false;
  out->width = u32(L.width);
  out->height = u32(L.height < 0 ? -L.height : L.height);
  out->bgra.assign(std::size_t(out->width) * out->height * 4, 0);
  if (L.compression == kRle8 || L.compression == kRle4) return decode_rle(data, size, L, out);
  return decode_plain(data, size, L, out);
}

bool encode_bmp(u32 width, u32 height, const u8* bgra, std::vector<u8>* out) {
  constexpr u32 kHeaders = 14 + 124;
  const u64 image = u64(width) * height * 4;
  if (kHeaders + image > 0xFFFFFFFFu) return false;
  out->clear();
  out->reserve(std::size_t(kHeaders + image));
  out->push_back('B');
  out->push_back('M');
  put32(out, u32(kHeaders + image));
  put32(out, 0);
  put32(out, kHeaders);
  put32(out, 124);
  put32(out, width);
  put32(out, height);  // positive: rows from the bottom
  put16(out, 1);
  put16(out, 32);
  put32(out, kBitFields);
  put32(out, u32(image));
  put32(out, 2835);  // 72 dots an inch
  put32(out, 2835);
  put32(out, 0);
  put32(out, 0);
  put32(out, 0x00FF0000);
  put32(out, 0x0000FF00);
  put32(out, 0x000000FF);
  put32(out, 0xFF000000);
  put32(out, 0x73524742);  // "sRGB"
  for (int i = 0; i < 12; i++) put32(out, 0);  // end points and gamma
  put32(out, 4);  // rendering intent: images
  put32(out, 0);
  put32(out, 0);
  put32(out, 0);
  for (u32 y = height; y-- > 0;) {
    const u8* row = bgra + std::size_t(y) * width * 4;
    out->insert(out->end(), row, row + std::size_t(width) * 4);
  }
  return true;
}

}  // namespace zot::platform::image
