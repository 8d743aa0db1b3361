#include <gtest/gtest.h>

#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "interpreter/eval.h"
#include "interpreter/lexer.h"
#include "runtime/actions.h"
#include "runtime/symbol.h"
#include "tests/unit/eval_fixture.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

using test::load;

// The runtime reads the stack-trace depth from the system object. The field
// is written in place: evaluating a set-path would push call frames over
// those an error recorded.
void set_stack_trace_level(int level) {
  Cell code = load("system/state");
  Cell state = interp::do_block(&code);
  set_integer(context::value_at(state.w1, 2), level);
}

struct ErrorTest : ::testing::Test {
  void SetUp() override {
    test::ensure_runtime();
    set_stack_trace_level(0);
  }
  void TearDown() override {
    set_stack_trace_level(0);
    test::run("clear system/state/source-files");
  }
};

std::string form(const Cell& v) {
  Cell out;
  string::make_at(&out, 16);
  actions::lookup<actions::kForm>(v.type())(&v, &out, nullptr, 100000);
  return string::to_utf8(&out);
}

std::string mold(const Cell& v, bool flat = false) {
  Cell out;
  string::make_at(&out, 16);
  actions::lookup<actions::kMold>(v.type())(&v, &out, {.flat = flat}, 100000);
  return string::to_utf8(&out);
}

// Evaluates the source: its value, or the error it raised (code to *code).
Cell eval(const std::string& text, int* code = nullptr) {
  Cell v;
  set_unset(&v);
  Cell* base = stack::g_base;
  Cell* top = stack::g_top;
  stack::Frame* ctop = stack::g_ctop;
  stack::push_try_frame(nullptr);
  int c = -1;
  try {
    Cell src = load(text);
    v = interp::do_block(&src);
    stack::drop_frame();
  } catch (const RuntimeThrow& t) {
    if (t.code != kThrowError) throw;
    runtime::g_thrown_code = 0;
    v = *stack::top_value();
    c = error_cell_code(&v);
  }
  stack::g_base = base;
  stack::g_top = top;
  stack::g_ctop = ctop;
  if (code) *code = c;
  return v;
}

std::string name_of(int code) {
  Err e = error_from_code(code);
  if (e == Err::Count) return std::to_string(code);
  return std::string(error_category(error_info(e).category).word) + "/" + error_info(e).word;
}

TEST_F(ErrorTest, FormsOfCodes) {
  struct Case {
    int code;
    const char* message;  // the first line
  };
  const Case cases[] = {
      {0, "*** Throw Error: no loop to break"},
      {2, "*** Throw Error: no catch for throw: none"},
      {100, "*** note: cannot load:  none"},
      {200, "*** Syntax Error: none invalid none at none"},
      {300, "*** Script Error: none has no value"},
      {305, "*** Script Error: none does not allow none for its none argument"},
      {310, "*** Script Error: none type is not allowed here"},
      {393, "*** Script Error: ZOTBIN - invalid record at index none"},
      {400, "*** Math Error: attempt to divide by zero"},
      {402, "*** Math Error: positive number required"},
      {500, "*** Access Error: cannot open: none"},
      {800, "*** User Error: none"},
      {900, "*** Internal Error: bad path: none"},
      {913, "*** Internal Error: none is DEPRECATED, please use none instead"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    int code;
    Cell e = eval("make error! " + std::to_string(c.code), &code);
    ASSERT_EQ(code, -1);
    ASSERT_TRUE(e.is(T_ERROR));
    EXPECT_EQ(error_cell_code(&e), c.code);
    EXPECT_EQ(form(e), std::string(c.message) + "\n*** Where: ???\n*** Near : none");
  }
}

TEST_F(ErrorTest, MakeFromOtherSpecs) {
  struct Case {
    const char* source;
    const char* form;
  };
  const Case cases[] = {
      {"make error! \"boom\"", "*** User Error: boom\n*** Where: ???\n*** Near : make error! \"boom\""},
      {"make error! [math zero-divide]",
       "*** Math Error: attempt to divide by zero\n*** Where: ???\n*** Near : make error! [math zero-divide]"},
      {"make error! [type: 'script id: 'no-value arg1: 'foo]",
       "*** Script Error: foo has no value\n*** Where: ???\n*** Near : make error! [type: 'script id: 'no-value"},
      // Syntax errors show their arguments formed, the others molded.
      {"make error! [type: 'syntax id: 'invalid arg1: \"a\" arg2: \"b\" arg3: \"c\"]",
       "*** Syntax Error: a invalid b at c\n*** Where: ???\n*** Near : make error! [type: 'syntax id: 'invalid "},
      {"make error! [type: 'script id: 'invalid-arg arg1: \"s\" where: 'here]",
       "*** Script Error: invalid argument: \"s\"\n*** Where: here\n*** Near : make error! [type: 'script id: 'invalid-"},
      // A malformed error prints as an internal one.
      {"e: make error! 400 e/type: none e",
       "*** Internal Error: invalid error object field value: none\n*** Where: ???\n*** Near : none"},
      {"e: make error! 400 e/id: 'nothing e",
       "*** Internal Error: invalid error object field value: nothing\n*** Where: ???\n*** Near : none"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    int code;
    Cell e = eval(c.source, &code);
    ASSERT_EQ(code, -1) << name_of(code);
    EXPECT_EQ(form(e), c.form);
  }
}

TEST_F(ErrorTest, MakeRefusesBadSpecs) {
  struct Case {
    const char* source;
    Err error;
  };
  const Case cases[] = {
      {"make error! 1000", Err::ScriptOutOfRange},
      {"make error! -1", Err::ScriptOutOfRange},
      {"make error! 394", Err::ScriptOutOfRange},
      {"make error! 600", Err::ScriptOutOfRange},
      {"make error! [nothing zero-divide]", Err::ScriptInvalidSpecField},
      {"make error! [math nothing]", Err::ScriptInvalidSpecField},
      {"make error! [math code]", Err::ScriptInvalidSpecField},
      {"make error! [math 1]", Err::ScriptInvalidArg},
      {"make error! [type: 'math id: 'no-value]", Err::ScriptInvalidSpecField},
      {"make error! [1 2]", Err::InternalInvalidError},
      {"make error! 1.5", Err::ScriptBadMakeArg},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    int code;
    eval(c.source, &code);
    EXPECT_EQ(name_of(code), name_of(error_code(c.error)));
  }
}

TEST_F(ErrorTest, FieldsAndMold) {
  struct Case {
    const char* source;
    const char* result;
  };
  const Case cases[] = {
      {"e: make error! 401 reduce [e/code e/type e/id e/arg1]", "[401 math overflow none]"},
      {"e: make error! [script invalid-arg] e/code", "309"},
      {"e: make error! [type: 'access id: 'cannot-open arg1: %f] e/code", "500"},
      {"reflect make error! 400 'words", "[code type id arg1 arg2 arg3 near where stack files]"},
      {"(make error! 400) = make error! 400", "true"},
      {"(make error! 400) = make error! 401", "false"},
      {"(make error! 400) = make object! [a: 1]", "false"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    int code;
    Cell v = eval(c.source, &code);
    ASSERT_EQ(code, -1) << name_of(code);
    EXPECT_EQ(mold(v), c.result);
  }
  Cell e = eval("make error! 400");
  EXPECT_EQ(mold(e, true),
            "make error! [code: 400 type: 'math id: 'zero-divide arg1: none arg2: none arg3: none near: none "
            "where: none stack: none files: none]");
  EXPECT_EQ(mold(e).substr(0, 44), "make error! [\n    code: 400\n    type: 'math\n");
}

TEST_F(ErrorTest, RaisedErrorsCarryWhereNearAndArguments) {
  int code;
  Cell e = eval("x: 1 x / 0", &code);
  ASSERT_EQ(code, error_code(Err::MathZeroDivide));
  ASSERT_TRUE(e.is(T_ERROR));
  EXPECT_EQ(form(e), "*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : x / 0");

  e = eval("f: func [a] [a + undefined-thing] f 1", &code);
  ASSERT_EQ(code, error_code(Err::ScriptNoValue));
  EXPECT_EQ(form(e), "*** Script Error: undefined-thing has no value\n*** Where: +\n*** Near : a + undefined-thing");
  EXPECT_EQ(mold(*error::field(&e, error::kArg1)), "undefined-thing");

  // The Near line keeps to its budget.
  e = eval("1 / 0 aaaaaaaaaa bbbbbbbbbb cccccccccc dddddddddd eeeeeeeeee", &code);
  std::string text = form(e);
  std::string near = text.substr(text.find("*** Near : ") + 11);
  EXPECT_EQ(near, "1 / 0 aaaaaaaaaa bbbbbbbbbb cccccccccc d");

  // Arguments keep to theirs.
  e = eval("make error! [type: 'script id: 'invalid-arg arg1: append/dup copy \"\" #\"x\" 200]", &code);
  ASSERT_EQ(code, -1);
  text = form(e);
  EXPECT_EQ(text.substr(0, text.find('\n')), "*** Script Error: invalid argument: {" + std::string(79, 'x'));
}

TEST_F(ErrorTest, StackLineAndTrace) {
  int code;
  Cell e = eval("g: func [] [1 / 0] f: func [] [g] f", &code);
  ASSERT_EQ(code, error_code(Err::MathZeroDivide));
  EXPECT_EQ(form(e).find("*** Stack"), std::string::npos);
  set_stack_trace_level(1);
  EXPECT_EQ(form(e), "*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : 1 / 0\n*** Stack: f g ");
  set_stack_trace_level(2);
  std::string deep = form(e);
  EXPECT_NE(deep.find("*** Stack: f g "), std::string::npos) << deep;
  set_stack_trace_level(1);
  Cell* t = stack::push(&e);
  error::fill_stack_trace(t);
  EXPECT_EQ(mold(*error::field(t, error::kStack)), "[f g]");
  EXPECT_EQ(form(*t).substr(form(*t).find("*** Stack")), "*** Stack: f g");
  stack::pop(1);
}

TEST_F(ErrorTest, StackLineOfADeepRecursionIsCut) {
  int code;
  Cell e = eval("h: func [n] [either n = 0 [1 / 0] [h n - 1]] h 30", &code);
  ASSERT_EQ(code, error_code(Err::MathZeroDivide));
  set_stack_trace_level(1);
  std::string h12;
  for (int i = 0; i < 12; i++) h12 += "h ";
  // The 31 frames of h: the outermost four, "...", the innermost twelve.
  EXPECT_EQ(form(e).substr(form(e).find("*** Stack")), "*** Stack: h h h h ... " + h12);
  Cell* t = stack::push(&e);
  error::fill_stack_trace(t);
  // The error keeps every frame; only its form is cut.
  EXPECT_EQ(block::length_at(error::field(t, error::kStack)), 31);
  EXPECT_EQ(form(*t).substr(form(*t).find("*** Stack")), "*** Stack: h h h h ... " + h12.substr(0, h12.size() - 1));
  stack::pop(1);
}

TEST_F(ErrorTest, FilesFromTheSourceFileStack) {
  int code;
  // An empty stack of source files leaves `files` alone.
  Cell e = eval("1 / 0", &code);
  Cell* t = stack::push(&e);
  error::fill_stack_trace(t);
  EXPECT_EQ(mold(*error::field(t, error::kFiles)), "none");
  stack::pop(1);
  // Otherwise the error keeps a copy of it, which later runs do not change.
  test::run("append system/state/source-files %a.zot");
  e = eval("1 / 0", &code);
  t = stack::push(&e);
  error::fill_stack_trace(t);
  test::run("append system/state/source-files %b.zot");
  EXPECT_EQ(mold(*error::field(t, error::kFiles)), "[%a.zot]");
  EXPECT_NE(form(*t).find("\n*** Files: %a.zot"), std::string::npos) << form(*t);
  stack::pop(1);
}

TEST_F(ErrorTest, CatalogObjects) {
  const Cell* cat = error::catalog();
  ASSERT_TRUE(cat->is(T_OBJECT));
  EXPECT_EQ(context::word_count(cat->w1), u32(kErrCategoryCount));
  for (int c = 0; c < kErrCategoryCount; c++) {
    SCOPED_TRACE(c);
    Cell category = *context::value_at(cat->w1, u32(c));
    ASSERT_TRUE(category.is(T_OBJECT));
    EXPECT_EQ(context::value_at(category.w1, 0)->int_value(), c * 100);
    EXPECT_EQ(string::to_utf8(context::value_at(category.w1, 1)), error_category(c).title);
    EXPECT_EQ(context::word_count(category.w1), error_category(c).count + 2u);
    // Every id has a message: text, a block, or the argument itself.
    for (u32 i = 2; i < context::word_count(category.w1); i++) {
      u32 t = context::value_at(category.w1, i)->type();
      EXPECT_TRUE(t == T_STRING || t == T_BLOCK || t == T_WORD) << i;
    }
  }
  EXPECT_EQ(error_category(3).count, 94);
  Cell script = *context::value_at(cat->w1, 3);
  EXPECT_EQ(mold(*context::value_at(script.w1, 2 + 5)), "[:arg1 \"does not allow\" :arg2 \"for its\" :arg3 \"argument\"]");
  Cell math = *context::value_at(cat->w1, 4);
  EXPECT_EQ(mold(*context::value_at(math.w1, 2)), "\"attempt to divide by zero\"");
}

TEST_F(ErrorTest, ArgumentWordNamesTheParameter) {
  // A function called with the wrong type names itself and the parameter.
  int code;
  Cell e = eval("f: func [a [integer!] b [string!]] [a] f 1 2", &code);
  ASSERT_EQ(code, error_code(Err::ScriptExpectArg));
  std::string text = form(e);
  EXPECT_EQ(text.substr(0, text.find('\n')), "*** Script Error: f does not allow integer! for its b argument");
}

}  // namespace
}  // namespace zot
