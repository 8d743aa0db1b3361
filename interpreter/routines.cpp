#include "interpreter/routines.h"

#include <string>
#include <string_view>
#include <unordered_map>
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

// Hashes a name held or looked for without a copy.
struct NameHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

struct Registry {
  std::vector<Entry> entries;
  std::unordered_map<std::string, u32, NameHash, std::equal_to<>> index;  // name -> entry index
};

Registry& registry() {
  static auto* r = new Registry;
  return *r;
}

}  // namespace

u32 register_entry(const char* name, EntryFn fn) {
  Registry& r = registry();
  if (u32 i = find(name)) {
    r.entries[i - 1].fn = fn;
    return i;
  }
  r.entries.push_back({name, fn});
  const u32 index = u32(r.entries.size());
  r.index.emplace(name, index);
  return index;
}

u32 find(const char* name) {
  const Registry& r = registry();
  auto it = r.index.find(std::string_view(name));
  return it == r.index.end() ? 0 : it->second;
}

EntryFn entry(u32 index) {
  const std::vector<Entry>& e = registry().entries;
  return index >= 1 && index <= e.size() ? e[index - 1].fn : nullptr;
}

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
