#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/ownership.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/words.h"
#include "interpreter/eval.h"
#include "runtime/symbol.h"
#include "tests/unit/eval_fixture.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

// Each notification the owner's on-deep-change* handler hears: the field
// word, the action, the index and the part, appended to `heard`.
std::string heard() { return test::run("heard"); }

struct OwnershipTest : ::testing::Test {
  void SetUp() override { EXPECT_EQ(test::run("heard: copy [] 0"), "0"); }

  // An object with an on-deep-change* handler and the field `items`.
  Cell make_owner() {
    Cell code = test::load(
        "make object! [items: none on-deep-change*: func [owner word target action new index part] ["
        "append heard reduce [word action index part]]]");
    return interp::do_block(&code);
  }
};

TEST_F(OwnershipTest, NestedSeriesNotifyTheirOwnerTwicePerChange) {
  Cell text;
  string::make_from_utf8(&text, "abc", 3);
  Cell outer, inner;
  block::make_at(&outer, 2);
  block::make_at(&inner, 2);
  block::append_cell(&inner, &text);
  block::append_cell(&outer, &inner);
  block::append_cell(&outer, &outer);  // a cycle: binding must end

  Cell owner = make_owner();
  Cell field = *context::word_at(owner.w1, 0);
  ownership::set_owner(&outer, &owner, &field);
  EXPECT_TRUE(mem::series_of(text.w2)->flags & mem::kOwned);
  ASSERT_NE(ownership::owner_of(text.w2), nullptr);

  series::clear(&text);
  Cell none;
  set_none(&none);
  series::poke(&inner, 1, &none, nullptr);
  EXPECT_EQ(heard(), "[items clear 0 3 items cleared 0 0 items poke 0 1 items poked 0 1]");
}

TEST_F(OwnershipTest, FirstOwnerStaysAndUnbindForgets) {
  Cell text;
  string::make_from_utf8(&text, "xyz", 3);
  Cell a = make_owner(), b = make_owner();
  Cell fa = *context::word_at(a.w1, 0);
  ownership::bind(&text, &a, &fa);
  ownership::bind(&text, &b, &fa);
  EXPECT_EQ(ownership::owner_of(text.w2)->w1, a.w1);
  ownership::unbind(&text);
  EXPECT_EQ(ownership::owner_of(text.w2), nullptr);
  EXPECT_FALSE(mem::series_of(text.w2)->flags & mem::kOwned);
  series::clear(&text);
  EXPECT_EQ(heard(), "[]");
}

TEST_F(OwnershipTest, UnownedSeriesCallsNothing) {
  Cell text;
  string::make_from_utf8(&text, "q", 1);
  Cell w = *words::word(w::clear);
  EXPECT_FALSE(ownership::check(&text, &w, nullptr, 0, 1));
  EXPECT_EQ(heard(), "[]");
}

TEST(SlotPool, TakesGrowsAndReleases) {
  test::ensure_runtime();
  std::vector<u32> taken;
  for (i32 i = 0; i < 250; i++) {
    Cell v;
    set_integer(&v, i);
    taken.push_back(ownership::slot_pool_take(&v));
  }
  for (i32 i = 0; i < 250; i++) EXPECT_EQ(ownership::slot_pool_at(taken[i])->int_value(), i);
  ownership::slot_pool_release(taken[7]);
  Cell v;
  set_integer(&v, -1);
  EXPECT_EQ(ownership::slot_pool_take(&v), taken[7]);
}

}  // namespace
}  // namespace zot
