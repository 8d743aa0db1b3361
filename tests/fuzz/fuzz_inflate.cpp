// Fuzzing the inflater: arbitrary bytes are inflated raw, as zlib data and as
// gzip data, into a buffer of a size taken from the input, measured first and
// filled again; whatever inflates must survive a round trip through the
// encoder. A damaged stream ends in a status, never in a read or write out
// of bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "runtime/deflate.h"

namespace {

using Codec = int (*)(zot::u8*, std::size_t*, const zot::u8*, std::size_t);

void check(Codec decode, const uint8_t* data, size_t size, size_t capacity) {
  std::vector<zot::u8> out(capacity);
  std::size_t n = capacity;
  int st = decode(capacity ? out.data() : nullptr, &n, data, size);
  if (st != zot::deflate::kOk) return;
  out.resize(n);
  std::size_t packed_size = 0;
  zot::deflate::compress(nullptr, &packed_size, out.data(), out.size());
  std::vector<zot::u8> packed(packed_size);
  if (zot::deflate::compress(packed.data(), &packed_size, out.data(), out.size()) != zot::deflate::kOk) abort();
  std::vector<zot::u8> back(out.size());
  std::size_t m = back.size();
  if (zot::deflate::inflate(back.data(), &m, packed.data(), packed_size) != zot::deflate::kOk) abort();
  if (m != out.size() || back != out) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks a capacity: none (measuring), small, or roomy.
  size_t capacity = data[0] < 64 ? 0 : data[0] < 128 ? data[0] : size_t(data[0]) * 256;
  data++;
  size--;
  for (Codec decode : {zot::deflate::inflate, zot::deflate::decompress_zlib, zot::deflate::decompress_gzip}) {
    std::size_t needed = 0;
    int st = decode(nullptr, &needed, data, size);
    check(decode, data, size, capacity);
    if ((st == zot::deflate::kOk || st == zot::deflate::kTooSmall) && needed <= (1u << 24))
      check(decode, data, size, needed);
  }
  return 0;
}
