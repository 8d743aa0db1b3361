#include <gtest/gtest.h>

#include <vector>

#include "runtime/array.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

std::vector<u32> ints(mem::Node a) {
  std::vector<u32> v;
  for (u32 i = 1; i <= array::length(a); i++) v.push_back(array::pick_int(a, i));
  return v;
}

TEST(Array, IntsGrowFindInsertRemove) {
  test::ensure_runtime();
  mem::Node a = array::make(2, 4);
  for (u32 i = 1; i <= 100; i++) array::append_int(a, i * 10);
  EXPECT_EQ(array::length(a), 100u);
  EXPECT_EQ(array::pick_int(a, 100), 1000u);
  EXPECT_EQ(array::find_int(a, 30), 8);  // a byte offset
  EXPECT_EQ(array::find_int(a, 31), -1);
  array::remove_int(a, 30);
  EXPECT_EQ(array::length(a), 99u);
  EXPECT_EQ(array::pick_int(a, 3), 40u);
  array::insert_int(a, 7, 1);
  array::insert_int(a, 8, 1000);  // past the end: appended
  EXPECT_EQ(array::pick_int(a, 1), 7u);
  EXPECT_EQ(array::pick_int(a, array::length(a)), 8u);
  array::poke_int(a, 2, 5);
  EXPECT_EQ(array::pick_int(a, 2), 5u);
  array::truncate(a, 4);
  EXPECT_EQ(ints(a), (std::vector<u32>{7, 5, 20}));
  mem::Node c = array::copy(a);
  array::clear(a);
  EXPECT_EQ(array::length(a), 0u);
  EXPECT_EQ(ints(c), (std::vector<u32>{7, 5, 20}));
  EXPECT_EQ(array::pick_int(c, 0), 0u);  // out of range: nothing
  EXPECT_EQ(array::pick_int(c, 4), 0u);
}

TEST(Array, Bytes) {
  test::ensure_runtime();
  mem::Node a = array::make(0, 1);
  array::append_bytes(a, "hello", 5);
  array::append_byte(a, '!');
  EXPECT_EQ(array::length(a), 6u);
  EXPECT_EQ(array::pick_byte(a, 6), '!');
  array::remove_bytes(a, 1, 3);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(array::head(a)), array::length(a)), "ho!");
  array::remove_bytes(a, 2, 100);  // cut to what is there
  EXPECT_EQ(array::length(a), 2u);
}

}  // namespace
}  // namespace zot
