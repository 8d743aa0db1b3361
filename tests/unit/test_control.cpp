// The control natives, and the non-local exits through every kind of catcher.
// Each case is Zot source and the mold of its value ("unset" for no value,
// "err N" for an error! value, "error N" for an error raised out of it).
#include <gtest/gtest.h>

#include <string>

#include "datatypes/string.h"
#include "interpreter/eval.h"
#include "interpreter/lexer.h"
#include "interpreter/natives.h"
#include "runtime/actions.h"
#include "tests/unit/eval_fixture.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace natives {
void define_native(u32 index, const char* text, EntryFn fn);
}
namespace {

using test::load;

struct ControlTest : ::testing::Test {
  void SetUp() override { test::ensure_runtime(); }
};

std::string mold(const Cell& v) {
  if (v.is(T_UNSET)) return "unset";
  if (v.is(T_ERROR)) return "err " + std::to_string(error_cell_code(&v));
  Cell out;
  string::make_at(&out, 16);
  actions::lookup<actions::kMold>(v.type())(&v, &out, {}, 100000);
  return string::to_utf8(&out);
}

std::string error_text(Err e) { return "error " + std::to_string(error_code(e)); }

// Evaluates the source under a try frame and checks that, however it ends,
// no frame is left behind and the argument stack is where it was.
std::string run(const std::string& text) {
  Cell* const base0 = stack::g_base;
  Cell* const top0 = stack::g_top;
  stack::Frame* const ctop0 = stack::g_ctop;
  Cell* code = stack::reserve_slot();  // keeps the code reachable
  set_unset(code);
  *code = load(text);
  stack::push_try_frame(nullptr);
  Cell* const try_base = stack::g_base;
  stack::Frame* const try_ctop = stack::g_ctop;
  std::string result;
  try {
    Cell v = interp::do_block(code);
    EXPECT_EQ(stack::g_base, try_base) << text;
    EXPECT_EQ(stack::g_top, try_base) << text;
    EXPECT_EQ(stack::g_ctop, try_ctop) << text;
    result = mold(v);
    stack::drop_frame();
  } catch (const RuntimeThrow& t) {
    if (t.code != kThrowError) {
      ADD_FAILURE() << text << ": code " << t.code << " escaped";
      runtime::g_thrown_code = 0;
      result = "escaped";
    } else {
      runtime::g_thrown_code = 0;
      // The error took the try frame and left itself on top of the stack.
      EXPECT_EQ(stack::g_ctop, ctop0) << text;
      EXPECT_EQ(stack::g_base, base0) << text;
      result = error_text(error_from_code(error_cell_code(stack::top_value())));
    }
  }
  stack::g_base = base0;
  stack::g_top = top0;
  stack::g_ctop = ctop0;
  EXPECT_EQ(runtime::g_thrown_code, 0u) << text;
  EXPECT_EQ(stack::g_saved_call_pos, 0u) << text;
  return result;
}

struct Case {
  const char* source;
  std::string result;
};

void check(const Case* cases, std::size_t n) {
  for (std::size_t i = 0; i < n; i++) EXPECT_EQ(run(cases[i].source), cases[i].result) << cases[i].source;
}
#define CHECK_TABLE(t) check(t, sizeof(t) / sizeof(t[0]))

// ---- the non-local exit matrix

// Each exit is tried in each kind of place, inside a function that loops
// three times and a catch around it all, so every exit has a target beyond
// the place: a break gives 10, a full loop 30, return 7, exit unset, a throw
// that escapes the place 8.
TEST_F(ControlTest, ExitMatrix) {
  const char* const exits[] = {"break", "continue", "return 7", "exit", "throw 8", "1 / 0"};
  const std::string zero_divide = error_text(Err::MathZeroDivide);
  struct Place {
    const char* name;
    const char* pattern;  // X stands for the exit
    std::string results[6];
  };
  const Place places[] = {
      {"nothing", "X", {"10", "30", "7", "unset", "8", zero_divide}},
      {"loop", "loop 1 [X]", {"30", "30", "7", "unset", "8", zero_divide}},
      {"function", "g: func [] [X 5] g", {"10", "30", "30", "30", "8", zero_divide}},
      {"try", "try [X]", {"10", "30", "7", "unset", "8", "30"}},
      {"try/all", "try/all [X]", {"30", "30", "30", "30", "30", "30"}},
      {"catch", "catch [X]", {"10", "30", "7", "unset", "30", zero_divide}},
      {"catch/name", "catch/name [X] 'other", {"10", "30", "7", "unset", "8", zero_divide}},
  };
  for (const Place& p : places) {
    for (int e = 0; e < 6; e++) {
      std::string inner = p.pattern;
      inner.replace(inner.find('X'), 1, exits[e]);
      std::string src = "f: func [] [n: 0 loop 3 [n: n + 1 " + inner + "] n * 10] catch [f]";
      EXPECT_EQ(run(src), p.results[e]) << p.name << ": " << src;
    }
  }
}

// The same exits with nothing around them, alone in try and in try/all.
TEST_F(ControlTest, ExitsWithoutTarget) {
  const Case cases[] = {
      {"break", error_text(Err::ThrowBreak)},
      {"continue", error_text(Err::ThrowContinue)},
      {"return 1", error_text(Err::ThrowReturn)},
      {"exit", error_text(Err::ThrowReturn)},
      {"throw 1", error_text(Err::ThrowThrow)},
      {"1 / 0", error_text(Err::MathZeroDivide)},
      {"try [break]", "err " + std::to_string(error_code(Err::ThrowBreak))},
      {"try [continue]", "err " + std::to_string(error_code(Err::ThrowContinue))},
      {"try [exit]", "err " + std::to_string(error_code(Err::ThrowReturn))},
      {"try [throw 1]", "err " + std::to_string(error_code(Err::ThrowThrow))},
      {"try [1 / 0]", "err " + std::to_string(error_code(Err::MathZeroDivide))},
      {"try [5]", "5"},
      // try/all stops every search: inside a loop or a function the exit
      // still ends as an error value.
      {"loop 2 [try/all [break]]", "err " + std::to_string(error_code(Err::ThrowBreak))},
      {"f: func [] [try/all [return 1] 2] f", "2"},
      {"catch [try/all [throw 1] 2]", "2"},
      // A throw that no catch takes, reported with its value.
      {"catch/name [throw 1] 'a", error_text(Err::ThrowThrow)},
  };
  CHECK_TABLE(cases);
}

TEST_F(ControlTest, CatchAndThrow) {
  const Case cases[] = {
      {"catch [throw 1 2]", "1"},
      {"catch [5]", "5"},
      {"catch [throw/name 1 'a]", "1"},  // a plain catch takes named throws
      {"catch/name [throw/name 1 'a] 'a", "1"},
      {"catch/name [throw/name 1 'A] 'a", "1"},
      {"catch/name [throw/name 1 'b] [a b]", "1"},
      {"catch/name [throw/name 1 'B] [a b]", "1"},
      {"catch [catch/name [throw 1] 'a 2]", "1"},
      {"catch [catch/name [throw/name 1 'b] 'a 2]", "1"},
      {"catch/name [catch/name [throw/name 1 'b] 'a 2] 'b", "1"},
      {"catch/name [throw/name 1 'z] [a 1]", error_text(Err::ScriptInvalidRefineArg)},
      {"f: func [] [throw 3] catch [f 4]", "3"},
      {"catch [loop 3 [throw 6]]", "6"},
  };
  CHECK_TABLE(cases);
}

// ---- conditionals and block walkers

TEST_F(ControlTest, Conditionals) {
  const Case cases[] = {
      {"if true [1]", "1"},
      {"if false [1]", "none"},
      {"if none [1]", "none"},
      {"if () [1]", "1"},  // unset counts as true
      {"if 0 [1]", "1"},
      {"if true []", "unset"},
      {"unless false [2]", "2"},
      {"unless 1 [2]", "none"},
      {"either 1 [1] [2]", "1"},
      {"either none [1] [2]", "2"},
      {"either () [1] [2]", error_text(Err::ScriptNoReturn)},
      {"any []", "none"},
      {"all []", "none"},
      {"any [none false 3 4]", "3"},
      {"any [none false]", "none"},
      {"all [1 none 3]", "none"},
      {"all [1 2 3]", "3"},
      {"x: 0 all [false x: 1] x", "0"},
      {"x: 0 any [1 x: 1] x", "0"},
  };
  CHECK_TABLE(cases);
}

TEST_F(ControlTest, SwitchAndCase) {
  const Case cases[] = {
      {"switch 2 [1 [10] 2 [20]]", "20"},
      {"switch 3 [1 [10]]", "none"},
      {"switch/default 3 [1 [10]] [30]", "30"},
      {"switch 1 [1 2 [12]]", "12"},
      {"switch 1 [1.0 [1]]", "none"},
      {"switch \"a\" [\"A\" [1]]", "1"},
      {"switch 'b [a [1] b [2]]", "2"},
      {"case [false [1] true [2]]", "2"},
      {"case [false [1]]", "none"},
      {"case [true 5]", "5"},
      {"case [false 1 true [2]]", "2"},
      {"case [1 + 1 = 2 [3]]", "3"},
      {"case/all [true [1] true [2]]", "2"},
      {"x: 0 case/all [true [x: x + 1] true [x: x + 10]] x", "11"},
      {"case/all [true [1] false [2]]", "none"},
      {"x: 0 case [true [x: 1] true [x: 2]] x", "1"},
      {"case [true]", error_text(Err::ScriptNeedValue)},
      {"case [false]", error_text(Err::ScriptNeedValue)},
      {"case [() [1]]", error_text(Err::ScriptNoReturn)},
      {"case []", "none"},
  };
  CHECK_TABLE(cases);
}

// ---- loops

TEST_F(ControlTest, CountedLoops) {
  const Case cases[] = {
      {"x: 0 loop 0 [x: 1] x", "0"},
      {"loop 0 [1]", "none"},
      {"loop -1 [1]", "none"},
      {"loop 0.5 [1]", "none"},
      {"x: 0 loop 2.9 [x: x + 1] x", "2"},
      {"x: 0 loop 3 [x: x + 1]", "3"},
      {"loop 3 [break]", "unset"},
      {"loop 3 [break/return 5]", "5"},
      {"x: 0 loop 3 [x: x + 1 continue x: 100] x", "3"},
      {"loop 1e20 [break/return 1]", "1"},
      {"s: 0 repeat i 4 [s: s + i] s", "10"},
      {"repeat i 3 [i]", "3"},
      {"repeat i 0 [1]", "none"},
      {"repeat i 2.5 [i]", "2"},
      {"repeat i 5 [if i = 2 [break/return i * 100]]", "200"},
      {"s: 0 repeat i 3 [if i = 2 [continue] s: s + i] s", "4"},
      {"x: 0 forever [x: x + 1 if x = 4 [break/return x * 2]]", "8"},
      {"forever [break]", "unset"},
  };
  CHECK_TABLE(cases);
}

TEST_F(ControlTest, ConditionLoops) {
  const Case cases[] = {
      {"x: 0 while [x < 3] [x: x + 1]", "unset"},
      {"x: 0 while [x < 3] [x: x + 1] x", "3"},
      {"x: 0 while [x < 3] [x: x + 1 break/return 9]", "unset"},
      {"x: 0 while [true] [x: x + 1 if x = 5 [break]] x", "5"},
      {"x: 0 while [x < 5] [x: x + 1 if x > 2 [continue] x: x + 10] x", "11"},
      {"while [break] []", error_text(Err::ThrowWhileCond)},
      {"while [continue] []", error_text(Err::ThrowWhileCond)},
      {"loop 2 [while [break] []]", error_text(Err::ThrowWhileCond)},
      {"while [] [1]", error_text(Err::ScriptNoReturn)},
      {"x: 0 until [x: x + 1 x = 3]", "true"},
      {"x: 0 until [x: x + 1 if x < 3 [continue] x]", "3"},
      {"until [break/return 4]", "4"},
      {"until []", error_text(Err::ScriptNoReturn)},
  };
  CHECK_TABLE(cases);
}

TEST_F(ControlTest, SeriesLoops) {
  const Case cases[] = {
      {"s: 0 foreach x [1 2 3] [s: s + x] s", "6"},
      {"foreach x [1 2 3] [x]", "3"},
      {"foreach x [] [1]", "unset"},
      {"foreach x [1 2 3] [if x = 2 [break/return 20] x]", "20"},
      {"o: copy [] foreach [a b] [1 2 3] [append o reduce [a b]] o", "[1 2 3 none]"},
      {"o: copy [] foreach c \"ab\" [append o c] o", "[#\"a\" #\"b\"]"},
      {"o: copy [] foreach [a b] \"abc\" [append o b] o", "[#\"b\" none]"},
      {"foreach [] [1 2] [1]", error_text(Err::ScriptInvalidArg)},
      {"foreach x 5 [x]", error_text(Err::ScriptExpectArg)},
      {"s: 0 b: [1 2 3] forall b [s: s + b/1] s", "6"},
      {"b: [1 2 3] forall b [b/1]", "3"},
      {"b: [1 2 3] forall b [b/1] b", "[1 2 3]"},             // restored when it ends by itself
      {"b: [1 2 3] forall b [if b/1 = 2 [break]] b", "[2 3]"},  // break leaves the position
      {"b: [] forall b [1]", "unset"},
      {"b: [1 2 3] forall b [b: [4 5]]", error_text(Err::ScriptBadLoopSeries)},
      {"x: 5 forall x []", error_text(Err::ScriptExpectArg)},
      {"forall undefined-word-zz []", error_text(Err::ScriptNoValue)},
      {"remove-each x [1 2 3 4] [x > 2]", "[1 2]"},
      {"b: [1 2 3 4] remove-each x b [x = 2] b", "[1 3 4]"},
      {"remove-each [a b] [1 2 3 4 5] [a = 3]", "[1 2 5]"},
      {"remove-each [a b] [1 2 3] [true]", "[]"},
      {"remove-each x [1 2 3] [if x = 2 [continue] true]", "[2]"},
      {"remove-each x [1 2 3] [if x = 2 [break] true]", "[2 3]"},
      {"remove-each c \"abc\" [c = #\"b\"]", "\"ac\""},
      {"remove-each x next [1 2 3] [true]", "[]"},
      {"b: [1 2 3] remove-each x next b [true] b", "[1]"},
  };
  CHECK_TABLE(cases);
}

// ---- function makers

TEST_F(ControlTest, FunctionMakers) {
  const Case cases[] = {
      {"f: func [a /b c] [either b [a + c] [a]] f/b 1 2", "3"},
      {"f: function [] [x: 5 x] x: 1 f x", "1"},
      {"f: function [] [x: 5 x] f", "5"},
      {"f: function [] [foreach y [1 2] [y]] y: 0 f y", "0"},
      {"f: does [7] f", "7"},
      {"f: has [a] [a: 3 a] a: 1 f a", "1"},
      {"f: has [a] [a: 3 a] f", "3"},
      {"f: has [a] [a] f", "none"},
      {"func [a a] []", error_text(Err::ScriptDupVars)},
  };
  CHECK_TABLE(cases);
}

// ---- do, get, set

TEST_F(ControlTest, DoGetSet) {
  const Case cases[] = {
      {"do [1 + 2]", "3"},
      {"do []", "unset"},
      {"do \"1 + 2\"", "3"},
      {"zz: 4 do 'zz", "4"},
      {"do 5", "5"},
      {"b: [1 + 1 3 * 3] r: do/next b 'p reduce [r p]", "[2 [3 * 3]]"},
      {"f: func [] [do [return 3] 4] f", "3"},
      {"do [exit]", error_text(Err::ThrowReturn)},
      {"do try [1 / 0]", error_text(Err::MathZeroDivide)},
      {"x: 5 get 'x", "5"},
      {"get 'undefined-word-zz", error_text(Err::ScriptNoValue)},
      {"get/any 'undefined-word-zz", "unset"},
      {"b: [1 2] get 'b/2", "2"},
      {"set 'x 3 x", "3"},
      {"set 'x 3", "3"},
      {"set [a b c] [1 2] reduce [a b c]", "[1 2 none]"},
      {"a: 9 set/some [a b] reduce [none 2] reduce [a b]", "[9 2]"},
      {"set [a b] 7 reduce [a b]", "[7 7]"},
      {"set/only [a b] [1 2] a", "[1 2]"},
      {"set 'x ()", error_text(Err::ScriptNeedValue)},
      {"set/any 'x () get/any 'x", "unset"},
      {"set [a b] reduce [1 ()]", error_text(Err::ScriptNeedValue)},
      {"set/any [a b] reduce [1 ()] get/any 'b", "unset"},
      {"set [a 1] [1 2]", error_text(Err::ScriptInvalidArg)},
      {"b: [1 2] set 'b/1 9 b", "[9 2]"},
  };
  CHECK_TABLE(cases);
}

// ---- reduce and compose

TEST_F(ControlTest, ReduceCompose) {
  const Case cases[] = {
      {"reduce [1 + 1 2 * 3]", "[2 6]"},
      {"reduce []", "[]"},
      {"reduce 5", "5"},
      {"x: 3 reduce 'x", "3"},
      {"b: [0] r: reduce/into [1 2] b reduce [b r]", "[[1 2 0] [0]]"},
      {"b: [0] r: reduce/into [1 2] tail b reduce [b r]", "[[0 1 2] [1 2]]"},
      {"b: [0] reduce/into 5 b", "[0]"},
      {"compose [1 (1 + 1) [(3)]]", "[1 2 [(3)]]"},
      {"compose/deep [1 [(1 + 1)]]", "[1 [2]]"},
      {"compose [(reduce [1 2])]", "[1 2]"},
      {"compose/only [(reduce [1 2])]", "[[1 2]]"},
      {"compose [([])]", "[]"},
      {"compose/only [([])]", "[[]]"},
      {"compose [()]", "[]"},
      {"compose [(())]", "[]"},
      {"compose 1", error_text(Err::ScriptExpectVal)},
      {"b: [0] compose/into [(1) 2] b b", "[1 2 0]"},
      {"b: [0] compose/into [(1) 2] tail b b", "[0 1 2]"},
  };
  CHECK_TABLE(cases);
}

TEST_F(ControlTest, ReduceDropsNewLines) {
  EXPECT_EQ(run("reduce [1\n2]"), "[1 2]");
  EXPECT_EQ(run("reduce [1\n2]"), run("[1 2]"));
  EXPECT_EQ(run("compose [1\n2]"), run("[1\n2]"));
}

// ---- apply

TEST_F(ControlTest, Apply) {
  const Case cases[] = {
      {"apply :add [1 2]", "3"},
      {"apply 'add [1 2]", "3"},
      {"apply :+ [1 2]", "3"},
      {"f: func [a /b c] [either b [a + c] [a]] apply :f [1 /b 2]", "3"},
      {"f: func [a /b c] [either b [a + c] [a]] apply :f [1]", "1"},
      {"f: func [a /b c] [either b [a + c] [a]] apply/all :f [1 true 2]", "3"},
      {"f: func [a /b c] [either b [a + c] [a]] apply/all :f [1 false 2]", "1"},
      {"f: func [a /b c] [reduce [a b c]] apply/all :f [1]", "[1 false none]"},
      {"f: func [a] [a] apply/safer :f [x]", "x"},
      {"f: func [a] [a] apply :f [1 + 1]", "2"},
      {"apply :copy [\"hello\" /part 2]", "\"he\""},
      {"apply/all :copy [\"hello\" true 2]", "\"he\""},
      {"f: func [a] [a] apply :f []", error_text(Err::ScriptNoArg)},
      {"f: func [a [integer!]] [a] apply :f [\"x\"]", error_text(Err::ScriptExpectArg)},
      {"f: func [a /b] [a] apply :f [1 /z]", error_text(Err::ScriptNoRefine)},
      {"f: func [a /b] [a] apply :f [1 /b /b]", error_text(Err::ScriptDupRefine)},
      {"f: func [a] [a] apply :f [1 2]", error_text(Err::ScriptBadRefine)},
      {"apply 5 []", error_text(Err::ScriptExpectArg)},
      {"x: 5 apply 'x []", error_text(Err::ScriptInvalidArg)},
      {"f: func [] [apply :return [4] 5] f", "4"},
  };
  CHECK_TABLE(cases);
}

// Throws that are not the language's own exits (a quit request) pass through
// every catcher untouched.
void throw_quit(const i32*) { runtime::throw_code(kThrowQuit); }

TEST_F(ControlTest, ForeignThrowsPassEveryCatcher) {
  natives::define_native(natives::kTableSize, "test-quit-zz []", throw_quit);
  for (const char* src : {"loop 2 [test-quit-zz]", "while [true] [test-quit-zz]", "catch [test-quit-zz]",
                          "try [test-quit-zz]", "try/all [test-quit-zz]", "forever [test-quit-zz]",
                          "foreach x [1] [test-quit-zz]", "while [test-quit-zz] []"}) {
    Cell* base = stack::g_base;
    Cell* top = stack::g_top;
    stack::Frame* ctop = stack::g_ctop;
    u32 code = 0;
    try {
      Cell block = load(src);
      stack::push(&block);
      interp::do_block(stack::top_value());
    } catch (const RuntimeThrow& t) {
      code = t.code;
    }
    EXPECT_EQ(code, kThrowQuit) << src;
    runtime::g_thrown_code = 0;
    stack::g_base = base;
    stack::g_top = top;
    stack::g_ctop = ctop;
  }
}

}  // namespace
}  // namespace zot
