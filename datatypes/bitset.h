// bitset!: a growable array of bits addressed by non-negative integers or by
// characters (the bit of the code point); the character class of the language.
//
// Cell: w2 = node of a byte series (unit 1), w1 and w3 unused. Bit n lives in
// stored byte n >> 3 under the mask 0x80 >> (n & 7). The stored bytes always
// hold membership as it is; the buffer flag kNegated says what every bit past
// the stored bytes is (set when negated, clear otherwise).
#pragma once

#include "runtime/actions.h"
#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zot::bitset {

constexpr u32 kNegated = 0x00080000u;

ZOT_INLINE mem::Series* series_of(const Cell* bits) { return mem::series_of(bits->bitset_node()); }
ZOT_INLINE bool negated(const Cell* bits) { return (series_of(bits)->flags & kNegated) != 0; }
// The first stored byte (valid until the next allocation).
ZOT_INLINE u8* buffer(const Cell* bits) { return series_of(bits)->head_ptr(); }
ZOT_INLINE u32 byte_count(const Cell* bits) { return series_of(bits)->bytes_used(); }

// The membership of bits read from the stored bytes, for testing many
// characters in a row (valid until the next allocation).
struct Members {
  const u8* bytes;
  u32 count;  // stored bytes
  bool negated;
  // Past the stored bytes the negation flag answers.
  ZOT_INLINE bool has(u32 bit) const {
    const u32 byte = bit >> 3;
    if (byte >= count) return negated;
    return (bytes[byte] & (0x80u >> (bit & 7))) != 0;
  }
};
ZOT_INLINE Members members(const Cell* bits) {
  const mem::Series* s = series_of(bits);
  return Members{s->head_ptr(), s->bytes_used(), (s->flags & kNegated) != 0};
}

// Membership of one bit (a code point). The text code tests characters
// against character classes with it.
ZOT_INLINE bool has(const Cell* bits, u32 bit) { return members(bits).has(bit); }

// Walking a spec: measure (highest bit named), set, test, clear.
enum Mode : int { kModeMeasure = 0, kModeSet = 1, kModeTest = 2, kModeClear = 3 };
// Who walks it decides the error for a refused spec value.
enum Caller : int { kCallerMake = 0, kCallerTo = 1, kCallerOther = 2 };

// The cell becomes a bitset of `bytes` stored bytes, all 255 when negated
// (with the flag set), else all 0.
Cell* make_at(Cell* cell, u32 bytes, bool negated);
// Grows the storage so that the bit's byte exists (new bytes keep membership).
void ensure_bit(Cell* bits, i64 bit);
// A negative bit, or one past the stored bytes.
bool out_of_range(const Cell* bits, i64 bit);

// Walks the spec value over the bitset: measure answers the highest bit (-1
// when none), test answers 1 or 0, set and clear answer 0.
i64 process_spec(Cell* bits, const Cell* spec, int mode, int caller);
// make (to false) and to (to true): a new bitset pushed on the argument stack.
Cell* make_from_spec(const Cell* spec, bool to);

// The bitwise actions and the set operations on the frame's first two cells;
// the result replaces the first. The result's members are exactly the
// operation applied to the members of the operands, past the stored bytes too.
enum Op : int {
  kOpOr = 5, kOpAnd = 6, kOpXor = 7,
  kOpUnique = 8, kOpUnion = 9, kOpIntersect = 10, kOpExclude = 11, kOpDifference = 12,
};
void do_bitwise(int op);

// ---- slot functions
Cell* make(Cell* proto, Cell* spec, int type);
Cell* to(Cell* proto, Cell* spec, int type);
i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part);
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o);
i32 compare(const Cell* a, const Cell* b, i32 op);
void negate(Cell* value);
void and_();
void or_();
void xor_();
Cell* complement(Cell* value);
void append(Cell* series, Cell* value, const actions::InsertOptions& o);
void clear(Cell* value);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* kind);
Cell* find(Cell* series, Cell* value, const actions::FindOptions& o);
i32 length_q(const Cell* value);
Cell* pick(Cell* series, i32 index, Cell* index_cell);
Cell* poke(Cell* series, i32 index, Cell* value, Cell* index_cell);
void remove(Cell* series, Cell* part, Cell* key);

// Registers bitset! (type 30, no parent).
void register_type();

}  // namespace zot::bitset
