// Text between values and the OS: the natives that reach the environment,
// files and other processes hand the OS UTF-8 bytes and read its bytes back
// as strings without refusing what is not UTF-8.
#pragma once

#include <string>

#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot::os_text {

// The UTF-8 of a value for the OS: text from its index, a word's spelling,
// a binary's bytes, any other value formed.
std::string of(const Cell* value);

// A new string! in out (a cell the collector sees) of bytes from the OS:
// UTF-8, each byte that is not part of a well-formed sequence taken as
// U+FFFD; with crlf every CR LF becomes LF.
Cell* to_string(Cell* out, const std::string& bytes, bool crlf);

// A stack cell set to none, for a value that must stay visible to the
// collector while the native works (the caller resets the stack top).
Cell* scratch();

}  // namespace zot::os_text
