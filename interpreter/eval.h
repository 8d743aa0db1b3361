// The evaluator: walks blocks expression by expression, looks words up,
// sets words and paths, calls functions with arguments fetched by their
// specs, and applies infix operators strictly left to right.
#pragma once

#include "datatypes/words.h"
#include "interpreter/call.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zot::interp {

// The block being evaluated and the position of the current expression
// (error reports take their "near" text from it).
extern Cell g_near;
// The position of the latest `throw`: a throw that no catch takes reports
// it, wherever the error is raised on the way out.
extern Cell g_throw_near;

void init();

// Ctrl+C at the console (the platform's interrupt flag): stops the
// evaluation as `halt` does, so that the console prints "(halted)". Clears
// the flag; does not return.
void halt_on_interrupt();

// Evaluates the block from its index to its tail in a block-evaluation frame.
// The value of the last expression (unset for an empty block) becomes the
// caller's result with chain, else it stays as the last cell of the stack.
void eval_block(const Cell* block, bool chain);
// Evaluates the block in the current frame, a native's or a loop's that the
// caller has done with the arguments of: the block's value becomes the
// frame's only cell. The
// frame keeps its name, so errors report it as they would from a frame of
// the block's own above it.
void eval_block_here(const Cell* block);
// One expression at pos in an interpreter-step frame; with keep the value
// stays as the last cell, else it goes to the caller's result slot. Returns
// the next position.
u32 eval_next(const Cell* code, u32 pos, u32 end, bool keep);
// How eval_expression evaluates and where its value goes (the flags combine).
enum ExprFlags : u32 {
  kExprResult = 0,   // the value becomes the only cell of the frame
  kExprPush = 1,     // the value is pushed as the last cell
  kExprNoInfix = 2,  // an op! after the value is left to the caller
  kExprNotPure = 4,  // the caller found no pure expression at pos: a paren there runs in full
  kExprSetNotPure = 8,  // at a set-word: the caller found no pure expression as its value
};
// One expression at pos. Returns the next position.
u32 eval_expression(const Cell* code, u32 pos, u32 end, u32 flags);
// Evaluates a path (get flag: a get-path; set_value: the value a set-path
// stores). The value is pushed. Returns the next position.
// case_ asks the selections for case-sensitive matching (get/case, set/case).
u32 eval_path(const Cell* path, const Cell* code, u32 pos, u32 end, bool get, const Cell* set_value,
              bool case_ = false);

// Evaluates a block and returns its value (for C++ callers).
Cell do_block(const Cell* block);

ZOT_INLINE const Cell* body_word() { return words::word(w::tag_body); }
ZOT_INLINE const Cell* anon_word() { return words::word(w::tag_anon); }
ZOT_INLINE bool is_callable(u32 t) {
  constexpr u64 kCallable = (1ull << T_NATIVE) | (1ull << T_ACTION) | (1ull << T_FUNCTION) | (1ull << T_ROUTINE);
  return t < 64 && ((kCallable >> t) & 1);
}

#ifdef ZOT_FUZZING
// The fuzz build counts evaluation steps: at 0, internal/limit-hit ends the
// program being fuzzed, however it loops.
extern i64 g_step_budget;
void spend_step();
#define ZOT_FUZZ_STEP() ::zot::interp::spend_step()
#else
#define ZOT_FUZZ_STEP() ((void)0)
#endif
// Fires the tracer's error event for an error about to be raised.
void trace_error(const Cell* error);

// ---- tracing
enum TraceEvent : u32 {
  kEvInit = 0x0001, kEvEnd = 0x0002, kEvProlog = 0x0004, kEvEpilog = 0x0008, kEvEnter = 0x0010,
  kEvExit = 0x0020, kEvOpen = 0x0040, kEvReturn = 0x0080, kEvFetch = 0x0100, kEvPush = 0x0200,
  kEvSet = 0x0400, kEvCall = 0x0800, kEvError = 0x1000, kEvThrow = 0x2000, kEvCatch = 0x4000,
  kEvExpr = 0x8000,
};
constexpr u32 kDefaultTraceMask = 0x1FFFF;
extern bool g_tracing;
void init_tracing();
// True while a tracer is installed (functions marked trace switch tracing on).
bool tracer_installed();
// Installs a tracer function! (none installed yet): fires init. Returns false
// when a tracer is installed already.
bool trace_install(const Cell* tracer);
// Ends tracing however the traced evaluation ended: fires end, forgets the
// tracer. While an error (unwinding) or an exit is on its way out, whatever
// the tracer raises or throws at the end is dropped and the one in flight
// goes on.
void trace_end(bool unwinding = false);
// Stops (false) or resumes (true) the delivery of events within a traced
// evaluation; outside one it does nothing.
void set_tracing(bool on);
// The event mask of a tracer: the event words of a block its body starts
// with, else every event.
u32 trace_mask(const Cell* tracer);
// Calls the tracer for the event when tracing and the event is in its mask.
// code may be null; pos is an index in code.
void fire(TraceEvent ev, const Cell* code, i32 pos, const Cell* ref, const Cell* value);
ZOT_INLINE bool traced(const Cell* code) {
  return g_tracing && !(code && (mem::series_of(code->series_node())->flags & mem::kLibrary));
}

}  // namespace zot::interp
