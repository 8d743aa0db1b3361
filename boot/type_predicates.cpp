#include "boot/type_predicates.h"

#include <array>
#include <utility>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "interpreter/routines.h"
#include "runtime/helpers.h"
#include "runtime/rooted.h"
#include "runtime/stack.h"

namespace zot::type_predicates {

namespace {

// One predicate: a single type id, or (type 0) the typeset word it consults.
struct Predicate {
  const char* name;
  u32 type;
  const char* typeset;
};

constexpr Predicate kPredicates[] = {
    {"bitset?", T_BITSET, nullptr},
    {"binary?", T_BINARY, nullptr},
    {"block?", T_BLOCK, nullptr},
    {"char?", T_CHAR, nullptr},
    {"email?", T_EMAIL, nullptr},
    {"file?", T_FILE, nullptr},
    {"float?", T_FLOAT, nullptr},
    {"get-path?", T_GET_PATH, nullptr},
    {"get-word?", T_GET_WORD, nullptr},
    {"hash?", T_HASH, nullptr},
    {"integer?", T_INTEGER, nullptr},
    {"issue?", T_ISSUE, nullptr},
    {"lit-path?", T_LIT_PATH, nullptr},
    {"lit-word?", T_LIT_WORD, nullptr},
    {"logic?", T_LOGIC, nullptr},
    {"map?", T_MAP, nullptr},
    {"none?", T_NONE, nullptr},
    {"pair?", T_PAIR, nullptr},
    {"paren?", T_PAREN, nullptr},
    {"path?", T_PATH, nullptr},
    {"percent?", T_PERCENT, nullptr},
    {"refinement?", T_REFINEMENT, nullptr},
    {"set-path?", T_SET_PATH, nullptr},
    {"set-word?", T_SET_WORD, nullptr},
    {"string?", T_STRING, nullptr},
    {"tag?", T_TAG, nullptr},
    {"time?", T_TIME, nullptr},
    {"typeset?", T_TYPESET, nullptr},
    {"tuple?", T_TUPLE, nullptr},
    {"unset?", T_UNSET, nullptr},
    {"url?", T_URL, nullptr},
    {"word?", T_WORD, nullptr},
    {"image?", T_IMAGE, nullptr},
    {"date?", T_DATE, nullptr},
    {"money?", T_MONEY, nullptr},
    {"ref?", T_REF, nullptr},
    {"point2D?", T_POINT2D, nullptr},
    {"point3D?", T_POINT3D, nullptr},
    {"handle?", T_HANDLE, nullptr},
    {"error?", T_ERROR, nullptr},
    {"action?", T_ACTION, nullptr},
    {"native?", T_NATIVE, nullptr},
    {"datatype?", T_DATATYPE, nullptr},
    {"function?", T_FUNCTION, nullptr},
    {"object?", T_OBJECT, nullptr},
    {"op?", T_OP, nullptr},
    {"routine?", T_ROUTINE, nullptr},
    {"vector?", T_VECTOR, nullptr},
    {"any-list?", 0, "any-list!"},
    {"any-block?", 0, "any-block!"},
    {"any-function?", 0, "any-function!"},
    {"any-object?", 0, "any-object!"},
    {"any-path?", 0, "any-path!"},
    {"any-string?", 0, "any-string!"},
    {"any-word?", 0, "any-word!"},
    {"series?", 0, "series!"},
    {"number?", 0, "number!"},
    {"immediate?", 0, "immediate!"},
    {"scalar?", 0, "scalar!"},
    {"all-word?", 0, "all-word!"},
    {"any-point?", 0, "any-point!"},
    {"planar?", 0, "planar!"},
};
constexpr std::size_t kCount = sizeof(kPredicates) / sizeof(kPredicates[0]);

// The global words of the typeset predicates, loaded at the first call. A
// word of the global context holds no buffer pointer, and that context
// lives as long as the process, so plain cells serve.
Cell g_typeset_words[kCount];

// The typeset word is read at each call, so a script that rebinds it changes
// the answer; a word that no longer holds a typeset answers false.
template <std::size_t I>
void predicate() {
  u32 type = stack::g_base->type();
  bool answer;
  if constexpr (kPredicates[I].typeset == nullptr) {
    answer = type == kPredicates[I].type;
  } else {
    Cell* w = &g_typeset_words[I];
    if (ZOT_UNLIKELY(!w->is(T_WORD))) *w = word::load(kPredicates[I].typeset);
    const Cell* ts = context::get(w);
    answer = ts->is(T_TYPESET) && runtime::typeset_has(ts, type);
  }
  set_logic(stack::g_base, answer);
}

template <std::size_t... I>
constexpr std::array<routines::EntryFn, kCount> make_entries(std::index_sequence<I...>) {
  return {predicate<I>...};
}
constexpr auto kEntries = make_entries(std::make_index_sequence<kCount>{});

}  // namespace

void register_entries() {
  for (std::size_t i = 0; i < kCount; i++) {
    routines::register_entry(kPredicates[i].name, kEntries[i]);
  }
}

void names(Cell* out) {
  Rooted b;
  block::make_at(&b.cell, i32(kCount));
  for (const Predicate& p : kPredicates) {
    Cell w = word::load(p.name);
    block::append_cell(&b.cell, &w);
  }
  *out = b.cell;
}

}  // namespace zot::type_predicates
