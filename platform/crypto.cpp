// Digests through libcrypto's EVP interface (the library opened on first
// use); secure bytes from getrandom(2).
#include "platform/crypto.h"

#include <errno.h>
#include <openssl/evp.h>
#include <sys/random.h>

#include "platform/shared_library.h"

namespace zot::platform {

namespace {

struct Crypto {
  decltype(&::EVP_md5) EVP_md5;
  decltype(&::EVP_sha1) EVP_sha1;
  decltype(&::EVP_sha256) EVP_sha256;
  decltype(&::EVP_sha384) EVP_sha384;
  decltype(&::EVP_sha512) EVP_sha512;
  decltype(&::EVP_MD_CTX_new) EVP_MD_CTX_new;
  decltype(&::EVP_MD_CTX_free) EVP_MD_CTX_free;
  decltype(&::EVP_DigestInit_ex) EVP_DigestInit_ex;
  decltype(&::EVP_DigestUpdate) EVP_DigestUpdate;
  decltype(&::EVP_DigestFinal_ex) EVP_DigestFinal_ex;
  bool found;
};

const Crypto& crypto() {
  static const Crypto api = [] {
    static SharedLibrary lib(ZOT_SONAME_CRYPTO);
    Crypto c{};
    c.found = ZOT_FIND_FUNCTION(lib, c, EVP_md5) && ZOT_FIND_FUNCTION(lib, c, EVP_sha1) &&
              ZOT_FIND_FUNCTION(lib, c, EVP_sha256) && ZOT_FIND_FUNCTION(lib, c, EVP_sha384) &&
              ZOT_FIND_FUNCTION(lib, c, EVP_sha512) && ZOT_FIND_FUNCTION(lib, c, EVP_MD_CTX_new) &&
              ZOT_FIND_FUNCTION(lib, c, EVP_MD_CTX_free) && ZOT_FIND_FUNCTION(lib, c, EVP_DigestInit_ex) &&
              ZOT_FIND_FUNCTION(lib, c, EVP_DigestUpdate) && ZOT_FIND_FUNCTION(lib, c, EVP_DigestFinal_ex);
    return c;
  }();
  return api;
}

const EVP_MD* algorithm(const Crypto& api, DigestKind kind) {
  switch (kind) {
    case DigestKind::kMd5: return api.EVP_md5();
    case DigestKind::kSha1: return api.EVP_sha1();
    case DigestKind::kSha256: return api.EVP_sha256();
    case DigestKind::kSha384: return api.EVP_sha384();
    case DigestKind::kSha512: return api.EVP_sha512();
  }
  return api.EVP_sha256();
}

}  // namespace

const char* missing_crypto_library() { return crypto().found ? nullptr : ZOT_SONAME_CRYPTO; }

u32 digest(DigestKind kind, const Bytes* pieces, int count, u8* out) {
  const Crypto& api = crypto();
  if (!api.found) return 0;
  EVP_MD_CTX* ctx = api.EVP_MD_CTX_new();
  if (!ctx) return 0;
  unsigned size = 0;
  bool ok = api.EVP_DigestInit_ex(ctx, algorithm(api, kind), nullptr) == 1;
  for (int i = 0; ok && i < count; i++)
    if (pieces[i].length) ok = api.EVP_DigestUpdate(ctx, pieces[i].data, pieces[i].length) == 1;
  if (ok) ok = api.EVP_DigestFinal_ex(ctx, out, &size) == 1;
  api.EVP_MD_CTX_free(ctx);
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
