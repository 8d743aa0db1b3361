// The clipboard: through wl-copy and wl-paste when a Wayland display is set
// and they are installed, else through xclip when an X display is set and it
// is installed, else a store inside this process. Contents are typed by MIME
// names ("text/plain;charset=utf-8", "text/uri-list", "image/png").
#pragma once

#include <string>
#include <vector>

#include "runtime/base.h"

namespace zot::platform::clipboard {

constexpr const char* kText = "text/plain;charset=utf-8";
constexpr const char* kFiles = "text/uri-list";
constexpr const char* kPng = "image/png";

enum class Tool : u8 { kInProcess, kWayland, kXclip };
// The tool the environment gives now.
Tool tool();

struct Item {
  std::string type;
  std::string bytes;
};

// The types on offer, in the clipboard's order (empty when nothing is
// there). False when the tool cannot be run.
bool offered(std::vector<std::string>* types);
// The bytes of one type on offer; false when the tool fails.
bool fetch(const std::string& type, std::string* bytes);
// Puts the first item on the clipboard (no item empties it). False when the
// tool fails.
bool store(const std::vector<Item>& items);

}  // namespace zot::platform::clipboard
