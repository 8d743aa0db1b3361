// Checksums of bytes: CRC-32 (the one of zlib and gzip), Adler-32 and the
// Internet checksum. Pure functions of their input.
#pragma once

#include "runtime/base.h"

namespace zot::checksum {

// Reflected CRC-32, polynomial 0xEDB88320, initial and final XOR 0xFFFFFFFF.
u32 crc32(const u8* bytes, std::size_t length);
// Continues a CRC-32: crc32_update(crc32(a), b) == crc32(a followed by b).
u32 crc32_update(u32 crc, const u8* bytes, std::size_t length);

// Adler-32: b << 16 | a; an empty input gives 1.
u32 adler32(const u8* bytes, std::size_t length);

// Internet checksum: ones' complement of the ones'-complement sum of the
// input as big-endian 16-bit words (an odd last byte is a word's high byte).
u16 tcp(const u8* bytes, std::size_t length);

}  // namespace zot::checksum
