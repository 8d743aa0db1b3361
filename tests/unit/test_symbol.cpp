#include "runtime/symbol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/hashtable.h"
#include "tests/unit/runtime_fixture.h"

namespace {

using namespace zot;

class Symbols : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::ensure_runtime();
    symbol::init();
  }
};

TEST_F(Symbols, TableStartsWithRoomForFourThousand) {
  const hashtable::Table* r = hashtable::record(symbol::g_table);
  EXPECT_EQ(r->kind, hashtable::kSymbols);
  EXPECT_GE(r->buckets, 16384);
  EXPECT_EQ(mem::Node(r->block), symbol::g_block);
  mem::Node table = symbol::g_table;
  symbol::init();  // a second call keeps the table
  EXPECT_EQ(symbol::g_table, table);
}

TEST_F(Symbols, CaseVariantsShareTheFirstSpellingsId) {
  u32 lower = symbol::make("case-family");
  u32 capital = symbol::make("Case-family");
  u32 upper = symbol::make("CASE-FAMILY");
  EXPECT_NE(lower, capital);
  EXPECT_NE(capital, upper);
  EXPECT_EQ(symbol::alias(lower), -1);
  EXPECT_EQ(symbol::alias(capital), i32(lower));
  EXPECT_EQ(symbol::alias(upper), i32(lower));
  for (u32 id : {lower, capital, upper}) EXPECT_EQ(symbol::resolve(id), lower);
  // Interning a spelling again returns its own id.
  EXPECT_EQ(symbol::make("case-family"), lower);
  EXPECT_EQ(symbol::make("CASE-FAMILY"), upper);
  // With the variant flag an existing variant answers instead of a new symbol.
  u32 count = symbol::count();
  EXPECT_EQ(symbol::make_with_flag("cASE-fAMILY"), lower);
  EXPECT_EQ(symbol::count(), count);
  u32 fresh = symbol::make_with_flag("Flagged-New-Name");
  EXPECT_EQ(fresh, count + 1);
  EXPECT_EQ(symbol::alias(fresh), -1);
}

TEST_F(Symbols, OnlyAsciiLettersFoldAndLengthsMustMatch) {
  struct Case {
    const char* a;
    const char* b;
    bool same_family;
  };
  const Case cases[] = {
      {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", false},     // e-acute vs E-acute: not ASCII
      {"\xC3\x89t\xC3\xA9-x", "\xC3\x89T\xC3\xA9-X", true},  // same non-ASCII bytes, ASCII letters differ
      {"len-ab", "len-abc", false},
      {"digits-09", "DIGITS-09", true},
      {"at@-bracket[", "AT`-BRACKET{", false},  // @ [ are not letters, ` { are not their lower cases
  };
  for (const Case& c : cases) {
    u32 a = symbol::make(c.a), b = symbol::make(c.b);
    EXPECT_NE(a, b) << c.a;
    EXPECT_EQ(symbol::resolve(a) == symbol::resolve(b), c.same_family) << c.a << " / " << c.b;
  }
}

TEST_F(Symbols, NamesRoundTrip) {
  const std::string names[] = {"q", "x-y-z", "fifteen-chars-x", "sixteen-chars-xy", "\xE2\x82\xAC-euro",
                               std::string(300, 'q')};
  for (const std::string& name : names) {
    const u32 before = symbol::count();
    u32 id = symbol::make(name.c_str());
    EXPECT_EQ(std::string(symbol::name_text(id)), name);
    EXPECT_EQ(symbol::name_length(id), name.size());
    const Cell* c = symbol::get(id);
    EXPECT_TRUE(c->is(T_SYMBOL));
    if (id > before) {
      EXPECT_EQ(c->w2, 0u);  // a new symbol has no string form until someone asks
    }
    const mem::Series* s = mem::series_of(c->w3);
    EXPECT_EQ(s->bytes_used(), name.size());
    EXPECT_EQ(s->data()[s->tail], 0);
  }
  // Interning from a byte range reads only its length.
  const char text[] = "range-name-and-more";
  EXPECT_EQ(symbol::make_from_bytes(reinterpret_cast<const u8*>(text), 10), symbol::make("range-name"));
}

TEST_F(Symbols, IdsStayStableThroughGrowth) {
  const hashtable::Table* r = hashtable::record(symbol::g_table);
  i32 buckets = r->buckets;
  std::vector<std::string> names;
  std::vector<u32> ids;
  for (int i = 0; i < 13000; i++) {
    std::string name = "grow-" + std::to_string(i / 2);
    if (i % 2) name = "GROW-" + std::to_string(i / 2);
    u32 before = symbol::count();
    u32 id = symbol::make(name.c_str());
    ASSERT_EQ(id, before + 1) << name;
    names.push_back(name);
    ids.push_back(id);
  }
  r = hashtable::record(symbol::g_table);
  EXPECT_GT(r->buckets, buckets);
  for (std::size_t i = 0; i < names.size(); i++) {
    ASSERT_EQ(symbol::make(names[i].c_str()), ids[i]) << names[i];
    ASSERT_EQ(std::string(symbol::name_text(ids[i])), names[i]);
    ASSERT_EQ(symbol::resolve(ids[i]), ids[i - i % 2]);
  }
}

}  // namespace
