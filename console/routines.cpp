#include "console/routines.h"

#include "console/line_editor.h"
#include "console/stdin_input.h"
#include "datatypes/string.h"
#include "interpreter/routines.h"
#include "runtime/errors.h"
#include "runtime/rooted.h"
#include "runtime/stack.h"

namespace zot::console {

namespace {

Cell* arg(int i) { return stack::g_base + i; }

// The routines' specs check their arguments' types; C++ callers are held to
// the same.
const Cell* checked(int i, TypeId type) {
  Cell* a = arg(i);
  if (!a->is(type)) raise_error(Err::ScriptInvalidArg, a);
  return a;
}

void set_buffer_history_routine() {
  Cell line = *checked(0, T_STRING), history = *checked(1, T_BLOCK);
  set_buffer_history(&line, &history);
  set_unset(stack::g_base);
}

void read_input_routine() {
  Cell prompt = *checked(0, T_STRING);
  bool hidden = checked(1, T_LOGIC)->logic_value();
  bool entered = read_line(&prompt, hidden);
  set_logic(stack::g_base, entered);
}

void terminate_console_routine() {
  terminate_console();
  set_unset(stack::g_base);
}

void input_stdin_routine() {
  Rooted line;
  string::make_at(&line.cell, 256);
  read_stdin_line(&line.cell);
  *stack::g_base = line.cell;
}

void read_stdin_routine() {
  Cell buffer = *checked(0, T_BINARY);
  i32 max = checked(1, T_INTEGER)->int_value();
  i32 n = read_stdin_bytes(&buffer, max);
  set_integer(stack::g_base, n < 0 ? 0 : n);
}

void console_init_routine() {
  Cell title = *checked(0, T_STRING);
  init_console(&title);
  set_unset(stack::g_base);
}

struct Registrar {
  Registrar() { register_routines(); }
};
Registrar g_registrar;

}  // namespace

void register_routines() {
  routines::register_entry("_set-buffer-history", set_buffer_history_routine);
  routines::register_entry("_read-input", read_input_routine);
  routines::register_entry("_terminate-console", terminate_console_routine);
  routines::register_entry("input-stdin", input_stdin_routine);
  routines::register_entry("read-stdin", read_stdin_routine);
  routines::register_entry("console-init", console_init_routine);
}

}  // namespace zot::console

// Named on the link line so that the linker keeps this file (and its
// registrar) in every program built on the core library.
extern "C" void zot_console_routines_anchor() {}
