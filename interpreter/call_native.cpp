// The call native: runs another program, optionally through /bin/sh, with its
// standard streams from and to values or files; and the os-info routine.
//
// Without /shell a command string is split into arguments (command_line.h);
// a block command gives one argument per value (text as it is, other values
// formed). A program that is not found is run once more through /bin/sh, so
// that shell built-ins work.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/file_io.h"
#include "datatypes/series.h"
#include "interpreter/command_line.h"
#include "interpreter/eval.h"
#include "interpreter/lexer.h"
#include "interpreter/natives.h"
#include "interpreter/os_text.h"
#include "interpreter/routines.h"
#include "platform/process.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/output.h"
#include "runtime/stack.h"

namespace zot::natives {

namespace {

ZOT_INLINE Cell* base() { return stack::g_base; }

// The command as arguments, and as one line of shell text.
void command_of(const Cell* cmd, std::vector<std::string>* args, std::string* line) {
  if (!cmd->is(T_BLOCK)) {
    *line = os_text::of(cmd);
    *args = command_line::split(*line);
    return;
  }
  const i32 n = block::length_at(cmd);
  for (i32 i = 0; i < n; i++) {
    Cell v = *block::cell_at(cmd, cmd->series_index() + i);
    args->push_back(os_text::of(&v));
  }
  *line = command_line::shell_line(*args);
}

// The platform's plan for one stream given the value of its refinement.
platform::Stream plan(const Cell* v, bool output, std::string* path, std::string* data) {
  if (v->is(T_FILE)) {
    if (!simple_io::os_path(v, path)) raise_error(Err::AccessCannotOpen, v);
    return platform::Stream::kFile;
  }
  if (!output) *data = os_text::of(v);
  return platform::Stream::kPipe;
}

// Captured bytes inserted into the target: a string! at its index, decoded as
// UTF-8 with CR LF made LF; a binary! at its head, as they came.
void insert_output(const Cell* target, const std::string& bytes) {
  if (target->is(T_FILE)) return;
  Cell* series = os_text::scratch();
  *series = *target;
  Cell* value;
  if (target->is(T_BINARY)) {
    series->set_series_index(0);
    value = binary::push_bytes(reinterpret_cast<const u8*>(bytes.data()), u32(bytes.size()));
  } else {
    value = os_text::to_string(os_text::scratch(), bytes, true);
  }
  actions::lookup<actions::kInsert>(series->type())(series, value, {});
}

// refs: /wait /show /console /shell /input in /output out /error err
void n_call(const i32* refs) {
  enum { kWait, kShow, kConsole, kShell, kInput, kOutput, kError };
  const Cell* cmd = base();
  const Cell* input = refs[kInput] >= 0 ? base() + refs[kInput] : nullptr;
  const Cell* output = refs[kOutput] >= 0 ? base() + refs[kOutput] : nullptr;
  const Cell* error = refs[kError] >= 0 ? base() + refs[kError] : nullptr;
  const bool console = refs[kConsole] >= 0, shell = refs[kShell] >= 0;
  Cell command = *cmd;
  if (series::length_at(&command) <= 0) {
    set_integer(base(), 0);
    stack::g_top = base() + 1;
    return;
  }
  platform::ChildSpec spec;
  std::string line;
  command_of(cmd, &spec.argv, &line);
  if (shell) spec.argv = {"/bin/sh", "-c", line};
  if (input) spec.in = plan(input, false, &spec.in_path, &spec.in_data);
  if (output) spec.out = plan(output, true, &spec.out_path, nullptr);
  else spec.out = console ? platform::Stream::kInherit : platform::Stream::kNull;
  if (error) spec.err = plan(error, true, &spec.err_path, nullptr);
  else spec.err = console ? platform::Stream::kInherit : platform::Stream::kNull;
  spec.wait = refs[kWait] >= 0 || console || input || output || error;
  // What this process printed comes before what the child prints.
  if (console) {
    output::flush();
    std::fflush(nullptr);
  }
  platform::ChildResult r;
  platform::run_child(spec, &r);
  if (r.status < 0 && r.not_found && !shell) {
    spec.argv = {"/bin/sh", "-c", line};
    platform::run_child(spec, &r);
  }
  if (r.status >= 0) {
    if (output) insert_output(output, r.out);
    if (error) insert_output(error, r.err);
  }
  set_integer(base(), r.status);
  stack::g_top = base() + 1;
}

// os-info: the name, architecture word, version and build of the OS.
void os_info_routine() {
  platform::OsInfo os = platform::os_info();
  // The architecture as the other platforms name it.
  const struct {
    const char* machine;
    const char* arch;
  } arches[] = {{"x86_64", "x86-64"}, {"amd64", "x86-64"}, {"i386", "x86-32"}, {"i486", "x86-32"},
                {"i586", "x86-32"},   {"i686", "x86-32"},  {"aarch64", "ARM64"}, {"arm64", "ARM64"},
                {"ia64", "IA-64"}};
  std::string arch = "Unknown";
  for (const auto& a : arches)
    if (os.machine == a.machine) arch = a.arch;
  if (arch == "Unknown" && os.machine.rfind("arm", 0) == 0) arch = "ARM";
  // Release "6.1.0-18-amd64": the version 6.1.0, the build 18.
  int parts[3] = {0, 0, 0}, build = 0;
  std::size_t i = 0;
  for (int k = 0; k < 3 && i < os.release.size(); k++) {
    int v = 0;
    while (i < os.release.size() && std::isdigit(u8(os.release[i]))) v = std::min(v * 10 + (os.release[i++] - '0'), 255);
    parts[k] = v;
    if (i < os.release.size() && os.release[i] == '.') i++;
    else break;
  }
  while (i < os.release.size() && !std::isdigit(u8(os.release[i]))) i++;
  while (i < os.release.size() && std::isdigit(u8(os.release[i])) && build < 100000000)
    build = build * 10 + (os.release[i++] - '0');
  std::string name = os.name.empty() ? "Linux" : os.name;
  std::string source = "make object! [name: " + std::string("{") + name + "} arch: '" + arch +
                       " version: " + std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." +
                       std::to_string(parts[2]) + " build: " + std::to_string(build) + "]";
  Cell* code = os_text::scratch();
  lexer::scan(code, reinterpret_cast<const u8*>(source.data()), u32(source.size()), lexer::Options{});
  Cell v = interp::do_block(code);
  stack::set_result(&v);
  stack::g_top = stack::g_base + 1;
}

}  // namespace

void register_call_native() {
  define_native(99,
                "call [cmd [any-string! block!] /wait /show /console /shell /input in [any-string! binary!] "
                "/output out [any-string! binary!] /error err [any-string! binary!]]",
                n_call);
  routines::register_entry("os-info", os_info_routine);
}

}  // namespace zot::natives
