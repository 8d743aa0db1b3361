// The ZOTBIN loader: the header and its flags, the symbol table, and the
// entries that decode a whole binary (for scripts, and the boot image at
// start-up).
#include <algorithm>

#include "boot/compressor.h"
#include "boot/zotbin.h"
#include "boot/zotbin_codec.h"
#include "datatypes/block.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/print.h"
#include "runtime/root.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace zot::zotbin {

namespace {

constexpr u8 kMagic[6] = {'Z', 'O', 'T', 'B', 'I', 'N'};

u32 g_root_base = 0;

enum class Outcome { kDone, kBadMagic, kCorrupt };

// Checks the header, inflates a compressed payload and decodes the records
// into target. Bad magic and corrupt compressed data are answered, not
// raised: the boot entry and the codec treat them apart.
Outcome decode_into(const u8* data, std::size_t length, Rooted& target, bool boot) {
  if (length < kHeaderSize || std::memcmp(data, kMagic, sizeof kMagic) != 0) return Outcome::kBadMagic;
  u8 flags = data[7];  // the version byte (6) is not read
  const u8* payload = data + kHeaderSize;
  const u8* end = data + length;
  std::vector<u8> inflated;
  if (flags & kFlagCompressed) {
    if (!compressor::decompress(payload, length - kHeaderSize, &inflated)) return Outcome::kCorrupt;
    payload = inflated.data();
    end = payload + inflated.size();
  }
  Decoder d(payload, end, (flags & kFlagCompact) != 0, (flags & kFlagSymbols) != 0, boot, target);
  d.run();
  return Outcome::kDone;
}

struct CollectorOff {
  bool saved = collector::g_enabled;
  CollectorOff() { collector::g_enabled = false; }
  ~CollectorOff() { collector::g_enabled = saved; }
};

ZOT_NORETURN void boot_failure(const char* message) {
  runtime::PrintEntry e;
  e.kind = runtime::PrintEntry::kText;
  e.text = message;
  runtime::print_line(&e, 1);
  runtime::exit_process(kBootFailureStatus);
}

}  // namespace

// ---------------------------------------------------------------------------
// Entries

void decode(const u8* data, std::size_t length, Cell* target) {
  Rooted t(*target);
  if (decode_into(data, length, t, false) != Outcome::kDone) raise_error(Err::ScriptInvalidData);
}

void decode_value(const Cell* source, Cell* out) {
  Rooted src(*source);
  if (!src.cell.is(T_BINARY)) raise_error(Err::ScriptInvalidData, &src.cell);
  const mem::Series* s = mem::series_of(src.cell.w2);
  u32 from = u32(std::clamp<i32>(i32(src.cell.w1), 0, i32(s->length())));
  std::size_t n = s->length() - from;
  if (n < kMinCodecInput) raise_error(Err::ScriptInvalidData, &src.cell);
  // Decoding allocates and the binary's buffer may move: decode a copy.
  std::vector<u8> bytes(s->head_ptr() + from, s->head_ptr() + from + n);
  Rooted block;
  block::make_at(&block.cell, 16);
  if (decode_into(bytes.data(), n, block, false) != Outcome::kDone) raise_error(Err::ScriptInvalidData, &src.cell);
  const mem::Series* b = mem::series_of(block.cell.w2);
  *out = b->length() == 1 ? b->cells()[0] : block.cell;
}

u32 boot_decode(const u8* data, std::size_t length) {
  CollectorOff off;
  Rooted root;
  make_cell(&root.cell, T_BLOCK, 0, root::g_block, 0);
  u32 base = root::count();
  switch (decode_into(data, length, root, true)) {
    case Outcome::kBadMagic:
      boot_failure("Error: Not a Zotbin file!");
    case Outcome::kCorrupt:
      boot_failure("Error: Zotbin compressed data corrupted!");
    case Outcome::kDone:
      break;
  }
  g_root_base = base;
  return base;
}

Cell* root_cell(u32 index) { return root::cell(g_root_base + index); }

// ---------------------------------------------------------------------------
// The decoder

Decoder::Decoder(const u8* payload, const u8* end, bool compact, bool symbols, bool boot, Rooted& target)
    : payload_(payload),
      p_(payload),
      end_(end),
      compact_(compact),
      boot_(boot),
      has_symbols_(symbols),
      target_(target),
      target_start_(length_of(target)) {}

void Decoder::run() {
  if (compact_) read_compact_tables();
  else read_fixed_tables();
  while (p_ < end_) read_record(target_);
}

void Decoder::invalid(const u8* at) const {
  Cell offset;
  set_integer(&offset, i32(kHeaderSize + u64(at - payload_) + 1));
  raise_error(Err::ScriptZbInvalidRecord, &offset);
}

void Decoder::no_codec(u32 type) const {
  Cell dt;
  set_datatype(&dt, type);
  raise_error(Err::AccessNoCodec, &dt);
}

void Decoder::need(const u8* p, u64 n) const {
  if (u64(end_ - p) < n) invalid(p);
}

const u8* Decoder::bytes(u64 n) {
  need(p_, n);
  const u8* at = p_;
  p_ += n;
  return at;
}

namespace {

// A name is UTF-8 text of at least one character.
bool valid_name(const u8* name, std::size_t n) {
  if (n == 0) return false;
  for (const u8* p = name; p < name + n;) {
    i32 cp;
    p = unicode::decode_utf8_char(p, name + n, cp);
    if (cp < 0) return false;
  }
  return true;
}

}  // namespace

// The offsets and the string area, once their sizes are read.
void Decoder::read_symbol_table(i32 count, const u8* count_at, i32 names, const u8* names_at) {
  if (u32(count) > left() / 4) invalid(count_at);
  offsets_ = bytes(u64(count) * 4);
  if (u32(names) > left()) invalid(names_at);
  names_ = bytes(u32(names));
  if (names > 0 && names_[names - 1] != 0) invalid(names_ + names - 1);
  symbol_count_ = u32(count);
  names_size_ = u32(names);
  symbol_ids_.assign(symbol_count_, 0);
}

u32 Decoder::symbol_of(u32 index, const u8* at) {
  if (!has_symbols_ || index >= symbol_count_) invalid(at);
  if (u32 id = symbol_ids_[index]) return id;
  const u8* o = offsets_ + 4 * std::size_t(index);
  u32 offset = u32(o[0]) | (u32(o[1]) << 8) | (u32(o[2]) << 16) | (u32(o[3]) << 24);
  if (offset >= names_size_) invalid(at);
  // The area ends in a NUL, so every name ends inside it.
  const u8* name = names_ + offset;
  std::size_t n = std::strlen(reinterpret_cast<const char*>(name));
  if (!valid_name(name, n)) invalid(at);
  u32 id = symbol::make_from_bytes(name, u32(n));
  symbol_ids_[index] = id;
  return id;
}

}  // namespace zot::zotbin
