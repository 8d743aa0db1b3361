#include "runtime/print.h"

#include <cstdio>

#include "platform/platform.h"

namespace zot::runtime {

namespace {

void append_entry(std::string* out, const PrintEntry& e) {
  char buf[64];
  switch (e.kind) {
    case PrintEntry::kLogic: out->append(e.logic ? "true" : "false"); break;
    case PrintEntry::kInteger: std::snprintf(buf, sizeof buf, "%lld", (long long)e.integer); out->append(buf); break;
    case PrintEntry::kChar: out->push_back(char(e.integer)); break;
    case PrintEntry::kFloat32:
    case PrintEntry::kFloat64: std::snprintf(buf, sizeof buf, "%.17g", e.number); out->append(buf); break;
    case PrintEntry::kText: out->append(e.text ? e.text : ""); break;
    case PrintEntry::kHex: std::snprintf(buf, sizeof buf, "%08X", unsigned(e.integer)); out->append(buf); break;
  }
}

void emit(const std::string& s) {
  std::fflush(stdout);
  platform::write_all(1, s.data(), s.size());
}

}  // namespace

void format_entries(std::string* out, const PrintEntry* entries, int count, bool spaced) {
  for (int i = 0; i < count; i++) {
    if (spaced && i > 0 && !out->empty()) {
      char last = out->back();
      if (last != ' ' && last != '\n' && last != '\r' && last != '\t') out->push_back(' ');
    }
    append_entry(out, entries[i]);
  }
}

void print(const PrintEntry* entries, int count, bool spaced) {
  std::string s;
  format_entries(&s, entries, count, spaced);
  emit(s);
}

void print_line(const PrintEntry* entries, int count, bool spaced) {
  std::string s;
  format_entries(&s, entries, count, spaced);
  s.push_back('\n');
  emit(s);
}

void print_text(const char* text, std::size_t n) { emit(std::string(text, n)); }

std::string char_literal(u8 c) {
  std::string s = "#\"";
  switch (c) {
    case 0: s += "^@"; break;
    case 9: s += "^-"; break;
    case 10: s += "^/"; break;
    case 27: s += "^]"; break;
    default:
      if (c < 32) {
        s += '^';
        s += char(64 + c);
      } else if (c < 128) {
        s += char(c);
      } else {
        char buf[8];
        std::snprintf(buf, sizeof buf, "^(%02X)", c);
        s += buf;
      }
  }
  s += '"';
  return s;
}

}  // namespace zot::runtime
