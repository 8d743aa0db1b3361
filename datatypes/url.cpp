#include "datatypes/url.h"

#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/string_actions.h"
#include "datatypes/url_text.h"
#include "datatypes/words.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/services.h"
#include "runtime/stack.h"

namespace zot::url {

namespace {

constexpr i32 kNoLimit = 0x7FFFFFFF;

Cell* push_none() { return stack::push(&datatype::g_none); }

// A new empty text value of the type, pushed.
Cell* push_text(u32 type, u32 capacity, u32 unit) {
  Cell* r = push_none();
  string::make_at_unit(r, capacity, unit);
  return set_type(r, u8(type));
}

void form_onto(Cell* out, const Cell* value) {
  Cell v = *value;
  actions::lookup<actions::kForm>(v.type())(&v, out, nullptr, kNoLimit);
}

// The values of a block from its index, formed into a URL: scheme "://"
// host, then ":" port when the third value is an integer!, then the rest
// joined by "/" ("#" before an issue!).
Cell* from_block(const Cell* spec) {
  Cell blk = *spec;
  const i32 n = block::length_at(&blk);
  if (n == 0) {
    Cell dt;
    set_datatype(&dt, T_URL);
    raise_error(Err::ScriptBadToArg, &dt, spec);
  }
  Cell* r = push_text(T_URL, 32, 1);
  // Forming may allocate: each value is copied out of the block first.
  auto value_at = [&](i32 i) { return *block::cell_at(&blk, blk.series_index() + i); };
  Cell v = value_at(0);
  form_onto(r, &v);
  string::append_c_text(r, "://");
  i32 i = 1;
  if (i < n) {
    v = value_at(i++);
    form_onto(r, &v);
  }
  if (i < n && block::cell_at(&blk, blk.series_index() + i)->is(T_INTEGER)) {
    v = value_at(i++);
    string::append_c_text(r, ":");
    form_onto(r, &v);
  }
  if (i < n) {
    string::append_c_text(r, "/");
    for (; i < n; i++) {
      v = value_at(i);
      form_onto(r, &v);
      if (i + 1 < n) string::append_c_text(r, block::cell_at(&blk, blk.series_index() + i + 1)->is(T_ISSUE) ? "#" : "/");
    }
  }
  return r;
}

bool block_spec(const Cell* spec) { return spec->is(T_BLOCK) || spec->is(T_PAREN) || spec->is(T_HASH); }

// A port made from the URL by the port layer, pushed.
Cell* port_of(const Cell* url) {
  Cell* port = push_none();
  if (!g_services.url_port || !g_services.url_port(url, port)) raise_error(Err::ScriptInvalidArg, url);
  return port;
}

// Sends the request through the HTTP layer; its response, pushed.
Cell* request(const Cell* method, const Cell* url, const Cell* headers, const Cell* data, bool binary, bool lines,
              bool info) {
  Cell* out = push_none();
  if (!g_services.http_request || !g_services.http_request(method, url, headers, data, binary, lines, info, out))
    raise_error(Err::AccessNoConnect, url);
  return out;
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, int type) {
  if (type == T_URL && block_spec(spec)) return from_block(spec);
  return string::make(proto, spec, type);
}

Cell* to(Cell* proto, Cell* spec, int type) {
  if (type == T_URL && block_spec(spec)) return from_block(spec);
  return string::to(proto, spec, type);
}

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part) {
  const std::string text = string::to_utf8(value);
  std::string encoded;
  encoded.reserve(text.size());
  for (char ch : text) {
    const u8 c = u8(ch);
    // Parentheses would end the URL where the lexer reads it.
    if (url_safe(c) && c != '(' && c != ')') {
      encoded += ch;
    } else {
      encoded += '%';
      encoded += string::byte_to_hex(c);
    }
  }
  std::size_t n = encoded.size();
  if (o.limit && i64(n) > part) n = part > 0 ? std::size_t(part) : 0;
  string::append_c_text_n(out, encoded.data(), n);
  return part - i32(n);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions&) {
  if (value) raise_error(Err::ScriptBadPathSet, parent, element);
  Cell el = *element;
  if (el.is(T_GET_WORD)) el = *context::get(&el);
  Cell base = *parent;
  const i32 len = string::length_at(&base);
  const u32 unit = string::buffer_of(&base)->unit();
  Cell* r = push_text(base.type(), u32(len) + 16, unit);
  string::concatenate(r, &base, -1, 0, true, string::kConcatAppend);
  Cell* formed = push_text(T_STRING, 16, unit);
  form_onto(formed, &el);
  const i32 have = string::total_length(r);
  const bool ends_with_slash = have > 0 && string::char_at(r, have - 1) == '/';
  const bool starts_with_slash = string::total_length(formed) > 0 && string::char_at(formed, 0) == '/';
  if (ends_with_slash && starts_with_slash) string::truncate_at(string::buffer_of(r), have - 1);
  else if (!ends_with_slash && !starts_with_slash) string::append_char(string::buffer_of(r), '/');
  string::concatenate(r, formed, -1, 0, true, string::kConcatAppend);
  stack::g_top = formed;
  return r;
}

bool is_http(const Cell* url) {
  Cell u = *url;
  const i32 len = string::length_at(&u);
  const i32 at = string::index_of(&u);
  auto lower = [&](i32 i) {
    u32 c = string::char_at(&u, at + i);
    return c >= 'A' && c <= 'Z' ? c + 32 : c;
  };
  if (len < 5 || lower(0) != 'h' || lower(1) != 't' || lower(2) != 't' || lower(3) != 'p') return false;
  return string::char_at(&u, at + 4) == ':' || (len >= 6 && lower(4) == 's' && string::char_at(&u, at + 5) == ':');
}

Cell* open(Cell* url, const actions::OpenOptions& o) {
  Cell* port = port_of(url);
  return actions::lookup<actions::kOpen>(port->type())(port, o);
}

Cell* read(Cell* source, const actions::ReadOptions& o) {
  if (is_http(source)) {
    if (o.part || o.seek || o.as) raise_error(Err::InternalNotDone);
    return request(words::word(w::get), source, nullptr, nullptr, o.binary, o.lines, o.info);
  }
  Cell* port = port_of(source);
  return actions::lookup<actions::kRead>(port->type())(port, o);
}

Cell* write(Cell* dest, Cell* data, const actions::WriteOptions& o) {
  if (!is_http(dest)) {
    Cell* port = port_of(dest);
    return actions::lookup<actions::kWrite>(port->type())(port, data, o);
  }
  if (o.part || o.seek || o.allow) raise_error(Err::InternalNotDone);
  // The request: [method headers data] in a block, else a POST of the data.
  // Its parts are copied to the stack, where the collector sees them.
  Cell* method = stack::push(words::word(w::post));
  Cell* headers = push_none();
  Cell* body = stack::push(data);
  bool has_headers = false, has_body = true;
  if (data->is(T_BLOCK)) {
    Cell blk = *data;
    const i32 n = block::length_at(&blk);
    auto at = [&](i32 i) { return *block::cell_at(&blk, blk.series_index() + i); };
    *method = *words::word(w::get);
    has_body = false;
    if (n > 0) {
      *method = at(0);
      if (!method->is(T_WORD)) raise_error(Err::ScriptInvalidArg, method);
    }
    if (n > 1) {
      *headers = at(1);
      if (!headers->is(T_BLOCK)) raise_error(Err::ScriptInvalidArg, headers);
      has_headers = true;
    }
    if (n > 2) {
      *body = at(2);
      has_body = true;
    }
  }
  if (has_body && !body->is(T_BLOCK) && !body->is(T_STRING) && !body->is(T_BINARY))
    raise_error(Err::ScriptInvalidArg, body);
  return request(method, dest, has_headers ? headers : nullptr, has_body ? body : nullptr, o.binary, o.lines,
                 o.info);
}

void register_type() {
  using namespace actions;
  actions::SlotTable slots;
  for (Slot s : {kForm, kCompare, kAppend, kAt, kBack, kChange, kClear, kCopy, kFind, kHead, kHeadQ, kIndexQ,
                 kInsert, kLengthQ, kMove, kNext, kPick, kPoke, kRemove, kReverse, kSelect, kSkip, kSwap, kTail,
                 kTailQ, kTake, kModify})
    slots.inherit(s);
  slots.set<kMake>(&make);
  slots.set<kTo>(&to);
  slots.set<kMold>(&mold);
  slots.set<kEvalPath>(&eval_path);
  slots.set<kOpen>(&open);
  slots.set<kRead>(&read);
  slots.set<kWrite>(&write);
  datatype::register_type(T_URL, T_STRING, "url!", slots);
}

}  // namespace zot::url
