#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/ownership.h"
#include "datatypes/words.h"
#include "interpreter/eval.h"
#include "runtime/collector.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/resources.h"
#include "runtime/symbol.h"
#include "tests/unit/eval_fixture.h"
#include "tests/unit/runtime_fixture.h"

namespace zot {
namespace {

using mem::Node;

struct CollectorTest : ::testing::Test {
  void SetUp() override {
    test::ensure_runtime();
    saved_move_ = mem::g_move_every_buffer;
  }
  void TearDown() override { mem::g_move_every_buffer = saved_move_; }

  // The value of the source, evaluated with the collector on.
  static Cell eval(const std::string& source) {
    test::CollectingOn on;
    Rooted code = test::load(source);
    return interp::do_block(&code);
  }
  static u32 nodes() { return mem::stats().nodes_used; }
  // Garbage below and between the live buffers, so that compaction moves them.
  static void churn() { eval("loop 10 [copy \"some text to drop\" copy [1 2 3] make object! [a: 1]]"); }

  bool saved_move_ = false;
};

// Each kind of value: built and dropped, every node it took comes back;
// kept, it survives collections that move it, whole.
TEST_F(CollectorTest, HolderTable) {
  const char* const kinds[] = {
      "copy \"some text\"",
      "copy/deep [1 [2 3] \"four\" #[a 5]]",
      "make object! [a: 1 b: copy \"two\" c: [3]]",
      "make map! [a 1 \"key\" [2 3]]",
      "func [x /y z] [x + 1]",
      "make error! \"boom\"",
      "make bitset! [#\"a\" - #\"z\"]",
      "make vector! [integer! 32 [1 2 3]]",
      "make hash! [a 1 b 2 c 3]",
      // An owner of series with a handler: the ownership table must not keep it.
      "make object! [b: [1 2] on-deep-change*: func [o w t a n i p] [] ]",
  };
  for (bool move_all : {false, true}) {
    mem::g_move_every_buffer = move_all;
    for (const char* source : kinds) {
      SCOPED_TRACE(source);
      eval(source);  // the words and caches it makes stay: first use is not measured
      collector::collect();
      u32 before = nodes();
      {
        Rooted v = eval(source);
        EXPECT_GT(nodes(), before);
      }
      collector::collect();
      EXPECT_EQ(nodes(), before) << "dropped, everything it took is free again";

      Rooted kept = eval(source);
      std::string text = test::mold(kept, false, true);
      for (int round = 0; round < 3; round++) {
        churn();
        collector::collect();
        ASSERT_EQ(test::mold(kept, false, true), text) << "round " << round;
      }
    }
  }
}

TEST_F(CollectorTest, CompactionSlidesLiveBuffersDownAndFreesFrames) {
  mem::g_move_every_buffer = false;
  collector::collect();
  u64 used = mem::stats().series_bytes;
  std::vector<Node> dropped;
  RootedNode kept(mem::alloc_bytes(64));
  std::memcpy(mem::series_of(kept)->data(), "kept bytes", 11);
  // Several frames' worth of garbage below and above the kept buffer.
  for (int i = 0; i < 3000; i++) mem::alloc_bytes(2000);
  u32 frames = mem::stats().series_frames;
  EXPECT_GT(frames, 1u);
  collector::collect();
  EXPECT_LT(mem::stats().series_frames, frames);
  EXPECT_LE(mem::stats().series_bytes, used + 64 + mem::kSeriesHeader);
  EXPECT_STREQ(reinterpret_cast<const char*>(mem::series_of(kept)->data()), "kept bytes");
  EXPECT_EQ(mem::series_of(kept)->node, kept.node);
}

TEST_F(CollectorTest, DisabledAllocationDoesNotCollectButRecycleDoes) {
  collector::g_enabled = false;
  u32 count = collector::count();
  for (int i = 0; i < 20000; i++) mem::alloc_bytes(1000);  // 20 MB of garbage
  EXPECT_EQ(collector::count(), count);
  Rooted code = test::load("recycle");
  Rooted in_use = interp::do_block(&code);
  EXPECT_EQ(collector::count(), count + 1);
  EXPECT_TRUE(in_use.is(T_INTEGER));
  EXPECT_LT(u64(in_use.int_value()), 20000000u);

  collector::g_enabled = true;
  // Until the heap's free frames are used up, however many the recycle left.
  for (int i = 0; i < 60000 && collector::count() <= count + 1; i++) mem::alloc_bytes(1000);
  collector::g_enabled = false;
  EXPECT_GT(collector::count(), count + 1);
}

#ifndef ZOT_GC_STRESS
TEST_F(CollectorTest, TheBootStartsNoCollectionAndCountsWhatItMadeAsLive) {
  collector::collect();
  collector::g_enabled = true;
  const u32 count = collector::count();
  collector::begin_boot();
  for (int i = 0; i < 4000; i++) mem::alloc_bytes(1000);  // 4 MB
  EXPECT_EQ(collector::count(), count);
  collector::end_boot();
  // As much again before the first collection: a megabyte more starts none.
  for (int i = 0; i < 1000; i++) mem::alloc_bytes(1000);
  EXPECT_EQ(collector::count(), count);
  for (int i = 0; i < 60000 && collector::count() == count; i++) mem::alloc_bytes(1000);
  EXPECT_GT(collector::count(), count);
  collector::g_enabled = false;
}
#endif

TEST_F(CollectorTest, RecycleSwitchesTheCollector) {
  const struct {
    const char* source;
    bool enabled;
  } cases[] = {{"recycle/off", false}, {"recycle/on", true}, {"recycle/on/off", true}, {"recycle/off/on", true}};
  for (const auto& c : cases) {
    collector::g_enabled = !c.enabled;
    Rooted code = test::load(c.source);
    Rooted r = interp::do_block(&code);
    EXPECT_EQ(collector::g_enabled, c.enabled) << c.source;
    EXPECT_TRUE(r.is(T_UNSET)) << c.source;
  }
  collector::g_enabled = false;
}

// A `self` word alone keeps its object's context and what the context holds.
TEST_F(CollectorTest, SelfWordKeepsItsContext) {
  Rooted self_word;
  {
    Rooted obj = eval("make object! [t: copy \"only through self\"]");
    make_cell(&self_word, T_WORD, obj.w1, words::sym(w::self), u32(-1));
  }
  for (int i = 0; i < 3; i++) {
    churn();
    collector::collect();
  }
  Rooted obj = *context::get(&self_word);
  ASSERT_TRUE(obj.is(T_OBJECT));
  EXPECT_EQ(test::mold(obj), "make object! [\n    t: \"only through self\"\n]");
}

// A series whose owner is reachable only through the ownership table: while
// the series lives the owner lives and still hears; once both are dropped
// the table lets them go.
TEST_F(CollectorTest, OwnershipTableIsWeak) {
  EXPECT_EQ(test::run("heard: copy [] o: make object! [b: copy [1] on-deep-change*: func [o w t a n i p] ["
                      "append heard a]] s: o/b o: none recycle append s 2 recycle append s 3 heard"),
            "[append appended append appended]");
  collector::collect();
  i32 entries = hashtable::record(ownership::g_table)->size;
  u32 before = nodes();
  test::run("s: none");
  collector::collect();
  EXPECT_LT(hashtable::record(ownership::g_table)->size, entries);
  EXPECT_LT(nodes(), before);
}

TEST_F(CollectorTest, StackCellsAndRootedHoldersAreRoots) {
  Rooted held = eval("copy \"rooted\"");
  Cell* slot = stack::push(&held);
  Cell on_stack = *slot;
  held = eval("copy \"second\"");
  churn();
  collector::collect();
  EXPECT_EQ(test::mold(*slot), "\"rooted\"");
  EXPECT_EQ(test::mold(held), "\"second\"");
  EXPECT_EQ(slot->w2, on_stack.w2);
  stack::pop(1);
}

// ---- resource registry

u32 g_released[8];
u32 g_release_count = 0;
void release_owner(u32 owner) {
  if (g_release_count < 8) g_released[g_release_count] = owner;
  g_release_count++;
}

TEST_F(CollectorTest, ResourcesOfDeadValuesAreReleased) {
  resources::init();
  u32 kind = resources::register_kind(symbol::make("test-kind"), release_owner);
  g_release_count = 0;
  i32 kept = resources::add(0xAAAA, kind);
  i32 dropped = resources::add(0xBBBB, kind);
  (void)dropped;
  Rooted handle;
  make_cell(&handle, T_HANDLE, 1, 42, u32(kept));
  collector::collect();
  ASSERT_EQ(g_release_count, 1u);
  EXPECT_EQ(g_released[0], 0xBBBBu);
  EXPECT_EQ(resources::used_count(), 1u);
  // A changed owner releases the old one; removing may release too.
  resources::set_owner(kept, 0xCCCC);
  EXPECT_EQ(g_released[1], 0xAAAAu);
  resources::remove(kept, true);
  EXPECT_EQ(g_released[2], 0xCCCCu);
  EXPECT_EQ(resources::used_count(), 0u);
  resources::init();
}

TEST_F(CollectorTest, RegistrationPastTheTableGrowsIt) {
  resources::init();
  EXPECT_EQ(resources::capacity(), 1000u);
  std::vector<i32> taken;
  for (int i = 0; i < 999; i++) taken.push_back(resources::add(u32(i), 0));
  EXPECT_EQ(resources::capacity(), 1000u);
  taken.push_back(resources::add(999, 0));
  EXPECT_EQ(resources::capacity(), 2000u);
  for (int i = 0; i < 1500; i++) taken.push_back(resources::add(u32(1000 + i), 0));
  std::sort(taken.begin(), taken.end());
  EXPECT_EQ(std::adjacent_find(taken.begin(), taken.end()), taken.end()) << "every record is taken once";
  EXPECT_EQ(resources::used_count(), 2500u);
  // Nothing marks them: a collection frees them all.
  collector::collect();
  EXPECT_EQ(resources::used_count(), 0u);
  resources::init();
}

TEST_F(CollectorTest, TablesPastTheirEndRefuseWithAnError) {
  resources::init();
  for (u32 i = 0; i < resources::kMaxKinds; i++) resources::register_kind(0, nullptr);
  EXPECT_EQ(test::error_code_of([] { resources::register_kind(0, nullptr); }), error_code(Err::InternalLimitHit));
  resources::init();

  static u32 calls = 0;
  static void (*const callbacks[])() = {
#define ZOT_CB(n) [] { calls++; },
#define ZOT_CB10(n) ZOT_CB(n) ZOT_CB(n) ZOT_CB(n) ZOT_CB(n) ZOT_CB(n) ZOT_CB(n) ZOT_CB(n) ZOT_CB(n) ZOT_CB(n) ZOT_CB(n)
      ZOT_CB10(0) ZOT_CB10(1) ZOT_CB10(2) ZOT_CB10(3) ZOT_CB10(4) ZOT_CB10(5) ZOT_CB10(6) ZOT_CB10(7)
          ZOT_CB10(8) ZOT_CB10(9) ZOT_CB10(10)
#undef ZOT_CB10
#undef ZOT_CB
  };
  int added = 0, refused = 0;
  for (auto cb : callbacks) {
    if (test::error_code_of([&] { collector::add_root_callback(cb); }) < 0) added++;
    else refused++;
  }
  EXPECT_GT(added, 0);
  EXPECT_GT(refused, 0);
  calls = 0;
  collector::collect();
  EXPECT_EQ(calls, u32(added));
  for (auto cb : callbacks) collector::remove_root_callback(cb);
  calls = 0;
  collector::collect();
  EXPECT_EQ(calls, 0u);
}

}  // namespace
}  // namespace zot
