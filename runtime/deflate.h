// Deflate data (a raw stream, or framed as zlib or gzip data): a small greedy
// encoder that writes one block with the fixed Huffman codes, and a complete
// inflater. Every routine works on caller-given buffers and allocates
// nothing: size is the destination's capacity on entry and the produced (or
// needed) byte count on return; nothing is ever written past the capacity,
// but the count goes on, so one more call with a buffer of that size
// succeeds. A null destination with capacity 0 measures.
#pragma once

#include "runtime/base.h"

namespace zot::deflate {

enum Status : int {
  kOk = 0,
  kTooSmall = 1,       // the destination is too small: size holds what it needs
  kBadFormat = 2,      // framing, checksum or size wrong, or the data ends too soon
  kStoredOverrun = 3,  // a stored block runs past the input
  kBadBlockType = 4,   // block type 3
  kBadDistance = 5,    // a copy from before the start of the output (or distance 0)
  kBadCode = 6,        // bad code lengths, an over-subscribed or incomplete code, an unused symbol
};

// Raw deflate. Returns kOk or kTooSmall; size is the whole compressed size.
int compress(u8* dst, std::size_t* size, const u8* src, std::size_t length);
// Raw inflate. On kTooSmall size is the whole output size; on a failure the
// bytes produced before it. Input after the final block is ignored.
int inflate(u8* dst, std::size_t* size, const u8* src, std::size_t length);

// zlib framing: 78 01, the deflate data, the Adler-32 of the data (big-endian).
int compress_zlib(u8* dst, std::size_t* size, const u8* src, std::size_t length);
int decompress_zlib(u8* dst, std::size_t* size, const u8* src, std::size_t length);

// gzip framing: a 10-byte header, the deflate data, the CRC-32 and length of
// the data (little-endian). Decompressing with a destination smaller than the
// trailer's length answers kTooSmall with that length without inflating.
int compress_gzip(u8* dst, std::size_t* size, const u8* src, std::size_t length);
int decompress_gzip(u8* dst, std::size_t* size, const u8* src, std::size_t length);

}  // namespace zot::deflate
