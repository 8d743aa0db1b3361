#include "datatypes/file.h"

#include "datatypes/file_io.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/url_text.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/rooted.h"
#include "runtime/stack.h"

namespace zot::file {

namespace {

Cell* push_logic(bool v) { return stack::push(v ? &datatype::g_true : &datatype::g_false); }

}  // namespace

// "%" and the text; in double quotes when a character below 127 is outside
// the URL-safe set (a space, a "%", ";" ...) or would end the file where the
// lexer reads it (parentheses, ":" and "@"). Inside the quotes "^", control
// characters and the double quote are escaped, so the text reads back.
i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part) {
  Cell v = *value;
  string::Budget b(out, &part);
  b.text("%");
  const i32 len = string::length_at(&v);
  if (len == 0) {
    string::append_c_text(out, "\"\"");
    return part;
  }
  i32 n = len;
  if (o.limit && part < n) n = part < 0 ? 0 : part;
  const i32 at = string::index_of(&v);
  bool quoted = false;
  for (i32 i = 0; i < n && !quoted; i++) {
    u32 c = string::char_at(&v, at + i);
    quoted = c < 127 && (!url::url_safe(c) || c == '(' || c == ')' || c == ':' || c == '@');
  }
  if (quoted) string::append_c_text(out, "\"");
  for (i32 i = 0; i < n; i++) {
    u32 c = string::char_at(&v, at + i);
    if (!quoted) string::append_char(string::buffer_of(out), c);
    else if (c == '"') string::append_c_text(out, "^(22)");
    else if (c == '^' || c < 32 || c == 127) string::append_escaped_char(out, c, false);
    else string::append_char(string::buffer_of(out), c);
  }
  if (quoted) string::append_c_text(out, "\"");
  return part - n;
}

Cell* read(Cell* source, const actions::ReadOptions& o) {
  if (o.as) raise_error(Err::InternalNotDone);
  return simple_io::read(source, o);
}

Cell* write(Cell* dest, Cell* data, const actions::WriteOptions& o) {
  if (o.allow || o.as) raise_error(Err::InternalNotDone);
  simple_io::write(dest, data, o);
  return stack::push(&datatype::g_unset);
}

Cell* query(Cell* file) { return simple_io::query(file); }

Cell* delete_(Cell* file) { return push_logic(simple_io::remove(file)); }

Cell* rename(Cell* from, Cell* to) {
  if (!is_any_string(to->type())) raise_error(Err::ScriptInvalidArg, to);
  return push_logic(simple_io::rename(from, to));
}

Cell* make_from_utf8(Cell* out, const char* text, std::size_t length) {
  string::make_from_utf8(out, text, length);
  return set_type(out, T_FILE);
}

void cannot_open_library(const char* soname) {
  Rooted name;
  make_from_utf8(&name.cell, soname, std::strlen(soname));
  raise_error(Err::AccessCannotOpen, &name.cell);
}

void register_type() {
  using namespace actions;
  actions::SlotTable slots;
  for (Slot s : {kMake, kTo, kForm, kEvalPath, kCompare, kAppend, kAt, kBack, kChange, kClear, kCopy, kFind, kHead,
                 kHeadQ, kIndexQ, kInsert, kLengthQ, kMove, kNext, kPick, kPoke, kRemove, kReverse, kSelect, kSkip,
                 kSwap, kTail, kTailQ, kTake, kModify})
    slots.inherit(s);
  slots.set<kMold>(&mold);
  slots.set<kDelete>(&delete_);
  slots.set<kQuery>(&query);
  slots.set<kRead>(&read);
  slots.set<kRename>(&rename);
  slots.set<kWrite>(&write);
  datatype::register_type(T_FILE, T_URL, "file!", slots);
}

}  // namespace zot::file
