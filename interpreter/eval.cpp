#include "interpreter/eval.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/scalar.h"
#include "datatypes/system.h"
#include "datatypes/typeset.h"
#include "datatypes/words.h"
#include "interpreter/natives.h"
#include "interpreter/routines.h"
#include "runtime/collector.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/rooted.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace zot::interp {

Cell g_near = {T_UNSET, 0, 0, 0};
bool g_tracing = false;

#ifdef ZOT_FUZZING
i64 g_step_budget = INT64_MAX;
void spend_step() {
  if (--g_step_budget >= 0) return;
  g_step_budget = -1;  // every later step fails too: no loop outlives it
  Cell what;
  set_integer(&what, 0);
  raise_error(Err::InternalLimitHit, &what);
}
#endif

namespace {

bool g_tracer_installed = false;
Cell g_tracer = {T_NONE, 0, 0, 0};
u32 g_mask = kDefaultTraceMask;
i32 g_tracer_locals = 0;

struct EventWord {
  TraceEvent ev;
  w::Id word;
};
const EventWord kEventWords[] = {
    {kEvInit, w::init},     {kEvEnd, w::end},       {kEvProlog, w::prolog}, {kEvEpilog, w::epilog},
    {kEvEnter, w::enter},   {kEvExit, w::exit},     {kEvOpen, w::open},     {kEvReturn, w::return_},
    {kEvFetch, w::fetch},   {kEvPush, w::push},     {kEvSet, w::set},       {kEvCall, w::call},
    {kEvError, w::error},   {kEvThrow, w::throw_},  {kEvCatch, w::catch_},  {kEvExpr, w::expr},
};

const Cell* event_word(TraceEvent ev) {
  for (const auto& e : kEventWords)
    if (e.ev == ev) return words::word(e.word);
  return words::word(w::tag_anon);
}

constexpr u32 kMaxRefinements = 32;

// The cell at pos of the code block, or null past its current end.
ZOT_INLINE const Cell* code_at(const Cell* code, u32 pos) {
  mem::Series* s = mem::series_of(code->w2);
  return pos < s->length() ? s->cells() + pos : nullptr;
}

ZOT_INLINE u32 clamp_end(const Cell* code, u32 end) {
  u32 len = mem::series_of(code->w2)->length();
  return end < len ? end : len;
}

// Restores the current position on every way out of a block evaluation.
struct NearGuard {
  Rooted saved = g_near;
  ~NearGuard() { g_near = saved; }
};

// A function's context points at the running call's arguments; the previous
// pointer comes back on every way out (recursion, unwinding).
struct ValuesGuard {
  mem::Node ctx;  // the context's buffer moves: it is found again through its node
  u32 saved;
  ValuesGuard(mem::Node c, u32 values) : ctx(c), saved(context::ctx_cell(c)->w2) {
    context::ctx_cell(ctx)->w2 = values;
  }
  ~ValuesGuard() { context::ctx_cell(ctx)->w2 = saved; }
};

ZOT_INLINE const Cell* body_word() { return words::word(w::tag_body); }
ZOT_INLINE const Cell* anon_word() { return words::word(w::tag_anon); }

// The word naming the index-th parameter of a callable (spec words and
// refinements counted from 0), for error reports.
Cell param_word(const Cell* fn, u32 index) {
  Cell spec = function::spec_of(fn);
  mem::Series* s = mem::series_of(spec.w2);
  u32 n = 0;
  for (u32 i = 0; i < s->length(); i++) {
    Cell c = s->cells()[i];
    u32 t = c.type();
    if (t == T_WORD || t == T_LIT_WORD || t == T_GET_WORD || t == T_REFINEMENT) {
      if (n++ == index) {
        set_type(&c, T_WORD);
        return c;
      }
    }
  }
  return *anon_word();
}

ZOT_NORETURN void raise_expect(const Cell* name, const Cell* fn, u32 param, const Cell* value) {
  Cell dt;
  make_cell(&dt, T_DATATYPE, value->type(), 0, 0);
  Cell pw = param_word(fn, param);
  raise_error(Err::ScriptExpectArg, name, &dt, &pw);
}

ZOT_INLINE bool is_callable(u32 t) {
  return t == T_NATIVE || t == T_ACTION || t == T_FUNCTION || t == T_ROUTINE;
}

// Pushes the value of a lit-word parameter's argument.
u32 fetch_literal(const Cell* code, u32 pos, u32 end) {
  Cell v = *code_at(code, pos);
  switch (v.type()) {
    case T_PAREN: {
      stack::push_interpreted_native_frame(body_word());
      eval_block(&v, true);
      if (runtime::pending()) return pos + 1;
      stack::pop_frame();
      return pos + 1;
    }
    case T_GET_WORD: {
      Cell val = *context::get(&v);
      stack::push(&val);
      return pos + 1;
    }
    case T_GET_PATH:
      return eval_path(&v, code, pos + 1, end, true, nullptr);
    default:
      stack::push(&v);
      return pos + 1;
  }
}

struct Fetch {
  const Cell* fn;      // the callable (op! already retyped to its wrapped type)
  const Cell* name;    // word or path naming it
  const Cell* code;
  u32 pos;
  u32 end;
  bool native;         // native! or action!: refinement positions, no slots
  i32 refs[kMaxRefinements];
};

// Fetches one argument for the parameter entry ts (push); checks its type.
void fetch_one(Fetch& f, const Cell& ts, u32 param_index, bool no_infix) {
  u32 kind = function::param_kind(&ts);
  if (f.pos >= clamp_end(f.code, f.end)) {
    if (kind == function::kLitParam && typeset::has(&ts, T_UNSET)) {
      Cell u;
      set_unset(&u);
      stack::push(&u);
      return;
    }
    Cell pw = param_word(f.fn, param_index);
    raise_error(Err::ScriptNoArg, f.name, &pw);
  }
  if (kind == function::kGetParam) {
    stack::push(code_at(f.code, f.pos));
    f.pos++;
  } else if (kind == function::kLitParam) {
    f.pos = fetch_literal(f.code, f.pos, f.end);
  } else {
    f.pos = eval_expression(f.code, f.pos, f.end, no_infix, true, false);
  }
  if (ZOT_UNLIKELY(runtime::pending())) return;
  const Cell* v = stack::top_value();
  if (ZOT_UNLIKELY(!typeset::has(&ts, v->type()))) raise_expect(f.name, f.fn, param_index, v);
}

// Walks the parsed spec: plain parameters are fetched; refinements start off.
// Returns the number of local slots to push (functions).
i32 fetch_plain(Fetch& f, const Cell& parsed, bool left, bool is_op) {
  mem::Series* s = mem::series_of(parsed.w2);
  u32 n = s->length();
  bool active = true;
  u32 param = 0;
  i32 locals = 0;
  for (u32 i = 0; i < n; i++) {
    Cell e = mem::series_of(parsed.w2)->cells()[i];
    u32 t = e.type();
    if (t == T_TYPESET) {
      if (function::param_kind(&e) == function::kReturnType) continue;
      u32 this_param = param++;
      if (!active) {
        if (!f.native) {
          Cell none;
          set_none(&none);
          stack::push(&none);
        }
        continue;
      }
      if (left && this_param == 0) {
        const Cell* v = stack::g_base;
        if (!typeset::has(&e, v->type())) raise_expect(f.name, f.fn, 0, v);
        continue;
      }
      fetch_one(f, e, this_param, is_op);
      if (ZOT_UNLIKELY(runtime::pending())) return 0;
    } else if (t == T_REFINEMENT) {
      param++;
      active = false;
      if (!f.native) {
        Cell no;
        set_logic(&no, false);
        stack::push(&no);
      }
    } else if (t == T_INTEGER) {
      if (!f.native) locals = e.int_value();
    }
  }
  return locals;
}

// Refinements given in a path after the function: each switches one on
// (unless a get-word element's value is none or false) and fetches its arguments.
void fetch_path_refinements(Fetch& f, const Cell& parsed, const Cell* path, u32 from) {
  Cell p = *path;
  u32 used[kMaxRefinements];
  u32 used_count = 0;
  // The path is read again at each step: fetching arguments runs Zot code.
  for (u32 k = p.w1 + from; k < mem::series_of(p.w2)->length(); k++) {
    Cell el = mem::series_of(p.w2)->cells()[k];
    bool on = true;
    if (el.is(T_GET_WORD)) {
      Cell v = *context::get(&el);
      on = !(v.is(T_NONE) || (v.is(T_LOGIC) && !v.w1));
    } else if (!el.is(T_WORD)) {
      raise_error(Err::ScriptBadRefine, &el);
    }
    // Find the refinement in the parsed spec: its slot and ordinal.
    mem::Series* s = mem::series_of(parsed.w2);
    u32 n = s->length();
    u32 slot = 0, ordinal = 0, at = n;
    for (u32 i = 0; i < n; i++) {
      Cell e = mem::series_of(parsed.w2)->cells()[i];
      if (e.is(T_TYPESET)) {
        if (function::param_kind(&e) != function::kReturnType) slot++;
      } else if (e.is(T_REFINEMENT)) {
        ordinal++;
        if (symbol::resolve(e.w2) == symbol::resolve(el.w2)) {
          at = i;
          break;
        }
        slot++;
      }
    }
    if (at == n) {
      Cell r = el;
      set_type(&r, T_REFINEMENT);
      raise_error(Err::ScriptNoRefine, f.name, &r);
    }
    for (u32 u = 0; u < used_count; u++)
      if (used[u] == ordinal) raise_error(Err::ScriptDupRefine, path);
    if (used_count < kMaxRefinements) used[used_count++] = ordinal;
    if (f.native) {
      if (on && ordinal <= kMaxRefinements) f.refs[ordinal - 1] = i32(stack::g_top - stack::g_base);
    } else {
      set_logic(stack::g_base + slot, on);
    }
    // Its arguments follow it in the spec; they are fetched whether the
    // refinement is on or off (an inactive native refinement drops them).
    u32 param_index = slot + 1;
    for (u32 i = at + 1;; i++) {
      mem::Series* s2 = mem::series_of(parsed.w2);
      if (i >= s2->length()) break;
      Cell e = s2->cells()[i];
      if (!e.is(T_TYPESET) || function::param_kind(&e) == function::kReturnType) break;
      fetch_one(f, e, param_index, false);
      if (ZOT_UNLIKELY(runtime::pending())) return;
      if (!f.native) {
        stack::g_base[param_index] = *stack::top_value();
        stack::pop(1);
      } else if (!on) {
        stack::pop(1);
      }
      param_index++;
    }
  }
}

// The integer fast path of infix operators: when both operands are integers
// and the right one needs no evaluation, the operation runs inline (same
// results as the actions: a sum, difference or product that overflows is a
// float; comparisons give logic). Returns false to take the general road.
bool infix_integer(const Cell& op, const Cell* left, const Cell* code, u32 pos, u32 end, Cell* out) {
  if (!left->is(T_INTEGER) || pos >= end) return false;
  const Cell* r = code_at(code, pos);
  if (!r) return false;
  i64 b;
  if (r->is(T_INTEGER)) {
    b = r->int_value();
  } else if (r->is(T_WORD) && r->w1 && i32(r->w3) >= 0) {
    const Cell* v = context::value_at(r->w1, r->w3);
    if (!v || !v->is(T_INTEGER)) return false;
    b = v->int_value();
  } else {
    return false;
  }
  // Evaluation is strictly left to right: the right operand is complete as it stands.
  i64 a = left->int_value();
  u32 wrapped = (op.header >> kOpTypeShift) & 0xFF;
  if (wrapped == T_ACTION) {
    i64 v;
    switch (op.w1) {
      case actions::kAdd: v = a + b; break;
      case actions::kSubtract: v = a - b; break;
      case actions::kMultiply: v = a * b; break;
      default: return false;
    }
    if (v >= INT32_MIN && v <= INT32_MAX) set_integer(out, i32(v));
    else set_float(out, double(v));
    return true;
  }
  if (wrapped == T_NATIVE) {
    bool v;
    switch (op.w1) {
      case 25: v = a == b; break;
      case 26: v = a != b; break;
      case 27: v = a == b; break;
      case 28: v = a < b; break;
      case 29: v = a > b; break;
      case 30: v = a <= b; break;
      case 31: v = a >= b; break;
      default: return false;
    }
    set_logic(out, v);
    return true;
  }
  return false;
}

}  // namespace

void trace_error(const Cell* error) {
  if (g_tracing) fire(kEvError, nullptr, -1, nullptr, error);
}

// Calls a sort comparator function with two values (in a frame named
// <compare-callback>).
void call_comparator(const Cell* fn, const Cell* first, const Cell* second, Cell* answer) {
  const Cell args[2] = {*first, *second};
  *answer = call_callback(fn, words::word(w::tag_compare_callback), args, 2, sys::kSortCallback);
}
void init() {
  set_unset(&g_near);
  collector::add_root_cells(&g_near, 1);
  collector::add_root_cells(&g_tracer, 1);
}

void eval_block(const Cell* block, bool chain) {
  ZOT_FUZZ_STEP();
  NearGuard near;
  Rooted b = *block;
  const bool library = (mem::series_of(b.w2)->flags & mem::kLibrary) != 0;
  // Library code runs as compiled code does: no interpreter mark on its
  // frames, no trace events, and the Near position of errors left alone.
  stack::push_frame(body_word(), library ? (stack::kHdrEval & ~stack::kInterpreted) : stack::kHdrEval);
  const bool tr = traced(&b);
  if (ZOT_UNLIKELY(tr)) fire(kEvEnter, &b, i32(b.w1), nullptr, nullptr);
  // Read after the callback: a tracer may change the block it is told of.
  u32 end = mem::series_of(b.w2)->length();
  if (b.w1 >= end) {
    set_unset(stack::g_base);
    stack::g_top = stack::g_base + 1;
  } else {
    if (!library) g_near = b;
    u32 pos = b.w1;
    while (pos < end) {
      if (!library) g_near.w1 = pos;
      pos = eval_expression(&b, pos, end, false, false, false);
      // A pending exit has already left this frame: go straight out.
      if (ZOT_UNLIKELY(runtime::pending())) return;
      end = clamp_end(&b, end);
      if (pos < end) stack::clear_frame();
    }
  }
  if (ZOT_UNLIKELY(tr)) {
    Cell r = *stack::g_base;
    fire(kEvExit, &b, i32(end), nullptr, &r);
  }
  if (chain) stack::pop_frame_to_result();
  else stack::pop_frame();
}

u32 eval_next(const Cell* code, u32 pos, u32 end, bool keep) {
  stack::push_interpreted_native_frame(body_word());
  pos = eval_expression(code, pos, end, false, false, false);
  if (ZOT_UNLIKELY(runtime::pending())) return pos;
  if (keep) stack::pop_frame();
  else stack::pop_frame_to_result();
  return pos;
}

u32 eval_step(const Cell* block) {
  Cell b = *block;
  u32 end = mem::series_of(b.w2)->length();
  if (b.w1 >= end) {
    set_unset(stack::g_base);
    stack::g_top = stack::g_base + 1;
    return end;
  }
  return eval_next(&b, b.w1, end, false);
}

u32 eval_expression(const Cell* code, u32 pos, u32 end, bool no_infix, bool push, bool literal_fns) {
  ZOT_FUZZ_STEP();
  Cell* const t0 = stack::g_top;
  const Cell* at = code_at(code, pos);
  // Callers check the position against the block's tail after anything that
  // ran Zot code; a block emptied behind their back gives unset.
  if (ZOT_UNLIKELY(!at)) {
    Cell u;
    set_unset(&u);
    if (push) stack::push(&u);
    else stack::set_only_result(&u);
    return pos + 1;
  }
  Cell v = *at;
  const bool tr = traced(code);
  if (ZOT_UNLIKELY(tr)) fire(kEvFetch, code, i32(pos), nullptr, &v);
  pos++;
  switch (v.type()) {
    case T_PAREN:
      stack::push_interpreted_native_frame(body_word());
      eval_block(&v, true);
      if (ZOT_UNLIKELY(runtime::pending())) return pos;
      stack::pop_frame();
      break;
    case T_SET_WORD: {
      const u32 at = pos - 1;
      stack::push_interpreted_native_frame(&v);
      stack::push(&v);
      if (pos >= clamp_end(code, end)) raise_error(Err::ScriptNeedValue, &v);
      pos = eval_expression(code, pos, end, false, true, false);
      if (ZOT_UNLIKELY(runtime::pending())) return pos;
      Cell value = *stack::top_value();
      if (value.is(T_UNSET)) raise_error(Err::ScriptNeedValue, &v);
      Cell word = v;
      if (ZOT_UNLIKELY(tr)) fire(kEvSet, code, i32(at), &v, &value);
      context::set(&word, &value);
      if (word.w3 != v.w3) {
        // Keep the index the lookup found in the code itself.
        mem::Series* s = mem::series_of(code->w2);
        if (at < s->length() && s->cells()[at].w2 == v.w2) s->cells()[at].w3 = word.w3;
      }
      stack::pop_frame();
      *t0 = value;
      stack::g_top = t0 + 1;
      break;
    }
    case T_SET_PATH: {
      if (pos >= clamp_end(code, end)) raise_error(Err::ScriptNeedValue, &v);
      stack::push_interpreted_native_frame(words::word(w::set_path));
      pos = eval_expression(code, pos, end, false, true, false);
      if (ZOT_UNLIKELY(runtime::pending())) return pos;
      Cell value = *stack::top_value();
      eval_path(&v, code, pos, end, false, &value);
      if (ZOT_UNLIKELY(runtime::pending())) return pos;
      stack::pop_frame();
      *t0 = value;
      stack::g_top = t0 + 1;
      break;
    }
    case T_GET_WORD: {
      Cell value = *context::get(&v);
      stack::push(&value);
      break;
    }
    case T_LIT_WORD:
      v.header = T_WORD;
      stack::push(&v);
      break;
    case T_WORD: {
      Cell value = *context::get(&v);
      u32 t = value.type();
      if (is_callable(t)) {
        pos = call_value(&value, code, pos, end, &v, nullptr, 0, false);
        if (ZOT_UNLIKELY(runtime::pending())) return pos;
      } else if (t == T_UNSET) {
        raise_error(Err::ScriptNoValue, &v);
      } else if (t == T_OP) {
        raise_error(Err::ScriptNoOpArg, &v);
      } else {
        stack::push(&value);
      }
      break;
    }
    case T_PATH:
      pos = eval_path(&v, code, pos, end, false, nullptr);
      if (ZOT_UNLIKELY(runtime::pending())) return pos;
      break;
    case T_GET_PATH:
      pos = eval_path(&v, code, pos, end, true, nullptr);
      if (ZOT_UNLIKELY(runtime::pending())) return pos;
      break;
    case T_LIT_PATH:
      v.header = T_PATH;
      v.w3 = 0;
      stack::push(&v);
      break;
    case T_OP:
      raise_error(Err::InternalNotDone);
    case T_NATIVE:
    case T_ACTION:
    case T_FUNCTION:
    case T_ROUTINE:
      if (literal_fns) stack::push(&v);
      else pos = call_value(&v, code, pos, end, anon_word(), nullptr, 0, false);
      if (ZOT_UNLIKELY(runtime::pending())) return pos;
      break;
    case T_ISSUE: {
      u32 c = symbol::resolve(v.w2);
      const Cell* next = code_at(code, pos);
      if ((c == symbol::resolve(words::sym(w::system)) || c == symbol::resolve(words::sym(w::system_global))) &&
          next && next->is(T_BLOCK))
        raise_error(Err::InternalZotSystem);
      stack::push(&v);
      break;
    }
    default:
      stack::push(&v);
      if (ZOT_UNLIKELY(tr)) fire(kEvPush, code, i32(pos - 1), nullptr, &v);
      break;
  }
  // Infix: while the next value is a word whose value is an op!, the value
  // just computed becomes its left operand.
  if (!no_infix) {
    for (;;) {
      const Cell* next = code_at(code, pos);
      if (!next || pos >= end || !next->is(T_WORD) || !next->w1) break;
      Cell name = *next;
      if (i32(name.w3) < 0) break;
      const Cell* val = context::value_at(name.w1, name.w3);
      if (!val || !val->is(T_OP)) break;
      Cell op = *val;
      if (!tr) {
        Cell r;
        if (infix_integer(op, t0, code, pos + 1, clamp_end(code, end), &r)) {
          *t0 = r;
          stack::g_top = t0 + 1;
          pos += 2;
          continue;
        }
      }
      op.header = (op.header >> kOpTypeShift) & 0xFF;
      if (ZOT_UNLIKELY(tr)) fire(kEvFetch, code, i32(pos), nullptr, &name);
      pos++;
      stack::g_top = t0;  // the left value sits in the next frame's first cell
      pos = call_value(&op, code, pos, end, &name, nullptr, 0, true);
      if (ZOT_UNLIKELY(runtime::pending())) return pos;
    }
  }
  if (!push) {
    Cell r = *t0;
    stack::set_only_result(&r);
    if (ZOT_UNLIKELY(tr)) fire(kEvExpr, code, i32(pos), nullptr, &r);
  }
  return pos;
}

u32 call_value(const Cell* fn_in, const Cell* code, u32 pos, u32 end, const Cell* name_in, const Cell* refs,
               u32 ref_index, bool left) {
  // An operator's function is not on the stack: the call holds it.
  Rooted fn = *fn_in;
  Cell name = name_in && name_in->is(T_WORD) ? *name_in : *anon_word();
  Cell* t0 = stack::g_top;
  u32 t = fn.type();
  const bool tr = traced(code);
  if (ZOT_UNLIKELY(tr)) fire(kEvOpen, code, i32(pos), &name, &fn);
  if (!left) stack::push(&fn);
  if (t == T_FUNCTION || t == T_ROUTINE) stack::push_interpreted_function_frame(&name);
  else stack::push_interpreted_native_frame(&name);
  if (left) stack::g_top = stack::g_base + 1;

  Fetch f;
  f.fn = &fn;
  f.name = &name;
  f.code = code;
  f.pos = pos;
  f.end = end;
  f.native = t == T_NATIVE || t == T_ACTION;  // routines take slots as functions do
  for (u32 i = 0; i < kMaxRefinements; i++) f.refs[i] = -1;
  Cell parsed = function::parsed_spec(&fn);
  bool is_op = left;
  i32 locals = fetch_plain(f, parsed, left, is_op);
  if (ZOT_UNLIKELY(runtime::pending())) return f.pos;
  if (refs) fetch_path_refinements(f, parsed, refs, ref_index);
  if (ZOT_UNLIKELY(runtime::pending())) return f.pos;
  if (ZOT_UNLIKELY(tr)) fire(kEvCall, code, i32(f.pos), &name, &fn);

  switch (t) {
    case T_NATIVE:
      natives::g_table[fn.w1](f.refs);
      break;
    case T_ACTION:
      natives::g_action_entries[fn.w1](f.refs);
      break;
    case T_ROUTINE:
      function::init_locals(locals);
      routines::call(&fn);
      break;
    case T_FUNCTION: {
      function::init_locals(locals);
      Cell* obj = function::more_cell(&fn, function::kMoreObject);
      mem::Node object_ctx = obj->is(T_INTEGER) ? mem::Node(obj->int_value()) : 0;
      call_function(&fn, object_ctx);
      break;
    }
    default:
      raise_error(Err::InternalNotDone);
  }
  // An exit from inside the callee has already unwound the stacks past us.
  if (ZOT_UNLIKELY(runtime::pending())) return f.pos;
  Cell result = *stack::g_base;
  stack::pop_frame();
  *t0 = result;
  stack::g_top = t0 + 1;
  if (ZOT_UNLIKELY(tr)) fire(kEvReturn, code, i32(f.pos), &name, &result);
  return f.pos;
}

void call_as_callback(const Cell* fn, mem::Node object_ctx, u32 callback_class) {
  struct TraceFlag {
    bool saved = g_tracing;
    ~TraceFlag() { g_tracing = saved; }
  } trace_flag;
  if (g_tracing && !(sys::callback_bits() & callback_class)) g_tracing = false;
  const bool traced = g_tracing;
  Cell f = *fn;
  if (ZOT_UNLIKELY(traced)) fire(kEvCall, nullptr, -1, nullptr, &f);
  call_function(&f, object_ctx);
  if (ZOT_UNLIKELY(traced) && !runtime::pending()) {
    Cell r = *stack::g_base;
    fire(kEvReturn, nullptr, -1, nullptr, &r);
  }
}

void call_function(const Cell* fn, mem::Node object_ctx) {
  (void)object_ctx;
  Cell f = *fn;
  ValuesGuard values(f.w1, stack::ref_of(stack::g_base));
  stack::set_top_frame_flag(true);
  Cell body = *function::more_cell(&f, function::kMoreBody);
  // A function marked trace turns tracing on (when a tracer is installed),
  // one marked no-trace turns it off, for the call.
  struct TraceFlag {
    bool saved = g_tracing;
    ~TraceFlag() { g_tracing = saved; }
  } trace_flag;
  if ((f.header & function::kTraceFlag) && g_tracer_installed) g_tracing = true;
  if (f.header & function::kNoTraceFlag) g_tracing = false;
  if (ZOT_UNLIKELY(g_tracing)) fire(kEvProlog, nullptr, -1, &f, nullptr);
  try {
    if (body.is(T_BLOCK)) {
      eval_block(&body, true);
    } else {
      set_unset(stack::g_base);
    }
  } catch (const RuntimeThrow& t) {
    if (t.code != kThrowReturn && t.code != kThrowExit) throw;
    // The value is already in this frame's result slot.
    runtime::g_thrown_code = 0;
  }
  if (ZOT_UNLIKELY(runtime::pending())) {
    // return and exit land here (the value is already in the result slot);
    // the other exits go on outward.
    if (runtime::g_pending != kThrowReturn && runtime::g_pending != kThrowExit) return;
    runtime::take_pending();
    runtime::g_thrown_code = 0;
  }
  if (ZOT_UNLIKELY(g_tracing)) {
    Cell r = *stack::g_base;
    fire(kEvEpilog, nullptr, -1, &f, &r);
  }
  stack::set_top_frame_flag(false);
}

u32 eval_path(const Cell* path_in, const Cell* code, u32 pos, u32 end, bool get, const Cell* set_value,
              bool case_) {
  Cell path = *path_in;
  mem::Series* ps = mem::series_of(path.w2);
  u32 plen = ps->length();
  if (path.w1 >= plen) raise_error(Err::ScriptEmptyPath, &path);
  Cell head = ps->cells()[path.w1];
  if (!head.is(T_WORD)) raise_error(Err::ScriptWordFirst, &path);
  // A set-path's last paren runs before the walk: cur and the holder below
  // point into contexts and series, and Zot code run after they are taken
  // could move or replace what they point at. (Its value stays on the stack.)
  u32 count = plen - path.w1;
  const bool last_paren = set_value && count > 1 && ps->cells()[path.w1 + count - 1].is(T_PAREN);
  if (last_paren) {
    Cell el = ps->cells()[path.w1 + count - 1];
    Cell* slot = stack::push(&el);
    Cell* top = stack::g_top;
    stack::push_interpreted_native_frame(body_word());
    eval_block(&el, true);
    if (ZOT_UNLIKELY(runtime::pending())) return pos;
    *slot = *stack::g_base;
    stack::drop_frame();
    stack::g_top = top;
  }
  Cell* t0 = stack::g_top;
  // cur points at the cell that holds the current value, so a set-path can
  // change a scalar (a pair's x, a date's month...) where it is stored.
  Cell* cur = context::get(&head);
  Cell value = *cur;
  if (value.is(T_UNSET)) raise_error(Err::ScriptUnsetPath, &path, &head);
  if (is_callable(value.type())) {
    if (set_value) raise_error(Err::ScriptInvalidPathSet, &path);
    if (get) raise_error(Err::ScriptInvalidPathGet, &path);
    return call_value(&value, code, pos, end, &head, &path, 1, false);
  }
  Cell holder = value;    // the value holding the current one
  Cell holder_el = head;  // the element that reached the current value
  Cell* holder_ptr = nullptr;
  // A value made along the way (a paren's result, a step's new value such as
  // a joined file!) is held where the collector sees it while the next step
  // allocates.
  Rooted held_value(value), held_el;
  for (u32 i = 1; i < count; i++) {
    // Paren elements run Zot code, which may shorten the path itself.
    if (path.w1 + i >= mem::series_of(path.w2)->length()) raise_error(Err::ScriptInvalidPath, &path, &holder_el);
    Cell el = mem::series_of(path.w2)->cells()[path.w1 + i];
    if (last_paren && i + 1 == count) {
      el = t0[-1];
    } else if (el.is(T_GET_WORD)) {
      el = *context::get(&el);
    } else if (el.is(T_PAREN)) {
      stack::push_interpreted_native_frame(body_word());
      eval_block(&el, true);
      if (ZOT_UNLIKELY(runtime::pending())) return pos;
      el = *stack::g_base;
      stack::drop_frame();
      stack::g_top = t0;
    }
    if (el.is(T_UNSET)) raise_error(Err::ScriptInvalidPath, &path, &el);
    held_el = el;
    bool last = i + 1 == count;
    Cell to_set;
    Cell* setp = nullptr;
    Cell parent = value;
    Cell* parent_ptr = &parent;
    if (last && set_value) {
      to_set = *set_value;
      setp = &to_set;
      parent_ptr = cur;
      // A holder that wants to hear of the change: a series, or an object
      // with handlers reached through a word.
      if (i >= 2 && holder_ptr) {
        u32 ht = holder.type();
        bool series = ht == T_BLOCK || ht == T_PAREN || ht == T_HASH || (ht >= T_PATH && ht <= T_GET_PATH);
        bool object = ht == T_OBJECT && holder.w3 && holder_el.is(T_WORD);
        if (series || object) scalar::g_holder = {holder_ptr, object ? &holder_el : nullptr};
      }
    }
    auto slot = actions::raw(value.type(), actions::kEvalPath);
    if (!slot) {
      scalar::g_holder = {};
      Cell dt;
      make_cell(&dt, T_DATATYPE, value.type(), 0, 0);
      raise_error(Err::ScriptBadPathType2, &el, &dt);
    }
    Cell* r;
    try {
      r = reinterpret_cast<actions::EvalPathFn>(slot)(parent_ptr, &el, setp, &path, i32(i), case_, get, last);
    } catch (...) {
      scalar::g_holder = {};
      throw;
    }
    scalar::g_holder = {};
    holder = value;
    holder_ptr = cur;
    holder_el = el;
    cur = r;
    value = *r;
    held_value = value;
    stack::g_top = t0;
    if (!get && !set_value && is_callable(value.type())) {
      return call_value(&value, code, pos, end, &el, &path, i + 1, false);
    }
  }
  stack::g_top = last_paren ? t0 - 1 : t0;
  stack::push(&value);
  return pos;
}

u32 trace_mask(const Cell* tracer) {
  Cell body = *function::more_cell(tracer, function::kMoreBody);
  if (!body.is(T_BLOCK)) return kDefaultTraceMask;
  const Cell* first = code_at(&body, body.w1);
  if (!first || !first->is(T_BLOCK)) return kDefaultTraceMask;
  Cell list = *first;
  u32 mask = 0;
  u32 len = mem::series_of(list.w2)->length();
  for (u32 i = list.w1; i < len; i++) {
    Cell c = mem::series_of(list.w2)->cells()[i];
    if (!c.is(T_WORD)) continue;
    for (const auto& e : kEventWords)
      if (symbol::resolve(c.w2) == symbol::resolve(words::sym(e.word))) mask |= e.ev;
  }
  return mask;
}

bool trace_install(const Cell* tracer) {
  if (g_tracer_installed) return false;
  g_tracer = *tracer;
  g_mask = trace_mask(tracer);
  Cell spec = function::spec_of(tracer);
  g_tracer_locals = function::count_locals(&spec, false);
  g_tracer_installed = true;
  g_tracing = true;
  fire(kEvInit, nullptr, -1, nullptr, nullptr);
  return true;
}

void trace_end(bool unwinding) {
  if (!g_tracer_installed) return;
  // The tracer is forgotten however its end event goes.
  struct Forget {
    ~Forget() {
      set_none(&g_tracer);
      g_tracing = false;
      g_tracer_installed = false;
    }
  } forget;
  // The tracer runs Zot code: an exit in flight waits meanwhile.
  u32 thrown = runtime::g_thrown_code;
  u32 pending = runtime::take_pending();
  if (!unwinding && !pending) {
    fire(kEvEnd, nullptr, -1, nullptr, nullptr);
  } else {
    // An error or exit is on its way out and the frames it left are gone:
    // what the tracer raises or throws now lands here and is dropped, so the
    // one in flight reaches its own handler (a quit request still goes on).
    Cell* const b0 = stack::g_base;
    Cell* const t0 = stack::g_top;
    stack::Frame* const c0 = stack::g_ctop;
    const u32 call_pos = stack::g_saved_call_pos;
    stack::push_try_all_frame(nullptr);  // no exit of the tracer's passes it
    try {
      fire(kEvEnd, nullptr, -1, nullptr, nullptr);
    } catch (const RuntimeThrow& t) {
      if (t.code < kThrowThrow || t.code > kThrowError) throw;
    }
    stack::g_base = b0;
    stack::g_top = t0;
    stack::g_ctop = c0;
    stack::g_saved_call_pos = call_pos;
  }
  runtime::g_thrown_code = thrown;
  runtime::g_pending = pending;
}

void fire(TraceEvent ev, const Cell* code, i32 pos, const Cell* ref, const Cell* value) {
  if (!g_tracing || !(g_mask & ev)) return;
  Cell* const b0 = stack::g_base;
  Cell* const t0 = stack::g_top;
  stack::Frame* const c0 = stack::g_ctop;
  Cell none;
  set_none(&none);
  Cell code_v = code ? *code : none;
  Cell val = value ? *value : none;
  bool with_ref = ev == kEvSet || ev == kEvEpilog || ev == kEvProlog || ev == kEvReturn || ev == kEvCall;
  Cell ref_v = (with_ref && ref) ? *ref : none;
  Cell offset;
  i32 off = -1;
  if (code && pos >= i32(code->w1) && u32(pos) <= mem::series_of(code->w2)->length()) off = pos - i32(code->w1);
  set_integer(&offset, off);
  Cell frame;
  make_cell(&frame, T_PAIR, 0, u32(stack::index_of(b0)), u32(stack::index_of(t0)));
  stack::g_top = t0 + 1;  // the top cell (a left operand, say) survives the call
  stack::push_interpreted_function_frame(words::word(w::tag_interp_callback));
  stack::push(event_word(ev));
  stack::push(&code_v);
  stack::push(&offset);
  stack::push(&val);
  stack::push(&ref_v);
  stack::push(&frame);
  function::init_locals(g_tracer_locals);
  g_tracing = false;
  Cell tracer = g_tracer;
  call_function(&tracer, 0);  // an exit from the tracer leaves tracing off
  runtime::raise_pending();
  g_tracing = true;
  stack::g_ctop = c0;
  stack::g_base = b0;
  stack::g_top = t0;
}

Cell call_callback(const Cell* fn_in, const Cell* frame_word, const Cell* args, u32 count, u32 callback_class) {
  Cell fn = *fn_in;
  Cell* const t0 = stack::g_top;
  stack::push(&fn);
  stack::push_interpreted_function_frame(frame_word);
  Cell parsed = function::parsed_spec(&fn);
  u32 given = 0;
  i32 locals = 0;
  for (u32 i = 0; i < mem::series_of(parsed.w2)->length(); i++) {
    Cell e = mem::series_of(parsed.w2)->cells()[i];
    if (e.is(T_TYPESET)) {
      if (function::param_kind(&e) == function::kReturnType) continue;
      Cell v;
      if (given < count) v = args[given];
      else set_none(&v);
      given++;
      stack::push(&v);
    } else if (e.is(T_REFINEMENT)) {
      Cell no;
      set_logic(&no, false);
      stack::push(&no);
    } else if (e.is(T_INTEGER)) {
      locals = e.int_value();
    }
  }
  function::init_locals(locals);
  call_as_callback(&fn, 0, callback_class);
  runtime::raise_pending();
  Cell answer = *stack::g_base;
  stack::pop_frame();
  stack::g_top = t0;
  return answer;
}

Cell do_block(const Cell* block) {
  Cell* top = stack::g_top;
  eval_block(block, false);
  runtime::raise_pending();  // C++ callers see exits as throws
  Cell r = *stack::top_value();
  stack::g_top = top;
  return r;
}

}  // namespace zot::interp
