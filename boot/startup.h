// Process start-up: the runtime init in its fixed order, and the entry that
// runs the interpreter on a thread with a large stack.
#pragma once

#include "runtime/base.h"

namespace zot::startup {

// The interpreter's machine stack (address space: pages are used only as deep
// as the program goes). A call frame pushed near its end raises the
// stack-overflow error, so recursion deeper than it allows ends cleanly.
#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer cleans the stack on exceptions only for stacks up to 64 MiB.
constexpr std::size_t kInterpreterStack = 60u << 20;
#else
constexpr std::size_t kInterpreterStack = 512u << 20;
#endif

// Sets up every runtime module in order. Called once, on the interpreter thread.
void runtime_init();

// The program entry shared by `zot` and the test programs: sets up the
// process, runs body on the interpreter thread under the top-level frame, and
// ends the process with status 0 when body returns.
ZOT_NORETURN void run(int argc, char** argv, void (*body)(void* arg), void* arg);

}  // namespace zot::startup
