// The evaluator: walks blocks expression by expression, looks words up,
// sets words and paths, calls functions with arguments fetched by their
// specs, and applies infix operators strictly left to right.
#pragma once

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zot::interp {

// The block being evaluated and the position of the current expression
// (error reports take their "near" text from it).
extern Cell g_near;

void init();

// Evaluates the block from its index to its tail in a block-evaluation frame.
// The value of the last expression (unset for an empty block) becomes the
// caller's result with chain, else it stays as the last cell of the stack.
void eval_block(const Cell* block, bool chain);
// One expression at pos in an interpreter-step frame; with keep the value
// stays as the last cell, else it goes to the caller's result slot. Returns
// the next position.
u32 eval_next(const Cell* code, u32 pos, u32 end, bool keep);
// `do/next`: unset at the tail, else one expression (into the caller's
// result slot); returns the index of the next expression.
u32 eval_step(const Cell* block);
// One expression at pos: pushed as the last cell (push), or made the only
// cell of the frame. Returns the next position.
u32 eval_expression(const Cell* code, u32 pos, u32 end, bool no_infix, bool push, bool literal_fns);
// Calls a function value, fetching its arguments from code at pos. name: the
// word (or path) it was reached by; refs: a path whose elements from
// ref_index on are refinements. With left, the left operand is already in the
// first cell of the next frame. The result is pushed. Returns the next position.
u32 call_value(const Cell* fn, const Cell* code, u32 pos, u32 end, const Cell* name, const Cell* refs,
               u32 ref_index, bool left);
// Runs a function! whose arguments are the current frame's cells.
void call_function(const Cell* fn, mem::Node object_ctx);
// The same for a callback of the runtime (a lexer or parse callback, a sort
// comparator, a change handler: a class of sys::CallbackClass): while tracing,
// its evaluation is traced only when its class is on in
// system/state/callbacks/bits, and then framed by `call` and `return` events.
void call_as_callback(const Cell* fn, mem::Node object_ctx, u32 callback_class);
// Evaluates a path (get flag: a get-path; set_value: the value a set-path
// stores). The value is pushed. Returns the next position.
// case_ asks the selections for case-sensitive matching (get/case, set/case).
u32 eval_path(const Cell* path, const Cell* code, u32 pos, u32 end, bool get, const Cell* set_value,
              bool case_ = false);

// Calls a function! from C++ with argument values: its parameters take them
// in order (none past count), refinements false, in a function frame named by
// frame_word, as a callback of its class (call_as_callback). Exits become
// throws. Returns the function's value.
Cell call_callback(const Cell* fn, const Cell* frame_word, const Cell* args, u32 count, u32 callback_class);

// Evaluates a block and returns its value (for C++ callers).
Cell do_block(const Cell* block);

#ifdef ZOT_FUZZING
// The fuzz build counts evaluation steps: at 0, internal/limit-hit ends the
// program being fuzzed, however it loops.
extern i64 g_step_budget;
void spend_step();
#define ZOT_FUZZ_STEP() ::zot::interp::spend_step()
#else
#define ZOT_FUZZ_STEP() ((void)0)
#endif
// Calls a sort comparator function with two values; its answer goes to answer.
void call_comparator(const Cell* fn, const Cell* first, const Cell* second, Cell* answer);
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
// Installs a tracer function! (none installed yet): fires init. Returns false
// when a tracer is installed already.
bool trace_install(const Cell* tracer);
// Ends tracing however the traced evaluation ended: fires end, forgets the
// tracer. While an error (unwinding) or an exit is on its way out, whatever
// the tracer raises or throws at the end is dropped and the one in flight
// goes on.
void trace_end(bool unwinding = false);
// The event mask of a tracer: the event words of a block its body starts
// with, else every event.
u32 trace_mask(const Cell* tracer);
// Calls the tracer for the event when tracing and the event is in its mask.
// code may be null; pos is an index in code.
void fire(TraceEvent ev, const Cell* code, i32 pos, const Cell* ref, const Cell* value);
ZOT_INLINE bool traced(const Cell* code) {
  return g_tracing && !(code && (mem::series_of(code->w2)->flags & mem::kLibrary));
}

}  // namespace zot::interp
