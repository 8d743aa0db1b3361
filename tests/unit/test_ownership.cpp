#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/ownership.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/symbol.h"
#include "runtime/words.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

struct Heard {
  std::string field;
  std::string action;
  i32 index;
  i32 part;
};
std::vector<Heard> g_heard;

void listen(const Cell*, const Cell* word, const Cell*, const Cell* action, const Cell*, i32 index, i32 part) {
  g_heard.push_back({symbol::name_text(word->w2), symbol::name_text(action->w2), index, part});
}

struct OwnershipTest : ::testing::Test {
  void SetUp() override {
    test::ensure_runtime();
    ownership::set_fire_deep_change(listen);
    g_heard.clear();
  }
  void TearDown() override { ownership::set_fire_deep_change(nullptr); }

  // An object with event handlers owning `value` through the field `items`.
  Cell make_owner() {
    Cell spec;
    block::make_at(&spec, 1);
    Cell w;
    make_cell(&w, T_WORD, 0, symbol::make("items"), u32(-1));
    block::append_cell(&spec, &w);
    mem::Node ctx = context::make(&spec, false, false, context::kObject);
    Cell obj;
    make_cell(&obj, T_OBJECT, ctx, 1000001, 1);  // w3: it has handlers
    *context::owner_cell(ctx) = obj;
    return obj;
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
  ASSERT_EQ(g_heard.size(), 4u);
  EXPECT_EQ(g_heard[0].field, "items");
  EXPECT_EQ(g_heard[0].action, "clear");
  EXPECT_EQ(g_heard[1].action, "cleared");
  EXPECT_EQ(g_heard[2].action, "poke");
  EXPECT_EQ(g_heard[3].action, "poked");
  EXPECT_EQ(g_heard[2].index, 0);
  EXPECT_EQ(g_heard[2].part, 1);
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
  EXPECT_TRUE(g_heard.empty());
}

TEST_F(OwnershipTest, UnownedSeriesCallsNothing) {
  Cell text;
  string::make_from_utf8(&text, "q", 1);
  Cell w = *words::word(w::clear);
  EXPECT_FALSE(ownership::check(&text, &w, nullptr, 0, 1));
  EXPECT_TRUE(g_heard.empty());
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
