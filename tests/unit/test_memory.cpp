#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "runtime/collector.h"
#include "runtime/heap.h"
#include "runtime/rooted.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

using mem::Node;
using mem::Series;

struct MemoryTest : ::testing::Test {
  void SetUp() override { test::ensure_runtime(); }
};

// Appends `count` elements of `unit` bytes, each filled with its index, and
// checks every element after each growth.
TEST_F(MemoryTest, SeriesGrowAndKeepDataAtEveryWidth) {
  for (u32 unit : {1u, 2u, 4u, 8u, 16u}) {
    SCOPED_TRACE(unit);
    Node n = mem::alloc_units(0, unit);
    EXPECT_EQ(mem::series_of(n)->size, 16u);
    EXPECT_EQ(mem::series_of(n)->length(), 0u);
    for (u32 i = 0; i < 3000; i++) {
      u8* at = mem::alloc_tail_bytes(n, unit);
      std::memset(at, int(i & 0xFF), unit);
    }
    Series* s = mem::series_of(n);
    EXPECT_EQ(s->unit(), unit);
    ASSERT_EQ(s->length(), 3000u);
    EXPECT_EQ(s->node, n);
    for (u32 i = 0; i < 3000; i++) ASSERT_EQ(s->head_ptr()[i * unit + unit - 1], u8(i & 0xFF));
  }
}

TEST_F(MemoryTest, ZeroCountsGiveSixteenBytes) {
  EXPECT_EQ(mem::series_of(mem::alloc_bytes(0))->size, 16u);
  EXPECT_EQ(mem::series_of(mem::alloc_units(0, 2))->size, 16u);
  EXPECT_EQ(mem::series_of(mem::alloc_units(0, 4))->size, 16u);
  EXPECT_EQ(mem::series_of(mem::alloc_bytes(17))->size, 32u);
}

TEST_F(MemoryTest, BigBufferThreshold) {
  struct Case {
    u32 bytes;
    bool big;
  };
  const Case cases[] = {
      {(2u << 20) - 16, true},
      {(2u << 20) - 32, false},
      {(2u << 20) - 40, false},
      {3u << 20, true},
      {1000, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    Series* s = mem::series_of(mem::alloc_bytes(c.bytes));
    EXPECT_EQ(mem::is_big(s), c.big);
    EXPECT_GE(s->size, c.bytes);
  }
}

TEST_F(MemoryTest, LaterSeriesFramesAreTwoMegabytes) {
  // Fill past the first frame: new frames are 2 MiB and the size stays there.
  u32 frames = mem::stats().series_frames;
  for (int i = 0; i < 12; i++) mem::alloc_bytes(700 * 1024);
  EXPECT_GT(mem::stats().series_frames, frames);
  EXPECT_EQ(mem::stats().next_frame_size, 2u << 20);
}

TEST_F(MemoryTest, ExpandCopiesAndRetiresOldBuffer) {
  Node n = mem::alloc_bytes(16);
  Series* s = mem::series_of(n);
  for (u32 i = 0; i < 16; i++) s->data()[i] = u8(i + 1);
  s->tail = 16;
  Series* t = mem::expand_series(s, 64);
  EXPECT_NE(s, t);
  EXPECT_EQ(mem::series_of(n), t);
  EXPECT_EQ(t->size, 64u);
  EXPECT_EQ(t->length(), 16u);
  for (u32 i = 0; i < 16; i++) EXPECT_EQ(t->data()[i], u8(i + 1));
  Series* f = mem::expand_series_filled(t, 128, 0xEE);
  EXPECT_EQ(f->data()[15], 16);
  EXPECT_EQ(f->data()[64], 0xEE);
  EXPECT_EQ(f->data()[127], 0xEE);
}

// Placement flags belong to one buffer; a reallocation keeps the series'
// ownership (its node and owner stay), a copy is a new, unowned series.
TEST_F(MemoryTest, ReallocAndCopyFlags) {
  Node n = mem::alloc_heap_series(4, 1, 0);
  mem::set_series_flags(n, mem::kOwned | mem::kMiddleHead | 0x40);
  Series* s = mem::series_of(n);
  std::memcpy(s->data(), "abcd", 4);
  s->tail = 4;
  Node c = mem::copy_series(s);
  Series* cs = mem::series_of(c);
  EXPECT_EQ(cs->flags & (mem::kOwned | mem::kMiddleHead | mem::kHeapBuffer), 0u);
  EXPECT_EQ(cs->flags & 0x40, 0x40u);
  EXPECT_EQ(std::memcmp(cs->head_ptr(), "abcd", 4), 0);
  EXPECT_EQ(cs->length(), 4u);

  std::size_t blocks = runtime::heap_block_count();
  Series* r = mem::expand_series(mem::series_of(n), 64);
  EXPECT_EQ(r->flags & (mem::kMiddleHead | mem::kHeapBuffer | mem::kBig), 0u);
  EXPECT_EQ(r->flags & (mem::kOwned | 0x40), mem::kOwned | 0x40);
  EXPECT_EQ(std::memcmp(r->head_ptr(), "abcd", 4), 0);
  // The heap buffer it left went back to the heap.
  EXPECT_EQ(runtime::heap_block_count(), blocks - 1);
}

TEST_F(MemoryTest, FreedNodeIsReusedFirst) {
  bool saved = mem::g_retire_nodes;
  mem::g_retire_nodes = false;
  Node a = mem::alloc_bytes(8);
  Node b = mem::take_node();
  EXPECT_NE(a, b);
  EXPECT_NE(a, 0u);
  mem::free_node(b);
  EXPECT_FALSE(mem::node_in_use(b));
  Node c = mem::take_node();
  EXPECT_EQ(c, b);
  EXPECT_TRUE(mem::node_in_use(c));
  mem::free_node(c);
  mem::g_retire_nodes = saved;
}

TEST_F(MemoryTest, NodesSpillIntoNewFrames) {
  u32 frames = mem::stats().node_frames;
  std::vector<Node> nodes;
  for (u32 i = 0; i < mem::kNodesPerFrame + 10; i++) nodes.push_back(mem::take_node());
  EXPECT_GT(mem::stats().node_frames, frames);
  std::sort(nodes.begin(), nodes.end());
  EXPECT_EQ(std::adjacent_find(nodes.begin(), nodes.end()), nodes.end());
  // An emptied frame goes back to the OS at the next sweep.
  for (Node n : nodes) mem::free_node(n);
  mem::sweep_node_frames();
  EXPECT_EQ(mem::stats().node_frames, frames);
  Node again = mem::take_node();
  EXPECT_TRUE(mem::node_in_use(again));
  mem::free_node(again);
}

// Nodes of many frames, with dead ones among them: each still names its
// buffer after collections that move the buffers, and after the frames the
// collections emptied went back to the OS and new ones were taken.
TEST_F(MemoryTest, NodeLookupsAcrossFramesAndCollections) {
  collector::collect();
  const u32 frames = mem::stats().node_frames;
  constexpr u32 kCount = mem::kNodesPerFrame * 2 + 100;
  auto fill = [](Node holder, u32 count) {
    for (u32 i = 0; i < count; i++) {
      mem::alloc_tail_cell(holder);
      mem::alloc_bytes(8);  // dead at the next collection
      Node b = mem::alloc_bytes(8);
      std::memcpy(mem::series_of(b)->data(), &i, 4);
      mem::series_of(b)->tail = 4;
      make_cell(&mem::series_of(holder)->cells()[i], T_BINARY, 0, b, 0);
    }
  };
  auto check = [](Node holder, u32 count) {
    ASSERT_EQ(mem::series_of(holder)->length(), count);
    for (u32 i = 0; i < count; i++) {
      const Node b = mem::series_of(holder)->cells()[i].series_node();
      ASSERT_TRUE(mem::node_in_use(b)) << i;
      const Series* s = mem::series_of(b);
      ASSERT_EQ(s->node, b) << i;
      u32 v;
      std::memcpy(&v, s->data(), 4);
      ASSERT_EQ(v, i);
    }
  };
  {
    RootedNode holder(mem::alloc_cells(1));
    fill(holder, kCount);
    std::vector<u32> ids;
    for (u32 i = 0; i < kCount; i++) ids.push_back(mem::series_of(holder)->cells()[i].series_node() >> mem::kNodeSlotBits);
    std::sort(ids.begin(), ids.end());
    EXPECT_GE(std::unique(ids.begin(), ids.end()) - ids.begin(), 3);
    check(holder, kCount);
    for (bool move_all : {false, true}) {
      const bool saved = mem::g_move_every_buffer;
      mem::g_move_every_buffer = move_all;
      collector::collect();
      mem::g_move_every_buffer = saved;
      check(holder, kCount);
    }
  }
  collector::collect();
  EXPECT_LE(mem::stats().node_frames, frames + 1);
  RootedNode again(mem::alloc_cells(1));
  fill(again, kCount);
  collector::collect();
  check(again, kCount);
}

TEST_F(MemoryTest, CopyRepeatFillsEveryUnit) {
  for (u32 count : {1u, 2u, 3u, 7u, 64u, 65u}) {
    std::vector<u8> buf(count * 3, 0);
    buf[0] = 'a';
    buf[1] = 'b';
    buf[2] = 'c';
    mem::copy_repeat(buf.data(), 3, count);
    for (u32 i = 0; i < count * 3; i++) ASSERT_EQ(buf[i], "abc"[i % 3]) << count;
  }
}

TEST_F(MemoryTest, TailCellsDouble) {
  Node n = mem::alloc_cells(1);
  for (int i = 0; i < 100; i++) set_integer(mem::alloc_tail_cell(n), i);
  Series* s = mem::series_of(n);
  EXPECT_EQ(s->length(), 100u);
  EXPECT_EQ(s->size, 128u * sizeof(Cell));
  for (int i = 0; i < 100; i++) EXPECT_EQ(s->cells()[i].int_value(), i);
}

// A collection inside the allocation of a reallocation may move the buffer
// being expanded; its current contents must still be copied.
TEST_F(MemoryTest, ExpandCopiesFromWhereCollectionMovedTheBuffer) {
  collector::collect();
  mem::alloc_bytes(200);  // dead at the next collection: the buffer above it slides down
  RootedNode n(mem::alloc_bytes(32));
  Series* s = mem::series_of(n);
  std::memcpy(s->data(), "moving data, still here", 24);
  s->tail = 24;
  u32 before = collector::count();
  collector::g_enabled = true;
  // Large enough to need a collection in any build.
  Series* t = mem::expand_series(s, 4u << 20);
  collector::g_enabled = false;
  EXPECT_GT(collector::count(), before);
  EXPECT_EQ(mem::series_of(n), t);
  EXPECT_EQ(std::memcmp(t->head_ptr(), "moving data, still here", 24), 0);
  EXPECT_EQ(t->length(), 24u);
}

// A big buffer grows and shrinks where its pages are: its data from the head
// ends up at the start of the new buffer, whatever the collector did
// meanwhile, and the OS memory follows the buffer's size.
TEST_F(MemoryTest, BigBuffersResizeKeepingTheirData) {
  collector::collect();
  const u64 os_before = mem::stats().os_bytes;
  const u32 big_before = mem::stats().big_frames;
  {
    RootedNode n(mem::alloc_series(3u << 20, 1, -1));  // head in the middle
    Series* s = mem::series_of(n);
    ASSERT_TRUE(mem::is_big(s));
    ASSERT_GT(s->head, 0u);
    for (u32 i = 0; i < 100000; i++) s->head_ptr()[i] = u8(i * 7);
    s->tail = s->head + 100000;
    auto check = [&](Series* t, u32 length) {
      EXPECT_EQ(mem::series_of(n), t);
      EXPECT_EQ(t->node, Node(n));
      EXPECT_EQ(t->head, 0u);
      EXPECT_EQ(t->size % 16, 0u);
      EXPECT_EQ(t->flags & mem::kMiddleHead, 0u);
      ASSERT_EQ(t->length(), length);
      for (u32 i = 0; i < length; i++) ASSERT_EQ(t->head_ptr()[i], u8(i * 7)) << i;
    };
    collector::g_enabled = true;
    Series* t = mem::expand_series(s, 9u << 20);
    collector::g_enabled = false;
    EXPECT_NE(t, s);
    EXPECT_TRUE(mem::is_big(t));
    EXPECT_GE(t->size, 9u << 20);
    check(t, 100000);
    EXPECT_EQ(mem::stats().big_frames, big_before + 1);

    const u32 grown = t->size;
    Series* f = mem::expand_series_filled(t, 20u << 20, 0xEE);
    check(f, 100000);
    EXPECT_EQ(f->data()[grown], 0xEE);
    EXPECT_EQ(f->data()[f->size - 1], 0xEE);

    // Smaller, still big: the tail stops at the new size.
    f->tail = f->size;
    Series* g = mem::expand_series(f, 5u << 20);
    EXPECT_GE(g->size, 5u << 20);
    EXPECT_LT(g->size, 8u << 20);
    EXPECT_EQ(g->tail, g->size);
    for (u32 i = 0; i < 100000; i++) ASSERT_EQ(g->head_ptr()[i], u8(i * 7)) << i;

    // Small again: an ordinary buffer of a series frame.
    Series* h = mem::expand_series(g, 1000);
    EXPECT_FALSE(mem::is_big(h));
    for (u32 i = 0; i < 1000; i++) ASSERT_EQ(h->head_ptr()[i], u8(i * 7)) << i;
  }
  collector::collect();
  EXPECT_EQ(mem::stats().big_frames, big_before);
  EXPECT_LE(mem::stats().os_bytes, os_before + (2u << 20));
}

TEST(Heap, TracksBlocksAndIgnoresStrangers) {
  std::size_t before = runtime::heap_block_count();
  void* a = runtime::allocate(10);
  void* b = runtime::allocate_zeroed(20);
  EXPECT_EQ(static_cast<u8*>(b)[19], 0);
  EXPECT_EQ(runtime::heap_block_count(), before + 2);
  int local;
  runtime::free(&local);  // not ours: ignored
  EXPECT_EQ(runtime::heap_block_count(), before + 2);
  a = runtime::resize(a, 4000);
  EXPECT_TRUE(runtime::heap_owns(a));
  EXPECT_EQ(runtime::resize(a, 0), nullptr);
  runtime::free(b);
  EXPECT_EQ(runtime::heap_block_count(), before);
}

}  // namespace
}  // namespace zot
