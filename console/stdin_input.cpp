#include "console/stdin_input.h"

#include <vector>

#include "datatypes/binary.h"
#include "datatypes/string.h"
#include "platform/terminal.h"
#include "runtime/unicode.h"

namespace zot::console {

namespace {

// A byte read past a malformed sequence, given out first next time.
int g_kept = -1;

int next_byte() {
  if (g_kept >= 0) {
    int b = g_kept;
    g_kept = -1;
    return b;
  }
  u8 b;
  return platform::terminal::read_input(&b, 1) == 1 ? b : -1;
}

// The next code point, or -1 at the end of input.
i32 next_char() {
  int lead = next_byte();
  if (lead < 0x80) return lead;
  int length = unicode::utf8_sequence_length(u8(lead));
  if (length == 0 || lead > 0xF4) return i32(unicode::kReplacementChar);
  u8 bytes[4] = {u8(lead), 0, 0, 0};
  for (int i = 1; i < length; i++) {
    int b = next_byte();
    if (b < 0) return i32(unicode::kReplacementChar);
    if ((b & 0xC0) != 0x80) {
      g_kept = b;  // it starts what comes next (a line feed, say)
      return i32(unicode::kReplacementChar);
    }
    bytes[i] = u8(b);
  }
  i32 cp;
  unicode::decode_utf8_char(bytes, bytes + length, cp);
  return cp < 0 ? i32(unicode::kReplacementChar) : cp;
}

}  // namespace

bool read_stdin_line(const Cell* line) {
  Cell s = *line;
  bool any = false;
  for (;;) {
    i32 cp = next_char();
    if (cp < 0) return any;
    any = true;
    if (cp == '\n') return true;
    string::append_char(string::buffer_of(&s), u32(cp));
  }
}

i32 read_stdin_bytes(const Cell* binary, i32 max) {
  if (max <= 0) return 0;
  // One read gives what is there; a read never needs more room than this.
  constexpr i32 kMostAtOnce = 1 << 20;
  std::vector<u8> bytes(static_cast<std::size_t>(max < kMostAtOnce ? max : kMostAtOnce));
  long n = 0;
  if (g_kept >= 0) {
    bytes[0] = u8(g_kept);
    g_kept = -1;
    n = 1;
  } else {
    n = platform::terminal::read_input(bytes.data(), bytes.size());
    if (n <= 0) return i32(n);
  }
  binary::write_bytes_at(binary, 0, bytes.data(), u32(n));
  return i32(n);
}

}  // namespace zot::console
