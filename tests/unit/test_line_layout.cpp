// The line editor's layout: cells per character, wrapping at the window's
// width, and the cursor moves it writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/line_layout.h"

namespace zot {
namespace {

using namespace console::layout;

struct Shown {
  int end;
  std::string bytes;
};

Shown show(const std::vector<u32>& text, int pos, int columns, bool hidden = false) {
  std::vector<u8> units;
  for (u32 cp : text)
    for (int i = 0; i < 4; i++) units.push_back(u8(cp >> (8 * i)));
  std::string out;
  int end = emit(units.data(), 4, 0, i32(text.size()), pos, columns, hidden, &out);
  EXPECT_EQ(emit(units.data(), 4, 0, i32(text.size()), pos, columns, hidden, nullptr), end);
  return {end, out};
}

TEST(LineLayout, CellsAndBytes) {
  const struct {
    std::vector<u32> text;
    int pos, columns;
    bool hidden;
    int end;
    const char* bytes;
  } cases[] = {
      {{'a', 'b', 'c'}, 3, 10, false, 6, "abc"},
      {{'\t', 'x'}, 0, 10, false, 5, "    x"},
      {{0x65E5, 0x672C}, 0, 10, false, 4, "\xe6\x97\xa5\xe6\x9c\xac"},
      {{0x1F30D}, 0, 10, false, 2, "\xf0\x9f\x8c\x8d"},
      {{'e', 0x301}, 0, 10, false, 1, "e\xcc\x81"},  // a combining mark takes no cell
      // A wide character that would start in the last column: three cells.
      {{0x65E5}, 8, 10, false, 10, "\xe6\x97\xa5"},
      {{0x65E5}, 9, 10, false, 12, "\xe6\x97\xa5"},
      {{0x65E5}, 19, 10, false, 22, "\xe6\x97\xa5"},
      // Escape sequences pass through with no width.
      {{27, '[', '1', ';', '3', '1', 'm', '>', 27, '[', '0', 'm'}, 0, 10, false, 1, "\x1b[1;31m>\x1b[0m"},
      {{27, '(', 'B', 'x'}, 0, 10, false, 1, "\x1b(Bx"},
      {{27, '[', '?', '2', '5', 'l'}, 0, 10, false, 0, "\x1b[?25l"},
      // Other control characters show as "?".
      {{'a', 7, 27, 'b'}, 0, 10, false, 4, "a??b"},
      // Hidden: a star each, whatever the character.
      {{0x65E5, '\t', 'x'}, 9, 10, true, 12, "***"},
  };
  for (const auto& c : cases) {
    Shown s = show(c.text, c.pos, c.columns, c.hidden);
    EXPECT_EQ(s.end, c.end) << c.bytes;
    EXPECT_EQ(s.bytes, c.bytes);
  }
}

TEST(LineLayout, CursorAfterWritingAndMoves) {
  Cursor cur{10, 0, 3};
  cur.wrote(3, 10);  // up to the last column: the cursor stays on the row
  EXPECT_EQ(cur.row, 0);
  EXPECT_EQ(cur.column, 9);
  cur.wrote(3, 13);
  EXPECT_EQ(cur.row, 1);
  EXPECT_EQ(cur.column, 3);
  cur.wrote(5, 5);  // nothing written
  EXPECT_EQ(cur.row, 0);
  EXPECT_EQ(cur.column, 5);

  const struct {
    int row, column, to_row, to_column;
    const char* moves;
  } cases[] = {
      {1, 3, 0, 5, "\x1b[1A\r\x1b[5C"},
      {3, 7, 0, 0, "\x1b[3A\r"},
      {0, 9, 1, 0, "\r\n\r"},  // down by line feeds, which scroll at the end
      {0, 2, 2, 4, "\r\n\r\n\r\x1b[4C"},
      {1, 1, 1, 6, "\r\x1b[6C"},
  };
  for (const auto& c : cases) {
    Cursor m{10, c.row, c.column};
    std::string out;
    m.move(c.to_row, c.to_column, &out);
    EXPECT_EQ(out, c.moves);
    EXPECT_EQ(m.row, c.to_row);
    EXPECT_EQ(m.column, c.to_column);
  }
}

}  // namespace
}  // namespace zot
