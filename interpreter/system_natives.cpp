// Natives that reach the platform: now and wait, the environment, local file
// paths, file sizes and the desktop's browser.
#include <cmath>
#include <string>

#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/file_io.h"
#include "datatypes/map.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "interpreter/eval.h"
#include "interpreter/natives.h"
#include "interpreter/os_text.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "runtime/errors.h"
#include "runtime/helpers.h"
#include "runtime/stack.h"

namespace zot::natives {

namespace {

ZOT_INLINE Cell* base() { return stack::g_base; }

void result(const Cell* v) {
  stack::set_result(v);
  stack::g_top = base() + 1;
}

void none_result() {
  set_none(base());
  stack::g_top = base() + 1;
}

// refs: /year /month /day /time /zone /date /weekday /yearday /precise /utc
void n_now(const i32* refs) {
  enum { kYear, kMonth, kDay, kTime, kZone, kDate, kWeekday, kYearday, kPrecise, kUtc };
  auto has = [&](int r) { return refs[r] >= 0; };
  int given = 0;
  for (int r = kYear; r <= kPrecise; r++) given += has(r);
  if (given > 1 && !(given == 2 && has(kTime) && has(kPrecise))) raise_error(Err::ScriptBadRefines);

  // One reading of the clock: the UTC day and time, then moved into the zone.
  int zone_minutes = 0;
  double now = platform::epoch_now(has(kPrecise), &zone_minutes);
  double whole = std::floor(now);
  Cell d;
  date::from_epoch(&d, i64(whole));
  u32 w = d.date_word();
  double time = date::time_of(&d) + (now - whole);
  if (!has(kUtc)) {
    w = (w & ~date::kZoneMask) | platform::encode_zone(zone_minutes);
    i64 days = date::day_number(w);
    date::normalize_time(&days, &time, w);
    w = date::word_of_days(days, w);
  }
  if (has(kDate)) {
    w &= ~(date::kHasTime | date::kZoneMask);
    time = 0.0;
  }
  date::store(&d, w, time);

  const struct {
    int ref;
    int field;
  } fields[] = {{kYear, date::kFieldYear}, {kMonth, date::kFieldMonth},     {kDay, date::kFieldDay},
                {kZone, date::kFieldZone}, {kTime, date::kFieldTime},       {kWeekday, date::kFieldWeekday}};
  for (const auto& f : fields) {
    if (!has(f.ref)) continue;
    Cell* v = date::get_field(&d, f.field);
    Cell answer = *v;
    result(&answer);
    return;
  }
  if (has(kYearday)) {
    set_integer(base(), date::year_day(w));
    stack::g_top = base() + 1;
    return;
  }
  result(&d);
}

void n_wait(const i32*) {
  const Cell* v = base();
  double seconds = v->is(T_INTEGER) ? double(v->int_value()) : v->float_value();
  platform::sleep(seconds);
  // A Ctrl+C ends the wait early: the evaluation stops there.
  if (platform::interrupt_requested()) interp::halt_on_interrupt();
  none_result();
}

// A variable's name: text, or a word standing for it.
std::string env_name(const Cell* v) { return os_text::of(v); }

void n_get_env(const i32*) {
  std::string value;
  if (!platform::get_env(env_name(base()).c_str(), &value)) return none_result();
  Cell* s = os_text::scratch();
  os_text::to_string(s, value, false);
  result(s);
}

void n_set_env(const i32*) {
  std::string name = env_name(base());
  const Cell* value = base() + 1;
  bool ok = value->is(T_NONE) ? platform::set_env(name.c_str(), nullptr)
                              : platform::set_env(name.c_str(), os_text::of(value).c_str());
  // A name the OS refuses (empty, or holding "=") changes nothing.
  if (!ok) raise_error(Err::ScriptInvalidArg, base());
  Cell v = *value;
  result(&v);
}

void n_list_env(const i32*) {
  auto vars = platform::environment();
  Cell* pairs = os_text::scratch();
  block::make_at(pairs, i32(vars.size() * 2));
  Cell* text = os_text::scratch();
  for (const auto& [name, value] : vars) {
    block::append_cell(pairs, os_text::to_string(text, name, false));
    block::append_cell(pairs, os_text::to_string(text, value, false));
  }
  Cell* m = os_text::scratch();
  map::make_at(m, pairs, 0);
  result(m);
}

// The OS form of a path is its text ("/"-separated); /full makes a relative
// path absolute from the current directory.
void n_to_local_file(const i32* refs) {
  std::string path = os_text::of(base());
  if (refs[0] >= 0 && (path.empty() || path[0] != '/')) {
    std::string dir;
    if (platform::current_dir(&dir)) {
      if (dir.empty() || dir.back() != '/') dir += '/';
      path = dir + path;
    }
  }
  Cell* s = os_text::scratch();
  string::make_from_utf8(s, path.data(), path.size());
  result(s);
}

void n_size_q(const i32*) {
  if (!base()->is(T_FILE)) runtime::raise_expect_arg(base()->type(), 0);
  std::string path;
  i64 size = 0;
  if (!simple_io::os_path(base(), &path) || path.empty() || path.back() == '/' || platform::path_kind(path.c_str(), &size) != platform::PathKind::kFile ||
      !platform::readable(path.c_str()))
    return none_result();
  // A size beyond the integer! range comes as a float! rather than cut to 32 bits.
  if (size > 0x7FFFFFFF) set_float(base(), double(size));
  else set_integer(base(), i32(size));
  stack::g_top = base() + 1;
}

void n_browse(const i32*) {
  platform::open_with_desktop(os_text::of(base()));
  set_unset(base());
  stack::g_top = base() + 1;
}

}  // namespace

void register_system_natives() {
  define_native(85, "to-local-file [path [any-string!] /full]", n_to_local_file);
  define_native(86, "wait [value [integer! float! time!]]", n_wait);
  define_native(93, "set-env [var [any-string! any-word!] value [any-string! none!]]", n_set_env);
  define_native(94, "get-env [var [any-string! any-word!]]", n_get_env);
  define_native(95, "list-env []", n_list_env);
  define_native(96, "now [/year /month /day /time /zone /date /weekday /yearday /precise /utc]", n_now);
  define_native(101, "size? [file [any-string!]]", n_size_q);
  define_native(102, "browse [url [any-string!]]", n_browse);
}

}  // namespace zot::natives
