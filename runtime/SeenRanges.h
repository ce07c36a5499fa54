// Flo::SeenRanges: what the writers of an output have seen while it reconciles, as ranges of
// the output's own keys.
//
// The deletion pass asks, for each entry of the output, whether a writer of this start saw it.
// Scans walk their inputs in key order, so the entries they see form long runs of adjacent
// output entries. A range [lo, hi] stands for all of the output's entries from lo to hi: a
// restart that rewrites a million entries in order holds one range, not a million keys.
//
// Contract: while the output reconciles, every key written into it (or deleted from it) is
// inserted here, before or after the write. Then every entry of the output that lies inside a
// range was seen: a range grows over a gap between two keys only when the output holds no key
// inside the gap, and whatever enters the gap afterwards is a write, inserted itself. Keys
// inside a range that the output does not hold say nothing (covers() is about entries).
//
// `next(k)` is the output's successor: its least key above k, or none (std::optional<Key>).
//
// Cost: an insert searches the ranges (usually a handful) and asks the output for one or two
// successors, which are near the key just written; the deletion pass, walking the output in
// ascending order, drops each range once it has passed it.
#pragma once

#include <cstddef>
#include <iterator>
#include <utility>

#include "runtime/PooledTree.h"

namespace Flo {

template <class Key>
class SeenRanges {
 public:
  // Records `k` as seen; `next` is the output's successor function.
  template <class Next>
  void insert(const Key& k, Next&& next) {
    auto after = ranges_.upper_bound(k);  // the first range starting above k
    if (after != ranges_.begin()) {
      const auto before = std::prev(after);
      if (!(before->second < k)) return;  // inside [lo, hi]
      if (gapFree(before->second, k, next)) {
        if (after != ranges_.end() && gapFree(k, after->first, next)) {
          before->second = after->second;
          ranges_.erase(after);
        } else {
          before->second = k;
        }
        return;
      }
    }
    if (after != ranges_.end() && gapFree(k, after->first, next)) {
      Key hi = after->second;
      after = ranges_.erase(after);
      ranges_.emplace_hint(after, k, std::move(hi));
      return;
    }
    ranges_.emplace_hint(after, k, k);
  }

  // Takes the keys strictly between `below` and `above` (below < above, and no range starts
  // there) out of the range that holds `below`: for entries that join the output there without
  // having been seen (a nested output's newly visited container, whose entries were not part of
  // what the range was built over).
  void cut(const Key& below, const Key& above) {
    auto after = ranges_.upper_bound(below);
    if (after == ranges_.begin()) return;
    const auto range = std::prev(after);
    if (range->second < below) return;
    Key hi = std::exchange(range->second, below);
    if (!(hi < above)) ranges_.emplace_hint(after, above, std::move(hi));
  }

  // Whether an entry of the output at `k` was seen.
  bool covers(const Key& k) const {
    auto after = ranges_.upper_bound(k);
    return after != ranges_.begin() && !(std::prev(after)->second < k);
  }

  // covers(k), for a pass that walks the output in ascending order: a range is dropped once the
  // pass reaches its end (or passes it), since the pass will not ask for it again.
  bool takeAscending(const Key& k) {
    while (!ranges_.empty() && ranges_.begin()->second < k) ranges_.erase(ranges_.begin());
    if (ranges_.empty() || k < ranges_.begin()->first) return false;
    if (!(k < ranges_.begin()->second)) ranges_.erase(ranges_.begin());
    return true;
  }

  // Drops one range; false when none is left.
  bool releaseOne() {
    if (ranges_.empty()) return false;
    ranges_.erase(ranges_.begin());
    return true;
  }

  bool empty() const noexcept { return ranges_.empty(); }
  size_t rangeCount() const noexcept { return ranges_.size(); }

 private:
  // Whether the output holds no key strictly between a and b (a < b).
  template <class Next>
  static bool gapFree(const Key& a, const Key& b, Next& next) {
    const auto n = next(a);
    return !n || !(*n < b);
  }

  PooledMap<Key, Key> ranges_;  // lo -> hi, disjoint
};

}  // namespace Flo
