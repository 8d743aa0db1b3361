// The action entries: each reads its arguments from the current frame, turns
// the refinement positions into flags and argument cells, and calls the slot
// function of the first argument's datatype.
#include <algorithm>

#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/words.h"
#include "interpreter/natives.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/helpers.h"
#include "runtime/stack.h"

namespace zot::natives {

namespace {

using namespace actions;

ZOT_INLINE Cell* base() { return stack::g_base; }
ZOT_INLINE Cell* arg(const i32* refs, int i) { return refs[i] < 0 ? nullptr : stack::g_base + refs[i]; }
ZOT_INLINE bool flag(const i32* refs, int i) { return refs[i] >= 0; }
ZOT_INLINE u32 t0() { return stack::g_base->type(); }

template <int S>
ZOT_INLINE SlotFn<S> slot() {
  return lookup<S>(t0());
}

// Copies a slot's answer into the result slot and drops the other arguments.
ZOT_INLINE void result(const Cell* r) {
  Cell v = *r;
  stack::set_only_result(&v);
}

template <int S>
void make_or_to() {
  Cell* b = base();
  u32 target = b->is(T_DATATYPE) ? b->datatype_id() : u32(b->type());
  Cell proto = b[0], spec = b[1];
  Cell* r = lookup<S>(target)(&proto, &spec, int(target));
  result(r);
}

void e_make(const i32*) { make_or_to<kMake>(); }
void e_to(const i32*) { make_or_to<kTo>(); }
void e_random(const i32* r) { slot<kRandom>()(base(), flag(r, 0), flag(r, 1), flag(r, 2)); stack::g_top = base() + 1; }
void e_reflect(const i32*) {
  u32 field = base()[1].word_symbol();
  slot<kReflect>()(base(), field);
  stack::g_top = base() + 1;
}

// form and mold: the output string is made in the next stack cell.
void form_or_mold(const i32* r, bool mold) {
  Cell* limit = arg(r, mold ? 3 : 0);
  i32 budget = 0x7FFFFFFF;
  if (limit) {
    budget = limit->int_value();
    if (budget <= 0) {
      Cell s;
      string::make_at(&s, 1);
      result(&s);
      return;
    }
  }
  Cell value = base()[0];
  stack::g_top = base() + 1;
  Cell* out = stack::reserve_slot();
  string::make_at(out, 16);
  if (mold) {
    const MoldOptions o{.limit = limit, .only = flag(r, 0), .all = flag(r, 1), .flat = flag(r, 2)};
    lookup<kMold>(value.type())(&value, out, o, budget);
  } else {
    lookup<kForm>(value.type())(&value, out, limit, budget);
  }
  if (limit && string::total_length(out) > budget) string::truncate_at(string::buffer_of(out), budget);
  result(out);
}
void e_form(const i32* r) { form_or_mold(r, false); }
void e_mold(const i32* r) { form_or_mold(r, true); }

void e_eval_path(const i32*) {
  Cell* b = base();
  Cell* r = lookup<kEvalPath>(b->type())(b, b + 1, nullptr, PathOptions{});
  result(r);
}

template <int S>
void e_frame(const i32*) {
  slot<S>()();
}

void e_negate(const i32*) { slot<kNegate>()(base()); stack::g_top = base() + 1; }
void e_clear(const i32*) { slot<kClear>()(base()); stack::g_top = base() + 1; }
void e_round(const i32* r) {
  actions::RoundOptions o;
  o.scale = arg(r, 0);
  o.even = flag(r, 1), o.down = flag(r, 2), o.half_down = flag(r, 3);
  o.floor = flag(r, 4), o.ceiling = flag(r, 5), o.half_ceiling = flag(r, 6);
  slot<kRound>()(base(), o);
  stack::g_top = base() + 1;
}
template <int S>
void parity() {
  bool v = slot<S>()(base());
  set_logic(base(), v);
  stack::g_top = base() + 1;
}
void e_even(const i32*) { parity<kEven>(); }
void e_odd(const i32*) { parity<kOdd>(); }
void e_complement(const i32*) { result(slot<kComplement>()(base())); }

ZOT_INLINE bool any_series(u32 t) { return is_any_series(t) || t == T_MAP; }

// The /part length of append, insert and change; false when nothing is to
// be inserted (the series is then the result, unchanged).
bool part_length(Cell* value, Cell* part, i32* length) {
  *length = -1;
  if (!part) return true;
  if (!any_series(value->type())) raise_error(Err::ScriptInvalidPart, part);
  i32 tail = series::total_length(value);
  if (value->series_index() > tail) value->set_series_index(tail);
  i32 len;
  if (part->is(T_INTEGER)) {
    len = part->int_value();
  } else {
    if (part->type() != value->type() || part->series_node() != value->series_node()) {
      Cell w = words::g_refinements[words::ref_part];
      set_type(&w, T_WORD);
      raise_error(Err::ScriptInvalidRefineArg, &w, part);
    }
    i32 idx = std::min(part->series_index(), tail);
    len = idx - value->series_index();
  }
  if (len == 0) return false;
  if (len < 0) {
    if (value->series_index() == 0) return false;
    i32 end = value->series_index() + len;
    if (end < 0) end = 0;
    len = value->series_index() - end;
    value->set_series_index(end);
  }
  *length = len;
  return true;
}

void insertion(const i32* r, bool append, bool change) {
  Cell* b = base();
  i32 length;
  // change's /part counts the series' values to replace (an empty range
  // replaces none); insert's and append's count the value's values.
  if (!part_length(change ? b : b + 1, arg(r, 0), &length) && !change) {
    stack::g_top = b + 1;
    return;
  }
  if (change && length < 0 && arg(r, 0)) length = 0;
  i32 dup = 1;
  if (Cell* d = arg(r, 2)) {
    dup = d->int_value();
    if (dup <= 0) {
      stack::g_top = b + 1;
      return;
    }
  }
  const InsertOptions o{.part = length, .dup = dup, .only = flag(r, 1), .append = append};
  if (change) slot<kChange>()(b, b + 1, o);
  else if (append) slot<kAppend>()(b, b + 1, o);
  else slot<kInsert>()(b, b + 1, o);
  stack::g_top = b + 1;
}
void e_append(const i32* r) { insertion(r, true, false); }
void e_insert(const i32* r) { insertion(r, false, false); }
void e_change(const i32* r) { insertion(r, false, true); }

void e_copy(const i32* r) {
  Cell* kind = arg(r, 2);
  // copy's spec: value /part length /deep /types kind; kind is its sixth word.
  if (kind && !kind->is(T_DATATYPE) && !kind->is(T_TYPESET)) runtime::raise_expect_arg(kind->type(), 5);
  Cell* fresh = stack::reserve_slot();
  set_none(fresh);
  result(slot<kCopy>()(base(), fresh, arg(r, 0), flag(r, 1), kind));
}

// find and select share their first nine refinements; find adds tail and match.
actions::FindOptions search_options(const i32* r, bool find) {
  actions::FindOptions o;
  o.part = arg(r, 0);
  o.only = flag(r, 1), o.case_ = flag(r, 2), o.same = flag(r, 3), o.any = flag(r, 4);
  o.with = arg(r, 5), o.skip = arg(r, 6);
  o.last = flag(r, 7), o.reverse = flag(r, 8);
  if (find) o.tail = flag(r, 9), o.match = flag(r, 10);
  return o;
}

void e_find(const i32* r) {
  Cell* b = base();
  result(slot<kFind>()(b, b + 1, search_options(r, true)));
}

void e_select(const i32* r) {
  Cell* b = base();
  result(slot<kSelect>()(b, b + 1, search_options(r, false)));
}

void e_length(const i32*) {
  i32 n = slot<kLengthQ>()(base());
  if (n < 0) set_none(base());
  else set_integer(base(), n);
  stack::g_top = base() + 1;
}

void e_move(const i32* r) { result(slot<kMove>()(base(), base() + 1, arg(r, 0))); }

// pick/poke index: integer and char give their number, logic 1 or 2, else 0.
i32 index_arg() {
  const Cell* i = base() + 1;
  switch (i->type()) {
    case T_INTEGER: return i->int_value();
    case T_CHAR: return i32(i->char_value());
    case T_LOGIC: return i->logic_value() ? 1 : 2;
    default: return 0;
  }
}
void e_pick(const i32*) { result(slot<kPick>()(base(), index_arg(), base() + 1)); }
void e_poke(const i32*) { result(slot<kPoke>()(base(), index_arg(), base() + 2, base() + 1)); }
void e_put(const i32* r) { result(slot<kPut>()(base(), base() + 1, base() + 2, flag(r, 0))); }
void e_remove(const i32* r) { slot<kRemove>()(base(), arg(r, 0), arg(r, 1)); stack::g_top = base() + 1; }
void e_reverse(const i32* r) { slot<kReverse>()(base(), arg(r, 0), arg(r, 1)); stack::g_top = base() + 1; }
void e_sort(const i32* r) {
  actions::SortOptions o;
  o.case_ = flag(r, 0);
  o.skip = arg(r, 1), o.comparator = arg(r, 2), o.part = arg(r, 3);
  o.all = flag(r, 4), o.reverse = flag(r, 5), o.stable = flag(r, 6);
  result(slot<kSort>()(base(), o));
}
void e_swap(const i32*) { slot<kSwap>()(base(), base() + 1); stack::g_top = base() + 1; }
void e_take(const i32* r) { result(slot<kTake>()(base(), arg(r, 0), flag(r, 1), flag(r, 2))); }
void e_trim(const i32* r) {
  actions::TrimOptions o;
  o.head = flag(r, 0), o.tail = flag(r, 1), o.auto_ = flag(r, 2), o.lines = flag(r, 3), o.all = flag(r, 4);
  o.with = arg(r, 5);
  slot<kTrim>()(base(), o);
  stack::g_top = base() + 1;
}

template <int S>
void e_port(const i32*) {
  result(slot<S>()(base()));
}
void e_modify(const i32* r) { result(slot<kModify>()(base(), base() + 1, base() + 2, flag(r, 0))); }
void e_open(const i32* r) {
  const OpenOptions o{
      .allow = arg(r, 4), .new_ = flag(r, 0), .read = flag(r, 1), .write = flag(r, 2), .seek = flag(r, 3)};
  result(slot<kOpen>()(base(), o));
}
void e_read(const i32* r) {
  actions::ReadOptions o;
  o.part = arg(r, 0), o.seek = arg(r, 1);
  o.binary = flag(r, 2), o.lines = flag(r, 3), o.info = flag(r, 4);
  o.as = arg(r, 5);
  result(slot<kRead>()(base(), o));
}
void e_rename(const i32*) { result(slot<kRename>()(base(), base() + 1)); }
void e_write(const i32* r) {
  actions::WriteOptions o;
  o.binary = flag(r, 0), o.lines = flag(r, 1), o.info = flag(r, 2), o.append = flag(r, 3);
  o.part = arg(r, 4), o.seek = arg(r, 5), o.allow = arg(r, 6), o.as = arg(r, 7);
  result(slot<kWrite>()(base(), base() + 1, o));
}

}  // namespace

EntryFn g_action_entries[63] = {
    nullptr,
    e_make, e_random, e_reflect, e_to, e_form, e_mold, e_eval_path, nullptr, nullptr,
    e_frame<kAbsolute>, e_frame<kAdd>, e_frame<kDivide>, e_frame<kMultiply>, e_negate, e_frame<kPower>,
    e_frame<kRemainder>, e_round, e_frame<kSubtract>, e_even, e_odd, e_frame<kAnd>, e_complement,
    e_frame<kOr>, e_frame<kXor>,
    e_append, e_frame<kAt>, e_frame<kBack>, e_change, e_clear, e_copy, e_find, e_frame<kHead>,
    e_frame<kHeadQ>, e_frame<kIndexQ>, e_insert, e_length, e_move, e_frame<kNext>, e_pick, e_poke, e_put,
    e_remove, e_reverse, e_select, e_sort, e_frame<kSkip>, e_swap, e_frame<kTail>, e_frame<kTailQ>, e_take,
    e_trim,
    e_port<kCreate>, e_port<kClose>, e_port<kDelete>, e_modify, e_open, e_port<kOpenQ>, e_port<kQuery>,
    e_read, e_rename, e_port<kUpdate>, e_write,
};

}  // namespace zot::natives
