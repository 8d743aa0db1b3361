#include "boot/startup.h"

#include <cstdio>
#include <string>

#include "boot/services.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/object.h"
#include "datatypes/ownership.h"
#include "datatypes/register.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/words.h"
#include "interpreter/codec_routines.h"
#include "interpreter/json_codec.h"
#include "interpreter/eval.h"
#include "interpreter/lexer.h"
#include "interpreter/natives.h"
#include "platform/platform.h"
#include "runtime/collector.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/root.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

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
        // The runtime is built: from now on a full frame collects.
        collector::g_enabled = true;
        e->body(e->arg);
      },
      e);
  runtime::quit(0, 0);
}

void flush_std() { std::fflush(nullptr); }

}  // namespace

void runtime_init() {
  static bool done = false;
  if (done) return;
  done = true;
  runtime::add_flush_hook(flush_std);
  output::init();
  mem::init();
  collector::init();
  install_services();
  datatypes::register_core();
  root::init();
  stack::init();
  symbol::init();
  context::init_global(4000);
  datatype::make_name_words();
  datatype::name_every_type();
  // Each datatype's name word holds its datatype! value.
  for (u32 t = 1; t <= datatype::g_highest_id; t++) {
    Cell dt;
    make_cell(&dt, T_DATATYPE, t, 0, 0);
    context::set(&datatype::g_types[t].name_word, &dt);
  }
  words::init();
  lexer::init();
  lexer::install_loaders();
  ownership::init();
  natives::init();
  routines::register_codecs();
  routines::register_json();
  error::init();
  install_error_services();
  prepare_no_memory_error();
  interp::init();
  ownership::init_slot_pool();
  stack::set_special_symbols(words::sym(w::tag_body), words::sym(w::tag_anon), words::sym(w::tag_not_found));
}

void run(int argc, char** argv, void (*body)(void* arg), void* arg) {
  runtime::init_os(argc, argv);
  Entry e{body, arg};
  // A system that refuses so much address space gets a smaller stack (and
  // shallower recursion) rather than none.
  std::size_t bytes = kInterpreterStack;
  while (!platform::run_on_big_stack(interpreter_thread, &e, bytes)) {
    if (bytes <= (16u << 20)) {
      // No thread: run on the main stack rather than not at all.
      interpreter_thread(&e);
      break;
    }
    bytes /= 2;
  }
  runtime::quit(0, 0);
}

}  // namespace zot::startup
