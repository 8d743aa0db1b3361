#include <gtest/gtest.h>

#include "datatypes/block.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "runtime/actions.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

struct TypesetTest : ::testing::Test {
  void SetUp() override { test::ensure_runtime(); }
};

Cell dt(u32 t) {
  Cell c;
  make_cell(&c, T_DATATYPE, t, 0, 0);
  return c;
}

Cell of(std::initializer_list<u32> types) {
  Cell ts;
  typeset::clear(&ts);
  for (u32 t : types) {
    Cell d = dt(t);
    typeset::add(&ts, &d);
  }
  return ts;
}

std::string text(const Cell& ts, bool form) {
  Cell out;
  string::make_at(&out, 16);
  typeset::serialize(&ts, &out, form, 1000);
  return string::to_utf8(&out);
}

TEST_F(TypesetTest, DefaultAndComplement) {
  Cell def;
  typeset::make_default(&def);
  EXPECT_FALSE(typeset::has(&def, T_UNSET));
  EXPECT_TRUE(typeset::has(&def, T_INTEGER));
  EXPECT_TRUE(typeset::has(&def, T_EVENT));
  Cell empty = of({});
  actions::lookup<actions::kComplement>(T_TYPESET)(&empty);
  EXPECT_TRUE(typeset::has(&empty, T_UNSET));
  EXPECT_TRUE(typeset::has(&empty, T_BLOCK));
}

TEST_F(TypesetTest, FormMoldInIdOrder) {
  EXPECT_EQ(text(of({T_FLOAT, T_INTEGER}), true), "integer! float!");
  EXPECT_EQ(text(of({T_FLOAT, T_INTEGER}), false), "make typeset! [integer! float!]");
  EXPECT_EQ(text(of({}), false), "make typeset! []");
  EXPECT_EQ(text(of({}), true), "");
}

TEST_F(TypesetTest, SetOperationsOnTheFrame) {
  struct Case {
    int op;
    Cell b;
    std::initializer_list<u32> expect;
  };
  Cell ab = of({T_INTEGER, T_FLOAT});
  const Case cases[] = {
      {9, dt(T_BLOCK), {T_INTEGER, T_FLOAT, T_BLOCK}},
      {10, of({T_FLOAT, T_CHAR}), {T_FLOAT}},
      {11, of({T_FLOAT}), {T_INTEGER}},
      {12, of({T_FLOAT, T_CHAR}), {T_INTEGER, T_CHAR}},
  };
  for (const auto& c : cases) {
    stack::push_native_frame(nullptr);
    stack::push(&ab);
    stack::push(&c.b);
    typeset::do_set_op(c.op);
    Cell r = *stack::g_base;
    stack::drop_frame();
    Cell expected = of(c.expect);
    EXPECT_EQ(actions::compare_direct(&r, &expected, actions::kEqual), 0) << c.op;
  }
  Cell ts = of({T_INTEGER});
  Cell bad;
  set_integer(&bad, 3);
  EXPECT_EQ(test::error_code_of([&] {
              stack::push_native_frame(nullptr);
              stack::push(&ts);
              stack::push(&bad);
              typeset::do_set_op(9);
            }),
            error_code(Err::ScriptInvalidArg));
}

TEST_F(TypesetTest, SpecBlocksAndCompare) {
  Cell spec;
  block::make_at(&spec, 4);
  Cell i = dt(T_INTEGER);
  block::append_cell(&spec, &i);
  Cell ts;
  typeset::make_from_spec(&spec, &ts);
  EXPECT_TRUE(typeset::has(&ts, T_INTEGER));
  Cell str;
  string::make_from_utf8(&str, "x", 1);
  block::append_cell(&spec, &str);
  EXPECT_EQ(test::error_code_of([&] { typeset::make_from_spec(&spec, &ts); }),
            error_code(Err::ScriptInvalidTypeSpec));

  Cell a = of({T_INTEGER, T_FLOAT}), b = of({T_FLOAT, T_INTEGER}), c = of({T_BLOCK});
  EXPECT_TRUE(actions::compare(&a, &b, actions::kEqual));
  EXPECT_GT(actions::compare_direct(&a, &c, actions::kSortOrder), 0);
  Cell d = dt(T_UNSET);
  Cell def;
  typeset::make_default(&def);
  Cell* found = actions::lookup<actions::kFind>(T_TYPESET)(&def, &d, {});
  EXPECT_TRUE(found->is(T_LOGIC));
  EXPECT_EQ(found->w1, 0u);
}

}  // namespace
}  // namespace zot
