// The lexer's tables, built at start-up from the rules below: the class word
// of every byte, and the transition table written as (state, classes, next)
// rules. A state's rows start with a default for every class, later rules
// override; `like` copies another state's row first.
#include <string>

#include "interpreter/lexer.h"
#include "platform/platform.h"
#include "runtime/fatal.h"

namespace zot::lexer {

Tables g_tables;

namespace {

// ---------------------------------------------------------------------------
// States. Numbers are free except the entry states and the quoted string.
enum St : u8 {
  START = S_START,
  COMMENT = 1,
  STRING = 2,       // "...
  STRING_ESC = 3,   // "...^
  BRACE = S_BRACE,  // {...
  BRACE_ESC = 5,    // {...^
  WORD = 6,
  WORD_COLON = 7,   // word:  (set-word, or a url goes on)
  URL = 8,
  EMAIL = 9,
  REF = 10,         // @name
  LESS = 11,        // <
  TAG = 12,
  TAG_DQ = 13,      // <..."
  TAG_SQ = 14,      // <...'
  PCT = 15,         // %
  PCTS = 16,        // %%...
  FILE = 17,
  FILE_Q = 18,      // %"...
  RAW = 19,         // %{...
  RAW_CLOSE = 20,   // %{...}
  RAW_CLOSE_P = 21, // %{...}%
  SHARP = 22,       // #
  ISSUE = 23,
  CHAR_Q = 24,      // #"...
  CHAR_ESC = 25,    // #"^
  BINARY = 26,      // #{...  or 16#{...
  CONSTRUCT = 27,   // #(...
  LIT = 28,         // '
  GET = 29,         // :
  SLASH = 30,       // /
  SLASH2 = 31,      // //
  REFINE = 32,      // /name
  DOT = 33,         // .
  SIGN = 34,        // + or -
  POINT = S_POINT,
  MONEY_DOLLAR = 36,
  MONEY = 37,
  MONEY_FRAC = 38,
  INT = 39,
  INT_SHARP = 40,   // 16#
  HEXWORD = 41,     // upper-case hex letters (and digits) from the start
  HEXWORD_H = 42,   // FFh
  HEXNUM = 43,      // digits then upper-case hex letters
  HEX_H = 44,       // 1Fh
  FLOAT_DOT = 45,   // 1.
  FLOAT_FRAC = 46,  // 1.5
  EXP = 47,         // 1e  1.5E
  EXP_UE = 48,      // 1E (exponent or hex)
  EXP_SIGN = 49,    // 1e-
  EXP_DIG = 50,     // 1e5
  EXP_UDIG = 51,    // 1E5 (float, or hex when "h" or hex letters follow)
  SPECIAL = 52,     // 1.#INF
  TUPLE = 53,
  PERCENT_END = 54, // 5%
  PAIR_X = 55,      // 1x
  PAIR = 56,        // 1x2
  DATE = 57,
  TIME_COLON = 58,  // 10:
  PATH = S_PATH,
  TIME = 60,
  PATH_INT = 61,    // integer path element
  PATH_COLON = 62,  // a/:
  PATH_QUOTE = 63,  // a/'
  kUsedStates = 64
};

const char* const kStateNames[kStateCount] = {
    "start", "comment", "string", "string-escape", "brace", "brace-escape", "word", "word-colon",
    "url", "email", "ref", "less", "tag", "tag-dquote", "tag-squote", "percent", "percents", "file",
    "file-quoted", "raw", "raw-close", "raw-close-percent", "sharp", "issue", "char", "char-escape",
    "binary", "construct", "lit", "get", "slash", "slash2", "refinement", "dot", "sign", "point",
    "money-dollar", "money", "money-fraction", "integer", "integer-sharp", "hex-word", "hex-word-h",
    "hex-number", "hex-h", "float-dot", "float-fraction", "exponent", "exponent-or-hex",
    "exponent-sign", "exponent-digits", "exponent-or-hex-digits", "special-float", "tuple",
    "percent-end", "pair-x", "pair", "date", "time-colon", "path", "time", "path-integer",
    "path-colon", "path-quote", "unused"};

// ---------------------------------------------------------------------------
// Sets of character classes.
using Set = u64;
constexpr Set bit(CharClass c) { return Set(1) << c; }
template <class... C>
constexpr Set set(C... c) {
  return (bit(c) | ...);
}
constexpr Set ANY = (Set(1) << kClassCount) - 1;
constexpr Set DIGITS = set(C_DIGIT, C_ZERO);
constexpr Set LETTERS = set(C_X, C_T, C_H, C_LOWER_E, C_UPPER_E, C_HEX_LOWER, C_HEX_UPPER);
constexpr Set HEX_UP = set(C_HEX_UPPER, C_UPPER_E);
constexpr Set SIGNS = set(C_PLUS, C_MINUS);
constexpr Set EXPS = set(C_LOWER_E, C_UPPER_E);
// What ends most tokens without belonging to them.
constexpr Set DELIMS = set(C_SPACE, C_LF, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE,
                           C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_SEMICOLON, C_CONTROL, C_EOF);
// Bytes that may go on inside a word.
constexpr Set WORD_BODY = DIGITS | LETTERS | set(C_QUOTE, C_GREATER, C_EQUAL, C_DOT, C_PLUS, C_MINUS,
                                                 C_CARET, C_CONTINUATION, C_WORD);
// Bytes that may start the name of a lit-word or get-word.
constexpr Set NAME_START = LETTERS | set(C_WORD, C_CONTINUATION, C_EQUAL, C_GREATER, C_PLUS, C_MINUS,
                                         C_DOT, C_CARET);
constexpr Set ISSUE_BODY = DIGITS | LETTERS | set(C_SHARP, C_QUOTE, C_BACKSLASH, C_LESS, C_GREATER,
                                                  C_EQUAL, C_PERCENT, C_COMMA, C_DOT, C_DOLLAR,
                                                  C_PLUS, C_MINUS, C_CARET, C_CONTINUATION, C_WORD);
constexpr Set REFINE_BODY = ISSUE_BODY & ~bit(C_COMMA);
constexpr Set FILE_END = set(C_SPACE, C_LF, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE,
                             C_BRACE_OPEN, C_BRACE_CLOSE, C_COLON, C_SEMICOLON, C_AT, C_EOF);
// Bytes of a point literal's coordinates: TAB/CR/space, #, signs, ., digits,
// and the letters of INF and NaN (the loader checks the text).
constexpr Set POINT_BODY = DIGITS | SIGNS | EXPS |
                           set(C_SPACE, C_SHARP, C_DOT, C_COMMA, C_HEX_UPPER, C_HEX_LOWER, C_WORD);
constexpr Set NUMBER_END = DELIMS | set(C_SLASH, C_LESS, C_COMMA);

constexpr u8 end_as(TokenClass tc) { return u8(kFinal + tc); }
constexpr u8 ERR = end_as(TK_ERROR);

struct Rule {
  u8 state;
  Set classes;  // 0: copy the row of `next`
  u8 next;
};
constexpr Rule like(u8 state, u8 other) { return {state, 0, other}; }

const Rule kRules[] = {
    // ---- between tokens
    {START, ANY, ERR},  // "}", "\", 0x7F-0xBF, invalid UTF-8
    {START, set(C_SPACE, C_LF, C_CONTROL), START},
    {START, DIGITS, INT},
    {START, bit(C_BLOCK_OPEN), end_as(TK_BLOCK_OPEN)},
    {START, bit(C_BLOCK_CLOSE), end_as(TK_BLOCK_CLOSE)},
    {START, bit(C_PAREN_OPEN), end_as(TK_PAREN_OPEN)},
    {START, bit(C_PAREN_CLOSE), end_as(TK_PAREN_CLOSE)},
    {START, bit(C_BRACE_OPEN), end_as(TK_BRACE_OPEN)},
    {START, bit(C_DQUOTE), STRING},
    {START, bit(C_SHARP), SHARP},
    {START, bit(C_QUOTE), LIT},
    {START, bit(C_COLON), GET},
    {START, LETTERS | set(C_WORD, C_CARET, C_GREATER, C_EQUAL), WORD},
    {START, HEX_UP, HEXWORD},
    {START, bit(C_SLASH), SLASH},
    {START, bit(C_LESS), LESS},
    {START, bit(C_PERCENT), PCT},
    {START, bit(C_COMMA), end_as(TK_COMMA)},
    {START, bit(C_SEMICOLON), COMMENT},
    {START, bit(C_AT), REF},
    {START, bit(C_DOT), DOT},
    {START, bit(C_DOLLAR), MONEY_DOLLAR},
    {START, SIGNS, SIGN},
    {START, bit(C_EOF), end_as(TK_EOF)},

    {COMMENT, ANY, COMMENT},
    {COMMENT, set(C_LF, C_EOF), end_as(TK_COMMENT)},

    // ---- quoted and brace strings
    {STRING, ANY, STRING},
    {STRING, bit(C_DQUOTE), end_as(TK_STRING)},  // the quote belongs to the token
    {STRING, bit(C_CARET), STRING_ESC},
    {STRING, set(C_LF, C_INVALID, C_EOF), ERR},
    {STRING_ESC, ANY, STRING},
    {STRING_ESC, set(C_INVALID, C_EOF), ERR},

    {BRACE, ANY, BRACE},
    {BRACE, bit(C_BRACE_OPEN), end_as(TK_BRACE_OPEN)},
    {BRACE, bit(C_BRACE_CLOSE), end_as(TK_BRACE_CLOSE)},
    {BRACE, bit(C_CARET), BRACE_ESC},
    {BRACE, set(C_INVALID, C_EOF), ERR},
    {BRACE_ESC, ANY, BRACE},
    {BRACE_ESC, set(C_INVALID, C_EOF), ERR},

    // ---- words and what words turn into
    {WORD, ANY, ERR},  // "%", ",", invalid UTF-8
    {WORD, WORD_BODY, WORD},
    {WORD, DELIMS | set(C_SHARP, C_BACKSLASH, C_LESS), end_as(TK_WORD)},
    {WORD, bit(C_SLASH), end_as(TK_PATH_HEAD)},
    {WORD, bit(C_COLON), WORD_COLON},
    {WORD, bit(C_AT), EMAIL},
    {WORD, bit(C_DOLLAR), MONEY_DOLLAR},  // currency code

    {WORD_COLON, ANY, URL},
    {WORD_COLON, DELIMS | bit(C_BACKSLASH), end_as(TK_WORD)},  // a set-word
    {WORD_COLON, set(C_LESS, C_INVALID), ERR},

    {URL, ANY, ERR},
    {URL, DIGITS | LETTERS | set(C_SHARP, C_QUOTE, C_COLON, C_SLASH, C_EQUAL, C_PERCENT, C_COMMA, C_AT,
                                 C_DOT, C_DOLLAR, C_PLUS, C_MINUS, C_CONTINUATION, C_WORD),
     URL},
    {URL, DELIMS | set(C_BACKSLASH, C_LESS), end_as(TK_URL)},

    {EMAIL, ANY, ERR},
    {EMAIL, DIGITS | LETTERS | set(C_PERCENT, C_DOT, C_PLUS, C_MINUS, C_CONTINUATION, C_WORD), EMAIL},
    {EMAIL, DELIMS | set(C_SLASH, C_BACKSLASH, C_LESS), end_as(TK_EMAIL)},

    {REF, ANY, ERR},
    {REF, DIGITS | LETTERS | set(C_COLON, C_SLASH, C_PERCENT, C_DOT, C_PLUS, C_MINUS, C_CONTINUATION,
                                 C_WORD),
     REF},
    {REF, DELIMS | bit(C_LESS), end_as(TK_REF)},

    {LIT, ANY, ERR},
    {LIT, NAME_START, WORD},
    {GET, ANY, ERR},
    {GET, NAME_START, WORD},

    {SLASH, ANY, ERR},
    {SLASH, DELIMS, end_as(TK_WORD)},  // the word "/"
    {SLASH, bit(C_SLASH), SLASH2},
    {SLASH, REFINE_BODY, REFINE},
    {SLASH2, ANY, ERR},
    {SLASH2, DELIMS, end_as(TK_WORD)},  // the word "//"
    {REFINE, ANY, ERR},  // ":", ","
    {REFINE, REFINE_BODY, REFINE},
    {REFINE, DELIMS | set(C_SLASH, C_AT), end_as(TK_REFINEMENT)},

    // "<" alone, "<<", "<=", "<>" and "<" before a delimiter are words.
    {LESS, ANY, TAG},
    {LESS, DELIMS, end_as(TK_WORD)},
    {LESS, set(C_LESS, C_EQUAL, C_GREATER), WORD},
    {LESS, bit(C_INVALID), ERR},
    {TAG, ANY, TAG},
    {TAG, bit(C_GREATER), end_as(TK_TAG)},  // the ">" belongs to the token
    {TAG, bit(C_DQUOTE), TAG_DQ},
    {TAG, bit(C_QUOTE), TAG_SQ},
    {TAG, set(C_INVALID, C_EOF), ERR},
    {TAG_DQ, ANY, TAG_DQ},
    {TAG_DQ, bit(C_DQUOTE), TAG},
    {TAG_DQ, set(C_INVALID, C_EOF), ERR},
    {TAG_SQ, ANY, TAG_SQ},
    {TAG_SQ, bit(C_QUOTE), TAG},
    {TAG_SQ, set(C_INVALID, C_EOF), ERR},

    // ---- files and raw strings
    {FILE, ANY, FILE},  // control bytes included
    {FILE, FILE_END, end_as(TK_FILE)},
    {FILE, set(C_DQUOTE, C_INVALID), ERR},
    like(PCT, FILE),
    {PCT, bit(C_DQUOTE), FILE_Q},
    {PCT, bit(C_BRACE_OPEN), RAW},
    {PCT, bit(C_PERCENT), PCTS},
    like(PCTS, FILE),
    {PCTS, bit(C_BRACE_OPEN), RAW},
    {PCTS, bit(C_PERCENT), PCTS},
    {FILE_Q, ANY, FILE_Q},
    {FILE_Q, bit(C_DQUOTE), end_as(TK_FILE)},  // the quote belongs to the token
    {FILE_Q, set(C_LF, C_INVALID, C_EOF), ERR},
    // A raw string ends at "}" and as many "%" as it opened with; the scanner
    // searches on when the table stopped at a shorter run.
    {RAW, ANY, RAW},
    {RAW, bit(C_BRACE_CLOSE), RAW_CLOSE},
    {RAW, bit(C_EOF), ERR},
    {RAW_CLOSE, ANY, RAW},
    {RAW_CLOSE, bit(C_BRACE_CLOSE), RAW_CLOSE},
    {RAW_CLOSE, bit(C_PERCENT), RAW_CLOSE_P},
    {RAW_CLOSE, bit(C_EOF), ERR},
    {RAW_CLOSE_P, ANY, end_as(TK_RAWSTRING)},
    {RAW_CLOSE_P, bit(C_PERCENT), RAW_CLOSE_P},

    // ---- the "#" family
    {SHARP, ANY, ERR},  // ":", "/"
    {SHARP, DELIMS | bit(C_AT), end_as(TK_ISSUE)},  // no name: the scanner refuses it
    {SHARP, bit(C_DQUOTE), CHAR_Q},
    {SHARP, bit(C_BRACE_OPEN), BINARY},
    {SHARP, bit(C_BLOCK_OPEN), end_as(TK_MAP_OPEN)},
    {SHARP, bit(C_PAREN_OPEN), CONSTRUCT},
    {SHARP, ISSUE_BODY, ISSUE},
    {ISSUE, ANY, ERR},
    {ISSUE, ISSUE_BODY, ISSUE},
    {ISSUE, DELIMS | bit(C_AT), end_as(TK_ISSUE)},
    {CHAR_Q, ANY, CHAR_Q},
    {CHAR_Q, bit(C_DQUOTE), end_as(TK_CHAR)},  // the quote belongs to the token
    {CHAR_Q, bit(C_CARET), CHAR_ESC},
    {CHAR_Q, set(C_LF, C_INVALID, C_EOF), ERR},
    {CHAR_ESC, ANY, CHAR_Q},
    {CHAR_ESC, set(C_INVALID, C_EOF), ERR},
    {BINARY, ANY, BINARY},
    {BINARY, bit(C_BRACE_CLOSE), end_as(TK_BINARY)},  // the brace belongs to the token
    {BINARY, set(C_INVALID, C_EOF), ERR},
    {CONSTRUCT, ANY, CONSTRUCT},
    {CONSTRUCT, bit(C_PAREN_CLOSE), end_as(TK_CONSTRUCT)},  // the paren belongs to the token
    {CONSTRUCT, set(C_LF, C_INVALID, C_EOF), ERR},

    // ---- numbers
    {DOT, ANY, ERR},
    {DOT, WORD_BODY, WORD},
    {DOT, DIGITS, FLOAT_FRAC},
    {DOT, DELIMS, end_as(TK_WORD)},
    like(SIGN, WORD),
    {SIGN, DIGITS, INT},
    {SIGN, bit(C_DOLLAR), MONEY_DOLLAR},
    {SIGN, bit(C_DOT), DOT},

    {MONEY_DOLLAR, ANY, ERR},
    {MONEY_DOLLAR, DIGITS, MONEY},
    {MONEY, ANY, ERR},
    {MONEY, DIGITS | bit(C_QUOTE), MONEY},
    {MONEY, bit(C_DOT), MONEY_FRAC},
    {MONEY, DELIMS | set(C_SHARP, C_COLON, C_SLASH, C_LESS), end_as(TK_MONEY)},
    {MONEY_FRAC, ANY, ERR},
    {MONEY_FRAC, DIGITS | bit(C_QUOTE), MONEY_FRAC},
    {MONEY_FRAC, DELIMS | set(C_SHARP, C_COLON, C_SLASH, C_LESS), end_as(TK_MONEY)},

    {INT, ANY, ERR},  // other letters, "\", ">", "=", "$", "+", "^"
    {INT, DIGITS | bit(C_QUOTE), INT},
    {INT, DELIMS | set(C_LESS, C_COMMA), end_as(TK_INTEGER)},
    {INT, bit(C_DOT), FLOAT_DOT},
    {INT, bit(C_LOWER_E), EXP},
    {INT, bit(C_UPPER_E), EXP_UE},
    {INT, set(C_T, C_SLASH, C_MINUS), DATE},
    {INT, bit(C_COLON), TIME_COLON},
    {INT, bit(C_X), PAIR_X},
    {INT, bit(C_HEX_UPPER), HEXNUM},
    {INT, bit(C_H), HEX_H},
    {INT, bit(C_SHARP), INT_SHARP},
    {INT, bit(C_PERCENT), PERCENT_END},
    {INT, bit(C_AT), EMAIL},
    {INT_SHARP, ANY, ERR},
    {INT_SHARP, bit(C_BRACE_OPEN), BINARY},

    like(HEXWORD, WORD),
    {HEXWORD, DIGITS | HEX_UP, HEXWORD},
    {HEXWORD, bit(C_H), HEXWORD_H},
    like(HEXWORD_H, WORD),
    {HEXWORD_H, DELIMS | bit(C_BACKSLASH), end_as(TK_HEX)},
    {HEXNUM, ANY, ERR},
    {HEXNUM, DIGITS | HEX_UP, HEXNUM},
    {HEXNUM, bit(C_H), HEX_H},
    {HEX_H, ANY, ERR},
    {HEX_H, DELIMS | bit(C_BACKSLASH), end_as(TK_HEX)},
    {HEX_H, bit(C_AT), EMAIL},

    {FLOAT_DOT, ANY, ERR},
    {FLOAT_DOT, DIGITS, FLOAT_FRAC},
    {FLOAT_DOT, bit(C_SHARP), SPECIAL},
    {FLOAT_DOT, EXPS, EXP},
    {FLOAT_DOT, bit(C_X), PAIR_X},
    {FLOAT_DOT, bit(C_PERCENT), PERCENT_END},
    {FLOAT_DOT, NUMBER_END, end_as(TK_FLOAT)},
    {FLOAT_FRAC, ANY, ERR},
    {FLOAT_FRAC, DIGITS | bit(C_QUOTE), FLOAT_FRAC},
    {FLOAT_FRAC, bit(C_DOT), TUPLE},
    {FLOAT_FRAC, EXPS, EXP},
    {FLOAT_FRAC, bit(C_X), PAIR_X},
    {FLOAT_FRAC, bit(C_PERCENT), PERCENT_END},
    {FLOAT_FRAC, bit(C_AT), EMAIL},
    {FLOAT_FRAC, NUMBER_END | bit(C_COLON), end_as(TK_FLOAT)},
    {EXP, ANY, ERR},
    {EXP, DIGITS, EXP_DIG},
    {EXP, SIGNS, EXP_SIGN},
    {EXP_UE, ANY, ERR},
    {EXP_UE, DIGITS, EXP_UDIG},
    {EXP_UE, SIGNS, EXP_SIGN},
    {EXP_UE, HEX_UP, HEXNUM},
    {EXP_UE, bit(C_H), HEX_H},
    {EXP_SIGN, ANY, ERR},
    {EXP_SIGN, DIGITS, EXP_DIG},
    {EXP_DIG, ANY, ERR},
    {EXP_DIG, DIGITS, EXP_DIG},
    {EXP_DIG, NUMBER_END, end_as(TK_FLOAT)},
    {EXP_DIG, bit(C_PERCENT), PERCENT_END},
    {EXP_DIG, bit(C_X), PAIR_X},
    like(EXP_UDIG, EXP_DIG),
    {EXP_UDIG, DIGITS, EXP_UDIG},
    {EXP_UDIG, HEX_UP, HEXNUM},
    {EXP_UDIG, bit(C_H), HEX_H},
    {SPECIAL, ANY, ERR},
    {SPECIAL, LETTERS | bit(C_WORD), SPECIAL},
    {SPECIAL, NUMBER_END, end_as(TK_SPECIAL_FLOAT)},
    {TUPLE, ANY, ERR},
    {TUPLE, DIGITS | bit(C_DOT), TUPLE},
    {TUPLE, DELIMS | set(C_COLON, C_SLASH, C_LESS), end_as(TK_TUPLE)},
    {PERCENT_END, ANY, ERR},
    {PERCENT_END, NUMBER_END, end_as(TK_PERCENT)},
    {PAIR_X, ANY, ERR},
    {PAIR_X, DIGITS | SIGNS, PAIR},
    {PAIR, ANY, ERR},  // a second "x" too
    {PAIR, DIGITS | EXPS | bit(C_DOT), PAIR},
    {PAIR, DELIMS | set(C_COLON, C_SLASH, C_LESS), end_as(TK_PAIR)},
    {DATE, ANY, ERR},  // "%", ",", "@", "^", 0x7F-0xBF
    {DATE, DIGITS | LETTERS | set(C_SHARP, C_QUOTE, C_COLON, C_SLASH, C_BACKSLASH, C_GREATER, C_EQUAL,
                                  C_DOT, C_PLUS, C_MINUS, C_WORD),
     DATE},
    {DATE, DELIMS | set(C_LESS, C_DOLLAR), end_as(TK_DATE)},
    {TIME_COLON, ANY, ERR},
    {TIME_COLON, DIGITS, TIME},
    {TIME, ANY, ERR},
    {TIME, DIGITS | set(C_COLON, C_DOT), TIME},
    {TIME, DELIMS | set(C_SLASH, C_LESS), end_as(TK_TIME)},

    // ---- point literal, after "(" (the scanner of "(" looked ahead)
    {POINT, ANY, ERR},
    {POINT, POINT_BODY, POINT},
    {POINT, bit(C_PAREN_CLOSE), end_as(TK_POINT)},  // the paren belongs to the token

    // ---- a path element after "/": never empty
    {PATH, ANY, ERR},
    {PATH, DIGITS, PATH_INT},
    {PATH, bit(C_PAREN_OPEN), end_as(TK_PAREN_OPEN)},
    {PATH, bit(C_PAREN_CLOSE), end_as(TK_PAREN_CLOSE)},
    {PATH, bit(C_DQUOTE), STRING},
    {PATH, bit(C_SHARP), SHARP},
    {PATH, bit(C_QUOTE), PATH_QUOTE},
    {PATH, bit(C_COLON), PATH_COLON},
    {PATH, bit(C_AT), REF},
    {PATH, bit(C_DOLLAR), MONEY_DOLLAR},
    {PATH, SIGNS, SIGN},
    {PATH, bit(C_DOT), DOT},
    {PATH, LETTERS | set(C_WORD, C_GREATER, C_EQUAL, C_CONTINUATION), WORD},
    like(PATH_INT, INT),
    {PATH_INT, DIGITS | bit(C_QUOTE), PATH_INT},  // every digit stays a path element's
    {PATH_INT, set(C_SLASH, C_COLON), end_as(TK_INTEGER)},  // the path takes them
    {PATH_INT, set(C_T, C_MINUS), ERR},
    {PATH_COLON, ANY, ERR},
    {PATH_COLON, NAME_START, WORD},
    {PATH_QUOTE, ANY, ERR},
    {PATH_QUOTE, NAME_START, WORD},
};

// Datatype of a partial token in each state (for errors and prescan).
struct StateType {
  u8 state;
  u8 type;
};
const StateType kStateTypes[] = {
    {START, 0}, {COMMENT, 0}, {STRING, T_STRING}, {STRING_ESC, T_STRING}, {BRACE, T_STRING},
    {BRACE_ESC, T_STRING}, {WORD, T_WORD}, {WORD_COLON, T_SET_WORD}, {URL, T_URL}, {EMAIL, T_EMAIL},
    {REF, T_REF}, {LESS, T_WORD}, {TAG, T_TAG}, {TAG_DQ, T_TAG}, {TAG_SQ, T_TAG}, {PCT, T_FILE},
    {PCTS, T_FILE}, {FILE, T_FILE}, {FILE_Q, T_FILE}, {RAW, T_STRING}, {RAW_CLOSE, T_STRING},
    {RAW_CLOSE_P, T_STRING}, {SHARP, T_ISSUE}, {ISSUE, T_ISSUE}, {CHAR_Q, T_CHAR}, {CHAR_ESC, T_CHAR},
    {BINARY, T_BINARY}, {CONSTRUCT, T_DATATYPE}, {LIT, T_LIT_WORD}, {GET, T_GET_WORD},
    {SLASH, T_REFINEMENT}, {SLASH2, T_WORD}, {REFINE, T_REFINEMENT}, {DOT, T_WORD}, {SIGN, T_WORD},
    {POINT, T_POINT2D}, {MONEY_DOLLAR, T_MONEY}, {MONEY, T_MONEY}, {MONEY_FRAC, T_MONEY},
    {INT, T_INTEGER}, {INT_SHARP, T_BINARY}, {HEXWORD, T_WORD}, {HEXWORD_H, T_WORD},
    {HEXNUM, T_INTEGER}, {HEX_H, T_INTEGER}, {FLOAT_DOT, T_FLOAT}, {FLOAT_FRAC, T_FLOAT},
    {EXP, T_FLOAT}, {EXP_UE, T_FLOAT}, {EXP_SIGN, T_FLOAT}, {EXP_DIG, T_FLOAT}, {EXP_UDIG, T_FLOAT},
    {SPECIAL, T_FLOAT}, {TUPLE, T_TUPLE}, {PERCENT_END, T_PERCENT}, {PAIR_X, T_PAIR}, {PAIR, T_PAIR},
    {DATE, T_DATE}, {TIME_COLON, T_TIME}, {PATH, T_PATH}, {TIME, T_TIME}, {PATH_INT, T_INTEGER},
    {PATH_COLON, T_PATH}, {PATH_QUOTE, T_PATH},
};

// Datatype of each token class (0: the class makes no single value itself).
const u8 kClassTypes[kTokenClassCount] = {
    0,          0 /* error: set below */, 0, 0, 0, 0, 0, T_STRING, 0, 0, 0, 0, 0,
    T_STRING,   T_WORD,     T_ISSUE,      T_INTEGER, T_REFINEMENT, T_CHAR,    T_FILE,
    T_BINARY,   T_PERCENT,  T_FLOAT,      T_FLOAT,   T_TUPLE,      T_DATE,    T_PAIR,
    T_POINT2D,  T_TIME,     T_MONEY,      T_TAG,     T_URL,        T_EMAIL,   T_INTEGER,
    T_STRING,   T_REF,
};

// Tokens that keep the closing byte that ended them.
struct Closer {
  TokenClass tc;
  CharClass cls;
};
const Closer kClosers[] = {
    {TK_STRING, C_DQUOTE},     {TK_CHAR, C_DQUOTE},      {TK_FILE, C_DQUOTE}, {TK_BINARY, C_BRACE_CLOSE},
    {TK_CONSTRUCT, C_PAREN_CLOSE}, {TK_POINT, C_PAREN_CLOSE}, {TK_TAG, C_GREATER},
};

u32 class_word_of(u32 b) {
  CharClass c;
  u32 flags = 0;
  if (b == 0) c = C_EOF;
  else if (b == '\t' || b == '\r' || b == ' ') c = C_SPACE;
  else if (b == '\n') c = C_LF;
  else if (b < 0x20) c = C_CONTROL;
  else if (b >= '1' && b <= '9') c = C_DIGIT;
  else if (b == '0') c = C_ZERO;
  else if (b == 'x' || b == 'X') c = C_X;
  else if (b == 'T') c = C_T;
  else if (b == 'h') c = C_H;
  else if (b == 'e') c = C_LOWER_E;
  else if (b == 'E') c = C_UPPER_E;
  else if ((b >= 'a' && b <= 'd') || b == 'f') c = C_HEX_LOWER;
  else if ((b >= 'A' && b <= 'D') || b == 'F') c = C_HEX_UPPER;
  else if (b >= 0x7F && b <= 0xBF) c = C_CONTINUATION;
  else if (b == 0xC0 || b == 0xC1 || b >= 0xF8) c = C_INVALID;
  else if (b >= 0xC2) c = C_WORD;
  else {
    switch (b) {
      case '[': c = C_BLOCK_OPEN; break;
      case ']': c = C_BLOCK_CLOSE; break;
      case '(': c = C_PAREN_OPEN; break;
      case ')': c = C_PAREN_CLOSE; break;
      case '{': c = C_BRACE_OPEN; break;
      case '}': c = C_BRACE_CLOSE; break;
      case '"': c = C_DQUOTE; break;
      case '#': c = C_SHARP; break;
      case '\'': c = C_QUOTE; break;
      case ':': c = C_COLON; break;
      case '/': c = C_SLASH; break;
      case '\\': c = C_BACKSLASH; break;
      case '<': c = C_LESS; break;
      case '>': c = C_GREATER; break;
      case '=': c = C_EQUAL; break;
      case '%': c = C_PERCENT; break;
      case ',': c = C_COMMA; break;
      case ';': c = C_SEMICOLON; break;
      case '@': c = C_AT; break;
      case '.': c = C_DOT; break;
      case '$': c = C_DOLLAR; break;
      case '+': c = C_PLUS; break;
      case '-': c = C_MINUS; break;
      case '^': c = C_CARET; break;
      default: c = C_WORD; break;  // ! & * ? G-S U-W Y Z _ ` g i-w y z | ~
    }
  }
  switch (b) {
    case '%': flags = F_PERCENT; break;
    case '>': flags = F_GREATER; break;
    case '<': flags = F_LESS; break;
    case '+': case '-': flags = F_SIGN; break;
    case 0: flags = F_NUL; break;
    case '#': flags = F_SHARP; break;
    case 'e': case 'E': flags = F_EXP; break;
    case '\'': flags = F_QUOTE; break;
    case ':': flags = F_COLON; break;
    case ',': flags = F_COMMA; break;
    case '.': flags = F_DOT; break;
    case '^': flags = F_CARET; break;
    default: break;
  }
  if (b >= 0xC2 && b <= 0xEF) flags |= F_LEAD2;
  if (b >= 0xF0 && b <= 0xF7) flags |= F_LEAD4;
  if (b >= 0x80) flags |= F_HIGH;
  return flags | c;
}

ZOT_NORETURN void bad_rules(const std::string& why) {
  std::string s = "lexer tables: " + why + "\n";
  platform::write_all(2, s.data(), s.size());
  runtime::quit(runtime::kFatalAssertion, ZOT_CALLER_ADDRESS());
}

bool g_built = false;

}  // namespace

const char* state_name(int state) {
  if (state >= 0 && state < kStateCount) return kStateNames[state];
  if (state >= kFinal && state < kFinal + kTokenClassCount) return "final";
  return "?";
}

void build_tables() {
  if (g_built) return;
  Tables& t = g_tables;
  for (u32 b = 0; b < 256; b++) t.class_word[b] = class_word_of(b);

  constexpr u8 kUnset = 0xFF;
  for (auto& row : t.transition)
    for (u8& e : row) e = kUnset;
  for (const Rule& r : kRules) {
    if (r.classes == 0) {
      for (int c = 0; c < kClassCount; c++) t.transition[r.state][c] = t.transition[r.next][c];
      continue;
    }
    for (int c = 0; c < kClassCount; c++)
      if (r.classes & (Set(1) << c)) t.transition[r.state][c] = r.next;
  }
  // Every used state must say where each class goes, and end at the end of input.
  for (int s = 0; s < kUsedStates; s++) {
    for (int c = 0; c < kClassCount; c++) {
      u8 e = t.transition[s][c];
      if (e == kUnset || (e >= kUsedStates && e < kFinal) || e >= kFinal + kTokenClassCount)
        bad_rules(std::string("state ") + kStateNames[s] + " has no rule for class " + std::to_string(c));
    }
    if (t.transition[s][C_EOF] < kFinal)
      bad_rules(std::string("state ") + kStateNames[s] + " does not end at the end of input");
  }
  for (int s = kUsedStates; s < kStateCount; s++)
    for (int c = 0; c < kClassCount; c++) t.transition[s][c] = ERR;

  for (u8& ty : t.state_type) ty = 0;
  for (const StateType& st : kStateTypes) t.state_type[st.state] = st.type;
  for (int c = 0; c < kTokenClassCount; c++) t.state_type[kFinal + c] = kClassTypes[c];
  t.state_type[kFinal + TK_ERROR] = T_ERROR;

  for (u8& c : t.closer) c = 0xFF;
  for (const Closer& c : kClosers) t.closer[c.tc] = c.cls;
  g_built = true;
}

}  // namespace zot::lexer
