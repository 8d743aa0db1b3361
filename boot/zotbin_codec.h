// The ZOTBIN codec's working parts, shared by the loader and the two record
// layouts: the decoder (bounded reading, the symbol table, context paths and
// the value builders both layouts use) and the encoder (the record counter
// and its stack, the paths of shared values, the symbol table, the output).
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/rooted.h"

namespace zot::zotbin {

using mem::Node;

// Nesting deeper than this is refused as too deep (as mold and copy do).
constexpr u32 kMaxDepth = 1000;
constexpr u32 kMaxPathEntries = 65536;
constexpr u32 kNoCell = 0xFFFFFFFFu;

// Compact special bytes and markers.
constexpr u8 kSmallIntFirst = 0x80;  // 0x80-0xBF: the integers 0 to 63
constexpr u8 kSmallIntLast = 0xBF;
constexpr u8 kMarkNewLine = 0xC0;
constexpr u8 kMarkReference = 0xC1;
constexpr u8 kTrue = 0xC2;
constexpr u8 kFalse = 0xC3;
constexpr u8 kMarkDefinition = 0xC4;
constexpr u8 kAnyReference = 0xFF;
constexpr u8 kHeaderFlag = 0x40;
constexpr u8 kTypeEscape = 63;

// Fixed header word bits.
constexpr u32 kFixedReference = 255;
constexpr u32 kFixedShort = 1u << 19;
constexpr u32 kFixedMoneyNegative = 1u << 22;
constexpr u32 kFixedComplement = 1u << 23;
constexpr u32 kFixedHandlers = 1u << 24;
constexpr u32 kFixedGlobalOrDefinition = 1u << 25;
constexpr u32 kFixedNewLine = 1u << 31;
constexpr u32 kFixedUnitShift = 8;  // tuple length, unit of text and vectors

// The flags of a compact context record (the fixed context header word
// holds them at bits 26 to 30).
constexpr u32 kCtxKindMask = 0x03;
constexpr u32 kCtxStack = 0x04;
constexpr u32 kCtxSelf = 0x08;
constexpr u32 kCtxValues = 0x10;

// An object's event series marks a missing handler so.
constexpr u32 kNoHandlerSlot = 0xFFFF;

// ---- type families
// any-block but hash!, whose records carry a table.
ZOT_INLINE bool is_block_type(u32 t) { return is_any_block(t) && t != T_HASH; }
// Types without a record: refused with access/no-codec in both directions.
ZOT_INLINE bool is_refused(u32 t) {
  return t == T_ROUTINE || t == T_TRIPLE || t == T_HANDLE || t == T_PORT || t == T_EVENT || t == T_IMAGE;
}
// Types whose records have a short form (written once, then referred to).
ZOT_INLINE bool takes_short_form(u32 t) {
  return is_any_block(t) || is_any_string(t) || t == T_BINARY || t == T_VECTOR || t == T_MAP ||
         t == T_BITSET || t == T_OBJECT || t == T_FUNCTION || is_bindable_word(t);
}
// Vectors hold chars and integers of 1, 2 or 4 bytes, floats of 4 or 8,
// percents of 8.
ZOT_INLINE bool vector_kind_ok(u32 type, u32 unit) {
  if (unit != 1 && unit != 2 && unit != 4 && unit != 8) return false;
  if (type == T_CHAR || type == T_INTEGER) return unit <= 4;
  if (type == T_FLOAT) return unit >= 4;
  return type == T_PERCENT && unit == 8;
}
// A series value's index as written: a negative one as 0.
ZOT_INLINE u32 head_of(const Cell& v) { return i32(v.w1) > 0 ? v.w1 : 0; }
// Cells from a block's index to its tail.
u32 length_from_index(const Cell& block);
// The types whose series a short form may share.
bool is_shared_type(u32 t);
// The context a cell names (words, objects, errors, functions, operators
// made from functions), or 0.
Node context_of(const Cell& c);
// A native! index of the natives table, an action! index of the actions.
bool in_table(u32 type, u32 index);

// Counts the nesting of records; deeper than kMaxDepth raises internal/too-deep.
class DepthGuard {
 public:
  explicit DepthGuard(u32& depth);
  ~DepthGuard() { depth_--; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

 private:
  u32& depth_;
};

// What a context record says before its words.
struct ContextHeader {
  const u8* at;  // the flags, for errors
  u32 kind;
  bool stack;
  bool self;
  bool values;
};

struct SymbolRef {
  u32 sym;
  const u8* at;
};

// The start of a record, as its layout wrote it.
struct Header {
  const u8* at = nullptr;   // the header byte or word
  u32 type = 0;
  u32 bits = 0;             // compact: the header byte; fixed: the header word
  bool reference = false;   // a short form (compact 0xC1, fixed bit 19)
  bool definition = false;  // compact 0xC4 (fixed: bit 25 of a boot word)
  bool new_line = false;
};

// ---------------------------------------------------------------------------
// Decoding. Values are built straight into the blocks that hold them, each
// new series made reachable before the next allocation, so that paths reach
// everything decoded so far and the collector finds it all from the target.

class Decoder {
 public:
  // payload: the bytes after the 8-byte header (the input itself, or the
  // decompressed payload); error offsets count it from offset 8.
  Decoder(const u8* payload, const u8* end, bool compact, bool symbols, bool boot, Rooted& target);
  // Counts, tables and every record.
  void run();

  ZOT_NORETURN void invalid(const u8* at) const;
  ZOT_NORETURN void no_codec(u32 type) const;

  // One record, appended to the block (or values series) in into; answers
  // the index of the value cell, or kNoCell when the record leaves none.
  u32 read_record(Rooted& into);

 private:
  // ---- primitives, each checked against end_
  void need(const u8* p, u64 n) const;
  u32 left() const { return u32(end_ - p_); }
  const u8* bytes(u64 n);
  u8 byte();
  u32 varint();
  i32 count();  // a varint that must not be negative
  i32 zigzag();
  u32 word();
  double float64();  // low word first
  const u8* read_path();  // into path_; answers where it began
  i32 fixed_count();
  void read_fixed_path_rest(const u8* at);
  const u8* read_fixed_reference();
  void align4();
  void check_code_points(const u8* p, u32 n, u32 unit) const;
  // ---- fields whose form depends on the layout
  i32 number();
  i32 integer();
  i32 record_count();
  u32 read_symbol();
  u32 read_head(const Header& h);
  const u8* read_reference();

  // ---- tables
  void read_compact_tables();
  void read_fixed_tables();
  void read_symbol_table(i32 count, const u8* count_at, i32 names, const u8* names_at);
  u32 symbol_of(u32 index, const u8* at);

  // ---- each layout: the start of a record (false when it was a whole
  // value, appended as *index), its scalars, byte data and words
  bool read_compact_start(Rooted& into, Header* h, u32* index);
  void read_compact_context_flags(ContextHeader* c);
  bool read_compact_block_start();
  u32 read_compact_units(Rooted& into, const Header& h, u32 head);
  u32 read_compact_bitset(Rooted& into, const Header& h);
  u32 read_compact_word(Rooted& into, const Header& h);
  void read_compact_cells(Rooted& block, i32 n);
  void read_compact_block(Rooted& into, u32 type, u32 new_line);
  u32 read_compact_scalar(Rooted& into, const Header& h);
  bool read_fixed_start(Rooted& into, Header* h, u32* index);
  void fixed_context_flags(u32 h, const u8* at, ContextHeader* c);
  bool read_fixed_block_start();
  u32 read_fixed_units(Rooted& into, const Header& h, u32 head);
  u32 read_fixed_bitset(Rooted& into, const Header& h);
  u32 read_fixed_word(Rooted& into, const Header& h);
  u32 read_fixed_scalar(Rooted& into, const Header& h);

  // ---- records alike in both layouts (zotbin_records.cpp)
  u32 read_body(Rooted& into, const Header& h);
  // The n records of a block (or a function's spec or body) into it.
  void read_cells(Rooted& block, i32 n);
  u32 put_short_form(Rooted& into, u32 type, u32 head);
  void read_context(ContextHeader* c, std::vector<SymbolRef>* syms);
  void read_context_words(std::vector<SymbolRef>* syms);
  u32 make_object_record(Rooted& into, const Header& h, bool* values);
  u32 make_function_record(Rooted& into);
  void fill_function(Rooted& into, u32 index);
  u32 put_word_with_owner(Rooted& into, u32 type, u32 sym, i32 i, const u8* index_at);
  u32 put_word_by_path(Rooted& into, u32 type, u32 sym, i32 i, const u8* index_at);
  u32 read_native(Rooted& into, u32 type, u32 table_index, const u8* index_at);
  void read_error_fields(Rooted& into, u32 index);
  void read_map_pairs(Rooted& into, u32 index, u32 n);
  void fill_values(Rooted& into, u32 index, bool values);

  // ---- builders (zotbin_build.cpp)
  static Cell* cell_at(const Rooted& into, u32 index);
  static u32 length_of(const Rooted& into);
  u32 put(Rooted& into, const Cell& value);
  u32 reserve(Rooted& into);
  static void truncate(Rooted& into, u32 length);
  u32 put_units(Rooted& into, u32 type, u32 head, u32 unit, u32 count, const u8* bytes, u32 w3, u32 flags);
  u32 begin_block(Rooted& into, u32 type, u32 head, u32 count);
  void finish_hash(Rooted& into, u32 index);
  u32 begin_map(Rooted& into, u32 count);
  void check_map_key(Rooted& pairs, u32 index, const u8* at);
  void finish_map(Rooted& into, u32 index);
  Node make_context(const ContextHeader& h, const std::vector<SymbolRef>& syms, Rooted& holder);
  u32 make_object(Rooted& into, const ContextHeader& h, const std::vector<SymbolRef>& syms, u32 class_id,
                  const i32* handlers, const u8* at);
  void finish_object(Rooted& into, u32 index);
  static Cell values_of(Rooted& into, u32 index);
  void put_unset_values(Rooted& into, u32 index);
  u32 make_function(Rooted& into, const ContextHeader& h, const std::vector<SymbolRef>& syms, u32 spec_size,
                    u32 body_size);
  // The function's spec (which 0) or body (1) block, to fill.
  static Cell function_block(Rooted& into, u32 index, int which);
  void share_function_block(Rooted& into, u32 index, int which, const Cell& found, const u8* at);
  void check_function(Rooted& into, u32 index, const u8* at);
  u32 make_error(Rooted& into, i32 code, const u8* at);
  static void set_error_field(Rooted& into, u32 index, u32 field, const Cell& value);
  void make_native(Rooted& into, u32 index, u32 type, u32 table_index, const Cell& spec, const u8* at,
                   const u8* spec_at);
  void make_op(Rooted& into, u32 index, u32 source_type, const u8* at);
  u32 put_global_word(Rooted& into, u32 type, u32 sym);
  Cell bound_word(u32 type, u32 sym, i32 index, Node ctx, const u8* at) const;
  u32 put_boot_word(Rooted& into, u32 type, u32 sym, u32 root_index, i32 index, const u8* at);
  // A definition: the next record's value set into the word, then both gone.
  u32 define(Rooted& into, u32 word_index, const u8* at);
  // A short form's value from the cell its path led to.
  Cell short_form(u32 type, u32 head, const Cell& found, const u8* at) const;
  // The cell path_ leads to from the first cell this decoding appended.
  Cell resolve(const u8* at) const;
  void check_date(u32 packed, double time, const u8* at) const;
  void check_datatype(u32 id, const u8* at) const;

  const u8* payload_;
  const u8* p_;
  const u8* end_;  // the payload's end, then the end of the records
  bool compact_;
  bool boot_;
  bool has_symbols_;
  Rooted& target_;
  u32 target_start_;
  u32 depth_ = 0;
  u32 symbol_count_ = 0;
  const u8* offsets_ = nullptr;
  const u8* names_ = nullptr;
  u32 names_size_ = 0;
  std::vector<u32> symbol_ids_;  // 0: not made yet
  std::vector<u32> global_slots_;  // by symbol id: its global slot + 1 (0: not looked up)
  std::vector<u32> path_;
};

// ---------------------------------------------------------------------------
// Encoding. The walk reads the value graph and allocates nothing from the
// collector: the records grow in C++ buffers and become one binary! at the
// end. So nothing moves or goes while the reference table keys series and
// contexts by node, and nothing of the encoder needs marking.

class Encoder {
 public:
  explicit Encoder(bool compact) : compact_(compact) {}
  void write_root(const Cell& value);
  // The whole binary into out (not a cell of a series buffer).
  void finish(Cell* out);

 private:
  // ---- records alike in both layouts (zotbin_encoder.cpp)
  void write(const Cell& value);            // a record that counts in its container
  void write_uncounted(const Cell& value);  // a native's spec, an operator's source
  void write_shared(const Cell& v);
  void write_word(const Cell& w);
  void write_context(Node ctx);
  void write_object_body(const Cell& obj);
  void write_function_body(const Cell& fn);
  // A header: compact with the flag (and markers), fixed with the bits.
  void start(const Cell& v, u32 type, bool flag, u32 bits, bool reference);
  void put_number(u32 v);   // compact varint, fixed word
  void put_integer(i32 v);  // compact zigzag, fixed word
  void put_path(u32 offset);
  // The reference step for a value owning node n: true, with its recorded
  // path, when n was met before; otherwise n is recorded and entered.
  bool enter_shared(Node n, u32* path);
  void enter();
  void leave();
  u32 symbol_index(u32 sym);
  ZOT_NORETURN void refuse(u32 type) const;
  const u32* path_at(u32 offset) const { return &paths_[offset]; }
  // True when a word is written with its symbol alone (bound to the global
  // context, or to one whose owner is none!, unset! or block!); else owner
  // receives the owner of its context.
  bool globally_bound(const Cell& word, Cell* owner) const;
  u32 error_code(const Cell& error) const;
  void write_error_fields(const Cell& error);
  void check_native(const Cell& v) const;
  Cell op_source(const Cell& op) const;
  u32 live_cells(const Cell& map) const;
  void write_pairs(const Cell& map);
  i32 handler_slot(const Cell& obj, int which) const;
  u32 context_flags(Node ctx) const;

  // ---- the compact layout
  void write_compact_scalar(const Cell& v);
  void write_compact_data(const Cell& v);
  void compact_header(u32 type, bool flag);
  void compact_varint(u32 v);
  void compact_zigzag(i32 v);
  void compact_word(u32 v);
  void compact_bytes(const u8* p, std::size_t n);
  void compact_path(u32 offset);

  // ---- the fixed layout
  void write_fixed_scalar(const Cell& v);
  void write_fixed_data(const Cell& v);
  void fixed_word(u32 v);
  void fixed_bytes(const u8* p, std::size_t n);  // then zeros to a multiple of 4
  void fixed_reference(u32 offset);

  bool compact_;
  std::vector<u8> records_;
  std::vector<u32> counters_;
  u32 counter_ = 0;
  std::vector<u32> paths_;                    // count, entries, count, entries...
  std::unordered_map<Node, u32> references_;  // node -> its path in paths_
  std::vector<u32> symbol_ids_;
  std::unordered_map<u32, u32> symbol_entries_;  // symbol id -> entry
  std::string names_;
  std::vector<u32> name_offsets_;
  u32 depth_ = 0;
};

}  // namespace zot::zotbin
