#include "runtime/Output.h"

#include <algorithm>

namespace Flo {

OutputBase::~OutputBase() { dropTask(); }

std::string OutputBase::taskName() const { return sm_.className() + "-" + name_ + "Task"; }

bool OutputBase::ready() const { return sm_.outputState().flag(readyIndex_); }

bool OutputBase::waitsFor(size_t pipeline) const {
  return std::find(waitsFor_.begin(), waitsFor_.end(), pipeline) != waitsFor_.end();
}

void OutputBase::createTask() {
  if (!reconciled()) return;
  const SmControl& control = sm_.kivaControl();
  // The task runs once at once; that run returns at the first step (not yet initialized).
  task_ = Mica::Ptr<Keel::Task>(
      new Keel::Task(control.taskScheduler, control.taskPriority, taskName(), this));
}

void OutputBase::dropTask() {
  if (!task_) return;
  task_->publisher().subscriberRemove(this);
  task_ = nullptr;
}

void OutputBase::onNotification(Mica::AttrId attr, const void*, const void*) {
  if (attr == Keel::Task::runAttr) handleInputReady();
}

void OutputBase::initReconciling() {
  if (!reconciled()) return;
  reconciling_ = nested_ || outputNonEmpty();
  sm_.trace(kLevelProgress, "Reconciling {}: {}", name_, reconciling_);
}

void OutputBase::handleInputReady() {
  if (!sm_.initialized()) return;
  sm_.trace(kLevelProgress, "{} handle{}InputReady", sm_.className(), name_);
  if (ready()) {
    sm_.trace(kLevelProgress, " already ready, not reconciling.");
    return;
  }
  for (size_t p : waitsFor_) {
    if (!sm_.inputSmScanState().flag(p)) return;
  }
  if (!sm_.initialScanDone()) {
    sm_.handleInitialScanDone();
    return;
  }
  // Outputs reconcile in declaration order, containers before their contents: once the outputs
  // declared earlier have deleted their stale entities, every entity kept or revived by a
  // pipeline has been recorded as a container, so this walk meets all of their stale entries.
  if (!sm_.outputsReadyBefore(*this)) return;
  sm_.trace(kLevelProgress, "Input scans for {} complete", name_);
  if (reconciling_ && !reconcile()) return;
  reconciling_ = false;
  sm_.outputReadyIs(*this);
}

// Whether the pass must stop before its next step: the call came from elsewhere than the
// output's own task run, or that run has used its budget. A synchronous state machine, or one
// without a task, never stops.
bool OutputBase::mustYield() const {
  if (sm_.synchronous() || !task_) return false;
  return !task_->taskCurrentlyRunning() || task_->taskShouldYield();
}

void OutputBase::yieldNow(uint64_t processed, uint64_t deleted) {
  sm_.trace(kLevelKey,
            "Yielding in reconciliation processing after processing {} items, including {} deletions .",
            processed, deleted);
  task_->scheduleTask();
}

// The deletion pass of reconciliation, then the release of its state, both cut by the task's
// budget: one unit of work per output entry (or visited container) and per released element.
bool OutputBase::reconcile() {
  uint64_t processed = 0;
  uint64_t deleted = 0;
  if (phase_ == Phase::deleting) {
    bool more = cursorFirst(useBookmark_);
    while (more) {
      if (cursorOnEntry() && !cursorTakeSeen()) {
        cursorDelete();
        ++deleted;
      }
      ++processed;
      sm_.workDone(1);  // as it is done, so the running task's budget sees it
      more = cursorNext();
      if (more && mustYield()) {
        cursorToBookmark();
        useBookmark_ = true;
        yieldNow(processed, deleted);
        return false;
      }
    }
    sm_.trace(kLevelProgress,
              "Deletion scan for reconciliation is done, last task run processed {} items, deleting {} items.",
              processed, deleted);
    useBookmark_ = false;
    phase_ = Phase::releasing;
    processed = 0;
  }
  // Seen keys of entries that a pipeline deleted meanwhile, and the visited containers, are
  // released a budget at a time: freeing a million keys is work like any other.
  while (releaseOne()) {
    ++processed;
    sm_.workDone(1);
    if (mustYield()) {
      yieldNow(processed, 0);
      return false;
    }
  }
  dropTask();
  return true;
}

}  // namespace Flo
