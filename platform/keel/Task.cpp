#include "platform/keel/Task.h"

#include <array>
#include <bit>
#include <chrono>
#include <utility>

namespace Keel {

uint64_t steadyNanos() noexcept {
  using Clock = std::chrono::steady_clock;
  static const Clock::time_point epoch = Clock::now();
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - epoch).count());
}

// One intrusive FIFO per priority plus a bitmap of the non-empty ones: queueing, removal and
// finding the next task are O(1) and allocate nothing.
struct TaskQueue {
  static constexpr size_t kLevels = size_t{1} << (8 * sizeof(TaskPriority));
  static constexpr size_t kWords = kLevels / 64;

  std::array<Task*, kLevels> head{};
  std::array<Task*, kLevels> tail{};
  std::array<uint64_t, kWords> nonEmpty{};
  size_t size = 0;

  static constexpr uint64_t bit(TaskPriority p) noexcept { return uint64_t{1} << (p % 64); }

  void pushBack(Task* t) noexcept {
    const TaskPriority p = t->priority_;
    t->queuePrev_ = tail[p];
    t->queueNext_ = nullptr;
    if (tail[p] != nullptr) {
      tail[p]->queueNext_ = t;
    } else {
      head[p] = t;
      nonEmpty[p / 64] |= bit(p);
    }
    tail[p] = t;
    t->queued_ = true;
    ++size;
  }

  // `t` must be queued, at its current priority.
  void remove(Task* t) noexcept {
    const TaskPriority p = t->priority_;
    if (t->queuePrev_ != nullptr) {
      t->queuePrev_->queueNext_ = t->queueNext_;
    } else {
      head[p] = t->queueNext_;
    }
    if (t->queueNext_ != nullptr) {
      t->queueNext_->queuePrev_ = t->queuePrev_;
    } else {
      tail[p] = t->queuePrev_;
    }
    if (head[p] == nullptr) nonEmpty[p / 64] &= ~bit(p);
    t->queuePrev_ = nullptr;
    t->queueNext_ = nullptr;
    t->queued_ = false;
    --size;
  }

  // The first task of the highest non-empty priority, or null.
  Task* front() const noexcept {
    for (size_t w = kWords; w-- > 0;) {
      if (nonEmpty[w] != 0) {
        return head[w * 64 + 63 - static_cast<size_t>(std::countl_zero(nonEmpty[w]))];
      }
    }
    return nullptr;
  }
};

// ---- Task ----

Task::Task(const Mica::Ptr<TaskScheduler>& scheduler, TaskPriority priority, std::string name,
           Mica::Subscriber* initialSubscriber)
    : scheduler_(scheduler ? scheduler : TaskSchedulerRoot::findOrCreateScheduler()),
      name_(std::move(name)),
      priority_(priority) {
  if (initialSubscriber == nullptr) return;
  publisher_.subscriberAdd(initialSubscriber);
  try {
    scheduler_->runTask(this);
  } catch (...) {
    // The destructor will not run: leave no dangling pointer in the queue.
    if (queued_) scheduler_->queue_->remove(this);
    throw;
  }
}

Task::~Task() {
  if (queued_) scheduler_->queue_->remove(this);
}

void Task::scheduleTask() {
  if (!queued_) scheduler_->queue_->pushBack(this);
}

bool Task::taskShouldYield() const {
  return running_ && scheduler_->policy_->shouldYield(*this);
}

void Task::taskPriorityIs(TaskPriority p) {
  if (p == priority_) return;
  if (!queued_) {
    priority_ = p;
    return;
  }
  TaskQueue& queue = *scheduler_->queue_;
  queue.remove(this);
  priority_ = p;
  queue.pushBack(this);
}

// ---- TaskScheduler ----

TaskScheduler::TaskScheduler()
    : queue_(std::make_unique<TaskQueue>()), policy_(defaultYieldPolicy()) {}

// Every queued task holds a Ptr to its scheduler, so the queue is empty here.
TaskScheduler::~TaskScheduler() = default;

void TaskScheduler::yieldPolicyIs(std::unique_ptr<YieldPolicy> policy) {
  policy_ = policy ? std::move(policy) : defaultYieldPolicy();
}

bool TaskScheduler::runOne() {
  if (current_ != nullptr) return false;
  Task* task = queue_->front();
  if (task == nullptr) return false;
  queue_->remove(task);
  // A subscriber may release the last outside reference during the run.
  const Mica::Ptr<Task> hold(task);
  runTask(task);
  return true;
}

uint64_t TaskScheduler::runUntilIdle() {
  uint64_t runs = 0;
  while (runOne()) ++runs;
  return runs;
}

bool TaskScheduler::idle() const noexcept { return queue_->size == 0; }

size_t TaskScheduler::queued() const noexcept { return queue_->size; }

void TaskScheduler::runTask(Task* task) {
  // Restores the scheduler and the task when the run ends, also when a subscriber throws.
  struct RunScope {
    TaskScheduler* scheduler;
    Task* task;
    Task* outer;  // the task whose run this one is nested in (a task created during a run)
    ~RunScope() {
      task->running_ = false;
      scheduler->current_ = outer;
    }
  };

  const uint64_t start = steadyNanos();
  {
    RunScope scope{this, task, current_};
    current_ = task;
    task->running_ = true;
    task->workDone_ = 0;
    task->runStartNanos_ = start;
    policy_->runStarted();
    task->publisher_.notify(Task::runAttr, nullptr, nullptr);
  }
  ++runsTotal_;
  if (observer_ != nullptr) {
    observer_->taskRan(*task, start, steadyNanos() - start, task->workDone_);
  }
}

// ---- TaskSchedulerRoot ----

namespace {
Mica::Ptr<TaskScheduler>& rootScheduler() {
  static Mica::Ptr<TaskScheduler> root;
  return root;
}
}  // namespace

Mica::Ptr<TaskScheduler> TaskSchedulerRoot::findOrCreateScheduler() {
  Mica::Ptr<TaskScheduler>& root = rootScheduler();
  if (!root) root = Mica::make<TaskScheduler>();
  return root;
}

void TaskSchedulerRoot::schedulerIs(const Mica::Ptr<TaskScheduler>& scheduler) {
  rootScheduler() = scheduler;
}

}  // namespace Keel
