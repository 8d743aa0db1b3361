#include "runtime/fatal.h"

#include <string>

#include "platform/platform.h"
#include "runtime/assert.h"
#include "runtime/heap.h"
#include "runtime/memory.h"

namespace zot::runtime {

namespace {

const char* const kMessages1to34[] = {
    "access violation",
    "invalid alignment",
    "breakpoint",
    "single step",
    "bounds exceeded",
    "float denormal operan",
    "float divide by zero",
    "float inexact result",
    "float invalid operation",
    "float overflow",
    "float stack check",
    "float underflow",
    "integer divide by zero",
    "integer overflow",
    "privileged instruction",
    "invalid virtual address",
    "illegal instruction",
    "non-continuable exception",
    "stack error or overflow",
    "invalid disposition",
    "guard page",
    "invalid handle",
    "illegal operand",
    "illegal addressing mode",
    "illegal trap",
    "coprocessor error",
    "non-existent physical address",
    "object specific hardware error",
    "hardware memory error consumed AR",
    "hardware memory error consumed AO",
    "privileged register",
    "segmentation fault",
    "FPU error",
    "Bus error",
};

constexpr int kMaxHooks = 16;
ExitHook g_exit_hooks[kMaxHooks];
int g_exit_hook_count = 0;
ExitHook g_flush_hooks[kMaxHooks];
int g_flush_hook_count = 0;

int g_argc = 0;
char* g_empty_argv[] = {nullptr};
char** g_argv = g_empty_argv;
std::string* g_command_line = nullptr;

void fatal_signal(int status, std::uintptr_t address) {
  // Only async-signal-safe work here: format, write, restore, exit.
  char buf[160];
  std::size_t n = format_fatal(buf, sizeof buf, status, address);
  run_exit_hooks();
  platform::write_all(1, buf, n);
  platform::exit_now(status);
}

// Appends s to buf at *pos, never past size.
void put(char* buf, std::size_t size, std::size_t* pos, const char* s) {
  while (*s && *pos < size) buf[(*pos)++] = *s++;
}

}  // namespace

const char* fatal_message(int status) {
  if (status >= 1 && status <= 34) return kMessages1to34[status - 1];
  switch (status) {
    case 94: return "out of memory";
    case 95: return "no CATCH for THROW";
    case 98: return "assertion failed";
    case 99: return "unknown error";
    case 100: return "no value matched in CASE";
    case 101: return "no value matched in SWITCH";
    default: return "unknown error code!";
  }
}

std::size_t format_fatal(char* buf, std::size_t size, int status, std::uintptr_t address) {
  std::size_t pos = 0;
  char num[16];
  int n = status < 0 ? -status : status;
  int k = 0;
  do {
    num[k++] = char('0' + n % 10);
    n /= 10;
  } while (n);
  if (status < 0) num[k++] = '-';
  char digits[16];
  for (int i = 0; i < k; i++) digits[i] = num[k - 1 - i];
  digits[k] = 0;

  char hex[10];
  u32 a = u32(address);
  for (int i = 7; i >= 0; i--) {
    hex[i] = "0123456789ABCDEF"[a & 15];
    a >>= 4;
  }
  hex[8] = 0;

  put(buf, size, &pos, "\n*** Runtime Error ");
  put(buf, size, &pos, digits);
  put(buf, size, &pos, ": ");
  put(buf, size, &pos, fatal_message(status));
  put(buf, size, &pos, "\n*** at: ");
  put(buf, size, &pos, hex);
  put(buf, size, &pos, "h\n");
  return pos;
}

void quit(int status, std::uintptr_t address) {
  for (int i = g_flush_hook_count - 1; i >= 0; i--) g_flush_hooks[i]();
  if (status != 0) {
    char buf[160];
    std::size_t n = format_fatal(buf, sizeof buf, status, address);
    platform::write_all(1, buf, n);
  }
  run_exit_hooks();
  free_all();
  platform::exit_now(status);
}

void assertion_failed(const char* check, const char* file, int line) {
  std::string s = std::string("\n*** check failed: ") + check + "\n*** in: " + file + ":" + std::to_string(line) + "\n";
  platform::write_all(2, s.data(), s.size());
#ifdef ZOT_GC_STRESS
  mem::print_stack_trace();
#endif
  quit(kFatalAssertion, ZOT_CALLER_ADDRESS());
}

void exit_process(int status) {
  for (int i = g_flush_hook_count - 1; i >= 0; i--) g_flush_hooks[i]();
  run_exit_hooks();
  free_all();
  platform::exit_now(status);
}

void add_exit_hook(ExitHook hook) {
  if (g_exit_hook_count < kMaxHooks) g_exit_hooks[g_exit_hook_count++] = hook;
}

void run_exit_hooks() {
  for (int i = g_exit_hook_count - 1; i >= 0; i--) g_exit_hooks[i]();
}

void add_flush_hook(ExitHook hook) {
  if (g_flush_hook_count < kMaxHooks) g_flush_hooks[g_flush_hook_count++] = hook;
}

void init_os(int argc, char** argv) {
  platform::install_fatal_signals(fatal_signal, run_exit_hooks);
  g_argc = argc;
  g_argv = argv ? argv : g_empty_argv;
  delete g_command_line;
  g_command_line = new std::string(join_arguments(0));
}

std::string join_arguments(int first) {
  std::string line;
  for (int i = first; i < g_argc; i++) {
    if (i > first) line.push_back(' ');
    const char* s = g_argv[i];
    bool quote = !*s || std::strpbrk(s, " \t\"") != nullptr;
    if (quote) line.push_back('"');
    line.append(s);
    if (quote) line.push_back('"');
  }
  return line;
}

int argc() { return g_argc; }
char** argv() { return g_argv; }
const char* command_line() { return g_command_line ? g_command_line->c_str() : ""; }

}  // namespace zot::runtime
