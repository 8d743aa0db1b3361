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

// The refinements of the slots that take many: each field is a refinement
// (a cell for one that takes an argument, null when it is absent). The action
// entries fill them once from the call's refinements.
struct FindOptions {
  Cell* part = nullptr;
  Cell* with = nullptr;
  Cell* skip = nullptr;
  bool only = false;
  bool case_ = false;
  bool same = false;
  bool any = false;
  bool last = false;
  bool reverse = false;
  bool tail = false;
  bool match = false;
};
struct RoundOptions {
  Cell* scale = nullptr;
  bool even = false;
  bool down = false;
  bool half_down = false;
  bool floor = false;
  bool ceiling = false;
  bool half_ceiling = false;
};
struct SortOptions {
  Cell* skip = nullptr;
  Cell* comparator = nullptr;
  Cell* part = nullptr;
  bool case_ = false;
  bool all = false;
  bool reverse = false;
  bool stable = false;
};
struct TrimOptions {
  Cell* with = nullptr;
  bool head = false;
  bool tail = false;
  bool auto_ = false;
  bool lines = false;
  bool all = false;
};
struct ReadOptions {
  Cell* part = nullptr;
  Cell* seek = nullptr;
  Cell* as = nullptr;
  bool binary = false;
  bool lines = false;
  bool info = false;
};
// mold's refinements and where the value sits: only leaves out the outer
// brackets, all writes the construction forms, flat writes no line breaks,
// limit is /part's cell (null: no limit), indent the nesting level.
struct MoldOptions {
  const Cell* limit = nullptr;
  i32 indent = 0;
  bool only = false;
  bool all = false;
  bool flat = false;
  // For a value inside this one: /only reaches the outermost value only.
  MoldOptions nested(i32 level) const {
    MoldOptions o = *this;
    o.only = false;
    o.indent = level;
    return o;
  }
};
// insert, append and change: part the count of units of value to take
// (-1: all), dup the times to repeat it, only a block as one value, append
// at the tail (change reads no append).
struct InsertOptions {
  i32 part = -1;
  i32 dup = 1;
  bool only = false;
  bool append = false;
};
// open's refinements: allow is the /allow cell (null: absent).
struct OpenOptions {
  Cell* allow = nullptr;
  bool new_ = false;
  bool read = false;
  bool write = false;
  bool seek = false;
};
struct WriteOptions {
  Cell* part = nullptr;
  Cell* seek = nullptr;
  Cell* allow = nullptr;
  Cell* as = nullptr;
  bool binary = false;
  bool lines = false;
  bool info = false;
  bool append = false;
};

// The eval-path and set-path slots: what one step of a path walk needs
// beside the parent value, the element and the value to set. path is the
// path walked, for errors (null when C++ makes a single step).
struct PathOptions {
  Cell* path = nullptr;
  bool case_ = false;  // /case: keys compare case-sensitively
  bool get = false;    // a get-path: a missing field gives unset
  bool last = true;    // the element is the path's last
};

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
using MoldFn = i32 (*)(const Cell* value, Cell* out, const MoldOptions& o, i32 part);
using EvalPathFn = Cell* (*)(Cell* parent, Cell* element, Cell* value, const PathOptions& o);
using CompareFn = i32 (*)(const Cell* a, const Cell* b, i32 op);
using FrameFn = void (*)();
using ValueFn = void (*)(Cell* value);              // negate, clear: in place
using PredicateFn = bool (*)(const Cell* value);    // even?, odd?
using ComplementFn = Cell* (*)(Cell* value);
using RoundFn = void (*)(Cell* value, const RoundOptions& o);
using InsertFn = void (*)(Cell* series, Cell* value, const InsertOptions& o);
using ChangeFn = void (*)(Cell* series, Cell* value, const InsertOptions& o);  // reads no append
using CopyFn = Cell* (*)(Cell* value, Cell* result, Cell* part, bool deep, Cell* kind);
using FindFn = Cell* (*)(Cell* series, Cell* value, const FindOptions& o);
using LengthFn = i32 (*)(const Cell* value);        // -1 = no length (none)
using MoveFn = Cell* (*)(Cell* origin, Cell* target, Cell* part);
using PickFn = Cell* (*)(Cell* series, i32 index, Cell* index_cell);
using PokeFn = Cell* (*)(Cell* series, i32 index, Cell* value, Cell* index_cell);
using PutFn = Cell* (*)(Cell* series, Cell* key, Cell* value, bool case_);
using RemoveFn = void (*)(Cell* series, Cell* part, Cell* key);
using ReverseFn = void (*)(Cell* series, Cell* part, Cell* skip);
using SelectFn = Cell* (*)(Cell* series, Cell* value, const FindOptions& o);  // reads neither tail nor match
using SortFn = Cell* (*)(Cell* series, const SortOptions& o);
using SwapFn = void (*)(Cell* a, Cell* b);
using TakeFn = Cell* (*)(Cell* series, Cell* part, bool deep, bool last);
using TrimFn = void (*)(Cell* series, const TrimOptions& o);
using PortFn = Cell* (*)(Cell* value);              // create close delete open? query update
using ModifyFn = Cell* (*)(Cell* target, Cell* field, Cell* value, bool case_);
using OpenFn = Cell* (*)(Cell* port, const OpenOptions& o);
using ReadFn = Cell* (*)(Cell* source, const ReadOptions& o);
using RenameFn = Cell* (*)(Cell* from, Cell* to);
using WriteFn = Cell* (*)(Cell* dest, Cell* data, const WriteOptions& o);

// The function type of each slot.
template <int S>
struct SlotType;
#define ZOT_SLOT_TYPE(slot, F) \
  template <>                  \
  struct SlotType<slot> {      \
    using Fn = F;              \
  };
ZOT_SLOT_TYPE(kMake, MakeFn)
ZOT_SLOT_TYPE(kRandom, RandomFn)
ZOT_SLOT_TYPE(kReflect, ReflectFn)
ZOT_SLOT_TYPE(kTo, MakeFn)
ZOT_SLOT_TYPE(kForm, FormFn)
ZOT_SLOT_TYPE(kMold, MoldFn)
ZOT_SLOT_TYPE(kEvalPath, EvalPathFn)
ZOT_SLOT_TYPE(kSetPath, EvalPathFn)
ZOT_SLOT_TYPE(kCompare, CompareFn)
ZOT_SLOT_TYPE(kAbsolute, FrameFn)
ZOT_SLOT_TYPE(kAdd, FrameFn)
ZOT_SLOT_TYPE(kDivide, FrameFn)
ZOT_SLOT_TYPE(kMultiply, FrameFn)
ZOT_SLOT_TYPE(kNegate, ValueFn)
ZOT_SLOT_TYPE(kPower, FrameFn)
ZOT_SLOT_TYPE(kRemainder, FrameFn)
ZOT_SLOT_TYPE(kRound, RoundFn)
ZOT_SLOT_TYPE(kSubtract, FrameFn)
ZOT_SLOT_TYPE(kEven, PredicateFn)
ZOT_SLOT_TYPE(kOdd, PredicateFn)
ZOT_SLOT_TYPE(kAnd, FrameFn)
ZOT_SLOT_TYPE(kComplement, ComplementFn)
ZOT_SLOT_TYPE(kOr, FrameFn)
ZOT_SLOT_TYPE(kXor, FrameFn)
ZOT_SLOT_TYPE(kAppend, InsertFn)
ZOT_SLOT_TYPE(kAt, FrameFn)
ZOT_SLOT_TYPE(kBack, FrameFn)
ZOT_SLOT_TYPE(kChange, ChangeFn)
ZOT_SLOT_TYPE(kClear, ValueFn)
ZOT_SLOT_TYPE(kCopy, CopyFn)
ZOT_SLOT_TYPE(kFind, FindFn)
ZOT_SLOT_TYPE(kHead, FrameFn)
ZOT_SLOT_TYPE(kHeadQ, FrameFn)
ZOT_SLOT_TYPE(kIndexQ, FrameFn)
ZOT_SLOT_TYPE(kInsert, InsertFn)
ZOT_SLOT_TYPE(kLengthQ, LengthFn)
ZOT_SLOT_TYPE(kMove, MoveFn)
ZOT_SLOT_TYPE(kNext, FrameFn)
ZOT_SLOT_TYPE(kPick, PickFn)
ZOT_SLOT_TYPE(kPoke, PokeFn)
ZOT_SLOT_TYPE(kPut, PutFn)
ZOT_SLOT_TYPE(kRemove, RemoveFn)
ZOT_SLOT_TYPE(kReverse, ReverseFn)
ZOT_SLOT_TYPE(kSelect, SelectFn)
ZOT_SLOT_TYPE(kSort, SortFn)
ZOT_SLOT_TYPE(kSkip, FrameFn)
ZOT_SLOT_TYPE(kSwap, SwapFn)
ZOT_SLOT_TYPE(kTail, FrameFn)
ZOT_SLOT_TYPE(kTailQ, FrameFn)
ZOT_SLOT_TYPE(kTake, TakeFn)
ZOT_SLOT_TYPE(kTrim, TrimFn)
ZOT_SLOT_TYPE(kCreate, PortFn)
ZOT_SLOT_TYPE(kClose, PortFn)
ZOT_SLOT_TYPE(kDelete, PortFn)
ZOT_SLOT_TYPE(kModify, ModifyFn)
ZOT_SLOT_TYPE(kOpen, OpenFn)
ZOT_SLOT_TYPE(kOpenQ, PortFn)
ZOT_SLOT_TYPE(kQuery, PortFn)
ZOT_SLOT_TYPE(kRead, ReadFn)
ZOT_SLOT_TYPE(kRename, RenameFn)
ZOT_SLOT_TYPE(kUpdate, PortFn)
ZOT_SLOT_TYPE(kWrite, WriteFn)
#undef ZOT_SLOT_TYPE
template <int S>
using SlotFn = typename SlotType<S>::Fn;

// The table stores every slot function as AnyFn; only the typed setters and
// getters below convert, each to the type of its own slot.
template <int S>
ZOT_INLINE AnyFn erase(SlotFn<S> f) {
  return reinterpret_cast<AnyFn>(f);
}
template <int S>
ZOT_INLINE SlotFn<S> restore(AnyFn f) {
  return reinterpret_cast<SlotFn<S>>(f);
}

// "Take the parent's entry" in a registration.
void inherit_marker();
#define ZOT_INHERIT (&::zot::actions::inherit_marker)

// A datatype's row of the action table while it is registered: each slot
// holds a function of the slot's type, nothing, or the parent's entry.
class SlotTable {
 public:
  template <int S>
  void set(SlotFn<S> f) {
    fns_[S - 1] = erase<S>(f);
  }
  void inherit(int slot) { fns_[slot - 1] = ZOT_INHERIT; }
  void inherit_all() {
    for (AnyFn& f : fns_) f = ZOT_INHERIT;
  }
  void clear(int slot) { fns_[slot - 1] = nullptr; }
  const AnyFn* entries() const { return fns_; }

 private:
  AnyFn fns_[kSlotCount] = {};
};

// A slot function as the table holds it (tests compare entries with it).
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
// The slot function of the type, or null.
template <int S>
ZOT_INLINE SlotFn<S> get(u32 type) {
  return restore<S>(g_table[checked_type(type)][S - 1]);
}

// The slot function of the type, raising script/expect-arg when it has none.
AnyFn get_action(u32 type, int slot);
template <int S>
ZOT_INLINE SlotFn<S> lookup(u32 type) {
  AnyFn f = g_table[checked_type(type)][S - 1];
  if (ZOT_UNLIKELY(!f)) f = get_action(type, S);
  return restore<S>(f);
}

// Compares through slot 9 of a's type. compare_direct answers the slot's
// integer (-2 = not comparable); compare answers 0/1 for the op and raises
// script/invalid-compare when an ordering meets two incomparable values.
i32 compare_direct(const Cell* a, const Cell* b, i32 op);
bool compare(const Cell* a, const Cell* b, i32 op);

}  // namespace zot::actions
