// Cells that C++ code holds outside the argument stack across allocations
// register here for the collector's marking, for the scope of the holder.
#pragma once

#include "runtime/cell.h"

namespace zot {

class Rooted {
 public:
  Rooted() { link(); set_unset(&cell); }
  explicit Rooted(const Cell& c) : cell(c) { link(); }
  ~Rooted() { g_head = prev_; }
  Rooted(const Rooted&) = delete;
  Rooted& operator=(const Rooted&) = delete;
  Rooted& operator=(const Cell& c) {
    cell = c;
    return *this;
  }

  Cell cell;

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

}  // namespace zot
