// Flo::SortedUnion: the union of a few ordered sets, walked in ascending order without copying.
//
// A state machine that indexes its elements by some attribute (the pairs bound to each policy)
// finds the elements of several index entries as several ordered sets that may overlap. The
// union visits each key once, in ascending order, starting at a lower bound, so that a walk cut
// by the budget resumes by key (runtime/ResumableWalk.h) instead of rebuilding a merged copy.
// Cost: O(m log n) to start, O(m) per step, m the number of sets (a handful).
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

  // The keys of `sets` not below `from` (every key when `from` is null).
  SortedUnion(const std::vector<const Set*>& sets, const Key* from) {
    cursors_.reserve(sets.size());
    for (const Set* set : sets) {
      auto it = from ? set->lower_bound(*from) : set->begin();
      if (it != set->end()) cursors_.emplace_back(it, set->end());
    }
    findCurrent();
  }

  // The smallest key not yet visited, or null at the end.
  const Key* current() const noexcept { return current_ ? &*current_ : nullptr; }
  // Steps past the current key in every set holding it.
  void advance() {
    for (auto& [it, end] : cursors_) {
      if (it != end && *it == *current_) ++it;
    }
    findCurrent();
  }

 private:
  void findCurrent() {
    current_.reset();
    for (const auto& [it, end] : cursors_) {
      if (it != end && (!current_ || *it < *current_)) current_ = *it;
    }
  }

  std::vector<std::pair<typename Set::const_iterator, typename Set::const_iterator>> cursors_;
  std::optional<Key> current_;
};

}  // namespace Flo
