// Values that C++ code holds outside the argument stack across anything that
// may allocate (and so collect) register here for the collector's marking,
// for the scope of the holder. Holders nest like the scopes that own them.
//
//   Rooted out;                     // a Cell, unset, marked while in scope
//   string::make_at(&out, 64);
//   RootedNode keep(mem::alloc_cells(8));
//
// Buffers still move: a holder keeps a value alive, not a pointer into it.
#pragma once

#include "runtime/cell.h"

namespace zot {

class Rooted : public Cell {
 public:
  Rooted() : cell(*this) {
    set_unset(this);
    link();
  }
  Rooted(const Cell& c) : Cell(c), cell(*this) { link(); }  // NOLINT: a rooted copy of a cell
  ~Rooted() {
#ifdef ZOT_GC_STRESS
    if (g_head != this) __builtin_trap();  // holders must end in the order they began
#endif
    g_head = prev_;
  }
  Rooted(const Rooted& c) : Cell(c), cell(*this) { link(); }
  Rooted& operator=(const Rooted& c) {
    Cell::operator=(c);
    return *this;
  }
  Rooted& operator=(const Cell& c) {
    Cell::operator=(c);
    return *this;
  }

  // The held cell by name (the holder is the cell itself).
  Cell& cell;

  // The innermost holder; the collector walks the chain through prev().
  static Rooted* head() { return g_head; }
  Rooted* prev() const { return prev_; }

 private:
  void link() {
    prev_ = g_head;
    g_head = this;
  }
  Rooted* prev_;
  static inline Rooted* g_head = nullptr;
};

// A node held alone: its buffer (and, for a series of cells, what the cells
// reach) stays alive. With table, the node is a hash table, marked with its
// index series and its block.
class RootedNode {
 public:
  explicit RootedNode(u32 n = 0, bool is_table = false) : node(n), table(is_table) {
    prev_ = g_head;
    g_head = this;
  }
  ~RootedNode() {
#ifdef ZOT_GC_STRESS
    if (g_head != this) __builtin_trap();
#endif
    g_head = prev_;
  }
  RootedNode(const RootedNode&) = delete;
  RootedNode& operator=(const RootedNode&) = delete;
  RootedNode& operator=(u32 n) {
    node = n;
    return *this;
  }
  operator u32() const { return node; }

  u32 node;
  bool table;

  static RootedNode* head() { return g_head; }
  RootedNode* prev() const { return prev_; }

 private:
  RootedNode* prev_;
  static inline RootedNode* g_head = nullptr;
};

}  // namespace zot
