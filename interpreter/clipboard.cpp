#include "interpreter/clipboard.h"

#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/image.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/url_text.h"
#include "interpreter/eval.h"
#include "platform/clipboard.h"
#include "platform/image_codecs.h"
#include "platform/platform.h"
#include "runtime/errors.h"
#include "runtime/rooted.h"
#include "runtime/stack.h"

namespace zot::clipboard {

namespace {

namespace pc = platform::clipboard;

// The text types in the order they are preferred.
const char* const kTextTypes[] = {pc::kText, "UTF8_STRING", "text/plain", "STRING", "TEXT"};
const char* const kImageTypes[] = {pc::kPng, "image/jpeg", "image/gif", "image/bmp", "image/tiff"};

const std::string* first_of(const std::vector<std::string>& offered, const char* const* types, std::size_t n) {
  for (std::size_t i = 0; i < n; i++)
    for (const std::string& t : offered)
      if (t == types[i]) return &t;
  return nullptr;
}

// A file! in the language's notation from an OS path: through the library's
// `to-zot-file` when it is there, else the path itself (on Linux they agree).
Cell* file_of(const Cell* os_path, Cell* out) {
  Cell word = word::load("to-zot-file");
  const Cell fn = *context::get(&word);
  if (fn.is(T_FUNCTION)) {
    *out = interp::call_callback(&fn, &word, os_path, 1, 0);
    return out;
  }
  *out = *os_path;
  set_type(out, T_FILE);
  return out;
}

// The file URIs of a text/uri-list as a block! of file! (other URIs and
// comment lines left out).
Cell* files_of(const std::string& list, Cell* out) {
  Rooted blk;
  block::make_at(&blk.cell, 4);
  std::size_t at = 0;
  while (at < list.size()) {
    std::size_t end = list.find('\n', at);
    if (end == std::string::npos) end = list.size();
    std::string line = list.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, 7, "file://") != 0) continue;
    // The host part (usually empty) goes; the path stays percent-encoded
    // until decoded here.
    std::size_t slash = line.find('/', 7);
    if (slash == std::string::npos) continue;
    Rooted encoded, path, file;
    string::make_from_utf8(&encoded.cell, line.data() + slash, line.size() - slash);
    string::make_at(&path.cell, u32(line.size()));
    url::decode(&encoded.cell, &path.cell);
    file_of(&path.cell, &file.cell);
    block::append_cell(&blk.cell, &file.cell);
  }
  *out = blk.cell;
  return out;
}

// A path as a file URI: absolute (from the current directory), each byte
// beyond the path characters percent-encoded.
std::string uri_of(const Cell* path_value) {
  std::string path = string::to_utf8(path_value);
  if (path.empty() || path[0] != '/') {
    std::string dir;
    if (platform::current_dir(&dir)) path = dir + (dir.empty() || dir.back() != '/' ? "/" : "") + path;
  }
  return "file://" + url::percent_encode(path, [](u8 c) {
           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  (c && std::strchr("/-._~!$&'()*+,;=:@", c));
         });
}

}  // namespace

Cell* read(Cell* out) {
  std::vector<std::string> offered;
  if (!pc::offered(&offered)) return set_logic(out, false);
  std::string bytes;
  if (const std::string* t = first_of(offered, kTextTypes, std::size(kTextTypes))) {
    if (!pc::fetch(*t, &bytes)) return set_logic(out, false);
    // Text from other programs may not be valid UTF-8: a bad byte becomes U+FFFD.
    string::make_at(out, u32(bytes.size()));
    string::append_utf8_text(out, bytes.data(), bytes.size());
    return out;
  }
  for (const std::string& t : offered)
    if (t == pc::kFiles) {
      if (!pc::fetch(t, &bytes)) return set_logic(out, false);
      return files_of(bytes, out);
    }
  if (const std::string* t = first_of(offered, kImageTypes, std::size(kImageTypes))) {
    if (!pc::fetch(*t, &bytes)) return set_logic(out, false);
    Rooted data;
    binary::make_at(&data.cell, u32(bytes.size()));
    binary::append_bytes(&data.cell, reinterpret_cast<const u8*>(bytes.data()), u32(bytes.size()));
    image::decode(&data.cell, out);
    // Bytes that are no image: nothing known on the clipboard.
    return out;
  }
  return set_none(out);
}

bool write(const Cell* value_in) {
  Rooted value(*value_in);
  std::vector<pc::Item> items;
  const Cell& v = value.cell;
  if (v.is(T_NONE)) {
    // Only emptied.
  } else if (v.is(T_STRING)) {
    items.push_back({pc::kText, string::to_utf8(&v)});
  } else if (v.is(T_BLOCK)) {
    std::string list;
    const i32 n = series::total_length(&v);
    for (i32 i = series::index_of(&v); i < n; i++) {
      const Cell path = *block::cell_at(&v, i);
      if (!path.is(T_FILE) && !path.is(T_STRING)) raise_error(Err::ScriptInvalidArg, &path);
      list += uri_of(&path) + "\r\n";
    }
    items.push_back({pc::kFiles, list});
  } else if (v.is(T_IMAGE)) {
    if (image::count_of(&v) > 0) {
      Rooted png;
      image::save_to_format(&v, &datatype::g_none, platform::image::kPng, &png.cell);
      const std::vector<u8> bytes = binary::bytes_of(&png.cell);
      items.push_back({pc::kPng, std::string(bytes.begin(), bytes.end())});
    }
  } else {
    raise_error(Err::ScriptInvalidArg, &v);
  }
  return pc::store(items);
}

}  // namespace zot::clipboard
