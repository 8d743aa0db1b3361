#include "datatypes/function.h"

#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "datatypes/words.h"
#include "runtime/collector.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/services.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace zot::function {


namespace {

Cell g_result;

ZOT_INLINE bool is_sym(const Cell* c, w::Id id) { return words::spells(c->word_symbol(), id); }
ZOT_INLINE bool is_extern(const Cell* c) {
  return symbol::resolve(c->word_symbol()) == symbol::resolve(words::g_refinements[words::ref_extern_].word_symbol());
}
ZOT_INLINE bool any_param(u32 t) { return t == T_WORD || t == T_LIT_WORD || t == T_GET_WORD; }

struct Walker {
  Cell block;
  u32 len;
  explicit Walker(const Cell* b) : block(*b), len(mem::series_of(b->series_node())->length()) {
    if (first() > len) block.set_series_index(i32(len));
  }
  // The block's index (an index past the tail was moved back to it).
  u32 first() const { return u32(block.series_index()); }
  Cell at(u32 i) const { return mem::series_of(block.series_node())->cells()[i]; }
  bool has(u32 i) const { return i < len; }
};

ZOT_NORETURN void bad_def(const Cell* spec) { raise_error(Err::ScriptBadFuncDef, spec); }

void check_type_block(const Cell* type_block) {
  Walker w(type_block);
  for (u32 i = w.first(); w.has(i); i++) {
    Cell e = w.at(i);
    Cell v = e;
    if (e.is(T_WORD)) v = *context::get(&e);
    if (!(v.is(T_DATATYPE) || v.is(T_TYPESET) || v.is(T_WORD))) raise_error(Err::ScriptInvalidTypeSpec, &e);
  }
}

void check_duplicates(const Cell* spec) {
  Walker w(spec);
  // Most specs name few words: those stay off the heap.
  constexpr u32 kInline = 32;
  u32 inline_seen[kInline];
  std::vector<u32> more;
  u32 count = 0;
  for (u32 i = w.first(); w.has(i); i++) {
    Cell c = w.at(i);
    u32 t = c.type();
    if (!(any_param(t) || t == T_REFINEMENT)) continue;
    u32 s = symbol::resolve(c.word_symbol());
    for (u32 k = 0; k < count && k < kInline; k++)
      if (inline_seen[k] == s) raise_error(Err::ScriptDupVars, &c);
    for (u32 prev : more)
      if (prev == s) raise_error(Err::ScriptDupVars, &c);
    if (count < kInline) inline_seen[count] = s;
    else more.push_back(s);
    count++;
  }
}

// A copy of a block (deep or not) as a value; the copy does not stay on the stack.
Cell clone_value(const Cell* b, bool deep) {
  Cell* top = stack::g_top;
  Cell c = *block::clone(b, deep, deep);
  stack::g_top = top;
  return c;
}

Cell make_more(u32 cells) {
  Cell b;
  block::make_at(&b, i32(cells));
  return b;
}

// ---- slots

Cell* native_make(Cell* proto, Cell* spec, int type) {
  (void)proto;
  Cell dt;
  set_datatype(&dt, u32(type));
  if (!spec->is(T_BLOCK) || block::length_at(spec) != 2) raise_error(Err::ScriptBadMakeArg, &dt, spec);
  Cell s = *block::index_cell(spec), n = *(block::index_cell(spec) + 1);
  if (!s.is(T_BLOCK) || !n.is(T_INTEGER)) raise_error(Err::ScriptBadMakeArg, &dt, spec);
  i32 index = n.int_value();
  if (!g_services.entry_exists) service_missing();
  if (!g_services.entry_exists(u32(type), index)) raise_error(Err::ScriptBadMakeArg, &dt, spec);
  g_result = make_native(u32(type), &s, u32(index));
  return &g_result;
}

Cell* op_make(Cell* proto, Cell* spec, int type) {
  (void)proto;
  (void)type;
  u32 t = spec->type();
  if (!(t == T_NATIVE || t == T_ACTION || t == T_FUNCTION || t == T_ROUTINE)) {
    Cell dt;
    set_datatype(&dt, t);
    raise_error(Err::ScriptInvalidType, &dt);
  }
  Cell sp = spec_of(spec);
  if (!op_spec_ok(&sp)) raise_error(Err::ScriptBadOpSpec);
  Cell v = *spec;
  if (t == T_FUNCTION || t == T_ROUTINE) *more_cell(&v, kMoreOp) = v;
  v.header = T_OP | (t << kOpTypeShift);
  g_result = v;
  return &g_result;
}

Cell* function_make(Cell* proto, Cell* spec, int type) {
  (void)proto;
  (void)type;
  if (!spec->is(T_BLOCK) || block::length_at(spec) < 2) raise_error(Err::ScriptBadFuncDef, spec);
  Cell s = *block::index_cell(spec), b = *(block::index_cell(spec) + 1);
  if (!s.is(T_BLOCK) || !b.is(T_BLOCK)) raise_error(Err::ScriptBadFuncDef, spec);
  u32 flags = validate(&s);
  Cell* top = stack::g_top;
  push(&s, &b, 0, 0, flags);
  g_result = *top;
  stack::g_top = top;
  return &g_result;
}

void reflect_common(Cell* value, u32 field) {
  Cell v = *value;
  u32 t = v.type();
  u32 wrapped = t == T_OP ? (v.header >> kOpTypeShift) & 0xFF : t;
  if (words::spells(field, w::spec)) {
    *value = spec_of(&v);
  } else if (words::spells(field, w::body)) {
    if (wrapped == T_FUNCTION || wrapped == T_ROUTINE) {
      Cell src = t == T_OP ? *more_cell(&v, kMoreOp) : v;
      *value = *more_cell(&src, kMoreBody);
    } else {
      set_integer(value, i32(v.callable_target()));
    }
  } else if (words::spells(field, w::words) && (t == T_FUNCTION || t == T_ROUTINE)) {
    Cell list;
    make_cell(&list, T_BLOCK, 0, context::words_node(v.function_context()), 0);
    *value = clone_value(&list, false);
  } else {
    raise_error(Err::InternalNotDone);
  }
}

void reflect_slot(Cell* value, u32 field) { reflect_common(value, field); }

i32 text(Cell* out, const char* s, i32 part) {
  string::append_c_text(out, s);
  return part - i32(std::strlen(s));
}

// A spec or body block inside a function's mold: the whole block, /part
// counted by the function's caller.
i32 mold_block(const Cell* b, Cell* out, const actions::MoldOptions& o, i32 part) {
  actions::MoldOptions inner = o.nested(o.indent);
  inner.limit = nullptr;
  return block::mold(b, out, inner, part);
}

i32 native_form(const Cell* v, Cell* out, const Cell*, i32 part) {
  return text(out, v->is(T_NATIVE) ? "?native?" : v->is(T_ACTION) ? "?action?" : "?op?", part);
}

i32 native_mold(const Cell* v, Cell* out, const actions::MoldOptions& o, i32 part) {
  Cell sp = spec_of(v);
  part = text(out, v->is(T_NATIVE) ? "make native! [" : "make action! [", part);
  part = mold_block(&sp, out, o, part);
  return text(out, "]", part);
}

i32 op_mold(const Cell* v, Cell* out, const actions::MoldOptions& o, i32 part) {
  part = text(out, "make op! ", part);
  u32 wrapped = (v->header >> kOpTypeShift) & 0xFF;
  Cell sp = spec_of(v);
  if (wrapped == T_FUNCTION) {
    part = text(out, "func ", part);
    part = mold_block(&sp, out, o, part);
    Cell orig = *more_cell(v, kMoreOp);
    Cell body = *more_cell(&orig, kMoreBody);
    return mold_block(&body, out, o, part);
  }
  part = text(out, "[", part);
  part = mold_block(&sp, out, o, part);
  return text(out, "]", part);
}

i32 function_form(const Cell* v, Cell* out, const Cell*, i32 part) {
  return text(out, v->is(T_ROUTINE) ? "?routine?" : "?function?", part);
}

i32 function_mold(const Cell* v, Cell* out, const actions::MoldOptions& o, i32 part) {
  Cell sp = spec_of(v);
  Cell body = *more_cell(v, kMoreBody);
  part = text(out, v->is(T_ROUTINE) ? "routine " : "func ", part);
  part = mold_block(&sp, out, o, part);
  if (body.is(T_BLOCK)) {
    part = text(out, " ", part);
    return mold_block(&body, out, o, part);
  }
  return text(out, " none", part);
}

i32 compare(const Cell* a, const Cell* b, i32 op) {
  if (a->type() != b->type()) return actions::kNotComparable;
  switch (op) {
    case actions::kEqual: case actions::kNotEqual: case actions::kStrictEqual: case actions::kSortOrder:
    case actions::kCaseSortOrder: case actions::kSame: case actions::kFindEqual: {
      bool fn_like = a->is(T_FUNCTION) || a->is(T_ROUTINE);
      i32 x = i32(fn_like ? a->function_more() : a->callable_target());
      i32 y = i32(fn_like ? b->function_more() : b->callable_target());
      return x < y ? -1 : x > y ? 1 : 0;
    }
    default:
      return actions::kNotComparable;
  }
}

}  // namespace

Cell spec_of(const Cell* fn) {
  Cell s;
  make_cell(&s, T_BLOCK, 0, fn->function_spec(), 0);
  return s;
}

u32 validate(const Cell* spec) {
  Walker w(spec);
  u32 flags = 0;
  u32 i = w.first();
  if (w.has(i) && w.at(i).is(T_BLOCK)) {
    Cell attrs = w.at(i);
    Walker a(&attrs);
    for (u32 k = a.first(); a.has(k); k++) {
      Cell c = a.at(k);
      if (!c.is(T_WORD)) bad_def(spec);
      if (is_sym(&c, w::trace)) flags |= kTraceFlag;
      else if (is_sym(&c, w::no_trace)) flags |= kNoTraceFlag;
    }
    i++;
  }
  bool after_local = false, after_return = false;
  for (; w.has(i); i++) {
    Cell c = w.at(i);
    u32 t = c.type();
    bool next_block = w.has(i + 1) && w.at(i + 1).is(T_BLOCK);
    if (any_param(t)) {
      if (after_local && t != T_WORD) bad_def(spec);
      if (after_return && !after_local) bad_def(spec);
      if (next_block) {
        if (after_local) bad_def(spec);
        Cell tb = w.at(++i);
        check_type_block(&tb);
      }
    } else if (t == T_STRING) {
      if (next_block) bad_def(spec);
    } else if (t == T_SET_WORD) {
      if (!is_sym(&c, w::return_) || after_return || after_local) bad_def(spec);
      if (!next_block) bad_def(spec);
      Cell tb = w.at(++i);
      check_type_block(&tb);
      after_return = true;
      if (w.has(i + 1)) {
        u32 nt = w.at(i + 1).type();
        if (!(nt == T_REFINEMENT || nt == T_STRING)) bad_def(spec);
      }
    } else if (t == T_REFINEMENT) {
      bool local = is_sym(&c, w::local);
      if ((after_local || after_return) && !local) bad_def(spec);
      if (local) after_local = true;
      if (w.has(i + 1)) {
        u32 nt = w.at(i + 1).type();
        bool ok = any_param(nt) || nt == T_REFINEMENT || nt == T_STRING || nt == T_SET_WORD;
        if (!ok) bad_def(spec);
      }
    } else {
      bad_def(spec);
    }
  }
  check_duplicates(spec);
  return flags;
}

i32 count_locals(const Cell* spec, bool strict) {
  Walker w(spec);
  for (u32 i = w.first(); w.has(i); i++) {
    Cell c = w.at(i);
    if (c.is(T_REFINEMENT) && is_sym(&c, w::local)) {
      i32 n = 1;
      for (u32 k = i + 1; w.has(k); k++)
        if (w.at(k).is(T_WORD)) n++;
      return n;
    }
  }
  return strict ? -1 : 0;
}

void push_locals(i32 count) {
  Cell f, n;
  set_logic(&f, false);
  set_none(&n);
  stack::push(&f);
  for (i32 i = 1; i < count; i++) stack::push(&n);
}

Cell collect_locals(const Cell* spec, const Cell* body) {
  Rooted out = clone_value(spec, false);
  std::vector<u32> known, excluded;
  // /extern words are not collected, and leave the spec.
  {
    Walker w(&out);
    for (u32 i = w.first(); w.has(i); i++) {
      Cell c = w.at(i);
      if (c.is(T_REFINEMENT) && is_extern(&c)) {
        for (u32 k = i + 1; w.has(k); k++) {
          Cell e = w.at(k);
          if (!e.is(T_WORD)) raise_error(Err::ScriptBadFuncExtern, &e);
          excluded.push_back(symbol::resolve(e.word_symbol()));
        }
        block::truncate_at(&out, i32(i));
        break;
      }
    }
  }
  Walker w(&out);
  bool has_local = false;
  for (u32 i = w.first(); w.has(i); i++) {
    Cell c = w.at(i);
    u32 t = c.type();
    if (any_param(t) || t == T_REFINEMENT || t == T_SET_WORD) known.push_back(symbol::resolve(c.word_symbol()));
    if (t == T_REFINEMENT && is_sym(&c, w::local)) has_local = true;
  }
  std::vector<u32> found;
  auto consider = [&](u32 sym) {
    u32 s = symbol::resolve(sym);
    for (u32 k : known)
      if (k == s) return;
    for (u32 k : excluded)
      if (k == s) return;
    known.push_back(s);
    found.push_back(sym);
  };
  // Deep walk of the body: set-words, and the words that loops name.
  struct Walk {
    static void run(const Cell* b, decltype(consider)& add) {
      Walker w(b);
      for (u32 i = w.first(); w.has(i); i++) {
        Cell c = w.at(i);
        u32 t = c.type();
        if (t == T_SET_WORD) {
          add(c.word_symbol());
        } else if (t == T_WORD && (is_sym(&c, w::foreach) || is_sym(&c, w::remove_each)) && w.has(i + 1)) {
          Cell n = w.at(i + 1);
          if (n.is(T_BLOCK)) {
            Walker inner(&n);
            for (u32 k = inner.first(); inner.has(k); k++) {
              Cell e = inner.at(k);
              if (any_param(e.type())) add(e.word_symbol());
            }
          } else if (n.is(T_WORD) || n.is(T_SET_WORD)) {
            add(n.word_symbol());
          }
        } else if (t == T_WORD && is_sym(&c, w::repeat) && w.has(i + 1)) {
          Cell n = w.at(i + 1);
          if (n.is(T_WORD) || n.is(T_SET_WORD)) add(n.word_symbol());
        } else if (t == T_BLOCK || t == T_PAREN) {
          run(&c, add);
        }
      }
    }
  };
  Walk::run(body, consider);
  if (!found.empty()) {
    if (!has_local) block::append_cell(&out, &words::g_refinements[words::ref_local]);
    for (u32 sym : found) {
      Cell word;
      make_cell(&word, T_WORD, 0, sym, u32(-1));
      block::append_cell(&out, &word);
    }
  }
  return out;
}

bool op_spec_ok(const Cell* spec) {
  Walker w(spec);
  int count = 0;
  bool plain_seen = false;
  for (u32 i = w.first(); w.has(i); i++) {
    Cell c = w.at(i);
    u32 t = c.type();
    if (t == T_WORD) {
      count++;
      plain_seen = true;
    } else if (t == T_LIT_WORD || t == T_GET_WORD) {
      if (!plain_seen) return false;
      count++;
    } else if (t == T_SET_WORD && is_sym(&c, w::return_)) {
      break;
    } else if (t == T_REFINEMENT) {
      if (!(is_sym(&c, w::local) || is_extern(&c))) return false;
      break;
    }
  }
  return count == 2;
}

mem::Node push(const Cell* spec_in, const Cell* body_in, mem::Node ctx_in, mem::Node object_ctx, u32 flags) {
  Rooted spec = *spec_in;
  u32 slen = mem::series_of(spec.series_node())->length();
  if (u32(spec.series_index()) > slen) spec.set_series_index(i32(slen));
  if (spec.series_index() > 0) spec = clone_value(&spec, false);
  bool made = false;
  RootedNode ctx(ctx_in);
  if (!ctx) {
    ctx = context::make(&spec, true, false, context::kFunction);
    made = true;
  }
  Rooted more = make_more(5);
  Cell none, unset;
  set_none(&none);
  set_unset(&unset);
  Rooted body = none;
  // The body of a library function is library code too.
  bool library = false;
  if (body_in) {
    Cell b = *body_in;
    u32 blen = mem::series_of(b.series_node())->length();
    if (u32(b.series_index()) > blen) b.set_series_index(i32(blen));
    body = clone_value(&b, true);
    library = (mem::series_of(b.series_node())->flags & mem::kLibrary) != 0;
  }
  Cell obj = unset;
  if (object_ctx) set_integer(&obj, i32(object_ctx));
  // The block was made with room for its five cells: written at once.
  {
    mem::Series* m = mem::series_of(more.series_node());
    Cell* c = m->cells();
    c[kMoreBody] = body;
    c[kMoreParsed] = unset;
    c[kMoreCode] = unset;
    c[kMoreOp] = unset;
    c[kMoreObject] = obj;
    m->tail = m->head + 5 * u32(sizeof(Cell));
  }
  Cell fn;
  make_cell(&fn, T_FUNCTION | flags, ctx, spec.series_node(), more.series_node());
  stack::push(&fn);
  *context::owner_cell(ctx) = fn;
  if (made && body.is(T_BLOCK)) context::bind_body(&body, ctx, library);
  else if (library) block::mark_library(&body);
  return ctx;
}

Cell make_native(u32 type, const Cell* spec, u32 index) {
  Rooted s = *spec;
  RootedNode ctx(context::make(&s, true, false, context::kFunction));
  Rooted more = make_more(2);
  Cell ctx_copy = *context::ctx_cell(ctx);
  Cell none;
  set_none(&none);
  block::append_cell(&more, &ctx_copy);
  block::append_cell(&more, &none);
  Cell v;
  make_cell(&v, type, index, s.series_node(), more.series_node());
  return v;
}

Cell parsed_spec(const Cell* fn) {
  Cell f = *fn;
  u32 t = f.type();
  if (t == T_OP) {
    t = (f.header >> kOpTypeShift) & 0xFF;
  }
  Cell* cache = more_cell(&f, kMoreParsed);
  if (cache->is(T_BLOCK)) return *cache;
  Cell spec = spec_of(&f);
  Rooted out;
  block::make_at(&out, 8);
  Walker w(&spec);
  bool is_native = t == T_NATIVE || t == T_ACTION;
  u32 ordinal = 0;
  i32 locals = 0;
  for (u32 i = w.first(); w.has(i); i++) {
    Cell c = w.at(i);
    u32 ct = c.type();
    if (any_param(ct)) {
      Cell ts;
      Cell next;
      if (w.has(i + 1) && (next = w.at(i + 1)).is(T_BLOCK) && block::length_at(&next) > 0) {
        typeset::make_from_spec(&next, &ts);
      } else {
        typeset::make_default(&ts);
      }
      u32 kind = ct == T_GET_WORD ? kGetParam : ct == T_LIT_WORD ? kLitParam : kNormal;
      ts.header |= kind << kParamKindShift;
      block::append_cell(&out, &ts);
    } else if (ct == T_SET_WORD && is_sym(&c, w::return_)) {
      Cell ts;
      Cell next;
      if (w.has(i + 1) && (next = w.at(i + 1)).is(T_BLOCK)) typeset::make_from_spec(&next, &ts);
      else typeset::make_default(&ts);
      ts.header |= kReturnType << kParamKindShift;
      block::append_cell(&out, &ts);
    } else if (ct == T_REFINEMENT) {
      if (is_sym(&c, w::local)) {
        locals = count_locals(&spec, false);
        break;
      }
      Cell r = c;
      if (is_native) r.set_word_index(i32(++ordinal));
      block::append_cell(&out, &r);
    }
  }
  Cell end;
  if (!is_native && locals > 0) {
    set_integer(&end, locals);
    block::append_cell(&out, &end);
  } else if (is_native && ordinal >= 1) {
    set_integer(&end, i32(ordinal));
    block::append_cell(&out, &end);
  }
  *more_cell(&f, kMoreParsed) = out;
  return out;
}

void register_native() {
  collector::add_root_cells(&g_result, 1);
  actions::SlotTable s;
  s.set<actions::kMake>(&native_make);
  s.set<actions::kReflect>(&reflect_slot);
  s.set<actions::kForm>(&native_form);
  s.set<actions::kMold>(&native_mold);
  s.set<actions::kCompare>(&compare);
  datatype::register_type(T_NATIVE, 0, "native!", s);
}

void register_action() {
  actions::SlotTable s;
  s.set<actions::kMake>(&native_make);
  s.inherit(actions::kReflect);
  s.set<actions::kForm>(&native_form);
  s.set<actions::kMold>(&native_mold);
  s.set<actions::kCompare>(&compare);
  datatype::register_type(T_ACTION, T_NATIVE, "action!", s);
}

void register_op() {
  actions::SlotTable s;
  s.set<actions::kMake>(&op_make);
  s.inherit(actions::kReflect);
  s.set<actions::kForm>(&native_form);
  s.set<actions::kMold>(&op_mold);
  s.set<actions::kCompare>(&compare);
  datatype::register_type(T_OP, T_NATIVE, "op!", s);
}

void register_function() {
  actions::SlotTable s;
  s.set<actions::kMake>(&function_make);
  s.set<actions::kReflect>(&reflect_slot);
  s.set<actions::kForm>(&function_form);
  s.set<actions::kMold>(&function_mold);
  s.set<actions::kCompare>(&compare);
  datatype::register_type(T_FUNCTION, T_CONTEXT, "function!", s);
}

void register_routine() {
  actions::SlotTable s;
  s.inherit(actions::kReflect);
  s.set<actions::kForm>(&function_form);
  s.set<actions::kMold>(&function_mold);
  s.set<actions::kCompare>(&compare);
  datatype::register_type(T_ROUTINE, T_FUNCTION, "routine!", s);
}

}  // namespace zot::function
