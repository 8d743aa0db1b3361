// Checksums, digests, HMAC and the random generator.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/checksum.h"
#include "runtime/digest.h"
#include "runtime/random.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

const u8* bytes(const std::string& s) { return reinterpret_cast<const u8*>(s.data()); }

std::string hex(const u8* p, u32 n) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (u32 i = 0; i < n; i++) {
    s += d[p[i] >> 4];
    s += d[p[i] & 15];
  }
  return s;
}

std::string unhex(const std::string& h) {
  std::string s;
  for (std::size_t i = 0; i + 1 < h.size(); i += 2) s += char(std::stoi(h.substr(i, 2), nullptr, 16));
  return s;
}

TEST(Checksum, Crc32KnownValues) {
  EXPECT_EQ(checksum::crc32(bytes("123456789"), 9), 0xCBF43926u);
  EXPECT_EQ(checksum::crc32(nullptr, 0), 0u);
  EXPECT_EQ(checksum::crc32(bytes("The quick brown fox jumps over the lazy dog"), 43), 0x414FA339u);
  // The eight-byte steps agree with the byte-wise definition at every length and alignment.
  std::string data;
  for (int i = 0; i < 300; i++) data += char(i * 7 + 3);
  for (std::size_t start = 0; start < 9; start++)
    for (std::size_t n = 0; n + start <= 40; n++) {
      u32 c = 0xFFFFFFFFu;
      for (std::size_t i = 0; i < n; i++) {
        c ^= u8(data[start + i]);
        for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      }
      ASSERT_EQ(checksum::crc32(bytes(data) + start, n), ~c) << start << " " << n;
    }
  u32 whole = checksum::crc32(bytes(data), data.size());
  EXPECT_EQ(checksum::crc32_update(checksum::crc32(bytes(data), 123), bytes(data) + 123, data.size() - 123), whole);
}

TEST(Checksum, Adler32KnownValues) {
  EXPECT_EQ(checksum::adler32(bytes("Wikipedia"), 9), 0x11E60398u);
  EXPECT_EQ(checksum::adler32(nullptr, 0), 1u);
  // Long runs of 0xFF are where the sums would overflow without the block reduction.
  for (std::size_t n : {std::size_t(5551), std::size_t(5552), std::size_t(5553), std::size_t(10000),
                        std::size_t(100000)}) {
    std::string ff(n, '\xFF');
    u32 a = 1, b = 0;
    for (std::size_t i = 0; i < n; i++) {
      a = (a + 0xFF) % 65521;
      b = (b + a) % 65521;
    }
    EXPECT_EQ(checksum::adler32(bytes(ff), n), b << 16 | a) << n;
  }
}

TEST(Checksum, InternetChecksum) {
  const u8 zero_one[] = {0x00, 0x01};
  const u8 one[] = {0x01};
  EXPECT_EQ(checksum::tcp(zero_one, 2), 0xFFFEu);
  EXPECT_EQ(checksum::tcp(one, 1), 0xFEFFu);
  EXPECT_EQ(checksum::tcp(nullptr, 0), 0xFFFFu);
  // RFC 1071's example words 0001 f203 f4f5 f6f7 sum to ddf2 (folded).
  const u8 rfc[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
  EXPECT_EQ(checksum::tcp(rfc, 8), u16(~0xddf2));
  // Far more words than a 32-bit sum could hold without carries lost.
  std::string ff(1 << 20, '\xFF');
  EXPECT_EQ(checksum::tcp(bytes(ff), ff.size()), 0x0000u);
}

struct DigestCase {
  int method;
  std::string data;
  const char* hex;
};

TEST(Digest, NistVectors) {
  const std::string l448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  const DigestCase cases[] = {
      {2, "", "d41d8cd98f00b204e9800998ecf8427e"},
      {2, "abc", "900150983cd24fb0d6963f7d28e17f72"},
      {3, "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {3, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {3, l448, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {4, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {4, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {4, l448, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {4, std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {5, "abc",
       "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
      {5, l448,
       "3391fdddfc8dc7393707a65b1b4709397cf8b1d162af05abfe8f450de5f36bc6b0455a8520bc4e6f5fe95b1fe3c8452b"},
      {6, "abc",
       "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e"
       "2a9ac94fa54ca49f"},
      {6, "",
       "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a8"
       "1a538327af927da3e"},
  };
  for (const auto& c : cases) {
    u8 out[digest::kMaxSize];
    u32 n = digest::compute(c.method, bytes(c.data), c.data.size(), out);
    EXPECT_EQ(n, digest::size_of(c.method));
    EXPECT_EQ(hex(out, n), c.hex) << c.method << " " << c.data.substr(0, 8);
  }
  EXPECT_EQ(digest::size_of(2), 16u);
  EXPECT_EQ(digest::size_of(6), 64u);
  EXPECT_EQ(digest::size_of(1), 0u);
}

TEST(Digest, MethodOutsideTheDigestsRaises) {
  for (int m : {0, 1, 7}) {
    int code = test::error_code_of([m] {
      u8 out[digest::kMaxSize];
      digest::compute(m, nullptr, 0, out);
    });
    EXPECT_EQ(code, error_code(Err::ScriptInvalidArg)) << m;
  }
}

struct HmacCase {
  std::string key, data;
  const char* sha256;
  const char* sha384;
  const char* sha512;
};

// RFC 4231 test cases 1, 2, 3, 4, 6 and 7 (case 5 truncates its output).
TEST(Digest, HmacRfc4231) {
  const std::string big_key(131, '\xaa');
  const HmacCase cases[] = {
      {std::string(20, '\x0b'), "Hi There", "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7",
       "afd03944d84895626b0825f4ab46907f15f9dadbe4101ec682aa034c7cebc59cfaea9ea9076ede7f4af152e8b2fa9cb6",
       "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cdedaa833b7d6b8a702038b274eaea3f4e4be9d914eeb61f170"
       "2e696c203a126854"},
      {"Jefe", "what do ya want for nothing?", "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843",
       "af45d2e376484031617f78d2b58a6b1b9c7ef464f5a01b47e42ec3736322445e8e2240ca5e69e2c78b3239ecfab21649",
       "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea2505549758bf75c05a994a6d034f65f8f0e6fdcaeab1a34d4a6b4b"
       "636e070a38bce737"},
      {std::string(20, '\xaa'), std::string(50, '\xdd'),
       "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe",
       "88062608d3e6ad8a0aa2ace014c8a86f0aa635d947ac9febe83ef4e55966144b2a5ab39dc13814b94e3ab6e101a34f27",
       "fa73b0089d56a284efb0f0756c890be9b1b5dbdd8ee81a3655f83e33b2279d39bf3e848279a722c806b485a47e67c807b946a337bee89426"
       "74278859e13292fb"},
      {unhex("0102030405060708090a0b0c0d0e0f10111213141516171819"), std::string(50, '\xcd'),
       "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b",
       "3e8a69b7783c25851933ab6290af6ca77a9981480850009cc5577c6e1f573b4e6801dd23c4a7d679ccf8a386c674cffb",
       "b0ba465637458c6990e5a8c5f61d4af7e576d97ff94b872de76f8050361ee3dba91ca5c11aa25eb4d679275cc5788063a5f19741120c4f2d"
       "e2adebeb10a298dd"},
      {big_key, "Test Using Larger Than Block-Size Key - Hash Key First",
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54",
       "4ece084485813e9088d2c63a041bc5b44f9ef1012a2b588f3cd11f05033ac4c60c2ef6ab4030fe8296248df163f44952",
       "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f3526b56d037e05f2598bd0fd2215d6a1e5295e64f73f63f0aec"
       "8b915a985d786598"},
      {big_key,
       "This is a test using a larger than block-size key and a larger than block-size data. The key needs to be "
       "hashed before being used by the HMAC algorithm.",
       "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2",
       "6617178e941f020d351e2f254e8fd32c602420feb0b8fb9adccebb82461e99c5a678cc31e799176d3860e6110c46523e",
       "e37b6a775dc87dbaa4dfa9f96e5e3ffddebd71f8867289865df5a32d20cdc944b6022cac3c4982b10d5eeb55c3e4de15134676fb6de04460"
       "65c97440fa8c6a58"},
  };
  for (const auto& c : cases) {
    const char* want[] = {c.sha256, c.sha384, c.sha512};
    for (int m = 4; m <= 6; m++) {
      u8 out[digest::kMaxSize];
      u32 n = digest::hmac(m, bytes(c.data), c.data.size(), bytes(c.key), c.key.size(), out);
      EXPECT_EQ(hex(out, n), want[m - 4]) << m << " " << c.data.substr(0, 12);
    }
  }
}

// RFC 2202 for the two older digests; a key longer than the block equals its digest as the key.
TEST(Digest, HmacMd5Sha1AndLongKeys) {
  u8 out[digest::kMaxSize];
  std::string k16(16, '\x0b'), k20(20, '\x0b'), k80(80, '\xaa');
  std::string long_data = "Test Using Larger Than Block-Size Key - Hash Key First";
  EXPECT_EQ(hex(out, digest::hmac(2, bytes("Hi There"), 8, bytes(k16), 16, out)), "9294727a3638bb1c13f48ef8158bfc9d");
  EXPECT_EQ(hex(out, digest::hmac(3, bytes("Hi There"), 8, bytes(k20), 20, out)),
            "b617318655057264e28bc0b6fb378c8ef146be00");
  EXPECT_EQ(hex(out, digest::hmac(2, bytes(long_data), long_data.size(), bytes(k80), 80, out)),
            "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");
  EXPECT_EQ(hex(out, digest::hmac(3, bytes(long_data), long_data.size(), bytes(k80), 80, out)),
            "aa4ae5e15272d00e95705637ce8a3b55ed402112");
  for (int m = 2; m <= 6; m++) {
    std::string key(m >= 5 ? 129 : 65, 'k');
    u8 kd[digest::kMaxSize], a[digest::kMaxSize], b[digest::kMaxSize];
    u32 kn = digest::compute(m, bytes(key), key.size(), kd);
    u32 na = digest::hmac(m, bytes("data"), 4, bytes(key), key.size(), a);
    u32 nb = digest::hmac(m, bytes("data"), 4, kd, kn, b);
    EXPECT_EQ(hex(a, na), hex(b, nb)) << m;
  }
}

// The generator as the design describes it, written apart from the product:
// 624 words, sign-propagating right shifts, the first draws straight from the
// seeded words.
class ModelGenerator {
 public:
  explicit ModelGenerator(u32 seed) {
    mt_[0] = i32(seed);
    for (int i = 1; i < 624; i++) {
      i64 prev = mt_[i - 1];
      i64 mixed = (prev ^ (prev >> 30)) & 0xFFFFFFFF;  // prev is signed: >> copies the sign
      mt_[i] = i32(u32((1812433253ull * u64(mixed) + u64(i)) & 0xFFFFFFFFull));
    }
    index_ = 0;
  }
  i32 next() {
    if (index_ == 624) {
      for (int i = 0; i < 624; i++) {
        i32 y = i32((u32(mt_[i]) & 0x80000000u) | (u32(mt_[(i + 1) % 624]) & 0x7FFFFFFFu));
        i32 v = mt_[(i + 397) % 624] ^ (y >> 1);
        if (y & 1) v ^= i32(0x9908B0DFu);
        mt_[i] = v;
      }
      index_ = 0;
    }
    i32 y = mt_[index_++];
    y ^= y >> 11;
    y ^= i32((u32(y) << 7) & 0x9D2C5680u);
    y ^= i32((u32(y) << 15) & 0xEFC60000u);
    y ^= y >> 18;
    return y;
  }
  i32 range(i32 n) {
    if (n == 0) return 0;
    if (n == INT32_MIN) return -next() - 1;
    i64 m = n < 0 ? -i64(n) : n;
    i64 limit = 0x7FFFFFFF / m;
    i64 d;
    do d = next();
    while (d >= m * limit);
    return i32(n < 0 ? -(d % m + 1) : d % m + 1);
  }

 private:
  i32 mt_[624];
  int index_;
};

TEST(Random, SequenceFollowsTheModel) {
  for (u32 seed : {0u, 1u, 42u, 19650218u, 0x80000000u, 0xFFFFFFFFu}) {
    random::seed(seed);
    ModelGenerator m(seed);
    for (int i = 0; i < 2000; i++) ASSERT_EQ(random::next(), m.next()) << seed << " draw " << i;
  }
}

TEST(Random, FirstDrawIsTheTemperedSeedAndSeedingRepeats) {
  random::seed(12345);
  u32 y = 12345;
  y ^= y >> 11;
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  y ^= y >> 18;
  EXPECT_EQ(random::next(), i32(y));
  std::vector<i32> first, second;
  random::seed(7);
  for (int i = 0; i < 700; i++) first.push_back(random::next());
  random::seed(7);
  for (int i = 0; i < 700; i++) second.push_back(random::next());
  EXPECT_EQ(first, second);
  for (i32 v : first) EXPECT_GE(v, 0);
}

TEST(Random, RangesFollowTheModel) {
  random::seed(99);
  ModelGenerator m(99);
  for (i32 n : {1, 2, 3, 6, 1000, 0x40000001, 0x7FFFFFFF, -1, -3, -1000, INT32_MIN, 0}) {
    for (int i = 0; i < 50; i++) {
      i32 r = random::range(n, false);
      ASSERT_EQ(r, m.range(n)) << n;
      if (n > 0) {
        ASSERT_TRUE(r >= 1 && r <= n);
      } else if (n < 0 && n != INT32_MIN) {
        ASSERT_TRUE(r >= n && r <= -1);
      }
    }
  }
  EXPECT_EQ(random::range(0, true), 0);
  for (int i = 0; i < 200; i++) {
    i32 r = random::range(-3, true);
    EXPECT_TRUE(r >= -3 && r <= -1);
    EXPECT_GE(random::secure(), 0);
  }
}

}  // namespace
}  // namespace zot
