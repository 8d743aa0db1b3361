// The natives table and the action entries. Both are called the same way:
// the caller has pushed a frame and the arguments (the frame base cell is the
// first argument and becomes the result); refs holds one integer per
// refinement of the spec, in spec order: -1 when absent, else the offset in
// cells from the frame base of the refinement's first argument.
#pragma once

#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot::natives {

using EntryFn = void (*)(const i32* refs);

constexpr u32 kTableSize = 120;

// The conditionals, which the evaluator calls through a path of their own.
enum ConditionalNative : u32 { kIf = 1, kUnless = 2, kEither = 3 };

// The truth test of while, until, either and case: unset is no answer
// (raises no-return).
bool checked_true(const Cell* c);

// The comparison natives, which the call path runs inline on two integers.
enum CompareNative : u32 {
  kEqualQ = 25, kNotEqualQ, kStrictEqualQ, kLesserQ, kGreaterQ, kLesserOrEqualQ, kGreaterOrEqualQ,
};
extern EntryFn g_table[kTableSize + 1];   // by 1-based index
extern const char* g_names[kTableSize + 1];  // the "name [spec]" text of each

// The action entries by slot (1-62): they read the frame and dispatch on the
// type of the first argument.
extern EntryFn g_action_entries[63];

void set(u32 index, const char* name, EntryFn fn);
// Defines the native at index from its "name [spec]" text: the table entry and
// the global word.
void define_native(u32 index, const char* text, EntryFn fn);
ZOT_INLINE bool exists(u32 index) { return index >= 1 && index <= kTableSize && g_table[index]; }

// The new-line flag of the last print (true) or prin (false).
extern bool g_last_new_line;

// Fills the natives table and the action entries (called once at start-up).
void init();

}  // namespace zot::natives
