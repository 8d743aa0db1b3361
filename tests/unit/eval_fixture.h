// Shared helpers for tests that run Zot source: load text, evaluate it, and
// compare molds or error codes against tables.
#pragma once

#include <string>

#include "runtime/cell.h"
#include "runtime/errors.h"

namespace zot::test {

// The block the source text scans into.
Cell load(const std::string& text);
// The mold of a value, with the /only, /all and /flat flags.
std::string mold(const Cell& v, bool only = false, bool all = false, bool flat = false);
// The mold of the value of the source ("unset" when it has none), or
// "error <code>" when it raises an error.
std::string run(const std::string& source);
std::string err(Err e);
// Binds a registered routine entry to the global word of the same name, with
// the spec given as source text (the library does this for the product).
void bind_routine(const char* name, const char* spec_text);

// A table of source -> expected run() text.
struct Case {
  const char* source;
  std::string result;
};
void check(const Case* cases, std::size_t n);

}  // namespace zot::test

#define ZOT_CHECK_TABLE(t) ::zot::test::check(t, sizeof(t) / sizeof(t[0]))
