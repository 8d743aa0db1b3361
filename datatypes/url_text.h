// Percent-encoding and percent-decoding of text (dehex, enhex; url! text).
#pragma once

#include <string>

#include "runtime/cell.h"

namespace zot::url {

// The sets of characters below 128 that encoding keeps as they are.
enum class Keep : u8 {
  kUnreserved,  // letters, digits and - . _ ~ (a string!'s enhex)
  kUrlSafe,     // also ! # $ & ' ( ) * + , / : = ? @ (the other text types)
};

// True for the characters below 128 that URLs and file names keep as they
// are: letters, digits and ! # $ & ' ( ) * + , - . / : = ? @ _ ~ .
bool url_safe(u32 c);

// Appends the text (any text value, from its index) to out with each valid
// "%XX" escape decoded: a byte below 128 or a UTF-8 continuation byte gives
// the character of that code point; a lead byte followed by the escapes of
// its whole sequence gives the character they encode. Anything else, a "%"
// without a valid escape included, is kept.
void decode(const Cell* text, Cell* out);

// Appends the text's UTF-8 to out, each byte as it is when it is below 128 and
// in the kept set, else as "%" and two upper-case hexadecimal digits.
void encode(const Cell* text, Cell* out, Keep keep);

// The bytes with each one that keep(byte) refuses written as "%" and two
// upper-case hexadecimal digits.
template <class KeepFn>
std::string percent_encode(const std::string& bytes, KeepFn keep) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size());
  for (char ch : bytes) {
    const u8 c = u8(ch);
    if (keep(c)) {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace zot::url
