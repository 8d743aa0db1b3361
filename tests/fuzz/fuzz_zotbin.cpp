// Fuzzing the ZOTBIN decoder. The first input byte is the header's flags
// byte (compact, compressed, symbol table) with bits of its own: 0x08
// decodes in boot mode; 0x10 wraps the rest in a compressed stream first, so
// that compressed payloads reach the record reader too (0x30: through the
// compressor, else as literals, which costs the fuzzer far less). The rest
// is the payload. Whatever
// decodes is encoded again in both layouts and decoded back. Bad input must
// end in a language error, never in a crash.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <vector>

#include "boot/compressor.h"
#include "boot/startup.h"
#include "boot/zotbin.h"
#include "boot/zotbin_codec.h"
#include "datatypes/block.h"
#include "runtime/stack.h"
#include "runtime/rooted.h"
#include "runtime/throw.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using zot::u8;

using fuzz::attempt;
using fuzz::Bottom;
using fuzz::set_up;

constexpr u8 kBootMode = 0x08;
constexpr u8 kCompressFirst = 0x10;
constexpr u8 kThroughCompressor = 0x20;

// A valid compressed stream of literals only.
std::vector<u8> literal_stream(const u8* data, std::size_t size) {
  std::vector<u8> out(8, 0);
  auto word = [&](std::size_t at, zot::u32 v) {
    for (int k = 0; k < 4; k++) out[at + std::size_t(k)] = u8(v >> (8 * k));
  };
  word(4, zot::u32(size));
  for (std::size_t from = 0; from < size;) {
    std::size_t n = std::min<std::size_t>(size - from, zot::compressor::kBlockMax);
    out.resize(out.size() + 4);
    word(out.size() - 4, zot::u32(n));
    zot::u64 buffer = 0;
    int bits = 0;
    for (std::size_t k = 0; k < n; k++) {
      buffer |= zot::u64(data[from + k]) << (bits + 1);  // flag 0, then the byte
      bits += 9;
      while (bits >= 8) {
        out.push_back(u8(buffer));
        buffer >>= 8;
        bits -= 8;
      }
    }
    if (bits) out.push_back(u8(buffer));
    from += n;
  }
  word(0, zot::u32(out.size() - 8));
  return out;
}
// Each decoded cell lives on (the collector does not run here): compressed
// payloads that would inflate past this are skipped.
constexpr std::size_t kMaxInflated = 1 << 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Bottom bottom = set_up();
  if (size < 1 || size > (1u << 16)) return 0;
  u8 flags = data[0];
  std::vector<u8> bin = {'Z', 'O', 'T', 'B', 'I', 'N', 2, u8(flags & 7)};
  if (flags & kCompressFirst) {
    std::vector<u8> packed(size - 1);
    zot::i64 n = -1;
    if (flags & kThroughCompressor) n = zot::compressor::compress(data + 1, zot::u32(size - 1), packed.data());
    if (n < 0) packed = literal_stream(data + 1, size - 1);
    else packed.resize(std::size_t(n));
    bin[7] |= zot::zotbin::kFlagCompressed;
    bin.insert(bin.end(), packed.begin(), packed.end());
  } else {
    if ((flags & zot::zotbin::kFlagCompressed) && size >= 9) {
      zot::u32 inflated = zot::u32(data[5]) | (zot::u32(data[6]) << 8) | (zot::u32(data[7]) << 16) |
                          (zot::u32(data[8]) << 24);
      if (inflated > kMaxInflated) return 0;
    }
    bin.insert(bin.end(), data + 1, data + size);
  }
  zot::Rooted decoded;
  bool ok = attempt(bottom, [&] {
    zot::block::make_at(&decoded.cell, 8);
    if (flags & kBootMode) {
      // Boot mode straight through the decoder: the root block stays as it is.
      std::vector<u8> inflated;
      const u8* payload = bin.data() + 8;
      const u8* end = bin.data() + bin.size();
      if (bin[7] & zot::zotbin::kFlagCompressed) {
        if (!zot::compressor::decompress(payload, bin.size() - 8, &inflated)) return;
        payload = inflated.data();
        end = payload + inflated.size();
      }
      zot::zotbin::Decoder d(payload, end, bin[7] & zot::zotbin::kFlagCompact, bin[7] & zot::zotbin::kFlagSymbols,
                             true, decoded);
      d.run();
    } else {
      zot::zotbin::decode(bin.data(), bin.size(), &decoded.cell);
    }
  });
  if (!ok) return 0;
  for (bool compact : {true, false}) {
    attempt(bottom, [&] {
      zot::Rooted again;
      zot::zotbin::encode(&decoded.cell, compact, &again.cell);
      zot::Rooted back;
      zot::zotbin::decode_value(&again.cell, &back.cell);
    });
  }
  return 0;
}
