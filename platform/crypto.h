// Digests and secure random bytes from the OS and its crypto library.
#pragma once

#include "runtime/base.h"

namespace zot::platform {

enum class DigestKind : u8 { kMd5, kSha1, kSha256, kSha384, kSha512 };
constexpr u32 kMaxDigestSize = 64;

// A piece of the data being digested.
struct Bytes {
  const u8* data;
  std::size_t length;
};

// The digest of the concatenated pieces into out (kMaxDigestSize bytes of
// room); returns its size in bytes, 0 when the crypto library refuses (an
// algorithm switched off by the system's policy).
u32 digest(DigestKind kind, const Bytes* pieces, int count, u8* out);

// The soname of the crypto library when it cannot be opened (it is opened on
// first use), else null; digest() then answers 0.
const char* missing_crypto_library();

// Fills buf with bytes from the kernel's secure source (blocks only until the
// source is first seeded at boot); false when the kernel cannot give them.
bool secure_random(void* buf, std::size_t length);

}  // namespace zot::platform
