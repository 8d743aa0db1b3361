// The words the runtime uses by name: interned once at start-up, each kept as
// its symbol id and as a word! bound in the global context.
#pragma once

#include "runtime/cell.h"
#include "runtime/symbol.h"

// Word ids: w::self, w::tag_body, ...
namespace zot::w {
enum Id : u16 {
#define ZOT_WORD(id, text) id,
#include "datatypes/words.inc"
#undef ZOT_WORD
  kCount
};
}  // namespace zot::w

namespace zot::words {

// words::x names the same id as w::x (the functions below take precedence).
using namespace w;
using Id = w::Id;
constexpr int kCount = w::kCount;

enum RefinementId : u16 {
#define ZOT_REFINEMENT(id, text) ref_##id,
#define ZOT_ISSUE(id, text)
#include "datatypes/refinements.inc"
#undef ZOT_REFINEMENT
#undef ZOT_ISSUE
  kRefinementCount
};

enum IssueId : u16 {
#define ZOT_REFINEMENT(id, text)
#define ZOT_ISSUE(id, text) issue_##id,
#include "datatypes/refinements.inc"
#undef ZOT_REFINEMENT
#undef ZOT_ISSUE
  kIssueCount
};

extern u32 g_syms[kCount];
extern Cell g_words[kCount];
extern Cell g_refinements[kRefinementCount];
extern Cell g_issues[kIssueCount];

ZOT_INLINE u32 sym(Id id) { return g_syms[id]; }
ZOT_INLINE const Cell* word(Id id) { return &g_words[id]; }
const char* text(Id id);
// True when the symbol spells the word, in any letter case.
ZOT_INLINE bool spells(u32 symbol, Id id) { return symbol::resolve(symbol) == symbol::resolve(g_syms[id]); }

// Interns every word (the symbol table and the global context must exist).
void init();

}  // namespace zot::words
