// The lexer: turns UTF-8 source text into values.
//
// A table-driven scanner. Every byte has a class word (a character class in
// the low 8 bits, token flags above); a transition table over the scanner
// states and the 40 classes decides, one lookup per byte, where each token
// ends and which of the 36 token classes it belongs to. Each token class has
// a scanner (checks the token, moves the position) and a loader (builds the
// value), both plain function pointers in tables indexed by token class.
//
// Values are collected in one shared cell buffer and copied into a block when
// a series closes or the scan ends. Scans nest (a loader or the event hook may
// scan again): each active scan owns one State, chained from g_states.
#pragma once

#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot::lexer {

// ---------------------------------------------------------------------------
// Character classes (the low byte of a class word).
enum CharClass : u8 {
  C_SPACE = 0,     // TAB, CR, space
  C_LF,            // line feed
  C_DIGIT,         // 1-9
  C_ZERO,          // 0
  C_BLOCK_OPEN,    // [
  C_BLOCK_CLOSE,   // ]
  C_PAREN_OPEN,    // (
  C_PAREN_CLOSE,   // )
  C_BRACE_OPEN,    // {
  C_BRACE_CLOSE,   // }
  C_DQUOTE,        // "
  C_SHARP,         // #
  C_QUOTE,         // '
  C_COLON,         // :
  C_X,             // x X
  C_T,             // T
  C_H,             // h
  C_LOWER_E,       // e
  C_UPPER_E,       // E
  C_HEX_LOWER,     // a-d f
  C_HEX_UPPER,     // A-D F
  C_SLASH,         // /
  C_BACKSLASH,     // backslash
  C_LESS,          // <
  C_GREATER,       // >
  C_EQUAL,         // =
  C_PERCENT,       // %
  C_COMMA,         // ,
  C_SEMICOLON,     // ;
  C_AT,            // @
  C_DOT,           // .
  C_DOLLAR,        // $
  C_PLUS,          // +
  C_MINUS,         // -
  C_CARET,         // ^
  C_CONTROL,       // other control bytes
  C_CONTINUATION,  // 0x7F-0xBF
  C_WORD,          // word characters and UTF-8 lead bytes 0xC2-0xF7
  C_INVALID,       // 0xC0 0xC1 0xF8-0xFF
  C_EOF,           // NUL; also read once at the end of input
  kClassCount
};

// Flag bits of a class word; a token's flags are the OR over its bytes.
constexpr u32 F_PERCENT = 0x00040000u;
constexpr u32 F_GREATER = 0x00080000u;
constexpr u32 F_LESS = 0x00100000u;
constexpr u32 F_SIGN = 0x00200000u;
constexpr u32 F_NUL = 0x00400000u;
constexpr u32 F_SHARP = 0x00800000u;
constexpr u32 F_EXP = 0x01000000u;
constexpr u32 F_QUOTE = 0x02000000u;
constexpr u32 F_COLON = 0x04000000u;
constexpr u32 F_COMMA = 0x08000000u;
constexpr u32 F_DOT = 0x10000000u;
constexpr u32 F_CARET = 0x20000000u;   // the token holds escapes
constexpr u32 F_LEAD2 = 0x40000000u;   // UTF-8 lead bytes 0xC2-0xEF
constexpr u32 F_LEAD4 = 0x80000000u;   // UTF-8 lead bytes 0xF0-0xF7
constexpr u32 F_MULTILINE = 0x00020000u;  // a brace string spanning lines
constexpr u32 F_HIGH = 0x00000100u;       // any byte from 0x80 up (the word must be decoded)
// Text unit a token needs: 1, 2 or 4.
ZOT_INLINE u32 unit_of_flags(u32 flags) {
  u32 u = 1u << (flags >> 30);
  return u > 4 ? 4 : u;
}

// ---------------------------------------------------------------------------
// Token classes. Names follow the words that describe the classes to scripts.
enum TokenClass : u8 {
  TK_EOF = 0,
  TK_ERROR,
  TK_BLOCK_OPEN,
  TK_BLOCK_CLOSE,
  TK_PAREN_OPEN,
  TK_PAREN_CLOSE,
  TK_BRACE_OPEN,
  TK_BRACE_CLOSE,
  TK_MAP_OPEN,
  TK_PATH_HEAD,
  TK_CONSTRUCT,
  TK_COMMENT,
  TK_COMMA,
  TK_STRING,
  TK_WORD,
  TK_ISSUE,
  TK_INTEGER,
  TK_REFINEMENT,
  TK_CHAR,
  TK_FILE,
  TK_BINARY,
  TK_PERCENT,
  TK_FLOAT,
  TK_SPECIAL_FLOAT,
  TK_TUPLE,
  TK_DATE,
  TK_PAIR,
  TK_POINT,
  TK_TIME,
  TK_MONEY,
  TK_TAG,
  TK_URL,
  TK_EMAIL,
  TK_HEX,
  TK_RAWSTRING,
  TK_REF,
  kTokenClassCount
};

// Scanner states 0-64; a table entry of kFinal + class ends a token of that
// class without consuming the byte. Entry states: where a token may begin.
constexpr int kStateCount = 65;
constexpr u8 kFinal = 66;
enum EntryState : u8 {
  S_START = 0,   // between tokens
  S_BRACE = 4,   // inside a brace string
  S_POINT = 35,  // inside a point literal after "("
  S_PATH = 59,   // a path element after "/"
};

// An open-series marker in the cell buffer is a triple!: first = cells from
// the enclosing series' first cell to the marker, second = series type (low
// 16 bits; each comma adds 0x10000), third = byte offset of the opener.
constexpr u8 kMarkerType = T_TRIPLE;
constexpr u32 kCommaStep = 0x10000u;

// ---------------------------------------------------------------------------
// The tables (built by init() from the rules in lexer_tables.cpp).
struct Tables {
  u32 class_word[256];
  u8 transition[kStateCount][kClassCount];
  u8 state_type[kFinal + kTokenClassCount];  // datatype id of a partial token / a class
  u8 closer[kTokenClassCount];  // the class of a closing byte the token keeps, or 0xFF
};
extern Tables g_tables;
// Builds g_tables; idempotent. Ends the process when the rules leave a hole.
void build_tables();
const char* state_name(int state);

// ---------------------------------------------------------------------------
// Events of the scan hook (bits of its mask).
enum Event : u32 {
  EV_PRESCAN = 1,
  EV_SCAN = 2,
  EV_LOAD = 4,
  EV_OPEN = 8,
  EV_CLOSE = 16,
  EV_ERROR = 32,
};

struct State;

// The hook through which a watcher (the `<lexer-callback>` of `transcode
// /trace`, once the evaluator exists) follows a scan. type: a datatype id,
// 0 for none, or -(class + 1) for a token class without a datatype. start/end
// bound the token (byte positions in the input); value is the loaded value
// for EV_LOAD, else null. A false result refuses: prescan - do not scan the
// token further; scan - do not load it; load - drop the value; open/close -
// do not open or close the series; error - do not raise (the scan goes on
// after the token). The hook may move st->pos to resume scanning elsewhere.
struct Hook {
  bool (*fn)(void* data, State* st, Event event, i32 type, const u8* start, const u8* end,
             const Cell* value);
  void* data;
  u32 mask;
};

// Scanner and loader signature: (state, token start, token end, flags, load).
// load = false asks for the checks only. On success the position moves past
// the token; a malformed token calls raise_syntax.
using TokenFn = void (*)(State* st, const u8* start, const u8* end, u32 flags, bool load);
extern TokenFn g_scanners[kTokenClassCount];
extern TokenFn g_loaders[kTokenClassCount];


// One active scan.
struct State {
  State* next = nullptr;    // nested scan started from this one
  State* parent = nullptr;  // enclosing scan
  u32 head = 0;         // first cell of this scan's output (index in the cell buffer)
  u32 series_head = 0;  // first cell of the innermost open series
  u32 tail = 0;         // next free cell
  const u8* in_start = nullptr;
  const u8* in_end = nullptr;
  const u8* pos = nullptr;
  const u8* token_end = nullptr;
  const u8* token_start = nullptr;
  i32 line = 1;
  i32 lines_crossed = 0;  // line breaks before the current token
  i32 scanner_type = -1;  // type a scanner decided for the loader
  i32 token_type = 0;
  u8 token_class = 0;  // TokenClass of the current token
  u8 entry_state = S_START;
  u8 prev_state = 0;
  i32 open_type = 0;  // series type of an unclosed series (for "missing")
  i32 last_type = 0;
  const u8* brace_start = nullptr;
  i32 brace_depth = 0;
  u32 brace_flags = 0;
  i32 brace_lines = 0;  // lines crossed before the opening brace
  i32 brace_line = 0;   // line of the opening brace
  const u8* point_start = nullptr;
  i32 point_lines = 0;
  u8 point_saved_entry = S_START;
  const Hook* hook = nullptr;
  bool load = true;  // values are built (neither prescan nor scan mode)
  bool prescan = false;
};

// The chain of active scans (innermost last), for the collector.
extern State* g_states;

// The shared cell buffer.
Cell* cell_at(u32 index);
u32 cell_capacity();

// ---------------------------------------------------------------------------
// Entries

void init();
void install_loaders();  // fills the loader tables (lexer_loaders.cpp); call after init()

struct Options {
  bool one = false;        // stop after the first complete value
  bool load = true;        // false: prescan mode
  bool wrap = true;        // false: scan mode (with load = true)
  bool keep_block = false; // with one: still return a block
  const Hook* hook = nullptr;
  Cell* into = nullptr;    // append the values to this block instead
};

// Scans length bytes of UTF-8 at text (which must not move during the scan).
// Builds the result in dest (a block!, or the first value alone with `one`)
// when values are built; in prescan and scan modes dest receives none! on an
// error. Returns the type of the last token (or of the first in prescan
// mode), T_ERROR for bad text in prescan/scan mode. consumed receives the
// bytes consumed. Bad text in load mode raises a syntax error.
i32 scan(Cell* dest, const u8* text, u32 length, const Options& opt, u32* consumed = nullptr);

// Marks what the active scans hold: every cell from head to tail.
void mark_states(void (*mark)(Cell* cell));

// ---------------------------------------------------------------------------
// For scanners and loaders

// A fresh cell at the tail of the state's output (unset!, with the new-line
// flag when lines were crossed before the token).
Cell* alloc_slot(State* st);
// Raises the syntax error of the scan. kind >= 1: `invalid` with that
// datatype; -1 `bad-char`; -2 `malconstruct`; -3 `missing` at start; -4
// `missing` at the innermost opener. start null: the innermost opener.
ZOT_NORETURN void raise_syntax(State* st, const u8* start, i32 kind);
constexpr i32 kBadChar = -1;
constexpr i32 kMalconstruct = -2;
constexpr i32 kMissingHere = -3;
constexpr i32 kMissingOpener = -4;

// Builds a text value of `type` from [start, end) (UTF-8, with caret escapes
// decoded when `escapes`) in a new slot; raises `invalid` (error_type) on a
// bad sequence or escape. With load false only checks.
void load_text(State* st, const u8* start, const u8* end, u32 flags, bool escapes, u8 type,
               i32 error_type, bool load);
// Decodes one caret escape at p (just after "^"); returns the code point or
// -1 and sets next past the escape.
i32 decode_escape(const u8* p, const u8* end, const u8** next);
// The Unicode spaces that separate words.
bool is_unicode_space(u32 cp);

}  // namespace zot::lexer
