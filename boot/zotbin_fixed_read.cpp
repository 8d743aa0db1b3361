// Reading the fixed record layout: every field a 32-bit little-endian word,
// byte data padded to a multiple of 4 bytes counted from the start of the
// input, and zero padding words that the decoder skips.
#include "boot/zotbin.h"
#include "boot/zotbin_codec.h"
#include "datatypes/bitset.h"
#include "runtime/errors.h"
#include "runtime/unicode.h"

namespace zot::zotbin {

// ---------------------------------------------------------------------------
// Primitives

i32 Decoder::fixed_count() {
  const u8* at = p_;
  i32 v = i32(word());
  if (v < 0) invalid(at);
  return v;
}

// After the header word of a reference record: its length and entries.
void Decoder::read_fixed_path_rest(const u8* at) {
  i32 n = fixed_count();
  if (n < 1 || u32(n) > kMaxPathEntries || u32(n) > left() / 4) invalid(at);
  path_.resize(u32(n));
  for (i32 k = 0; k < n; k++) path_[u32(k)] = u32(fixed_count());
}

const u8* Decoder::read_fixed_reference() {
  const u8* at = p_;
  if ((word() & 0xFF) != kFixedReference) invalid(at);
  read_fixed_path_rest(at);
  return at;
}

void Decoder::align4() {
  u64 offset = kHeaderSize + u64(p_ - payload_);
  bytes((4 - offset % 4) % 4);
}

// ---------------------------------------------------------------------------
// Tables

void Decoder::read_fixed_tables() {
  if (left() < 8) raise_error(Err::ScriptInvalidData);
  word();  // the root count: every record is decoded whatever it says
  const u8* size_at = p_;
  i32 records = fixed_count();
  if (has_symbols_) {
    const u8* count_at = p_;
    i32 n = fixed_count();
    const u8* names_at = p_;
    read_symbol_table(n, count_at, fixed_count(), names_at);
    // The boot image makes every name a symbol before its records.
    if (boot_)
      for (u32 k = 0; k < symbol_count_; k++) symbol_of(k, offsets_ + 4 * k);
  }
  if (u32(records) > left()) invalid(size_at);
  end_ = p_ + records;
}

// ---------------------------------------------------------------------------
// Records

// Padding words, then a reference record (a whole value) or a header word.
bool Decoder::read_fixed_start(Rooted& into, Header* h, u32* index) {
  do {
    h->at = p_;
    h->bits = word();
  } while ((h->bits & 0xFF) == 0);
  h->type = h->bits & 0xFF;
  h->new_line = (h->bits & kFixedNewLine) != 0;
  if (h->type == kFixedReference) {
    read_fixed_path_rest(h->at);
    *index = put(into, resolve(h->at));
    return false;
  }
  // Bits 16-23 of an operator's header name its source type.
  h->reference = (h->bits & kFixedShort) && h->type != T_OP;
  return true;
}

// Context header word: kind at bits 26-27, self 28, values on the stack 29,
// values follow 30.
void Decoder::fixed_context_flags(u32 h, const u8* at, ContextHeader* c) {
  c->at = at;
  c->kind = (h >> 26) & 3;
  c->self = (h >> 28) & 1;
  c->stack = (h >> 29) & 1;
  c->values = (h >> 30) & 1;
  if (c->kind == 3 || (c->stack && c->values)) invalid(at);
}

// A function's spec or body block: a block! header word and a head word
// that is ignored (the blocks start at their first cell). True for a short form.
bool Decoder::read_fixed_block_start() {
  const u8* at = p_;
  u32 h = word();
  if ((h & 0xFF) != T_BLOCK) invalid(at);
  fixed_count();
  return (h & kFixedShort) != 0;
}

// The unit is in the header (1, 2 or 4 for text, 1 for binary!, 1 to 8 for
// vector!); the count, a vector's element type, the data, padding to 4.
u32 Decoder::read_fixed_units(Rooted& into, const Header& h, u32 head) {
  u32 unit = (h.bits >> kFixedUnitShift) & 0xFF;
  const u8* at = p_;
  i32 n = fixed_count();
  u32 element = 0;
  if (h.type == T_VECTOR) {
    element = word();
    if (!vector_kind_ok(element, unit)) invalid(h.at);
  } else if (unit != 1 && (h.type == T_BINARY || (unit != 2 && unit != 4))) {
    invalid(h.at);
  }
  if (u64(n) * unit > left()) invalid(at);
  if (h.type != T_VECTOR || element == T_CHAR) check_code_points(p_, u32(n), unit);
  u32 index = put_units(into, h.type, head, unit, u32(n), bytes(u64(n) * unit), element, 0);
  align4();
  return index;
}

u32 Decoder::read_fixed_bitset(Rooted& into, const Header& h) {
  const u8* at = p_;
  i32 n = fixed_count();
  if (u32(n) > left()) invalid(at);
  u32 index = put_units(into, T_BITSET, 0, 1, u32(n), bytes(u32(n)), 0,
                        (h.bits & kFixedComplement) ? bitset::kNegated : 0);
  align4();
  return index;
}

// Words: the symbol and the index, then (outside boot mode) nothing for a
// word of the global context (bit 25), a reference record for a short form,
// else the owner's whole record. The boot image gives the context by root
// index (-1: global), and bit 25 makes the word a definition.
u32 Decoder::read_fixed_word(Rooted& into, const Header& h) {
  u32 sym = read_symbol();
  const u8* at = p_;
  if (boot_) {
    i32 root = i32(word());
    i32 i = i32(word());
    u32 index;
    if (root == -1) index = put_global_word(into, h.type, sym);
    else if (root < 0) invalid(at);
    else index = put_boot_word(into, h.type, sym, u32(root), i, at);
    if (h.bits & kFixedGlobalOrDefinition) return define(into, index, h.at);
    return index;
  }
  i32 i = i32(word());
  if (h.bits & kFixedGlobalOrDefinition) return put_global_word(into, h.type, sym);
  if (h.reference) return put_word_by_path(into, h.type, sym, i, at);
  return put_word_with_owner(into, h.type, sym, i, at);
}

u32 Decoder::read_fixed_scalar(Rooted& into, const Header& h) {
  const u8* at = p_;
  Cell v;
  switch (h.type) {
    case T_UNSET:
    case T_NONE:
      make_cell(&v, h.type, 0, 0, 0);
      break;
    case T_LOGIC: {
      u32 b = word();
      if (b > 1) invalid(at);
      set_logic(&v, b != 0);
      break;
    }
    case T_DATATYPE: {
      u32 id = word();
      check_datatype(id, at);
      set_datatype(&v, id);
      break;
    }
    case T_CHAR: {
      u32 cp = word();
      if (cp > unicode::kMaxCodePoint) invalid(at);
      make_cell(&v, T_CHAR, 0, cp, 0);
      break;
    }
    case T_INTEGER:
      set_integer(&v, i32(word()));
      break;
    case T_FLOAT:
    case T_PERCENT:
    case T_TIME: {
      u32 high = word();
      make_cell(&v, h.type, 0, word(), high);
      break;
    }
    case T_PAIR:
    case T_POINT2D: {
      u32 x = word();
      u32 y = word();
      // pair! keeps x and y in words 2 and 3, point2D! in words 1 and 2
      if (h.type == T_PAIR) make_cell(&v, T_PAIR, 0, x, y);
      else make_cell(&v, T_POINT2D, x, y, 0);
      break;
    }
    case T_POINT3D:
    case T_TYPESET: {
      u32 a = word();
      u32 b = word();
      make_cell(&v, h.type, a, b, word());
      break;
    }
    case T_DATE: {
      u32 packed = word();
      u32 high = word();
      make_cell(&v, T_DATE, packed, word(), high);
      check_date(packed, v.float_value(), at);
      break;
    }
    case T_TUPLE: {
      u32 n = (h.bits >> kFixedUnitShift) & 0xFF;
      if (n < 3 || n > 12) invalid(h.at);
      make_cell(&v, T_TUPLE | (n << 19), 0, 0, 0);
      std::memcpy(&v.w1, bytes(12), n);  // the bytes past the length stay 0
      break;
    }
    default:
      invalid(h.at);
  }
  return put(into, v);
}

}  // namespace zot::zotbin
