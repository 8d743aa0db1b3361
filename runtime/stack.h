// The argument stack and the call stack. Every call finds its arguments at the
// frame base and leaves its result in the base cell (the result slot). Both
// stacks are allocated once and never move, so pointers into them stay valid.
#pragma once

#include <cstdint>
#include <exception>

#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/throw.h"

namespace zot::stack {

// Deep enough for recursion a hundred thousand calls deep. The buffers are
// reserved once; argument cells are made ready (unset) a chunk at a time as
// the stack first reaches them, so a shallow program touches little of it.
constexpr u32 kArgCells = 1000000;
constexpr u32 kCallFrames = 640000;

// A call frame: five 32-bit words.
struct Frame {
  u32 header;        // bits 8-23 symbol id, 24-27 type, 28 return target, 31 interpreted
  u32 caller_base;   // argument-stack index of the base when the frame was pushed
  mem::Node word_ctx;  // context of the called word
  mem::Node fn_ctx;    // function context (type 1); the block evaluated (type 7, held for the collector); or 0
  u32 saved_values;    // that context's values word at push time
};
static_assert(sizeof(Frame) == 20, "call frames are five 32-bit words");

enum FrameType : u32 {
  kFunction = 1,
  kNative = 2,
  kTry = 4,
  kTryAll = 5,
  kCatch = 6,
  kEval = 7,
  kLoop = 8,
  kReserved = 9,
};

// The header's fields.
constexpr u32 kSymbolShift = 8;
constexpr u32 kTypeShift = 24;
constexpr u32 kReturnTarget = 1u << 28;
constexpr u32 kInterpreted = 1u << 31;
constexpr u32 header_of(FrameType t) { return u32(t) << kTypeShift; }

// The headers frames are pushed with: a type and its flags.
constexpr u32 kHdrFunction = header_of(kFunction);
constexpr u32 kHdrNative = header_of(kNative);
constexpr u32 kHdrCompiledBody = header_of(kNative) | kReturnTarget;
constexpr u32 kHdrInterpStep = header_of(kNative) | kInterpreted;
constexpr u32 kHdrInterpFunction = header_of(kFunction) | kInterpreted;
constexpr u32 kHdrEval = header_of(kEval) | kInterpreted;
constexpr u32 kHdrTry = header_of(kTry);
constexpr u32 kHdrTryAll = header_of(kTryAll);
constexpr u32 kHdrCatch = header_of(kCatch);
constexpr u32 kHdrLoop = header_of(kLoop);
constexpr u32 kHdrReserved = header_of(kReserved);

// Context cell flag: the context's values live on the argument stack.
constexpr u32 kCtxStackValues = 0x400000u;

ZOT_INLINE u32 frame_type(const Frame* f) { return (f->header >> kTypeShift) & 0xF; }
ZOT_INLINE u32 frame_symbol(const Frame* f) { return (f->header >> kSymbolShift) & 0xFFFF; }

// State (process globals).
extern Cell* g_bottom;
extern Cell* g_base;
extern Cell* g_top;
extern Cell* g_end;
extern Frame* g_cbottom;
extern Frame* g_ctop;
extern Frame* g_cend;
// Where an overflow is raised: a little short of the ends, so that making and
// raising the stack-overflow error itself has room (the limits move to the
// very ends while it is raised). The argument limit also stops at the end of
// the cells made ready so far.
extern Cell* g_arg_limit;
extern Frame* g_call_limit;
constexpr u32 kArgHeadroom = 256;
constexpr u32 kCallHeadroom = 64;
// The machine stack: a call frame pushed below this address raises the
// stack-overflow error, so deep recursion ends in the language's error before
// the interpreter thread's stack runs out (0 when the stack's extent is
// unknown). Lowered to g_machine_end while that error is being raised.
extern std::uintptr_t g_machine_limit;
extern std::uintptr_t g_machine_end;
ZOT_INLINE bool machine_stack_low() {
  return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)) < g_machine_limit;
}

void init();
// The symbol ids of the special frame words, once symbols exist (0 before).
void set_special_symbols(u32 body, u32 anon, u32 not_found);
u32 body_symbol();
u32 anon_symbol();

// Argument-stack positions as stored in frames and stack-held context values
// (index + 1, so 0 can mean "none").
ZOT_INLINE u32 ref_of(const Cell* c) { return u32(c - g_bottom) + 1; }
ZOT_INLINE Cell* cell_of(u32 ref) { return g_bottom + (ref - 1); }
ZOT_INLINE u32 index_of(const Cell* c) { return u32(c - g_bottom); }

// Raises the stack-overflow error (either stack full).
ZOT_NORETURN void overflow();
// The argument stack met its limit: makes the next chunk ready and returns,
// or raises the stack-overflow error when the stack is full.
void arg_limit_reached();

// ---- frames (each push checks for overflow, then sets base = top)
// Every call pushes and pops frames: these stay inline.
ZOT_INLINE void push_frame(const Cell* word, u32 flags) {
  if (ZOT_UNLIKELY(g_ctop >= g_call_limit) || ZOT_UNLIKELY(machine_stack_low())) overflow();
  Frame* f = g_ctop++;
  u32 sym = word ? (word->word_symbol() & 0xFFFF) : 0;
  f->header = (sym << kSymbolShift) | flags;
  f->caller_base = index_of(g_base);
  f->word_ctx = word ? word->word_context() : 0;
  f->fn_ctx = 0;
  f->saved_values = 0;
  g_base = g_top;
}
// A block-evaluation frame that keeps the block's series alive while it runs.
ZOT_INLINE void push_block_frame(const Cell* word, u32 flags, mem::Node block) {
  push_frame(word, flags);
  (g_ctop - 1)->fn_ctx = block;
}
void push_function_frame(const Cell* word, mem::Node fn_ctx);
ZOT_INLINE void push_native_frame(const Cell* word) { push_frame(word, kHdrNative); }
ZOT_INLINE void push_try_frame(const Cell* word) { push_frame(word, kHdrTry); }
ZOT_INLINE void push_try_all_frame(const Cell* word) { push_frame(word, kHdrTryAll); }
ZOT_INLINE void push_catch_frame(const Cell* word) { push_frame(word, kHdrCatch); }
ZOT_INLINE void push_eval_frame(const Cell* word) { push_frame(word, kHdrEval); }
ZOT_INLINE void push_loop_frame(const Cell* word) { push_frame(word, kHdrLoop); }
ZOT_INLINE void push_interpreted_native_frame(const Cell* word) { push_frame(word, kHdrInterpStep); }
ZOT_INLINE void push_interpreted_function_frame(const Cell* word) {
  push_frame(word, kHdrInterpFunction);
}
ZOT_INLINE void push_reserved_frame(const Cell* word) { push_frame(word, kHdrReserved); }
void push_compiled_function_frame(const Cell* word, mem::Node fn_ctx);

ZOT_INLINE void set_top_frame_flag(bool on) {
  if (g_ctop > g_cbottom) {
    if (on) g_ctop[-1].header |= kReturnTarget;
    else g_ctop[-1].header &= ~kReturnTarget;
  }
}
void mark_top_interpreted();
ZOT_INLINE Frame* top_frame() { return g_ctop > g_cbottom ? g_ctop - 1 : nullptr; }
ZOT_INLINE u32 depth() { return u32(g_ctop - g_cbottom); }

// ---- popping
ZOT_INLINE void pop_frame() {
  Frame* f = --g_ctop;
  g_top = g_base + 1;
  g_base = g_bottom + f->caller_base;
}
void pop_function_frame();
ZOT_INLINE void pop_frame_to_result() {
  Cell* res = g_base;
  pop_frame();
  copy_cell(res, g_base);
}
ZOT_INLINE void drop_frame() {
  Frame* f = --g_ctop;
  g_base = g_top = g_bottom + f->caller_base;
}
void drop_function_frame();

// ---- cells
// A new cell at the top, unset: the collector marks the stack up to its top,
// so a cell above the old top never shows what a call left there.
ZOT_INLINE Cell* reserve_slot() {
  if (ZOT_UNLIKELY(g_top + 1 >= g_arg_limit)) arg_limit_reached();
  return set_unset(g_top++);
}
ZOT_INLINE Cell* push(const Cell* c) {
  if (ZOT_UNLIKELY(g_top + 1 >= g_arg_limit)) arg_limit_reached();
  *g_top = *c;
  return g_top++;
}
ZOT_INLINE void pop(u32 n) { g_top = (g_top - g_bottom) >= i64(n) ? g_top - n : g_bottom; }
ZOT_INLINE Cell* clear_frame() { return g_top = g_base; }
ZOT_INLINE Cell* drop_arguments() {
  g_top = g_base + 1;
  return g_base;
}
ZOT_INLINE Cell* result() { return g_base; }
ZOT_INLINE void set_result(const Cell* c) { copy_cell(c, g_base); }
ZOT_INLINE void set_only_result(const Cell* c) {
  Cell v = *c;
  g_top = g_base + 1;
  *g_base = v;
}
void try_result();
ZOT_INLINE Cell* top_value() { return g_top > g_bottom ? g_top - 1 : g_top; }
ZOT_INLINE TypeId top_type() { return top_value()->type(); }

// Puts the argument stack's top back where it was when the scope ends, for
// cells pushed only to keep work values alive. Not while an error unwinds:
// its value is on the stack by then, and the try frame restores the rest.
struct TopMark {
  Cell* top = g_top;
  int unwinding = std::uncaught_exceptions();
  ~TopMark() {
    if (std::uncaught_exceptions() == unwinding) g_top = top;
  }
};

// ---- non-local exits
// Removes frames down to the nearest of the type (or a try/all frame, or the
// bottom); returns the frame found (still on the stack), or null when none.
Frame* pop_to_frame_type(u32 type, bool keep);
ZOT_INLINE Frame* pop_to_loop_frame(bool keep) { return pop_to_frame_type(kLoop, keep); }
// The exits: each leaves the stacks where the exit lands (or raises the
// error of a missing target) and sets the exit pending (runtime::pending()).
void unwind_break(bool with_value, bool is_continue);
void unwind_return(bool with_value, bool include_top);
void unwind_throw(u32 code);
// The last step of raising a language error.
ZOT_NORETURN void throw_error(const Cell* error);
// Prints an error that no try frame took (through the error datatype's form).
void print_uncaught_error(const Cell* error);

// The word naming the nearest named frame (skipping <body> and <anon> ones).
Cell calling_word();
bool in_interpreter(const Frame* from, bool one_only);

// Saved call position (a frame index + 1; 0 when unset).
extern u32 g_saved_call_pos;

}  // namespace zot::stack
