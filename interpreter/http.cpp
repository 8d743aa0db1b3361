#include "interpreter/http.h"

#include <algorithm>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/file.h"
#include "datatypes/file_io.h"
#include "datatypes/map.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/url_text.h"
#include "platform/http.h"
#include "runtime/actions.h"
#include "runtime/rooted.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace zot::http {

namespace {

using Headers = std::vector<std::pair<std::string, std::string>>;

// Sent when the caller gives no header block.
const Headers kDefaultHeaders = {
    {"Content-Type", "application/x-www-form-urlencoded"},
    {"Accept-Charset", "UTF-8"},
    {"User-Agent", "Mozilla/5.0 (X11; Linux x86_64)"},
};

bool same_name(const std::string& a, const std::string& b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}


// The formed text of a value as UTF-8.
std::string formed(const Cell* value) {
  const Cell v = *value;
  Cell* out = stack::push(&datatype::g_none);
  string::make_at(out, 16);
  actions::lookup<actions::kForm>(v.type())(&v, out, nullptr, 0x7FFFFFFF);
  std::string text = string::to_utf8(out);
  stack::g_top = out;
  return text;
}

std::string text_of(const Cell* value) {
  if (is_plain_word(value->type())) return symbol::name_text(value->word_symbol());
  if (is_any_string(value->type())) return string::to_utf8(value);
  return formed(value);
}

// The URL as the wire takes it: spaces, controls, bytes beyond ASCII and the
// few characters a URL never holds raw are percent-encoded.
std::string wire_url(const Cell* url) {
  return url::percent_encode(string::to_utf8(url),
                             [](u8 c) { return c > 0x20 && c < 0x7F && !std::strchr("\"<>\\^`{|}", c); });
}

std::string method_of(const Cell* method) {
  std::string m = is_plain_word(method->type()) ? symbol::name_text(method->word_symbol()) : text_of(method);
  for (char& c : m)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return m;
}

Headers headers_of(const Cell* block) {
  Headers out;
  const Cell blk = *block;
  const i32 n = series::total_length(&blk);
  for (i32 i = series::index_of(&blk); i + 1 < n; i += 2) {
    // Re-read each time: forming a value may move the block.
    const Cell name = *block::cell_at(&blk, i), value = *block::cell_at(&blk, i + 1);
    std::string a = text_of(&name);
    std::string b = value.is(T_STRING) ? string::to_utf8(&value) : text_of(&value);
    out.emplace_back(std::move(a), std::move(b));
  }
  return out;
}

// Header values are meant to be ASCII: a stray byte becomes U+FFFD rather
// than failing the whole response.
Cell* lenient_text(const std::string& bytes, Cell* out) {
  string::make_at(out, u32(bytes.size()));
  string::append_utf8_text(out, bytes.data(), bytes.size());
  return out;
}

Cell* body_value(const std::string& bytes, bool binary, bool lines, Cell* out) {
  if (binary) {
    binary::make_at(out, u32(bytes.size()));
    binary::append_bytes(out, reinterpret_cast<const u8*>(bytes.data()), u32(bytes.size()));
    return out;
  }
  // Text as files give it: UTF-8, no byte-order mark, CR LF made LF.
  if (lines) return simple_io::split_lines(out, bytes);
  return simple_io::bytes_to_string(out, bytes);
}

}  // namespace

Cell* headers_to_map(const std::string& lines, Cell* out) {
  // Names in the order first met, each with its values.
  std::vector<std::pair<std::string, std::vector<std::string>>> fields;
  std::size_t at = 0;
  while (at < lines.size()) {
    std::size_t end = lines.find('\n', at);
    if (end == std::string::npos) end = lines.size();
    std::string line = lines.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) continue;
    std::string name = line.substr(0, colon);
    std::size_t v = colon + 1;
    while (v < line.size() && (line[v] == ' ' || line[v] == '\t')) v++;
    std::string value = line.substr(v);
    auto same = [&](const auto& f) { return same_name(f.first, name); };
    auto it = std::find_if(fields.begin(), fields.end(), same);
    if (it == fields.end()) fields.push_back({name, {value}});
    else it->second.push_back(value);
  }
  Rooted pairs;
  block::make_at(&pairs.cell, i32(fields.size() * 2 + 1));
  for (const auto& [name, values] : fields) {
    Cell key = word::load(name.c_str());
    block::append_cell(&pairs.cell, &key);
    Rooted value;
    if (values.size() == 1) {
      lenient_text(values[0], &value.cell);
    } else {
      block::make_at(&value.cell, i32(values.size()));
      for (const std::string& s : values) {
        Rooted text;
        lenient_text(s, &text.cell);
        block::append_cell(&value.cell, &text.cell);
      }
    }
    block::append_cell(&pairs.cell, &value.cell);
  }
  return map::make_at(out, &pairs.cell, 0);
}

bool request(const Cell* method, const Cell* url, const Cell* headers, const Cell* data, bool binary, bool lines,
             bool info, Cell* out) {
  if (const char* soname = platform::http::missing_library()) file::cannot_open_library(soname);
  platform::http::Request req;
  req.method = method_of(method);
  req.url = wire_url(url);
  req.headers = headers && !headers->is(T_NONE) ? headers_of(headers) : kDefaultHeaders;
  if (data && !data->is(T_NONE) && req.method != "GET" && req.method != "HEAD") {
    req.has_body = true;
    if (data->is(T_BINARY)) {
      const std::vector<u8> bytes = binary::bytes_of(data);
      req.body.assign(bytes.begin(), bytes.end());
    } else {
      req.body = text_of(data);
    }
  }
  platform::http::Response res;
  std::string error;
  if (!platform::http::send(req, &res, &error, mem::kMaxSeriesBytes)) return false;
  if (!info) {
    body_value(res.body, binary, lines, out);
    return true;
  }
  Rooted blk;
  block::make_at(&blk.cell, 3);
  Cell status;
  set_integer(&status, i32(res.status));
  block::append_cell(&blk.cell, &status);
  Rooted part;
  headers_to_map(res.headers, &part.cell);
  block::append_cell(&blk.cell, &part.cell);
  body_value(res.body, binary, lines, &part.cell);
  block::append_cell(&blk.cell, &part.cell);
  *out = blk.cell;
  return true;
}

}  // namespace zot::http
