#include "runtime/checksum.h"

#include <array>

namespace zot::checksum {

namespace {

// Eight tables: table 0 is the byte-wise one; table k gives the CRC of a byte
// followed by k zero bytes, so eight input bytes fold in one step.
using CrcTables = std::array<std::array<u32, 256>, 8>;

constexpr CrcTables make_tables() {
  CrcTables t{};
  for (u32 i = 0; i < 256; i++) {
    u32 c = i;
    for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[0][i] = c;
  }
  for (u32 i = 0; i < 256; i++)
    for (int k = 1; k < 8; k++) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  return t;
}

constexpr CrcTables kCrc = make_tables();

}  // namespace

u32 crc32_update(u32 crc, const u8* p, std::size_t n) {
  u32 c = ~crc;
  while (n >= 8) {
    u32 lo = c ^ (u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24);
    u32 hi = u32(p[4]) | u32(p[5]) << 8 | u32(p[6]) << 16 | u32(p[7]) << 24;
    c = kCrc[7][lo & 0xFF] ^ kCrc[6][(lo >> 8) & 0xFF] ^ kCrc[5][(lo >> 16) & 0xFF] ^ kCrc[4][lo >> 24] ^
        kCrc[3][hi & 0xFF] ^ kCrc[2][(hi >> 8) & 0xFF] ^ kCrc[1][(hi >> 16) & 0xFF] ^ kCrc[0][hi >> 24];
    p += 8;
    n -= 8;
  }
  while (n--) c = (c >> 8) ^ kCrc[0][(c ^ *p++) & 0xFF];
  return ~c;
}

u32 crc32(const u8* bytes, std::size_t length) { return crc32_update(0, bytes, length); }

u32 adler32(const u8* p, std::size_t n) {
  constexpr u32 kMod = 65521;
  // The largest run of bytes after which b cannot pass 2^32 - 1.
  constexpr std::size_t kBlock = 5552;
  u32 a = 1, b = 0;
  while (n > 0) {
    std::size_t run = n < kBlock ? n : kBlock;
    n -= run;
    for (; run >= 16; run -= 16, p += 16)
      for (int k = 0; k < 16; k++) {
        a += p[k];
        b += a;
      }
    while (run--) {
      a += *p++;
      b += a;
    }
    a %= kMod;
    b %= kMod;
  }
  return b << 16 | a;
}

u16 tcp(const u8* p, std::size_t n) {
  u64 sum = 0;
  for (; n >= 2; n -= 2, p += 2) sum += u32(p[0]) << 8 | p[1];
  if (n) sum += u32(p[0]) << 8;
  while (sum >> 16) sum = (sum >> 16) + (sum & 0xFFFF);
  return u16(~sum & 0xFFFF);
}

}  // namespace zot::checksum
