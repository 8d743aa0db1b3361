#include "boot/startup.h"

#include <cstdio>
#include <string>

#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/hooks.h"
#include "datatypes/object.h"
#include "datatypes/ownership.h"
#include "datatypes/string.h"
#include "datatypes/register.h"
#include "datatypes/registry.h"
#include "interpreter/eval.h"
#include "interpreter/lexer.h"
#include "interpreter/natives.h"
#include "interpreter/stack.h"
#include "platform/platform.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/root.h"
#include "runtime/symbol.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"
#include "runtime/words.h"

namespace zot::startup {

namespace {

struct Entry {
  void (*body)(void*);
  void* arg;
};

void interpreter_thread(void* p) {
  auto* e = static_cast<Entry*>(p);
  runtime::run_top_level(
      [](void* q) {
        auto* e = static_cast<Entry*>(q);
        runtime_init();
        e->body(e->arg);
      },
      e);
  runtime::quit(0, 0);
}

void flush_std() { std::fflush(nullptr); }

Cell name_word(const char* name) { return word::load(name); }

// The name of a symbol as a string! (made once, then kept in the symbol cell).
mem::Node symbol_name(const Cell* sym) {
  if (sym->w2) return sym->w2;
  mem::Series* table = mem::series_of(symbol::g_block);
  u32 id;
  if (sym >= table->cells() && sym < table->cells_tail()) {
    id = u32(sym - table->cells()) + 1;
  } else {
    // A copy of a symbol cell: find its id by its name.
    mem::Series* name = mem::series_of(sym->w3);
    std::string text(reinterpret_cast<const char*>(name->head_ptr()), name->length());
    id = symbol::make_from_bytes(reinterpret_cast<const u8*>(text.data()), u32(text.size()));
  }
  std::size_t len = 0;
  mem::Node n = unicode::utf8_to_new_string(reinterpret_cast<const u8*>(symbol::name_text(id)),
                                            symbol::name_length(id), &len, false);
  symbol::get(id)->w2 = n;
  return n;
}

// Text scanned into a block of values (to block! of a string, scalars made from text).
void scan_text(const Cell* text, Cell* out) {
  Cell t = *text;
  std::string utf8 = string::to_utf8(&t);
  lexer::scan(out, reinterpret_cast<const u8*>(utf8.data()), u32(utf8.size()), lexer::Options{});
}

void install_services() {
  hooks::g_services.scan = scan_text;
  hooks::g_services.canonical = symbol::resolve;
  hooks::g_services.word = word::load;
  hooks::g_services.owned_symbol = words::sym(w::owned);
  string::set_symbol_name_fn(symbol_name);
}

}  // namespace

void runtime_init() {
  static bool done = false;
  if (done) return;
  done = true;
  runtime::add_flush_hook(flush_std);
  output::init();
  mem::init();
  datatypes::register_core();
  root::init();
  stack::init();
  case_::init();
  symbol::init();
  context::init_global(4000);
  datatype::make_name_words(name_word);
  // Each datatype's name word holds its datatype! value.
  for (u32 t = 1; t <= datatype::g_highest_id; t++) {
    if (!datatype::g_types[t].name) continue;
    Cell dt;
    make_cell(&dt, T_DATATYPE, t, 0, 0);
    context::set(&datatype::g_types[t].name_word, &dt);
  }
  words::init();
  lexer::init();
  lexer::install_loaders();
  ownership::init();
  install_services();
  natives::init();
  object::init();
  error::init();
  interp::init();
  ownership::init_slot_pool();
  stack::set_special_symbols(words::sym(w::tag_body), words::sym(w::tag_anon), words::sym(w::tag_not_found));
}

void run(int argc, char** argv, void (*body)(void* arg), void* arg) {
  runtime::init_os(argc, argv);
  Entry e{body, arg};
  if (!platform::run_on_big_stack(interpreter_thread, &e, kInterpreterStack)) {
    // No thread: run on the main stack rather than not at all.
    interpreter_thread(&e);
  }
  runtime::quit(0, 0);
}

}  // namespace zot::startup
