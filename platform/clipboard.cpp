#include "platform/clipboard.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/process.h"

namespace zot::platform::clipboard {

namespace {

// A tool that the display never answers is given up after this many seconds.
constexpr const char* kToolSeconds = "10";

std::vector<Item> g_store;

bool set_in_env(const char* name) {
  const char* v = std::getenv(name);
  return v && *v;
}

bool on_path(const char* program) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::string dirs = path;
  for (std::size_t at = 0; at <= dirs.size();) {
    std::size_t end = dirs.find(':', at);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(at, end - at);
    std::string full = (dir.empty() ? std::string(".") : dir) + "/" + program;
    if (access(full.c_str(), X_OK) == 0) return true;
    at = end + 1;
  }
  return false;
}

// Runs the tool (under `timeout` when there is one) with its input; its
// output when asked. Its status: -1 when it could not be run.
int status_of(std::vector<std::string> argv, const std::string* input, std::string* output) {
  static const bool has_timeout = on_path("timeout");
  if (has_timeout) argv.insert(argv.begin(), {"timeout", kToolSeconds});
  ChildSpec spec;
  spec.argv = std::move(argv);
  spec.in = input ? Stream::kPipe : Stream::kNull;
  if (input) spec.in_data = *input;
  spec.out = output ? Stream::kPipe : Stream::kNull;
  spec.err = Stream::kNull;
  ChildResult r;
  run_child(spec, &r);
  if (r.status == 0 && output) *output = std::move(r.out);
  return r.status;
}

bool run(std::vector<std::string> argv, const std::string* input, std::string* output) {
  return status_of(std::move(argv), input, output) == 0;
}

// A listing of the types on offer: a tool that ran and failed found an
// empty clipboard (wl-paste and xclip both fail when nothing was copied).
bool listing(std::vector<std::string> argv, std::string* out) {
  out->clear();
  return status_of(std::move(argv), nullptr, out) >= 0;
}

// The X selection's names for the text types.
std::string x_target(const std::string& type) { return type == kText ? "UTF8_STRING" : type; }
std::string from_x_target(const std::string& target) {
  if (target == "UTF8_STRING") return kText;
  if (target == "STRING" || target == "TEXT") return "text/plain";
  return target;
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) out.push_back(line);
    at = end + 1;
  }
  return out;
}

}  // namespace

Tool tool() {
  if (set_in_env("WAYLAND_DISPLAY") && on_path("wl-copy") && on_path("wl-paste")) return Tool::kWayland;
  if (set_in_env("DISPLAY") && on_path("xclip")) return Tool::kXclip;
  return Tool::kInProcess;
}

bool offered(std::vector<std::string>* types) {
  types->clear();
  std::string text;
  switch (tool()) {
    case Tool::kInProcess:
      for (const Item& i : g_store) types->push_back(i.type);
      return true;
    case Tool::kWayland:
      if (!listing({"wl-paste", "--list-types"}, &text)) return false;
      *types = split_lines(text);
      return true;
    case Tool::kXclip:
      if (!listing({"xclip", "-selection", "clipboard", "-o", "-t", "TARGETS"}, &text)) return false;
      for (const std::string& t : split_lines(text)) types->push_back(from_x_target(t));
      return true;
  }
  return false;
}

bool fetch(const std::string& type, std::string* bytes) {
  bytes->clear();
  switch (tool()) {
    case Tool::kInProcess:
      for (const Item& i : g_store)
        if (i.type == type) {
          *bytes = i.bytes;
          return true;
        }
      return false;
    case Tool::kWayland:
      return run({"wl-paste", "--no-newline", "--type", type}, nullptr, bytes);
    case Tool::kXclip:
      return run({"xclip", "-selection", "clipboard", "-o", "-t", x_target(type)}, nullptr, bytes);
  }
  return false;
}

bool store(const std::vector<Item>& items) {
  switch (tool()) {
    case Tool::kInProcess:
      g_store.assign(items.begin(), items.begin() + (items.empty() ? 0 : 1));
      return true;
    case Tool::kWayland:
      if (items.empty()) return run({"wl-copy", "--clear"}, nullptr, nullptr);
      return run({"wl-copy", "--type", items[0].type}, &items[0].bytes, nullptr);
    case Tool::kXclip: {
      // X has no empty selection: an empty text stands for it.
      static const Item kEmpty{kText, ""};
      const Item& item = items.empty() ? kEmpty : items[0];
      return run({"xclip", "-selection", "clipboard", "-i", "-t", x_target(item.type)}, &item.bytes, nullptr);
    }
  }
  return false;
}

}  // namespace zot::platform::clipboard
