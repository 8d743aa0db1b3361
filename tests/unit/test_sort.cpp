#include "runtime/sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace zot;

// Records of width w: byte 0 is the key; the bytes after it hold the record's
// serial number, so that an unstable move of equal keys shows.
struct Records {
  std::size_t width;
  std::vector<u8> bytes;
  std::size_t count() const { return bytes.size() / width; }
  u8* at(std::size_t i) { return bytes.data() + i * width; }
};

Records make_records(std::size_t width, const std::vector<u8>& keys) {
  Records r{width, std::vector<u8>(keys.size() * width)};
  for (std::size_t i = 0; i < keys.size(); i++) {
    u8* p = r.at(i);
    p[0] = keys[i];
    for (std::size_t k = 1; k < width; k++) p[k] = u8(i >> (8 * ((k - 1) % 8)));
  }
  return r;
}

struct Counted {
  long calls = 0;
};

int compare_key(const void* a, const void* b, void* ctx) {
  if (ctx) static_cast<Counted*>(ctx)->calls++;
  return int(*static_cast<const u8*>(a)) - int(*static_cast<const u8*>(b));
}

using SortFn = void (*)(void*, std::size_t, std::size_t, sort::Compare, void*);

// The records sorted whole, as a multiset fingerprint.
std::vector<std::string> as_multiset(const Records& r) {
  std::vector<std::string> v;
  for (std::size_t i = 0; i < r.count(); i++)
    v.emplace_back(reinterpret_cast<const char*>(r.bytes.data() + i * r.width), r.width);
  std::sort(v.begin(), v.end());
  return v;
}

Records stable_expected(const Records& in) {
  std::vector<std::size_t> order(in.count());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return in.bytes[a * in.width] < in.bytes[b * in.width]; });
  Records out{in.width, std::vector<u8>(in.bytes.size())};
  for (std::size_t i = 0; i < order.size(); i++)
    std::memcpy(out.at(i), in.bytes.data() + order[i] * in.width, in.width);
  return out;
}

// Key patterns that reach the run rules and the partition paths.
std::vector<std::vector<u8>> patterns(std::size_t n, std::mt19937& rng) {
  std::vector<std::vector<u8>> out;
  std::vector<u8> k(n);
  for (auto& x : k) x = u8(rng() % 16);  // many ties
  out.push_back(k);
  for (auto& x : k) x = u8(rng());
  out.push_back(k);
  std::vector<u8> sorted = k;
  std::sort(sorted.begin(), sorted.end());
  out.push_back(sorted);
  out.emplace_back(sorted.rbegin(), sorted.rend());  // descending with ties
  std::vector<u8> nearly = sorted;
  for (std::size_t i = 0; n > 1 && i < n / 50 + 1; i++) std::swap(nearly[rng() % n], nearly[rng() % n]);
  out.push_back(nearly);
  out.emplace_back(nearly.rbegin(), nearly.rend());
  out.push_back(std::vector<u8>(n, 7));
  for (std::size_t i = 0; i < n; i++) k[i] = u8(i % 37 < 20 ? 200 - i % 37 : i % 37);  // saw teeth
  out.push_back(k);
  for (std::size_t i = 0; i < n; i++) k[i] = u8(i < n / 2 ? i * 255 / (n / 2 + 1) : (n - i) * 255 / (n / 2 + 1));
  out.push_back(k);  // organ pipe
  std::size_t i = 0;  // random runs of random length, both directions
  while (i < n) {
    std::size_t len = 1 + rng() % 60;
    u8 start = u8(rng());
    bool up = rng() & 1;
    for (std::size_t j = 0; j < len && i < n; j++, i++) k[i] = u8(up ? start + j / 3 : start - j / 3);
  }
  out.push_back(k);
  return out;
}

TEST(Sort, MergeSortMatchesStableSort) {
  std::mt19937 rng(11);
  for (std::size_t width : {1, 2, 4, 6, 8, 16}) {
    for (std::size_t n : {0, 1, 2, 3, 7, 8, 23, 24, 25, 48, 100, 511, 512, 1000, 4099}) {
      for (const auto& keys : patterns(n, rng)) {
        Records r = make_records(width, keys);
        Records expected = stable_expected(r);
        sort::merge_sort(r.bytes.data(), r.count(), width, compare_key, nullptr);
        ASSERT_EQ(r.bytes, expected.bytes) << "width " << width << " n " << n;
      }
    }
  }
}

TEST(Sort, QuickSortSortsAndPermutes) {
  std::mt19937 rng(12);
  for (std::size_t width : {1, 2, 4, 6, 8, 16}) {
    for (std::size_t n : {0, 1, 2, 3, 7, 8, 9, 50, 97, 98, 200, 511, 512, 513, 1000, 4099}) {
      for (const auto& keys : patterns(n, rng)) {
        Records r = make_records(width, keys);
        auto before = as_multiset(r);
        sort::quick_sort(r.bytes.data(), r.count(), width, compare_key, nullptr);
        for (std::size_t i = 1; i < r.count(); i++) ASSERT_LE(r.at(i - 1)[0], r.at(i)[0]) << "n " << n;
        ASSERT_EQ(as_multiset(r), before);
      }
    }
  }
}

TEST(Sort, LargeInputs) {
  // Ties, presorted and adversarial shapes must stay fast and correct.
  std::mt19937 rng(13);
  for (const auto& keys : patterns(50000, rng)) {
    Records r = make_records(8, keys);
    Records expected = stable_expected(r);
    Records q = r;
    sort::merge_sort(r.bytes.data(), r.count(), 8, compare_key, nullptr);
    EXPECT_EQ(r.bytes, expected.bytes);
    sort::quick_sort(q.bytes.data(), q.count(), 8, compare_key, nullptr);
    for (std::size_t i = 1; i < q.count(); i++) ASSERT_LE(q.at(i - 1)[0], q.at(i)[0]);
    EXPECT_EQ(as_multiset(q), as_multiset(r));
  }
}

TEST(Sort, RunRules) {
  for (SortFn fn : {SortFn(sort::merge_sort), SortFn(sort::quick_sort)}) {
    // Nothing to sort: the comparator is never called.
    for (std::size_t n : {0, 1}) {
      Records r = make_records(4, std::vector<u8>(n, 3));
      Counted c;
      fn(r.bytes.data(), n, 4, compare_key, &c);
      EXPECT_EQ(c.calls, 0);
    }
  }

  // A descending input is one run: reversed with no merge, one comparison
  // per neighbouring pair; so is an ascending one.
  std::vector<u32> desc(1000);
  for (u32 i = 0; i < 1000; i++) desc[i] = 1000 - i;
  auto cmp32 = [](const void* a, const void* b, void* ctx) {
    static_cast<Counted*>(ctx)->calls++;
    u32 x = *static_cast<const u32*>(a), y = *static_cast<const u32*>(b);
    return x < y ? -1 : x > y ? 1 : 0;
  };
  Counted c;
  sort::merge_sort(desc.data(), desc.size(), 4, cmp32, &c);
  EXPECT_EQ(c.calls, 999);
  EXPECT_TRUE(std::is_sorted(desc.begin(), desc.end()));
  c.calls = 0;
  sort::merge_sort(desc.data(), desc.size(), 4, cmp32, &c);
  EXPECT_EQ(c.calls, 999);

  // A descending run breaks at equal neighbours, so equal records are never
  // reversed past each other.
  Records r = make_records(4, {5, 4, 4, 4, 3, 3, 1, 9, 2, 2});
  Records expected = stable_expected(r);
  sort::merge_sort(r.bytes.data(), r.count(), 4, compare_key, nullptr);
  EXPECT_EQ(r.bytes, expected.bytes);

  // All records equal: input order kept.
  Records same = make_records(16, std::vector<u8>(3000, 1));
  Records copy = same;
  sort::merge_sort(same.bytes.data(), same.count(), 16, compare_key, nullptr);
  EXPECT_EQ(same.bytes, copy.bytes);
}

TEST(Sort, SwapWholeRecords) {
  for (std::size_t width : {6, 16}) {
    for (bool bytewise : {true, false}) {
      if (!bytewise && width % 4) continue;
      std::vector<u8> a(width + 1, 0xAA), b(width + 1, 0xBB);
      for (std::size_t i = 0; i < width; i++) a[i] = u8(i), b[i] = u8(100 + i);
      auto a0 = a, b0 = b;
      sort::swap(a.data(), b.data(), width, bytewise);
      b0[width] = 0xAA;  // nothing past the record moves
      a0[width] = 0xBB;
      EXPECT_EQ(a, b0);
      EXPECT_EQ(b, a0);
    }
  }
}

struct RandomAnswers {
  std::mt19937 rng;
};

int random_answer(const void*, const void*, void* ctx) {
  return int(static_cast<RandomAnswers*>(ctx)->rng() % 3) - 1;
}

TEST(Sort, InconsistentComparatorStaysInBounds) {
  // Answers at random: the sorts must end, touch nothing outside the array
  // (the sanitizer build checks that) and keep every record.
  std::mt19937 rng(14);
  for (SortFn fn : {SortFn(sort::merge_sort), SortFn(sort::quick_sort)}) {
    for (std::size_t width : {1, 4, 6, 16}) {
      for (std::size_t n : {2, 5, 8, 30, 100, 600, 3000, 40000}) {
        std::vector<u8> keys(n);
        for (auto& k : keys) k = u8(rng());
        Records r = make_records(width, keys);
        auto before = as_multiset(r);
        RandomAnswers answers{std::mt19937(u32(n * width))};
        fn(r.bytes.data(), n, width, random_answer, &answers);
        ASSERT_EQ(as_multiset(r), before) << "width " << width << " n " << n;
      }
    }
  }
}

struct Throwing {
  long calls = 0;
  long limit = -1;  // throws on this call; -1 never
};

int throwing_compare(const void* a, const void* b, void* ctx) {
  auto* t = static_cast<Throwing*>(ctx);
  if (++t->calls == t->limit) throw std::runtime_error("comparator failed");
  return int(*static_cast<const u8*>(a)) - int(*static_cast<const u8*>(b));
}

TEST(Sort, ThrowingComparatorKeepsAPermutation) {
  std::mt19937 rng(15);
  for (SortFn fn : {SortFn(sort::merge_sort), SortFn(sort::quick_sort)}) {
    // 300 records of 4 bytes merge through stack scratch, 5000 of 8 through the heap.
    for (auto [n, width] : {std::pair<std::size_t, std::size_t>{300, 4}, {5000, 8}, {777, 6}}) {
      std::vector<u8> keys(n);
      for (auto& k : keys) k = u8(rng() % 50);
      Records dry = make_records(width, keys);
      Throwing count;
      fn(dry.bytes.data(), n, width, throwing_compare, &count);
      ASSERT_GT(count.calls, 0);
      for (int step = 1; step <= 60; step++) {
        Records r = make_records(width, keys);
        auto before = as_multiset(r);
        Throwing t{0, 1 + count.calls * step / 61};
        EXPECT_THROW(fn(r.bytes.data(), n, width, throwing_compare, &t), std::runtime_error);
        ASSERT_EQ(as_multiset(r), before) << "n " << n << " thrown at call " << t.limit;
      }
    }
  }
}

}  // namespace
