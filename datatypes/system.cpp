#include "datatypes/system.h"

#include "datatypes/context.h"
#include "datatypes/words.h"
#include "runtime/root.h"

namespace zot::sys {

namespace {

// Field positions, in the order the library defines them.
enum SystemField : u32 { kState = 5, kSchemes = 8, kLocale = 10, kOptions = 11, kStandard = 13, kLexer = 14 };
enum StateField : u32 { kStackTrace = 2, kSourceFiles = 3, kCallbacks = 4 };
enum CallbacksField : u32 { kBits = 6 };
enum LocaleField : u32 { kMonths = 4, kCurrencies = 6 };
enum CurrenciesField : u32 { kList = 0 };
enum OptionsField : u32 { kMoneyDigits = 13 };
enum LexerField : u32 { kExitStates = 2 };
enum StandardField : u32 { kStandardPort = 1, kStandardUrlParts = 4 };

u32 g_root = 0;  // the root cell holding the system object, 0 until attached

// The index-th field of an object value, or null.
const Cell* field(const Cell* obj, u32 index) {
  if (!obj || !obj->is(T_OBJECT)) return nullptr;
  if (index >= context::word_count(obj->object_context())) return nullptr;
  return context::value_at(obj->object_context(), index);
}

const Cell* system_field(u32 index) { return g_root ? field(root::cell(g_root), index) : nullptr; }

}  // namespace

void attach_if_defined() {
  if (g_root) return;
  Cell w = word::load("system");
  const Cell* v = context::get(&w);
  if (v && v->is(T_OBJECT)) g_root = root::append_copy(v);
}

bool attached() { return g_root != 0; }

Cell object() {
  if (g_root) return *root::cell(g_root);
  Cell n;
  set_none(&n);
  return n;
}

i32 stack_trace_level() {
  const Cell* v = field(system_field(kState), kStackTrace);
  return v && v->is(T_INTEGER) ? v->int_value() : 0;
}

bool source_files(Cell* out) {
  const Cell* v = field(system_field(kState), kSourceFiles);
  if (!v || !v->is(T_BLOCK) || u32(v->series_index()) >= mem::series_of(v->series_node())->length()) return false;
  *out = *v;
  return true;
}

u32 callback_bits() {
  const Cell* v = field(field(system_field(kState), kCallbacks), kBits);
  return v && v->is(T_INTEGER) ? u32(v->int_value()) : 0;
}

bool exit_states(Cell* out) {
  const Cell* v = field(system_field(kLexer), kExitStates);
  if (!v || !v->is(T_BLOCK)) return false;
  *out = *v;
  return true;
}

bool month_name(i32 month, Cell* out) {
  const Cell* v = field(system_field(kLocale), kMonths);
  if (!v || !v->is(T_BLOCK)) return false;
  mem::Series* s = mem::series_of(v->series_node());
  u32 at = u32(v->series_index()) + u32(month - 1);
  if (month >= 1 && at < s->length()) *out = s->cells()[at];
  else set_none(out);
  return true;
}

bool currency_list(Cell* out) {
  const Cell* v = field(field(system_field(kLocale), kCurrencies), kList);
  if (!v || !v->is(T_BLOCK)) return false;
  *out = *v;
  return true;
}

const Cell* money_digits() { return field(system_field(kOptions), kMoneyDigits); }

namespace {
bool typed(const Cell* v, TypeId type, Cell* out) {
  if (!v || !v->is(type)) return false;
  *out = *v;
  return true;
}
}  // namespace

bool schemes(Cell* out) { return typed(system_field(kSchemes), T_BLOCK, out); }
bool standard_port(Cell* out) { return typed(field(system_field(kStandard), kStandardPort), T_OBJECT, out); }
bool standard_url_parts(Cell* out) {
  return typed(field(system_field(kStandard), kStandardUrlParts), T_OBJECT, out);
}

}  // namespace zot::sys
