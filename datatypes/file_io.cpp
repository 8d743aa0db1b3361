#include "datatypes/file_io.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/file.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "platform/files.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace zot::simple_io {

namespace {

constexpr i32 kNoLimit = 0x7FFFFFFF;
constexpr const char* kLineEnd = kWriteCrlf ? "\r\n" : "\n";

Cell* push_none() { return stack::push(&datatype::g_none); }

ZOT_NORETURN void cannot_open(const Cell* file) { raise_error(Err::AccessCannotOpen, file); }

std::string path_or_fail(const Cell* file) {
  std::string path;
  if (!os_path(file, &path)) cannot_open(file);
  return path;
}

// The integer of a /part or /seek argument, -1 when absent.
i64 int_refinement(const char* name, const Cell* arg) {
  if (!arg) return -1;
  if (!arg->is(T_INTEGER)) series::bad_refine(name, arg);
  return arg->int_value();
}

bool ends_with_slash(const Cell* file) {
  Cell f = *file;
  const i32 n = string::length_at(&f);
  return n > 0 && string::char_at(&f, string::index_of(&f) + n - 1) == '/';
}

// Malformed UTF-8 raises access/invalid-utf8 with its bytes.
void check_utf8(const std::string& bytes) {
  const u8* p = reinterpret_cast<const u8*>(bytes.data());
  const u8* end = p + bytes.size();
  while (p < end) {
    if (*p < 0x80) {
      p++;
      continue;
    }
    i32 cp;
    const u8* next = unicode::decode_utf8_char(p, end, cp);
    if (cp < 0) unicode::raise_invalid_utf8(p, std::size_t(next - p));
    p = next;
  }
}

// Appends the text's UTF-8 (at most part characters; part < 0: all).
void put_text(std::string& out, const Cell* text, i64 part, bool binary) {
  const i32 p = part < 0 ? -1 : i32(std::min<i64>(part, kNoLimit));
  const std::size_t at = out.size();
  out.resize(at + unicode::utf8_size_of(text, p));
  unicode::write_utf8(text, reinterpret_cast<u8*>(out.data() + at), p, false);
  if constexpr (kWriteCrlf) {
    if (!binary) {
      std::string tail = out.substr(at);
      out.resize(at);
      for (char c : tail) {
        if (c == '\n') out += '\r';
        out += c;
      }
    }
  } else {
    (void)binary;
  }
}

// Appends the bytes a value is written as: a string! as UTF-8, a binary! as
// its bytes, any other value molded (at most part characters or bytes).
void put_value(std::string& out, const Cell* value, i64 part, bool binary) {
  Cell v = *value;
  if (v.is(T_STRING)) {
    put_text(out, &v, part, binary);
  } else if (v.is(T_BINARY)) {
    std::vector<u8> b = binary::bytes_of(&v);
    std::size_t n = part >= 0 && u64(part) < b.size() ? std::size_t(part) : b.size();
    out.append(reinterpret_cast<const char*>(b.data()), n);
  } else {
    Cell* text = push_none();
    string::make_at(text, 64);
    actions::lookup<actions::kMold>(v.type())(&v, text, actions::MoldOptions{}, kNoLimit);
    put_text(out, text, part, binary);
    stack::g_top = text;
  }
}

}  // namespace

bool os_path(const Cell* file, std::string* out) {
  *out = string::to_utf8(file);
  return out->find('\0') == std::string::npos;
}

bool dir_path(const Cell* file) {
  Cell f = *file;
  const i32 n = string::length_at(&f);
  if (n == 0) return false;
  const i32 at = string::index_of(&f);
  auto c = [&](i32 back) { return back <= n ? string::char_at(&f, at + n - back) : u32('/'); };
  if (c(1) == '/') return true;
  if (c(1) != '.') return false;
  // "." or "/." at the end; ".." or "/.." at the end.
  return c(2) == '/' || (c(2) == '.' && c(3) == '/');
}

Cell* read(Cell* file, const actions::ReadOptions& o) {
  if (dir_path(file)) return read_dir(file);
  const i64 limit = int_refinement("part", o.part);
  const i64 offset = int_refinement("seek", o.seek);
  const std::string path = path_or_fail(file);
  std::string bytes;
  switch (platform::read_file_range(path.c_str(), offset, limit, mem::kMaxSeriesBytes, &bytes)) {
    case platform::ReadResult::kOk: break;
    case platform::ReadResult::kFailed: cannot_open(file);
    case platform::ReadResult::kTooBig: raise_no_memory();
  }
  if (o.binary) return binary::push_bytes(reinterpret_cast<const u8*>(bytes.data()), u32(bytes.size()));
  Cell* out = push_none();
  return o.lines ? split_lines(out, std::move(bytes)) : bytes_to_string(out, std::move(bytes));
}

Cell* read_dir(Cell* dir) {
  const std::string path = path_or_fail(dir);
  std::vector<platform::DirEntry> entries;
  if (!platform::list_dir(path.c_str(), &entries)) cannot_open(dir);
  Cell* out = push_none();
  block::make_at(out, i32(std::min<std::size_t>(entries.size(), kNoLimit)));
  Cell* name = push_none();
  for (const platform::DirEntry& e : entries) {
    // A name that is not UTF-8 shows its bad bytes as U+FFFD.
    std::string text = unicode::lossy_utf8(reinterpret_cast<const u8*>(e.name.data()), e.name.size());
    if (e.directory) text += '/';
    file::make_from_utf8(name, text.data(), text.size());
    block::append_cell(out, name);
  }
  stack::g_top = name;
  return out;
}

void write(Cell* file, Cell* data, const actions::WriteOptions& o) {
  const i64 limit = int_refinement("part", o.part);
  if (o.part && limit < 0) return;  // a negative length writes nothing
  const i64 offset = int_refinement("seek", o.seek);
  const std::string path = path_or_fail(file);
  std::string bytes;
  if (o.lines && data->is(T_BLOCK)) {
    for (i32 i = 0;; i++) {
      Cell blk = *data;
      if (i >= block::length_at(&blk)) break;
      Cell v = *block::cell_at(&blk, blk.series_index() + i);
      put_value(bytes, &v, -1, o.binary);
      bytes += kLineEnd;
    }
  } else {
    put_value(bytes, data, limit, o.binary);
    if (o.lines) bytes += kLineEnd;
  }
  const bool ok = o.append || o.seek
                      ? platform::write_file_at(path.c_str(), bytes.data(), bytes.size(), offset, o.append)
                      : platform::replace_file(path.c_str(), bytes.data(), bytes.size());
  if (!ok) cannot_open(file);
}

Cell* query(Cell* file) {
  Cell* out = push_none();
  std::string path;
  bool is_dir;
  i64 seconds;
  i32 nanoseconds;
  if (!os_path(file, &path) || !platform::modified_time(path.c_str(), &is_dir, &seconds, &nanoseconds)) return out;
  if (ends_with_slash(file) && !is_dir) return out;
  date::from_epoch(out, seconds);
  out->set_float(date::time_of(out) + double(nanoseconds / 1000000) / 1000.0);
  return out;
}

bool remove(const Cell* file) {
  std::string path;
  if (!os_path(file, &path)) return false;
  return ends_with_slash(file) ? platform::remove_dir(path.c_str()) : platform::remove_file(path.c_str());
}

bool rename(const Cell* from, const Cell* to) {
  std::string a, b;
  return os_path(from, &a) && os_path(to, &b) && platform::rename_path(a.c_str(), b.c_str());
}

bool exists(const Cell* file) {
  std::string path;
  return os_path(file, &path) && platform::path_kind(path.c_str(), nullptr) != platform::PathKind::kMissing;
}

bool make_dir(const Cell* file) {
  std::string path;
  return os_path(file, &path) && platform::make_dir(path.c_str());
}

Cell* bytes_to_string(Cell* out, std::string bytes) {
  unicode::drop_cr_before_lf(bytes);
  check_utf8(bytes);
  mem::Node n = unicode::utf8_to_new_string(reinterpret_cast<const u8*>(bytes.data()), bytes.size(), nullptr, false);
  return make_cell(out, T_STRING, 0, n, 0);
}

Cell* split_lines(Cell* out, std::string bytes) {
  // The whole text is decoded once; the lines are copied out of it.
  const i32 count = i32(std::count(bytes.begin(), bytes.end(), '\n'));
  Cell* text = push_none();
  bytes_to_string(text, std::move(bytes));
  block::make_at(out, count + 1);
  Cell* line = push_none();
  const i32 total = string::total_length(text);
  for (i32 start = 0; start < total;) {
    Cell rest = *text;
    rest.set_series_index(start);
    const i32 lf = string::find_char(&rest, '\n');
    const i32 end = lf < 0 ? total : start + lf;
    mem::Series* src = string::buffer_of(text);
    mem::Series* copy = string::copy_widened(src, nullptr, src->unit(), 0, start, end, end - start);
    make_cell(line, T_STRING, 0, copy->node, 0);
    block::append_cell(out, line);
    start = end + 1;
  }
  stack::g_top = text;
  return out;
}

}  // namespace zot::simple_io
