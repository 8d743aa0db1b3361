#include "console/line_editor.h"

#include <algorithm>
#include <exception>
#include <string>

#include "console/keys.h"
#include "console/line_layout.h"
#include "console/stdin_input.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/pair.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "interpreter/eval.h"
#include "platform/platform.h"
#include "platform/terminal.h"
#include "runtime/fatal.h"
#include "runtime/output.h"
#include "runtime/root.h"
#include "runtime/rooted.h"
#include "runtime/symbol.h"

namespace zot::console {

namespace {

namespace term = platform::terminal;

// How long a terminal has to answer where its cursor is; one that never
// answers is not asked again.
constexpr int kCursorQueryMs = 500;

// The values the editor holds between calls live in cells of the root
// block, so the collector keeps them.
enum Slot : u32 { kLine, kPrompt, kHistory, kSaved, kSlotCount };

struct Editor {
  bool slots_made = false;
  u32 first_slot = 0;
  bool checked = false;
  bool interactive = false;
  int columns = 80;
  int rows = 50;
  bool full = true;        // the next redraw rewrites the prompt and the line
  bool hidden = false;     // the line shows as "*"
  bool first_draw = true;  // the next redraw asks where the prompt starts
  bool stale = false;      // the width changed since the last redraw
  bool query_answered = true;
  int prompt_column = 0;
  int end_at = 0;  // offset of the end of the line after the last redraw
  int edits = 0;   // edits begun, to notice one begun by a completion
  layout::Cursor cursor;
};

Editor g;
std::string g_out;
keys::Reader g_keys(term::read_byte);

Cell* slot(Slot s) { return root::cell(g.first_slot + s); }

void make_slots() {
  if (g.slots_made) return;
  Cell none;
  set_none(&none);
  g.first_slot = root::append_copy(&none);
  for (u32 i = 1; i < kSlotCount; i++) root::append_copy(&none);
  g.slots_made = true;
}

void check_terminal() {
  if (g.checked) return;
  g.checked = true;
  g.interactive = term::interactive();
  runtime::add_exit_hook(term::restore);
}

// ---- system/console

// The value cell of a word in a context, or null (good until the next allocation).
Cell* field_in(mem::Node ctx, u32 symbol) {
  i32 i = context::find_word(ctx, symbol, true);
  return i < 0 ? nullptr : context::value_at(ctx, u32(i));
}

Cell* console_field(const char* name) {
  u32 s_system = symbol::make("system");
  u32 s_console = symbol::make("console");
  u32 s_name = symbol::make(name);
  Cell* sys = field_in(context::g_global, s_system);
  if (!sys || !sys->is(T_OBJECT)) return nullptr;
  Cell* con = field_in(sys->object_context(), s_console);
  if (!con || !con->is(T_OBJECT)) return nullptr;
  return field_in(con->object_context(), s_name);
}

// ---- output

void write_out() {
  output::flush();
  platform::write_all(1, g_out.data(), g_out.size());
  g_out.clear();
}

// The window title: an OSC sequence, its text kept free of control
// characters that would end it early or start another.
void set_title(const Cell* title) {
  if (!title || !is_any_string(title->type())) return;
  std::string text = string::to_utf8(title);
  g_out = "\x1b]0;";
  for (std::size_t i = 0; i < text.size(); i++) {
    u8 c = u8(text[i]);
    if (c < 0x20 || c == 0x7F) continue;
    if (c == 0xC2 && i + 1 < text.size() && u8(text[i + 1]) >= 0x80 && u8(text[i + 1]) < 0xA0) {
      i++;  // a C1 control, U+0080-U+009F
      continue;
    }
    g_out.push_back(char(c));
  }
  g_out.push_back('\x07');
  write_out();
}

// ---- the line

i32 clamp(i32 v, i32 low, i32 high) { return v < low ? low : v > high ? high : v; }

Cell line_cell() { return *slot(kLine); }
i32 line_length() {
  Cell l = line_cell();
  return string::total_length(&l);
}
i32 cursor_index() { return clamp(slot(kLine)->series_index(), 0, line_length()); }
void set_cursor(i32 i) { slot(kLine)->set_series_index(clamp(i, 0, line_length())); }

// The line becomes the text (from its index; nothing when it is not text),
// the cursor at its end.
void set_line_text(const Cell* text) {
  Cell line = line_cell();
  string::reset(&line);
  if (text && is_any_string(text->type())) string::concatenate(&line, text, -1, 0, true, string::kConcatAppend);
  line.set_series_index(string::total_length(&line));
  *slot(kLine) = line;
}

void set_line_c_text(const char* text) {
  Cell line = line_cell();
  string::reset(&line);
  string::append_c_text(&line, text);
  line.set_series_index(string::total_length(&line));
  *slot(kLine) = line;
}

// ---- drawing

// Where the prompt starts: asked of the terminal once per edit.
int query_column() {
  if (!g.query_answered) return 0;
  output::flush();
  platform::write_all(1, "\x1b[6n", 4);
  int column = g_keys.cursor_column(kCursorQueryMs);
  if (column < 0) {
    g.query_answered = false;
    return 0;
  }
  return column < g.columns ? column : g.columns - 1;
}

// Shows the prompt and the line: all of it on a full redraw, else only the
// cursor moves. Then the cursor goes where the line's index is.
void redraw(bool clear_below = false) {
  if (g.stale) {
    g.full = true;
    g.stale = false;
  }
  if (g.first_draw) {
    g.first_draw = false;
    g.prompt_column = query_column();
    g.cursor = layout::Cursor{g.columns, 0, g.prompt_column};
    g.full = true;
  }
  int columns = g.columns;
  g.cursor.columns = columns;
  std::string* text_out = g.full ? &g_out : nullptr;
  if (g.full) {
    g.cursor.move(0, g.prompt_column, &g_out);
    g_out += "\x1b[J";
  }
  int x = g.prompt_column;
  Cell prompt = *slot(kPrompt);
  if (is_any_string(prompt.type())) {
    mem::Series* p = string::buffer_of(&prompt);
    i32 length = i32(p->length());
    x = layout::emit(p->head_ptr(), p->unit(), clamp(prompt.series_index(), 0, length), length, x, columns, false,
                     text_out);
  }
  Cell line = line_cell();
  mem::Series* l = string::buffer_of(&line);
  i32 length = i32(l->length());
  i32 at = clamp(line.series_index(), 0, length);
  int cursor = layout::emit(l->head_ptr(), l->unit(), 0, at, x, columns, g.hidden, text_out);
  int end = layout::emit(l->head_ptr(), l->unit(), at, length, cursor, columns, g.hidden, text_out);
  if (g.full) g.cursor.wrote(g.prompt_column, end);
  g.end_at = end;
  int row = cursor / columns, column = cursor % columns;
  // A wide character that did not fit in the last column stands on the next row.
  if (at < length && column == columns - 1 && !g.hidden &&
      layout::char_cells(string::get_char(l->head_ptr() + std::size_t(at) * l->unit(), l->unit())) == 2) {
    row++;
    column = 0;
  }
  g.cursor.move(row, column, &g_out);
  if (clear_below) g_out += "\x1b[J";
  write_out();
}

// Leaves the input behind: the cursor to the start of the row after it.
void leave_input() {
  if (g.first_draw) return;  // nothing was drawn
  int columns = g.cursor.columns;
  int last = g.end_at / columns;
  if (g.end_at > g.prompt_column && g.end_at % columns == 0) last--;
  g.cursor.move(last + 1, 0, &g_out);
  write_out();
}

// Raw mode for one edit; the mode comes back however the edit ends. An edit
// begun inside another (by a completion function) leaves the mode to it.
class RawMode {
 public:
  RawMode() : entered_(!term::is_raw() && term::enter_raw()), uncaught_(std::uncaught_exceptions()) {}
  ~RawMode() {
    if (std::uncaught_exceptions() > uncaught_) leave_input();  // an error goes out below the input
    if (entered_) term::restore();
  }
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;

 private:
  bool entered_;
  int uncaught_;
};

// ---- keys that change the line

void insert_char(u32 cp) {
  Cell line = line_cell();
  i32 length = string::total_length(&line);
  i32 at = clamp(line.series_index(), 0, length);
  if (at == length && !g.stale && !g.first_draw) {
    // At the end only the new character is written.
    string::append_char(string::buffer_of(&line), cp);
    line.set_series_index(at + 1);
    *slot(kLine) = line;
    line = line_cell();
    mem::Series* l = string::buffer_of(&line);
    int end = layout::emit(l->head_ptr(), l->unit(), at, at + 1, g.end_at, g.columns, g.hidden, &g_out);
    write_out();
    g.cursor.wrote(g.end_at, end);
    g.end_at = end;
    g.full = false;
  } else {
    string::insert_char(string::buffer_of(&line), at, cp);
    line.set_series_index(at + 1);
    *slot(kLine) = line;
  }
  redraw();
}

void remove_at(i32 at) {
  Cell line = line_cell();
  string::remove_char(&line, at);
}

i32 history_count() {
  Cell h = *slot(kHistory);
  return h.is(T_BLOCK) ? block::length_at(&h) : 0;
}

void show_history_entry(i32 n) {
  Cell h = *slot(kHistory);
  if (n < 0 || n >= history_count()) {
    set_line_text(nullptr);
    return;
  }
  Cell entry = *block::cell_at(&h, h.series_index() + n);
  set_line_text(&entry);
}

// Enter: a line that is not hidden, not empty and not the same as the most
// recent entry (compared exactly) goes at the head of the history.
void add_to_history() {
  set_cursor(0);
  if (g.hidden || line_length() == 0 || !slot(kHistory)->is(T_BLOCK)) return;
  Cell line = line_cell();
  if (history_count() > 0) {
    Cell h = *slot(kHistory);
    Cell latest = *block::cell_at(&h, h.series_index());
    if (is_any_string(latest.type()) && string::compare_values(&line, &latest, 2, false) == 0) return;
  }
  Rooted copy;
  string::make_at(&copy.cell, u32(line_length()));
  line = line_cell();
  string::concatenate(&copy.cell, &line, -1, 0, true, string::kConcatAppend);
  Cell h = *slot(kHistory);
  block::insert_value(&h, &copy.cell, false, true);
}

// Tab: asks the completion function. No answer: 0 (Tab is then typed). One
// entry: the line becomes it. Several: the candidates are shown in place of
// the line, which waits in the saved line for the next edit.
i32 complete() {
  u32 s_ctx = symbol::make("zot-complete-ctx");
  u32 s_fn = symbol::make("complete-input");
  Cell* ctx = field_in(context::g_global, s_ctx);
  if (!ctx || !ctx->is(T_OBJECT)) return 0;
  Cell* fn_cell = field_in(ctx->object_context(), s_fn);
  if (!fn_cell || !fn_cell->is(T_FUNCTION)) return 0;
  Rooted fn(*fn_cell);
  Rooted text;
  Cell line = line_cell();
  string::make_at(&text.cell, u32(string::total_length(&line)));
  line = line_cell();
  line.set_series_index(0);
  string::concatenate(&text.cell, &line, -1, 0, true, string::kConcatAppend);
  text.cell.set_series_index(cursor_index());
  // A completion function that reads a line itself takes the editor's
  // values for a while: they come back afterwards.
  Rooted own_line(*slot(kLine)), own_prompt(*slot(kPrompt)), own_history(*slot(kHistory));
  int edits = g.edits;
  Cell args[2];
  args[0] = text.cell;
  set_logic(&args[1], true);
  Cell word = word::load("complete-input");
  // Completion is library code: it runs untraced (no callback class).
  Rooted answer(interp::call_callback(&fn.cell, &word, args, 2, 0));
  if (g.edits != edits) {
    *slot(kLine) = own_line.cell;
    *slot(kPrompt) = own_prompt.cell;
    *slot(kHistory) = own_history.cell;
    term::enter_raw();
    g.first_draw = true;  // the prompt is drawn again where the cursor now is
  }
  if (!answer.cell.is(T_BLOCK)) return 0;
  i32 count = block::length_at(&answer.cell);
  if (count == 0) return 0;
  Cell first = *block::cell_at(&answer.cell, answer.cell.series_index());
  // The first entry is the new line, positioned where the cursor goes; an
  // entry that is not text stands for an empty line.
  bool first_text = is_any_string(first.type());
  i32 first_at = first_text ? first.series_index() : 0;
  Cell first_head = first;
  if (first_text) first_head.set_series_index(0);
  if (count == 1) {
    set_line_text(&first_head);
    set_cursor(first_at);
    redraw();
    return 1;
  }
  Cell saved = *slot(kSaved);
  string::reset(&saved);
  if (first_text) string::concatenate(&saved, &first_head, -1, 0, true, string::kConcatAppend);
  saved.set_series_index(clamp(first_at, 0, string::total_length(&saved)));
  *slot(kSaved) = saved;
  set_line_text(nullptr);
  for (i32 i = 1; i < count; i++) {
    Cell entry = *block::cell_at(&answer.cell, answer.cell.series_index() + i);
    Cell l = line_cell();
    if (is_any_string(entry.type())) string::concatenate(&l, &entry, -1, 0, true, string::kConcatAppend);
    string::append_char(string::buffer_of(&l), ' ');
  }
  set_cursor(line_length());
  redraw();
  return count;
}

void empty_saved_line() {
  Cell s = *slot(kSaved);
  if (s.is(T_STRING)) string::reset(&s);
}

void make_saved_line() {
  if (slot(kSaved)->is(T_STRING)) return;
  Rooted s;
  string::make_at(&s.cell, 1);
  *slot(kSaved) = s.cell;
}

// The edit loop. True when a line was entered, false when the input ended.
bool edit(bool hidden) {
  RawMode raw;
  g.edits++;
  g.hidden = hidden;
  g.first_draw = true;
  g.prompt_column = 0;
  g.full = true;
  if (slot(kHistory)->is(T_BLOCK)) slot(kHistory)->set_series_index(0);
  // History position: -1 below the most recent entry, the count past the oldest.
  i32 shown = -1;
  read_console_size();
  make_saved_line();
  Cell saved = *slot(kSaved);
  if (string::total_length(&saved) > 0) {
    Cell text = saved;
    text.set_series_index(0);
    Cell line = line_cell();
    string::concatenate(&line, &text, -1, 0, true, string::kConcatAppend);
    set_cursor(saved.series_index());
  }
  redraw();
  for (;;) {
    g.full = true;
    int k = g_keys.next();
    if (k == keys::kResized) {
      int columns = g.columns;
      read_console_size();
      if (g.columns != columns) g.stale = true;
      continue;
    }
    if (k == keys::kEnded) {
      set_line_text(nullptr);
      leave_input();
      return false;
    }
    if (k == '\t') {
      i32 n = complete();
      if (n > 1) {
        set_line_text(nullptr);
        leave_input();
        return true;
      }
      if (n == 1) continue;
    }
    i32 at = cursor_index(), length = line_length();
    switch (k) {
      case '\r':
      case '\n':  // pasted text: each line is entered
        leave_input();
        add_to_history();
        empty_saved_line();
        return true;
      case 8:
      case 127:
        if (at > 0) {
          remove_at(at - 1);
          set_cursor(at - 1);
          if (at == length) g.full = false;
          redraw(!g.full);
        }
        break;
      case keys::kLeft:
      case 2:
        if (at > 0) {
          set_cursor(at - 1);
          g.full = false;
          redraw();
        }
        break;
      case keys::kRight:
      case 6:
        if (at < length) {
          set_cursor(at + 1);
          g.full = false;
          redraw();
        }
        break;
      case keys::kUp:
      case 16:
        if (shown < history_count() - 1) {
          shown++;
          show_history_entry(shown);
        } else {
          shown = history_count();
          set_line_text(nullptr);
        }
        redraw();
        break;
      case keys::kDown:
      case 14:
        if (shown <= 0) {
          shown = -1;
          set_line_text(nullptr);
        } else {
          shown = std::min(shown, history_count()) - 1;
          show_history_entry(shown);
        }
        redraw();
        break;
      case keys::kHome:
      case 1:
        set_cursor(0);
        g.full = false;
        redraw();
        break;
      case keys::kEnd:
      case 5:
        set_cursor(length);
        g.full = false;
        redraw();
        break;
      case keys::kDelete:
        if (at < length) {
          remove_at(at);
          redraw();
        }
        break;
      case 11:  // Ctrl+K
        if (at < length) {
          Cell line = line_cell();
          string::remove_part(&line, at, length - at);
          redraw();
        }
        break;
      case 4:  // Ctrl+D
        if (length == 0) {
          set_line_c_text("q");
          leave_input();
          return true;
        }
        if (at < length) {
          remove_at(at);
          redraw();
        }
        break;
      case 3:  // Ctrl+C
        set_line_c_text("q");
        leave_input();
        return true;
      case keys::kEsc: {
        empty_saved_line();
        Cell line = line_cell();
        string::append_char(string::buffer_of(&line), keys::kEsc);
        leave_input();
        return true;
      }
      default:
        if (k > 31 || k == '\t') insert_char(u32(k));
        break;
    }
  }
}

}  // namespace

void init_console(const Cell* title) {
  check_terminal();
  make_slots();
  // On a terminal Ctrl+C halts the evaluation rather than ending the program.
  if (g.interactive) platform::catch_interrupts(true);
  if (platform::is_terminal(1)) set_title(title);
  read_console_size();
  make_saved_line();
}

bool interactive() {
  check_terminal();
  return g.interactive;
}

ConsoleSize read_console_size() {
  int columns = g.columns, rows = g.rows;
  if (const Cell* size = console_field("size"); size && size->is(T_PAIR)) {
    if (pair::x_of(size) > 0) columns = pair::x_of(size);
    if (pair::y_of(size) > 0) rows = pair::y_of(size);
  }
  int c, r;
  if (term::window_size(&c, &r)) {
    columns = c;
    rows = r;
  }
  if (columns <= 0) columns = 80;
  if (rows <= 0) rows = 50;
  g.columns = columns;
  g.rows = rows;
  if (Cell* size = console_field("size")) pair::make_at(size, columns, rows);
  return {columns, rows};
}

void set_buffer_history(const Cell* line, const Cell* history) {
  make_slots();
  *slot(kLine) = *line;
  *slot(kHistory) = *history;
}

bool read_line(const Cell* prompt, bool hidden) {
  check_terminal();
  make_slots();
  if (!slot(kLine)->is(T_STRING)) {
    Rooted s;
    string::make_at(&s.cell, 1);
    *slot(kLine) = s.cell;
  }
  if (!g.interactive) {
    Cell line = line_cell();
    return read_stdin_line(&line);
  }
  *slot(kPrompt) = *prompt;
  platform::clear_interrupt();  // it came while nothing of the user's ran
  bool entered = edit(hidden);
  set_none(slot(kPrompt));
  return entered;
}

void terminate_console() { term::restore(); }

}  // namespace zot::console
