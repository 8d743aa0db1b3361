// Linux terminal: termios for the raw mode, TIOCGWINSZ for the size, a
// self-pipe written by the SIGWINCH handler so that a resize wakes the wait
// for a key whichever thread takes the signal.
#include "platform/terminal.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace zot::platform::terminal {

namespace {

struct termios g_saved;
volatile sig_atomic_t g_raw = 0;
int g_resize_pipe[2] = {-1, -1};

void on_resize(int) {
  int saved_errno = errno;
  char b = 1;
  if (write(g_resize_pipe[1], &b, 1) < 0) {
    // The pipe is full: a notice is pending already.
  }
  errno = saved_errno;
}

void watch_resize() {
  if (g_resize_pipe[0] >= 0) return;
  if (pipe2(g_resize_pipe, O_NONBLOCK | O_CLOEXEC) != 0) {
    g_resize_pipe[0] = g_resize_pipe[1] = -1;
    return;
  }
  struct sigaction sa{};
  sa.sa_handler = on_resize;
  sa.sa_flags = SA_RESTART;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGWINCH, &sa, nullptr);
}

}  // namespace

bool interactive() { return isatty(0) == 1 && isatty(1) == 1; }

bool enter_raw() {
  if (g_raw) return true;
  struct termios mode;
  if (tcgetattr(0, &mode) != 0) return false;
  g_saved = mode;
  mode.c_iflag &= ~tcflag_t(BRKINT | ICRNL | INLCR | IGNCR | INPCK | ISTRIP | IXON);
  mode.c_lflag &= ~tcflag_t(ECHO | ICANON | IEXTEN | ISIG);
  mode.c_cflag |= CS8;
  mode.c_cc[VMIN] = 1;
  mode.c_cc[VTIME] = 0;
  // Marked raw before the switch and unmarked after the switch back, so a
  // signal at any point between restores. TCSANOW: keys typed ahead stay.
  g_raw = 1;
  if (tcsetattr(0, TCSANOW, &mode) != 0) {
    g_raw = 0;
    return false;
  }
  watch_resize();
  return true;
}

void restore() {
  if (!g_raw) return;
  tcsetattr(0, TCSANOW, &g_saved);
  g_raw = 0;
}

bool is_raw() { return g_raw != 0; }

bool window_size(int* columns, int* rows) {
  struct winsize ws{};
  if (ioctl(1, TIOCGWINSZ, &ws) != 0 && ioctl(0, TIOCGWINSZ, &ws) != 0) return false;
  if (ws.ws_col == 0 || ws.ws_row == 0) return false;
  *columns = ws.ws_col;
  *rows = ws.ws_row;
  return true;
}

int read_byte(int timeout_ms) {
  for (;;) {
    struct pollfd fds[2];
    fds[0] = {0, POLLIN, 0};
    fds[1] = {g_resize_pipe[0], POLLIN, 0};
    int n = poll(fds, g_resize_pipe[0] >= 0 ? 2 : 1, timeout_ms < 0 ? -1 : timeout_ms);
    if (n < 0) {
      if (errno == EINTR) continue;
      return kEnded;
    }
    if (n == 0) return kTimeout;
    if (g_resize_pipe[0] >= 0 && (fds[1].revents & POLLIN)) {
      char drain[64];
      while (read(g_resize_pipe[0], drain, sizeof drain) > 0) {
      }
      return kResized;
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      unsigned char b;
      ssize_t r = read(0, &b, 1);
      if (r == 1) return b;
      if (r < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      return kEnded;
    }
    if (fds[0].revents & POLLNVAL) return kEnded;
  }
}

long read_input(void* buffer, std::size_t n) {
  for (;;) {
    ssize_t r = read(0, buffer, n);
    if (r >= 0) return long(r);
    if (errno != EINTR) return -1;
  }
}

}  // namespace zot::platform::terminal
