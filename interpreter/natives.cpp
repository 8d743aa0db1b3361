#include "interpreter/natives.h"

#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/typeset.h"
#include "interpreter/lexer.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace zot::natives {

EntryFn g_table[kTableSize + 1];
const char* g_names[kTableSize + 1];

void set(u32 index, const char* name, EntryFn fn) {
  if (index >= 1 && index <= kTableSize) {
    g_table[index] = fn;
    g_names[index] = name;
  }
}

namespace {

// The specs of the actions, in slot order, as source text.
const char* const kActionSpecs[63] = {
    nullptr,
    "make [type [any-type!] spec [any-type!]]",
    "random [value /seed /secure /only]",
    "reflect [value field [word!]]",
    "to [type [any-type!] spec [any-type!]]",
    "form [value [any-type!] /part limit [integer!]]",
    "mold [value [any-type!] /only /all /flat /part limit [integer!]]",
    nullptr,
    nullptr,
    nullptr,
    "absolute [value]",
    "add [value1 value2]",
    "divide [value1 value2]",
    "multiply [value1 value2]",
    "negate [number]",
    "power [number exponent]",
    "remainder [value1 value2]",
    "round [n /to scale /even /down /half-down /floor /ceiling /half-ceiling]",
    "subtract [value1 value2]",
    "even? [number]",
    "odd? [number]",
    "and~ [value1 value2]",
    "complement [value]",
    "or~ [value1 value2]",
    "xor~ [value1 value2]",
    "append [series value [any-type!] /part length /only /dup count [integer!]]",
    "at [series index [integer! pair!]]",
    "back [series]",
    "change [series value [any-type!] /part range /only /dup count [integer!]]",
    "clear [series]",
    "copy [value /part length /deep /types kind]",
    "find [series value [any-type!] /part length /only /case /same /any /with wild [string!] /skip size "
    "[integer!] /last /reverse /tail /match]",
    "head [series]",
    "head? [series]",
    "index? [series]",
    "insert [series value [any-type!] /part length /only /dup count [integer!]]",
    "length? [series]",
    "move [origin target /part length [integer!]]",
    "next [series]",
    "pick [series index]",
    "poke [series index value [any-type!]]",
    "put [series key value [any-type!] /case]",
    "remove [series /part length /key key-arg]",
    "reverse [series /part length /skip size [integer!]]",
    "select [series value [any-type!] /part length /only /case /same /any /with wild [string!] /skip size "
    "[integer!] /last /reverse]",
    "sort [series /case /skip size [integer!] /compare comparator /part length /all /reverse /stable]",
    "skip [series offset [integer! pair!]]",
    "swap [series1 series2]",
    "tail [series]",
    "tail? [series]",
    "take [series /part length /deep /last]",
    "trim [series /head /tail /auto /lines /all /with str]",
    "create [port]",
    "close [port]",
    "delete [file]",
    "modify [target field value [any-type!] /case]",
    "open [port /new /read /write /seek /allow access]",
    "open? [port]",
    "query [target]",
    "read [source /part length /seek index /binary /lines /info /as encoding]",
    "rename [from to]",
    "update [port]",
    "write [destination data /binary /lines /info /append /part length /seek index /allow access /as "
    "encoding]",
};

// Scans "name [spec]" into its word and spec block.
void scan_definition(const char* text, Cell* name, Cell* spec) {
  Rooted out;
  std::string copy(text);
  lexer::scan(&out, reinterpret_cast<const u8*>(copy.data()), u32(copy.size()), lexer::Options{});
  *name = *block::cell_at(&out, 0);
  *spec = *block::cell_at(&out, 1);
}

void define(u32 type, const char* text, u32 index) {
  Rooted name, spec;
  scan_definition(text, &name, &spec);
  Rooted v = function::make_native(type, &spec, index);
  context::set(&name, &v);
}

// The typesets that the natives' own specs name, so that they can be called
// before the library defines its typesets (it redefines these two as well).
void define_spec_typesets() {
  Cell all;
  make_cell(&all, T_TYPESET, ~0u, ~0u, ~0u);
  Cell w = word::load("any-type!");
  context::set(&w, &all);
  Cell blocks;
  typeset::clear(&blocks);
  for (u32 t : {T_BLOCK, T_PAREN, T_PATH, T_LIT_PATH, T_SET_PATH, T_GET_PATH, T_HASH}) runtime::typeset_add(&blocks, t);
  w = word::load("any-block!");
  context::set(&w, &blocks);
}

}  // namespace

void register_control();  // control.cpp
void register_values();   // values.cpp
void register_transcode();  // transcode.cpp
void register_set_natives();  // set_natives.cpp
void register_text_natives();  // text_natives.cpp
void register_parse();      // parse_native.cpp
void register_context_natives();  // context_natives.cpp
void register_print_natives();  // print_natives.cpp
void register_math_natives();  // math_natives.cpp
void register_checksum_native();  // checksum_native.cpp
void register_compress_natives();  // compress_natives.cpp
void register_system_natives();  // system_natives.cpp
void register_call_native();  // call_native.cpp
void register_memory();     // memory.cpp

void init() {
  define_spec_typesets();
  for (u32 s = 1; s <= 62; s++)
    if (kActionSpecs[s]) define(T_ACTION, kActionSpecs[s], s);
  register_control();
  register_values();
  register_transcode();
  register_set_natives();
  register_text_natives();
  register_parse();
  register_context_natives();
  register_print_natives();
  register_math_natives();
  register_checksum_native();
  register_compress_natives();
  register_system_natives();
  register_call_native();
  register_memory();
}

// Defines the native at index from its "name [spec]" text.
void define_native(u32 index, const char* text, EntryFn fn) {
  Rooted name, spec;
  scan_definition(text, &name, &spec);
  set(index, text, fn);
  Rooted v = function::make_native(T_NATIVE, &spec, index);
  context::set(&name, &v);
}

}  // namespace zot::natives
