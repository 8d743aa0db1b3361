// zlib and gzip framing around the raw deflate routines.
#include <initializer_list>

#include "runtime/checksum.h"
#include "runtime/deflate.h"

namespace zot::deflate {

namespace {

constexpr std::size_t kZlibOverhead = 6;   // 2 header bytes, 4 trailer bytes
constexpr std::size_t kGzipHeader = 10;
constexpr std::size_t kGzipOverhead = 18;  // 10 header bytes, 8 trailer bytes
// No deflate data expands more than this (a 258-byte copy in two bits).
constexpr u64 kMostExpansion = 1032;

void put_be32(u8* p, u32 v) {
  p[0] = u8(v >> 24);
  p[1] = u8(v >> 16);
  p[2] = u8(v >> 8);
  p[3] = u8(v);
}
void put_le32(u8* p, u32 v) {
  p[0] = u8(v);
  p[1] = u8(v >> 8);
  p[2] = u8(v >> 16);
  p[3] = u8(v >> 24);
}
u32 get_be32(const u8* p) { return u32(p[0]) << 24 | u32(p[1]) << 16 | u32(p[2]) << 8 | p[3]; }
u32 get_le32(const u8* p) { return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24; }

// Runs the encoder between a header and a trailer of the given sizes; the
// status and size cover the whole framed output.
int frame(u8* dst, std::size_t* size, const u8* src, std::size_t length, std::size_t header,
          std::size_t trailer, u8** trailer_at) {
  std::size_t capacity = dst ? *size : 0;
  std::size_t inner = capacity > header ? capacity - header : 0;
  int st = compress(dst && capacity > header ? dst + header : nullptr, &inner, src, length);
  *size = inner + header + trailer;
  if (st != kOk) return st;
  if (*size > capacity) return kTooSmall;
  *trailer_at = dst + header + inner;
  return kOk;
}

}  // namespace

int compress_zlib(u8* dst, std::size_t* size, const u8* src, std::size_t length) {
  std::size_t capacity = dst ? *size : 0;
  if (capacity >= 2) {
    dst[0] = 0x78;  // deflate, 32 KB window
    dst[1] = 0x01;  // no dictionary, fastest level; 0x7801 is a multiple of 31
  }
  u8* trailer;
  int st = frame(dst, size, src, length, 2, 4, &trailer);
  if (st != kOk) return st;
  put_be32(trailer, checksum::adler32(src, length));
  return kOk;
}

int decompress_zlib(u8* dst, std::size_t* size, const u8* src, std::size_t length) {
  if (length < kZlibOverhead) return kBadFormat;
  u32 cmf = src[0], flg = src[1];
  if ((cmf * 256 + flg) % 31 != 0 || (cmf & 0x0F) != 8 || (cmf & 0x80) || (flg & 0x20)) return kBadFormat;
  int st = inflate(dst, size, src + 2, length - kZlibOverhead);
  if (st != kOk) return st;
  return checksum::adler32(dst, *size) == get_be32(src + length - 4) ? kOk : kBadFormat;
}

int compress_gzip(u8* dst, std::size_t* size, const u8* src, std::size_t length) {
  static const u8 kHeader[kGzipHeader] = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 4, 4};
  std::size_t capacity = dst ? *size : 0;
  if (capacity >= kGzipHeader) std::memcpy(dst, kHeader, kGzipHeader);
  u8* trailer;
  int st = frame(dst, size, src, length, kGzipHeader, 8, &trailer);
  if (st != kOk) return st;
  put_le32(trailer, checksum::crc32(src, length));
  put_le32(trailer + 4, u32(length));
  return kOk;
}

int decompress_gzip(u8* dst, std::size_t* size, const u8* src, std::size_t length) {
  if (length < kGzipOverhead || src[0] != 0x1F || src[1] != 0x8B || src[2] != 8) return kBadFormat;
  const u8 flags = src[3];
  if (flags & 0xE0) return kBadFormat;
  const std::size_t end = length - 8;  // the trailer
  std::size_t pos = kGzipHeader;
  if (flags & 0x04) {  // FEXTRA
    std::size_t xlen = std::size_t(src[10]) | std::size_t(src[11]) << 8;
    if (xlen + 2 > end - pos) return kBadFormat;
    pos += 2 + xlen;
  }
  for (u8 field : {u8(0x08), u8(0x10)}) {  // FNAME, FCOMMENT: NUL-terminated
    if (!(flags & field)) continue;
    while (pos < end && src[pos]) pos++;
    if (pos >= end) return kBadFormat;
    pos++;
  }
  if (flags & 0x02) {  // FHCRC: the low 16 bits of the CRC-32 of the header
    if (end - pos < 2) return kBadFormat;
    u32 want = u32(src[pos]) | u32(src[pos + 1]) << 8;
    if ((checksum::crc32(src, pos) & 0xFFFF) != want) return kBadFormat;
    pos += 2;
  }
  const u32 isize = get_le32(src + length - 4);
  // A length that no deflate data of this size can produce is a damaged trailer.
  if (u64(isize) > u64(end - pos) * kMostExpansion) return kBadFormat;
  std::size_t capacity = dst ? *size : 0;
  if (capacity < isize) {
    *size = isize;
    return kTooSmall;
  }
  std::size_t produced = capacity;
  int st = inflate(dst, &produced, src + pos, end - pos);
  if (st != kOk) {
    *size = produced;
    return st;
  }
  *size = isize;
  if (produced != isize) return kBadFormat;
  return checksum::crc32(dst, isize) == get_le32(src + end) ? kOk : kBadFormat;
}

}  // namespace zot::deflate
