// The operating-system layer: the only code that includes OS headers.
#pragma once

#include <atomic>
#include <string>

#include "runtime/base.h"

namespace zot::platform {

// ---- memory
// How the pages of new memory come: at first touch (lazy); all at once, for
// memory about to be filled from its start (one call rather than a page
// fault at each first touch); or, for a large buffer filled over time, in
// huge pages where the OS offers them (one fault per 2 MiB), the memory
// then aligned to 2 MiB.
enum class Pages { lazy, now, huge };
// Committed read-write memory, or null when the OS refuses.
void* valloc(std::size_t bytes, Pages pages = Pages::lazy);
// The memory of valloc(old_bytes, Pages::huge) at p resized to new_bytes, its
// contents kept (as far as both sizes reach) without a copy: the OS moves its
// pages to a new place, which is returned (p is then no longer mapped). Null
// when the OS refuses: p is then as it was.
void* vresize(void* p, std::size_t old_bytes, std::size_t new_bytes);
// False when the OS refuses.
bool vfree(void* p, std::size_t bytes);
// Address space alone (no memory behind it, no access), or null when refused.
void* vreserve(std::size_t bytes);
// Read-write memory with its pages present, at p (page-aligned) inside a
// reservation; false when the OS refuses.
bool vcommit(void* p, std::size_t bytes);
// The memory at p goes back to the OS; the address space stays reserved.
bool vdecommit(void* p, std::size_t bytes);
constexpr std::size_t kPageSize = 4096;
constexpr std::size_t kHugePageSize = std::size_t(2) << 20;

// ---- process
// Writes all of buf to the descriptor (retrying short writes); async-signal-safe.
bool write_all(int fd, const char* buf, std::size_t n);
// Ends the process at once with status (reported modulo 256).
ZOT_NORETURN void exit_now(int status);
bool is_terminal(int fd);

using FatalSignalFn = void (*)(int status, std::uintptr_t address);
// SIGSEGV, SIGFPE, SIGILL and SIGBUS become fatal error numbers through their
// si_code and are handed to fn on an alternate signal stack; SIGINT ends the
// process quietly with status 0 after calling interrupt (unless caught,
// below); SIGTERM, SIGHUP and SIGQUIT call interrupt and then end the process
// by the signal.
void install_fatal_signals(FatalSignalFn fn, void (*interrupt)());
// While catching is on (the console on a terminal), SIGINT does not end the
// process: it raises the interrupt flag, which the evaluator takes as a halt.
// A second SIGINT before the flag is taken (the program is stuck where no
// Zot code runs) ends the process as before.
void catch_interrupts(bool on);
extern std::atomic<int> g_interrupt_requested;
ZOT_INLINE bool interrupt_requested() { return g_interrupt_requested.load(std::memory_order_relaxed) != 0; }
ZOT_INLINE void clear_interrupt() { g_interrupt_requested.store(0, std::memory_order_relaxed); }
// The fatal number a signal and its si_code map to (exposed for tests).
int fatal_number_for_signal(int signo, int si_code, bool stack_overflow);

// Runs fn(arg) on a new thread with a stack of the given size and waits for it.
// Returns false when the thread could not be made.
bool run_on_big_stack(void (*fn)(void*), void* arg, std::size_t stack_bytes);
// Bounds of the current thread's stack, as recorded by run_on_big_stack (or the
// main thread's estimate). Used by depth checks.
std::uintptr_t stack_limit();

// ---- environment and directories
bool current_dir(std::string* out);
bool set_current_dir(const char* path);
bool get_env(const char* name, std::string* out);
// A null value removes the variable.
bool set_env(const char* name, const char* value);

// ---- time
// Sleeps seconds, at least one millisecond.
void sleep(double seconds);
// Seconds since midnight UTC; with precise, the fraction of the second too.
double time_of_day(bool precise);
// year << 17 | month << 12 | day << 7 | zone (utc: zone 0).
u32 date_word(bool utc);
// Seconds since 1970-01-01 UTC (whole seconds unless precise), and the local
// zone's offset from UTC in minutes at that moment.
double epoch_now(bool precise, int* zone_minutes);
// The 7-bit zone field of an offset in minutes: bit 6 negative, bits 2-5 whole
// hours, bits 0-1 quarter hours.
u32 encode_zone(int offset_minutes);

}  // namespace zot::platform
