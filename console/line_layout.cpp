#include "console/line_layout.h"

#include "runtime/unicode.h"

namespace zot::console::layout {

namespace {

u32 unit_at(const u8* units, u32 unit, i32 i) {
  const u8* p = units + std::size_t(i) * unit;
  if (unit == 1) return *p;
  if (unit == 2) return u32(p[0]) | (u32(p[1]) << 8);
  return u32(p[0]) | (u32(p[1]) << 8) | (u32(p[2]) << 16) | (u32(p[3]) << 24);
}

void put_utf8(std::string* out, u32 cp) {
  u8 buf[4];
  if (cp > unicode::kMaxCodePoint || (cp >= 0xD800 && cp <= 0xDFFF)) cp = unicode::kReplacementChar;
  int n = unicode::encode_utf8_char(cp, buf);
  out->append(reinterpret_cast<const char*>(buf), std::size_t(n));
}

void put_number(std::string* out, int n) { out->append(std::to_string(n)); }

}  // namespace

int char_cells(u32 cp) {
  if (cp >= 0x1F300 && cp <= 0x1F5FF) return 2;
  return unicode::char_width(cp);
}

int emit(const u8* units, u32 unit, i32 from, i32 to, int pos, int columns, bool hidden, std::string* out) {
  for (i32 i = from; i < to; i++) {
    u32 cp = unit_at(units, unit, i);
    int cells;
    if (hidden) {
      if (out) out->push_back('*');
      cells = 1;
    } else if (cp == '\t') {
      if (out) out->append("    ");
      pos += 4;
      continue;
    } else if (cp == 27 && i + 1 < to && (unit_at(units, unit, i + 1) == '[' || unit_at(units, unit, i + 1) == '(')) {
      // Parameter and intermediate bytes, then the final byte: no cells.
      i32 j = i + 2;
      while (j < to && unit_at(units, unit, j) >= 0x20 && unit_at(units, unit, j) <= 0x3F) j++;
      if (j < to) j++;
      if (out)
        for (i32 k = i; k < j; k++) out->push_back(char(unit_at(units, unit, k)));
      i = j - 1;
      continue;
    } else if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) {
      // Written as it is, a control character would move the cursor or
      // start a sequence behind the editor's back.
      if (out) out->push_back('?');
      cells = 1;
    } else {
      cells = char_cells(cp);
      if (out) put_utf8(out, cp);
    }
    if (cells == 2 && pos % columns == columns - 1) cells = 3;
    pos += cells;
  }
  return pos;
}

void Cursor::wrote(int from, int to) {
  if (to > from && to % columns == 0) {
    row = to / columns - 1;
    column = columns - 1;
  } else {
    row = to / columns;
    column = to % columns;
  }
}

void Cursor::move(int to_row, int to_column, std::string* out) {
  if (to_row < row) {
    out->append("\x1b[");
    put_number(out, row - to_row);
    out->push_back('A');
  }
  for (int r = row; r < to_row; r++) out->append("\r\n");
  out->push_back('\r');
  if (to_column > 0) {
    out->append("\x1b[");
    put_number(out, to_column);
    out->push_back('C');
  }
  row = to_row;
  column = to_column;
}

}  // namespace zot::console::layout
