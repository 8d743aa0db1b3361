#include "datatypes/tuple.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <utility>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/services.h"
#include "runtime/symbol.h"

namespace zot::tuple {

static_assert(std::endian::native == std::endian::little, "tuple bytes are laid out little-endian");

namespace {

Cell g_made;

ZOT_NORETURN void bad_to_arg(const Cell* spec) { raise_with_type(Err::ScriptBadToArg, T_TUPLE, spec); }

ZOT_INLINE u8 clamp_byte(i64 v) { return u8(v < 0 ? 0 : v > 255 ? 255 : v); }

int hex_digit(u8 c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The issue's name as a colour: 3 digits (each d x 17), 6 or 8 digits (two a byte).
Cell* from_issue(const Cell* issue) {
  const u32 sym = issue->word_symbol();
  const u8* name = reinterpret_cast<const u8*>(symbol::name_text(sym));
  const u32 len = symbol::name_length(sym);
  u8 bytes[4];
  int count;
  if (len == 3) {
    count = 3;
    for (int i = 0; i < 3; i++) {
      int d = hex_digit(name[i]);
      if (d < 0) raise_error(Err::ScriptInvalidData, issue);
      bytes[i] = u8(d * 17);
    }
  } else if (len == 6 || len == 8) {
    count = int(len / 2);
    for (int i = 0; i < count; i++) {
      int hi = hex_digit(name[2 * i]), lo = hex_digit(name[2 * i + 1]);
      if (hi < 0 || lo < 0) raise_error(Err::ScriptInvalidData, issue);
      bytes[i] = u8(hi * 16 + lo);
    }
  } else {
    raise_error(Err::ScriptInvalidData, issue);
  }
  return make_at(&g_made, bytes, count);
}

Cell* from_binary(const Cell* bin) {
  const mem::Series* s = series::buffer_of(bin);
  i64 index = std::max(series::index_of(bin), 0);
  i64 avail = i64(s->bytes_used()) - index;
  int n = int(std::clamp<i64>(avail, 0, kMaxBytes));
  u8 bytes[kMaxBytes] = {};
  if (n > 0) std::memcpy(bytes, s->head_ptr() + index, std::size_t(n));
  return make_at(&g_made, bytes, std::max(n, kMinBytes));
}

Cell* from_block(const Cell* spec) {
  const i32 n = block::length_at(spec);
  if (n > kMaxBytes) bad_to_arg(spec);
  const Cell* v = series::buffer_of(spec)->cells() + series::index_of(spec);
  u8 bytes[kMaxBytes] = {};
  for (i32 i = 0; i < n; i++) {
    double d;
    switch (v[i].type()) {
      case T_INTEGER:
      case T_CHAR:
        d = double(v[i].int_value());
        break;
      case T_FLOAT:
        d = std::trunc(v[i].float_value());
        break;
      default:
        bad_to_arg(spec);
    }
    if (!(d >= 0.0 && d <= 255.0)) bad_to_arg(spec);
    bytes[i] = u8(d);
  }
  return make_at(&g_made, bytes, std::max(int(n), kMinBytes));
}

void swap_operands() {
  Cell t = stack::g_base[0];
  stack::g_base[0] = stack::g_base[1];
  stack::g_base[1] = t;
}

void math(int op) { math_op(op); }

ZOT_NORETURN void bad_refinement(words::RefinementId which, const Cell* arg) {
  Cell r = scalar::refinement_arg(which);
  raise_error(Err::ScriptInvalidRefineArg, &r, arg);
}

}  // namespace

void set_byte_at(Cell* c, int i, u8 b) {
  ZOT_ASSERT(c->is(T_TUPLE));
  u32& w = i < 4 ? c->w1 : i < 8 ? c->w2 : c->w3;
  const u32 shift = u32(i & 3) * 8;
  w = (w & ~(0xFFu << shift)) | (u32(b) << shift);
}

void set_count(Cell* c, int count) {
  c->header = (c->header & ~kCountMask & ~(7u << 29)) | (u32(count) << kCountShift);
}

Cell* make_at(Cell* c, const u8* bytes, int count) {
  u32 w[3] = {0, 0, 0};
  std::memcpy(w, bytes, std::size_t(count));
  return make_cell(c, T_TUPLE | (u32(count) << kCountShift), w[0], w[1], w[2]);
}

Cell* push(int count, u32 w1, u32 w2, u32 w3) {
  return make_cell(stack::reserve_slot(), T_TUPLE | (u32(count) << kCountShift), w1, w2, w3);
}

Cell* push_from_ints(int count, const i32* ints) {
  u8 bytes[kMaxBytes] = {};
  count = std::clamp(count, 0, kMaxBytes);
  for (int i = 0; i < count; i++) bytes[i] = u8(ints[i]);
  return make_at(stack::reserve_slot(), bytes, std::max(count, kMinBytes));
}

Cell* make_rgba_at(Cell* c, i32 r, i32 g, i32 b, i32 a) {
  const u8 bytes[4] = {u8(r), u8(g), u8(b), u8(a)};
  return make_at(c, bytes, a == -1 ? 3 : 4);
}

bool zero_q(const Cell* c) {
  for (int i = 0; i < count_of(c); i++)
    if (byte_at(c, i)) return false;
  return true;
}

void math_op(int op) {
  if (!stack::g_base[0].is(T_TUPLE)) {
    if (op == integer::kOpSubtract) scalar::raise_not_related(words::subtract, stack::g_base[0].type());
    if (op == integer::kOpDivide) scalar::raise_not_related(words::divide, stack::g_base[0].type());
    swap_operands();
  }
  Cell* a = stack::g_base;
  const Cell* b = stack::g_base + 1;
  const int c1 = count_of(a);
  switch (b->type()) {
    case T_FLOAT:
    case T_PERCENT: {
      const double f = b->float_value();
      for (int i = 0; i < c1; i++) {
        const double r = std::trunc(float_::do_math_op(double(byte_at(a, i)), f, op));
        set_byte_at(a, i, std::isnan(r) ? 0 : r <= 0.0 ? 0 : r >= 255.0 ? 255 : u8(r));
      }
      return;
    }
    case T_INTEGER:
    case T_TUPLE:
      break;
    default:
      raise_with_type(Err::ScriptInvalidType, b->type());
  }
  const bool whole = b->is(T_INTEGER);
  const int c2 = whole ? 0 : count_of(b);
  const int count = std::max(c1, c2);
  u8 out[kMaxBytes];
  for (int i = 0; i < count; i++) {
    const i32 x = i < c1 ? byte_at(a, i) : 0;
    const i32 y = whole ? b->int_value() : i < c2 ? byte_at(b, i) : 0;
    Cell over;
    set_unset(&over);
    i64 r = integer::do_math_op(x, y, op, op == integer::kOpDivide ? nullptr : &over);
    if (over.is(T_FLOAT)) r = over.float_value() > 0.0 ? 255 : 0;
    out[i] = clamp_byte(r);
  }
  for (int i = 0; i < count; i++) set_byte_at(a, i, out[i]);
  if (count != c1) set_count(a, count);
}

// ---- slot functions

Cell* to(Cell*, Cell* spec, int) {
  const TypeId t = spec->type();
  switch (t) {
    case T_TUPLE:
      return spec;
    case T_BLOCK:
    case T_PAREN:
    case T_HASH:
      return from_block(spec);
    case T_BINARY:
      return from_binary(spec);
    case T_ISSUE:
      return from_issue(spec);
    default:
      if (is_any_string(t)) {
        Cell loaded;
        if (scalar::load_single(spec, &loaded) && loaded.is(T_TUPLE)) {
          g_made = loaded;
          return &g_made;
        }
      }
      bad_to_arg(spec);
  }
}

Cell* make(Cell* proto, Cell* spec, int type) { return to(proto, spec, type); }

i32 form(const Cell* value, Cell* out, const Cell*, i32 part) {
  char buf[kMaxBytes * 4];
  int n = 0;
  for (int i = 0; i < count_of(value); i++) {
    if (i) buf[n++] = '.';
    int len;
    const char* t = integer::form_signed(byte_at(value, i), &len);
    std::memcpy(buf + n, t, std::size_t(len));
    n += len;
  }
  string::append_c_text_n(out, buf, std::size_t(n));
  return part - n;
}

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part) {
  return form(value, out, o.limit, part);
}

Cell* pick(Cell* value, i32 index, Cell* index_cell) {
  const i32 i = index_cell && index_cell->is(T_INTEGER) ? index_cell->int_value() : index;
  if (i < 1 || i > count_of(value)) scalar::raise_out_of_range(index, index_cell);
  return integer::push(byte_at(value, i - 1));
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions&) {
  if (!element->is(T_INTEGER)) raise_with_type(Err::ScriptInvalidType, element->type());
  const i32 i = element->int_value();
  if (!value) return pick(parent, i, element);
  if (!value->is(T_INTEGER) && !value->is(T_NONE)) raise_with_type(Err::ScriptInvalidType, value->type());
  const int count = count_of(parent);
  if (i < 1 || i > count) scalar::raise_out_of_range(i, element);
  const Cell old = *parent;
  if (value->is(T_INTEGER)) {
    set_byte_at(parent, i - 1, clamp_byte(value->int_value()));
  } else {
    for (int k = i - 1; k < count; k++) set_byte_at(parent, k, 0);
    const int cut = std::max(i - 1, kMinBytes);
    if (cut != count) set_count(parent, cut);
  }
  scalar::field_changed(&old, parent, value, i);
  return value;
}

i32 compare(const Cell* a, const Cell* b, i32) {
  if (!b->is(T_TUPLE)) return actions::kNotComparable;
  const int ca = count_of(a), cb = count_of(b);
  for (int i = 0; i < std::max(ca, cb); i++) {
    const int x = i < ca ? byte_at(a, i) : 0;
    const int y = i < cb ? byte_at(b, i) : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

void add() { math(integer::kOpAdd); }
void subtract() { math(integer::kOpSubtract); }
void multiply() { math(integer::kOpMultiply); }
void divide() { math(integer::kOpDivide); }
void remainder() { math(integer::kOpRemainder); }
void or_() { math(integer::kOpOr); }
void and_() { math(integer::kOpAnd); }
void xor_() { math(integer::kOpXor); }

Cell* complement(Cell* value) {
  for (int i = 0; i < count_of(value); i++) set_byte_at(value, i, u8(255 - byte_at(value, i)));
  return value;
}

i32 length_q(const Cell* value) { return count_of(value); }

void reverse(Cell* value, Cell* part, Cell* skip) {
  const int count = count_of(value);
  int n = count;
  if (part) {
    if (!part->is(T_INTEGER)) bad_refinement(words::ref_part, part);
    if (part->int_value() < 0) scalar::raise_out_of_range(part->int_value(), part);
    n = std::min(part->int_value(), count);
  }
  int s = 1;
  if (skip) {
    if (!skip->is(T_INTEGER)) bad_refinement(words::ref_skip, skip);
    const i32 k = skip->int_value();
    // Records never reach past the bytes the range holds.
    if (k == n) return;
    if (k <= 0) scalar::raise_out_of_range(k, skip);
    if (k > n || n % k != 0) bad_refinement(words::ref_skip, skip);
    s = k;
  }
  u8 bytes[kMaxBytes];
  for (int i = 0; i < n; i++) bytes[i] = byte_at(value, i);
  const int records = n / s;
  for (int r = 0; r < records; r++)
    for (int j = 0; j < s; j++) set_byte_at(value, r * s + j, bytes[(records - 1 - r) * s + j]);
}

void random(Cell* value, bool seed, bool secure, bool) {
  if (seed) {
    // The seed folds the three words of bytes together.
    u32 folded = 0;
    for (int i = 0; i < kMaxBytes; i++) folded ^= u32(byte_at(value, i)) << ((i & 3) * 8);
    return random_seed_value(value, folded);
  }
  for (int i = 0, n = count_of(value); i < n; i++) set_byte_at(value, i, u8(random_range(byte_at(value, i) + 1, secure) - 1));
}

void register_type() {
  using namespace actions;
  actions::SlotTable slots;
  slots.set<kMake>(&make);
  slots.set<kRandom>(&random);
  slots.set<kTo>(&to);
  slots.set<kForm>(&form);
  slots.set<kMold>(&mold);
  slots.set<kEvalPath>(&eval_path);
  slots.set<kCompare>(&compare);
  slots.set<kAdd>(&add);
  slots.set<kDivide>(&divide);
  slots.set<kMultiply>(&multiply);
  slots.set<kRemainder>(&remainder);
  slots.set<kSubtract>(&subtract);
  slots.set<kAnd>(&and_);
  slots.set<kComplement>(&complement);
  slots.set<kOr>(&or_);
  slots.set<kXor>(&xor_);
  slots.set<kLengthQ>(&length_q);
  slots.set<kPick>(&pick);
  slots.set<kReverse>(&reverse);
  datatype::register_type(T_TUPLE, 0, "tuple!", slots);
}

}  // namespace zot::tuple
