// Child processes, the environment and the description of the OS.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "runtime/base.h"

namespace zot::platform {

// Where one standard stream of a child goes: this process's own stream, the
// null device, a pipe to or from this process, or a file (read for input,
// appended to for output).
enum class Stream : u8 { kInherit, kNull, kPipe, kFile };

struct ChildSpec {
  // The program (looked up on PATH when it has no "/") and its arguments.
  std::vector<std::string> argv;
  Stream in = Stream::kInherit;
  std::string in_data;  // fed through the pipe
  std::string in_path;
  Stream out = Stream::kNull;
  std::string out_path;
  Stream err = Stream::kNull;
  std::string err_path;
  // Without wait the child runs on and is reaped when it ends; the streams
  // must not be pipes.
  bool wait = true;
};

struct ChildResult {
  // The exit status (128 + the signal for a child killed by one) when
  // waited for, else the process id; -1 when the child could not start or a
  // redirection could not be set up.
  int status = -1;
  bool not_found = false;  // the program was not found
  std::string out, err;  // what the pipes gave
};

// Starts the child; with wait, feeds its input and reads its output and
// error together (a child that fills one pipe while the other is read never
// blocks), then waits for it.
void run_child(const ChildSpec& spec, ChildResult* result);

// Every variable of the environment as name and value.
std::vector<std::pair<std::string, std::string>> environment();

// The kernel's name, release ("6.1.0-18-amd64") and machine ("x86_64").
struct OsInfo {
  std::string name, release, machine;
};
OsInfo os_info();

// Opens a URL or file with the desktop's handler (xdg-open) when there is
// one; false when there is none.
bool open_with_desktop(const std::string& target);

}  // namespace zot::platform
