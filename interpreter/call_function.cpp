// A function! called from untraced code, the most common call there is: the
// call call_from_code makes, without the general walk. Its plain parameters
// and refinements are read from the call shape; a refinement spelled
// otherwise than in the spec, or with a quoted parameter, takes the general
// road for that refinement.
#include "datatypes/simple.h"
#include "interpreter/call_path.h"
#include "platform/platform.h"

namespace zot::interp::callpath {

namespace {

// A function's body evaluated untraced in the function's own frame, as a
// block frame of its own above it would: each expression's value is pushed
// past the arguments and locals (which its words read and set in place),
// the last one becomes the result. What is saved is a <body> frame, which
// reports pass over.
ZOT_INLINE void run_body(const Cell& body, Cell* result) {
  ZOT_FUZZ_STEP();
  const mem::Series* series = mem::series_of(body.series_node());
  const bool library = (series->flags & mem::kLibrary) != 0;
  // Ctrl+C at the console stops the user's code at its next block.
  if (ZOT_UNLIKELY(platform::interrupt_requested()) && !library) halt_on_interrupt();
  const u32 pos = u32(body.series_index());
  const u32 end = (series->tail - series->head) / u32(sizeof(Cell));  // blocks hold cells
  if (pos >= end) {
    set_unset(result);
    return;
  }
  // The body needs no holding: every caller holds the function, whose body
  // (the series, whatever is done to its cells) stays the same.
  NearGuard near;
  if (!run_expressions_at(&body, pos, end, library, 0, stack::g_top)) return;
  *result = stack::g_top[-1];
}

// While a function runs, its context points at this call's arguments; the
// previous values come back on every way out (recursion, unwinding).
struct ValuesGuard {
  mem::Node ctx;  // the context's buffer moves: it is found again through its node
  u32 saved;
  ZOT_INLINE ValuesGuard(mem::Node c, u32 values) : ctx(c), saved(context::ctx_cell(c)->context_values()) {
    context::ctx_cell(ctx)->set_context_values(values);
  }
  ZOT_INLINE ~ValuesGuard() { context::ctx_cell(ctx)->set_context_values(saved); }
};
// Its words find their values through the evaluator's places meanwhile.
// (Kept apart from ValuesGuard: GCC 12 miscompiled one guard restoring
// both, conditionally.)
struct PlacesGuard {
  u32 ctx = g_places.fn_ctx;
  Cell* values = g_places.fn_values;
  ZOT_INLINE PlacesGuard(mem::Node fn_ctx, Cell* fn_values) {
    g_places.fn_ctx = fn_ctx;
    g_places.fn_values = fn_values;
  }
  ZOT_INLINE ~PlacesGuard() {
    g_places.fn_ctx = ctx;
    g_places.fn_values = values;
  }
};

// return and exit land at the function (the value is already in its result
// slot); the other exits go on outward. Answers whether the call goes on.
ZOT_INLINE bool land_exit() {
  if (runtime::g_pending != kThrowReturn && runtime::g_pending != kThrowExit) return false;
  runtime::take_pending();
  runtime::g_thrown_code = 0;
  return true;
}

// run_function for a function marked neither trace nor no-trace, called
// while nothing is traced, its frame the top one: the body's value in
// result. Answers false when an exit that does not land here is on its way
// out. The frame is popped next, so its return-target flag stays set.
ZOT_INLINE bool run_untraced(const Cell& f, const Cell& body, Cell* result) {
  ValuesGuard values(f.function_context(), stack::ref_of(stack::g_base));
  PlacesGuard places(f.function_context(), stack::g_base);
  stack::g_ctop[-1].header |= stack::kReturnTarget;
  try {
    if (ZOT_LIKELY(body.is(T_BLOCK))) run_body(body, result);
    else set_unset(result);
  } catch (const RuntimeThrow& t) {
    if (t.code != kThrowReturn && t.code != kThrowExit) throw;
    runtime::g_thrown_code = 0;
    goto landed;
  }
  if (ZOT_LIKELY(!runtime::pending())) return true;
landed:
  if (ZOT_UNLIKELY(runtime::pending()) && !land_exit()) return false;
  // The value of return or exit is in the result slot.
  *result = *stack::g_base;
  return true;
}

// The refinements of the path refs from element ref_index on, found among
// the shape's when spelled as in the spec, their arguments taken from the
// code: the slots of the frame whose arguments start at args. sh is looked
// up again after anything that ran Zot code. Answers false on a pending
// exit.
ZOT_INLINE bool take_shape_refinements(const Cell& fn, const Cell* name, const Cell* code, CodeView& cv, u32& pos,
                                       u32 end, const Cell* refs, u32 ref_index, const Shape*& sh, Cell* args) {
  const Cell path = *refs;
  u32 used = 0;  // the shape's refinements used so far, a bit each
  Refinements r;  // the general road's record, once it is taken
  Call c;         // the general road's call, made when first needed
  bool general = false;
  // The general road takes over the record of the refinements used.
  const auto take_general = [&] {
    if (general) return;
    start(c, fn, name);
    general = true;
    for (u32 b = 0; b < kShapeRefinements; b++)
      if ((used >> b) & 1) r.used[r.count++] = b + 1;
  };
  Cell el;
  bool on;
  for (u32 k = u32(path.series_index()) + ref_index; refinement_at(path, k, &el, &on); k++) {
    u32 j = 0;
    const u32 known = sh->ref_count;
    if (known != kNoTail) {
      const u32 sym = el.word_symbol();
      while (j < known && sh->ref_symbol[j] != sym) j++;
    }
    if (known == kNoTail || j == known) {
      take_general();
      CodeSource src{code, pos, end, false};
      take_code_refinement(c, src, el, on, r, refs);
      pos = src.pos;
      if (ZOT_UNLIKELY(runtime::pending())) return false;
      sh = &shape_of(fn);
      cv = view_of(code->series_node());
      continue;
    }
    if (ZOT_LIKELY(!general)) {
      if ((used >> j) & 1) raise_error(Err::ScriptDupRefine, refs);
      used |= 1u << j;
    } else {
      const u32 ordinal = j + 1;
      for (u32 u = 0; u < r.count; u++)
        if (r.used[u] == ordinal) raise_error(Err::ScriptDupRefine, refs);
      if (r.count < kMaxRefinements) r.used[r.count++] = ordinal;
    }
    const u32 slot = sh->ref_slot[j], params = sh->ref_params[j], at = sh->ref_entry[j];
    set_logic(args + slot, on);
    for (u32 p = 1; p <= params; p++) {
      const Cell e = p == 1 ? sh->ref_first[j] : view_of(sh->parsed).cells[at + p];
      if (ZOT_LIKELY(function::param_kind(&e) == function::kNormal)) {
        // A pure expression goes straight to its slot.
        Cell v;
        if (!take_argument(code, cv, pos, end, fn, name, slot + p, &v)) {
          if (ZOT_UNLIKELY(!typeset::has(&e, v.type()))) raise_expect(fn, name, slot + p, &v);
          args[slot + p] = v;
          continue;
        }
        if (ZOT_UNLIKELY(runtime::pending())) return false;
        sh = &shape_of(fn);
        cv = view_of(code->series_node());
        const Cell* pushed = stack::g_top - 1;
        if (ZOT_UNLIKELY(!typeset::has(&e, pushed->type()))) raise_expect(fn, name, slot + p, pushed);
      } else {
        take_general();
        CodeSource src{code, pos, end, false};
        src.take(c, e, slot + p, false);
        pos = src.pos;
        if (ZOT_UNLIKELY(runtime::pending())) return false;
        sh = &shape_of(fn);
        cv = view_of(code->series_node());
      }
      args[slot + p] = stack::g_top[-1];
      stack::g_top--;
    }
  }
  return true;
}

// The call, written once: refs is null for a call by a word (the plain
// road, compiled without the refinements).
ZOT_INLINE u32 call_lean(const Cell& fn_in, const Cell* code, u32 pos, u32 end, const Cell* name_in,
                             const Cell* refs, u32 ref_index, bool not_pure) {
  const Cell fn = fn_in;
  const Cell* const name = name_in && name_in->is(T_WORD) ? name_in : anon_word();
  Cell* const t0 = stack::g_top;
  const Shape* sh = not_pure ? nullptr : open_lean_call(fn, name, stack::kHdrInterpFunction, &Shape::lean);
  if (ZOT_UNLIKELY(!sh)) return call_general(fn, code, pos, end, name_in, refs, ref_index, false, not_pure);
  Cell* const args = stack::g_base;
  CodeView cv = view_of(code->series_node());
  if (!push_plain_arguments(fn, sh, code, cv, pos, end, name)) return pos;
  // The refinements start off (false), none for their arguments.
  if (sh->tail_slots) push_tail_slots(*sh);
  if (refs && !take_shape_refinements(fn, name, code, cv, pos, end, refs, ref_index, sh, args)) return pos;
  const i32 locals = sh->locals;
  const Cell body = sh->body;
  function::init_locals(locals);
  Cell result;
  if (ZOT_LIKELY(!g_tracing) && !(fn.header & (function::kTraceFlag | function::kNoTraceFlag))) {
    if (!run_untraced(fn, body, &result)) return pos;
  } else {
    run_function(fn, body);
    // An exit from inside the callee has already unwound the stacks past us.
    if (ZOT_UNLIKELY(runtime::pending())) return pos;
    result = *stack::g_base;
  }
  return finish_call_with(code, pos, name, t0, result);
}

}  // namespace

u32 call_function_from_code(const Cell& fn, const Cell* code, u32 pos, u32 end, const Cell* name, const Cell* refs,
                            u32 ref_index, bool not_pure) {
  return call_lean(fn, code, pos, end, name, refs, ref_index, not_pure);
}

u32 call_function_by_word(const Cell& fn, const Cell* code, u32 pos, u32 end, const Cell* name) {
  return call_lean(fn, code, pos, end, name, nullptr, 0, false);
}

u32 call_function_by_path(const Cell& fn, const Cell* code, u32 pos, u32 end, const Cell* name, const Cell* path) {
  return call_lean(fn, code, pos, end, name, path, 1, false);
}

void run_function(const Cell f, const Cell body) {
  ValuesGuard values(f.function_context(), stack::ref_of(stack::g_base));
  PlacesGuard places(f.function_context(), stack::g_base);
  stack::set_top_frame_flag(true);
  // A function marked trace turns tracing on (when a tracer is installed),
  // one marked no-trace turns it off, for the call. Other calls leave the
  // flag as their body set it, so `trace false` and `trace true` last.
  struct TraceFlag {
    bool marked;
    bool saved = g_tracing;
    ~TraceFlag() {
      if (marked) g_tracing = saved;
    }
  } trace_flag{(f.header & (function::kTraceFlag | function::kNoTraceFlag)) != 0};
  if (ZOT_UNLIKELY(trace_flag.marked)) {
    if ((f.header & function::kTraceFlag) && tracer_installed()) g_tracing = true;
    if (f.header & function::kNoTraceFlag) g_tracing = false;
  }
  // A library function's entry and exit are hidden, like the rest of it.
  const bool shown = g_tracing && (!body.is(T_BLOCK) || traced(&body));
  if (ZOT_UNLIKELY(shown)) fire(kEvProlog, nullptr, -1, &f, nullptr);
  try {
    if (!body.is(T_BLOCK)) {
      set_unset(stack::g_base);
    } else if (ZOT_LIKELY(!g_tracing) && (stack::g_ctop[-1].header & stack::kInterpreted)) {
      Cell result;
      set_unset(&result);
      run_body(body, &result);
      if (ZOT_LIKELY(!runtime::pending())) stack::set_only_result(&result);
    } else {
      // Traced, the body's own frame brings its enter and exit events.
      eval_block(&body, true);
    }
  } catch (const RuntimeThrow& t) {
    if (t.code != kThrowReturn && t.code != kThrowExit) throw;
    // The value is already in this frame's result slot.
    runtime::g_thrown_code = 0;
  }
  if (ZOT_UNLIKELY(runtime::pending()) && !land_exit()) return;
  if (ZOT_UNLIKELY(shown && g_tracing)) {
    Cell r = *stack::g_base;
    fire(kEvEpilog, nullptr, -1, &f, &r);
  }
  stack::set_top_frame_flag(false);
}

}  // namespace zot::interp::callpath
