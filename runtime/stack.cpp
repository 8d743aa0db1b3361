#include "runtime/stack.h"

#include "runtime/cycles.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "platform/platform.h"

namespace zot::stack {

Cell* g_bottom = nullptr;
Cell* g_base = nullptr;
Cell* g_top = nullptr;
Cell* g_end = nullptr;
Frame* g_cbottom = nullptr;
Frame* g_ctop = nullptr;
Frame* g_cend = nullptr;
Cell* g_arg_limit = nullptr;
Frame* g_call_limit = nullptr;
std::uintptr_t g_machine_limit = 0;
std::uintptr_t g_machine_end = 0;
u32 g_saved_call_pos = 0;

namespace {

// Machine stack kept free below the limit: what making, raising and catching
// the overflow error needs (sanitized builds use far bigger frames), and,
// below the end, what the fatal exit needs when even that runs out.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::uintptr_t kMachineHeadroom = 8u << 20;
#else
constexpr std::uintptr_t kMachineHeadroom = 2u << 20;
#endif
constexpr std::uintptr_t kMachineEnd = 256u << 10;

std::uintptr_t g_machine_normal = 0;

// Argument cells below g_ready are initialised; the rest were never used.
constexpr u32 kArgChunk = 1u << 16;
constexpr u32 kFirstArgChunk = 1u << 12;
Cell* g_ready = nullptr;
bool g_raising = false;  // the stack-overflow error is being raised

void ready_to(Cell* to) {
  if (to > g_end) to = g_end;
  for (; g_ready < to; g_ready++) set_unset(g_ready);
}

Cell* normal_arg_limit() {
  Cell* hard = g_end - kArgHeadroom;
  return g_ready < hard ? g_ready : hard;
}

u32 g_body_sym = 0;
u32 g_anon_sym = 0;
u32 g_not_found_sym = 0;

ZOT_INLINE Cell* base_index_cell(u32 idx) { return g_bottom + idx; }

// A function frame's context gets back the values it had when the frame was
// pushed, so recursive calls of one function find their own arguments again.
ZOT_INLINE void restore_context(const Frame* f) {
  if (frame_type(f) == kFunction && f->fn_ctx) {
    mem::series_of(f->fn_ctx)->cells()[0].set_context_values(f->saved_values);
  }
}

ZOT_INLINE bool skipped_in_reports(u32 sym) {
  return sym == 0 || sym == g_body_sym || sym == g_anon_sym;
}

// Leaves `frames` (those above `keep`) restoring their function contexts.
void remove_frames_above(Frame* keep) {
  while (g_ctop > keep + 1) {
    --g_ctop;
    restore_context(g_ctop);
  }
}

}  // namespace

void init() {
  // Heap series: their buffers never move.
  mem::Node args = mem::alloc_heap_series(kArgCells, sizeof(Cell), 0);
  mem::Node calls = mem::alloc_heap_series(kCallFrames * sizeof(Frame) / sizeof(Cell), sizeof(Cell), 0);
  mem::Series* a = mem::series_of(args);
  mem::Series* c = mem::series_of(calls);
  g_bottom = g_base = g_top = a->cells();
  g_end = g_bottom + kArgCells;
  g_ready = g_bottom;
  // Most programs never go deep: the first part made ready is small (the
  // buffer's untouched pages cost nothing), the rest follows by chunks.
  ready_to(g_bottom + kFirstArgChunk);
  g_raising = false;
  g_cbottom = g_ctop = reinterpret_cast<Frame*>(c->head_ptr());
  g_cend = g_cbottom + kCallFrames;
  g_arg_limit = normal_arg_limit();
  g_call_limit = g_cend - kCallHeadroom;
  g_saved_call_pos = 0;
  const std::uintptr_t low = platform::stack_limit();
  g_machine_normal = low ? low + kMachineHeadroom : 0;
  g_machine_end = low ? low + kMachineEnd : 0;
  g_machine_limit = g_machine_normal;
}

void set_special_symbols(u32 body, u32 anon, u32 not_found) {
  g_body_sym = body;
  g_anon_sym = anon;
  g_not_found_sym = not_found;
}
u32 body_symbol() { return g_body_sym; }
u32 anon_symbol() { return g_anon_sym; }

void arg_limit_reached() {
  if (!g_raising && g_arg_limit < g_end - kArgHeadroom) {
    ready_to(g_ready + kArgChunk);
    g_arg_limit = normal_arg_limit();
    if (g_top + 1 < g_arg_limit) return;
  }
  overflow();
}

void overflow() {
  // An overflow while the overflow error itself is being made: no room is left.
  if (g_raising) runtime::quit(runtime::kFatalStackOverflow, ZOT_CALLER_ADDRESS());
  // Room for the error's own work: when the argument stack is full, drop
  // five cells (a full call stack leaves the arguments alone: they can belong
  // to the frames that will catch the error); forget the cycle guards; let
  // the stacks use their headroom until the error has left.
  if (g_top + 1 >= g_arg_limit) {
    g_top = (g_top - g_bottom) >= 5 ? g_top - 5 : g_bottom;
    if (g_base > g_top) g_base = g_top;
  }
  cycles::reset();
  struct Headroom {
    Headroom() {
      ready_to(g_top + kArgHeadroom);
      g_arg_limit = g_ready;
      g_call_limit = g_cend - 1;
      g_machine_limit = g_machine_end;
      g_raising = true;
    }
    ~Headroom() {
      g_arg_limit = normal_arg_limit();
      g_call_limit = g_cend - kCallHeadroom;
      g_machine_limit = g_machine_normal;
      g_raising = false;
    }
  } headroom;
  raise_error(Err::InternalStackOverflow);
}

void push_function_frame(const Cell* word, mem::Node fn_ctx) {
  push_frame(word, kHdrFunction);
  Frame* f = g_ctop - 1;
  f->fn_ctx = fn_ctx;
  f->saved_values = fn_ctx ? mem::series_of(fn_ctx)->cells()[0].context_values() : 0;
}

void push_compiled_function_frame(const Cell* word, mem::Node fn_ctx) {
  if (fn_ctx) mem::series_of(fn_ctx)->cells()[0].set_context_values(ref_of(g_base));
  push_frame(word, kHdrCompiledBody);
}

void mark_top_interpreted() {
  if (Frame* f = top_frame()) f->header |= kInterpreted;
}

void pop_function_frame() {
  restore_context(g_ctop - 1);
  pop_frame();
}

void drop_function_frame() {
  restore_context(g_ctop - 1);
  drop_frame();
}

void try_result() {
  Cell* last = top_value();
  if (g_top > g_base && last->is(T_ERROR)) copy_cell(last, g_base);
  g_top = g_base + 1;
}

Frame* pop_to_frame_type(u32 type, bool keep) {
  Frame* const t0 = g_ctop;
  if (keep && g_ctop > g_cbottom && frame_type(g_ctop - 1) == type) {
    g_top = g_base + 1;  // nothing to remove
    return g_ctop - 1;
  }
  Frame* found = nullptr;
  while (g_ctop > g_cbottom) {
    Frame* f = --g_ctop;
    restore_context(f);
    u32 t = frame_type(f);
    if (t == type || t == kTryAll) {
      found = f;
      break;
    }
  }
  if (!found) {
    g_base = g_top = g_bottom;
    return nullptr;
  }
  g_ctop = found + 1;  // the found frame stays on the stack
  g_top = g_base + 1;  // the innermost result stays the last value
  if (keep) {
    // The found frame's own base: the caller base recorded in the frame above it.
    g_base = found + 1 < t0 ? base_index_cell((found + 1)->caller_base) : g_base;
  } else {
    g_base = base_index_cell(found->caller_base);
  }
  return found;
}

void unwind_break(bool with_value, bool is_continue) {
  Cell* const b0 = g_base;
  Cell* const t0 = g_top;
  Frame* const c0 = g_ctop;
  Frame* f = g_ctop - 2;  // leave out the native's own frame
  for (; f >= g_cbottom; --f) {
    u32 t = frame_type(f);
    if (t == kTryAll) break;
    if (t == kLoop) break;
  }
  if (f < g_cbottom || frame_type(f) != kLoop) {
    g_base = b0;
    g_top = t0;
    g_ctop = c0;
    raise_error(is_continue ? Err::ThrowContinue : Err::ThrowBreak);
  }
  Cell value;
  if (with_value && !is_continue) value = *b0;
  else set_unset(&value);
  Cell* loop_base = base_index_cell((f + 1)->caller_base);
  remove_frames_above(f);
  g_base = g_top = loop_base;
  *g_base = value;
  runtime::set_pending(is_continue ? kThrowContinue : kThrowBreak);
}

void unwind_return(bool with_value, bool include_top) {
  Cell* const b0 = g_base;
  Cell* const t0 = g_top;
  Frame* const c0 = g_ctop;
  Frame* f = include_top ? g_ctop - 1 : g_ctop - 2;
  for (; f >= g_cbottom; --f) {
    if (frame_type(f) == kTryAll) break;
    if (f->header & kReturnTarget) break;
  }
  if (f < g_cbottom || !(f->header & kReturnTarget)) {
    g_base = b0;
    g_top = t0;
    g_ctop = c0;
    raise_error(Err::ThrowReturn);
  }
  Cell value;
  if (with_value) value = *b0;
  else set_unset(&value);
  // The target's own base: recorded as caller base by the frame above it, or
  // the current base when the target is the top frame.
  Cell* target_base = f + 1 < g_ctop ? base_index_cell((f + 1)->caller_base) : b0;
  remove_frames_above(f);
  g_base = g_top = target_base;
  *g_base = value;
  runtime::set_pending(with_value ? kThrowReturn : kThrowExit);
}

void unwind_throw(u32 code) {
  Cell* const b0 = g_base;
  Cell* const t0 = g_top;
  Frame* const c0 = g_ctop;
  if (!g_saved_call_pos && g_ctop > g_cbottom) g_saved_call_pos = u32(g_ctop - 1 - g_cbottom) + 1;
  Frame* f = g_ctop - 2;
  for (; f >= g_cbottom; --f) {
    u32 t = frame_type(f);
    if (t == kTryAll || t == kCatch) break;
  }
  if (f < g_cbottom || frame_type(f) != kCatch) {
    g_base = b0;
    g_top = t0;
    g_ctop = c0;
    raise_error(Err::ThrowThrow, b0);
  }
  Cell value = *b0;
  Cell name = *(b0 + 1);
  Cell* catch_base = base_index_cell((f + 1)->caller_base);
  remove_frames_above(f);
  g_base = g_top = catch_base;
  push(&value);
  push(&name);
  runtime::set_pending(code);
}

void throw_error(const Cell* error) {
  Cell err = *error;
  if (g_ctop > g_cbottom) {
    Cell* const t0 = g_top;
    Frame* f = pop_to_frame_type(kTry, false);
    if (f) {
      g_ctop = f;  // the try frame goes too
      g_top = t0;
      push(&err);
      runtime::throw_code(kThrowError);
    }
  }
  // No try frame: print the error and end the process.
  g_base = g_bottom;
  *g_base = err;
  g_top = g_base + 1;
  print_uncaught_error(&err);
  runtime::exit_process(-2);
}

Cell calling_word() {
  Frame* f = g_saved_call_pos ? g_cbottom + (g_saved_call_pos - 1) : top_frame();
  g_saved_call_pos = 0;
  Cell w;
  if (f) {
    for (; f >= g_cbottom; --f) {
      if (!skipped_in_reports(frame_symbol(f))) {
        make_cell(&w, T_WORD, f->word_ctx, frame_symbol(f), u32(-1));
        return w;
      }
    }
  }
  make_cell(&w, T_WORD, 0, g_not_found_sym, u32(-1));
  return w;
}

bool in_interpreter(const Frame* from, bool one_only) {
  const Frame* f = (from ? from : g_ctop) - 1;
  if (!from && g_ctop > g_cbottom) f = g_ctop - 2;
  for (; f >= g_cbottom; --f) {
    if (f->header & kInterpreted) return true;
    if (one_only) return false;
  }
  return false;
}

}  // namespace zot::stack
