// The records both layouts share in structure: blocks, maps, contexts,
// objects, functions, natives, operators, errors, short forms and words
// with their owner inline. The layouts give the record starts, the numbers,
// the scalars and the byte data.
#include "boot/zotbin_codec.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/money.h"
#include "runtime/errors.h"
#include "runtime/unicode.h"

namespace zot::zotbin {

DepthGuard::DepthGuard(u32& depth) : depth_(depth) {
  if (depth_ >= kMaxDepth) raise_error(Err::InternalTooDeep);
  depth_++;
}

u32 Decoder::read_record(Rooted& into) {
  DepthGuard guard(depth_);
  Header h;
  u32 index;
  if (compact_ ? read_compact_start(into, &h, &index) : read_fixed_start(into, &h, &index)) {
    if (is_refused(h.type)) no_codec(h.type);
    if (h.reference && !takes_short_form(h.type)) invalid(h.at);
    index = read_body(into, h);
  }
  if (h.new_line && index != kNoCell) cell_at(into, index)->header |= kCellNewLine;
  return index;
}

void Decoder::read_cells(Rooted& block, i32 n) {
  if (compact_) return read_compact_cells(block, n);
  for (i32 k = 0; k < n; k++) read_record(block);
}

// ---------------------------------------------------------------------------
// Fields whose form depends on the layout

i32 Decoder::number() { return compact_ ? count() : fixed_count(); }

i32 Decoder::integer() { return compact_ ? zigzag() : i32(word()); }

// A count of records: a record takes at least one byte (compact) or word.
i32 Decoder::record_count() {
  const u8* at = p_;
  i32 n = number();
  if (u32(n) > (compact_ ? left() : left() / 4)) invalid(at);
  return n;
}

u32 Decoder::read_symbol() {
  const u8* at = p_;
  return symbol_of(compact_ ? varint() : word(), at);
}

// The head of a series record: compact only when flagged, fixed always.
u32 Decoder::read_head(const Header& h) {
  if (compact_ && !(h.bits & kHeaderFlag)) return 0;
  return u32(number());
}

// The path of a short form: compact inline, fixed as a reference record.
const u8* Decoder::read_reference() { return compact_ ? read_path() : read_fixed_reference(); }

u32 Decoder::put_short_form(Rooted& into, u32 type, u32 head) {
  const u8* at = read_reference();
  return put(into, short_form(type, head, resolve(at), at));
}

// ---------------------------------------------------------------------------
// Records

u32 Decoder::read_body(Rooted& into, const Header& h) {
  u32 t = h.type;
  if (is_any_block(t)) {
    u32 head = read_head(h);
    if (h.reference) return put_short_form(into, t, head);
    i32 n = record_count();
    u32 index = begin_block(into, t, head, u32(n));
    Rooted block(*cell_at(into, index));
    read_cells(block, n);
    if (t == T_HASH) finish_hash(into, index);
    return index;
  }
  if (is_any_string(t) || t == T_BINARY || t == T_VECTOR) {
    u32 head = read_head(h);
    if (h.reference) return put_short_form(into, t, head);
    return compact_ ? read_compact_units(into, h, head) : read_fixed_units(into, h, head);
  }
  switch (t) {
    case T_MAP: {
      if (h.reference) return put_short_form(into, t, 0);
      const u8* at = p_;
      i32 n = record_count();
      if (n & 1) invalid(at);
      u32 index = begin_map(into, u32(n));
      read_map_pairs(into, index, u32(n));
      return index;
    }
    case T_BITSET:
      if (h.reference) return put_short_form(into, t, 0);
      return compact_ ? read_compact_bitset(into, h) : read_fixed_bitset(into, h);
    case T_CONTEXT: {
      // A context on its own decodes to an object over it.
      ContextHeader c;
      std::vector<SymbolRef> syms;
      if (compact_) read_compact_context_flags(&c);
      else fixed_context_flags(h.bits, h.at, &c);
      read_context_words(&syms);
      u32 index = make_object(into, c, syms, u32(-1), nullptr, h.at);
      fill_values(into, index, c.values);
      finish_object(into, index);
      return index;
    }
    case T_OBJECT: {
      if (h.reference) return put_short_form(into, t, 0);
      bool values;
      u32 index = make_object_record(into, h, &values);
      fill_values(into, index, values);
      finish_object(into, index);
      return index;
    }
    case T_FUNCTION: {
      if (h.reference) return put_short_form(into, t, 0);
      u32 index = make_function_record(into);
      fill_function(into, index);
      check_function(into, index, h.at);
      return index;
    }
    case T_NATIVE:
    case T_ACTION: {
      const u8* at = p_;
      return read_native(into, t, u32(number()), at);
    }
    case T_OP: {
      const u8* at = p_;
      if (p_ >= end_) invalid(at);
      u32 index = read_record(into);
      if (index == kNoCell) invalid(at);
      // The fixed header names the type the operator is made from.
      make_op(into, index, compact_ ? 0 : (h.bits >> kOpTypeShift) & 0xFF, at);
      return index;
    }
    case T_ERROR: {
      const u8* at = p_;
      u32 index = make_error(into, number(), at);
      read_error_fields(into, index);
      return index;
    }
    case T_WORD:
    case T_SET_WORD:
    case T_LIT_WORD:
    case T_GET_WORD:
    case T_REFINEMENT:
      return compact_ ? read_compact_word(into, h) : read_fixed_word(into, h);
    case T_ISSUE:
      return put_global_word(into, T_ISSUE, read_symbol());
    case T_MONEY: {
      // The currency index, then 11 bytes of packed decimal digits.
      const u8* at = p_;
      const u8* payload = bytes(12);
      if (payload[0] > money::kCurrencyCount) invalid(at);
      bool negative = compact_ ? (h.bits & kHeaderFlag) != 0 : (h.bits & kFixedMoneyNegative) != 0;
      Cell v;
      money::init_cell(&v, negative, payload[0], payload + 1);
      return put(into, v);
    }
    default:
      return compact_ ? read_compact_scalar(into, h) : read_fixed_scalar(into, h);
  }
}

// ---------------------------------------------------------------------------
// Contexts, objects and functions

void Decoder::read_context_words(std::vector<SymbolRef>* syms) {
  i32 n = record_count();
  syms->clear();
  syms->reserve(u32(n));
  for (i32 k = 0; k < n; k++) {
    const u8* at = p_;
    syms->push_back({read_symbol(), at});
  }
}

// A context record inside an object or function record.
void Decoder::read_context(ContextHeader* c, std::vector<SymbolRef>* syms) {
  const u8* at = p_;
  if (compact_) {
    if (byte() != T_CONTEXT) invalid(at);
    read_compact_context_flags(c);
  } else {
    u32 h = word();
    if ((h & 0xFF) != T_CONTEXT) invalid(at);
    fixed_context_flags(h, at, c);
  }
  read_context_words(syms);
}

// Class id, the change handlers when the header says so, the context.
u32 Decoder::make_object_record(Rooted& into, const Header& h, bool* values) {
  u32 class_id = u32(integer());
  const u8* events_at = p_;
  bool handlers = compact_ ? (h.bits & kHeaderFlag) != 0 : (h.bits & kFixedHandlers) != 0;
  i32 events[2];
  if (handlers) {
    events[0] = integer();
    events[1] = integer();
  }
  ContextHeader c;
  std::vector<SymbolRef> syms;
  read_context(&c, &syms);
  *values = c.values;
  return make_object(into, c, syms, class_id, handlers ? events : nullptr, events_at);
}

// The spec and body sizes, then the context.
u32 Decoder::make_function_record(Rooted& into) {
  i32 spec_size = record_count();
  i32 body_size = record_count();
  ContextHeader c;
  std::vector<SymbolRef> syms;
  read_context(&c, &syms);
  return make_function(into, c, syms, u32(spec_size), u32(body_size));
}

// The spec block, then the body block: a block record each, or a short
// form whose series the function then shares.
void Decoder::fill_function(Rooted& into, u32 index) {
  for (int which = 0; which < 2; which++) {
    bool reference = compact_ ? read_compact_block_start() : read_fixed_block_start();
    if (reference) {
      const u8* at = read_reference();
      share_function_block(into, index, which, resolve(at), at);
      continue;
    }
    i32 n = record_count();
    Rooted block(function_block(into, index, which));
    read_cells(block, n);
  }
}

// A word whose context's owner follows inline. The word goes in first, so
// that paths through it reach the owner's values while they decode.
u32 Decoder::put_word_with_owner(Rooted& into, u32 type, u32 sym, i32 i, const u8* index_at) {
  Header owner_header;
  if (compact_) {
    owner_header.at = p_;
    u8 b = byte();
    owner_header.type = b & 0x3F;
    owner_header.bits = b;
    if (b >= 0x80) invalid(owner_header.at);
  } else {
    owner_header.at = p_;
    owner_header.bits = word();
    owner_header.type = owner_header.bits & 0xFF;
    if (owner_header.bits & kFixedShort) invalid(owner_header.at);
  }
  u32 owner_type = owner_header.type;
  if (owner_type != T_OBJECT && owner_type != T_FUNCTION) invalid(owner_header.at);
  u32 index = reserve(into);
  Rooted owner;
  block::make_at(&owner.cell, 1);
  bool values = false;
  u32 o = owner_type == T_OBJECT ? make_object_record(owner, owner_header, &values) : make_function_record(owner);
  *cell_at(into, index) = bound_word(type, sym, i, cell_at(owner, o)->w1, index_at);
  if (owner_type == T_OBJECT) {
    fill_values(owner, o, values);
    finish_object(owner, o);
  } else {
    fill_function(owner, o);
    check_function(owner, o, owner_header.at);
  }
  return index;
}

u32 Decoder::put_word_by_path(Rooted& into, u32 type, u32 sym, i32 i, const u8* index_at) {
  const u8* at = read_reference();
  Node ctx = context_of(resolve(at));
  if (!ctx) invalid(at);
  return put(into, bound_word(type, sym, i, ctx, index_at));
}

// ---------------------------------------------------------------------------
// Records that hold records

u32 Decoder::read_native(Rooted& into, u32 type, u32 table_index, const u8* index_at) {
  u32 index = reserve(into);
  const u8* spec_at = p_;
  if (p_ >= end_) invalid(spec_at);
  if (boot_ && &into == &target_) {
    // The boot image keeps a root function's spec block as the next root cell.
    u32 spec = read_record(into);
    if (spec == kNoCell) invalid(spec_at);
    make_native(into, index, type, table_index, *cell_at(into, spec), index_at, spec_at);
  } else {
    Rooted scratch;
    block::make_at(&scratch.cell, 1);
    read_record(scratch);
    if (length_of(scratch) != 1) invalid(spec_at);
    make_native(into, index, type, table_index, *cell_at(scratch, 0), index_at, spec_at);
  }
  return index;
}

// Fields 3 to 8 of an error, each decoded apart and stored in its slot.
void Decoder::read_error_fields(Rooted& into, u32 index) {
  for (u32 k = 0; k < 6; k++) {
    const u8* at = p_;
    if (p_ >= end_) invalid(at);
    Rooted scratch;
    block::make_at(&scratch.cell, 1);
    read_record(scratch);
    if (length_of(scratch) != 1) invalid(at);
    set_error_field(into, index, 3 + k, *cell_at(scratch, 0));
  }
}

// Key, value, key, value ...: each record gives exactly one cell.
void Decoder::read_map_pairs(Rooted& into, u32 index, u32 n) {
  Rooted pairs;
  make_cell(&pairs.cell, T_BLOCK, 0, cell_at(into, index)->w2, 0);
  for (u32 k = 0; k < n; k++) {
    const u8* at = p_;
    if (p_ >= end_) invalid(at);
    if (read_record(pairs) != k) invalid(at);
    if (!(k & 1)) check_map_key(pairs, k, at);
  }
  finish_map(into, index);
}

void Decoder::fill_values(Rooted& into, u32 index, bool values) {
  if (!values) return put_unset_values(into, index);
  Rooted slots(values_of(into, index));
  u32 n = context::word_count(cell_at(into, index)->w1);
  for (u32 k = 0; k < n; k++) {
    const u8* at = p_;
    if (p_ >= end_) invalid(at);
    read_record(slots);
    if (length_of(slots) != k + 1) invalid(at);
  }
}

void Decoder::check_code_points(const u8* p, u32 n, u32 unit) const {
  if (unit != 4) return;
  for (u32 k = 0; k < n; k++) {
    const u8* q = p + 4 * k;
    u32 cp = u32(q[0]) | (u32(q[1]) << 8) | (u32(q[2]) << 16) | (u32(q[3]) << 24);
    if (cp > unicode::kMaxCodePoint) invalid(q);
  }
}

}  // namespace zot::zotbin
