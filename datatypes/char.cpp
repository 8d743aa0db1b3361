#include "datatypes/char.h"

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace zot::char_ {

namespace {

Cell g_made;


}  // namespace

Cell* make_in(const Cell* block, u32 cp) { return make_at(mem::alloc_tail_cell(block->series_node()), cp); }

Cell* push(u32 cp) { return make_at(stack::reserve_slot(), cp); }

void do_math(int op) {
  Cell* a = stack::g_base;
  const Cell* b = stack::g_base + 1;
  i32 right;
  switch (b->type()) {
    case T_CHAR:
    case T_INTEGER:
      right = b->int_value();
      break;
    case T_FLOAT: {
      // Truncated toward zero; a float that no 32-bit integer holds cannot
      // give a code point either.
      double d = b->float_value();
      if (!(d > -2147483649.0 && d < 2147483648.0)) raise_error(Err::MathOverflow);
      right = i32(d);
      break;
    }
    default:
      raise_with_type(Err::ScriptInvalidType, b->type());
  }
  // Division truncates (no result cell, so it never turns into a float).
  Cell scratch;
  set_unset(&scratch);
  i32 v = integer::do_math_op(a->int_value(), right, op, op == integer::kOpDivide ? nullptr : &scratch);
  if (scratch.is(T_FLOAT) || v < 0 || u32(v) > kMaxCodePoint) raise_error(Err::MathOverflow);
  a->set_int_value(v);
}

i32 compare(const Cell* a, const Cell* b, i32 op) {
  if ((op == actions::kStrictEqual || op == actions::kFindEqual || op == actions::kSame) && !b->is(T_CHAR)) return 1;
  if (!b->is(T_CHAR) && !b->is(T_INTEGER)) return actions::kNotComparable;
  i32 x = a->int_value(), y = b->int_value();
  return (x > y) - (x < y);
}

Cell* make(Cell*, Cell* spec, int) {
  u32 cp;
  switch (spec->type()) {
    case T_CHAR:
    case T_INTEGER: {
      i32 v = spec->int_value();
      if (v < 0 || u32(v) > kMaxCodePoint) raise_error(Err::ScriptOutOfRange, spec);
      cp = u32(v);
      break;
    }
    case T_FLOAT:
    case T_PERCENT: {
      // Same as truncating first, without converting an out-of-range double.
      double d = spec->float_value();
      if (!(d > -1.0 && d < double(kMaxCodePoint) + 1.0)) raise_error(Err::ScriptOutOfRange, spec);
      cp = u32(d);
      break;
    }
    case T_BINARY: {
      mem::Series* s = mem::series_of(spec->series_node());
      i64 index = spec->series_index();
      i64 len = i64(s->bytes_used());
      if (index < 0) index = 0;
      std::size_t count = index < len ? std::size_t(len - index) : 0;
      i32 v = unicode::decode_utf8_strict(s->head_ptr() + index, count);
      if (v < 0) raise_with_type(Err::ScriptBadToArg, T_CHAR, spec);
      cp = u32(v);
      break;
    }
    default:
      if (is_any_string(spec->type())) {
        Cell text = *spec;
        if (string::length_at(&text) <= 0) raise_with_type(Err::ScriptBadToArg, T_CHAR, spec);
        cp = string::char_at(&text, string::index_of(&text));
        break;
      }
      raise_with_type(Err::ScriptBadToArg, T_CHAR, spec);
  }
  return make_at(&g_made, cp);
}

i32 form(const Cell* value, Cell* out, const Cell*, i32 part) {
  string::append_char(string::buffer_of(out), value->char_value());
  return part - 1;
}

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions&, i32 part) {
  i32 before = string::total_length(out);
  string::append_c_text(out, "#\"");
  string::append_escaped_char(out, value->char_value(), false);
  string::append_c_text(out, "\"");
  return part - (string::total_length(out) - before);
}

void add() { char_::do_math(integer::kOpAdd); }
void subtract() { char_::do_math(integer::kOpSubtract); }
void multiply() { char_::do_math(integer::kOpMultiply); }
void divide() { char_::do_math(integer::kOpDivide); }
void remainder() { char_::do_math(integer::kOpRemainder); }
void and_() { char_::do_math(integer::kOpAnd); }
void or_() { char_::do_math(integer::kOpOr); }
void xor_() { char_::do_math(integer::kOpXor); }

void register_type() {
  using namespace actions;
  actions::SlotTable slots;
  slots.set<kMake>(&make);
  slots.inherit(kRandom);
  slots.set<kTo>(&make);
  slots.set<kForm>(&form);
  slots.set<kMold>(&mold);
  slots.set<kCompare>(&compare);
  slots.inherit(kAbsolute);
  slots.set<kAdd>(&add);
  slots.set<kDivide>(&divide);
  slots.set<kMultiply>(&multiply);
  slots.set<kRemainder>(&remainder);
  slots.set<kSubtract>(&subtract);
  slots.inherit(kEven);
  slots.inherit(kOdd);
  slots.set<kAnd>(&and_);
  slots.set<kOr>(&or_);
  slots.set<kXor>(&xor_);
  datatype::register_type(T_CHAR, T_INTEGER, "char!", slots);
}

}  // namespace zot::char_
