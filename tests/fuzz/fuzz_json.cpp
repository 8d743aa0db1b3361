// Fuzzing the JSON decoder and encoder. Each input, read as UTF-8 text, goes
// to the decoder and to a small checker of JSON's grammar written here on
// its own; they must agree: decoded when the text is JSON, refused when it is
// not, and raised where a string holds a high surrogate escape without its
// low half (whichever of these comes first in the text). What decodes is
// encoded, plain and pretty, decoded again and encoded again: the two texts
// must be the same. Any disagreement traps.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "boot/startup.h"
#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "interpreter/json_codec.h"
#include "runtime/rooted.h"
#include "runtime/stack.h"
#include "runtime/throw.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using zot::u32;

using fuzz::attempt;
using fuzz::Bottom;
using fuzz::set_up;

enum Verdict { kJson, kNotJson, kLoneSurrogate };

// JSON's grammar over code points, by recursive descent.
class Checker {
 public:
  explicit Checker(const std::vector<u32>& t) : t_(t) {}

  Verdict run() {
    ws();
    if (!value()) return verdict_;
    ws();
    return i_ == t_.size() ? kJson : kNotJson;
  }

 private:
  u32 at(std::size_t i) const { return i < t_.size() ? t_[i] : 0xFFFFFFFFu; }
  bool is(u32 c) {
    if (at(i_) != c) return false;
    i_++;
    return true;
  }
  void ws() {
    while (at(i_) == ' ' || at(i_) == '\t' || at(i_) == '\n' || at(i_) == '\r') i_++;
  }
  bool fail() {
    if (verdict_ == kJson) verdict_ = kNotJson;
    return false;
  }
  bool word(const char* w) {
    for (; *w; w++)
      if (!is(u32(*w))) return fail();
    return true;
  }
  static int hex(u32 c) {
    if (c >= '0' && c <= '9') return int(c - '0');
    if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
    return -1;
  }
  long hex4(std::size_t i) const {
    long v = 0;
    for (std::size_t k = 0; k < 4; k++) {
      int d = hex(at(i + k));
      if (d < 0) return -1;
      v = v * 16 + d;
    }
    return v;
  }
  bool digits() {
    if (at(i_) < '0' || at(i_) > '9') return fail();
    while (at(i_) >= '0' && at(i_) <= '9') i_++;
    return true;
  }
  bool number() {
    is('-');
    if (is('0')) {
    } else if (!digits()) {
      return false;
    }
    if (is('.') && !digits()) return false;
    if (is('e') || is('E')) {
      if (!is('+')) is('-');
      if (!digits()) return false;
    }
    return true;
  }
  bool string() {
    if (!is('"')) return fail();
    std::vector<long> units;  // escaped code units, -1 for anything else
    for (;;) {
      u32 c = at(i_);
      if (c == 0xFFFFFFFFu || c < 0x20) return fail();
      i_++;
      if (c == '"') break;
      if (c != '\\') {
        units.push_back(-1);
        continue;
      }
      u32 e = at(i_++);
      if (e == 'u') {
        long v = hex4(i_);
        if (v < 0) return fail();
        i_ += 4;
        units.push_back(v);
      } else if (e == '"' || e == '\\' || e == '/' || e == 'b' || e == 'f' || e == 'n' || e == 'r' || e == 't') {
        units.push_back(-1);
      } else {
        return fail();
      }
    }
    for (std::size_t k = 0; k < units.size(); k++) {
      if (units[k] >= 0xD800 && units[k] <= 0xDBFF) {
        if (k + 1 >= units.size() || units[k + 1] < 0xDC00 || units[k + 1] > 0xDFFF) {
          verdict_ = kLoneSurrogate;
          return false;
        }
        k++;
      }
    }
    return true;
  }
  bool value() {
    switch (at(i_)) {
      case '{': {
        i_++;
        ws();
        if (is('}')) return true;
        for (;;) {
          ws();
          if (!string()) return false;
          ws();
          if (!is(':')) return fail();
          ws();
          if (!value()) return false;
          ws();
          if (is('}')) return true;
          if (!is(',')) return fail();
        }
      }
      case '[': {
        i_++;
        ws();
        if (is(']')) return true;
        for (;;) {
          ws();
          if (!value()) return false;
          ws();
          if (is(']')) return true;
          if (!is(',')) return fail();
        }
      }
      case '"': return string();
      case 't': return word("true");
      case 'f': return word("false");
      case 'n': return word("null");
      default: return number();
    }
  }

  const std::vector<u32>& t_;
  std::size_t i_ = 0;
  Verdict verdict_ = kJson;
};

std::vector<u32> code_points(const zot::Cell* s) {
  const zot::mem::Series* b = zot::string::buffer_of(s);
  std::vector<u32> v;
  for (u32 i = 0; i < b->length(); i++) v.push_back(zot::string::char_at(s, zot::i32(i)));
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Bottom bottom = set_up();
  if (size > 4096) return 0;
  zot::Rooted text, out, first, second, none;
  zot::set_none(&none.cell);
  // Bytes that are not UTF-8 never become a string to decode.
  if (!attempt(bottom, [&] { zot::string::make_from_utf8(&text.cell, reinterpret_cast<const char*>(data), size); }))
    return 0;
  Verdict expected = Checker(code_points(&text.cell)).run();
  bool decoded = false;
  bool raised = !attempt(bottom, [&] {
    zot::block::make_at(&out.cell, 1);
    decoded = zot::json::decode(&text.cell, &out.cell, nullptr);
  });
  if (expected == kLoneSurrogate && !raised) __builtin_trap();
  if (expected == kJson && (raised || !decoded)) __builtin_trap();
  if (expected == kNotJson && (raised || decoded)) __builtin_trap();
  if (!decoded) return 0;
  for (bool pretty : {false, true}) {
    zot::Rooted indent;
    if (pretty) zot::string::make_from_utf8(&indent.cell, " ", 1);
    else zot::set_none(&indent.cell);
    attempt(bottom, [&] {
      zot::Cell value = *zot::block::cell_at(&out.cell, 0);
      zot::string::make_at(&first.cell, 64);
      zot::json::encode(&value, &first.cell, &indent.cell, !pretty);
      zot::Rooted again;
      zot::block::make_at(&again.cell, 1);
      if (!zot::json::decode(&first.cell, &again.cell, nullptr)) __builtin_trap();
      zot::Cell back = *zot::block::cell_at(&again.cell, 0);
      zot::string::make_at(&second.cell, 64);
      zot::json::encode(&back, &second.cell, &indent.cell, !pretty);
      if (zot::string::to_utf8(&first.cell) != zot::string::to_utf8(&second.cell)) __builtin_trap();
    });
  }
  return 0;
}
