#include "boot/compressor.h"

#include <algorithm>
#include <new>

namespace zot::compressor {

namespace {

constexpr u32 kHash3Bits = 0x7FFFF;   // 19 bits
constexpr u32 kHash4Bits = 0xFFFFF;   // 20 bits
constexpr u32 kHash3Heads = 0x80000;
constexpr u32 kHash4Heads = 0x100000;
constexpr u32 kChainMask = kWindow - 1;
constexpr u32 kChainTries = 256;
constexpr u32 kFarShortMatch = 65536;  // 3-byte matches farther than this are not worth their bits
// A match of 566 bytes costs 22 bits: no stream expands more than this.
constexpr u64 kMaxRatio = 256;

ZOT_INLINE u32 load32(const u8* p) {
  return u32(p[0]) | (u32(p[1]) << 8) | (u32(p[2]) << 16) | (u32(p[3]) << 24);
}

ZOT_INLINE void store32(u8* p, u32 v) {
  p[0] = u8(v);
  p[1] = u8(v >> 8);
  p[2] = u8(v >> 16);
  p[3] = u8(v >> 24);
}

// Least significant bit first; never reads at or past end.
class BitReader {
 public:
  BitReader(const u8* p, const u8* end) : p_(p), end_(end) {}

  bool read(u32 count, u32* out) {
    while (bits_ < count) {
      if (p_ >= end_) return false;
      buffer_ |= u64(*p_++) << bits_;
      bits_ += 8;
    }
    *out = u32(buffer_ & ((u64(1) << count) - 1));
    buffer_ >>= count;
    bits_ -= count;
    return true;
  }

  // Where the input continues after the block: bits left in the last byte
  // read are dropped.
  const u8* next_byte() const { return p_; }

 private:
  const u8* p_;
  const u8* end_;
  u64 buffer_ = 0;
  u32 bits_ = 0;
};

// Length codes: a unary prefix of up to five zero bits picks the range.
struct LengthRange {
  u32 base;
  u32 bits;
};
constexpr LengthRange kLengthRanges[6] = {{0, 2}, {4, 2}, {8, 2}, {12, 3}, {20, 5}, {52, 9}};

bool read_length(BitReader& r, u32* length) {
  u32 bit = 0, value = 0;
  u32 range = 0;
  while (range < 5) {
    if (!r.read(1, &bit)) return false;
    if (bit) break;
    range++;
  }
  if (!r.read(kLengthRanges[range].bits, &value)) return false;
  *length = kLengthRanges[range].base + value;
  return true;
}

bool read_distance(BitReader& r, u32* distance) {
  u32 m = 0, value = 0;
  if (!r.read(4, &m)) return false;
  if (m == 0) {
    if (!r.read(3, &value)) return false;
    *distance = value;
    return true;
  }
  u32 j = m + 2;
  if (!r.read(j, &value)) return false;
  *distance = (1u << j) + value;
  return true;
}

// Least significant bit first into dst up to limit; past it the writer only
// notes that the output is full.
class BitWriter {
 public:
  BitWriter(u8* p, u8* limit) : p_(p), limit_(limit) {}

  void put(u32 value, u32 count) {
    buffer_ |= u64(value) << bits_;
    bits_ += count;
    while (bits_ >= 8) {
      emit(u8(buffer_));
      buffer_ >>= 8;
      bits_ -= 8;
    }
  }
  // Pads the last partial byte with zero bits.
  void flush() {
    if (bits_) emit(u8(buffer_));
    buffer_ = 0;
    bits_ = 0;
  }
  void put_word(u32 v) {
    for (int k = 0; k < 4; k++) emit(u8(v >> (8 * k)));
  }
  bool full() const { return full_; }
  u8* position() const { return p_; }

 private:
  void emit(u8 b) {
    if (p_ >= limit_) {
      full_ = true;
      return;
    }
    *p_++ = b;
  }
  u8* p_;
  u8* limit_;
  u64 buffer_ = 0;
  u32 bits_ = 0;
  bool full_ = false;
};

void write_length(BitWriter& w, u32 length) {
  u32 range = 0;
  while (range < 5 && length >= kLengthRanges[range + 1].base) range++;
  // range zero bits, then the stop bit unless it is the last range
  if (range < 5) w.put(1u << range, range + 1);
  else w.put(0, 5);
  w.put(length - kLengthRanges[range].base, kLengthRanges[range].bits);
}

void write_distance(BitWriter& w, u32 distance) {
  u32 j = 2;
  while (distance >= (1u << (j + 1))) j++;
  w.put(j - 2, 4);
  if (j == 2) w.put(distance, 3);
  else w.put(distance - (1u << j), j);
}

ZOT_INLINE u32 match_length(const u8* block, u32 candidate, u32 pos, u32 longest) {
  u32 n = 0;
  while (n < longest && block[candidate + n] == block[pos + n]) n++;
  return n;
}

// The work tables live from the first compression on. Between blocks only
// the hash heads that the block set go back to empty: a chain link is only
// ever reached from a head set in the same block, and the bytes past a block
// that the hashes read are zeroed. So small sources cost no 7 MiB clearing.
struct Tables {
  std::vector<i32> heads = std::vector<i32>(kHash3Heads + kHash4Heads, -1);
  std::vector<i32> chain = std::vector<i32>(kWindow, -1);
  std::vector<u8> block = std::vector<u8>(kBlockMax + kMaxMatch + 8);
  std::vector<u32> touched;
};

}  // namespace

bool decompress(const u8* data, std::size_t available, std::vector<u8>* out) {
  out->clear();
  if (available < kHeaderSize) return false;
  u64 compressed = load32(data);
  u64 uncompressed = load32(data + 4);
  if (uncompressed > compressed * kMaxRatio) return false;
  const u8* start = data + kHeaderSize;
  const u8* end = start + std::min<u64>(compressed, available - kHeaderSize);
  std::size_t capacity = std::size_t(uncompressed) + 8;
  try {
    out->resize(capacity);
  } catch (const std::bad_alloc&) {
    return false;
  }
  u8* dst = out->data();
  std::size_t produced = 0;
  const u8* p = start;
  while (u64(p - start) < compressed) {
    if (end - p < 4) return false;
    u32 length = load32(p);
    p += 4;
    if (length < 1 || length > kBlockMax || length > capacity - produced) return false;
    BitReader r(p, end);
    u8* block = dst + produced;
    u32 at = 0;
    while (at < length) {
      u32 flag;
      if (!r.read(1, &flag)) return false;
      if (!flag) {
        u32 byte;
        if (!r.read(8, &byte)) return false;
        block[at++] = u8(byte);
        continue;
      }
      u32 l, d;
      if (!read_length(r, &l) || !read_distance(r, &d)) return false;
      if (d + 1 > at || at + l + kMinMatch > length) return false;
      for (u32 k = 0; k < l + kMinMatch; k++, at++) block[at] = block[at - d - 1];
    }
    produced += length;
    p = r.next_byte();
  }
  out->resize(produced);
  return true;
}

i64 compress(const u8* src, u32 length, u8* dst) {
  if (length < kMinSource) return -1;
  store32(dst + 4, length);
  BitWriter w(dst + kHeaderSize, dst + length);
  static Tables t;
  i32* head3 = t.heads.data();
  i32* head4 = t.heads.data() + kHash3Heads;
  i32* chain = t.chain.data();
  struct Clear {
    Tables& t;
    ~Clear() {
      for (u32 h : t.touched) t.heads[h] = -1;
      t.touched.clear();
    }
  };
  for (u32 offset = 0; offset < length;) {
    Clear clear{t};
    u32 size = std::min(kBlockMax, length - offset);
    std::copy(src + offset, src + offset + size, t.block.begin());
    std::fill(t.block.begin() + size, t.block.begin() + size + kMaxMatch + 8, 0);
    offset += size;
    w.put_word(size);
    u32 h3 = 0, h4 = 0;
    for (u32 k = 0; k < 3; k++) h3 = ((h3 << 7) + t.block[k]) & kHash3Bits;
    for (u32 k = 0; k < 4; k++) h4 = ((h4 << 5) + t.block[k]) & kHash4Bits;
    const u8* b = t.block.data();
    u32 pos = 0;
    while (pos < size) {
      u32 best = 2, best_distance = kWindow;
      u32 longest = std::min(size - pos, kMaxMatch);
      i32 lowest = pos > kWindow ? i32(pos - kWindow) : 0;
      i32 c = head3[h3];
      if (c >= lowest && b[c] == b[pos]) {
        u32 l = match_length(b, u32(c), pos, longest);
        if (l > best) {
          best = l;
          best_distance = pos - u32(c);
        }
      }
      if (best < kMaxMatch) {
        c = head4[h4];
        for (u32 tries = 0; tries < kChainTries && c >= lowest; tries++) {
          if (b[u32(c) + best] == b[pos + best] && b[c] == b[pos]) {
            u32 l = match_length(b, u32(c), pos, longest);
            u32 distance = pos - u32(c);
            // A farther match must buy its extra distance bits.
            u32 cost = 0;
            for (u32 x = distance >> 4; x > best_distance; x >>= 3) cost++;
            if (l > best + cost) {
              best = l;
              best_distance = distance;
            }
            if (l >= longest) break;
          }
          c = chain[u32(c) & kChainMask];
        }
      }
      if (best == kMinMatch && best_distance > kFarShortMatch) best = 2;
      u32 advance;
      if (best < kMinMatch) {
        w.put(u32(b[pos]) << 1, 9);
        advance = 1;
      } else {
        w.put(1, 1);
        write_length(w, best - kMinMatch);
        write_distance(w, best_distance - 1);
        advance = best;
      }
      if (w.full()) return -1;
      for (u32 q = pos; q < pos + advance; q++) {
        if (head3[h3] < 0) t.touched.push_back(h3);
        if (head4[h4] < 0) t.touched.push_back(kHash3Heads + h4);
        head3[h3] = i32(q);
        chain[q & kChainMask] = head4[h4];
        head4[h4] = i32(q);
        h3 = ((h3 << 7) + b[q + 3]) & kHash3Bits;
        h4 = ((h4 << 5) + b[q + 4]) & kHash4Bits;
      }
      pos += advance;
    }
    w.flush();
    if (w.full()) return -1;
  }
  u32 compressed = u32(w.position() - (dst + kHeaderSize));
  store32(dst, compressed);
  return i64(compressed) + kHeaderSize;
}

}  // namespace zot::compressor
