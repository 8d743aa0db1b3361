// The parse engine against the input: one terminal rule item (a literal, a
// bitset, a datatype) matched at a position of block, text or binary input,
// the direct searches of to/thru, and the input bookkeeping.
#include <algorithm>

#include "datatypes/bitset.h"
#include "datatypes/char.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "interpreter/lexer.h"
#include "interpreter/parse_engine.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/unicode.h"

namespace zot::parse {

namespace {

ZOT_NORETURN void fail_with(Err e, const Cell& arg) {
  Cell a = arg;
  raise_error(e, &a);
}


// A text key's units: its buffer from its index (a tag also stands between "<" and ">").
struct TextKey {
  const u8* p;
  u32 unit;
  u32 len;
};
ZOT_INLINE TextKey text_key(const Cell& key) {
  const mem::Series* s = mem::series_of(key.series_node());
  const u32 len = s->length();
  const u32 from = std::min(u32(key.series_index()), len);
  return TextKey{s->head_ptr() + u64(from) * s->unit(), s->unit(), len - from};
}

// UTF-8 bytes of a code point; returns the count.
u32 utf8_of(u32 cp, u8* out) {
  if (cp < 0x80) {
    out[0] = u8(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = u8(0xC0 | (cp >> 6));
    out[1] = u8(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = u8(0xE0 | (cp >> 12));
    out[1] = u8(0x80 | ((cp >> 6) & 0x3F));
    out[2] = u8(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = u8(0xF0 | (cp >> 18));
  out[1] = u8(0x80 | ((cp >> 12) & 0x3F));
  out[2] = u8(0x80 | ((cp >> 6) & 0x3F));
  out[3] = u8(0x80 | (cp & 0x3F));
  return 4;
}

}  // namespace

// ---------------------------------------------------------------------------
// The input

void Engine::enter_input(const Cell& series) {
  input = series;
  const u32 t = series.type();
  kind = is_any_block(t) ? kBlockInput : t == T_BINARY ? kBinaryInput : kTextInput;
  pos = u32(series.series_index());
  limit = -1;
  refresh();
}

// After Zot code ran or the input changed: its length may be anything now.
void Engine::refresh() {
  const u32 len = u32(input_length());
  if (pos > len) pos = len;
  tail = (limit >= 0 && u32(limit) < len) ? u32(limit) : len;
}

void Engine::adjust_limit(u32 at, i32 delta) {
  if (limit < 0 || at > u32(limit)) return;
  limit = std::max<i32>(i32(at), limit + delta);
}

Cell Engine::item_value(u32 p) const {
  const mem::Series* s = mem::series_of(input.series_node());
  Cell v;
  switch (kind) {
    case kBlockInput:
      v = s->cells()[p];
      break;
    case kTextInput:
      char_::make_at(&v, string::get_char(s->head_ptr() + u64(p) * s->unit(), s->unit()));
      break;
    default:
      set_integer(&v, s->head_ptr()[p]);
  }
  return v;
}

Cell Engine::copy_part(u32 from, u32 to) {
  Cell src = input;
  src.set_series_index(i32(from));
  Cell part;
  set_integer(&part, to > from ? i32(to - from) : 0);
  Cell out;
  set_none(&out);
  auto fn = actions::get<actions::kCopy>(input.type());
  if (!fn) fn = series::copy;  // the series base copies any unit width
  return *fn(&src, &out, &part, false, nullptr);
}

// ---------------------------------------------------------------------------
// Terminals

i32 Engine::terminal_at(u32 p, const Cell& key, bool quoted) {
  const u32 kt = key.type();
  const mem::Series* in = mem::series_of(input.series_node());
  if (kind == kBlockInput) {
    if (p >= tail) return -1;
    const Cell it = in->cells()[p];
    if (!quoted) {
      if (kt == T_DATATYPE) return it.type() == key.datatype_id() ? 1 : -1;
      if (kt == T_TYPESET) return typeset::has(&key, it.type()) ? 1 : -1;
      if (kt == T_BITSET) return it.is(T_CHAR) && bitset::has(&key, it.char_value()) ? 1 : -1;
      if (kt == T_LIT_PATH) {
        Cell k = key;
        set_type(&k, T_PATH);
        return actions::compare(&it, &k, case_op) ? 1 : -1;
      }
    }
    // Words match words of their own kind; a lit-word matches a word.
    const i32 op = is_any_word(kt)
                       ? (case_op == actions::kStrictEqual ? actions::kEqualForm1 : actions::kEqualForm2)
                       : case_op;
    return actions::compare(&it, &key, op) ? 1 : -1;
  }
  const u32 unit = in->unit();
  const u8* base = in->head_ptr();
  const bool fold = case_op != actions::kStrictEqual;
  if (kind == kTextInput) {
    switch (kt) {
      case T_CHAR: {
        if (p >= tail) return -1;
        u32 a = string::get_char(base + u64(p) * unit, unit), b = key.char_value();
        if (fold) {
          a = case_::upper_char(a);
          b = case_::upper_char(b);
        }
        return a == b ? 1 : -1;
      }
      case T_STRING: case T_FILE: case T_URL: case T_EMAIL: case T_REF: case T_TAG: {
        const TextKey k = text_key(key);
        const u32 extra = kt == T_TAG ? 2 : 0;
        if (u64(p) + k.len + extra > tail) return -1;
        const u8* at = base + u64(p) * unit;
        if (kt == T_TAG) {
          if (string::get_char(at, unit) != '<' || string::get_char(at + u64(k.len + 1) * unit, unit) != '>')
            return -1;
          at += unit;
        }
        for (u32 n = 0; n < k.len; n++) {
          u32 a = string::get_char(at + u64(n) * unit, unit), b = string::get_char(k.p + u64(n) * k.unit, k.unit);
          if (a != b && (!fold || case_::upper_char(a) != case_::upper_char(b))) return -1;
        }
        return i32(k.len + extra);
      }
      case T_BITSET:
        if (p >= tail) return -1;
        return bitset::has(&key, string::get_char(base + u64(p) * unit, unit)) ? 1 : -1;
      case T_DATATYPE: case T_TYPESET:
        if (!quoted) raise_error(Err::ScriptParseUnsupported);
        [[fallthrough]];
      default:
        fail_with(Err::ScriptParseRule, key);
    }
  }
  // Binary input: bytes.
  switch (kt) {
    case T_CHAR: case T_INTEGER: {
      if (p >= tail) return -1;
      const u32 b = kt == T_CHAR ? key.char_value() : u32(key.int_value());
      return b <= 255 && base[p] == b ? 1 : -1;
    }
    case T_BINARY: {
      const TextKey k = text_key(key);
      if (u64(p) + k.len > tail) return -1;
      return std::memcmp(base + p, k.p, k.len) == 0 ? i32(k.len) : -1;
    }
    case T_STRING: case T_FILE: case T_URL: case T_EMAIL: case T_REF: case T_TAG: {
      // Text matches its UTF-8 bytes.
      const TextKey k = text_key(key);
      u32 off = p;
      u8 bytes[4];
      for (u32 n = 0; n < k.len; n++) {
        const u32 count = utf8_of(string::get_char(k.p + u64(n) * k.unit, k.unit), bytes);
        if (u64(off) + count > tail || std::memcmp(base + off, bytes, count) != 0) return -1;
        off += count;
      }
      return i32(off - p);
    }
    case T_BITSET:
      if (p >= tail) return -1;
      return bitset::has(&key, base[p]) ? 1 : -1;
    case T_DATATYPE: case T_TYPESET: {
      if (quoted) fail_with(Err::ScriptParseRule, key);
      if (p >= tail) return -1;
      // One value scanned with the lexer, from a copy (the buffer may move).
      const u32 avail = tail - p;
      u32 window = std::min<u32>(avail, 4096);
      for (;;) {
        scratch.assign(reinterpret_cast<const char*>(mem::series_of(input.series_node())->head_ptr() + p), window);
        lexer::Options o;
        o.one = true;
        o.wrap = false;
        u32 consumed = 0;
        i32 type = lexer::scan(nullptr, reinterpret_cast<const u8*>(scratch.data()), window, o, &consumed);
        if (consumed >= window && window < avail) {  // the value may go on past the window
          window = avail - window < window * 15 ? avail : window * 16;
          continue;
        }
        if (type <= 0 || type == T_ERROR || consumed == 0) return -1;
        const bool ok = kt == T_DATATYPE ? u32(type) == key.datatype_id() : typeset::has(&key, u32(type));
        return ok ? i32(consumed) : -1;
      }
    }
    default:
      fail_with(Err::ScriptParseRule, key);
  }
}

Status Engine::terminal(const Cell& key, bool quoted, const Cell& blk, u32 i) {
  const i32 n = terminal_at(pos, key, quoted);
  match = n >= 0;
  if (match) pos += u32(n);
  if (ZOT_UNLIKELY(traced)) fire(w::match, blk, i);
  return match ? kMatch : kFail;
}

bool Engine::simple_key(const Cell& blk, u32 j, Cell* key, bool* skip) {
  const mem::Series* s = mem::series_of(blk.series_node());
  if (j >= s->length()) return false;
  Cell c = s->cells()[j];
  *skip = false;
  if (c.is(T_WORD)) {
    const Keyword kw = keyword_of(&c);
    if (kw == kSkip) {
      *skip = true;
      return true;
    }
    if (kw != kNoKeyword && kw < kOnly) return false;
    c = lookup(c);
  }
  switch (c.type()) {
    case T_BLOCK: case T_PAREN: case T_WORD: case T_SET_WORD: case T_GET_WORD: case T_INTEGER:
      return false;
    default:
      *key = c;
      return true;
  }
}

namespace {

enum AltKind : u8 { kAltKey, kAltSkip, kAltEnd };
constexpr u32 kMaxAlternatives = 8;

struct Alternatives {
  u32 n = 0;
  AltKind kind[kMaxAlternatives];
  Cell key[kMaxAlternatives];
};

// Text input and keys that are all single characters or bitsets: one pass
// over the units, each read once.
bool char_keys_only(const Alternatives& a) {
  for (u32 k = 0; k < a.n; k++)
    if (a.kind[k] == kAltKey && !a.key[k].is(T_CHAR) && !a.key[k].is(T_BITSET)) return false;
  return true;
}

}  // namespace

// The earliest position from pos (up to the tail itself) where one of the
// alternatives matches; its match length to len.
static i32 earliest(Engine& e, const Alternatives& a, u32* len) {
  if (e.kind == kTextInput && char_keys_only(a)) {
    const bool fold = e.case_op != actions::kStrictEqual;
    u32 chars[kMaxAlternatives];
    const Cell* sets[kMaxAlternatives];
    u32 nchars = 0, nsets = 0;
    bool any = false, end = false;
    for (u32 k = 0; k < a.n; k++) {
      if (a.kind[k] == kAltSkip) any = true;
      else if (a.kind[k] == kAltEnd) end = true;
      else if (a.key[k].is(T_BITSET)) sets[nsets++] = &a.key[k];
      else chars[nchars++] = fold ? case_::upper_char(a.key[k].char_value()) : a.key[k].char_value();
    }
    if (any && e.pos < e.tail) {
      *len = 1;
      return i32(e.pos);
    }
    const mem::Series* in = mem::series_of(e.input.series_node());
    const u32 unit = in->unit();
    const u8* base = in->head_ptr();
    bitset::Members members[kMaxAlternatives];
    for (u32 k = 0; k < nsets; k++) members[k] = bitset::members(sets[k]);
    for (u32 p = e.pos; p < e.tail; p++) {
      const u32 c = string::get_char(base + u64(p) * unit, unit);
      bool hit = false;
      for (u32 k = 0; k < nsets && !hit; k++) hit = members[k].has(c);
      if (nchars && !hit) {
        const u32 f = fold ? case_::upper_char(c) : c;
        for (u32 k = 0; k < nchars && !hit; k++) hit = f == chars[k];
      }
      if (hit) {
        *len = 1;
        return i32(p);
      }
    }
    if (end) {
      *len = 0;
      return i32(e.tail);
    }
    return -1;
  }
  for (u32 p = e.pos; p <= e.tail; p++) {
    for (u32 k = 0; k < a.n; k++) {
      i32 m;
      if (a.kind[k] == kAltEnd) m = p == e.tail ? 0 : -1;
      else if (a.kind[k] == kAltSkip) m = p < e.tail ? 1 : -1;
      else m = e.terminal_at(p, a.key[k], false);
      if (m >= 0) {
        *len = u32(m);
        return i32(p);
      }
    }
  }
  return -1;
}

i32 Engine::search(const Cell& key, bool skip, u32* len) {
  Alternatives a;
  a.n = 1;
  a.kind[0] = skip ? kAltSkip : kAltKey;
  a.key[0] = key;
  return earliest(*this, a, len);
}

bool Engine::search_alternatives(const Cell& block, i32* at, u32* len) {
  Alternatives a;
  u32 j = u32(block.series_index());
  for (;;) {
    const mem::Series* s = mem::series_of(block.series_node());
    if (j >= s->length() || a.n == kMaxAlternatives) return false;
    const Cell c = s->cells()[j];
    bool skip = false;
    if (c.is(T_WORD) && keyword_of(&c) == kEnd) a.kind[a.n] = kAltEnd;
    else if (simple_key(block, j, &a.key[a.n], &skip)) a.kind[a.n] = skip ? kAltSkip : kAltKey;
    else return false;
    a.n++;
    j++;
    s = mem::series_of(block.series_node());
    if (j >= s->length()) break;
    const Cell bar = s->cells()[j];
    if (!bar.is(T_WORD) || keyword_of(&bar) != kBar) return false;
    j++;
  }
  *at = earliest(*this, a, len);
  return true;
}

namespace {

// The units from p up to end that all pass the test, as a count.
template <class Test>
ZOT_INLINE u32 run_length(const u8* base, u32 unit, u32 p, u32 end, Test test) {
  const u32 from = p;
  if (unit == 1) {
    while (p < end && test(u32(base[p]))) p++;
  } else {
    while (p < end && test(string::get_char(base + u64(p) * unit, unit))) p++;
  }
  return p - from;
}

}  // namespace

i32 Engine::run_of(const Cell& key, i32 max) {
  if (kind != kTextInput || (!key.is(T_CHAR) && !key.is(T_BITSET))) return -1;
  const mem::Series* in = mem::series_of(input.series_node());
  const u32 unit = in->unit();
  const u8* base = in->head_ptr();
  const u32 end = max < 0 || u64(pos) + u64(max) > tail ? tail : pos + u32(max);
  if (pos >= end) return 0;
  if (key.is(T_BITSET)) {
    const bitset::Members set = bitset::members(&key);
    return i32(run_length(base, unit, pos, end, [&](u32 c) { return set.has(c); }));
  }
  if (case_op != actions::kStrictEqual) {
    const u32 want = case_::upper_char(key.char_value());
    return i32(run_length(base, unit, pos, end, [&](u32 c) { return case_::upper_char(c) == want; }));
  }
  const u32 want = key.char_value();
  return i32(run_length(base, unit, pos, end, [&](u32 c) { return c == want; }));
}

}  // namespace zot::parse
