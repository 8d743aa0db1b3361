// The runtime's own print primitives, used for runtime messages (fatal
// errors, the datatype check, heap reports) below the console writer.
#pragma once

#include <string>

#include "runtime/base.h"

namespace zot::runtime {

// One typed entry of a print list.
struct PrintEntry {
  enum Kind : u8 { kLogic = 1, kInteger, kChar, kFloat32, kFloat64, kText, kHex } kind;
  union {
    bool logic;
    i64 integer;
    double number;
    const char* text;
  };
};

// Appends the entries' text; with spaced, a space goes between two entries
// unless the first ends in a space, line feed, carriage return or tab.
void format_entries(std::string* out, const PrintEntry* entries, int count, bool spaced);
// Prints the entries (no new line) / then a new line, and flushes.
void print(const PrintEntry* entries, int count, bool spaced = false);
void print_line(const PrintEntry* entries, int count, bool spaced = false);
void print_text(const char* text, std::size_t n);

// A byte as a character literal: #"a", #"^/", #"^(E9)".
std::string char_literal(u8 c);

}  // namespace zot::runtime
