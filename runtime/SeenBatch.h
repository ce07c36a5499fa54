// Flo::SeenBatch: what the writers of a reconciling output have seen (Flo::SeenRanges), recorded
// a batch at a time, with the output's successors read once for a batch (Flo::SuccessorWindow).
//
// A scan writes the keys of one pair in its own order, which need not be the output's: an
// option's groups, say, for an output keyed by option then group. Inserted one by one, each key
// asks the output for one or two successors, a search from the root of a tree of millions of
// entries. Here the seen keys wait in a small sorted batch and go into the ranges in ascending
// order once their writes are done, so that one read of the output answers the whole batch; and
// the deletion pass, stepping from entry to entry, is answered from the same window.
//
// Contract: the owner calls seen(k) before every write at k while reconciling, and changedAt(k)
// for any other change of the output's key set at k (a deletion by the pass). takeAscending
// records the batch before it answers.
// `read(after, n, out)` is the output's: it appends the first n keys above `after` and returns
// whether they reach the output's end (see Flo::SuccessorWindow).
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <vector>

#include "runtime/SeenRanges.h"
#include "runtime/SuccessorWindow.h"

namespace Flo {

template <class Key>
class SeenBatch {
 public:
  static constexpr size_t kBatch = 16;

  template <class Read>
  void seen(const Key& k, Read&& read) {
    window_.changedAt(k);  // the write that follows may add or remove k
    if (pending_.size() == kBatch) record(read);
    pending_.insert(std::upper_bound(pending_.begin(), pending_.end(), k), k);
  }
  void changedAt(const Key& k) { window_.changedAt(k); }

  // The output's least key above `after`, from the window.
  template <class Read>
  std::optional<Key> successor(const Key& after, Read&& read) {
    return window_.next(after, read);
  }

  // Puts the waiting keys into the ranges, in order: their writes are done.
  template <class Read>
  void record(Read&& read) {
    window_.reread(pending_.size() + 2);
    for (const Key& k : pending_) ranges_.insert(k, [&](const Key& after) { return window_.next(after, read); });
    pending_.clear();
  }

  // Whether an entry at `k` was seen, the waiting keys included.
  bool covers(const Key& k) const {
    return ranges_.covers(k) || std::binary_search(pending_.begin(), pending_.end(), k);
  }
  // SeenRanges::takeAscending, the waiting keys recorded first.
  template <class Read>
  bool takeAscending(const Key& k, Read&& read) {
    if (!pending_.empty()) record(read);
    return ranges_.takeAscending(k);
  }
  // Forgets the waiting keys and the window, then releases one range; false when none is left.
  bool releaseOne() {
    pending_.clear();
    window_.clear();
    return ranges_.releaseOne();
  }

 private:
  SeenRanges<Key> ranges_;
  std::vector<Key> pending_;  // seen, not yet in ranges_: at most kBatch keys, sorted
  SuccessorWindow<Key> window_;
};

}  // namespace Flo
