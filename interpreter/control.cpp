// Control natives: conditionals, loops, function makers, switch and case, do,
// get and set, reduce and compose, apply, and the non-local exits with their
// catchers.
//
// Every native finds its arguments at the frame base and leaves its result in
// the base cell. Argument cells stay on the stack (below any frame that a
// native pushes) for as long as the native uses them, so the collector sees
// them. Non-local exits arrive as RuntimeThrow: the stack routines that threw
// them have already moved the stacks to the landing frame, so a catch site
// only reads the landing frame and clears the code.
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "datatypes/words.h"
#include "interpreter/call.h"
#include "interpreter/call_path.h"
#include "interpreter/eval.h"
#include "interpreter/eval_fast.h"
#include "interpreter/lexer.h"
#include "interpreter/loop_plan.h"
#include "interpreter/natives.h"
#include "interpreter/support.h"
#include "platform/platform.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace zot::natives {

// The truth test of while, until, either and case: unset is no answer.
bool checked_true(const Cell* c) {
  if (c->is(T_UNSET)) raise_error(Err::ScriptNoReturn);
  return !logic::is_false(c);
}

namespace {

ZOT_INLINE Cell* base() { return stack::g_base; }
ZOT_INLINE const Cell* body_word() { return words::word(w::tag_body); }
ZOT_INLINE const Cell* anon_word() { return words::word(w::tag_anon); }
ZOT_INLINE u32 code_length(const Cell* code) { return mem::series_of(code->series_node())->length(); }

ZOT_INLINE void set_only_result(const Cell& v) {
  *base() = v;
  stack::g_top = base() + 1;
}
ZOT_INLINE void none_result() {
  set_none(base());
  stack::g_top = base() + 1;
}
ZOT_INLINE void unset_result() {
  set_unset(base());
  stack::g_top = base() + 1;
}

// Evaluates the block argument at arg into the result slot. The argument
// stays on the stack during the evaluation.
void eval_into_result(const Cell* arg) {
  Cell b = *arg;
  interp::eval_block(&b, true);
  if (runtime::pending()) return;  // an exit passes on outward
  stack::g_top = base() + 1;
}

// ---- loops

enum class Step { kNormal, kContinue, kBreak, kExit };

// One round of a loop body, evaluated into the loop frame's result slot
// (the frame is emptied first). Break and continue land here; every other
// exit goes on outward: kExit, on which the loop native returns at once.
Step loop_round(const Cell* body) {
  stack::clear_frame();
  try {
    interp::eval_block_here(body);
    if (ZOT_UNLIKELY(runtime::pending())) {
      switch (runtime::g_pending) {
        case kThrowBreak:
          runtime::take_pending();
          runtime::g_thrown_code = 0;
          return Step::kBreak;
        case kThrowContinue:
          runtime::take_pending();
          runtime::g_thrown_code = 0;
          return Step::kContinue;
        default:
          return Step::kExit;
      }
    }
    return Step::kNormal;
  } catch (const RuntimeThrow& t) {
    if (t.code == kThrowBreak) {
      runtime::g_thrown_code = 0;
      return Step::kBreak;
    }
    if (t.code == kThrowContinue) {
      runtime::g_thrown_code = 0;
      return Step::kContinue;
    }
    throw;
  }
}

// One round of a loop body by its plan when the plan serves, else in full
// (from the expression the plan stopped at). A round in full drops other,
// the plan of the loop's other block, which it cannot vouch for either.
ZOT_INLINE Step planned_round(const Cell* body, interp::LoopPlan& plan, interp::LoopPlan* other = nullptr) {
  Cell from;
  if (ZOT_LIKELY(plan.round(*body, &from))) return Step::kNormal;
  if (other) other->drop();
  return loop_round(&from);
}

// Ends a loop: its frame's result becomes the native's result.
void end_loop() {
  stack::pop_frame_to_result();
  stack::g_top = base() + 1;
}

// A loop count: integer, or a float truncated toward zero.
i64 loop_count(const Cell* c) {
  Cell n = *c;
  float_to_integer_cell(&n);
  return n.int_value();
}

// ---- conditionals

// The branch runs in the conditional's own frame.
void n_if(const i32*) {
  if (logic::result_false_q()) none_result();
  else interp::eval_block_here(base() + 1);
}

void n_unless(const i32*) {
  if (logic::result_false_q()) interp::eval_block_here(base() + 1);
  else none_result();
}

void n_either(const i32*) {
  interp::eval_block_here(checked_true(base()) ? base() + 1 : base() + 2);
}

// any and all: one expression at a time; each value is pushed above the
// block argument and read back.
void n_any(const i32*) {
  Cell code = *base();
  u32 pos = u32(code.series_index());
  while (pos < code_length(&code)) {
    pos = interp::eval_next(&code, pos, code_length(&code), true);
    runtime::raise_pending();
    Cell v = *stack::top_value();
    stack::g_top = base() + 1;
    if (!logic::is_false(&v)) {
      set_only_result(v);
      return;
    }
  }
  none_result();
}

void n_all(const i32*) {
  Cell code = *base();
  u32 pos = u32(code.series_index());
  Cell last;
  set_none(&last);
  while (pos < code_length(&code)) {
    pos = interp::eval_next(&code, pos, code_length(&code), true);
    runtime::raise_pending();
    last = *stack::top_value();
    stack::g_top = base() + 1;
    if (logic::is_false(&last)) {
      none_result();
      return;
    }
  }
  set_only_result(last);
}

void n_switch(const i32* refs) {
  Cell* const b = base();
  const Cell value = b[0];
  const Cell cases = b[1];
  u32 len = code_length(&cases);
  for (u32 i = u32(cases.series_index()); i < len; i++) {
    Cell c = *block::cell_at(&cases, i32(i));
    if (c.type() != value.type() || !actions::compare(&c, &value, actions::kEqual)) continue;
    for (u32 j = i + 1; j < len; j++) {
      Cell body = *block::cell_at(&cases, i32(j));
      if (body.is(T_BLOCK)) {
        eval_into_result(stack::push(&body));  // kept on the stack while it runs
        return;
      }
    }
    break;
  }
  if (refs[0] >= 0) eval_into_result(b + refs[0]);
  else none_result();
}

void n_case(const i32* refs) {
  const bool all = refs[0] >= 0;
  Cell code = *base();
  // The conditions and bodies leave their values in a scratch frame, so the
  // block argument stays in place.
  stack::push_native_frame(anon_word());
  set_none(stack::g_base);
  stack::g_top = stack::g_base + 1;
  bool hit = false;
  u32 pos = u32(code.series_index());
  while (pos < code_length(&code)) {
    if (all) hit = false;
    stack::g_top = stack::g_base + 1;
    pos = interp::eval_next(&code, pos, code_length(&code), false);
    runtime::raise_pending();
    if (pos >= code_length(&code)) raise_error(Err::ScriptNeedValue, words::word(w::case_));
    if (checked_true(stack::g_base)) {
      hit = true;
      Cell next = *block::cell_at(&code, i32(pos));
      if (next.is(T_BLOCK)) {
        stack::g_top = stack::g_base + 1;
        interp::eval_block(&next, true);
        runtime::raise_pending();
        pos++;
      } else {
        pos = interp::eval_next(&code, pos, code_length(&code), false);
        runtime::raise_pending();
      }
      stack::g_top = stack::g_base + 1;
      if (!all) break;
    } else {
      pos++;  // skip the body unevaluated
    }
  }
  if (!hit) set_none(stack::g_base);
  stack::pop_frame_to_result();
  stack::g_top = base() + 1;
}

// ---- loops

// While's condition evaluated in full into the loop frame's result slot.
// False: an exit other than break or continue passes on outward.
bool while_condition(const Cell* cond) {
  stack::clear_frame();
  try {
    interp::eval_block_here(cond);
    if (ZOT_UNLIKELY(runtime::pending())) {
      if (runtime::g_pending != kThrowBreak && runtime::g_pending != kThrowContinue) return false;
      runtime::take_pending();
      runtime::g_thrown_code = 0;
      raise_error(Err::ThrowWhileCond);
    }
  } catch (const RuntimeThrow& t) {
    if (t.code != kThrowBreak && t.code != kThrowContinue) throw;
    runtime::g_thrown_code = 0;
    raise_error(Err::ThrowWhileCond);
  }
  return true;
}

void n_while(const i32*) {
  const Cell cond = base()[0], body = base()[1];
  stack::push_loop_frame(body_word());
  interp::LoopPlan cond_plan, body_plan;
  for (;;) {
    Cell from;
    if (!cond_plan.round(cond, &from)) {
      body_plan.drop();
      if (!while_condition(&from)) return;
    }
    if (!checked_true(stack::g_base)) break;
    if (Step st = planned_round(&body, body_plan, &cond_plan); st == Step::kExit) return;
    else if (st == Step::kBreak) break;
  }
  stack::drop_frame();
  unset_result();
}

void n_until(const i32*) {
  const Cell body = base()[0];
  stack::push_loop_frame(body_word());
  interp::LoopPlan plan;
  for (;;) {
    Step s = planned_round(&body, plan);
    if (s == Step::kExit) return;
    if (s == Step::kBreak) break;
    if (s == Step::kNormal && checked_true(stack::g_base)) break;
  }
  end_loop();
}

void n_loop(const i32*) {
  const i64 n = loop_count(base());
  const Cell body = base()[1];
  if (n < 1) {
    none_result();
    return;
  }
  stack::push_loop_frame(body_word());
  interp::LoopPlan plan;
  for (i64 i = 0; i < n; i++) {
    if (Step st = planned_round(&body, plan); st == Step::kExit) return;
    else if (st == Step::kBreak) break;
  }
  end_loop();
}

void n_repeat(const i32*) {
  Cell* const b = base();
  const i64 n = loop_count(b + 1);
  const Cell body = b[2];
  if (n < 1) {
    none_result();
    return;
  }
  // The word is set to each count in place, or through context::set from the
  // count's cell.
  stack::push_loop_frame(body_word());
  interp::LoopPlan plan;
  for (i64 i = 1; i <= n; i++) {
    if (!plan.set_counter(b[0], i32(i))) {
      set_integer(b + 1, i32(i));
      context::set(b, b + 1);  // change handlers may run any code
      plan.drop();
    }
    if (Step st = planned_round(&body, plan); st == Step::kExit) return;
    else if (st == Step::kBreak) break;
  }
  end_loop();
}

void n_forever(const i32*) {
  const Cell body = base()[0];
  stack::push_loop_frame(body_word());
  interp::LoopPlan plan;
  for (;;) {
    Step s = planned_round(&body, plan);
    if (s == Step::kExit) return;
    if (s == Step::kBreak) break;
  }
  end_loop();
}

bool foreach_series_type(u32 t) { return is_any_series(t) || t == T_MAP; }

// foreach and remove-each: the word count, the series and the word(s) go
// below the loop frame, where the loop steps find them. Returns the count
// (0 for a single word).
i32 push_foreach_cells(const char* series_param) {
  Cell* const b = base();
  if (!foreach_series_type(b[1].type())) expect_arg(b + 1, series_param);
  i32 n = 0;
  if (b[0].is(T_BLOCK)) {
    n = block::length_at(b);
    if (n < 1) raise_error(Err::ScriptInvalidArg, b);
  } else if (b[1].is(T_MAP)) {
    raise_error(Err::ScriptInvalidArg, b + 1);
  }
  stack::g_top = b + 3;
  Cell count;
  set_integer(&count, n);
  stack::push(&count);
  stack::push(b + 1);
  stack::push(b + 0);
  stack::push_loop_frame(body_word());
  set_unset(stack::g_base);
  return n;
}

void n_foreach(const i32*) {
  const Cell body = base()[2];
  const i32 n = push_foreach_cells("series");
  while (n ? foreach_next_multi(n) : foreach_next()) {
    if (Step st = loop_round(&body); st == Step::kExit) return;
    else if (st == Step::kBreak) break;
  }
  end_loop();
}

void n_remove_each(const i32*) {
  // Values that can be walked but not removed from: the data is refused
  // up front, before the body runs.
  const u32 t = base()[1].type();
  if (t == T_MAP || (foreach_series_type(t) && !actions::raw(t, actions::kRemove))) expect_arg(base() + 1, "data");
  const Cell body = base()[2];
  const i32 n = push_foreach_cells("data");
  const i32 step = n ? n : 1;
  while (n ? foreach_next_multi(n) : foreach_next()) {
    Step s = loop_round(&body);
    if (s == Step::kExit) return;
    if (s == Step::kBreak) break;
    if (s == Step::kNormal) remove_each_drop(step);
  }
  stack::drop_frame();
  stack::g_top = base() + 1;
  *base() = base()[1];  // the series at its own index
}

void n_forall(const i32*) {
  Cell* const b = base();
  const Cell body = b[1];
  Cell start = *context::get(b);
  if (start.is(T_UNSET)) raise_error(Err::ScriptNoValue, b);
  if (!is_any_series(start.type())) expect_arg(&start, "word");
  stack::g_top = b + 2;
  stack::push(&start);  // the series as it was, for the restore
  stack::push(b);       // the loop word
  stack::push_loop_frame(body_word());
  set_unset(stack::g_base);
  if (!series_has_next(&start)) {
    end_loop();
    return;
  }
  for (;;) {
    if (Step st = loop_round(&body); st == Step::kExit) return;
    else if (st == Step::kBreak) break;  // the word keeps its position
    Cell now = *context::get(stack::g_base - 1);
    if (now.type() != start.type() || now.series_node() != start.series_node()) raise_error(Err::ScriptBadLoopSeries, &now);
    if (forall_next(true)) {
      forall_restore();
      break;
    }
  }
  end_loop();
}

// ---- function makers

// Makes the function from the spec and body cells (both on the stack) and
// makes it the result.
void make_function(const Cell* spec, const Cell* body) {
  u32 flags = function::validate(spec);
  Cell* top = stack::g_top;
  function::push(spec, body, 0, 0, flags);
  Cell fn = *top;
  set_only_result(fn);
}

void n_func(const i32*) { make_function(base(), base() + 1); }

void n_function(const i32*) {
  Cell spec = function::collect_locals(base(), base() + 1);
  base()[0] = spec;
  make_function(base(), base() + 1);
}

void n_does(const i32*) {
  stack::g_top = base() + 1;
  Cell* spec = stack::reserve_slot();
  set_unset(spec);
  block::make_at(spec, 1);
  make_function(spec, base());
}

void n_has(const i32*) {
  stack::g_top = base() + 2;
  Cell* spec = block::clone(base(), false, false);
  block::insert_value(spec, &words::g_refinements[words::ref_local], false, true);
  make_function(spec, base() + 1);
}

// ---- do, get, set

// Evaluates one value as an expression (a word is looked up, a function
// called) into the result slot.
void eval_single_value(const Cell* v) {
  Cell* one = stack::reserve_slot();
  set_unset(one);
  block::make_at(one, 1);
  block::append_cell(one, v);
  Cell code = *one;
  interp::eval_next(&code, 0, 1, false);
  runtime::raise_pending();
  stack::g_top = base() + 1;
}

void do_value(const i32* refs);

// refs: /expand, /args, /next, /trace. /expand runs the block through the
// library's preprocessor first; a file! or url! is a script, run by the
// library's do-file. /trace installs the tracer for the evaluation, unless
// one is installed already; it ends however the evaluation ends.
void n_do(const i32* refs) {
  bool traced = false;
  if (refs[3] >= 0) {
    Cell tracer = base()[refs[3]];
    traced = interp::trace_install(&tracer);
  }
  if (!traced) {
    do_value(refs);
    return;
  }
  try {
    do_value(refs);
  } catch (...) {
    interp::trace_end(true);
    throw;
  }
  interp::trace_end();
}

// The value of a global word of the library, or none when the library has
// not defined it (a runtime without its library: the unit tests).
Cell library_value(const char* name) {
  Cell word = word::load(name);
  return *context::get(&word);
}

// Calls a library function that a native hands its work to, with values for
// its parameters in order (they stay in the caller's frame, where the
// collector sees them); tracing is left as it is.
Cell call_library(const Cell* fn, const Cell* frame_word, const Cell* args, u32 count) {
  interp::CallbackOptions o;
  o.frame_word = frame_word;
  o.plain = true;
  return interp::call_callback(fn, args, count, o);
}

// do of a file! or url!: the library's do-file runs the script, with the
// tracer (or none) and the /args value (or none).
void do_script(const i32* refs) {
  Cell fn = library_value("do-file");
  if (!fn.is(T_FUNCTION)) raise_error(Err::InternalNotDone);
  Cell* args = stack::reserve_slot();
  args[0] = *base();
  stack::reserve_slot();
  stack::reserve_slot();
  if (refs[3] >= 0) args[1] = base()[refs[3]];
  else set_none(args + 1);
  if (refs[1] >= 0) args[2] = base()[refs[1]];
  else set_none(args + 2);
  stack::push(&fn);
  Cell word = word::load("do-file");
  set_only_result(call_library(&fn, &word, args, 3));
}

// do/expand: the block goes through preprocessor/expand (no job, not clean)
// and is changed in place.
void expand_directives(const Cell* code) {
  Cell pre = library_value("preprocessor");
  if (!pre.is(T_OBJECT)) raise_error(Err::InternalNotDone);
  Cell name = word::load("expand");
  Cell fn = *object::select_word(&pre, &name);
  if (!fn.is(T_FUNCTION)) raise_error(Err::InternalNotDone);
  Cell* args = stack::reserve_slot();
  args[0] = *code;
  stack::reserve_slot();
  set_none(args + 1);
  stack::push(&fn);
  call_library(&fn, &name, args, 2);
}

void do_value(const i32* refs) {
  Cell v = *base();
  if (v.is(T_STRING)) {
    std::string text = string::to_utf8(&v);
    Cell* scanned = stack::reserve_slot();
    set_unset(scanned);
    lexer::scan(scanned, reinterpret_cast<const u8*>(text.data()), u32(text.size()), lexer::Options{});
    v = *scanned;
  }
  if (refs[0] >= 0 && (v.is(T_BLOCK) || v.is(T_PAREN))) {
    stack::push(&v);
    expand_directives(&v);
  }
  switch (v.type()) {
    case T_BLOCK:
    case T_PAREN:
    case T_HASH: {
      u32 len = code_length(&v);
      if (u32(v.series_index()) > len) v.set_series_index(i32(len));
      if (refs[2] >= 0) {
        // One expression; the /next word gets the block after it.
        Cell* word = base() + refs[2];
        Cell rest = v;
        if (u32(v.series_index()) >= len) {
          set_unset(base());
        } else {
          rest.set_series_index(i32(interp::eval_next(&v, u32(v.series_index()), len, false)));
          runtime::raise_pending();
        }
        Cell value = *base();
        context::set(word, &rest);
        set_only_result(value);
        return;
      }
      eval_into_result(stack::push(&v));
      return;
    }
    case T_FILE:
    case T_URL:
      do_script(refs);
      return;
    case T_PATH:
    case T_LIT_PATH:
    case T_SET_PATH:
    case T_GET_PATH: {
      u32 len = code_length(&v);
      interp::eval_path(&v, &v, len, len, v.is(T_GET_PATH), nullptr);
      runtime::raise_pending();
      Cell r = *stack::top_value();
      set_only_result(r);
      return;
    }
    case T_ERROR:
      stack::throw_error(&v);
    default:
      eval_single_value(&v);
      return;
  }
}

void n_get(const i32* refs) {
  Cell v = *base();
  u32 t = v.type();
  if (is_any_path(t)) {
    u32 len = code_length(&v);
    interp::eval_path(&v, &v, len, len, true, nullptr, refs[1] >= 0);
    runtime::raise_pending();
    Cell r = *stack::top_value();
    set_only_result(r);
  } else if (t == T_OBJECT) {
    actions::lookup<actions::kReflect>(t)(base(), words::sym(w::values));
    stack::g_top = base() + 1;
  } else if (is_any_word(t)) {
    Cell r = *context::get(&v);
    if (refs[0] < 0 && r.is(T_UNSET)) raise_error(Err::ScriptNoValue, &v);
    set_only_result(r);
  } else {
    expect_arg(&v, "word");
  }
}

void n_set(const i32* refs) {
  const bool any = refs[0] >= 0, only = refs[2] >= 0, some = refs[3] >= 0;
  Cell* const b = base();
  const Cell target = b[0];
  const Cell value = b[1];
  if (!any && value.is(T_UNSET)) raise_error(Err::ScriptNeedValue, b);
  u32 t = target.type();
  if (t == T_BLOCK) {
    stack::push_native_frame(anon_word());
    set_words(b, b + 1, block::length_at(b), any, only, some);
    stack::drop_frame();
  } else if (is_any_path(t)) {
    u32 len = code_length(&target);
    interp::eval_path(&target, &target, len, len, false, &value, refs[1] >= 0);
    runtime::raise_pending();
  } else if (t == T_OBJECT) {
    object::set_many(&target, &value, any, only, some);
  } else if (is_any_word(t)) {
    context::set(b, &value);
  } else {
    expect_arg(b, "word");
  }
  set_only_result(value);
}

// ---- reduce and compose

// Where reduce and compose put their values: a new block, or an /into
// target (appended at its tail, else inserted at its index).
struct Output {
  Cell* out;        // stack cell holding the output series
  bool append;      // append at the tail (new blocks and targets at their tail)
  bool target;      // an /into target
  bool strip_lines; // values lose their new-line flags (reduce)
  i32 start;        // its index before the first value
  i32 added = 0;

  void add(const Cell* v) {
    Cell value = *v;
    if (strip_lines) clear_new_line(&value);
    if (append) {
      block::append_cell(out, &value);
      i32 t = series::total_length(out);
      if (out->is(T_HASH)) series::hash_inserted(out, t - 1, 1);
    } else {
      actions::lookup<actions::kInsert>(out->type())(out, &value, {.only = true});
    }
    added++;
  }
  // The owner of an appended-to target hears of the values as one insert.
  void finish() {
    if (target && append && added) series::ownership_check(out, series::Change::kInsert, out, start, added);
  }
};

// The output cell goes on the stack: a copy of the /into target (when not
// null), or a new block with room for capacity values.
Output open_output(const Cell* into, i32 capacity, bool strip_lines) {
  Output o;
  o.strip_lines = strip_lines;
  o.out = stack::reserve_slot();
  set_unset(o.out);
  if (into) {
    *o.out = *into;
    o.target = true;
    o.start = series::index_of(o.out);
    o.append = o.start >= series::total_length(o.out);
  } else {
    block::make_at(o.out, capacity < 1 ? 1 : capacity);
    o.target = false;
    o.start = 0;
    o.append = true;
  }
  return o;
}

void n_reduce(const i32* refs) {
  Cell v = *base();
  if (!v.is(T_BLOCK)) {
    if (!is_any_function(v.type())) eval_single_value(&v);
    if (refs[0] >= 0) {
      Cell r = *base();
      stack::g_top = base() + refs[0] + 1;
      Output o = open_output(base() + refs[0], 1, true);
      o.add(&r);
      o.finish();
      set_only_result(*o.out);
    }
    return;
  }
  Cell code = v;
  const Cell* into = refs[0] >= 0 ? base() + refs[0] : nullptr;
  stack::push_native_frame(body_word());
  // The output sits in the scratch frame's first cell; the values come above it.
  Output o = open_output(into, block::length_at(&code), true);
  u32 pos = u32(code.series_index());
  while (pos < code_length(&code)) {
    pos = interp::eval_next(&code, pos, code_length(&code), true);
    runtime::raise_pending();
    Cell r = *stack::top_value();
    stack::g_top = stack::g_base + 1;
    o.add(&r);
  }
  o.finish();
  stack::pop_frame_to_result();
  stack::g_top = base() + 1;
}

// Composes the block into o (deep: nested blocks are composed too).
void compose_into(const Cell* block_in, Output& o, bool deep, bool only) {
  const Cell blk = *block_in;
  for (u32 i = u32(blk.series_index()); i < code_length(&blk); i++) {
    Cell c = *block::cell_at(&blk, i32(i));
    if (c.is(T_BLOCK) && deep) {
      Cell* mark = stack::g_top;
      Output inner;
      inner.out = stack::reserve_slot();
      set_unset(inner.out);
      block::make_at(inner.out, block::length_at(&c));
      inner.append = true;
      inner.target = false;
      inner.strip_lines = false;
      inner.start = 0;
      compose_into(&c, inner, true, only);
      Cell made = *inner.out;
      made.header |= c.header & kCellNewLine;
      o.add(&made);
      stack::g_top = mark;
    } else if (c.is(T_PAREN)) {
      if (block::length_at(&c) == 0) continue;
      Cell* mark = stack::g_top;
      interp::eval_block(&c, false);
      runtime::raise_pending();
      Cell r = *stack::top_value();
      *mark = r;  // kept on the stack while its values are added
      stack::g_top = mark + 1;
      if (r.is(T_BLOCK) && !only) {
        for (i32 k = series::index_of(&r); k < series::total_length(&r); k++) {
          Cell e = *block::cell_at(&r, k);
          o.add(&e);
        }
      } else if (!r.is(T_UNSET)) {
        o.add(&r);
      }
      stack::g_top = mark;
    } else {
      o.add(&c);
    }
  }
}

void n_compose(const i32* refs) {
  Cell v = *base();
  if (!v.is(T_BLOCK)) {
    Cell dt, want;
    set_datatype(&dt, v.type());
    set_datatype(&want, T_BLOCK);
    raise_error(Err::ScriptExpectVal, &dt, &want);
  }
  Output o = open_output(refs[2] >= 0 ? base() + refs[2] : nullptr, block::length_at(&v), false);
  compose_into(base(), o, refs[0] >= 0, refs[1] >= 0);
  o.finish();
  set_only_result(*o.out);
}

// ---- apply

// The word naming the index-th parameter (spec words and refinements counted from 0).
void n_apply(const i32* refs) {
  Cell* const b = base();
  stack::mark_top_interpreted();
  Cell fn = b[0];
  Cell name = *words::word(w::tag_applied);
  const Cell args = b[1];
  u32 t = fn.type();
  if (t == T_WORD) {
    name = fn;
    fn = *context::get(&fn);
  } else if (is_any_path(t)) {
    u32 len = code_length(&fn);
    Cell p = fn;
    interp::eval_path(&p, &p, len, len, true, nullptr);
    runtime::raise_pending();
    fn = *stack::top_value();
  } else if (!is_any_function(t)) {
    expect_arg(b, "func");
  }
  if (!is_any_function(fn.type())) raise_error(Err::ScriptInvalidArg, b);
  if (fn.is(T_OP)) fn.header = (fn.header >> kOpTypeShift) & 0xFF;
  if (fn.is(T_ROUTINE)) raise_error(Err::InternalNotDone);
  stack::g_top = b + 2;
  interp::apply_value(&fn, &name, &args, refs[0] >= 0, refs[1] >= 0);
}

// ---- non-local exits and their catchers

void n_try(const i32* refs) {
  const bool all = refs[0] >= 0;
  const Cell code = base()[0];
  if (all) stack::push_try_all_frame(words::word(w::try_));
  else stack::push_try_frame(words::word(w::try_));
  try {
    interp::eval_block(&code, true);
    if (runtime::pending()) return;  // exits go on outward
    stack::pop_frame_to_result();
    stack::g_top = base() + 1;
  } catch (const RuntimeThrow& t) {
    // An error has removed the try frame and left the error on the stack.
    // Exits to loops, functions and catches go on outward (a try/all frame
    // stops them before they get here, as errors).
    if (t.code != kThrowError) throw;
    runtime::g_thrown_code = 0;
    stack::try_result();
    // /keep: the words of the calls the error came through, while their
    // frame records are still as the error left them.
    if (refs[1] >= 0) error::fill_stack_trace(base());
  }
}

// Whether a catch with /name takes the throw's name.
bool name_matches(const Cell* names, const Cell* thrown) {
  if (!thrown->is(T_WORD)) return false;
  u32 want = symbol::resolve(thrown->word_symbol());
  if (names->is(T_BLOCK)) {
    bool hit = false;
    for (u32 i = u32(names->series_index()); i < code_length(names); i++) {
      Cell n = *block::cell_at(names, i32(i));
      if (!n.is(T_WORD)) {
        Cell name = word::load("name");
        raise_error(Err::ScriptInvalidRefineArg, &name, names);
      }
      if (symbol::resolve(n.word_symbol()) == want) hit = true;
    }
    return hit;
  }
  return is_any_word(names->type()) && symbol::resolve(names->word_symbol()) == want;
}

void n_catch(const i32* refs) {
  Cell* const nb = base();
  const Cell code = nb[0];
  stack::push_catch_frame(body_word());
  try {
    interp::eval_block(&code, true);
    if (runtime::pending()) {
      if (runtime::g_pending != kThrowThrow) return;
      // A throw lands like the thrown one below, without the C++ throw.
      runtime::take_pending();
      runtime::throw_code(kThrowThrow);
    }
    stack::pop_frame_to_result();
    stack::g_top = base() + 1;
  } catch (const RuntimeThrow& t) {
    if (t.code != kThrowThrow) throw;
    // The catch frame is on top; the thrown value and its name were pushed
    // at its base.
    if (refs[0] >= 0 && !name_matches(nb + refs[0], stack::g_base + 1)) {
      // Not for this catch: thrown on from here, skipping this frame. When
      // nothing takes it, the error names where the throw was, not this
      // catch; the enclosing blocks put their own position back on the way out.
      Cell here = interp::g_near;
      if (!interp::g_throw_near.is(T_UNSET)) interp::g_near = interp::g_throw_near;
      stack::unwind_throw(kThrowThrow);
      interp::g_near = here;
      return;
    }
    runtime::g_thrown_code = 0;
    stack::g_saved_call_pos = 0;  // it named a frame that is gone
    Cell value = stack::g_base[0];
    stack::drop_frame();
    set_only_result(value);
    if (ZOT_UNLIKELY(interp::g_tracing)) interp::fire(interp::kEvCatch, nullptr, -1, nullptr, base());
  }
}

void n_throw(const i32* refs) {
  if (refs[0] < 0) {
    stack::g_top = base() + 1;
    Cell u;
    set_unset(&u);
    stack::push(&u);
  }
  if (ZOT_UNLIKELY(interp::g_tracing)) interp::fire(interp::kEvThrow, nullptr, -1, nullptr, base());
  interp::g_throw_near = interp::g_near;
  stack::unwind_throw(kThrowThrow);
}

void n_break(const i32* refs) { stack::unwind_break(refs[0] >= 0, false); }
void n_continue(const i32*) { stack::unwind_break(false, true); }
void n_exit(const i32*) { stack::unwind_return(false, false); }
void n_return(const i32*) { stack::unwind_return(true, false); }

}  // namespace

void register_control() {
  define_native(1, "if [condition [any-type!] then-block [block!]]", n_if);
  define_native(2, "unless [condition [any-type!] block [block!]]", n_unless);
  define_native(3, "either [condition [any-type!] true-block [block!] false-block [block!]]", n_either);
  define_native(4, "any [block [block!]]", n_any);
  define_native(5, "all [block [block!]]", n_all);
  define_native(6, "while [cond-block [block!] body-block [block!]]", n_while);
  define_native(7, "until [body [block!]]", n_until);
  define_native(8, "loop [count [integer! float!] body [block!]]", n_loop);
  define_native(9, "repeat ['word [word!] value [integer! float!] body [block!]]", n_repeat);
  define_native(10, "forever [body [block!]]", n_forever);
  // Series arguments are checked by the natives: some series types register later.
  define_native(11, "foreach ['word [word! block!] series [any-type!] body [block!]]", n_foreach);
  define_native(12, "forall ['word [word!] body [block!]]", n_forall);
  define_native(13, "remove-each ['word [word! block!] data [any-type!] body [block!]]", n_remove_each);
  define_native(14, "func [spec [block!] body [block!]]", n_func);
  define_native(15, "function [spec [block!] body [block!]]", n_function);
  define_native(16, "does [body [block!]]", n_does);
  define_native(17, "has [vars [block!] body [block!]]", n_has);
  define_native(18, "switch [value [any-type!] cases [block!] /default case [block!]]", n_switch);
  define_native(19, "case [block [block!] /all]", n_case);
  define_native(20, "do [value [any-type!] /expand /args arg /next position [word!] /trace callback [function!]]",
                n_do);
  define_native(21, "get [word [any-type!] /any /case]", n_get);
  define_native(22, "set [word [any-type!] value [any-type!] /any /case /only /some]", n_set);
  define_native(35, "reduce [value [any-type!] /into out [any-block!]]", n_reduce);
  define_native(36, "compose [value [any-type!] /deep /only /into out [any-block!]]", n_compose);
  define_native(70, "try [block [block!] /all /keep]", n_try);
  define_native(77, "break [/return value [any-type!]]", n_break);
  define_native(78, "continue []", n_continue);
  define_native(79, "exit []", n_exit);
  define_native(80, "return [value [any-type!]]", n_return);
  define_native(81, "throw [value [any-type!] /name word [word!]]", n_throw);
  define_native(82, "catch [block [block!] /name word [word! block!]]", n_catch);
  define_native(107, "apply [func [any-type!] args [block!] /all /safer]", n_apply);
}

}  // namespace zot::natives

namespace zot::interp {

namespace {

// The branch blocks of a conditional (blocks of them) when they stand at p
// in the code as literal blocks with no operator after them.
ZOT_INLINE bool literal_branches(const CodeView& cv, u32 p, u32 end, u32 blocks) {
  return p + blocks <= end && p + blocks <= cv.length && cv.cells[p].is(T_BLOCK) &&
         (blocks == 1 || cv.cells[p + 1].is(T_BLOCK)) && !infix_op_at(cv, p + blocks, end);
}

// The branch that runs for a condition that is false (falsy) or not:
// either's first or second block, if's (unless's) block when the condition
// is not (is) false. False when none runs.
ZOT_INLINE bool chosen_branch(const Cell& fn, bool falsy, const CodeView& cv, u32 p, u32 blocks, Cell* branch) {
  *branch = cv.cells[p];
  if (blocks == 1) return falsy == (fn.native_index() == natives::kUnless);
  if (falsy) *branch = cv.cells[p + 1];
  return true;
}

// The conditional whose condition is no pure value (pure: it is, in cond,
// and p is past it) or whose blocks do not stand as literal blocks: the
// condition is evaluated as an argument, the blocks read in place when
// they are literal ones, else taken by the native's own road.
ZOT_NOINLINE u32 conditional_in_full(const Cell& fn, const Cell* code, u32 pos, u32 end, const Cell* name,
                                     bool pure, const Cell& cond, u32 p) {
  using namespace callpath;
  Cell* const t0 = stack::g_top;
  const u32 blocks = fn.native_index() == natives::kEither ? 2 : 1;
  stack::push(&fn);
  stack::push_frame(name, stack::kHdrInterpStep);
  CodeSource src{code, pos, end, false};
  // The condition takes any value (its type needs no check).
  if (pure) {
    stack::push(&cond);
    src.pos = p;
  } else if (ZOT_UNLIKELY(pos >= end || pos >= view_of(code->series_node()).length)) {
    Call c;
    start(c, fn, name);
    raise_no_arg(c, 0);
  } else {
    src.pos = push_expression(code, pos, end, kExprNotPure);
    if (ZOT_UNLIKELY(runtime::pending())) return src.pos;
  }
  const CodeView cv = view_of(code->series_node());
  p = src.pos;
  if (literal_branches(cv, p, end, blocks)) {
    // either's condition must have a value; if's and unless's may be unset.
    const bool falsy = blocks == 2 ? !natives::checked_true(stack::g_base) : logic::is_false(stack::g_base);
    Cell branch;
    const bool run = chosen_branch(fn, falsy, cv, p, blocks, &branch);
    src.pos = p + blocks;
    if (run) {
      eval_block_here(&branch);
    } else {
      set_none(stack::g_base);
      stack::g_top = stack::g_base + 1;
    }
  } else {
    Call c;
    start(c, fn, name);
    for (u32 i = 1; i <= blocks; i++) {
      if (src.take(c, c.sh->types[i], i, true)) {
        if (ZOT_UNLIKELY(runtime::pending())) return src.pos;
        c.sh = &shape_of(c.fn);
      }
    }
    invoke(c, 0);
  }
  // An exit from inside the branch has already unwound the stacks past us.
  if (ZOT_UNLIKELY(runtime::pending())) return src.pos;
  return finish_call(code, src.pos, name, t0);
}

}  // namespace

// The condition is taken as any argument is; the blocks, when they stand in
// the code as literal blocks with no operator after them, are read in place
// and the branch runs in the call's frame (the frame errors name). Anything
// else takes the native's own road. A pure condition choosing a pure branch
// (or none) needs no frame: nothing can fail, run or be traced meanwhile.
u32 call_conditional(const Cell& fn, const Cell* code, u32 pos, u32 end, const Cell* name) {
  const u32 blocks = fn.native_index() == natives::kEither ? 2 : 1;
  Cell cond;
  u32 p = pos;
  const CodeView cv = view_of(code->series_node());
  if (!(pos < end && pos < cv.length && simple_expression(cv, p, end, false, &cond) && !cond.is(T_UNSET)))
    return conditional_in_full(fn, code, pos, end, name, false, cond, p);
  if (!literal_branches(cv, p, end, blocks)) return conditional_in_full(fn, code, pos, end, name, true, cond, p);
  Cell branch;
  const bool run = chosen_branch(fn, logic::is_false(&cond), cv, p, blocks, &branch);
  p += blocks;
  Cell v;
  if (!run) {
    set_none(&v);
    stack::push(&v);
    return p;
  }
  ZOT_FUZZ_STEP();
  if (ZOT_UNLIKELY(platform::interrupt_requested()) && !(mem::series_of(branch.series_node())->flags & mem::kLibrary))
    halt_on_interrupt();
  u32 from, first;
  if (pure_block_here(branch, &v, from, first)) {
    stack::push(&v);
    return p;
  }
  return branch_in_frame(fn, code, p, name, cond, branch, from, first);
}

}  // namespace zot::interp
