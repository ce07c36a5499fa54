// Flo::SeenRanges against the key set it replaces: for every entry of the output, "covered"
// must equal "inserted this start", whatever the order of the inserts, the entries written in
// between, and the keys deleted after being seen.
#include "runtime/SeenRanges.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <set>
#include <vector>

namespace {

// An output as the ranges see it: its keys, and their successor function.
struct Output {
  std::set<int> keys;
  auto next() const {
    return [this](int k) -> std::optional<int> {
      auto it = keys.upper_bound(k);
      if (it == keys.end()) return std::nullopt;
      return *it;
    };
  }
};

TEST(SeenRangesTest, AnInOrderRewriteIsOneRangeAndAStaleEntryCutsIt) {
  Output out{{10, 20, 30, 40, 50}};
  Flo::SeenRanges<int> seen;
  for (int k : {10, 20, 30, 40, 50}) seen.insert(k, out.next());
  EXPECT_EQ(seen.rangeCount(), 1u);

  Flo::SeenRanges<int> partial;
  for (int k : {10, 20, 40, 50}) partial.insert(k, out.next());  // 30 is stale
  EXPECT_EQ(partial.rangeCount(), 2u);
  EXPECT_TRUE(partial.covers(20));
  EXPECT_FALSE(partial.covers(30));
  EXPECT_TRUE(partial.covers(40));
}

TEST(SeenRangesTest, FillingAGapMergesItsNeighbours) {
  Output out{{10, 20, 30, 40, 50}};
  Flo::SeenRanges<int> seen;
  for (int k : {50, 10, 40, 20}) seen.insert(k, out.next());
  EXPECT_EQ(seen.rangeCount(), 2u);  // [10, 20] and [40, 50]
  EXPECT_FALSE(seen.covers(30));
  seen.insert(30, out.next());
  EXPECT_EQ(seen.rangeCount(), 1u);
  for (int k : out.keys) EXPECT_TRUE(seen.covers(k)) << k;
}

TEST(SeenRangesTest, NewAndDeletedKeysBridgeOnlyGapsWithoutEntries) {
  Output out{{10, 30}};
  Flo::SeenRanges<int> seen;
  seen.insert(10, out.next());
  // 20 is seen before it is written: the gap from 10 to 20 holds no entry.
  seen.insert(20, out.next());
  out.keys.insert(20);
  // 40 is seen, then deleted: nothing of the output lies between 30 and 40 either, but 30 was
  // not seen, so the ranges stay apart around it.
  seen.insert(40, out.next());
  EXPECT_EQ(seen.rangeCount(), 2u);
  EXPECT_TRUE(seen.covers(20));
  EXPECT_FALSE(seen.covers(30));
}

TEST(SeenRangesTest, TheAscendingTakeDropsRangesItHasPassed) {
  Output out{{10, 20, 30, 40, 50}};
  Flo::SeenRanges<int> seen;
  for (int k : {10, 20, 40, 50}) seen.insert(k, out.next());
  EXPECT_TRUE(seen.takeAscending(10));
  EXPECT_TRUE(seen.takeAscending(20));
  EXPECT_EQ(seen.rangeCount(), 1u);  // [10, 20] is behind the walk
  EXPECT_FALSE(seen.takeAscending(30));
  EXPECT_TRUE(seen.takeAscending(40));
  EXPECT_TRUE(seen.takeAscending(50));
  EXPECT_TRUE(seen.empty());  // reaching a range's end drops it: nothing is left to release

  for (int k : {10, 30}) seen.insert(k, out.next());
  EXPECT_TRUE(seen.releaseOne());
  EXPECT_TRUE(seen.releaseOne());
  EXPECT_FALSE(seen.releaseOne());
}

// The reference: a set of the keys inserted. Random outputs, random orders, writes of new keys
// and deletions of seen ones interleaved with the inserts, and a deletion walk cut at random
// points with more inserts in between, as a reconciliation that yields meets them.
TEST(SeenRangesTest, AgreesWithTheSetOfKeysSeenOnEveryEntry) {
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    Output out;
    const int space = 5 + static_cast<int>(rng() % 60);
    for (int k = 0; k < space; ++k) {
      if (rng() % 2) out.keys.insert(k);
    }
    Flo::SeenRanges<int> seen;
    std::set<int> reference;
    auto see = [&](int k) {
      seen.insert(k, out.next());
      reference.insert(k);
      switch (rng() % 4) {
        case 0: out.keys.insert(k); break;  // a write of a new or existing key
        case 1: out.keys.erase(k); break;   // a deletion
        default: break;                     // a rewrite in place
      }
    };
    const int inserts = static_cast<int>(rng() % (2 * space));
    std::vector<int> order;
    for (int i = 0; i < inserts; ++i) order.push_back(static_cast<int>(rng() % space));
    if (rng() % 2) std::sort(order.begin(), order.end());  // a scan's usual order
    for (int k : order) see(k);
    for (int k : out.keys) ASSERT_EQ(seen.covers(k), reference.contains(k)) << "round " << round << " key " << k;

    // The deletion walk, in ascending order, with writers running at its cuts.
    for (int k = 0; k < space; ++k) {
      if (rng() % 5 == 0) {
        const int j = static_cast<int>(rng() % space);
        if (j > k) see(j);  // behind the walk, a write needs no decision of this pass
      }
      if (!out.keys.contains(k)) continue;
      ASSERT_EQ(seen.takeAscending(k), reference.contains(k)) << "round " << round << " walk at " << k;
    }
  }
}

}  // namespace
