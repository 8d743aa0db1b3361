// The parse dialect: matches a block of rules against a block, text or
// binary input, moving a position through the input, evaluating parens,
// setting words, copying, collecting and changing the input.
#pragma once

#include "runtime/cell.h"

namespace zot::parse {

// Makes the two work blocks (the input stack and the rule stack). Once, at start-up.
void init();

struct Options {
  bool case_sensitive = false;
  i32 limit = -1;                  // the /part limit as an index of the input; -1: its tail
  const Cell* callback = nullptr;  // the /trace function, or null
};

// Runs the rules over the input from its index: true when they matched and
// the position reached the tail (or the limit); the collected block instead
// when a collect with no enclosing one and no target ran. Runs nest: a paren
// may call parse again.
Cell run(const Cell* input, const Cell* rules, const Options& opt);

}  // namespace zot::parse
