#include "interpreter/json_codec.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/map.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "interpreter/lexer.h"
#include "interpreter/routines.h"
#include "runtime/actions.h"
#include "runtime/cycles.h"
#include "runtime/dtoa.h"
#include "runtime/errors.h"
#include "runtime/rooted.h"
#include "runtime/scan_numbers.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace zot::routines {

namespace {

// ---- text

// Four hex digits at src[i..i+4) as a code unit, or -1.
template <typename U>
i32 hex4(const U* src, std::size_t i, std::size_t n) {
  if (n - i < 4) return -1;
  i32 v = 0;
  for (std::size_t k = 0; k < 4; k++) {
    i32 d = numtext::hex_digit_value(src[i + k]);
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

// Decodes the escapes of src[0..n) into out. On a malformed escape answers
// false; out then holds what was decoded before it.
template <typename U>
bool unescape_units(const U* src, std::size_t n, std::vector<u32>& out) {
  std::size_t i = 0;
  while (i < n) {
    u32 c = src[i++];
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    if (i >= n) return false;
    u32 e = src[i++];
    switch (e) {
      case '"': case '\\': case '/': out.push_back(e); break;
      case 'b': out.push_back(8); break;
      case 'f': out.push_back(12); break;
      case 'n': out.push_back(10); break;
      case 'r': out.push_back(13); break;
      case 't': out.push_back(9); break;
      case 'u': {
        i32 unit = hex4(src, i, n);
        if (unit < 0) return false;
        i += 4;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
          // A high surrogate takes the low half that must follow it.
          if (n - i < 6 || src[i] != '\\' || src[i + 1] != 'u') return false;
          i32 low = hex4(src, i + 2, n);
          if (low < 0xDC00 || low > 0xDFFF) return false;
          i += 6;
          out.push_back(0x10000u + ((u32(unit) - 0xD800u) << 10) + (u32(low) - 0xDC00u));
        } else {
          out.push_back(u32(unit));
        }
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

// A new string! in out holding the code points (the narrowest unit).
template <typename T>
void make_text(Cell* out, const T* cps, std::size_t n) {
  u32 top = 0;
  for (std::size_t i = 0; i < n; i++) top |= cps[i];
  u32 unit = top <= 0xFF ? 1 : top <= 0xFFFF ? 2 : 4;
  string::make_at_unit(out, u32(n), unit);
  mem::Series* b = string::buffer_of(out);
  u8* p = b->head_ptr();
  if (unit == 1) {
    for (std::size_t i = 0; i < n; i++) p[i] = u8(cps[i]);
  } else if (unit == 2) {
    for (std::size_t i = 0; i < n; i++) {
      u16 v = u16(cps[i]);
      std::memcpy(p + 2 * i, &v, 2);
    }
  } else {
    for (std::size_t i = 0; i < n; i++) {
      u32 v = u32(cps[i]);
      std::memcpy(p + 4 * i, &v, 4);
    }
  }
  b->tail = b->head + u32(n) * unit;
}

// The units of a string from its index to its tail, copied (the scan then
// never reads a buffer that moves).
template <typename U>
std::vector<U> units_of(const Cell* s) {
  const mem::Series* b = string::buffer_of(s);
  u32 len = b->length(), idx = s->series_index() < 0 ? len : std::min(u32(s->series_index()), len);
  std::vector<U> v(len - idx);
  if (!v.empty()) std::memcpy(v.data(), b->head_ptr() + idx * sizeof(U), v.size() * sizeof(U));
  return v;
}

// ---- json-unescape

template <typename U>
void unescape_string(Cell* str) {
  std::vector<U> src = units_of<U>(str);
  std::vector<u32> out;
  out.reserve(src.size());
  bool ok = unescape_units(src.data(), src.size(), out);
  if (!ok) {
    // In place, the string holds what was rewritten, then the rest as it was.
    for (std::size_t i = out.size(); i < src.size(); i++) out.push_back(src[i]);
  }
  Rooted text;
  make_text(&text.cell, out.data(), out.size());
  Cell s = *str;
  mem::Series* b = string::buffer_of(&s);
  string::truncate_at(b, std::min(s.series_index(), i32(b->length())));
  string::concatenate(&s, &text.cell, -1, 0, true, string::kConcatAppend);
  if (!ok) raise_error(Err::ScriptInvalidData, &s);
}

void json_unescape() {
  Cell* s = stack::g_base;
  switch (string::buffer_of(s)->unit()) {
    case 1: unescape_string<u8>(s); break;
    case 2: unescape_string<u16>(s); break;
    default: unescape_string<u32>(s); break;
  }
}

// ---- json-scan

// Characters that may not stand in a word: a member name made only of
// others (and not beginning with a digit or an apostrophe) becomes a word.
bool not_word_char(u32 c) {
  switch (c) {
    case '/': case '\\': case '^': case ',': case '[': case ']': case '(': case ')': case '{': case '}':
    case '"': case '#': case '%': case '$': case '@': case ':': case ';': case '\n': case 0xA0: case ' ':
    case '\t': case '\r': case '<': case '>':
      return true;
    default:
      return false;
  }
}

ZOT_INLINE bool is_digit(u32 c) { return c >= '0' && c <= '9'; }

// The decoder mirrors the grammar of JSON text: values, objects of members,
// arrays, strings and numbers, with the line count and the position that an
// error names kept as the grammar's rules keep them.
template <typename U>
class Decoder {
 public:
  Decoder(std::vector<U>&& text, const Cell* out) : text_(std::move(text)), out_(*out) {
    begin_ = text_.data();
    p_ = begin_;
    end_ = begin_ + text_.size();
    mark_ = last_lf_ = begin_;
  }

  bool run();

  i32 line_count() const { return line_ct_; }
  i32 mark_offset() const { return i32(mark_ - begin_); }
  i32 last_lf_offset() const { return i32(last_lf_ - begin_); }

 private:
  struct Open {
    mem::Node block;   // the block being filled
    mem::Node parent;  // the block that holds it
    u32 at;            // its position in the parent
    bool object;
  };

  ZOT_INLINE u32 peek() const { return p_ < end_ ? u32(*p_) : 0xFFFFFFFFu; }

  void ws() {
    while (p_ < end_) {
      u32 c = *p_;
      if (c == '\n') {
        ++p_;
        line_ct_++;
        last_lf_ = mark_ = p_;
      } else if (c == ' ' || c == '\t' || c == '\r') {
        ++p_;
      } else {
        break;
      }
    }
  }

  bool literal(const char* word) {
    std::size_t n = std::strlen(word);
    if (std::size_t(end_ - p_) < n) return false;
    for (std::size_t i = 0; i < n; i++)
      if (u32(p_[i]) != u32(u8(word[i]))) return false;
    p_ += n;
    return true;
  }

  mem::Node target() const { return open_.empty() ? out_.cell.series_node() : open_.back().block; }

  void emit(const Cell* v) {
    Cell b;
    set_series(&b, T_BLOCK, target());
    block::append_cell(&b, v);
  }

  void open(bool object) {
    Rooted b;
    block::make_at(&b.cell, 4);
    mem::Node parent = target();
    u32 at = mem::series_of(parent)->length();
    emit(&b.cell);
    open_.push_back(Open{b.cell.series_node(), parent, at, object});
  }

  // The container just closed becomes its value (an object a map!).
  void close() {
    Open o = open_.back();
    open_.pop_back();
    if (!o.object) return;
    Rooted m, b;
    set_series(&b.cell, T_BLOCK, o.block);
    map::make_at(&m.cell, &b.cell, 0);
    mem::series_of(o.parent)->cells()[o.at] = m.cell;
  }

  bool string_literal(Cell* out);
  bool number(Cell* out);
  void key(Cell* str);

  std::vector<U> text_;
  Rooted out_;
  const U* begin_;
  const U* p_;
  const U* end_;
  const U* mark_;
  const U* last_lf_;
  i32 line_ct_ = 1;
  std::vector<Open> open_;
  std::vector<u32> scratch_;
};

template <typename U>
bool Decoder<U>::string_literal(Cell* out) {
  const U* q = p_ + 1;
  bool escaped = false;
  for (;;) {
    if (q >= end_) return false;
    u32 c = *q;
    if (c == '"') break;
    if (c < 0x20) return false;
    if (c == '\\') {
      if (q + 1 >= end_) return false;
      u32 e = q[1];
      if (e == 'u') {
        if (hex4(q, 2, std::size_t(end_ - q)) < 0) return false;
        q += 6;
      } else if (e == '"' || e == 't' || e == '\\' || e == '/' || e == 'n' || e == 'r' || e == 'b' || e == 'f') {
        q += 2;
      } else {
        return false;
      }
      escaped = true;
      continue;
    }
    ++q;
  }
  const U* s = p_ + 1;
  std::size_t n = std::size_t(q - s);
  p_ = q + 1;
  if (!escaped) {
    make_text(out, s, n);
    return true;
  }
  scratch_.clear();
  if (!unescape_units(s, n, scratch_)) {
    // What the string holds after an in-place rewrite that stopped there.
    for (std::size_t i = scratch_.size(); i < n; i++) scratch_.push_back(s[i]);
    Rooted bad;
    make_text(&bad.cell, scratch_.data(), scratch_.size());
    raise_error(Err::ScriptInvalidData, &bad.cell);
  }
  make_text(out, scratch_.data(), scratch_.size());
  return true;
}

// The value of number text too large or too small for a double: infinity
// or zero, by the decimal exponent of its first significant digit.
double out_of_range(const char* t) {
  bool negative = *t == '-';
  if (negative) ++t;
  long magnitude = 0;
  bool seen = false, fraction = false;
  for (; *t && *t != 'e' && *t != 'E'; ++t) {
    if (*t == '.') {
      fraction = true;
    } else if (!seen && *t == '0') {
      if (fraction) magnitude--;
    } else if (!seen) {
      seen = true;
      if (fraction) magnitude--;
    } else if (!fraction) {
      magnitude++;
    }
  }
  if (*t) {
    long e = std::strtol(t + 1, nullptr, 10);
    magnitude += e > 1000000000L ? 1000000000L : e < -1000000000L ? -1000000000L : e;
  }
  double d = magnitude > 0 ? HUGE_VAL : 0.0;
  return negative ? -d : d;
}

// A number: optional "-", "0" or digits not starting with 0, an optional
// fraction and exponent (each dropped when it has no digit); its value is
// the integer! or float! that the same text loads as.
template <typename U>
bool Decoder<U>::number(Cell* out) {
  const U* q = p_;
  if (q < end_ && *q == '-') ++q;
  if (q >= end_ || !is_digit(*q)) return false;
  if (*q == '0') {
    ++q;
  } else {
    while (q < end_ && is_digit(*q)) ++q;
  }
  bool is_float = false;
  if (q + 1 < end_ && *q == '.' && is_digit(q[1])) {
    q += 2;
    while (q < end_ && is_digit(*q)) ++q;
    is_float = true;
  }
  if (q < end_ && (*q == 'e' || *q == 'E')) {
    const U* e = q + 1;
    if (e < end_ && (*e == '+' || *e == '-')) ++e;
    if (e < end_ && is_digit(*e)) {
      while (e < end_ && is_digit(*e)) ++e;
      q = e;
      is_float = true;
    }
  }
  std::size_t n = std::size_t(q - p_);
  char small[64];
  std::vector<char> big;
  char* t = small;
  if (n >= sizeof small) {
    big.resize(n + 1);
    t = big.data();
  }
  for (std::size_t i = 0; i < n; i++) t[i] = char(p_[i]);
  t[n] = 0;
  p_ = q;
  if (!is_float) {
    i32 err = 0;
    i32 v = numtext::text_to_integer(reinterpret_cast<const u8*>(t), u32(n), 1, &err);
    if (err == 0) {
      set_integer(out, v);
      return true;
    }
  }
  double d = 0;
  if (n > numtext::kMaxFloatText) {
    // Beyond what float text holds: the same correctly rounded reading.
    auto r = std::from_chars(t, t + n, d);
    if (r.ec == std::errc::result_out_of_range) d = out_of_range(t);
  } else {
    numtext::bytes_to_float(reinterpret_cast<const u8*>(t), u32(n), 0, &d);
  }
  set_float(out, d);
  return true;
}

// Characters that the lexer does not keep in a word's text: controls,
// Unicode spaces and surrogate halves (and, first, DEL and the byte-order
// mark).
bool unkept_in_word(u32 c, bool first) {
  if (c < 0x20 || (c >= 0xD800 && c <= 0xDFFF) || lexer::is_unicode_space(c)) return true;
  return first && (c == 0x7F || c == 0xFEFF);
}

// A member name that has the form of a word, and reads back as that word
// with the same text, becomes that word.
template <typename U>
void Decoder<U>::key(Cell* str) {
  const mem::Series* b = string::buffer_of(str);
  u32 n = b->length(), unit = b->unit();
  if (n == 0) return;
  auto at = [&](u32 i) { return string::get_char(b->head_ptr() + i * unit, unit); };
  u32 first = at(0);
  if (not_word_char(first) || is_digit(first) || first == '\'' || unkept_in_word(first, true)) return;
  for (u32 i = 1; i < n; i++)
    if (not_word_char(at(i)) || unkept_in_word(at(i), false)) return;
  if (n > 1 && (first == '+' || first == '-' || first == '.')) {
    u32 second = at(1);
    if (is_digit(second)) return;
    if (second == '.' && first != '.' && n > 2 && is_digit(at(2))) return;
  }
  std::vector<u8> utf8;
  utf8.reserve(n);
  u8 seq[4];
  for (u32 i = 0; i < n; i++) {
    int k = unicode::encode_utf8_char(at(i), seq);
    utf8.insert(utf8.end(), seq, seq + k);
  }
  u32 sym = symbol::make_from_bytes(utf8.data(), u32(utf8.size()));
  word::make_at(sym, str);
}

template <typename U>
bool Decoder<U>::run() {
  Rooted v;
  for (;;) {
    // A value: white space, then one of the kinds.
    ws();
    u32 c = peek();
    if (c == '{' || c == '[') {
      ++p_;
      open(c == '{');
      ws();
      if (peek() == (c == '{' ? u32('}') : u32(']'))) {
        ++p_;
        close();
        goto closed;
      }
      if (c == '[') continue;
      goto member;
    }
    if (literal("true")) {
      set_logic(&v.cell, true);
    } else if (literal("false")) {
      set_logic(&v.cell, false);
    } else if (literal("null")) {
      set_none(&v.cell);
    } else if (c == '"') {
      if (!string_literal(&v.cell)) return false;
    } else if (!number(&v.cell)) {
      return false;
    }
    emit(&v.cell);
  closed:
    // After a value: a separator and the next member or element, or the
    // end of its container (and then of the value that container was).
    for (;;) {
      mark_ = p_;
      ws();
      if (open_.empty()) return p_ == end_;
      const bool object = open_.back().object;
      c = peek();
      if (c == ',') {
        ++p_;
        ws();
        if (object) goto member;
        break;
      }
      if (c != (object ? u32('}') : u32(']'))) return false;
      ++p_;
      close();
    }
    continue;
  member:
    // A member: its name, ":" and its value.
    ws();
    if (peek() != '"' || !string_literal(&v.cell)) return false;
    ws();
    if (peek() != ':') return false;
    ++p_;
    mark_ = p_;
    key(&v.cell);
    emit(&v.cell);
  }
}

// Decodes with the decoder of the text's unit.
template <typename U>
bool decode_with(const Cell* text, Cell* out, json::Failure* failure) {
  Decoder<U> d(units_of<U>(text), out);
  if (d.run()) return true;
  if (failure) {
    i32 base = text->series_index() + 1;
    failure->line = d.line_count();
    failure->index = base + d.mark_offset();
    failure->line_start = base + d.last_lf_offset();
  }
  return false;
}

void json_scan() {
  Cell input = stack::g_base[0], out = stack::g_base[1];
  json::Failure f;
  u32 before = series::buffer_of(&out)->length();
  bool ok = json::decode(&input, &out, &f);
  if (!ok) {
    // The error's facts, in place of what was decoded: the line count and
    // the two positions as indexes.
    series::buffer_of(&out)->tail = series::buffer_of(&out)->head + before * sizeof(Cell);
    Cell n;
    for (i32 v : {f.line, f.index, f.line_start}) {
      set_integer(&n, v);
      block::append_cell(&out, &n);
    }
  }
  set_logic(stack::g_base, ok);
}


// ---- json-emit

constexpr i32 kNoLimit = 0x7FFFFFFF;

// Writes values as JSON text into a buffer of code points, which goes into
// the output string in chunks.
class Encoder {
 public:
  Encoder(Cell* output, const Cell* indent, bool ascii) : out_(output), ascii_(ascii) {
    pretty_ = indent->is(T_STRING);
    if (pretty_) {
      const mem::Series* b = string::buffer_of(indent);
      u32 unit = b->unit(), len = b->length();
      for (u32 i = u32(std::max(indent->series_index(), 0)); i < len; i++) indent_.push_back(string::get_char(b->head_ptr() + i * unit, unit));
    }
    buf_.reserve(kChunk + 64);
  }

  void value(const Cell* v);
  void finish() { flush(); }

 private:
  static constexpr std::size_t kChunk = 1 << 16;

  void put(u32 c) { buf_.push_back(c); }
  void put(const char* t) {
    while (*t) buf_.push_back(u8(*t++));
  }
  void flush() {
    if (buf_.empty()) return;
    Rooted text;
    make_text(&text.cell, buf_.data(), buf_.size());
    string::concatenate(out_, &text.cell, -1, 0, true, string::kConcatAppend);
    buf_.clear();
  }
  void maybe_flush() {
    if (buf_.size() >= kChunk) flush();
  }
  void new_line(i32 change) {
    level_ += change;
    put('\n');
    for (i32 i = 0; i < level_; i++) buf_.insert(buf_.end(), indent_.begin(), indent_.end());
  }

  bool normal(u32 c) const {
    if (c < 32 || c == '"' || c == '\\') return false;
    return !ascii_ || c <= 127;
  }
  void hex_escape(u32 unit) {
    static const char digits[] = "0123456789ABCDEF";
    put('\\');
    put('u');
    for (int shift = 12; shift >= 0; shift -= 4) put(u8(digits[(unit >> shift) & 15]));
  }
  void char_out(u32 c) {
    if (normal(c)) {
      put(c);
      return;
    }
    switch (c) {
      case '"': put("\\\""); return;
      case '\\': put("\\\\"); return;
      case 8: put("\\b"); return;
      case 12: put("\\f"); return;
      case 10: put("\\n"); return;
      case 13: put("\\r"); return;
      case 9: put("\\t"); return;
      default: break;
    }
    if (c <= 0xFFFF) {
      hex_escape(c);
    } else {
      hex_escape(((c - 0x10000) >> 10) + 0xD800);
      hex_escape(((c - 0x10000) & 1023) + 0xDC00);
    }
  }
  // The text of a string from its index, quoted and escaped.
  void text(const Cell* s) {
    put('"');
    const mem::Series* b = string::buffer_of(s);
    u32 unit = b->unit(), len = b->length();
    for (u32 i = u32(std::max(s->series_index(), 0)); i < len; i++) {
      char_out(string::get_char(b->head_ptr() + i * unit, unit));
      if (buf_.size() >= kChunk) {
        // Flushing allocates: the buffer is read again afterwards.
        Rooted keep(*s);
        flush();
        b = string::buffer_of(&keep.cell);
      }
    }
    put('"');
  }
  void utf8_text(const char* t, u32 n) {
    put('"');
    const u8* p = reinterpret_cast<const u8*>(t);
    const u8* end = p + n;
    while (p < end) {
      i32 cp;
      p = unicode::decode_utf8_char(p, end, cp);
      char_out(u32(cp));
    }
    put('"');
  }
  // A value's form (or mold) written as a JSON string.
  void as_text(const Cell* v, bool molded) {
    Rooted keep(*v), t;
    string::make_at(&t.cell, 64);
    if (molded) {
      actions::lookup<actions::kMold>(keep.cell.type())(&keep.cell, &t.cell, actions::MoldOptions{},
                                                                          kNoLimit);
    } else {
      actions::lookup<actions::kForm>(keep.cell.type())(&keep.cell, &t.cell, nullptr, kNoLimit);
    }
    text(&t.cell);
  }
  void number(double d) {
    if (!std::isfinite(d)) {
      // JSON has no infinities and no NaN.
      put("null");
      return;
    }
    int len;
    const char* t = dtoa::float_to_text(d, 0, true, &len);
    for (int i = 0; i < len; i++) put(u8(t[i]));
  }
  void array(const Cell* b);
  void members(const Cell* v);
  void member(const Cell* key, const Cell* v, bool first);

  Cell* out_;
  bool ascii_;
  bool pretty_ = false;
  std::vector<u32> indent_;
  i32 level_ = 0;
  std::vector<u32> buf_;
};

void Encoder::value(const Cell* in) {
  maybe_flush();
  Cell v = *in;
  switch (v.type()) {
    case T_NONE: put("null"); return;
    case T_LOGIC: put(v.logic_value() ? "true" : "false"); return;
    case T_INTEGER: {
      char t[16];
      int n = std::snprintf(t, sizeof t, "%d", v.int_value());
      for (int i = 0; i < n; i++) put(u8(t[i]));
      return;
    }
    case T_FLOAT: case T_PERCENT: number(v.float_value()); return;
    case T_STRING: text(&v); return;
    case T_MAP: case T_OBJECT: members(&v); return;
    default: break;
  }
  if (is_any_block(v.type())) array(&v);
  else as_text(&v, !is_any_string(v.type()));
}

void Encoder::array(const Cell* in) {
  Rooted b(*in);
  b.cell.header = T_BLOCK;
  u32 len = series::buffer_of(&b.cell)->length();
  u32 start = u32(std::max(b.cell.series_index(), 0));
  if (start >= len) {
    put("[]");
    return;
  }
  // A block that holds itself has no JSON text; deep nesting ends in an error.
  cycles::Guard guard(b.cell.series_node());
  put('[');
  if (pretty_) new_line(1);
  for (u32 i = start; i < series::buffer_of(&b.cell)->length(); i++) {
    if (i > start) {
      put(',');
      if (pretty_) new_line(0);
    }
    Cell item = series::buffer_of(&b.cell)->cells()[i];
    if (is_any_block(item.type()) && cycles::find(item.series_node())) raise_error(Err::InternalTooDeep);
    value(&item);
  }
  if (pretty_) new_line(-1);
  put(']');
}

void Encoder::member(const Cell* key_in, const Cell* v, bool first) {
  if (!first) {
    put(',');
    if (pretty_) new_line(0);
  }
  Rooted key(*key_in), val(*v);
  u32 t = key.cell.type();
  if (t == T_WORD || t == T_SET_WORD || t == T_GET_WORD || t == T_LIT_WORD) {
    utf8_text(symbol::name_text(key.cell.word_symbol()), symbol::name_length(key.cell.word_symbol()));
  } else if (t == T_STRING) {
    text(&key.cell);
  } else {
    as_text(&key.cell, true);
  }
  put(':');
  if (pretty_) put(' ');
  value(&val.cell);
}

// A map's pairs or an object's fields, in their order.
void Encoder::members(const Cell* in) {
  Rooted v(*in);
  bool first = true;
  bool is_map = v.cell.is(T_MAP);
  mem::Node node = is_map ? v.cell.map_block() : v.cell.object_context();
  if (cycles::find(node)) raise_error(Err::InternalTooDeep);
  cycles::Guard guard(node);
  u32 n = is_map ? mem::series_of(node)->length() / 2 : context::word_count(node);
  for (u32 i = 0; i < n; i++) {
    Cell key, val;
    if (is_map) {
      const Cell* pair = mem::series_of(node)->cells() + 2 * i;
      if (pair[1].header == 0) continue;  // a removed pair
      key = pair[0];
      val = pair[1];
    } else {
      key = *context::word_at(node, i);
      val = *context::value_at(node, i);
    }
    if (first) {
      put('{');
      if (pretty_) new_line(1);
    }
    member(&key, &val, first);
    first = false;
  }
  if (first) {
    put("{}");
    return;
  }
  if (pretty_) new_line(-1);
  put('}');
}

void json_emit() {
  Cell indent = stack::g_base[2], value = stack::g_base[1];
  json::encode(&value, stack::g_base, &indent, stack::g_base[3].logic_value());
}

}  // namespace

}  // namespace zot::routines

namespace zot::json {

bool decode(const Cell* text, Cell* out, Failure* failure) {
  switch (string::buffer_of(text)->unit()) {
    case 1: return routines::decode_with<u8>(text, out, failure);
    case 2: return routines::decode_with<u16>(text, out, failure);
    default: return routines::decode_with<u32>(text, out, failure);
  }
}

void encode(const Cell* value, Cell* output, const Cell* indent, bool ascii) {
  Rooted v(*value);
  routines::Encoder e(output, indent, ascii);
  e.value(&v.cell);
  e.finish();
}

}  // namespace zot::json

namespace zot::routines {

void register_json() {
  register_entry("json-unescape", json_unescape);
  register_entry("json-scan", json_scan);
  register_entry("json-emit", json_emit);
}

}  // namespace zot::routines
