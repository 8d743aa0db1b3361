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
  Cell out;
  std::string copy(text);
  lexer::scan(&out, reinterpret_cast<const u8*>(copy.data()), u32(copy.size()), lexer::Options{});
  *name = *block::cell_at(&out, 0);
  *spec = *block::cell_at(&out, 1);
}

void define(u32 type, const char* text, u32 index) {
  Cell name, spec;
  scan_definition(text, &name, &spec);
  Cell v = function::make_native(type, &spec, index);
  context::set(&name, &v);
}

// A typeset bound to a global word (the library defines the rest).
void define_typeset(const char* name, std::initializer_list<u32> types, bool all) {
  Cell ts;
  if (all) {
    make_cell(&ts, T_TYPESET, ~0u, ~0u, ~0u);
  } else {
    typeset::clear(&ts);
    for (u32 t : types) runtime::typeset_add(&ts, t);
  }
  Cell w = word::load(name);
  context::set(&w, &ts);
}

// The operators over actions and natives.
void define_op(const char* name, const char* of) {
  Cell w = word::load(name), f = word::load(of);
  Cell v = *context::get(&f);
  v.header = T_OP | (u32(v.type()) << function::kOpTypeShift);
  context::set(&w, &v);
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

void init() {
  define_typeset("any-type!", {}, true);
  define_typeset("number!", {T_INTEGER, T_FLOAT, T_PERCENT}, false);
  define_typeset("any-word!", {T_WORD, T_SET_WORD, T_GET_WORD, T_LIT_WORD, T_REFINEMENT, T_ISSUE}, false);
  define_typeset("any-block!", {T_BLOCK, T_PAREN, T_PATH, T_LIT_PATH, T_SET_PATH, T_GET_PATH, T_HASH}, false);
  define_typeset("any-function!", {T_NATIVE, T_ACTION, T_OP, T_FUNCTION, T_ROUTINE}, false);
  define_typeset("any-string!", {T_STRING, T_FILE, T_URL, T_TAG, T_EMAIL, T_REF}, false);
  // The logic and none words (the library's own definitions come later).
  const struct {
    const char* name;
    int value;  // -1 none, 0 false, 1 true
  } constants[] = {{"none", -1}, {"true", 1}, {"false", 0}, {"yes", 1}, {"no", 0}, {"on", 1}, {"off", 0}};
  for (const auto& c : constants) {
    Cell v;
    if (c.value < 0) set_none(&v);
    else set_logic(&v, c.value != 0);
    Cell w = word::load(c.name);
    context::set(&w, &v);
  }
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
  define_op("+", "add");
  define_op("-", "subtract");
  define_op("*", "multiply");
  define_op("/", "divide");
  define_op("//", "remainder");
  define_op("**", "power");
  define_op("=", "equal?");
  define_op("<>", "not-equal?");
  define_op("==", "strict-equal?");
  define_op("=?", "same?");
  define_op("<", "lesser?");
  define_op(">", "greater?");
  define_op("<=", "lesser-or-equal?");
  define_op(">=", "greater-or-equal?");
  define_op("and", "and~");
  define_op("or", "or~");
  define_op("xor", "xor~");
}

// Defines the native at index from its "name [spec]" text.
void define_native(u32 index, const char* text, EntryFn fn) {
  Cell name, spec;
  scan_definition(text, &name, &spec);
  set(index, symbol::name_text(name.w2), fn);
  Cell v = function::make_native(T_NATIVE, &spec, index);
  context::set(&name, &v);
}

}  // namespace zot::natives
