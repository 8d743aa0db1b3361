#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "boot/compressor.h"

namespace zot {
namespace {

using Bytes = std::vector<u8>;

Bytes compressed(const Bytes& source) {
  Bytes out(source.size());
  i64 n = compressor::compress(source.data(), u32(source.size()), out.data());
  out.resize(n < 0 ? 0 : std::size_t(n));
  return out;
}

u32 load32(const u8* p) { return u32(p[0]) | (u32(p[1]) << 8) | (u32(p[2]) << 16) | (u32(p[3]) << 24); }

// An independent reading of a stream: the block lengths and every match as
// (position in its block, length, distance).
struct Match {
  u32 at;
  u32 length;
  u32 distance;
};
struct Stream {
  std::vector<u32> blocks;
  std::vector<Match> matches;
  u32 literals = 0;
};

Stream read_stream(const Bytes& s) {
  Stream out;
  std::size_t p = 8;
  while (p < s.size()) {
    u32 length = load32(&s[p]);
    p += 4;
    out.blocks.push_back(length);
    std::size_t bit = p * 8;
    auto take = [&](u32 n) {
      u32 v = 0;
      for (u32 k = 0; k < n; k++, bit++) v |= u32((s[bit / 8] >> (bit % 8)) & 1) << k;
      return v;
    };
    for (u32 at = 0; at < length;) {
      if (!take(1)) {
        take(8);
        out.literals++;
        at++;
        continue;
      }
      static const u32 base[6] = {0, 4, 8, 12, 20, 52}, bits[6] = {2, 2, 2, 3, 5, 9};
      u32 r = 0;
      while (r < 5 && !take(1)) r++;
      u32 l = base[r] + take(bits[r]) + 3;
      u32 m = take(4);
      u32 d = m == 0 ? take(3) : (1u << (m + 2)) + take(m + 2);
      out.matches.push_back({at, l, d + 1});
      at += l;
    }
    p = (bit + 7) / 8;
  }
  return out;
}

Bytes random_bytes(std::size_t n, u8 low, u8 high, u32 seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> d(low, high);
  Bytes b(n);
  for (u8& c : b) c = u8(d(rng));
  return b;
}

void expect_round_trip(const Bytes& source) {
  Bytes c = compressed(source);
  ASSERT_FALSE(c.empty());
  EXPECT_LT(c.size(), source.size());
  EXPECT_EQ(load32(c.data()), c.size() - 8);
  EXPECT_EQ(load32(c.data() + 4), source.size());
  Bytes back;
  ASSERT_TRUE(compressor::decompress(c.data(), c.size(), &back));
  EXPECT_TRUE(back == source);
}

TEST(Compressor, RoundTrips) {
  std::string text;
  for (int k = 0; k < 400; k++) text += "the quick brown fox " + std::to_string(k % 37) + " jumps; ";
  expect_round_trip(Bytes(text.begin(), text.end()));
  expect_round_trip(Bytes(128, 'a'));
  expect_round_trip(Bytes(100000, 0));
  // Random bytes from a small alphabet: matches of every length and distance.
  expect_round_trip(random_bytes(300000, 'a', 'd', 7));
}

TEST(Compressor, ShortOrIncompressibleSourcesAreLeftAlone) {
  Bytes out(200);
  EXPECT_EQ(compressor::compress(Bytes(127, 'a').data(), 127, out.data()), -1);
  EXPECT_GT(compressor::compress(Bytes(128, 'a').data(), 128, out.data()), 0);
  Bytes noise = random_bytes(5000, 0, 255, 3);
  Bytes dst(noise.size());
  EXPECT_EQ(compressor::compress(noise.data(), u32(noise.size()), dst.data()), -1);
}

TEST(Compressor, BlocksOfAtMostOneMebibyte) {
  Stream one = read_stream(compressed(Bytes(compressor::kBlockMax, 'x')));
  EXPECT_EQ(one.blocks, std::vector<u32>({compressor::kBlockMax}));
  Stream two = read_stream(compressed(Bytes(compressor::kBlockMax + 1, 'x')));
  EXPECT_EQ(two.blocks, std::vector<u32>({compressor::kBlockMax, 1}));
  // Every block starts with literals: a match never reaches into the block before.
  ASSERT_FALSE(two.matches.empty());
  EXPECT_EQ(two.matches.front().at, 1u);
  EXPECT_EQ(two.matches.front().distance, 1u);
  EXPECT_EQ(two.literals, 2u);
}

// The piece, filler of bytes 0 and 1 (it compresses, and it never matches
// the piece), the piece again at the distance.
Bytes far_repeat(const Bytes& piece, u32 distance, u32 seed) {
  Bytes b = piece;
  Bytes filler = random_bytes(distance - piece.size(), 0, 1, seed);
  b.insert(b.end(), filler.begin(), filler.end());
  b.insert(b.end(), piece.begin(), piece.end());
  b.push_back(0x01);
  return b;
}

TEST(Compressor, FarThreeByteMatchesAreNotWorthTheirBits) {
  const Bytes piece = {0xF0, 0xF1, 0xF2};
  auto match_at = [&](u32 distance) {
    Stream s = read_stream(compressed(far_repeat(piece, distance, 11)));
    for (const Match& m : s.matches)
      if (m.at == distance) return m;
    return Match{0, 0, 0};
  };
  Match near = match_at(65536);
  EXPECT_EQ(near.length, 3u);
  EXPECT_EQ(near.distance, 65536u);
  EXPECT_EQ(match_at(65537).length, 0u);
}

TEST(Compressor, LongestMatchAtTheFarthestDistance) {
  Bytes piece = random_bytes(compressor::kMaxMatch + 10, 0x80, 0xFF, 5);
  Bytes source = far_repeat(piece, compressor::kWindow, 13);
  Stream s = read_stream(compressed(source));
  bool found = false;
  for (const Match& m : s.matches)
    if (m.at == compressor::kWindow) {
      found = true;
      EXPECT_EQ(m.length, compressor::kMaxMatch);
      EXPECT_EQ(m.distance, compressor::kWindow);
    }
  EXPECT_TRUE(found);
  expect_round_trip(source);
}

// Streams written bit by bit.
class Writer {
 public:
  explicit Writer(u32 uncompressed) : bytes_(8, 0) { put_word(4, uncompressed); }
  Writer& block(u32 length) {
    flush();
    u8 b[4];
    put(b, length);
    bytes_.insert(bytes_.end(), b, b + 4);
    return *this;
  }
  Writer& literal(u8 c) { return bits(0, 1).bits(c, 8); }
  // A match of length 3 + l at distance d + 1 (d below 8).
  Writer& match(u32 l, u32 d) { return bits(1, 1).bits(1, 1).bits(l, 2).bits(0, 4).bits(d, 3); }
  Bytes done() {
    flush();
    put_word(0, u32(bytes_.size() - 8));
    return bytes_;
  }

 private:
  Writer& bits(u32 v, u32 n) {
    for (u32 k = 0; k < n; k++) {
      if (fill_ == 0) bytes_.push_back(0);
      bytes_.back() |= u8(((v >> k) & 1) << fill_);
      fill_ = (fill_ + 1) % 8;
    }
    return *this;
  }
  void flush() { fill_ = 0; }
  static void put(u8* p, u32 v) {
    for (int k = 0; k < 4; k++) p[k] = u8(v >> (8 * k));
  }
  void put_word(std::size_t at, u32 v) { put(&bytes_[at], v); }
  Bytes bytes_;
  u32 fill_ = 0;
};

TEST(Compressor, DecodingRefusesMalformedStreams) {
  Bytes out;
  // A repeat overlapping itself: "a" then 4 more.
  Bytes good = Writer(5).block(5).literal('a').match(1, 0).done();
  ASSERT_TRUE(compressor::decompress(good.data(), good.size(), &out));
  EXPECT_EQ(std::string(out.begin(), out.end()), "aaaaa");

  struct Case {
    const char* what;
    Bytes stream;
  };
  const Case cases[] = {
      {"block length 0", Writer(5).block(0).done()},
      {"block length past 1 MiB", Writer(5).block(compressor::kBlockMax + 1).done()},
      {"more than announced (and its 8 spare bytes)",
       Writer(0).block(5).literal('a').match(1, 0).block(5).literal('b').match(1, 0).done()},
      {"a match before its block", Writer(6).block(3).literal('a').literal('b').literal('c').block(3).match(0, 0).done()},
      {"a match past its block", Writer(3).block(3).literal('a').match(0, 0).done()},
      {"a distance past the output", Writer(5).block(5).literal('a').match(1, 3).done()},
      {"a block cut short", Writer(5).block(5).literal('a').done()},
      {"a header cut short", Bytes(7, 0)},
  };
  for (const Case& c : cases) EXPECT_FALSE(compressor::decompress(c.stream.data(), c.stream.size(), &out)) << c.what;

  // A compressed size beyond the input: the reader stops at the input's end.
  Bytes cut = good;
  cut[0] = 0xFF;
  EXPECT_FALSE(compressor::decompress(cut.data(), cut.size(), &out));
  // An uncompressed size no stream of that length can produce.
  Bytes huge = good;
  huge[7] = 0x7F;
  EXPECT_FALSE(compressor::decompress(huge.data(), huge.size(), &out));
}

}  // namespace
}  // namespace zot
