// Services that the core datatypes call but that other modules provide (the
// random generator, the hash of bytes, vector elements, words, the lexer,
// object and map bodies). Each module installs its entries at start-up; an
// entry still missing when it is needed raises internal/not-done, so nothing
// silently does the wrong thing.
#pragma once

#include "runtime/base.h"
#include "runtime/cell.h"

namespace zot::hooks {

struct Services {
  // The random generator: a number in 1..n (n < 0: n..-1, 0: 0); one raw
  // draw 0..2^31-1; restarting the sequence.
  i32 (*random_range)(i32 n, bool secure) = nullptr;
  i32 (*random_draw)(bool secure) = nullptr;
  void (*random_seed)(u32 seed) = nullptr;
  // The hash of bytes that seeds the generator from a series.
  u32 (*hash_bytes)(const u8* bytes, u32 length) = nullptr;
  // vector! elements by element index from the head: reading pushes nothing,
  // it writes out; writing answers false when the value does not fit the type.
  void (*vector_get)(const Cell* vector, i32 index, Cell* out) = nullptr;
  bool (*vector_set)(Cell* vector, i32 index, const Cell* value) = nullptr;
  // A word! cell for a name (error arguments such as `part`).
  Cell (*word)(const char* name) = nullptr;
  // The canonical symbol id of a symbol (case-insensitive identity).
  u32 (*canonical)(u32 symbol) = nullptr;
  // The symbol id of the word `owned` (reflect/modify of series).
  u32 owned_symbol = 0;
  // Text scanned into values: out becomes a block! of them.
  void (*scan)(const Cell* text, Cell* out) = nullptr;
  // The body block of an object!, map! or vector! value into out.
  void (*body_of)(const Cell* value, Cell* out) = nullptr;
};

extern Services g_services;

// A word cell for error arguments; none until words exist.
Cell word(const char* name);
// The canonical id of a symbol; the symbol itself until the symbol table installs its rule.
u32 canonical(u32 symbol);
// Raises internal/not-done for a service that is not installed.
ZOT_NORETURN void missing();

}  // namespace zot::hooks
