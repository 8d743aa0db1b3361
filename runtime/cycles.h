// The cycle-detection stack: the series (or object contexts) now being
// molded, formed, compared or deep-copied, so a value that contains itself is
// written once and deep nesting ends in an error instead of a crash.
#pragma once

#include "runtime/base.h"
#include "runtime/memory.h"

namespace zot::cycles {

constexpr u32 kCapacity = 1000;

// Pushes the node; when this fills the last entry the stack is emptied and
// internal/too-deep is raised.
void push(mem::Node n);
void pop();
void drop(u32 count);
void reset();
bool find(mem::Node n);
u32 depth();
// Entries for the collector's marking.
const mem::Node* entries();

// Pushes on construction and pops on scope exit, so an error unwinding
// through a mold or compare leaves the stack as it was.
class Guard {
 public:
  explicit Guard(mem::Node n) : depth_(depth()) { push(n); }
  ~Guard() {
    if (depth() > depth_) drop(depth() - depth_);
  }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

 private:
  u32 depth_;
};

}  // namespace zot::cycles
