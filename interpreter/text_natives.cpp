// Natives over text and bytes: the base codecs (debase, enbase), percent
// codecs (dehex, enhex), case changes, and to-hex.
#include <algorithm>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/binary_codecs.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/url_text.h"
#include "interpreter/natives.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace zot::natives {

namespace {

ZOT_INLINE Cell* base() { return stack::g_base; }
ZOT_INLINE Cell* ref_arg(const i32* refs, int i) { return refs[i] < 0 ? nullptr : stack::g_base + refs[i]; }

void set_only_result(const Cell* v) {
  Cell c = *v;
  *base() = c;
  stack::g_top = base() + 1;
}

// The /base argument: 64 when absent; a base without a codec raises invalid-arg.
i32 base_arg(const i32* refs) {
  Cell* b = ref_arg(refs, 0);
  if (!b) return 64;
  i32 n = b->int_value();
  if (!binary::known_base(n)) raise_error(Err::ScriptInvalidArg, b);
  return n;
}

// debase [value /base base-value]: refs /base.
void n_debase(const i32* refs) {
  i32 radix = base_arg(refs);
  Cell text = *base();
  string::length_at(&text);  // an index past the tail comes back to it
  const mem::Series* s = series::buffer_of(&text);
  u32 unit = s->unit();
  i32 from = std::max(series::index_of(&text), 0);
  std::vector<u8> bytes;
  bool ok = binary::decode(radix, s->head_ptr() + u64(from) * unit, s->length() - u32(from), unit, bytes);
  if (!ok) {
    set_none(base());
    stack::g_top = base() + 1;
    return;
  }
  set_only_result(binary::push_bytes(bytes.data(), u32(bytes.size())));
}

// enbase [value /base base-value]: refs /base.
void n_enbase(const i32* refs) {
  i32 radix = base_arg(refs);
  Cell v = *base();
  std::vector<u8> bytes;
  if (v.is(T_BINARY)) bytes = binary::bytes_of(&v);
  else binary::value_bytes(&v, -1, false, binary::BytesMode::kStrict, bytes);
  u64 size = binary::encoded_size(radix, bytes.size());
  if (size > mem::kMaxSeriesBytes) raise_error(Err::ScriptTooLong);
  Cell* out = stack::push(&datatype::g_none);
  string::make_at(out, u32(size));
  mem::Series* s = series::buffer_of(out);
  u8* end = binary::encode(radix, s->head_ptr(), bytes.data(), u32(bytes.size()));
  s->tail = s->head + u32(end - s->head_ptr());
  set_only_result(out);
}

void n_dehex(const i32*) {
  Cell text = *base();
  Cell* out = stack::push(&datatype::g_none);
  string::make_at(out, u32(std::max(string::length_at(&text), 1)));
  url::decode(&text, out);
  set_only_result(out);
}

void n_enhex(const i32*) {
  Cell text = *base();
  Cell* out = stack::push(&datatype::g_none);
  string::make_at(out, u32(std::max(string::length_at(&text), 1)));
  url::encode(&text, out, text.is(T_STRING) ? url::Keep::kUnreserved : url::Keep::kUrlSafe);
  set_only_result(out);
}

// uppercase and lowercase [string /part limit]: in place.
void change_case(const i32* refs, bool upper) {
  Cell* v = base();
  if (v->is(T_CHAR)) {
    v->set_char_value(case_::fold_char(v->char_value(), upper));
    stack::g_top = v + 1;
    return;
  }
  i32 n = string::length_at(v);
  if (Cell* part = ref_arg(refs, 0)) {
    i32 limit;
    if (part->is(T_INTEGER)) {
      limit = part->int_value();
    } else if (part->type() == v->type() && part->series_node() == v->series_node()) {
      limit = part->series_index() - v->series_index();
    } else {
      series::bad_refine("part", part);
    }
    n = std::clamp(limit, 0, n);
  }
  i32 from = std::max(series::index_of(v), 0);
  bool owned = series::ownership_check(v, series::Change::kChange, nullptr, from, n);
  mem::Series* s = series::buffer_of(v);
  n = std::min(n, i32(s->length()) - from);
  for (i32 i = 0; i < n; i++) {
    u32 cp = string::get_char(s->head_ptr() + u64(from + i) * s->unit(), s->unit());
    u32 to = case_::fold_char(cp, upper);
    if (to != cp) s = string::poke_char(s, from + i, to);
  }
  if (owned) series::ownership_done(v, series::Change::kChanged, nullptr, from, n);
  stack::g_top = v + 1;
}
void n_uppercase(const i32* refs) { change_case(refs, true); }
void n_lowercase(const i32* refs) { change_case(refs, false); }

// to-hex [value /size len]: the issue of the upper-case hex digits.
void n_to_hex(const i32* refs) {
  i32 v = base()->int_value();
  i32 digits = 8;
  if (Cell* size = ref_arg(refs, 0)) {
    digits = size->int_value();
    if (digits <= 0) raise_error(Err::ScriptInvalidArg, size);
    if (digits > 8) digits = 8;
  }
  const char* hex = string::to_hex(v, false);
  u32 sym = symbol::make(hex + (8 - digits));
  Cell r;
  set_word(&r, T_ISSUE, sym, context::g_global, -1);
  set_only_result(&r);
}

}  // namespace

void register_text_natives() {
  define_native(47, "dehex [value [any-string!]]", n_dehex);
  define_native(48, "enhex [value [any-string!]]", n_enhex);
  define_native(54, "to-hex [value [integer!] /size len [integer!]]", n_to_hex);
  define_native(71, "uppercase [string [any-string! char!] /part limit [integer! any-string!]]", n_uppercase);
  define_native(72, "lowercase [string [any-string! char!] /part limit [integer! any-string!]]", n_lowercase);
  define_native(84, "debase [value [any-string!] /base base-value [integer!]]", n_debase);
  define_native(91, "enbase [value [binary! any-string!] /base base-value [integer!]]", n_enbase);
}

}  // namespace zot::natives
