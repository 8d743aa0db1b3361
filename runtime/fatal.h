// Fatal runtime errors: a numbered message and the end of the process.
#pragma once

#include <string>

#include "runtime/base.h"

namespace zot::runtime {

enum FatalCode : int {
  kFatalAccessViolation = 1,
  kFatalStackOverflow = 19,
  kFatalOutOfMemory = 94,
  kFatalNoCatch = 95,
  kFatalAssertion = 98,
  kFatalUnknown = 99,
  kFatalNoCase = 100,
  kFatalNoSwitch = 101,
};

// The message of a fatal error number, or "unknown error code!".
const char* fatal_message(int status);

// Ends the process. Status 0 exits silently; any other status prints
//   "\n*** Runtime Error N: message\n*** at: XXXXXXXXh\n"
// and exits with that status (reported modulo 256). Never returns.
ZOT_NORETURN void quit(int status, std::uintptr_t address);

// Ends the process with status (modulo 256) after flushing output and running
// the exit hooks, printing nothing.
ZOT_NORETURN void exit_process(int status);

// Formats the fatal report into buf (no allocation; usable from a signal
// handler). Returns the length written.
std::size_t format_fatal(char* buf, std::size_t size, int status, std::uintptr_t address);

// Routines run on every way out of the process (restoring the terminal, say).
// They must be async-signal-safe: a fatal signal runs them too.
using ExitHook = void (*)();
void add_exit_hook(ExitHook hook);
void run_exit_hooks();

// Output flushers run before a normal or fatal exit (not from signals).
void add_flush_hook(ExitHook hook);

// Sets up the process: fatal signal handlers on an alternate stack, the
// command line kept as UTF-8 arguments. Called first thing by the entry.
void init_os(int argc, char** argv);

// Arguments as given (UTF-8 bytes on Linux) and the rebuilt single command line.
int argc();
char** argv();
const char* command_line();
// The arguments from the first given on joined by spaces; one that is empty or
// holds a space, a tab or a double quote is put in double quotes.
std::string join_arguments(int first);

// The return address of the caller's caller, for reports.
#define ZOT_CALLER_ADDRESS() reinterpret_cast<std::uintptr_t>(__builtin_return_address(0))

}  // namespace zot::runtime
