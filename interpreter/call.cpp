// The calling convention (call.h). A call is: the callable pushed (unless it
// is an operator, whose left operand sits there), a frame named by its word,
// the arguments taken by the walk over the parsed spec, then one dispatch.
// The walk is written once, over three sources of arguments: the code being
// evaluated, an `apply` block, and C++ values.
#include "interpreter/call.h"

#include "datatypes/simple.h"
#include "datatypes/system.h"
#include "datatypes/words.h"
#include "interpreter/call_path.h"
#include "platform/platform.h"
#include "runtime/symbol.h"

namespace zot::interp {

namespace callpath {

Shape g_shapes[kShapeSlots];

// A parameter entry of a parsed spec (the return type is none).
ZOT_INLINE bool is_param(const Cell& e) {
  return e.is(T_TYPESET) && function::param_kind(&e) != function::kReturnType;
}

namespace {
bool g_shapes_used = false;  // an entry was filled since the cache was last cleared
}

void clear_shapes() {
  if (!g_shapes_used) return;
  std::memset(static_cast<void*>(g_shapes), 0, sizeof g_shapes);
  g_shapes_used = false;
}

const Shape& fill_shape(Shape& e, const Cell& fn_in) {
  const Cell fn = fn_in;
  const Cell parsed = function::parsed_spec(&fn);  // may allocate (and collect)
  Shape s{};
  s.more = fn.function_more();
  s.spec = fn.function_spec();
  s.type = u8(fn.type());
  s.parsed = parsed.series_node();
  const CodeView spec = view_of(parsed.series_node());
  s.count = spec.length;
  const bool native = fn.is(T_NATIVE) || fn.is(T_ACTION);
  s.simple = true;
  s.leading = true;
  s.rest = u16(spec.length);
  bool before_refinements = true;
  u32 slot = 0;
  for (u32 i = 0; i < spec.length; i++) {
    const Cell& e = spec.cells[i];
    if (e.is(T_TYPESET)) {
      const u32 kind = function::param_kind(&e);
      if (kind == function::kReturnType) continue;
      slot++;
      if (!before_refinements) continue;
      if (kind != function::kNormal || s.params == kShapeParams) s.simple = s.leading = false;
      else s.types[s.params++] = e;
    } else if (e.is(T_REFINEMENT)) {
      s.simple = false;
      if (before_refinements) s.rest = u16(i);
      before_refinements = false;
      if (native) s.refinements = true;
      if (s.ref_count < kShapeRefinements && i <= 0xFFFF && slot <= 0xFF) {
        u32 params = 0;
        while (i + 1 + params < spec.length && params < 0xFF && is_param(spec.cells[i + 1 + params])) params++;
        s.ref_symbol[s.ref_count] = e.word_symbol();
        s.ref_entry[s.ref_count] = u16(i);
        s.ref_slot[s.ref_count] = u8(slot);
        s.ref_params[s.ref_count] = u8(params);
        if (params) s.ref_first[s.ref_count] = spec.cells[i + 1];
        else set_unset(&s.ref_first[s.ref_count]);
        s.ref_count++;
      } else {
        s.ref_count = kNoTail;
      }
      slot++;
    } else if (e.is(T_INTEGER) && !native) {
      s.locals = e.int_value();
    }
  }
  if (!s.leading || spec.length > 0xFFFF) s.simple = s.leading = false;
  if (s.leading && !native) {
    u32 slots = 0;
    for (u32 i = s.rest; i < spec.length && slots <= 32; i++) {
      const Cell& e = spec.cells[i];
      if (e.is(T_REFINEMENT)) s.tail_refinements |= 1u << (slots++ & 31);
      else if (e.is(T_TYPESET) && function::param_kind(&e) != function::kReturnType) slots++;
    }
    s.tail_slots = slots <= 32 ? u8(slots) : kNoTail;
    for (u32 i = 0; i < kShapeTail; i++) {
      if (i >= slots) set_unset(&s.tail[i]);
      else if ((s.tail_refinements >> i) & 1) set_logic(&s.tail[i], false);
      else set_none(&s.tail[i]);
    }
  }
  if (!s.leading) s.params = 0;
  s.lean = fn.is(T_FUNCTION) && s.leading && s.tail_slots != kNoTail;
  if (fn.is(T_FUNCTION)) {
    s.body = *function::more_cell(&fn, function::kMoreBody);
  }
  s.epoch = collector::count();
  e = s;
  g_shapes_used = true;
  return e;
}

void raise_expect(const Cell& fn, const Cell* name, u32 param, const Cell* value) {
  Cell dt;
  make_cell(&dt, T_DATATYPE, value->type(), 0, 0);
  Cell pw = param_word(&fn, param);
  raise_error(Err::ScriptExpectArg, name, &dt, &pw);
}
void raise_expect(const Call& c, u32 param, const Cell* value) { raise_expect(c.fn, c.name, param, value); }

void raise_no_arg(const Cell& fn, const Cell* name, u32 param) {
  Cell pw = param_word(&fn, param);
  raise_error(Err::ScriptNoArg, name, &pw);
}
void raise_no_arg(const Call& c, u32 param) { raise_no_arg(c.fn, c.name, param); }

void CodeSource::literal() {
  Cell v = mem::series_of(code->series_node())->cells()[pos];
  switch (v.type()) {
    case T_PAREN:
      stack::push_interpreted_native_frame(body_word());
      eval_block(&v, true);
      pos++;
      if (runtime::pending()) return;
      stack::pop_frame();
      return;
    case T_GET_WORD: {
      Cell val = *context::get(&v);
      stack::push(&val);
      pos++;
      return;
    }
    case T_GET_PATH:
      pos = eval_path(&v, code, pos + 1, end, true, nullptr);
      return;
    default:
      stack::push(&v);
      pos++;
      return;
  }
}

void CodeSource::missing(const Call& c, const Cell& ts, u32 param) {
  if (function::param_kind(&ts) == function::kLitParam && typeset::has(&ts, T_UNSET)) {
    Cell u;
    set_unset(&u);
    stack::push(&u);
    return;
  }
  raise_no_arg(c, param);
}

// Switches on (or off) the refinement of the spec whose symbol is that of
// word, and takes its arguments from src (also when it is off: a native
// drops them, a function keeps them in their slots). dup_report: the value
// a second use of one refinement is reported with.
template <class Source>
ZOT_INLINE void take_refinement(Call& c, Source& src, const Cell& word, bool on, Refinements& r, const Cell* dup_report) {
  // Its place in the parsed spec: the entry, its slot, its ordinal and the
  // parameters that follow it.
  const u32 n = c.spec_length();
  u32 slot = 0, ordinal = 0, at = n, params = 0;
  // Spelled as in the spec (the common case): found among the refinements
  // the shape keeps, when it keeps them all.
  const Shape& sh = shape_of(c.fn);
  if (sh.ref_count != kNoTail) {
    const u32 sym = word.word_symbol();
    for (u32 j = 0; j < sh.ref_count; j++) {
      if (sh.ref_symbol[j] == sym) {
        at = sh.ref_entry[j];
        slot = sh.ref_slot[j];
        ordinal = j + 1;
        params = sh.ref_params[j];
        break;
      }
    }
  }
  if (at == n) {
    // Else the walk over the spec, and the same word in another case.
    const Cell* spec = c.entries();  // nothing runs during the search
    for (int pass = 0; pass < 2 && at == n; pass++) {
      const u32 sym = pass ? symbol::resolve(word.word_symbol()) : word.word_symbol();
      slot = ordinal = 0;
      for (u32 i = 0; i < n; i++) {
        const Cell& e = spec[i];
        if (e.is(T_TYPESET)) {
          if (function::param_kind(&e) != function::kReturnType) slot++;
        } else if (e.is(T_REFINEMENT)) {
          ordinal++;
          if (e.word_symbol() == word.word_symbol() || (pass && symbol::resolve(e.word_symbol()) == sym)) {
            at = i;
            break;
          }
          slot++;
        }
      }
    }
    if (at == n) {
      Cell ref = word;
      set_type(&ref, T_REFINEMENT);
      raise_error(Err::ScriptNoRefine, c.name, &ref);
    }
    while (at + 1 + params < n && is_param(spec[at + 1 + params])) params++;
  }
  for (u32 u = 0; u < r.count; u++)
    if (r.used[u] == ordinal) raise_error(Err::ScriptDupRefine, dup_report);
  if (r.count < kMaxRefinements) r.used[r.count++] = ordinal;
  if (c.native) {
    if (on && ordinal <= kMaxRefinements) c.refs[ordinal - 1] = i32(stack::g_top - stack::g_base);
  } else {
    set_logic(stack::g_base + slot, on);
  }
  // Its arguments (the spec is read again after each: taking one runs Zot
  // code, which may move it).
  for (u32 k = 1; k <= params; k++) {
    const Cell e = c.entry(at + k);
    src.take(c, e, slot + k, false);
    if (ZOT_UNLIKELY(runtime::pending())) return;
    if (!c.native) {
      stack::g_base[slot + k] = *stack::top_value();
      stack::pop(1);
    } else if (!on) {
      stack::pop(1);
    }
  }
}

void take_code_refinement(Call& c, CodeSource& src, const Cell& word, bool on, Refinements& r, const Cell* path) {
  take_refinement(c, src, word, on, r, path);
}

// The refinements of a path after the function, from element from on: each
// is a word, or a get-word whose value (none or false: off) switches it.
void take_path_refinements(Call& c, CodeSource& src, const Cell* path, u32 from) {
  const Cell p = *path;
  Refinements r;
  Cell el;
  bool on;
  for (u32 k = u32(p.series_index()) + from; refinement_at(p, k, &el, &on); k++) {
    take_refinement(c, src, el, on, r, path);
    if (ZOT_UNLIKELY(runtime::pending())) return;
  }
}

}  // namespace callpath

namespace {

using namespace callpath;

// An `apply` block: each argument is the next expression of the block (one
// value as it stands with safer), fetched as the evaluator would for its kind
// of parameter; past the block's tail, all gives none and otherwise no-arg.
struct BlockSource {
  Cell args;
  u32 pos;
  bool all;
  bool safer;

  bool more() const { return pos < mem::series_of(args.series_node())->length(); }

  void push_value(u32 kind) {
    Cell v = mem::series_of(args.series_node())->cells()[pos];
    if (safer || kind == function::kGetParam) {
      stack::push(&v);
      pos++;
    } else if (kind == function::kLitParam && v.is(T_GET_WORD)) {
      stack::push(context::get(&v));
      pos++;
    } else if (kind == function::kLitParam && !v.is(T_PAREN)) {
      stack::push(&v);
      pos++;
    } else {
      pos = eval_next(&args, pos, mem::series_of(args.series_node())->length(), true);
      runtime::raise_pending();
    }
  }

  bool take(const Call& c, const Cell& entry, u32 param, bool) {
    const Cell ts = entry;  // the spec may move while the argument is evaluated
    if (!more()) {
      if (!all) raise_no_arg(c, param);
      Cell none;
      set_none(&none);
      stack::push(&none);
    } else {
      push_value(function::param_kind(&ts));
    }
    check_arg(c, ts, param);
    return true;
  }

  // Passes over the argument of an inactive refinement's parameter.
  void skip(u32 kind) {
    if (!more()) return;
    if (safer) {
      pos++;
      return;
    }
    Cell* top = stack::g_top;
    push_value(kind);
    stack::g_top = top;
  }
};

// C++ values: the parameters take them in order, none past the last one;
// they are not type-checked.
struct ValueSource {
  const Cell* values;
  u32 count;
  u32 given = 0;

  ZOT_INLINE bool take(const Call&, const Cell&, u32, bool) {
    Cell v;
    if (given < count) v = values[given];
    else set_none(&v);
    given++;
    stack::push(&v);
    return false;
  }
};

// apply/all: the spec items in order; each refinement is on when the
// block's next value is not none or false; the arguments of an inactive one
// are passed over and get none.
i32 take_all(Call& c, BlockSource& src) {
  bool active = true;
  u32 param = 0;
  i32 locals = 0;
  for (u32 i = 0; i < c.spec_length(); i++) {
    const Cell e = c.entry(i);
    if (e.is(T_TYPESET)) {
      if (function::param_kind(&e) == function::kReturnType) continue;
      if (active) {
        src.take(c, e, param, false);
      } else {
        src.skip(function::param_kind(&e));
        if (!c.native) {
          Cell none;
          set_none(&none);
          stack::push(&none);
        }
      }
      param++;
    } else if (e.is(T_REFINEMENT)) {
      param++;
      active = false;
      if (src.more()) {
        Cell* top = stack::g_top;
        src.push_value(function::kNormal);
        active = !logic::is_false(stack::top_value());
        stack::g_top = top;
      }
      if (c.native) {
        // A native's refinement carries its ordinal in the parsed spec.
        const i32 ordinal = e.word_index();
        if (active && ordinal >= 1 && ordinal <= i32(kMaxRefinements))
          c.refs[ordinal - 1] = i32(stack::g_top - stack::g_base);
      } else {
        Cell flag;
        set_logic(&flag, active);
        stack::push(&flag);
      }
    } else if (e.is(T_INTEGER) && !c.native) {
      locals = e.int_value();
    }
  }
  return locals;
}

}  // namespace

u32 callpath::call_general(const Cell& fn, const Cell* code, u32 pos, u32 end, const Cell* name, const Cell* refs,
                 u32 ref_index, bool left, bool not_pure) {
  return call_in_general(fn, code, pos, end, name, refs, ref_index, left, not_pure);
}

// An operator's function is on no stack: the call holds it.
u32 call_operator(const Cell* fn, const Cell* code, u32 pos, u32 end, const Cell* name, bool not_pure) {
  Rooted held = *fn;
  const u32 t = held.type();
  if (g_tracing || (t != T_ACTION && t != T_NATIVE))
    return call_in_general(held, code, pos, end, name, nullptr, 0, true, not_pure);
  // The left operand sits at the top, just past it: in sight of the
  // collector while the shape is made (which may allocate).
  Cell* const t0 = stack::g_top;
  stack::g_top = t0 + 1;
  const Shape& sh = shape_of(held);
  stack::g_top = t0;
  if (!sh.simple || sh.params != 2) return call_in_general(held, code, pos, end, name, nullptr, 0, true, not_pure);
  // The common operator untraced: a native or action of two plain
  // parameters, called as call_from_code would, without the walk over its
  // spec.
  const Cell right_types = sh.types[1];  // the entry may be taken over while the operand runs
  stack::push_frame(name, stack::kHdrInterpStep);
  stack::g_top = stack::g_base + 1;
  Call c;  // for error reports
  c.fn = held;
  c.name = name;
  if (!typeset::has(&sh.types[0], t0->type())) raise_expect(c, 0, t0);
  CodeSource src{code, pos, end, true, not_pure};
  src.take(c, right_types, 1, true);
  if (ZOT_UNLIKELY(runtime::pending())) return src.pos;
  invoke(c, 0);
  if (ZOT_UNLIKELY(runtime::pending())) return src.pos;
  return finish_call(code, src.pos, name, t0);
}

Cell param_word(const Cell* fn, u32 index) {
  Cell spec = function::spec_of(fn);
  u32 n = 0;
  for (u32 i = 0; i < mem::series_of(spec.series_node())->length(); i++) {
    Cell c = mem::series_of(spec.series_node())->cells()[i];
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

u32 call_value(const Cell* fn, const Cell* code, u32 pos, u32 end, const Cell* name, const Cell* refs,
               u32 ref_index, bool left) {
  if (left) return call_operator(fn, code, pos, end, name, false);
  return call_from_code(*fn, code, pos, end, name, refs, ref_index, false);
}

void apply_value(const Cell* fn_in, const Cell* name_in, const Cell* args, bool all, bool safer) {
  Cell* const b = stack::g_base;
  const Cell fn = *fn_in;
  const Cell name = *name_in;
  stack::push(&fn);  // keeps the callee (and its cached parsed spec) alive
  stack::push_frame(&name, fn.is(T_FUNCTION) ? stack::kHdrInterpFunction : stack::kHdrInterpStep);
  Call c;
  start(c, fn, &name);
  BlockSource src{*args, u32(args->series_index()), all, safer};
  if (src.pos > mem::series_of(args->series_node())->length()) src.pos = mem::series_of(args->series_node())->length();
  i32 locals;
  if (all) {
    locals = take_all(c, src);
  } else {
    locals = take_plain(c, src, false);
    Refinements r;
    while (src.more()) {
      const Cell ref = mem::series_of(src.args.series_node())->cells()[src.pos++];
      if (!ref.is(T_REFINEMENT)) raise_error(Err::ScriptBadRefine, &ref);
      take_refinement(c, src, ref, true, r, &src.args);
    }
  }
  invoke(c, locals);
  if (fn.is(T_FUNCTION)) runtime::raise_pending();
  if (runtime::pending()) return;  // the callee's exit has already unwound past us
  const Cell result = *stack::g_base;
  stack::pop_frame();
  *b = result;
  stack::g_top = b + 1;
}

u32 push_values_as_arguments(const Cell* fn, const Cell* args, u32 count) {
  Call c;
  start(c, *fn, anon_word());
  ValueSource src{args, count};
  function::init_locals(take_plain(c, src, false));
  return src.given < count ? src.given : count;
}

void call_function(const Cell* fn) {
  callpath::run_function(*fn, *function::more_cell(fn, function::kMoreBody));
}

void call_as_callback(const Cell* fn, u32 callback_class) {
  struct TraceFlag {
    bool saved = g_tracing;
    ~TraceFlag() { g_tracing = saved; }
  } trace_flag;
  if (g_tracing && !(sys::callback_bits() & callback_class)) g_tracing = false;
  const bool traced = g_tracing;
  Cell f = *fn;
  if (ZOT_UNLIKELY(traced)) fire(kEvCall, nullptr, -1, nullptr, &f);
  call_function(&f);
  if (ZOT_UNLIKELY(traced) && !runtime::pending()) {
    Cell r = *stack::g_base;
    fire(kEvReturn, nullptr, -1, nullptr, &r);
  }
}

Cell call_callback(const Cell* fn_in, const Cell* args, u32 count, const CallbackOptions& o) {
  const Cell fn = *fn_in;
  Cell* const t0 = stack::g_top;
  stack::push(&fn);
  stack::push_frame(o.frame_word, o.frame_header);
  Cell* const first = stack::g_base;
  const u32 taken = push_values_as_arguments(&fn, args, count);
  if (o.plain) call_function(&fn);
  else call_as_callback(&fn, o.callback_class);
  runtime::raise_pending();
  const Cell answer = *stack::g_base;
  if (o.args_after)
    for (u32 i = 0; i < count; i++) o.args_after[i] = i < taken ? first[i] : args[i];
  stack::pop_frame();
  stack::g_top = t0;
  return answer;
}

// Calls a sort comparator function with two values (in a frame named
// <compare-callback>).
void call_comparator(const Cell* fn, const Cell* first, const Cell* second, Cell* answer) {
  const Cell args[2] = {*first, *second};
  *answer = call_callback(fn, words::word(w::tag_compare_callback), args, 2, sys::kSortCallback);
}

}  // namespace zot::interp
