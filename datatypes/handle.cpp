#include "datatypes/handle.h"

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/actions.h"
#include "runtime/memory.h"

namespace zot::handle {

namespace {

// Eight upper-case hexadecimal digits and "h"; returns the length.
int hex_text(u32 v, char* out) {
  static const char kDigits[] = "0123456789ABCDEF";
  for (int i = 7; i >= 0; i--) {
    out[i] = kDigits[v & 0xF];
    v >>= 4;
  }
  out[8] = 'h';
  return 9;
}

}  // namespace

Cell* push(u32 value, i32 kind) { return make_at(stack::reserve_slot(), value, kind); }
Cell* set_result(u32 value, i32 kind) { return make_at(stack::g_base, value, kind); }
Cell* make_in(const Cell* block, u32 value, i32 kind) { return make_at(mem::alloc_tail_cell(block->series_node()), value, kind); }

const char* kind_name(i32 kind) {
  static const char* const kNames[] = {"", "fd", "monitor", "window", "font", "rich-text"};
  return kind > 0 && kind < i32(sizeof kNames / sizeof kNames[0]) ? kNames[kind] : "";
}

i32 form(const Cell* value, Cell* out, const Cell*, i32 part) {
  char buf[12];
  int n = hex_text(value_of(value), buf);
  string::append_c_text_n(out, buf, std::size_t(n));
  return part - n;
}

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part) {
  if (!o.all) {
    string::append_c_text_n(out, "handle!", 7);
    return part - 7;
  }
  char buf[48] = "#[handle! ";
  std::size_t n = std::strlen(buf);
  n += std::size_t(hex_text(value_of(value), buf + n));
  const char* name = kind_name(kind_of(value));
  if (*name) {
    buf[n++] = ' ';
    std::size_t len = std::strlen(name);
    std::memcpy(buf + n, name, len);
    n += len;
  }
  buf[n++] = ']';
  string::append_c_text_n(out, buf, n);
  return part - i32(n);
}

i32 compare(const Cell* a, const Cell* b, i32) {
  if (!b->is(T_HANDLE)) return 1;
  const i32 x = i32(value_of(a)), y = i32(value_of(b));
  return (x > y) - (x < y);
}

void register_type() {
  using namespace actions;
  actions::SlotTable slots;
  slots.set<kForm>(&form);
  slots.set<kMold>(&mold);
  slots.set<kCompare>(&compare);
  datatype::register_type(T_HANDLE, T_INTEGER, "handle!", slots);
}

}  // namespace zot::handle
