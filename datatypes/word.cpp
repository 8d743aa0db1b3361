#include "datatypes/word.h"

#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/words.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/services.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace zot::word {


namespace {

Cell g_result;

ZOT_INLINE bool word_family(u32 t) { return t >= T_WORD && t <= T_ISSUE; }

// The symbol's name as a new string! (through the symbol's cached name string).
Cell name_of(u32 sym) {
  Rooted out;
  string::make_at(&out, symbol::name_length(sym));
  Cell symc = *symbol::get(sym);
  string::concatenate(&out, &symc, -1, 0, true, 0);
  return out;
}

// Appends the word's name (and the prefix/suffix of its type) to out.
i32 write_name(const Cell* value, Cell* out, i32 part, const char* prefix, const char* suffix) {
  u32 sym = value->word_symbol();
  Cell symc = *symbol::get(sym);
  if (prefix) {
    string::append_c_text(out, prefix);
    part -= 1;
  }
  i32 before = string::total_length(out);
  string::concatenate(out, &symc, -1, 0, true, 0);
  part -= string::total_length(out) - before;
  if (suffix) {
    string::append_c_text(out, suffix);
    part -= 1;
  }
  return part;
}

// The first value scanned from text, or none when nothing scans.
Cell scan_one(const char* text, std::size_t len) {
  Cell out;
  std::string copy(text, len);  // the scan must not read a buffer that moves
  if (!g_services.scan_utf8) service_missing();
  g_services.scan_utf8(&out, reinterpret_cast<const u8*>(copy.data()), u32(copy.size()), true);
  return out;
}

Cell text_of(const Cell* spec) {
  Cell s;
  if (spec->is(T_CHAR)) {
    string::make_at(&s, 1);
    string::append_char(string::buffer_of(&s), spec->char_value());
    return s;
  }
  return *spec;
}

ZOT_NORETURN void bad_to(int type, const Cell* spec) {
  Cell dt;
  set_datatype(&dt, u32(type));
  raise_error(Err::ScriptBadToArg, &dt, spec);
}

i32 mold_prefixed(const Cell* v, Cell* out, i32 part, const char* pre, const char* post) {
  return write_name(v, out, part, pre, post);
}

i32 mold_lit(const Cell* v, Cell* out, const actions::MoldOptions&, i32 part) {
  return mold_prefixed(v, out, part, "'", nullptr);
}
i32 mold_set(const Cell* v, Cell* out, const actions::MoldOptions&, i32 part) {
  return mold_prefixed(v, out, part, nullptr, ":");
}
i32 mold_get(const Cell* v, Cell* out, const actions::MoldOptions&, i32 part) {
  return mold_prefixed(v, out, part, ":", nullptr);
}
i32 mold_refinement(const Cell* v, Cell* out, const actions::MoldOptions&, i32 part) {
  return mold_prefixed(v, out, part, "/", nullptr);
}
i32 mold_issue(const Cell* v, Cell* out, const actions::MoldOptions&, i32 part) {
  return mold_prefixed(v, out, part, "#", nullptr);
}

void index_q() {
  Cell* w = stack::g_base;
  const i32 index = w->word_index();
  if (index < 0) set_none(w);
  else set_integer(w, index + 1);
}

Cell* issue_make(Cell* proto, Cell* spec, int type) {
  (void)proto;
  u32 t = spec->type();
  if (word_family(t)) {
    g_result = *spec;
  } else if (t == T_STRING || t == T_CHAR) {
    Cell text = text_of(spec);
    std::string utf8 = string::to_utf8(&text);
    u32 sym = symbol::make_from_bytes(reinterpret_cast<const u8*>(utf8.data()), u32(utf8.size()));
    make_cell(&g_result, T_ISSUE, context::g_global, sym, u32(-1));
  } else {
    return make(proto, spec, type);
  }
  g_result.header = u32(type);
  return &g_result;
}

i32 issue_compare(const Cell* a, const Cell* b, i32 op) {
  if (!b->is(T_ISSUE)) return actions::kNotComparable;
  return compare(a, b, op);
}

i32 symbol_compare(const Cell* a, const Cell* b, i32 op) {
  if (!b->is(T_SYMBOL)) return actions::kNotComparable;
  return string::compare_values(a, b, op, false);
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, int type) {
  (void)proto;
  u32 t = spec->type();
  if (is_plain_word(t)) {
    g_result = *spec;
  } else if (t == T_ISSUE || t == T_REFINEMENT) {
    const char* name = symbol::name_text(spec->word_symbol());
    Cell v = scan_one(name, std::strlen(name));
    u32 vt = v.type();
    if (!is_plain_word(vt)) bad_to(type, spec);
    g_result = v;
    context::bind_word(context::g_global, &g_result);
  } else if (t == T_STRING || t == T_CHAR) {
    Cell text = text_of(spec);
    std::string utf8 = string::to_utf8(&text);
    Cell v = scan_one(utf8.data(), utf8.size());
    if (!word_family(v.type())) raise_error(Err::ScriptInvalidChars);
    g_result = v;
  } else if (t == T_DATATYPE) {
    g_result = datatype::g_types[spec->datatype_id()].name_word;
  } else if (t == T_LOGIC) {
    g_result = *words::word(spec->logic_value() ? w::true_ : w::false_);
  } else {
    bad_to(type, spec);
  }
  g_result.header = u32(type);
  return &g_result;
}

i32 compare(const Cell* a, const Cell* b, i32 op) {
  u32 ta = a->type(), tb = b->type();
  if (!word_family(tb) || (tb == T_ISSUE && ta != T_ISSUE)) return actions::kNotComparable;
  const u32 sym_a = a->word_symbol(), sym_b = b->word_symbol();
  const bool any_case = symbol::resolve(sym_a) == symbol::resolve(sym_b);
  auto word_vs_lit = [&] { return (ta == T_WORD && tb == T_LIT_WORD) || (ta == T_LIT_WORD && tb == T_WORD); };
  switch (op) {
    case actions::kSame:
      return (sym_a == sym_b && a->word_context() == b->word_context() && ta == tb) ? 0 : 1;
    case actions::kStrictEqual:
      return (ta == tb && sym_a == sym_b) ? 0 : 1;
    case actions::kEqualForm1:
      if (word_vs_lit()) return sym_a == sym_b ? 0 : 1;
      return (ta == tb && sym_a == sym_b) ? 0 : 1;
    case actions::kEqualForm2:
      if (word_vs_lit()) return any_case ? 0 : 1;
      return (ta == tb && any_case) ? 0 : 1;
    case actions::kEqual:
    case actions::kNotEqual:
    case actions::kFindEqual:
      return any_case ? 0 : 1;
    default: {
      Rooted sa = name_of(sym_a), sb = name_of(sym_b);
      return string::compare_values(&sa, &sb, op, false);
    }
  }
}

i32 form(const Cell* value, Cell* out, const Cell*, i32 part) { return write_name(value, out, part, nullptr, nullptr); }

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions&, i32 part) {
  return write_name(value, out, part, nullptr, nullptr);
}

void register_symbol() {
  actions::SlotTable s;
  s.set<actions::kCompare>(&symbol_compare);
  datatype::register_type(T_SYMBOL, 0, "symbol!", s);
}

void register_context() {
  actions::SlotTable s;
  datatype::register_type(T_CONTEXT, 0, "context!", s);
}

void register_word() {
  actions::SlotTable s;
  s.set<actions::kMake>(&make);
  s.set<actions::kTo>(&make);
  s.set<actions::kForm>(&form);
  s.set<actions::kMold>(&mold);
  s.set<actions::kCompare>(&compare);
  s.set<actions::kIndexQ>(&index_q);
  datatype::register_type(T_WORD, T_SYMBOL, "word!", s);
}

void register_children() {
  struct Child {
    u32 type;
    const char* name;
    actions::MoldFn mold;
    bool index;
  };
  const Child children[] = {
      {T_LIT_WORD, "lit-word!", mold_lit, true},
      {T_SET_WORD, "set-word!", mold_set, true},
      {T_GET_WORD, "get-word!", mold_get, true},
      {T_REFINEMENT, "refinement!", mold_refinement, false},
  };
  for (const Child& c : children) {
    actions::SlotTable s;
    for (int slot : {actions::kMake, actions::kTo, actions::kForm, actions::kCompare})
      s.inherit(slot);
    if (c.index) s.inherit(actions::kIndexQ);
    s.set<actions::kMold>(c.mold);
    datatype::register_type(c.type, T_WORD, c.name, s);
  }
}

void register_issue() {
  actions::SlotTable s;
  s.set<actions::kMake>(&issue_make);
  s.set<actions::kTo>(&issue_make);
  s.inherit(actions::kForm);
  s.set<actions::kMold>(&mold_issue);
  s.set<actions::kCompare>(&issue_compare);
  datatype::register_type(T_ISSUE, T_WORD, "issue!", s);
}

}  // namespace zot::word
