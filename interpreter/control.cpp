// Control natives: conditionals, loops, function makers, evaluation and the
// non-local exits.
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/simple.h"
#include "interpreter/eval.h"
#include "interpreter/natives.h"
#include "interpreter/stack.h"
#include "runtime/errors.h"
#include "runtime/symbol.h"
#include "runtime/words.h"

namespace zot::natives {

void define_native(u32 index, const char* text, EntryFn fn);

namespace {

// Names of catch and throw match by their words' canonical symbols.
bool symbol_match(const Cell& a, const Cell& b) {
  if (a.type() < T_WORD || a.type() > T_ISSUE || b.type() < T_WORD || b.type() > T_ISSUE) return false;
  return symbol::resolve(a.w2) == symbol::resolve(b.w2);
}

ZOT_INLINE Cell* base() { return stack::g_base; }
ZOT_INLINE bool truthy(const Cell* c) { return !(c->is(T_NONE) || (c->is(T_LOGIC) && !c->w1)); }

// Evaluates a block argument and makes its value the result.
void do_into_result(const Cell* block) {
  Cell b = *block;
  stack::g_top = base() + 1;
  interp::eval_block(&b, true);
}

void set_none_result() {
  set_none(base());
  stack::g_top = base() + 1;
}

// Runs body once for a loop; false when the loop must stop (break).
bool loop_body(const Cell* body) {
  try {
    interp::eval_block(body, false);
  } catch (const RuntimeThrow& t) {
    if (!runtime::catches(t, kCatchLoop)) throw;
    runtime::g_thrown_code = 0;
    if (t.code == kThrowBreak) return false;
    // continue: go on with the next round
  }
  return true;
}

void n_if(const i32*) {
  if (truthy(base())) do_into_result(base() + 1);
  else set_none_result();
}

void n_unless(const i32*) {
  if (!truthy(base())) do_into_result(base() + 1);
  else set_none_result();
}

void n_either(const i32*) {
  Cell* b = base();
  if (b->is(T_UNSET)) raise_error(Err::ScriptNoValue, words::word(w::if_));
  do_into_result(truthy(b) ? b + 1 : b + 2);
}

// any/all: expression by expression.
void any_all(bool any) {
  Cell code = *base();
  u32 end = mem::series_of(code.w2)->length();
  u32 pos = code.w1;
  while (pos < end) {
    pos = interp::eval_next(&code, pos, end, true);
    Cell v = *stack::top_value();
    stack::pop(1);
    if (truthy(&v) == any) {
      if (any) {
        *base() = v;
        stack::g_top = base() + 1;
        return;
      }
    }
    if (!any && !truthy(&v)) {
      set_none_result();
      return;
    }
    if (!any) *base() = v;
  }
  if (any) set_none_result();
  else stack::g_top = base() + 1;
}
void n_any(const i32*) { any_all(true); }
void n_all(const i32*) {
  Cell code = *base();
  set_logic(base(), true);
  *stack::reserve_slot() = code;
  stack::g_top = base() + 1;
  // all: the last value, or none at the first false one
  u32 end = mem::series_of(code.w2)->length();
  u32 pos = code.w1;
  Cell last;
  set_logic(&last, true);
  while (pos < end) {
    pos = interp::eval_next(&code, pos, end, true);
    last = *stack::top_value();
    stack::pop(1);
    if (!truthy(&last)) {
      set_none_result();
      return;
    }
  }
  *base() = last;
  stack::g_top = base() + 1;
}

void n_while(const i32*) {
  Cell cond = base()[0], body = base()[1];
  stack::push_loop_frame(nullptr);
  Cell result;
  set_unset(&result);
  for (;;) {
    Cell c = interp::do_block(&cond);
    if (!truthy(&c)) break;
    if (!loop_body(&body)) break;
  }
  stack::drop_frame();
  set_unset(base());
  stack::g_top = base() + 1;
}

void n_until(const i32*) {
  Cell body = base()[0];
  stack::push_loop_frame(nullptr);
  for (;;) {
    Cell* top = stack::g_top;
    bool go_on;
    try {
      interp::eval_block(&body, false);
      go_on = !truthy(stack::top_value());
    } catch (const RuntimeThrow& t) {
      if (!runtime::catches(t, kCatchLoop)) throw;
      runtime::g_thrown_code = 0;
      go_on = t.code == kThrowContinue;
    }
    stack::g_top = top;
    if (!go_on) break;
  }
  stack::drop_frame();
  set_unset(base());
  stack::g_top = base() + 1;
}

void n_loop(const i32*) {
  Cell n = base()[0], body = base()[1];
  i64 count = n.is(T_FLOAT) ? i64(n.float_value()) : n.int_value();
  stack::push_loop_frame(nullptr);
  Cell* b = stack::g_base;
  set_unset(b);
  stack::g_top = b + 1;
  for (i64 i = 0; i < count; i++) {
    stack::g_top = b;
    bool go_on;
    try {
      interp::eval_block(&body, true);
      go_on = true;
    } catch (const RuntimeThrow& t) {
      if (!runtime::catches(t, kCatchLoop)) throw;
      runtime::g_thrown_code = 0;
      go_on = t.code == kThrowContinue;
      if (!go_on) stack::g_top = b + 1;  // break left the loop's value in the frame's first cell
    }
    if (!go_on) break;
  }
  Cell last = *b;
  stack::drop_frame();
  *base() = last;
  stack::g_top = base() + 1;
}

void make_function(const Cell* spec, const Cell* body) {
  Cell s = *spec, b = *body;
  u32 flags = function::validate(&s);
  Cell* top = stack::g_top;
  function::push(&s, &b, 0, 0, flags);
  Cell fn = *top;
  stack::g_top = top;
  *base() = fn;
  stack::g_top = base() + 1;
}

void n_func(const i32*) { make_function(base(), base() + 1); }
void n_function(const i32*) {
  Cell spec = function::collect_locals(base(), base() + 1);
  base()[0] = spec;
  make_function(base(), base() + 1);
}
void n_does(const i32*) {
  Cell empty;
  block::make_at(&empty, 1);
  Cell body = base()[0];
  base()[1] = body;
  base()[0] = empty;
  make_function(base(), base() + 1);
}

void n_do(const i32*) {
  Cell v = *base();
  if (v.is(T_BLOCK) || v.is(T_PAREN)) {
    stack::Frame* target = stack::claim_caller_frame();
    try {
      do_into_result(&v);
    } catch (...) {
      stack::clear_frame_flag(target);
      throw;
    }
    stack::clear_frame_flag(target);
  } else {
    stack::g_top = base() + 1;
  }
}

void n_reduce(const i32*) {
  Cell code = *base();
  if (!code.is(T_BLOCK) && !code.is(T_PAREN)) {
    stack::g_top = base() + 1;
    return;
  }
  u32 end = mem::series_of(code.w2)->length();
  Cell* out = stack::reserve_slot();
  block::make_at(out, i32(end > code.w1 ? end - code.w1 : 1));
  u32 pos = code.w1;
  while (pos < end) {
    pos = interp::eval_next(&code, pos, end, true);
    Cell v = *stack::top_value();
    stack::pop(1);
    block::append_cell(out, &v);
  }
  Cell r = *out;
  *base() = r;
  stack::g_top = base() + 1;
}

void n_try(const i32*) {
  Cell code = *base();
  stack::push_try_frame(nullptr);
  Cell* try_base = stack::g_base;
  stack::Frame* frame = stack::top_frame();
  (void)try_base;
  try {
    interp::eval_block(&code, true);
    stack::drop_frame();
    // the value went to the try frame's result slot, which is above ours
  } catch (const RuntimeThrow& t) {
    if (t.code != kThrowError) throw;
    runtime::g_thrown_code = 0;
    (void)frame;
    stack::try_result();
    return;
  }
}

void n_catch(const i32* refs) {
  Cell code = *base();
  Cell name;
  set_none(&name);
  bool named = refs[0] >= 0;
  if (named) name = base()[refs[0]];
  stack::push_catch_frame(nullptr);
  Cell* cbase = stack::g_base;
  try {
    interp::eval_block(&code, true);
    Cell v = *cbase;
    stack::drop_frame();
    *base() = v;
    stack::g_top = base() + 1;
  } catch (const RuntimeThrow& t) {
    if (t.code != kThrowThrow) throw;
    // The thrown value and its name were pushed at the catch frame's base.
    Cell value = stack::g_base[0], thrown_name = stack::g_base[1];
    bool match = !named || (thrown_name.type() != T_UNSET && symbol_match(name, thrown_name));
    if (!match) throw;
    runtime::g_thrown_code = 0;
    stack::drop_frame();
    *base() = value;
    stack::g_top = base() + 1;
  }
}

void n_throw(const i32* refs) {
  if (refs[0] < 0) {
    stack::g_top = base() + 1;
    Cell u;
    set_unset(&u);
    stack::push(&u);
  }
  stack::unwind_throw(kThrowThrow);
}

void n_break(const i32* refs) { stack::unwind_break(refs[0] >= 0, false); }
void n_continue(const i32*) { stack::unwind_break(false, true); }
void n_exit(const i32*) { stack::unwind_return(false, false); }
void n_return(const i32*) { stack::unwind_return(true, false); }

}  // namespace

void register_control() {
  define_native(1, "if [cond [any-type!] then-blk [block!]]", n_if);
  define_native(2, "unless [cond [any-type!] then-blk [block!]]", n_unless);
  define_native(3, "either [cond [any-type!] true-blk [block!] false-blk [block!]]", n_either);
  define_native(4, "any [conds [block!]]", n_any);
  define_native(5, "all [conds [block!]]", n_all);
  define_native(6, "while [cond [block!] body [block!]]", n_while);
  define_native(7, "until [body [block!]]", n_until);
  define_native(8, "loop [count [integer! float!] body [block!]]", n_loop);
  define_native(14, "func [spec [block!] body [block!]]", n_func);
  define_native(15, "function [spec [block!] body [block!]]", n_function);
  define_native(16, "does [body [block!]]", n_does);
  define_native(20, "do [value [any-type!]]", n_do);
  define_native(35, "reduce [value [any-type!]]", n_reduce);
  define_native(70, "try [block [block!] /all]", n_try);
  define_native(77, "break [/return value [any-type!]]", n_break);
  define_native(78, "continue []", n_continue);
  define_native(79, "exit []", n_exit);
  define_native(80, "return [value [any-type!]]", n_return);
  define_native(81, "throw [value [any-type!] /name word]", n_throw);
  define_native(82, "catch [block [block!] /name word]", n_catch);
}

}  // namespace zot::natives
