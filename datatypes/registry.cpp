#include "datatypes/registry.h"

#include <string>

#include "datatypes/context.h"
#include "platform/platform.h"
#include "runtime/fatal.h"

namespace zot::datatype {

TypeEntry g_types[kTypeTableSize];
u32 g_highest_id = 0;

const Cell g_unset = {T_UNSET, 0, 0, 0};
const Cell g_none = {T_NONE, 0, 0, 0};
const Cell g_true = {T_LOGIC, 1, 0, 0};
const Cell g_false = {T_LOGIC, 0, 0, 0};

namespace {

bool g_words_ready = false;  // the global context takes words

ZOT_NORETURN void bad_count(u32 type, int count) {
  std::string s = "*** Datatype Error: invalid actions count for type: " + std::to_string(type) +
                  "\n*** Found: " + std::to_string(count) + "\n*** Expected: 62\n";
  platform::write_all(1, s.data(), s.size());
  runtime::exit_process(0);
}

}  // namespace

void register_type(u32 type, u32 parent, const char* name, const actions::AnyFn* slots, int count) {
  if (type == 0 || type >= u32(kTypeTableSize)) bad_count(type, count);
  if (type > g_highest_id) g_highest_id = type;
  TypeEntry& e = g_types[type];
  e.name = name;
  e.name_len_minus1 = u32(std::strlen(name)) - 1;
  e.name_word = g_unset;
  if (g_words_ready) e.name_word = word::load(name);
  if (count != actions::kSlotCount) bad_count(type, count);
  for (int s = 0; s < actions::kSlotCount; s++) {
    actions::AnyFn f = slots[s];
    if (f == ZOT_INHERIT) f = parent ? actions::g_table[parent][s] : nullptr;
    actions::g_table[type][s] = f;
  }
}

void register_type(u32 type, u32 parent, const char* name, const actions::SlotTable& slots) {
  register_type(type, parent, name, slots.entries(), actions::kSlotCount);
}

void make_name_words() {
  g_words_ready = true;
  for (u32 t = 1; t <= g_highest_id; t++)
    if (g_types[t].name) g_types[t].name_word = word::load(g_types[t].name);
}

void name_every_type() {
  static const char* const kNames[kTypeCount + 1] = {
      nullptr,    "datatype!", "unset!",    "none!",    "logic!",   "block!",    "paren!",   "string!",
      "file!",    "url!",      "char!",     "integer!", "float!",   "symbol!",   "context!", "word!",
      "set-word!", "lit-word!", "get-word!", "refinement!", "issue!", "native!",  "action!",  "op!",
      "function!", "path!",    "lit-path!", "set-path!", "get-path!", "routine!", "bitset!",  "triple!",
      "object!",  "typeset!",  "error!",    "vector!",  "hash!",    "pair!",     "percent!", "tuple!",
      "map!",     "binary!",   "series!",   "time!",    "tag!",     "email!",    "handle!",  "date!",
      "port!",    "money!",    "ref!",      "point2D!", "point3D!", "image!",    "event!"};
  for (u32 t = 1; t <= u32(kTypeCount); t++) {
    TypeEntry& e = g_types[t];
    if (e.name) continue;
    e.name = kNames[t];
    e.name_len_minus1 = u32(std::strlen(e.name)) - 1;
    e.name_word = g_words_ready ? word::load(e.name) : g_unset;
  }
  g_highest_id = u32(kTypeCount);
}

const char* type_name(u32 type) {
  return type < u32(kTypeTableSize) && g_types[type].name ? g_types[type].name : "";
}

}  // namespace zot::datatype
