// What the small datatypes held wholly in one cell share (time!, pair!,
// tuple!, point2D!, point3D!): telling the holder of a value that a set-path
// changed one of its fields, reading a value back from text, and the error
// arguments they raise with.
#pragma once

#include "datatypes/words.h"
#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/errors.h"

namespace zot::scalar {

// The value that holds the scalar whose field a set-path is about to change,
// when that holder wants to hear of it: an object! reached through a word
// (`word` is that word) or a series (a block, paren, hash or path). The path
// evaluator fills it just before it hands the last element of such a
// set-path to the scalar's eval-path; the scalar takes (and clears) it.
struct Holder {
  Cell* value = nullptr;
  const Cell* word = nullptr;
};
extern Holder g_holder;

// An object! holder hears through its on-change* handler; a series holder
// through the ownership tracking, with the action word `set-path`.

// After a field of a scalar was set: the old and new whole value, the new
// field value and the field's 1-based index. Does nothing when no holder asked.
void field_changed(const Cell* old_value, const Cell* new_value, const Cell* field_value, i32 field_index);

// A number (first operand) with a pair!, point, tuple! or money! second
// operand: the arithmetic of the compound type with the operands swapped
// (n - p is -p + n; dividing a number by a pair or point is not related).
// The result replaces the frame's first cell. False when b is none of these.
bool number_with_compound(int op);

// ---- shared helpers
// script/not-related with the runtime word and the datatype.
ZOT_NORETURN void raise_not_related(words::Id word, u32 type);
// A runtime word or refinement as an error argument (none until the words exist).
Cell word_arg(words::Id id);
Cell refinement_arg(words::RefinementId id);
// script/not-related with the calling word and `money!` (round with a money scale).
ZOT_NORETURN void raise_money_scale();
ZOT_NORETURN void raise_out_of_range(i32 index, const Cell* index_cell);

// A word! (or another word type) naming the runtime word, compared by
// canonical symbol so that letter case does not matter.
bool word_is(const Cell* word, words::Id id);

// Scans the text as source and answers the single value it holds in out;
// false when it holds no value or more than one.
bool load_single(const Cell* text, Cell* out);

// The float of a cell narrowed to the 32 bits a point coordinate keeps, and
// back.
ZOT_INLINE u32 single_bits(float f) {
  u32 b;
  std::memcpy(&b, &f, 4);
  return b;
}
ZOT_INLINE float single_of(u32 bits) {
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

}  // namespace zot::scalar
