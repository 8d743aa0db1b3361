// The inflater: stored, fixed and dynamic blocks. Huffman codes decode through
// a root table indexed by the next bits of input, with second-level tables
// for the longer codes. Every read is checked against the input's end and
// every write against the destination's capacity; bad code lengths,
// over-subscribed or incomplete codes and impossible distances end with a
// status.
#include <array>

#include "runtime/deflate.h"

namespace zot::deflate {

namespace {

constexpr u8 kInvalid = 0xFF;

// A decoding table entry: op 0 a symbol of bits length; op kInvalid no code;
// any other op links to a second-level table of op index bits at value.
struct Entry {
  u16 value;
  u8 bits;
  u8 op;
};

constexpr int kLitRoot = 10;
constexpr int kDistRoot = 8;
constexpr int kLenRoot = 7;
// Room for the second-level tables: in a complete code, a second-level table
// of n index bits holds at least n + 1 symbols, so 288 symbols need at most
// 48 tables of 32 entries beside the root, and 32 distance symbols at most 4
// tables of 128.
constexpr int kLitCapacity = (1 << kLitRoot) + 48 * 32;
constexpr int kDistCapacity = (1 << kDistRoot) + 4 * 128;
constexpr int kLenCapacity = 1 << kLenRoot;

constexpr u16 kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr u8 kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr u16 kDistBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                               193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr u8 kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr u8 kLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

u32 reverse_bits(u32 code, int length) {
  u32 r = 0;
  for (int i = 0; i < length; i++, code >>= 1) r = (r << 1) | (code & 1);
  return r;
}

// Builds the table of a code from its lengths. An over-subscribed code is
// refused, and so is an incomplete one, except a code of a single symbol of
// length 1 when single is allowed (its other code decodes as invalid) and a
// code with no symbols at all when empty is allowed.
bool build(const u8* lengths, int n, int root, Entry* table, int capacity, bool single, bool empty) {
  int count[16] = {};
  for (int i = 0; i < n; i++) count[lengths[i]]++;
  count[0] = 0;
  int max = 15;
  while (max > 0 && count[max] == 0) max--;
  const int root_size = 1 << root;
  for (int i = 0; i < root_size; i++) table[i] = {0, 0, kInvalid};
  if (max == 0) return empty;
  int left = 1;
  for (int len = 1; len <= 15; len++) {
    left = (left << 1) - count[len];
    if (left < 0) return false;
  }
  if (left > 0 && !(single && max == 1)) return false;

  u32 next[16] = {};
  for (int len = 1, code = 0; len <= 15; len++) {
    code = (code + count[len - 1]) << 1;
    next[len] = u32(code);
  }
  u32 codes[320];
  u8 need[1 << kLitRoot] = {};  // second-level index bits by root prefix
  for (int s = 0; s < n; s++) {
    int len = lengths[s];
    if (!len) continue;
    codes[s] = reverse_bits(next[len]++, len);
    if (len > root) {
      u32 prefix = codes[s] & u32(root_size - 1);
      if (len - root > need[prefix]) need[prefix] = u8(len - root);
    }
  }
  int free_at = root_size;
  for (int prefix = 0; prefix < root_size && max > root; prefix++) {
    if (!need[prefix]) continue;
    int sub = 1 << need[prefix];
    if (free_at + sub > capacity) return false;
    table[prefix] = {u16(free_at), u8(root), need[prefix]};
    for (int i = 0; i < sub; i++) table[free_at + i] = {0, 0, kInvalid};
    free_at += sub;
  }
  for (int s = 0; s < n; s++) {
    int len = lengths[s];
    if (!len) continue;
    Entry e{u16(s), u8(len), 0};
    if (len <= root) {
      for (u32 i = codes[s]; i < u32(root_size); i += 1u << len) table[i] = e;
    } else {
      const Entry& link = table[codes[s] & u32(root_size - 1)];
      u32 sub = 1u << link.op;
      for (u32 i = codes[s] >> root; i < sub; i += 1u << (len - root)) table[link.value + i] = e;
    }
  }
  return true;
}

struct FixedTables {
  std::array<Entry, kLitCapacity> lit;
  std::array<Entry, kDistCapacity> dist;
  FixedTables() {
    u8 lengths[288];
    for (int i = 0; i < 288; i++) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    build(lengths, 288, kLitRoot, lit.data(), kLitCapacity, false, false);
    // All 32 five-bit codes: codes 30 and 31 decode, and are refused as distances.
    u8 d[32];
    for (u8& x : d) x = 5;
    build(d, 32, kDistRoot, dist.data(), kDistCapacity, false, false);
  }
};

const FixedTables& fixed_tables() {
  static const FixedTables t;
  return t;
}

struct Inflater {
  u8* out;
  std::size_t capacity;
  std::size_t produced = 0;
  const u8* in;
  const u8* in_end;
  u64 buffer = 0;
  int bits = 0;

  std::array<Entry, kLitCapacity> lit_table;
  std::array<Entry, kDistCapacity> dist_table;
  const Entry* lit = nullptr;
  const Entry* dist = nullptr;

  // Tops the bit buffer up to at least 56 bits while input remains. Bits
  // above `bits` may hold the next input bits already: they are the same
  // bits that a later refill ORs in again.
  ZOT_INLINE void refill() {
    if (bits > 56) return;
    if (ZOT_LIKELY(in_end - in >= 8)) {
      u64 v;
      std::memcpy(&v, in, 8);
      buffer |= v << bits;
      in += (63 - bits) >> 3;
      bits |= 56;
    } else {
      while (bits <= 56 && in < in_end) {
        buffer |= u64(*in++) << bits;
        bits += 8;
      }
    }
  }
  ZOT_INLINE void drop(int n) {
    buffer >>= n;
    bits -= n;
  }
  // n (<= 32) bits; false when the input ends first.
  ZOT_INLINE bool take(int n, u32* v) {
    refill();
    if (bits < n) return false;
    *v = u32(buffer & ((u64(1) << n) - 1));
    drop(n);
    return true;
  }

  // The next symbol of a code: its status is kOk, kBadFormat when the input
  // ends inside the code, or kBadCode for a code the table does not have.
  ZOT_INLINE int decode(const Entry* table, int root, u32* symbol) {
    refill();
    Entry e = table[buffer & ((1u << root) - 1)];
    if (e.op != 0 && e.op != kInvalid) e = table[e.value + ((buffer >> root) & ((1u << e.op) - 1))];
    if (e.op == kInvalid) return bits < 15 ? kBadFormat : kBadCode;
    if (e.bits > bits) return kBadFormat;
    drop(e.bits);
    *symbol = e.value;
    return kOk;
  }

  ZOT_INLINE void put(u8 b) {
    if (produced < capacity) out[produced] = b;
    produced++;
  }

  // A copy of length bytes from distance back: the source is always inside
  // what was produced, and nothing is stored past the capacity.
  ZOT_INLINE void copy(std::size_t length, std::size_t distance) {
    if (ZOT_LIKELY(produced + length + 8 <= capacity)) {
      u8* o = out + produced;
      const u8* s = o - distance;
      if (distance >= 8) {
        for (std::size_t i = 0; i < length; i += 8) std::memcpy(o + i, s + i, 8);
      } else if (distance == 1) {
        std::memset(o, *s, length);
      } else {
        for (std::size_t i = 0; i < length; i++) o[i] = s[i];
      }
    } else {
      for (std::size_t i = 0; i < length; i++) {
        std::size_t at = produced + i;
        if (at < capacity) out[at] = out[at - distance];
      }
    }
    produced += length;
  }

  int stored() {
    drop(bits & 7);
    u32 len, nlen;
    if (!take(16, &len) || !take(16, &nlen)) return kBadFormat;
    // The whole bytes still in the buffer go back to the input.
    in -= bits >> 3;
    buffer = 0;
    bits = 0;
    if (std::size_t(in_end - in) < len) return kStoredOverrun;
    if (produced < capacity) {
      std::size_t room = capacity - produced;
      std::memcpy(out + produced, in, len < room ? len : room);
    }
    produced += len;
    in += len;
    return kOk;
  }

  int dynamic() {
    u32 hlit, hdist, hclen;
    if (!take(5, &hlit) || !take(5, &hdist) || !take(4, &hclen)) return kBadFormat;
    hlit += 257;
    hdist += 1;
    hclen += 4;
    u8 cl[19] = {};
    for (u32 i = 0; i < hclen; i++) {
      u32 v;
      if (!take(3, &v)) return kBadFormat;
      cl[kLengthOrder[i]] = u8(v);
    }
    Entry len_table[kLenCapacity];
    if (!build(cl, 19, kLenRoot, len_table, kLenCapacity, false, false)) return kBadCode;
    u8 lengths[320] = {};
    const u32 total = hlit + hdist;
    for (u32 i = 0; i < total;) {
      u32 sym;
      if (int st = decode(len_table, kLenRoot, &sym)) return st;
      if (sym < 16) {
        lengths[i++] = u8(sym);
        continue;
      }
      u32 repeat, extra;
      u8 value = 0;
      if (sym == 16) {
        if (i == 0) return kBadCode;
        value = lengths[i - 1];
        if (!take(2, &extra)) return kBadFormat;
        repeat = 3 + extra;
      } else if (sym == 17) {
        if (!take(3, &extra)) return kBadFormat;
        repeat = 3 + extra;
      } else {
        if (!take(7, &extra)) return kBadFormat;
        repeat = 11 + extra;
      }
      if (i + repeat > total) return kBadCode;
      while (repeat--) lengths[i++] = value;
    }
    if (lengths[256] == 0) return kBadCode;  // a block that could never end
    if (!build(lengths, int(hlit), kLitRoot, lit_table.data(), kLitCapacity, true, false)) return kBadCode;
    if (!build(lengths + hlit, int(hdist), kDistRoot, dist_table.data(), kDistCapacity, true, true)) return kBadCode;
    lit = lit_table.data();
    dist = dist_table.data();
    return kOk;
  }

  // The symbols of a block up to its end-of-block code.
  int data() {
    for (;;) {
      u32 sym;
      if (int st = decode(lit, kLitRoot, &sym)) return st;
      if (sym < 256) {
        put(u8(sym));
        continue;
      }
      if (sym == 256) return kOk;
      sym -= 257;
      if (sym >= 29) return kBadCode;
      u32 extra;
      if (!take(kLengthExtra[sym], &extra)) return kBadFormat;
      std::size_t length = kLengthBase[sym] + extra;
      u32 dsym;
      if (int st = decode(dist, kDistRoot, &dsym)) return st;
      if (dsym >= 30) return kBadDistance;  // codes 30 and 31 name no distance
      if (!take(kDistExtra[dsym], &extra)) return kBadFormat;
      std::size_t distance = kDistBase[dsym] + extra;
      if (distance > produced) return kBadDistance;
      copy(length, distance);
    }
  }

  int run() {
    for (;;) {
      refill();
      // The input ends cleanly between blocks when no whole byte is left.
      if (in == in_end && bits < 8) return kOk;
      u32 final_block, type;
      if (!take(1, &final_block) || !take(2, &type)) return kBadFormat;
      int st;
      switch (type) {
        case 0:
          st = stored();
          break;
        case 1:
          lit = fixed_tables().lit.data();
          dist = fixed_tables().dist.data();
          st = data();
          break;
        case 2:
          st = dynamic();
          if (st == kOk) st = data();
          break;
        default:
          return kBadBlockType;
      }
      if (st != kOk) return st;
      if (final_block) return kOk;
    }
  }
};

}  // namespace

int inflate(u8* dst, std::size_t* size, const u8* src, std::size_t length) {
  Inflater z;
  z.out = dst;
  z.capacity = dst ? *size : 0;
  z.in = src;
  z.in_end = src + length;
  int st = z.run();
  *size = z.produced;
  if (st == kOk && z.produced > z.capacity) st = kTooSmall;
  return st;
}

}  // namespace zot::deflate
