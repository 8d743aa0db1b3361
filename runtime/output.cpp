#include "runtime/output.h"

#include <cstdio>
#include <vector>

#include "platform/platform.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace zot::output {

namespace {

std::vector<StringPrinter>* g_printers = nullptr;
std::vector<RawListener>* g_listeners = nullptr;

char g_buffer[kBufferSize];
std::size_t g_fill = 0;

void write_stdout(const char* bytes, std::size_t n) { platform::write_all(1, bytes, n); }
Sink g_sink = write_stdout;
PrintFence g_before = nullptr;
PrintFence g_after = nullptr;

ZOT_INLINE void put_byte(char c) {
  if (g_fill >= kFlushAt) flush();
  g_buffer[g_fill++] = c;
}

void put_code_point(u32 cp) {
  if (g_fill + 4 > kFlushAt) flush();
  if (cp < 0x80) {
    g_buffer[g_fill++] = char(cp);
  } else {
    g_fill += unicode::encode_utf8_char(cp, reinterpret_cast<u8*>(g_buffer + g_fill));
  }
}

void put_bytes(const char* s, std::size_t n) {
  for (std::size_t i = 0; i < n; i++) put_byte(s[i]);
}

void flush_at_exit() { flush(); }

}  // namespace

void init() {
  if (!g_printers) {
    g_printers = new std::vector<StringPrinter>;
    g_listeners = new std::vector<RawListener>;
    g_printers->reserve(5);
    g_listeners->reserve(5);
    runtime::add_flush_hook(flush_at_exit);
  }
  g_printers->clear();
  g_listeners->clear();
  g_printers->push_back(default_printer);
}

void add_hooks(StringPrinter printer, RawListener listener) {
  if (printer) g_printers->push_back(printer);
  if (listener) g_listeners->push_back(listener);
}

void remove_hooks(StringPrinter printer, RawListener listener) {
  for (auto it = g_printers->begin(); it != g_printers->end(); ++it)
    if (*it == printer) {
      g_printers->erase(it);
      break;
    }
  for (auto it = g_listeners->begin(); it != g_listeners->end(); ++it)
    if (*it == listener) {
      g_listeners->erase(it);
      break;
    }
}

void print_string(const Cell* str, bool new_line) {
  // A printer may add or remove hooks: walk by index over a stable count.
  std::size_t n = g_printers->size();
  for (std::size_t i = 0; i < n && i < g_printers->size(); i++) (*g_printers)[i](str, new_line);
}

void notify_listeners(const char* text, std::size_t len, u32 extra) {
  std::size_t n = g_listeners->size();
  for (std::size_t i = 0; i < n && i < g_listeners->size(); i++) (*g_listeners)[i](text, len, extra);
}

void default_printer(const Cell* str, bool new_line) {
  if (g_before) g_before();
  mem::Series* s = mem::series_of(str->series_node());
  u32 unit = s->unit();
  u32 len = s->length();
  u32 head = u32(str->series_index()) < len ? u32(str->series_index()) : len;
  if (unit == 1 || unit == 2 || unit == 4) {
    write_text(s->head_ptr() + std::size_t(head) * unit, len - head, unit, new_line);
  } else {
    char msg[64];
    int n = std::snprintf(msg, sizeof msg, "Error: unknown string encoding: %u\n", unit);
    put_bytes(msg, std::size_t(n));
  }
  flush();
  if (g_after) g_after();
}

void write_text(const void* text, std::size_t count, u32 unit, bool new_line) {
  const u8* p = static_cast<const u8*>(text);
  switch (unit) {
    case 1:
      for (std::size_t i = 0; i < count; i++) put_code_point(p[i]);
      break;
    case 2:
      for (std::size_t i = 0; i < count; i++) put_code_point(u32(p[2 * i]) | (u32(p[2 * i + 1]) << 8));
      break;
    case 4:
      for (std::size_t i = 0; i < count; i++) {
        u32 cp;
        std::memcpy(&cp, p + 4 * i, 4);
        put_code_point(cp <= 0x10FFFF ? cp : 0xFFFD);
      }
      break;
    default:
      break;
  }
  if (new_line) put_byte('\n');
}

void print_c_text(const char* text) {
  std::size_t n = std::strlen(text);
  put_bytes(text, n);
  notify_listeners(text, n, 0);
}

namespace {
void print_formatted(const char* buf, int n) {
  if (n < 0) return;
  put_bytes(buf, std::size_t(n));
  notify_listeners(buf, std::size_t(n), 0);
}
}  // namespace

void print_integer(i64 v) {
  char buf[32];
  print_formatted(buf, std::snprintf(buf, sizeof buf, "%lld", (long long)v));
}
void print_byte_hex(u8 v) {
  char buf[8];
  print_formatted(buf, std::snprintf(buf, sizeof buf, "%02X", v));
}
void print_hex(u32 v) {
  char buf[16];
  print_formatted(buf, std::snprintf(buf, sizeof buf, "%08X", v));
}
void print_float(double v) {
  char buf[64];
  print_formatted(buf, std::snprintf(buf, sizeof buf, "%.16g", v));
}
void print_float32(float v) {
  char buf[64];
  print_formatted(buf, std::snprintf(buf, sizeof buf, "%.7g", double(v)));
}

void flush() {
  if (g_fill) {
    std::size_t n = g_fill;
    g_fill = 0;
    g_sink(g_buffer, n);
  }
}

void set_sink(Sink sink) {
  flush();
  g_sink = sink ? sink : write_stdout;
}

}  // namespace zot::output
