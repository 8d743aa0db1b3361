// Routines shared by the natives: loop counts, setting a block of words,
// and the loop steps. The loop steps work on the cells that a loop pushes just
// below its loop frame's base:
//   base - 3  the word count (a block of loop words)
//   base - 2  the series being walked (forall: the series as it was at the start)
//   base - 1  the loop word, or the block of loop words
// and on the loop frame's result slot.
#pragma once

#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot::natives {

// script/expect-arg naming the running native, the value's datatype and the
// parameter (by its word).
ZOT_NORETURN void expect_arg(const Cell* value, const char* param);

// A float! cell becomes integer! by truncation, in place (out of range and NaN
// saturate, so a loop count never turns negative by overflow).
void float_to_integer_cell(Cell* cell);

// True when the series' index lies before its end.
bool series_has_next(const Cell* series);

// Sets count words of the words block from value: element i of a block-like
// value (none past its end), or the value itself for every word (other values,
// or with only). Without any, an unset value raises script/need-value; with
// some, a none value leaves its word unchanged. A non-word element raises
// script/invalid-arg.
void set_words(const Cell* words, const Cell* value, i32 count, bool any, bool only, bool some);
// Word i (1-based, up to count) is set to the value picked at i of the series.
void set_words_pairwise(const Cell* words, const Cell* values, i32 count);

// foreach with one word: sets the word to the value at the series' index and
// advances the index; false when the series is exhausted.
bool foreach_next();
// foreach with a block of count words; false when exhausted (or count < 1).
bool foreach_next_multi(i32 count);
// forall: the loop word's series, advanced by one when asked (and stored
// back); true when it stands at its tail.
bool forall_next(bool advance);
// forall: the loop word is set back to the series it held at the start.
void forall_restore();
// remove-each: when the result slot is true, removes the step values just
// visited from the series.
void remove_each_drop(i32 step);

}  // namespace zot::natives
