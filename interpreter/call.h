// The calling convention: every call of a native!, action!, routine! or
// function! takes its arguments through one walk over the callable's parsed
// spec and is run by one dispatch. The arguments come from the code being
// evaluated, from an `apply` block, or from C++ values (callbacks: sort
// comparators, parse and lexer callbacks, change handlers, the tracer).
#pragma once

#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace zot::interp {

// Refinement positions handed to natives and actions.
constexpr u32 kMaxRefinements = 32;

// Calls a function value, fetching its arguments from code at pos. name: the
// word (or path) it was reached by; refs: a path whose elements from
// ref_index on are refinements. With left, the left operand is already in the
// first cell of the next frame. The result is pushed. Returns the next position.
u32 call_value(const Cell* fn, const Cell* code, u32 pos, u32 end, const Cell* name, const Cell* refs,
               u32 ref_index, bool left);

// The operator fn (retyped to the callable it wraps) with its left operand
// in the first cell of the next frame, its right one taken from code at pos.
// not_pure: that operand is known to be no pure expression. The result is
// pushed. Returns the next position.
u32 call_operator(const Cell* fn, const Cell* code, u32 pos, u32 end, const Cell* name, bool not_pure);

// `if`, `unless` or `either` (fn) called by the word name from code that is
// not traced: the same call, its branch run in the call's own frame.
u32 call_conditional(const Cell& fn, const Cell* code, u32 pos, u32 end, const Cell* name);

// `apply`: calls fn (any callable but a routine) named by name with the
// arguments of the block args. Default: the plain arguments, then refinement!
// values each followed by its arguments. all: every spec item in order,
// refinements as logic values, the tail completed with false and none. safer:
// each argument is one value of the block, unevaluated (the arguments of an
// inactive refinement are passed over). The result goes to the caller's result
// slot; exits of a function! become throws.
void apply_value(const Cell* fn, const Cell* name, const Cell* args, bool all, bool safer);

// Runs a function! whose arguments are the current frame's cells.
void call_function(const Cell* fn);
// The same for a callback of the runtime (a lexer or parse callback, a sort
// comparator, a change handler: a class of sys::CallbackClass): while tracing,
// its evaluation is traced only when its class is on in
// system/state/callbacks/bits, and then framed by `call` and `return` events.
void call_as_callback(const Cell* fn, u32 callback_class);

// Pushes C++ values as the arguments of a callable whose frame is the current
// one: its parameters take them in order (none past count; they are not
// type-checked), refinements false with none for their arguments, then its
// locals. Returns the number of values its parameters took.
u32 push_values_as_arguments(const Cell* fn, const Cell* args, u32 count);

// How a callback is called from C++.
struct CallbackOptions {
  const Cell* frame_word;                       // names its frame
  u32 callback_class = 0;                       // sys::CallbackClass, 0: always traced
  u32 frame_header = stack::kHdrInterpFunction;  // the kind of its frame
  // A library function that a native hands its work to (`do` of a file,
  // `do/expand`): a plain call, tracing left as it is.
  bool plain = false;
  // Receives the argument values as the callback left them in its
  // parameters (the first is its answer's slot; values no parameter took
  // come back as given).
  Cell* args_after = nullptr;
};
// Calls a function! with argument values (push_values_as_arguments), as a
// callback of its class (call_as_callback). Exits become throws. Returns the
// function's value.
Cell call_callback(const Cell* fn, const Cell* args, u32 count, const CallbackOptions& options);
ZOT_INLINE Cell call_callback(const Cell* fn, const Cell* frame_word, const Cell* args, u32 count,
                              u32 callback_class) {
  CallbackOptions o;
  o.frame_word = frame_word;
  o.callback_class = callback_class;
  return call_callback(fn, args, count, o);
}
// Calls a sort comparator function with two values; its answer goes to answer.
void call_comparator(const Cell* fn, const Cell* first, const Cell* second, Cell* answer);

// The word naming the index-th parameter of a callable (spec words and
// refinements counted from 0), for error reports.
Cell param_word(const Cell* fn, u32 index);

}  // namespace zot::interp
