#include "datatypes/file.h"

#include <string>

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/actions.h"

namespace zot::file {

namespace {

// A file name that the lexer would end early is written in its quoted form.
bool needs_quotes(const std::string& text) {
  if (text.empty()) return true;
  for (unsigned char c : text)
    if (c <= ' ' || c == '"' || c == '[' || c == ']' || c == '(' || c == ')' || c == '{' || c == '}' ||
        c == ':' || c == ';' || c == '@')
      return true;
  return false;
}

i32 mold_file(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* limit, i32 part,
              i32 indent) {
  Cell v = *value;
  std::string text = string::to_utf8(&v);
  string::Budget b(out, &part);
  b.text("%");
  if (needs_quotes(text)) {
    set_type(&v, T_STRING);
    return string::mold(&v, out, only, all, flat, limit, part, indent);
  }
  b.text(text.c_str());
  return part;
}

i32 mold_url(const Cell* value, Cell* out, bool, bool, bool, const Cell* limit, i32 part, i32) {
  return string::form(value, out, limit, part);
}

void register_child(u32 type, u32 parent, const char* name, actions::MoldFn mold) {
  actions::AnyFn slots[actions::kSlotCount];
  for (auto& s : slots) s = ZOT_INHERIT;
  slots[actions::kMold - 1] = actions::fn(mold);
  datatype::register_type(type, parent, name, slots, actions::kSlotCount);
}

}  // namespace

void register_url() { register_child(T_URL, T_STRING, "url!", &mold_url); }
void register_file() { register_child(T_FILE, T_URL, "file!", &mold_file); }

Cell* make_from_utf8(Cell* out, const char* text, std::size_t length) {
  string::make_from_utf8(out, text, length);
  set_type(out, T_FILE);
  return out;
}

}  // namespace zot::file
