#include "datatypes/words.h"

#include "datatypes/context.h"
#include "runtime/symbol.h"

namespace zot::words {

u32 g_syms[kCount];
Cell g_words[kCount];
Cell g_refinements[kRefinementCount];
Cell g_issues[kIssueCount];

namespace {

const char* const kTexts[] = {
#define ZOT_WORD(id, text) text,
#include "datatypes/words.inc"
#undef ZOT_WORD
};

const char* const kRefinementTexts[] = {
#define ZOT_REFINEMENT(id, text) text,
#define ZOT_ISSUE(id, text)
#include "datatypes/refinements.inc"
#undef ZOT_REFINEMENT
#undef ZOT_ISSUE
};

const char* const kIssueTexts[] = {
#define ZOT_REFINEMENT(id, text)
#define ZOT_ISSUE(id, text) text,
#include "datatypes/refinements.inc"
#undef ZOT_REFINEMENT
#undef ZOT_ISSUE
};

}  // namespace

const char* text(Id id) { return kTexts[id]; }

void init() {
  for (int i = 0; i < kCount; i++) {
    g_words[i] = word::load(kTexts[i]);
    g_syms[i] = g_words[i].word_symbol();
  }
  for (int i = 0; i < kRefinementCount; i++) {
    g_refinements[i] = word::load(kRefinementTexts[i]);
    set_type(&g_refinements[i], T_REFINEMENT);
  }
  for (int i = 0; i < kIssueCount; i++) {
    g_issues[i] = word::load(kIssueTexts[i]);
    set_type(&g_issues[i], T_ISSUE);
  }
}

}  // namespace zot::words
