#include "datatypes/binary_codecs.h"

#include <cstring>

#include "runtime/scan_numbers.h"

namespace zot::binary {

namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kBase58[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr char kHex[] = "0123456789ABCDEF";

// Decoding tables for code points 0-127: a digit value, or one of these.
constexpr u8 kInvalid = 0xFF;
constexpr u8 kSkip = 0xFE;
constexpr u8 kPad = 0xFD;  // "=" of base 64

struct Table {
  u8 value[128];
};

// Blanks that base 58 and base 64 text may hold between digits.
ZOT_INLINE bool blank(u32 c) { return c == 8 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32 || c == 39; }

Table make_table(const char* alphabet) {
  Table t;
  for (u32 c = 0; c < 128; c++) t.value[c] = blank(c) ? kSkip : kInvalid;
  for (u32 i = 0; alphabet[i]; i++) t.value[u8(alphabet[i])] = u8(i);
  return t;
}

const Table& base64_table() {
  static const Table t = [] {
    Table r = make_table(kBase64);
    r.value[u8('=')] = kPad;
    return r;
  }();
  return t;
}

const Table& base58_table() {
  static const Table t = make_table(kBase58);
  return t;
}

ZOT_INLINE u32 read(const u8* p, u32 unit) {
  if (unit == 1) return *p;
  if (unit == 2) return u32(p[0]) | (u32(p[1]) << 8);
  u32 v;
  std::memcpy(&v, p, 4);
  return v;
}

// Walks the code points of the text, skipping ";" comments to the end of
// their line; fn answers 1 to go on, 0 to stop (the text ends there), -1 when
// the text is invalid. Returns false for invalid text.
template <class F>
bool walk(const u8* text, u32 length, u32 unit, F fn) {
  for (u32 i = 0; i < length; i++) {
    u32 c = read(text + u64(i) * unit, unit);
    if (c == ';') {
      while (i < length && read(text + u64(i) * unit, unit) != '\n') i++;
      continue;
    }
    int r = fn(c);
    if (r < 0) return false;
    if (r == 0) break;
  }
  return true;
}

bool decode2(const u8* text, u32 length, u32 unit, std::vector<u8>& out) {
  u32 acc = 0, digits = 0;
  bool ok = walk(text, length, unit, [&](u32 c) {
    if (c <= 32) return 1;
    if (c != '0' && c != '1') return -1;
    acc = (acc << 1) | (c - '0');
    if (++digits == 8) {
      out.push_back(u8(acc));
      acc = digits = 0;
    }
    return 1;
  });
  return ok && digits == 0;
}

bool decode16(const u8* text, u32 length, u32 unit, std::vector<u8>& out) {
  u32 acc = 0, digits = 0;
  bool ok = walk(text, length, unit, [&](u32 c) {
    if (c <= 32) return 1;
    i32 h = numtext::hex_digit_value(c);
    if (h < 0) return -1;
    acc = (acc << 4) | u32(h);
    if (++digits == 2) {
      out.push_back(u8(acc));
      acc = digits = 0;
    }
    return 1;
  });
  // A digit left without its pair makes the text invalid.
  return ok && digits == 0;
}

bool decode64(const u8* text, u32 length, u32 unit, std::vector<u8>& out) {
  const Table& t = base64_table();
  u32 acc = 0, digits = 0;
  return walk(text, length, unit, [&](u32 c) {
    u8 v = c < 128 ? t.value[c] : kInvalid;
    if (v == kSkip) return 1;
    if (v == kInvalid) return -1;
    if (v == kPad) {
      if (digits < 2) return -1;
      if (digits == 2) {
        out.push_back(u8(acc >> 4));
      } else {
        out.push_back(u8(acc >> 10));
        out.push_back(u8(acc >> 2));
      }
      digits = 0;
      return 0;
    }
    acc = (acc << 6) | v;
    if (++digits == 4) {
      out.push_back(u8(acc >> 16));
      out.push_back(u8(acc >> 8));
      out.push_back(u8(acc));
      acc = digits = 0;
    }
    return 1;
  });
}

bool decode58(const u8* text, u32 length, u32 unit, std::vector<u8>& out) {
  const Table& t = base58_table();
  std::vector<u8> digits;
  bool ok = walk(text, length, unit, [&](u32 c) {
    if (c > 127) return 0;
    u8 v = t.value[c];
    if (v == kSkip) return 1;
    if (v == kInvalid) return -1;
    digits.push_back(v);
    return 1;
  });
  if (!ok) return false;
  std::size_t zeros = 0;
  while (zeros < digits.size() && digits[zeros] == 0) zeros++;
  // The number in base 256, most significant byte first, built by
  // multiplying by 58 and adding each digit.
  std::vector<u8> number;
  for (std::size_t i = zeros; i < digits.size(); i++) {
    u32 carry = digits[i];
    for (std::size_t k = number.size(); k-- > 0;) {
      carry += u32(number[k]) * 58;
      number[k] = u8(carry);
      carry >>= 8;
    }
    while (carry) {
      number.insert(number.begin(), u8(carry));
      carry >>= 8;
    }
  }
  out.assign(zeros, 0);
  out.insert(out.end(), number.begin(), number.end());
  return true;
}

u8* encode58(u8* out, const u8* bytes, u32 n) {
  u32 zeros = 0;
  while (zeros < n && bytes[zeros] == 0) zeros++;
  // Long division of the number by 58, the remainders giving the digits from
  // the least significant one.
  std::vector<u8> work(bytes + zeros, bytes + n);
  std::vector<char> digits;
  std::size_t start = 0;
  while (start < work.size()) {
    u32 rem = 0;
    for (std::size_t k = start; k < work.size(); k++) {
      u32 cur = (rem << 8) | work[k];
      work[k] = u8(cur / 58);
      rem = cur % 58;
    }
    digits.push_back(kBase58[rem]);
    while (start < work.size() && work[start] == 0) start++;
  }
  for (u32 i = 0; i < zeros; i++) *out++ = '1';
  for (std::size_t i = digits.size(); i-- > 0;) *out++ = u8(digits[i]);
  return out;
}

}  // namespace

bool known_base(i32 base) { return base == 2 || base == 16 || base == 58 || base == 64; }

u64 encoded_size(i32 base, u64 n) {
  switch (base) {
    case 2: return 8 * n;
    case 16: return 2 * n;
    // log(256) / log(58) is below 1.37: 138 digits per 100 bytes, and one
    // character per leading zero byte, are never exceeded.
    case 58: return n + (n * 38 + 99) / 100 + 1;
    case 64: return (n + 2) / 3 * 4;
    default: return 0;
  }
}

u8* encode(i32 base, u8* out, const u8* bytes, u32 n) {
  switch (base) {
    case 2:
      for (u32 i = 0; i < n; i++)
        for (int b = 7; b >= 0; b--) *out++ = u8('0' + ((bytes[i] >> b) & 1));
      return out;
    case 16:
      for (u32 i = 0; i < n; i++) {
        *out++ = u8(kHex[bytes[i] >> 4]);
        *out++ = u8(kHex[bytes[i] & 15]);
      }
      return out;
    case 58:
      return encode58(out, bytes, n);
    case 64: {
      u32 i = 0;
      for (; i + 3 <= n; i += 3) {
        u32 v = (u32(bytes[i]) << 16) | (u32(bytes[i + 1]) << 8) | bytes[i + 2];
        *out++ = u8(kBase64[v >> 18]);
        *out++ = u8(kBase64[(v >> 12) & 63]);
        *out++ = u8(kBase64[(v >> 6) & 63]);
        *out++ = u8(kBase64[v & 63]);
      }
      if (n - i == 1) {
        u32 v = u32(bytes[i]) << 16;
        *out++ = u8(kBase64[v >> 18]);
        *out++ = u8(kBase64[(v >> 12) & 63]);
        *out++ = '=';
        *out++ = '=';
      } else if (n - i == 2) {
        u32 v = (u32(bytes[i]) << 16) | (u32(bytes[i + 1]) << 8);
        *out++ = u8(kBase64[v >> 18]);
        *out++ = u8(kBase64[(v >> 12) & 63]);
        *out++ = u8(kBase64[(v >> 6) & 63]);
        *out++ = '=';
      }
      return out;
    }
    default:
      return out;
  }
}

bool decode(i32 base, const u8* text, u32 length, u32 unit, std::vector<u8>& out) {
  out.clear();
  switch (base) {
    case 2: return decode2(text, length, unit, out);
    case 16: return decode16(text, length, unit, out);
    case 58: return decode58(text, length, unit, out);
    case 64: return decode64(text, length, unit, out);
    default: return false;
  }
}

}  // namespace zot::binary
