#include "boot/services.h"

#include <string>

#include "datatypes/error.h"
#include "datatypes/map.h"
#include "datatypes/port.h"
#include "datatypes/string.h"
#include "datatypes/system.h"
#include "interpreter/eval.h"
#include "interpreter/http.h"
#include "interpreter/lexer.h"
#include "interpreter/natives.h"
#include "runtime/actions.h"
#include "runtime/hashtable.h"
#include "runtime/random.h"
#include "runtime/services.h"

namespace zot::startup {

namespace {

const Cell* near_position() { return &interp::g_near; }

// A string! scanned into a block of values (to block! of a string, scalars
// made from text). The text goes to UTF-8 aside: the scan must not read a
// buffer that moves.
void scan_text(const Cell* text, Cell* out) {
  Cell t = *text;
  std::string utf8 = string::to_utf8(&t);
  lexer::scan(out, reinterpret_cast<const u8*>(utf8.data()), u32(utf8.size()), lexer::Options{});
}

void scan_utf8(Cell* out, const u8* text, u32 length, bool one) {
  lexer::Options opt;
  opt.one = one;
  lexer::scan(out, text, length, opt);
}

bool entry_exists(u32 type, i32 index) {
  if (type == T_NATIVE) return natives::exists(u32(index));
  return index >= 1 && index <= actions::kSlotCount && natives::g_action_entries[index];
}

u32 hash_bytes(const u8* bytes, u32 length) { return hashtable::murmur_hash(bytes, length); }

}  // namespace

void install_services() {
  Services& s = g_services;
  s.do_block = interp::do_block;
  s.call_with_two = interp::call_comparator;
  s.trace_error = interp::trace_error;
  s.near = near_position;
  s.scan_text = scan_text;
  s.scan_utf8 = scan_utf8;
  s.entry_exists = entry_exists;
  s.map_key = map::normalise_table_key;
  s.random_range = random::range;
  s.random_draw = random::draw;
  s.random_seed = random::seed;
  s.hash_bytes = hash_bytes;
  s.money_digits = sys::money_digits;
  s.http_request = http::request;
  s.url_port = port::from_url;
  s.call_callback = interp::call_callback;
}

void install_error_services() {
  Services& s = g_services;
  s.make_error = error::make_error;
  s.print_error = error::print_error;
  s.error_code = error::code_of;
  s.argument_word = error::argument_word;
}

}  // namespace zot::startup
