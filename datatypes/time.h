// time!: a signed duration in seconds (a double in payload words 2 and 3, no
// range limit), written as hours:minutes:seconds. Its arithmetic, comparison
// and conversions are float!'s, with the changes named here.
#pragma once

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/stack.h"

namespace zot::time {

constexpr double kHour = 3600.0;
constexpr double kMinute = 60.0;
// The smallest second that prints, and the bias of the parity tests.
constexpr double kTick = 0.000001;

// ---- makers
// Retypes the cell to time! keeping its flag bits.
ZOT_INLINE Cell* make_at(Cell* c, double seconds) {
  set_type(c, T_TIME);
  c->set_float(seconds);
  return c;
}
Cell* push(double seconds);
// Appends a time! whose double is given as its two 32-bit halves.
Cell* make_in(const Cell* block, u32 high, u32 low);

// ---- fields (1 hour, 2 minute, 3 second)
// Hours truncated toward zero; a count beyond 32 bits raises out-of-range.
i32 get_hours(double seconds);
// Minutes within the hour of the magnitude.
i32 get_minutes(double seconds);
// Pushes the field: hour and minute as integer!, second as float!.
Cell* get_field(const Cell* value, int field);
// 1-3 for the words hour, minute, second (any letter case); -1 otherwise.
int get_named_index(const Cell* word);

// ---- text
// Appends the h:mm:ss text of the seconds, rounded to six significant digits
// of seconds; returns the part budget left.
i32 form_into(double seconds, Cell* out, i32 part);
// The same with every digit the seconds need to load back to the same value
// (mold).
i32 mold_into(double seconds, Cell* out, i32 part);
// The clock text of a plain decimal count of seconds ("W" or "W.digits", no
// sign, W below 2^53): hours, minutes and seconds, the fraction digits kept.
i32 clock_into(const char* text, int len, Cell* out, i32 part);
ZOT_NORETURN void raise_bad_to_arg(const Cell* spec);

// ---- slot functions
Cell* make(Cell* proto, Cell* spec, int type);
i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o);
void add();
void subtract();
void multiply();
void divide();
void round(Cell* value, const actions::RoundOptions& o);
bool even(const Cell* value);
bool odd(const Cell* value);
Cell* pick(Cell* value, i32 index, Cell* index_cell);

// Registers time! (type 43, parent float!, which must be registered first).
void register_type();

}  // namespace zot::time
