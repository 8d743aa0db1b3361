// Keys from terminal bytes, and the answer to a cursor position query.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/keys.h"
#include "platform/terminal.h"

namespace zot {
namespace {

using namespace console::keys;
namespace term = platform::terminal;

// The bytes the fake terminal sends; an empty queue times out a wait with
// a limit and ends the input for a wait without one. kResized entries stand
// for a window change.
std::vector<int> g_bytes;
std::size_t g_at;

int fake_source(int timeout_ms) {
  if (g_at < g_bytes.size()) return g_bytes[g_at++];
  return timeout_ms < 0 ? term::kEnded : term::kTimeout;
}

void feed(const std::string& bytes) {
  g_bytes.clear();
  for (char c : bytes) g_bytes.push_back(u8(c));
  g_at = 0;
}

std::vector<int> keys_of(const std::string& bytes) {
  feed(bytes);
  Reader r(fake_source);
  std::vector<int> keys;
  for (int k = r.next(); k != kEnded; k = r.next()) keys.push_back(k);
  return keys;
}

TEST(ConsoleKeys, CharactersAndSequences) {
  const struct {
    const char* bytes;
    std::vector<int> keys;
  } cases[] = {
      {"a\r\x7f\x03", {'a', '\r', 127, 3}},
      {"\xc3\xa9\xe6\x97\xa5\xf0\x9f\x8c\x8d", {0xE9, 0x65E5, 0x1F30D}},
      // Malformed UTF-8: one U+FFFD each; a byte that breaks a sequence is
      // read again as a key of its own.
      {"\xff\x80", {0xFFFD, 0xFFFD}},
      {"\xc3(", {0xFFFD, '('}},
      {"\xed\xa0\x80", {0xFFFD}},  // a surrogate
      {"\xe6\x97", {0xFFFD}},      // cut short by the end
      // A lone Esc, and Esc twice.
      {"\x1b", {kEsc}},
      {"\x1b\x1b", {kEsc, kEsc}},
      // The cursor keys and Home/End in their encodings.
      {"\x1b[A\x1b[B\x1b[C\x1b[D", {kUp, kDown, kRight, kLeft}},
      {"\x1bOA\x1bOB\x1bOC\x1bOD", {kUp, kDown, kRight, kLeft}},
      {"\x1b[H\x1b[F\x1bOH\x1bOF", {kHome, kEnd, kHome, kEnd}},
      {"\x1b[1~\x1b[7~\x1b[4~\x1b[8~", {kHome, kHome, kEnd, kEnd}},
      {"\x1b[3~\x1b[2~\x1b[5~\x1b[6~", {kDelete, kInsert, kPageUp, kPageDown}},
      // With modifiers the key stays itself.
      {"\x1b[1;5C\x1b[3;2~", {kRight, kDelete}},
      // Sequences of no meaning here; Alt with a key.
      {"\x1b[99~x\x1b[1;5Zy\x1bOQz", {kUnknown, 'x', kUnknown, 'y', kUnknown, 'z'}},
      {"\x1b" "b!\x1b\xc3\xa9!", {kUnknown, '!', kUnknown, '!'}},
      // A sequence cut short, or broken by a byte that cannot be in one.
      {"\x1b[", {kUnknown}},
      {"\x1b[\x01", {kUnknown, 1}},
  };
  for (const auto& c : cases) EXPECT_EQ(keys_of(c.bytes), c.keys) << c.bytes;
}

TEST(ConsoleKeys, ResizeIsToldBetweenKeys) {
  g_bytes = {'a', term::kResized, 'b', 0x1b, '[', term::kResized, 'A'};
  g_at = 0;
  Reader r(fake_source);
  EXPECT_EQ(r.next(), 'a');
  EXPECT_EQ(r.next(), kResized);
  EXPECT_EQ(r.next(), 'b');
  EXPECT_EQ(r.next(), kUp);  // a resize inside a sequence comes after its key
  EXPECT_EQ(r.next(), kResized);
  EXPECT_EQ(r.next(), kEnded);
}

TEST(ConsoleKeys, CursorPositionAnswer) {
  const struct {
    const char* bytes;
    int column;
    std::vector<int> keys_after;  // typed while the answer was awaited
  } cases[] = {
      {"\x1b[5;12R", 11, {}},
      {"ab\x1b[5;3R", 2, {'a', 'b'}},
      {"\x1b[A\x1b[2;4Rc", 3, {kUp, 'c'}},
      {"\x1b\x1b[1;1R", 0, {kEsc}},  // Esc pressed just before the answer
      {"\x1b[12Rx", -1, {kUnknown, 'x'}},  // not an answer: no column
      {"", -1, {}},
  };
  for (const auto& c : cases) {
    feed(c.bytes);
    Reader r(fake_source);
    EXPECT_EQ(r.cursor_column(10), c.column) << c.bytes;
    std::vector<int> keys;
    for (int k = r.next(); k != kEnded; k = r.next()) keys.push_back(k);
    EXPECT_EQ(keys, c.keys_after) << c.bytes;
  }
}

}  // namespace
}  // namespace zot
