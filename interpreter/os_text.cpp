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
  if (is_any_string(t)) return string::to_utf8(value);
  if (t == T_BINARY) {
    std::vector<u8> b = binary::bytes_of(value);
    return std::string(b.begin(), b.end());
  }
  if (is_any_word(t)) return std::string(symbol::name_text(value->word_symbol()), symbol::name_length(value->word_symbol()));
  Cell* out = scratch();
  string::make_at(out, 16);
  actions::lookup<actions::kForm>(t)(value, out, nullptr, 0x7FFFFFFF);
  std::string text = string::to_utf8(out);
  stack::pop(1);
  return text;
}

Cell* to_string(Cell* out, const std::string& bytes, bool crlf) {
  std::string text = bytes;
  if (crlf) unicode::drop_cr_before_lf(text);
  const std::string clean = unicode::lossy_utf8(reinterpret_cast<const u8*>(text.data()), text.size());
  return string::make_from_utf8(out, clean.data(), clean.size());
}

Cell* scratch() { return set_none(stack::reserve_slot()); }

}  // namespace zot::os_text
