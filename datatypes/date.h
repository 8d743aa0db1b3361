// date!: a day of the proleptic Gregorian calendar, optionally with a time of
// day and a zone, held wholly in one cell, and the calendar arithmetic the rest
// of the system builds on (the lexer's date literals, `now`, epoch seconds,
// file dates, the binary decoders).
//
// Cell: w1 the packed date word, w2-w3 the stored time (a double, seconds).
// Packed word: bits 17-31 year (signed), 16 has-time, 12-15 month, 7-11 day,
// 6 zone sign (west of UTC), 2-5 zone hours, 0-1 zone quarter hours.
// The stored time is the local time of day minus the zone offset; after every
// normalisation the local time (stored + offset) lies in [0, 86400). A date
// without time has has-time clear, zone 0 and time 0.
#pragma once

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/stack.h"

namespace zot::date {

constexpr u32 kHasTime = 1u << 16;
constexpr u32 kZoneMask = 0x7Fu;
constexpr u32 kZoneNegative = 0x40u;
constexpr i32 kDaySeconds = 86400;
constexpr i32 kHourSeconds = 3600;
constexpr i32 kEpochDay = 719468;  // day number of 1 January 1970
constexpr i32 kMinYear = -16384;   // the 15-bit year field
constexpr i32 kMaxYear = 16383;

// Field numbers of paths, pick and get_field.
enum Field : int {
  kFieldDate = 1, kFieldYear, kFieldMonth, kFieldDay, kFieldZone, kFieldTime, kFieldHour, kFieldMinute,
  kFieldSecond, kFieldWeekday, kFieldYearday, kFieldTimezone, kFieldWeek, kFieldIsoweek,
};

// ---- the packed word
ZOT_INLINE i32 year_of(u32 w) { return i32(w) >> 17; }
ZOT_INLINE i32 month_of(u32 w) { return i32((w >> 12) & 15); }
ZOT_INLINE i32 day_of(u32 w) { return i32((w >> 7) & 31); }
ZOT_INLINE bool has_time(u32 w) { return (w & kHasTime) != 0; }
// The zone offset in seconds (-15:45 .. +15:45).
ZOT_INLINE i32 zone_seconds(u32 w) {
  i32 s = i32((w >> 2) & 15) * kHourSeconds + i32(w & 3) * 900;
  return (w & kZoneNegative) ? -s : s;
}
ZOT_INLINE double time_of(const Cell* c) { return c->float_value(); }

// ---- calendar arithmetic
bool leap_year(i32 year);
// Day number of a date (day 0 is 1 March of year 0); days roll over.
i64 day_number(i64 year, i64 month, i64 day);
ZOT_INLINE i64 day_number(u32 w) { return day_number(year_of(w), month_of(w), day_of(w)); }
// The date word of a day number, the zone bits and has-time flag carried over
// from `carry`. A year beyond the 15-bit field raises script/type-limit.
u32 word_of_days(i64 days, u32 carry);
i32 year_day(u32 w);     // 1-based day of the year
i32 weekday(u32 w);      // 1 Monday .. 7 Sunday
i32 week(u32 w);         // weeks that start on Sunday
i32 iso_week(u32 w);     // ISO 8601 week

// Moves whole days out of the stored time for the zone of `w`, so that the
// local time lies in [0, 86400) afterwards. A result beyond the calendar or a
// time that is not finite raises script/type-limit.
void normalize_time(i64* days, double* time, u32 w);
void normalize_time(i32* days, double* time, u32 w);

// ---- makers
// Zone hours carry the sign (minutes too when the hours are 0); with has_time
// the stored time is the local time minus the zone offset, else time and zone
// are 0.
Cell* make_at(Cell* cell, i32 year, i32 month, i32 day, double time, i32 zone_hours, i32 zone_minutes,
              bool has_time);
// The zone offset in seconds that make_at subtracts for these zone fields.
i32 zone_offset(i32 zone_hours, i32 zone_minutes);
// As make_at with a time, given the stored time itself (the local time less
// zone_offset, which the lexer computes from the digits with one rounding).
Cell* make_at_stored(Cell* cell, i32 year, i32 month, i32 day, double stored, i32 zone_hours, i32 zone_minutes);
// The binary decoders: a date from its word and the two halves of its time.
Cell* make_in(const Cell* block, u32 word, u32 time_high, u32 time_low);
Cell* push(u32 word, double time);
// Writes the cell as a date! (header flags kept when it already is one).
Cell* store(Cell* cell, u32 word, double time);

// ---- conversions
// Seconds since 1970-01-01 00:00 UTC, in 64 bits.
i64 to_epoch(const Cell* d);
// The same for `to integer!`: outside the 32-bit range script/type-limit (integer!).
i32 to_integer(const Cell* d);
// The date (has time, zone 0) of a count of epoch seconds.
Cell* from_epoch(Cell* cell, i64 seconds);
// a becomes the time! (days_a - days_b) x 86400 + (time_a - time_b).
void difference(Cell* a, const Cell* b);

// ---- fields
// Pushes the field (1-14) on the argument stack; returns the pushed cell.
Cell* get_field(const Cell* d, int field);
// The setters the lexer uses for week dates, weekday and ordinal dates.
void set_week(Cell* d, i32 iso_week);
void set_weekday(Cell* d, i32 weekday);
void set_yearday(Cell* d, i32 yearday);
// The field number of a word (by canonical symbol), or 0.
int field_of_symbol(u32 symbol);

// ---- arithmetic
// op 0 add, 1 subtract: the date in the frame's first cell with the second
// operand (integer! days, time! seconds, date! for subtract); result in the first cell.
void math_op(int op);

// ---- slot functions
Cell* make(Cell* proto, Cell* spec, int type);
Cell* to(Cell* proto, Cell* spec, int type);
void random(Cell* value, bool seed, bool secure, bool only);
i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o);
i32 compare(const Cell* a, const Cell* b, i32 op);
void add();
void subtract();
Cell* pick(Cell* series, i32 index, Cell* index_cell);

void register_type();

}  // namespace zot::date
