// The runtime's own compressed format for boot data and compressed ZOTBIN
// payloads: an LZ77 variant with bit-coded literals and matches, a 256 KiB
// window, matches of 3 to 566 bytes, and input cut into blocks of at most
// 1 MiB that each start a new bit stream.
//
// Stream: compressed size (bytes after this 8-byte header), uncompressed
// size, then blocks: a 4-byte block length (1 to 1 MiB) and its bit stream,
// padded to a whole byte. All integers are 32-bit little-endian; bits are
// read least significant first.
#pragma once

#include <cstddef>
#include <vector>

#include "runtime/base.h"

namespace zot::compressor {

constexpr u32 kHeaderSize = 8;
constexpr u32 kBlockMax = 0x100000;     // 1 MiB
constexpr u32 kWindow = 0x40000;        // 256 KiB
constexpr u32 kMinMatch = 3;
constexpr u32 kMaxMatch = 566;
constexpr u32 kMinSource = 128;         // shorter sources are never compressed

// Decodes the stream at data, of which `available` bytes may be read. On
// success out holds the produced bytes and the answer is true; a bad block
// length, output beyond the announced size, a match reaching before its
// block or past its block's end, or a read past the input answers false.
bool decompress(const u8* data, std::size_t available, std::vector<u8>* out);

// Compresses length bytes into dst (room for length bytes). Answers the whole
// compressed size with its header, or -1 when the source is shorter than
// kMinSource or its compressed form would not be shorter than the source.
i64 compress(const u8* src, u32 length, u8* dst);

}  // namespace zot::compressor
