#include "datatypes/money.h"

#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/system.h"
#include "datatypes/words.h"
#include "runtime/actions.h"
#include "runtime/dtoa.h"
#include "runtime/errors.h"
#include "runtime/services.h"
#include "runtime/symbol.h"

namespace zot::money {

namespace {

// The currency words before the library sets system/locale/currencies/list
// (the same words in the same order, which is fixed: a saved money value
// keeps only its currency's index).
const char* const kCurrencies[kCurrencyCount] = {
    "AED", "AFN", "ALL", "AMD", "ANG", "AOA", "ARS", "AUD", "AWG", "AZN", "BAM", "BBD", "BDT", "BTC", "BGN",
    "BHD", "BIF", "BMD", "BND", "BOB", "BRL", "BSD", "BTN", "BWP", "BYN", "BZD", "CAD", "CDF", "CHF", "CKD",
    "CLP", "CNY", "COP", "CRC", "CUC", "CUP", "CVE", "CZK", "DJF", "DKK", "DOP", "DZD", "EGP", "ERN", "ETB",
    "ETH", "EUR", "FJD", "FKP", "FOK", "GBP", "GEL", "GGP", "GHS", "GIP", "GMD", "GNF", "GTQ", "GYD", "HKD",
    "HNL", "HRK", "HTG", "HUF", "IDR", "ILS", "IMP", "INR", "IQD", "IRR", "ISK", "JEP", "JMD", "JOD", "JPY",
    "KES", "KGS", "KHR", "KID", "KMF", "KPW", "KRW", "KWD", "KYD", "KZT", "LAK", "LBP", "LKR", "LRD", "LSL",
    "LYD", "MAD", "MDL", "MGA", "MKD", "MMK", "MNT", "MOP", "MRU", "MUR", "MVR", "MWK", "MXN", "MYR", "MZN",
    "NAD", "NGN", "NIO", "NOK", "NPR", "NZD", "OMR", "PAB", "PEN", "PGK", "PHP", "PKR", "PLN", "PND", "PRB",
    "PYG", "QAR", "ZOT", "RON", "RSD", "RUB", "RWF", "SAR", "SBD", "SCR", "SDG", "SEK", "SGD", "SHP", "SLL",
    "SLS", "SOS", "SRD", "SSP", "STN", "SYP", "SZL", "THB", "TJS", "TMT", "TND", "TOP", "TRY", "TTD", "TVD",
    "TWD", "TZS", "UAH", "UGX", "USD", "UYU", "UZS", "VES", "VND", "VUV", "WST", "CFA", "XAF", "XCD", "XOF",
    "CFP", "XPF", "YER", "ZAR", "ZMW",
};

constexpr int kUnits = kIntegerDigits - 1;  // index of the units digit

// An unpacked amount: d[0] is digit 1, the most significant.
struct Amount {
  bool neg = false;
  u32 cur = 0;
  u8 d[kDigits] = {};
};

// A wide unsigned decimal for products and quotients, most significant
// first; an amount sits in its last 22 digits.
constexpr int kWide = 48;
struct Wide {
  u8 d[kWide] = {};
};

Cell g_made;



ZOT_NORETURN void type_limit() { raise_with_type(Err::ScriptTypeLimit, T_MONEY); }

// ---- packing

void unpack(const Cell* c, Amount* a) {
  u8 bytes[16];
  std::memcpy(bytes, c, sizeof bytes);
  a->neg = (c->header & kSignBit) != 0;
  a->cur = bytes[4];
  for (int i = 0; i < 11; i++) {
    a->d[2 * i] = u8(bytes[5 + i] >> 4);
    a->d[2 * i + 1] = u8(bytes[5 + i] & 15);
  }
}

bool zero_digits(const Amount& a) {
  for (u8 v : a.d)
    if (v) return false;
  return true;
}

Cell* pack(Cell* c, const Amount& a) {
  u8 bytes[16] = {};
  bytes[4] = u8(a.cur);
  for (int i = 0; i < 11; i++) bytes[5 + i] = u8(a.d[2 * i] << 4 | a.d[2 * i + 1]);
  u32 w[3];
  std::memcpy(w, bytes + 4, sizeof w);
  u32 flags = c->is(T_MONEY) ? (c->flags() & ~kSignBit) : 0;
  u32 sign_bit = (a.neg && !zero_digits(a)) ? kSignBit : 0;
  return make_cell(c, T_MONEY | flags | sign_bit, w[0], w[1], w[2]);
}

// Digits from the first non-zero one to the last (at least 1).
int significant(const u8* d, int n) {
  for (int i = 0; i < n; i++)
    if (d[i]) return n - i;
  return 1;
}

// ---- wide decimals

Wide to_wide(const Amount& a) {
  Wide w;
  std::memcpy(w.d + kWide - kDigits, a.d, kDigits);
  return w;
}

// False when the value needs more than 22 digits.
bool from_wide(const Wide& w, Amount* a) {
  for (int i = 0; i < kWide - kDigits; i++)
    if (w.d[i]) return false;
  std::memcpy(a->d, w.d + kWide - kDigits, kDigits);
  return true;
}

int wide_cmp(const Wide& a, const Wide& b) {
  for (int i = 0; i < kWide; i++)
    if (a.d[i] != b.d[i]) return a.d[i] < b.d[i] ? -1 : 1;
  return 0;
}

bool wide_zero(const Wide& a) {
  for (u8 v : a.d)
    if (v) return false;
  return true;
}

Wide wide_add(const Wide& a, const Wide& b) {
  Wide r;
  int carry = 0;
  for (int i = kWide - 1; i >= 0; i--) {
    int s = a.d[i] + b.d[i] + carry;
    carry = s >= 10;
    r.d[i] = u8(carry ? s - 10 : s);
  }
  return r;
}

// a - b for a >= b.
Wide wide_sub(const Wide& a, const Wide& b) {
  Wide r;
  int borrow = 0;
  for (int i = kWide - 1; i >= 0; i--) {
    int s = a.d[i] - b.d[i] - borrow;
    borrow = s < 0;
    r.d[i] = u8(borrow ? s + 10 : s);
  }
  return r;
}

// Schoolbook product; the operands hold at most 22 digits each.
Wide wide_mul(const Wide& a, const Wide& b) {
  int acc[2 * kWide] = {};
  for (int i = kWide - kDigits; i < kWide; i++) {
    if (!a.d[i]) continue;
    for (int j = kWide - kDigits; j < kWide; j++) acc[i + j + 1] += a.d[i] * b.d[j];
  }
  for (int k = 2 * kWide - 1; k > 0; k--) {
    acc[k - 1] += acc[k] / 10;
    acc[k] %= 10;
  }
  Wide r;
  for (int i = 0; i < kWide; i++) r.d[i] = u8(acc[kWide + i]);
  return r;
}

Wide wide_shift_left(const Wide& a, int k) {
  Wide r;
  for (int i = 0; i + k < kWide; i++) r.d[i] = a.d[i + k];
  return r;
}

Wide wide_shift_right(const Wide& a, int k) {
  Wide r;
  for (int i = k; i < kWide; i++) r.d[i] = a.d[i - k];
  return r;
}

// Long division, one quotient digit at a time; b is not zero.
void wide_divmod(const Wide& a, const Wide& b, Wide* q, Wide* r) {
  Wide rem;
  for (int i = 0; i < kWide; i++) {
    rem = wide_shift_left(rem, 1);
    rem.d[kWide - 1] = a.d[i];
    u8 digit = 0;
    while (wide_cmp(rem, b) >= 0) {
      rem = wide_sub(rem, b);
      digit++;
    }
    q->d[i] = digit;
  }
  *r = rem;
}

// ---- conversions into amounts

void amount_of_integer(i32 v, Amount* a) {
  *a = Amount();
  a->neg = v < 0;
  u64 m = v < 0 ? u64(-i64(v)) : u64(v);
  for (int i = kUnits; i >= 0 && m; i--) {
    a->d[i] = u8(m % 10);
    m /= 10;
  }
}

ZOT_NORETURN void bad_float(double d) {
  Cell f;
  set_float(&f, d);
  raise_with_type(Err::ScriptBadMakeArg, T_MONEY, &f);
}

void amount_of_float(double d, bool strict, Amount* a) {
  if (float_too_big(d) || float_too_small(d)) bad_float(d);
  *a = Amount();
  if (d == 0) return;
  dtoa::Digits dg;
  dtoa::float_to_digits(d, 0, &dg);
  a->neg = dg.negative;
  for (int j = 0; j < dg.count; j++) {
    int idx = kUnits - (dg.decpt - 1 - j);
    if (idx >= kDigits) {
      if (strict) bad_float(d);
      break;
    }
    a->d[idx] = u8(dg.digits[j] - '0');
  }
}

// An operand of the arithmetic or a round scale as an amount; false for
// types that cannot become one.
bool amount_of(const Cell* c, bool strict, Amount* a) {
  switch (c->type()) {
    case T_MONEY: unpack(c, a); return true;
    case T_INTEGER: amount_of_integer(c->int_value(), a); return true;
    case T_FLOAT:
    case T_PERCENT: amount_of_float(c->float_value(), strict, a); return true;
    default: return false;
  }
}

// ---- arithmetic on amounts

int compare_magnitude(const Amount& a, const Amount& b) {
  for (int i = 0; i < kDigits; i++)
    if (a.d[i] != b.d[i]) return a.d[i] < b.d[i] ? -1 : 1;
  return 0;
}

int amount_sign(const Amount& a) { return zero_digits(a) ? 0 : a.neg ? -1 : 1; }

int compare_amounts(const Amount& a, const Amount& b) {
  int sa = amount_sign(a), sb = amount_sign(b);
  if (sa != sb) return sa < sb ? -1 : 1;
  int m = compare_magnitude(a, b);
  return sa < 0 ? -m : m;
}

Amount add_amounts(const Amount& a, const Amount& b) {
  if (zero_digits(a)) return b;
  if (zero_digits(b)) return a;
  Amount r;
  if (a.neg == b.neg) {
    if (!from_wide(wide_add(to_wide(a), to_wide(b)), &r)) type_limit();
    r.neg = a.neg;
    return r;
  }
  int m = compare_magnitude(a, b);
  if (m == 0) return Amount();
  const Amount& big = m > 0 ? a : b;
  const Amount& small = m > 0 ? b : a;
  from_wide(wide_sub(to_wide(big), to_wide(small)), &r);
  r.neg = big.neg;
  return r;
}

Amount multiply_amounts(const Amount& a, const Amount& b) {
  if (zero_digits(a) || zero_digits(b)) return Amount();
  if (significant(a.d, kDigits) + significant(b.d, kDigits) > 28) type_limit();
  Amount r;
  if (!from_wide(wide_shift_right(wide_mul(to_wide(a), to_wide(b)), kFractionDigits), &r)) type_limit();
  r.neg = a.neg != b.neg;
  return r;
}

// Quotient (5 fraction digits, cut toward zero) or remainder (the dividend's sign).
Amount divide_amounts(const Amount& a, const Amount& b, bool want_remainder) {
  if (zero_digits(b)) raise_error(Err::MathZeroDivide);
  if (zero_digits(a)) return a;
  Wide q, r;
  Amount out;
  if (want_remainder) {
    wide_divmod(to_wide(a), to_wide(b), &q, &r);
    from_wide(r, &out);
    out.neg = a.neg;
    return out;
  }
  wide_divmod(wide_shift_left(to_wide(a), kFractionDigits), to_wide(b), &q, &r);
  if (!from_wide(q, &out)) type_limit();
  out.neg = a.neg != b.neg;
  return out;
}

double amount_to_float(const Amount& a) {
  char text[kDigits + 3];
  int n = 0;
  if (a.neg) text[n++] = '-';
  for (int i = 0; i < kDigits; i++) {
    if (i == kIntegerDigits) text[n++] = '.';
    text[n++] = char('0' + a.d[i]);
  }
  int unread = 0;
  double d = dtoa::text_to_float(text, text + n, 0, &unread);
  if (unread) raise_with_type(Err::ScriptBadMakeArg, T_FLOAT);
  return d;
}

// ---- text

int fraction_digits(bool all) {
  if (all) return kFractionDigits;
  int d = 2;
  if (g_services.money_digits) {
    const Cell* c = g_services.money_digits();
    if (c && c->is(T_INTEGER)) d = c->int_value();
  }
  return d > kFractionDigits ? kFractionDigits : d;
}

i32 write_text(const Cell* value, Cell* out, i32 part, bool group, int frac) {
  Amount a;
  unpack(value, &a);
  char text[64];
  int n = 0;
  if (a.neg && !zero_digits(a)) text[n++] = '-';
  std::string code = currency_code(a.cur);
  if (!code.empty() && code.size() <= 3) {
    std::memcpy(text + n, code.data(), code.size());
    n += int(code.size());
  }
  text[n++] = '$';
  if (significant(a.d, kDigits) > kFractionDigits) {
    int first = 0;
    while (a.d[first] == 0) first++;
    for (int i = first; i <= kUnits; i++) {
      text[n++] = char('0' + a.d[i]);
      // Thousands grouping: after digits 2, 5, 8, 11 and 14.
      if (group && i < kUnits && (i + 1) % 3 == 2) text[n++] = '\'';
    }
  } else {
    text[n++] = '0';
  }
  if (frac >= 1) {
    text[n++] = '.';
    for (int i = 0; i < frac; i++) text[n++] = char('0' + a.d[kIntegerDigits + i]);
  }
  string::append_c_text_n(out, text, std::size_t(n));
  return part - n;
}

// ---- words

Cell currency_word(u32 index) {
  Cell w;
  std::string code = currency_code(index);
  if (code.empty()) return *set_none(&w);
  return word::name(code.c_str());
}

int field_of(const Cell* element) {
  if (element->is(T_INTEGER)) {
    i32 n = element->int_value();
    return n == 1 || n == 2 ? n : 0;
  }
  if (element->type() >= T_WORD && element->type() <= T_GET_WORD) {
    u32 canon = symbol::resolve(element->word_symbol());
    u32 code = words::sym(words::code), amount = words::sym(words::amount);
    if (code && symbol::resolve(code) == canon) return 1;
    if (amount && symbol::resolve(amount) == canon) return 2;
  }
  return 0;
}

Cell* push_field(const Cell* m, int field) {
  if (field == 1) {
    Cell w = currency_word(currency_of(m));
    return stack::push(&w);
  }
  Cell* c = stack::push(m);
  set_currency(c, 0);
  return c;
}

// ---- make and to

ZOT_NORETURN void bad_make(const Cell* v) { raise_with_type(Err::ScriptBadMakeArg, T_MONEY, v); }

Cell* from_block(Cell* spec) {
  i32 n = block::length_at(spec);
  if (n < 1 || n > 3) bad_make(spec);
  Cell v[3];
  for (i32 i = 0; i < n; i++) v[i] = *block::cell_at(spec, spec->series_index() + i);
  int i = 0;
  u32 cur = 0;
  if (v[0].type() >= T_WORD && v[0].type() <= T_GET_WORD) {
    i32 idx = currency_index(v[0].word_symbol());
    if (idx < 0) bad_make(&v[0]);
    cur = u32(idx);
    i = 1;
  }
  if (i >= n) bad_make(spec);
  Amount a;
  const bool float_amount = v[i].is(T_FLOAT);
  if (v[i].is(T_INTEGER)) amount_of_integer(v[i].int_value(), &a);
  else if (float_amount) amount_of_float(v[i].float_value(), true, &a);
  else bad_make(&v[i]);
  i++;
  if (i < n) {
    if (float_amount || !v[i].is(T_INTEGER) || v[i].int_value() < 0 || v[i].int_value() > kMaxSpecFraction)
      bad_make(&v[i]);
    // The fraction digits of an integer amount are all 0: no carry.
    i32 f = v[i].int_value();
    for (int k = kDigits - 1; k >= kIntegerDigits; k--, f /= 10) a.d[k] = u8(f % 10);
    i++;
  }
  if (i < n) bad_make(&v[i]);
  a.cur = cur;
  return pack(set_unset(&g_made), a);
}

Cell* make_or_to(Cell* spec) {
  switch (spec->type()) {
    case T_MONEY: return copy_cell(spec, &g_made);
    case T_INTEGER: return from_integer_at(set_unset(&g_made), spec->int_value());
    case T_FLOAT: return from_float_at(set_unset(&g_made), spec->float_value(), true);
    default: break;
  }
  if (is_any_string(spec->type())) {
    std::string text = string::to_utf8(spec);
    if (scan_text(text.data(), text.size(), set_unset(&g_made))) return &g_made;
  }
  raise_with_type(Err::ScriptBadToArg, T_MONEY, spec);
}

bool ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool ascii_digit(char c) { return c >= '0' && c <= '9'; }
char upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; }

}  // namespace

// ---- sign and currency

bool negative(const Cell* m) { return (m->header & kSignBit) != 0; }

// Reads the digits straight from the payload words (all but the currency byte).
int sign(const Cell* m) {
  ZOT_ASSERT(m->is(T_MONEY));
  if ((m->w1 & 0xFFFFFF00u) == 0 && m->w2 == 0 && m->w3 == 0) return 0;
  return negative(m) ? -1 : 1;
}

void set_currency(Cell* m, u32 index) {
  ZOT_ASSERT(m->is(T_MONEY));
  m->w1 = (m->w1 & 0xFFFFFF00u) | (index & 0xFFu);
}

i32 currency_index_of_text(const char* text, std::size_t length) {
  if (length != 3) return -1;
  Cell list;
  if (sys::currency_list(&list)) {
    mem::Series* s = mem::series_of(list.series_node());
    const u32 head = u32(list.series_index());
    for (u32 i = head; i < s->length() && i - head < 255; i++) {
      const Cell& c = s->cells()[i];
      if (!is_any_word(c.type()) || symbol::name_length(c.word_symbol()) != 3) continue;
      const char* t = symbol::name_text(c.word_symbol());
      if (upper(text[0]) == upper(t[0]) && upper(text[1]) == upper(t[1]) && upper(text[2]) == upper(t[2]))
        return i32(i - head) + 1;
    }
    return -1;
  }
  for (int i = 0; i < kCurrencyCount; i++) {
    const char* c = kCurrencies[i];
    if (upper(text[0]) == c[0] && upper(text[1]) == c[1] && upper(text[2]) == c[2]) return i + 1;
  }
  return -1;
}

i32 currency_index(u32 symbol) {
  if (symbol == 0) return -1;
  return currency_index_of_text(symbol::name_text(symbol), symbol::name_length(symbol));
}

std::string currency_code(u32 index) {
  if (index == 0) return {};
  Cell list;
  if (sys::currency_list(&list)) {
    mem::Series* s = mem::series_of(list.series_node());
    u32 at = u32(list.series_index()) + index - 1;
    if (at >= s->length() || !is_any_word(s->cells()[at].type())) return {};
    u32 sym = s->cells()[at].word_symbol();
    return std::string(symbol::name_text(sym), symbol::name_length(sym));
  }
  return index <= u32(kCurrencyCount) ? kCurrencies[index - 1] : std::string();
}

// ---- makers

Cell* from_text(Cell* cell, int neg, const char* currency, const char* int_digits, int digit_count,
                const char* frac_digits, int frac_count) {
  Amount a;
  a.neg = neg != 0;
  if (currency) {
    i32 idx = currency_index_of_text(currency, 3);
    if (idx < 0) return nullptr;
    a.cur = u32(idx);
  }
  u8 digits[kWide];
  int count = 0;
  for (int i = 0; i < digit_count; i++) {
    char c = int_digits[i];
    if (c == '\'') continue;
    if (!ascii_digit(c)) return nullptr;
    if (count == 0 && c == '0') continue;  // leading zeros
    if (count == kIntegerDigits) return nullptr;
    digits[count++] = u8(c - '0');
  }
  for (int i = 0; i < count; i++) a.d[kIntegerDigits - count + i] = digits[i];
  int placed = 0;
  for (int i = 0; i < frac_count && placed < kFractionDigits; i++) {
    char c = frac_digits[i];
    if (c == '\'') continue;
    if (!ascii_digit(c)) return nullptr;
    a.d[kIntegerDigits + placed++] = u8(c - '0');
  }
  return pack(set_unset(cell), a);
}

bool scan_text(const char* text, std::size_t length, Cell* out) {
  std::size_t i = 0;
  bool neg = false;
  if (i < length && (text[i] == '-' || text[i] == '+')) neg = text[i++] == '-';
  const char* currency = nullptr;
  if (i + 3 < length && ascii_letter(text[i]) && ascii_letter(text[i + 1]) && ascii_letter(text[i + 2]) &&
      text[i + 3] == '$') {
    currency = text + i;
    i += 3;
  }
  if (i >= length || text[i] != '$') return false;
  i++;
  if (i >= length || !ascii_digit(text[i])) return false;
  std::size_t int_start = i;
  bool after_apostrophe = false;
  for (; i < length && (ascii_digit(text[i]) || text[i] == '\''); i++) {
    if (text[i] == '\'' && after_apostrophe) return false;
    after_apostrophe = text[i] == '\'';
  }
  if (after_apostrophe) return false;
  std::size_t int_end = i;
  std::size_t frac_start = i, frac_end = i;
  if (i < length && (text[i] == '.' || text[i] == ',')) {
    frac_start = ++i;
    while (i < length && ascii_digit(text[i])) i++;
    frac_end = i;
    if (frac_end == frac_start || frac_end - frac_start > std::size_t(kFractionDigits)) return false;
  }
  if (i != length) return false;
  return from_text(out, neg, currency, text + int_start, int(int_end - int_start), text + frac_start,
                   int(frac_end - frac_start)) != nullptr;
}

Cell* init_cell(Cell* cell, int neg, u32 currency, const u8* bcd) {
  Amount a;
  a.neg = neg != 0;
  a.cur = currency;
  for (int i = 0; i < 11; i++) {
    // A byte that is not two decimal digits would break every digit loop.
    u8 hi = u8(bcd[i] >> 4), lo = u8(bcd[i] & 15);
    a.d[2 * i] = hi > 9 ? 9 : hi;
    a.d[2 * i + 1] = lo > 9 ? 9 : lo;
  }
  return pack(set_unset(cell), a);
}

// ---- conversions

Cell* from_integer_at(Cell* cell, i32 v) {
  Amount a;
  amount_of_integer(v, &a);
  return pack(cell, a);
}

i32 to_integer(const Cell* m) {
  Amount a;
  unpack(m, &a);
  i64 v = 0;
  for (int i = 0; i <= kUnits; i++) v = v * 10 + a.d[i];
  if (a.neg) v = -v;
  if (v < integer::kMin || v > integer::kMax) raise_with_type(Err::ScriptTypeLimit, T_INTEGER);
  return i32(v);
}

bool float_too_big(double d) { return !(float_::abs(d) < kFloatLimit); }
bool float_too_small(double d) {
  double a = float_::abs(d);
  return a > 0 && a < kFloatStep;
}
bool float_in_range(double d) { return !float_too_big(d) && !float_too_small(d); }

Cell* from_float_at(Cell* cell, double d, bool strict) {
  Amount a;
  amount_of_float(d, strict, &a);
  return pack(cell, a);
}

double to_float(const Cell* m) {
  Amount a;
  unpack(m, &a);
  return amount_to_float(a);
}

// ---- comparison

i32 compare(const Cell* m, const Cell* other, i32 op) {
  using namespace actions;
  const bool strict = op == kStrictEqual || op == kSame || op == kFindEqual;
  Amount a, b;
  unpack(m, &a);
  switch (other->type()) {
    case T_MONEY: {
      unpack(other, &b);
      const bool mismatch = a.cur && b.cur && a.cur != b.cur;
      switch (op) {
        case kLesser: case kLesserOrEqual: case kGreater: case kGreaterOrEqual:
          if (mismatch) raise_error(Err::ScriptWrongDenom, m, other);
          break;
        case kSortOrder: case kCaseSortOrder:
          if (a.cur != b.cur) {
            std::string ca = currency_code(a.cur), cb = currency_code(b.cur);
            if (ca.empty() || cb.empty()) return !ca.empty() ? 1 : !cb.empty() ? -1 : (a.cur < b.cur ? -1 : 1);
            int c = ca.compare(cb);
            return c < 0 ? -1 : 1;
          }
          break;
        case kStrictEqual: case kSame:
          if (a.cur != b.cur) return 1;
          break;
        case kFindEqual:
          if (b.cur && a.cur != b.cur) return 1;
          break;
        default:
          if (mismatch) return 1;
          break;
      }
      return compare_amounts(a, b);
    }
    case T_INTEGER:
      if (strict) return 1;
      amount_of_integer(other->int_value(), &b);
      return compare_amounts(a, b);
    case T_FLOAT: {
      if (strict) return 1;
      double d = other->float_value();
      if (float_::is_nan(d)) return kNotComparable;
      // Beyond what money holds, the float's sign decides the order.
      if (float_too_big(d)) return d > 0 ? -1 : 1;
      if (float_too_small(d)) {
        int s = amount_sign(a);
        return s != 0 ? s : (d > 0 ? -1 : 1);
      }
      amount_of_float(d, true, &b);
      return compare_amounts(a, b);
    }
    default:
      return strict ? 1 : kNotComparable;
  }
}

// ---- arithmetic

void math_op(int op) {
  Cell* left = stack::g_base;
  const Cell* right = stack::g_base + 1;
  const bool left_money = left->is(T_MONEY), right_money = right->is(T_MONEY);
  if ((left_money && right_money && op == integer::kOpMultiply) ||
      (!left_money && (op == integer::kOpDivide || op == integer::kOpRemainder)))
    raise_with_type(Err::ScriptInvalidType, T_MONEY);
  Amount a, b;
  if (!amount_of(left, false, &a)) raise_with_type(Err::ScriptInvalidType, left->type());
  if (!amount_of(right, false, &b)) raise_with_type(Err::ScriptInvalidType, right->type());
  if (a.cur && b.cur && a.cur != b.cur) raise_error(Err::ScriptWrongDenom, left, right);
  const u32 cur = b.cur ? b.cur : a.cur;
  Amount r;
  switch (op) {
    case integer::kOpAdd: r = add_amounts(a, b); break;
    case integer::kOpSubtract:
      b.neg = !b.neg;
      r = add_amounts(a, b);
      break;
    case integer::kOpMultiply: r = multiply_amounts(a, b); break;
    case integer::kOpDivide:
      r = divide_amounts(a, b, false);
      if (left_money && right_money) {
        set_float(left, amount_to_float(r));
        return;
      }
      break;
    case integer::kOpRemainder: r = divide_amounts(a, b, true); break;
    default: raise_error(Err::ScriptCannotUse);
  }
  r.cur = cur;
  pack(set_unset(left), r);
}


// ---- slot functions

Cell* make(Cell*, Cell* spec, int) {
  if (spec->type() >= T_WORD && spec->type() <= T_GET_WORD) {
    i32 idx = currency_index(spec->word_symbol());
    if (idx < 0) bad_make(spec);
    Amount a;
    a.cur = u32(idx);
    return pack(set_unset(&g_made), a);
  }
  if (spec->is(T_BLOCK)) return from_block(spec);
  return make_or_to(spec);
}

Cell* to(Cell*, Cell* spec, int) { return make_or_to(spec); }

void random(Cell* value, bool seed, bool secure, bool) {
  Services& s = g_services;
  // The seed mixes the payload words as stored.
  if (seed) return random_seed_value(value, value->w1 ^ value->w2 ^ value->w3 ^ (value->header & kSignBit));
  if (!s.random_range || !s.random_draw) service_missing();
  Amount a;
  unpack(value, &a);
  int i = 0;
  while (i < kDigits && a.d[i] == 0) i++;
  bool bounded = true;  // the digits so far equal the value's
  for (; i < kDigits; i++) {
    u8 top = a.d[i];
    u8 r;
    if (!bounded) {
      r = u8(s.random_range(10, secure) - 1);
    } else if (top == 0) {
      r = 0;
    } else {
      for (;;) {
        r = u8(s.random_range(top + 1, secure) - 1);
        if (r < top) break;
        // Drawing the bound itself is kept only on a further agreement.
        if (s.random_draw(secure) % 1000 == s.random_draw(secure) % 1000) break;
      }
      bounded = r == top;
    }
    a.d[i] = r;
  }
  pack(value, a);
}

i32 form(const Cell* value, Cell* out, const Cell*, i32 part) {
  return write_text(value, out, part, true, fraction_digits(false));
}

i32 mold(const Cell* value, Cell* out, const actions::MoldOptions& o, i32 part) {
  return write_text(value, out, part, false, fraction_digits(o.all));
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const actions::PathOptions& o) {
  int field = field_of(element);
  if (value) raise_error(Err::ScriptBadPathSet, o.path, element);
  if (!field) raise_error(Err::ScriptInvalidPath, o.path, element);
  return push_field(parent, field);
}

Cell* pick(Cell* series, i32 index, Cell* index_cell) {
  int field = 0;
  if (index_cell && index_cell->type() >= T_WORD && index_cell->type() <= T_GET_WORD) field = field_of(index_cell);
  else if (index == 1 || index == 2) field = index;
  if (!field) {
    Cell n;
    raise_error(Err::ScriptOutOfRange, index_cell ? index_cell : set_integer(&n, index));
  }
  return push_field(series, field);
}

void absolute() { stack::g_base->header &= ~kSignBit; }
void negate(Cell* value) { value->header ^= kSignBit; }

void add() { math_op(integer::kOpAdd); }
void subtract() { math_op(integer::kOpSubtract); }
void multiply() { math_op(integer::kOpMultiply); }
void divide() { math_op(integer::kOpDivide); }
void remainder() { math_op(integer::kOpRemainder); }

void round(Cell* value, const actions::RoundOptions& o) {
  Amount v;
  unpack(value, &v);
  if (zero_digits(v)) return;
  Amount s;
  if (!o.scale) {
    s.d[kUnits] = 1;
  } else if (o.scale->is(T_PERCENT) || !amount_of(o.scale, true, &s)) {
    Cell word = stack::calling_word();
    Cell dt = datatype_cell(o.scale->type());
    raise_error(Err::ScriptNotRelated, &word, &dt);
  }
  if (zero_digits(s)) return;
  const bool positive = !v.neg;
  const Wide mag = to_wide(v), step = to_wide(s);
  Wide q, r;
  wide_divmod(mag, step, &q, &r);
  if (wide_zero(r)) return;  // already a multiple: every mode keeps it
  const Wide u = wide_sub(step, r);
  const int vs = wide_cmp(r, u);  // r against the distance up
  const bool tie = vs == 0;
  bool up;
  if (o.down) up = false;
  else if (o.floor) up = !positive;
  else if (o.ceiling) up = positive;
  else if (tie && o.even) up = (q.d[kWide - 1] & 1) != 0;
  else if (tie && o.half_down) up = false;
  else if (tie && o.half_ceiling) up = positive;
  else up = vs >= 0;
  Amount out;
  const Wide result = up ? wide_add(mag, u) : wide_sub(mag, r);
  if (!from_wide(result, &out)) type_limit();
  out.neg = v.neg;
  out.cur = v.cur;
  pack(value, out);
}

bool even(const Cell* value) {
  Amount a;
  unpack(value, &a);
  return (a.d[kUnits] & 1) == 0;
}

bool odd(const Cell* value) { return !even(value); }

void register_type() {
  using namespace actions;
  actions::SlotTable slots;
  slots.set<kMake>(&make);
  slots.set<kRandom>(&random);
  slots.set<kTo>(&to);
  slots.set<kForm>(&form);
  slots.set<kMold>(&mold);
  slots.set<kEvalPath>(&eval_path);
  slots.set<kCompare>(&compare);
  slots.set<kAbsolute>(&absolute);
  slots.set<kAdd>(&add);
  slots.set<kDivide>(&divide);
  slots.set<kMultiply>(&multiply);
  slots.set<kNegate>(&negate);
  slots.set<kRemainder>(&remainder);
  slots.set<kRound>(&round);
  slots.set<kSubtract>(&subtract);
  slots.set<kEven>(&even);
  slots.set<kOdd>(&odd);
  slots.set<kPick>(&pick);
  datatype::register_type(T_MONEY, 0, "money!", slots);
}

}  // namespace zot::money
