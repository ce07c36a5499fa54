// Keel: cooperative tasks and their scheduler.
//
// A Task is a named unit of work with a priority. Each time the scheduler runs it, the task
// notifies its subscribers (Mica::Subscriber, attribute Task::runAttr); a subscriber does a
// slice of work, reports it (taskWorkCountInc, taskWorkPendingIs) and, when it has more to do,
// calls scheduleTask() again before returning.
//
// Contract:
//  - A task must be owned through Mica::Ptr: a run holds a reference, so a subscriber may release
//    the last outside reference during the run; the task then dies when the run ends.
//  - Creating a task with an initial subscriber runs that subscriber once at once (inside the
//    constructor), as a real run: taskCurrentlyRunning() is true, taskShouldYield() answers and
//    the run observer is told. This is the one case of a run inside another task's run.
//  - A null scheduler means the root scheduler (TaskSchedulerRoot::findOrCreateScheduler()).
//  - scheduleTask() queues the task once; scheduling a queued task again does nothing. A task
//    that schedules itself during its run is queued for a later run, never run re-entrantly.
//  - The scheduler runs queued tasks by descending priority, FIFO within a priority; it never
//    runs a queued task inside another one's run. Destroying a queued task removes it from the
//    queue. taskPriorityIs() on a queued task moves it to the back of its new priority.
//  - taskShouldYield() asks the scheduler's YieldPolicy; outside a run it is false.
//  - workDone() counts the work reported in the current (or last) run; it is reset when a run
//    starts. workPending() keeps the last report across runs.
//  - Everything runs on the scheduler's thread: no locks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/mica/Node.h"
#include "platform/mica/Publisher.h"

namespace Keel {

using TaskPriority = uint8_t;

class TaskScheduler;
struct TaskQueue;  // the scheduler's run queue (Task.cpp)

// Steady-clock nanoseconds since the epoch of the task layer (its first use in the process).
// Run start times given to TaskRunObserver use this clock.
uint64_t steadyNanos() noexcept;

class Task : public Mica::Node {
 public:
  // The notification attribute of a run.
  static constexpr Mica::AttrId runAttr = 1;

  Task(const Mica::Ptr<TaskScheduler>& scheduler, TaskPriority priority, std::string name,
       Mica::Subscriber* initialSubscriber = nullptr);
  ~Task() override;

  void scheduleTask();
  bool taskShouldYield() const;
  bool taskCurrentlyRunning() const noexcept { return running_; }
  void taskWorkCountInc(uint64_t n) noexcept { workDone_ += n; }
  void taskWorkPendingIs(uint64_t n) noexcept { workPending_ = n; }
  void taskPriorityIs(TaskPriority p);
  const Mica::Ptr<TaskScheduler>& taskScheduler() const noexcept { return scheduler_; }
  const std::string& taskName() const noexcept { return name_; }
  TaskPriority taskPriority() const noexcept { return priority_; }
  bool taskScheduled() const noexcept { return queued_; }
  // Start of the current (or last) run, in steadyNanos().
  uint64_t taskRunStartNanos() const noexcept { return runStartNanos_; }

  uint64_t workDone() const noexcept { return workDone_; }
  uint64_t workPending() const noexcept { return workPending_; }

  Mica::Publisher& publisher() const noexcept { return publisher_; }

 private:
  friend class TaskScheduler;
  friend struct TaskQueue;

  Mica::Ptr<TaskScheduler> scheduler_;
  std::string name_;
  mutable Mica::Publisher publisher_;
  uint64_t workDone_ = 0;     // in the current run
  uint64_t workPending_ = 0;  // as last reported
  uint64_t runStartNanos_ = 0;
  Task* queuePrev_ = nullptr;  // links in the scheduler's FIFO of this priority
  Task* queueNext_ = nullptr;
  TaskPriority priority_;
  bool running_ = false;
  bool queued_ = false;
};

// Decides when a running task should give the scheduler back.
// A policy is asked only while a task runs; the task carries what the answer may depend on
// (workDone(), taskRunStartNanos()).
class YieldPolicy {
 public:
  virtual ~YieldPolicy() = default;
  // Called when any run starts (runs may nest: see Task's constructor).
  virtual void runStarted() {}
  // Whether the task running now, having reported workDone so far in this run, should yield.
  virtual bool shouldYield(const Task& task) = 0;
  // The text form that yieldPolicyFromString() parses back to an equal policy.
  virtual std::string describe() const = 0;
};

// The scheduler's default policy is budgetOrSlice(kDefaultWorkBudget, kDefaultSliceMicros). A
// unit of work is one element visited by a scan or a reconciliation, or one output write. With
// small state a unit costs a microsecond or less, and 1000 units keep a run near a millisecond
// while the cost of a run (queue, clock reads, notification) stays far below a thousandth of its
// work. With a million pairs a unit is a few B-tree lookups that mostly miss the caches: it
// costs 3 to 30 microseconds, and 1000 of them up to 30 ms. The slice bounds such a run in
// time; the budget keeps runs of small state short without reading the clock often.
// A policy with a slice yields at points that depend on the machine: tests and the simulator,
// whose task runs must replay alike everywhere, choose a policy without one.
inline constexpr uint64_t kDefaultWorkBudget = 1000;
inline constexpr uint64_t kDefaultSliceMicros = 2000;

// Never yields: every scan and reconciliation completes in one run.
std::unique_ptr<YieldPolicy> neverYield();
// Yields once a run has reported `budget` units of work.
std::unique_ptr<YieldPolicy> workBudget(uint64_t budget);
// Yields once a run has lasted `micros` microseconds of steady clock.
std::unique_ptr<YieldPolicy> timeSlice(uint64_t micros);
// Yields when either workBudget(budget) or timeSlice(micros) would (the clock read once per 16
// units of work at most). "budget:N+slice:MICROS".
std::unique_ptr<YieldPolicy> budgetOrSlice(uint64_t budget, uint64_t micros);
// budgetOrSlice(kDefaultWorkBudget, kDefaultSliceMicros): what a scheduler starts with.
std::unique_ptr<YieldPolicy> defaultYieldPolicy();
// Yields after every element.
std::unique_ptr<YieldPolicy> alwaysYield();
// Yields with probability `percent`/100 at each question, from a seeded generator: the same seed
// gives the same answers on every platform. Throws std::invalid_argument when percent > 100.
std::unique_ptr<YieldPolicy> seededRandom(uint64_t seed, unsigned percent = 30);
// Parses "never", "always", "budget:N", "slice:MICROS", "budget:N+slice:MICROS",
// "random:SEED[:PERCENT]".
// Throws std::invalid_argument naming the text when it does not parse.
std::unique_ptr<YieldPolicy> yieldPolicyFromString(std::string_view text);

// Told of every task run; the simulator writes Chrome trace events from it.
class TaskRunObserver {
 public:
  virtual ~TaskRunObserver() = default;
  virtual void taskRan(const Task& task, uint64_t startNanos, uint64_t durationNanos,
                       uint64_t workDone) = 0;
};

class TaskScheduler : public Mica::Node {
 public:
  TaskScheduler();
  ~TaskScheduler() override;

  // A null policy restores the default.
  void yieldPolicyIs(std::unique_ptr<YieldPolicy> policy);
  YieldPolicy& yieldPolicy() const noexcept { return *policy_; }
  void runObserverIs(TaskRunObserver* observer) noexcept { observer_ = observer; }

  // Runs the highest-priority queued task once. Returns false when nothing was queued, or when
  // called from inside a run (runs never nest through the queue).
  bool runOne();
  // Runs queued tasks until none is left; returns the number of runs.
  uint64_t runUntilIdle();
  // Whether no task is queued (a task may be running).
  bool idle() const noexcept;
  // Number of queued tasks.
  size_t queued() const noexcept;
  // The task running now (the innermost one when runs nest), or null.
  Task* currentTask() const noexcept { return current_; }
  uint64_t runsTotal() const noexcept { return runsTotal_; }

 private:
  friend class Task;
  void runTask(Task* task);

  std::unique_ptr<TaskQueue> queue_;
  std::unique_ptr<YieldPolicy> policy_;
  TaskRunObserver* observer_ = nullptr;
  Task* current_ = nullptr;
  uint64_t runsTotal_ = 0;
};

class TaskSchedulerRoot {
 public:
  // The process's root scheduler, created on first use.
  static Mica::Ptr<TaskScheduler> findOrCreateScheduler();
  // Replaces the root scheduler (tests and the simulator start each run on a fresh one).
  static void schedulerIs(const Mica::Ptr<TaskScheduler>& scheduler);
};

}  // namespace Keel
