// The lexer engine: the scan loop, the open-series markers, the scanners of
// the structural token classes, syntax errors, and the text loaders.
#include "interpreter/lexer.h"

#include "datatypes/map.h"
#include "datatypes/point.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/heap.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace zot::lexer {

TokenFn g_scanners[kTokenClassCount];
TokenFn g_loaders[kTokenClassCount];
State* g_states = nullptr;

namespace {

constexpr u32 kInitialCells = 1000;
constexpr u32 kMaxCells = 1u << 26;
constexpr u32 kErrorTextMax = 30;

Cell* g_cells = nullptr;
u32 g_capacity = 0;
State* g_innermost = nullptr;

// The lexer's own throw: a refused error ends (or, resume, skips) the token
// without leaving the lexer.
struct Stop {
  const State* st;
  bool resume;
};

ZOT_INLINE u8 class_of(u8 b) { return u8(g_tables.class_word[b]); }


ZOT_INLINE bool has_open_series(const State* st) { return st->series_head > st->head; }
ZOT_INLINE Cell* innermost_marker(const State* st) { return g_cells + (st->series_head - 1); }
ZOT_INLINE u32 marker_type(const Cell* m) { return u32(m->triple_second()) & 0xFFFFu; }
ZOT_INLINE u32 marker_commas(const Cell* m) { return u32(m->triple_second()) >> 16; }
ZOT_INLINE u32 marker_enclosing(const Cell* m, u32 mi) { return mi - u32(m->triple_first()); }
ZOT_INLINE const u8* marker_opener(const State* st, const Cell* m) { return st->in_start + m->triple_third(); }

bool fire(State* st, Event ev, i32 type, const u8* start, const u8* end, const Cell* value) {
  const Hook* h = st->hook;
  if (!h || !h->fn || !(h->mask & ev)) return true;
  return h->fn(h->data, st, ev, type, start, end, value);
}

ZOT_NORETURN void feature_missing() { raise_error(Err::InternalFeatureNa); }

void mark_scan_cell(Cell* c) { collector::mark_cell(c); }
// What the active scans have built so far stays alive.
void mark_active_scans() { mark_states(mark_scan_cell); }

void grow_cells() {
  if (g_capacity >= kMaxCells) raise_error(Err::InternalNoMemory);
  u32 cap = g_capacity ? g_capacity * 2 : kInitialCells;
  g_cells = static_cast<Cell*>(runtime::resize(g_cells, std::size_t(cap) * sizeof(Cell)));
  g_capacity = cap;
}

// Opener position of the innermost open series, or null.
const u8* innermost_opener(const State* st) {
  if (!has_open_series(st)) return nullptr;
  return marker_opener(st, innermost_marker(st));
}

// ---------------------------------------------------------------------------
// Error arguments

Cell* push_string_of_codes(const u32* codes, u32 n) {
  u32 maxcp = 0;
  for (u32 i = 0; i < n; i++)
    if (codes[i] > maxcp) maxcp = codes[i];
  Cell* c = stack::reserve_slot();
  set_unset(c);
  string::make_at_unit(c, n, string::unit_for_char(maxcp));
  mem::Series* b = string::buffer_of(c);
  for (u32 i = 0; i < n; i++) b = string::append_char(b, codes[i]);
  return c;
}

// "(line N)"
Cell* push_line_text(i32 line) {
  char buf[32];
  int n = 0;
  const char* head = "(line ";
  while (*head) buf[n++] = *head++;
  char digits[12];
  int d = 0;
  u32 v = line < 0 ? 0u : u32(line);
  do {
    digits[d++] = char('0' + v % 10);
    v /= 10;
  } while (v);
  while (d) buf[n++] = digits[--d];
  buf[n++] = ')';
  u32 codes[32];
  for (int i = 0; i < n; i++) codes[i] = u8(buf[i]);
  return push_string_of_codes(codes, u32(n));
}

// At most 30 bytes from start, stopping at a line feed or the input end. A
// character cut by the limit is left out; bytes that are not UTF-8 show as
// U+FFFD, so the message itself can always be made.
Cell* push_error_text(const State* st, const u8* start) {
  u32 codes[kErrorTextMax];
  u32 n = 0;
  const u8* end = st->in_end;
  if (start < st->in_start || start > end) start = end;
  const u8* limit = end - start > kErrorTextMax ? start + kErrorTextMax : end;
  const u8* p = start;
  while (p < limit && *p != '\n') {
    if (*p < 0x80) {
      codes[n++] = *p++;
      continue;
    }
    i32 cp;
    const u8* next = unicode::decode_utf8_char(p, limit, cp);
    if (cp < 0) {
      // A sequence cut by the 30-byte limit (but whole in the input) ends the text.
      if (limit < end && unicode::utf8_sequence_length(*p) > limit - p) break;
      cp = 0xFFFD;
    }
    codes[n++] = u32(cp);
    p = next;
  }
  return push_string_of_codes(codes, n);
}

// ---------------------------------------------------------------------------
// Series markers

bool open_series(State* st, u32 type, const u8* opener) {
  if (has_open_series(st) && marker_type(innermost_marker(st)) == T_POINT2D)
    raise_syntax(st, opener, T_POINT2D);
  if (!fire(st, EV_OPEN, i32(type), opener, opener + 1, nullptr)) return false;
  u32 index = st->tail;
  Cell* m = alloc_slot(st);
  make_cell(m, (m->header & kCellNewLine) | kMarkerType, index - st->series_head, type,
            u32(opener - st->in_start));
  st->series_head = index + 1;
  st->entry_state = S_START;
  return true;
}

void set_entry_after_close(State* st) {
  st->entry_state =
      has_open_series(st) && is_any_path(marker_type(innermost_marker(st))) ? S_PATH : S_START;
}

// Turns the marker at index mi and the cells after it into one value of type.
void store_series(State* st, u32 mi, u32 type) {
  Cell* m = g_cells + mi;
  u32 enclosing = marker_enclosing(m, mi);
  u32 kind = marker_type(m);
  u32 count = st->tail - (mi + 1);
  const u8* opener = marker_opener(st, m);
  u32 result_type = kind == T_POINT2D ? (marker_commas(m) > 1 ? u32(T_POINT3D) : u32(T_POINT2D)) : type;
  if (st->load) {
    if (kind == T_POINT2D) {
      u32 commas = marker_commas(m);
      i32 ptype = commas > 1 ? T_POINT3D : T_POINT2D;
      if (commas > 2 || count != commas + 1) raise_syntax(st, opener, ptype);
      Cell coords[3];
      for (u32 i = 0; i < count; i++) coords[i] = g_cells[mi + 1 + i];
      Cell out;
      set_unset(&out);
      if (!point2d::make_from_cells(&out, coords, i32(count))) raise_syntax(st, opener, ptype);
      m = g_cells + mi;
      u32 nl = m->header & kCellNewLine;
      *m = out;
      m->header = (m->header & ~kCellNewLine) | nl;
    } else {
      if (kind == T_MAP && (count & 1)) raise_syntax(st, opener, T_MAP);
      // Allocation may collect: the cells stay reachable through the state chain.
      mem::Node n = mem::alloc_cells(count ? count : 1);
      mem::Series* s = mem::series_of(n);
      m = g_cells + mi;
      if (count) std::memcpy(s->head_ptr(), m + 1, std::size_t(count) * sizeof(Cell));
      s->tail = s->head + count * u32(sizeof(Cell));
      u32 nl = m->header & kCellNewLine;
      set_series(m, nl | (kind == T_MAP ? u32(T_BLOCK) : type), n);
      if (kind == T_MAP) map::from_literal(m);
    }
  } else {
    // Nothing is built outside load mode: the marker becomes a placeholder.
    set_unset(m);
  }
  st->tail = mi + 1;
  st->series_head = enclosing;
  st->token_type = i32(result_type);
  set_entry_after_close(st);
}

// Closes the innermost series with the delimiter at `at` of close_type;
// store_type is the type the value takes (a path may close as set-path!).
void close_series(State* st, u32 close_type, const u8* at, u32 store_type) {
  if (!has_open_series(st)) {
    st->open_type = i32(close_type);
    raise_syntax(st, at, kMissingHere);
  }
  u32 mi = st->series_head - 1;
  u32 kind = marker_type(g_cells + mi);
  if (!fire(st, EV_CLOSE, i32(close_type), at, at + 1, nullptr)) {
    set_entry_after_close(st);
    return;
  }
  bool fits;
  if (close_type == T_BLOCK) fits = kind == T_BLOCK || kind == T_MAP;
  else if (close_type == T_PAREN) fits = kind == T_PAREN || kind == T_POINT2D;
  else if (is_any_path(close_type)) fits = is_any_path(kind);
  else fits = kind == close_type;
  if (!fits) {
    st->open_type = i32(kind);
    raise_syntax(st, at, kMissingHere);
  }
  store_series(st, mi, store_type ? store_type : kind);
}

// After a path element: "/" goes on to the next element; ":" ends a set-path;
// a delimiter ends the path; anything else is not a path.
void continue_path(State* st) {
  const u8* p = st->pos;
  const u8* end = st->in_end;
  u32 mi = st->series_head - 1;
  u32 kind = marker_type(g_cells + mi);
  const u8* opener = marker_opener(st, g_cells + mi);
  u8 cls = p < end ? class_of(*p) : u8(C_EOF);
  switch (cls) {
    case C_SLASH:
      st->pos = p + 1;
      return;
    case C_COLON:
      if (kind != T_PATH || (p + 1 < end && p[1] == '/')) raise_syntax(st, opener, i32(kind));
      st->pos = p + 1;
      close_series(st, T_PATH, p, T_SET_PATH);
      return;
    case C_SPACE: case C_LF: case C_CONTROL: case C_BLOCK_OPEN: case C_BLOCK_CLOSE:
    case C_PAREN_OPEN: case C_PAREN_CLOSE: case C_BRACE_OPEN: case C_DQUOTE: case C_LESS:
    case C_SEMICOLON: case C_WORD: case C_INVALID: case C_EOF:
      close_series(st, kind, p, kind);
      return;
    default:
      raise_syntax(st, opener, i32(kind));
  }
}

// ---------------------------------------------------------------------------
// Unicode spaces inside word tokens

enum SpaceSplit { kWordToken, kOnlySpaces };

// The token [s, e) holds bytes from 0x80 up: it ends before its first Unicode
// space; leading spaces are whitespace (the scan resumes after them).
SpaceSplit split_unicode_spaces(State* st, const u8* s, const u8* e) {
  const u8* p = s;
  while (p < e && *p >= 0x80) {
    i32 cp;
    const u8* next = unicode::decode_utf8_char(p, e, cp);
    if (cp < 0) raise_syntax(st, s, T_WORD);
    if (!is_unicode_space(u32(cp))) break;
    p = next;
  }
  if (p > s) {
    st->pos = p;
    return kOnlySpaces;
  }
  while (p < e) {
    if (*p < 0x80) {
      ++p;
      continue;
    }
    i32 cp;
    const u8* next = unicode::decode_utf8_char(p, e, cp);
    if (cp < 0) raise_syntax(st, s, T_WORD);
    if (is_unicode_space(u32(cp))) {
      st->pos = st->token_end = p;
      return kWordToken;
    }
    p = next;
  }
  return kWordToken;
}

// ---------------------------------------------------------------------------
// Scanners of the structural classes (0-12) and of words and issues.

void scan_eof(State* st, const u8* start, const u8*, u32, bool) {
  // A NUL byte inside the input is not an end: refuse it rather than drop the rest.
  if (start < st->in_end) raise_syntax(st, start, kBadChar);
}

void scan_error(State* st, const u8* start, const u8*, u32, bool) {
  u8 prev = st->prev_state;
  if (st->entry_state == S_BRACE) raise_syntax(st, st->brace_start, T_STRING);
  if (st->entry_state == S_POINT) raise_syntax(st, st->point_start, T_POINT2D);
  i32 type = g_tables.state_type[prev];
  if (type == T_DATATYPE) raise_syntax(st, start, kMalconstruct);  // an unclosed "#("
  if (type == T_PATH && has_open_series(st)) {
    u32 kind = marker_type(innermost_marker(st));
    raise_syntax(st, innermost_opener(st), is_any_path(kind) ? i32(kind) : i32(T_PATH));
  }
  raise_syntax(st, start, type ? type : kBadChar);
}

void scan_block_open(State* st, const u8* start, const u8*, u32, bool) {
  st->pos = start + 1;
  open_series(st, T_BLOCK, start);
}

void scan_block_close(State* st, const u8* start, const u8*, u32, bool) {
  st->pos = start + 1;
  close_series(st, T_BLOCK, start, 0);
}

ZOT_INLINE bool is_point_char(u8 b) {
  switch (b) {
    case '\t': case ' ': case '#': case '+': case '-': case '.': case 'A': case 'E': case 'F':
    case 'I': case 'N': case 'a': case 'e': case 'f': case 'i': case 'n':
      return true;
    default:
      return b >= '0' && b <= '9';
  }
}

void scan_paren_open(State* st, const u8* start, const u8*, u32, bool) {
  st->pos = start + 1;
  // "(" then at least four number characters up to a "," opens a point literal.
  const u8* q = start + 1;
  while (q < st->in_end && is_point_char(*q)) ++q;
  if (q - (start + 1) >= 4 && (q == st->in_end || *q == ',')) {
    st->point_start = start;
    st->point_lines = st->lines_crossed;
    st->point_saved_entry = st->entry_state;
    st->entry_state = S_POINT;
    return;
  }
  open_series(st, T_PAREN, start);
}

void scan_paren_close(State* st, const u8* start, const u8*, u32, bool) {
  st->pos = start + 1;
  close_series(st, T_PAREN, start, 0);
}

// "{" at the token end (the token before it is brace-string text).
void scan_brace_open(State* st, const u8*, const u8* end, u32 flags, bool) {
  st->pos = end + 1;
  st->token_type = 0;
  if (st->entry_state != S_BRACE) {
    st->brace_start = end;
    st->brace_depth = 1;
    st->brace_flags = flags;
    st->brace_lines = st->lines_crossed;
    st->brace_line = st->line;
    fire(st, EV_OPEN, T_STRING, end, end + 1, nullptr);
    st->entry_state = S_BRACE;
    return;
  }
  st->brace_depth++;
  st->brace_flags |= flags;
}

void scan_brace_close(State* st, const u8*, const u8* end, u32 flags, bool) {
  st->pos = end + 1;
  st->brace_flags |= flags;
  if (--st->brace_depth > 0) {
    st->token_type = 0;
    return;
  }
  st->entry_state = S_START;
  if (st->line != st->brace_line) st->brace_flags |= F_MULTILINE;
  st->token_type = T_STRING;
  st->lines_crossed = st->brace_lines;
  const u8* s = st->brace_start;
  st->token_start = s;
  bool go = fire(st, EV_SCAN, T_STRING, s, end + 1, nullptr);
  if (!st->load) {
    load_text(st, s + 1, end, st->brace_flags, true, T_STRING, T_STRING, false);
    return;
  }
  if (!go) return;
  u32 tail0 = st->tail;
  load_text(st, s + 1, end, st->brace_flags, true, T_STRING, T_STRING, true);
  if (!fire(st, EV_LOAD, T_STRING, s, end + 1, g_cells + tail0)) st->tail = tail0;
}

// "#" at start, "[" at the end.
void scan_map_open(State* st, const u8* start, const u8* end, u32, bool) {
  st->pos = end + 1;
  open_series(st, T_MAP, start);
}

ZOT_INLINE u8 lower(u8 c) { return c >= 'A' && c <= 'Z' ? u8(c + 32) : c; }

bool same_text(const u8* a, u32 n, const char* b) {
  if (std::strlen(b) != n) return false;
  for (u32 i = 0; i < n; i++)
    if (lower(a[i]) != lower(u8(b[i]))) return false;
  return true;
}

// "#(" name ")": logic, none, unset or a datatype by name.
void scan_construct(State* st, const u8* start, const u8* end, u32, bool) {
  const u8* s = start + 2;
  u32 n = u32(end - 1 - s);
  Cell v;
  if (same_text(s, n, "true")) set_logic(&v, true);
  else if (same_text(s, n, "false")) set_logic(&v, false);
  else if (same_text(s, n, "none")) set_none(&v);
  else if (same_text(s, n, "unset")) set_unset(&v);
  else {
    u32 found = 0;
    for (u32 t = 1; t < u32(kTypeTableSize) && !found; t++) {
      const char* name = datatype::type_name(t);
      if (*name && same_text(s, n, name)) found = t;
    }
    if (!found) raise_syntax(st, start, kMalconstruct);
    set_datatype(&v, found);
  }
  st->token_type = v.type();
  if (!st->load) return;
  u32 tail0 = st->tail;
  Cell* c = copy_keeping_new_line(&v, alloc_slot(st));
  if (!fire(st, EV_LOAD, st->token_type, start, end, c)) st->tail = tail0;
}

void scan_comment(State*, const u8*, const u8*, u32, bool) {}

void scan_comma(State* st, const u8* start, const u8*, u32, bool) {
  st->pos = start + 1;
  if (has_open_series(st)) {
    Cell* m = innermost_marker(st);
    u32 kind = marker_type(m);
    if (kind == T_POINT2D) {
      m->set_triple_second(m->triple_second() + i32(kCommaStep));
      return;
    }
    if (kind == T_PAREN) {
      m->set_triple_second(i32(T_POINT2D + kCommaStep));
      return;
    }
  }
  raise_syntax(st, start, T_POINT2D);
}

// Decides the word type from the leading and trailing punctuation.
void scan_word(State* st, const u8* start, const u8*, u32, bool) {
  const u8* e = st->token_end;
  bool lead_colon = *start == ':';
  bool lead_quote = *start == '\'';
  bool trail_colon = e - start >= 2 && e[-1] == ':';
  i32 type = T_WORD;
  if (trail_colon) {
    if (st->entry_state == S_PATH) {
      st->pos = st->token_end = e - 1;  // the path takes the ":" (a set-path)
      type = lead_quote ? T_LIT_WORD : lead_colon ? T_GET_WORD : T_WORD;
    } else if (lead_colon) {
      raise_syntax(st, start, T_WORD);
    } else if (lead_quote) {
      raise_syntax(st, start, T_LIT_WORD);
    } else {
      type = T_SET_WORD;
    }
  } else if (lead_colon) {
    type = T_GET_WORD;
  } else if (lead_quote) {
    type = T_LIT_WORD;
  }
  st->token_type = st->scanner_type = type;
}

void scan_issue(State* st, const u8* start, const u8*, u32, bool) {
  if (st->token_end - start < 2) raise_syntax(st, start, T_ISSUE);
  st->token_type = st->scanner_type = T_ISSUE;
}

void check_string(State* st, const u8* start, const u8* end, u32 flags, bool) {
  load_text(st, start + 1, end - 1, flags, true, T_STRING, T_STRING, false);
}

// A word followed by "/": opens a path and loads the head word into it.
void scan_path_head(State* st, const u8* start, const u8* end, u32 flags, bool) {
  u32 type = *start == '\'' ? T_LIT_PATH : *start == ':' ? T_GET_PATH : T_PATH;
  if (!open_series(st, type, start)) {
    st->pos = end;
    return;
  }
  const u8* ws = type == T_PATH ? start : start + 1;
  st->lines_crossed = 0;
  if (st->load) {
    TokenFn load = g_loaders[TK_WORD];
    if (!load) feature_missing();
    st->scanner_type = st->token_type = T_WORD;
    st->token_end = end;
    load(st, ws, end, flags, true);
  }
  st->pos = end + 1;
  st->entry_state = S_PATH;
  st->token_type = 0;
}

// "%" signs, "{", text, "}" and as many "%": the token the table found may
// end at a shorter run of "%", then the real end lies further on.
struct RawExtent {
  const u8* body;
  const u8* body_end;
  const u8* after;
};

RawExtent raw_extent(State* st, const u8* start, const u8* end) {
  u32 n = 0;
  const u8* p = start;
  while (p < end && *p == '%') ++p, ++n;
  RawExtent r{p + 1, nullptr, nullptr};
  // Closing run at the token's end: "}" then k "%".
  const u8* q = end;
  u32 k = 0;
  while (q > r.body && q[-1] == '%') --q, ++k;
  if (k >= n && q > r.body && q[-1] == '}') {
    r.body_end = q - 1;
    r.after = q + n;
    return r;
  }
  for (const u8* s = q; s < st->in_end; s++) {
    if (*s != '}') continue;
    if (u32(st->in_end - (s + 1)) < n) break;
    u32 i = 0;
    while (i < n && s[1 + i] == '%') ++i;
    if (i == n) {
      r.body_end = s;
      r.after = s + 1 + n;
      return r;
    }
  }
  raise_syntax(st, start, T_STRING);
}

void scan_rawstring(State* st, const u8* start, const u8* end, u32, bool) {
  RawExtent r = raw_extent(st, start, end);
  st->pos = st->token_end = r.after;
  st->token_type = T_STRING;
}

// ---------------------------------------------------------------------------
// Loaders that exist so far (the others stay null until their datatypes do).

void load_string(State* st, const u8* start, const u8* end, u32 flags, bool load) {
  load_text(st, start + 1, end - 1, flags, true, T_STRING, T_STRING, load);
}

void load_tag(State* st, const u8* start, const u8* end, u32 flags, bool load) {
  load_text(st, start + 1, end - 1, flags, true, T_TAG, T_TAG, load);
}

void load_ref(State* st, const u8* start, const u8* end, u32 flags, bool load) {
  load_text(st, start + 1, end, flags, false, T_REF, T_REF, load);
}

void load_rawstring(State* st, const u8* start, const u8* end, u32, bool load) {
  RawExtent r = raw_extent(st, start, end);
  u32 flags = 0;
  for (const u8* p = r.body; p < r.body_end; p++) flags |= g_tables.class_word[*p];
  load_text(st, r.body, r.body_end, flags & ~0xFFu, false, T_STRING, T_STRING, load);
  st->pos = st->token_end = r.after;
}

// #"x": one character or escape.
void load_char(State* st, const u8* start, const u8* end, u32, bool load) {
  const u8* p = start + 2;
  const u8* e = end - 1;
  i32 cp = -1;
  if (p < e) {
    if (*p == '^') {
      cp = decode_escape(p + 1, e, &p);
    } else {
      p = unicode::decode_utf8_char(p, e, cp);
    }
  }
  if (cp < 0 || u32(cp) > unicode::kMaxCodePoint || p != e) raise_syntax(st, start, T_CHAR);
  if (!load) return;
  Cell* c = alloc_slot(st);
  const u32 nl = c->header & kCellNewLine;
  set_char(c, u32(cp))->header |= nl;
}

struct Init {
  Init() {
    g_scanners[TK_EOF] = scan_eof;
    g_scanners[TK_ERROR] = scan_error;
    g_scanners[TK_BLOCK_OPEN] = scan_block_open;
    g_scanners[TK_BLOCK_CLOSE] = scan_block_close;
    g_scanners[TK_PAREN_OPEN] = scan_paren_open;
    g_scanners[TK_PAREN_CLOSE] = scan_paren_close;
    g_scanners[TK_BRACE_OPEN] = scan_brace_open;
    g_scanners[TK_BRACE_CLOSE] = scan_brace_close;
    g_scanners[TK_MAP_OPEN] = scan_map_open;
    g_scanners[TK_PATH_HEAD] = scan_path_head;
    g_scanners[TK_CONSTRUCT] = scan_construct;
    g_scanners[TK_COMMENT] = scan_comment;
    g_scanners[TK_COMMA] = scan_comma;
    g_scanners[TK_STRING] = check_string;
    g_scanners[TK_WORD] = scan_word;
    g_scanners[TK_ISSUE] = scan_issue;
    g_scanners[TK_RAWSTRING] = scan_rawstring;
    g_loaders[TK_STRING] = load_string;
    g_loaders[TK_CHAR] = load_char;
    g_loaders[TK_TAG] = load_tag;
    g_loaders[TK_RAWSTRING] = load_rawstring;
    g_loaders[TK_REF] = load_ref;
  }
};
const Init g_init_tables;

// ---------------------------------------------------------------------------
// The scan loop

// After an error that the hook refused: go on after the token, always
// forward, and leave a brace string, point or path that cannot go on.
void resume_after_error(State& st, const u8* start) {
  if (st.pos <= start) st.pos = start + 1;
  if (st.pos > st.in_end) st.pos = st.in_end;
  if (st.token_class == TK_ERROR) {  // the rest of the bad token up to whitespace goes too
    while (st.pos < st.in_end) {
      u8 c = class_of(*st.pos);
      if (c == C_SPACE || c == C_LF || c == C_CONTROL || c == C_EOF) break;
      ++st.pos;
    }
  }
  if (st.entry_state == S_BRACE || st.entry_state == S_POINT) {
    st.entry_state = st.entry_state == S_POINT ? st.point_saved_entry : u8(S_START);
    st.brace_depth = 0;
  }
  if (st.entry_state == S_PATH && st.pos >= st.in_end && has_open_series(&st)) {
    u32 mi = st.series_head - 1;
    store_series(&st, mi, marker_type(g_cells + mi));
  }
}

// Drops the innermost marker, leaving its values in the enclosing series.
void drop_marker(State& st) {
  u32 mi = st.series_head - 1;
  u32 enclosing = marker_enclosing(g_cells + mi, mi);
  std::memmove(g_cells + mi, g_cells + mi + 1, std::size_t(st.tail - mi - 1) * sizeof(Cell));
  st.tail--;
  st.series_head = enclosing;
  set_entry_after_close(&st);
}

i32 run(State& st, bool one) {
  const Tables& T = g_tables;
  i32 result = 0;
  i32 carried_lines = 0;  // line breaks before Unicode spaces skipped as whitespace
  for (;;) {
    // Find the token: one table lookup per byte.
    u32 flags = 0;
    u8 state = st.entry_state;
    u8 prev = state;
    const u8* p = st.pos;
    const u8* start = p;
    const u8* const end = st.in_end;
    i32 line = st.line;
    i32 lines_before = carried_lines;
    carried_lines = 0;
    for (;;) {
      if (ZOT_UNLIKELY(p >= end)) {
        prev = state;
        state = T.transition[state][C_EOF];
        break;
      }
      u32 cw = T.class_word[*p];
      u8 next = T.transition[state][u8(cw)];
      if (next >= kFinal) {
        prev = state;
        state = next;
        if (T.closer[state - kFinal] == u8(cw)) {  // the closing byte belongs to the token
          flags |= cw & ~0xFFu;
          ++p;
        }
        break;
      }
      flags |= cw & ~0xFFu;
      state = next;
      i32 lf = u8(cw) == C_LF;
      line += lf;
      if (state == S_START) {  // whitespace before the token
        start = p + 1;
        lines_before += lf;
      }
      ++p;
    }
    u8 tc = u8(state - kFinal);
    st.token_class = tc;
    st.pos = st.token_end = p;
    st.token_start = start;
    st.line = line;
    st.lines_crossed = lines_before;
    st.prev_state = prev;
    st.scanner_type = -1;
    st.token_type = T.state_type[state];
    u8 entry = st.entry_state;
    u32 tail0 = st.tail;

    try {
      if (tc == TK_PATH_HEAD && entry == S_PATH) {  // "/" inside a path: just an element
        tc = TK_WORD;
        st.token_type = T_WORD;
      }
      if ((tc == TK_WORD || tc == TK_PATH_HEAD) && (flags & F_HIGH)) {
        if (split_unicode_spaces(&st, start, p) == kOnlySpaces) {
          if (entry == S_PATH) raise_syntax(&st, innermost_opener(&st), T_PATH);
          carried_lines = lines_before;
          continue;
        }
        if (st.token_end != p) {
          tc = TK_WORD;
          st.token_type = T_WORD;
          p = st.token_end;
        }
      }
      st.token_class = tc;
      if (tc == TK_URL && entry == S_PATH)  // "a/b:c": a ":" inside a path
        raise_syntax(&st, innermost_opener(&st), i32(marker_type(innermost_marker(&st))));
      if (tc == TK_EOF) {
        scan_eof(&st, start, p, flags, st.load);
        break;
      }
      if (tc == TK_POINT) {
        start = st.point_start;
        st.token_start = start;
        st.lines_crossed = st.point_lines;
        st.entry_state = st.point_saved_entry;
      }
      i32 ev_type = st.token_type ? st.token_type : -(i32(tc) + 1);
      if (tc == TK_ERROR && !st.load && !fire(&st, EV_ERROR, T_ERROR, start, p, nullptr)) {
        resume_after_error(st, start);
        continue;
      }
      if (st.hook && entry != S_BRACE && tc != TK_ERROR &&
          !fire(&st, EV_PRESCAN, ev_type, start, p, nullptr)) {
        // Refused: the token is skipped, and so is a delimiter the table left unread.
        if (st.pos == p && ((tc >= TK_BLOCK_OPEN && tc <= TK_MAP_OPEN) || tc == TK_COMMA)) st.pos = p + 1;
        if (tc == TK_POINT) st.pos = p;
        continue;
      }
      if (tc <= TK_COMMA || tc == TK_RAWSTRING) {
        g_scanners[tc](&st, start, p, flags, st.load);
        if (tc == TK_COMMENT) fire(&st, EV_SCAN, -(i32(TK_COMMENT) + 1), start, p, nullptr);
      }
      if (tc >= TK_STRING && !st.prescan) {
        TokenFn scanner = tc == TK_RAWSTRING ? nullptr : g_scanners[tc];
        TokenFn loader = g_loaders[tc];
        bool go = true;
        bool wants_scan = st.hook && (st.hook->mask & EV_SCAN);
        if (st.load || scanner || wants_scan) {
          if (scanner) scanner(&st, start, p, flags, false);
          else if (loader && !st.load) loader(&st, start, st.token_end, flags, false);
          go = fire(&st, EV_SCAN, st.token_type ? st.token_type : ev_type, start, st.token_end, nullptr);
        }
        if (st.load && go) {
          if (!loader) feature_missing();
          loader(&st, start, st.token_end, flags, true);
          if (st.tail > tail0 && !fire(&st, EV_LOAD, st.token_type, start, st.token_end, g_cells + tail0))
            st.tail = tail0;
        }
      }
      // A path goes on after each element until a delimiter ends it.
      if (st.entry_state == S_PATH && tc != TK_PATH_HEAD) continue_path(&st);
      if (st.token_type > 0) result = st.token_type;
      st.last_type = st.token_type;
    } catch (const Stop& stop) {
      if (stop.st != &st || !stop.resume) throw;
      // The hook refused the error: drop what the token made and go on after it.
      if (st.tail > tail0) st.tail = tail0;
      resume_after_error(st, start);
      continue;
    }
    if ((one || st.prescan) && st.token_type > 0 && st.entry_state == S_START &&
        !has_open_series(&st) && tc != TK_PATH_HEAD)
      break;
  }
  while (has_open_series(&st)) {
    st.open_type = i32(marker_type(innermost_marker(&st)));
    try {
      raise_syntax(&st, nullptr, kMissingOpener);
    } catch (const Stop& stop) {
      if (stop.st != &st || !stop.resume) throw;
      drop_marker(st);
    }
  }
  return result;
}

// Unlinks the state on every way out of a scan.
struct Link {
  State* st;
  explicit Link(State* s) : st(s) {
    s->parent = g_innermost;
    if (g_innermost) g_innermost->next = s;
    else g_states = s;
    g_innermost = s;
  }
  ~Link() {
    g_innermost = st->parent;
    if (g_innermost) g_innermost->next = nullptr;
    else g_states = nullptr;
  }
};

}  // namespace

// ---------------------------------------------------------------------------

Cell* cell_at(u32 index) { return g_cells + index; }
u32 cell_capacity() { return g_capacity; }

void init() {
  build_tables();
  if (!g_cells) grow_cells();
  collector::add_root_callback(mark_active_scans);
}

Cell* alloc_slot(State* st) {
  if (st->tail >= g_capacity) grow_cells();
  Cell* c = g_cells + st->tail++;
  make_cell(c, u32(T_UNSET) | (st->lines_crossed > 0 ? kCellNewLine : 0u), 0, 0, 0);
  return c;
}

void raise_syntax(State* st, const u8* start, i32 kind) {
  if (!st->load) {
    st->token_type = T_ERROR;
    throw Stop{st, false};
  }
  if (!start) start = innermost_opener(st);
  if (!start) start = st->token_start ? st->token_start : st->pos;
  if (st->hook) {
    i32 type = kind >= 1 ? kind
               : st->open_type ? st->open_type
               : st->token_type > 0 ? st->token_type
               : st->scanner_type > 0 ? st->scanner_type
               : i32(T_ERROR);
    if (!fire(st, EV_ERROR, type, start, st->token_end, nullptr)) throw Stop{st, true};
  }
  if (is_any_path(u32(st->open_type))) kind = kBadChar;
  // The delimiter of a "missing" error, from what is open and what was met.
  u32 current = kind == kMissingOpener ? u32('_') : start < st->in_end ? *start : 0u;
  u32 open = u32(st->open_type) & 0xFFFFu;
  u32 delimiter = 0;
  if (open == T_BLOCK || open == T_MAP) delimiter = current == ']' ? '[' : ']';
  else if (open == T_PAREN || open == T_POINT2D || open == T_POINT3D) delimiter = current == ')' ? '(' : ')';
  // Close everything this scan had open.
  st->tail = st->head;
  st->series_head = st->head;
  st->entry_state = S_START;

  Cell* line_text = push_line_text(st->line);
  Cell* error_text = push_error_text(st, start);
  Cell extra;
  if (kind == kBadChar) raise_error(Err::SyntaxBadChar, line_text, error_text);
  if (kind == kMalconstruct) raise_error(Err::SyntaxMalconstruct, line_text, error_text);
  if (kind == kMissingHere || kind == kMissingOpener) {
    set_char(&extra, delimiter);
    raise_error(Err::SyntaxMissing, line_text, &extra, error_text);
  }
  set_datatype(&extra, u32(kind));
  raise_error(Err::SyntaxInvalid, line_text, &extra, error_text);
}

i32 decode_escape(const u8* p, const u8* end, const u8** next) {
  *next = p;
  if (p >= end) return -1;
  u8 c = *p;
  if (c == '(') {
    const u8* q = p + 1;
    const u8* close = q;
    while (close < end && close - q <= 6 && *close != ')') ++close;
    if (close >= end || *close != ')') return -1;
    *next = close + 1;
    u32 n = u32(close - q);
    if (n == 0) return -1;
    static const struct {
      const char* name;
      i32 code;
    } kNames[] = {{"null", 0}, {"back", 8}, {"tab", 9}, {"line", 10}, {"page", 12}, {"esc", 27}, {"del", 127}};
    for (const auto& nm : kNames)
      if (same_text(q, n, nm.name)) return nm.code;
    if (n > 6) return -1;
    u32 v = 0;
    for (const u8* h = q; h < close; h++) {
      u8 d = *h;
      u32 dv;
      if (d >= '0' && d <= '9') dv = d - '0';
      else if (d >= 'a' && d <= 'f') dv = d - 'a' + 10u;
      else if (d >= 'A' && d <= 'F') dv = d - 'A' + 10u;
      else return -1;
      v = v * 16 + dv;
    }
    return v > unicode::kMaxCodePoint ? -1 : i32(v);
  }
  *next = p + 1;
  switch (c) {
    case '"': return '"';
    case '-': return '\t';
    case '/': return '\n';
    case '@': return 0;
    case '^': return '^';
    case '{': return '{';
    case '}': return '}';
    case '~': return 127;
    default: break;
  }
  if (c >= 'a' && c <= 'z') return c - 96;
  if (c >= 'A' && c <= '_') return c - 64;
  if (c < 0x80) return c;
  i32 cp;
  *next = unicode::decode_utf8_char(p, end, cp);
  return cp;
}

bool is_unicode_space(u32 cp) {
  switch (cp) {
    case 0x85: case 0xA0: case 0x1680: case 0x180E: case 0x2028: case 0x2029: case 0x202F:
    case 0x205F: case 0x3000: case 0x200B:
      return true;
    default:
      return cp >= 0x2000 && cp <= 0x200A;
  }
}

void load_text(State* st, const u8* start, const u8* end, u32, bool escapes, u8 type, i32 error_type,
               bool load) {
  // First pass: every character and escape must decode; find the widest one.
  u32 count = 0;
  u32 widest = 0;
  const u8* err_at = st->token_start ? st->token_start : start;
  for (const u8* p = start; p < end; count++) {
    i32 cp;
    if (*p == '^' && escapes) cp = decode_escape(p + 1, end, &p);
    else if (*p < 0x80) cp = *p++;
    else p = unicode::decode_utf8_char(p, end, cp);
    if (cp < 0) raise_syntax(st, err_at, error_type);
    if (u32(cp) > widest) widest = u32(cp);
  }
  if (!load) return;
  Cell* c = alloc_slot(st);
  string::make_at_unit(c, count, string::unit_for_char(widest));
  set_type(c, type);
  mem::Series* b = string::buffer_of(c);
  for (const u8* p = start; p < end;) {
    i32 cp;
    if (*p == '^' && escapes) cp = decode_escape(p + 1, end, &p);
    else if (*p < 0x80) cp = *p++;
    else p = unicode::decode_utf8_char(p, end, cp);
    b = string::append_char(b, u32(cp));
  }
  st->token_type = type;
}

i32 scan(Cell* dest, const u8* text, u32 length, const Options& opt, u32* consumed) {
  init();
  State st;
  Link link(&st);
  st.head = st.parent ? st.parent->tail : 0;
  st.series_head = st.tail = st.head;
  st.in_start = st.pos = st.token_end = text;
  st.in_end = text + length;
  st.hook = opt.hook;
  st.load = opt.load && opt.wrap;
  st.prescan = !opt.load;
  i32 result;
  try {
    result = run(st, opt.one);
  } catch (const Stop& stop) {
    if (stop.st != &st) throw;
    if (dest) set_none(dest);
    if (consumed) *consumed = u32(st.pos - text);
    return T_ERROR;
  }
  if (consumed) *consumed = u32(st.pos - text);
  if (st.load && (dest || opt.into)) {
    u32 count = st.tail - st.head;
    if (opt.into) {
      for (u32 i = 0; i < count; i++) {
        Cell* slot = mem::alloc_tail_cell(opt.into->series_node());  // may collect: the cells stay marked
        *slot = g_cells[st.head + i];
      }
    } else if (opt.one && !opt.keep_block && count >= 1) {
      *dest = g_cells[st.head];
    } else {
      mem::Node n = mem::alloc_cells(count ? count : 1);
      mem::Series* s = mem::series_of(n);
      if (count) std::memcpy(s->head_ptr(), g_cells + st.head, std::size_t(count) * sizeof(Cell));
      s->tail = s->head + count * u32(sizeof(Cell));
      set_series(dest, T_BLOCK, n);
    }
  }
  st.tail = st.head;
  return result;
}

void mark_states(void (*mark)(Cell* cell)) {
  for (State* s = g_states; s; s = s->next)
    for (u32 i = s->head; i < s->tail; i++) mark(g_cells + i);
}

}  // namespace zot::lexer
