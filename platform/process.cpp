// Child processes through posix_spawn, with their pipes polled together.
#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

extern char** environ;

namespace zot::platform {

namespace {

// Children started without waiting: the SIGCHLD handler reaps those it finds
// here, and nothing else (children that a call waits for are waited by pid).
constexpr int kDetachedSlots = 256;
std::atomic<pid_t> g_detached[kDetachedSlots];
std::vector<pid_t> g_overflow;  // more than the slots hold: reaped at the next call

void reap_slots() {
  for (auto& slot : g_detached) {
    pid_t pid = slot.load();
    if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == pid) slot.compare_exchange_strong(pid, 0);
  }
}

void on_child_ended(int) {
  int saved = errno;
  reap_slots();
  errno = saved;
}

void detach(pid_t pid) {
  static bool installed = false;
  if (!installed) {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_child_ended;
    sa.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGCHLD, &sa, nullptr);
    installed = true;
  }
  bool placed = false;
  for (auto& slot : g_detached) {
    pid_t empty = 0;
    if (slot.compare_exchange_strong(empty, pid)) {
      placed = true;
      break;
    }
  }
  if (!placed) g_overflow.push_back(pid);
  // The child may have ended before it was placed: its signal found nothing.
  reap_slots();
}

void reap_overflow() {
  std::erase_if(g_overflow, [](pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == pid; });
}

struct Fd {
  int fd = -1;
  Fd() = default;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }
  void reset(int v = -1) {
    if (fd >= 0) close(fd);
    fd = v;
  }
};

bool make_pipe(Fd* read_end, Fd* write_end) {
  int p[2];
  if (pipe2(p, O_CLOEXEC) != 0) return false;
  read_end->reset(p[0]);
  write_end->reset(p[1]);
  return true;
}

// Sets up one standard stream of the child. parent receives this process's
// end of a pipe; child the descriptor that becomes the stream (closed here
// after the spawn).
bool plan_stream(posix_spawn_file_actions_t* fa, int target, Stream how, const std::string& path, Fd* parent,
                 Fd* child) {
  const bool input = target == 0;
  switch (how) {
    case Stream::kInherit:
      return true;
    case Stream::kNull:
      return posix_spawn_file_actions_addopen(fa, target, "/dev/null", input ? O_RDONLY : O_WRONLY, 0) == 0;
    case Stream::kFile: {
      int fd = input ? open(path.c_str(), O_RDONLY | O_CLOEXEC)
                     : open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
      if (fd < 0) return false;
      child->reset(fd);
      break;
    }
    case Stream::kPipe:
      if (!(input ? make_pipe(child, parent) : make_pipe(parent, child))) return false;
      if (fcntl(parent->fd, F_SETFL, O_NONBLOCK) != 0) return false;
      break;
  }
  return posix_spawn_file_actions_adddup2(fa, child->fd, target) == 0;
}

// Feeds the input and drains output and error at once until all are done.
void pump(Fd* in, const std::string& data, Fd* out, Fd* err, ChildResult* r) {
  // A child that stops reading gives EPIPE here instead of a signal.
  sigset_t pipe_signal, saved;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_signal, &saved);
  std::size_t sent = 0;
  if (in->fd >= 0 && data.empty()) in->reset();
  char buf[65536];
  while (in->fd >= 0 || out->fd >= 0 || err->fd >= 0) {
    pollfd fds[3];
    int n = 0;
    if (in->fd >= 0) fds[n++] = {in->fd, POLLOUT, 0};
    if (out->fd >= 0) fds[n++] = {out->fd, POLLIN, 0};
    if (err->fd >= 0) fds[n++] = {err->fd, POLLIN, 0};
    if (poll(fds, nfds_t(n), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < n; i++) {
      if (!fds[i].revents) continue;
      if (fds[i].fd == in->fd) {
        ssize_t w = write(in->fd, data.data() + sent, data.size() - sent);
        if (w > 0) sent += std::size_t(w);
        if ((w < 0 && errno != EAGAIN && errno != EINTR) || sent == data.size()) in->reset();
        continue;
      }
      Fd* src = fds[i].fd == out->fd ? out : err;
      std::string& into = src == out ? r->out : r->err;
      ssize_t got = read(src->fd, buf, sizeof buf);
      if (got > 0) into.append(buf, std::size_t(got));
      else if (got == 0 || (errno != EAGAIN && errno != EINTR)) src->reset();
    }
  }
  in->reset();
  out->reset();
  err->reset();
  // Take a SIGPIPE that the writes raised before the signal is let through.
  sigset_t pending;
  sigpending(&pending);
  if (sigismember(&pending, SIGPIPE)) {
    timespec zero = {0, 0};
    sigtimedwait(&pipe_signal, nullptr, &zero);
  }
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

}  // namespace

void run_child(const ChildSpec& spec, ChildResult* r) {
  r->status = -1;
  r->not_found = false;
  reap_overflow();
  if (spec.argv.empty()) {
    r->not_found = true;
    return;
  }
  posix_spawn_file_actions_t fa;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&fa);
  posix_spawnattr_init(&attr);
  // The child starts with no blocked signals and SIGPIPE as it should be.
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  Fd in_parent, in_child, out_parent, out_child, err_parent, err_child;
  bool ready = plan_stream(&fa, 0, spec.in, spec.in_path, &in_parent, &in_child) &&
               plan_stream(&fa, 1, spec.out, spec.out_path, &out_parent, &out_child) &&
               plan_stream(&fa, 2, spec.err, spec.err_path, &err_parent, &err_child);
  pid_t pid = -1;
  int rc = -1;
  if (ready) {
    std::vector<char*> argv;
    for (const auto& a : spec.argv) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    rc = posix_spawnp(&pid, argv[0], &fa, &attr, argv.data(), environ);
    if (rc != 0) r->not_found = rc == ENOENT;
  }
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);
  in_child.reset();
  out_child.reset();
  err_child.reset();
  if (rc != 0) return;
  if (!spec.wait) {
    detach(pid);
    r->status = int(pid);
    return;
  }
  pump(&in_parent, spec.in_data, &out_parent, &err_parent, r);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return;
  if (WIFEXITED(status)) r->status = WEXITSTATUS(status);
  else if (WIFSIGNALED(status)) r->status = 128 + WTERMSIG(status);
}

std::vector<std::pair<std::string, std::string>> environment() {
  std::vector<std::pair<std::string, std::string>> vars;
  for (char** e = environ; e && *e; e++) {
    // The first "=" after the first character ends the name.
    const char* entry = *e;
    const char* eq = entry[0] ? std::strchr(entry + 1, '=') : nullptr;
    if (!eq) vars.emplace_back(entry, "");
    else vars.emplace_back(std::string(entry, eq), std::string(eq + 1));
  }
  return vars;
}

OsInfo os_info() {
  struct utsname u;
  if (uname(&u) != 0) return {"Linux", "", ""};
  return {u.sysname, u.release, u.machine};
}

bool open_with_desktop(const std::string& target) {
  ChildSpec spec;
  spec.argv = {"xdg-open", target};
  spec.in = Stream::kNull;
  spec.wait = false;
  ChildResult r;
  run_child(spec, &r);
  return r.status > 0;
}

}  // namespace zot::platform
