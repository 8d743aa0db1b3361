#include <gtest/gtest.h>

#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/string.h"
#include "interpreter/eval.h"
#include "interpreter/eval_fast.h"
#include "interpreter/lexer.h"
#include "interpreter/routines.h"
#include "runtime/actions.h"
#include "tests/unit/eval_fixture.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

using test::load;
using test::mold;
using test::run;

struct EvalTest : ::testing::Test {
  void SetUp() override { test::ensure_runtime(); }
};

// The mold of the value of the source, or "error <code>".
// The callables the evaluator picks as integer operations are exactly those
// that the integer fast path runs.
TEST(IntegerFast, OperationsAreTheOnesItRuns) {
  for (const u32 type : {u32(T_ACTION), u32(T_NATIVE)}) {
    for (u32 i = 0; i < 64; i++) {
      Cell fn, out;
      make_cell(&fn, type, i, 0, 0);
      EXPECT_EQ(interp::integer_operation(fn), interp::integer_fast(type, i, 6, 4, &out)) << type << " " << i;
    }
  }
}

TEST_F(EvalTest, ExpressionsTable) {
  struct Case {
    const char* source;
    const char* result;
  };
  const Case cases[] = {
      {"", "unset"},
      {"1 2 3", "3"},
      {"1 + 2 * 3", "9"},
      {"1 + (2 * 3)", "7"},
      {"x: 5 x * 2", "10"},
      {"a: b: 7 a + b", "14"},
      {"'foo", "foo"},
      {"first: 'x :first", "x"},
      {"type? 1", "integer!"},
      {"2147483647 + 1", "2147483648.0"},
      {"7 / 2", "3.5"},
      {"1 < 2", "true"},
      {"not 1 = 2", "true"},
      {"if 1 > 2 [3]", "none"},
      {"either 1 < 2 [\"yes\"] [\"no\"]", "\"yes\""},
      {"f: func [a b] [a + b] f 1 2", "3"},
      {"f: func [a /twice] [either twice [a * 2] [a]] f/twice 4", "8"},
      {"f: func [a /twice] [either twice [a * 2] [a]] f 4", "4"},
      {"f: func [a /by n] [a * n] f/by 3 5", "15"},
      {"f: func [n] [either n < 2 [n] [(f n - 1) + (f n - 2)]] f 10", "55"},
      {"f: func [x] [return x * 2 99] f 4", "8"},
      {"f: func [] [exit 1] f", "unset"},
      {"f: function [] [y: 3 y] f", "3"},
      {"f: does [42] f", "42"},
      {"x: 0 loop 5 [x: x + 1] x", "5"},
      {"x: 0 while [x < 3] [x: x + 1] x", "3"},
      {"x: 0 loop 10 [x: x + 1 if x = 4 [break]] x", "4"},
      {"loop 3 [break/return 7]", "7"},
      {"catch [throw 5 6]", "5"},
      {"catch/name [throw/name 1 'a] 'a", "1"},
      {"reduce [1 + 1 2 * 3]", "[2 6]"},
      {"any [none false 3 4]", "3"},
      {"all [1 2 none 4]", "none"},
      {"all [1 2]", "2"},
      {"b: [10 20 30] b/2", "20"},
      {"b: [10 20 30] b/2: 5 b", "[10 5 30]"},
      {"length? \"abc\"", "3"},
      {"append [1 2] 3", "[1 2 3]"},
      {"copy/part \"hello\" 2", "\"he\""},
      {"do [1 + 1]", "2"},
      {"x: 1 f: func [x] [x] f 2 x", "1"},
  };
  for (const auto& c : cases) EXPECT_EQ(run(c.source), c.result) << c.source;
}

TEST_F(EvalTest, ErrorsTable) {
  struct Case {
    const char* source;
    Err error;
  };
  const Case cases[] = {
      {"x:", Err::ScriptNeedValue},
      {"x: ()", Err::ScriptNeedValue},
      {"undefined-word-here", Err::ScriptNoValue},
      {"+ 1", Err::ScriptNoOpArg},
      {"f: func [a] [a] f", Err::ScriptNoArg},
      {"f: func [a [integer!]] [a] f \"x\"", Err::ScriptExpectArg},
      {"f: func [/a] [1] f/a/a", Err::ScriptDupRefine},
      {"f: func [/a] [1] f/b", Err::ScriptNoRefine},
      {"func [a a] []", Err::ScriptDupVars},
      {"func [return: [integer!] x] []", Err::ScriptBadFuncDef},
      {"1 + \"a\"", Err::ScriptInvalidType},
      {"break", Err::ThrowBreak},
      {"return 1", Err::ThrowReturn},
      {"throw 1", Err::ThrowThrow},
      {"try [1 / 0] 1 / 0", Err::MathZeroDivide},
  };
  for (const auto& c : cases) EXPECT_EQ(run(c.source), "error " + std::to_string(error_code(c.error))) << c.source;
}

TEST_F(EvalTest, StacksAreBackAfterErrors) {
  Cell* base = stack::g_base;
  Cell* top = stack::g_top;
  stack::Frame* ctop = stack::g_ctop;
  for (const char* src : {"f: func [a] [a / 0] f 1", "loop 3 [1 + none]", "x: func [] [return y] x"}) {
    run(src);
    EXPECT_EQ(stack::g_base, base);
    EXPECT_EQ(stack::g_top, top);
    EXPECT_EQ(stack::g_ctop, ctop);
  }
}

}  // namespace
}  // namespace zot

namespace zot {
namespace {

// The events a tracer saw while a block ran.
std::string traced_events(const std::string& tracer_src, const std::string& code_src, bool library) {
  std::string result;
  int code = test::error_code_of([&] {
    Cell setup = load("log: copy [] tracer: " + tracer_src);
    interp::do_block(&setup);
    Cell tw = word::load("tracer");
    Cell tracer = *context::get(&tw);
    Cell code = load(code_src);
    if (library) mem::series_of(code.w2)->flags |= mem::kLibrary;
    interp::trace_install(&tracer);
    interp::do_block(&code);
    interp::trace_end();
    Cell lw = word::load("log");
    result = mold(*context::get(&lw));
  });
  if (code >= 0) {
    interp::trace_end();
    return "error " + std::to_string(code);
  }
  return result;
}

TEST_F(EvalTest, TracerSeesTheEventsOfABlock) {
  const char* all = "func [event code offset value ref frame] [append log event]";
  EXPECT_EQ(traced_events(all, "1 + 2", false),
            "[init enter fetch push fetch open fetch push call return expr exit end]");
  // Library code fires nothing of its own.
  EXPECT_EQ(traced_events(all, "1 + 2", true), "[init end]");
  // A block at the head of the tracer's body picks the events.
  const char* some = "func [event code offset value ref frame] [[call return] append log event]";
  const char* exits = "func [event code offset value ref frame] [[throw catch error] append log event]";
  EXPECT_EQ(traced_events(exits, "catch [throw 1] try [1 / 0]", false), "[throw catch error]");
  // Two calls: `func` making f, then f itself.
  EXPECT_EQ(traced_events(some, "f: func [x] [x] f 1", false), "[call return call return]");
}

TEST_F(EvalTest, TracerErrorStopsTracingAndPropagates) {
  const char* failing = "func [event code offset value ref frame] [if event = 'fetch [1 / 0]]";
  EXPECT_EQ(traced_events(failing, "1 + 2", false), "error " + std::to_string(error_code(Err::MathZeroDivide)));
  EXPECT_FALSE(interp::g_tracing);
}

}  // namespace
}  // namespace zot

namespace zot {
namespace {

void twice_entry() {
  Cell* b = stack::g_base;
  set_integer(b, b[0].int_value() * 2 + (b[1].w1 ? 1 : 0));
}

TEST_F(EvalTest, RoutinesCallRegisteredEntries) {
  routines::register_entry("twice-test", twice_entry);
  int code = test::error_code_of([] {
    Cell spec = load("n [integer!] /plus-one");
    Cell* top = stack::g_top;
    routines::push(&spec, nullptr, "twice-test");
    Cell r = *top;
    stack::g_top = top;
    EXPECT_TRUE(r.is(T_ROUTINE));
    EXPECT_EQ(r.header >> 25, 1u);  // arity
    Cell w = word::load("twice");
    context::set(&w, &r);
  });
  EXPECT_EQ(code, -1);
  EXPECT_EQ(run("twice 21"), "42");
  EXPECT_EQ(run("twice/plus-one 21"), "43");
  EXPECT_EQ(run("twice \"x\""), "error " + std::to_string(error_code(Err::ScriptExpectArg)));
  EXPECT_EQ(run("form :twice"), "\"?routine?\"");
  Cell spec = load("n");
  EXPECT_EQ(test::error_code_of([&] { routines::push(&spec, nullptr, "no-such-entry"); }), error_code(Err::ScriptInvalidArg));
}

}  // namespace
}  // namespace zot
