// binary! slots and byte-series routines.
//
// The new bytes of append, insert and change are gathered first (into a
// std::vector, formatting values as it goes, which may allocate), checked for
// size, and only then is the series touched.
#include "datatypes/binary.h"

#include <algorithm>
#include <exception>

#include "datatypes/binary_codecs.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/image.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/string_actions.h"
#include "datatypes/tuple.h"
#include "runtime/actions.h"
#include "runtime/cycles.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace zot::binary {

using mem::Series;
using series::buffer_of;
using series::Change;
using series::index_of;

namespace {

constexpr i32 kNoLimit = 0x7FFFFFFF;

ZOT_NORETURN void no_memory() { raise_error(Err::InternalNoMemory); }


ZOT_NORETURN void bad_to(const Cell* value) {
  raise_with_type(Err::ScriptBadToArg, T_BINARY, value);
}

// The index clamped to [0, tail], written back when it lay past the tail.
// Room for `bytes` bytes in use from the head: grows to that, or to twice the
// size when that is larger.
Series* ensure_room(const Cell* b, u64 bytes) {
  Series* s = buffer_of(b);
  if (u64(s->head) + bytes <= s->size) return s;
  if (bytes > mem::kMaxSeriesBytes) no_memory();
  u64 want = std::max<u64>(bytes, u64(s->size) * 2);
  want = std::min<u64>(align_up(want, 16), mem::kMaxSeriesBytes);
  return mem::expand_series(s, u32(want));
}

// Opens a gap of n bytes at byte offset at (from the head) and returns its
// address; the tail moves up by n.
u8* open_gap(const Cell* b, u32 at, u32 n) {
  u64 used = buffer_of(b)->bytes_used();
  if (used + n > mem::kMaxSeriesBytes) no_memory();
  Series* s = ensure_room(b, used + n);
  u8* p = s->head_ptr();
  std::memmove(p + at + n, p + at, std::size_t(used - at));
  s->tail += n;
  return p + at;
}

void put_utf8(const Cell* text, i32 part, std::vector<u8>& out) {
  std::string u = string::to_utf8(text);
  std::size_t n = u.size();
  if (part >= 0 && std::size_t(part) < n) {
    // Whole sequences only.
    n = std::size_t(part);
    while (n > 0 && (u8(u[n]) & 0xC0) == 0x80) n--;
  }
  out.insert(out.end(), u.begin(), u.begin() + std::ptrdiff_t(n));
}

void put_char_utf8(u32 cp, std::vector<u8>& out) {
  u8 buf[4];
  int n = unicode::encode_utf8_char(cp, buf);
  out.insert(out.end(), buf, buf + n);
}

// The formed text of a value as UTF-8.
void put_formed(const Cell* value, std::vector<u8>& out) {
  Cell* top = stack::g_top;
  Cell v = *value;
  Cell* s = stack::push(&datatype::g_none);
  string::make_at(s, 16);
  actions::lookup<actions::kForm>(v.type())(&v, s, nullptr, kNoLimit);
  put_utf8(s, -1, out);
  stack::g_top = top;
}

void put_value(const Cell* value, i32 part, bool only, BytesMode mode, std::vector<u8>& out) {
  u32 t = value->type();
  std::size_t before = out.size();
  auto limit = [&] {
    if (part >= 0 && out.size() - before > std::size_t(part)) out.resize(before + std::size_t(part));
  };
  switch (t) {
    case T_CHAR:
      put_char_utf8(value->char_value(), out);
      return;
    case T_INTEGER: {
      i32 v = value->int_value();
      if (v < -128 || v > 255) raise_error(Err::ScriptInvalidArg, value);
      out.push_back(u8(v));
      return;
    }
    case T_BINARY: {
      Cell b = *value;
      i32 n = length_at(&b);
      if (part >= 0 && part < n) n = part;
      const u8* p = buffer_of(&b)->head_ptr() + std::max(index_of(&b), 0);
      out.insert(out.end(), p, p + n);
      return;
    }
    case T_TUPLE:
      for (int i = 0; i < tuple::count_of(value); i++) out.push_back(tuple::byte_at(value, i));
      limit();
      return;
    case T_BLOCK: case T_PAREN: case T_HASH: {
      Cell b = *value;
      if (cycles::find(b.series_node())) raise_error(Err::InternalNoCycle);
      cycles::Guard guard(b.series_node());
      i32 n = block::length_at(&b);
      if (part >= 0 && !only && part < n) n = part;
      i32 from = std::max(index_of(&b), 0);
      for (i32 i = 0; i < n; i++) {
        if (i32(buffer_of(&b)->length()) <= from + i) break;
        Cell e = buffer_of(&b)->cells()[from + i];
        put_value(&e, -1, false, mode, out);
        if (only && part >= 0 && out.size() - before >= std::size_t(part)) break;
      }
      if (only) limit();
      return;
    }
    default:
      break;
  }
  if (is_any_string(t)) {
    put_utf8(value, part, out);
    return;
  }
  if (mode == BytesMode::kStrict) bad_to(value);
  put_formed(value, out);
  limit();
}

enum Bitwise { kBitAnd, kBitOr, kBitXor };

// The bitwise actions on the frame's two binaries; the result replaces the first.
void bitwise(Bitwise op) {
  Cell* a = stack::g_base;
  Cell* b = stack::g_base + 1;
  if (!b->is(T_BINARY)) raise_error(Err::ScriptInvalidArg, b);
  std::vector<u8> x = bytes_of(a), y = bytes_of(b);
  if (x.size() < y.size()) std::swap(x, y);  // x the longer
  for (std::size_t i = 0; i < x.size(); i++) {
    bool both = i < y.size();
    switch (op) {
      case kBitAnd: x[i] = both ? u8(x[i] & y[i]) : 0; break;
      case kBitOr: x[i] = both ? u8(x[i] | y[i]) : x[i]; break;
      case kBitXor: x[i] = both ? u8(x[i] ^ y[i]) : x[i]; break;
    }
  }
  Cell* r = push_bytes(x.data(), u32(x.size()));
  *a = *r;
  stack::g_top = a + 1;
}

void and_() { bitwise(kBitAnd); }
void or_() { bitwise(kBitOr); }
void xor_() { bitwise(kBitXor); }

Cell* complement(Cell* value) {
  Series* s = buffer_of(value);
  i32 n = length_at(value);
  u8* p = s->head_ptr() + std::max(index_of(value), 0);
  for (i32 i = 0; i < n; i++) p[i] = u8(~p[i]);
  return value;
}

// ---- slots

i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part) {
  return mold(value, out, {.limit = limit, .only = true, .flat = true}, part);
}

i32 compare(const Cell* a, const Cell* b, i32 op) { return compare_bytes(a, b, op, false); }

Cell* to(Cell* proto, Cell* spec, int type) {
  (void)proto, (void)type;
  Cell v = *spec;
  u32 t = v.type();
  std::vector<u8> bytes;
  switch (t) {
    case T_BLOCK: case T_PAREN: case T_HASH: case T_CHAR: case T_TUPLE:
      put_value(&v, -1, false, BytesMode::kStrict, bytes);
      break;
    case T_INTEGER:
      for (int s = 24; s >= 0; s -= 8) bytes.push_back(u8(u32(v.int_value()) >> s));
      break;
    case T_FLOAT: case T_PERCENT: {
      u64 bits;
      double d = v.float_value();
      std::memcpy(&bits, &d, 8);
      for (int s = 56; s >= 0; s -= 8) bytes.push_back(u8(bits >> s));
      break;
    }
    case T_ISSUE:
      return from_issue(&v);
    case T_IMAGE:
      // Every pixel from the first, four bytes each as stored.
      return image::pixels_to_binary(&v, image::kArgb, stack::push(&datatype::g_none));
    case T_BITSET:
      bytes.assign(bitset::buffer(&v), bitset::buffer(&v) + bitset::byte_count(&v));
      break;
    case T_BINARY:
      bytes = bytes_of(&v);
      break;
    default:
      if (!is_any_string(t)) bad_to(&v);
      put_utf8(&v, -1, bytes);
  }
  return push_bytes(bytes.data(), u32(bytes.size()));
}

void append(Cell* s, Cell* value, const actions::InsertOptions& o) {
  if (o.dup < 1) return;
  i32 idx = clamp_index(s);
  std::vector<u8> bytes;
  put_value(value, o.part, o.only, BytesMode::kStrict, bytes);
  u32 used = buffer_of(s)->bytes_used();
  bool at_tail = o.append || u32(idx) >= used;
  u32 at = at_tail ? used : u32(idx);
  if (bytes.empty()) {
    s->set_series_index(o.append ? 0 : i32(at));
    return;
  }
  u64 added = u64(bytes.size()) * u64(o.dup);
  if (added + used > mem::kMaxSeriesBytes) no_memory();
  bool owned = series::ownership_check(s, o.append ? Change::kAppend : Change::kInsert, value, i32(at), i32(added));
  // The owner's handler may have changed the series.
  used = buffer_of(s)->bytes_used();
  if (at > used) at = used;
  if (added + used > mem::kMaxSeriesBytes) no_memory();
  u8* dst = open_gap(s, at, u32(added));
  std::memcpy(dst, bytes.data(), bytes.size());
  if (o.dup > 1) mem::copy_repeat(dst, u32(bytes.size()), u32(o.dup));
  if (owned)
    series::ownership_done(s, o.append ? Change::kAppended : Change::kInserted, value, i32(at), i32(added));
  s->set_series_index(o.append ? 0 : i32(at + added));
}

void change(Cell* s, Cell* value, const actions::InsertOptions& o) {
  if (o.dup < 1) return;
  i32 idx = clamp_index(s);
  std::vector<u8> bytes;
  put_value(value, -1, o.only, BytesMode::kFormed, bytes);
  u64 added = u64(bytes.size()) * u64(o.dup);
  u32 used = buffer_of(s)->bytes_used();
  u64 left = used - u32(idx);
  u64 replaced = o.part >= 0 ? std::min<u64>(u64(o.part), left) : std::min<u64>(added, left);
  if (used - replaced + added > mem::kMaxSeriesBytes) no_memory();
  bool owned = series::ownership_check(s, Change::kChange, value, idx, i32(replaced));
  used = buffer_of(s)->bytes_used();
  if (u32(idx) > used) idx = i32(used);
  replaced = std::min<u64>(replaced, used - u32(idx));
  if (added > replaced) {
    open_gap(s, u32(idx) + u32(replaced), u32(added - replaced));
  } else if (added < replaced) {
    Series* b = buffer_of(s);
    u8* p = b->head_ptr() + idx;
    std::memmove(p + added, p + replaced, std::size_t(used - u32(idx) - replaced));
    b->tail -= u32(replaced - added);
  }
  if (!bytes.empty()) {
    u8* dst = buffer_of(s)->head_ptr() + idx;
    std::memcpy(dst, bytes.data(), bytes.size());
    if (o.dup > 1) mem::copy_repeat(dst, u32(bytes.size()), u32(o.dup));
  }
  if (owned) series::ownership_done(s, Change::kChanged, nullptr, idx, i32(added));
  s->set_series_index(i32(u64(idx) + added));
}

void trim(Cell* s, const actions::TrimOptions& o) {
  if (o.auto_ || o.lines) raise_error(Err::InternalNotDone);
  if (o.with) {
    // Bytes in the given set: the text rule, which reads bytes as units.
    actions::TrimOptions as_text = o;
    as_text.all = true;
    string::trim(s, as_text);
    return;
  }
  i32 idx = clamp_index(s);
  bool owned = series::ownership_check(s, Change::kTrim, nullptr, idx, 0);
  Series* b = buffer_of(s);
  u8* p = b->head_ptr();
  u32 used = b->bytes_used();
  u32 from = u32(std::min<i32>(idx, i32(used)));
  u32 w = from;
  if (o.all) {
    for (u32 r = from; r < used; r++)
      if (p[r]) p[w++] = p[r];
  } else {
    u32 first = from, last = used;
    if (o.head || !o.tail)
      while (first < last && p[first] == 0) first++;
    if (o.tail || !o.head)
      while (last > first && p[last - 1] == 0) last--;
    std::memmove(p + from, p + first, last - first);
    w = from + (last - first);
  }
  b->tail = b->head + w;
  if (owned) series::ownership_done(s, Change::kTrimmed, nullptr, idx, 0);
}

}  // namespace

// ---- making

Cell* make_at(Cell* cell, u32 size) {
  set_unset(cell);
  mem::Node n = mem::alloc_bytes(size);
  return make_cell(cell, T_BINARY, 0, n, 0);
}

Cell* push_bytes(const u8* bytes, u32 length) {
  Cell* r = stack::push(&datatype::g_none);
  make_at(r, length);
  Series* s = buffer_of(r);
  if (length) std::memcpy(s->head_ptr(), bytes, length);
  s->tail = s->head + length;
  return r;
}

// ---- reading

std::vector<u8> bytes_of(const Cell* b) {
  i32 n = length_at(b);
  const u8* p = buffer_of(b)->head_ptr() + std::max(index_of(b), 0);
  return std::vector<u8>(p, p + n);
}

// ---- writing

void append_bytes(const Cell* b, const u8* bytes, u32 length) {
  if (!length) return;
  u8* dst = open_gap(b, buffer_of(b)->bytes_used(), length);
  std::memcpy(dst, bytes, length);
}

void insert_bytes(const Cell* b, u32 offset, const u8* bytes, u32 length) {
  if (!length) return;
  u32 at = std::min<u32>(u32(std::max(index_of(b), 0)) + offset, buffer_of(b)->bytes_used());
  u8* dst = open_gap(b, at, length);
  std::memcpy(dst, bytes, length);
}

void write_bytes_at(const Cell* b, u32 offset, const u8* bytes, u32 length) {
  u64 at = u64(std::max(index_of(b), 0)) + offset;
  u64 end = at + length;
  if (end > mem::kMaxSeriesBytes) no_memory();
  Series* s = ensure_room(b, end);
  if (u64(s->bytes_used()) < at) std::memset(s->head_ptr() + s->bytes_used(), 0, std::size_t(at - s->bytes_used()));
  std::memcpy(s->head_ptr() + at, bytes, length);
  if (end > s->bytes_used()) s->tail = s->head + u32(end);
}

void append_int32_be(const Cell* b, u32 value) {
  u8 bytes[4] = {u8(value >> 24), u8(value >> 16), u8(value >> 8), u8(value)};
  append_bytes(b, bytes, 4);
}

// ---- values as bytes

void value_bytes(const Cell* value, i32 part, bool only, BytesMode mode, std::vector<u8>& out) {
  put_value(value, part, only, mode, out);
}

// ---- comparison

i32 compare_bytes(const Cell* a, const Cell* b, i32 op, bool match) {
  u32 tb = b->type();
  if (tb != T_BINARY && !(match && is_any_string(tb))) return actions::kNotComparable;
  bool equality = op == actions::kEqual || op == actions::kNotEqual || op == actions::kStrictEqual ||
                  op == actions::kFindEqual;
  bool same = tb == T_BINARY && a->series_node() == b->series_node() && index_of(a) == index_of(b);
  if (op == actions::kSame) return same ? 0 : -1;
  if (same && equality) return 0;
  std::vector<u8> key;
  const u8* pb;
  i32 lb;
  if (tb == T_BINARY) {
    lb = length_at(b);
    pb = buffer_of(b)->head_ptr() + std::max(index_of(b), 0);
  } else {
    put_utf8(b, -1, key);
    lb = i32(key.size());
    pb = key.data();
  }
  i32 la = length_at(a);
  const u8* pa = buffer_of(a)->head_ptr() + std::max(index_of(a), 0);
  if (match) {
    if (lb == 0) return op == actions::kEqual || op == actions::kStrictEqual || op == actions::kFindEqual ? 0 : 1;
    if (la < lb) return 1;  // the key runs past the end: no match
    return std::memcmp(pa, pb, std::size_t(lb)) == 0 ? 0 : 1;
  }
  if (la != lb && equality) return 1;
  i32 n = std::min(la, lb);
  int r = n ? std::memcmp(pa, pb, std::size_t(n)) : 0;
  if (r) return r < 0 ? -1 : 1;
  return la < lb ? -1 : la > lb ? 1 : 0;
}

bool match_head(const Cell* b, const Cell* value, i32 op) {
  u32 t = value->type();
  if (t == T_CHAR || t == T_INTEGER) {
    if (length_at(b) < 1) return false;
    const u32 v = t == T_CHAR ? value->char_value() : u32(value->int_value());
    return byte_at(b, 0) == (v & 0xFF) && v <= 0xFF;
  }
  return compare_bytes(b, value, op, true) == 0;
}

// ---- text

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part) {
  Cell b = *value;
  const i32 indent = o.indent;
  string::Budget budget(out, &part);
  i32 n = length_at(&b);
  i32 from = std::max(index_of(&b), 0);
  bool lines = n >= 31 && !o.flat;
  auto stop = [&] { return o.limit && part < 1; };
  if (!o.only) budget.text("#{");
  if (lines) {
    budget.text("\n");
    budget.indent(indent + 1);
  }
  for (i32 i = 0; i < n && !stop(); i++) {
    budget.text(string::byte_to_hex(buffer_of(&b)->head_ptr()[from + i]));
    // A full line of 32 bytes breaks, unless it is the last one.
    if (lines && (i + 1) % 32 == 0 && i + 1 < n && !stop()) {
      budget.text("\n");
      budget.indent(indent + 1);
    }
  }
  if (lines && !stop()) {
    budget.text("\n");
    budget.indent(indent);
  }
  if (!o.only && !stop()) budget.text("}");
  return part;
}

// ---- conversion

Cell* from_issue(const Cell* issue) {
  const char* name = symbol::name_text(issue->word_symbol());
  std::vector<u8> bytes;
  if (!decode(16, reinterpret_cast<const u8*>(name), u32(std::strlen(name)), 1, bytes))
    raise_error(Err::ScriptInvalidData, issue);
  return push_bytes(bytes.data(), u32(bytes.size()));
}

void register_type() {
  using namespace actions;
  actions::SlotTable s;
  s.inherit_all();
  for (int slot = kAbsolute; slot <= kOdd; slot++) s.clear(slot);
  for (Slot slot : {kSetPath, kPut, kCreate, kClose, kDelete, kOpen, kOpenQ, kQuery, kRead, kRename, kUpdate,
                    kWrite})
    s.clear(slot);
  s.set<kTo>(&to);
  s.set<kForm>(&form);
  s.set<kMold>(&mold);
  s.set<kCompare>(&compare);
  s.set<kAnd>(&and_);
  s.set<kComplement>(&complement);
  s.set<kOr>(&or_);
  s.set<kXor>(&xor_);
  s.set<kAppend>(&append);
  s.set<kInsert>(&append);
  s.set<kChange>(&change);
  s.set<kTrim>(&trim);
  datatype::register_type(T_BINARY, T_STRING, "binary!", s);
}

}  // namespace zot::binary
