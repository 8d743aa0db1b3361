// The parse engine's inside: the work blocks, the keywords and the engine
// state of one run. Shared by parse_engine.cpp (rule blocks, keywords) and
// parse_match.cpp (matching one rule item against the input).
#pragma once

#include <string>

#include "datatypes/words.h"
#include "interpreter/parse.h"
#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/rooted.h"

namespace zot::parse {

// ---- the work blocks
// The input stack (its first cell of a run is the input; `into` pushes the
// series it descends into) and the rule stack of frames. Both live in the
// root block; nested runs stack above the running one.
extern mem::Node g_inputs;
extern mem::Node g_rules;
// A work block never reaches this many cells (the stack limit).
constexpr u32 kWorkLimit = 10001;

ZOT_INLINE u32 work_length(mem::Node n) { return mem::series_of(n)->length(); }
ZOT_INLINE Cell* work_cell(mem::Node n, u32 i) { return mem::series_of(n)->cells() + i; }

// Command codes of keyword frames (the pair! on top of a frame).
enum Command : i32 {
  kRepeat = -1, kTo = -2, kThru = -3, kCopy = -4, kSet = -5, kNot = -6, kInto = -7, kRemove = -9,
  kWhile = -11, kCollect = -12, kKeepRule = -13, kKeepParen = -14, kAhead = -16, kChange = -17,
  kChangeOnly = -18, kCase = -19,
};

// Rule-block frames are two cells (position, block); keyword frames three
// (bounds or saved value, position, command pair).
constexpr u32 kBlockFrame = 2;
constexpr u32 kKeywordFrame = 3;

// ---- keywords (words compared by symbol)
enum Keyword : u8 {
  kNoKeyword = 0,
  kBar, kAny, kSome, kOpt, kWhileKw, kToKw, kThruKw, kSkip, kEnd, kNone, kFailKw, kBreakKw, kRejectKw,
  kNotKw, kAheadKw, kQuote, kSetKw, kCopyKw, kCollectKw, kKeep, kIntoKw, kIf, kCaseKw, kInsert,
  kRemoveKw, kChangeKw,
  // Words that are keywords only in a keyword's own arguments.
  kOnly, kPick, kAfter,
};
void init_keywords();
Keyword keyword_of(const Cell* word);

enum Status : u8 { kFail = 0, kMatch = 1, kBreak = 2, kReject = 3 };
enum InputKind : u8 { kBlockInput, kTextInput, kBinaryInput };

// A callback that answered false: unwinds the run, which answers the match flag.
struct Stop {};

// One run of the rules over an input.
struct Engine {
  // The input being matched (the top of the input stack) and the position.
  Cell input;
  u32 pos = 0;
  u32 tail = 0;        // where matching stops: the input's tail, or the /part limit
  i32 limit = -1;      // the /part limit in the run's own input, -1 when none
  u32 input_base = 0;  // the run's first cell in the input stack
  InputKind kind = kBlockInput;
  i32 case_op = 0;     // the comparison: equal, or strict-equal under /case
  bool match = true;   // the last result (what callbacks see)
  bool traced = false;
  Cell callback;
  u32 rule_base = 0;         // the run's first cell in the rule stack
  i32 collect_frame = -1;    // rule stack index of the innermost collect frame
  u32 effects = 0;           // counts Zot code run and input changes (loop progress)
  Rooted result;             // a collect with nothing around it: the run's answer
  std::string scratch;       // bytes a datatype rule scans from binary input

  // ---- rule blocks and items (parse_engine.cpp)
  Status rules(const Cell& block);
  Status rule(const Cell& blk, u32& i);
  Status word_value(const Cell& value, const Cell& word, const Cell& blk, u32& i);
  Status count(i32 n, const Cell& at, const Cell& blk, u32& i);
  Status repeat(i32 min, i32 max, Command code, const Cell& blk, u32& i);
  Status keyword(Keyword kw, const Cell& word, const Cell& blk, u32& i);
  Status to_thru(bool thru, const Cell& word, const Cell& blk, u32& i);
  Status set_copy(bool copy, const Cell& word, const Cell& blk, u32& i);
  Status collect(const Cell& word, const Cell& blk, u32& i);
  Status keep(const Cell& word, const Cell& blk, u32& i);
  Status into(const Cell& word, const Cell& blk, u32& i);
  Status insert(const Cell& word, const Cell& blk, u32& i);
  Status change(const Cell& word, const Cell& blk, u32& i);
  Status remove(const Cell& word, const Cell& blk, u32& i);
  // The index past the rule item at i and its arguments, without running it.
  u32 extent(const Cell& blk, u32 i);

  // ---- the work stacks
  u32 push_frame(const Cell* cells, u32 n);
  void pop_frame(u32 n);
  u32 open_keyword(Command code, const Cell* first, const Cell& blk, u32 j, i32 flag = 0);
  Status close_keyword(Status st, const Cell& blk, u32 i);
  void check_recursion(const Cell& block);
  void keep_value(const Cell& value, bool pick);

  // ---- values the rules name
  Cell lookup(const Cell& word);
  Cell eval_paren(const Cell& paren);
  Cell argument_value(const Cell& item, const Cell& blk, u32 i);
  void set_word(const Cell& word, const Cell& value);

  // ---- the input (parse_match.cpp)
  void enter_input(const Cell& series);
  void refresh();
  i32 input_length() const { return i32(mem::series_of(input.series_node())->length()); }
  Cell item_value(u32 p) const;
  Cell copy_part(u32 from, u32 to);
  void adjust_limit(u32 at, i32 delta);
  // Units or items that the terminal key matches at p, or -1 (quoted: the
  // key only as a literal value).
  i32 terminal_at(u32 p, const Cell& key, bool quoted);
  Status terminal(const Cell& key, bool quoted, const Cell& blk, u32 i);
  // The rule item at j as a key the fast paths can match on their own:
  // a literal, a bitset or a datatype, directly or through a word; skip.
  bool simple_key(const Cell& blk, u32 j, Cell* key, bool* skip);
  // The earliest position from p where the key matches (to/thru), or -1;
  // len receives the match length.
  i32 search(const Cell& key, bool skip, u32* len);
  // The same for a block of single-key alternatives; false when the block
  // is not that simple.
  bool search_alternatives(const Cell& block, i32* at, u32* len);
  // How many times in a row a character or bitset key matches text input
  // from pos (up to max; -1: no bound), or -1 for other keys and inputs.
  i32 run_of(const Cell& key, i32 max);

  // ---- events (parse_engine.cpp)
  void fire(w::Id event, const Cell& blk, u32 i);
};

}  // namespace zot::parse
