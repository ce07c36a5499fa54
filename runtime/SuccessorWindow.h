// Flo::SuccessorWindow: an output's successor function during reconciliation, answered from a
// run of the output's keys read in one search.
//
// Reconciliation asks an output for successors in ascending order: each write of an in-order
// rewrite asks for the key after the previous one (SeenRanges' gap check), and the deletion pass
// steps from entry to entry. Asked of the output's tree each time, that is one search from the
// root per entry, through nodes that miss the caches at a million pairs. The window reads the
// keys after the asked one in one search, and answers the following questions from them while
// they still hold.
//
// Contract: the owner calls changedAt(k) for every key at which the output's key set may have
// changed since it last asked (a write seen, an entry deleted by the pass), before it asks
// again. The window then holds: the output's keys above `from` are `keys` (all of them when
// `toEnd`), except at keys up to `changed`. A question about the successor of `after` is answered
// from the window when after >= from, after >= changed (every change is at or below `after`, so
// every key above it is as read) and the answer lies inside the window; otherwise the window is
// read again from `after`.
//
// The window widens while the questions walk off its end in order (up to kMaxWidth keys a read)
// and narrows when they jump, so an out-of-order writer reads few keys it does not use.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

namespace Flo {

template <class Key>
class SuccessorWindow {
 public:
  static constexpr size_t kMinWidth = 2;
  static constexpr size_t kMaxWidth = 64;

  // The least key of the output above `after`, or none. `read(after, n, out)` appends to `out`
  // the output's first n keys above `after`, in order, and returns whether they reach the
  // output's last key (it may return fewer keys without reaching it, never more).
  template <class Read>
  std::optional<Key> next(const Key& after, Read&& read) {
    if (holdsAnswerFor(after)) {
      while (at_ < keys_.size() && !(after < keys_[at_])) ++at_;
      if (at_ < keys_.size()) return keys_[at_];
      return std::nullopt;  // toEnd_: nothing above `after`
    }
    if (from_) {
      const bool walkedOffTheEnd =
          !toEnd_ && !keys_.empty() && !(after < keys_.back()) && !(changed_ && after < *changed_);
      width_ = walkedOffTheEnd ? std::min(width_ * 2, kMaxWidth) : std::max(width_ / 2, kMinWidth);
    }
    from_ = after;
    changed_.reset();
    keys_.clear();
    toEnd_ = read(after, width_, keys_);
    at_ = 0;
    if (keys_.empty()) return std::nullopt;
    return keys_.front();
  }

  // The output's key set may have changed at `k` (or is about to, before the next question).
  void changedAt(const Key& k) {
    if (!from_ || !(*from_ < k)) return;  // at or below the window's start: outside it
    if (!changed_ || *changed_ < k) changed_ = k;
  }

  // Forgets what was read, as after changes anywhere; the next read takes about `expected` keys.
  void reread(size_t expected) {
    from_.reset();
    changed_.reset();
    width_ = std::clamp(expected, kMinWidth, kMaxWidth);
  }

  void clear() {
    from_.reset();
    changed_.reset();
    keys_ = {};
    toEnd_ = false;
    at_ = 0;
    width_ = kMinWidth;
  }

 private:
  bool holdsAnswerFor(const Key& after) {
    if (!from_ || after < *from_) return false;
    if (changed_ && after < *changed_) return false;
    if (!toEnd_ && (keys_.empty() || !(after < keys_.back()))) return false;
    // Questions usually come in ascending order: go on from the last answer, else from the start.
    if (at_ > 0 && after < keys_[at_ - 1]) at_ = 0;
    return true;
  }

  std::optional<Key> from_;     // the window holds the output's keys above this one
  std::optional<Key> changed_;  // the greatest key changed since the window was read
  std::vector<Key> keys_;
  bool toEnd_ = false;          // keys_ reach the output's last key
  size_t at_ = 0;               // first key of keys_ that may be above the last question
  size_t width_ = kMinWidth;
};

}  // namespace Flo
