// UTF-8 / UTF-16LE conversion, case mapping and display width.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/services.h"
#include "runtime/unicode.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

using unicode::Range;

// The tests see encoding failures as this exception instead of language errors.
struct Failure {
  bool invalid_utf8;
  u32 code_point;
  std::vector<u8> bytes;
};

[[noreturn]] void throw_bad_code_point(u32 cp) { throw Failure{false, cp, {}}; }
[[noreturn]] void throw_invalid_utf8(const u8* p, std::size_t n) {
  throw Failure{true, 0, std::vector<u8>(p, p + n)};
}

class Unicode : public ::testing::Test {
 protected:
  void SetUp() override {
    g_services.bad_code_point = throw_bad_code_point;
    g_services.invalid_utf8 = throw_invalid_utf8;
  }
  void TearDown() override {
    g_services.bad_code_point = nullptr;
    g_services.invalid_utf8 = nullptr;
  }
};

std::vector<u8> bytes(std::initializer_list<int> l) {
  std::vector<u8> v;
  for (int b : l) v.push_back(static_cast<u8>(b));
  return v;
}

// Independent reading of the well-formed UTF-8 byte sequences: the length of
// the well-formed sequence at the start of b, or 0.
int reference_utf8(const u8* b, std::size_t n) {
  if (n == 0) return 0;
  u8 c = b[0];
  if (c < 0x80) return 1;
  auto in = [&](std::size_t i, u8 lo, u8 hi) { return i < n && b[i] >= lo && b[i] <= hi; };
  if (c >= 0xC2 && c <= 0xDF) return in(1, 0x80, 0xBF) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    u8 lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
    return in(1, lo, hi) && in(2, 0x80, 0xBF) ? 3 : 0;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    u8 lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
    return in(1, lo, hi) && in(2, 0x80, 0xBF) && in(3, 0x80, 0xBF) ? 4 : 0;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// UTF-8 decoding

struct Utf8Case {
  const char* name;
  std::vector<u8> in;
  i32 cp;          // -1: not a character
  std::size_t step;  // bytes decode_utf8_char consumes
  enum { kValid, kInvalid, kTruncated } strict;
};

TEST_F(Unicode, DecodeUtf8Table) {
  const std::vector<Utf8Case> cases = {
      {"ascii", bytes({0x41}), 0x41, 1, Utf8Case::kValid},
      {"nul", bytes({0x00}), 0, 1, Utf8Case::kValid},
      {"two bytes", bytes({0xC3, 0xA9}), 0xE9, 2, Utf8Case::kValid},
      {"lowest two", bytes({0xC2, 0x80}), 0x80, 2, Utf8Case::kValid},
      {"three bytes", bytes({0xE4, 0xB8, 0xAD}), 0x4E2D, 3, Utf8Case::kValid},
      {"lowest three", bytes({0xE0, 0xA0, 0x80}), 0x800, 3, Utf8Case::kValid},
      {"before surrogates", bytes({0xED, 0x9F, 0xBF}), 0xD7FF, 3, Utf8Case::kValid},
      {"after surrogates", bytes({0xEE, 0x80, 0x80}), 0xE000, 3, Utf8Case::kValid},
      {"highest three", bytes({0xEF, 0xBF, 0xBF}), 0xFFFF, 3, Utf8Case::kValid},
      {"four bytes", bytes({0xF0, 0x9F, 0x98, 0x80}), 0x1F600, 4, Utf8Case::kValid},
      {"lowest four", bytes({0xF0, 0x90, 0x80, 0x80}), 0x10000, 4, Utf8Case::kValid},
      {"highest four", bytes({0xF4, 0x8F, 0xBF, 0xBF}), 0x10FFFF, 4, Utf8Case::kValid},
      {"trailing bytes ignored", bytes({0xC3, 0xA9, 0x41}), 0xE9, 2, Utf8Case::kValid},
      {"overlong nul", bytes({0xC0, 0x80}), -1, 1, Utf8Case::kInvalid},
      {"overlong two", bytes({0xC1, 0xBF}), -1, 1, Utf8Case::kInvalid},
      {"overlong three", bytes({0xE0, 0x9F, 0xBF}), -1, 1, Utf8Case::kInvalid},
      {"overlong four", bytes({0xF0, 0x8F, 0xBF, 0xBF}), -1, 1, Utf8Case::kInvalid},
      {"high surrogate", bytes({0xED, 0xA0, 0x80}), -1, 1, Utf8Case::kInvalid},
      {"low surrogate", bytes({0xED, 0xBF, 0xBF}), -1, 1, Utf8Case::kInvalid},
      {"above 10FFFF", bytes({0xF4, 0x90, 0x80, 0x80}), -1, 1, Utf8Case::kInvalid},
      {"lead F5", bytes({0xF5, 0x80, 0x80, 0x80}), -1, 1, Utf8Case::kInvalid},
      {"lead F8", bytes({0xF8, 0x88, 0x80, 0x80}), -1, 1, Utf8Case::kInvalid},
      {"byte FF", bytes({0xFF}), -1, 1, Utf8Case::kInvalid},
      {"lone continuation", bytes({0x80, 0x41}), -1, 1, Utf8Case::kInvalid},
      {"bad second byte", bytes({0xC3, 0x41}), -1, 1, Utf8Case::kInvalid},
      {"bad third byte", bytes({0xE4, 0xB8, 0x41}), -1, 2, Utf8Case::kInvalid},
      {"bad fourth byte", bytes({0xF0, 0x9F, 0x98, 0xC3}), -1, 3, Utf8Case::kInvalid},
      {"cut after lead of two", bytes({0xC3}), -1, 1, Utf8Case::kTruncated},
      {"cut after lead of three", bytes({0xE4}), -1, 1, Utf8Case::kTruncated},
      {"cut inside three", bytes({0xE4, 0xB8}), -1, 2, Utf8Case::kTruncated},
      {"cut inside four", bytes({0xF0, 0x9F, 0x98}), -1, 3, Utf8Case::kTruncated},
      {"cut inside E0 form", bytes({0xE0, 0xA0}), -1, 2, Utf8Case::kTruncated},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const u8* p = c.in.data();
    const u8* end = p + c.in.size();
    i32 cp = 12345;
    EXPECT_EQ(unicode::decode_utf8_char(p, end, cp) - p, static_cast<std::ptrdiff_t>(c.step));
    EXPECT_EQ(cp, c.cp);

    std::size_t n = c.in.size();
    switch (c.strict) {
      case Utf8Case::kValid:
        EXPECT_EQ(unicode::decode_utf8_strict(p, n), c.cp);
        EXPECT_EQ(n, c.step);
        break;
      case Utf8Case::kTruncated:
        EXPECT_EQ(unicode::decode_utf8_strict(p, n), -1);
        EXPECT_EQ(n, static_cast<std::size_t>(unicode::utf8_sequence_length(p[0])));
        break;
      case Utf8Case::kInvalid:
        try {
          unicode::decode_utf8_strict(p, n);
          ADD_FAILURE() << "no error raised";
        } catch (const Failure& f) {
          EXPECT_TRUE(f.invalid_utf8);
          // The bytes at the bad place, never more than four nor past the input.
          std::size_t kept = c.in.size() < 4 ? c.in.size() : 4;
          EXPECT_EQ(f.bytes, std::vector<u8>(c.in.begin(), c.in.begin() + kept));
        }
        break;
    }
  }
  std::size_t none = 0;
  EXPECT_EQ(unicode::decode_utf8_strict(nullptr, none), -1);
}

// Every sequence of up to three bytes (and a spread of four-byte ones) is read
// as the reference reads it.
TEST_F(Unicode, DecodeUtf8MatchesReferenceOnAllShortSequences) {
  u8 b[4];
  auto check = [&](std::size_t n) {
    i32 cp;
    const u8* after = unicode::decode_utf8_char(b, b + n, cp);
    int len = reference_utf8(b, n);
    if (len == 0) {
      ASSERT_EQ(cp, -1) << std::hex << int(b[0]) << " " << int(b[1]);
    } else {
      ASSERT_NE(cp, -1) << std::hex << int(b[0]) << " " << int(b[1]);
      ASSERT_EQ(after - b, len);
    }
  };
  for (int x = 0; x < 256; ++x) {
    b[0] = static_cast<u8>(x);
    check(1);
    for (int y = 0; y < 256; ++y) {
      b[1] = static_cast<u8>(y);
      check(2);
      for (int z = 0; z < 256; ++z) {
        b[2] = static_cast<u8>(z);
        check(3);
      }
    }
  }
  const u8 probes[] = {0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF};
  for (int x = 0xF0; x < 256; ++x)
    for (u8 y : probes)
      for (u8 z : probes)
        for (u8 w : probes) {
          b[0] = static_cast<u8>(x), b[1] = y, b[2] = z, b[3] = w;
          check(4);
        }
}

// Every code point goes through UTF-8 and comes back; a surrogate (a string
// may hold one alone) is written as U+FFFD, always valid UTF-8.
TEST_F(Unicode, Utf8RoundTripOfEveryCodePoint) {
  u8 buf[4];
  for (u32 cp = 0; cp <= unicode::kMaxCodePoint; ++cp) {
    int n = unicode::encode_utf8_char(cp, buf);
    ASSERT_EQ(n, unicode::utf8_length(cp));
    ASSERT_EQ(unicode::utf8_sequence_length(buf[0]), n == 1 ? 0 : n);
    i32 back;
    const u8* after = unicode::decode_utf8_char(buf, buf + n, back);
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      ASSERT_EQ(back, 0xFFFD);
      ASSERT_EQ(after, buf + n);
    } else {
      ASSERT_EQ(back, static_cast<i32>(cp));
      ASSERT_EQ(after, buf + n);
    }
  }
}

TEST_F(Unicode, CodePointAboveRangeRaises) {
  u8 buf[4] = {0, 0, 0, 0};
  for (u32 cp : {0x110000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    try {
      unicode::encode_utf8_char(cp, buf);
      ADD_FAILURE() << "encode accepted " << cp;
    } catch (const Failure& f) {
      EXPECT_FALSE(f.invalid_utf8);
      EXPECT_EQ(f.code_point, cp);
    }
    EXPECT_THROW(unicode::utf8_length(cp), Failure);
    EXPECT_THROW(unicode::encode_utf8_char_bounded(cp, buf, 4), Failure);
  }
  EXPECT_EQ(buf[0], 0);  // nothing written
}

// Without handlers of their own, the failures are the language's errors.
TEST(UnicodeErrors, DefaultHandlersRaiseLanguageErrors) {
  g_services.bad_code_point = nullptr;
  g_services.invalid_utf8 = nullptr;
  u8 buf[4];
  EXPECT_EQ(test::error_code_of([&] { unicode::encode_utf8_char(0x110000, buf); }),
            error_code(Err::ScriptInvalidChar));
  const Cell* arg = last_error_arg(0);
  EXPECT_TRUE(arg->is(T_INTEGER));
  EXPECT_EQ(arg->int_value(), 0x110000);

  const u8 bad[] = {0xC3, 0x41};
  std::size_t n = sizeof bad;
  EXPECT_EQ(test::error_code_of([&] { unicode::decode_utf8_strict(bad, n); }),
            error_code(Err::AccessInvalidUtf8));
}

TEST_F(Unicode, Utf8LengthBoundaries) {
  const std::pair<u32, int> cases[] = {{0, 1}, {0x7F, 1}, {0x80, 2}, {0x7FF, 2}, {0x800, 3},
                                        {0xFFFF, 3}, {0x10000, 4}, {0x10FFFF, 4}};
  for (auto [cp, len] : cases) EXPECT_EQ(unicode::utf8_length(cp), len) << cp;
  const std::pair<int, int> leads[] = {{0x00, 0}, {0x7F, 0}, {0x80, 0}, {0xBF, 0}, {0xC0, 2},
                                       {0xDF, 2}, {0xE0, 3}, {0xEF, 3}, {0xF0, 4}, {0xFF, 4}};
  for (auto [lead, len] : leads) EXPECT_EQ(unicode::utf8_sequence_length(static_cast<u8>(lead)), len);
}

TEST_F(Unicode, CountAndSkipCharacters) {
  // "a", U+00E9, U+4E2D, U+1F600, a stray continuation byte, "z", then a cut sequence.
  const auto text = bytes({'a', 0xC3, 0xA9, 0xE4, 0xB8, 0xAD, 0xF0, 0x9F, 0x98, 0x80, 0x80, 'z', 0xE4, 0xB8});
  const u8* p = text.data();
  const u8* end = p + text.size();
  EXPECT_EQ(unicode::count_utf8_chars(p, end), 7u);
  EXPECT_EQ(unicode::count_utf8_chars(p, p), 0u);
  EXPECT_EQ(unicode::count_utf8_chars(p, p + 6), 3u);
  EXPECT_EQ(unicode::skip_utf8_chars(p, end, 0), p);
  EXPECT_EQ(unicode::skip_utf8_chars(p, end, 3), p + 6);
  EXPECT_EQ(unicode::skip_utf8_chars(p, end, 4), p + 10);
  EXPECT_EQ(unicode::skip_utf8_chars(p, end, 6), p + 12);
  EXPECT_EQ(unicode::skip_utf8_chars(p, end, 100), end);
  // A bound inside a sequence is not crossed.
  EXPECT_EQ(unicode::skip_utf8_chars(p, p + 2, 5), p + 2);
}

// ---------------------------------------------------------------------------
// Encoding text of each unit

template <typename T>
std::vector<u8> units(std::initializer_list<u32> cps) {
  std::vector<u8> v(cps.size() * sizeof(T));
  std::size_t at = 0;
  for (u32 cp : cps) {
    T u = static_cast<T>(cp);
    std::memcpy(v.data() + at, &u, sizeof(T));
    at += sizeof(T);
  }
  return v;
}

TEST_F(Unicode, Utf8SizeOfEachUnit) {
  auto u1 = units<u8>({'a', 0xE9, '\n', 0xFF});
  EXPECT_EQ(unicode::utf8_size(u1.data(), u1.data() + u1.size(), 1), 6u);
  auto u2 = units<u16>({'a', 0xE9, 0x4E2D, 0xD800});
  EXPECT_EQ(unicode::utf8_size(u2.data(), u2.data() + u2.size(), 2), 1u + 2 + 3 + 3);
  auto u4 = units<u32>({'a', 0x4E2D, 0x1F600, 0x10FFFF});
  EXPECT_EQ(unicode::utf8_size(u4.data(), u4.data() + u4.size(), 4), 1u + 3 + 4 + 4);
  auto bad = units<u32>({'a', 0x110000});
  EXPECT_THROW(unicode::utf8_size(bad.data(), bad.data() + bad.size(), 4), Failure);
}

TEST(UnicodeDeathTest, UnknownUnitIsFatal) {
  u8 text[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EXIT(unicode::utf8_size(text, text + 4, 3), ::testing::ExitedWithCode(101),
              "");
}

TEST_F(Unicode, UnitsToUtf8) {
  u8 out[32];
  std::size_t used = 0;
  auto u2 = units<u16>({'a', '\n', 0xE9, 0x4E2D});
  std::size_t n = unicode::units_to_utf8(u2.data(), 4, 2, out, sizeof out, true, &used);
  EXPECT_EQ(std::vector<u8>(out, out + n), bytes({'a', '\r', '\n', 0xC3, 0xA9, 0xE4, 0xB8, 0xAD}));
  EXPECT_EQ(used, 4u);
  n = unicode::units_to_utf8(u2.data(), 4, 2, out, sizeof out, false, &used);
  EXPECT_EQ(std::vector<u8>(out, out + n), bytes({'a', '\n', 0xC3, 0xA9, 0xE4, 0xB8, 0xAD}));

  // Room ends inside a character or inside a CR LF: that character is left out whole.
  n = unicode::units_to_utf8(u2.data(), 4, 2, out, 6, false, &used);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(used, 3u);
  n = unicode::units_to_utf8(u2.data(), 4, 2, out, 2, true, &used);
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(used, 1u);

  auto u4 = units<u32>({0x1F600, 'x'});
  n = unicode::units_to_utf8(u4.data(), 2, 4, out, sizeof out, false);
  EXPECT_EQ(std::vector<u8>(out, out + n), bytes({0xF0, 0x9F, 0x98, 0x80, 'x'}));
  auto u1 = units<u8>({0xE9, '\n'});
  n = unicode::units_to_utf8(u1.data(), 2, 1, out, sizeof out, true);
  EXPECT_EQ(std::vector<u8>(out, out + n), bytes({0xC3, 0xA9, '\r', '\n'}));
}

TEST_F(Unicode, BoundedEncodeWritesWholeSequencesOnly) {
  u8 out[4] = {0, 0, 0, 0};
  EXPECT_EQ(unicode::encode_utf8_char_bounded(0x4E2D, out, 2), 0);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(unicode::encode_utf8_char_bounded(0x4E2D, out, 3), 3);
  EXPECT_EQ(out[0], 0xE4);
  EXPECT_EQ(unicode::encode_utf8_char_bounded('a', out, 0), 0);
  EXPECT_EQ(unicode::encode_utf8_char_bounded('a', out, 1), 1);
}

// ---------------------------------------------------------------------------
// UTF-16LE

std::vector<u32> decode_utf16(const std::vector<u8>& b) {
  std::vector<u32> out;
  const u8* p = b.data();
  const u8* end = p + b.size();
  while (p < end) {
    u32 cp;
    p = unicode::decode_utf16le_char(p, end, cp);
    out.push_back(cp);
  }
  return out;
}

TEST_F(Unicode, Utf16RoundTrips) {
  const std::vector<std::vector<u32>> texts = {
      {'A', 0xE9, 0x4E2D, 0xFFFF},
      {0x10000, 0x1F600, 0x10FFFF, 'z'},
      {0xD800},               // lone high surrogate at the end
      {0xD83D, 'x'},          // high surrogate followed by a non-surrogate
      {0xDC00, 'y'},          // lone low surrogate
      {0xDFFF, 0xD800},       // low then high: not a pair
      {0xD800, 0xD800, 0x1F600},
  };
  for (const auto& t : texts) {
    std::vector<u8> b;
    for (u32 cp : t) {
      u8 buf[4];
      int n = unicode::encode_utf16_char(cp, buf);
      ASSERT_EQ(n, cp > 0xFFFF ? 2 : 1);
      b.insert(b.end(), buf, buf + 2 * n);
    }
    EXPECT_EQ(decode_utf16(b), t);
  }
  u8 buf[4];
  EXPECT_EQ(unicode::encode_utf16_char(0x1F600, buf), 2);
  EXPECT_EQ(std::vector<u8>(buf, buf + 4), bytes({0x3D, 0xD8, 0x00, 0xDE}));
  EXPECT_EQ(unicode::encode_utf16_char(0x110000, buf), 0);
}

TEST_F(Unicode, Utf16UnitNeeded) {
  struct Case {
    std::vector<u8> in;
    int unit;
  } cases[] = {
      {{}, 1},
      {bytes({'a', 0, 0xE9, 0}), 1},
      {bytes({'a', 0, 0x2D, 0x4E}), 2},
      {bytes({0x3D, 0xD8, 0x00, 0xDE}), 4},
      {bytes({0x00, 0xDC, 'a', 0}), 4},  // a lone surrogate too
  };
  for (const auto& c : cases) EXPECT_EQ(unicode::utf16le_unit_needed(c.in.data(), c.in.size() / 2), c.unit);
}

TEST_F(Unicode, UnitsToUtf16) {
  u8 out[32];
  auto u4 = units<u32>({'a', '\n', 0x1F600});
  EXPECT_EQ(unicode::units_to_utf16le(u4.data(), 3, 4, out, 16, true), 5);
  EXPECT_EQ(std::vector<u8>(out, out + 10), bytes({'a', 0, '\r', 0, '\n', 0, 0x3D, 0xD8, 0x00, 0xDE}));
  // No room for the pair: it is left out whole.
  EXPECT_EQ(unicode::units_to_utf16le(u4.data(), 3, 4, out, 4, true), 3);
  auto bad = units<u32>({'a', 0x110000});
  EXPECT_EQ(unicode::units_to_utf16le(bad.data(), 2, 4, out, 16, false), -1);
  auto u1 = units<u8>({0xE9, 'b'});
  EXPECT_EQ(unicode::units_to_utf16le(u1.data(), 2, 1, out, 16, false), 2);
  EXPECT_EQ(std::vector<u8>(out, out + 4), bytes({0xE9, 0, 'b', 0}));

  const u8 latin[] = {'h', 0xE9, 0};
  u8 w[6] = {1, 1, 1, 1, 1, 1};
  EXPECT_EQ(unicode::latin1_to_utf16(latin, w), 2u);
  EXPECT_EQ(std::vector<u8>(w, w + 6), bytes({'h', 0, 0xE9, 0, 0, 0}));
}

// ---------------------------------------------------------------------------
// Case mapping

TEST_F(Unicode, CaseMappingSamples) {
  struct Case {
    const char* what;
    u32 cp, upper, lower;
  } cases[] = {
      {"ascii a", 'a', 'A', 'a'},
      {"ascii Z", 'Z', 'Z', 'z'},
      {"digit", '7', '7', '7'},
      {"e acute", 0xE9, 0xC9, 0xE9},
      {"y diaeresis", 0xFF, 0x178, 0xFF},
      {"capital Y diaeresis", 0x178, 0x178, 0xFF},
      {"micro sign", 0xB5, 0x39C, 0xB5},
      {"sharp s has no single upper case", 0xDF, 0xDF, 0xDF},
      {"dotted capital I", 0x130, 0x130, 'i'},
      {"dotless i", 0x131, 'I', 0x131},
      {"title-case dz", 0x1C5, 0x1C4, 0x1C6},
      {"sigma", 0x3C3, 0x3A3, 0x3C3},
      {"final sigma", 0x3C2, 0x3A3, 0x3C2},
      {"capital sigma", 0x3A3, 0x3A3, 0x3C3},
      {"alpha with iota subscript", 0x1F80, 0x1F88, 0x1F80},
      {"title alpha with prosgegrammeni", 0x1F88, 0x1F88, 0x1F80},
      {"cyrillic ya", 0x44F, 0x42F, 0x44F},
      {"cyrillic YA", 0x42F, 0x42F, 0x44F},
      {"cyrillic yo", 0x451, 0x401, 0x451},
      {"armenian", 0x561, 0x531, 0x561},
      {"fullwidth a", 0xFF41, 0xFF21, 0xFF41},
      {"cjk", 0x4E2D, 0x4E2D, 0x4E2D},
      {"last BMP", 0xFFFF, 0xFFFF, 0xFFFF},
      {"deseret long i", 0x10428, 0x10400, 0x10428},
      {"deseret capital long i", 0x10400, 0x10400, 0x10428},
      {"deseret last", 0x1044F, 0x10427, 0x1044F},
      {"adlam", 0x1E922, 0x1E900, 0x1E922},
      {"below the astral keys", 0x10000, 0x10000, 0x10000},
      {"between astral keys", 0x10450, 0x10450, 0x10450},
      {"above the astral keys", 0x1F600, 0x1F600, 0x1F600},
      {"last code point", 0x10FFFF, 0x10FFFF, 0x10FFFF},
      {"beyond", 0x110000, 0x110000, 0x110000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(case_::fold_char(c.cp, true), c.upper);
    EXPECT_EQ(case_::fold_char(c.cp, false), c.lower);
    EXPECT_EQ(case_::upper_char(c.cp), c.upper);
    EXPECT_EQ(case_::toggle_char(c.cp), c.upper != c.cp ? c.upper : c.lower);
  }
}

// The lookups answer exactly what the generated pair lists say, and nothing
// maps where the lists are silent.
TEST_F(Unicode, CaseLookupsFollowThePairLists) {
  using namespace unicode::tables;
  std::vector<u32> up(unicode::kMaxCodePoint + 1, 0), down(unicode::kMaxCodePoint + 1, 0);
  auto load = [](std::vector<u32>& into, auto pairs, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      if (i > 0) {
        ASSERT_LT(pairs[i - 1][0], pairs[i][0]) << "pairs not sorted";
      }
      ASSERT_NE(pairs[i][0], pairs[i][1]);
      into[pairs[i][0]] = pairs[i][1];
    }
  };
  load(up, upper_bmp, upper_bmp_count);
  load(up, upper_astral, upper_astral_count);
  load(down, lower_bmp, lower_bmp_count);
  load(down, lower_astral, lower_astral_count);
  for (u32 cp = 0; cp <= unicode::kMaxCodePoint; ++cp) {
    ASSERT_EQ(case_::fold_char(cp, true), up[cp] ? up[cp] : cp) << std::hex << cp;
    ASSERT_EQ(case_::fold_char(cp, false), down[cp] ? down[cp] : cp) << std::hex << cp;
  }
}

// ---------------------------------------------------------------------------
// Display width

TEST_F(Unicode, CharWidth) {
  struct Case {
    u32 cp;
    int width;
    int wide_ambiguous;
  } cases[] = {
      {0x0000, 0, 0},   {0x0009, 1, 1},   {0x001B, 1, 1},   {'A', 1, 1},      {0x007F, 1, 1},
      {0x0085, 1, 1},   {0x00A1, 1, 2},   {0x00AD, 1, 2},   {0x00E9, 1, 2},   {0x0300, 0, 0},
      {0x0301, 0, 0},   {0x036F, 0, 0},   {0x0370, 1, 1},   {0x0483, 0, 0},   {0x0591, 0, 0},
      {0x0E31, 0, 0},   {0x200B, 0, 0},   {0x200D, 0, 0},   {0x1100, 2, 2},   {0x115F, 2, 2},
      {0x1160, 1, 1},   {0x231A, 2, 2},   {0x3000, 2, 2},   {0x302A, 0, 0},   {0x3041, 2, 2},
      {0x4E2D, 2, 2},   {0x9FFF, 2, 2},   {0xAC00, 2, 2},   {0xFE0F, 0, 0},   {0xFF01, 2, 2},
      {0xFF61, 1, 1},   {0xE000, 1, 2},   {0x1F600, 2, 2},  {0x20000, 2, 2},  {0x2FFFD, 2, 2},
      {0x30000, 2, 2},  {0x3FFFD, 2, 2},  {0x3FFFE, 1, 1},  {0xE0001, 0, 0},  {0xE0100, 0, 0},
      {0xE01EF, 0, 0},  {0xE01F0, 1, 1},  {0x10FFFF, 1, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(unicode::char_width(c.cp), c.width) << std::hex << c.cp;
    EXPECT_EQ(unicode::char_width_wide_ambiguous(c.cp), c.wide_ambiguous) << std::hex << c.cp;
  }
}

TEST_F(Unicode, InRanges) {
  const Range r[] = {{10, 20}, {30, 30}, {40, 50}};
  const std::pair<u32, bool> cases[] = {{0, false}, {9, false}, {10, true},  {15, true}, {20, true},
                                        {21, false}, {29, false}, {30, true}, {31, false}, {40, true},
                                        {50, true}, {51, false}, {0xFFFFFFFF, false}};
  for (auto [cp, in] : cases) EXPECT_EQ(unicode::in_ranges(cp, r, 3), in) << cp;
  EXPECT_FALSE(unicode::in_ranges(15, r, 0));
}

// The shape of the generated tables: sorted, disjoint, and with the ends the
// width tables are known by. The counts are those of the Unicode version the
// tables were made from.
TEST_F(Unicode, GeneratedTableShape) {
  using namespace unicode::tables;
  auto check_sorted = [](const Range* t, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      ASSERT_LE(t[i].low, t[i].high);
      if (i > 0) {
        ASSERT_GT(t[i].low, t[i - 1].high + 1) << "ranges overlap or touch at " << i;
      }
    }
  };
  check_sorted(zero_width, zero_width_count);
  check_sorted(double_width, double_width_count);
  check_sorted(ambiguous_width, ambiguous_width_count);

  auto same = [](const Range& a, u32 lo, u32 hi) { return a.low == lo && a.high == hi; };
  EXPECT_TRUE(same(zero_width[0], 0x300, 0x36F));
  EXPECT_TRUE(same(zero_width[1], 0x483, 0x489));
  EXPECT_TRUE(same(zero_width[2], 0x591, 0x5BD));
  EXPECT_TRUE(same(zero_width[zero_width_count - 1], 0xE0100, 0xE01EF));
  EXPECT_TRUE(same(double_width[0], 0x1100, 0x115F));
  EXPECT_TRUE(same(double_width[1], 0x231A, 0x231B));
  EXPECT_TRUE(same(double_width[double_width_count - 1], 0x30000, 0x3FFFD));

  // A mark never takes two columns, in either width table.
  for (std::size_t i = 0; i < zero_width_count; ++i) {
    for (u32 cp : {zero_width[i].low, zero_width[i].high}) {
      EXPECT_FALSE(unicode::in_ranges(cp, double_width, double_width_count)) << std::hex << cp;
      EXPECT_FALSE(unicode::in_ranges(cp, ambiguous_width, ambiguous_width_count)) << std::hex << cp;
    }
  }

  if (std::string(unicode_version) == "14.0.0") {
    EXPECT_EQ(upper_bmp_count, 1190u);
    EXPECT_EQ(lower_bmp_count, 1173u);
    EXPECT_EQ(upper_astral_count, 260u);
    EXPECT_EQ(lower_astral_count, 260u);
    EXPECT_EQ(zero_width_count, 347u);
    EXPECT_EQ(double_width_count, 122u);
    EXPECT_EQ(ambiguous_width_count, 176u);
  }
}

}  // namespace
}  // namespace zot
