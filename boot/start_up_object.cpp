#include "boot/start_up_object.h"

#include <string>
#include <vector>

#include "boot/type_predicates.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/file.h"
#include "datatypes/float.h"
#include "datatypes/handle.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "interpreter/eval.h"
#include "interpreter/routines.h"
#include "platform/platform.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/rooted.h"
#include "runtime/services.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace zot::start_up {

namespace {

Cell* arg(int i) { return stack::g_base + i; }

// A routine! whose entry is named by the first word of its body.
void make_routine() {
  Cell spec = *arg(0), body = *arg(1);
  mem::Series* b = mem::series_of(body.series_node());
  const u32 at = u32(body.series_index());
  if (at >= b->length() || !b->cells()[at].is(T_WORD)) raise_error(Err::ScriptInvalidArg, &body);
  u32 sym = b->cells()[at].word_symbol();
  std::string name(symbol::name_text(sym), symbol::name_length(sym));
  Cell* top = stack::g_top;
  routines::push(&spec, &body, name.c_str());
  Cell r = *top;
  stack::g_top = top;
  *stack::g_base = r;
}

void make_object() {
  Cell none;
  set_none(&none);
  Cell spec = *arg(1);
  u32 class_id = u32(arg(0)->int_value());
  Cell* top = stack::g_top;
  Cell r = *object::make_with_class(&none, &spec, class_id);
  stack::g_top = top;
  *stack::g_base = r;
}

// An object over the global context (class -1, no change events), which
// becomes the owner of the global context.
void make_system_words() {
  Cell o;
  make_cell(&o, T_OBJECT, context::g_global, u32(-1), 0);
  *context::owner_cell(context::g_global) = o;
  *stack::g_base = o;
}

void error_catalog() { *stack::g_base = *error::catalog(); }

void command_line() {
  const char* line = runtime::command_line();
  string::make_from_utf8(stack::g_base, line, std::strlen(line));
}

// Each argument as given, the program's own path first.
void arguments() {
  Rooted b;
  block::make_at(&b.cell, runtime::argc() + 1);
  for (int i = 0; i < runtime::argc(); i++) {
    Rooted s;
    const char* a = runtime::argv()[i];
    string::make_from_utf8(&s.cell, a, std::strlen(a));
    block::append_cell(&b.cell, &s.cell);
  }
  *stack::g_base = b.cell;
}

// The arguments from the given one on (0 is the program's path) as one text.
void argument_text() {
  i32 first = arg(0)->int_value();
  std::string text = runtime::join_arguments(first < 0 ? 0 : first);
  string::make_from_utf8(stack::g_base, text.data(), text.size());
}

void make_word() {
  Cell name = *arg(0);
  std::string text = string::to_utf8(&name);
  if (text.empty() || text.find('\0') != std::string::npos) raise_error(Err::ScriptInvalidArg, &name);
  *stack::g_base = word::load(text.c_str());
}

// The per-user directory: $HOME/.zot/, or /tmp/.zot/ without HOME.
void cache_dir() {
  std::string home;
  if (!platform::get_env("HOME", &home) || home.empty()) home = "/tmp";
  if (home.back() == '/') home.pop_back();
  home += "/.zot/";
  file::make_from_utf8(stack::g_base, home.data(), home.size());
}

// Whether a frame below the caller's was pushed by the interpreter (not by
// library code): system/state/interpreted? asks it.
void interpreted() { set_logic(stack::g_base, stack::in_interpreter(nullptr, false)); }

// The pretty? switch of system/options/float, mirrored for float forms.
void float_pretty() { float_::set_pretty(arg(0)->logic_value()); }

// trace true / trace false inside a traced evaluation.
void set_tracing() { interp::set_tracing(arg(0)->logic_value()); }

// The type predicates' names, in their order of definition.
void type_predicate_names() { type_predicates::names(stack::g_base); }

struct Entry {
  const char* field;
  const char* spec;
  routines::EntryFn fn;
};

const Entry kEntries[] = {
    {"routine", "[spec [block!] body [block!]]", make_routine},
    {"object", "[class [integer!] spec [block!]]", make_object},
    {"make-system-words", "[]", make_system_words},
    {"error-catalog", "[]", error_catalog},
    {"command-line", "[]", command_line},
    {"arguments", "[]", arguments},
    {"argument-text", "[first [integer!]]", argument_text},
    {"word", "[name [string!]]", make_word},
    {"cache-dir", "[]", cache_dir},
    {"interpreted?", "[]", interpreted},
    {"float-pretty", "[on [logic!]]", float_pretty},
    {"set-tracing", "[on [logic!]]", set_tracing},
    {"type-predicates", "[]", type_predicate_names},
};

std::string entry_name(const char* field) { return std::string("start-up/") + field; }

// The symbols whose canonical id is the one asked: it, and its case
// variants (a rare few, found once in the symbol table).
struct Spellings {
  u32 canonical;
  std::vector<u32> variants;
  bool has(u32 sym) const {
    if (sym == canonical) return true;
    for (u32 v : variants)
      if (v == sym) return true;
    return false;
  }
};

Spellings spellings_of(u32 canonical) {
  Spellings s{canonical, {}};
  const u32 n = symbol::count();
  const Cell* names = symbol::get(1);
  for (u32 id = 1; id <= n; id++)
    if (names[id - 1].symbol_alias() == i32(canonical)) s.variants.push_back(id);
  return s;
}

// Marks the block, deep, as library code and binds every word of the
// symbol (any case) in it to the context's first word: one symbol, so a
// plain walk serves, and one walk of the image does both. A block marked
// already was walked. Nothing here allocates: the buffers stay put.
void mark_and_bind(const Cell* block, const Spellings& name, mem::Node ctx) {
  mem::Series* s = mem::series_of(block->series_node());
  if (s->flags & mem::kLibrary) return;
  s->flags |= mem::kLibrary;
  for (Cell *c = s->cells(), *end = c + s->length(); c < end; c++) {
    const u32 t = c->type();
    if (is_any_word(t)) {
      if (name.has(c->word_symbol())) c->set_word_binding(ctx, 0);
    } else if (is_any_block(t)) {
      Cell inner = *c;
      mark_and_bind(&inner, name, ctx);
    }
  }
}

void put(Cell* obj, const char* field, const Cell* value) {
  Cell w;
  set_word(&w, T_WORD, symbol::make(field));
  context::put_value(obj->object_context(), &w, value);
}

}  // namespace

void register_entries() {
  for (const Entry& e : kEntries) routines::register_entry(entry_name(e.field).c_str(), e.fn);
}

void bind(Cell* image, const Cell* build) {
  Rooted obj;
  object::make_at(&obj.cell, 16);
  for (const Entry& e : kEntries) {
    Rooted spec;
    std::string text = e.spec;
    g_services.scan_utf8(&spec.cell, reinterpret_cast<const u8*>(text.data()), u32(text.size()), true);
    Cell* top = stack::g_top;
    routines::push(&spec.cell, nullptr, entry_name(e.field).c_str());
    Rooted r(*top);
    stack::g_top = top;
    put(&obj.cell, e.field, &r.cell);
  }
  put(&obj.cell, "build", build);
  Cell null_handle;
  handle::make_at(&null_handle, 0, handle::kNull);
  put(&obj.cell, "null-handle", &null_handle);
  // A context of its own holds the one word `start-up`.
  Rooted private_ctx;
  make_cell(&private_ctx.cell, T_OBJECT, context::create(1, false, false, nullptr, context::kObject), 0, 0);
  put(&private_ctx.cell, "start-up", &obj.cell);
  mark_and_bind(image, spellings_of(symbol::resolve(symbol::make("start-up"))), private_ctx.cell.object_context());
}

}  // namespace zot::start_up
