#include "runtime/sort.h"

#include <cstdlib>
#include <new>

#include "runtime/errors.h"

namespace zot::sort {

void swap(void* a, void* b, std::size_t width, bool bytewise) {
  u8* x = static_cast<u8*>(a);
  u8* y = static_cast<u8*>(b);
  if (bytewise) {
    for (std::size_t i = 0; i < width; i++) {
      u8 t = x[i];
      x[i] = y[i];
      y[i] = t;
    }
    return;
  }
  for (std::size_t i = 0; i < width; i += 4) {
    u32 s, t;
    std::memcpy(&s, x + i, 4);
    std::memcpy(&t, y + i, 4);
    std::memcpy(x + i, &t, 4);
    std::memcpy(y + i, &s, 4);
  }
}

namespace {

// The array being sorted. Every index handed to it is below the count: the
// sorts keep their indexes in range by their own bounds, never by what the
// comparator answers.
struct Records {
  u8* base;
  std::size_t width;
  Compare cmp;
  void* context;
  bool bytewise;

  u8* at(std::size_t i) const { return base + i * width; }
  int compare(std::size_t i, std::size_t j) const { return cmp(at(i), at(j), context); }
  void exchange(std::size_t i, std::size_t j) const {
    if (i != j) swap(at(i), at(j), width, bytewise);
  }
  // Reverses [lo, hi).
  void reverse(std::size_t lo, std::size_t hi) const {
    while (hi - lo > 1) exchange(lo++, --hi);
  }
  // Insertion by exchanges: [lo, from) is sorted, [from, hi) is added to it.
  void insertion_sort(std::size_t lo, std::size_t from, std::size_t hi) const {
    for (std::size_t i = from; i < hi; i++) {
      for (std::size_t j = i; j > lo && compare(j - 1, j) > 0; j--) exchange(j - 1, j);
    }
  }
};

// ---------------------------------------------------------------------------
// Stable natural merge sort with the Powersort merge policy.

constexpr std::size_t kMinRun = 24;
constexpr std::size_t kLocalScratch = 1024;  // bytes of scratch kept on the stack
constexpr int kRunStack = 72;                // > one entry per bit of a 64-bit count

// End of the run starting at s: ascending (each record at or below the next),
// or strictly descending and then reversed, which keeps equal records in order.
std::size_t find_run(const Records& r, std::size_t s, std::size_t n) {
  std::size_t e = s + 1;
  if (e == n) return e;
  if (r.compare(s, e) > 0) {
    for (++e; e < n && r.compare(e - 1, e) > 0; ++e) {
    }
    r.reverse(s, e);
  } else {
    for (++e; e < n && r.compare(e - 1, e) <= 0; ++e) {
    }
  }
  return e;
}

std::size_t next_run(const Records& r, std::size_t s, std::size_t n) {
  std::size_t e = find_run(r, s, n);
  std::size_t want = n - s < kMinRun ? n : s + kMinRun;
  if (e < want) {
    r.insertion_sort(s, e, want);
    e = want;
  }
  return e;
}

// Power of the boundary between runs [s, m) and [m, e) in an array of n:
// the leading bits shared by the two runs' midpoints as fractions of n, plus
// one. The midpoints differ, so the loop ends within 65 rounds.
int node_power(std::size_t s, std::size_t m, std::size_t e, std::size_t n) {
  u64 a = u64(s) + m;  // twice the midpoints; as fractions of 2n
  u64 b = u64(m) + e;
  const u64 n2 = u64(n) * 2;
  int power = 0;
  for (;;) {
    power++;
    a <<= 1;
    b <<= 1;
    bool bit_a = a >= n2;
    bool bit_b = b >= n2;
    if (bit_a != bit_b) return power;
    if (bit_a) {
      a -= n2;
      b -= n2;
    }
  }
}

// While a merge runs, the records copied out to the scratch buffer have a
// gap of exactly their size waiting for them in the array. The guard puts
// them there when the merge ends: normally (the tail of the merge) or by an
// exception from the comparator, so the array stays a permutation.
struct GapFill {
  u8* const& gap;
  const u8* const& rest;
  const std::size_t& bytes;
  ~GapFill() {
    if (bytes) std::memcpy(gap, rest, bytes);
  }
};

// Merges the adjacent sorted runs [s, m) and [m, e) through scratch.
void merge_runs(const Records& r, u8* scratch, std::size_t s, std::size_t m, std::size_t e) {
  const std::size_t w = r.width;
  if (m - s <= e - m) {
    // Left run out; forward, the left record wins ties.
    std::size_t left_bytes = (m - s) * w;
    std::memcpy(scratch, r.at(s), left_bytes);
    u8* dest = r.at(s);
    const u8* left = scratch;
    std::size_t rest = left_bytes;  // scratch bytes not yet placed
    u8* right = r.at(m);
    u8* const right_end = r.at(e);
    GapFill fill{dest, left, rest};
    while (rest && right < right_end) {
      if (r.cmp(left, right, r.context) <= 0) {
        std::memcpy(dest, left, w);
        left += w;
        rest -= w;
      } else {
        std::memcpy(dest, right, w);
        right += w;
      }
      dest += w;
    }
  } else {
    // Right run out; backward, the left record goes first only when above.
    std::size_t rest = (e - m) * w;
    std::memcpy(scratch, r.at(m), rest);
    u8* const left_start = r.at(s);
    u8* left_end = r.at(m);  // left records remaining: [left_start, left_end)
    u8* dest_end = r.at(e);  // next record goes just below
    // The gap is [left_end, dest_end), of size rest; the scratch records
    // remaining are [scratch, scratch + rest).
    const u8* const scratch_start = scratch;
    GapFill fill{left_end, scratch_start, rest};
    while (rest && left_end > left_start) {
      const u8* left = left_end - w;
      const u8* right = scratch + rest - w;
      dest_end -= w;
      if (r.cmp(left, right, r.context) > 0) {
        std::memcpy(dest_end, left, w);
        left_end -= w;
      } else {
        std::memcpy(dest_end, right, w);
        rest -= w;
      }
    }
  }
}

struct Scratch {
  alignas(16) u8 local[kLocalScratch];
  u8* heap = nullptr;
  ~Scratch() { std::free(heap); }
  u8* get(std::size_t bytes) {
    if (bytes <= sizeof local) return local;
    heap = static_cast<u8*>(std::malloc(bytes));
    if (!heap) throw std::bad_alloc();
    return heap;
  }
};

// ---------------------------------------------------------------------------
// Unstable partition sort.

constexpr std::size_t kInsertionMax = 7;
constexpr std::size_t kNinther = 511;     // above this, the pivot is a median of medians
constexpr std::size_t kSampleStep = 97;   // presortedness sampling distance
constexpr std::size_t kSortedScore = 512; // count / this is the nearly-sorted threshold

std::size_t median3(const Records& r, std::size_t a, std::size_t b, std::size_t c) {
  if (r.compare(a, b) < 0) {
    if (r.compare(b, c) < 0) return b;
    return r.compare(a, c) < 0 ? c : a;
  }
  if (r.compare(b, c) > 0) return b;
  return r.compare(a, c) > 0 ? c : a;
}

// Insertion sort that gives up after budget exchanges; true when [lo, hi) is
// sorted. Either way the work is bounded by the budget plus one pass.
bool bounded_insertion_sort(const Records& r, std::size_t lo, std::size_t hi, std::size_t budget) {
  for (std::size_t i = lo + 1; i < hi; i++) {
    for (std::size_t j = i; j > lo && r.compare(j - 1, j) > 0; j--) {
      if (budget == 0) return false;
      budget--;
      r.exchange(j - 1, j);
    }
  }
  return true;
}

void partition_sort(const Records& r, std::size_t lo, std::size_t hi) {
  // After a lopsided split the remaining range is likely patterned against
  // the median of three: sample wider there.
  bool lopsided = false;
  while (hi - lo > kInsertionMax) {
    const std::size_t n = hi - lo;
    const std::size_t mid = lo + n / 2;
    std::size_t p;
    if (n > kNinther || lopsided) {
      std::size_t step = n / 8;
      p = median3(r, median3(r, lo, lo + step, lo + 2 * step), median3(r, mid - step, mid, mid + step),
                  median3(r, hi - 1 - 2 * step, hi - 1 - step, hi - 1));
    } else {
      p = median3(r, lo, mid, hi - 1);
    }
    r.exchange(lo, p);

    // The pivot stays at lo. [lo + 1, eq) equal to it, [eq, i) below it,
    // [j, hi) above it, [i, j) not yet seen. Each record is compared once
    // and each step moves i up or j down, so the loop ends whatever the
    // comparator answers.
    std::size_t eq = lo + 1, i = lo + 1, j = hi;
    while (i < j) {
      int c = r.compare(i, lo);
      if (c < 0) {
        i++;
      } else if (c == 0) {
        r.exchange(i++, eq++);
      } else {
        int c2 = 1;
        for (--j; i < j && (c2 = r.compare(j, lo)) > 0;) --j;
        if (i == j) break;
        r.exchange(i, j);
        if (c2 == 0) r.exchange(i, eq++);
        i++;
      }
    }
    // Move the equal block (pivot included) between the two sides.
    const std::size_t below = i - eq;
    const std::size_t equal = eq - lo;
    const std::size_t m = below < equal ? below : equal;
    for (std::size_t k = 0; k < m; k++) r.exchange(lo + k, i - m + k);

    // Recurse into the smaller side, loop on the larger: depth stays log n.
    const std::size_t above = hi - i;
    lopsided = (below < above ? below : above) < n / 8;
    std::size_t below_hi = lo + below;
    if (below < above) {
      partition_sort(r, lo, below_hi);
      lo = i;
    } else {
      partition_sort(r, i, hi);
      hi = below_hi;
    }
  }
  r.insertion_sort(lo, lo, hi);
}

}  // namespace

void merge_sort(void* base, std::size_t count, std::size_t width, Compare cmp, void* context) {
  if (count < 2 || width == 0) return;
  const Records r{static_cast<u8*>(base), width, cmp, context, width % 4 != 0};
  std::size_t scratch_bytes;
  if (__builtin_mul_overflow(count / 2, width, &scratch_bytes)) throw std::bad_alloc();
  Scratch scratch;
  u8* buf = scratch.get(scratch_bytes);

  struct Run {
    std::size_t start;
    int power;  // of the boundary after this run
  };
  Run stack[kRunStack];
  int top = 0;

  std::size_t s = 0;
  std::size_t e = next_run(r, 0, count);
  while (e < count) {
    std::size_t e2 = next_run(r, e, count);
    int power = node_power(s, e, e2, count);
    // Powers on the stack strictly increase, so it never fills; merging
    // when full is only a guard.
    while (top > 0 && (stack[top - 1].power > power || top == kRunStack)) {
      merge_runs(r, buf, stack[top - 1].start, s, e);
      s = stack[--top].start;
    }
    stack[top++] = {s, power};
    s = e;
    e = e2;
  }
  while (top > 0) {
    merge_runs(r, buf, stack[top - 1].start, s, count);
    s = stack[--top].start;
  }
}

void quick_sort(void* base, std::size_t count, std::size_t width, Compare cmp, void* context) {
  if (count < 2 || width == 0) return;
  const Records r{static_cast<u8*>(base), width, cmp, context, width % 4 != 0};

  // Presortedness: the first unequal pair gives a direction; every 97th pair
  // after it votes for or against that direction.
  std::size_t first = 0;
  int c = 0;
  while (first + 1 < count && (c = r.compare(first, first + 1)) == 0) first++;
  if (first + 1 == count) return;  // every neighbour equal: nothing to move
  const i64 direction = c < 0 ? 1 : -1;
  i64 score = 0;
  for (std::size_t k = first + kSampleStep; k + 1 < count; k += kSampleStep) {
    int v = r.compare(k, k + 1);
    score += v < 0 ? 1 : v > 0 ? -1 : 0;
  }
  score *= direction;
  const i64 threshold = i64(count / kSortedScore);
  if (score > threshold || -score > threshold) {
    // Nearly sorted: bring it into ascending order and finish by insertion
    // when few records are out of place; past a linear budget of moves the
    // partition sort takes over from wherever insertion got.
    if (direction * (score > 0 ? 1 : -1) < 0) r.reverse(0, count);
    if (bounded_insertion_sort(r, 0, count, count)) return;
  }
  partition_sort(r, 0, count);
}

void records(void* base, std::size_t count, std::size_t width, Compare cmp, void* context, bool stable) {
  if (!stable) {
    quick_sort(base, count, width, cmp, context);
    return;
  }
  try {
    merge_sort(base, count, width, cmp, context);
  } catch (const std::bad_alloc&) {
    raise_error(Err::InternalNoMemory);
  }
}

}  // namespace zot::sort
