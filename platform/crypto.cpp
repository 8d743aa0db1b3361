// Digests through libcrypto's EVP interface; secure bytes from getrandom(2).
#include "platform/crypto.h"

#include <errno.h>
#include <openssl/evp.h>
#include <sys/random.h>

namespace zot::platform {

namespace {

const EVP_MD* algorithm(DigestKind kind) {
  switch (kind) {
    case DigestKind::kMd5: return EVP_md5();
    case DigestKind::kSha1: return EVP_sha1();
    case DigestKind::kSha256: return EVP_sha256();
    case DigestKind::kSha384: return EVP_sha384();
    case DigestKind::kSha512: return EVP_sha512();
  }
  return EVP_sha256();
}

}  // namespace

u32 digest(DigestKind kind, const Bytes* pieces, int count, u8* out) {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  if (!ctx) return 0;
  unsigned size = 0;
  bool ok = EVP_DigestInit_ex(ctx, algorithm(kind), nullptr) == 1;
  for (int i = 0; ok && i < count; i++)
    if (pieces[i].length) ok = EVP_DigestUpdate(ctx, pieces[i].data, pieces[i].length) == 1;
  if (ok) ok = EVP_DigestFinal_ex(ctx, out, &size) == 1;
  EVP_MD_CTX_free(ctx);
  return ok && size <= kMaxDigestSize ? size : 0;
}

bool secure_random(void* buf, std::size_t length) {
  u8* p = static_cast<u8*>(buf);
  while (length > 0) {
    ssize_t n = getrandom(p, length, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    length -= std::size_t(n);
  }
  return true;
}

}  // namespace zot::platform
