// series!: the position arithmetic and element-wise actions shared by every
// series type, for any unit width (1, 2, 4 or 8 bytes, 16 for cells).
//
// A series cell holds w1 = index in units from the buffer head (signed; it may
// lie past the tail after the buffer was shortened through another value),
// w2 = node, w3 = per type (a hash!'s table, a vector!'s element type).
#pragma once

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zot::series {

// ---- access
ZOT_INLINE mem::Series* buffer_of(const Cell* s) { return mem::series_of(s->series_node()); }
ZOT_INLINE i32 index_of(const Cell* s) { return s->series_index(); }

// ---- shared routines
bool index_at_tail(const Cell* s);
i32 total_length(const Cell* s);
// Adds n to the index when the new position stays at or before the tail;
// true when the requested position is at or past the tail.
bool skip_index(Cell* s, i32 n);
// Units from the index to the tail: 0 from an index at or past the tail; a
// negative index counts from the head. Reads only.
i32 length_at(const Cell* s);
// Moves an index past the tail back to the tail (written into the cell);
// answers the index, a negative one as 0.
i32 clamp_index(Cell* s);
// length_at after clamp_index, for the actions that go on to use the index.
i32 clamped_length_at(Cell* s);
// The new index for `at` (adjust 1) and `skip` (adjust 0) from the frame's
// series and offset.
i32 position_at(int adjust);
// script/invalid-refine-arg with the refinement's name as a word and its argument.
ZOT_NORETURN void bad_refine(const char* refinement, const Cell* arg);

// ---- owner notifications
// Each modifying action tells the object that owns the series (if any) twice:
// before the change with the action word, after it with the past-tense word.
// The owner's handler runs Zot code that may change this very series (its
// length, unit width and buffer), the value being put in, or the cell the
// action was reached through. So an action works on a series cell that the
// handler cannot reach (a frame cell or a local copy), and when the first
// notification answers true it plans again from the series as it is now:
// length, index, slot and buffer derived before are never used after it.
enum class Change : u8 {
  kPoke, kPoked, kClear, kCleared, kRemove, kRemoved, kReverse, kReversed, kMove, kMoved,
  kTake, kTaken, kRandom, kRandomized, kInsert, kInserted, kAppend, kAppended, kChange, kChanged,
  kPut, kPutEd, kSwap, kSwaped, kTrim, kTrimmed, kSort, kSorted,
};
// The event word as the owner hears it ("put-ed", "swaped" are spelled so).
const char* change_word(Change c);
// Before the change: true when an owner was notified.
bool ownership_check(const Cell* s, Change c, const Cell* value, i32 index, i32 part);
// After the change.
void ownership_done(const Cell* s, Change c, const Cell* value, i32 index, i32 part);
// g_services.series_change sees both notifications first (tests); its
// answer stands for "an owner was notified".

// ---- hash! re-indexing, one per kind of change (a hash! keeps the positions
// of its cells in a table named by w3).
// The table follows in place: no change at the head of a long hash! rebuilds
// (or allocates) a table.
// Cells [index, index + count) left the block (cleared or removed); the
// positions after them moved down by count.
void hash_removed(Cell* h, i32 index, i32 count);
// count cells were opened at index and filled; later positions moved up.
void hash_inserted(Cell* h, i32 index, i32 count);
// The cell at index was replaced.
void hash_replaced(Cell* h, i32 index);
// Cells were reordered or replaced wholesale from index on: rebuild.
void hash_rebuild(Cell* h);
// The cells [from, from + count) now stand at [to, to + count) of the same block.
void hash_moved(Cell* h, i32 from, i32 to, i32 count);
// A new hash! made from cells: give it its own table.
void hash_new_table(Cell* h);

// out becomes an empty series of the source's type (index 0, no flags) whose
// new buffer has the source buffer's unit and flags (the owned mark cleared)
// and room for `units` units; a vector! keeps its element type in w3.
Cell* make_like(const Cell* src, u32 units, Cell* out);

// ---- slot functions
void random(Cell* value, bool seed, bool secure, bool only);
void reflect(Cell* value, u32 field_symbol);
void at();
void back();
void clear(Cell* s);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* kind);
void head();
void head_q();
void index_q();
i32 length_q(const Cell* s);
Cell* move(Cell* origin, Cell* target, Cell* part);
void next();
Cell* pick(Cell* s, i32 n, Cell* index_cell);
Cell* poke(Cell* s, i32 n, Cell* value, Cell* index_cell);
void remove(Cell* s, Cell* part, Cell* key);
void reverse(Cell* s, Cell* part, Cell* skip);
void skip();
void tail();
void tail_q();
Cell* take(Cell* s, Cell* part, bool deep, bool last);
Cell* modify(Cell* target, Cell* field, Cell* value, bool case_);

// Registers series! (no parent).
void register_type();

}  // namespace zot::series
