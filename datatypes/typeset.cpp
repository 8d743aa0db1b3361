#include "datatypes/typeset.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/stack.h"

namespace zot::typeset {


namespace {

Cell g_result;

// A word's value (unset raises no-value), anything else itself.
Cell resolve_word(const Cell* v) {
  if (!v->is(T_WORD)) return *v;
  Cell r = *context::get(v);
  if (r.is(T_UNSET)) raise_error(Err::ScriptNoValue, v);
  return r;
}

void set_bit(Cell* ts, u32 type) { runtime::typeset_add(ts, type); }

Cell* make(Cell* proto, Cell* spec, int type) {
  (void)proto;
  (void)type;
  if (spec->is(T_TYPESET)) {
    g_result = *spec;
    return &g_result;
  }
  if (spec->is(T_BLOCK)) {
    Cell b = *spec;
    Cell ts;
    clear(&ts);
    for (u32 i = b.w1;; i++) {
      mem::Series* s = mem::series_of(b.w2);
      if (i >= s->length()) break;
      Cell v = s->cells()[i];
      add(&ts, &v);
    }
    g_result = ts;
    return &g_result;
  }
  Cell dt;
  make_cell(&dt, T_DATATYPE, T_TYPESET, 0, 0);
  raise_error(Err::ScriptBadToArg, &dt, spec);
}

i32 form(const Cell* v, Cell* out, const Cell* limit, i32 part) {
  (void)limit;
  return serialize(v, out, true, part);
}

i32 mold(const Cell* v, Cell* out, const actions::MoldOptions&, i32 part) {
  return serialize(v, out, false, part);
}

i32 compare(const Cell* a, const Cell* b, i32 op) {
  if (!b->is(T_TYPESET)) return actions::kNotComparable;
  switch (op) {
    case actions::kEqual: case actions::kNotEqual: case actions::kStrictEqual:
    case actions::kSame: case actions::kFindEqual:
      return (a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3) ? 0 : 1;
    case actions::kSortOrder: case actions::kCaseSortOrder: {
      u32 ca = count(a), cb = count(b);
      return ca < cb ? -1 : ca > cb ? 1 : 0;
    }
    default:
      return actions::kNotComparable;
  }
}

void and_() { do_set_op(6); }
void or_() { do_set_op(5); }
void xor_() { do_set_op(7); }

Cell* complement(Cell* v) {
  v->w1 = ~v->w1;
  v->w2 = ~v->w2;
  v->w3 = ~v->w3;
  return v;
}

Cell* find(Cell* ts, Cell* value, const actions::FindOptions&) {
  if (!value->is(T_DATATYPE)) raise_error(Err::ScriptInvalidArg, value);
  set_logic(&g_result, has(ts, value->w1));
  return &g_result;
}

}  // namespace

Cell* clear(Cell* ts) { return make_cell(ts, T_TYPESET, 0, 0, 0); }

u32 count(const Cell* ts) {
  u32 n = 0;
  for (u32 t = 1; t <= datatype::g_highest_id; t++) n += has(ts, t) ? 1 : 0;
  return n;
}

Cell* make_in(const Cell* block, u32 w1, u32 w2, u32 w3) {
  Cell ts;
  make_cell(&ts, T_TYPESET, w1, w2, w3);
  return block::append_cell(block, &ts);
}

Cell* make_default(Cell* out) {
  make_cell(out, T_TYPESET, ~0u, ~0u, ~0u);
  reinterpret_cast<u8*>(&out->w1)[T_UNSET >> 3] &= u8(~(0x80u >> (T_UNSET & 7)));
  return out;
}

void add(Cell* ts, const Cell* value) {
  Cell v = resolve_word(value);
  if (v.is(T_TYPESET)) {
    ts->w1 |= v.w1;
    ts->w2 |= v.w2;
    ts->w3 |= v.w3;
  } else if (v.is(T_DATATYPE)) {
    set_bit(ts, v.w1);
  } else {
    raise_error(Err::ScriptInvalidArg, value);
  }
}

Cell* make_from_spec(const Cell* type_block, Cell* out) {
  Cell b = *type_block;
  Cell ts;
  clear(&ts);
  for (u32 i = b.w1;; i++) {
    mem::Series* s = mem::series_of(b.w2);
    if (i >= s->length()) break;
    Cell raw = s->cells()[i];
    Cell v = resolve_word(&raw);
    if (v.is(T_DATATYPE)) {
      set_bit(&ts, v.w1);
    } else if (v.is(T_TYPESET)) {
      ts.w1 |= v.w1;
      ts.w2 |= v.w2;
      ts.w3 |= v.w3;
    } else if (v.is(T_WORD)) {
      set_bit(&ts, T_OBJECT);
    } else if (!v.is(T_BLOCK)) {
      raise_error(Err::ScriptInvalidTypeSpec, &raw);
    }
  }
  *out = ts;
  return out;
}

void do_set_op(int op) {
  Cell* a = stack::g_base;
  Cell b = stack::g_base[1];
  if (b.is(T_DATATYPE)) {
    u32 id = b.w1;
    clear(&b);
    set_bit(&b, id);
  } else if (!b.is(T_TYPESET)) {
    raise_error(Err::ScriptInvalidArg, &stack::g_base[1]);
  }
  switch (op) {
    case 5: case 9:
      a->w1 |= b.w1; a->w2 |= b.w2; a->w3 |= b.w3;
      break;
    case 6: case 10:
      a->w1 &= b.w1; a->w2 &= b.w2; a->w3 &= b.w3;
      break;
    case 7: case 12:
      a->w1 ^= b.w1; a->w2 ^= b.w2; a->w3 ^= b.w3;
      break;
    case 11:
      a->w1 &= ~b.w1; a->w2 &= ~b.w2; a->w3 &= ~b.w3;
      break;
    case 8:
      break;
    default:
      runtime::quit(runtime::kFatalNoSwitch, ZOT_CALLER_ADDRESS());
  }
}

void to_block(const Cell* ts, Cell* out) {
  Cell t = *ts;
  block::make_at(out, i32(count(&t)));
  for (u32 id = 1; id <= datatype::g_highest_id; id++) {
    if (!has(&t, id)) continue;
    Cell dt;
    make_cell(&dt, T_DATATYPE, id, 0, 0);
    block::append_cell(out, &dt);
  }
}

i32 serialize(const Cell* ts, Cell* out, bool form_, i32 part) {
  Cell t = *ts;
  if (!form_) {
    string::append_c_text(out, "make typeset! [");
    part -= 15;
  }
  bool any = false;
  for (u32 id = 1; id <= datatype::g_highest_id; id++) {
    if (!has(&t, id)) continue;
    if (part < 0) return part;
    const char* name = datatype::type_name(id);
    string::append_c_text(out, name);
    string::append_c_text(out, " ");
    part -= i32(std::strlen(name)) + 2;
    any = true;
  }
  if (form_) {
    if (any) {
      string::truncate_at(string::buffer_of(out), string::total_length(out) - 1);
      part += 1;
    }
  } else if (any) {
    mem::Series* b = string::buffer_of(out);
    string::poke_char(b, string::total_length(out) - 1, ']');
  } else {
    string::append_c_text(out, "]");
  }
  return part;
}

void register_type() {
  actions::SlotTable s;
  s.set<actions::kMake>(&make);
  s.set<actions::kTo>(&make);
  s.set<actions::kForm>(&form);
  s.set<actions::kMold>(&mold);
  s.set<actions::kCompare>(&compare);
  s.set<actions::kAnd>(&and_);
  s.set<actions::kOr>(&or_);
  s.set<actions::kXor>(&xor_);
  s.set<actions::kComplement>(&complement);
  s.set<actions::kFind>(&find);
  datatype::register_type(T_TYPESET, 0, "typeset!", s);
}

}  // namespace zot::typeset
