#include "boot/startup.h"

#include <cstdio>

#include "interpreter/stack.h"
#include "platform/platform.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/unicode.h"
#include "runtime/throw.h"

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

}  // namespace

void runtime_init() {
  runtime::add_flush_hook(flush_std);
  output::init();
  mem::init();
  stack::init();
  case_::init();
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
