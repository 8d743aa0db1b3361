// The `parse` native: its /part limit, then the parse engine.
#include <algorithm>

#include "datatypes/series.h"
#include "datatypes/words.h"
#include "interpreter/natives.h"
#include "interpreter/parse.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace zot::natives {

namespace {

// refs: /case /part limit /trace callback
void n_parse(const i32* refs) {
  Cell* b = stack::g_base;
  const Cell input = b[0], rules = b[1];
  parse::Options opt;
  opt.case_sensitive = refs[0] >= 0;
  if (refs[1] >= 0) {
    const Cell part = b[refs[1]];
    const i32 len = series::total_length(&input);
    const i32 at = std::min(input.series_index(), len);
    i64 limit;
    if (part.is(T_INTEGER)) {
      limit = i64(at) + part.int_value();
    } else if (part.type() == input.type() && part.series_node() == input.series_node()) {
      limit = part.series_index();
    } else {
      Cell w = words::g_refinements[words::ref_part];
      set_type(&w, T_WORD);
      raise_error(Err::ScriptInvalidRefineArg, &w, &part);
    }
    if (limit - at < 1) {
      // Nothing to parse: true only for an empty input.
      set_logic(b, at >= len);
      stack::g_top = b + 1;
      return;
    }
    opt.limit = i32(std::min<i64>(limit, len));
  }
  if (refs[2] >= 0) opt.callback = b + refs[2];
  Cell r = parse::run(&input, &rules, opt);
  *b = r;
  stack::g_top = b + 1;
}

}  // namespace

void register_parse() {
  parse::init();
  define_native(40,
                "parse [input [any-block! any-string! binary!] rules [block!] /case /part limit "
                "/trace callback [function!]]",
                n_parse);
}

}  // namespace zot::natives
