#include "platform/mica/NodePool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "platform/mica/Assert.h"
#include "platform/mica/Node.h"

namespace {

using Mica::NodePool;

bool alignedTo(const void* p, size_t a) { return reinterpret_cast<uintptr_t>(p) % a == 0; }

TEST(NodePoolTest, SizesShareAClassPerEightBytesAndAlignAsTheirSize) {
  // {size, bytes counted in use, alignment}
  const size_t cases[][3] = {{1, 8, 8},    {8, 8, 8},    {9, 16, 16},   {24, 24, 8},    {40, 40, 8},
                             {41, 48, 16}, {48, 48, 16}, {100, 104, 8}, {255, 256, 16}, {256, 256, 16}};
  NodePool pool;
  for (const auto& c : cases) {
    SCOPED_TRACE(c[0]);
    const size_t before = pool.stats().inUseBytes;
    void* p = pool.allocate(c[0]);
    EXPECT_TRUE(alignedTo(p, c[2]));
    EXPECT_EQ(pool.stats().inUseBytes, before + c[1]);
    pool.checkInvariants();
    pool.deallocate(p, c[0]);
    EXPECT_EQ(pool.stats().inUseBytes, before);
    // Any size of the same class takes the freed block back.
    void* again = pool.allocate(c[1]);
    EXPECT_EQ(again, p);
    pool.deallocate(again, c[1]);
  }
  // Larger sizes bypass the pool.
  pool.deallocate(pool.allocate(NodePool::kMaxPooledBytes + 1), NodePool::kMaxPooledBytes + 1);
  EXPECT_EQ(pool.stats().allocations, 2 * std::size(cases));
  EXPECT_EQ(pool.stats().chunkBytes, NodePool::kChunkBytes);
  pool.checkInvariants();
}

TEST(NodePoolTest, MixedSizesAcrossChunksKeepEveryByteAccountedAndTheCheckFindsADoubleFree) {
  NodePool pool;
  const size_t sizes[] = {40, 48, 72, 96, 136, 200, 256, 24};
  std::vector<std::pair<void*, size_t>> live;
  size_t blockBytes = 0;
  for (size_t i = 0; blockBytes < 3 * NodePool::kChunkBytes; ++i) {
    const size_t size = sizes[i % std::size(sizes)];
    live.emplace_back(pool.allocate(size), size);
    blockBytes += size;
    EXPECT_TRUE(alignedTo(live.back().first, size % 16 == 0 ? 16 : 8));
  }
  EXPECT_GE(pool.stats().chunkBytes, 3 * NodePool::kChunkBytes);
  EXPECT_EQ(pool.stats().inUseBytes, blockBytes);
  pool.checkInvariants();
  for (size_t i = 0; i < live.size(); i += 2) pool.deallocate(live[i].first, live[i].second);
  pool.checkInvariants();
  for (size_t i = 1; i < live.size(); i += 2) pool.deallocate(live[i].first, live[i].second);
  EXPECT_EQ(pool.stats().inUseBytes, 0u);
  pool.checkInvariants();
  Mica::ThrowingAssertions throwing;
  void* p = pool.allocate(64);
  pool.deallocate(p, 64);
  pool.deallocate(p, 64);
  EXPECT_THROW(pool.checkInvariants(), Mica::AssertionError);
}

// Nodes of several sizes, deleted through a pointer to their base.
struct SmallNode : Mica::Node { uint64_t a = 1; };
struct LargerNode : SmallNode { char payload[100] = {}; };
struct HugeNode : Mica::Node { char payload[1000] = {}; };
struct alignas(64) OverAlignedNode : Mica::Node { char payload[8] = {}; };

TEST(NodeAllocationTest, DeleteThroughTheBaseFreesTheSizeOfTheMostDerivedClass) {
  NodePool& pool = Mica::nodePool();
  const NodePool::Stats before = pool.stats();
  {
    Mica::Ptr<Mica::Node> small = Mica::make<SmallNode>();
    Mica::Ptr<Mica::Node> larger = Mica::make<LargerNode>();
    Mica::Ptr<Mica::Node> huge = Mica::make<HugeNode>();
    Mica::Ptr<Mica::Node> aligned = Mica::make<OverAlignedNode>();
    EXPECT_TRUE(alignedTo(aligned.get(), 64));
    if (Mica::kNodePoolEnabled) {
      // The huge and over-aligned nodes come from the global operator new.
      EXPECT_EQ(pool.stats().inUseBytes, before.inUseBytes + sizeof(SmallNode) + sizeof(LargerNode));
      EXPECT_EQ(pool.stats().allocations, before.allocations + 2);
    }
  }
  EXPECT_EQ(pool.stats().inUseBytes, before.inUseBytes);
  pool.checkInvariants();

  if (!Mica::kNodePoolEnabled) GTEST_SKIP() << "nodes bypass the pool under AddressSanitizer";
  SmallNode* first = new LargerNode;
  const auto firstAt = reinterpret_cast<uintptr_t>(first);
  delete first;
  auto* second = new LargerNode;
  EXPECT_EQ(reinterpret_cast<uintptr_t>(second), firstAt);  // the freed block of its class
  delete second;
}

// The class operator new must not hide placement new.
static_assert(requires(void* where) { new (where) SmallNode; });

TEST(NodeAllocationTest, ThreadsShareThePoolUnderThreadControl) {
  Mica::threadControlIs(true);
  NodePool& pool = Mica::nodePool();
  const size_t before = pool.stats().inUseBytes;
  const auto churn = [] {
    std::vector<Mica::Ptr<Mica::Node>> held;
    for (int i = 0; i < 20'000; ++i) {
      held.push_back(i % 3 ? Mica::Ptr<Mica::Node>(new SmallNode) : Mica::Ptr<Mica::Node>(new LargerNode));
      if (held.size() > 64) held.erase(held.begin(), held.begin() + 32);
    }
  };
  std::thread other(churn);
  churn();
  other.join();
  Mica::threadControlIs(false);
  EXPECT_EQ(pool.stats().inUseBytes, before);
  pool.checkInvariants();
}

}  // namespace
