#include "interpreter/os_text.h"

#include "datatypes/binary.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace zot::os_text {

std::string of(const Cell* value) {
  const u32 t = value->type();
  if (series::is_any_string(t)) return string::to_utf8(value);
  if (t == T_BINARY) {
    std::vector<u8> b = binary::bytes_of(value);
    return std::string(b.begin(), b.end());
  }
  if (t >= T_WORD && t <= T_ISSUE) return std::string(symbol::name_text(value->w2), symbol::name_length(value->w2));
  Cell* out = scratch();
  string::make_at(out, 16);
  actions::lookup<actions::FormFn>(t, actions::kForm)(value, out, nullptr, 0x7FFFFFFF);
  std::string text = string::to_utf8(out);
  stack::pop(1);
  return text;
}

Cell* to_string(Cell* out, const std::string& bytes, bool crlf) {
  std::string clean;
  clean.reserve(bytes.size());
  const u8* p = reinterpret_cast<const u8*>(bytes.data());
  const u8* end = p + bytes.size();
  while (p < end) {
    if (crlf && p[0] == '\r' && p + 1 < end && p[1] == '\n') {
      p++;
      continue;
    }
    i32 cp;
    const u8* next = unicode::decode_utf8_char(p, end, cp);
    if (cp < 0) clean += "\xEF\xBF\xBD";
    else clean.append(reinterpret_cast<const char*>(p), std::size_t(next - p));
    p = next;
  }
  return string::make_from_utf8(out, clean.data(), clean.size());
}

Cell* scratch() { return set_none(stack::reserve_slot()); }

}  // namespace zot::os_text
