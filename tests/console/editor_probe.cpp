// A test-only program for the line editor: after the library, makes the
// console's routines into words, then runs a Zot session script (the first
// argument) that reads lines through them and prints what it got. The pty
// test drives it.
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "boot/boot_image.h"
#include "boot/library.h"
#include "boot/startup.h"
#include "datatypes/context.h"
#include "datatypes/string.h"
#include "interpreter/eval.h"
#include "interpreter/lexer.h"
#include "interpreter/routines.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/output.h"
#include "runtime/rooted.h"
#include "runtime/stack.h"
#include "runtime/throw.h"

namespace {

using namespace zot;

std::string g_script;

// "raw" while the terminal on standard input has line input off, else
// "cooked" (also when it is no terminal).
void tty_mode_routine() {
  struct termios t;
  bool raw = tcgetattr(0, &t) == 0 && !(t.c_lflag & ICANON);
  const char* text = raw ? "raw" : "cooked";
  string::make_from_utf8(stack::g_base, text, std::strlen(text));
}

// Ends the process the way a crash does.
void crash_routine() {
  static volatile std::uintptr_t bad = 16;
  volatile int* p = reinterpret_cast<volatile int*>(bad);
  *p = 1;
}

Cell scan(const std::string& text) {
  Cell code;
  lexer::scan(&code, reinterpret_cast<const u8*>(text.data()), u32(text.size()), lexer::Options{});
  return code;
}

void define_routine(const char* word, const char* spec, const char* entry) {
  Rooted s(scan(spec));
  Cell* top = stack::g_top;
  routines::push(&s.cell, nullptr, entry);
  Rooted r(*top);
  stack::g_top = top;
  Cell w = word::load(word);
  context::set(&w, &r.cell);
}

void body(void*) {
  std::printf("pid: %d\n", int(getpid()));
  std::fflush(stdout);
  startup::boot_library(boot_image::kImage, boot_image::kImageSize);
  routines::register_entry("tty-mode", tty_mode_routine);
  routines::register_entry("probe-crash", crash_routine);
  // The specs the library gives these routines.
  define_routine("_set-buffer-history", "line [string!] hist [block!]", "_set-buffer-history");
  define_routine("_read-input", "prompt [string!] hidden? [logic!]", "_read-input");
  define_routine("_terminate-console", "", "_terminate-console");
  define_routine("input-stdin", "", "input-stdin");
  define_routine("read-stdin", "buffer [binary!] buflen [integer!]", "read-stdin");
  define_routine("console-init", "str [string!]", "console-init");
  define_routine("tty-mode", "", "tty-mode");
  define_routine("probe-crash", "", "probe-crash");
  int status = 0;
  stack::push_try_frame(nullptr);
  try {
    Rooted code(scan(g_script));
    interp::do_block(&code.cell);
  } catch (const RuntimeThrow& t) {
    if (t.code != kThrowError) throw;
    std::printf("*** session error\n");
    status = 1;
  }
  output::flush();
  runtime::exit_process(status);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: zot_editor_probe SESSION.zot\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 2;
  }
  std::ostringstream ss;
  ss << in.rdbuf();
  g_script = ss.str();
  zot::startup::run(argc, argv, body, nullptr);
}
