#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

#include "platform/platform.h"
#include "runtime/print.h"

namespace zot {
namespace {

TEST(Platform, ZoneFieldKeepsSignAndQuarterHours) {
  struct Case {
    int minutes;
    u32 zone;
  };
  const Case cases[] = {
      {0, 0},
      {-300, 0x40 | (5 << 2)},      // -5:00
      {330, (5 << 2) | 2},          // +5:30
      {-30, 0x40 | 2},              // -0:30 keeps its sign
      {-570, 0x40 | (9 << 2) | 2},  // -9:30
      {345, (5 << 2) | 3},          // +5:45
      {-45, 0x40 | 3},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::encode_zone(c.minutes), c.zone) << c.minutes;
}

TEST(Platform, DateWordMatchesTheClock) {
  time_t now = time(nullptr);
  struct tm tm;
  gmtime_r(&now, &tm);
  u32 w = platform::date_word(true);
  EXPECT_EQ(w >> 17, u32(tm.tm_year + 1900));
  EXPECT_EQ((w >> 12) & 31, u32(tm.tm_mon + 1));
  EXPECT_EQ(w & 0x7F, 0u);
  double t = platform::time_of_day(true);
  EXPECT_GE(t, 0.0);
  EXPECT_LT(t, 86400.0);
  EXPECT_EQ(platform::time_of_day(false), double(i64(platform::time_of_day(false))));
}

// Huge-page memory is aligned to 2 MiB and keeps its contents through a
// resize either way; the resized memory is somewhere else.
TEST(Platform, HugeMemoryResizesWithItsContents) {
  constexpr std::size_t kMiB = std::size_t(1) << 20;
  auto* p = static_cast<u8*>(platform::valloc(3 * kMiB, platform::Pages::huge));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % (2 * kMiB), 0u);
  for (std::size_t i = 0; i < 3 * kMiB; i += 4096) p[i] = u8(i >> 12);
  auto* q = static_cast<u8*>(platform::vresize(p, 3 * kMiB, 7 * kMiB));
  ASSERT_NE(q, nullptr);
  EXPECT_NE(q, p);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(q) % (2 * kMiB), 0u);
  for (std::size_t i = 0; i < 3 * kMiB; i += 4096) ASSERT_EQ(q[i], u8(i >> 12)) << i;
  EXPECT_EQ(q[7 * kMiB - 1], 0);
  auto* r = static_cast<u8*>(platform::vresize(q, 7 * kMiB, 2 * kMiB + 4096));
  ASSERT_NE(r, nullptr);
  for (std::size_t i = 0; i < 2 * kMiB + 4096; i += 4096) ASSERT_EQ(r[i], u8(i >> 12)) << i;
  EXPECT_TRUE(platform::vfree(r, 2 * kMiB + 4096));
}

TEST(Platform, SleepTakesAtLeastOneMillisecond) {
  for (double s : {0.0, 0.0001, -1.0}) {
    auto t0 = std::chrono::steady_clock::now();
    platform::sleep(s);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1)) << s;
  }
}

TEST(Platform, EnvironmentAndDirectory) {
  std::string v;
  ASSERT_TRUE(platform::set_env("ZOT_TEST_VAR", "caf\xC3\xA9"));
  ASSERT_TRUE(platform::get_env("ZOT_TEST_VAR", &v));
  EXPECT_EQ(v, "caf\xC3\xA9");
  ASSERT_TRUE(platform::set_env("ZOT_TEST_VAR", nullptr));
  EXPECT_FALSE(platform::get_env("ZOT_TEST_VAR", &v));
  EXPECT_FALSE(platform::set_env("BAD=NAME", "x"));
  std::string here, there;
  ASSERT_TRUE(platform::current_dir(&here));
  ASSERT_TRUE(platform::set_current_dir("/"));
  ASSERT_TRUE(platform::current_dir(&there));
  EXPECT_EQ(there, "/");
  EXPECT_FALSE(platform::set_current_dir("/no/such/dir/zot"));
  ASSERT_TRUE(platform::set_current_dir(here.c_str()));
}

TEST(Print, CharLiteralsAndSpacedEntries) {
  struct Case {
    u8 c;
    const char* text;
  };
  const Case cases[] = {{0, "#\"^@\""}, {9, "#\"^-\""},   {10, "#\"^/\""},     {27, "#\"^]\""},
                        {1, "#\"^A\""}, {'a', "#\"a\""}, {200, "#\"^(C8)\""}, {31, "#\"^_\""}};
  for (const auto& c : cases) EXPECT_EQ(runtime::char_literal(c.c), c.text);
  runtime::PrintEntry e[4];
  e[0].kind = runtime::PrintEntry::kText;
  e[0].text = "a ";
  e[1].kind = runtime::PrintEntry::kInteger;
  e[1].integer = -12;
  e[2].kind = runtime::PrintEntry::kLogic;
  e[2].logic = true;
  e[3].kind = runtime::PrintEntry::kHex;
  e[3].integer = 0xBEEF;
  std::string s;
  runtime::format_entries(&s, e, 4, true);
  EXPECT_EQ(s, "a -12 true 0000BEEF");
}

}  // namespace
}  // namespace zot
