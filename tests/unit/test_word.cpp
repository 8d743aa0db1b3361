#include <gtest/gtest.h>

#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/actions.h"
#include "runtime/symbol.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

struct WordTest : ::testing::Test {
  void SetUp() override { test::ensure_runtime(); }
};

Cell word_of(u32 type, const char* name) {
  Cell w = word::load(name);
  set_type(&w, u8(type));
  return w;
}

std::string molded(const Cell& v) {
  Cell out;
  string::make_at(&out, 16);
  actions::lookup<actions::kMold>(v.type())(&v, &out, {}, 1000);
  return string::to_utf8(&out);
}

std::string formed(const Cell& v) {
  Cell out;
  string::make_at(&out, 16);
  actions::lookup<actions::kForm>(v.type())(&v, &out, nullptr, 1000);
  return string::to_utf8(&out);
}

TEST_F(WordTest, MoldsAndForms) {
  struct Case {
    u32 type;
    const char* mold;
  };
  const Case cases[] = {{T_WORD, "abc"},      {T_SET_WORD, "abc:"},    {T_GET_WORD, ":abc"},
                        {T_LIT_WORD, "'abc"}, {T_REFINEMENT, "/abc"}, {T_ISSUE, "#abc"}};
  for (const auto& c : cases) {
    Cell w = word_of(c.type, "abc");
    EXPECT_EQ(molded(w), c.mold);
    EXPECT_EQ(formed(w), "abc");
  }
  EXPECT_EQ(molded(word_of(T_WORD, "Caf\xC3\xA9")), "Caf\xC3\xA9");
}

TEST_F(WordTest, CompareCodes) {
  Cell a = word_of(T_WORD, "a"), A = word_of(T_WORD, "A"), la = word_of(T_LIT_WORD, "a");
  Cell b = word_of(T_WORD, "b"), issue = word_of(T_ISSUE, "a");
  struct Case {
    const Cell* x;
    const Cell* y;
    i32 op;
    i32 result;
  };
  const Case cases[] = {
      {&a, &A, actions::kEqual, 0},        {&a, &A, actions::kStrictEqual, 1},
      {&a, &la, actions::kEqualForm2, 0},  {&a, &la, actions::kEqual, 0},
      {&a, &la, actions::kStrictEqual, 1}, {&a, &a, actions::kSame, 0},
      {&a, &issue, actions::kEqual, actions::kNotComparable},
      {&issue, &a, actions::kEqual, actions::kNotComparable},
  };
  for (const auto& c : cases)
    EXPECT_EQ(actions::lookup<actions::kCompare>(c.x->type())(c.x, c.y, c.op), c.result);
  EXPECT_LT(word::compare(&a, &b, actions::kSortOrder), 0);
  EXPECT_TRUE(actions::compare(&a, &b, actions::kLesser));
  EXPECT_EQ(test::error_code_of([&] { actions::compare(&issue, &a, actions::kLesser); }),
            error_code(Err::ScriptInvalidCompare));
}

TEST_F(WordTest, MakeFromDatatypeLogicAndText) {
  Cell proto;
  make_cell(&proto, T_DATATYPE, T_WORD, 0, 0);
  Cell dt;
  make_cell(&dt, T_DATATYPE, T_INTEGER, 0, 0);
  Cell* r = word::make(&proto, &dt, T_WORD);
  EXPECT_STREQ(symbol::name_text(r->w2), "integer!");
  Cell t;
  set_logic(&t, true);
  r = word::make(&proto, &t, T_WORD);
  EXPECT_STREQ(symbol::name_text(r->w2), "true");
  EXPECT_TRUE(r->is(T_WORD));

  Cell text;
  string::make_from_utf8(&text, "a b", 3);
  Cell* issue = actions::lookup<actions::kMake>(T_ISSUE)(&proto, &text, T_ISSUE);
  EXPECT_EQ(molded(*issue), "#a b");

  Cell w = word::load("some-word");
  EXPECT_EQ(actions::lookup<actions::kTo>(T_SET_WORD)(&proto, &w, T_SET_WORD)->type(), T_SET_WORD);
  Cell num;
  set_integer(&num, 1);
  EXPECT_EQ(test::error_code_of([&] { word::make(&proto, &num, T_WORD); }), error_code(Err::ScriptBadToArg));
}

TEST_F(WordTest, IndexOfBoundAndUnboundWords) {
  stack::push_native_frame(nullptr);
  Cell w = word::load("index-test-word");
  stack::push(&w);
  actions::lookup<actions::kIndexQ>(T_WORD)();
  EXPECT_EQ(stack::g_base->int_value(), i32(w.w3) + 1);
  Cell loose;
  make_cell(&loose, T_WORD, 0, w.w2, u32(-1));
  *stack::g_base = loose;
  actions::lookup<actions::kIndexQ>(T_WORD)();
  EXPECT_TRUE(stack::g_base->is(T_NONE));
  stack::drop_frame();
  // Refinements and issues have no index?.
  EXPECT_EQ(actions::raw(T_REFINEMENT, actions::kIndexQ), nullptr);
}

}  // namespace
}  // namespace zot
