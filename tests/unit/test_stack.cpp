#include <gtest/gtest.h>

#include <numbers>
#include <vector>

#include "runtime/cycles.h"
#include "runtime/helpers.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

using stack::Frame;

// ---- the numbered throw: nested sites with thresholds, outermost first.
#if defined(__GNUC__) && !defined(__clang__)
// The recursion ends in a throw, which this warning does not see.
#pragma GCC diagnostic ignored "-Winfinite-recursion"
#endif
int landing_site(u32 code, const std::vector<u32>& thresholds, std::size_t i = 0) {
  if (i < thresholds.size()) {
    try {
      return landing_site(code, thresholds, i + 1);
    } catch (const RuntimeThrow& t) {
      if (!runtime::catches(t, thresholds[i])) throw;
      return int(i);
    }
  }
  runtime::throw_code(code);
}

TEST(Throw, LandsInNearestSiteWhoseThresholdAdmitsTheCode) {
  struct Case {
    u32 code;
    std::vector<u32> thresholds;  // outermost first
    int site;                     // -1: passes every site
  };
  const Case cases[] = {
      {kThrowBreak, {kCatchAll, kCatchLoop}, 1},
      {kThrowError, {kCatchAll, kCatchLoop}, 0},
      {kThrowError, {kCatchLoop, kCatchThrow}, -1},
      {kThrowThrow, {kCatchAll, kCatchLoop, kCatchThrow}, 2},
      {kThrowContinue, {kCatchLoop, kCatchThrow}, 0},
      {kThrowReturn, {kCatchAll, kCatchThrow, kCatchLoop}, 2},
      {kThrowQuit, {kCatchThrow}, 0},
      {kThrowVmAlloc, {kCatchAll, 0x7FFFFFF8u}, 1},
  };
  for (const auto& c : cases) {
    int site;
    try {
      site = landing_site(c.code, c.thresholds);
    } catch (const RuntimeThrow& t) {
      EXPECT_EQ(t.code, c.code);
      site = -1;
    }
    EXPECT_EQ(site, c.site) << std::hex << c.code;
    EXPECT_EQ(runtime::g_thrown_code, c.code);
  }
}

// ---- stacks
struct StackTest : ::testing::Test {
  void SetUp() override {
    test::ensure_runtime();
    base = stack::g_base;
    top = stack::g_top;
    ctop = stack::g_ctop;
  }
  void TearDown() override {
    EXPECT_EQ(stack::g_ctop, ctop);
    stack::g_base = base;
    stack::g_top = top;
    stack::g_ctop = ctop;
  }
  Cell* base;
  Cell* top;
  Frame* ctop;
};

Cell integer(i32 v) {
  Cell c;
  set_integer(&c, v);
  return c;
}

TEST_F(StackTest, PushPopAndResults) {
  stack::push_native_frame(nullptr);
  Cell* b = stack::g_base;
  Cell one = integer(1), two = integer(2);
  stack::push(&one);
  stack::push(&two);
  EXPECT_EQ(stack::top_value()->int_value(), 2);
  stack::set_result(&two);
  stack::pop_frame();
  // The result stays as the last value of the caller's frame.
  EXPECT_EQ(stack::g_top, b + 1);
  EXPECT_EQ(stack::top_value()->int_value(), 2);

  Cell* outer = stack::g_base;
  stack::push_native_frame(nullptr);
  stack::push(&one);
  stack::pop_frame_to_result();
  EXPECT_EQ(outer->int_value(), 1);

  stack::push_native_frame(nullptr);
  stack::push(&two);
  Cell* caller_base = stack::g_bottom + stack::top_frame()->caller_base;
  stack::drop_frame();
  EXPECT_EQ(stack::g_base, caller_base);
  EXPECT_EQ(stack::g_top, caller_base);
}

TEST_F(StackTest, FunctionFrameRestoresContextValues) {
  // A context: a context cell whose word 2 holds the values word, and an owner.
  mem::Node ctx = mem::alloc_unset_cells(2);
  mem::series_of(ctx)->tail = 2 * sizeof(Cell);
  Cell* ctx_cell = &mem::series_of(ctx)->cells()[0];
  ctx_cell->header = T_CONTEXT | stack::kCtxStackValues;
  ctx_cell->w2 = 7;
  Cell w;
  make_cell(&w, T_WORD, 0, 0, 0);
  stack::push_function_frame(&w, ctx);
  mem::series_of(ctx)->cells()[0].w2 = 99;  // the callee's own values
  stack::push_function_frame(&w, ctx);
  mem::series_of(ctx)->cells()[0].w2 = 123;  // a recursive call's
  stack::pop_function_frame();
  EXPECT_EQ(mem::series_of(ctx)->cells()[0].w2, 99u);
  stack::drop_function_frame();
  EXPECT_EQ(mem::series_of(ctx)->cells()[0].w2, 7u);
}

// Runs fn with a catch-all site; returns the code of the exit that reached
// it, thrown or left pending (0: none).
template <class F>
u32 landing(F&& fn) {
  try {
    fn();
  } catch (const RuntimeThrow& t) {
    runtime::g_thrown_code = 0;
    return t.code;
  }
  u32 code = runtime::take_pending();
  runtime::g_thrown_code = 0;
  return code;
}

TEST_F(StackTest, BreakAndContinueLandOnTheLoopFrame) {
  struct Case {
    bool with_value;
    bool is_continue;
    u32 code;
    bool result_is_value;
  };
  const Case cases[] = {
      {false, false, kThrowBreak, false},
      {true, false, kThrowBreak, true},
      {false, true, kThrowContinue, false},
      {true, true, kThrowContinue, false},
  };
  for (const auto& c : cases) {
    stack::push_native_frame(nullptr);  // the loop native
    stack::push_loop_frame(nullptr);
    Frame* loop = stack::top_frame();
    Cell* loop_base = stack::g_base;
    stack::push_function_frame(nullptr, 0);  // a function in the loop body
    stack::push_native_frame(nullptr);       // `break` itself
    Cell five = integer(5);
    stack::push(&five);
    EXPECT_EQ(landing([&] { stack::unwind_break(c.with_value, c.is_continue); }), c.code);
    EXPECT_EQ(stack::top_frame(), loop);
    EXPECT_EQ(stack::g_base, loop_base);
    if (c.result_is_value) EXPECT_EQ(loop_base->int_value(), 5);
    else EXPECT_TRUE(loop_base->is(T_UNSET));
    stack::drop_frame();
    stack::drop_frame();
  }
}

TEST_F(StackTest, ExitsWithoutTargetsRaiseThrowErrors) {
  struct Case {
    const char* what;
    bool try_all_between;
    int code;  // error code raised
  };
  const Case cases[] = {
      {"break", false, 0},    {"continue", false, 3}, {"return", false, 1},
      {"throw", false, 2},    {"break", true, 0},     {"return", true, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    int code = test::error_code_of([&] {
      if (c.try_all_between) {
        // A loop and a return target outside try/all are not reachable.
        stack::push_loop_frame(nullptr);
        stack::push_native_frame(nullptr);
        stack::set_top_frame_flag(true);
        stack::push_try_all_frame(nullptr);
      }
      stack::push_native_frame(nullptr);
      Cell v = integer(42);
      stack::push(&v);
      std::string w = c.what;
      if (w == "break") stack::unwind_break(false, false);
      if (w == "continue") stack::unwind_break(false, true);
      if (w == "return") stack::unwind_return(true, false);
      if (w == "throw") stack::unwind_throw(kThrowThrow);
    });
    EXPECT_EQ(code, c.code);
    if (std::string(c.what) == "throw") {
      EXPECT_EQ(last_error_arg(0)->int_value(), 42);
    }
  }
}

TEST_F(StackTest, ReturnAndThrowLandOnTheirFrames) {
  // return: the frame with the return-target flag gets the value.
  stack::push_function_frame(nullptr, 0);
  stack::set_top_frame_flag(true);
  Frame* fn = stack::top_frame();
  Cell* fn_base = stack::g_base;
  stack::push_eval_frame(nullptr);
  stack::push_native_frame(nullptr);
  Cell v = integer(7);
  stack::push(&v);
  EXPECT_EQ(landing([] { stack::unwind_return(true, false); }), kThrowReturn);
  EXPECT_EQ(stack::top_frame(), fn);
  EXPECT_EQ(stack::g_base, fn_base);
  EXPECT_EQ(fn_base->int_value(), 7);
  stack::push_native_frame(nullptr);
  EXPECT_EQ(landing([] { stack::unwind_return(false, false); }), kThrowExit);
  EXPECT_TRUE(fn_base->is(T_UNSET));
  stack::drop_frame();

  // throw: value and name pushed at the catch frame's base.
  stack::push_catch_frame(nullptr);
  Frame* c = stack::top_frame();
  Cell* cbase = stack::g_base;
  stack::push_native_frame(nullptr);
  Cell val = integer(11), name = integer(12);
  stack::push(&val);
  stack::push(&name);
  EXPECT_EQ(landing([] { stack::unwind_throw(kThrowThrow); }), kThrowThrow);
  EXPECT_EQ(stack::top_frame(), c);
  EXPECT_EQ(stack::g_top, cbase + 2);
  EXPECT_EQ(cbase[0].int_value(), 11);
  EXPECT_EQ(cbase[1].int_value(), 12);
  stack::g_saved_call_pos = 0;
  stack::drop_frame();
}

TEST_F(StackTest, ErrorUnwindsToTryFrame) {
  stack::push_native_frame(nullptr);  // `try` itself
  Cell* try_base = stack::g_base;
  Frame* native = stack::top_frame();
  stack::push_try_frame(nullptr);
  stack::push_function_frame(nullptr, 0);
  stack::push_native_frame(nullptr);
  u32 code = landing([] { raise_error(Err::MathZeroDivide); });
  EXPECT_EQ(code, kThrowError);
  EXPECT_EQ(stack::top_frame(), native);  // the try frame is gone
  EXPECT_EQ(stack::g_base, try_base);
  stack::try_result();
  EXPECT_TRUE(try_base->is(T_ERROR));
  EXPECT_EQ(error_cell_code(try_base), 400);
  EXPECT_EQ(stack::g_top, try_base + 1);
  stack::drop_frame();
}

TEST_F(StackTest, OverflowRaisesStackOverflowAndRecovers) {
  cycles::push(12345);
  int code = test::error_code_of([] {
    for (;;) stack::push_native_frame(nullptr);
  });
  EXPECT_EQ(code, error_code(Err::InternalStackOverflow));
  EXPECT_EQ(cycles::depth(), 0u);
  code = test::error_code_of([] {
    Cell v = integer(1);
    for (;;) stack::push(&v);
  });
  EXPECT_EQ(code, error_code(Err::InternalStackOverflow));
  // Usable again afterwards.
  stack::push_native_frame(nullptr);
  stack::drop_frame();
}

TEST_F(StackTest, CallingWordSkipsBodyFrames) {
  stack::set_special_symbols(900, 901, 902);
  Cell named, body;
  make_cell(&named, T_WORD, 0, 77, u32(-1));
  make_cell(&body, T_WORD, 0, 900, u32(-1));
  stack::push_function_frame(&named, 0);
  stack::push_compiled_function_frame(&body, 0);
  stack::push_native_frame(&body);
  EXPECT_EQ(stack::calling_word().w2, 77u);
  stack::drop_frame();
  stack::drop_frame();
  stack::drop_frame();
  stack::g_ctop = stack::g_cbottom;
  EXPECT_EQ(stack::calling_word().w2, 902u);
  stack::set_special_symbols(0, 0, 0);
  stack::g_ctop = ctop;
}

TEST(Cycles, GuardPopsWhenAnErrorUnwinds) {
  test::ensure_runtime();
  cycles::reset();
  int code = test::error_code_of([] {
    cycles::Guard g(1);
    cycles::Guard h(2);
    EXPECT_TRUE(cycles::find(2));
    raise_error(Err::ScriptPastEnd);
  });
  EXPECT_EQ(code, error_code(Err::ScriptPastEnd));
  EXPECT_EQ(cycles::depth(), 0u);
  // Too deep: the stack is emptied and internal/too-deep raised.
  code = test::error_code_of([] {
    for (u32 i = 0; i < cycles::kCapacity; i++) cycles::push(i + 1);
  });
  EXPECT_EQ(code, error_code(Err::InternalTooDeep));
  EXPECT_EQ(cycles::depth(), 0u);
}

TEST(Helpers, FloatToIntAndDegrees) {
  test::ensure_runtime();
  Cell f;
  set_float(&f, 2147483647.0);
  EXPECT_EQ(runtime::float_to_int(&f), 2147483647);
  set_float(&f, -2.9);
  EXPECT_EQ(runtime::float_to_int(&f), -2);
  for (double bad : {3e9, -2147483649.0, __builtin_nan("")}) {
    set_float(&f, bad);
    EXPECT_EQ(test::error_code_of([&] { runtime::float_to_int(&f); }), error_code(Err::ScriptOutOfRange));
  }
  const double r = std::numbers::pi / 180.0;
  EXPECT_DOUBLE_EQ(runtime::degrees_to_radians(270, 0), -90 * r);
  EXPECT_DOUBLE_EQ(runtime::degrees_to_radians(135, 0), -45 * r);
  EXPECT_DOUBLE_EQ(runtime::degrees_to_radians(135, 2), 45 * r);
  EXPECT_DOUBLE_EQ(runtime::degrees_to_radians(-135, 2), -45 * r);
  EXPECT_DOUBLE_EQ(runtime::degrees_to_radians(135, 1), 135 * r);
}

TEST(Errors, CatalogCodes) {
  struct Case {
    Err e;
    int code;
    const char* word;
  };
  const Case cases[] = {
      {Err::ThrowBreak, 0, "break"},
      {Err::ThrowWhileCond, 4, "while-cond"},
      {Err::ScriptNoValue, 300, "no-value"},
      {Err::ScriptExpectArg, 305, "expect-arg"},
      {Err::ScriptZbInvalidRecord, 393, "zb-invalid-record"},
      {Err::MathZeroDivide, 400, "zero-divide"},
      {Err::UserMessage, 800, "message"},
      {Err::InternalDeprecated, 913, "deprecated"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(error_code(c.e), c.code);
    EXPECT_STREQ(error_info(c.e).word, c.word);
    EXPECT_EQ(error_from_code(c.code), c.e);
  }
  EXPECT_EQ(error_from_code(394), Err::Count);
  EXPECT_EQ(error_from_code(1000), Err::Count);
  EXPECT_EQ(error_from_code(600), Err::Count);
  EXPECT_STREQ(error_category(3).title, "Script Error");
  EXPECT_EQ(error_category(3).count, 94);
}

}  // namespace
}  // namespace zot
