// Flo::ResumableWalk: a pipeline's walk over many elements that the scan calling it may cut.
//
// A scan counts one element per pipeline call, but a pipeline may walk many elements for one
// input element (a policy change walks the pairs bound to the policy). When that walk is the
// state machine's own (an index over the elements its foreach would keep), nothing requires
// it to finish in one run: while a scan pass visits the element (StateMachine::scanVisit), the
// walk asks the scan's task after each element whether to yield; if so it keeps the key of the
// next element as its bookmark and tells the scan, which yields at the same input element and
// calls the pipeline again on its next run. The new call finds the bookmark (same visit id) and
// resumes at the first element not below it, as a scan does when its bookmarked key is gone.
//
// Outside a scan visit (a reactor, a synchronous machine) the walk runs to its end in one call:
// a change is handled before the writer's call returns. Between two runs of a cut walk other
// changes may be handled; the walk then continues over the elements as they are, which is what
// the scan would have met had it reached the input element only then.
//
// Usage, in a pipeline:
//   const bool resumed = walk_.resumes(*this);       // false: a new walk
//   if (!resumed) trace(entry);                       // written once per walk, not per run
//   const Key* from = walk_.bookmark();               // null: from the first element
//   for (it = from ? set.lower_bound(*from) : set.begin(); it != end; ) {
//     visit(*it); sm.workDone(1); ++it;
//     if (it != end && walk_.cutBefore(*this, &*it)) return;
//   }
#pragma once

#include <cstdint>
#include <optional>

#include "runtime/StateMachine.h"

namespace Flo {

template <class Key>
class ResumableWalk {
 public:
  // Whether this call continues a walk that the same scan visit cut. Forgets any other walk
  // (the element it was cut at went away, or the call is a new one).
  bool resumes(const StateMachine& sm) {
    const bool resumed = cut_ && visit_ != 0 && visit_ == sm.scanVisit();
    cut_ = false;
    if (resumed) return true;
    bookmark_.reset();
    visit_ = 0;
    return false;
  }
  // Where a resumed walk continues: null to start at its first element.
  const Key* bookmark() const noexcept { return bookmark_ ? &*bookmark_ : nullptr; }
  // Called between two steps of the walk: true when the scan's task asks to yield, and then the
  // walk is cut and must return; it resumes at `next` (at its first element when null, for a
  // walk cut while still preparing its elements).
  bool cutBefore(StateMachine& sm, const Key* next) {
    if (!sm.scanVisitShouldYield()) return false;
    cut_ = true;
    if (next) {
      bookmark_ = *next;
    } else {
      bookmark_.reset();
    }
    visit_ = sm.scanVisit();
    sm.scanVisitCut();
    return true;
  }

 private:
  std::optional<Key> bookmark_;
  uint64_t visit_ = 0;
  bool cut_ = false;
};

}  // namespace Flo
