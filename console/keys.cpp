#include "console/keys.h"

#include "platform/terminal.h"
#include "runtime/unicode.h"

namespace zot::console::keys {

namespace term = platform::terminal;

namespace {

// The key a sequence's final letter names (after ESC [ or ESC O).
int letter_key(int b) {
  switch (b) {
    case 'A': return kUp;
    case 'B': return kDown;
    case 'C': return kRight;
    case 'D': return kLeft;
    case 'H': return kHome;
    case 'F': return kEnd;
    default: return kUnknown;
  }
}

}  // namespace

int Reader::byte(int timeout_ms) {
  if (!queue_.empty()) {
    int b = u8(queue_.front());
    queue_.erase(0, 1);
    return b;
  }
  for (;;) {
    int b = source_(timeout_ms);
    // Inside a sequence a resize is told after the key.
    if (b != term::kResized || timeout_ms < 0) return b;
    resized_ = true;
  }
}

int Reader::next() {
  if (resized_) {
    resized_ = false;
    return kResized;
  }
  int b = byte(-1);
  if (b == term::kResized) return kResized;
  if (b < 0) return kEnded;
  if (b == kEsc) return escape();
  if (b < 0x80) return b;
  return character(b);
}

// The rest of a UTF-8 sequence; malformed input is one U+FFFD, and a byte
// that does not continue the sequence is kept for the next key.
int Reader::character(int lead) {
  int length = unicode::utf8_sequence_length(u8(lead));
  if (length == 0 || lead > 0xF4) return int(unicode::kReplacementChar);
  u8 bytes[4] = {u8(lead), 0, 0, 0};
  for (int i = 1; i < length; i++) {
    int b = byte(kSequenceWaitMs);
    if (b < 0) return int(unicode::kReplacementChar);
    if ((b & 0xC0) != 0x80) {
      keep(b);
      return int(unicode::kReplacementChar);
    }
    bytes[i] = u8(b);
  }
  i32 cp;
  unicode::decode_utf8_char(bytes, bytes + length, cp);
  return cp < 0 ? int(unicode::kReplacementChar) : cp;
}

int Reader::escape() {
  int b = byte(kSequenceWaitMs);
  if (b < 0) return kEsc;  // nothing followed: the Esc key itself
  if (b == '[') return csi();
  if (b == 'O') {
    // SS3: the cursor keys in application mode, Home and End.
    return letter_key(byte(kSequenceWaitMs));
  }
  if (b == kEsc) {
    // Esc pressed twice: this one, and the next is read as a key of its own.
    keep(b);
    return kEsc;
  }
  // Alt with a key: nothing here, and the key's own bytes are used up.
  if (b >= 0x80) character(b);
  return kUnknown;
}

// ESC [ parameters intermediates final.
int Reader::csi() {
  int param = -1;  // the first numeric parameter
  bool first = true;
  for (;;) {
    int b = byte(kSequenceWaitMs);
    if (b < 0) return kUnknown;
    if (b >= '0' && b <= '9') {
      if (first) param = (param < 0 ? 0 : param) * 10 + (b - '0');
      if (param > 1000) param = 1000;
      continue;
    }
    if (b >= 0x20 && b <= 0x3F) {  // other parameter and intermediate bytes
      if (b == ';') first = false;
      continue;
    }
    if (b < 0x40 || b > 0x7E) {
      keep(b);  // not a sequence after all
      return kUnknown;
    }
    if (b != '~') return letter_key(b);
    switch (param) {
      case 1: case 7: return kHome;
      case 4: case 8: return kEnd;
      case 2: return kInsert;
      case 3: return kDelete;
      case 5: return kPageUp;
      case 6: return kPageDown;
      default: return kUnknown;
    }
  }
}

int Reader::cursor_column(int timeout_ms) {
  // ESC [ row ; column R. Other bytes read meanwhile go behind those already
  // kept, in the order they came.
  std::string seen;
  int numbers[2] = {0, 0};
  int which = 0;
  for (;;) {
    int b = source_(seen.empty() ? timeout_ms : kSequenceWaitMs);
    if (b == term::kResized) {
      resized_ = true;
      continue;
    }
    if (b < 0) {
      queue_ += seen;
      if (seen.empty()) return -1;
      seen.clear();
      continue;
    }
    if (b == kEsc) {
      // A new start: what was collected was not the answer.
      queue_ += seen;
      seen.assign(1, char(b));
      numbers[0] = numbers[1] = 0;
      which = 0;
      continue;
    }
    if (seen.empty()) {
      keep(b);
      continue;
    }
    seen.push_back(char(b));
    if (seen.size() == 2) {
      if (b == '[') continue;
    } else if (b >= '0' && b <= '9') {
      if (numbers[which] < 100000) numbers[which] = numbers[which] * 10 + (b - '0');
      continue;
    } else if (b == ';' && which == 0) {
      which = 1;
      continue;
    } else if (b == 'R' && which == 1 && numbers[1] >= 1) {
      return numbers[1] - 1;
    }
    queue_ += seen;
    seen.clear();
  }
}

}  // namespace zot::console::keys
