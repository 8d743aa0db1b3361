// The console writer and the output hooks. Every text the system prints goes
// out here: as UTF-8 bytes to standard output, with LF line ends; escape
// sequences pass straight through to the terminal.
#pragma once

#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot::output {

// A string printer receives every string that `print` and `prin` send.
using StringPrinter = void (*)(const Cell* str, bool new_line);
// A raw-text listener is told of every text the runtime printers write.
using RawListener = void (*)(const char* text, std::size_t len, u32 extra);

// Sets up the hook tables with the console writer as the only string printer.
void init();
void add_hooks(StringPrinter printer, RawListener listener);
void remove_hooks(StringPrinter printer, RawListener listener);
void print_string(const Cell* str, bool new_line);
void notify_listeners(const char* text, std::size_t len, u32 extra);

// The console writer's string printer.
void default_printer(const Cell* str, bool new_line);

// Writes count units of text of the given unit (1, 2 or 4) as UTF-8; with
// new_line a LF follows. A 2-byte unit holding a surrogate half is written as
// its own (three-byte) sequence.
void write_text(const void* text, std::size_t count, u32 unit, bool new_line);
// NUL-terminated bytes written as they are; the listeners are told.
void print_c_text(const char* text);
void print_integer(i64 v);
void print_byte_hex(u8 v);
void print_hex(u32 v);
void print_float(double v);
void print_float32(float v);
// Writes out what the writer holds.
void flush();

// Where the writer's bytes go (standard output unless a test redirects them).
using Sink = void (*)(const char* bytes, std::size_t n);
void set_sink(Sink sink);
constexpr std::size_t kBufferSize = 1024;
constexpr std::size_t kFlushAt = 1020;

// Calls made around every print while the terminal UI is active.
using PrintFence = void (*)();

}  // namespace zot::output
