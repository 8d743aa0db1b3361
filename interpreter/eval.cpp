#include "interpreter/eval.h"
#include "interpreter/call_path.h"
#include "interpreter/eval_fast.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/words.h"
#include "interpreter/call.h"
#include "interpreter/loop_plan.h"
#include "runtime/actions.h"
#include "platform/platform.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/rooted.h"
#include "runtime/services.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace zot::interp {

Cell g_near = {T_UNSET, 0, 0, 0};
Cell g_throw_near = {T_UNSET, 0, 0, 0};
WordPlaces g_places;

Cell* read_globals() {
  g_places.globals = mem::series_of(context::ctx_cell(context::g_global)->context_values())->cells();
  g_places.moves = mem::g_moves;
  return g_places.globals;
}

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

// The code block's cells and length, read again after anything that ran Zot
// code (which may change the block or move its buffer).
ZOT_INLINE u32 code_length(const Cell* code) { return view_of(code->series_node()).length; }

ZOT_INLINE u32 clamp_end(const Cell* code, u32 end) {
  u32 len = code_length(code);
  return end < len ? end : len;
}

// Nested calls and parens a pure expression may hold: deeper ones take the
// full evaluation (which has the stack-overflow check).
constexpr u32 kPureDepth = 16;

bool pure_at(const CodeView& code, u32& pos, u32 end, bool no_infix, Cell* out, u32 depth);
bool pure_call_or_paren(const CodeView& code, u32& pos, u32 end, const Cell* at, const Cell* value, Cell* out,
                        u32 depth);

// One operand of a pure expression, no operator after it taken (pos is
// inside the code): a literal, the value of a word that is no function, op!
// or unset, read in place; else a paren or a prefix call of an integer
// operation. Each word is looked up once.
ZOT_INLINE bool pure_operand(const CodeView& code, u32& pos, u32 end, Cell* out, u32 depth) {
  const Cell* at = code.cells + pos;
  const u32 t = at->type();
  if (!((kNotSelfEvaluating >> t) & 1)) {
    *out = *at;
    pos++;
    return true;
  }
  const Cell* v = nullptr;
  if (t == T_WORD) {
    v = bound_value(at);
    if (!v) return false;
    if (!((kNotPlainValue >> v->type()) & 1)) {
      *out = *v;
      pos++;
      return true;
    }
  } else if (t != T_PAREN) {
    return false;
  }
  return pure_call_or_paren(code, pos, end, at, v, out, depth);
}

// An argument of a prefix integer operation: an operand and the operators
// after it.
ZOT_INLINE bool pure_argument(const CodeView& code, u32& pos, u32 end, Cell* out, u32 depth) {
  if (pos >= end || pos >= code.length) return false;
  u32 p = pos;
  if (!pure_operand(code, p, end, out, depth + 1)) return false;
  // Most arguments have no operator after them.
  if (infix_op_at(code, p, end) && !pure_infix_at(code, p, end, out, depth + 1)) return false;
  pos = p;
  return true;
}

// A prefix call of an integer operation (value: the word's value) with two
// integer arguments, or a paren of one pure expression.
bool pure_call_or_paren(const CodeView& code, u32& pos, u32 end, const Cell* at, const Cell* value, Cell* out,
                        u32 depth) {
  if (depth >= kPureDepth) return false;
  if (value) {
    const Cell fn = *value;
    if (!integer_operation(fn)) return false;
    u32 p = pos + 1;
    Cell a, b;
    if (!pure_argument(code, p, end, &a, depth) || !a.is(T_INTEGER)) return false;
    if (!pure_argument(code, p, end, &b, depth) || !b.is(T_INTEGER)) return false;
    if (!integer_fast(fn.type(), fn.callable_target(), a.int_value(), b.int_value(), out)) return false;
    pos = p;
    return true;
  }
  const CodeView in = view_of(at->series_node());
  u32 p = u32(at->series_index());
  if (!pure_at(in, p, in.length, false, out, depth + 1) || p != in.length) return false;
  pos++;
  return true;
}

bool pure_at(const CodeView& code, u32& pos, u32 end, bool no_infix, Cell* out, u32 depth) {
  if (pos >= end || pos >= code.length) return false;
  u32 p = pos;
  if (!pure_operand(code, p, end, out, depth)) return false;
  if (!no_infix && !pure_infix_at(code, p, end, out, depth)) return false;
  pos = p;
  return true;
}

}  // namespace

bool pure_infix_at(const CodeView& code, u32& pos, u32 end, Cell* left, u32 depth) {
  u32 p = pos;
  while (const Cell* op = infix_op_at(code, p, end)) {
    if (!left->is(T_INTEGER)) return false;
    const Cell o = *op;
    u32 q = p + 1;
    Cell right;
    if (q >= end || q >= code.length) return false;
    if (!pure_operand(code, q, end, &right, depth) || !right.is(T_INTEGER)) return false;
    if (!integer_fast(o.op_type(), o.callable_target(), left->int_value(), right.int_value(), left))
      return false;
    p = q;
  }
  pos = p;
  return true;
}

bool pure_expression(const CodeView& code, u32& pos, u32 end, bool no_infix, Cell* out) {
  if (ZOT_UNLIKELY(g_tracing)) return false;
  Cell v;
  u32 p = pos;
  if (!pure_at(code, p, end, no_infix, &v, 0)) return false;
  *out = v;
  pos = p;
  return true;
}

namespace {

// Sets a word to the value (the value of a set-word expression): in place
// when it can be (set_word_in_place), else through context::set, which hears
// change handlers. A set-word that had to be looked up keeps the index found,
// in the code itself.
ZOT_INLINE void set_word(const Cell* code, u32 at, const Cell& word, const Cell& value) {
  if (set_word_in_place(word, value)) return;
  Cell w = word;
  context::set(&w, &value);
  if (w.word_index() != word.word_index()) {
    mem::Series* s = mem::series_of(code->series_node());
    if (at < s->length()) {
      Cell& c = s->cells()[at];
      if (c.type() == word.type() && c.word_symbol() == word.word_symbol() && c.word_context() == word.word_context())
        c.set_word_index(w.word_index());
    }
  }
}

}  // namespace

// Stops the evaluation as `halt` does: the console's catch takes it and
// prints "(halted)".
void halt_on_interrupt() {
  platform::clear_interrupt();
  static const char text[] = "throw/name 'halt-request 'console";
  Rooted code;
  g_services.scan_utf8(&code.cell, reinterpret_cast<const u8*>(text), sizeof text - 1, false);
  // Library code: the throw keeps the interrupted code as its position.
  block::mark_library(&code.cell);
  do_block(&code.cell);
}

void init() {
  set_unset(&g_near);
  collector::add_root_cells(&g_near, 1);
  set_unset(&g_throw_near);
  collector::add_root_cells(&g_throw_near, 1);
  init_tracing();
  callpath::clear_shapes();
  read_plan_switch();
  g_places = WordPlaces{};
}

namespace {

// eval_block once its block is known to be no single pure expression.
// first: the flags of its first expression (a hint that it holds no pure
// expression the caller tried already).
ZOT_NOINLINE void eval_block_in_full(const Cell* block, bool chain, u32 first = kExprResult);

}  // namespace

void eval_block(const Cell* block, bool chain) {
  ZOT_FUZZ_STEP();
  const Cell b = *block;
  // Ctrl+C at the console: the user's code stops at its next block (the
  // library's own code runs on to where it calls the user's).
  if (ZOT_UNLIKELY(platform::interrupt_requested()) && !(mem::series_of(b.series_node())->flags & mem::kLibrary))
    halt_on_interrupt();
  {
    // A block of one pure expression (simple values and integer arithmetic:
    // nothing that can run code, raise an error or be traced) leaves its
    // value as a one-expression evaluation would, frame and all.
    Cell v;
    if (simple_block(b, &v)) {
      Cell* slot = stack::push(&v);
      if (chain) *stack::g_base = *slot;
      return;
    }
  }
  eval_block_in_full(&b, chain, kExprNotPure);
}

namespace {

// The expressions of the block b (end: its length), each into the current
// frame's result slot; the block's value is left there. Returns early on a
// pending exit, which has already left the frame.
ZOT_INLINE void run_expressions(const Cell& b, u32 end, bool library, u32 flags) {
  if (u32(b.series_index()) >= end) {
    set_unset(stack::g_base);
    stack::g_top = stack::g_base + 1;
    return;
  }
  if (!library) g_near = b;
  u32 pos = u32(b.series_index());
  for (;;) {
    if (!library) g_near.set_series_index(i32(pos));
    pos = eval_expression(&b, pos, end, flags);
    flags = kExprResult;
    // A pending exit has already left this frame: go straight out.
    if (ZOT_UNLIKELY(runtime::pending())) return;
    // The block may have been shortened meanwhile (never lengthened: end
    // stays where it was).
    if (pos >= end) break;
    end = clamp_end(&b, end);
    if (pos >= end) break;
    stack::clear_frame();
  }
}

void eval_block_in_full(const Cell* block, bool chain, u32 first) {
  const Cell b = *block;
  const mem::Series* series = mem::series_of(b.series_node());
  u32 end = (series->tail - series->head) / u32(sizeof(Cell));  // blocks hold cells
  NearGuard near;
  const bool library = (series->flags & mem::kLibrary) != 0;
  // Library code runs as compiled code does: no interpreter mark on its
  // frames, no trace events, and the Near position of errors left alone.
  // The frame holds the block for the collector: the code it runs may drop
  // every other reference to it.
  stack::push_block_frame(body_word(), library ? (stack::kHdrEval & ~stack::kInterpreted) : stack::kHdrEval, b.series_node());
  const bool tr = g_tracing && !library;
  if (ZOT_UNLIKELY(tr)) {
    fire(kEvEnter, &b, b.series_index(), nullptr, nullptr);
    // Read again: a tracer may change the block it is told of.
    end = code_length(&b);
  }
  run_expressions(b, end, library, first);
  if (ZOT_UNLIKELY(runtime::pending())) return;
  if (ZOT_UNLIKELY(tr)) {
    Cell r = *stack::g_base;
    fire(kEvExit, &b, i32(end), nullptr, &r);
  }
  if (chain) stack::pop_frame_to_result();
  else stack::pop_frame();
}

// Parens being evaluated without a frame of their own: they count as frames
// against the call stack's limit, so deep nesting still ends in the
// stack-overflow error where it did.
u32 g_bare_parens = 0;

// A paren's expressions evaluated in the current frame, untraced: as its own
// frame would (the value left at the top, the paren's positions as Near, the
// enclosing Near back on every way out), without the frame. The paren cell
// sits in the value's place meanwhile, holding its block for the collector.
ZOT_INLINE void paren_here(const Cell& paren, u32 first) {
  if (ZOT_UNLIKELY(stack::g_ctop + g_bare_parens >= stack::g_call_limit) || ZOT_UNLIKELY(stack::machine_stack_low()))
    stack::overflow();
  Cell* const t0 = stack::push(&paren);
  const mem::Series* series = mem::series_of(paren.series_node());
  u32 end = (series->tail - series->head) / u32(sizeof(Cell));  // blocks hold cells
  u32 pos = u32(paren.series_index());
  if (pos >= end) {
    set_unset(t0);
    return;
  }
  const bool library = (series->flags & mem::kLibrary) != 0;
  struct Counted {
    Counted() { g_bare_parens++; }
    ~Counted() { g_bare_parens--; }
  } counted;
  NearGuard near;
  if (!run_expressions_at(t0, pos, end, library, first, t0 + 1)) return;
  *t0 = stack::g_top[-1];
  stack::g_top = t0 + 1;
}

// paren_here out of line, for the evaluator (whose frame stays small).
ZOT_NOINLINE void eval_paren(const Cell& paren, u32 first) { paren_here(paren, first); }

}  // namespace

namespace {

// eval_block_here once the block is known to need the full evaluation.
ZOT_INLINE void block_here_in_full(const Cell& b, u32 from, u32 first) {
  // Held for the collector in place of the frame's arguments (the code it
  // runs may drop every other reference to it).
  Rooted held(b);
  held.set_series_index(i32(from));
  const mem::Series* series = mem::series_of(b.series_node());
  const u32 end = (series->tail - series->head) / u32(sizeof(Cell));  // blocks hold cells
  const bool library = (series->flags & mem::kLibrary) != 0;
  stack::clear_frame();
  NearGuard near;
  run_expressions(held, end, library, first);
}

}  // namespace

ZOT_NOINLINE void eval_block_here_in_full(const Cell& b, u32 from, u32 first) { block_here_in_full(b, from, first); }

u32 branch_in_frame(const Cell& fn, const Cell* code, u32 p, const Cell* name, const Cell& cond, const Cell& branch,
                    u32 from, u32 first) {
  Cell* const t0 = stack::g_top;
  stack::push(&fn);
  stack::push_frame(name, stack::kHdrInterpStep);
  stack::push(&cond);
  block_here_in_full(branch, from, first);
  // An exit from inside the branch has already unwound the stacks past us.
  if (ZOT_UNLIKELY(runtime::pending())) return p;
  return callpath::finish_call(code, p, name, t0);
}

void eval_block_here(const Cell* block) {
  const Cell b = *block;
  if (ZOT_UNLIKELY(g_tracing)) {
    // Traced, the block's own frame brings its enter and exit events.
    eval_block(&b, true);
    if (!runtime::pending()) stack::g_top = stack::g_base + 1;
    return;
  }
  ZOT_FUZZ_STEP();
  if (ZOT_UNLIKELY(platform::interrupt_requested()) && !(mem::series_of(b.series_node())->flags & mem::kLibrary))
    halt_on_interrupt();
  Cell v;
  u32 from, first;
  if (pure_block_here(b, &v, from, first)) {
    stack::set_only_result(&v);
    return;
  }
  eval_block_here_in_full(b, from, first);
}

u32 eval_next(const Cell* code, u32 pos, u32 end, bool keep) {
  stack::push_interpreted_native_frame(body_word());
  // A kept value is a part of the caller's expression (reduce, all, any):
  // the tracer sees it as a nested level that ends no expression of its own.
  const bool tr = keep && traced(code);
  if (ZOT_UNLIKELY(tr)) fire(kEvEnter, code, i32(pos), nullptr, nullptr);
  pos = eval_expression(code, pos, end, keep ? kExprPush : kExprResult);
  if (ZOT_UNLIKELY(runtime::pending())) return pos;
  if (ZOT_UNLIKELY(tr)) {
    const Cell r = *stack::top_value();
    fire(kEvExit, code, i32(pos), nullptr, &r);
  }
  if (keep) stack::pop_frame();
  else stack::pop_frame_to_result();
  return pos;
}

namespace {

// An integer operation's operator (retyped to the native or action it wraps)
// whose right operand is no pure expression, its left operand an integer at
// the top, untraced: the call call_operator makes, with the operand
// evaluated straight into the operator's frame and two integers computed
// inline. Any other right operand goes on to the native's own road.
ZOT_NOINLINE u32 call_integer_operator(const Cell& op, const Cell* code, u32 pos, u32 end, const Cell* name) {
  Cell* const t0 = stack::g_top;
  stack::push_frame(name, stack::kHdrInterpStep);
  stack::g_top = stack::g_base + 1;
  // A paren (`(fib n - 2)`) goes straight to its evaluation.
  const CodeView cv = view_of(code->series_node());
  if (cv.cells[pos].is(T_PAREN)) {
    ZOT_FUZZ_STEP();
    const Cell paren = cv.cells[pos++];
    paren_here(paren, kExprResult);
  } else {
    pos = push_expression(code, pos, end, kExprNoInfix | kExprNotPure);
  }
  if (ZOT_UNLIKELY(runtime::pending())) return pos;
  Cell* const a = stack::g_base;
  if (!(a[1].is(T_INTEGER) &&
        integer_fast(op.type(), op.callable_target(), a[0].int_value(), a[1].int_value(), a))) {
    // The shape may allocate: both operands are on the stack.
    callpath::Call c;
    callpath::start(c, op, name);
    if (ZOT_UNLIKELY(!typeset::has(&c.sh->types[1], a[1].type()))) callpath::raise_expect(c, 1, a + 1);
    callpath::invoke(c, 0);
    if (ZOT_UNLIKELY(runtime::pending())) return pos;
  }
  return callpath::finish_call(code, pos, name, t0);
}

// The operators after the value just computed at t0 (pos < end): while
// the next value is a word whose value is an op!, the value so far becomes
// its left operand. The code is read as it is now (what ran meanwhile may
// have changed it). Returns the next position, at once on a pending exit.
ZOT_INLINE u32 infix_loop(const Cell* code, u32 pos, u32 end, Cell* t0, bool tr) {
  CodeView cv = view_of(code->series_node());
  while (const Cell* val = infix_op_at(cv, pos, end)) {
    Cell op = *val;
    bool not_pure = false;
    if (!tr && t0->is(T_INTEGER)) {
      // Integer arithmetic on a pure right operand runs inline.
      u32 q = pos + 1;
      Cell right;
      if (pure_right_operand(cv, q, end, &right)) {
        if (right.is(T_INTEGER) &&
            integer_fast(op.op_type(), op.callable_target(), t0->int_value(), right.int_value(), t0)) {
          stack::g_top = t0 + 1;
          pos = q;
          continue;
        }
      } else {
        not_pure = true;
      }
    }
    const Cell name = cv.cells[pos];
    op.header = op.op_type();
    if (ZOT_UNLIKELY(tr)) fire(kEvFetch, code, i32(pos), nullptr, &name);
    pos++;
    stack::g_top = t0;  // the left value sits in the next frame's first cell
    if (not_pure && !g_tracing && pos < end && pos < cv.length && integer_operation(op))
      pos = call_integer_operator(op, code, pos, end, &name);
    else
      pos = call_operator(&op, code, pos, end, &name, not_pure);
    if (ZOT_UNLIKELY(runtime::pending())) return pos;
    cv = view_of(code->series_node());
  }
  return pos;
}

}  // namespace

u32 eval_infix(const Cell* code, u32 pos, u32 end, Cell* t0) { return infix_loop(code, pos, end, t0, false); }

// An expression position past the block's current tail (the block was
// emptied behind the caller's back) gives unset.
ZOT_NOINLINE u32 past_tail(u32 pos, bool push) {
  Cell u;
  set_unset(&u);
  if (push) stack::push(&u);
  else stack::set_only_result(&u);
  return pos + 1;
}

namespace {

// A set-word whose value is no pure value stored in place: the value is
// evaluated (or taken as found: simple) in a frame named by the set-word,
// and set through context::set when it cannot be stored in place. Out of
// line, as the other kinds below: the evaluator's own frame stays small.
ZOT_NOINLINE u32 set_word_framed(const Cell* code, u32 pos, u32 end, const Cell& v, bool simple, u32 next,
                                 Cell value, bool tr, Cell* t0) {
  const u32 at = pos - 1;
  stack::push_interpreted_native_frame(&v);
  stack::push(&v);
  if (ZOT_UNLIKELY(tr)) fire(kEvPush, code, i32(at), nullptr, &v);
  if (pos >= end || pos >= code_length(code)) raise_error(Err::ScriptNeedValue, &v);
  if (simple) {
    pos = next;
    stack::push(&value);
  } else {
    pos = push_expression(code, pos, end, kExprNotPure);
    if (ZOT_UNLIKELY(runtime::pending())) return pos;
    value = *stack::top_value();
  }
  if (value.is(T_UNSET)) raise_error(Err::ScriptNeedValue, &v);
  if (ZOT_UNLIKELY(tr)) fire(kEvSet, code, i32(at), &v, &value);
  set_word(code, at, v, value);
  stack::pop_frame();
  *t0 = value;
  stack::g_top = t0 + 1;
  return pos;
}

// The kinds of value that start an expression seldom (set-paths, get-paths,
// get-words, quoted words and paths, callables and op!s met as values,
// issues), v the one at pos - 1: its value pushed at t0. Returns the next
// position; on a pending exit the caller returns at once.
ZOT_NOINLINE u32 eval_seldom(const Cell* code, u32 pos, u32 end, Cell v, bool tr, Cell* t0) {
  switch (v.type()) {
    case T_SET_PATH: {
      const u32 at = pos - 1;
      if (ZOT_UNLIKELY(tr)) fire(kEvPush, code, i32(at), nullptr, &v);
      if (pos >= clamp_end(code, end)) raise_error(Err::ScriptNeedValue, &v);
      stack::push_interpreted_native_frame(words::word(w::set_path));
      pos = push_expression(code, pos, end, 0);
      if (ZOT_UNLIKELY(runtime::pending())) return pos;
      const Cell value = *stack::top_value();
      if (ZOT_UNLIKELY(tr)) fire(kEvSet, code, i32(at), &v, &value);
      eval_path(&v, code, pos, end, false, &value);
      if (ZOT_UNLIKELY(runtime::pending())) return pos;
      stack::pop_frame();
      *t0 = value;
      stack::g_top = t0 + 1;
      return pos;
    }
    case T_GET_WORD: {
      const Cell value = *context::get(&v);
      stack::push(&value);
      if (ZOT_UNLIKELY(tr)) fire(kEvPush, code, i32(pos - 1), nullptr, &value);
      return pos;
    }
    case T_LIT_WORD:
      v.header = T_WORD;
      stack::push(&v);
      if (ZOT_UNLIKELY(tr)) fire(kEvPush, code, i32(pos - 1), nullptr, &v);
      return pos;
    case T_GET_PATH:
      return eval_path(&v, code, pos, end, true, nullptr);
    case T_LIT_PATH:
      v.header = T_PATH;
      v.w3 = 0;
      stack::push(&v);
      if (ZOT_UNLIKELY(tr)) fire(kEvPush, code, i32(pos - 1), nullptr, &v);
      return pos;
    case T_OP:
      raise_error(Err::InternalNotDone);
    case T_ISSUE: {
      const u32 c = symbol::resolve(v.word_symbol());
      const CodeView cv = view_of(code->series_node());
      const Cell* next = pos < cv.length ? cv.cells + pos : nullptr;
      if ((c == symbol::resolve(words::sym(w::system)) || c == symbol::resolve(words::sym(w::system_global))) &&
          next && next->is(T_BLOCK))
        raise_error(Err::InternalZotSystem);
      stack::push(&v);
      return pos;
    }
    default:  // a native, action, function or routine
      return call_value(&v, code, pos, end, anon_word(), nullptr, 0, false);
  }
}

// The kinds eval_seldom takes.
constexpr u64 kSeldom = (1ull << T_SET_PATH) | (1ull << T_GET_WORD) | (1ull << T_LIT_WORD) |
                        (1ull << T_GET_PATH) | (1ull << T_LIT_PATH) | (1ull << T_OP) | (1ull << T_NATIVE) |
                        (1ull << T_ACTION) | (1ull << T_FUNCTION) | (1ull << T_ROUTINE) | (1ull << T_ISSUE);

// A word's value that is no callable: pushed, or its error.
ZOT_INLINE void push_word_value(const Cell* code, u32 at, const Cell& word, const Cell* value, bool tr) {
  const u32 t = value->type();
  if (ZOT_UNLIKELY(t == T_UNSET)) raise_error(Err::ScriptNoValue, &word);
  if (ZOT_UNLIKELY(t == T_OP)) raise_error(Err::ScriptNoOpArg, &word);
  stack::push(value);
  if (ZOT_UNLIKELY(tr)) {
    const Cell pushed = *value;
    fire(kEvPush, code, i32(at), nullptr, &pushed);
  }
}

}  // namespace

u32 eval_expression(const Cell* code, u32 pos, u32 end, u32 flags) {
  ZOT_FUZZ_STEP();
  Cell* const t0 = stack::g_top;
  CodeView cv = view_of(code->series_node());
  // Callers check the position against the block's tail after anything that
  // ran Zot code.
  if (ZOT_UNLIKELY(pos >= cv.length)) return past_tail(pos, flags & kExprPush);
  Cell v = cv.cells[pos];
  const bool tr = traced(code);
  if (ZOT_UNLIKELY(tr)) {
    fire(kEvFetch, code, i32(pos), nullptr, &v);
    cv = view_of(code->series_node());  // the tracer may change the code
  }
  pos++;
  const u32 type = v.type();
  if (type == T_WORD) {
    const Cell* value = word_value(&v);
    if (ZOT_LIKELY(is_callable(value->type()))) {
      const Cell fn = *value;
      if (fn.is(T_NATIVE) && fn.native_index() <= natives::kEither && !tr)
        pos = call_conditional(fn, code, pos, end, &v);
      else
        pos = callpath::call_from_code(fn, code, pos, end, &v, nullptr, 0, false);
      if (ZOT_UNLIKELY(runtime::pending())) return pos;
    } else {
      push_word_value(code, pos - 1, v, value, tr);
    }
  } else if (type == T_PAREN) {
    // A paren of one simple expression gives its value without frames.
    Cell simple;
    if (!(flags & kExprNotPure) && simple_block(v, &simple)) {
      stack::push(&simple);
    } else {
      // Its block frame leaves the value where the expression's goes.
      if (ZOT_LIKELY(!g_tracing)) eval_paren(v, flags & kExprNotPure ? kExprResult : kExprNotPure);
      else eval_block_in_full(&v, false);
      if (ZOT_UNLIKELY(runtime::pending())) return pos;
    }
  } else if (type == T_SET_WORD) {
    u32 next = pos;
    Cell value;
    const bool simple = !(flags & kExprSetNotPure) && pos < end && pos < cv.length &&
                        simple_expression(cv, next, end, false, &value);
    // A pure value stored where no change handler hears it needs no
    // frame: nothing can fail or run meanwhile.
    if (simple && !value.is(T_UNSET) && set_word_in_place(v, value)) {
      pos = next;
      *t0 = value;
      stack::g_top = t0 + 1;
    } else {
      pos = set_word_framed(code, pos, end, v, simple, next, value, tr, t0);
      if (ZOT_UNLIKELY(runtime::pending())) return pos;
    }
  } else if (type == T_PATH) {
    pos = eval_path(&v, code, pos, end, false, nullptr);
    if (ZOT_UNLIKELY(runtime::pending())) return pos;
  } else if (ZOT_UNLIKELY((kSeldom >> type) & 1)) {
    pos = eval_seldom(code, pos, end, v, tr, t0);
    if (ZOT_UNLIKELY(runtime::pending())) return pos;
  } else {
    stack::push(&v);
    if (ZOT_UNLIKELY(tr)) fire(kEvPush, code, i32(pos - 1), nullptr, &v);
  }
  // Infix: while the next value is a word whose value is an op!, the value
  // just computed becomes its left operand; at the end of the code there
  // is none to look for.
  if (!(flags & kExprNoInfix) && pos < end) {
    pos = infix_loop(code, pos, end, t0, tr);
    if (ZOT_UNLIKELY(runtime::pending())) return pos;
  }
  if (!(flags & kExprPush)) {
    const Cell r = *t0;
    stack::set_only_result(&r);
    // Asked again: the expression may have switched tracing.
    if (ZOT_UNLIKELY(traced(code))) fire(kEvExpr, code, i32(pos), nullptr, &r);
  }
  return pos;
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
