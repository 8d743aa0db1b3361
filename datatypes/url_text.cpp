#include "datatypes/url_text.h"

#include <cstring>
#include <string>

#include "datatypes/string.h"
#include "runtime/unicode.h"

namespace zot::url {

namespace {

i32 hex_value(u8 c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The byte of a "%XX" escape at i, or -1.
i32 escape_at(const std::string& s, std::size_t i) {
  if (i + 3 > s.size() || s[i] != '%') return -1;
  i32 hi = hex_value(u8(s[i + 1])), lo = hex_value(u8(s[i + 2]));
  return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

// Bytes of the UTF-8 sequence a lead byte opens (1 for any other byte).
int sequence_length(u32 b) {
  if ((b & 0xE0) == 0xC0) return 2;
  if ((b & 0xF0) == 0xE0) return 3;
  if ((b & 0xF8) == 0xF0) return 4;
  return 1;
}

bool kept(u8 c, Keep keep) {
  if (keep == Keep::kUrlSafe) return url_safe(c);
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  return c && std::strchr("-._~", c);
}

}  // namespace

bool url_safe(u32 c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  return c && c < 128 && std::strchr("!#$&'()*+,-./:=?@_~", int(c));
}

void decode(const Cell* text, Cell* out) {
  std::string s = string::to_utf8(text);
  std::size_t i = 0;
  while (i < s.size()) {
    i32 b = escape_at(s, i);
    if (b >= 0) {
      int n = sequence_length(u32(b));
      u8 seq[4] = {u8(b)};
      bool whole = true;
      for (int k = 1; k < n && whole; k++) {
        i32 next = escape_at(s, i + 3 * std::size_t(k));
        if (next < 0) whole = false;
        else seq[k] = u8(next);
      }
      if (whole) {
        u32 cp = u32(b);
        if (n > 1) {
          std::size_t count = std::size_t(n);
          cp = u32(unicode::decode_utf8_strict(seq, count));
        }
        string::append_char(string::buffer_of(out), cp);
        i += 3 * std::size_t(n);
        continue;
      }
    }
    // The next character of the text as it is.
    i32 cp;
    const u8* p = reinterpret_cast<const u8*>(s.data()) + i;
    const u8* next = unicode::decode_utf8_char(p, reinterpret_cast<const u8*>(s.data()) + s.size(), cp);
    // (A lone surrogate kept from UTF-16 text comes back byte by byte.)
    string::append_char(string::buffer_of(out), cp < 0 ? u32(*p) : u32(cp));
    i += std::size_t(next - p);
  }
}

void encode(const Cell* text, Cell* out, Keep keep) {
  const std::string r = percent_encode(string::to_utf8(text), [keep](u8 c) { return c < 128 && kept(c, keep); });
  string::append_c_text_n(out, r.data(), r.size());
}

}  // namespace zot::url
