// Flo::ResumableWalk: a pipeline's walk over many elements that the scan calling it may cut.
//
// A scan counts one element per pipeline call, but a pipeline may walk many elements for one
// input element (a policy change walks the pairs bound to the policy). When that walk is the
// state machine's own (an index over the elements its foreach would keep), nothing requires
// it to finish in one run: while a scan pass visits the element (StateMachine::scanVisit), the
// walk asks the scan's task after each element it acted on whether to yield; if so it keeps
// that element's key as its bookmark and tells the scan, which yields at the same input element
// and calls the pipeline again on its next run. The new call finds the bookmark (same visit id)
// and resumes at the first element above it, whether or not the bookmarked one is still there.
//
// Outside a scan visit (a reactor, a synchronous machine) the walk runs to its end in one call:
// a change is handled before the writer's call returns. Between two runs of a cut walk other
// changes may be handled; the walk then continues over the elements as they are, which is what
// the scan would have met had it reached the input element only then.
//
// The walk is cut only after an element that its pipeline acted on (one that passed the
// foreach's filter), and resumes strictly after that element. So a walk over the whole
// collection and an index walk over the elements the filter keeps ask the scan the same
// questions at the same elements, and are cut at the same points: with per-element traces on or
// off, a state machine's runs interleave with other tasks alike.
//
// Usage, in a pipeline:
//   const bool resumed = walk_.resumes(*this);       // false: a new walk
//   if (!resumed) trace(entry);                       // written once per walk, not per run
//   const Key* after = walk_.after();                 // null: from the first element
//   for (it = after ? set.upper_bound(*after) : set.begin(); it != end; ++it) {
//     if (!visit(*it)) continue;                      // filtered out: no work, no question
//     sm.workDone(1);
//     if (walk_.cutAfter(*this, *it)) return;
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
  // The element a resumed walk continues after: null to start at its first element.
  const Key* after() const noexcept { return bookmark_ ? &*bookmark_ : nullptr; }
  // Called after the walk acted on `done`: true when the scan's task asks to yield, and then
  // the walk is cut and must return; it resumes after `done`.
  bool cutAfter(StateMachine& sm, const Key& done) {
    if (!sm.scanVisitShouldYield()) return false;
    bookmark_ = done;
    cut(sm);
    return true;
  }
  // Called while the walk still prepares its elements (a search of its own, which keeps its
  // own position): true when the scan's task asks to yield; the walk then starts afresh.
  bool cutWhilePreparing(StateMachine& sm) {
    if (!sm.scanVisitShouldYield()) return false;
    bookmark_.reset();
    cut(sm);
    return true;
  }

 private:
  void cut(StateMachine& sm) {
    cut_ = true;
    visit_ = sm.scanVisit();
    sm.scanVisitCut();
  }

  std::optional<Key> bookmark_;
  uint64_t visit_ = 0;
  bool cut_ = false;
};

}  // namespace Flo
