#include "datatypes/bitset.h"

#include <algorithm>
#include <cmath>

#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/words.h"
#include "runtime/errors.h"
#include "runtime/rooted.h"
#include "runtime/stack.h"

namespace zot::bitset {

using mem::Series;

namespace {

// The bit count of the storage must be an integer! (length? answers it): bits
// from 2,147,483,640 on can never be stored; they only ever answer the
// negation flag.
constexpr i64 kBitLimit = i64(INT32_MAX) / 8 * 8;
constexpr u32 kMaxBytes = u32(kBitLimit / 8);


ZOT_NORETURN void raise_type(Err e, u32 type) {
  Cell dt = datatype_cell(type);
  raise_error(e, &dt);
}

ZOT_NORETURN void refuse(const Cell* value, int caller) {
  Cell dt = datatype_cell(T_BITSET);
  if (caller == kCallerMake) raise_error(Err::ScriptBadMakeArg, &dt, value);
  if (caller == kCallerTo) raise_error(Err::ScriptBadToArg, &dt, value);
  raise_error(Err::ScriptInvalidArg, value);
}

ZOT_INLINE bool get_bit(const Cell* bits, i64 bit) {
  return (buffer(bits)[bit >> 3] & (0x80u >> (bit & 7))) != 0;
}

ZOT_INLINE void put_bit(Cell* bits, i64 bit, bool on) {
  u8* p = buffer(bits) + (bit >> 3);
  u8 mask = u8(0x80u >> (bit & 7));
  if (on) *p |= mask;
  else *p &= u8(~mask);
}

// Grows the stored bytes to `bytes`, the new ones filled so that membership
// does not change.
void grow_to(Cell* bits, u64 bytes) {
  Series* s = series_of(bits);
  u32 used = s->bytes_used();
  if (bytes <= used) return;
  if (u64(s->head) + bytes > s->size) {
    u64 want = align_up(std::max<u64>(u64(s->size) * 2, u64(s->head) + bytes), 16);
    if (want > mem::kMaxSeriesBytes) want = align_up(u64(s->head) + bytes, 16);
    if (want > mem::kMaxSeriesBytes) raise_error(Err::InternalNoMemory);
    s = mem::expand_series(s, u32(want));
  }
  std::memset(s->head_ptr() + used, (s->flags & kNegated) ? 0xFF : 0, std::size_t(bytes - used));
  s->tail = s->head + u32(bytes);
}

// One bit under a mode (not measure); answers the test.
bool apply_bit(Cell* bits, i64 bit, int mode, const Cell* value) {
  if (mode == kModeTest) return out_of_range(bits, bit) ? negated(bits) : get_bit(bits, bit);
  if (bit < 0 || bit >= kBitLimit) raise_error(Err::ScriptOutOfRange, value);
  bool neg = negated(bits);
  if (mode == kModeSet) {
    if (neg && out_of_range(bits, bit)) return true;  // already a member
    ensure_bit(bits, bit);
    put_bit(bits, bit, true);
  } else {
    if (neg) ensure_bit(bits, bit);
    else if (out_of_range(bits, bit)) return true;  // never a member
    put_bit(bits, bit, false);
  }
  return true;
}

// Bits low..high inclusive (low <= high).
bool apply_range(Cell* bits, i64 low, i64 high, int mode, const Cell* low_value, const Cell* high_value) {
  bool neg = negated(bits);
  i64 stored = i64(byte_count(bits)) * 8;
  if (mode == kModeTest) {
    if ((low < 0 || high >= stored) && !neg) return false;
    for (i64 b = std::max<i64>(low, 0), e = std::min(high, stored - 1); b <= e; b++)
      if (!get_bit(bits, b)) return false;
    return true;
  }
  if (low < 0) raise_error(Err::ScriptOutOfRange, low_value);
  if (high >= kBitLimit) raise_error(Err::ScriptOutOfRange, high_value);
  bool on = mode == kModeSet;
  // Setting a normal bitset and clearing a negated one reach past the storage.
  if (on != neg) ensure_bit(bits, high);
  stored = i64(byte_count(bits)) * 8;
  for (i64 b = low, e = std::min(high, stored - 1); b <= e; b++) put_bit(bits, b, on);
  return true;
}

// A single bit number from a number or char value.
i64 bit_of(const Cell* v) {
  if (v->is(T_CHAR)) return i64(v->char_value());
  if (v->is(T_INTEGER)) return v->int_value();
  double d = v->float_value();
  if (std::isnan(d)) return -1;
  d = std::trunc(d);
  if (d >= double(kBitLimit)) return kBitLimit;
  if (d < -double(kBitLimit)) return -kBitLimit;
  return i64(d);
}

i64 process_string(Cell* bits, const Cell* text, int mode) {
  mem::Node node = text->series_node();
  i32 from = std::max<i32>(series::index_of(text), 0);
  auto length = [&] { return i32(mem::series_of(node)->length()); };
  auto char_at = [&](i32 i) {
    Series* s = mem::series_of(node);
    return i64(string::get_char(s->head_ptr() + (u32(i) << s->unit_shift()), s->unit()));
  };
  i64 highest = -1;
  for (i32 i = from; i < length(); i++) highest = std::max(highest, char_at(i));
  if (mode == kModeMeasure) return highest;
  if (highest < 0) return mode == kModeTest ? 1 : 0;
  // Grow once up front when the walk reaches past the storage.
  if ((mode == kModeSet && !negated(bits)) || (mode == kModeClear && negated(bits))) ensure_bit(bits, highest);
  for (i32 i = from; i < length(); i++) {
    Cell cp;
    make_cell(&cp, T_CHAR, 0, u32(char_at(i)), 0);
    if (!apply_bit(bits, char_at(i), mode, &cp)) return 0;
  }
  return mode == kModeTest ? 1 : 0;
}

i64 walk(Cell* bits, const Cell* spec, int mode, int caller, bool nested);

i64 process_block(Cell* bits, const Cell* block, int mode, int caller) {
  mem::Node node = block->series_node();
  i32 i = std::max<i32>(series::index_of(block), 0);
  auto end = [&] { return i32(mem::series_of(node)->length()); };
  auto at = [&](i32 k) { return mem::series_of(node)->cells()[k]; };
  i64 highest = -1;
  while (i < end()) {
    Cell item = at(i);
    bool number = item.is(T_CHAR) || item.is(T_INTEGER);
    if (number && i + 1 < end()) {
      Cell dash = at(i + 1);
      if (dash.is(T_WORD) && scalar::word_is(&dash, w::dash)) {
        if (i + 2 >= end()) raise_error(Err::ScriptPastEnd);
        Cell upper = at(i + 2);
        if (!upper.is(T_CHAR) && !upper.is(T_INTEGER)) raise_error(Err::ScriptPastEnd);
        if (upper.type() != item.type()) raise_error(Err::ScriptInvalidArg, &upper);
        i64 low = bit_of(&item), high = bit_of(&upper);
        if (low > high) raise_error(Err::ScriptPastEnd);
        i += 3;
        if (mode == kModeMeasure) {
          if (low < 0) raise_error(Err::ScriptOutOfRange, &item);
          if (high >= kBitLimit) raise_error(Err::ScriptOutOfRange, &upper);
          highest = std::max(highest, high);
          continue;
        }
        if (!apply_range(bits, low, high, mode, &item, &upper)) return 0;
        continue;
      }
    }
    i64 r = walk(bits, &item, mode, caller, true);
    i++;
    if (mode == kModeMeasure) highest = std::max(highest, r);
    else if (mode == kModeTest && !r) return 0;
  }
  if (mode == kModeMeasure) return highest;
  return mode == kModeTest ? 1 : 0;
}

i64 walk(Cell* bits, const Cell* spec, int mode, int caller, bool nested) {
  switch (spec->type()) {
    case T_CHAR:
    case T_INTEGER:
    case T_FLOAT: {
      i64 bit = bit_of(spec);
      if (mode == kModeMeasure) {
        if (bit < 0 || bit >= kBitLimit) raise_error(Err::ScriptOutOfRange, spec);
        return bit;
      }
      bool r = apply_bit(bits, bit, mode, spec);
      return mode == kModeTest ? i64(r) : 0;
    }
    case T_STRING:
      return process_string(bits, spec, mode);
    case T_BLOCK:
      return process_block(bits, spec, mode, caller);
    case T_BINARY:
      if (nested) raise_error(Err::InternalNotDone);
      refuse(spec, caller);
    default:
      refuse(spec, caller);
  }
}

// The byte count a measured spec needs: at least one.
u64 bytes_for(i64 highest) { return highest < 0 ? 1 : u64(highest >> 3) + 1; }

Cell* push_new() { return stack::push(&datatype::g_none); }

// A new bitset holding a copy of the source's bytes and flags.
Cell* copy_into(const Cell* src, Cell* out) {
  mem::Node n = mem::copy_series(series_of(src));
  return make_cell(out, T_BITSET, 0, n, 0);
}

// The copy with every member swapped for a non-member.
Cell* complement_into(const Cell* src, Cell* out) {
  copy_into(src, out);
  Series* s = series_of(out);
  for (u8 *p = s->head_ptr(), *e = s->tail_ptr(); p < e; p++) *p = u8(~*p);
  s->flags ^= kNegated;
  return out;
}

bool falsy(const Cell* v) {
  switch (v->type()) {
    case T_NONE: return true;
    case T_LOGIC: return !v->logic_value();
    case T_INTEGER: return v->int_value() == 0;
    case T_FLOAT: return v->float_value() == 0.0;
    default: return false;
  }
}

Cell g_answer;

Cell* logic_answer(bool v) { return set_logic(&g_answer, v); }

}  // namespace

// ---- storage

Cell* make_at(Cell* cell, u32 bytes, bool neg) {
  mem::Node n = mem::alloc_bytes(bytes);
  Series* s = mem::series_of(n);
  std::memset(s->head_ptr(), neg ? 0xFF : 0, bytes);
  s->tail = s->head + bytes;
  if (neg) s->flags |= kNegated;
  return make_cell(cell, T_BITSET, 0, n, 0);
}

void ensure_bit(Cell* bits, i64 bit) { grow_to(bits, u64(bit >> 3) + 1); }

bool out_of_range(const Cell* bits, i64 bit) { return bit < 0 || u64(bit >> 3) >= byte_count(bits); }

// ---- specs

i64 process_spec(Cell* bits, const Cell* spec, int mode, int caller) {
  return walk(bits, spec, mode, caller, false);
}

Cell* make_from_spec(const Cell* spec_in, bool to) {
  int caller = to ? kCallerTo : kCallerMake;
  Cell spec = *spec_in;
  bool neg = false;
  if (spec.is(T_BLOCK) && !block::index_at_tail(&spec)) {
    Cell first = *block::index_cell(&spec);
    if (first.is(T_WORD) && scalar::word_is(&first, w::not_)) {
      neg = true;
      spec.set_series_index(spec.series_index() + 1);
      if (!block::index_at_tail(&spec) && block::index_cell(&spec)->is(T_BINARY)) spec = *block::index_cell(&spec);
    }
  }
  Cell* out = push_new();
  switch (spec.type()) {
    case T_BITSET:
      return copy_into(&spec, out);
    case T_INTEGER:
    case T_FLOAT: {
      Cell dt = datatype_cell(T_BITSET);
      if (to) raise_error(Err::ScriptBadToArg, &dt, &spec);
      i64 n;
      if (spec.is(T_INTEGER)) {
        n = spec.int_value();
      } else {
        double d = spec.float_value();
        if (std::isnan(d) || d < -2147483648.0 || d > 2147483647.0) raise_error(Err::ScriptOutOfRange, &spec);
        n = i64(d);
      }
      if (n < 0 || n > kBitLimit) raise_error(Err::ScriptOutOfRange, &spec);
      return make_at(out, u32((n + 7) / 8), false);
    }
    case T_BINARY: {
      i32 len = series::length_at(&spec);
      if (u32(len) > kMaxBytes) {
        Cell n;
        set_integer(&n, len);
        raise_error(Err::ScriptSizeLimit, &n);
      }
      i32 from = std::max<i32>(series::index_of(&spec), 0);
      make_at(out, u32(len), false);
      const Series* src = series::buffer_of(&spec);
      Series* dst = series_of(out);
      std::memcpy(dst->head_ptr(), src->head_ptr() + from, u32(len));
      if (neg) {
        for (u8 *p = dst->head_ptr(), *e = dst->tail_ptr(); p < e; p++) *p = u8(~*p);
        dst->flags |= kNegated;
      }
      return out;
    }
    default:
      break;
  }
  // Measure first (which also checks the whole spec), then walk it once.
  u64 bytes = bytes_for(walk(out, &spec, kModeMeasure, caller, false));
  if (bytes > mem::kMaxSeriesBytes) raise_error(Err::InternalNoMemory);
  make_at(out, u32(bytes), neg);
  walk(out, &spec, neg ? kModeClear : kModeSet, caller, false);
  return out;
}

// ---- set operations

void do_bitwise(int op) {
  if (op == kOpUnique) return;
  Cell* a = stack::g_base;
  Cell* b = stack::g_base + 1;
  if (!b->is(T_BITSET)) raise_type(Err::ScriptInvalidType, b->type());
  bool na = negated(a), nb = negated(b);
  u32 la = byte_count(a), lb = byte_count(b);
  u32 len = std::max(la, lb);
  // With normal operands the bytes past these lengths are all zero anyway.
  if (!na && !nb) {
    if (op == kOpAnd) len = std::min(la, lb);
    if (op == kOpExclude) len = la;
  }
  auto combine = [op](u32 x, u32 y) -> u32 {
    switch (op) {
      case kOpOr: case kOpUnion: return x | y;
      case kOpAnd: case kOpIntersect: return x & y;
      case kOpXor: case kOpDifference: return x ^ y;
      default: return x & ~y;  // exclude
    }
  };
  Cell fresh;
  make_at(&fresh, len, false);
  const u8* pa = buffer(a);
  const u8* pb = buffer(b);
  u8* pr = buffer(&fresh);
  u32 fill_a = na ? 0xFF : 0, fill_b = nb ? 0xFF : 0;
  for (u32 i = 0; i < len; i++) pr[i] = u8(combine(i < la ? pa[i] : fill_a, i < lb ? pb[i] : fill_b));
  // Every bit past the storage is the same operation on the operands' flags.
  if (combine(fill_a, fill_b) & 1) series_of(&fresh)->flags |= kNegated;
  *a = fresh;
}

// ---- slot functions

Cell* make(Cell*, Cell* spec, int) { return make_from_spec(spec, false); }
Cell* to(Cell*, Cell* spec, int) { return make_from_spec(spec, true); }

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions&, i32 part) {
  bool neg = negated(value);
  const char* open = neg ? "make bitset! [not #{" : "make bitset! #{";
  string::append_c_text(out, open);
  part -= i32(std::strlen(open));
  u32 n = byte_count(value);
  for (u32 i = 0; i < n && part > 0; i++) {
    u8 byte = buffer(value)[i];
    string::append_c_text_n(out, string::byte_to_hex(neg ? u8(~byte) : byte), 2);
    part -= 2;
  }
  if (part <= 0) return part;
  const char* close = neg ? "}]" : "}";
  string::append_c_text(out, close);
  return part - i32(std::strlen(close));
}

i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part) {
  return mold(value, out, {.limit = limit}, part);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions&) {
  if (!element->is(T_INTEGER) && !element->is(T_CHAR)) raise_type(Err::ScriptInvalidType, element->type());
  if (!value) return pick(parent, 0, element);
  // The owner's handler may replace or move the cell the path reached: this
  // copy keeps the bitset alive.
  Rooted b(*parent);
  return poke(&b.cell, 0, value, element);
}

i32 compare(const Cell* a, const Cell* b, i32 op) {
  if (!b->is(T_BITSET)) return actions::kNotComparable;
  if (op == actions::kSame) return a->bitset_node() == b->bitset_node() ? 0 : 1;
  u32 la = byte_count(a), lb = byte_count(b);
  if (la != lb) return la < lb ? -1 : 1;
  if (la == 0) return 0;
  bool na = negated(a), nb = negated(b);
  if (na != nb) return na ? 1 : -1;
  const u8* pa = buffer(a);
  const u8* pb = buffer(b);
  for (u32 i = la; i-- > 0;)
    if (pa[i] != pb[i]) return pa[i] < pb[i] ? -1 : 1;
  return 0;
}

void negate(Cell* value) {
  Cell fresh;
  complement_into(value, &fresh);
  *value = fresh;
}

void and_() { do_bitwise(kOpAnd); }
void or_() { do_bitwise(kOpOr); }
void xor_() { do_bitwise(kOpXor); }

Cell* complement(Cell* value) { return complement_into(value, push_new()); }

void append(Cell* series, Cell* value, const actions::InsertOptions&) {
  bool owned = series::ownership_check(series, series::Change::kInsert, value, 0, 0);
  process_spec(series, value, kModeSet, kCallerOther);
  if (owned) series::ownership_done(series, series::Change::kInserted, value, 0, 0);
}

void clear(Cell* value) {
  bool owned = series::ownership_check(value, series::Change::kClear, nullptr, 0, 0);
  Series* s = series_of(value);
  std::memset(s->head_ptr(), (s->flags & kNegated) ? 0xFF : 0, s->bytes_used());
  if (owned) series::ownership_done(value, series::Change::kCleared, nullptr, 0, 0);
}

Cell* copy(Cell* value, Cell* result, Cell*, bool, Cell*) { return copy_into(value, result); }

Cell* find(Cell* series, Cell* value, const actions::FindOptions&) {
  if (process_spec(series, value, kModeTest, kCallerOther)) return logic_answer(true);
  return set_none(&g_answer);
}

i32 length_q(const Cell* value) { return i32(byte_count(value) * 8); }

Cell* pick(Cell* series, i32, Cell* index_cell) {
  return logic_answer(process_spec(series, index_cell, kModeTest, kCallerOther) != 0);
}

Cell* poke(Cell* series, i32, Cell* value, Cell* index_cell) {
  bool owned = series::ownership_check(series, series::Change::kPoke, value, 0, 0);
  process_spec(series, index_cell, falsy(value) ? kModeClear : kModeSet, kCallerOther);
  if (owned) series::ownership_done(series, series::Change::kPoked, value, 0, 0);
  return value;
}

// The key's members leave the set, whatever the negation: the stored bits are
// the members in both kinds.
void remove(Cell* series, Cell*, Cell* key) {
  if (!key) raise_error(Err::ScriptMissingArg);
  bool owned = series::ownership_check(series, series::Change::kRemove, key, 0, 0);
  process_spec(series, key, kModeClear, kCallerOther);
  if (owned) series::ownership_done(series, series::Change::kRemoved, key, 0, 0);
}

void register_type() {
  using namespace actions;
  actions::SlotTable slots;
  slots.set<kMake>(&make);
  slots.set<kReflect>(&series::reflect);
  slots.set<kTo>(&to);
  slots.set<kForm>(&form);
  slots.set<kMold>(&mold);
  slots.set<kEvalPath>(&eval_path);
  slots.set<kCompare>(&compare);
  slots.set<kNegate>(&negate);
  slots.set<kAnd>(&and_);
  slots.set<kComplement>(&complement);
  slots.set<kOr>(&or_);
  slots.set<kXor>(&xor_);
  slots.set<kAppend>(&append);
  slots.set<kInsert>(&append);
  slots.set<kClear>(&clear);
  slots.set<kCopy>(&copy);
  slots.set<kFind>(&find);
  slots.set<kLengthQ>(&length_q);
  slots.set<kPick>(&pick);
  slots.set<kPoke>(&poke);
  slots.set<kRemove>(&remove);
  slots.set<kModify>(&series::modify);
  datatype::register_type(T_BITSET, 0, "bitset!", slots);
}

}  // namespace zot::bitset
