#include "datatypes/vector.h"

#include <algorithm>
#include <cmath>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/words.h"
#include "runtime/errors.h"
#include "runtime/services.h"
#include "runtime/stack.h"

namespace zot::vector {

using mem::Series;
using integer::MathOp;

namespace {


ZOT_NORETURN void raise_type(Err e, u32 type) {
  Cell dt = datatype_cell(type);
  raise_error(e, &dt);
}

ZOT_NORETURN void bad_make_arg(const Cell* spec) {
  raise_with_type(Err::ScriptBadMakeArg, T_VECTOR, spec);
}

ZOT_INLINE Series* buffer_of(const Cell* v) { return mem::series_of(v->series_node()); }
ZOT_INLINE i32 total_of(const Cell* v) { return i32(buffer_of(v)->length()); }
// Elements from the index to the tail, without touching the cell.
ZOT_INLINE i32 length_from_index(const Cell* v) {
  return std::max<i32>(total_of(v) - std::max<i32>(v->series_index(), 0), 0);
}
ZOT_INLINE i32 clamped_index(const Cell* v) { return std::clamp<i32>(v->series_index(), 0, total_of(v)); }
// Address of element i from the head (valid until the next allocation).
ZOT_INLINE u8* element_at(const Cell* v, i64 i) {
  Series* s = buffer_of(v);
  return s->head_ptr() + (u64(i) << s->unit_shift());
}

// ---- raw elements

i64 read_int(const u8* p, u32 width, bool code_point) {
  switch (width) {
    case 1:
      return code_point ? i64(*p) : i64(i8(*p));
    case 2: {
      u16 v;
      std::memcpy(&v, p, 2);
      return code_point ? i64(v) : i64(i16(v));
    }
    default: {
      u32 v;
      std::memcpy(&v, p, 4);
      return code_point ? i64(v) : i64(i32(v));
    }
  }
}

// The low `width` bytes of the value, little-endian.
void write_int(u8* p, u32 width, i64 v) {
  for (u32 k = 0; k < width; k++) p[k] = u8(u64(v) >> (8 * k));
}

double read_float(const u8* p, u32 width) {
  if (width == 4) {
    float f;
    std::memcpy(&f, p, 4);
    return double(f);
  }
  double d;
  std::memcpy(&d, p, 8);
  return d;
}

void write_float(u8* p, u32 width, double d) {
  if (width == 4) {
    float f = float(d);
    std::memcpy(p, &f, 4);
  } else {
    std::memcpy(p, &d, 8);
  }
}

// Room for `total` elements from the head; the buffer may move.
Series* reserve(const Cell* v, u64 total) {
  Series* s = buffer_of(v);
  if (total > mem::kMaxSeriesBytes) raise_error(Err::InternalNoMemory);
  u64 bytes = total * s->unit();
  if (bytes > mem::kMaxSeriesBytes) raise_error(Err::InternalNoMemory);
  u64 need = u64(s->head) + bytes;
  if (need <= s->size) return s;
  u64 want = align_up(std::max<u64>(u64(s->size) * 2, need), 16);
  if (want > mem::kMaxSeriesBytes) want = align_up(need, 16);
  if (want > mem::kMaxSeriesBytes) raise_error(Err::InternalNoMemory);
  return mem::expand_series(s, u32(want));
}

// ---- the values an append, insert or change brings

enum SourceKind { kCells, kElements, kSingle };
struct Source {
  Cell value;
  i32 count;
  SourceKind kind;
};

Source source_of(const Cell* value, i32 part, bool paths_and_vectors) {
  u32 t = value->type();
  bool cells = is_any_list(t) || (paths_and_vectors && is_any_path(t));
  if (cells || (paths_and_vectors && t == T_VECTOR)) {
    i32 n = length_from_index(value);
    if (part >= 1) n = std::min(n, part);
    return {*value, n, cells ? kCells : kElements};
  }
  return {*value, 1, kSingle};
}

Cell source_at(const Source& src, i32 i) {
  if (src.kind == kSingle) return src.value;
  i64 at = i64(std::max<i32>(src.value.series_index(), 0)) + i;
  if (src.kind == kCells) return buffer_of(&src.value)->cells()[at];
  Cell c;
  get_value(element_at(&src.value, at), width_of(&src.value), element_type(&src.value), &c);
  return c;
}

// Refuses, before anything changes, a value that the vector cannot hold.
void check_kind(u32 type, const Cell* value) {
  u32 vt = value->type();
  if (!element_kind(vt)) raise_type(Err::ScriptInvalidType, vt);
  if (vt != type) raise_error(Err::ScriptInvalidArg, value);
}

void check_source(const Cell* v, const Source& src) {
  for (i32 i = 0; i < src.count; i++) {
    Cell c = source_at(src, i);
    check_kind(element_type(v), &c);
  }
}

// Writes the source dup times into the room past the tail (the tail does
// not move); answers the element count written.
i64 stage(Cell* v, const Source& src, i32 dup) {
  i64 total = total_of(v);
  i64 added = i64(src.count) * dup;
  if (added > i64(mem::kMaxSeriesBytes)) raise_error(Err::InternalNoMemory);
  reserve(v, u64(total + added));
  u32 width = width_of(v), type = element_type(v);
  for (i32 i = 0; i < src.count; i++) {
    Cell c = source_at(src, i);
    set_value(element_at(v, total + i), &c, width, type);
  }
  // Replicate the written run, doubling the copied stretch.
  u8* run = element_at(v, total);
  u64 written = u64(src.count) * width, all = u64(added) * width;
  while (written < all) {
    u64 n = std::min(written, all - written);
    std::memcpy(run + written, run, n);
    written += n;
  }
  return added;
}

// ---- arithmetic

bool float_kind(u32 type) { return type == T_FLOAT || type == T_PERCENT; }

// Division by zero and the one quotient that leaves 32 bits.
void check_division(i32 a, i32 b) {
  if (b == 0) raise_error(Err::MathZeroDivide);
  if (a == integer::kMin && b == -1) raise_error(Err::MathOverflow);
}

// 32-bit arithmetic that wraps on overflow.
i32 int_op(i32 a, i32 b, int op) {
  switch (op) {
    case integer::kOpAdd: return i32(u32(a) + u32(b));
    case integer::kOpSubtract: return i32(u32(a) - u32(b));
    case integer::kOpMultiply: return i32(u32(u64(i64(a) * i64(b))));
    case integer::kOpDivide: check_division(a, b); return a / b;
    case integer::kOpRemainder: check_division(a, b); return a % b;
    case integer::kOpOr: return a | b;
    case integer::kOpAnd: return a & b;
    default: return a ^ b;
  }
}

bool divides(int op) { return op == integer::kOpDivide || op == integer::kOpRemainder; }

void vector_with_vector(int op, Cell* left, const Cell* right) {
  u32 type = element_type(left);
  if (element_type(right) != type) raise_error(Err::ScriptNotSameType);
  // The float math refuses the bitwise operations, whatever the elements.
  if (float_kind(type) && op > integer::kOpRemainder) float_::do_math_op(0, 0, op);
  u32 wl = width_of(left), wr = width_of(right), width = std::max(wl, wr);
  i32 n = std::min(length_from_index(left), length_from_index(right));
  i32 il = std::max<i32>(left->series_index(), 0), ir = std::max<i32>(right->series_index(), 0);
  Cell* top = stack::g_top;
  Cell* out = stack::push(&datatype::g_none);
  make_at(out, u32(n), type, width);
  bool chars = type == T_CHAR;
  for (i32 i = 0; i < n; i++) {
    const u8* a = element_at(left, il + i);
    const u8* b = element_at(right, ir + i);
    u8* r = element_at(out, i);
    if (float_kind(type))
      write_float(r, width, float_::do_math_op(read_float(a, wl), read_float(b, wr), op));
    else
      write_int(r, width, int_op(i32(read_int(a, wl, chars)), i32(read_int(b, wr, chars)), op));
  }
  Series* s = buffer_of(out);
  s->tail = s->head + u32(n) * width;
  *left = *out;
  stack::g_top = top;
}

void vector_with_scalar(int op, Cell* v, const Cell* scalar, bool scalar_left) {
  u32 type = element_type(v);
  u32 st = scalar->type();
  double fs = 0;
  i32 is = 0;
  if (st == T_INTEGER) {
    is = scalar->int_value();
    fs = double(is);
  } else if (st == T_FLOAT || st == T_PERCENT) {
    fs = scalar->float_value();
    if (!float_kind(type)) {
      double t = std::trunc(fs);
      if (std::isnan(t) || t < double(integer::kMin) || t > double(integer::kMax))
        raise_error(Err::ScriptOutOfRange, scalar);
      is = i32(t);
    }
  } else {
    raise_error(Err::InternalNotDone);
  }
  bool fk = float_kind(type);
  // x + 0, x - 0, x * 1 and x / 1 change nothing (0 - x and 1 / x do).
  bool zero = fk ? fs == 0 : is == 0;
  bool one = fk ? fs == 1 : is == 1;
  bool commutes = op == integer::kOpAdd || op == integer::kOpMultiply;
  if (!scalar_left || commutes) {
    if ((op == integer::kOpAdd || op == integer::kOpSubtract) && zero) return;
    if ((op == integer::kOpMultiply || op == integer::kOpDivide) && one) return;
  }
  if (fk && op > integer::kOpRemainder) float_::do_math_op(0, 0, op);
  u32 width = width_of(v);
  bool chars = type == T_CHAR;
  i32 from = std::max<i32>(v->series_index(), 0), to = total_of(v);
  // A refused division leaves every element as it was.
  if (!fk && divides(op)) {
    for (i32 i = from; i < to; i++) {
      i32 e = i32(read_int(element_at(v, i), width, chars));
      if (scalar_left) check_division(is, e);
      else check_division(e, is);
    }
  }
  for (i32 i = from; i < to; i++) {
    u8* p = element_at(v, i);
    if (fk) {
      double e = read_float(p, width);
      write_float(p, width, scalar_left ? float_::do_math_op(fs, e, op) : float_::do_math_op(e, fs, op));
    } else {
      i32 e = i32(read_int(p, width, chars));
      write_int(p, width, scalar_left ? int_op(is, e, op) : int_op(e, is, op));
    }
  }
}

void frame_math(int op) {
  Cell* r = do_math(op, stack::g_base, stack::g_base + 1);
  copy_cell(r, stack::g_base);
}

// ---- text

const char* type_word(u32 type) {
  switch (type) {
    case T_CHAR: return "char!";
    case T_INTEGER: return "integer!";
    case T_FLOAT: return "float!";
    default: return "percent!";
  }
}

void append_element(const Cell* v, i64 i, Cell* out, bool mold) {
  u32 width = width_of(v), type = element_type(v);
  const u8* p = element_at(v, i);
  int len;
  const char* text;
  switch (type) {
    case T_CHAR: {
      u32 cp = u32(read_int(p, width, true));
      if (mold) string::append_c_text(out, "#\"");
      string::append_escaped_char(out, cp, false);
      if (mold) string::append_c_text(out, "\"");
      return;
    }
    case T_INTEGER:
      text = integer::form_signed(i32(read_int(p, width, false)), &len);
      break;
    case T_FLOAT:
      text = float_::form_float(read_float(p, width), width == 4 ? float_::kFormSingle : float_::kFormFloat, &len);
      break;
    default:
      if (width == 4)
        text = float_::form_float(double(float(read_float(p, 4)) * 100.0f), float_::kFormSinglePercent, &len);
      else
        text = float_::form_float(read_float(p, 8) * 100.0, float_::kFormPercent, &len);
      break;
  }
  string::append_c_text_n(out, text, std::size_t(len));
}

i32 append_text(Cell* out, const char* text, i32 part) {
  string::append_c_text(out, text);
  return part - i32(std::strlen(text));
}

i32 form_elements(const Cell* v, Cell* out, i32 part, bool mold) {
  i32 from = std::max<i32>(v->series_index(), 0), to = total_of(v);
  for (i32 i = from; i < to && part > 0; i++) {
    i32 before = string::total_length(out);
    if (i > from) string::append_c_text(out, " ");
    append_element(v, i, out, mold);
    part -= string::total_length(out) - before;
  }
  return part;
}

// ---- make

Cell* from_block(const Cell* spec, Cell* out) {
  mem::Node node = spec->series_node();
  i32 i = std::max<i32>(spec->series_index(), 0);
  auto end = [&] { return i32(mem::series_of(node)->length()); };
  auto at = [&](i32 k) { return mem::series_of(node)->cells()[k]; };
  if (i >= end()) return make_at(out, 1, T_INTEGER, 4);
  Cell first = at(i);
  u32 type = T_INTEGER, width = 4;
  i64 length = -1;
  Cell values{};
  bool have_values = false;
  if (first.is(T_WORD)) {
    if (end() - i < 2) bad_make_arg(spec);
    if (scalar::word_is(&first, w::integer_type)) type = T_INTEGER;
    else if (scalar::word_is(&first, w::char_type)) type = T_CHAR;
    else if (scalar::word_is(&first, w::float_type)) type = T_FLOAT;
    else if (scalar::word_is(&first, w::percent_type)) type = T_PERCENT;
    else bad_make_arg(spec);
    Cell size = at(i + 1);
    i32 pos;
    if (size.is(T_INTEGER)) {
      i32 bits = size.int_value();
      if (type == T_PERCENT) width = 8;
      else if (integer_kind(type) && (bits == 8 || bits == 16 || bits == 32)) width = u32(bits / 8);
      else if (type == T_FLOAT && (bits == 32 || bits == 64)) width = u32(bits / 8);
      else bad_make_arg(spec);
      pos = i + 2;
    } else if (type == T_PERCENT) {
      width = 8;
      pos = i + 1;
    } else {
      raise_error(Err::ScriptInvalidSpecField, spec);
    }
    // After the size: a length, values, or a length and then values.
    if (pos >= end()) raise_error(Err::ScriptInvalidSpecField, spec);
    Cell next = at(pos);
    if (next.is(T_INTEGER)) {
      length = next.int_value();
      if (length < 0) raise_error(Err::ScriptInvalidSpecField, spec);
      if (pos + 1 < end() && at(pos + 1).is(T_BLOCK)) {
        values = at(pos + 1);
        have_values = true;
      }
    } else if (next.is(T_BLOCK)) {
      values = next;
      have_values = true;
    } else {
      raise_error(Err::ScriptInvalidSpecField, spec);
    }
  } else {
    type = first.type();
    if (!element_kind(type)) raise_type(Err::ScriptInvalidType, type);
    width = integer_kind(type) ? 4 : 8;
    values = *spec;
    have_values = true;
  }
  Source src{values, 0, kCells};
  if (have_values) {
    src.count = length_from_index(&values);
    for (i32 k = 0; k < src.count; k++) {
      Cell c = source_at(src, k);
      check_kind(type, &c);
    }
  }
  i64 count = std::max<i64>(length, src.count);
  if (u64(std::max<i64>(count, 1)) * width > mem::kMaxSeriesBytes) raise_error(Err::InternalNoMemory);
  make_at(out, u32(std::max<i64>(count, 1)), type, width);
  for (i32 k = 0; k < src.count; k++) {
    Cell c = source_at(src, k);
    set_value(element_at(out, k), &c, width, type);
  }
  u8* rest = element_at(out, src.count);
  std::memset(rest, 0, std::size_t(count - src.count) * width);
  Series* s = buffer_of(out);
  s->tail = s->head + u32(count) * width;
  return out;
}

}  // namespace

void get_at(const Cell* v, i32 index, Cell* out) {
  get_value(element_at(v, index), width_of(v), element_type(v), out);
}

bool set_at(Cell* v, i32 index, const Cell* value) {
  return set_value(element_at(v, index), value, width_of(v), element_type(v));
}

// ---- making and elements

Cell* make_at(Cell* cell, u32 capacity, u32 type, u32 width) {
  if (u64(capacity) * width > mem::kMaxSeriesBytes) raise_error(Err::InternalNoMemory);
  mem::Node n = mem::alloc_units(capacity, width);
  return make_cell(cell, T_VECTOR, 0, n, type);
}

void get_value(const u8* at, u32 width, u32 type, Cell* out) {
  if (integer_kind(type)) {
    make_cell(out, type, 0, u32(read_int(at, width, type == T_CHAR)), 0);
    return;
  }
  zot::set_float(out, read_float(at, width));
  set_type(out, u8(type));
}

Cell* push_value(const u8* at, u32 width, u32 type) {
  Cell* c = stack::push(&datatype::g_none);
  get_value(at, width, type, c);
  return c;
}

bool set_value(u8* at, const Cell* value, u32 width, u32 type) {
  u32 vt = value->type();
  if (!element_kind(vt)) raise_type(Err::ScriptInvalidType, vt);
  if (vt != type) return false;
  if (integer_kind(type)) write_int(at, width, i64(value->int_value()));
  else write_float(at, width, value->float_value());
  return true;
}

void to_block(const Cell* v, Cell* out) {
  Cell src = *v;
  i32 from = std::max<i32>(src.series_index(), 0), to = total_of(&src);
  block::make_at(out, std::max(to - from, 1));
  for (i32 i = from; i < to; i++) {
    Cell* c = mem::alloc_tail_cell(out->series_node());
    get_value(element_at(&src, i), width_of(&src), element_type(&src), c);
  }
}

Cell* do_math(int op, Cell* left, Cell* right) {
  bool lv = left->is(T_VECTOR), rv = right->is(T_VECTOR);
  if (lv && rv) {
    vector_with_vector(op, left, right);
    return left;
  }
  if (lv) {
    vector_with_scalar(op, left, right, false);
    return left;
  }
  if (rv) {
    vector_with_scalar(op, right, left, true);
    return right;
  }
  raise_error(Err::InternalNotDone);
}

// ---- slot functions

Cell* make(Cell*, Cell* spec, int) {
  Cell* out = stack::push(&datatype::g_none);
  switch (spec->type()) {
    case T_INTEGER:
    case T_FLOAT: {
      i64 n;
      if (spec->is(T_INTEGER)) {
        n = spec->int_value();
      } else {
        double d = spec->float_value();
        if (std::isnan(d) || d < double(integer::kMin) || d > double(integer::kMax))
          raise_error(Err::ScriptOutOfRange, spec);
        n = i64(d);
      }
      if (n < 0) raise_error(Err::ScriptOutOfRange, spec);
      make_at(out, u32(n), T_INTEGER, 4);
      Series* s = buffer_of(out);
      std::memset(s->head_ptr(), 0, std::size_t(n) * 4);
      s->tail = s->head + u32(n) * 4;
      return out;
    }
    case T_BLOCK:
      return from_block(spec, out);
    default:
      raise_error(Err::InternalNotDone);
  }
}

i32 form(const Cell* value, Cell* out, const Cell*, i32 part) { return form_elements(value, out, part, false); }

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part) {
  if (!o.only) part = append_text(out, "make vector! [", part);
  if (part <= 0) return part;
  u32 type = element_type(value), width = width_of(value);
  bool default_width = width == (integer_kind(type) ? 4u : 8u);
  if (length_from_index(value) > 0 && default_width) {
    part = form_elements(value, out, part, true);
    if (part <= 0 || o.only) return part;
    return append_text(out, "]", part);
  }
  part = append_text(out, type_word(type), part);
  int len;
  const char* bits = integer::form_signed(i32(width * 8), &len);
  char head[24];
  std::snprintf(head, sizeof head, " %.*s [", len, bits);
  part = append_text(out, head, part);
  if (part <= 0) return part;
  part = form_elements(value, out, part, true);
  if (part <= 0) return part;
  return append_text(out, o.only ? "]" : "]]", part);
}

i32 compare(const Cell* a, const Cell* b, i32 op) {
  if (!b->is(T_VECTOR)) return actions::kNotComparable;
  u32 type = element_type(a);
  if (element_type(b) != type) raise_error(Err::ScriptNotSameType);
  if (a->series_node() == b->series_node() && a->series_index() == b->series_index()) return 0;
  if (op == actions::kSame) return 1;
  i32 la = length_from_index(a), lb = length_from_index(b);
  bool equality = op == actions::kEqual || op == actions::kNotEqual || op == actions::kStrictEqual ||
                  op == actions::kFindEqual;
  if (equality && la != lb) return 1;
  u32 wa = width_of(a), wb = width_of(b);
  i32 ia = std::max<i32>(a->series_index(), 0), ib = std::max<i32>(b->series_index(), 0);
  bool chars = type == T_CHAR;
  for (i32 i = 0, n = std::min(la, lb); i < n; i++) {
    const u8* pa = element_at(a, ia + i);
    const u8* pb = element_at(b, ib + i);
    if (float_kind(type)) {
      double x = read_float(pa, wa), y = read_float(pb, wb);
      if (x < y) return -1;
      if (x > y) return 1;
    } else {
      i64 x = read_int(pa, wa, chars), y = read_int(pb, wb, chars);
      if (x != y) return x < y ? -1 : 1;
    }
  }
  return la < lb ? -1 : la > lb ? 1 : 0;
}

void add() { frame_math(integer::kOpAdd); }
void subtract() { frame_math(integer::kOpSubtract); }
void multiply() { frame_math(integer::kOpMultiply); }
void divide() { frame_math(integer::kOpDivide); }
void remainder() { frame_math(integer::kOpRemainder); }
void and_() { frame_math(integer::kOpAnd); }
void or_() { frame_math(integer::kOpOr); }
void xor_() { frame_math(integer::kOpXor); }

void append(Cell* s, Cell* value, const actions::InsertOptions& o) {
  if (o.dup < 1) return;
  Source src{};
  i32 total = 0, idx = 0;
  bool at_tail = false;
  auto plan = [&] {
    src = source_of(value, o.part, false);
    check_source(s, src);
    total = total_of(s);
    idx = clamped_index(s);
    at_tail = o.append || idx >= total;
  };
  plan();
  if (src.count == 0) return;
  i32 where = at_tail ? total : idx;
  bool owned = series::ownership_check(s, o.append ? series::Change::kAppend : series::Change::kInsert, value, where,
                                       src.count);
  if (owned) {
    plan();
    where = at_tail ? total : idx;
  }
  i64 added = stage(s, src, o.dup);
  Series* b = buffer_of(s);
  u32 width = b->unit();
  if (!at_tail) std::rotate(element_at(s, idx), element_at(s, total), element_at(s, total + added));
  b->tail += u32(added) * width;
  if (owned)
    series::ownership_done(s, o.append ? series::Change::kAppended : series::Change::kInserted, value, where,
                           i32(added));
  s->set_series_index(o.append ? 0 : i32(where + added));
}

void change(Cell* s, Cell* value, const actions::InsertOptions& o) {
  if (o.dup < 1) return;
  Source src{};
  i32 total = 0, idx = 0;
  i64 added = 0, replaced = 0;
  auto plan = [&] {
    src = source_of(value, -1, true);
    check_source(s, src);
    total = total_of(s);
    idx = clamped_index(s);
    i32 left = total - idx;
    added = i64(src.count) * o.dup;
    replaced = o.part >= 0 ? std::min(o.part, left) : std::min<i64>(added, left);
  };
  plan();
  bool owned = series::ownership_check(s, series::Change::kChange, value, idx, i32(replaced));
  if (owned) plan();
  added = stage(s, src, o.dup);
  Series* b = buffer_of(s);
  u32 width = b->unit();
  // The new run moves in front of the old elements, then the replaced ones go.
  std::rotate(element_at(s, idx), element_at(s, total), element_at(s, total + added));
  u8* gap = element_at(s, idx + added);
  std::memmove(gap, gap + replaced * width, std::size_t(total - idx - replaced) * width);
  b->tail = b->head + u32(total + added - replaced) * width;
  if (owned) series::ownership_done(s, series::Change::kChanged, nullptr, idx, i32(added));
  s->set_series_index(i32(idx + added));
}

void register_type() {
  using namespace actions;
  actions::SlotTable slots;
  for (Slot s : {kRandom, kReflect, kEvalPath, kAt, kBack, kClear, kCopy, kFind, kHead, kHeadQ, kIndexQ, kLengthQ,
                 kMove, kNext, kPick, kPoke, kRemove, kReverse, kSelect, kSort, kSkip, kTail, kTailQ, kTake, kModify})
    slots.inherit(s);
  slots.set<kMake>(&make);
  slots.set<kForm>(&form);
  slots.set<kMold>(&mold);
  slots.set<kCompare>(&compare);
  slots.set<kAdd>(&add);
  slots.set<kSubtract>(&subtract);
  slots.set<kMultiply>(&multiply);
  slots.set<kDivide>(&divide);
  slots.set<kRemainder>(&remainder);
  slots.set<kAnd>(&and_);
  slots.set<kOr>(&or_);
  slots.set<kXor>(&xor_);
  slots.set<kAppend>(&append);
  slots.set<kInsert>(&append);
  slots.set<kChange>(&change);
  datatype::register_type(T_VECTOR, T_STRING, "vector!", slots);
}

}  // namespace zot::vector
