// Actions: the 62 polymorphic operations, chosen by the datatype of the first
// argument through the action table that every datatype fills at start-up.
#pragma once

#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot::actions {

enum Slot : u8 {
  kMake = 1, kRandom, kReflect, kTo, kForm, kMold, kEvalPath, kSetPath, kCompare,
  kAbsolute, kAdd, kDivide, kMultiply, kNegate, kPower, kRemainder, kRound, kSubtract,
  kEven, kOdd, kAnd, kComplement, kOr, kXor,
  kAppend, kAt, kBack, kChange, kClear, kCopy, kFind, kHead, kHeadQ, kIndexQ, kInsert,
  kLengthQ, kMove, kNext, kPick, kPoke, kPut, kRemove, kReverse, kSelect, kSort, kSkip,
  kSwap, kTail, kTailQ, kTake, kTrim,
  kCreate, kClose, kDelete, kModify, kOpen, kOpenQ, kQuery, kRead, kRename, kUpdate, kWrite,
};
constexpr int kSlotCount = 62;

// Comparison operation codes (slot 9 and the comparison natives).
enum CompareOp : i32 {
  kEqual = 0, kNotEqual = 1, kStrictEqual = 2, kLesser = 3, kLesserOrEqual = 4,
  kGreater = 5, kGreaterOrEqual = 6, kSortOrder = 7, kCaseSortOrder = 8, kSame = 9,
  kEqualForm1 = 10, kEqualForm2 = 11, kFindEqual = 12,
};
constexpr i32 kNotComparable = -2;

// Slot function types. Cells are passed by address; a refinement's argument
// cell is null when the refinement is absent; flags are bools. "Frame"
// functions read their arguments from the current frame and leave the result
// in its first cell.
using AnyFn = void (*)();
using MakeFn = Cell* (*)(Cell* proto, Cell* spec, int type);  // make and to
using RandomFn = void (*)(Cell* value, bool seed, bool secure, bool only);
using ReflectFn = void (*)(Cell* value, u32 field_symbol);
// form and mold append to the output string and return the part budget left.
using FormFn = i32 (*)(const Cell* value, Cell* out, const Cell* limit, i32 part);
using MoldFn = i32 (*)(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* limit,
                       i32 part, i32 indent);
using EvalPathFn = Cell* (*)(Cell* parent, Cell* element, Cell* value, Cell* path, i32 index, bool case_,
                             bool get, bool last);
using CompareFn = i32 (*)(const Cell* a, const Cell* b, i32 op);
using FrameFn = void (*)();
using ValueFn = void (*)(Cell* value);              // negate, clear: in place
using PredicateFn = bool (*)(const Cell* value);    // even?, odd?
using ComplementFn = Cell* (*)(Cell* value);
using RoundFn = void (*)(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor,
                         bool ceiling, bool half_ceiling);
using InsertFn = void (*)(Cell* series, Cell* value, i32 part, bool only, i32 dup, bool append);
using ChangeFn = void (*)(Cell* series, Cell* value, i32 part, bool only, i32 dup);
using CopyFn = Cell* (*)(Cell* value, Cell* result, Cell* part, bool deep, Cell* kind);
using FindFn = Cell* (*)(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
                         Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
using LengthFn = i32 (*)(const Cell* value);        // -1 = no length (none)
using MoveFn = Cell* (*)(Cell* origin, Cell* target, Cell* part);
using PickFn = Cell* (*)(Cell* series, i32 index, Cell* index_cell);
using PokeFn = Cell* (*)(Cell* series, i32 index, Cell* value, Cell* index_cell);
using PutFn = Cell* (*)(Cell* series, Cell* key, Cell* value, bool case_);
using RemoveFn = void (*)(Cell* series, Cell* part, Cell* key);
using ReverseFn = void (*)(Cell* series, Cell* part, Cell* skip);
using SelectFn = Cell* (*)(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
                           Cell* with, Cell* skip, bool last, bool reverse);
using SortFn = Cell* (*)(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all,
                         bool reverse, bool stable);
using SwapFn = void (*)(Cell* a, Cell* b);
using TakeFn = Cell* (*)(Cell* series, Cell* part, bool deep, bool last);
using TrimFn = void (*)(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);
using PortFn = Cell* (*)(Cell* value);              // create close delete open? query update
using ModifyFn = Cell* (*)(Cell* target, Cell* field, Cell* value, bool case_);
using OpenFn = Cell* (*)(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow);
using ReadFn = Cell* (*)(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as);
using RenameFn = Cell* (*)(Cell* from, Cell* to);
using WriteFn = Cell* (*)(Cell* dest, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part,
                          Cell* seek, Cell* allow, Cell* as);

// A registration entry: a slot function, none, or "take the parent's".
void inherit_marker();
#define ZOT_INHERIT (&::zot::actions::inherit_marker)
template <class F>
ZOT_INLINE AnyFn fn(F f) {
  return reinterpret_cast<AnyFn>(f);
}

// The action table: kTypeTableSize rows of 62 entries.
extern AnyFn g_table[kTypeTableSize][kSlotCount];

// A cell whose type id lies past the table is a broken value, never a
// user's: it ends the process (fatal "assertion failed") before the table
// is read out of bounds.
ZOT_NORETURN void bad_type(u32 type);
ZOT_INLINE u32 checked_type(u32 type) {
  if (ZOT_UNLIKELY(type >= u32(kTypeTableSize))) bad_type(type);
  return type;
}

ZOT_INLINE AnyFn raw(u32 type, int slot) { return g_table[checked_type(type)][slot - 1]; }
template <class F>
ZOT_INLINE F get(u32 type, int slot) {
  return reinterpret_cast<F>(g_table[checked_type(type)][slot - 1]);
}

// The slot function of the type, raising script/expect-arg when it has none.
AnyFn get_action(u32 type, int slot);
template <class F>
ZOT_INLINE F lookup(u32 type, int slot) {
  AnyFn f = g_table[checked_type(type)][slot - 1];
  if (ZOT_UNLIKELY(!f)) f = get_action(type, slot);
  return reinterpret_cast<F>(f);
}

// Compares through slot 9 of a's type. compare_direct answers the slot's
// integer (-2 = not comparable); compare answers 0/1 for the op and raises
// script/invalid-compare when an ordering meets two incomparable values.
i32 compare_direct(const Cell* a, const Cell* b, i32 op);
bool compare(const Cell* a, const Cell* b, i32 op);

}  // namespace zot::actions
