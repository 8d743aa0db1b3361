// Fundamental types and compiler helpers shared by every part of Zot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#define ZOT_LIKELY(x) __builtin_expect(!!(x), 1)
#define ZOT_UNLIKELY(x) __builtin_expect(!!(x), 0)
#define ZOT_NOINLINE __attribute__((noinline))
#define ZOT_INLINE inline __attribute__((always_inline))
#define ZOT_NORETURN [[noreturn]]

namespace zot {

using u8 = std::uint8_t;
using u16 = std::uint16_t;
using u32 = std::uint32_t;
using u64 = std::uint64_t;
using i8 = std::int8_t;
using i16 = std::int16_t;
using i32 = std::int32_t;
using i64 = std::int64_t;

// Rounds n up to a multiple of a (a power of two).
constexpr std::size_t align_up(std::size_t n, std::size_t a) { return (n + a - 1) & ~(a - 1); }

}  // namespace zot
