#include <gtest/gtest.h>

#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "interpreter/eval.h"
#include "interpreter/lexer.h"
#include "runtime/actions.h"
#include "runtime/cycles.h"
#include "tests/unit/eval_fixture.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

using test::load;

struct ObjectTest : ::testing::Test {
  void SetUp() override { test::ensure_runtime(); }
};

std::string mold(const Cell& v, bool flat = false, bool all = false) {
  Cell out;
  string::make_at(&out, 16);
  actions::lookup<actions::kMold>(v.type())(&v, &out, {.all = all, .flat = flat}, 100000);
  return string::to_utf8(&out);
}

std::string form(const Cell& v) {
  Cell out;
  string::make_at(&out, 16);
  actions::lookup<actions::kForm>(v.type())(&v, &out, nullptr, 100000);
  return string::to_utf8(&out);
}

// The value of the source, or null after an error (its code to *code).
bool eval(const std::string& text, Cell* out, int* code = nullptr) {
  int c = test::error_code_of([&] {
    Cell src = load(text);
    *out = interp::do_block(&src);
  });
  if (code) *code = c;
  return c < 0;
}

// The mold of the value of the source, or "error <category>/<id>".
std::string run(const std::string& text) {
  Cell v;
  int code;
  if (!eval(text, &v, &code)) {
    Err e = error_from_code(code);
    if (e == Err::Count) return "error " + std::to_string(code);
    return std::string("error ") + error_category(error_info(e).category).word + "/" + error_info(e).word;
  }
  return v.is(T_UNSET) ? "unset" : mold(v);
}

TEST_F(ObjectTest, MakeCopyExtendTable) {
  struct Case {
    const char* source;
    const char* result;
  };
  const Case cases[] = {
      {"o: make object! [a: 1 b: a + 1] o/b", "2"},
      {"o: make object! [a: 1] p: make o [b: 2] reflect p 'words", "[a b]"},
      {"o: make object! [a: 1] p: make o [b: 2] o/a: 9 p/a", "1"},
      // Series of a prototype are copied into the new object, not shared.
      {"o: make object! [a: [1 2]] p: make o [] append p/a 3 o/a", "[1 2]"},
      // Functions are remade for the new object.
      {"o: make object! [a: 1 f: func [] [a]] p: make o [a: 5] reduce [o/f p/f]", "[1 5]"},
      {"o: make object! [n: 1 f: func [] [self/n]] p: make o [n: 7] p/f", "7"},
      // An object spec extends the prototype.
      {"o: make object! [a: 1] p: make o make object! [b: 2 a: 3] reduce [p/a p/b]", "[3 2]"},
      {"o: make object! [b: [1]] c: copy o append c/b 2 o/b", "[1 2]"},
      {"o: make object! [b: [1]] c: copy/deep o append c/b 2 o/b", "[1]"},
      {"o: make object! [a: 1] c: copy o c/a: 2 o/a", "1"},
      {"copy/part make object! [a: 1] 1", "error script/invalid-refine-arg"},
      {"make object! 5", "error syntax/malconstruct"},
      {"make object! [a: 1 a: 2] ", "make object! [\n    a: 2\n]"},
      {"o: make object! [a: 1] reduce [o/a: 3 o/a]", "[3 3]"},
      {"select make object! [a: 1] 'a", "1"},
      {"select make object! [a: 1] 'b", "none"},
      {"select make object! [a: 1] 1", "error script/invalid-type"},
      {"o: make object! [a: 1] put o 'a 7 o/a", "7"},
      {"put make object! [a: 1] 'b 7", "error script/invalid-path"},
      {"put make object! [a: 1] \"a\" 7", "error script/invalid-key-type"},
      {"o: make object! [a: 1] o/b", "error script/invalid-path"},
      {"o: make object! [a: 1] o/b/c", "error script/unset-path"},
      {"o: make object! [a: 1] :o/b", "unset"},
      {"o: make object! [a: 1] o/self: 2", "error script/invalid-path"},
      {"o: make object! [a: 1] o/1", "error script/invalid-path"},
      {"o: make object! [a: 1 b: 2] o/a: 5 reflect o 'changed", "[a]"},
      {"reflect make object! [a: 1 b: 2] 'changed", "[]"},
      {"reflect make object! [a: 1 b: \"x\"] 'values", "[1 \"x\"]"},
      {"reflect make object! [a: 'x b: 2] 'body", "[\n    a: 'x\n    b: 2\n]"},
      {"reflect make object! [a: 1] 'events?", "false"},
      {"reflect make object! [a: 1 on-change*: func [w o n] []] 'events?", "true"},
      {"reflect make object! [a: 1] 'owner", "false"},
      {"reflect make object! [a: 1] 'spec", "error internal/not-done"},
      {"make object! [on-change*: 1]", "error script/bad-field-set"},
      {"make make object! [a: 1 f: none] [f: func [] [a]]", "make object! [\n    a: 1\n    f: func [] [a]\n]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    EXPECT_EQ(run(c.source), c.result);
  }
}

TEST_F(ObjectTest, ClassIds) {
  Cell v;
  ASSERT_TRUE(eval("o: make object! [a: 1] reduce [reflect o 'class reflect make o [a: 2] 'class "
                   "reflect make o [b: 1] 'class reflect make o make object! [a: 3] 'class]",
                   &v));
  i32 ids[4];
  for (int i = 0; i < 4; i++) ids[i] = block::cell_at(&v, i)->int_value();
  EXPECT_GE(ids[0], i32(object::kFirstClassId));
  EXPECT_EQ(ids[1], ids[0]);  // same words: same class
  EXPECT_GT(ids[2], ids[0]);  // a word added: a new class
  EXPECT_EQ(ids[3], ids[0]);
  u32 next = object::next_class_id();
  EXPECT_GT(next, u32(ids[2]));
}

TEST_F(ObjectTest, MoldAndFormGoldenCases) {
  struct Case {
    const char* source;
    const char* molded;
    const char* flat;
  };
  const Case cases[] = {
      {"make object! []", "make object! []", "make object! []"},
      {"make object! [a: 1 b: \"x\"]", "make object! [\n    a: 1\n    b: \"x\"\n]", "make object! [a: 1 b: \"x\"]"},
      {"make object! [a: 'x b: [1 2]]", "make object! [\n    a: 'x\n    b: [1 2]\n]", "make object! [a: 'x b: [1 2]]"},
      {"make object! [a: 1 b: make object! [c: 2]]",
       "make object! [\n    a: 1\n    b: make object! [\n        c: 2\n    ]\n]",
       "make object! [a: 1 b: make object! [c: 2]]"},
      {"make object! [a: 1 on-change*: func [w o n] []]", "make object! [\n    a: 1\n]", "make object! [a: 1]"},
      {"o: make object! [a: none] o/a: o o", "make object! [\n    a: make object! [...]\n]",
       "make object! [a: make object! [...]]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    Cell v;
    ASSERT_TRUE(eval(c.source, &v));
    EXPECT_EQ(mold(v), c.molded);
    EXPECT_EQ(mold(v, true), c.flat);
  }
  Cell v;
  ASSERT_TRUE(eval("make object! [a: 1 on-change*: func [w o n] []]", &v));
  EXPECT_EQ(mold(v, true, true), "make object! [a: 1 on-change*: func [w o n] []]");
  ASSERT_TRUE(eval("make object! [a: 1 b: \"x\" c: 'w]", &v));
  EXPECT_EQ(form(v), "a: 1\nb: \"x\"\nc: 'w");
  ASSERT_TRUE(eval("o: make object! [a: none] o/a: o o", &v));
  EXPECT_EQ(form(v), "a: make object! [...]");
  EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(ObjectTest, Compare) {
  struct Case {
    const char* source;
    const char* result;
  };
  const Case cases[] = {
      {"(make object! [a: 1]) = make object! [a: 1]", "true"},
      {"(make object! [a: 1]) = make object! [a: 2]", "false"},
      {"(make object! [a: 1]) = make object! [b: 1]", "false"},
      {"(make object! [a: 1 b: 2]) > make object! [a: 1]", "true"},
      {"(make object! [a: 1]) < make object! [a: 1 b: 2]", "true"},
      {"same? make object! [a: 1] make object! [a: 1]", "false"},
      {"o: make object! [a: 1] same? o o", "true"},
      {"(make object! [a: 1]) = 1", "false"},
      {"(make object! [a: 1.0]) = make object! [a: 1]", "true"},
      {"o: make object! [a: none] o/a: o p: make object! [a: none] p/a: p o = p", "true"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    EXPECT_EQ(run(c.source), c.result);
  }
  EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(ObjectTest, ChangeEventsGetTheirArguments) {
  struct Case {
    const char* source;
    const char* log;
  };
  const Case cases[] = {
      // The spec that builds the object fires nothing.
      {"log: copy [] o: make object! [a: 1 on-change*: func [w old new] [append log reduce [w old new]]] log",
       "[]"},
      {"log: copy [] o: make object! [a: 1 on-change*: func [w old new] [append log reduce [w old new]]] "
       "o/a: 2 log",
       "[a 1 2]"},
      {"log: copy [] o: make object! [a: 1 f: func [] [a: 5] on-change*: func [w old new] "
       "[append log reduce [w old new]]] o/f log",
       "[a 1 5]"},
      {"log: copy [] o: make object! [a: 1 on-change*: func [w old new /local t] [t: new append log t]] "
       "put o 'a 3 o/a: 4 log",
       "[3 4]"},
      // A copy has its own handler, bound to it.
      {"log: copy [] o: make object! [a: 1 on-change*: func [w old new] [append log a]] "
       "p: copy o p/a: 7 o/a: 8 log",
       "[7 8]"},
      {"o: make object! [a: 1 on-change*: func [w old new] []] o/on-change*: 5 o/a: 2",
       "error script/invalid-obj-evt"},
      // The deep handler hears the action before and the past-tense word after.
      {"log: copy [] o: make object! [b: [1 2] on-deep-change*: func [owner word target action new index part] "
       "[append log reduce [word action index part]]] append o/b 3 log",
       "[b append 2 1 b appended 2 1]"},
      {"log: copy [] o: make object! [b: \"ab\" on-deep-change*: func [owner word target action new index part] "
       "[append log action]] clear o/b log",
       "[clear cleared]"},
      {"reflect make object! [b: [1] on-deep-change*: func [o w t a n i p] []] 'owner", "true"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    EXPECT_EQ(run(c.source), c.log);
  }
}

TEST_F(ObjectTest, SetManyAndConstruct) {
  Cell v;
  ASSERT_TRUE(eval("log: copy [] o: make object! [a: 1 b: 2 on-change*: func [w old new] "
                   "[append log reduce [w old new]]]",
                   &v));
  Cell o = v;
  Cell vals = load("10 20 30");
  object::set_many(&o, &vals, false, false, false);
  EXPECT_EQ(run("reduce [o/a o/b log]"), "[10 20 [a 1 10 b 2 20]]");
  // The handler's own slot is left alone.
  EXPECT_EQ(run("type? select o 'on-change*"), "function!");
  EXPECT_EQ(run("reflect o 'events?"), "true");

  Cell p;
  ASSERT_TRUE(eval("make object! [a: 1 b: 2]", &p));
  Cell none;
  set_none(&none);
  Cell some;
  ASSERT_TRUE(eval("reduce [none 5]", &some));
  object::set_many(&p, &some, false, false, true);
  EXPECT_EQ(mold(p, true), "make object! [a: 1 b: 5]");
  object::set_many(&p, &none, false, false, false);
  EXPECT_EQ(mold(p, true), "make object! [a: none b: none]");
  Cell with_unset;
  ASSERT_TRUE(eval("reduce [1 ()]", &with_unset));
  int code = test::error_code_of([&] { object::set_many(&p, &with_unset, false, false, false); });
  EXPECT_EQ(code, error_code(Err::ScriptNeedValue));

  Cell spec = load("a: b: 1 c: true d: none e: [x] f:");
  int c2 = test::error_code_of([&] {
    Cell* r = object::construct(&spec, nullptr, false);
    EXPECT_EQ(mold(*r, true), "make object! [a: 1 b: 1 c: true d: none e: [x] f: none]");
    Cell* r2 = object::construct(&spec, nullptr, true);
    EXPECT_EQ(mold(*r2, true), "make object! [a: 1 b: 1 c: 'true d: 'none e: [x] f: none]");
    EXPECT_TRUE(object::select_word(r2, block::cell_at(&spec, 3))->is(T_WORD));
  });
  EXPECT_EQ(c2, -1);
}

TEST_F(ObjectTest, GuardsArePoppedWhenAnErrorUnwinds) {
  Cell v;
  ASSERT_TRUE(eval("make object! [a: 1 b: make object! [c: 2]]", &v));
  // A value with no mold of its own makes mold fail in the middle.
  Cell inner = *context::value_at(v.w1, 1);
  make_cell(context::value_at(inner.w1, 0), T_EVENT, 0, 0, 0);
  u32 depth = cycles::depth();
  int code = test::error_code_of([&] { mold(v); });
  EXPECT_GE(code, 0);
  EXPECT_EQ(cycles::depth(), depth);
  code = test::error_code_of([&] { form(v); });
  EXPECT_GE(code, 0);
  EXPECT_EQ(cycles::depth(), depth);
  Cell w;
  ASSERT_TRUE(eval("make object! [a: 1 b: make object! [c: 2]]", &w));
  code = test::error_code_of([&] { actions::compare_direct(&v, &w, actions::kEqual); });
  EXPECT_EQ(cycles::depth(), depth);
}

}  // namespace
}  // namespace zot
