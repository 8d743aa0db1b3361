#include "interpreter/load.h"

#include <vector>

#include "datatypes/string.h"
#include "interpreter/lexer.h"
#include "runtime/memory.h"

namespace zot::runtime {

void load_single(const Cell* text, Cell* out) {
  // The lexer needs UTF-8 that stays put while values are made.
  std::size_t size = unicode::utf8_size_of(text, -1);
  u8 small[256];
  std::vector<u8> large;
  u8* bytes = small;
  if (size + 1 > sizeof small) {
    large.resize(size + 1);
    bytes = large.data();
  }
  std::size_t length = unicode::write_utf8(text, bytes, -1, false);
  lexer::Options opt;
  opt.one = true;
  opt.keep_block = true;
  Cell block;
  set_none(&block);
  u32 consumed = 0;
  lexer::scan(&block, bytes, u32(length), opt, &consumed);
  if (consumed < length) {
    set_none(out);
    return;
  }
  mem::Series* s = mem::series_of(block.series_node());
  if (s->length() == 0) set_unset(out);
  else clear_new_line(&(*out = s->cells()[0]));
}

}  // namespace zot::runtime
