// The call path's inline part, for call.cpp and for the evaluator, which
// calls straight through it: the walk over a callable's parsed spec, the
// arguments taken from the code being evaluated, and the dispatch.
#pragma once

#include <cstring>

#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/simple.h"
#include "datatypes/typeset.h"
#include "interpreter/call.h"
#include "interpreter/call_shape.h"
#include "interpreter/eval.h"
#include "interpreter/eval_fast.h"
#include "interpreter/natives.h"
#include "interpreter/routines.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/rooted.h"
#include "runtime/stack.h"

namespace zot::interp::callpath {

// A call in progress: what the walk over the spec needs.
struct Call {
  Cell fn;            // the callable (op! already retyped to its wrapped type)
  const Cell* name;   // word or path naming it, for error reports
  mem::Node parsed;   // its parsed spec (a block of typesets, refinements, a count)
  u32 count;          // its entries (the parsed spec never changes; its buffer moves)
  i32 simple;         // plain normal parameters only: their number, else -1
  i32 leading;        // normal parameters before the first refinement: their number, else -1
  u32 rest;           // leading: the entry of the first refinement
  i32 locals;         // local slots (function!, routine!)
  bool native;        // native! or action!: refinement positions, no slots
  const Shape* sh;    // its shape entry, looked up again after anything that ran Zot code
  Cell body;          // function!: its body (the callable holds it)
  i32 refs[kMaxRefinements];

  ZOT_INLINE u32 spec_length() const { return count; }
  // The entries, read again after anything that ran Zot code.
  ZOT_INLINE const Cell* entries() const { return mem::series_of(parsed)->cells(); }
  ZOT_INLINE Cell entry(u32 i) const { return entries()[i]; }
};

ZOT_INLINE void start(Call& c, const Cell& fn, const Cell* name) {
  c.fn = fn;
  c.name = name;
  const u32 t = fn.type();
  c.native = t == T_NATIVE || t == T_ACTION;  // routines take slots as functions do
  const Shape& sh = shape_of(fn);
  c.sh = &sh;
  c.parsed = sh.parsed;
  c.count = sh.count;
  c.simple = sh.simple ? sh.params : -1;
  c.leading = sh.leading ? sh.params : -1;
  c.rest = sh.rest;
  c.locals = sh.locals;
  if (t == T_FUNCTION) c.body = sh.body;
  // Every refinement absent (-1).
  if (sh.refinements) std::memset(c.refs, 0xFF, sizeof c.refs);
}

// The errors of an argument: of the wrong type, or missing (param counts
// the spec's parameters and refinements from 0).
ZOT_NORETURN void raise_expect(const Call& c, u32 param, const Cell* value);
ZOT_NORETURN void raise_expect(const Cell& fn, const Cell* name, u32 param, const Cell* value);
ZOT_NORETURN void raise_no_arg(const Call& c, u32 param);
ZOT_NORETURN void raise_no_arg(const Cell& fn, const Cell* name, u32 param);

// The argument just pushed for the parameter entry ts must be of its types.
ZOT_INLINE void check_arg(const Call& c, const Cell& ts, u32 param) {
  const Cell* v = stack::g_top - 1;
  if (ZOT_UNLIKELY(!typeset::has(&ts, v->type()))) raise_expect(c, param, v);
}

// The code being evaluated: a normal parameter takes one expression (without
// infix for an operator's operand), a get-word parameter the next value as it
// stands, a lit-word parameter the next value unevaluated unless it is a
// paren, a get-word or a get-path. take answers whether Zot code ran (the
// spec's buffer may have moved).
struct CodeSource {
  const Cell* code;
  u32 pos;
  u32 end;
  bool no_infix;
  // The next argument is known to be no pure expression (the caller tried).
  bool not_pure = false;

  // Pushes the value of a lit-word parameter's argument.
  void literal();
  // Past the end of the code: an optional lit-word parameter takes unset,
  // any other raises no-arg.
  void missing(const Call& c, const Cell& ts, u32 param);

  ZOT_INLINE bool take(const Call& c, const Cell& entry, u32 param, bool operand) {
    const CodeView cv = view_of(code->series_node());
    if (ZOT_UNLIKELY(pos >= end || pos >= cv.length)) {
      missing(c, entry, param);
      return false;
    }
    const bool plain_no_infix = operand && no_infix;
    const u32 kind = function::param_kind(&entry);
    if (ZOT_LIKELY(kind == function::kNormal)) {
      Cell v;
      if (ZOT_UNLIKELY(not_pure)) {
        not_pure = false;
      } else if (simple_expression(cv, pos, end, plain_no_infix, &v)) {
        stack::push(&v);
        check_arg(c, entry, param);
        return false;
      }
    } else if (kind == function::kGetParam) {
      stack::push(cv.cells + pos);
      pos++;
      check_arg(c, entry, param);
      return false;
    }
    const Cell ts = entry;  // the spec may move while the argument is evaluated
    if (kind == function::kNormal)
      pos = eval_expression(code, pos, end, kExprPush | kExprNotPure | (plain_no_infix ? kExprNoInfix : 0u));
    else
      literal();
    if (ZOT_LIKELY(!runtime::pending())) check_arg(c, ts, param);
    return true;
  }
};

// The slots of a function's refinements and their parameters, as its shape
// keeps them (tail_slots is not kNoTail): false for a refinement, none for a
// parameter.
ZOT_INLINE void push_tail_slots(const Shape& sh) {
  const u32 n = sh.tail_slots, refinements = sh.tail_refinements;
  Cell* const top = stack::g_top;
  // A few: the shape's cells copied at once (the unset ones past the new
  // top are nothing the collector looks at).
  if (ZOT_LIKELY(n <= kShapeTail && top + kShapeTail + 1 < stack::g_arg_limit)) {
    std::memcpy(static_cast<void*>(top), sh.tail, sizeof sh.tail);
    stack::g_top = top + n;
    return;
  }
  if (ZOT_UNLIKELY(top + n + 1 >= stack::g_arg_limit)) {
    Cell off, none;
    set_logic(&off, false);
    set_none(&none);
    for (u32 i = 0; i < n; i++) stack::push((refinements >> i) & 1 ? &off : &none);
    return;
  }
  for (u32 i = 0; i < n; i++) make_cell(top + i, (refinements >> i) & 1 ? T_LOGIC : T_NONE, 0, 0, 0);
  stack::g_top = top + n;
}

// Element k of a path as a refinement: a word (on), or a get-word whose
// value (none or false: off) switches it; anything else raises bad-refine.
// False past the path's end. The path is read again at each step: taking
// arguments runs Zot code.
ZOT_INLINE bool refinement_at(const Cell& path, u32 k, Cell* el, bool* on) {
  const CodeView pv = view_of(path.series_node());
  if (k >= pv.length) return false;
  *el = pv.cells[k];
  *on = true;
  if (el->is(T_GET_WORD)) *on = !logic::is_false(context::get(el));
  else if (!el->is(T_WORD)) raise_error(Err::ScriptBadRefine, el);
  return true;
}

// The argument of a plain parameter of fn, called from code at pos (cv its
// view, read again by the caller after anything that ran Zot code or
// allocated): a pure expression read straight from the code into out
// (answers false), else one full expression, its value pushed (answers
// true: Zot code ran).
ZOT_INLINE bool take_argument(const Cell* code, const CodeView& cv, u32& pos, u32 end, const Cell& fn,
                              const Cell* name, u32 param, Cell* out) {
  if (ZOT_UNLIKELY(pos >= end || pos >= cv.length)) raise_no_arg(fn, name, param);
  if (simple_expression(cv, pos, end, false, out)) return false;
  pos = eval_expression(code, pos, end, kExprPush | kExprNotPure);
  return true;
}

// The arguments of the plain parameters before the first refinement of fn
// (its shape sh leading), pushed and checked against their types; sh and
// the view cv of the code are read again after anything that ran Zot code.
// Answers false on a pending exit.
ZOT_INLINE bool push_plain_arguments(const Cell& fn, const Shape*& sh, const Cell* code, CodeView& cv, u32& pos,
                                     u32 end, const Cell* name) {
  for (u32 i = 0, n = sh->params; i < n; i++) {
    Cell v;
    if (!take_argument(code, cv, pos, end, fn, name, i, &v)) {
      stack::push(&v);
    } else {
      if (ZOT_UNLIKELY(runtime::pending())) return false;
      sh = &shape_of(fn);
      cv = view_of(code->series_node());  // after the shape, which may allocate
    }
    const Cell* pushed = stack::g_top - 1;
    if (ZOT_UNLIKELY(!typeset::has(&sh->types[i], pushed->type()))) raise_expect(fn, name, i, pushed);
  }
  return true;
}

// Plain parameters take their arguments from src; each refinement starts
// off: false in its slot (functions and routines) and none for its
// arguments. With left, the first argument is in place already. Returns the
// number of local slots (functions and routines).
template <class Source>
ZOT_INLINE i32 take_plain(Call& c, Source& src, bool left) {
  if (c.leading >= 0) {
    // Plain normal parameters: their types are in the shape, read again
    // after anything that ran Zot code.
    for (u32 i = 0; i < u32(c.leading); i++) {
      if (left && i == 0) {
        const Cell* v = stack::g_base;
        if (!typeset::has(&c.sh->types[0], v->type())) raise_expect(c, 0, v);
        continue;
      }
      if (src.take(c, c.sh->types[i], i, true)) {
        if (ZOT_UNLIKELY(runtime::pending())) return 0;
        c.sh = &shape_of(c.fn);
      }
    }
    // A native's refinements are all off already; a function's start off
    // (false) with none for their arguments.
    if (c.simple < 0 && !c.native && c.sh->tail_slots != kNoTail) {
      push_tail_slots(*c.sh);
    } else if (c.simple < 0 && !c.native) {
      const Cell* spec = c.entries();
      for (u32 i = c.rest; i < c.count; i++) {
        Cell v;
        if (spec[i].is(T_REFINEMENT)) set_logic(&v, false);
        else if (spec[i].is(T_TYPESET) && function::param_kind(spec + i) != function::kReturnType) set_none(&v);
        else continue;
        stack::push(&v);
      }
    }
    return c.locals;
  }
  bool active = true;
  u32 param = 0;
  i32 locals = 0;
  const u32 n = c.count;
  const Cell* spec = c.entries();
  for (u32 i = 0; i < n; i++) {
    const Cell& e = spec[i];
    switch (e.type()) {
      case T_TYPESET: {
        if (function::param_kind(&e) == function::kReturnType) break;
        const u32 this_param = param++;
        if (!active) {
          if (!c.native) {
            Cell none;
            set_none(&none);
            stack::push(&none);
          }
          break;
        }
        if (left && this_param == 0) {
          const Cell* v = stack::g_base;
          if (!typeset::has(&e, v->type())) raise_expect(c, 0, v);
          break;
        }
        if (src.take(c, e, this_param, true)) {
          if (ZOT_UNLIKELY(runtime::pending())) return 0;
          spec = c.entries();
          c.sh = &shape_of(c.fn);
        }
        break;
      }
      case T_REFINEMENT:
        param++;
        active = false;
        if (!c.native) {
          Cell no;
          set_logic(&no, false);
          stack::push(&no);
        }
        break;
      case T_INTEGER:
        if (!c.native) locals = e.int_value();
        break;
      default:
        break;
    }
  }
  return locals;
}

// The refinements of a path after the function, from element from on.
void take_path_refinements(Call& c, CodeSource& src, const Cell* path, u32 from);

// Refinements named after the plain arguments (by a path, or by refinement!
// values in an apply block), each used at most once: their ordinals.
struct Refinements {
  u32 used[kMaxRefinements];
  u32 count = 0;
};
// One refinement of a path (word, switched on or off), its arguments taken
// from src; path is what a second use of it is reported with.
void take_code_refinement(Call& c, CodeSource& src, const Cell& word, bool on, Refinements& r, const Cell* path);

// A function! called from untraced code: the call call_from_code makes,
// written for a function whose parameters before its first refinement are
// plain ones. Any other function takes call_from_code's road.
u32 call_function_from_code(const Cell& fn, const Cell* code, u32 pos, u32 end, const Cell* name,
                            const Cell* refs, u32 ref_index, bool not_pure);
// call_function_from_code for a call by a word: no refinements, the
// argument not known to be impure.
u32 call_function_by_word(const Cell& fn, const Cell* code, u32 pos, u32 end, const Cell* name);
// call_function_from_code for a path whose head names the function: its
// refinements from the path's second element on.
u32 call_function_by_path(const Cell& fn, const Cell* code, u32 pos, u32 end, const Cell* name, const Cell* path);
// A native! or action! called from untraced code, not by a path: the call
// call_from_code makes, its plain parameters read from the call shape.
u32 call_native_from_code(const Cell& fn, const Cell* code, u32 pos, u32 end, const Cell* name);

// Runs a function!'s body on the current frame's arguments.
void run_function(const Cell fn, const Cell body);

// Runs the callable on the current frame's arguments.
ZOT_INLINE void invoke(Call& c, i32 locals) {
  switch (c.fn.type()) {
    case T_NATIVE: {
      Cell* a = stack::g_base;
      if (stack::g_top - a == 2 && a[0].is(T_INTEGER) && a[1].is(T_INTEGER) &&
          integer_fast(T_NATIVE, c.fn.native_index(), a[0].int_value(), a[1].int_value(), a)) {
        stack::g_top = a + 1;
        break;
      }
      natives::g_table[c.fn.native_index()](c.refs);
      break;
    }
    case T_ACTION: {
      Cell* a = stack::g_base;
      if (stack::g_top - a == 2 && a[0].is(T_INTEGER) && a[1].is(T_INTEGER) &&
          integer_fast(T_ACTION, c.fn.action_slot(), a[0].int_value(), a[1].int_value(), a)) {
        stack::g_top = a + 1;
        break;
      }
      natives::g_action_entries[c.fn.action_slot()](c.refs);
      break;
    }
    case T_ROUTINE:
      function::init_locals(locals);
      routines::call(&c.fn);
      break;
    case T_FUNCTION:
      function::init_locals(locals);
      run_function(c.fn, c.body);
      break;
    default:
      raise_error(Err::InternalNotDone);
  }
}

// The end of a call from code, its result in hand: the result goes where
// the callable (or the left operand) was, at t0, and the frame is gone.
// Returns pos.
ZOT_INLINE u32 finish_call_with(const Cell* code, u32 pos, const Cell* name, Cell* t0, const Cell& result) {
  stack::drop_frame();
  *t0 = result;
  stack::g_top = t0 + 1;
  // Asked again: the call may have switched tracing (trace true, trace false).
  if (ZOT_UNLIKELY(traced(code))) fire(kEvReturn, code, i32(pos), name, &result);
  return pos;
}
// The same with the frame's result.
ZOT_INLINE u32 finish_call(const Cell* code, u32 pos, const Cell* name, Cell* t0) {
  const Cell result = *stack::g_base;
  return finish_call_with(code, pos, name, t0, result);
}

// The start of a call on a lean road: the callable held at the top, its
// frame pushed with header, its shape found. Null when the shape says the
// road does not take it (road: the shape's flag for it): the frame and the
// callable are gone again, and the general walk takes the call.
ZOT_INLINE const Shape* open_lean_call(const Cell& fn, const Cell* name, u32 header, bool Shape::*road) {
  Cell* const t0 = stack::g_top;
  stack::push(&fn);  // holds the callable (and its shape's nodes) while it runs
  stack::push_frame(name, header);
  const Shape* sh = &shape_of(fn);
  if (ZOT_LIKELY(sh->*road)) return sh;
  stack::drop_frame();
  stack::g_top = t0;
  return nullptr;
}

// The evaluator's call: fn is pushed at the top (or is an operator held by
// the caller, its left operand at the top), a frame named by the word, the
// arguments taken from code at pos, the callable run, its value left where
// fn (or the left operand) was. Returns the next position.
ZOT_INLINE u32 call_in_general(const Cell& fn, const Cell* code, u32 pos, u32 end, const Cell* name_in,
                               const Cell* refs, u32 ref_index, bool left, bool not_pure) {
  const Cell* name = name_in && name_in->is(T_WORD) ? name_in : anon_word();
  Cell* const t0 = stack::g_top;
  const u32 t = fn.type();
  const bool tr = traced(code);
  // open tells what starts the call: its word, or the function itself.
  if (ZOT_UNLIKELY(tr)) fire(kEvOpen, code, i32(pos), name, name == name_in ? name : &fn);
  if (!left) stack::push(&fn);
  stack::push_frame(name, t == T_FUNCTION || t == T_ROUTINE ? stack::kHdrInterpFunction : stack::kHdrInterpStep);
  if (left) stack::g_top = stack::g_base + 1;

  Call c;
  start(c, fn, name);
  CodeSource src{code, pos, end, left, not_pure};
  i32 locals = take_plain(c, src, left);
  if (ZOT_UNLIKELY(runtime::pending())) return src.pos;
  if (refs) {
    take_path_refinements(c, src, refs, ref_index);
    if (ZOT_UNLIKELY(runtime::pending())) return src.pos;
  }
  if (ZOT_UNLIKELY(tr)) fire(kEvCall, code, i32(src.pos), name, &fn);
  invoke(c, locals);
  // An exit from inside the callee has already unwound the stacks past us.
  if (ZOT_UNLIKELY(runtime::pending())) return src.pos;
  return finish_call(code, src.pos, name, t0);
}

// call_in_general, out of line.
u32 call_general(const Cell& fn, const Cell* code, u32 pos, u32 end, const Cell* name, const Cell* refs,
                 u32 ref_index, bool left, bool not_pure);

// The evaluator's call (call_in_general), a function! called from untraced
// code taking the lean road.
ZOT_INLINE u32 call_from_code(const Cell& fn, const Cell* code, u32 pos, u32 end, const Cell* name,
                              const Cell* refs, u32 ref_index, bool left, bool not_pure = false) {
  if (!left && ZOT_LIKELY(!g_tracing)) {
    if (fn.is(T_FUNCTION)) {
      if (!refs && !not_pure) return call_function_by_word(fn, code, pos, end, name);
      if (ref_index == 1 && !not_pure) return call_function_by_path(fn, code, pos, end, name, refs);
      return call_function_from_code(fn, code, pos, end, name, refs, ref_index, not_pure);
    }
    if (!refs && (fn.is(T_NATIVE) || fn.is(T_ACTION))) return call_native_from_code(fn, code, pos, end, name);
  }
  return call_general(fn, code, pos, end, name, refs, ref_index, left, not_pure);
}

}  // namespace zot::interp::callpath
