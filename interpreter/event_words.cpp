#include "interpreter/event_words.h"

#include "datatypes/function.h"
#include "runtime/memory.h"

namespace zot::interp {

u32 requested_events(const Cell* fn, const EventWord* table, std::size_t count, u32 all) {
  const Cell body = *function::more_cell(fn, function::kMoreBody);
  if (!body.is(T_BLOCK)) return all;
  const mem::Series* code = mem::series_of(body.series_node());
  const u32 at = u32(body.series_index());
  if (at >= code->length() || !code->cells()[at].is(T_BLOCK)) return all;
  const Cell list = code->cells()[at];
  const mem::Series* names = mem::series_of(list.series_node());
  u32 mask = 0;
  for (u32 i = u32(list.series_index()); i < names->length(); i++) {
    const Cell& c = names->cells()[i];
    if (!c.is(T_WORD)) continue;
    for (std::size_t k = 0; k < count; k++)
      if (words::spells(c.word_symbol(), table[k].word)) mask |= table[k].event;
  }
  return mask;
}

}  // namespace zot::interp
