// ZOTBIN: the binary serialisation format of Zot values, in a fixed layout
// (every field a 32-bit word) and a compact layout (bytes, varints and zigzag
// numbers). The boot image is a compact ZOTBIN binary; the `zotbin` codec
// encodes and decodes values for scripts.
//
// A binary: "ZOTBIN", a version byte, a flags byte (bit 0 compact, bit 1
// payload compressed, bit 2 symbol table present), then the payload: the root
// count, the size of the records area, the symbol table when flagged, and the
// records. A series or context met a second time is written as a short form
// with the path (a list of indexes from the decoded block) to its first
// record, so shared values stay shared and cycles close.
#pragma once

#include <cstddef>

#include "runtime/cell.h"

namespace zot::zotbin {

constexpr u8 kFlagCompact = 0x01;
constexpr u8 kFlagCompressed = 0x02;
constexpr u8 kFlagSymbols = 0x04;
constexpr u8 kVersion = 2;           // what the encoders write
constexpr u32 kHeaderSize = 8;
// The codec refuses shorter input: it cannot hold a header and both counts.
constexpr std::size_t kMinCodecInput = 11;

// Encodes the value into a new binary! in out, in the compact layout or the
// fixed one. A value that has no record (routine!, triple!, handle!, port!,
// event!, image! and the symbol!, context! and series! internals) raises
// access/no-codec with its datatype. The binary in out is referenced only
// there: the caller keeps it (stack or Rooted) before allocating again.
void encode(const Cell* value, bool compact, Cell* out);

// Decodes a whole binary of length bytes (the bytes must not move while it
// runs: not inside a series buffer) and appends each root record's value to
// the block in target (a cell the caller keeps rooted). Bad magic or corrupt
// compressed data raise script/invalid-data; a malformed record raises
// script/zb-invalid-record with the 1-based offset of the failing byte; a
// record of a datatype without a codec raises access/no-codec. The values
// decoded before a failure stay in the block.
void decode(const u8* data, std::size_t length, Cell* target);

// The `zotbin` codec's decode: a binary! from its index holding exactly one
// root value gives that value, otherwise the block of them; anything but a
// binary! of more than 10 bytes raises script/invalid-data.
void decode_value(const Cell* source, Cell* out);

// The boot entry: decodes the boot image into the root block in boot mode
// (bound words name their context by root index, definitions set words,
// objects keep their class ids, native and action specs stay as root cells),
// with the collector off. Bad magic or corrupt compressed data print a line
// and end the process with kBootFailureStatus. Returns the root base index:
// the root block's length before the image, where root cell 0 is. The image
// is part of the program, so those messages mean a damaged program: the
// status says the start failed.
constexpr int kBootFailureStatus = 1;
u32 boot_decode(const u8* data, std::size_t length);

// Root cell N of the decoded boot image (good until the next allocation).
Cell* root_cell(u32 index);

}  // namespace zot::zotbin
