// Linux implementation of the OS layer.
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/platform.h"

namespace zot::platform {

namespace {

// A mapping aligned to a huge page: mapped a huge page longer, then trimmed.
void* valloc_huge(std::size_t bytes) {
  void* p = mmap(nullptr, bytes + kHugePageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t aligned = (start + kHugePageSize - 1) & ~(kHugePageSize - 1);
  if (aligned > start) munmap(p, aligned - start);
  const std::uintptr_t end = start + bytes + kHugePageSize;
  if (end > aligned + bytes) munmap(reinterpret_cast<void*>(aligned + bytes), end - (aligned + bytes));
  // Advice only: without huge pages the memory works the same.
  madvise(reinterpret_cast<void*>(aligned), bytes, MADV_HUGEPAGE);
  return reinterpret_cast<void*>(aligned);
}

}  // namespace

void* valloc(std::size_t bytes, Pages pages) {
  if (pages == Pages::huge && bytes >= kHugePageSize) return valloc_huge(bytes);
  const int flags = MAP_PRIVATE | MAP_ANONYMOUS | (pages == Pages::now ? MAP_POPULATE : 0);
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, flags, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

void* vresize(void* p, std::size_t old_bytes, std::size_t new_bytes) {
  // Always to a new aligned place: huge pages stay whole, and a pointer kept
  // into the old place faults instead of reading on.
  void* to = valloc(new_bytes, Pages::huge);
  if (!to) return nullptr;
  void* q = mremap(p, old_bytes, new_bytes, MREMAP_MAYMOVE | MREMAP_FIXED, to);
  if (q == MAP_FAILED) {
    munmap(to, new_bytes);
    return nullptr;
  }
  madvise(q, new_bytes, MADV_HUGEPAGE);
  return q;
}

bool vfree(void* p, std::size_t bytes) { return munmap(p, bytes) == 0; }

void* vreserve(std::size_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

bool vcommit(void* p, std::size_t bytes) {
  return mmap(p, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED | MAP_POPULATE, -1, 0) == p;
}

bool vdecommit(void* p, std::size_t bytes) {
  return mmap(p, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED | MAP_NORESERVE, -1, 0) == p;
}

bool write_all(int fd, const char* buf, std::size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, buf, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    buf += w;
    n -= std::size_t(w);
  }
  return true;
}

void exit_now(int status) { _exit(status & 0xFF); }

bool is_terminal(int fd) { return isatty(fd) == 1; }

std::atomic<int> g_interrupt_requested{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler writes it");

namespace {
std::atomic<bool> g_catch_interrupts{false};
}  // namespace

void catch_interrupts(bool on) { g_catch_interrupts.store(on, std::memory_order_relaxed); }

namespace {

FatalSignalFn g_fatal_fn = nullptr;
void (*g_interrupt_fn)() = nullptr;
std::uintptr_t g_stack_low = 0;   // lowest usable address of the interpreter stack
std::uintptr_t g_stack_high = 0;

bool near_stack_guard(std::uintptr_t addr) {
  if (!g_stack_low) return false;
  return addr + 65536 >= g_stack_low && addr < g_stack_low + 65536;
}

void on_fatal_signal(int signo, siginfo_t* info, void* ctx) {
  (void)ctx;
  std::uintptr_t addr = reinterpret_cast<std::uintptr_t>(info ? info->si_addr : nullptr);
  bool overflow = signo == SIGSEGV && near_stack_guard(addr);
  int status = fatal_number_for_signal(signo, info ? info->si_code : 0, overflow);
  if (g_fatal_fn) g_fatal_fn(status, addr);
  _exit(status & 0xFF);
}

void on_interrupt(int) {
  if (g_catch_interrupts.load(std::memory_order_relaxed) && !interrupt_requested()) {
    g_interrupt_requested.store(1, std::memory_order_relaxed);
    return;
  }
  if (g_interrupt_fn) g_interrupt_fn();
  _exit(0);
}

// A request to end from outside: the exit hooks run (the terminal comes
// back), then the signal ends the process as it would have.
void on_termination(int signo) {
  if (g_interrupt_fn) g_interrupt_fn();
  signal(signo, SIG_DFL);
  raise(signo);
}

}  // namespace

int fatal_number_for_signal(int signo, int code, bool stack_overflow) {
  switch (signo) {
    case SIGSEGV:
      return stack_overflow ? 19 : 1;
    case SIGBUS:
      switch (code) {
        case BUS_ADRALN: return 2;
        case BUS_ADRERR: return 27;
        case BUS_OBJERR: return 28;
#ifdef BUS_MCEERR_AR
        case BUS_MCEERR_AR: return 29;
        case BUS_MCEERR_AO: return 30;
#endif
        default: return 34;
      }
    case SIGFPE:
      switch (code) {
        case FPE_INTDIV: return 13;
        case FPE_INTOVF: return 14;
        case FPE_FLTDIV: return 7;
        case FPE_FLTOVF: return 10;
        case FPE_FLTUND: return 12;
        case FPE_FLTRES: return 8;
        case FPE_FLTINV: return 9;
        case FPE_FLTSUB: return 5;
        default: return 33;
      }
    case SIGILL:
      switch (code) {
        case ILL_ILLOPC: return 17;
        case ILL_ILLOPN: return 23;
        case ILL_ILLADR: return 24;
        case ILL_ILLTRP: return 25;
        case ILL_PRVOPC: return 15;
        case ILL_PRVREG: return 31;
        case ILL_COPROC: return 26;
        case ILL_BADSTK: return 19;
        default: return 17;
      }
    default:
      return 99;
  }
}

void install_fatal_signals(FatalSignalFn fn, void (*interrupt)()) {
  g_fatal_fn = fn;
  g_interrupt_fn = interrupt;
  static char* alt_stack = nullptr;
  if (!alt_stack) {
    std::size_t size = 64 * 1024;
    alt_stack = static_cast<char*>(std::malloc(size));
    stack_t ss{};
    ss.ss_sp = alt_stack;
    ss.ss_size = size;
    sigaltstack(&ss, nullptr);
  }
  struct sigaction sa{};
  sa.sa_sigaction = on_fatal_signal;
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&sa.sa_mask);
  for (int s : {SIGSEGV, SIGFPE, SIGILL, SIGBUS}) sigaction(s, &sa, nullptr);
  struct sigaction si{};
  si.sa_handler = on_interrupt;
  si.sa_flags = SA_RESTART;  // a caught interrupt leaves reads and writes going
  sigemptyset(&si.sa_mask);
  sigaction(SIGINT, &si, nullptr);
  struct sigaction st{};
  st.sa_handler = on_termination;
  sigemptyset(&st.sa_mask);
  for (int s : {SIGTERM, SIGHUP, SIGQUIT}) sigaction(s, &st, nullptr);
}

namespace {

struct ThreadStart {
  void (*fn)(void*);
  void* arg;
  std::size_t bytes;
};

void* thread_main(void* p) {
  auto* ts = static_cast<ThreadStart*>(p);
  // Each thread needs its own alternate signal stack for fatal signals,
  // unless one is there already (a sanitizer's, which it frees itself when
  // the thread ends).
  stack_t ss{};
  stack_t current{};
  sigaltstack(nullptr, &current);
  if (current.ss_flags & SS_DISABLE) {
    ss.ss_size = 64 * 1024;
    ss.ss_sp = std::malloc(ss.ss_size);
    sigaltstack(&ss, nullptr);
  }
  pthread_attr_t attr;
  void* addr = nullptr;
  std::size_t size = 0;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    pthread_attr_getstack(&attr, &addr, &size);
    pthread_attr_destroy(&attr);
    g_stack_low = reinterpret_cast<std::uintptr_t>(addr);
    g_stack_high = g_stack_low + size;
  }
  ts->fn(ts->arg);
  if (ss.ss_sp) {
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    sigaltstack(&off, nullptr);
    std::free(ss.ss_sp);
  }
  return nullptr;
}

}  // namespace

bool run_on_big_stack(void (*fn)(void*), void* arg, std::size_t stack_bytes) {
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  pthread_attr_setstacksize(&attr, stack_bytes);
  ThreadStart ts{fn, arg, stack_bytes};
  pthread_t th;
  int rc = pthread_create(&th, &attr, thread_main, &ts);
  pthread_attr_destroy(&attr);
  if (rc != 0) return false;
  // A window resize must wake the interpreter's wait for a key, and Ctrl+C
  // its sleeps, so they go to that thread: this one only waits for it to end.
  sigset_t to_interpreter;
  sigemptyset(&to_interpreter);
  sigaddset(&to_interpreter, SIGWINCH);
  sigaddset(&to_interpreter, SIGINT);
  pthread_sigmask(SIG_BLOCK, &to_interpreter, nullptr);
  pthread_join(th, nullptr);
  return true;
}

std::uintptr_t stack_limit() { return g_stack_low; }

bool current_dir(std::string* out) {
  char buf[4096];
  if (!getcwd(buf, sizeof buf)) return false;
  out->assign(buf);
  return true;
}

bool set_current_dir(const char* path) { return chdir(path) == 0; }

bool get_env(const char* name, std::string* out) {
  const char* v = std::getenv(name);
  if (!v) return false;
  out->assign(v);
  return true;
}

bool set_env(const char* name, const char* value) {
  if (!*name || std::strchr(name, '=')) return false;
  return value ? setenv(name, value, 1) == 0 : unsetenv(name) == 0;
}

void sleep(double seconds) {
  double ms = seconds * 1000.0;
  if (!(ms >= 1.0)) ms = 1.0;  // also catches NaN
  if (ms > 1e12) ms = 1e12;
  // Slept in slices of at most a tenth of a second, so that a Ctrl+C that
  // the console catches ends the wait even when it came just before it.
  constexpr double kSliceMs = 100.0;
  while (ms > 0 && !interrupt_requested()) {
    double slice = ms < kSliceMs ? ms : kSliceMs;
    struct timespec ts;
    ts.tv_sec = time_t(slice / 1000.0);
    ts.tv_nsec = long((slice - double(ts.tv_sec) * 1000.0) * 1e6);
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR && !interrupt_requested()) {
    }
    ms -= slice;
  }
}

double time_of_day(bool precise) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  double secs = double(ts.tv_sec % 86400);
  if (precise) secs += double(ts.tv_nsec) / 1e9;
  return secs;
}

u32 encode_zone(int offset) {
  // Sign and magnitude are kept apart, so offsets between -1 h and 0 keep their sign.
  u32 neg = offset < 0 ? 1 : 0;
  int mag = offset < 0 ? -offset : offset;
  u32 h = u32(mag / 60) & 15;
  u32 q = u32((mag % 60) / 15);
  return (neg << 6) | (h << 2) | q;
}

double epoch_now(bool precise, int* zone_minutes) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm;
  localtime_r(&ts.tv_sec, &tm);
  *zone_minutes = int(tm.tm_gmtoff / 60);
  return double(ts.tv_sec) + (precise ? double(ts.tv_nsec) / 1e9 : 0.0);
}

u32 date_word(bool utc) {
  time_t now = time(nullptr);
  struct tm tm;
  int offset = 0;
  if (utc) {
    gmtime_r(&now, &tm);
  } else {
    localtime_r(&now, &tm);
    offset = int(tm.tm_gmtoff / 60);
  }
  u32 year = u32(tm.tm_year + 1900), month = u32(tm.tm_mon + 1), day = u32(tm.tm_mday);
  return (year << 17) | (month << 12) | (day << 7) | encode_zone(offset);
}

}  // namespace zot::platform
