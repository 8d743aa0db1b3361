// The base-2, 16, 58 and 64 text forms of binary data (enbase, debase and the
// lexer's #{...} literals).
//
// Encoders write plain ASCII into a buffer the caller sized (encoded_size);
// decoders read text of a unit of 1, 2 or 4 bytes per code point and collect
// the bytes in a std::vector, so no series is allocated while the text is
// being read. In every base, code points up to 32 (base 2 and 16) or the
// blanks of base 58 and 64 (backspace, tab, line feed, form feed, carriage
// return, space, apostrophe) are skipped, and ";" starts a comment that runs
// to the end of its line.
#pragma once

#include <vector>

#include "runtime/base.h"

namespace zot::binary {

// True for 2, 16, 58 and 64.
bool known_base(i32 base);

// Characters that encoding n bytes takes in the base.
u64 encoded_size(i32 base, u64 n);
// Writes the encoding of n bytes to out; returns the end of what it wrote.
u8* encode(i32 base, u8* out, const u8* bytes, u32 n);

// Decodes length code points of the given unit into out (replaced); false
// when the text is not valid in the base. Base 2 needs whole groups of eight
// digits, base 16 whole pairs; base 64 drops the digits of an incomplete group
// at the end of the text and stops at "=" (which must follow two or three
// digits of a group); base 58 stops at a code point above 127.
bool decode(i32 base, const u8* text, u32 length, u32 unit, std::vector<u8>& out);

}  // namespace zot::binary
