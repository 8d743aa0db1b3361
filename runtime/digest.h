// Digests and HMAC over the OS crypto library. Methods are numbered by the
// checksum method index: 2 md5, 3 sha1, 4 sha256, 5 sha384, 6 sha512.
#pragma once

#include "runtime/base.h"

namespace zot::digest {

constexpr int kFirstMethod = 2;
constexpr int kLastMethod = 6;
constexpr u32 kMaxSize = 64;

// The digest size in bytes of a method (0 for another index).
u32 size_of(int method);

// The digest of the data into out (kMaxSize bytes of room); returns its size.
// Raises script/invalid-arg for an index outside 2..6 and internal/feature-na
// when the crypto library refuses the algorithm.
u32 compute(int method, const u8* data, std::size_t length, u8* out);

// HMAC of the data with the key (block of 128 bytes for sha384 and sha512,
// 64 for the others; a longer key is replaced by its digest).
u32 hmac(int method, const u8* data, std::size_t length, const u8* key, std::size_t key_length, u8* out);

}  // namespace zot::digest
