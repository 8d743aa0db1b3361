// Deflate, inflate, zlib and gzip: byte vectors, round trips, streams made by
// another implementation (tests/fixtures/deflate, from
// tools/gen_deflate_fixtures.py), capacity handling and damaged streams.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "runtime/deflate.h"

namespace zot {
namespace {

using Bytes = std::vector<u8>;
using Codec = int (*)(u8*, std::size_t*, const u8*, std::size_t);

Bytes of(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Runs a routine the way the natives do: measure, then fill a buffer of the size asked.
int run(Codec f, const Bytes& in, Bytes* out) {
  std::size_t size = 0;
  int st = f(nullptr, &size, in.data(), in.size());
  if (st != deflate::kOk && st != deflate::kTooSmall) return st;
  out->assign(size + 16, 0xA5);
  std::size_t cap = size;
  st = f(out->data(), &cap, in.data(), in.size());
  // Nothing past the capacity is touched.
  for (std::size_t i = size; i < out->size(); i++)
    if ((*out)[i] != 0xA5) return -100;
  out->resize(std::min(cap, size));
  return st;
}

Bytes must(Codec f, const Bytes& in) {
  Bytes out;
  EXPECT_EQ(run(f, in, &out), deflate::kOk);
  return out;
}

std::string hex(const Bytes& b) {
  std::string s;
  for (u8 c : b) {
    static const char* d = "0123456789abcdef";
    s += d[c >> 4];
    s += d[c & 15];
  }
  return s;
}

TEST(Deflate, ByteVectors) {
  EXPECT_EQ(hex(must(deflate::compress, {})), "0300");
  EXPECT_EQ(hex(must(deflate::compress_zlib, {})), "7801030000000001");
  // Three literals, then a copy of the rest from distance 1.
  EXPECT_EQ(hex(must(deflate::compress, of("aaaaaaaaaa"))), "4b4c4c840200");
  // Three literals, then a copy of 9 from distance 3.
  EXPECT_EQ(hex(must(deflate::compress, of("abcabcabcabc"))), "4b4c4a862300");
  // Inputs shorter than a match are all literals; the hash never reads past them.
  for (const char* s : {"a", "ab", "abc", "aaaa"}) {
    Bytes in = of(s);
    EXPECT_EQ(must(deflate::inflate, must(deflate::compress, in)), in) << s;
  }
  Bytes gz = must(deflate::compress_gzip, of("hello"));
  ASSERT_EQ(gz.size(), 18u + must(deflate::compress, of("hello")).size());
  EXPECT_EQ(hex(Bytes(gz.begin(), gz.begin() + 10)), "1f8b0800000000000404");
  EXPECT_EQ(hex(Bytes(gz.end() - 4, gz.end())), "05000000");
}

Bytes random_bytes(std::size_t n, u32 seed) {
  std::mt19937 g(seed);
  Bytes b(n);
  for (auto& c : b) c = u8(g());
  return b;
}

TEST(Deflate, RoundTrips) {
  std::vector<Bytes> inputs = {{}, {0}, {1, 2}, random_bytes(3, 1), random_bytes(100, 2), random_bytes(70000, 3),
                               Bytes(1 << 20, 0), Bytes(100000, 0xFF)};
  Bytes abc;
  for (int i = 0; i < 50000; i++) abc.push_back(u8("abcdefg"[i % 7]));
  inputs.push_back(abc);
  // Text-like: words repeating at every distance up to and past the window.
  std::mt19937 g(5);
  const char* words[] = {"zot ", "series ", "value ", "block ", "a ", "the ", "\n"};
  Bytes text;
  while (text.size() < 200000) {
    const char* w = words[g() % 7];
    text.insert(text.end(), w, w + std::strlen(w));
  }
  inputs.push_back(text);
  // A block that repeats exactly at distance 32,768: too far to copy.
  Bytes far = random_bytes(40000, 9);
  std::copy(far.begin(), far.begin() + 500, far.begin() + 32768);
  inputs.push_back(far);
  for (const Bytes& in : inputs) {
    EXPECT_EQ(must(deflate::inflate, must(deflate::compress, in)), in) << in.size();
    EXPECT_EQ(must(deflate::decompress_zlib, must(deflate::compress_zlib, in)), in) << in.size();
    EXPECT_EQ(must(deflate::decompress_gzip, must(deflate::compress_gzip, in)), in) << in.size();
  }
  // Data that already looks like gzip is compressed like any other.
  Bytes lookalike = {0x1F, 0x8B, 0x08, 1, 2, 3};
  Bytes packed = must(deflate::compress_gzip, lookalike);
  EXPECT_NE(packed, lookalike);
  EXPECT_EQ(must(deflate::decompress_gzip, packed), lookalike);
}

Bytes read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

TEST(Deflate, InflatesStreamsOfAnotherImplementation) {
  const std::string dir = std::string(ZOT_FIXTURE_DIR) + "/deflate/";
  DIR* d = opendir(dir.c_str());
  ASSERT_NE(d, nullptr);
  int seen = 0;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    std::size_t dot = name.find('.');
    if (dot == std::string::npos || dot == 0 || name.substr(dot) == ".in") continue;
    Bytes want = read_file(dir + name.substr(0, dot) + ".in");
    Bytes data = read_file(dir + name);
    Codec f = name.ends_with(".raw")    ? deflate::inflate
              : name.ends_with(".zlib") ? deflate::decompress_zlib
                                        : deflate::decompress_gzip;
    Bytes got;
    EXPECT_EQ(run(f, data, &got), deflate::kOk) << name;
    EXPECT_EQ(got, want) << name;
    seen++;
  }
  closedir(d);
  EXPECT_GE(seen, 60);
}

TEST(Deflate, SmallDestinationsAreNeverOverrun) {
  Bytes in = random_bytes(3000, 4);
  in.insert(in.end(), 3000, 'x');
  for (Codec f : {deflate::compress, deflate::compress_zlib, deflate::compress_gzip}) {
    std::size_t whole = 0;
    f(nullptr, &whole, in.data(), in.size());
    for (std::size_t cap : {std::size_t(0), std::size_t(1), std::size_t(5), std::size_t(11), whole / 2, whole - 1}) {
      Bytes out(cap + 8, 0xA5);
      std::size_t size = cap;
      EXPECT_EQ(f(out.data(), &size, in.data(), in.size()), deflate::kTooSmall) << cap;
      EXPECT_EQ(size, whole) << cap;
      for (std::size_t i = cap; i < out.size(); i++) ASSERT_EQ(out[i], 0xA5) << cap;
    }
  }
  Bytes z = must(deflate::compress, in);
  for (std::size_t cap : {std::size_t(0), std::size_t(1), std::size_t(2999), std::size_t(3001), in.size() - 1}) {
    Bytes out(cap + 8, 0xA5);
    std::size_t size = cap;
    EXPECT_EQ(deflate::inflate(out.data(), &size, z.data(), z.size()), deflate::kTooSmall) << cap;
    EXPECT_EQ(size, in.size());
    for (std::size_t i = cap; i < out.size(); i++) ASSERT_EQ(out[i], 0xA5) << cap;
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + cap, in.begin()));
  }
  // gzip knows the size from its trailer and does not inflate into too small a buffer.
  Bytes gz = must(deflate::compress_gzip, in);
  Bytes out(10);
  std::size_t size = out.size();
  EXPECT_EQ(deflate::decompress_gzip(out.data(), &size, gz.data(), gz.size()), deflate::kTooSmall);
  EXPECT_EQ(size, in.size());
}

// Builds a bit stream least significant bit first; codes go most significant bit first.
struct Bits {
  Bytes out;
  u32 n = 0;
  void put(u32 v, u32 count) {
    for (u32 i = 0; i < count; i++, n++) {
      if (n % 8 == 0) out.push_back(0);
      if ((v >> i) & 1) out.back() |= u8(1 << (n % 8));
    }
  }
  void code(u32 c, u32 count) {
    for (u32 i = count; i-- > 0;) put((c >> i) & 1, 1);
  }
};

// A dynamic block header whose code-length code gives symbol 8 length 1, and
// 16 and 18 length 2 (codes 0, 10, 11), unless other lengths are given.
Bits dynamic_header(u32 hlit, u32 hdist, std::vector<std::pair<int, int>> cl = {{8, 1}, {16, 2}, {18, 2}}) {
  static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  Bits b;
  b.put(1, 1);
  b.put(2, 2);
  b.put(hlit - 257, 5);
  b.put(hdist - 1, 5);
  b.put(19 - 4, 4);
  for (int sym : order) {
    int len = 0;
    for (auto [s, l] : cl)
      if (s == sym) len = l;
    b.put(u32(len), 3);
  }
  return b;
}

Bytes fixed_block(std::initializer_list<std::pair<u32, u32>> codes) {
  Bits b;
  b.put(1, 1);
  b.put(1, 2);
  for (auto [c, n] : codes) b.code(c, n);
  return b.out;
}

struct Corrupt {
  const char* what;
  Bytes data;
  int status;
};

TEST(Deflate, DamagedStreamsEndWithAStatus) {
  std::vector<Corrupt> cases = {
      {"block type 3", {0x07}, deflate::kBadBlockType},
      {"stored block past the input", {0x01, 10, 0, 0xF5, 0xFF, 'a', 'b'}, deflate::kStoredOverrun},
      {"copy before the start", fixed_block({{1, 7}, {0, 5}}), deflate::kBadDistance},
      {"distance code 30", fixed_block({{0x30 + 'a', 8}, {1, 7}, {30, 5}}), deflate::kBadDistance},
      {"length symbol 286", fixed_block({{0xC0 + 6, 8}}), deflate::kBadCode},
      {"cut inside a block", fixed_block({{0x30 + 'a', 8}}), deflate::kBadFormat},
      {"only a header byte", {0x00}, deflate::kBadFormat},
  };
  {
    Bits b = dynamic_header(257, 1);
    b.code(2, 2);  // 16 first: nothing to repeat
    b.put(0, 2);
    cases.push_back({"repeat with nothing before", b.out, deflate::kBadCode});
  }
  {
    Bits b = dynamic_header(257, 1);
    for (int i = 0; i < 2; i++) {
      b.code(3, 2);  // 18: 11 + 127 zeros, twice: past 258 lengths
      b.put(127, 7);
    }
    cases.push_back({"repeat past the lengths", b.out, deflate::kBadCode});
  }
  {
    Bits b = dynamic_header(257, 1);
    b.code(3, 2);
    b.put(127, 7);
    b.code(3, 2);
    b.put(109, 7);
    cases.push_back({"no end-of-block code", b.out, deflate::kBadCode});
  }
  {
    Bits b = dynamic_header(257, 1);
    b.code(0, 1);  // 8
    for (int i = 0; i < 43; i++) {
      b.code(2, 2);  // 16: repeat 8 six times
      b.put(3, 2);
    }
    cases.push_back({"over-subscribed literal code", b.out, deflate::kBadCode});
  }
  cases.push_back({"over-subscribed length code", dynamic_header(257, 1, {{8, 1}, {16, 1}, {18, 1}}).out,
                   deflate::kBadCode});
  cases.push_back({"incomplete length code", dynamic_header(257, 1, {{8, 1}}).out, deflate::kBadCode});
  for (const auto& c : cases) {
    std::size_t size = 64;
    Bytes out(size);
    EXPECT_EQ(deflate::inflate(out.data(), &size, c.data.data(), c.data.size()), c.status) << c.what;
  }
}

TEST(Deflate, LenientWhereTheFormatAllows) {
  Bytes out(16);
  std::size_t size = out.size();
  // A stored block whose NLEN is not the complement of LEN.
  Bytes stored = {0x01, 3, 0, 0, 0, 'a', 'b', 'c'};
  EXPECT_EQ(deflate::inflate(out.data(), &size, stored.data(), stored.size()), deflate::kOk);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + long(size)), of("abc"));
  // Bytes after the final block.
  Bytes trailing = {0x03, 0x00, 'j', 'u', 'n', 'k'};
  size = out.size();
  EXPECT_EQ(deflate::inflate(out.data(), &size, trailing.data(), trailing.size()), deflate::kOk);
  EXPECT_EQ(size, 0u);
}

TEST(Deflate, TruncatedAndFlippedStreams) {
  Bytes in = of(std::string(3000, 'q') + "some text, some more text, and text again");
  Bytes raw = must(deflate::compress, in);
  Bytes zl = must(deflate::compress_zlib, in);
  Bytes gz = must(deflate::compress_gzip, in);
  Bytes out;
  // A single-block stream cut anywhere is refused.
  for (std::size_t n = 1; n < raw.size(); n++)
    EXPECT_NE(run(deflate::inflate, Bytes(raw.begin(), raw.begin() + long(n)), &out), deflate::kOk) << n;
  for (std::size_t n = 0; n < zl.size(); n++)
    EXPECT_NE(run(deflate::decompress_zlib, Bytes(zl.begin(), zl.begin() + long(n)), &out), deflate::kOk) << n;
  for (std::size_t n = 0; n < gz.size(); n++)
    EXPECT_NE(run(deflate::decompress_gzip, Bytes(gz.begin(), gz.begin() + long(n)), &out), deflate::kOk) << n;
  // Any one flipped bit in a framed stream is caught (header, data or checksum).
  for (std::size_t bit = 0; bit < zl.size() * 8; bit++) {
    Bytes z = zl;
    z[bit / 8] ^= u8(1 << (bit % 8));
    int st = run(deflate::decompress_zlib, z, &out);
    EXPECT_TRUE(st != deflate::kOk || out == in) << bit;
  }
  for (std::size_t bit = 0; bit < gz.size() * 8; bit++) {
    Bytes z = gz;
    z[bit / 8] ^= u8(1 << (bit % 8));
    if (bit / 8 >= 4 && bit / 8 < 10) continue;  // MTIME, XFL and OS are not checked
    int st = run(deflate::decompress_gzip, z, &out);
    EXPECT_TRUE(st != deflate::kOk || out == in) << bit;
  }
}

struct Framing {
  const char* what;
  Bytes data;
};

TEST(Deflate, BadFramingIsRefused) {
  Bytes good = must(deflate::compress_zlib, of("framed"));
  auto patched = [&](std::size_t at, u8 v) {
    Bytes b = good;
    b[at] = v;
    return b;
  };
  // A header with its check bits made right, so that only the field is wrong.
  auto header = [&](u8 cmf, u8 flg) {
    Bytes b = good;
    b[0] = cmf;
    b[1] = u8(flg + (31 - (cmf * 256 + flg) % 31) % 31);
    return b;
  };
  EXPECT_EQ(must(deflate::decompress_zlib, header(0x78, 0x00)), of("framed"));
  const Framing zlib_cases[] = {
      {"too short", {0x78, 0x01, 0x03, 0x00, 0x00}},
      {"check bits", patched(1, 0x02)},
      {"method 7", header(0x77, 0)},
      {"window above 32 KB", header(0x88, 0)},
      {"preset dictionary", header(0x78, 0x20)},
      {"checksum", patched(good.size() - 1, good.back() ^ 1)},
  };
  Bytes out;
  for (const auto& c : zlib_cases) EXPECT_EQ(run(deflate::decompress_zlib, c.data, &out), deflate::kBadFormat) << c.what;

  Bytes gz = must(deflate::compress_gzip, of("framed"));
  auto gpatched = [&](std::size_t at, u8 v) {
    Bytes b = gz;
    b[at] = v;
    return b;
  };
  const Framing gzip_cases[] = {
      {"magic", gpatched(0, 0x1E)},
      {"method", gpatched(2, 7)},
      {"reserved flags", gpatched(3, 0x20)},
      {"name runs to the end", gpatched(3, 0x08)},
      {"header checksum", gpatched(3, 0x02)},
      {"crc", gpatched(gz.size() - 8, gz[gz.size() - 8] ^ 1)},
      {"length", gpatched(gz.size() - 4, gz[gz.size() - 4] ^ 1)},
      {"impossible length", gpatched(gz.size() - 1, 0x7F)},
  };
  for (const auto& c : gzip_cases) EXPECT_EQ(run(deflate::decompress_gzip, c.data, &out), deflate::kBadFormat) << c.what;
}

}  // namespace
}  // namespace zot
