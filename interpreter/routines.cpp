#include "interpreter/routines.h"

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace zot::routines {

namespace {

struct Entry {
  std::string name;
  EntryFn fn;
};

std::vector<Entry>& registry() {
  static auto* r = new std::vector<Entry>;
  return *r;
}

}  // namespace

u32 register_entry(const char* name, EntryFn fn) {
  if (u32 i = find(name)) {
    registry()[i - 1].fn = fn;
    return i;
  }
  registry().push_back({name, fn});
  return u32(registry().size());
}

u32 find(const char* name) {
  auto& r = registry();
  for (u32 i = 0; i < r.size(); i++)
    if (r[i].name == name) return i + 1;
  return 0;
}

EntryFn entry(u32 index) { return index >= 1 && index <= registry().size() ? registry()[index - 1].fn : nullptr; }

void push(const Cell* spec, const Cell* body, const char* name) {
  u32 index = find(name);
  if (!index) {
    Cell n;
    string::make_from_utf8(&n, name, std::strlen(name));
    raise_error(Err::ScriptInvalidArg, &n);
  }
  Cell s = *spec;
  Cell* top = stack::g_top;
  function::push(&s, body, 0, 0, 0);
  Cell r = *top;
  // Arity: the number of plain word parameters.
  u32 arity = 0;
  mem::Series* sp = mem::series_of(s.series_node());
  for (u32 i = u32(s.series_index()); i < sp->length(); i++) {
    if (sp->cells()[i].is(T_REFINEMENT)) break;
    if (sp->cells()[i].is(T_WORD)) arity++;
  }
  r.header = T_ROUTINE | ((arity & 31) << 25);
  set_integer(function::more_cell(&r, function::kMoreCode), i32(index));
  *context::owner_cell(r.function_context()) = r;
  *top = r;
}

void call(const Cell* routine) {
  Cell r = *routine;
  const Cell* code = function::more_cell(&r, function::kMoreCode);
  EntryFn fn = code->is(T_INTEGER) ? entry(u32(code->int_value())) : nullptr;
  if (!fn) raise_error(Err::InternalNotDone);
  fn();
}

}  // namespace zot::routines
