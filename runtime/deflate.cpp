// The deflate encoder: one final block with the fixed Huffman codes, greedy
// matching through a small hash table of recent positions.
#include <array>

#include "runtime/deflate.h"

namespace zot::deflate {

namespace {

constexpr std::size_t kMinMatch = 3;
constexpr std::size_t kMaxMatch = 258;
constexpr std::size_t kWindow = 32768;  // distances stay below this
constexpr u32 kBuckets = 1024;
constexpr u32 kSlots = 4;

// A code of the fixed Huffman alphabet with its extra bits, already in the
// order the bit stream takes it (code bits reversed, then the extra bits).
struct Emit {
  u32 bits;
  u32 count;
};

constexpr u32 reverse(u32 code, u32 length) {
  u32 r = 0;
  for (u32 i = 0; i < length; i++, code >>= 1) r = (r << 1) | (code & 1);
  return r;
}

constexpr Emit fixed_symbol(u32 symbol) {
  if (symbol <= 143) return {reverse(0x30 + symbol, 8), 8};
  if (symbol <= 255) return {reverse(0x190 + symbol - 144, 9), 9};
  if (symbol <= 279) return {reverse(symbol - 256, 7), 7};
  return {reverse(0xC0 + symbol - 280, 8), 8};
}

constexpr u16 kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr u8 kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

struct Tables {
  std::array<Emit, 256> literal{};
  std::array<Emit, kMaxMatch + 1> length{};  // by match length
};

constexpr Tables make_tables() {
  Tables t{};
  for (u32 b = 0; b < 256; b++) t.literal[b] = fixed_symbol(b);
  for (u32 code = 0; code < 29; code++) {
    u32 first = kLengthBase[code];
    u32 last = code == 28 ? 258 : kLengthBase[code + 1] - 1;
    Emit sym = fixed_symbol(257 + code);
    for (u32 l = first; l <= last; l++) t.length[l] = {sym.bits | (l - first) << sym.count, sym.count + kLengthExtra[code]};
  }
  return t;
}

constexpr Tables kTables = make_tables();

// Distance d (1..32767): the 5-bit code and its extra bits.
ZOT_INLINE Emit distance_code(u32 d) {
  u32 v = d - 1;
  if (v < 4) return {reverse(v, 5), 5};
  u32 n = 31 - u32(__builtin_clz(v));  // v has n + 1 significant bits
  u32 code = 2 * n + ((v >> (n - 1)) & 1);
  u32 extra = v & ((1u << (n - 1)) - 1);
  return {reverse(code, 5) | extra << 5, 5 + (n - 1)};
}

// Least-significant-bit-first output that keeps counting bytes past the end.
struct BitWriter {
  u8* out;
  std::size_t capacity;
  std::size_t pos = 0;
  u64 buffer = 0;
  u32 count = 0;

  ZOT_INLINE void put(u32 bits, u32 n) {
    buffer |= u64(bits) << count;
    count += n;
    if (count >= 32) {
      if (ZOT_LIKELY(pos + 4 <= capacity)) {
        u32 word = u32(buffer);
        std::memcpy(out + pos, &word, 4);
      } else {
        for (std::size_t i = 0; i < 4; i++)
          if (pos + i < capacity) out[pos + i] = u8(buffer >> (8 * i));
      }
      pos += 4;
      buffer >>= 32;
      count -= 32;
    }
  }
  // Writes the remaining bits, the last byte padded with zero bits.
  void flush() {
    while (count > 0) {
      if (pos < capacity) out[pos] = u8(buffer);
      pos++;
      buffer >>= 8;
      count = count > 8 ? count - 8 : 0;
    }
  }
};

// The key of the (up to) three bytes at p: missing bytes past the end read as 0.
ZOT_INLINE u32 key_at(const u8* p, const u8* end) {
  if (ZOT_LIKELY(end - p >= 3)) return u32(p[0]) << 16 | u32(p[1]) << 8 | p[2];
  u32 k = 0;
  for (int i = 0; i < 3; i++) k = k << 8 | (p + i < end ? p[i] : 0);
  return k;
}

ZOT_INLINE u32 bucket_of(u32 k) {
  u32 x = k;
  x ^= x >> 16;
  x *= 0x7FEB352Du;
  x ^= x >> 15;
  x *= 0x846CA68Bu;
  x ^= x >> 16;
  return x & (kBuckets - 1);
}

}  // namespace

int compress(u8* dst, std::size_t* size, const u8* src, std::size_t length) {
  // Positions + 1 of earlier steps (0: empty).
  u32 table[kBuckets][kSlots] = {};
  BitWriter w{dst, dst ? *size : 0};
  w.put(1, 1);  // BFINAL
  w.put(1, 2);  // BTYPE 01: fixed codes
  const u8* end = src + length;
  std::size_t pos = 0;
  while (pos < length) {
    const std::size_t start = pos;
    const u8* p = src + pos;
    const u32 bucket = bucket_of(key_at(p, end));
    bool matched = false;
    if (pos >= kMinMatch && length - pos >= kMinMatch) {
      for (u32 s = 0; s < kSlots; s++) {
        u32 slot = table[bucket][s];
        if (!slot) continue;
        std::size_t at = slot - 1;
        if (at >= pos || pos >= at + kWindow) continue;
        const u8* q = src + at;
        if (q[0] != p[0] || q[1] != p[1] || q[2] != p[2]) continue;
        std::size_t n = kMinMatch;
        std::size_t most = length - pos < kMaxMatch ? length - pos : kMaxMatch;
        while (n < most && q[n] == p[n]) n++;
        const Emit& l = kTables.length[n];
        w.put(l.bits, l.count);
        Emit d = distance_code(u32(pos - at));
        w.put(d.bits, d.count);
        pos += n;
        matched = true;
        break;
      }
    }
    if (!matched) {
      const Emit& lit = kTables.literal[*p];
      w.put(lit.bits, lit.count);
      pos++;
    }
    u32 k2 = key_at(src + pos, end);
    table[bucket][((k2 >> 14) - k2) & (kSlots - 1)] = u32(start + 1);
  }
  w.put(0, 7);  // end of block
  w.flush();
  std::size_t capacity = dst ? *size : 0;
  *size = w.pos;
  return w.pos > capacity ? kTooSmall : kOk;
}

}  // namespace zot::deflate
