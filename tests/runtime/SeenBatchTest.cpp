// Flo::SeenBatch against the key set it stands for: whatever the order of the writes, the keys
// they add and remove, and when the batch is recorded, every entry of the output is covered
// exactly when it was seen; and a restart that rewrites each pair's keys out of order reads the
// output about once a batch.
#include "runtime/SeenBatch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

namespace {

struct BatchOutput {
  std::set<int> keys;
  int reads = 0;

  auto reader() {
    return [this](int after, size_t n, std::vector<int>& out) {
      ++reads;
      for (auto it = keys.upper_bound(after); it != keys.end() && n > 0; ++it, --n) out.push_back(*it);
      return n > 0;
    };
  }
};

TEST(SeenBatchTest, CoversExactlyTheSeenEntriesWhateverTheWritesAndTheirOrder) {
  for (unsigned seed = 1; seed <= 60; ++seed) {
    std::mt19937 rng(seed);
    BatchOutput out;
    for (int k = 0; k < 300; ++k) {
      if (rng() % 3) out.keys.insert(k);  // what an earlier run left
    }
    Flo::SeenBatch<int> seen;
    std::set<int> reference;
    int cursor = 0;
    for (int write = 0; write < 400; ++write) {
      // Mostly forward by a few keys, sometimes anywhere: a scan's writes and other events.
      cursor = rng() % 8 ? (cursor + static_cast<int>(rng() % 5)) % 320 : static_cast<int>(rng() % 320);
      seen.seen(cursor, out.reader());
      reference.insert(cursor);
      if (rng() % 4) {
        out.keys.insert(cursor);
      } else {
        out.keys.erase(cursor);
      }
      if (write % 37 == 0) {
        for (int k : out.keys) ASSERT_EQ(seen.covers(k), reference.count(k) == 1) << "seed " << seed << " key " << k;
      }
    }
    // The deletion pass: entries in ascending order, the batch recorded on the way.
    for (int k : out.keys) {
      ASSERT_EQ(seen.takeAscending(k, out.reader()), reference.count(k) == 1) << "seed " << seed << " key " << k;
    }
  }
}

TEST(SeenBatchTest, AnOutOfOrderRewriteOfEachPairReadsTheOutputAboutOnceABatch) {
  BatchOutput out;
  constexpr int kPairs = 2000;
  constexpr int kKeysAPair = 8;
  for (int k = 0; k < kPairs * kKeysAPair; ++k) out.keys.insert(k);
  Flo::SeenBatch<int> seen;
  for (int pair = 0; pair < kPairs; ++pair) {
    // Each pair's keys in the scan's order: the odd ones, then the even ones.
    for (int i = 1; i < kKeysAPair; i += 2) seen.seen(pair * kKeysAPair + i, out.reader());
    for (int i = 0; i < kKeysAPair; i += 2) seen.seen(pair * kKeysAPair + i, out.reader());
  }
  EXPECT_LT(out.reads, kPairs * kKeysAPair / 16 + 10);
  const int readsWhileWriting = out.reads;
  for (int k : out.keys) ASSERT_TRUE(seen.takeAscending(k, out.reader())) << k;
  EXPECT_LE(out.reads - readsWhileWriting, 1);  // the last batch
}

}  // namespace
