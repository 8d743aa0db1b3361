#include "datatypes/error.h"

#include <cstring>
#include <exception>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/system.h"
#include "datatypes/words.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/helpers.h"
#include "runtime/output.h"
#include "runtime/root.h"
#include "runtime/services.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/throw.h"

namespace zot::error {

using mem::Node;

namespace {

// Class ids of the catalog objects (the error objects themselves share 1).
constexpr u32 kCatalogClass = 184;
constexpr u32 kFirstCategoryClass = 185;
// Budgets of the parts of an error's form.
constexpr i32 kArgumentBudget = 80;
constexpr i32 kNearBudget = 40;

const char* const kFieldNames[kFieldCount] = {"code", "type", "id", "arg1", "arg2", "arg3",
                                              "near", "where", "stack", "files"};

u32 g_catalog_root = 0;    // root cell indexes, 0 until init
u32 g_prototype_root = 0;


ZOT_INLINE Node catalog_ctx() { return root::cell(g_catalog_root)->object_context(); }

Cell none_cell() {
  Cell n;
  set_none(&n);
  return n;
}


Cell bound_word(Node ctx, u32 index) {
  Cell w;
  make_cell(&w, T_WORD, ctx, context::word_at(ctx, index)->word_symbol(), index);
  return w;
}

// A word of the global context for the symbol, without adding it there.
Cell global_word(u32 sym) {
  i32 i = context::find_word(context::g_global, sym, true);
  Cell w;
  make_cell(&w, T_WORD, context::g_global, sym, u32(i));
  return w;
}

void put_field(Node ctx, const char* name, const Cell* value) {
  Cell w;
  make_cell(&w, T_WORD, 0, symbol::make(name), u32(-1));
  context::put_value(ctx, &w, value);
}

void set_field(const Cell* err, u32 index, const Cell* value) {
  Cell v = *value;
  if (Cell* slot = context::value_at(err->object_context(), index)) *slot = v;
}

Cell get_field(const Cell* err, u32 index) {
  const Cell* v = context::value_at(err->object_context(), index);
  Cell c;
  if (v) c = *v;
  else set_none(&c);
  return c;
}

// The category object at the index of the catalog, or none.
Cell category_at(u32 index) {
  const Cell* v = context::value_at(catalog_ctx(), index);
  return v ? *v : none_cell();
}

u32 id_count(const Cell* category) {
  u32 n = context::word_count(category->object_context());
  return n > 2 ? n - 2 : 0;
}

// The category index of a word (any case), or -1.
i32 find_category(const Cell* word) {
  if (!word->is(T_WORD) && !word->is(T_LIT_WORD)) return -1;
  return context::find_word(catalog_ctx(), word->word_symbol(), true);
}

// The index of an id word among a category's words (2 and up), or -1.
i32 find_id(const Cell* category, const Cell* word) {
  if (!word->is(T_WORD) && !word->is(T_LIT_WORD)) return -1;
  i32 i = context::find_word(category->object_context(), word->word_symbol(), true);
  return i >= 2 ? i : -1;
}

// The template value of the text from the catalog file: one value alone,
// several as a block.
Cell scan_template(const char* text, const char* fallback) {
  std::size_t len = std::strlen(text);
  if (len == 0) {
    Cell s;
    string::make_from_utf8(&s, fallback, std::strlen(fallback));
    return s;
  }
  Cell out;
  if (!g_services.scan_utf8) service_missing();
  g_services.scan_utf8(&out, reinterpret_cast<const u8*>(text), u32(len), false);
  if (block::length_at(&out) == 1) {
    Cell v = *block::index_cell(&out);
    clear_new_line(&v);
    return v;
  }
  return out;
}

void build_catalog() {
  stack::TopMark mark;
  Cell* cat = stack::push(&datatype::g_none);
  object::make_at(cat, kErrCategoryCount);
  cat->set_object_class(kCatalogClass);
  *context::owner_cell(cat->object_context()) = *cat;
  for (int c = 0; c < kErrCategoryCount; c++) {
    const ErrorCategoryInfo& info = error_category(c);
    Cell* co = stack::push(&datatype::g_none);
    object::make_at(co, u32(info.count) + 2);
    co->set_object_class(kFirstCategoryClass + u32(c));
    *context::owner_cell(co->object_context()) = *co;
    Cell code;
    set_integer(&code, c * 100);
    put_field(co->object_context(), "code", &code);
    Cell title;
    string::make_from_utf8(&title, info.title, std::strlen(info.title));
    put_field(co->object_context(), "type", &title);
    for (u32 i = 0; i < info.count; i++) {
      const ErrorInfo& e = error_info(Err(info.first + i));
      Cell t = scan_template(e.tmpl, e.word);
      put_field(co->object_context(), e.word, &t);
    }
    Cell category = *co;
    put_field(cat->object_context(), info.word, &category);
  }
  g_catalog_root = root::append_copy(cat);
}

void build_prototype() {
  stack::TopMark mark;
  Cell* p = stack::push(&datatype::g_none);
  object::make_at(p, kFieldCount);
  Cell none = none_cell();
  for (const char* name : kFieldNames) put_field(p->object_context(), name, &none);
  p->header = T_ERROR;
  p->set_object_class(object::kErrorClassId);
  *context::owner_cell(p->object_context()) = *p;
  g_prototype_root = root::append_copy(p);
}

// Appends text, counting it against the budget.
using string::Budget;

void truncate_after(Cell* out, i32 start, i32 budget) {
  if (string::total_length(out) > start + budget) string::truncate_at(string::buffer_of(out), start + budget);
}

i32 form_value(const Cell* v, Cell* out, const Cell* limit, i32 part) {
  Cell c = *v;
  return actions::lookup<actions::kForm>(c.type())(&c, out, limit, part);
}

i32 mold_value(const Cell* v, Cell* out, bool only, bool flat, const Cell* limit, i32 part) {
  Cell c = *v;
  return actions::lookup<actions::kMold>(c.type())(&c, out, {.limit = limit, .only = only, .flat = flat}, part);
}

// An argument of the message: formed or molded within its own budget.
void put_argument(const Cell* value, Cell* out, bool formed) {
  Cell v = *value;
  Cell limit;
  set_integer(&limit, kArgumentBudget);
  i32 start = string::total_length(out);
  // Dropping the frame lowers the top to the caller's base: the cells the
  // caller holds above it (the output among them) come back.
  Cell* const top = stack::g_top;
  stack::push_native_frame(words::word(w::tag_body));
  if (formed) form_value(&v, out, &limit, kArgumentBudget);
  else mold_value(&v, out, false, false, &limit, kArgumentBudget);
  stack::drop_frame();
  stack::g_top = top;
  truncate_after(out, start, kArgumentBudget);
}

// The argument field named by a template word (arg1..arg3), or -1.
i32 argument_field(const Cell* c) {
  if (!c->is(T_WORD) && !c->is(T_GET_WORD)) return -1;
  u32 s = symbol::resolve(c->word_symbol());
  for (u32 k = kArg1; k <= kArg3; k++)
    if (s == symbol::resolve(symbol::make(kFieldNames[k]))) return i32(k);
  return -1;
}

// The message from the template; false when the template is not usable.
bool put_message(const Cell* err, const Cell* tmpl, Cell* out, bool syntax) {
  Cell t = *tmpl;
  if (t.is(T_STRING)) {
    form_value(&t, out, nullptr, 0x7FFFFFFF);
    return true;
  }
  if (argument_field(&t) >= 0) {
    // A message that is only an argument (user errors) shows it as text.
    Cell v = get_field(err, u32(argument_field(&t)));
    put_argument(&v, out, true);
    return true;
  }
  if (!t.is(T_BLOCK)) return false;
  i32 n = block::length_at(&t);
  for (i32 i = 0; i < n; i++) {
    if (i > 0) string::append_c_text(out, " ");
    Cell c = *block::cell_at(&t, t.series_index() + i);
    i32 f = argument_field(&c);
    if (f >= 0) {
      Cell v = get_field(err, u32(f));
      put_argument(&v, out, syntax);
    } else if (c.is(T_STRING)) {
      form_value(&c, out, nullptr, 0x7FFFFFFF);
    } else {
      form_value(&c, out, nullptr, 0x7FFFFFFF);
    }
  }
  return true;
}

template <class F>
void each_frame_word(i32 level, i32 end_frame, F&& f) {
  if (end_frame < 0) return;
  i32 end = end_frame < i32(stack::kCallFrames) ? end_frame : i32(stack::kCallFrames);
  const u32 body = stack::body_symbol(), anon = stack::anon_symbol();
  for (i32 k = 0; k < end; k++) {
    const stack::Frame* fr = stack::g_cbottom + k;
    u32 sym = stack::frame_symbol(fr);
    if (sym == 0 || sym == body || sym == anon || sym > symbol::count()) continue;
    if (level <= 1) {
      Node ctx = fr->word_ctx;
      if (!ctx || !mem::node_in_use(ctx) || !context::ctx_cell(ctx)->is(T_CONTEXT)) continue;
      const Cell* v = context::find_value_cell(sym, ctx);
      if (!v || !v->is(T_FUNCTION)) continue;
    }
    f(sym);
  }
}

// The code of the category and id indexes, stored with the near position.
void set_code(Cell* err, i32 category, i32 id_index) {
  Cell code;
  set_integer(&code, category * 100 + (id_index - 2));
  set_field(err, kCode, &code);
  const Cell* near = g_services.near ? g_services.near() : nullptr;
  if (near && !near->is(T_UNSET)) set_field(err, kNear, near);
}

ZOT_NORETURN void bad_spec_field(const Cell* v) { raise_error(Err::ScriptInvalidSpecField, v); }

}  // namespace

void make_error(Err e, const Cell* args[3], Cell* out) {
  Cell* t0 = stack::g_top;
  const ErrorInfo& info = error_info(e);
  Cell cat = category_at(info.category);
  Cell cw = bound_word(catalog_ctx(), info.category);
  Cell iw = bound_word(cat.object_context(), u32(info.index) + 2);
  Cell err = *create_from_words(&cw, &iw, args[0], args[1], args[2]);
  stack::g_top = t0;
  // Where it happened and the call position, while the frames are still there.
  if (stack::depth() > 0) {
    Cell where = stack::calling_word();
    set_where(&err, &where);
    Cell s = get_field(&err, kStack);
    if (!s.is(T_BLOCK)) {
      set_integer(&s, i32(stack::depth()) - 1);
      set_field(&err, kStack, &s);
    }
  }
  *out = err;
}

void print_error(const Cell* err_in) {
  Cell err = *err_in;
  Cell* const base = stack::g_base;
  Cell* const top = stack::g_top;
  stack::Frame* const ctop = stack::g_ctop;
  stack::push_try_frame(nullptr);
  try {
    Cell* s = stack::push(&datatype::g_none);
    string::make_at(s, 128);
    form(&err, s, nullptr, 0x7FFFFFFF);
    Cell text = *s;
    stack::drop_frame();
    output::print_string(&text, true);
  } catch (const RuntimeThrow& t) {
    if (t.code != kThrowError) throw;
    runtime::g_thrown_code = 0;
    output::print_c_text("*** Internal Error: invalid error object field value\n");
  }
  stack::g_base = base;
  stack::g_top = top;
  stack::g_ctop = ctop;
}

i32 code_of(const Cell* error) {
  const Cell* code = context::value_at(error->object_context(), 0);
  return code && code->is(T_INTEGER) ? code->int_value() : -1;
}

// ---- catalog and prototype

void init() {
  build_catalog();
  build_prototype();
}

const Cell* catalog() { return root::cell(g_catalog_root); }
const Cell* prototype() { return root::cell(g_prototype_root); }

Cell* field(const Cell* error, u32 index) { return context::value_at(error->object_context(), index); }

i32 stack_trace_level() { return sys::stack_trace_level(); }

// ---- making

Cell* create_from_words(const Cell* category, const Cell* id, const Cell* arg1, const Cell* arg2,
                        const Cell* arg3) {
  const Cell* args[3] = {arg1, arg2, arg3};
  Cell a[3];
  for (int i = 0; i < 3; i++)
    if (args[i]) a[i] = *args[i];
  Cell* b = block::push_new(2);
  block::append_cell(b, category);
  block::append_cell(b, id);
  Cell spec = *b;
  Cell dt = datatype_cell(T_ERROR);
  Cell* r = make(&dt, &spec, T_ERROR);
  for (int i = 0; i < 3; i++)
    if (args[i]) set_field(r, kArg1 + u32(i), &a[i]);
  return r;
}

Cell* make(Cell* proto, Cell* spec_in, int type) {
  (void)proto;
  (void)type;
  Cell spec = *spec_in;
  Cell* r = stack::push(&datatype::g_none);
  Cell p = *prototype();
  object::copy_into(&p, r, false, nullptr, false);
  r->header = T_ERROR;
  r->set_object_class(object::kErrorClassId);
  r->set_object_events(0);
  *context::owner_cell(r->object_context()) = *r;
  switch (spec.type()) {
    case T_INTEGER: {
      i32 code = spec.int_value();
      i32 c = code / 100, i = code % 100;
      if (code < 0 || c >= kErrCategoryCount) raise_error(Err::ScriptOutOfRange, &spec);
      Cell cat = category_at(u32(c));
      if (!cat.is(T_OBJECT) || u32(i) >= id_count(&cat)) raise_error(Err::ScriptOutOfRange, &spec);
      set_field(r, kCode, &spec);
      Cell tw = bound_word(catalog_ctx(), u32(c));
      Cell iw = bound_word(cat.object_context(), u32(i) + 2);
      set_field(r, kType, &tw);
      set_field(r, kId, &iw);
      break;
    }
    case T_BLOCK: {
      i32 n = block::length_at(&spec);
      Cell first = n > 0 ? *block::index_cell(&spec) : none_cell();
      if (first.is(T_WORD)) {
        i32 c = find_category(&first);
        if (c < 0) bad_spec_field(&first);
        Cell second = n > 1 ? *(block::index_cell(&spec) + 1) : none_cell();
        if (!second.is(T_WORD)) raise_error(Err::ScriptInvalidArg, &second);
        Cell cat = category_at(u32(c));
        i32 i = find_id(&cat, &second);
        if (i < 0) bad_spec_field(&second);
        clear_new_line(&first);
        clear_new_line(&second);
        set_field(r, kType, &first);
        set_field(r, kId, &second);
        set_code(r, c, i);
      } else if (first.is(T_SET_WORD)) {
        context::bind(&spec, r->object_context(), true);
        if (!g_services.do_block) service_missing();
        g_services.do_block(&spec);
        Cell tw = get_field(r, kType), iw = get_field(r, kId);
        i32 c = find_category(&tw);
        if (!tw.is(T_WORD) || c < 0) bad_spec_field(&tw);
        Cell cat = category_at(u32(c));
        i32 i = iw.is(T_WORD) ? find_id(&cat, &iw) : -1;
        if (i < 0) bad_spec_field(&iw);
        set_code(r, c, i);
      } else {
        raise_error(Err::InternalInvalidError, &first);
      }
      break;
    }
    case T_STRING: {
      Cell cat = category_at(kErrCat_8);
      Cell cw = bound_word(catalog_ctx(), kErrCat_8);
      Cell iw = bound_word(cat.object_context(), 2);
      Cell e = *create_from_words(&cw, &iw, &spec, nullptr, nullptr);
      *r = e;
      stack::g_top = r + 1;
      break;
    }
    default: {
      raise_with_type(Err::ScriptBadMakeArg, T_ERROR, &spec);
    }
  }
  return r;
}

void set_where(Cell* error, const Cell* value) {
  if (get_field(error, kWhere).is(T_NONE)) set_field(error, kWhere, value);
}

Cell argument_word(int index) {
  Cell name = stack::calling_word();
  Cell anon = *words::word(w::tag_anon);
  const Cell* v = name.word_context() ? context::find_value_cell(name.word_symbol(), name.word_context()) : nullptr;
  if (!v || !is_any_function(v->type())) return anon;
  Cell f = *v;
  Cell spec = function::spec_of(&f);
  i32 n = 0;
  u32 len = mem::series_of(spec.series_node())->length();
  for (u32 i = 0; i < len; i++) {
    Cell c = mem::series_of(spec.series_node())->cells()[i];
    u32 t = c.type();
    if (t != T_WORD && t != T_LIT_WORD && t != T_GET_WORD && t != T_REFINEMENT) continue;
    if (n++ == index) {
      set_word(&c, T_WORD, c.word_symbol(), c.word_context(), c.word_index());
      return c;
    }
  }
  return anon;
}

// ---- stack traces

void collect_frame_words(i32 level, Cell* block, i32 end_frame) {
  each_frame_word(level, end_frame, [&](u32 sym) {
    Cell w = global_word(sym);
    block::append_cell(block, &w);
  });
}

namespace {

// A runaway recursion leaves thousands of frames: a stack line shows the
// outermost and the innermost of them around "...".
constexpr i32 kStackOuterShown = 4;
constexpr i32 kStackInnerShown = 12;

// Forms the words of a block, one space between them (and after the last
// with trailing_space), cut in the middle when there are too many.
i32 form_stack_words(const Cell* words, Cell* out, i32 limit, bool trailing_space) {
  const Cell b = *words;
  const i32 at = b.series_index();
  const i32 n = block::length_at(&b);
  for (i32 i = 0; i < n && limit > 0; i++) {
    if (i == kStackOuterShown && n > kStackOuterShown + kStackInnerShown) {
      string::append_c_text(out, "... ");
      limit -= 4;
      i = n - kStackInnerShown;
    }
    Cell w = *block::cell_at(&b, at + i);
    limit = form_value(&w, out, nullptr, limit);
    if (trailing_space || i + 1 < n) {
      string::append_c_text(out, " ");
      limit--;
    }
  }
  return limit;
}

}  // namespace

i32 form_frame_words(i32 level, i32 end_frame, Cell* out, i32 limit) {
  stack::TopMark mark;
  Cell* b = block::push_new(20);
  collect_frame_words(level, b, end_frame);
  return form_stack_words(b, out, limit, true);
}

void fill_stack_trace(Cell* error) {
  if (!error->is(T_ERROR)) return;
  Cell s = get_field(error, kStack);
  if (!s.is(T_INTEGER)) return;
  i32 level = stack_trace_level();
  if (level <= 0) level = 1;
  stack::TopMark mark;
  Cell* b = block::push_new(20);
  collect_frame_words(level, b, s.int_value());
  Cell blk = *b;
  set_field(error, kStack, &blk);
  Cell files;
  if (sys::source_files(&files)) {
    Cell* copy = stack::push(&datatype::g_none);
    series::copy(&files, copy, nullptr, false, nullptr);
    Cell c = *copy;
    set_field(error, kFiles, &c);
  }
}

// ---- slot functions

i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part) {
  (void)limit;
  Cell err = *value;
  Budget b(out, &part);
  b.text("*** ");
  Cell tw = get_field(&err, kType), iw = get_field(&err, kId);
  // A malformed error prints as internal/invalid-error with the offending field.
  Cell bad;
  set_none(&bad);
  bool ok = true;
  Cell cat = none_cell(), tmpl = none_cell();
  i32 c = -1;
  if (tw.is(T_NONE) || (c = find_category(&tw)) < 0) {
    ok = false;
    bad = tw;
  } else {
    cat = category_at(u32(c));
    i32 i = cat.is(T_OBJECT) ? find_id(&cat, &iw) : -1;
    if (iw.is(T_NONE) || i < 0) {
      ok = false;
      bad = iw;
    } else {
      tmpl = *context::value_at(cat.object_context(), u32(i));
    }
  }
  const ErrorInfo& invalid = error_info(Err::InternalInvalidError);
  if (!ok) {
    c = invalid.category;
    cat = category_at(u32(c));
    tmpl = *context::value_at(cat.object_context(), u32(invalid.index) + 2);
  }
  Cell title = *context::value_at(cat.object_context(), 1);
  form_value(&title, out, nullptr, 0x7FFFFFFF);
  b.settle();
  b.text(": ");
  bool syntax = c == kErrCat_2;
  if (ok && !put_message(&err, &tmpl, out, syntax)) {
    // A template that is neither text nor a block: report the id.
    ok = false;
    bad = iw;
    c = invalid.category;
    tmpl = *context::value_at(category_at(u32(c)).object_context(), u32(invalid.index) + 2);
  }
  if (!ok) {
    // The invalid-error message with the offending field as its argument.
    stack::TopMark mark;
    Cell* t = stack::push(&datatype::g_none);
    Cell p = *prototype();
    object::copy_into(&p, t, false, nullptr, false);
    set_field(t, kArg1, &bad);
    put_message(t, &tmpl, out, false);
  }
  b.settle();

  b.text("\n*** Where: ");
  Cell where = get_field(&err, kWhere);
  if (where.is(T_WORD) || where.is(T_STRING)) form_value(&where, out, nullptr, 0x7FFFFFFF);
  else string::append_c_text(out, "???");
  b.settle();

  b.text("\n*** Near : ");
  {
    Cell near = get_field(&err, kNear);
    Cell lim;
    set_integer(&lim, kNearBudget);
    i32 start = string::total_length(out);
    mold_value(&near, out, true, true, &lim, kNearBudget);
    truncate_after(out, start, kNearBudget);
    b.settle();
  }

  if (i32 level = stack_trace_level(); level > 0) {
    b.text("\n*** Stack: ");
    Cell s = get_field(&err, kStack);
    if (s.is(T_INTEGER)) part = form_frame_words(level, s.int_value(), out, part);
    else if (s.is(T_BLOCK)) part = form_stack_words(&s, out, part, false);
    b.from = string::total_length(out);
  }

  Cell files = get_field(&err, kFiles);
  if (files.is(T_BLOCK)) {
    b.text("\n*** Files: ");
    Cell lim;
    set_integer(&lim, kNearBudget);
    i32 start = string::total_length(out);
    mold_value(&files, out, true, true, &lim, kNearBudget);
    truncate_after(out, start, kNearBudget);
    b.settle();
  }
  return part;
}

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part) {
  Cell err = *value;
  Budget b(out, &part);
  if (!o.only) b.text("make error! [");
  actions::MoldOptions body = o;
  body.indent = o.indent + 1;
  part = object::serialize(&err, out, body, part, true);
  b.from = string::total_length(out);
  if (!o.only) {
    if (!o.flat && o.indent >= 1)
      for (i32 i = 0; i < o.indent; i++) b.text("    ");
    b.text("]");
  }
  return part;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o) {
  return object::eval_path(parent, element, value, o);
}

i32 compare(const Cell* a, const Cell* b, i32 op) {
  if (!b->is(T_ERROR)) return actions::kNotComparable;
  Cell x = *a, y = *b;
  set_type(&x, T_OBJECT);
  set_type(&y, T_OBJECT);
  return object::compare(&x, &y, op);
}

void register_type() {
  actions::SlotTable s;
  s.set<actions::kMake>(&make);
  s.inherit(actions::kReflect);
  s.set<actions::kForm>(&form);
  s.set<actions::kMold>(&mold);
  s.set<actions::kEvalPath>(&eval_path);
  s.set<actions::kCompare>(&compare);
  s.inherit(actions::kCopy);
  s.inherit(actions::kSelect);
  datatype::register_type(T_ERROR, T_OBJECT, "error!", s);
}

}  // namespace zot::error
