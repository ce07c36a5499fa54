// Flo::SortedUnion: the union of a few ordered sets, walked in ascending order without copying.
//
// A state machine that indexes its elements by some attribute (the pairs bound to each policy)
// finds the elements of several index entries as several ordered sets that may overlap. The
// union visits each key once, in ascending order, starting after a given key, so that a walk cut
// by the budget resumes by key (runtime/ResumableWalk.h) instead of rebuilding a merged copy.
// Cost: O(m log n) to start and per seek, O(m) per step, m the number of sets (a handful).
// REQUIRES: the sets are not changed while a SortedUnion over them exists.
#pragma once

#include <optional>
#include <utility>
#include <vector>

namespace Flo {

template <class Set>
class SortedUnion {
 public:
  using Key = typename Set::key_type;

  // The keys of `sets` above `after` (every key when `after` is null).
  SortedUnion(const std::vector<const Set*>& sets, const Key* after) {
    cursors_.reserve(sets.size());
    for (const Set* set : sets) {
      auto it = after ? set->upper_bound(*after) : set->begin();
      if (it != set->end()) cursors_.push_back(Cursor{it, set->end(), set});
    }
    findCurrent();
  }

  // The smallest key not yet visited, or null at the end.
  const Key* current() const noexcept { return current_ ? &*current_ : nullptr; }
  // Steps to the smallest key not below `k` (k above the current key).
  void seek(const Key& k) {
    for (auto& [it, end, set] : cursors_) {
      if (it != end && *it < k) it = set->lower_bound(k);
    }
    findCurrent();
  }
  // Steps past the current key in every set holding it.
  void advance() {
    for (auto& [it, end, set] : cursors_) {
      if (it != end && *it == *current_) ++it;
    }
    findCurrent();
  }

 private:
  void findCurrent() {
    current_.reset();
    for (const auto& [it, end, set] : cursors_) {
      if (it != end && (!current_ || *it < *current_)) current_ = *it;
    }
  }

  struct Cursor {
    typename Set::const_iterator it;
    typename Set::const_iterator end;
    const Set* set;
  };
  std::vector<Cursor> cursors_;
  std::optional<Key> current_;
};

}  // namespace Flo
