// The encoder's shared state: the record counter and its stack, the paths
// recorded for shared series and contexts, the symbol table, and the
// assembly of the binary.
#include "boot/zotbin.h"
#include "boot/zotbin_codec.h"
#include "datatypes/bitset.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "runtime/errors.h"
#include "runtime/symbol.h"

namespace zot::zotbin {

namespace {

constexpr u8 kMagic[6] = {'Z', 'O', 'T', 'B', 'I', 'N'};
// Counts are read back as signed 32-bit numbers.
constexpr std::size_t kMaxCount = 0x7FFFFFFFu;

void put_varint(std::vector<u8>* out, u32 v) {
  while (v >= 0x80) {
    out->push_back(u8(v | 0x80));
    v >>= 7;
  }
  out->push_back(u8(v));
}

void put_word(std::vector<u8>* out, u32 v) {
  for (int k = 0; k < 4; k++) out->push_back(u8(v >> (8 * k)));
}

ZOT_NORETURN void too_big() {
  Cell what;
  set_datatype(&what, T_BINARY);
  raise_error(Err::InternalLimitHit, &what);
}

}  // namespace

void encode(const Cell* value, bool compact, Cell* out) {
  Encoder e(compact);
  e.write_root(*value);
  e.finish(out);
}

void Encoder::write_root(const Cell& value) { write(value); }

void Encoder::write(const Cell& value) {
  write_uncounted(value);
  counter_++;
}

void Encoder::write_uncounted(const Cell& v) {
  DepthGuard guard(depth_);
  u32 t = v.type();
  switch (t) {
    case T_ERROR: {
      u32 code = error_code(v);
      start(v, t, false, 0, false);
      put_number(code);
      write_error_fields(v);
      return;
    }
    case T_NATIVE:
    case T_ACTION:
      check_native(v);
      start(v, t, false, 0, false);
      put_number(v.w1);
      // The spec block does not count as a record of the container.
      write_uncounted(function::spec_of(&v));
      return;
    case T_OP: {
      // The value the operator is made from; it does not count either.
      Cell source = op_source(v);
      start(v, t, false, source.type() << kOpTypeShift, false);
      write_uncounted(source);
      return;
    }
    case T_WORD:
    case T_SET_WORD:
    case T_LIT_WORD:
    case T_GET_WORD:
    case T_REFINEMENT:
      write_word(v);
      return;
    default:
      break;
  }
  if (is_refused(t) || t == T_SYMBOL || t == T_CONTEXT || t == T_SERIES) refuse(t);
  if (!takes_short_form(t)) {
    if (compact_) write_compact_scalar(v);
    else write_fixed_scalar(v);
    return;
  }
  write_shared(v);
}

void Encoder::put_path(u32 offset) {
  if (compact_) compact_path(offset);
  else fixed_reference(offset);
}

// The markers (compact) or flag bits (fixed), then the header.
void Encoder::start(const Cell& v, u32 type, bool flag, u32 bits, bool reference) {
  bool new_line = (v.header & kCellNewLine) != 0;
  if (compact_) {
    if (new_line) records_.push_back(kMarkNewLine);
    if (reference) records_.push_back(kMarkReference);
    compact_header(type, flag);
  } else {
    fixed_word(type | bits | (new_line ? kFixedNewLine : 0) | (reference ? kFixedShort : 0));
  }
}

void Encoder::put_number(u32 v) {
  if (compact_) compact_varint(v);
  else fixed_word(v);
}

void Encoder::put_integer(i32 v) {
  if (compact_) compact_zigzag(v);
  else fixed_word(u32(v));
}

// A value that owns a series or a context: written in full once, then as a
// short form with the path to that first record.
void Encoder::write_shared(const Cell& v) {
  u32 t = v.type();
  bool context = t == T_OBJECT || t == T_FUNCTION;
  u32 path;
  bool seen = enter_shared(context ? v.w1 : v.w2, &path);
  const mem::Series* s = context ? nullptr : mem::series_of(v.w2);
  bool has_head = is_any_block(t) || is_any_string(t) || t == T_BINARY || t == T_VECTOR;
  u32 head = has_head ? head_of(v) : 0;
  // The compact flag: a head follows, the bitset is complemented, the
  // object has change handlers. The fixed header: the unit, the complement,
  // the handlers.
  bool flag = has_head ? head != 0 : t == T_BITSET ? bitset::negated(&v) : t == T_OBJECT && v.w3;
  u32 bits = 0;
  if (is_any_string(t) || t == T_BINARY || t == T_VECTOR) bits = s->unit() << kFixedUnitShift;
  if (t == T_BITSET && bitset::negated(&v)) bits = kFixedComplement;
  if (t == T_OBJECT && v.w3) bits = kFixedHandlers;
  start(v, t, flag, bits, seen);
  if (has_head && (head || !compact_)) put_number(head);
  if (seen) {
    put_path(path);
    return;
  }
  if (is_any_block(t)) {
    u32 n = s->length();
    put_number(n);
    for (u32 k = 0; k < n; k++) write(mem::series_of(v.w2)->cells()[k]);
  } else if (t == T_MAP) {
    put_number(live_cells(v));
    write_pairs(v);
  } else if (t == T_OBJECT) {
    write_object_body(v);
  } else if (t == T_FUNCTION) {
    write_function_body(v);
  } else if (compact_) {
    write_compact_data(v);
  } else {
    write_fixed_data(v);
  }
  leave();
}

// Header 14 and the flags (the fixed context header word holds them at
// bits 26 to 30), the words, then the values when they are on the heap and
// one of them is set.
void Encoder::write_context(Node ctx) {
  u32 flags = context_flags(ctx);
  if (compact_) {
    compact_header(T_CONTEXT, false);
    records_.push_back(u8(flags));
  } else {
    fixed_word(T_CONTEXT | ((flags & kCtxKindMask) << 26) | ((flags & kCtxSelf) ? 1u << 28 : 0) |
               ((flags & kCtxStack) ? 1u << 29 : 0) | ((flags & kCtxValues) ? 1u << 30 : 0));
  }
  u32 n = context::word_count(ctx);
  put_number(n);
  for (u32 k = 0; k < n; k++) put_number(symbol_index(context::word_at(ctx, k)->w2));
  if (!(flags & kCtxValues)) return;
  u32 have = mem::series_of(context::ctx_cell(ctx)->w2)->length();
  Cell unset;
  set_unset(&unset);
  for (u32 k = 0; k < n; k++) write(k < have ? *context::value_at(ctx, k) : unset);
}

// The class id, the change handlers' slots, the context.
void Encoder::write_object_body(const Cell& obj) {
  put_integer(i32(obj.w2));
  if (obj.w3) {
    put_integer(handler_slot(obj, 0));
    put_integer(handler_slot(obj, 1));
  }
  write_context(obj.w1);
}

// The spec and body sizes, the context, then the spec (entry 0) and the
// body (entry 1), each a block record.
void Encoder::write_function_body(const Cell& fn) {
  const Cell* body = function::more_cell(&fn, function::kMoreBody);
  if (!body->is(T_BLOCK)) refuse(T_FUNCTION);
  Cell b = *body;
  put_number(mem::series_of(fn.w2)->length());
  put_number(length_from_index(b));
  write_context(fn.w1);
  write(function::spec_of(&fn));
  write(b);
}

// A word of the global context: its symbol alone (fixed: and its index).
// Otherwise flagged, with its index, then the path to its context, or the
// context's owner inline (an error's context is written as an object's).
void Encoder::write_word(const Cell& w) {
  u32 t = w.type();
  Cell owner;
  if (globally_bound(w, &owner)) {
    start(w, t, false, kFixedGlobalOrDefinition, false);
    put_number(symbol_index(w.w2));
    if (!compact_) fixed_word(w.w3);
    return;
  }
  u32 owner_type = owner.type();
  if (owner_type != T_OBJECT && owner_type != T_ERROR && owner_type != T_FUNCTION) refuse(owner_type);
  u32 path;
  bool seen = enter_shared(w.w1, &path);
  start(w, t, true, 0, seen);
  put_number(symbol_index(w.w2));
  put_integer(i32(w.w3));
  if (seen) {
    put_path(path);
    return;
  }
  if (owner_type == T_FUNCTION) {
    Cell plain;
    set_none(&plain);
    start(plain, T_FUNCTION, false, 0, false);
    write_function_body(owner);
  } else {
    if (owner_type != T_OBJECT) owner.w3 = 0;
    Cell plain;
    set_none(&plain);
    start(plain, T_OBJECT, owner.w3 != 0, owner.w3 ? kFixedHandlers : 0, false);
    write_object_body(owner);
  }
  leave();
}

bool Encoder::enter_shared(Node n, u32* path) {
  auto found = references_.find(n);
  if (found != references_.end()) {
    *path = found->second;
    return true;
  }
  enter();
  // The path of this record: its index at every level from the target block.
  u32 at = u32(paths_.size());
  paths_.push_back(u32(counters_.size()));
  paths_.insert(paths_.end(), counters_.begin(), counters_.end());
  references_.emplace(n, at);
  return false;
}

void Encoder::enter() {
  counters_.push_back(counter_);
  counter_ = 0;
}

void Encoder::leave() {
  counter_ = counters_.back();
  counters_.pop_back();
}

u32 Encoder::symbol_index(u32 sym) {
  auto [entry, added] = symbol_entries_.emplace(sym, u32(symbol_ids_.size()));
  if (added) {
    symbol_ids_.push_back(sym);
    name_offsets_.push_back(u32(names_.size()));
    const mem::Series* name = mem::series_of(symbol::get(sym)->w3);
    names_.append(reinterpret_cast<const char*>(name->head_ptr()), name->bytes_used());
    names_.push_back('\0');
    // The fixed layout starts every name on a multiple of 8.
    if (!compact_) names_.resize(align_up(names_.size(), 8), '\0');
  }
  return entry->second;
}

void Encoder::refuse(u32 type) const {
  Cell dt;
  set_datatype(&dt, type);
  raise_error(Err::AccessNoCodec, &dt);
}

bool Encoder::globally_bound(const Cell& word, Cell* owner) const {
  Node ctx = word.w1;
  if (!ctx || ctx == context::g_global) return true;
  *owner = *context::owner_cell(ctx);
  u32 t = owner->type();
  return t == T_NONE || t == T_UNSET || t == T_BLOCK;
}

// ---------------------------------------------------------------------------
// Pieces both layouts write alike

u32 Encoder::error_code(const Cell& e) const {
  const Cell* code = error::field(&e, error::kCode);
  if (!code->is(T_INTEGER) || code->int_value() < 0) refuse(T_ERROR);
  return u32(code->int_value());
}

// Fields 3 to 8; paths into them count from 0.
void Encoder::write_error_fields(const Cell& e) {
  enter();
  for (u32 f = error::kArg1; f <= error::kStack; f++) write(*error::field(&e, f));
  leave();
}

void Encoder::check_native(const Cell& v) const {
  if (!in_table(v.type(), v.w1)) refuse(v.type());
}

// The value an operator is made from.
Cell Encoder::op_source(const Cell& op) const {
  u32 source = (op.header >> kOpTypeShift) & 0xFF;
  if (source == T_ROUTINE) refuse(T_ROUTINE);
  if (source == T_FUNCTION) return *function::more_cell(&op, function::kMoreOp);
  Cell s = op;
  s.header = source;
  return s;
}

u32 Encoder::live_cells(const Cell& map) const {
  const mem::Series* s = mem::series_of(map.w2);
  u32 live = 0;
  for (u32 k = 0; k + 1 < s->length(); k += 2)
    if (s->cells()[k + 1].header) live += 2;
  return live;
}

// The live pairs of a map (a removed pair has a void value cell).
void Encoder::write_pairs(const Cell& map) {
  u32 cells = mem::series_of(map.w2)->length();
  for (u32 k = 0; k + 1 < cells; k += 2) {
    const Cell* pair = mem::series_of(map.w2)->cells() + k;
    if (!pair[1].header) continue;
    write(pair[0]);
    write(pair[1]);
  }
}

i32 Encoder::handler_slot(const Cell& obj, int which) const {
  u32 slot = mem::series_of(obj.w3)->cells()[which].w2 >> 16;
  return slot == kNoHandlerSlot ? -1 : i32(slot);
}

// The compact flags of a context: values follow when they are on the heap
// and one of them is set.
u32 Encoder::context_flags(Node ctx) const {
  const Cell* c = context::ctx_cell(ctx);
  bool stack = context::on_stack(ctx);
  u32 n = context::word_count(ctx);
  u32 have = stack ? 0 : mem::series_of(c->w2)->length();
  bool values = false;
  for (u32 k = 0; k < n && k < have; k++)
    if (!context::value_at(ctx, k)->is(T_UNSET)) values = true;
  return context::kind_of(ctx) | (stack ? kCtxStack : 0) | ((c->header & context::kHasSelf) ? kCtxSelf : 0) |
         (values ? kCtxValues : 0);
}

// ---------------------------------------------------------------------------
// Header, counts, symbol table (when a name was met), records.
void Encoder::finish(Cell* out) {
  if (records_.size() > kMaxCount) too_big();
  bool symbols = !symbol_ids_.empty();
  std::vector<u8> head(kMagic, kMagic + sizeof kMagic);
  head.push_back(kVersion);
  head.push_back(u8((compact_ ? kFlagCompact : 0) | (symbols ? kFlagSymbols : 0)));
  if (compact_) {
    put_varint(&head, 1);
    put_varint(&head, u32(records_.size()));
    if (symbols) {
      put_varint(&head, u32(symbol_ids_.size()));
      put_varint(&head, u32(names_.size()));
    }
  } else {
    // The records start on a multiple of 8 from the start of the input, so
    // that the padding before doubles, counted from the start of the
    // records, is counted from the start of the input as well.
    if (symbols && (symbol_ids_.size() & 1)) names_.append(4, '\0');
    put_word(&head, 1);
    put_word(&head, u32(records_.size()));
    if (symbols) {
      put_word(&head, u32(symbol_ids_.size()));
      put_word(&head, u32(names_.size()));
    }
  }
  if (symbols)
    for (u32 offset : name_offsets_) put_word(&head, offset);
  std::size_t total = head.size() + (symbols ? names_.size() : 0) + records_.size();
  if (total > mem::kMaxSeriesBytes) too_big();
  Node n = mem::alloc_bytes(u32(total));
  mem::Series* s = mem::series_of(n);
  u8* p = s->head_ptr();
  std::memcpy(p, head.data(), head.size());
  p += head.size();
  if (symbols) {
    std::memcpy(p, names_.data(), names_.size());
    p += names_.size();
  }
  if (!records_.empty()) std::memcpy(p, records_.data(), records_.size());
  s->tail = s->head + u32(total);
  make_cell(out, T_BINARY, 0, n, 0);
}

}  // namespace zot::zotbin
