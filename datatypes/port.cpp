#include "datatypes/port.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/system.h"
#include "runtime/actions.h"
#include "runtime/cycles.h"
#include "runtime/errors.h"
#include "runtime/rooted.h"
#include "runtime/services.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace zot::port {

namespace {

// The arguments an actor function receives after the port, pushed on the
// argument stack (where the collector sees them, and in one row).
class Args {
 public:
  Args() : first_(stack::push(&datatype::g_none)) {}
  void add(const Cell* c) {
    stack::push(c ? c : &datatype::g_none);
    n_++;
  }
  void flag(bool b) {
    Cell v;
    add(set_logic(&v, b));
  }
  void integer(i32 i) {
    Cell v;
    add(set_integer(&v, i));
  }
  // A refinement: whether it was given, then its argument or none.
  void refinement(bool given, const Cell* arg) {
    flag(given);
    add(given ? arg : nullptr);
  }
  // A length (given when 0 or more) or a count (given when above 1).
  void length(i32 v) {
    flag(v >= 0);
    if (v >= 0) integer(v);
    else add(nullptr);
  }
  void count(i32 v) {
    flag(v > 1);
    if (v > 1) integer(v);
    else add(nullptr);
  }
  Cell* cells() { return first_; }
  u32 size() const { return n_; }

 private:
  Cell* first_;  // the port's place
  u32 n_ = 1;
};

// The value of a field of an object (none when it has no such field).
Cell field_of(const Cell* obj, const char* name) {
  Cell w = word::load(name);
  return *object::select_word(obj, &w);
}

void set_field(const Cell* obj, const char* name, const Cell* value) {
  Cell w = word::load(name);
  i32 i = object::find_word(obj, &w);
  if (i >= 0) *context::value_at(obj->object_context(), u32(i)) = *value;
}

// Calls the actor's function named after the action with the port and the
// arguments; its value.
Cell call_actor(const Cell* port, const char* action, Args& args) {
  Cell word = word::load(action);
  const Cell actor = field_of(port, "actor");
  // A handle stands for a natively implemented actor; none is built in, so
  // it has no function for any action.
  if (actor.is(T_HANDLE)) raise_error(Err::AccessNoPortAction, &word);
  if (!actor.is(T_OBJECT)) raise_error(Err::AccessInvalidPort);
  const Cell fn = *object::select_word(&actor, &word);
  if (!fn.is(T_FUNCTION)) raise_error(Err::AccessNoPortAction, &word);
  if (!g_services.call_callback) service_missing();
  args.cells()[0] = *port;
  return g_services.call_callback(&fn, &word, args.cells(), args.size(), sys::kPortCallback);
}

// An answer cell for the slots that hand back a pointer.
Cell* answer(const Cell& v) { return stack::push(&v); }

Cell* base() { return stack::g_base; }

// ---- the actions

// Frame functions: the port in the first cell, which takes the answer.
template <const char* const* Name, bool Second>
void frame_action() {
  Args a;
  if (Second) a.add(base() + 1);
  *base() = call_actor(base(), *Name, a);
}

// The action words, by the slots that use frame_action.
constexpr const char* kAtName = "at";
constexpr const char* kSkipName = "skip";
constexpr const char* kBackName = "back";
constexpr const char* kHeadName = "head";
constexpr const char* kHeadQName = "head?";
constexpr const char* kIndexQName = "index?";
constexpr const char* kNextName = "next";
constexpr const char* kTailName = "tail";
constexpr const char* kTailQName = "tail?";

template <const char* const* Name>
Cell* port_action(Cell* port) {
  Args a;
  return answer(call_actor(port, *Name, a));
}
constexpr const char* kCreateName = "create";
constexpr const char* kCloseName = "close";
constexpr const char* kDeleteName = "delete";
constexpr const char* kQueryName = "query";
constexpr const char* kUpdateName = "update";

void clear(Cell* port) {
  Args a;
  *port = call_actor(port, "clear", a);
}

i32 length_q(const Cell* port) {
  Args a;
  const Cell v = call_actor(port, "length?", a);
  // The action answers an integer, or none for anything else.
  return v.is(T_INTEGER) && v.int_value() >= 0 ? v.int_value() : -1;
}

void insertion(Cell* port, Cell* value, const actions::InsertOptions& o, const char* name) {
  Args a;
  a.add(value);
  a.length(o.part);
  a.flag(o.only);
  a.count(o.dup);
  *port = call_actor(port, name, a);
}
void append(Cell* port, Cell* value, const actions::InsertOptions& o) {
  insertion(port, value, o, o.append ? "append" : "insert");
}
void change(Cell* port, Cell* value, const actions::InsertOptions& o) {
  insertion(port, value, o, "change");
}

// The arguments that find and select share, in their spec's order.
void search_args(Args& a, Cell* value, const actions::FindOptions& o) {
  a.add(value);
  a.refinement(o.part != nullptr, o.part);
  for (bool f : {o.only, o.case_, o.same, o.any}) a.flag(f);
  a.refinement(o.with != nullptr, o.with);
  a.refinement(o.skip != nullptr, o.skip);
  for (bool f : {o.last, o.reverse}) a.flag(f);
}

Cell* find(Cell* port, Cell* value, const actions::FindOptions& o) {
  Args a;
  search_args(a, value, o);
  for (bool f : {o.tail, o.match}) a.flag(f);
  return answer(call_actor(port, "find", a));
}

Cell* select(Cell* port, Cell* value, const actions::FindOptions& o) {
  Args a;
  search_args(a, value, o);
  return answer(call_actor(port, "select", a));
}

Cell* copy(Cell* port, Cell* result, Cell* part, bool deep, Cell* kind) {
  Args a;
  a.refinement(part != nullptr, part);
  a.flag(deep);
  a.refinement(kind != nullptr, kind);
  *result = call_actor(port, "copy", a);
  return result;
}

Cell* move(Cell* port, Cell* target, Cell* part) {
  Args a;
  a.add(target);
  a.refinement(part != nullptr, part);
  return answer(call_actor(port, "move", a));
}

Cell* pick(Cell* port, i32, Cell* index_cell) {
  Args a;
  a.add(index_cell);
  return answer(call_actor(port, "pick", a));
}

Cell* poke(Cell* port, i32, Cell* value, Cell* index_cell) {
  Args a;
  a.add(index_cell);
  a.add(value);
  return answer(call_actor(port, "poke", a));
}

// put and modify: a key (or field), a value and /case.
Cell* keyed(Cell* port, Cell* key, Cell* value, bool case_, const char* name) {
  Args a;
  a.add(key);
  a.add(value);
  a.flag(case_);
  return answer(call_actor(port, name, a));
}
Cell* put(Cell* port, Cell* key, Cell* value, bool case_) { return keyed(port, key, value, case_, "put"); }
Cell* modify(Cell* port, Cell* field, Cell* value, bool case_) { return keyed(port, field, value, case_, "modify"); }

// remove and reverse hand on /part only (not /key, not /skip).
void with_part(Cell* port, Cell* part, const char* name) {
  Args a;
  a.refinement(part != nullptr, part);
  *port = call_actor(port, name, a);
}
void remove(Cell* port, Cell* part, Cell*) { with_part(port, part, "remove"); }
void reverse(Cell* port, Cell* part, Cell*) { with_part(port, part, "reverse"); }

Cell* sort(Cell* port, const actions::SortOptions& o) {
  Args a;
  a.flag(o.case_);
  a.refinement(o.skip != nullptr, o.skip);
  a.refinement(o.comparator != nullptr, o.comparator);
  a.refinement(o.part != nullptr, o.part);
  for (bool f : {o.all, o.reverse, o.stable}) a.flag(f);
  return answer(call_actor(port, "sort", a));
}

void swap(Cell* port, Cell* other) {
  Args a;
  a.add(other);
  *port = call_actor(port, "swap", a);
}

Cell* take(Cell* port, Cell* part, bool deep, bool last) {
  Args a;
  a.refinement(part != nullptr, part);
  a.flag(deep);
  a.flag(last);
  return answer(call_actor(port, "take", a));
}

void trim(Cell* port, const actions::TrimOptions& o) {
  Args a;
  for (bool f : {o.head, o.tail, o.auto_, o.lines, o.all}) a.flag(f);
  a.refinement(o.with != nullptr, o.with);
  *port = call_actor(port, "trim", a);
}

Cell open_port(Cell* port, const actions::OpenOptions& o) {
  Args a;
  for (bool f : {o.new_, o.read, o.write, o.seek}) a.flag(f);
  a.add(o.allow);
  return call_actor(port, "open", a);
}

Cell* open(Cell* port, const actions::OpenOptions& o) { return answer(open_port(port, o)); }

Cell close_port(Cell* port) {
  Args a;
  return call_actor(port, "close", a);
}

// The copy that read and write end with: /part with its argument when given.
Cell copy_port(Cell* port, Cell* part) {
  Args a;
  a.refinement(part != nullptr, part);
  a.flag(false);
  a.refinement(false, nullptr);
  return call_actor(port, "copy", a);
}

// open (with /seek, its index not handed on), copy (with /part), close.
Cell* read(Cell* port, const actions::ReadOptions& o) {
  open_port(port, {.seek = o.seek != nullptr});
  Rooted data(copy_port(port, o.part));
  close_port(port);
  return answer(data.cell);
}

// open /write (and /seek), insert the data (/part when its length is an
// integer of 0 or more), copy (with write's /part), close.
Cell* write(Cell* port, Cell* data, const actions::WriteOptions& o) {
  const i32 length = o.part && o.part->is(T_INTEGER) ? o.part->int_value() : -1;
  open_port(port, {.write = true, .seek = o.seek != nullptr});
  Args a;
  a.add(data);
  a.length(length);
  a.flag(false);
  a.count(1);
  call_actor(port, "insert", a);
  Rooted answer_value(copy_port(port, o.part));
  close_port(port);
  return answer(answer_value.cell);
}

Cell* rename(Cell* port, Cell* to) {
  Args a;
  a.add(to);
  return answer(call_actor(port, "rename", a));
}

// The scheme object registered under the word in system/schemes, or none.
Cell scheme_named(const Cell* name) {
  Cell list, none;
  set_none(&none);
  if (!sys::schemes(&list)) return none;
  const i32 n = series::total_length(&list);
  for (i32 i = series::index_of(&list); i + 1 < n; i += 2) {
    const Cell* c = block::cell_at(&list, i);
    if (is_any_word(c->type()) && symbol::resolve(c->word_symbol()) == symbol::resolve(name->word_symbol()))
      return *block::cell_at(&list, i + 1);
  }
  return none;
}

}  // namespace

// ---- making

Cell* make(Cell* proto, Cell* spec_in, int type) {
  (void)proto;
  (void)type;
  const Cell original = *spec_in;
  Rooted spec(original);
  if (!spec.cell.is(T_OBJECT)) {
    Rooted parts;
    if (!sys::standard_url_parts(&parts.cell)) raise_error(Err::AccessNoScheme, &original);
    parts.cell.set_object_class(0);
    spec = *object::make_with_class(&parts.cell, &spec.cell, 0);
  }
  Rooted scheme(field_of(&spec.cell, "scheme"));
  if (!is_any_word(scheme.cell.type())) raise_error(Err::AccessNoScheme, &original);
  set_type(&scheme.cell, T_WORD);
  Rooted templ;
  if (!sys::standard_port(&templ.cell)) raise_error(Err::AccessUnknownScheme, &original);
  Cell* r = stack::push(&datatype::g_none);
  object::copy_into(&templ.cell, r, false, nullptr, true);
  set_type(r, T_PORT);
  r->set_object_class(kClassId);
  *context::owner_cell(r->object_context()) = *r;
  set_field(r, "spec", &spec.cell);
  set_field(r, "scheme", &scheme.cell);
  const Cell found = scheme_named(&scheme.cell);
  if (!found.is(T_OBJECT)) raise_error(Err::AccessUnknownScheme, &original);
  const Cell actor = field_of(&found, "actor");
  if (!actor.is(T_OBJECT) && !actor.is(T_HANDLE)) raise_error(Err::AccessInvalidActor, &original);
  set_field(r, "actor", &actor);
  return r;
}

bool from_url(const Cell* url, Cell* out) {
  Cell parser_word = word::load("url-parser");
  const Cell parser = *context::get(&parser_word);
  if (!parser.is(T_OBJECT) || !g_services.call_callback) return false;
  Cell parse_word = word::load("parse-url");
  const Cell fn = *object::select_word(&parser, &parse_word);
  if (!fn.is(T_FUNCTION)) return false;
  Rooted spec(g_services.call_callback(&fn, &parse_word, url, 1, 0));
  if (!spec.cell.is(T_OBJECT)) return false;
  Cell dt;
  set_datatype(&dt, T_PORT);
  *out = *make(&dt, &spec.cell, T_PORT);
  return true;
}

// ---- text

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& opt, i32 part) {
  const Cell o = *value;
  string::Budget b(out, &part);
  if (cycles::find(o.object_context())) {
    b.text("make port! [...]");
    return part;
  }
  if (!opt.only) b.text("make port! [");
  actions::MoldOptions body = opt;
  body.indent = opt.indent + 1;
  part = object::serialize(&o, out, body, part, true);
  b.from = string::total_length(out);
  if (!opt.only) {
    if (!opt.flat && opt.indent >= 1 && context::word_count(o.object_context()) > 0) b.indent(opt.indent);
    b.text("]");
  }
  return part;
}

i32 form(const Cell* value, Cell* out, const Cell* limit, i32 part) {
  return mold(value, out, {.limit = limit}, part);
}

void register_type() {
  using namespace actions;
  actions::SlotTable s;
  // reflect, eval-path and compare are object!'s.
  for (Slot slot : {kReflect, kEvalPath, kCompare}) s.inherit(slot);
  s.set<kMake>(&make);
  s.set<kForm>(&form);
  s.set<kMold>(&mold);
  s.set<kAt>(&frame_action<&kAtName, true>);
  s.set<kSkip>(&frame_action<&kSkipName, true>);
  s.set<kBack>(&frame_action<&kBackName, false>);
  s.set<kHead>(&frame_action<&kHeadName, false>);
  s.set<kHeadQ>(&frame_action<&kHeadQName, false>);
  s.set<kIndexQ>(&frame_action<&kIndexQName, false>);
  s.set<kNext>(&frame_action<&kNextName, false>);
  s.set<kTail>(&frame_action<&kTailName, false>);
  s.set<kTailQ>(&frame_action<&kTailQName, false>);
  s.set<kClear>(&clear);
  s.set<kLengthQ>(&length_q);
  s.set<kCreate>(&port_action<&kCreateName>);
  s.set<kClose>(&port_action<&kCloseName>);
  s.set<kDelete>(&port_action<&kDeleteName>);
  s.set<kQuery>(&port_action<&kQueryName>);
  s.set<kUpdate>(&port_action<&kUpdateName>);
  s.set<kAppend>(&append);
  s.set<kInsert>(&append);
  s.set<kChange>(&change);
  s.set<kFind>(&find);
  s.set<kSelect>(&select);
  s.set<kCopy>(&copy);
  s.set<kMove>(&move);
  s.set<kRemove>(&remove);
  s.set<kReverse>(&reverse);
  s.set<kSort>(&sort);
  s.set<kSwap>(&swap);
  s.set<kTake>(&take);
  s.set<kTrim>(&trim);
  s.set<kModify>(&modify);
  s.set<kOpen>(&open);
  s.set<kPick>(&pick);
  s.set<kPoke>(&poke);
  s.set<kPut>(&put);
  s.set<kRead>(&read);
  s.set<kRename>(&rename);
  s.set<kWrite>(&write);
  datatype::register_type(T_PORT, T_OBJECT, "port!", s);
}

}  // namespace zot::port
