#include "runtime/digest.h"

#include "platform/crypto.h"
#include "runtime/cell.h"
#include "runtime/errors.h"

namespace zot::digest {

namespace {

platform::DigestKind kind_of(int method) {
  if (method < kFirstMethod || method > kLastMethod) {
    Cell c;
    set_integer(&c, method);
    raise_error(Err::ScriptInvalidArg, &c);
  }
  return platform::DigestKind(method - kFirstMethod);
}

u32 run(int method, const platform::Bytes* pieces, int count, u8* out) {
  u32 n = platform::digest(kind_of(method), pieces, count, out);
  if (n == 0) raise_error(Err::InternalFeatureNa);
  return n;
}

}  // namespace

u32 size_of(int method) {
  static const u32 kSizes[] = {16, 20, 32, 48, 64};
  return method >= kFirstMethod && method <= kLastMethod ? kSizes[method - kFirstMethod] : 0;
}

u32 compute(int method, const u8* data, std::size_t length, u8* out) {
  platform::Bytes piece{data, length};
  return run(method, &piece, 1, out);
}

u32 hmac(int method, const u8* data, std::size_t length, const u8* key, std::size_t key_length, u8* out) {
  const std::size_t block = method >= 5 ? 128 : 64;
  u8 short_key[kMaxSize];
  if (key_length > block) {
    key_length = compute(method, key, key_length, short_key);
    key = short_key;
  }
  u8 inner_pad[128] = {}, outer_pad[128] = {};
  for (std::size_t i = 0; i < key_length; i++) inner_pad[i] = outer_pad[i] = key[i];
  for (std::size_t i = 0; i < block; i++) {
    inner_pad[i] ^= 0x36;
    outer_pad[i] ^= 0x5C;
  }
  u8 inner[kMaxSize];
  platform::Bytes in_pieces[] = {{inner_pad, block}, {data, length}};
  u32 n = run(method, in_pieces, 2, inner);
  platform::Bytes out_pieces[] = {{outer_pad, block}, {inner, n}};
  return run(method, out_pieces, 2, out);
}

}  // namespace zot::digest
