#include "runtime/random.h"

#include "platform/crypto.h"
#include "runtime/errors.h"

namespace zot::random {

namespace {

constexpr int kWords = 624;
constexpr int kMiddle = 397;

struct Generator {
  u32 state[kWords];
  int index = kWords + 1;  // past kWords: not seeded yet
};
Generator g;

// The right shift of the word read as a signed 32-bit integer.
ZOT_INLINE u32 sar(u32 x, int n) { return u32(i32(x) >> n); }

void regenerate() {
  for (int i = 0; i < kWords; i++) {
    u32 y = (g.state[i] & 0x80000000u) | (g.state[(i + 1) % kWords] & 0x7FFFFFFFu);
    g.state[i] = g.state[(i + kMiddle) % kWords] ^ sar(y, 1) ^ ((y & 1) ? 0x9908B0DFu : 0u);
  }
  g.index = 0;
}

}  // namespace

void seed(u32 value) {
  g.state[0] = value;
  for (int i = 1; i < kWords; i++) g.state[i] = 1812433253u * (g.state[i - 1] ^ sar(g.state[i - 1], 30)) + u32(i);
  // The first kWords draws are tempered straight from the seeded words.
  g.index = 0;
}

i32 next() {
  if (ZOT_UNLIKELY(g.index >= kWords)) {
    if (g.index > kWords) seed(kInitialSeed);
    else regenerate();
  }
  u32 y = g.state[g.index++];
  y ^= sar(y, 11);
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  y ^= sar(y, 18);  // clears the top bit: the result is never negative
  return i32(y);
}

i32 secure() {
  u8 b[4];
  if (!platform::secure_random(b, sizeof b)) raise_error(Err::InternalFeatureNa);
  return i32((u32(b[0]) | u32(b[1]) << 8 | u32(b[2]) << 16 | u32(b[3]) << 24) & 0x7FFFFFFFu);
}

i32 range(i32 n, bool secure_source) {
  if (n == 0) return 0;
  if (n == INT32_MIN) return -draw(secure_source) - 1;
  i32 m = n < 0 ? -n : n;
  i32 limit = 0x7FFFFFFF / m;
  i64 cut = i64(m) * limit;
  i32 d;
  do d = draw(secure_source);
  while (d >= cut);
  i32 r = d % m + 1;
  return n < 0 ? -r : r;
}

}  // namespace zot::random
