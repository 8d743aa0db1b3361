#include <gtest/gtest.h>

#include <functional>

#include "datatypes/simple.h"
#include "runtime/cycles.h"
#include "runtime/helpers.h"
#include "runtime/services.h"
#include "tests/unit/series_fixture.h"

namespace zot {
namespace {

using test::at_index;
using test::block_of;
using test::contents;
using test::int_cell;
using test::ints;
using test::new_line;
using V = std::vector<i64>;

Cell str(const char* text) {
  Cell s;
  set_unset(&s);
  return *string::make_from_utf8(&s, text, std::strlen(text));
}

Cell word(u32 symbol, u32 type = T_WORD) {
  Cell w;
  return *make_cell(&w, type, 0, symbol, u32(-1));
}

// A block that holds itself after its other cells.
Cell self_holding(std::initializer_list<i32> values, u32 type = T_BLOCK) {
  Cell b = ints(values);
  set_type(&b, u8(type));
  block::append_cell(&b, &b);
  return b;
}

// A linear find for the tests (block search is another module's).
Cell g_found;
Cell* test_find(Cell* series, Cell* value, const actions::FindOptions&) {
  i32 n = i32(series::buffer_of(series)->length());
  for (i32 i = series::index_of(series); i < n; i++) {
    Cell c = *block::cell_at(series, i);
    if (actions::compare_direct(value, &c, actions::kFindEqual) == 0) {
      g_found = at_index(*series, i);
      return &g_found;
    }
  }
  return set_none(&g_found);
}

// Words compare by symbol for the tests (the word datatypes are another module's).
i32 test_word_compare(const Cell* a, const Cell* b, i32) {
  if (b->type() < T_WORD || b->type() > T_ISSUE) return actions::kNotComparable;
  return a->w2 == b->w2 ? 0 : 1;
}

class Block : public ::testing::Test {
 protected:
  void SetUp() override {
    patch_.set<actions::kFind>(T_BLOCK, &test_find);
    for (u32 t = T_WORD; t <= T_ISSUE; t++) patch_.set<actions::kCompare>(t, &test_word_compare);
  }
  test::ValueTypes types_;
  test::SlotPatch patch_;
};

TEST_F(Block, MoldAndFormGoldenTable) {
  Cell nested_flags = block_of({new_line(int_cell(1)), block_of({new_line(int_cell(2))})});
  struct Case {
    const char* what;
    Cell value;
    bool only, flat;
    i32 limit;
    const char* mold;
    const char* form;
  };
  const Case cases[] = {
      {"plain", ints({1, 2, 3}), false, false, -1, "[1 2 3]", "1 2 3"},
      {"empty", ints({}), false, false, -1, "[]", ""},
      {"from the index", at_index(ints({1, 2, 3}), 1), false, false, -1, "[2 3]", "2 3"},
      {"nested", block_of({int_cell(1), ints({2, 3}), int_cell(4)}), false, false, -1, "[1 [2 3] 4]",
       "1 2 3 4"},
      {"first on a new line", block_of({new_line(int_cell(1)), int_cell(2)}), false, false, -1,
       "[\n    1 2\n]", "1 2"},
      {"second on a new line", block_of({int_cell(1), new_line(int_cell(2))}), false, false, -1, "[1\n2]",
       "1 2"},
      {"every value on its line", block_of({new_line(int_cell(1)), new_line(int_cell(2))}), false, false, -1,
       "[\n    1\n    2\n]", "1 2"},
      {"indent per level", nested_flags, false, false, -1, "[\n    1 [\n        2\n    ]\n]", "1 2"},
      {"flat", nested_flags, false, true, -1, "[1 [2]]", "1 2"},
      {"only", block_of({new_line(int_cell(1)), int_cell(2)}), true, false, -1, "1 2", "1 2"},
      {"only, later line", block_of({int_cell(1), new_line(int_cell(2))}), true, false, -1, "1\n2", "1 2"},
      {"cycle", self_holding({1}), false, false, -1, "[1 [...]]", "1 ..."},
      {"paren", ints({1, 2}), false, false, -1, "[1 2]", "1 2"},
      {"paren cycle", self_holding({1}, T_PAREN), false, false, -1, "(1 (...))", "1 ..."},
      {"part stops the walk", ints({1, 2, 3, 4}), false, false, 3, "[1 2]", "1 2"},
      {"strings", block_of({str("a b"), str("c")}), false, false, -1, "[\"a b\" \"c\"]", "a b c"},
      {"no space after a line feed", block_of({str("a\n"), str("b")}), false, false, -1, "[\"a^/\" \"b\"]",
       "a\nb"},
  };
  Cell paren = ints({1, 2});
  set_type(&paren, T_PAREN);
  for (const auto& c : cases) {
    Cell v = std::string(c.what) == "paren" ? paren : c.value;
    std::string want = std::string(c.what) == "paren" ? "(1 2)" : c.mold;
    EXPECT_EQ(test::mold_text(v, c.only, false, c.flat, c.limit), want) << c.what;
    EXPECT_EQ(test::form_text(v, c.limit), c.form) << c.what;
    EXPECT_EQ(cycles::depth(), 0u) << c.what;
  }
}

TEST_F(Block, DeepNestingRaisesTooDeepAndMoldWorksAfterwards) {
  Cell inner = ints({1});
  for (int i = 0; i < 1100; i++) inner = block_of({inner});
  EXPECT_EQ(test::error_code_of([&] { test::mold_text(inner); }), error_code(Err::InternalTooDeep));
  EXPECT_EQ(cycles::depth(), 0u);
  EXPECT_EQ(test::mold_text(ints({1, 2})), "[1 2]");
}

TEST_F(Block, Compare) {
  Cell paren = ints({1, 2});
  set_type(&paren, T_PAREN);
  Cell b = ints({1, 2, 3});
  struct Case {
    const char* what;
    Cell a, b;
    i32 op;
    i32 want;
  };
  const Case cases[] = {
      {"equal", ints({1, 2}), ints({1, 2}), actions::kEqual, 0},
      {"shorter is lesser", ints({1, 2}), ints({1, 2, 3}), actions::kLesser, -1},
      {"longer is greater", ints({1, 2, 3}), ints({1, 2}), actions::kGreater, 1},
      {"different lengths unequal at once", ints({9}), ints({1, 2}), actions::kEqual, 1},
      {"element order", ints({1, 5}), ints({1, 3}), actions::kLesser, 1},
      {"element types by id", ints({1}), block_of({str("a")}), actions::kLesser, 1},
      {"block and paren", ints({1, 2}), paren, actions::kEqual, actions::kNotComparable},
      {"same position", b, b, actions::kSame, 0},
      {"same block elsewhere", b, at_index(b, 1), actions::kSame, -1},
      {"equal copies are not the same", ints({1}), ints({1}), actions::kSame, -1},
      {"both hold themselves", self_holding({1}), self_holding({1}), actions::kEqual, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(block::compare(&c.a, &c.b, c.op), c.want) << c.what;
    EXPECT_EQ(cycles::depth(), 0u);
  }
}

TEST_F(Block, AppendAndInsert) {
  struct Case {
    const char* what;
    std::function<Cell()> run;  // returns the series after the action
    V want;
    i32 index;
  };
  const Case cases[] = {
      {"append splices", [] { Cell s = ints({1, 2}), v = ints({3, 4}); block::append(&s, &v, {.append = true}); return s; },
       {1, 2, 3, 4}, 0},
      {"append/only", [] { Cell s = ints({1}), v = ints({3, 4}); block::append(&s, &v, {.only = true, .append = true}); return s; },
       {1, -1000 - T_BLOCK}, 0},
      {"append empty keeps the index",
       [] { Cell s = at_index(ints({1, 2}), 1), v = ints({}); block::append(&s, &v, {.append = true}); return s; },
       {1, 2}, 1},
      {"append a value", [] { Cell s = ints({1}), v = int_cell(5); block::append(&s, &v, {.append = true}); return s; },
       {1, 5}, 0},
      {"insert at the index",
       [] { Cell s = at_index(ints({1, 2}), 1), v = ints({8, 9}); block::append(&s, &v, {}); return s; },
       {1, 8, 9, 2}, 3},
      {"insert/part", [] { Cell s = ints({1}), v = ints({8, 9}); block::append(&s, &v, {.part = 1}); return s; },
       {8, 1}, 1},
      {"insert/dup", [] { Cell s = ints({0}), v = ints({1, 2}); block::append(&s, &v, {.dup = 3}); return s; },
       {1, 2, 1, 2, 1, 2, 0}, 6},
      {"append to itself", [] { Cell s = ints({1, 2}); Cell v = s; block::append(&s, &v, {.append = true}); return s; },
       {1, 2, 1, 2}, 0},
      {"insert into itself",
       [] { Cell s = at_index(ints({1, 2, 3}), 1); Cell v = at_index(s, 0); block::append(&s, &v, {}); return s; },
       {1, 1, 2, 3, 2, 3}, 4},
      {"insert past the tail",
       [] { Cell s = at_index(ints({1}), 5), v = int_cell(2); block::append(&s, &v, {}); return s; },
       {1, 2}, 2},
      {"many appends grow", [] {
         Cell s = ints({});
         for (int i = 0; i < 100; i++) { Cell v = int_cell(i); block::append(&s, &v, {.append = true}); }
         Cell t = s; t.w1 = 98; Cell r = ints({}); series::copy(&t, &r, nullptr, false, nullptr); return r; },
       {98, 99}, 0},
  };
  for (const auto& c : cases) {
    Cell s = c.run();
    EXPECT_EQ(contents(s), c.want) << c.what;
    EXPECT_EQ(series::index_of(&s), c.index) << c.what;
  }
  Cell s = ints({1}), v = int_cell(1);
  EXPECT_EQ(test::error_code_of([&] { block::append(&s, &v, {.dup = 1 << 27, .append = true}); }),
            error_code(Err::InternalNoMemory));
  EXPECT_EQ(contents(s), (V{1}));
}

TEST_F(Block, Change) {
  struct Case {
    const char* what;
    Cell series, value;
    i32 part, dup;
    bool only;
    V want;
    i32 index;
  };
  Cell same = ints({1, 2, 3, 4, 5});
  const Case cases[] = {
      {"one value", at_index(ints({1, 2, 3}), 1), int_cell(9), -1, 1, false, {1, 9, 3}, 2},
      {"splices", ints({1, 2, 3}), ints({7, 8}), -1, 1, false, {7, 8, 3}, 2},
      {"/only", ints({1, 2, 3}), ints({7, 8}), -1, 1, true, {-1000 - T_BLOCK, 2, 3}, 1},
      {"/part with a longer value grows", at_index(ints({1, 2, 3}), 1), ints({7, 8, 9}), 1, 1, false,
       {1, 7, 8, 9, 3}, 4},
      {"/part shrinks", ints({1, 2, 3, 4}), int_cell(0), 3, 1, false, {0, 4}, 1},
      {"/dup", ints({1, 2, 3}), int_cell(0), -1, 2, false, {0, 0, 3}, 2},
      {"beyond the tail", at_index(ints({1, 2}), 1), ints({7, 8, 9}), -1, 1, false, {1, 7, 8, 9}, 4},
      {"same series, source after", same, at_index(same, 3), 1, 1, false, {4, 5, 2, 3, 4, 5}, 2},
  };
  for (const auto& c : cases) {
    Cell s = c.series, v = c.value;
    block::change(&s, &v, {.part = c.part, .dup = c.dup, .only = c.only});
    EXPECT_EQ(contents(s), c.want) << c.what;
    EXPECT_EQ(series::index_of(&s), c.index) << c.what;
  }
}

TEST_F(Block, PutSwapTrimTake) {
  Cell a = word(100), b = word(101), c = word(102);
  Cell s = block_of({a, int_cell(1), b, int_cell(2), c});
  Cell v = int_cell(7);
  block::put(&s, &b, &v, false);  // present: replaced
  Cell d = word(103), v8 = int_cell(8);
  block::put(&s, &d, &v8, false);  // absent: key and value appended
  Cell v9 = int_cell(9);
  block::put(&s, &c, &v9, false);  // key is the last cell... no longer: c is followed by d
  EXPECT_EQ(contents(s), (V{-1000 - T_WORD, 1, -1000 - T_WORD, 7, -1000 - T_WORD, 9, 8}));
  Cell t = ints({1, 2});
  block::put(&t, &t, &v, false);  // a key not found at all
  Cell last = block_of({a});
  block::put(&last, &a, &v, false);  // the key is the last cell: the value is appended
  EXPECT_EQ(contents(last), (V{-1000 - T_WORD, 7}));

  Cell x = ints({1, 2}), y = at_index(ints({3, 4}), 1);
  block::swap(&x, &y);
  EXPECT_EQ(contents(x), (V{4, 2}));
  EXPECT_EQ(contents(y), (V{3, 1}));
  Cell i = int_cell(1);
  EXPECT_EQ(test::error_code_of([&] { block::swap(&x, &i); }), error_code(Err::ScriptInvalidArg));
  Cell at_tail = at_index(x, 2);
  block::swap(&x, &at_tail);
  EXPECT_EQ(contents(x), (V{4, 2}));

  Cell none;
  set_none(&none);
  Cell n = at_index(block_of({none, int_cell(1), none, none, int_cell(2), none}), 1);
  block::trim(&n, {});
  EXPECT_EQ(contents(n), (V{-1000 - T_NONE, 1, 2}));

  Cell k = ints({5, 6, 7});
  Cell* one = block::take(&k, nullptr, false, false);
  EXPECT_TRUE(one->is(T_INTEGER)) << "take without /part answers the element";
  EXPECT_EQ(one->int_value(), 5);
  Cell p = int_cell(1);
  Cell* blk = block::take(&k, &p, false, false);
  EXPECT_TRUE(blk->is(T_BLOCK)) << "take/part answers a block";
  EXPECT_EQ(contents(*blk), (V{6}));
  Cell inner = ints({1});
  Cell outer = block_of({inner});
  Cell* deep = block::take(&outer, &p, true, false);
  EXPECT_NE(block::cell_at(deep, 0)->w2, inner.w2) << "take/deep copies nested series";
}

TEST_F(Block, CopyDeepAndTypes) {
  Cell inner = ints({3});
  Cell mid = block_of({int_cell(2), inner});
  Cell s = block_of({int_cell(1), mid, str("t")});
  Cell r;
  set_unset(&r);
  block::copy(&s, &r, nullptr, false, nullptr);
  EXPECT_EQ(block::cell_at(&r, 1)->w2, mid.w2) << "shallow";
  block::copy(&s, &r, nullptr, true, nullptr);
  Cell m2 = *block::cell_at(&r, 1);
  EXPECT_NE(m2.w2, mid.w2);
  EXPECT_NE(block::cell_at(&m2, 1)->w2, inner.w2);
  EXPECT_NE(block::cell_at(&r, 2)->w2, s.w2) << "strings are copied too";
  EXPECT_EQ(test::mold_text(r), "[1 [2 [3]] \"t\"]");
  Cell only_blocks;
  make_cell(&only_blocks, T_DATATYPE, T_BLOCK, 0, 0);
  Cell str_cell = *block::cell_at(&s, 2);
  block::copy(&s, &r, nullptr, false, &only_blocks);
  EXPECT_NE(block::cell_at(&r, 1)->w2, mid.w2);
  EXPECT_EQ(block::cell_at(&r, 2)->w2, str_cell.w2) << "/types copies only the named types";
  Cell m3 = *block::cell_at(&r, 1);
  EXPECT_EQ(block::cell_at(&m3, 1)->w2, inner.w2) << "/types without /deep is one level";
  Cell cyclic = self_holding({1});
  EXPECT_EQ(test::error_code_of([&] { block::copy(&cyclic, &r, nullptr, true, nullptr); }),
            error_code(Err::InternalNoCycle));
  EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Block, MakeAndTo) {
  Cell dt;
  make_cell(&dt, T_DATATYPE, T_BLOCK, 0, 0);
  Cell five = int_cell(5);
  Cell* m = block::make(&dt, &five, T_BLOCK);
  EXPECT_TRUE(m->is(T_BLOCK));
  EXPECT_EQ(block::length_at(m), 0);
  EXPECT_GE(series::buffer_of(m)->size, 5u * 16);
  Cell src = at_index(ints({1, 2, 3}), 1);
  Cell* p = block::make(&dt, &src, T_PAREN);
  EXPECT_TRUE(p->is(T_PAREN));
  EXPECT_EQ(contents(*p), (V{2, 3}));
  EXPECT_NE(p->w2, src.w2);
  Cell none;
  set_none(&none);
  EXPECT_EQ(test::error_code_of([&] { block::make(&dt, &none, T_BLOCK); }), error_code(Err::ScriptBadMakeArg));
  Cell* w = block::to(&dt, &five, T_BLOCK);
  EXPECT_EQ(contents(*w), (V{5}));
  Cell ts;
  make_cell(&ts, T_TYPESET, 0, 0, 0);
  runtime::typeset_add(&ts, T_BLOCK);
  runtime::typeset_add(&ts, T_LOGIC);
  Cell* types = block::to(&dt, &ts, T_BLOCK);
  EXPECT_EQ(test::mold_text(*types), "[logic! block!]");
}

TEST_F(Block, EvalPath) {
  Cell s = block_of({word(100), int_cell(1), word(101, T_SET_WORD), int_cell(2), word(102)});
  Cell two = int_cell(2), w101 = word(101), w102 = word(102), w9 = word(9);
  EXPECT_EQ(block::eval_path(&s, &two, nullptr, {.get = true})->int_value(), 1);
  EXPECT_EQ(block::eval_path(&s, &w101, nullptr, {.get = true})->int_value(), 2);
  EXPECT_TRUE(block::eval_path(&s, &w102, nullptr, {.get = true})->is(T_NONE)) << "last cell";
  EXPECT_TRUE(block::eval_path(&s, &w9, nullptr, {.get = true})->is(T_NONE));
  Cell v = int_cell(42);
  block::eval_path(&s, &two, &v, {});
  Cell key = word(100);
  Cell v7 = int_cell(7);
  EXPECT_EQ(block::eval_path(&s, &key, &v7, {})->int_value(), 7);
  EXPECT_EQ(contents(s), (V{-1000 - T_WORD, 7, -1000 - T_SET_WORD, 2, -1000 - T_WORD}));
  Cell missing = int_cell(99);
  Cell path = s;
  EXPECT_EQ(test::error_code_of([&] { block::eval_path(&s, &missing, &v, {.path = &path}); }),
            error_code(Err::ScriptOutOfRange));
  Cell nokey = word(55, T_LIT_WORD);
  EXPECT_EQ(test::error_code_of([&] { block::eval_path(&s, &nokey, &v, {.path = &path}); }),
            error_code(Err::ScriptBadPathSet));
}

TEST_F(Block, BuildingRoutines) {
  Cell root = ints({});
  Cell* child = block::make_in(&root, 0);
  EXPECT_TRUE(child->is(T_BLOCK));
  Cell c = *child;
  Cell one = int_cell(1);
  block::append_cell(&c, &one);
  block::append_values(&c, &c);
  EXPECT_EQ(contents(c), (V{1, 1}));
  Cell ins = at_index(ints({5, 6}), 1);
  block::insert_values(&ins, &ins);
  EXPECT_EQ(contents(ins), (V{5, 6, 6}));
  EXPECT_EQ(series::index_of(&ins), 2);
  Cell t = at_index(ints({1, 2, 3}), 3);
  block::drop_last(&t);
  EXPECT_EQ(contents(t), (V{1, 2}));
  EXPECT_EQ(series::index_of(&t), 2);
  Cell r = ints({4, 5, 4});
  Cell four = int_cell(4);
  EXPECT_TRUE(block::remove_key(&r, &four, true));
  EXPECT_EQ(contents(r), (V{5, 4}));
  Cell r1 = at_index(r, 0);
  Cell nine = int_cell(9);
  EXPECT_FALSE(block::remove_key(&r1, &nine, true));
  Cell deep_src = block_of({ints({1}), block_of({int_cell(2)}, T_PAREN)});
  Cell* cl = block::clone(&deep_src, true, false);
  EXPECT_NE(block::cell_at(cl, 0)->w2, block::cell_at(&deep_src, 0)->w2);
  EXPECT_EQ(block::cell_at(cl, 1)->w2, block::cell_at(&deep_src, 1)->w2) << "parens only with paths_too";
}

// ---- owner notifications of the block actions

std::string g_heard;
bool listen(const Cell*, int change, const Cell*, i32 index, i32 part) {
  auto c = series::Change(change);
  g_heard += std::string(series::change_word(c)) + " " + std::to_string(index) + " " + std::to_string(part) + "; ";
  return true;
}

TEST_F(Block, OwnerHearsEachModification) {
  struct Case {
    const char* what;
    std::function<void()> run;
    const char* heard;
  };
  const Case cases[] = {
      {"append", [] { Cell s = ints({1, 2}), v = ints({3, 4}); block::append(&s, &v, {.append = true}); },
       "append 2 2; appended 2 2; "},
      {"insert", [] { Cell s = at_index(ints({1, 2}), 1), v = int_cell(3); block::append(&s, &v, {.dup = 2}); },
       "insert 1 2; inserted 1 2; "},
      {"change", [] { Cell s = ints({1, 2}), v = ints({3, 4, 5}); block::change(&s, &v, {.part = 1}); },
       "change 0 1; changed 0 3; "},
      {"put new", [] { Cell s = ints({1, 2}), k = int_cell(3), v = int_cell(4); block::put(&s, &k, &v, false); },
       "put 2 1; put-ed 2 1; "},
      {"put present", [] { Cell s = ints({1, 2}), k = int_cell(1), v = int_cell(4); block::put(&s, &k, &v, false); },
       "put 1 1; put-ed 1 1; "},
      {"swap", [] { Cell a = ints({1}), b = ints({2}); block::swap(&a, &b); }, "swap 0 1; swap 0 1; swaped 0 1; swaped 0 1; "},
      {"trim", [] { Cell s = ints({1}); block::trim(&s, {}); },
       "trim 0 0; trimmed 0 0; "},
      {"take", [] { Cell s = ints({1, 2}); block::take(&s, nullptr, false, true); }, "take 0 1; taken 0 0; "},
  };
  g_services.series_change = &listen;
  for (const auto& c : cases) {
    g_heard.clear();
    c.run();
    EXPECT_EQ(g_heard, c.heard) << c.what;
  }
  g_services.series_change = nullptr;
}

TEST_F(Block, ErrorsBeforeTheFirstNotificationLeaveTheBlock) {
  g_services.series_change = &listen;
  g_heard.clear();
  Cell s = ints({1, 2}), v = int_cell(0);
  EXPECT_EQ(test::error_code_of([&] { block::change(&s, &v, {.dup = 1 << 28}); }),
            error_code(Err::InternalNoMemory));
  EXPECT_EQ(contents(s), (V{1, 2}));
  EXPECT_EQ(g_heard, "");
  g_services.series_change = nullptr;
}

}  // namespace
}  // namespace zot
