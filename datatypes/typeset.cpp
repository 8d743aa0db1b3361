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

// Each member word of a becomes f(its word, b's word).
template <class F>
void combine(Cell* a, const Cell* b, F f) {
  std::array<u32, 3> x = a->typeset_words();
  const std::array<u32, 3> y = b->typeset_words();
  for (int i = 0; i < 3; i++) x[i] = f(x[i], y[i]);
  a->set_typeset_words(x);
}
u32 unite(u32 x, u32 y) { return x | y; }

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
    for (u32 i = u32(b.series_index());; i++) {
      mem::Series* s = mem::series_of(b.series_node());
      if (i >= s->length()) break;
      Cell v = s->cells()[i];
      add(&ts, &v);
    }
    g_result = ts;
    return &g_result;
  }
  const Cell dt = datatype_cell(T_TYPESET);
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
      return a->typeset_words() == b->typeset_words() ? 0 : 1;
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
  std::array<u32, 3> words = v->typeset_words();
  for (u32& w : words) w = ~w;
  v->set_typeset_words(words);
  return v;
}

Cell* find(Cell* ts, Cell* value, const actions::FindOptions&) {
  if (!value->is(T_DATATYPE)) raise_error(Err::ScriptInvalidArg, value);
  set_logic(&g_result, has(ts, value->datatype_id()));
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
  out->typeset_bytes()[T_UNSET >> 3] &= u8(~(0x80u >> (T_UNSET & 7)));
  return out;
}

void add(Cell* ts, const Cell* value) {
  Cell v = resolve_word(value);
  if (v.is(T_TYPESET)) {
    combine(ts, &v, unite);
  } else if (v.is(T_DATATYPE)) {
    set_bit(ts, v.datatype_id());
  } else {
    raise_error(Err::ScriptInvalidArg, value);
  }
}

Cell* make_from_spec(const Cell* type_block, Cell* out) {
  Cell b = *type_block;
  Cell ts;
  clear(&ts);
  for (u32 i = u32(b.series_index());; i++) {
    mem::Series* s = mem::series_of(b.series_node());
    if (i >= s->length()) break;
    Cell raw = s->cells()[i];
    Cell v = resolve_word(&raw);
    if (v.is(T_DATATYPE)) {
      set_bit(&ts, v.datatype_id());
    } else if (v.is(T_TYPESET)) {
      combine(&ts, &v, unite);
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
    u32 id = b.datatype_id();
    clear(&b);
    set_bit(&b, id);
  } else if (!b.is(T_TYPESET)) {
    raise_error(Err::ScriptInvalidArg, &stack::g_base[1]);
  }
  switch (op) {
    case 5: case 9:
      combine(a, &b, unite);
      break;
    case 6: case 10:
      combine(a, &b, [](u32 x, u32 y) { return x & y; });
      break;
    case 7: case 12:
      combine(a, &b, [](u32 x, u32 y) { return x ^ y; });
      break;
    case 11:
      combine(a, &b, [](u32 x, u32 y) { return x & ~y; });
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
    const Cell dt = datatype_cell(id);
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
