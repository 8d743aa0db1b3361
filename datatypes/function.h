// The callable datatypes: native!, action!, op!, function!, routine!.
//
// native!  w1 natives-table index (1-based), w2 spec node, w3 "more" (2 cells)
// action!  w1 action slot (1-62),            w2 spec node, w3 "more" (2 cells)
// op!      the wrapped value's payload; header bits 16-23 its type id
// function! w1 context node (stack values),  w2 spec node, w3 "more" (5 cells)
// routine!  as function!; header bits 25-29 the arity
//
// "more" of native!/action!: [context made from the spec, parsed-spec cache];
// of function!/routine!: [body, parsed-spec cache, code entry, op copy, object context].
#pragma once

#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace zot::function {

constexpr u32 kTraceFlag = 0x400u;
constexpr u32 kNoTraceFlag = 0x200u;

enum More : u32 { kMoreBody = 0, kMoreParsed = 1, kMoreCode = 2, kMoreOp = 3, kMoreObject = 4 };

// Parameter kinds in a parsed spec entry (typeset header bits 20-21).
enum ParamKind : u32 { kNormal = 0, kGetParam = 1, kLitParam = 2, kReturnType = 3 };
constexpr u32 kParamKindShift = 20;
ZOT_INLINE u32 param_kind(const Cell* entry) { return (entry->header >> kParamKindShift) & 3; }

ZOT_INLINE Cell* more_cell(const Cell* fn, u32 i) { return mem::series_of(fn->function_more())->cells() + i; }
// The spec block as a block! value.
Cell spec_of(const Cell* fn);

// Checks a function spec; returns its attribute flags (trace/no-trace).
u32 validate(const Cell* spec);
// The spec extended with the body's set-words and loop words as locals
// (for `function`); /extern words are left out.
Cell collect_locals(const Cell* spec, const Cell* body);
// Number of words after the first /local (with /local itself); with strict,
// -1 when there is none.
i32 count_locals(const Cell* spec, bool strict);
// init_locals one push at a time (each meets the argument stack's limit).
void push_locals(i32 count);
// Pushes false (for /local) and count - 1 nones, written at once when the
// argument stack has room.
ZOT_INLINE void init_locals(i32 count) {
  if (count <= 0) return;
  Cell* const top = stack::g_top;
  if (ZOT_UNLIKELY(top + count + 1 >= stack::g_arg_limit)) return push_locals(count);
  set_logic(top, false);
  for (i32 i = 1; i < count; i++) set_none(top + i);
  stack::g_top = top + count;
}

// Pushes a new function! on the argument stack and returns its context.
mem::Node push(const Cell* spec, const Cell* body, mem::Node ctx, mem::Node object_ctx, u32 flags);
// Makes native! / action! values (index is 1-based).
Cell make_native(u32 type, const Cell* spec, u32 index);
// True when the spec can make an operator.
bool op_spec_ok(const Cell* spec);

// The parsed spec of a callable (built on first use and cached): a block of
// typesets (parameters), refinement cells and a closing integer! count.
Cell parsed_spec(const Cell* fn);

void register_types();  // native!, action!, op!, function!, routine! (in start-up order)
void register_native();
void register_action();
void register_op();
void register_function();
void register_routine();

}  // namespace zot::function
