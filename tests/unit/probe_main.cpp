// Ends in the ways the fatal-error tests check: each case is one argument.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>

#include "boot/startup.h"
#include "boot/zotbin.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/stack.h"
#include "runtime/throw.h"

namespace {

int g_argc;
char** g_argv;

int recurse(int n) {
  volatile char pad[4096];
  pad[0] = char(n);
  if (n < 0) return 0;  // never: the machine stack runs out first
  return recurse(n + 1) + pad[0];
}

void body(void*) {
  using namespace zot;
  const char* what = g_argc > 1 ? g_argv[1] : "";
  if (!std::strcmp(what, "quit")) {
    runtime::quit(std::atoi(g_argv[2]), 0x1234ABCD);
  } else if (!std::strcmp(what, "segv")) {
    // Not null: the sanitizer build would report a null store before the fault.
    static volatile std::uintptr_t bad = 16;
    volatile int* p = reinterpret_cast<volatile int*>(bad);
    *p = 1;
  } else if (!std::strcmp(what, "fpe")) {
    int zero = 0, x = 1;
    // An explicit idiv: the compiler may not fold a division it can see is undefined.
    asm volatile("cltd; idivl %1" : "+a"(x) : "r"(zero) : "edx", "cc");
    std::printf("%d", x);
  } else if (!std::strcmp(what, "ill")) {
    __builtin_trap();
  } else if (!std::strcmp(what, "interrupt")) {
    raise(SIGINT);
  } else if (!std::strcmp(what, "recurse")) {
    std::printf("%d", recurse(0));
  } else if (!std::strcmp(what, "throw")) {
    runtime::throw_code(kThrowBreak);
  } else if (!std::strcmp(what, "quit-request")) {
    runtime::throw_code(kThrowQuit);
  } else if (!std::strcmp(what, "error")) {
    raise_error(Err::ScriptNoValue);
  } else if (!std::strcmp(what, "cmdline")) {
    std::printf("%s\n", runtime::command_line());
  } else if (!std::strcmp(what, "zotbin-magic")) {
    static const zot::u8 image[] = {'Z', 'O', 'T', 'B', 'I', 'X', 1, 5, 0, 0, 0};
    zot::zotbin::boot_decode(image, sizeof image);
  } else if (!std::strcmp(what, "zotbin-corrupt")) {
    static const zot::u8 image[] = {'Z', 'O', 'T', 'B', 'I', 'N', 1, 3, 4, 0, 0, 0, 0, 1, 0, 0};
    zot::zotbin::boot_decode(image, sizeof image);
  } else if (!std::strcmp(what, "bad-type")) {
    // A cell with a type id past the action table: dispatch ends the process.
    Cell broken;
    make_cell(&broken, u8(219), 0, 0, 0);
    actions::lookup<actions::kClear>(broken.type())(&broken);
  } else if (!std::strcmp(what, "ok")) {
    std::printf("fine\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  g_argc = argc;
  g_argv = argv;
  zot::startup::run(argc, argv, body, nullptr);
}
